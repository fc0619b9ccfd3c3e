#include "InpReplay.h"

#include "DoublyLinkedList.h"
#include "MameInp.h"
#include "Platform_File.h"
#include "Platform_Path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace MameInp;

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
        InflateRecords(z, s, f, in, out, [&](const uint8_t* rec) {
            if (imp.Done()) return false;
            imp.Record(rec);
            return true;
        });
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
    // A dropped pipe or device is refused at once instead of waiting for a writer.
    std::FILE* f = Platform_File_Open(fileName, kMaxFileBytes);
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
