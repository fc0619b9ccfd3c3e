// Textured quads: a texture cut to a source rectangle, zoomed, rotated, tinted per corner and
// drawn with an overall alpha on the platform screen. Every picture of the client is one.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "Platform_Image.h"

struct Sprite3D;
struct SDL_Texture;

// The one rounding used for every pixel value: half to even, saturating, NaN gives 0.
inline int32_t RoundPixel(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(std::nearbyint(v)); // the default rounding mode: to nearest, ties to even
}

struct Sprite3DOps {
    int32_t (*Display)(Sprite3D* s, int32_t x, int32_t y);
    int32_t (*Clip)(Sprite3D* s, int32_t x, int32_t y, int32_t w, int32_t h);
    int32_t (*Zoom)(Sprite3D* s, int32_t width, int32_t height);
    int32_t (*Rotate)(Sprite3D* s, double angle, int32_t mode);
    int32_t (*SetColor)(Sprite3D* s, uint32_t c0, uint32_t c1, uint32_t c2, uint32_t c3);
    int32_t (*SetAlpha)(Sprite3D* s, uint32_t alpha);
    int32_t (*Free)(Sprite3D* s);
};
static_assert(sizeof(Sprite3DOps) == 7 * sizeof(void*));

// Vertex order: 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right.
struct Sprite3DQuad {
    float U[4];
    float V[4];
    uint32_t Colour[4]; // 0xAARRGGBB
    int32_t Width;      // drawn size in pixels
    int32_t Height;
    double Angle;                       // degrees, clockwise on screen
    int32_t ClipX, ClipY, ClipW, ClipH; // the source rectangle in texels
};

struct Sprite3D {
    const Sprite3DOps* ops;
    SDL_Texture* Texture;
    int32_t TextureWidth;
    int32_t TextureHeight;
    Sprite3DQuad* Quad;
    int32_t ImageWidth;
    int32_t ImageHeight;
    int32_t Alpha;
    uint8_t* Pixels;           // RGBA copy of the texture, TextureWidth x TextureHeight
    uint32_t ScreenGeneration; // the screen the texture belongs to
};

// Null only when memory runs out (or the texture cannot be made while a screen is open).
Sprite3D* Sprite3D_Create(int32_t width, int32_t height, uint32_t flags);
// PNG, JPEG or JPEG 2000, keeping a CPU copy of its pixels; null (with *error saying why, when
// given) when the file cannot be loaded, passes the budget or the renderer's largest texture.
Sprite3D* Sprite3D_Load(const std::string& path, std::string* error = nullptr,
                        const Platform_ImageBudget& budget = {});
// Null when the size is unusable. Keeps a CPU copy of the pixels.
Sprite3D* Sprite3D_FromPixels(const uint8_t* rgba, int32_t width, int32_t height);
// A sprite of width x height RGBA pixels whose rows lie pitch bytes apart. Without keepPixels
// the texture is the only copy while a screen is open (Pixels stays null: PixelAt gives 0 and
// key colours do nothing), so a picture costs its texture alone. Null when the size is unusable.
Sprite3D* Sprite3D_FromRegion(const uint8_t* rgba, int32_t pitch, int32_t width, int32_t height,
                              bool keepPixels);
// Bytes the sprite holds: its texture and its CPU copy.
int64_t Sprite3D_Bytes(const Sprite3D* s);

int32_t Sprite3D_Display(Sprite3D* s, int32_t x, int32_t y);
int32_t Sprite3D_Clip(Sprite3D* s, int32_t x, int32_t y, int32_t w, int32_t h);
int32_t Sprite3D_Zoom(Sprite3D* s, int32_t width, int32_t height);
int32_t Sprite3D_Rotate(Sprite3D* s, double angle, int32_t mode);
int32_t Sprite3D_SetColor(Sprite3D* s, uint32_t c0, uint32_t c1, uint32_t c2, uint32_t c3);
int32_t Sprite3D_SetAlpha(Sprite3D* s, uint32_t alpha);
int32_t Sprite3D_Free(Sprite3D* s);

// Copies RGBA pixels into the texture's top-left corner (clipped to the texture).
bool Sprite3D_WritePixels(Sprite3D* s, const uint8_t* rgba, int32_t width, int32_t height);
// Makes every pixel whose RGB equals key (0x00BBGGRR, red in the low byte) transparent.
void Sprite3D_SetKeyColour(Sprite3D* s, uint32_t key);
// RGBA of one texture pixel, 0 outside.
uint32_t Sprite3D_PixelAt(const Sprite3D* s, int32_t x, int32_t y);

// The global texture filtering switch: on bilinear, off nearest (the default).
void Sprite3D_SetFiltering(bool on);
bool Sprite3D_Filtering();
// Power-of-two rounding of a texture side (a power of two stays).
uint32_t Sprite3D_NextPowerOfTwo(uint32_t n);
