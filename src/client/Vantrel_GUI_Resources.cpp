#include "Vantrel_GUI_Resources.h"

#include "DFont.h"
#include "Platform_Image.h"
#include "Platform_Screen.h"
#include "Sprite3D.h"
#include "Vantrel_GUI_Callbacks.h"
#include "Vantrel_GUI_Skin.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

ResourceState gResources;

namespace {

namespace fs = std::filesystem;

// Per kind: the object of each file name, keyed in lower case (null for a failed load).
std::unordered_map<std::string, void*> gCaches[3];
// Per kind: why each failed file failed, keyed as above.
std::unordered_map<std::string, std::string> gFailures[3];

bool Match(const char* p, const char* s) {
    for (; *p; ++p, ++s) {
        if (*p == '*') {
            for (const char* t = s;; ++t) {
                if (Match(p + 1, t)) return true;
                if (!*t) return false;
            }
        }
        if (!*s) return false;
        if (*p != '?' && std::tolower((unsigned char)*p) != std::tolower((unsigned char)*s))
            return false;
    }
    return *s == 0;
}

// The last answer of Resource_SkinForPlayers: the folder is looked at only when the skin or
// the number of players changes, not on every frame.
struct LayoutChoice {
    void* current = nullptr;
    int32_t skinIndex = -1;
    int32_t players = 0;
    void* chosen = nullptr;
} gLayout;

constexpr int32_t kMaxLayoutPlayers = 16;

// The font used where a skin's font is missing: 5 x 7 dots for the printable ASCII
// characters, row by row, the leftmost dot in bit 4.
const uint8_t kPlainGlyphs[95][7] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, // ' '
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}, // '!'
    {0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00}, // '"'
    {0x0A, 0x1F, 0x0A, 0x0A, 0x0A, 0x1F, 0x0A}, // '#'
    {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04}, // '$'
    {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}, // '%'
    {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}, // '&'
    {0x04, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, // "'"
    {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}, // '('
    {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}, // ')'
    {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00}, // '*'
    {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}, // '+'
    {0x00, 0x00, 0x00, 0x00, 0x06, 0x04, 0x08}, // ','
    {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}, // '-'
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}, // '.'
    {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}, // '/'
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, // '0'
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}, // '1'
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, // '2'
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}, // '3'
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, // '4'
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}, // '5'
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, // '6'
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}, // '7'
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, // '8'
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}, // '9'
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}, // ':'
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08}, // ';'
    {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}, // '<'
    {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}, // '='
    {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}, // '>'
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}, // '?'
    {0x0E, 0x11, 0x01, 0x0D, 0x15, 0x15, 0x0E}, // '@'
    {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, // 'A'
    {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}, // 'B'
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, // 'C'
    {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}, // 'D'
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, // 'E'
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}, // 'F'
    {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, // 'G'
    {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, // 'H'
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, // 'I'
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}, // 'J'
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, // 'K'
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}, // 'L'
    {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, // 'M'
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}, // 'N'
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, // 'O'
    {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}, // 'P'
    {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, // 'Q'
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}, // 'R'
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, // 'S'
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, // 'T'
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, // 'U'
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}, // 'V'
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, // 'W'
    {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}, // 'X'
    {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}, // 'Y'
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}, // 'Z'
    {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E}, // '['
    {0x00, 0x10, 0x08, 0x04, 0x02, 0x01, 0x00}, // '\\'
    {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E}, // ']'
    {0x04, 0x0A, 0x11, 0x00, 0x00, 0x00, 0x00}, // '^'
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}, // '_'
    {0x08, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, // '`'
    {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}, // 'a'
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}, // 'b'
    {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E}, // 'c'
    {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}, // 'd'
    {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}, // 'e'
    {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}, // 'f'
    {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E}, // 'g'
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}, // 'h'
    {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}, // 'i'
    {0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C}, // 'j'
    {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}, // 'k'
    {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, // 'l'
    {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}, // 'm'
    {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}, // 'n'
    {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}, // 'o'
    {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}, // 'p'
    {0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01}, // 'q'
    {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}, // 'r'
    {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}, // 's'
    {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}, // 't'
    {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D}, // 'u'
    {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}, // 'v'
    {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A}, // 'w'
    {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}, // 'x'
    {0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E}, // 'y'
    {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}, // 'z'
    {0x02, 0x04, 0x04, 0x08, 0x04, 0x04, 0x02}, // '{'
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, // '|'
    {0x08, 0x04, 0x04, 0x02, 0x04, 0x04, 0x08}, // '}'
    {0x00, 0x00, 0x08, 0x15, 0x02, 0x00, 0x00}, // '~'

};
DFont* gPlainFont = nullptr;

