// The visualizer's own INP reader: two builds only, both port bytes, no old format, and a
// failed load that never touches the frames held before.
#include "DoublyLinkedList.h"
#include "InpReplay.h"
#include "InpTestFiles.h"

#include <gtest/gtest.h>

using namespace inp;

namespace {

constexpr uint32_t kLeft = 1, kRight = 2, kUp = 4, kDown = 8, kA = 0x10, kB = 0x20, kC = 0x100;

struct Reader {
    InpReplay* r = InpReplay_Create();
    ~Reader() { r->ops->Free(r); }
    int32_t Load(const std::string& path) { return r->ops->LoadMAMEINP(r, path.c_str(), 0, 0, 0); }
    std::vector<uint32_t> Words() const { return inp::Words(r->inputs); }
};

std::string Name(const char* suffix) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string("reader_") + info->name() + "_" + suffix;
}

} // namespace

TEST(InpReplay, OnlyTwoBuildsAtVersion30AndNoOldFormat) {
    Reader rd;
    const std::vector<Record> recs = Frames({kPortUp, kPortB});
    EXPECT_EQ(rd.Load(Write(Name("130"), Compressed(kBuild130, recs))), InpReplay_Ok);
    EXPECT_EQ(rd.Load(Write(Name("133"), Compressed(kBuild133, recs))), InpReplay_Ok);
    // The build with the engine's timing filter is not one of the visualizer's.
    EXPECT_EQ(rd.Load(Write(Name("133t"), Compressed(kBuild133Timing, recs))), InpReplay_Invalid);
    EXPECT_EQ(rd.Load(Write(Name("v31"), Compressed(kBuild130, recs, 3, 1))), InpReplay_Invalid);
    EXPECT_EQ(rd.Load(Write(Name("v40"), Compressed(kBuild133, recs, 4, 0))), InpReplay_Invalid);
    EXPECT_EQ(rd.Load(TempPath("reader_missing.inp")), InpReplay_CannotOpen);
    // Sizes the engine would read as the old format are still not recordings here.
    EXPECT_EQ(rd.Load(Write(Name("old"), OldFormat({{1}, {2}}))), InpReplay_Invalid);
    EXPECT_EQ(rd.Load(Write(Name("old32"), Bytes(32, 0))), InpReplay_Invalid);
    Bytes shortFile = Header(kBuild130);
    shortFile.resize(40);
    EXPECT_EQ(rd.Load(Write(Name("short"), shortFile)), InpReplay_Invalid);
    EXPECT_EQ(rd.Load(Write(Name("empty"), {})), InpReplay_Invalid);
}

TEST(InpReplay, BothPortBytesGiveTheSameInputs) {
    Reader rd;
    const std::vector<uint32_t> ports = {
        1u << 23,
        1u << 22,
        1u << 21,
        1u << 20,
        1u << 19,
        1u << 18,
        1u << 17,
        1u << 24 | 1u << 16 | 0xFFFFu, // between and below: nothing
        kPortUp | 1u << 22,
        kPortA | 1u << 19, // OR-ed, also onto the same bit
        kPortLeft | kPortUp | 1u << 17,
    };
    ASSERT_EQ(rd.Load(Write(Name("ports"), Compressed(kBuild133, Frames(ports)))), InpReplay_Ok);
    EXPECT_EQ(rd.Words(), (std::vector<uint32_t>{kUp, kDown, kRight, kLeft, kA, kB, kC, 0,
                                                 kUp | kDown, kA, kLeft | kUp | kC}));
}

TEST(InpReplay, EveryRecordIsStoredUnfiltered) {
    Reader rd;
    // Phases that the engine's timing build would drop, and diagonals, all stay.
    const std::vector<Record> recs = {{kFrameAtto / 2, kPortUp | kPortLeft},
                                      {kFrameAtto / 3, kPortDown | kPortRight},
                                      {123456789, kPortC},
                                      {0, 0}};
    ASSERT_EQ(rd.Load(Write(Name("all"), Compressed(kBuild130, recs))), InpReplay_Ok);
    EXPECT_EQ(rd.Words(), (std::vector<uint32_t>{kUp | kLeft, kDown | kRight, kC, 0}));
}

