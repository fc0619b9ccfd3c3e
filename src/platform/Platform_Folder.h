// Folder listings with "*.ext"-style patterns.
#pragma once

#include <string>
#include <vector>

// Names (not paths) of the regular files in folder whose names match pattern case-blind
// ('*' and '?' wildcards), sorted by name; empty when the folder cannot be listed.
std::vector<std::string> Platform_Folder_List(const std::string& folder,
                                              const std::string& pattern);
bool Platform_Folder_Create(const std::string& folder); // true when it exists afterwards
// True when name matches pattern case-blind ('*' any run, '?' any one character).
bool Platform_Folder_Match(const std::string& name, const std::string& pattern);
