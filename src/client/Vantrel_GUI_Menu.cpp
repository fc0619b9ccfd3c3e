#include "Vantrel_GUI_Menu.h"

#include "DFont.h"
#include "DoublyLinkedList.h"
#include "Platform_Keyboard.h"
#include "Platform_Path.h"
#include "Sprite3D.h"
#include "Vantrel_Common.h"
#include "Vantrel_GUI_Callbacks.h"
#include "Vantrel_GUI_Resources.h"
#include "Vantrel_GUI_Settings.h"
#include "Vantrel_GUI_Skin.h"
#include "Zelvik_Player.h"
#include "Zelvik_Replay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <numbers>
#include <string>

MenuState gMenus;

namespace {

const char16_t* const kKeyLabels[kActionCount] = {
    u"Left: ",     u"Right: ",     u"HardDrop: ", u"SoftDrop: ",  u"RotLeft: ", u"RotRight: ",
    u"RotLeft2: ", u"RotRight2: ", u"RotLeft3: ", u"RotRight3: ", u"Rot180: ",  u"Hold: "};

void setText(MenuItem* item, const std::u16string& text) {
    size_t n = std::min(text.size(), size_t(kMenuTextLength - 1));
    std::memcpy(item->Text, text.data(), n * sizeof(char16_t));
    item->Text[n] = 0;
}

std::u16string idName(const ZelvikID* id) {
    char16_t name[33] = {};
    std::memcpy(name, reinterpret_cast<const uint8_t*>(id) + offsetof(ZelvikID, name),
                sizeof(char16_t) * 32);
    return name;
}

void replaceMenu(ClientPlayer* cp, Menu* next) {
    if (!cp) return;
    Menu* old = cp->MainMenu;
    cp->MainMenu = next;
    if (old && old != next) Menu_Free(old);
}

void startWithSeed(Player* p) {
    p->ops->Reset(p);
    if (Client_Options().RandomSeed != 0) p->Seed = uint32_t(Client_Options().RandomSeed);
}

// One item per plug-in of a kind the player knows (count with index -1).
Menu* pluginMenu(ClientPlayer* cp, intptr_t (*info)(Player*, int32_t), MenuCallback action,
                 MenuCallback onSelect) {
    Menu* m = Menu_New();
    if (!m || !cp || !cp->Player) return m;
    Player* p = cp->Player;
    intptr_t count = info(p, -1);
    for (int32_t i = 0; i < count && i < 4096; ++i) {
        auto* id = reinterpret_cast<const ZelvikID*>(info(p, i));
        if (id) Menu_AddItem(m, idName(id).c_str(), action, onSelect);
    }
    return m;
}

void noSelect(ClientPlayer*, int32_t, int32_t) {}

// A replay played from the browser set the player to play back; a game chosen from the menus
// is the player's own again: it takes the keys and is recorded.
void recordOwnGames(Player* p) {
    if (!gMenus.SessionRecords) return;
    p->PlayerFlags &= ~uint32_t(Flag_PlayReplay);
    p->PlayerFlags |= Flag_RecordReplay;
}

Menu* currentMenu(ClientPlayer* cp) {
    return gMenus.ReplayBrowserShown ? cp->ReplayMenu : cp->MainMenu;
}

} // namespace

Menu* Menu_New() {
    Menu* m = static_cast<Menu*>(calloc(1, sizeof(Menu)));
    if (!m) return nullptr;
    m->Items = DoublyLinkedList_Create(sizeof(MenuItem));
    if (!m->Items) {
        free(m);
        return nullptr;
    }
    return m;
}

void Menu_Free(Menu* menu) {
    if (!menu) return;
    DoublyLinkedList_FreeList(menu->Items);
    free(menu);
}

MenuItem* Menu_AddItem(Menu* menu, const char16_t* text, MenuCallback action, MenuCallback onSelect,
                       int32_t* target) {
    if (!menu) return nullptr;
    auto* item = static_cast<MenuItem*>(DoublyLinkedList_AddElement(menu->Items));
    if (!item) return nullptr;
    setText(item, text ? text : u"");
    item->Action = action;
    item->OnSelect = onSelect;
    item->Target = target;
    return item;
}

