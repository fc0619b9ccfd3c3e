// A fleet of scripted clients for the relay benches: they join a game server on loopback, play
// scripted input at 60 frames a second and time every relayed input they receive.
//
// The clients are spread over two threads, each looking at a readiness set of its own
// sockets every 0.1 ms, and every client measures every relay it receives, timed when its
// thread finds the data waiting, so the generator's own work is not counted as the server's
// latency (the look tick is: the figure errs against the server).
#pragma once

#include "Platform_Socket.h"
#include "Vantrel_Adv_NetPackets.h"
#include "Zelvik_Player.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace relay_clients {

using Clock = std::chrono::steady_clock;
// Client threads: enough to keep up with 256 clients' relays, few enough to leave the
// server's core alone on a shared machine.
constexpr int kWorkers = 2;
constexpr auto kLookTick = std::chrono::microseconds(100);

inline uint64_t NowUs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count());
}

struct BenchClient {
    uint32_t handle = 0;
    uint32_t id = 0;
    std::vector<uint8_t> in; // bytes not yet framed (only while joining)
    uint8_t buffer[kReceiveBufferSize]{};
    uint32_t count = 0, partial = 0;
};

// Relay latencies in 10 us bins up to 100 ms; the last bin holds everything slower.
constexpr size_t kBins = 10001;
constexpr double kBinUs = 10.0;

// A worker's share of the clients: it sends their scripted input and frames what they
// receive, matching relayed inputs with their send times.
struct Probe {
    const std::vector<uint32_t>* slotOfId = nullptr; // player id -> client index
    std::vector<std::vector<std::atomic<uint64_t>>>* sent = nullptr;
    uint64_t arrival = 0; // when the worker woke with the data waiting
    std::vector<uint64_t> histogram = std::vector<uint64_t>(kBins);
    uint64_t samples = 0;
};

inline bool ProbeHandles(uint8_t c) {
    return c == NetCmd_Input || c == NetCmd_Ready || c == NetCmd_StartGame ||
           c == NetCmd_PlayerJoined || c == NetCmd_PlayerLeft || c == NetCmd_Message ||
           c == NetCmd_JoinReply;
}

inline bool ProbePacket(void* ctx, const uint8_t* d, uint32_t) {
    auto* probe = static_cast<Probe*>(ctx);
    if (d[0] != NetCmd_Input) return true;
    const uint32_t id = Net_GetU32(d + 1), first = Net_GetU32(d + 5);
    const auto& slots = *probe->slotOfId;
    if (id >= slots.size() || slots[id] == UINT32_MAX) return true;
    const auto& times = (*probe->sent)[slots[id]];
    const size_t packet = first == 0 ? 0 : (first + 1) / 2;
    if (packet >= times.size()) return true;
    const uint64_t sentAt = times[packet].load(std::memory_order_acquire);
    if (!sentAt) return true;
    const uint64_t us = probe->arrival > sentAt ? probe->arrival - sentAt : 0;
    ++probe->histogram[std::min<size_t>(kBins - 1, size_t(double(us) / kBinUs))];
    ++probe->samples;
    return true;
}

// Reads what is waiting; with a probe, relayed inputs are framed and timed, else discarded.
inline void Drain(BenchClient& c, Probe* probe) {
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
        if (n < int32_t(sizeof chunk)) return;
    }
}

