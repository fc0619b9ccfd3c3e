// The head of an HTTP/1.x request (request line and header fields), parsed from buffered
// bytes alone: no socket, no allocation, so it can be fed any bytes in any pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct PlatformHttpHeadLimits {
    // Request line and header fields, line ends included, after any leading empty lines.
    size_t headBytes = 8192;
    // Empty lines (CR LF or LF) tolerated before the request line.
    unsigned emptyLines = 4;
};

// What a caller keeps between calls on one growing buffer, so each byte is looked at a
// bounded number of times however the head arrives. Start every new head from {}.
struct PlatformHttpHeadScan {
    uint32_t start = 0;    // the request line begins here (after the empty lines)
    uint32_t searched = 0; // no end of the head begins before here
    uint32_t emptyLines = 0;
};

enum class PlatformHttpHeadResult { NeedMore, Error, Request };

struct PlatformHttpHead {
    PlatformHttpHeadResult result = PlatformHttpHeadResult::NeedMore;
    int status = 0; // with Error: the status to refuse the request with, then close
    // With Request: bytes taken by the head, leading empty lines and the ending empty line
    // included; the body (bodyLength bytes) follows. The views point into the input.
    size_t length = 0;
    std::string_view method;
    std::string_view target; // as sent
    // From an origin- or absolute-form target, without the query; empty for an absolute-form
    // target with no path (the root).
    std::string_view path;
    std::string_view version; // "HTTP/1.0", "HTTP/1.1" ...
    std::string_view host;    // the Host field's value ("" when there is none)
    std::string_view fields;  // the header field lines as sent, each checked
    uint64_t bodyLength = 0;  // from Content-Length; chunked bodies are refused
    bool http10 = false;
    bool keepAlive = false;
};

// Parses the head at the start of bytes. scan carries the work done on an earlier, shorter
// prefix of the same bytes. Refusals: 400 for a malformed line, field name or framing
// (repeated or non-numeric Content-Length, Content-Length with Transfer-Encoding, a missing
// or repeated Host, folded lines, too many empty lines), 414 or 431 when the head passes
// limits.headBytes, 501 for a Transfer-Encoding, 505 for an HTTP major version other than 1.
PlatformHttpHead Platform_HttpHead_Parse(std::string_view bytes,
                                         const PlatformHttpHeadLimits& limits,
                                         PlatformHttpHeadScan* scan);

// The most bytes a head may need before the parse decides: buffering more is never useful.
size_t Platform_HttpHead_MostBytes(const PlatformHttpHeadLimits& limits);
