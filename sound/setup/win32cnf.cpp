// The sound setup dialog with its custom quality dialog, the five stored settings, and the whole
// setup the dialog confirms as one file.
//
// Both dialogs work on a pending rate and interpolation flag; the library's settings change only
// when the setup dialog is confirmed. The templates are data here, in dialog units of the 8-point
// dialog font.
#include "sound/setup/win32cnf.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sound/api/errors.h"
#include "sound/sys/file.h"
#include "sound/api/mglobals.h"
#include "sound/sys/rawf_nt.h"

namespace {

// --- the two dialogs -------------------------------------------------------------------------

constexpr DialogItem setupItems[] = {
    {idSoundCardLabel, controlLabel, styleRight, 0, 8, 44, 8, "S&ound Card:"},
    {idSoundCard, controlComboBox, styleTabStop, 48, 8, 80, 44, nullptr},
    {0, controlGroupBox, 0, 4, 28, 124, 104, "Sound Quality"},
    {idPresetVeryLow, controlRadioButton, styleGroup, 8, 40, 116, 10, "V&ery Low (smallest CPU usage)"},
    {idPresetLow, controlRadioButton, 0, 8, 52, 116, 10, "&Low"},
    {idPresetMedium, controlRadioButton, 0, 8, 64, 116, 10, "&Medium"},
    {idPresetHigh, controlRadioButton, 0, 8, 76, 116, 10, "&High"},
    {idPresetVeryHigh, controlRadioButton, 0, 8, 88, 116, 10, "&Very High (largest CPU usage)"},
    {idCustom, controlRadioButton, styleTabStop, 8, 100, 116, 10, "&Custom..."},
    {idStereo, controlCheckBox, styleTabStop | styleGroup, 8, 116, 40, 10, "&Stereo"},
    {idAdvancedGroup, controlGroupBox, 0, 132, 68, 120, 64, "Advanced"},
    {idNeverDirectSound, controlCheckBox, styleTabStop, 136, 80, 91, 10, "&Never Use DirectSound"},
    {idBufferLabel, controlLabel, styleRight, 136, 96, 64, 8, "&Buffer Length:"},
    {idBufferLength, controlEdit, styleNumber | styleBorder | styleTabStop, 204, 96, 28, 12, nullptr},
    {idBufferUnit, controlLabel, 0, 236, 96, 12, 8, "ms"},
    {idDSoundBufferLabel, controlLabel, styleRight, 136, 112, 64, 8, "&DirectSound Buffer:"},
    {idDSoundBufferLength, controlEdit, styleNumber | styleBorder | styleTabStop, 204, 112, 28, 12, nullptr},
    {idDSoundBufferUnit, controlLabel, 0, 236, 112, 12, 8, "ms"},
    {idOk, controlButton, styleDefault | styleTabStop, 200, 4, 50, 14, "OK"},
    {idCancel, controlButton, styleTabStop, 200, 22, 50, 14, "Cancel"},
};

// The caption is replaced with the one naming the version when the dialog opens.
constexpr DialogTemplate setupDialog{"VIREZ Digital Audio System Setup", 256, 137, setupItems};
constexpr const char* setupCaption = "VIREZ Digital Audio System v1.1.2 Setup";

constexpr DialogItem customItems[] = {
    {idMixingRateLabel, controlLabel, styleRight, 4, 8, 44, 8, "Mixing Rate:"},
    {idMixingRate, controlComboEdit, styleTabStop, 52, 8, 60, 44, nullptr},
    {idMixingModeGroup, controlGroupBox, 0, 8, 28, 104, 40, "Mixing Mode"},
    // A tab stop on the group, so the keyboard reaches the mixing mode too.
    {idNormalMixing, controlRadioButton, styleTabStop | styleGroup, 12, 40, 77, 10, "Normal (low quality)"},
    {idInterpolatingMixing, controlRadioButton, 0, 12, 52, 96, 10, "Interpolating (high quality)"},
    {idOk, controlButton, styleDefault | styleTabStop, 120, 4, 50, 14, "OK"},
    {idCancel, controlButton, styleTabStop, 120, 22, 50, 14, "Cancel"},
};

constexpr DialogTemplate customDialog{"VIREZ Custom Sound Quality", 176, 77, customItems};

struct Preset {
    int id;
    int rate;
    int interpolation;
};

constexpr std::array<Preset, 5> presets = {{
    {idPresetVeryLow, 22050, 0},
    {idPresetLow, 32000, 0},
    {idPresetMedium, 44100, 0},
    {idPresetHigh, 32000, 1},
    {idPresetVeryHigh, 44100, 1},
}};

// The custom dialog's rates, in list order.
constexpr std::array<int, 8> customRates = {8000, 11025, 16000, 22050, 27429, 32000, 37800, 44100};

constexpr const char* cardNoSound = "No Sound";
constexpr const char* cardDefault = "Default";
constexpr int silentDeviceNumber = 2;

// Output modes the dialog sets: 16-bit stereo or mono (output-mode bits of the devices).
constexpr int outputStereo16 = 10;
constexpr int outputMono16 = 9;
constexpr int outputStereoBit = 2;

// What both dialogs work on until the setup dialog is confirmed.
int pendingRate = 0;
int pendingInterpolation = 0;

// A number as the dialogs read their fields: leading blanks, one sign, digits up to the first
// other character; nothing readable is 0. Far too large numbers stop growing instead of wrapping.
long long fieldNumber(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text)
        value = std::min<long long>(value * 10 + (*text - '0'), LLONG_MAX / 16);
    return negative ? -value : value;
}

