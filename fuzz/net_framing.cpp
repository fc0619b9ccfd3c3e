// Receive framing over a byte stream cut into chunks of any size: every packet handed on is a
// whole packet of a handled command, join-reply records land only inside what was offered.
#include "Vantrel_Adv_NetPackets.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Sink {
    std::vector<uint8_t> records; // kIdBytes each
    uint32_t offered = 0;
    uint32_t packets = 0;
    uint8_t refuseAt = 0; // stop the feed at this packet number (0 never)
};

bool Handles(uint8_t c) {
    return c >= NetCmd_GetInfo && c <= NetCmd_Message && c != 26;
}

bool Begin(void* ctx, const uint8_t* fixed) {
    auto* s = static_cast<Sink*>(ctx);
    if (fixed[0] != NetCmd_JoinReply) std::abort();
    const uint32_t m = Net_GetU32(fixed + 5), r = Net_GetU32(fixed + 9);
    if (m > kMaxJoinReplyRecords || r > kMaxJoinReplyRecords) std::abort();
    s->offered = m + r;
    s->records.assign(size_t(s->offered) * kIdBytes, 0);
    return (m & 0x100) == 0; // some replies are refused, as an allocation failure would
}

uint8_t* Record(void* ctx, uint32_t index) {
    auto* s = static_cast<Sink*>(ctx);
    if (index >= s->offered) std::abort();
    return s->records.data() + size_t(index) * kIdBytes;
}

bool Packet(void* ctx, const uint8_t* d, uint32_t size) {
    auto* s = static_cast<Sink*>(ctx);
    if (!Handles(d[0]) || size == 0) std::abort();
    if (d[0] == NetCmd_JoinReply ? size != kSizeJoinReplyFixed : size > kReceiveBufferSize)
        std::abort();
    if (d[0] == NetCmd_Input && size != NetInput_Size(d)) std::abort();
    ++s->packets;
    return s->refuseAt == 0 || s->packets != s->refuseAt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    Sink sink;
    sink.refuseAt = data[0] & 7;
    const uint8_t chunkSeed = data[1];
    data += 2;
    size -= 2;
    uint8_t buffer[kReceiveBufferSize];
    uint32_t count = 0, partial = 0;
    const NetReceiveState state{buffer, &count, &partial};
    const NetFrameSink frame{&sink, Handles, Begin, Record, Packet, nullptr};
    size_t pos = 0;
    uint32_t step = chunkSeed;
    while (pos < size) {
        step = step * 1103515245u + 12345u;
        const size_t n = std::min<size_t>(size - pos, 1 + (step >> 16) % 700);
        // Each chunk is copied so a read past it is caught.
        std::vector<uint8_t> chunk(data + pos, data + pos + n);
        if (Net_FeedBytes(state, frame, chunk.data(), n) == NetFeedResult::Stopped) {
            Net_ResetReceive(state);
            sink.refuseAt = 0;
        }
        if (count > kReceiveBufferSize && !(buffer[0] == NetCmd_JoinReply)) std::abort();
        pos += n;
    }
    return 0;
}
