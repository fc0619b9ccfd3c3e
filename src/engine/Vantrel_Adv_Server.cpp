#include "Vantrel_Adv_Server.h"

#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Platform_Socket.h"
#include "Vantrel_Adv.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_NetClient.h"
#include "Vantrel_Adv_NetPackets.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Vantrel_Adv_ServerList.h"
#include "Vantrel_Common.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Game.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Player.h"
#include "Zelvik_Randomizer.h"
#include "Zelvik_RotationSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

Game* Game_Create(ClientInterface* clientInterface);

namespace {

constexpr uint32_t kChunk = 4096;
// Per client and pass: a client that keeps sending cannot starve the games or
// the others.
constexpr uint32_t kReadBudget = 64 * 1024;
// Past the send budget, a client with this much still waiting is behind: it loses its packets
// (and goes) rather than a client that keeps up.
constexpr uint64_t kReaderBehind = 64 * 1024;
// Memory goes back to the system once this much was let go (a player and its field taken as
// kPlayerBytes): a stranger joining and leaving now and then does not make every second trim.
constexpr uint64_t kPlayerBytes = 64 * 1024;
constexpr uint64_t kTrimAfter = 16u << 20;
// A burst of reconnecting connections must not queue an honest one behind many passes.
constexpr int32_t kAcceptsPerPass = 1024;
// Connections past their join deadline closed per pass.
constexpr int32_t kClosesPerPass = 1024;
// Ready connections handled per pass; the kernel reports the rest in later passes.
constexpr uint32_t kReadyPerPass = 4096;
// Descriptors kept free for the process itself (plug-ins, logs, the master's socket).
constexpr uint64_t kDescriptorReserve = 256;

// Every pass works on the ready connections and the joined players only, never on all
// connections: thousands of silent ones from many addresses must not slow the game down.
struct Tracking {
    std::unordered_set<ServerClient*> live;
    // Connections waiting to join, per address, in connect order.
    std::unordered_map<uint32_t, std::vector<ServerClient*>> waiting;
    // Connections in connect order (so in order of their join deadline); the order number tells
    // a record reused after a close from the one queued.
    std::deque<std::pair<ServerClient*, uint64_t>> deadlines;
    std::vector<ServerClient*> players;           // joined, in connect order
    std::vector<ServerClient*> touched;           // read or accepted this pass
    std::unordered_set<ServerClient*> backlogged; // with bytes the kernel has not taken yet
    std::vector<ServerClient*> gone;              // closed this pass, freed at its end
    std::vector<PlatformReadyEntry> ready;
};

bool networkReady = false;

// The server with what only this unit uses: the readiness set over the listener (key 0) and
// every client (key: its ServerClient), and when the last pass began.
struct ServerState {
    Server base;
    uint32_t WaitSet;
    uint64_t NextOrder;
    std::chrono::steady_clock::time_point LastPass;
    int32_t PassGapUs;
    int32_t WaitingPerAddress;
    int32_t JoinDeadlineMs;
    int32_t SummaryMs;
    uint32_t LastSummary;  // GetMilliseconds of the last summary (or the creation)
    uint32_t LastDeadline; // GetMilliseconds of the last look for connections past it
    // Since the last summary.
    uint32_t InfoQueries;
    uint32_t TimedOut; // did not join within the deadline
    uint32_t Crowded;  // closed: too many waiting from their address
    uint32_t Full;     // refused: the server held Capacity connections
    uint32_t Hellos;   // handshakes accepted
    uint32_t Refused;  // joins refused without a line of their own
    uint32_t Unruly;   // connections closed for what they sent, without a line of their own
    uint32_t WrongIds; // packets with another player's id, without a line of their own
    // Addresses named in the log this period, per kind of line (a few: the summary counts the
    // rest), so one address repeating itself costs one line a period.
    std::pair<uint32_t, uint32_t> Named[16];
    uint32_t NamedCount;
    int32_t PlayersPerAddress;
    int32_t MaxPlayers;
    uint64_t Queued;   // bytes waiting in every client's send queue, as last looked at
    uint64_t Gathered; // bytes gathered this pass, not yet handed to the send queues
    uint64_t Shed;     // bytes let go since the last trim, about
    uint32_t LastTrim; // GetMilliseconds of the last trim
    // Connections held at most: a flood beyond it is turned away at the door instead of
    // exhausting descriptors.
    int32_t Capacity;
    Tracking* Track;
};
static_assert(offsetof(ServerState, base) == 0);

ServerState* State(Server* s) {
    return reinterpret_cast<ServerState*>(s);
}

// The client interface of server-held players: log and server-message lines go
// to the host's callback, everything else is a no-op.
struct ServerCallbacks {
    ClientInterface base;
    Server* server;
};

int32_t ForwardLine(ClientInterface* ci, const char16_t* text) {
    Server* s = reinterpret_cast<ServerCallbacks*>(ci)->server;
    if (s && s->MessageCallback && text) s->MessageCallback(text);
    return 0;
}

const ClientInterfaceOps kServerCallbackOps = {
    [](ClientInterface*, int32_t, int32_t, uint32_t, int32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface*, int32_t, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) { return 0; },
    ForwardLine,
    ForwardLine,
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*, int32_t) { return 0; },
    [](ClientInterface*) { return 0; },
    [](ClientInterface*, int32_t, int32_t, uint32_t, uint32_t, uintptr_t) { return 0; },
    [](ClientInterface*, const uint8_t*, int32_t, uintptr_t) { return 0; },
};

const ServerOps kServerOps = {
    Server_AddMode,
    Server_AddRotationSystem,
    Server_SetRandomizer,
    Server_AddModeByName,
    Server_AddRotationSystemByName,
    Server_SetRandomizerByName,
    Server_Process,
    Server_SetMessageCallback,
    Server_Register,
    Server_Unregister,
    Server_CountPlayers,
    Server_CountClients,
    Server_Free,
};

std::u16string Address(uint32_t a) {
    return Net_Decimal(a >> 24) + u"." + Net_Decimal((a >> 16) & 0xFF) + u"." +
           Net_Decimal((a >> 8) & 0xFF) + u"." + Net_Decimal(a & 0xFF);
}

void Log(Server* s, const std::u16string& line) {
    if (s->MessageCallback) s->MessageCallback(line.c_str());
}

// A player's name as the log shows it: a control character in a name must not break or forge
// log lines.
std::u16string LogName(const char16_t* name) {
    std::u16string out;
    for (uint32_t i = 0; name && i < kTextUnits && name[i]; ++i)
        out += name[i] < 0x20 || name[i] == 0x7F ? u'?' : name[i];
    return out.empty() ? u"(no name)" : out;
}

std::u16string Who(const char16_t* name, uint32_t address) {
    return LogName(name) + u" (" + Address(address) + u")";
}

