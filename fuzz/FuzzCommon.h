// Shared helpers of the fuzz targets: the loaders under test read files, so each input is
// written to a per-process scratch file first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

// A scratch folder of this process (memory-backed when /dev/shm exists), made once.
inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        struct stat st {};
        const std::string base = stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp";
        std::string d = base + "/zelvik-fuzz-" + std::to_string(getpid());
        mkdir(d.c_str(), 0700);
        return d;
    }();
    return dir;
}

inline std::string ScratchFile(const char* name) {
    return ScratchDir() + "/" + name;
}

inline bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

inline bool CopyFile(const std::string& from, const std::string& to) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (!in) return false;
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) {
        std::fclose(in);
        return false;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) std::fwrite(buf, 1, n, out);
    std::fclose(in);
    return std::fclose(out) == 0;
}

inline std::u16string Utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

} // namespace fuzz
