// MAME INP import: recordings built byte by byte (and the real ones in the shared data) read
// through Replay_LoadMAMEINP into a replay record's input list.
#include "DoublyLinkedList.h"
#include "InpTestFiles.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Replay.h"
#include "Vantrel_Adv_ReplayINP.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace inp;

namespace {

constexpr uint32_t kLeft = 1, kRight = 2, kUp = 4, kDown = 8, kA = 0x10, kB = 0x20, kC = 0x100;

// The engine's replay object; imports go through its slot 0.
struct TestReplay {
    ReplayRecord* rec = reinterpret_cast<ReplayRecord*>(Replay_Create());
    ~TestReplay() { rec->base.ops->Free(&rec->base); }
    int32_t Load(const std::string& path, int32_t skipPresses = 0, int32_t skipFrames = 0,
                 uint32_t flags = 0) {
        const std::u16string name = Platform_Path_FromUtf8(path);
        return rec->base.ops->LoadMAMEINP(&rec->base, name.c_str(), skipPresses, skipFrames, flags);
    }
    int32_t LoadOld(const std::string& path, int32_t skipPresses = 0, int32_t skipFrames = 0,
                    uint32_t flags = 0) {
        const std::u16string name = Platform_Path_FromUtf8(path);
        return Replay_LoadOldINP(&rec->base, name.c_str(), skipPresses, skipFrames, flags);
    }
    std::vector<uint32_t> Words() const { return inp::Words(rec->inputs); }
};

std::string Name(const char* suffix) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "_" + info->name() + "_" + suffix;
}

std::string WriteCompressed(const char* suffix, const char* build,
                            const std::vector<Record>& recs) {
    return Write(Name(suffix), Compressed(build, recs));
}

} // namespace

TEST(ReplayINP, ResultCodesForBuildsAndVersions) {
    const std::vector<Record> recs = Frames({kPortUp, 0, kPortA});
    for (const char* build : {kBuild130, kBuild133, kBuild133Timing}) {
        TestReplay r;
        r.rec->loadedParts = 0xF;
        EXPECT_EQ(r.Load(WriteCompressed("known", build, recs)), Inp_Ok) << build;
        EXPECT_EQ(r.rec->inputsState, 1);
        EXPECT_EQ(r.rec->loadedParts, 0u);
    }
    TestReplay r;
    EXPECT_EQ(r.Load(TempPath("no_such_recording.inp")), Inp_CannotOpen);
    EXPECT_EQ(r.Load(WriteCompressed("unknown", "MAME 0.131 (Apr  1 2009)", recs)), Inp_Invalid);
    EXPECT_EQ(r.Load(Write(Name("v31"), Compressed(kBuild133, recs, 3, 1))), Inp_Invalid);
    EXPECT_EQ(r.Load(Write(Name("v20"), Compressed(kBuild130, recs, 2, 0))), Inp_Invalid);
    EXPECT_EQ(r.Load(Write(Name("v-3"), Compressed(kBuild130, recs, -3, 0))), Inp_Invalid);
    // A build text that only starts like a known one is another build.
    EXPECT_EQ(r.Load(WriteCompressed("longer", "MAME 0.130 (Mar  9 2009)x", recs)), Inp_Invalid);
    EXPECT_EQ(r.Load(WriteCompressed("shorter", "MAME 0.130 (Mar  9 200", recs)), Inp_Invalid);
    // Without the magic it is tried as the old format, whose sizes these do not fit.
    EXPECT_EQ(r.Load(Write(Name("magic"),
                           Concat(Header(kBuild130, 3, 0, "MAMEINQ"), Deflate(Records(recs))))),
              Inp_Invalid);
    EXPECT_EQ(r.Load(Write(Name("empty"), {})), Inp_Invalid);
    // Shorter than the header: never read as compressed, even with the magic.
    Bytes shortFile = Header(kBuild130);
    shortFile.resize(63);
    EXPECT_EQ(r.Load(Write(Name("short"), shortFile)), Inp_Invalid);
}

TEST(ReplayINP, FailedImportKeepsThePreviousInputs) {
    TestReplay r;
    ASSERT_EQ(r.Load(WriteCompressed("good", kBuild130, Frames({kPortUp, kPortDown}))), Inp_Ok);
    const std::vector<uint32_t> before = r.Words();
    ASSERT_EQ(before, (std::vector<uint32_t>{kUp, kDown}));
    r.rec->loadedParts = 0xF;
    EXPECT_EQ(r.Load(WriteCompressed("bad", "MAME 0.999", Frames({kPortA}))), Inp_Invalid);
    EXPECT_EQ(r.Words(), before);
    EXPECT_EQ(r.rec->loadedParts, 0u);
    EXPECT_EQ(r.Load(TempPath("missing.inp")), Inp_CannotOpen);
    EXPECT_EQ(r.Words(), before);
    EXPECT_EQ(r.rec->inputsState, 1);
}

