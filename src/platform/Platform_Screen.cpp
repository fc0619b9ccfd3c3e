#include "Platform_Screen.h"

#include "Platform_Image.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct ScreenState {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* target = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    bool videoStarted = false;
    SDL_Rect picture{0, 0, 0, 0}; // where the last present put the picture, output pixels
    int32_t outputW = 0, outputH = 0;
    bool linear = false; // scale mode chosen for the target
    // Pacing.
    bool headless = false;
    bool vsync = false;    // the renderer waits for the vertical sync
    bool paced = true;     // the caller's wish
    bool vsyncOn = false;  // what the renderer was last told
    double refresh = 60.0; // display refresh rate
    Clock::duration period{};
    Clock::time_point next{};
};
ScreenState g;
uint32_t gGeneration = 0;

bool isHeadlessDriver(const char* name) {
    return name && (std::strcmp(name, "dummy") == 0 || std::strcmp(name, "offscreen") == 0);
}

// Mesa's software rasterizers: an OpenGL renderer on them spends several cores on threads of
// its own for what SDL's software renderer draws with a fraction of one.
bool softwareOpenGl(SDL_Renderer* renderer) {
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer, &info) != 0 || !info.name ||
        std::strncmp(info.name, "opengl", 6) != 0 || !SDL_GL_GetCurrentContext())
        return false;
    using GetString = const unsigned char* (*)(unsigned);
    auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    if (!getString) return false;
    const char* name = reinterpret_cast<const char*>(getString(0x1F01)); // GL_RENDERER
    if (!name) return false;
    for (const char* soft : {"llvmpipe", "softpipe", "Software Rasterizer", "swrast"})
        if (std::strstr(name, soft)) return true;
    return false;
}

double displayRefresh(SDL_Window* window) {
    SDL_DisplayMode mode{};
    const int index = SDL_GetWindowDisplayIndex(window);
    if (index >= 0 && SDL_GetCurrentDisplayMode(index, &mode) == 0 && mode.refresh_rate > 0)
        return mode.refresh_rate;
    return 60.0;
}

void choosePeriod() {
    // With a working vertical sync the present itself paces; the timer only backs it up, a
    // little faster so that it never makes a pass miss the next sync.
    const double rate = g.vsyncOn ? g.refresh * 1.05 : g.refresh;
    g.period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
}

// Largest rectangle of the picture's aspect inside the output, centred.
SDL_Rect fitPicture(int32_t outW, int32_t outH) {
    SDL_Rect r{0, 0, outW, outH};
    if (g.width <= 0 || g.height <= 0 || outW <= 0 || outH <= 0) return r;
    if (int64_t(outW) * g.height > int64_t(outH) * g.width) {
        r.w = int32_t(int64_t(outH) * g.width / g.height);
        r.x = (outW - r.w) / 2;
    } else {
        r.h = int32_t(int64_t(outW) * g.height / g.width);
        r.y = (outH - r.h) / 2;
    }
    return r;
}

