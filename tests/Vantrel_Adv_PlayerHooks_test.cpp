#include "DoublyLinkedList.h"
#include "Vantrel_Adv_Player.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Calls {
    std::vector<int> order;
    Player* player = nullptr;
    uintptr_t handles[4] = {};
};

template <int N> void Mark(Player*, uintptr_t, uintptr_t user) {
    reinterpret_cast<Calls*>(user)->order.push_back(N);
}

class PlayerHooks : public ::testing::Test {
protected:
    Player* p = Player_Create(nullptr, 0);
    void TearDown() override { Player_Free(p); }
    uintptr_t Add(uint32_t event, PlayerHookCallback cb, Calls& calls, uint32_t flags = 0) {
        return Player_AddHook(p, event, cb, reinterpret_cast<uintptr_t>(&calls), flags);
    }
};

TEST_F(PlayerHooks, HandlesAreUniqueAndStaleOnesAreHarmless) {
    Calls calls;
    const uintptr_t a = Add(Event_Frame, Mark<1>, calls);
    const uintptr_t b = Add(Event_Frame, Mark<2>, calls);
    const uintptr_t kept = Add(Event_Frame, Mark<3>, calls, kHookPersistent);
    EXPECT_TRUE(a && b && kept);
    EXPECT_NE(a, b);
    EXPECT_EQ(Player_RemoveHook(p, a), 1);
    EXPECT_EQ(Player_RemoveHook(p, a), 0) << "second removal";
    Player_Reset(p); // drops b while the caller still holds its handle
    const uintptr_t fresh = Add(Event_Frame, Mark<4>, calls);
    EXPECT_NE(fresh, b) << "a handle is never reused";
    EXPECT_EQ(Player_RemoveHook(p, b), 0);
    EXPECT_EQ(Player_RemoveHook(p, 0), 0);
    Player_FireEvent(p, Event_Frame, 0);
    EXPECT_EQ(calls.order, (std::vector<int>{3, 4}));
}

TEST_F(PlayerHooks, EventsOutsideTheTwelveListsAreRefused) {
    Calls calls;
    EXPECT_EQ(Add(12, Mark<1>, calls), 0u);
    EXPECT_EQ(Player_FireEvent(p, 12, 0), 0);
    EXPECT_EQ(Player_FireEvent(p, 0xFFFFFFFF, 0), 0);
    EXPECT_EQ(Player_FireEvent(p, 0, 0), 1);
}

TEST_F(PlayerHooks, CallbacksMayRemoveHooksWhileTheEventRuns) {
    Calls calls;
    calls.player = p;
    auto removeOthers = [](Player* pl, uintptr_t, uintptr_t user) {
        auto* c = reinterpret_cast<Calls*>(user);
        c->order.push_back(0);
        Player_RemoveHook(pl, c->handles[0]); // itself
        Player_RemoveHook(pl, c->handles[1]); // the next one
        Player_AddHook(pl, Event_Falling, Mark<9>, user, 0);
    };
    calls.handles[0] = Add(Event_Falling, removeOthers, calls);
    calls.handles[1] = Add(Event_Falling, Mark<1>, calls);
    Add(Event_Falling, Mark<2>, calls);
    Player_FireEvent(p, Event_Falling, 0);
    EXPECT_EQ(calls.order, (std::vector<int>{0, 2})) << "hooks added meanwhile wait";
    Player_FireEvent(p, Event_Falling, 0);
    EXPECT_EQ(calls.order, (std::vector<int>{0, 2, 2, 9}));
}

TEST_F(PlayerHooks, EngineHooksSurviveResetAndKeepPerPieceRecords) {
    Player_Reset(p);
    Player_FireEvent(p, Event_PieceSpawned, 0);
    Player_FireEvent(p, Event_PieceSpawned, 0);
    ASSERT_EQ(p->PieceRecords->Count, 2);
    auto* last = static_cast<PieceRecord*>(DoublyLinkedList_Data(p->PieceRecords->Last));
    last->activeFrames = 17;
    uint32_t v = 0;
    EXPECT_EQ(Player_GetValue(p, u"tetromino_activetime", &v), 1);
    EXPECT_EQ(v, 17u) << "live value of the newest record";
    int32_t rows = 0;
    Player_FireEvent(p, Event_PieceLocked, reinterpret_cast<uintptr_t>(&rows));
    EXPECT_EQ(p->InputHistory->Count, 1) << "lock mark";
    Player_Reset(p);
    EXPECT_EQ(Player_GetValue(p, u"tetromino_activetime", &v), 0);
    EXPECT_EQ(p->PieceRecords->Count, 0);
    for (int i = 0; i < kPieceRecordLimit + 10; ++i) Player_FireEvent(p, Event_PieceSpawned, 0);
    EXPECT_EQ(p->PieceRecords->Count, kPieceRecordLimit);
}

