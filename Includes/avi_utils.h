// Our own RIFF AVI writer: one video stream of 24-bit frames, uncompressed ("DIB ") or Motion
// JPEG, with a classic idx1 index and an OpenDML index so files past 1 GiB stay playable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A 24-bit bottom-up device-independent bitmap: rows of BGR pixels, each padded to 4 bytes,
// the bottom row first.
struct AviBitmap {
    uint32_t headerSize = 40;
    int32_t width = 0;
    int32_t height = 0; // positive: bottom-up
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    std::vector<uint8_t> bits;
    static uint32_t Stride(int32_t width) { return (static_cast<uint32_t>(width) * 3 + 3) & ~3u; }
    uint32_t ImageSize() const { return Stride(width) * static_cast<uint32_t>(height); }
    void Allocate(int32_t w, int32_t h); // zeroed pixels
};

constexpr uint32_t kAviFourccDib = 0x20424944;  // "DIB "
constexpr uint32_t kAviFourccMjpg = 0x47504A4D; // "MJPG"

// Filled by the codec dialog; a zeroed record means uncompressed.
struct AviCompressOptions {
    uint32_t handler = 0; // kAviFourccDib, kAviFourccMjpg or 0
    int32_t quality = 0;  // JPEG quality 1-100; 0 takes 90
};

constexpr uint32_t kAviKeyFrame = 16;
constexpr int32_t kAviErrBadFormat = 0x406A;
constexpr int32_t kAviErrFailed = 0x40C7;
constexpr int32_t kAviErrStreamExists = 0x4070;
constexpr int32_t kAviErrWrite = 0x406D;
constexpr int32_t kAviErrCancelled = 0x40C6;
constexpr int32_t kAviErrCompress = 0x4076;

struct AviIndexEntry {
    uint64_t offset; // file offset of the chunk's data
    uint32_t size;
    bool key;
};

struct AviHandle {
    std::FILE* File = nullptr;
    uint8_t AudioFormat[18] = {};
    int32_t FramesPerSecond = 0;
    void* AudioStream = nullptr;
    bool VideoStream = false;      // stream headers written
    bool CompressedStream = false; // format fixed, frames may follow
    uint32_t FrameCount = 0;
    uint32_t SampleCount = 0;
    int32_t Failed = 0;

    // Writer state.
    uint32_t handler = 0;
    int32_t quality = 90;
    int32_t width = 0, height = 0;
    uint32_t maxChunk = 0;
    uint64_t segmentLimit = 1000u * 1024u * 1024u; // each RIFF stays below 1 GiB
    uint64_t riffStart = 0, moviStart = 0;         // offsets of the current "RIFF" and "LIST"
    uint32_t segment = 0;
    std::vector<AviIndexEntry> segmentIndex; // frames of the current RIFF
    std::vector<AviIndexEntry> firstIndex;   // frames of the first RIFF (idx1)
    struct SuperEntry {
        uint64_t offset;
        uint32_t size, duration;
    };
    std::vector<SuperEntry> superIndex;
    uint32_t firstSegmentFrames = 0;
    uint64_t avihOffset = 0, strhOffset = 0, indxOffset = 0, dmlhOffset = 0;
};

// Creates the file; null when it cannot be created.
AviHandle* AVI_Open(const std::string& file, int32_t framesPerSecond, const void* audioFormat);
// Fixes the stream format from the bitmap; with showDialog the user picks the codec (cancel
// fails with kAviErrCancelled). 0 or an error code; any failure sets Failed.
int32_t AVI_CreateVideoStream(AviHandle* avi, const AviBitmap* bitmap, AviCompressOptions* options,
                              int32_t showDialog, void* parent);
// Writes one frame; flags kAviKeyFrame marks a key frame. 0 or an error code.
int32_t AVI_AddFrame(AviHandle* avi, const AviBitmap* bitmap, uint32_t flags);
// Completes the indexes and headers, closes the file and frees the handle.
void AVI_Close(AviHandle* avi);
