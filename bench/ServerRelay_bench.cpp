// Load on the game server: N clients on loopback play scripted input at 60 frames a second.
// Prints, per N, the server's CPU seconds per second of play and the 99th-percentile time from
// a client's send to the relayed packet's arrival at another client.
//
// Usage: ServerRelay_bench [seconds per run = 20] [N ...]  (default N: 16 64 128 256)
#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Platform_Path.h"
#include "Platform_Socket.h"
#include "Vantrel_Adv_NetPackets.h"
#include "Vantrel_Adv_Plugin.h"
#include "Vantrel_Adv_Server.h"
#include "Zelvik_Player.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

uint64_t NowUs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count());
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

struct BenchClient {
    uint32_t handle = 0;
    uint32_t id = 0;
    std::vector<uint8_t> in; // bytes not yet framed (only while joining)
    uint8_t buffer[kReceiveBufferSize]{};
    uint32_t count = 0, partial = 0;
};

// The measuring receiver: frames relayed inputs and matches them with their send times.
struct Probe {
    const std::vector<uint32_t>* ids = nullptr;
    std::vector<std::vector<std::atomic<uint64_t>>>* sent = nullptr;
    std::vector<double> latenciesMs;
};

bool ProbeHandles(uint8_t c) {
    return c == NetCmd_Input || c == NetCmd_Ready || c == NetCmd_StartGame ||
           c == NetCmd_PlayerJoined || c == NetCmd_PlayerLeft || c == NetCmd_Message ||
           c == NetCmd_JoinReply;
}

bool ProbePacket(void* ctx, const uint8_t* d, uint32_t) {
    auto* probe = static_cast<Probe*>(ctx);
    if (d[0] != NetCmd_Input) return true;
    const uint64_t now = NowUs();
    const uint32_t id = Net_GetU32(d + 1), first = Net_GetU32(d + 5);
    const auto& ids = *probe->ids;
    const auto it = std::find(ids.begin(), ids.end(), id);
    if (it == ids.end()) return true;
    const auto& times = (*probe->sent)[size_t(it - ids.begin())];
    const size_t packet = first == 0 ? 0 : (first + 1) / 2;
    if (packet < times.size() && times[packet])
        probe->latenciesMs.push_back(double(now - times[packet]) / 1000.0);
    return true;
}

void Drain(BenchClient& c, Probe* probe) {
    uint8_t chunk[65536];
    for (int i = 0; i < 64; ++i) {
        const int32_t n = Platform_Socket_Receive(c.handle, chunk, sizeof chunk);
        if (n <= 0) return;
        if (!probe) continue;
        NetFrameSink sink{probe,
                          ProbeHandles,
                          [](void*, const uint8_t*) { return true; },
                          [](void*, uint32_t) -> uint8_t* { return nullptr; },
                          ProbePacket,
                          nullptr};
        Net_FeedBytes({c.buffer, &c.count, &c.partial}, sink, chunk, size_t(n));
    }
}

// Reads until the join reply is in; returns the id (0 on failure).
uint32_t AwaitJoinReply(BenchClient& c) {
    uint8_t chunk[4096];
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < until) {
        if (!Platform_Socket_Readable(c.handle, 10)) continue;
        const int32_t n = Platform_Socket_Receive(c.handle, chunk, sizeof chunk);
        if (n < 0) return 0;
        c.in.insert(c.in.end(), chunk, chunk + n);
        if (c.in.size() >= kSizeJoinReplyFixed && c.in[0] == NetCmd_JoinReply) {
            const uint32_t m = Net_GetU32(c.in.data() + 5), r = Net_GetU32(c.in.data() + 9);
            if (c.in.size() >= NetCmd_JoinReplySize(m, r)) return Net_GetU32(c.in.data() + 1);
        }
    }
    return 0;
}

uint32_t Script(uint32_t frame, uint32_t salt) {
    const uint32_t f = frame + salt * 5;
    uint32_t in = 0;
    if (f % 30 == 29) in |= Input_HardDrop;
    if (f % 30 < 3) in |= (f / 30) % 2 ? Input_Left : Input_Right;
    if (f % 30 == 10) in |= Input_RotCW;
    return in;
}

