#include "IniFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {
const std::string kBom = "\xEF\xBB\xBF";

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
} // namespace

TEST(IniFile, ReadsLfOrCrLfWithOrWithoutBom) {
    for (std::string text :
         {std::string("A = 1\n[G]\nb = two words\n"), kBom + "A = 1\r\n[G]\r\nb = two words\r\n",
          std::string("A=1\r\n[ G ]\nb=  two words  ")}) {
        IniFile ini;
        ini.Parse(text);
        EXPECT_EQ(ini.Get("", "a"), "1");
        EXPECT_EQ(ini.Get("g", "B"), "two words");
        EXPECT_EQ(ini.Get("G", "missing", "dflt"), "dflt");
        EXPECT_FALSE(ini.Has("", "b")); // b belongs to G only
    }
}

TEST(IniFile, WritesBomCrLfAndKeepsWhatItDoesNotKnow) {
    IniFile ini;
    ini.Parse("; a comment\nname = x\n[keyboard]\nleft = 44\nstrange line\nfuture = 9\n[Other]\n"
              "k = v\n");
    ini.Set("", "Name", "y");           // replaced in place, keeps its spelling of the key
    ini.Set("Keyboard", "Right", "46"); // new: appended to its group
    ini.Set("New", "x", "1");           // new group at the end
    ini.AddComment("New", "note");
    EXPECT_EQ(ini.Serialize(), kBom +
                                   "; a comment\r\nname = y\r\n[keyboard]\r\nleft = 44\r\nstrange "
                                   "line\r\nfuture = 9\r\nRight = 46\r\n[Other]\r\nk = v\r\n[New]"
                                   "\r\nx = 1\r\n; note\r\n");
}

TEST(IniFile, SaveAndLoadRoundTrip) {
    const std::string path = "IniFile_roundtrip.ini";
    IniFile ini;
    ini.Set("", "PlayerName", "Zoë");
    ini.Set("Joystick", "Left", "-x");
    ASSERT_TRUE(ini.Save(path));
    std::string bytes = readAll(path);
    EXPECT_EQ(bytes.substr(0, 3), kBom);
    IniFile back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.Get("", "playername"), "Zoë");
    EXPECT_EQ(back.Get("JOYSTICK", "left"), "-x");
    EXPECT_EQ(back.Serialize(), bytes);
    std::remove(path.c_str());
    IniFile missing;
    EXPECT_FALSE(missing.Load("no/such/file.ini"));
    EXPECT_FALSE(missing.Has("", "PlayerName"));
    EXPECT_FALSE(ini.Save("no/such/folder/file.ini"));
}
