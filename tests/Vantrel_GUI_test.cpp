// The client in-process: start-up, passes of the main loop with injected key events, shutdown.
#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "IniFile.h"
#include "InpTestFiles.h"
#include "Platform_Dialog.h"
#include "Platform_Keyboard.h"
#include "Platform_Path.h"
#include "Platform_Screen.h"
#include "Sprite3D.h"
#include "Vantrel_Adv_Plugin.h"
#include "Vantrel_Adv_Server.h"
#include "Vantrel_GUI.h"
#include "Vantrel_GUI_Callbacks.h"
#include "Vantrel_GUI_Menu.h"
#include "Vantrel_GUI_Resources.h"
#include "Vantrel_GUI_Settings.h"
#include "Vantrel_GUI_Skin.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Player.h"
#include "Zelvik_Replay.h"
#include "Zelvik_Server.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A run folder of its own for each test: the built engine, plug-ins and data linked in, the
// settings file and replays kept apart.
class RunFolder {
public:
    explicit RunFolder(const std::string& name, bool withGame = true) {
        previous_ = fs::current_path();
        dir_ = fs::path(ZELVIK_TEST_BIN) / ("client_" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const fs::path game(ZELVIK_GAME_DIR);
        if (withGame) {
            for (const char* sub : {"dlls", "sounds", "bgm", "bg"})
                if (fs::exists(game / sub)) fs::create_directory_symlink(game / sub, dir_ / sub);
            // The skins folder gets a second skin, so F8 has somewhere to go.
            if (fs::exists(game / "skins")) {
                fs::create_directory(dir_ / "skins");
                for (auto& e : fs::directory_iterator(game / "skins")) {
                    if (e.is_directory())
                        fs::create_directory_symlink(e.path(),
                                                     dir_ / "skins" / e.path().filename());
                    else
                        fs::copy_file(e.path(), dir_ / "skins" / e.path().filename());
                }
                if (fs::exists(game / "skins/Pexa.xml"))
                    fs::copy_file(game / "skins/Pexa.xml", dir_ / "skins/Zeta.xml");
            }
        }
        fs::current_path(dir_);
    }
    ~RunFolder() { fs::current_path(previous_); }
    void writeIni(const std::string& text) {
        std::ofstream(dir_ / "zelvik.ini", std::ios::binary) << text;
    }
    static bool gameBuilt() {
        return fs::exists(fs::path(ZELVIK_GAME_DIR) / "dlls/zelvik_engine.so") &&
               fs::exists(fs::path(ZELVIK_GAME_DIR) / "skins");
    }

private:
    fs::path previous_, dir_;
};

void key(int32_t dik, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.keysym.scancode = SDL_Scancode(Platform_Keyboard_ToScancode(dik));
    SDL_PushEvent(&e);
}

// Press, a pass, release, a pass.
void tap(int32_t dik) {
    key(dik, true);
    Client_Pass();
    key(dik, false);
    Client_Pass();
}

Player* firstPlayer() {
    ClientPlayer* cp = Client_FirstPlayer();
    return cp ? cp->Player : nullptr;
}

Menu* mainMenu() {
    return Client_FirstPlayer() ? Client_FirstPlayer()->MainMenu : nullptr;
}

std::u16string selectedText(Menu* m) {
    MenuItem* item = m ? Menu_Item(m, m->Selected) : nullptr;
    return item ? item->Text : u"";
}

// Moves the highlight (soft drop key) to the item starting with wanted and releases a rotate
// key on it.
bool choose(const std::u16string& wanted) {
    Menu* m = mainMenu();
    for (int i = 0; m && i < 64; ++i) {
        if (selectedText(m).rfind(wanted, 0) == 0) {
            tap(50); // RotCCW key
            return true;
        }
        tap(45); // SoftDrop key
        m = mainMenu();
    }
    return false;
}

std::vector<std::string> filesMatching(const std::string& folder, const std::regex& re) {
    std::vector<std::string> out;
    if (!fs::exists(folder)) return out;
    for (auto& e : fs::directory_iterator(folder))
        if (std::regex_match(e.path().filename().string(), re)) out.push_back(e.path().string());
    return out;
}

// The field at the game-over event itself, whatever number of frames a pass runs.
struct GameOverSeen {
    int count = 0;
    uint32_t checksum = 0, frame = 0;
} gOver;
void onGameOver(Player* p, uintptr_t, uintptr_t) {
    ++gOver.count;
    gOver.checksum = p->ops->GetFieldChecksum(p);
    gOver.frame = p->FrameCounter;
}

// Lets the engine catch up a second of game time in one pass.
void fastForward(Player* p, int64_t ms) {
    p->StartTime -= ms;
}

} // namespace

TEST(Client, MissingEngineEndsWithExitCodeOne) {
    RunFolder run("noengine", false);
    EXPECT_EQ(Client_Startup({"/w"}), 1);
    // Not a run folder: nothing is left behind in it.
    EXPECT_FALSE(fs::exists("zelvik.ini"));
    EXPECT_FALSE(fs::exists("replays"));
    Client_FreeState();
}

TEST(Client, UnknownParametersAndJoystickCountAreLogged) {
    RunFolder run("log", false);
    Client_Startup({"/bogus", "/D"});
    ASSERT_GE(gMain.Log.size(), 2u);
    EXPECT_NE(gMain.Log[0].find(": Unknown parameter \"/bogus\""), std::string::npos)
        << gMain.Log[0];
    EXPECT_NE(gMain.Log[1].find("Joystick(s) found"), std::string::npos) << gMain.Log[1];
    EXPECT_EQ(Client_Settings().Debug, 1);
    gMain.Log.clear();
    Client_FreeState();
}

