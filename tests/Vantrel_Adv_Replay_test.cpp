// Replay files on disk: known bytes, round trips, and damaged files.
#include "DoublyLinkedList.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Vantrel_Adv_Replay.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Player.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

ZelvikID Identity(int32_t kind, const std::u16string& name, uint64_t version, int32_t build) {
    ZelvikID id;
    std::memset(&id, 0, sizeof id);
    id.size = sizeof id;
    id.kind = kind;
    std::memcpy(reinterpret_cast<char*>(&id) + offsetof(ZelvikID, name), name.data(),
                name.size() * 2);
    const std::u16string author = u"Tester";
    std::memcpy(reinterpret_cast<char*>(&id) + offsetof(ZelvikID, author), author.data(),
                author.size() * 2);
    id.version = version;
    id.build = build;
    return id;
}

struct Bytes {
    std::vector<uint8_t> b;
    Bytes& U16(uint16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
        return *this;
    }
    Bytes& U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    Bytes& Id(const ZelvikID& id) {
        const auto* p = reinterpret_cast<const uint8_t*>(&id); // x86-64: the record's bytes
        b.insert(b.end(), p, p + sizeof id);
        return *this;
    }
    Bytes& Key(const std::u16string& key) {
        for (size_t i = 0; i < 256; ++i) U16(i < key.size() ? key[i] : 0);
        return *this;
    }
};

// The parts of a player a replay reads and writes, on a zero-filled record.
struct PlayerRecord {
    PlayerRecord() {
        std::memset(&p, 0, sizeof p);
        p.ValueList = DoublyLinkedList_Create(sizeof(KeyValueEntry));
        p.ModeList = DoublyLinkedList_Create(sizeof(ModeEntry));
    }
    ~PlayerRecord() {
        for (auto* e = static_cast<KeyValueEntry*>(p.ValueList->ops->FirstElement(p.ValueList)); e;
             e = static_cast<KeyValueEntry*>(p.ValueList->ops->NextElement(p.ValueList)))
            if (!(e->flags & kValueCallerMemory)) std::free(e->data);
        p.ValueList->ops->FreeList(p.ValueList);
        p.ModeList->ops->FreeList(p.ModeList);
    }
    KeyValueEntry* Value(int index) {
        return static_cast<KeyValueEntry*>(p.ValueList->ops->SelectElement(p.ValueList, index));
    }
    void AddValue(const std::u16string& key, uint32_t type, std::vector<uint8_t> data) {
        auto* e = static_cast<KeyValueEntry*>(p.ValueList->ops->AddElement(p.ValueList));
        std::memcpy(e->key, key.data(), key.size() * 2);
        e->type = type;
        e->size = uint32_t(data.size());
        e->data = std::malloc(data.size());
        if (!data.empty()) std::memcpy(e->data, data.data(), data.size());
    }
    Player p;
};

class ReplayFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("zelvik_replay_" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
        replay = Replay_Create();
        ASSERT_NE(replay, nullptr);
    }
    void TearDown() override {
        replay->ops->Free(replay);
        fs::remove_all(folder);
    }
    const char16_t* Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return Path(name);
    }
    const char16_t* Path(const std::string& name) {
        return names.emplace_back(Platform_Path_FromUtf8((folder / name).string())).c_str();
    }
    std::vector<uint8_t> Read(const std::string& name) {
        std::ifstream in(folder / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    ReplayRecord* Record() { return reinterpret_cast<ReplayRecord*>(replay); }

    // A well-formed file: two modes, one value entry, three input words.
    static Bytes Sample() {
        Bytes f;
        f.U32(0x5452504C).U32(1).U32(0xDEADBEEF);
        f.Id(Identity(1, u"Dalmor WEXO", 0x0000000100000000ull, 11));
        f.Id(Identity(4, u"PEXA", 0x0000000100000000ull, 12));
        f.U32(2).Id(Identity(2, u"PEXA Master", 0x0001000000000000ull, 13));
        f.Id(Identity(3, u"Ext", 0x0001000000000000ull, 14));
        f.U32(3600).U32(60).U32(1).Key(u"level").U32(0).U32(4).U32(42);
        f.U32(0x534D504C).U32(3).U16(0x0001).U16(0x8000).U16(0x7FFF);
        return f;
    }

    fs::path folder;
    std::deque<std::u16string> names; // file names handed to the replay, kept alive
    Replay* replay = nullptr;
};

TEST_F(ReplayFile, KnownBytesLoadToTheirFields) {
    PlayerRecord player;
    player.AddValue(u"old", 0, {1, 2, 3, 4});
    ASSERT_EQ(replay->ops->Load(replay, &player.p, Write("a.er", Sample().b), 0), 1);
    EXPECT_EQ(Record()->seed, 0xDEADBEEFu);
    EXPECT_EQ(Record()->loadedParts, 15u);
    EXPECT_EQ(std::u16string(replay->ops->GetRotationSystemName(replay)), u"Dalmor WEXO");
    EXPECT_EQ(std::u16string(replay->ops->GetRandomizerName(replay)), u"PEXA");
    EXPECT_EQ(std::u16string(replay->ops->GetModeName(replay)), u"PEXA Master");
    EXPECT_EQ(Record()->rotationSystem.build, 11);
    EXPECT_EQ(Record()->randomizer.build, 12);
    ASSERT_EQ(Record()->modes->Count, 2);
    EXPECT_EQ(
        static_cast<ZelvikID*>(Record()->modes->ops->SelectElement(Record()->modes, 1))->build, 14);
    EXPECT_EQ(player.p.GameTime, 3600);
    EXPECT_EQ(player.p.Settings.FramesPerSecond, 60.0);
    // The store was emptied, then filled from the file with memory of its own.
    ASSERT_EQ(player.p.ValueList->Count, 1);
    KeyValueEntry* level = player.Value(0);
    EXPECT_EQ(std::u16string(level->key), u"level");
    EXPECT_EQ(level->type, 0u);
    EXPECT_EQ(level->size, 4u);
    EXPECT_EQ(level->flags, 0u);
    EXPECT_EQ(*static_cast<uint32_t*>(level->data), 42u);
    // Input words are signed 16-bit, widened.
    ASSERT_EQ(replay->ops->CountFrames(replay), 3);
    EXPECT_EQ(replay->ops->GetInput(replay, 0), 1u);
    EXPECT_EQ(replay->ops->GetInput(replay, 1), 0xFFFF8000u);
    EXPECT_EQ(replay->ops->GetInput(replay, 2), 0x7FFFu);
    EXPECT_EQ(replay->ops->GetInput(replay, 3), 0u);
    EXPECT_EQ(replay->ops->GetInput(replay, 0xFFFFFFFFu), 0u);
}

TEST_F(ReplayFile, SaveWritesTheDocumentedBytes) {
    const char16_t* path = Write("a.er", Sample().b);
    PlayerRecord player;
    ASSERT_EQ(replay->ops->Load(replay, &player.p, path, 0), 1);
    ASSERT_EQ(replay->ops->Save(replay, Path("b.er")), 1);
    EXPECT_EQ(Read("b.er"), Sample().b);
}

TEST_F(ReplayFile, RecordSaveLoadRoundTrip) {
    PlayerRecord player;
    player.p.Seed = 0x12345678;
    player.p.RotationSystemID = Identity(1, u"Dalmor WEXO", 0x0000000100000000ull, 1);
    player.p.RandomizerID = Identity(4, u"PEXA", 0x0000000100000000ull, 2);
    for (int i = 0; i < 3; ++i) {
        auto* entry =
            static_cast<ModeEntry*>(player.p.ModeList->ops->AddElement(player.p.ModeList));
        entry->id = Identity(2, u"Mode" + std::u16string(1, char16_t(u'A' + i)), 1, i);
    }
    player.p.GameTime = 777;
    player.p.Settings.FramesPerSecond = 59.6;
    player.AddValue(u"score", 0, {9, 0, 0, 0});
    player.AddValue(u"grade_name", 5, {'S', 0, '9', 0, 0, 0});
    player.AddValue(u"empty", 0, {});

    replay->ops->StartRecording(replay, &player.p);
    EXPECT_EQ(replay->ops->GetModeName(replay), nullptr); // only the seed bit is set
    std::vector<uint32_t> inputs;
    for (uint32_t i = 0; i < 5000; ++i) inputs.push_back((i * 2654435761u) & 0xFFFF);
    for (uint32_t v : inputs) ASSERT_EQ(replay->ops->AddInput(replay, v), 1);
    ASSERT_EQ(replay->ops->Save(replay, Path("r.er")), 1);
    // A name in another encoding than UTF-8 (Latin-1 here) is written and read under its bytes.
    const char* latin1 = "caf\xE9.er";
    ASSERT_EQ(replay->ops->Save(replay, Path(latin1)), 1);
    EXPECT_TRUE(fs::is_regular_file(folder / latin1));

    for (uint32_t flags : {0u, 1u, 2u}) {
        Replay* loaded = Replay_Create();
        PlayerRecord other;
        ASSERT_EQ(
            loaded->ops->Load(loaded, &other.p, Path(flags == 2 ? latin1 : "r.er"), flags & 1), 1);
        auto* rec = reinterpret_cast<ReplayRecord*>(loaded);
        if (flags == 1) {
            EXPECT_EQ(loaded->ops->CountFrames(loaded), 0); // still in the open file
            EXPECT_NE(rec->openFile, nullptr);
            loaded->ops->ApplyToPlayer(loaded, nullptr);
            EXPECT_EQ(rec->openFile, nullptr);
        }
        EXPECT_EQ(rec->seed, 0x12345678u);
        EXPECT_EQ(std::memcmp(&rec->rotationSystem, &player.p.RotationSystemID, sizeof(ZelvikID)),
                  0);
        EXPECT_EQ(std::memcmp(&rec->randomizer, &player.p.RandomizerID, sizeof(ZelvikID)), 0);
        ASSERT_EQ(rec->modes->Count, 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(static_cast<ZelvikID*>(rec->modes->ops->SelectElement(rec->modes, i))->build,
                      i);
        EXPECT_EQ(other.p.GameTime, 777);
        EXPECT_EQ(other.p.Settings.FramesPerSecond, 60.0); // as a whole number
        ASSERT_EQ(other.p.ValueList->Count, 3);
        EXPECT_EQ(std::u16string(other.Value(1)->key), u"grade_name");
        EXPECT_EQ(other.Value(1)->type, 5u);
        ASSERT_EQ(other.Value(1)->size, 6u);
        EXPECT_EQ(std::memcmp(other.Value(1)->data,
                              "S\0"
                              "9\0\0\0",
                              6),
                  0);
        EXPECT_EQ(other.Value(2)->size, 0u);
        ASSERT_EQ(loaded->ops->CountFrames(loaded), 5000);
        for (uint32_t i = 0; i < inputs.size(); ++i) {
            const uint32_t expected = inputs[i] >= 0x8000 ? inputs[i] | 0xFFFF0000u : inputs[i];
            ASSERT_EQ(loaded->ops->GetInput(loaded, i), expected) << i;
        }
        loaded->ops->Free(loaded);
    }
}

TEST_F(ReplayFile, ReplayWithoutInputsEndsAfterTheValues) {
    PlayerRecord player;
    ASSERT_EQ(replay->ops->Save(replay, Path("n.er")), 1); // never recorded, no player
    EXPECT_EQ(Read("n.er").size(), 312u + 12u);            // no modes, zeros, no input section
    EXPECT_EQ(replay->ops->AddInput(replay, 5), 0);

    ASSERT_EQ(replay->ops->Load(replay, &player.p, Path("n.er"), 0), 1);
    EXPECT_EQ(replay->ops->CountFrames(replay), 0);
    EXPECT_EQ(replay->ops->GetInput(replay, 0), 0u);
    EXPECT_EQ(replay->ops->GetModeName(replay), nullptr); // no first mode
    EXPECT_NE(replay->ops->GetRandomizerName(replay), nullptr);
}

TEST_F(ReplayFile, RejectsWrongMagicVersionAndMissingFiles) {
    PlayerRecord player;
    player.p.GameTime = 5;
    Bytes v2 = Sample();
    v2.b[4] = 2;
    EXPECT_EQ(replay->ops->Load(replay, &player.p, Write("v2.er", v2.b), 0), 0);
    Bytes magic = Sample();
    magic.b[0] ^= 1;
    EXPECT_EQ(replay->ops->Load(replay, &player.p, Write("m.er", magic.b), 0), 0);
    EXPECT_EQ(replay->ops->Load(replay, &player.p, Path("missing.er"), 0), 0);
    EXPECT_EQ(replay->ops->Load(replay, &player.p, nullptr, 0), 0);
    EXPECT_EQ(player.p.GameTime, 5);
    EXPECT_EQ(Record()->loadedParts, 0u);
    EXPECT_EQ(replay->ops->GetRotationSystemName(replay), nullptr);
    EXPECT_EQ(replay->ops->CountFrames(replay), 0);
}

TEST_F(ReplayFile, TruncatedFilesAreRejectedOrReadAsFarAsTheyGo) {
    const std::vector<uint8_t> full = Sample().b;
    const size_t inputSection = full.size() - 8 - 6;
    for (size_t length = 0; length < full.size(); ++length) {
        PlayerRecord player;
        player.p.GameTime = -1;
        const std::vector<uint8_t> cut(full.begin(), full.begin() + std::ptrdiff_t(length));
        const int32_t result = replay->ops->Load(replay, &player.p, Write("t.er", cut), 0);
        if (length < inputSection) {
            ASSERT_EQ(result, 0) << length;
            EXPECT_EQ(player.p.GameTime, -1) << length; // nothing taken from a damaged file
            EXPECT_EQ(Record()->loadedParts, 0u);
        } else {
            ASSERT_EQ(result, 1) << length;
            const int words = length >= inputSection + 8 ? int(length - inputSection - 8) / 2 : 0;
            EXPECT_EQ(replay->ops->CountFrames(replay), words) << length;
        }
    }
}

TEST_F(ReplayFile, OversizedCountsNeverReadPastTheFile) {
    PlayerRecord player;
    Bytes modes;
    modes.U32(0x5452504C).U32(1).U32(1).Id(ZelvikID{}).Id(ZelvikID{}).U32(0xFFFFFFFF);
    EXPECT_EQ(replay->ops->Load(replay, &player.p, Write("m.er", modes.b), 0), 0);

    Bytes values;
    values.U32(0x5452504C).U32(1).U32(1).Id(ZelvikID{}).Id(ZelvikID{}).U32(0);
    values.U32(0).U32(60).U32(0x40000000).Key(u"a").U32(0).U32(4).U32(1);
    EXPECT_EQ(replay->ops->Load(replay, &player.p, Write("v.er", values.b), 0), 0);

    Bytes size;
    size.U32(0x5452504C).U32(1).U32(1).Id(ZelvikID{}).Id(ZelvikID{}).U32(0);
    size.U32(0).U32(60).U32(1).Key(u"a").U32(0).U32(0xFFFFFFF0).U32(1);
    EXPECT_EQ(replay->ops->Load(replay, &player.p, Write("s.er", size.b), 0), 0);
    EXPECT_EQ(player.p.ValueList->Count, 0);

    // An input count beyond the file: the words that are there.
    Bytes inputs;
    inputs.U32(0x5452504C).U32(1).U32(1).Id(ZelvikID{}).Id(ZelvikID{}).U32(0);
    inputs.U32(0).U32(60).U32(0).U32(0x534D504C).U32(0xFFFFFFFF).U16(7).U16(8);
    inputs.b.push_back(9); // half a word
    ASSERT_EQ(replay->ops->Load(replay, &player.p, Write("i.er", inputs.b), 0), 1);
    EXPECT_EQ(replay->ops->CountFrames(replay), 2);
    EXPECT_EQ(replay->ops->GetInput(replay, 1), 8u);

    // A wrong input magic: rules but no inputs, still loaded.
    inputs.b[inputs.b.size() - 13] ^= 0xFF;
    ASSERT_EQ(replay->ops->Load(replay, &player.p, Write("j.er", inputs.b), 0), 1);
    EXPECT_EQ(replay->ops->CountFrames(replay), 0);
}

TEST_F(ReplayFile, RandomDamageIsRejectedOrReadSafely) {
    // Counts and sizes overwritten with random bytes: every load either fails or stays within
    // the file (the sanitizers watch the reads and allocations).
    const std::vector<uint8_t> clean = Sample().b;
    uint32_t state = 12345;
    auto next = [&] { return state = state * 1103515245u + 12345u; };
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes = clean;
        for (int k = 0; k < 4; ++k) bytes[8 + next() % (bytes.size() - 8)] = uint8_t(next() >> 16);
        PlayerRecord player;
        if (replay->ops->Load(replay, &player.p, Write("d.er", bytes), round & 1) == 1) {
            replay->ops->ApplyToPlayer(replay, nullptr);
            EXPECT_LE(replay->ops->CountFrames(replay), 3);
            EXPECT_LE(player.p.ValueList->Count, 1);
        }
    }
}

TEST_F(ReplayFile, TextsReadFromAFileEndInsideTheirFields) {
    PlayerRecord player;
    Bytes f;
    std::vector<uint8_t> id(148, 'A'); // every unit 0x4141, no terminator anywhere
    f.U32(0x5452504C).U32(1).U32(1);
    f.b.insert(f.b.end(), id.begin(), id.end());
    f.b.insert(f.b.end(), id.begin(), id.end());
    f.U32(1);
    f.b.insert(f.b.end(), id.begin(), id.end());
    f.U32(0).U32(60).U32(1);
    for (int i = 0; i < 256; ++i) f.U16(u'k');
    f.U32(0).U32(0);
    ASSERT_EQ(replay->ops->Load(replay, &player.p, Write("x.er", f.b), 0), 1);
    EXPECT_EQ(std::u16string(replay->ops->GetRotationSystemName(replay)).size(), 31u);
    EXPECT_EQ(std::u16string(replay->ops->GetModeName(replay)).size(), 31u);
    EXPECT_EQ(std::u16string(player.Value(0)->key).size(), 255u);
}

TEST_F(ReplayFile, SaveReportsFailedWrites) {
    replay->ops->StartRecording(replay, nullptr);
    EXPECT_EQ(replay->ops->Save(replay, Platform_Path_FromUtf8(folder.string()).c_str()),
              0); // a folder
    EXPECT_EQ(replay->ops->Save(replay, Path("no/such/folder/x.er")), 0);
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(replay->ops->Save(replay, u"/dev/full"), 0); // the write fails at close
    }
    EXPECT_EQ(replay->ops->Save(replay, nullptr), 0);
}

