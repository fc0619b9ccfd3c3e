#include "DFont.h"
#include "Platform_Image.h"
#include "Platform_Screen.h"
#include "Sprite3D.h"
#include "Vantrel_GUI_Resources.h"
#include "Vantrel_GUI_Skin.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// A scratch run folder with a picture, a skin and a replay.
class ResourceFolder : public ::testing::Test {
protected:
    void SetUp() override {
        previous = fs::current_path();
        // One folder per test: ctest runs the cases of this file side by side.
        root = fs::path(ZELVIK_TEST_BIN) /
               (std::string("resource_run_") +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "skins" / "data" / "fonts");
        fs::create_directories(root / "replays");
        fs::current_path(root);
        const uint8_t px[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 9, 9, 9, 255};
        ASSERT_TRUE(Platform_Image_SavePng("skins/data/Tile.PNG", px, 2, 2, 8));
        std::ofstream("skins/A.xml") << "<skin><text name='a'/></skin>";
        std::ofstream("skins/b.xml") << "<skin>broken";
        std::ofstream("replays/one.er") << "x";
        std::ofstream("replays/notes.txt") << "x";
        gResources = ResourceState{};
        ASSERT_TRUE(Platform_Screen_Open(32, 32, true, "Resources test"));
    }
    void TearDown() override {
        Resource_FreeAll();
        Platform_Screen_Close();
        fs::current_path(previous);
        fs::remove_all(root);
    }
    fs::path previous, root;
};

} // namespace

TEST_F(ResourceFolder, NamesAreCaseBlindAndKindsSeparate) {
    auto* tile = static_cast<Sprite3D*>(Resource_Load(Resource_Picture, "tile.png"));
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->ImageWidth, 2);
    EXPECT_EQ(Resource_Load(Resource_Picture, "TILE.png"), tile);
    // The same name as a font is its own entry (and no font).
    EXPECT_EQ(Resource_Load(Resource_Font, "tile.png"), nullptr);
    EXPECT_EQ(Resource_Load(3, "tile.png"), nullptr);
    EXPECT_EQ(Resource_Load(-1, "tile.png"), nullptr);
}

TEST_F(ResourceFolder, FailuresAreCachedAndNotRetried) {
    EXPECT_EQ(Resource_Load(Resource_Picture, "late.png"), nullptr);
    const uint8_t px[4] = {1, 2, 3, 255};
    ASSERT_TRUE(Platform_Image_SavePng("skins/data/late.png", px, 1, 1, 4));
    EXPECT_EQ(Resource_Load(Resource_Picture, "late.png"), nullptr);
    // A skin whose XML is broken gives no skin (the client then picks another), and says why
    // on every request, with the line.
    std::string why;
    EXPECT_EQ(Resource_Load(Resource_Skin, "b.xml", &why), nullptr);
    EXPECT_NE(why.find("line 1"), std::string::npos) << why;
    why.clear();
    EXPECT_EQ(Resource_Load(Resource_Skin, "B.XML", &why), nullptr);
    EXPECT_NE(why.find("line 1"), std::string::npos) << why;
    EXPECT_EQ(Resource_Load(Resource_Skin, "gone.xml", &why), nullptr);
    EXPECT_EQ(why, "no such file");
    auto* good = static_cast<SkinElement*>(Resource_Load(Resource_Skin, "a.xml"));
    ASSERT_NE(good, nullptr);
}

TEST_F(ResourceFolder, ListingsAndSkinIndex) {
    gResources.SkinSetting = "B.xml";
    Resource_ScanFolders();
    ASSERT_EQ(gResources.Skins.size(), 2u); // "data" is a folder and not listed
    EXPECT_EQ(gResources.Skins[0], "A.xml");
    EXPECT_EQ(gResources.SkinIndex, 1);
    ASSERT_EQ(gResources.Replays.size(), 1u);
    EXPECT_EQ(gResources.Replays[0], "replays/one.er");
    // An unknown setting keeps the index; a folder that vanished keeps its list.
    gResources.SkinSetting = "none.xml";
    fs::remove_all("replays");
    Resource_ScanFolders();
    EXPECT_EQ(gResources.SkinIndex, 1);
    EXPECT_EQ(gResources.Replays.size(), 1u);
    // An empty folder that can be listed empties the list.
    fs::create_directories("replays");
    Resource_ScanFolders();
    EXPECT_TRUE(gResources.Replays.empty());
}

