#include "Vantrel_GUI.h"

#include "DFont.h"
#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "IniFile.h"
#include "Joystick.h"
#include "MameInp.h"
#include "Platform_DebugWindow.h"
#include "Platform_Dialog.h"
#include "Platform_File.h"
#include "Platform_Folder.h"
#include "Platform_Keyboard.h"
#include "Platform_Library.h"
#include "Platform_Path.h"
#include "Platform_Screen.h"
#include "Platform_Sound.h"
#include "Sprite3D.h"
#include "Vantrel_Common.h"
#include "Vantrel_GUI_Callbacks.h"
#include "Vantrel_GUI_Menu.h"
#include "Vantrel_GUI_Particles.h"
#include "Vantrel_GUI_Resources.h"
#include "Vantrel_GUI_Settings.h"
#include "Vantrel_GUI_Skin.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Game.h"
#include "Zelvik_Player.h"
#include "Zelvik_Replay.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>

ClientMain gMain;

namespace {

constexpr int32_t kDikQ = 16, kDik0 = 11;

std::u16string u16(const std::string& s) {
    return Platform_Path_FromUtf8(s);
}
std::string u8(const std::u16string& s) {
    return Platform_Path_ToUtf8(s);
}

void debugLog(const std::string& text) {
    Client_DebugLog(&gClient.Interface, u16(text).c_str());
}

// A line over the game for a while (kNoticeMs): something the player asked for (a screenshot,
// a capture, a skin) did not work. The log window sits behind the game, so it is not enough.
void notice(const std::string& text) {
    gClient.Notice = Skin_FromUtf8(text);
    gClient.NoticeUntil = 0;
}

// The layout used when no skin file loads: the field, the pieces to come, the held piece, the
// numbers and the menu, plain, so that the game stays playable.
constexpr const char* kPlainSkinXml = R"(<skin name="plain">
  <player id="1">
    <text font="f1.fnt" fontsize="0.5,0.5" position="4,4" content="%mode%"/>
    <field font="f1.fnt" fontsize="0.75,0.75" position="120,44" size="80,160"/>
    <next id="1" position="144,10" size="8,8"/>
    <next id="2" position="211,44" size="5,5"/>
    <next id="3" position="211,66" size="5,5"/>
    <hold position="82,44" size="6,6"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="80,30" content="HOLD"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="210,30" content="NEXT"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,110" content="LEVEL"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,122" content="%level%"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,150" content="SCORE"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,162" content="%score%"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,180" content="TIME"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,192" content="%time%"/>
    <menu font="f1.fnt" fontsize="0.5,0.5" position="122,50" size="76,150"/>
  </player>
</skin>)";
SkinElement* gPlainSkin = nullptr;

// The skin of that name when it loads and gives the player a menu; otherwise null, with *why
// saying what is wrong with it.
SkinElement* usableSkin(const std::string& name, std::string* why) {
    auto* skin = static_cast<SkinElement*>(Resource_Load(Resource_Skin, name, why));
    // A skin without a menu would leave the player with no way to start a game or quit.
    if (skin && !Skin_Usable(skin, why)) return nullptr;
    return skin;
}

// The skin at index of the folder listing, or null after saying on stderr and in the debug
// log why it could not be used.
SkinElement* loadSkinAt(size_t index) {
    std::string why;
    const std::string& name = gResources.Skins[index];
    SkinElement* skin = usableSkin(name, &why);
    if (!skin) debugLog("Could not load the skin skins/" + name + ": " + why);
    return skin;
}

// The chosen skin; failing that the shipped one, then any that loads, then the plain layout,
// saying so where the player looks.
void chooseSkin() {
    gMain.CurrentSkin = nullptr;
    const size_t count = gResources.Skins.size();
    const std::string& chosen = gResources.SkinSetting;
    bool listed = false;
    for (const std::string& name : gResources.Skins)
        listed |= Resource_Lower(name) == Resource_Lower(chosen);
    if (!listed) {
        // The chosen skin is not among the files of skins/ (a typo, a removed file, a link to
        // nothing): say why before another one takes its place.
        std::string why = "no such file";
        if (usableSkin(chosen, &why)) why = "not a file of the skins folder";
        if (!Platform_Path_Exists(Resource_ResolvePath("skins"))) why += " (no skins folder)";
        debugLog("Could not load the skin skins/" + chosen + ": " + why);
        if (count > 0) notice("Skin " + chosen + " not used: " + why);
    }
    std::vector<size_t> order;
    if (listed && gResources.SkinIndex >= 0 && size_t(gResources.SkinIndex) < count)
        order.push_back(size_t(gResources.SkinIndex));
    for (size_t i = 0; i < count; ++i)
        if (Resource_Lower(gResources.Skins[i]) == "pexa.xml") order.push_back(i);
    for (size_t i = 0; i < count; ++i) order.push_back(i);
    std::vector<bool> tried(count, false);
    for (size_t i : order) {
        if (tried[i]) continue;
        tried[i] = true;
        SkinElement* skin = nullptr;
        if (listed && int32_t(i) == gResources.SkinIndex) {
            std::string why;
            skin = usableSkin(gResources.Skins[i], &why);
            if (!skin) {
                debugLog("Could not load the skin skins/" + gResources.Skins[i] + ": " + why);
                notice("Skin " + gResources.Skins[i] + " not used: " + why);
            }
        } else {
            skin = loadSkinAt(i);
        }
        if (skin) {
            if (!listed || int32_t(i) != gResources.SkinIndex)
                debugLog("Using the skin skins/" + gResources.Skins[i] + " instead");
            gResources.SkinIndex = int32_t(i);
            gMain.CurrentSkin = skin;
            return;
        }
    }
    if (!gPlainSkin) {
        gPlainSkin = SkinElement_New();
        if (gPlainSkin && !SkinElement_LoadText(gPlainSkin, kPlainSkinXml)) {
            SkinElement_FreeTree(gPlainSkin);
            gPlainSkin = nullptr;
        }
    }
    gMain.CurrentSkin = gPlainSkin;
    debugLog("No skin could be loaded from the skins folder: a plain layout is used");
    if (!Platform_Dialog_Headless())
        Platform_Dialog_Message("Error",
                                "No skin could be loaded from the skins folder.\n"
                                "The game goes on with a plain layout;\n"
                                "reinstalling the game's data brings the skins back.",
                                true);
}

