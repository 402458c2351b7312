// virezplay: plays module files through the sound output, renders them to WAVE files, or
// describes them, with the Morva sound library's render interface.
#include <cstdio>
#include <string>

#include "sound/api/soundapi.h"
#include "tools/virezplay/live.h"
#include "tools/virezplay/render.h"
#include "tools/virezplay/settings.h"

int main(int argc, char** argv) {
    PlayerSettings settings;
    std::string error;
    switch (parseCommandLine(argc, argv, &settings, &error)) {
    case parseHelp: std::fputs(usageText(), stdout); return 0;
    case parseVersion: std::printf("virezplay 1.1 (sound library %s)\n", sound_get_version_string()); return 0;
    case parseError: std::fprintf(stderr, "virezplay: %s\ntry virezplay --help\n", error.c_str()); return 2;
    default: break;
    }
    if (settings.info) return describeFiles(settings);
    if (!settings.wav.empty()) return renderFiles(settings);
    return playFiles(settings);
}
