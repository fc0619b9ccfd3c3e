// The network client inside a player: connecting, sending the player's frames,
// the receive pump and the handlers that keep the remote players in step.
#include "Vantrel_Adv_NetClient.h"

#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Platform_Socket.h"
#include "Vantrel_Adv_NetPackets.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Vantrel_Common.h"
#include "Zelvik_RotationSystem.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

namespace {

constexpr int32_t kConnectTimeoutMs = 5000;
constexpr uint32_t kChunk = 4096;
// A pump reads at most this much per call so a flooding server cannot stall the
// frame loop.
constexpr uint32_t kPumpBudget = 64 * 1024;
constexpr int32_t kMaxRemotePlayers = 1024;
constexpr uint32_t kOutOfSyncIntervalMs = 1000;

enum ClientEvent : uint8_t { Event_Connect = 1, Event_Data = 2, Event_Closed = 4 };

bool networkReady = false;

// One queue of client network events for the whole process (the engine serves
// one connected local player per process). Each pump adds at most one event and
// consumes them all, so a tiny ring is enough.
struct {
    uint8_t kinds[16];
    uint32_t head = 0, count = 0;
} clientEvents;

void PushEvent(uint8_t kind) {
    if (clientEvents.count == sizeof clientEvents.kinds) return;
    clientEvents.kinds[(clientEvents.head + clientEvents.count++) % sizeof clientEvents.kinds] =
        kind;
}

// When each server-held player last logged an out-of-sync line.
std::unordered_map<const Player*, uint32_t> lastOutOfSync;

void Log(Player* p, const std::u16string& line) {
    Common_OutputMessage(p, line.c_str());
}

std::string ToUtf8(const char16_t* s) {
    std::string out;
    for (; s && *s; ++s) {
        uint32_t c = *s;
        if (c >= 0xD800 && c < 0xDC00 && s[1] >= 0xDC00 && s[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

template <typename T> T* First(DoublyLinkedList* list) {
    return list ? static_cast<T*>(DoublyLinkedList_FirstElement(list)) : nullptr;
}

void ForEachRemote(Player* p, void (*fn)(Player* remote, uintptr_t arg), uintptr_t arg) {
    if (!p->RemotePlayers) return;
    for (auto* e = p->RemotePlayers->First; e; e = e->Next)
        fn(*static_cast<Player**>(DoublyLinkedList_Data(e)), arg);
}

// Closes the local player's connection; its remote players shared it.
void DropConnection(Player* p) {
    if (!p->Connection) return;
    Platform_Socket_Close(p->Connection);
    p->Connection = 0;
    ForEachRemote(
        p, [](Player* r, uintptr_t) { r->Connection = 0; }, 0);
    if (p->ReceiveBuffer) {
        p->ReceiveCount = 0;
        p->ReceivePartial = 0;
    }
}

bool ClientHandles(uint8_t c) {
    switch (c) {
    case NetCmd_JoinReply:
    case NetCmd_PlayerJoined:
    case NetCmd_Ready:
    case NetCmd_StartGame:
    case NetCmd_Input:
    case NetCmd_PlayerLeft:
    case NetCmd_Message:
        return true;
    default:
        return false;
    }
}

uint32_t ReplyModes(const Player* p) {
    return Net_GetU32(p->ReceiveBuffer + 5);
}

bool OnJoinReplyBegin(void* ctx, const uint8_t* fixed) {
    auto* p = static_cast<Player*>(ctx);
    const uint32_t m = Net_GetU32(fixed + 5), r = Net_GetU32(fixed + 9);
    // A later reply replaces what an earlier one offered.
    std::free(p->OfferedModes);
    std::free(p->OfferedRotationSystems);
    p->OfferedModes = nullptr;
    p->OfferedRotationSystems = nullptr;
    p->OfferedRotationSystemCount = 0;
    if (m && !(p->OfferedModes = static_cast<ZelvikID*>(std::calloc(m, sizeof(ZelvikID)))))
        return false;
    if (r &&
        !(p->OfferedRotationSystems = static_cast<ZelvikID*>(std::calloc(r, sizeof(ZelvikID))))) {
        std::free(p->OfferedModes);
        p->OfferedModes = nullptr;
        return false;
    }
    p->OfferedRotationSystemCount = r;
    return true;
}

uint8_t* OnJoinReplyRecord(void* ctx, uint32_t index) {
    auto* p = static_cast<Player*>(ctx);
    const uint32_t m = ReplyModes(p);
    if (index < m)
        return p->OfferedModes ? reinterpret_cast<uint8_t*>(&p->OfferedModes[index]) : nullptr;
    index -= m;
    if (index >= p->OfferedRotationSystemCount || !p->OfferedRotationSystems) return nullptr;
    return reinterpret_cast<uint8_t*>(&p->OfferedRotationSystems[index]);
}

void LogPlugin(Player* p, const ZelvikID* id, bool ok) {
    Log(p, (id ? Plugin_Describe(id) : std::u16string()) +
               (ok ? u" loaded" : u" not found or invalid"));
}

void Net_OnJoinReply(Player* p, const uint8_t* d) {
    PacketReader r(d, kSizeJoinReplyFixed);
    r.Skip(1);
    const uint32_t newId = r.U32();
    const uint32_t m = r.U32();
    r.U32();
    ZelvikID randomizer;
    r.Bytes(&randomizer, sizeof randomizer);
    Log(p, u"Connected New ID:" + Net_Decimal(newId) + u" (Old: " + Net_Decimal(p->Id) + u")");
    p->Id = newId;
    for (uint32_t i = 0; i < m && p->OfferedModes; ++i)
        LogPlugin(p, &p->OfferedModes[i], p->ops->AddMode(p, &p->OfferedModes[i]) != 0);
    if (p->OfferedRotationSystemCount) {
        const ZelvikID* rs = &p->OfferedRotationSystems[0];
        LogPlugin(p, rs, p->ops->SetRotationSystem(p, rs) != 0);
    } else {
        LogPlugin(p, nullptr, false);
    }
    LogPlugin(p, &randomizer, p->ops->SetRandomizer(p, &randomizer) != 0);
    if (p->OnConnected) p->OnConnected(p);
    std::free(p->OfferedModes);
    p->OfferedModes = nullptr;
}

int32_t CompareIds(void* a, void* b, uintptr_t) {
    const uint32_t x = (*static_cast<Player**>(a))->Id, y = (*static_cast<Player**>(b))->Id;
    return x < y ? -1 : x > y ? 1 : 0;
}

void Net_OnPlayerJoined(Player* p, const uint8_t* d) {
    PacketReader r(d, kSizePlayerJoined);
    r.Skip(1);
    const uint32_t id = r.U32();
    char16_t name[kTextUnits + 1];
    r.Text(name);
    const uint32_t seed = r.U32();
    // A server may not announce us, or anyone twice.
    if (Net_FindPlayer(p, id)) return;
    if (!p->RemotePlayers && !(p->RemotePlayers = DoublyLinkedList_Create(sizeof(Player*)))) return;
    if (DoublyLinkedList_CountList(p->RemotePlayers) >= kMaxRemotePlayers) return;
    // No own field: the mode gives it the same field the local player plays on.
    Player* remote = Player_Create(nullptr, 0);
    if (!remote) return;
    auto* slot = static_cast<Player**>(DoublyLinkedList_AddElement(p->RemotePlayers));
    if (!slot) {
        remote->ops->Free(remote);
        return;
    }
    *slot = remote;
    remote->Id = id;
    remote->ops->SetName(remote, name);
    remote->Seed = seed;
    remote->IsRemote = 1;
    remote->Connection = p->Connection;
    // It shares the local player's game (without joining its list, so StartAll
    // does not start it a second time).
    remote->Game = p->Game;
    if (p->OnPlayerJoined) p->OnPlayerJoined(p, remote);
    p->ops->CopyRulesTo(p, remote);
    DoublyLinkedList_SortList(p->RemotePlayers, CompareIds, 0);
}

// Also once the game-over animation has run out and left the copy idle.
bool Net_GameEnded(const Player* p) {
    return Player_Ending(*p) != PlayerEnding::None;
}

void Net_OnPlayerReady(Player* p, const uint8_t* d) {
    const uint32_t id = Net_GetU32(d + 1), index = Net_GetU32(d + 5);
    Player* remote = Net_FindPlayer(p, id);
    if (!remote || remote == p) return;
    // A game that has ended stays on show until the next one starts; one still running (a
    // player ready again mid-game) starts over now.
    if (!Net_GameEnded(remote)) remote->ops->Reset(remote);
    remote->ReadyFlag = 1;
    if (index < p->OfferedRotationSystemCount && p->OfferedRotationSystems)
        remote->ops->SetRotationSystem(remote, &p->OfferedRotationSystems[index]);
}

void Net_OnStartGame(Player* p, const uint8_t* d) {
    const uint32_t seed = Net_GetU32(d + 5);
    ForEachRemote(
        p,
        [](Player* r, uintptr_t s) {
            // Frames relayed before the start are the last game's.
            if (r->InputQueue) DoublyLinkedList_ClearList(r->InputQueue);
            if (r->SyncQueue) DoublyLinkedList_ClearList(r->SyncQueue);
            if (Net_GameEnded(r)) r->ops->Reset(r);
            r->ReadyFlag = 0;
            r->Seed = static_cast<uint32_t>(s);
            r->ops->Start(r);
        },
        seed);
    p->ReadyFlag = 0;
    p->Seed = seed;
    p->PacketSent = 1; // an unsent packet of the last game never mixes with the new one
    p->ops->Start(p);
}

bool QueueSync(Player* target, uint32_t frame, int32_t active, const int8_t* preview,
               uint32_t previews) {
    if (!target->SyncQueue && !(target->SyncQueue = DoublyLinkedList_Create(sizeof(SyncRecord))))
        return false;
    auto* rec = static_cast<SyncRecord*>(DoublyLinkedList_AddElement(target->SyncQueue));
    if (!rec) return false;
    rec->frame = frame;
    rec->activeKind = static_cast<uint32_t>(active);
    for (uint32_t i = 0; i < previews; ++i)
        rec->previewKinds[i] = static_cast<uint32_t>(preview[i]);
    return true;
}

void Net_OnInputPacket(Player* p, const uint8_t* d, uint32_t size) {
    Player* remote = Net_FindPlayer(p, Net_GetU32(d + kInputId));
    // Our own frames never come back to us; a server that echoes them is ignored.
    if (!remote || remote == p) return;
    const uint32_t count = size - kSizeInputFixed;
    uint32_t last = 0;
    bool hasLast = false;
    if (remote->InputQueue && remote->InputQueue->Last) {
        last = *static_cast<uint32_t*>(DoublyLinkedList_Data(remote->InputQueue->Last));
        hasLast = true;
    }
    uint32_t frames =
        NetInput_Decode(d + kInputEntries, count / 2, &last, &hasLast, [](uint32_t, uint32_t) {});
    const uint32_t queued =
        remote->InputQueue ? static_cast<uint32_t>(DoublyLinkedList_CountList(remote->InputQueue))
                           : 0;
    if (queued + frames > Net_MaxQueuedFrames(remote)) return;
    if (remote->InputQueue && remote->InputQueue->Last) {
        last = *static_cast<uint32_t*>(DoublyLinkedList_Data(remote->InputQueue->Last));
        hasLast = true;
    } else {
        hasLast = false;
    }
    NetInput_Decode(d + kInputEntries, count / 2, &last, &hasLast,
                    [remote](uint32_t w, uint32_t n) {
                        for (uint32_t i = 0; i < n; ++i) Net_QueueWord(&remote->InputQueue, w);
                    });
    int8_t preview[3];
    std::memcpy(preview, d + kInputPreview, 3);
    QueueSync(remote, Net_GetU32(d + kInputFirstFrame), static_cast<int8_t>(d[kInputActive]),
              preview, 3);
}

void Net_OnPlayerLeft(Player* p, const uint8_t* d) {
    const uint32_t id = Net_GetU32(d + 1);
    Log(p, u"Player " + Net_Decimal(id) + u" disconnected");
    if (!p->RemotePlayers) return;
    int32_t index = 0;
    for (auto* e = p->RemotePlayers->First; e; e = e->Next, ++index) {
        Player* remote = *static_cast<Player**>(DoublyLinkedList_Data(e));
        if (remote->Id != id) continue;
        p->RemotePlayers->Current = e;
        p->RemotePlayers->Index = index;
        DoublyLinkedList_DeleteElement(p->RemotePlayers);
        if (p->OnPlayerLeft) p->OnPlayerLeft(p, remote);
        // The connection is the local player's; a remote player never closes it.
        remote->Connection = 0;
        remote->ops->Free(remote);
        return;
    }
}

void Net_OnMessage(Player* p, const uint8_t* d) {
    PacketReader r(d, kSizeMessage);
    r.Skip(1);
    char16_t text[kTextUnits + 1];
    r.Text(text);
    Common_OutputChat(p, text);
}

bool OnClientPacket(void* ctx, const uint8_t* d, uint32_t size) {
    auto* p = static_cast<Player*>(ctx);
    switch (d[0]) {
    case NetCmd_JoinReply:
        Net_OnJoinReply(p, d);
        break;
    case NetCmd_PlayerJoined:
        Net_OnPlayerJoined(p, d);
        break;
    case NetCmd_Ready:
        Net_OnPlayerReady(p, d);
        break;
    case NetCmd_StartGame:
        Net_OnStartGame(p, d);
        break;
    case NetCmd_Input:
        Net_OnInputPacket(p, d, size);
        break;
    case NetCmd_PlayerLeft:
        Net_OnPlayerLeft(p, d);
        break;
    case NetCmd_Message:
        Net_OnMessage(p, d);
        break;
    default:
        break;
    }
    return p->Connection != 0;
}

// Reads what the connection holds (up to the budget) and dispatches whole
// packets.
void PumpConnection(Player* p) {
    const NetReceiveState state{p->ReceiveBuffer, &p->ReceiveCount, &p->ReceivePartial};
    const NetFrameSink sink{
        p, ClientHandles, OnJoinReplyBegin, OnJoinReplyRecord, OnClientPacket, nullptr};
    uint8_t chunk[kChunk];
    for (uint32_t budget = kPumpBudget; budget && p->Connection;) {
        const int32_t n = Platform_Socket_Receive(p->Connection, chunk, kChunk);
        if (n == 0) return;
        if (n < 0) {
            // Closed or failed: reading on would parse the rest of a packet as
            // commands.
            DropConnection(p);
            return;
        }
        budget -= std::min<uint32_t>(budget, static_cast<uint32_t>(n));
        if (Net_FeedBytes(state, sink, chunk, static_cast<size_t>(n)) == NetFeedResult::Stopped &&
            p->Connection) {
            // A join reply that could not be real (or could not be held): give up the
            // server.
            Log(p, u"Invalid NetCmd_JoinReply from the server");
            p->SendFailed = 1;
            DropConnection(p);
            return;
        }
    }
}

void SetPieceFromKind(RotationSystemInterface* rs, RotationPiece** slot, int32_t kind) {
    if (*slot) rs->ops->FreePiece(rs, *slot);
    *slot = (kind >= 1 && kind <= 7) ? rs->ops->CreatePiece(rs, static_cast<uint32_t>(kind), 0)
                                     : nullptr;
}

void ApplySync(Player* p, const SyncRecord& rec) {
    RotationSystemInterface* rs = p->RotationSystem;
    const int32_t active = static_cast<int32_t>(rec.activeKind);
    if (active >= 1 && active <= 7) SetPieceFromKind(rs, &p->Piece, active);
    for (int32_t i = 0; i < kNextQueueSize; ++i)
        SetPieceFromKind(rs, &p->NextQueue[i], static_cast<int32_t>(rec.previewKinds[i]));
}

void CheckSum(Player* p, uint32_t frame, uint32_t checksum) {
    if (checksum == p->ops->GetFieldChecksum(p)) return;
    const uint32_t now = GetMilliseconds ? GetMilliseconds() : 0;
    auto it = lastOutOfSync.find(p);
    if (it != lastOutOfSync.end() && uint32_t(now - it->second) < kOutOfSyncIntervalMs) return;
    lastOutOfSync[p] = now;
    Log(p, u"Warning: " + std::u16string(p->NameBuffer) + u" is out of sync (frame " +
               Net_Decimal(frame) + u")");
}

} // namespace

uint32_t Net_MaxQueuedFrames(const Player* p) {
    const double fps = p->Settings.FramesPerSecond > 0 && p->Settings.FramesPerSecond < 1000
                           ? p->Settings.FramesPerSecond
                           : 60.0;
    return static_cast<uint32_t>(std::nearbyint(fps * 10));
}

bool Net_QueueWord(DoublyLinkedList** queue, uint32_t word) {
    if (!*queue && !(*queue = DoublyLinkedList_Create(sizeof(uint32_t)))) return false;
    auto* slot = static_cast<uint32_t*>(DoublyLinkedList_AddElement(*queue));
    if (!slot) return false;
    *slot = word;
    return true;
}

Player* Net_FindPlayer(Player* p, uint32_t id) {
    if (!p) return nullptr;
    if (p->Id == id) return p;
    if (!p->RemotePlayers) return nullptr;
    int32_t index = 0;
    for (auto* e = p->RemotePlayers->First; e; e = e->Next, ++index) {
        Player* r = *static_cast<Player**>(DoublyLinkedList_Data(e));
        if (r->Id == id) {
            p->RemotePlayers->Current = e;
            p->RemotePlayers->Index = index;
            return r;
        }
    }
    return nullptr;
}

int32_t Net_SendMessage(uint32_t connection, const char16_t* text) {
    auto* buffer = static_cast<uint8_t*>(std::malloc(kSizeMessage));
    if (!buffer) return 0;
    NetCmd_BuildMessage(buffer, text);
    const int32_t sent = Platform_Socket_Send(connection, buffer, kSizeMessage);
    std::free(buffer);
    return sent;
}

void Net_ForgetPlayer(Player* p) {
    lastOutOfSync.erase(p);
}

int32_t Net_ClientProcess(Player* p) {
    if (!p || p->IsRemote) return 0;
    if (!p->ReceiveBuffer &&
        !(p->ReceiveBuffer = static_cast<uint8_t*>(std::calloc(1, kReceiveBufferSize))))
        return 0;
    if (p->Connection) {
        if (Platform_Socket_Flush(p->Connection) < 0) p->SendFailed = 1;
        PlatformPollEntry e{p->Connection, 0, 0, 0};
        if (Platform_Socket_Poll(&e, 1, 0) > 0) {
            if (e.readable)
                PushEvent(Event_Data);
            else if (e.hangup)
                PushEvent(Event_Closed);
        }
    }
    while (clientEvents.count) {
        const uint8_t kind = clientEvents.kinds[clientEvents.head];
        clientEvents.head = (clientEvents.head + 1) % sizeof clientEvents.kinds;
        --clientEvents.count;
        if (kind == Event_Data && p->Connection)
            PumpConnection(p);
        else if (kind == Event_Closed)
            DropConnection(p);
    }
    return 0;
}

int32_t Net_TakeRemoteInput(Player* p, uint32_t frame, uint32_t* input) {
    if (!p || !p->InputQueue) return 0;
    auto* word = First<uint32_t>(p->InputQueue);
    if (!word) return 0;
    if (!input || !p->RotationSystem) return 1;
    *input = *word;
    // Records for frames already run can never match again; dropping them keeps
    // the queue moving.
    while (auto* rec = First<SyncRecord>(p->SyncQueue)) {
        if (rec->frame > frame) break;
        if (rec->frame == frame) ApplySync(p, *rec);
        DoublyLinkedList_FirstElement(p->SyncQueue);
        DoublyLinkedList_DeleteElement(p->SyncQueue);
    }
    while (auto* rec = First<ChecksumRecord>(p->ChecksumQueue)) {
        if (rec->frame > frame) break;
        if (rec->frame == frame) CheckSum(p, frame, rec->checksum);
        DoublyLinkedList_FirstElement(p->ChecksumQueue);
        DoublyLinkedList_DeleteElement(p->ChecksumQueue);
    }
    DoublyLinkedList_FirstElement(p->InputQueue);
    DoublyLinkedList_DeleteElement(p->InputQueue);
    return 1;
}

int32_t SendNetPacket(Player* p) {
    if (!p) return 0;
    const uint32_t connection = p->Connection ? p->Connection : p->PeerConnection;
    if (!connection) return 0;
    uint32_t size = 0;
    switch (p->PacketBuffer[0]) {
    case NetCmd_StartGame:
        size = kSizeStartGame;
        break;
    case NetCmd_Input:
        // The end of a game flushes; a packet already out is not sent twice.
        if (p->PacketSent) return 0;
        size = NetInput_Size(p->PacketBuffer);
        p->PacketSent = 1;
        break;
    case NetCmd_PlayerJoined:
        size = kSizePlayerJoined;
        break;
    case NetCmd_Ready:
        size = kSizeReady;
        break;
    case NetCmd_Hello:
        size = kSizeHello;
        break;
    case NetCmd_Join:
        size = kSizeJoin;
        break;
    case NetCmd_JoinReply:
        Log(p, u"NetCmd_JoinReply passed to SendNetPacket().\r\nUse "
               u"Server_SendNetPacket!");
        p->SendFailed = 1;
        return 0;
    default:
        p->SendFailed = 1;
        return 0;
    }
    const int32_t sent = Platform_Socket_Send(connection, p->PacketBuffer, size);
    if (sent < 1) p->SendFailed = 1;
    return sent < 0 ? 0 : sent;
}

int32_t Net_AddFrameInput(Player* p, uint32_t frame, uint32_t input) {
    if (!p) return 0;
    uint8_t* buf = p->PacketBuffer;
    if (p->PacketSent || buf[0] != NetCmd_Input || NetInput_Append(buf, input) < 0) {
        if (!p->PacketSent && buf[0] == NetCmd_Input) SendNetPacket(p); // full: send it first
        uint8_t preview[3] = {0, 0, 0};
        for (int i = 0; i < 3; ++i)
            if (p->NextQueue[i]) preview[i] = static_cast<uint8_t>(p->NextQueue[i]->kind);
        const uint8_t active = p->Piece ? static_cast<uint8_t>(p->Piece->kind) : 0;
        NetInput_Start(buf, p->Id, frame, p->ops->GetFieldChecksum(p), active, preview, input);
        p->PacketSent = 0;
    }
    if ((frame & 1) == 0 || buf[kInputLastIndex] == 255) SendNetPacket(p);
    return 0;
}

int32_t Net_FlushInput(Player* p) {
    // Only frames not yet sent: whatever else the buffer last held (a ready notice, a start)
    // is long out and must not go again.
    if (!p || p->PacketBuffer[0] != NetCmd_Input) return 0;
    return SendNetPacket(p);
}

void Net_ClosePlayerConnection(Player* p) {
    if (!p || p->IsRemote) return;
    DropConnection(p);
    Net_ForgetPlayer(p);
}

int32_t Player_RequestStart(Player* p) {
    if (!p || p->IsRemote) return 0;
    if (!p->Connection) return p->ops->Start(p);
    // The server knows rotation systems by their place in what it offered.
    uint32_t index = 0;
    for (; index < p->OfferedRotationSystemCount; ++index)
        if (std::memcmp(&p->OfferedRotationSystems[index], &p->RotationSystemID,
                        sizeof(ZelvikID)) == 0)
            break;
    if (!p->OfferedRotationSystems || index == p->OfferedRotationSystemCount) return 0;
    p->ReadyFlag = 1;
    NetCmd_BuildReady(p->PacketBuffer, p->Id, index);
    SendNetPacket(p);
    return 1;
}

uint32_t Player_Connect(Player* p, const char16_t* host, int32_t port,
                        PlayerConnectedCallback onConnected, PlayerRemoteCallback onPlayerJoined,
                        PlayerRemoteCallback onPlayerLeft) {
    if (!p) return 0;
    if (!networkReady) networkReady = Platform_Socket_Init() != 0;
    DropConnection(p);
    if (p->ReceiveBuffer)
        Net_ResetReceive({p->ReceiveBuffer, &p->ReceiveCount, &p->ReceivePartial});
    if (port <= 0 || port > 0xFFFF) return 0;
    p->Connection = Platform_Socket_Connect(ToUtf8(host).c_str(), static_cast<uint16_t>(port),
                                            kConnectTimeoutMs);
    if (!p->Connection) return 0;
    p->PacketSent = 1;
    p->OnConnected = onConnected;
    p->OnPlayerJoined = onPlayerJoined;
    p->OnPlayerLeft = onPlayerLeft;
    NetCmd_BuildHello(p->PacketBuffer, kEngineVersion);
    SendNetPacket(p);
    NetCmd_BuildJoin(p->PacketBuffer, p->NameBuffer);
    SendNetPacket(p);
    return p->Connection;
}
