// The opening size of the main window on screens of several sizes and scale factors:
// the room is the screen's in device-independent pixels (device pixels over the
// scale factor), and the frame always fits it.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/window_placement.h"

namespace tarmic {
namespace {

TEST(WindowPlacement, TheFrameFitsEveryScreenAtEveryScale) {
  const Size wanted{1000, 700}, least{600, 430}, around{16, 65};
  for (const Size device : {Size{1600, 1000}, Size{1366, 768}, Size{1920, 1080}, Size{3840, 2160}})
    for (const double scale : {1.0, 1.25, 1.5, 2.0, 3.0}) {
      const Size room{static_cast<int>(device.cx / scale), static_cast<int>(device.cy / scale)};
      SCOPED_TRACE(::testing::Message() << device.cx << "x" << device.cy << " at " << scale);
      const WindowOpening o = FitWindowToRoom(wanted, least, around, room);
      EXPECT_LE(o.client.cx + around.cx, room.cx);
      EXPECT_LE(o.client.cy + around.cy, room.cy);
      // No smaller than asked where the room holds it.
      EXPECT_EQ(o.client.cx, std::min(wanted.cx, room.cx - around.cx));
      EXPECT_EQ(o.client.cy, std::min(wanted.cy, room.cy - around.cy));
      EXPECT_LE(o.minClient.cx, o.client.cx);
      EXPECT_LE(o.minClient.cy, o.client.cy);
      EXPECT_EQ(o.minClient.cy, std::min(least.cy, room.cy - around.cy));
    }
  // At a scale of 2 on 1600 x 1000 pixels the window no longer opens at 2000 x 1438.
  const WindowOpening o = FitWindowToRoom(wanted, least, around, Size{800, 500});
  EXPECT_EQ(o.client, (Size{784, 435}));
  // No room known: as asked.
  EXPECT_EQ(FitWindowToRoom(wanted, least, around, Size{}).client, wanted);
}

}  // namespace
}  // namespace tarmic
