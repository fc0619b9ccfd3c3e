// The engine library's start-up and its seven exports.
#include "Vantrel_Adv.h"

#include "HighResTimer.h"
#include "Platform_Crash.h"
#include "Vantrel_Adv_Field.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Vantrel_Adv_Server.h"
#include "Vantrel_Adv_ServerList.h"

const EngineApi g_EngineApi = {Player_Create, Field_Create};

// The exports carry the engine functions' own names, which in C++ are taken by the engine's
// internal functions; the ELF symbol is therefore named explicitly (a Windows build names its
// exports in a module-definition file instead).
#define ZELVIK_EXPORT_NAMED(name) __asm__(#name)

namespace {

// Runs when the library is loaded, before any export: this module's clocks, then the
// process-wide fault handler.
__attribute__((constructor)) void Zelvik_OnAttach() {
    HighResTimer_ChooseClocks();
    Platform_Crash_Install("Zelvik_Error.log");
}

} // namespace

ZELVIK_EXPORT int32_t Zelvik_Init() {
    return Plugin_Init();
}

ZELVIK_EXPORT Field* Export_FieldCreate(int32_t width, int32_t height, int32_t hiddenRows)
    ZELVIK_EXPORT_NAMED(Field_Create);
Field* Export_FieldCreate(int32_t width, int32_t height, int32_t hiddenRows) {
    return Field_Create(width, height, hiddenRows);
}

ZELVIK_EXPORT Game* Export_GameCreate(ClientInterface* clientInterface)
    ZELVIK_EXPORT_NAMED(Game_Create);
Game* Export_GameCreate(ClientInterface* clientInterface) {
    return Game_Create(clientInterface);
}

ZELVIK_EXPORT Player* Export_PlayerCreate(void* ignored, uint32_t createOwnField)
    ZELVIK_EXPORT_NAMED(Player_Create);
Player* Export_PlayerCreate(void* ignored, uint32_t createOwnField) {
    return Player_Create(ignored, createOwnField);
}

ZELVIK_EXPORT Server* Export_ServerCreate(const char16_t* name, int32_t port)
    ZELVIK_EXPORT_NAMED(Server_Create);
Server* Export_ServerCreate(const char16_t* name, int32_t port) {
    return Server_Create(name, port);
}

ZELVIK_EXPORT ServerList* Export_ServerListGet() ZELVIK_EXPORT_NAMED(ServerList_Get);
ServerList* Export_ServerListGet() {
    return ServerList_Get();
}

// A host that runs the server on a thread of its own sleeps here between passes instead of
// polling on a timer, so a relay waits for nobody's clock.
ZELVIK_EXPORT int32_t Export_ServerWait(Server* s, int32_t timeoutMs)
    ZELVIK_EXPORT_NAMED(Server_Wait);
int32_t Export_ServerWait(Server* s, int32_t timeoutMs) {
    return Server_Wait(s, timeoutMs);
}
