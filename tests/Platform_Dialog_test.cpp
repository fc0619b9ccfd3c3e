#include "Platform_Dialog.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

void key(SDL_Scancode sc, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.keysym.scancode = sc;
    SDL_PushEvent(&e);
}

// Someone at the keyboard: optional text, then one key, again and again until the box is gone.
class Typist {
public:
    Typist(const char* text, SDL_Scancode finish) {
        thread_ = std::thread([=, this] {
            while (!done_ && !Platform_Dialog_IsOpen())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            while (!done_) {
                if (text) {
                    SDL_Event t{};
                    t.type = SDL_TEXTINPUT;
                    std::snprintf(t.text.text, sizeof t.text.text, "%s", text);
                    SDL_PushEvent(&t);
                    std::this_thread::sleep_for(std::chrono::milliseconds(60));
                }
                key(finish, true);
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                key(finish, false);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
        });
    }
    ~Typist() {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS), 0); }
    void TearDown() override { SDL_Quit(); }
};

} // namespace

TEST_F(Dialogs, InputBoxGivesTheTypedTextAndCancelKeepsTheAnswer) {
    std::string answer = "before";
    {
        Typist t("Ann", SDL_SCANCODE_RETURN);
        ASSERT_TRUE(Platform_Dialog_Input("Zelvik", "Please enter your name:", "", &answer));
    }
    EXPECT_EQ(answer, "Ann");
    {
        Typist t(nullptr, SDL_SCANCODE_RETURN); // accept the default as it stands
        ASSERT_TRUE(Platform_Dialog_Input("", "Jump to frame:", "120", &answer));
    }
    EXPECT_EQ(answer, "120");
    {
        Typist t("99", SDL_SCANCODE_ESCAPE);
        EXPECT_FALSE(Platform_Dialog_Input("", "Jump to frame:", "120", &answer));
    }
    EXPECT_EQ(answer, "120");
}

TEST_F(Dialogs, ClosingTheBoxOrQuittingCancelsAndTheQuitIsKept) {
    std::atomic<bool> done{false};
    std::thread closer([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            SDL_Event q{};
            q.type = SDL_QUIT;
            SDL_PushEvent(&q);
        }
    });
    std::string answer = "kept";
    EXPECT_FALSE(Platform_Dialog_Input("", "Name:", "x", &answer));
    done = true;
    closer.join();
    EXPECT_EQ(answer, "kept");
    // The quit request is back in the queue for the program's own loop.
    SDL_PumpEvents();
    EXPECT_TRUE(SDL_HasEvent(SDL_QUIT));
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}

TEST_F(Dialogs, ChoiceBoxAndHeadlessMessages) {
    {
        Typist t(nullptr, SDL_SCANCODE_RETURN);
        EXPECT_EQ(Platform_Dialog_Choose("Video Compression", "Compressor:", {"a", "b"}), 0);
    }
    {
        Typist t(nullptr, SDL_SCANCODE_ESCAPE);
        EXPECT_EQ(Platform_Dialog_Choose("Video Compression", "Compressor:", {"a", "b"}), -1);
    }
    EXPECT_EQ(Platform_Dialog_Choose("", "", {}), -1);
    ASSERT_TRUE(Platform_Dialog_Headless());
    testing::internal::CaptureStderr();
    Platform_Dialog_Message("", "Could not connect to host", true);
    Platform_Dialog_Message("Error", "Could not open dlls/zelvik_engine.so", true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not connect to host\nError: Could not open dlls/zelvik_engine.so\n");
}
