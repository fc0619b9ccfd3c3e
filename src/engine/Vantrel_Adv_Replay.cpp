// The replay object: records a player's rules and inputs, writes and reads ".er" files, and
// applies a loaded replay to a player at game start.
#include "Vantrel_Adv_Replay.h"

#include "DoublyLinkedList.h"
#include "Platform_File.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_ReplayINP.h"
#include "Vantrel_Common.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kReplayMagic = 0x5452504C; // "LPRT"
constexpr uint32_t kReplayVersion = 1;
constexpr uint32_t kInputMagic = 0x534D504C; // "LPMS"
constexpr size_t kIdBytes = 148;
constexpr size_t kKeyUnits = 256;
constexpr size_t kValueHeaderBytes = kKeyUnits * 2 + 4 + 4;

ReplayRecord* Self(Replay* r) {
    return reinterpret_cast<ReplayRecord*>(r);
}

// Reads a file front to back and never past the bytes it holds: once a read would cross the
// end, it and every later read fail.
class FileReader {
public:
    explicit FileReader(std::FILE* f) : file_(f) {
        const long here = std::ftell(f);
        if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) {
            failed_ = true;
            return;
        }
        const long end = std::ftell(f);
        if (end < here || std::fseek(f, here, SEEK_SET) != 0) {
            failed_ = true;
            return;
        }
        left_ = static_cast<uint64_t>(end - here);
    }

    bool Failed() const { return failed_; }
    uint64_t Left() const { return failed_ ? 0 : left_; }

    bool Bytes(void* out, size_t n) {
        if (failed_ || n > left_ || std::fread(out, 1, n, file_) != n) {
            failed_ = true;
            return false;
        }
        left_ -= n;
        return true;
    }
    uint16_t U16() {
        uint8_t b[2] = {};
        Bytes(b, 2);
        return static_cast<uint16_t>(b[0] | b[1] << 8);
    }
    uint32_t U32() {
        uint8_t b[4] = {};
        Bytes(b, 4);
        return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
               static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
    uint64_t U64() {
        const uint64_t low = U32();
        return low | static_cast<uint64_t>(U32()) << 32;
    }
    ZelvikID Id() {
        ZelvikID id;
        std::memset(&id, 0, sizeof id);
        id.size = U32();
        id.kind = static_cast<int32_t>(U32());
        char16_t units[32];
        for (char16_t& u : units) u = U16();
        units[31] = 0; // a name read from a file always ends inside its field
        std::memcpy(reinterpret_cast<char*>(&id) + offsetof(ZelvikID, name), units, sizeof units);
        for (char16_t& u : units) u = U16();
        units[31] = 0;
        std::memcpy(reinterpret_cast<char*>(&id) + offsetof(ZelvikID, author), units, sizeof units);
        id.version = U64();
        id.build = static_cast<int32_t>(U32());
        return id;
    }

private:
    std::FILE* file_;
    uint64_t left_ = 0;
    bool failed_ = false;
};

class Writer {
public:
    std::vector<uint8_t> bytes;

    void U16(uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void Units(const void* p, size_t count) {
        char16_t units[kKeyUnits];
        std::memcpy(units, p, count * sizeof(char16_t));
        for (size_t i = 0; i < count; ++i) U16(units[i]);
    }
    void Id(const ZelvikID& id) {
        U32(id.size);
        U32(static_cast<uint32_t>(id.kind));
        Units(reinterpret_cast<const char*>(&id) + offsetof(ZelvikID, name), 32);
        Units(reinterpret_cast<const char*>(&id) + offsetof(ZelvikID, author), 32);
        U64(id.version);
        U32(static_cast<uint32_t>(id.build));
    }
};

struct LoadedValue {
    char16_t key[kKeyUnits];
    uint32_t type;
    std::vector<uint8_t> data;
};

int32_t RoundFramesPerSecond(double fps) {
    if (!std::isfinite(fps)) return 0;
    const double r = std::round(fps);
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(r);
}

void FreeInputs(ReplayRecord* self) {
    delete self->inputs;
    self->inputs = nullptr;
    self->inputsState = 0;
}

void CloseFile(ReplayRecord* self) {
    if (self->openFile) std::fclose(self->openFile);
    self->openFile = nullptr;
    self->loadedParts &= ~static_cast<uint32_t>(ReplayPart_InputsDeferred);
}

// Deletes every value entry of a player, releasing the data the store owns.
void EmptyValueStore(DoublyLinkedList* values) {
    for (DoublyLinkedListElement* e = values->First; e; e = e->Next) {
        auto* entry = static_cast<KeyValueEntry*>(DoublyLinkedList_Data(e));
        if (!(entry->flags & kValueCallerMemory)) std::free(entry->data);
        entry->data = nullptr;
    }
    values->ops->ClearList(values);
}

// The input section: its magic, the frame count, then one word per frame as far as the file
// goes. A missing or wrong magic leaves the replay without inputs.
void ReadInputSection(ReplayRecord* self, FileReader& in) {
    if (in.U32() != kInputMagic || in.Failed()) return;
    if (!ReplayInputs_Install(self)) return;
    const uint32_t count = in.U32();
    // Room for what the file can really hold, never for what its count claims.
    try {
        self->inputs->reserve(std::min<uint64_t>(count, in.Left() / 2));
    } catch (const std::bad_alloc&) {
    }
    for (uint32_t i = 0; i < count && in.Left() >= 2; ++i)
        if (!ReplayInputs_Add(self, in.U16())) break;
}

const char16_t* NameOf(const ZelvikID* id) {
    return reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(id) +
                                             offsetof(ZelvikID, name));
}

