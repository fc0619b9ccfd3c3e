// Modal message box, input box and choice box: Dear ImGui windows of the program itself, which
// take the keyboard as they appear and close on a quit request (SIGTERM included). Without a
// real display (the dummy and offscreen video drivers), or once SIGTERM or SIGINT arrived, the
// message box goes to stderr; the input and choice boxes work under any driver.
#pragma once

#include <string>
#include <vector>

void Platform_Dialog_Message(const std::string& title, const std::string& text, bool error);
// False when the user cancels (Escape, Cancel, closing the box); *answer is then untouched.
bool Platform_Dialog_Input(const std::string& title, const std::string& prompt,
                           const std::string& initial, std::string* answer);
// Index of the chosen option, or -1 when cancelled.
int Platform_Dialog_Choose(const std::string& title, const std::string& prompt,
                           const std::vector<std::string>& options);
// True from the first drawn frame of a box until it closes (safe to ask from any thread).
bool Platform_Dialog_IsOpen();
// True when the video driver shows nothing (tests, servers).
bool Platform_Dialog_Headless();
