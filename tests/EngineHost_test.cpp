// A host's view of the engine: the built library loaded by path, driven only through its
// exports and operation tables, with the real rotation system and randomizer plug-ins. Time is
// stepped exactly: the player is paused and the test raises FrameTarget.
#include "Platform_Library.h"
#include "PluginLookup.h"
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
using Seen = std::vector<std::pair<uint32_t, uint32_t>>; // (what, frame)

// Slot numbers of ClientInterfaceOps.
enum : int32_t { Op_FieldBlock = 0, Op_NextBlock = 1, Op_Sound = 4, Op_StopMusic = 7, Op_Hold = 8 };

struct Call {
    int32_t op, a, b, c;
    uint32_t data, frame;
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
    std::pair<uint32_t, uint32_t> LastSound() const {
        const auto sounds = Of(Op_Sound);
        return sounds.empty() ? std::pair<uint32_t, uint32_t>{99, 0}
                              : std::pair<uint32_t, uint32_t>{sounds.back().a, sounds.back().frame};
    }
};

RecordingHost* HostOf(ClientInterface* ci) {
    return reinterpret_cast<RecordingHost*>(ci);
}

const ClientInterfaceOps kHostOps = {
    [](ClientInterface* ci, int32_t x, int32_t y, uint32_t data, int32_t percent, uint32_t,
       uintptr_t) { return HostOf(ci)->Add(Op_FieldBlock, x, y, percent, data), 0; },
    [](ClientInterface* ci, int32_t no, int32_t x, int32_t y, uint32_t data, uint32_t,
       uintptr_t user) {
        return HostOf(ci)->Add(Op_NextBlock, no, x, y, data + uint32_t(user != kUserData)), 0;
    },
    [](ClientInterface* ci, const char16_t* text) { return HostOf(ci)->log.push_back(text), 0; },
    [](ClientInterface* ci, const char16_t* text) { return HostOf(ci)->log.push_back(text), 0; },
    [](ClientInterface* ci, int32_t id) { return HostOf(ci)->Add(Op_Sound, id), 0; },
    [](ClientInterface* ci, int32_t id) { return HostOf(ci)->Add(5, id), 0; },
    [](ClientInterface* ci, int32_t id) { return HostOf(ci)->Add(6, id), 0; },
    [](ClientInterface* ci) { return HostOf(ci)->Add(Op_StopMusic), 0; },
    [](ClientInterface* ci, int32_t x, int32_t y, uint32_t data, uint32_t, uintptr_t) {
        return HostOf(ci)->Add(Op_Hold, x, y, 0, data), 0;
    },
    [](ClientInterface* ci, const uint8_t*, int32_t height, uintptr_t) {
        return HostOf(ci)->Add(9, height), 0;
    },
};

struct Engine {
    Field_CreateFn fieldCreate = nullptr;
    Game* game = nullptr; // games live as long as their host
    RecordingHost host;
};

Engine& TheEngine() {
    static Engine engine = [] {
        Engine e;
        e.host.ci.ops = &kHostOps;
        void* library = Platform_Library_Open(ZELVIK_GAME_DIR "/dlls/zelvik_engine.so");
        auto symbol = [&](const char* name) {
            return library ? Platform_Library_Symbol(library, name) : nullptr;
        };
        auto init = reinterpret_cast<Zelvik_InitFn>(symbol("Zelvik_Init"));
        auto gameCreate = reinterpret_cast<Game_CreateFn>(symbol("Game_Create"));
        e.fieldCreate = reinterpret_cast<Field_CreateFn>(symbol("Field_Create"));
        if (init && gameCreate && e.fieldCreate) {
            init();
            e.game = gameCreate(&e.host.ci);
        }
        return e;
    }();
    return engine;
}

