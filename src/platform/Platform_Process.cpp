#include "Platform_Process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// What a termination signal found in place; read by the handler, written once before it runs.
struct TerminationWatch {
    std::atomic<bool> requested{false};
    struct sigaction previous[2]{};
};
TerminationWatch& Watch() {
    static auto* watch = new TerminationWatch; // lives as long as the handler may run
    return *watch;
}
constexpr int kWatched[2] = {SIGINT, SIGTERM};

void onTermination(int signo, siginfo_t* info, void* context) {
    TerminationWatch& w = Watch();
    w.requested.store(true);
    const struct sigaction& before = w.previous[signo == SIGINT ? 0 : 1];
    if (before.sa_flags & SA_SIGINFO) {
        if (before.sa_sigaction) before.sa_sigaction(signo, info, context);
    } else if (before.sa_handler == SIG_DFL) {
        // Nobody else handles it: end the way the signal ends a program.
        signal(signo, SIG_DFL);
        raise(signo);
    } else if (before.sa_handler != SIG_IGN) {
        before.sa_handler(signo);
    }
}

} // namespace

bool Platform_Process_Start(const std::string& program, const std::vector<std::string>& args,
                            const std::string& workingFolder) {
    if (program.empty()) return false;
    std::vector<std::string> owned;
    owned.reserve(args.size() + 1);
    owned.push_back(program);
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : owned) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    // posix_spawn_file_actions_addchdir_np runs the chdir in the child only.
    if (!workingFolder.empty() &&
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    try {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // Without a reaper thread the child only stays a zombie until we end.
    }
    return true;
}

std::string Platform_Process_EnvOrSet(const char* name, const std::string& fallback) {
    if (const char* value = std::getenv(name); value && *value) return value;
    if (!fallback.empty()) setenv(name, fallback.c_str(), 1);
    return fallback;
}

void Platform_Process_WatchTermination() {
    static std::once_flag once;
    std::call_once(once, [] {
        TerminationWatch& w = Watch();
        for (int i = 0; i < 2; ++i) {
            // A signal the program was started to ignore (no job control, nohup) stays ignored:
            // it must not count as a request to end.
            if (sigaction(kWatched[i], nullptr, &w.previous[i]) != 0 ||
                (!(w.previous[i].sa_flags & SA_SIGINFO) && w.previous[i].sa_handler == SIG_IGN))
                continue;
            struct sigaction action {};
            action.sa_sigaction = onTermination;
            // The flags of the handler passed on to, so calls it interrupts behave as before.
            action.sa_flags = SA_SIGINFO | (w.previous[i].sa_flags & SA_RESTART);
            sigemptyset(&action.sa_mask);
            sigaction(kWatched[i], &action, nullptr);
        }
    });
}

bool Platform_Process_TerminationRequested() {
    return Watch().requested.load();
}
