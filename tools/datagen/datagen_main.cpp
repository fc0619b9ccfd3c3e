// Writes the default data set into a run folder: the default skin, its pictures and bitmap
// font, twenty sound effects, four music loops and fourteen backgrounds, all made here from
// code (the font page is rendered from a TrueType font with FreeType).
//   datagen <run folder> <TrueType font>
#include "DFont.h"
#include "Platform_Image.h"
#include "Sprite3D.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include <jpeglib.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr double kPi = 3.14159265358979323846;

// ---- pictures ----

struct Picture {
    int32_t w, h;
    std::vector<uint8_t> px; // RGBA
    Picture(int32_t width, int32_t height)
        : w(width), h(height), px(size_t(width) * height * 4, 0) {}
    void Set(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        uint8_t* p = &px[(size_t(y) * w + x) * 4];
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    }
    bool Save(const fs::path& path) const {
        return Platform_Image_SavePng(path.string(), px.data(), w, h, w * 4);
    }
};

bool SaveJpeg(const fs::path& path, const Picture& pic, int quality) {
    FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(pic.w);
    c.image_height = JDIMENSION(pic.h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(pic.w) * 3);
    while (c.next_scanline < c.image_height) {
        const uint8_t* src = &pic.px[size_t(c.next_scanline) * pic.w * 4];
        for (int32_t x = 0; x < pic.w; ++x)
            for (int k = 0; k < 3; ++k) row[size_t(x) * 3 + k] = src[x * 4 + k];
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

uint8_t Clamp8(double v) {
    return uint8_t(std::clamp(v, 0.0, 255.0) + 0.5);
}

// The bevel laid over every cell: light top-left edges, dark bottom-right edges.
Picture CellMask(bool jewel) {
    constexpr int32_t n = 32;
    Picture p(n, n);
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
            const int32_t edge = std::min({x, y, n - 1 - x, n - 1 - y});
            if (edge < 3) {
                const bool light = (x < n - 1 - y) ? (x <= y ? x < 3 : y < 3) : false;
                const bool topLeft = std::min(x, y) < 3 && x + y < n - 1;
                if (topLeft || light)
                    p.Set(x, y, 255, 255, 255, 110);
                else
                    p.Set(x, y, 0, 0, 0, 120);
            } else if (jewel) {
                // Facets: a diamond whose upper half catches the light.
                const int32_t d = std::abs(x - n / 2) + std::abs(y - n / 2);
                if (d < n / 3)
                    p.Set(x, y, 255, 255, 255, y < n / 2 ? 150 : 60);
                else if (d < n / 3 + 2)
                    p.Set(x, y, 0, 0, 0, 90);
            } else if (x + y < n / 2 && edge < 6) {
                p.Set(x, y, 255, 255, 255, 40);
            }
        }
    return p;
}

// A dark translucent panel with a thin light border, stretched behind fields and boxes.
Picture Panel() {
    Picture p(64, 64);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) {
            const bool border = x < 1 || y < 1 || x > 62 || y > 62;
            if (border)
                p.Set(x, y, 190, 200, 230, 230);
            else
                p.Set(x, y, 8, 10, 20, 200);
        }
    return p;
}

// Three medal grades down one column: bronze, silver, gold discs of 16 x 16.
Picture Medals() {
    Picture p(16, 48);
    const uint8_t colours[3][3] = {{205, 127, 50}, {200, 200, 215}, {255, 205, 40}};
    for (int32_t m = 0; m < 3; ++m)
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 16; ++x) {
                const double dx = x - 7.5, dy = y - 7.5, r = std::sqrt(dx * dx + dy * dy);
                if (r > 7.5) continue;
                const double shade = r > 6.0 ? 0.6 : 1.0 - (dx + dy) / 40.0;
                p.Set(x, m * 16 + y, Clamp8(colours[m][0] * shade), Clamp8(colours[m][1] * shade),
                      Clamp8(colours[m][2] * shade), 255);
            }
    return p;
}