TEST(Client, BackgroundSheetsAreCutColumnByColumn) {
    // 3 columns of 2 frames, 64 x 48 each, on a 192 x 96 sheet; each frame's colour is its index.
    std::vector<uint8_t> px(192 * 96 * 4);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 192; ++x) {
            int frame = (x / 64) * 2 + y / 48;
            uint8_t* p = &px[(size_t(y) * 192 + x) * 4];
            p[0] = uint8_t(frame * 40);
            p[3] = 255;
        }
    Sprite3D* sheet = Sprite3D_FromPixels(px.data(), 192, 96);
    ASSERT_NE(sheet, nullptr);
    std::vector<Sprite3D*> frames = Client_CutBackground(sheet, 64, 48, 7, 640, 480);
    ASSERT_EQ(frames.size(), 6u); // the seventh would lie past the sheet: dropped
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(Sprite3D_PixelAt(frames[i], 10, 10) & 0xFF, i * 40) << i;
        EXPECT_EQ(frames[i]->Quad->Width, 640);
        Sprite3D_Free(frames[i]);
    }
    // A sheet shorter than one frame keeps the whole picture as the one frame.
    sheet = Sprite3D_FromPixels(px.data(), 192, 96);
    frames = Client_CutBackground(sheet, 64, 240, 6, 640, 480);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], sheet);
    Sprite3D_Free(sheet);
    EXPECT_TRUE(Client_CutBackground(nullptr, 1, 1, 1, 1, 1).empty());
}

TEST(Client, BackgroundSlotAndFrameFollowLevelAndClock) {
    ClientSettings& s = Client_Settings();
    s = ClientSettings{};
    std::vector<uint8_t> px(16 * 16 * 4, 255);
    for (int slot : {0, 2, 13})
        for (int i = 0; i < 6; ++i)
            gMain.Backgrounds[slot].push_back(Sprite3D_FromPixels(px.data(), 16, 16));
    int32_t slot = -1, frame = -1;
    s.BackgroundFrames = 6;
    s.BackgroundFPS = 10;
    EXPECT_TRUE(Client_BackgroundChoice(250, 0, &slot, &frame));
    EXPECT_EQ(slot, 2);
    EXPECT_EQ(frame, 0);
    EXPECT_TRUE(Client_BackgroundChoice(0, 1500, &slot, &frame)); // 15 frames on: 15 mod 6
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(frame, 3);
    EXPECT_TRUE(Client_BackgroundChoice(1399, 0xFFFFFFFFu, &slot, &frame)); // no overflow
    EXPECT_EQ(slot, 13);
    EXPECT_EQ(frame, int32_t(uint64_t(0xFFFFFFFFu) * 10 / 1000 % 6));
    EXPECT_FALSE(Client_BackgroundChoice(1400, 0, &slot, &frame)); // past the last slot: black
    EXPECT_FALSE(Client_BackgroundChoice(-100, 0, &slot, &frame));
    EXPECT_FALSE(Client_BackgroundChoice(100, 0, &slot, &frame)); // an empty slot: black
    s.BackgroundFrames = 8; // frames 6 and 7 were not on the sheet: black
    EXPECT_FALSE(Client_BackgroundChoice(0, 700, &slot, &frame));
    s.BackgroundFrames = 0; // never a divisor: frame 0
    EXPECT_TRUE(Client_BackgroundChoice(0, 123456, &slot, &frame));
    EXPECT_EQ(frame, 0);
    for (auto& frames : gMain.Backgrounds) {
        for (Sprite3D* f : frames) Sprite3D_Free(f);
        frames.clear();
    }
}

TEST(Client, KeyFramesAndScreenshotNames) {
    Player p{};
    p.Settings.FramesPerSecond = 60;
    for (int32_t t : {0, 300, 600}) {
        p.GameTime = t;
        EXPECT_TRUE(Client_IsKeyFrame(&p, 5)) << t;
    }
    p.GameTime = 301;
    EXPECT_FALSE(Client_IsKeyFrame(&p, 0));
    p.Settings.FramesPerSecond = 0; // no rate yet: once a second, on the latching pass
    EXPECT_TRUE(Client_IsKeyFrame(&p, 0));
    EXPECT_FALSE(Client_IsKeyFrame(&p, 3));
    EXPECT_TRUE(Client_IsKeyFrame(nullptr, 0));
    EXPECT_FALSE(Client_IsKeyFrame(nullptr, 1));
    EXPECT_TRUE(
        std::regex_match(Client_ScreenshotName(), std::regex(R"(zelvik_\d{8}_\d{6}\.png)")));
}

