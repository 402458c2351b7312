// The WAVE file sink (see wavesink.h).
#include "platform/wavesink.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>

struct WaveFileSink {
    std::FILE* file;
    WaveFormat format;
    int hasFormat;
    int failed;
    std::int64_t frames;
    std::uint64_t dataBytes;
    int owned = 1;         // the sink opened the file and closes it
    int seekable = 1;      // the header can be written at the end
    long start = 0;        // where the header goes
    int headerWritten = 0; // a stream's header is out
    int error = 0;         // errno of the first write that failed
    std::unique_ptr<char[]> buffer{}; // the file's stream buffer (freed after the file is closed)
};

namespace {

constexpr long headerBytes = 44;

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, static_cast<std::uint16_t>(v));
    put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

// The canonical 44-byte PCM header for format with dataBytes of samples (the largest sizes for
// a stream that cannot seek back), at the sink's start.
int writeHeader(WaveFileSink* sink) {
    const WaveFormat& f = sink->format;
    const std::uint32_t frameBytes = f.channels * f.bits / 8u;
    const auto data = sink->seekable ? static_cast<std::uint32_t>(sink->dataBytes)
                                     : std::numeric_limits<std::uint32_t>::max() - 36;
    std::uint8_t h[headerBytes] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    put32(h + 4, 36 + data);
    put32(h + 16, 16);
    put16(h + 20, 1); // PCM
    put16(h + 22, f.channels);
    put32(h + 24, f.rate);
    put32(h + 28, f.rate * frameBytes);
    put16(h + 32, static_cast<std::uint16_t>(frameBytes));
    put16(h + 34, f.bits);
    h[36] = 'd';
    h[37] = 'a';
    h[38] = 't';
    h[39] = 'a';
    put32(h + 40, data);
    if (sink->seekable && std::fseek(sink->file, sink->start, SEEK_SET) != 0) return 0;
    if (std::fwrite(h, 1, sizeof h, sink->file) != sizeof h) return 0;
    return !sink->seekable || std::fseek(sink->file, 0, SEEK_END) == 0;
}

// Notes a failed write and the system's reason for it.
void writeFailed(WaveFileSink* sink) {
    if (!sink->error) sink->error = errno ? errno : EIO;
    sink->failed = 1;
}

void append(void* context, std::int64_t, const WaveFormat& format, const std::uint8_t* data, std::uint32_t bytes) {
    auto* sink = static_cast<WaveFileSink*>(context);
    if (!sink || !sink->file) return;
    if (!sink->hasFormat) {
        sink->format = format;
        sink->hasFormat = 1;
        if (!sink->seekable) {
            sink->headerWritten = 1;
            errno = 0;
            if (!writeHeader(sink)) writeFailed(sink);
        }
    } else if (format.rate != sink->format.rate || format.channels != sink->format.channels ||
               format.bits != sink->format.bits) {
        sink->failed = 1;
        return;
    }
    // The header's sizes are 32 bits wide.
    if (sink->dataBytes + bytes > std::numeric_limits<std::uint32_t>::max() - headerBytes) {
        sink->failed = 1;
        return;
    }
    errno = 0;
    if (std::fwrite(data, 1, bytes, sink->file) != bytes) {
        writeFailed(sink);
        return;
    }
    sink->dataBytes += bytes;
    sink->frames += bytes / (format.channels * format.bits / 8u);
}

} // namespace

WaveFileSink* waveSinkOpen(const char* path) {
    if (!path) return nullptr;
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return nullptr;
    auto* sink = new WaveFileSink{file, WaveFormat{44100, 2, 16}, 0, 0, 0, 0};
    // Blocks of a few kilobytes arrive hundreds of times a second when rendering offline: a larger
    // buffer turns them into a few large writes instead of one system call each.
    constexpr std::size_t bufferBytes = 1 << 16;
    sink->buffer.reset(new (std::nothrow) char[bufferBytes]);
    if (sink->buffer) std::setvbuf(file, sink->buffer.get(), _IOFBF, bufferBytes);
    // Room for the header, written for real once the sizes are known.
    const std::uint8_t room[headerBytes] = {};
    errno = 0;
    if (std::fwrite(room, 1, sizeof room, file) != sizeof room) writeFailed(sink);
    return sink;
}

WaveFileSink* waveSinkOpenStream(std::FILE* stream) {
    if (!stream) return nullptr;
    auto* sink = new WaveFileSink{stream, WaveFormat{44100, 2, 16}, 0, 0, 0, 0};
    sink->owned = 0;
    sink->start = std::ftell(stream);
    sink->seekable = sink->start >= 0 && std::fseek(stream, sink->start, SEEK_SET) == 0;
    if (sink->seekable) {
        const std::uint8_t room[headerBytes] = {};
        errno = 0;
        if (std::fwrite(room, 1, sizeof room, stream) != sizeof room) writeFailed(sink);
    }
    return sink;
}

HeadlessRecorder waveSinkRecorder(WaveFileSink* sink) {
    HeadlessRecorder recorder{};
    recorder.context = sink;
    recorder.audio = append;
    return recorder;
}

std::int64_t waveSinkFrames(const WaveFileSink* sink) {
    return sink ? sink->frames : 0;
}

int waveSinkClose(WaveFileSink* sink, int* systemError) {
    if (!sink) return 0;
    // A stream that got no block still gets its (empty) header.
    errno = 0;
    if (!sink->failed && !sink->headerWritten && !writeHeader(sink)) writeFailed(sink);
    errno = 0;
    if (sink->owned ? std::fclose(sink->file) != 0 : std::fflush(sink->file) != 0) writeFailed(sink);
    const int ok = !sink->failed;
    if (systemError) *systemError = sink->error;
    delete sink;
    return ok;
}
