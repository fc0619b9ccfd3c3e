#include "DoublyLinkedList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

struct Item {
    int32_t key;
    int32_t tag;
};

struct ListDeleter {
    void operator()(DoublyLinkedList* l) const { DoublyLinkedList_FreeList(l); }
};
using ListPtr = std::unique_ptr<DoublyLinkedList, ListDeleter>;

ListPtr ListOf(int n, int32_t firstKey = 0) {
    ListPtr list(DoublyLinkedList_Create(sizeof(Item)));
    for (int i = 0; i < n; i++) {
        auto* item = static_cast<Item*>(list->ops->AddElement(list.get()));
        item->key = firstKey + i;
        item->tag = i;
    }
    return list;
}

int32_t KeyOf(void* data) {
    return data ? static_cast<Item*>(data)->key : -1;
}

// Keys in link order, checked against the backward links, First, Last and Count.
std::vector<int32_t> Keys(DoublyLinkedList* list) {
    std::vector<int32_t> keys;
    DoublyLinkedListElement* prev = nullptr;
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
        EXPECT_EQ(e->Prev, prev);
        keys.push_back(KeyOf(DoublyLinkedList_Data(e)));
        prev = e;
    }
    EXPECT_EQ(list->Last, prev);
    EXPECT_EQ(list->Count, static_cast<int32_t>(keys.size()));
    return keys;
}

// The cursor invariant: Index is the position of Current, -1 when there is none.
void ExpectCursor(DoublyLinkedList* list, int32_t index) {
    EXPECT_EQ(list->Index, index);
    if (index < 0) {
        EXPECT_EQ(list->Current, nullptr);
        return;
    }
    DoublyLinkedListElement* e = list->First;
    for (int32_t i = 0; i < index && e; i++) e = e->Next;
    EXPECT_EQ(list->Current, e);
}

TEST(DoublyLinkedList, LayoutAndTable) {
    ListPtr list(DoublyLinkedList_Create(4));
    EXPECT_EQ(list->ElementSize, 4u + 16u);
    EXPECT_EQ(list->ops, &list->table);
    EXPECT_EQ(list->Count, 0);
    EXPECT_EQ(list->Index, -1);
    void* data = list->ops->AddElement(list.get());
    EXPECT_EQ(static_cast<char*>(data) - reinterpret_cast<char*>(list->Current), 16);
    uint32_t value;
    std::memcpy(&value, data, 4);
    EXPECT_EQ(value, 0u); // zero-filled
    EXPECT_EQ(DoublyLinkedList_Create(UINT32_MAX), nullptr);
    EXPECT_EQ(DoublyLinkedList_Create(UINT32_MAX - 15), nullptr);
}

TEST(DoublyLinkedList, NullListAnswersZero) {
    EXPECT_EQ(DoublyLinkedList_AddElement(nullptr), nullptr);
    EXPECT_EQ(DoublyLinkedList_SelectElement(nullptr, 0), nullptr);
    EXPECT_EQ(DoublyLinkedList_ListIndex(nullptr), 0);
    EXPECT_EQ(DoublyLinkedList_SortList(nullptr, nullptr, 0), 0);
    EXPECT_EQ(DoublyLinkedList_FreeList(nullptr), 0);
}

TEST(DoublyLinkedList, AddAppendsWhateverIsCurrent) {
    ListPtr list = ListOf(3);
    DoublyLinkedList* l = list.get();
    l->ops->SelectElement(l, 0);
    auto* item = static_cast<Item*>(l->ops->AddElement(l));
    item->key = 9;
    EXPECT_EQ(Keys(l), (std::vector<int32_t>{0, 1, 2, 9}));
    ExpectCursor(l, 3);
    EXPECT_EQ(l->ops->CurrentElement(l), item);
}