// The w x h RGBA picture at src (rows pitch bytes apart) averaged down to dw x dh (no larger).
std::vector<uint8_t> Shrink(const uint8_t* src, int32_t pitch, int32_t w, int32_t h, int32_t dw,
                            int32_t dh) {
    std::vector<uint8_t> out(size_t(dw) * size_t(dh) * 4);
    for (int32_t y = 0; y < dh; ++y) {
        const int32_t y0 = int32_t(int64_t(y) * h / dh), y1 = int32_t(int64_t(y + 1) * h / dh);
        for (int32_t x = 0; x < dw; ++x) {
            const int32_t x0 = int32_t(int64_t(x) * w / dw), x1 = int32_t(int64_t(x + 1) * w / dw);
            uint32_t sum[4] = {0, 0, 0, 0};
            for (int32_t sy = y0; sy < std::max(y1, y0 + 1); ++sy)
                for (int32_t sx = x0; sx < std::max(x1, x0 + 1); ++sx)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += src[size_t(sy) * size_t(pitch) + size_t(sx) * 4 + c];
            const uint32_t n = uint32_t(std::max(y1 - y0, 1) * std::max(x1 - x0, 1));
            for (int c = 0; c < 4; ++c)
                out[(size_t(y) * size_t(dw) + size_t(x)) * 4 + c] = uint8_t((sum[c] + n / 2) / n);
        }
    }
    return out;
}

// What a picture loaded now may take: the renderer's largest texture, and what the pictures of
// its kind loaded so far have left of their total.
Platform_ImageBudget PictureBudget(bool background = false) {
    Platform_ImageBudget budget;
    if (Platform_Screen_IsOpen()) budget.MaxSide = Platform_Screen_MaxTextureSize();
    budget.MaxBytes = background
                          ? std::max<int64_t>(kBackgroundTotalBytes - gResources.BackgroundBytes, 1)
                          : std::max<int64_t>(kPictureTotalBytes - gResources.PictureBytes, 1);
    return budget;
}

void FreeObject(int32_t kind, void* object) {
    if (!object) return;
    if (kind == Resource_Font) DFont_Free(static_cast<DFont*>(object));
    if (kind == Resource_Picture) Sprite3D_Free(static_cast<Sprite3D*>(object));
    if (kind == Resource_Skin) SkinElement_FreeTree(static_cast<SkinElement*>(object));
}

} // namespace

std::string Resource_Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::string Resource_ResolvePath(const std::string& path) {
    std::string normal = path;
    std::replace(normal.begin(), normal.end(), '\\', '/');
    std::error_code ec;
    if (normal.empty() || fs::exists(normal, ec)) return normal;
    fs::path built = normal[0] == '/' ? fs::path("/") : fs::path();
    for (const fs::path& part : fs::path(normal).relative_path()) {
        fs::path next = built / part;
        if (!fs::exists(next, ec)) {
            const std::string want = Resource_Lower(part.string());
            for (fs::directory_iterator it(built.empty() ? fs::path(".") : built, ec), end;
                 !ec && it != end; it.increment(ec)) {
                if (Resource_Lower(it->path().filename().string()) == want) {
                    next = built / it->path().filename();
                    break;
                }
            }
        }
        built = next;
    }
    return built.string();
}

