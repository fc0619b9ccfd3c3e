#include "HostilePictures.h"
#include "Platform_Image.h"

#include <gtest/gtest.h>
#include <openjpeg.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kDir = ZELVIK_TEST_BIN;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A lossless 8 x 8 RGB picture written with OpenJPEG (JP2 box format or a bare codestream).
bool WriteJpeg2000(const std::string& path, bool codestream) {
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = 0; // lossless
    params.cp_disto_alloc = 1;
    params.numresolution = 2;
    opj_image_cmptparm_t comps[3] = {};
    for (opj_image_cmptparm_t& c : comps) {
        c.dx = c.dy = 1;
        c.w = c.h = 8;
        c.prec = 8;
    }
    opj_image_t* image = opj_image_create(3, comps, OPJ_CLRSPC_SRGB);
    if (!image) return false;
    image->x1 = image->y1 = 8;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 64; ++i) image->comps[c].data[i] = (i * 4 + c * 80) & 0xFF;
    opj_codec_t* codec = opj_create_compress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_FALSE);
    const bool ok = codec && stream && opj_setup_encoder(codec, &params, image) &&
                    opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                    opj_end_compress(codec, stream);
    if (stream) opj_stream_destroy(stream);
    if (codec) opj_destroy_codec(codec);
    opj_image_destroy(image);
    return ok;
}

} // namespace

TEST(ImageFiles, PngRoundTripKeepsEveryChannel) {
    std::vector<uint8_t> px(5 * 3 * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i * 7);
    const std::string path = kDir + "/image_roundtrip.png";
    ASSERT_TRUE(Platform_Image_SavePng(path, px.data(), 5, 3, 20));
    Platform_Image img;
    ASSERT_TRUE(Platform_Image_Load(path, img));
    EXPECT_EQ(img.Width, 5);
    EXPECT_EQ(img.Height, 3);
    EXPECT_EQ(img.Pixels, px);
}

TEST(ImageFiles, DefaultBackgroundsAreJpeg) {
    Platform_Image img;
    std::string error;
    ASSERT_TRUE(Platform_Image_Load(std::string(ZELVIK_GAME_DIR) + "/bg/bg_03.jpg", img, &error))
        << error;
    EXPECT_EQ(img.Width, 640);
    EXPECT_EQ(img.Height, 480);
    EXPECT_EQ(img.Pixels[3], 255);
}

TEST(ImageFiles, Jpeg2000BoxesAndCodestreamsDecode) {
    for (bool codestream : {false, true}) {
        const std::string path = kDir + (codestream ? "/image_test.j2k" : "/image_test.jp2");
        ASSERT_TRUE(WriteJpeg2000(path, codestream));
        Platform_Image img;
        std::string error;
        ASSERT_TRUE(Platform_Image_Load(path, img, &error)) << error;
        ASSERT_EQ(img.Width, 8);
        ASSERT_EQ(img.Height, 8);
        for (int i = 0; i < 64; ++i) {
            EXPECT_EQ(img.Pixels[size_t(i) * 4 + 0], (i * 4) & 0xFF);
            EXPECT_EQ(img.Pixels[size_t(i) * 4 + 2], (i * 4 + 160) & 0xFF);
            EXPECT_EQ(img.Pixels[size_t(i) * 4 + 3], 255);
        }
    }
}