// A window is paced by its present; a headless driver's present returns at once, so the pass
// waits here for the next 1/60 s tick instead of spinning a core. ZELVIK_UNPACED=1 lets tests
// that play many frames run at full speed.
void paceHeadless(bool paced) {
    using Clock = std::chrono::steady_clock;
    static Clock::time_point next{};
    static const bool unpaced = [] {
        const char* v = std::getenv("ZELVIK_UNPACED");
        return v && *v && std::strcmp(v, "0") != 0;
    }();
    if (!Platform_Dialog_Headless() || unpaced) return;
    const Clock::duration period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 60));
    const Clock::time_point now = Clock::now();
    if (!paced || next == Clock::time_point{} || now > next + 2 * period) {
        next = now + period;
        return;
    }
    if (now < next) std::this_thread::sleep_until(next);
    next += period;
}

// Why a recording named on the command line was refused, from the engine's result (-1 for a
// replay, which only says it failed) and a look at the file itself.
std::string loadFailureReason(const std::string& name, int32_t inpResult) {
    const std::string path = Platform_Path_Resolve(name);
    // A pipe or device is refused rather than waited on; say so, as the name alone looks fine.
    if (Platform_Path_IsSpecial(path)) return "not a regular file";
    std::string why;
    std::FILE* f = Platform_File_Open(
        path, inpResult == -1 ? kReplayFileMaxBytes : MameInp::kMaxFileBytes, &why);
    if (!f) return why;
    char head[8] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    switch (inpResult) {
    case -1:
        return "not a Zelvik replay, or damaged";
    case Inp_OutOfMemory:
        return "out of memory";
    case Inp_NoZlib:
        return "zlib (libz.so.1) is not installed";
    case Inp_ZlibError:
        return "damaged compressed stream";
    default:
        break;
    }
    if (got == sizeof head && std::memcmp(head, "MAMEINP", 8) == 0)
        return "a MAME INP recording of a MAME build this game does not know";
    return "not a MAME INP recording";
}

void logLoadFailure(const std::string& name, int32_t inpResult) {
    const std::string line = "Could not load " + name + ": " + loadFailureReason(name, inpResult);
    debugLog(line);
    // A recording the player asked for by name: tell them on the screen too.
    if (!Platform_Dialog_Headless()) Platform_Dialog_Message("Zelvik", line, true);
}

// Every log line goes to the "EngineDebug" window, opened on first use, and to standard
// error, where a person who started the program from a terminal sees its warnings.
void showDebugLine(const std::u16string& line) {
    std::string text = u8(line);
    std::fprintf(stderr, "%s\n", text.c_str());
    gMain.Log.push_back(text);
    Platform_DebugWindow_Open("EngineDebug", 200, 100, 400, 300);
    Platform_DebugWindow_AddLine(text);
    // Events that arrive meanwhile are handled here; a close still ends the run.
    if (Platform_Keyboard_PumpEvents() > 0) gMain.Quit = 1;
    Platform_DebugWindow_Render();
}

void routeEvent(const void* sdlEvent, void*) {
    Platform_DebugWindow_HandleEvent(sdlEvent);
}

void serverMessage(const std::u16string& text) {
    Platform_Dialog_Message("", u8(text), true);
    std::_Exit(0);
}

int32_t menuUpdate(ClientPlayer* p, DFont* f, int32_t x, int32_t y, int32_t w, int32_t h, double sx,
                   double sy) {
    return Menu_Update(p, f, x, y, w, h, sx, sy);
}

// The first file matching "folder/prefix*" (numbered media), "" when none.
std::string numberedFile(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names = Platform_Folder_List(folder, prefix + ".*");
    return names.empty() ? std::string() : folder + "/" + names.front();
}

std::string twoDigits(int32_t n) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", n);
    return b;
}

