// Joystick bindings: the small codes a player's actions are bound to, their text form as
// zelvik.ini stores it, and whether a binding is active in this pass's joystick state.
#pragma once

#include <cstdint>
#include <string>

// Codes: 0 none; 10-25 buttons 1-16; 26-31 axes X..Rz below 0; 32-37 the same above 0;
// 38 + 4N + d for hat N (0-3) pointing up, left, right, down (d 0-3).
constexpr int32_t kBindingNone = 0;
constexpr int32_t kBindingButton1 = 10;
constexpr int32_t kBindingAxisMinus = 26;
constexpr int32_t kBindingAxisPlus = 32;
constexpr int32_t kBindingHat = 38;
constexpr int32_t kBindingEnd = 54;

int32_t Joystick_Init(); // number of joysticks found
void Joystick_Shutdown();
void Joystick_Update(); // read the state of every joystick once per pass
int32_t Joystick_SetDeadzone(int32_t joystick, int32_t deadzone); // 1 when set, else 0
int32_t Joystick_IsBindingActive(int32_t joystick, int32_t code, int32_t reserved);
// Lower-cases the text and looks it up; 0 when it names no binding (no trimming).
int32_t Joystick_TextToBinding(const std::string& text);
std::string Joystick_BindingToText(int32_t code); // "" for a code without text
