#include "FakeEnginePlayer.h"

#include "Platform_Library.h"
#include "PluginLookup.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Game.h"

#include "DFont.h"
#include "DoublyLinkedList.h"
#include "Platform_Image.h"
#include "Platform_Screen.h"
#include "Sprite3D.h"
#include "Vantrel_GUI_Callbacks.h"
#include "Vantrel_GUI_Resources.h"
#include "Vantrel_GUI_Skin.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Every pixel's RGB within tolerance of the reference picture, except a tiny share.
void ExpectMatchesReference(const std::string& name) {
    std::vector<uint8_t> got;
    ASSERT_TRUE(Platform_Screen_ReadPixels(got));
    const std::string reference = std::string(ZELVIK_TEST_DATA) + "/" + name;
    if (std::getenv("ZELVIK_WRITE_REFERENCE")) {
        Platform_Screen_SaveScreenshot(reference);
        GTEST_SKIP() << "reference written to " << reference;
    }
    Platform_Image want;
    std::string error;
    ASSERT_TRUE(Platform_Image_Load(reference, want, &error)) << error;
    ASSERT_EQ(want.Width, Platform_Screen_Width());
    ASSERT_EQ(want.Height, Platform_Screen_Height());
    int64_t off = 0;
    for (size_t i = 0; i < got.size(); i += 4)
        for (int k = 0; k < 3; ++k)
            if (std::abs(int(got[i + k]) - int(want.Pixels[i + k])) > 24) {
                ++off;
                break;
            }
    EXPECT_LT(off, int64_t(got.size() / 4 / 500)) << off << " pixels differ from " << name;
}

SkinElement* ChildAt(SkinElement* e, int32_t i) {
    return *static_cast<SkinElement**>(DoublyLinkedList_SelectElement(e->Children, i));
}
int32_t ChildCount(SkinElement* e) {
    return DoublyLinkedList_CountList(e->Children);
}

// Reads XML into a fresh root; the test owns the tree.
struct Tree {
    SkinElement* root = SkinElement_New();
    explicit Tree(const std::string& xml, bool expectOk = true) {
        std::string error;
        EXPECT_EQ(SkinElement_LoadText(root, xml, &error), expectOk ? 1 : 0) << error;
    }
    ~Tree() { SkinElement_FreeTree(root); }
};

// Runs from the run folder so skins, pictures and fonts resolve as in the game.
class SkinScreen : public ::testing::Test {
protected:
    void Open(int32_t w, int32_t h) {
        previous = std::filesystem::current_path();
        std::filesystem::current_path(ZELVIK_GAME_DIR);
        ASSERT_TRUE(Platform_Screen_Open(w, h, true, "Skin test"));
        ASSERT_TRUE(Client_InitState());
        ASSERT_TRUE(Client_CreateCellSprites());
        cp = Client_AddClientPlayer(nullptr);
        fake =
            std::make_unique<FakeEnginePlayer>(&gClient.Interface, reinterpret_cast<uintptr_t>(cp));
        cp->Player = &fake->player;
    }
    void TearDown() override {
        fake.reset();
        Client_FreeState();
        Resource_FreeAll();
        Platform_Screen_Close();
        if (!previous.empty()) std::filesystem::current_path(previous);
    }
    std::filesystem::path previous;
    ClientPlayer* cp = nullptr;
    std::unique_ptr<FakeEnginePlayer> fake;
};

} // namespace

