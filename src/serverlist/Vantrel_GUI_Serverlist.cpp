#include "Vantrel_GUI_Serverlist.h"

#include "IniFile.h"
#include "Platform_Dialog.h"
#include "Platform_Library.h"
#include "Platform_Path.h"
#include "Platform_Process.h"
#include "Platform_ToolWindow.h"
#include "Zelvik_Engine.h"

#include <SDL.h>
#include <imgui.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

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
constexpr const char* kSettingsFile = "zelvik.ini";

// Old lists have no free operation; they stay reachable here until the process ends.
std::vector<ServerList*>* retiredLists = new std::vector<ServerList*>;

// Queries under way, abandoned or not (never destroyed, like the lists).
std::atomic<int>* runningWorkers = new std::atomic<int>(0);

// The jobs of the latest refresh, taken in order by at most kBrowserWorkers threads that live
// as long as the process. A refresh drops the jobs not yet begun; those under way finish and
// their results are ignored (their generation is old).
struct JobQueue {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<std::shared_ptr<PingJob>> jobs;
    int workers = 0;
};
JobQueue* queue = new JobQueue;

void Worker() {
    std::unique_lock<std::mutex> guard(queue->lock);
    for (;;) {
        queue->ready.wait(guard, [] { return !queue->jobs.empty(); });
        std::shared_ptr<PingJob> job = std::move(queue->jobs.front());
        queue->jobs.pop_front();
        runningWorkers->fetch_add(1);
        guard.unlock();
        job->info.ops->Query(&job->info);
        job->done.store(1, std::memory_order_release);
        runningWorkers->fetch_sub(1);
        Platform_ToolWindow_Wake(); // the row has news
        guard.lock();
    }
}

// Replaces the waiting jobs with these and makes sure enough workers exist for them.
void Submit(const std::vector<std::shared_ptr<PingJob>>& jobs) {
    std::lock_guard<std::mutex> guard(queue->lock);
    queue->jobs.assign(jobs.begin(), jobs.end());
    const int wanted = std::min<int>(kBrowserWorkers, static_cast<int>(jobs.size()));
    while (queue->workers < wanted) {
        try {
            std::thread(Worker).detach();
            ++queue->workers;
        } catch (...) {
            break; // the workers there are take the jobs in turn
        }
    }
    queue->ready.notify_all();
}

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

int ServerBrowser_RunningWorkers() {
    return runningWorkers->load();
}

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
    // Workers still querying are abandoned: nothing reads their records any more.
    ++generation_;
    jobs_.clear();
    collected_.clear();
    rows_.clear();
    const int32_t count = list_ ? list_->ops->Count(list_) : 0;
    for (int32_t i = 0; i < count; ++i) {
        ServerInfo* entry = list_->ops->GetEntry(list_, i);
        if (!entry) break;
        auto job = std::make_shared<PingJob>();
        job->info = *entry;
        // An answer sets the ping; anything else must read "timeout", never ping 0.
        job->info.ping = -1;
        job->row = i;
        job->generation = generation_;
        rows_.push_back(NewRow(entry->address));
        jobs_.push_back(job);
        collected_.push_back(false);
    }
    Submit(jobs_);
    if (count == 0) rows_.push_back({kNoServer, "", ""});
    drawFrames_ = std::max(drawFrames_, 1);
    selected_ =
        remembered >= 0 && remembered < static_cast<int32_t>(rows_.size()) ? remembered : -1;
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
    }
}

void ServerBrowser::SelectRow(int32_t row, bool doubleClick) {
    if (row < 0 || row >= static_cast<int32_t>(rows_.size())) return;
    selected_ = row;
    ServerInfo* entry = list_ ? list_->ops->GetEntry(list_, row) : nullptr;
    if (!entry) return;
    info_ = "IP: " + ServerBrowser_Address(entry->address) +
            "\r\nName: " + ServerBrowser_Name(*entry) + "\r\nPing: " + std::to_string(entry->ping);
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
    const ImGuiTableFlags flags = ImGuiTableFlags_Reorderable | ImGuiTableFlags_Borders |
                                  ImGuiTableFlags_RowBg | ImGuiTableFlags_ScrollY |
                                  ImGuiTableFlags_SizingFixedFit;
    if (ImGui::BeginTable("servers", 3, flags, ImVec2(430, 280))) {
        ImGui::TableSetupScrollFreeze(0, 1);
        ImGui::TableSetupColumn("Name (IP)", ImGuiTableColumnFlags_WidthFixed, 300);
        ImGui::TableSetupColumn("Player", ImGuiTableColumnFlags_WidthFixed, 50);
        ImGui::TableSetupColumn("Ping", ImGuiTableColumnFlags_WidthFixed, 50);
        ImGui::TableHeadersRow();
        // Only the rows in sight are laid out: a long list costs nothing per frame.
        ImGuiListClipper clipper;
        clipper.Begin(static_cast<int>(rows_.size()));
        while (clipper.Step())
            for (int row = clipper.DisplayStart; row < clipper.DisplayEnd; ++row) {
                const size_t i = static_cast<size_t>(row);
                ImGui::TableNextRow();
                ImGui::TableSetColumnIndex(0);
                ImGui::PushID(row);
                if (ImGui::Selectable(rows_[i].name.c_str(), selected_ == row,
                                      ImGuiSelectableFlags_SpanAllColumns |
                                          ImGuiSelectableFlags_AllowDoubleClick))
                    SelectRow(row, ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left));
                ImGui::PopID();
                ImGui::TableSetColumnIndex(1);
                ImGui::TextUnformatted(rows_[i].players.c_str());
                ImGui::TableSetColumnIndex(2);
                ImGui::TextUnformatted(rows_[i].ping.c_str());
            }
        ImGui::EndTable();
    }

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
    Submit({}); // the queries not yet begun are dropped
    Platform_ToolWindow_DestroyImGui(imgui_);
    imgui_ = nullptr;
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    renderer_ = nullptr;
    window_ = nullptr;
    // Workers may still be querying through the engine: it is never unloaded.
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