TEST(Client, PlaysAPexaMasterGameAndItsReplay) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("game");
    run.writeIni("PlayerName = Tester\r\nSomething = kept\r\n");
    ASSERT_EQ(Client_Startup({"/w", "/rs", "12345"}), 0);
    Player* p = firstPlayer();
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->PlayerFlags & Flag_RecordReplay);
    gOver = GameOverSeen{};
    p->ops->AddHook(p, Event_GameOver, onGameOver, 0, kHookPersistent);
    ASSERT_NE(mainMenu(), nullptr);
    Client_Pass();

    // The main menu first; Start leads to randomizer, rotation system, mode: the game starts.
    EXPECT_EQ(selectedText(mainMenu()), u"Start");
    ASSERT_TRUE(choose(u"Start"));
    ASSERT_TRUE(choose(u"PEXA")) << "no randomizer";
    ASSERT_TRUE(choose(u"")) << "no rotation system";
    ASSERT_TRUE(choose(u"PEXA Master")) << "no mode";
    for (int i = 0; i < 50 && p->State == State_Idle; ++i) Client_Pass();
    ASSERT_NE(p->State, State_Idle);
    EXPECT_EQ(p->Seed, 12345u);

    // A few hundred frames of play.
    for (int i = 0; i < 400 && p->FrameCounter < 300; ++i) {
        fastForward(p, 20);
        Client_Pass();
    }
    EXPECT_GE(p->FrameCounter, 300u);

    // Pause: no frames pass, and none are caught up afterwards.
    tap(62);
    ASSERT_TRUE(p->PlayerFlags & Flag_Paused);
    const uint32_t pausedAt = p->FrameCounter;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Client_Pass();
    EXPECT_EQ(p->FrameCounter, pausedAt);
    tap(62);
    EXPECT_FALSE(p->PlayerFlags & Flag_Paused);
    EXPECT_LE(p->FrameCounter, pausedAt + 3);

    // Screenshot.
    tap(63);
    std::vector<std::string> shots = filesMatching(".", std::regex(R"(zelvik_\d{8}_\d{6}\.png)"));
    ASSERT_EQ(shots.size(), 1u);
    {
        // A PNG of the screen's size: signature, then IHDR width and height (big-endian).
        std::ifstream png(shots[0], std::ios::binary);
        unsigned char head[24] = {};
        png.read(reinterpret_cast<char*>(head), sizeof head);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(head) + 1, 3), "PNG");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(head) + 12, 4), "IHDR");
        EXPECT_EQ((head[16] << 24 | head[17] << 16 | head[18] << 8 | head[19]), 640);
        EXPECT_EQ((head[20] << 24 | head[21] << 16 | head[22] << 8 | head[23]), 480);
    }

    // Hard drops until the stack tops out; the game-over hook saves the replay.
    for (int i = 0; i < 3000 && p->State != State_GameOver && p->State != State_Idle; ++i) {
        key(31, i % 2 == 0);
        fastForward(p, 30);
        Client_Pass();
    }
    key(31, false);
    Client_Pass();
    ASSERT_EQ(gOver.count, 1);
    const GameOverSeen recorded = gOver;
    std::vector<std::string> replays = filesMatching("replays", std::regex(R"(.*\.er)"));
    ASSERT_EQ(replays.size(), 1u) << "state " << p->State;
    EXPECT_EQ(replays[0].find(':'), std::string::npos);

    // F6: the browser lists it; playing it back gives the same field.
    for (int i = 0; i < 600 && p->State != State_Idle; ++i) {
        fastForward(p, 30);
        Client_Pass();
    }
    // After the game the main menu is back.
    ASSERT_NE(mainMenu(), nullptr);
    EXPECT_EQ(Menu_Count(mainMenu()), 3);
    EXPECT_EQ(selectedText(mainMenu()), u"Start");
    tap(64);
    EXPECT_EQ(gMenus.ReplayBrowserShown, 1);
    ASSERT_EQ(Menu_Count(Client_FirstPlayer()->ReplayMenu), 1);
    MenuAction_LoadReplay(Client_FirstPlayer(), 0, 0);
    tap(50); // play it
    EXPECT_TRUE(p->PlayerFlags & Flag_PlayReplay);
    tap(64);
    EXPECT_EQ(gMenus.ReplayBrowserShown, 0);

    // Stepping the paused replay: digits, the jump box, Q to the next level.
    for (int i = 0; i < 20; ++i) {
        fastForward(p, 30);
        Client_Pass();
    }
    tap(62);
    ASSERT_TRUE((p->PlayerFlags & Flag_Paused) && (p->PlayerFlags & Flag_PlayReplay));
    const uint32_t at = p->FrameCounter;
    Client_Pass();
    EXPECT_EQ(p->FrameCounter, at);
    p->FrameTarget = at;
    tap(4); // "3"
    EXPECT_EQ(p->FrameTarget, at + 3);
    Client_Pass();
    EXPECT_EQ(p->FrameCounter, at + 3);
    {
        std::atomic<bool> done{false};
        const std::string want = std::to_string(at + 40);
        std::thread typist([&] {
            while (!done && !Platform_Dialog_IsOpen())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            for (int tries = 0; !done && tries < 100; ++tries) {
                // Select the default text, type over it, press Return.
                SDL_Event t{};
                t.type = SDL_TEXTINPUT;
                for (int i = 0; i < 8; ++i) key(14, true), key(14, false); // Backspace
                std::snprintf(t.text.text, sizeof t.text.text, "%s", want.c_str());
                SDL_PushEvent(&t);
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                key(28, true);
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                key(28, false);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
        key(11, true); // "0"
        Client_Pass();
        key(11, false);
        Client_Pass(); // the box runs inside this pass
        done = true;
        typist.join();
    }
    EXPECT_EQ(p->FrameTarget, at + 40);
    Client_Pass();
    EXPECT_EQ(p->FrameCounter, at + 40);
    const int32_t level = Client_PlayerLevel(p);
    tap(16); // Q
    for (int i = 0; i < 2000 && Client_PlayerLevel(p) <= level; ++i) {
        const uint32_t before = p->FrameCounter;
        Client_Pass();
        ASSERT_LE(p->FrameCounter, before + 1); // one frame per pass
    }
    EXPECT_EQ(Client_PlayerLevel(p), level + 1);
    const uint32_t stopped = p->FrameCounter;
    Client_Pass();
    Client_Pass();
    EXPECT_EQ(p->FrameCounter, stopped);
    tap(62); // play on
    for (int i = 0; i < 3000 && gOver.count < 2; ++i) {
        fastForward(p, 30);
        Client_Pass();
    }
    ASSERT_EQ(gOver.count, 2);
    EXPECT_EQ(gOver.frame, recorded.frame);
    EXPECT_EQ(gOver.checksum, recorded.checksum);

    // After the browser's replay, a game chosen from the menus is the player's own again: it
    // takes the keys and is recorded.
    for (int i = 0; i < 600 && p->State != State_Idle; ++i) {
        fastForward(p, 30);
        Client_Pass();
    }
    ASSERT_EQ(p->State, State_Idle);
    for (const std::string& f : filesMatching("replays", std::regex(R"(.*\.er)"))) fs::remove(f);
    ASSERT_TRUE(choose(u"Start"));
    ASSERT_TRUE(choose(u"PEXA"));
    ASSERT_TRUE(choose(u""));
    ASSERT_TRUE(choose(u"PEXA Master"));
    EXPECT_FALSE(p->PlayerFlags & Flag_PlayReplay);
    EXPECT_TRUE(p->PlayerFlags & Flag_RecordReplay);
    bool leftTaken = false;
    key(44, true); // Left, held
    for (int i = 0; i < 200 && !leftTaken; ++i) {
        fastForward(p, 20);
        Client_Pass();
        leftTaken = p->State != State_Idle && (p->InputRead & Input_Left);
    }
    key(44, false);
    EXPECT_TRUE(leftTaken);
    for (int i = 0; i < 3000 && gOver.count < 3; ++i) {
        key(31, i % 2 == 0);
        fastForward(p, 30);
        Client_Pass();
    }
    key(31, false);
    Client_Pass();
    ASSERT_EQ(gOver.count, 3);
    EXPECT_EQ(filesMatching("replays", std::regex(R"(.*\.er)")).size(), 1u);

    // F8: the next skin.
    SkinElement* before = gMain.CurrentSkin;
    const int32_t index = gResources.SkinIndex;
    ASSERT_EQ(gResources.Skins.size(), 2u);
    EXPECT_EQ(gResources.Skins[size_t(index)], "Pexa.xml");
    tap(66);
    EXPECT_EQ(gResources.Skins[size_t(gResources.SkinIndex)], "Zeta.xml");
    EXPECT_NE(gMain.CurrentSkin, before);
    EXPECT_NE(gMain.CurrentSkin, nullptr);
    tap(66); // and round again
    EXPECT_EQ(gResources.SkinIndex, index);
    EXPECT_EQ(gMain.CurrentSkin, before);

    // Escape quits once released; the settings file keeps unknown keys.
    key(1, true);
    Client_Pass();
    EXPECT_EQ(gMain.Quit, 0);
    key(1, false);
    Client_Pass();
    EXPECT_EQ(gMain.Quit, 1);
    Client_Shutdown();
    IniFile ini;
    ASSERT_TRUE(ini.Load("zelvik.ini"));
    EXPECT_EQ(ini.Get("", "Something"), "kept");
    EXPECT_EQ(ini.Get("", "PlayerName"), "Tester");
    EXPECT_EQ(ini.Get("Keyboard", "Left"), "44");
}

TEST(Client, CapturedReplayHasOneVideoFrameForEveryGameFrame) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("avi");
    run.writeIni("PlayerName = Tester\r\nScreenWidth = 320\r\nScreenHeight = 240\r\n");
    // A recording: Left held for the first second, then nothing.
    std::vector<uint32_t> ports(600, 0);
    std::fill(ports.begin(), ports.begin() + 60, inp::kPortLeft);
    const std::string replay =
        inp::Write("captured.inp", inp::Compressed(inp::kBuild130, inp::Frames(ports)));

    // Played back with capture on; someone presses Return in the codec box (its first
    // choice: lossless FFV1).
    std::atomic<bool> done{false};
    std::thread presser([&] {
        while (!done && !Platform_Dialog_IsOpen())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        while (!done) {
            key(28, true);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            key(28, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    const int32_t r = Client_Startup({"/rinp", replay, "0", "/inp_pexa", "/wa", "capture.avi"});
    done = true;
    presser.join();
    ASSERT_EQ(r, 0);
    ASSERT_EQ(Client_Options().WriteAvi, "capture.avi");
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT); // the Return presses meant for the box
    Platform_Keyboard_Reset();
    Player* p = firstPlayer();
    ASSERT_TRUE(p->PlayerFlags & Flag_PlayReplay);
    int64_t ran = 0; // game frames run by every pass since capture began
    auto pass = [&] {
        Client_Pass();
        EXPECT_LE(gMain.FramesRun, 1); // capture runs the game one frame per pass at most
        ran += std::max(gMain.FramesRun, 0);
    };
    auto pick = [&](const std::u16string& wanted) {
        Menu* m = mainMenu();
        for (int i = 0; m && i < 64; ++i) {
            const bool found = selectedText(m).rfind(wanted, 0) == 0;
            const int32_t dik = found ? 50 : 45;
            key(dik, true);
            pass();
            key(dik, false);
            pass();
            if (found) return true;
            m = mainMenu();
        }
        return false;
    };
    for (int i = 0; i < 5; ++i) pass(); // menus: no game frames, no video frames
    EXPECT_EQ(ran, 0);
    ASSERT_TRUE(pick(u"Start"));
    ASSERT_TRUE(pick(u"PEXA"));
    ASSERT_TRUE(pick(u""));
    ASSERT_TRUE(pick(u"PEXA Master"));
    for (int i = 0; i < 2000 && p->FrameCounter < 300; ++i) {
        if (i % 3 != 0) fastForward(p, 100); // mostly behind the clock, sometimes not
        pass();
    }
    ASSERT_GE(p->FrameCounter, 300u);
    const int64_t counter = p->FrameCounter;
    EXPECT_EQ(ran, counter);
    EXPECT_GT(ran, 100);
    gMain.Quit = 1;
    Client_Shutdown();
    FILE* probe = popen("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                        "stream=codec_name,width,height,nb_read_frames,duration -of "
                        "default=noprint_wrappers=1 capture.avi 2>&1",
                        "r");
    ASSERT_NE(probe, nullptr);
    std::map<std::string, std::string> facts;
    char line[256] = {};
    while (fgets(line, sizeof line, probe)) {
        std::string l(line);
        const size_t eq = l.find('=');
        if (eq != std::string::npos)
            facts[l.substr(0, eq)] = l.substr(eq + 1, l.find('\n') - eq - 1);
    }
    pclose(probe);
    EXPECT_EQ(facts["codec_name"], "ffv1");
    EXPECT_EQ(facts["width"], "320");
    EXPECT_EQ(facts["height"], "240");
    // One video frame per game frame, so the video lasts as long as the game ran.
    EXPECT_EQ(facts["nb_read_frames"], std::to_string(ran));
    EXPECT_NEAR(std::atof(facts["duration"].c_str()), double(ran) / 60.0, 0.001);
}

TEST(Client, CancelledCodecBoxSwitchesCaptureOff) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("avicancel");
    run.writeIni("PlayerName = Tester\r\n");
    std::atomic<bool> done{false};
    std::thread presser([&] {
        while (!done && !Platform_Dialog_IsOpen())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        while (!done) {
            key(1, true); // Escape
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            key(1, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    const int32_t r = Client_Startup({"/writeavi", "cancelled.avi"});
    done = true;
    presser.join();
    ASSERT_EQ(r, 0);
    EXPECT_EQ(Client_Options().WriteAvi, "");
    EXPECT_EQ(gMain.Avi, nullptr);
    Platform_Keyboard_Reset(); // the Escape presses meant for the box
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    Client_Pass();
    EXPECT_EQ(gMain.Quit, 0);
    gMain.Quit = 1;
    Client_Shutdown();
}

struct InpFrameCheck {
    int frames = 0, matched = 0, pressed = 0;
};
static InpFrameCheck gInpCheck;

static void onInpFrame(Player* p, uintptr_t, uintptr_t) {
    const uint32_t stored = p->Replay->ops->GetInput(p->Replay, p->FrameCounter);
    gInpCheck.frames++;
    gInpCheck.matched += p->InputRead == stored;
    gInpCheck.pressed += (p->InputRead & Input_Left) != 0;
}

TEST(Client, PlaysAMameRecordingAsAReplay) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("rinp");
    run.writeIni("PlayerName = Tester\r\n");
    // Left held for the first two seconds, then nothing.
    std::vector<uint32_t> ports(600, 0);
    std::fill(ports.begin(), ports.begin() + 120, inp::kPortLeft);
    const std::string file =
        inp::Write("client_game.inp", inp::Compressed(inp::kBuild130, inp::Frames(ports)));
    ASSERT_EQ(Client_Startup({"/rinp", file, "0", "/inp_pexa"}), 0);
    Player* p = firstPlayer();
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->PlayerFlags & Flag_PlayReplay);
    EXPECT_FALSE(p->PlayerFlags & Flag_RecordReplay);
    ASSERT_GT(p->Replay->ops->CountFrames(p->Replay), 100);

    gInpCheck = InpFrameCheck{};
    p->ops->AddHook(p, Event_Frame, onInpFrame, 0, kHookPersistent);
    Client_Pass();
    ASSERT_TRUE(choose(u"Start"));
    ASSERT_TRUE(choose(u"PEXA")) << "no randomizer";
    ASSERT_TRUE(choose(u"")) << "no rotation system";
    ASSERT_TRUE(choose(u"PEXA Master")) << "no mode";
    for (int i = 0; i < 400 && p->FrameCounter < 200; ++i) {
        fastForward(p, 20);
        Client_Pass();
    }
    // Every frame ran on the recording's word, not on the keyboard's.
    EXPECT_GE(gInpCheck.frames, 200);
    EXPECT_EQ(gInpCheck.matched, gInpCheck.frames);
    EXPECT_GT(gInpCheck.pressed, 0);
    gMain.Quit = 1;
    Client_Shutdown();
}

TEST(Client, FailedConnectionShowsTheHostAndEnds) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("connect");
    run.writeIni("PlayerName = Tester\r\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Client_Startup({"/C", "No-Such-Host.invalid"}), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Could not connect to No-Such-Host.invalid"), std::string::npos) << err;
    Client_Shutdown(); // the program would end here; the test frees what it made
}

TEST(Client, MissingReplayIsLoggedAndTheSessionRecords) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("noreplay");
    run.writeIni("PlayerName = Tester\r\n");
    ASSERT_EQ(Client_Startup({"/r", "missing.er", "/rinp", "other.inp", "1"}), 0);
    Player* p = firstPlayer();
    ASSERT_NE(p, nullptr);
    // Nothing to play back: the player's own games are recorded, as without "/r".
    EXPECT_FALSE(p->PlayerFlags & Flag_PlayReplay);
    EXPECT_TRUE(p->PlayerFlags & Flag_RecordReplay);
    bool logged = false, inpTried = false;
    for (const std::string& line : gMain.Log) {
        logged |= line.find(": Could not load missing.er: No such file or directory") !=
                  std::string::npos;
        inpTried |= line.find("other.inp") != std::string::npos; // "/r" wins
    }
    EXPECT_TRUE(logged);
    EXPECT_FALSE(inpTried);
    // F6 while the game has not started lists the (empty) folder and closes again.
    tap(64);
    EXPECT_EQ(gMenus.ReplayBrowserShown, 1);
    tap(64);
    EXPECT_EQ(gMenus.ReplayBrowserShown, 0);
    gMain.Quit = 1;
    Client_Shutdown();
    // A new settings file gets the dead-zone comment once.
    std::ifstream in("zelvik.ini", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find("; Deadzone"), std::string::npos); // the file existed before
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
}

// Escape while the Keys menu waits for a key gives up choosing one: the action keeps its key
// and the game goes on; the program ending meanwhile keeps the old key too.
TEST(Client, EscapeWhileChoosingAKeyKeepsTheOldKey) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("escapekey");
    run.writeIni("PlayerName = Tester\r\n");
    ASSERT_EQ(Client_Startup({"/w"}), 0);
    Client_Pass();
    ASSERT_TRUE(choose(u"Options"));
    ASSERT_TRUE(choose(u"Keys"));
    ASSERT_TRUE(choose(u"Right: "));
    EXPECT_EQ(selectedText(mainMenu()), u"Right: "); // waiting for the new key
    tap(1);                                          // Escape
    EXPECT_EQ(gMain.Quit, 0);
    EXPECT_EQ(selectedText(mainMenu()), u"Right: C");
    tap(45); // the menu moves again
    EXPECT_EQ(selectedText(mainMenu()), u"HardDrop: S");
    ASSERT_TRUE(choose(u"Left: "));
    EXPECT_EQ(selectedText(mainMenu()), u"Left: ");
    gMain.Quit = 1; // the window closed, say
    Client_Shutdown();
    IniFile ini;
    ASSERT_TRUE(ini.Load("zelvik.ini"));
    EXPECT_EQ(ini.Get("Keyboard", "Right"), "46");
    EXPECT_EQ(ini.Get("Keyboard", "Left"), "44");
}

TEST(Client, ReplayThatIsAPipeIsRefusedAtOnceAndReportedOnStderr) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("pipereplay");
    run.writeIni("PlayerName = Tester\r\n");
    ASSERT_EQ(mkfifo("pipe.er", 0600), 0);
    // Opening the pipe for reading would wait for a writer that never comes.
    testing::internal::CaptureStderr();
    const int32_t r = Client_Startup({"/r", "pipe.er"});
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(r, 0);
    EXPECT_NE(err.find(": Could not load pipe.er: not a regular file\n"), std::string::npos) << err;
    EXPECT_FALSE(firstPlayer()->PlayerFlags & Flag_PlayReplay);
    EXPECT_TRUE(firstPlayer()->PlayerFlags & Flag_RecordReplay);
    gMain.Quit = 1;
    Client_Shutdown();
}

