#include "Sprite3D.h"

#include "Platform_Image.h"
#include "Platform_Screen.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

const Sprite3DOps kOps = {Sprite3D_Display,  Sprite3D_Clip,     Sprite3D_Zoom, Sprite3D_Rotate,
                          Sprite3D_SetColor, Sprite3D_SetAlpha, Sprite3D_Free};

bool gFiltering = false;

// The texture, unless the screen it was made for has been closed since.
bool Live(const Sprite3D* s) {
    return s->Texture && Platform_Screen_IsOpen() &&
           s->ScreenGeneration == Platform_Screen_Generation();
}

void Upload(Sprite3D* s) {
    if (Live(s) && s->Pixels)
        SDL_UpdateTexture(s->Texture, nullptr, s->Pixels, s->TextureWidth * 4);
}

// A texture of the given size, all transparent black, with a CPU copy of its pixels when asked
// (or when there is no renderer to hold them).
bool MakeTexture(Sprite3D* s, int32_t w, int32_t h, bool keepPixels = true) {
    s->TextureWidth = w;
    s->TextureHeight = h;
    SDL_Renderer* r = Platform_Screen_Renderer();
    if (keepPixels || !r) {
        s->Pixels = static_cast<uint8_t*>(std::calloc(size_t(w) * size_t(h), 4));
        if (!s->Pixels) return false;
    }
    if (r) {
        s->Texture = SDL_CreateTexture(r, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STATIC, w, h);
        if (!s->Texture) return false;
        s->ScreenGeneration = Platform_Screen_Generation();
        SDL_SetTextureBlendMode(s->Texture, SDL_BLENDMODE_BLEND);
        SDL_SetTextureScaleMode(s->Texture, SDL_ScaleModeNearest);
        Upload(s);
    }
    return true;
}

// Fills the texture outside the picture's w x h corner with transparent black (a new
// texture's contents are not defined), a band of rows at a time.
void ClearPadding(Sprite3D* s, int32_t w, int32_t h) {
    const int32_t tw = s->TextureWidth, th = s->TextureHeight;
    if (!Live(s) || (w >= tw && h >= th)) return;
    const int32_t band = std::max(1, std::min(th, int32_t((size_t{1} << 20) / (size_t(tw) * 4))));
    std::vector<uint8_t> zero(size_t(tw) * size_t(band) * 4, 0);
    if (w < tw) {
        for (int32_t y = 0; y < h; y += band) {
            const SDL_Rect rect{w, y, tw - w, std::min(band, h - y)};
            SDL_UpdateTexture(s->Texture, &rect, zero.data(), tw * 4);
        }
    }
    for (int32_t y = h; y < th; y += band) {
        const SDL_Rect rect{0, y, tw, std::min(band, th - y)};
        SDL_UpdateTexture(s->Texture, &rect, zero.data(), tw * 4);
    }
}

bool MakeQuad(Sprite3D* s) {
    s->Quad = new (std::nothrow) Sprite3DQuad{};
    if (!s->Quad) return false;
    for (uint32_t& c : s->Quad->Colour) c = 0xFFFFFFFF;
    return true;
}

Sprite3D* NewObject() {
    Sprite3D* s = new (std::nothrow) Sprite3D{};
    if (!s) return nullptr;
    s->ops = &kOps;
    s->Alpha = 255;
    return s;
}

} // namespace

uint32_t Sprite3D_NextPowerOfTwo(uint32_t n) {
    n -= 1;
    n |= n >> 1;
    n |= n >> 2;
    n |= n >> 4;
    n |= n >> 8;
    n |= n >> 16;
    return n + 1;
}

void Sprite3D_SetFiltering(bool on) {
    gFiltering = on;
}
bool Sprite3D_Filtering() {
    return gFiltering;
}

Sprite3D* Sprite3D_Create(int32_t width, int32_t height, uint32_t /*flags*/) {
    Sprite3D* s = NewObject();
    if (!s) return nullptr;
    if (width >= 1 && height >= 1) {
        if (width > kImageMaxSide || height > kImageMaxSide || !MakeTexture(s, width, height) ||
            !MakeQuad(s)) {
            Sprite3D_Free(s);
            return nullptr;
        }
        Sprite3D_Clip(s, 0, 0, width, height);
        s->Quad->Width = width;
        s->Quad->Height = height;
    }
    return s;
}

Sprite3D* Sprite3D_FromPixels(const uint8_t* rgba, int32_t width, int32_t height) {
    return Sprite3D_FromRegion(rgba, width * 4, width, height, true);
}

