#include "IniFile.h"
#include "Vantrel_GUI_Settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>

namespace {

std::string written(const ClientSettings& s, IniFile ini, bool existed) {
    Settings_Write(s, &ini, existed);
    return ini.Serialize();
}

} // namespace

TEST(Settings, DefaultsWithNoFile) {
    IniFile empty;
    ClientSettings s;
    Settings_Read(&s, empty);
    EXPECT_EQ(s.Windowed, 1);
    EXPECT_EQ(s.ScreenWidth, 640);
    EXPECT_EQ(s.ScreenHeight, 480);
    EXPECT_EQ(s.Skin, "Pexa.xml");
    EXPECT_EQ(s.ReplayPattern, "%mode%_%time_int%.er");
    const int32_t keys[12] = {44, 46, 31, 45, 50, 51, 52, 0, 0, 0, 0, 57};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(s.Keys[i], keys[i]);
    EXPECT_EQ(s.JoyBindings[0], 26);  // -x
    EXPECT_EQ(s.JoyBindings[11], 13); // b4
    EXPECT_EQ(s.PovBindings[0], 39);  // -p0x
    EXPECT_EQ(s.PovBindings[2], 38);  // -p0y
    EXPECT_EQ(s.PovBindings[4], 0);
    EXPECT_EQ(s.BackgroundFrames, 1);
}

TEST(Settings, NewFileGetsWriteBackOrderAndTheDeadzoneComment) {
    ClientSettings s;
    s.PlayerName = "Ann";
    std::string out = written(s, IniFile(), false);
    EXPECT_EQ(out.substr(0, 3), "\xEF\xBB\xBF");
    const char* order[] = {"Windowed = 1\r\n",
                           "ScreenWidth = 640\r\n",
                           "ScreenHeight = 480\r\n",
                           "ScreenDepth = 32\r\n",
                           "PlayerName = Ann\r\n",
                           "Skin = Pexa.xml\r\n",
                           "ReplayPattern = %mode%_%time_int%.er\r\n",
                           "[Background]\r\n",
                           "Width = 0\r\n",
                           "Height = 0\r\n",
                           "Frames = 1\r\n",
                           "FPS = 0\r\n",
                           "[Keyboard]\r\n",
                           "Left = 44\r\n",
                           "Hold = 57\r\n",
                           "[Joystick]\r\n",
                           "JoystickID = 0\r\n",
                           "JoystickDeadzone = 0\r\n",
                           "; Deadzone: 0 (no deadzone) to 10000 (entire range is dead)\r\n",
                           "Left = -x\r\n",
                           "RotCCW2 = b3\r\n",
                           "RotCW2 = \r\n",
                           "Hold = b4\r\n",
                           "POVLeft = -p0x\r\n",
                           "POVSoftDrop = +p0y\r\n"};
    size_t at = 0;
    for (const char* piece : order) {
        size_t found = out.find(piece, at);
        ASSERT_NE(found, std::string::npos) << piece << " after " << at << "\n" << out;
        at = found;
    }
    // Rewriting a file that existed keeps one comment, adds none.
    IniFile again;
    again.Parse(out);
    std::string out2 = written(s, again, true);
    EXPECT_EQ(out2, out);
    IniFile noComment;
    noComment.Parse("Windowed = 0\r\n");
    EXPECT_EQ(written(s, noComment, true).find("; Deadzone"), std::string::npos);
}

