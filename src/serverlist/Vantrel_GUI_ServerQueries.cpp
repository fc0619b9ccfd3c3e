#include "Vantrel_GUI_ServerQueries.h"

#include "Platform_Dial.h"
#include "Platform_Socket.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <system_error>

namespace {

constexpr uint8_t kCmdGetInfo = 16;
constexpr uint8_t kCmdInfo = 17;
constexpr uint32_t kInfoSize = 521;
constexpr uint32_t kReplyBlock = 1024;
// Descriptors kept for the window, the engine and the master download.
constexpr uint64_t kDescriptorsKept = 128;

uint32_t Now() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int32_t Left(uint32_t deadline) {
    return static_cast<int32_t>(deadline - Now());
}

struct Active {
    std::shared_ptr<PingJob> job;
    uint32_t handle = 0;
    uint32_t deadline = 0;
    uint32_t sentAt = 0;
    bool connected = false;
    uint32_t got = 0;
    uint8_t reply[kReplyBlock];
};

enum class Outcome { Pending, Answered, NoAnswer, Foreign };

// Reads what has arrived; the outcome once the query is over.
Outcome Read(Active& a) {
    for (;;) {
        const int32_t n = Platform_Socket_Receive(a.handle, a.reply + a.got, kReplyBlock - a.got);
        if (n < 0) return Outcome::NoAnswer;
        if (n == 0) return Outcome::Pending;
        a.got += static_cast<uint32_t>(n);
        if (a.reply[0] != kCmdInfo) return Outcome::Foreign; // not our answer: old values stay
        if (a.got >= kInfoSize) return Outcome::Answered;
    }
}

void Answer(Active& a) {
    ServerInfo& info = a.job->info;
    for (uint32_t i = 0; i < kServerInfoNameUnits; ++i)
        info.name[i] = static_cast<char16_t>(a.reply[1 + 2 * i] | a.reply[2 + 2 * i] << 8);
    auto u32 = [&](uint32_t at) {
        return static_cast<uint32_t>(a.reply[at]) | static_cast<uint32_t>(a.reply[at + 1]) << 8 |
               static_cast<uint32_t>(a.reply[at + 2]) << 16 |
               static_cast<uint32_t>(a.reply[at + 3]) << 24;
    };
    info.players = u32(513);
    info.maximum = static_cast<int32_t>(u32(517));
    info.ping = static_cast<int32_t>(Now() - a.sentAt);
}

} // namespace

ServerQueries::~ServerQueries() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    Platform_Dial_Wake(waker_);
    if (thread_.joinable()) thread_.join();
    Platform_Dial_WakerFree(waker_);
}

void ServerQueries::Submit(const std::vector<std::shared_ptr<PingJob>>& jobs, uint16_t port) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& job : jobs) incoming_.push_back({job, port});
        running_ += static_cast<int>(jobs.size());
        if (!thread_.joinable()) {
            if (!waker_) waker_ = Platform_Dial_WakerCreate();
            try {
                thread_ = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                // No thread to be had: nobody will ask, so every row says it got no answer.
                for (Incoming& in : incoming_) {
                    in.job->info.ping = -1;
                    in.job->done.store(1, std::memory_order_release);
                }
                running_ -= static_cast<int>(incoming_.size());
                incoming_.clear();
            }
        }
    }
    Platform_Dial_Wake(waker_);
}

void ServerQueries::Run() {
    const uint64_t limit = Platform_Socket_RaiseDescriptorLimit();
    const size_t most = static_cast<size_t>(
        std::clamp<uint64_t>(limit > 2 * kDescriptorsKept ? limit - kDescriptorsKept : limit / 2, 1,
                             kBrowserMaxQueries));
    std::deque<Incoming> waiting;
    std::vector<std::unique_ptr<Active>> active;
    std::vector<PlatformDialPoll> polls;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stop_) break;
            std::move(incoming_.begin(), incoming_.end(), std::back_inserter(waiting));
            incoming_.clear();
        }
        int finished = 0;
        auto finish = [&](PingJob& job, bool noAnswer) {
            if (noAnswer) job.info.ping = -1;
            job.done.store(1, std::memory_order_release);
            ++finished;
        };
        // Nobody waits for these any more: their places go to others.
        std::erase_if(waiting, [&](const Incoming& in) {
            if (!in.job->abandoned.load()) return false;
            finish(*in.job, true);
            return true;
        });
        std::erase_if(active, [&](const std::unique_ptr<Active>& a) {
            if (!a->job->abandoned.load()) return false;
            Platform_Socket_Close(a->handle);
            finish(*a->job, true);
            return true;
        });
        while (!waiting.empty() && active.size() < most) {
            Incoming in = std::move(waiting.front());
            waiting.pop_front();
            auto a = std::make_unique<Active>();
            a->job = std::move(in.job);
            a->deadline = Now() + kBrowserQueryLimitMs;
            a->handle = Platform_Socket_ConnectStart(a->job->info.address, in.port);
            if (!a->handle) {
                finish(*a->job, true);
                continue;
            }
            active.push_back(std::move(a));
        }

        int32_t wait = -1;
        polls.resize(active.size());
        for (size_t i = 0; i < active.size(); ++i) {
            polls[i] = {active[i]->handle, static_cast<uint8_t>(!active[i]->connected), 0, 0, 0};
            const int32_t left = std::max(0, Left(active[i]->deadline));
            wait = wait < 0 ? left : std::min(wait, left);
        }
        if (!waker_ && (wait < 0 || wait > 50)) wait = 50; // no wake-up: look now and then
        // Finished queries are told at once; otherwise sleep until news, a wake or a deadline.
        // A failed poll reports nothing, and the deadlines below still hold.
        Platform_Dial_Poll(polls.data(), static_cast<uint32_t>(polls.size()), waker_,
                           finished ? 0 : wait);

        for (size_t i = 0; i < active.size();) {
            Active& a = *active[i];
            const PlatformDialPoll& p = polls[i];
            Outcome outcome = Outcome::Pending;
            if (!a.connected && (p.writable || p.hangup)) {
                if (Platform_Socket_ConnectMade(a.handle) &&
                    Platform_Socket_Send(a.handle, &kCmdGetInfo, 1) >= 0) {
                    a.connected = true;
                    a.sentAt = Now();
                } else {
                    outcome = Outcome::NoAnswer;
                }
            } else if (a.connected && (p.readable || p.hangup)) {
                outcome = Read(a);
            }
            if (outcome == Outcome::Pending && Left(a.deadline) <= 0) outcome = Outcome::NoAnswer;
            if (outcome == Outcome::Pending) {
                ++i;
                continue;
            }
            if (outcome == Outcome::Answered) Answer(a);
            Platform_Socket_Close(a.handle);
            finish(*a.job, outcome == Outcome::NoAnswer);
            active[i] = std::move(active.back());
            polls[i] = polls.back();
            active.pop_back();
            polls.pop_back();
        }
        if (finished) {
            running_ -= finished;
            if (onDone_) onDone_();
        }
    }
    for (auto& a : active) Platform_Socket_Close(a->handle);
}