std::u16string Duration(int32_t ms) {
    return ms % 1000 == 0 ? Net_Decimal(uint32_t(ms / 1000)) + u" s"
                          : Net_Decimal(uint32_t(ms)) + u" ms";
}

uint32_t NewSeed() {
    static std::mt19937 rng{std::random_device{}()};
    std::uniform_int_distribution<uint32_t> half(0, 65535);
    const uint32_t a = half(rng), b = half(rng);
    return a << 16 | b;
}

template <typename T> void ForEach(DoublyLinkedList* list, const auto& fn) {
    if (!list) return;
    for (auto* e = list->First; e; e = e->Next) fn(static_cast<T*>(DoublyLinkedList_Data(e)));
}

// Live clients, in connect order (for shutting down only: it walks every connection).
std::vector<ServerClient*> LiveClients(Server* s) {
    std::vector<ServerClient*> out;
    ForEach<ServerClient>(s->Clients, [&](ServerClient* c) {
        if (!c->Gone) out.push_back(c);
    });
    return out;
}

Tracking& Track(Server* s) {
    return *State(s)->Track;
}

// Joined players, in connect order (a copy: handlers may drop players while it is walked).
std::vector<ServerClient*> Players(Server* s) {
    return Track(s).players;
}

void StopWaiting(Server* s, ServerClient* c) {
    auto& waiting = Track(s).waiting;
    auto it = waiting.find(c->Address);
    if (it == waiting.end()) return;
    std::erase(it->second, c);
    if (it->second.empty()) waiting.erase(it);
}

// A waiting connection joined.
void MarkJoined(Server* s, ServerClient* c) {
    StopWaiting(s, c);
    auto& players = Track(s).players;
    players.insert(std::upper_bound(players.begin(), players.end(), c,
                                    [](const ServerClient* a, const ServerClient* b) {
                                        return a->Order < b->Order;
                                    }),
                   c);
}

enum : uint32_t {
    kNamedCrowded = 1,
    kNamedRefused,
    kNamedUnruly,
    kNamedUnrulyPlayer,
    kNamedWrongId
};

// The first time in a summary period that an address gives a line of this kind; later ones are
// counted for the summary instead.
bool FirstThisPeriod(Server* s, uint32_t kind, uint32_t address) {
    ServerState* state = State(s);
    const std::pair<uint32_t, uint32_t> key{kind, address};
    const auto* named = state->Named;
    const uint32_t count = state->NamedCount;
    if (std::find(named, named + count, key) != named + count || count == std::size(state->Named))
        return false;
    state->Named[state->NamedCount++] = key;
    return true;
}

// Relays and notices are gathered per connection and leave together at the end of the pass
// (or just before a packet that is sent directly, so the order on the wire stays as built).
void SendTo(Server* s, ServerClient* c, const uint8_t* data, uint32_t size) {
    if (c->Gone || c->Broken) return;
    // The budget holds within a pass too: answers to clients that do not read must not pile up
    // before its end. Past it, a recipient that is itself behind goes; one that keeps up still
    // gets its packet, and the slowest readers make room at the end of the pass.
    ServerState* state = State(s);
    if (state->Queued + state->Gathered + size > kServerSendBudget &&
        c->Queued + c->OutSize >= kReaderBehind) {
        c->Broken = 1;
        return;
    }
    if (c->OutSize + size > c->OutCapacity) {
        uint32_t capacity = c->OutCapacity ? c->OutCapacity : 4096;
        while (capacity < c->OutSize + size) capacity *= 2;
        // A client that lets this much pile up in one pass is not reading.
        auto* grown = capacity <= kSendBacklogLimit
                          ? static_cast<uint8_t*>(std::realloc(c->OutData, capacity))
                          : nullptr;
        if (!grown) {
            c->Broken = 1;
            return;
        }
        c->OutData = grown;
        c->OutCapacity = capacity;
    }
    std::memcpy(c->OutData + c->OutSize, data, size);
    c->OutSize += size;
    state->Gathered += size;
}

// The server's total of waiting bytes follows each client's send queue.
void CountQueued(Server* s, ServerClient* c) {
    const uint32_t queued = Platform_Socket_Backlog(c->ClientConnection);
    State(s)->Queued = State(s)->Queued - c->Queued + queued;
    c->Queued = queued;
    if (queued)
        Track(s).backlogged.insert(c);
    else
        Track(s).backlogged.erase(c);
}

void FlushClient(Server* s, ServerClient* c) {
    if (!c->OutSize || c->Gone) return;
    if (Platform_Socket_Send(c->ClientConnection, c->OutData, c->OutSize) < 0) c->Broken = 1;
    State(s)->Gathered -= c->OutSize;
    c->OutSize = 0;
    CountQueued(s, c);
    // A burst (the announcements of many joins) must not keep its buffer for good.
    if (c->OutCapacity > 64 * 1024) {
        std::free(c->OutData);
        c->OutData = nullptr;
        c->OutCapacity = 0;
    }
}

// A client whose backlog is waiting is watched for writing until it drains; the others are
// not, or every wait would return at once.
void WatchBacklog(Server* s, ServerClient* c) {
    if (c->Gone) return;
    CountQueued(s, c);
    const uint32_t watch = c->Queued > 0;
    if (watch == c->WatchWrite) return;
    c->WatchWrite = watch;
    Platform_Socket_WaitSetWatchWrite(State(s)->WaitSet, c->ClientConnection,
                                      reinterpret_cast<uintptr_t>(c), static_cast<int32_t>(watch));
}

// Only players and the connections read this pass can have something gathered.
void FlushAll(Server* s) {
    const auto flush = [s](ServerClient* c) {
        FlushClient(s, c);
        // Packets sent directly (announcements, the start) may have left a backlog too.
        WatchBacklog(s, c);
    };
    for (ServerClient* c : Track(s).touched) flush(c);
    for (ServerClient* c : Track(s).players) flush(c);
}

void ReleaseOut(Server* s, ServerClient* c) {
    State(s)->Gathered -= c->OutSize;
    std::free(c->OutData);
    c->OutData = nullptr;
    c->OutSize = c->OutCapacity = 0;
}

// Game traffic goes to the players only: a connection that has not joined (a browser asking
// for the server's info, a client still saying hello) must get nothing but its own answers.
void Relay(Server* s, ServerClient* from, const uint8_t* data, uint32_t size) {
    for (ServerClient* c : Track(s).players)
        if (c != from && c->HeldPlayer) SendTo(s, c, data, size);
}

// Ends a connection; reason (0: the peer left) goes with a player's departure line.
void DropClient(Server* s, ServerClient* c);
// Starts the game when every joined player is ready.
void StartIfAllReady(Server* s);

void Disconnect(Server* s, ServerClient* c, const char16_t* reason = nullptr) {
    if (c->Gone) return;
    c->DropReason = reason;
    DropClient(s, c);
}

