#include "Vantrel_Common.h"

#include "Zelvik_ClientInterface.h"
#include "Zelvik_Game.h"
#include "Zelvik_Player.h"

#include <cstdlib>
#include <cstring>

namespace {
uint32_t uniqueIdCounter = 0; // one per module

ClientInterface* HostOf(Player* player) {
    if (!player || !player->Game) return nullptr;
    return player->Game->clientInterface;
}

std::u16string Decimal(uint64_t v) {
    char buf[24];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    std::u16string s;
    while (n) s.push_back(static_cast<char16_t>(buf[--n]));
    return s;
}
} // namespace

uint32_t Common_NextUniqueID() {
    return ++uniqueIdCounter;
}

int32_t Common_OutputMessage(Player* player, const char16_t* text) {
    ClientInterface* ci = HostOf(player);
    if (ci && ci->ops && ci->ops->DebugLog) ci->ops->DebugLog(ci, text);
    return 0;
}

int32_t Common_OutputChat(Player* player, const char16_t* text) {
    ClientInterface* ci = HostOf(player);
    if (ci && ci->ops && ci->ops->ServerMessage) ci->ops->ServerMessage(ci, text);
    return 0;
}

std::u16string VersionToString(uint64_t version) {
    return Decimal(version >> 56) + u"." + Decimal((version >> 48) & 0xFF) + u"." +
           Decimal((version >> 32) & 0xFFFF) + u"." + Decimal(version & 0xFFFFFFFFu);
}

int32_t PositiveMod(int32_t a, int32_t b) {
    // b == -1 also answers 0: INT_MIN % -1 traps.
    if (b == 0 || b == -1) return 0;
    const int32_t r = a % b;
    // For b below -2^30 the sum leaves the int32 range; it wraps as 32-bit arithmetic does.
    return r < 0 ? static_cast<int32_t>(static_cast<uint32_t>(r) + static_cast<uint32_t>(b)) : r;
}

int32_t IsWholeNumber(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    if ((bits & 0x7FFFFFFFu) == 0) return 1;
    const uint32_t e = (bits >> 23) & 0xFF;
    if (e < 127) return 0;
    if (e > 150) return 1;
    const uint32_t fraction = (bits & 0x7FFFFFu) | 0x800000u;
    return (fraction & (0xFFFFFFu >> (e - 126))) == 0 ? 1 : 0;
}

int32_t Common_GamePort() {
    constexpr int32_t kDefault = 2031;
    const char* env = std::getenv("ZELVIK_GAME_PORT");
    if (!env || !*env) return kDefault;
    int32_t v = 0;
    for (const char* c = env; *c; ++c) {
        if (*c < '0' || *c > '9') return kDefault;
        v = v * 10 + (*c - '0');
        if (v > 65535) return kDefault;
    }
    return v == 0 ? kDefault : v;
}
