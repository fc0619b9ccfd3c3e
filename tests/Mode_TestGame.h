// Test support for the mode plug-ins: a real game through the engine library loaded by path,
// with the real rotation system and randomizer, stepped one frame at a time, and a host that
// records every sound and music call.
#pragma once

#include "DoublyLinkedList.h"
#include "Platform_Library.h"
#include "PluginLookup.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Field.h"
#include "Zelvik_Game.h"
#include "Zelvik_ID.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Player.h"
#include "Zelvik_RotationSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace modetest {

inline std::u16string Lower(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
}

// Parses a written table such as "0-700: 27; 701-800: 18; 801 and above: 14" (a single key
// reads "1300: 4") and expects `lookup` to give the same value for every key from lo to hi.
template <typename Lookup>
void ExpectTableText(Lookup lookup, const std::string& text, int32_t lo, int32_t hi) {
    struct Row {
        int64_t first, last, value;
    };
    std::vector<Row> rows;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t colon = item.find(':');
        ASSERT_NE(colon, std::string::npos) << item;
        const std::string keys = item.substr(0, colon);
        const int64_t value = std::stoll(item.substr(colon + 1));
        const size_t dash = keys.find('-');
        const int64_t first = std::stoll(keys);
        int64_t last = first;
        if (keys.find("above") != std::string::npos)
            last = INT32_MAX;
        else if (dash != std::string::npos)
            last = std::stoll(keys.substr(dash + 1));
        rows.push_back({first, last, value});
    }
    for (int32_t k = lo; k <= hi; k++) {
        int64_t want = 0; // keys the text leaves out read 0
        for (const Row& r : rows)
            if (k >= r.first && k <= r.last) want = r.value;
        ASSERT_EQ(lookup(k), want) << "key " << k << " of \"" << text << "\"";
    }
}

// A mode library loaded on its own, for its exports.
struct ModeLibrary {
    void* library = nullptr;
    PluginGetIDFn getID = nullptr;
    CreateModeInterfaceFn create = nullptr;

    explicit ModeLibrary(const char* name) {
        library =
            Platform_Library_Open(std::string(ZELVIK_GAME_DIR) + "/dlls/modes/" + name + ".so");
        if (!library) return;
        getID = reinterpret_cast<PluginGetIDFn>(Platform_Library_Symbol(library, "GetID"));
        create = reinterpret_cast<CreateModeInterfaceFn>(
            Platform_Library_Symbol(library, "CreateModeInterface"));
    }
};

// Expects the identity record the library fills, and that a wrong size is refused untouched.
inline void ExpectIdentity(const char* library, const char16_t* name, uint64_t version,
                           int32_t build) {
    ModeLibrary lib(library);
    ASSERT_NE(lib.library, nullptr) << library;
    ASSERT_NE(lib.getID, nullptr);
    ASSERT_NE(lib.create, nullptr);
    ZelvikID id{};
    id.size = 148;
    ASSERT_EQ(lib.getID(&id), 1u);
    EXPECT_EQ(id.kind, PluginKind_Mode);
    EXPECT_EQ(IdText(id.name), name);
    EXPECT_EQ(IdText(id.author), u"Pemlow");
    EXPECT_EQ(id.version, version);
    EXPECT_EQ(id.build, build);

    ZelvikID wrong{};
    wrong.size = 147;
    wrong.kind = 77;
    EXPECT_EQ(lib.getID(&wrong), 0u);
    EXPECT_EQ(wrong.kind, 77);
    EXPECT_EQ(wrong.name[0], 0);
}

// The engine library, loaded once per test program.
struct Engine {
    void* library = nullptr;
    Zelvik_InitFn init = nullptr;
    Game_CreateFn gameCreate = nullptr;
    Player_CreateFn playerCreate = nullptr;
    Field_CreateFn fieldCreate = nullptr;
    bool ready = false;

    static Engine& Get() {
        static Engine engine;
        return engine;
    }

private:
    Engine() {
        library = Platform_Library_Open(std::string(ZELVIK_GAME_DIR) + "/dlls/zelvik_engine.so");
        if (!library) return;
        init = reinterpret_cast<Zelvik_InitFn>(Platform_Library_Symbol(library, "Zelvik_Init"));
        gameCreate =
            reinterpret_cast<Game_CreateFn>(Platform_Library_Symbol(library, "Game_Create"));
        playerCreate =
            reinterpret_cast<Player_CreateFn>(Platform_Library_Symbol(library, "Player_Create"));
        fieldCreate =
            reinterpret_cast<Field_CreateFn>(Platform_Library_Symbol(library, "Field_Create"));
        if (!init || !gameCreate || !playerCreate || !fieldCreate) return;
        init();
        ready = true;
    }
};

// A host that records what the engine and the mode asked it to play.
struct RecordingClient {
    ClientInterface ci;
    std::vector<int32_t> sounds;
    std::vector<int32_t> stoppedSounds;
    std::vector<int32_t> music;
    int32_t musicStops = 0;

