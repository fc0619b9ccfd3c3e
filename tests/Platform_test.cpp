#include "Platform_File.h"
#include "Platform_Folder.h"
#include "Platform_Library.h"
#include "Platform_Path.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kModule = std::string(ZELVIK_TEST_BIN) + "/Platform_test_module.so";

// A fresh folder under the system's temporary folder, removed afterwards.
struct TempDir {
    fs::path path;
    TempDir() {
        std::random_device rd;
        path = fs::temp_directory_path() / ("zelvik_platform_" + std::to_string(rd()));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    void Touch(const std::string& name) const { std::ofstream(path / name) << name; }
};

// Settings, lists, fonts, pictures, sounds and replays are all read through these two: a pipe or
// device must be refused without blocking, and nothing may be read past the reader's cap.
TEST(Platform, FileReadTakesOnlyBoundedRegularFiles) {
    TempDir dir;
    std::string bytes, why;
    { std::ofstream(dir / "ten") << "0123456789"; }
    EXPECT_TRUE(Platform_File_Read(dir / "ten", 10, bytes, &why));
    EXPECT_EQ(bytes, "0123456789");
    EXPECT_FALSE(Platform_File_Read(dir / "ten", 9, bytes, &why));
    EXPECT_EQ(why, "larger than 9 bytes");
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(Platform_File_Read(dir / "missing", 10, bytes, &why));
    EXPECT_EQ(why, "No such file or directory");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", dir / "zero");
    for (const char* odd : {"fifo", "zero", ""}) {
        why.clear();
        EXPECT_FALSE(Platform_File_Read(dir / odd, 1 << 20, bytes, &why)) << odd;
        EXPECT_EQ(why, "not a regular file") << odd;
        EXPECT_EQ(Platform_File_Open(dir / odd, 1 << 20, &why), nullptr) << odd;
        EXPECT_EQ(why, "not a regular file") << odd;
    }
    EXPECT_EQ(Platform_File_CapText(1 << 20), "1 MB");
    EXPECT_EQ(Platform_File_CapText(64 << 10), "64 KB");

    // A stream stops at its cap even when the file grows after it was opened.
    std::FILE* f = Platform_File_Open(dir / "ten", 12, &why);
    ASSERT_NE(f, nullptr);
    { std::ofstream(dir / "ten", std::ios::app) << "abcdefghij"; }
    char buf[64];
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 12u);
    EXPECT_EQ(std::string(buf, 12), "0123456789ab");
    EXPECT_TRUE(std::ferror(f));
    ASSERT_EQ(std::fseek(f, 2, SEEK_SET), 0);
    EXPECT_EQ(std::fgetc(f), '2');
    std::fclose(f);
    EXPECT_EQ(Platform_File_Open(dir / "ten", 12, &why), nullptr);
    EXPECT_EQ(why, "larger than 12 bytes");
}

