// Builds MAME INP recordings byte by byte for the INP reader tests: the 64-byte header, the
// 32-byte frame records deflated with zlib, and the older uncompressed 120-byte frames.
#pragma once

#include "DoublyLinkedList.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace inp {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kFrameAtto = 16666666666666666ull;

// Port bits of the compressed format (set = pressed).
constexpr uint32_t kPortUp = 1u << 31, kPortDown = 1u << 30, kPortRight = 1u << 29,
                   kPortLeft = 1u << 28, kPortA = 1u << 27, kPortB = 1u << 26, kPortC = 1u << 25;

// The input words a reader loaded, frame 0 first; empty without a list.
inline std::vector<uint32_t> Words(const std::vector<uint16_t>* inputs) {
    std::vector<uint32_t> out;
    if (inputs)
        for (uint16_t w : *inputs)
            out.push_back(static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(w))));
    return out;
}

inline std::vector<uint32_t> Words(const DoublyLinkedList* inputs) {
    std::vector<uint32_t> out;
    if (!inputs) return out;
    for (DoublyLinkedListElement* e = inputs->First; e; e = e->Next)
        out.push_back(*static_cast<uint32_t*>(DoublyLinkedList_Data(e)));
    return out;
}

struct Record {
    uint64_t atto = 0; // time within the second
    uint32_t port = 0;
};

inline void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutLE64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutBE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}

inline Bytes Header(const char* build, int8_t major = 3, uint8_t minor = 0,
                    const char* magic = "MAMEINP") {
    Bytes h(64, 0);
    std::memcpy(h.data(), magic, std::min<size_t>(std::strlen(magic), 8));
    std::memcpy(h.data() + 8, "gamename", 8); // bytes the readers skip
    h[16] = uint8_t(major);
    h[17] = minor;
    std::memset(h.data() + 18, 0xEE, 14);
    std::memcpy(h.data() + 32, build, std::min<size_t>(std::strlen(build), 32));
    return h;
}

// The unread bytes of each record hold noise, so a reader that looks elsewhere is caught.
inline Bytes Records(const std::vector<Record>& recs) {
    Bytes out(recs.size() * 32);
    for (size_t i = 0; i < recs.size(); ++i) {
        uint8_t* p = out.data() + 32 * i;
        std::memset(p, int(0x5A ^ i), 32);
        PutLE64(p + 4, recs[i].atto);
        PutLE32(p + 20, recs[i].port);
    }
    return out;
}

inline Bytes Deflate(const Bytes& raw, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, raw.data(), uLong(raw.size()), level) != Z_OK) return {};
    out.resize(size);
    return out;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes Compressed(const char* build, const std::vector<Record>& recs, int8_t major = 3,
                        uint8_t minor = 0) {
    return Concat(Header(build, major, minor), Deflate(Records(recs)));
}

// Records one frame apart, each at the start of its frame (timing phase 0).
inline std::vector<Record> Frames(const std::vector<uint32_t>& ports) {
    std::vector<Record> recs;
    for (size_t i = 0; i < ports.size(); ++i) recs.push_back({(i % 60) * kFrameAtto, ports[i]});
    return recs;
}

// Old format: 32-byte header, then 30 big-endian words per frame; word 0 active low (bits
// 0-6 up, down, left, right, A, B, C), word 3 bit 0 the marker.
struct OldFrame {
    uint32_t pressed = 0; // bits 0-6 set = pressed
    bool marker = false;
};

inline Bytes OldFormat(const std::vector<OldFrame>& frames) {
    Bytes out(32, 0x11);
    for (const OldFrame& f : frames) {
        uint8_t words[120];
        std::memset(words, 0xC3, sizeof words);
        PutBE32(words, ~f.pressed & 0xFFFFFFFFu);
        PutBE32(words + 12, f.marker ? 0xFFFFFFFFu : 0xFFFFFFFEu);
        out.insert(out.end(), words, words + 120);
    }
    return out;
}

// The shared recordings: next to the source tree, or, from a worktree one folder further
// down, next to its parent; the environment may point elsewhere. Empty when not found.
inline std::string SharedInpFolder() {
    std::vector<std::filesystem::path> tries;
    if (const char* env = std::getenv("ZELVIK_SHARED_DATA")) tries.emplace_back(env);
    tries.push_back(std::filesystem::path(ZELVIK_SHARED_DATA).lexically_normal());
    tries.push_back(
        (std::filesystem::path(ZELVIK_SHARED_DATA) / ".." / ".." / ".." / "shared" / "data")
            .lexically_normal());
    for (const std::filesystem::path& dir : tries)
        if (std::filesystem::is_regular_file(dir / "inp" / "wrinkled.inp"))
            return (dir / "inp").string() + "/";
    return {};
}

inline std::string TempPath(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path(ZELVIK_TEST_BIN) / "inp_files";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

inline std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = TempPath(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

inline Bytes ReadAll(const std::string& path) {
    Bytes out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

inline const char* const kBuild130 = "MAME 0.130 (Mar  9 2009)";
inline const char* const kBuild133 = "MAME 0.133 (Jul 20 2009)";
inline const char* const kBuild133Timing = "MAME 0.133 (Jul 23 2009)";

} // namespace inp