TEST(SkinRead, TagsAreCaseBlindAttributesCaseSensitive) {
    Tree t(R"(<SKIN><Text size="10,20" Size="99,99" position="1.5,-2.25" id="3"/>
              <IMAGE/><Field/><nExT id="2"/><hold/><PLAYER id="1"/><menu/><class name="c"/>
              <unknown/></SKIN>)");
    EXPECT_EQ(t.root->Kind, SkinKind_Skin);
    ASSERT_EQ(ChildCount(t.root), 9);
    const int32_t kinds[9] = {SkinKind_Text, SkinKind_Image, SkinKind_Field,
                              SkinKind_Next, SkinKind_Hold,  SkinKind_Player,
                              SkinKind_Menu, SkinKind_Class, SkinKind_Skin};
    for (int32_t i = 0; i < 9; ++i) EXPECT_EQ(ChildAt(t.root, i)->Kind, kinds[i]) << i;
    SkinElement* text = ChildAt(t.root, 0);
    EXPECT_EQ(text->Width, 10.0);
    EXPECT_EQ(text->Height, 20.0);
    EXPECT_EQ(text->X, 1.5);
    EXPECT_EQ(text->Y, -2.25);
    EXPECT_EQ(text->Id, 3);
    EXPECT_EQ(text->FontScaleX, 1.0);
    EXPECT_EQ(text->Parent, t.root);
}

TEST(SkinRead, NumbersIgnoreTheLocaleAndMissingParts) {
    // A locale with a decimal comma must not change how skins read.
    const char* had = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = had ? had : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    Tree t(R"(<skin><text size="12.75" position="x,3" fontsize="" clipsize="16"/>
              <text fontsize="0.5,2"/></skin>)");
    std::setlocale(LC_NUMERIC, saved.c_str());
    SkinElement* a = ChildAt(t.root, 0);
    EXPECT_EQ(a->Width, 12.75);
    EXPECT_EQ(a->Height, 0.0);
    EXPECT_EQ(a->X, 0.0);
    EXPECT_EQ(a->Y, 3.0);
    EXPECT_EQ(a->FontScaleX, 1.0); // empty counts as absent
    EXPECT_EQ(a->ClipWidth, 16);
    EXPECT_EQ(a->ClipHeight, 0);
    EXPECT_EQ(ChildAt(t.root, 1)->FontScaleX, 0.5);
    EXPECT_EQ(ChildAt(t.root, 1)->FontScaleY, 2.0);
}

TEST(SkinRead, ClassesCopyTheirChildrenOnlyWhenDefinedBefore) {
    Tree t(R"(<skin>
        <text class="late" name="early"/>
        <class name="Late"><text name="x"/></class>
        <class name="box"><image name="frame" position="1,2"><text name="deep"/></image>
                          <text name="label"/></class>
        <text class="BOX" position="5,5"><text name="own"/></text>
        <text name="box" class="box"/>
        <skin name="outer"><text class="outer"/></skin>
        <skin><class name="inner"><text/></class><text class="inner"/></skin>
        <text class="nothing"/>
      </skin>)");
    EXPECT_EQ(ChildCount(ChildAt(t.root, 0)), 0); // used before it was defined
    SkinElement* user = ChildAt(t.root, 3);
    ASSERT_EQ(ChildCount(user), 3); // two copies, then its own child
    EXPECT_EQ(ChildAt(user, 0)->Name, "frame");
    EXPECT_EQ(ChildAt(user, 0)->X, 1.0);
    EXPECT_EQ(ChildAt(user, 0)->Parent, user);
    EXPECT_EQ(ChildCount(ChildAt(user, 0)), 0); // one level deep
    EXPECT_EQ(ChildAt(user, 1)->Name, "label");
    EXPECT_EQ(ChildAt(user, 2)->Name, "own");
    EXPECT_EQ(user->X, 5.0);                                  // own attributes read after the class
    EXPECT_EQ(ChildCount(ChildAt(t.root, 4)), 0);             // named like its class
    EXPECT_EQ(ChildCount(ChildAt(ChildAt(t.root, 5), 0)), 0); // an ancestor has the name
    EXPECT_EQ(ChildCount(ChildAt(ChildAt(t.root, 6), 1)), 0); // class below the root
    EXPECT_EQ(ChildCount(ChildAt(t.root, 7)), 0);
}

