// A host's view of the engine: the built library loaded by path, driven only through its
// exports and operation tables, with the real rotation system and randomizer plug-ins. Time is
// stepped exactly: the player is paused and the test raises FrameTarget.
#include "Platform_Library.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Player.h"
#include "Zelvik_Replay.h"
#include "Zelvik_RotationSystem.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uintptr_t kUserData = 0x5EED;
constexpr uint32_t kTColour = 153 + 255 * 65536;

struct Call {
    int32_t op; // slot of ClientInterfaceOps
    int32_t a, b, c;
    uint32_t data;
    uint32_t frame;
};

struct RecordingHost {
    ClientInterface ci;
    Player* player = nullptr;
    std::vector<Call> calls;
    std::vector<std::u16string> log;

    void Add(int32_t op, int32_t a = 0, int32_t b = 0, int32_t c = 0, uint32_t data = 0) {
        calls.push_back({op, a, b, c, data, player ? player->FrameCounter : 0});
    }
    std::vector<Call> Of(int32_t op) const {
        std::vector<Call> out;
        for (const Call& call : calls)
            if (call.op == op) out.push_back(call);
        return out;
    }
    // (sound, frame) pairs in the order played.
    std::vector<std::pair<int32_t, uint32_t>> Sounds() const {
        std::vector<std::pair<int32_t, uint32_t>> out;
        for (const Call& call : Of(4)) out.push_back({call.a, call.frame});
        return out;
    }
};

RecordingHost* HostOf(ClientInterface* ci) {
    return reinterpret_cast<RecordingHost*>(ci);
}

const ClientInterfaceOps kHostOps = {
    [](ClientInterface* ci, int32_t x, int32_t y, uint32_t data, int32_t percent, uint32_t,
       uintptr_t) { return HostOf(ci)->Add(0, x, y, percent, data), 0; },
    [](ClientInterface* ci, int32_t no, int32_t x, int32_t y, uint32_t data, uint32_t,
       uintptr_t user) {
        return HostOf(ci)->Add(1, no, x, y, data + uint32_t(user != kUserData)), 0;
    },
    [](ClientInterface* ci, const char16_t* text) { return HostOf(ci)->log.push_back(text), 0; },
    [](ClientInterface* ci, const char16_t* text) { return HostOf(ci)->log.push_back(text), 0; },
    [](ClientInterface* ci, int32_t id) { return HostOf(ci)->Add(4, id), 0; },
    [](ClientInterface* ci, int32_t id) { return HostOf(ci)->Add(5, id), 0; },
    [](ClientInterface* ci, int32_t id) { return HostOf(ci)->Add(6, id), 0; },
    [](ClientInterface* ci) { return HostOf(ci)->Add(7), 0; },
    [](ClientInterface* ci, int32_t x, int32_t y, uint32_t data, uint32_t, uintptr_t) {
        return HostOf(ci)->Add(8, x, y, 0, data), 0;
    },
    [](ClientInterface* ci, const uint8_t*, int32_t height, uintptr_t) {
        return HostOf(ci)->Add(9, height), 0;
    },
};

struct Engine {
    void* library = nullptr;
    Field_CreateFn fieldCreate = nullptr;
    Game_CreateFn gameCreate = nullptr;
    Game* game = nullptr; // games live as long as the host
    RecordingHost host;
};

Engine& TheEngine() {
    static Engine engine = [] {
        Engine e;
        e.host.ci.ops = &kHostOps;
        e.library = Platform_Library_Open(ZELVIK_GAME_DIR "/dlls/zelvik_engine.so");
        if (!e.library) return e;
        auto init =
            reinterpret_cast<Zelvik_InitFn>(Platform_Library_Symbol(e.library, "Zelvik_Init"));
        e.fieldCreate =
            reinterpret_cast<Field_CreateFn>(Platform_Library_Symbol(e.library, "Field_Create"));
        e.gameCreate =
            reinterpret_cast<Game_CreateFn>(Platform_Library_Symbol(e.library, "Game_Create"));
        if (init) init();
        if (e.gameCreate) e.game = e.gameCreate(&e.host.ci);
        return e;
    }();
    return engine;
}

