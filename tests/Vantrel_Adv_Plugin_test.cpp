// The plug-in registry on real libraries: the test-only plug-ins built beside this test, laid
// into a temporary folder and scanned.
#include "Platform_Library.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Plugin.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path kPlugins = fs::path(ZELVIK_TEST_BIN) / "testplugins";

ZelvikID Identity(int32_t kind, const char16_t* name, const char16_t* author, uint64_t version) {
    ZelvikID id;
    std::memset(&id, 0, sizeof id);
    id.size = sizeof id;
    id.kind = kind;
    std::u16string n(name), a(author);
    std::memcpy(reinterpret_cast<char*>(&id) + offsetof(ZelvikID, name), n.data(), n.size() * 2);
    std::memcpy(reinterpret_cast<char*>(&id) + offsetof(ZelvikID, author), a.data(), a.size() * 2);
    id.version = version;
    return id;
}

std::u16string NameOf(const ZelvikID* id) {
    char16_t units[32];
    std::memcpy(units, reinterpret_cast<const char*>(id) + offsetof(ZelvikID, name), sizeof units);
    return std::u16string(units, std::char_traits<char16_t>::length(units));
}

// One scan per test process: every test below reads the same registry.
class PluginRegistry : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = fs::temp_directory_path() / ("zelvik_plugins_" + std::to_string(getpid()));
        fs::remove_all(root);
        const fs::path modes = root / "modes";
        const fs::path rotation = root / "rotationsystem";
        fs::create_directories(modes);
        fs::create_directories(rotation);
        for (const char* name : {"b_mode_twin.so", "c_noid.so", "d_badkind.so", "e_negkind.so",
                                 "f_reject.so", "g_long.so", "h_short.so", "l_ext.so"})
            fs::copy_file(kPlugins / name, modes / name);
        // Scanned second and sorted after the twin within its folder: the folder order wins.
        fs::copy_file(kPlugins / "a_mode.so", rotation / "a_mode.so");
        std::ofstream(modes / "y_junk.so") << "not a library";
        fs::copy_file(kPlugins / "a_mode.so", modes / "z_ignored.dll");

        Plugin_Init();
        Plugin_ScanFolder(Platform_Path_FromUtf8((modes / "").string()));
        Plugin_ScanFolder(Platform_Path_FromUtf8(rotation.string())); // no trailing separator
        Plugin_ScanFolder(u"/nonexistent/zelvik/folder/");
    }
    static void TearDownTestSuite() { fs::remove_all(root); }

    static void* LibraryAt(const fs::path& path) {
        void* handle = Platform_Library_Open(path.string()); // the loaded one, counted up
        Platform_Library_Close(handle);
        return handle;
    }

    static fs::path root;
};
fs::path PluginRegistry::root;

TEST_F(PluginRegistry, ListsByTheRecordsKindAndSkipsBrokenLibraries) {
    // Kind 2: the twin from modes/, then the mode that lay in rotationsystem/.
    ASSERT_EQ(Plugin_Count(PluginKind_Mode), 2);
    EXPECT_EQ(Plugin_GetInfo(PluginKind_Mode, 0)->build, 99);
    EXPECT_EQ(Plugin_GetInfo(PluginKind_Mode, 1)->build, 7);
    EXPECT_EQ(Plugin_Count(PluginKind_RotationSystem), 0);
    EXPECT_EQ(Plugin_Count(PluginKind_ModeExtension), 1);
    EXPECT_EQ(Plugin_Count(PluginKind_Randomizer), 2);
    EXPECT_EQ(NameOf(Plugin_GetInfo(PluginKind_Randomizer, 0)), u"ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(NameOf(Plugin_GetInfo(PluginKind_Randomizer, 1)), u"X");
    // A GetID that writes nothing leaves the cleared record: kind 0, listed there.
    ASSERT_EQ(Plugin_Count(PluginKind_None), 1);
    const ZelvikID* blank = Plugin_GetInfo(PluginKind_None, 0);
    const ZelvikID zero = Identity(0, u"", u"", 0);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(blank) + 4,
                          reinterpret_cast<const char*>(&zero) + 4, sizeof(ZelvikID) - 4),
              0);
    // No GetID, a kind of 9 or -1, a file that is no library: not listed anywhere.
    EXPECT_EQ(Plugin_GetInfo(PluginKind_Mode, 2), nullptr);
    EXPECT_EQ(Plugin_GetInfo(PluginKind_Mode, -1), nullptr);
    EXPECT_EQ(Plugin_Count(9), 0);
    EXPECT_EQ(Plugin_Count(-1), 0);
    EXPECT_EQ(Plugin_GetInfo(9, 0), nullptr);
}

