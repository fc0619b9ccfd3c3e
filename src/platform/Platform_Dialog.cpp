#include "Platform_Dialog.h"

#include "Platform_ImGuiFeed.h"
#include "Platform_Process.h"

#include <SDL.h>
#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

std::atomic<bool> gOpen{false};

bool isHeadlessDriver(const char* name) {
    return name && (std::strcmp(name, "dummy") == 0 || std::strcmp(name, "offscreen") == 0);
}

// runModal's result when no window could be opened (no display).
constexpr int kNotShown = -2;

// Runs one modal Dear ImGui window until body() returns something other than 0:
// 1 accept, -1 cancel; kNotShown when the window cannot be opened or the program was told to
// end (SIGTERM, SIGINT). Quit requests seen meanwhile (a window closed, a signal through SDL)
// cancel the box and are put back for the caller's loop, so a box never keeps the program from
// ending. The box runs in this process:
// nothing of it outlives the program. With wantsText, keys typed ahead wait until the text
// field has the focus.
int runModal(const std::string& title, int w, int h, bool wantsText,
             const std::function<int(bool first)>& body) {
    // A program asked to end (its quit event maybe taken by another loop) asks nobody.
    if (Platform_Process_TerminationRequested()) return kNotShown;
    bool startedVideo = false;
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return kNotShown;
        startedVideo = true;
    }
    // The window that has the keys now gets them back when the box closes: without a window
    // manager nobody else hands the X input focus back, and the program would go deaf.
    SDL_Window* owner = SDL_GetKeyboardFocus();
    SDL_Window* window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED,
                                          SDL_WINDOWPOS_CENTERED, w, h, SDL_WINDOW_SHOWN);
    if (!window) {
        if (startedVideo) SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return kNotShown;
    }
    // The box takes the keyboard as it appears, so Return and Escape work at once, also where
    // no window manager hands a new window the focus.
    if (owner) SDL_SetWindowModalFor(window, owner); // a dialog of the program's window
    SDL_RaiseWindow(window);
    SDL_SetWindowInputFocus(window);
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, 0);
    if (!renderer) renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer) {
        SDL_DestroyWindow(window);
        if (startedVideo) SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return kNotShown;
    }
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGuiContext* ctx = ImGui::CreateContext();
    ImGui::SetCurrentContext(ctx);
    ImGui::GetIO().IniFilename = nullptr;
    ImGui_ImplSDL2_InitForSDLRenderer(window);
    ImGui_ImplSDLRenderer_Init(renderer);
    SDL_StartTextInput();

    const Uint32 id = SDL_GetWindowID(window);
    int result = 0;
    int quits = 0;
    bool first = true;
    int frames = 0;
    PlatformImGuiFeed feed;
    while (result == 0) {
        SDL_Event e;
        const bool got = feed.Pending() ? SDL_PollEvent(&e) : SDL_WaitEventTimeout(&e, 16);
        if (got) {
            do {
                if (e.type == SDL_QUIT) {
                    ++quits;
                    result = -1;
                    continue;
                }
                if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE) {
                    if (e.window.windowID != id) ++quits;
                    result = -1;
                    continue;
                }
                Uint32 target = 0;
                switch (e.type) {
                case SDL_KEYDOWN:
                case SDL_KEYUP:
                    target = e.key.windowID;
                    break;
                case SDL_TEXTINPUT:
                    target = e.text.windowID;
                    break;
                case SDL_MOUSEMOTION:
                    target = e.motion.windowID;
                    break;
                case SDL_MOUSEBUTTONDOWN:
                case SDL_MOUSEBUTTONUP:
                    target = e.button.windowID;
                    break;
                case SDL_MOUSEWHEEL:
                    target = e.wheel.windowID;
                    break;
                case SDL_WINDOWEVENT:
                    target = e.window.windowID;
                    break;
                default:
                    target = id;
                    break;
                }
                // Events of other windows are dropped while the box is up; 0 is an event
                // injected without a window.
                if (target == id || target == 0) feed.Push(e);
            } while (SDL_PollEvent(&e));
        }
        if (Platform_Process_TerminationRequested()) result = -1;
        if (result != 0) break;
        // A field that never takes the focus must not keep the keys from the buttons.
        feed.Feed(!wantsText || ImGui::GetIO().WantTextInput || frames >= 10);
        ImGui_ImplSDLRenderer_NewFrame();
        ImGui_ImplSDL2_NewFrame();
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(static_cast<float>(w), static_cast<float>(h)));
        ImGui::Begin("##modal", nullptr,
                     ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoSavedSettings);
        result = body(first);
        first = false;
        ImGui::End();
        ImGui::Render();
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
        SDL_RenderClear(renderer);
        ImGui_ImplSDLRenderer_RenderDrawData(ImGui::GetDrawData());
        SDL_RenderPresent(renderer);
        if (++frames >= 2) gOpen = true; // the text box has the focus by now
    }
    gOpen = false;

    SDL_StopTextInput();
    ImGui_ImplSDLRenderer_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext(ctx);
    ImGui::SetCurrentContext(previous);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    if (owner) {
        SDL_RaiseWindow(owner);
        SDL_SetWindowInputFocus(owner);
    }
    for (int i = 0; i < quits; ++i) {
        SDL_Event q{};
        q.type = SDL_QUIT;
        SDL_PushEvent(&q);
    }
    if (startedVideo) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return result;
}