TEST(ReplayINP, PortBitsBecomeInputBits) {
    TestReplay r;
    const uint32_t noise = 0x01FFFFFFu; // port bits 24-0 mean nothing
    const std::vector<Record> recs = Frames({
        kPortUp,
        kPortDown,
        kPortRight,
        kPortLeft,
        kPortA,
        kPortB,
        kPortC,
        noise,
        kPortUp | kPortA | kPortC | noise,
        0xFFFFFFFFu,
        0,
    });
    ASSERT_EQ(r.Load(WriteCompressed("ports", kBuild133, recs)), Inp_Ok);
    EXPECT_EQ(r.Words(),
              (std::vector<uint32_t>{kUp, kDown, kRight, kLeft, kA, kB, kC, 0, kUp | kA | kC,
                                     kUp | kDown | kLeft | kRight | kA | kB | kC, 0}));
}

TEST(ReplayINP, EveryCompleteRecordIsStoredUpToTheEndOfTheStream) {
    TestReplay r;
    // Long enough that the records cross the reader's buffers at odd places.
    std::vector<uint32_t> ports;
    for (uint32_t i = 0; i < 5000; ++i) ports.push_back(i % 3 == 0 ? kPortB : kPortLeft);
    ASSERT_EQ(r.Load(WriteCompressed("long", kBuild130, Frames(ports))), Inp_Ok);
    const std::vector<uint32_t> words = r.Words();
    ASSERT_EQ(words.size(), ports.size());
    EXPECT_EQ(words.front(), kB);
    EXPECT_EQ(words.back(), ports.back() == kPortB ? kB : kLeft);

    // A stream that ends inside a record keeps only the whole records.
    Bytes raw = Records(Frames({kPortA, kPortB, kPortC}));
    raw.resize(raw.size() - 5);
    ASSERT_EQ(r.Load(Write(Name("partial"), Concat(Header(kBuild130), Deflate(raw)))), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kA, kB}));

    ASSERT_EQ(r.Load(Write(Name("nothing"), Concat(Header(kBuild130), Deflate({})))), Inp_Ok);
    EXPECT_TRUE(r.Words().empty());
    EXPECT_EQ(r.rec->inputsState, 1);
}

TEST(ReplayINP, DamagedAndTruncatedStreamsKeepWhatCameBefore) {
    std::vector<uint32_t> ports;
    for (uint32_t i = 0; i < 20000; ++i) ports.push_back((i * 2654435761u) & 0xFE000000u);
    const Bytes header = Header(kBuild133);
    const Bytes stream = Deflate(Records(Frames(ports)), 1);
    ASSERT_GT(stream.size(), 1000u);
    std::vector<uint32_t> expected;
    {
        TestReplay full;
        ASSERT_EQ(full.Load(Write(Name("full"), Concat(header, stream))), Inp_Ok);
        expected = full.Words();
        ASSERT_EQ(expected.size(), ports.size());
    }
    auto isPrefix = [&](const std::vector<uint32_t>& got) {
        return got.size() <= expected.size() &&
               std::equal(got.begin(), got.end(), expected.begin());
    };

    for (size_t keep : {size_t{0}, size_t{1}, size_t{2}, stream.size() / 2, stream.size() - 1}) {
        TestReplay r;
        Bytes cut(stream.begin(), stream.begin() + long(keep));
        EXPECT_EQ(r.Load(Write(Name("cut"), Concat(header, cut))), Inp_Ok) << keep;
        const std::vector<uint32_t> got = r.Words();
        EXPECT_TRUE(isPrefix(got)) << keep;
        // Only a cut into the checksum at the very end can leave every record intact.
        if (keep <= stream.size() / 2) {
            EXPECT_LT(got.size(), expected.size() / 2 + 1) << keep;
        }
    }
    {
        TestReplay r;
        Bytes damaged = stream;
        for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 64; ++i) damaged[i] ^= 0xFF;
        EXPECT_EQ(r.Load(Write(Name("damaged"), Concat(header, damaged))), Inp_Ok);
        // What zlib produced before it noticed the damage is kept; the start is intact.
        const std::vector<uint32_t> got = r.Words();
        ASSERT_GT(got.size(), 100u);
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + 100, expected.begin()));
    }
    {
        TestReplay r; // not a zlib stream at all
        EXPECT_EQ(r.Load(Write(Name("garbage"), Concat(header, Bytes(500, 0xAB)))), Inp_Ok);
        EXPECT_TRUE(r.Words().empty());
    }
}

