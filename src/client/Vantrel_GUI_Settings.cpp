#include "Vantrel_GUI_Settings.h"

#include "IniFile.h"
#include "Joystick.h"
#include "Vantrel_Common.h"
#include "Zelvik_Player.h"

#include <cctype>
#include <charconv>
#include <climits>

const char* const kActionKeys[kActionCount] = {"Left",    "Right",  "HardDrop", "SoftDrop",
                                               "RotCCW",  "RotCW",  "RotCCW2",  "RotCW2",
                                               "RotCCW3", "RotCW3", "Rot180",   "Hold"};
const uint32_t kActionBits[kActionCount] = {
    Input_Left,  Input_Right,   Input_HardDrop, Input_SoftDrop, Input_RotCCW,
    Input_RotCW, Input_RotCCW2, Input_RotCW2,   Input_RotCCW3,  Input_RotCW3,
    0,           Input_Hold};
const char* const kPovKeys[kPovActionCount] = {"POVLeft", "POVRight", "POVHardDrop", "POVSoftDrop"};

ClientSettings& Client_Settings() {
    static ClientSettings s;
    return s;
}

CommandLineOptions& Client_Options() {
    static CommandLineOptions o;
    return o;
}

namespace {

// A whole decimal number within [lo, hi]; anything else leaves *out as it was.
void readInt(const IniFile& ini, const char* group, const char* key, int32_t lo, int32_t hi,
             int32_t* out) {
    if (!ini.Has(group, key)) return;
    std::string v = ini.Get(group, key);
    int64_t n = 0;
    auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || p != v.data() + v.size() || n < lo || n > hi) return;
    *out = static_cast<int32_t>(n);
}

void readText(const IniFile& ini, const char* group, const char* key, std::string* out) {
    if (ini.Has(group, key)) *out = ini.Get(group, key);
}

// An empty text unbinds; a text that names no binding keeps the default, so a typo in the
// file does not silently lose the control (and is not written back empty).
void readBinding(const IniFile& ini, const char* key, int32_t* out) {
    if (!ini.Has("Joystick", key)) return;
    const std::string text = ini.Get("Joystick", key);
    const int32_t code = Joystick_TextToBinding(text);
    if (code != 0 || text.empty()) *out = code;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

void Settings_Read(ClientSettings* s, const IniFile& ini) {
    readInt(ini, "", "Windowed", 0, 1, &s->Windowed);
    readInt(ini, "", "ScreenWidth", 64, 16384, &s->ScreenWidth);
    readInt(ini, "", "ScreenHeight", 64, 16384, &s->ScreenHeight);
    readInt(ini, "", "ScreenDepth", 8, 32, &s->ScreenDepth);
    if (s->ScreenDepth % 8) s->ScreenDepth = 32;
    readText(ini, "", "PlayerName", &s->PlayerName);
    readText(ini, "", "Skin", &s->Skin);
    readText(ini, "", "ReplayPattern", &s->ReplayPattern);
    readInt(ini, "Background", "Width", 0, 65536, &s->BackgroundWidth);
    readInt(ini, "Background", "Height", 0, 65536, &s->BackgroundHeight);
    readInt(ini, "Background", "Frames", 0, 65536, &s->BackgroundFrames);
    readInt(ini, "Background", "FPS", 0, 100000, &s->BackgroundFPS);
    for (int32_t i = 0; i < kActionCount; ++i)
        readInt(ini, "Keyboard", kActionKeys[i], 0, 255, &s->Keys[i]);
    readInt(ini, "Joystick", "JoystickID", 0, 15, &s->JoystickID);
    readInt(ini, "Joystick", "JoystickDeadzone", 0, 10000, &s->JoystickDeadzone);
    for (int32_t i = 0; i < kActionCount; ++i) readBinding(ini, kActionKeys[i], &s->JoyBindings[i]);
    for (int32_t i = 0; i < kPovActionCount; ++i) readBinding(ini, kPovKeys[i], &s->PovBindings[i]);
}

void Settings_Write(const ClientSettings& s, IniFile* ini, bool fileExisted) {
    auto num = [](int32_t v) { return std::to_string(v); };
    ini->Set("", "Windowed", num(s.Windowed));
    ini->Set("", "ScreenWidth", num(s.ScreenWidth));
    ini->Set("", "ScreenHeight", num(s.ScreenHeight));
    ini->Set("", "ScreenDepth", num(s.ScreenDepth));
    ini->Set("", "PlayerName", s.PlayerName);
    ini->Set("", "Skin", s.Skin);
    ini->Set("", "ReplayPattern", s.ReplayPattern);
    ini->Set("Background", "Width", num(s.BackgroundWidth));
    ini->Set("Background", "Height", num(s.BackgroundHeight));
    ini->Set("Background", "Frames", num(s.BackgroundFrames));
    ini->Set("Background", "FPS", num(s.BackgroundFPS));
    for (int32_t i = 0; i < kActionCount; ++i) ini->Set("Keyboard", kActionKeys[i], num(s.Keys[i]));
    ini->Set("Joystick", "JoystickID", num(s.JoystickID));
    ini->Set("Joystick", "JoystickDeadzone", num(s.JoystickDeadzone));
    if (!fileExisted)
        ini->AddComment("Joystick", "Deadzone: 0 (no deadzone) to 10000 (entire range is dead)");
    for (int32_t i = 0; i < kActionCount; ++i)
        ini->Set("Joystick", kActionKeys[i], Joystick_BindingToText(s.JoyBindings[i]));
    for (int32_t i = 0; i < kPovActionCount; ++i)
        ini->Set("Joystick", kPovKeys[i], Joystick_BindingToText(s.PovBindings[i]));
}

int32_t CommandLine_Number(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t n = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        n = n * 10 + (text[i] - '0');
        if (n > int64_t(INT32_MAX) + 1) n = int64_t(INT32_MAX) + 1;
    }
    if (negative) n = -n;
    if (n > INT32_MAX) n = INT32_MAX;
    return static_cast<int32_t>(n);
}