int32_t Replay_Load(Replay* r, Player* player, const char16_t* fileName, uint32_t flags);
int32_t Replay_CountFrames(Replay* r);
uint32_t Replay_GetInput(Replay* r, uint32_t frame);
int32_t Replay_ApplyToPlayer(Replay* r, Player* player);
int32_t Replay_AddInput(Replay* r, uint32_t input);
int32_t Replay_StartRecording(Replay* r, Player* player);
int32_t Replay_Save(Replay* r, const char16_t* fileName);
const char16_t* Replay_GetModeName(Replay* r);
const char16_t* Replay_GetRotationSystemName(Replay* r);
const char16_t* Replay_GetRandomizerName(Replay* r);
int32_t Replay_Free(Replay* r);

constexpr ReplayOps kReplayOps = {
    Replay_LoadMAMEINP,
    Replay_Load,
    Replay_CountFrames,
    Replay_GetInput,
    Replay_ApplyToPlayer,
    Replay_AddInput,
    Replay_StartRecording,
    Replay_Save,
    Replay_GetModeName,
    Replay_GetRotationSystemName,
    Replay_GetRandomizerName,
    Replay_Clear,
    Replay_Free,
};

int32_t Replay_Load(Replay* r, Player* player, const char16_t* fileName, uint32_t flags) {
    ReplayRecord* self = Self(r);
    if (!self) return 0;
    if (player) self->player = player;
    CloseFile(self);
    self->loadedParts = 0;
    Replay_Clear(r);
    if (!fileName) return 0;
    std::FILE* f = Platform_File_Open(Platform_Path_Resolve(Platform_Path_ToUtf8(fileName)),
                                      kReplayFileMaxBytes);
    if (!f) return 0;
    FileReader in(f);
    auto reject = [&] {
        std::fclose(f);
        return 0;
    };
    if (in.U32() != kReplayMagic || in.Failed()) return reject();
    if (in.U32() != kReplayVersion || in.Failed()) return reject();

    // Everything up to the input section is read and checked before anything changes, so a
    // damaged file leaves the player as it was.
    const uint32_t seed = in.U32();
    const ZelvikID rotationSystem = in.Id();
    const ZelvikID randomizer = in.Id();
    const uint32_t modeCount = in.U32();
    if (in.Failed() || modeCount > in.Left() / kIdBytes) return reject();
    std::vector<ZelvikID> modes;
    modes.reserve(modeCount);
    for (uint32_t i = 0; i < modeCount; ++i) modes.push_back(in.Id());
    const uint32_t gameTime = in.U32();
    const int32_t framesPerSecond = static_cast<int32_t>(in.U32());
    const uint32_t valueCount = in.U32();
    if (in.Failed() || valueCount > in.Left() / kValueHeaderBytes) return reject();
    std::vector<LoadedValue> values(valueCount);
    for (LoadedValue& v : values) {
        for (char16_t& u : v.key) u = in.U16();
        v.key[kKeyUnits - 1] = 0;
        v.type = in.U32();
        const uint32_t size = in.U32();
        if (in.Failed() || size > in.Left()) return reject();
        v.data.resize(size);
        if (size && !in.Bytes(v.data.data(), size)) return reject();
    }
    if (in.Failed()) return reject();

    DoublyLinkedList* modeList = self->modes;
    modeList->ops->ClearList(modeList);
    for (const ZelvikID& id : modes) {
        auto* slot = static_cast<ZelvikID*>(modeList->ops->AddElement(modeList));
        if (!slot) return reject();
        *slot = id;
    }
    self->seed = seed;
    self->rotationSystem = rotationSystem;
    self->randomizer = randomizer;
    self->loadedParts =
        ReplayPart_Seed | ReplayPart_RotationSystem | ReplayPart_Randomizer | ReplayPart_Modes;

    if (Player* p = self->player) {
        p->GameTime = static_cast<int32_t>(gameTime);
        p->Settings.FramesPerSecond = framesPerSecond;
        if (DoublyLinkedList* store = p->ValueList) {
            EmptyValueStore(store);
            for (const LoadedValue& v : values) {
                void* data = nullptr;
                if (!v.data.empty()) {
                    data = std::malloc(v.data.size());
                    if (!data) continue;
                    std::memcpy(data, v.data.data(), v.data.size());
                }
                auto* entry = static_cast<KeyValueEntry*>(store->ops->AddElement(store));
                if (!entry) {
                    std::free(data);
                    continue;
                }
                std::memcpy(entry->key, v.key, sizeof entry->key);
                entry->type = v.type;
                entry->data = data;
                entry->size = static_cast<uint32_t>(v.data.size());
                entry->flags = 0;
            }
        }
    }

    if (flags & 1) {
        self->openFile = f;
        self->loadedParts |= ReplayPart_InputsDeferred;
        return 1;
    }
    ReadInputSection(self, in);
    std::fclose(f);
    return 1;
}

