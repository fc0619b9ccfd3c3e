// The game client: start-up (settings, command line, engine, screen, media, game and player),
// one pass of the main loop, and shutdown with the settings write-back. A thin main runs
// Client_Main; tests run the same steps in-process.
#pragma once

#include "avi_utils.h"

#include <cstdint>
#include <string>
#include <vector>

struct DFont;
struct Game;
struct Player;
struct SkinElement;
struct Sprite3D;
struct ClientPlayer;

constexpr int32_t kBackgroundCount = 14;
constexpr int32_t kFrameTimeEntries = 501;
inline constexpr const char* kSettingsFile = "zelvik.ini";

struct ClientMain {
    void* Engine = nullptr;
    Game* TheGame = nullptr;
    int32_t Quit = 0;
    int32_t MaxLevel = 0;
    int32_t FramesRun = 0;
    int32_t TargetLevel = 0;
    int32_t PassCount = 0;
    uint32_t LastLatch = 0;
    uint32_t LastFrameTime = 0;
    uint32_t StartedAt = 0;          // millisecond time the loop began (background frames)
    std::vector<int32_t> FrameTimes; // kFrameTimeEntries with /d, else empty
    std::vector<Sprite3D*> Backgrounds[kBackgroundCount];
    std::string BackgroundFiles[kBackgroundCount]; // found at start-up, emptied once tried
    SkinElement* CurrentSkin = nullptr;
    DFont* Font = nullptr;
    AviHandle* Avi = nullptr;
    AviBitmap CaptureBitmap;
    std::vector<uint8_t> CaptureRgba; // the screen read back, reused from frame to frame
    AviCompressOptions AviOptions;
    std::string SettingsPath = kSettingsFile;
    bool ScreenOpen = false;
    bool StartedUp = false;
    std::vector<std::string> Log; // every debug-log line of the run, UTF-8
};
extern ClientMain gMain;

// Start-up up to the main loop. 0 when the loop may run; otherwise the exit code (the engine
// is missing: 1, a failed connection: 1).
int32_t Client_Startup(const std::vector<std::string>& args);
// One pass of the main loop.
void Client_Pass();
// Frees the players, closes capture and screen and writes the settings back.
void Client_Shutdown();
// Start-up, the loop until Quit, shutdown; the program's exit code.
int32_t Client_Main(const std::vector<std::string>& args);

ClientPlayer* Client_FirstPlayer(); // null without players
// A "level" value of the player; 0 when it has none.
int32_t Client_PlayerLevel(Player* p);
// "zelvik_" + local time "%yyyy%mm%dd_%hh%ii%ss" + ".png".
std::string Client_ScreenshotName();
// Cuts one background sheet into frames (whole image when the grid is unusable).
std::vector<Sprite3D*> Client_CutBackground(Sprite3D* sheet, int32_t frameW, int32_t frameH,
                                            int32_t frames, int32_t screenW, int32_t screenH);
// The background slot (level / 100) and its animation frame for this pass; false when the pass
// shows black (no slot for the level, an empty slot, a frame the sheet did not hold).
bool Client_BackgroundChoice(int32_t maxLevel, uint32_t elapsedMs, int32_t* slot, int32_t* frame);
// Starts capturing into file: the codec box asks for the codec unless codec is given. False,
// with capture switched off, when the file or the stream cannot be made or the box is cancelled.
bool Client_OpenCapture(const std::string& file, const AviCompressOptions* codec);
// Whether this pass's AVI frame is a key frame.
bool Client_IsKeyFrame(const Player* first, int32_t passCount);