TEST(DoublyLinkedList, InsertGoesBeforeTheCurrentElement) {
    ListPtr empty = ListOf(0);
    static_cast<Item*>(empty->ops->InsertElement(empty.get()))->key = 5;
    EXPECT_EQ(Keys(empty.get()), (std::vector<int32_t>{5}));
    ExpectCursor(empty.get(), 0);

    ListPtr list = ListOf(4);
    DoublyLinkedList* l = list.get();
    l->ops->ResetList(l);
    static_cast<Item*>(l->ops->InsertElement(l))->key = 10;
    EXPECT_EQ(Keys(l), (std::vector<int32_t>{10, 0, 1, 2, 3}));
    ExpectCursor(l, 0);

    l->ops->SelectElement(l, 2); // the third element (key 1)
    static_cast<Item*>(l->ops->InsertElement(l))->key = 11;
    EXPECT_EQ(Keys(l), (std::vector<int32_t>{10, 0, 11, 1, 2, 3}));
    ExpectCursor(l, 2);

    l->ops->LastElement(l);
    static_cast<Item*>(l->ops->InsertElement(l))->key = 12;
    EXPECT_EQ(Keys(l), (std::vector<int32_t>{10, 0, 11, 1, 2, 12, 3}));
    ExpectCursor(l, 5);
}

TEST(DoublyLinkedList, DeleteMakesThePreviousElementCurrent) {
    ListPtr list = ListOf(3);
    DoublyLinkedList* l = list.get();
    l->ops->SelectElement(l, 1);
    EXPECT_EQ(KeyOf(l->ops->DeleteElement(l)), 0);
    EXPECT_EQ(Keys(l), (std::vector<int32_t>{0, 2}));
    ExpectCursor(l, 0);

    // Deleting the first element leaves no current element; the walk resumes at the new first.
    EXPECT_EQ(l->ops->DeleteElement(l), nullptr);
    ExpectCursor(l, -1);
    EXPECT_EQ(KeyOf(l->ops->NextElement(l)), 2);

    // With no current element nothing is deleted.
    l->ops->ResetList(l);
    EXPECT_EQ(l->ops->DeleteElement(l), nullptr);
    EXPECT_EQ(Keys(l), (std::vector<int32_t>{2}));

    // Deleting the last element moves back; the only element empties the list.
    ListPtr two = ListOf(2);
    two->ops->LastElement(two.get());
    EXPECT_EQ(KeyOf(two->ops->DeleteElement(two.get())), 0);
    ExpectCursor(two.get(), 0);
    EXPECT_EQ(two->ops->DeleteElement(two.get()), nullptr);
    EXPECT_EQ(Keys(two.get()), std::vector<int32_t>{});
    EXPECT_EQ(two->First, nullptr);
    ExpectCursor(two.get(), -1);
}

