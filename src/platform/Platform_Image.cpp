#include "Platform_Image.h"

#include "Platform_File.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include <jerror.h>
#include <jpeglib.h>
#include <openjpeg.h>
#include <png.h>

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool SizeAllowed(uint64_t w, uint64_t h) {
    return w >= 1 && h >= 1 && w <= kImageMaxSide && h <= kImageMaxSide;
}

uint64_t PowerOfTwo(uint64_t n) {
    uint64_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

uint64_t Megabytes(uint64_t bytes) {
    return (bytes + (uint64_t{1} << 20) - 1) >> 20;
}

// The declared size against the caller's budget; *why names the size and the limit passed.
bool WithinBudget(uint64_t w, uint64_t h, const Platform_ImageBudget& budget, char* why,
                  size_t whySize) {
    const uint64_t side = budget.MaxSide > 0 ? uint64_t(budget.MaxSide) : uint64_t(kImageMaxSide);
    const uint64_t pixels = budget.MaxPixels > 0 ? uint64_t(budget.MaxPixels) : 0;
    const unsigned long long W = w, H = h;
    if (w > side || h > side) {
        std::snprintf(why, whySize, "%llu x %llu pixels is larger than %llu pixels a side", W, H,
                      (unsigned long long)side);
        return false;
    }
    if (w * h > pixels) {
        const unsigned long long mega = pixels >> 20;
        if (mega > 0 && (pixels & 0xFFFFF) == 0)
            std::snprintf(why, whySize, "%llu x %llu pixels is larger than %llu M pixels in all", W,
                          H, mega);
        else
            std::snprintf(why, whySize, "%llu x %llu pixels is larger than %llu pixels in all", W,
                          H, (unsigned long long)pixels);
        return false;
    }
    return true;
}

// The whole factor a picture is shrunk by while it is decoded (see Platform_ImageBudget).
uint32_t ChooseShrink(uint64_t w, uint64_t h, const Platform_ImageBudget& budget) {
    if (budget.FitWidth <= 0 || budget.FitHeight <= 0) return 1;
    const bool cells = budget.UnitWidth > 0 && budget.UnitHeight > 0;
    const uint64_t uw = cells ? uint64_t(budget.UnitWidth) : w;
    const uint64_t uh = cells ? uint64_t(budget.UnitHeight) : h;
    uint64_t k = std::min({uw / uint64_t(budget.FitWidth), uh / uint64_t(budget.FitHeight),
                           w / uint64_t(budget.FitWidth), h / uint64_t(budget.FitHeight)});
    while (k > 1 && cells && (uw % k || uh % k)) --k;
    return uint32_t(std::clamp<uint64_t>(k, 1, kImageMaxSide));
}

// What decoding and drawing the picture takes: the decoder's working bytes plus its texture at
// the shrunk size. *why names the size, what drives the cost, and the limit.
bool Affordable(uint64_t w, uint64_t h, uint32_t shrink, uint64_t working, const char* detail,
                const Platform_ImageBudget& budget, char* why, size_t whySize) {
    const uint64_t sw = (w + shrink - 1) / shrink, sh = (h + shrink - 1) / shrink;
    const uint64_t copies = uint64_t(std::max(budget.TextureCopies, 1));
    const uint64_t total =
        working + copies * uint64_t(Platform_Image_TextureBytes(int64_t(sw), int64_t(sh)));
    const uint64_t limit = budget.MaxBytes > 0 ? uint64_t(budget.MaxBytes) : kImageMaxBytes;
    if (total <= limit) return true;
    std::snprintf(why, whySize,
                  "%llu x %llu pixels%s need %llu MB to decode and draw, more than the %llu MB "
                  "left for pictures",
                  (unsigned long long)w, (unsigned long long)h, detail,
                  (unsigned long long)Megabytes(total), (unsigned long long)(limit >> 20));
    return false;
}

// Pixel memory grows with the rows really decoded, so a short file claiming a huge picture
// fails before taking much: it is one allocation made before the first row (address space
// only: pages are touched as rows arrive), not a copy per doubling, bounded by the budget.
constexpr size_t kUpfrontPixelBytes = size_t(kImageMaxBytes);

// Takes the decoder's full-size RGBA rows in order and keeps them, or their averages over
// shrink x shrink squares, in out: the full picture never has to be held.
class RowSink {
public:
    RowSink(Platform_Image& out, uint32_t w, uint32_t h, uint32_t shrink)
        : out_(out), w_(w), h_(h), k_(shrink), ow_((w + shrink - 1) / shrink) {
        const uint32_t oh = (h + shrink - 1) / shrink;
        out_.Pixels.reserve(std::min(size_t(ow_) * oh * 4, kUpfrontPixelBytes));
        if (k_ > 1) {
            row_.resize(size_t(w) * 4);
            sums_.assign(size_t(ow_) * 4, 0);
        }
    }
    // Where the decoder writes the next row (w * 4 bytes).
    uint8_t* Next() {
        if (k_ > 1) return row_.data();
        out_.Pixels.resize(size_t(in_ + 1) * w_ * 4);
        return out_.Pixels.data() + size_t(in_) * w_ * 4;
    }
    // The row written at Next() is complete.
    void Done() {
        ++in_;
        if (k_ == 1) return;
        const uint8_t* p = row_.data();
        uint64_t* sum = sums_.data();
        for (uint32_t ox = 0; ox < ow_; ++ox, sum += 4) {
            const uint32_t n = std::min(k_, w_ - ox * k_);
            uint32_t r = 0, g = 0, b = 0, a = 0;
            for (uint32_t i = 0; i < n; ++i, p += 4) r += p[0], g += p[1], b += p[2], a += p[3];
            sum[0] += r, sum[1] += g, sum[2] += b, sum[3] += a;
        }
        if (in_ % k_ != 0 && in_ != h_) return;
        const uint64_t rows = in_ - uint64_t(in_ - 1) / k_ * k_;
        const size_t at = out_.Pixels.size();
        out_.Pixels.resize(at + size_t(ow_) * 4);
        for (uint32_t ox = 0; ox < ow_; ++ox) {
            const uint64_t n = rows * std::min<uint64_t>(k_, w_ - uint64_t(ox) * k_);
            for (int c = 0; c < 4; ++c) {
                uint64_t& sum = sums_[size_t(ox) * 4 + c];
                out_.Pixels[at + size_t(ox) * 4 + c] = uint8_t((sum + n / 2) / n);
                sum = 0;
            }
        }
    }
    void Finish() {
        out_.Width = int32_t(ow_);
        out_.Height = int32_t((h_ + k_ - 1) / k_);
        out_.Shrink = int32_t(k_);
    }

private:
    Platform_Image& out_;
    uint32_t w_, h_, k_, ow_;
    uint32_t in_ = 0;
    std::vector<uint8_t> row_;
    std::vector<uint64_t> sums_;
};

// ---- PNG ----

struct PngError {
    std::jmp_buf jump;
    char message[200];
};

void PngErrorFn(png_structp png, png_const_charp msg) {
    auto* e = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(e->message, sizeof e->message, "%s", msg);
    std::longjmp(e->jump, 1);
}
void PngWarningFn(png_structp, png_const_charp) {}

bool LoadPng(FILE* f, Platform_Image& out, std::string* error, const Platform_ImageBudget& budget) {
    PngError err{};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, PngErrorFn, PngWarningFn);
    if (!png) return Fail(error, "out of memory");
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return Fail(error, "out of memory");
    }
    // Everything the jump may skip lives outside this frame's automatic variables.
    std::vector<uint8_t>* whole = new std::vector<uint8_t>();
    std::vector<png_bytep>* rows = new std::vector<png_bytep>();
    RowSink* volatile sink = nullptr; // set after the jump point, so read back from memory
    if (setjmp(err.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        delete sink;
        delete rows;
        delete whole;
        out = Platform_Image{};
        return Fail(error, std::string("PNG: ") + err.message);
    }
    png_init_io(png, f);
    png_set_user_limits(png, kImageMaxSide, kImageMaxSide);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info);
    png_uint_32 h = png_get_image_height(png, info);
    const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    const uint32_t shrink = ChooseShrink(w, h, budget);
    // Interlaced rows come in several passes, so the whole picture is held once (in the kept
    // pixels themselves when not shrunk). The kept pixels live alongside the texture made
    // from them.
    const uint64_t rowBytes = uint64_t(w) * 4;
    const uint64_t kept = uint64_t((w + shrink - 1) / shrink) * ((h + shrink - 1) / shrink) * 4;
    const uint64_t working = (interlaced ? (shrink > 1 ? rowBytes * h : 0) : rowBytes) + kept;
    if (!WithinBudget(w, h, budget, err.message, sizeof err.message) ||
        !Affordable(w, h, shrink, working, interlaced ? " (interlaced)" : "", budget, err.message,
                    sizeof err.message)) {
        png_destroy_read_struct(&png, &info, nullptr);
        delete rows;
        delete whole;
        return Fail(error, err.message);
    }
    int depth = png_get_bit_depth(png, info);
    int type = png_get_color_type(png, info);
    if (depth == 16) png_set_strip_16(png);
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (!SizeAllowed(w, h) || png_get_rowbytes(png, info) != size_t(w) * 4)
        png_error(png, "unsupported size or layout");
    const size_t stride = size_t(w) * 4;
    sink = new RowSink(out, w, h, shrink);
    if (passes == 1) {
        for (png_uint_32 y = 0; y < h; ++y) {
            png_read_row(png, sink->Next(), nullptr);
            sink->Done();
        }
    } else {
        std::vector<uint8_t>& px = shrink == 1 ? out.Pixels : *whole;
        px.assign(stride * h, 0);
        rows->resize(h);
        for (png_uint_32 y = 0; y < h; ++y) (*rows)[y] = px.data() + size_t(y) * stride;
        png_read_image(png, rows->data());
        if (shrink > 1)
            for (png_uint_32 y = 0; y < h; ++y) {
                std::memcpy(sink->Next(), (*rows)[y], stride);
                sink->Done();
            }
    }
    png_read_end(png, nullptr);
    sink->Finish();
    png_destroy_read_struct(&png, &info, nullptr);
    delete sink;
    delete rows;
    delete whole;
    return true;
}

