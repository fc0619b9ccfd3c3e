#include "Platform_ToolWindow.h"

#include "Platform_ImGuiFeed.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

// The window of each context: the mouse position is read relative to it.
std::unordered_map<ImGuiContext*, SDL_Window*>& Windows() {
    static auto* windows = new std::unordered_map<ImGuiContext*, SDL_Window*>;
    return *windows;
}

// Each window's events waiting for its next frame.
std::unordered_map<ImGuiContext*, PlatformImGuiFeed>& Feeds() {
    static auto* feeds = new std::unordered_map<ImGuiContext*, PlatformImGuiFeed>;
    return *feeds;
}

struct WakeSignal {
    std::mutex lock;
    std::condition_variable woken;
    bool pending = false;
};
WakeSignal& Wakes() {
    static auto* wakes = new WakeSignal;
    return *wakes;
}

// Drivers whose event wait really blocks; the others (dummy, offscreen) make SDL poll every
// millisecond, so there the wait sleeps in longer steps instead.
bool DriverCanWait() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && std::strcmp(driver, "dummy") != 0 && std::strcmp(driver, "offscreen") != 0;
}

} // namespace

bool Platform_ToolWindow_Open(const char* title, int x, int y, int w, int h, SDL_Window** window,
                              SDL_Renderer** renderer) {
    *renderer = nullptr;
    // The software renderer's picture goes to the window as it is; left to itself SDL would
    // hand it through an OpenGL texture, starting a GL driver (threads, memory) for a 2D form.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    *window = SDL_CreateWindow(title, x, y, w, h, SDL_WINDOW_RESIZABLE);
    if (*window) *renderer = SDL_CreateRenderer(*window, -1, SDL_RENDERER_SOFTWARE);
    if (*window && *renderer) return true;
    if (*window) SDL_DestroyWindow(*window);
    *window = nullptr;
    return false;
}

ImGuiContext* Platform_ToolWindow_CreateImGui(SDL_Window* window, SDL_Renderer* renderer) {
    ImGuiContext* imgui = ImGui::CreateContext();
    ImGui::SetCurrentContext(imgui);
    ImGui::GetIO().IniFilename = nullptr;
    ImGui::StyleColorsLight();
    // Thin lines as plain triangles: the software renderer loses parts of the textured ones
    // (table borders came out broken).
    ImGui::GetStyle().AntiAliasedLinesUseTex = false;
    ImGui_ImplSDL2_InitForSDLRenderer(window);
    ImGui_ImplSDLRenderer_Init(renderer);
    Windows()[imgui] = window;
    return imgui;
}

void Platform_ToolWindow_DestroyImGui(ImGuiContext* imgui) {
    if (!imgui) return;
    ImGui::SetCurrentContext(imgui);
    ImGui_ImplSDLRenderer_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext(imgui);
    Windows().erase(imgui);
    Feeds().erase(imgui);
}

void Platform_ToolWindow_ProcessEvent(ImGuiContext* imgui, const SDL_Event& e) {
    Feeds()[imgui].Push(e);
}

void Platform_ToolWindow_FeedInput(ImGuiContext* imgui) {
    ImGui::SetCurrentContext(imgui);
    Feeds()[imgui].Feed();
}

bool Platform_ToolWindow_InputPending(ImGuiContext* imgui) {
    const auto found = Feeds().find(imgui);
    return found != Feeds().end() && found->second.Pending();
}

void Platform_ToolWindow_BeginFrame(ImGuiContext* imgui) {
    Platform_ToolWindow_FeedInput(imgui);
    ImGui_ImplSDLRenderer_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    // The backend takes the pointer as the global position minus the window's position, and
    // SDL's idea of the window position is off by the frame under a window manager and stale
    // after a move: clicks then land beside their target. SDL's own pointer position, from
    // the motion events relative to the window, is always where the pointer is drawn.
    const auto found = Windows().find(imgui);
    if (found != Windows().end()) {
        ImGuiIO& io = ImGui::GetIO();
        int x = 0, y = 0;
        SDL_GetMouseState(&x, &y);
        if (SDL_GetMouseFocus() == found->second)
            io.MousePos = ImVec2(static_cast<float>(x), static_cast<float>(y));
        else
            io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
    }
    ImGui::NewFrame();
}

void Platform_ToolWindow_BeginPanel(SDL_Window* window, const char* id, int w, int h) {
    SDL_GetWindowSize(window, &w, &h);
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(w), static_cast<float>(h)));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::Begin(id, nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::PopStyleVar();
}

void Platform_ToolWindow_EndFrame(SDL_Renderer* renderer) {
    ImGui::Render();
    SDL_SetRenderDrawColor(renderer, 240, 240, 240, 255);
    SDL_RenderClear(renderer);
    ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
    SDL_RenderPresent(renderer);
}

bool Platform_ToolWindow_WaitEvent(SDL_Event* e, int timeoutMs) {
    if (timeoutMs <= 0) return SDL_PollEvent(e) != 0;
    if (DriverCanWait()) return SDL_WaitEventTimeout(e, timeoutMs) != 0;
    // Without a window system only Wake and a quit signal bring events: sleep until a Wake,
    // looking at the queue now and then for the rest.
    constexpr int kLookMs = 250;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (SDL_PollEvent(e)) return true;
        std::unique_lock<std::mutex> guard(Wakes().lock);
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return false;
        Wakes().woken.wait_until(guard, std::min(end, now + std::chrono::milliseconds(kLookMs)),
                                 [] { return Wakes().pending; });
        Wakes().pending = false;
    }
}

void Platform_ToolWindow_Wake() {
    SDL_Event e{};
    e.type = SDL_USEREVENT;
    SDL_PushEvent(&e);
    std::lock_guard<std::mutex> guard(Wakes().lock);
    Wakes().pending = true;
    Wakes().woken.notify_all();
}