void CommandLine_Parse(const std::vector<std::string>& args, ClientSettings* s,
                       CommandLineOptions* o, std::vector<std::string>* log) {
    size_t i = 0;
    // Values are taken as given; past the end they read as "".
    auto value = [&]() -> std::string {
        ++i;
        return i < args.size() ? args[i] : std::string();
    };
    // A switch naming a file or an address without one would otherwise be dropped unseen.
    auto named = [&](const char* what) -> std::string {
        const std::string switchName = args[i];
        std::string v = value();
        if (v.empty() && log) log->push_back(switchName + " needs " + what);
        return v;
    };
    for (; i < args.size(); ++i) {
        const std::string p = lower(args[i]);
        if (p == "/c" || p == "/connect" || p == "/connectto") {
            o->ConnectTo = named("an address");
        } else if (p == "/r" || p == "/replay") {
            o->Replay = named("a file name");
        } else if (p == "/rs" || p == "/randomseed") {
            o->RandomSeed = CommandLine_Number(value());
        } else if (p == "/rinp" || p == "/replayinp") {
            o->ReplayInp = named("a file name");
            o->ReplayInpNumber = CommandLine_Number(value());
        } else if (p == "/inp_pexa") {
            o->InpFlags |= 1;
        } else if (p == "/inp_kovra1") {
            o->InpFlags |= 2;
        } else if (p == "/fs" || p == "/fullscreen") {
            s->Windowed = 0;
        } else if (p == "/w" || p == "/windowed") {
            s->Windowed = 1;
        } else if (p == "/wa" || p == "/writeavi") {
            o->WriteAvi = named("a file name");
        } else if (p == "/d" || p == "/debug") {
            s->Debug = 1;
        } else if (log) {
            log->push_back("Unknown parameter \"" + args[i] + "\"");
        }
    }
}

void CommandLine_ConnectTarget(const std::string& connectTo, std::string* host, int32_t* port) {
    *host = connectTo;
    // One colon only: an IPv6 address has several and names no port.
    const size_t colon = connectTo.find(':');
    if (colon != std::string::npos && connectTo.find(':', colon + 1) == std::string::npos) {
        const std::string digits = connectTo.substr(colon + 1);
        int32_t n = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (colon > 0 && ec == std::errc() && end == digits.data() + digits.size() && n >= 1 &&
            n <= 65535) {
            host->resize(colon);
            *port = n;
            return;
        }
    }
    *port = Common_GamePort();
}
