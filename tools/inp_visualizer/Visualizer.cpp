#include "Visualizer.h"

#include "DoublyLinkedList.h"
#include "InpReplay.h"
#include "Platform_ToolWindow.h"

#include <imgui.h>
#include <imgui_impl_sdl.h>
#include <imgui_impl_sdlrenderer.h>
#include <png.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kTitle = "MAME INP Visualizer (Drag'n'Drop to load file)";
constexpr int kWindowWidth = 400;
constexpr int kWindowHeight = 420;
constexpr int kButtonSize = 20;
constexpr int kStatusHeight = 20; // one line; a longer status wraps and the bar grows
constexpr int kStatusMargin = 4;
constexpr int kMaxPictureSide = 4096;

struct ButtonPicture {
    const char* file;
    uint32_t inputBit;
    int column;
};

const ButtonPicture kButtonPictures[7] = {
    {"InputHistory_Up.png", 4, 0},    {"InputHistory_Left.png", 1, 1},
    {"InputHistory_Down.png", 8, 2},  {"InputHistory_Right.png", 2, 3},
    {"InputHistory_A.png", 0x10, 4},  {"InputHistory_B.png", 0x20, 5},
    {"InputHistory_C.png", 0x100, 6},
};

// 0 when the file is missing or not a picture we can use.
SDL_Texture* LoadPicture(SDL_Renderer* renderer, const char* file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file)) return nullptr;
    image.format = PNG_FORMAT_RGBA;
    if (image.width == 0 || image.height == 0 || image.width > kMaxPictureSide ||
        image.height > kMaxPictureSide) {
        png_image_free(&image);
        return nullptr;
    }
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return nullptr;
    }
    const int w = int(image.width), h = int(image.height);
    SDL_Texture* t =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STATIC, w, h);
    if (!t) return nullptr;
    SDL_UpdateTexture(t, nullptr, pixels.data(), w * 4);
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    SDL_SetTextureScaleMode(t, SDL_ScaleModeLinear);
    return t;
}

ImFont* HistoryFont() {
    return ImGui::GetIO().Fonts->Fonts[0];
}

// Frame numbers in the default font, drawn from its atlas into the current render target.
void DrawText(Visualizer* v, int x, int y, const std::string& text) {
    ImGuiIO& io = ImGui::GetIO();
    SDL_Texture* atlas = v->fontAtlas;
    if (!atlas) return;
    ImFont* font = HistoryFont();
    const float tw = float(io.Fonts->TexWidth), th = float(io.Fonts->TexHeight);
    float pen = float(x);
    for (char c : text) {
        const ImFontGlyph* g = font->FindGlyph(ImWchar(static_cast<unsigned char>(c)));
        if (!g) continue;
        if (g->Visible) {
            const SDL_Rect src{int(std::lround(g->U0 * tw)), int(std::lround(g->V0 * th)),
                               int(std::lround((g->U1 - g->U0) * tw)),
                               int(std::lround((g->V1 - g->V0) * th))};
            const SDL_FRect dst{pen + g->X0, float(y) + g->Y0, g->X1 - g->X0, g->Y1 - g->Y0};
            SDL_RenderCopyF(v->renderer, atlas, &src, &dst);
        }
        pen += g->AdvanceX;
    }
}

void FillHistoryBlack(Visualizer* v) {
    SDL_SetRenderTarget(v->renderer, v->history);
    SDL_SetRenderDrawColor(v->renderer, 0, 0, 0, 255);
    SDL_RenderClear(v->renderer);
    SDL_SetRenderTarget(v->renderer, nullptr);
}

void SetStatus(Visualizer* v, int32_t result, const std::string& file) {
    switch (result) {
    case InpReplay_Ok:
        v->status = file + " loaded successfully";
        break;
    case InpReplay_OutOfMemory:
        v->status = "Out of Memory";
        break;
    case InpReplay_CannotOpen:
        v->status = "Can't open " + file;
        break;
    case InpReplay_Invalid:
        v->status = file + " is not a valid MAME INP file or has an unsupported version";
        break;
    case InpReplay_NoZlib:
        v->status = "Can't open libz.so.1";
        break;
    default:
        break; // a zlib set-up failure leaves the status as it was
    }
    Visualizer_ResizeWindow(v); // the bar takes the height its lines need
}