TEST(Settings, UnknownKeysAndBadValues) {
    IniFile ini;
    ini.Parse("\xEF\xBB\xBFwindowed = 0\r\nsomething = kept\r\nScreenWidth = huge\r\n"
              "ScreenHeight = -5\r\nPlayerName = Bo b\r\n[keyboard]\r\nLeft = 300\r\nRight = 30\r\n"
              "RotCW = 12x\r\n[JOYSTICK]\r\nJoystickID = 99\r\nJoystickDeadzone = 20000\r\n"
              "Left = B3\r\nRight = nonsense\r\nPOVLeft = +p3y\r\nmine = 1\r\n");
    ClientSettings s;
    Settings_Read(&s, ini);
    EXPECT_EQ(s.Windowed, 0);
    EXPECT_EQ(s.ScreenWidth, 640);  // not a number
    EXPECT_EQ(s.ScreenHeight, 480); // out of range
    EXPECT_EQ(s.PlayerName, "Bo b");
    EXPECT_EQ(s.Keys[0], 44); // 300 is no key code
    EXPECT_EQ(s.Keys[1], 30);
    EXPECT_EQ(s.Keys[5], 51); // trailing garbage
    EXPECT_EQ(s.JoystickID, 0);
    EXPECT_EQ(s.JoystickDeadzone, 0);
    EXPECT_EQ(s.JoyBindings[0], 12);
    EXPECT_EQ(s.JoyBindings[1], 32); // unknown text keeps the default "+x"
    EXPECT_EQ(s.PovBindings[0], 53);
    std::string out = written(s, ini, true);
    EXPECT_NE(out.find("something = kept\r\n"), std::string::npos);
    EXPECT_NE(out.find("mine = 1\r\n"), std::string::npos);
    EXPECT_NE(out.find("ScreenWidth = 640\r\n"), std::string::npos);
    EXPECT_NE(out.find("Right = +x\r\n"), std::string::npos);
    EXPECT_NE(out.find("POVLeft = +p3y\r\n"), std::string::npos);
}

TEST(CommandLine, EverySwitchAndAliasCaseBlind) {
    struct Case {
        std::vector<std::string> args;
        std::function<bool(const ClientSettings&, const CommandLineOptions&)> check;
    };
    std::vector<Case> cases = {
        {{"/c", "Host.Example"}, [](auto&, auto& o) { return o.ConnectTo == "Host.Example"; }},
        {{"/CONNECT", "h"}, [](auto&, auto& o) { return o.ConnectTo == "h"; }},
        {{"/ConnectTo", "h"}, [](auto&, auto& o) { return o.ConnectTo == "h"; }},
        {{"/r", "A.er"}, [](auto&, auto& o) { return o.Replay == "A.er"; }},
        {{"/Replay", "A.er"}, [](auto&, auto& o) { return o.Replay == "A.er"; }},
        {{"/rs", "42"}, [](auto&, auto& o) { return o.RandomSeed == 42; }},
        {{"/RandomSeed", "-7x"}, [](auto&, auto& o) { return o.RandomSeed == -7; }},
        {{"/rs", "abc"}, [](auto&, auto& o) { return o.RandomSeed == 0; }},
        {{"/rs", "99999999999"}, [](auto&, auto& o) { return o.RandomSeed == INT32_MAX; }},
        {{"/replayinp", "f.inp", "3"},
         [](auto&, auto& o) { return o.ReplayInp == "f.inp" && o.ReplayInpNumber == 3; }},
        {{"/inp_pexa"}, [](auto&, auto& o) { return o.InpFlags == 1; }},
        {{"/INP_KOVRA1"}, [](auto&, auto& o) { return o.InpFlags == 2; }},
        {{"/FS"}, [](auto& s, auto&) { return s.Windowed == 0; }},
        {{"/fullscreen", "/W"}, [](auto& s, auto&) { return s.Windowed == 1; }},
        {{"/fs", "/windowed", "/fs"}, [](auto& s, auto&) { return s.Windowed == 0; }},
        {{"/wa", "Out.AVI"}, [](auto&, auto& o) { return o.WriteAvi == "Out.AVI"; }},
        {{"/WriteAvi", "x.avi"}, [](auto&, auto& o) { return o.WriteAvi == "x.avi"; }},
        {{"/d"}, [](auto& s, auto&) { return s.Debug == 1; }},
        {{"/DEBUG"}, [](auto& s, auto&) { return s.Debug == 1; }},
        // Missing values at the end read as empty or 0.
        {{"/rinp", "f"}, [](auto&, auto& o) { return o.ReplayInp == "f" && !o.ReplayInpNumber; }},
        {{"/rs"}, [](auto&, auto& o) { return o.RandomSeed == 0; }},
        // A value is taken as given, even when it looks like a switch.
        {{"/c", "/d"}, [](auto& s, auto& o) { return o.ConnectTo == "/d" && s.Debug == 0; }},
    };
    for (const Case& c : cases) {
        ClientSettings s;
        s.Windowed = 1;
        CommandLineOptions o;
        std::vector<std::string> log;
        CommandLine_Parse(c.args, &s, &o, &log);
        EXPECT_TRUE(c.check(s, o)) << c.args[0];
        EXPECT_TRUE(log.empty()) << c.args[0];
    }
}

