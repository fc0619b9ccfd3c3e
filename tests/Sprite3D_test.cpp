#include "Platform_Screen.h"
#include "Sprite3D.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class Sprite3DScreen : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Platform_Screen_Open(64, 64, true, "Sprite3D test"));
        Sprite3D_SetFiltering(false);
    }
    void TearDown() override { Platform_Screen_Close(); }

    uint32_t Pixel(int32_t x, int32_t y) {
        std::vector<uint8_t> rgba;
        EXPECT_TRUE(Platform_Screen_ReadPixels(rgba));
        const uint8_t* p = &rgba[(size_t(y) * 64 + x) * 4];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; // 0xRRGGBB
    }
};

Sprite3D* WhiteSquare(int32_t side) {
    Sprite3D* s = Sprite3D_Create(side, side, 4);
    std::vector<uint8_t> white(size_t(side) * side * 4, 0xFF);
    Sprite3D_WritePixels(s, white.data(), side, side);
    return s;
}

} // namespace

TEST(Sprite3DRounding, HalvesGoToEvenAndSaturate) {
    EXPECT_EQ(RoundPixel(10.5), 10);
    EXPECT_EQ(RoundPixel(11.5), 12);
    EXPECT_EQ(RoundPixel(-2.5), -2);
    EXPECT_EQ(RoundPixel(2.4999), 2);
    EXPECT_EQ(RoundPixel(std::nan("")), 0);
    EXPECT_EQ(RoundPixel(1e300), INT32_MAX);
    EXPECT_EQ(RoundPixel(-1e300), INT32_MIN);
}

TEST(Sprite3DTexture, PowerOfTwoSizesAndSourceRectangle) {
    EXPECT_EQ(Sprite3D_NextPowerOfTwo(100), 128u);
    EXPECT_EQ(Sprite3D_NextPowerOfTwo(64), 64u);
    EXPECT_EQ(Sprite3D_NextPowerOfTwo(1), 1u);
    std::vector<uint8_t> pixels(100 * 60 * 4, 0x80);
    Sprite3D* s = Sprite3D_FromPixels(pixels.data(), 100, 60);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->TextureWidth, 128);
    EXPECT_EQ(s->TextureHeight, 64);
    EXPECT_EQ(s->ImageWidth, 100);
    EXPECT_FLOAT_EQ(s->Quad->U[3], 100.0f / 128);
    EXPECT_FLOAT_EQ(s->Quad->V[3], 60.0f / 64);
    Sprite3D_Free(s);
}