// Pixels the status bar takes beyond its one line. It grows upwards over the gap below the
// frame first; only what goes past that comes off the frame, the slider and the image.
int StatusExtra(Visualizer* v, int w) {
    const size_t lines = Visualizer_StatusLines(v, w).size();
    if (lines <= 1) return 0;
    const int lineHeight = int(std::ceil(HistoryFont()->FontSize));
    return std::max(0, int(lines) * lineHeight + 2 * kStatusMargin - kStatusHeight);
}

} // namespace

Visualizer* Visualizer_Create() {
    auto* v = new Visualizer;
    v->window = SDL_CreateWindow(kTitle, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                 kWindowWidth, kWindowHeight, SDL_WINDOW_RESIZABLE);
    if (v->window) {
        v->renderer = SDL_CreateRenderer(v->window, -1,
                                         SDL_RENDERER_ACCELERATED | SDL_RENDERER_TARGETTEXTURE);
        if (!v->renderer)
            v->renderer = SDL_CreateRenderer(v->window, -1,
                                             SDL_RENDERER_SOFTWARE | SDL_RENDERER_TARGETTEXTURE);
    }
    v->replay = InpReplay_Create();
    if (!v->window || !v->renderer || !v->replay) {
        Visualizer_Destroy(v);
        return nullptr;
    }
    SDL_SetWindowMinimumSize(v->window, 120, 140);
    SDL_EventState(SDL_DROPFILE, SDL_ENABLE);

    v->imgui = Platform_ToolWindow_CreateImGui(v->window, v->renderer);
    // The history draws its numbers from a copy of the font atlas of its own: the software
    // renderer leaves the colour of ImGui's last triangles on the texture ImGui draws with.
    unsigned char* atlas = nullptr;
    int atlasWidth = 0, atlasHeight = 0;
    ImGui::GetIO().Fonts->GetTexDataAsRGBA32(&atlas, &atlasWidth, &atlasHeight);
    v->fontAtlas = SDL_CreateTexture(v->renderer, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STATIC,
                                     atlasWidth, atlasHeight);
    if (v->fontAtlas) {
        SDL_UpdateTexture(v->fontAtlas, nullptr, atlas, atlasWidth * 4);
        SDL_SetTextureBlendMode(v->fontAtlas, SDL_BLENDMODE_BLEND);
    }

    for (int i = 0; i < 7; ++i) v->buttons[i] = LoadPicture(v->renderer, kButtonPictures[i].file);
    // Made at the image gadget's size rather than narrower, so nothing of it is left unused.
    Visualizer_ResizeWindow(v);
    return v;
}

void Visualizer_Destroy(Visualizer* v) {
    if (!v) return;
    Platform_ToolWindow_DestroyImGui(v->imgui);
    for (SDL_Texture* t : v->buttons)
        if (t) SDL_DestroyTexture(t);
    if (v->history) SDL_DestroyTexture(v->history);
    if (v->fontAtlas) SDL_DestroyTexture(v->fontAtlas);
    if (v->renderer) SDL_DestroyRenderer(v->renderer);
    if (v->window) SDL_DestroyWindow(v->window);
    if (v->replay) v->replay->ops->Free(v->replay);
    delete v;
}

void Visualizer_ResizeWindow(Visualizer* v) {
    int w = 0, h = 0;
    SDL_GetWindowSize(v->window, &w, &h);
    v->statusExtra = StatusExtra(v, w);
    const int barTop = h - kStatusHeight - v->statusExtra;
    // The image keeps its 10 pixels above the frame's bottom line, which stays above the bar.
    const int iw = std::max(1, w - 60), ih = std::max(1, std::min(h - 70, barTop - 3 - 10 - 30));
    if (!v->history || iw != v->historyWidth || ih != v->historyHeight) {
        SDL_Texture* t = SDL_CreateTexture(v->renderer, SDL_PIXELFORMAT_ARGB8888,
                                           SDL_TEXTUREACCESS_TARGET, iw, ih);
        if (!t) return; // keep the old image
        if (v->history) SDL_DestroyTexture(v->history);
        v->history = t;
        v->historyWidth = iw;
        v->historyHeight = ih;
    }
    FillHistoryBlack(v);
}