// Backgrounds are found at start-up but loaded when first shown, each shrunk to about the
// screen's size: a folder of huge pictures costs one of them at start, not fourteen.
void findBackgrounds() {
    for (int32_t i = 0; i < kBackgroundCount; ++i)
        gMain.BackgroundFiles[i] = numberedFile("bg", "bg_" + twoDigits(i));
}

void loadBackground(int32_t slot) {
    if (slot < 0 || slot >= kBackgroundCount || gMain.BackgroundFiles[slot].empty()) return;
    const std::string file = std::exchange(gMain.BackgroundFiles[slot], std::string());
    const ClientSettings& s = Client_Settings();
    std::string why;
    gMain.Backgrounds[slot] =
        Resource_LoadBackground(file, s.BackgroundWidth, s.BackgroundHeight, s.BackgroundFrames,
                                s.ScreenWidth, s.ScreenHeight, &why);
    if (gMain.Backgrounds[slot].empty())
        debugLog("Could not load the background " + file + ": " + why);
}

void freeBackgrounds() {
    for (auto& frames : gMain.Backgrounds) {
        for (Sprite3D* f : frames) Sprite3D_Free(f);
        frames.clear();
    }
}

// Copies the screen into the capture bitmap and writes it once for every game frame this pass
// ran: the video then plays at the game's speed however fast the passes went, and a pass that
// ran none (menus, a pause, a pass quicker than the game) adds nothing.
void captureFrames() {
    if (gMain.FramesRun <= 0) return;
    std::vector<uint8_t>& rgba = gMain.CaptureRgba;
    AviBitmap& b = gMain.CaptureBitmap;
    if (Platform_Screen_ReadPixels(rgba) && rgba.size() >= size_t(b.width) * b.height * 4) {
        const uint32_t stride = AviBitmap::Stride(b.width);
        for (int32_t y = 0; y < b.height; ++y) {
            const uint8_t* src = &rgba[size_t(y) * b.width * 4];
            uint8_t* dst = &b.bits[size_t(b.height - 1 - y) * stride];
            for (int32_t x = 0; x < b.width; ++x) {
                dst[x * 3 + 0] = src[x * 4 + 2];
                dst[x * 3 + 1] = src[x * 4 + 1];
                dst[x * 3 + 2] = src[x * 4 + 0];
            }
        }
    }
    ClientPlayer* first = Client_FirstPlayer();
    const bool key = Client_IsKeyFrame(first ? first->Player : nullptr, gMain.PassCount);
    for (int32_t i = 0; i < gMain.FramesRun; ++i) {
        if (AVI_AddFrame(gMain.Avi, &b, key && i == 0 ? kAviKeyFrame : 0) == 0) continue;
        // A failed capture stays failed: every later frame would fail the same way, so it
        // stops here, once, saying which file and why, and the game runs at its own pace.
        const std::string file = Client_Options().WriteAvi;
        const std::string why = AVI_FailureReason(gMain.Avi);
        const uint32_t frames = gMain.Avi->FrameCount;
        AVI_Close(gMain.Avi);
        gMain.Avi = nullptr;
        Client_Options().WriteAvi.clear();
        debugLog("Could not write the video " + file + ": " + why + "; capture stopped after " +
                 std::to_string(frames) + " frames");
        notice("Video capture stopped: " + file + ": " + why);
        break;
    }
}

// While capturing, the engine runs one frame per pass; when the game clock is ahead of it the
// passes run unpaced until it has caught up.
bool captureBehind() {
    if (Client_Options().WriteAvi.empty() || !gMain.Avi) return false;
    ClientPlayer* cp = Client_FirstPlayer();
    const Player* p = cp ? cp->Player : nullptr;
    return p && p->State != State_Idle && !(p->PlayerFlags & Flag_Paused) &&
           int32_t(p->FrameTarget - p->FrameCounter) > 0;
}

ClientPlayer* playerAt(int32_t i) {
    if (!gClient.Players || i < 0 || i >= DoublyLinkedList_CountList(gClient.Players))
        return nullptr;
    return static_cast<ClientPlayer*>(DoublyLinkedList_SelectElement(gClient.Players, i));
}