Sprite3D* Sprite3D_FromRegion(const uint8_t* rgba, int32_t pitch, int32_t width, int32_t height,
                              bool keepPixels) {
    if (!rgba || width < 1 || height < 1 || pitch < width * 4) return nullptr;
    const int32_t maxSide =
        Platform_Screen_IsOpen() ? Platform_Screen_MaxTextureSize() : kImageMaxSide;
    const uint32_t tw = Sprite3D_NextPowerOfTwo(uint32_t(width));
    const uint32_t th = Sprite3D_NextPowerOfTwo(uint32_t(height));
    if (tw > uint32_t(maxSide) || th > uint32_t(maxSide)) return nullptr;
    Sprite3D* s = Sprite3D_Create(0, 0, 12);
    if (!s) return nullptr;
    s->ImageWidth = width;
    s->ImageHeight = height;
    if (!MakeTexture(s, int32_t(tw), int32_t(th), keepPixels) || !MakeQuad(s)) {
        Sprite3D_Free(s);
        return nullptr;
    }
    if (s->Pixels) {
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(s->Pixels + size_t(y) * tw * 4, rgba + size_t(y) * size_t(pitch),
                        size_t(width) * 4);
        Upload(s);
    } else {
        // The texture is the only copy: the rows go straight into it.
        const SDL_Rect rect{0, 0, width, height};
        SDL_UpdateTexture(s->Texture, &rect, rgba, pitch);
        ClearPadding(s, width, height);
    }
    Sprite3D_Clip(s, 0, 0, width, height);
    s->Quad->Width = width;
    s->Quad->Height = height;
    return s;
}

Sprite3D* Sprite3D_Load(const std::string& path, std::string* error,
                        const Platform_ImageBudget& budget) {
    Platform_Image image;
    if (!Platform_Image_Load(path, image, error, budget)) return nullptr;
    Sprite3D* s = Sprite3D_FromPixels(image.Pixels.data(), image.Width, image.Height);
    if (!s && error)
        *error = "no texture for " + std::to_string(image.Width) + " x " +
                 std::to_string(image.Height) + " pixels";
    return s;
}

int64_t Sprite3D_Bytes(const Sprite3D* s) {
    if (!s) return 0;
    const int64_t one = int64_t(s->TextureWidth) * s->TextureHeight * 4;
    return (s->Texture ? one : 0) + (s->Pixels ? one : 0);
}

bool Sprite3D_WritePixels(Sprite3D* s, const uint8_t* rgba, int32_t width, int32_t height) {
    if (!s || !s->Pixels || !rgba || width < 1 || height < 1) return false;
    const int32_t w = std::min(width, s->TextureWidth), h = std::min(height, s->TextureHeight);
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(s->Pixels + size_t(y) * s->TextureWidth * 4, rgba + size_t(y) * width * 4,
                    size_t(w) * 4);
    Upload(s);
    return true;
}

void Sprite3D_SetKeyColour(Sprite3D* s, uint32_t key) {
    if (!s || !s->Pixels) return;
    const uint8_t r = key & 0xFF, g = (key >> 8) & 0xFF, b = (key >> 16) & 0xFF;
    const size_t n = size_t(s->TextureWidth) * s->TextureHeight;
    for (size_t i = 0; i < n; ++i) {
        uint8_t* p = s->Pixels + i * 4;
        if (p[0] == r && p[1] == g && p[2] == b) p[3] = 0;
    }
    Upload(s);
}

