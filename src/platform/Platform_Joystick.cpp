#include "Platform_Joystick.h"

#include <SDL.h>

#include <cstdlib>

namespace {

struct Device {
    SDL_Joystick* joystick = nullptr;
    int32_t deadzone = 0;
};
Device gDevices[kJoystickMax];

Device* device(int32_t j) {
    if (j < 0 || j >= kJoystickMax || !gDevices[j].joystick) return nullptr;
    return &gDevices[j];
}

} // namespace

int32_t Platform_Joystick_Init() {
    // SDL drops pad input while none of the program's windows has the keyboard focus; the pad
    // must keep working under the debug window and without a display.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (!SDL_WasInit(SDL_INIT_JOYSTICK) && SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return 0;
    int32_t found = 0;
    int n = SDL_NumJoysticks();
    for (int i = 0; i < n && i < kJoystickMax; ++i) {
        if (!gDevices[i].joystick) gDevices[i].joystick = SDL_JoystickOpen(i);
        if (gDevices[i].joystick) ++found;
    }
    return found;
}

void Platform_Joystick_Shutdown() {
    for (Device& d : gDevices) {
        if (d.joystick) SDL_JoystickClose(d.joystick);
        d = Device{};
    }
}

void Platform_Joystick_Update() {
    if (SDL_WasInit(SDL_INIT_JOYSTICK)) SDL_JoystickUpdate();
}

bool Platform_Joystick_Exists(int32_t joystick) {
    return device(joystick) != nullptr;
}

bool Platform_Joystick_SetDeadzone(int32_t joystick, int32_t deadzone) {
    Device* d = device(joystick);
    if (!d || deadzone < 0 || deadzone > 10000) return false;
    d->deadzone = deadzone;
    return true;
}

int32_t Platform_Joystick_Axis(int32_t joystick, int32_t axis) {
    Device* d = device(joystick);
    if (!d || axis < 0 || axis >= SDL_JoystickNumAxes(d->joystick)) return 0;
    int32_t raw = SDL_JoystickGetAxis(d->joystick, axis);
    int32_t v = raw * 1000 / 32767;
    if (v < -1000) v = -1000;
    // Inside the dead zone the axis is centred; the rest is stretched back to the full range.
    int32_t dead = d->deadzone / 10; // in 1/1000 of the range
    int32_t mag = std::abs(v);
    if (mag <= dead) return 0;
    if (dead >= 1000) return 0;
    int32_t scaled = (mag - dead) * 1000 / (1000 - dead);
    if (scaled == 0) scaled = 1; // outside the dead zone keeps its direction
    return v < 0 ? -scaled : scaled;
}

int32_t Platform_Joystick_Hat(int32_t joystick, int32_t hat) {
    Device* d = device(joystick);
    if (!d || hat < 0 || hat >= SDL_JoystickNumHats(d->joystick)) return kHatCentred;
    switch (SDL_JoystickGetHat(d->joystick, hat)) {
    case SDL_HAT_UP:
        return 0;
    case SDL_HAT_RIGHTUP:
        return 4500;
    case SDL_HAT_RIGHT:
        return 9000;
    case SDL_HAT_RIGHTDOWN:
        return 13500;
    case SDL_HAT_DOWN:
        return 18000;
    case SDL_HAT_LEFTDOWN:
        return 22500;
    case SDL_HAT_LEFT:
        return 27000;
    case SDL_HAT_LEFTUP:
        return 31500;
    default:
        return kHatCentred;
    }
}

bool Platform_Joystick_Button(int32_t joystick, int32_t button) {
    Device* d = device(joystick);
    if (!d || button < 0 || button >= SDL_JoystickNumButtons(d->joystick)) return false;
    return SDL_JoystickGetButton(d->joystick, button) != 0;
}
