// The server browser's info queries: every listed server is asked at once on one thread's poll
// loop, each query with its own time limit, so a list full of silent servers cannot hold up
// the answer of a live one.
#pragma once

#include "Zelvik_ServerList.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// One server's query. The query thread writes only info and done; row and generation belong
// to the window thread, which may hand a query under way to the row of a new refresh.
struct PingJob {
    ServerInfo info;
    int32_t row = 0;
    uint64_t generation = 0;
    std::atomic<uint32_t> done{0};
    // Set by the window thread: nobody wants the answer any more, so the query ends.
    std::atomic<bool> abandoned{false};
};

// At most this many connections at once (the master list's own bound); a smaller open-file
// limit lowers it, and the rest wait for a free place.
constexpr int kBrowserMaxQueries = 4096;
// A query's limit, its connection included.
constexpr uint32_t kBrowserQueryLimitMs = 2000;

class ServerQueries {
public:
    ServerQueries() = default;
    ServerQueries(const ServerQueries&) = delete;
    ServerQueries& operator=(const ServerQueries&) = delete;
    // Ends every query and waits for the thread (it never blocks for long).
    ~ServerQueries();

    // Asks each job's server on this game port; done is set when its ping is the answer's,
    // or -1 (no answer, refused, time limit). A reply that is not an info reply keeps the old
    // values. onDone runs on the query thread after each pass that finished queries.
    void Submit(const std::vector<std::shared_ptr<PingJob>>& jobs, uint16_t port);
    void SetOnDone(void (*onDone)()) { onDone_ = onDone; }
    // Queries not finished yet, waiting ones included.
    int Running() const { return running_.load(); }

private:
    struct Incoming {
        std::shared_ptr<PingJob> job;
        uint16_t port;
    };
    void Run();

    std::mutex lock_;
    std::deque<Incoming> incoming_;
    bool stop_ = false;
    uint32_t waker_ = 0;
    std::thread thread_;
    std::atomic<int> running_{0};
    void (*onDone_)() = nullptr;
};
