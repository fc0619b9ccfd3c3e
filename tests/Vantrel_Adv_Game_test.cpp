// Games on real players: membership, moving between games, starting everyone.
#include "DoublyLinkedList.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Zelvik_ClientInterface.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A host that keeps the texts the engine logs.
struct LogHost {
    ClientInterface base{&kOps};
    std::vector<std::u16string> lines;

    static int32_t DrawField(ClientInterface*, int32_t, int32_t, uint32_t, int32_t, uint32_t,
                             uintptr_t) {
        return 0;
    }
    static int32_t DrawNext(ClientInterface*, int32_t, int32_t, int32_t, uint32_t, uint32_t,
                            uintptr_t) {
        return 0;
    }
    static int32_t Log(ClientInterface* ci, const char16_t* text) {
        reinterpret_cast<LogHost*>(ci)->lines.emplace_back(text);
        return 0;
    }
    static int32_t Text(ClientInterface*, const char16_t*) { return 0; }
    static int32_t Sound(ClientInterface*, int32_t) { return 0; }
    static int32_t None(ClientInterface*) { return 0; }
    static int32_t DrawHold(ClientInterface*, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) {
        return 0;
    }
    static int32_t Effect(ClientInterface*, const uint8_t*, int32_t, uintptr_t) { return 0; }
    static constexpr ClientInterfaceOps kOps = {DrawField, DrawNext, Log,  Text,     Sound,
                                                Sound,     Sound,    None, DrawHold, Effect};
};

std::vector<Player*> Members(Game* g) {
    std::vector<Player*> players;
    for (DoublyLinkedListElement* e = g->players->First; e; e = e->Next)
        players.push_back(*static_cast<Player**>(DoublyLinkedList_Data(e)));
    return players;
}

// Games have no free operation; the tests release what they made.
void Release(Game* g) {
    g->players->ops->FreeList(g->players);
    std::free(g);
}

TEST(Game, AddedPlayersBelongToTheGame) {
    LogHost host;
    Game* g = Game_Create(&host.base);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->clientInterface, &host.base);
    Player* a = g->ops->AddPlayer(g, 42);
    Player* b = g->ops->AddPlayer(g, 43);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->Game, g);
    EXPECT_EQ(a->UserData, 42u);
    EXPECT_EQ(a->Field, nullptr); // no own field
    EXPECT_EQ(Members(g), (std::vector<Player*>{a, b}));
    Player_Free(a);
    Player_Free(b);
    EXPECT_TRUE(Members(g).empty());
    Release(g);
}

TEST(Game, AttachMovesAPlayerBetweenGames) {
    Game* first = Game_Create(nullptr);
    Game* second = Game_Create(nullptr);
    Player* p = first->ops->AddPlayer(first, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(second->ops->AttachPlayer(second, p), 1);
    EXPECT_EQ(p->Game, second);
    EXPECT_TRUE(Members(first).empty());
    EXPECT_EQ(Members(second), std::vector<Player*>{p});
    // Already there: nothing changes, no second entry.
    EXPECT_EQ(second->ops->AttachPlayer(second, p), 1);
    EXPECT_EQ(Members(second), std::vector<Player*>{p});
    EXPECT_EQ(second->ops->AttachPlayer(second, nullptr), 0);

    // Removing leaves the player's Game to the caller; an unlisted player still answers 1.
    EXPECT_EQ(second->ops->RemovePlayer(second, p), 1);
    EXPECT_EQ(p->Game, second);
    EXPECT_EQ(second->ops->RemovePlayer(second, p), 1);
    EXPECT_TRUE(Members(second).empty());
    p->Game = nullptr;
    Player_Free(p);
    Release(first);
    Release(second);
}

TEST(Game, StartAllStartsEveryPlayerInOrder) {
    Plugin_Init();
    Plugin_ScanFolder(
        Platform_Path_FromUtf8(std::string(ZELVIK_GAME_DIR) + "/dlls/rotationsystem/"));
    Plugin_ScanFolder(Platform_Path_FromUtf8(std::string(ZELVIK_GAME_DIR) + "/dlls/randomizer/"));
    const ZelvikID* rs = Plugin_FindByName(PluginKind_RotationSystem, u"dalmor wexo");
    const ZelvikID* rnd = Plugin_FindByName(PluginKind_Randomizer, u"pexa");
    ASSERT_TRUE(rs && rnd);

    LogHost host;
    Game* g = Game_Create(&host.base);
    Player* ready = g->ops->AddPlayer(g, 1);
    Player* bare = g->ops->AddPlayer(g, 2);
    ASSERT_TRUE(ready && bare);
    ASSERT_EQ(ready->ops->SetRotationSystem(ready, rs), 1);
    ASSERT_EQ(ready->ops->SetRandomizer(ready, rnd), 1);
    EXPECT_EQ(g->ops->StartAll(g), 0);
    EXPECT_NE(ready->State, State_Idle);
    EXPECT_EQ(bare->State, State_Idle);
    const std::u16string name = bare->ops->GetName(bare);
    EXPECT_EQ(host.lines,
              (std::vector<std::u16string>{u"Warning: RotationSystem is not set for " + name,
                                           u"Warning: Randomizer is not set for " + name}));
    Player_Free(ready);
    Player_Free(bare);
    Release(g);
}

} // namespace