// Ends a connection for what it sent: named once a period per address (a player with its
// departure line), counted after that, so a peer rejoining to misbehave again costs no lines.
void CloseUnruly(Server* s, ServerClient* c, const char16_t* reason) {
    if (c->Gone) return;
    if (!FirstThisPeriod(s, c->HeldPlayer ? kNamedUnrulyPlayer : kNamedUnruly, c->Address)) {
        ++State(s)->Unruly;
        c->QuietDrop = 1;
    } else if (!c->HeldPlayer) {
        Log(s, u"Closed a connection from " + Address(c->Address) + u": " + reason);
    }
    Disconnect(s, c, reason);
}

// A packet the connection may not send is ignored, up to a small allowance; past it the
// connection goes, so a peer cannot keep the server busy with them.
void Fault(Server* s, ServerClient* c, const char16_t* reason) {
    if (++c->Faults > kServerFaultAllowance) CloseUnruly(s, c, reason);
}

// Another player's id from a joined player: named once a period per address.
void WrongId(Server* s, ServerClient* c) {
    if (FirstThisPeriod(s, kNamedWrongId, c->Address))
        Log(s, u"Wrong PlayerID from " + Who(c->HeldPlayer->NameBuffer, c->Address));
    else
        ++State(s)->WrongIds;
    Fault(s, c, u"it kept sending other players' ids");
}

// Past the send budget the clients with the most bytes waiting go first: they read slowest.
bool KeepSendBudget(Server* s) {
    ServerState* state = State(s);
    if (state->Queued <= kServerSendBudget) return false;
    std::vector<ServerClient*> slowest(Track(s).backlogged.begin(), Track(s).backlogged.end());
    std::sort(slowest.begin(), slowest.end(), [](const ServerClient* a, const ServerClient* b) {
        return a->Queued != b->Queued ? a->Queued > b->Queued : a->Order < b->Order;
    });
    for (ServerClient* c : slowest) {
        if (state->Queued <= kServerSendBudget) break;
        CloseUnruly(s, c, u"it stopped reading and the server's send budget is spent");
    }
    return true;
}

// Unlinks the records closed this pass, each in constant time.
void RemoveGone(Server* s) {
    Tracking& t = Track(s);
    for (ServerClient* c : t.gone) {
        ReleaseOut(s, c);
        t.live.erase(c);
        s->Clients->Current = reinterpret_cast<DoublyLinkedListElement*>(
            reinterpret_cast<char*>(c) - sizeof(DoublyLinkedListElement));
        s->Clients->Index = 0;
        DoublyLinkedList_DeleteElement(s->Clients);
    }
    DoublyLinkedList_ResetList(s->Clients);
    t.gone.clear();
}

struct FeedContext {
    Server* server;
    ServerClient* client;
};

bool ServerHandles(uint8_t c) {
    return c == NetCmd_GetInfo || c == NetCmd_Hello || c == NetCmd_Join || c == NetCmd_Ready ||
           c == NetCmd_Input;
}

// Packets are not logged as they arrive: a peer streaming them would make the log its own.
// What they lead to is (a join, a ready player, a refusal), and the summary counts the rest.
void OnPieceRead(void*, uint8_t) {}

bool OnServerPacket(void* ctx, const uint8_t* data, uint32_t) {
    auto* f = static_cast<FeedContext*>(ctx);
    switch (data[0]) {
    case NetCmd_GetInfo:
        Server_OnGetInfo(f->server, f->client);
        break;
    case NetCmd_Hello:
        Server_OnHello(f->server, f->client);
        break;
    case NetCmd_Join:
        Server_OnJoin(f->server, f->client);
        break;
    case NetCmd_Ready:
        Server_OnReady(f->server, f->client);
        break;
    case NetCmd_Input:
        Server_OnInputPacket(f->server, f->client);
        break;
    default:
        break;
    }
    return !f->client->Gone;
}

void ReadClient(Server* s, ServerClient* c) {
    FeedContext ctx{s, c};
    const NetReceiveState state{c->ReceiveBuffer, &c->ReceiveCount, &c->ReceivePartial};
    const NetFrameSink sink{&ctx,
                            ServerHandles,
                            [](void*, const uint8_t*) { return false; },
                            [](void*, uint32_t) -> uint8_t* { return nullptr; },
                            OnServerPacket,
                            OnPieceRead};
    uint8_t chunk[kChunk];
    for (uint32_t budget = kReadBudget; budget && !c->Gone && !c->Broken;) {
        const int32_t n = Platform_Socket_Receive(c->ClientConnection, chunk, kChunk);
        if (n == 0) return;
        if (n < 0) {
            // Closed, or a hard error: either way the connection is finished.
            Disconnect(s, c);
            return;
        }
        c->Spoke = 1;
        budget -= std::min<uint32_t>(budget, static_cast<uint32_t>(n));
        if (Net_FeedBytes(state, sink, chunk, static_cast<size_t>(n)) == NetFeedResult::Stopped)
            return;
    }
}

// The first time in a summary period that an address has too many connections waiting.
void NameCrowded(Server* s, uint32_t address) {
    if (FirstThisPeriod(s, kNamedCrowded, address))
        Log(s, u"Too many connections from " + Address(address) + u": closing the oldest");
}

// Makes room for a new connection from address: when as many of that address's connections
// are waiting to join as may, the oldest of them goes (those that never sent a byte first), so
// one process holding silent connections cannot keep everyone out. Each gets a last read
// before it goes: a client whose Hello and Join are already in joins instead, so a burst of
// honest clients on one address all get in. Returns the number of connections left open.
int32_t MakeRoomFor(Server* s, uint32_t address) {
    ServerState* state = State(s);
    Tracking& t = Track(s);
    int32_t live = static_cast<int32_t>(t.live.size() - t.gone.size());
    const auto it = t.waiting.find(address);
    if (it == t.waiting.end()) return live;
    std::vector<ServerClient*> waiting = it->second;
    int32_t count = static_cast<int32_t>(waiting.size());
    if (count < state->WaitingPerAddress) return live;
    std::stable_partition(waiting.begin(), waiting.end(),
                          [](const ServerClient* c) { return !c->Spoke; });
    for (ServerClient* c : waiting) {
        ReadClient(s, c);
        if (!c->Gone && !c->HeldPlayer) {
            NameCrowded(s, address);
            ++state->Crowded;
            Disconnect(s, c);
        }
        if (c->Gone) --live;
        if (--count < state->WaitingPerAddress) break;
    }
    return live;
}