// ---- JPEG ----

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool pixelsPending = true; // rows are still to come
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    std::longjmp(e->jump, 1);
}
// Warnings stay quiet, except those saying the data ends early: libjpeg would fill the
// rest of the picture with grey, and a cut file is corrupt.
void JpegMessage(j_common_ptr cinfo, int level) {
    const int code = cinfo->err->msg_code;
    auto* e = reinterpret_cast<JpegError*>(cinfo->err);
    if (e->pixelsPending && level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) {
        std::snprintf(e->message, sizeof e->message, "data ends early");
        std::longjmp(e->jump, 1);
    }
}

// Called by libjpeg as it works through the file: every scan of a progressive picture is a pass
// over all of it, so their number and the time spent are bounded here.
struct JpegProgress {
    jpeg_progress_mgr mgr;
    double start;       // CPU seconds of this thread when decoding began
    int scan = 0;       // the scan last seen
    uint64_t work = 0;  // coefficients gone over by the scans so far
    uint64_t limit = 0; // kJpegMaxPasses times the picture's coefficients
};

// The calling thread's CPU time: a busy machine slows decoding down without making it costlier.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void JpegProgressFn(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    auto* p = reinterpret_cast<JpegProgress*>(cinfo->progress);
    auto* e = reinterpret_cast<JpegError*>(cinfo->err);
    if (d->input_scan_number > kJpegMaxScans) {
        std::snprintf(e->message, sizeof e->message, "more than %d scans", kJpegMaxScans);
        std::longjmp(e->jump, 1);
    }
    if (d->input_scan_number != p->scan) {
        p->scan = d->input_scan_number;
        // A scan goes over its band of coefficients Ss..Se in every block of its components: a
        // progressive DC scan (0..0) counts one, a sequential scan (0..63) all 64.
        const uint64_t band = uint64_t(std::max(d->Se - d->Ss + 1, 1));
        for (int c = 0; c < d->comps_in_scan && c < MAX_COMPS_IN_SCAN; ++c)
            if (const jpeg_component_info* comp = d->cur_comp_info[c])
                p->work += uint64_t(comp->width_in_blocks) * comp->height_in_blocks * band;
        if (p->work > p->limit) {
            std::snprintf(e->message, sizeof e->message,
                          "scans that go over the picture more than %d times", kJpegMaxPasses);
            std::longjmp(e->jump, 1);
        }
    }
    if (ThreadSeconds() - p->start > kImageMaxDecodeSeconds) {
        std::snprintf(e->message, sizeof e->message, "took more than %d s of CPU time to decode",
                      kImageMaxDecodeSeconds);
        std::longjmp(e->jump, 1);
    }
}

