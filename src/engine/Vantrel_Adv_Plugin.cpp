#include "Vantrel_Adv_Plugin.h"

#include "DoublyLinkedList.h"
#include "Platform_Folder.h"
#include "Platform_Library.h"
#include "Platform_Path.h"
#include "Vantrel_Common.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

DoublyLinkedList* registry[kPluginKindCount]; // one list of PluginEntry per kind

bool ValidKind(int32_t kind) {
    return kind >= 0 && kind < kPluginKindCount;
}

DoublyLinkedList* ListOf(int32_t kind) {
    return ValidKind(kind) ? registry[kind] : nullptr;
}

// Folding used for names: A-Z and Latin-1 U+00C0-U+00DE except the multiplication sign.
char16_t FoldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    return c;
}

// Text of a record's 32-unit name or author field, up to its terminator.
std::u16string FieldText(const ZelvikID& id, size_t offset) {
    char16_t units[32];
    std::memcpy(units, reinterpret_cast<const char*>(&id) + offset, sizeof units);
    size_t n = 0;
    while (n < 32 && units[n]) ++n;
    return std::u16string(units, n);
}

bool SameBytes(const ZelvikID& a, const ZelvikID& b, size_t offset, size_t size) {
    return std::memcmp(reinterpret_cast<const char*>(&a) + offset,
                       reinterpret_cast<const char*>(&b) + offset, size) == 0;
}

std::u16string NameKey(std::u16string text) {
    for (char16_t& c : text) c = FoldCase(c);
    const size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string::npos) return {};
    const size_t last = text.find_last_not_of(u' ');
    return text.substr(first, last - first + 1);
}

std::u16string SignedDecimal(int32_t v) {
    const bool negative = v < 0;
    uint32_t u = negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + u % 10));
        u /= 10;
    } while (u);
    return negative ? u"-" + digits : digits;
}

// The engine library's own folder (not the host's), ending in '/'.
std::u16string EngineFolder() {
    const std::string self = Platform_Library_PathOf(reinterpret_cast<const void*>(&Plugin_Init));
    const size_t slash = self.find_last_of('/');
    if (slash == std::string::npos) return u"./";
    return Platform_Path_FromUtf8(self.substr(0, slash + 1));
}

char16_t* CopyPath(const std::u16string& path) {
    auto* text = static_cast<char16_t*>(std::calloc(path.size() + 1, sizeof(char16_t)));
    if (text) std::memcpy(text, path.data(), path.size() * sizeof(char16_t));
    return text;
}

} // namespace

int32_t Plugin_Init() {
    if (registry[0]) return 0; // the folders are scanned once per process
    for (int32_t kind = 0; kind < kPluginKindCount; ++kind) {
        registry[kind] = DoublyLinkedList_Create(sizeof(PluginEntry));
        if (!registry[kind]) {
            for (int32_t k = 0; k < kind; ++k) {
                registry[k]->ops->FreeList(registry[k]);
                registry[k] = nullptr;
            }
            return 0;
        }
    }
    Plugin_ScanFolder(Plugin_ModesFolder());
    Plugin_ScanFolder(Plugin_RandomizerFolder());
    Plugin_ScanFolder(Plugin_RotationSystemFolder());
    return 0;
}

void Plugin_ScanFolder(const std::u16string& folder) {
    if (!registry[0]) return;
    std::string base = Platform_Path_ToUtf8(folder);
    if (!base.empty() && base.back() != '/' && base.back() != '\\') base.push_back('/');
    for (const std::string& name : Platform_Folder_List(base, "*.so")) {
        const std::string path = base + name;
        void* library = Platform_Library_Open(path);
        if (!library) continue;
        // Libraries that load stay loaded for the life of the engine, listed or not.
        auto getID = reinterpret_cast<PluginGetIDFn>(Platform_Library_Symbol(library, "GetID"));
        if (!getID) continue;
        ZelvikID id;
        std::memset(&id, 0, sizeof id); // nothing of an earlier library travels along
        id.size = sizeof(ZelvikID);
        getID(&id);
        if (!ValidKind(id.kind)) continue;
        DoublyLinkedList* list = registry[id.kind];
        auto* entry = static_cast<PluginEntry*>(list->ops->AddElement(list));
        if (!entry) continue;
        entry->path = CopyPath(Platform_Path_FromUtf8(path));
        entry->library = library;
        entry->identity = id;
    }
}

std::u16string Plugin_ModesFolder() {
    return EngineFolder() + u"modes/";
}
std::u16string Plugin_RandomizerFolder() {
    return EngineFolder() + u"randomizer/";
}
std::u16string Plugin_RotationSystemFolder() {
    return EngineFolder() + u"rotationsystem/";
}

void* Plugin_FindLibrary(const ZelvikID* id) {
    if (!id) return nullptr;
    DoublyLinkedList* list = ListOf(id->kind);
    if (!list) return nullptr;
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
        const auto* entry = static_cast<const PluginEntry*>(DoublyLinkedList_Data(e));
        if (SameBytes(entry->identity, *id, offsetof(ZelvikID, name), 64) &&
            SameBytes(entry->identity, *id, offsetof(ZelvikID, author), 64) &&
            entry->identity.version == id->version)
            return entry->library;
    }
    return nullptr;
}

const ZelvikID* Plugin_GetInfo(int32_t kind, int32_t index) {
    DoublyLinkedList* list = ListOf(kind);
    if (!list || index < 0) return nullptr;
    auto* entry = static_cast<PluginEntry*>(list->ops->SelectElement(list, index));
    return entry ? &entry->identity : nullptr;
}

int32_t Plugin_Count(int32_t kind) {
    DoublyLinkedList* list = ListOf(kind);
    return list ? list->ops->CountList(list) : 0;
}

const ZelvikID* Plugin_FindByName(int32_t kind, const char16_t* name) {
    DoublyLinkedList* list = ListOf(kind);
    if (!list || !name) return nullptr;
    const std::u16string wanted = NameKey(name);
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
        auto* entry = static_cast<PluginEntry*>(DoublyLinkedList_Data(e));
        if (NameKey(FieldText(entry->identity, offsetof(ZelvikID, name))) == wanted)
            return &entry->identity;
    }
    return nullptr;
}

std::u16string Plugin_Describe(const ZelvikID* id) {
    if (!id) return {};
    const char16_t* label;
    switch (id->kind) {
    case PluginKind_RotationSystem:
        label = u"RotationSystem ";
        break;
    case PluginKind_Mode:
        label = u"Mode ";
        break;
    case PluginKind_ModeExtension:
        label = u"ModeExtension ";
        break;
    case PluginKind_Randomizer:
        label = u"Randomizer ";
        break;
    default:
        return u"Invalid ZelvikID";
    }
    return label + FieldText(*id, offsetof(ZelvikID, name)) + u" (v " +
           VersionToString(id->version) + u"/" + SignedDecimal(id->build) + u") by " +
           FieldText(*id, offsetof(ZelvikID, author));
}

void* Plugin_GetExport(void* library, const char* name) {
    return library && name ? Platform_Library_Symbol(library, name) : nullptr;
}
