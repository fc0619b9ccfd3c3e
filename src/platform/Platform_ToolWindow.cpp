#include "Platform_ToolWindow.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>

bool Platform_ToolWindow_Open(const char* title, int x, int y, int w, int h, SDL_Window** window,
                              SDL_Renderer** renderer) {
    *renderer = nullptr;
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
    ImGui_ImplSDL2_InitForSDLRenderer(window);
    ImGui_ImplSDLRenderer_Init(renderer);
    return imgui;
}

void Platform_ToolWindow_DestroyImGui(ImGuiContext* imgui) {
    if (!imgui) return;
    ImGui::SetCurrentContext(imgui);
    ImGui_ImplSDLRenderer_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext(imgui);
}

void Platform_ToolWindow_ProcessEvent(ImGuiContext* imgui, const SDL_Event& e) {
    ImGui::SetCurrentContext(imgui);
    ImGui_ImplSDL2_ProcessEvent(&e);
}

void Platform_ToolWindow_BeginFrame(ImGuiContext* imgui) {
    ImGui::SetCurrentContext(imgui);
    ImGui_ImplSDLRenderer_NewFrame();
    ImGui_ImplSDL2_NewFrame();
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
