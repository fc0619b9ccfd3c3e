#include "Randomizer_Pexa.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char16_t kName[] = u"PEXA";
constexpr char16_t kAuthor[] = u"Zelvik";
constexpr uint64_t kVersion = 0x0000000100000000ull; // 0.0.1.0
constexpr int32_t kBuild = 1;

// Writes the text and its terminator; the rest of the 32-unit field stays as it was.
template <size_t N> void CopyText(ZelvikID* id, size_t offset, const char16_t (&text)[N]) {
    static_assert(N <= 32);
    std::memcpy(reinterpret_cast<char*>(id) + offset, text, sizeof text);
}

int32_t Pexa_Init(RandomizerInterface* r, uint32_t seed) {
    auto* self = reinterpret_cast<PexaRandomizer*>(r);
    Kovra2_Init(self->state, seed);
    self->firstPending = 1;
    return 0;
}

uint32_t Pexa_NextKind(RandomizerInterface* r) {
    auto* self = reinterpret_cast<PexaRandomizer*>(r);
    if (self->firstPending) {
        self->firstPending = 0;
        return self->state.History[0] + 1u;
    }
    return Kovra2_NextPiece(self->state) + 1u;
}

int32_t Pexa_Free(RandomizerInterface* r) {
    std::free(r);
    return 0;
}

constexpr RandomizerOps kOps = {Pexa_Init, Pexa_NextKind, Pexa_Free};

} // namespace

ZELVIK_EXPORT uint32_t GetID(ZelvikID* id) {
    if (!id || id->size != sizeof(ZelvikID)) return 0;
    id->kind = PluginKind_Randomizer;
    CopyText(id, offsetof(ZelvikID, name), kName);
    CopyText(id, offsetof(ZelvikID, author), kAuthor);
    id->version = kVersion;
    id->build = kBuild;
    return 1;
}

ZELVIK_EXPORT RandomizerInterface* CreateRandomizerInterface(const EngineApi*) {
    auto* self = static_cast<PexaRandomizer*>(std::calloc(1, sizeof(PexaRandomizer)));
    if (!self) return nullptr;
    self->base.ops = &kOps;
    // A randomizer used before its first Init still deals a valid sequence.
    Pexa_Init(&self->base, 0);
    return &self->base;
}
