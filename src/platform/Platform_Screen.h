// The game's window and its 2D renderer: windowed or full screen, an off-screen target of
// exactly the screen size that every frame is drawn into, present, and pixel read-back.
// Full screen covers the desktop at its own resolution; the picture is scaled by a whole or
// fractional factor, its aspect kept, centred between black bars. Mouse events of the window
// carry picture coordinates. Presenting waits for the display's vertical sync where the driver
// offers it and otherwise holds the pass rate to the display's refresh rate (60 when unknown),
// so the main loop does not spin; headless drivers show nothing and are not paced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SDL_Renderer;
struct SDL_Window;

// Opens the window (centred, windowed) or a full-screen display of width x height and a
// renderer drawing into the off-screen target. False with a message on stderr on failure.
bool Platform_Screen_Open(int32_t width, int32_t height, bool windowed, const std::string& title);
void Platform_Screen_Close();
bool Platform_Screen_IsOpen();
int32_t Platform_Screen_Width();
int32_t Platform_Screen_Height();
SDL_Renderer* Platform_Screen_Renderer(); // null while closed
SDL_Window* Platform_Screen_Window();     // null while closed
uint32_t Platform_Screen_WindowId();      // SDL window id, 0 while closed
void Platform_Screen_SetTitle(const std::string& title);
// Counts the screens opened so far: textures made for an earlier screen died with it.
uint32_t Platform_Screen_Generation();
// Largest texture side the renderer accepts.
int32_t Platform_Screen_MaxTextureSize();

// Drawing helpers on the off-screen target.
void Platform_Screen_Clear(uint8_t r, uint8_t g, uint8_t b);
void Platform_Screen_FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t r, uint8_t g,
                              uint8_t b, uint8_t a);
// Shows the off-screen target in the window, then waits for the next refresh when paced.
void Platform_Screen_Present();
// On by default; a caller that is behind (a capture catching up) switches it off for a while.
void Platform_Screen_SetPaced(bool paced);
// Where the picture lies in the window's output, in output pixels.
void Platform_Screen_PictureRect(int32_t* x, int32_t* y, int32_t* w, int32_t* h);
// Maps a window position (mouse coordinates) to the picture's pixels; false outside it.
bool Platform_Screen_WindowToPicture(int32_t wx, int32_t wy, int32_t* px, int32_t* py);
// Copies the off-screen target as RGBA rows (width * 4 bytes each). False when closed.
bool Platform_Screen_ReadPixels(std::vector<uint8_t>& rgba);
// Writes the off-screen target as a PNG picture, replacing path whole. False on any failure,
// with *error (when given) saying why.
bool Platform_Screen_SaveScreenshot(const std::string& path, std::string* error = nullptr);

// A message box with the error icon; falls back to stderr without a display.
void Platform_Screen_ShowError(const std::string& title, const std::string& text);
