#include "FakeEnginePlayer.h"

#include "DoublyLinkedList.h"
#include "Platform_Screen.h"
#include "Platform_Sound.h"
#include "Sprite3D.h"
#include "Vantrel_GUI_Callbacks.h"
#include "Vantrel_GUI_Resources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

class ClientCallbacks : public ::testing::Test {
protected:
    void SetUp() override {
        previous = std::filesystem::current_path();
        std::filesystem::current_path(ZELVIK_GAME_DIR);
        ASSERT_TRUE(Platform_Screen_Open(64, 64, true, "Callbacks test"));
        ASSERT_TRUE(Client_InitState());
        ASSERT_TRUE(Client_CreateCellSprites());
        // Plain cells: no masks over the block, so the tint is read back unchanged.
        gClient.MaskSprite = gClient.JewelMaskSprite = nullptr;
        cp = Client_AddClientPlayer(nullptr);
        ASSERT_NE(cp, nullptr);
        cp->CellW = cp->CellH = 16;
        Client_ZoomCellSprites(16, 16);
    }
    void TearDown() override {
        Client_FreeState();
        Resource_FreeAll();
        Platform_Sound_Quit();
        Platform_Screen_Close();
        std::filesystem::current_path(previous);
    }
    uint32_t Pixel(int32_t x, int32_t y) {
        std::vector<uint8_t> rgba;
        EXPECT_TRUE(Platform_Screen_ReadPixels(rgba));
        const uint8_t* p = &rgba[(size_t(y) * 64 + x) * 4];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    ClientInterface* ci() { return &gClient.Interface; }
    uintptr_t user() { return reinterpret_cast<uintptr_t>(cp); }

    std::filesystem::path previous;
    ClientPlayer* cp = nullptr;
};

} // namespace

TEST(ClientLockTint, BlendsTowardsGreyOnlyJustBeforeTheLock) {
    const uint32_t data = 0x102030; // red 0x30, green 0x20, blue 0x10
    EXPECT_EQ(Client_BlendLockTint(data, 100), data);
    for (int32_t p = 0; p < 10; ++p) EXPECT_EQ(Client_BlendLockTint(data, p), data) << p;
    // w = 9: (c * 50 + 0xDD * 9) / 59 per byte.
    const uint32_t tinted = Client_BlendLockTint(data, 95);
    EXPECT_EQ(tinted & 0xFF, uint32_t((0x30 * 50 + 0xDD * 9) / 59));
    EXPECT_EQ(tinted >> 8 & 0xFF, uint32_t((0x20 * 50 + 0xDD * 9) / 59));
    EXPECT_EQ(tinted >> 16 & 0xFF, uint32_t((0x10 * 50 + 0xDD * 9) / 59));
    EXPECT_EQ(Client_BlendLockTint(data, 50) & 0xFF, uint32_t((0x30 * 50 + 0xDD * 5) / 55));
    // Out of range: clamped, never a negative or oversized weight.
    EXPECT_EQ(Client_BlendLockTint(data, 150), data);
    EXPECT_EQ(Client_BlendLockTint(data, -40), data);
}

TEST_F(ClientCallbacks, FieldCellUsesCellDataColourAndLayout) {
    cp->FieldX = 4;
    cp->FieldY = 8;
    // Red in the low byte, as the rotation system's table stores it.
    gClient.Interface.ops->DrawFieldBlock(ci(), 1, 2, 0x0000FF, 100, 0, user());
    EXPECT_EQ(Pixel(4 + 16, 8 + 32), 0xFF0000u);
    EXPECT_EQ(Pixel(4 + 31, 8 + 47), 0xFF0000u);
    EXPECT_EQ(Pixel(4 + 15, 8 + 32), 0u);
    // A tinted landed cell.
    gClient.Interface.ops->DrawFieldBlock(ci(), 0, 0, 0x000000, 95, 0, user());
    const uint32_t grey = uint32_t(0xDD * 9 / 59);
    EXPECT_EQ(Pixel(6, 10), grey << 16 | grey << 8 | grey);
}

