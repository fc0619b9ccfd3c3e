// Skin XML: parse, read into the element tree (classes, positions, sizes, fonts, pictures),
// clone and free.
#include "FuzzCommon.h"
#include "Vantrel_GUI_Resources.h"
#include "Vantrel_GUI_Skin.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SkinElement* root = SkinElement_New();
    if (!root) return 0;
    std::string error;
    const std::string xml(reinterpret_cast<const char*>(data), size);
    if (SkinElement_LoadText(root, xml, &error)) {
        SkinPoint point{};
        SkinElement_AbsolutePosition(root, &point);
        SkinElement* copy = SkinElement_Clone(root);
        if (copy) SkinElement_FreeTree(copy);
    }
    SkinElement_FreeTree(root);
    // Fonts and pictures named by this input stay out of the next one's way.
    Resource_FreeAll();
    return 0;
}