const ZelvikID* FindRule(Player* p, bool rotationSystem, const std::u16string& name) {
    auto list = rotationSystem ? p->ops->GetRotationSystemInfo : p->ops->GetRandomizerInfo;
    for (intptr_t i = 0, n = list(p, -1); i < n; ++i) {
        auto* id = reinterpret_cast<const ZelvikID*>(list(p, int32_t(i)));
        if (id && name == id->name) return id;
    }
    return nullptr;
}

// Settings as a simple mode would write them.
PlayerSettings QuietSettings() {
    PlayerSettings s{};
    s.ShiftDelay = 3;
    s.LineClearDelay = 10;
    s.LineEntryDelay = 5;
    s.LockDelay = 30;
    s.SoftDropSpeed = 512;
    s.FramesPerSecond = 60.0;
    return s;
}

class EngineHost : public ::testing::Test {
protected:
    Engine& engine = TheEngine();
    RecordingHost& host = engine.host;
    Player* p = nullptr;
    Field* field = nullptr;

    void SetUp() override {
        ASSERT_NE(engine.game, nullptr) << "engine library or its exports missing";
        host.calls.clear();
        host.log.clear();
        p = engine.game->ops->AddPlayer(engine.game, kUserData);
        ASSERT_NE(p, nullptr);
        host.player = p;
        field = engine.fieldCreate(10, 20, 2);
        p->ops->SetField(p, field);
        const ZelvikID* rs = FindRule(p, true, u"Dalmor WEXO");
        const ZelvikID* rnd = FindRule(p, false, u"PEXA");
        ASSERT_TRUE(rs && rnd) << "rotation system or randomizer plug-in missing";
        ASSERT_EQ(p->ops->SetRotationSystem(p, rs), 1);
        ASSERT_EQ(p->ops->SetRandomizer(p, rnd), 1);
        p->Seed = 1234;
        p->Settings = QuietSettings();
    }
    void TearDown() override {
        host.player = nullptr;
        if (p) {
            EXPECT_EQ(p->ops->Free(p), 1); // the last player frees the field
        }
    }

    void Start() {
        ASSERT_EQ(p->ops->Start(p), 1);
        p->PlayerFlags |= Flag_Paused;
        p->FrameTarget = p->FrameCounter;
    }
    int32_t Run(uint32_t frames, uint32_t input = 0) {
        p->FrameTarget = p->FrameCounter + frames;
        return p->ops->Update(p, input, -1);
    }
    void ForceNext(uint32_t kind, int32_t index = 0) {
        RotationSystemInterface* rs = p->RotationSystem;
        rs->ops->FreePiece(rs, p->NextQueue[index]);
        p->NextQueue[index] = rs->ops->CreatePiece(rs, kind, 0);
    }
    // Starts without READY and spawns the given piece on frame 0.
    void StartWith(uint32_t kind) {
        Start();
        ForceNext(kind);
        ASSERT_EQ(Run(1), 1);
        ASSERT_EQ(p->Piece->kind, kind);
    }
    void Block(int32_t x, int32_t y) { field->ops->SetCell(field, x, y, 1, 7, 0); }
    uint8_t At(int32_t x, int32_t y) { return field->ops->GetCell(field, x, y)->block; }
    uint32_t DataAt(int32_t x, int32_t y) { return field->ops->GetCell(field, x, y)->data; }
    void FillRow(int32_t y, int32_t from, int32_t to) {
        for (int32_t x = from; x <= to; ++x) Block(x, y);
    }
};

// A hook per event that remembers which event it was registered for.
struct Recorder {
    Player* p;
    std::vector<std::pair<uint32_t, uint32_t>> seen; // (event, frame)
    struct Tag {
        Recorder* owner;
        uint32_t event;
    };
    std::vector<Tag> tags;
    explicit Recorder(Player* player, std::initializer_list<uint32_t> events) : p(player) {
        tags.reserve(events.size());
        for (uint32_t e : events) {
            tags.push_back({this, e});
            p->ops->AddHook(
                p, e,
                [](Player* pl, uintptr_t, uintptr_t tag) {
                    auto* t = reinterpret_cast<Tag*>(tag);
                    t->owner->seen.push_back({t->event, pl->FrameCounter});
                },
                reinterpret_cast<uintptr_t>(&tags.back()), 0);
        }
    }
    int Count(uint32_t event) const {
        int n = 0;
        for (auto& s : seen) n += s.first == event;
        return n;
    }
};

