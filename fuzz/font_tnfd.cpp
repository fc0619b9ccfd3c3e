// "TNFD" font descriptions: header, page picture name, glyph records. A small real page
// picture lies next to the description under the name the data set's font uses.
#include "DFont.h"
#include "DoublyLinkedList.h"
#include "FuzzCommon.h"
#include "Platform_Image.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        std::vector<uint8_t> page(16 * 8 * 4, 255);
        Platform_Image_SavePng(fuzz::ScratchFile("f1.fnt.png"), page.data(), 16, 8, 16 * 4);
        return fuzz::ScratchFile("f1.fnt");
    }();
    if (!fuzz::WriteFile(path, data, size)) return 0;
    std::string error;
    DFont* f = DFont_Load(path, &error);
    if (!f) return 0;
    const char16_t text[] = {u'A', u'g', 0x7F, 0xFFFF, u' ', 0};
    DFont_TextWidth(f, text);
    DFont_TextHeight(f, text);
    for (uint32_t code : {0u, 32u, 65u, 0xFFFFu}) DFont_Glyph(f, code);
    DFont_TrimGlyphs(f);
    DFont_Free(f);
    return 0;
}
