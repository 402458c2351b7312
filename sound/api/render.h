/* The render interface: a module rendered into the caller's buffers, as fast as the processor
 * allows, with exact positioning.
 *
 * A program loads a module (from a file or from memory), opens it for rendering with the output
 * it wants (rate, channels, sample format, interpolation, stereo separation, amplification),
 * and asks for frames as it needs them: to write a file, to feed a sound output, to show a
 * picture of the sound. Where the song stands is known to the frame (order, pattern, row and
 * time), and setting a position (a time, or an order and row) gives exactly the sound that
 * playing from the start up to that point gives. A module may hold several songs (subsongs:
 * orders the first song never reaches, usually behind an end marker); each has its start and
 * its duration, and one of them is rendered at a time.
 *
 * Time 0 is the first row of the (sub)song: the silent ticks a player spends before reading it
 * are left out. A song ends where it comes round: just before the first row it would play a
 * second time the same way (after a jump or a break back, or past the end of its order list),
 * or where speed 0 stops it; with repeat it goes round that many more times.
 *
 * This header is plain C: every call takes and returns plain values and structures, nothing
 * throws, and it can be called from C, C++ or a WebAssembly page. Calls that only succeed or
 * fail return 1 or 0; the reason of a failure is kept (sound_render_last_error) with the error
 * codes and messages of the whole sound library. One module renders at a time, and not while
 * the library plays through its own sound device (sound_init): opening a second one gives
 * error 41, "Device is busy".
 *
 * Typical use:
 *     SoundLoadReport report;
 *     Module* module = sound_render_load_file("song.xm", &report);
 *     SoundRender* render = sound_render_open(module, NULL);   // 44100 Hz, stereo, 16-bit
 *     int16_t buffer[2 * 4096];
 *     int32_t got;
 *     while ((got = sound_render_frames(render, buffer, 4096)) > 0) write_somewhere(buffer, got);
 *     sound_render_close(render);
 *     sound_render_free_module(module);
 */
#ifndef MORVA_SOUND_RENDER_H
#define MORVA_SOUND_RENDER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Module Module;           /* a loaded module (its parts are the library's own) */
typedef struct SoundRender SoundRender; /* a module opened for rendering */

/* Sample formats of rendered frames. */
enum SoundSampleFormat {
    SOUND_FORMAT_S16 = 0, /* signed 16-bit, the machine's byte order */
    SOUND_FORMAT_U8 = 1,  /* unsigned 8-bit, 128 is silence */
    SOUND_FORMAT_F32 = 2  /* 32-bit float, -1.0 .. 1.0 */
};

/* How a sample is read between its stored points. */
enum SoundInterpolation {
    SOUND_INTERPOLATION_NEAREST = 0, /* the nearest stored point, as the old trackers played */
    SOUND_INTERPOLATION_LINEAR = 1,  /* a straight line between two points */
    SOUND_INTERPOLATION_CUBIC = 2    /* a curve through four points (a cubic spline) */
};

/* What is rendered. Every field is a 32-bit integer. */
typedef struct SoundRenderSettings {
    int32_t rate;              /* frames per second, 8000..96000; default 44100 */
    int32_t channels;          /* 1 (mono) or 2 (stereo, left then right in each frame); default 2 */
    int32_t format;            /* a SoundSampleFormat; default SOUND_FORMAT_S16 */
    int32_t interpolation;     /* a SoundInterpolation; default SOUND_INTERPOLATION_NEAREST */
    int32_t integer_mixing;    /* 1: nearest-point mixing through volume tables, in integers, as on
                                  processors without floating point; default 0 */
    int32_t stereo_separation; /* percent: 0 every channel in the middle, 100 as the song pans
                                  them (default), up to 200 twice as wide */
    int32_t amplification;     /* percent of the library's level, 0..800; default 100 */
    int32_t repeat;            /* times the song plays again after its end: 0 once (default),
                                  -1 for ever */
} SoundRenderSettings;

/* One song of a module. */
typedef struct SoundSubsong {
    int32_t start_order;  /* the order position it starts at */
    int32_t milliseconds; /* its duration played once, -1 when it does not end within 30 minutes */
    int64_t frames;       /* the same in frames at the rate asked for, -1 likewise */
} SoundSubsong;

/* Where a rendering stands: the frame the next rendered frame has, and the row sounding there. */
typedef struct SoundPosition {
    int64_t frame;        /* frames from the first row of the subsong (repeats count on) */
    int32_t milliseconds; /* the same in milliseconds, rounded down */
    int32_t subsong;      /* 0 .. count - 1 */
    int32_t order;        /* order position of the row */
    int32_t pattern;      /* its pattern */
    int32_t row;          /* the row */
    int32_t rows;         /* rows in that pattern */
    int32_t speed;        /* ticks a row */
    int32_t tempo;        /* tempo (ticks a second = tempo x 2 / 5) */
    int32_t pass;         /* times the song has passed its end so far (0 the first time round) */
    int32_t ended;        /* 1 once the song (with its repeats) has ended: nothing more renders */
} SoundPosition;

/* What a file that ends early lacked. A module whose sample data the file cuts short loads with
   the data that is there; what is missing is silent. */
