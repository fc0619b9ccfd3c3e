#include "Platform_Keyboard.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

struct KeyEntry {
    int32_t dik;
    const char* name; // nullptr: mapped but never named or captured
    SDL_Scancode scancode;
};

// The one key table: first the 101 named keys in the order the rebinding scan tests them,
// then codes a settings file may hold that have an SDL key but no name.
constexpr KeyEntry kKeys[] = {
    {2, "1", SDL_SCANCODE_1},
    {3, "2", SDL_SCANCODE_2},
    {4, "3", SDL_SCANCODE_3},
    {5, "4", SDL_SCANCODE_4},
    {6, "5", SDL_SCANCODE_5},
    {7, "6", SDL_SCANCODE_6},
    {8, "7", SDL_SCANCODE_7},
    {9, "8", SDL_SCANCODE_8},
    {10, "9", SDL_SCANCODE_9},
    {11, "0", SDL_SCANCODE_0},
    {30, "A", SDL_SCANCODE_A},
    {48, "B", SDL_SCANCODE_B},
    {46, "C", SDL_SCANCODE_C},
    {32, "D", SDL_SCANCODE_D},
    {18, "E", SDL_SCANCODE_E},
    {33, "F", SDL_SCANCODE_F},
    {34, "G", SDL_SCANCODE_G},
    {35, "H", SDL_SCANCODE_H},
    {23, "I", SDL_SCANCODE_I},
    {36, "J", SDL_SCANCODE_J},
    {37, "K", SDL_SCANCODE_K},
    {38, "L", SDL_SCANCODE_L},
    {50, "M", SDL_SCANCODE_M},
    {49, "N", SDL_SCANCODE_N},
    {24, "O", SDL_SCANCODE_O},
    {25, "P", SDL_SCANCODE_P},
    {16, "Q", SDL_SCANCODE_Q},
    {19, "R", SDL_SCANCODE_R},
    {31, "S", SDL_SCANCODE_S},
    {20, "T", SDL_SCANCODE_T},
    {22, "U", SDL_SCANCODE_U},
    {47, "V", SDL_SCANCODE_V},
    {17, "W", SDL_SCANCODE_W},
    {45, "X", SDL_SCANCODE_X},
    {21, "Y", SDL_SCANCODE_Y},
    {44, "Z", SDL_SCANCODE_Z},
    {1, "Escape", SDL_SCANCODE_ESCAPE},
    {12, "Minus", SDL_SCANCODE_MINUS},
    {13, "Equals", SDL_SCANCODE_EQUALS},
    {14, "Back", SDL_SCANCODE_BACKSPACE},
    {15, "Tab", SDL_SCANCODE_TAB},
    {26, "LeftBracket", SDL_SCANCODE_LEFTBRACKET},
    {27, "RightBracket", SDL_SCANCODE_RIGHTBRACKET},
    {28, "Return", SDL_SCANCODE_RETURN},
    {29, "LeftControl", SDL_SCANCODE_LCTRL},
    {39, "SemiColon", SDL_SCANCODE_SEMICOLON},
    {40, "Apostrophe", SDL_SCANCODE_APOSTROPHE},
    {41, "Grave", SDL_SCANCODE_GRAVE},
    {42, "LeftShift", SDL_SCANCODE_LSHIFT},
    {43, "BackSlash", SDL_SCANCODE_BACKSLASH},
    {51, "Comma", SDL_SCANCODE_COMMA},
    {52, "Period", SDL_SCANCODE_PERIOD},
    {53, "Slash", SDL_SCANCODE_SLASH},
    {54, "RightShift", SDL_SCANCODE_RSHIFT},
    {55, "Multiply", SDL_SCANCODE_KP_MULTIPLY},
    {56, "LeftAlt", SDL_SCANCODE_LALT},
    {57, "Space", SDL_SCANCODE_SPACE},
    {58, "Capital", SDL_SCANCODE_CAPSLOCK},
    {59, "F1", SDL_SCANCODE_F1},
    {60, "F2", SDL_SCANCODE_F2},
    {61, "F3", SDL_SCANCODE_F3},
    {62, "F4", SDL_SCANCODE_F4},
    {63, "F5", SDL_SCANCODE_F5},
    {64, "F6", SDL_SCANCODE_F6},
    {65, "F7", SDL_SCANCODE_F7},
    {66, "F8", SDL_SCANCODE_F8},
    {67, "F9", SDL_SCANCODE_F9},
    {68, "F10", SDL_SCANCODE_F10},
    {87, "F11", SDL_SCANCODE_F11},
    {88, "F12", SDL_SCANCODE_F12},
    {69, "NumLock", SDL_SCANCODE_NUMLOCKCLEAR},
    {70, "Scroll", SDL_SCANCODE_SCROLLLOCK},
    {82, "Pad0", SDL_SCANCODE_KP_0},
    {79, "Pad1", SDL_SCANCODE_KP_1},
    {80, "Pad2", SDL_SCANCODE_KP_2},
    {81, "Pad3", SDL_SCANCODE_KP_3},
    {75, "Pad4", SDL_SCANCODE_KP_4},
    {76, "Pad5", SDL_SCANCODE_KP_5},
    {77, "Pad6", SDL_SCANCODE_KP_6},
    {71, "Pad7", SDL_SCANCODE_KP_7},
    {72, "Pad8", SDL_SCANCODE_KP_8},
    {73, "Pad9", SDL_SCANCODE_KP_9},
    {78, "Add", SDL_SCANCODE_KP_PLUS},
    {74, "Subtract", SDL_SCANCODE_KP_MINUS},
    {83, "Decimal", SDL_SCANCODE_KP_PERIOD},
    {156, "PadEnter", SDL_SCANCODE_KP_ENTER},
    {157, "RightControl", SDL_SCANCODE_RCTRL},
    {179, "PadComma", SDL_SCANCODE_KP_COMMA},
    {181, "Divide", SDL_SCANCODE_KP_DIVIDE},
    {184, "RightAlt", SDL_SCANCODE_RALT},
    {197, "Pause", SDL_SCANCODE_PAUSE},
    {199, "Home", SDL_SCANCODE_HOME},
    {200, "Up", SDL_SCANCODE_UP},
    {208, "Down", SDL_SCANCODE_DOWN},
    {203, "Left", SDL_SCANCODE_LEFT},
    {205, "Right", SDL_SCANCODE_RIGHT},
    {207, "End", SDL_SCANCODE_END},
    {201, "PageUp", SDL_SCANCODE_PAGEUP},
    {209, "PageDown", SDL_SCANCODE_PAGEDOWN},
    {210, "Insert", SDL_SCANCODE_INSERT},
    {211, "Delete", SDL_SCANCODE_DELETE},
    // Unnamed: held() works, the rebinding scan never returns them.
    {86, nullptr, SDL_SCANCODE_NONUSBACKSLASH},
    {100, nullptr, SDL_SCANCODE_F13},
    {101, nullptr, SDL_SCANCODE_F14},
    {102, nullptr, SDL_SCANCODE_F15},
    {112, nullptr, SDL_SCANCODE_INTERNATIONAL2},
    {115, nullptr, SDL_SCANCODE_INTERNATIONAL1},
    {121, nullptr, SDL_SCANCODE_INTERNATIONAL4},
    {123, nullptr, SDL_SCANCODE_INTERNATIONAL5},
    {125, nullptr, SDL_SCANCODE_INTERNATIONAL3},
    {141, nullptr, SDL_SCANCODE_KP_EQUALS},
    {183, nullptr, SDL_SCANCODE_PRINTSCREEN},
    {219, nullptr, SDL_SCANCODE_LGUI},
    {220, nullptr, SDL_SCANCODE_RGUI},
    {221, nullptr, SDL_SCANCODE_APPLICATION},
};
constexpr int32_t kNamedCount = 101;
static_assert(kKeys[kNamedCount - 1].dik == 211 && kKeys[kNamedCount].name == nullptr);