int32_t Menu_Count(Menu* menu) {
    return menu ? DoublyLinkedList_CountList(menu->Items) : 0;
}

MenuItem* Menu_Item(Menu* menu, int32_t index) {
    if (!menu || index < 0 || index >= Menu_Count(menu)) return nullptr;
    return static_cast<MenuItem*>(DoublyLinkedList_SelectElement(menu->Items, index));
}

Menu* MainMenu_Create(ClientPlayer*) {
    Menu* m = Menu_New();
    Menu_AddItem(m, u"Start", MenuAction_Start);
    Menu_AddItem(m, u"Options", MenuAction_OpenOptions);
    Menu_AddItem(m, u"Exit", MenuAction_Exit);
    return m;
}

Menu* OptionsMenu_Create(ClientPlayer* cp) {
    Menu* m = Menu_New();
    if (!m) return nullptr;
    Menu_AddItem(m, u"Keys", MenuAction_OpenKeys);
    Menu_AddItem(m, u"", MenuAction_NextMode);
    Menu_AddItem(m, u"", MenuAction_NextRandomizer);
    Menu_AddItem(m, u"", MenuAction_NextRotationSystem);
    Menu_AddItem(m, u"Back", MenuAction_BackToMain);
    m->Refresh = OptionsMenu_Refresh;
    OptionsMenu_Refresh(m, cp);
    return m;
}

void OptionsMenu_Refresh(Menu* m, ClientPlayer*) {
    // The client keeps no lists of its own here, so each choice shows "n/a".
    if (MenuItem* i = Menu_Item(m, 1)) setText(i, u"Mode: n/a");
    if (MenuItem* i = Menu_Item(m, 2)) setText(i, u"Randomizer: n/a");
    if (MenuItem* i = Menu_Item(m, 3)) setText(i, u"RotationSystem: n/a");
}

Menu* KeysMenu_Create(ClientPlayer* cp) {
    Menu* m = Menu_New();
    if (!m) return nullptr;
    for (int32_t i = 0; i < kActionCount; ++i)
        Menu_AddItem(m, kKeyLabels[i], MenuAction_RebindKey, nullptr, &Client_Settings().Keys[i]);
    Menu_AddItem(m, u"Back", MenuAction_OpenOptions);
    m->Refresh = KeysMenu_Refresh;
    KeysMenu_Refresh(m, cp);
    return m;
}

void KeysMenu_Refresh(Menu* m, ClientPlayer*) {
    for (int32_t i = 0; i < kActionCount; ++i)
        if (MenuItem* item = Menu_Item(m, i))
            setText(item, kKeyLabels[i] + Skin_FromUtf8(Key_GetName(*item->Target)));
}

Menu* RandomizerMenu_Create(ClientPlayer* cp) {
    // A networked player takes the server's randomizer.
    if (cp && cp->Player && cp->Player->Connection) return RotationSystemMenu_Create(cp);
    return pluginMenu(cp, cp && cp->Player ? cp->Player->ops->GetRandomizerInfo : nullptr,
                      MenuAction_ChooseRandomizer, nullptr);
}

Menu* RotationSystemMenu_Create(ClientPlayer* cp) {
    return pluginMenu(cp, cp && cp->Player ? cp->Player->ops->GetRotationSystemInfo : nullptr,
                      MenuAction_ChooseRotationSystem, nullptr);
}

Menu* ModeMenu_Create(ClientPlayer* cp) {
    return pluginMenu(cp, cp && cp->Player ? cp->Player->ops->GetModeInfo : nullptr,
                      MenuAction_ChooseMode, noSelect);
}

Menu* ReplayMenu_Create(ClientPlayer*) {
    Menu* m = Menu_New();
    ReplayMenu_Fill(m);
    return m;
}

