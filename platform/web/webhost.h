// The web back end: the program in a web page, built with emscripten (the web build only; the
// native build never compiles this folder). The show's frame goes into a canvas, scaled with
// square pixels; windows with controls become elements of the page; keys come from the page;
// sound goes through Web Audio in the wave-output model (blocks written in order, each done
// once played). The page has one thread: the program's waits yield to the page through
// Asyncify, and the sound library's polling runs from the clock reads, waits and the sound
// output's callback (platform/hostpoll.h). The page side is platform/web/webhost.js.
//
// On the virtual clock (a page's test mode) time moves as on the headless back end: each counter
// read moves it by 20 microseconds, a sleep by its whole length, the poll runs at the times the
// headless polling thread would, and sound is played off line (each block done once the clock
// has passed its end), so the show draws and mixes what morva-capture records.
#pragma once

#include "platform/host.h"

struct WebOptions {
    int virtualClock = 0; // the headless back end's virtual clock instead of the page's time
};

// Sets the options for the next platformInit(webBackend()).
void webConfigure(const WebOptions& options);

// The web back end.
const HostBackend* webBackend();

// Reads the options the page gives in Module.morva (virtualClock).
WebOptions webPageOptions();

// Microseconds since program start on the back end's clock, without moving it.
std::int64_t webNowUs();