// Mouse events of the game's window are rewritten to picture coordinates before anyone reads
// them, whatever the window's size and the bars around the picture.
int mapMouse(void*, SDL_Event* e) {
    if (!g.window) return 1;
    const Uint32 id = SDL_GetWindowID(g.window);
    int32_t* x = nullptr;
    int32_t* y = nullptr;
    int32_t* dx = nullptr;
    int32_t* dy = nullptr;
    switch (e->type) {
    case SDL_MOUSEMOTION:
        if (e->motion.windowID != id) return 1;
        x = &e->motion.x, y = &e->motion.y, dx = &e->motion.xrel, dy = &e->motion.yrel;
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (e->button.windowID != id) return 1;
        x = &e->button.x, y = &e->button.y;
        break;
    default:
        return 1;
    }
    int32_t px = 0, py = 0;
    Platform_Screen_WindowToPicture(*x, *y, &px, &py);
    if (dx && g.picture.w > 0 && g.picture.h > 0) {
        int ww = 0, wh = 0;
        SDL_GetWindowSize(g.window, &ww, &wh);
        if (ww > 0 && wh > 0) {
            *dx = int32_t(int64_t(*dx) * g.outputW / ww * g.width / g.picture.w);
            *dy = int32_t(int64_t(*dy) * g.outputH / wh * g.height / g.picture.h);
        }
    }
    *x = px;
    *y = py;
    return 1;
}

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
    g.headless = isHeadlessDriver(SDL_GetCurrentVideoDriver());
    // Full screen keeps the desktop's resolution: a mode change to the picture's size is not
    // offered everywhere (one-mode X servers), and the picture is scaled on present anyway.
    // Without a window manager nothing resizes a window asked to go full screen, so it is
    // made borderless at the desktop's size and place from the start.
    Uint32 flags = 0;
    SDL_Rect place{int(SDL_WINDOWPOS_CENTERED), int(SDL_WINDOWPOS_CENTERED), width, height};
    if (!windowed) {
        flags = SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
        SDL_Rect desktop{};
        if (SDL_GetDisplayBounds(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0)
            place = desktop;
    }
    const Uint32 sync = g.headless ? 0 : SDL_RENDERER_PRESENTVSYNC;
    for (int attempt = 0; attempt < 2 && !g.renderer; ++attempt) {
        g.window = SDL_CreateWindow(title.c_str(), place.x, place.y, place.w, place.h, flags);
        if (!g.window) {
            std::fprintf(stderr, "Cannot open the window: %s\n", SDL_GetError());
            Platform_Screen_Close();
            return false;
        }
        if (attempt == 0) {
            g.renderer = SDL_CreateRenderer(g.window, -1, SDL_RENDERER_TARGETTEXTURE | sync);
            if (!g.renderer || SDL_GetHint(SDL_HINT_RENDER_DRIVER) || !softwareOpenGl(g.renderer))
                break;
            // A window that held an OpenGL context does not show a software renderer's
            // pictures everywhere: start again with a fresh one.
            SDL_DestroyRenderer(g.renderer);
            g.renderer = nullptr;
            SDL_DestroyWindow(g.window);
            g.window = nullptr;
            SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        }
    }
    // The software renderer cannot see the display's sync: the pacing timer stands in for it.
    if (!g.renderer) g.renderer = SDL_CreateRenderer(g.window, -1, SDL_RENDERER_SOFTWARE);
    if (!g.renderer) {
        std::fprintf(stderr, "Cannot create the renderer: %s\n", SDL_GetError());
        Platform_Screen_Close();
        return false;
    }
    // The window's own pixel format and no blending: showing the picture is then a plain copy,
    // not a per-pixel conversion and blend on every pass.
    g.target = SDL_CreateTexture(g.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_TARGET,
                                 width, height);
    if (g.target) SDL_SetTextureBlendMode(g.target, SDL_BLENDMODE_NONE);
    if (!g.target || SDL_SetRenderTarget(g.renderer, g.target) != 0) {
        std::fprintf(stderr, "Cannot create the screen target: %s\n", SDL_GetError());
        Platform_Screen_Close();
        return false;
    }
    SDL_SetRenderDrawBlendMode(g.renderer, SDL_BLENDMODE_BLEND);
    g.width = width;
    g.height = height;
    SDL_RendererInfo info{};
    // SDL's software renderer reports a sync it only imitates with sleeps of its own.
    g.vsync = SDL_GetRendererInfo(g.renderer, &info) == 0 &&
              (info.flags & SDL_RENDERER_PRESENTVSYNC) && info.name &&
              std::strcmp(info.name, "software") != 0;
    g.vsyncOn = g.vsync;
    g.paced = true;
    g.refresh = displayRefresh(g.window);
    g.next = Clock::time_point{};
    choosePeriod();
    SDL_AddEventWatch(mapMouse, nullptr);
    ++gGeneration;
    Platform_Screen_Clear(0, 0, 0);
    return true;
}

