// The engine library's exports, as hosts bind them by name after loading
// dlls/zelvik_engine.so. None links against the engine at build time.
#pragma once

#include "Zelvik_ClientInterface.h"
#include "Zelvik_Field.h"
#include "Zelvik_Game.h"
#include "Zelvik_ID.h"
#include "Zelvik_Player.h"

#include <cstdint>

struct Server;
struct ServerList;

inline constexpr const char* kEngineLibraryPath = "dlls/zelvik_engine.so";
inline constexpr int32_t kGamePort = 2031;

using Zelvik_InitFn = int32_t (*)();
using Field_CreateFn = Field* (*)(int32_t width, int32_t height, int32_t hiddenRows);
using Game_CreateFn = Game* (*)(ClientInterface* clientInterface);
using Player_CreateFn = Player* (*)(void* ignored, uint32_t createOwnField);
using Server_CreateFn = Server* (*)(const char16_t* name, int32_t port);
using ServerList_GetFn = ServerList* (*)();
// Waits at most timeoutMs until the server has network work (1) or not (0); optional export.
using Server_WaitFn = int32_t (*)(Server* s, int32_t timeoutMs);
