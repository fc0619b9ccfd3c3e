// Paths as the data files write them: '\' or '/' separators, any letter case.
#pragma once

#include <string>
#include <string_view>

// '\' becomes '/'; when the exact path does not exist, each component is looked up
// case-blind. Returns the existing spelling, or the normalised path when nothing matches.
std::string Platform_Path_Resolve(std::string_view path);
bool Platform_Path_Exists(const std::string& path);
// UTF-16 text inside the system, UTF-8 at the platform edge.
std::string Platform_Path_ToUtf8(std::u16string_view text);
std::u16string Platform_Path_FromUtf8(std::string_view text);
