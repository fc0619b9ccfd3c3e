// The client's side of the engine's callbacks: cell drawing, log, server message, sound and
// music; the network callbacks and the game-over hook; the per-player client record and the
// process-wide client state they share with the main loop, the skin and the menus.
#pragma once

#include "Zelvik_ClientInterface.h"

#include <cstdint>
#include <string>
#include <vector>

struct DoublyLinkedList;
struct DFont;
struct Menu;
struct Platform_Music;
struct Platform_SoundClip;
struct Player;
struct Sprite3D;

constexpr int32_t kClientKeyCount = 12;
constexpr int32_t kClientPreviewCount = 64;
constexpr int32_t kMusicCount = 4;

struct ClientPoint {
    int32_t X, Y;
};

// One element of the Players list; zeroed when created.
struct ClientPlayer {
    ::Player* Player;
    ClientPoint NextPos[kClientPreviewCount]; // written by the skin's next elements
    int32_t HoldX, HoldY;
    int32_t FieldX, FieldY;
    int32_t FieldWidth, FieldHeight;
    int32_t CellW, CellH; // written by the skin element that is drawing
    Menu* MainMenu;
    Menu* ReplayMenu;
    int32_t Keys[kClientKeyCount];
    int32_t JoystickID;
    int32_t JoyBindings[kClientKeyCount];
    int32_t PovBindings[kClientKeyCount];
    int32_t Input;
    int32_t LastInput;
    DoublyLinkedList* Particles; // Particle pointers
};

using ClientMenuCreate = Menu* (*)(ClientPlayer* player);
using ClientMenuUpdate = int32_t (*)(ClientPlayer* player, DFont* font, int32_t x, int32_t y,
                                     int32_t width, int32_t height, double fontScaleX,
                                     double fontScaleY);

// Process-wide client state. The main loop fills the hooks it provides; every unset hook
// simply does nothing.
struct ClientState {
    ClientInterface Interface; // handed to Game_Create
    DoublyLinkedList* Players; // ClientPlayer elements
    Platform_SoundClip* Sounds[kSoundCount + 1];
    Platform_Music* Bgm[kMusicCount];
    int32_t SoundAvailable;
    int32_t CurrentMusic; // -1 = none
    Sprite3D* BlockSprite;
    Sprite3D* MaskSprite;
    Sprite3D* JewelMaskSprite;
    Sprite3D* OutlineSprite;
    int32_t DisplayFPS; // passes latched once a second
    std::u16string ReplayPattern;
    std::vector<std::u16string> DebugLines;
    // Shows one log line (the debug window); stderr when unset.
    void (*OnDebugLine)(const std::u16string& line);
    // Shows the server's message and ends the program; unset: an error box, then exit.
    void (*OnServerMessage)(const std::u16string& text);
    ClientMenuCreate RandomizerMenuCreate; // called by Client_OnPlayerJoined
    ClientMenuUpdate MenuUpdate;           // called by the skin's menu elements
    // A line drawn over the game (a replay that could not be saved) for kNoticeMs from the
    // first pass that shows it.
    std::u16string Notice;
    uint32_t NoticeUntil; // 0 until it is first drawn
};
inline constexpr uint32_t kNoticeMs = 15000;

extern ClientState gClient;

// Sets up the Players list and the interface table; -1 music; false when memory runs out.
bool Client_InitState();
// Frees the cell sprites, sounds and music and the Players list (not the engine players).
void Client_FreeState();
// Appends a zeroed ClientPlayer with its own particle list; null when memory runs out.
ClientPlayer* Client_AddClientPlayer(::Player* player);
// The block (white 1x1), outline (64x64 with a white 3-pixel top bar) and the two masks
// ("piece_mask.png", "piece_mask_jewel.png" from the picture cache).
bool Client_CreateCellSprites();
// Zooms the four cell sprites to one cell.
void Client_ZoomCellSprites(int32_t cellW, int32_t cellH);
// Loads the twenty effects and the four numbered music files from the run folder
// (gClient.SoundAvailable must be set first; does nothing otherwise).
void Client_LoadSounds();

// The colour a landed cell shows: data unchanged at 100 (or with percent below 10), else
// blended towards light grey. percent is clamped to 0..100.
uint32_t Client_BlendLockTint(uint32_t data, int32_t percent);

int32_t Client_DrawFieldBlock(ClientInterface* ci, int32_t x, int32_t y, uint32_t data,
                              int32_t percent, uint32_t cellFlags, uintptr_t userdata);
int32_t Client_DrawNextBlock(ClientInterface* ci, int32_t previewNo, int32_t x, int32_t y,
                             uint32_t data, uint32_t cellFlags, uintptr_t userdata);
int32_t Client_DebugLog(ClientInterface* ci, const char16_t* text);
int32_t Client_ServerMessage(ClientInterface* ci, const char16_t* text);
int32_t Client_PlaySound(ClientInterface* ci, int32_t soundId);
int32_t Client_StopSound(ClientInterface* ci, int32_t soundId);
int32_t Client_PlayMusic(ClientInterface* ci, int32_t musicId);
int32_t Client_StopMusic(ClientInterface* ci);
int32_t Client_DrawHoldBlock(ClientInterface* ci, int32_t x, int32_t y, uint32_t data,
                             uint32_t cellFlags, uintptr_t userdata);
int32_t Client_LineClearEffect(ClientInterface* ci, const uint8_t* rowFlags, int32_t height,
                               uintptr_t userdata);

// Network callbacks for Player_Connect and the persistent game-over hook (event 10).
void Client_OnPlayerJoined(::Player* player);
void Client_OnPlayerAdded(::Player* ignored, ::Player* player);
void Client_OnPlayerRemoved(::Player* ignored, ::Player* player);
void Client_OnGameEnd(::Player* player, uintptr_t argument, uintptr_t userdata);
// The replay file name the game-over hook saves under ("replays/" + pattern, ':' -> '_').
std::u16string Client_ReplayFileName(ClientPlayer* player);