TEST(InpReplay, FailedLoadKeepsTheFramesLoadedBefore) {
    Reader rd;
    ASSERT_EQ(rd.Load(Write(Name("good"), Compressed(kBuild130, Frames({kPortA, kPortB})))),
              InpReplay_Ok);
    const std::vector<uint32_t> before = {kA, kB};
    ASSERT_EQ(rd.Words(), before);
    EXPECT_EQ(rd.Load(Write(Name("bad"), Compressed("MAME 0.140", Frames({kPortC})))),
              InpReplay_Invalid);
    EXPECT_EQ(rd.Words(), before);
    EXPECT_EQ(rd.Load(TempPath("reader_nothing_here.inp")), InpReplay_CannotOpen);
    EXPECT_EQ(rd.Words(), before);
    EXPECT_EQ(rd.r->inputsState, 1);
    // A stream damaged from the start still loads (with no frames) and replaces them.
    EXPECT_EQ(rd.Load(Write(Name("garbage"), Concat(Header(kBuild130), Bytes(100, 0x77)))),
              InpReplay_Ok);
    EXPECT_TRUE(rd.Words().empty());
}

TEST(InpReplay, TruncatedStreamKeepsWholeRecords) {
    Reader rd;
    std::vector<uint32_t> ports;
    for (uint32_t i = 0; i < 3000; ++i) ports.push_back(i & 1 ? kPortUp : 1u << 18);
    const Bytes raw = Records(Frames(ports));
    ASSERT_EQ(rd.Load(Write(Name("full"), Concat(Header(kBuild133), Deflate(raw)))), InpReplay_Ok);
    EXPECT_EQ(rd.Words().size(), 3000u);
    EXPECT_EQ(rd.Words().back(), kUp);

    Bytes part(raw.begin(), raw.begin() + 32 * 1000 + 17);
    ASSERT_EQ(rd.Load(Write(Name("part"), Concat(Header(kBuild133), Deflate(part)))), InpReplay_Ok);
    ASSERT_EQ(rd.Words().size(), 1000u);

    const Bytes stream = Deflate(raw);
    const Bytes cut(stream.begin(), stream.begin() + long(stream.size() / 2));
    ASSERT_EQ(rd.Load(Write(Name("cut"), Concat(Header(kBuild133), cut))), InpReplay_Ok);
    EXPECT_LT(rd.Words().size(), 3000u);
}

TEST(InpReplay, RealRecordingsOfOtherGamesAreHarmless) {
    const std::string dir = SharedInpFolder();
    if (dir.empty()) GTEST_SKIP() << "shared recordings not found at " ZELVIK_SHARED_DATA;
    for (const char* name : {"wrinkled.inp", "unwrinkled_gold.inp", "bobbled_gold.inp"}) {
        Reader rd;
        ASSERT_EQ(rd.Load(Write(Name("before"), Compressed(kBuild130, Frames({kPortC})))),
                  InpReplay_Ok);
        EXPECT_EQ(rd.Load(dir + name), InpReplay_Invalid) << name;
        EXPECT_EQ(rd.Words(), (std::vector<uint32_t>{kC}));

        Bytes relabelled = ReadAll(dir + name);
        ASSERT_GT(relabelled.size(), 64u);
        std::memset(relabelled.data() + 32, 0, 32);
        std::memcpy(relabelled.data() + 32, kBuild133, std::strlen(kBuild133));
        relabelled[16] = 3;
        relabelled[17] = 0;
        EXPECT_EQ(rd.Load(Write(Name(name), relabelled)), InpReplay_Ok) << name;
        EXPECT_GT(rd.Words().size(), 100u) << name;
        for (size_t len : {size_t{64}, size_t{70}, relabelled.size() / 2}) {
            const Bytes cut(relabelled.begin(), relabelled.begin() + long(len));
            EXPECT_EQ(rd.Load(Write(Name("cut"), cut)), InpReplay_Ok) << name << " " << len;
        }
    }
}