struct Maps {
    std::array<SDL_Scancode, 256> toScancode{};
    std::array<int16_t, SDL_NUM_SCANCODES> toDik{};
    std::array<const char*, 256> names{};
    Maps() {
        toScancode.fill(SDL_SCANCODE_UNKNOWN);
        for (const KeyEntry& k : kKeys) {
            toScancode[k.dik] = k.scancode;
            toDik[k.scancode] = static_cast<int16_t>(k.dik);
            names[k.dik] = k.name;
        }
        // Keyboards with the ISO key beside Return report it as NONUSHASH.
        toDik[SDL_SCANCODE_NONUSHASH] = 43;
    }
};
const Maps& maps() {
    static const Maps m;
    return m;
}

bool gHeld[256];
bool gLatch[256];
// Went down during the last pump: a tap shorter than one pass still counts as held for it.
bool gTapped[256];
Platform_EventHook gHook = nullptr;
void* gHookUser = nullptr;

bool validDik(int32_t dik) {
    return dik > 0 && dik < 256;
}

} // namespace

void Platform_Keyboard_Init() {
    // Key events come from windows: the event and video subsystems carry them. A full-screen
    // client must not minimise when the debug window takes the focus.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (!SDL_WasInit(SDL_INIT_EVENTS)) SDL_InitSubSystem(SDL_INIT_EVENTS);
    Platform_Keyboard_Reset();
    (void)maps();
}

