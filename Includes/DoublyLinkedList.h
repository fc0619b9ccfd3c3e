// The one container every module compiles in: fixed-size zeroed records with a built-in
// cursor, driven through the operation table the object carries inside itself.
#pragma once

#include <cstddef>
#include <cstdint>

struct DoublyLinkedList;

// A list element: two links, then the caller's data at 2 * sizeof(void*).
struct DoublyLinkedListElement {
    DoublyLinkedListElement* Next;
    DoublyLinkedListElement* Prev;
};

using DoublyLinkedListCompare = int32_t (*)(void* dataA, void* dataB, uintptr_t userData);

// Operation table, slots 0-14. Navigation yields data pointers (0 = none).
struct DoublyLinkedListOps {
    void* (*AddElement)(DoublyLinkedList* list);
    void* (*InsertElement)(DoublyLinkedList* list);
    void* (*DeleteElement)(DoublyLinkedList* list);
    void* (*CurrentElement)(DoublyLinkedList* list);
    void* (*NextElement)(DoublyLinkedList* list);
    void* (*PreviousElement)(DoublyLinkedList* list);
    void* (*FirstElement)(DoublyLinkedList* list);
    void* (*LastElement)(DoublyLinkedList* list);
    int32_t (*ListIndex)(DoublyLinkedList* list);
    void* (*SelectElement)(DoublyLinkedList* list, int32_t position);
    int32_t (*CountList)(DoublyLinkedList* list);
    int32_t (*ResetList)(DoublyLinkedList* list);
    int32_t (*ClearList)(DoublyLinkedList* list);
    int32_t (*SortList)(DoublyLinkedList* list, DoublyLinkedListCompare compare,
                        uintptr_t userData);
    int32_t (*FreeList)(DoublyLinkedList* list);
};

struct DoublyLinkedList {
    const DoublyLinkedListOps* ops; // points at `table` below
    DoublyLinkedListOps table;
    uint32_t ElementSize; // data size + 2 links
    int32_t Count;
    int32_t Index; // -1 = no current element
    DoublyLinkedListElement* First;
    DoublyLinkedListElement* Last;
    DoublyLinkedListElement* Current;
};

static_assert(sizeof(DoublyLinkedListElement) == 2 * sizeof(void*));
static_assert(offsetof(DoublyLinkedList, table) == sizeof(void*));
static_assert(sizeof(DoublyLinkedListOps) == 15 * sizeof(void*));

// Returns 0 when memory runs out.
DoublyLinkedList* DoublyLinkedList_Create(uint32_t dataSize);

void* DoublyLinkedList_AddElement(DoublyLinkedList* list);
void* DoublyLinkedList_InsertElement(DoublyLinkedList* list);
void* DoublyLinkedList_DeleteElement(DoublyLinkedList* list);
void* DoublyLinkedList_CurrentElement(DoublyLinkedList* list);
void* DoublyLinkedList_NextElement(DoublyLinkedList* list);
void* DoublyLinkedList_PreviousElement(DoublyLinkedList* list);
void* DoublyLinkedList_FirstElement(DoublyLinkedList* list);
void* DoublyLinkedList_LastElement(DoublyLinkedList* list);
int32_t DoublyLinkedList_ListIndex(DoublyLinkedList* list);
void* DoublyLinkedList_SelectElement(DoublyLinkedList* list, int32_t position);
int32_t DoublyLinkedList_CountList(DoublyLinkedList* list);
int32_t DoublyLinkedList_ResetList(DoublyLinkedList* list);
int32_t DoublyLinkedList_ClearList(DoublyLinkedList* list);
// 0 when compare is null or the scratch rows cannot be had (links and cursor then unchanged).
int32_t DoublyLinkedList_SortList(DoublyLinkedList* list, DoublyLinkedListCompare compare,
                                  uintptr_t userData);
int32_t DoublyLinkedList_FreeList(DoublyLinkedList* list);

// Data pointer of an element and back.
inline void* DoublyLinkedList_Data(DoublyLinkedListElement* e) {
    return e ? reinterpret_cast<char*>(e) + sizeof(DoublyLinkedListElement) : nullptr;
}
