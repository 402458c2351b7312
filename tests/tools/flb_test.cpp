// End-to-end tests of the flb command: runs build/bin/flb in a scratch folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(const fs::path& path) {
    Bytes b = readFile(path);
    return std::string(b.begin(), b.end());
}

Bytes pattern(std::size_t size, unsigned seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<unsigned char>((i * 37 + seed * 101) & 0xFF);
    return out;
}

std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct FlbResult {
    int status;
    std::string out;
    std::string err;
};

class FlbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        flb = fs::path(MORVA_BINARY_DIR) / "bin" / "flb";
        ASSERT_TRUE(fs::exists(flb)) << flb << " is built with the tools";
        char pattern[] = "/tmp/flb-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    // Runs flb with args in folder/where and returns its exit status and output.
    FlbResult flbIn(const std::string& where, const std::vector<std::string>& args) {
        fs::path dir = folder / where;
        std::string command = "cd " + quote(dir.string()) + " && " + quote(flb.string());
        for (const std::string& a : args)
            command += " " + quote(a);
        command += " >" + quote((folder / "out.txt").string()) + " 2>" + quote((folder / "err.txt").string());
        int raw = std::system(command.c_str());
        FlbResult run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(folder / "out.txt"),
                      readText(folder / "err.txt")};
        fs::remove(folder / "out.txt");
        fs::remove(folder / "err.txt");
        return run;
    }
    FlbResult flbRun(const std::vector<std::string>& args) { return flbIn(".", args); }

    // Files in the folder other than the given ones: leftovers of an interrupted write.
    std::vector<std::string> strayFiles(const std::vector<std::string>& expected) {
        std::vector<std::string> stray;
        for (const auto& e : fs::directory_iterator(folder)) {
            std::string name = e.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) stray.push_back(name);
        }
        return stray;
    }

    fs::path flb;
    fs::path folder;
};

TEST_F(FlbTest, CreateListAndExtractRoundTrip) {
    fs::create_directory(folder / "src");
    writeFile(folder / "src" / "a.raw", {'x', 'y', 'z'});
    const Bytes big = pattern(5000, 1);
    writeFile(folder / "src" / "fluteboy.dat", big);

    FlbResult created = flbRun({"create", "show.flb", "src/a.raw", "src/fluteboy.dat"});
    EXPECT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(created.err, "");
    const Bytes archive = readFile(folder / "show.flb");
    ASSERT_EQ(archive.size(), 10u + 21 + 3 + 21 + 5000);
    // Entry names are the base names; the first entry has the documented 34-byte layout.
    Bytes head = {0x7A, 0x79, 0x6E, 0x53, 0x46, 0x4C, 0x62, 0x1A, 0x02, 0x00};
    head.insert(head.end(), {'a', '.', 'r', 'a', 'w', 0, 0, 0, 0, 0, 0, 0, 0});
    head.insert(head.end(), {0x03, 0, 0, 0, 0x1F, 0, 0, 0, 'x', 'y', 'z'});
    ASSERT_EQ(head.size(), 34u);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), archive.begin()));

    FlbResult listed = flbRun({"list", "show.flb"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "a.raw                 3         31\n"
                          "fluteboy.dat       5000         55\n");

    fs::create_directory(folder / "out");
    FlbResult extracted = flbIn("out", {"extract", "../show.flb", "fluteboy.dat", "a.raw"});
    EXPECT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(readFile(folder / "out" / "fluteboy.dat"), big);
    EXPECT_EQ(readFile(folder / "out" / "a.raw"), (Bytes{'x', 'y', 'z'}));
}

TEST_F(FlbTest, CreateWithoutFilesThenAddAppends) {
    ASSERT_EQ(flbRun({"create", "lib.flb"}).status, 0);
    EXPECT_EQ(fs::file_size(folder / "lib.flb"), 10u);
    writeFile(folder / "one", pattern(4, 1));
    writeFile(folder / "two", pattern(2, 2));
    ASSERT_EQ(flbRun({"add", "lib.flb", "one"}).status, 0);
    ASSERT_EQ(flbRun({"add", "lib.flb", "two"}).status, 0);
    EXPECT_EQ(flbRun({"list", "lib.flb"}).out, "one                   4         31\n"
                                               "two                   2         56\n");
    EXPECT_EQ(strayFiles({"lib.flb", "one", "two"}), std::vector<std::string>{});
}

