// Windows with controls on SDL2 (see sdlui.h), drawn with Dear ImGui in the look of a small
// Windows tool window of its day: button-face grey, bevelled buttons, sunken white fields, an
// 8-point sans-serif font. Every window has its own OpenGL context and ImGui context; events go
// to the window they name. Keys that move between controls (Tab, Enter, Escape, arrows, Space,
// mnemonics) go to the shared code (hostKeyDown); editing keys go to ImGui's text fields.
#include "platform/sdl/sdlui.h"

#include <SDL_opengl.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <backends/imgui_impl_opengl2.h>
#include <backends/imgui_impl_sdl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// The classic Windows colours.
constexpr ImU32 rgb(int r, int g, int b) {
    return IM_COL32(r, g, b, 255);
}
constexpr ImU32 colourFace = rgb(212, 208, 200);
constexpr ImU32 colourLight = rgb(255, 255, 255);
constexpr ImU32 colourShadow = rgb(128, 128, 128);
constexpr ImU32 colourDark = rgb(64, 64, 64);
constexpr ImU32 colourWindow = rgb(255, 255, 255);
constexpr ImU32 colourText = rgb(0, 0, 0);
constexpr ImU32 colourGrey = rgb(128, 128, 128);
constexpr ImU32 colourSelected = rgb(10, 36, 106);
constexpr ImU32 colourSelectedText = rgb(255, 255, 255);

constexpr float fontPixels = 11.0f;
constexpr float comboFieldHeight = 21.0f; // a closed drop-down list of the 8-point font
constexpr float arrowWidth = 16.0f;

struct UiWindow {
    WindowHandle handle = 0;
    SDL_Window* window = nullptr;
    SDL_GLContext gl = nullptr;
    ImGuiContext* imgui = nullptr;
    int framesToDraw = 0;
    WindowHandle drawnFocus = 0; // the focus when the window was last drawn
    bool listDropped = false;    // a combo box's list is open
    bool closeList = false;      // Enter or Escape closes it in the next frame
    std::map<std::string, GLuint> textures;                // program bitmaps, by name
    std::map<WindowHandle, std::array<char, 256>> fields;   // text of the edit fields while typing
};

std::vector<std::unique_ptr<UiWindow>> uiWindows;

UiWindow* findUi(WindowHandle handle) {
    for (auto& ui : uiWindows)
        if (ui->handle == handle) return ui.get();
    return nullptr;
}

UiWindow* findUiBySdl(Uint32 windowId) {
    SDL_Window* window = SDL_GetWindowFromID(windowId);
    for (auto& ui : uiWindows)
        if (window && ui->window == window) return ui.get();
    return nullptr;
}

void makeCurrent(UiWindow& ui) {
    SDL_GL_MakeCurrent(ui.window, ui.gl);
    ImGui::SetCurrentContext(ui.imgui);
}

void setStyle() {
    ImGuiStyle& style = ImGui::GetStyle();
    ImGui::StyleColorsLight(&style);
    style.WindowPadding = ImVec2(0, 0);
    style.WindowRounding = 0;
    style.WindowBorderSize = 0;
    style.FramePadding = ImVec2(0, 0);
    style.FrameRounding = 0;
    style.FrameBorderSize = 0;
    style.PopupRounding = 0;
    style.PopupBorderSize = 1;
    style.ItemSpacing = ImVec2(0, 0);
    style.ScrollbarSize = 16;
    style.ScrollbarRounding = 0;
    style.GrabRounding = 0;
    style.ChildBorderSize = 0;
    ImVec4* c = style.Colors;
    c[ImGuiCol_WindowBg] = ImGui::ColorConvertU32ToFloat4(colourFace);
    c[ImGuiCol_ChildBg] = ImGui::ColorConvertU32ToFloat4(colourWindow);
    c[ImGuiCol_PopupBg] = ImGui::ColorConvertU32ToFloat4(colourWindow);
    c[ImGuiCol_Border] = ImGui::ColorConvertU32ToFloat4(colourText);
    c[ImGuiCol_FrameBg] = ImGui::ColorConvertU32ToFloat4(colourWindow);
    c[ImGuiCol_FrameBgHovered] = c[ImGuiCol_FrameBg];
    c[ImGuiCol_FrameBgActive] = c[ImGuiCol_FrameBg];
    c[ImGuiCol_Text] = ImGui::ColorConvertU32ToFloat4(colourText);
    // ImGui draws selected text in the text colour, so the selection is light, not navy.
    c[ImGuiCol_TextSelectedBg] = ImGui::ColorConvertU32ToFloat4(rgb(153, 180, 209));
    c[ImGuiCol_ScrollbarBg] = ImGui::ColorConvertU32ToFloat4(rgb(234, 232, 227));
    c[ImGuiCol_ScrollbarGrab] = ImGui::ColorConvertU32ToFloat4(colourFace);
    c[ImGuiCol_ScrollbarGrabHovered] = c[ImGuiCol_ScrollbarGrab];
    c[ImGuiCol_ScrollbarGrabActive] = ImGui::ColorConvertU32ToFloat4(colourShadow);
    c[ImGuiCol_Header] = ImGui::ColorConvertU32ToFloat4(colourSelected);
    c[ImGuiCol_HeaderHovered] = c[ImGuiCol_Header];
    c[ImGuiCol_HeaderActive] = c[ImGuiCol_Header];
}

