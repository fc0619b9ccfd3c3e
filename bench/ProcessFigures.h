// What a process the benches started has used so far, read from /proc: CPU time and resident
// memory.
#pragma once

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/types.h>
#include <unistd.h>

namespace process_figures {

// utime + stime in clock ticks from a stat file (/proc/<pid>/stat for every thread,
// /proc/<pid>/task/<tid>/stat for one); -1 when unreadable.
inline long long CpuTicks(const std::string& statPath) {
    std::ifstream in(statPath);
    std::string line;
    if (!std::getline(in, line)) return -1;
    const size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 > line.size()) return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; rest >> field; ++i) {
        if (i == 14) utime = std::atoll(field.c_str());
        if (i == 15) {
            stime = std::atoll(field.c_str());
            break;
        }
    }
    return utime + stime;
}

inline long long CpuTicks(pid_t pid) {
    return CpuTicks("/proc/" + std::to_string(pid) + "/stat");
}

// CPU seconds (user + system, every thread) the process has used so far.
inline double CpuSeconds(pid_t pid) {
    const long long ticks = CpuTicks(pid);
    return ticks < 0 ? 0 : double(ticks) / double(sysconf(_SC_CLK_TCK));
}

// A memory line of /proc/<pid>/status in kB ("VmRSS:" now, "VmHWM:" at its peak); -1 when
// unreadable.
inline long StatusKb(pid_t pid, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

} // namespace process_figures
