// The SDL back end's windows with controls (the configuration window and the dialogs): each is a
// host window of its own, drawn with Dear ImGui over OpenGL from the records the shared code keeps
// (platform/windows.cpp). Used by platform/sdl/sdlhost.cpp only.
#pragma once

#include <SDL.h>

#include "platform/host.h"

struct SdlHostServices;

// The program's shared platform functions, given to the module when it was opened: the module's
// stand-ins for them (sdlimports.cpp) call through these.
extern const SdlHostServices* sdlServices;

// Makes the host window for a windowDialog window (hidden). Returns 0 when it cannot be made.
int uiCreate(WindowHandle window, const WindowDesc& desc);

// Closes its host window.
void uiDestroy(WindowHandle window);

// Shows it and gives it the keyboard (also where no window manager hands the keyboard over).
void uiShow(WindowHandle window);

// Draws every window now and again over the next frames: a window the show's full-screen window
// covered shows its own controls again, not what the show left on the screen.
void uiRedrawAll();

// Something in it changed: it is drawn again at the next pump, or at once with now.
void uiChanged(WindowHandle window, int now);

// Takes an event meant for one of these windows. Returns false for everything else.
bool uiEvent(const SDL_Event& event);

// Draws the windows that changed. Returns 1 when one still wants drawing soon (a click in
// progress), so the pump should not sleep.
int uiDrawPending();

// Closes every host window (before SDL goes).
void uiCloseAll();

// Draws the window and reads back the colour at x, y of its client area (tests). Returns 1 on
// success.
int uiReadBack(WindowHandle window, int x, int y, std::uint8_t rgb[3]);

// Its SDL window id, or 0.
std::uint32_t uiWindowId(WindowHandle window);