Seen events; // filled by Watch hooks: (event, frame)

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
        events.clear();
        p = Join(kUserData);
        host.player = p;
        field = p->Field;
    }
    void TearDown() override {
        host.player = nullptr;
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->ops->Free(p), 1); // the last player on a field frees it
    }
    // A player with the real rules on a field (p's when there is one) and a mode's settings.
    Player* Join(uintptr_t userData) {
        Player* q = engine.game->ops->AddPlayer(engine.game, userData);
        q->ops->SetField(q, p ? p->Field : engine.fieldCreate(10, 20, 2));
        const ZelvikID* rs = FindPlugin(q, q->ops->GetRotationSystemInfo, u"Dalmor WEXO");
        const ZelvikID* rnd = FindPlugin(q, q->ops->GetRandomizerInfo, u"PEXA");
        EXPECT_TRUE(rs && rnd) << "rotation system or randomizer plug-in missing";
        EXPECT_EQ(q->ops->SetRotationSystem(q, rs) + q->ops->SetRandomizer(q, rnd), 2);
        q->Seed = 1234;
        PlayerSettings& s = q->Settings;
        s.ShiftDelay = 3;
        s.LineClearDelay = 10;
        s.LineEntryDelay = 5;
        s.LockDelay = 30;
        s.SoftDropSpeed = 512;
        s.FramesPerSecond = 60.0;
        return q;
    }
    void Start(Player* q = nullptr) {
        q = q ? q : p;
        ASSERT_EQ(q->ops->Start(q), 1);
        q->PlayerFlags |= Flag_Paused;
        q->FrameTarget = q->FrameCounter;
    }
    int32_t Run(uint32_t frames, uint32_t input = 0, Player* q = nullptr) {
        q = q ? q : p;
        q->FrameTarget = q->FrameCounter + frames;
        return q->ops->Update(q, input, -1);
    }
    void ForceNext(uint32_t kind, int32_t index = 0, Player* q = nullptr) {
        q = q ? q : p;
        RotationSystemInterface* rs = q->RotationSystem;
        rs->ops->FreePiece(rs, q->NextQueue[index]);
        q->NextQueue[index] = rs->ops->CreatePiece(rs, kind, 0);
    }
    // Starts without READY; the given piece spawns on frame 0.
    void StartWith(uint32_t kind) {
        Start();
        ForceNext(kind);
        ASSERT_EQ(Run(1), 1);
        ASSERT_EQ(p->Piece->kind, kind);
    }
    void Watch(std::initializer_list<uint32_t> list) {
        for (uint32_t e : list)
            p->ops->AddHook(
                p, e,
                [](Player* pl, uintptr_t, uintptr_t event) {
                    events.push_back({uint32_t(event), pl->FrameCounter});
                },
                e, 0);
    }
    void Block(int32_t x, int32_t y) { field->ops->SetCell(field, x, y, 1, 7, 0); }
    void FillRow(int32_t y, int32_t from, int32_t to) {
        for (int32_t x = from; x <= to; ++x) Block(x, y);
    }
    int At(int32_t x, int32_t y) { return field->ops->GetCell(field, x, y)->block; }
    uint32_t DataAt(int32_t x, int32_t y) { return field->ops->GetCell(field, x, y)->data; }
};

TEST_F(EngineHost, StartNeedsRulesAndReadyPlaysItsSounds) {
    Player* bare = engine.game->ops->AddPlayer(engine.game, 0);
    EXPECT_EQ(bare->ops->Start(bare), 0);
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.log[0].rfind(u"Warning: RotationSystem is not set for Player", 0), 0u);
    EXPECT_EQ(host.log[1].rfind(u"Warning: Randomizer is not set for Player", 0), 0u);
    bare->ops->Free(bare);

    p->Settings.ReadyTime = 100;
    Start();
    EXPECT_EQ(p->ops->Start(p), 0) << "already running";
    EXPECT_EQ(Run(99), 99);
    EXPECT_EQ(p->State, State_Ready);
    Run(1);
    EXPECT_EQ(p->State, State_Falling) << "spawn on the 100th frame";
    const auto sounds = host.Of(Op_Sound);
    ASSERT_EQ(sounds.size(), 3u);
    EXPECT_EQ(std::make_pair(sounds[0].a, sounds[0].frame), std::make_pair(0, 0u));
    EXPECT_EQ(std::make_pair(sounds[1].a, sounds[1].frame), std::make_pair(1, 50u));
    EXPECT_EQ(sounds[2].frame, 99u) << "preview sound";
    EXPECT_EQ(p->LockTimer, 0) << "READY loads no lock delay";
}

