// MAME INP recordings into a replay's input list: the zlib-compressed "MAMEINP" format of three
// emulator builds and the older uncompressed big-endian one. zlib is loaded only when a
// compressed recording is read.
#include "Vantrel_Adv_ReplayINP.h"

#include "DoublyLinkedList.h"
#include "MameInp.h"
#include "Platform_File.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Replay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace MameInp;

constexpr size_t kOldHeaderSize = 32;
constexpr size_t kOldFrameSize = 120; // 30 big-endian words

constexpr uint64_t kAttosecondsPerFrame = 16666666666666666ull; // 1/60 s
constexpr double kTimingWindow = 0.001;

enum MameBuildFlags : uint32_t { MameBuild_TimingFilter = 1 };

struct MameVersionEntry {
    const char* build;
    int8_t major;
    uint8_t minor;
    uint32_t flags;
    uint32_t portMasks[16]; // entry k is port bit 31 - k
};

// Input bits for the first seven port masks: up, down, right, left, A, B, C.
constexpr uint32_t kPortInputs[7] = {kInUp, kInDown, kInRight, kInLeft, kInA, kInB, kInC};

constexpr MameVersionEntry MakeEntry(const char* build, uint32_t flags) {
    MameVersionEntry e{build, 3, 0, flags, {}};
    for (int k = 0; k < 16; ++k) e.portMasks[k] = uint32_t{1} << (31 - k);
    return e;
}

constexpr MameVersionEntry kBuilds[3] = {
    MakeEntry("MAME 0.130 (Mar  9 2009)", 0),
    MakeEntry("MAME 0.133 (Jul 20 2009)", 0),
    MakeEntry("MAME 0.133 (Jul 23 2009)", MameBuild_TimingFilter),
};

// Old format, active low: port bits 0-6.
constexpr uint32_t kOldPortInputs[7] = {kInUp, kInDown, kInLeft, kInRight, kInA, kInB, kInC};

uint64_t ReadLE64(const uint8_t* p) {
    return uint64_t(ReadLE32(p)) | uint64_t(ReadLE32(p + 4)) << 32;
}

uint32_t ReadBE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

std::FILE* OpenRecording(const char16_t* fileName) {
    if (!fileName) return nullptr;
    const std::string path = Platform_Path_Resolve(Platform_Path_ToUtf8(fileName));
    return Platform_File_Open(path, kMaxFileBytes);
}

// -1 when the size cannot be had.
long FileSize(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(f);
    if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
    return size;
}

// What the importers share: the skip counters, the store and its bound.
struct Importer {
    ReplayRecord* replay;
    int32_t skipPresses;
    int32_t skipFrames;
    uint32_t flags;
    uint32_t previous = 0;
    uint32_t lastStored = 0;
    bool outOfMemory = false;

    bool Full() const { return outOfMemory || replay->inputs->size() >= kMaxStoredFrames; }

    // Stores the word, or lets it use up one of the frames to skip.
    void StoreOrSkip(uint32_t word) {
        if (skipFrames > 0) {
            --skipFrames;
            return;
        }
        if (Full()) return;
        if (!ReplayInputs_Add(replay, word)) {
            outOfMemory = true;
            return;
        }
        lastStored = word;
    }

    bool NewPress(uint32_t word) const { return (word & ~previous) != 0; }
};

struct CompressedImporter : Importer {
    bool timingFilter = false;
    bool toggle = false;

    void Record(const uint8_t* rec) {
        const uint64_t r = ReadLE64(rec + 4) % kAttosecondsPerFrame;
        double phase = double(r) / 1.6666666666666666e16;
        if (phase > 0.5) phase = 1.0 - phase;

        const uint32_t port = ReadLE32(rec + 20);
        uint32_t word = 0;
        for (int k = 0; k < 7; ++k)
            if (port & kBuilds[0].portMasks[k]) word |= kPortInputs[k];

        if ((flags & 1) && IsDiagonal(word)) word = lastStored;

        if (skipPresses != 0) {
            if (NewPress(word)) --skipPresses;
        } else if (timingFilter) {
            if (phase < kTimingWindow) {
                toggle = !toggle;
                if (toggle) StoreOrSkip(word);
            }
        } else {
            StoreOrSkip(word);
        }
        previous = word;
    }
};