void functionKeys() {
    ClientSettings& s = Client_Settings();
    ClientPlayer* cp = Client_FirstPlayer();
    Player* p = cp ? cp->Player : nullptr;
    // While a key is being chosen, Escape leaves the key as it was instead of quitting.
    if (Platform_Keyboard_Released(kDikEscape) && !Menu_CancelRebind()) gMain.Quit = 1;
    if (Platform_Keyboard_Released(kDikF1) && p) {
        p->ops->Reset(p);
        if (Client_Options().RandomSeed != 0) p->Seed = uint32_t(Client_Options().RandomSeed);
        p->ops->Start(p);
    }
    if (Platform_Keyboard_Released(kDikF4) && p) {
        p->PlayerFlags ^= Flag_Paused;
        // The engine's whole frame rate: to nearest, capped at a million.
        const double rate = std::min(p->Settings.FramesPerSecond, 1e6);
        const int64_t fps = rate > 0 ? int64_t(std::nearbyint(rate)) : 0;
        // Without a frame rate yet there is nothing to catch up.
        if (!(p->PlayerFlags & Flag_Paused) && fps > 0)
            p->StartTime = int64_t(GetMilliseconds()) - int64_t(p->FrameCounter) * 1000 / fps;
    }
    if (Platform_Keyboard_Released(kDikF5)) {
        const std::string name = Client_ScreenshotName();
        std::string reason;
        if (!Platform_Screen_SaveScreenshot(name, &reason)) {
            debugLog("Could not save " + name + ": " + reason);
            notice("Screenshot not saved: " + name + ": " + reason);
        }
    }
    if (Platform_Keyboard_Released(kDikF6)) {
        if (gMenus.ReplayBrowserShown) {
            gMenus.ReplayBrowserShown = 0;
        } else if (cp && cp->ReplayMenu) {
            gMenus.ReplayBrowserShown = 1;
            Resource_ScanFolders();
            ReplayMenu_Fill(cp->ReplayMenu);
            // Loading would clear a replay being recorded: only while the player is idle.
            if (p && p->State == State_Idle) MenuAction_LoadReplay(cp, cp->ReplayMenu->Selected, 0);
        }
    }
    if (Platform_Keyboard_Released(kDikF8)) {
        // The next skin that loads; broken ones are skipped (each said why once).
        const int32_t n = int32_t(gResources.Skins.size());
        int32_t index = gResources.SkinIndex;
        for (int32_t tries = 0; tries < n; ++tries) {
            index = PositiveMod(index + 1, n);
            if (index >= n) break;
            if (SkinElement* skin = loadSkinAt(size_t(index))) {
                gResources.SkinIndex = index;
                gMain.CurrentSkin = skin;
                break;
            }
        }
    }
    // Stepping a paused replay.
    const bool stepping = p && (p->PlayerFlags & Flag_Paused) && (p->PlayerFlags & Flag_PlayReplay);
    for (int32_t dik = 2; dik <= 10; ++dik)
        if (Platform_Keyboard_Released(dik) && stepping) p->FrameTarget += uint32_t(dik - 1);
    if (Platform_Keyboard_Released(kDik0) && stepping) {
        std::string answer;
        if (Platform_Dialog_Input("", "Jump to frame:", std::to_string(p->FrameTarget), &answer))
            p->FrameTarget = uint32_t(CommandLine_Number(answer));
        Platform_Keyboard_Reset(); // the box took the key releases
    }
    if (Platform_Keyboard_Released(kDikQ) && stepping)
        gMain.TargetLevel = Client_PlayerLevel(p) + 1;
    if (stepping && gMain.TargetLevel > 0 && gMain.TargetLevel > Client_PlayerLevel(p))
        p->FrameTarget += 1;
    (void)s;
}

void buildInputs() {
    gMain.MaxLevel = 0;
    const int32_t n = gClient.Players ? DoublyLinkedList_CountList(gClient.Players) : 0;
    for (int32_t i = 0; i < n; ++i) {
        ClientPlayer* cp = playerAt(i);
        if (!cp || !cp->Player) continue;
        gMain.MaxLevel = std::max(gMain.MaxLevel, Client_PlayerLevel(cp->Player));
        cp->LastInput = cp->Input;
        uint32_t in = 0;
        for (int32_t a = 0; a < kActionCount; ++a) {
            if (!kActionBits[a]) continue; // Rot180 is not polled
            if (Platform_Keyboard_IsHeld(cp->Keys[a])) in |= kActionBits[a];
            if (Joystick_IsBindingActive(cp->JoystickID, cp->JoyBindings[a], 0))
                in |= kActionBits[a];
            if (a < kPovActionCount &&
                Joystick_IsBindingActive(cp->JoystickID, cp->PovBindings[a], 0))
                in |= kActionBits[a];
        }
        cp->Input = int32_t(in);
    }
}

void runUpdates() {
    const bool capturing = !Client_Options().WriteAvi.empty();
    // Network callbacks add and remove players inside Player_Update: the list is read afresh
    // by index after every call, never through a pointer kept across it.
    ClientPlayer* first = playerAt(0);
    gMain.FramesRun = 0;
    if (first && first->Player) {
        Player* p = first->Player;
        gMain.FramesRun = p->ops->Update(p, uint32_t(first->Input), capturing ? 1 : -1);
        first = playerAt(0);
        if (gMain.FramesRun > 0 && first) {
            for (int32_t f = 0; f < gMain.FramesRun && first->Particles; ++f)
                Particle_RunList(first->Particles);
            if (!gMain.FrameTimes.empty()) {
                auto& t = gMain.FrameTimes;
                const uint32_t now = GetMilliseconds();
                const int32_t shift = gMain.FramesRun;
                if (shift < kFrameTimeEntries - 1)
                    std::move_backward(t.begin(), t.end() - shift, t.end());
                t[0] = int32_t(uint32_t(now - gMain.LastFrameTime));
                for (int32_t i = 1; i <= std::min(shift - 1, kFrameTimeEntries - 1); ++i) t[i] = 0;
                gMain.LastFrameTime = now;
            }
        }
    }
    for (int32_t i = 1; gClient.Players && i < DoublyLinkedList_CountList(gClient.Players); ++i) {
        ClientPlayer* cp = playerAt(i);
        if (cp && cp->Player) cp->Player->ops->Update(cp->Player, 0, -1);
    }
}

