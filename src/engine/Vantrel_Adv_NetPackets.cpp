#include "Vantrel_Adv_NetPackets.h"

#include <algorithm>
#include <cstring>

bool PacketReader::Need(size_t n) {
    if (!ok_ || n > size_ - pos_) {
        ok_ = false;
        return false;
    }
    return true;
}

uint8_t PacketReader::U8() {
    return Need(1) ? data_[pos_++] : 0;
}

uint16_t PacketReader::U16() {
    if (!Need(2)) return 0;
    const uint16_t v = Net_GetU16(data_ + pos_);
    pos_ += 2;
    return v;
}

uint32_t PacketReader::U32() {
    if (!Need(4)) return 0;
    const uint32_t v = Net_GetU32(data_ + pos_);
    pos_ += 4;
    return v;
}

uint64_t PacketReader::U64() {
    if (!Need(8)) return 0;
    const uint64_t v = Net_GetU64(data_ + pos_);
    pos_ += 8;
    return v;
}

void PacketReader::Bytes(void* out, size_t n) {
    if (!Need(n)) {
        std::memset(out, 0, n);
        return;
    }
    std::memcpy(out, data_ + pos_, n);
    pos_ += n;
}

void PacketReader::Text(char16_t* out) {
    out[0] = 0;
    if (!Need(kTextBytes)) return;
    uint32_t i = 0;
    for (; i < kTextUnits; ++i) {
        const char16_t c = static_cast<char16_t>(Net_GetU16(data_ + pos_ + 2 * i));
        if (!c) break;
        out[i] = c;
    }
    out[i] = 0;
    pos_ += kTextBytes;
}

void PacketReader::Skip(size_t n) {
    if (Need(n)) pos_ += n;
}

void Net_PutU16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
}

void Net_PutU32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Net_PutU64(uint8_t* at, uint64_t v) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t Net_GetU16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t Net_GetU32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

uint64_t Net_GetU64(const uint8_t* at) {
    return uint64_t(Net_GetU32(at)) | uint64_t(Net_GetU32(at + 4)) << 32;
}

void Net_PutText(uint8_t* at, const char16_t* text) {
    uint32_t i = 0;
    if (text)
        for (; i < kTextUnits && text[i]; ++i) Net_PutU16(at + 2 * i, text[i]);
    std::memset(at + 2 * i, 0, 2 * (kTextUnits - i));
}

void Net_PutID(uint8_t* at, const ZelvikID& id) {
    // The record is packed to the byte and its bytes are the wire bytes.
    std::memcpy(at, &id, kIdBytes);
}

ZelvikID Net_GetID(const uint8_t* at) {
    ZelvikID id;
    std::memcpy(&id, at, kIdBytes);
    return id;
}

uint32_t NetCmd_BuildGetInfo(uint8_t* out) {
    out[0] = NetCmd_GetInfo;
    return kSizeGetInfo;
}

uint32_t NetCmd_BuildInfo(uint8_t* out, const char16_t* serverName, uint32_t joined,
                          int32_t maxPlayers) {
    out[0] = NetCmd_Info;
    Net_PutText(out + 1, serverName);
    Net_PutU32(out + 513, joined);
    Net_PutU32(out + 517, static_cast<uint32_t>(maxPlayers));
    return kSizeInfo;
}

uint32_t NetCmd_BuildHello(uint8_t* out, uint64_t version) {
    out[0] = NetCmd_Hello;
    Net_PutU64(out + 1, version);
    return kSizeHello;
}

uint32_t NetCmd_BuildJoin(uint8_t* out, const char16_t* name) {
    out[0] = NetCmd_Join;
    Net_PutText(out + 1, name);
    return kSizeJoin;
}

uint32_t NetCmd_JoinReplySize(uint32_t modes, uint32_t rotationSystems) {
    return kSizeJoinReplyFixed + kIdBytes * (modes + rotationSystems);
}

