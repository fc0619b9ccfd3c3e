#include "Vantrel_Adv_ServerList.h"

#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Platform_Dial.h"
#include "Platform_Socket.h"
#include "Vantrel_Common.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kReceiveBlock = 10240;
constexpr uint16_t kDefaultMasterPort = 80;
constexpr const char* kDefaultMasterHost = "127.0.0.1";
constexpr uint16_t kDefaultGamePort = 2031;
constexpr uint8_t kCmdGetInfo = 16;
constexpr uint8_t kCmdInfo = 17;
constexpr uint32_t kInfoSize = 521;
constexpr uint32_t kQueryBlock = 1024;

std::atomic<uint16_t> gamePort{kDefaultGamePort};

uint32_t Now() {
    return HighResTimer_Milliseconds();
}

// Milliseconds left until deadline (modulo 2^32 like every elapsed time); <= 0 when passed.
int32_t Left(uint32_t deadline) {
    return static_cast<int32_t>(deadline - Now());
}

bool ParsePort(const char* text, uint16_t* port) {
    if (!text || !*text) return false;
    uint32_t v = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(*c - '0');
        if (v > 65535) return false;
    }
    if (v == 0) return false;
    *port = static_cast<uint16_t>(v);
    return true;
}

// Counts the non-empty body lines as the bytes arrive, split as Http_SplitLines splits them,
// so a download can stop once it has all the lines it will use.
class BodyLineCounter {
public:
    explicit BodyLineCounter(uint32_t limit) : limit_(limit) {}
    bool Full() const { return limit_ && lines_ >= limit_; }
    // How many of the n bytes to keep: all of them, or up to the end of the last wanted line.
    uint32_t Take(const uint8_t* data, uint32_t n) {
        if (!limit_) return n;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t b = data[i];
            if (b == 10 || b == 0) {
                if (!inBody_ && empty_)
                    inBody_ = true;
                else if (inBody_ && !empty_ && ++lines_ >= limit_)
                    return i + 1;
                empty_ = true;
            } else if (b != 13) {
                empty_ = false;
            }
        }
        return n;
    }

private:
    uint32_t limit_;
    uint32_t lines_ = 0;
    bool inBody_ = false;
    bool empty_ = true;
};

// Receives the whole answer within the deadlines, or its head and the first bodyLines
// non-empty body lines when bodyLines is not 0; false with *why when the answer is too large.
bool Receive(uint32_t connection, uint32_t firstDeadline, uint32_t bodyLines,
             std::vector<uint8_t>* bytes, std::string* why) {
    std::vector<uint8_t> block(kReceiveBlock);
    BodyLineCounter counter(bodyLines);
    uint32_t deadline = firstDeadline;
    for (;;) {
        const int32_t left = Left(deadline);
        if (left <= 0) return true;
        if (Platform_Socket_Backlog(connection) && Platform_Socket_Flush(connection) < 0)
            return true;
        if (!Platform_Socket_Readable(connection, left)) continue;
        for (;;) {
            const int32_t n = Platform_Socket_Receive(connection, block.data(), kReceiveBlock);
            if (n < 0) return true; // closed: everything sent before the close has been read
            if (n == 0) break;
            const uint32_t take = counter.Take(block.data(), static_cast<uint32_t>(n));
            if (bytes->size() + take > kDownloadMaxBytes) {
                *why =
                    "its answer is larger than " + std::to_string(kDownloadMaxBytes >> 20) + " MB";
                return false;
            }
            bytes->insert(bytes->end(), block.begin(), block.begin() + take);
            if (counter.Full()) return true; // the rest would be dropped anyway
            deadline = Now() + kDownloadChunkMs;
        }
    }
}

// What went wrong with a download, for the user: whether the master could be reached at all.
struct DownloadFailure {
    bool unreachable = false;
    std::string why;
};

// The request goes out from source (0: the system's choice), so a master that knows its
// callers by their address sees the one the caller means.
int32_t Download(const char* host, uint16_t port, const char* path, std::vector<HttpLine>* lines,
                 uint32_t bodyLines = 0, uint32_t source = 0, DownloadFailure* failure = nullptr) {
    DownloadFailure scratch;
    if (!failure) failure = &scratch;
    if (!host || !path || !lines) return 0;
    Platform_Socket_Init();
    const uint32_t start = Now();
    const uint32_t connection =
        Platform_Dial_Connect(host, port, source, kDownloadFirstDataMs, &failure->why);
    if (!connection) {
        failure->unreachable = true;
        return 0;
    }
    const std::string request =
        std::string("GET ") + path + " HTTP/1.0\r\nHost: " + host + "\r\nAccept: */*\r\n\r\n";
    std::vector<uint8_t> bytes;
    bool ok = Platform_Socket_Send(connection, request.data(),
                                   static_cast<uint32_t>(request.size())) >= 0 &&
              Receive(connection, start + kDownloadFirstDataMs, bodyLines, &bytes, &failure->why);
    Platform_Socket_Close(connection);
    if (!ok) {
        if (failure->why.empty()) failure->why = "the connection failed";
        return 0;
    }
    if (bytes.empty()) {
        failure->why = "it sent no answer"; // closed at once, or silent past the time limit
        return 0;
    }
    std::vector<HttpLine> split;
    Http_SplitLines(bytes, &split);
    if (split.size() > kDownloadMaxLines) {
        failure->why = "its answer has more than " + std::to_string(kDownloadMaxLines) + " lines";
        return 0;
    }
    *lines = std::move(split);
    return lines->empty() ? 0 : 1;
}