std::vector<std::string> Visualizer_StatusLines(Visualizer* v, int w) {
    std::vector<std::string> lines;
    const std::string& text = v->status;
    ImGui::SetCurrentContext(v->imgui);
    ImFont* font = v->fontAtlas ? HistoryFont() : nullptr;
    // A pixel to spare: glyph widths are fractions and a drawn line ends on a whole pixel.
    const float width = float(std::max(1, w - 2 * kStatusMargin - 1));
    const char* at = text.c_str();
    const char* end = at + text.size();
    if (!font || at == end) return {text};
    while (at < end) {
        const char* cut = font->CalcWordWrapPositionA(1.0f, at, end, width);
        if (cut <= at) { // not even one character fits: take one whole UTF-8 character
            cut = at + 1;
            while (cut < end && (static_cast<unsigned char>(*cut) & 0xC0) == 0x80) ++cut;
        }
        const char* shown = cut;
        while (shown > at && shown[-1] == ' ') --shown; // a blank may hang past the width
        lines.emplace_back(at, shown);
        at = cut;
        while (at < end && *at == ' ') ++at; // the blank where a line broke is not shown
    }
    return lines;
}

int Visualizer_TextWidth(Visualizer* v, const std::string& text) {
    ImGui::SetCurrentContext(v->imgui);
    ImFont* font = HistoryFont();
    return int(std::ceil(font->CalcTextSizeA(font->FontSize, FLT_MAX, 0, text.c_str()).x));
}

void Visualizer_DrawHistory(Visualizer* v) {
    InpReplay* r = v->replay;
    if (!r || r->inputsState != 1 || !r->inputs || !v->history) return;
    ImGui::SetCurrentContext(v->imgui);
    const int64_t n = DoublyLinkedList_CountList(r->inputs);
    const int p = std::clamp(v->slider, 0, kVisualizerSliderMax);
    const double x = double(kVisualizerSliderMax - p) * double(n) / kVisualizerSliderMax;
    const double first = std::floor(x);
    if (first >= double(n)) return; // no such frame: the image keeps what it showed
    const int firstY = -int(std::nearbyint((x - first) * kVisualizerRowHeight));

    DoublyLinkedList_SelectElement(r->inputs, int32_t(first));
    DoublyLinkedListElement* e = r->inputs->Current;
    SDL_SetRenderTarget(v->renderer, v->history);
    SDL_SetRenderDrawColor(v->renderer, 0, 0, 0, 255);
    SDL_RenderClear(v->renderer);
    const int textDown = int((kVisualizerRowHeight - HistoryFont()->FontSize) / 2);
    int y = firstY, rows = 0;
    for (int64_t frame = int64_t(first); e && y <= v->historyHeight; ++frame, e = e->Next) {
        const std::string number = std::to_string(frame);
        DrawText(v, 0, y + textDown, number);
        const int t = Visualizer_TextWidth(v, number);
        const uint32_t word = *static_cast<uint32_t*>(DoublyLinkedList_Data(e));
        for (int i = 0; i < 7; ++i) {
            if (!(word & kButtonPictures[i].inputBit)) continue;
            const SDL_Rect cell{t + kButtonSize * kButtonPictures[i].column, y, kButtonSize,
                                kButtonSize};
            if (v->buttons[i]) {
                SDL_RenderCopy(v->renderer, v->buttons[i], nullptr, &cell);
            } else {
                // Without its picture a press still shows, as a grey square.
                const SDL_Rect inner{cell.x + 2, cell.y + 2, cell.w - 4, cell.h - 4};
                SDL_SetRenderDrawColor(v->renderer, 160, 160, 160, 255);
                SDL_RenderFillRect(v->renderer, &inner);
            }
        }
        y += kVisualizerRowHeight;
        ++rows;
    }
    SDL_SetRenderTarget(v->renderer, nullptr);
    v->drawn = {int64_t(first), firstY, rows};
}

int32_t Visualizer_LoadFile(Visualizer* v, const std::string& file) {
    const int32_t result = v->replay->ops->LoadMAMEINP(v->replay, file.c_str(), 0, 0, 0);
    SetStatus(v, result, file);
    Visualizer_DrawHistory(v);
    return result;
}

