// The settings store: keys by path, typed values with their sizes, one file per key written whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/headless.h"

namespace fs = std::filesystem;

namespace {

// Starts the headless back end with the store in folder (empty: in memory).
void start(const fs::path& folder = {}) {
    HeadlessOptions options;
    options.modes = headlessAllModes();
    options.settingsFolder = folder.string();
    headlessConfigure(options, HeadlessRecorder{});
    platformInit(headlessBackend());
}

fs::path freshFolder(const std::string& name) {
    const fs::path folder = fs::temp_directory_path() / ("morva-settings-" + std::to_string(getpid())) / name;
    fs::remove_all(folder);
    return folder;
}

std::uint32_t dword(SettingsKey* key, const char* name) {
    std::uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(settingsGetDword(key, name, &value), settingsOk) << name;
    return value;
}

class SettingsFiles : public ::testing::Test {
  protected:
    void TearDown() override {
        platformShutdown(0);
        if (!HasFailure()) fs::remove_all(fs::temp_directory_path() / ("morva-settings-" + std::to_string(getpid())));
    }
};

} // namespace

TEST(SettingsStore, ValuesKeepTheirTypesAndSizesAcrossCloseAndReopen) {
    start();
    EXPECT_EQ(settingsOpen(nullptr, "Software/Virez/Audio", 0), nullptr);
    SettingsKey* key = settingsOpen(nullptr, "Software/Virez/Audio", 1);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(settingsSetDword(key, "MixingRate", 44100), settingsOk);
    EXPECT_EQ(settingsSetText(key, "OutputMode", "stereo"), settingsOk);
    const std::uint8_t two[2] = {1, 2};
    EXPECT_EQ(settingsSetValue(key, "Short", settingsDword, two, 2), settingsOk);
    EXPECT_EQ(settingsClose(key), settingsOk);

    key = settingsOpen(nullptr, "Software/Virez/Audio", 0);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(dword(key, "MixingRate"), 44100u);
    std::uint32_t value = 0;
    EXPECT_EQ(settingsGetDword(key, "OutputMode", &value), settingsWrongType);
    EXPECT_EQ(settingsGetDword(key, "Short", &value), settingsWrongType); // a number must be 4 bytes
    EXPECT_EQ(settingsGetDword(key, "Interpolation", &value), settingsMissing);
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(settingsGetValue(key, "OutputMode", &type, nullptr, &size), settingsOk);
    EXPECT_EQ(type, settingsText);
    EXPECT_EQ(size, 7u); // the text and its terminating zero
    char small[3];
    size = sizeof small;
    EXPECT_EQ(settingsGetValue(key, "OutputMode", &type, small, &size), settingsFailed);
    EXPECT_EQ(size, 7u);
    char text[4];
    EXPECT_EQ(settingsGetText(key, "OutputMode", text, sizeof text), settingsOk);
    EXPECT_STREQ(text, "ste"); // cut to the caller's buffer
    EXPECT_EQ(settingsGetText(key, "MixingRate", text, sizeof text), settingsWrongType);
    settingsClose(key);
    platformShutdown(0);
}

TEST(SettingsStore, PathsAndNamesMatchWithoutRegardToCaseAndMakingAKeyMakesItsParents) {
    start();
    SettingsKey* key = settingsOpen(nullptr, "Software/Virez/Audio", 1);
    settingsSetDword(key, "MixingRate", 1);
    settingsClose(key);
    key = settingsOpen(nullptr, "SOFTWARE\\virez\\AUDIO", 0);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(dword(key, "mixingrate"), 1u);
    settingsClose(key);
    SettingsKey* parent = settingsOpen(nullptr, "Software/Virez", 0);
    ASSERT_NE(parent, nullptr);
    SettingsKey* child = settingsOpen(parent, "Audio", 0);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(dword(child, "MixingRate"), 1u);
    settingsClose(child);
    settingsClose(parent);
    for (const char* bad : {"", "a//b", "/a", "a/", "a\\\\b"})
        EXPECT_EQ(settingsOpen(nullptr, bad, 1), nullptr) << bad;
    EXPECT_EQ(settingsOpen(nullptr, std::string(300, 'x').c_str(), 1), nullptr);
    platformShutdown(0);
}

TEST_F(SettingsFiles, KeyPathsThatDifferNeverShareAFile) {
    const fs::path folder = freshFolder("paths");
    start(folder);
    const char* paths[] = {"a/b", "a_b", "a.b", "a%2eb", "a b", "a/b/c"};
    std::uint32_t n = 1;
    for (const char* path : paths) {
        SettingsKey* key = settingsOpen(nullptr, path, 1);
        ASSERT_NE(key, nullptr) << path;
        settingsSetDword(key, "Value", n++);
        ASSERT_EQ(settingsClose(key), settingsOk);
    }
    n = 1;
    for (const char* path : paths) {
        SettingsKey* key = settingsOpen(nullptr, path, 0);
        ASSERT_NE(key, nullptr) << path;
        EXPECT_EQ(dword(key, "Value"), n++) << path;
        settingsClose(key);
    }
    // Every key is one file in the folder, and "a" exists as the parent of "a/b".
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().extension(), ".key") << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 7);
    SettingsKey* parent = settingsOpen(nullptr, "a", 0);
    EXPECT_NE(parent, nullptr);
    settingsClose(parent);
}

