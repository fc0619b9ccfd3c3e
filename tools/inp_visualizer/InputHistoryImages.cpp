// Draws the seven input-history button pictures (four arrows, three buttons) and writes them
// as "InputHistory_*.png" into the folder named on the command line. Run at build time.
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;
constexpr int kSamples = 4; // per axis, for smooth edges

struct Rgb {
    float r, g, b;
};

// 5 x 7 letters, one row per byte, bit 4 the leftmost column.
constexpr uint8_t kLetterA[7] = {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11};
constexpr uint8_t kLetterB[7] = {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E};
constexpr uint8_t kLetterC[7] = {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E};

struct Picture {
    const char* file;
    Rgb colour;
    int arrowTurns;        // quarter turns clockwise from "up"; -1 for a button
    const uint8_t* letter; // buttons only
};

const Picture kPictures[7] = {
    {"InputHistory_Up.png", {0.90f, 0.24f, 0.24f}, 0, nullptr},
    {"InputHistory_Left.png", {0.24f, 0.78f, 0.24f}, 3, nullptr},
    {"InputHistory_Down.png", {0.24f, 0.40f, 0.90f}, 2, nullptr},
    {"InputHistory_Right.png", {0.90f, 0.78f, 0.16f}, 1, nullptr},
    {"InputHistory_A.png", {0.86f, 0.24f, 0.86f}, -1, kLetterA},
    {"InputHistory_B.png", {0.20f, 0.78f, 0.86f}, -1, kLetterB},
    {"InputHistory_C.png", {0.94f, 0.55f, 0.16f}, -1, kLetterC},
};

float Cross(float ax, float ay, float bx, float by, float px, float py) {
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

bool InTriangle(float x, float y) {
    // Head of an upward arrow: tip at the top, base across the middle.
    const float ax = 0.5f, ay = 0.14f, bx = 0.84f, by = 0.52f, cx = 0.16f, cy = 0.52f;
    const float d1 = Cross(ax, ay, bx, by, x, y), d2 = Cross(bx, by, cx, cy, x, y),
                d3 = Cross(cx, cy, ax, ay, x, y);
    return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
}

bool InUpArrow(float x, float y) {
    return InTriangle(x, y) || (x >= 0.38f && x <= 0.62f && y >= 0.5f && y <= 0.86f);
}

bool InRoundedSquare(float x, float y) {
    const float r = 0.2f;
    const float cx = std::fmin(std::fmax(x, r), 1 - r), cy = std::fmin(std::fmax(y, r), 1 - r);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

bool InCircle(float x, float y) {
    return (x - 0.5f) * (x - 0.5f) + (y - 0.5f) * (y - 0.5f) <= 0.47f * 0.47f;
}

bool InLetter(const uint8_t* rows, float x, float y) {
    // The 5 x 7 cells fill the middle of the picture.
    const float left = 0.5f - 2.5f * 0.095f, top = 0.5f - 3.5f * 0.095f;
    const int col = int(std::floor((x - left) / 0.095f)), row = int(std::floor((y - top) / 0.095f));
    return col >= 0 && col < 5 && row >= 0 && row < 7 && (rows[row] >> (4 - col)) & 1;
}

// Coordinates of the upward shape that lands on (x, y) after `turns` clockwise quarter turns.
void Unturn(int turns, float x, float y, float& ux, float& uy) {
    ux = x;
    uy = y;
    for (int i = 0; i < turns; ++i) {
        const float t = ux;
        ux = uy;
        uy = 1 - t;
    }
}

std::vector<uint8_t> Draw(const Picture& p) {
    std::vector<uint8_t> rgba(kSize * kSize * 4);
    for (int py = 0; py < kSize; ++py) {
        for (int px = 0; px < kSize; ++px) {
            float cover = 0, symbol = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const float x = (px + (sx + 0.5f) / kSamples) / kSize;
                    const float y = (py + (sy + 0.5f) / kSamples) / kSize;
                    bool inBack, inSymbol;
                    if (p.arrowTurns >= 0) {
                        float ux, uy;
                        Unturn(p.arrowTurns, x, y, ux, uy);
                        inBack = InRoundedSquare(x, y);
                        inSymbol = InUpArrow(ux, uy);
                    } else {
                        inBack = InCircle(x, y);
                        inSymbol = InLetter(p.letter, x, y);
                    }
                    cover += inBack;
                    symbol += inBack && inSymbol;
                }
            }
            const float n = kSamples * kSamples;
            const float s = cover > 0 ? symbol / cover : 0;
            uint8_t* o = &rgba[(py * kSize + px) * 4];
            o[0] = uint8_t(std::lround(255 * (p.colour.r * (1 - s) + 0.96f * s)));
            o[1] = uint8_t(std::lround(255 * (p.colour.g * (1 - s) + 0.96f * s)));
            o[2] = uint8_t(std::lround(255 * (p.colour.b * (1 - s) + 0.96f * s)));
            o[3] = uint8_t(std::lround(255 * cover / n));
        }
    }
    return rgba;
}

bool WritePng(const std::string& path, const std::vector<uint8_t>& rgba) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kSize;
    image.height = kSize;
    image.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 1;
    }
    for (const Picture& p : kPictures) {
        const std::string path = std::string(argv[1]) + "/" + p.file;
        if (!WritePng(path, Draw(p))) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
