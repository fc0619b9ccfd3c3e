// Fonts, pictures and skins loaded once per run and shared by every element that names them,
// and the two folder listings the menus and function keys use (replays, skins).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DFont;
struct Sprite3D;

enum ResourceKind : int32_t {
    Resource_Font = 0,    // DFont from "skins/data/fonts/"
    Resource_Picture = 1, // Sprite3D from "skins/data/"
    Resource_Skin = 2,    // SkinElement root from "skins/"
};

// What the pictures of a run may take together, so a folder of huge pictures cannot exhaust the
// memory. The game draws 640 x 480: skin pictures and font pages get room for a skin many times
// over, and a skin picture the size of this budget still loads within about 2 CPU seconds;
// backgrounds, shrunk to the screen while they are decoded, get room for many animated sheets.
constexpr int64_t kPictureTotalBytes = int64_t{128} << 20;
constexpr int64_t kBackgroundTotalBytes = int64_t{384} << 20;

struct ResourceState {
    std::vector<std::string> Replays; // "replays/" + name of each "*.er" file
    std::vector<std::string> Skins;   // bare names of the files in "skins"
    int32_t SkinIndex = 0;
    std::string SkinSetting = "Pexa.xml"; // the ini `Skin` value
    int64_t PictureBytes = 0;             // held by the skin pictures and font pages loaded so far
    int64_t BackgroundBytes = 0;          // held by the backgrounds loaded so far
};
extern ResourceState gResources;

// The cached object for file (names compared case-blind), loading it on the first request.
// A file that fails to load is cached as null and never tried again; *error (when given) then
// says why, on every request. Unknown kinds give null.
void* Resource_Load(int32_t kind, const std::string& file, std::string* error = nullptr);
// The skin to draw for a game of `players` players: with two or more, the selected skin's
// side-by-side layout "skins/versus/<name without extension>_<n>.xml" for the largest n up to
// `players` that exists; otherwise `current` (the selected skin) itself.
void* Resource_SkinForPlayers(void* current, int32_t players);
// One background file cut into its animation frames (frameW x frameH each, column by column;
// the whole picture when the grid is unusable), every frame zoomed to the screen. A picture
// larger than the screen is shrunk while it is decoded, then averaged down to the screen's
// size, so it costs and draws like a picture of the screen's size.
// Empty, with *error saying why, when it cannot be loaded or passes what is left for pictures.
// The caller owns the frames.
std::vector<Sprite3D*> Resource_LoadBackground(const std::string& path, int32_t frameW,
                                               int32_t frameH, int32_t frames, int32_t screenW,
                                               int32_t screenH, std::string* error = nullptr);
// A plain built-in font for texts whose font file is missing (owned here; null when memory
// runs out).
DFont* Resource_PlainFont();
// Rebuilds both listings and the skin index; a folder that cannot be listed keeps its list.
void Resource_ScanFolders();
// Frees every cached object (at shutdown, after the last draw).
void Resource_FreeAll();

// Regular files of folder matching pattern ('*', '?', case-blind), sorted by name; empty when
// the folder cannot be listed (*listed says which).
std::vector<std::string> Resource_ListFolder(const std::string& folder, const std::string& pattern,
                                             bool* listed = nullptr);
// '\' becomes '/'; a missing path is looked up component by component, case-blind.
std::string Resource_ResolvePath(const std::string& path);
// ASCII lower case.
std::string Resource_Lower(std::string s);