// Whole games on real players with the real plug-ins: record, save, load, play back.
class ReplayGame : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Plugin_Init();
        for (const char* sub : {"/dlls/rotationsystem/", "/dlls/randomizer/"})
            Plugin_ScanFolder(Platform_Path_FromUtf8(std::string(ZELVIK_GAME_DIR) + sub));
        fs::path modes =
            fs::temp_directory_path() / ("zelvik_replay_modes_" + std::to_string(getpid()));
        fs::create_directories(modes);
        fs::copy_file(fs::path(ZELVIK_TEST_BIN) / "testplugins" / "a_mode.so", modes / "a_mode.so",
                      fs::copy_options::overwrite_existing);
        Plugin_ScanFolder(Platform_Path_FromUtf8(modes.string()));
        fs::remove_all(modes);
        game = Game_Create(nullptr);
    }
    static void TearDownTestSuite() {
        game->players->ops->FreeList(game->players);
        std::free(game);
    }
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("zelvik_replaygame_" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
        previous = fs::current_path();
        fs::current_path(folder);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(folder);
    }
    static Player* NewPlayer() {
        Player* p = Player_Create(nullptr, 1);
        EXPECT_NE(p, nullptr);
        Game_AttachPlayer(game, p);
        p->Settings.ShiftDelay = 3;
        p->Settings.LockDelay = 2;
        p->Settings.LineClearDelay = 10;
        p->Settings.Gravity = 32;
        p->Settings.SoftDropSpeed = 512;
        p->Settings.FramesPerSecond = 60.0;
        return p;
    }
    static void Rules(Player* p) {
        ASSERT_EQ(Player_SetRotationSystem(
                      p, Plugin_FindByName(PluginKind_RotationSystem, u"Dalmor WEXO")),
                  1);
        ASSERT_EQ(Player_SetRandomizer(p, Plugin_FindByName(PluginKind_Randomizer, u"PEXA")), 1);
    }
    static void Step(Player* p, uint32_t input) {
        p->FrameTarget = p->FrameCounter + 1;
        Player_Update(p, input, -1);
    }

    static Game* game;
    fs::path folder, previous;
};
Game* ReplayGame::game = nullptr;