TEST_F(PluginRegistry, FindsByIdentityFirstScannedWins) {
    const ZelvikID twin =
        Identity(PluginKind_Mode, u"PEXA Master", u"Tester", 0x0001000000000000ull);
    EXPECT_EQ(Plugin_FindLibrary(&twin), LibraryAt(root / "modes" / "b_mode_twin.so"));
    EXPECT_NE(Plugin_FindLibrary(&twin), LibraryAt(root / "rotationsystem" / "a_mode.so"));

    ZelvikID otherBuild = twin;
    otherBuild.build = 12345; // the build takes no part
    otherBuild.size = 0;      // nor does the size
    EXPECT_NE(Plugin_FindLibrary(&otherBuild), nullptr);

    ZelvikID lowVersion = twin;
    lowVersion.version += 1;
    EXPECT_EQ(Plugin_FindLibrary(&lowVersion), nullptr);

    ZelvikID otherAuthor = Identity(PluginKind_Mode, u"PEXA Master", u"Someone", twin.version);
    EXPECT_EQ(Plugin_FindLibrary(&otherAuthor), nullptr);

    // Bytes behind the terminator count for identity but not for the name.
    ZelvikID trailing = twin;
    reinterpret_cast<char*>(&trailing)[offsetof(ZelvikID, name) + 40] = 'q';
    EXPECT_EQ(Plugin_FindLibrary(&trailing), nullptr);
    EXPECT_EQ(Plugin_FindLibrary(nullptr), nullptr);

    ZelvikID wrongKind = twin;
    wrongKind.kind = PluginKind_ModeExtension;
    EXPECT_EQ(Plugin_FindLibrary(&wrongKind), nullptr);
    wrongKind.kind = 5;
    EXPECT_EQ(Plugin_FindLibrary(&wrongKind), nullptr);
    wrongKind.kind = -3;
    EXPECT_EQ(Plugin_FindLibrary(&wrongKind), nullptr);
}

TEST_F(PluginRegistry, EachGetIDSeesAClearedRecord) {
    // The short name follows the long one in the same folder; nothing of the long name may
    // remain behind its terminator, or a clean record would not match it.
    const ZelvikID shortName =
        Identity(PluginKind_Randomizer, u"X", u"Tester", 0x0001000000000000ull);
    EXPECT_EQ(Plugin_FindLibrary(&shortName), LibraryAt(root / "modes" / "h_short.so"));
}

TEST_F(PluginRegistry, FindsByNameTrimmedAndCaseBlind) {
    const ZelvikID* first = Plugin_GetInfo(PluginKind_Mode, 0);
    EXPECT_EQ(Plugin_FindByName(PluginKind_Mode, u" pexa master "), first);
    EXPECT_EQ(Plugin_FindByName(PluginKind_Mode, u"PEXA MASTER"), first);
    EXPECT_EQ(Plugin_FindByName(PluginKind_Mode, u"pexa  master"), nullptr);
    EXPECT_EQ(Plugin_FindByName(PluginKind_Mode, u"pexa master x"), nullptr);
    EXPECT_EQ(Plugin_FindByName(PluginKind_Randomizer, u"x"),
              Plugin_GetInfo(PluginKind_Randomizer, 1));
    EXPECT_EQ(Plugin_FindByName(PluginKind_RotationSystem, u"PEXA Master"), nullptr);
    EXPECT_EQ(Plugin_FindByName(5, u"PEXA Master"), nullptr);
    EXPECT_EQ(Plugin_FindByName(-1, u"PEXA Master"), nullptr);
    EXPECT_EQ(Plugin_FindByName(PluginKind_Mode, nullptr), nullptr);
}

TEST(PluginDescribe, TextsOfEveryKind) {
    ZelvikID mode = Identity(PluginKind_Mode, u"PEXA Master", u"X", 0x0001000000000000ull);
    mode.build = 1259956378;
    EXPECT_EQ(Plugin_Describe(&mode), u"Mode PEXA Master (v 0.1.0.0/1259956378) by X");
    ZelvikID ext = Identity(PluginKind_ModeExtension, u"Ext", u"Tester", 0x0000000100000000ull);
    ext.build = -5;
    EXPECT_EQ(Plugin_Describe(&ext), u"ModeExtension Ext (v 0.0.1.0/-5) by Tester");
    ZelvikID rs =
        Identity(PluginKind_RotationSystem, u"Dalmor WEXO", u"Pemlow", 0x0102000300000004ull);
    rs.build = INT32_MIN;
    EXPECT_EQ(Plugin_Describe(&rs),
              u"RotationSystem Dalmor WEXO (v 1.2.3.4/-2147483648) by Pemlow");
    ZelvikID rnd = Identity(PluginKind_Randomizer, u"PEXA", u"Zelvik", 0);
    EXPECT_EQ(Plugin_Describe(&rnd), u"Randomizer PEXA (v 0.0.0.0/0) by Zelvik");

    // A name that fills its whole field is cut at the field's end.
    ZelvikID full = rnd;
    for (int i = 0; i < 32; ++i)
        reinterpret_cast<char16_t*>(reinterpret_cast<char*>(&full) + offsetof(ZelvikID, name))[i] =
            u'N';
    EXPECT_EQ(Plugin_Describe(&full),
              u"Randomizer " + std::u16string(32, u'N') + u" (v 0.0.0.0/0) by Zelvik");

    ZelvikID none = Identity(0, u"Zero", u"", 0);
    EXPECT_EQ(Plugin_Describe(&none), u"Invalid ZelvikID");
    none.kind = 5;
    EXPECT_EQ(Plugin_Describe(&none), u"Invalid ZelvikID");
    EXPECT_EQ(Plugin_Describe(nullptr), u"");
}

TEST(PluginFolders, LieBesideTheModuleThatHoldsTheEngine) {
    // Linked statically here, the engine's module is this test program.
    const std::string self = Platform_Library_PathOf(reinterpret_cast<const void*>(&Plugin_Init));
    const std::string folder = self.substr(0, self.find_last_of('/') + 1);
    EXPECT_EQ(Platform_Path_ToUtf8(Plugin_ModesFolder()), folder + "modes/");
    EXPECT_EQ(Platform_Path_ToUtf8(Plugin_RandomizerFolder()), folder + "randomizer/");
    EXPECT_EQ(Platform_Path_ToUtf8(Plugin_RotationSystemFolder()), folder + "rotationsystem/");
}

} // namespace
