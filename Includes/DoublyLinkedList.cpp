#include "DoublyLinkedList.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kLinkSize = sizeof(DoublyLinkedListElement);

DoublyLinkedListElement* NewElement(DoublyLinkedList* list) {
    return static_cast<DoublyLinkedListElement*>(std::calloc(1, list->ElementSize));
}

void FreeAll(DoublyLinkedList* list) {
    for (DoublyLinkedListElement* e = list->First; e;) {
        DoublyLinkedListElement* next = e->Next;
        std::free(e);
        e = next;
    }
    list->First = list->Last = list->Current = nullptr;
    list->Count = 0;
    list->Index = -1;
}

} // namespace

DoublyLinkedList* DoublyLinkedList_Create(uint32_t dataSize) {
    // An element must fit in the 32-bit ElementSize together with its links.
    if (dataSize > UINT32_MAX - kLinkSize) return nullptr;
    auto* list = static_cast<DoublyLinkedList*>(std::calloc(1, sizeof(DoublyLinkedList)));
    if (!list) return nullptr;
    list->table =
        DoublyLinkedListOps{DoublyLinkedList_AddElement,    DoublyLinkedList_InsertElement,
                            DoublyLinkedList_DeleteElement, DoublyLinkedList_CurrentElement,
                            DoublyLinkedList_NextElement,   DoublyLinkedList_PreviousElement,
                            DoublyLinkedList_FirstElement,  DoublyLinkedList_LastElement,
                            DoublyLinkedList_ListIndex,     DoublyLinkedList_SelectElement,
                            DoublyLinkedList_CountList,     DoublyLinkedList_ResetList,
                            DoublyLinkedList_ClearList,     DoublyLinkedList_SortList,
                            DoublyLinkedList_FreeList};
    list->ops = &list->table;
    list->ElementSize = dataSize + kLinkSize;
    list->Index = -1;
    return list;
}

void* DoublyLinkedList_AddElement(DoublyLinkedList* list) {
    if (!list) return nullptr;
    DoublyLinkedListElement* e = NewElement(list);
    if (!e) return nullptr;
    e->Prev = list->Last;
    if (list->Last)
        list->Last->Next = e;
    else
        list->First = e;
    list->Last = e;
    list->Current = e;
    list->Index = list->Count;
    list->Count++;
    return DoublyLinkedList_Data(e);
}

void* DoublyLinkedList_InsertElement(DoublyLinkedList* list) {
    if (!list) return nullptr;
    DoublyLinkedListElement* e = NewElement(list);
    if (!e) return nullptr;
    DoublyLinkedListElement* before = list->Current ? list->Current : list->First;
    if (!list->Current) list->Index = 0;
    e->Next = before;
    e->Prev = before ? before->Prev : nullptr;
    if (e->Prev)
        e->Prev->Next = e;
    else
        list->First = e;
    if (before)
        before->Prev = e;
    else
        list->Last = e;
    list->Current = e;
    list->Count++;
    return DoublyLinkedList_Data(e);
}

void* DoublyLinkedList_DeleteElement(DoublyLinkedList* list) {
    if (!list || !list->Current) return nullptr;
    DoublyLinkedListElement* e = list->Current;
    if (e->Prev)
        e->Prev->Next = e->Next;
    else
        list->First = e->Next;
    if (e->Next)
        e->Next->Prev = e->Prev;
    else
        list->Last = e->Prev;
    list->Current = e->Prev;
    list->Index = e->Prev ? list->Index - 1 : -1;
    list->Count--;
    std::free(e);
    return DoublyLinkedList_Data(list->Current);
}

void* DoublyLinkedList_CurrentElement(DoublyLinkedList* list) {
    return list ? DoublyLinkedList_Data(list->Current) : nullptr;
}

void* DoublyLinkedList_NextElement(DoublyLinkedList* list) {
    if (!list) return nullptr;
    if (!list->Current) {
        // Also on an empty list: Index 0 with no current element (kept as callers expect).
        list->Current = list->First;
        list->Index = 0;
    } else {
        list->Current = list->Current->Next;
        list->Index = list->Current ? list->Index + 1 : -1;
    }
    return DoublyLinkedList_Data(list->Current);
}

void* DoublyLinkedList_PreviousElement(DoublyLinkedList* list) {
    if (!list) return nullptr;
    if (!list->Current) {
        list->Current = list->Last;
        list->Index = list->Count - 1;
    } else {
        list->Current = list->Current->Prev;
        list->Index = list->Current ? list->Index - 1 : -1;
    }
    return DoublyLinkedList_Data(list->Current);
}

