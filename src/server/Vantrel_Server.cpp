#include "Vantrel_Server.h"

#include "IniFile.h"
#include "Platform_Clock.h"
#include "Platform_Dialog.h"
#include "Platform_Library.h"
#include "Platform_Path.h"
#include "Platform_Process.h"
#include "Platform_Socket.h"
#include "Platform_ToolWindow.h"
#include "Vantrel_Common.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Server.h"

#include <SDL.h>
#include <imgui.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

constexpr const char* kSettingsFile = "Zelvik_Server.ini";
constexpr int kWidth = 400;
constexpr int kHeight = 300;
constexpr int kPlayerWidth = 800;
constexpr int kPlayerHeight = 600;
// An idle window sleeps this long at most; new log lines and clicks wake it at once.
constexpr int kIdleWaitMs = 500;
// At most one frame per this many milliseconds, however fast log lines arrive.
constexpr uint32_t kFrameMs = 16;
// A frame or two more after input: a click is a press and a release in separate frames, and
// what it changed shows in the frame after.
constexpr int kFramesAfterInput = 3;
// The network thread's longest sleep while nobody plays (it also checks for the window's end),
// and while games run (the server's own copies advance with the clock between inputs).
constexpr int32_t kNetworkIdleWaitMs = 250;
constexpr int32_t kNetworkGameWaitMs = 10;
// A master that cannot be reached is asked again this often (or at the interval if shorter).
constexpr int32_t kRegisterRetryMs = 10000;
// The engine's master when nothing names one.
constexpr const char* kDefaultMaster = "127.0.0.1:80";

ServerWindow* logTarget = nullptr;

int32_t OnLog(const char16_t* text) {
    if (logTarget && text) logTarget->AppendLog(text);
    return 0;
}

