// The "PEXA" randomizer plug-in, loaded from the run folder, and the history randomizer it
// shares with the seed-search tool.
#include "Kovra2Randomizer.h"
#include "Platform_Library.h"
#include "Zelvik_ID.h"
#include "Zelvik_Randomizer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kLetters[] = "IZSJLOT"; // PieceKind - 1

struct Loaded {
    void* library =
        Platform_Library_Open(std::string(ZELVIK_GAME_DIR) + "/dlls/randomizer/pexa.so");
    PluginGetIDFn getID =
        reinterpret_cast<PluginGetIDFn>(Platform_Library_Symbol(library, "GetID"));
    CreateRandomizerInterfaceFn create = reinterpret_cast<CreateRandomizerInterfaceFn>(
        Platform_Library_Symbol(library, "CreateRandomizerInterface"));
};

std::string Deal(RandomizerInterface* r, uint32_t seed, int count) {
    r->ops->Init(r, seed);
    std::string letters;
    for (int i = 0; i < count; ++i) {
        const uint32_t kind = r->ops->NextKind(r);
        letters.push_back(kind >= 1 && kind <= 7 ? kLetters[kind - 1] : '?');
    }
    return letters;
}

TEST(RandomizerPexa, IdentifiesAsThePexaRandomizer) {
    Loaded p;
    ASSERT_NE(p.getID, nullptr);
    ZelvikID id;
    std::memset(&id, 0xAB, sizeof id);
    id.size = 100;
    EXPECT_EQ(p.getID(&id), 0u); // wrong size: untouched
    EXPECT_EQ(id.kind, static_cast<int32_t>(0xABABABAB));

    std::memset(&id, 0, sizeof id);
    id.size = sizeof id;
    EXPECT_EQ(p.getID(&id), 1u);
    EXPECT_EQ(id.kind, PluginKind_Randomizer);
    char16_t name[32];
    std::memcpy(name, reinterpret_cast<char*>(&id) + offsetof(ZelvikID, name), sizeof name);
    EXPECT_EQ(std::u16string(name), u"PEXA");
}

TEST(RandomizerPexa, DealsTheKnownSequenceOfASeed) {
    // Sequences worked out independently from the generator's definition.
    Loaded p;
    ASSERT_NE(p.create, nullptr);
    RandomizerInterface* r = p.create(nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Deal(r, 1, 30), "LOIJTZLIOJZSITJZLOSTJZLSOTILSO");
    EXPECT_EQ(Deal(r, 12345, 30), "JILSJTOLZIJSTLOJIZSTOIZSLJOTZI");
    EXPECT_EQ(Deal(r, 0xFFFFFFFFu, 30), "TISJZLTOJSLIOZTJSLIOTZSJOTIZLS");
    // Init restarts: the same seed again gives the same pieces.
    EXPECT_EQ(Deal(r, 1, 30), "LOIJTZLIOJZSITJZLOSTJZLSOTILSO");
    r->ops->Free(r);
}

TEST(RandomizerPexa, TwoObjectsWithOneSeedAgree) {
    Loaded p;
    RandomizerInterface* a = p.create(nullptr);
    RandomizerInterface* b = p.create(nullptr);
    ASSERT_TRUE(a && b);
    a->ops->Init(a, 777);
    b->ops->Init(b, 777);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(a->ops->NextKind(a), b->ops->NextKind(b)) << i;
    a->ops->Free(a);
    b->ops->Free(b);
}

TEST(RandomizerPexa, FirstPieceIsNeverZSOrO) {
    Loaded p;
    RandomizerInterface* r = p.create(nullptr);
    std::array<int, 8> firsts{};
    for (uint32_t seed = 0; seed < 20000; ++seed) {
        r->ops->Init(r, seed * 2654435761u);
        const uint32_t kind = r->ops->NextKind(r);
        ASSERT_TRUE(kind == 1 || kind == 4 || kind == 5 || kind == 7) << seed << " " << kind;
        ++firsts[kind];
    }
    for (int kind : {1, 4, 5, 7}) EXPECT_GT(firsts[kind], 3000) << kind;
    r->ops->Free(r);
}

TEST(RandomizerPexa, MatchesTheSeedSearchAlgorithm) {
    // The plug-in's pieces are exactly what the shared algorithm prints for the seed.
    Loaded p;
    RandomizerInterface* r = p.create(nullptr);
    for (uint32_t seed : {1u, 2u, 99u, 0x80000000u}) {
        Kovra2History h{};
        Kovra2_Init(h, seed);
        r->ops->Init(r, seed);
        ASSERT_EQ(r->ops->NextKind(r), h.History[0] + 1u);
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(r->ops->NextKind(r), Kovra2_NextPiece(h) + 1u);
    }
    r->ops->Free(r);
}

TEST(Kovra2Randomizer, HistoryRuleOverManyPieces) {
    // A piece that repeats one of the four before it is only dealt when five tries failed;
    // the generator makes that rare, while every kind stays equally likely.
    Kovra2History h{};
    Kovra2_Init(h, 2024);
    ASSERT_EQ(h.History[1], Kovra2_Z);
    ASSERT_EQ(h.History[2], Kovra2_S);
    ASSERT_EQ(h.History[3], Kovra2_S);
    std::array<int, 7> counts{};
    counts[h.History[0]]++;
    int repeats = 0;
    for (int i = 1; i < 100000; ++i) {
        const Kovra2History before = h;
        const uint8_t piece = Kovra2_NextPiece(h);
        ASSERT_LT(piece, 7);
        ASSERT_EQ(h.History[0], piece);
        ASSERT_EQ(h.History[1], before.History[0]);
        ASSERT_EQ(h.History[2], before.History[1]);
        ASSERT_EQ(h.History[3], before.History[2]);
        if (Kovra2_InHistory(before, piece)) {
            ++repeats;
            // Replaying the rolls: all five tries must have hit the history.
            Kovra2History replay = before;
            for (int attempt = 0; attempt < 5; ++attempt) {
                ASSERT_TRUE(Kovra2_InHistory(before, Kovra2_RollPiece(replay))) << i;
                const uint8_t second = Kovra2_RollPiece(replay);
                if (attempt == 4) {
                    ASSERT_EQ(second, piece);
                }
            }
        }
        ++counts[piece];
    }
    // Figures of an independent model of the generator for this seed.
    EXPECT_EQ(counts, (std::array<int, 7>{14256, 14324, 14265, 14324, 14277, 14278, 14276}));
    EXPECT_EQ(repeats, 3324);
}

} // namespace