void Platform_Screen_Close() {
    if (g.window) SDL_DelEventWatch(mapMouse, nullptr);
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
    int outW = 0, outH = 0;
    if (SDL_GetRendererOutputSize(g.renderer, &outW, &outH) != 0 || outW <= 0 || outH <= 0)
        outW = g.width, outH = g.height;
    g.outputW = outW;
    g.outputH = outH;
    g.picture = fitPicture(outW, outH);
    // Whole factors stay sharp; a fractional one is smoothed rather than unevenly doubled.
    const bool linear = g.picture.w % g.width != 0 || g.picture.h % g.height != 0;
    if (linear != g.linear) {
        SDL_SetTextureScaleMode(g.target, linear ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
        g.linear = linear;
    }
    if (g.picture.w != outW || g.picture.h != outH) {
        SDL_SetRenderDrawColor(g.renderer, 0, 0, 0, 0xFF);
        SDL_RenderClear(g.renderer);
    }
    SDL_RenderCopy(g.renderer, g.target, nullptr, &g.picture);
    SDL_RenderPresent(g.renderer);
    SDL_SetRenderTarget(g.renderer, g.target);
    if (g.headless) return;

    // Pacing: one pass per refresh, measured from a deadline so that a late pass is not
    // followed by a long wait.
    const bool wantSync = g.vsync && g.paced;
    if (wantSync != g.vsyncOn) {
        SDL_RenderSetVSync(g.renderer, wantSync ? 1 : 0);
        g.vsyncOn = wantSync;
        choosePeriod();
    }
    const Clock::time_point now = Clock::now();
    if (!g.paced || g.next == Clock::time_point{} || now > g.next + 2 * g.period) {
        g.next = now + g.period;
        return;
    }
    if (now < g.next) std::this_thread::sleep_until(g.next);
    g.next += g.period;
}

void Platform_Screen_SetPaced(bool paced) {
    g.paced = paced;
}

void Platform_Screen_PictureRect(int32_t* x, int32_t* y, int32_t* w, int32_t* h) {
    const SDL_Rect r = g.picture.w > 0 ? g.picture : SDL_Rect{0, 0, g.width, g.height};
    if (x) *x = r.x;
    if (y) *y = r.y;
    if (w) *w = r.w;
    if (h) *h = r.h;
}

bool Platform_Screen_WindowToPicture(int32_t wx, int32_t wy, int32_t* px, int32_t* py) {
    int32_t ox = wx, oy = wy;
    if (g.window) {
        // Window coordinates differ from output pixels on scaled (high-density) displays.
        int ww = 0, wh = 0;
        SDL_GetWindowSize(g.window, &ww, &wh);
        if (ww > 0 && wh > 0 && g.outputW > 0 && g.outputH > 0) {
            ox = int32_t(int64_t(wx) * g.outputW / ww);
            oy = int32_t(int64_t(wy) * g.outputH / wh);
        }
    }
    int32_t x = 0, y = 0, w = 0, h = 0;
    Platform_Screen_PictureRect(&x, &y, &w, &h);
    if (w <= 0 || h <= 0) return false;
    // Floor division keeps positions left of or above the picture negative.
    auto scale = [](int64_t v, int64_t num, int64_t den) {
        const int64_t p = v * num;
        return int32_t(p >= 0 ? p / den : -((-p + den - 1) / den));
    };
    const int32_t rx = scale(ox - x, g.width, w), ry = scale(oy - y, g.height, h);
    if (px) *px = rx;
    if (py) *py = ry;
    return rx >= 0 && ry >= 0 && rx < g.width && ry < g.height;
}

bool Platform_Screen_ReadPixels(std::vector<uint8_t>& rgba) {
    if (!g.renderer) return false;
    SDL_RenderFlush(g.renderer);
    rgba.assign(size_t(g.width) * size_t(g.height) * 4, 0);
    return SDL_RenderReadPixels(g.renderer, nullptr, SDL_PIXELFORMAT_RGBA32, rgba.data(),
                                g.width * 4) == 0;
}

bool Platform_Screen_SaveScreenshot(const std::string& path, std::string* error) {
    std::vector<uint8_t> rgba;
    if (!Platform_Screen_ReadPixels(rgba)) {
        if (error) *error = "the screen could not be read back";
        return false;
    }
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 0xFF; // the screen is opaque
    return Platform_Image_SavePng(path, rgba.data(), g.width, g.height, g.width * 4, error);
}

void Platform_Screen_ShowError(const std::string& title, const std::string& text) {
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), g.window) != 0)
        std::fprintf(stderr, "%s%s%s\n", title.c_str(), title.empty() ? "" : ": ", text.c_str());
}