// Register and unregister: the master knows a server by the address the request comes from,
// so a server listening on one address of several asks from that one.
int32_t Announce(const char* path) {
    std::string host;
    uint16_t port;
    ServerList_MasterHost(&host, &port);
    std::vector<HttpLine> scratch;
    return Download(host.c_str(), port, path, &scratch, 0, ServerList_GameAddress());
}

std::string Dec(uint32_t v) {
    return std::to_string(v);
}

const ServerInfoOps kServerInfoOps = {ServerInfo_Query};
const ServerListOps kServerListOps = {ServerList_Count, ServerList_GetEntry};

} // namespace

void Http_SplitLines(const std::vector<uint8_t>& bytes, std::vector<HttpLine>* lines) {
    lines->clear();
    uint32_t kind = kLineHeader;
    std::u16string line;
    auto end = [&] {
        if (kind == kLineHeader && line.empty())
            kind = kLineBody; // the first empty line only separates header and body
        else
            lines->push_back({kind, line});
        line.clear();
    };
    for (uint8_t b : bytes) {
        if (b == 10 || b == 0)
            end();
        else if (b != 13)
            line.push_back(static_cast<char16_t>(b));
    }
    end();
}

int32_t DownloadFileToLL(const char* host, uint16_t port, const char* path,
                         std::vector<HttpLine>* lines) {
    return Download(host, port, path, lines);
}

void DownloadLines_Clear(DoublyLinkedList* lines) {
    if (!lines) return;
    for (auto* e = lines->First; e; e = e->Next)
        std::free(static_cast<DownloadLine*>(DoublyLinkedList_Data(e))->text);
    DoublyLinkedList_ClearList(lines);
}

int32_t DownloadFileToDoublyLL(const char* host, uint16_t port, const char* path,
                               DoublyLinkedList* lines) {
    if (!lines) return 0;
    std::vector<HttpLine> got;
    if (!Download(host, port, path, &got)) return 0;
    DownloadLines_Clear(lines);
    for (const HttpLine& l : got) {
        auto* text = static_cast<char16_t*>(std::calloc(l.text.size() + 1, sizeof(char16_t)));
        if (!text) break;
        auto* e = static_cast<DownloadLine*>(DoublyLinkedList_AddElement(lines));
        if (!e) {
            std::free(text);
            break;
        }
        std::memcpy(text, l.text.data(), l.text.size() * sizeof(char16_t));
        e->kind = l.kind;
        e->length = static_cast<uint32_t>(l.text.size());
        e->text = text;
    }
    return DoublyLinkedList_CountList(lines) > 0 ? 1 : 0;
}

void ServerList_MasterHost(std::string* host, uint16_t* port) {
    *host = kDefaultMasterHost;
    *port = kDefaultMasterPort;
    const char* env = std::getenv("ZELVIK_MASTER");
    if (!env || !*env) return;
    const std::string text = env;
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        *host = text;
        return;
    }
    *host = text.substr(0, colon);
    if (!ParsePort(text.c_str() + colon + 1, port)) *port = 0;
}

uint16_t ServerList_GamePort() {
    return gamePort.load();
}

uint32_t ServerList_GameAddress() {
    const char* text = std::getenv("ZELVIK_GAME_ADDRESS");
    if (!text) return 0;
    std::u16string wide;
    for (; *text && wide.size() < 16; ++text) wide.push_back(static_cast<unsigned char>(*text));
    uint32_t address = 0;
    return ServerList_ParseAddress(wide, &address) ? address : 0;
}

bool ServerList_ParseAddress(std::u16string_view text, uint32_t* address) {
    if (text.empty()) return false;
    uint32_t fields[4] = {0, 0, 0, 0};
    uint32_t field = 0;
    for (char16_t c : text) {
        if (c == u'.') {
            ++field;
            continue;
        }
        if (c < u'0' || c > u'9') return false;
        if (field >= 4) continue; // only the first four fields count
        fields[field] = fields[field] * 10 + static_cast<uint32_t>(c - u'0');
        if (fields[field] > 255) return false;
    }
    *address = fields[0] | fields[1] << 8 | fields[2] << 16 | fields[3] << 24;
    return true;
}