bool LoadJpeg(FILE* f, Platform_Image& out, std::string* error,
              const Platform_ImageBudget& budget) {
    jpeg_decompress_struct cinfo{};
    JpegError err{};
    JpegProgress progress{};
    progress.mgr.progress_monitor = JpegProgressFn;
    progress.start = ThreadSeconds();
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    err.mgr.emit_message = JpegMessage;
    RowSink* volatile sink = nullptr; // set after the jump point, so read back from memory
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        delete sink;
        out = Platform_Image{};
        return Fail(error, std::string("JPEG: ") + err.message);
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress.mgr;
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    // libjpeg-turbo writes RGBA rows itself, alpha 0xFF.
    cinfo.out_color_space = JCS_EXT_RGBA;
    const uint64_t w = cinfo.image_width, h = cinfo.image_height;
    if (!WithinBudget(w, h, budget, err.message, sizeof err.message)) {
        jpeg_destroy_decompress(&cinfo);
        return Fail(error, err.message);
    }
    if (!SizeAllowed(w, h)) {
        std::snprintf(err.message, sizeof err.message, "picture too large");
        std::longjmp(err.jump, 1);
    }
    // Shrinking by 2, 4 or 8 is done by libjpeg itself in the frequency domain; the rest of the
    // factor by averaging.
    const uint32_t shrink = ChooseShrink(w, h, budget);
    uint32_t scale = 8;
    while (scale > 1 && shrink % scale) scale /= 2;
    cinfo.scale_num = 1;
    cinfo.scale_denom = scale;
    jpeg_calc_output_dimensions(&cinfo);
    const uint32_t rest = shrink / scale;
    // A progressive picture (or one whose colours come in separate scans) is held whole as
    // coefficients, two bytes each, until its last scan is in.
    uint64_t coefficients = 0;
    if (cinfo.progressive_mode || cinfo.comps_in_scan < cinfo.num_components)
        for (int c = 0; c < cinfo.num_components; ++c) {
            const jpeg_component_info& comp = cinfo.comp_info[c];
            coefficients += (uint64_t(comp.width_in_blocks) + comp.h_samp_factor) *
                            (uint64_t(comp.height_in_blocks) + comp.v_samp_factor) * 64 * 2;
        }
    for (int c = 0; c < cinfo.num_components; ++c)
        progress.limit += uint64_t(cinfo.comp_info[c].width_in_blocks) *
                          cinfo.comp_info[c].height_in_blocks * 64 * kJpegMaxPasses;
    const uint64_t ow = cinfo.output_width, oh = cinfo.output_height;
    // The kept pixels (shrunk or not) live alongside the texture made from them.
    const uint64_t working =
        coefficients + ow * 4 + (ow + rest - 1) / rest * ((oh + rest - 1) / rest) * 4;
    if (!Affordable(w, h, shrink, working, coefficients ? " (progressive)" : "", budget,
                    err.message, sizeof err.message)) {
        jpeg_destroy_decompress(&cinfo);
        return Fail(error, err.message);
    }
    // Past the estimate libjpeg fails on its own rather than taking more.
    cinfo.mem->max_memory_to_use =
        long(std::min<uint64_t>(working + (uint64_t{16} << 20), uint64_t{1} << 40));
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 4) {
        std::snprintf(err.message, sizeof err.message, "unsupported colour layout");
        std::longjmp(err.jump, 1);
    }
    const uint32_t fw = cinfo.output_width, fh = cinfo.output_height;
    sink = new RowSink(out, fw, fh, rest);
    while (cinfo.output_scanline < fh) {
        JSAMPROW r = sink->Next();
        if (jpeg_read_scanlines(&cinfo, &r, 1) != 1) {
            std::snprintf(err.message, sizeof err.message, "data ends early");
            std::longjmp(err.jump, 1);
        }
        sink->Done();
    }
    // Every row is in; a missing end marker after them costs nothing.
    err.pixelsPending = false;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    sink->Finish();
    out.Shrink = int32_t(shrink);
    delete sink;
    return true;
}