// A recording or a capture refused says why, and a switch missing its file says so, instead
// of a bare "Could not load" or nothing at all.
TEST(Client, RefusedRecordingsAndMissingFileNamesSayWhy) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("refused");
    run.writeIni("PlayerName = Tester\r\n");
    {
        std::ofstream("notes.inp") << "shopping list: eggs, milk\n";
        std::ofstream unknown("future.inp", std::ios::binary);
        unknown << std::string("MAMEINP\0", 8) << std::string(120, '\x01');
        std::ofstream("text.er") << "not a replay\n";
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"/rinp", "notes.inp", "0"}, ": Could not load notes.inp: not a MAME INP recording\n"},
        {{"/rinp", "future.inp", "0"},
         ": Could not load future.inp: a MAME INP recording of a MAME build this game does not "
         "know\n"},
        {{"/rinp", "gone.inp", "0"}, ": Could not load gone.inp: No such file or directory\n"},
        {{"/r", "text.er"}, ": Could not load text.er: not a Zelvik replay, or damaged\n"},
        {{"/rinp"}, ": /rinp needs a file name\n"},
        {{"/wa", "no/such/folder/game.avi"},
         ": Could not capture video to no/such/folder/game.avi: No such file or directory\n"},
    };
    for (const auto& [args, said] : cases) {
        testing::internal::CaptureStderr();
        const int32_t r = Client_Startup(args);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r, 0);
        EXPECT_NE(err.find(said), std::string::npos) << args[0] << " " << err;
        gMain.Quit = 1;
        Client_Shutdown();
    }
}

