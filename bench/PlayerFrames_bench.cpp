// Frames per second of one headless player (no host callbacks) playing scripted games through
// the engine's exports and operation tables, with the real rotation system and randomizer.
#include "Platform_Library.h"
#include "PluginLookup.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Player.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A mode's worth of settings: fast enough that games end and restart often.
void WriteSettings(Player* p) {
    PlayerSettings& s = p->Settings;
    s = PlayerSettings{};
    s.ShiftDelay = 8;
    s.LineClearDelay = 20;
    s.EntryDelay = 10;
    s.LineEntryDelay = 10;
    s.LockDelay = 20;
    s.Gravity = 16;
    s.SoftDropSpeed = 256;
    s.FramesPerSecond = 60.0;
    p->PlayerFlags |= Flag_HoldAllowed;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    void* library = Platform_Library_Open(ZELVIK_GAME_DIR "/dlls/zelvik_engine.so");
    if (!library) {
        std::fprintf(stderr, "cannot load the engine library\n");
        return 1;
    }
    auto init = reinterpret_cast<Zelvik_InitFn>(Platform_Library_Symbol(library, "Zelvik_Init"));
    auto gameCreate =
        reinterpret_cast<Game_CreateFn>(Platform_Library_Symbol(library, "Game_Create"));
    auto fieldCreate =
        reinterpret_cast<Field_CreateFn>(Platform_Library_Symbol(library, "Field_Create"));
    if (!init || !gameCreate || !fieldCreate) return 1;
    init();
    Game* game = gameCreate(nullptr);
    Player* p = game ? game->ops->AddPlayer(game, 0) : nullptr;
    if (!p) return 1;
    p->ops->SetField(p, fieldCreate(10, 20, 2));
    const ZelvikID* rs = FindPlugin(p, p->ops->GetRotationSystemInfo, u"Dalmor WEXO");
    const ZelvikID* rnd = FindPlugin(p, p->ops->GetRandomizerInfo, u"PEXA");
    if (!rs || !rnd || !p->ops->SetRotationSystem(p, rs) || !p->ops->SetRandomizer(p, rnd)) {
        std::fprintf(stderr, "rotation system or randomizer plug-in missing\n");
        return 1;
    }

    // Input script: shifts, turns, soft and hard drops, holds, idle stretches.
    constexpr uint32_t script[] = {Input_Left,
                                   Input_Left,
                                   0,
                                   Input_RotCW,
                                   0,
                                   Input_Right,
                                   Input_Right,
                                   Input_Right,
                                   Input_SoftDrop,
                                   0,
                                   Input_RotCCW,
                                   Input_Hold,
                                   0,
                                   Input_HardDrop,
                                   0,
                                   0};
    // Rounds of play; the best one is the figure (the machine is shared, the others show noise).
    constexpr uint32_t kChunk = 4096;
    constexpr int kRounds = 3;
    double best = 0;
    uint32_t tick = 0;
    for (int round = 0; round < kRounds; ++round) {
        uint64_t frames = 0, games = 0, pieces = 0;
        const auto begin = std::chrono::steady_clock::now();
        double elapsed = 0;
        while (elapsed < seconds) {
            if (p->State == State_Idle) {
                pieces += p->PiecesLocked;
                p->ops->Reset(p);
                WriteSettings(p);
                p->ops->Start(p);
                p->PlayerFlags |= Flag_Paused;
                ++games;
            }
            for (uint32_t i = 0; i < kChunk && p->State != State_Idle; ++i) {
                p->FrameTarget = p->FrameCounter + 1;
                frames += uint32_t(p->ops->Update(p, script[(tick++ / 6) % 16], -1));
            }
            elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        }
        const double rate = frames / elapsed;
        if (rate > best) best = rate;
        std::printf("round %d: %.0f frames/s (%llu frames, %llu games, %llu pieces, %.2f s)\n",
                    round + 1, rate, static_cast<unsigned long long>(frames),
                    static_cast<unsigned long long>(games), static_cast<unsigned long long>(pieces),
                    elapsed);
    }
    std::printf("PlayerFrames: %.0f frames/s per core (one player, one frame per Update call, "
                "best of %d rounds on 1 core)\n",
                best, kRounds);
    p->ops->Free(p);
    return 0;
}