TEST_F(ResourceFolder, PathsResolveCaseBlindWithEitherSeparator) {
    EXPECT_EQ(Resource_ResolvePath("SKINS\\DATA\\tile.png"), "skins/data/Tile.PNG");
    EXPECT_EQ(Resource_ResolvePath("skins/a.XML"), "skins/A.xml");
    EXPECT_EQ(Resource_ResolvePath("skins/missing.xml"), "skins/missing.xml");
    const auto names = Resource_ListFolder("skins", "*.XML");
    EXPECT_EQ(names.size(), 2u);
    EXPECT_TRUE(Resource_ListFolder("nowhere", "*.*").empty());
}

TEST_F(ResourceFolder, PicturesShareOneBudgetAndBackgroundsAreShrunkToTheScreen) {
    // A 2048 x 1536 background for a 640 x 480 screen is shrunk by 3 while it is decoded, then
    // to the screen's size; its texture is the only copy of its pixels.
    std::vector<uint8_t> big(size_t(2048) * 1536 * 4, 0x40);
    ASSERT_TRUE(Platform_Image_SavePng("bg_big.png", big.data(), 2048, 1536, 2048 * 4));
    std::string why;
    std::vector<Sprite3D*> frames = Resource_LoadBackground("bg_big.png", 0, 0, 1, 640, 480, &why);
    ASSERT_EQ(frames.size(), 1u) << why;
    EXPECT_EQ(frames[0]->ImageWidth, 640);
    EXPECT_EQ(frames[0]->ImageHeight, 480);
    EXPECT_EQ(Sprite3D_PixelAt(frames[0], 0, 0), 0u);
    EXPECT_EQ(frames[0]->Pixels, nullptr);
    EXPECT_EQ(gResources.BackgroundBytes, int64_t{1024} * 512 * 4);
    Sprite3D_Free(frames[0]);

    // Once the pictures loaded so far leave too little, the next is refused with its size, as
    // a skin picture, as a font page and as a background (which have a total of their own).
    gResources.PictureBytes = kPictureTotalBytes - (int64_t{1} << 20);
    ASSERT_TRUE(Platform_Image_SavePng("skins/data/wide.png", big.data(), 1024, 512, 2048 * 4));
    ASSERT_TRUE(
        Platform_Image_SavePng("skins/data/fonts/wide.png", big.data(), 1024, 512, 2048 * 4));
    EXPECT_EQ(Resource_Load(Resource_Picture, "wide.png", &why), nullptr);
    EXPECT_EQ(why.rfind("1024 x 512 pixels need ", 0), 0u) << why;
    EXPECT_NE(why.find("more than the 1 MB left for pictures"), std::string::npos) << why;
    std::ofstream("skins/data/fonts/wide.fnt", std::ios::binary)
        << std::string("TNFDwide.png\r\n") << std::string(10, '\0');
    EXPECT_EQ(Resource_Load(Resource_Font, "wide.fnt", &why), nullptr);
    EXPECT_NE(why.find("font page skins/data/fonts/wide.png: 1024 x 512 pixels need"),
              std::string::npos)
        << why;
    gResources.BackgroundBytes = kBackgroundTotalBytes - (int64_t{1} << 20);
    frames = Resource_LoadBackground("skins/data/wide.png", 0, 0, 1, 1024, 512, &why);
    EXPECT_TRUE(frames.empty());
    EXPECT_NE(why.find("1024 x 512 pixels need"), std::string::npos) << why;
    // A 455 x 455 sheet of 7 x 7 frames of 65 x 65 pixels fits 2 MB as one picture, but each
    // frame takes a 128 x 128 texture: frames stop being made before the 2 MB are passed, and
    // the sheet is refused with the number of frames it holds.
    gResources.BackgroundBytes = kBackgroundTotalBytes - (int64_t{2} << 20);
    ASSERT_TRUE(Platform_Image_SavePng("skins/data/sheet.png", big.data(), 455, 455, 2048 * 4));
    frames = Resource_LoadBackground("skins/data/sheet.png", 65, 65, 49, 65, 65, &why);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(why.rfind("49 frames need ", 0), 0u) << why;
    EXPECT_NE(why.find("more than the 2 MB left for pictures"), std::string::npos) << why;
    EXPECT_EQ(gResources.BackgroundBytes, kBackgroundTotalBytes - (int64_t{2} << 20));
}