uint32_t NetCmd_BuildJoinReply(uint8_t* out, uint32_t playerId, const ZelvikID& randomizer,
                               const ZelvikID* modes, uint32_t modeCount,
                               const ZelvikID* rotationSystems, uint32_t rsCount) {
    out[0] = NetCmd_JoinReply;
    Net_PutU32(out + 1, playerId);
    Net_PutU32(out + 5, modeCount);
    Net_PutU32(out + 9, rsCount);
    Net_PutID(out + 13, randomizer);
    uint8_t* at = out + kSizeJoinReplyFixed;
    for (uint32_t i = 0; i < modeCount; ++i, at += kIdBytes) Net_PutID(at, modes[i]);
    for (uint32_t i = 0; i < rsCount; ++i, at += kIdBytes) Net_PutID(at, rotationSystems[i]);
    return NetCmd_JoinReplySize(modeCount, rsCount);
}

uint32_t NetCmd_BuildPlayerJoined(uint8_t* out, uint32_t playerId, const char16_t* name,
                                  uint32_t seed) {
    out[0] = NetCmd_PlayerJoined;
    Net_PutU32(out + 1, playerId);
    Net_PutText(out + 5, name);
    Net_PutU32(out + 517, seed);
    return kSizePlayerJoined;
}

uint32_t NetCmd_BuildReady(uint8_t* out, uint32_t playerId, uint32_t rotationSystemIndex) {
    out[0] = NetCmd_Ready;
    Net_PutU32(out + 1, playerId);
    Net_PutU32(out + 5, rotationSystemIndex);
    return kSizeReady;
}

uint32_t NetCmd_BuildStartGame(uint8_t* out, uint32_t playerId, uint32_t seed) {
    out[0] = NetCmd_StartGame;
    Net_PutU32(out + 1, playerId);
    Net_PutU32(out + 5, seed);
    std::memset(out + 9, 0, kSizeStartGame - 9);
    return kSizeStartGame;
}

uint32_t NetCmd_BuildPlayerLeft(uint8_t* out, uint32_t playerId) {
    out[0] = NetCmd_PlayerLeft;
    Net_PutU32(out + 1, playerId);
    return kSizePlayerLeft;
}

uint32_t NetCmd_BuildMessage(uint8_t* out, const char16_t* text) {
    out[0] = NetCmd_Message;
    Net_PutText(out + 1, text);
    return kSizeMessage;
}

uint32_t NetInput_Start(uint8_t* out, uint32_t playerId, uint32_t firstFrame, uint32_t checksum,
                        uint8_t activeKind, const uint8_t preview[3], uint32_t word) {
    out[0] = NetCmd_Input;
    Net_PutU32(out + kInputId, playerId);
    Net_PutU32(out + kInputFirstFrame, firstFrame);
    Net_PutU32(out + kInputChecksum, checksum);
    out[kInputActive] = activeKind;
    std::memset(out + kInputPreview, 0, kPreviewBytes);
    if (preview) std::memcpy(out + kInputPreview, preview, 3);
    out[kInputLastIndex] = 0;
    Net_PutU16(out + kInputEntries, NetInput_Plain(word));
    return kSizeInputFixed + 2;
}

int32_t NetInput_Append(uint8_t* packet, uint32_t word) {
    const uint32_t n = packet[kInputLastIndex];
    const uint32_t w = word & 0x7FF;
    uint8_t* last = packet + kInputEntries + 2 * n;
    const uint16_t e = Net_GetU16(last);
    if (NetInput_IsRepeat(e)) {
        // A repeat entry always follows a plain one in what this encoder writes.
        const uint16_t before = n ? Net_GetU16(last - 2) : 0;
        if (n && NetInput_PlainWord(before) == w && (e & 0x7F) < 127) {
            Net_PutU16(last, static_cast<uint16_t>(e + 1));
            return static_cast<int32_t>(n);
        }
    }
    if (n == 255) return -1;
    const bool same = !NetInput_IsRepeat(e) && NetInput_PlainWord(e) == w;
    Net_PutU16(last + 2, same ? kRepeatEntry : NetInput_Plain(w));
    packet[kInputLastIndex] = static_cast<uint8_t>(n + 1);
    return static_cast<int32_t>(n + 1);
}

uint32_t NetInput_Size(const uint8_t* packet) {
    return kSizeInputFixed + 2 * (uint32_t(packet[kInputLastIndex]) + 1);
}

