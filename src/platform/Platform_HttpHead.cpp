#include "Platform_HttpHead.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

using Result = PlatformHttpHeadResult;

// tchar of a token: method and field names.
constexpr std::array<bool, 256> kTokenChar = [] {
    std::array<bool, 256> table{};
    for (int c = '0'; c <= '9'; c++) table[c] = true;
    for (int c = 'a'; c <= 'z'; c++) table[c] = true;
    for (int c = 'A'; c <= 'Z'; c++) table[c] = true;
    for (char c : std::string_view("!#$%&'*+-.^_`|~")) table[static_cast<unsigned char>(c)] = true;
    return table;
}();

// What a Host value may hold: a name, an IPv4 or a bracketed IPv6 literal, and a port.
constexpr std::array<bool, 256> kHostChar = [] {
    std::array<bool, 256> table{};
    for (int c = '0'; c <= '9'; c++) table[c] = true;
    for (int c = 'a'; c <= 'z'; c++) table[c] = true;
    for (int c = 'A'; c <= 'Z'; c++) table[c] = true;
    for (char c : std::string_view("-._~!$&'()*+,;=:%[]"))
        table[static_cast<unsigned char>(c)] = true;
    return table;
}();

bool IsToken(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!kTokenChar[static_cast<unsigned char>(c)]) return false;
    return true;
}

// A field value after its surrounding blanks: visible characters, blanks and bytes >= 0x80;
// a CR, LF, NUL or other control byte anywhere in it is refused.
bool IsFieldValue(std::string_view text) {
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
    }
    return true;
}

