// What the networked-player tests share: a host that keeps its log and server-message lines and
// ignores drawing and sound, the run folder's plug-ins, the release of a test's game, a server
// with the run folder's rules, connecting clients, scripted input and stepping two clients in
// lockstep until every copy of their games can be compared.
#pragma once

#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_NetClient.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Vantrel_Adv_Server.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Game.h"
#include "Zelvik_Player.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct TextHost {
    ClientInterface ci; // first: the callbacks find the host from it
    std::vector<std::u16string> log, chat;

    TextHost() { ci.ops = &kOps; }
    static TextHost* Of(ClientInterface* ci) { return reinterpret_cast<TextHost*>(ci); }

    static const ClientInterfaceOps kOps;
};

// Defined where TextHost is complete: the callbacks reach into it.
inline const ClientInterfaceOps TextHost::kOps = {
    [](ClientInterface*, int32_t, int32_t, uint32_t, int32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface*, int32_t, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface* ci, const char16_t* t) {
        Of(ci)->log.emplace_back(t);
        return 0;
    },
    [](ClientInterface* ci, const char16_t* t) {
        Of(ci)->chat.emplace_back(t);
        return 0;
    },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*) { return 0; },
    [](ClientInterface*, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface*, const uint8_t*, int32_t, uintptr_t) { return 0; },
};

// A host that keeps nothing: for programs that only drive the protocol.
inline const ClientInterfaceOps kSilentHostOps = {
    [](ClientInterface*, int32_t, int32_t, uint32_t, int32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface*, int32_t, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface*, const char16_t*) { return 0; },
    [](ClientInterface*, const char16_t*) { return 0; },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*) { return 0; },
    [](ClientInterface*, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface*, const uint8_t*, int32_t, uintptr_t) { return 0; },
};

// Clocks and the run folder's mode, randomizer and rotation-system plug-ins.
inline void LoadRunFolderPlugins() {
    HighResTimer_ChooseClocks();
    Plugin_Init();
    const std::string dir = std::string(ZELVIK_GAME_DIR) + "/dlls/";
    for (const char* sub : {"modes/", "randomizer/", "rotationsystem/"})
        Plugin_ScanFolder(Platform_Path_FromUtf8(dir + sub));
}

// Games have no free operation: the player goes, then the game's list and the game.
inline void FreeGame(Game* game, Player* player) {
    if (player) player->ops->Free(player);
    if (game) {
        DoublyLinkedList_FreeList(game->players);
        std::free(game);
    }
}

// The server's message lines.
inline std::vector<std::u16string> serverLines;
inline int32_t ServerLog(const char16_t* text) {
    serverLines.emplace_back(text);
    return 0;
}
inline size_t ServerLinesStartingWith(const std::u16string& prefix) {
    size_t n = 0;
    for (const auto& l : serverLines) n += l.rfind(prefix, 0) == 0;
    return n;
}

inline const ZelvikID* FirstOf(int32_t kind) {
    return Plugin_GetInfo(kind, 0);
}

// The run folder's rules for a server: its master mode (else the first mode built), the first
// rotation system and randomizer. False when a plug-in is missing or refused.
inline bool AddRunFolderRules(Server* s) {
    const ZelvikID* mode = Plugin_FindByName(PluginKind_Mode, u"PEXA Master");
    if (!mode) mode = FirstOf(PluginKind_Mode);
    const ZelvikID* rs = FirstOf(PluginKind_RotationSystem);
    const ZelvikID* rnd = FirstOf(PluginKind_Randomizer);
    if (!mode || !rs || !rnd) return false;
    const bool modeAdded = s->ops->AddMode(s, mode) == 1;
    const bool rsAdded = s->ops->AddRotationSystem(s, rs) == 1;
    return s->ops->SetRandomizer(s, rnd) == 1 && modeAdded && rsAdded;
}

// A loopback server on a free port with the run folder's rules, its lines kept in serverLines
// (cleared). Null when it cannot start or a rule is missing.
inline Server* CreateRuledServer(const char16_t* name) {
    serverLines.clear();
    Server* s = Server_Create(name, 0);
    if (!s) return nullptr;
    s->ops->SetMessageCallback(s, ServerLog);
    if (AddRunFolderRules(s)) return s;
    s->ops->Free(s);
    return nullptr;
}

// A host that also keeps the remote players it was told about.
struct NetHost : TextHost {
    std::vector<Player*> joined, left;
    bool connected = false;

    static NetHost* OfPlayer(Player* p) {
        return static_cast<NetHost*>(TextHost::Of(p->Game->clientInterface));
    }
};

// One local player in a game of its own, connecting to a loopback server as it is made.
struct NetClient {
    NetHost host;
    Game* game = nullptr;
    Player* player = nullptr;

