// The player page's program: the sound library's render interface for the page's script
// (web/player.js). One module at a time is loaded from the bytes the page hands over and
// rendered as 32-bit float stereo frames at the page's sound rate, chunk by chunk as the page's
// Web Audio queue needs them; the position is known to the frame, and a seek gives exactly the
// sound playing to that point gives. The whole song can also be rendered as a 16-bit WAVE file
// for the page to offer as a download.
#include <emscripten.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sound/api/render.h"

namespace {

struct Player {
    Module* module = nullptr;
    SoundRender* render = nullptr;
    SoundRenderSettings settings{};
    SoundLoadReport report{};
    std::vector<float> chunk;       // the frames of the last player_render
    std::vector<std::uint8_t> wave; // the last WAVE file made
    std::string text;               // the last JSON handed out
    std::string error;
};

Player player;

void fail(const char* what) {
    player.error = std::string(what) + ": " + sound_render_error_message(sound_render_last_error());
}

void appendEscaped(std::string& out, const char* text) {
    out += '"';
    for (const char* c = text; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (*c == '"' || *c == '\\') {
            out += '\\';
            out += *c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else if (byte >= 0x80) {
            out += '?'; // module names are 8-bit text of no fixed code page
        } else {
            out += *c;
        }
    }
    out += '"';
}

void closeModule() {
    if (player.render) sound_render_close(player.render);
    if (player.module) sound_render_free_module(player.module);
    player.render = nullptr;
    player.module = nullptr;
}

void littleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

extern "C" {

// Loads a module from the bytes of a file and opens it for rendering at rate frames a second,
// stereo 32-bit float. Returns 1, or 0 with the reason in player_error.
EMSCRIPTEN_KEEPALIVE int player_load(const std::uint8_t* data, int size, int rate) {
    closeModule();
    player.error.clear();
    player.report = SoundLoadReport{};
    player.module = sound_render_load_memory(data, static_cast<std::size_t>(size), &player.report);
    if (!player.module) {
        fail("not a module this player reads");
        return 0;
    }
    sound_render_default_settings(&player.settings);
    player.settings.rate = rate;
    player.settings.channels = 2;
    player.settings.format = SOUND_FORMAT_F32;
    player.render = sound_render_open(player.module, &player.settings);
    if (!player.render) {
        fail("the module cannot be played");
        closeModule();
        return 0;
    }
    return 1;
}

// Why the last call failed.
EMSCRIPTEN_KEEPALIVE const char* player_error() {
    return player.error.c_str();
}

// The loaded module as JSON: name, format, channels, orders, patterns, instruments, samples, the
// rate, the subsongs (start order, milliseconds, frames; -1 when one does not end) and what a
// file that ends early lacked.
EMSCRIPTEN_KEEPALIVE const char* player_info() {
    SoundModuleInfo info{};
    if (!player.render || !sound_render_module_info(player.module, &info)) return "null";
    std::string& out = player.text;
    out = "{\"name\":";
    appendEscaped(out, info.name);
    out += ",\"format\":";
    appendEscaped(out, info.format);
    out += ",\"channels\":" + std::to_string(info.channels) + ",\"orders\":" + std::to_string(info.orders) +
           ",\"patterns\":" + std::to_string(info.patterns) + ",\"instruments\":" + std::to_string(info.instruments) +
           ",\"samples\":" + std::to_string(info.samples) + ",\"rate\":" + std::to_string(player.settings.rate) +
           ",\"samplesCut\":" + std::to_string(player.report.samples_cut) +
           ",\"bytesMissing\":" + std::to_string(player.report.bytes_missing) + ",\"subsongs\":[";
    const int32_t count = sound_render_subsong_count(player.render);
    for (int32_t i = 0; i < count; ++i) {
        SoundSubsong subsong{};
        sound_render_get_subsong(player.render, i, &subsong);
        if (i) out += ',';
        out += "{\"start\":" + std::to_string(subsong.start_order) + ",\"ms\":" + std::to_string(subsong.milliseconds) +
               ",\"frames\":" + std::to_string(subsong.frames) + "}";
    }
    out += "]}";
    return out.c_str();
}

// Renders up to frames frames (stereo float, interleaved) into the chunk buffer; returns the
// frames rendered (0 once the song has ended, -1 on failure). player_chunk points at them.
EMSCRIPTEN_KEEPALIVE int player_render(int frames) {
    if (!player.render || frames <= 0) return -1;
    player.chunk.resize(static_cast<std::size_t>(frames) * 2);
    return sound_render_frames(player.render, player.chunk.data(), frames);
}

EMSCRIPTEN_KEEPALIVE const float* player_chunk() {
    return player.chunk.data();
}

// Where the rendering stands, into eight integers: frame (32 bits hold six hours at the highest
// rate), milliseconds, subsong, order, pattern, row, rows in the pattern, ended.
EMSCRIPTEN_KEEPALIVE int player_position(std::int32_t* out) {
    SoundPosition position{};
    if (!player.render || !sound_render_get_position(player.render, &position)) return 0;
    const std::int32_t values[8] = {static_cast<std::int32_t>(position.frame), position.milliseconds, position.subsong,
                                    position.order, position.pattern, position.row, position.rows, position.ended};
    std::memcpy(out, values, sizeof values);
    return 1;
}

// Moves to a time of the current subsong, exactly. Returns 1 or 0.
EMSCRIPTEN_KEEPALIVE int player_seek(int milliseconds) {
    return player.render && sound_render_seek_ms(player.render, milliseconds) ? 1 : 0;
}

// Starts subsong index from its beginning. Returns 1 or 0.
EMSCRIPTEN_KEEPALIVE int player_subsong(int index) {
    return player.render && sound_render_select_subsong(player.render, index) ? 1 : 0;
}

// Renders the current subsong once from its start as a 16-bit stereo WAVE file at the player's
// rate, then goes on playing where it was. Returns the file's size (player_wave points at it),
// or 0 on failure (player_error says why).
EMSCRIPTEN_KEEPALIVE int player_make_wave() {
    if (!player.render) return 0;
    SoundPosition where{};
    sound_render_get_position(player.render, &where);
    sound_render_close(player.render); // one rendering at a time
    player.render = nullptr;
    SoundRenderSettings settings = player.settings;
    settings.format = SOUND_FORMAT_S16;
    settings.repeat = 0;
    std::vector<std::uint8_t>& out = player.wave;
    out.clear();
    SoundRender* whole = sound_render_open(player.module, &settings);
    bool ok = whole && sound_render_select_subsong(whole, where.subsong);
    if (ok) {
        out.assign(44, 0);
        std::vector<std::int16_t> buffer(2 * 8192);
        std::int32_t got = 0;
        while ((got = sound_render_frames(whole, buffer.data(), 8192)) > 0) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.data());
            out.insert(out.end(), bytes, bytes + got * 4); // wasm is little-endian, as WAVE is
        }
        ok = got == 0;
    }
    if (!ok) fail("the song cannot be rendered");
    if (whole) sound_render_close(whole);
    player.render = sound_render_open(player.module, &player.settings);
    if (player.render) {
        sound_render_select_subsong(player.render, where.subsong);
        sound_render_seek(player.render, where.frame);
    }
    if (!ok) return 0;
    const auto dataBytes = static_cast<std::uint32_t>(out.size() - 44);
    std::vector<std::uint8_t> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    littleEndian(header, 36 + dataBytes, 4);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    littleEndian(header, 16, 4);
    littleEndian(header, 1, 2); // PCM
    littleEndian(header, 2, 2);
    littleEndian(header, static_cast<std::uint32_t>(settings.rate), 4);
    littleEndian(header, static_cast<std::uint32_t>(settings.rate) * 4, 4);
    littleEndian(header, 4, 2);
    littleEndian(header, 16, 2);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    littleEndian(header, dataBytes, 4);
    std::memcpy(out.data(), header.data(), header.size());
    return static_cast<int>(out.size());
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* player_wave() {
    return player.wave.data();
}

// Lets go of the last WAVE file once the page has taken it.
EMSCRIPTEN_KEEPALIVE void player_free_wave() {
    std::vector<std::uint8_t>().swap(player.wave);
}

} // extern "C"

// Nothing runs by itself: the page calls the functions above.
int main() {
    return 0;
}