void loadFont() {
    ImGuiIO& io = ImGui::GetIO();
    ImFontConfig config;
    config.OversampleH = 1;
    config.OversampleV = 1;
    config.PixelSnapH = true;
    SDL_RWops* probe = SDL_RWFromFile(MORVA_UI_FONT, "rb");
    if (probe) {
        SDL_RWclose(probe);
        if (io.Fonts->AddFontFromFileTTF(MORVA_UI_FONT, fontPixels, &config)) return;
    }
    io.Fonts->AddFontDefault(); // the built-in font, where the system's is missing
}

// --- drawing helpers -------------------------------------------------------------------------

ImVec2 origin; // screen position of the client area's corner in the current frame

ImVec2 at(float x, float y) {
    return ImVec2(origin.x + x, origin.y + y);
}

// A 3-D edge of two lines: raised (light above and left) or sunken.
void bevel(ImDrawList* draw, ImVec2 a, ImVec2 b, ImU32 outerTopLeft, ImU32 outerBottomRight, ImU32 innerTopLeft,
           ImU32 innerBottomRight) {
    const auto frame = [&](ImVec2 p, ImVec2 q, ImU32 topLeft, ImU32 bottomRight) {
        draw->AddRectFilled(p, ImVec2(q.x, p.y + 1), topLeft);
        draw->AddRectFilled(p, ImVec2(p.x + 1, q.y), topLeft);
        draw->AddRectFilled(ImVec2(p.x, q.y - 1), q, bottomRight);
        draw->AddRectFilled(ImVec2(q.x - 1, p.y), q, bottomRight);
    };
    frame(a, b, outerTopLeft, outerBottomRight);
    frame(ImVec2(a.x + 1, a.y + 1), ImVec2(b.x - 1, b.y - 1), innerTopLeft, innerBottomRight);
}

void raised(ImDrawList* draw, ImVec2 a, ImVec2 b) {
    bevel(draw, a, b, colourLight, colourDark, colourFace, colourShadow);
}

void sunken(ImDrawList* draw, ImVec2 a, ImVec2 b) {
    bevel(draw, a, b, colourShadow, colourLight, colourDark, colourFace);
}

void dottedRect(ImDrawList* draw, ImVec2 a, ImVec2 b) {
    for (float x = a.x; x < b.x; x += 2) {
        draw->AddRectFilled(ImVec2(x, a.y), ImVec2(x + 1, a.y + 1), colourText);
        draw->AddRectFilled(ImVec2(x, b.y - 1), ImVec2(x + 1, b.y), colourText);
    }
    for (float y = a.y; y < b.y; y += 2) {
        draw->AddRectFilled(ImVec2(a.x, y), ImVec2(a.x + 1, y + 1), colourText);
        draw->AddRectFilled(ImVec2(b.x - 1, y), ImVec2(b.x, y + 1), colourText);
    }
}

// The text as shown ('&' marks the mnemonic, "&&" is '&') and where the underline goes.
struct Caption {
    std::string shown;
    int underline = -1;
};

Caption caption(const std::string& text) {
    Caption result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != '&' && result.underline < 0) result.underline = static_cast<int>(result.shown.size());
        }
        result.shown += text[i];
    }
    return result;
}

float textWidth(const std::string& text) {
    return ImGui::CalcTextSize(text.c_str(), text.c_str() + text.size()).x;
}

// Draws a caption at pos; greyed text is embossed like a disabled Windows control.
void drawCaption(ImDrawList* draw, ImVec2 pos, const Caption& text, bool enabled, ImU32 colour = colourText) {
    pos = ImVec2(static_cast<float>(static_cast<int>(pos.x)), static_cast<float>(static_cast<int>(pos.y)));
    const auto once = [&](ImVec2 p, ImU32 c) {
        draw->AddText(p, c, text.shown.c_str(), text.shown.c_str() + text.shown.size());
        if (text.underline < 0) return;
        const float x0 = textWidth(text.shown.substr(0, static_cast<std::size_t>(text.underline)));
        const float x1 = textWidth(text.shown.substr(0, static_cast<std::size_t>(text.underline) + 1));
        const float y = p.y + ImGui::GetFont()->Ascent + 1;
        draw->AddRectFilled(ImVec2(p.x + x0, y), ImVec2(p.x + x1, y + 1), c);
    };
    if (enabled) {
        once(pos, colour);
    } else {
        once(ImVec2(pos.x + 1, pos.y + 1), colourLight);
        once(pos, colourGrey);
    }
}

