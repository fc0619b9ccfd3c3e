// Picture files (PNG, JPEG, JPEG 2000), the format chosen from the first bytes: decoded whole,
// then shrunk while decoding as backgrounds are.
#include "FuzzCommon.h"
#include "Platform_Image.h"

#include <cstdlib>

namespace {

void Check(bool loaded, const Platform_Image& image) {
    if (loaded) {
        if (image.Width <= 0 || image.Height <= 0 || image.Width > kImageMaxSide ||
            image.Height > kImageMaxSide || image.Shrink < 1 ||
            image.Pixels.size() != size_t(image.Width) * size_t(image.Height) * 4)
            std::abort(); // a decoded picture must match its size
    } else if (image.Width || image.Height || !image.Pixels.empty()) {
        std::abort(); // a failed load leaves the picture empty
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::ScratchFile("input.img");
    if (!fuzz::WriteFile(path, data, size)) return 0;
    Platform_Image image;
    std::string error;
    Check(Platform_Image_Load(path, image, &error), image);
    Platform_ImageBudget shrink;
    shrink.FitWidth = 3;
    shrink.FitHeight = 2;
    Check(Platform_Image_Load(path, image, &error, shrink), image);
    return 0;
}
