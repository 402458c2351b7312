// flb: create, extend, list and unpack file libraries.
//
// Archives are checked in full before anything is read from them, and changes are made on a
// temporary copy next to the archive that replaces it only once complete, so a failed or
// interrupted command never leaves a half-written entry behind.
#include "filelib/filelib.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* usageText =
    "usage: flb create ARCHIVE [FILE...]   make a new archive of the files\n"
    "       flb add ARCHIVE FILE...        append files to an archive\n"
    "       flb list ARCHIVE               one line per entry: name, size, data offset\n"
    "       flb extract ARCHIVE NAME...    write entries into the current folder\n"
    "Entries are named by the file's base name, at most 12 characters.\n";

int usage() {
    std::fputs(usageText, stderr);
    return 2;
}

void fail(const std::string& message) {
    std::fprintf(stderr, "flb: %s\n", message.c_str());
}

std::string systemError() {
    return std::strerror(errno);
}

std::string baseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

struct Source {
    std::string path;
    std::string name;
};

int collectEntry(const FileLibraryEntry* entry, void* context) {
    static_cast<std::vector<FileLibraryEntry>*>(context)->push_back(*entry);
    return 0;
}

bool hasEntry(const std::vector<FileLibraryEntry>& entries, const std::string& name) {
    for (const FileLibraryEntry& e : entries)
        if (name == e.name) return true;
    return false;
}

// Checks the files to be added before the archive is touched: each must be a readable regular
// file whose base name fits an entry and is not already taken (a second entry of the same name
// could never be found).
bool checkSources(const std::vector<std::string>& paths, const std::vector<FileLibraryEntry>& existing,
                  std::vector<Source>& sources) {
    for (const std::string& path : paths) {
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            fail("cannot add " + path + ": " + systemError());
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            fail("cannot add " + path + ": not a regular file");
            return false;
        }
        if (static_cast<unsigned long long>(info.st_size) > UINT32_MAX) {
            fail("cannot add " + path + ": larger than 4 GiB, the most an entry can hold");
            return false;
        }
        if (access(path.c_str(), R_OK) != 0) {
            fail("cannot read " + path + ": " + systemError());
            return false;
        }
        std::string name = baseName(path);
        if (name.size() > libraryMaxNameLength) {
            fail("cannot add " + path + ": the name \"" + name + "\" is longer than " +
                 std::to_string(libraryMaxNameLength) + " characters, the most an entry name can hold");
            return false;
        }
        if (hasEntry(existing, name)) {
            fail("cannot add " + path + ": the archive already has an entry named \"" + name + "\"");
            return false;
        }
        for (const Source& s : sources)
            if (s.name == name) {
                fail("cannot add " + path + ": \"" + name + "\" is also the name of " + s.path);
                return false;
            }
        sources.push_back({path, name});
    }
    if (existing.size() + sources.size() > libraryMaxFiles) {
        fail("too many entries: an archive holds at most " + std::to_string(libraryMaxFiles));
        return false;
    }
    return true;
}

// Opens an archive for reading and checks it whole. Returns false (after saying why) when it
// cannot be opened or is damaged; bytes after the last entry only earn a warning unless strict.
bool openChecked(const std::string& archive, FileLibrary& library, std::vector<FileLibraryEntry>& entries,
                 bool strict) {
    libraryOpenReadOnly(&library, archive.c_str(), 0);
    if (!library.stream) {
        fail("cannot open " + archive + ": " + systemError());
        return false;
    }
    // A folder opens for reading here and would pass for a file too short to be an archive.
    struct stat info;
    if (fstat(fileno(library.stream), &info) != 0 || !S_ISREG(info.st_mode)) {
        fail("cannot open " + archive + ": not a regular file");
        libraryClose(&library);
        return false;
    }
    int result = libraryCheck(&library, collectEntry, &entries);
    if (result == libraryOk) return true;
    if (result == libraryTrailingData && !strict) {
        std::fprintf(stderr, "flb: warning: %s: %s\n", archive.c_str(), libraryCheckMessage(result));
        return true;
    }
    fail(archive + ": " + libraryCheckMessage(result));
    libraryClose(&library);
    return false;
}

// A temporary file beside target (same file system, so rename replaces target in one step).
std::string makeTemporary(const std::string& target) {
    std::string pattern = folderOf(target) + "/." + baseName(target) + ".flb-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = mkstemp(buffer.data());
    if (fd < 0) return {};
    close(fd);
    return buffer.data();
}

