// The morva program: the show on the SDL2 back end.
#include "demo/demo.h"
#include "platform/host.h"

int main() {
    platformInit(sdlBackend());
    const int exitCode = demoMain();
    platformShutdown(exitCode);
    return exitCode;
}
