// The game protocol's wire format: every NetCmd_* packet built and read byte by byte
// (little-endian, UTF-16LE text fields), the run encoding of input words, and the receive
// framing that cuts a TCP byte stream into packets.
#pragma once

#include "Zelvik_ID.h"

#include <cstddef>
#include <cstdint>
#include <string>

enum NetCmd : uint8_t {
    NetCmd_GetInfo = 16,
    NetCmd_Info = 17,
    NetCmd_Hello = 18,
    NetCmd_Join = 19,
    NetCmd_JoinReply = 20,
    NetCmd_PlayerJoined = 21,
    NetCmd_Ready = 22,
    NetCmd_StartGame = 23,
    NetCmd_Input = 24,
    NetCmd_PlayerLeft = 25,
    NetCmd_Message = 27,
};

constexpr uint16_t kServerPort = 2031;
constexpr uint64_t kEngineVersion = 0x0002000100000000ull;

constexpr uint32_t kTextUnits = 256;
constexpr uint32_t kTextBytes = 512;
constexpr uint32_t kIdBytes = 148;

constexpr uint32_t kSizeGetInfo = 1;
constexpr uint32_t kSizeInfo = 521;
constexpr uint32_t kSizeHello = 9;
constexpr uint32_t kSizeJoin = 513;
constexpr uint32_t kSizeJoinReplyFixed = 161;
constexpr uint32_t kSizePlayerJoined = 521;
constexpr uint32_t kSizeReady = 9;
constexpr uint32_t kSizeStartGame = 74;
constexpr uint32_t kSizeInputFixed = 79;
constexpr uint32_t kSizeInputMax = 79 + 2 * 256;
constexpr uint32_t kSizePlayerLeft = 5;
constexpr uint32_t kSizeMessage = 513;
// Receive buffers hold the largest packet that is not a join reply's records.
constexpr uint32_t kReceiveBufferSize = 591;
static_assert(kSizeInputMax == kReceiveBufferSize);

// Offsets inside NetCmd_Input.
constexpr uint32_t kInputId = 1, kInputFirstFrame = 5, kInputChecksum = 9, kInputActive = 13,
                   kInputPreview = 14, kInputLastIndex = 78, kInputEntries = 79;
constexpr uint32_t kPreviewBytes = 64;

// No real server offers this many modes or rotation systems; a reply claiming more is
// treated as hostile and never allocated.
constexpr uint32_t kMaxJoinReplyRecords = 1024;