// The notice, centred near the bottom of the screen, until its time is up.
void drawNotice(const ClientSettings& s) {
    if (gClient.Notice.empty()) return;
    const uint32_t now = GetMilliseconds();
    if (gClient.NoticeUntil == 0) gClient.NoticeUntil = now + kNoticeMs;
    if (int32_t(gClient.NoticeUntil - now) <= 0) {
        gClient.Notice.clear();
        return;
    }
    if (!gMain.Font) return;
    DFont_SetScale(gMain.Font, 1.0, 1.0);
    DFont_SetAlpha(gMain.Font, 255);
    const char16_t* text = gClient.Notice.c_str();
    // A long file name or reason is shrunk to the screen's width rather than cut off.
    const int32_t full = DFont_TextWidth(gMain.Font, text);
    if (full > s.ScreenWidth - 8 && full > 0) {
        const double k = double(s.ScreenWidth - 8) / full;
        DFont_SetScale(gMain.Font, k, k);
    }
    const int32_t w = DFont_TextWidth(gMain.Font, text), h = DFont_TextHeight(gMain.Font, text);
    const int32_t x = std::max(0, (s.ScreenWidth - w) / 2), y = s.ScreenHeight - 2 * h;
    Platform_Screen_FillRect(x - 4, y - 2, w + 8, h + 4, 0, 0, 0, 192);
    DFont_DrawText(gMain.Font, x, y, text);
    DFont_SetScale(gMain.Font, 1.0, 1.0);
}

void drawPass() {
    const ClientSettings& s = Client_Settings();
    Platform_Screen_Clear(0, 0, 0);
    int32_t slot = 0, frame = 0;
    if (gMain.MaxLevel >= 0) loadBackground(gMain.MaxLevel / 100);
    if (Client_BackgroundChoice(gMain.MaxLevel, uint32_t(GetMilliseconds() - gMain.StartedAt),
                                &slot, &frame))
        Sprite3D_Display(gMain.Backgrounds[slot][size_t(frame)], 0, 0);
    if (gMain.CurrentSkin) {
        // Opponents in a network game are laid out side by side when the skin has such a layout.
        const int32_t players = gClient.Players ? DoublyLinkedList_CountList(gClient.Players) : 0;
        auto* skin = static_cast<SkinElement*>(Resource_SkinForPlayers(gMain.CurrentSkin, players));
        SkinElement_Draw(skin, s.ScreenWidth, s.ScreenHeight, nullptr);
    }
    drawNotice(s);

    if (!gMain.FrameTimes.empty()) {
        ClientPlayer* cp = Client_FirstPlayer();
        const double fps = cp && cp->Player ? cp->Player->Settings.FramesPerSecond : 0;
        for (int32_t i = 0; i < kFrameTimeEntries && 4 * i < s.ScreenWidth; ++i) {
            const int32_t e = gMain.FrameTimes[size_t(i)];
            const int32_t d = fps > 0 ? int32_t(std::fabs(1000.0 / fps - e)) : 0;
            const uint8_t r = uint8_t(std::min(63 * int64_t(d), int64_t(255)));
            const uint8_t g = uint8_t(255 / (int64_t(d) + 1));
            Platform_Screen_FillRect(4 * i, s.ScreenHeight - e, 4, e, r, g, 0, 255);
        }
    }
    Platform_Screen_Present();
}

} // namespace

ClientPlayer* Client_FirstPlayer() {
    return playerAt(0);
}

int32_t Client_PlayerLevel(Player* p) {
    uint32_t v = 0;
    if (!p || !p->ops->GetValue) return 0;
    if (!p->ops->GetValue(p, u"level", &v)) return 0;
    return int32_t(v);
}

std::string Client_ScreenshotName() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    if (const std::tm* l = std::localtime(&now)) t = *l;
    char b[64];
    std::snprintf(b, sizeof b, "zelvik_%04d%02d%02d_%02d%02d%02d.png", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return b;
}

std::vector<Sprite3D*> Client_CutBackground(Sprite3D* sheet, int32_t frameW, int32_t frameH,
                                            int32_t frames, int32_t screenW, int32_t screenH) {
    std::vector<Sprite3D*> out;
    if (!sheet) return out;
    const int32_t rows = frameH > 0 ? sheet->ImageHeight / frameH : 0;
    if (frames < 1 || frameW <= 0 || frameH <= 0 || rows <= 0 || !sheet->Pixels) {
        Sprite3D_Zoom(sheet, screenW, screenH);
        out.push_back(sheet);
        return out;
    }
    std::vector<uint8_t> px(size_t(frameW) * size_t(frameH) * 4);
    for (int32_t i = 0; i < frames; ++i) {
        const int64_t left = int64_t(i / rows) * frameW, top = int64_t(i % rows) * frameH;
        // Frames past the sheet's right edge are dropped.
        if (left + frameW > sheet->ImageWidth || top + frameH > sheet->ImageHeight) break;
        for (int32_t y = 0; y < frameH; ++y)
            std::copy_n(
                &sheet->Pixels[(size_t(top + y) * size_t(sheet->TextureWidth) + size_t(left)) * 4],
                size_t(frameW) * 4, &px[size_t(y) * size_t(frameW) * 4]);
        Sprite3D* f = Sprite3D_FromPixels(px.data(), frameW, frameH);
        if (!f) break;
        Sprite3D_Zoom(f, screenW, screenH);
        out.push_back(f);
    }
    Sprite3D_Free(sheet);
    return out;
}