TEST(Sprite3DClip, LimitsTheRectangleToTheTexture) {
    Sprite3D* s = Sprite3D_Create(64, 64, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(Sprite3D_Clip(s, 0, 0, 999, 999), 1);
    EXPECT_FLOAT_EQ(s->Quad->U[0], 0.0f);
    EXPECT_FLOAT_EQ(s->Quad->U[3], 1.0f);
    EXPECT_FLOAT_EQ(s->Quad->V[3], 1.0f);
    // Past the edge: zero size at the edge.
    Sprite3D_Clip(s, 80, 70, 10, 10);
    EXPECT_FLOAT_EQ(s->Quad->U[0], 1.0f);
    EXPECT_FLOAT_EQ(s->Quad->U[1], 1.0f);
    EXPECT_FLOAT_EQ(s->Quad->V[2], 1.0f);
    // Negative values become 0.
    Sprite3D_Clip(s, -5, -5, 16, -3);
    EXPECT_FLOAT_EQ(s->Quad->U[0], 0.0f);
    EXPECT_FLOAT_EQ(s->Quad->U[1], 0.25f);
    EXPECT_FLOAT_EQ(s->Quad->V[2], 0.0f);
    // Vertex order: top-left, top-right, bottom-left, bottom-right.
    Sprite3D_Clip(s, 16, 32, 16, 16);
    EXPECT_FLOAT_EQ(s->Quad->U[0], 0.25f);
    EXPECT_FLOAT_EQ(s->Quad->V[0], 0.5f);
    EXPECT_FLOAT_EQ(s->Quad->U[1], 0.5f);
    EXPECT_FLOAT_EQ(s->Quad->V[1], 0.5f);
    EXPECT_FLOAT_EQ(s->Quad->U[2], 0.25f);
    EXPECT_FLOAT_EQ(s->Quad->V[2], 0.75f);
    Sprite3D_Free(s);
    Sprite3D* empty = Sprite3D_Create(0, 0, 4);
    EXPECT_EQ(Sprite3D_Clip(empty, 0, 0, 1, 1), 0);
    EXPECT_EQ(Sprite3D_SetColor(empty, 0, 0, 0, 0), 0);
    Sprite3D_Free(empty);
    Sprite3D_Free(nullptr);
}

TEST(Sprite3DColour, RedAndBlueBytesSwapAndAlphaClamps) {
    Sprite3D* s = Sprite3D_Create(1, 1, 4);
    Sprite3D_SetColor(s, 0x80112233, 0xFF0000FF, 0x00FF0000, 0x0000FF00);
    EXPECT_EQ(s->Quad->Colour[0], 0x80332211u);
    EXPECT_EQ(s->Quad->Colour[1], 0xFFFF0000u);
    EXPECT_EQ(s->Quad->Colour[2], 0x000000FFu);
    EXPECT_EQ(s->Quad->Colour[3], 0x0000FF00u);
    Sprite3D_SetAlpha(s, 300);
    EXPECT_EQ(s->Alpha, 255);
    Sprite3D_SetAlpha(s, uint32_t(-1));
    EXPECT_EQ(s->Alpha, 255);
    Sprite3D_SetAlpha(s, 17);
    EXPECT_EQ(s->Alpha, 17);
    Sprite3D_Free(s);
}

TEST_F(Sprite3DScreen, TintedUnitQuadZoomedToACellIsASolidCell) {
    Sprite3D* s = WhiteSquare(1);
    // Cell data byte order: red in the low byte.
    Sprite3D_SetColor(s, 0xFF2080E0, 0xFF2080E0, 0xFF2080E0, 0xFF2080E0);
    Sprite3D_Zoom(s, 16, 16);
    Sprite3D_Display(s, 8, 8);
    for (int32_t y = 8; y < 24; y += 5)
        for (int32_t x = 8; x < 24; x += 5) EXPECT_EQ(Pixel(x, y), 0xE08020u) << x << "," << y;
    EXPECT_EQ(Pixel(7, 8), 0u);
    EXPECT_EQ(Pixel(24, 23), 0u);
    EXPECT_EQ(Pixel(8, 24), 0u);
    Sprite3D_Free(s);
}

TEST_F(Sprite3DScreen, OverallAlphaScalesVertexAlpha) {
    Sprite3D* s = WhiteSquare(1);
    Sprite3D_SetColor(s, 0x800000FF, 0x800000FF, 0x800000FF, 0x800000FF);
    Sprite3D_SetAlpha(s, 128);
    Sprite3D_Zoom(s, 8, 8);
    Sprite3D_Display(s, 0, 0);
    const uint32_t red = Pixel(4, 4) >> 16;
    EXPECT_NEAR(double(red), 255.0 * 0.5 * 0.5, 6.0); // over black
    Sprite3D_Free(s);
}

TEST_F(Sprite3DScreen, OutlineBarTurnsClockwiseOntoEachEdge) {
    Sprite3D* bar = Sprite3D_Create(64, 64, 4);
    std::vector<uint8_t> px(64 * 64 * 4, 0);
    for (int i = 0; i < 64 * 3; ++i)
        px[i * 4] = px[i * 4 + 1] = px[i * 4 + 2] = px[i * 4 + 3] = 0xFF;
    Sprite3D_WritePixels(bar, px.data(), 64, 64);
    Sprite3D_Zoom(bar, 32, 32);
    struct Case {
        double angle;
        int32_t onX, onY, offX, offY;
    } cases[] = {
        {0, 16, 0, 16, 31}, {90, 31, 16, 0, 16}, {180, 16, 31, 16, 0}, {270, 0, 16, 31, 16}};
    for (const Case& c : cases) {
        Platform_Screen_Clear(0, 0, 0);
        Sprite3D_Rotate(bar, 0, 0);
        for (double a = 0; a < c.angle; a += 90) Sprite3D_Rotate(bar, 90, 1); // added in steps
        Sprite3D_Display(bar, 10, 10);
        EXPECT_EQ(Pixel(10 + c.onX, 10 + c.onY), 0xFFFFFFu) << c.angle;
        EXPECT_EQ(Pixel(10 + c.offX, 10 + c.offY), 0u) << c.angle;
        EXPECT_EQ(Pixel(26, 26), 0u) << c.angle; // the middle stays clear
    }
    Sprite3D_Free(bar);
}

TEST_F(Sprite3DScreen, KeyColourAndClippedSheetDraw) {
    // A 2x1 sheet: left pixel black (the key), right pixel green.
    const uint8_t px[8] = {0, 0, 0, 255, 0, 255, 0, 255};
    Sprite3D* s = Sprite3D_FromPixels(px, 2, 1);
    Sprite3D_SetKeyColour(s, 0x000000);
    Platform_Screen_Clear(0, 0, 200);
    Sprite3D_Zoom(s, 20, 10);
    Sprite3D_Display(s, 0, 0);
    EXPECT_EQ(Pixel(4, 4), 0x0000C8u);  // keyed out: the blue behind shows
    EXPECT_EQ(Pixel(14, 4), 0x00FF00u); // green kept
    Sprite3D_Clip(s, 1, 0, 1, 1);
    Sprite3D_Display(s, 30, 30);
    EXPECT_EQ(Pixel(32, 32), 0x00FF00u);
    Sprite3D_Free(s);
}

TEST_F(Sprite3DScreen, ScreenshotRoundTrip) {
    Platform_Screen_FillRect(0, 0, 10, 10, 255, 0, 0, 255);
    const std::string path = std::string(ZELVIK_TEST_BIN) + "/sprite3d_shot.png";
    ASSERT_TRUE(Platform_Screen_SaveScreenshot(path));
    Sprite3D* s = Sprite3D_Load(path);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->ImageWidth, 64);
    EXPECT_EQ(Sprite3D_PixelAt(s, 5, 5), 0xFF0000FFu);
    EXPECT_EQ(Sprite3D_PixelAt(s, 20, 20), 0xFF000000u);
    Sprite3D_Free(s);
}

TEST(Sprite3DLifetime, SpritesOutliveTheirScreenSafely) {
    ASSERT_TRUE(Platform_Screen_Open(16, 16, true, "first"));
    Sprite3D* s = Sprite3D_Create(4, 4, 4);
    ASSERT_NE(s->Texture, nullptr);
    Platform_Screen_Close(); // the texture goes with the renderer
    ASSERT_TRUE(Platform_Screen_Open(16, 16, true, "second"));
    EXPECT_EQ(Sprite3D_Display(s, 0, 0), 0); // not drawn with a dead texture
    Sprite3D_SetKeyColour(s, 0);             // no upload into it either
    Sprite3D_Free(s);
    Platform_Screen_Close();
}
