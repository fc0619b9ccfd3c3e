// Writes the network targets' seeds from a real session: a server and two players of this
// engine, every byte between them relayed through a loopback relay that records both
// directions. Usage: fuzz_seed_capture <corpus folder>
#include "../tests/NetTestHost.h"

#include "DoublyLinkedList.h"
#include "FuzzCommon.h"
#include "NetFuzz.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_NetClient.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Server.h"
#include "Zelvik_ClientInterface.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

ClientInterface host{&kSilentHostOps};

// One relayed connection: player side a, server side b.
struct Relay {
    uint32_t a = 0, b = 0;
    Bytes up, down; // player to server, server to player
};

void Move(uint32_t from, uint32_t to, Bytes* record) {
    uint8_t buf[4096];
    while (Platform_Socket_Readable(from, 0) == 1) {
        const int32_t n = Platform_Socket_Receive(from, buf, sizeof buf);
        if (n <= 0) return;
        record->insert(record->end(), buf, buf + n);
        Platform_Socket_Send(to, buf, uint32_t(n));
    }
}

// Without the soft drops of the tests' script: the kept seeds were recorded with this one.
uint32_t SeedScript(uint32_t frame, uint32_t salt) {
    const uint32_t f = frame + salt * 7;
    uint32_t in = 0;
    if (f % 24 == 23) in |= Input_HardDrop;
    if (f % 24 < 4 && (f / 24) % 3 == 0) in |= Input_Left;
    if (f % 24 < 5 && (f / 24) % 3 == 1) in |= Input_Right;
    if (f % 24 == 8 || f % 48 == 10) in |= Input_RotCW;
    if (f % 96 == 12) in |= Input_Hold;
    return in;
}

void Save(const std::string& path, const Bytes& b) {
    if (!fuzz::WriteFile(path, b.data(), b.size())) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    fuzz::LoadPlugins();
    Server* s = Server_Create(u"Seed server", 0);
    if (!s || !s->ops->AddModeByName(s, u"PEXA Master") ||
        !s->ops->AddRotationSystemByName(s, u"Dalmor WEXO") ||
        !s->ops->SetRandomizerByName(s, u"PEXA")) {
        std::fprintf(stderr, "server or plug-ins missing\n");
        return 1;
    }
    const uint32_t listener = Platform_Socket_Listen(0);
    Relay relays[2];
    Game* games[2];
    Player* players[2];
    const char16_t* names[2] = {u"Anna", u"Bo"};
    for (int i = 0; i < 2; ++i) {
        games[i] = Game_Create(&host);
        players[i] = Game_AddPlayer(games[i], 0);
        players[i]->ops->SetName(players[i], names[i]);
    }
    // Connect blocks until accepted by the kernel; the relay accepts afterwards.
    for (int i = 0; i < 2; ++i) {
        players[i]->ops->Connect(players[i], u"127.0.0.1", Platform_Socket_LocalPort(listener),
                                 nullptr, nullptr, nullptr);
        if (Platform_Socket_Readable(listener, 2000) != 1) return 1;
        relays[i].a = Platform_Socket_Accept(listener, nullptr);
        relays[i].b = Platform_Socket_Connect("127.0.0.1", Server_GetPort(s), 2000);
    }
    auto pass = [&](bool frames, uint32_t frame) {
        for (int i = 0; i < 2; ++i) {
            Move(relays[i].a, relays[i].b, &relays[i].up);
            s->ops->Process(s);
            Move(relays[i].b, relays[i].a, &relays[i].down);
            Player* p = players[i];
            if (frames)
                p->ops->Update(p, SeedScript(p->FrameCounter + frame, uint32_t(i)), 1);
            else
                p->ops->Update(p, 0, -1);
        }
    };
    for (int k = 0; k < 200; ++k) pass(false, 0);
    for (Player* p : players)
        if (!p->ops->RequestStart(p)) std::fprintf(stderr, "player %u cannot start\n", p->Id);
    for (int k = 0; k < 200 && (players[0]->State == State_Idle || players[1]->State == State_Idle);
         ++k)
        pass(false, 0);
    for (Player* p : players) p->PlayerFlags &= ~uint32_t(Flag_Paused);
    // Frames follow the clock: about four seconds of play.
    for (int k = 0; k < 20000 && (players[0]->FrameCounter < 240 || players[1]->FrameCounter < 240);
         ++k) {
        pass(true, players[0]->FrameCounter);
        usleep(1000);
    }
    std::fprintf(stderr, "states %d %d frames %u %u\n", players[0]->State, players[1]->State,
                 players[0]->FrameCounter, players[1]->FrameCounter);
    for (Player* p : players) p->PlayerFlags |= Flag_Paused;
    for (int k = 0; k < 100; ++k) pass(false, 0);
    // Anna leaves: the server tells Bo.
    players[0]->ops->Free(players[0]);
    players[0] = nullptr;
    for (int k = 0; k < 100; ++k) {
        Move(relays[0].a, relays[0].b, &relays[0].up);
        Move(relays[1].a, relays[1].b, &relays[1].up);
        s->ops->Process(s);
        Move(relays[1].b, relays[1].a, &relays[1].down);
        players[1]->ops->Update(players[1], 0, -1);
    }
    const Bytes mark = {0xFF, 0xFE, 0xFD};
    Bytes both = relays[0].up;
    both.insert(both.end(), mark.begin(), mark.end());
    both.insert(both.end(), relays[1].up.begin(), relays[1].up.end());
    Save(out + "/net_server/session", both);
    Save(out + "/net_server/one_player", relays[0].up);
    Save(out + "/net_server/get_info", Bytes{NetCmd_GetInfo});
    Save(out + "/net_client/session", relays[1].down);
    Save(out + "/net_client/first_player", relays[0].down);
    Bytes framing = {0, 0x5A};
    framing.insert(framing.end(), relays[1].down.begin(), relays[1].down.end());
    Save(out + "/net_framing/to_player", framing);
    framing = {3, 0x11};
    framing.insert(framing.end(), relays[0].up.begin(), relays[0].up.end());
    Save(out + "/net_framing/to_server", framing);
    std::printf("up %zu + %zu bytes, down %zu + %zu bytes\n", relays[0].up.size(),
                relays[1].up.size(), relays[0].down.size(), relays[1].down.size());
    for (Player* p : players)
        if (p) p->ops->Free(p);
    for (Game* g : games) {
        DoublyLinkedList_FreeList(g->players);
        std::free(g);
    }
    for (Relay& r : relays) {
        Platform_Socket_Close(r.a);
        Platform_Socket_Close(r.b);
    }
    Platform_Socket_Close(listener);
    s->ops->Free(s);
    return 0;
}
