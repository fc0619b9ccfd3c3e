#include "DFont.h"
#include "Platform_Keyboard.h"
#include "Sprite3D.h"
#include "Vantrel_GUI_Callbacks.h"
#include "Vantrel_GUI_Menu.h"
#include "Vantrel_GUI_Resources.h"
#include "Vantrel_GUI_Settings.h"
#include "Vantrel_GUI_Skin.h"
#include "Zelvik_Player.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// A player with menus but no engine player: the main, options and keys chain needs none.
class MenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        Client_Settings() = ClientSettings{};
        gMenus = MenuState{};
        gMenus.Quit = &quit;
        Platform_Keyboard_Reset();
        Sprite3D* page = Sprite3D_Create(64, 64, 0);
        ASSERT_NE(page, nullptr);
        font = DFont_Create(page, 32, 0);
        ASSERT_NE(font, nullptr);
        for (int c = 32; c < 128; ++c) DFont_AddGlyph(font, DFontGlyph{0, 0, 4, 8});
        cp = ClientPlayer{};
        std::copy_n(Client_Settings().Keys, kActionCount, cp.Keys);
        cp.MainMenu = MainMenu_Create(&cp);
    }
    void TearDown() override {
        Menu_Free(cp.MainMenu);
        Menu_Free(cp.ReplayMenu);
        DFont_Free(font);
        gResources.Replays.clear();
    }
    // One frame with these input bits held.
    void frame(uint32_t held) {
        cp.LastInput = cp.Input;
        cp.Input = int32_t(held);
        Menu_Update(&cp, font, 0, 0, 200, 100, 1.0, 1.0);
    }
    std::u16string text(int i) {
        MenuItem* item = Menu_Item(cp.MainMenu, i);
        return item ? std::u16string(item->Text) : u"<none>";
    }
    std::u16string selectedText() { return text(cp.MainMenu->Selected); }
    // Press and release a rotate input on the highlighted item.
    void activate() {
        frame(Input_RotCCW);
        frame(0);
    }
    void moveTo(const std::u16string& wanted) {
        for (int i = 0; i < 20 && selectedText() != wanted; ++i) {
            frame(Input_SoftDrop);
            frame(0);
        }
        ASSERT_EQ(selectedText(), wanted);
    }
    int32_t quit = 0;
    DFont* font = nullptr;
    ClientPlayer cp{};
};

} // namespace

TEST_F(MenuTest, HardAndSoftDropMoveOneStepAndWrap) {
    ASSERT_EQ(Menu_Count(cp.MainMenu), 3);
    EXPECT_EQ(text(0), u"Start");
    EXPECT_EQ(text(1), u"Options");
    EXPECT_EQ(text(2), u"Exit");
    frame(Input_HardDrop); // up from the first wraps to the last
    EXPECT_EQ(cp.MainMenu->Selected, 2);
    EXPECT_DOUBLE_EQ(cp.MainMenu->ScrollOffset, -1.0);
    for (int i = 0; i < 5; ++i) frame(Input_HardDrop); // held: no further steps
    EXPECT_EQ(cp.MainMenu->Selected, 2);
    EXPECT_NEAR(cp.MainMenu->ScrollOffset, -1.0 / std::pow(1.25, 5), 1e-12);
    frame(0);
    frame(Input_SoftDrop);
    EXPECT_EQ(cp.MainMenu->Selected, 0);
    frame(Input_SoftDrop | Input_HardDrop); // soft drop is still held: only hard drop is new
    EXPECT_EQ(cp.MainMenu->Selected, 2);
}

TEST_F(MenuTest, ActionsRunOnReleaseOnly) {
    moveTo(u"Exit");
    frame(Input_RotCW); // held while arriving: nothing yet
    frame(Input_RotCW);
    EXPECT_EQ(quit, 0);
    frame(0);
    EXPECT_EQ(quit, 1);
}

TEST_F(MenuTest, OptionsAndKeysChain) {
    moveTo(u"Options");
    activate();
    EXPECT_EQ(Menu_Count(cp.MainMenu), 5);
    EXPECT_EQ(text(0), u"Keys");
    EXPECT_EQ(text(1), u"Mode: n/a");
    EXPECT_EQ(text(2), u"Randomizer: n/a");
    EXPECT_EQ(text(3), u"RotationSystem: n/a");
    EXPECT_EQ(text(4), u"Back");
    moveTo(u"Mode: n/a");
    activate(); // an empty list: the item only refreshes
    EXPECT_EQ(text(1), u"Mode: n/a");
    moveTo(u"Keys");
    activate();
    ASSERT_EQ(Menu_Count(cp.MainMenu), 13);
    EXPECT_EQ(text(0), u"Left: Z");
    EXPECT_EQ(text(4), u"RotLeft: M");
    EXPECT_EQ(text(7), u"RotRight2: ");
    EXPECT_EQ(text(11), u"Hold: Space");
    EXPECT_EQ(text(12), u"Back");
    moveTo(u"Back");
    activate();
    EXPECT_EQ(text(0), u"Keys"); // back to the options
    moveTo(u"Back");
    activate();
    EXPECT_EQ(text(0), u"Start");
}

