// Folder listings with "*.ext"-style patterns.
#pragma once

#include <string>
#include <vector>

// Names (not paths) of the regular files in folder whose names match pattern case-blind
// ('*' and '?' wildcards), sorted by name; empty when the folder cannot be listed.
std::vector<std::string> Platform_Folder_List(const std::string& folder, const std::string& pattern);
bool Platform_Folder_Create(const std::string& folder); // true when it exists afterwards