    RecordingClient() { ci.ops = &kOps; }

    static RecordingClient* Of(ClientInterface* c) { return reinterpret_cast<RecordingClient*>(c); }
    int32_t Count(int32_t sound) const {
        return static_cast<int32_t>(std::count(sounds.begin(), sounds.end(), sound));
    }
    int32_t StopCount(int32_t sound) const {
        return static_cast<int32_t>(std::count(stoppedSounds.begin(), stoppedSounds.end(), sound));
    }

private:
    static int32_t DrawFieldBlock(ClientInterface*, int32_t, int32_t, uint32_t, int32_t, uint32_t,
                                  uintptr_t) {
        return 0;
    }
    static int32_t DrawNextBlock(ClientInterface*, int32_t, int32_t, int32_t, uint32_t, uint32_t,
                                 uintptr_t) {
        return 0;
    }
    static int32_t Text(ClientInterface*, const char16_t*) { return 0; }
    static int32_t PlaySound(ClientInterface* c, int32_t id) {
        Of(c)->sounds.push_back(id);
        return 0;
    }
    static int32_t StopSound(ClientInterface* c, int32_t id) {
        Of(c)->stoppedSounds.push_back(id);
        return 0;
    }
    static int32_t PlayMusic(ClientInterface* c, int32_t id) {
        Of(c)->music.push_back(id);
        return 0;
    }
    static int32_t StopMusic(ClientInterface* c) {
        Of(c)->musicStops++;
        return 0;
    }
    static int32_t DrawHoldBlock(ClientInterface*, int32_t, int32_t, uint32_t, uint32_t,
                                 uintptr_t) {
        return 0;
    }
    static int32_t LineClearEffect(ClientInterface*, const uint8_t*, int32_t, uintptr_t) {
        return 0;
    }
    static inline const ClientInterfaceOps kOps = {
        DrawFieldBlock, DrawNextBlock, Text,      Text,          PlaySound,
        StopSound,      PlayMusic,     StopMusic, DrawHoldBlock, LineClearEffect,
    };
};

// One player of one game in one mode, stepped frame by frame.
struct TestGame {
    RecordingClient client;
    Game* game = nullptr;
    Player* p = nullptr;

    // False (with a test failure) when the engine or a plug-in is missing.
    bool Open(const char16_t* mode, bool withClient = true) {
        Engine& e = Engine::Get();
        if (!e.ready) {
            ADD_FAILURE() << "engine library not loadable";
            return false;
        }
        game = e.gameCreate(withClient ? &client.ci : nullptr);
        if (!game) return false;
        // Games live as long as their host; keeping them reachable is what a host does.
        static auto* games = new std::vector<Game*>;
        games->push_back(game);
        p = game->ops->AddPlayer(game, 0);
        if (!p) return false;
        const ZelvikID* m = FindPlugin(p, p->ops->GetModeInfo, mode);
        const ZelvikID* rs = FindPlugin(p, p->ops->GetRotationSystemInfo, u"Dalmor WEXO");
        const ZelvikID* rnd = FindPlugin(p, p->ops->GetRandomizerInfo, u"PEXA");
        if (!m || !rs || !rnd) {
            ADD_FAILURE() << "mode, rotation system or randomizer not found";
            return false;
        }
        return p->ops->SetMode(p, m) == 1 && p->ops->SetRotationSystem(p, rs) == 1 &&
               p->ops->SetRandomizer(p, rnd) == 1;
    }

    bool Start(uint32_t seed = 12345) {
        p->Seed = seed;
        p->PlayerFlags |= Flag_Paused;
        return p->ops->Start(p) == 1;
    }

    ~TestGame() {
        if (p) p->ops->Free(p);
    }

    // Runs exactly n frames with the given keys held.
    void Step(uint32_t input = 0, int32_t n = 1) {
        for (int32_t i = 0; i < n; i++) {
            p->PlayerFlags |= Flag_Paused;
            p->FrameTarget = p->FrameCounter + 1;
            p->ops->Update(p, input, -1);
        }
    }

    // Steps until the player's state is `state` (at most `limit` frames); true when reached.
    bool StepUntil(int32_t state, uint32_t input = 0, int32_t limit = 2000) {
        for (int32_t i = 0; i < limit && p->State != state; i++) Step(input);
        return p->State == state;
    }

    int32_t Value(const char16_t* key) {
        uint32_t out = 0xDEADBEEF;
        if (!p->ops->GetValue(p, key, &out)) return INT32_MIN;
        return static_cast<int32_t>(out);
    }

    KeyValueEntry* Entry(const char16_t* key) {
        const std::u16string want = Lower(key);
        for (DoublyLinkedListElement* e = p->ValueList->First; e; e = e->Next) {
            KeyValueEntry* kv = static_cast<KeyValueEntry*>(DoublyLinkedList_Data(e));
            if (std::u16string(kv->key) == want) return kv;
        }
        return nullptr;
    }

