// The sound output of live play (see speaker.h).
#include "tools/virezplay/speaker.h"

#include <vector>

struct Speaker {
    WaveOutput* output = nullptr;
    WaveFormat format{};
    std::uint32_t frameBytes = 0, blockFrames = 0;
    std::vector<std::vector<std::uint8_t>> data;
    std::vector<WaveBlock> blocks;
    std::vector<HeardPosition> starts;
    std::vector<char> queued; // written and not yet seen played
    std::uint32_t next = 0;   // the block to fill next; blocks are played in this order
};

Speaker* speakerOpen(const WaveFormat& format, std::uint32_t blockFrames, std::uint32_t blockCount,
                     std::string* error) {
    auto* s = new Speaker;
    s->format = format;
    s->frameBytes = format.channels * format.bits / 8u;
    s->blockFrames = blockFrames;
    s->data.assign(blockCount, std::vector<std::uint8_t>(std::size_t(blockFrames) * s->frameBytes));
    s->blocks.assign(blockCount, WaveBlock{});
    s->starts.assign(blockCount, HeardPosition{});
    s->queued.assign(blockCount, 0);
    if (const int result = waveOpen(&s->output, format); result != waveOk) {
        *error = *waveError() ? waveError() : "the output refused the format (result " + std::to_string(result) + ")";
        delete s;
        return nullptr;
    }
    return s;
}

void speakerClose(Speaker* speaker) {
    if (!speaker) return;
    waveReset(speaker->output);
    waveClose(speaker->output);
    delete speaker;
}

namespace {

// Marks the blocks the output has played, oldest first; true when block k is free.
bool blockFree(Speaker* s, std::uint32_t k) {
    if (s->queued[k] && waveBlockDone(s->output, &s->blocks[k])) s->queued[k] = 0;
    return !s->queued[k];
}

} // namespace

std::int64_t speakerFill(Speaker* s, SoundRender* render, std::int64_t limit, bool* ended) {
    std::int64_t total = 0;
    const std::uint32_t count = static_cast<std::uint32_t>(s->blocks.size());
    for (std::uint32_t n = 0; n < count && !*ended && blockFree(s, s->next); ++n) {
        const std::uint32_t k = s->next;
        SoundPosition at{};
        sound_render_get_position(render, &at);
        std::int32_t want = static_cast<std::int32_t>(s->blockFrames);
        if (limit >= 0) want = static_cast<std::int32_t>(std::min<std::int64_t>(want, limit - total));
        const std::int32_t got = want > 0 ? sound_render_frames(render, s->data[k].data(), want) : 0;
        if (got < 0) return -1;
        if (got < want || want <= 0) *ended = true;
        if (got == 0) break;
        s->starts[k] = HeardPosition{at.frame, at.order, at.row};
        s->blocks[k] = WaveBlock{s->data[k].data(), static_cast<std::uint32_t>(got) * s->frameBytes, {0, 0, 0, 0}};
        if (waveWrite(s->output, &s->blocks[k]) != waveOk) return -1;
        s->queued[k] = 1;
        s->next = (k + 1) % count;
        total += got;
    }
    return total;
}

bool speakerDrained(Speaker* s) {
    for (std::uint32_t k = 0; k < s->blocks.size(); ++k)
        if (!blockFree(s, k)) return false;
    return true;
}

HeardPosition speakerHeard(Speaker* s, const HeardPosition& next) {
    // The oldest block still queued is the first one after the last free one, going round from next.
    const std::uint32_t count = static_cast<std::uint32_t>(s->blocks.size());
    for (std::uint32_t n = 0; n < count; ++n) {
        const std::uint32_t k = (s->next + n) % count;
        if (!blockFree(s, k)) return s->starts[k];
    }
    return next;
}

void speakerFlush(Speaker* s) {
    waveReset(s->output);
    for (std::uint32_t k = 0; k < s->blocks.size(); ++k)
        s->queued[k] = 0;
}
