// Paths as the data files write them: '\' or '/' separators, any letter case.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// '\' becomes '/'; when the exact path does not exist, each component is looked up
// case-blind. Returns the existing spelling, or the normalised path when nothing matches.
std::string Platform_Path_Resolve(std::string_view path);
bool Platform_Path_Exists(const std::string& path);
// Opens a regular file for binary reading; never blocks: a named pipe, device or folder is
// refused (null) without waiting for a writer. Readers with a size budget use
// Platform_File_Open, which also enforces it.
std::FILE* Platform_Path_OpenForReading(const std::string& path);
// True when something exists at path that is not a regular file (a pipe, device, folder).
bool Platform_Path_IsSpecial(const std::string& path);
// UTF-16 text inside the system, UTF-8 at the platform edge.
std::string Platform_Path_ToUtf8(std::u16string_view text);
std::u16string Platform_Path_FromUtf8(std::string_view text);
