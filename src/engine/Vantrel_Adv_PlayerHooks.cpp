// Player hooks (twelve event lists) and the key-value store the skins read statistics from.
#include "DoublyLinkedList.h"
#include "Vantrel_Adv_Player.h"

#include <cstdlib>
#include <cstring>

namespace {

// Handles grow with every hook added, so list order is also handle order.
uintptr_t lastHookHandle = 0;

constexpr int32_t kKeyUnits = 256; // 255 units and the terminator

HookSlot* SlotOf(DoublyLinkedListElement* e) {
    return static_cast<HookSlot*>(DoublyLinkedList_Data(e));
}

char16_t FoldUnit(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    // Latin-1 capitals; 0xD7 is the multiplication sign.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    return c;
}

void FoldKey(const char16_t* key, char16_t* out) {
    int32_t n = 0;
    for (; n < kKeyUnits - 1 && key[n]; ++n) out[n] = FoldUnit(key[n]);
    std::memset(out + n, 0, (kKeyUnits - n) * sizeof(char16_t));
}

bool SameKey(const char16_t* stored, const char16_t* folded) {
    for (int32_t i = 0; i < kKeyUnits; ++i) {
        if (stored[i] != folded[i]) return false;
        if (!folded[i]) return true;
    }
    return true;
}

KeyValueEntry* FindEntry(DoublyLinkedList* list, const char16_t* folded) {
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
        auto* entry = static_cast<KeyValueEntry*>(DoublyLinkedList_Data(e));
        if (SameKey(entry->key, folded)) return entry;
    }
    return nullptr;
}

// A private copy of the caller's bytes; false when memory runs out.
bool CopyBytes(const void* data, uint32_t size, void** out) {
    *out = nullptr;
    if (size == 0) return true;
    void* copy = std::malloc(size);
    if (!copy) return false;
    std::memcpy(copy, data, size);
    *out = copy;
    return true;
}

bool OwnsData(const KeyValueEntry* entry) {
    return !(entry->flags & kValueCallerMemory) && entry->data;
}

} // namespace

uintptr_t Player_AddHook(Player* p, uint32_t event, PlayerHookCallback callback, uintptr_t userdata,
                         uint32_t flags) {
    if (!p || event >= kEventCount || !callback || !p->HookLists[event]) return 0;
    DoublyLinkedList* list = p->HookLists[event];
    auto* slot = static_cast<HookSlot*>(list->ops->AddElement(list));
    if (!slot) return 0;
    slot->record = HookRecord{event, callback, userdata, flags};
    slot->handle = ++lastHookHandle;
    return slot->handle;
}

int32_t Player_FireEvent(Player* p, uint32_t event, uintptr_t argument) {
    if (!p || event >= kEventCount || !p->HookLists[event]) return 0;
    DoublyLinkedList* list = p->HookLists[event];
    if (!list->First) return 1;
    // Walk by handle, not by element: a callback may remove any hook of this list (its own
    // included) or reset the player. Hooks added meanwhile run from the next event on.
    const uintptr_t newest = lastHookHandle;
    uintptr_t done = 0;
    for (;;) {
        HookSlot* next = nullptr;
        for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
            if (SlotOf(e)->handle > done) {
                next = SlotOf(e);
                break;
            }
        }
        if (!next || next->handle > newest) break;
        done = next->handle;
        next->record.callback(p, argument, next->record.userdata);
    }
    return 1;
}

int32_t Player_RemoveHook(Player* p, uintptr_t handle) {
    if (!p || !handle) return 0;
    for (DoublyLinkedList* list : p->HookLists) {
        if (!list) continue;
        for (void* d = list->ops->FirstElement(list); d; d = list->ops->NextElement(list)) {
            if (static_cast<HookSlot*>(d)->handle == handle) {
                list->ops->DeleteElement(list);
                return 1;
            }
        }
    }
    return 0;
}

