// Reads a playfield off a screenshot for the end-to-end tests: the rectangle X Y W H is cut into
// COLS x ROWS cells and each cell printed as one character, a line per row:
//   '#' a block (the cell's centre is a clearly coloured pixel),
//   'w' no block, but white pixels inside (text such as "Ready" or a menu line),
//   '.' neither.
// Usage: e2e_cells PNG X Y W H COLS ROWS. Exit 2 on bad arguments or an unreadable picture.
#include "Platform_Image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool ToInt(const char* text, int32_t lo, int32_t hi, int32_t* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < lo || v > hi) return false;
    *out = int32_t(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int32_t v[6];
    bool ok = argc == 8;
    for (int i = 0; ok && i < 6; ++i) ok = ToInt(argv[2 + i], i < 4 ? 0 : 1, kImageMaxSide, &v[i]);
    Platform_Image img;
    std::string error;
    if (!ok || !Platform_Image_Load(argv[1], img, &error)) {
        std::fprintf(stderr, "usage: e2e_cells PNG X Y W H COLS ROWS %s\n", error.c_str());
        return 2;
    }
    const int32_t x0 = v[0], y0 = v[1], w = v[2], h = v[3], cols = v[4], rows = v[5];
    auto pixel = [&](int32_t x, int32_t y) -> const uint8_t* {
        if (x < 0 || y < 0 || x >= img.Width || y >= img.Height) return nullptr;
        return &img.Pixels[(size_t(y) * size_t(img.Width) + size_t(x)) * 4];
    };
    for (int32_t r = 0; r < rows; ++r) {
        std::string line;
        for (int32_t c = 0; c < cols; ++c) {
            const int32_t left = x0 + int32_t(int64_t(c) * w / cols);
            const int32_t right = x0 + int32_t(int64_t(c + 1) * w / cols);
            const int32_t top = y0 + int32_t(int64_t(r) * h / rows);
            const int32_t bottom = y0 + int32_t(int64_t(r + 1) * h / rows);
            char mark = '.';
            if (const uint8_t* p = pixel((left + right) / 2, (top + bottom) / 2)) {
                const int hi = std::max({p[0], p[1], p[2]}), lo = std::min({p[0], p[1], p[2]});
                if (hi > 115 && hi - lo > 77) mark = '#';
            }
            for (int32_t y = top; mark == '.' && y < bottom; ++y)
                for (int32_t x = left; mark == '.' && x < right; ++x)
                    if (const uint8_t* p = pixel(x, y); p && p[0] > 210 && p[1] > 210 && p[2] > 210)
                        mark = 'w';
            line += mark;
        }
        std::printf("%s\n", line.c_str());
    }
    return 0;
}