TEST_F(ClientCallbacks, OutlinesFollowTheOpenEdgeFlags) {
    gClient.Interface.ops->DrawFieldBlock(ci(), 1, 1, 0x404040, 100,
                                          CellFlag_LeftOpen | CellFlag_TopOpen, user());
    // The bar is 3/64 of the cell: under one pixel at 16, so sample the outermost row/column.
    EXPECT_EQ(Pixel(16 + 8, 16), 0xFFFFFFu); // top
    EXPECT_EQ(Pixel(16, 16 + 8), 0xFFFFFFu); // left
    EXPECT_EQ(Pixel(31, 16 + 8), 0x404040u); // right stays closed
    EXPECT_EQ(Pixel(16 + 8, 31), 0x404040u); // bottom stays closed
    gClient.Interface.ops->DrawFieldBlock(ci(), 2, 2, 0x404040, 100,
                                          CellFlag_RightOpen | CellFlag_BottomOpen, user());
    EXPECT_EQ(Pixel(47, 32 + 8), 0xFFFFFFu);
    EXPECT_EQ(Pixel(32 + 8, 47), 0xFFFFFFu);
    EXPECT_EQ(Pixel(32, 32 + 8), 0x404040u);
    EXPECT_EQ(Pixel(32 + 8, 32), 0x404040u);
    // The outline sprite is left unrotated for the next user.
    EXPECT_EQ(gClient.OutlineSprite->Quad->Angle, 0.0);
}

TEST_F(ClientCallbacks, PreviewAndHoldCellsUseTheirOwnPositions) {
    cp->NextPos[3] = {40, 0};
    cp->HoldX = 0;
    cp->HoldY = 40;
    cp->CellW = cp->CellH = 8;
    Client_ZoomCellSprites(8, 8);
    gClient.Interface.ops->DrawNextBlock(ci(), 3, 1, 1, 0x00FF00, CellFlag_TopOpen, user());
    EXPECT_EQ(Pixel(48, 8), 0x00FF00u); // no outline on previews
    gClient.Interface.ops->DrawHoldBlock(ci(), 0, 0, 0xFF0000, 0, user());
    EXPECT_EQ(Pixel(2, 42), 0x0000FFu);
    // Preview numbers without an entry are ignored.
    gClient.Interface.ops->DrawNextBlock(ci(), 64, 0, 0, 0xFFFFFF, 0, user());
    gClient.Interface.ops->DrawNextBlock(ci(), -1, 0, 0, 0xFFFFFF, 0, user());
    EXPECT_EQ(Pixel(0, 0), 0u);
    EXPECT_EQ(gClient.Interface.ops->LineClearEffect(ci(), nullptr, 0, user()), 0);
    EXPECT_EQ(DoublyLinkedList_CountList(cp->Particles), 0);
}

TEST_F(ClientCallbacks, SoundAndMusicIdsOutsideTheTablesAreIgnored) {
    ASSERT_TRUE(Platform_Sound_Init());
    gClient.SoundAvailable = 1;
    Client_LoadSounds();
    for (int32_t i = 0; i < kSoundCount; ++i) ASSERT_NE(gClient.Sounds[i], nullptr) << i;
    for (int32_t i = 0; i < kMusicCount; ++i) ASSERT_NE(gClient.Bgm[i], nullptr) << i;
    const ClientInterfaceOps* ops = gClient.Interface.ops;
    for (int32_t id : {-1, 20, 21, 1000}) {
        ops->PlaySound(ci(), id);
        ops->StopSound(ci(), id);
    }
    EXPECT_EQ(Platform_Sound_ChannelsPlaying(), 0);
    for (int32_t id : {-1, 4, 99}) ops->PlayMusic(ci(), id);
    EXPECT_EQ(gClient.CurrentMusic, -1);
    EXPECT_FALSE(Platform_Sound_MusicPlaying());
    // Overlapping effects; stopping anything but the siren does nothing.
    ops->PlaySound(ci(), Sound_LineClear);
    ops->PlaySound(ci(), Sound_LineClear);
    EXPECT_EQ(Platform_Sound_ChannelsPlaying(), 2);
    ops->StopSound(ci(), Sound_LineClear);
    EXPECT_EQ(Platform_Sound_ChannelsPlaying(), 2);
    ops->PlaySound(ci(), Sound_Siren);
    EXPECT_TRUE(Platform_Sound_LoopingPlaying());
    ops->StopSound(ci(), Sound_Siren);
    EXPECT_FALSE(Platform_Sound_LoopingPlaying());
    ops->StopMusic(ci()); // nothing plays: nothing happens
    EXPECT_EQ(gClient.CurrentMusic, -1);
    ops->PlayMusic(ci(), 2);
    EXPECT_EQ(gClient.CurrentMusic, 2);
    EXPECT_TRUE(Platform_Sound_MusicPlaying());
    ops->PlayMusic(ci(), 7); // ignored: the music goes on
    EXPECT_EQ(gClient.CurrentMusic, 2);
    ops->StopMusic(ci());
    EXPECT_EQ(gClient.CurrentMusic, -1);
    EXPECT_FALSE(Platform_Sound_MusicPlaying());
}