TEST(SkinRead, AlignmentAnchorsToTheParentsFarEdges) {
    Tree t(R"(<skin position="10,20" size="100,50">
        <text alignment="Right, BOTTOM" position="-10,-10"/>
        <text alignment="left,top,middle" position="3,4"/>
        <text alignment="right" position="0,0"><text alignment="bottom"/></text>
      </skin>)");
    SkinPoint p{0, 0};
    SkinElement_AbsolutePosition(ChildAt(t.root, 0), &p);
    EXPECT_EQ(p.X, 10 + 100 - 10.0);
    EXPECT_EQ(p.Y, 20 + 50 - 10.0);
    EXPECT_EQ(ChildAt(t.root, 0)->Alignment, SkinAlign_Right | SkinAlign_Bottom);
    EXPECT_EQ(ChildAt(t.root, 1)->Alignment, 0);
    p = {0, 0};
    SkinElement* nested = ChildAt(ChildAt(t.root, 2), 0);
    SkinElement_AbsolutePosition(nested, &p);
    EXPECT_EQ(p.X, 110.0); // the parent's parent's width
    EXPECT_EQ(p.Y, 20.0);  // the parent has no height
}

TEST(SkinRead, BrokenAndHostileFilesGiveAnEmptyRoot) {
    Tree bad("<skin><text></skin>", false);
    EXPECT_EQ(ChildCount(bad.root), 0);
    Tree empty("", false);
    EXPECT_EQ(ChildCount(empty.root), 0);
    SkinElement* missing = SkinElement_New();
    EXPECT_EQ(SkinElement_LoadFile(missing, "/no/such/skin.xml"), 0);
    SkinElement_FreeTree(missing);
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<skin>";
    for (int i = 0; i < 5000; ++i) deep += "</skin>";
    Tree t(deep);
    int32_t depth = 1;
    for (SkinElement* e = t.root; ChildCount(e) > 0; e = ChildAt(e, 0)) ++depth;
    EXPECT_EQ(depth, kSkinMaxDepth);
}

TEST(SkinFormat, TimesValuesModeAndFps) {
    ClientPlayer cp{};
    FakeEnginePlayer fake(nullptr, 0);
    cp.Player = &fake.player;
    fake.player.GameTime = 125;
    EXPECT_EQ(Skin_FormatText(u"%time% %time_int%", &cp), u"00:02:08 00:02:08");
    fake.player.GameTime = 60 * 61 + 59; // 61.983 s
    EXPECT_EQ(Skin_FormatText(u"%time%", &cp), u"01:01:98");
    fake.player.Settings.FramesPerSecond = 59.94;
    fake.player.GameTime = 600;
    EXPECT_EQ(Skin_FormatText(u"%time%", &cp), u"00:10:01");     // 10.01 s
    EXPECT_EQ(Skin_FormatText(u"%time_int%", &cp), u"00:10:16"); // whole 59 frames a second
    fake.player.Settings.FramesPerSecond = 60;
    fake.player.GameTime = 60 * 60 * 150; // 150 minutes keeps its first two digits
    EXPECT_EQ(Skin_FormatText(u"%time%", &cp), u"15:00:00");
    int32_t* level = fake.SetValue(u"level", 250);
    fake.SetValue(u"medal_ac", -1);
    EXPECT_EQ(Skin_FormatText(u"L%level%/%medal_ac%/%Level%/%nokey%", &cp),
              u"L250/-1/%Level%/%nokey%");
    *level = 251; // live entries read the current value
    EXPECT_EQ(Skin_FormatText(u"%level%", &cp), u"251");
    EXPECT_EQ(Skin_FormatText(u"%mode%", &cp), u"%mode%"); // no mode yet
    fake.SetMode(u"KOVRA1");
    EXPECT_EQ(Skin_FormatText(u"[%mode%]", &cp), u"[KOVRA1]");
    gClient.DisplayFPS = 417;
    EXPECT_EQ(Skin_FormatText(u"%fps% fps", &cp), u"417 fps");
    // Without a player.
    EXPECT_EQ(Skin_FormatText(u"%time%|%time_int%|%mode%|%fps%", nullptr),
              u"00:00:00|00:00:00|%mode%|417");
    fake.player.Settings.FramesPerSecond = 0;
    EXPECT_EQ(Skin_FormatText(u"%time%|%level%", &cp), u"00:00:00|%level%");
    // On screen a value the player does not have shows as nothing; a lone "%" stays.
    EXPECT_EQ(Skin_DisplayText(u"%mode% L%level% 50% %%|%grade%", nullptr), u" L 50% %%|");
    gClient.DisplayFPS = 0;
}