int32_t LoadCompressed(ReplayRecord* r, std::FILE* f, const MameVersionEntry& build,
                       int32_t skipPresses, int32_t skipFrames, uint32_t flags) {
    Zlib z;
    if (!Zlib_Load(z)) return Inp_NoZlib;

    auto* in = static_cast<uint8_t*>(std::malloc(kChunkSize));
    auto* out = static_cast<uint8_t*>(std::malloc(kChunkSize));
    if (!in || !out || !ReplayInputs_Install(r)) {
        std::free(in);
        std::free(out);
        Zlib_Release(z);
        return Inp_OutOfMemory;
    }

    z_stream s;
    std::memset(&s, 0, sizeof s);
    // The library's own version and stream size: a literal from another build or word size
    // makes inflateInit_ refuse.
    int32_t result = Inp_Ok;
    if (z.inflateInit_(&s, z.zlibVersion(), static_cast<int>(sizeof(z_stream))) != Z_OK) {
        result = Inp_ZlibError;
    } else {
        CompressedImporter imp;
        imp.replay = r;
        imp.skipPresses = skipPresses;
        imp.skipFrames = skipFrames;
        imp.flags = flags;
        imp.timingFilter = (build.flags & MameBuild_TimingFilter) != 0;
        uint64_t records = 0;
        InflateRecords(z, s, f, in, out, [&](const uint8_t* rec) {
            if (imp.Full() || records >= kMaxRecords) return false;
            imp.Record(rec);
            ++records;
            return true;
        });
        z.inflateEnd(&s);
        if (imp.outOfMemory) result = Inp_OutOfMemory;
    }
    std::free(in);
    std::free(out);
    Zlib_Release(z);
    return result;
}

// A negative count would never run down to 0 and swallow the whole recording.
int32_t NotNegative(int32_t n) {
    return n < 0 ? 0 : n;
}

} // namespace

int32_t Replay_LoadOldINP(Replay* replay, const char16_t* fileName, int32_t skipPresses,
                          int32_t skipFrames, uint32_t flags) {
    auto* r = reinterpret_cast<ReplayRecord*>(replay);
    if (!r) return Inp_CannotOpen;
    std::FILE* f = OpenRecording(fileName);
    if (!f) return Inp_CannotOpen;
    const long size = FileSize(f);
    if (size < long(kOldHeaderSize) || (size - long(kOldHeaderSize)) % long(kOldFrameSize) != 0 ||
        std::fseek(f, long(kOldHeaderSize), SEEK_SET) != 0) {
        std::fclose(f);
        return Inp_Invalid;
    }
    if (!ReplayInputs_Install(r)) {
        std::fclose(f);
        return Inp_OutOfMemory;
    }

    Importer imp;
    imp.replay = r;
    imp.skipPresses = NotNegative(skipPresses);
    imp.skipFrames = skipFrames;
    imp.flags = flags;
    const bool countMarker = (flags & 2) != 0;
    bool markerArmed = false;
    uint8_t frame[kOldFrameSize];
    while (!imp.Full() && std::fread(frame, 1, sizeof frame, f) == sizeof frame) {
        const uint32_t port = ReadBE32(frame);
        uint32_t word = 0;
        for (int bit = 0; bit < 7; ++bit)
            if (!(port & (uint32_t{1} << bit))) word |= kOldPortInputs[bit];
        if ((flags & 1) && IsDiagonal(word)) word &= ~(kInUp | kInDown);
        if (imp.skipPresses == 0)
            imp.StoreOrSkip(word);
        else if (imp.NewPress(word) && !countMarker)
            --imp.skipPresses;
        imp.previous = word;

        const uint32_t marker = ReadBE32(frame + 12);
        if (marker & 1) {
            markerArmed = true;
        } else if (countMarker && markerArmed && imp.skipPresses != 0) {
            --imp.skipPresses;
            markerArmed = false;
        }
    }
    std::fclose(f);
    return imp.outOfMemory ? Inp_OutOfMemory : Inp_Ok;
}

int32_t Replay_LoadMAMEINP(Replay* replay, const char16_t* fileName, int32_t skipPresses,
                           int32_t skipFrames, uint32_t flags) {
    auto* r = reinterpret_cast<ReplayRecord*>(replay);
    if (!r) return Inp_CannotOpen;
    r->loadedParts = 0;
    std::FILE* f = OpenRecording(fileName);
    if (!f) return Inp_CannotOpen;

    // Anything shorter than the header cannot be compressed; it may still be an old one.
    uint8_t header[kHeaderSize];
    if (FileSize(f) < long(kHeaderSize) || std::fread(header, 1, kHeaderSize, f) != kHeaderSize ||
        FixedText(header, 8) != "MAMEINP") {
        std::fclose(f);
        return Replay_LoadOldINP(replay, fileName, skipPresses, skipFrames, flags);
    }

    const std::string buildText = FixedText(header + 32, 32);
    const MameVersionEntry* build = nullptr;
    for (const MameVersionEntry& e : kBuilds) {
        if (buildText == e.build && int8_t(header[16]) == e.major && header[17] == e.minor) {
            build = &e;
            break;
        }
    }
    if (!build) {
        std::fclose(f);
        return Inp_Invalid;
    }
    const int32_t result =
        LoadCompressed(r, f, *build, NotNegative(skipPresses), skipFrames, flags);
    std::fclose(f);
    return result;
}
