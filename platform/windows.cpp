// Windows, controls, the keyboard between controls, modal dialogs and the message queue: the
// host-independent half of the window system. The back ends only draw what the records say and
// report what the user did through controlClick, controlType, controlChoose and hostKeyDown.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <mutex>
#include <strings.h>

#include "platform/host.h"

namespace {

const HostBackend* backend() {
    return platformBackend();
}

std::deque<WindowRecord> windows; // handle h is windows[h - 1]; a deque keeps records in place
std::vector<WindowHandle> topLevels; // in the order they were last shown: the active one last
std::deque<Message> queue;
std::mutex queueMutex;

WindowRecord* find(WindowHandle handle) {
    if (handle <= 0 || handle > static_cast<WindowHandle>(windows.size())) return nullptr;
    WindowRecord* w = &windows[static_cast<std::size_t>(handle - 1)];
    return w->alive ? w : nullptr;
}

WindowRecord* findList(WindowHandle handle) {
    WindowRecord* w = find(handle);
    if (!w || (w->control != controlComboBox && w->control != controlComboEdit && w->control != controlListBox))
        return nullptr;
    return w;
}

// The top-level window a window or control belongs to.
WindowHandle topOf(WindowHandle handle) {
    const WindowRecord* w = find(handle);
    if (!w) return 0;
    return w->parent ? w->parent : handle;
}

// Something the user can see changed: the back end draws the window again when it can.
void changed(WindowHandle handle, int now = 0) {
    const WindowHandle top = topOf(handle);
    if (top && backend()) backend()->windowChanged(top, now);
}

bool takesFocus(const WindowRecord& w) {
    switch (w.control) {
    case controlButton:
    case controlCheckBox:
    case controlComboBox:
    case controlListBox:
    case controlRadioButton:
    case controlEdit:
    case controlComboEdit: return true;
    default: return false;
    }
}

bool usable(const WindowRecord* w) {
    return w && w->enabled && w->visible;
}

// The text as shown: '&' marks the next character as the mnemonic, "&&" is a plain '&'.
char mnemonicOf(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] == '&') {
            ++i;
            continue;
        }
        return static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1])));
    }
    return 0;
}

// The radio group around a radio button: the run of radio buttons next to it in creation order,
// a styleGroup button starting a new run.
std::vector<WindowHandle> radioGroup(WindowHandle radio) {
    const WindowRecord* r = find(radio);
    std::vector<WindowHandle> group;
    if (!r || r->control != controlRadioButton) return group;
    const WindowRecord* parent = find(r->parent);
    if (!parent) return group;
    const auto& children = parent->children;
    auto at = std::find(children.begin(), children.end(), radio);
    auto first = at;
    while (first != children.begin()) {
        const WindowRecord* c = find(*first);
        if (c->style & styleGroup) break;
        const WindowRecord* before = find(*(first - 1));
        if (!before || before->control != controlRadioButton) break;
        --first;
    }
    for (auto i = first; i != children.end(); ++i) {
        const WindowRecord* c = find(*i);
        if (!c || c->control != controlRadioButton || (i != first && (c->style & styleGroup))) break;
        group.push_back(*i);
    }
    return group;
}

void notifyParent(WindowHandle control, std::uint32_t notification) {
    const WindowRecord* c = find(control);
    if (!c || !c->parent) return;
    postMessage(c->parent, msgCommand, commandParam(notification, c->id), control);
}