TEST(ReplayINP, SkipPressesStartsAfterTheCountedPress) {
    std::vector<uint32_t> ports(40, 0);
    ports[10] = kPortA;
    ports[11] = kPortA; // held: not a new press
    ports[25] = kPortA | kPortLeft;
    ports[26] = kPortLeft;
    ports[27] = kPortRight;
    const std::string path = WriteCompressed("presses", kBuild130, Frames(ports));
    TestReplay r;
    ASSERT_EQ(r.Load(path, 2), Inp_Ok);
    std::vector<uint32_t> words = r.Words();
    ASSERT_EQ(words.size(), 40u - 26u);
    EXPECT_EQ(words[0], kLeft);
    EXPECT_EQ(words[1], kRight);

    ASSERT_EQ(r.Load(path, 1), Inp_Ok);
    words = r.Words();
    ASSERT_EQ(words.size(), 40u - 11u);
    EXPECT_EQ(words[0], kA);
    EXPECT_EQ(words[14], kA | kLeft);

    ASSERT_EQ(r.Load(path, 3), Inp_Ok); // the third press is on frame 27
    EXPECT_EQ(r.Words().size(), 40u - 28u);
    ASSERT_EQ(r.Load(path, 4), Inp_Ok); // never reached: nothing stored
    EXPECT_TRUE(r.Words().empty());
    ASSERT_EQ(r.Load(path, -5), Inp_Ok); // a negative count skips nothing
    EXPECT_EQ(r.Words().size(), 40u);
}

TEST(ReplayINP, SkipFramesDropsTheFirstStoredFrames) {
    TestReplay r;
    const std::vector<uint32_t> ports = {kPortA, kPortB, kPortC, kPortUp, kPortDown};
    ASSERT_EQ(r.Load(WriteCompressed("frames", kBuild130, Frames(ports)), 0, 2), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kC, kUp, kDown}));
    // After skipped presses the dropped frames are the first ones that would be stored.
    ASSERT_EQ(
        r.Load(WriteCompressed("both", kBuild130, Frames({0, kPortA, 0, kPortB, kPortC, kPortUp})),
               1, 2),
        Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kC, kUp}));

    // With the timing filter, the skipped frames are the first two taking part.
    const uint64_t off = kFrameAtto / 2;
    const std::vector<Record> recs = {
        {0, kPortA},
        {off, kPortB},
        {kFrameAtto, kPortB},
        {2 * kFrameAtto, kPortC},
        {off, kPortB},
        {3 * kFrameAtto, kPortLeft},
        {4 * kFrameAtto, kPortUp},
        {5 * kFrameAtto, kPortRight},
        {6 * kFrameAtto, kPortDown},
    };
    // Taking part: records 0, 3, 6 and 8 (every other one at phase 0); 0 and 3 skipped.
    ASSERT_EQ(r.Load(WriteCompressed("timing", kBuild133Timing, recs), 0, 2), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kUp, kDown}));
}

TEST(ReplayINP, TimingFilterPhaseBoundaries) {
    struct Case {
        uint64_t rest; // attoseconds past a frame start
        bool qualifies;
    };
    const Case cases[] = {
        {0, true},                  // phase 0
        {15000000000000ull, true},  // 0.0009
        {16666666666666ull, true},  // just below 0.001
        {16666666666667ull, false}, // 0.001
        {kFrameAtto / 4, false},
        {kFrameAtto / 2, false},
        {16658333333333333ull, true},  // 0.9995 folds to 0.0005
        {16648333333333333ull, false}, // 0.9989 folds to 0.0011
    };
    for (const Case& c : cases) {
        TestReplay r;
        // The record under test, then one at phase 0 in a later second.
        const std::vector<Record> recs = {{7 * kFrameAtto + c.rest, kPortA}, {0, kPortB}};
        ASSERT_EQ(r.Load(WriteCompressed("phase", kBuild133Timing, recs)), Inp_Ok);
        EXPECT_EQ(r.Words(), (std::vector<uint32_t>{c.qualifies ? kA : kB})) << c.rest;
        // The other builds take every record.
        ASSERT_EQ(r.Load(WriteCompressed("plain", kBuild133, recs)), Inp_Ok);
        EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kA, kB}));
    }
}

