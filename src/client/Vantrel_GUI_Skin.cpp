#include "Vantrel_GUI_Skin.h"

#include "DFont.h"
#include "DoublyLinkedList.h"
#include "Platform_File.h"
#include "Sprite3D.h"
#include "Vantrel_GUI_Callbacks.h"
#include "Vantrel_GUI_Particles.h"
#include "Vantrel_GUI_Resources.h"
#include "Zelvik_Field.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Player.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <system_error>

const SkinCreditLine kSkinCredits[26] = {
    {u"Programmer", 0.8},
    {u"The Zelvik project", 0.7},
    {u"", 0.7},
    {u"Backgrounds", 0.8},
    {u"Generated from source", 0.7},
    {u"by the Zelvik data tools", 0.7},
    {u"", 0.7},
    {u"Special Thanks", 0.8},
    {u"SDL2", 0.7},
    {u"SDL2_mixer", 0.7},
    {u"Expat", 0.7},
    {u"libpng", 0.7},
    {u"libjpeg-turbo", 0.7},
    {u"OpenJPEG", 0.7},
    {u"FreeType", 0.7},
    {u"DejaVu fonts", 0.7},
    {u"Ogg and Vorbis", 0.7},
    {u"zlib", 0.7},
    {u"Dear ImGui", 0.7},
    {u"GoogleTest", 0.7},
    {u"Google Benchmark", 0.7},
    {u"CMake", 0.7},
    {u"Ninja", 0.7},
    {u"GCC", 0.7},
    {u"Debian", 0.7},
    {u"Everyone who plays", 0.7},
};

namespace {

constexpr double kPi = 3.14159265358979323846;

const SkinElementOps kOps = {SkinElement_Clone,
                             SkinElement_Free,
                             SkinElement_LoadFile,
                             SkinElement_ReadNode,
                             SkinElement_AbsolutePosition,
                             SkinElement_Draw};

SkinElement* Child(DoublyLinkedListElement* e) {
    return *static_cast<SkinElement**>(DoublyLinkedList_Data(e));
}

bool AppendChild(SkinElement* parent, SkinElement* child) {
    auto* slot = static_cast<SkinElement**>(DoublyLinkedList_AddElement(parent->Children));
    if (!slot) return false;
    *slot = child;
    return true;
}

// ---- number parsing, independent of the C locale ----

std::string_view Trim(std::string_view s) {
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    return s;
}

double ReadDecimal(std::string_view s) {
    s = Trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && std::isfinite(v) ? v : 0.0;
}

int32_t ReadInteger(std::string_view s) {
    s = Trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    int64_t v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc::result_out_of_range) return s.front() == '-' ? INT32_MIN : INT32_MAX;
    if (r.ec != std::errc()) return 0;
    return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// "a,b": the second part reads as 0 when missing.
std::pair<std::string_view, std::string_view> SplitPair(std::string_view s) {
    const size_t comma = s.find(',');
    if (comma == std::string_view::npos) return {s, std::string_view()};
    return {s.substr(0, comma), s.substr(comma + 1)};
}

// ---- expat into a small tree ----

struct ParseState {
    SkinXmlNode root;
    std::vector<SkinXmlNode*> stack;
    int32_t depth = 0; // includes elements that were cut off
    bool haveRoot = false;
};

void XMLCALL OnStart(void* user, const XML_Char* name, const XML_Char** attrs) {
    auto* st = static_cast<ParseState*>(user);
    ++st->depth;
    if (st->depth > kSkinMaxDepth) return; // too deep: this element and all below are dropped
    SkinXmlNode* node;
    if (!st->haveRoot) {
        node = &st->root;
        st->haveRoot = true;
    } else {
        if (st->stack.empty()) return;
        st->stack.back()->Children.emplace_back();
        node = &st->stack.back()->Children.back();
    }
    node->Tag = name;
    for (int i = 0; attrs[i] && attrs[i + 1]; i += 2)
        node->Attributes.emplace_back(attrs[i], attrs[i + 1]);
    st->stack.push_back(node);
}

void XMLCALL OnEnd(void* user, const XML_Char*) {
    auto* st = static_cast<ParseState*>(user);
    if (st->depth <= kSkinMaxDepth && !st->stack.empty()) st->stack.pop_back();
    --st->depth;
}

bool ParseXml(const std::string& text, SkinXmlNode& out, std::string* error) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) {
        if (error) *error = "out of memory";
        return false;
    }
    ParseState st;
    XML_SetUserData(parser, &st);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    const bool ok = XML_Parse(parser, text.data(), int(text.size()), XML_TRUE) == XML_STATUS_OK;
    if (!ok && error)
        *error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                 std::to_string(XML_GetCurrentLineNumber(parser));
    XML_ParserFree(parser);
    if (!ok || !st.haveRoot) return false;
    out = std::move(st.root);
    return true;
}

