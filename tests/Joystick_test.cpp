#include "Joystick.h"
#include "Platform_Joystick.h"

#include <SDL.h>
#include <gtest/gtest.h>

TEST(Joystick, BindingTextEdgeCases) {
    EXPECT_EQ(Joystick_TextToBinding("b3"), 12);
    EXPECT_EQ(Joystick_TextToBinding("B3"), 12); // case-blind
    EXPECT_EQ(Joystick_TextToBinding(" b3"), 0); // no trimming
    EXPECT_EQ(Joystick_TextToBinding("b3 "), 0);
    EXPECT_EQ(Joystick_TextToBinding(""), 0);
    EXPECT_EQ(Joystick_TextToBinding("b0"), 0);
    EXPECT_EQ(Joystick_TextToBinding("b17"), 0);
    EXPECT_EQ(Joystick_TextToBinding("b1"), 10);
    EXPECT_EQ(Joystick_TextToBinding("b16"), 25);
    EXPECT_EQ(Joystick_TextToBinding("-x"), 26);
    EXPECT_EQ(Joystick_TextToBinding("+RZ"), 37);
    EXPECT_EQ(Joystick_TextToBinding("-p0y"), 38);
    EXPECT_EQ(Joystick_TextToBinding("+p0x"), 40);
    EXPECT_EQ(Joystick_TextToBinding("+p3y"), 53);
    EXPECT_EQ(Joystick_TextToBinding("+p4y"), 0);
    EXPECT_EQ(Joystick_BindingToText(53), "+p3y");
    EXPECT_EQ(Joystick_BindingToText(47), "-p2x");
    for (int32_t code : {-1, 1, 9, 54, 1000}) EXPECT_EQ(Joystick_BindingToText(code), "") << code;
    // Every code with a text survives a write and a read, hats keep their number.
    for (int32_t code = 10; code < 54; ++code)
        EXPECT_EQ(Joystick_TextToBinding(Joystick_BindingToText(code)), code) << code;
}

class VirtualJoystick : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 16, 4);
        ASSERT_GE(index, 0) << SDL_GetError();
        ASSERT_EQ(Joystick_Init(), 1);
        sdl = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
        ASSERT_NE(sdl, nullptr);
    }
    void TearDown() override {
        Joystick_Shutdown();
        SDL_JoystickDetachVirtual(index);
        SDL_Quit();
    }
    void hat(int h, Uint8 value) {
        SDL_JoystickSetVirtualHat(sdl, h, value);
        Joystick_Update();
    }
    void axis(int a, Sint16 value) {
        SDL_JoystickSetVirtualAxis(sdl, a, value);
        Joystick_Update();
    }
    int index = -1;
    SDL_Joystick* sdl = nullptr;
};

TEST_F(VirtualJoystick, HatDiagonalsActivateBothNeighbours) {
    const int up = 38, left = 39, right = 40, down = 41;
    auto active = [&](int code) { return Joystick_IsBindingActive(0, code, 0); };
    hat(0, SDL_HAT_LEFTUP);
    EXPECT_EQ(Platform_Joystick_Hat(0, 0), 31500);
    EXPECT_TRUE(active(up) && active(left));
    EXPECT_FALSE(active(right) || active(down));
    hat(0, SDL_HAT_RIGHTDOWN);
    EXPECT_EQ(Platform_Joystick_Hat(0, 0), 13500);
    EXPECT_TRUE(active(right) && active(down));
    EXPECT_FALSE(active(up) || active(left));
    hat(0, SDL_HAT_LEFT);
    EXPECT_TRUE(active(left));
    EXPECT_FALSE(active(up) || active(down) || active(right));
    hat(0, SDL_HAT_CENTERED);
    EXPECT_EQ(Platform_Joystick_Hat(0, 0), kHatCentred);
    for (int c = up; c <= down; ++c) EXPECT_FALSE(active(c));
    // Hat 2 has its own codes.
    hat(2, SDL_HAT_UP);
    EXPECT_TRUE(active(Joystick_TextToBinding("-p2y")));
    EXPECT_FALSE(active(up));
}

TEST_F(VirtualJoystick, AxesButtonsAndDeadZone) {
    axis(0, -32768);
    axis(1, 32767);
    EXPECT_EQ(Platform_Joystick_Axis(0, 0), -1000);
    EXPECT_EQ(Platform_Joystick_Axis(0, 1), 1000);
    EXPECT_TRUE(Joystick_IsBindingActive(0, Joystick_TextToBinding("-x"), 0));
    EXPECT_FALSE(Joystick_IsBindingActive(0, Joystick_TextToBinding("+x"), 0));
    EXPECT_TRUE(Joystick_IsBindingActive(0, Joystick_TextToBinding("+y"), 0));

    // Half the range dead: a small push is centred, a full push still counts.
    EXPECT_EQ(Joystick_SetDeadzone(0, 5000), 1);
    axis(2, 8000);
    EXPECT_EQ(Platform_Joystick_Axis(0, 2), 0);
    EXPECT_TRUE(Joystick_IsBindingActive(0, Joystick_TextToBinding("+y"), 0));

    // The whole range dead: no axis binding works, hats and buttons still do.
    EXPECT_EQ(Joystick_SetDeadzone(0, 10000), 1);
    EXPECT_FALSE(Joystick_IsBindingActive(0, Joystick_TextToBinding("-x"), 0));
    EXPECT_FALSE(Joystick_IsBindingActive(0, Joystick_TextToBinding("+y"), 0));
    SDL_JoystickSetVirtualButton(sdl, 2, SDL_PRESSED);
    hat(1, SDL_HAT_DOWN);
    EXPECT_TRUE(Joystick_IsBindingActive(0, Joystick_TextToBinding("b3"), 0));
    EXPECT_FALSE(Joystick_IsBindingActive(0, Joystick_TextToBinding("b4"), 0));
    EXPECT_TRUE(Joystick_IsBindingActive(0, Joystick_TextToBinding("+p1y"), 0));

    // Out-of-range dead zones and missing joysticks are refused.
    EXPECT_EQ(Joystick_SetDeadzone(0, 10001), 0);
    EXPECT_EQ(Joystick_SetDeadzone(0, -1), 0);
    EXPECT_EQ(Joystick_SetDeadzone(1, 0), 0);
    EXPECT_EQ(Joystick_SetDeadzone(-1, 0), 0);
    EXPECT_FALSE(Joystick_IsBindingActive(1, Joystick_TextToBinding("b3"), 0));
    EXPECT_FALSE(Joystick_IsBindingActive(16, Joystick_TextToBinding("b3"), 0));
    // Codes without text are never active.
    EXPECT_FALSE(Joystick_IsBindingActive(0, 0, 0));
    EXPECT_FALSE(Joystick_IsBindingActive(0, 9, 0));
    EXPECT_FALSE(Joystick_IsBindingActive(0, 54, 0));
}
