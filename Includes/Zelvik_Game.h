// A Game binds players to one host and its ClientInterface (0 = no host callbacks).
#pragma once

#include <cstdint>

struct ClientInterface;
struct DoublyLinkedList;
struct Player;
struct Game;

struct GameOps {
    int32_t (*AttachPlayer)(Game* game, Player* player);
    Player* (*AddPlayer)(Game* game, uintptr_t userData);
    int32_t (*StartAll)(Game* game);
    int32_t (*RemovePlayer)(Game* game, Player* player);
};
static_assert(sizeof(GameOps) == 4 * sizeof(void*));

struct Game {
    const GameOps* ops;
    DoublyLinkedList* players; // Player* elements, in the order they were added
    ClientInterface* clientInterface;
};