// A field's number (read into 31 characters, terminating zero included); 0 when it holds none.
long long readField(WindowHandle control) {
    char text[31];
    if (getWindowText(control, text, sizeof text) < 0) return 0;
    return fieldNumber(text);
}

int limited(long long value, int low, int high) {
    return static_cast<int>(std::clamp<long long>(value, low, high));
}

void showNumber(WindowHandle control, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    setWindowText(control, text);
}

std::intptr_t customProc(WindowHandle dialog, const Message& message) {
    if (message.kind == msgInitDialog) {
        controlSetCheck(dialogItem(dialog, pendingInterpolation == 1 ? idInterpolatingMixing : idNormalMixing), 1);
        const WindowHandle rates = dialogItem(dialog, idMixingRate);
        int match = -1;
        for (int rate : customRates) {
            char text[16];
            std::snprintf(text, sizeof text, "%d", rate);
            const int index = controlAddString(rates, text);
            if (rate == pendingRate) match = index;
        }
        if (match >= 0)
            controlSetSelection(rates, match);
        else
            showNumber(rates, pendingRate); // a rate not in the list stands in the edit field
        return 1;
    }
    if (message.kind != msgCommand || commandNotification(message) != notifyClicked) return 0;
    switch (commandId(message)) {
    case idOk: {
        pendingInterpolation = controlGetCheck(dialogItem(dialog, idInterpolatingMixing)) ? 1 : 0;
        const long long rate = readField(dialogItem(dialog, idMixingRate));
        if (rate > 0) pendingRate = limited(rate, minimumMixingRate, maximumMixingRate);
        endDialog(dialog, 1);
        return 1;
    }
    case idCancel: endDialog(dialog, 0); return 1;
    default: return 0;
    }
}

void initSetup(WindowHandle dialog) {
    setWindowText(dialog, setupCaption);
    controlSetCheck(dialogItem(dialog, idCustom), 1);
    // The card chosen before: "No Sound" when the silent device was chosen (in this run, or in an
    // earlier one whose setup was kept), else "Default".
    const WindowHandle cards = dialogItem(dialog, idSoundCard);
    const int noSound = controlAddString(cards, cardNoSound);
    const int detect = controlAddString(cards, cardDefault);
    controlSetSelection(cards, chosen_device_number == silentDeviceNumber ? noSound : detect);
    const int mode = soundOptions[optOutputMode];
    controlSetCheck(dialogItem(dialog, idStereo), mode == 0 || (mode & outputStereoBit) ? 1 : 0);
    pendingRate = soundOptions[optMixingRate];
    pendingInterpolation = soundOptions[optInterpolation] ? 1 : 0;
    for (const Preset& preset : presets) {
        if (preset.rate != pendingRate || preset.interpolation != pendingInterpolation) continue;
        controlSetCheck(dialogItem(dialog, preset.id), 1);
        controlSetCheck(dialogItem(dialog, idCustom), 0);
        break;
    }
    showNumber(dialogItem(dialog, idBufferLength), soundOptions[optBufferLength]);
    showNumber(dialogItem(dialog, idDSoundBufferLength), soundOptions[optDSoundBufferLength]);
    controlSetCheck(dialogItem(dialog, idNeverDirectSound), neverUseDirectSound ? 1 : 0);
}

