// Rule selection on real players, with the real plug-ins and the test-only ones in one registry.
#include "DoublyLinkedList.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Randomizer.h"
#include "Zelvik_RotationSystem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path kTestPlugins = fs::path(ZELVIK_TEST_BIN) / "testplugins";
const fs::path kDlls = fs::path(ZELVIK_GAME_DIR) / "dlls";

class PlayerRules : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = fs::temp_directory_path() / ("zelvik_rules_" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
        for (const char* name :
             {"a_mode.so", "i_rs_null.so", "j_rand_null.so", "k_mode_null.so", "m_no_create.so"})
            fs::copy_file(kTestPlugins / name, root / name);
        fs::copy_file(kDlls / "rotationsystem" / "wexo_dalmor.so", root / "wexo_dalmor.so");
        fs::copy_file(kDlls / "randomizer" / "pexa.so", root / "pexa.so");
        Plugin_Init();
        Plugin_ScanFolder(Platform_Path_FromUtf8(root.string()));
    }
    static void TearDownTestSuite() { fs::remove_all(root); }

    void SetUp() override {
        p = Player_Create(nullptr, 1);
        ASSERT_NE(p, nullptr);
    }
    void TearDown() override { Player_Free(p); }

    static const ZelvikID* Named(int32_t kind, const char16_t* name) {
        const ZelvikID* id = Plugin_FindByName(kind, name);
        EXPECT_NE(id, nullptr);
        return id;
    }
    static const ZelvikID* Wexo() { return Named(PluginKind_RotationSystem, u"Dalmor WEXO"); }
    static const ZelvikID* Pexa() { return Named(PluginKind_Randomizer, u"PEXA"); }
    static const ZelvikID* TestMode() { return Named(PluginKind_Mode, u"PEXA Master"); }
    static ModeEntry* Mode(Player* player, int index) {
        return static_cast<ModeEntry*>(
            player->ModeList->ops->SelectElement(player->ModeList, index));
    }
    static int Attached(ModeInterface* mode, Player* player) {
        int n = 0;
        for (DoublyLinkedListElement* e = mode->states->First; e; e = e->Next)
            if (*static_cast<Player**>(DoublyLinkedList_Data(e)) == player) ++n;
        return n;
    }

    static fs::path root;
    Player* p = nullptr;
};
fs::path PlayerRules::root;

TEST_F(PlayerRules, InfoListsWhatIsInstalled) {
    EXPECT_EQ(p->ops->GetModeInfo(p, -1), 2); // the test mode and the one whose create fails
    EXPECT_EQ(p->ops->GetModeInfo(p, 0), reinterpret_cast<intptr_t>(Plugin_GetInfo(2, 0)));
    EXPECT_EQ(p->ops->GetModeInfo(p, 2), 0);
    EXPECT_EQ(p->ops->GetRotationSystemInfo(p, -1), 2);
    EXPECT_EQ(p->ops->GetRandomizerInfo(p, -5), 3);
    EXPECT_NE(p->ops->GetRandomizerInfo(p, 2), 0);
    EXPECT_EQ(p->ops->GetRandomizerInfo(p, 3), 0);
    EXPECT_EQ(p->ops->GetRandomizerInfo(p, INT32_MAX), 0);
}

TEST_F(PlayerRules, ServersOfferReplacesTheLocalRotationSystems) {
    ZelvikID offered[2];
    std::memset(offered, 0, sizeof offered);
    offered[0].kind = offered[1].kind = PluginKind_RotationSystem;
    p->OfferedRotationSystems = offered;
    p->OfferedRotationSystemCount = 2;
    EXPECT_EQ(p->ops->GetRotationSystemInfo(p, -1), 2);
    EXPECT_EQ(p->ops->GetRotationSystemInfo(p, 1), reinterpret_cast<intptr_t>(&offered[1]));
    EXPECT_EQ(p->ops->GetRotationSystemInfo(p, 2), 0);
    EXPECT_EQ(p->ops->GetRotationSystemInfo(p, 100000), 0);
    p->OfferedRotationSystems = nullptr;
    p->OfferedRotationSystemCount = 0;
}

TEST_F(PlayerRules, RotationSystemIsTakenByIdentity) {
    ASSERT_EQ(p->ops->SetRotationSystem(p, Wexo()), 1);
    RotationSystemInterface* first = p->RotationSystem;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::memcmp(&p->RotationSystemID, Wexo(), sizeof(ZelvikID)), 0);

    // Unknown identity: nothing changes.
    ZelvikID unknown = *Wexo();
    unknown.version ^= 1;
    EXPECT_EQ(p->ops->SetRotationSystem(p, &unknown), 0);
    EXPECT_EQ(p->RotationSystem, first);
    EXPECT_EQ(p->ops->SetRotationSystem(p, nullptr), 0);

    // Taking it again replaces the object; its pieces go with the old one.
    p->Piece = first->ops->CreatePiece(first, Piece_T, 0);
    p->HoldPiece = first->ops->CreatePiece(first, Piece_I, 0);
    p->NextQueue[5] = first->ops->CreatePiece(first, Piece_O, 0);
    ASSERT_EQ(p->ops->SetRotationSystem(p, &p->RotationSystemID), 1); // its own record
    EXPECT_NE(p->RotationSystem, nullptr);
    EXPECT_EQ(p->Piece, nullptr);
    EXPECT_EQ(p->HoldPiece, nullptr);
    EXPECT_EQ(p->NextQueue[5], nullptr);
    EXPECT_EQ(std::memcmp(&p->RotationSystemID, Wexo(), sizeof(ZelvikID)), 0);
}

