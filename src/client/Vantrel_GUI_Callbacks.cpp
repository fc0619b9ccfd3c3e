#include "Vantrel_GUI_Callbacks.h"

#include "DoublyLinkedList.h"
#include "Platform_Screen.h"
#include "Platform_Sound.h"
#include "Sprite3D.h"
#include "Vantrel_GUI_Particles.h"
#include "Vantrel_GUI_Resources.h"
#include "Vantrel_GUI_Skin.h"
#include "Zelvik_Player.h"
#include "Zelvik_Replay.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

ClientState gClient;

namespace {

const ClientInterfaceOps kInterfaceOps = {
    Client_DrawFieldBlock, Client_DrawNextBlock,  Client_DebugLog,  Client_ServerMessage,
    Client_PlaySound,      Client_StopSound,      Client_PlayMusic, Client_StopMusic,
    Client_DrawHoldBlock,  Client_LineClearEffect};

constexpr uint32_t kOpaque = 0xFF000000;
constexpr uint32_t kGrey = 0xDDDDDD;
constexpr uint32_t kCellJewel = 128;
const char* const kSoundFiles[kSoundCount] = {"ready.wav",
                                              "go.wav",
                                              "tetromino_i.wav",
                                              "tetromino_t.wav",
                                              "tetromino_l.wav",
                                              "tetromino_j.wav",
                                              "tetromino_z.wav",
                                              "tetromino_s.wav",
                                              "tetromino_o.wav",
                                              "tetromino_landing.wav",
                                              "tetromino_lock.wav",
                                              "grade_up.wav",
                                              "section_up.wav",
                                              "lineclear.wav",
                                              "lineclear_fall.wav",
                                              "irs.wav",
                                              "gm.wav",
                                              "siren.wav",
                                              "medal.wav",
                                              "rotate.wav"};

ClientPlayer* FromUser(uintptr_t userdata) {
    return reinterpret_cast<ClientPlayer*>(userdata);
}

std::u16string ToU16(const std::string& s) {
    std::u16string out;
    for (unsigned char c : s) out.push_back(c);
    return out;
}

// The cell at (px, py) with its mask and the outline bar on every open edge.
void DrawCell(int32_t px, int32_t py, uint32_t colour, uint32_t cellFlags, bool jewel,
              bool outlines) {
    const uint32_t c = colour | kOpaque; // cell data already has SetColor's byte order
    Sprite3D_SetColor(gClient.BlockSprite, c, c, c, c);
    Sprite3D_Display(gClient.BlockSprite, px, py);
    Sprite3D_Display(jewel ? gClient.JewelMaskSprite : gClient.MaskSprite, px, py);
    if (!outlines || !gClient.OutlineSprite) return;
    Sprite3D* o = gClient.OutlineSprite;
    // Top, then a quarter turn clockwise each: right, bottom, left.
    static const uint32_t kEdges[4] = {8, 4, 16, 2};
    for (int i = 0; i < 4; ++i) {
        Sprite3D_Rotate(o, 90.0 * i, 0);
        if (cellFlags & kEdges[i]) Sprite3D_Display(o, px, py);
    }
    Sprite3D_Rotate(o, 0, 0);
}

bool SoundReady(int32_t id) {
    return gClient.SoundAvailable && id >= 0 && id < kSoundCount && gClient.Sounds[id];
}
bool MusicReady(int32_t id) {
    return gClient.SoundAvailable && id >= 0 && id < kMusicCount && gClient.Bgm[id];
}

// First file in folder whose name starts with prefix and has an extension ("bgm_01.*").
std::string FindNumbered(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names = Resource_ListFolder(folder, prefix + ".*");
    return names.empty() ? std::string() : folder + "/" + names.front();
}

} // namespace

bool Client_InitState() {
    Client_FreeState();
    gClient.Interface.ops = &kInterfaceOps;
    gClient.Players = DoublyLinkedList_Create(sizeof(ClientPlayer));
    gClient.CurrentMusic = -1;
    gClient.ReplayPattern = u"%mode%_%time_int%.er";
    return gClient.Players != nullptr;
}

void Client_FreeState() {
    if (gClient.Players) {
        for (DoublyLinkedListElement* e = gClient.Players->First; e; e = e->Next)
            Particle_FreeList(static_cast<ClientPlayer*>(DoublyLinkedList_Data(e))->Particles);
        DoublyLinkedList_FreeList(gClient.Players);
    }
    for (Platform_SoundClip* s : gClient.Sounds) Platform_Sound_FreeClip(s);
    for (Platform_Music* m : gClient.Bgm) Platform_Sound_FreeMusic(m);
    // The masks belong to the picture cache.
    Sprite3D_Free(gClient.BlockSprite);
    Sprite3D_Free(gClient.OutlineSprite);
    gClient = ClientState{};
    gClient.CurrentMusic = -1;
}