void downArrow(ImDrawList* draw, ImVec2 centre, bool enabled) {
    const ImU32 c = enabled ? colourText : colourGrey;
    for (int row = 0; row < 4; ++row)
        draw->AddRectFilled(ImVec2(centre.x - 3 + row, centre.y - 2 + row), ImVec2(centre.x + 4 - row, centre.y - 1 + row), c);
}

GLuint bitmapTexture(UiWindow& ui, const std::string& name) {
    const auto found = ui.textures.find(name);
    if (found != ui.textures.end()) return found->second;
    const ProgramBitmap bitmap = programBitmap(name.c_str());
    GLuint texture = 0;
    if (bitmap.argb) {
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(bitmap.width) * bitmap.height * 4);
        for (std::size_t i = 0; i < rgba.size() / 4; ++i) {
            const std::uint32_t p = bitmap.argb[i];
            rgba[i * 4 + 0] = static_cast<std::uint8_t>(p >> 16);
            rgba[i * 4 + 1] = static_cast<std::uint8_t>(p >> 8);
            rgba[i * 4 + 2] = static_cast<std::uint8_t>(p);
            rgba[i * 4 + 3] = static_cast<std::uint8_t>(p >> 24);
        }
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, bitmap.width, bitmap.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    }
    ui.textures[name] = texture;
    return texture;
}

// --- controls --------------------------------------------------------------------------------

struct Frame {
    UiWindow* ui;
    const WindowRecord* window;
    ImDrawList* draw;
    bool windowEnabled;
    bool focusMoved; // the keyboard moved the focus since the last frame
};

// An invisible button over the control's rectangle; returns true on a click released over it.
bool hitArea(WindowHandle handle, ImVec2 a, ImVec2 size, const char* id = "##hit") {
    ImGui::SetCursorScreenPos(a);
    const bool clicked = ImGui::InvisibleButton(id, ImVec2(std::max(size.x, 1.0f), std::max(size.y, 1.0f)));
    if (ImGui::IsItemActivated()) setFocus(handle);
    return clicked;
}

bool held() {
    return ImGui::IsItemActive() && ImGui::IsItemHovered();
}

void pushButton(const Frame& f, WindowHandle handle, const WindowRecord& c, bool focused) {
    const ImVec2 a = at(static_cast<float>(c.x), static_cast<float>(c.y));
    const ImVec2 b(a.x + static_cast<float>(c.width), a.y + static_cast<float>(c.height));
    const bool clicked = hitArea(handle, a, ImVec2(b.x - a.x, b.y - a.y));
    const bool down = held() || (c.control == controlCheckBox && c.checked);
    ImDrawList* draw = f.draw;
    const bool isDefault = c.control == controlButton && (focused || (c.style & styleDefault)) && c.enabled;
    ImVec2 p = a, q = b;
    if (isDefault) {
        draw->AddRect(p, q, colourText);
        p = ImVec2(p.x + 1, p.y + 1);
        q = ImVec2(q.x - 1, q.y - 1);
    }
    if (c.control == controlCheckBox && c.checked && !held()) {
        // A push-like check box that is down shows the dithered face of a pressed toggle.
        draw->AddRectFilled(p, q, rgb(234, 232, 227));
        bevel(draw, p, q, colourDark, colourLight, colourShadow, colourFace);
    } else if (down) {
        draw->AddRectFilled(p, q, colourFace);
        draw->AddRect(p, q, colourShadow);
    } else {
        draw->AddRectFilled(p, q, colourFace);
        raised(draw, p, q);
    }
    const Caption text = caption(c.text);
    const ImVec2 size(textWidth(text.shown), ImGui::GetFontSize());
    const float shift = down ? 1.0f : 0.0f;
    drawCaption(draw, ImVec2((a.x + b.x - size.x) / 2 + shift, (a.y + b.y - size.y) / 2 + shift), text,
                c.enabled);
    if (focused) dottedRect(draw, ImVec2(a.x + 4, a.y + 4), ImVec2(b.x - 4, b.y - 4));
    if (clicked) controlClick(handle);
}