// ---- JPEG 2000 ----

void OpjQuiet(const char*, void*) {}

// Grey, grey and alpha, RGB, RGBA: a component past the fourth is never drawn.
constexpr uint32_t kJpeg2000Drawn = 4;

// OpenJPEG sets up every tile of every component while it reads the header, before the size
// can be asked: a few bytes declaring millions of tiles take gigabytes. The SIZ marker (at the
// start of the codestream, itself the "jp2c" box of a JP2 file) is read here first.
constexpr uint64_t kJpeg2000MaxTileComponents = uint64_t{1} << 16;

bool Jpeg2000HeaderAllowed(FILE* f, bool codestream, const Platform_ImageBudget& budget, char* why,
                           size_t whySize) {
    auto read = [&](uint8_t* b, size_t n) { return std::fread(b, 1, n, f) == n; };
    auto be = [](const uint8_t* b, int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | b[i];
        return v;
    };
    uint8_t b[40];
    if (!codestream) {
        // Boxes: length (4, or 1 and then 8), type (4); the codestream is in "jp2c". OpenJPEG
        // passes over boxes it does not know, so a file whose codestream is not found here is
        // refused: its SIZ could declare anything. Every box takes at least 8 bytes of a file
        // whose size is capped, so the walk ends.
        for (;;) {
            if (!read(b, 8)) {
                std::snprintf(why, whySize, "JPEG 2000: no codestream box");
                return false;
            }
            uint64_t length = be(b, 4), header = 8;
            if (length == 1) {
                if (!read(b + 8, 8)) {
                    std::snprintf(why, whySize, "JPEG 2000: no codestream box");
                    return false;
                }
                length = be(b + 8, 8);
                header = 16;
            }
            if (std::memcmp(b + 4, "jp2c", 4) == 0) break;
            // Length 0 means "to the end of the file": nothing after it is a box.
            if (length < header || length - header > uint64_t(LONG_MAX) ||
                std::fseek(f, long(length - header), SEEK_CUR) != 0) {
                std::snprintf(why, whySize, "JPEG 2000: no codestream box");
                return false;
            }
        }
    }
    if (!read(b, 40) || be(b, 2) != 0xFF4F || be(b + 2, 2) != 0xFF51) return true;
    const uint64_t xs = be(b + 8, 4), ys = be(b + 12, 4), xo = be(b + 16, 4), yo = be(b + 20, 4);
    const uint64_t xt = be(b + 24, 4), yt = be(b + 28, 4), xto = be(b + 32, 4), yto = be(b + 36, 4);
    uint8_t c[2];
    if (xs <= xo || ys <= yo || xt == 0 || yt == 0 || xto > xo || yto > yo || !read(c, 2))
        return true;
    if (!WithinBudget(xs - xo, ys - yo, budget, why, whySize)) return false;
    // Each factor fits 32 bits, so the tile count fits 64; the product with the components is
    // checked by division so that no wrap lets a huge count through.
    const uint64_t tiles = ((xs - xto + xt - 1) / xt) * ((ys - yto + yt - 1) / yt);
    const uint64_t components = be(c, 2);
    if (components == 0 || tiles > kJpeg2000MaxTileComponents / components) {
        std::snprintf(why, whySize, "JPEG 2000: %llu tiles of %llu component%s",
                      (unsigned long long)tiles, (unsigned long long)be(c, 2),
                      be(c, 2) == 1 ? "" : "s");
        return false;
    }
    return true;
}

