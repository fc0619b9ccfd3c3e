// The window of a tool program (server window, server browser, visualizer): an SDL window with
// a renderer and a Dear ImGui context of its own, light colours, no .ini file, each frame drawn
// over a light grey background.
#pragma once

struct ImGuiContext;
struct SDL_Renderer;
struct SDL_Window;
union SDL_Event;

// A resizable window with the software renderer. False (nothing left open) when either fails;
// SDL_GetError() then says why.
bool Platform_ToolWindow_Open(const char* title, int x, int y, int w, int h, SDL_Window** window,
                              SDL_Renderer** renderer);
// The window's own ImGui context, made current.
ImGuiContext* Platform_ToolWindow_CreateImGui(SDL_Window* window, SDL_Renderer* renderer);
// Null is fine.
void Platform_ToolWindow_DestroyImGui(ImGuiContext* imgui);
// Queues an event for the window's next frame (a key changes at most once a frame there).
void Platform_ToolWindow_ProcessEvent(ImGuiContext* imgui, const SDL_Event& e);
// Hands the queued events due in the coming frame to the context, made current (BeginFrame
// does it; for a program that starts its frames itself).
void Platform_ToolWindow_FeedInput(ImGuiContext* imgui);
// True while queued events still wait for a frame: the caller should draw one soon.
bool Platform_ToolWindow_InputPending(ImGuiContext* imgui);
// Starts a frame in this window's context.
void Platform_ToolWindow_BeginFrame(ImGuiContext* imgui);
// The borderless ImGui window that fills the whole SDL window (w x h when its size is unknown);
// the caller fills it and ends it with ImGui::End().
void Platform_ToolWindow_BeginPanel(SDL_Window* window, const char* id, int w, int h);
// Draws the frame begun last and shows it.
void Platform_ToolWindow_EndFrame(SDL_Renderer* renderer);
// The next event, waiting at most timeoutMs for it (0: just look). Idle windows wait here
// instead of drawing: the thread sleeps until an event, a Wake or the timeout.
bool Platform_ToolWindow_WaitEvent(SDL_Event* e, int timeoutMs);
// Ends a WaitEvent of the window thread from any thread (with an SDL_USEREVENT).
void Platform_ToolWindow_Wake();
