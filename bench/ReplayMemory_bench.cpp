// A long replay in memory: writes a replay of N frames (default 32 M, a 64 MB file), loads it
// back through the replay table, and prints the load time and how much the process's peak
// resident memory grew, as a multiple of the file's size.
//
// Usage: ReplayMemory_bench [frames = 33554432]
#include "Vantrel_Adv_Replay.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Peak resident set of this process in kilobytes (VmHWM), after clearing it when asked.
long PeakKb(bool reset) {
    if (reset) std::ofstream("/proc/self/clear_refs") << "5";
    std::ifstream in("/proc/self/status");
    std::string key;
    long kb = 0;
    while (in >> key) {
        if (key == "VmHWM:") {
            in >> kb;
            return kb;
        }
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const long frames = argc > 1 ? std::atol(argv[1]) : 32L << 20;
    const fs::path file = fs::temp_directory_path() / ("replay_bench_" + std::to_string(getpid()));
    const std::u16string name = [&] {
        std::u16string s;
        for (char c : file.string()) s += static_cast<char16_t>(c);
        return s;
    }();
    {
        Replay* r = Replay_Create();
        auto* rec = reinterpret_cast<ReplayRecord*>(r);
        ReplayInputs_Install(rec);
        for (long i = 0; i < frames; ++i)
            ReplayInputs_Add(rec, static_cast<uint32_t>(i * 7) & 0xFFF);
        if (r->ops->Save(r, name.c_str()) != 1) {
            std::printf("cannot write %s\n", file.c_str());
            return 1;
        }
        r->ops->Free(r);
    }
    const double fileMb = static_cast<double>(fs::file_size(file)) / (1 << 20);
    const long before = PeakKb(true);
    const auto start = std::chrono::steady_clock::now();
    Replay* loaded = Replay_Create();
    const int32_t ok = loaded->ops->Load(loaded, nullptr, name.c_str(), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long grown = PeakKb(false) - before;
    const int32_t count = loaded->ops->CountFrames(loaded);
    loaded->ops->Free(loaded);
    fs::remove(file);
    if (!ok || count != frames) {
        std::printf("load failed (%d frames of %ld)\n", count, frames);
        return 1;
    }
    std::printf("replay of %ld frames, %.1f MB file: loaded in %.2f s, peak memory grew %.1f MB "
                "(%.2f x the file)\n",
                frames, fileMb, seconds, grown / 1024.0, grown / 1024.0 / fileMb);
    return 0;
}
