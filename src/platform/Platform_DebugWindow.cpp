#include "Platform_DebugWindow.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>

namespace {

struct DebugWindow {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    ImGuiContext* context = nullptr;
    std::string text;
    bool dirty = false;
    bool scrollDown = false;
    int frames = 0; // ImGui needs a few frames to settle its layout
};
DebugWindow g;

// Runs f with the window's ImGui context current, restoring the caller's.
template <class F> void withContext(F f) {
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(g.context);
    f();
    ImGui::SetCurrentContext(previous);
}

} // namespace

bool Platform_DebugWindow_Open(const std::string& title, int32_t x, int32_t y, int32_t w,
                               int32_t h) {
    if (g.window) return true;
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    g.window = SDL_CreateWindow(title.c_str(), x, y, w, h, SDL_WINDOW_SHOWN);
    if (!g.window) return false;
    g.renderer = SDL_CreateRenderer(g.window, -1, 0);
    if (!g.renderer) g.renderer = SDL_CreateRenderer(g.window, -1, SDL_RENDERER_SOFTWARE);
    if (!g.renderer) {
        SDL_DestroyWindow(g.window);
        g.window = nullptr;
        return false;
    }
    ImGuiContext* previous = ImGui::GetCurrentContext();
    g.context = ImGui::CreateContext();
    ImGui::SetCurrentContext(g.context);
    ImGui::GetIO().IniFilename = nullptr;
    ImGui_ImplSDL2_InitForSDLRenderer(g.window);
    ImGui_ImplSDLRenderer_Init(g.renderer);
    ImGui::SetCurrentContext(previous);
    g.dirty = true;
    return true;
}

bool Platform_DebugWindow_IsOpen() {
    return g.window != nullptr;
}

void Platform_DebugWindow_AddLine(const std::string& line) {
    if (!g.text.empty()) g.text += '\n';
    g.text += line;
    // Keep the box bounded: drop the oldest lines past 256 KiB.
    if (g.text.size() > 256 * 1024) {
        size_t cut = g.text.find('\n', g.text.size() - 192 * 1024);
        if (cut != std::string::npos) g.text.erase(0, cut + 1);
    }
    g.dirty = true;
    g.scrollDown = true;
}

bool Platform_DebugWindow_HandleEvent(const void* sdlEvent) {
    if (!g.window) return false;
    const SDL_Event* e = static_cast<const SDL_Event*>(sdlEvent);
    const Uint32 id = SDL_GetWindowID(g.window);
    Uint32 target = 0;
    switch (e->type) {
    case SDL_WINDOWEVENT:
        target = e->window.windowID;
        break;
    case SDL_MOUSEMOTION:
        target = e->motion.windowID;
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        target = e->button.windowID;
        break;
    case SDL_MOUSEWHEEL:
        target = e->wheel.windowID;
        break;
    case SDL_TEXTINPUT:
        target = e->text.windowID;
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        target = e->key.windowID;
        break;
    default:
        return false;
    }
    if (target != id) return false;
    withContext([&] { ImGui_ImplSDL2_ProcessEvent(e); });
    g.dirty = true;
    return true;
}

void Platform_DebugWindow_Render() {
    if (!g.window || (!g.dirty && g.frames >= 3)) return;
    withContext([] {
        int w = 0, h = 0;
        SDL_GetWindowSize(g.window, &w, &h);
        ImGui_ImplSDLRenderer_NewFrame();
        ImGui_ImplSDL2_NewFrame();
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(float(w), float(h)));
        ImGui::Begin("##log", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove);
        ImGui::BeginChild("##text", ImVec2(0, 0), false, ImGuiWindowFlags_HorizontalScrollbar);
        ImGui::TextUnformatted(g.text.c_str(), g.text.c_str() + g.text.size());
        if (g.scrollDown) ImGui::SetScrollHereY(1.0f);
        ImGui::EndChild();
        ImGui::End();
        ImGui::Render();
        SDL_SetRenderDrawColor(g.renderer, 255, 255, 255, 255);
        SDL_RenderClear(g.renderer);
        ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
        SDL_RenderPresent(g.renderer);
    });
    ++g.frames;
    if (g.frames >= 3) {
        g.dirty = false;
        g.scrollDown = false;
    }
}

void Platform_DebugWindow_Close() {
    if (!g.window) return;
    withContext([] {
        ImGui_ImplSDLRenderer_Shutdown();
        ImGui_ImplSDL2_Shutdown();
    });
    ImGui::DestroyContext(g.context);
    SDL_DestroyRenderer(g.renderer);
    SDL_DestroyWindow(g.window);
    g = DebugWindow{};
}

const std::string& Platform_DebugWindow_Text() {
    return g.text;
}
