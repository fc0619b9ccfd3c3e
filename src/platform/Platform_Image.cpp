#include "Platform_Image.h"

#include "Platform_File.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
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

// Pixel memory grows with the rows really decoded, so a short file claiming a huge picture
// fails before taking much; up to this size it is one allocation made before the first row
// (address space only: pages are touched as rows arrive), not a reallocation per doubling.
constexpr size_t kUpfrontPixelBytes = size_t{64} << 20;

void ReservePixels(Platform_Image& out, size_t stride, uint32_t rows) {
    out.Pixels.reserve(std::min(stride * rows, kUpfrontPixelBytes));
}

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
    std::vector<png_bytep>* rows = new std::vector<png_bytep>();
    if (setjmp(err.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        delete rows;
        out = Platform_Image{};
        return Fail(error, std::string("PNG: ") + err.message);
    }
    png_init_io(png, f);
    png_set_user_limits(png, kImageMaxSide, kImageMaxSide);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info);
    png_uint_32 h = png_get_image_height(png, info);
    if (!WithinBudget(w, h, budget, err.message, sizeof err.message)) {
        png_destroy_read_struct(&png, &info, nullptr);
        delete rows;
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
    if (passes == 1) {
        ReservePixels(out, stride, h);
        for (png_uint_32 y = 0; y < h; ++y) {
            out.Pixels.resize(size_t(y + 1) * stride);
            png_read_row(png, out.Pixels.data() + size_t(y) * stride, nullptr);
        }
    } else {
        out.Pixels.assign(stride * h, 0);
        rows->resize(h);
        for (png_uint_32 y = 0; y < h; ++y) (*rows)[y] = out.Pixels.data() + size_t(y) * stride;
        png_read_image(png, rows->data());
    }
    png_read_end(png, nullptr);
    out.Width = int32_t(w);
    out.Height = int32_t(h);
    png_destroy_read_struct(&png, &info, nullptr);
    delete rows;
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

bool LoadJpeg(FILE* f, Platform_Image& out, std::string* error,
              const Platform_ImageBudget& budget) {
    jpeg_decompress_struct cinfo{};
    JpegError err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    err.mgr.emit_message = JpegMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        out = Platform_Image{};
        return Fail(error, std::string("JPEG: ") + err.message);
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    // libjpeg-turbo writes RGBA rows itself, alpha 0xFF.
    cinfo.out_color_space = JCS_EXT_RGBA;
    if (!WithinBudget(cinfo.image_width, cinfo.image_height, budget, err.message,
                      sizeof err.message)) {
        jpeg_destroy_decompress(&cinfo);
        return Fail(error, err.message);
    }
    if (!SizeAllowed(cinfo.image_width, cinfo.image_height)) {
        std::snprintf(err.message, sizeof err.message, "picture too large");
        std::longjmp(err.jump, 1);
    }
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 4) {
        std::snprintf(err.message, sizeof err.message, "unsupported colour layout");
        std::longjmp(err.jump, 1);
    }
    const uint32_t w = cinfo.output_width, h = cinfo.output_height;
    ReservePixels(out, size_t(w) * 4, h);
    while (cinfo.output_scanline < h) {
        const uint32_t y = cinfo.output_scanline;
        out.Pixels.resize(size_t(y + 1) * w * 4);
        JSAMPROW r = out.Pixels.data() + size_t(y) * w * 4;
        if (jpeg_read_scanlines(&cinfo, &r, 1) != 1) {
            std::snprintf(err.message, sizeof err.message, "data ends early");
            std::longjmp(err.jump, 1);
        }
    }
    // Every row is in; a missing end marker after them costs nothing.
    err.pixelsPending = false;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    out.Width = int32_t(w);
    out.Height = int32_t(h);
    return true;
}

// ---- JPEG 2000 ----

void OpjQuiet(const char*, void*) {}

bool LoadJpeg2000(const std::string& path, bool codestream, Platform_Image& out, std::string* error,
                  const Platform_ImageBudget& budget) {
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
    char tooLarge[200] = {};
    if (ok) {
        const uint64_t w = uint64_t(image->x1) - image->x0, h = uint64_t(image->y1) - image->y0;
        ok = image->x1 > image->x0 && image->y1 > image->y0 && SizeAllowed(w, h) &&
             WithinBudget(w, h, budget, tooLarge, sizeof tooLarge) &&
             opj_decode(codec, stream, image) && opj_end_decompress(codec, stream);
    }
    if (ok) {
        const uint32_t n = image->numcomps;
        ok = (n == 1 || n == 2 || n == 3 || n == 4);
        const uint32_t w = image->x1 - image->x0, h = image->y1 - image->y0;
        for (uint32_t c = 0; ok && c < n; ++c) {
            const opj_image_comp_t& comp = image->comps[c];
            ok = comp.data && comp.w == w && comp.h == h && comp.prec >= 1 && comp.prec <= 16;
        }
        if (ok) {
            out.Width = int32_t(w);
            out.Height = int32_t(h);
            out.Pixels.assign(size_t(w) * h * 4, 0xFF);
            auto sample = [&](uint32_t c, size_t i) -> uint8_t {
                const opj_image_comp_t& comp = image->comps[c];
                int64_t v = comp.data[i];
                if (comp.sgnd) v += int64_t(1) << (comp.prec - 1);
                const int64_t maxv = (int64_t(1) << comp.prec) - 1;
                if (v < 0) v = 0;
                if (v > maxv) v = maxv;
                return uint8_t((v * 255 + maxv / 2) / maxv);
            };
            for (size_t i = 0; i < size_t(w) * h; ++i) {
                uint8_t* d = &out.Pixels[i * 4];
                if (n <= 2) {
                    d[0] = d[1] = d[2] = sample(0, i);
                    if (n == 2) d[3] = sample(1, i);
                } else {
                    d[0] = sample(0, i);
                    d[1] = sample(1, i);
                    d[2] = sample(2, i);
                    if (n == 4) d[3] = sample(3, i);
                }
            }
        }
    }
    if (image) opj_image_destroy(image);
    if (stream) opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    if (!ok) {
        out = Platform_Image{};
        return Fail(error, tooLarge[0] ? tooLarge : "JPEG 2000: cannot decode");
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
    uint8_t magic[12] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, f.get());
    std::rewind(f.get());
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    static const uint8_t kJp2[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    static const uint8_t kJ2k[4] = {0xFF, 0x4F, 0xFF, 0x51};
    if (got >= 8 && std::memcmp(magic, kPng, 8) == 0) return LoadPng(f.get(), out, error, budget);
    if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
        return LoadJpeg(f.get(), out, error, budget);
    if (got >= 12 && std::memcmp(magic, kJp2, 12) == 0) {
        f.reset();
        return LoadJpeg2000(path, false, out, error, budget);
    }
    if (got >= 4 && std::memcmp(magic, kJ2k, 4) == 0) {
        f.reset();
        return LoadJpeg2000(path, true, out, error, budget);
    }
    return Fail(error, "unknown picture format: " + path);
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
