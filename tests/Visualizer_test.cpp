// The visualizer's window under the headless video driver: layout, file drops, the status
// texts and the drawing rule of the history image, read back pixel by pixel.
#include "DoublyLinkedList.h"
#include "InpReplay.h"
#include "InpTestFiles.h"
#include "Visualizer.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace inp;

namespace {

// The button pictures are read from the working folder, the run folder.
class VisualizerTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::current_path(ZELVIK_GAME_DIR);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        v = Visualizer_Create();
        ASSERT_NE(v, nullptr) << SDL_GetError();
        Pump();
    }
    void TearDown() override {
        Visualizer_Destroy(v);
        SDL_Quit();
    }

    void Pump() {
        SDL_Event e;
        while (SDL_PollEvent(&e)) Visualizer_HandleEvent(v, e);
        Visualizer_RenderFrame(v);
    }

    void PushDrop(std::initializer_list<std::string> files) {
        SDL_Event e{};
        e.type = SDL_DROPBEGIN;
        SDL_PushEvent(&e);
        for (const std::string& f : files) {
            SDL_Event d{};
            d.type = SDL_DROPFILE;
            d.drop.file = SDL_strdup(f.c_str());
            d.drop.windowID = SDL_GetWindowID(v->window);
            SDL_PushEvent(&d);
        }
        e.type = SDL_DROPCOMPLETE;
        SDL_PushEvent(&e);
        Pump();
    }

    std::string Recording(const char* suffix, const std::vector<uint32_t>& ports) {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        return Write(std::string("vis_") + info->name() + "_" + suffix,
                     Compressed(kBuild130, Frames(ports)));
    }

    int32_t Frames_() const { return DoublyLinkedList_CountList(v->replay->inputs); }

    std::vector<uint32_t> HistoryPixels() {
        std::vector<uint32_t> px(size_t(v->historyWidth) * v->historyHeight);
        SDL_SetRenderTarget(v->renderer, v->history);
        SDL_RenderReadPixels(v->renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, px.data(),
                             v->historyWidth * 4);
        SDL_SetRenderTarget(v->renderer, nullptr);
        return px;
    }

    struct Colour {
        double r = 0, g = 0, b = 0;
        bool Black() const { return r + g + b < 1; }
    };
    // Mean colour of the middle of the 20 x 20 cell whose top-left corner is (x, y).
    static Colour Cell(const std::vector<uint32_t>& px, int width, int x, int y) {
        Colour c;
        int n = 0;
        for (int yy = y + 4; yy < y + 16; ++yy) {
            for (int xx = x + 4; xx < x + 16; ++xx) {
                const uint32_t p = px[size_t(yy) * width + xx];
                c.r += (p >> 16) & 0xFF;
                c.g += (p >> 8) & 0xFF;
                c.b += p & 0xFF;
                ++n;
            }
        }
        c.r /= n;
        c.g /= n;
        c.b /= n;
        return c;
    }

    Visualizer* v = nullptr;
};

} // namespace

TEST_F(VisualizerTest, OpensWithItsLayout) {
    EXPECT_STREQ(SDL_GetWindowTitle(v->window), "MAME INP Visualizer (Drag'n'Drop to load file)");
    int w = 0, h = 0;
    SDL_GetWindowSize(v->window, &w, &h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 420);
    EXPECT_TRUE(SDL_GetWindowFlags(v->window) & SDL_WINDOW_RESIZABLE);
    EXPECT_EQ(v->slider, 10000);
    EXPECT_EQ(v->historyWidth, 340);
    EXPECT_EQ(v->historyHeight, 350);
    EXPECT_EQ(v->status, "");
    for (SDL_Texture* t : v->buttons) EXPECT_NE(t, nullptr);

    SDL_SetWindowSize(v->window, 600, 500);
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    e.window.windowID = SDL_GetWindowID(v->window);
    e.window.data1 = 600;
    e.window.data2 = 500;
    SDL_PushEvent(&e);
    Pump();
    EXPECT_EQ(v->historyWidth, 540);
    EXPECT_EQ(v->historyHeight, 430);
    // A taller image takes more rows.
    PushDrop({Recording("tall", std::vector<uint32_t>(100, kPortA))});
    EXPECT_EQ(v->drawn.firstFrame, 0);
    // Rows start at 0, 20, ... up to the image height (430, less what a status of several
    // lines, naming this file, takes).
    EXPECT_EQ(v->drawn.rows, v->historyHeight / kVisualizerRowHeight + 1);
    EXPECT_GE(v->drawn.rows, 21);
}