int32_t Replay_CountFrames(Replay* r) {
    ReplayRecord* self = Self(r);
    if (!self || self->inputsState != 1 || !self->inputs) return 0;
    return static_cast<int32_t>(std::min<size_t>(self->inputs->size(), INT32_MAX));
}

uint32_t Replay_GetInput(Replay* r, uint32_t frame) {
    ReplayRecord* self = Self(r);
    if (!self || self->inputsState != 1 || !self->inputs) return 0;
    if (frame >= self->inputs->size()) return 0;
    return ReplayInputs_Word((*self->inputs)[frame]);
}

int32_t Replay_ApplyToPlayer(Replay* r, Player* player) {
    ReplayRecord* self = Self(r);
    if (!self) return 0;
    if (self->loadedParts & ReplayPart_InputsDeferred) {
        if (self->openFile) {
            FileReader in(self->openFile);
            ReadInputSection(self, in);
        }
        CloseFile(self);
    }
    if (!player) return 0;
    if (self->loadedParts & ReplayPart_RotationSystem)
        Player_SetRotationSystem(player, &self->rotationSystem);
    if (self->loadedParts & ReplayPart_Randomizer) Player_SetRandomizer(player, &self->randomizer);
    if (self->loadedParts & ReplayPart_Modes) {
        Player_RemoveModes(player);
        DoublyLinkedList* list = self->modes;
        for (DoublyLinkedListElement* e = list->First; e; e = e->Next)
            Player_AddMode(player, static_cast<const ZelvikID*>(DoublyLinkedList_Data(e)));
    }
    if (self->loadedParts & ReplayPart_Seed) player->Seed = self->seed;
    return 0;
}

int32_t Replay_AddInput(Replay* r, uint32_t input) {
    ReplayRecord* self = Self(r);
    if (!self || self->inputsState != 1 || !self->inputs) return 0;
    return ReplayInputs_Add(self, input) ? 1 : 0;
}

int32_t Replay_StartRecording(Replay* r, Player* player) {
    ReplayRecord* self = Self(r);
    if (!self || !player) return 0;
    self->loadedParts |= ReplayPart_Seed;
    self->seed = player->Seed;
    ReplayInputs_Install(self);
    self->rotationSystem = player->RotationSystemID;
    self->randomizer = player->RandomizerID;
    self->player = player;
    DoublyLinkedList* list = self->modes;
    list->ops->ClearList(list);
    if (player->ModeList) {
        for (DoublyLinkedListElement* e = player->ModeList->First; e; e = e->Next) {
            const auto* entry = static_cast<const ModeEntry*>(DoublyLinkedList_Data(e));
            auto* slot = static_cast<ZelvikID*>(list->ops->AddElement(list));
            if (!slot) break;
            std::memcpy(slot, &entry->id, sizeof(ZelvikID));
        }
    }
    return 0;
}

