// The dedicated-server window: reads Zelvik_Server.ini, hosts one game server from the engine
// library, shows its log, registers it on the master list when Public is ticked.
//
// Three threads: the window thread draws and handles clicks; the network thread runs the
// server, sleeping in the engine's wait until a client sends something, so a relay never
// waits for the window; the registration thread talks to the master, which may take seconds.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct Server;
struct SDL_Window;
struct SDL_Renderer;
struct ImGuiContext;

constexpr size_t kServerLogLines = 10000;

struct ServerSettings {
    std::u16string name = u"Zelvik_Server";
    int32_t isPublic = 0;
    std::vector<std::u16string> modes;
    std::u16string rotationSystem = u"DORVO";
    std::u16string randomizer = u"PEXA";
    // Master host as host[:port]; empty: the engine's default. ZELVIK_MASTER overrides it.
    std::string master;
    // Seconds between registrations while public (1..3600).
    int32_t registerInterval = 60;
};

// The line as the log shows it: the local time first ("12:34:56 registered on ...").
std::string ServerWindow_Stamp(const std::string& line);

// Lines handed from any thread to the window thread, which wakes up to show them, each stamped
// with the local time it was pushed at.
struct ServerLogQueue {
    std::mutex lock;
    std::deque<std::string> lines;
    bool wakePending = false;
    void Push(std::string line);
    std::deque<std::string> Take();
};

// Keeps the server on the master list while wanted: registers at once, again every interval
// (the master forgets a server it has not heard from), every retry while the master cannot be
// reached, and unregisters when no longer wanted. Each result becomes a log line.
struct ServerRegistrar;

// Defaults for whatever the file (or a missing file) leaves out; "%m" already replaced.
// problem says why a file that is there was not read ("not a regular file").
ServerSettings ServerWindow_ReadSettings(const std::string& path, std::string* problem = nullptr);
// Every "%m" becomes the first mode name; without a mode the name stays as written.
std::u16string ServerWindow_ReplaceMode(const std::u16string& name,
                                        const std::vector<std::u16string>& modes);

// One row of the log as the window shows it: a piece of a log line that fits its width.
struct ServerLogRow {
    uint64_t line;       // counted from the first line ever logged
    uint32_t begin, end; // bytes of that line
};

struct ServerRect {
    int x, y, w, h;
};
struct ServerLayout {
    ServerRect log, clear, showPlayer, publicBox;
};
// Controls for a client area of w x h (divisions truncate).
ServerLayout ServerWindow_Layout(int w, int h);

class ServerWindow {
public:
    ServerWindow() = default;
    ServerWindow(const ServerWindow&) = delete;
    ServerWindow& operator=(const ServerWindow&) = delete;
    ~ServerWindow() { StopThreads(); }
    // Settings, engine, server, window, registration, rules. 0 when running; otherwise the
    // exit code after the error box was shown.
    int Start();
    // One pass of the loop; false once a close request came.
    bool Step();
    // Write-back of Public, then the server is freed.
    void Finish();

    // What the controls do (the window's clicks end up here).
    void SetPublic(bool on);
    void ClearLog();
    void SetShowPlayer(bool on);

    const std::string& Title() const { return title_; }
    const std::deque<std::string>& Log() const { return log_; }
    // The rows the last frame wrapped the log into, and the width they were wrapped to.
    const std::deque<ServerLogRow>& LogRows() const { return rows_; }
    float LogWrapWidth() const { return wrapWidth_; }
    // The text of log row i.
    std::string LogRowText(size_t i) const;
    bool IsPublic() const { return isPublic_; }
    bool PlayerWindowOpen() const { return playerWindow_ != nullptr; }
    uint32_t PlayerWindowId() const;
    uint32_t MainWindowId() const;
    const ServerSettings& Settings() const { return settings_; }
    Server* GameServer() const { return server_; }
    ServerLayout CurrentLayout() const { return layout_; }

    // Any thread. Keeps the newest kServerLogLines lines: a client that floods the server with
    // requests must not make the window hold their log lines without end.
    void AppendLog(std::u16string_view text);
    // Counts as the network thread last saw them.
    int32_t Players() const { return static_cast<int32_t>(counts_.load() >> 32); }
    int32_t Clients() const { return static_cast<int32_t>(counts_.load() & 0xFFFFFFFFu); }
    // The master as the log names it (host:port).
    const std::string& Master() const { return master_; }

private:
    void HandleEvent(const void* sdlEvent);
    void Draw();
    void SetTitle(const std::string& title);
    void TakeLog();
    // Drops the oldest lines past kServerLogLines, with their rows.
    void TrimLog();
    // Breaks the lines not yet wrapped into rows of the current wrap width.
    void WrapLog();
    // States how many connections the engine holds at once, and warns when it is few.
    void LogCapacity();
    void NetworkLoop();
    void StopThreads();
    // Writes Public back into the settings file; a failure goes to the log and stderr.
    void SavePublic();

    ServerSettings settings_;
    void* engine_ = nullptr;
    Server* server_ = nullptr;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Window* playerWindow_ = nullptr;
    ImGuiContext* imgui_ = nullptr;
    ServerLayout layout_{};
    std::deque<std::string> log_;
    uint64_t firstLine_ = 0;   // number of log_.front() among every line logged
    uint64_t wrappedLine_ = 0; // the first line not yet broken into rows
    std::deque<ServerLogRow> rows_;
    float wrapWidth_ = -1;
    std::shared_ptr<ServerLogQueue> pending_ = std::make_shared<ServerLogQueue>();
    std::shared_ptr<ServerRegistrar> registrar_;
    std::thread registrarThread_;
    std::thread network_;
    std::atomic<bool> stopNetwork_{false};
    std::atomic<uint64_t> counts_{0}; // players << 32 | clients
    int32_t (*wait_)(Server*, int32_t) = nullptr;
    std::string master_;
    int drawFrames_ = 2;
    std::string title_ = "Zelvik_Server";
    int32_t lastPlayers_ = 0;
    bool isPublic_ = false;
    bool quit_ = false;
    bool scrollToEnd_ = false;
    uint32_t lastDraw_ = 0;
};

// The program: Start, loop, Finish. Returns the exit code.
int ServerWindow_Main();
