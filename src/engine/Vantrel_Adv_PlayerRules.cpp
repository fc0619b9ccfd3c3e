// Rule selection: a player's modes, rotation system and randomizer come from the installed
// plug-ins, chosen by identity.
#include "DoublyLinkedList.h"
#include "Vantrel_Adv.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Randomizer.h"
#include "Zelvik_RotationSystem.h"

#include <cstring>

namespace {

// Count for a negative index, else the index-th listed identity (0 past the end).
intptr_t InfoOf(int32_t kind, int32_t index) {
    if (index < 0) return Plugin_Count(kind);
    return reinterpret_cast<intptr_t>(Plugin_GetInfo(kind, index));
}

template <typename Fn> Fn CreateExport(const ZelvikID* id, const char* name) {
    void* library = Plugin_FindLibrary(id);
    if (!library) return nullptr;
    return reinterpret_cast<Fn>(Plugin_GetExport(library, name));
}

// Frees every queued, active and held piece through the rotation system that made them.
void FreePieces(Player* p) {
    RotationSystemInterface* rs = p->RotationSystem;
    if (!rs) return;
    for (RotationPiece*& piece : p->NextQueue) {
        if (piece) rs->ops->FreePiece(rs, piece);
        piece = nullptr;
    }
    if (p->Piece) rs->ops->FreePiece(rs, p->Piece);
    if (p->HoldPiece) rs->ops->FreePiece(rs, p->HoldPiece);
    p->Piece = nullptr;
    p->HoldPiece = nullptr;
}

} // namespace

intptr_t Player_GetModeInfo(Player* p, int32_t index) {
    if (!p) return 0;
    return InfoOf(PluginKind_Mode, index);
}

int32_t Player_AddMode(Player* p, const ZelvikID* id) {
    if (!p || !p->ModeList || !id) return 0;
    if (!Plugin_FindLibrary(id)) return 0;
    auto create = CreateExport<CreateModeInterfaceFn>(id, "CreateModeInterface");
    ModeInterface* mode = create ? create(&g_EngineApi) : nullptr;
    if (!mode) return 0;
    auto* entry = static_cast<ModeEntry*>(p->ModeList->ops->AddElement(p->ModeList));
    if (!entry) {
        mode->ops->Free(mode);
        return 0;
    }
    entry->mode = mode;
    std::memcpy(&entry->id, id, sizeof(ZelvikID));
    mode->ops->AttachPlayer(mode, p);
    return 1;
}

void Player_RemoveModes(Player* p) {
    if (!p || !p->ModeList) return;
    DoublyLinkedList* list = p->ModeList;
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
        ModeInterface* mode = static_cast<ModeEntry*>(DoublyLinkedList_Data(e))->mode;
        if (mode) mode->ops->DetachPlayer(mode, p);
    }
    // Players given this player's rules share the objects; each goes with the last user.
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
        ModeInterface* mode = static_cast<ModeEntry*>(DoublyLinkedList_Data(e))->mode;
        if (!mode || (mode->states && mode->states->Count > 0)) continue;
        for (DoublyLinkedListElement* later = e; later; later = later->Next) {
            auto* entry = static_cast<ModeEntry*>(DoublyLinkedList_Data(later));
            if (entry->mode == mode) entry->mode = nullptr;
        }
        mode->ops->Free(mode);
    }
    list->ops->ClearList(list);
}

int32_t Player_SetMode(Player* p, const ZelvikID* id) {
    if (!p) return 0;
    Player_RemoveModes(p);
    return Player_AddMode(p, id);
}

intptr_t Player_GetRotationSystemInfo(Player* p, int32_t index) {
    if (!p) return 0;
    if (p->OfferedRotationSystemCount > 0 && p->OfferedRotationSystems) {
        if (index < 0) return p->OfferedRotationSystemCount;
        if (static_cast<uint32_t>(index) >= p->OfferedRotationSystemCount) return 0;
        return reinterpret_cast<intptr_t>(&p->OfferedRotationSystems[index]);
    }
    return InfoOf(PluginKind_RotationSystem, index);
}

int32_t Player_SetRotationSystem(Player* p, const ZelvikID* id) {
    if (!p || !id || !Plugin_FindLibrary(id)) return 0;
    // Copied first: id may point at this player's own RotationSystemID.
    ZelvikID chosen;
    std::memcpy(&chosen, id, sizeof chosen);
    auto create =
        CreateExport<CreateRotationSystemInterfaceFn>(&chosen, "CreateRotationSystemInterface");
    RotationSystemInterface* created = create ? create(&g_EngineApi) : nullptr;
    // The old object goes, and with it every piece it built.
    if (p->RotationSystem) {
        FreePieces(p);
        p->RotationSystem->ops->Free(p->RotationSystem);
        p->RotationSystem = nullptr;
    }
    if (!created) return 0;
    p->RotationSystem = created;
    p->RotationSystemID = chosen;
    return 1;
}

intptr_t Player_GetRandomizerInfo(Player* p, int32_t index) {
    if (!p) return 0;
    return InfoOf(PluginKind_Randomizer, index);
}

int32_t Player_SetRandomizer(Player* p, const ZelvikID* id) {
    if (!p || !id || !Plugin_FindLibrary(id)) return 0;
    ZelvikID chosen;
    std::memcpy(&chosen, id, sizeof chosen);
    auto create = CreateExport<CreateRandomizerInterfaceFn>(&chosen, "CreateRandomizerInterface");
    RandomizerInterface* created = create ? create(&g_EngineApi) : nullptr;
    if (p->Randomizer) {
        p->Randomizer->ops->Free(p->Randomizer);
        p->Randomizer = nullptr;
    }
    if (!created) return 0;
    p->Randomizer = created;
    p->RandomizerID = chosen;
    return 1;
}

int32_t Player_CopyRulesTo(Player* p, Player* target) {
    if (!p || !target || p == target) return 0;
    if (p->ModeList && target->ModeList) {
        for (DoublyLinkedListElement* e = p->ModeList->First; e; e = e->Next) {
            const ModeEntry* source = static_cast<const ModeEntry*>(DoublyLinkedList_Data(e));
            if (!source->mode) continue;
            auto* entry =
                static_cast<ModeEntry*>(target->ModeList->ops->AddElement(target->ModeList));
            if (!entry) break;
            entry->mode = source->mode->ops->AttachPlayer(source->mode, target);
            std::memcpy(&entry->id, &source->id, sizeof(ZelvikID));
        }
    }
    target->ops->SetRotationSystem(target, &p->RotationSystemID);
    target->ops->SetRandomizer(target, &p->RandomizerID);
    return 0;
}
