// Where the main window opens (see the header).
#include "platform/window_placement.h"

#include <algorithm>

namespace tarmic {

WindowOpening FitWindowToRoom(Size wanted, Size minClient, Size around, Size room) {
  WindowOpening w{wanted, minClient, Size{}};
  const auto axis = [](int want, int least, int roomAxis, int aroundAxis, int& client, int& min, int& held) {
    if (roomAxis <= 0) return;
    held = std::max(1, roomAxis - aroundAxis);
    client = std::min(want, held);
    min = std::min(least, held);
  };
  axis(wanted.cx, minClient.cx, room.cx, around.cx, w.client.cx, w.minClient.cx, w.room.cx);
  axis(wanted.cy, minClient.cy, room.cy, around.cy, w.client.cy, w.minClient.cy, w.room.cy);
  return w;
}

}  // namespace tarmic
