#include "app/app_main.h"

#include <memory>

#include "platform/dc.h"
#include "platform/gdi.h"
#include "resources/menus.h"

namespace tarmic {

namespace {

// Paints the whole client area white and shows it.
void PaintClientArea(Window& window) {
  Size size = window.ClientSize();
  std::unique_ptr<DC> dc = window.ClientDC();
  dc->SelectPen(NullPen());
  dc->SelectBrush(SolidBrush(kWhite));
  dc->Rectangle(0, 0, size.cx, size.cy);
  window.Refresh();
}

}  // namespace

int RunApplication(Backend& backend, int /*argc*/, char** /*argv*/) {
  Window& window = backend.MainWindow();
  window.SetTitle("Sedimentation Analysis");
  window.AttachMenu(GetMenuResource(kMenuVirez));
  window.SetAccelerators(GetAcceleratorTable(kAcceleratorTableId));
  window.DragAcceptFiles(true);
  window.Show();
  window.Invalidate();
  return RunMessageLoop(backend);
}

int RunMessageLoop(Backend& backend) {
  for (;;) {
    std::optional<Event> event = UiEvents().Take();
    if (!event) {
      if (!backend.WaitEvents(-1)) return 0;
      continue;
    }
    if (event->type == EventType::Quit) return event->command;
    DispatchEvent(backend, *event);
  }
}

void DispatchEvent(Backend& backend, const Event& event) {
  Window& window = backend.MainWindow();
  switch (event.type) {
    case EventType::Paint:
      PaintClientArea(window);
      break;
    case EventType::Size:
      window.Invalidate();
      break;
    case EventType::Close:
      PostQuitMessage(0);
      break;
    case EventType::Command:
      if (event.command == kCmExit) {
        PostQuitMessage(0);
      } else {
        DispatchCommand(backend, event.command);
      }
      break;
    default:
      // Keys, characters, mouse, timers and dropped files have no handler yet.
      break;
  }
}

void DispatchCommand(Backend& /*backend*/, int /*id*/) {
  // The main window's response table goes here: it maps every command identifier of
  // both menus and of the accelerator table to its handler. Until it exists, commands
  // other than Exit do nothing.
}

}  // namespace tarmic