// ---- the grade sheet ----

// Text drawn with FreeType into a picture, blended over what is there; `bold` thickens the
// outlines. Returns the width in pixels (nothing is drawn when draw is false).
int32_t DrawLabel(Picture& p, FT_Face face, int32_t pixels, bool bold, const std::string& text,
                  int32_t left, int32_t baseline, const uint8_t rgb[3], bool draw = true) {
    FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels));
    int32_t x = left;
    for (char c : text) {
        if (FT_Load_Char(face, FT_ULong(uint8_t(c)), FT_LOAD_DEFAULT) != 0) continue;
        if (bold) FT_GlyphSlot_Embolden(face->glyph);
        if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
        const FT_GlyphSlot g = face->glyph;
        for (int32_t y = 0; draw && y < int32_t(g->bitmap.rows); ++y)
            for (int32_t xx = 0; xx < int32_t(g->bitmap.width); ++xx) {
                const uint8_t a = g->bitmap.buffer[y * g->bitmap.pitch + xx];
                const int32_t px = x + g->bitmap_left + xx, py = baseline - g->bitmap_top + y;
                if (!a || px < 0 || py < 0 || px >= p.w || py >= p.h) continue;
                uint8_t* d = &p.px[(size_t(py) * p.w + px) * 4];
                const double k = a / 255.0;
                for (int i = 0; i < 3; ++i) d[i] = Clamp8(d[i] * (1 - k) + rgb[i] * k);
                d[3] = std::max(d[3], a);
            }
        x += int32_t((g->advance.x + 32) >> 6);
    }
    return x - left;
}

// The twenty displayed grades as boxes of 68 x 88 pixels, five down each column, four columns:
// grades 0-8 read "9" to "1", 9-17 "S1" to "S9", 18 "M", 19 "GM". Each box carries its own
// panel and caption, so a mode without a grade shows no box at all.
bool GradeSheet(const std::string& ttf, const fs::path& path) {
    constexpr int32_t kW = 68, kH = 88, kPerColumn = 5;
    FT_Library lib;
    if (FT_Init_FreeType(&lib) != 0) return false;
    FT_Face face;
    if (FT_New_Face(lib, ttf.c_str(), 0, &face) != 0) {
        FT_Done_FreeType(lib);
        return false;
    }
    Picture sheet(kW * 4, kH * kPerColumn);
    for (int32_t grade = 0; grade < 20; ++grade) {
        const int32_t ox = grade / kPerColumn * kW, oy = grade % kPerColumn * kH;
        std::string name;
        uint8_t colour[3];
        if (grade < 9) {
            name = std::to_string(9 - grade);
            const uint8_t c[3] = {225, 235, 255};
            std::copy_n(c, 3, colour);
        } else if (grade < 18) {
            char text[8];
            std::snprintf(text, sizeof text, "S%d", grade - 8);
            name = text;
            const uint8_t c[3] = {255, 210, 70};
            std::copy_n(c, 3, colour);
        } else if (grade == 18) {
            name = "M";
            const uint8_t c[3] = {255, 110, 200};
            std::copy_n(c, 3, colour);
        } else {
            name = "GM";
            const uint8_t c[3] = {255, 240, 120};
            std::copy_n(c, 3, colour);
        }
        // The panel: dark, a light border, a caption bar on top.
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const bool border = x < 2 || y < 2 || x >= kW - 2 || y >= kH - 2;
                const bool caption = y < 22;
                if (border)
                    sheet.Set(ox + x, oy + y, 190, 200, 230, 235);
                else if (caption)
                    sheet.Set(ox + x, oy + y, 40, 48, 80, 220);
                else
                    sheet.Set(ox + x, oy + y, 8, 10, 20, 200);
            }
        const uint8_t captionColour[3] = {235, 240, 255};
        const int32_t cw = DrawLabel(sheet, face, 14, false, "GRADE", 0, 0, captionColour, false);
        DrawLabel(sheet, face, 14, false, "GRADE", ox + (kW - cw) / 2, oy + 16, captionColour);
        const int32_t size = name.size() > 1 ? 34 : 46;
        const int32_t nw = DrawLabel(sheet, face, size, true, name, 0, 0, colour, false);
        // A dark shadow under the name, then the name.
        const uint8_t shadow[3] = {0, 0, 0};
        const int32_t left = ox + (kW - nw) / 2, base = oy + 22 + (kH - 22) / 2 + size * 3 / 8;
        DrawLabel(sheet, face, size, true, name, left + 2, base + 2, shadow);
        DrawLabel(sheet, face, size, true, name, left, base, colour);
        if (grade >= 18) {
            // The top grades glow: a thin bright rule under the name.
            for (int32_t x = 10; x < kW - 10; ++x)
                sheet.Set(ox + x, oy + kH - 10, colour[0], colour[1], colour[2], 255);
        }
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return sheet.Save(path);
}

