// The uncompressed recordings from before the "MAMEINP" header.
#include "FuzzCommon.h"
#include "Vantrel_Adv_Replay.h"
#include "Vantrel_Adv_ReplayINP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::ScratchFile("input.inp");
    static const std::u16string path16 = fuzz::Utf16(path);
    if (size < 1) return 0;
    const uint8_t knobs = data[0];
    if (!fuzz::WriteFile(path, data + 1, size - 1)) return 0;
    Replay* r = Replay_Create();
    if (!r) return 0;
    if (Replay_LoadOldINP(r, path16.c_str(), knobs & 3, (knobs >> 2) & 7, knobs >> 5) == Inp_Ok) {
        const int32_t frames = r->ops->CountFrames(r);
        if (frames > 0) r->ops->GetInput(r, uint32_t(frames - 1));
    }
    r->ops->Free(r);
    return 0;
}