// ---- drawing helpers ----

struct Scale {
    double sx, sy;
};

bool Whole(double v) {
    return std::floor(v) == v;
}

void ScaleFont(SkinElement* e, Scale s, double factor = 1.0) {
    DFont_SetScale(e->Font, s.sx * e->FontScaleX * factor, s.sy * e->FontScaleY * factor);
}

void DrawText(DFont* font, int32_t x, int32_t y, const std::u16string& text) {
    DFont_DrawText(font, x, y, text.c_str());
}

Player* EnginePlayer(ClientPlayer* cp) {
    return cp ? cp->Player : nullptr;
}

void DrawReadyGo(SkinElement* e, Scale s, SkinPoint at, Player* p) {
    const int32_t readyTime = p->Settings.ReadyTime;
    if (readyTime <= 0) return;
    const bool ready = p->StateTimer > readyTime / 2;
    const std::u16string word = ready ? u"Ready" : u"Go";
    for (size_t i = 1; i <= word.size(); ++i) {
        const double a =
            ready ? (readyTime - p->StateTimer) * kPi / readyTime - double(i - 1) * kPi / 10
                  : (readyTime / 2.0 - p->StateTimer) * kPi / readyTime - double(i - 1) * kPi / 4;
        const double k = std::max(std::cos(a) - 0.2, 0.0) + 1.0;
        ScaleFont(e, s, k);
        const int32_t W = DFont_TextWidth(e->Font, word.c_str());
        const int32_t H = DFont_TextHeight(e->Font, word.c_str());
        const int32_t before = DFont_TextWidth(e->Font, word.substr(0, i - 1).c_str());
        const int32_t left = RoundPixel(s.sx * at.X + (s.sx * e->Width - W) / 2 + before);
        // The word is centred in the field's pixel height.
        const int32_t top = RoundPixel(s.sy * at.Y + (s.sy * e->Height - H) / 2);
        DrawText(e->Font, left, top, word.substr(i - 1, 1));
    }
}

void DrawCredits(SkinElement* e, Scale s, SkinPoint at, Player* p) {
    if (p->TimeLimit <= 0) return;
    constexpr int32_t n = 26;
    const double fieldH = s.sy * e->Height;
    for (int32_t i = 0; i < n; ++i) {
        const SkinCreditLine& line = kSkinCredits[i];
        ScaleFont(e, s, line.Scale);
        const int32_t w = DFont_TextWidth(e->Font, line.Text);
        const int32_t h = DFont_TextHeight(e->Font, line.Text);
        const int32_t top =
            RoundPixel(fieldH + i * 30.0 - (30.0 * n + fieldH) * p->TimeCounter / p->TimeLimit);
        if (top < 0 || top > RoundPixel(fieldH - h)) continue;
        DFont_DrawText(e->Font, RoundPixel(s.sx * at.X + (s.sx * e->Width - w) / 2),
                       RoundPixel(s.sy * at.Y + top), line.Text);
    }
}