TEST_F(EngineHost, StartRefusesAPlayerWithoutRules) {
    Player* bare = engine.game->ops->AddPlayer(engine.game, 0);
    EXPECT_EQ(bare->ops->Start(bare), 0);
    EXPECT_EQ(bare->State, State_Idle);
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.log[0].rfind(u"Warning: RotationSystem is not set for Player", 0), 0u);
    EXPECT_EQ(host.log[1].rfind(u"Warning: Randomizer is not set for Player", 0), 0u);
    EXPECT_EQ(bare->ops->Free(bare), 1);
    Start();
    EXPECT_EQ(p->ops->Start(p), 0) << "a running player does not start again";
}

TEST_F(EngineHost, ReadyPlaysItsSoundsAndSpawnsOnItsLastFrame) {
    p->Settings.ReadyTime = 100;
    Start();
    EXPECT_EQ(p->State, State_Ready);
    EXPECT_EQ(Run(99), 99);
    EXPECT_EQ(p->State, State_Ready);
    EXPECT_EQ(p->Piece, nullptr);
    Run(1);
    EXPECT_EQ(p->State, State_Falling);
    const auto sounds = host.Sounds();
    ASSERT_EQ(sounds.size(), 3u);
    EXPECT_EQ(sounds[0], std::make_pair(int32_t(Sound_Ready), 0u));
    EXPECT_EQ(sounds[1], std::make_pair(int32_t(Sound_Go), 50u));
    EXPECT_EQ(sounds[2].second, 99u) << "preview sound of the new first piece";
    EXPECT_EQ(p->LockTimer, 0) << "READY loads no lock delay";
}

TEST_F(EngineHost, PiecesSpawnAtTheSpawnColumnWithTheTopBlockInRowZero) {
    Start();
    ForceNext(Piece_I);
    ForceNext(Piece_T, 1);
    Run(1);
    EXPECT_EQ(p->Piece->kind, Piece_I);
    EXPECT_EQ(p->X, 3);
    EXPECT_EQ(p->Y, -1);
    EXPECT_EQ(p->Rotation, 0);
    // The sound names the piece that is now first in the queue, not the one taken.
    EXPECT_EQ(host.Sounds().back().first, Sound_PieceT);
    EXPECT_EQ(p->NextQueue[0]->kind, Piece_T);
    for (RotationPiece* piece : p->NextQueue) EXPECT_NE(piece, nullptr);
}

TEST_F(EngineHost, GravityAccumulatesAndSoftDropSpeedsItUp) {
    p->Settings.Gravity = 64;
    StartWith(Piece_T);
    Run(2);
    EXPECT_EQ(p->Y, 0);
    Run(1);
    EXPECT_EQ(p->Y, 1) << "four frames of a quarter row";
    Run(1, Input_SoftDrop);
    EXPECT_EQ(p->Y, 3) << "soft drop: two rows a frame";
    EXPECT_EQ(p->GravityAccumulator, 0);
}

TEST_F(EngineHost, HardDropLandsInTheSameFrameAndKeepsTheLockDelay) {
    StartWith(Piece_T);
    Run(1, Input_HardDrop);
    EXPECT_EQ(p->Y, 18);
    EXPECT_EQ(p->State, State_Landed);
    EXPECT_EQ(p->LockTimer, 29);
    EXPECT_EQ(host.Sounds().back(), std::make_pair(int32_t(Sound_Landing), 1u));
    uint32_t drop = 0;
    EXPECT_EQ(p->ops->GetValue(p, u"Tetromino_GreatestHardDrop", &drop), 1);
    EXPECT_EQ(drop, 18u);
    Run(28);
    EXPECT_EQ(p->State, State_Landed);
    Run(1);
    EXPECT_EQ(p->State, State_EntryDelay);
    EXPECT_EQ(At(4, 18), 1);
    EXPECT_EQ(At(3, 19) + At(4, 19) + At(5, 19), 3);
}