bool Client_BackgroundChoice(int32_t maxLevel, uint32_t elapsedMs, int32_t* slot, int32_t* frame) {
    const ClientSettings& s = Client_Settings();
    const int32_t b = maxLevel / 100;
    if (b < 0 || b >= kBackgroundCount || gMain.Backgrounds[b].empty()) return false;
    const auto& frames = gMain.Backgrounds[size_t(b)];
    int32_t f = 0;
    if (s.BackgroundFrames >= 1) {
        // 64-bit, so a long run does not jump when the product passes 2^32.
        const uint64_t step = uint64_t(elapsedMs) * uint64_t(std::max(0, s.BackgroundFPS)) / 1000u;
        f = int32_t(step % uint64_t(s.BackgroundFrames));
    }
    // A frame the sheet did not hold shows black.
    if (f >= int32_t(frames.size()) || !frames[size_t(f)]) return false;
    *slot = b;
    *frame = f;
    return true;
}

bool Client_IsKeyFrame(const Player* first, int32_t passCount) {
    if (first && first->Settings.FramesPerSecond != 0 &&
        std::isfinite(first->Settings.FramesPerSecond)) {
        const int64_t every = int64_t(first->Settings.FramesPerSecond * 5);
        if (every > 0) return int64_t(first->GameTime) % every == 0;
    }
    return passCount == 0;
}

bool Client_OpenCapture(const std::string& file, const AviCompressOptions* codec) {
    const ClientSettings& s = Client_Settings();
    std::string why;
    gMain.Avi = AVI_Open(file, 60, nullptr, &why);
    bool ok = gMain.Avi != nullptr;
    int32_t result = 0;
    if (ok) {
        gMain.CaptureBitmap.Allocate(s.ScreenWidth, s.ScreenHeight);
        gMain.AviOptions = codec ? *codec : AviCompressOptions{};
        result = AVI_CreateVideoStream(gMain.Avi, &gMain.CaptureBitmap, &gMain.AviOptions,
                                       codec ? 0 : 1, nullptr);
        ok = result == 0;
        if (!ok) why = AVI_FailureReason(gMain.Avi);
    }
    // A cancelled codec box is the player's own choice; anything else is told, as a refused
    // recording is.
    if (!ok && result != kAviErrCancelled) {
        const std::string line = "Could not capture video to " + file + ": " + why;
        debugLog(line);
        if (!Platform_Dialog_Headless()) Platform_Dialog_Message("Zelvik", line, true);
    }
    if (!ok) {
        if (gMain.Avi) AVI_Close(gMain.Avi);
        gMain.Avi = nullptr;
        gMain.CaptureBitmap = AviBitmap{};
        Client_Options().WriteAvi.clear();
        return false;
    }
    Client_Options().WriteAvi = file;
    return true;
}

