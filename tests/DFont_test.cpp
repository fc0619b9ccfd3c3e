#include "DFont.h"
#include "DoublyLinkedList.h"
#include "Platform_Screen.h"
#include "Sprite3D.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kDir = ZELVIK_TEST_BIN;

// A 32 x 16 page: three solid 7 x 10 glyphs "A" red, "B" green, "C" blue, one pixel apart,
// on a black background; "D" is a taller 7 x 14 white glyph.
DFont* ThreeGlyphFont() {
    std::vector<uint8_t> px(32 * 16 * 4, 0);
    auto fill = [&](int x0, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
        for (int y = 0; y < h; ++y)
            for (int x = x0; x < x0 + w; ++x) {
                uint8_t* p = &px[(y * 32 + x) * 4];
                p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
            }
    };
    for (int i = 0; i < 32 * 16; ++i) px[i * 4 + 3] = 255;
    fill(0, 7, 10, 255, 0, 0);
    fill(8, 7, 10, 0, 255, 0);
    fill(16, 7, 10, 0, 0, 255);
    fill(24, 7, 14, 255, 255, 255);
    Sprite3D* page = Sprite3D_FromPixels(px.data(), 32, 16);
    Sprite3D_SetKeyColour(page, 0x000000);
    DFont* f = DFont_Create(page, 'A', 0x000000);
    DFont_AddGlyph(f, {0, 0, 7, 10});
    DFont_AddGlyph(f, {8, 0, 15, 10});
    DFont_AddGlyph(f, {16, 0, 23, 10});
    DFont_AddGlyph(f, {24, 0, 31, 14});
    return f;
}

class DFontScreen : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Platform_Screen_Open(64, 32, true, "DFont test")); }
    void TearDown() override { Platform_Screen_Close(); }
    uint32_t Pixel(int32_t x, int32_t y) {
        std::vector<uint8_t> rgba;
        EXPECT_TRUE(Platform_Screen_ReadPixels(rgba));
        const uint8_t* p = &rgba[(size_t(y) * 64 + x) * 4];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> Header(const std::string& page, uint16_t first, uint32_t key, uint32_t count) {
    std::vector<uint8_t> b;
    for (char c : "TNFD" + page) b.push_back(uint8_t(c));
    b.push_back('\n');
    b.push_back(uint8_t(first)), b.push_back(uint8_t(first >> 8));
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(key >> (8 * i)));
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(count >> (8 * i)));
    return b;
}

void Glyph(std::vector<uint8_t>& b, uint16_t l, uint16_t t, uint16_t r, uint16_t bo) {
    for (uint16_t v : {l, t, r, bo}) b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8));
}

} // namespace

TEST_F(DFontScreen, MeasuresWithPerGlyphHalfEvenRounding) {
    DFont* f = ThreeGlyphFont();
    DFont_SetScale(f, 1.5, 1.5);
    EXPECT_EQ(DFont_TextWidth(f, u"ABC"), 30); // 10.5 rounds to 10 three times
    EXPECT_EQ(DFont_TextHeight(f, u"ABC"), 15);
    EXPECT_EQ(DFont_TextHeight(f, u"ADB"), 21); // the tallest glyph
    EXPECT_EQ(DFont_TextHeight(f, u""), 0);
    // Characters outside the table take no room.
    EXPECT_EQ(DFont_TextWidth(f, u"\x01 A\x7F"), 10);
    DFont_SetScale(f, 1.0, 1.0);
    EXPECT_EQ(DFont_TextWidth(f, u"AB"), 14);
    DFont_Free(f);
}

TEST_F(DFontScreen, PlacesGlyphsAtRoundedPositions) {
    DFont* f = ThreeGlyphFont();
    DFont_SetScale(f, 1.5, 1.5);
    DFont_DrawText(f, 0, 2, u"A?BC"); // '?' is below FirstChar: skipped
    EXPECT_EQ(Pixel(0, 2), 0xFF0000u);
    EXPECT_EQ(Pixel(9, 16), 0xFF0000u);
    EXPECT_EQ(Pixel(10, 2), 0x00FF00u);
    EXPECT_EQ(Pixel(19, 5), 0x00FF00u);
    EXPECT_EQ(Pixel(20, 5), 0x0000FFu);
    EXPECT_EQ(Pixel(29, 5), 0x0000FFu);
    EXPECT_EQ(Pixel(30, 5), 0u);
    EXPECT_EQ(Pixel(5, 17), 0u); // height R(15)
    EXPECT_EQ(Pixel(5, 1), 0u);
    DFont_Free(f);
}

TEST_F(DFontScreen, AlphaFadesTheText) {
    DFont* f = ThreeGlyphFont();
    DFont_SetAlpha(f, 1000);
    EXPECT_EQ(f->Page->Alpha, 255);
    DFont_SetAlpha(f, 0);
    DFont_DrawText(f, 0, 0, u"A");
    EXPECT_EQ(Pixel(3, 3), 0u);
    DFont_Free(f);
}