TEST(DoublyLinkedList, WalksAndRemovalDuringAWalk) {
    ListPtr list = ListOf(6);
    DoublyLinkedList* l = list.get();
    std::vector<int32_t> seen;
    l->ops->ResetList(l);
    while (void* d = l->ops->NextElement(l)) {
        seen.push_back(KeyOf(d));
        EXPECT_EQ(l->ops->ListIndex(l), static_cast<int32_t>(seen.size()) - 1);
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    ExpectCursor(l, -1);
    EXPECT_EQ(KeyOf(l->ops->NextElement(l)), 0); // past the end the walk starts over

    // Backwards: from no element to the last, then down to none.
    l->ops->ResetList(l);
    EXPECT_EQ(KeyOf(l->ops->PreviousElement(l)), 5);
    ExpectCursor(l, 5);
    l->ops->FirstElement(l);
    EXPECT_EQ(l->ops->PreviousElement(l), nullptr);
    ExpectCursor(l, -1);

    // Removing the even keys while walking keeps every odd one, in order.
    l->ops->ResetList(l);
    while (void* d = l->ops->NextElement(l))
        if (KeyOf(d) % 2 == 0) l->ops->DeleteElement(l);
    EXPECT_EQ(Keys(l), (std::vector<int32_t>{1, 3, 5}));
}

TEST(DoublyLinkedList, FirstLastAndTheEmptyListDepartures) {
    ListPtr list = ListOf(0);
    DoublyLinkedList* l = list.get();
    EXPECT_EQ(l->ops->FirstElement(l), nullptr);
    EXPECT_EQ(l->Index, 0);
    EXPECT_EQ(l->ops->LastElement(l), nullptr);
    EXPECT_EQ(l->Index, -1);
    l->ops->ResetList(l);
    EXPECT_EQ(l->ops->NextElement(l), nullptr);
    EXPECT_EQ(l->Index, 0);
    EXPECT_EQ(l->ops->PreviousElement(l), nullptr);
    EXPECT_EQ(l->Index, -1);
    // Adding after a departure restores the invariant.
    l->ops->FirstElement(l);
    l->ops->AddElement(l);
    ExpectCursor(l, 0);

    ListPtr three = ListOf(3);
    EXPECT_EQ(KeyOf(three->ops->LastElement(three.get())), 2);
    ExpectCursor(three.get(), 2);
    EXPECT_EQ(KeyOf(three->ops->FirstElement(three.get())), 0);
    ExpectCursor(three.get(), 0);
    EXPECT_EQ(three->ops->CountList(three.get()), 3);
}

TEST(DoublyLinkedList, ClearKeepsTheListUsable) {
    ListPtr list = ListOf(5);
    DoublyLinkedList* l = list.get();
    l->ops->SelectElement(l, 3);
    l->ops->ClearList(l);
    EXPECT_EQ(l->First, nullptr);
    EXPECT_EQ(l->Last, nullptr);
    EXPECT_EQ(l->ops->CountList(l), 0);
    ExpectCursor(l, -1);
    static_cast<Item*>(l->ops->AddElement(l))->key = 4;
    EXPECT_EQ(Keys(l), (std::vector<int32_t>{4}));
}

TEST(DoublyLinkedList, SelectLandsOnThePosition) {
    ListPtr list = ListOf(10);
    DoublyLinkedList* l = list.get();
    for (int32_t start : {-1, 0, 2, 5, 9}) {
        for (int32_t pos = 0; pos < 10; pos++) {
            if (start < 0)
                l->ops->ResetList(l);
            else
                l->ops->SelectElement(l, start);
            EXPECT_EQ(KeyOf(l->ops->SelectElement(l, pos)), pos);
            ExpectCursor(l, pos);
        }
    }
    for (int32_t bad : {-1, 10, 11, INT32_MIN, INT32_MAX}) {
        l->ops->SelectElement(l, 4);
        EXPECT_EQ(l->ops->SelectElement(l, bad), nullptr);
        ExpectCursor(l, -1);
    }
    ListPtr empty = ListOf(0);
    EXPECT_EQ(empty->ops->SelectElement(empty.get(), 0), nullptr);
    ExpectCursor(empty.get(), -1);
}

enum class Walk { None, Forward, Backward };

// Which way select walked. One link direction of the list at a time is diverted into a twin
// list (keys + 1000): a walk along the diverted links ends in the twin. `setup` puts the cursor
// where the case needs it before the links are touched.
Walk WalkOfSelect(int n, const std::function<void(DoublyLinkedList*)>& setup, int32_t pos) {
    bool moved[2] = {false, false};
    for (int direction = 0; direction < 2; direction++) {
        ListPtr list = ListOf(n);
        ListPtr twin = ListOf(n, 1000);
        std::vector<DoublyLinkedListElement*> a, t;
        for (DoublyLinkedListElement* e = list->First; e; e = e->Next) a.push_back(e);
        for (DoublyLinkedListElement* e = twin->First; e; e = e->Next) t.push_back(e);
        setup(list.get());
        std::vector<DoublyLinkedListElement*> saved;
        for (int i = 0; i < n; i++) {
            if (direction == 0) { // forward links of element i lead to twin i + 1
                saved.push_back(a[i]->Next);
                a[i]->Next = i + 1 < n ? t[i + 1] : nullptr;
            } else { // backward links of element i lead to twin i - 1
                saved.push_back(a[i]->Prev);
                a[i]->Prev = i > 0 ? t[i - 1] : nullptr;
            }
        }
        const int32_t key = KeyOf(list->ops->SelectElement(list.get(), pos));
        for (int i = 0; i < n; i++) (direction == 0 ? a[i]->Next : a[i]->Prev) = saved[i];
        EXPECT_EQ(key % 1000, pos);
        EXPECT_EQ(list->Index, pos);
        moved[direction] = key >= 1000;
        list->ops->ResetList(list.get());
    }
    EXPECT_FALSE(moved[0] && moved[1]);
    return moved[0] ? Walk::Forward : moved[1] ? Walk::Backward : Walk::None;
}

auto At(int32_t index) {
    return [index](DoublyLinkedList* l) { l->ops->SelectElement(l, index); };
}
void NoCurrent(DoublyLinkedList* l) {
    l->ops->ResetList(l);
}

TEST(DoublyLinkedList, SelectWalksTheShortestWay) {
    // Above the current element: forward from it unless the last element is nearer.
    EXPECT_EQ(WalkOfSelect(10, At(2), 5), Walk::Forward);  // 3 steps from current, 4 from last
    EXPECT_EQ(WalkOfSelect(10, At(2), 7), Walk::Backward); // 5 from current, 2 from last
    EXPECT_EQ(WalkOfSelect(10, At(1), 5), Walk::Forward);  // tie: 4 and 4 go to current
    // No current element: back from the last when it is as near or nearer than the first.
    EXPECT_EQ(WalkOfSelect(10, NoCurrent, 5), Walk::Backward); // 5 >= 9 - 5
    EXPECT_EQ(WalkOfSelect(10, NoCurrent, 3), Walk::Forward);  // 3 < 9 - 3
    EXPECT_EQ(WalkOfSelect(11, NoCurrent, 5), Walk::Backward); // tie goes to last
    EXPECT_EQ(WalkOfSelect(11, NoCurrent, 4), Walk::Forward);
    // Below the current element: back from it unless the first element is nearer.
    EXPECT_EQ(WalkOfSelect(10, At(8), 5), Walk::Backward);
    EXPECT_EQ(WalkOfSelect(10, At(8), 3), Walk::Forward);
    EXPECT_EQ(WalkOfSelect(10, At(8), 4), Walk::Backward); // tie: 4 and 4 go to current
    // The ends and the current position need no walk at all.
    EXPECT_EQ(WalkOfSelect(10, At(5), 0), Walk::None);
    EXPECT_EQ(WalkOfSelect(10, At(5), 9), Walk::None);
    EXPECT_EQ(WalkOfSelect(10, NoCurrent, 9), Walk::None);
    EXPECT_EQ(WalkOfSelect(10, At(6), 6), Walk::None);
}

int32_t ByKey(void* a, void* b, uintptr_t) {
    return static_cast<Item*>(a)->key - static_cast<Item*>(b)->key;
}

TEST(DoublyLinkedList, SortRelinksStablyAndKeepsAddresses) {
    ListPtr list(DoublyLinkedList_Create(sizeof(Item)));
    DoublyLinkedList* l = list.get();
    const int32_t keys[] = {3, 1, 2, 1, 3, 0, 2, 1};
    std::vector<Item*> byTag;
    for (int32_t i = 0; i < 8; i++) {
        auto* item = static_cast<Item*>(l->ops->AddElement(l));
        *item = {keys[i], i};
        byTag.push_back(item);
    }
    l->ops->SelectElement(l, 4);
    EXPECT_EQ(l->ops->SortList(l, ByKey, 0), 1);
    ExpectCursor(l, -1);
    EXPECT_EQ(Keys(l), (std::vector<int32_t>{0, 1, 1, 1, 2, 2, 3, 3}));
    std::vector<int32_t> tags;
    for (DoublyLinkedListElement* e = l->First; e; e = e->Next) {
        auto* item = static_cast<Item*>(DoublyLinkedList_Data(e));
        EXPECT_EQ(byTag[item->tag], item); // the element did not move, nor did its data
        tags.push_back(item->tag);
    }
    EXPECT_EQ(tags, (std::vector<int32_t>{5, 1, 3, 7, 2, 6, 0, 4}));

    // All equal: the order stays.
    auto same = [](void*, void*, uintptr_t) -> int32_t { return 0; };
    ListPtr flat = ListOf(9);
    EXPECT_EQ(flat->ops->SortList(flat.get(), same, 0), 1);
    EXPECT_EQ(Keys(flat.get()), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));

    // userData reaches the comparison unchanged; here it reverses the order.
    auto directed = [](void* a, void* b, uintptr_t ud) -> int32_t {
        const int32_t d = static_cast<Item*>(a)->key - static_cast<Item*>(b)->key;
        return ud == 0xD0E5 ? -d : d;
    };
    ListPtr rev = ListOf(5);
    EXPECT_EQ(rev->ops->SortList(rev.get(), directed, 0xD0E5), 1);
    EXPECT_EQ(Keys(rev.get()), (std::vector<int32_t>{4, 3, 2, 1, 0}));
}

