// Compares a screenshot with a reviewed reference inside given rectangles, with a tolerance for
// the small differences that timing and filtering bring:
//   e2e_shotdiff <shot.png> <reference.png> x,y,w,h [x,y,w,h ...]
// A pixel differs when any of its colour channels is off by more than 48; a rectangle passes
// while under 1% of its pixels differ. Exit status 0 when every rectangle passes, 1 when one
// does not, 2 on bad arguments or an unreadable picture.
#include "Platform_Image.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Rect {
    int32_t x, y, w, h;
};

bool ParseRect(const char* text, Rect* r) {
    return std::sscanf(text, "%d,%d,%d,%d", &r->x, &r->y, &r->w, &r->h) == 4 && r->x >= 0 &&
           r->y >= 0 && r->w > 0 && r->h > 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: e2e_shotdiff <shot.png> <reference.png> x,y,w,h ...\n");
        return 2;
    }
    Platform_Image shot, want;
    std::string error;
    if (!Platform_Image_Load(argv[1], shot, &error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 2;
    }
    if (!Platform_Image_Load(argv[2], want, &error)) {
        std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
        return 2;
    }
    if (shot.Width != want.Width || shot.Height != want.Height) {
        std::fprintf(stderr, "%s is %dx%d, the reference %dx%d\n", argv[1], shot.Width, shot.Height,
                     want.Width, want.Height);
        return 1;
    }
    int status = 0;
    for (int i = 3; i < argc; ++i) {
        Rect r{};
        if (!ParseRect(argv[i], &r) || r.x + r.w > shot.Width || r.y + r.h > shot.Height) {
            std::fprintf(stderr, "bad rectangle %s\n", argv[i]);
            return 2;
        }
        int64_t off = 0;
        for (int32_t y = r.y; y < r.y + r.h; ++y)
            for (int32_t x = r.x; x < r.x + r.w; ++x) {
                const size_t at = (size_t(y) * size_t(shot.Width) + size_t(x)) * 4;
                for (int k = 0; k < 3; ++k)
                    if (std::abs(int(shot.Pixels[at + k]) - int(want.Pixels[at + k])) > 48) {
                        ++off;
                        break;
                    }
            }
        const int64_t total = int64_t(r.w) * r.h;
        const bool pass = off * 100 < total;
        std::printf("%s %s: %lld of %lld pixels differ%s\n", argv[1], argv[i],
                    static_cast<long long>(off), static_cast<long long>(total),
                    pass ? "" : " (too many)");
        if (!pass) status = 1;
    }
    return status;
}
