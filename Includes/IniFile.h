// Settings files in the shared ini form: "[Group]" lines, "; " comments and "key = value"
// entries. Reads LF or CR LF with or without a UTF-8 byte-order mark; groups and keys compare
// case-blind; lines it does not understand are kept. Writes the whole file back as UTF-8 with a
// byte-order mark, " = " between key and value and CR LF line ends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class IniFile {
public:
    // Settings files are small: one larger than this is refused unread.
    static constexpr size_t kMaxBytes = size_t{1} << 20;
    // False when the file cannot be read; the object is then empty. problem (when given) says
    // why a file that is there was not read ("not a regular file", "larger than 1 MB"); it is
    // left empty for a missing file, which simply leaves every default.
    bool Load(const std::string& path, std::string* problem = nullptr);
    void Parse(std::string_view text);
    // False when the file cannot be written, the old file then left as it was; reason says why.
    bool Save(const std::string& path, std::string* reason = nullptr) const;
    std::string Serialize() const;

    // group "" is the part before the first group line.
    bool Has(std::string_view group, std::string_view key) const;
    std::string Get(std::string_view group, std::string_view key,
                    std::string_view fallback = "") const;
    // Replaces the entry where it stands, or appends it to its group (made at the end).
    void Set(std::string_view group, std::string_view key, std::string_view value);
    // Appends "; " + text to the group.
    void AddComment(std::string_view group, std::string_view text);

private:
    struct Line {
        enum Kind { Entry, Other } kind = Other;
        std::string key, value; // Entry
        std::string raw;        // Other: written back as it came
    };
    struct Group {
        std::string name;
        std::vector<Line> lines;
    };
    Group* find(std::string_view group);
    const Group* find(std::string_view group) const;
    Group& make(std::string_view group);
    std::vector<Group> groups_;
};

bool IniFile_EqualsNoCase(std::string_view a, std::string_view b);