TEST_F(SettingsFiles, AnyNameTextAndByteSurviveTheFile) {
    const fs::path folder = freshFolder("text");
    start(folder);
    const std::string name = "odd=name;%with\nall\x7f\xc3\xa9";
    const std::string text = "100% sure\r\nsecond line; a=b \xe2\x82\xac";
    const std::uint8_t bytes[5] = {0, 0xFF, '\n', '=', '%'};
    SettingsKey* key = settingsOpen(nullptr, "Software/Test", 1);
    ASSERT_EQ(settingsSetText(key, name.c_str(), text.c_str()), settingsOk);
    ASSERT_EQ(settingsSetValue(key, "Raw", settingsBinary, bytes, sizeof bytes), settingsOk);
    ASSERT_EQ(settingsSetValue(key, "Empty", 7, nullptr, 0), settingsOk);
    ASSERT_EQ(settingsClose(key), settingsOk);
    platformShutdown(0);
    start(folder);
    key = settingsOpen(nullptr, "Software/Test", 0);
    ASSERT_NE(key, nullptr);
    char back[128];
    ASSERT_EQ(settingsGetText(key, name.c_str(), back, sizeof back), settingsOk);
    EXPECT_EQ(std::string(back), text);
    std::uint8_t raw[8];
    std::uint32_t type = 0, size = sizeof raw;
    ASSERT_EQ(settingsGetValue(key, "Raw", &type, raw, &size), settingsOk);
    EXPECT_EQ(type, settingsBinary);
    ASSERT_EQ(size, sizeof bytes);
    EXPECT_EQ(std::memcmp(raw, bytes, sizeof bytes), 0);
    size = 99;
    ASSERT_EQ(settingsGetValue(key, "Empty", &type, nullptr, &size), settingsOk);
    EXPECT_EQ(type, 7u);
    EXPECT_EQ(size, 0u);
    settingsClose(key);
}

TEST_F(SettingsFiles, DamagedLinesAreDroppedAndTheRestCounts) {
    const fs::path folder = freshFolder("damaged");
    start(folder);
    SettingsKey* key = settingsOpen(nullptr, "Audio", 1);
    settingsSetDword(key, "BufferLength", 500);
    ASSERT_EQ(settingsClose(key), settingsOk);
    {
        std::ofstream f(folder / "audio.key", std::ios::app);
        f << "MixingRate=dword:0000ac4\nnoequals\n=dword:00000001\nRate=dword:0000ac4x\n"
             "Bad=text:%zz\nTail=hex(4):01,02,0\nHuge=hex(99999999999):00\nName=text:ok\n";
    }
    key = settingsOpen(nullptr, "Audio", 0);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(dword(key, "BufferLength"), 500u);
    std::uint32_t value = 0;
    for (const char* dropped : {"MixingRate", "Rate", "Bad", "Tail", "Huge"})
        EXPECT_EQ(settingsGetDword(key, dropped, &value), settingsMissing) << dropped;
    char text[8];
    EXPECT_EQ(settingsGetText(key, "Name", text, sizeof text), settingsOk);
    EXPECT_STREQ(text, "ok");
    settingsClose(key);
}

TEST_F(SettingsFiles, AFileTooLargeToBeOursIsNeitherReadNorOverwritten) {
    const fs::path folder = freshFolder("large");
    fs::create_directories(folder);
    {
        std::ofstream f(folder / "audio.key");
        f << std::string(300 * 1024, 'x');
    }
    start(folder);
    EXPECT_EQ(settingsOpen(nullptr, "Audio", 1), nullptr);
    EXPECT_EQ(fs::file_size(folder / "audio.key"), 300u * 1024);
}

TEST_F(SettingsFiles, SavingLeavesNoTemporaryFileAndAFailedSaveSaysSo) {
    const fs::path folder = freshFolder("atomic");
    start(folder);
    SettingsKey* key = settingsOpen(nullptr, "Audio", 1);
    settingsSetDword(key, "MixingRate", 22050);
    ASSERT_EQ(settingsClose(key), settingsOk);
    // A directory where the key's file belongs: the rename cannot replace it.
    key = settingsOpen(nullptr, "Audio", 0);
    ASSERT_NE(key, nullptr);
    fs::remove(folder / "audio.key");
    fs::create_directories(folder / "audio.key" / "inside");
    settingsSetDword(key, "MixingRate", 44100);
    EXPECT_EQ(settingsClose(key), settingsFailed);
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename(), "audio.key") << "left behind: " << entry.path();
    // A folder that cannot be: the key cannot be opened rather than seeming to work.
    platformShutdown(0);
    std::ofstream(folder / "plain-file") << "x";
    start(folder / "plain-file" / "sub");
    EXPECT_EQ(settingsOpen(nullptr, "Audio", 1), nullptr);
}

TEST(SettingsStore, UserFolderFollowsXdgConfigHomeElseHome) {
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string keepConfig = oldConfig ? oldConfig : "", keepHome = oldHome ? oldHome : "";
    setenv("XDG_CONFIG_HOME", "/tmp/config-here", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(settingsUserFolder(), "/tmp/config-here/morva");
    setenv("XDG_CONFIG_HOME", "relative/path", 1); // ignored, as the base directory rules say
    EXPECT_EQ(settingsUserFolder(), "/home/someone/.config/morva");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(settingsUserFolder(), "/home/someone/.config/morva");
    unsetenv("HOME");
    EXPECT_EQ(settingsUserFolder(), "");
    if (oldConfig) setenv("XDG_CONFIG_HOME", keepConfig.c_str(), 1);
    if (oldHome) setenv("HOME", keepHome.c_str(), 1);
}
