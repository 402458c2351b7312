// The video mode choice: mode list texts, the lookup of a chosen entry, and the configuration
// stage that stands in for the configuration window until that window is built.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "demo/demo.h"

namespace {

// Entry texts and what they set, in lookup order; the first equal text wins.
struct ModeEntry {
    const char* text;
    std::uint8_t modeIndex;
    std::int32_t setsInterlaced;
};

constexpr ModeEntry modeEntries[] = {
    {"320x200x16", 2, 0},
    {"320x200x24", 3, 0},
    {"320x200x32", 4, 0},
    {"320x240x16", 5, 0},
    {"320x240x24", 6, 0},
    {"320x240x32", 7, 0},
    {"512x384x16", 8, 0},
    {"512x384x24", 9, 0},
    {"512x384x32", 10, 0},
    {"640x400x16", 11, 0},
    {"640x400x24", 12, 0},
    {"640x400x32", 13, 0},
    {"640x480x16", 14, 0},
    {"640x480x24", 15, 0},
    {"640x480x32", 16, 0},
    {"640x400x16 interlaced", 11, 1},
    {"640x400x24 interlaced", 12, 1},
    {"640x400x32 interlaced", 13, 1},
    {"640x480x16 interlaced", 14, 1},
    {"640x480x24 interlaced", 15, 1},
    {"640x480x32 interlaced", 16, 1},
};

std::intptr_t configWindowProc(WindowHandle window, const Message& message) {
    if (message.kind == msgClose) exitProcess(0);
    if (message.kind == msgCommand) return 0;
    return defWindowProc(window, message);
}

// Which display modes the list offers: 16-bit ones, and 24/32-bit ones only for a 32-bit buffer.
int addModeEntries(const DisplayMode& mode, void* context) {
    const auto modeList = static_cast<WindowHandle>(reinterpret_cast<std::intptr_t>(context));
    const std::int32_t w = mode.width, h = mode.height, b = mode.bits;
    const bool depthOk = b == 16 || ((b == 24 || b == 32) && bufferBits == 32);
    char text[64];
    modeEntryText(text, sizeof text, w, h, b, 0);
    char interlacedText[64];
    modeEntryText(interlacedText, sizeof interlacedText, w, h, b, 1);
    if (bufferWidth == 320) {
        if (w == 320 && (h == 200 || h == 240) && depthOk) controlAddString(modeList, text);
        if (w == 640 && (h == 400 || h == 480) && depthOk) {
            controlAddString(modeList, text);
            controlAddString(modeList, interlacedText);
        }
    }
    if (bufferWidth == 512 && w == 640 && (h == 400 || h == 480) && depthOk) controlAddString(modeList, text);
    if (w == 512 && h == 384 && depthOk) controlAddString(modeList, text);
    return 1;
}

} // namespace

void modeEntryText(char* buffer, std::size_t size, std::int32_t width, std::int32_t height, std::int32_t bits,
                   int interlacedEntry) {
    std::snprintf(buffer, size, interlacedEntry ? "%dx%dx%d interlaced" : "%dx%dx%d", width, height, bits);
}

int applyModeText(DemoSettings* settings, const char* text) {
    if (!text) return 0;
    for (const ModeEntry& entry : modeEntries) {
        if (std::strcmp(entry.text, text) != 0) continue;
        settings->modeIndex = entry.modeIndex;
        if (entry.setsInterlaced) settings->interlaced = 1; // only ever set here, never cleared
        return 1;
    }
    return 0;
}

const char* defaultModeText(std::uint8_t modeIndex, std::int32_t interlaced) {
    for (const ModeEntry& entry : modeEntries)
        if (entry.modeIndex == modeIndex &&
            entry.setsInterlaced == (modeIndex >= 11 && interlaced == 1 ? 1 : 0))
            return entry.text;
    return nullptr;
}

void fillModeList(WindowHandle modeList) {
    displayEnumModes(addModeEntries, reinterpret_cast<void*>(static_cast<std::intptr_t>(modeList)));
}

void runConfigStage() {
    WindowDesc desc{};
    desc.className = "ZYNDEMOCFG";
    desc.title = demoTitle;
    desc.style = windowDialog;
    desc.x = screenWidth() / 2 - 300;
    desc.y = screenHeight() / 2 - 150;
    desc.width = 600;
    desc.height = 314;
    desc.proc = configWindowProc;
    configWindow = createWindow(desc);
    showWindow(configWindow);
    const WindowHandle modeList = createControl(configWindow, controlComboBox, nullptr, 6, 14, 180, 250);
    const WindowHandle logList = createControl(configWindow, controlListBox, nullptr, 2, 80, 594, 200);
    setLogList(logList);

    // The window's own first lines: the framework, the sound library, a blank.
    logLine("ZYN DemoSystem v1.0 (W32)  (c) 2000 Gravel Mantle");
    logLine("VIREZ Digital Audio System v1.1.2 by Virez");
    logLine("");

    fillModeList(modeList);
    controlSetSelection(modeList, 0);
    if (const char* text = defaultModeText(demoSettings.modeIndex, demoSettings.interlaced))
        controlSelectString(modeList, 0, text);

    // Until the window has its "GO!" button the host decides: a user's pick where it can ask,
    // the preselected entry otherwise.
    const int count = controlCount(modeList);
    std::vector<std::string> texts(static_cast<std::size_t>(count));
    std::vector<const char*> pointers;
    for (int i = 0; i < count; ++i) {
        char text[64];
        controlGetText(modeList, i, text, sizeof text);
        texts[static_cast<std::size_t>(i)] = text;
        pointers.push_back(texts[static_cast<std::size_t>(i)].c_str());
    }
    controlSetSelection(modeList, hostPickEntry(pointers.data(), count, controlGetSelection(modeList)));
    startRequested = 1;

    const int selected = controlGetSelection(modeList);
    if (selected < 0) return; // nothing selected: the settings stay as they were
    char text[64];
    controlGetText(modeList, selected, text, sizeof text);
    applyModeText(&demoSettings, text);
}
