// AVI capture of the real client, per codec: the client runs in-process with the dummy video
// driver at 640x480, a game is started from the menus, and every pass runs one game frame
// (the clock is kept ahead) and writes it. Reports capture frames per second (passes with
// drawing, read-back and encoding, until the file is complete) and the file's bytes per
// second of play, and the CPU seconds spent per second of play by the whole process and by the
// client's own thread (figures that a busy machine does not distort as it does the rate).
// Usage: Capture_bench [game frames per codec] [part of a codec's name]
#include "Platform_Keyboard.h"
#include "Vantrel_GUI.h"
#include "Vantrel_GUI_Callbacks.h"
#include "Vantrel_GUI_Settings.h"
#include "Zelvik_Player.h"

#include <SDL.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void tap(int32_t dik) {
    for (bool down : {true, false}) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.keysym.scancode = SDL_Scancode(Platform_Keyboard_ToScancode(dik));
        SDL_PushEvent(&e);
        Client_Pass();
    }
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(60, std::atoi(argv[1])) : 600;
    const std::string only = argc > 2 ? argv[2] : "";
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const fs::path game(ZELVIK_GAME_DIR);
    const fs::path run = fs::temp_directory_path() / "zelvik_capture_bench";
    fs::remove_all(run);
    fs::create_directories(run / "replays");
    for (auto& e : fs::directory_iterator(game)) {
        const std::string name = e.path().filename().string();
        if (name != "zelvik.ini" && name != "replays") fs::create_symlink(e.path(), run / name);
    }
    std::ofstream(run / "zelvik.ini") << "PlayerName = Bench\r\n";
    fs::current_path(run);

    std::printf("%-28s %11s %13s %7s %12s %12s\n", "codec", "capture fps", "bytes/s play", "frames",
                "CPU s/s play", "main thread");
    for (const AviCodecChoice& codec : AVI_AvailableCodecs()) {
        if (codec.name.find(only) == std::string::npos) continue;
        if (Client_Startup({"/w", "/rs", "31337"}) != 0) {
            std::fprintf(stderr, "the client did not start\n");
            return 1;
        }
        for (int i = 0; i < 4; ++i) tap(50); // Start, then the menus' first entries: a game starts
        ClientPlayer* cp = Client_FirstPlayer();
        Player* p = cp ? cp->Player : nullptr;
        AviCompressOptions options;
        options.handler = codec.handler;
        const std::string file = "capture.avi";
        if (!p || !Client_OpenCapture(file, &options)) {
            std::fprintf(stderr, "%s: capture did not start\n", codec.name.c_str());
            Client_Shutdown();
            continue;
        }
        const auto t0 = std::chrono::steady_clock::now();
        const double process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double thread0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        int written = 0;
        for (int i = 0; written < frames && i < frames * 4; ++i) {
            p->StartTime -= 1000; // the clock ahead: every pass runs a frame
            Client_Pass();
            written += std::max(0, gMain.FramesRun);
        }
        AVI_Close(gMain.Avi); // the queue drained and the file completed
        gMain.Avi = nullptr;
        Client_Options().WriteAvi.clear();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double play = written / 60.0;
        const double process = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0) / play;
        const double thread = (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0) / play;
        gMain.Quit = 1;
        Client_Shutdown();
        const double bytes = double(fs::file_size(file));
        std::printf("%-28s %11.1f %13.0f %7d %12.3f %12.3f\n", codec.name.c_str(),
                    written / seconds, bytes / play, written, process, thread);
        fs::remove(file);
    }
    fs::current_path(game);
    fs::remove_all(run);
    return 0;
}
