#include "Platform_Keyboard.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct SdlEvents {
    SdlEvents() {
        SDL_Init(SDL_INIT_EVENTS);
        Platform_Keyboard_Init();
    }
    ~SdlEvents() { SDL_Quit(); }
};

void pushKey(SDL_Scancode sc, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.keysym.scancode = sc;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    SDL_PushEvent(&e);
}

} // namespace

TEST(Platform_Keyboard, EveryNamedKeyMapsToAScancodeAndBack) {
    ASSERT_EQ(Key_NamedCount(), 101);
    std::set<int32_t> seenCodes, seenScancodes;
    for (int32_t i = 0; i < Key_NamedCount(); ++i) {
        int32_t dik = Key_NamedCode(i);
        EXPECT_TRUE(seenCodes.insert(dik).second) << dik;
        int32_t sc = Platform_Keyboard_ToScancode(dik);
        EXPECT_NE(sc, SDL_SCANCODE_UNKNOWN) << Key_GetName(dik);
        EXPECT_TRUE(seenScancodes.insert(sc).second) << Key_GetName(dik);
        EXPECT_EQ(Platform_Keyboard_FromScancode(sc), dik) << Key_GetName(dik);
        EXPECT_STRNE(Key_GetName(dik), "");
    }
    // A few fixed points of the table.
    EXPECT_EQ(Platform_Keyboard_ToScancode(44), SDL_SCANCODE_Z);
    EXPECT_EQ(Platform_Keyboard_ToScancode(156), SDL_SCANCODE_KP_ENTER);
    EXPECT_EQ(Platform_Keyboard_ToScancode(55), SDL_SCANCODE_KP_MULTIPLY);
    EXPECT_EQ(Platform_Keyboard_FromScancode(SDL_SCANCODE_NONUSHASH), 43);
    EXPECT_STREQ(Key_GetName(57), "Space");
    EXPECT_STREQ(Key_GetName(203), "Left");
}

TEST(Platform_Keyboard, UnnamedAndInvalidCodes) {
    EXPECT_STREQ(Key_GetName(0), "");
    EXPECT_STREQ(Key_GetName(84), "");
    EXPECT_STREQ(Key_GetName(86), ""); // mapped but unnamed
    EXPECT_STREQ(Key_GetName(-5), "");
    EXPECT_STREQ(Key_GetName(100000), "");
    EXPECT_EQ(Platform_Keyboard_ToScancode(86), SDL_SCANCODE_NONUSBACKSLASH);
    EXPECT_EQ(Platform_Keyboard_ToScancode(145), SDL_SCANCODE_UNKNOWN); // no SDL key
    EXPECT_EQ(Platform_Keyboard_ToScancode(0), SDL_SCANCODE_UNKNOWN);
    EXPECT_EQ(Platform_Keyboard_ToScancode(256), SDL_SCANCODE_UNKNOWN);
    EXPECT_EQ(Platform_Keyboard_FromScancode(0), 0);
    EXPECT_EQ(Platform_Keyboard_FromScancode(-1), 0);
    EXPECT_EQ(Platform_Keyboard_FromScancode(SDL_NUM_SCANCODES), 0);
    EXPECT_FALSE(Platform_Keyboard_IsHeld(0));
    EXPECT_FALSE(Platform_Keyboard_IsHeld(9999));
}

TEST(Platform_Keyboard, HeldAndReleasedOnceFromEvents) {
    SdlEvents sdl;
    pushKey(SDL_SCANCODE_ESCAPE, true);
    EXPECT_EQ(Platform_Keyboard_PumpEvents(), 0);
    EXPECT_TRUE(Platform_Keyboard_IsHeld(1));
    EXPECT_FALSE(Platform_Keyboard_Released(1)); // held: not yet
    pushKey(SDL_SCANCODE_ESCAPE, false);
    Platform_Keyboard_PumpEvents();
    EXPECT_FALSE(Platform_Keyboard_IsHeld(1));
    EXPECT_TRUE(Platform_Keyboard_Released(1));
    EXPECT_FALSE(Platform_Keyboard_Released(1)); // only once

    // A tap inside one pump still counts as one release.
    pushKey(SDL_SCANCODE_F5, true);
    pushKey(SDL_SCANCODE_F5, false);
    Platform_Keyboard_PumpEvents();
    EXPECT_TRUE(Platform_Keyboard_IsHeld(63)); // a game key tapped this fast still moves once
    EXPECT_TRUE(Platform_Keyboard_Released(63));
    EXPECT_FALSE(Platform_Keyboard_Released(63));
    Platform_Keyboard_PumpEvents();
    EXPECT_FALSE(Platform_Keyboard_IsHeld(63));
}

TEST(Platform_Keyboard, QuitAndWindowCloseAreCounted) {
    SdlEvents sdl;
    SDL_Event q{};
    q.type = SDL_QUIT;
    SDL_PushEvent(&q);
    SDL_Event c{};
    c.type = SDL_WINDOWEVENT;
    c.window.event = SDL_WINDOWEVENT_CLOSE;
    c.window.windowID = 7;
    SDL_PushEvent(&c);
    int hooked = 0;
    Platform_Keyboard_SetEventHook([](const void*, void* user) { ++*static_cast<int*>(user); },
                                   &hooked);
    EXPECT_EQ(Platform_Keyboard_PumpEvents(), 2);
    EXPECT_EQ(hooked, 2);
    Platform_Keyboard_SetEventHook(nullptr, nullptr);
}

TEST(Platform_Keyboard, FirstPushedFollowsTheNameTableOrder) {
    Platform_Keyboard_Reset();
    EXPECT_EQ(Key_FirstPushed(), 0);
    Platform_Keyboard_SetKey(30, true); // A
    Platform_Keyboard_SetKey(2, true);  // 1
    EXPECT_EQ(Key_FirstPushed(), 2);    // digits come first
    Platform_Keyboard_SetKey(2, false);
    EXPECT_EQ(Key_FirstPushed(), 30);
    Platform_Keyboard_SetKey(1, true); // Escape comes after the letters
    EXPECT_EQ(Key_FirstPushed(), 30);
    Platform_Keyboard_Reset();
    Platform_Keyboard_SetKey(86, true); // held, but never offered for binding
    EXPECT_TRUE(Platform_Keyboard_IsHeld(86));
    EXPECT_EQ(Key_FirstPushed(), 0);
    Platform_Keyboard_SetKey(211, true); // the last named key
    EXPECT_EQ(Key_FirstPushed(), 211);
    Platform_Keyboard_Reset();
}