TEST(SkinClip, ClipsRunDownEachColumnThenAcross) {
    int32_t u = -1, v = -1;
    ASSERT_TRUE(Skin_ClipOrigin(7, 16, 16, 64, &u, &v));
    EXPECT_EQ(u, 16);
    EXPECT_EQ(v, 48);
    ASSERT_TRUE(Skin_ClipOrigin(3, 16, 16, 64, &u, &v));
    EXPECT_EQ(u, 0);
    EXPECT_EQ(v, 48);
    ASSERT_TRUE(Skin_ClipOrigin(8, 16, 16, 64, &u, &v));
    EXPECT_EQ(u, 32);
    EXPECT_EQ(v, 0);
    // A huge index is computed at once and stays in range of the arithmetic.
    ASSERT_TRUE(Skin_ClipOrigin(INT32_MAX, 16, 16, 64, &u, &v));
    EXPECT_EQ(u, INT32_MAX); // saturated; the sprite then limits it to the sheet
    EXPECT_GE(v, 0);
    EXPECT_LT(v, 64);
    EXPECT_FALSE(Skin_ClipOrigin(1, 16, 0, 64, &u, &v));
    EXPECT_FALSE(Skin_ClipOrigin(1, 16, 16, 0, &u, &v));
    EXPECT_FALSE(Skin_ClipOrigin(-1, 16, 16, 64, &u, &v));
}

TEST_F(SkinScreen, LayoutPixelsAt640x480) {
    Open(640, 480);
    Tree t(R"(<skin><player id="1">
        <field position="120,44" size="80,160"/>
        <next id="2" position="1.25,3" size="8,8"/>
        <next id="65" position="9,9" size="8,8"/>
        <hold position="82,44" size="6,6"/>
      </player></skin>)");
    SkinElement_Draw(t.root, 640, 480, nullptr);
    EXPECT_EQ(cp->FieldX, 240);
    EXPECT_EQ(cp->FieldY, 88);
    EXPECT_EQ(cp->FieldWidth, 160);
    EXPECT_EQ(cp->FieldHeight, 320);
    EXPECT_EQ(cp->NextPos[1].X, 2); // 2.5 goes to the even 2
    EXPECT_EQ(cp->NextPos[1].Y, 6);
    EXPECT_EQ(cp->NextPos[0].X, 0); // preview 1 untouched
    EXPECT_EQ(cp->HoldX, 164);
    EXPECT_EQ(cp->HoldY, 88);
    EXPECT_EQ(cp->CellW, 12); // the last element that drew set the cell size
}