void Visualizer_HandleEvent(Visualizer* v, const SDL_Event& e) {
    Platform_ToolWindow_ProcessEvent(v->imgui, e);
    switch (e.type) {
    case SDL_QUIT:
        v->running = false;
        break;
    case SDL_WINDOWEVENT:
        if (e.window.windowID != SDL_GetWindowID(v->window)) break;
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) v->running = false;
        if (e.window.event == SDL_WINDOWEVENT_LEAVE) v->mouseKnown = false;
        if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            Visualizer_ResizeWindow(v);
            Visualizer_DrawHistory(v); // the repaint that follows a resize
        }
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED) Visualizer_DrawHistory(v);
        break;
    case SDL_MOUSEMOTION:
        if (e.motion.windowID != SDL_GetWindowID(v->window)) break;
        v->mouseX = e.motion.x;
        v->mouseY = e.motion.y;
        v->mouseKnown = true;
        break;
    case SDL_DROPBEGIN:
        v->dropTaken = false;
        break;
    case SDL_DROPCOMPLETE:
        v->dropTaken = false;
        break;
    case SDL_DROPFILE:
        // Only the first file of a drop is loaded.
        if (e.drop.file && !v->dropTaken) {
            v->dropTaken = true;
            Visualizer_LoadFile(v, e.drop.file);
        }
        SDL_free(e.drop.file);
        break;
    default:
        break;
    }
}

void Visualizer_RenderFrame(Visualizer* v) {
    Platform_ToolWindow_FeedInput(v->imgui);
    ImGui_ImplSDLRenderer_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    // Where SDL reports no window under the mouse (headless and some window systems) the
    // backend leaves the position unknown; the last motion over our window stands in.
    if (!ImGui::IsMousePosValid() && v->mouseKnown)
        ImGui::GetIO().MousePos = ImVec2(float(v->mouseX), float(v->mouseY));
    ImGui::NewFrame();

    int w = 0, h = 0;
    SDL_GetWindowSize(v->window, &w, &h);
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(float(w), float(h)));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0);
    ImGui::Begin("##visualizer", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float font = ImGui::GetFontSize();
    const ImU32 text = ImGui::GetColorU32(ImGuiCol_Text);

    // The frame captioned "Input", its caption breaking the top line.
    // A status of several lines pushes up what it would cover.
    const int barTopPx = h - kStatusHeight - v->statusExtra;
    const ImVec2 frameMin(10, 10 + font / 2),
        frameMax(float(w - 30), float(std::min(h - 30, barTopPx - 3)));
    draw->AddRect(frameMin, frameMax, ImGui::GetColorU32(ImGuiCol_Border));
    const ImVec2 captionSize = ImGui::CalcTextSize("Input");
    draw->AddRectFilled(ImVec2(16, 10), ImVec2(20 + captionSize.x, 10 + captionSize.y),
                        ImGui::GetColorU32(ImGuiCol_WindowBg));
    draw->AddText(ImVec2(18, 10), text, "Input");

    ImGui::SetCursorPos(ImVec2(20, 30));
    ImGui::Image(static_cast<ImTextureID>(v->history),
                 ImVec2(float(v->historyWidth), float(v->historyHeight)));

    ImGui::SetCursorPos(ImVec2(float(w - 30), 10));
    if (ImGui::VSliderInt("##position",
                          ImVec2(20, float(std::max(1, std::min(h - 40, barTopPx - 13)))),
                          &v->slider, 0, kVisualizerSliderMax, ""))
        Visualizer_DrawHistory(v);

    const float barTop = float(barTopPx);
    draw->AddRectFilled(ImVec2(0, barTop), ImVec2(float(w), float(h)),
                        ImGui::GetColorU32(ImGuiCol_MenuBarBg));
    draw->AddLine(ImVec2(0, barTop), ImVec2(float(w), barTop), ImGui::GetColorU32(ImGuiCol_Border));
    const std::vector<std::string> lines = Visualizer_StatusLines(v, w);
    float y = lines.size() > 1 ? barTop + kStatusMargin : barTop + (kStatusHeight - font) / 2;
    for (const std::string& line : lines) {
        draw->AddText(ImVec2(kStatusMargin, y), text, line.c_str());
        y += std::ceil(font);
    }

    ImGui::End();
    ImGui::PopStyleVar(3);
    Platform_ToolWindow_EndFrame(v->renderer);
}

int Visualizer_Main(int, char**) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "inp_visualizer: %s\n", SDL_GetError());
        return 1;
    }
    Visualizer* v = Visualizer_Create();
    if (!v) {
        std::fprintf(stderr, "inp_visualizer: cannot open the window: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    while (v->running) {
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, 100)) {
            Visualizer_HandleEvent(v, e);
            while (v->running && SDL_PollEvent(&e)) Visualizer_HandleEvent(v, e);
        }
        if (v->running) Visualizer_RenderFrame(v);
    }
    Visualizer_Destroy(v);
    SDL_Quit();
    return 0;
}