// The first element of kind under e (depth first), null when there is none.
SkinElement* findKind(SkinElement* e, int32_t kind) {
    if (!e) return nullptr;
    if (e->Kind == kind) return e;
    for (DoublyLinkedListElement* c = e->Children->First; c; c = c->Next)
        if (SkinElement* f = findKind(*static_cast<SkinElement**>(DoublyLinkedList_Data(c)), kind))
            return f;
    return nullptr;
}

// A chosen skin that cannot be used (it does not parse, it gives the player no menu, it is
// missing or a link to nothing) is named with the reason, on the screen too, and the shipped
// skin takes its place.
TEST(Client, UnusableChosenSkinsFallBackToTheShippedOneAndSayWhy) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("brokenskin");
    std::ofstream("skins/Aaa.xml") << "<skin>\n<player>\n<text\n";
    std::ofstream("skins/Abc.xml") << "<skin><player id=\"1\"><field size=\"80,160\"/></player>"
                                      "<menu font=\"f1.fnt\" size=\"76,150\"/></skin>";
    fs::create_symlink("nowhere/Gone.xml", "skins/Link.xml");
    const struct {
        std::string skin, said;
    } cases[] = {
        {"Aaa.xml", "Could not load the skin skins/Aaa.xml: unclosed token at line 3"},
        {"Abc.xml", "Could not load the skin skins/Abc.xml: it has no <menu> inside <player "
                    "id=\"1\">"},
        {"Missing.xml", "Could not load the skin skins/Missing.xml: no such file\n"},
        {"Link.xml", "Could not load the skin skins/Link.xml: no such file (a link to nothing)"},
    };
    for (const auto& c : cases) {
        run.writeIni("PlayerName = Tester\r\nSkin = " + c.skin + "\r\n");
        testing::internal::CaptureStderr();
        const int32_t r = Client_Startup({"/w"});
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(r, 0);
        EXPECT_NE(err.find(c.said), std::string::npos) << err;
        EXPECT_NE(err.find("Using the skin skins/Pexa.xml instead"), std::string::npos) << err;
        EXPECT_EQ(Platform_Path_ToUtf8(gClient.Notice).rfind("Skin " + c.skin + " not used: ", 0),
                  0u)
            << Platform_Path_ToUtf8(gClient.Notice);
        ASSERT_NE(gMain.CurrentSkin, nullptr);
        EXPECT_EQ(gMain.CurrentSkin->Name, "Pexa");
        EXPECT_EQ(gResources.Skins[size_t(gResources.SkinIndex)], "Pexa.xml");
        if (c.skin == "Aaa.xml") {
            // F8 skips the skins it cannot use (the list is Aaa, Abc, Pexa, Zeta) and wraps
            // around past them.
            tap(66);
            EXPECT_EQ(gResources.Skins[size_t(gResources.SkinIndex)], "Zeta.xml");
            tap(66);
            EXPECT_EQ(gResources.Skins[size_t(gResources.SkinIndex)], "Pexa.xml");
            ASSERT_NE(gMain.CurrentSkin, nullptr);
        }
        gMain.Quit = 1;
        Client_Shutdown();
        // The player's choice stays in the settings for when the skin is mended.
        IniFile ini;
        ASSERT_TRUE(ini.Load("zelvik.ini"));
        EXPECT_EQ(ini.Get("", "Skin"), c.skin);
    }
}

