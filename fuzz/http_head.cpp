// The master's request-head parser: any bytes, whole and arriving a byte at a time, with the
// default limits and with small ones that the size refusals are reached with.
#include "Platform_HttpHead.h"

#include <cstdlib>
#include <string_view>

namespace {

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

// A view of a request lies inside its head.
void CheckInside(std::string_view part, std::string_view head) {
    if (part.empty()) return;
    if (part.data() < head.data() || part.data() + part.size() > head.data() + head.size())
        std::abort();
}

bool Same(const PlatformHttpHead& a, const PlatformHttpHead& b) {
    return a.result == b.result && a.status == b.status && a.length == b.length &&
           a.method.data() == b.method.data() && a.method.size() == b.method.size() &&
           a.target.data() == b.target.data() && a.target.size() == b.target.size() &&
           a.path.data() == b.path.data() && a.path.size() == b.path.size() &&
           a.version == b.version && a.host.data() == b.host.data() &&
           a.host.size() == b.host.size() && a.fields.data() == b.fields.data() &&
           a.fields.size() == b.fields.size() && a.bodyLength == b.bodyLength &&
           a.http10 == b.http10 && a.keepAlive == b.keepAlive;
}

void Check(std::string_view bytes, const PlatformHttpHeadLimits& limits) {
    PlatformHttpHeadScan fresh;
    const PlatformHttpHead whole = Platform_HttpHead_Parse(bytes, limits, &fresh);
    switch (whole.result) {
    case PlatformHttpHeadResult::NeedMore:
        // Never waits with a full buffer: more bytes could not be buffered.
        if (bytes.size() >= Platform_HttpHead_MostBytes(limits)) std::abort();
        break;
    case PlatformHttpHeadResult::Error:
        if (whole.status != 400 && whole.status != 414 && whole.status != 431 &&
            whole.status != 501 && whole.status != 505)
            std::abort();
        break;
    case PlatformHttpHeadResult::Request: {
        // Never reads past the head, and the head ends with its empty line.
        if (whole.length == 0 || whole.length > bytes.size()) std::abort();
        const std::string_view head = bytes.substr(0, whole.length);
        if (!head.ends_with("\n\n") && !head.ends_with("\n\r\n")) std::abort();
        if (whole.method.empty() || whole.target.empty() || whole.version.size() != 8) std::abort();
        for (std::string_view part :
             {whole.method, whole.target, whole.path, whole.host, whole.fields})
            CheckInside(part, head);
        // Content-Length and Transfer-Encoding decided once: no Transfer-Encoding is taken,
        // and at most one Content-Length.
        int lengths = 0;
        std::string_view fields = whole.fields;
        while (!fields.empty()) {
            const size_t end = fields.find('\n');
            const std::string_view line = fields.substr(0, end);
            fields.remove_prefix(end == std::string_view::npos ? fields.size() : end + 1);
            const std::string_view name = line.substr(0, line.find(':'));
            if (SameText(name, "Transfer-Encoding")) std::abort();
            lengths += SameText(name, "Content-Length");
            if (name.find_first_of(" \t") != std::string_view::npos) std::abort();
        }
        if (lengths > 1) std::abort();
        // One request per head: the head alone says the same, and no shorter head was there.
        PlatformHttpHeadScan alone;
        if (!Same(Platform_HttpHead_Parse(head, limits, &alone), whole)) std::abort();
        PlatformHttpHeadScan shorter;
        if (Platform_HttpHead_Parse(head.substr(0, head.size() - 1), limits, &shorter).result ==
            PlatformHttpHeadResult::Request)
            std::abort();
        break;
    }
    }
    // The same bytes arriving one at a time give the same answer as soon as it is decided.
    PlatformHttpHeadScan scan;
    for (size_t n = 0; n <= bytes.size(); n++) {
        const PlatformHttpHead part = Platform_HttpHead_Parse(bytes.substr(0, n), limits, &scan);
        if (part.result == PlatformHttpHeadResult::NeedMore) continue;
        if (!Same(part, whole)) std::abort();
        return;
    }
    if (whole.result != PlatformHttpHeadResult::NeedMore) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Check(bytes, PlatformHttpHeadLimits{});
    Check(bytes, PlatformHttpHeadLimits{64, 1});
    return 0;
}