uint32_t Sprite3D_PixelAt(const Sprite3D* s, int32_t x, int32_t y) {
    if (!s || !s->Pixels || x < 0 || y < 0 || x >= s->TextureWidth || y >= s->TextureHeight)
        return 0;
    const uint8_t* p = s->Pixels + (size_t(y) * s->TextureWidth + x) * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int32_t Sprite3D_Display(Sprite3D* s, int32_t x, int32_t y) {
    SDL_Renderer* r = Platform_Screen_Renderer();
    if (!s || !s->Quad || !Live(s) || !r) return 0;
    const Sprite3DQuad& q = *s->Quad;
    if (q.Width == 0 || q.Height == 0) return 1;
    const SDL_ScaleMode want = gFiltering ? SDL_ScaleModeLinear : SDL_ScaleModeNearest;
    SDL_ScaleMode have = SDL_ScaleModeNearest;
    SDL_GetTextureScaleMode(s->Texture, &have);
    if (have != want) {
        SDL_RenderFlush(r); // batched draws must keep the mode they were made with
        SDL_SetTextureScaleMode(s->Texture, want);
    }
    if (q.Colour[0] == q.Colour[1] && q.Colour[0] == q.Colour[2] && q.Colour[0] == q.Colour[3]) {
        // One colour: a plain copy. The software renderer draws two-triangle rectangles with
        // its own copy path, which drops quarter turns, so copies go there directly.
        if (q.ClipW <= 0 || q.ClipH <= 0) return 1;
        const uint32_t c = q.Colour[0];
        SDL_SetTextureColorMod(s->Texture, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
        SDL_SetTextureAlphaMod(s->Texture,
                               uint8_t((((c >> 24) & 0xFF) * uint32_t(s->Alpha) + 127) / 255));
        const SDL_Rect src{q.ClipX, q.ClipY, q.ClipW, q.ClipH};
        const SDL_FRect dst{float(x), float(y), float(q.Width), float(q.Height)};
        if (q.Angle == 0) return SDL_RenderCopyF(r, s->Texture, &src, &dst) == 0 ? 1 : 0;
        return SDL_RenderCopyExF(r, s->Texture, &src, &dst, q.Angle, nullptr, SDL_FLIP_NONE) == 0
                   ? 1
                   : 0;
    }
    SDL_SetTextureColorMod(s->Texture, 0xFF, 0xFF, 0xFF);
    SDL_SetTextureAlphaMod(s->Texture, 0xFF);
    // Corners around the centre of the zoomed quad, turned clockwise on screen (y grows down).
    const double cx = x + q.Width / 2.0, cy = y + q.Height / 2.0;
    const double a = q.Angle * M_PI / 180.0, ca = std::cos(a), sa = std::sin(a);
    const double dx[4] = {-q.Width / 2.0, q.Width / 2.0, -q.Width / 2.0, q.Width / 2.0};
    const double dy[4] = {-q.Height / 2.0, -q.Height / 2.0, q.Height / 2.0, q.Height / 2.0};
    SDL_Vertex v[4];
    for (int i = 0; i < 4; ++i) {
        v[i].position.x = float(cx + dx[i] * ca - dy[i] * sa);
        v[i].position.y = float(cy + dx[i] * sa + dy[i] * ca);
        v[i].tex_coord.x = q.U[i];
        v[i].tex_coord.y = q.V[i];
        const uint32_t c = q.Colour[i];
        v[i].color.r = (c >> 16) & 0xFF;
        v[i].color.g = (c >> 8) & 0xFF;
        v[i].color.b = c & 0xFF;
        v[i].color.a = uint8_t((((c >> 24) & 0xFF) * uint32_t(s->Alpha) + 127) / 255);
    }
    static const int kIndex[6] = {0, 1, 2, 1, 3, 2};
    return SDL_RenderGeometry(r, s->Texture, v, 4, kIndex, 6) == 0 ? 1 : 0;
}

int32_t Sprite3D_Clip(Sprite3D* s, int32_t x, int32_t y, int32_t w, int32_t h) {
    if (!s || !s->Quad) return 0;
    const int32_t tw = s->TextureWidth, th = s->TextureHeight;
    x = std::clamp(x, 0, tw);
    y = std::clamp(y, 0, th);
    w = std::clamp(w, 0, tw - x);
    h = std::clamp(h, 0, th - y);
    Sprite3DQuad& q = *s->Quad;
    const float u0 = float(x) / tw, u1 = float(x + w) / tw;
    const float v0 = float(y) / th, v1 = float(y + h) / th;
    q.U[0] = u0, q.V[0] = v0;
    q.U[1] = u1, q.V[1] = v0;
    q.U[2] = u0, q.V[2] = v1;
    q.U[3] = u1, q.V[3] = v1;
    q.ClipX = x, q.ClipY = y, q.ClipW = w, q.ClipH = h;
    return 1;
}

int32_t Sprite3D_Zoom(Sprite3D* s, int32_t width, int32_t height) {
    if (!s || !s->Quad) return 0;
    s->Quad->Width = width;
    s->Quad->Height = height;
    return 1;
}

int32_t Sprite3D_Rotate(Sprite3D* s, double angle, int32_t mode) {
    if (!s || !s->Quad) return 0;
    s->Quad->Angle = mode == 0 ? angle : s->Quad->Angle + angle;
    return 1;
}

int32_t Sprite3D_SetColor(Sprite3D* s, uint32_t c0, uint32_t c1, uint32_t c2, uint32_t c3) {
    if (!s || !s->Quad) return 0;
    const uint32_t in[4] = {c0, c1, c2, c3};
    for (int i = 0; i < 4; ++i) {
        const uint32_t c = in[i];
        s->Quad->Colour[i] = (c & 0xFF00FF00u) | (c & 0xFF) << 16 | (c >> 16 & 0xFF);
    }
    return 1;
}

int32_t Sprite3D_SetAlpha(Sprite3D* s, uint32_t alpha) {
    if (!s) return 0;
    s->Alpha = alpha >= 256 ? 255 : int32_t(alpha);
    return 1;
}

int32_t Sprite3D_Free(Sprite3D* s) {
    if (!s) return 0;
    if (Live(s)) SDL_DestroyTexture(s->Texture); // else it went with its renderer
    std::free(s->Pixels);
    delete s->Quad;
    delete s;
    return 0;
}
