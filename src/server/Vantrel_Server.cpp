#include "Vantrel_Server.h"

#include "IniFile.h"
#include "Platform_Dialog.h"
#include "Platform_Library.h"
#include "Platform_Path.h"
#include "Platform_ToolWindow.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Server.h"

#include <SDL.h>
#include <imgui.h>

#include <cstdlib>

namespace {

constexpr const char* kSettingsFile = "Zelvik_Server.ini";
constexpr int kWidth = 400;
constexpr int kHeight = 300;
constexpr int kPlayerWidth = 800;
constexpr int kPlayerHeight = 600;
constexpr int kEventWaitMs = 5;
// The window is redrawn at least this often even without events (new log lines, title).
constexpr uint32_t kRedrawMs = 100;

ServerWindow* logTarget = nullptr;

int32_t OnLog(const char16_t* text) {
    if (logTarget && text) logTarget->AppendLog(text);
    return 0;
}

// The game port: 2031 unless ZELVIK_GAME_PORT names another (several servers on one host).
int32_t GamePort() {
    const char* env = std::getenv("ZELVIK_GAME_PORT");
    if (!env || !*env) return kGamePort;
    char* end = nullptr;
    const long v = std::strtol(env, &end, 10);
    return (*end || v < 1 || v > 65535) ? kGamePort : static_cast<int32_t>(v);
}

int32_t ToInt(const std::string& text) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    return end == text.c_str() ? 0 : static_cast<int32_t>(v);
}

uint32_t WindowIdOf(const SDL_Event& e) {
    switch (e.type) {
    case SDL_WINDOWEVENT:
        return e.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        return e.key.windowID;
    case SDL_TEXTINPUT:
        return e.text.windowID;
    case SDL_MOUSEMOTION:
        return e.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        return e.button.windowID;
    case SDL_MOUSEWHEEL:
        return e.wheel.windowID;
    default:
        return 0;
    }
}

ImVec2 Pos(const ServerRect& r) {
    return ImVec2(static_cast<float>(r.x), static_cast<float>(r.y));
}
ImVec2 Size(const ServerRect& r) {
    return ImVec2(static_cast<float>(r.w > 0 ? r.w : 1), static_cast<float>(r.h > 0 ? r.h : 1));
}

} // namespace

std::u16string ServerWindow_ReplaceMode(const std::u16string& name,
                                        const std::vector<std::u16string>& modes) {
    if (modes.empty()) return name;
    std::u16string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == u'%' && i + 1 < name.size() && name[i + 1] == u'm') {
            out += modes.front();
            ++i;
        } else {
            out += name[i];
        }
    }
    return out;
}

ServerSettings ServerWindow_ReadSettings(const std::string& path) {
    ServerSettings s;
    IniFile ini;
    ini.Load(path); // a missing file leaves every default
    if (ini.Has("", "Name")) s.name = Platform_Path_FromUtf8(ini.Get("", "Name"));
    s.isPublic = ToInt(ini.Get("", "Public", "0"));
    for (int i = 1;; ++i) {
        const std::string value = ini.Get("", "Mode" + std::to_string(i));
        if (value.empty()) break;
        s.modes.push_back(Platform_Path_FromUtf8(value));
    }
    if (ini.Has("", "RotationSystem"))
        s.rotationSystem = Platform_Path_FromUtf8(ini.Get("", "RotationSystem"));
    if (ini.Has("", "Randomizer")) s.randomizer = Platform_Path_FromUtf8(ini.Get("", "Randomizer"));
    s.name = ServerWindow_ReplaceMode(s.name, s.modes);
    return s;
}

ServerLayout ServerWindow_Layout(int w, int h) {
    ServerLayout l;
    l.log = {5, 5, w - 10, h - 35};
    l.clear = {5, h - 25, w / 3 - 10, 20};
    l.showPlayer = {w / 3 + 5, h - 25, w / 3 - 10, 20};
    l.publicBox = {2 * w / 3 + 5, h - 25, w / 3 - 10, 20};
    return l;
}