void confirmSetup(WindowHandle dialog) {
    soundOptions[optMixingRate] = pendingRate;
    soundOptions[optInterpolation] = pendingInterpolation;
    soundOptions[optOutputMode] = controlGetCheck(dialogItem(dialog, idStereo)) ? outputStereo16 : outputMono16;
    // An empty or zero field keeps the old length; the wave output needs at least one 15 ms block.
    if (const long long length = readField(dialogItem(dialog, idBufferLength)); length > 0)
        soundOptions[optBufferLength] = limited(length, minimumBufferLength, maximumBufferLength);
    if (const long long length = readField(dialogItem(dialog, idDSoundBufferLength)); length > 0)
        soundOptions[optDSoundBufferLength] = limited(length, minimumDSoundBufferLength, maximumBufferLength);
    char card[32];
    getWindowText(dialogItem(dialog, idSoundCard), card, sizeof card);
    if (std::strcmp(card, cardDefault) == 0) chosen_device_number = -1;
    if (std::strcmp(card, cardNoSound) == 0) chosen_device_number = silentDeviceNumber;
    neverUseDirectSound = controlGetCheck(dialogItem(dialog, idNeverDirectSound)) ? 1 : 0;
}

std::intptr_t setupProc(WindowHandle dialog, const Message& message) {
    if (message.kind == msgInitDialog) {
        initSetup(dialog);
        return 1;
    }
    if (message.kind == msgOpenCustomQuality) {
        if (dialogBox(customDialog, dialog, customProc) < 0) {
            last_error = errUndefined;
            endDialog(dialog, 0);
        }
        return 1;
    }
    if (message.kind != msgCommand || commandNotification(message) != notifyClicked) return 0;
    const int id = commandId(message);
    for (const Preset& preset : presets)
        if (preset.id == id) {
            pendingRate = preset.rate;
            pendingInterpolation = preset.interpolation;
            return 1;
        }
    switch (id) {
    case idCustom:
        // Opened through the queue, so the click is over before the second dialog runs.
        if (controlGetCheck(dialogItem(dialog, idCustom)) && !postMessage(dialog, msgOpenCustomQuality, 0, 0)) {
            last_error = errUndefined;
            endDialog(dialog, 0);
        }
        return 1;
    case idOk:
        confirmSetup(dialog);
        endDialog(dialog, 1);
        return 1;
    case idCancel: endDialog(dialog, 0); return 1;
    default: return 0;
    }
}

// --- stored settings -------------------------------------------------------------------------

struct StoredSetting {
    const char* name; // registry value name
    int option;
    int low, high; // what a stored value may be; anything else is a damaged store
};

constexpr std::array<StoredSetting, 5> storedSettings = {{
    {"MixingRate", optMixingRate, minimumMixingRate, maximumMixingRate},
    {"OutputMode", optOutputMode, 0, 15},
    {"Interpolation", optInterpolation, 0, 1},
    {"BufferLength", optBufferLength, minimumBufferLength, maximumBufferLength},
    {"DSoundBufferLength", optDSoundBufferLength, minimumDSoundBufferLength, maximumBufferLength},
}};

bool fits(const StoredSetting& setting, std::int32_t value) {
    return value >= setting.low && value <= setting.high;
}

// One number of a settings file: where it goes and what it may be.
struct FileValue {
    int* value;
    int low, high;
};

// The five settings, in the order of the 20-byte file.
std::array<FileValue, 5> settingsFileValues() {
    std::array<FileValue, 5> values{};
    for (std::size_t i = 0; i < storedSettings.size(); ++i)
        values[i] = {&soundOptions[storedSettings[i].option], storedSettings[i].low, storedSettings[i].high};
    return values;
}

// The whole setup: the five settings, then the sound card (-1 detect, 0..2 a device, 2 being
// "No Sound") and "Never Use DirectSound".
std::array<FileValue, 7> setupFileValues() {
    const std::array<FileValue, 5> five = settingsFileValues();
    return {five[0], five[1], five[2], five[3], five[4], FileValue{&chosen_device_number, -1, soundDeviceCount - 1},
            FileValue{&neverUseDirectSound, 0, 1}};
}