ClientPlayer* Client_AddClientPlayer(::Player* player) {
    if (!gClient.Players) return nullptr;
    DoublyLinkedList* particles = Particle_CreateList();
    if (!particles) return nullptr;
    auto* cp = static_cast<ClientPlayer*>(DoublyLinkedList_AddElement(gClient.Players));
    if (!cp) {
        DoublyLinkedList_FreeList(particles);
        return nullptr;
    }
    cp->Player = player;
    cp->Particles = particles;
    return cp;
}

bool Client_CreateCellSprites() {
    Sprite3D_Free(gClient.BlockSprite);
    Sprite3D_Free(gClient.OutlineSprite);
    gClient.BlockSprite = Sprite3D_Create(1, 1, 4);
    const uint8_t white[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    Sprite3D_WritePixels(gClient.BlockSprite, white, 1, 1);
    gClient.OutlineSprite = Sprite3D_Create(64, 64, 4);
    std::vector<uint8_t> outline(64 * 64 * 4, 0);
    for (int i = 0; i < 64 * 64; ++i) outline[i * 4 + 3] = 0xFF; // black, keyed out below
    for (int i = 0; i < 64 * 3; ++i)
        outline[i * 4] = outline[i * 4 + 1] = outline[i * 4 + 2] = 0xFF;
    Sprite3D_WritePixels(gClient.OutlineSprite, outline.data(), 64, 64);
    Sprite3D_SetKeyColour(gClient.OutlineSprite, 0x000000);
    gClient.MaskSprite = static_cast<Sprite3D*>(Resource_Load(Resource_Picture, "piece_mask.png"));
    gClient.JewelMaskSprite =
        static_cast<Sprite3D*>(Resource_Load(Resource_Picture, "piece_mask_jewel.png"));
    return gClient.BlockSprite && gClient.OutlineSprite;
}

void Client_ZoomCellSprites(int32_t cellW, int32_t cellH) {
    for (Sprite3D* s :
         {gClient.BlockSprite, gClient.MaskSprite, gClient.JewelMaskSprite, gClient.OutlineSprite})
        if (s) Sprite3D_Zoom(s, cellW, cellH);
}

void Client_LoadSounds() {
    if (!gClient.SoundAvailable) return;
    for (int32_t i = 0; i < kSoundCount; ++i) {
        Platform_Sound_FreeClip(gClient.Sounds[i]);
        gClient.Sounds[i] =
            Platform_Sound_LoadClip(Resource_ResolvePath(std::string("sounds/") + kSoundFiles[i]));
    }
    for (int32_t i = 0; i < kMusicCount; ++i) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "bgm_%02d", i + 1);
        Platform_Sound_FreeMusic(gClient.Bgm[i]);
        const std::string file = FindNumbered("bgm", prefix);
        gClient.Bgm[i] = file.empty() ? nullptr : Platform_Sound_LoadMusic(file);
    }
}

uint32_t Client_BlendLockTint(uint32_t data, int32_t percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == 100) return data;
    const uint32_t w = uint32_t(percent) / 10;
    uint32_t out = data & 0xFF000000;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t c = (data >> shift) & 0xFF, grey = (kGrey >> shift) & 0xFF;
        out |= ((c * 50 + grey * w) / (50 + w)) << shift;
    }
    return out;
}

int32_t Client_DrawFieldBlock(ClientInterface*, int32_t x, int32_t y, uint32_t data,
                              int32_t percent, uint32_t cellFlags, uintptr_t userdata) {
    ClientPlayer* cp = FromUser(userdata);
    if (!cp) return 0;
    DrawCell(cp->FieldX + x * cp->CellW, cp->FieldY + y * cp->CellH,
             Client_BlendLockTint(data, percent), cellFlags, (cellFlags & kCellJewel) != 0, true);
    return 0;
}

int32_t Client_DrawNextBlock(ClientInterface*, int32_t previewNo, int32_t x, int32_t y,
                             uint32_t data, uint32_t cellFlags, uintptr_t userdata) {
    ClientPlayer* cp = FromUser(userdata);
    if (!cp || previewNo < 0 || previewNo >= kClientPreviewCount) return 0;
    const ClientPoint at = cp->NextPos[previewNo];
    DrawCell(at.X + x * cp->CellW, at.Y + y * cp->CellH, data, cellFlags, false, false);
    return 0;
}

int32_t Client_DrawHoldBlock(ClientInterface*, int32_t x, int32_t y, uint32_t data,
                             uint32_t cellFlags, uintptr_t userdata) {
    ClientPlayer* cp = FromUser(userdata);
    if (!cp) return 0;
    DrawCell(cp->HoldX + x * cp->CellW, cp->HoldY + y * cp->CellH, data, cellFlags, false, false);
    return 0;
}

int32_t Client_LineClearEffect(ClientInterface*, const uint8_t*, int32_t, uintptr_t) {
    return 0;
}

