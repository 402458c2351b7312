#include "sound/api/errors.h"
#include "sound/sys/file.h"
#include "sound/sys/mmem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("morva_file_test_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        blocks = mem_blocks_in_use();
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        EXPECT_EQ(mem_blocks_in_use(), blocks) << "file records left allocated";
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string make(const std::string& name, const std::string& contents) const {
        std::ofstream(path(name), std::ios::binary) << contents;
        return path(name);
    }

    std::filesystem::path dir;
    long blocks = 0;
};

} // namespace

TEST(FileErrorMapping, HostErrorsBecomeLibraryCodes) {
    EXPECT_EQ(rawf_map_host_error(0), errOK);
    EXPECT_EQ(rawf_map_host_error(ENOENT), errFileNotFound);
    EXPECT_EQ(rawf_map_host_error(EMFILE), errTooManyFiles);
    EXPECT_EQ(rawf_map_host_error(ENFILE), errTooManyFiles);
    EXPECT_EQ(rawf_map_host_error(EACCES), errAccessDenied);
    EXPECT_EQ(rawf_map_host_error(EPERM), errAccessDenied);
    EXPECT_EQ(rawf_map_host_error(EBADF), errInvalidFileHandle);
    EXPECT_EQ(rawf_map_host_error(ENOMEM), errOutOfMemory);
    EXPECT_EQ(rawf_map_host_error(ENOTDIR), errInvalidPath);
    EXPECT_EQ(rawf_map_host_error(EISDIR), errInvalidPath);
    EXPECT_EQ(rawf_map_host_error(ENAMETOOLONG), errInvalidPath);
    EXPECT_EQ(rawf_map_host_error(ENODEV), errInvalidPath);
    EXPECT_EQ(rawf_map_host_error(EIO), errFileRead);
    EXPECT_EQ(rawf_map_host_error(ESPIPE), errFileRead);
    EXPECT_EQ(rawf_map_host_error(ENOSPC), errDiskFull);
    EXPECT_EQ(rawf_map_host_error(EEXIST), errFileExists);
    EXPECT_EQ(rawf_map_host_error(EBUSY), errFileOpen);
    EXPECT_EQ(rawf_map_host_error(EFBIG), errFileWrite);
    EXPECT_EQ(rawf_map_host_error(EINVAL), errUndefined);
    EXPECT_EQ(rawf_map_host_error(EPIPE), errUndefined);
}

TEST_F(FileLayer, OpenFailuresAreMapped) {
    FileHandle* handle = nullptr;
    EXPECT_EQ(file_open(path("missing").c_str(), fileRead, &handle), errFileNotFound);
    EXPECT_EQ(file_open(path("no/such/dir/file").c_str(), fileWrite, &handle), errFileNotFound);
    std::string plain = make("plain", "x");
    EXPECT_EQ(file_open((plain + "/below").c_str(), fileRead, &handle), errInvalidPath);
    EXPECT_EQ(file_open(dir.string().c_str(), fileRead, &handle), errInvalidPath) << "a directory is no file";
    EXPECT_EQ(handle, nullptr);
}

TEST_F(FileLayer, ModeAndOriginOutsideTheirRangesAreInvalidArguments) {
    std::string name = make("data", "0123456789");
    FileHandle* handle = nullptr;
    EXPECT_EQ(file_open(name.c_str(), 0, &handle), errInvalidArguments);
    EXPECT_EQ(file_open(name.c_str(), 4, &handle), errInvalidArguments);
    ASSERT_EQ(file_open(name.c_str(), fileRead, &handle), errOK);
    EXPECT_EQ(file_seek(handle, 0, 0), errInvalidArguments);
    EXPECT_EQ(file_seek(handle, 0, 4), errInvalidArguments);
    EXPECT_EQ(file_close(handle), errOK);
}

TEST_F(FileLayer, AccessDeniedWhenPermissionsForbid) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    std::string name = make("locked", "secret");
    ::chmod(name.c_str(), 0);
    FileHandle* handle = nullptr;
    EXPECT_EQ(file_open(name.c_str(), fileRead, &handle), errAccessDenied);
}

