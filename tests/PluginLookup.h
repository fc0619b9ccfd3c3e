// Finds a plug-in by name through a player's info lists, for tests and benchmarks that drive the
// engine library through its exports.
#pragma once

#include "Zelvik_ID.h"
#include "Zelvik_Player.h"

#include <cstdint>
#include <string>

// An ID's name or author up to its terminator, never past the field's 32 characters.
inline std::u16string IdText(const char16_t* field) {
    std::u16string s;
    for (int i = 0; i < 32 && field[i]; i++) s += field[i];
    return s;
}

// The plug-in named `name` in one of the player's lists (GetModeInfo, GetRotationSystemInfo,
// GetRandomizerInfo); 0 when none is.
inline const ZelvikID* FindPlugin(Player* p, intptr_t (*list)(Player*, int32_t),
                                  const std::u16string& name) {
    for (intptr_t i = 0, n = list(p, -1); i < n; ++i) {
        auto* id = reinterpret_cast<const ZelvikID*>(list(p, int32_t(i)));
        if (id && IdText(id->name) == name) return id;
    }
    return nullptr;
}