bool LoadJpeg2000(FILE* f, const std::string& path, bool codestream, Platform_Image& out,
                  std::string* error, const Platform_ImageBudget& budget) {
    {
        char why[200];
        if (!Jpeg2000HeaderAllowed(f, codestream, budget, why, sizeof why)) return Fail(error, why);
    }
    opj_codec_t* codec = opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!codec) return Fail(error, "out of memory");
    opj_set_error_handler(codec, OpjQuiet, nullptr);
    opj_set_warning_handler(codec, OpjQuiet, nullptr);
    opj_set_info_handler(codec, OpjQuiet, nullptr);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_TRUE);
    opj_image_t* image = nullptr;
    bool ok = stream && opj_setup_decoder(codec, &params) && opj_read_header(stream, codec, &image);
    char why[200] = {};
    uint32_t n = 0, shrink = 1;
    uint64_t w = 0, h = 0;
    if (ok) {
        // Everything the decoder will take is known from the header (the SIZ marker): OpenJPEG
        // keeps every declared component as 32-bit samples of the full size.
        w = uint64_t(image->x1) - image->x0;
        h = uint64_t(image->y1) - image->y0;
        n = image->numcomps;
        ok = image->x1 > image->x0 && image->y1 > image->y0 && n >= 1;
        for (uint32_t c = 0; ok && c < n; ++c) {
            const opj_image_comp_t& comp = image->comps[c];
            if (comp.prec < 1 || comp.prec > 16) {
                std::snprintf(why, sizeof why, "JPEG 2000: %u-bit samples (at most 16 are drawn)",
                              comp.prec);
                ok = false;
            } else if (c < kJpeg2000Drawn && (comp.dx != 1 || comp.dy != 1)) {
                std::snprintf(why, sizeof why, "JPEG 2000: components of different sizes");
                ok = false;
            }
        }
    }
    if (ok) {
        shrink = ChooseShrink(w, h, budget);
        char detail[64];
        std::snprintf(detail, sizeof detail, " in %u component%s", n, n == 1 ? "" : "s");
        const uint64_t kept = (w + shrink - 1) / shrink * ((h + shrink - 1) / shrink) * 4;
        const uint64_t working = w * h * 4 * n + kept + w * 4;
        ok = SizeAllowed(w, h) && WithinBudget(w, h, budget, why, sizeof why) &&
             Affordable(w, h, shrink, working, detail, budget, why, sizeof why);
    }
    if (ok && n > kJpeg2000Drawn) {
        const OPJ_UINT32 first[kJpeg2000Drawn] = {0, 1, 2, 3};
        ok = opj_set_decoded_components(codec, kJpeg2000Drawn, first, OPJ_FALSE);
    }
    ok = ok && opj_decode(codec, stream, image) && opj_end_decompress(codec, stream);
    if (ok) {
        const uint32_t drawn = std::min(image->numcomps, kJpeg2000Drawn);
        ok = drawn >= 1;
        for (uint32_t c = 0; ok && c < drawn; ++c) {
            const opj_image_comp_t& comp = image->comps[c];
            ok = comp.data && comp.w == w && comp.h == h && comp.prec >= 1 && comp.prec <= 16;
        }
        if (ok) {
            auto sample = [&](uint32_t c, size_t i) -> uint8_t {
                const opj_image_comp_t& comp = image->comps[c];
                int64_t v = comp.data[i];
                if (comp.sgnd) v += int64_t(1) << (comp.prec - 1);
                const int64_t maxv = (int64_t(1) << comp.prec) - 1;
                if (v < 0) v = 0;
                if (v > maxv) v = maxv;
                return uint8_t((v * 255 + maxv / 2) / maxv);
            };
            RowSink sink(out, uint32_t(w), uint32_t(h), shrink);
            for (size_t y = 0; y < h; ++y) {
                uint8_t* d = sink.Next();
                for (size_t x = 0; x < w; ++x, d += 4) {
                    const size_t i = y * w + x;
                    d[3] = 0xFF;
                    if (drawn <= 2) {
                        d[0] = d[1] = d[2] = sample(0, i);
                        if (drawn == 2) d[3] = sample(1, i);
                    } else {
                        d[0] = sample(0, i);
                        d[1] = sample(1, i);
                        d[2] = sample(2, i);
                        if (drawn == 4) d[3] = sample(3, i);
                    }
                }
                sink.Done();
            }
            sink.Finish();
        }
    }
    if (image) opj_image_destroy(image);
    if (stream) opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    if (!ok) {
        out = Platform_Image{};
        return Fail(error, why[0] ? why : "JPEG 2000: cannot decode");
    }
    return true;
}

} // namespace

