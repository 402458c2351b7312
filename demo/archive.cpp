// The archive as the show reads it: checked whole once it is open, before anything is shown
// (every entry of its directory inside the file, every entry the parts read there and long
// enough), and each part's load checked again as it is made. A damaged archive so ends the show
// with "Error loading filelib!" and a cause line that names the entry and what is wrong with it,
// rather than playing the whole show black.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>

#include "demo/demo.h"
#include "effects/opening.h"
#include "effects/tunnel.h"
#include "effects/water.h"
#include "sound/api/soundapi.h"

namespace {

// The items of the three parts, in the order the show reads them.
constexpr std::span<const ArchiveItem> partItems[] = {openingItems, creditsItems, tunnelItems};

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// Why an item could not be read, from libraryLoadWhole's result and the entry's size.
std::string itemProblem(int result, const ArchiveItem& item, std::uint32_t entrySize, int error) {
    switch (result) {
    case libraryNoEntry: return formatted("it has no entry \"%s\", which the show reads", item.name);
    case libraryEntryShort:
        return formatted("its entry \"%s\" holds %lu bytes, but the show reads %zu from it", item.name,
                         static_cast<unsigned long>(entrySize), 2 * item.count);
    case libraryReadFailed:
        return formatted("its entry \"%s\" could not be read (%s)", item.name,
                         error ? std::strerror(error) : "the file ended before the entry's data did");
    default: return {};
    }
}

} // namespace

std::string archiveProblem(FileLibrary* archive) {
    LibraryFault fault{};
    const int result = libraryCheck(archive, nullptr, nullptr, &fault);
    if (result != libraryOk && result != libraryTrailingData) {
        char text[256];
        libraryFaultText(fault, text, sizeof text);
        return text;
    }
    for (const std::span<const ArchiveItem> items : partItems)
        for (const ArchiveItem& item : items) {
            FileLibraryEntry entry;
            if (!libraryFindEntry(archive, item.name, &entry)) return itemProblem(libraryNoEntry, item, 0, 0);
            if (entry.size / 2 < item.count) return itemProblem(libraryEntryShort, item, entry.size, 0);
        }
    return {};
}

std::string archiveAdvice(const char* fileName) {
    return formatted(
        "the build makes the show's data: delete %s and build again (make build) for a fresh copy", fileName);
}

void loadArchiveItem(const ArchiveItem& item, std::uint16_t* destination) {
    std::uint32_t entrySize = 0;
    errno = 0;
    const int result =
        library ? libraryLoadWhole(library, item.name, destination, item.count, &entrySize) : libraryNoEntry;
    if (result == libraryLoaded) return;
    // Checked when it was opened, so the file has changed or failed since.
    const std::string problem = itemProblem(result, item, entrySize, errno);
    reportCause("the archive \"%s\" in %s can no longer be read whole: %s; %s", demoSettings.libraryFile,
                currentFolder().c_str(), problem.c_str(), archiveAdvice(demoSettings.libraryFile).c_str());
    sound_stop_module(song);
    closeShow();
    messageBox(0, "Error loading filelib!", nullptr);
    exitProcess(1);
}