bool Run(int clients, int seconds) {
    Server* s = Server_Create(u"Relay bench", 0);
    if (!s) {
        std::fprintf(stderr, "cannot create the server\n");
        return false;
    }
    if (const ZelvikID* mode = Plugin_FindByName(PluginKind_Mode, u"PEXA Master"))
        s->ops->AddMode(s, mode);
    if (const ZelvikID* rs = Plugin_GetInfo(PluginKind_RotationSystem, 0))
        s->ops->AddRotationSystem(s, rs);
    if (const ZelvikID* rnd = Plugin_GetInfo(PluginKind_Randomizer, 0))
        s->ops->SetRandomizer(s, rnd);
    const uint16_t port = Server_GetPort(s);

    std::atomic<bool> serving{true};
    std::atomic<double> cpuStart{0}, cpuEnd{0};
    std::atomic<int> phase{0}; // 0 joining, 1 playing, 2 done
    std::thread server([&] {
        int seen = 0;
        while (serving) {
            s->ops->Process(s);
            if (phase == 1 && seen == 0) {
                cpuStart = ThreadCpuSeconds();
                seen = 1;
            } else if (phase == 2 && seen == 1) {
                cpuEnd = ThreadCpuSeconds();
                seen = 2;
            }
            // Sleep until a client sends something (at most 1 ms): the host's own wait.
            std::vector<PlatformPollEntry> entries;
            entries.push_back({s->Listener, 0, 0, 0});
            for (auto* e = s->Clients->First; e; e = e->Next)
                entries.push_back(
                    {static_cast<ServerClient*>(DoublyLinkedList_Data(e))->ClientConnection, 0, 0,
                     0});
            Platform_Socket_Poll(entries.data(), uint32_t(entries.size()), 1);
        }
    });

    std::vector<BenchClient> cs(static_cast<size_t>(clients));
    std::vector<uint32_t> ids(static_cast<size_t>(clients));
    const uint32_t frames = uint32_t(seconds) * 60;
    std::vector<std::vector<std::atomic<uint64_t>>> sent(static_cast<size_t>(clients));
    for (auto& row : sent) row = std::vector<std::atomic<uint64_t>>(frames / 2 + 2);
    bool ok = true;
    for (int i = 0; i < clients && ok; ++i) {
        BenchClient& c = cs[size_t(i)];
        c.handle = Platform_Socket_Connect("127.0.0.1", port, 5000);
        uint8_t b[kSizeJoin];
        NetCmd_BuildHello(b, kEngineVersion);
        ok = c.handle && Platform_Socket_Send(c.handle, b, kSizeHello) > 0;
        std::u16string name = u"Bot";
        for (char ch : std::to_string(i)) name += char16_t(ch);
        NetCmd_BuildJoin(b, name.c_str());
        ok = ok && Platform_Socket_Send(c.handle, b, kSizeJoin) > 0;
        ok = ok && (c.id = ids[size_t(i)] = AwaitJoinReply(c)) != 0;
        // Earlier clients keep receiving announcements: do not let them pile up.
        for (int j = 0; j < i; ++j) Drain(cs[size_t(j)], nullptr);
    }
    if (!ok) std::fprintf(stderr, "N=%d: a client could not join\n", clients);
    for (int i = 0; i < clients && ok; ++i) {
        uint8_t b[kSizeReady];
        NetCmd_BuildReady(b, ids[size_t(i)], 0);
        Platform_Socket_Send(cs[size_t(i)].handle, b, kSizeReady);
        for (auto& c : cs) Drain(c, nullptr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (auto& c : cs) Drain(c, nullptr);

    Probe probe;
    probe.ids = &ids;
    probe.sent = &sent;
    phase = 1;
    // The measuring client reads on its own thread, so the time of arrival is not rounded to
    // the senders' frame ticks.
    std::atomic<bool> probing{true};
    std::thread prober([&] {
        while (probing)
            if (Platform_Socket_Readable(cs[0].handle, 1)) Drain(cs[0], &probe);
    });
    const auto start = Clock::now();
    uint8_t packet[kSizeInputMax];
    const uint8_t preview[3] = {1, 2, 3};
    // Clients do not tick in step: each sends in its own slot of the two-frame period.
    constexpr uint32_t kSlots = 32;
    const uint32_t pairs = frames / 2 + 1;
    std::vector<PlatformPollEntry> readable(static_cast<size_t>(clients));
    for (uint32_t tick = 0; ok && tick < pairs * kSlots; ++tick) {
        std::this_thread::sleep_until(
            start + std::chrono::microseconds(uint64_t(tick) * 2000000 / 60 / kSlots));
        const uint32_t pair = tick / kSlots, slot = tick % kSlots;
        for (int i = int(slot); i < clients; i += int(kSlots)) {
            const uint32_t salt = uint32_t(i);
            if (pair == 0) {
                NetInput_Start(packet, ids[size_t(i)], 0, 0, 0, preview, Script(0, salt));
            } else {
                NetInput_Start(packet, ids[size_t(i)], 2 * pair - 1, 0, 0, preview,
                               Script(2 * pair - 1, salt));
                NetInput_Append(packet, Script(2 * pair, salt));
            }
            sent[size_t(i)][pair] = NowUs();
            Platform_Socket_Send(cs[size_t(i)].handle, packet, NetInput_Size(packet));
        }
        for (int i = 0; i < clients; ++i)
            readable[size_t(i)] = {i ? cs[size_t(i)].handle : 0, 0, 0, 0};
        if (Platform_Socket_Poll(readable.data(), uint32_t(clients), 0) > 0)
            for (int i = 1; i < clients; ++i)
                if (readable[size_t(i)].readable || readable[size_t(i)].writable) {
                    Platform_Socket_Flush(cs[size_t(i)].handle);
                    Drain(cs[size_t(i)], nullptr);
                }
    }
    const double played = std::chrono::duration<double>(Clock::now() - start).count();
    phase = 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    probing = false;
    prober.join();
    serving = false;
    server.join();

    auto& l = probe.latenciesMs;
    std::sort(l.begin(), l.end());
    const double p99 = l.empty() ? -1 : l[std::min(l.size() - 1, size_t(double(l.size()) * 0.99))];
    const double cpu = (cpuEnd - cpuStart) / played;
    std::printf(
        "N=%-4d server CPU %.3f s per s of play   p99 relay latency %.3f ms   (%zu samples)\n",
        clients, cpu, p99, l.size());
    std::fflush(stdout);
    for (auto& c : cs) Platform_Socket_Close(c.handle);
    s->ops->Free(s);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    HighResTimer_ChooseClocks();
    Platform_Socket_Init();
    Plugin_Init();
    const std::string dir = std::string(ZELVIK_GAME_DIR) + "/dlls/";
    for (const char* sub : {"modes/", "randomizer/", "rotationsystem/"})
        Plugin_ScanFolder(Platform_Path_FromUtf8(dir + sub));
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i) counts.push_back(std::max(1, std::atoi(argv[i])));
    if (counts.empty()) counts = {16, 64, 128, 256};
    bool ok = true;
    for (int n : counts) ok = Run(n, seconds) && ok;
    return ok ? 0 : 1;
}