std::vector<std::string> Resource_ListFolder(const std::string& folder, const std::string& pattern,
                                             bool* listed) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(Resource_ResolvePath(folder), ec);
    if (listed) *listed = !ec;
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code fec;
        if (!it->is_regular_file(fec)) continue;
        const std::string name = it->path().filename().string();
        if (Match(pattern.c_str(), name.c_str())) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void* Resource_Load(int32_t kind, const std::string& file, std::string* error) {
    if (kind < 0 || kind > 2) return nullptr;
    auto& cache = gCaches[kind];
    std::string key = Resource_Lower(file);
    if (const auto it = cache.find(key); it != cache.end()) {
        if (!it->second && error) *error = gFailures[kind][key];
        return it->second;
    }
    void* object = nullptr;
    std::string why;
    if (kind == Resource_Font) {
        // The page keeps a copy of its pixels beside its texture (trimming, saving).
        Platform_ImageBudget budget = PictureBudget();
        budget.TextureCopies = 2;
        auto* font = DFont_Load(Resource_ResolvePath("skins/data/fonts/" + file), &why, budget);
        if (font) gResources.PictureBytes += Sprite3D_Bytes(font->Page);
        object = font;
        if (!object)
            Client_DebugLog(
                &gClient.Interface,
                Skin_FromUtf8("Could not load skins/data/fonts/" + file + ": " + why).c_str());
    } else if (kind == Resource_Picture) {
        // Skin pictures are third-party content: one declaring more than the renderer can hold,
        // or than is left for pictures, is refused from its header before its pixels take any
        // memory. The decoded pixels are counted with the texture, as both are held until the
        // texture is made; then the texture is the only copy.
        Platform_Image image;
        if (Platform_Image_Load(Resource_ResolvePath("skins/data/" + file), image, &why,
                                PictureBudget())) {
            auto* sprite = Sprite3D_FromRegion(image.Pixels.data(), image.Width * 4, image.Width,
                                               image.Height, false);
            if (sprite) gResources.PictureBytes += Sprite3D_Bytes(sprite);
            object = sprite;
            if (!object) why = "out of memory";
        }
        if (!object)
            Client_DebugLog(
                &gClient.Interface,
                Skin_FromUtf8("Could not load skins/data/" + file + ": " + why).c_str());
    } else {
        SkinElement* root = SkinElement_New();
        if (!root) {
            why = "out of memory";
        } else if (!SkinElement_ReadFile(root, Resource_ResolvePath("skins/" + file).c_str(),
                                         &why)) {
            // A skin that did not parse draws nothing: the caller picks another.
            SkinElement_FreeTree(root);
            root = nullptr;
        }
        object = root;
    }
    if (!object) {
        if (why.empty()) why = "cannot be loaded";
        if (error) *error = why;
        gFailures[kind][key] = why;
    }
    cache.emplace(std::move(key), object);
    return object;
}

std::vector<Sprite3D*> Resource_LoadBackground(const std::string& path, int32_t frameW,
                                               int32_t frameH, int32_t frames, int32_t screenW,
                                               int32_t screenH, std::string* error) {
    std::vector<Sprite3D*> out;
    const bool grid = frames >= 1 && frameW > 0 && frameH > 0;
    Platform_ImageBudget budget = PictureBudget(true);
    budget.MaxSide = 0; // the shrunk frames must fit a texture, not the file
    budget.FitWidth = screenW;
    budget.FitHeight = screenH;
    if (grid) {
        budget.UnitWidth = frameW;
        budget.UnitHeight = frameH;
    }
    Platform_Image image;
    std::string why;
    if (!Platform_Image_Load(path, image, &why, budget)) {
        if (error) *error = why;
        return out;
    }
    const int32_t fw = grid ? frameW / image.Shrink : 0, fh = grid ? frameH / image.Shrink : 0;
    const int32_t rows = fh > 0 ? image.Height / fh : 0;
    std::vector<uint8_t> fitted;
    // Frames are counted as they are made, and a sheet stops before one would pass what is left
    // for backgrounds: the frames of a sheet are all the same size, so the last one made tells
    // what the next takes. need is what the whole sheet would take, for the refusal.
    int64_t bytes = 0, need = 0, last = 0;
    auto add = [&](int32_t left, int32_t top, int32_t w, int32_t h) {
        if (last > 0 && bytes + last > budget.MaxBytes) {
            need += last;
            return true; // counted, not made
        }
        const uint8_t* at =
            image.Pixels.data() + (size_t(top) * size_t(image.Width) + size_t(left)) * 4;
        int32_t pitch = image.Width * 4;
        // Still larger than the screen (by less than twice): averaged down to it, so that
        // every frame is drawn without scaling.
        const int32_t dw = std::min(w, screenW), dh = std::min(h, screenH);
        if ((dw < w || dh < h) && dw > 0 && dh > 0) {
            fitted = Shrink(at, pitch, w, h, dw, dh);
            at = fitted.data();
            pitch = dw * 4;
            w = dw;
            h = dh;
        }
        Sprite3D* f = Sprite3D_FromRegion(at, pitch, w, h, false);
        if (!f) return false;
        Sprite3D_Zoom(f, screenW, screenH);
        out.push_back(f);
        last = Sprite3D_Bytes(f);
        bytes += last;
        need += last;
        return true;
    };
    if (!grid || rows <= 0) {
        add(0, 0, image.Width, image.Height);
    } else {
        for (int32_t i = 0; i < frames; ++i) {
            const int64_t left = int64_t(i / rows) * fw, top = int64_t(i % rows) * fh;
            // Frames past the sheet's right edge are dropped.
            if (left + fw > image.Width || top + fh > image.Height) break;
            if (!add(int32_t(left), int32_t(top), fw, fh)) break;
        }
    }
    if (out.empty() || need > budget.MaxBytes) {
        const int64_t counted = last > 0 ? int64_t(out.size()) + (need - bytes) / last : 0;
        if (error)
            *error = out.empty()
                         ? "no texture for " + std::to_string(image.Width) + " x " +
                               std::to_string(image.Height) + " pixels"
                         : std::to_string(counted) + " frames need " +
                               std::to_string((need + (1 << 20) - 1) >> 20) +
                               " MB, more than the " + std::to_string(budget.MaxBytes >> 20) +
                               " MB left for pictures";
        for (Sprite3D* f : out) Sprite3D_Free(f);
        out.clear();
        return out;
    }
    gResources.BackgroundBytes += bytes;
    return out;
}

