// The plug-in identity record and the plug-in export signatures (shared by the engine and
// every plug-in). Records are written and read byte by byte where they go to files or the wire.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct ZelvikID {
    uint32_t size; // 148; the engine sets it before calling GetID
    int32_t kind;  // PluginKind
    char16_t name[32];
    char16_t author[32];
    uint64_t version; // VersionToString
    int32_t build;
};
#pragma pack(pop)

static_assert(sizeof(ZelvikID) == 148);
static_assert(offsetof(ZelvikID, kind) == 4);
static_assert(offsetof(ZelvikID, name) == 8);
static_assert(offsetof(ZelvikID, author) == 72);
static_assert(offsetof(ZelvikID, version) == 136);
static_assert(offsetof(ZelvikID, build) == 144);

enum PluginKind : int32_t {
    PluginKind_None = 0,
    PluginKind_RotationSystem = 1,
    PluginKind_Mode = 2,
    PluginKind_ModeExtension = 3,
    PluginKind_Randomizer = 4,
};
constexpr int32_t kPluginKindCount = 5;

struct Player;
struct Field;

// The two engine entry points handed to every plug-in's create export.
struct EngineApi {
    Player* (*Player_Create)(void* ignored, uint32_t createOwnField);
    Field* (*Field_Create)(int32_t width, int32_t height, int32_t hiddenRows);
};

// Plug-in exports, found by name.
using PluginGetIDFn = uint32_t (*)(ZelvikID* id);
using CreateModeInterfaceFn = struct ModeInterface* (*)(const EngineApi* api);
using CreateRotationSystemInterfaceFn = struct RotationSystemInterface* (*)(const EngineApi* api);
using CreateRandomizerInterfaceFn = struct RandomizerInterface* (*)(const EngineApi* api);

#define ZELVIK_EXPORT extern "C" __attribute__((visibility("default")))
