// The game server's receive framing and every handler, fed through real loopback
// connections: each input is up to four clients' byte streams (split at FF FE FD), sent in
// turn while the server runs, then the clients hang up. The server lives across inputs, as
// a real one does across its clients.
#include "NetFuzz.h"
#include "Vantrel_Adv_Server.h"

#include <cstdlib>
#include <vector>

namespace {

Server* TheServer() {
    static Server* s = [] {
        fuzz::LoadPlugins();
        Server* server = Server_Create(u"Fuzz server", 0);
        if (!server) std::abort();
        server->ops->AddModeByName(server, u"PEXA Master");
        server->ops->AddRotationSystemByName(server, u"Dalmor WEXO");
        server->ops->SetRandomizerByName(server, u"PEXA");
        return server;
    }();
    return s;
}

void Drain(uint32_t h) {
    uint8_t buf[4096];
    while (Platform_Socket_Readable(h, 0) == 1 && Platform_Socket_Receive(h, buf, sizeof buf) > 0) {
    }
}

struct Run {
    Server* s;
    std::vector<uint32_t> clients;
};

void OneStream(const uint8_t* data, size_t size, size_t, void* ctx) {
    auto* run = static_cast<Run*>(ctx);
    const uint32_t h = Platform_Socket_Connect("127.0.0.1", Server_GetPort(run->s), 1000);
    if (!h) return;
    run->clients.push_back(h);
    // Sent in pieces with server passes between, so packets straddle reads.
    size_t pos = 0;
    uint32_t step = uint32_t(size) * 2654435761u;
    while (pos < size) {
        step = step * 1103515245u + 12345u;
        const size_t n = std::min<size_t>(size - pos, 1 + (step >> 16) % 1200);
        if (Platform_Socket_Send(h, data + pos, uint32_t(n)) < 0) break;
        pos += n;
        run->s->ops->Process(run->s);
        Drain(h);
    }
    for (int i = 0; i < 3; ++i) run->s->ops->Process(run->s);
    Drain(h);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Run run{TheServer(), {}};
    fuzz::SplitStreams(data, size, 4, OneStream, &run);
    for (int i = 0; i < 3; ++i) run.s->ops->Process(run.s);
    for (uint32_t h : run.clients) {
        Drain(h);
        Platform_Socket_Close(h);
    }
    for (int i = 0; i < 4; ++i) run.s->ops->Process(run.s);
    return 0;
}