void AddClient(Server* s, uint32_t connection, uint32_t address) {
    Tracking& t = Track(s);
    auto* c = MakeRoomFor(s, address) < State(s)->Capacity
                  ? static_cast<ServerClient*>(DoublyLinkedList_AddElement(s->Clients))
                  : nullptr;
    DoublyLinkedList_ResetList(s->Clients);
    if (!c) {
        ++State(s)->Full;
        Platform_Socket_Close(connection);
        return;
    }
    c->ClientConnection = connection;
    c->Address = address;
    c->AcceptedAt = GetMilliseconds();
    c->Order = State(s)->NextOrder++;
    t.live.insert(c);
    t.waiting[address].push_back(c);
    t.touched.push_back(c);
    // Connections closed before their deadline leave their entries behind until the oldest
    // is looked at: a flood of short ones must not grow the queue without bound.
    const auto waitingStill = [&t](const std::pair<ServerClient*, uint64_t>& e) {
        return t.live.count(e.first) && e.first->Order == e.second && !e.first->Gone &&
               !e.first->HeldPlayer;
    };
    if (t.deadlines.size() > 2 * t.live.size() + 1024)
        std::erase_if(t.deadlines, [&](const auto& e) { return !waitingStill(e); });
    t.deadlines.emplace_back(c, c->Order);
    if (!Platform_Socket_WaitSetAdd(State(s)->WaitSet, connection, reinterpret_cast<uintptr_t>(c)))
        c->Broken = 1; // never seen by a pass: dropped at its end
    else
        ReadClient(s, c); // a client sends its Hello and Join on connecting: take them now
}

// Loads a plug-in's interface for the server: the shared steps of the three
// rule operations. The export is called through its own type (another type is undefined).
template <typename CreateFn>
auto CreateFromLibrary(const ZelvikID* id, const char* exportName, bool* found)
    -> decltype(CreateFn{}(nullptr)) {
    void* library = Plugin_FindLibrary(id);
    *found = library != nullptr;
    if (!library) return nullptr;
    void* fn = Plugin_GetExport(library, exportName);
    return fn ? reinterpret_cast<CreateFn>(fn)(&g_EngineApi) : nullptr;
}

int32_t Loaded(Server* s, const ZelvikID* id, bool ok, const char16_t* exportName) {
    Log(s, Plugin_Describe(id) + (ok ? std::u16string(u" succesfully loaded")
                                     : u": " + std::u16string(exportName) + u" failed"));
    return ok ? 1 : 0;
}

// Takes a held player off the server's modes. The mode objects belong to the server (freed at
// Server_Free), so the player must not hold them when it is freed or reset for a new game.
void DetachModes(Player* p) {
    ForEach<ModeEntry>(p->ModeList, [&](ModeEntry* e) {
        if (ModeInterface* m = e->mode) m->ops->DetachPlayer(m, p);
    });
    if (p->ModeList) DoublyLinkedList_ClearList(p->ModeList);
}

void FreeHeldPlayer(Player* p) {
    DetachModes(p);
    Net_ForgetPlayer(p);
    p->ops->Free(p);
}

void ClearList(DoublyLinkedList* list) {
    if (list) DoublyLinkedList_ClearList(list);
}

// Connections that have not joined within the deadline are closed: a silent one holds a
// descriptor and a record for nothing. Looked for a few times a second, from the oldest
// connection on, stopping at the first still within its time.
void CloseLateJoiners(Server* s) {
    ServerState* state = State(s);
    Tracking& t = Track(s);
    const uint32_t now = GetMilliseconds();
    if (now - state->LastDeadline < 100) return;
    state->LastDeadline = now;
    // Thousands expiring together are closed over several passes, so the passes between
    // keep answering.
    for (int32_t closed = 0; !t.deadlines.empty(); t.deadlines.pop_front()) {
        const auto [c, order] = t.deadlines.front();
        // A record closed and reused since it was queued is not the one queued.
        const bool same = t.live.count(c) && c->Order == order;
        if (same && !c->Gone && !c->HeldPlayer) {
            if (now - c->AcceptedAt < uint32_t(state->JoinDeadlineMs)) break;
            if (closed++ == kClosesPerPass) {
                state->LastDeadline = now - 100; // look again next pass
                break;
            }
            ++state->TimedOut;
            Disconnect(s, c);
        }
    }
}

// The log's summary of what is not logged one by one.
void Summarise(Server* s) {
    ServerState* state = State(s);
    const uint32_t now = GetMilliseconds();
    if (now - state->LastSummary < uint32_t(state->SummaryMs)) return;
    state->LastSummary = now;
    const std::u16string last = u"Last " + Duration(state->SummaryMs) + u": ";
    if (state->InfoQueries)
        Log(s, last + Net_Decimal(state->InfoQueries) + u" info queries answered");
    if (state->TimedOut)
        Log(s, last + Net_Decimal(state->TimedOut) + u" connections did not join within " +
                   Duration(state->JoinDeadlineMs) + u" and were closed");
    if (state->Crowded)
        Log(s, last + Net_Decimal(state->Crowded) + u" connections closed, more than " +
                   Net_Decimal(uint32_t(state->WaitingPerAddress)) +
                   u" from one address waiting to join");
    if (state->Full)
        Log(s, last + Net_Decimal(state->Full) + u" connections refused, the server holds " +
                   Net_Decimal(uint32_t(state->Capacity)));
    if (state->Hellos) Log(s, last + Net_Decimal(state->Hellos) + u" Hello handshakes accepted");
    if (state->Refused) Log(s, last + Net_Decimal(state->Refused) + u" more joins refused");
    if (state->WrongIds)
        Log(s, last + Net_Decimal(state->WrongIds) + u" more packets with another player's id");
    if (state->Unruly)
        Log(s, last + Net_Decimal(state->Unruly) + u" more connections closed for what they sent");
    state->InfoQueries = state->TimedOut = state->Crowded = state->Full = 0;
    state->Hellos = state->Refused = state->WrongIds = state->Unruly = 0;
    state->NamedCount = 0;
}

void ResetClientStream(ServerClient* c) {
    c->AwaitingFirst = 1;
    c->NextFrame = 0;
    c->LastWord = 0;
    c->HasLastWord = 0;
}

} // namespace

