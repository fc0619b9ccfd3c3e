// A plug-in for the discovery and rule-selection tests, built several times with different
// identities and exports (see tests/CMakeLists.txt):
//   TP_KIND, TP_NAME, TP_AUTHOR, TP_VERSION, TP_BUILD  the identity GetID writes
//   TP_NO_GETID                                       no GetID export at all
//   TP_REJECT                                         GetID writes nothing and returns 0
//   TP_EXPORT  1 mode, 2 rotation system, 3 randomizer: which create export exists
//   TP_CREATE_NULL                                    the create export fails
#include "DoublyLinkedList.h"
#include "Zelvik_ID.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Randomizer.h"
#include "Zelvik_RotationSystem.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#ifndef TP_AUTHOR
#define TP_AUTHOR u"Tester"
#endif
#ifndef TP_VERSION
#define TP_VERSION 0x0001000000000000ull
#endif
#ifndef TP_BUILD
#define TP_BUILD 7
#endif
#ifndef TP_EXPORT
#define TP_EXPORT 0
#endif

namespace {

template <size_t N> void Put(ZelvikID* id, size_t offset, const char16_t (&text)[N]) {
    std::memcpy(reinterpret_cast<char*>(id) + offset, text, sizeof text);
}

// A mode that keeps one state entry per attached player, so tests can see attach and detach.
[[maybe_unused]] ModeInterface* Attach(ModeInterface* mode, Player* player) {
    for (auto* p = static_cast<Player**>(mode->states->ops->FirstElement(mode->states)); p;
         p = static_cast<Player**>(mode->states->ops->NextElement(mode->states)))
        if (*p == player) return mode;
    if (auto* slot = static_cast<Player**>(mode->states->ops->AddElement(mode->states)))
        *slot = player;
    return mode;
}
[[maybe_unused]] ModeInterface* Detach(ModeInterface* mode, Player* player) {
    for (auto* p = static_cast<Player**>(mode->states->ops->FirstElement(mode->states)); p;
         p = static_cast<Player**>(mode->states->ops->NextElement(mode->states)))
        if (*p == player) {
            mode->states->ops->DeleteElement(mode->states);
            break;
        }
    return mode;
}
[[maybe_unused]] int32_t Start(ModeInterface*, Player*) {
    return 0;
}
[[maybe_unused]] int32_t Stop(ModeInterface*, Player*) {
    return 0;
}
[[maybe_unused]] int32_t Version(ModeInterface*) {
    return kModeInterfaceVersion;
}
[[maybe_unused]] int32_t FreeMode(ModeInterface* mode) {
    mode->states->ops->FreeList(mode->states);
    std::free(mode);
    return 1;
}
[[maybe_unused]] uint32_t ModeID(ModeInterface*, ZelvikID*) {
    return 0;
}
[[maybe_unused]] constexpr ModeInterfaceOps kModeOps = {Start,  Stop,     Version, Attach,
                                                        Detach, FreeMode, ModeID};

[[maybe_unused]] int32_t RandInit(RandomizerInterface*, uint32_t) {
    return 0;
}
[[maybe_unused]] uint32_t RandNext(RandomizerInterface*) {
    return 1;
}
[[maybe_unused]] int32_t RandFree(RandomizerInterface* r) {
    std::free(r);
    return 0;
}
[[maybe_unused]] constexpr RandomizerOps kRandomizerOps = {RandInit, RandNext, RandFree};

} // namespace

#ifndef TP_NO_GETID
ZELVIK_EXPORT uint32_t GetID(ZelvikID* id) {
#ifdef TP_REJECT
    (void)id;
    return 0;
#else
    if (!id || id->size != sizeof(ZelvikID)) return 0;
    id->kind = TP_KIND;
    Put(id, offsetof(ZelvikID, name), TP_NAME);
    Put(id, offsetof(ZelvikID, author), TP_AUTHOR);
    id->version = TP_VERSION;
    id->build = TP_BUILD;
    return 1;
#endif
}
#endif

#if TP_EXPORT == 1
ZELVIK_EXPORT ModeInterface* CreateModeInterface(const EngineApi*) {
#ifdef TP_CREATE_NULL
    return nullptr;
#else
    auto* mode = static_cast<ModeInterface*>(std::calloc(1, sizeof(ModeInterface)));
    if (!mode) return nullptr;
    mode->ops = &kModeOps;
    mode->states = DoublyLinkedList_Create(sizeof(Player*));
    return mode;
#endif
}
#elif TP_EXPORT == 2
ZELVIK_EXPORT RotationSystemInterface* CreateRotationSystemInterface(const EngineApi*) {
    return nullptr; // every create fails: the player is left without a rotation system
}
#elif TP_EXPORT == 3
ZELVIK_EXPORT RandomizerInterface* CreateRandomizerInterface(const EngineApi*) {
#ifdef TP_CREATE_NULL
    return nullptr;
#else
    auto* r = static_cast<RandomizerInterface*>(std::calloc(1, sizeof(RandomizerInterface)));
    if (r) r->ops = &kRandomizerOps;
    return r;
#endif
}
#endif
