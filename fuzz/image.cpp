// Picture files (PNG, JPEG, JPEG 2000), the format chosen from the first bytes.
#include "FuzzCommon.h"
#include "Platform_Image.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::ScratchFile("input.img");
    if (!fuzz::WriteFile(path, data, size)) return 0;
    Platform_Image image;
    std::string error;
    if (Platform_Image_Load(path, image, &error)) {
        if (image.Width <= 0 || image.Height <= 0 || image.Width > kImageMaxSide ||
            image.Height > kImageMaxSide ||
            image.Pixels.size() != size_t(image.Width) * size_t(image.Height) * 4)
            std::abort(); // a decoded picture must match its size
    } else if (image.Width || image.Height || !image.Pixels.empty()) {
        std::abort(); // a failed load leaves the picture empty
    }
    return 0;
}