TEST_F(VisualizerTest, NothingIsDrawnBeforeAFileIsLoaded) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_EXPOSED;
    e.window.windowID = SDL_GetWindowID(v->window);
    SDL_PushEvent(&e);
    Pump();
    v->slider = 3000;
    Visualizer_DrawHistory(v);
    EXPECT_EQ(v->drawn.firstFrame, -1);
    for (uint32_t p : HistoryPixels()) ASSERT_EQ(p & 0xFFFFFF, 0u);
}

TEST_F(VisualizerTest, DropLoadsOnlyTheFirstFile) {
    const std::string first = Recording("first", {kPortA, kPortB, kPortC});
    const std::string second = Recording("second", std::vector<uint32_t>(10, kPortUp));
    PushDrop({first, second});
    EXPECT_EQ(Frames_(), 3);
    EXPECT_EQ(v->status, first + " loaded successfully");
    PushDrop({second});
    EXPECT_EQ(Frames_(), 10);
    EXPECT_EQ(v->status, second + " loaded successfully");
}

TEST_F(VisualizerTest, FailedDropsKeepTheFramesAndSayWhy) {
    const std::string good = Recording("good", {kPortA, kPortB, kPortC, 0});
    PushDrop({good});
    ASSERT_EQ(Frames_(), 4);

    const std::string unknown =
        Write("vis_unknown.inp", Compressed(kBuild133Timing, Frames({kPortA})));
    PushDrop({unknown});
    EXPECT_EQ(v->status, unknown + " is not a valid MAME INP file or has an unsupported version");
    EXPECT_EQ(Frames_(), 4);
    // Too long for the bar's one line: it wraps, each line within the width, nothing cut off,
    // and the history image keeps clear of it.
    const std::vector<std::string> lines = Visualizer_StatusLines(v, 400);
    EXPECT_GT(lines.size(), 1u);
    std::string joined, whole;
    for (const std::string& line : lines) {
        EXPECT_LE(ImGui::CalcTextSize(line.c_str()).x, 400 - 8) << line;
        for (char c : line)
            if (c != ' ') joined += c;
    }
    for (char c : v->status)
        if (c != ' ') whole += c;
    EXPECT_EQ(joined, whole);
    EXPECT_LE(30 + v->historyHeight, 420 - 20 - v->statusExtra);

    const std::string missing = TempPath("vis_not_there.inp");
    PushDrop({missing});
    EXPECT_EQ(v->status, "Can't open " + missing);
    EXPECT_EQ(Frames_(), 4);
    EXPECT_EQ(v->drawn.firstFrame, 0);
}

TEST_F(VisualizerTest, SliderChoosesTheFirstRowAndItsOffset) {
    PushDrop({Recording("hundred", std::vector<uint32_t>(100, kPortLeft))});
    ASSERT_EQ(Frames_(), 100);
    EXPECT_EQ(v->drawn.firstFrame, 0);
    EXPECT_EQ(v->drawn.firstY, 0);
    // 0, 20, ... within the image (350, less what a wrapped status takes).
    EXPECT_EQ(v->drawn.rows, v->historyHeight / kVisualizerRowHeight + 1);

    v->slider = 5000;
    Visualizer_DrawHistory(v);
    EXPECT_EQ(v->drawn.firstFrame, 50);
    EXPECT_EQ(v->drawn.firstY, 0);

    v->slider = 4990; // x = 50.1
    Visualizer_DrawHistory(v);
    EXPECT_EQ(v->drawn.firstFrame, 50);
    EXPECT_EQ(v->drawn.firstY, -2);
    EXPECT_EQ(v->drawn.rows, (v->historyHeight + 2) / kVisualizerRowHeight + 1);

    v->slider = 1; // x = 99.99: the last frame, almost scrolled out
    Visualizer_DrawHistory(v);
    EXPECT_EQ(v->drawn.firstFrame, 99);
    EXPECT_EQ(v->drawn.firstY, -20);
    EXPECT_EQ(v->drawn.rows, 1);

    // At 0 there is no frame to show first: the image keeps what it showed.
    v->slider = 5000;
    Visualizer_DrawHistory(v);
    const std::vector<uint32_t> before = HistoryPixels();
    v->slider = 0;
    Visualizer_DrawHistory(v);
    EXPECT_EQ(v->drawn.firstFrame, 50);
    EXPECT_EQ(HistoryPixels(), before);
}

