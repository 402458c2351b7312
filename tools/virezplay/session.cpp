// One file's turn through the render interface (see session.h).
#include "tools/virezplay/session.h"

#include <cmath>
#include <cstdio>

namespace {

std::string lastMessage() {
    return sound_render_error_message(sound_render_last_error());
}

std::string counted(long long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The one line about a file that ends inside its sample data.
void reportCut(const std::string& file, const SoundLoadReport& report) {
    std::string what = counted(report.bytes_missing, "byte", "bytes") + " of sample data missing";
    if (report.samples_cut > 0) what += ", " + counted(report.samples_cut, "sample ends", "samples end") + " early";
    if (report.instruments_missing > 0)
        what += ", " + counted(report.instruments_missing, "instrument", "instruments") + " missing";
    std::fprintf(stderr, "virezplay: %s: the file ends early (%s); the missing part is silent\n", file.c_str(),
                 what.c_str());
}

std::int64_t framesOf(double seconds, std::uint32_t rate) {
    return static_cast<std::int64_t>(std::llround(seconds * rate));
}

} // namespace

bool loadSong(const std::string& file, Song* song, std::string* error) {
    SoundLoadReport report{};
    song->module = sound_render_load_file(file.c_str(), &report);
    if (!song->module) {
        *error = lastMessage();
        return false;
    }
    sound_render_module_info(song->module, &song->info);
    if (report.samples_cut > 0 || report.instruments_missing > 0) reportCut(file, report);
    return true;
}

SoundRenderSettings renderSettings(const PlayerSettings& settings) {
    SoundRenderSettings s;
    sound_render_default_settings(&s);
    s.rate = static_cast<std::int32_t>(settings.rate);
    s.channels = settings.mono ? 1 : 2;
    s.format = settings.eightBit ? SOUND_FORMAT_U8 : SOUND_FORMAT_S16;
    s.interpolation = settings.interpolation;
    s.integer_mixing = settings.integer;
    s.stereo_separation = settings.stereoSeparation;
    s.amplification = settings.amplification;
    s.repeat = settings.repeat;
    return s;
}

bool openSong(const PlayerSettings& settings, const std::string& file, Song* song, std::string* error) {
    if (!loadSong(file, song, error)) return false;
    const SoundRenderSettings chosen = renderSettings(settings);
    song->render = sound_render_open(song->module, &chosen);
    bool ok = song->render != nullptr;
    if (!ok) *error = lastMessage();
    if (ok && settings.subsong > 1) {
        const int count = sound_render_subsong_count(song->render);
        ok = settings.subsong <= count && sound_render_select_subsong(song->render, settings.subsong - 1);
        if (!ok)
            *error = "there is no subsong " + std::to_string(settings.subsong) + " (the file has " +
                     counted(count, "subsong", "subsongs") + ")";
    }
    if (ok && settings.startOrder >= 0) {
        ok = sound_render_set_position(song->render, settings.startOrder, settings.startRow);
        if (!ok)
            *error = "no subsong plays order " + std::to_string(settings.startOrder) + " row " +
                     std::to_string(settings.startRow);
    } else if (ok && settings.seekSeconds >= 0) {
        ok = sound_render_seek(song->render, framesOf(settings.seekSeconds, settings.rate));
        if (!ok) *error = lastMessage();
    }
    if (!ok) {
        closeSong(song);
        return false;
    }
    SoundPosition at{};
    sound_render_get_position(song->render, &at);
    song->firstFrame = at.frame;
    return true;
}

void closeSong(Song* song) {
    if (song->render) sound_render_close(song->render);
    if (song->module) sound_render_free_module(song->module);
    *song = Song{};
}

std::int64_t stopFrame(const PlayerSettings& settings, const Song& song) {
    std::int64_t stop = settings.endSeconds >= 0 ? framesOf(settings.endSeconds, settings.rate) : -1;
    if (settings.repeat == -1 || sound_render_duration(song.render) < 0) {
        const std::int64_t limit = song.firstFrame + maxSongSeconds * static_cast<std::int64_t>(settings.rate);
        stop = stop < 0 ? limit : std::min(stop, limit);
    }
    return stop;
}

std::string printableText(const char* text) {
    std::string out;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); c && *c; ++c) {
        if (*c >= 0x20 && *c < 0x7F) {
            out += static_cast<char>(*c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", *c);
            out += escaped;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string clockText(double seconds) {
    if (seconds < 0) seconds = 0;
    const long long millis = static_cast<long long>(seconds * 1000.0 + 1e-6);
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", millis / 60000, millis / 1000 % 60, millis % 1000);
    return text;
}
