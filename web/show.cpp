// The show page's program: the show's own main routine on the web back end, with the options
// the page gives (platform/web/webhost.h).
#include "demo/demo.h"
#include "platform/web/webhost.h"

int main() {
    webConfigure(webPageOptions());
    platformInit(webBackend());
    const int exitCode = demoMain();
    platformShutdown(exitCode);
    return exitCode;
}
