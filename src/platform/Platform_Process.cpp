#include "Platform_Process.h"

#include <cerrno>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

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