TEST_F(FlbTest, MissingOrForeignArchivesAreClearErrors) {
    writeFile(folder / "a.raw", {1});
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"list", "nothere.flb"}, {"extract", "nothere.flb", "a.raw"}, {"add", "nothere.flb", "a.raw"}}) {
        FlbResult run = flbRun(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_NE(run.err.find("cannot open nothere.flb"), std::string::npos) << run.err;
    }
    writeFile(folder / "text.flb", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'});
    FlbResult foreign = flbRun({"list", "text.flb"});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.err.find("not a file library"), std::string::npos) << foreign.err;
    EXPECT_EQ(foreign.out, "");
}

TEST_F(FlbTest, FolderInPlaceOfAnArchiveIsNamedAsSuch) {
    fs::create_directory(folder / "dir.flb");
    writeFile(folder / "a.raw", {1});
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"list", "dir.flb"}, {"extract", "dir.flb", "a.raw"}, {"add", "dir.flb", "a.raw"}}) {
        FlbResult run = flbRun(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_NE(run.err.find("cannot open dir.flb: not a regular file"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(fs::is_directory(folder / "dir.flb"));
}

TEST_F(FlbTest, DamagedArchiveIsReportedAfterTheGoodEntries) {
    writeFile(folder / "a.raw", pattern(8, 1));
    writeFile(folder / "b.raw", pattern(800, 2));
    ASSERT_EQ(flbRun({"create", "lib.flb", "a.raw", "b.raw"}).status, 0);
    fs::resize_file(folder / "lib.flb", 10 + 21 + 8 + 21 + 100); // cut inside b.raw's data

    FlbResult listed = flbRun({"list", "lib.flb"});
    EXPECT_EQ(listed.status, 1);
    EXPECT_EQ(listed.out, "a.raw                 8         31\n");
    EXPECT_NE(listed.err.find("lib.flb: damaged"), std::string::npos) << listed.err;
    EXPECT_EQ(flbRun({"extract", "lib.flb", "a.raw"}).status, 1);
    EXPECT_EQ(flbRun({"add", "lib.flb", "a.raw"}).status, 1);

    // A header that claims more entries than there are.
    Bytes header = readFile(folder / "lib.flb");
    header.resize(10);
    header[8] = 5;
    writeFile(folder / "count.flb", header);
    FlbResult counted = flbRun({"list", "count.flb"});
    EXPECT_EQ(counted.status, 1);
    EXPECT_NE(counted.err.find("damaged"), std::string::npos) << counted.err;
}

TEST_F(FlbTest, ListShowsControlBytesOfStoredNamesEscaped) {
    writeFile(folder / "ab.raw", pattern(8, 1));
    ASSERT_EQ(flbRun({"create", "lib.flb", "ab.raw"}).status, 0);
    Bytes archive = readFile(folder / "lib.flb");
    archive[10 + 1] = 0x1B; // "a\x1B.raw": an escape sequence hidden in a crafted name
    writeFile(folder / "lib.flb", archive);

    FlbResult listed = flbRun({"list", "lib.flb"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out.find('\x1B'), std::string::npos);
    EXPECT_NE(listed.out.find("a\\x1B.raw"), std::string::npos) << listed.out;
}

TEST_F(FlbTest, FailedAddsLeaveTheArchiveUntouched) {
    writeFile(folder / "a.raw", pattern(30, 1));
    writeFile(folder / "b.raw", pattern(30, 2));
    writeFile(folder / "averylongname.raw", pattern(3, 3));
    fs::create_directory(folder / "dir");
    fs::create_directory(folder / "other");
    writeFile(folder / "other" / "a.raw", pattern(5, 4));
    ASSERT_EQ(flbRun({"create", "lib.flb", "a.raw"}).status, 0);
    const Bytes before = readFile(folder / "lib.flb");

    struct Case {
        std::vector<std::string> files;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"missing.raw"}, "cannot add missing.raw"},
        {{"b.raw", "missing.raw"}, "cannot add missing.raw"}, // all or nothing
        {{"averylongname.raw"}, "longer than 12 characters"},
        {{"dir"}, "not a regular file"},
        {{"other/a.raw"}, "already has an entry named \"a.raw\""},
        {{"b.raw", "b.raw"}, "also the name of b.raw"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"add", "lib.flb"};
        args.insert(args.end(), c.files.begin(), c.files.end());
        FlbResult run = flbRun(args);
        EXPECT_EQ(run.status, 1) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(readFile(folder / "lib.flb"), before) << c.message;
    }
    EXPECT_EQ(strayFiles({"lib.flb", "a.raw", "b.raw", "averylongname.raw", "dir", "other"}),
              std::vector<std::string>{});

    // Bytes after the last entry would hide anything appended behind them.
    Bytes trailing = before;
    trailing.push_back(0);
    writeFile(folder / "lib.flb", trailing);
    FlbResult refused = flbRun({"add", "lib.flb", "b.raw"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(readFile(folder / "lib.flb"), trailing);
    FlbResult listed = flbRun({"list", "lib.flb"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.err.find("warning"), std::string::npos);
}

TEST_F(FlbTest, FailedCreateKeepsAnExistingArchive) {
    writeFile(folder / "a.raw", pattern(3, 1));
    ASSERT_EQ(flbRun({"create", "lib.flb", "a.raw"}).status, 0);
    const Bytes before = readFile(folder / "lib.flb");
    FlbResult run = flbRun({"create", "lib.flb", "a.raw", "gone.raw"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(folder / "lib.flb"), before);
    FlbResult longName = flbRun({"create", "new.flb", "thirteen.char"});
    EXPECT_EQ(longName.status, 1);
    EXPECT_FALSE(fs::exists(folder / "new.flb"));
    EXPECT_EQ(strayFiles({"lib.flb", "a.raw"}), std::vector<std::string>{});
}

TEST_F(FlbTest, ExtractReportsMissingAndUnsafeNamesButExtractsTheRest) {
    writeFile(folder / "a.raw", pattern(3, 1));
    ASSERT_EQ(flbRun({"create", "lib.flb", "a.raw"}).status, 0);
    fs::create_directory(folder / "out");
    FlbResult run = flbIn("out", {"extract", "../lib.flb", "nope.raw", "../a.raw", "abcdefghijklm", "a.raw"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no entry named \"nope.raw\""), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\"../a.raw\": not a name"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("at most 12 characters"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(folder / "out" / "a.raw"), pattern(3, 1));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "out"), {}), 1);
}

TEST_F(FlbTest, ExtractingAnEntryNamedLikeTheArchiveSaysWhyItIsNotWritten) {
    writeFile(folder / "x.flb", pattern(5, 3));
    fs::create_directory(folder / "src");
    ASSERT_EQ(flbRun({"create", "src/lib.flb", "x.flb"}).status, 0);
    fs::rename(folder / "src" / "lib.flb", folder / "x.flb");
    const Bytes archive = readFile(folder / "x.flb");
    FlbResult run = flbRun({"extract", "x.flb", "x.flb"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("x.flb is the archive itself"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(folder / "x.flb"), archive);
}

TEST_F(FlbTest, BadArgumentsPrintUsage) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"list"},
                                               {"frobnicate", "x.flb"},
                                               {"add", "x.flb"},
                                               {"extract", "x.flb"},
                                               {"list", "x.flb", "y"}}) {
        FlbResult run = flbRun(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err.rfind("usage: flb create ARCHIVE", 0), 0u) << run.err;
    }
    FlbResult help = flbRun({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("flb list ARCHIVE"), std::string::npos);
}

} // namespace