    // Live entries point into the mode's own record, so a situation can be set through them.
    void SetLive(const char16_t* key, int32_t value) {
        KeyValueEntry* kv = Entry(key);
        ASSERT_NE(kv, nullptr);
        ASSERT_TRUE(kv->flags & kValueCallerMemory);
        *static_cast<int32_t*>(kv->data) = value;
    }

    bool IsLive(const char16_t* key) {
        KeyValueEntry* kv = Entry(key);
        return kv && (kv->flags & kValueCallerMemory);
    }

    Field* F() { return p->Field; }

    void Fill(int32_t x, int32_t y) { F()->ops->SetCell(F(), x, y, 1, 0xFF808080u, 0); }

    // Replaces the active piece by one of `kind` at the spawn position.
    void ForcePiece(uint32_t kind) {
        RotationSystemInterface* rs = p->RotationSystem;
        if (p->Piece) rs->ops->FreePiece(rs, p->Piece);
        p->Piece = rs->ops->CreatePiece(rs, kind, 0);
        p->Rotation = 0;
        p->X = p->SpawnColumn + p->Piece->spawnOffset;
        p->Y = rs->ops->GetTopRow(rs, p->Piece, 0);
        p->GravityAccumulator = 0;
    }

    // Where the active piece comes to rest when dropped straight down.
    int32_t DropDistance() {
        int32_t dy = 0;
        while (p->ops->TestMove(p, 0, dy + 1, 0) == 0) dy++;
        return dy;
    }

    // Fills the `rows` lowest rows the active piece will occupy when dropped, except the piece's
    // own cells, so that its lock clears exactly those rows.
    void PrepareClear(int32_t rows) {
        RotationSystemInterface* rs = p->RotationSystem;
        const int32_t dy = DropDistance();
        std::vector<int32_t> pieceRows;
        for (int32_t j = 3; j >= 0; j--) {
            bool any = false;
            for (int32_t i = 0; i < 4; i++)
                if (rs->ops->GetPieceBlock(rs, p->Piece, i, j, p->Rotation)) any = true;
            if (any) pieceRows.push_back(j);
        }
        for (int32_t k = 0; k < rows && k < static_cast<int32_t>(pieceRows.size()); k++) {
            const int32_t j = pieceRows[k];
            const int32_t y = p->Y + dy + j;
            for (int32_t x = 0; x < 10; x++) {
                const int32_t i = x - p->X;
                const bool piece =
                    i >= 0 && i < 4 && rs->ops->GetPieceBlock(rs, p->Piece, i, j, p->Rotation);
                if (!piece) Fill(x, y);
            }
        }
    }

    // Waits for the next piece, replaces it by `kind` (turned to state 1 when `upright`).
    bool NextPiece(uint32_t kind, bool upright = false) {
        // At twenty rows a frame a new piece lands on its spawn frame.
        for (int32_t i = 0; i < 2000 && p->State != State_Falling && p->State != State_Landed; i++)
            Step();
        if (p->State != State_Falling && p->State != State_Landed) return false;
        ForcePiece(kind);
        p->State = State_Falling;
        p->StateEntered = 1;
        if (upright) {
            p->Rotation = 1;
            p->Y = p->RotationSystem->ops->GetTopRow(p->RotationSystem, p->Piece, 1);
        }
        return true;
    }

    // Hard and soft drop until the piece locks; true when it did.
    bool Lock() {
        for (int32_t i = 0; i < 10 && (p->State == State_Falling || p->State == State_Landed); i++)
            Step(Input_HardDrop | Input_SoftDrop);
        return p->State != State_Falling && p->State != State_Landed;
    }

    // A piece of `kind` placed to clear `rows` rows and locked, the mode's scoring still to come;
    // false when no such piece came or it did not lock.
    bool LockClearing(int32_t rows, uint32_t kind = Piece_T, bool upright = false) {
        if (!NextPiece(kind, upright)) return false;
        PrepareClear(rows);
        return Lock();
    }

    // Locks, then releases the keys for one frame (the scoring frame of the mode).
    void DropAndLock() {
        Lock();
        Step(0);
    }

    // One lock clearing `rows` rows with a piece of `kind` (an upright I for four rows).
    bool ClearRows(int32_t rows, uint32_t kind = Piece_O) {
        if (!NextPiece(rows == 4 || rows == 3 ? Piece_I : kind, rows >= 3)) return false;
        PrepareClear(rows);
        DropAndLock();
        return true;
    }

    int32_t BlockedInTopRows() {
        int32_t n = 0;
        for (int32_t y = 0; y < 5; y++)
            for (int32_t x = 0; x < 10; x++)
                if (F()->ops->IsBlocked(F(), x, y)) n++;
        return n;
    }
};

// Fixture base: each test starts with a started game of one mode.
struct ModeGame : ::testing::Test {
    explicit ModeGame(const char16_t* mode) : mode(mode) {}
    void SetUp() override {
        ASSERT_TRUE(g.Open(mode));
        ASSERT_TRUE(g.Start());
    }
    const char16_t* mode;
    TestGame g;
};

} // namespace modetest
