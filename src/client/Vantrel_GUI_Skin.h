// Skins: an XML layout read into a tree of elements in a 320 x 240 design space, drawn once
// per frame: fields, previews, hold boxes, texts with placeholders, pictures, clips, menus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ClientPlayer;
struct DFont;
struct DoublyLinkedList;
struct SkinElement;
struct Sprite3D;

enum SkinKind : int32_t {
    SkinKind_Skin = 0, // also every unknown tag
    SkinKind_Class = 1,
    SkinKind_Text = 2,
    SkinKind_Image = 3,
    SkinKind_Field = 4,
    SkinKind_Next = 5,
    SkinKind_Hold = 6,
    SkinKind_Player = 7,
    SkinKind_Menu = 8,
};

enum SkinAlignment : int32_t { SkinAlign_Right = 1, SkinAlign_Bottom = 2 };

// Nesting deeper than this is cut off when a skin file is read.
constexpr int32_t kSkinMaxDepth = 64;

// A parsed XML element: tag, attributes in document order, element children.
struct SkinXmlNode {
    std::string Tag;
    std::vector<std::pair<std::string, std::string>> Attributes;
    std::vector<SkinXmlNode> Children;
    const std::string* Attribute(const char* name) const; // exact name; null when absent
};

struct SkinPoint {
    double X, Y;
};

struct SkinElementOps {
    SkinElement* (*Clone)(SkinElement* e);
    int32_t (*Free)(SkinElement* e);
    int32_t (*LoadFile)(SkinElement* e, const char* path);
    int32_t (*ReadNode)(SkinElement* e, const SkinXmlNode* node);
    int32_t (*AbsolutePosition)(SkinElement* e, SkinPoint* point);
    int32_t (*Draw)(SkinElement* e, int32_t screenWidth, int32_t screenHeight,
                    ClientPlayer* player);
};
static_assert(sizeof(SkinElementOps) == 6 * sizeof(void*));

struct SkinElement {
    const SkinElementOps* ops;
    int32_t Kind;
    DoublyLinkedList* Children; // SkinElement pointers, document order
    SkinElement* Parent;
    std::string Name;
    double Width, Height; // design units
    double X, Y;          // design units, relative to the parent
    Sprite3D* Image;      // shared, from the picture cache
    int32_t Id;
    DFont* Font; // shared, from the font cache
    double FontScaleX, FontScaleY;
    int32_t Alignment; // SkinAlignment bits
    std::u16string Content;
    int32_t ClipWidth, ClipHeight;
    std::u16string ClipIndex; // value-store key
};

// Null when memory runs out.
SkinElement* SkinElement_New();
SkinElement* SkinElement_Clone(SkinElement* e);
// The element alone (children and shared resources stay).
int32_t SkinElement_Free(SkinElement* e);
// The element and its whole subtree.
void SkinElement_FreeTree(SkinElement* e);
// 1 when the file parsed and was read into e; 0 (e unchanged) otherwise.
int32_t SkinElement_LoadFile(SkinElement* e, const char* path);
// Same, with *error (when given) saying why it failed: "no such file", "larger than 8 MB", or
// the XML error and its line.
int32_t SkinElement_ReadFile(SkinElement* e, const char* path, std::string* error = nullptr);
// Same from XML text; *error (when given) says what was wrong.
int32_t SkinElement_LoadText(SkinElement* e, const std::string& xml, std::string* error = nullptr);
// Whether a skin read into root gives the first player a menu to start games and quit from:
// a <menu> with a font inside <player id="1">. False with *why (when given) saying what is
// missing.
bool Skin_Usable(SkinElement* root, std::string* why = nullptr);
int32_t SkinElement_ReadNode(SkinElement* e, const SkinXmlNode* node);
int32_t SkinElement_AbsolutePosition(SkinElement* e, SkinPoint* point);
int32_t SkinElement_Draw(SkinElement* e, int32_t screenWidth, int32_t screenHeight,
                         ClientPlayer* player);
void SkinElement_ApplyClass(SkinElement* e, const std::string& className);

// Placeholder replacement: %time%, %time_int%, value-store keys, %mode%, %fps%.
std::u16string Skin_FormatText(const std::u16string& text, ClientPlayer* player);
// What a text element shows: the same, with every placeholder left unreplaced removed.
std::u16string Skin_DisplayText(const std::u16string& text, ClientPlayer* player);
// The clip source rectangle's top-left for clip n of a sheet (0 false when nothing to draw).
bool Skin_ClipOrigin(int64_t n, int32_t clipWidth, int32_t clipHeight, int32_t sheetHeight,
                     int32_t* u, int32_t* v);

// The closing credits: 26 lines of a text and a scale.
struct SkinCreditLine {
    const char16_t* Text;
    double Scale;
};
extern const SkinCreditLine kSkinCredits[26];

std::string Skin_ToUtf8(const std::u16string& text);
std::u16string Skin_FromUtf8(const std::string& text);
