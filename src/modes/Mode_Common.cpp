#include "Mode_Common.h"

#include "DoublyLinkedList.h"

#include <cstdlib>

namespace {

constexpr int32_t kFieldWidth = 10;
constexpr int32_t kFieldHeight = 20;
constexpr int32_t kFieldHiddenRows = 2;

void CopyText(char16_t* out, size_t capacity, const char16_t* text) {
    size_t i = 0;
    for (; text[i] && i + 1 < capacity; i++) out[i] = text[i];
    for (; i < capacity; i++) out[i] = 0;
}

bool FieldFits(Field* f) {
    return f->ops->GetWidth(f) == kFieldWidth && f->ops->GetHeight(f) == kFieldHeight &&
           f->ops->GetHiddenRows(f) >= kFieldHiddenRows;
}

} // namespace

uint32_t ModeCommon_FillID(ZelvikID* id, const char16_t* name, uint64_t version, int32_t build) {
    if (!id || id->size != sizeof(ZelvikID)) return 0;
    id->kind = PluginKind_Mode;
    CopyText(id->name, 32, name);
    CopyText(id->author, 32, u"Pemlow");
    id->version = version;
    id->build = build;
    return 1;
}

ModeInterface* ModeCommon_CreateInterface(const ModeInterfaceOps* ops, size_t elementSize) {
    ModeInterface* mode = static_cast<ModeInterface*>(std::calloc(1, sizeof(ModeInterface)));
    if (!mode) return nullptr;
    mode->ops = ops;
    mode->states = DoublyLinkedList_Create(elementSize);
    if (!mode->states) {
        std::free(mode);
        return nullptr;
    }
    return mode;
}

void ModeCommon_FitField(const EngineApi* api, Player* player) {
    Field* f = player->ops->GetField(player);
    if (f && !FieldFits(f)) {
        // Other players may share the field: it goes only with its last player.
        player->ops->SetField(player, nullptr);
        if (!f->players || f->players->ops->CountList(f->players) == 0) f->ops->Free(f);
    }
    if (!player->ops->GetField(player) && api && api->Field_Create) {
        Field* created = api->Field_Create(kFieldWidth, kFieldHeight, kFieldHiddenRows);
        if (created) player->ops->SetField(player, created);
    }
}

void ModeCommon_ChargeShiftInDelay(Player* player) {
    if (player->State == State_EntryDelay)
        player->PlayerFlags |= Flag_ShiftChargesInDelay;
    else
        player->PlayerFlags &= ~Flag_ShiftChargesInDelay;
}

void ModeCommon_DropHook(Player* player, uintptr_t* handle) {
    if (!*handle) return;
    // After a reset the player has already deleted the hook; removing it again finds nothing.
    if (player) player->ops->RemoveHook(player, *handle);
    *handle = 0;
}

void ModeCommon_PublishLive(Player* player, const char16_t* key, int32_t* field) {
    player->ops->SetValue(player, key, 0, field, sizeof(int32_t), kValueCallerMemory);
}

ClientInterface* ModeCommon_Client(Player* player) {
    // Sound and music follow the host's own player, never an opponent it only shows.
    if (!player || player->IsRemote) return nullptr;
    return player->Game ? player->Game->clientInterface : nullptr;
}

void ModeCommon_PlaySound(Player* player, int32_t sound) {
    if (ClientInterface* ci = ModeCommon_Client(player)) ci->ops->PlaySound(ci, sound);
}

void ModeCommon_PlayMusic(Player* player, int32_t music) {
    if (ClientInterface* ci = ModeCommon_Client(player)) ci->ops->PlayMusic(ci, music);
}

void ModeCommon_StopMusic(Player* player) {
    if (ClientInterface* ci = ModeCommon_Client(player)) ci->ops->StopMusic(ci);
}

void ModeCommon_ApplyTimings(Player* player, const ModeTimings& t) {
    player->Settings.ShiftDelay = t.shiftDelay;
    player->Settings.LineClearDelay = t.lineClearDelay;
    player->Settings.EntryDelay = t.entryDelay;
    player->Settings.LineEntryDelay = t.lineEntryDelay;
    player->Settings.LockDelay = t.lockDelay;
    player->Settings.Gravity = t.gravity;
}

ModeDropTerms ModeCommon_DropTerms(Player* player) {
    ModeDropTerms terms{0, 0, 0};
    DoublyLinkedList* records = player->PieceRecords;
    if (!records || !records->Last) return terms;
    const PieceRecord* rec = static_cast<const PieceRecord*>(DoublyLinkedList_Data(records->Last));
    terms.soft = static_cast<int32_t>(rec->softDropFrames);
    terms.sonic = static_cast<int32_t>(rec->greatestHardDrop);
    terms.speed = player->Settings.LockDelay - static_cast<int32_t>(rec->activeFrames);
    if (terms.speed < 0) terms.speed = 0;
    return terms;
}