void Platform_Keyboard_SetEventHook(Platform_EventHook hook, void* user) {
    gHook = hook;
    gHookUser = user;
}

void Platform_Keyboard_Reset() {
    std::memset(gHeld, 0, sizeof gHeld);
    std::memset(gLatch, 0, sizeof gLatch);
    std::memset(gTapped, 0, sizeof gTapped);
}

void Platform_Keyboard_SetKey(int32_t dik, bool down) {
    if (!validDik(dik)) return;
    gHeld[dik] = down;
    if (down) gLatch[dik] = true;
}

int Platform_Keyboard_PumpEvents() {
    int quits = 0;
    if (!SDL_WasInit(SDL_INIT_EVENTS)) return 0;
    SDL_PumpEvents();
    std::memset(gTapped, 0, sizeof gTapped);
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        if ((e.type == SDL_KEYDOWN || e.type == SDL_KEYUP)) {
            // Raw positions: the scancode, never the layout's key symbol.
            int32_t dik = Platform_Keyboard_FromScancode(e.key.keysym.scancode);
            if (dik) {
                Platform_Keyboard_SetKey(dik, e.type == SDL_KEYDOWN);
                if (e.type == SDL_KEYDOWN) gTapped[dik] = true;
            }
        } else if (e.type == SDL_QUIT) {
            ++quits;
        } else if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE) {
            ++quits;
        }
        if (e.type != SDL_KEYDOWN && e.type != SDL_KEYUP && gHook) gHook(&e, gHookUser);
    }
    return quits;
}

bool Platform_Keyboard_IsHeld(int32_t dik) {
    return validDik(dik) && (gHeld[dik] || gTapped[dik]);
}

bool Platform_Keyboard_Released(int32_t dik) {
    if (!validDik(dik) || gHeld[dik] || !gLatch[dik]) return false;
    gLatch[dik] = false;
    return true;
}

int32_t Platform_Keyboard_ToScancode(int32_t dik) {
    return validDik(dik) ? maps().toScancode[dik] : SDL_SCANCODE_UNKNOWN;
}

int32_t Platform_Keyboard_FromScancode(int32_t scancode) {
    if (scancode <= 0 || scancode >= SDL_NUM_SCANCODES) return 0;
    return maps().toDik[scancode];
}

const char* Key_GetName(int32_t dik) {
    if (!validDik(dik)) return "";
    const char* n = maps().names[dik];
    return n ? n : "";
}

int32_t Key_FirstPushed(std::span<const int32_t> skip) {
    for (int32_t i = 0; i < kNamedCount; ++i) {
        const int32_t dik = kKeys[i].dik;
        if (std::find(skip.begin(), skip.end(), dik) == skip.end() && Platform_Keyboard_IsHeld(dik))
            return dik;
    }
    return 0;
}

int32_t Key_NamedCount() {
    return kNamedCount;
}

int32_t Key_NamedCode(int32_t index) {
    return index >= 0 && index < kNamedCount ? kKeys[index].dik : 0;
}