TEST(CommandLine, InpSwitchesInEitherOrderAndUnknownParameters) {
    for (auto args : {std::vector<std::string>{"/rinp", "game.inp", "5", "/inp_kovra1"},
                      std::vector<std::string>{"/inp_kovra1", "/rinp", "game.inp", "5"}}) {
        ClientSettings s;
        CommandLineOptions o;
        CommandLine_Parse(args, &s, &o, nullptr);
        EXPECT_EQ(o.ReplayInp, "game.inp");
        EXPECT_EQ(o.ReplayInpNumber, 5);
        EXPECT_EQ(o.InpFlags, 2);
    }
    ClientSettings s;
    CommandLineOptions o;
    std::vector<std::string> log;
    CommandLine_Parse({"-d", "/x", "/r", "a.er", "Stray Word"}, &s, &o, &log);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "Unknown parameter \"-d\"");
    EXPECT_EQ(log[1], "Unknown parameter \"/x\"");
    EXPECT_EQ(log[2], "Unknown parameter \"Stray Word\"");
    EXPECT_EQ(o.Replay, "a.er"); // parsing went on
    EXPECT_EQ(s.Debug, 0);
    // A switch whose file or address is missing says so rather than doing nothing.
    log.clear();
    CommandLine_Parse({"/c"}, &s, &o, &log);
    CommandLine_Parse({"/rinp"}, &s, &o, &log);
    CommandLine_Parse({"/Replay", ""}, &s, &o, &log);
    EXPECT_EQ(log, (std::vector<std::string>{"/c needs an address", "/rinp needs a file name",
                                             "/Replay needs a file name"}));
}

// The browser starts "/c address" with the environment it was given: the client must reach the
// same moved port the server listens on, and a port in the address itself wins.
TEST(CommandLine, ConnectTargetTakesThePortLikeTheServer) {
    auto target = [](const std::string& to, const char* env) {
        if (env)
            setenv("ZELVIK_GAME_PORT", env, 1);
        else
            unsetenv("ZELVIK_GAME_PORT");
        std::string host;
        int32_t port = 0;
        CommandLine_ConnectTarget(to, &host, &port);
        return host + "|" + std::to_string(port);
    };
    EXPECT_EQ(target("10.0.0.5", nullptr), "10.0.0.5|2031");
    EXPECT_EQ(target("10.0.0.5", "25123"), "10.0.0.5|25123");
    EXPECT_EQ(target("10.0.0.5:3000", "25123"), "10.0.0.5|3000");
    // What the server would not take leaves the default.
    EXPECT_EQ(target("10.0.0.5", "25123x"), "10.0.0.5|2031");
    EXPECT_EQ(target("10.0.0.5", "70000"), "10.0.0.5|2031");
    EXPECT_EQ(target("10.0.0.5", ""), "10.0.0.5|2031");
    // No port after the colon, or several colons: the text is the host as given.
    EXPECT_EQ(target("10.0.0.5:99999", nullptr), "10.0.0.5:99999|2031");
    EXPECT_EQ(target("::1", "4000"), "::1|4000");
    EXPECT_EQ(target(":4000", nullptr), ":4000|2031");
    unsetenv("ZELVIK_GAME_PORT");
}
