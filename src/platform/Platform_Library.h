// Loading shared libraries by path and finding their symbols by name.
#pragma once

#include <string>

void* Platform_Library_Open(const std::string& path);           // 0 when it does not load
void* Platform_Library_Symbol(void* library, const char* name); // 0 when missing
void Platform_Library_Close(void* library);
// Full path of the loaded module that contains the address; "" when unknown.
std::string Platform_Library_PathOf(const void* address);