TEST_F(SkinScreen, LayoutPixelsAt800x600AndFilteredTexts) {
    Open(800, 600);
    static std::vector<bool> filtering;
    static std::vector<double> scales;
    filtering.clear();
    scales.clear();
    gClient.MenuUpdate = [](ClientPlayer*, DFont*, int32_t x, int32_t y, int32_t w, int32_t h,
                            double sx, double sy) -> int32_t {
        filtering.push_back(Sprite3D_Filtering());
        scales.push_back(sx);
        EXPECT_EQ(x, 305);
        EXPECT_EQ(y, 125);
        EXPECT_EQ(w, 190);
        EXPECT_EQ(h, 375);
        EXPECT_DOUBLE_EQ(sx, sy);
        return 0;
    };
    Tree t(R"(<skin><player id="1">
        <field position="120,44" size="80,160"/>
        <next id="1" position="1,1" size="5,5"/>
        <menu font="f1.fnt" fontsize="0.5,0.5" position="122,50" size="76,150"/>
        <menu font="f1.fnt" fontsize="0.4,0.4" position="122,50" size="76,150"/>
      </player><player id="2"><field position="0,0" size="10,10"/></player></skin>)");
    SkinElement_Draw(t.root, 800, 600, nullptr);
    EXPECT_EQ(cp->FieldX, 300);
    EXPECT_EQ(cp->FieldY, 110);
    EXPECT_EQ(cp->FieldWidth, 200);
    EXPECT_EQ(cp->FieldHeight, 400);
    EXPECT_EQ(cp->NextPos[0].X, 2); // 2.5 -> 2
    EXPECT_EQ(cp->CellW, 12);       // 12.5 -> 12
    ASSERT_EQ(filtering.size(), 2u);
    EXPECT_DOUBLE_EQ(scales[0], 1.25);
    EXPECT_TRUE(filtering[0]); // 0.5 * 2.5 is not whole: filtered
    EXPECT_DOUBLE_EQ(scales[1], 1.0);
    EXPECT_FALSE(filtering[1]);         // 0.4 * 2.5 = 1: sharp
    EXPECT_FALSE(Sprite3D_Filtering()); // switched off after the draw
    // Only an idle player has a menu.
    fake->player.State = State_Falling;
    SkinElement_Draw(t.root, 800, 600, nullptr);
    EXPECT_EQ(filtering.size(), 2u);
}

TEST_F(SkinScreen, FieldCellSizeFromTheFieldAndGuards) {
    Open(640, 480);
    fake->cells = {{0, 0, 0x0000FF, 100, 0}, {9, 19, 0x00FF00, 100, 0}};
    Tree t(R"(<skin><player id="1"><field position="0,0" size="100,200"/></player></skin>)");
    SkinElement_Draw(t.root, 640, 480, nullptr);
    EXPECT_EQ(cp->CellW, 20);
    EXPECT_EQ(cp->CellH, 20);
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(Platform_Screen_ReadPixels(rgba));
    auto at = [&](int x, int y) { return &rgba[(size_t(y) * 640 + x) * 4]; };
    EXPECT_GT(at(190, 390)[1], 150); // last cell, green
    EXPECT_GT(at(10, 10)[0], 150);   // first cell, red
    // A field of no size and a time limit of 0 draw nothing and do not divide.
    fake->field.width = 0;
    fake->player.PlayerFlags = Flag_TimeLimitActive;
    fake->player.TimeLimit = 0;
    fake->player.State = State_Ready;
    fake->player.Settings.ReadyTime = 0;
    SkinElement_Draw(t.root, 640, 480, nullptr);
    // Outside a player element nothing is drawn for the field.
    Tree bare(R"(<skin><field position="0,0" size="100,200"/></skin>)");
    cp->FieldX = -7;
    SkinElement_Draw(bare.root, 640, 480, nullptr);
    EXPECT_EQ(cp->FieldX, -7);
}

TEST_F(SkinScreen, ClippedImagesNeedAValue) {
    Open(640, 480);
    Tree t(R"(<skin><player id="1">
        <image file="medals.png" clipsize="16,16" clipindex="medal_ac" position="0,0" size="8,8"/>
        <image file="medals.png" clipsize="16,16" clipindex="medal_ro" position="20,0" size="8,8"/>
        <image file="medals.png" position="40,0" size="8,24"/>
      </player></skin>)");
    fake->SetValue(u"medal_ac", 2); // gold
    fake->SetValue(u"medal_ro", -1);
    SkinElement_Draw(t.root, 640, 480, nullptr);
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(Platform_Screen_ReadPixels(rgba));
    auto at = [&](int x, int y) { return &rgba[(size_t(y) * 640 + x) * 4]; };
    EXPECT_GT(at(8, 8)[0], 200); // gold: strong red and green, little blue
    EXPECT_GT(at(8, 8)[1], 150);
    EXPECT_LT(at(8, 8)[2], 120);
    EXPECT_EQ(at(48, 8)[0], 0); // medal_ro is -1: nothing
    // The whole sheet, although the shared sprite was last cut to a clip.
    EXPECT_GT(at(88, 8)[0], 120);  // bronze at the top
    EXPECT_GT(at(88, 24)[2], 150); // silver in the middle
}

