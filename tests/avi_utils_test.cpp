#include "avi_utils.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

// A small RIFF reader of our own, independent of the writer: walks chunks and lists and
// collects what an AVI player relies on.
struct AviFacts {
    std::vector<std::string> riffTypes;
    uint32_t avihFrames = 0, avihWidth = 0, avihHeight = 0, avihUsPerFrame = 0;
    uint32_t strhScale = 0, strhRate = 0, strhLength = 0, strhHandler = 0;
    int32_t strfWidth = 0, strfHeight = 0;
    uint16_t strfBits = 0;
    uint32_t strfCompression = 0;
    uint32_t dmlhFrames = 0;
    std::vector<uint32_t> moviChunkSizes; // "00db"/"00dc" payload sizes in file order
    std::vector<bool> idx1Keys;
    std::vector<bool> ixKeys; // from every ix00 chunk, in order
    uint32_t superEntries = 0;
    uint32_t superDuration = 0;
    bool ixOffsetsPointAtChunks = true;
    std::string error;
};

uint32_t rd32(const std::string& d, size_t at) {
    if (at + 4 > d.size()) return 0;
    return uint32_t(uint8_t(d[at])) | uint32_t(uint8_t(d[at + 1])) << 8 |
           uint32_t(uint8_t(d[at + 2])) << 16 | uint32_t(uint8_t(d[at + 3])) << 24;
}
uint16_t rd16(const std::string& d, size_t at) {
    return uint16_t(uint8_t(d[at]) | uint8_t(d[at + 1]) << 8);
}
uint64_t rd64(const std::string& d, size_t at) {
    return uint64_t(rd32(d, at)) | uint64_t(rd32(d, at + 4)) << 32;
}

void walk(const std::string& d, size_t begin, size_t end, AviFacts* f, const std::string& parent) {
    size_t at = begin;
    while (at + 8 <= end) {
        std::string id = d.substr(at, 4);
        uint32_t size = rd32(d, at + 4);
        size_t body = at + 8;
        if (body + size > end) {
            f->error = "chunk " + id + " runs past its parent";
            return;
        }
        if (id == "LIST") {
            walk(d, body + 4, body + size, f, d.substr(body, 4));
        } else if (id == "avih") {
            f->avihUsPerFrame = rd32(d, body);
            f->avihFrames = rd32(d, body + 16);
            f->avihWidth = rd32(d, body + 32);
            f->avihHeight = rd32(d, body + 36);
        } else if (id == "strh") {
            f->strhHandler = rd32(d, body + 4);
            f->strhScale = rd32(d, body + 20);
            f->strhRate = rd32(d, body + 24);
            f->strhLength = rd32(d, body + 32);
        } else if (id == "strf") {
            f->strfWidth = int32_t(rd32(d, body + 4));
            f->strfHeight = int32_t(rd32(d, body + 8));
            f->strfBits = rd16(d, body + 14);
            f->strfCompression = rd32(d, body + 16);
        } else if (id == "dmlh") {
            f->dmlhFrames = rd32(d, body);
        } else if (id == "indx") {
            f->superEntries = rd32(d, body + 4);
            for (uint32_t i = 0; i < f->superEntries; ++i)
                f->superDuration += rd32(d, body + 24 + 16 * i + 12);
        } else if (id == "idx1") {
            for (size_t e = body; e + 16 <= body + size; e += 16)
                f->idx1Keys.push_back((rd32(d, e + 4) & 0x10) != 0);
        } else if (id == "ix00") {
            uint32_t n = rd32(d, body + 4);
            uint64_t base = rd64(d, body + 12);
            for (uint32_t i = 0; i < n; ++i) {
                uint32_t off = rd32(d, body + 24 + 8 * i);
                uint32_t sz = rd32(d, body + 24 + 8 * i + 4);
                f->ixKeys.push_back((sz & 0x80000000u) == 0);
                size_t chunk = size_t(base + off) - 8;
                if (d.substr(chunk, 2) != "00" || rd32(d, chunk + 4) != (sz & 0x7FFFFFFFu))
                    f->ixOffsetsPointAtChunks = false;
            }
        } else if (parent == "movi" && (id == "00db" || id == "00dc")) {
            f->moviChunkSizes.push_back(size);
        }
        at = body + size + (size & 1);
    }
}

AviFacts parseAvi(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string d = s.str();
    AviFacts f;
    size_t at = 0;
    while (at + 12 <= d.size()) {
        if (d.substr(at, 4) != "RIFF") {
            f.error = "no RIFF at " + std::to_string(at);
            break;
        }
        uint32_t size = rd32(d, at + 4);
        f.riffTypes.push_back(d.substr(at + 8, 4));
        if (at + 8 + size > d.size()) {
            f.error = "RIFF runs past the file";
            break;
        }
        walk(d, at + 12, at + 8 + size, &f, "RIFF");
        at += 8 + size + (size & 1);
    }
    return f;
}