TEST_F(MenuTest, RebindCapturesThePressedAndReleasedKey) {
    Menu_Free(cp.MainMenu);
    cp.MainMenu = KeysMenu_Create(&cp);
    ASSERT_EQ(text(0), u"Left: Z");
    activate();
    EXPECT_EQ(text(0), u"Left: ");
    EXPECT_EQ(Client_Settings().Keys[0], 0);
    frame(Input_SoftDrop); // navigation is frozen during capture
    EXPECT_EQ(cp.MainMenu->Selected, 0);
    Platform_Keyboard_SetKey(63, true); // F5 (a screenshot) is never taken for the binding
    frame(0);
    Platform_Keyboard_SetKey(63, false);
    frame(0);
    EXPECT_EQ(text(0), u"Left: ");
    Platform_Keyboard_SetKey(30, true); // A down
    frame(0);
    EXPECT_EQ(text(0), u"Left: ");
    Platform_Keyboard_SetKey(30, false); // and up: bound
    frame(0);
    EXPECT_EQ(text(0), u"Left: A");
    EXPECT_EQ(Client_Settings().Keys[0], 30);
    EXPECT_EQ(cp.Keys[0], 30); // the player's copy works at once
    EXPECT_EQ(gMenus.PendingKeyTarget, nullptr);
    frame(Input_SoftDrop);
    EXPECT_EQ(cp.MainMenu->Selected, 1);
}

TEST_F(MenuTest, ReplayBrowserListsFilesWithoutTheirExtension) {
    gResources.Replays = {"replays/PEXA Master_01_02_03.er", "replays/b.er", "replays/x",
                          "replays/caf\xE9_x.er", "replays/caf_x.er"};
    cp.ReplayMenu = ReplayMenu_Create(&cp);
    ASSERT_EQ(Menu_Count(cp.ReplayMenu), 5);
    EXPECT_EQ(std::u16string(Menu_Item(cp.ReplayMenu, 0)->Text), u"PEXA Master_01_02_03");
    EXPECT_EQ(std::u16string(Menu_Item(cp.ReplayMenu, 1)->Text), u"b");
    EXPECT_EQ(std::u16string(Menu_Item(cp.ReplayMenu, 2)->Text), u"");
    // A name that is not UTF-8 shows its odd byte, drawn as "?" by a font without U+FFFD, so
    // it does not look like the other name.
    EXPECT_EQ(Menu_ShownText(font, Menu_Item(cp.ReplayMenu, 3)->Text), u"caf?_x");
    EXPECT_EQ(Menu_ShownText(font, Menu_Item(cp.ReplayMenu, 4)->Text), u"caf_x");
    EXPECT_EQ(Menu_Item(cp.ReplayMenu, 0)->Action, MenuAction_PlayReplay);
    EXPECT_EQ(Menu_Item(cp.ReplayMenu, 0)->OnSelect, MenuAction_LoadReplay);
    gMenus.ReplayBrowserShown = 1;
    cp.ReplayMenu->Selected = 2;
    gResources.Replays.resize(1);
    ReplayMenu_Fill(cp.ReplayMenu); // the position stays where it was
    EXPECT_EQ(cp.ReplayMenu->Selected, 2);
    EXPECT_EQ(Menu_Count(cp.ReplayMenu), 1);
    frame(Input_SoftDrop); // serves the browser, not the main menu
    EXPECT_EQ(cp.ReplayMenu->Selected, 0);
    EXPECT_EQ(cp.MainMenu->Selected, 0);
    gMenus.ReplayBrowserShown = 0;
}

TEST_F(MenuTest, EmptyMenusAndLongTexts) {
    Menu* empty = Menu_New();
    Menu_Free(cp.MainMenu);
    cp.MainMenu = empty;
    frame(Input_SoftDrop);
    EXPECT_EQ(empty->Selected, 0);
    frame(0);
    frame(Input_RotCCW);
    frame(0); // nothing to activate
    std::u16string longText(400, u'x');
    MenuItem* item = Menu_AddItem(empty, longText.c_str(), nullptr);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(std::u16string(item->Text).size(), size_t(kMenuTextLength - 1));
    frame(0); // draws a text far wider than the menu
}
