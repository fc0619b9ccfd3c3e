// The visualizer's own reader of compressed MAME INP recordings. A failed load must keep the
// frames of the load before, and a load over a loaded recording must free the old frames: each
// input is loaded once with the knobs from its first byte, then over that once more (small
// inputs: a large one can inflate to millions of frames, and loading it twice only halves the
// inputs tried) and a failing load of a missing file.
#include "DoublyLinkedList.h"
#include "FuzzCommon.h"
#include "InpReplay.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::ScratchFile("input.inp");
    if (size < 1) return 0;
    const uint8_t knobs = data[0];
    if (!fuzz::WriteFile(path, data + 1, size - 1)) return 0;
    InpReplay* r = InpReplay_Create();
    if (!r) return 0;
    const int32_t result =
        r->ops->LoadMAMEINP(r, path.c_str(), knobs & 3, (knobs >> 2) & 7, knobs >> 5);
    if (result == InpReplay_Ok && (r->inputsState != 1 || !r->inputs)) std::abort();
    auto frames = [r] { return r->inputs ? r->inputs->ops->CountList(r->inputs) : 0; };
    if (size <= 4096) {
        const int32_t before = frames();
        const int32_t again = r->ops->LoadMAMEINP(r, path.c_str(), 0, 0, 0);
        if (again != InpReplay_Ok && result == InpReplay_Ok && frames() != before)
            std::abort(); // a failed load changed the frames held
    }
    const int32_t held = frames();
    if (r->ops->LoadMAMEINP(r, (path + ".missing").c_str(), 0, 0, 0) == InpReplay_Ok ||
        frames() != held)
        std::abort();
    r->ops->Clear(r);
    r->ops->Free(r);
    return 0;
}
