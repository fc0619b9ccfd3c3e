#include "Vantrel_GUI_Serverlist.h"

#include "IniFile.h"
#include "Platform_Dialog.h"
#include "Platform_Library.h"
#include "Platform_Path.h"
#include "Platform_Process.h"
#include "Platform_ToolWindow.h"
#include "Vantrel_Common.h"
#include "Zelvik_Engine.h"

#include <SDL.h>
#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 300;
constexpr int kLeft = 723;
constexpr int kTop = 380;
constexpr uint64_t kRefreshMs = 5000;
// An idle window sleeps this long at most (answers and clicks wake it at once).
constexpr int kIdleWaitMs = 250;
constexpr uint32_t kFrameMs = 16;
// A click is a press and a release in separate frames; what it changed shows a frame later.
constexpr int kFramesAfterInput = 3;
constexpr const char* kNoServer = "no server online";
constexpr const char* kNoInfo = "IP:\r\nName:\r\nPing:";
constexpr const char* kSettingsFile = "zelvik.ini";

// Old lists have no free operation; they stay reachable here until the process ends.
std::vector<ServerList*>* retiredLists = new std::vector<ServerList*>;

BrowserRow NewRow(uint32_t address) {
    // Built by appending: GCC 12 misreads "(" + text + ")" at -O3 (-Wrestrict).
    std::string name = "(";
    name += ServerBrowser_Address(address);
    name += ')';
    return {std::move(name), "n/a", "n/a"};
}

void Place(int x, int y) {
    ImGui::SetCursorPos(ImVec2(static_cast<float>(x), static_cast<float>(y)));
}

} // namespace

std::string ServerBrowser_Address(uint32_t a) {
    return std::to_string(a & 0xFF) + "." + std::to_string(a >> 8 & 0xFF) + "." +
           std::to_string(a >> 16 & 0xFF) + "." + std::to_string(a >> 24);
}

std::string ServerBrowser_Name(const ServerInfo& info) {
    size_t n = 0;
    while (n < kServerInfoNameUnits && info.name[n]) ++n;
    return Platform_Path_ToUtf8(std::u16string_view(info.name, n));
}

int ServerBrowser::Start() {
    // The master: ZELVIK_MASTER, else zelvik.ini's Master (handed on in the same variable,
    // which the engine reads), else the engine's default.
    IniFile ini;
    std::string iniProblem;
    if (!ini.Load(kSettingsFile, &iniProblem) && !iniProblem.empty())
        std::fprintf(stderr, "Could not read %s: %s; the default settings are used\n",
                     kSettingsFile, iniProblem.c_str());
    master_ = Platform_Process_EnvOrSet("ZELVIK_MASTER", ini.Get("", "Master"));
    engine_ = Platform_Library_Open(kEngineLibraryPath);
    if (engine_)
        getList_ =
            reinterpret_cast<ServerList_GetFn>(Platform_Library_Symbol(engine_, "ServerList_Get"));
    if (!engine_ || !getList_) {
        Platform_Dialog_Message("", "Engine dll/so cannot be found", true);
        return 1;
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        Platform_Dialog_Message("", std::string("Cannot open the window: ") + SDL_GetError(), true);
        return 1;
    }
    // The window's usual place, moved in where a small screen would cut it off.
    int left = kLeft, top = kTop;
    SDL_Rect screen;
    if (SDL_GetDisplayUsableBounds(0, &screen) == 0) {
        left = std::max(screen.x, std::min(left, screen.x + screen.w - kWidth));
        top = std::max(screen.y, std::min(top, screen.y + screen.h - kHeight));
    }
    if (!Platform_ToolWindow_Open("ServerList", left, top, kWidth, kHeight, &window_, &renderer_)) {
        Platform_Dialog_Message("", std::string("Cannot open the window: ") + SDL_GetError(), true);
        return 1;
    }
    imgui_ = Platform_ToolWindow_CreateImGui(window_, renderer_);
    queries_.SetOnDone(Platform_ToolWindow_Wake); // rows have news
    return 0;
}

uint32_t ServerBrowser::WindowId() const {
    return window_ ? SDL_GetWindowID(window_) : 0;
}

