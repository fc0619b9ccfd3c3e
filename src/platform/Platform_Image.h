// Picture files: PNG, JPEG and JPEG 2000 decoded to 8-bit RGBA, PNG written from RGBA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pictures larger than this on either side are refused before any pixel memory is taken.
constexpr int32_t kImageMaxSide = 16384;

// Pictures of more pixels than this are refused from their header, before decoding.
constexpr int64_t kImageMaxPixels = int64_t{64} << 20;

// How large a picture the caller accepts: MaxSide 0 means only kImageMaxSide applies (give the
// renderer's largest texture side for pictures bound for the screen).
struct Platform_ImageBudget {
    int64_t MaxPixels = kImageMaxPixels;
    int32_t MaxSide = 0;
};

struct Platform_Image {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Pixels; // RGBA, rows top to bottom, Width * 4 bytes each
};

// The format is chosen from the file's first bytes. False (with a reason in *error when given)
// for a missing, truncated, corrupt, oversized or unsupported file; out is then empty. A picture
// whose header declares a size past the budget is refused before its pixels are decoded, the
// reason giving the size ("16384 x 16384 pixels is larger than ...").
bool Platform_Image_Load(const std::string& path, Platform_Image& out, std::string* error = nullptr,
                         const Platform_ImageBudget& budget = {});
// Writes an 8-bit RGBA PNG; pitch is the byte distance between rows. The file is replaced whole
// (Platform_File_Replace). False on any failure, the old file then untouched and *error (when
// given) saying why.
bool Platform_Image_SavePng(const std::string& path, const uint8_t* rgba, int32_t width,
                            int32_t height, int32_t pitch, std::string* error = nullptr);
