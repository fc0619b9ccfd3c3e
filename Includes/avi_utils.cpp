#include "avi_utils.h"

#include "Platform_Dialog.h"

#include <jpeglib.h>

#include <cstring>
#include <new>

namespace {

constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}
constexpr uint32_t kSuperIndexEntries = 256; // 256 segments of < 1 GiB each
constexpr uint32_t kAvihFlagHasIndex = 0x10;
constexpr uint32_t kAvihFlagMustUseIndex = 0x20;

struct Out {
    std::vector<uint8_t> b;
    void u8(uint8_t v) { b.push_back(v); }
    void u16(uint16_t v) {
        u8(uint8_t(v));
        u8(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    void u64(uint64_t v) {
        u32(uint32_t(v));
        u32(uint32_t(v >> 32));
    }
    void zeros(size_t n) { b.insert(b.end(), n, 0); }
};

bool writeBytes(AviHandle* avi, const void* data, size_t size) {
    return std::fwrite(data, 1, size, avi->File) == size;
}
bool writeOut(AviHandle* avi, const Out& o) {
    return writeBytes(avi, o.b.data(), o.b.size());
}

uint64_t tell(AviHandle* avi) {
    return static_cast<uint64_t>(ftello(avi->File));
}

bool patch32(AviHandle* avi, uint64_t at, uint32_t value) {
    uint64_t here = tell(avi);
    Out o;
    o.u32(value);
    bool ok = fseeko(avi->File, static_cast<off_t>(at), SEEK_SET) == 0 && writeOut(avi, o);
    return fseeko(avi->File, static_cast<off_t>(here), SEEK_SET) == 0 && ok;
}

bool bitmapOk(const AviBitmap* b) {
    return b && b->headerSize == 40 && b->planes == 1 && b->bitCount == 24 && b->compression == 0 &&
           b->width > 0 && b->height > 0 && b->width <= 16384 && b->height <= 16384 &&
           b->bits.size() >= b->ImageSize();
}

uint32_t chunkId(const AviHandle* avi) {
    return avi->handler == kAviFourccMjpg ? fourcc("00dc") : fourcc("00db");
}

// Opens a RIFF ("AVI " for the first, "AVIX" after) and its "movi" list.
bool beginSegment(AviHandle* avi) {
    Out o;
    avi->riffStart = tell(avi);
    o.u32(fourcc("RIFF"));
    o.u32(0);
    o.u32(avi->segment == 0 ? fourcc("AVI ") : fourcc("AVIX"));
    if (avi->segment == 0) {
        // The stream headers.
        uint32_t usPerFrame = avi->FramesPerSecond > 0 ? 1000000u / avi->FramesPerSecond : 0;
        uint32_t imageSize = AviBitmap::Stride(avi->width) * uint32_t(avi->height);
        Out h;
        h.u32(fourcc("LIST"));
        h.u32(0); // patched below
        h.u32(fourcc("hdrl"));
        avi->avihOffset = avi->riffStart + o.b.size() + h.b.size();
        h.u32(fourcc("avih"));
        h.u32(56);
        h.u32(usPerFrame);
        h.u32(imageSize * uint32_t(avi->FramesPerSecond));
        h.u32(0);
        h.u32(kAvihFlagHasIndex | kAvihFlagMustUseIndex);
        h.u32(0); // total frames of the first RIFF
        h.u32(0);
        h.u32(1);
        h.u32(imageSize + 8);
        h.u32(uint32_t(avi->width));
        h.u32(uint32_t(avi->height));
        h.zeros(16);
        Out strl;
        strl.u32(fourcc("LIST"));
        strl.u32(0);
        strl.u32(fourcc("strl"));
        size_t strhAt = h.b.size() + strl.b.size();
        strl.u32(fourcc("strh"));
        strl.u32(56);
        strl.u32(fourcc("vids"));
        strl.u32(avi->handler == kAviFourccMjpg ? kAviFourccMjpg : kAviFourccDib);
        strl.u32(0);
        strl.u16(0);
        strl.u16(0);
        strl.u32(0);
        strl.u32(1);                              // scale
        strl.u32(uint32_t(avi->FramesPerSecond)); // rate
        strl.u32(0);
        strl.u32(0); // length, patched
        strl.u32(imageSize + 8);
        strl.u32(0xFFFFFFFFu);
        strl.u32(0);
        strl.u16(0);
        strl.u16(0);
        strl.u16(uint16_t(avi->width));
        strl.u16(uint16_t(avi->height));
        strl.u32(fourcc("strf"));
        strl.u32(40);
        strl.u32(40);
        strl.u32(uint32_t(avi->width));
        strl.u32(uint32_t(avi->height));
        strl.u16(1);
        strl.u16(24);
        strl.u32(avi->handler == kAviFourccMjpg ? kAviFourccMjpg : 0);
        strl.u32(imageSize);
        strl.zeros(16);
        size_t indxAt = h.b.size() + strl.b.size();
        strl.u32(fourcc("indx"));
        strl.u32(24 + 16 * kSuperIndexEntries);
        strl.u16(4); // longs per entry
        strl.u8(0);
        strl.u8(0); // index of indexes
        strl.u32(0);
        strl.u32(chunkId(avi));
        strl.zeros(12);
        strl.zeros(16 * kSuperIndexEntries);
        uint32_t strlSize = uint32_t(strl.b.size() - 8);
        std::memcpy(&strl.b[4], &strlSize, 4);
        h.b.insert(h.b.end(), strl.b.begin(), strl.b.end());
        h.u32(fourcc("LIST"));
        h.u32(4 + 8 + 248);
        h.u32(fourcc("odml"));
        size_t dmlhAt = h.b.size();
        h.u32(fourcc("dmlh"));
        h.u32(248);
        h.zeros(248);
        uint32_t hdrlSize = uint32_t(h.b.size() - 8);
        std::memcpy(&h.b[4], &hdrlSize, 4);
        uint64_t base = avi->riffStart + o.b.size();
        avi->strhOffset = base + strhAt;
        avi->indxOffset = base + indxAt;
        avi->dmlhOffset = base + dmlhAt;
        o.b.insert(o.b.end(), h.b.begin(), h.b.end());
    }
    avi->moviStart = avi->riffStart + o.b.size();
    o.u32(fourcc("LIST"));
    o.u32(0);
    o.u32(fourcc("movi"));
    avi->segmentIndex.clear();
    return writeOut(avi, o);
}

// Writes this RIFF's standard index (and idx1 in the first), then its sizes.
bool endSegment(AviHandle* avi) {
    if (avi->superIndex.size() >= kSuperIndexEntries) return false;
    uint64_t ixAt = tell(avi);
    uint64_t base = avi->segmentIndex.empty() ? avi->moviStart : avi->segmentIndex.front().offset;
    Out ix;
    ix.u32(fourcc("ix00"));
    ix.u32(uint32_t(24 + 8 * avi->segmentIndex.size()));
    ix.u16(2);
    ix.u8(0);
    ix.u8(1); // index of chunks
    ix.u32(uint32_t(avi->segmentIndex.size()));
    ix.u32(chunkId(avi));
    ix.u64(base);
    ix.u32(0);
    for (const AviIndexEntry& e : avi->segmentIndex) {
        ix.u32(uint32_t(e.offset - base));
        ix.u32(e.size | (e.key ? 0u : 0x80000000u));
    }
    if (!writeOut(avi, ix)) return false;
    avi->superIndex.push_back({ixAt, uint32_t(ix.b.size()), uint32_t(avi->segmentIndex.size())});
    uint64_t moviEnd = tell(avi);
    bool ok = patch32(avi, avi->moviStart + 4, uint32_t(moviEnd - avi->moviStart - 8));
    if (avi->segment == 0) {
        avi->firstSegmentFrames = uint32_t(avi->segmentIndex.size());
        Out idx;
        idx.u32(fourcc("idx1"));
        idx.u32(uint32_t(16 * avi->firstIndex.size()));
        for (const AviIndexEntry& e : avi->firstIndex) {
            idx.u32(chunkId(avi));
            idx.u32(e.key ? 0x10u : 0u);
            idx.u32(uint32_t(e.offset - 8 - (avi->moviStart + 8)));
            idx.u32(e.size);
        }
        ok = ok && writeOut(avi, idx);
        avi->firstIndex.clear();
        avi->firstIndex.shrink_to_fit();
    }
    uint64_t end = tell(avi);
    ok = ok && patch32(avi, avi->riffStart + 4, uint32_t(end - avi->riffStart - 8));
    ++avi->segment;
    return ok;
}

bool compressJpeg(const AviHandle* avi, const AviBitmap* b, std::vector<uint8_t>* out) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    // libjpeg's default error exit ends the process; keep it for out-of-memory only, inputs here
    // are always well formed.
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long memSize = 0;
    jpeg_mem_dest(&c, &mem, &memSize);
    c.image_width = JDIMENSION(b->width);
    c.image_height = JDIMENSION(b->height);
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, avi->quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    const uint32_t stride = AviBitmap::Stride(b->width);
    while (c.next_scanline < c.image_height) {
        // JPEG rows go top-down; the bitmap stores the bottom row first.
        JSAMPROW row = const_cast<JSAMPROW>(
            &b->bits[size_t(b->height - 1 - int32_t(c.next_scanline)) * stride]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    out->assign(mem, mem + memSize);
    jpeg_destroy_compress(&c);
    free(mem);
    return true;
}

int32_t fixFormat(AviHandle* avi, const AviBitmap* bitmap, uint32_t handler, int32_t quality) {
    avi->handler = handler == kAviFourccMjpg ? kAviFourccMjpg : kAviFourccDib;
    avi->quality = quality > 0 && quality <= 100 ? quality : 90;
    avi->width = bitmap->width;
    avi->height = bitmap->height;
    avi->VideoStream = true;
    if (!beginSegment(avi)) {
        avi->Failed = 1;
        return kAviErrWrite;
    }
    avi->CompressedStream = true;
    return 0;
}

} // namespace

void AviBitmap::Allocate(int32_t w, int32_t h) {
    width = w;
    height = h;
    bits.assign(size_t(Stride(w)) * size_t(h > 0 ? h : 0), 0);
}

AviHandle* AVI_Open(const std::string& file, int32_t framesPerSecond, const void* audioFormat) {
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return nullptr;
    AviHandle* avi = new (std::nothrow) AviHandle;
    if (!avi) {
        std::fclose(f);
        return nullptr;
    }
    avi->File = f;
    avi->FramesPerSecond = framesPerSecond > 0 ? framesPerSecond : 60;
    if (audioFormat) std::memcpy(avi->AudioFormat, audioFormat, sizeof avi->AudioFormat);
    return avi;
}

int32_t AVI_CreateVideoStream(AviHandle* avi, const AviBitmap* bitmap, AviCompressOptions* options,
                              int32_t showDialog, void*) {
    if (!avi || !bitmapOk(bitmap)) return kAviErrBadFormat;
    if (avi->Failed) return kAviErrFailed;
    if (avi->CompressedStream) return kAviErrStreamExists;
    AviCompressOptions chosen = options ? *options : AviCompressOptions{};
    if (showDialog) {
        int pick = Platform_Dialog_Choose(
            "Video Compression", "Compressor:", {"Full Frames (Uncompressed)", "Motion JPEG"});
        if (pick < 0) {
            avi->Failed = 1;
            return kAviErrCancelled;
        }
        chosen.handler = pick == 1 ? kAviFourccMjpg : kAviFourccDib;
        if (options) *options = chosen;
    }
    return fixFormat(avi, bitmap, chosen.handler, chosen.quality);
}

int32_t AVI_AddFrame(AviHandle* avi, const AviBitmap* bitmap, uint32_t flags) {
    if (!avi || !bitmapOk(bitmap)) return kAviErrBadFormat;
    if (avi->Failed) return kAviErrFailed;
    if (!avi->CompressedStream) {
        if (int32_t r = fixFormat(avi, bitmap, kAviFourccDib, 0)) return r;
    }
    int32_t result = 0;
    if (bitmap->width != avi->width || bitmap->height != avi->height) {
        result = kAviErrBadFormat;
        avi->Failed = 1;
    }
    std::vector<uint8_t> jpeg;
    const uint8_t* data = bitmap->bits.data();
    uint32_t size = bitmap->ImageSize();
    if (!result && avi->handler == kAviFourccMjpg) {
        if (!compressJpeg(avi, bitmap, &jpeg)) {
            result = kAviErrCompress;
            avi->Failed = 1;
        }
        data = jpeg.data();
        size = uint32_t(jpeg.size());
    }
    if (!result) {
        uint64_t chunk = 8 + size + (size & 1);
        if (tell(avi) + chunk + 8 * (avi->segmentIndex.size() + 2) + 16 * avi->firstIndex.size() -
                    avi->riffStart >
                avi->segmentLimit &&
            !avi->segmentIndex.empty()) {
            if (!endSegment(avi) || !beginSegment(avi)) result = kAviErrWrite;
        }
        Out h;
        h.u32(chunkId(avi));
        h.u32(size);
        uint64_t at = tell(avi) + 8;
        bool ok = !result && writeOut(avi, h) && writeBytes(avi, data, size);
        if (ok && (size & 1)) ok = writeBytes(avi, "", 1);
        if (!ok) {
            result = kAviErrWrite;
            avi->Failed = 1;
        } else {
            AviIndexEntry e{at, size, (flags & kAviKeyFrame) != 0};
            avi->segmentIndex.push_back(e);
            if (avi->segment == 0) avi->firstIndex.push_back(e);
            if (size > avi->maxChunk) avi->maxChunk = size;
        }
    }
    ++avi->FrameCount;
    return result;
}

void AVI_Close(AviHandle* avi) {
    if (!avi) return;
    if (avi->File && avi->CompressedStream && !avi->Failed) {
        bool ok = endSegment(avi);
        // Headers: frame counts, the OpenDML super index.
        uint32_t total = 0;
        for (const auto& s : avi->superIndex) total += s.duration;
        ok = ok && patch32(avi, avi->avihOffset + 8 + 16, avi->firstSegmentFrames);
        ok = ok && patch32(avi, avi->avihOffset + 8 + 28, avi->maxChunk + 8);
        ok = ok && patch32(avi, avi->strhOffset + 8 + 32, total);
        ok = ok && patch32(avi, avi->strhOffset + 8 + 36, avi->maxChunk + 8);
        ok = ok && patch32(avi, avi->dmlhOffset + 8, total);
        ok = ok && patch32(avi, avi->indxOffset + 8 + 4, uint32_t(avi->superIndex.size()));
        for (size_t i = 0; ok && i < avi->superIndex.size(); ++i) {
            uint64_t at = avi->indxOffset + 8 + 24 + 16 * i;
            ok = patch32(avi, at, uint32_t(avi->superIndex[i].offset)) &&
                 patch32(avi, at + 4, uint32_t(avi->superIndex[i].offset >> 32)) &&
                 patch32(avi, at + 8, avi->superIndex[i].size) &&
                 patch32(avi, at + 12, avi->superIndex[i].duration);
        }
        (void)ok;
    }
    if (avi->File) std::fclose(avi->File);
    delete avi;
}