TEST_F(EngineHost, SpawnPositionPreviewSoundAndDrawing) {
    p->PreviewCount = 1;
    Start();
    ForceNext(Piece_I);
    ForceNext(Piece_T, 1);
    Run(1);
    EXPECT_EQ(p->Piece->kind, Piece_I);
    EXPECT_EQ(p->X * 100 + p->Y * 10 + p->Rotation, 300 - 10) << "X 3, Y -1, rotation 0";
    EXPECT_EQ(host.LastSound().first, uint32_t(Sound_PieceT)) << "the new first piece's sound";
    ForceNext(Piece_I);
    host.calls.clear();
    p->ops->Draw(p, 0);
    const auto next = host.Of(Op_NextBlock);
    ASSERT_EQ(next.size(), 4u);
    for (const Call& c : next) {
        EXPECT_EQ(c.a * 10 + c.c, 0) << "preview 0, the I piece on row 0";
        EXPECT_EQ(c.data, 255u * 256 + 255u * 65536) << "its colour, and the host's user data";
    }
    EXPECT_EQ(host.Of(Op_FieldBlock).size(), 4u);
    host.calls.clear();
    p->ops->DrawNextQueue(p, 1, 0);
    p->ops->DrawNextQueue(p, -1, 0);
    EXPECT_TRUE(host.calls.empty()) << "only the previews shown are drawn";
}

TEST_F(EngineHost, GravitySoftAndHardDrop) {
    p->Settings.Gravity = 64;
    StartWith(Piece_T);
    Run(2);
    EXPECT_EQ(p->Y, 0);
    Run(1);
    EXPECT_EQ(p->Y, 1) << "four frames of a quarter row";
    Run(1, Input_SoftDrop);
    EXPECT_EQ(p->Y, 3) << "soft drop: two rows a frame";
    Run(1, Input_HardDrop);
    EXPECT_EQ(p->Y, 18);
    EXPECT_EQ(p->State, State_Landed) << "the landed frame runs at once";
    EXPECT_EQ(p->LockTimer, 29);
    EXPECT_EQ(host.LastSound(), std::make_pair(uint32_t(Sound_Landing), 5u));
    uint32_t drop = 0;
    EXPECT_EQ(p->ops->GetValue(p, u"Tetromino_GreatestHardDrop", &drop), 1);
    EXPECT_EQ(drop, 15u);
    Run(28);
    EXPECT_EQ(p->State, State_Landed);
    Run(1);
    EXPECT_EQ(p->State, State_EntryDelay);
    EXPECT_EQ(At(4, 18) + At(3, 19) + At(4, 19) + At(5, 19), 4);
}

TEST_F(EngineHost, FastGravityLandsAndTheLockDelayRuns) {
    p->Settings.Gravity = 5120;
    Block(4, 10);
    StartWith(Piece_T);
    EXPECT_EQ(p->Y, 8) << "stops at the first blocked row";
    EXPECT_EQ(p->State, State_Landed);
    EXPECT_EQ(p->GravityAccumulator, 5120 - 8 * 256) << "the rest stays while landed";
    Run(1, Input_SoftDrop);
    EXPECT_EQ(p->State, State_EntryDelay) << "soft drop locks a landed piece at once";
    p->Settings.LockDelay = 0;
    Run(1);
    EXPECT_EQ(p->State, State_Landed);
    Run(1);
    EXPECT_EQ(p->State, State_EntryDelay) << "a lock delay of 0 still locks";
    EXPECT_EQ(p->PiecesLocked, 2);
}