// One background per hundred levels: a two-colour gradient with soft waves, hue per index.
Picture Background(int32_t index) {
    Picture p(640, 480);
    const double hue = index * (2 * kPi / 14.0);
    const double base[3] = {0.5 + 0.5 * std::cos(hue), 0.5 + 0.5 * std::cos(hue - 2.1),
                            0.5 + 0.5 * std::cos(hue + 2.1)};
    for (int32_t y = 0; y < p.h; ++y)
        for (int32_t x = 0; x < p.w; ++x) {
            const double t = double(y) / p.h;
            const double wave = 0.5 + 0.5 * std::sin(x * 0.02 + y * 0.013 * (1 + index % 3) +
                                                     std::sin(y * 0.01 + index) * 2.0);
            const double light = 25 + 55 * (1 - t) + 30 * wave;
            p.Set(x, y, Clamp8(light * (0.35 + base[0])), Clamp8(light * (0.35 + base[1])),
                  Clamp8(light * (0.35 + base[2])), 255);
        }
    return p;
}

// ---- the bitmap font ----

struct GlyphImage {
    int32_t advance = 0;
    int32_t left = 0, top = 0, w = 0, h = 0;
    std::vector<uint8_t> coverage;
};

bool RenderGlyphs(FT_Face face, uint32_t first, uint32_t last, std::vector<GlyphImage>& out) {
    for (uint32_t c = first; c <= last; ++c) {
        GlyphImage g;
        if (FT_Load_Char(face, c, FT_LOAD_RENDER) != 0) return false;
        const FT_GlyphSlot s = face->glyph;
        g.advance = int32_t((s->advance.x + 32) >> 6);
        g.left = s->bitmap_left;
        g.top = s->bitmap_top;
        g.w = int32_t(s->bitmap.width);
        g.h = int32_t(s->bitmap.rows);
        g.coverage.resize(size_t(g.w) * g.h);
        for (int32_t y = 0; y < g.h; ++y)
            std::memcpy(&g.coverage[size_t(y) * g.w], s->bitmap.buffer + y * s->bitmap.pitch,
                        size_t(g.w));
        out.push_back(std::move(g));
    }
    return true;
}

