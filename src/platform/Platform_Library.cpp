#include "Platform_Library.h"

#include "Platform_Path.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

void* Platform_Library_Open(const std::string& path) {
    if (path.empty()) return nullptr;
    // A bare name ("libz.so.1") is searched for by the loader; a path may be spelt in another
    // case or with backslashes.
    const bool bare = path.find_first_of("/\\") == std::string::npos;
    const std::string file = bare ? path : Platform_Path_Resolve(path);
    // Local binding: every module keeps its own copy of the shared units and plug-ins all
    // export the same names, so nothing a library defines may serve another library's lookups.
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* Platform_Library_Symbol(void* library, const char* name) {
    if (!library || !name) return nullptr;
    return dlsym(library, name);
}

void Platform_Library_Close(void* library) {
    if (library) dlclose(library);
}

std::string Platform_Library_PathOf(const void* address) {
    Dl_info info{};
    if (!address || dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname) return {};
    // dladdr gives the name as the module was opened, which may be relative to a working
    // folder that changes later.
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
}
