// zelvik_master: the master-server list that game servers register at and the server
// browser reads. Three resources over HTTP/1.0; the list survives restarts in a small file.
//
// Built on libmicrohttpd in its epoll mode: one thread watches every connection, so idle or
// slow callers cost a descriptor and a few kilobytes each and never hold up anybody else.
// Connections are capped overall and per source address and dropped when idle; the request
// line and headers must fit in a fixed buffer; the list is capped with the oldest
// registration going first; the state file is written by the main thread at most once a
// second, never on a request.
#include "Platform_Service.h"

#include <microhttpd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// The engine takes at most this many addresses from the list, so a larger default would
// only list servers that no browser shows.
constexpr long kDefaultMaxServers = 4096;
constexpr long kMostServers = 1000000;
constexpr unsigned kMaxConnections = 2048;
constexpr unsigned kConnectionsPerAddress = 16;
constexpr unsigned kIdleSeconds = 10;
// Request line and headers must fit here; a longer one is refused once this much has come.
constexpr size_t kRequestHeadBytes = 8192;
// Requests carry no body; a larger one is read past, never kept, and refused.
constexpr uint64_t kMaxBodyBytes = 4096;

constexpr const char* kUsage =
    "Usage: zelvik_master [options]\n"
    "Keeps the list of Zelvik game servers that the server browser shows.\n"
    "\n"
    "  --address ADDR      address to listen on (default 0.0.0.0)\n"
    "  --port N            port to listen on (default 80; 0 takes a free one)\n"
    "  --state FILE        file that keeps the list across restarts (default zelvik_master.txt)\n"
    "  --expire SECONDS    forget a server that has not registered again for this long\n"
    "                      (default 600; 0 keeps servers until they unregister)\n"
    "  --max-servers N     most servers listed; a new one then replaces the one that\n"
    "                      registered longest ago (default 4096, the most a browser shows)\n"
    "  --help              show this text\n"
    "\n"
    "Resources: /addzelvikserver.php registers the caller's address,\n"
    "/remzelvikserver.php removes it, /zelvikserver.txt lists one address per line.\n"
    "\n"
    "Limits: 2048 connections at once, 16 from one address; a connection idle for 10 s\n"
    "is closed; request line and headers must fit in 8 KB.\n";

long long Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool IsDottedIPv4(const std::string& text) {
    int fields = 0, digits = 0, value = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0) return false;
            fields++;
            digits = value = 0;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (++digits > 3 || value > 255) return false;
        } else {
            return false;
        }
    }
    return fields == 3 && digits > 0;
}

// Registered servers: dotted IPv4 address -> last registration (seconds since the epoch).
// Every request costs a lookup in the map and a move in the age list, whatever the size.
class Registry {
public:
    Registry(std::string stateFile, long expireSeconds, size_t maxServers)
        : stateFile_(std::move(stateFile)), expireSeconds_(expireSeconds), maxServers_(maxServers) {
        Load();
    }

    void Add(const std::string& address) {
        std::lock_guard lock(mutex_);
        const long long now = Now();
        Expire(now);
        auto it = servers_.find(address);
        if (it != servers_.end()) {
            it->second.when = now;
            byAge_.splice(byAge_.end(), byAge_, it->second.age);
        } else {
            while (servers_.size() >= maxServers_) Drop(byAge_.front());
            byAge_.push_back(address);
            servers_.emplace(address, Entry{now, std::prev(byAge_.end())});
            bodyStale_ = true;
        }
        changes_++;
    }

    void Remove(const std::string& address) {
        std::lock_guard lock(mutex_);
        if (servers_.count(address)) Drop(address);
    }

    // The list's text when it changed since *version (which is then updated); false when the
    // caller's copy is still current.
    bool List(uint64_t* version, std::string* body) {
        std::lock_guard lock(mutex_);
        Expire(Now());
        if (bodyStale_) {
            body_.clear();
            for (const auto& [address, entry] : servers_) body_ += address + "\n";
            bodyStale_ = false;
            bodyVersion_++;
        }
        if (*version == bodyVersion_) return false;
        *version = bodyVersion_;
        *body = body_;
        return true;
    }

    // Writes the file when something changed since the last write. Only the copy into a
    // string holds the lock; the disk is written without it.
    void SaveIfChanged() {
        std::string text;
        uint64_t changes;
        {
            std::lock_guard lock(mutex_);
            Expire(Now());
            if (changes_ == saved_) return;
            changes = changes_;
            text.reserve(servers_.size() * 28);
            for (const std::string& address : byAge_)
                text += address + ' ' + std::to_string(servers_.at(address).when) + '\n';
        }
        if (Write(text)) saved_ = changes;
    }

private:
    struct Entry {
        long long when;
        std::list<std::string>::iterator age;
    };