void ReplayMenu_Fill(Menu* menu) {
    if (!menu) return;
    DoublyLinkedList_ClearList(menu->Items);
    for (const std::string& path : gResources.Replays) {
        std::string file = path.substr(path.find_last_of("/\\") + 1);
        file.resize(file.size() >= 3 ? file.size() - 3 : 0); // the ".er"
        Menu_AddItem(menu, Skin_FromUtf8(file).c_str(), MenuAction_PlayReplay,
                     MenuAction_LoadReplay);
    }
}

void MenuAction_Start(ClientPlayer* cp, int32_t, int32_t) {
    // The rules are chosen first: randomizer, rotation system, mode; the mode starts the game.
    if (!cp || !cp->Player) return;
    recordOwnGames(cp->Player);
    replaceMenu(cp, RandomizerMenu_Create(cp));
}

void MenuAction_OpenOptions(ClientPlayer* cp, int32_t, int32_t) {
    replaceMenu(cp, OptionsMenu_Create(cp));
}

void MenuAction_Exit(ClientPlayer*, int32_t, int32_t) {
    if (gMenus.Quit) *gMenus.Quit = 1;
}

void MenuAction_OpenKeys(ClientPlayer* cp, int32_t, int32_t) {
    replaceMenu(cp, KeysMenu_Create(cp));
}

void MenuAction_BackToMain(ClientPlayer* cp, int32_t, int32_t) {
    replaceMenu(cp, MainMenu_Create(cp));
}

void MenuAction_NextMode(ClientPlayer* cp, int32_t, int32_t) {
    gMenus.ModeIndex = PositiveMod(gMenus.ModeIndex + 1, 0);
    if (cp && cp->MainMenu && cp->MainMenu->Refresh) cp->MainMenu->Refresh(cp->MainMenu, cp);
}

void MenuAction_NextRandomizer(ClientPlayer* cp, int32_t, int32_t) {
    gMenus.RandomizerIndex = PositiveMod(gMenus.RandomizerIndex + 1, 0);
    if (cp && cp->MainMenu && cp->MainMenu->Refresh) cp->MainMenu->Refresh(cp->MainMenu, cp);
}

void MenuAction_NextRotationSystem(ClientPlayer* cp, int32_t, int32_t) {
    gMenus.RotationSystemIndex = PositiveMod(gMenus.RotationSystemIndex + 1, 0);
    if (cp && cp->MainMenu && cp->MainMenu->Refresh) cp->MainMenu->Refresh(cp->MainMenu, cp);
}

void MenuAction_RebindKey(ClientPlayer* cp, int32_t selectedIndex, int32_t) {
    if (!cp) return;
    MenuItem* item = Menu_Item(cp->MainMenu, selectedIndex);
    if (!item || !item->Target) return;
    gMenus.PendingKeyTarget = item->Target;
    gMenus.PendingOldKey = *item->Target;
    gMenus.PendingKeyPlayer = cp;
    gMenus.CaptureHeld = 0;
    *item->Target = 0;
    if (cp->MainMenu->Refresh) cp->MainMenu->Refresh(cp->MainMenu, cp);
}

void MenuAction_ChooseRandomizer(ClientPlayer* cp, int32_t selectedIndex, int32_t) {
    if (!cp || !cp->Player) return;
    Player* p = cp->Player;
    p->ops->SetRandomizer(
        p, reinterpret_cast<const ZelvikID*>(p->ops->GetRandomizerInfo(p, selectedIndex)));
    replaceMenu(cp, RotationSystemMenu_Create(cp));
}

void MenuAction_ChooseRotationSystem(ClientPlayer* cp, int32_t selectedIndex, int32_t) {
    if (!cp || !cp->Player) return;
    Player* p = cp->Player;
    p->ops->SetRotationSystem(
        p, reinterpret_cast<const ZelvikID*>(p->ops->GetRotationSystemInfo(p, selectedIndex)));
    if (p->Connection) {
        // The server starts the game; the menu stays.
        p->ops->Reset(p);
        p->ops->RequestStart(p);
        return;
    }
    replaceMenu(cp, ModeMenu_Create(cp));
}

