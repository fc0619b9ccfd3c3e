#include "DFont.h"

#include "DoublyLinkedList.h"
#include "Platform_File.h"
#include "Platform_Image.h"
#include "Sprite3D.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

namespace {

const DFontOps kOps = {DFont_TrimGlyphs, DFont_DrawText, DFont_TextWidth, DFont_TextHeight,
                       DFont_SetScale,   DFont_SetAlpha, DFont_Save,      DFont_Free};

int32_t GlyphW(const DFontGlyph& g) {
    return std::max(g.Right - g.Left, 0);
}
int32_t GlyphH(const DFontGlyph& g) {
    return std::max(g.Bottom - g.Top, 0);
}

// Bounds-checked little-endian reads over the whole file.
struct Reader {
    const std::vector<uint8_t>& bytes;
    size_t pos = 0;
    bool ok = true;
    size_t Left() const { return bytes.size() - pos; }
    uint32_t Read(int n) {
        if (!ok || Left() < size_t(n)) {
            ok = false;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint32_t(bytes[pos + i]) << (8 * i);
        pos += size_t(n);
        return v;
    }
};

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

std::string FolderOf(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void PutLE(std::string& out, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

} // namespace

DFont* DFont_Create(Sprite3D* page, uint16_t firstChar, uint32_t keyColour) {
    DFont* f = new (std::nothrow) DFont{};
    if (!f) return nullptr;
    f->ops = &kOps;
    f->Glyphs = DoublyLinkedList_Create(sizeof(DFontGlyph));
    if (!f->Glyphs) {
        delete f;
        return nullptr;
    }
    f->Page = page;
    f->FirstChar = firstChar;
    f->KeyColour = keyColour;
    f->ScaleX = f->ScaleY = 1.0;
    return f;
}

bool DFont_AddGlyph(DFont* f, const DFontGlyph& glyph) {
    if (!f) return false;
    auto* g = static_cast<DFontGlyph*>(DoublyLinkedList_AddElement(f->Glyphs));
    if (!g) return false;
    *g = glyph;
    return true;
}

DFont* DFont_Load(const std::string& path, std::string* error, const Platform_ImageBudget& budget) {
    // A description is a few kilobytes; anything far larger is not one of ours.
    std::string file, why;
    if (!Platform_File_Read(path, size_t{16} << 20, file, &why)) {
        Fail(error, "cannot read " + path + ": " + why);
        return nullptr;
    }
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    Reader r{bytes};
    if (r.Read(4) != kDFontMagic || !r.ok) {
        Fail(error, "not a font description: " + path);
        return nullptr;
    }
    std::string page;
    while (r.pos < bytes.size()) {
        const uint8_t c = bytes[r.pos++];
        if (c == 0 || c == '\n') break;
        if (c == '\r') {
            if (r.pos < bytes.size() && bytes[r.pos] == '\n') ++r.pos;
            break;
        }
        page.push_back(char(c));
    }
    std::replace(page.begin(), page.end(), '\\', '/');
    const uint16_t firstChar = uint16_t(r.Read(2));
    const uint32_t keyColour = r.Read(4);
    uint32_t count = r.Read(4);
    if (!r.ok) {
        Fail(error, "font description truncated: " + path);
        return nullptr;
    }
    count = uint32_t(std::min<size_t>(count, r.Left() / 8)); // only whole records that exist
    if (page.empty()) {
        Fail(error, "no font page named in " + path);
        return nullptr;
    }
    Sprite3D* sprite = Sprite3D_Load(FolderOf(path) + page, &why, budget);
    if (!sprite) {
        Fail(error, "font page " + FolderOf(path) + page + ": " + why);
        return nullptr;
    }
    Sprite3D_SetKeyColour(sprite, keyColour);
    DFont* f = DFont_Create(sprite, firstChar, keyColour);
    if (!f) {
        Sprite3D_Free(sprite);
        return nullptr;
    }
    for (uint32_t k = 0; k < count; ++k) {
        DFontGlyph g;
        g.Left = int32_t(r.Read(2));
        g.Top = int32_t(r.Read(2));
        g.Right = int32_t(r.Read(2));
        g.Bottom = int32_t(r.Read(2));
        if (!DFont_AddGlyph(f, g)) {
            DFont_Free(f);
            return nullptr;
        }
    }
    return f;
}

const DFontGlyph* DFont_Glyph(DFont* f, uint32_t code) {
    if (!f || code < f->FirstChar) return nullptr;
    const uint32_t index = code - f->FirstChar;
    if (index >= uint32_t(f->Glyphs->Count)) return nullptr;
    return static_cast<const DFontGlyph*>(
        DoublyLinkedList_SelectElement(f->Glyphs, int32_t(index)));
}

int32_t DFont_DrawText(DFont* f, int32_t x, int32_t y, const char16_t* text) {
    if (!f || !text || !f->Page) return 0;
    for (const char16_t* c = text; *c; ++c) {
        const DFontGlyph* g = DFont_Glyph(f, *c);
        if (!g) continue;
        const int32_t w = GlyphW(*g), h = GlyphH(*g);
        Sprite3D_Clip(f->Page, g->Left, g->Top, w, h);
        Sprite3D_Zoom(f->Page, RoundPixel(w * f->ScaleX), RoundPixel(h * f->ScaleY));
        Sprite3D_Display(f->Page, x, y);
        x = RoundPixel(x + f->ScaleX * w);
    }
    return 0;
}

int32_t DFont_TextWidth(DFont* f, const char16_t* text) {
    if (!f || !text) return 0;
    int64_t sum = 0;
    for (const char16_t* c = text; *c; ++c)
        if (const DFontGlyph* g = DFont_Glyph(f, *c)) sum += RoundPixel(f->ScaleX * GlyphW(*g));
    return int32_t(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

int32_t DFont_TextHeight(DFont* f, const char16_t* text) {
    if (!f || !text) return 0;
    int32_t most = 0;
    for (const char16_t* c = text; *c; ++c)
        if (const DFontGlyph* g = DFont_Glyph(f, *c))
            most = std::max(most, RoundPixel(f->ScaleY * GlyphH(*g)));
    return most;
}

int32_t DFont_SetScale(DFont* f, double scaleX, double scaleY) {
    if (!f) return 0;
    f->ScaleX = scaleX;
    f->ScaleY = scaleY;
    return 0;
}

int32_t DFont_SetAlpha(DFont* f, uint32_t alpha) {
    if (f && f->Page) Sprite3D_SetAlpha(f->Page, alpha);
    return 0;
}

int32_t DFont_TrimGlyphs(DFont* f) {
    if (!f || !f->Page || !f->Page->Pixels) return 0;
    const uint32_t background = Sprite3D_PixelAt(f->Page, 0, 0);
    int32_t minX = INT32_MAX, minY = INT32_MAX, endX = -1, endY = -1;
    const int32_t count = f->Glyphs->Count;
    for (int32_t k = 0; k < count; ++k) {
        const auto* g =
            static_cast<const DFontGlyph*>(DoublyLinkedList_SelectElement(f->Glyphs, k));
        // Right and bottom are exclusive: the pixel past them belongs to the next glyph.
        const int32_t right = std::min(g->Right, f->Page->TextureWidth);
        const int32_t bottom = std::min(g->Bottom, f->Page->TextureHeight);
        for (int32_t y = std::max(g->Top, 0); y < bottom; ++y)
            for (int32_t x = std::max(g->Left, 0); x < right; ++x) {
                if (Sprite3D_PixelAt(f->Page, x, y) == background) continue;
                minX = std::min(minX, x - g->Left);
                minY = std::min(minY, y - g->Top);
                endX = std::max(endX, x - g->Left + 1);
                endY = std::max(endY, y - g->Top + 1);
            }
    }
    if (endX < 0) return 0; // nothing but background: the glyphs stay as they are
    for (int32_t k = 0; k < count; ++k) {
        auto* g = static_cast<DFontGlyph*>(DoublyLinkedList_SelectElement(f->Glyphs, k));
        g->Right = g->Left + endX;
        g->Bottom = g->Top + endY;
        g->Left += minX;
        g->Top += minY;
    }
    return 0;
}

int32_t DFont_Save(DFont* f, const char* path) {
    if (!f || !path || !f->Page || !f->Page->Pixels) return 0;
    const std::string base(path);
    Sprite3D* p = f->Page;
    const int32_t w = p->ImageWidth > 0 ? p->ImageWidth : p->TextureWidth;
    const int32_t h = p->ImageHeight > 0 ? p->ImageHeight : p->TextureHeight;
    if (!Platform_Image_SavePng(base + ".png", p->Pixels, w, h, p->TextureWidth * 4)) return 0;
    const size_t cut = base.find_last_of("/\\");
    const std::string pageName = (cut == std::string::npos ? base : base.substr(cut + 1)) + ".png";
    std::string out;
    PutLE(out, kDFontMagic, 4);
    out += pageName;
    out += "\r\n";
    PutLE(out, f->FirstChar, 2);
    PutLE(out, f->KeyColour, 4);
    PutLE(out, uint32_t(f->Glyphs->Count), 4);
    for (int32_t k = 0; k < f->Glyphs->Count; ++k) {
        const auto* g =
            static_cast<const DFontGlyph*>(DoublyLinkedList_SelectElement(f->Glyphs, k));
        for (int32_t v : {g->Left, g->Top, g->Right, g->Bottom})
            PutLE(out, uint32_t(std::clamp(v, 0, 0xFFFF)), 2);
    }
    // Replaced whole, like every file a program writes over.
    return Platform_File_Replace(base, out) ? 1 : 0;
}

int32_t DFont_Free(DFont* f) {
    if (!f) return 0;
    if (f->Glyphs) DoublyLinkedList_FreeList(f->Glyphs);
    Sprite3D_Free(f->Page);
    delete f;
    return 0;
}