TEST(DFontTrim, CutsTheCommonEmptyBorder) {
    // Two 8 x 8 glyph cells; ink at columns 2..4 and rows 1..5 (over both glyphs), and a pixel
    // just right of the second cell that belongs to no glyph.
    std::vector<uint8_t> px(32 * 8 * 4, 0);
    auto ink = [&](int x, int y) { px[(y * 32 + x) * 4] = 255, px[(y * 32 + x) * 4 + 3] = 255; };
    ink(2, 1), ink(4, 3);
    ink(8 + 3, 5);
    ink(16, 7);
    DFont* f = DFont_Create(Sprite3D_FromPixels(px.data(), 32, 8), 32, 0);
    DFont_AddGlyph(f, {0, 0, 8, 8});
    DFont_AddGlyph(f, {8, 0, 16, 8});
    DFont_TrimGlyphs(f);
    const DFontGlyph* a = DFont_Glyph(f, 32);
    const DFontGlyph* b = DFont_Glyph(f, 33);
    EXPECT_EQ(a->Left, 2);
    EXPECT_EQ(a->Top, 1);
    EXPECT_EQ(a->Right, 5);
    EXPECT_EQ(a->Bottom, 6);
    EXPECT_EQ(b->Left, 10);
    EXPECT_EQ(b->Right, 13);
    DFont_Free(f);
    // Nothing but background: the glyphs stay usable as they were.
    std::vector<uint8_t> blank(8 * 8 * 4, 0);
    DFont* g = DFont_Create(Sprite3D_FromPixels(blank.data(), 8, 8), 32, 0);
    DFont_AddGlyph(g, {0, 0, 8, 8});
    DFont_TrimGlyphs(g);
    EXPECT_EQ(DFont_Glyph(g, 32)->Right, 8);
    DFont_Free(g);
}

TEST_F(DFontScreen, SaveAndLoadRoundTrip) {
    DFont* f = ThreeGlyphFont();
    const std::string path = kDir + "/dfont_roundtrip.fnt";
    ASSERT_EQ(DFont_Save(f, path.c_str()), 1);
    std::string error;
    DFont* g = DFont_Load(path, &error);
    ASSERT_NE(g, nullptr) << error;
    EXPECT_EQ(g->FirstChar, 'A');
    EXPECT_EQ(g->KeyColour, 0u);
    ASSERT_EQ(DoublyLinkedList_CountList(g->Glyphs), 4);
    const DFontGlyph* d = DFont_Glyph(g, 'D');
    EXPECT_EQ(d->Left, 24);
    EXPECT_EQ(d->Bottom, 14);
    EXPECT_EQ(g->Page->ImageWidth, 32);
    EXPECT_EQ(Sprite3D_PixelAt(g->Page, 9, 0), 0xFF00FF00u);
    EXPECT_EQ(Sprite3D_PixelAt(g->Page, 7, 0) >> 24, 0u); // the key colour is transparent again
    DFont_SetScale(g, 1.5, 1.5);
    EXPECT_EQ(DFont_TextWidth(g, u"ABC"), 30);
    DFont_Free(f);
    DFont_Free(g);
}

TEST_F(DFontScreen, RejectsBrokenDescriptions) {
    DFont* f = ThreeGlyphFont();
    ASSERT_EQ(DFont_Save(f, (kDir + "/dfont_page.fnt").c_str()), 1);
    DFont_Free(f);
    std::string error;
    EXPECT_EQ(DFont_Load(kDir + "/no_such_font.fnt", &error), nullptr);
    std::vector<uint8_t> bad = Header("dfont_page.fnt.png", 65, 0, 1);
    bad[0] = 'X';
    WriteFile(kDir + "/dfont_magic.fnt", bad);
    EXPECT_EQ(DFont_Load(kDir + "/dfont_magic.fnt", &error), nullptr);
    std::vector<uint8_t> cut = Header("dfont_page.fnt.png", 65, 0, 1);
    cut.resize(cut.size() - 3);
    WriteFile(kDir + "/dfont_cut.fnt", cut);
    EXPECT_EQ(DFont_Load(kDir + "/dfont_cut.fnt", &error), nullptr);
    EXPECT_NE(error.find("truncated"), std::string::npos);
    WriteFile(kDir + "/dfont_nopage.fnt", Header("missing.png", 65, 0, 0));
    EXPECT_EQ(DFont_Load(kDir + "/dfont_nopage.fnt", &error), nullptr);
    // A huge count with two whole records (and half of a third): two glyphs, nothing more.
    std::vector<uint8_t> many = Header("dfont_page.fnt.png", 65, 0, 0xFFFFFFFF);
    Glyph(many, 0, 0, 7, 10);
    Glyph(many, 9, 9, 2, 2); // right and bottom before left and top: no size
    many.insert(many.end(), {1, 2, 3, 4});
    WriteFile(kDir + "/dfont_many.fnt", many);
    DFont* m = DFont_Load(kDir + "/dfont_many.fnt", &error);
    ASSERT_NE(m, nullptr) << error;
    EXPECT_EQ(DoublyLinkedList_CountList(m->Glyphs), 2);
    EXPECT_EQ(DFont_TextWidth(m, u"AB"), 7);
    EXPECT_EQ(DFont_TextHeight(m, u"B"), 0);
    DFont_DrawText(m, 0, 0, u"BA"); // the empty glyph draws nothing and does not crash
    DFont_Free(m);
}

TEST(DFontData, DefaultFontLoadsAndMeasuresDigitsAlike) {
    ASSERT_TRUE(Platform_Screen_Open(64, 64, true, "DFont data"));
    std::string error;
    DFont* f = DFont_Load(std::string(ZELVIK_GAME_DIR) + "/skins/data/fonts/f1.fnt", &error);
    ASSERT_NE(f, nullptr) << error;
    EXPECT_EQ(f->FirstChar, 32);
    EXPECT_EQ(DoublyLinkedList_CountList(f->Glyphs), 95);
    EXPECT_EQ(DFont_TextWidth(f, u"0"), DFont_TextWidth(f, u"8")); // tabular digits
    EXPECT_GT(DFont_TextHeight(f, u"Ready"), 10);
    DFont_Free(f);
    Platform_Screen_Close();
}
