// Set-up shared by the network fuzz targets: the plug-ins of the run folder, loaded once.
#pragma once

#include "HighResTimer.h"
#include "Platform_Path.h"
#include "Platform_Socket.h"
#include "Vantrel_Adv_Plugin.h"

#include <cstring>
#include <string>

namespace fuzz {

inline void LoadPlugins() {
    static const bool done = [] {
        HighResTimer_ChooseClocks();
        Platform_Socket_Init();
        Plugin_Init();
        const std::string dir = std::string(ZELVIK_GAME_DIR) + "/dlls/";
        for (const char* sub : {"modes/", "randomizer/", "rotationsystem/"})
            Plugin_ScanFolder(Platform_Path_FromUtf8(dir + sub));
        return true;
    }();
    (void)done;
}

// Splits an input into up to `max` connections' byte streams at each "\xFF\xFE\xFD" mark.
inline void SplitStreams(const uint8_t* data, size_t size, size_t max,
                         void (*each)(const uint8_t*, size_t, size_t, void*), void* ctx) {
    size_t start = 0, index = 0, i = 0;
    // memchr keeps the scan out of the coverage-traced code: inputs run to tens of KB.
    while (index + 1 < max && i + 2 < size) {
        const void* hit = std::memchr(data + i, 0xFF, size - 2 - i);
        if (!hit) break;
        i = size_t(static_cast<const uint8_t*>(hit) - data);
        if (data[i + 1] == 0xFE && data[i + 2] == 0xFD) {
            each(data + start, i - start, index++, ctx);
            start = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    each(data + start, size - start, index, ctx);
}

} // namespace fuzz