void DrawField(SkinElement* e, Scale s, SkinPoint at, ClientPlayer* cp) {
    Player* p = EnginePlayer(cp);
    if (!p) return;
    // A networked player gets its field from its mode at the first start; "Ready" shows while
    // it waits for the others also before that.
    if (e->Font) {
        ScaleFont(e, s);
        const int32_t x = RoundPixel(at.X * s.sx), y = RoundPixel(at.Y * s.sy);
        // An opponent's ended game stays on show until the next starts: say it is over, also
        // once its game-over animation has run out.
        const PlayerEnding ending = Player_Ending(*p);
        const bool ended = ending != PlayerEnding::None;
        if (p->IsRemote && ended) {
            const int32_t h = DFont_TextHeight(e->Font, u"Game Over");
            DrawText(e->Font, x, y + (p->ReadyFlag ? h : 0),
                     ending == PlayerEnding::GameOver ? u"Game Over" : u"Finished");
        }
        if ((p->State == State_Idle || (p->IsRemote && ended)) && p->ReadyFlag)
            DrawText(e->Font, x, y, u"Ready");
        if ((p->PlayerFlags & Flag_TimeLimitActive) && p->TimeLimit > 0) {
            const int64_t percent = int64_t(p->TimeCounter) * 100 / p->TimeLimit;
            DrawText(e->Font, x, y, Skin_FromUtf8(std::to_string(percent) + "%"));
            DrawCredits(e, s, at, p);
        }
        if (p->State == State_Ready) DrawReadyGo(e, s, at, p);
    }
    Field* f = p->Field;
    if (!f) return;
    const int32_t cellsW = f->ops->GetWidth(f), cellsH = f->ops->GetHeight(f);
    cp->FieldX = RoundPixel(at.X * s.sx);
    cp->FieldY = RoundPixel(at.Y * s.sy);
    cp->FieldWidth = RoundPixel(e->Width * s.sx);
    cp->FieldHeight = RoundPixel(e->Height * s.sy);
    if (cellsW <= 0 || cellsH <= 0) return;
    cp->CellW = cp->FieldWidth / cellsW;
    cp->CellH = cp->FieldHeight / cellsH;
    Client_ZoomCellSprites(cp->CellW, cp->CellH);
    p->ops->DrawField(p, 0);
    Particle_DrawList(cp->Particles);
}

void DrawImage(SkinElement* e, Scale s, SkinPoint at, ClientPlayer* cp) {
    Sprite3D* img = e->Image;
    const int32_t x = RoundPixel(at.X * s.sx), y = RoundPixel(at.Y * s.sy);
    const int32_t w = RoundPixel(s.sx * e->Width), h = RoundPixel(s.sy * e->Height);
    if (e->ClipWidth == 0 || e->ClipHeight == 0) {
        // The picture is shared with clipped elements: show all of it.
        Sprite3D_Clip(img, 0, 0, img->ImageWidth, img->ImageHeight);
        Sprite3D_Zoom(img, w, h);
        Sprite3D_Display(img, x, y);
        return;
    }
    Player* p = EnginePlayer(cp);
    if (!p || e->ClipIndex.empty()) return;
    uint32_t value = 0;
    if (!p->ops->GetValue(p, e->ClipIndex.c_str(), &value) || int32_t(value) < 0) return;
    int32_t u = 0, v = 0;
    if (!Skin_ClipOrigin(int32_t(value), e->ClipWidth, e->ClipHeight, img->ImageHeight, &u, &v))
        return;
    Sprite3D_Clip(img, u, v, e->ClipWidth, e->ClipHeight);
    Sprite3D_Zoom(img, w, h);
    Sprite3D_Display(img, x, y);
}

