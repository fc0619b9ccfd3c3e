// The client's settings (zelvik.ini) and command line, with their defaults and the write-back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IniFile;

// The client's own function keys (Escape, F1, F4, F5, F6, F8): they act when released and
// are never bound to a game action.
constexpr int32_t kDikEscape = 1, kDikF1 = 59, kDikF4 = 62, kDikF5 = 63, kDikF6 = 64, kDikF8 = 66;
constexpr int32_t kFunctionKeys[] = {kDikEscape, kDikF1, kDikF4, kDikF5, kDikF6, kDikF8};
constexpr int32_t kActionCount = 12; // Left .. Hold, the order of every binding array
extern const char* const kActionKeys[kActionCount]; // ini key names
extern const uint32_t kActionBits[kActionCount];    // input bits (Rot180 has none)
constexpr int32_t kPovActionCount = 4;
extern const char* const kPovKeys[kPovActionCount];

struct ClientSettings {
    int32_t Windowed = 1;
    int32_t ScreenWidth = 640;
    int32_t ScreenHeight = 480;
    int32_t ScreenDepth = 32;
    std::string Title = "Zelvik";
    std::string PlayerName;
    int32_t Keys[kActionCount] = {44, 46, 31, 45, 50, 51, 52, 0, 0, 0, 0, 57};
    int32_t JoystickID = 0;
    int32_t JoyBindings[kActionCount] = {26, 32, 27, 33, 10, 11, 12, 0, 0, 0, 0, 13};
    int32_t PovBindings[kActionCount] = {39, 40, 38, 41, 0, 0, 0, 0, 0, 0, 0, 0};
    int32_t JoystickDeadzone = 0;
    int32_t Debug = 0;
    int32_t BackgroundWidth = 0;
    int32_t BackgroundHeight = 0;
    int32_t BackgroundFPS = 0;
    int32_t BackgroundFrames = 1;
    std::string Skin = "Pexa.xml";
    std::string ReplayPattern = "%mode%_%time_int%.er";
};

struct CommandLineOptions {
    std::string ConnectTo;
    std::string Replay;
    std::string ReplayInp;
    int32_t ReplayInpNumber = 0;
    int32_t RandomSeed = 0;
    std::string WriteAvi;
    int32_t InpFlags = 0; // bit 0 /inp_pexa, bit 1 /inp_kovra1
};

// The process-wide records.
ClientSettings& Client_Settings();
CommandLineOptions& Client_Options();

// Reads every key; missing keys and values out of range keep the defaults.
void Settings_Read(ClientSettings* s, const IniFile& ini);
// Stores the current values in write-back order; the dead-zone comment only for a new file.
void Settings_Write(const ClientSettings& s, IniFile* ini, bool fileExisted);

// Applies the command line (argv without the program name). Each unknown parameter adds the
// line "Unknown parameter \"...\"" to *log. A missing value at the end reads as "" or 0.
void CommandLine_Parse(const std::vector<std::string>& args, ClientSettings* s,
                       CommandLineOptions* o, std::vector<std::string>* log);
// The numeric value of a text as the command line reads it: leading sign and digits, else 0,
// saturated to the int32 range.
int32_t CommandLine_Number(const std::string& text);
// Where "/c" connects: "host:port" names the port itself; otherwise ZELVIK_GAME_PORT, read as
// the dedicated server reads it, so a client and a server moved off the default port meet.
void CommandLine_ConnectTarget(const std::string& connectTo, std::string* host, int32_t* port);