// host:port of the master the engine talks to: ZELVIK_MASTER, else the settings' key (handed
// to the engine through the same variable), else the engine's default.
std::string ChooseMaster(const std::string& configured) {
    std::string master = Platform_Process_EnvOrSet("ZELVIK_MASTER", configured);
    if (master.empty()) return kDefaultMaster;
    if (master.find(':') == std::string::npos) master += ":80";
    return master;
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

std::string ServerWindow_Stamp(const std::string& line) {
    return Platform_Clock_LocalTimeText() + " " + line;
}

void ServerLogQueue::Push(std::string line) {
    bool wake = false;
    // Stamped when it happens, not when the window gets round to it.
    std::string stamped = ServerWindow_Stamp(line);
    {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(std::move(stamped));
        while (lines.size() > kServerLogLines) lines.pop_front();
        wake = !wakePending;
        wakePending = true;
    }
    if (wake) Platform_ToolWindow_Wake();
}

std::deque<std::string> ServerLogQueue::Take() {
    std::lock_guard<std::mutex> guard(lock);
    wakePending = false;
    return std::exchange(lines, {});
}

struct ServerRegistrar {
    std::mutex lock;
    std::condition_variable changed;
    bool wanted = false;
    bool stop = false;
    bool exited = false;
    Server* server = nullptr;
    std::string master;
    std::chrono::milliseconds interval{60000}, retry{kRegisterRetryMs};
    std::shared_ptr<ServerLogQueue> log;

    void Want(bool on) {
        std::lock_guard<std::mutex> guard(lock);
        wanted = on;
        changed.notify_all();
    }

    // Why a request got no answer: a second look tells an unreachable master from a silent one.
    std::string Reason() const {
        const size_t colon = master.rfind(':');
        const std::string host = master.substr(0, colon);
        const long port = std::strtol(master.c_str() + colon + 1, nullptr, 10);
        if (port < 1 || port > 65535) return "the port is not a number from 1 to 65535";
        // From the game address, as the request itself went: another address may reach the
        // master where this one cannot.
        const char* from = std::getenv("ZELVIK_GAME_ADDRESS");
        unsigned a = 0, b = 0, c = 0, d = 0;
        char end = 0;
        uint32_t source = 0;
        if (from && std::sscanf(from, "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) == 4 && a < 256 &&
            b < 256 && c < 256 && d < 256)
            source = a | b << 8 | c << 16 | d << 24;
        std::string why;
        const uint32_t probe = Platform_Socket_ConnectFrom(
            host.c_str(), static_cast<uint16_t>(port), source, 3000, &why);
        if (!probe && !why.empty()) return "the master cannot be reached (" + why + ")";
        if (!probe) return "the master cannot be reached";
        Platform_Socket_Close(probe);
        return "the master gave no answer";
    }

    // One request; true when the master answered.
    bool Send(bool add) {
        const int32_t ok = add ? server->ops->Register(server) : server->ops->Unregister(server);
        if (ok)
            log->Push(add ? "registered on " + master : "unregistered from " + master);
        else
            log->Push(std::string(add ? "could not register on " : "could not unregister from ") +
                      master + ": " + Reason());
        return ok != 0;
    }

    static void Run(std::shared_ptr<ServerRegistrar> r) {
        using Clock = std::chrono::steady_clock;
        std::unique_lock<std::mutex> guard(r->lock);
        bool active = false;
        Clock::time_point next = Clock::now();
        while (!r->stop) {
            if (r->wanted != active) {
                active = r->wanted;
                next = Clock::now();
                if (!active) {
                    guard.unlock();
                    r->Send(false);
                    guard.lock();
                    continue;
                }
            }
            if (active && Clock::now() >= next) {
                guard.unlock();
                const bool ok = r->Send(true);
                guard.lock();
                next = Clock::now() + (ok ? r->interval : std::min(r->interval, r->retry));
                continue;
            }
            if (active)
                r->changed.wait_until(guard, next);
            else
                r->changed.wait(guard);
        }
        r->exited = true;
        r->changed.notify_all();
    }
};

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

ServerSettings ServerWindow_ReadSettings(const std::string& path, std::string* problem) {
    ServerSettings s;
    IniFile ini;
    ini.Load(path, problem); // a missing file or one refused leaves every default
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
    s.master = ini.Get("", "Master");
    if (ini.Has("", "RegisterInterval"))
        s.registerInterval = std::clamp(ToInt(ini.Get("", "RegisterInterval")), 1, 3600);
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
    std::string iniProblem;
    settings_ = ServerWindow_ReadSettings(kSettingsFile, &iniProblem);
    if (!iniProblem.empty()) {
        const std::string line = std::string("Could not read ") + kSettingsFile + ": " +
                                 iniProblem + "; the default settings are used";
        std::fprintf(stderr, "%s\n", line.c_str());
        pending_->Push(line);
    }

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
    wait_ = reinterpret_cast<Server_WaitFn>(Platform_Library_Symbol(engine_, "Server_Wait"));
    master_ = ChooseMaster(settings_.master);
    init();
    server_ = create(settings_.name.c_str(), Common_GamePort());
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

    registrar_ = std::make_shared<ServerRegistrar>();
    registrar_->server = server_;
    registrar_->master = master_;
    registrar_->interval = std::chrono::seconds(settings_.registerInterval);
    registrar_->log = pending_;
    registrarThread_ = std::thread(ServerRegistrar::Run, registrar_);
    if (settings_.isPublic) {
        isPublic_ = true;
        registrar_->Want(true);
    }
    logTarget = this;
    server_->ops->SetMessageCallback(server_, OnLog);
    LogCapacity();
    for (const std::u16string& mode : settings_.modes)
        server_->ops->AddModeByName(server_, mode.c_str());
    server_->ops->AddRotationSystemByName(server_, settings_.rotationSystem.c_str());
    server_->ops->SetRandomizerByName(server_, settings_.randomizer.c_str());
    TakeLog();
    network_ = std::thread(&ServerWindow::NetworkLoop, this);
    return 0;
}

void ServerWindow::NetworkLoop() {
    uint64_t shownPlayers = 0;
    while (!stopNetwork_.load(std::memory_order_relaxed)) {
        server_->ops->Process(server_);
        const uint64_t players = static_cast<uint32_t>(server_->ops->CountPlayers(server_));
        const uint64_t clients = static_cast<uint32_t>(server_->ops->CountClients(server_));
        counts_.store(players << 32 | clients);
        // The title follows the player count: only then is the window woken for it.
        if (players != shownPlayers) Platform_ToolWindow_Wake();
        shownPlayers = players;
        const int32_t waitMs = players ? kNetworkGameWaitMs : kNetworkIdleWaitMs;
        if (wait_)
            wait_(server_, waitMs);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ServerWindow::LogCapacity() {
    using CapacityFn = int32_t (*)(Server*);
    const auto capacity =
        reinterpret_cast<CapacityFn>(Platform_Library_Symbol(engine_, "Server_GetCapacity"));
    if (!capacity) return;
    const int32_t held = capacity(server_);
    pending_->Push("holds up to " + std::to_string(held) + " connections");
    // Fewer than this could be filled by a few hundred addresses holding silent connections.
    constexpr int32_t kWanted = 16384;
    if (held >= kWanted) return;
    const std::string warning = "warning: the open-file limit allows only " + std::to_string(held) +
                                " connections; raise it (ulimit -n) to " +
                                std::to_string(kWanted + 256) + " or more";
    pending_->Push(warning);
    std::fprintf(stderr, "%s\n", ServerWindow_Stamp("Zelvik_Server: " + warning).c_str());
}

void ServerWindow::TakeLog() {
    std::deque<std::string> lines = pending_->Take();
    if (lines.empty()) return;
    for (std::string& line : lines) log_.push_back(std::move(line));
    TrimLog();
    scrollToEnd_ = true;
    drawFrames_ = std::max(drawFrames_, 2); // the scroll to the newest line lands a frame later
}

void ServerWindow::StopThreads() {
    if (network_.joinable()) {
        stopNetwork_ = true;
        network_.join();
    }
    if (registrarThread_.joinable()) {
        // A registration under way finishes first, or it could land after the unregistration
        // that freeing the server sends and keep a closed server listed. A master that holds
        // the request past its limits is not waited for any longer.
        std::unique_lock<std::mutex> guard(registrar_->lock);
        registrar_->stop = true;
        registrar_->changed.notify_all();
        if (registrar_->changed.wait_for(guard, std::chrono::seconds(10),
                                         [&] { return registrar_->exited; })) {
            guard.unlock();
            registrarThread_.join();
        } else {
            guard.unlock();
            registrarThread_.detach();
        }
    }
}

uint32_t ServerWindow::MainWindowId() const {
    return window_ ? SDL_GetWindowID(window_) : 0;
}

uint32_t ServerWindow::PlayerWindowId() const {
    return playerWindow_ ? SDL_GetWindowID(playerWindow_) : 0;
}

void ServerWindow::AppendLog(std::u16string_view text) {
    pending_->Push(Platform_Path_ToUtf8(text));
}

void ServerWindow::TrimLog() {
    while (log_.size() > kServerLogLines) {
        log_.pop_front();
        ++firstLine_;
    }
    while (!rows_.empty() && rows_.front().line < firstLine_) rows_.pop_front();
    wrappedLine_ = std::max(wrappedLine_, firstLine_);
}

void ServerWindow::WrapLog() {
    const ImFont* font = ImGui::GetFont();
    const float scale = ImGui::GetFontSize() / font->FontSize;
    for (; wrappedLine_ < firstLine_ + log_.size(); ++wrappedLine_) {
        const std::string& text = log_[static_cast<size_t>(wrappedLine_ - firstLine_)];
        const char* start = text.c_str();
        const char* at = start;
        const char* end = start + text.size();
        do {
            const char* cut = font->CalcWordWrapPositionA(scale, at, end, wrapWidth_);
            if (cut <= at && at < end) { // not one character fits: take a whole one anyway
                cut = at + 1;
                while (cut < end && (static_cast<unsigned char>(*cut) & 0xC0) == 0x80) ++cut;
            }
            const char* shown = cut;
            while (shown > at && shown[-1] == ' ') --shown; // a blank may hang past the width
            rows_.push_back({wrappedLine_, static_cast<uint32_t>(at - start),
                             static_cast<uint32_t>(shown - start)});
            at = cut;
            while (at < end && *at == ' ') ++at; // the blank a row broke at is not shown
        } while (at < end);
    }
}

std::string ServerWindow::LogRowText(size_t i) const {
    const ServerLogRow& row = rows_.at(i);
    const std::string& line = log_.at(static_cast<size_t>(row.line - firstLine_));
    return line.substr(row.begin, row.end - row.begin);
}

void ServerWindow::ClearLog() {
    firstLine_ += log_.size();
    log_.clear();
    TrimLog();
    drawFrames_ = std::max(drawFrames_, 1);
}

void ServerWindow::SetPublic(bool on) {
    if (on == isPublic_) return;
    isPublic_ = on;
    if (registrar_) registrar_->Want(on);
    drawFrames_ = std::max(drawFrames_, 1);
    // Kept at once: a server that is killed later still starts as it was left.
    SavePublic();
}

void ServerWindow::SavePublic() {
    IniFile ini;
    std::string reason;
    // A file that is there but was not read (a pipe, too large) is not replaced by one key.
    if (!ini.Load(kSettingsFile, &reason) && !reason.empty()) {
        reason = "it could not be read (" + reason + ")";
    } else {
        ini.Set("", "Public", isPublic_ ? "1" : "0");
        if (ini.Save(kSettingsFile, &reason)) return;
    }
    const std::string line = std::string("Could not save ") + kSettingsFile + ": " + reason;
    std::fprintf(stderr, "%s\n", ServerWindow_Stamp(line).c_str());
    pending_->Push(line);
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
    drawFrames_ = std::max(drawFrames_, 1);
}

void ServerWindow::SetTitle(const std::string& title) {
    title_ = title;
    if (window_) SDL_SetWindowTitle(window_, title_.c_str());
}

void ServerWindow::HandleEvent(const void* sdlEvent) {
    const SDL_Event& e = *static_cast<const SDL_Event*>(sdlEvent);
    const uint32_t id = WindowIdOf(e);
    if (e.type == SDL_USEREVENT) return; // a wake-up: new lines or counts, taken after events
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
    drawFrames_ = kFramesAfterInput;
}

bool ServerWindow::Step() {
    const uint32_t sinceDraw = SDL_GetTicks() - lastDraw_;
    const int waitMs = drawFrames_ == 0        ? kIdleWaitMs
                       : sinceDraw >= kFrameMs ? 0
                                               : static_cast<int>(kFrameMs - sinceDraw);
    SDL_Event e;
    if (Platform_ToolWindow_WaitEvent(&e, waitMs)) {
        HandleEvent(&e);
        while (!quit_ && SDL_PollEvent(&e)) HandleEvent(&e);
    }
    TakeLog();
    const uint64_t counts = counts_.load();
    const int32_t players = static_cast<int32_t>(counts >> 32);
    if (players != lastPlayers_) {
        SetTitle("Zelvik_Server (" + std::to_string(players) + "/" +
                 std::to_string(counts & 0xFFFFFFFFu) + ")");
        lastPlayers_ = players;
    }
    if (!quit_ && drawFrames_ > 0 && SDL_GetTicks() - lastDraw_ >= kFrameMs) {
        --drawFrames_;
        Draw();
        // Keys held back for later frames need those frames drawn.
        if (Platform_ToolWindow_InputPending(imgui_) && drawFrames_ == 0) drawFrames_ = 1;
    }
    return !quit_;
}

void ServerWindow::Draw() {
    lastDraw_ = SDL_GetTicks();
    Platform_ToolWindow_BeginFrame(imgui_);
    Platform_ToolWindow_BeginPanel(window_, "##server", kWidth, kHeight);

    ImGui::SetCursorPos(Pos(layout_.log));
    // Long lines wrap at the list's width; a scroll bar always there keeps that width steady.
    if (ImGui::BeginChild("log", Size(layout_.log), true,
                          ImGuiWindowFlags_AlwaysVerticalScrollbar)) {
        const float width = std::max(1.0f, ImGui::GetContentRegionAvail().x);
        if (width != wrapWidth_) {
            wrapWidth_ = width;
            rows_.clear();
            wrappedLine_ = firstLine_;
        }
        WrapLog();
        // The newest line is the selected one, as the list always shows it. Rows are drawn as
        // text rather than as labels, so a "##" in a player's name shows as written.
        const uint64_t newest = firstLine_ + log_.size() - 1;
        const ImU32 textColour = ImGui::GetColorU32(ImGuiCol_Text);
        ImDrawList* draw = ImGui::GetWindowDrawList();
        ImGuiListClipper clipper;
        clipper.Begin(static_cast<int>(rows_.size()));
        while (clipper.Step())
            for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
                const ServerLogRow& row = rows_[static_cast<size_t>(i)];
                const std::string& line = log_[static_cast<size_t>(row.line - firstLine_)];
                ImGui::PushID(i);
                ImGui::Selectable("##row", !log_.empty() && row.line == newest);
                draw->AddText(ImGui::GetItemRectMin(), textColour, line.c_str() + row.begin,
                              line.c_str() + row.end);
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
    StopThreads();
    SavePublic();
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
