// The start-up configuration window: the video mode list, "Use MMX", the sound setup, "GO!", and
// afterwards the loading log. It is never destroyed: it stays behind the show until the process
// ends, and closing it ends the process at once.
//
// The sound setup a user confirms with OK is kept for the next start, in the sound library's own
// sound setup file in the per-user settings folder; that is the only thing the program keeps.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <strings.h>

#include "demo/demo.h"
#include "demo/demo_resources.h"
#include "sound/api/errors.h"
#include "sound/api/soundapi.h"
#include "sound/setup/win32cnf.h"

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

// The window's controls, for its procedure and logLine.
WindowHandle modeList = 0;
WindowHandle mmxButton = 0;
WindowHandle audioButton = 0;
WindowHandle goButton = 0;

// The resources in the forms the host's windows take: the icon and the logo as ARGB pixels.
std::array<std::uint32_t, demoBitmapWidth * demoBitmapHeight> logoArgb;

void loadResources() {
    for (std::size_t i = 0; i < logoArgb.size(); ++i) {
        const std::uint8_t* rgb = &demoPalette[demoBitmapPixels[i] * 3];
        logoArgb[i] = 0xFF000000u | static_cast<std::uint32_t>(rgb[0]) << 16 |
                      static_cast<std::uint32_t>(rgb[1]) << 8 | rgb[2];
    }
    setProgramIcon(demoIconArgb, demoIconSize);
    setProgramBitmap("DemoBitmap", logoArgb.data(), demoBitmapWidth, demoBitmapHeight);
}

} // namespace

std::intptr_t configWindowProc(WindowHandle window, const Message& message) {
    switch (message.kind) {
    case msgClose: exitProcess(0);
    case msgCommand: {
        if (commandNotification(message) != notifyClicked) return 0;
        const auto control = static_cast<WindowHandle>(message.lParam);
        if (control == goButton) {
            startRequested = 1;
        } else if (control == audioButton) {
            // Modal, no owner; whatever it answers, the window waits for "GO!".
            if (showSoundSetup()) keepSoundSetup();
        } else if (control == mmxButton) {
            useMmx = controlGetCheck(mmxButton) ? 1 : 0;
        }
        return 0;
    }
    default: return defWindowProc(window, message);
    }
}

namespace {
// The library's words for its last error.
const char* soundReason() {
    return sound_get_error_message(sound_get_last_error());
}
} // namespace

std::string soundSetupFile() {
    const std::string folder = settingsFolder();
    return folder.empty() ? std::string() : folder + "/" + soundSetupName;
}

void restoreSoundSetup() {
    const std::string file = soundSetupFile();
    if (file.empty() || loadSoundSetupFromFile(file.c_str())) return;
    if (sound_get_last_error() == errFileNotFound) return; // nothing kept yet
    reportCause("the sound setup kept in %s cannot be read (%s); the default sound setup is used (confirm a "
                "setup with OK to replace the file, or delete it)",
                file.c_str(), soundReason());
}

void keepSoundSetup() {
    const std::string file = soundSetupFile();
    if (file.empty()) return;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
    if (error) {
        reportCause("cannot keep the sound setup: the folder %s cannot be made (%s); it holds for this run only",
                    std::filesystem::path(file).parent_path().c_str(), error.message().c_str());
        return;
    }
    if (!saveSoundSetupToFile(file.c_str()))
        reportCause("cannot keep the sound setup in %s (%s); it holds for this run only", file.c_str(), soundReason());
}

