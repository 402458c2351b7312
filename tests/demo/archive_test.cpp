// A damaged archive stops the show before the display is set up: "Error loading filelib!", a
// cause line naming the entry and what is wrong with it, exit code 1. Checked on made-up
// archives in the show's own main routine on the headless back end, in morva-capture, and in
// the check and the parts' loads on their own.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture_run.h"
#include "demo/demo.h"
#include "platform/headless.h"
#include "show_folder.h"

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The ways an archive is found damaged, each made from a good stand-in archive.
enum class Damage {
    none,
    emptied,       // ": > morva.flb"
    cutTo1000,     // the file cut to 1,000 bytes, inside the first entry
    garbledMagic,  // the signature overwritten
    garbledCount,  // the header announces more entries than the file holds
    garbledSize,   // an entry's size runs far past the end of the file
    garbledOffset, // an entry's data offset does not match its place
    missingEntry,  // "p1_morva.raw" left out
    shortEntry,    // "p3_zynlg.raw" a few bytes too short
};

// A folder of the build tree (the same for a death test's parent and child), fresh when made.
fs::path testFolder(const std::string& name) {
    const fs::path folder = fs::path(MORVA_BINARY_DIR) / "test-work" / "archive" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::string bytesOf(const fs::path& file) {
    return readFile(file);
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void putLe32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Writes the archive of folder with the damage asked for.
void writeArchive(const fs::path& folder, Damage damage) {
    const fs::path file = folder / "morva.flb";
    ASSERT_TRUE(writeStandInArchive(file, damage == Damage::missingEntry ? "p1_morva.raw" : ""));
    std::string bytes = bytesOf(file);
    // The stand-in's first entry, "p1_warn.raw", has its header at byte 10; the second at
    // 10 + 21 + 128,000.
    const std::size_t second = 10 + 21 + 2 * warningItem.count;
    switch (damage) {
    case Damage::none:
    case Damage::missingEntry: return;
    case Damage::emptied: bytes.clear(); break;
    case Damage::cutTo1000: bytes.resize(1000); break;
    case Damage::garbledMagic: bytes.replace(0, 8, "GARBAGE!"); break;
    case Damage::garbledCount: bytes[9] = 0x01; break; // 14 + 256 entries
    case Damage::garbledSize: putLe32(bytes, second + 13, 0x00F00000); break;
    case Damage::garbledOffset: putLe32(bytes, second + 17, 12345); break;
    case Damage::shortEntry: {
        // Rebuilt with the last entry (the logo) six bytes short.
        ASSERT_EQ(std::string(tunnelItems.back().name), "p3_zynlg.raw");
        const std::size_t logoHeader = bytes.size() - 21 - 2 * groupLogoItem.count;
        putLe32(bytes, logoHeader + 13, static_cast<std::uint32_t>(2 * groupLogoItem.count - 6));
        bytes.resize(bytes.size() - 6);
        break;
    }
    }
    writeBytes(file, bytes);
}

// A folder ready to run the show in: the archive with its damage and two short modules.
fs::path showFolder(const std::string& name, Damage damage) {
    const fs::path folder = testFolder(name);
    writeArchive(folder, damage);
    writeShortModule(folder / "mopart1.xm", 6);
    writeShortModule(folder / "mopart2.xm", 15);
    return folder;
}

// The show's main routine on the headless back end in folder, with every event of the recording
// written to standard error as "event KIND DETAIL", for a death test to look at; the process
// then ends with the show's exit code, as morva's does.
[[noreturn]] void runShowIn(const fs::path& folder) {
    if (chdir(folder.c_str()) != 0) std::_Exit(99);
    HeadlessOptions options;
    options.modes = headlessAllModes();
    options.script = {"GO!"};
    HeadlessRecorder recorder{};
    recorder.event = [](void*, std::int64_t, const char* kind, const char* detail) {
        std::fprintf(stderr, "event %s %s\n", kind, detail);
    };
    recorder.mode = [](void*, std::int64_t, const SurfaceInfo& surface, int) {
        std::fprintf(stderr, "event mode %dx%dx%d\n", surface.width, surface.height, surface.bits);
    };
    headlessConfigure(options, recorder);
    platformInit(headlessBackend());
    exitProcess(demoMain());
}

// What a user sees of a damaged archive: the message box, and the cause line naming the file,
// the folder and what is wrong.
auto damagedArchiveSaid(const fs::path& folder, const std::string& what) {
    return AllOf(HasSubstr("event messagebox |Error loading filelib!\n"),
                 HasSubstr("morva: the archive \"morva.flb\" in " + folder.string() + " is damaged: " + what +
                           "; the build makes the show's data: delete morva.flb and build again (make build) "
                           "for a fresh copy\n"),
                 // before the display was set up: no mode, no frame
                 Not(HasSubstr("event mode ")), Not(HasSubstr("event present ")));
}

// The check on its own, on the archive of a folder.
std::string problemOf(const fs::path& folder) {
    FileLibrary archive{};
    libraryOpenReadOnly(&archive, (folder / "morva.flb").c_str(), 0);
    if (!archive.stream) return "cannot open";
    const std::string problem = archiveProblem(&archive);
    libraryClose(&archive);
    return problem;
}

using DamageCase = std::pair<const char*, Damage>;

std::string damageName(const ::testing::TestParamInfo<DamageCase>& test) {
    return test.param.first;
}

} // namespace

TEST(ArchiveCheck, AStandInWithEveryEntryWholePassesAndBytesAfterItAreNoObstacle) {
    const fs::path folder = testFolder("check-good");
    writeArchive(folder, Damage::none);
    EXPECT_EQ(problemOf(folder), "");
    std::ofstream(folder / "morva.flb", std::ios::binary | std::ios::app) << "appended";
    EXPECT_EQ(problemOf(folder), "");
    fs::remove_all(folder);
}

TEST(ArchiveCheck, NamesTheEntryAndWhatIsWrongWithIt) {
    const std::size_t second = 10 + 21 + 2 * warningItem.count;
    const struct {
        Damage damage;
        std::string said;
    } cases[] = {
        {Damage::emptied, "the file has 0 bytes, too few for the 10-byte header of a file library"},
        {Damage::cutTo1000,
         "entry 1 of 14, \"p1_warn.raw\", runs past the end of the file: its data would end "
         "at byte 128031, and the file has 1000 bytes"},
        {Damage::garbledMagic,
         "its first bytes are not the signature \"zynSFLb\" of a file library (it is not "
         "one, or its header is garbled)"},
        {Damage::garbledCount, "its header announces 270 entries, but the file ends after entry 14"},
        {Damage::garbledSize, "entry 2 of 14, \"p1_pres.raw\", runs past the end of the file: its data would "
                              "end at byte " +
                                  std::to_string(second + 21 + 0x00F00000) + ", and the file has "},
        {Damage::garbledOffset,
         "entry 2 of 14, \"p1_pres.raw\", gives its data offset as 12345, but its data "
         "follows its header at offset " +
             std::to_string(second + 21) + " (the directory is garbled)"},
        {Damage::missingEntry, "it has no entry \"p1_morva.raw\", which the show reads"},
        {Damage::shortEntry,
         "its entry \"p3_zynlg.raw\" holds 46634 bytes, but the show reads 46640 from it"},
    };
    for (const auto& c : cases) {
        const fs::path folder = testFolder("check");
        writeArchive(folder, c.damage);
        EXPECT_THAT(problemOf(folder), HasSubstr(c.said)) << static_cast<int>(c.damage);
        fs::remove_all(folder);
    }
}

// The show itself: its main routine, from the configuration window to the archive.
class DamagedArchiveDeathTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedArchiveDeathTest, StopsTheShowBeforeTheDisplayWithTheMessageAndItsCause) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto [name, damage] = GetParam();
    const fs::path folder = showFolder(std::string("show-") + name, damage);
    const std::string what = [&] {
        const std::string problem = problemOf(folder);
        return problem.empty() ? std::string("(no damage found)") : problem;
    }();
    EXPECT_EXIT(runShowIn(folder), ::testing::ExitedWithCode(1), damagedArchiveSaid(folder, what));
    EXPECT_NE(what, "(no damage found)");
    fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Archive, DamagedArchiveDeathTest,
                         ::testing::Values(std::pair{"Emptied", Damage::emptied},
                                           std::pair{"CutTo1000", Damage::cutTo1000},
                                           std::pair{"GarbledMagic", Damage::garbledMagic},
                                           std::pair{"GarbledCount", Damage::garbledCount},
                                           std::pair{"GarbledSize", Damage::garbledSize},
                                           std::pair{"GarbledOffset", Damage::garbledOffset},
                                           std::pair{"MissingEntry", Damage::missingEntry},
                                           std::pair{"ShortEntry", Damage::shortEntry}),
                         damageName);