TEST(ReplayINP, TimingFilterTakesEveryOtherQualifyingRecord) {
    TestReplay r;
    const uint64_t late = kFrameAtto / 3;
    const std::vector<Record> recs = {
        {0, kPortUp},
        {late, kPortC},
        {kFrameAtto, kPortDown},
        {kFrameAtto + late, kPortC},
        {kFrameAtto + late, kPortC},
        {2 * kFrameAtto, kPortLeft},
        {3 * kFrameAtto, kPortRight},
        {3 * kFrameAtto + late, kPortC},
        {4 * kFrameAtto, kPortA},
    };
    ASSERT_EQ(r.Load(WriteCompressed("alternate", kBuild133Timing, recs)), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kUp, kLeft, kA}));
}

TEST(ReplayINP, DiagonalFilterInTheCompressedFormat) {
    const std::vector<uint32_t> ports = {
        kPortUp | kPortLeft,
        kPortA,
        kPortDown | kPortRight | kPortB,
        kPortLeft,
        kPortUp | kPortRight,
        kPortDown | kPortLeft,
        kPortUp | kPortDown,
        kPortLeft | kPortRight,
    };
    const std::string path = WriteCompressed("diagonal", kBuild130, Frames(ports));
    TestReplay r;
    ASSERT_EQ(r.Load(path, 0, 0, 1), Inp_Ok);
    // A diagonal repeats the last stored word (0 before any); up+down and left+right pass.
    EXPECT_EQ(r.Words(),
              (std::vector<uint32_t>{0, kA, kA, kLeft, kLeft, kLeft, kUp | kDown, kLeft | kRight}));
    ASSERT_EQ(r.Load(path), Inp_Ok);
    EXPECT_EQ(r.Words(),
              (std::vector<uint32_t>{kUp | kLeft, kA, kDown | kRight | kB, kLeft, kUp | kRight,
                                     kDown | kLeft, kUp | kDown, kLeft | kRight}));
    // The filtered word is what the next frame's new press is measured against.
    const std::string presses =
        WriteCompressed("press", kBuild130, Frames({kPortUp | kPortLeft, kPortUp, kPortB, kPortC}));
    ASSERT_EQ(r.Load(presses, 2, 0, 1), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kC}));
}

TEST(ReplayINP, OldFormatSizesAndBits) {
    TestReplay r;
    EXPECT_EQ(r.LoadOld(Write(Name("31"), Bytes(31, 0))), Inp_Invalid);
    EXPECT_EQ(r.LoadOld(Write(Name("33"), Bytes(33, 0))), Inp_Invalid);
    EXPECT_EQ(r.LoadOld(Write(Name("151"), Bytes(32 + 119, 0))), Inp_Invalid);
    EXPECT_EQ(r.LoadOld(TempPath("missing_old.inp")), Inp_CannotOpen);
    ASSERT_EQ(r.Load(Write(Name("32"), Bytes(32, 0))), Inp_Ok);
    EXPECT_TRUE(r.Words().empty());
    EXPECT_EQ(r.rec->inputsState, 1);

    const std::vector<OldFrame> frames = {{1},  {2},  {4}, {8},    {16},
                                          {32}, {64}, {0}, {0x7F}, {0x80}};
    const std::string path = Write(Name("bits"), OldFormat(frames));
    ASSERT_EQ(r.Load(path), Inp_Ok); // no magic: read as the old format
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kUp, kDown, kLeft, kRight, kA, kB, kC, 0,
                                                kUp | kDown | kLeft | kRight | kA | kB | kC, 0}));
}

TEST(ReplayINP, OldFormatDiagonalAndSkipping) {
    TestReplay r;
    // Bits: 1 up, 2 down, 4 left, 8 right, 16 A.
    const std::string diag =
        Write(Name("diag"), OldFormat({{1 | 4}, {2 | 8}, {1 | 2}, {16 | 1 | 8}}));
    ASSERT_EQ(r.Load(diag, 0, 0, 1), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kLeft, kRight, kUp | kDown, kA | kRight}));
    ASSERT_EQ(r.Load(diag), Inp_Ok);
    EXPECT_EQ(r.Words(),
              (std::vector<uint32_t>{kUp | kLeft, kDown | kRight, kUp | kDown, kA | kUp | kRight}));

    // Presses on frames 1 and 3; storing starts on frame 4, then two frames skipped.
    const std::string presses =
        Write(Name("presses"), OldFormat({{0}, {16}, {16}, {32}, {0}, {1}, {2}, {4}}));
    ASSERT_EQ(r.Load(presses, 2), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{0, kUp, kDown, kLeft}));
    ASSERT_EQ(r.Load(presses, 2, 2), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kDown, kLeft}));

    // Flags bit 1: falling edges of the marker count, presses do not.
    const std::string marker = Write(Name("marker"), OldFormat({{16, false},
                                                                {32, true},
                                                                {1, true},
                                                                {2, false},
                                                                {4, false},
                                                                {8, true},
                                                                {16, false},
                                                                {64, false}}));
    ASSERT_EQ(r.Load(marker, 1, 0, 2), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kLeft, kRight, kA, kC}));
    ASSERT_EQ(r.Load(marker, 2, 0, 2), Inp_Ok);
    EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kC}));
    // Without bit 1 the marker means nothing and presses count again.
    ASSERT_EQ(r.Load(marker, 1, 0, 0), Inp_Ok);
    EXPECT_EQ(r.Words().size(), 7u);
}

