#include "InpReplay.h"

#include "DoublyLinkedList.h"
#include "Platform_Library.h"

#include <zlib.h> // types and constants only: the library itself is loaded at run time

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t kHeaderSize = 64;
constexpr size_t kRecordSize = 32;
constexpr size_t kChunkSize = 64 * 1024;
// A compressed stream can inflate to almost anything; stop long before memory runs out.
constexpr uint32_t kMaxStoredFrames = uint32_t{1} << 22;
constexpr uint64_t kMaxRecords = 100'000'000;

constexpr uint32_t kInLeft = 1, kInRight = 2, kInUp = 4, kInDown = 8;
constexpr uint32_t kInA = 0x10, kInB = 0x20, kInC = 0x100;

struct MameVersionEntry {
    const char* build;
    int8_t major;
    uint8_t minor;
    uint32_t portMasks[16]; // entry k is port bit 31 - k
};

constexpr MameVersionEntry MakeEntry(const char* build) {
    MameVersionEntry e{build, 3, 0, {}};
    for (int k = 0; k < 16; ++k) e.portMasks[k] = uint32_t{1} << (31 - k);
    return e;
}

constexpr MameVersionEntry kBuilds[2] = {
    MakeEntry("MAME 0.130 (Mar  9 2009)"),
    MakeEntry("MAME 0.133 (Jul 20 2009)"),
};

// Up, down, right, left, A, B, C: port bits 31-25, and again 23-17.
constexpr uint32_t kPortInputs[7] = {kInUp, kInDown, kInRight, kInLeft, kInA, kInB, kInC};

uint32_t ReadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool IsDiagonal(uint32_t w) {
    return (w & 5) == 5 || (w & 6) == 6 || (w & 9) == 9 || (w & 10) == 10;
}

std::string FixedText(const uint8_t* p, size_t size) {
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

void Zlib_Release(Zlib& z) {
    if (z.library) Platform_Library_Close(z.library);
    z = Zlib{};
}

bool Zlib_Load(Zlib& z) {
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

struct Importer {
    DoublyLinkedList* list;
    int32_t skipPresses;
    int32_t skipFrames;
    uint32_t flags;
    uint32_t previous = 0;
    uint32_t lastStored = 0;
    uint64_t records = 0;
    bool outOfMemory = false;

    bool Done() const {
        return outOfMemory || records >= kMaxRecords || uint32_t(list->Count) >= kMaxStoredFrames;
    }

    void Record(const uint8_t* rec) {
        ++records;
        const uint32_t port = ReadLE32(rec + 20);
        uint32_t word = 0;
        for (int k = 0; k < 7; ++k) {
            if (port & kBuilds[0].portMasks[k]) word |= kPortInputs[k];
            if (port & kBuilds[0].portMasks[k + 8]) word |= kPortInputs[k];
        }
        if ((flags & 1) && IsDiagonal(word)) word = lastStored;
        if (skipPresses != 0) {
            if (word & ~previous) --skipPresses;
        } else if (skipFrames > 0) {
            --skipFrames;
        } else {
            auto* slot = static_cast<uint32_t*>(DoublyLinkedList_AddElement(list));
            if (!slot) {
                outOfMemory = true;
                return;
            }
            *slot = word;
            lastStored = word;
        }
        previous = word;
    }
};

// Every record that zlib produced in full is kept, the last one included; a damaged or
// truncated stream simply ends the import.
void InflateRecords(const Zlib& z, z_stream& s, std::FILE* f, uint8_t* in, uint8_t* out,
                    Importer& imp) {
    size_t pending = 0;
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
        for (; at + kRecordSize <= have; at += kRecordSize) {
            if (imp.Done()) return;
            imp.Record(out + at);
        }
        pending = have - at;
        std::memmove(out, out + at, pending);
        if (ret != Z_OK) return;
    }
}

int32_t Load(InpReplay* r, std::FILE* f, int32_t skipPresses, int32_t skipFrames, uint32_t flags) {
    uint8_t header[kHeaderSize];
    if (std::fread(header, 1, kHeaderSize, f) != kHeaderSize || FixedText(header, 8) != "MAMEINP")
        return InpReplay_Invalid;
    const std::string buildText = FixedText(header + 32, 32);
    bool known = false;
    for (const MameVersionEntry& e : kBuilds)
        known = known ||
                (buildText == e.build && int8_t(header[16]) == e.major && header[17] == e.minor);
    if (!known) return InpReplay_Invalid;

    Zlib z;
    if (!Zlib_Load(z)) return InpReplay_NoZlib;
    auto* in = static_cast<uint8_t*>(std::malloc(kChunkSize));
    auto* out = static_cast<uint8_t*>(std::malloc(kChunkSize));
    DoublyLinkedList* list = DoublyLinkedList_Create(sizeof(uint32_t));
    z_stream s;
    std::memset(&s, 0, sizeof s);
    int32_t result = InpReplay_Ok;
    if (!in || !out || !list) {
        result = InpReplay_OutOfMemory;
    } else if (z.inflateInit_(&s, z.zlibVersion(), static_cast<int>(sizeof(z_stream))) != Z_OK) {
        result = InpReplay_ZlibError;
    } else {
        Importer imp{list, skipPresses < 0 ? 0 : skipPresses, skipFrames, flags};
        InflateRecords(z, s, f, in, out, imp);
        z.inflateEnd(&s);
        if (imp.outOfMemory) result = InpReplay_OutOfMemory;
    }
    if (result == InpReplay_Ok) {
        InpReplay_Clear(r);
        r->inputs = list;
        r->inputsState = 1;
    } else {
        DoublyLinkedList_FreeList(list);
    }
    std::free(in);
    std::free(out);
    Zlib_Release(z);
    return result;
}

const InpReplayOps kOps = {
    InpReplay_LoadMAMEINP, nullptr,        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    InpReplay_Clear,       InpReplay_Free,
};

} // namespace

InpReplay* InpReplay_Create() {
    auto* r = static_cast<InpReplay*>(std::calloc(1, sizeof(InpReplay)));
    if (r) r->ops = &kOps;
    return r;
}

int32_t InpReplay_LoadMAMEINP(InpReplay* r, const char* fileName, int32_t skipPresses,
                              int32_t skipFrames, uint32_t flags) {
    if (!r || !fileName) return InpReplay_CannotOpen;
    r->loadedParts = 0;
    std::FILE* f = std::fopen(fileName, "rb");
    if (!f) return InpReplay_CannotOpen;
    const int32_t result = Load(r, f, skipPresses, skipFrames, flags);
    std::fclose(f);
    return result;
}

int32_t InpReplay_Clear(InpReplay* r) {
    if (!r) return 0;
    if (r->inputs) DoublyLinkedList_FreeList(r->inputs);
    r->inputs = nullptr;
    r->inputsState = 0;
    return 0;
}

int32_t InpReplay_Free(InpReplay* r) {
    InpReplay_Clear(r);
    std::free(r);
    return 0;
}