std::string ServerList_AddressText(uint32_t address) {
    return Dec(address & 0xFF) + "." + Dec(address >> 8 & 0xFF) + "." + Dec(address >> 16 & 0xFF) +
           "." + Dec(address >> 24);
}

int32_t Server_Register(Server*) {
    return Announce("/addzelvikserver.php");
}

int32_t Server_Unregister(Server*) {
    return Announce("/remzelvikserver.php");
}

ServerList* ServerList_Get() {
    if (!Platform_Socket_Init()) return nullptr;
    gamePort.store(static_cast<uint16_t>(Common_GamePort()));

    auto* list = static_cast<ServerList*>(std::calloc(1, sizeof(ServerList)));
    if (!list) return nullptr;
    list->ops = &kServerListOps;
    list->entries = DoublyLinkedList_Create(sizeof(ServerInfo));
    if (!list->entries) {
        std::free(list);
        return nullptr;
    }
    std::string host;
    uint16_t masterPort;
    ServerList_MasterHost(&host, &masterPort);
    std::vector<HttpLine> lines;
    DownloadFailure failure;
    // A poisoned list cannot make us read, hold or query more than the entries we keep.
    if (!Download(host.c_str(), masterPort, "/zelvikserver.txt", &lines, kServerListMaxEntries, 0,
                  &failure)) {
        // An answer of no line at all is a master with nothing to say: an empty list.
        if (failure.why.empty()) return list;
        const std::string master = host + ":" + Dec(masterPort);
        const std::string text =
            (failure.unreachable ? "Could not reach the master " + master
                                 : "Could not read the list of the master " + master) +
            ": " + failure.why;
        std::snprintf(list->problem, sizeof list->problem, "%s", text.c_str());
        return list;
    }
    for (const HttpLine& line : lines) {
        if (line.kind != kLineBody) continue;
        uint32_t address;
        if (!ServerList_ParseAddress(line.text, &address)) continue;
        if (DoublyLinkedList_CountList(list->entries) >=
            static_cast<int32_t>(kServerListMaxEntries))
            break;
        auto* info = static_cast<ServerInfo*>(DoublyLinkedList_AddElement(list->entries));
        if (!info) break;
        info->ops = &kServerInfoOps;
        info->address = address;
    }
    return list;
}

int32_t ServerList_Count(ServerList* list) {
    return list ? DoublyLinkedList_CountList(list->entries) : 0;
}

ServerInfo* ServerList_GetEntry(ServerList* list, int32_t index) {
    if (!list) return nullptr;
    return static_cast<ServerInfo*>(DoublyLinkedList_SelectElement(list->entries, index));
}

int32_t ServerInfo_Query(ServerInfo* info) {
    if (!info || !Platform_Socket_Init()) return 0;
    const uint32_t begin = Now();
    const uint32_t deadline = begin + kQueryLimitMs;
    const std::string host = ServerList_AddressText(info->address);
    const uint32_t connection =
        Platform_Socket_Connect(host.c_str(), gamePort.load(), kQueryLimitMs);
    if (!connection) {
        info->ping = -1;
        return 0;
    }
    const uint8_t ask = kCmdGetInfo;
    const uint32_t start = Now();
    uint8_t reply[kQueryBlock];
    uint32_t got = 0;
    bool answered = false, refused = false;
    const bool sent = Platform_Socket_Send(connection, &ask, 1) >= 0;
    while (sent && !answered && !refused) {
        const int32_t left = Left(deadline);
        if (left <= 0) break;
        if (Platform_Socket_Backlog(connection) && Platform_Socket_Flush(connection) < 0) break;
        if (!Platform_Socket_Readable(connection, left)) continue;
        const int32_t n = Platform_Socket_Receive(connection, reply + got, kQueryBlock - got);
        if (n < 0) break;
        got += static_cast<uint32_t>(n);
        if (got && reply[0] != kCmdInfo)
            refused = true; // not our answer: keep the old values
        else if (got >= kInfoSize)
            answered = true;
    }
    Platform_Socket_Close(connection);
    if (refused) return 0;
    if (!answered) {
        info->ping = -1;
        return 0;
    }
    for (uint32_t i = 0; i < kServerInfoNameUnits; ++i)
        info->name[i] = static_cast<char16_t>(reply[1 + 2 * i] | reply[2 + 2 * i] << 8);
    auto u32 = [&](uint32_t at) {
        return static_cast<uint32_t>(reply[at]) | static_cast<uint32_t>(reply[at + 1]) << 8 |
               static_cast<uint32_t>(reply[at + 2]) << 16 |
               static_cast<uint32_t>(reply[at + 3]) << 24;
    };
    info->players = u32(513);
    info->maximum = static_cast<int32_t>(u32(517));
    info->ping = static_cast<int32_t>(Now() - start);
    return 0;
}