bool MakeFont(const std::string& ttf, const fs::path& fontsDir) {
    FT_Library lib;
    if (FT_Init_FreeType(&lib) != 0) return false;
    FT_Face face;
    if (FT_New_Face(lib, ttf.c_str(), 0, &face) != 0) {
        std::fprintf(stderr, "datagen: cannot open font %s\n", ttf.c_str());
        FT_Done_FreeType(lib);
        return false;
    }
    FT_Set_Pixel_Sizes(face, 0, 16);
    const int32_t ascent = int32_t((face->size->metrics.ascender + 63) >> 6);
    const int32_t lineH = int32_t((face->size->metrics.height + 63) >> 6);
    std::vector<GlyphImage> glyphs;
    const bool ok = RenderGlyphs(face, 32, 126, glyphs);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    if (!ok) return false;
    // Cells of advance x line height in rows of 16, one pixel apart so filtering never bleeds.
    constexpr int32_t kPerRow = 16, kPageW = 512;
    int32_t widest = 0;
    for (const GlyphImage& g : glyphs) widest = std::max(widest, std::max(g.advance, g.left + g.w));
    const int32_t rows = int32_t((glyphs.size() + kPerRow - 1) / kPerRow);
    const int32_t pageH = rows * (lineH + 1) + 1;
    Picture page(kPageW, pageH);
    Sprite3D* sprite = nullptr;
    std::vector<DFontGlyph> rects;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        const GlyphImage& g = glyphs[i];
        const int32_t cx = 1 + int32_t(i % kPerRow) * (widest + 1);
        const int32_t cy = 1 + int32_t(i / kPerRow) * (lineH + 1);
        for (int32_t y = 0; y < g.h; ++y)
            for (int32_t x = 0; x < g.w; ++x) {
                const uint8_t a = g.coverage[size_t(y) * g.w + x];
                const int32_t px = cx + std::max(g.left, 0) + x, py = cy + ascent - g.top + y;
                if (a && py >= cy && py < cy + lineH) page.Set(px, py, 255, 255, 255, a);
            }
        rects.push_back(DFontGlyph{cx, cy, cx + std::max(g.advance, 1), cy + lineH});
    }
    sprite = Sprite3D_FromPixels(page.px.data(), page.w, page.h);
    DFont* font = sprite ? DFont_Create(sprite, 32, 0x000000) : nullptr;
    if (!font) {
        Sprite3D_Free(sprite);
        return false;
    }
    for (const DFontGlyph& r : rects) DFont_AddGlyph(font, r);
    const int32_t saved = DFont_Save(font, (fontsDir / "f1.fnt").string().c_str());
    DFont_Free(font);
    // DFont_Save names the page f1.fnt.png; that is the name the description carries.
    return saved == 1;
}

// ---- sounds ----

constexpr int32_t kRate = 22050;

bool SaveWav(const fs::path& path, const std::vector<int16_t>& samples) {
    std::string out;
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
    };
    const uint32_t bytes = uint32_t(samples.size() * 2);
    out += "RIFF";
    put(36 + bytes, 4);
    out += "WAVEfmt ";
    put(16, 4);
    put(1, 2); // PCM
    put(1, 2); // mono
    put(kRate, 4);
    put(kRate * 2, 4);
    put(2, 2);
    put(16, 2);
    out += "data";
    put(bytes, 4);
    for (int16_t s : samples) put(uint16_t(s), 2);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(out.data(), std::streamsize(out.size()));
    return f.good();
}

struct Effect {
    const char* name;
    double f0, f1; // start and end frequency (Hz)
    double seconds;
    double noise; // share of noise 0..1
    int wave;     // 0 sine, 1 square, 2 triangle
    int notes;    // >1: the sweep is played as that many steps
};

std::vector<int16_t> Synthesize(const Effect& e, uint32_t seed) {
    const int32_t n = int32_t(e.seconds * kRate);
    std::vector<int16_t> out(size_t(std::max(n, 1)));
    double phase = 0;
    uint32_t rng = seed * 2654435761u + 1;
    for (int32_t i = 0; i < n; ++i) {
        const double t = double(i) / n;
        double f = e.f0 + (e.f1 - e.f0) * t;
        if (e.notes > 1) f = e.f0 + (e.f1 - e.f0) * std::floor(t * e.notes) / (e.notes - 1);
        phase += f / kRate;
        phase -= std::floor(phase);
        double tone = 0;
        if (e.wave == 0) tone = std::sin(2 * kPi * phase);
        if (e.wave == 1) tone = phase < 0.5 ? 0.6 : -0.6;
        if (e.wave == 2) tone = 4 * std::abs(phase - 0.5) - 1;
        rng = rng * 1664525u + 1013904223u;
        const double noise = double(rng >> 8) / double(1u << 24) * 2 - 1;
        const double attack = std::min(1.0, i / (0.004 * kRate));
        const double env = attack * std::pow(1 - t, 1.6);
        const double v = (tone * (1 - e.noise) + noise * e.noise) * env * 0.7;
        out[size_t(i)] = int16_t(std::clamp(v, -1.0, 1.0) * 32000);
    }
    return out;
}

