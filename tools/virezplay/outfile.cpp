// virezplay's output files (see outfile.h).
#include "tools/virezplay/outfile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

struct OutputFile {
    std::string target;    // the name the output goes to
    std::string temporary; // the file written and renamed at the end; empty when writing to target
    std::FILE* stream = nullptr;
    bool owned = false; // the stream is ours to close (not standard output)
    bool force = false; // an existing file may be replaced
    bool completed = false;
    int error = 0; // the first write error noted
    int slot = -1; // its entry among the temporary files a signal removes
    std::unique_ptr<char[]> buffer{};
};

namespace {

// The temporary files a signal removes, kept where a signal handler may read them: fixed arrays,
// an entry counted only once its names are in place.
constexpr int maxTemporaries = 8;
struct Temporary {
    volatile std::sig_atomic_t used;
    char path[PATH_MAX];
    char shown[PATH_MAX];
};
Temporary temporaries[maxTemporaries];

constexpr int guardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Holds the guarded signals back while a temporary file comes into being, so that none can exist
// without its entry.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (int number : guardedSignals)
            sigaddset(&held, number);
        pthread_sigmask(SIG_BLOCK, &held, &before_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t before_{};
};

int addTemporary(const std::string& path, const std::string& shown) {
    if (path.size() >= PATH_MAX || shown.size() >= PATH_MAX) return -1;
    for (int i = 0; i < maxTemporaries; ++i) {
        Temporary& t = temporaries[i];
        if (t.used) continue;
        std::memcpy(t.path, path.c_str(), path.size() + 1);
        std::memcpy(t.shown, shown.c_str(), shown.size() + 1);
        std::atomic_signal_fence(std::memory_order_seq_cst); // the names before the mark
        t.used = 1;
        return i;
    }
    return -1;
}

void dropTemporary(OutputFile* file) {
    if (file->slot >= 0) temporaries[file->slot].used = 0;
    file->slot = -1;
}

void say(const char* text) {
    for (std::size_t left = std::strlen(text); left > 0;) {
        const ssize_t n = write(STDERR_FILENO, text, left);
        if (n <= 0) return;
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Only what a signal handler may do: remove the files, say so, and let the signal end the
// process as it would have (the handler was reset to the default on entry).
void onSignal(int number) {
    const int saved = errno;
    for (Temporary& t : temporaries) {
        if (!t.used) continue;
        unlink(t.path);
        t.used = 0;
        say("virezplay: stopped; the unfinished ");
        say(t.shown);
        say(" is removed\n");
    }
    errno = saved;
    raise(number); // delivered, by the default action, once the handler returns
}

std::string cannotWrite(const std::string& name, int error) {
    return "cannot write " + name + ": " + std::strerror(error ? error : EIO);
}

enum class Existing { none, file, special };

// What stands under a name now: nothing, a file (or a link to one, or a broken link) that
// writing would replace, or something that is written into (a device, a FIFO).
Existing existing(const std::string& name) {
    struct stat info {};
    if (stat(name.c_str(), &info) == 0)
        return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode) ? Existing::file : Existing::special;
    return lstat(name.c_str(), &info) == 0 ? Existing::file : Existing::none;
}

// One name for the places a path can be reached by: "a/../b.wav" and "./b.wav" are one file.
std::string samePlace(const std::string& name) {
    std::error_code error;
    const fs::path absolute = fs::absolute(name, error);
    if (error) return name;
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    return (error ? absolute.lexically_normal() : canonical).string();
}

} // namespace

std::string checkOutputs(const std::vector<PlannedOutput>& outputs, bool force) {
    int toStandardOutput = 0;
    for (const PlannedOutput& output : outputs)
        if (output.name == "-" && ++toStandardOutput == 2)
            return "several files cannot go to standard output: their " + output.kind +
                   "s would run together as one stream; give a folder (DIR/) or a name with %s";
    std::map<std::string, std::string> inputs; // by place: the name given
    for (const PlannedOutput& output : outputs)
        inputs.emplace(samePlace(output.input), output.input);
    std::map<std::string, const PlannedOutput*> taken; // by place
    for (const PlannedOutput& output : outputs) {
        if (output.name == "-" || existing(output.name) == Existing::special) continue;
        const std::string place = samePlace(output.name);
        if (const auto input = inputs.find(place); input != inputs.end())
            return "the " + output.kind + " of " + output.input + " would be written over the input " +
                   input->second;
        const auto [first, isNew] = taken.emplace(place, &output);
        if (!isNew) {
            const PlannedOutput& other = *first->second;
            if (other.input == output.input)
                return "the " + other.kind + " and the " + output.kind + " of " + output.input +
                       " would both be written to " + output.name;
            return other.input + " and " + output.input + " would both be written to " + output.name +
                   "; render them in separate runs or into names that tell them apart";
        }
        if (!force && existing(output.name) == Existing::file)
            return output.name + " exists; give --force to replace it";
    }
    return {};
}

OutputFile* outputOpen(const std::string& name, bool force, std::string* error) {
    auto file = std::make_unique<OutputFile>();
    file->target = name;
    file->force = force;
    if (name == "-") {
        file->stream = stdout;
        return file.release();
    }
    const Existing there = existing(name);
    if (there == Existing::file && !force) {
        *error = name + " exists; give --force to replace it";
        return nullptr;
    }
    if (there == Existing::special) {
        // Nothing to replace and nothing to leave behind: written where it stands.
        file->stream = std::fopen(name.c_str(), "wb");
        if (!file->stream) {
            *error = cannotWrite(name, errno);
            return nullptr;
        }
        file->owned = true;
    } else {
        const fs::path target(name);
        const fs::path folder = target.parent_path();
        std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
        int fd = -1;
        {
            const SignalsHeld held;
            fd = mkstemp(pattern.data());
            if (fd >= 0) file->slot = addTemporary(pattern, name);
        }
        if (fd < 0) {
            *error = cannotWrite(name, errno);
            return nullptr;
        }
        file->temporary = pattern;
        // mkstemp makes the file private; the output gets the permissions of any new file.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        file->stream = fdopen(fd, "wb");
        if (!file->stream) {
            const int reason = errno;
            close(fd);
            unlink(pattern.c_str());
            dropTemporary(file.get());
            *error = cannotWrite(name, reason);
            return nullptr;
        }
        file->owned = true;
    }
    // Renders write a few kilobytes at a time, hundreds of times a second.
    constexpr std::size_t bufferBytes = 1 << 16;
    file->buffer.reset(new (std::nothrow) char[bufferBytes]);
    if (file->buffer) std::setvbuf(file->stream, file->buffer.get(), _IOFBF, bufferBytes);
    return file.release();
}

std::FILE* outputStream(OutputFile* file) {
    return file ? file->stream : nullptr;
}

const std::string& outputTarget(const OutputFile* file) {
    return file->target;
}

void outputNoteError(OutputFile* file, int error) {
    if (file && !file->error) file->error = error ? error : EIO;
}

bool outputComplete(OutputFile* file, std::string* error) {
    if (file->completed) return true;
    file->completed = true;
    int reason = file->error;
    errno = 0;
    if (std::fflush(file->stream) != 0 && !reason) reason = errno;
    if (std::ferror(file->stream) && !reason) reason = EIO;
    if (file->owned) {
        // On the disk before it takes the name, so the name never stands for half a file.
        if (!file->temporary.empty() && !reason && fsync(fileno(file->stream)) != 0) reason = errno;
        if (std::fclose(file->stream) != 0 && !reason) reason = errno;
        file->stream = nullptr;
    }
    if (!reason) return true;
    *error = cannotWrite(file->target, reason);
    return false;
}

bool outputCommit(OutputFile* file, std::string* error) {
    if (!file->completed && !outputComplete(file, error)) {
        outputDiscard(file);
        return false;
    }
    std::unique_ptr<OutputFile> done(file);
    if (file->temporary.empty()) return true;
    const char* temporary = file->temporary.c_str();
    const char* target = file->target.c_str();
    int reason = 0;
    bool appeared = false;
    if (file->force) {
        if (std::rename(temporary, target) != 0) reason = errno;
    } else if (link(temporary, target) == 0) {
        // A new link never replaces a file, even one made while the song was rendering.
        unlink(temporary);
    } else if (errno == EEXIST) {
        appeared = true;
    } else if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) {
        // A file system without hard links: look first, then rename.
        if (existing(file->target) != Existing::none)
            appeared = true;
        else if (std::rename(temporary, target) != 0)
            reason = errno;
    } else {
        reason = errno;
    }
    if (appeared || reason) {
        unlink(temporary);
        dropTemporary(file);
        *error = appeared
                     ? file->target + " appeared while rendering; it is kept (give --force to replace it)"
                     : cannotWrite(file->target, reason);
        return false;
    }
    dropTemporary(file);
    return true;
}

void outputDiscard(OutputFile* file) {
    if (!file) return;
    std::unique_ptr<OutputFile> done(file);
    if (file->owned && file->stream) std::fclose(file->stream);
    file->stream = nullptr;
    if (!file->temporary.empty()) unlink(file->temporary.c_str());
    dropTemporary(file);
}

void outputGuardSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int number : guardedSignals)
        sigaction(number, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN); // past a file size limit a write fails, and is reported
}
