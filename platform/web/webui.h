// The web back end's windows with controls (the configuration window and the dialogs): each is
// an element of the page made from the records the shared code keeps (platform/windows.cpp), sent
// to the page as JSON whenever it changed; what the user does there comes back as WebEvents and
// is done through the shared code's user actions. Nothing here talks to the page itself
// (webhost.cpp sends and takes), so the native tests check it too.
#pragma once

#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/web/webpage.h"

// Something in the window (a top-level window or one of its controls) changed.
void webUiChanged(WindowHandle window);

// The window is gone: it is not sent again.
void webUiForget(WindowHandle window);

// The top-level windows with controls that changed since the last call, in the order they first
// changed; the list is emptied.
std::vector<WindowHandle> webUiTakeChanged();

// The window as the page gets it: title, client size, state, the focused control and every
// control with its kind, style, place, text, entries, selection and check.
std::string webUiJson(WindowHandle window);

// Does what the user did, through the shared code's user actions (controlClick, controlType,
// controlChoose, hostKeyDown, a close message, setFocus). Returns 1 when it was done.
int webUiApply(const WebEvent& event);
