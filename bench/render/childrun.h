// What the render-speed programs share: running a program as a child process
// and reading its cost from the kernel's accounting, and the module corpus
// grouped by format.
#pragma once

#include <string>
#include <vector>

// One finished child process.
struct ChildRun {
    bool ok = false;         // it ran and exited with status 0
    double cpuSeconds = 0;   // user + system processor time
    long peakKiB = 0;        // peak resident memory
    std::string output;      // its standard output
};

// Runs argv[0] (a path) with its arguments; standard error is discarded.
ChildRun runChild(const std::vector<std::string>& argv);

// Runs the child repeat times and keeps the cheapest run: on a shared machine
// the least processor time is the one least disturbed by the others.
ChildRun runCheapest(const std::vector<std::string>& argv, int repeat);

// The module files of the corpus folder, by extension in the order xm, s3m, it, mod, each sorted.
std::vector<std::string> corpusFiles(const std::string& folder);

// The lower-case extension of a file name without the dot ("xm").
std::string formatOf(const std::string& file);

// The four formats in the order they are listed.
const std::vector<std::string>& formatOrder();

// The file name without its folders.
std::string leafName(const std::string& file);

// The number after "key:" or "key " on a line of text (a clock m:ss.mmm as seconds); negative
// when missing.
double numberAfter(const std::string& text, const std::string& key);
