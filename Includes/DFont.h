// Bitmap fonts: one page picture and a "TNFD" description of each glyph's rectangle on it.
// Texts are drawn glyph by glyph as textured quads, so they scale with the screen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Platform_Image.h"

struct DFont;
struct Sprite3D;
struct DoublyLinkedList;

constexpr uint32_t kDFontMagic = 0x44464E54; // "TNFD" in file byte order

struct DFontGlyph {
    int32_t Left, Top, Right, Bottom; // page pixels; right and bottom exclusive
};

struct DFontOps {
    int32_t (*TrimGlyphs)(DFont* f);
    int32_t (*DrawText)(DFont* f, int32_t x, int32_t y, const char16_t* text);
    int32_t (*TextWidth)(DFont* f, const char16_t* text);
    int32_t (*TextHeight)(DFont* f, const char16_t* text);
    int32_t (*SetScale)(DFont* f, double scaleX, double scaleY);
    int32_t (*SetAlpha)(DFont* f, uint32_t alpha);
    int32_t (*Save)(DFont* f, const char* path);
    int32_t (*Free)(DFont* f);
};
static_assert(sizeof(DFontOps) == 8 * sizeof(void*));

struct DFont {
    const DFontOps* ops;
    Sprite3D* Page;
    uint32_t KeyColour; // 0x00BBGGRR
    uint16_t FirstChar;
    DoublyLinkedList* Glyphs; // DFontGlyph elements, index = code - FirstChar
    double ScaleX;
    double ScaleY;
};

// Null for a missing or truncated file, a wrong magic or a page picture that cannot be
// loaded (or passes the budget); *error (when given) then says why, naming the page.
DFont* DFont_Load(const std::string& path, std::string* error = nullptr,
                  const Platform_ImageBudget& budget = {});
// A font over an existing page (taken over by the font); null when memory runs out.
DFont* DFont_Create(Sprite3D* page, uint16_t firstChar, uint32_t keyColour);
bool DFont_AddGlyph(DFont* f, const DFontGlyph& glyph);

int32_t DFont_TrimGlyphs(DFont* f);
int32_t DFont_DrawText(DFont* f, int32_t x, int32_t y, const char16_t* text);
int32_t DFont_TextWidth(DFont* f, const char16_t* text);
int32_t DFont_TextHeight(DFont* f, const char16_t* text);
int32_t DFont_SetScale(DFont* f, double scaleX, double scaleY);
int32_t DFont_SetAlpha(DFont* f, uint32_t alpha);
// Writes path + ".png" and the description at path; 1 on success, 0 on failure.
int32_t DFont_Save(DFont* f, const char* path);
int32_t DFont_Free(DFont* f);

// Glyph of a character code, null when the font has none.
const DFontGlyph* DFont_Glyph(DFont* f, uint32_t code);
