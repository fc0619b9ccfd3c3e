// The search for the first seed whose deal begins with a given piece sequence.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

// The first of seeds 1 to 4294967295 in ascending order that deals the sequence, or 0 when none
// does. Only seeds below 2^25 need trying: every higher seed deals what a lower one deals.
// Split over `threads` workers (0: one per core); the smallest match wins whatever order they
// finish in.
uint32_t SeedSearch_FindSeed(const uint8_t* pieces, uint32_t count, unsigned threads);

// True when no seed can deal the sequence: a game never starts with Z, S or O.
bool SeedSearch_CannotMatch(const uint8_t* pieces, uint32_t count);

// Runs work() on `threads` threads (0: one per core), the calling thread one of them, and
// returns when all have finished. Threads the system refuses are done without: fewer workers
// only make a search slower.
template <typename Work> void SeedSearch_RunOnThreads(unsigned threads, Work work) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    for (unsigned i = 1; i < threads; ++i) {
        try {
            workers.emplace_back(std::ref(work));
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& t : workers) t.join();
}