TEST_F(FileLayer, ReadingPastTheEndIsUnexpectedEndOfFileNotReadError) {
    std::string name = make("short", "abcde");
    FileHandle* handle = nullptr;
    ASSERT_EQ(file_open(name.c_str(), fileRead, &handle), errOK);
    char buffer[8] = {};
    EXPECT_EQ(file_read(handle, buffer, 3), errOK);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(file_read(handle, buffer, 3), errEndOfFile);
    EXPECT_EQ(file_read(handle, buffer, 1), errEndOfFile);
    EXPECT_EQ(file_close(handle), errOK);
}

TEST_F(FileLayer, SeekTellAndSizeFromEachOrigin) {
    std::string name = make("digits", "0123456789");
    FileHandle* handle = nullptr;
    ASSERT_EQ(file_open(name.c_str(), fileRead, &handle), errOK);
    std::int64_t position = -1, size = -1;
    ASSERT_EQ(file_seek(handle, 4, seekStart), errOK);
    ASSERT_EQ(file_seek(handle, 2, seekCurrent), errOK);
    ASSERT_EQ(file_tell(handle, &position), errOK);
    EXPECT_EQ(position, 6);
    ASSERT_EQ(file_size(handle, &size), errOK);
    EXPECT_EQ(size, 10);
    ASSERT_EQ(file_tell(handle, &position), errOK);
    EXPECT_EQ(position, 6) << "file_size leaves the position where it was";
    ASSERT_EQ(file_seek(handle, -3, seekEnd), errOK);
    char c = 0;
    ASSERT_EQ(file_read(handle, &c, 1), errOK);
    EXPECT_EQ(c, '7');
    EXPECT_NE(file_seek(handle, -100, seekCurrent), errOK) << "no position before the start";
    ASSERT_EQ(file_seek(handle, 100, seekStart), errOK) << "beyond the end is allowed";
    EXPECT_EQ(file_read(handle, &c, 1), errEndOfFile);
    EXPECT_EQ(file_close(handle), errOK);
}

TEST_F(FileLayer, WriteCreatesAndReadWriteUpdatesInPlace) {
    std::string name = path("new");
    FileHandle* handle = nullptr;
    ASSERT_EQ(file_open(name.c_str(), fileWrite, &handle), errOK);
    ASSERT_EQ(file_write(handle, "hello world", 11), errOK);
    char c;
    EXPECT_EQ(file_read(handle, &c, 1), errAccessDenied) << "write mode does not read";
    ASSERT_EQ(file_close(handle), errOK);

    ASSERT_EQ(file_open(name.c_str(), fileReadWrite, &handle), errOK);
    ASSERT_EQ(file_seek(handle, 6, seekStart), errOK);
    ASSERT_EQ(file_write(handle, "there", 5), errOK);
    ASSERT_EQ(file_seek(handle, 0, seekStart), errOK);
    char buffer[11];
    ASSERT_EQ(file_read(handle, buffer, 11), errOK);
    EXPECT_EQ(std::string(buffer, 11), "hello there");
    ASSERT_EQ(file_close(handle), errOK);

    ASSERT_EQ(file_open(name.c_str(), fileRead, &handle), errOK);
    EXPECT_EQ(file_write(handle, "x", 1), errAccessDenied) << "read mode does not write";
    ASSERT_EQ(file_close(handle), errOK);
}

TEST_F(FileLayer, NullHandleIsInvalidFileHandle) {
    char c;
    std::int64_t position;
    EXPECT_EQ(file_read(nullptr, &c, 1), errInvalidFileHandle);
    EXPECT_EQ(file_write(nullptr, &c, 1), errInvalidFileHandle);
    EXPECT_EQ(file_seek(nullptr, 0, seekStart), errInvalidFileHandle);
    EXPECT_EQ(file_tell(nullptr, &position), errInvalidFileHandle);
    EXPECT_EQ(file_close(nullptr), errInvalidFileHandle);
}

TEST_F(FileLayer, ExistsClearsTheFlagOnlyWhenTheFileCannotBeRead) {
    std::string name = make("present", "1");
    int exists = 7;
    EXPECT_EQ(file_exists(name.c_str(), &exists), errOK);
    EXPECT_EQ(exists, 7) << "left as the caller set it";
    EXPECT_EQ(file_exists(path("absent").c_str(), &exists), errOK);
    EXPECT_EQ(exists, 0);
}