typedef struct SoundLoadReport {
    int32_t samples_cut;         /* samples whose data ends early or is missing altogether */
    int32_t instruments_missing; /* instruments whose description lies past the end (silent) */
    int64_t bytes_missing;       /* bytes of sample data the file lacks */
} SoundLoadReport;

/* What a module is. */
typedef struct SoundModuleInfo {
    char name[32];   /* the song's name as the file gives it (NUL-ended) */
    char format[8];  /* "XM", "S3M", "IT" or "MOD" */
    int32_t channels;
    int32_t orders;      /* length of the order list */
    int32_t patterns;
    int32_t instruments;     /* where the format plays samples directly, one per sample */
    int32_t samples;
    int32_t own_instruments; /* 1 when the instruments are more than their samples (note maps, envelopes,
                                names of their own: Extended Module, Impulse Tracker with instruments) */
} SoundModuleInfo;

/* Called for every row as rendering reaches it (not while seeking): the frame it starts on, its
   order position and row. user is what sound_render_set_row_callback was given. */
typedef void (*SoundRowCallback)(void* user, int64_t frame, int32_t order, int32_t row);

/* Fills settings with the defaults. */
void sound_render_default_settings(SoundRenderSettings* settings);

/* Loads a module file; the format is told by the file's contents. A file whose sample data ends
   early loads with what is there; report (may be NULL) says what was missing. NULL on failure. */
Module* sound_render_load_file(const char* file_name, SoundLoadReport* report);
/* Loads a module from a file image in memory (copied; the caller keeps its buffer), as
   sound_render_load_file. NULL on failure. */
Module* sound_render_load_memory(const void* data, size_t size, SoundLoadReport* report);
/* Frees a module (closing its rendering first, if one is open). */
int sound_render_free_module(Module* module);

/* Describes a module. */
int sound_render_module_info(const Module* module, SoundModuleInfo* info);
/* The name of instrument index (0 .. instruments - 1); NULL outside. */
const char* sound_render_instrument_name(const Module* module, int32_t index);
/* The name of sample index (0 .. samples - 1); NULL outside. */
const char* sound_render_sample_name(const Module* module, int32_t index);
/* The song message the file carries (Impulse Tracker), lines ended by "\n"; "" when none. */
const char* sound_render_message(const Module* module);
/* Finds the module's subsongs with their durations at rate (frames a second) and copies up to
   capacity of them into list (which may be NULL for capacity 0). Returns how many there are,
   -1 on failure. Quick: only the player runs, nothing is mixed. */
int32_t sound_render_list_subsongs(const Module* module, int32_t rate, SoundSubsong* list, int32_t capacity);

/* Opens a module for rendering its first subsong from its start; settings NULL takes the
   defaults. The module must stay loaded until sound_render_close. NULL on failure. */
SoundRender* sound_render_open(Module* module, const SoundRenderSettings* settings);
/* Ends a rendering. */
int sound_render_close(SoundRender* render);

/* Renders up to frames frames into buffer (frames x channels values of the sample format).
   Returns the frames rendered: fewer than asked (down to 0) once the song has ended, -1 on
   failure. */
int32_t sound_render_frames(SoundRender* render, void* buffer, int32_t frames);

/* Where the rendering stands (see SoundPosition). */
int sound_render_get_position(const SoundRender* render, SoundPosition* position);
/* Moves to a frame of the current subsong (counted as SoundPosition.frame does). The sound from
   there on is exactly what playing from the start gives. A frame past the song's end stops at
   the end. */
int sound_render_seek(SoundRender* render, int64_t frame);
/* sound_render_seek to a time in milliseconds. */
int sound_render_seek_ms(SoundRender* render, int32_t milliseconds);
/* Moves to the first time the song plays an order position and row, exactly as playing from the
   start gets there; when another subsong plays it and the current one does not, that subsong is
   chosen. Fails (error 22) for a row no subsong plays. */
int sound_render_set_position(SoundRender* render, int32_t order, int32_t row);

/* Number of subsongs of the rendered module (at least 1). */
int32_t sound_render_subsong_count(const SoundRender* render);
/* Copies subsong index's start and duration. */
int sound_render_get_subsong(const SoundRender* render, int32_t index, SoundSubsong* subsong);
/* Starts rendering subsong index from its beginning. */
int sound_render_select_subsong(SoundRender* render, int32_t index);
/* Frames of the current subsong played once; -1 when it does not end within 30 minutes. */
int64_t sound_render_duration(const SoundRender* render);

/* Changes the amplification (percent, 0..800) from the next rendered frame on. */
int sound_render_set_amplification(SoundRender* render, int32_t percent);
/* Changes the stereo separation (percent, 0..200) from the next rendered frame on. */
int sound_render_set_stereo_separation(SoundRender* render, int32_t percent);
/* Changes how many times the song plays again after its end (0 none, -1 for ever); a song that
   has already gone round more often ends at its next row. */
int sound_render_set_repeat(SoundRender* render, int32_t repeat);
/* Sets the function called for every row rendering reaches (NULL: none). */
int sound_render_set_row_callback(SoundRender* render, SoundRowCallback callback, void* user);

/* The error code of the last failing call of the library. */
int sound_render_last_error(void);
/* The message of an error code. */
const char* sound_render_error_message(int code);

#ifdef __cplusplus
}
#endif

#endif