int32_t Client_Startup(const std::vector<std::string>& args) {
    ClientSettings& s = Client_Settings();
    CommandLineOptions& o = Client_Options();
    s = ClientSettings{};
    o = CommandLineOptions{};
    gMain.Quit = 0;
    gMain.Log.clear();
    gClient.Notice.clear();
    gMain.TargetLevel = 0;
    gMain.PassCount = 0;
    gMenus = MenuState{};
    gMenus.Quit = &gMain.Quit;

    // 1-2: clock, lists and tables.
    HighResTimer_ChooseClocks();
    if (!Client_InitState()) return 1;
    gClient.OnDebugLine = showDebugLine;
    gClient.OnServerMessage = serverMessage;
    gClient.RandomizerMenuCreate = RandomizerMenu_Create;
    gClient.MenuUpdate = menuUpdate;

    // 3: settings; a differently spelt existing file is found case-blind.
    gMain.SettingsPath = Platform_Path_Resolve(kSettingsFile);
    IniFile ini;
    std::string iniProblem;
    ini.Load(gMain.SettingsPath, &iniProblem);
    Settings_Read(&s, ini);

    // 4: command line.
    std::vector<std::string> unknown;
    CommandLine_Parse(args, &s, &o, &unknown);

    // 5: keyboard, joysticks.
    Platform_Keyboard_Init();
    Platform_Keyboard_SetEventHook(routeEvent, nullptr);
    if (!iniProblem.empty())
        debugLog("Could not read " + gMain.SettingsPath + ": " + iniProblem +
                 "; the default settings are used");
    for (const std::string& line : unknown) debugLog(line);
    debugLog(std::to_string(Joystick_Init()) + " Joystick(s) found");

    // 6: sound.
    gClient.SoundAvailable = Platform_Sound_Init() ? 1 : 0;

    // 7: the engine, bound by name.
    gMain.Engine = Platform_Library_Open(kEngineLibraryPath);
    auto init = reinterpret_cast<Zelvik_InitFn>(
        gMain.Engine ? Platform_Library_Symbol(gMain.Engine, "Zelvik_Init") : nullptr);
    auto gameCreate = reinterpret_cast<Game_CreateFn>(
        gMain.Engine ? Platform_Library_Symbol(gMain.Engine, "Game_Create") : nullptr);
    if (!init || !gameCreate) {
        Platform_Dialog_Message("Error", std::string("Could not open ") + kEngineLibraryPath, true);
        return 1;
    }
    init();
    // Only now that this is known to be a run folder: a start in the wrong folder leaves
    // nothing behind.
    Platform_Folder_Create("replays");

    // 8: the display.
    const bool windowed = s.Windowed != 0;
    if (!Platform_Screen_Open(s.ScreenWidth, s.ScreenHeight, windowed,
                              windowed ? s.Title + " (Loading...)" : s.Title)) {
        Platform_Dialog_Message("Error", "Could not open the screen", true);
        return 1;
    }
    gMain.ScreenOpen = true;
    gResources = ResourceState{}; // nothing left from an earlier run in this process
    gResources.SkinSetting = s.Skin;
    Resource_ScanFolders();

    // 9-11: sounds, music, backgrounds, cell sprites.
    if (gClient.SoundAvailable) Client_LoadSounds();
    findBackgrounds();
    Client_CreateCellSprites();

    // 12: capture; any failure switches it off.
    if (!o.WriteAvi.empty()) Client_OpenCapture(o.WriteAvi, nullptr);

    // 13-15: font, skin, dead zone, frame-time buffer.
    gMain.Font = static_cast<DFont*>(Resource_Load(Resource_Font, "f1.fnt"));
    if (!gMain.Font) gMain.Font = Resource_PlainFont();
    chooseSkin();
    Joystick_SetDeadzone(s.JoystickID, s.JoystickDeadzone);
    gMain.FrameTimes.assign(s.Debug ? kFrameTimeEntries : 0, 0);
    gClient.ReplayPattern = u16(s.ReplayPattern);

    // 16-17: the game and the local player.
    gMain.TheGame = gameCreate(&gClient.Interface);
    if (!gMain.TheGame) return 1;
    // A game has no free operation: it lives to the end of the process, also when the client
    // is started again in the same process.
    static auto* games = new std::vector<Game*>;
    games->push_back(gMain.TheGame);
    ClientPlayer* cp = Client_AddClientPlayer(nullptr);
    if (!cp) return 1;
    cp->Player = gMain.TheGame->ops->AddPlayer(gMain.TheGame, reinterpret_cast<uintptr_t>(cp));
    if (!cp->Player) return 1;
    Player* p = cp->Player;

    // 18: replay source.
    if (!o.Replay.empty()) {
        if (p->Replay && p->Replay->ops->Load(p->Replay, p, u16(o.Replay).c_str(), 0))
            p->PlayerFlags |= Flag_PlayReplay;
        else
            logLoadFailure(o.Replay, -1);
    } else if (!o.ReplayInp.empty()) {
        int32_t skipFrames = 0;
        uint32_t flags = 1;
        if (o.InpFlags & 1) {
            skipFrames = 2;
            flags = 1;
        } else if (o.InpFlags & 2) {
            skipFrames = 0;
            flags = 3;
        }
        const int32_t loaded =
            p->Replay ? p->Replay->ops->LoadMAMEINP(p->Replay, u16(o.ReplayInp).c_str(),
                                                    o.ReplayInpNumber, skipFrames, flags)
                      : int32_t(Inp_OutOfMemory);
        if (loaded == Inp_Ok)
            p->PlayerFlags |= Flag_PlayReplay;
        else
            logLoadFailure(o.ReplayInp, loaded);
    }
    // A recording that could not be loaded is no recording: the session plays and records
    // its own games, as one started without it does.
    if (!(p->PlayerFlags & Flag_PlayReplay)) p->PlayerFlags |= Flag_RecordReplay;
    gMenus.SessionRecords = (p->PlayerFlags & Flag_RecordReplay) != 0;

    // 19: the name, asked for when empty (a cancelled box gives "").
    if (s.PlayerName.empty()) {
        std::string answer;
        if (!Platform_Dialog_Input(s.Title, "Please enter your name:", "", &answer)) answer.clear();
        s.PlayerName = answer;
    }
    p->ops->SetName(p, u16(s.PlayerName).c_str());

    // 20: bindings.
    std::copy_n(s.Keys, kActionCount, cp->Keys);
    cp->JoystickID = s.JoystickID;
    std::copy_n(s.JoyBindings, kActionCount, cp->JoyBindings);
    std::copy_n(s.PovBindings, kActionCount, cp->PovBindings);

    // 21: server or local menus.
    if (!o.ConnectTo.empty()) {
        std::string host;
        int32_t port = kGamePort;
        CommandLine_ConnectTarget(o.ConnectTo, &host, &port);
        if (!p->ops->Connect(p, u16(host).c_str(), port, Client_OnPlayerJoined,
                             Client_OnPlayerAdded, Client_OnPlayerRemoved)) {
            Platform_Dialog_Message("", "Could not connect to " + o.ConnectTo, true);
            return 1;
        }
        cp = Client_FirstPlayer();
    } else {
        cp->MainMenu = MainMenu_Create(cp);
        cp->ReplayMenu = ReplayMenu_Create(cp);
    }

    // 22-23: the game-over hook, the title.
    p->ops->AddHook(p, Event_GameOver, Client_OnGameEnd, reinterpret_cast<uintptr_t>(cp),
                    kHookPersistent);
    if (windowed) Platform_Screen_SetTitle(s.Title);
    gMain.StartedAt = GetMilliseconds();
    gMain.LastLatch = gMain.StartedAt;
    gMain.LastFrameTime = gMain.StartedAt;
    gMain.StartedUp = true;
    return 0;
}

