// The sound setup confirmed with OK is kept for the next start in the run's settings folder, a
// kept file that cannot be read is reported once and the defaults are used, and morva-capture
// keeps nothing and reads nothing of a user's unless given a settings folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture_run.h"
#include "filelib/filelib.h"
#include "show_folder.h"

namespace fs = std::filesystem;

namespace {

const fs::path root = fs::temp_directory_path() / ("morva-sound-setup-kept-" + std::to_string(getpid()));

void writeBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}


fs::path showFolder() {
    const fs::path folder = root / "show";
    if (fs::exists(folder / "mopart2.xm")) return folder;
    fs::create_directories(folder);
    writeStandInArchive(folder / "morva.flb");
    writeBytes(folder / "mopart1.xm", shortModuleBytes(6));
    writeBytes(folder / "mopart2.xm", shortModuleBytes(15));
    return folder;
}

struct Outcome {
    int status = -1;
    std::string err;
    bool sound = false; // audio.wav holds anything but silence
};

Outcome capture(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) {
    const fs::path folder = showFolder();
    Outcome run;
    std::vector<std::string> all = {"--out", "out"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    fs::remove_all(folder / "out");
    run.status = waitProgramFor(
        spawnProgram(captureProgram, folder, all, environment, folder / ".stdout", folder / ".stderr"), 120);
    run.err = readFile(folder / ".stderr");
    const std::string wav = readFile(folder / "out" / "audio.wav");
    run.sound = wav.size() > 44 && std::any_of(wav.begin() + 44, wav.end(), [](char c) { return c != 0; });
    return run;
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class KeptSoundSetup : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(captureProgram)) GTEST_FAIL() << captureProgram << " is not built";
        fs::remove_all(root);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(root);
    }
};

} // namespace

TEST_F(KeptSoundSetup, ConfirmedSetupIsThereAtTheNextStart) {
    const Outcome before = capture({"--settings-folder", "config"});
    EXPECT_EQ(before.status, 1) << before.err;
    EXPECT_TRUE(before.sound);
    EXPECT_FALSE(fs::exists(showFolder() / "config" / "sound-setup.bin")) << "nothing was confirmed";
    // Cancelled: nothing kept.
    EXPECT_EQ(capture({"--settings-folder", "config", "--audio-setup", "open;preset=No Sound;cancel"}).status,
              1);
    EXPECT_FALSE(fs::exists(showFolder() / "config" / "sound-setup.bin"));
    // Confirmed: kept, and the next start plays in silence without being told.
    const Outcome choosing =
        capture({"--settings-folder", "config", "--audio-setup", "open;preset=No Sound;ok"});
    EXPECT_EQ(choosing.status, 1) << choosing.err;
    EXPECT_FALSE(choosing.sound);
    EXPECT_EQ(fs::file_size(showFolder() / "config" / "sound-setup.bin"), 28u);
    const Outcome next = capture({"--settings-folder", "config"});
    EXPECT_EQ(next.status, 1) << next.err;
    EXPECT_FALSE(next.sound) << "the next start forgot \"No Sound\"";
    EXPECT_EQ(next.err, "");
    // Choosing the card again, and the start after that plays again.
    EXPECT_EQ(capture({"--settings-folder", "config", "--audio-setup", "open;card=Default;ok"}).status, 1);
    EXPECT_TRUE(capture({"--settings-folder", "config"}).sound);
    // Forgetting it is deleting the file.
    EXPECT_EQ(capture({"--settings-folder", "config", "--audio-setup", "open;preset=No Sound;ok"}).status, 1);
    fs::remove(showFolder() / "config" / "sound-setup.bin");
    EXPECT_TRUE(capture({"--settings-folder", "config"}).sound);
}

TEST_F(KeptSoundSetup, UnreadableKeptSetupIsReportedOnceAndTheDefaultsAreUsed) {
    writeBytes(showFolder() / "config" / "sound-setup.bin", std::vector<std::uint8_t>(28, 0xEE));
    const Outcome r = capture({"--settings-folder", "config", "--audio-setup", "open;cancel;open;cancel"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(r.sound);
    EXPECT_EQ(count(r.err, "cannot be read"), 1) << r.err;
    EXPECT_NE(r.err.find("morva: the sound setup kept in config/sound-setup.bin cannot be read ("),
              std::string::npos)
        << r.err;
    EXPECT_NE(
        r.err.find("); the default sound setup is used (confirm a setup with OK to replace the file, or "
                   "delete it)\n"),
        std::string::npos)
        << r.err;
}

TEST_F(KeptSoundSetup, SetupThatCannotBeKeptIsSaidAndHoldsForTheRun) {
    writeBytes(showFolder() / "notafolder", {1});
    const Outcome r =
        capture({"--settings-folder", "notafolder/config", "--audio-setup", "open;preset=No Sound;ok"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_FALSE(r.sound);
    EXPECT_NE(r.err.find("morva: cannot keep the sound setup: the folder notafolder/config cannot be made ("),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("); it holds for this run only\n"), std::string::npos) << r.err;
}

// Recordings repeat: a user's kept setup is neither read nor written without --settings-folder.
TEST_F(KeptSoundSetup, TheCaptureLeavesAUsersKeptSetupAlone) {
    const fs::path user = root / "user-config";
    writeBytes(user / "morva" / "sound-setup.bin", {0x44, 0xAC, 0,   0, 10, 0, 0, 0, 0, 0, 0, 0, 0xF4, 1,
                                                    0,    0,    100, 0, 0,  0, 2, 0, 0, 0, 0, 0, 0,    0});
    const std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + user.string(),
                                                  "HOME=" + (root / "home").string()};
    const Outcome r = capture({}, environment);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(r.sound) << "the capture took the user's \"No Sound\"";
    const Outcome confirming = capture({"--audio-setup", "open;preset=&High;ok"}, environment);
    EXPECT_EQ(confirming.status, 1) << confirming.err;
    EXPECT_EQ(fs::file_size(user / "morva" / "sound-setup.bin"), 28u);
    EXPECT_EQ(readFile(user / "morva" / "sound-setup.bin").substr(0, 2), std::string("\x44\xAC", 2));
    EXPECT_FALSE(fs::exists(root / "home"));
}