// Reads a file of 4-byte little-endian numbers, whole and checked before anything is taken: a
// short, long or damaged file changes nothing. Returns 1, or 0 with the error as the last error.
int loadValues(const char* fileName, std::span<const FileValue> values) {
    FileHandle* file = nullptr;
    int code = file_open(fileName, fileRead, &file);
    if (code != errOK) {
        last_error = code;
        return 0;
    }
    std::int64_t size = 0;
    std::vector<std::uint8_t> bytes(values.size() * 4);
    code = file_size(file, &size);
    if (code == errOK) {
        if (size < static_cast<std::int64_t>(bytes.size()))
            code = errEndOfFile;
        else if (size > static_cast<std::int64_t>(bytes.size()))
            code = errFileRead;
        else
            code = file_read(file, bytes.data(), bytes.size());
    }
    const int closed = file_close(file);
    if (code == errOK) code = closed;
    std::vector<std::int32_t> read(values.size());
    for (std::size_t i = 0; code == errOK && i < values.size(); ++i) {
        const std::uint8_t* b = &bytes[i * 4];
        read[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                                            static_cast<std::uint32_t>(b[2]) << 16 |
                                            static_cast<std::uint32_t>(b[3]) << 24);
        if (read[i] < values[i].low || read[i] > values[i].high) code = errFileRead;
    }
    if (code != errOK) {
        last_error = code;
        return 0;
    }
    for (std::size_t i = 0; i < values.size(); ++i)
        *values[i].value = read[i];
    return 1;
}

// Writes the numbers as a file of 4-byte little-endian numbers, beside the old file and renamed
// over it, so a failed save leaves the old one whole. Returns 1, or 0 with the error as the last
// error.
int saveValues(const char* fileName, std::span<const FileValue> values) {
    if (!fileName || !*fileName) {
        last_error = errInvalidPath;
        return 0;
    }
    std::vector<std::uint8_t> bytes(values.size() * 4);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto value = static_cast<std::uint32_t>(*values[i].value);
        for (int k = 0; k < 4; ++k)
            bytes[i * 4 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(value >> (8 * k));
    }
    const std::string temporary = std::string(fileName) + ".new";
    std::remove(temporary.c_str());
    FileHandle* file = nullptr;
    int code = file_open(temporary.c_str(), fileWrite, &file);
    if (code == errOK) {
        code = file_write(file, bytes.data(), bytes.size());
        const int closed = file_close(file);
        if (code == errOK) code = closed;
    }
    if (code == errOK && std::rename(temporary.c_str(), fileName) != 0) {
        code = rawf_map_host_error(errno);
        if (code == errOK) code = errFileWrite;
    }
    if (code != errOK) {
        std::remove(temporary.c_str());
        last_error = code;
        return 0;
    }
    return 1;
}

} // namespace

int showSoundSetup() {
    last_error = errOK;
    const std::intptr_t result = dialogBox(setupDialog, 0, setupProc);
    if (result < 0) {
        last_error = errUndefined;
        return 0;
    }
    return result == 1 ? 1 : 0;
}

int loadSettingsFromRegistry(SettingsKey* root, const char* subKey) {
    last_error = errUndefined;
    SettingsKey* key = settingsOpen(root, subKey ? subKey : "", 0);
    if (!key) return 0;
    bool complete = true;
    for (const StoredSetting& setting : storedSettings) {
        std::uint32_t value = 0;
        // Only a 4-byte number within reach counts; the first other value ends the load.
        if (settingsGetDword(key, setting.name, &value) != settingsOk ||
            !fits(setting, static_cast<std::int32_t>(value))) {
            complete = false;
            break;
        }
        soundOptions[setting.option] = static_cast<std::int32_t>(value);
    }
    settingsClose(key);
    if (!complete) return 0;
    last_error = errOK;
    return 1;
}

int saveSettingsToRegistry(SettingsKey* root, const char* subKey) {
    last_error = errUndefined;
    SettingsKey* key = settingsOpen(root, subKey ? subKey : "", 1);
    if (!key) return 0;
    bool complete = true;
    for (const StoredSetting& setting : storedSettings)
        if (settingsSetDword(key, setting.name, static_cast<std::uint32_t>(soundOptions[setting.option])) != settingsOk) {
            complete = false;
            break;
        }
    // The values reach the store when the key is closed.
    if (settingsClose(key) != settingsOk) complete = false;
    if (!complete) return 0;
    last_error = errOK;
    return 1;
}

int loadSettingsFromFile(const char* fileName) {
    return loadValues(fileName, settingsFileValues());
}

int saveSettingsToFile(const char* fileName) {
    return saveValues(fileName, settingsFileValues());
}

int loadSoundSetupFromFile(const char* fileName) {
    return loadValues(fileName, setupFileValues());
}

int saveSoundSetupToFile(const char* fileName) {
    return saveValues(fileName, setupFileValues());
}