// Appends the sources to the library open on temporary, makes it durable and renames it over
// target. The temporary is removed on any failure.
bool finish(FileLibrary& library, const std::string& temporary, const std::string& target,
            const std::vector<Source>& sources, mode_t mode) {
    for (const Source& s : sources) {
        errno = 0;
        if (!libraryAddFileAs(&library, s.path.c_str(), s.name.c_str())) {
            fail("cannot add " + s.path + (errno ? ": " + systemError() : std::string()));
            libraryClose(&library);
            std::remove(temporary.c_str());
            return false;
        }
    }
    bool ok = std::fflush(library.stream) == 0 && !std::ferror(library.stream) &&
              fsync(fileno(library.stream)) == 0;
    if (std::fclose(library.stream) != 0) ok = false;
    library.stream = nullptr;
    if (!ok) {
        fail("cannot write " + target + ": " + systemError());
        std::remove(temporary.c_str());
        return false;
    }
    if (chmod(temporary.c_str(), mode) != 0 || std::rename(temporary.c_str(), target.c_str()) != 0) {
        fail("cannot write " + target + ": " + systemError());
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

// The real file behind a symbolic link, so that replacing it keeps the link.
std::string resolveTarget(const std::string& archive) {
    struct stat info;
    if (lstat(archive.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* real = realpath(archive.c_str(), nullptr)) {
            std::string resolved = real;
            std::free(real);
            return resolved;
        }
    }
    return archive;
}

int createArchive(const std::string& archive, const std::vector<std::string>& files) {
    std::vector<Source> sources;
    if (!checkSources(files, {}, sources)) return 1;
    std::string target = resolveTarget(archive);
    mode_t mode;
    struct stat info;
    if (stat(target.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    std::string temporary = makeTemporary(target);
    if (temporary.empty()) {
        fail("cannot create " + archive + ": " + systemError());
        return 1;
    }
    FileLibrary library;
    libraryOpen(&library, temporary.c_str(), 1, 0);
    if (!library.stream || std::ferror(library.stream)) {
        fail("cannot create " + archive + ": " + systemError());
        if (library.stream) libraryClose(&library);
        std::remove(temporary.c_str());
        return 1;
    }
    return finish(library, temporary, target, sources, mode) ? 0 : 1;
}

int addToArchive(const std::string& archive, const std::vector<std::string>& files) {
    FileLibrary original;
    std::vector<FileLibraryEntry> entries;
    if (!openChecked(archive, original, entries, true)) return 1;
    std::vector<Source> sources;
    if (!checkSources(files, entries, sources)) {
        libraryClose(&original);
        return 1;
    }
    std::string target = resolveTarget(archive);
    struct stat info;
    mode_t mode = fstat(fileno(original.stream), &info) == 0 ? (info.st_mode & 07777) : 0644;
    std::string temporary = makeTemporary(target);
    std::FILE* copy = temporary.empty() ? nullptr : std::fopen(temporary.c_str(), "wb");
    if (!copy) {
        fail("cannot write beside " + archive + ": " + systemError());
        libraryClose(&original);
        if (!temporary.empty()) std::remove(temporary.c_str());
        return 1;
    }
    // Copy the archive whole; the new entries then go onto the copy.
    std::rewind(original.stream);
    char piece[65536];
    std::size_t got;
    bool ok = true;
    while (ok && (got = std::fread(piece, 1, sizeof piece, original.stream)) > 0)
        ok = std::fwrite(piece, 1, got, copy) == got;
    ok = ok && !std::ferror(original.stream);
    if (std::fclose(copy) != 0) ok = false;
    libraryClose(&original);
    if (!ok) {
        fail("cannot copy " + archive + ": " + systemError());
        std::remove(temporary.c_str());
        return 1;
    }
    FileLibrary library;
    libraryOpen(&library, temporary.c_str(), 0, 0);
    if (!library.stream) {
        fail("cannot open " + temporary + ": " + systemError());
        std::remove(temporary.c_str());
        return 1;
    }
    return finish(library, temporary, target, sources, mode) ? 0 : 1;
}

// A stored name as it may be shown on a terminal: bytes that are not printable
// ASCII appear as \xNN, so a crafted archive cannot send control codes.
std::string printableName(const char* name) {
    std::string shown;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c) {
        if (*c >= 0x20 && *c < 0x7F && *c != '\\') {
            shown += static_cast<char>(*c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", *c);
            shown += escaped;
        }
    }
    return shown;
}

int listArchive(const std::string& archive) {
    FileLibrary library;
    std::vector<FileLibraryEntry> entries;
    bool ok = openChecked(archive, library, entries, false);
    // Entries before any damage are still worth seeing.
    for (const FileLibraryEntry& e : entries)
        std::printf("%-12s %10u %10u\n", printableName(e.name).c_str(), e.size, e.dataOffset);
    if (!ok) return 1;
    libraryClose(&library);
    return 0;
}

// Whether path names the file open on stream.
bool isFile(const std::string& path, std::FILE* stream) {
    struct stat target, self;
    return stat(path.c_str(), &target) == 0 && fstat(fileno(stream), &self) == 0 &&
           target.st_dev == self.st_dev && target.st_ino == self.st_ino;
}

int extractFromArchive(const std::string& archive, const std::vector<std::string>& names) {
    FileLibrary library;
    std::vector<FileLibraryEntry> entries;
    if (!openChecked(archive, library, entries, false)) return 1;
    int status = 0;
    for (const std::string& name : names) {
        if (name.size() > libraryMaxNameLength) {
            fail("\"" + name + "\": entry names are at most " + std::to_string(libraryMaxNameLength) +
                 " characters");
            status = 1;
        } else if (name.empty() || name == "." || name == ".." ||
                   name.find_first_of("/\\") != std::string::npos) {
            fail("\"" + name + "\": not a name that can be written into the current folder");
            status = 1;
        } else if (!hasEntry(entries, name)) {
            fail(archive + " has no entry named \"" + name + "\"");
            status = 1;
        } else if (isFile(name, library.stream)) {
            fail(name + " is the archive itself; it is not overwritten");
            status = 1;
        } else {
            errno = 0;
            if (!libraryExtractFile(&library, name.c_str())) {
                fail("cannot write " + name + (errno ? ": " + systemError() : std::string()));
                status = 1;
            }
        }
    }
    libraryClose(&library);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(usageText, stdout);
        return 0;
    }
    if (argc < 3) return usage();
    std::string command = argv[1];
    std::string archive = argv[2];
    std::vector<std::string> rest(argv + 3, argv + argc);
    if (command == "create") return createArchive(archive, rest);
    if (command == "add" && !rest.empty()) return addToArchive(archive, rest);
    if (command == "list" && rest.empty()) return listArchive(archive);
    if (command == "extract" && !rest.empty()) return extractFromArchive(archive, rest);
    return usage();
}