TEST_F(EngineHost, ShiftingSharesOneCounter) {
    StartWith(Piece_T);
    std::vector<int32_t> xs;
    for (int i = 0; i < 7; ++i) Run(1, Input_Left), xs.push_back(p->X);
    EXPECT_EQ(xs, (std::vector<int32_t>{2, 2, 2, 2, 1, 0, 0})) << "delay, repeat, wall";
    Run(1);
    xs.clear();
    for (int i = 0; i < 4; ++i) Run(1, Input_Left | Input_Right), xs.push_back(p->X);
    EXPECT_EQ(xs, (std::vector<int32_t>{1, 1, 2, 2})) << "both keys run the counter twice";
}

TEST_F(EngineHost, ADirectionHeldThroughTheEntryDelayShiftsTheNewPieceAtOnce) {
    p->Settings.EntryDelay = 10;
    Start();
    Run(11, Input_Right);
    EXPECT_EQ(p->State, State_Falling);
    EXPECT_EQ(p->X, 3) << "no shift on the spawn frame";
    Run(1, Input_Right);
    EXPECT_EQ(p->X, 4);
}

TEST_F(EngineHost, RotationKicksAndInitialRotation) {
    Start();
    ForceNext(Piece_T);
    Run(1, Input_RotCCW);
    EXPECT_EQ(p->Rotation, -1) << "turned on the spawn frame";
    EXPECT_EQ(host.LastSound(), std::make_pair(uint32_t(Sound_Irs), 0u));
    Run(1, Input_RotCW);
    EXPECT_EQ(p->Rotation, 0);
    Block(4, 2);
    Block(5, 2);
    Block(6, 0);
    Run(1);
    Run(1, Input_RotCW);
    EXPECT_EQ(p->Rotation * 10 + p->X, 3) << "no kick fits: unchanged";
    field->ops->SetCell(field, 6, 0, 0, 0, 0);
    Run(1);
    Run(1, Input_RotCW);
    EXPECT_EQ(p->Rotation * 100 + p->X * 10 + p->Y, 140 - 1) << "third kick (1, -1)";
    EXPECT_EQ(host.LastSound().first, uint32_t(Sound_Rotate));
}

TEST_F(EngineHost, HoldOncePerPieceAndBringBackAtTheSpawn) {
    p->Settings.LockDelay = 1;
    StartWith(Piece_T);
    p->PlayerFlags |= Flag_HoldAllowed;
    ForceNext(Piece_I);
    Watch({Event_PieceSpawned});
    Run(1, Input_Hold);
    EXPECT_EQ(p->HoldPiece->kind * 10 + p->Piece->kind, Piece_T * 10 + Piece_I);
    EXPECT_EQ(p->Y, -1);
    EXPECT_EQ(events.size(), 1u);
    Run(1);
    Run(1, Input_Hold);
    EXPECT_EQ(p->Piece->kind, Piece_I) << "a second hold before the lock does nothing";
    host.calls.clear();
    p->ops->DrawHold(p, 0);
    const auto blocks = host.Of(Op_Hold);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].a * 10 + blocks[0].b, 1) << "T in state 0, first column, row 1";
    EXPECT_EQ(blocks[0].data, kTColour);
    Run(1, Input_HardDrop); // locks; the next frame spawns
    Run(2);
    Run(1, Input_Hold);
    EXPECT_EQ(p->Piece->kind, Piece_T);
    EXPECT_EQ(p->X * 100 + p->Y * 10 + p->Rotation, 300);
}

TEST_F(EngineHost, InitialHoldFiresTheSpawnEventTwice) {
    p->Settings.EntryDelay = 3;
    Start();
    p->PlayerFlags |= Flag_InitialHold;
    ForceNext(Piece_L);
    ForceNext(Piece_O, 1);
    Watch({Event_PieceSpawned});
    Run(4, Input_Hold);
    EXPECT_EQ(events, (Seen{{Event_PieceSpawned, 3}, {Event_PieceSpawned, 3}}));
    EXPECT_EQ(p->HoldPiece->kind * 10 + p->Piece->kind, Piece_L * 10 + Piece_O);
}