DFont* Resource_PlainFont() {
    if (gPlainFont) return gPlainFont;
    // Each dot is 2 x 2 pixels, in a cell one dot wider and two taller, so that the glyph
    // height is close to that of the shipped font at the same scale.
    constexpr int32_t kDot = 2, kCellW = 6 * kDot, kCellH = 9 * kDot, kPerRow = 16;
    constexpr int32_t kRows = (95 + kPerRow - 1) / kPerRow;
    constexpr int32_t kPageW = kPerRow * kCellW, kPageH = kRows * kCellH;
    std::vector<uint8_t> rgba(size_t(kPageW) * kPageH * 4, 0);
    for (int32_t g = 0; g < 95; ++g) {
        const int32_t cx = (g % kPerRow) * kCellW, cy = (g / kPerRow) * kCellH + kDot;
        for (int32_t row = 0; row < 7; ++row)
            for (int32_t col = 0; col < 5; ++col) {
                if (!(kPlainGlyphs[g][row] & (0x10 >> col))) continue;
                for (int32_t dy = 0; dy < kDot; ++dy)
                    for (int32_t dx = 0; dx < kDot; ++dx) {
                        const size_t at =
                            (size_t(cy + row * kDot + dy) * kPageW + size_t(cx + col * kDot + dx)) *
                            4;
                        rgba[at] = rgba[at + 1] = rgba[at + 2] = rgba[at + 3] = 0xFF;
                    }
            }
    }
    Sprite3D* page = Sprite3D_FromPixels(rgba.data(), kPageW, kPageH);
    if (!page) return nullptr;
    DFont* font = DFont_Create(page, 32, 0);
    if (!font) {
        Sprite3D_Free(page);
        return nullptr;
    }
    for (int32_t g = 0; g < 95; ++g) {
        const int32_t x = (g % kPerRow) * kCellW, y = (g / kPerRow) * kCellH;
        if (!DFont_AddGlyph(font, DFontGlyph{x, y, x + kCellW, y + kCellH})) {
            DFont_Free(font);
            return nullptr;
        }
    }
    gPlainFont = font;
    return gPlainFont;
}

void* Resource_SkinForPlayers(void* current, int32_t players) {
    const int32_t index = gResources.SkinIndex;
    if (players < 2 || !current || index < 0 || size_t(index) >= gResources.Skins.size())
        return current;
    if (gLayout.current == current && gLayout.skinIndex == index && gLayout.players == players)
        return gLayout.chosen;
    const std::string& name = gResources.Skins[size_t(index)];
    const std::string stem = name.substr(0, std::min(name.size(), name.rfind('.')));
    void* chosen = current;
    for (int32_t n = std::min(players, kMaxLayoutPlayers); n >= 2; --n) {
        const std::string file = "versus/" + stem + "_" + std::to_string(n) + ".xml";
        std::error_code ec;
        if (!fs::is_regular_file(Resource_ResolvePath("skins/" + file), ec)) continue;
        if (void* layout = Resource_Load(Resource_Skin, file)) chosen = layout;
        break;
    }
    gLayout = {current, index, players, chosen};
    return chosen;
}

void Resource_ScanFolders() {
    bool listed = false;
    std::vector<std::string> replays = Resource_ListFolder("replays", "*.er", &listed);
    if (listed) {
        gResources.Replays.clear();
        for (const std::string& name : replays) gResources.Replays.push_back("replays/" + name);
    }
    std::vector<std::string> skins = Resource_ListFolder("skins", "*.*", &listed);
    if (listed) {
        gResources.Skins = skins;
        const std::string want = Resource_Lower(gResources.SkinSetting);
        for (size_t i = 0; i < skins.size(); ++i)
            if (Resource_Lower(skins[i]) == want) gResources.SkinIndex = int32_t(i);
    }
}

void Resource_FreeAll() {
    for (int32_t kind = 0; kind < 3; ++kind) {
        for (auto& [name, object] : gCaches[kind]) FreeObject(kind, object);
        gCaches[kind].clear();
        gFailures[kind].clear();
    }
    gLayout = LayoutChoice{};
    DFont_Free(gPlainFont);
    gPlainFont = nullptr;
}