void ReplaceAll(std::u16string& text, const std::u16string& from, const std::u16string& to) {
    if (from.empty()) return;
    for (size_t pos = text.find(from); pos != std::u16string::npos;
         pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

std::u16string Two(int64_t v) {
    std::string s = std::to_string(v);
    if (s.size() < 2) s.insert(0, 2 - s.size(), '0');
    return Skin_FromUtf8(s.substr(0, 2));
}

int64_t LastTwoDigits(int64_t v) {
    return v < 0 ? (-v) % 100 : v % 100;
}

} // namespace

// ---- text ----

std::string Skin_ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | c >> 6));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | c >> 12));
            out.push_back(char(0x80 | (c >> 6 & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | c >> 18));
            out.push_back(char(0x80 | (c >> 12 & 0x3F)));
            out.push_back(char(0x80 | (c >> 6 & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string Skin_FromUtf8(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const uint8_t b = uint8_t(text[i]);
        uint32_t c = 0xFFFD;
        size_t n = 1;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4;
        }
        if (n > 1) {
            if (i + n > text.size()) {
                n = 1;
            } else {
                c = b & (0x7F >> n);
                for (size_t k = 1; k < n; ++k) {
                    const uint8_t t = uint8_t(text[i + k]);
                    if ((t & 0xC0) != 0x80) {
                        c = 0xFFFD;
                        n = k;
                        break;
                    }
                    c = c << 6 | (t & 0x3F);
                }
            }
        }
        i += n;
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(char16_t(c > 0x10FFFF ? 0xFFFD : c));
        }
    }
    return out;
}

std::u16string Skin_FormatText(const std::u16string& input, ClientPlayer* cp) {
    std::u16string text = input;
    Player* p = EnginePlayer(cp);
    if (p && p->Settings.FramesPerSecond != 0) {
        const double fps = p->Settings.FramesPerSecond;
        const int64_t s = int64_t(std::trunc(p->GameTime / fps));
        const int64_t cc = LastTwoDigits(RoundPixel(p->GameTime * 100.0 / fps));
        const std::u16string time = Two(s / 60) + u":" + Two(s % 60) + u":" + Two(cc);
        std::u16string timeInt = u"00:00:00";
        const int64_t f = int64_t(std::trunc(fps));
        if (f != 0) {
            const int64_t si = p->GameTime / f;
            timeInt = Two(si / 60) + u":" + Two(si % 60) + u":" +
                      Two(LastTwoDigits(int64_t(p->GameTime) * 100 / f));
        }
        if (p->ValueList) {
            for (DoublyLinkedListElement* e = p->ValueList->First; e; e = e->Next) {
                const auto* kv = static_cast<const KeyValueEntry*>(DoublyLinkedList_Data(e));
                if (kv->type != 0 || kv->size < 4 || !kv->data) continue;
                int32_t value;
                std::memcpy(&value, kv->data, 4);
                const size_t len = std::char_traits<char16_t>::length(kv->key);
                const std::u16string key(kv->key, std::min<size_t>(len, 255));
                ReplaceAll(text, u"%" + key + u"%", Skin_FromUtf8(std::to_string(value)));
            }
        }
        ReplaceAll(text, u"%time%", time);
        ReplaceAll(text, u"%time_int%", timeInt);
        if (p->ModeList && p->ModeList->First) {
            const auto* mode =
                static_cast<const ModeEntry*>(DoublyLinkedList_Data(p->ModeList->First));
            char16_t name[33] = {};
            std::memcpy(name, mode->id.name, sizeof mode->id.name);
            ReplaceAll(text, u"%mode%", name);
        }
    } else {
        ReplaceAll(text, u"%time%", u"00:00:00");
        ReplaceAll(text, u"%time_int%", u"00:00:00");
    }
    if (p) {
        // The name the player chose, so a layout can title each player's column; the engine's
        // "Player<id>" when it has none.
        size_t length = 0;
        while (length < size_t(kNameLength) && p->NameBuffer[length]) ++length;
        std::u16string name(p->NameBuffer, length);
        if (name.empty() && p->ops->GetName) name = p->ops->GetName(p);
        ReplaceAll(text, u"%name%", name);
    }
    ReplaceAll(text, u"%fps%", Skin_FromUtf8(std::to_string(gClient.DisplayFPS)));
    return text;
}

std::u16string Skin_DisplayText(const std::u16string& input, ClientPlayer* cp) {
    std::u16string text = Skin_FormatText(input, cp);
    // A placeholder still standing names a value the player does not have (yet): it shows as
    // nothing rather than as its key. A lone "%" (a percentage) stays.
    auto isKeyChar = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'_';
    };
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%') {
            size_t j = i + 1;
            while (j < text.size() && isKeyChar(text[j])) ++j;
            if (j > i + 1 && j < text.size() && text[j] == u'%') {
                i = j;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool Skin_ClipOrigin(int64_t n, int32_t clipWidth, int32_t clipHeight, int32_t sheetHeight,
                     int32_t* u, int32_t* v) {
    if (n < 0 || clipWidth <= 0 || clipHeight <= 0 || sheetHeight <= 0) return false;
    // Clips run down the first column, then down the next: the number of columns passed is
    // the smallest k with n*ch - k*H + ch <= H.
    const int64_t top = n * clipHeight;
    const int64_t over = top + clipHeight - sheetHeight;
    const int64_t k = over > 0 ? (over + sheetHeight - 1) / sheetHeight : 0;
    const int64_t uu = k * clipWidth, vv = top - k * sheetHeight;
    *u = int32_t(std::clamp<int64_t>(uu, INT32_MIN, INT32_MAX));
    *v = int32_t(std::clamp<int64_t>(vv, INT32_MIN, INT32_MAX));
    return true;
}

// ---- the element ----

const std::string* SkinXmlNode::Attribute(const char* name) const {
    for (const auto& [key, value] : Attributes)
        if (key == name) return &value;
    return nullptr;
}

SkinElement* SkinElement_New() {
    SkinElement* e = new (std::nothrow) SkinElement{};
    if (!e) return nullptr;
    e->ops = &kOps;
    e->Children = DoublyLinkedList_Create(sizeof(SkinElement*));
    if (!e->Children) {
        delete e;
        return nullptr;
    }
    e->FontScaleX = e->FontScaleY = 1.0;
    return e;
}

SkinElement* SkinElement_Clone(SkinElement* e) {
    if (!e) return nullptr;
    SkinElement* c = SkinElement_New();
    if (!c) return nullptr;
    DoublyLinkedList* children = c->Children;
    *c = *e;
    c->Children = children;
    return c;
}

int32_t SkinElement_Free(SkinElement* e) {
    if (!e) return 0;
    DoublyLinkedList_FreeList(e->Children);
    delete e;
    return 0;
}

void SkinElement_FreeTree(SkinElement* e) {
    if (!e) return;
    for (DoublyLinkedListElement* c = e->Children->First; c; c = c->Next)
        SkinElement_FreeTree(Child(c));
    SkinElement_Free(e);
}

int32_t SkinElement_LoadText(SkinElement* e, const std::string& xml, std::string* error) {
    if (!e) return 0;
    SkinXmlNode root;
    if (!ParseXml(xml, root, error)) return 0;
    e->ops->ReadNode(e, &root);
    return 1;
}

int32_t SkinElement_LoadFile(SkinElement* e, const char* path) {
    return SkinElement_ReadFile(e, path);
}

int32_t SkinElement_ReadFile(SkinElement* e, const char* path, std::string* error) {
    std::string why;
    if (!error) error = &why;
    if (!e || !path) return 0;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        *error = std::filesystem::is_symlink(path, ec) ? "no such file (a link to nothing)"
                                                       : "no such file";
        return 0;
    }
    std::string xml;
    if (!Platform_File_Read(path, size_t{8} << 20, xml, error)) // no skin is megabytes of XML
        return 0;
    return SkinElement_LoadText(e, xml, error);
}

namespace {

struct MenuSearch {
    bool player = false;   // a <player id="1"> was found
    bool menu = false;     // a <menu> drawn for that player
    bool withFont = false; // ... that has a font
};

// Walks the tree as drawing does: classes are not drawn, a player element with an id selects
// that player for its subtree.
void FindMenu(SkinElement* e, int32_t playerId, MenuSearch* found) {
    if (!e || e->Kind == SkinKind_Class) return;
    if (e->Kind == SkinKind_Player && e->Id != 0) playerId = e->Id;
    if (playerId == 1) found->player = true;
    if (e->Kind == SkinKind_Menu && playerId == 1) {
        found->menu = true;
        found->withFont |= e->Font != nullptr;
    }
    for (DoublyLinkedListElement* c = e->Children->First; c; c = c->Next)
        FindMenu(Child(c), playerId, found);
}

} // namespace

bool Skin_Usable(SkinElement* root, std::string* why) {
    MenuSearch found;
    FindMenu(root, 0, &found);
    if (found.withFont) return true;
    if (why)
        *why = !found.player ? "it has no <player id=\"1\"> element, so no menu"
               : !found.menu ? "it has no <menu> inside <player id=\"1\">"
                             : "its <menu> has no font";
    return false;
}

void SkinElement_ApplyClass(SkinElement* e, const std::string& className) {
    const std::string want = Resource_Lower(className);
    if (Resource_Lower(e->Name) == want) return;
    SkinElement* root = e;
    for (SkinElement* a = e->Parent; a; a = a->Parent) {
        if (Resource_Lower(a->Name) == want) return;
        root = a;
    }
    for (DoublyLinkedListElement* c = root->Children->First; c; c = c->Next) {
        SkinElement* cls = Child(c);
        if (cls->Kind != SkinKind_Class || Resource_Lower(cls->Name) != want) continue;
        for (DoublyLinkedListElement* t = cls->Children->First; t; t = t->Next) {
            SkinElement* copy = SkinElement_Clone(Child(t));
            if (!copy) continue;
            copy->Parent = e;
            if (!AppendChild(e, copy)) SkinElement_Free(copy);
        }
    }
}

int32_t SkinElement_ReadNode(SkinElement* e, const SkinXmlNode* node) {
    if (!e || !node) return 0;
    static const std::pair<const char*, int32_t> kTags[] = {
        {"skin", SkinKind_Skin},   {"class", SkinKind_Class},   {"text", SkinKind_Text},
        {"image", SkinKind_Image}, {"field", SkinKind_Field},   {"next", SkinKind_Next},
        {"hold", SkinKind_Hold},   {"player", SkinKind_Player}, {"menu", SkinKind_Menu}};
    const std::string tag = Resource_Lower(node->Tag);
    e->Kind = SkinKind_Skin;
    for (const auto& [name, kind] : kTags)
        if (tag == name) e->Kind = kind;
    auto attr = [&](const char* name) -> const std::string* {
        const std::string* v = node->Attribute(name);
        return v && !v->empty() ? v : nullptr;
    };
    if (const std::string* v = attr("name")) e->Name = *v;
    if (const std::string* v = attr("class")) SkinElement_ApplyClass(e, *v);
    if (const std::string* v = attr("size")) {
        const auto [a, b] = SplitPair(*v);
        e->Width = ReadDecimal(a);
        e->Height = ReadDecimal(b);
    }
    if (const std::string* v = attr("position")) {
        const auto [a, b] = SplitPair(*v);
        e->X = ReadDecimal(a);
        e->Y = ReadDecimal(b);
    }
    if (const std::string* v = attr("file"); v && e->Kind == SkinKind_Image)
        e->Image = static_cast<Sprite3D*>(Resource_Load(Resource_Picture, *v));
    if (const std::string* v = attr("id")) e->Id = ReadInteger(*v);
    if (const std::string* v = attr("font")) {
        e->Font = static_cast<DFont*>(Resource_Load(Resource_Font, *v));
        if (!e->Font) e->Font = Resource_PlainFont(); // texts stay readable without the file
    }
    if (const std::string* v = attr("fontsize")) {
        const auto [a, b] = SplitPair(*v);
        e->FontScaleX = ReadDecimal(a);
        e->FontScaleY = ReadDecimal(b);
    } else {
        e->FontScaleX = e->FontScaleY = 1.0;
    }
    if (const std::string* v = attr("alignment")) {
        e->Alignment = 0;
        std::string_view rest = *v;
        while (true) {
            const size_t comma = rest.find(',');
            std::string word = Resource_Lower(std::string(Trim(rest.substr(0, comma))));
            while (!word.empty() && (word.back() == ' ' || word.back() == '\t')) word.pop_back();
            if (word == "right") e->Alignment |= SkinAlign_Right;
            if (word == "bottom") e->Alignment |= SkinAlign_Bottom;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    if (const std::string* v = attr("content")) e->Content = Skin_FromUtf8(*v);
    if (const std::string* v = attr("clipsize")) {
        const auto [a, b] = SplitPair(*v);
        e->ClipWidth = ReadInteger(a);
        e->ClipHeight = ReadInteger(b);
    }
    if (const std::string* v = attr("clipindex")) e->ClipIndex = Skin_FromUtf8(*v);
    for (const SkinXmlNode& childNode : node->Children) {
        SkinElement* child = SkinElement_New();
        if (!child) continue;
        child->Parent = e;
        SkinElement_ReadNode(child, &childNode);
        if (!AppendChild(e, child)) SkinElement_FreeTree(child);
    }
    return 0;
}

int32_t SkinElement_AbsolutePosition(SkinElement* e, SkinPoint* point) {
    for (; e && point; e = e->Parent) {
        point->X += e->X;
        point->Y += e->Y;
        if (!e->Parent) break;
        if (e->Alignment & SkinAlign_Right) point->X += e->Parent->Width;
        if (e->Alignment & SkinAlign_Bottom) point->Y += e->Parent->Height;
    }
    return 0;
}

int32_t SkinElement_Draw(SkinElement* e, int32_t screenWidth, int32_t screenHeight,
                         ClientPlayer* cp) {
    if (!e || e->Kind == SkinKind_Class) return 0;
    const Scale s{screenWidth / 320.0, screenHeight / 240.0};
    SkinPoint at{0, 0};
    SkinElement_AbsolutePosition(e, &at);
    const int32_t x = RoundPixel(at.X * s.sx), y = RoundPixel(at.Y * s.sy);
    Player* p = EnginePlayer(cp);
    switch (e->Kind) {
    case SkinKind_Player:
        if (e->Id != 0 && gClient.Players && e->Id - 1 >= 0 &&
            e->Id - 1 < DoublyLinkedList_CountList(gClient.Players))
            cp = static_cast<ClientPlayer*>(
                DoublyLinkedList_SelectElement(gClient.Players, e->Id - 1));
        break;
    case SkinKind_Field:
        DrawField(e, s, at, cp);
        break;
    case SkinKind_Next:
        if (p && e->Id >= 1 && e->Id <= kClientPreviewCount) {
            // Previews are numbered from 1 in the skin and from 0 in the engine.
            cp->NextPos[e->Id - 1] = ClientPoint{x, y};
            cp->CellW = RoundPixel(e->Width * s.sx);
            cp->CellH = RoundPixel(e->Height * s.sy);
            Client_ZoomCellSprites(cp->CellW, cp->CellH);
            p->ops->DrawNextQueue(p, e->Id - 1, 0);
        }
        break;
    case SkinKind_Hold:
        if (p) {
            cp->HoldX = x;
            cp->HoldY = y;
            cp->CellW = RoundPixel(e->Width * s.sx);
            cp->CellH = RoundPixel(e->Height * s.sy);
            Client_ZoomCellSprites(cp->CellW, cp->CellH);
            p->ops->DrawHold(p, 0);
        }
        break;
    case SkinKind_Text:
        if (e->Font) {
            ScaleFont(e, s);
            const bool filter = !Whole(s.sx * e->FontScaleX) || !Whole(s.sy * e->FontScaleY);
            if (filter) Sprite3D_SetFiltering(true);
            DrawText(e->Font, x, y, Skin_DisplayText(e->Content, cp));
            if (filter) Sprite3D_SetFiltering(false);
        }
        break;
    case SkinKind_Image:
        if (e->Image) DrawImage(e, s, at, cp);
        break;
    case SkinKind_Menu:
        if (p && p->State == State_Idle && e->Font && gClient.MenuUpdate) {
            ScaleFont(e, s);
            const bool filter = !Whole(s.sx * e->FontScaleX) || !Whole(s.sy * e->FontScaleY);
            if (filter) Sprite3D_SetFiltering(true);
            gClient.MenuUpdate(cp, e->Font, x, y, RoundPixel(e->Width * s.sx),
                               RoundPixel(e->Height * s.sy), s.sx * e->FontScaleX,
                               s.sy * e->FontScaleY);
            if (filter) Sprite3D_SetFiltering(false);
        }
        break;
    default:
        break;
    }
    for (DoublyLinkedListElement* c = e->Children->First; c; c = c->Next)
        SkinElement_Draw(Child(c), screenWidth, screenHeight, cp);
    return 0;
}
