// AVI capture on FFmpeg: libavformat writes the container (OpenDML past 1 GiB, so captures
// above 4 GB stay playable), libavcodec encodes with the codec picked in the codec box
// (lossless FFV1, H.264 where the library has an encoder, Motion JPEG or uncompressed frames).
// Frames are converted and encoded on a worker thread fed through a short queue, so the
// caller's loop only pays for a copy; the codec's own threads share the encoding.
#pragma once

#include <cstdint>
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

constexpr uint32_t kAviFourccDib = 0x20424944;  // "DIB ": uncompressed
constexpr uint32_t kAviFourccMjpg = 0x47504A4D; // "MJPG"
constexpr uint32_t kAviFourccFfv1 = 0x31564646; // "FFV1": lossless
constexpr uint32_t kAviFourccH264 = 0x34363248; // "H264"

// Filled by the codec box; a zeroed record means uncompressed.
struct AviCompressOptions {
    uint32_t handler = 0; // one of the codes above, or 0
    int32_t quality = 0;  // 1-100 for the lossy codecs; 0 takes 90
};

// A codec the box offers: its code and the name shown.
struct AviCodecChoice {
    uint32_t handler;
    std::string name;
};
// The codecs this FFmpeg build can encode, in the box's order (the first is the default).
std::vector<AviCodecChoice> AVI_AvailableCodecs();

constexpr uint32_t kAviKeyFrame = 16;
constexpr int32_t kAviErrBadFormat = 0x406A;
constexpr int32_t kAviErrFailed = 0x40C7;
constexpr int32_t kAviErrStreamExists = 0x4070;
constexpr int32_t kAviErrWrite = 0x406D;
constexpr int32_t kAviErrCancelled = 0x40C6;
constexpr int32_t kAviErrCompress = 0x4076;

struct AviWriter; // the FFmpeg side, private to avi_utils

struct AviHandle {
    AviWriter* File = nullptr;
    uint8_t AudioFormat[18] = {};
    int32_t FramesPerSecond = 0;
    void* AudioStream = nullptr;
    bool VideoStream = false;      // stream headers written
    bool CompressedStream = false; // codec fixed, frames may follow
    uint32_t FrameCount = 0;
    uint32_t SampleCount = 0;
    int32_t Failed = 0;
    int32_t FailCode = 0; // the error code of the first failure
    uint32_t handler = 0; // the codec in use
};

// Creates the file; null when it cannot be created (*error, when given, then says why).
AviHandle* AVI_Open(const std::string& file, int32_t framesPerSecond, const void* audioFormat,
                    std::string* error = nullptr);
// Fixes the stream format from the bitmap; with showDialog the user picks the codec (cancel
// fails with kAviErrCancelled). 0 or an error code; any failure sets Failed.
int32_t AVI_CreateVideoStream(AviHandle* avi, const AviBitmap* bitmap, AviCompressOptions* options,
                              int32_t showDialog, void* parent);
// Queues one frame; flags kAviKeyFrame marks a key frame. 0 or an error code (an encoding or
// write failure of an earlier frame shows here).
int32_t AVI_AddFrame(AviHandle* avi, const AviBitmap* bitmap, uint32_t flags);
// Why the capture failed ("No space left on device", "no codec was chosen"...); "" while it
// has not failed.
std::string AVI_FailureReason(const AviHandle* avi);
// Encodes what is queued, completes the file, closes it and frees the handle. False when any
// part of the capture failed (*error, when given, then says why).
bool AVI_Close(AviHandle* avi, std::string* error = nullptr);