int ServerWindow::Start() {
    settings_ = ServerWindow_ReadSettings(kSettingsFile);

    engine_ = Platform_Library_Open(kEngineLibraryPath);
    if (!engine_) {
        Platform_Dialog_Message("Error", "Could not open Zelvik_Engine.dll", true);
        return 1;
    }
    auto init = reinterpret_cast<Zelvik_InitFn>(Platform_Library_Symbol(engine_, "Zelvik_Init"));
    auto create =
        reinterpret_cast<Server_CreateFn>(Platform_Library_Symbol(engine_, "Server_Create"));
    if (!init || !create) {
        Platform_Dialog_Message("Error", "Could not open Zelvik_Engine.dll", true);
        return 1;
    }
    init();
    server_ = create(settings_.name.c_str(), GamePort());
    if (!server_) {
        Platform_Dialog_Message("Error", "Could not start server", true);
        return 1;
    }

    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        Platform_Dialog_Message("Error",
                                std::string("Could not open the window: ") + SDL_GetError(), true);
        server_->ops->Free(server_);
        server_ = nullptr;
        return 1;
    }
    if (!Platform_ToolWindow_Open("Zelvik_Server", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  kWidth, kHeight, &window_, &renderer_)) {
        Platform_Dialog_Message("Error",
                                std::string("Could not open the window: ") + SDL_GetError(), true);
        server_->ops->Free(server_);
        server_ = nullptr;
        return 1;
    }
    imgui_ = Platform_ToolWindow_CreateImGui(window_, renderer_);
    // The layout rule from the first frame: no two controls share a rectangle.
    layout_ = ServerWindow_Layout(kWidth, kHeight);

    if (settings_.isPublic) {
        isPublic_ = true;
        server_->ops->Register(server_);
    }
    logTarget = this;
    server_->ops->SetMessageCallback(server_, OnLog);
    for (const std::u16string& mode : settings_.modes)
        server_->ops->AddModeByName(server_, mode.c_str());
    server_->ops->AddRotationSystemByName(server_, settings_.rotationSystem.c_str());
    server_->ops->SetRandomizerByName(server_, settings_.randomizer.c_str());
    return 0;
}

uint32_t ServerWindow::MainWindowId() const {
    return window_ ? SDL_GetWindowID(window_) : 0;
}

uint32_t ServerWindow::PlayerWindowId() const {
    return playerWindow_ ? SDL_GetWindowID(playerWindow_) : 0;
}

void ServerWindow::AppendLog(std::u16string_view text) {
    log_.push_back(Platform_Path_ToUtf8(text));
    while (log_.size() > kServerLogLines) log_.pop_front();
    scrollToEnd_ = true;
    dirty_ = true;
}

void ServerWindow::ClearLog() {
    log_.clear();
    dirty_ = true;
}

void ServerWindow::SetPublic(bool on) {
    if (on == isPublic_) return;
    isPublic_ = on;
    if (on)
        server_->ops->Register(server_);
    else
        server_->ops->Unregister(server_);
    dirty_ = true;
}

void ServerWindow::SetShowPlayer(bool on) {
    if (on == (playerWindow_ != nullptr)) return;
    if (on) {
        playerWindow_ = SDL_CreateWindow("", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                         kPlayerWidth, kPlayerHeight, 0);
    } else {
        SDL_DestroyWindow(playerWindow_);
        playerWindow_ = nullptr;
    }
    dirty_ = true;
}

void ServerWindow::SetTitle(const std::string& title) {
    title_ = title;
    if (window_) SDL_SetWindowTitle(window_, title_.c_str());
}

