#include "Joystick.h"

#include "Platform_Joystick.h"

#include <cctype>
#include <cstdio>

namespace {

const char* const kAxisNames[6] = {"x", "y", "z", "rx", "ry", "rz"};
// printf forms of the four directions of hat %d.
const char* const kHatDirs[4] = {"-p%dy", "-p%dx", "+p%dx", "+p%dy"};

// The three angles (1/100 degree) at which each hat direction counts as pressed.
bool hatMatches(int32_t angle, int32_t dir) {
    switch (dir) {
    case 0:
        return angle == 0 || angle == 4500 || angle == 31500;
    case 1:
        return angle == 22500 || angle == 27000 || angle == 31500;
    case 2:
        return angle == 4500 || angle == 9000 || angle == 13500;
    case 3:
        return angle == 13500 || angle == 18000 || angle == 22500;
    }
    return false;
}

} // namespace

int32_t Joystick_Init() {
    return Platform_Joystick_Init();
}
void Joystick_Shutdown() {
    Platform_Joystick_Shutdown();
}
void Joystick_Update() {
    Platform_Joystick_Update();
}

int32_t Joystick_SetDeadzone(int32_t joystick, int32_t deadzone) {
    return Platform_Joystick_SetDeadzone(joystick, deadzone) ? 1 : 0;
}

int32_t Joystick_IsBindingActive(int32_t joystick, int32_t code, int32_t) {
    if (!Platform_Joystick_Exists(joystick)) return 0;
    if (code >= kBindingButton1 && code < kBindingAxisMinus)
        return Platform_Joystick_Button(joystick, code - kBindingButton1) ? 1 : 0;
    if (code >= kBindingAxisMinus && code < kBindingAxisPlus)
        return Platform_Joystick_Axis(joystick, code - kBindingAxisMinus) < 0 ? 1 : 0;
    if (code >= kBindingAxisPlus && code < kBindingHat)
        return Platform_Joystick_Axis(joystick, code - kBindingAxisPlus) > 0 ? 1 : 0;
    if (code >= kBindingHat && code < kBindingEnd) {
        int32_t angle = Platform_Joystick_Hat(joystick, (code - kBindingHat) / 4);
        return angle != kHatCentred && hatMatches(angle, (code - kBindingHat) % 4) ? 1 : 0;
    }
    return 0;
}

std::string Joystick_BindingToText(int32_t code) {
    char text[8] = "";
    if (code >= kBindingButton1 && code < kBindingAxisMinus)
        std::snprintf(text, sizeof text, "b%d", code - kBindingButton1 + 1);
    else if (code >= kBindingAxisMinus && code < kBindingAxisPlus)
        std::snprintf(text, sizeof text, "-%s", kAxisNames[code - kBindingAxisMinus]);
    else if (code >= kBindingAxisPlus && code < kBindingHat)
        std::snprintf(text, sizeof text, "+%s", kAxisNames[code - kBindingAxisPlus]);
    else if (code >= kBindingHat && code < kBindingEnd)
        std::snprintf(text, sizeof text, kHatDirs[(code - kBindingHat) % 4],
                      (code - kBindingHat) / 4);
    return text;
}

int32_t Joystick_TextToBinding(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.empty()) return kBindingNone;
    for (int32_t code = kBindingButton1; code < kBindingEnd; ++code)
        if (Joystick_BindingToText(code) == lower) return code;
    return kBindingNone;
}
