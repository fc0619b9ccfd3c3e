// The plug-in registry: libraries found in modes/, randomizer/ and rotationsystem/ beside
// the engine library, one list per kind, looked up by identity or by name.
#pragma once

#include "Zelvik_ID.h"

#include <string>

struct PluginEntry {
    char16_t* path; // engine-owned
    void* library;
    ZelvikID identity;
};

int32_t Plugin_Init();
void Plugin_ScanFolder(const std::u16string& folder);
std::u16string Plugin_ModesFolder();
std::u16string Plugin_RandomizerFolder();
std::u16string Plugin_RotationSystemFolder();
void* Plugin_FindLibrary(const ZelvikID* id); // 0 when none matches
const ZelvikID* Plugin_GetInfo(int32_t kind, int32_t index);
int32_t Plugin_Count(int32_t kind);
const ZelvikID* Plugin_FindByName(int32_t kind, const char16_t* name);
std::u16string Plugin_Describe(const ZelvikID* id);
// The create export of a found library; 0 when the library lacks it.
void* Plugin_GetExport(void* library, const char* name);
