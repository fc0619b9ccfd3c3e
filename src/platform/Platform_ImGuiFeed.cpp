#include "Platform_ImGuiFeed.h"

#include <imgui_impl_sdl.h>

#include <algorithm>
#include <vector>

namespace {

// Past this many waiting events (a stuck frame loop, a flood) everything goes at once rather
// than the queue growing without end.
constexpr size_t kMostWaiting = 4096;

bool IsKey(const SDL_Event& e) {
    return e.type == SDL_KEYDOWN || e.type == SDL_KEYUP;
}

bool IsKeyboard(const SDL_Event& e) {
    return IsKey(e) || e.type == SDL_TEXTINPUT || e.type == SDL_TEXTEDITING;
}

} // namespace

void PlatformImGuiFeed::Push(const SDL_Event& e) {
    queue_.push_back(e);
}

void PlatformImGuiFeed::Feed(bool keysReady) {
    const bool flood = queue_.size() > kMostWaiting;
    std::vector<SDL_Scancode> changed;
    size_t fed = 0;
    for (; fed < queue_.size(); ++fed) {
        SDL_Event& e = queue_[fed];
        if (!flood && IsKeyboard(e) && !keysReady) break;
        if (!flood && IsKey(e)) {
            const SDL_Scancode key = e.key.keysym.scancode;
            if (std::find(changed.begin(), changed.end(), key) != changed.end()) break;
            changed.push_back(key);
        }
        ImGui_ImplSDL2_ProcessEvent(&e);
    }
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(fed));
}