TEST_F(EngineHost, FastGravityStopsAtTheFirstBlockedRow) {
    p->Settings.Gravity = 5120;
    Block(4, 10);
    StartWith(Piece_T);
    EXPECT_EQ(p->Y, 8) << "the stem stops on the block";
    EXPECT_EQ(p->State, State_Landed);
    EXPECT_EQ(p->GravityAccumulator, 5120 - 8 * 256) << "the rest stays while landed";
    Run(1, Input_SoftDrop);
    EXPECT_EQ(p->State, State_EntryDelay) << "soft drop while landed locks at once";
}

TEST_F(EngineHost, LockDelayZeroStillLocks) {
    p->Settings.Gravity = 5120;
    p->Settings.LockDelay = 0;
    StartWith(Piece_T);
    EXPECT_EQ(p->State, State_Landed);
    Run(1);
    EXPECT_EQ(p->State, State_EntryDelay);
    EXPECT_EQ(p->PiecesLocked, 1);
}

TEST_F(EngineHost, ShiftRepeatsAfterTheDelayAndStopsAtTheWall) {
    StartWith(Piece_T);
    std::vector<int32_t> xs;
    for (int i = 0; i < 7; ++i) Run(1, Input_Left), xs.push_back(p->X);
    EXPECT_EQ(xs, (std::vector<int32_t>{2, 2, 2, 2, 1, 0, 0}));
}

TEST_F(EngineHost, BothDirectionsShareOneCounter) {
    StartWith(Piece_T);
    std::vector<int32_t> xs;
    for (int i = 0; i < 4; ++i) Run(1, Input_Left | Input_Right), xs.push_back(p->X);
    EXPECT_EQ(xs, (std::vector<int32_t>{3, 3, 4, 4}));
}

TEST_F(EngineHost, ADirectionHeldThroughTheEntryDelayShiftsTheNewPieceAtOnce) {
    p->Settings.EntryDelay = 10;
    Start();
    Run(10, Input_Right);
    EXPECT_EQ(p->State, State_EntryDelay);
    Run(1, Input_Right);
    EXPECT_EQ(p->State, State_Falling);
    EXPECT_EQ(p->X, 3) << "no shift on the spawn frame";
    Run(1, Input_Right);
    EXPECT_EQ(p->X, 4);
}

TEST_F(EngineHost, RotationKicksAndGivesUpWhenNothingFits) {
    StartWith(Piece_T);
    Block(4, 2);
    Block(5, 2);
    Block(6, 0);
    Run(1, Input_RotCW);
    EXPECT_EQ(p->Rotation, 0);
    EXPECT_EQ(p->X, 3);
    EXPECT_NE(host.Sounds().back().first, Sound_Rotate);
    field->ops->SetCell(field, 6, 0, 0, 0, 0);
    Run(1);
    Run(1, Input_RotCW);
    EXPECT_EQ(p->Rotation, 1) << "the third kick, (1, -1), now fits";
    EXPECT_EQ(p->X, 4);
    EXPECT_EQ(p->Y, -1);
    EXPECT_EQ(host.Sounds().back().first, Sound_Rotate);
}

TEST_F(EngineHost, InitialRotationTurnsOnTheSpawnFrame) {
    Start();
    ForceNext(Piece_T);
    Run(1, Input_RotCCW);
    EXPECT_EQ(p->Rotation, -1);
    EXPECT_EQ(host.Sounds().back(), std::make_pair(int32_t(Sound_Irs), 0u));
}

TEST_F(EngineHost, HoldOncePerPieceAndBringBackAtTheSpawn) {
    p->Settings.LockDelay = 1;
    Start();
    p->PlayerFlags |= Flag_HoldAllowed;
    ForceNext(Piece_T);
    Run(1);
    ForceNext(Piece_I);
    Recorder events(p, {Event_PieceSpawned});
    Run(1, Input_Hold);
    EXPECT_EQ(p->HoldPiece->kind, Piece_T);
    EXPECT_EQ(p->Piece->kind, Piece_I);
    EXPECT_EQ(p->Y, -1);
    EXPECT_EQ(events.Count(Event_PieceSpawned), 1);
    Run(1);
    Run(1, Input_Hold);
    EXPECT_EQ(p->Piece->kind, Piece_I) << "a second hold before the lock does nothing";
    host.calls.clear();
    p->ops->DrawHold(p, 0);
    const auto blocks = host.Of(8);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].a, 0); // T in state 0, first column: its stem row 1
    EXPECT_EQ(blocks[0].b, 1);
    EXPECT_EQ(blocks[0].data, kTColour);
    Run(1, Input_HardDrop); // locks in this frame; the next frame spawns
    Run(1);
    Run(1);
    Run(1, Input_Hold);
    EXPECT_EQ(p->Piece->kind, Piece_T);
    EXPECT_EQ(p->X, 3);
    EXPECT_EQ(p->Y, 0);
    EXPECT_EQ(p->Rotation, 0);
}