TEST_F(EngineHost, LineClearRunsItsExactTimeline) {
    p->Settings.LockDelay = 1;
    FillRow(19, 0, 2);
    FillRow(19, 7, 9);
    Block(0, 18);
    Watch({Event_PieceLocked, Event_RowsCollapsed});
    StartWith(Piece_I);
    Run(1, Input_HardDrop);
    EXPECT_EQ(p->State, State_LineClear);
    Run(1);
    EXPECT_EQ(At(0, 19), 0) << "rows are emptied on the entry frame";
    EXPECT_EQ(host.LastSound(), std::make_pair(uint32_t(Sound_LineClear), 2u));
    Run(8);
    EXPECT_EQ(p->State, State_LineClear);
    Run(1);
    EXPECT_EQ(p->State, State_EntryDelay) << "ten frames, the entry frame counted";
    EXPECT_EQ(host.LastSound(), std::make_pair(uint32_t(Sound_LineClearFall), 11u));
    EXPECT_EQ(At(0, 19) * 10 + At(0, 18), 10) << "row 18 fell into row 19";
    EXPECT_EQ(events, (Seen{{Event_PieceLocked, 1}, {Event_RowsCollapsed, 11}}));
    Run(5);
    EXPECT_EQ(p->State, State_EntryDelay) << "line entry delay after the entry frame";
    Run(1);
    EXPECT_EQ(p->State, State_Falling);
}

TEST_F(EngineHost, LockHooksSeeTheRowCountAndAFinishWritesNoPhantom) {
    p->Settings.LockDelay = 1;
    FillRow(19, 0, 2);
    FillRow(19, 7, 9);
    const uintptr_t cancel = p->ops->AddHook(
        p, Event_PieceLocked,
        [](Player*, uintptr_t rows, uintptr_t) { *reinterpret_cast<int32_t*>(rows) = 0; }, 0, 0);
    StartWith(Piece_I);
    Run(1, Input_HardDrop);
    EXPECT_EQ(p->State, State_EntryDelay) << "the hook cancelled the line clear";
    EXPECT_EQ(p->ops->RemoveHook(p, cancel), 1);
    p->ops->GameOver(p, 0);
    Run(200);
    p->ops->Reset(p);
    FillRow(19, 0, 2);
    FillRow(19, 7, 9);
    Start();
    p->ops->SetTimeLimit(p, 3, 0);
    ForceNext(Piece_I);
    Run(2, Input_HardDrop);
    Run(2);
    EXPECT_EQ(p->State, State_Finished) << "during the line clear";
    EXPECT_EQ(At(3, 19) + At(4, 19) + At(5, 19) + At(6, 19), 0);
    EXPECT_EQ(p->GameTime, 0) << "a time limit leaves the game time alone";
}

TEST_F(EngineHost, FinishWritesTheFallingPiece) {
    Start();
    p->ops->SetTimeLimit(p, 5, 0);
    ForceNext(Piece_T);
    Watch({Event_GameEnded, Event_Finished});
    Run(5);
    EXPECT_EQ(p->State, State_Falling);
    Run(1);
    EXPECT_EQ(p->State, State_Finished);
    EXPECT_EQ(DataAt(4, 0), kTColour);
    EXPECT_EQ(events, (Seen{{Event_GameEnded, 5}, {Event_Finished, 5}}));
    EXPECT_EQ(host.Of(Op_StopMusic).size(), 1u);
    EXPECT_EQ(Run(10), 10) << "finished games keep running frames";
}

TEST_F(EngineHost, GameOverAnimationEmptiesRowsFromTheBottom) {
    FillRow(0, 0, 8);
    FillRow(1, 0, 8);
    FillRow(18, 0, 8);
    FillRow(19, 0, 8);
    Watch({Event_GameEnded, Event_GameOver});
    StartWith(Piece_T);
    EXPECT_EQ(p->State, State_GameOver) << "spawned into blocks";
    EXPECT_EQ(events, (Seen{{Event_GameEnded, 0}, {Event_GameOver, 0}}));
    EXPECT_EQ(DataAt(4, 0), kTColour);
    Run(1);
    EXPECT_EQ(At(0, 19), 1) << "timer 100 names the row below the field";
    Run(1);
    EXPECT_EQ(At(0, 19), 0);
    Run(4);
    EXPECT_EQ(At(0, 18), 1) << "five frames a row";
    Run(1);
    EXPECT_EQ(At(0, 18), 0);
    EXPECT_EQ(Run(500), 102 - 8);
    EXPECT_EQ(p->State, State_Idle);
    EXPECT_EQ(At(0, 0), 0);

    p->ops->Reset(p);
    FillRow(0, 0, 8);
    FillRow(1, 0, 8);
    StartWith(Piece_T);
    EXPECT_EQ(Run(500, Input_Left), 51) << "a key held halves the animation";
}