void ServerBrowser::Refresh() {
    const int32_t remembered = selected_;
    ServerList* list = getList_();
    if (list) retiredLists->push_back(list);
    list_ = list;
    // A query under way for a server listed again goes on for its new row: a refresh that
    // started every query afresh would never let a slow list finish. The rest are abandoned.
    std::unordered_multimap<uint32_t, std::shared_ptr<PingJob>> underWay;
    for (auto& job : jobs_)
        if (!job->done.load(std::memory_order_acquire)) underWay.emplace(job->info.address, job);
    ++generation_;
    jobs_.clear();
    collected_.clear();
    rows_.clear();
    problemRow_ = false;
    std::vector<std::shared_ptr<PingJob>> fresh;
    const int32_t count = list_ ? list_->ops->Count(list_) : 0;
    for (int32_t i = 0; i < count; ++i) {
        ServerInfo* entry = list_->ops->GetEntry(list_, i);
        if (!entry) break;
        std::shared_ptr<PingJob> job;
        if (auto kept = underWay.find(entry->address); kept != underWay.end()) {
            job = std::move(kept->second);
            underWay.erase(kept);
        } else {
            job = std::make_shared<PingJob>();
            job->info = *entry;
            // An answer sets the ping; anything else must read "timeout", never ping 0.
            job->info.ping = -1;
            fresh.push_back(job);
        }
        job->row = i;
        job->generation = generation_;
        rows_.push_back(NewRow(entry->address));
        jobs_.push_back(job);
        collected_.push_back(false);
    }
    for (auto& [address, job] : underWay) job->abandoned.store(true);
    queries_.Submit(fresh, static_cast<uint16_t>(Common_GamePort()));
    if (count == 0) {
        // A master that could not be asked is not a master with an empty list.
        const bool problem = list_ && list_->problem[0];
        problemRow_ = problem;
        rows_.push_back(
            {problem ? std::string(list_->problem, strnlen(list_->problem, sizeof list_->problem))
                     : kNoServer,
             "", ""});
    }
    drawFrames_ = std::max(drawFrames_, 1);
    selected_ =
        remembered >= 0 && remembered < static_cast<int32_t>(rows_.size()) ? remembered : -1;
    // The Information panel must not keep showing a server that is no longer in its row.
    ServerInfo* shown = selected_ >= 0 && list_ ? list_->ops->GetEntry(list_, selected_) : nullptr;
    if (!shown || shown->address != infoAddress_) ShowSelected();
}

void ServerBrowser::ShowSelected() {
    ServerInfo* entry = selected_ >= 0 && list_ ? list_->ops->GetEntry(list_, selected_) : nullptr;
    if (!entry) {
        info_ = kNoInfo;
        infoAddress_ = 0;
        return;
    }
    info_ = "IP: " + ServerBrowser_Address(entry->address) +
            "\r\nName: " + ServerBrowser_Name(*entry) + "\r\nPing: " + std::to_string(entry->ping);
    infoAddress_ = entry->address;
}

void ServerBrowser::CollectFinished() {
    for (size_t i = 0; i < jobs_.size(); ++i) {
        PingJob& job = *jobs_[i];
        if (collected_[i] || job.generation != generation_ ||
            !job.done.load(std::memory_order_acquire))
            continue;
        collected_[i] = true;
        drawFrames_ = std::max(drawFrames_, 1);
        if (ServerInfo* entry = list_ ? list_->ops->GetEntry(list_, job.row) : nullptr) {
            std::copy(std::begin(job.info.name), std::end(job.info.name), std::begin(entry->name));
            entry->ping = job.info.ping;
            entry->players = job.info.players;
            entry->maximum = job.info.maximum;
        }
        BrowserRow& row = rows_[static_cast<size_t>(job.row)];
        if (job.info.ping != -1) {
            const std::string address = ServerBrowser_Address(job.info.address);
            row.name = ServerBrowser_Name(job.info) + " (" + address + ")";
            row.players = std::to_string(job.info.players) + "/" + std::to_string(job.info.maximum);
            row.ping = std::to_string(job.info.ping);
        } else {
            row.ping = "timeout";
        }
        // The panel of the selected server follows its answer.
        if (job.row == selected_ && job.info.address == infoAddress_) ShowSelected();
    }
}

void ServerBrowser::SelectRow(int32_t row, bool doubleClick) {
    if (row < 0 || row >= static_cast<int32_t>(rows_.size())) return;
    selected_ = row;
    ShowSelected();
    if (doubleClick) Connect();
}

void ServerBrowser::Connect() {
    if (selected_ < 0 || !list_) return;
    ServerInfo* entry = list_->ops->GetEntry(list_, selected_);
    if (!entry) return;
    Platform_Process_Start(clientProgram, {"/c", ServerBrowser_Address(entry->address)}, "");
}

bool ServerBrowser::Step() {
    const uint64_t now = SDL_GetTicks64();
    if (!refreshedOnce_ || lastRefresh_ + kRefreshMs < now) {
        Refresh();
        refreshedOnce_ = true;
        lastRefresh_ = SDL_GetTicks64();
    }
    CollectFinished();
    // Asleep until an event, a finished query, the next timed refresh or the next frame.
    const uint64_t nextRefresh = lastRefresh_ + kRefreshMs + 1, later = SDL_GetTicks64();
    const uint64_t untilRefresh = nextRefresh > later ? nextRefresh - later : 0;
    const uint32_t sinceDraw = SDL_GetTicks() - lastDraw_;
    int waitMs = static_cast<int>(std::min<uint64_t>(untilRefresh, kIdleWaitMs));
    if (drawFrames_ > 0)
        waitMs = sinceDraw >= kFrameMs ? 0 : static_cast<int>(kFrameMs - sinceDraw);
    SDL_Event e;
    if (Platform_ToolWindow_WaitEvent(&e, waitMs)) {
        HandleEvent(&e);
        while (SDL_PollEvent(&e)) HandleEvent(&e);
    }
    CollectFinished();
    if (!quit_ && drawFrames_ > 0 && SDL_GetTicks() - lastDraw_ >= kFrameMs) {
        --drawFrames_;
        Draw();
        // Keys held back for later frames need those frames drawn.
        if (Platform_ToolWindow_InputPending(imgui_) && drawFrames_ == 0) drawFrames_ = 1;
    }
    return !quit_;
}

