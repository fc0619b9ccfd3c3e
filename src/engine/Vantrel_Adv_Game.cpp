#include "Vantrel_Adv_Game.h"

#include "DoublyLinkedList.h"
#include "Vantrel_Adv_Player.h"

#include <cstdlib>

namespace {

constexpr GameOps kGameOps = {Game_AttachPlayer, Game_AddPlayer, Game_StartAll, Game_RemovePlayer};

bool Lists(Game* game, Player* player) {
    for (DoublyLinkedListElement* e = game->players->First; e; e = e->Next)
        if (*static_cast<Player**>(DoublyLinkedList_Data(e)) == player) return true;
    return false;
}

bool Append(Game* game, Player* player) {
    auto* slot = static_cast<Player**>(game->players->ops->AddElement(game->players));
    if (!slot) return false;
    *slot = player;
    return true;
}

} // namespace

Game* Game_Create(ClientInterface* clientInterface) {
    auto* game = static_cast<Game*>(std::calloc(1, sizeof(Game)));
    if (!game) return nullptr;
    game->players = DoublyLinkedList_Create(sizeof(Player*));
    if (!game->players) {
        std::free(game);
        return nullptr;
    }
    game->ops = &kGameOps;
    game->clientInterface = clientInterface;
    return game;
}

int32_t Game_AttachPlayer(Game* game, Player* player) {
    if (!game || !player) return 0;
    if (player->Game == game && Lists(game, player)) return 1;
    if (player->Game && player->Game != game) {
        player->Game->ops->RemovePlayer(player->Game, player);
        player->Game = nullptr;
    }
    if (!Lists(game, player) && !Append(game, player)) return 0;
    player->Game = game;
    return 1;
}

Player* Game_AddPlayer(Game* game, uintptr_t userData) {
    if (!game) return nullptr;
    Player* player = Player_Create(game->clientInterface, 0);
    if (!player) return nullptr;
    if (!Append(game, player)) {
        Player_Free(player);
        return nullptr;
    }
    player->Game = game;
    player->UserData = userData;
    return player;
}

int32_t Game_StartAll(Game* game) {
    if (!game) return 0;
    for (DoublyLinkedListElement* e = game->players->First; e; e = e->Next) {
        Player* player = *static_cast<Player**>(DoublyLinkedList_Data(e));
        player->ops->Start(player);
    }
    return 0;
}

int32_t Game_RemovePlayer(Game* game, Player* player) {
    if (!game) return 0;
    DoublyLinkedList* list = game->players;
    for (auto** p = static_cast<Player**>(list->ops->FirstElement(list)); p;
         p = static_cast<Player**>(list->ops->NextElement(list))) {
        if (*p == player) {
            list->ops->DeleteElement(list);
            break;
        }
    }
    return 1;
}
