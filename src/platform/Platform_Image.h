// Picture files: PNG, JPEG and JPEG 2000 decoded to 8-bit RGBA, PNG written from RGBA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pictures larger than this on either side are refused before any pixel memory is taken.
constexpr int32_t kImageMaxSide = 16384;

// Pictures of more pixels than this are refused from their header, before decoding.
constexpr int64_t kImageMaxPixels = int64_t{64} << 20;

// Memory one picture may take while it is decoded and drawn (its texture included), unless the
// caller gives less (what is left of its total for pictures).
constexpr int64_t kImageMaxBytes = int64_t{512} << 20;

// A progressive JPEG is decoded once per scan over the whole picture; encoders write about ten,
// so a file of more is refused rather than costing minutes.
constexpr int32_t kJpegMaxScans = 100;

// Each scan goes over a band of coefficients in every block of its components: libjpeg's own
// progression goes over all of a picture's coefficients about 3 times in all, so scans adding up
// to more than this many times are refused.
constexpr int32_t kJpegMaxPasses = 6;

// Decoding that takes more CPU time than this is given up (JPEG, checked between rows).
constexpr int32_t kImageMaxDecodeSeconds = 5;

// How large a picture the caller accepts, counted from the header before decoding.
struct Platform_ImageBudget {
    int64_t MaxPixels = kImageMaxPixels; // width x height
    int32_t MaxSide = 0; // 0: only kImageMaxSide (give the renderer's largest texture side)
    // Bytes the decoder's working memory and the texture (power-of-two sides, RGBA, taken
    // TextureCopies times) may take together; 0: kImageMaxBytes.
    int64_t MaxBytes = 0;
    int32_t TextureCopies = 1;
    // A picture drawn smaller than it is (a background zoomed to the screen) may be shrunk
    // while it is decoded, by the largest whole factor that keeps each UnitWidth x UnitHeight
    // cell of it (0: the whole picture) at least FitWidth x FitHeight and cuts the cells
    // evenly. FitWidth 0: never shrunk.
    int32_t FitWidth = 0;
    int32_t FitHeight = 0;
    int32_t UnitWidth = 0;
    int32_t UnitHeight = 0;
};

struct Platform_Image {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Pixels; // RGBA, rows top to bottom, Width * 4 bytes each
    int32_t Shrink = 1;          // the whole factor the picture was shrunk by
};

// The format is chosen from the file's first bytes. False (with a reason in *error when given)
// for a missing, truncated, corrupt, oversized or unsupported file; out is then empty. A picture
// whose header declares more than the budget is refused before its pixels are decoded, the
// reason giving the size ("16384 x 16384 pixels is larger than ...").
bool Platform_Image_Load(const std::string& path, Platform_Image& out, std::string* error = nullptr,
                         const Platform_ImageBudget& budget = {});
// Bytes of the texture a picture of this size is drawn from: power-of-two sides, RGBA.
int64_t Platform_Image_TextureBytes(int64_t width, int64_t height);
// Writes an 8-bit RGBA PNG; pitch is the byte distance between rows. The file is replaced whole
// (Platform_File_Replace). False on any failure, the old file then untouched and *error (when
// given) saying why.
bool Platform_Image_SavePng(const std::string& path, const uint8_t* rgba, int32_t width,
                            int32_t height, int32_t pitch, std::string* error = nullptr);
