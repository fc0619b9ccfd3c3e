// Keyboard state by DirectInput key number (the numbers zelvik.ini stores), built from SDL
// key events, plus the key-name table and the first-held-key scan used for rebinding.
#pragma once

#include <cstdint>
#include <span>

// Starts SDL events (and the hint that keeps a full-screen window up when another window
// takes the focus); clears every key.
void Platform_Keyboard_Init();
// Takes every pending SDL event: key events update the state, window close and quit events are
// counted, everything else goes to the event hook. Returns the number of quit/close events seen.
int Platform_Keyboard_PumpEvents();
// Called with each non-key event (an SDL_Event*), e.g. for a Dear ImGui window.
using Platform_EventHook = void (*)(const void* sdlEvent, void* user);
void Platform_Keyboard_SetEventHook(Platform_EventHook hook, void* user);
// Forgets every held key and latch (e.g. after a modal dialog took the events).
void Platform_Keyboard_Reset();
// Feeds one key change directly, as a key event would (by DirectInput number).
void Platform_Keyboard_SetKey(int32_t dik, bool down);

bool Platform_Keyboard_IsHeld(int32_t dik);
// True once, on the first call after the key went up having been down.
bool Platform_Keyboard_Released(int32_t dik);

// SDL scancode of a DirectInput number; 0 (SDL_SCANCODE_UNKNOWN) when it has none.
int32_t Platform_Keyboard_ToScancode(int32_t dik);
// DirectInput number of an SDL scancode; 0 when it has none.
int32_t Platform_Keyboard_FromScancode(int32_t scancode);

// The key's name from the name table; "" for codes not in it.
const char* Key_GetName(int32_t dik);
// The first held key of the name table, in the table's order, leaving out the keys in `skip`;
// 0 when none is held.
int32_t Key_FirstPushed(std::span<const int32_t> skip = {});
// The 101 named codes in table order (for tests and menus).
int32_t Key_NamedCount();
int32_t Key_NamedCode(int32_t index);