TEST_F(EngineHost, InitialHoldFiresTheSpawnEventTwice) {
    p->Settings.EntryDelay = 3;
    Start();
    p->PlayerFlags |= Flag_InitialHold;
    ForceNext(Piece_L);
    ForceNext(Piece_O, 1);
    Recorder events(p, {Event_PieceSpawned});
    Run(4, Input_Hold);
    EXPECT_EQ(events.Count(Event_PieceSpawned), 2);
    EXPECT_EQ(p->HoldPiece->kind, Piece_L);
    EXPECT_EQ(p->Piece->kind, Piece_O);
}

TEST_F(EngineHost, LineClearRunsItsExactTimeline) {
    p->Settings.LockDelay = 1;
    FillRow(19, 0, 2);
    FillRow(19, 7, 9);
    Block(0, 18);
    Recorder events(p, {Event_PieceLocked, Event_RowsCollapsed});
    StartWith(Piece_I);
    Run(1, Input_HardDrop);
    EXPECT_EQ(p->State, State_LineClear);
    Run(1);
    EXPECT_EQ(At(0, 19), 0) << "rows are emptied on the entry frame";
    EXPECT_EQ(host.Sounds().back(), std::make_pair(int32_t(Sound_LineClear), 2u));
    Run(8);
    EXPECT_EQ(p->State, State_LineClear);
    Run(1);
    EXPECT_EQ(p->State, State_EntryDelay);
    EXPECT_EQ(host.Sounds().back(), std::make_pair(int32_t(Sound_LineClearFall), 11u));
    EXPECT_EQ(At(0, 19), 1) << "row 18 fell into row 19";
    EXPECT_EQ(At(0, 18), 0);
    ASSERT_EQ(events.seen.size(), 2u);
    EXPECT_EQ(events.seen[1], std::make_pair(uint32_t(Event_RowsCollapsed), 11u));
    Run(5);
    EXPECT_EQ(p->State, State_EntryDelay) << "line entry delay of 5 after the entry frame";
    Run(1);
    EXPECT_EQ(p->State, State_Falling);
}

TEST_F(EngineHost, ALockHookCanCancelTheLineClear) {
    p->Settings.LockDelay = 1;
    FillRow(19, 0, 2);
    FillRow(19, 7, 9);
    p->ops->AddHook(
        p, Event_PieceLocked,
        [](Player*, uintptr_t rows, uintptr_t) { *reinterpret_cast<int32_t*>(rows) = 0; }, 0, 0);
    StartWith(Piece_I);
    Run(1, Input_HardDrop);
    EXPECT_EQ(p->State, State_EntryDelay);
    EXPECT_EQ(p->LastClearRows, 0);
}

TEST_F(EngineHost, FinishingDuringALineClearWritesNoPhantomPiece) {
    p->Settings.LockDelay = 1;
    FillRow(19, 0, 2);
    FillRow(19, 7, 9);
    Start();
    p->ops->SetTimeLimit(p, 3, 0);
    ForceNext(Piece_I);
    Run(1);
    Run(1, Input_HardDrop);
    Run(2);
    EXPECT_EQ(p->State, State_Finished);
    EXPECT_EQ(At(3, 19) + At(4, 19) + At(5, 19) + At(6, 19), 0);
    EXPECT_EQ(p->GameTime, 0) << "a time limit leaves the game time alone";
}

