// One complete PEXA Master game, recorded once from generated keys and then replayed headless
// (no host callbacks) from its input list until the game ends; prints frames per second on one
// core.
#include "Platform_Library.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Field.h"
#include "Zelvik_Game.h"
#include "Zelvik_ID.h"
#include "Zelvik_Player.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Run {
    uint32_t input;
    uint32_t frames;
};

struct EngineExports {
    Zelvik_InitFn init = nullptr;
    Game_CreateFn gameCreate = nullptr;
};

std::u16string Name(const ZelvikID* id) {
    std::u16string s;
    for (int i = 0; i < 32 && id->name[i]; i++) s += id->name[i];
    return s;
}

const ZelvikID* Find(Player* p, intptr_t (*info)(Player*, int32_t), const char16_t* name) {
    const int32_t n = static_cast<int32_t>(info(p, -1));
    for (int32_t i = 0; i < n; i++) {
        const ZelvikID* id = reinterpret_cast<const ZelvikID*>(info(p, i));
        if (id && Name(id) == name) return id;
    }
    return nullptr;
}

constexpr uint32_t kSeed = 0x5EED1234u;

Player* NewPlayer(Game* game) {
    Player* p = game->ops->AddPlayer(game, 0);
    if (!p) return nullptr;
    const ZelvikID* mode = Find(p, p->ops->GetModeInfo, u"PEXA Master");
    const ZelvikID* rs = Find(p, p->ops->GetRotationSystemInfo, u"Dalmor WEXO");
    const ZelvikID* rnd = Find(p, p->ops->GetRandomizerInfo, u"PEXA");
    if (!mode || !rs || !rnd || p->ops->SetMode(p, mode) != 1 ||
        p->ops->SetRotationSystem(p, rs) != 1 || p->ops->SetRandomizer(p, rnd) != 1) {
        p->ops->Free(p);
        return nullptr;
    }
    p->Seed = kSeed;
    p->PlayerFlags |= Flag_Paused;
    if (p->ops->Start(p) != 1) {
        p->ops->Free(p);
        return nullptr;
    }
    return p;
}

bool Over(const Player* p) {
    return p->State == State_Idle || p->State == State_Finished;
}

// Runs the frames of one input run; the game may end inside it.
void Play(Player* p, const Run& run) {
    p->FrameTarget = p->FrameCounter + run.frames;
    p->ops->Update(p, run.input, -1);
}

// Keys a careless player might press: short runs of shifts, turns and drops.
std::vector<Run> Record(Game* game, uint64_t* framesOut) {
    std::vector<Run> runs;
    Player* p = NewPlayer(game);
    if (!p) return runs;
    static const uint32_t kKeys[] = {0,
                                     0,
                                     Input_Left,
                                     Input_Right,
                                     Input_RotCW,
                                     Input_RotCCW,
                                     Input_SoftDrop,
                                     Input_Left | Input_RotCW,
                                     Input_Right | Input_SoftDrop,
                                     Input_HardDrop};
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    while (!Over(p) && runs.size() < 1000000) {
        const uint64_t r = next();
        const Run run{kKeys[r % (sizeof kKeys / sizeof kKeys[0])],
                      static_cast<uint32_t>(1 + (r >> 32) % 12)};
        const uint32_t before = p->FrameCounter;
        Play(p, run);
        runs.push_back({run.input, p->FrameCounter - before});
    }
    *framesOut = p->FrameCounter;
    p->ops->Free(p);
    return runs;
}

} // namespace

int main() {
    const std::string path = std::string(ZELVIK_GAME_DIR) + "/" + kEngineLibraryPath;
    void* library = Platform_Library_Open(path);
    if (!library) {
        std::fprintf(stderr, "cannot load %s\n", path.c_str());
        return 1;
    }
    EngineExports e;
    e.init = reinterpret_cast<Zelvik_InitFn>(Platform_Library_Symbol(library, "Zelvik_Init"));
    e.gameCreate = reinterpret_cast<Game_CreateFn>(Platform_Library_Symbol(library, "Game_Create"));
    if (!e.init || !e.gameCreate) {
        std::fprintf(stderr, "engine exports missing\n");
        return 1;
    }
    e.init();
    Game* game = e.gameCreate(nullptr); // headless: no host callbacks
    if (!game) return 1;

    uint64_t recordedFrames = 0;
    const std::vector<Run> runs = Record(game, &recordedFrames);
    if (runs.empty()) {
        std::fprintf(stderr, "PEXA Master, Dalmor WEXO or PEXA missing\n");
        return 1;
    }

    uint64_t frames = 0;
    int32_t games = 0;
    int32_t lastScore = 0;
    double seconds = 0;
    const auto start = std::chrono::steady_clock::now();
    while (seconds < 2.0 || games < 3) {
        Player* p = NewPlayer(game);
        if (!p) return 1;
        for (const Run& run : runs) Play(p, run);
        frames += p->FrameCounter;
        uint32_t score = 0;
        p->ops->GetValue(p, u"score", &score);
        lastScore = static_cast<int32_t>(score);
        if (p->FrameCounter != recordedFrames) {
            std::fprintf(stderr, "replay diverged: %u frames, recorded %llu\n", p->FrameCounter,
                         static_cast<unsigned long long>(recordedFrames));
            return 1;
        }
        p->ops->Free(p);
        games++;
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    std::printf("PEXA Master game: %llu frames, final score %d, %d replays in %.2f s\n",
                static_cast<unsigned long long>(recordedFrames), lastScore, games, seconds);
    std::printf("frames/s per core: %.0f (target 3000000)\n",
                static_cast<double>(frames) / seconds);
    return 0;
}