Server* Server_Create(const char16_t* name, int32_t port) {
    if (!networkReady) networkReady = Platform_Socket_Init() != 0;
    if (!networkReady || port < 0 || port > 0xFFFF) return nullptr;
    auto* state = static_cast<ServerState*>(std::calloc(1, sizeof(ServerState)));
    if (!state) return nullptr;
    Server* s = &state->base;
    state->PassGapUs = kServerPassGapUs;
    state->WaitingPerAddress = kServerWaitingPerAddress;
    state->JoinDeadlineMs = kServerJoinDeadlineMs;
    state->SummaryMs = kServerSummaryMs;
    state->PlayersPerAddress = kServerPlayersPerAddress;
    state->MaxPlayers = kServerMaxPlayers;
    state->LastSummary = state->LastDeadline = GetMilliseconds();
    const uint64_t limit = Platform_Socket_RaiseDescriptorLimit();
    state->Capacity = static_cast<int32_t>(std::clamp<uint64_t>(
        limit > kDescriptorReserve ? limit - kDescriptorReserve : 1, 1, kServerMaxConnections));
    state->Track = new (std::nothrow) Tracking;
    if (!state->Track) {
        std::free(state);
        return nullptr;
    }
    s->Listener = Platform_Socket_Listen(static_cast<uint16_t>(port), ServerList_GameAddress());
    state->WaitSet = Platform_Socket_WaitSetCreate();
    if (!s->Listener || !state->WaitSet ||
        !Platform_Socket_WaitSetAdd(state->WaitSet, s->Listener, 0)) {
        Platform_Socket_Close(s->Listener);
        Platform_Socket_WaitSetFree(state->WaitSet);
        delete state->Track;
        std::free(state);
        return nullptr;
    }
    s->ops = &kServerOps;
    s->Clients = DoublyLinkedList_Create(sizeof(ServerClient));
    s->ServerModes = DoublyLinkedList_Create(sizeof(ModeEntry));
    s->ServerRotationSystems = DoublyLinkedList_Create(sizeof(RotationSystemEntry));
    for (uint32_t i = 0; name && i < kServerNameUnits && name[i]; ++i) s->ServerName[i] = name[i];
    s->SharedSeed = NewSeed();
    auto* callbacks = static_cast<ServerCallbacks*>(std::calloc(1, sizeof(ServerCallbacks)));
    if (callbacks) {
        callbacks->base.ops = &kServerCallbackOps;
        callbacks->server = s;
    }
    s->ClientCallbacks = callbacks ? &callbacks->base : nullptr;
    // The game carries the callback object, so engine lines about held players
    // (the out-of-sync warnings) reach the host's log.
    s->ServerGame = Game_Create(s->ClientCallbacks);
    if (!s->Clients || !s->ServerModes || !s->ServerRotationSystems || !s->ServerGame) {
        Server_Free(s);
        return nullptr;
    }
    return s;
}

uint16_t Server_GetPort(Server* s) {
    return s ? Platform_Socket_LocalPort(s->Listener) : 0;
}

int32_t Server_AddMode(Server* s, const ZelvikID* id) {
    if (!s || !id) return 0;
    bool found;
    ModeInterface* mode =
        CreateFromLibrary<CreateModeInterfaceFn>(id, "CreateModeInterface", &found);
    if (!found) return 0;
    auto* entry = static_cast<ModeEntry*>(DoublyLinkedList_AddElement(s->ServerModes));
    if (!entry) return 0;
    std::memcpy(&entry->id, id, sizeof(ZelvikID));
    entry->mode = mode;
    return Loaded(s, id, mode != nullptr, u"CreateModeInterface");
}

int32_t Server_AddRotationSystem(Server* s, const ZelvikID* id) {
    if (!s || !id || id->kind != PluginKind_RotationSystem) return 0;
    bool found;
    RotationSystemInterface* rs = CreateFromLibrary<CreateRotationSystemInterfaceFn>(
        id, "CreateRotationSystemInterface", &found);
    if (!found) {
        Log(s, Plugin_Describe(id) + u" invalid");
        return 0;
    }
    auto* entry =
        static_cast<RotationSystemEntry*>(DoublyLinkedList_AddElement(s->ServerRotationSystems));
    if (!entry) return 0;
    std::memcpy(&entry->id, id, sizeof(ZelvikID));
    entry->rotationSystem = rs;
    return Loaded(s, id, rs != nullptr, u"CreateRotationSystemInterface");
}

int32_t Server_SetRandomizer(Server* s, const ZelvikID* id) {
    if (!s || !id || id->kind != PluginKind_Randomizer) return 0;
    if (!Plugin_FindLibrary(id)) {
        Log(s, Plugin_Describe(id) + u" invalid");
        return 0;
    }
    // The identity is what players get; it stays even when the interface fails.
    std::memcpy(&s->ServerRandomizerID, id, sizeof(ZelvikID));
    bool found;
    RandomizerInterface* r =
        CreateFromLibrary<CreateRandomizerInterfaceFn>(id, "CreateRandomizerInterface", &found);
    if (s->ServerRandomizer) s->ServerRandomizer->ops->Free(s->ServerRandomizer);
    s->ServerRandomizer = r;
    return Loaded(s, id, r != nullptr, u"CreateRandomizerInterface");
}

int32_t Server_AddModeByName(Server* s, const char16_t* name) {
    if (!s || !name) return 0;
    const ZelvikID* id = Plugin_FindByName(PluginKind_Mode, name);
    if (!id) id = Plugin_FindByName(PluginKind_ModeExtension, name);
    return id ? Server_AddMode(s, id) : 0;
}

int32_t Server_AddRotationSystemByName(Server* s, const char16_t* name) {
    if (!s || !name) return 0;
    const ZelvikID* id = Plugin_FindByName(PluginKind_RotationSystem, name);
    return id ? Server_AddRotationSystem(s, id) : 0;
}

int32_t Server_SetRandomizerByName(Server* s, const char16_t* name) {
    if (!s || !name) return 0;
    const ZelvikID* id = Plugin_FindByName(PluginKind_Randomizer, name);
    return id ? Server_SetRandomizer(s, id) : 0;
}

int32_t Server_SetMessageCallback(Server* s, ServerMessageCallback callback) {
    if (s) s->MessageCallback = callback;
    return 0;
}

int32_t Server_CountPlayers(Server* s) {
    return s ? static_cast<int32_t>(Track(s).players.size()) : 0;
}

int32_t Server_CountClients(Server* s) {
    return s ? static_cast<int32_t>(Track(s).live.size() - Track(s).gone.size()) : 0;
}

int32_t Server_GetCapacity(Server* s) {
    return s ? State(s)->Capacity : 0;
}

// The host program looks it up by this name beside the operation table.
ZELVIK_EXPORT int32_t Export_ServerGetCapacity(Server* s) __asm__("Server_GetCapacity");
int32_t Export_ServerGetCapacity(Server* s) {
    return Server_GetCapacity(s);
}