void ServerBrowser::HandleEvent(const void* sdlEvent) {
    const SDL_Event& e = *static_cast<const SDL_Event*>(sdlEvent);
    if (e.type == SDL_USEREVENT) return; // a worker finished: collected after the events
    if (e.type == SDL_QUIT ||
        (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE))
        quit_ = true;
    Platform_ToolWindow_ProcessEvent(imgui_, e);
    drawFrames_ = kFramesAfterInput;
}

void ServerBrowser::Draw() {
    lastDraw_ = SDL_GetTicks();
    Platform_ToolWindow_BeginFrame(imgui_);
    Platform_ToolWindow_BeginPanel(window_, "##browser", kWidth, kHeight);

    Place(10, 10);
    ImVec2 problemAt(-1, -1);
    const ImGuiTableFlags flags = ImGuiTableFlags_Reorderable | ImGuiTableFlags_Borders |
                                  ImGuiTableFlags_RowBg | ImGuiTableFlags_ScrollY |
                                  ImGuiTableFlags_SizingFixedFit;
    if (ImGui::BeginTable("servers", 3, flags, ImVec2(430, 280))) {
        ImGui::TableSetupScrollFreeze(0, 1);
        // Ping is a little wider than the classic 50 so that "timeout" fits in this font.
        ImGui::TableSetupColumn("Name (IP)", ImGuiTableColumnFlags_WidthFixed, 290);
        ImGui::TableSetupColumn("Player", ImGuiTableColumnFlags_WidthFixed, 50);
        ImGui::TableSetupColumn("Ping", ImGuiTableColumnFlags_WidthFixed, 60);
        ImGui::TableHeadersRow();
        // Only the rows in sight are laid out: a long list costs nothing per frame.
        ImGuiListClipper clipper;
        clipper.Begin(static_cast<int>(rows_.size()));
        const ImU32 textColour = ImGui::GetColorU32(ImGuiCol_Text);
        while (clipper.Step())
            for (int row = clipper.DisplayStart; row < clipper.DisplayEnd; ++row) {
                const size_t i = static_cast<size_t>(row);
                ImGui::TableNextRow();
                ImGui::TableSetColumnIndex(0);
                ImGui::PushID(row);
                // The name is drawn as text, not as the label: a "##" in a server's name
                // would hide the rest of it.
                const ImVec2 at = ImGui::GetCursorScreenPos();
                const bool clicked = ImGui::Selectable("##row", selected_ == row,
                                                       ImGuiSelectableFlags_SpanAllColumns |
                                                           ImGuiSelectableFlags_AllowDoubleClick);
                if (problemRow_ && row == 0)
                    problemAt = at;
                else
                    ImGui::GetWindowDrawList()->AddText(at, textColour, rows_[i].name.c_str());
                if (clicked) SelectRow(row, ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left));
                ImGui::PopID();
                ImGui::TableSetColumnIndex(1);
                ImGui::TextUnformatted(rows_[i].players.c_str());
                ImGui::TableSetColumnIndex(2);
                ImGui::TextUnformatted(rows_[i].ping.c_str());
            }
        ImGui::EndTable();
    }
    // Why there is no list reads whole, wrapped across the table rather than cut by a column.
    if (problemAt.x >= 0)
        ImGui::GetWindowDrawList()->AddText(ImGui::GetFont(), ImGui::GetFontSize(), problemAt,
                                            ImGui::GetColorU32(ImGuiCol_Text),
                                            rows_[0].name.c_str(), nullptr, 410.0f);

    Place(460, 10);
    if (ImGui::Button("Connect", ImVec2(120, 30))) Connect();
    Place(460, 50);
    if (ImGui::Button("Refresh", ImVec2(120, 30))) Refresh(); // the timer is not reset
    Place(450, 90);
    ImGui::BeginChild("Information", ImVec2(140, 200), true);
    ImGui::TextUnformatted("Information");
    ImGui::Separator();
    ImGui::PushTextWrapPos(130);
    ImGui::TextUnformatted(info_.c_str());
    ImGui::PopTextWrapPos();
    ImGui::EndChild();

    ImGui::End();
    Platform_ToolWindow_EndFrame(renderer_);
}

void ServerBrowser::Shutdown() {
    for (auto& job : jobs_) job->abandoned.store(true);
    Platform_ToolWindow_DestroyImGui(imgui_);
    imgui_ = nullptr;
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    renderer_ = nullptr;
    window_ = nullptr;
    // Lists handed out by the engine stay reachable: it is never unloaded.
}

void ServerBrowser_Main() {
    int code = 0;
    {
        ServerBrowser browser;
        code = browser.Start();
        if (code == 0) {
            while (browser.Step()) {
            }
        }
        browser.Shutdown();
    }
    std::fflush(nullptr);
    std::_Exit(code);
}