TEST_F(VisualizerTest, PicturesStandInTheirColumnsAfterTheNumber) {
    PushDrop({Recording("columns",
                        {kPortUp | kPortLeft, 0,
                         kPortUp | kPortDown | kPortLeft | kPortRight | kPortA | kPortB | kPortC,
                         kPortC, 1u << 23})});
    ASSERT_EQ(v->drawn.firstFrame, 0);
    const std::vector<uint32_t> px = HistoryPixels();
    const int w = v->historyWidth;
    const int t = Visualizer_TextWidth(v, "0");
    ASSERT_GT(t, 0);
    EXPECT_EQ(Visualizer_TextWidth(v, "10"), 2 * t);

    // Row 0, up and left: columns 0 and 1 only.
    const Colour up = Cell(px, w, t, 0), left = Cell(px, w, t + 20, 0);
    EXPECT_GT(up.r, up.g + 40);
    EXPECT_GT(left.g, left.r + 40);
    for (int c = 2; c < 7; ++c) EXPECT_TRUE(Cell(px, w, t + 20 * c, 0).Black()) << c;
    // The number itself is drawn before the pictures.
    bool number = false;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < t; ++x) number = number || (px[size_t(y) * w + x] & 0xFFFFFF) != 0;
    EXPECT_TRUE(number);

    // Row 1, no bits: only its number.
    for (int c = 0; c < 8; ++c) EXPECT_TRUE(Cell(px, w, t + 20 * c, 20).Black()) << c;
    // Row 2, everything; row 3, C in column 6; row 4, the second port byte's up.
    for (int c = 0; c < 7; ++c) EXPECT_FALSE(Cell(px, w, t + 20 * c, 40).Black()) << c;
    EXPECT_TRUE(Cell(px, w, t + 20 * 7, 40).Black());
    for (int c = 0; c < 6; ++c) EXPECT_TRUE(Cell(px, w, t + 20 * c, 60).Black()) << c;
    EXPECT_FALSE(Cell(px, w, t + 20 * 6, 60).Black());
    EXPECT_FALSE(Cell(px, w, t, 80).Black());
    EXPECT_TRUE(Cell(px, w, t + 20, 80).Black());
    // Past the last frame the image is black.
    for (int y = 100; y < v->historyHeight; y += 10)
        for (int x = 0; x < w; x += 7) ASSERT_EQ(px[size_t(y) * w + x] & 0xFFFFFF, 0u);
}

TEST_F(VisualizerTest, DraggingTheSliderScrolls) {
    PushDrop({Recording("drag", std::vector<uint32_t>(1000, kPortB))});
    ASSERT_EQ(v->drawn.firstFrame, 0);
    // Press on the middle of the slider's track: the thumb jumps there.
    const int x = 400 - 20, y = 10 + 190;
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SDL_GetWindowID(v->window);
    e.motion.x = x;
    e.motion.y = y;
    SDL_PushEvent(&e);
    Pump();
    SDL_Event down{};
    down.type = SDL_MOUSEBUTTONDOWN;
    down.button.windowID = SDL_GetWindowID(v->window);
    down.button.button = SDL_BUTTON_LEFT;
    down.button.state = SDL_PRESSED;
    down.button.clicks = 1;
    down.button.x = x;
    down.button.y = y;
    SDL_PushEvent(&down);
    Pump();
    Pump();
    EXPECT_GT(v->slider, 3000);
    EXPECT_LT(v->slider, 7000);
    EXPECT_GT(v->drawn.firstFrame, 300);
    EXPECT_LT(v->drawn.firstFrame, 700);
}

TEST(VisualizerProgram, RunsHeadlessUntilStopped) {
    // The window program waits for events; under the dummy driver it must start and keep
    // running until it is stopped from outside (timeout's 124).
    const std::string rc = std::string(ZELVIK_TEST_BIN) + "/visualizer_program.rc";
    const std::string cmd = "cd '" ZELVIK_GAME_DIR "' && SDL_VIDEODRIVER=dummy timeout 2 "
                            "./inp_visualizer > /dev/null 2>&1; echo $? > '" +
                            rc + "'";
    ASSERT_NE(std::system(cmd.c_str()), -1);
    std::FILE* f = std::fopen(rc.c_str(), "r");
    ASSERT_NE(f, nullptr);
    int code = -1;
    EXPECT_EQ(std::fscanf(f, "%d", &code), 1);
    std::fclose(f);
    EXPECT_EQ(code, 124);
}
