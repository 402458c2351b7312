// The morva program: the show on the SDL2 back end.
#include "demo/demo.h"
#include "platform/host.h"
#include "demo_resources.h"

int main() {
    platformInit(sdlBackend());
    setProgramIcon(demoIconArgb, demoIconSize);
    const int exitCode = demoMain();
    platformShutdown(exitCode);
    return exitCode;
}
