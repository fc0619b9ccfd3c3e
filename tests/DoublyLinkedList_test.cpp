#include "DoublyLinkedList.h"

#include <gtest/gtest.h>

namespace {

struct Item {
    int32_t key;
};

DoublyLinkedList* ListOf(int n) {
    DoublyLinkedList* list = DoublyLinkedList_Create(sizeof(Item));
    for (int i = 0; i < n; i++) static_cast<Item*>(list->ops->AddElement(list))->key = i;
    return list;
}

TEST(DoublyLinkedList, DataFollowsTheTwoLinks) {
    DoublyLinkedList* list = DoublyLinkedList_Create(4);
    EXPECT_EQ(list->ElementSize, 4u + 2 * sizeof(void*));
    void* data = list->ops->AddElement(list);
    EXPECT_EQ(static_cast<char*>(data) - reinterpret_cast<char*>(list->Current),
              static_cast<ptrdiff_t>(2 * sizeof(void*)));
    list->ops->FreeList(list);
}

TEST(DoublyLinkedList, EmptyListDepartures) {
    DoublyLinkedList* list = DoublyLinkedList_Create(4);
    EXPECT_EQ(list->ops->FirstElement(list), nullptr);
    EXPECT_EQ(list->Index, 0);
    EXPECT_EQ(list->ops->LastElement(list), nullptr);
    EXPECT_EQ(list->Index, -1);
    list->ops->ResetList(list);
    EXPECT_EQ(list->ops->NextElement(list), nullptr);
    EXPECT_EQ(list->Index, 0);
    list->ops->FreeList(list);
}

TEST(DoublyLinkedList, DeleteMovesToThePreviousElement) {
    DoublyLinkedList* list = ListOf(3);
    list->ops->SelectElement(list, 1);
    auto* cur = static_cast<Item*>(list->ops->DeleteElement(list));
    ASSERT_NE(cur, nullptr);
    EXPECT_EQ(cur->key, 0);
    EXPECT_EQ(list->Index, 0);
    EXPECT_EQ(list->ops->DeleteElement(list), nullptr);
    EXPECT_EQ(list->Index, -1);
    EXPECT_EQ(static_cast<Item*>(list->ops->NextElement(list))->key, 2);
    list->ops->FreeList(list);
}

TEST(DoublyLinkedList, NullListAnswersZero) {
    EXPECT_EQ(DoublyLinkedList_AddElement(nullptr), nullptr);
    EXPECT_EQ(DoublyLinkedList_CountList(nullptr), 0);
    EXPECT_EQ(DoublyLinkedList_SortList(nullptr, nullptr, 0), 0);
    EXPECT_EQ(DoublyLinkedList_FreeList(nullptr), 0);
}

} // namespace
