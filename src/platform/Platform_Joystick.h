// Joysticks 0-15 in enumeration order: axes scaled to -1000..1000 with a dead zone in
// 1/10000 of the range, hats as angles in 1/100 degree, buttons.
#pragma once

#include <cstdint>

constexpr int32_t kJoystickMax = 16;
constexpr int32_t kJoystickAxes = 6; // X, Y, Z, Rx, Ry, Rz
constexpr int32_t kHatCentred = -1;

int32_t Platform_Joystick_Init(); // opens every joystick present; returns how many
void Platform_Joystick_Shutdown();
void Platform_Joystick_Update(); // reads the state of every open joystick
bool Platform_Joystick_Exists(int32_t joystick);
// False when the joystick does not exist or the dead zone is outside 0..10000.
bool Platform_Joystick_SetDeadzone(int32_t joystick, int32_t deadzone);
int32_t Platform_Joystick_Axis(int32_t joystick, int32_t axis);  // 0 when absent or dead
int32_t Platform_Joystick_Hat(int32_t joystick, int32_t hat);    // kHatCentred when absent
bool Platform_Joystick_Button(int32_t joystick, int32_t button); // button from 0
