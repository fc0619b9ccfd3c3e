#include "Platform_Screen.h"

#include "Platform_Image.h"

#include <SDL.h>

#include <cstdio>

namespace {

struct ScreenState {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* target = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    bool videoStarted = false;
};
ScreenState g;
uint32_t gGeneration = 0;

} // namespace

bool Platform_Screen_Open(int32_t width, int32_t height, bool windowed, const std::string& title) {
    Platform_Screen_Close();
    if (width < 1 || height < 1 || width > kImageMaxSide || height > kImageMaxSide) {
        std::fprintf(stderr, "Screen size %dx%d is not usable\n", width, height);
        return false;
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            std::fprintf(stderr, "Cannot start video: %s\n", SDL_GetError());
            return false;
        }
        g.videoStarted = true;
    }
    const Uint32 flags = windowed ? 0 : SDL_WINDOW_FULLSCREEN;
    g.window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                width, height, flags);
    if (!g.window) {
        std::fprintf(stderr, "Cannot open the window: %s\n", SDL_GetError());
        Platform_Screen_Close();
        return false;
    }
    g.renderer = SDL_CreateRenderer(g.window, -1, SDL_RENDERER_TARGETTEXTURE);
    if (!g.renderer) g.renderer = SDL_CreateRenderer(g.window, -1, SDL_RENDERER_SOFTWARE);
    if (!g.renderer) {
        std::fprintf(stderr, "Cannot create the renderer: %s\n", SDL_GetError());
        Platform_Screen_Close();
        return false;
    }
    g.target = SDL_CreateTexture(g.renderer, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_TARGET,
                                 width, height);
    if (!g.target || SDL_SetRenderTarget(g.renderer, g.target) != 0) {
        std::fprintf(stderr, "Cannot create the screen target: %s\n", SDL_GetError());
        Platform_Screen_Close();
        return false;
    }
    SDL_SetRenderDrawBlendMode(g.renderer, SDL_BLENDMODE_BLEND);
    g.width = width;
    g.height = height;
    ++gGeneration;
    Platform_Screen_Clear(0, 0, 0);
    return true;
}

void Platform_Screen_Close() {
    if (g.target) SDL_DestroyTexture(g.target);
    if (g.renderer) SDL_DestroyRenderer(g.renderer);
    if (g.window) SDL_DestroyWindow(g.window);
    if (g.videoStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    g = ScreenState{};
}

uint32_t Platform_Screen_Generation() {
    return gGeneration;
}

bool Platform_Screen_IsOpen() {
    return g.renderer != nullptr;
}
int32_t Platform_Screen_Width() {
    return g.width;
}
int32_t Platform_Screen_Height() {
    return g.height;
}
SDL_Renderer* Platform_Screen_Renderer() {
    return g.renderer;
}
SDL_Window* Platform_Screen_Window() {
    return g.window;
}
uint32_t Platform_Screen_WindowId() {
    return g.window ? SDL_GetWindowID(g.window) : 0;
}

void Platform_Screen_SetTitle(const std::string& title) {
    if (g.window) SDL_SetWindowTitle(g.window, title.c_str());
}

int32_t Platform_Screen_MaxTextureSize() {
    SDL_RendererInfo info{};
    int32_t side = kImageMaxSide;
    if (g.renderer && SDL_GetRendererInfo(g.renderer, &info) == 0) {
        // The software renderer reports 0: no limit of its own.
        if (info.max_texture_width > 0 && info.max_texture_width < side)
            side = info.max_texture_width;
        if (info.max_texture_height > 0 && info.max_texture_height < side)
            side = info.max_texture_height;
    }
    return side;
}

void Platform_Screen_Clear(uint8_t r, uint8_t gr, uint8_t b) {
    if (!g.renderer) return;
    SDL_SetRenderDrawColor(g.renderer, r, gr, b, 0xFF);
    SDL_RenderClear(g.renderer);
}

void Platform_Screen_FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t r, uint8_t gr,
                              uint8_t b, uint8_t a) {
    if (!g.renderer || w <= 0 || h <= 0) return;
    SDL_SetRenderDrawColor(g.renderer, r, gr, b, a);
    const SDL_Rect rect{x, y, w, h};
    SDL_RenderFillRect(g.renderer, &rect);
}

void Platform_Screen_Present() {
    if (!g.renderer) return;
    SDL_RenderFlush(g.renderer);
    SDL_SetRenderTarget(g.renderer, nullptr);
    SDL_RenderCopy(g.renderer, g.target, nullptr, nullptr);
    SDL_RenderPresent(g.renderer);
    SDL_SetRenderTarget(g.renderer, g.target);
}

bool Platform_Screen_ReadPixels(std::vector<uint8_t>& rgba) {
    if (!g.renderer) return false;
    SDL_RenderFlush(g.renderer);
    rgba.assign(size_t(g.width) * size_t(g.height) * 4, 0);
    return SDL_RenderReadPixels(g.renderer, nullptr, SDL_PIXELFORMAT_RGBA32, rgba.data(),
                                g.width * 4) == 0;
}

bool Platform_Screen_SaveScreenshot(const std::string& path) {
    std::vector<uint8_t> rgba;
    if (!Platform_Screen_ReadPixels(rgba)) return false;
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 0xFF; // the screen is opaque
    return Platform_Image_SavePng(path, rgba.data(), g.width, g.height, g.width * 4);
}

void Platform_Screen_ShowError(const std::string& title, const std::string& text) {
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), g.window) != 0)
        std::fprintf(stderr, "%s%s%s\n", title.c_str(), title.empty() ? "" : ": ", text.c_str());
}
