// The sound setup dialog, its custom quality dialog, and the five stored settings in the settings
// store and in the 20-byte file. The dialogs run on the headless back end with a scripted user.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/headless.h"
#include "sound/api/errors.h"
#include "sound/api/mglobals.h"
#include "sound/api/soundapi.h"
#include "sound/setup/win32cnf.h"

namespace fs = std::filesystem;

namespace {

// What a look at a dialog found: control states by id, and the caption.
struct Seen {
    std::string caption;
    std::vector<int> checked; // ids of checked buttons
    std::string card;
    std::string buffer, dsoundBuffer;
    std::string rateText;
    int rateSelection = -2;
};

std::string text(WindowHandle control) {
    char buffer[64];
    getWindowText(control, buffer, sizeof buffer);
    return buffer;
}

Seen look(WindowHandle dialog) {
    Seen seen;
    seen.caption = windowRecord(dialog)->text;
    for (WindowHandle child : windowRecord(dialog)->children)
        if (controlGetCheck(child)) seen.checked.push_back(controlGetId(child));
    if (seen.caption.find("Custom") != std::string::npos) {
        seen.rateText = text(dialogItem(dialog, idMixingRate));
        seen.rateSelection = controlGetSelection(dialogItem(dialog, idMixingRate));
    } else {
        seen.card = text(dialogItem(dialog, idSoundCard));
        seen.buffer = text(dialogItem(dialog, idBufferLength));
        seen.dsoundBuffer = text(dialogItem(dialog, idDSoundBufferLength));
    }
    return seen;
}

std::vector<Seen> looks; // one per wait for the user, in order

// The headless user runs script; every time a dialog waits, it is looked at first, and `extra`
// may act on it instead of the script.
void start(std::vector<std::string> script, std::function<int(WindowHandle)> extra = {}) {
    HeadlessOptions options;
    options.modes = headlessAllModes();
    options.script = std::move(script);
    options.user = [extra](WindowHandle active) {
        looks.push_back(look(active));
        return extra ? extra(active) : 0;
    };
    headlessConfigure(options, HeadlessRecorder{});
    platformInit(headlessBackend());
    looks.clear();
}

bool has(const std::vector<int>& ids, int id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

class SoundSetup : public ::testing::Test {
  protected:
    void SetUp() override {
        resetSoundOptions();
        chosen_device_number = -1;
        neverUseDirectSound = 0;
        last_error = 0;
    }
    void TearDown() override { platformShutdown(0); }
};

} // namespace

TEST_F(SoundSetup, OpensWithTheSettingsShownAndCancelChangesNothing) {
    last_error = errFileRead;
    soundOptions[optBufferLength] = 250;
    neverUseDirectSound = 1;
    start({"Cancel"});
    const auto before = soundOptions;
    EXPECT_EQ(showSoundSetup(), 0);
    EXPECT_EQ(last_error, 0); // cleared on the way in
    EXPECT_EQ(soundOptions, before);
    EXPECT_EQ(neverUseDirectSound, 1);
    ASSERT_EQ(looks.size(), 1u);
    const Seen& seen = looks[0];
    EXPECT_EQ(seen.caption, "VIREZ Digital Audio System v1.1.2 Setup");
    EXPECT_EQ(seen.checked, (std::vector<int>{idPresetMedium, idStereo, idNeverDirectSound}));
    EXPECT_EQ(seen.card, "Default");
    EXPECT_EQ(seen.buffer, "250");
    EXPECT_EQ(seen.dsoundBuffer, "100");
}

TEST_F(SoundSetup, APresetMatchesRateAndInterpolationElseCustomStaysChecked) {
    soundOptions[optMixingRate] = 32000;
    soundOptions[optInterpolation] = 1;
    soundOptions[optOutputMode] = 9; // mono 16-bit
    start({"Cancel"});
    showSoundSetup();
    EXPECT_EQ(looks.at(0).checked, (std::vector<int>{idPresetHigh}));

    soundOptions[optInterpolation] = 0;
    soundOptions[optOutputMode] = 6; // stereo 8-bit
    start({"Cancel"});
    showSoundSetup();
    EXPECT_EQ(looks.at(0).checked, (std::vector<int>{idPresetLow, idStereo}));

    soundOptions[optMixingRate] = 48000;
    start({"Custom...", "Cancel", "Cancel"});
    showSoundSetup();
    ASSERT_EQ(looks.size(), 3u);
    EXPECT_TRUE(has(looks[0].checked, idCustom));
    EXPECT_EQ(looks[1].caption, "VIREZ Custom Sound Quality");
    EXPECT_EQ(looks[1].rateText, "48000"); // not in the list: in the edit field
    EXPECT_EQ(looks[1].rateSelection, -1);
    EXPECT_EQ(looks[1].checked, (std::vector<int>{idNormalMixing}));
}

TEST_F(SoundSetup, OkTakesThePresetAndAlwaysASixteenBitOutputMode) {
    soundOptions[optOutputMode] = 5; // mono 8-bit
    start({"&High", "OK"});
    EXPECT_EQ(showSoundSetup(), 1);
    EXPECT_EQ(soundOptions[optMixingRate], 32000);
    EXPECT_EQ(soundOptions[optInterpolation], 1);
    EXPECT_EQ(soundOptions[optOutputMode], 9);

    soundOptions[optOutputMode] = 6; // stereo 8-bit
    start({"V&ery Low (smallest CPU usage)", "key:enter"});
    EXPECT_EQ(showSoundSetup(), 1);
    EXPECT_EQ(soundOptions[optMixingRate], 22050);
    EXPECT_EQ(soundOptions[optInterpolation], 0);
    EXPECT_EQ(soundOptions[optOutputMode], 10);

    start({"Stereo=0", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optOutputMode], 9);
}

TEST_F(SoundSetup, TheCustomDialogSetsThePendingRateAndModeOnlyWhenTheSetupIsConfirmed) {
    start({"Custom...", "select=16000", "Interpolating (high quality)", "OK", "OK"});
    EXPECT_EQ(showSoundSetup(), 1);
    EXPECT_EQ(soundOptions[optMixingRate], 16000);
    EXPECT_EQ(soundOptions[optInterpolation], 1);
    EXPECT_EQ(looks.at(1).rateSelection, 7); // 44100 was in the list and selected

    resetSoundOptions();
    start({"Custom...", "Mixing Rate:=48000", "OK", "Cancel"});
    EXPECT_EQ(showSoundSetup(), 0);
    EXPECT_EQ(soundOptions[optMixingRate], 44100);

    start({"Custom...", "Mixing Rate:=48000", "OK", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optMixingRate], 48000);
    EXPECT_EQ(soundOptions[optInterpolation], 0);
}

TEST_F(SoundSetup, TheCustomDialogKeepsTheRateForTextThatIsNoNumberAndCancelKeepsBoth) {
    start({"Custom...", "Mixing Rate:=fast", "Interpolating (high quality)", "OK", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optMixingRate], 44100);
    EXPECT_EQ(soundOptions[optInterpolation], 1);

    start({"Custom...", "Mixing Rate:= 27429 Hz", "OK", "OK"}); // leading blank and a tail
    showSoundSetup();
    EXPECT_EQ(soundOptions[optMixingRate], 27429);

    start({"Custom...", "Mixing Rate:=8000", "Normal (low quality)", "Cancel", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optMixingRate], 27429);
    EXPECT_EQ(soundOptions[optInterpolation], 1);
    // Cancelling the custom dialog leaves the setup dialog's buttons as they were.
    EXPECT_TRUE(has(looks.back().checked, idCustom));
    EXPECT_EQ(looks.back().caption, "VIREZ Digital Audio System v1.1.2 Setup");

    start({"Custom...", "Mixing Rate:=0", "OK", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optMixingRate], 27429);
    start({"Custom...", "Mixing Rate:=99999999999999999999", "OK", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optMixingRate], maximumMixingRate); // held to what an output can play
    start({"Custom...", "Mixing Rate:=-8000", "OK", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optMixingRate], maximumMixingRate);
}

TEST_F(SoundSetup, EmptyOrUnreadableBufferFieldsKeepTheOldLengthsAndTinyOnesAreRaised) {
    start({"Buffer Length:=", "DirectSound Buffer:=0", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optBufferLength], 500);
    EXPECT_EQ(soundOptions[optDSoundBufferLength], 100);

    // Text the keyboard cannot type (a program set it) reads as no number.
    start({"OK"}, [](WindowHandle active) {
        if (text(dialogItem(active, idBufferLength)) == "500") setWindowText(dialogItem(active, idBufferLength), "abc");
        return 0;
    });
    showSoundSetup();
    EXPECT_EQ(soundOptions[optBufferLength], 500);

    start({"Buffer Length:=5", "DirectSound Buffer:=2", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optBufferLength], minimumBufferLength); // one 15 ms block at least
    EXPECT_EQ(soundOptions[optDSoundBufferLength], 2);

    start({"Buffer Length:=200", "DirectSound Buffer:=99999", "OK"});
    showSoundSetup();
    EXPECT_EQ(soundOptions[optBufferLength], 200);
    EXPECT_EQ(soundOptions[optDSoundBufferLength], maximumBufferLength);
}

TEST_F(SoundSetup, NoSoundForcesTheSilentDeviceAndDefaultDetects) {
    chosen_device_number = 1;
    start({"S&ound Card:=No Sound", "Never Use DirectSound=1", "OK"});
    showSoundSetup();
    EXPECT_EQ(chosen_device_number, 2);
    EXPECT_EQ(neverUseDirectSound, 1);
    // The list opens on the card chosen before, so OK alone keeps it.
    start({"OK"});
    showSoundSetup();
    ASSERT_EQ(looks.size(), 1u);
    EXPECT_EQ(looks[0].card, "No Sound");
    EXPECT_EQ(chosen_device_number, 2);
    EXPECT_EQ(neverUseDirectSound, 1);
    start({"S&ound Card:=Default", "OK"});
    showSoundSetup();
    EXPECT_EQ(chosen_device_number, -1);
}

TEST_F(SoundSetup, TheLibraryOpensTheDeviceTheDialogChose) {
    // A wave output exists; "No Sound" still gets the silent device, "Default" the wave output.
    sound_startup();
    start({"S&ound Card:=No Sound", "OK"});
    ASSERT_EQ(showSoundSetup(), 1);
    ASSERT_EQ(sound_init(), 1);
    EXPECT_EQ(currentDevice, soundDevices[2]);
    sound_close();
    sound_startup();
    start({"OK"});
    ASSERT_EQ(showSoundSetup(), 1);
    ASSERT_EQ(sound_init(), 1);
    EXPECT_EQ(currentDevice, soundDevices[1]);
    sound_close();
}

TEST_F(SoundSetup, EscapeAndTheCloseBoxCancel) {
    start({"&High", "key:escape"});
    EXPECT_EQ(showSoundSetup(), 0);
    EXPECT_EQ(soundOptions[optMixingRate], 44100);
    start({"&High"}, [](WindowHandle active) {
        if (looks.size() < 2) return 0;
        postMessage(active, msgClose, 0, 0);
        return 1;
    });
    EXPECT_EQ(showSoundSetup(), 0);
    EXPECT_EQ(soundOptions[optMixingRate], 44100);
}

// --- stored settings ---------------------------------------------------------------------------

namespace {

class StoredSettings : public SoundSetup {
  protected:
    void SetUp() override {
        SoundSetup::SetUp();
        start({});
        folder = fs::temp_directory_path() / ("morva-win32cnf-" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        SoundSetup::TearDown();
        if (!HasFailure()) fs::remove_all(folder);
    }
    std::string file(const char* name) const { return (folder / name).string(); }
    fs::path folder;
};

void setFive(int rate, int mode, int interpolation, int buffer, int dsoundBuffer) {
    soundOptions[optMixingRate] = rate;
    soundOptions[optOutputMode] = mode;
    soundOptions[optInterpolation] = interpolation;
    soundOptions[optBufferLength] = buffer;
    soundOptions[optDSoundBufferLength] = dsoundBuffer;
}

std::array<int, 5> five() {
    return {soundOptions[optMixingRate], soundOptions[optOutputMode], soundOptions[optInterpolation],
            soundOptions[optBufferLength], soundOptions[optDSoundBufferLength]};
}

void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

TEST_F(StoredSettings, RegistryRoundTripKeepsFourByteNumbers) {
    setFive(22050, 9, 1, 300, 80);
    last_error = 7;
    ASSERT_EQ(saveSettingsToRegistry(nullptr, "Software/Virez/Audio"), 1);
    EXPECT_EQ(last_error, 0);
    SettingsKey* key = settingsOpen(nullptr, "Software/Virez/Audio", 0);
    ASSERT_NE(key, nullptr);
    for (const char* name : {"MixingRate", "OutputMode", "Interpolation", "BufferLength", "DSoundBufferLength"}) {
        std::uint32_t type = 0, size = 0;
        EXPECT_EQ(settingsGetValue(key, name, &type, nullptr, &size), settingsOk) << name;
        EXPECT_EQ(type, settingsDword) << name;
        EXPECT_EQ(size, 4u) << name;
    }
    settingsClose(key);
    resetSoundOptions();
    SettingsKey* software = settingsOpen(nullptr, "Software", 0);
    ASSERT_EQ(loadSettingsFromRegistry(software, "Virez/Audio"), 1); // below a key the caller opened
    settingsClose(software);
    EXPECT_EQ(five(), (std::array<int, 5>{22050, 9, 1, 300, 80}));
    EXPECT_EQ(last_error, 0);
}

TEST_F(StoredSettings, AStringValueFailsTheLoadThereWithTheEarlierValuesTakenOver) {
    setFive(22050, 9, 1, 300, 80);
    ASSERT_EQ(saveSettingsToRegistry(nullptr, "Audio"), 1);
    SettingsKey* key = settingsOpen(nullptr, "Audio", 0);
    settingsSetText(key, "Interpolation", "1");
    settingsClose(key);
    resetSoundOptions();
    EXPECT_EQ(loadSettingsFromRegistry(nullptr, "Audio"), 0);
    EXPECT_EQ(last_error, 1);
    EXPECT_EQ(five(), (std::array<int, 5>{22050, 9, 0, 500, 100}));
}

TEST_F(StoredSettings, MissingKeysShortNumbersAndImpossibleValuesFailTheLoad) {
    EXPECT_EQ(loadSettingsFromRegistry(nullptr, "Nowhere"), 0);
    EXPECT_EQ(last_error, 1);
    EXPECT_EQ(settingsOpen(nullptr, "Nowhere", 0), nullptr); // loading made nothing

    setFive(22050, 9, 1, 300, 80);
    saveSettingsToRegistry(nullptr, "Audio");
    SettingsKey* key = settingsOpen(nullptr, "Audio", 0);
    const std::uint8_t two[2] = {0x44, 0xAC};
    settingsSetValue(key, "MixingRate", settingsDword, two, 2);
    settingsClose(key);
    resetSoundOptions();
    EXPECT_EQ(loadSettingsFromRegistry(nullptr, "Audio"), 0);
    EXPECT_EQ(soundOptions[optMixingRate], 44100);

    key = settingsOpen(nullptr, "Audio", 0);
    settingsSetDword(key, "MixingRate", 32000);
    settingsSetDword(key, "OutputMode", 0xFFFFFFFF);
    settingsClose(key);
    EXPECT_EQ(loadSettingsFromRegistry(nullptr, "Audio"), 0);
    EXPECT_EQ(soundOptions[optMixingRate], 32000);
    EXPECT_EQ(soundOptions[optOutputMode], 0);
}

TEST_F(StoredSettings, TheFileIsTwentyLittleEndianBytesAndComesBackWhole) {
    setFive(32000, 10, 1, 200, 60);
    last_error = 9;
    ASSERT_EQ(saveSettingsToFile(file("audio.cfg").c_str()), 1);
    EXPECT_EQ(last_error, 9); // success leaves the last error alone
    std::ifstream in(file("audio.cfg"), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::uint8_t> expected = {0x00, 0x7D, 0, 0, 10, 0, 0, 0, 1, 0, 0, 0, 200, 0, 0, 0, 60, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
    resetSoundOptions();
    ASSERT_EQ(loadSettingsFromFile(file("audio.cfg").c_str()), 1);
    EXPECT_EQ(five(), (std::array<int, 5>{32000, 10, 1, 200, 60}));
    EXPECT_EQ(last_error, 9);
    // Saving over a longer file leaves twenty bytes and nothing beside it.
    writeBytes(file("long.cfg"), std::vector<std::uint8_t>(64, 0xEE));
    ASSERT_EQ(saveSettingsToFile(file("long.cfg").c_str()), 1);
    EXPECT_EQ(fs::file_size(file("long.cfg")), 20u);
    EXPECT_FALSE(fs::exists(file("long.cfg.new")));
}

TEST_F(StoredSettings, AShortLongOrDamagedFileGivesAnErrorAndChangesNothing) {
    const auto defaults = five();
    EXPECT_EQ(loadSettingsFromFile(file("missing.cfg").c_str()), 0);
    EXPECT_EQ(last_error, errFileNotFound);
    std::vector<std::uint8_t> good = {0x22, 0x56, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0, 50, 0, 0, 0};
    writeBytes(file("short.cfg"), std::vector<std::uint8_t>(good.begin(), good.begin() + 10));
    EXPECT_EQ(loadSettingsFromFile(file("short.cfg").c_str()), 0);
    EXPECT_EQ(last_error, errEndOfFile);
    std::vector<std::uint8_t> longer = good;
    longer.resize(24, 0);
    writeBytes(file("long.cfg"), longer);
    EXPECT_EQ(loadSettingsFromFile(file("long.cfg").c_str()), 0);
    EXPECT_EQ(last_error, errFileRead);
    for (int field : {0, 1, 2, 3, 4}) {
        std::vector<std::uint8_t> damaged = good;
        damaged[static_cast<std::size_t>(field * 4 + 3)] = 0x80; // negative
        writeBytes(file("damaged.cfg"), damaged);
        last_error = 0;
        EXPECT_EQ(loadSettingsFromFile(file("damaged.cfg").c_str()), 0) << field;
        EXPECT_EQ(last_error, errFileRead) << field;
    }
    EXPECT_EQ(five(), defaults);
    writeBytes(file("good.cfg"), good);
    EXPECT_EQ(loadSettingsFromFile(file("good.cfg").c_str()), 1);
    EXPECT_EQ(five(), (std::array<int, 5>{22050, 9, 0, 100, 50}));
}

TEST_F(StoredSettings, AFileThatCannotBeWrittenSaysWhyAndLeavesNothing) {
    EXPECT_EQ(saveSettingsToFile(file("no/such/folder/audio.cfg").c_str()), 0);
    EXPECT_NE(last_error, 0);
    EXPECT_FALSE(fs::exists(file("no")));
    // A folder where the file should be: the old one stays, no temporary file is left.
    fs::create_directories(file("taken.cfg") + "/inside");
    last_error = 0;
    EXPECT_EQ(saveSettingsToFile(file("taken.cfg").c_str()), 0);
    EXPECT_NE(last_error, 0);
    EXPECT_FALSE(fs::exists(file("taken.cfg.new")));
}

// --- the sound setup file -------------------------------------------------------------------

TEST_F(StoredSettings, TheSoundSetupFileKeepsTheFiveThenTheCardAndNeverDirectSound) {
    setFive(22050, 9, 1, 300, 80);
    chosen_device_number = 2;
    neverUseDirectSound = 1;
    last_error = 9;
    ASSERT_EQ(saveSoundSetupToFile(file("setup.bin").c_str()), 1);
    EXPECT_EQ(last_error, 9);
    std::ifstream in(file("setup.bin"), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::uint8_t> expected = {0x22, 0x56, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 0x2C, 1, 0, 0,
                                                80,   0,    0, 0, 2, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
    // The first twenty bytes are the settings file's.
    ASSERT_EQ(saveSettingsToFile(file("five.cfg").c_str()), 1);
    std::ifstream fiveIn(file("five.cfg"), std::ios::binary);
    const std::vector<std::uint8_t> five20((std::istreambuf_iterator<char>(fiveIn)), std::istreambuf_iterator<char>());
    EXPECT_EQ(five20, std::vector<std::uint8_t>(expected.begin(), expected.begin() + 20));
    resetSoundOptions();
    chosen_device_number = -1;
    neverUseDirectSound = 0;
    ASSERT_EQ(loadSoundSetupFromFile(file("setup.bin").c_str()), 1);
    EXPECT_EQ(five(), (std::array<int, 5>{22050, 9, 1, 300, 80}));
    EXPECT_EQ(chosen_device_number, 2);
    EXPECT_EQ(neverUseDirectSound, 1);
    EXPECT_FALSE(fs::exists(file("setup.bin.new")));
}

TEST_F(StoredSettings, ASoundSetupFileThatIsShortLongOrDamagedChangesNothing) {
    EXPECT_EQ(loadSoundSetupFromFile(file("missing.bin").c_str()), 0);
    EXPECT_EQ(last_error, errFileNotFound);
    const std::vector<std::uint8_t> good = {0x22, 0x56, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 100, 0,
                                            0,    0,    50, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0};
    const auto defaults = five();
    const auto check = [&](const std::vector<std::uint8_t>& bytes, int code, const char* what) {
        writeBytes(file("bad.bin"), bytes);
        last_error = 0;
        EXPECT_EQ(loadSoundSetupFromFile(file("bad.bin").c_str()), 0) << what;
        EXPECT_EQ(last_error, code) << what;
        EXPECT_EQ(five(), defaults) << what;
        EXPECT_EQ(chosen_device_number, -1) << what;
        EXPECT_EQ(neverUseDirectSound, 0) << what;
    };
    check(std::vector<std::uint8_t>(good.begin(), good.begin() + 20), errEndOfFile, "a settings file alone");
    std::vector<std::uint8_t> longer = good;
    longer.push_back(0);
    check(longer, errFileRead, "a byte too many");
    std::vector<std::uint8_t> card = good;
    card[20] = 3; // no such device
    check(card, errFileRead, "a card that does not exist");
    std::vector<std::uint8_t> never = good;
    never[24] = 2;
    check(never, errFileRead, "Never Use DirectSound neither 0 nor 1");
    writeBytes(file("good.bin"), good);
    EXPECT_EQ(loadSoundSetupFromFile(file("good.bin").c_str()), 1);
    EXPECT_EQ(chosen_device_number, 2);
}