namespace {

// Bytes of the stage the packet is in: the whole packet for fixed sizes, the fixed part of
// an input or join reply until it is in, then the input's whole size.
uint32_t StageSize(uint8_t command, const uint8_t* buffer, uint32_t count) {
    switch (command) {
    case NetCmd_GetInfo:
        return kSizeGetInfo;
    case NetCmd_Info:
        return kSizeInfo;
    case NetCmd_Hello:
        return kSizeHello;
    case NetCmd_Join:
        return kSizeJoin;
    case NetCmd_JoinReply:
        return kSizeJoinReplyFixed;
    case NetCmd_PlayerJoined:
        return kSizePlayerJoined;
    case NetCmd_Ready:
        return kSizeReady;
    case NetCmd_StartGame:
        return kSizeStartGame;
    case NetCmd_Input:
        return count < kSizeInputFixed ? kSizeInputFixed : NetInput_Size(buffer);
    case NetCmd_PlayerLeft:
        return kSizePlayerLeft;
    case NetCmd_Message:
        return kSizeMessage;
    default:
        return 0;
    }
}

bool Complete(const NetReceiveState& st, const NetFrameSink& sink, uint32_t size) {
    *st.count = 0;
    *st.partial = 0;
    return sink.packet(sink.context, st.buffer, size);
}

} // namespace

void Net_ResetReceive(const NetReceiveState& state) {
    *state.count = 0;
    *state.partial = 0;
}

NetFeedResult Net_FeedBytes(const NetReceiveState& st, const NetFrameSink& sink,
                            const uint8_t* data, size_t size) {
    size_t pos = 0;
    if (*st.partial && size && sink.pieceRead) sink.pieceRead(sink.context, st.buffer[0]);
    while (pos < size) {
        if (!*st.partial) {
            const uint8_t command = data[pos++];
            if (!sink.handles(command) || StageSize(command, st.buffer, 1) == 0) continue;
            st.buffer[0] = command;
            *st.count = 1;
            *st.partial = 1;
            if (sink.pieceRead) sink.pieceRead(sink.context, command);
        }
        const uint8_t command = st.buffer[0];
        if (command == NetCmd_JoinReply && *st.count >= kSizeJoinReplyFixed) {
            const uint32_t records =
                Net_GetU32(st.buffer + 5) + Net_GetU32(st.buffer + 9); // checked at begin
            const uint32_t done = *st.count - kSizeJoinReplyFixed;
            const uint32_t index = done / kIdBytes, offset = done % kIdBytes;
            const uint32_t take =
                static_cast<uint32_t>(std::min<size_t>(kIdBytes - offset, size - pos));
            uint8_t* record = sink.joinReplyRecord(sink.context, index);
            if (record) std::memcpy(record + offset, data + pos, take);
            pos += take;
            *st.count += take;
            if (*st.count == kSizeJoinReplyFixed + kIdBytes * records &&
                !Complete(st, sink, kSizeJoinReplyFixed))
                return NetFeedResult::Stopped;
            continue;
        }
        const uint32_t need = StageSize(command, st.buffer, *st.count);
        const uint32_t take = static_cast<uint32_t>(std::min<size_t>(need - *st.count, size - pos));
        std::memcpy(st.buffer + *st.count, data + pos, take);
        pos += take;
        *st.count += take;
        if (*st.count < need) break;
        if (command == NetCmd_Input && need == kSizeInputFixed) continue; // entries follow
        if (command == NetCmd_JoinReply) {
            const uint32_t m = Net_GetU32(st.buffer + 5), r = Net_GetU32(st.buffer + 9);
            if (m > kMaxJoinReplyRecords || r > kMaxJoinReplyRecords ||
                !sink.joinReplyBegin(sink.context, st.buffer)) {
                Net_ResetReceive(st);
                return NetFeedResult::Stopped;
            }
            if (m + r > 0) continue;
        }
        if (!Complete(st, sink, need)) return NetFeedResult::Stopped;
    }
    return NetFeedResult::Done;
}

std::u16string Net_Decimal(uint64_t v) {
    std::u16string s;
    do {
        s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
        v /= 10;
    } while (v);
    return s;
}