const Effect kEffects[20] = {
    {"ready.wav", 440, 660, 0.45, 0.0, 2, 3},
    {"go.wav", 660, 990, 0.40, 0.0, 2, 2},
    {"tetromino_i.wav", 523, 523, 0.12, 0.0, 0, 1},
    {"tetromino_t.wav", 587, 587, 0.12, 0.0, 0, 1},
    {"tetromino_l.wav", 659, 659, 0.12, 0.0, 0, 1},
    {"tetromino_j.wav", 698, 698, 0.12, 0.0, 0, 1},
    {"tetromino_z.wav", 784, 784, 0.12, 0.0, 0, 1},
    {"tetromino_s.wav", 880, 880, 0.12, 0.0, 0, 1},
    {"tetromino_o.wav", 988, 988, 0.12, 0.0, 0, 1},
    {"tetromino_landing.wav", 180, 90, 0.08, 0.3, 0, 1},
    {"tetromino_lock.wav", 300, 150, 0.10, 0.5, 1, 1},
    {"grade_up.wav", 523, 1046, 0.50, 0.0, 2, 4},
    {"section_up.wav", 392, 784, 0.45, 0.0, 1, 3},
    {"lineclear.wav", 900, 200, 0.35, 0.6, 0, 1},
    {"lineclear_fall.wav", 160, 60, 0.25, 0.5, 0, 1},
    {"irs.wav", 1200, 1500, 0.10, 0.0, 0, 1},
    {"gm.wav", 392, 1568, 1.20, 0.0, 2, 6},
    {"siren.wav", 600, 900, 1.00, 0.0, 2, 2},
    {"medal.wav", 1318, 1760, 0.40, 0.0, 0, 2},
    {"rotate.wav", 700, 500, 0.06, 0.1, 2, 1},
};

// ---- music ----

std::vector<float> Loop(int32_t track) {
    // Four bars of a four-chord progression, a bass note and an arpeggio per beat.
    static const int kRoots[4][4] = {{0, 5, 7, 3}, {0, 3, 8, 7}, {0, 7, 5, 10}, {0, 8, 3, 7}};
    static const double kTempo[4] = {128, 140, 112, 150};
    const double beat = 60.0 / kTempo[track];
    const int32_t beats = 16;
    const int32_t n = int32_t(beats * beat * kRate);
    std::vector<float> out(size_t(n), 0.0f);
    const double key = 220.0 * std::pow(2.0, track / 12.0);
    for (int32_t b = 0; b < beats; ++b) {
        const int root = kRoots[track][b / 4];
        const double bassF = key / 2 * std::pow(2.0, root / 12.0);
        static const int kArp[4] = {0, 4, 7, 12};
        for (int step = 0; step < 4; ++step) {
            const int semis = root + kArp[(step + b) % 4] + (track % 2 ? 3 * (step == 1) : 0);
            const double f = key * std::pow(2.0, semis / 12.0);
            const int32_t start = int32_t((b + step / 4.0) * beat * kRate);
            const int32_t len = int32_t(beat / 4 * kRate);
            for (int32_t i = 0; i < len && start + i < n; ++i) {
                const double t = double(i) / kRate;
                const double env = std::exp(-t * 9);
                out[size_t(start + i)] += float(0.18 * env * std::sin(2 * kPi * f * t));
            }
        }
        const int32_t start = int32_t(b * beat * kRate), len = int32_t(beat * kRate);
        for (int32_t i = 0; i < len && start + i < n; ++i) {
            const double t = double(i) / kRate;
            const double ph = std::fmod(bassF * t, 1.0);
            out[size_t(start + i)] += float(0.22 * std::exp(-t * 3) * (4 * std::abs(ph - 0.5) - 1));
        }
    }
    return out;
}