TEST_F(EngineHost, CountDownTimerEndsTheGameAndTheFrameStillCompletes) {
    Start();
    p->PlayerFlags |= Flag_TimerCountsDown;
    p->GameTime = 3;
    Watch({Event_EndOfFrame});
    Run(3);
    EXPECT_EQ(p->State, State_GameOver);
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(EngineHost, PlayersOnOneFieldBlockEachOtherOnlyWhileActive) {
    StartWith(Piece_T);
    Player* q = Join(0);
    Start(q);
    ForceNext(Piece_T, 0, q);
    Run(1, 0, q);
    EXPECT_EQ(q->State, State_EntryDelay) << "spawned onto the other player's piece";
    EXPECT_EQ(q->ops->QueryCell(q, 4, 0, 2), 2);
    EXPECT_EQ(q->ops->QueryCell(q, 4, 0, 7), 4) << "its own piece counts in any state";
    Block(0, 19);
    EXPECT_EQ(q->ops->QueryCell(q, 0, 19, 7), 1);
    EXPECT_EQ(q->ops->QueryCell(q, 9, 19, 7), 0);
    ForceNext(Piece_O, 0, q);
    Run(1, 0, q);
    EXPECT_EQ(q->Piece->kind, Piece_O) << "the next piece replaces the blocked one";
    EXPECT_EQ(q->State, State_EntryDelay);
    Run(1, Input_HardDrop);
    EXPECT_EQ(p->Y, 18) << "a piece in its entry delay is no obstacle";
    EXPECT_EQ(q->ops->Free(q), 1);
}

TEST_F(EngineHost, FrameTargetFollowsTheClockAcrossAWrap) {
    Start();
    p->PlayerFlags &= ~uint32_t(Flag_Paused);
    // One second ago, through a 64-bit start time whose upper half differs; 59.5 fps is 60.
    p->Settings.FramesPerSecond = 59.5;
    p->StartTime = p->StartTime - 1000 + (int64_t(1) << 32);
    EXPECT_EQ(p->ops->Update(p, 0, 0), 0);
    EXPECT_GE(p->FrameTarget, 60u);
    EXPECT_LE(p->FrameTarget, 66u) << "a slow machine may add a few frames";
    EXPECT_EQ(p->ops->Update(p, 0, 3), 3);
    EXPECT_GE(p->ops->Update(p, 0, -1), 57);
    p->StartTime += 1000; // the host moved the start after a pause: nothing is due
    EXPECT_EQ(p->ops->Update(p, 0, -1), 0);
}

TEST_F(EngineHost, ReplayPlaysBackTheRecordedGame) {
    const std::u16string file = u"EngineHost_replay.er";
    p->PlayerFlags |= Flag_RecordReplay;
    p->Settings.Gravity = 32;
    p->Settings.LockDelay = 2;
    Start();
    std::vector<uint32_t> checksums;
    const uint32_t script[] = {0,           Input_Left,  Input_RotCW,    Input_HardDrop, 0,
                               Input_Right, Input_Right, Input_SoftDrop, Input_HardDrop, 0};
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
    q->PlayerFlags |= Flag_PlayReplay;
    Start(q);
    EXPECT_EQ(q->Seed, 1234u);
    for (size_t i = 0; i < checksums.size(); ++i) {
        Run(1, 0, q);
        ASSERT_EQ(q->ops->GetFieldChecksum(q), checksums[i]) << "frame " << i;
    }
    q->ops->Free(q);
    std::remove("EngineHost_replay.er");
}

} // namespace