void ServerWindow::HandleEvent(const void* sdlEvent) {
    const SDL_Event& e = *static_cast<const SDL_Event*>(sdlEvent);
    const uint32_t id = WindowIdOf(e);
    if (e.type == SDL_QUIT) {
        quit_ = true;
        return;
    }
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE &&
        (id == MainWindowId() || (playerWindow_ && id == PlayerWindowId()))) {
        quit_ = true;
        return;
    }
    if (playerWindow_ && id == PlayerWindowId()) return; // nothing is drawn there
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED &&
        id == MainWindowId())
        layout_ = ServerWindow_Layout(e.window.data1, e.window.data2);
    Platform_ToolWindow_ProcessEvent(imgui_, e);
    dirty_ = true;
}

bool ServerWindow::Step() {
    server_->ops->Process(server_);
    const int32_t players = server_->ops->CountPlayers(server_);
    if (players != lastPlayers_) {
        SetTitle("Zelvik_Server (" + std::to_string(players) + "/" +
                 std::to_string(server_->ops->CountClients(server_)) + ")");
        lastPlayers_ = players;
    }
    SDL_Event e;
    if (SDL_WaitEventTimeout(&e, kEventWaitMs)) {
        HandleEvent(&e);
        while (!quit_ && SDL_PollEvent(&e)) HandleEvent(&e);
    }
    if (!quit_ && (dirty_ || SDL_GetTicks() - lastDraw_ >= kRedrawMs)) Draw();
    return !quit_;
}

void ServerWindow::Draw() {
    dirty_ = false;
    lastDraw_ = SDL_GetTicks();
    Platform_ToolWindow_BeginFrame(imgui_);
    Platform_ToolWindow_BeginPanel(window_, "##server", kWidth, kHeight);

    ImGui::SetCursorPos(Pos(layout_.log));
    if (ImGui::BeginChild("log", Size(layout_.log), true)) {
        // The newest line is the selected one, as the list always shows it.
        ImGuiListClipper clipper;
        clipper.Begin(static_cast<int>(log_.size()));
        while (clipper.Step())
            for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
                ImGui::PushID(i);
                ImGui::Selectable(log_[static_cast<size_t>(i)].c_str(),
                                  i + 1 == static_cast<int>(log_.size()));
                ImGui::PopID();
            }
        if (scrollToEnd_) {
            ImGui::SetScrollHereY(1.0f);
            scrollToEnd_ = false;
        }
    }
    ImGui::EndChild();

    ImGui::SetCursorPos(Pos(layout_.clear));
    if (ImGui::Button("Clear", Size(layout_.clear))) ClearLog();

    ImGui::SetCursorPos(Pos(layout_.showPlayer));
    const bool showing = playerWindow_ != nullptr;
    if (showing)
        ImGui::PushStyleColor(ImGuiCol_Button, ImGui::GetStyleColorVec4(ImGuiCol_ButtonActive));
    const bool toggled = ImGui::Button("ShowPlayer", Size(layout_.showPlayer));
    if (showing) ImGui::PopStyleColor();
    if (toggled) SetShowPlayer(!showing);

    ImGui::SetCursorPos(Pos(layout_.publicBox));
    bool ticked = isPublic_;
    if (ImGui::Checkbox("Public", &ticked)) SetPublic(ticked);

    ImGui::End();
    Platform_ToolWindow_EndFrame(renderer_);
}

void ServerWindow::Finish() {
    if (!server_) return;
    IniFile ini;
    ini.Load(kSettingsFile);
    ini.Set("", "Public", isPublic_ ? "1" : "0");
    ini.Save(kSettingsFile);
    server_->ops->Free(server_);
    server_ = nullptr;
    logTarget = nullptr;
    if (playerWindow_) SDL_DestroyWindow(playerWindow_);
    playerWindow_ = nullptr;
    Platform_ToolWindow_DestroyImGui(imgui_);
    imgui_ = nullptr;
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    renderer_ = nullptr;
    window_ = nullptr;
    // The engine stays loaded: code of it may still be referenced until the process ends.
}

int ServerWindow_Main() {
    ServerWindow window;
    if (const int code = window.Start()) return code;
    while (window.Step()) {
    }
    window.Finish();
    SDL_Quit();
    return 0;
}