void* DoublyLinkedList_FirstElement(DoublyLinkedList* list) {
    if (!list) return nullptr;
    list->Current = list->First;
    list->Index = 0; // 0 even on an empty list
    return DoublyLinkedList_Data(list->Current);
}

void* DoublyLinkedList_LastElement(DoublyLinkedList* list) {
    if (!list) return nullptr;
    list->Current = list->Last;
    list->Index = list->Count - 1;
    return DoublyLinkedList_Data(list->Current);
}

int32_t DoublyLinkedList_ListIndex(DoublyLinkedList* list) {
    return list ? list->Index : 0;
}

void* DoublyLinkedList_SelectElement(DoublyLinkedList* list, int32_t position) {
    if (!list) return nullptr;
    if (position < 0 || position >= list->Count) {
        list->Current = nullptr;
        list->Index = -1;
        return nullptr;
    }
    if (position == 0) {
        list->Current = list->First;
        list->Index = 0;
        return DoublyLinkedList_Data(list->Current);
    }
    const int32_t last = list->Count - 1;
    if (position == last) {
        list->Current = list->Last;
        list->Index = last;
        return DoublyLinkedList_Data(list->Current);
    }
    if (!list->Current) {
        // Ties go to Last.
        if (position >= last - position) {
            list->Current = list->Last;
            list->Index = last;
        } else {
            list->Current = list->First;
            list->Index = 0;
        }
    } else if (position > list->Index) {
        if (last - position < position - list->Index) {
            list->Current = list->Last;
            list->Index = last;
        }
    } else if (position < list->Index) {
        if (position < list->Index - position) {
            list->Current = list->First;
            list->Index = 0;
        }
    }
    while (list->Index < position) {
        list->Current = list->Current->Next;
        list->Index++;
    }
    while (list->Index > position) {
        list->Current = list->Current->Prev;
        list->Index--;
    }
    return DoublyLinkedList_Data(list->Current);
}

int32_t DoublyLinkedList_CountList(DoublyLinkedList* list) {
    return list ? list->Count : 0;
}

int32_t DoublyLinkedList_ResetList(DoublyLinkedList* list) {
    if (!list) return 0;
    list->Current = nullptr;
    list->Index = -1;
    return 0;
}

int32_t DoublyLinkedList_ClearList(DoublyLinkedList* list) {
    if (!list) return 0;
    FreeAll(list);
    return 0;
}

int32_t DoublyLinkedList_SortList(DoublyLinkedList* list, DoublyLinkedListCompare compare,
                                  uintptr_t userData) {
    if (!list || !compare) return 0;
    const int32_t n = list->Count;
    if (n < 2) {
        DoublyLinkedList_ResetList(list);
        return 1;
    }
    auto** rows = static_cast<DoublyLinkedListElement**>(
        std::malloc(2 * static_cast<size_t>(n) * sizeof(DoublyLinkedListElement*)));
    if (!rows) return 0;
    DoublyLinkedListElement** src = rows;
    DoublyLinkedListElement** dst = rows + n;
    int32_t i = 0;
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next) src[i++] = e;

    // Bottom-up merge: each pass reads one row and writes the other; equal elements keep
    // their order because the right run wins only on a strictly positive compare.
    for (int64_t width = 2;; width *= 2) {
        const int64_t half = width / 2;
        for (int64_t start = 0; start < n; start += width) {
            const int64_t mid = start + half < n ? start + half : n;
            const int64_t end = start + width < n ? start + width : n;
            int64_t l = start, r = mid, o = start;
            while (l < mid && r < end) {
                if (compare(DoublyLinkedList_Data(src[l]), DoublyLinkedList_Data(src[r]),
                            userData) > 0)
                    dst[o++] = src[r++];
                else
                    dst[o++] = src[l++];
            }
            while (l < mid) dst[o++] = src[l++];
            while (r < end) dst[o++] = src[r++];
        }
        DoublyLinkedListElement** t = src;
        src = dst;
        dst = t;
        if (width > n) break;
    }

    list->First = src[0];
    list->Last = src[n - 1];
    for (i = 0; i < n; i++) {
        src[i]->Prev = i > 0 ? src[i - 1] : nullptr;
        src[i]->Next = i + 1 < n ? src[i + 1] : nullptr;
    }
    std::free(rows);
    DoublyLinkedList_ResetList(list);
    return 1;
}

int32_t DoublyLinkedList_FreeList(DoublyLinkedList* list) {
    if (!list) return 0;
    FreeAll(list);
    std::free(list);
    return 0;
}