TEST_F(ReplayGame, RecordedGamePlaysBackFrameByFrameWithBothLoadModes) {
    Player* rec = NewPlayer();
    Rules(rec);
    ASSERT_EQ(Player_AddMode(rec, Plugin_GetInfo(PluginKind_Mode, 0)), 1);
    rec->Seed = 0xC0FFEE;
    rec->PlayerFlags |= Flag_RecordReplay;
    ASSERT_EQ(Player_Start(rec), 1);
    rec->PlayerFlags |= Flag_Paused;
    rec->FrameTarget = rec->FrameCounter;
    const uint32_t script[] = {0,
                               Input_Left,
                               Input_Left | Input_RotCCW,
                               0,
                               Input_HardDrop,
                               Input_Right,
                               0,
                               Input_RotCW,
                               Input_SoftDrop,
                               Input_HardDrop};
    std::vector<uint32_t> checksums;
    for (int i = 0; i < 600 && rec->State != State_GameOver; ++i) {
        Step(rec, script[(i / 5) % 10]);
        checksums.push_back(Player_GetFieldChecksum(rec));
    }
    ASSERT_GT(rec->PiecesLocked, 8);
    ASSERT_EQ(rec->Replay->ops->Save(rec->Replay, u"game.er"), 1);
    Player_Free(rec);

    for (uint32_t flags : {0u, 1u}) {
        Player* play = NewPlayer();
        // Rules of its own, which the replay replaces (its modes are detached first).
        Rules(play);
        ASSERT_EQ(Player_AddMode(play, Plugin_GetInfo(PluginKind_Mode, 0)), 1);
        ModeInterface* own =
            static_cast<ModeEntry*>(play->ModeList->ops->FirstElement(play->ModeList))->mode;
        ASSERT_EQ(own->states->Count, 1);
        ASSERT_EQ(play->Replay->ops->Load(play->Replay, play, u"game.er", flags), 1);
        play->PlayerFlags |= Flag_PlayReplay;
        ASSERT_EQ(Player_Start(play), 1);
        EXPECT_EQ(play->Seed, 0xC0FFEEu);
        ASSERT_EQ(play->ModeList->Count, 1);
        EXPECT_NE(static_cast<ModeEntry*>(play->ModeList->ops->FirstElement(play->ModeList))->mode,
                  nullptr);
        EXPECT_EQ(play->Replay->ops->CountFrames(play->Replay), int32_t(checksums.size()));
        play->PlayerFlags |= Flag_Paused;
        play->FrameTarget = play->FrameCounter;
        for (size_t i = 0; i < checksums.size(); ++i) {
            Step(play, 0xFFFF); // ignored: the replay drives the player
            ASSERT_EQ(Player_GetFieldChecksum(play), checksums[i])
                << "flags " << flags << " frame " << i;
        }
        Player_Free(play);
    }
}

TEST_F(ReplayGame, TheEndOfARecordedGameWritesLastReplay) {
    Player* p = NewPlayer();
    Rules(p);
    p->PlayerFlags |= Flag_RecordReplay;
    ASSERT_EQ(Player_Start(p), 1);
    p->PlayerFlags |= Flag_Paused;
    for (int i = 0; i < 30; ++i) Step(p, Input_Left);
    Player_GameOver(p, 1);
    ASSERT_TRUE(fs::exists(folder / "LastReplay.er"));

    Replay* loaded = Replay_Create();
    Player* other = NewPlayer();
    ASSERT_EQ(loaded->ops->Load(loaded, other, u"LastReplay.er", 0), 1);
    EXPECT_EQ(loaded->ops->CountFrames(loaded), 30);
    EXPECT_EQ(loaded->ops->GetInput(loaded, 29), uint32_t(Input_Left));
    EXPECT_EQ(std::u16string(loaded->ops->GetRandomizerName(loaded)), u"PEXA");
    loaded->ops->Free(loaded);
    Player_Free(other);
    Player_Free(p);
}

} // namespace