TEST_F(SkinScreen, DefaultSkinFrameMatchesTheReference) {
    Open(640, 480);
    SkinElement* skin = static_cast<SkinElement*>(Resource_Load(Resource_Skin, "pexa.XML"));
    ASSERT_NE(skin, nullptr);
    ASSERT_GT(ChildCount(skin), 3);
    EXPECT_EQ(Resource_Load(Resource_Skin, "Pexa.xml"), skin); // cached, case-blind
    // A game in progress: a stack with open edges, a landed piece, a ghost, previews, hold.
    const uint32_t colours[7] = {0x0000E0, 0x00A0E0, 0xE0E000, 0xE00000,
                                 0x00E000, 0xE000E0, 0x00E0E0};
    for (int32_t y = 15; y < 20; ++y)
        for (int32_t x = 0; x < 10; ++x)
            if ((x + y) % 7 != 0)
                fake->cells.push_back({x, y, colours[(x * 3 + y) % 7], 100,
                                       y == 15 ? uint32_t(CellFlag_TopOpen) : 0u});
    for (int32_t x = 3; x < 7; ++x) fake->cells.push_back({x, 3, 0x00A0E0, 95, 0});
    for (int32_t x = 3; x < 7; ++x) fake->cells.push_back({x, 14, 0x505050, 100, CellFlag_Ghost});
    fake->previews = {{{0, 1, 0x0000E0, 100, 0},
                       {1, 1, 0x0000E0, 100, 0},
                       {2, 1, 0x0000E0, 100, 0},
                       {1, 0, 0x0000E0, 100, 0}},
                      {{1, 0, 0xE0E000, 100, 0},
                       {2, 0, 0xE0E000, 100, 0},
                       {1, 1, 0xE0E000, 100, 0},
                       {2, 1, 0xE0E000, 100, 0}},
                      {{0, 1, 0xE000E0, 100, 0},
                       {1, 1, 0xE000E0, 100, 0},
                       {2, 1, 0xE000E0, 100, 0},
                       {3, 1, 0xE000E0, 100, 0}}};
    fake->hold = {{0, 0, 0x00E000, 100, 0},
                  {1, 0, 0x00E000, 100, 0},
                  {1, 1, 0x00E000, 100, 0},
                  {2, 1, 0x00E000, 100, 0}};
    fake->SetMode(u"PEXA Master");
    fake->SetValue(u"level", 123);
    fake->SetValue(u"levelstop", 200);
    fake->SetValue(u"score", 4567);
    fake->SetValue(u"grade", 5);
    fake->SetValue(u"medal_ac", 0);
    fake->SetValue(u"medal_ro", 1);
    fake->SetValue(u"medal_st", 2);
    fake->SetValue(u"medal_sk", -1);
    fake->SetValue(u"medal_re", -1);
    fake->SetValue(u"medal_co", -1);
    fake->player.GameTime = 60 * 83 + 30;
    fake->player.State = State_Falling;
    gClient.DisplayFPS = 60;
    Platform_Screen_Clear(16, 24, 48);
    SkinElement_Draw(skin, 640, 480, nullptr);
    ExpectMatchesReference("skin_default_frame.png");
}