TEST(ArchiveDeathTest, AGoodStandInPlaysTheShowToItsEnd) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path folder = showFolder("show-good", Damage::none);
    EXPECT_EXIT(runShowIn(folder), ::testing::ExitedWithCode(1),
                AllOf(HasSubstr("event log Loading data... \n"), HasSubstr("event mode "),
                      HasSubstr("event present "), Not(HasSubstr("event messagebox"))));
    fs::remove_all(folder);
}

TEST(ArchiveDeathTest, APartsLoadThatCannotBeReadWholeEndsTheShowWithTheArchivesError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Checked when it was opened; here the entry has gone since.
    const fs::path folder = testFolder("load-missing");
    writeArchive(folder, Damage::missingEntry);
    EXPECT_EXIT(
        {
            if (chdir(folder.c_str()) != 0) std::_Exit(99);
            HeadlessOptions options;
            HeadlessRecorder recorder{};
            recorder.event = [](void*, std::int64_t, const char* kind, const char* detail) {
                std::fprintf(stderr, "event %s %s\n", kind, detail);
            };
            headlessConfigure(options, recorder);
            platformInit(headlessBackend());
            // As far as the show gets before its parts: sound started, the archive open.
            sound_startup();
            sound_set_option(optForceNoSound, 1);
            sound_init();
            demoSettings = defaultSettings();
            library = new FileLibrary{};
            libraryOpen(library, "morva.flb", 0, 0);
            std::vector<std::uint16_t> title(titleItem.count);
            loadArchiveItem(titleItem, title.data());
        },
        ::testing::ExitedWithCode(1),
        AllOf(HasSubstr(
                  "morva: the archive \"morva.flb\" in " + folder.string() +
                  " can no longer be read whole: it has no entry \"p1_morva.raw\", which the show reads; "),
              HasSubstr("event messagebox |Error loading filelib!\n")));
    fs::remove_all(folder);
}