TEST(DoublyLinkedList, SortEdgeCases) {
    ListPtr one = ListOf(1);
    one->ops->FirstElement(one.get());
    EXPECT_EQ(one->ops->SortList(one.get(), ByKey, 0), 1);
    ExpectCursor(one.get(), -1);
    ListPtr empty = ListOf(0);
    EXPECT_EQ(empty->ops->SortList(empty.get(), ByKey, 0), 1);

    // Without a comparison nothing changes, the cursor included.
    ListPtr list = ListOf(4);
    list->ops->SelectElement(list.get(), 2);
    EXPECT_EQ(list->ops->SortList(list.get(), nullptr, 0), 0);
    ExpectCursor(list.get(), 2);
    EXPECT_EQ(Keys(list.get()), (std::vector<int32_t>{0, 1, 2, 3}));
}

// Every length around the run widths, and 10 000 elements, against std::stable_sort.
TEST(DoublyLinkedList, SortMatchesStableSort) {
    std::mt19937 rng(12345);
    std::vector<int> lengths;
    for (int n = 2; n <= 70; n++) lengths.push_back(n);
    lengths.push_back(10000);
    for (int n : lengths) {
        std::vector<Item> items;
        std::uniform_int_distribution<int32_t> keyOf(0, n / 3 + 1); // plenty of equal keys
        ListPtr list(DoublyLinkedList_Create(sizeof(Item)));
        for (int i = 0; i < n; i++) {
            Item item{keyOf(rng), i};
            items.push_back(item);
            *static_cast<Item*>(list->ops->AddElement(list.get())) = item;
        }
        std::stable_sort(items.begin(), items.end(),
                         [](const Item& a, const Item& b) { return a.key < b.key; });
        ASSERT_EQ(list->ops->SortList(list.get(), ByKey, 0), 1);
        std::vector<int32_t> want, got;
        for (const Item& item : items) want.push_back(item.tag);
        DoublyLinkedListElement* prev = nullptr;
        for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
            ASSERT_EQ(e->Prev, prev);
            got.push_back(static_cast<Item*>(DoublyLinkedList_Data(e))->tag);
            prev = e;
        }
        ASSERT_EQ(list->Last, prev);
        ASSERT_EQ(got, want) << "length " << n;
    }
}

} // namespace