// The built engine with its real plug-ins, a game of PEXA Master played for a while by a fixed
// input script, drawn by the default skin through the client's callbacks.
TEST_F(SkinScreen, DefaultSkinDrawsARealEngineGame) {
    Open(640, 480);
    void* library = Platform_Library_Open(ZELVIK_GAME_DIR "/dlls/zelvik_engine.so");
    ASSERT_NE(library, nullptr);
    auto init = reinterpret_cast<Zelvik_InitFn>(Platform_Library_Symbol(library, "Zelvik_Init"));
    auto gameCreate =
        reinterpret_cast<Game_CreateFn>(Platform_Library_Symbol(library, "Game_Create"));
    auto fieldCreate =
        reinterpret_cast<Field_CreateFn>(Platform_Library_Symbol(library, "Field_Create"));
    ASSERT_TRUE(init && gameCreate && fieldCreate);
    init();
    static Game* game = gameCreate(&gClient.Interface); // games live as long as the host
    ASSERT_NE(game, nullptr);
    Player* p = game->ops->AddPlayer(game, reinterpret_cast<uintptr_t>(cp));
    ASSERT_NE(p, nullptr);
    cp->Player = p;
    p->ops->SetField(p, fieldCreate(10, 20, 2));
    const ZelvikID* rs = FindPlugin(p, p->ops->GetRotationSystemInfo, u"Dalmor WEXO");
    const ZelvikID* rnd = FindPlugin(p, p->ops->GetRandomizerInfo, u"PEXA");
    const ZelvikID* mode = FindPlugin(p, p->ops->GetModeInfo, u"PEXA Master");
    ASSERT_TRUE(rs && rnd && mode) << "plug-ins missing from the run folder";
    ASSERT_EQ(p->ops->SetRotationSystem(p, rs), 1);
    ASSERT_EQ(p->ops->SetRandomizer(p, rnd), 1);
    ASSERT_EQ(p->ops->SetMode(p, mode), 1);
    p->Seed = 2031;
    p->PlayerFlags |= Flag_Ghost;
    ASSERT_EQ(p->ops->Start(p), 1);
    p->PlayerFlags |= Flag_Paused; // stepped by hand: the same frames on every run
    p->FrameTarget = p->FrameCounter;
    // Each piece: a shift pattern, a rotation now and then, a hard drop.
    uint32_t frame = 0;
    for (int32_t piece = 0; piece < 14; ++piece) {
        const uint32_t shift = piece % 3 == 0   ? uint32_t(Input_Left)
                               : piece % 3 == 1 ? uint32_t(Input_Right)
                                                : 0u;
        for (int32_t f = 0; f < 36; ++f, ++frame) {
            uint32_t input = 0;
            if (f < 2 * (piece % 4) && (f % 2 == 0)) input |= shift;
            if (f == 10 && piece % 2) input |= Input_RotCW;
            if (f == 30) input |= Input_HardDrop;
            p->FrameTarget = p->FrameCounter + 1;
            p->ops->Update(p, input, -1);
        }
    }
    // The next piece on its way down, with its ghost below it.
    p->PlayerFlags |= Flag_Ghost;
    for (int32_t f = 0; f < 120 && p->State != State_Falling; ++f) {
        p->FrameTarget = p->FrameCounter + 1;
        p->ops->Update(p, 0, -1);
    }
    ASSERT_EQ(p->State, State_Falling);
    p->FrameTarget = p->FrameCounter + 2;
    p->ops->Update(p, 0, -1);
    gClient.DisplayFPS = 60;
    Platform_Screen_Clear(16, 24, 48);
    SkinElement* skin = static_cast<SkinElement*>(Resource_Load(Resource_Skin, "Pexa.xml"));
    ASSERT_NE(skin, nullptr);
    SkinElement_Draw(skin, 640, 480, nullptr);
    EXPECT_EQ(cp->CellW, 12); // hold, the last cell-size writer in the skin
    ExpectMatchesReference("skin_engine_frame.png");
    cp->Player = nullptr;
    p->ops->Free(p);
}

namespace {

struct Box {
    int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1, count = 0;
};

// Bounds of the bright pixels on the screen.
Box BrightPixels() {
    std::vector<uint8_t> rgba;
    EXPECT_TRUE(Platform_Screen_ReadPixels(rgba));
    Box b;
    const int32_t w = Platform_Screen_Width(), h = Platform_Screen_Height();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            if (rgba[(size_t(y) * w + x) * 4] > 128) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
                ++b.count;
            }
    return b;
}

} // namespace