void checkOrRadio(const Frame& f, WindowHandle handle, const WindowRecord& c, bool focused) {
    const ImVec2 a = at(static_cast<float>(c.x), static_cast<float>(c.y));
    const ImVec2 b(a.x + static_cast<float>(c.width), a.y + static_cast<float>(c.height));
    const bool clicked = hitArea(handle, a, ImVec2(b.x - a.x, b.y - a.y));
    const bool pressed = held();
    ImDrawList* draw = f.draw;
    const bool enabled = c.enabled;
    const float box = 13;
    const ImVec2 p(a.x, static_cast<float>(static_cast<int>((a.y + b.y - box) / 2)));
    const ImVec2 q(p.x + box, p.y + box);
    const ImU32 inside = pressed || !c.enabled ? colourFace : colourWindow;
    if (c.control == controlCheckBox) {
        draw->AddRectFilled(p, q, inside);
        sunken(draw, p, q);
        if (c.checked) {
            const ImU32 mark = c.enabled ? colourText : colourGrey;
            for (int i = 0; i < 7; ++i) {
                const float x = p.x + 3 + static_cast<float>(i);
                const float y = p.y + (i < 3 ? 5 + static_cast<float>(i) : 9 - static_cast<float>(i - 2));
                draw->AddRectFilled(ImVec2(x, y), ImVec2(x + 1, y + 3), mark);
            }
        }
    } else {
        const ImVec2 centre(p.x + 6, p.y + 6);
        draw->PathArcTo(centre, 5.5f, IM_PI * 0.75f, IM_PI * 1.75f, 12);
        draw->PathStroke(colourShadow, 0, 1.0f);
        draw->PathArcTo(centre, 5.5f, IM_PI * 1.75f, IM_PI * 2.75f, 12);
        draw->PathStroke(colourLight, 0, 1.0f);
        draw->AddCircleFilled(centre, 4.5f, inside, 16);
        draw->PathArcTo(centre, 4.5f, IM_PI * 0.75f, IM_PI * 1.75f, 12);
        draw->PathStroke(colourDark, 0, 1.0f);
        if (c.checked) draw->AddCircleFilled(centre, 2.0f, c.enabled ? colourText : colourGrey, 12);
    }
    const Caption text = caption(c.text);
    const ImVec2 textAt(p.x + box + 4, static_cast<float>(static_cast<int>((a.y + b.y - ImGui::GetFontSize()) / 2)));
    drawCaption(draw, textAt, text, enabled);
    if (focused)
        dottedRect(draw, ImVec2(textAt.x - 2, textAt.y - 1),
                   ImVec2(std::min(textAt.x + textWidth(text.shown) + 2, b.x), textAt.y + ImGui::GetFontSize() + 1));
    if (clicked) controlClick(handle);
}

void groupBox(const Frame& f, const WindowRecord& c) {
    const ImVec2 a = at(static_cast<float>(c.x), static_cast<float>(c.y));
    const ImVec2 b(a.x + static_cast<float>(c.width), a.y + static_cast<float>(c.height));
    const float top = a.y + static_cast<float>(static_cast<int>(ImGui::GetFontSize() / 2));
    // An etched frame: a shadow line with a light line beside it.
    f.draw->AddRect(ImVec2(a.x, top), ImVec2(b.x - 1, b.y - 1), colourShadow);
    f.draw->AddRect(ImVec2(a.x + 1, top + 1), b, colourLight);
    const Caption text = caption(c.text);
    if (text.shown.empty()) return;
    const float width = textWidth(text.shown);
    f.draw->AddRectFilled(ImVec2(a.x + 6, a.y), ImVec2(a.x + 10 + width, a.y + ImGui::GetFontSize()), colourFace);
    drawCaption(f.draw, ImVec2(a.x + 8, a.y), text, c.enabled);
}

void label(const Frame& f, const WindowRecord& c) {
    const Caption text = caption(c.text);
    const float width = textWidth(text.shown);
    float x = static_cast<float>(c.x);
    if (c.style & styleRight) x = static_cast<float>(c.x + c.width) - width;
    ImGui::PushClipRect(at(static_cast<float>(c.x) - 1, static_cast<float>(c.y)),
                        at(static_cast<float>(c.x + c.width) + 1, static_cast<float>(c.y + c.height) + 4), true);
    drawCaption(f.draw, at(x, static_cast<float>(c.y)), text, c.enabled);
    ImGui::PopClipRect();
}

int digitsOnly(ImGuiInputTextCallbackData* data) {
    return data->EventChar >= '0' && data->EventChar <= '9' ? 0 : 1;
}