bool Platform_Image_Load(const std::string& path, Platform_Image& out, std::string* error,
                         const Platform_ImageBudget& budget) {
    out = Platform_Image{};
    // Eight bytes a pixel (16-bit RGBA stored uncompressed) and a megabyte for the rest: no
    // picture within the budget is larger.
    std::string why;
    FilePtr f(Platform_File_Open(
        path, size_t(std::max<int64_t>(budget.MaxPixels, 0)) * 8 + (size_t{1} << 20), &why));
    if (!f) return Fail(error, "cannot open " + path + ": " + why);
    uint8_t magic[24] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, f.get());
    std::rewind(f.get());
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    static const uint8_t kJp2[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    static const uint8_t kJ2k[4] = {0xFF, 0x4F, 0xFF, 0x51};
    if (got >= 8 && std::memcmp(magic, kPng, 8) == 0) {
        // libpng refuses a side past its limit as "Invalid IHDR data"; the size says more.
        if (got >= 24 && std::memcmp(magic + 12, "IHDR", 4) == 0) {
            auto be32 = [&](int at) {
                return uint64_t(magic[at]) << 24 | uint64_t(magic[at + 1]) << 16 |
                       uint64_t(magic[at + 2]) << 8 | magic[at + 3];
            };
            char why[200];
            if (!WithinBudget(be32(16), be32(20), budget, why, sizeof why)) return Fail(error, why);
        }
        return LoadPng(f.get(), out, error, budget);
    }
    if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
        return LoadJpeg(f.get(), out, error, budget);
    if (got >= 12 && std::memcmp(magic, kJp2, 12) == 0)
        return LoadJpeg2000(f.get(), path, false, out, error, budget);
    if (got >= 4 && std::memcmp(magic, kJ2k, 4) == 0)
        return LoadJpeg2000(f.get(), path, true, out, error, budget);
    return Fail(error, "unknown picture format: " + path);
}

