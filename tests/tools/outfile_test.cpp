// virezplay's output files on their own: the checks of a run's outputs, and an output's way from
// a temporary file to its name (or to nothing).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "tools/virezplay/outfile.h"

namespace fs = std::filesystem;

namespace {

class OutputFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        folder =
            fs::temp_directory_path() / ("outfile-test-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::current_path(folder, folderError);
        ASSERT_FALSE(folderError);
    }
    void TearDown() override {
        fs::current_path(fs::temp_directory_path(), folderError);
        if (!HasFailure()) fs::remove_all(folder);
    }
    fs::path folder;
    std::error_code folderError;
};

void write(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::vector<std::string> names() {
    std::vector<std::string> all;
    for (const auto& entry : fs::directory_iterator("."))
        all.push_back(entry.path().filename().string());
    std::sort(all.begin(), all.end());
    return all;
}

} // namespace

TEST_F(OutputFiles, OutputIsHiddenUntilCommittedAndThenStandsWhole) {
    std::string error;
    OutputFile* out = outputOpen("song.wav", false, &error);
    ASSERT_NE(out, nullptr) << error;
    EXPECT_EQ(outputTarget(out), "song.wav");
    std::fputs("sound", outputStream(out));
    const std::vector<std::string> during = names();
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind(".song.wav.", 0), 0u) << during[0];
    EXPECT_TRUE(outputComplete(out, &error)) << error;
    EXPECT_TRUE(outputCommit(out, &error)) << error;
    EXPECT_EQ(names(), std::vector<std::string>{"song.wav"});
    EXPECT_EQ(read("song.wav"), "sound");
}

TEST_F(OutputFiles, DiscardedOutputLeavesNothingAndTheOldFileStays) {
    write("song.wav", "old");
    std::string error;
    OutputFile* out = outputOpen("song.wav", true, &error);
    ASSERT_NE(out, nullptr) << error;
    std::fputs("half of it", outputStream(out));
    outputDiscard(out);
    EXPECT_EQ(names(), std::vector<std::string>{"song.wav"});
    EXPECT_EQ(read("song.wav"), "old");
    outputDiscard(nullptr);
}

TEST_F(OutputFiles, ANotedWriteErrorFailsTheOutputWithItsReason) {
    std::string error;
    OutputFile* out = outputOpen("song.wav", false, &error);
    ASSERT_NE(out, nullptr);
    outputNoteError(out, ENOSPC);
    outputNoteError(out, EIO); // the first one counts
    EXPECT_FALSE(outputComplete(out, &error));
    EXPECT_EQ(error, "cannot write song.wav: No space left on device");
    outputDiscard(out);
    EXPECT_TRUE(names().empty());
}

// Without force a file that appeared while rendering is kept, and the output goes.
TEST_F(OutputFiles, WithoutForceAFileThatAppearedMeanwhileIsKept) {
    std::string error;
    OutputFile* out = outputOpen("song.wav", false, &error);
    ASSERT_NE(out, nullptr);
    std::fputs("new", outputStream(out));
    write("song.wav", "theirs");
    EXPECT_FALSE(outputCommit(out, &error));
    EXPECT_EQ(error, "song.wav appeared while rendering; it is kept (give --force to replace it)");
    EXPECT_EQ(names(), std::vector<std::string>{"song.wav"});
    EXPECT_EQ(read("song.wav"), "theirs");
    EXPECT_EQ(outputOpen("song.wav", false, &error), nullptr);
    EXPECT_EQ(error, "song.wav exists; give --force to replace it");
}

// A device is written where it stands: no temporary file beside it, nothing to replace.
TEST_F(OutputFiles, DevicesAreWrittenDirectly) {
    std::string error;
    OutputFile* out = outputOpen("/dev/null", false, &error);
    ASSERT_NE(out, nullptr) << error;
    std::fputs("gone", outputStream(out));
    EXPECT_TRUE(outputCommit(out, &error)) << error;
    OutputFile* full = outputOpen("/dev/full", false, &error);
    ASSERT_NE(full, nullptr) << error;
    std::fputs("no room", outputStream(full));
    EXPECT_FALSE(outputComplete(full, &error));
    EXPECT_EQ(error, "cannot write /dev/full: No space left on device");
    outputDiscard(full);
}

TEST_F(OutputFiles, TheChecksOfARunSayWhatIsWrong) {
    write("in.xm", "module");
    write("taken.wav", "old");
    fs::create_directories("sub");
    write("sub/in.xm", "module");
    using Plan = std::vector<PlannedOutput>;
    EXPECT_EQ(checkOutputs(Plan{{"in.xm", "in.wav", "WAVE file"}, {"in.xm", "in.tl", "timeline"}}, false),
              "");
    EXPECT_EQ(
        checkOutputs(Plan{{"in.xm", "-", "WAVE file"}, {"sub/in.xm", "-", "WAVE file"}}, false),
        "several files cannot go to standard output: their WAVE files would run together as one stream; give "
        "a folder (DIR/) or a name with %s");
    EXPECT_EQ(
        checkOutputs(Plan{{"in.xm", "out.wav", "WAVE file"}, {"sub/in.xm", "sub/../out.wav", "WAVE file"}},
                     false),
        "in.xm and sub/in.xm would both be written to sub/../out.wav; render them in separate runs or into "
        "names "
        "that tell them apart");
    EXPECT_EQ(checkOutputs(Plan{{"in.xm", "taken.wav", "WAVE file"}}, false),
              "taken.wav exists; give --force to replace it");
    EXPECT_EQ(checkOutputs(Plan{{"in.xm", "taken.wav", "WAVE file"}}, true), "");
    EXPECT_EQ(checkOutputs(Plan{{"in.xm", "./in.xm", "timeline"}}, true),
              "the timeline of in.xm would be written over the input in.xm");
    // Devices take any number of outputs.
    EXPECT_EQ(checkOutputs(Plan{{"in.xm", "/dev/null", "WAVE file"}, {"sub/in.xm", "/dev/null", "WAVE file"}},
                           false),
              "");
}
