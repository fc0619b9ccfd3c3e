// The real Zelvik_Server program for the benches: started headless in a working folder of its
// own (the run folder's plug-ins, PEXA Master), on a free loopback port, with no master to talk
// to; and the CPU time a process has used.
#pragma once

#include "Platform_Socket.h"
#include "ProcessFigures.h"
#include "ZelvikNetTestKit.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace server_program {

namespace fs = std::filesystem;

using process_figures::CpuSeconds;
// CPU seconds (user + system, every thread) the process has used so far.
inline double ProcessCpuSeconds(pid_t pid) {
    return CpuSeconds(pid);
}

// The run folder to start the program from: this build's, or ZELVIK_BENCH_GAME_DIR (another
// build's, to compare before and after a change).
inline std::string GameDir() {
    const char* other = std::getenv("ZELVIK_BENCH_GAME_DIR");
    return other && *other ? other : ZELVIK_GAME_DIR;
}

// The program in a working folder of its own, on a free port, with no master to talk to.
struct ServerProgram {
    pid_t pid = -1;
    uint16_t port = 0;
    fs::path dir;

    // prefix names the working folder under the temporary folder.
    bool Start(const std::string& prefix) {
        dir = fs::temp_directory_path() / (prefix + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::create_directory_symlink(fs::path(GameDir()) / "dlls", dir / "dlls");
        std::ofstream(dir / "Zelvik_Server.ini")
            << "Name = Relay bench\nPublic = 0\nMode1 = PEXA Master\n"
               "RotationSystem = Dalmor WEXO\nRandomizer = PEXA\n";
        port = testkit::FreePort();
        const std::string program = GameDir() + "/Zelvik_Server";
        pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0) _exit(127);
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            setenv("ZELVIK_GAME_PORT", std::to_string(port).c_str(), 1);
            setenv("ZELVIK_MASTER", "127.0.0.1:1", 1);
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) return false;
        // Up once it accepts a connection.
        for (int i = 0; i < 100; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (const uint32_t c = Platform_Socket_Connect("127.0.0.1", port, 200)) {
                Platform_Socket_Close(c);
                return true;
            }
        }
        return false;
    }
    ~ServerProgram() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
        if (!dir.empty()) fs::remove_all(dir);
    }
};

// Request times in milliseconds and what they add up to.
struct Latencies {
    std::vector<double> ms; // -1: failed
    int Answered() const {
        return int(std::count_if(ms.begin(), ms.end(), [](double v) { return v >= 0; }));
    }
    int Within(double limit) const {
        return int(
            std::count_if(ms.begin(), ms.end(), [&](double v) { return v >= 0 && v <= limit; }));
    }
    double Median() const {
        std::vector<double> ok;
        for (double v : ms)
            if (v >= 0) ok.push_back(v);
        if (ok.empty()) return -1;
        std::sort(ok.begin(), ok.end());
        return ok[ok.size() / 2];
    }
    double Max() const { return ms.empty() ? -1 : *std::max_element(ms.begin(), ms.end()); }
    void Print(const char* what) const {
        std::printf("  %s: %d of %zu answered, %d within 1 s; median %.1f ms, max %.1f ms\n", what,
                    Answered(), ms.size(), Within(1000), Median(), Max());
    }
};

} // namespace server_program
