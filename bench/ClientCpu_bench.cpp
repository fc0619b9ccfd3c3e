// CPU cost of the real client: headless (SDL's dummy driver) in its menu, paced and unpaced;
// then under an X server: starts Xvfb (1280x1024, its software renderer) and the client with
// SDL's x11 driver at 640x480, first in the menu, then in a running game ("Start" and the menus'
// first entries). Reports CPU seconds per second from /proc/<pid>/stat for the whole process
// and from /proc/<pid>/task/<pid>/stat for the client's own (main) thread.
// Usage: ClientCpu_bench [seconds per scene] [/fs]
#include "ProcessFigures.h"

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
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
namespace fs = std::filesystem;

namespace {

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& dir, int keepFd = -1) {
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> all(env);
    for (char** e = environ; *e; ++e) all.push_back(*e);
    for (const auto& e : all) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
        posix_spawn_file_actions_adddup2(&fa, devnull, 1);
        posix_spawn_file_actions_adddup2(&fa, devnull, 2);
    }
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    (void)keepFd; // inherited: created without O_CLOEXEC
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    if (devnull >= 0) close(devnull);
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

using process_figures::CpuTicks;

int threadCount(pid_t pid) {
    int n = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec);
         !ec && it != fs::directory_iterator(); ++it)
        ++n;
    return n;
}

bool measure(const char* scene, pid_t client, double seconds) {
    const std::string proc = "/proc/" + std::to_string(client) + "/stat";
    const std::string main =
        "/proc/" + std::to_string(client) + "/task/" + std::to_string(client) + "/stat";
    const long long p0 = CpuTicks(proc), m0 = CpuTicks(main);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const long long p1 = CpuTicks(proc), m1 = CpuTicks(main);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (p0 < 0 || p1 < 0) {
        std::printf("%s: the client ended early\n", scene);
        return false;
    }
    const double tick = double(sysconf(_SC_CLK_TCK));
    std::printf("%-24s main thread %.3f CPU s/s, whole process %.3f CPU s/s (%d threads, %.1f s)\n",
                scene, (m1 - m0) / tick / wall, (p1 - p0) / tick / wall, threadCount(client), wall);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const bool fullScreen = argc > 2 && std::strcmp(argv[2], "/fs") == 0;
    const fs::path game(ZELVIK_GAME_DIR);
    char tmpl[] = "/tmp/zelvik_cpu_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const fs::path run(tmpl);
    for (auto& e : fs::directory_iterator(game)) {
        const std::string name = e.path().filename().string();
        if (name == "zelvik.ini" || name == "replays") continue;
        fs::create_symlink(e.path(), run / name);
    }
    fs::create_directory(run / "replays");
    std::ofstream(run / "zelvik.ini") << "PlayerName = Bench\r\n";

    // Headless first (SDL's dummy video driver): the menu, paced as a window is, then with the
    // pacing switched off, which is what a headless client cost before it was paced.
    for (const bool paced : {true, false}) {
        std::vector<std::string> headless = {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"};
        if (!paced) headless.push_back("ZELVIK_UNPACED=1");
        const pid_t client =
            spawn({(game / "zelvik").string(), "/w", "/rs", "7"}, headless, run.string());
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const bool measured =
            client > 0 &&
            measure(paced ? "menu (headless)" : "menu (headless, unpaced)", client, seconds);
        stop(client);
        if (!measured) return 1;
    }

    // The X server picks a free display and writes its number to the pipe.
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t xvfb = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                              "1280x1024x24", "-nolisten", "tcp"},
                             {}, "", fds[1]);
    close(fds[1]);
    char number[32] = {};
    const ssize_t got = read(fds[0], number, sizeof number - 1);
    close(fds[0]);
    if (xvfb <= 0 || got <= 0) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        stop(xvfb);
        return 1;
    }
    const std::string display = ":" + std::string(number, std::strcspn(number, "\n"));
    const std::vector<std::string> env = {"DISPLAY=" + display, "SDL_VIDEODRIVER=x11",
                                          "SDL_AUDIODRIVER=dummy"};
    const pid_t client = spawn({(game / "zelvik").string(), fullScreen ? "/fs" : "/w", "/rs", "7"},
                               env, run.string());
    int status = 0;
    std::this_thread::sleep_for(std::chrono::seconds(3)); // start-up, first passes
    bool ok = client > 0 && measure("menu", client, seconds);
    if (ok) {
        // The rotate key takes "Start" and the first entry of the three menus (randomizer,
        // rotation system, mode) and the game starts; the pointer over the window gives it the
        // keyboard without a window manager.
        // Each key is held a tenth of a second: the client reads the keyboard once a pass.
        std::vector<std::string> keys = {"xdotool", "mousemove", "320", "240"};
        for (int i = 0; i < 4; ++i)
            for (const char* k : {"keydown", "m", "sleep", "0.1", "keyup", "m", "sleep", "0.6"})
                keys.push_back(k);
        const pid_t key = spawn(keys, env, "");
        if (key > 0) waitpid(key, &status, 0);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        ok = measure("game", client, seconds);
    }
    stop(client);
    stop(xvfb);
    fs::remove_all(run);
    return ok ? 0 : 1;
}
