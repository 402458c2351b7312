// The file sink: what the headless back end's sink output (headlessAudioSink) is given, written
// to a WAVE file block by block, for rendering music offline as fast as the processor allows.
//
// A program renders like this:
//     WaveFileSink* sink = waveSinkOpen("out.wav");
//     HeadlessOptions options;  options.audio = headlessAudioSink;
//     headlessConfigure(options, waveSinkRecorder(sink));
//     platformInit(headlessBackend());
//     ... sound_init, play, then sound_poll in a loop: each poll fills and writes every block ...
//     waveSinkClose(sink);
// Every block the sound device writes reaches the file at once and in order; the file takes the
// format of the first block, and blocks in another format are left out (waveSinkClose says so).
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/headless.h"

struct WaveFileSink;

// Creates (or empties) the file. Null when it cannot be written.
WaveFileSink* waveSinkOpen(const char* path);

// Writes into a stream that is already open (standard output), from where it stands; closing
// the sink leaves the stream open. A stream that cannot seek back (a pipe) gets its header
// before the first block, with the sizes at their largest, as streamed WAVE files have them.
WaveFileSink* waveSinkOpenStream(std::FILE* stream);

// The recorder to give headlessConfigure: its audio callback appends each block to the sink.
HeadlessRecorder waveSinkRecorder(WaveFileSink* sink);

// Frames written so far.
std::int64_t waveSinkFrames(const WaveFileSink* sink);

// Completes the header and closes the file. Returns 1 when every block was written, 0 when a
// write failed, a block had another format, or the data passed the format's 4 GiB limit. With
// systemError given, it gets the system's reason (errno) for the first write that failed, or 0
// when no write failed.
int waveSinkClose(WaveFileSink* sink, int* systemError = nullptr);