void Player_RemoveTransientHooks(Player* p) {
    for (DoublyLinkedList* list : p->HookLists) {
        if (!list) continue;
        void* d = list->ops->FirstElement(list);
        while (d) {
            if (!(static_cast<HookSlot*>(d)->record.flags & kHookPersistent))
                list->ops->DeleteElement(list);
            d = list->ops->NextElement(list);
        }
    }
}

int32_t Player_SetValue(Player* p, const char16_t* key, uint32_t type, const void* data,
                        uint32_t size, uint32_t flags) {
    if (!p || !p->ValueList || !key) return 0;
    // Bytes that are not there are refused; the entry keeps what it had.
    if (!data && size > 0) return 0;
    char16_t folded[kKeyUnits];
    FoldKey(key, folded);
    const bool callerMemory = flags & kValueCallerMemory;

    KeyValueEntry* entry = FindEntry(p->ValueList, folded);
    if (entry && OwnsData(entry) && !callerMemory && size == entry->size) {
        // Same size, still a copy: the block is reused.
        std::memcpy(entry->data, data, size);
        entry->type = type;
        entry->flags = flags;
        return 1;
    }
    void* copy = nullptr;
    if (!callerMemory && !CopyBytes(data, size, &copy)) return 0;
    if (!entry) {
        entry = static_cast<KeyValueEntry*>(p->ValueList->ops->AddElement(p->ValueList));
        if (!entry) {
            std::free(copy);
            return 0;
        }
        std::memcpy(entry->key, folded, sizeof folded);
    } else if (OwnsData(entry)) {
        std::free(entry->data);
    }
    entry->type = type;
    entry->flags = flags;
    entry->size = size;
    entry->data = callerMemory ? const_cast<void*>(data) : copy;
    return 1;
}

int32_t Player_GetValue(Player* p, const char16_t* key, uint32_t* out) {
    if (!p || !p->ValueList || !key || !out) return 0;
    char16_t folded[kKeyUnits];
    FoldKey(key, folded);
    for (DoublyLinkedListElement* e = p->ValueList->First; e; e = e->Next) {
        auto* entry = static_cast<KeyValueEntry*>(DoublyLinkedList_Data(e));
        if (!SameKey(entry->key, folded)) continue;
        if (entry->type != 0 || entry->size < 4 || !entry->data) continue;
        std::memcpy(out, entry->data, sizeof *out);
        return 1;
    }
    return 0;
}

void Player_ClearValues(Player* p) {
    DoublyLinkedList* list = p->ValueList;
    if (!list) return;
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
        auto* entry = static_cast<KeyValueEntry*>(DoublyLinkedList_Data(e));
        if (OwnsData(entry)) std::free(entry->data);
        entry->data = nullptr;
    }
    list->ops->ClearList(list);
}

void Player_HookLockMark(Player* p, uintptr_t, uintptr_t) {
    DoublyLinkedList* history = p->InputHistory;
    if (!history) return;
    history->ops->FirstElement(history);
    history->ops->InsertElement(history); // zeroed: the separator
    while (history->Count > kInputHistoryLimit) {
        history->ops->LastElement(history);
        history->ops->DeleteElement(history);
    }
}

void Player_HookSpawnStats(Player* p, uintptr_t, uintptr_t) {
    DoublyLinkedList* records = p->PieceRecords;
    if (!records) return;
    auto* record = static_cast<PieceRecord*>(records->ops->AddElement(records));
    if (!record) return;
    Player_SetValue(p, u"tetromino_activetime", 0, &record->activeFrames, 4, kValueCallerMemory);
    Player_SetValue(p, u"tetromino_greatestharddrop", 0, &record->greatestHardDrop, 4,
                    kValueCallerMemory);
    // Only the newest record is read; the oldest go first.
    while (records->Count > kPieceRecordLimit) {
        records->ops->FirstElement(records);
        records->ops->DeleteElement(records);
    }
}