TEST_F(PlayerRules, FailedCreateLeavesNoRotationSystem) {
    ASSERT_EQ(p->ops->SetRotationSystem(p, Wexo()), 1);
    // A mode's identity finds a library without the rotation-system export.
    EXPECT_EQ(p->ops->SetRotationSystem(p, TestMode()), 0);
    EXPECT_EQ(p->RotationSystem, nullptr);
    EXPECT_EQ(std::memcmp(&p->RotationSystemID, Wexo(), sizeof(ZelvikID)), 0);
    ASSERT_EQ(p->ops->SetRotationSystem(p, Wexo()), 1);
    EXPECT_EQ(p->ops->SetRotationSystem(p, Named(PluginKind_RotationSystem, u"Broken")), 0);
    EXPECT_EQ(p->RotationSystem, nullptr);
}

TEST_F(PlayerRules, RandomizerIsTakenByIdentity) {
    ASSERT_EQ(p->ops->SetRandomizer(p, Pexa()), 1);
    ASSERT_NE(p->Randomizer, nullptr);
    p->Randomizer->ops->Init(p->Randomizer, 1);
    EXPECT_EQ(p->Randomizer->ops->NextKind(p->Randomizer), 5u); // L, as the seed search says
    ASSERT_EQ(p->ops->SetRandomizer(p, Pexa()), 1);             // the old object is released
    EXPECT_EQ(p->ops->SetRandomizer(p, Named(PluginKind_Randomizer, u"Null Rand")), 0);
    EXPECT_EQ(p->Randomizer, nullptr);
    EXPECT_EQ(std::memcmp(&p->RandomizerID, Pexa(), sizeof(ZelvikID)), 0);
    EXPECT_EQ(p->ops->SetRandomizer(p, Named(PluginKind_Randomizer, u"No Create")), 0);
    EXPECT_EQ(p->Randomizer, nullptr);
}

TEST_F(PlayerRules, ModesAccumulateAndSetModeLeavesOne) {
    ASSERT_EQ(p->ops->AddMode(p, TestMode()), 1);
    ASSERT_EQ(p->ops->AddMode(p, TestMode()), 1);
    ASSERT_EQ(p->ModeList->Count, 2);
    ModeInterface* a = Mode(p, 0)->mode;
    ModeInterface* b = Mode(p, 1)->mode;
    EXPECT_NE(a, b);
    EXPECT_EQ(Attached(a, p), 1);
    EXPECT_EQ(Attached(b, p), 1);
    EXPECT_EQ(std::memcmp(&Mode(p, 1)->id, TestMode(), sizeof(ZelvikID)), 0);

    EXPECT_EQ(p->ops->AddMode(p, Named(PluginKind_Mode, u"Null Mode")), 0);
    EXPECT_EQ(p->ModeList->Count, 2);
    ZelvikID unknown = *TestMode();
    unknown.kind = PluginKind_ModeExtension;
    EXPECT_EQ(p->ops->AddMode(p, &unknown), 0);

    ASSERT_EQ(p->ops->SetMode(p, TestMode()), 1);
    ASSERT_EQ(p->ModeList->Count, 1);
    EXPECT_EQ(Attached(Mode(p, 0)->mode, p), 1);
    // A failing SetMode still drops the old modes.
    EXPECT_EQ(p->ops->SetMode(p, &unknown), 0);
    EXPECT_EQ(p->ModeList->Count, 0);
}

TEST_F(PlayerRules, CopyRulesGivesTheSameRulesToAnotherPlayer) {
    ASSERT_EQ(p->ops->AddMode(p, TestMode()), 1);
    ASSERT_EQ(p->ops->AddMode(p, TestMode()), 1);
    ASSERT_EQ(p->ops->SetRotationSystem(p, Wexo()), 1);
    ASSERT_EQ(p->ops->SetRandomizer(p, Pexa()), 1);
    Player* target = Player_Create(nullptr, 0);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(p->ops->CopyRulesTo(p, target), 0);
    ASSERT_EQ(target->ModeList->Count, 2);
    for (int i = 0; i < 2; ++i) {
        // The mode objects are shared; each knows both players.
        EXPECT_EQ(Mode(target, i)->mode, Mode(p, i)->mode);
        EXPECT_EQ(Attached(Mode(p, i)->mode, target), 1);
        EXPECT_EQ(Attached(Mode(p, i)->mode, p), 1);
    }
    EXPECT_NE(target->RotationSystem, nullptr);
    EXPECT_NE(target->RotationSystem, p->RotationSystem);
    EXPECT_NE(target->Randomizer, p->Randomizer);
    EXPECT_EQ(std::memcmp(&target->RotationSystemID, &p->RotationSystemID, sizeof(ZelvikID)), 0);
    EXPECT_EQ(std::memcmp(&target->RandomizerID, &p->RandomizerID, sizeof(ZelvikID)), 0);
    // The first player drops its modes; the shared objects stay for the target.
    ASSERT_EQ(p->ops->SetMode(p, TestMode()), 1);
    EXPECT_EQ(Attached(Mode(target, 0)->mode, target), 1);
    Player_Free(target);
}

} // namespace
