// The network client's receive framing and every handler: a real player connects over
// loopback to a listener this target drives, which answers with the input bytes in pieces,
// then hangs up.
#include "../tests/NetTestHost.h"

#include "DoublyLinkedList.h"
#include "NetFuzz.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_NetClient.h"
#include "Vantrel_Adv_Player.h"
#include "Zelvik_ClientInterface.h"

#include <cstdlib>

namespace {

ClientInterface host{&kSilentHostOps};

uint32_t Listener() {
    static uint32_t l = [] {
        fuzz::LoadPlugins();
        const uint32_t h = Platform_Socket_Listen(0);
        if (!h) std::abort();
        return h;
    }();
    return l;
}

void Drain(uint32_t h) {
    uint8_t buf[4096];
    while (Platform_Socket_Readable(h, 0) == 1 && Platform_Socket_Receive(h, buf, sizeof buf) > 0) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t listener = Listener();
    Game* game = Game_Create(&host);
    if (!game) return 0;
    Player* p = Game_AddPlayer(game, 0);
    if (!p) std::abort();
    p->ops->SetName(p, u"Fuzz");
    uint32_t peer = 0;
    if (p->ops->Connect(p, u"127.0.0.1", Platform_Socket_LocalPort(listener), nullptr, nullptr,
                        nullptr) &&
        Platform_Socket_Readable(listener, 1000) == 1)
        peer = Platform_Socket_Accept(listener, nullptr);
    if (peer) {
        size_t pos = 0;
        uint32_t step = uint32_t(size) * 2654435761u;
        while (pos < size) {
            step = step * 1103515245u + 12345u;
            const size_t n = std::min<size_t>(size - pos, 1 + (step >> 16) % 1200);
            if (Platform_Socket_Send(peer, data + pos, uint32_t(n)) < 0) break;
            pos += n;
            Net_ClientProcess(p);
            p->ops->Update(p, 0, 0);
            Drain(peer);
        }
        for (int i = 0; i < 3; ++i) {
            Net_ClientProcess(p);
            p->ops->Update(p, 0, 0);
        }
        Platform_Socket_Close(peer);
        for (int i = 0; i < 3; ++i) Net_ClientProcess(p);
    }
    p->ops->Free(p);
    DoublyLinkedList_FreeList(game->players);
    std::free(game);
    return 0;
}
