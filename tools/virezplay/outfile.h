// virezplay's output files, written whole or not at all.
//
// Everything a render writes (the WAVE file, the timeline) goes through here. Before anything is
// rendered, checkOutputs looks at all the outputs of the run together and refuses the run when
// two of them would be the same file, when one would replace an existing file without --force or
// be one of the inputs, or when several would go to standard output one after another.
//
// A file is written under a temporary name in its own folder (".NAME.XXXXXX") and takes its name
// only when it is complete and on the disk (outputComplete, then outputCommit); until then the
// name shows either nothing or the file that was there before. Whatever goes wrong (a failed
// write, a failed render, Ctrl-C, SIGTERM, SIGHUP, a closed pipe) the temporary file is removed:
// outputDiscard on the way out of a failure, a signal handler on the way out of the process
// (outputGuardSignals). A file size limit (SIGXFSZ) becomes a write error like a full disk.
//
// "-" is standard output, written directly; so is a target that exists and is not a regular file
// (/dev/null, a FIFO, a terminal), where there is nothing to replace and nothing to leave behind.
//
// Typical use:
//     outputGuardSignals();
//     if (std::string why = checkOutputs(planned, force); !why.empty()) refuse(why);
//     OutputFile* out = outputOpen("song.wav", force, &error);
//     ... write into outputStream(out), outputNoteError(out, errno) where a write fails ...
//     if (allWritten && outputComplete(out, &error) && outputCommit(out, &error)) done;
//     else outputDiscard(out);
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct OutputFile;

// One output of a run: the input it is made from, the name it goes to, and what it is ("WAVE
// file", "timeline") for the messages.
struct PlannedOutput {
    std::string input;
    std::string name;
    std::string kind;
};

// Checks every output of a run before anything is written. Returns an empty string when they can
// all be written, else the line that says why not (without the program's name): two outputs to
// one file, an output that is an input, an existing file without force, several outputs to
// standard output.
std::string checkOutputs(const std::vector<PlannedOutput>& outputs, bool force);

// Opens an output: standard output for "-", the target itself when it exists and is not a
// regular file, else a new temporary file beside it. Null on failure, with *error naming the path
// and the system's reason.
OutputFile* outputOpen(const std::string& name, bool force, std::string* error);

// The stream to write into (standard output for "-").
std::FILE* outputStream(OutputFile* file);

// The name the output goes to, as given to outputOpen.
const std::string& outputTarget(const OutputFile* file);

// Notes the system's reason (errno) for a write into the stream that failed, for the message of
// outputComplete; the first one counts.
void outputNoteError(OutputFile* file, int error);

// Writes out what is buffered, to the disk for a file of its own, and closes it. Returns false,
// with *error naming the path and the system's reason, when any write into it failed.
bool outputComplete(OutputFile* file, std::string* error);

// Gives a completed output its name and frees the record: an existing file is replaced only when
// outputOpen was told to force; one that appeared meanwhile without force is kept and the output
// removed. Returns false with *error (path and reason) when the output does not stand under its
// name; the temporary file is gone either way.
bool outputCommit(OutputFile* file, std::string* error);

// Abandons an output: closes it, removes its temporary file and frees the record. Null is allowed.
void outputDiscard(OutputFile* file);

// From now on Ctrl-C, SIGTERM, SIGHUP and a closed pipe remove every temporary file still open
// (saying so on standard error), then end the process by that signal; a file size limit makes
// writes fail instead of ending it. Call once, before the first outputOpen.
void outputGuardSignals();
