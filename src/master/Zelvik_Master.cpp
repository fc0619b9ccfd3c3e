// zelvik_master: the master-server list that game servers register at and the server
// browser reads. Three resources over HTTP/1.0; the list survives restarts in a small file.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage: zelvik_master [options]\n"
    "Keeps the list of Zelvik game servers that the server browser shows.\n"
    "\n"
    "  --address ADDR   address to listen on (default 0.0.0.0)\n"
    "  --port N         port to listen on (default 80; 0 takes a free one)\n"
    "  --state FILE     file that keeps the list across restarts (default zelvik_master.txt)\n"
    "  --expire SECONDS forget a server that has not registered again for this long\n"
    "                   (default 600; 0 keeps servers until they unregister)\n"
    "  --help           show this text\n"
    "\n"
    "Resources: /addzelvikserver.php registers the caller's address,\n"
    "/remzelvikserver.php removes it, /zelvikserver.txt lists one address per line.\n";

using Clock = std::chrono::system_clock;

// Registered servers: dotted IPv4 address -> last registration (seconds since the epoch).
class Registry {
public:
    Registry(std::string stateFile, long expireSeconds)
        : stateFile_(std::move(stateFile)), expireSeconds_(expireSeconds) {
        Load();
    }

    void Add(const std::string& address) {
        std::lock_guard lock(mutex_);
        servers_[address] = Now();
        Save();
    }

    void Remove(const std::string& address) {
        std::lock_guard lock(mutex_);
        if (servers_.erase(address)) Save();
    }

    std::string List() {
        std::lock_guard lock(mutex_);
        Expire();
        std::string body;
        for (const auto& [address, when] : servers_) body += address + "\n";
        return body;
    }

private:
    static long long Now() {
        return std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch())
            .count();
    }

    void Expire() {
        if (expireSeconds_ <= 0) return;
        const long long limit = Now() - expireSeconds_;
        const auto before = servers_.size();
        std::erase_if(servers_, [limit](const auto& entry) { return entry.second < limit; });
        if (servers_.size() != before) Save();
    }

    // Line by line, so one damaged line costs only itself.
    void Load() {
        std::ifstream in(stateFile_);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string address;
            long long when = 0;
            if (fields >> address >> when && IsDottedIPv4(address)) servers_[address] = when;
        }
    }

    // Written to a temporary file first so a crash never leaves half a list behind.
    void Save() {
        const std::string temp = stateFile_ + ".tmp";
        {
            std::ofstream out(temp, std::ios::trunc);
            if (!out) return;
            for (const auto& [address, when] : servers_) out << address << ' ' << when << '\n';
            if (!out.flush()) return;
        }
        std::rename(temp.c_str(), stateFile_.c_str());
    }

public:
    static bool IsDottedIPv4(const std::string& text) {
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

private:
    std::mutex mutex_;
    std::map<std::string, long long> servers_;
    std::string stateFile_;
    long expireSeconds_;
};

bool ParseLong(const char* text, long* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < 0) return false;
    *out = v;
    return true;
}

httplib::Server* g_server = nullptr;

void OnSignal(int) {
    if (g_server) g_server->stop();
}

} // namespace

int main(int argc, char** argv) {
    std::string address = "0.0.0.0";
    std::string stateFile = "zelvik_master.txt";
    long port = 80;
    long expire = 600;
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
        } else {
            std::cerr << "zelvik_master: unknown option " << arg << "\n" << kUsage;
            return 2;
        }
    }

    Registry registry(stateFile, expire);
    httplib::Server server;
    // Only IPv4 callers can be listed: the list holds dotted addresses.
    auto caller = [](const httplib::Request& req) {
        std::string a = req.remote_addr;
        if (a.rfind("::ffff:", 0) == 0) a = a.substr(7);
        return a;
    };
    server.Get("/addzelvikserver.php", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string a = caller(req);
        if (Registry::IsDottedIPv4(a)) registry.Add(a);
        res.set_content("OK\n", "text/plain");
    });
    server.Get("/remzelvikserver.php", [&](const httplib::Request& req, httplib::Response& res) {
        registry.Remove(caller(req));
        res.set_content("OK\n", "text/plain");
    });
    server.Get("/zelvikserver.txt", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(registry.List(), "text/plain");
    });

    // Requests carry no body: a caller must not make us hold one.
    server.set_payload_max_length(4096);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);

    g_server = &server;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // Port 0 takes any free port; the line below names the one taken.
    const long wanted = port;
    if (port == 0) {
        port = server.bind_to_any_port(address.c_str());
        if (port <= 0) port = -1;
    } else if (!server.bind_to_port(address.c_str(), static_cast<int>(port))) {
        port = -1;
    }
    if (port < 0) {
        std::cerr << "zelvik_master: cannot listen on " << address << ":" << wanted << "\n";
        return 1;
    }
    std::cout << "zelvik_master: listening on " << address << ":" << port << std::endl;
    server.listen_after_bind();
    return 0;
}