// Message box layout, in pixels of Dear ImGui's default font and style.
constexpr int kPadding = 8;           // the window's padding
constexpr int kMargin = 8;            // room at the end of the longest line
constexpr float kIconWidth = 28;      // the error mark and its gap
constexpr int kMessageMinWidth = 240; // room for the title and the button
constexpr float kMessageWrap = 520;   // longer lines wrap
constexpr float kButtonWidth = 80;
constexpr int kMessageChrome = 2 * kPadding + 12 + 19; // padding, gap, button

// The size the message takes in the default font, wrapped at kMessageWrap, measured before the
// box's window exists so that the window opens at its final size.
ImVec2 messageTextSize(const std::string& text) {
    ImFontAtlas atlas;
    ImFont* font = atlas.AddFontDefault();
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    atlas.GetTexDataAsAlpha8(&pixels, &width, &height); // builds the glyphs' metrics
    const char* begin = text.c_str();
    const char* end = begin + text.size();
    ImVec2 size = font->CalcTextSizeA(font->FontSize, FLT_MAX, 0.0f, begin, end);
    if (size.x > kMessageWrap)
        size = font->CalcTextSizeA(font->FontSize, FLT_MAX, kMessageWrap, begin, end);
    return size;
}

} // namespace

bool Platform_Dialog_IsOpen() {
    return gOpen;
}

bool Platform_Dialog_Headless() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return isHeadlessDriver(SDL_GetCurrentVideoDriver());
    return isHeadlessDriver(SDL_getenv("SDL_VIDEODRIVER"));
}

void Platform_Dialog_Message(const std::string& title, const std::string& text, bool error) {
    if (!Platform_Dialog_Headless()) {
        const ImVec2 textSize = messageTextSize(text);
        const float icon = error ? kIconWidth : 0.0f;
        const int w =
            std::max(kMessageMinWidth, int(std::ceil(textSize.x + icon)) + 2 * kPadding + kMargin);
        const int h = int(std::ceil(std::max(textSize.y, icon))) + kMessageChrome;
        const int r = runModal(title.empty() ? " " : title, w, h, false, [&](bool) {
            if (error) {
                // The error mark: a red disc with "!" beside the text.
                ImDrawList* draw = ImGui::GetWindowDrawList();
                const ImVec2 at = ImGui::GetCursorScreenPos();
                draw->AddCircleFilled(ImVec2(at.x + 10, at.y + 10), 10, IM_COL32(200, 40, 40, 255));
                draw->AddText(ImVec2(at.x + 7, at.y + 3), IM_COL32_WHITE, "!");
                ImGui::Indent(kIconWidth);
            }
            ImGui::PushTextWrapPos(0.0f);
            ImGui::TextUnformatted(text.c_str());
            ImGui::PopTextWrapPos();
            if (error) ImGui::Unindent(kIconWidth);
            ImGui::SetCursorPos(ImVec2((float(w) - kButtonWidth) / 2,
                                       float(h) - kPadding - ImGui::GetFrameHeight()));
            if (ImGui::Button("OK", ImVec2(kButtonWidth, 0))) return 1;
            for (ImGuiKey key :
                 {ImGuiKey_Enter, ImGuiKey_KeyPadEnter, ImGuiKey_Escape, ImGuiKey_Space})
                if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(key))) return 1;
            return 0;
        });
        // Read and closed: done. Not shown, or closed by a request to end: the text goes to
        // stderr so it is not lost.
        if (r == 1) return;
    }
    std::fprintf(stderr, "%s%s%s\n", title.c_str(), title.empty() ? "" : ": ", text.c_str());
}

bool Platform_Dialog_Input(const std::string& title, const std::string& prompt,
                           const std::string& initial, std::string* answer) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%s", initial.c_str());
    int r = runModal(title.empty() ? " " : title, 360, 110, true, [&](bool first) {
        ImGui::TextUnformatted(prompt.c_str());
        if (first) ImGui::SetKeyboardFocusHere();
        ImGui::SetNextItemWidth(-1);
        bool enter = ImGui::InputText("##answer", buffer, sizeof buffer,
                                      ImGuiInputTextFlags_EnterReturnsTrue);
        if (ImGui::Button("OK") || enter) return 1;
        ImGui::SameLine();
        if (ImGui::Button("Cancel") || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape)))
            return -1;
        return 0;
    });
    if (r != 1) return false;
    if (answer) *answer = buffer;
    return true;
}

int Platform_Dialog_Choose(const std::string& title, const std::string& prompt,
                           const std::vector<std::string>& options) {
    if (options.empty()) return -1;
    int selected = 0;
    int r = runModal(
        title.empty() ? " " : title, 360, 80 + 24 * static_cast<int>(options.size()), false,
        [&](bool) {
            ImGui::TextUnformatted(prompt.c_str());
            for (size_t i = 0; i < options.size(); ++i)
                ImGui::RadioButton(options[i].c_str(), &selected, static_cast<int>(i));
            if (ImGui::Button("OK") || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Enter)) ||
                ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_KeyPadEnter)))
                return 1;
            ImGui::SameLine();
            if (ImGui::Button("Cancel") || ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape)))
                return -1;
            return 0;
        });
    return r == 1 ? selected : -1;
}