    NetClient(const char16_t* name, uint16_t port) {
        game = Game_Create(&host.ci);
        player = game ? Game_AddPlayer(game, 0) : nullptr;
        if (!player) return;
        player->ops->SetName(player, name);
        player->ops->Connect(
            player, u"127.0.0.1", port, [](Player* p) { NetHost::OfPlayer(p)->connected = true; },
            [](Player* p, Player* remote) {
                remote->UserData = p->UserData;
                NetHost::OfPlayer(p)->joined.push_back(remote);
            },
            [](Player* p, Player* remote) { NetHost::OfPlayer(p)->left.push_back(remote); });
    }
    ~NetClient() { FreeGame(game, player); }
    NetClient(const NetClient&) = delete;
    NetClient& operator=(const NetClient&) = delete;
    Player* Remote(uint32_t id) {
        Player* r = Net_FindPlayer(player, id);
        return r == player ? nullptr : r;
    }
};

// The server's copy of player id.
inline Player* HeldPlayer(Server* s, uint32_t id) {
    for (auto* e = s->Clients->First; e; e = e->Next) {
        auto* c = static_cast<ServerClient*>(DoublyLinkedList_Data(e));
        if (c->HeldPlayer && c->HeldPlayer->Id == id) return c->HeldPlayer;
    }
    return nullptr;
}

// Scripted input: moves, rotations, holds and a hard drop every 24 frames.
inline uint32_t Script(uint32_t frame, uint32_t salt) {
    const uint32_t f = frame + salt * 7;
    uint32_t in = 0;
    if (f % 24 == 23) in |= Input_HardDrop;
    if (f % 24 < 4 && (f / 24) % 3 == 0) in |= Input_Left;
    if (f % 24 < 5 && (f / 24) % 3 == 1) in |= Input_Right;
    if (f % 24 == 8 || f % 48 == 10) in |= Input_RotCW;
    if (f % 96 == 12) in |= Input_Hold;
    if (f % 24 >= 14 && f % 24 < 18) in |= Input_SoftDrop;
    return in;
}

// Passes of the server and the clients (no frames for paused or idle players, `each` after
// every pass) until done() or the time is up.
template <typename Done>
bool PumpNet(Server* s, const std::vector<NetClient*>& clients, Done done, int ms = 3000,
             const std::function<void()>& each = {}) {
    const uint32_t start = GetMilliseconds();
    while (!done()) {
        if (uint32_t(GetMilliseconds() - start) > uint32_t(ms)) return false;
        s->ops->Process(s);
        for (NetClient* c : clients) c->player->ops->Update(c->player, 0, -1);
        if (each) each();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Both clients run frames up to `frames` in step (one frame per update, scripted by Script with
// salt 0 for x and 1 for y), the server passes in between, then pause. holdTarget also stops
// the frames a paused player's clock still owes. `attack(x's frame)` runs every pass.
inline void StepInStep(Server* s, NetClient& x, NetClient& y, uint32_t frames, bool holdTarget,
                       const std::function<void(uint32_t)>& attack = {}) {
    const uint32_t deadline = GetMilliseconds() + 30000;
    while ((x.player->FrameCounter < frames || y.player->FrameCounter < frames) &&
           int32_t(deadline - GetMilliseconds()) > 0) {
        for (NetClient* c : {&x, &y}) {
            Player* p = c->player;
            if (p->FrameCounter < frames)
                p->ops->Update(p, Script(p->FrameCounter, p == y.player), 1);
            if (p->FrameCounter == frames) {
                p->PlayerFlags |= Flag_Paused;
                if (holdTarget) p->FrameTarget = frames;
            }
        }
        if (attack) attack(x.player->FrameCounter);
        s->ops->Process(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Every copy of two clients' players: each client's own, the server's and the other client's.
struct NetCopies {
    Player *a = nullptr, *heldA = nullptr, *remoteA = nullptr;
    Player *b = nullptr, *heldB = nullptr, *remoteB = nullptr;

    NetCopies(Server* s, NetClient& x, NetClient& y)
        : a(x.player), heldA(HeldPlayer(s, x.player->Id)), remoteA(y.Remote(x.player->Id)),
          b(y.player), heldB(HeldPlayer(s, y.player->Id)), remoteB(x.Remote(y.player->Id)) {}
    bool Complete() const { return heldA && heldB && remoteA && remoteB; }
    bool AllAt(uint32_t frame) const {
        return heldA->FrameCounter == frame && heldB->FrameCounter == frame &&
               remoteB->FrameCounter == frame && remoteA->FrameCounter == frame;
    }
    static uint32_t Sum(Player* p) { return p->ops->GetFieldChecksum(p); }
};
