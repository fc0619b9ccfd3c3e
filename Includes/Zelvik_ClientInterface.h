// The host's callback object as the engine calls it: drawing, log, messages, sound, music.
#pragma once

#include <cstdint>

struct ClientInterface;

enum SoundId : int32_t {
    Sound_Ready = 0, Sound_Go = 1, Sound_PieceI = 2, Sound_PieceT = 3, Sound_PieceL = 4,
    Sound_PieceJ = 5, Sound_PieceZ = 6, Sound_PieceS = 7, Sound_PieceO = 8, Sound_Landing = 9,
    Sound_Lock = 10, Sound_GradeUp = 11, Sound_SectionUp = 12, Sound_LineClear = 13,
    Sound_LineClearFall = 14, Sound_Irs = 15, Sound_Gm = 16, Sound_Siren = 17, Sound_Medal = 18,
    Sound_Rotate = 19,
};
constexpr int32_t kSoundCount = 20;

struct ClientInterfaceOps {
    int32_t (*DrawFieldBlock)(ClientInterface* ci, int32_t x, int32_t y, uint32_t data,
                              int32_t percent, uint32_t cellFlags, uintptr_t userdata);
    int32_t (*DrawNextBlock)(ClientInterface* ci, int32_t previewNo, int32_t x, int32_t y,
                             uint32_t data, uint32_t cellFlags, uintptr_t userdata);
    int32_t (*DebugLog)(ClientInterface* ci, const char16_t* text);
    int32_t (*ServerMessage)(ClientInterface* ci, const char16_t* text);
    int32_t (*PlaySound)(ClientInterface* ci, int32_t soundId);
    int32_t (*StopSound)(ClientInterface* ci, int32_t soundId);
    int32_t (*PlayMusic)(ClientInterface* ci, int32_t musicId);
    int32_t (*StopMusic)(ClientInterface* ci);
    int32_t (*DrawHoldBlock)(ClientInterface* ci, int32_t x, int32_t y, uint32_t data,
                             uint32_t cellFlags, uintptr_t userdata);
    int32_t (*LineClearEffect)(ClientInterface* ci, const uint8_t* rowFlags, int32_t height,
                               uintptr_t userdata);
};
static_assert(sizeof(ClientInterfaceOps) == 10 * sizeof(void*));

struct ClientInterface {
    const ClientInterfaceOps* ops;
};
