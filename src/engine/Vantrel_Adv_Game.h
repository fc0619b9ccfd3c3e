// A Game binds a set of players to one host's ClientInterface and starts them together.
#pragma once

#include "Zelvik_Game.h"

Game* Game_Create(ClientInterface* clientInterface); // 0 when memory runs out
int32_t Game_AttachPlayer(Game* game, Player* player);
Player* Game_AddPlayer(Game* game, uintptr_t userData); // 0 when the player cannot be made
int32_t Game_StartAll(Game* game);
int32_t Game_RemovePlayer(Game* game, Player* player);