int64_t Platform_Image_TextureBytes(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return 0;
    return int64_t(PowerOfTwo(uint64_t(width)) * PowerOfTwo(uint64_t(height)) * 4);
}

namespace {
// The PNG is built in memory, then written whole: a failed screenshot leaves no cut file.
void PngAppend(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    bool grown = true;
    try {
        out->insert(out->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        grown = false; // no exception may cross libpng's C frames
    }
    if (!grown) png_error(png, "out of memory");
}
void PngFlush(png_structp) {}
} // namespace

bool Platform_Image_SavePng(const std::string& path, const uint8_t* rgba, int32_t width,
                            int32_t height, int32_t pitch, std::string* error) {
    if (!rgba || !SizeAllowed(uint64_t(std::max(width, 0)), uint64_t(std::max(height, 0))) ||
        pitch < width * 4)
        return Fail(error, "no picture to write");
    std::vector<uint8_t> bytes;
    PngError err{};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, PngErrorFn, PngWarningFn);
    if (!png) return Fail(error, "out of memory");
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return Fail(error, "out of memory");
    }
    if (setjmp(err.jump)) {
        png_destroy_write_struct(&png, &info);
        return Fail(error, err.message);
    }
    png_set_write_fn(png, &bytes, PngAppend, PngFlush);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(rgba + size_t(y) * size_t(pitch)));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::string reason;
    if (Platform_File_Replace(
            path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
            &reason))
        return true;
    return Fail(error, reason);
}
