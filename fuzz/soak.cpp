// Soak run: one server and a pool of scripted clients that join, play whole games in step,
// sometimes leave mid-game, leave and come back, for the given minutes. At the end: every
// copy of every finished game agreed, no out-of-sync line anywhere, and the resident size
// after the first rounds against the last. Leaks are LeakSanitizer's to report at exit.
// Usage: zelvik_soak <minutes> [clients] [most players per game]
#include "../tests/NetTestHost.h"

#include "DoublyLinkedList.h"
#include "NetFuzz.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_NetClient.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Server.h"
#include "Zelvik_ClientInterface.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Host {
    ClientInterface ci;
    uint64_t outOfSync = 0;
    bool connected = false;
};
Host* HostOf(ClientInterface* ci) {
    return reinterpret_cast<Host*>(ci);
}
bool Contains(const char16_t* t, const std::u16string& what) {
    return std::u16string(t).find(what) != std::u16string::npos;
}
const ClientInterfaceOps kOps = {
    [](ClientInterface*, int32_t, int32_t, uint32_t, int32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface*, int32_t, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface* ci, const char16_t* t) {
        if (Contains(t, u"out of sync")) HostOf(ci)->outOfSync++;
        return 0;
    },
    [](ClientInterface* ci, const char16_t* t) {
        if (Contains(t, u"out of sync")) HostOf(ci)->outOfSync++;
        return 0;
    },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*) { return 0; },
    [](ClientInterface*, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface*, const uint8_t*, int32_t, uintptr_t) { return 0; },
};

uint64_t outOfSyncLines = 0;

struct Client {
    Host host;
    Game* game = nullptr;
    Player* player = nullptr;
    uint32_t salt;
    Client(const std::u16string& name, uint16_t port, uint32_t s) : salt(s) {
        host.ci.ops = &kOps;
        game = Game_Create(&host.ci);
        player = game ? Game_AddPlayer(game, 0) : nullptr;
        if (!player) return;
        player->ops->SetName(player, name.c_str());
        player->ops->Connect(
            player, u"127.0.0.1", port,
            [](Player* p) { HostOf(p->Game->clientInterface)->connected = true; }, nullptr,
            nullptr);
    }
    ~Client() {
        outOfSyncLines += host.outOfSync;
        if (player) player->ops->Free(player);
        if (game) {
            DoublyLinkedList_FreeList(game->players);
            std::free(game);
        }
    }
};

long ResidentKiB() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