std::string run(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

AviBitmap picture(int32_t w, int32_t h, int frame) {
    AviBitmap b;
    b.Allocate(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = &b.bits[size_t(y) * AviBitmap::Stride(w) + size_t(x) * 3];
            p[0] = uint8_t(x * 4 + frame);
            p[1] = uint8_t(y * 4);
            p[2] = uint8_t(frame * 16);
        }
    return b;
}

// Frames with the key flag on every fifth.
void capture(const std::string& path, uint32_t handler, int frames, int32_t w, int32_t h) {
    AviHandle* avi = AVI_Open(path, 60, nullptr);
    ASSERT_NE(avi, nullptr);
    AviCompressOptions options;
    options.handler = handler;
    AviBitmap b = picture(w, h, 0);
    ASSERT_EQ(AVI_CreateVideoStream(avi, &b, &options, 0, nullptr), 0);
    for (int i = 0; i < frames; ++i) {
        b = picture(w, h, i);
        ASSERT_EQ(AVI_AddFrame(avi, &b, i % 5 == 0 ? kAviKeyFrame : 0), 0) << i;
    }
    AVI_Close(avi);
}

std::string probe(const std::string& path) {
    return run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
               "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of "
               "default=noprint_wrappers=1 '" +
               path + "' 2>&1");
}

} // namespace

TEST(avi_utils, UncompressedCaptureReadsBack) {
    const std::string path = "avi_dib.avi";
    capture(path, kAviFourccDib, 12, 33, 20); // odd width: rows are padded
    AviFacts f = parseAvi(path);
    ASSERT_EQ(f.error, "");
    EXPECT_EQ(f.riffTypes, std::vector<std::string>{"AVI "});
    EXPECT_EQ(f.strhRate, 60u);
    EXPECT_EQ(f.strhScale, 1u);
    EXPECT_EQ(f.avihUsPerFrame, 16666u);
    EXPECT_EQ(f.strhLength, 12u);
    EXPECT_EQ(f.avihFrames, 12u);
    EXPECT_EQ(f.strfWidth, 33);
    EXPECT_EQ(f.strfHeight, 20); // bottom-up
    EXPECT_EQ(f.strfBits, 24);
    EXPECT_EQ(f.strfCompression, 0u);
    ASSERT_EQ(f.moviChunkSizes.size(), 12u);
    for (uint32_t s : f.moviChunkSizes) EXPECT_EQ(s, AviBitmap::Stride(33) * 20);
    // Uncompressed frames stand alone: the index marks every one a key frame.
    EXPECT_EQ(f.idx1Keys, std::vector<bool>(12, true));
    std::string p = probe(path);
    EXPECT_NE(p.find("codec_name=rawvideo"), std::string::npos) << p;
    EXPECT_NE(p.find("width=33"), std::string::npos) << p;
    EXPECT_NE(p.find("r_frame_rate=60/1"), std::string::npos) << p;
    EXPECT_NE(p.find("nb_read_frames=12"), std::string::npos) << p;
    std::remove(path.c_str());
}

TEST(avi_utils, MotionJpegCaptureReadsBack) {
    const std::string path = "avi_mjpg.avi";
    capture(path, kAviFourccMjpg, 10, 64, 48);
    AviFacts f = parseAvi(path);
    ASSERT_EQ(f.error, "");
    EXPECT_EQ(f.strfCompression, kAviFourccMjpg);
    EXPECT_EQ(f.strhHandler, kAviFourccMjpg);
    EXPECT_EQ(f.strhRate, 60u);
    EXPECT_EQ(f.strfWidth, 64);
    EXPECT_EQ(f.strfHeight, 48);
    EXPECT_EQ(f.moviChunkSizes.size(), 10u);
    // Every Motion JPEG frame stands alone: all are key frames.
    EXPECT_EQ(f.idx1Keys, std::vector<bool>(10, true));
    std::string p = probe(path);
    EXPECT_NE(p.find("codec_name=mjpeg"), std::string::npos) << p;
    EXPECT_NE(p.find("height=48"), std::string::npos) << p;
    EXPECT_NE(p.find("nb_read_frames=10"), std::string::npos) << p;
    std::remove(path.c_str());
}