void Server_HandleNetEvent(Server* s) {
    Tracking& t = Track(s);
    // One snapshot per pass: the listener and the clients that were ready at its start, handled
    // in connect order.
    if (t.ready.size() < kReadyPerPass) t.ready.resize(kReadyPerPass);
    const int32_t n =
        Platform_Socket_WaitSetWait(State(s)->WaitSet, t.ready.data(), kReadyPerPass, 0);
    bool accept = false;
    std::vector<std::pair<ServerClient*, const PlatformReadyEntry*>> clients;
    for (int32_t i = 0; i < n; ++i) {
        if (t.ready[size_t(i)].key == 0)
            accept = true;
        else
            clients.emplace_back(reinterpret_cast<ServerClient*>(t.ready[size_t(i)].key),
                                 &t.ready[size_t(i)]);
    }
    std::sort(clients.begin(), clients.end(),
              [](const auto& a, const auto& b) { return a.first->Order < b.first->Order; });
    for (const auto& [c, e] : clients) {
        if (c->Gone) continue;
        t.touched.push_back(c);
        // What the kernel could not take last time goes out first.
        if (e->writable) {
            if (Platform_Socket_Flush(c->ClientConnection) < 0) c->Broken = 1;
            WatchBacklog(s, c);
        }
        if (e->readable || e->hangup) ReadClient(s, c);
    }
    if (accept) {
        for (int32_t i = 0; i < kAcceptsPerPass; ++i) {
            uint32_t address = 0;
            const uint32_t connection = Platform_Socket_Accept(s->Listener, &address);
            if (!connection) break;
            AddClient(s, connection, address);
        }
    }
    CloseLateJoiners(s);
    // Clients whose sends failed are gone; their departure may break further ones. Only the
    // connections read this pass and the players can have failed a send.
    for (ServerClient* c : t.touched)
        if (c->Broken && !c->Gone) Disconnect(s, c, u"its connection failed or it stopped reading");
    for (bool again = true; again;) {
        again = false;
        for (ServerClient* c : Players(s))
            if (c->Broken && !c->Gone) {
                Disconnect(s, c, u"its connection failed or it stopped reading");
                again = true;
            }
    }
    FlushAll(s);
    if (KeepSendBudget(s)) FlushAll(s); // the departure notices of those dropped for it
    t.touched.clear();
    RemoveGone(s);
}

int32_t Server_Wait(Server* s, int32_t timeoutMs) {
    if (!s) return 0;
    ServerState* state = State(s);
    const auto earliest = state->LastPass + std::chrono::microseconds(state->PassGapUs);
    if (std::chrono::steady_clock::now() < earliest) std::this_thread::sleep_until(earliest);
    PlatformReadyEntry entry{};
    return Platform_Socket_WaitSetWait(state->WaitSet, &entry, 1,
                                       int64_t(std::max(timeoutMs, 0)) * 1000) > 0;
}

int32_t Server_SetPassGap(Server* s, int32_t us) {
    if (!s || us < 0 || us > 100000) return 0;
    State(s)->PassGapUs = us;
    return 1;
}

int32_t Server_SetAdmission(Server* s, int32_t waitingPerAddress, int32_t joinDeadlineMs) {
    if (!s || waitingPerAddress < 1 || joinDeadlineMs < 1) return 0;
    State(s)->WaitingPerAddress = waitingPerAddress;
    State(s)->JoinDeadlineMs = joinDeadlineMs;
    return 1;
}

int32_t Server_SetPlayerLimits(Server* s, int32_t perAddress, int32_t total) {
    if (!s || perAddress < 1 || total < 1) return 0;
    State(s)->PlayersPerAddress = perAddress;
    State(s)->MaxPlayers = total;
    return 1;
}

int32_t Server_SetSummaryPeriod(Server* s, int32_t ms) {
    if (!s || ms < 1) return 0;
    State(s)->SummaryMs = ms;
    return 1;
}

int32_t Server_Process(Server* s) {
    if (!s) return 1;
    State(s)->LastPass = std::chrono::steady_clock::now();
    Server_HandleNetEvent(s);
    Summarise(s);
    // A held player runs only on received input, so players with none queued are skipped.
    for (ServerClient* c : Players(s)) {
        Player* p = c->HeldPlayer;
        if (p && p->InputQueue && p->InputQueue->Count > 0) p->ops->Update(p, 0, -1);
    }
    // Only players hold a game: a connection that never joined (a browser, a stranger
    // reconnecting) must not keep late friends out once the players have gone.
    if (Track(s).players.empty()) {
        s->GameRunning = 0;
        s->SharedSeed = NewSeed();
    }
    // Memory freed by many departures goes back to the system, at most once a second.
    ServerState* state = State(s);
    if (state->Shed >= kTrimAfter && GetMilliseconds() - state->LastTrim >= 1000) {
        state->Shed = 0;
        state->LastTrim = GetMilliseconds();
        Platform_Socket_TrimMemory();
    }
    return 1;
}

int32_t Server_SendNetPacket(Server* s, Player* p) {
    if (!s || !p) return 0;
    int32_t sent = 0;
    uint32_t size = 0;
    switch (p->PacketBuffer[0]) {
    case NetCmd_JoinReply: {
        std::vector<ZelvikID> modes, systems;
        ForEach<ModeEntry>(s->ServerModes, [&](ModeEntry* e) { modes.push_back(e->id); });
        ForEach<RotationSystemEntry>(s->ServerRotationSystems,
                                     [&](RotationSystemEntry* e) { systems.push_back(e->id); });
        std::vector<uint8_t> buffer(NetCmd_JoinReplySize(static_cast<uint32_t>(modes.size()),
                                                         static_cast<uint32_t>(systems.size())));
        NetCmd_BuildJoinReply(buffer.data(), p->Id, s->ServerRandomizerID, modes.data(),
                              static_cast<uint32_t>(modes.size()), systems.data(),
                              static_cast<uint32_t>(systems.size()));
        sent = Platform_Socket_Send(p->PeerConnection, buffer.data(),
                                    static_cast<uint32_t>(buffer.size()));
        break;
    }
    case NetCmd_PlayerJoined:
        size = kSizePlayerJoined;
        break;
    case NetCmd_Ready:
        size = kSizeReady;
        break;
    case NetCmd_StartGame:
        size = kSizeStartGame;
        break;
    case NetCmd_Input:
        if (p->PacketSent) break;
        size = NetInput_Size(p->PacketBuffer);
        p->PacketSent = 1;
        break;
    default:
        break;
    }
    if (size) sent = Platform_Socket_Send(p->PeerConnection, p->PacketBuffer, size);
    if (sent < 1) p->SendFailed = 1;
    return sent;
}

void Server_OnGetInfo(Server* s, ServerClient* c) {
    uint8_t info[kSizeInfo];
    NetCmd_BuildInfo(info, s->ServerName, static_cast<uint32_t>(Server_CountPlayers(s)), -1);
    SendTo(s, c, info, kSizeInfo);
    ++State(s)->InfoQueries;
}

void Server_OnHello(Server* s, ServerClient* c) {
    // A client says Hello once; a peer repeating it only wants to keep the server busy.
    if (c->ClientFlags & (kClientHelloAccepted | kClientHelloRefused)) {
        CloseUnruly(s, c, u"it repeated its Hello");
        return;
    }
    const uint64_t version = Net_GetU64(c->ReceiveBuffer + 1);
    if (version == kEngineVersion) {
        c->ClientFlags |= kClientHelloAccepted;
        ++State(s)->Hellos;
        return;
    }
    c->ClientFlags |= kClientHelloRefused;
    c->RefusedVersion = version;
    const std::u16string text = u"Your engine version is different from the servers. (Client: " +
                                VersionToString(version) + u" - Server: " +
                                VersionToString(kEngineVersion) + u")";
    FlushClient(s, c);
    if (Net_SendMessage(c->ClientConnection, text.c_str()) < 0) c->Broken = 1;
}