bool SaveOgg(const fs::path& path, const std::vector<float>& samples, int serial) {
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, 1, kRate, 0.2f) != 0) {
        vorbis_info_clear(&vi);
        return false;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_comment_add_tag(&vc, "ENCODER", "zelvik datagen");
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, serial);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    ogg_page og;
    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comments);
    ogg_stream_packetin(&os, &codebooks);
    while (ogg_stream_flush(&os, &og)) {
        f.write(reinterpret_cast<const char*>(og.header), og.header_len);
        f.write(reinterpret_cast<const char*>(og.body), og.body_len);
    }
    size_t pos = 0;
    bool eos = false;
    while (!eos) {
        const size_t chunk = std::min<size_t>(4096, samples.size() - pos);
        if (chunk == 0) {
            vorbis_analysis_wrote(&vd, 0);
        } else {
            float** buffer = vorbis_analysis_buffer(&vd, int(chunk));
            std::memcpy(buffer[0], samples.data() + pos, chunk * sizeof(float));
            vorbis_analysis_wrote(&vd, int(chunk));
            pos += chunk;
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (ogg_stream_pageout(&os, &og)) {
                    f.write(reinterpret_cast<const char*>(og.header), og.header_len);
                    f.write(reinterpret_cast<const char*>(og.body), og.body_len);
                    if (ogg_page_eos(&og)) eos = true;
                }
            }
        }
        if (chunk == 0 && !eos) {
            while (ogg_stream_flush(&os, &og)) {
                f.write(reinterpret_cast<const char*>(og.header), og.header_len);
                f.write(reinterpret_cast<const char*>(og.body), og.body_len);
            }
            eos = true;
        }
    }
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return f.good();
}

bool Write(const fs::path& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return f.good();
}

} // namespace

extern const char* const kDefaultSkinXml; // datagen_skin.cpp
std::string VersusSkinXml(int players);   // datagen_skin.cpp

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: datagen <run folder> <TrueType font>\n");
        return 2;
    }
    const fs::path root = argv[1];
    const fs::path skins = root / "skins", data = skins / "data", fonts = data / "fonts";
    std::error_code ec;
    for (const fs::path& dir : {fonts, root / "sounds", root / "bgm", root / "bg"})
        fs::create_directories(dir, ec);
    bool ok = Write(skins / "Pexa.xml", kDefaultSkinXml);
    fs::create_directories(skins / "versus", ec);
    for (int players = 2; players <= 4; ++players)
        ok = Write(skins / "versus" / ("Pexa_" + std::to_string(players) + ".xml"),
                   VersusSkinXml(players)) &&
             ok;
    ok = CellMask(false).Save(data / "piece_mask.png") && ok;
    ok = CellMask(true).Save(data / "piece_mask_jewel.png") && ok;
    ok = Panel().Save(data / "panel.png") && ok;
    ok = Medals().Save(data / "medals.png") && ok;
    ok = GradeSheet(argv[2], data / "grades.png") && ok;
    ok = MakeFont(argv[2], fonts) && ok;
    for (int32_t i = 0; i < 20; ++i)
        ok =
            SaveWav(root / "sounds" / kEffects[i].name, Synthesize(kEffects[i], uint32_t(i))) && ok;
    for (int32_t i = 0; i < 4; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "bgm_%02d.ogg", i + 1);
        ok = SaveOgg(root / "bgm" / name, Loop(i), 0x5A31 + i) && ok;
    }
    for (int32_t i = 0; i < 14; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "bg_%02d.jpg", i);
        ok = SaveJpeg(root / "bg" / name, Background(i), 85) && ok;
    }
    if (!ok) {
        std::fprintf(stderr, "datagen: could not write the data set into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