namespace {
// Which display modes the list offers: 16-bit ones, and 24/32-bit ones only for a 32-bit buffer.
template <typename Add>
void modeEntriesOf(const DisplayMode& mode, Add add) {
    const std::int32_t w = mode.width, h = mode.height, b = mode.bits;
    const bool depthOk = b == 16 || ((b == 24 || b == 32) && bufferBits == 32);
    if (!depthOk) return;
    char text[64];
    modeEntryText(text, sizeof text, w, h, b, 0);
    if (bufferWidth == 320) {
        if (w == 320 && (h == 200 || h == 240)) add(text);
        if (w == 640 && (h == 400 || h == 480)) {
            add(text);
            char interlacedText[64];
            modeEntryText(interlacedText, sizeof interlacedText, w, h, b, 1);
            add(interlacedText);
        }
    }
    if (bufferWidth == 512 && w == 640 && (h == 400 || h == 480)) add(text);
    if (w == 512 && h == 384) add(text);
}

int addModeEntries(const DisplayMode& mode, void* context) {
    const auto list = static_cast<WindowHandle>(reinterpret_cast<std::intptr_t>(context));
    modeEntriesOf(mode, [list](const char* text) { controlAddString(list, text); });
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
        if (entry.modeIndex == modeIndex && entry.setsInterlaced == (modeIndex >= 11 && interlaced == 1 ? 1 : 0))
            return entry.text;
    return nullptr;
}

std::vector<std::string> modeEntryTexts(const std::vector<DisplayMode>& modes) {
    std::vector<std::string> texts;
    for (const DisplayMode& mode : modes)
        modeEntriesOf(mode, [&texts](const char* text) { texts.emplace_back(text); });
    std::sort(texts.begin(), texts.end(), [](const std::string& a, const std::string& b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0; // as the sorted list orders them
    });
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    return texts;
}

void fillModeList(WindowHandle list) {
    displayEnumModes(addModeEntries, reinterpret_cast<void*>(static_cast<std::intptr_t>(list)));
}

void runConfigWindow() {
    // 1. The class: its procedure and icon.
    loadResources();
    // 2. The window, centred, fixed size.
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
    std::int32_t w = 0, h = 0;
    getClientRect(configWindow, &w, &h);
    showWindow(configWindow);
    updateWindow(configWindow);

    // 3. The controls, hidden until step 4 shows them.
    const std::uint32_t hidden = styleHidden;
    const WindowHandle group = createControl(configWindow, controlGroupBox, "", 2, 0, 278, 76, hidden | styleTabStop);
    modeList = createControl(configWindow, controlComboBox, nullptr, 6, 14, 180, 250, hidden | styleSort | styleTabStop);
    // Underlined letters (Alt+letter, or the letter alone) for the three buttons; "Use MMX" is a
    // plain check box, so that its state shows as a tick.
    mmxButton = createControl(configWindow, controlCheckBox, "Use &MMX", 188, 14, 88, 24, hidden | styleTabStop);
    audioButton = createControl(configWindow, controlButton, "&Audio Config", 6, 43, 270, 28, hidden | styleTabStop);
    const WindowHandle picture =
        createControl(configWindow, controlPicture, "DemoBitmap", 282, 8, 200, 68, hidden | styleClientEdge);
    goButton = createControl(configWindow, controlButton, "&GO!", 488, 8, w - 490, 68,
                             hidden | styleDefault | styleTabStop);
    const WindowHandle logList =
        createControl(configWindow, controlListBox, nullptr, 2, 80, w - 4, h - 82, hidden | styleStaticEdge | styleTabStop);
    setLogList(logList);

    // 4. Shown in this order.
    for (WindowHandle control : {group, mmxButton, audioButton, picture, goButton, logList, modeList})
        showWindow(control);

    // 5. "Use MMX" is greyed out on a processor without it.
    if (mmxAvailable == 0) enableWindow(mmxButton, 0);
    if (useMmx) controlSetCheck(mmxButton, 1);

    // 6. The window's own first lines: the framework, the sound library, a blank.
    controlAddString(logList, "ZYN DemoSystem v1.0 (W32)  (c) 2000 Gravel Mantle");
    char soundLine[128];
    std::snprintf(soundLine, sizeof soundLine, "VIREZ Digital Audio System v%s by Virez", sound_get_version_string());
    controlAddString(logList, soundLine);
    controlAddString(logList, "");

    // 7. The display's modes.
    fillModeList(modeList);

    // 8. The default mode when the display offers it, else the first entry.
    controlSetSelection(modeList, 0);
    if (const char* text = defaultModeText(demoSettings.modeIndex, demoSettings.interlaced))
        controlSelectString(modeList, 0, text);

    // 9. Until "GO!"; a quit message does not end the wait.
    Message message;
    while (startRequested == 0)
        if (getMessage(&message)) dispatchMessage(message);

    // 10. The choice; with nothing selected the settings stay as they were.
    const int selected = controlGetSelection(modeList);
    if (selected < 0) return;
    char text[64];
    controlGetText(modeList, selected, text, sizeof text);
    applyModeText(&demoSettings, text);
}