// An ImGui text field inside a sunken white box at a..b, kept in step with the control's focus.
void textField(const Frame& f, WindowHandle handle, const WindowRecord& c, ImVec2 a, ImVec2 b, bool focused) {
    auto& buffer = f.ui->fields[handle];
    ImGui::PushID("field");
    const ImGuiID id = ImGui::GetID("##text");
    const bool typing = ImGui::GetActiveID() == id;
    if (!typing) {
        const std::size_t n = std::min(c.text.size(), buffer.size() - 1);
        std::memcpy(buffer.data(), c.text.data(), n);
        buffer[n] = '\0';
    }
    // The keyboard's focus and ImGui's active field follow each other: Tab into the field starts
    // typing there, Tab out of it ends it; a click elsewhere is ImGui's business alone.
    if (focused && f.focusMoved && !typing && f.windowEnabled && c.enabled) ImGui::SetKeyboardFocusHere();
    if (!focused && typing) ImGui::ClearActiveID();
    ImGui::SetCursorScreenPos(ImVec2(a.x + 3, (a.y + b.y - ImGui::GetFontSize()) / 2));
    ImGui::PushItemWidth(b.x - a.x - 5);
    ImGuiInputTextFlags flags = ImGuiInputTextFlags_AutoSelectAll;
    if (c.style & styleNumber) flags |= ImGuiInputTextFlags_CallbackCharFilter;
    if (!c.enabled) ImGui::PushItemFlag(ImGuiItemFlags_Disabled, true);
    if (ImGui::InputText("##text", buffer.data(), buffer.size(), flags, (c.style & styleNumber) ? digitsOnly : nullptr))
        controlType(handle, buffer.data());
    if (!c.enabled) ImGui::PopItemFlag();
    if (ImGui::IsItemActivated()) setFocus(handle);
    ImGui::PopItemWidth();
    ImGui::PopID();
}

void edit(const Frame& f, WindowHandle handle, const WindowRecord& c, bool focused) {
    const ImVec2 a = at(static_cast<float>(c.x), static_cast<float>(c.y));
    const ImVec2 b(a.x + static_cast<float>(c.width), a.y + static_cast<float>(c.height));
    f.draw->AddRectFilled(a, b, c.enabled ? colourWindow : colourFace);
    sunken(f.draw, a, b);
    textField(f, handle, c, a, b, focused);
}

// The dropped list of a combo box below its field; a click chooses an entry.
void dropList(const Frame& f, WindowHandle handle, const WindowRecord& c, ImVec2 a, float width) {
    const float row = ImGui::GetFontSize() + 2;
    const float wanted = std::max(static_cast<float>(c.height) - comboFieldHeight, row * 3);
    const float room = ImGui::GetIO().DisplaySize.y - (a.y - origin.y) - 1;
    const float height = std::min({row * static_cast<float>(c.entries.size()) + 2, std::max(wanted, row * 8), room});
    ImGui::SetNextWindowPos(a);
    ImGui::SetNextWindowSize(ImVec2(width, std::max(height, row + 2)));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(1, 1));
    if (ImGui::BeginPopup("##drop", ImGuiWindowFlags_NoMove)) {
        f.ui->listDropped = true;
        if (f.ui->closeList) ImGui::CloseCurrentPopup();
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            ImGui::PushID(static_cast<int>(i));
            if (ImGui::IsWindowAppearing() && c.selection == static_cast<int>(i)) ImGui::SetScrollHereY();
            const ImVec2 p = ImGui::GetCursorScreenPos();
            const float w = ImGui::GetContentRegionAvail().x;
            if (ImGui::InvisibleButton("##entry", ImVec2(w, row))) {
                controlChoose(handle, static_cast<int>(i));
                ImGui::CloseCurrentPopup();
            }
            const bool lit = ImGui::IsItemHovered() || (!ImGui::IsAnyItemHovered() && c.selection == static_cast<int>(i));
            ImDrawList* draw = ImGui::GetWindowDrawList();
            if (lit) draw->AddRectFilled(p, ImVec2(p.x + w, p.y + row), colourSelected);
            draw->AddText(ImVec2(p.x + 2, p.y + 1), lit ? colourSelectedText : colourText, c.entries[i].c_str());
            ImGui::PopID();
        }
        ImGui::EndPopup();
    }
    ImGui::PopStyleVar();
}

void comboBox(const Frame& f, WindowHandle handle, const WindowRecord& c, bool focused) {
    const ImVec2 a = at(static_cast<float>(c.x), static_cast<float>(c.y));
    const ImVec2 b(a.x + static_cast<float>(c.width), a.y + comboFieldHeight);
    const bool enabled = c.enabled;
    ImDrawList* draw = f.draw;
    draw->AddRectFilled(a, b, c.enabled ? colourWindow : colourFace);
    sunken(draw, a, b);
    const ImVec2 arrowA(b.x - 2 - arrowWidth, a.y + 2), arrowB(b.x - 2, b.y - 2);
    bool open = false;
    if (c.control == controlComboBox) {
        open = hitArea(handle, a, ImVec2(b.x - a.x, b.y - a.y));
        if (c.selection >= 0) {
            const std::string& text = c.entries[static_cast<std::size_t>(c.selection)];
            const ImVec2 t(a.x + 4, (a.y + b.y - ImGui::GetFontSize()) / 2);
            if (focused) {
                draw->AddRectFilled(ImVec2(a.x + 3, a.y + 3), ImVec2(arrowA.x - 1, b.y - 3), colourSelected);
                dottedRect(draw, ImVec2(a.x + 3, a.y + 3), ImVec2(arrowA.x - 1, b.y - 3));
            }
            drawCaption(draw, t, Caption{text, -1}, enabled, focused ? colourSelectedText : colourText);
        }
    } else {
        textField(f, handle, c, a, ImVec2(arrowA.x, b.y), focused);
        ImGui::PushID("arrow");
        open = hitArea(handle, arrowA, ImVec2(arrowB.x - arrowA.x, arrowB.y - arrowA.y));
        ImGui::PopID();
    }
    const bool down = held();
    draw->AddRectFilled(arrowA, arrowB, colourFace);
    if (down)
        draw->AddRect(arrowA, arrowB, colourShadow);
    else
        raised(draw, arrowA, arrowB);
    downArrow(draw, ImVec2((arrowA.x + arrowB.x) / 2 + (down ? 1 : 0), (arrowA.y + arrowB.y) / 2 + (down ? 1 : 0)),
              c.enabled);
    if (open && !c.entries.empty()) ImGui::OpenPopup("##drop");
    dropList(f, handle, c, ImVec2(a.x, b.y), b.x - a.x);
}