uint32_t Now() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <minutes> [clients] [most players per game]\n", argv[0]);
        return 2;
    }
    const double minutes = std::atof(argv[1]);
    const int pool = argc > 2 ? std::max(2, std::atoi(argv[2])) : 64;
    const int most = argc > 3 ? std::max(2, std::atoi(argv[3])) : 8;
    fuzz::LoadPlugins();
    Server* s = Server_Create(u"Soak", 0);
    if (!s || !s->ops->AddModeByName(s, u"PEXA Master") ||
        !s->ops->AddRotationSystemByName(s, u"Dalmor WEXO") ||
        !s->ops->SetRandomizerByName(s, u"PEXA")) {
        std::fprintf(stderr, "soak: server or plug-ins missing\n");
        return 1;
    }
    s->ops->SetMessageCallback(s, ServerLog);
    const uint16_t port = Server_GetPort(s);
    std::mt19937 rng(12345);
    std::vector<int> joins(size_t(pool), 0);
    uint64_t rounds = 0, games = 0, frames = 0, mismatches = 0, failures = 0, midGameLeaves = 0;
    long rssWarm = 0, rssMax = 0, rssLast = 0;
    const uint32_t end = Now() + uint32_t(minutes * 60000.0);

    auto pump = [&](std::vector<std::unique_ptr<Client>>& cs, const std::function<bool()>& done,
                    int ms) {
        const uint32_t start = Now();
        while (!done()) {
            if (Now() - start > uint32_t(ms)) return false;
            s->ops->Process(s);
            for (auto& c : cs) c->player->ops->Update(c->player, 0, -1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    };

    while (int32_t(end - Now()) > 0 || rounds == 0) {
        ++rounds;
        // Who plays this round.
        const int k = 2 + int(rng() % uint32_t(most - 1));
        std::vector<int> who;
        while (int(who.size()) < k) {
            const int b = int(rng() % uint32_t(pool));
            if (std::find(who.begin(), who.end(), b) == who.end()) who.push_back(b);
        }
        std::vector<std::unique_ptr<Client>> cs;
        for (int b : who) {
            std::u16string name = u"Bot";
            for (char ch : std::to_string(b)) name += char16_t(ch);
            cs.push_back(std::make_unique<Client>(name, port, uint32_t(b)));
            ++joins[size_t(b)];
        }
        bool ok = pump(
            cs,
            [&] {
                for (auto& c : cs)
                    if (!c->host.connected ||
                        DoublyLinkedList_CountList(c->player->RemotePlayers) != k - 1)
                        return false;
                return true;
            },
            10000);
        for (auto& c : cs) ok = ok && c->player->ops->RequestStart(c->player) == 1;
        ok = ok && pump(
                       cs,
                       [&] {
                           for (auto& c : cs)
                               if (c->player->State == State_Idle || c->player->ReadyFlag)
                                   return false;
                           return true;
                       },
                       10000);
        if (!ok) {
            ++failures;
            std::fprintf(stderr, "soak: round %llu: players did not join or start\n",
                         (unsigned long long)rounds);
        } else {
            ++games;
            // Odd: the last frame (even index) is sent at once, as a finished game does.
            const uint32_t length = (120 + rng() % 361) | 1;
            const bool leaver = rng() % 3 == 0;
            for (auto& c : cs) c->player->PlayerFlags &= ~uint32_t(Flag_Paused);
            const uint32_t deadline = Now() + 60000;
            for (;;) {
                bool all = true;
                for (auto& c : cs) {
                    Player* p = c->player;
                    if (p->FrameCounter < length) {
                        p->ops->Update(p, Script(p->FrameCounter, c->salt), 1);
                        all = false;
                    }
                    // A paused player still runs the frames its clock owed; on a slow machine that
                    // would run past the end, so the target stops here too.
                    if (p->FrameCounter == length) {
                        p->PlayerFlags |= Flag_Paused;
                        p->FrameTarget = length;
                    }
                }
                if (leaver && cs.size() > 2 && cs[0]->player->FrameCounter == length / 2) {
                    cs.erase(cs.begin());
                    ++midGameLeaves;
                }
                s->ops->Process(s);
                if (all || int32_t(deadline - Now()) <= 0) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            frames += uint64_t(length) * cs.size();
            // Every copy catches up, then all must agree.
            const bool caught = pump(
                cs,
                [&] {
                    for (auto& c : cs) {
                        Player* h = HeldPlayer(s, c->player->Id);
                        if (!h || h->FrameCounter != length) return false;
                        for (auto& o : cs) {
                            if (o == c) continue;
                            Player* r = Net_FindPlayer(o->player, c->player->Id);
                            if (!r || r == o->player || r->FrameCounter != length) return false;
                        }
                    }
                    return true;
                },
                20000);
            if (!caught) {
                ++failures;
                std::fprintf(stderr, "soak: round %llu: copies did not reach frame %u\n",
                             (unsigned long long)rounds, length);
            }
            for (auto& c : cs) {
                const uint32_t sum = c->player->ops->GetFieldChecksum(c->player);
                if (Player* h = HeldPlayer(s, c->player->Id))
                    mismatches += h->ops->GetFieldChecksum(h) != sum;
                for (auto& o : cs) {
                    if (o == c) continue;
                    Player* r = Net_FindPlayer(o->player, c->player->Id);
                    if (r && r != o->player) mismatches += r->ops->GetFieldChecksum(r) != sum;
                }
            }
        }
        cs.clear();
        std::vector<std::unique_ptr<Client>> none;
        if (!pump(
                none, [&] { return s->ops->CountClients(s) == 0; }, 10000)) {
            ++failures;
            std::fprintf(stderr, "soak: round %llu: the server kept clients\n",
                         (unsigned long long)rounds);
        }
        rssLast = ResidentKiB();
        rssMax = std::max(rssMax, rssLast);
        if (rounds == 3) rssWarm = rssLast;
    }
    if (!rssWarm) rssWarm = rssLast;
    uint64_t serverWarnings = 0;
    for (const auto& l : serverLines) serverWarnings += l.rfind(u"Warning: ", 0) == 0;
    int joined = 0;
    for (int j : joins) joined += j > 0;
    std::printf("soak: %.1f min, %llu rounds, %llu games, %llu player frames, %d of %d clients "
                "joined, %llu mid-game leaves\n",
                minutes, (unsigned long long)rounds, (unsigned long long)games,
                (unsigned long long)frames, joined, pool, (unsigned long long)midGameLeaves);
    std::printf("soak: checksum mismatches %llu, out-of-sync lines %llu, server warnings %llu, "
                "failed rounds %llu\n",
                (unsigned long long)mismatches, (unsigned long long)outOfSyncLines,
                (unsigned long long)serverWarnings, (unsigned long long)failures);
    std::printf("soak: resident KiB after round 3 %ld, last %ld, most %ld\n", rssWarm, rssLast,
                rssMax);
    s->ops->Free(s);
    // Resident size may wander with the allocator; steady growth past this is a leak.
    const bool rssOk = rssLast <= rssWarm + rssWarm / 4 + 32 * 1024;
    if (!rssOk) std::printf("soak: resident size grew\n");
    return (mismatches || outOfSyncLines || serverWarnings || failures || !rssOk) ? 1 : 0;
}