int32_t Client_DebugLog(ClientInterface*, const char16_t* text) {
    if (!text) return 0;
    char stamp[16];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    const std::u16string all(text);
    size_t start = 0;
    while (true) {
        const size_t cr = all.find(u'\r', start);
        std::u16string piece = all.substr(start, cr == std::u16string::npos ? cr : cr - start);
        std::erase(piece, u'\n');
        std::u16string line = ToU16(stamp) + u": " + piece;
        if (gClient.OnDebugLine)
            gClient.OnDebugLine(line);
        else
            std::fprintf(stderr, "%s\n", Skin_ToUtf8(line).c_str());
        gClient.DebugLines.push_back(std::move(line));
        if (gClient.DebugLines.size() > 2000) // the log window shows the recent lines
            gClient.DebugLines.erase(gClient.DebugLines.begin(), gClient.DebugLines.begin() + 1000);
        if (cr == std::u16string::npos) break;
        start = cr + 1;
    }
    return 0;
}

int32_t Client_ServerMessage(ClientInterface*, const char16_t* text) {
    const std::u16string message = text ? text : u"";
    if (gClient.OnServerMessage) {
        gClient.OnServerMessage(message);
        return 0;
    }
    Platform_Screen_ShowError("", Skin_ToUtf8(message));
    std::exit(0);
}

int32_t Client_PlaySound(ClientInterface*, int32_t soundId) {
    if (!SoundReady(soundId)) return 0;
    if (soundId == Sound_Siren)
        Platform_Sound_PlayLooping(gClient.Sounds[soundId], 14);
    else
        Platform_Sound_Play(gClient.Sounds[soundId], 20);
    return 0;
}

int32_t Client_StopSound(ClientInterface*, int32_t soundId) {
    if (SoundReady(soundId) && soundId == Sound_Siren) Platform_Sound_StopLooping();
    return 0;
}

int32_t Client_PlayMusic(ClientInterface*, int32_t musicId) {
    if (!MusicReady(musicId)) return 0;
    if (MusicReady(gClient.CurrentMusic)) Platform_Sound_StopMusic();
    Platform_Sound_PlayMusic(gClient.Bgm[musicId], 35);
    gClient.CurrentMusic = musicId;
    return 0;
}

int32_t Client_StopMusic(ClientInterface*) {
    if (!MusicReady(gClient.CurrentMusic)) return 0;
    Platform_Sound_StopMusic();
    gClient.CurrentMusic = -1;
    return 0;
}

void Client_OnPlayerJoined(::Player* player) {
    if (!player || !gClient.Players) return;
    for (DoublyLinkedListElement* e = gClient.Players->First; e; e = e->Next) {
        auto* cp = static_cast<ClientPlayer*>(DoublyLinkedList_Data(e));
        if (cp->Player && cp->Player->Id == player->Id && gClient.RandomizerMenuCreate)
            cp->MainMenu = gClient.RandomizerMenuCreate(cp);
    }
}

void Client_OnPlayerAdded(::Player*, ::Player* player) {
    if (!player) return;
    // The engine hands UserData back with every cell it draws for this player; without it
    // the opponent's field, piece and previews have no layout to land in.
    if (ClientPlayer* cp = Client_AddClientPlayer(player))
        player->UserData = reinterpret_cast<uintptr_t>(cp);
}

void Client_OnPlayerRemoved(::Player*, ::Player* player) {
    if (!player || !gClient.Players) return;
    for (auto* cp = static_cast<ClientPlayer*>(DoublyLinkedList_FirstElement(gClient.Players)); cp;
         cp = static_cast<ClientPlayer*>(DoublyLinkedList_NextElement(gClient.Players))) {
        if (cp->Player && cp->Player->Id == player->Id) {
            // The record's particles go with it; its menus belong to the menu code.
            Particle_FreeList(cp->Particles);
            DoublyLinkedList_DeleteElement(gClient.Players);
            return;
        }
    }
}

std::u16string Client_ReplayFileName(ClientPlayer* player) {
    std::u16string name = Skin_FormatText(gClient.ReplayPattern, player);
    // The name stays one plain file inside replays/: a pattern (or a mode name) holding a
    // folder separator or a leading ".." must not place the file elsewhere or hide it.
    for (char16_t& c : name)
        if (c == u':' || c == u'/' || c == u'\\') c = u'_';
    for (char16_t& c : name) {
        if (c != u'.') break;
        c = u'_';
    }
    return u"replays/" + name;
}

void Client_OnGameEnd(::Player* player, uintptr_t, uintptr_t userdata) {
    ClientPlayer* cp = FromUser(userdata);
    if (!player || !cp || !(player->PlayerFlags & Flag_RecordReplay) || !player->Replay) return;
    const std::u16string name = Client_ReplayFileName(cp);
    // Replay_Save logs the reason; the player, looking at the screen, is told as well.
    if (player->Replay->ops->Save(player->Replay, name.c_str())) return;
    const std::u16string notice = u"Replay not saved: " + name + u" (see the log)";
    Client_DebugLog(&gClient.Interface, notice.c_str());
    gClient.Notice = notice;
    gClient.NoticeUntil = 0;
}