TEST_F(PlayerHooks, KeysFoldCaseIncludingLatin1Capitals) {
    const uint32_t one = 1, two = 2;
    Player_SetValue(p, u"Level\u00C0", 0, &one, 4, 0);
    uint32_t v = 0;
    EXPECT_EQ(Player_GetValue(p, u"LEVEL\u00E0", &v), 1);
    EXPECT_EQ(v, 1u);
    auto* entry = static_cast<KeyValueEntry*>(DoublyLinkedList_Data(p->ValueList->First));
    EXPECT_EQ(std::u16string(entry->key), u"level\u00E0");
    // The multiplication sign is no capital: it stays apart from the division sign.
    Player_SetValue(p, u"x\u00D7", 0, &two, 4, 0);
    EXPECT_EQ(Player_GetValue(p, u"x\u00F7", &v), 0);
    // Keys are compared as at most 255 units.
    std::u16string longA(300, u'k'), longB(300, u'k');
    longB[280] = u'z';
    Player_SetValue(p, longA.c_str(), 0, &two, 4, 0);
    EXPECT_EQ(Player_GetValue(p, longB.c_str(), &v), 1);
    EXPECT_EQ(p->ValueList->Count, 3);
}

TEST_F(PlayerHooks, CopiesReuseTheirBlockAndCallerMemoryStaysLive) {
    uint32_t live = 5;
    const uint64_t wide = 7;
    Player_SetValue(p, u"score", 0, &live, 4, 0);
    auto* entry = static_cast<KeyValueEntry*>(DoublyLinkedList_Data(p->ValueList->First));
    void* block = entry->data;
    live = 6;
    Player_SetValue(p, u"score", 0, &live, 4, 0);
    EXPECT_EQ(entry->data, block) << "same size: the copy is reused";
    live = 99;
    uint32_t v = 0;
    Player_GetValue(p, u"score", &v);
    EXPECT_EQ(v, 6u) << "a copy does not follow the variable";
    Player_SetValue(p, u"score", 0, &wide, 8, 0);
    EXPECT_EQ(entry->size, 8u);
    Player_SetValue(p, u"score", 0, &live, 4, kValueCallerMemory);
    EXPECT_EQ(entry->data, &live);
    live = 42;
    Player_GetValue(p, u"score", &v);
    EXPECT_EQ(v, 42u);
    Player_SetValue(p, u"score", 0, &live, 4, 0);
    EXPECT_NE(entry->data, &live) << "back to a copy: new block";
    live = 1;
    Player_GetValue(p, u"score", &v);
    EXPECT_EQ(v, 42u);
}

TEST_F(PlayerHooks, MissingBytesAreRefusedAndTheEntryKeepsItsValue) {
    const uint32_t value = 12;
    ASSERT_EQ(Player_SetValue(p, u"lines", 0, &value, 4, 0), 1);
    EXPECT_EQ(Player_SetValue(p, u"lines", 0, nullptr, 4, 0), 0);
    EXPECT_EQ(Player_SetValue(p, u"lines", 0, nullptr, 8, kValueCallerMemory), 0);
    EXPECT_EQ(Player_SetValue(p, u"fresh", 0, nullptr, 4, 0), 0);
    uint32_t v = 0;
    EXPECT_EQ(Player_GetValue(p, u"lines", &v), 1);
    EXPECT_EQ(v, 12u);
    EXPECT_EQ(Player_GetValue(p, u"fresh", &v), 0);
    EXPECT_EQ(p->ValueList->Count, 1);
}

TEST_F(PlayerHooks, OnlyIntegerValuesOfFourBytesAreRead) {
    const uint32_t value = 3;
    const uint16_t small = 4;
    uint32_t v = 77;
    Player_SetValue(p, u"typed", 1, &value, 4, 0);
    Player_SetValue(p, u"short", 0, &small, 2, 0);
    EXPECT_EQ(Player_GetValue(p, u"typed", &v), 0);
    EXPECT_EQ(Player_GetValue(p, u"short", &v), 0);
    EXPECT_EQ(Player_GetValue(p, u"missing", &v), 0);
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(Player_GetValue(p, u"typed", nullptr), 0);
}

} // namespace