    void Drop(const std::string& address) {
        auto it = servers_.find(address);
        byAge_.erase(it->second.age);
        servers_.erase(it);
        bodyStale_ = true;
        changes_++;
    }

    // The age list runs from the oldest registration, so only expired entries are looked at.
    void Expire(long long now) {
        if (expireSeconds_ <= 0) return;
        const long long limit = now - expireSeconds_;
        while (!byAge_.empty() && servers_.at(byAge_.front()).when < limit) Drop(byAge_.front());
    }

    // Line by line, so one damaged line costs only itself; a line too long to be ours is
    // skipped without being held.
    void Load() {
        std::ifstream in(stateFile_, std::ios::binary);
        if (!in) return;
        std::map<std::string, long long> read;
        std::string line;
        bool tooLong = false;
        auto take = [&] {
            const size_t space = line.find(' ');
            if (!tooLong && space != std::string::npos) {
                const std::string address = line.substr(0, space);
                char* end = nullptr;
                const long long when = std::strtoll(line.c_str() + space + 1, &end, 10);
                if (IsDottedIPv4(address) && end != line.c_str() + space + 1 && *end == '\0')
                    read[address] = when;
            }
            line.clear();
            tooLong = false;
            // A file longer than the cap keeps its newest entries, without holding them all.
            if (read.size() > 2 * maxServers_) KeepNewest(&read);
        };
        char buffer[4096];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            for (std::streamsize i = 0; i < in.gcount(); ++i) {
                const char c = buffer[i];
                if (c == '\n') {
                    take();
                } else if (c != '\r' && !tooLong) {
                    line.push_back(c);
                    if (line.size() > 64) tooLong = true;
                }
            }
        }
        take();
        KeepNewest(&read);
        std::vector<std::pair<long long, std::string>> order;
        for (const auto& [address, when] : read) order.push_back({when, address});
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [when, address] : order) {
            byAge_.push_back(address);
            servers_.emplace(address, Entry{when, std::prev(byAge_.end())});
        }
        saved_ = changes_;
    }

    void KeepNewest(std::map<std::string, long long>* read) const {
        if (read->size() <= maxServers_) return;
        std::vector<long long> times;
        for (const auto& entry : *read) times.push_back(entry.second);
        auto cut = times.end() - static_cast<std::ptrdiff_t>(maxServers_);
        std::nth_element(times.begin(), cut, times.end());
        const long long oldestKept = *cut;
        // Ties at the cut keep the first ones by address; the count stays within the cap.
        size_t newer = 0;
        for (const auto& entry : *read) newer += entry.second > oldestKept;
        size_t tiesKept = maxServers_ - newer;
        std::erase_if(*read, [&](const auto& entry) {
            if (entry.second > oldestKept) return false;
            if (entry.second == oldestKept && tiesKept > 0) {
                tiesKept--;
                return false;
            }
            return true;
        });
    }

    // Written to a temporary file first so a crash never leaves half a list behind.
    bool Write(const std::string& text) const {
        const std::string temp = stateFile_ + ".tmp";
        {
            std::ofstream out(temp, std::ios::trunc | std::ios::binary);
            if (!out) return false;
            out << text;
            if (!out.flush()) return false;
        }
        return std::rename(temp.c_str(), stateFile_.c_str()) == 0;
    }

    std::mutex mutex_;
    std::map<std::string, Entry> servers_; // sorted by address: the order of the list
    std::list<std::string> byAge_;         // oldest registration first
    std::string body_;
    bool bodyStale_ = true;
    uint64_t bodyVersion_ = 0;
    uint64_t changes_ = 0;
    uint64_t saved_ = 0; // only the main thread touches it
    std::string stateFile_;
    long expireSeconds_;
    size_t maxServers_;
};

MHD_Response* TextResponse(const std::string& body) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response) MHD_add_response_header(response, "Content-Type", "text/plain");
    return response;
}