TEST_F(EngineHost, FinishWritesTheFallingPieceAndFiresItsEvents) {
    Start();
    p->ops->SetTimeLimit(p, 5, 0);
    ForceNext(Piece_T);
    Recorder events(p, {Event_GameEnded, Event_Finished});
    Run(5);
    EXPECT_EQ(p->State, State_Falling);
    Run(1);
    EXPECT_EQ(p->State, State_Finished);
    EXPECT_EQ(DataAt(4, 0), kTColour);
    ASSERT_EQ(events.seen.size(), 2u);
    EXPECT_EQ(events.seen[0].first, uint32_t(Event_GameEnded));
    EXPECT_EQ(events.seen[1].first, uint32_t(Event_Finished));
    EXPECT_EQ(host.Of(7).size(), 1u) << "music stops at the end";
    EXPECT_EQ(Run(10), 10) << "finished games keep running frames";
}

TEST_F(EngineHost, GameOverAnimationEmptiesRowsFromTheBottom) {
    FillRow(0, 0, 8);
    FillRow(1, 0, 8);
    FillRow(18, 0, 8);
    FillRow(19, 0, 8);
    Recorder events(p, {Event_GameEnded, Event_GameOver});
    StartWith(Piece_T);
    ASSERT_EQ(p->State, State_GameOver) << "spawned into blocks";
    EXPECT_EQ(events.seen, (std::vector<std::pair<uint32_t, uint32_t>>{{Event_GameEnded, 0},
                                                                       {Event_GameOver, 0}}));
    EXPECT_EQ(DataAt(4, 0), kTColour);
    Run(1);
    EXPECT_EQ(At(0, 19), 1) << "timer 100 names the row below the field";
    Run(1);
    EXPECT_EQ(At(0, 19), 0);
    Run(4);
    EXPECT_EQ(At(0, 18), 1);
    Run(1);
    EXPECT_EQ(At(0, 18), 0);
    EXPECT_EQ(Run(500), 102 - 8);
    EXPECT_EQ(p->State, State_Idle);
    EXPECT_EQ(At(0, 0), 0);
}

TEST_F(EngineHost, AKeyHeldHalvesTheGameOverAnimation) {
    FillRow(0, 0, 8);
    FillRow(1, 0, 8);
    StartWith(Piece_T);
    EXPECT_EQ(Run(500, Input_Left), 51);
    EXPECT_EQ(p->State, State_Idle);
}

TEST_F(EngineHost, CountDownTimerEndsTheGameAndTheFrameStillCompletes) {
    Start();
    p->PlayerFlags |= Flag_TimerCountsDown;
    p->GameTime = 3;
    Recorder events(p, {Event_EndOfFrame});
    Run(3);
    EXPECT_EQ(p->State, State_GameOver);
    EXPECT_EQ(events.Count(Event_EndOfFrame), 3);
}

TEST_F(EngineHost, PlayersOnOneFieldBlockEachOtherOnlyWhileActive) {
    StartWith(Piece_T);
    Player* q = engine.game->ops->AddPlayer(engine.game, 0);
    q->ops->SetField(q, field);
    q->ops->CopyRulesTo(p, q);
    q->Settings = p->Settings;
    q->Seed = 99;
    ASSERT_EQ(q->ops->Start(q), 1);
    q->PlayerFlags |= Flag_Paused;
    RotationSystemInterface* rs = q->RotationSystem;
    rs->ops->FreePiece(rs, q->NextQueue[0]);
    q->NextQueue[0] = rs->ops->CreatePiece(rs, Piece_T, 0);
    q->FrameTarget = 1;
    q->ops->Update(q, 0, -1);
    EXPECT_EQ(q->State, State_EntryDelay) << "spawned onto the other player's piece";
    EXPECT_EQ(q->ops->QueryCell(q, 4, 0, 2), 2);
    EXPECT_EQ(q->ops->QueryCell(q, 4, 0, 7), 4) << "its own piece counts in any state";
    Block(0, 19);
    EXPECT_EQ(q->ops->QueryCell(q, 0, 19, 7), 1);
    EXPECT_EQ(q->ops->QueryCell(q, 9, 19, 7), 0);
    EXPECT_EQ(p->ops->TestMove(p, 0, 0, 0), 0) << "a piece in the entry delay does not block";
    rs->ops->FreePiece(rs, q->NextQueue[0]);
    q->NextQueue[0] = rs->ops->CreatePiece(rs, Piece_O, 0);
    q->FrameTarget = 2;
    q->ops->Update(q, 0, -1);
    EXPECT_EQ(q->Piece->kind, Piece_O) << "the next piece replaces the blocked one";
    EXPECT_EQ(q->State, State_EntryDelay);
    Run(1, Input_HardDrop);
    EXPECT_EQ(p->Y, 18) << "the other player's piece in its delay is no obstacle";
    EXPECT_EQ(q->ops->Free(q), 1);
}