TEST(ReplayINP, DecompressionBombIsBounded) {
    // A stream of empty records inflating to far more frames than any recording holds.
    constexpr size_t kCap = size_t{1} << 22;
    const Bytes raw(32 * (kCap + 100000), 0);
    const std::string path = Write(Name("bomb"), Concat(Header(kBuild130), Deflate(raw, 9)));
    TestReplay r;
    ASSERT_EQ(r.Load(path), Inp_Ok);
    EXPECT_EQ(r.rec->inputs->size(), size_t(kCap));
}

TEST(ReplayINP, RealRecordingsOfOtherGamesAreHarmless) {
    const std::string dir = SharedInpFolder();
    if (dir.empty()) GTEST_SKIP() << "shared recordings not found at " ZELVIK_SHARED_DATA;
    for (const char* name : {"wrinkled.inp", "unwrinkled_gold.inp", "bobbled_gold.inp"}) {
        const Bytes file = ReadAll(dir + name);
        ASSERT_GT(file.size(), 64u) << name;
        TestReplay r;
        ASSERT_EQ(r.Load(WriteCompressed("before", kBuild130, Frames({kPortA}))), Inp_Ok);
        // Their builds are unknown here: rejected, the inputs loaded before stay.
        EXPECT_EQ(r.Load(dir + name), Inp_Invalid) << name;
        EXPECT_EQ(r.Words(), (std::vector<uint32_t>{kA}));

        // Claiming a known build, their records (wider than ours) are read without harm.
        Bytes relabelled = file;
        std::memset(relabelled.data() + 32, 0, 32);
        std::memcpy(relabelled.data() + 32, kBuild133Timing, std::strlen(kBuild133Timing));
        relabelled[16] = 3;
        relabelled[17] = 0;
        EXPECT_EQ(r.Load(Write(Name(name), relabelled), 3, 2, 1), Inp_Ok) << name;
        std::memcpy(relabelled.data() + 32, kBuild130, std::strlen(kBuild130) + 1);
        EXPECT_EQ(r.Load(Write(Name(name), relabelled)), Inp_Ok) << name;
        EXPECT_GT(r.Words().size(), 100u) << name;

        // Cut anywhere, as compressed or as old format.
        for (size_t len :
             {size_t{63}, size_t{64}, size_t{65}, size_t{152}, file.size() / 3, file.size() - 1}) {
            Bytes cut(relabelled.begin(), relabelled.begin() + long(len));
            const int32_t result = r.Load(Write(Name("cut"), cut));
            EXPECT_TRUE(result == Inp_Ok || result == Inp_Invalid) << name << " " << len;
        }
    }
}

TEST(ReplayINP, PlayerRunsFromAnImportedRecording) {
    const std::vector<uint32_t> ports = {
        kPortLeft, kPortRight | kPortA, 0, kPortUp | kPortC, kPortB, kPortDown};
    const std::vector<uint32_t> words = {kLeft, kRight | kA, 0, kUp | kC, kB, kDown};
    Player* p = Player_Create(nullptr, 0);
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->Replay, nullptr);
    const std::u16string name =
        Platform_Path_FromUtf8(WriteCompressed("play", kBuild133, Frames(ports)));
    ASSERT_EQ(p->Replay->ops->LoadMAMEINP(p->Replay, name.c_str(), 0, 0, 0), Inp_Ok);
    EXPECT_EQ(p->Replay->ops->CountFrames(p->Replay), int32_t(words.size()));
    // A mode's own phase runs frames without plug-ins; the host's keys are ignored.
    p->State = State_ModePause;
    p->PlayerFlags |= Flag_Paused | Flag_PlayReplay;
    for (size_t frame = 0; frame < words.size() + 2; ++frame) {
        p->FrameTarget = p->FrameCounter + 1;
        ASSERT_EQ(Player_Update(p, 0x7FF, -1), 1);
        EXPECT_EQ(p->InputRead, frame < words.size() ? words[frame] : 0u) << frame;
    }
    Player_Free(p);
}
