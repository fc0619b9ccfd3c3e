#include "Platform_Path.h"

#include "Platform_File.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The entry of folder whose name equals name case-blind; the smallest in byte order when
// several do, so the choice does not depend on the order the file system lists them in.
bool FindFolded(const std::string& folder, std::string_view name, std::string* found) {
    DIR* d = opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return false;
    bool any = false;
    while (const dirent* entry = readdir(d)) {
        const std::string_view candidate(entry->d_name);
        if (!SameFolded(candidate, name)) continue;
        if (!any || candidate < *found) *found = std::string(candidate);
        any = true;
    }
    closedir(d);
    return any;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

constexpr char32_t kReplacement = 0xFFFD;
// U+DC80..U+DCFF stand for the bytes 0x80..0xFF that are not part of valid UTF-8.
constexpr char32_t kRawByteLow = 0xDC80, kRawByteHigh = 0xDCFF;

} // namespace

std::string Platform_Path_Resolve(std::string_view path) {
    std::string normal(path);
    std::replace(normal.begin(), normal.end(), '\\', '/');
    if (normal.empty() || Exists(normal)) return normal;

    const bool absolute = normal[0] == '/';
    const bool trailing = normal.back() == '/';
    std::vector<std::string> parts;
    for (size_t start = 0; start <= normal.size();) {
        size_t end = normal.find('/', start);
        if (end == std::string::npos) end = normal.size();
        if (end > start) parts.emplace_back(normal.substr(start, end - start));
        start = end + 1;
    }

    std::string result = absolute ? "/" : "";
    bool matching = true; // once a component has no match, the rest is kept as written
    for (size_t i = 0; i < parts.size(); i++) {
        std::string part = parts[i];
        if (matching && part != "." && part != "..") {
            const std::string exact = result + part;
            if (!Exists(exact)) {
                std::string found;
                if (FindFolded(result, part, &found))
                    part = found;
                else
                    matching = false;
            }
        }
        result += part;
        if (i + 1 < parts.size() || trailing) result += '/';
    }
    return result;
}

bool Platform_Path_Exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

std::FILE* Platform_Path_OpenForReading(const std::string& path) {
    return Platform_File_Open(path, std::numeric_limits<size_t>::max());
}

bool Platform_Path_IsSpecial(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

std::string Platform_Path_ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            i++;
        } else if (c >= kRawByteLow && c <= kRawByteHigh) {
            out.push_back(static_cast<char>(c - 0xDC00)); // a byte of a name that was not UTF-8
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement; // a lone surrogate has no UTF-8 form
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string Platform_Path_FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        size_t length = 0;
        char32_t c = 0, least = 0;
        if (b < 0x80) {
            length = 1, c = b;
        } else if ((b & 0xE0) == 0xC0) {
            length = 2, c = b & 0x1F, least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3, c = b & 0x0F, least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4, c = b & 0x07, least = 0x10000;
        }
        bool valid = length != 0 && i + length <= n;
        for (size_t k = 1; valid && k < length; k++) {
            if ((s[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, encoded surrogates and values past U+10FFFF are not text.
        if (valid && (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) valid = false;
        if (!valid) {
            // Kept as a lone surrogate that turns back into the same byte, so a file whose
            // name is in another encoding can still be opened, listed and saved.
            out.push_back(static_cast<char16_t>(0xDC00 + b));
            i++;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += length;
    }
    return out;
}