TEST_F(ClientCallbacks, WithoutASoundDeviceNothingPlays) {
    gClient.SoundAvailable = 0;
    Client_LoadSounds();
    EXPECT_EQ(gClient.Sounds[0], nullptr);
    gClient.Interface.ops->PlayMusic(ci(), 0);
    EXPECT_EQ(gClient.CurrentMusic, -1);
}

TEST_F(ClientCallbacks, NetworkPlayersJoinAndLeaveByEngineId) {
    FakeEnginePlayer local(ci(), user()), remote(ci(), 0), stranger(ci(), 0);
    cp->Player = &local.player;
    remote.player.Id = 7;
    stranger.player.Id = 9;
    Client_OnPlayerAdded(nullptr, &remote.player);
    ASSERT_EQ(DoublyLinkedList_CountList(gClient.Players), 2);
    auto* added = static_cast<ClientPlayer*>(DoublyLinkedList_SelectElement(gClient.Players, 1));
    EXPECT_EQ(added->Player, &remote.player);
    EXPECT_NE(added->Particles, nullptr);
    Client_OnPlayerRemoved(nullptr, &stranger.player);
    EXPECT_EQ(DoublyLinkedList_CountList(gClient.Players), 2);
    Client_OnPlayerRemoved(nullptr, &remote.player);
    EXPECT_EQ(DoublyLinkedList_CountList(gClient.Players), 1);
    // Joined: the menu hook runs for the record of that id only.
    static ClientPlayer* seen = nullptr;
    gClient.RandomizerMenuCreate = [](ClientPlayer* p) -> Menu* {
        seen = p;
        return nullptr;
    };
    Client_OnPlayerJoined(&stranger.player);
    EXPECT_EQ(seen, nullptr);
    Client_OnPlayerJoined(&local.player);
    EXPECT_EQ(seen, cp);
}

TEST_F(ClientCallbacks, ReplayNameFromThePatternWithoutColons) {
    FakeEnginePlayer fake(ci(), user());
    cp->Player = &fake.player;
    fake.SetMode(u"PEXA Master");
    fake.player.GameTime = 125;
    EXPECT_EQ(Client_ReplayFileName(cp), u"replays/PEXA Master_00_02_08.er");
    gClient.ReplayPattern = u"%mode%-%level%.er";
    fake.SetValue(u"level", 321);
    EXPECT_EQ(Client_ReplayFileName(cp), u"replays/PEXA Master-321.er");
    // A pattern that climbs out of the folder still names a file inside it.
    gClient.ReplayPattern = u"../../x";
    EXPECT_EQ(Client_ReplayFileName(cp), u"replays/___.._x");
    gClient.ReplayPattern = u"..\\%mode%.er";
    EXPECT_EQ(Client_ReplayFileName(cp), u"replays/___PEXA Master.er");
}

TEST_F(ClientCallbacks, DebugLogSplitsAtCarriageReturns) {
    static std::vector<std::u16string> lines;
    lines.clear();
    gClient.OnDebugLine = [](const std::u16string& line) { lines.push_back(line); };
    gClient.Interface.ops->DebugLog(ci(), u"first\r\nsecond\n\rthird");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(8), u": first");
    EXPECT_EQ(lines[1].substr(8), u": second");
    EXPECT_EQ(lines[2].substr(8), u": third");
    EXPECT_EQ(lines[0][2], u':'); // hh:mm:ss
    EXPECT_EQ(gClient.DebugLines.size(), 3u);
}