void MenuAction_ChooseMode(ClientPlayer* cp, int32_t selectedIndex, int32_t) {
    if (!cp || !cp->Player) return;
    Player* p = cp->Player;
    startWithSeed(p);
    recordOwnGames(p);
    p->ops->SetMode(p, reinterpret_cast<const ZelvikID*>(p->ops->GetModeInfo(p, selectedIndex)));
    p->ops->RequestStart(p);
    // When the game ends the player is back at the main menu (options, another game, exit).
    replaceMenu(cp, MainMenu_Create(cp));
}

void MenuAction_LoadReplay(ClientPlayer* cp, int32_t selectedIndex, int32_t) {
    if (!cp || !cp->Player || !cp->Player->Replay) return;
    if (selectedIndex < 0 || size_t(selectedIndex) >= gResources.Replays.size()) return;
    Replay* r = cp->Player->Replay;
    // The name as the file system has it, also when it is not UTF-8.
    r->ops->Load(r, cp->Player,
                 Platform_Path_FromUtf8(gResources.Replays[size_t(selectedIndex)]).c_str(), 1);
}

void MenuAction_PlayReplay(ClientPlayer* cp, int32_t, int32_t) {
    if (!cp || !cp->Player) return;
    Player* p = cp->Player;
    p->ops->Reset(p);
    p->PlayerFlags |= Flag_PlayReplay;
    p->PlayerFlags &= ~uint32_t(Flag_RecordReplay);
    p->ops->RequestStart(p);
}

std::u16string Menu_ShownText(DFont* font, const char16_t* text) {
    std::u16string s = text ? text : u"";
    if (s.find(u'\uFFFD') == std::u16string::npos) return s;
    const DFontGlyph* g = DFont_Glyph(font, 0xFFFD);
    if (!g || g->Right <= g->Left) std::replace(s.begin(), s.end(), u'\uFFFD', u'?');
    return s;
}

bool Menu_CancelRebind() {
    if (!gMenus.PendingKeyTarget) return false;
    *gMenus.PendingKeyTarget = gMenus.PendingOldKey;
    ClientPlayer* cp = gMenus.PendingKeyPlayer;
    gMenus.PendingKeyTarget = nullptr;
    gMenus.PendingKeyPlayer = nullptr;
    gMenus.CaptureHeld = 0;
    if (cp && cp->MainMenu && cp->MainMenu->Refresh) cp->MainMenu->Refresh(cp->MainMenu, cp);
    return true;
}