TEST(Client, WithoutSkinsTheMenusStayReadableAndAGameStarts) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("noskins");
    fs::remove_all("skins");
    run.writeIni("PlayerName = Tester\r\n");
    testing::internal::CaptureStderr();
    const int32_t r = Client_Startup({"/w"});
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(r, 0);
    EXPECT_NE(err.find("Could not load the skin skins/Pexa.xml: no such file (no skins folder)"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("No skin could be loaded"), std::string::npos) << err;
    // A plain layout with a menu and a field, its texts in the built-in font.
    ASSERT_NE(gMain.CurrentSkin, nullptr);
    SkinElement* menu = findKind(gMain.CurrentSkin, SkinKind_Menu);
    ASSERT_NE(menu, nullptr);
    EXPECT_NE(menu->Font, nullptr);
    EXPECT_EQ(menu->Font, Resource_PlainFont());
    EXPECT_NE(findKind(gMain.CurrentSkin, SkinKind_Field), nullptr);
    Client_Pass();
    // The menu text is drawn: white pixels where the menu is.
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(Platform_Screen_ReadPixels(rgba));
    size_t white = 0;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        white += rgba[i] == 255 && rgba[i + 1] == 255 && rgba[i + 2] == 255;
    EXPECT_GT(white, 50u);
    Player* p = firstPlayer();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(selectedText(mainMenu()), u"Start");
    ASSERT_TRUE(choose(u"Start"));
    ASSERT_TRUE(choose(u"PEXA"));
    ASSERT_TRUE(choose(u""));
    ASSERT_TRUE(choose(u""));
    for (int i = 0; i < 50 && p->State == State_Idle; ++i) Client_Pass();
    EXPECT_NE(p->State, State_Idle);
    gMain.Quit = 1;
    Client_Shutdown();
}