int32_t Replay_Save(Replay* r, const char16_t* fileName) {
    ReplayRecord* self = Self(r);
    if (!self || !fileName) return 0;
    Writer out;
    out.U32(kReplayMagic);
    out.U32(kReplayVersion);
    out.U32(self->seed);
    out.Id(self->rotationSystem);
    out.Id(self->randomizer);
    DoublyLinkedList* modes = self->modes;
    out.U32(static_cast<uint32_t>(modes->Count));
    for (DoublyLinkedListElement* e = modes->First; e; e = e->Next)
        out.Id(*static_cast<const ZelvikID*>(DoublyLinkedList_Data(e)));

    // Without a player the game time, frames per second and values are written as zeros.
    const Player* p = self->player;
    out.U32(p ? static_cast<uint32_t>(p->GameTime) : 0);
    out.U32(p ? static_cast<uint32_t>(RoundFramesPerSecond(p->Settings.FramesPerSecond)) : 0);
    const DoublyLinkedList* values = p ? p->ValueList : nullptr;
    out.U32(values ? static_cast<uint32_t>(values->Count) : 0);
    if (values) {
        for (DoublyLinkedListElement* e = values->First; e; e = e->Next) {
            const auto* entry = static_cast<const KeyValueEntry*>(DoublyLinkedList_Data(e));
            out.Units(entry->key, kKeyUnits);
            out.U32(entry->type);
            out.U32(entry->size);
            const auto* data = static_cast<const uint8_t*>(entry->data);
            for (uint32_t i = 0; i < entry->size; ++i) out.bytes.push_back(data ? data[i] : 0);
        }
    }
    if (self->inputsState == 1 && self->inputs) {
        out.U32(kInputMagic);
        out.U32(static_cast<uint32_t>(self->inputs->size()));
        for (const uint16_t word : *self->inputs) out.U16(word);
    }

    // Replaced whole, so a full disk or a kill keeps the previous replay as it was.
    const std::string path = Platform_Path_ToUtf8(fileName);
    std::string reason;
    const std::string_view bytes(reinterpret_cast<const char*>(out.bytes.data()), out.bytes.size());
    if (Platform_File_Replace(path, bytes, &reason)) return 1;
    const std::string line = "Could not save " + path + ": " + reason;
    Player* host = self->player;
    if (host)
        Common_OutputMessage(host, Platform_Path_FromUtf8(line).c_str());
    else
        std::fprintf(stderr, "%s\n", line.c_str());
    return 0;
}

const char16_t* Replay_GetModeName(Replay* r) {
    ReplayRecord* self = Self(r);
    if (!self || !(self->loadedParts & ReplayPart_Modes) || !self->modes->First) return nullptr;
    return NameOf(static_cast<const ZelvikID*>(DoublyLinkedList_Data(self->modes->First)));
}

const char16_t* Replay_GetRotationSystemName(Replay* r) {
    ReplayRecord* self = Self(r);
    if (!self || !(self->loadedParts & ReplayPart_RotationSystem)) return nullptr;
    return NameOf(&self->rotationSystem);
}

const char16_t* Replay_GetRandomizerName(Replay* r) {
    ReplayRecord* self = Self(r);
    if (!self || !(self->loadedParts & ReplayPart_Randomizer)) return nullptr;
    return NameOf(&self->randomizer);
}

int32_t Replay_Free(Replay* r) {
    ReplayRecord* self = Self(r);
    if (!self) return 0;
    CloseFile(self);
    FreeInputs(self);
    if (self->modes) self->modes->ops->FreeList(self->modes);
    std::free(self);
    return 0;
}

} // namespace

bool ReplayInputs_Install(ReplayRecord* r) {
    FreeInputs(r);
    r->inputs = new (std::nothrow) std::vector<uint16_t>;
    r->inputsState = r->inputs ? 1 : 0;
    return r->inputs != nullptr;
}

bool ReplayInputs_Add(ReplayRecord* r, uint32_t word) {
    try {
        r->inputs->push_back(static_cast<uint16_t>(word));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int32_t Replay_Clear(Replay* r) {
    ReplayRecord* self = Self(r);
    if (self) FreeInputs(self);
    return 0;
}

Replay* Replay_Create() {
    auto* self = static_cast<ReplayRecord*>(std::calloc(1, sizeof(ReplayRecord)));
    if (!self) return nullptr;
    self->modes = DoublyLinkedList_Create(sizeof(ZelvikID));
    if (!self->modes) {
        std::free(self);
        return nullptr;
    }
    self->base.ops = &kReplayOps;
    return &self->base;
}