// Bounds-checked little-endian reader with a sticky error: after the first short read every
// read yields zero, so a handler reads the whole packet and checks ok() once.
class PacketReader {
public:
    PacketReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t U8();
    int8_t I8() { return static_cast<int8_t>(U8()); }
    uint16_t U16();
    uint32_t U32();
    int32_t I32() { return static_cast<int32_t>(U32()); }
    uint64_t U64();
    // Copies n raw bytes (zeros on error).
    void Bytes(void* out, size_t n);
    // A 512-byte text field: at most 256 units, stopping at the first zero unit; out gets a
    // terminator, so it must hold 257 units.
    void Text(char16_t* out);
    void Skip(size_t n);
    bool ok() const { return ok_; }
    size_t position() const { return pos_; }

private:
    bool Need(size_t n);
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Little-endian stores into a buffer the caller sized for the packet.
void Net_PutU16(uint8_t* at, uint16_t v);
void Net_PutU32(uint8_t* at, uint32_t v);
void Net_PutU64(uint8_t* at, uint64_t v);
uint16_t Net_GetU16(const uint8_t* at);
uint32_t Net_GetU32(const uint8_t* at);
uint64_t Net_GetU64(const uint8_t* at);
// A text field: the first 256 units of text (null = empty), the rest zero units.
void Net_PutText(uint8_t* at, const char16_t* text);
void Net_PutID(uint8_t* at, const ZelvikID& id);
ZelvikID Net_GetID(const uint8_t* at);

// Builders; each writes exactly the packet's size and returns it.
uint32_t NetCmd_BuildGetInfo(uint8_t* out);
uint32_t NetCmd_BuildInfo(uint8_t* out, const char16_t* serverName, uint32_t joined,
                          int32_t maxPlayers);
uint32_t NetCmd_BuildHello(uint8_t* out, uint64_t version);
uint32_t NetCmd_BuildJoin(uint8_t* out, const char16_t* name);
uint32_t NetCmd_JoinReplySize(uint32_t modes, uint32_t rotationSystems);
// out must hold NetCmd_JoinReplySize(modeCount, rsCount) bytes.
uint32_t NetCmd_BuildJoinReply(uint8_t* out, uint32_t playerId, const ZelvikID& randomizer,
                               const ZelvikID* modes, uint32_t modeCount,
                               const ZelvikID* rotationSystems, uint32_t rsCount);
uint32_t NetCmd_BuildPlayerJoined(uint8_t* out, uint32_t playerId, const char16_t* name,
                                  uint32_t seed);
uint32_t NetCmd_BuildReady(uint8_t* out, uint32_t playerId, uint32_t rotationSystemIndex);
// Bytes 9-73 are zero: no receiver reads them.
uint32_t NetCmd_BuildStartGame(uint8_t* out, uint32_t playerId, uint32_t seed);
uint32_t NetCmd_BuildPlayerLeft(uint8_t* out, uint32_t playerId);
uint32_t NetCmd_BuildMessage(uint8_t* out, const char16_t* text);

// NetCmd_Input. Starting writes the header with one entry (n = 0); preview holds slot
// kinds 0-2 (the other 61 bytes are zero).
uint32_t NetInput_Start(uint8_t* out, uint32_t playerId, uint32_t firstFrame, uint32_t checksum,
                        uint8_t activeKind, const uint8_t preview[3], uint32_t word);
// Appends the next frame's word by the run encoding. Returns the new index of the last entry,
// or -1 when the packet already holds 256 entries (nothing changed).
int32_t NetInput_Append(uint8_t* packet, uint32_t word);
// Size of the NetCmd_Input in packet, from its byte 78.
uint32_t NetInput_Size(const uint8_t* packet);

// Run encoding. An entry with (e & 0xFF80) == 0x0080 is a repeat entry: c = e & 0x7F more
// frames of the last plain word. Every other entry is a plain word, read with mask 0x7FF.
// A plain word with bit 7 set (Hold) is written as 0x8000 | w so it never looks like a repeat.
constexpr uint16_t kRepeatEntry = 0x80;
constexpr bool NetInput_IsRepeat(uint16_t e) {
    return (e & 0xFF80) == 0x0080;
}
constexpr uint16_t NetInput_Plain(uint32_t word) {
    const uint16_t w = static_cast<uint16_t>(word & 0x7FF);
    return (w & 0x80) ? static_cast<uint16_t>(0x8000 | w) : w;
}
constexpr uint32_t NetInput_PlainWord(uint16_t e) {
    return e & 0x7FFu;
}

// Decodes count entries at entries (little-endian u16 each). last/hasLast carry the last word
// yielded (the receiver's queue tail); a repeat with nothing before it yields nothing.
// emit(word, times) is called for each entry that yields frames. Returns the frame count.
template <typename Emit>
uint32_t NetInput_Decode(const uint8_t* entries, uint32_t count, uint32_t* last, bool* hasLast,
                         Emit&& emit) {
    uint32_t frames = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t e = Net_GetU16(entries + 2 * i);
        if (NetInput_IsRepeat(e)) {
            if (!*hasLast) continue;
            const uint32_t times = (e & 0x7Fu) + 1;
            emit(*last, times);
            frames += times;
        } else {
            *last = NetInput_PlainWord(e);
            *hasLast = true;
            emit(*last, 1u);
            frames += 1;
        }
    }
    return frames;
}

// Receive framing. The state lives with the connection: a 591-byte buffer, the count of the
// current packet's bytes held and a partial flag. A join reply's records do not go through
// the buffer; they are handed to the sink record by record.
struct NetReceiveState {
    uint8_t* buffer; // kReceiveBufferSize bytes
    uint32_t* count;
    uint32_t* partial;
};

struct NetFrameSink {
    void* context;
    // Commands this receiver handles; any other byte is dropped and the next one read.
    bool (*handles)(uint8_t command);
    // The 161 fixed bytes of a join reply are in; false refuses it (the feed stops, error).
    bool (*joinReplyBegin)(void* context, const uint8_t* fixed);
    // Storage for join-reply record index (modes first, then rotation systems).
    uint8_t* (*joinReplyRecord)(void* context, uint32_t index);
    // A whole packet (a join reply: its 161 fixed bytes). False stops the feed (the
    // connection is gone or was dropped).
    bool (*packet)(void* context, const uint8_t* data, uint32_t size);
    // Bytes of a command were taken from this chunk (once per command per chunk); may be 0.
    void (*pieceRead)(void* context, uint8_t command);
};

enum class NetFeedResult { Done, Stopped };
// Feeds one chunk read from the connection into the framing.
NetFeedResult Net_FeedBytes(const NetReceiveState& state, const NetFrameSink& sink,
                            const uint8_t* data, size_t size);
// Drops the packet in progress.
void Net_ResetReceive(const NetReceiveState& state);

// Decimal digits of v, for the ids, frames and addresses the client and server log.
std::u16string Net_Decimal(uint64_t v);
