// Compressed MAME INP recordings imported into a replay, with every skip and flag setting.
#include "FuzzCommon.h"
#include "Vantrel_Adv_Replay.h"
#include "Vantrel_Adv_ReplayINP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::ScratchFile("input.inp");
    static const std::u16string path16 = fuzz::Utf16(path);
    // The first byte picks the import's arguments, the rest is the file.
    if (size < 1) return 0;
    const uint8_t knobs = data[0];
    if (!fuzz::WriteFile(path, data + 1, size - 1)) return 0;
    Replay* r = Replay_Create();
    if (!r) return 0;
    const int32_t skipPresses = knobs & 3;
    const int32_t skipFrames = (knobs >> 2) & 7;
    const uint32_t flags = knobs >> 5;
    if (Replay_LoadMAMEINP(r, path16.c_str(), skipPresses, skipFrames, flags) == Inp_Ok) {
        const int32_t frames = r->ops->CountFrames(r);
        if (frames > 0) r->ops->GetInput(r, uint32_t(frames - 1));
    }
    r->ops->Free(r);
    return 0;
}
