// The "EngineDebug" log window: a second SDL window with a scrolling, read-only text box drawn
// by its own Dear ImGui context.
#pragma once

#include <cstdint>
#include <string>

// Opens the window on first use; false when it cannot be made (the text is still kept).
bool Platform_DebugWindow_Open(const std::string& title, int32_t x, int32_t y, int32_t w,
                               int32_t h);
bool Platform_DebugWindow_IsOpen();
void Platform_DebugWindow_AddLine(const std::string& line);
// Offers one SDL event (an SDL_Event*); true when it belonged to the window.
bool Platform_DebugWindow_HandleEvent(const void* sdlEvent);
// Redraws when something changed.
void Platform_DebugWindow_Render();
void Platform_DebugWindow_Close();
const std::string& Platform_DebugWindow_Text();