MHD_Result Reply(MHD_Connection* connection, unsigned status, const std::string& body) {
    MHD_Response* response = TextResponse(body);
    if (!response) return MHD_NO;
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// Everything the request handler uses; only the library's thread touches it.
struct Service {
    Registry* registry;
    // One answer shared by every connection sending the list (the library counts its users),
    // so a crowd of slow readers holds one copy of the list, not one each.
    MHD_Response* list = nullptr;
    uint64_t listVersion = 0;

    MHD_Result SendList(MHD_Connection* connection) {
        std::string body;
        if (registry->List(&listVersion, &body)) {
            if (list) MHD_destroy_response(list);
            list = TextResponse(body);
            if (!list) {
                listVersion = 0;
                return MHD_NO;
            }
        }
        return MHD_queue_response(connection, MHD_HTTP_OK, list);
    }
};

// Called once when the head has arrived, once per piece of body, and once at the end. The
// per-request pointer holds 1 + the body bytes seen so far, so a request allocates nothing.
MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** requestState) {
    auto* service = static_cast<Service*>(cls);
    Registry* registry = service->registry;
    auto seen = reinterpret_cast<uintptr_t>(*requestState);
    if (seen == 0) {
        *requestState = reinterpret_cast<void*>(uintptr_t{1});
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        seen = std::min<uintptr_t>(seen + *uploadSize, kMaxBodyBytes + 2);
        *uploadSize = 0;
        *requestState = reinterpret_cast<void*>(seen);
        return MHD_YES;
    }
    if (seen - 1 > kMaxBodyBytes) return Reply(connection, MHD_HTTP_CONTENT_TOO_LARGE, "");
    if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)
        return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "");
    // Only IPv4 callers can be listed: the list holds dotted addresses.
    auto caller = [connection] {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        return info ? Platform_Service_AddressText(info->client_addr) : std::string();
    };
    const std::string path = url;
    if (path == "/addzelvikserver.php") {
        const std::string address = caller();
        if (IsDottedIPv4(address)) registry->Add(address);
        return Reply(connection, MHD_HTTP_OK, "OK\n");
    }
    if (path == "/remzelvikserver.php") {
        registry->Remove(caller());
        return Reply(connection, MHD_HTTP_OK, "OK\n");
    }
    if (path == "/zelvikserver.txt") return service->SendList(connection);
    return Reply(connection, MHD_HTTP_NOT_FOUND, "");
}

bool ParseLong(const char* text, long* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < 0) return false;
    *out = v;
    return true;
}

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop = true;
}

} // namespace

int main(int argc, char** argv) {
    std::string address = "0.0.0.0";
    std::string stateFile = "zelvik_master.txt";
    long port = 80;
    long expire = 600;
    long maxServers = kDefaultMaxServers;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--address" && hasValue) {
            address = argv[++i];
        } else if (arg == "--port" && hasValue) {
            if (!ParseLong(argv[++i], &port) || port > 65535) {
                std::cerr << "zelvik_master: bad port " << argv[i] << "\n";
                return 2;
            }
        } else if (arg == "--state" && hasValue) {
            stateFile = argv[++i];
        } else if (arg == "--expire" && hasValue) {
            if (!ParseLong(argv[++i], &expire)) {
                std::cerr << "zelvik_master: bad expiry " << argv[i] << "\n";
                return 2;
            }
        } else if (arg == "--max-servers" && hasValue) {
            if (!ParseLong(argv[++i], &maxServers) || maxServers < 1 || maxServers > kMostServers) {
                std::cerr << "zelvik_master: bad server count " << argv[i] << " (1 to "
                          << kMostServers << ")\n";
                return 2;
            }
        } else {
            std::cerr << "zelvik_master: unknown option " << arg << "\n" << kUsage;
            return 2;
        }
    }

    // Each connection takes a descriptor: leave room for the listener, the state file and
    // the library's own.
    const uint64_t descriptors = Platform_Service_RaiseDescriptorLimit();
    const unsigned connections = static_cast<unsigned>(
        std::min<uint64_t>(kMaxConnections, descriptors > 96 ? descriptors - 32 : 64));

    uint16_t bound = 0;
    std::string why;
    const int listener =
        Platform_Service_Listen(address, static_cast<uint16_t>(port), 1024, &bound, &why);
    if (listener < 0) {
        std::cerr << "zelvik_master: cannot listen on " << address << ":" << port << ": " << why
                  << "\n";
        return 1;
    }

    Registry registry(stateFile, expire, static_cast<size_t>(maxServers));
    Service service{&registry};
    MHD_Daemon* daemon = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD, 0, nullptr, nullptr, &Answer, &service,
        MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(listener), MHD_OPTION_CONNECTION_LIMIT,
        connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kRequestHeadBytes, MHD_OPTION_END);
    if (!daemon) {
        std::cerr << "zelvik_master: cannot start the HTTP server on " << address << ":" << bound
                  << "\n";
        return 1;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // Port 0 takes any free port; the line below names the one taken.
    std::cout << "zelvik_master: listening on " << address << ":" << bound << std::endl;

    auto lastSave = std::chrono::steady_clock::now();
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSave >= std::chrono::seconds(1)) {
            registry.SaveIfChanged();
            lastSave = now;
        }
    }
    MHD_stop_daemon(daemon);
    if (service.list) MHD_destroy_response(service.list);
    registry.SaveIfChanged();
    return 0;
}