// The control Tab goes to from the focus, forwards or backwards; radio groups are entered at
// their checked button.
WindowHandle nextTabStop(WindowRecord& top, int backwards) {
    const auto& children = top.children;
    const int count = static_cast<int>(children.size());
    if (count == 0) return 0;
    const auto at = std::find(children.begin(), children.end(), top.focus);
    int index = at == children.end() ? (backwards ? 0 : count - 1) : static_cast<int>(at - children.begin());
    for (int step = 0; step < count; ++step) {
        index = (index + (backwards ? count - 1 : 1)) % count;
        const WindowRecord* c = find(children[static_cast<std::size_t>(index)]);
        if (!usable(c) || !takesFocus(*c) || !(c->style & styleTabStop)) continue;
        const WindowHandle handle = children[static_cast<std::size_t>(index)];
        if (c->control == controlRadioButton) {
            for (WindowHandle member : radioGroup(handle)) {
                const WindowRecord* m = find(member);
                if (usable(m) && m->checked) return member;
            }
        }
        return handle;
    }
    return 0;
}

WindowHandle firstTabStop(WindowRecord& top) {
    const WindowHandle keep = top.focus;
    top.focus = 0;
    const WindowHandle first = nextTabStop(top, 0);
    top.focus = keep;
    return first;
}

WindowHandle defaultButton(const WindowRecord& top) {
    for (WindowHandle child : top.children) {
        const WindowRecord* c = find(child);
        if (usable(c) && c->control == controlButton && (c->style & styleDefault)) return child;
    }
    return 0;
}

// Escape or a closed dialog: its Cancel button, or the command alone when there is none.
void cancelDialog(WindowHandle dialog) {
    const WindowHandle cancel = dialogItem(dialog, idCancel);
    if (cancel) {
        if (isWindowEnabled(cancel)) controlClick(cancel);
        return;
    }
    postMessage(dialog, msgCommand, commandParam(notifyClicked, idCancel), 0);
}

// Arrow keys in a radio group: the next button is focused and clicked.
void moveInRadioGroup(WindowHandle radio, int forwards) {
    std::vector<WindowHandle> group = radioGroup(radio);
    const auto at = std::find(group.begin(), group.end(), radio);
    if (at == group.end()) return;
    const int count = static_cast<int>(group.size());
    int index = static_cast<int>(at - group.begin());
    for (int step = 0; step < count; ++step) {
        index = (index + (forwards ? 1 : count - 1)) % count;
        if (usable(find(group[static_cast<std::size_t>(index)]))) break;
    }
    setFocus(group[static_cast<std::size_t>(index)]);
    controlClick(group[static_cast<std::size_t>(index)]);
}