void Client_Pass() {
    // 1: events (keyboard and joystick states change only here), joysticks.
    if (Platform_Keyboard_PumpEvents() > 0) gMain.Quit = 1;
    Joystick_Update();
    functionKeys();
    buildInputs();
    runUpdates();
    const bool paced = !captureBehind();
    Platform_Screen_SetPaced(paced);
    drawPass();
    paceHeadless(paced);
    ++gMain.PassCount;
    const uint32_t now = GetMilliseconds();
    if (uint32_t(now - gMain.LastLatch) >= 1000) {
        gClient.DisplayFPS = gMain.PassCount;
        gMain.PassCount = 0;
        gMain.LastLatch = now;
    }
    if (!Client_Options().WriteAvi.empty() && gMain.Avi) captureFrames();
    Platform_DebugWindow_Render();
}

void Client_Shutdown() {
    ClientSettings& s = Client_Settings();
    // A key still being chosen when the program ends keeps its old key in the settings.
    Menu_CancelRebind();
    if (gMain.Avi) {
        std::string why;
        if (!AVI_Close(gMain.Avi, &why))
            std::fprintf(stderr, "Could not complete the video %s: %s\n",
                         Client_Options().WriteAvi.c_str(), why.c_str());
        gMain.Avi = nullptr;
        gMain.CaptureBitmap = AviBitmap{};
    }
    // Remote players belong to the engine and go with the local player that received them, so
    // local players are freed only once no record refers to a remote one any more.
    std::vector<Player*> localPlayers;
    while (gClient.Players && DoublyLinkedList_CountList(gClient.Players) > 0) {
        auto* cp = static_cast<ClientPlayer*>(DoublyLinkedList_SelectElement(gClient.Players, 0));
        if (cp->Player && !cp->Player->IsRemote) localPlayers.push_back(cp->Player);
        Menu_Free(cp->MainMenu);
        Menu_Free(cp->ReplayMenu);
        Particle_FreeList(cp->Particles);
        DoublyLinkedList_SelectElement(gClient.Players, 0);
        DoublyLinkedList_DeleteElement(gClient.Players);
    }
    for (Player* p : localPlayers) p->ops->Free(p);
    freeBackgrounds();
    gMain.CurrentSkin = nullptr;
    SkinElement_FreeTree(gPlainSkin);
    gPlainSkin = nullptr;
    gMain.Font = nullptr;
    Resource_FreeAll();
    Client_FreeState();
    if (gMain.ScreenOpen) Platform_Screen_Close();
    gMain.ScreenOpen = false;
    Platform_DebugWindow_Close();
    Joystick_Shutdown();
    Platform_Sound_Quit();
    // Settings: what the file holds is kept, the current values are stored.
    const bool existed = Platform_Path_Exists(gMain.SettingsPath);
    IniFile ini;
    std::string reason;
    // A file that is there but was not read (a pipe, too large) is not replaced by defaults.
    if (existed && !ini.Load(gMain.SettingsPath, &reason) && !reason.empty())
        reason = "it could not be read (" + reason + ")";
    else
        Settings_Write(s, &ini, existed);
    if (!reason.empty() || !ini.Save(gMain.SettingsPath, &reason)) {
        // The old file is still there; say which and why, in the terminal and in a box.
        const std::string text = "Could not save " + gMain.SettingsPath + ": " + reason;
        std::fprintf(stderr, "%s\n", text.c_str());
        if (!Platform_Dialog_Headless()) Platform_Dialog_Message("Error", text, true);
    }
    gMain.StartedUp = false;
    // The engine library stays loaded: its objects and handlers live to the end of the process.
}

int32_t Client_Main(const std::vector<std::string>& args) {
    int32_t r = Client_Startup(args);
    if (r != 0) return r;
    while (!gMain.Quit) Client_Pass();
    Client_Shutdown();
    return 0;
}
