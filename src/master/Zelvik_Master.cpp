// zelvik_master: the master-server list that game servers register at and the server
// browser reads. Three resources over HTTP/1.0; the list survives restarts in a small file.
//
// One epoll thread watches every connection, so idle or slow callers cost a descriptor and a
// few kilobytes each and never hold up anybody else. Connections are capped overall (from the
// descriptor limit, raised at start) and per source address; a request must be whole within a
// few seconds however slowly it trickles, and an idle connection is dropped; the request line
// and headers must fit in a fixed buffer; the list is capped with the oldest registration
// going first; the state file is replaced whole by the main thread at most once a second,
// never on a request.
#include "Platform_File.h"
#include "Platform_Path.h"
#include "Platform_Service.h"
#include "Platform_Socket.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The engine takes at most this many addresses from the list, so a larger default would
// only list servers that no browser shows.
constexpr long kDefaultMaxServers = 4096;
constexpr long kMostServers = 1000000;
// Far more than the per-address cap lets a few hundred addresses fill.
constexpr uint64_t kMaxConnections = 65536;
constexpr uint64_t kWantedConnections = 16384;
// Descriptors kept back for the rest of the process: what it needs (standard streams,
// listener, epoll set, state file and its replacement, with a margin), and the room kept
// when the limit is high enough to spare it.
constexpr uint64_t kOwnDescriptors = 16;
constexpr uint64_t kSpareDescriptors = 64;
constexpr unsigned kConnectionsPerAddress = 16;
// Connections waiting to be accepted: room for a crowd that reconnects as fast as it is
// dropped, so an honest caller's connection is not turned away meanwhile (the kernel caps it
// at net.core.somaxconn).
constexpr int kBacklog = 4096;
constexpr unsigned kIdleSeconds = 10;
constexpr unsigned kRequestSeconds = 5;
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
    "Limits: 65536 connections at once (fewer when the descriptor limit is lower), 16 from\n"
    "one address; a request must arrive whole within 5 s and a connection idle for 10 s is\n"
    "closed; request line and headers must fit in 8 KB. A request whose framing or fields\n"
    "are ambiguous (two Content-Length, a Transfer-Encoding, a field name with a blank, no\n"
    "Host in HTTP/1.1) is refused with 400 or 501 and its connection closed.\n"
    "Exit codes: 1 when the address cannot be listened on, 2 for bad options, a descriptor\n"
    "limit too low for any connection or a state file that cannot be written.\n";

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
    }

    // Reads the list the state file kept; a missing file is an empty list. False with the
    // reason when a file is there that cannot be taken (a pipe, a device, far too large).
    bool Load(std::string* failure) {
        std::string bytes;
        if (!Platform_File_Read(stateFile_, StateFileCap(), bytes, failure)) {
            if (!Platform_Path_Exists(stateFile_)) return true;
            return false;
        }
        Parse(bytes);
        return true;
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

    // Writes the file when something changed since the last write (always when forced).
    // Only the copy into a string holds the lock; the disk is written without it. A failure
    // is told once per reason, and the recovery once; false with the reason on failure.
    bool SaveIfChanged(bool force = false, std::string* failure = nullptr) {
        std::string text;
        uint64_t changes;
        {
            std::lock_guard lock(mutex_);
            Expire(Now());
            if (changes_ == saved_ && !force) return true;
            changes = changes_;
            text.reserve(servers_.size() * 28);
            for (const std::string& address : byAge_)
                text += address + ' ' + std::to_string(servers_.at(address).when) + '\n';
        }
        std::string reason;
        if (!Platform_File_Replace(stateFile_, text, &reason)) {
            if (failure)
                *failure = reason;
            else if (reason != lastFailure_)
                std::cerr << "zelvik_master: cannot write the list to " << stateFile_ << ": "
                          << reason << std::endl;
            lastFailure_ = reason;
            return false;
        }
        if (!lastFailure_.empty())
            std::cerr << "zelvik_master: the list is written to " << stateFile_ << " again"
                      << std::endl;
        lastFailure_.clear();
        saved_ = changes;
        return true;
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

    // Room for every listed server on a line of its own ("255.255.255.255 " and a time), and
    // a few MB whatever the count: the master never writes more.
    size_t StateFileCap() const {
        constexpr size_t kLineBytes = 40;
        return std::max<size_t>(size_t{4} << 20, maxServers_ * kLineBytes);
    }

    // Line by line, so one damaged line costs only itself; a line too long to be ours is
    // skipped without being held.
    void Parse(std::string_view bytes) {
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
        for (const char c : bytes) {
            if (c == '\n') {
                take();
            } else if (c != '\r' && !tooLong) {
                line.push_back(c);
                if (line.size() > 64) tooLong = true;
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

    std::mutex mutex_;
    std::map<std::string, Entry> servers_; // sorted by address: the order of the list
    std::list<std::string> byAge_;         // oldest registration first
    std::string body_;
    bool bodyStale_ = true;
    uint64_t bodyVersion_ = 0;
    uint64_t changes_ = 0;
    uint64_t saved_ = 0;      // only the main thread touches it
    std::string lastFailure_; // likewise
    std::string stateFile_;
    long expireSeconds_;
    size_t maxServers_;
};

// Everything the request handler uses; only the service's thread touches it.
struct Service {
    Registry* registry;
    // One answer shared by every connection sending the list, so a crowd of slow readers
    // holds one copy of the list, not one each.
    std::shared_ptr<const std::string> list = std::make_shared<const std::string>();
    uint64_t listVersion = 0;
    const std::shared_ptr<const std::string> ok = std::make_shared<const std::string>("OK\n");

    PlatformServiceReply Answer(const PlatformServiceRequest& request) {
        if (request.method != "GET" && request.method != "HEAD") return {405, nullptr};
        // Only IPv4 callers can be listed: the list holds dotted addresses.
        const std::string caller(request.caller);
        if (request.path == "/addzelvikserver.php") {
            if (IsDottedIPv4(caller)) registry->Add(caller);
            return {200, ok}; // the engine counts an answer by its lines
        }
        if (request.path == "/remzelvikserver.php") {
            registry->Remove(caller);
            return {200, ok};
        }
        if (request.path == "/zelvikserver.txt") {
            std::string body;
            if (registry->List(&listVersion, &body))
                list = std::make_shared<const std::string>(std::move(body));
            return {200, list};
        }
        return {404, nullptr};
    }
};

// What the value of an option names, for the message when it is missing; null for an
// unknown option.
const char* ValueWanted(const std::string& option) {
    if (option == "--address") return "an address (such as 0.0.0.0)";
    if (option == "--port") return "a port number";
    if (option == "--state") return "a file name";
    if (option == "--expire") return "a number of seconds";
    if (option == "--max-servers") return "a number of servers";
    return nullptr;
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
    // A list written past a file-size limit fails with EFBIG and is told, as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    std::string address = "0.0.0.0";
    std::string stateFile = "zelvik_master.txt";
    long port = 80;
    long expire = 600;
    long maxServers = kDefaultMaxServers;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        const char* wants = ValueWanted(arg);
        if (!wants) {
            std::cerr << "zelvik_master: unknown option " << arg << "\n" << kUsage;
            return 2;
        }
        if (i + 1 >= argc) {
            std::cerr << "zelvik_master: " << arg << " needs " << wants << "\n" << kUsage;
            return 2;
        }
        const char* value = argv[++i];
        if (arg == "--address") {
            address = value;
        } else if (arg == "--port") {
            if (!ParseLong(value, &port) || port > 65535) {
                std::cerr << "zelvik_master: bad port " << value << "\n";
                return 2;
            }
        } else if (arg == "--state") {
            stateFile = value;
        } else if (arg == "--expire") {
            if (!ParseLong(value, &expire)) {
                std::cerr << "zelvik_master: bad expiry " << value << "\n";
                return 2;
            }
        } else if (arg == "--max-servers") {
            if (!ParseLong(value, &maxServers) || maxServers < 1 || maxServers > kMostServers) {
                std::cerr << "zelvik_master: bad server count " << value << " (1 to "
                          << kMostServers << ")\n";
                return 2;
            }
        }
    }

    // Each connection takes a descriptor: the rest of the process keeps what it needs for
    // itself (the standard streams, the listener, the epoll set, the state file being
    // replaced), and some room to spare when the limit allows.
    const uint64_t descriptors = Platform_Socket_RaiseDescriptorLimit();
    const uint64_t kept = std::min(kSpareDescriptors, std::max(kOwnDescriptors, descriptors / 2));
    const uint64_t connections =
        std::min(kMaxConnections, descriptors > kept ? descriptors - kept : 0);
    if (connections == 0) {
        std::cerr << "zelvik_master: no connection fits: the descriptor limit (ulimit -n) is "
                  << descriptors << "; the master needs " << kOwnDescriptors + 1 << " at least\n";
        return 2;
    }
    if (connections < kWantedConnections)
        std::cerr << "zelvik_master: only " << connections
                  << " connections at once: the descriptor limit (ulimit -n) is " << descriptors
                  << std::endl;

    uint16_t bound = 0;
    std::string why;
    const int listener =
        Platform_Service_Listen(address, static_cast<uint16_t>(port), kBacklog, &bound, &why);
    if (listener < 0) {
        std::cerr << "zelvik_master: cannot listen on " << address << ":" << port << ": " << why
                  << "\n";
        return 1;
    }

    Registry registry(stateFile, expire, static_cast<size_t>(maxServers));
    std::string failure;
    if (!registry.Load(&failure)) {
        std::cerr << "zelvik_master: cannot read the list from " << stateFile << ": " << failure
                  << "\n";
        close(listener);
        return 2;
    }
    // A list that could never be kept is refused now, not found missing after a restart.
    if (!registry.SaveIfChanged(true, &failure)) {
        std::cerr << "zelvik_master: cannot write the list to " << stateFile << ": " << failure
                  << "\n";
        close(listener);
        return 2;
    }
    Service service{&registry};
    PlatformServiceLimits limits;
    limits.connections = static_cast<size_t>(connections);
    limits.perAddress = kConnectionsPerAddress;
    limits.requestSeconds = kRequestSeconds;
    limits.idleSeconds = kIdleSeconds;
    limits.headBytes = kRequestHeadBytes;
    limits.bodyBytes = kMaxBodyBytes;
    std::atomic<bool> serviceStop{false};
    std::atomic<bool> serviceFailed{false};
    std::thread serving([&] {
        std::string why;
        if (!Platform_Service_Run(
                listener, limits,
                [&service](const PlatformServiceRequest& r) { return service.Answer(r); },
                serviceStop, &why)) {
            std::cerr << "zelvik_master: cannot serve on " << address << ":" << bound << ": " << why
                      << std::endl;
            serviceFailed = true;
        }
    });
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // Port 0 takes any free port; the line below names the one taken.
    std::cout << "zelvik_master: listening on " << address << ":" << bound << std::endl;

    auto lastSave = std::chrono::steady_clock::now();
    while (!g_stop && !serviceFailed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSave >= std::chrono::seconds(1)) {
            registry.SaveIfChanged();
            lastSave = now;
        }
    }
    serviceStop = true;
    serving.join();
    close(listener);
    registry.SaveIfChanged();
    return serviceFailed ? 1 : 0;
}
