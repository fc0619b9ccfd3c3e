#include "Platform_Folder.h"

#include "Platform_Path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace {

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// '*' matches any run of characters, '?' any one; letters compare case-blind.
bool Matches(const char* name, const char* pattern) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern && Fold(*pattern) == Fold(*name))) {
            pattern++;
            name++;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') pattern++;
    return *pattern == 0;
}

// Case-blind order, exact bytes breaking ties, so a listing is the same on every file system.
bool NameLess(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; i++) {
        const char x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

bool IsRegularFile(const std::string& folder, const dirent* entry) {
    if (entry->d_type == DT_REG) return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
    struct stat st {};
    return stat((folder + "/" + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

bool Platform_Folder_Match(const std::string& name, const std::string& pattern) {
    return Matches(name.c_str(), pattern.c_str());
}

std::vector<std::string> Platform_Folder_List(const std::string& folder,
                                              const std::string& pattern) {
    std::vector<std::string> names;
    const std::string dir = folder.empty() ? std::string(".") : Platform_Path_Resolve(folder);
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (const dirent* entry = readdir(d)) {
        if (!Matches(entry->d_name, pattern.c_str())) continue;
        if (IsRegularFile(dir, entry)) names.emplace_back(entry->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end(), NameLess);
    return names;
}

bool Platform_Folder_Create(const std::string& folder) {
    if (folder.empty()) return false;
    const std::string path = Platform_Path_Resolve(folder);
    // Make every missing parent first, as a nested folder such as "replays/2024" needs.
    for (size_t i = 1; i <= path.size(); i++) {
        if (i < path.size() && path[i] != '/') continue;
        const std::string part = path.substr(0, i);
        mkdir(part.c_str(), 0777); // failures show in the final check
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
