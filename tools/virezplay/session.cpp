// One song's turn through the sound library (see session.h).
#include "tools/virezplay/session.h"

#include <cstdio>
#include <mutex>

#include "sound/mixer/dsm.h"
#include "sound/formats/formats.h"
#include "sound/formats/module.h"
#include "sound/output/sdevice.h"
#include "sound/api/soundapi.h"

namespace {

std::string lastMessage() {
    return sound_get_error_message(sound_get_last_error());
}

// A fatal error ends the library, not the program: the other files still play.
std::mutex fatalLock;
std::string fatalText;

void keepFatalError(const char* text) {
    const std::lock_guard<std::mutex> held(fatalLock);
    fatalText = text ? text : "VIREZ Error";
}

} // namespace

std::string fatalError() {
    const std::lock_guard<std::mutex> held(fatalLock);
    return fatalText;
}

bool openLibrary(const PlayerSettings& settings, int bufferMs, std::string* error) {
    sound_startup();
    sound_set_error_report_hook(keepFatalError);
    {
        const std::lock_guard<std::mutex> held(fatalLock);
        fatalText.clear();
    }
    sound_set_option(optMixingRate, static_cast<int>(settings.rate));
    sound_set_option(optOutputMode, static_cast<int>((settings.mono ? OUT_MONO : OUT_STEREO) |
                                                     (settings.eightBit ? OUT_8BIT : OUT_16BIT)));
    sound_set_option(optInterpolation, settings.interpolate ? 1 : 0);
    // The devices pass no family: the mixer's host choice decides it.
    mixerCpuChoice = settings.integer ? MixerCpuChoice::Integer : MixerCpuChoice::Auto;
    if (bufferMs > 0) sound_set_option(optBufferLength, bufferMs);
    if (!sound_init()) {
        *error = lastMessage();
        sound_close();
        return false;
    }
    // Kept by the library and applied when the song opens its channels.
    sound_set_amplification(settings.amplification);
    return true;
}

void closeLibrary(Session* session) {
    sound_stop_background_play();
    if (session->song) sound_stop_module(session->song);
    if (session->module) sound_free_module(session->module);
    session->song = 0;
    session->module = nullptr;
    sound_close();
}

bool startSong(const std::string& file, Session* session, std::string* error) {
    session->module = sound_load_module(file.c_str());
    if (!session->module) {
        *error = lastMessage();
        return false;
    }
    session->song = sound_play_module(session->module, 1);
    if (!session->song) {
        *error = lastMessage();
        sound_free_module(session->module);
        session->module = nullptr;
        return false;
    }
    return true;
}

const char* formatName(const Module* module) {
    const ModuleFormat* format = module_format_of(module->play_mode);
    return format != nullptr ? format->name : "?";
}

std::string printableText(const char* text) {
    std::string out;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c) {
        if (*c >= 0x20 && *c < 0x7F) {
            out += static_cast<char>(*c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", *c);
            out += escaped;
        }
    }
    return out;
}

std::string clockText(double seconds) {
    if (seconds < 0) seconds = 0;
    const long whole = static_cast<long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}