// A request target: visible ASCII only.
bool IsTarget(std::string_view text) {
    if (text.empty()) return false;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) return false;
    }
    return true;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool HasToken(std::string_view value, std::string_view token) {
    while (true) {
        const size_t comma = value.find(',');
        if (SameText(TrimBlanks(value.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) return false;
        value.remove_prefix(comma + 1);
    }
}

// The path of an origin-form ("/a?b") or absolute-form ("http://host/a?b") target, without
// query or fragment; other forms ("*", "host:port") are given back whole. False when an
// absolute-form target names no host.
bool TargetPath(std::string_view target, std::string_view* path) {
    if (target.front() != '/') {
        size_t skip = 0;
        if (StartsWithText(target, "http://"))
            skip = 7;
        else if (StartsWithText(target, "https://"))
            skip = 8;
        if (skip == 0) {
            *path = target;
            return true;
        }
        target.remove_prefix(skip);
        const size_t authorityEnd = target.find_first_of("/?#");
        if (authorityEnd == 0 || target.empty()) return false; // no host named
        if (authorityEnd == std::string_view::npos || target[authorityEnd] != '/') {
            *path = {}; // the root, named by no byte of the target
            return true;
        }
        target.remove_prefix(authorityEnd);
    }
    *path = target.substr(0, target.find_first_of("?#"));
    return true;
}

// The request line and fields of a whole head (line ends included, the empty line not).
PlatformHttpHead ParseWhole(std::string_view head, PlatformHttpHead out) {
    auto refuse = [](int status) {
        PlatformHttpHead error;
        error.result = Result::Error;
        error.status = status;
        return error;
    };
    auto nextLine = [&head] {
        const size_t end = head.find('\n');
        std::string_view line = head.substr(0, end);
        head.remove_prefix(end == std::string_view::npos ? head.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    };

    // method SP request-target SP HTTP-version, single spaces.
    const std::string_view line = nextLine();
    const size_t s1 = line.find(' ');
    const size_t s2 = s1 == std::string_view::npos ? s1 : line.find(' ', s1 + 1);
    if (s2 == std::string_view::npos) return refuse(400);
    out.method = line.substr(0, s1);
    out.target = line.substr(s1 + 1, s2 - s1 - 1);
    out.version = line.substr(s2 + 1);
    if (!IsToken(out.method) || !IsTarget(out.target)) return refuse(400);
    const std::string_view v = out.version;
    if (v.size() != 8 || !v.starts_with("HTTP/") || v[6] != '.' || v[5] < '0' || v[5] > '9' ||
        v[7] < '0' || v[7] > '9')
        return refuse(400);
    if (v[5] != '1') return refuse(505);
    out.http10 = v[7] == '0';
    out.keepAlive = !out.http10;
    if (!TargetPath(out.target, &out.path)) return refuse(400);

    out.fields = head;
    bool contentLength = false, transferEncoding = false;
    int hosts = 0;
    while (!head.empty()) {
        const std::string_view field = nextLine();
        // A line that starts with a blank continues the one before (obsolete folding) or
        // hides a field from a reader that trims it: either way, refused.
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos) return refuse(400);
        const std::string_view name = field.substr(0, colon);
        const std::string_view value = TrimBlanks(field.substr(colon + 1));
        if (!IsToken(name) || !IsFieldValue(value)) return refuse(400);
        if (SameText(name, "Content-Length")) {
            // One Content-Length of digits only: a second one, even equal, or a list could
            // frame the body differently for a proxy in front of us.
            if (contentLength || value.empty()) return refuse(400);
            contentLength = true;
            uint64_t length = 0;
            for (char c : value) {
                if (c < '0' || c > '9' || length > (UINT64_MAX - 9) / 10) return refuse(400);
                length = length * 10 + static_cast<uint64_t>(c - '0');
            }
            out.bodyLength = length;
        } else if (SameText(name, "Transfer-Encoding")) {
            transferEncoding = true;
        } else if (SameText(name, "Host")) {
            for (char c : value)
                if (!kHostChar[static_cast<unsigned char>(c)]) return refuse(400);
            out.host = value;
            hosts++;
        } else if (SameText(name, "Connection")) {
            if (HasToken(value, "close"))
                out.keepAlive = false;
            else if (HasToken(value, "keep-alive"))
                out.keepAlive = true;
        }
    }
    if (hosts > 1 || (hosts == 0 && !out.http10)) return refuse(400);
    // A body of unknown framing is never guessed at: what follows could be read as a request.
    if (transferEncoding) return refuse(contentLength || out.http10 ? 400 : 501);
    out.result = Result::Request;
    return out;
}

} // namespace

size_t Platform_HttpHead_MostBytes(const PlatformHttpHeadLimits& limits) {
    return limits.headBytes + 2 * static_cast<size_t>(limits.emptyLines);
}

PlatformHttpHead Platform_HttpHead_Parse(std::string_view bytes,
                                         const PlatformHttpHeadLimits& limits,
                                         PlatformHttpHeadScan* scan) {
    PlatformHttpHead out;
    // Bytes past what the parse could ever need do not count, so the offsets stay small.
    bytes = bytes.substr(0, Platform_HttpHead_MostBytes(limits));
    const size_t size = bytes.size();
    size_t start = std::min<size_t>(scan->start, size);
    // Empty lines before the request line are stepped over, a bounded number of them.
    while (start < size) {
        size_t next;
        if (bytes[start] == '\n') {
            next = start + 1;
        } else if (bytes[start] == '\r') {
            if (start + 1 == size) break; // LF or not: the next byte tells
            if (bytes[start + 1] != '\n') break;
            next = start + 2;
        } else {
            break;
        }
        if (++scan->emptyLines > limits.emptyLines) {
            out.result = Result::Error;
            out.status = 400;
            return out;
        }
        start = next;
    }
    scan->start = static_cast<uint32_t>(start);
    size_t from = std::max<size_t>(scan->searched, start);

    // The head ends at the first empty line: LF followed by LF or by CR LF.
    size_t end = std::string_view::npos; // just past the empty line
    size_t lastLineEnd = 0;              // the LF that ends the last line before it
    while (from < size) {
        const void* found = std::memchr(bytes.data() + from, '\n', size - from);
        if (!found) {
            from = size;
            break;
        }
        const size_t lf = static_cast<size_t>(static_cast<const char*>(found) - bytes.data());
        if (lf + 1 < size && bytes[lf + 1] == '\n') {
            end = lf + 2;
        } else if (lf + 2 < size && bytes[lf + 1] == '\r' && bytes[lf + 2] == '\n') {
            end = lf + 3;
        } else if (lf + 1 == size || (lf + 2 == size && bytes[lf + 1] == '\r')) {
            from = lf; // the bytes to come decide
            break;
        } else {
            from = lf + 1;
            continue;
        }
        lastLineEnd = lf;
        break;
    }
    scan->searched = static_cast<uint32_t>(end == std::string_view::npos ? from : lastLineEnd);

    if (end != std::string_view::npos && end - start <= limits.headBytes) {
        out.length = end;
        return ParseWhole(bytes.substr(start, lastLineEnd + 1 - start), out);
    }
    if (size - start < limits.headBytes) return out; // need more
    // Refused once the limit has come, without waiting for the rest.
    const std::string_view window = bytes.substr(start, limits.headBytes);
    out.result = Result::Error;
    out.status = window.find('\n') == std::string_view::npos ? 414 : 431;
    return out;
}