TEST(Client, NewSettingsFileWithDefaultsAndTheNameFromThePrompt) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("newini");
    std::atomic<bool> done{false};
    std::thread typist([&] {
        while (!done && !Platform_Dialog_IsOpen())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        while (!done) {
            SDL_Event t{};
            t.type = SDL_TEXTINPUT;
            std::snprintf(t.text.text, sizeof t.text.text, "Zoe");
            SDL_PushEvent(&t);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            key(28, true);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            key(28, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    const int32_t r = Client_Startup({"/FS", "/W"});
    done = true;
    typist.join();
    ASSERT_EQ(r, 0);
    EXPECT_EQ(Client_Settings().PlayerName, "Zoe");
    gMain.Quit = 1;
    Client_Shutdown();
    IniFile ini;
    ASSERT_TRUE(ini.Load("zelvik.ini"));
    EXPECT_EQ(ini.Get("", "PlayerName"), "Zoe");
    EXPECT_EQ(ini.Get("", "Windowed"), "1");
    EXPECT_EQ(ini.Get("Joystick", "POVHardDrop"), "-p0y");
    std::ifstream in("zelvik.ini", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("JoystickDeadzone = 0\r\n; Deadzone: 0 (no deadzone) to 10000 (entire "
                        "range is dead)\r\n"),
              std::string::npos);
}

TEST(Client, JoinsAServerAndStartsFromTheRotationSystemChoice) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("network");
    run.writeIni("PlayerName = Netter\r\n");
    // The server is the engine linked into the test: a second engine, reached over TCP only,
    // as a dedicated server in another process would be.
    Plugin_Init();
    for (const char* sub : {"modes", "rotationsystem", "randomizer"})
        Plugin_ScanFolder(Platform_Path_FromUtf8(std::string(ZELVIK_GAME_DIR) + "/dlls/" + sub));
    Server* server = Server_Create(u"Client test", kGamePort);
    if (!server) GTEST_SKIP() << "port 2031 is taken";
    ASSERT_EQ(server->ops->AddModeByName(server, u"PEXA Master"), 1);
    ASSERT_EQ(server->ops->AddRotationSystemByName(server, u"Dalmor WEXO"), 1);
    ASSERT_EQ(server->ops->SetRandomizerByName(server, u"PEXA"), 1);

    ASSERT_EQ(Client_Startup({"/connect", "127.0.0.1"}), 0);
    ClientPlayer* cp = Client_FirstPlayer();
    ASSERT_NE(cp, nullptr);
    EXPECT_EQ(cp->MainMenu, nullptr); // made when the server accepts the join
    EXPECT_EQ(cp->ReplayMenu, nullptr);
    for (int i = 0; i < 500 && !Client_FirstPlayer()->MainMenu; ++i) {
        server->ops->Process(server);
        Client_Pass();
    }
    ASSERT_NE(mainMenu(), nullptr);
    // The randomizer comes from the server: the first choice is the rotation system.
    EXPECT_EQ(selectedText(mainMenu()), u"Dalmor WEXO");
    tap(64); // F6 has no browser for a networked player
    EXPECT_EQ(gMenus.ReplayBrowserShown, 0);
    ASSERT_TRUE(choose(u"Dalmor WEXO"));
    Player* p = firstPlayer();
    for (int i = 0; i < 2000 && (p->State == State_Idle || p->FrameCounter < 60); ++i) {
        server->ops->Process(server);
        Client_Pass();
    }
    EXPECT_NE(p->State, State_Idle);
    EXPECT_GE(p->FrameCounter, 60u);
    EXPECT_EQ(server->ops->CountPlayers(server), 1);
    gMain.Quit = 1;
    Client_Shutdown();
    for (int i = 0; i < 50; ++i) server->ops->Process(server);
    server->ops->Free(server);
}

TEST(Client, InputBitsFromKeysJoystickAndHat) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("joystick");
    run.writeIni("PlayerName = Pad\r\n[Keyboard]\r\nRot180 = 30\r\n[Joystick]\r\nRotCW = b8\r\n");
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
    const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 16, 1);
    ASSERT_GE(index, 0) << SDL_GetError();
    ASSERT_EQ(Client_Startup({"/debug"}), 0);
    SDL_Joystick* pad = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
    ASSERT_NE(pad, nullptr);
    ClientPlayer* cp = Client_FirstPlayer();
    auto inputAfterPass = [&] {
        Client_Pass();
        return uint32_t(Client_FirstPlayer()->Input);
    };
    EXPECT_EQ(inputAfterPass(), 0u);
    SDL_JoystickSetVirtualAxis(pad, 0, -32768);        // "-x": left
    SDL_JoystickSetVirtualButton(pad, 7, SDL_PRESSED); // "b8": rotate (second)
    EXPECT_EQ(inputAfterPass(), uint32_t(Input_Left | Input_RotCW));
    SDL_JoystickSetVirtualAxis(pad, 0, 0);
    SDL_JoystickSetVirtualButton(pad, 7, SDL_RELEASED);
    SDL_JoystickSetVirtualHat(pad, 0, SDL_HAT_RIGHTDOWN); // POV right and soft drop
    key(44, true);                                        // Z: left
    key(30, true);                                        // A is Rot180: never polled
    EXPECT_EQ(inputAfterPass(), uint32_t(Input_Right | Input_SoftDrop | Input_Left));
    EXPECT_EQ(uint32_t(cp->LastInput), uint32_t(Input_Left | Input_RotCW));
    key(44, false);
    key(30, false);
    SDL_JoystickSetVirtualHat(pad, 0, SDL_HAT_CENTERED);
    EXPECT_EQ(inputAfterPass(), 0u);
    EXPECT_EQ(gMain.FrameTimes.size(), size_t(kFrameTimeEntries)); // the /debug graph's buffer
    gMain.Quit = 1;
    Client_Shutdown();
    SDL_JoystickDetachVirtual(index);
}

TEST(Client, SettingsFileSpeltInAnotherCaseIsReadAndWrittenInPlace) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("inicase");
    std::ofstream("Zelvik.INI", std::ios::binary) << "PlayerName = Cased\nScreenWidth = 99999\n";
    ASSERT_EQ(Client_Startup({}), 0); // no name prompt: the name came from the file
    EXPECT_EQ(Client_Settings().PlayerName, "Cased");
    EXPECT_EQ(Client_Settings().ScreenWidth, 640); // out of range: the default
    gMain.Quit = 1;
    Client_Shutdown();
    EXPECT_FALSE(fs::exists("zelvik.ini"));
    IniFile ini;
    ASSERT_TRUE(ini.Load("Zelvik.INI"));
    EXPECT_EQ(ini.Get("", "PlayerName"), "Cased");
    EXPECT_EQ(ini.Get("", "ScreenWidth"), "640");
}

