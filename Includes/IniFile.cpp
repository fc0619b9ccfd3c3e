#include "IniFile.h"

#include "Platform_File.h"
#include "Platform_Path.h"

#include <cctype>

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

constexpr std::string_view kBom = "\xEF\xBB\xBF";

} // namespace

bool IniFile_EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool IniFile::Load(const std::string& path, std::string* problem) {
    groups_.clear();
    if (problem) problem->clear();
    std::string bytes, why;
    if (!Platform_File_Read(path, kMaxBytes, bytes, &why)) {
        if (problem && Platform_Path_Exists(path)) *problem = why;
        return false;
    }
    Parse(bytes);
    return true;
}

void IniFile::Parse(std::string_view text) {
    groups_.clear();
    groups_.push_back(Group{});
    if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (end == std::string_view::npos && line.empty()) break;
        std::string_view t = trim(line);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            groups_.push_back(Group{std::string(trim(t.substr(1, t.size() - 2))), {}});
            continue;
        }
        Line l;
        size_t eq = t.find('=');
        if (!t.empty() && t.front() != ';' && eq != std::string_view::npos && eq > 0 &&
            !trim(t.substr(0, eq)).empty()) {
            l.kind = Line::Entry;
            l.key = std::string(trim(t.substr(0, eq)));
            l.value = std::string(trim(t.substr(eq + 1)));
        } else {
            l.raw = std::string(line);
        }
        groups_.back().lines.push_back(std::move(l));
    }
}

std::string IniFile::Serialize() const {
    std::string out(kBom);
    bool firstGroup = true;
    for (const Group& g : groups_) {
        if (!firstGroup || !g.name.empty()) out += "[" + g.name + "]\r\n";
        firstGroup = false;
        for (const Line& l : g.lines) {
            if (l.kind == Line::Entry)
                out += l.key + " = " + l.value + "\r\n";
            else
                out += l.raw + "\r\n";
        }
    }
    return out;
}

bool IniFile::Save(const std::string& path, std::string* reason) const {
    // Replaced whole: a kill or a full disk leaves the old settings, never a cut file.
    return Platform_File_Replace(path, Serialize(), reason);
}

const IniFile::Group* IniFile::find(std::string_view group) const {
    for (const Group& g : groups_)
        if (IniFile_EqualsNoCase(g.name, group)) return &g;
    return nullptr;
}

IniFile::Group* IniFile::find(std::string_view group) {
    return const_cast<Group*>(static_cast<const IniFile*>(this)->find(group));
}

IniFile::Group& IniFile::make(std::string_view group) {
    if (groups_.empty()) groups_.push_back(Group{});
    if (Group* g = find(group)) return *g;
    groups_.push_back(Group{std::string(group), {}});
    return groups_.back();
}

bool IniFile::Has(std::string_view group, std::string_view key) const {
    const Group* g = find(group);
    if (!g) return false;
    for (const Line& l : g->lines)
        if (l.kind == Line::Entry && IniFile_EqualsNoCase(l.key, key)) return true;
    return false;
}

std::string IniFile::Get(std::string_view group, std::string_view key,
                         std::string_view fallback) const {
    if (const Group* g = find(group))
        for (const Line& l : g->lines)
            if (l.kind == Line::Entry && IniFile_EqualsNoCase(l.key, key)) return l.value;
    return std::string(fallback);
}

void IniFile::Set(std::string_view group, std::string_view key, std::string_view value) {
    Group& g = make(group);
    for (Line& l : g.lines)
        if (l.kind == Line::Entry && IniFile_EqualsNoCase(l.key, key)) {
            l.value = std::string(value);
            return;
        }
    Line l;
    l.kind = Line::Entry;
    l.key = std::string(key);
    l.value = std::string(value);
    // New entries go after the group's last entry, before trailing blank lines.
    size_t at = g.lines.size();
    while (at > 0 && g.lines[at - 1].kind == Line::Other && trim(g.lines[at - 1].raw).empty()) --at;
    g.lines.insert(g.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(l));
}

void IniFile::AddComment(std::string_view group, std::string_view text) {
    Line l;
    l.raw = "; " + std::string(text);
    make(group).lines.push_back(std::move(l));
}
