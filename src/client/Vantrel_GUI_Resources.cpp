#include "Vantrel_GUI_Resources.h"

#include "DFont.h"
#include "Sprite3D.h"
#include "Vantrel_GUI_Skin.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <utility>

ResourceState gResources;

namespace {

namespace fs = std::filesystem;

// Per kind: the object of each file name, keyed in lower case (null for a failed load).
std::unordered_map<std::string, void*> gCaches[3];

bool Match(const char* p, const char* s) {
    for (; *p; ++p, ++s) {
        if (*p == '*') {
            for (const char* t = s;; ++t) {
                if (Match(p + 1, t)) return true;
                if (!*t) return false;
            }
        }
        if (!*s) return false;
        if (*p != '?' && std::tolower((unsigned char)*p) != std::tolower((unsigned char)*s))
            return false;
    }
    return *s == 0;
}

// The last answer of Resource_SkinForPlayers: the folder is looked at only when the skin or
// the number of players changes, not on every frame.
struct LayoutChoice {
    void* current = nullptr;
    int32_t skinIndex = -1;
    int32_t players = 0;
    void* chosen = nullptr;
} gLayout;

constexpr int32_t kMaxLayoutPlayers = 16;

void FreeObject(int32_t kind, void* object) {
    if (!object) return;
    if (kind == Resource_Font) DFont_Free(static_cast<DFont*>(object));
    if (kind == Resource_Picture) Sprite3D_Free(static_cast<Sprite3D*>(object));
    if (kind == Resource_Skin) SkinElement_FreeTree(static_cast<SkinElement*>(object));
}

} // namespace

std::string Resource_Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::string Resource_ResolvePath(const std::string& path) {
    std::string normal = path;
    std::replace(normal.begin(), normal.end(), '\\', '/');
    std::error_code ec;
    if (normal.empty() || fs::exists(normal, ec)) return normal;
    fs::path built = normal[0] == '/' ? fs::path("/") : fs::path();
    for (const fs::path& part : fs::path(normal).relative_path()) {
        fs::path next = built / part;
        if (!fs::exists(next, ec)) {
            const std::string want = Resource_Lower(part.string());
            for (fs::directory_iterator it(built.empty() ? fs::path(".") : built, ec), end;
                 !ec && it != end; it.increment(ec)) {
                if (Resource_Lower(it->path().filename().string()) == want) {
                    next = built / it->path().filename();
                    break;
                }
            }
        }
        built = next;
    }
    return built.string();
}

std::vector<std::string> Resource_ListFolder(const std::string& folder, const std::string& pattern,
                                             bool* listed) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(Resource_ResolvePath(folder), ec);
    if (listed) *listed = !ec;
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code fec;
        if (!it->is_regular_file(fec)) continue;
        const std::string name = it->path().filename().string();
        if (Match(pattern.c_str(), name.c_str())) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void* Resource_Load(int32_t kind, const std::string& file) {
    if (kind < 0 || kind > 2) return nullptr;
    auto& cache = gCaches[kind];
    std::string key = Resource_Lower(file);
    if (const auto it = cache.find(key); it != cache.end()) return it->second;
    void* object = nullptr;
    if (kind == Resource_Font) {
        object = DFont_Load(Resource_ResolvePath("skins/data/fonts/" + file));
    } else if (kind == Resource_Picture) {
        object = Sprite3D_Load(Resource_ResolvePath("skins/data/" + file));
    } else {
        SkinElement* root = SkinElement_New();
        if (root) root->ops->LoadFile(root, Resource_ResolvePath("skins/" + file).c_str());
        object = root;
    }
    cache.emplace(std::move(key), object);
    return object;
}

void* Resource_SkinForPlayers(void* current, int32_t players) {
    const int32_t index = gResources.SkinIndex;
    if (players < 2 || !current || index < 0 || size_t(index) >= gResources.Skins.size())
        return current;
    if (gLayout.current == current && gLayout.skinIndex == index && gLayout.players == players)
        return gLayout.chosen;
    const std::string& name = gResources.Skins[size_t(index)];
    const std::string stem = name.substr(0, std::min(name.size(), name.rfind('.')));
    void* chosen = current;
    for (int32_t n = std::min(players, kMaxLayoutPlayers); n >= 2; --n) {
        const std::string file = "versus/" + stem + "_" + std::to_string(n) + ".xml";
        std::error_code ec;
        if (!fs::is_regular_file(Resource_ResolvePath("skins/" + file), ec)) continue;
        if (void* layout = Resource_Load(Resource_Skin, file)) chosen = layout;
        break;
    }
    gLayout = {current, index, players, chosen};
    return chosen;
}

void Resource_ScanFolders() {
    bool listed = false;
    std::vector<std::string> replays = Resource_ListFolder("replays", "*.er", &listed);
    if (listed) {
        gResources.Replays.clear();
        for (const std::string& name : replays) gResources.Replays.push_back("replays/" + name);
    }
    std::vector<std::string> skins = Resource_ListFolder("skins", "*.*", &listed);
    if (listed) {
        gResources.Skins = skins;
        const std::string want = Resource_Lower(gResources.SkinSetting);
        for (size_t i = 0; i < skins.size(); ++i)
            if (Resource_Lower(skins[i]) == want) gResources.SkinIndex = int32_t(i);
    }
}

void Resource_FreeAll() {
    for (int32_t kind = 0; kind < 3; ++kind) {
        for (auto& [name, object] : gCaches[kind]) FreeObject(kind, object);
        gCaches[kind].clear();
    }
    gLayout = LayoutChoice{};
}
