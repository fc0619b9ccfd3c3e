// Per-player menus drawn as a wheel and driven by the player's own inputs: hard drop moves up,
// soft drop down, releasing a rotate input activates. Main menu, options, key bindings, the rule
// choice (randomizer, rotation system, mode) and the replay browser.
#pragma once

#include <cstdint>
#include <string>

struct ClientPlayer;
struct DFont;
struct DoublyLinkedList;
struct Menu;

using MenuCallback = void (*)(ClientPlayer* player, int32_t selectedIndex, int32_t button);
using MenuRefresh = void (*)(Menu* menu, ClientPlayer* player);

constexpr int32_t kMenuTextLength = 255;

struct MenuItem {
    char16_t Text[kMenuTextLength]; // zero-terminated
    MenuCallback Action;
    MenuCallback OnSelect;
    int32_t* Target; // key items: the key code they rebind
};

struct Menu {
    DoublyLinkedList* Items; // MenuItem elements in display order
    int32_t Selected;
    double ScrollOffset;
    MenuRefresh Refresh;
};

Menu* Menu_New(); // null when memory runs out
void Menu_Free(Menu* menu);
// Adds an item; null when memory runs out. text is cut to the field.
MenuItem* Menu_AddItem(Menu* menu, const char16_t* text, MenuCallback action,
                       MenuCallback onSelect = nullptr, int32_t* target = nullptr);
int32_t Menu_Count(Menu* menu);
MenuItem* Menu_Item(Menu* menu, int32_t index); // null outside the list

// One frame of input handling and drawing for the player's current menu.
int32_t Menu_Update(ClientPlayer* player, DFont* font, int32_t x, int32_t y, int32_t width,
                    int32_t height, double fontScaleX, double fontScaleY);

Menu* MainMenu_Create(ClientPlayer* player);
Menu* OptionsMenu_Create(ClientPlayer* player);
Menu* KeysMenu_Create(ClientPlayer* player);
Menu* RandomizerMenu_Create(ClientPlayer* player);
Menu* RotationSystemMenu_Create(ClientPlayer* player);
Menu* ModeMenu_Create(ClientPlayer* player);
Menu* ReplayMenu_Create(ClientPlayer* player);
void ReplayMenu_Fill(Menu* menu);
void OptionsMenu_Refresh(Menu* menu, ClientPlayer* player);
void KeysMenu_Refresh(Menu* menu, ClientPlayer* player);

void MenuAction_Start(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_OpenOptions(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_Exit(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_OpenKeys(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_BackToMain(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_NextMode(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_NextRandomizer(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_NextRotationSystem(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_RebindKey(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_ChooseRandomizer(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_ChooseRotationSystem(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_ChooseMode(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_LoadReplay(ClientPlayer* player, int32_t selectedIndex, int32_t button);
void MenuAction_PlayReplay(ClientPlayer* player, int32_t selectedIndex, int32_t button);

// An item's text as the font can draw it: a byte of a file name that was not UTF-8 (U+FFFD)
// shows as "?" when the font has no glyph for U+FFFD, so names differing only there stay
// apart on screen.
std::u16string Menu_ShownText(DFont* font, const char16_t* text);
// Ends a key capture without a new key: the action keeps the key it had (Escape, or the
// program ending meanwhile). False when no key was being chosen.
bool Menu_CancelRebind();

// Menu state shared with the main loop.
struct MenuState {
    int32_t ReplayBrowserShown = 0;
    int32_t* PendingKeyTarget = nullptr; // key code being rebound
    int32_t PendingOldKey = 0;           // its code before the capture began
    ClientPlayer* PendingKeyPlayer = nullptr;
    int32_t CaptureHeld = 0; // key held on the previous capture frame
    int32_t* Quit = nullptr; // set by the exit item
    // The session records its games (no replay was named at start-up, or it could not be
    // loaded): a game chosen from the menus records again after a replay from the browser.
    bool SessionRecords = false;
    // The client's own option lists (empty in this client: the items show "n/a").
    int32_t ModeIndex = 0, RandomizerIndex = 0, RotationSystemIndex = 0;
};
extern MenuState gMenus;