TEST(Platform, LibraryLoadsAndFindsSymbolsByName) {
    void* lib = Platform_Library_Open(kModule);
    ASSERT_NE(lib, nullptr) << kModule;
    using AnswerFn = int32_t (*)();
    auto answer = reinterpret_cast<AnswerFn>(Platform_Library_Symbol(lib, "PlatformTest_Answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(Platform_Library_Symbol(lib, "PlatformTest_Hidden"), nullptr);
    EXPECT_EQ(Platform_Library_Symbol(lib, "NoSuchSymbol"), nullptr);
    EXPECT_EQ(Platform_Library_Symbol(lib, nullptr), nullptr);
    EXPECT_EQ(Platform_Library_Symbol(nullptr, "PlatformTest_Answer"), nullptr);

    // The module that holds an address, as an absolute path.
    EXPECT_EQ(Platform_Library_PathOf(reinterpret_cast<const void*>(answer)),
              fs::canonical(kModule).string());
    EXPECT_EQ(Platform_Library_PathOf(nullptr), "");
    Platform_Library_Close(lib);
    Platform_Library_Close(nullptr);

    // Spelt as a data file might spell it.
    void* again = Platform_Library_Open(std::string(ZELVIK_TEST_BIN) + "\\PLATFORM_test_Module.so");
    ASSERT_NE(again, nullptr);
    EXPECT_NE(Platform_Library_Symbol(again, "PlatformTest_Answer"), nullptr);
    Platform_Library_Close(again);
}

TEST(Platform, LibraryRejectsWhatIsNotALibrary) {
    TempDir dir;
    dir.Touch("fake.so");
    EXPECT_EQ(Platform_Library_Open(dir / "fake.so"), nullptr);
    EXPECT_EQ(Platform_Library_Open(dir / "missing.so"), nullptr);
    EXPECT_EQ(Platform_Library_Open(""), nullptr);
}

TEST(Platform, FolderListsMatchingFilesSortedByName) {
    TempDir dir;
    for (const char* name : {"b.so", "A.SO", "a.so", "c.txt", "Mode.So", "x.so.bak", "so"})
        dir.Touch(name);
    fs::create_directory(dir.path / "d.so"); // folders are not listed
    fs::create_symlink(dir.path / "b.so", dir.path / "link.so");
    fs::create_symlink(dir.path / "gone", dir.path / "dangling.so");

    const std::vector<std::string> expected = {"A.SO", "a.so", "b.so", "link.so", "Mode.So"};
    EXPECT_EQ(Platform_Folder_List(dir.path.string(), "*.so"), expected);
    EXPECT_EQ(Platform_Folder_List(dir.path.string(), "*.SO"), expected);
    EXPECT_EQ(Platform_Folder_List(dir.path.string(), "?.so"),
              (std::vector<std::string>{"A.SO", "a.so", "b.so"}));
    EXPECT_EQ(Platform_Folder_List(dir.path.string(), "*").size(), 8u);
    EXPECT_EQ(Platform_Folder_List(dir.path.string(), "*.dll"), std::vector<std::string>{});
    EXPECT_EQ(Platform_Folder_List(dir / "missing", "*.so"), std::vector<std::string>{});
    // The folder itself may be named in another case or with '\'.
    fs::create_directory(dir.path / "Modes");
    dir.Touch("Modes/one.so");
    EXPECT_EQ(Platform_Folder_List(dir.path.string() + "\\MODES", "*.so"),
              std::vector<std::string>{"one.so"});
}

TEST(Platform, WildcardMatching) {
    EXPECT_TRUE(Platform_Folder_Match("", "*"));
    EXPECT_TRUE(Platform_Folder_Match("abc", "*"));
    EXPECT_TRUE(Platform_Folder_Match("aXbYc", "a*b*c"));
    EXPECT_TRUE(Platform_Folder_Match("aXbYbc", "a*bc"));
    EXPECT_TRUE(Platform_Folder_Match("Name.DLL", "*.dll"));
    EXPECT_TRUE(Platform_Folder_Match("ab", "??"));
    EXPECT_TRUE(Platform_Folder_Match("a", "a**"));
    EXPECT_FALSE(Platform_Folder_Match("abc", "??"));
    EXPECT_FALSE(Platform_Folder_Match("a", "??"));
    EXPECT_FALSE(Platform_Folder_Match("x.so.bak", "*.so"));
    EXPECT_FALSE(Platform_Folder_Match("abc", ""));
    EXPECT_FALSE(Platform_Folder_Match("abd", "a*c"));
}

TEST(Platform, FolderCreateMakesParents) {
    TempDir dir;
    EXPECT_TRUE(Platform_Folder_Create(dir / "replays/2026/12"));
    EXPECT_TRUE(fs::is_directory(dir.path / "replays/2026/12"));
    EXPECT_TRUE(Platform_Folder_Create(dir / "replays"));
    dir.Touch("file");
    EXPECT_FALSE(Platform_Folder_Create(dir / "file"));
    EXPECT_FALSE(Platform_Folder_Create(dir / "file/sub"));
    EXPECT_FALSE(Platform_Folder_Create(""));
}

TEST(Platform, PathResolvesCaseBlindComponentByComponent) {
    TempDir dir;
    fs::create_directories(dir.path / "Skins/Data/fonts");
    dir.Touch("Skins/Data/fonts/Font.PNG");
    const std::string base = dir.path.string();
    const std::string exact = base + "/Skins/Data/fonts/Font.PNG";

    EXPECT_EQ(Platform_Path_Resolve(exact), exact);
    EXPECT_EQ(Platform_Path_Resolve(base + "/skins/data/FONTS/font.png"), exact);
    EXPECT_EQ(Platform_Path_Resolve(base + "\\SKINS\\data\\fonts\\FONT.png"), exact);
    EXPECT_EQ(Platform_Path_Resolve(base + "//skins///data/fonts/font.png"), exact);
    EXPECT_EQ(Platform_Path_Resolve(base + "/skins/data/"), base + "/Skins/Data/");
    // A missing component keeps the rest as written, with '/' separators.
    EXPECT_EQ(Platform_Path_Resolve(base + "\\skins\\Missing\\x.PNG"),
              base + "/Skins/Missing/x.PNG");
    EXPECT_EQ(Platform_Path_Resolve(""), "");

    // Relative to the working folder, through "..".
    const std::string relative = fs::relative(dir.path, fs::current_path()).string();
    EXPECT_EQ(Platform_Path_Resolve(relative + "/SKINS/data/fonts/font.png"),
              relative + "/Skins/Data/fonts/Font.PNG");

    EXPECT_TRUE(Platform_Path_Exists(exact));
    EXPECT_TRUE(Platform_Path_Exists(base + "/Skins"));
    EXPECT_FALSE(Platform_Path_Exists(base + "/skins"));
    EXPECT_FALSE(Platform_Path_Exists(""));
}

TEST(Platform, PathPrefersOneSpellingWhenSeveralMatch) {
    TempDir dir;
    dir.Touch("readme.TXT");
    dir.Touch("README.txt");
    // Byte order decides, whatever order the folder lists them in.
    EXPECT_EQ(Platform_Path_Resolve(dir / "Readme.txt"), dir / "README.txt");
}

TEST(Platform, TextConversionUtf8AndUtf16) {
    const std::u16string text = u"Zelvik \u00e9\u20ac \U0001F600 end";
    const std::string utf8 = "Zelvik \xC3\xA9\xE2\x82\xAC \xF0\x9F\x98\x80 end";
    EXPECT_EQ(Platform_Path_ToUtf8(text), utf8);
    EXPECT_EQ(Platform_Path_FromUtf8(utf8), text);
    EXPECT_EQ(Platform_Path_FromUtf8(""), u"");
    EXPECT_EQ(Platform_Path_ToUtf8(u""), "");

    // Lone surrogates have no UTF-8 form.
    EXPECT_EQ(Platform_Path_ToUtf8(std::u16string(1, char16_t(0xD800)) + u"a"), "\xEF\xBF\xBD"
                                                                                "a");
    EXPECT_EQ(Platform_Path_ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
    // Bytes that are not UTF-8 (a name in Latin-1, say) survive the trip both ways, each as
    // U+DC80 + its value, so such a file can still be opened.
    EXPECT_EQ(Platform_Path_FromUtf8("a\xFF"
                                     "b"),
              u"a\xDCFF"
              u"b");
    for (const char* name : {"caf\xE9.er", "\xC0\xAF", "\xE2\x82", "\xED\xA0\x80", "\x80\xFF"})
        EXPECT_EQ(Platform_Path_ToUtf8(Platform_Path_FromUtf8(name)), name);
    EXPECT_EQ(Platform_Path_FromUtf8("\xF4\x90\x80\x80").size(), 4u); // past U+10FFFF
    EXPECT_EQ(Platform_Path_FromUtf8("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
    EXPECT_EQ(Platform_Path_FromUtf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

} // namespace
