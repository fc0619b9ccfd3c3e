// The dedicated-server window: reads Zelvik_Server.ini, hosts one game server from the engine
// library, shows its log, registers it on the master list when Public is ticked.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
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
};

// Defaults for whatever the file (or a missing file) leaves out; "%m" already replaced.
ServerSettings ServerWindow_ReadSettings(const std::string& path);
// Every "%m" becomes the first mode name; without a mode the name stays as written.
std::u16string ServerWindow_ReplaceMode(const std::u16string& name,
                                        const std::vector<std::u16string>& modes);

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
    bool IsPublic() const { return isPublic_; }
    bool PlayerWindowOpen() const { return playerWindow_ != nullptr; }
    uint32_t PlayerWindowId() const;
    uint32_t MainWindowId() const;
    const ServerSettings& Settings() const { return settings_; }
    Server* GameServer() const { return server_; }
    ServerLayout CurrentLayout() const { return layout_; }

    // Keeps the newest kServerLogLines lines: a client that floods the server with requests
    // must not make the window hold their log lines without end.
    void AppendLog(std::u16string_view text);

private:
    void HandleEvent(const void* sdlEvent);
    void Draw();
    void SetTitle(const std::string& title);

    ServerSettings settings_;
    void* engine_ = nullptr;
    Server* server_ = nullptr;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Window* playerWindow_ = nullptr;
    ImGuiContext* imgui_ = nullptr;
    ServerLayout layout_{};
    std::deque<std::string> log_;
    std::string title_ = "Zelvik_Server";
    int32_t lastPlayers_ = 0;
    bool isPublic_ = false;
    bool quit_ = false;
    bool scrollToEnd_ = false;
    bool dirty_ = true;
    uint32_t lastDraw_ = 0;
};

// The program: Start, loop, Finish. Returns the exit code.
int ServerWindow_Main();
