// Dear ImGui's SDL backend keeps each key as a state, not as presses: a key pressed and let go
// between two frames never shows as pressed, so an Enter typed quickly after a number was
// lost and the box waited for ever. Events are therefore handed to the backend a frame at a
// time, in order, each key changing at most once per frame.
#pragma once

#include <SDL.h>

#include <deque>

class PlatformImGuiFeed {
public:
    void Push(const SDL_Event& e);
    bool Pending() const { return !queue_.empty(); }
    // Hands the current ImGui context the queued events that fit in the coming frame. While
    // keysReady is false, keyboard events (and all after them, to keep the order) wait, e.g.
    // until a text field has the focus.
    void Feed(bool keysReady = true);

private:
    std::deque<SDL_Event> queue_;
};