void Server_OnJoin(Server* s, ServerClient* c) {
    char16_t name[kTextUnits + 1];
    PacketReader r(c->ReceiveBuffer + 1, kTextBytes);
    r.Text(name);
    // One line per address and period: a flood of refused joins must not flood the log.
    const auto refuse = [&](const std::u16string& reason, const char16_t* message) {
        if (FirstThisPeriod(s, kNamedRefused, c->Address))
            Log(s, u"Join refused for " + Who(name, c->Address) + u": " + reason);
        else
            ++State(s)->Refused;
        if (!message) return;
        FlushClient(s, c);
        if (Net_SendMessage(c->ClientConnection, message) < 0) c->Broken = 1;
    };
    // A client joins once: a second Join would leave the first player orphaned, and a refused
    // client asking again only wants to keep the server busy.
    if (c->ClientFlags & kClientJoinTried) {
        CloseUnruly(s, c, u"it sent a second Join");
        return;
    }
    if (!(c->ClientFlags & kClientHelloAccepted)) {
        refuse(c->ClientFlags & kClientHelloRefused
                   ? u"its engine version is " + VersionToString(c->RefusedVersion) +
                         u", the server's is " + VersionToString(kEngineVersion)
                   : std::u16string(u"no Hello came before the Join"),
               nullptr);
        Fault(s, c, u"it sent Join before a Hello was accepted");
        return;
    }
    c->ClientFlags |= kClientJoinTried;
    if (s->GameRunning) {
        refuse(u"a game is running", u"Game is already running - You can't join now.");
        return;
    }
    const auto& players = Track(s).players;
    const int32_t fromAddress = static_cast<int32_t>(
        std::count_if(players.begin(), players.end(),
                      [&](const ServerClient* other) { return other->Address == c->Address; }));
    if (fromAddress >= State(s)->PlayersPerAddress) {
        refuse(Net_Decimal(uint32_t(fromAddress)) + u" players have joined from its address",
               u"Too many players from your address - You can't join now.");
        return;
    }
    if (static_cast<int32_t>(players.size()) >= State(s)->MaxPlayers) {
        refuse(u"the server holds " + Net_Decimal(uint32_t(players.size())) + u" players",
               u"The server is full - You can't join now.");
        return;
    }
    // No own field: the modes give every player the same field the clients play
    // on.
    Player* p = Player_Create(s->ClientCallbacks, 0);
    if (!p) {
        refuse(u"the player could not be created", nullptr);
        return;
    }
    p->ops->SetName(p, name);
    p->PeerConnection = c->ClientConnection;
    p->IsRemote = 1;
    p->PacketBuffer[0] = NetCmd_JoinReply;
    FlushClient(s, c);
    Server_SendNetPacket(s, p);
    for (ServerClient* other : Players(s)) {
        Player* q = other->HeldPlayer;
        if (!q || other == c) continue;
        NetCmd_BuildPlayerJoined(q->PacketBuffer, p->Id, p->NameBuffer, s->SharedSeed);
        FlushClient(s, other);
        SendNetPacket(q);
        NetCmd_BuildPlayerJoined(p->PacketBuffer, q->Id, q->NameBuffer, s->SharedSeed);
        SendNetPacket(p);
    }
    c->HeldPlayer = p;
    MarkJoined(s, c);
    Log(s, LogName(p->NameBuffer) + u" joined from " + Address(c->Address));
}

void Server_OnReady(Server* s, ServerClient* c) {
    Player* p = c->HeldPlayer;
    if (!p) {
        Fault(s, c, u"it sent Ready before joining");
        return;
    }
    const uint32_t id = Net_GetU32(c->ReceiveBuffer + 1);
    const uint32_t index = Net_GetU32(c->ReceiveBuffer + 5);
    if (id != p->Id) {
        WrongId(s, c);
        return;
    }
    // A player still waiting may choose another rotation system (the menu stays up): that Ready
    // is taken again and relayed, so every copy follows. The same choice again is a repeat.
    if (p->ReadyFlag && index == c->ReadyIndex) {
        Fault(s, c, u"it kept repeating its Ready");
        return;
    }
    c->ReadyIndex = index;
    Log(s, u"Ready from " + Who(p->NameBuffer, c->Address));
    // A further game starts from a clean copy: no doubled modes, no stale
    // checksums.
    DetachModes(p);
    p->ops->Reset(p);
    if (p->ChecksumQueue) DoublyLinkedList_ClearList(p->ChecksumQueue);
    if (!p->ModeList) p->ModeList = DoublyLinkedList_Create(sizeof(ModeEntry));
    ForEach<ModeEntry>(s->ServerModes, [&](ModeEntry* e) {
        ModeInterface* m = e->mode;
        if (!m || !p->ModeList) return;
        auto* added = static_cast<ModeEntry*>(DoublyLinkedList_AddElement(p->ModeList));
        if (added) added->mode = m->ops->AttachPlayer(m, p);
    });
    if (auto* rs = static_cast<RotationSystemEntry*>(DoublyLinkedList_SelectElement(
            s->ServerRotationSystems, index > 0x7FFFFFFF ? -1 : static_cast<int32_t>(index)))) {
        const ZelvikID rsId = rs->id;
        p->ops->SetRotationSystem(p, &rsId);
    }
    const ZelvikID randomizerId = s->ServerRandomizerID;
    p->ops->SetRandomizer(p, &randomizerId);
    s->ServerGame->ops->AttachPlayer(s->ServerGame, p);
    p->ReadyFlag = 1;
    Relay(s, c, c->ReceiveBuffer, kSizeReady);
    StartIfAllReady(s);
}

namespace {

// The start: when every joined player is ready (the last Ready came, or the last player who
// was not ready left), everyone starts together with the shared seed.
void StartIfAllReady(Server* s) {
    const std::vector<ServerClient*> clients = Players(s);
    if (clients.empty()) return;
    for (ServerClient* other : clients)
        if (other->HeldPlayer && !other->HeldPlayer->ReadyFlag) return;
    Log(s, u"Starting the game");
    s->GameRunning = 1;
    for (ServerClient* other : clients) {
        Player* q = other->HeldPlayer;
        if (!q) continue;
        q->ReadyFlag = 0;
        NetCmd_BuildStartGame(q->PacketBuffer, q->Id, s->SharedSeed);
        FlushClient(s, other);
        SendNetPacket(q);
        // Frames still queued from an earlier game belong to no one now.
        ClearList(q->InputQueue);
        ClearList(q->SyncQueue);
        ClearList(q->ChecksumQueue);
        ResetClientStream(other);
        q->ops->Start(q);
    }
}

} // namespace