TEST(avi_utils, EveryCodecTheBoxOffersReadsBack) {
    const std::vector<AviCodecChoice> codecs = AVI_AvailableCodecs();
    ASSERT_GE(codecs.size(), 3u); // FFV1, Motion JPEG and uncompressed at least
    EXPECT_EQ(codecs.front().handler, kAviFourccFfv1);
    const std::map<uint32_t, std::string> names = {{kAviFourccFfv1, "ffv1"},
                                                   {kAviFourccH264, "h264"},
                                                   {kAviFourccMjpg, "mjpeg"},
                                                   {kAviFourccDib, "rawvideo"}};
    for (const AviCodecChoice& c : codecs) {
        const std::string path = "avi_codec_" + names.at(c.handler) + ".avi";
        capture(path, c.handler, 25, 64, 48);
        const std::string p = probe(path);
        EXPECT_NE(p.find("codec_name=" + names.at(c.handler)), std::string::npos) << p;
        EXPECT_NE(p.find("r_frame_rate=60/1"), std::string::npos) << p;
        EXPECT_NE(p.find("nb_read_frames=25"), std::string::npos) << c.name << "\n" << p;
        std::remove(path.c_str());
    }
}

TEST(avi_utils, LongCaptureSpreadsOverOpenDmlSegments) {
    // Past 1 GiB the file goes on in "AVIX" RIFFs with OpenDML indexes, so captures past the
    // 4 GB of a plain RIFF stay playable: 1.1 GiB of uncompressed frames cross the first step.
    // In memory where there is a memory file system: a gigabyte on a busy disk takes long.
    const std::string path =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm/zelvik_avi_odml.avi" : "avi_odml.avi";
    const int32_t w = 2048, h = 2048;
    const int frames = 92;
    {
        AviHandle* avi = AVI_Open(path, 60, nullptr);
        ASSERT_NE(avi, nullptr);
        AviCompressOptions options;
        options.handler = kAviFourccDib;
        AviBitmap b = picture(w, h, 0);
        ASSERT_EQ(AVI_CreateVideoStream(avi, &b, &options, 0, nullptr), 0);
        for (int i = 0; i < frames; ++i) {
            b.bits[0] = uint8_t(i);
            ASSERT_EQ(AVI_AddFrame(avi, &b, i % 5 == 0 ? kAviKeyFrame : 0), 0) << i;
        }
        AVI_Close(avi);
    }
    // The RIFF headers only: each one's size leads to the next.
    std::vector<std::string> riffs;
    {
        std::ifstream in(path, std::ios::binary);
        in.seekg(0, std::ios::end);
        const uint64_t size = uint64_t(in.tellg());
        uint64_t at = 0;
        while (at + 12 <= size && riffs.size() < 16) {
            std::string head(12, '\0');
            in.seekg(std::streamoff(at));
            in.read(head.data(), 12);
            ASSERT_EQ(head.substr(0, 4), "RIFF") << at;
            riffs.push_back(head.substr(8, 4));
            const uint32_t riffSize = rd32(head, 4);
            at += 8 + riffSize + (riffSize & 1);
        }
        EXPECT_EQ(at, size);
    }
    ASSERT_GE(riffs.size(), 2u);
    EXPECT_EQ(riffs[0], "AVI ");
    for (size_t i = 1; i < riffs.size(); ++i) EXPECT_EQ(riffs[i], "AVIX");
    const std::string p = run("ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                              "stream=nb_read_packets,width -of default=noprint_wrappers=1 '" +
                              path + "' 2>&1");
    EXPECT_NE(p.find("nb_read_packets=" + std::to_string(frames)), std::string::npos) << p;
    EXPECT_NE(p.find("width=2048"), std::string::npos) << p;
    std::remove(path.c_str());
}

TEST(avi_utils, FailuresAreSticky) {
    EXPECT_EQ(AVI_Open("no/such/folder/x.avi", 60, nullptr), nullptr);
    const std::string path = "avi_fail.avi";
    AviHandle* avi = AVI_Open(path, 60, nullptr);
    ASSERT_NE(avi, nullptr);
    AviBitmap bad;
    bad.Allocate(8, 8);
    bad.bitCount = 32;
    EXPECT_EQ(AVI_AddFrame(avi, &bad, 0), kAviErrBadFormat);
    AviBitmap b = picture(8, 8, 0);
    b.bits.resize(10); // fewer pixels than the size claims
    EXPECT_EQ(AVI_CreateVideoStream(avi, &b, nullptr, 0, nullptr), kAviErrBadFormat);
    b = picture(8, 8, 0);
    ASSERT_EQ(AVI_AddFrame(avi, &b, kAviKeyFrame), 0); // makes an uncompressed stream
    EXPECT_EQ(AVI_CreateVideoStream(avi, &b, nullptr, 0, nullptr), kAviErrStreamExists);
    AviBitmap other = picture(16, 8, 0);
    EXPECT_EQ(AVI_AddFrame(avi, &other, 0), kAviErrBadFormat); // size changed: fails for good
    EXPECT_EQ(AVI_AddFrame(avi, &b, 0), kAviErrFailed);
    EXPECT_EQ(avi->FrameCount, 2u); // the refused call after the failure counts no frame
    AVI_Close(avi);
    std::remove(path.c_str());
}