// Alt+letter: the control with that mnemonic after the focus; a label hands over to the control
// after it, buttons are pressed, everything else takes the focus.
int mnemonic(WindowRecord& top, char letter) {
    const auto& children = top.children;
    const int count = static_cast<int>(children.size());
    const auto at = std::find(children.begin(), children.end(), top.focus);
    int index = at == children.end() ? count - 1 : static_cast<int>(at - children.begin());
    for (int step = 0; step < count; ++step) {
        index = (index + 1) % count;
        const WindowHandle handle = children[static_cast<std::size_t>(index)];
        const WindowRecord* c = find(handle);
        if (!usable(c) || mnemonicOf(c->text) != letter) continue;
        if (c->control == controlLabel || c->control == controlGroupBox) {
            for (int k = 1; k < count; ++k) {
                const WindowHandle next = children[static_cast<std::size_t>((index + k) % count)];
                const WindowRecord* n = find(next);
                if (usable(n) && takesFocus(*n)) {
                    setFocus(next);
                    return 1;
                }
            }
            return 1;
        }
        if (c->control == controlButton) {
            controlClick(handle);
            return 1;
        }
        setFocus(handle);
        if (c->control == controlCheckBox || c->control == controlRadioButton) controlClick(handle);
        return 1;
    }
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------

void windowsReset() {
    windows.clear();
    topLevels.clear();
    std::lock_guard lock(queueMutex);
    queue.clear();
}

const WindowRecord* windowRecord(WindowHandle handle) {
    return find(handle);
}

const std::vector<WindowHandle>& topLevelWindows() {
    return topLevels;
}

WindowHandle createWindow(const WindowDesc& desc) {
    WindowRecord record{};
    record.proc = desc.proc ? desc.proc : defWindowProc;
    record.style = desc.style;
    record.x = desc.x;
    record.y = desc.y;
    record.width = desc.width;
    record.height = desc.height;
    record.className = desc.className ? desc.className : "";
    record.text = desc.title ? desc.title : "";
    windows.push_back(record);
    const auto handle = static_cast<WindowHandle>(windows.size());
    windows.back().hostReady = backend()->windowCreated(handle, desc);
    return handle;
}

void destroyWindow(WindowHandle window) {
    WindowRecord* w = find(window);
    if (!w) return;
    if (w->parent) {
        w->visible = 0;
        w->alive = 0;
        changed(w->parent);
        return;
    }
    backend()->windowDestroyed(window);
    for (WindowHandle child : w->children)
        if (WindowRecord* c = find(child)) c->alive = 0;
    w->alive = 0;
    w->visible = 0;
    topLevels.erase(std::remove(topLevels.begin(), topLevels.end(), window), topLevels.end());
    if (const WindowHandle active = activeWindow()) backend()->windowShown(active);
}

void showWindow(WindowHandle window) {
    WindowRecord* w = find(window);
    if (!w) return;
    w->visible = 1;
    if (w->parent) {
        changed(window);
        return;
    }
    topLevels.erase(std::remove(topLevels.begin(), topLevels.end(), window), topLevels.end());
    topLevels.push_back(window);
    if (!w->focus) w->focus = firstTabStop(*w);
    backend()->windowShown(window);
}

void updateWindow(WindowHandle window) {
    if (find(window)) changed(window, 1);
}

void enableWindow(WindowHandle window, int enable) {
    WindowRecord* w = find(window);
    if (!w) return;
    w->enabled = enable != 0;
    if (!w->parent) {
        // A window that comes back from a modal dialog has the keyboard again.
        if (enable && activeWindow() == window) backend()->windowShown(window);
    } else if (!enable) {
        if (WindowRecord* top = find(w->parent); top && top->focus == window) top->focus = nextTabStop(*top, 0);
    }
    changed(window);
}

int isWindowEnabled(WindowHandle window) {
    const WindowRecord* w = find(window);
    return w && w->enabled ? 1 : 0;
}

void getClientRect(WindowHandle window, std::int32_t* width, std::int32_t* height) {
    const WindowRecord* w = find(window);
    std::int32_t cw = 0, ch = 0;
    if (w && w->parent) {
        cw = w->width;
        ch = w->height;
    } else if (w) {
        const bool framed = (w->style & windowDialog) != 0;
        cw = std::max(0, w->width - (framed ? dialogFrameWidth : 0));
        ch = std::max(0, w->height - (framed ? dialogFrameHeight : 0));
    }
    if (width) *width = cw;
    if (height) *height = ch;
}

WindowHandle createControl(WindowHandle parent, ControlKind kind, const char* text, std::int32_t x, std::int32_t y,
                           std::int32_t width, std::int32_t height, std::uint32_t style, int id) {
    WindowRecord* p = find(parent);
    if (!p || p->parent) return 0;
    WindowRecord record{};
    record.parent = parent;
    record.proc = defWindowProc;
    record.control = kind;
    record.style = style;
    record.id = id;
    record.x = x;
    record.y = y;
    record.width = width;
    record.height = height;
    record.text = text ? text : "";
    record.visible = (style & styleHidden) ? 0 : 1;
    windows.push_back(record);
    const auto handle = static_cast<WindowHandle>(windows.size());
    find(parent)->children.push_back(handle);
    changed(parent);
    return handle;
}

void setWindowText(WindowHandle window, const char* text) {
    WindowRecord* w = find(window);
    if (!w) return;
    w->text = text ? text : "";
    changed(window);
}

int getWindowText(WindowHandle window, char* buffer, std::size_t size) {
    const WindowRecord* w = find(window);
    if (!w || !buffer || size == 0) return -1;
    const std::string* text = &w->text;
    static const std::string none;
    if (w->control == controlComboBox)
        text = w->selection >= 0 ? &w->entries[static_cast<std::size_t>(w->selection)] : &none;
    const std::size_t n = std::min(text->size(), size - 1);
    std::memcpy(buffer, text->data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int controlGetId(WindowHandle control) {
    const WindowRecord* c = find(control);
    return c ? c->id : 0;
}

WindowHandle dialogItem(WindowHandle window, int id) {
    const WindowRecord* w = find(window);
    if (!w) return 0;
    for (WindowHandle child : w->children) {
        const WindowRecord* c = find(child);
        if (c && c->id == id) return child;
    }
    return 0;
}

int controlAddString(WindowHandle control, const char* text) {
    WindowRecord* w = findList(control);
    if (!w || !text) return -1;
    std::size_t at = w->entries.size();
    if (w->style & styleSort) {
        // Case-insensitive order; a new equal text goes after the old ones.
        at = static_cast<std::size_t>(
            std::upper_bound(w->entries.begin(), w->entries.end(), std::string(text),
                             [](const std::string& a, const std::string& b) {
                                 return strcasecmp(a.c_str(), b.c_str()) < 0;
                             }) -
            w->entries.begin());
    }
    w->entries.insert(w->entries.begin() + static_cast<std::ptrdiff_t>(at), text);
    if (w->control != controlListBox && w->selection >= static_cast<int>(at)) ++w->selection;
    if (w->control == controlListBox) backend()->listAdded(control, text);
    changed(control);
    return static_cast<int>(at);
}

int controlCount(WindowHandle control) {
    const WindowRecord* w = findList(control);
    return w ? static_cast<int>(w->entries.size()) : 0;
}

int controlGetText(WindowHandle control, int index, char* buffer, std::size_t size) {
    const WindowRecord* w = findList(control);
    if (!w || index < 0 || index >= static_cast<int>(w->entries.size()) || !buffer || size == 0) return -1;
    const std::string& text = w->entries[static_cast<std::size_t>(index)];
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int controlSetSelection(WindowHandle control, int index) {
    WindowRecord* w = findList(control);
    if (!w || w->control == controlListBox) return -1;
    changed(control);
    if (index < 0 || index >= static_cast<int>(w->entries.size())) {
        w->selection = -1;
        if (w->control == controlComboEdit) w->text.clear();
        return -1;
    }
    w->selection = index;
    // A combo box with an edit field shows the chosen entry in the field.
    if (w->control == controlComboEdit) w->text = w->entries[static_cast<std::size_t>(index)];
    return index;
}

int controlSelectString(WindowHandle control, int start, const char* text) {
    WindowRecord* w = findList(control);
    if (!w || !text || w->control == controlListBox) return -1;
    const int count = static_cast<int>(w->entries.size());
    const std::size_t length = std::strlen(text);
    for (int k = 0; k < count; ++k) {
        // Like the list controls it models, the search begins after start and wraps around.
        const int i = ((start < 0 ? 0 : start + 1) + k) % count;
        if (strncasecmp(w->entries[static_cast<std::size_t>(i)].c_str(), text, length) == 0)
            return controlSetSelection(control, i);
    }
    return -1;
}

int controlGetSelection(WindowHandle control) {
    const WindowRecord* w = findList(control);
    return w ? w->selection : -1;
}

int controlGetCheck(WindowHandle control) {
    const WindowRecord* w = find(control);
    return w ? w->checked : 0;
}

void controlSetCheck(WindowHandle control, int checked) {
    if (WindowRecord* w = find(control)) {
        w->checked = checked != 0;
        changed(control);
    }
}

WindowHandle activeWindow() {
    for (auto i = topLevels.rbegin(); i != topLevels.rend(); ++i) {
        const WindowRecord* w = find(*i);
        if (w && w->visible && w->enabled) return *i;
    }
    return 0;
}

WindowHandle getFocus() {
    const WindowRecord* w = find(activeWindow());
    return w ? w->focus : 0;
}

void setFocus(WindowHandle control) {
    WindowRecord* c = find(control);
    if (!c || !c->parent) return;
    if (WindowRecord* top = find(c->parent)) {
        top->focus = control;
        changed(control);
    }
}

// ---------------------------------------------------------------------------------------------
// What the user does

int controlClick(WindowHandle control) {
    WindowRecord* c = find(control);
    if (!usable(c) || !c->parent || !usable(find(c->parent))) return 0;
    switch (c->control) {
    case controlCheckBox: c->checked = !c->checked; break;
    case controlRadioButton:
        for (WindowHandle member : radioGroup(control))
            find(member)->checked = member == control;
        break;
    case controlButton: break;
    default: return 0;
    }
    changed(control);
    notifyParent(control, notifyClicked);
    return 1;
}

int controlType(WindowHandle control, const char* text) {
    WindowRecord* c = find(control);
    if (!usable(c) || !text || (c->control != controlEdit && c->control != controlComboEdit)) return 0;
    std::string typed;
    int refused = 0;
    for (const char* t = text; *t; ++t) {
        if ((c->style & styleNumber) && !std::isdigit(static_cast<unsigned char>(*t))) {
            refused = 1; // a digits-only field refuses the key and keeps what it has
            continue;
        }
        typed += *t;
    }
    if (refused) return 0;
    c->text = typed;
    if (c->control == controlComboEdit) c->selection = -1;
    changed(control);
    return 1;
}

int controlChoose(WindowHandle control, int index) {
    WindowRecord* c = find(control);
    if (!usable(c) || (c->control != controlComboBox && c->control != controlComboEdit)) return 0;
    if (index < 0 || index >= static_cast<int>(c->entries.size())) return 0;
    controlSetSelection(control, index);
    return 1;
}

void hostKeyDown(WindowHandle window, std::uint32_t key, std::uint32_t modifiers) {
    const WindowHandle topHandle = topOf(window);
    WindowRecord* top = find(topHandle);
    if (!top || !top->enabled) return; // the owner of a running dialog takes no keys
    if (top->children.empty()) {
        postMessage(topHandle, msgKeyDown, key, 0);
        return;
    }
    const WindowHandle focus = usable(find(top->focus)) ? top->focus : 0;
    const WindowRecord* f = find(focus);
    const ControlKind kind = f ? f->control : static_cast<ControlKind>(0);
    const bool editing = kind == controlEdit || kind == controlComboEdit;
    switch (key) {
    case keyTab:
        if (const WindowHandle next = nextTabStop(*top, (modifiers & modShift) != 0)) setFocus(next);
        return;
    case keyReturn:
        if (kind == controlButton) {
            controlClick(focus);
        } else if (const WindowHandle button = defaultButton(*top)) {
            controlClick(button);
        } else if (top->dialog) {
            postMessage(topHandle, msgCommand, commandParam(notifyClicked, idOk), 0);
        }
        return;
    case keyEscape:
        if (top->dialog) {
            cancelDialog(topHandle);
            return;
        }
        break;
    case keySpace:
        if (kind == controlButton || kind == controlCheckBox || kind == controlRadioButton) {
            controlClick(focus);
            return;
        }
        break;
    case keyUp:
    case keyDown:
    case keyLeft:
    case keyRight: {
        const bool forwards = key == keyDown || key == keyRight;
        if (kind == controlRadioButton) {
            moveInRadioGroup(focus, forwards);
            return;
        }
        if (kind == controlComboBox || (kind == controlComboEdit && (key == keyUp || key == keyDown))) {
            const int count = static_cast<int>(f->entries.size());
            const int at = f->selection < 0 ? (forwards ? -1 : count) : f->selection;
            if (count > 0) controlChoose(focus, std::clamp(at + (forwards ? 1 : -1), 0, count - 1));
            return;
        }
        break;
    }
    default:
        if (((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) &&
            ((modifiers & modAlt) || (!editing && !(modifiers & modControl))) &&
            mnemonic(*top, static_cast<char>(key)))
            return;
        break;
    }
    postMessage(topHandle, msgKeyDown, key, 0);
}

// ---------------------------------------------------------------------------------------------
// Dialogs

std::intptr_t dialogBox(const DialogTemplate& dialog, WindowHandle owner, WindowProc proc) {
    const std::int32_t width = dialogUnitsX(dialog.width) + dialogFrameWidth;
    const std::int32_t height = dialogUnitsY(dialog.height) + dialogFrameHeight;
    WindowDesc desc{};
    desc.className = "#32770"; // the class Windows gives its dialogs
    desc.title = dialog.caption;
    desc.style = windowDialog;
    desc.x = (screenWidth() - width) / 2;
    desc.y = (screenHeight() - height) / 2;
    desc.width = width;
    desc.height = height;
    desc.proc = proc;
    const WindowHandle handle = createWindow(desc);
    if (!find(handle)->hostReady) {
        destroyWindow(handle);
        return -1;
    }
    find(handle)->dialog = 1;
    find(handle)->owner = owner;
    for (const DialogItem& item : dialog.items) {
        if (!createControl(handle, item.kind, item.text, dialogUnitsX(item.x), dialogUnitsY(item.y),
                           dialogUnitsX(item.width), dialogUnitsY(item.height), item.style, item.id)) {
            destroyWindow(handle);
            return -1;
        }
    }
    const int ownerWasEnabled = isWindowEnabled(owner);
    if (owner) enableWindow(owner, 0);
    proc(handle, {handle, msgInitDialog, 0, 0});
    if (!find(handle)->dialogEnded) showWindow(handle);
    Message message{};
    while (!find(handle)->dialogEnded) {
        if (!getMessage(&message)) {
            // A quit message ends the dialog and stays for the loop outside it.
            postMessage(0, msgQuit, message.wParam, message.lParam);
            endDialog(handle, 0);
            break;
        }
        dispatchMessage(message);
    }
    const std::intptr_t result = find(handle)->dialogResult;
    if (owner && ownerWasEnabled) enableWindow(owner, 1);
    destroyWindow(handle);
    return result;
}

void endDialog(WindowHandle dialog, std::intptr_t result) {
    WindowRecord* w = find(dialog);
    if (!w || !w->dialog || w->dialogEnded) return;
    w->dialogEnded = 1;
    w->dialogResult = result;
}

// ---------------------------------------------------------------------------------------------
// Messages

std::intptr_t defWindowProc(WindowHandle, const Message&) {
    return 0;
}

namespace {
int takeMessage(Message* message) {
    std::lock_guard lock(queueMutex);
    if (queue.empty()) return 0;
    *message = queue.front();
    queue.pop_front();
    return 1;
}
} // namespace

int peekMessage(Message* message) {
    backend()->pumpEvents(0);
    return takeMessage(message);
}

int getMessage(Message* message) {
    backend()->pumpEvents(0);
    while (!takeMessage(message))
        backend()->pumpEvents(1);
    return message->kind == msgQuit ? 0 : 1;
}

std::intptr_t dispatchMessage(const Message& message) {
    WindowRecord* w = find(message.window);
    if (!w) return 0;
    const std::intptr_t result = w->proc(message.window, message);
    // A dialog closed from its frame acts as if Cancel were pressed.
    if (message.kind == msgClose && w->dialog && result == 0) cancelDialog(message.window);
    return result;
}

int postMessage(WindowHandle window, std::uint32_t kind, std::uint32_t wParam, std::intptr_t lParam) {
    if (window != 0 && !find(window)) return 0;
    std::lock_guard lock(queueMutex);
    queue.push_back({window, kind, wParam, lParam});
    return 1;
}
