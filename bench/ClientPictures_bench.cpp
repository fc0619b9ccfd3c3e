// What hostile pictures cost the real client at start-up: runs `zelvik` headless (SDL's dummy
// drivers) from a copy of the run folder with each data set made here, and prints its peak
// memory (VmHWM), the CPU seconds it spent in a fixed time (start-up, then the paced menu, which
// needs a small fraction of a core), plus what it said about the pictures.
// Data sets: the shipped one; (a) a JPEG 2000 of 2048 x 2048 pixels in 256 components as the
// skin picture panel.png; (b) a progressive JPEG of 8192 x 8192 pixels with 10,000 scans as
// background 0; (c) fourteen backgrounds, each an 8192 x 8192 PNG.
// Usage: ClientPictures_bench [run folder of the client to measure] [seconds watched, 15]
#include "HostilePictures.h"
#include "ProcessFigures.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
namespace fs = std::filesystem;

namespace {

bool writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

// A run folder of its own: the programs and libraries linked, skins and backgrounds copied so
// that a data set can replace them.
fs::path makeRunFolder(const fs::path& game) {
    char tmpl[] = "/tmp/zelvik_pictures_XXXXXX";
    if (!mkdtemp(tmpl)) return {};
    const fs::path run(tmpl);
    for (auto& e : fs::directory_iterator(game)) {
        const std::string name = e.path().filename().string();
        if (name == "zelvik.ini" || name == "replays" || name.rfind("zelvik_", 0) == 0 ||
            name == "LastReplay.er")
            continue;
        if (name == "skins" || name == "bg")
            fs::copy(e.path(), run / name, fs::copy_options::recursive);
        else
            fs::create_symlink(e.path(), run / name);
    }
    fs::create_directory(run / "replays");
    std::ofstream(run / "zelvik.ini") << "PlayerName = Bench\r\n";
    return run;
}

struct Outcome {
    bool ran = false;
    double wall = 0;     // seconds watched
    double cpu = 0;      // CPU seconds by then
    double lastRate = 0; // CPU seconds per second over the last two seconds
    long peakKb = 0;     // VmHWM
    std::string said;    // what it said about pictures
    bool exited = false; // ended by itself
};

Outcome runClient(const fs::path& game, const fs::path& run, double watch) {
    Outcome o;
    const std::string log = (run / "client.log").string();
    std::vector<std::string> args = {(game / "zelvik").string(), "/w", "/rs", "7"};
    std::vector<std::string> env = {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"};
    for (char** e = environ; *e; ++e) env.push_back(*e);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addchdir_np(&fa, run.c_str());
    pid_t pid = -1;
    const auto t0 = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    if (pid <= 0) return o;
    o.ran = true;
    const double tick = double(sysconf(_SC_CLK_TCK));
    // Watched for a fixed time: start-up, then the menu, which paced needs a small fraction of
    // a core, so the last two seconds show whether it was still busy.
    std::vector<long long> samples; // CPU ticks every 100 ms
    long peak = 0;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        o.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            o.exited = true;
            break;
        }
        const long long ticks = process_figures::CpuTicks(pid);
        peak = std::max(peak, process_figures::StatusKb(pid, "VmHWM:"));
        samples.push_back(ticks);
        o.cpu = ticks / tick;
        if (samples.size() > 20) o.lastRate = (ticks - samples[samples.size() - 21]) / tick / 2.0;
        if (o.wall > watch) break;
    }
    o.peakKb = peak;
    if (!o.exited) {
        kill(pid, SIGTERM);
        for (int i = 0; i < 100 && waitpid(pid, nullptr, WNOHANG) != pid; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (kill(pid, 0) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line))
        if (line.find("Could not load") != std::string::npos && o.said.size() < 2000)
            o.said += "    " + line.substr(0, 200) + "\n";
    return o;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path game = fs::absolute(argc > 1 ? fs::path(argv[1]) : fs::path(ZELVIK_GAME_DIR));
    const double watch = argc > 2 ? std::atof(argv[2]) : 15.0;
    if (!fs::exists(game / "zelvik")) {
        std::fprintf(stderr, "no client in %s\n", game.c_str());
        return 1;
    }
    std::printf("client %s\n", fs::canonical(game / "zelvik").c_str());
    std::fflush(stdout);
    const std::vector<uint8_t> j2k = hostile::ManyComponentJ2k(2048, 256);
    const std::vector<uint8_t> scans =
        hostile::WithScans(hostile::ProgressiveJpeg(8192, 8192), 10000);
    const std::vector<uint8_t> png = hostile::PlainPng(8192, 8192, 40, 60, 90);
    if (j2k.empty() || scans.empty() || png.empty()) {
        std::fprintf(stderr, "cannot make the data sets\n");
        return 1;
    }
    struct Set {
        const char* name;
        int kind;
    };
    const Set sets[] = {{"shipped data", 0},
                        {"(a) 256-component JPEG 2000 skin picture", 1},
                        {"(b) 10,000-scan progressive JPEG background", 2},
                        {"(c) 14 backgrounds of 8192 x 8192 PNG", 3}};
    std::printf("data: JPEG 2000 %zu bytes, JPEG %zu bytes, PNG %zu bytes each\n", j2k.size(),
                scans.size(), png.size());
    bool ok = true;
    for (const Set& set : sets) {
        const fs::path run = makeRunFolder(game);
        if (run.empty()) return 1;
        if (set.kind == 1) ok = writeFile(run / "skins" / "data" / "panel.png", j2k) && ok;
        if (set.kind == 2) {
            fs::remove(run / "bg" / "bg_00.jpg");
            ok = writeFile(run / "bg" / "bg_00.jpg", scans) && ok;
        }
        if (set.kind == 3) {
            for (auto& e : fs::directory_iterator(run / "bg")) fs::remove(e.path());
            for (int i = 0; i < 14; ++i) {
                char name[32];
                std::snprintf(name, sizeof name, "bg_%02d.png", i);
                ok = writeFile(run / "bg" / name, png) && ok;
            }
        }
        const Outcome o = runClient(game, run, watch);
        if (!o.ran) {
            std::printf("%-46s the client did not start\n", set.name);
            ok = false;
        } else {
            // What start-up cost beyond the menu: all CPU less the menu's pace over the time.
            std::printf("%-44s peak %7.1f MB, %6.2f CPU s in %4.1f s, then %.2f CPU s/s "
                        "(start-up about %.2f CPU s)%s\n",
                        set.name, o.peakKb / 1024.0, o.cpu, o.wall, o.lastRate,
                        std::max(0.0, o.cpu - o.lastRate * o.wall),
                        o.exited           ? " (it ended)"
                        : o.lastRate > 0.3 ? " (still busy)"
                                           : "");
            if (!o.said.empty()) std::printf("%s", o.said.c_str());
        }
        std::fflush(stdout);
        fs::remove_all(run);
    }
    return ok ? 0 : 1;
}
