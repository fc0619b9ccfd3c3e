// Placeholder until the INP import lands: every recording reads as unsupported.
#include "Vantrel_Adv_ReplayINP.h"

int32_t Replay_LoadMAMEINP(Replay*, const char16_t*, int32_t, int32_t, uint32_t) {
    return Inp_Invalid;
}