int32_t Menu_Update(ClientPlayer* cp, DFont* font, int32_t x, int32_t y, int32_t width,
                    int32_t height, double fontScaleX, double fontScaleY) {
    if (!cp || !font) return 0;
    Menu* m = currentMenu(cp);
    if (!m) return 0;
    m->ScrollOffset /= 1.25;

    if (gMenus.PendingKeyTarget) {
        // Key capture: the key that was held and is now let go gets bound.
        // The function keys keep their meaning while a key is being chosen: a screenshot taken
        // then, say, must not become the new binding.
        int32_t k = Key_FirstPushed(kFunctionKeys);
        if (gMenus.CaptureHeld && !k) {
            int32_t code = gMenus.CaptureHeld;
            int32_t* target = gMenus.PendingKeyTarget;
            *target = code;
            // The player's own copy too, so the new key works at once.
            ClientSettings& s = Client_Settings();
            if (ClientPlayer* owner = gMenus.PendingKeyPlayer)
                for (int32_t i = 0; i < kActionCount; ++i)
                    if (target == &s.Keys[i]) owner->Keys[i] = code;
            gMenus.PendingKeyTarget = nullptr;
            gMenus.PendingKeyPlayer = nullptr;
            if (m->Refresh) m->Refresh(m, cp);
        }
        gMenus.CaptureHeld = k;
    } else {
        const uint32_t in = uint32_t(cp->Input), last = uint32_t(cp->LastInput);
        const uint32_t press = in & ~last, release = last & ~in;
        const int32_t n = Menu_Count(m);
        auto move = [&](int32_t step) {
            m->Selected = PositiveMod(m->Selected + step, n);
            m->ScrollOffset += step;
            if (MenuItem* item = Menu_Item(m, m->Selected))
                if (item->OnSelect) item->OnSelect(cp, m->Selected, 0);
        };
        if (press & Input_HardDrop) {
            move(-1);
        } else if (press & Input_SoftDrop) {
            move(1);
        } else if (release & (Input_RotCCW | Input_RotCW)) {
            // An action may replace (and free) this menu: nothing of it is touched afterwards.
            if (MenuItem* item = Menu_Item(m, m->Selected))
                if (item->Action) item->Action(cp, m->Selected, (release & Input_RotCCW) ? 16 : 32);
        }
    }

    // Drawing uses whichever menu is current now; none once the action started a game.
    m = currentMenu(cp);
    if (!m) return 0;
    if (cp->Player && cp->Player->State != State_Idle) return 1;
    const int32_t n = Menu_Count(m);
    const bool browser = gMenus.ReplayBrowserShown != 0;
    for (int32_t i = 0; i < n; ++i) {
        MenuItem* item = Menu_Item(m, i);
        if (!item) continue;
        int32_t d = i - m->Selected;
        if (d > n / 2) d -= n;
        if (d < -n / 2) d += n;
        const double t = d + m->ScrollOffset;
        const double a = t * std::numbers::pi / 4;
        const double alpha = 255 - 128 * std::fabs(t);
        if (std::cos(a) <= -0.8 || alpha <= 0) continue;
        DFont_SetAlpha(font, uint32_t(RoundPixel(alpha)));
        const std::u16string shown = Menu_ShownText(font, item->Text);
        const char16_t* text = shown.c_str();
        DFont_SetScale(font, fontScaleX, fontScaleY);
        const int32_t baseWidth = DFont_TextWidth(font, text);
        double sx = fontScaleX * (1 + 0.2 * std::cos(a));
        double sy = fontScaleY * (1 + 0.2 * std::cos(a));
        if (baseWidth > width && baseWidth > 0) {
            sx *= double(width) / baseWidth;
            sy *= double(width) / baseWidth;
        }
        DFont_SetScale(font, sx, sy);
        int32_t tw = DFont_TextWidth(font, text);
        // The highlighted item is drawn larger than the base scale; it still keeps to the
        // menu's column, never over the labels beside it (a long replay name).
        // Glyph widths are rounded one by one, so one scaling step may leave a pixel or two.
        for (int32_t tries = 0; tw > width && tw > 0 && tries < 8; ++tries) {
            sx *= double(width) / tw;
            sy *= double(width) / tw;
            DFont_SetScale(font, sx, sy);
            tw = DFont_TextWidth(font, text);
        }
        const int32_t th = DFont_TextHeight(font, text);
        const int32_t left = x + (width - tw) / 2;
        const double top = browser ? y + (height / 2 - th) / 2 + (height / 2) * std::sin(a) / 3
                                   : y + (height - th) / 2 + height * std::sin(a) / 3;
        DFont_DrawText(font, left, RoundPixel(top), text);
    }
    DFont_SetAlpha(font, 255);
    DFont_SetScale(font, fontScaleX, fontScaleY);
    if (browser && cp->Player && cp->Player->Replay) {
        Replay* r = cp->Player->Replay;
        const int32_t step = DFont_TextHeight(font, u"|lp");
        int32_t line = y + height / 2;
        for (const char16_t* text : {r->ops->GetModeName(r), r->ops->GetRotationSystemName(r),
                                     r->ops->GetRandomizerName(r)}) {
            if (!text || !*text) continue;
            DFont_DrawText(font, x + (width - DFont_TextWidth(font, text)) / 2, line, text);
            line += step;
        }
    }
    return 1;
}