void Server_OnInputPacket(Server* s, ServerClient* c) {
    Player* p = c->HeldPlayer;
    if (!p) {
        Fault(s, c, u"it sent input before joining");
        return;
    }
    const uint8_t* d = c->ReceiveBuffer;
    const uint32_t size = NetInput_Size(d);
    if (Net_GetU32(d + kInputId) != p->Id) {
        // Another player's frames from this connection are neither applied nor
        // relayed.
        WrongId(s, c);
        return;
    }
    const uint32_t first = Net_GetU32(d + kInputFirstFrame);
    if (c->AwaitingFirst) {
        // The client had not seen the start yet when it sent these: the old game's frames.
        if (first != 0) return;
        c->AwaitingFirst = 0;
    }
    const uint32_t entries = (size - kSizeInputFixed) / 2;
    uint32_t last = c->LastWord;
    bool hasLast = c->HasLastWord != 0;
    const uint32_t frames =
        NetInput_Decode(d + kInputEntries, entries, &last, &hasLast, [](uint32_t, uint32_t) {});
    const uint32_t queued =
        p->InputQueue ? static_cast<uint32_t>(DoublyLinkedList_CountList(p->InputQueue)) : 0;
    // A gap, an overlap or a flood of frames can only come from a broken or
    // hostile client.
    if (first != c->NextFrame || queued + frames > Net_MaxQueuedFrames(p)) {
        Disconnect(s, c,
                   first != c->NextFrame ? u"its input frames did not follow on"
                                         : u"it sent more input frames than may wait");
        return;
    }
    if (!p->ChecksumQueue) p->ChecksumQueue = DoublyLinkedList_Create(sizeof(ChecksumRecord));
    if (auto* rec = static_cast<ChecksumRecord*>(DoublyLinkedList_AddElement(p->ChecksumQueue))) {
        rec->frame = first;
        rec->checksum = Net_GetU32(d + kInputChecksum);
    }
    last = c->LastWord;
    hasLast = c->HasLastWord != 0;
    NetInput_Decode(d + kInputEntries, entries, &last, &hasLast, [p](uint32_t w, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) Net_QueueWord(&p->InputQueue, w);
    });
    c->LastWord = last;
    c->HasLastWord = hasLast;
    if (!p->SyncQueue) p->SyncQueue = DoublyLinkedList_Create(sizeof(SyncRecord));
    if (auto* rec = static_cast<SyncRecord*>(DoublyLinkedList_AddElement(p->SyncQueue))) {
        rec->frame = first;
        rec->activeKind =
            static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(d[kInputActive])));
        for (uint32_t i = 0; i < kPreviewBytes; ++i)
            rec->previewKinds[i] = static_cast<uint32_t>(
                static_cast<int32_t>(static_cast<int8_t>(d[kInputPreview + i])));
    }
    c->NextFrame = first + frames;
    Relay(s, c, d, size);
}

void Server_OnDisconnect(Server* s, uint32_t connection) {
    for (ServerClient* x : LiveClients(s))
        if (x->ClientConnection == connection) return DropClient(s, x);
}

namespace {

void DropClient(Server* s, ServerClient* c) {
    if (c->Gone) return;
    Tracking& t = Track(s);
    c->Gone = 1;
    t.gone.push_back(c);
    State(s)->Queued -= c->Queued;
    State(s)->Shed += c->Queued + (c->HeldPlayer ? kPlayerBytes : 0);
    c->Queued = 0;
    t.backlogged.erase(c);
    if (c->HeldPlayer)
        std::erase(t.players, c);
    else
        StopWaiting(s, c);
    Platform_Socket_WaitSetRemove(State(s)->WaitSet, c->ClientConnection);
    Platform_Socket_Close(c->ClientConnection);
    bool hadPlayer = false;
    uint32_t id = 0;
    if (Player* p = c->HeldPlayer) {
        hadPlayer = true;
        id = p->Id;
        const std::u16string who = Who(p->NameBuffer, c->Address);
        if (!c->QuietDrop)
            Log(s, c->DropReason ? who + u" was dropped: " + c->DropReason : who + u" left");
        if (p->Game) p->Game->ops->RemovePlayer(p->Game, p);
        FreeHeldPlayer(p);
        c->HeldPlayer = nullptr;
    }
    if (!hadPlayer) return;
    uint8_t left[kSizePlayerLeft];
    NetCmd_BuildPlayerLeft(left, id);
    for (ServerClient* other : t.players)
        if (other->HeldPlayer) SendTo(s, other, left, kSizePlayerLeft);
    // The one everyone was waiting for is gone.
    StartIfAllReady(s);
}

} // namespace

int32_t Server_Free(Server* s) {
    if (!s) return 0;
    if (s->Clients) {
        for (ServerClient* c : LiveClients(s)) {
            FlushClient(s, c);
            Net_SendMessage(c->ClientConnection, u"Server is shutting down");
        }
        for (ServerClient* c : LiveClients(s)) {
            // Give the goodbye a moment to leave before the connection closes.
            for (int i = 0; i < 10 && Platform_Socket_Backlog(c->ClientConnection); ++i) {
                Platform_Socket_Flush(c->ClientConnection);
                Platform_Socket_Readable(c->ClientConnection, 1);
            }
            Platform_Socket_Close(c->ClientConnection);
        }
    }
    Platform_Socket_Close(s->Listener);
    Platform_Socket_WaitSetFree(State(s)->WaitSet);
    s->ops->Unregister(s);
    if (s->Clients) {
        for (ServerClient* c : LiveClients(s))
            if (Player* p = c->HeldPlayer) FreeHeldPlayer(p);
        ForEach<ServerClient>(s->Clients, [s](ServerClient* c) { ReleaseOut(s, c); });
        DoublyLinkedList_FreeList(s->Clients);
    }
    delete State(s)->Track;
    if (s->ServerModes) {
        ForEach<ModeEntry>(s->ServerModes, [&](ModeEntry* e) {
            if (ModeInterface* m = e->mode) {
                Log(s, u"Freeing " + Plugin_Describe(&e->id));
                m->ops->Free(m);
            }
        });
        DoublyLinkedList_FreeList(s->ServerModes);
    }
    if (s->ServerRotationSystems) {
        ForEach<RotationSystemEntry>(s->ServerRotationSystems, [&](RotationSystemEntry* e) {
            if (RotationSystemInterface* rs = e->rotationSystem) rs->ops->Free(rs);
        });
        DoublyLinkedList_FreeList(s->ServerRotationSystems);
    }
    if (s->ServerRandomizer) s->ServerRandomizer->ops->Free(s->ServerRandomizer);
    if (Game* g = s->ServerGame) {
        if (g->players) DoublyLinkedList_FreeList(g->players);
        std::free(g);
    }
    std::free(s->ClientCallbacks);
    std::free(s);
    return 0;
}