void listBox(const Frame& f, const WindowRecord& c) {
    const ImVec2 a = at(static_cast<float>(c.x), static_cast<float>(c.y));
    const ImVec2 b(a.x + static_cast<float>(c.width), a.y + static_cast<float>(c.height));
    const bool thin = (c.style & styleStaticEdge) != 0;
    const float edge = thin ? 1 : 2;
    if (thin) {
        f.draw->AddRect(a, b, colourShadow);
        f.draw->AddRect(ImVec2(a.x + 1, a.y + 1), b, colourLight);
        f.draw->AddRect(a, ImVec2(b.x - 1, b.y - 1), colourShadow);
    } else {
        sunken(f.draw, a, b);
    }
    ImGui::SetCursorScreenPos(ImVec2(a.x + edge, a.y + edge));
    ImGui::BeginChild("##list", ImVec2(b.x - a.x - 2 * edge, b.y - a.y - 2 * edge), false,
                      ImGuiWindowFlags_AlwaysVerticalScrollbar);
    const float row = ImGui::GetFontSize();
    for (const std::string& entry : c.entries) {
        const ImVec2 p = ImGui::GetCursorScreenPos();
        ImGui::Dummy(ImVec2(1, row));
        if (ImGui::IsItemVisible()) ImGui::GetWindowDrawList()->AddText(ImVec2(p.x + 2, p.y), colourText, entry.c_str());
    }
    ImGui::EndChild();
}

void picture(const Frame& f, const WindowRecord& c) {
    const ProgramBitmap bitmap = programBitmap(c.text.c_str());
    const float edge = (c.style & styleClientEdge) ? 2 : 0;
    // A bitmap picture takes the size of its bitmap, as a Windows bitmap static does.
    const float width = bitmap.argb ? static_cast<float>(bitmap.width) : static_cast<float>(c.width) - 2 * edge;
    const float height = bitmap.argb ? static_cast<float>(bitmap.height) : static_cast<float>(c.height) - 2 * edge;
    const ImVec2 a = at(static_cast<float>(c.x), static_cast<float>(c.y));
    const ImVec2 b(a.x + width + 2 * edge, a.y + height + 2 * edge);
    if (edge > 0) sunken(f.draw, a, b);
    if (const GLuint texture = bitmapTexture(*f.ui, c.text))
        f.draw->AddImage(reinterpret_cast<ImTextureID>(static_cast<std::intptr_t>(texture)), ImVec2(a.x + edge, a.y + edge),
                         ImVec2(b.x - edge, b.y - edge));
}

void drawControls(UiWindow& ui, const WindowRecord& w) {
    Frame f{&ui, &w, ImGui::GetWindowDrawList(), w.enabled != 0, w.focus != ui.drawnFocus};
    const bool active = activeWindow() == ui.handle;
    for (WindowHandle child : w.children) {
        const WindowRecord* c = windowRecord(child);
        if (!c || !c->visible) continue;
        const bool focused = active && w.focus == child;
        ImGui::PushID(child);
        if (!c->enabled || !f.windowEnabled) ImGui::PushItemFlag(ImGuiItemFlags_Disabled, true);
        switch (c->control) {
        case controlButton: pushButton(f, child, *c, focused); break;
        case controlCheckBox:
            if (c->style & stylePushLike)
                pushButton(f, child, *c, focused);
            else
                checkOrRadio(f, child, *c, focused);
            break;
        case controlRadioButton: checkOrRadio(f, child, *c, focused); break;
        case controlGroupBox: groupBox(f, *c); break;
        case controlLabel: label(f, *c); break;
        case controlEdit: edit(f, child, *c, focused); break;
        case controlComboBox:
        case controlComboEdit: comboBox(f, child, *c, focused); break;
        case controlListBox: listBox(f, *c); break;
        case controlPicture: picture(f, *c); break;
        }
        if (!c->enabled || !f.windowEnabled) ImGui::PopItemFlag();
        ImGui::PopID();
    }
    // Focus moved by a click in this frame is not the keyboard's doing.
    ui.drawnFocus = w.focus;
}

