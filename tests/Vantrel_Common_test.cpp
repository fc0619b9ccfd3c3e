#include "Vantrel_Common.h"

#include "Zelvik_ClientInterface.h"
#include "Zelvik_Game.h"
#include "Zelvik_Player.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

TEST(VantrelCommon, UniqueIdsStartAtOneAndRise) {
    EXPECT_EQ(Common_NextUniqueID(), 1u);
    EXPECT_EQ(Common_NextUniqueID(), 2u);
    EXPECT_EQ(Common_NextUniqueID(), 3u);
}

TEST(VantrelCommon, PositiveModEdgeCases) {
    EXPECT_EQ(PositiveMod(-1, 4), 3);
    EXPECT_EQ(PositiveMod(5, 4), 1);
    EXPECT_EQ(PositiveMod(-4, 4), 0);
    EXPECT_EQ(PositiveMod(-5, 4), 3);
    EXPECT_EQ(PositiveMod(7, 0), 0);
    EXPECT_EQ(PositiveMod(0, 0), 0);
    EXPECT_EQ(PositiveMod(INT_MIN, 4), 0);
    EXPECT_EQ(PositiveMod(INT_MIN, 3), 1);
    EXPECT_EQ(PositiveMod(INT_MAX, 4), 3);
    // Dividing INT_MIN by -1 traps; every a mod -1 is 0.
    EXPECT_EQ(PositiveMod(INT_MIN, -1), 0);
    EXPECT_EQ(PositiveMod(5, -1), 0);
    EXPECT_EQ(PositiveMod(-5, -1), 0);
    // Negative divisors keep the truncating remainder rule: r + b when r is negative.
    EXPECT_EQ(PositiveMod(5, -4), 1);
    EXPECT_EQ(PositiveMod(-5, -4), -5);
    // The sum would leave the int32 range; it wraps instead of being undefined.
    EXPECT_EQ(PositiveMod(-1, INT_MIN), INT_MAX);
    EXPECT_EQ(PositiveMod(INT_MIN, INT_MIN), 0);
    for (int32_t a = -20; a <= 20; a++)
        for (int32_t b = 1; b <= 7; b++) {
            const int32_t r = PositiveMod(a, b);
            EXPECT_GE(r, 0);
            EXPECT_LT(r, b);
            EXPECT_EQ((a - r) % b, 0);
        }
}

TEST(VantrelCommon, VersionText) {
    EXPECT_EQ(VersionToString(0x0002000100000000ull), u"0.2.1.0");
    EXPECT_EQ(VersionToString(0x0001000000000000ull), u"0.1.0.0");
    EXPECT_EQ(VersionToString(0x0000000100000000ull), u"0.0.1.0");
    EXPECT_EQ(VersionToString(0x0100000000000005ull), u"1.0.0.5");
    EXPECT_EQ(VersionToString(0), u"0.0.0.0");
    EXPECT_EQ(VersionToString(0x00000000FFFFFFFFull), u"0.0.0.4294967295");
    EXPECT_EQ(VersionToString(0xFFFFFFFFFFFFFFFFull), u"255.255.65535.4294967295");
}

TEST(VantrelCommon, WholeNumberTest) {
    EXPECT_EQ(IsWholeNumber(0.0f), 1);
    EXPECT_EQ(IsWholeNumber(-0.0f), 1);
    EXPECT_EQ(IsWholeNumber(1.0f), 1);
    EXPECT_EQ(IsWholeNumber(3.0f), 1);
    EXPECT_EQ(IsWholeNumber(-7.0f), 1);
    EXPECT_EQ(IsWholeNumber(1.5f), 0);
    EXPECT_EQ(IsWholeNumber(2.5f), 0);
    EXPECT_EQ(IsWholeNumber(0.5f), 0);
    EXPECT_EQ(IsWholeNumber(-0.25f), 0);
    EXPECT_EQ(IsWholeNumber(8388607.5f), 0);
    EXPECT_EQ(IsWholeNumber(8388608.0f), 1);
    EXPECT_EQ(IsWholeNumber(16777216.0f), 1);
    EXPECT_EQ(IsWholeNumber(1e30f), 1);
    EXPECT_EQ(IsWholeNumber(std::numeric_limits<float>::denorm_min()), 0);
    // Magnitudes of 2^24 and above, infinities and NaNs included, count as whole.
    EXPECT_EQ(IsWholeNumber(std::numeric_limits<float>::infinity()), 1);
    EXPECT_EQ(IsWholeNumber(std::numeric_limits<float>::quiet_NaN()), 1);
    // Against the library on a sweep of quarter steps.
    for (int i = -4000; i <= 4000; i++) {
        const float x = static_cast<float>(i) / 4.0f;
        EXPECT_EQ(IsWholeNumber(x), std::floor(x) == x ? 1 : 0) << x;
    }
}

struct TextHost {
    ClientInterface base;
    std::vector<std::u16string> logs, messages;
    static TextHost* Of(ClientInterface* ci) { return reinterpret_cast<TextHost*>(ci); }
    static int32_t Log(ClientInterface* ci, const char16_t* t) {
        Of(ci)->logs.emplace_back(t);
        return 0;
    }
    static int32_t Message(ClientInterface* ci, const char16_t* t) {
        Of(ci)->messages.emplace_back(t);
        return 0;
    }
    static constexpr ClientInterfaceOps kOps = {nullptr, nullptr, Log,     Message, nullptr,
                                                nullptr, nullptr, nullptr, nullptr, nullptr};
    TextHost() : base{&kOps} {}
};

TEST(VantrelCommon, TextGoesToTheGamesHostOrNowhere) {
    TextHost host;
    Game game{};
    auto* player = static_cast<Player*>(std::calloc(1, sizeof(Player)));
    player->Game = &game;

    // No host: dropped.
    EXPECT_EQ(Common_OutputMessage(player, u"lost"), 0);
    EXPECT_EQ(Common_OutputChat(nullptr, u"lost"), 0);

    game.clientInterface = &host.base;
    EXPECT_EQ(Common_OutputMessage(player, u"warning"), 0);
    EXPECT_EQ(Common_OutputChat(player, u"hello"), 0);
    EXPECT_EQ(host.logs, std::vector<std::u16string>{u"warning"});
    EXPECT_EQ(host.messages, std::vector<std::u16string>{u"hello"});

    player->Game = nullptr;
    EXPECT_EQ(Common_OutputMessage(player, u"lost"), 0);
    EXPECT_EQ(host.logs.size(), 1u);
    std::free(player);
}

} // namespace