TEST_F(EngineHost, FrameTargetFollowsTheClockAcrossAWrap) {
    Start();
    p->PlayerFlags &= ~uint32_t(Flag_Paused);
    // The engine's clock is the monotonic millisecond count; one second ago, seen through a
    // 64-bit start time whose upper half differs, still gives 60 frames at 60 fps.
    p->Settings.FramesPerSecond = 59.5;
    p->StartTime = int64_t(p->StartTime) - 1000 + (int64_t(1) << 32);
    EXPECT_EQ(p->ops->Update(p, 0, 0), 0);
    EXPECT_GE(p->FrameTarget, 60u);
    EXPECT_LE(p->FrameTarget, 61u);
    EXPECT_EQ(p->ops->Update(p, 0, 3), 3);
    EXPECT_GE(p->ops->Update(p, 0, -1), 57);
    p->StartTime += 1000; // the host moved the start after a pause: nothing is due
    EXPECT_EQ(p->ops->Update(p, 0, -1), 0);
}

TEST_F(EngineHost, DrawingGoesThroughTheHost) {
    p->PreviewCount = 1;
    StartWith(Piece_T);
    ForceNext(Piece_I);
    host.calls.clear();
    p->ops->Draw(p, 0);
    const auto next = host.Of(1);
    ASSERT_EQ(next.size(), 4u);
    for (const Call& c : next) {
        EXPECT_EQ(c.a, 0);
        EXPECT_EQ(c.c, 0) << "the I piece is drawn on row 0";
        EXPECT_EQ(c.data, 255u * 256 + 255u * 65536) << "colour and user data";
    }
    EXPECT_EQ(host.Of(0).size(), 4u) << "the falling piece";
    host.calls.clear();
    p->ops->DrawNextQueue(p, 1, 0);
    p->ops->DrawNextQueue(p, -1, 0);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(EngineHost, ReplayPlaysBackTheRecordedGame) {
    const std::u16string file = u"EngineHost_replay.er";
    p->PlayerFlags |= Flag_RecordReplay;
    p->Settings.Gravity = 32;
    p->Settings.LockDelay = 2;
    Start();
    std::vector<uint32_t> checksums;
    const uint32_t script[] = {0, Input_Left,  0,           Input_RotCW,    Input_HardDrop,
                               0, Input_Right, Input_Right, Input_SoftDrop, Input_HardDrop};
    for (int i = 0; i < 400; ++i) {
        Run(1, script[(i / 7) % 10]);
        checksums.push_back(p->ops->GetFieldChecksum(p));
    }
    ASSERT_GT(p->PiecesLocked, 5);
    ASSERT_EQ(p->Replay->ops->Save(p->Replay, file.c_str()), 1);

    Player* q = engine.game->ops->AddPlayer(engine.game, 0);
    q->ops->SetField(q, engine.fieldCreate(10, 20, 2));
    q->Settings = p->Settings;
    ASSERT_EQ(q->Replay->ops->Load(q->Replay, q, file.c_str(), 1), 1);
    q->PlayerFlags |= Flag_PlayReplay | Flag_Paused;
    ASSERT_EQ(q->ops->Start(q), 1);
    EXPECT_EQ(q->Seed, 1234u);
    q->FrameTarget = 0;
    for (size_t i = 0; i < checksums.size(); ++i) {
        q->FrameTarget += 1;
        q->ops->Update(q, 0, -1);
        ASSERT_EQ(q->ops->GetFieldChecksum(q), checksums[i]) << "frame " << i;
    }
    q->ops->Free(q);
    std::remove("EngineHost_replay.er");
}

} // namespace
