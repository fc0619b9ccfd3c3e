// ".er" replay files: header, rules, values and the input section, loaded at once and with
// the input section deferred until the replay is applied.
#include "FuzzCommon.h"
#include "Vantrel_Adv_Replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::ScratchFile("input.er");
    static const std::u16string path16 = fuzz::Utf16(path);
    if (!fuzz::WriteFile(path, data, size)) return 0;
    Replay* r = Replay_Create();
    if (!r) return 0;
    for (uint32_t flags : {0u, 1u}) {
        if (r->ops->Load(r, nullptr, path16.c_str(), flags)) {
            r->ops->ApplyToPlayer(r, nullptr); // reads a deferred input section
            const int32_t frames = r->ops->CountFrames(r);
            uint32_t sum = 0;
            for (int32_t i = 0; i < frames && i < 4096; ++i) sum += r->ops->GetInput(r, i);
            sum += r->ops->GetInput(r, uint32_t(frames));
            (void)sum;
            r->ops->GetModeName(r);
            r->ops->GetRotationSystemName(r);
            r->ops->GetRandomizerName(r);
        }
    }
    r->ops->Free(r);
    return 0;
}
