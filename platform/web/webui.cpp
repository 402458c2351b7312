// Windows with controls as the page gets them, and what the user did there (see webui.h).
#include "platform/web/webui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::vector<WindowHandle> changedWindows;

// The top-level window of a window or control.
WindowHandle topOf(WindowHandle handle) {
    const WindowRecord* w = windowRecord(handle);
    if (!w) return 0;
    return w->parent ? w->parent : handle;
}

void appendString(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c; // UTF-8 bytes pass as they are
            }
        }
    }
    out += '"';
}

void appendField(std::string& out, const char* name, long long value) {
    out += '"';
    out += name;
    out += "\":";
    out += std::to_string(value);
    out += ',';
}

void appendField(std::string& out, const char* name, const std::string& value) {
    out += '"';
    out += name;
    out += "\":";
    appendString(out, value);
    out += ',';
}

void closeObject(std::string& out, char close) {
    if (!out.empty() && out.back() == ',') out.pop_back();
    out += close;
}

void appendControl(std::string& out, WindowHandle handle, const WindowRecord& c) {
    out += '{';
    appendField(out, "h", handle);
    appendField(out, "kind", c.control);
    appendField(out, "style", c.style);
    appendField(out, "id", c.id);
    appendField(out, "x", c.x);
    appendField(out, "y", c.y);
    appendField(out, "w", c.width);
    appendField(out, "ht", c.height);
    appendField(out, "text", c.text);
    appendField(out, "sel", c.selection);
    appendField(out, "checked", c.checked);
    appendField(out, "enabled", c.enabled);
    appendField(out, "visible", c.visible);
    if (c.control == controlPicture) {
        // The page reads the pixels (0xAARRGGBB) straight from the program's memory.
        const ProgramBitmap bitmap = programBitmap(c.text.c_str());
        if (bitmap.argb) {
            out += "\"bitmap\":[";
            out += std::to_string(reinterpret_cast<std::uintptr_t>(bitmap.argb)) + "," +
                   std::to_string(bitmap.width) + "," + std::to_string(bitmap.height) + "],";
        }
    }
    if (c.control == controlComboBox || c.control == controlComboEdit || c.control == controlListBox) {
        out += "\"entries\":[";
        for (const std::string& entry : c.entries) {
            appendString(out, entry);
            out += ',';
        }
        closeObject(out, ']');
        out += ',';
    }
    closeObject(out, '}');
}

} // namespace

void webUiChanged(WindowHandle window) {
    const WindowHandle top = topOf(window);
    if (!top) return;
    const WindowRecord* w = windowRecord(top);
    if (!w || !(w->style & windowDialog)) return; // the show window is the stage, not a window
    if (std::find(changedWindows.begin(), changedWindows.end(), top) == changedWindows.end())
        changedWindows.push_back(top);
}

void webUiForget(WindowHandle window) {
    changedWindows.erase(std::remove(changedWindows.begin(), changedWindows.end(), window), changedWindows.end());
}

std::vector<WindowHandle> webUiTakeChanged() {
    std::vector<WindowHandle> taken;
    taken.swap(changedWindows);
    // A window may have gone since it changed.
    taken.erase(std::remove_if(taken.begin(), taken.end(), [](WindowHandle h) { return !windowRecord(h); }),
                taken.end());
    return taken;
}

std::string webUiJson(WindowHandle window) {
    const WindowRecord* w = windowRecord(window);
    if (!w) return "null";
    std::int32_t clientWidth = 0, clientHeight = 0;
    getClientRect(window, &clientWidth, &clientHeight);
    std::string out = "{";
    appendField(out, "h", window);
    appendField(out, "title", w->text);
    appendField(out, "className", w->className);
    appendField(out, "w", clientWidth);
    appendField(out, "ht", clientHeight);
    appendField(out, "dialog", w->dialog);
    appendField(out, "owner", w->owner);
    appendField(out, "visible", w->visible);
    appendField(out, "enabled", w->enabled);
    appendField(out, "active", activeWindow() == window ? 1 : 0);
    appendField(out, "focus", w->focus);
    out += "\"controls\":[";
    for (const WindowHandle child : w->children) {
        const WindowRecord* c = windowRecord(child);
        if (!c) continue;
        appendControl(out, child, *c);
        out += ',';
    }
    closeObject(out, ']');
    out += '}';
    return out;
}

int webUiApply(const WebEvent& event) {
    switch (event.kind) {
    case webEventClick: return controlClick(event.handle);
    case webEventType: {
        char text[sizeof event.text + 1];
        std::memcpy(text, event.text, sizeof event.text);
        text[sizeof event.text] = '\0';
        const int taken = controlType(event.handle, text);
        webUiChanged(event.handle); // a refused key leaves the old text, which the page shows again
        return taken;
    }
    case webEventChoose: return controlChoose(event.handle, event.value);
    case webEventKey: {
        const WindowHandle active = activeWindow();
        if (!active) return 0;
        hostKeyDown(active, static_cast<std::uint32_t>(event.key), static_cast<std::uint32_t>(event.modifiers));
        webUiChanged(active);
        return 1;
    }
    case webEventClose: {
        const WindowRecord* w = windowRecord(event.handle);
        if (!w || w->parent || !w->enabled) return 0; // a window under a running dialog keeps waiting
        return postMessage(event.handle, msgClose, 0, 0);
    }
    case webEventFocus: {
        const WindowRecord* c = windowRecord(event.handle);
        if (!c || !c->parent || !c->enabled || !c->visible) return 0;
        setFocus(event.handle);
        return 1;
    }
    default: return 0;
    }
}