TEST_F(SkinScreen, ReadyGoLettersAreCentredInTheField) {
    Open(640, 480);
    Tree t(
        R"(<skin><player id="1"><field font="f1.fnt" fontsize="0.75,0.75" position="120,44" size="80,160"/></player></skin>)");
    fake->field.width = 0; // no cells: only the words
    fake->player.State = State_Ready;
    fake->player.Settings.ReadyTime = 60;
    fake->player.StateTimer = 30; // half-way: already "Go"
    SkinElement_Draw(t.root, 640, 480, nullptr);
    const Box go = BrightPixels();
    ASSERT_GT(go.count, 0);
    EXPECT_NEAR((go.left + go.right) / 2.0, 320, 6);
    EXPECT_NEAR((go.top + go.bottom) / 2.0, 248, 10);
    Platform_Screen_Clear(0, 0, 0);
    fake->player.StateTimer = 31;
    SkinElement_Draw(t.root, 640, 480, nullptr);
    const Box ready = BrightPixels();
    EXPECT_GT(ready.right - ready.left, go.right - go.left + 20); // the longer word
    // Letters swell one after another, so the word leans right of centre but stays inside.
    EXPECT_GE(ready.left, 240);
    EXPECT_LT(ready.right, 400);
    // A READY phase of no length draws no word and does not divide by it.
    Platform_Screen_Clear(0, 0, 0);
    fake->player.Settings.ReadyTime = 0;
    SkinElement_Draw(t.root, 640, 480, nullptr);
    EXPECT_EQ(BrightPixels().count, 0);
    // Idle with the ready flag: "Ready" at the field's corner.
    fake->player.State = State_Idle;
    fake->player.ReadyFlag = 1;
    SkinElement_Draw(t.root, 640, 480, nullptr);
    const Box flag = BrightPixels();
    EXPECT_GE(flag.left, 240);
    EXPECT_LT(flag.left, 246);
    EXPECT_LT(flag.top, 100);
}

TEST_F(SkinScreen, CreditsRollInsideTheFieldOnly) {
    Open(640, 480);
    Tree t(
        R"(<skin><player id="1"><field font="f1.fnt" fontsize="0.5,0.5" position="120,44" size="80,160"/></player></skin>)");
    fake->field.width = 0;
    fake->player.State = State_Falling;
    fake->player.PlayerFlags = Flag_TimeLimitActive;
    fake->player.TimeLimit = 1000;
    for (int32_t counter : {0, 250, 500, 750, 999}) {
        Platform_Screen_Clear(0, 0, 0);
        fake->player.TimeCounter = counter;
        SkinElement_Draw(t.root, 640, 480, nullptr);
        const Box b = BrightPixels();
        ASSERT_GT(b.count, 0) << counter; // at least the percentage
        EXPECT_GE(b.left, 240) << counter;
        EXPECT_LT(b.right, 400) << counter;
        EXPECT_GE(b.top, 88) << counter;
        EXPECT_LT(b.bottom, 408) << counter;
    }
    // At the start the roll waits below the field: only the percentage in the corner.
    Platform_Screen_Clear(0, 0, 0);
    fake->player.TimeCounter = 0;
    SkinElement_Draw(t.root, 640, 480, nullptr);
    EXPECT_LT(BrightPixels().bottom, 88 + 30);
    // Half-way the lines fill the field.
    Platform_Screen_Clear(0, 0, 0);
    fake->player.TimeCounter = 500;
    SkinElement_Draw(t.root, 640, 480, nullptr);
    EXPECT_GT(BrightPixels().bottom, 300);
    // A time limit of 0 draws nothing and does not divide by it.
    Platform_Screen_Clear(0, 0, 0);
    fake->player.TimeLimit = 0;
    SkinElement_Draw(t.root, 640, 480, nullptr);
    EXPECT_EQ(BrightPixels().count, 0);
}