namespace {

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Makes "disk" in the run folder a folder where nothing more can be written: a tiny tmpfs in a
// mount namespace of this process's own when that can be had (root), else a file-size limit
// that every file the client writes passes. oldFiles are written there first.
bool fillDisk(const std::map<std::string, std::string>& oldFiles, std::string* how) {
    fs::create_directory("disk");
    if (unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        mount("tmpfs", "disk", "tmpfs", 0, "size=256k") == 0) {
        *how = "tmpfs";
    } else {
        *how = "file-size limit";
    }
    for (const char* sub : {"dlls", "sounds", "bgm", "bg", "skins"})
        if (fs::exists(sub))
            fs::create_directory_symlink(fs::path("..") / sub, fs::path("disk") / sub);
    fs::create_directory("disk/replays");
    for (const auto& [name, bytes] : oldFiles)
        std::ofstream("disk/" + name, std::ios::binary) << bytes;
    if (*how == "tmpfs") {
        // Every page the file system has left goes to one file.
        FILE* fill = std::fopen("disk/filler", "wb");
        if (!fill) return false;
        std::setvbuf(fill, nullptr, _IONBF, 0);
        const std::string page(4096, 'f');
        while (std::fwrite(page.data(), 1, page.size(), fill) == page.size()) {
        }
        std::fclose(fill);
    } else {
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 256;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    }
    fs::current_path("disk");
    return true;
}

// In a child process: a game played to its end on the full disk, then the program's end.
// What the run left behind is copied out to the run folder (off the full disk); the exit code
// says how far it came.
[[noreturn]] void playOnFullDisk(const std::map<std::string, std::string>& oldFiles) {
    std::string how;
    if (!fillDisk(oldFiles, &how)) _exit(10);
    std::fprintf(stderr, "full disk: %s\n", how.c_str());
    if (Client_Startup({"/w", "/rs", "12345"}) != 0) _exit(11);
    // Video capture too (uncompressed frames, no codec box).
    const AviCompressOptions uncompressed{};
    if (!Client_OpenCapture("capture.avi", &uncompressed)) _exit(14);
    Player* p = firstPlayer();
    if (!p || !choose(u"Start") || !choose(u"PEXA") || !choose(u"") || !choose(u"PEXA Master"))
        _exit(12);
    for (int i = 0; i < 50 && p->State == State_Idle; ++i) Client_Pass();
    for (int i = 0; i < 500 && !Client_Options().WriteAvi.empty(); ++i) {
        fastForward(p, 20);
        Client_Pass();
    }
    const std::string captureNotice = Platform_Path_ToUtf8(gClient.Notice);
    tap(63); // a screenshot
    const std::string screenshotNotice = Platform_Path_ToUtf8(gClient.Notice);
    for (int i = 0; i < 3000 && p->State != State_GameOver && p->State != State_Idle; ++i) {
        key(31, i % 2 == 0);
        fastForward(p, 30);
        Client_Pass();
    }
    key(31, false);
    Client_Pass();
    if (p->State != State_GameOver && p->State != State_Idle) _exit(13);
    const std::string notice = Platform_Path_ToUtf8(gClient.Notice);
    gMain.Quit = 1;
    Client_Shutdown();
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::ofstream("../after.notice", std::ios::binary) << notice;
    std::ofstream("../after.capture", std::ios::binary) << captureNotice;
    std::ofstream("../after.screenshot", std::ios::binary) << screenshotNotice;
    for (const auto& [name, bytes] : oldFiles) fs::copy_file(name, "../after." + name);
    int replays = 0;
    for (auto& e : fs::directory_iterator("replays")) replays += e.is_regular_file();
    std::ofstream("../after.replays") << replays;
    _exit(0);
}

} // namespace

TEST(Client, FullDiskKeepsTheOldSettingsAndReplayAndSaysWhy) {
    if (!RunFolder::gameBuilt()) GTEST_SKIP() << "engine or data set not built";
    RunFolder run("fulldisk");
    const std::map<std::string, std::string> oldFiles = {
        {"zelvik.ini", "\xEF\xBB\xBFPlayerName = Keeper\r\n; kept as it is\r\n"},
        {"LastReplay.er", std::string(3000, 'R') + "the previous game"}};
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(err[1], 2);
        close(err[0]);
        close(err[1]);
        playOnFullDisk(oldFiles);
    }
    close(err[1]);
    std::string stderrText;
    char buffer[4096];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;)
        stderrText.append(buffer, size_t(n));
    close(err[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "\n"
                                                               << stderrText;

    // The old files are there byte for byte; no new replay half written.
    for (const auto& [name, bytes] : oldFiles) {
        const std::string after = fileBytes("after." + name);
        EXPECT_TRUE(after == bytes)
            << name << " was changed: " << after.size() << " bytes, was " << bytes.size();
    }
    EXPECT_EQ(fileBytes("after.replays"), "0");
    // And the player is told: which file and why, on stderr and (the replay) on screen.
    const std::regex why(": (No space left on device|File too large)\n");
    for (const char* file : {"zelvik.ini", "LastReplay.er"}) {
        const std::regex said(std::string("Could not save ") + file + ": [^\n]+\n");
        EXPECT_TRUE(std::regex_search(stderrText, said)) << file << "\n" << stderrText;
    }
    EXPECT_TRUE(std::regex_search(stderrText, why)) << stderrText;
    EXPECT_TRUE(std::regex_search(
        stderrText, std::regex(R"(Replay not saved: replays/\S.*\.er \(see the log\))")))
        << stderrText;
    EXPECT_TRUE(
        std::regex_match(fileBytes("after.notice"),
                         std::regex(R"(Replay not saved: replays/\S.*\.er \(see the log\))")))
        << fileBytes("after.notice");
    // The capture stops at its first failed frame, said once with the file and the reason,
    // and on the screen; a screenshot that could not be saved shows there too.
    const std::string reason = "(No space left on device|File too large)";
    EXPECT_EQ(stderrText.find("Failed to add frame"), std::string::npos) << stderrText;
    const std::regex captureLine("Could not write the video capture.avi: " + reason +
                                 "; capture stopped after \\d+ frames\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(stderrText.begin(), stderrText.end(), captureLine),
                            std::sregex_iterator()),
              1)
        << stderrText;
    EXPECT_TRUE(std::regex_match(fileBytes("after.capture"),
                                 std::regex("Video capture stopped: capture.avi: " + reason)))
        << fileBytes("after.capture");
    EXPECT_TRUE(
        std::regex_match(fileBytes("after.screenshot"),
                         std::regex("Screenshot not saved: zelvik_\\d{8}_\\d{6}\\.png: " + reason)))
        << fileBytes("after.screenshot");
}
