// What the networked-player tests share: a host that keeps its log and server-message lines and
// ignores drawing and sound, the run folder's plug-ins, and the release of a test's game.
#pragma once

#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_Plugin.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Game.h"
#include "Zelvik_Player.h"

#include <cstdlib>
#include <string>
#include <vector>

struct TextHost {
    ClientInterface ci; // first: the callbacks find the host from it
    std::vector<std::u16string> log, chat;

    TextHost() { ci.ops = &kOps; }
    static TextHost* Of(ClientInterface* ci) { return reinterpret_cast<TextHost*>(ci); }

    static inline const ClientInterfaceOps kOps = {
        [](ClientInterface*, int32_t, int32_t, uint32_t, int32_t, uint32_t, uintptr_t) {
            return 0;
        },
        [](ClientInterface*, int32_t, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) {
            return 0;
        },
        [](ClientInterface* ci, const char16_t* t) {
            Of(ci)->log.emplace_back(t);
            return 0;
        },
        [](ClientInterface* ci, const char16_t* t) {
            Of(ci)->chat.emplace_back(t);
            return 0;
        },
        [](ClientInterface*, int32_t) { return 0; },
        [](ClientInterface*, int32_t) { return 0; },
        [](ClientInterface*, int32_t) { return 0; },
        [](ClientInterface*) { return 0; },
        [](ClientInterface*, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) { return 0; },
        [](ClientInterface*, const uint8_t*, int32_t, uintptr_t) { return 0; },
    };
};

// Clocks and the run folder's mode, randomizer and rotation-system plug-ins.
inline void LoadRunFolderPlugins() {
    HighResTimer_ChooseClocks();
    Plugin_Init();
    const std::string dir = std::string(ZELVIK_GAME_DIR) + "/dlls/";
    for (const char* sub : {"modes/", "randomizer/", "rotationsystem/"})
        Plugin_ScanFolder(Platform_Path_FromUtf8(dir + sub));
}

// Games have no free operation: the player goes, then the game's list and the game.
inline void FreeGame(Game* game, Player* player) {
    if (player) player->ops->Free(player);
    if (game) {
        DoublyLinkedList_FreeList(game->players);
        std::free(game);
    }
}
