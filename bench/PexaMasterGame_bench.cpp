// One complete PEXA Master game, recorded once from a simple player's keys and then replayed
// headless (no host callbacks) from its input list until the game ends; prints frames per second on
// one core.
#include "Platform_Library.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Field.h"
#include "Zelvik_Game.h"
#include "Zelvik_ID.h"
#include "Zelvik_Player.h"
#include "Zelvik_RotationSystem.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// A simple player: for each new piece it tries every turn and column, keeps the placement
// with the fewest holes and the lowest stack, turns, shifts and drops.
struct Bot {
    static constexpr int32_t kW = 10;
    static constexpr int32_t kH = 22; // two hidden rows on top
    bool cells[kH][kW] = {};
    int32_t targetRotation = 0;
    int32_t targetX = 0;
    const RotationPiece* planned = nullptr;

    static bool Block(Player* p, int32_t i, int32_t j, int32_t r) {
        RotationSystemInterface* rs = p->RotationSystem;
        return rs->ops->GetPieceBlock(rs, p->Piece, i, j, r) != 0;
    }

    void ReadField(Field* f) {
        for (int32_t y = 0; y < kH; y++)
            for (int32_t x = 0; x < kW; x++) cells[y][x] = f->ops->IsBlocked(f, x, y - 2) != 0;
    }

    bool Fits(Player* p, int32_t x, int32_t y, int32_t r) const {
        for (int32_t j = 0; j < 4; j++)
            for (int32_t i = 0; i < 4; i++) {
                if (!Block(p, i, j, r)) continue;
                const int32_t fx = x + i, fy = y + j + 2;
                if (fx < 0 || fx >= kW || fy >= kH) return false;
                if (fy >= 0 && cells[fy][fx]) return false;
            }
        return true;
    }

    double Score(Player* p, int32_t x, int32_t y, int32_t r) const {
        bool g[kH][kW];
        std::memcpy(g, cells, sizeof g);
        for (int32_t j = 0; j < 4; j++)
            for (int32_t i = 0; i < 4; i++)
                if (Block(p, i, j, r) && y + j + 2 >= 0) g[y + j + 2][x + i] = true;
        int32_t lines = 0;
        for (int32_t row = kH - 1; row >= 0; row--) {
            bool full = true;
            for (int32_t c = 0; c < kW; c++) full = full && g[row][c];
            if (!full) continue;
            lines++;
            for (int32_t k = row; k > 0; k--) std::memcpy(g[k], g[k - 1], sizeof g[k]);
            std::memset(g[0], 0, sizeof g[0]);
            row++;
        }
        int32_t heights[kW], holes = 0, total = 0, bump = 0;
        for (int32_t c = 0; c < kW; c++) {
            int32_t top = kH;
            for (int32_t row = 0; row < kH; row++)
                if (g[row][c]) {
                    top = row;
                    break;
                }
            heights[c] = kH - top;
            total += heights[c];
            for (int32_t row = top + 1; row < kH; row++) holes += !g[row][c];
        }
        for (int32_t c = 1; c < kW; c++) bump += std::abs(heights[c] - heights[c - 1]);
        return 0.76 * lines - 0.51 * total - 0.36 * holes - 0.18 * bump;
    }

    void Plan(Player* p) {
        ReadField(p->Field);
        double best = -1e18;
        targetRotation = 0;
        targetX = p->X;
        for (int32_t r = 0; r < 4; r++)
            for (int32_t x = -3; x < kW; x++) {
                int32_t y = p->Y;
                if (!Fits(p, x, y, r)) continue;
                while (Fits(p, x, y + 1, r)) y++;
                const double v = Score(p, x, y, r);
                if (v > best) {
                    best = v;
                    targetRotation = r;
                    targetX = x;
                }
            }
        planned = p->Piece;
    }

    // The keys for this frame; `last` is the previous frame's.
    uint32_t Keys(Player* p, uint32_t last) {
        if (p->State != State_Falling && p->State != State_Landed) return 0;
        if (p->Piece != planned) Plan(p);
        const int32_t rotation = ((p->Rotation % 4) + 4) % 4;
        if (rotation != targetRotation) return (last & Input_RotCW) ? 0 : uint32_t{Input_RotCW};
        if (p->X < targetX) return (last & Input_Right) ? 0 : uint32_t{Input_Right};
        if (p->X > targetX) return (last & Input_Left) ? 0 : uint32_t{Input_Left};
        return (last & Input_SoftDrop) ? 0 : uint32_t{Input_HardDrop | Input_SoftDrop};
    }
};

// Plays one game with the bot, one frame at a time, and keeps its keys as runs.
std::vector<Run> Record(Game* game, uint64_t* framesOut) {
    std::vector<Run> runs;
    Player* p = NewPlayer(game);
    if (!p) return runs;
    Bot bot;
    uint32_t last = 0;
    while (!Over(p) && p->FrameCounter < 2000000) {
        const uint32_t keys = bot.Keys(p, last);
        Play(p, {keys, 1});
        if (!runs.empty() && runs.back().input == keys)
            runs.back().frames++;
        else
            runs.push_back({keys, 1});
        last = keys;
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
    int32_t lastLevel = 0;
    double seconds = 0;
    const auto start = std::chrono::steady_clock::now();
    while (seconds < 2.0 || games < 3) {
        Player* p = NewPlayer(game);
        if (!p) return 1;
        for (const Run& run : runs) Play(p, run);
        frames += p->FrameCounter;
        uint32_t score = 0, level = 0;
        p->ops->GetValue(p, u"score", &score);
        p->ops->GetValue(p, u"level", &level);
        lastScore = static_cast<int32_t>(score);
        lastLevel = static_cast<int32_t>(level);
        if (p->FrameCounter != recordedFrames) {
            std::fprintf(stderr, "replay diverged: %u frames, recorded %llu\n", p->FrameCounter,
                         static_cast<unsigned long long>(recordedFrames));
            return 1;
        }
        p->ops->Free(p);
        games++;
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    std::printf("PEXA Master game: %llu frames, level %d, score %d; %d replays in %.2f s\n",
                static_cast<unsigned long long>(recordedFrames), lastLevel, lastScore, games,
                seconds);
    std::printf("frames/s per core: %.0f (target 3000000)\n",
                static_cast<double>(frames) / seconds);
    return 0;
}
