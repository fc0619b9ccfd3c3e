// What both MAME INP readers share: the compressed format's sizes, input bits and field reading,
// and zlib loaded at run time with the record-by-record inflate loop. Each reader keeps its own
// rules for headers, ports and skips.
#pragma once

#include "Platform_Library.h"

#include <zlib.h> // types and constants only: the library itself is loaded at run time

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace MameInp {

inline constexpr size_t kHeaderSize = 64;
inline constexpr size_t kRecordSize = 32;
inline constexpr size_t kChunkSize = 64 * 1024;

// A compressed stream can inflate to almost anything; stop long before memory runs out. Four
// million frames are over eighteen hours at sixty frames a second.
inline constexpr uint32_t kMaxStoredFrames = uint32_t{1} << 22;
inline constexpr uint64_t kMaxRecords = 100'000'000;
// No recording the importers take is larger than all those records uncompressed.
inline constexpr uint64_t kMaxFileBytes = kHeaderSize + kMaxRecords * kRecordSize;

inline constexpr uint32_t kInLeft = 1, kInRight = 2, kInUp = 4, kInDown = 8;
inline constexpr uint32_t kInA = 0x10, kInB = 0x20, kInC = 0x100;

inline uint32_t ReadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline bool IsDiagonal(uint32_t w) {
    return (w & 5) == 5 || (w & 6) == 6 || (w & 9) == 9 || (w & 10) == 10;
}

// Text of at most `size` bytes, up to its first zero byte.
inline std::string FixedText(const uint8_t* p, size_t size) {
    size_t n = 0;
    while (n < size && p[n]) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

struct Zlib {
    void* library = nullptr;
    const char* (*zlibVersion)() = nullptr;
    int (*inflateInit_)(z_streamp, const char*, int) = nullptr;
    int (*inflate)(z_streamp, int) = nullptr;
    int (*inflateEnd)(z_streamp) = nullptr;
};

inline void Zlib_Release(Zlib& z) {
    if (z.library) Platform_Library_Close(z.library);
    z = Zlib{};
}

// False (and nothing kept loaded) when the library or one of its functions is missing.
inline bool Zlib_Load(Zlib& z) {
    z.library = Platform_Library_Open("libz.so.1");
    if (!z.library) return false;
    z.zlibVersion =
        reinterpret_cast<const char* (*)()>(Platform_Library_Symbol(z.library, "zlibVersion"));
    z.inflateInit_ = reinterpret_cast<int (*)(z_streamp, const char*, int)>(
        Platform_Library_Symbol(z.library, "inflateInit_"));
    z.inflate =
        reinterpret_cast<int (*)(z_streamp, int)>(Platform_Library_Symbol(z.library, "inflate"));
    z.inflateEnd =
        reinterpret_cast<int (*)(z_streamp)>(Platform_Library_Symbol(z.library, "inflateEnd"));
    if (z.zlibVersion && z.inflateInit_ && z.inflate && z.inflateEnd) return true;
    Zlib_Release(z);
    return false;
}

// Inflates the rest of the file and hands over each record zlib produced in full, the last one
// included, until `take` returns false (it takes no more) or the stream ends; a damaged or
// truncated stream simply ends the import. `in` and `out` hold kChunkSize bytes each.
template <class Take>
void InflateRecords(const Zlib& z, z_stream& s, std::FILE* f, uint8_t* in, uint8_t* out,
                    Take&& take) {
    size_t pending = 0; // bytes of an incomplete record at the start of `out`
    bool inputEnded = false;
    for (;;) {
        if (s.avail_in == 0 && !inputEnded) {
            const size_t n = std::fread(in, 1, kChunkSize, f);
            if (n < kChunkSize) inputEnded = true;
            s.next_in = in;
            s.avail_in = static_cast<uInt>(n);
        }
        s.next_out = out + pending;
        s.avail_out = static_cast<uInt>(kChunkSize - pending);
        const int ret = z.inflate(&s, Z_NO_FLUSH);
        const size_t have = kChunkSize - s.avail_out;
        size_t at = 0;
        for (; at + kRecordSize <= have; at += kRecordSize)
            if (!take(out + at)) return;
        pending = have - at;
        std::memmove(out, out + at, pending);
        if (ret != Z_OK) return; // end of stream, damage, or no input left to make progress
    }
}

} // namespace MameInp
