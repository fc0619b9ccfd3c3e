// The MAME INP visualizer's window: a frame captioned "Input" around the history image, a
// vertical slider that scrolls it, and a status bar; recordings arrive by file drop.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

struct ImGuiContext;
struct InpReplay;

constexpr int kVisualizerSliderMax = 10000;
constexpr int kVisualizerRowHeight = 20;

// What the last drawing of the history showed.
struct VisualizerDrawn {
    int64_t firstFrame = -1; // -1 before anything was drawn
    int firstY = 0;
    int rows = 0;
};

struct Visualizer {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    ImGuiContext* imgui = nullptr;
    SDL_Texture* history = nullptr; // the history image, drawn off screen
    int historyWidth = 0;
    int historyHeight = 0;
    SDL_Texture* fontAtlas = nullptr; // the frame numbers' glyphs
    SDL_Texture* buttons[7] = {};     // InputHistory_*.png; null when a file is missing
    InpReplay* replay = nullptr;
    std::string status;
    int statusExtra = 0; // height the wrapped status takes beyond one line
    int slider = kVisualizerSliderMax;
    bool running = true;
    bool dropTaken = false;  // a file of the current drop has been loaded
    bool mouseKnown = false; // the last mouse motion over the window
    int mouseX = 0;
    int mouseY = 0;
    VisualizerDrawn drawn;
};

// Opens the window (SDL video must be initialised) and loads the button pictures from the
// working folder. 0 when the window, its renderer or the replay cannot be had.
Visualizer* Visualizer_Create();
void Visualizer_Destroy(Visualizer* v);

// One SDL event: resize, repaint, file drops, close.
void Visualizer_HandleEvent(Visualizer* v, const SDL_Event& e);
// Runs one frame of the window's controls and presents it; a moved slider redraws the history.
void Visualizer_RenderFrame(Visualizer* v);

// Loads a recording as a dropped file does and sets the status text; returns the result code.
int32_t Visualizer_LoadFile(Visualizer* v, const std::string& file);
void Visualizer_ResizeWindow(Visualizer* v);
// Draws the frames from the slider's position into the history image; nothing without frames.
void Visualizer_DrawHistory(Visualizer* v);
// The status text broken into the lines the status bar of a window w pixels wide shows.
std::vector<std::string> Visualizer_StatusLines(Visualizer* v, int w);
// Width in pixels of a frame number as the history draws it.
int Visualizer_TextWidth(Visualizer* v, const std::string& text);

int Visualizer_Main(int argc, char** argv);
