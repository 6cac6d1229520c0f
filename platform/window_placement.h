// Where the main window opens: its frame (the client area, the menu bar and what the
// window manager adds around it) inside the room the screen leaves free for windows,
// in the device-independent pixels in which the window system measures both, so
// that a scaled screen (a scale factor of 2 on a high-resolution display) keeps the
// frame's buttons on the screen.
#pragma once

#include "platform/types.h"

namespace tarmic {

struct WindowOpening {
  Size client;      // the client area the window opens with
  Size minClient;   // the smallest client area it may be made
  Size room;        // the largest client area the room holds (0: not bounded)
};

// The client area wanted, made smaller where the room less `around` (menu bar and
// frame) is smaller; the smallest client area minClient likewise, so that the
// window can be made to fit. A room of 0 (none known) bounds nothing.
WindowOpening FitWindowToRoom(Size wanted, Size minClient, Size around, Size room);

}  // namespace tarmic
