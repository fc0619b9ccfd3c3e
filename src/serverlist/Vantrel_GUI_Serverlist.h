// The server browser: lists the servers on the master list, asks each for name, players and
// ping all at once, and starts the client connected to the chosen one.
#pragma once

#include "Vantrel_GUI_ServerQueries.h"
#include "Zelvik_ServerList.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SDL_Window;
struct SDL_Renderer;
struct ImGuiContext;

struct BrowserRow {
    std::string name, players, ping;
};

std::string ServerBrowser_Address(uint32_t address);
// The entry's name as UTF-8, up to its first zero unit (at most 256 units).
std::string ServerBrowser_Name(const ServerInfo& info);

class ServerBrowser {
public:
    // Loads the engine and opens the window; 0 when running, else the exit code after the box.
    int Start();
    // One pass: timed refresh, finished queries, window events (waiting for one while idle),
    // a frame when something changed.
    bool Step();
    void Refresh();
    void Connect();
    // A click on a row (a double click connects as well).
    void SelectRow(int32_t row, bool doubleClick);
    void Shutdown();

    const std::vector<BrowserRow>& Rows() const { return rows_; }
    int32_t Selected() const { return selected_; }
    const std::string& InfoText() const { return info_; }
    uint64_t Generation() const { return generation_; }
    // Queries not finished yet.
    int RunningQueries() const { return queries_.Running(); }
    uint32_t WindowId() const;

    // Program started by Connect (tests point it elsewhere).
    std::string clientProgram = "./zelvik";
    // The master as the browser was told it (zelvik.ini's Master, or ZELVIK_MASTER).
    const std::string& Master() const { return master_; }

private:
    void CollectFinished();
    // The Information text of the selected row's entry, or the empty one without an entry.
    void ShowSelected();
    void Draw();
    void HandleEvent(const void* sdlEvent);

    void* engine_ = nullptr;
    ServerList* (*getList_)() = nullptr;
    ServerList* list_ = nullptr;
    ServerQueries queries_;
    std::vector<std::shared_ptr<PingJob>> jobs_;
    std::vector<bool> collected_;
    std::vector<BrowserRow> rows_;
    int32_t selected_ = -1;
    std::string info_ = "IP:\r\nName:\r\nPing:";
    uint32_t infoAddress_ = 0; // the server the Information text shows; 0 for none
    uint64_t generation_ = 0;
    uint64_t lastRefresh_ = 0;
    bool refreshedOnce_ = false;
    bool problemRow_ = false; // the one row says why the master gave no list
    bool quit_ = false;
    int drawFrames_ = 2;
    uint32_t lastDraw_ = 0;
    std::string master_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    ImGuiContext* imgui_ = nullptr;
};

// The program; ends the process with _exit once the window is gone.
[[noreturn]] void ServerBrowser_Main();