// The capture runs the same routine; its recording shows the same stop.
class DamagedArchiveCapture : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedArchiveCapture, EndsAtOnceWithTheMessageTheCauseAndExitCodeOne) {
    if (!fs::exists(captureProgram)) GTEST_FAIL() << captureProgram << " is not built";
    const auto [name, damage] = GetParam();
    const fs::path folder = showFolder(std::string("capture-") + name, damage);
    const std::string what = problemOf(folder);
    ASSERT_NE(what, "");
    EXPECT_EQ(runCapture(folder, {"--out", "out"}, folder / "errors.txt"), 1);
    const std::string events = readFile(folder / "out" / "events.tsv");
    EXPECT_THAT(events, HasSubstr("\tmessagebox\t|Error loading filelib!\n"));
    EXPECT_THAT(events, Not(HasSubstr("\tmode\t")));
    EXPECT_THAT(events, Not(HasSubstr("\tpresent\t")));
    EXPECT_THAT(events, Not(HasSubstr("\tlog\tLoading data")));
    EXPECT_THAT(events, HasSubstr("\texit\t1\n"));
    EXPECT_THAT(readFile(folder / "errors.txt"), HasSubstr("morva: the archive \"morva.flb\" in " +
                                                           folder.string() + " is damaged: " + what + "; "));
    fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Archive, DamagedArchiveCapture,
                         ::testing::Values(std::pair{"Emptied", Damage::emptied},
                                           std::pair{"CutTo1000", Damage::cutTo1000},
                                           std::pair{"GarbledMagic", Damage::garbledMagic},
                                           std::pair{"GarbledSize", Damage::garbledSize},
                                           std::pair{"ShortEntry", Damage::shortEntry}),
                         damageName);