TEST(ImageFiles, BrokenFilesGiveAClearError) {
    Platform_Image img;
    std::string error;
    EXPECT_FALSE(Platform_Image_Load(kDir + "/no_such_picture.png", img, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    WriteAll(kDir + "/image_text.png", {'h', 'e', 'l', 'l', 'o'});
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_text.png", img, &error));
    EXPECT_NE(error.find("unknown picture format"), std::string::npos);
    // Truncated PNG and JPEG: decoding stops with an error, nothing is kept.
    std::vector<uint8_t> px(64 * 64 * 4, 0x55);
    ASSERT_TRUE(Platform_Image_SavePng(kDir + "/image_full.png", px.data(), 64, 64, 256));
    std::vector<uint8_t> png = ReadAll(kDir + "/image_full.png");
    png.resize(png.size() / 2);
    WriteAll(kDir + "/image_cut.png", png);
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_cut.png", img, &error));
    EXPECT_EQ(img.Width, 0);
    EXPECT_TRUE(img.Pixels.empty());
    std::vector<uint8_t> jpg = ReadAll(std::string(ZELVIK_GAME_DIR) + "/bg/bg_00.jpg");
    ASSERT_GT(jpg.size(), 1000u);
    jpg.resize(600);
    WriteAll(kDir + "/image_cut.jpg", jpg);
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_cut.jpg", img, &error));
    EXPECT_NE(error.find("data ends early"), std::string::npos);
    EXPECT_TRUE(img.Pixels.empty());
    // A JPEG 2000 signature with garbage after it.
    std::vector<uint8_t> jp2 = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A, 1, 2, 3};
    WriteAll(kDir + "/image_bad.jp2", jp2);
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_bad.jp2", img, &error));
    EXPECT_NE(error.find("JPEG 2000"), std::string::npos);
}

TEST(ImageFiles, OversizedHeadersAreRefusedBeforeAllocating) {
    // A valid PNG signature and an IHDR claiming 100000 x 100000 pixels.
    std::vector<uint8_t> png = {0x89, 'P',  'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0,    0, 0,
                                13,   'I',  'H', 'D', 'R',  0,    1,    0x86, 0xA0, 0, 1,
                                0x86, 0xA0, 8,   6,   0,    0,    0,    0,    0,    0, 0};
    WriteAll(kDir + "/image_huge.png", png);
    Platform_Image img;
    std::string error;
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_huge.png", img, &error));
    EXPECT_TRUE(img.Pixels.empty());
    EXPECT_FALSE(Platform_Image_SavePng(kDir + "/image_zero.png", nullptr, 0, 0, 0));
}

TEST(ImageFiles, CutFilesClaimingHugePicturesFailBeforeTakingTheirSize) {
    // Real files whose headers are made to claim 16000 x 16000 pixels (1 GB of RGBA) while
    // their data covers a few rows: the load fails and nothing is kept.
    Platform_Image img;
    std::string error;
    std::vector<uint8_t> px(64 * 64 * 4, 0x33);
    ASSERT_TRUE(Platform_Image_SavePng(kDir + "/image_small.png", px.data(), 64, 64, 256));
    std::vector<uint8_t> png = ReadAll(kDir + "/image_small.png");
    ASSERT_GT(png.size(), 33u);
    for (size_t at : {16u, 20u}) { // IHDR width and height, big-endian
        png[at] = 0;
        png[at + 1] = 0;
        png[at + 2] = 16000 >> 8;
        png[at + 3] = 16000 & 0xFF;
    }
    const uLong crc = crc32(0, png.data() + 12, 17);
    for (int i = 0; i < 4; ++i) png[29 + i] = uint8_t(crc >> (24 - 8 * i));
    WriteAll(kDir + "/image_claims.png", png);
    // A budget that lets the claimed size through, so that the decoding itself has to stop.
    Platform_ImageBudget roomy;
    roomy.MaxPixels = int64_t{16000} * 16000;
    roomy.MaxBytes = int64_t{4} << 30;
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_claims.png", img, &error, roomy));
    EXPECT_NE(error.find("PNG"), std::string::npos);
    EXPECT_TRUE(img.Pixels.empty());

    std::vector<uint8_t> jpg = ReadAll(std::string(ZELVIK_GAME_DIR) + "/bg/bg_00.jpg");
    size_t sof = 2;
    while (sof + 9 < jpg.size() && !(jpg[sof] == 0xFF && (jpg[sof + 1] & 0xF0) == 0xC0 &&
                                     jpg[sof + 1] != 0xC4 && jpg[sof + 1] != 0xCC))
        sof += 2 + ((size_t(jpg[sof + 2]) << 8) | jpg[sof + 3]);
    ASSERT_LT(sof + 9, jpg.size());
    for (size_t at : {sof + 5, sof + 7}) {
        jpg[at] = 16000 >> 8;
        jpg[at + 1] = 16000 & 0xFF;
    }
    jpg.resize(std::min<size_t>(jpg.size(), sof + 2000));
    WriteAll(kDir + "/image_claims.jpg", jpg);
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_claims.jpg", img, &error, roomy));
    EXPECT_NE(error.find("data ends early"), std::string::npos);
    EXPECT_TRUE(img.Pixels.empty());
    EXPECT_EQ(img.Width, 0);
}

TEST(ImageFiles, PicturesPastTheBudgetAreRefusedFromTheirHeaderWithTheirSize) {
    // A small real PNG whose header claims 16384 x 16384 pixels (1 GB of RGBA, 256 M pixels):
    // refused by the default budget before any row is decoded, the size in the reason.
    std::vector<uint8_t> px(64 * 64 * 4, 0x33);
    ASSERT_TRUE(Platform_Image_SavePng(kDir + "/image_budget.png", px.data(), 64, 64, 256));
    std::vector<uint8_t> png = ReadAll(kDir + "/image_budget.png");
    ASSERT_GT(png.size(), 33u);
    for (size_t at : {16u, 20u}) {
        png[at] = 0;
        png[at + 1] = 0;
        png[at + 2] = 16384 >> 8;
        png[at + 3] = 16384 & 0xFF;
    }
    const uLong crc = crc32(0, png.data() + 12, 17);
    for (int i = 0; i < 4; ++i) png[29 + i] = uint8_t(crc >> (24 - 8 * i));
    WriteAll(kDir + "/image_budget_huge.png", png);
    Platform_Image img;
    std::string error;
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_budget_huge.png", img, &error));
    EXPECT_NE(error.find("16384 x 16384 pixels is larger than"), std::string::npos) << error;
    EXPECT_TRUE(img.Pixels.empty());
    EXPECT_EQ(img.Pixels.capacity(), 0u);

    // The renderer's largest texture side is a budget too; within it the picture loads.
    Platform_ImageBudget small;
    small.MaxSide = 32;
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_budget.png", img, &error, small));
    EXPECT_NE(error.find("64 x 64 pixels is larger than 32"), std::string::npos) << error;
    small.MaxSide = 64;
    ASSERT_TRUE(Platform_Image_Load(kDir + "/image_budget.png", img, &error, small));
    EXPECT_EQ(img.Width, 64);
    // Its 16 KB of decoded pixels are held with its 16 KB texture: 20,000 bytes are too few.
    small.MaxBytes = 20000;
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_budget.png", img, &error, small));
    EXPECT_EQ(error.rfind("64 x 64 pixels need 1 MB", 0), 0u) << error;
}

TEST(ImageFiles, CostlyPicturesAreRefusedFromTheirHeadersWithTheReason) {
    Platform_Image img;
    std::string error;
    // 2048 x 2048 pixels in 256 components: 4 GB of samples for the decoder, from 1 KB.
    WriteAll(kDir + "/image_256.j2k", hostile::ManyComponentJ2k(2048, 256));
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_256.j2k", img, &error));
    EXPECT_NE(error.find("2048 x 2048 pixels in 256 components need 4"), std::string::npos)
        << error;
    EXPECT_TRUE(img.Pixels.empty());
    // OpenJPEG sets up every tile of every component as it reads the header: the declared
    // size and tiles are checked before it is called.
    std::vector<uint8_t> wide = hostile::ManyComponentJ2k(2048, 256);
    wide[8] = 1; // 16779264 pixels wide, 8193 tiles
    WriteAll(kDir + "/image_wide.j2k", wide);
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_wide.j2k", img, &error));
    EXPECT_EQ(error, "16779264 x 2048 pixels is larger than 16384 pixels a side");
    std::vector<uint8_t> tiles = hostile::ManyComponentJ2k(8192, 1);
    tiles[26] = tiles[30] = 0; // tiles of 1 x 1 pixels
    tiles[27] = tiles[31] = 1;
    WriteAll(kDir + "/image_tiles.j2k", tiles);
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_tiles.j2k", img, &error));
    EXPECT_EQ(error, "JPEG 2000: 67108864 tiles of 1 component");
    // The same in JP2 boxes behind many a box that decoders pass over: the codestream is still
    // found and its tiles counted; a JP2 file without one is refused.
    std::vector<uint8_t> boxedTiles = hostile::ManyComponentJ2k(256, 64);
    boxedTiles[26] = boxedTiles[30] = 0;
    boxedTiles[27] = boxedTiles[31] = 1;
    WriteAll(kDir + "/image_tiles.jp2", hostile::BoxedJp2(boxedTiles, 256, 64, 65));
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_tiles.jp2", img, &error));
    EXPECT_EQ(error, "JPEG 2000: 65536 tiles of 64 components");
    WriteAll(kDir + "/image_nocode.jp2", hostile::BoxedJp2(boxedTiles, 256, 64, 65, false));
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_nocode.jp2", img, &error));
    EXPECT_EQ(error, "JPEG 2000: no codestream box");
    WriteAll(kDir + "/image_boxed.jp2",
             hostile::BoxedJp2(hostile::ManyComponentJ2k(16, 3), 16, 3, 65));
    ASSERT_TRUE(Platform_Image_Load(kDir + "/image_boxed.jp2", img, &error)) << error;
    EXPECT_EQ(img.Width, 16);
    // A few components past the four drawn are affordable and skipped.
    WriteAll(kDir + "/image_6.j2k", hostile::ManyComponentJ2k(16, 6));
    ASSERT_TRUE(Platform_Image_Load(kDir + "/image_6.j2k", img, &error)) << error;
    EXPECT_EQ(img.Width, 16);
    EXPECT_EQ(img.Pixels[3], 128); // the fourth component is alpha

    // A progressive JPEG loads; the same with its scans repeated past any encoder's is refused.
    const std::vector<uint8_t> jpeg = hostile::ProgressiveJpeg(64, 48);
    WriteAll(kDir + "/image_progressive.jpg", jpeg);
    ASSERT_TRUE(Platform_Image_Load(kDir + "/image_progressive.jpg", img, &error)) << error;
    EXPECT_EQ(img.Height, 48);
    const std::vector<uint8_t> scans = hostile::WithScans(jpeg, 150);
    ASSERT_FALSE(scans.empty());
    WriteAll(kDir + "/image_scans.jpg", scans);
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_scans.jpg", img, &error));
    EXPECT_NE(error.find("scans"), std::string::npos) << error;
    EXPECT_TRUE(img.Pixels.empty());
    // A sequential JPEG in a scan a colour loads; each scan goes over all 64 coefficients, so
    // the same with a colour's scan repeated (60 scans, about 11 passes) is refused.
    const std::vector<uint8_t> sequential = hostile::ProgressiveJpeg(64, 48, false);
    WriteAll(kDir + "/image_sequential.jpg", sequential);
    ASSERT_TRUE(Platform_Image_Load(kDir + "/image_sequential.jpg", img, &error)) << error;
    EXPECT_EQ(img.Height, 48);
    const std::vector<uint8_t> passes = hostile::WithScans(sequential, 60);
    ASSERT_FALSE(passes.empty());
    WriteAll(kDir + "/image_passes.jpg", passes);
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_passes.jpg", img, &error));
    EXPECT_EQ(error, "JPEG: scans that go over the picture more than 6 times");

    // A side past what libpng takes is refused with the size, not "Invalid IHDR data".
    std::vector<uint8_t> px(4 * 4 * 4, 0x33);
    ASSERT_TRUE(Platform_Image_SavePng(kDir + "/image_side.png", px.data(), 4, 4, 16));
    std::vector<uint8_t> png = ReadAll(kDir + "/image_side.png");
    png[18] = 20000 >> 8; // IHDR width, big-endian
    png[19] = 20000 & 0xFF;
    const uLong crc = crc32(0, png.data() + 12, 17);
    for (int i = 0; i < 4; ++i) png[29 + i] = uint8_t(crc >> (24 - 8 * i));
    WriteAll(kDir + "/image_side.png", png);
    EXPECT_FALSE(Platform_Image_Load(kDir + "/image_side.png", img, &error));
    EXPECT_EQ(error, "20000 x 4 pixels is larger than 16384 pixels a side");
}
