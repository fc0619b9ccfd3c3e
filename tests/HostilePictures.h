// Small picture files that claim to be expensive to decode, made in memory for the image tests
// and the client picture benchmark: a JPEG 2000 codestream declaring many components (bare or
// in JP2 boxes), a progressive JPEG with many scans, a large plain PNG.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace hostile {

inline void Be16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
inline void Be32(std::vector<uint8_t>& v, uint32_t x) {
    Be16(v, x >> 16);
    Be16(v, x & 0xFFFF);
}

// A JPEG 2000 codestream of side x side pixels in `components` 8-bit components: one tile, no
// wavelet levels, one layer, every packet empty (so every sample decodes as mid-grey). About
// 100 bytes plus 4 a component.
inline std::vector<uint8_t> ManyComponentJ2k(uint32_t side, uint32_t components) {
    std::vector<uint8_t> v;
    Be16(v, 0xFF4F); // SOC
    Be16(v, 0xFF51); // SIZ: no offsets, one tile of the whole picture
    Be16(v, 38 + 3 * components);
    Be16(v, 0);
    for (uint32_t x : {side, side, 0u, 0u, side, side, 0u, 0u}) Be32(v, x);
    Be16(v, components);
    for (uint32_t c = 0; c < components; ++c) {
        v.push_back(7); // 8 bits, unsigned
        v.push_back(1);
        v.push_back(1);
    }
    Be16(v, 0xFF52); // COD: LRCP, one layer, no transform, no levels, 64 x 64 blocks, 5-3
    Be16(v, 12);
    for (uint8_t b : {0, 0, 0, 1, 0, 0, 4, 4, 0, 1}) v.push_back(b);
    Be16(v, 0xFF5C); // QCD: no quantisation, one band
    Be16(v, 4);
    v.push_back(0x40);
    v.push_back(0x40);
    Be16(v, 0xFF90); // SOT: tile 0, one part
    Be16(v, 10);
    Be16(v, 0);
    Be32(v, 12 + 2 + components);
    v.push_back(0);
    v.push_back(1);
    Be16(v, 0xFF93); // SOD, then one empty packet per component
    v.insert(v.end(), components, 0);
    Be16(v, 0xFFD9); // EOC
    return v;
}

// A codestream in JP2 boxes: signature, file type, a header for side x side pixels in
// `components` components, `freeBoxes` empty "free" boxes (which decoders pass over), then the
// codestream in "jp2c", or no "jp2c" box at all when `withCodestream` is false.
inline std::vector<uint8_t> BoxedJp2(const std::vector<uint8_t>& j2k, uint32_t side,
                                     uint32_t components, uint32_t freeBoxes,
                                     bool withCodestream = true) {
    std::vector<uint8_t> v;
    auto box = [&](const char* type, uint32_t length) {
        Be32(v, length);
        v.insert(v.end(), type, type + 4);
    };
    box("jP  ", 12);
    Be32(v, 0x0D0A870A);
    box("ftyp", 20);
    for (const char* t : {"jp2 ", "\0\0\0\0", "jp2 "}) v.insert(v.end(), t, t + 4);
    box("jp2h", 8 + 22 + 15);
    box("ihdr", 22);
    Be32(v, side);
    Be32(v, side);
    Be16(v, components);
    for (uint8_t b : {7, 7, 0, 0}) v.push_back(b); // 8 bits, wavelet, colours known, no IPR
    box("colr", 15);
    for (uint8_t b : {1, 0, 0}) v.push_back(b); // enumerated colour space: sRGB or grey
    Be32(v, components >= 3 ? 16 : 17);
    for (uint32_t i = 0; i < freeBoxes; ++i) box("free", 8);
    if (!withCodestream) return v;
    box("jp2c", uint32_t(8 + j2k.size()));
    v.insert(v.end(), j2k.begin(), j2k.end());
    return v;
}

struct JpegJump {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};
inline void JpegFail(j_common_ptr c) {
    std::longjmp(reinterpret_cast<JpegJump*>(c->err)->jump, 1);
}

// A grey progressive JPEG of w x h pixels as libjpeg writes it (about ten scans), or a
// sequential one in a scan a colour; empty on failure.
inline std::vector<uint8_t> ProgressiveJpeg(uint32_t w, uint32_t h, bool progressive = true) {
    jpeg_compress_struct c{};
    JpegJump err{};
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegFail;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> row(size_t(w) * 3, 0x80);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    // Not progressive: still one scan a colour, each carrying all 64 coefficients.
    static const jpeg_scan_info kOneScanAColour[3] = {
        {1, {0}, 0, 63, 0, 0}, {1, {1}, 0, 63, 0, 0}, {1, {2}, 0, 63, 0, 0}};
    if (progressive) {
        jpeg_simple_progression(&c);
    } else {
        c.scan_info = kOneScanAColour;
        c.num_scans = 3;
    }
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < h) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return out;
}

// The same JPEG with its last scan carrying AC coefficients (and the tables before it) repeated
// until the file holds
// `scans` scans. Decoders take repeated scans as further refinements, each a pass over the
// picture. Empty when the file has no AC scan.
inline std::vector<uint8_t> WithScans(const std::vector<uint8_t>& jpeg, uint32_t scans) {
    size_t at = 2, segment = 0, lastStart = 0, lastEnd = 0, end = 0;
    uint32_t count = 0;
    while (at + 2 <= jpeg.size() && jpeg[at] == 0xFF) {
        const uint8_t marker = jpeg[at + 1];
        if (marker == 0xD9) {
            end = at;
            break;
        }
        if (at + 4 > jpeg.size()) break;
        const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (marker == 0xC4 && !segment) segment = at; // tables belonging to the next scan
        if (marker != 0xDA) {
            at += 2 + length;
            continue;
        }
        const size_t start = segment ? segment : at;
        const uint8_t se = jpeg[at + 4 + 1 + 2 * jpeg[at + 4] + 1];
        at += 2 + length;
        while (at + 1 < jpeg.size() &&
               !(jpeg[at] == 0xFF && jpeg[at + 1] != 0 && (jpeg[at + 1] & 0xF8) != 0xD0))
            ++at;
        ++count;
        if (se > 0) lastStart = start, lastEnd = at;
        segment = 0;
    }
    if (!end || !lastEnd || count > scans) return {};
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(end));
    for (; count < scans; ++count)
        out.insert(out.end(), jpeg.begin() + std::ptrdiff_t(lastStart),
                   jpeg.begin() + std::ptrdiff_t(lastEnd));
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

inline void PngAppend(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}
inline void PngFlush(png_structp) {}

// An RGB PNG of w x h pixels in one colour, compressed hard: 8192 x 8192 is about 190 KB.
inline std::vector<uint8_t> PlainPng(uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return out;
    }
    std::vector<uint8_t> row(size_t(w) * 3);
    for (size_t x = 0; x < w; ++x) row[x * 3] = r, row[x * 3 + 1] = g, row[x * 3 + 2] = b;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, PngAppend, PngFlush);
    png_set_compression_level(png, 9);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < h; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

} // namespace hostile
