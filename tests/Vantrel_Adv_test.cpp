// The engine library as hosts see it: a copy loaded by path, bound by export names only.
#include "Platform_Library.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path kGame = ZELVIK_GAME_DIR;
const fs::path kTestPlugins = fs::path(ZELVIK_TEST_BIN) / "testplugins";

// A run folder of its own: the engine copy in dlls/, plug-ins laid out as each test wants.
class EngineCopy : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("zelvik_engine_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        for (const char* sub :
             {"dlls/modes", "dlls/rotationsystem", "dlls/randomizer", "elsewhere"})
            fs::create_directories(root / sub);
        fs::copy_file(kGame / "dlls" / "zelvik_engine.so", root / "dlls" / "zelvik_engine.so");
        previous = fs::current_path();
        fs::current_path(root / "elsewhere"); // the scan must not depend on the working folder
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(root);
    }
    void Place(const fs::path& from, const std::string& folder) {
        fs::copy_file(from, root / "dlls" / folder / from.filename());
    }
    void* Load() {
        void* engine = Platform_Library_Open((root / "dlls" / "zelvik_engine.so").string());
        EXPECT_NE(engine, nullptr);
        return engine;
    }
    template <typename Fn> static Fn Export(void* engine, const char* name) {
        return reinterpret_cast<Fn>(Platform_Library_Symbol(engine, name));
    }

    fs::path root, previous;
};

TEST_F(EngineCopy, ExportsTheSixEntryPointsOnly) {
    void* engine = Load();
    for (const char* name : {"Zelvik_Init", "Field_Create", "Game_Create", "Player_Create",
                             "Server_Create", "ServerList_Get"})
        EXPECT_NE(Platform_Library_Symbol(engine, name), nullptr) << name;
    // Internal functions and the shared units stay hidden.
    for (const char* name : {"_Z11Plugin_Initv", "_Z11Game_CreateP15ClientInterface",
                             "GetMilliseconds", "_Z23DoublyLinkedList_Createj"})
        EXPECT_EQ(Platform_Library_Symbol(engine, name), nullptr) << name;
    // Port 0: any free port, so the test never collides with a running server.
    Server* server = Export<Server_CreateFn>(engine, "Server_Create")(u"x", 0);
    ASSERT_NE(server, nullptr);
    server->ops->Free(server);

    Field* field = Export<Field_CreateFn>(engine, "Field_Create")(10, 20, 2);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->ops->GetHiddenRows(field), 2);
    field->ops->Free(field);
}

TEST_F(EngineCopy, FindsPluginsBesideItsOwnFileByTheirKind) {
    Place(kGame / "dlls" / "rotationsystem" / "wexo_dalmor.so", "rotationsystem");
    Place(kTestPlugins / "a_mode.so", "rotationsystem"); // a mode in the wrong folder
    Place(kTestPlugins / "c_noid.so", "modes");
    Place(kTestPlugins / "d_badkind.so", "modes");
    Place(kGame / "dlls" / "randomizer" / "pexa.so", "randomizer");
    void* engine = Load();
    EXPECT_EQ(Export<Zelvik_InitFn>(engine, "Zelvik_Init")(), 0);

    // A game lives as long as its host: kept reachable here.
    static Game* game = nullptr;
    game = Export<Game_CreateFn>(engine, "Game_Create")(nullptr);
    ASSERT_NE(game, nullptr);
    Player* p = game->ops->AddPlayer(game, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->ops->GetModeInfo(p, -1), 1);
    EXPECT_EQ(p->ops->GetRotationSystemInfo(p, -1), 1);
    EXPECT_EQ(p->ops->GetRandomizerInfo(p, -1), 1);
    const auto* rs = reinterpret_cast<const ZelvikID*>(p->ops->GetRotationSystemInfo(p, 0));
    const auto* rnd = reinterpret_cast<const ZelvikID*>(p->ops->GetRandomizerInfo(p, 0));
    const auto* mode = reinterpret_cast<const ZelvikID*>(p->ops->GetModeInfo(p, 0));
    ASSERT_TRUE(rs && rnd && mode);
    EXPECT_EQ(rs->kind, PluginKind_RotationSystem);
    EXPECT_EQ(mode->build, 7);
    EXPECT_EQ(p->ops->SetRotationSystem(p, rs), 1);
    EXPECT_EQ(p->ops->SetRandomizer(p, rnd), 1);
    EXPECT_EQ(p->ops->SetMode(p, mode), 1);
    EXPECT_EQ(p->ops->Start(p), 1);
    p->ops->Free(p);
}

TEST_F(EngineCopy, NothingIsListedBeforeInit) {
    Place(kGame / "dlls" / "rotationsystem" / "wexo_dalmor.so", "rotationsystem");
    void* engine = Load();
    Player* p = Export<Player_CreateFn>(engine, "Player_Create")(nullptr, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->ops->GetRotationSystemInfo(p, -1), 0);
    EXPECT_EQ(p->ops->GetRotationSystemInfo(p, 0), 0);
    p->ops->Free(p);
}

} // namespace