// Reads until the join reply is in; returns the id (0 on failure).
inline uint32_t AwaitJoinReply(BenchClient& c) {
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

inline uint32_t Script(uint32_t frame, uint32_t salt) {
    const uint32_t f = frame + salt * 5;
    uint32_t in = 0;
    if (f % 30 == 29) in |= Input_HardDrop;
    if (f % 30 < 3) in |= (f / 30) % 2 ? Input_Left : Input_Right;
    if (f % 30 == 10) in |= Input_RotCW;
    return in;
}

// What a fleet measured while it played.
struct RelayReport {
    std::vector<uint64_t> histogram = std::vector<uint64_t>(kBins);
    uint64_t samples = 0;
    double played = 0;   // seconds from the first send to the last look
    bool failed = false; // a send failed

    // The latency in ms below which a share q of the samples lie (-1 without samples).
    double Percentile(double q) const {
        uint64_t seen = 0;
        for (size_t b = 0; b < kBins && samples; ++b) {
            seen += histogram[b];
            if (double(seen) >= double(samples) * q) return double(b + 1) * kBinUs / 1000.0;
        }
        return -1.0;
    }
};

// The clients of one run against the server on a loopback port.
class RelayFleet {
public:
    explicit RelayFleet(int clients) : cs_(static_cast<size_t>(clients)), ids_(cs_.size()) {}
    ~RelayFleet() {
        for (auto& c : cs_) Platform_Socket_Close(c.handle);
    }
    RelayFleet(const RelayFleet&) = delete;
    RelayFleet& operator=(const RelayFleet&) = delete;

    // Connects every client, joins it and makes it ready; false when one could not join.
    bool Join(uint16_t port) {
        const int clients = int(cs_.size());
        bool ok = true;
        for (int i = 0; i < clients && ok; ++i) {
            BenchClient& c = cs_[size_t(i)];
            c.handle = Platform_Socket_Connect("127.0.0.1", port, 5000);
            uint8_t b[kSizeJoin];
            NetCmd_BuildHello(b, kEngineVersion);
            ok = c.handle && Platform_Socket_Send(c.handle, b, kSizeHello) > 0;
            std::u16string name = u"Bot";
            for (char ch : std::to_string(i)) name += char16_t(ch);
            NetCmd_BuildJoin(b, name.c_str());
            ok = ok && Platform_Socket_Send(c.handle, b, kSizeJoin) > 0;
            ok = ok && (c.id = ids_[size_t(i)] = AwaitJoinReply(c)) != 0;
            // Earlier clients keep receiving announcements: do not let them pile up.
            for (int j = 0; j < i; ++j) Drain(cs_[size_t(j)], nullptr);
        }
        joined_ = ok;
        if (!ok) return false;
        for (int i = 0; i < clients; ++i) {
            uint8_t b[kSizeReady];
            NetCmd_BuildReady(b, ids_[size_t(i)], 0);
            Platform_Socket_Send(cs_[size_t(i)].handle, b, kSizeReady);
            for (auto& c : cs_) Drain(c, nullptr);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (auto& c : cs_) Drain(c, nullptr);
        return true;
    }

    // Plays the script for the given seconds (nobody plays unless Join succeeded); onStart runs
    // just before the first send is due, onEnd with the seconds played after the last look.
    template <class OnStart, class OnEnd>
    RelayReport Play(int seconds, OnStart onStart, OnEnd onEnd) {
        const int clients = int(cs_.size());
        const uint32_t frames = uint32_t(seconds) * 60;
        std::vector<std::vector<std::atomic<uint64_t>>> sent(cs_.size());
        for (auto& row : sent) row = std::vector<std::atomic<uint64_t>>(frames / 2 + 2);

        uint32_t maxId = 0;
        for (uint32_t id : ids_) maxId = std::max(maxId, id);
        std::vector<uint32_t> slotOfId(size_t(maxId) + 1, UINT32_MAX);
        for (size_t i = 0; i < ids_.size(); ++i) slotOfId[ids_[i]] = uint32_t(i);

        // Clients do not tick in step: client i sends at i/N of the two-frame period.
        const int workers = std::min(clients, kWorkers);
        std::vector<Probe> probes(static_cast<size_t>(workers));
        const auto start = Clock::now() + std::chrono::milliseconds(50);
        const uint32_t pairs = frames / 2 + 1;
        const auto period = std::chrono::nanoseconds(2000000000 / 60);
        auto sendTime = [&](uint32_t pair, int i) {
            return start + period * pair + period * i / clients;
        };
        std::atomic<bool> failed{false};
        auto work = [&](int w) {
            Probe& probe = probes[size_t(w)];
            probe.slotOfId = &slotOfId;
            probe.sent = &sent;
            const uint32_t set = Platform_Socket_WaitSetCreate();
            std::vector<int> mine;
            for (int i = w; i < clients; i += workers) {
                mine.push_back(i);
                Platform_Socket_WaitSetAdd(set, cs_[size_t(i)].handle, uint64_t(i));
            }
            std::vector<PlatformReadyEntry> ready(mine.size());
            uint8_t packet[kSizeInputMax];
            const uint8_t preview[3] = {1, 2, 3};
            // The next send: the pair and the position in mine.
            uint32_t pair = 0;
            size_t next = 0;
            const auto end = sendTime(pairs, 0) + std::chrono::milliseconds(50);
            for (;;) {
                const auto due = pair < pairs ? sendTime(pair, mine[next]) : end;
                const auto now = Clock::now();
                if (now >= due) {
                    if (pair >= pairs) break;
                    const int i = mine[next];
                    const uint32_t salt = uint32_t(i);
                    if (pair == 0) {
                        NetInput_Start(packet, ids_[size_t(i)], 0, 0, 0, preview, Script(0, salt));
                    } else {
                        NetInput_Start(packet, ids_[size_t(i)], 2 * pair - 1, 0, 0, preview,
                                       Script(2 * pair - 1, salt));
                        NetInput_Append(packet, Script(2 * pair, salt));
                    }
                    sent[size_t(i)][pair].store(NowUs(), std::memory_order_release);
                    if (Platform_Socket_Send(cs_[size_t(i)].handle, packet, NetInput_Size(packet)) <
                        0)
                        failed = true;
                    if (++next == mine.size()) {
                        next = 0;
                        ++pair;
                    }
                    continue;
                }
                // Look, then sleep a tick: a receiver blocked in a wait would make every send
                // on loopback also pay for waking it, which on a network its own machine
                // does. An arrival is timed when the look finds it, so a tick only adds to
                // the figure.
                const int32_t n =
                    Platform_Socket_WaitSetWait(set, ready.data(), uint32_t(ready.size()), 0);
                probe.arrival = NowUs();
                for (int32_t k = 0; k < n; ++k) {
                    BenchClient& c = cs_[size_t(ready[size_t(k)].key)];
                    if (ready[size_t(k)].writable) Platform_Socket_Flush(c.handle);
                    if (ready[size_t(k)].readable) Drain(c, &probe);
                }
                if (n <= 0) std::this_thread::sleep_until(std::min(due, now + kLookTick));
            }
            Platform_Socket_WaitSetFree(set);
        };
        onStart();
        std::vector<std::thread> threads;
        for (int w = 0; w < workers && joined_; ++w) threads.emplace_back(work, w);
        for (auto& t : threads) t.join();
        RelayReport report;
        report.played = std::chrono::duration<double>(Clock::now() - start).count();
        onEnd(report.played);
        report.failed = failed;
        for (const Probe& p : probes) {
            for (size_t b = 0; b < kBins; ++b) report.histogram[b] += p.histogram[b];
            report.samples += p.samples;
        }
        return report;
    }

private:
    std::vector<BenchClient> cs_;
    std::vector<uint32_t> ids_;
    bool joined_ = false;
};

} // namespace relay_clients