// Draws one frame of the window (present false: leaves it in the back buffer for reading back);
// false when it is not on the screen.
bool draw(UiWindow& ui, bool present = true) {
    const WindowRecord* w = windowRecord(ui.handle);
    if (!w) return false;
    if (w->text != SDL_GetWindowTitle(ui.window)) SDL_SetWindowTitle(ui.window, w->text.c_str());
    if (!(SDL_GetWindowFlags(ui.window) & SDL_WINDOW_SHOWN)) return false;
    makeCurrent(ui);
    ImGui_ImplOpenGL2_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
    ImGui::Begin("##client", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoScrollWithMouse);
    origin = ImGui::GetWindowPos();
    ui.listDropped = false;
    drawControls(ui, *w);
    ui.closeList = false;
    ImGui::End();
    ImGui::Render();
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(ui.window, &width, &height);
    glViewport(0, 0, width, height);
    const ImVec4 face = ImGui::ColorConvertU32ToFloat4(colourFace);
    glClearColor(face.x, face.y, face.z, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
    if (present) SDL_GL_SwapWindow(ui.window);
    return true;
}

void destroyUi(UiWindow& ui) {
    if (ui.imgui) {
        makeCurrent(ui);
        for (const auto& [name, texture] : ui.textures)
            if (texture) glDeleteTextures(1, &texture);
        ImGui_ImplOpenGL2_Shutdown();
        ImGui_ImplSDL2_Shutdown();
        ImGui::DestroyContext(ui.imgui);
        ImGui::SetCurrentContext(nullptr);
    }
    if (ui.gl) SDL_GL_DeleteContext(ui.gl);
    if (ui.window) SDL_DestroyWindow(ui.window);
    ui.imgui = nullptr;
    ui.gl = nullptr;
    ui.window = nullptr;
}

std::uint32_t keyOf(SDL_Keycode key) {
    switch (key) {
    case SDLK_TAB: return keyTab;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return keyReturn;
    case SDLK_ESCAPE: return keyEscape;
    case SDLK_SPACE: return keySpace;
    case SDLK_LEFT: return keyLeft;
    case SDLK_RIGHT: return keyRight;
    case SDLK_UP: return keyUp;
    case SDLK_DOWN: return keyDown;
    default: break;
    }
    if (key >= 'a' && key <= 'z') return static_cast<std::uint32_t>(key - 'a' + 'A');
    if (key >= '0' && key <= '9') return static_cast<std::uint32_t>(key);
    return 0;
}

// Whether a key press moves between controls (the shared code's) rather than edits text (ImGui's).
bool navigationKey(const UiWindow& ui, const SDL_KeyboardEvent& key, std::uint32_t* code, std::uint32_t* modifiers) {
    *code = keyOf(key.keysym.sym);
    if (!*code) return false;
    const SDL_Keymod mod = static_cast<SDL_Keymod>(key.keysym.mod);
    *modifiers = ((mod & KMOD_SHIFT) ? modShift : 0u) | ((mod & KMOD_ALT) ? modAlt : 0u) |
                 ((mod & KMOD_CTRL) ? modControl : 0u);
    const WindowRecord* w = windowRecord(ui.handle);
    const WindowRecord* focus = w ? windowRecord(w->focus) : nullptr;
    const bool editing = focus && (focus->control == controlEdit || focus->control == controlComboEdit);
    if (!editing) return true;
    switch (*code) {
    case keyTab:
    case keyReturn:
    case keyEscape:
    case keyUp:
    case keyDown: return true;
    case keyLeft:
    case keyRight:
    case keySpace: return false;
    default: return (*modifiers & modAlt) != 0;
    }
}

Uint32 eventWindowId(const SDL_Event& event) {
    switch (event.type) {
    case SDL_WINDOWEVENT: return event.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return event.key.windowID;
    case SDL_TEXTINPUT: return event.text.windowID;
    case SDL_TEXTEDITING: return event.edit.windowID;
    case SDL_MOUSEMOTION: return event.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return event.button.windowID;
    case SDL_MOUSEWHEEL: return event.wheel.windowID;
    default: return 0;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------

int uiCreate(WindowHandle handle, const WindowDesc& desc) {
    auto ui = std::make_unique<UiWindow>();
    ui->handle = handle;
    const int width = std::max(1, desc.width - dialogFrameWidth);
    const int height = std::max(1, desc.height - dialogFrameHeight);
    // The frame is the window manager's; the client area goes where Windows would put it.
    ui->window = SDL_CreateWindow(desc.title ? desc.title : "", desc.x + dialogFrameWidth / 2,
                                  desc.y + dialogFrameHeight - dialogFrameWidth / 2, width, height,
                                  SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!ui->window) return 0;
    ui->gl = SDL_GL_CreateContext(ui->window);
    if (!ui->gl) {
        destroyUi(*ui);
        return 0;
    }
    SDL_GL_MakeCurrent(ui->window, ui->gl);
    SDL_GL_SetSwapInterval(0); // several windows: none may wait for the screen's refresh
    const ProgramIcon icon = programIcon();
    if (icon.argb) {
        SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint32_t*>(icon.argb), icon.size,
                                                                  icon.size, 32, icon.size * 4, SDL_PIXELFORMAT_ARGB8888);
        if (surface) {
            SDL_SetWindowIcon(ui->window, surface);
            SDL_FreeSurface(surface);
        }
    }
    ui->imgui = ImGui::CreateContext();
    ImGui::SetCurrentContext(ui->imgui);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.ConfigInputTextCursorBlink = false; // drawn only when something changes
    io.ConfigFlags &= ~(ImGuiConfigFlags_NavEnableKeyboard | ImGuiConfigFlags_NavEnableGamepad);
    setStyle();
    loadFont();
    ImGui_ImplSDL2_InitForOpenGL(ui->window, ui->gl);
    ImGui_ImplOpenGL2_Init();
    ui->framesToDraw = 2;
    uiWindows.push_back(std::move(ui));
    return 1;
}

void uiDestroy(WindowHandle handle) {
    for (auto i = uiWindows.begin(); i != uiWindows.end(); ++i)
        if ((*i)->handle == handle) {
            destroyUi(**i);
            uiWindows.erase(i);
            return;
        }
}

void uiShow(WindowHandle handle) {
    UiWindow* ui = findUi(handle);
    if (!ui) return;
    SDL_ShowWindow(ui->window);
    SDL_RaiseWindow(ui->window);
    // Raising asks a window manager for the keyboard; without one nobody would give it, and the
    // window below a dialog that closed would hear no key until clicked.
    SDL_SetWindowInputFocus(ui->window);
    ui->framesToDraw = std::max(ui->framesToDraw, 2);
    draw(*ui);
}

void uiRedrawAll() {
    for (auto& ui : uiWindows) {
        ui->framesToDraw = std::max(ui->framesToDraw, 3);
        draw(*ui);
    }
}

void uiChanged(WindowHandle handle, int now) {
    UiWindow* ui = findUi(handle);
    if (!ui) return;
    ui->framesToDraw = std::max(ui->framesToDraw, 2); // ImGui settles a change in the next frame
    if (now) draw(*ui);
}

bool uiEvent(const SDL_Event& event) {
    UiWindow* ui = findUiBySdl(eventWindowId(event));
    if (!ui) return false;
    ui->framesToDraw = std::max(ui->framesToDraw, 2);
    if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) {
        postMessage(ui->handle, msgClose, 0, 0);
        return true;
    }
    if (event.type == SDL_KEYDOWN) {
        std::uint32_t code = 0, modifiers = 0;
        if (navigationKey(*ui, event.key, &code, &modifiers)) {
            // With a list dropped, Enter and Escape close it and go no further, as in Windows.
            if (ui->listDropped && (code == keyReturn || code == keyEscape))
                ui->closeList = true;
            else
                hostKeyDown(ui->handle, code, modifiers);
            return true;
        }
    }
    makeCurrent(*ui);
    ImGui_ImplSDL2_ProcessEvent(&event);
    return true;
}

int uiDrawPending() {
    int busy = 0;
    for (std::size_t i = 0; i < uiWindows.size(); ++i) {
        UiWindow& ui = *uiWindows[i];
        if (ui.framesToDraw <= 0) continue;
        --ui.framesToDraw;
        // A button held down or a field being typed into is drawn on until it is let go.
        if (draw(ui) && ImGui::IsAnyItemActive()) ui.framesToDraw = std::max(ui.framesToDraw, 1);
        busy |= ui.framesToDraw > 0;
    }
    return busy;
}

void uiCloseAll() {
    for (auto& ui : uiWindows)
        destroyUi(*ui);
    uiWindows.clear();
}

int uiReadBack(WindowHandle handle, int x, int y, std::uint8_t rgb[3]) {
    UiWindow* ui = findUi(handle);
    if (!ui || !draw(*ui, false)) return 0;
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(ui->window, &width, &height);
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    std::uint8_t pixel[4] = {};
    glReadBuffer(GL_BACK);
    glReadPixels(x, height - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    SDL_GL_SwapWindow(ui->window);
    rgb[0] = pixel[0];
    rgb[1] = pixel[1];
    rgb[2] = pixel[2];
    return 1;
}

std::uint32_t uiWindowId(WindowHandle handle) {
    const UiWindow* ui = findUi(handle);
    return ui ? SDL_GetWindowID(ui->window) : 0;
}
