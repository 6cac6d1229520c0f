// The program's frame window in Qt: a QMainWindow with the menu bar and a client
// widget that shows the back-buffer image. Qt input becomes events of the program's
// queue (UiEvents): keys and characters, mouse buttons in the program's double-click
// order (down, up, double-click, up) with its modifier words, moves, size changes,
// timers, dropped files, menu commands and accelerators, and the close request.
#pragma once

#include <QElapsedTimer>
#include <QImage>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.h"
#include "platform/qt/qt_menu.h"

class QKeyEvent;
class QMainWindow;
class QTimer;
class QWidget;

namespace tarmic {

class QtTextRenderer;
struct DrawnText;

// The smallest character cell of text in the window, pixels: about 11 pixels of
// em height in the sans-serif face, 8 points on a 96 dpi screen.
inline constexpr int kMinScreenTextPixels = 13;
// The smallest height of digits in the window, pixels: the cell grows beyond
// kMinScreenTextPixels until the digits of the face are this high.
inline constexpr int kMinScreenDigitPixels = 9;

// The smallest client area, pixels: the plots' texts and the on-plot buttons keep
// their room down to it (a wider menu bar widens it).
inline constexpr int kMinClientWidth = 600;
inline constexpr int kMinClientHeight = 430;

class QtWindow : public Window {
 public:
  // A frame window whose client area is width x height pixels when first shown.
  QtWindow(QtTextRenderer& text, int width = 1000, int height = 700);
  ~QtWindow() override;

  void Show() override;
  void SetTitle(std::string_view title) override;
  std::string Title() const override;
  Size ClientSize() const override;
  Image& Screen() override { return screen_; }
  // Antialiased drawing into the back-buffer (QtScreenDC).
  std::unique_ptr<DC> ClientDC() override;
  int MinTextHeight() const override { return minTextHeight_; }
  void Invalidate() override;
  void Refresh() override;

  void AttachMenu(const MenuResource& menu) override;
  bool CheckMenuItem(int id, bool checked) override;
  bool EnableMenuItem(int id, bool enabled) override;
  bool InsertMenuItemBefore(int beforeId, int id, std::string_view text) override;
  bool DeleteMenuItem(int id) override;
  bool HasMenuItem(int id) const override;
  bool IsMenuItemChecked(int id) const override;
  bool IsMenuItemEnabled(int id) const override;
  void SetAccelerators(const AcceleratorTable& table) override { accel_ = table; }

  void SetCursor(CursorShape shape) override;
  CursorShape Cursor() const override { return cursor_; }
  void SetCapture() override;
  void ReleaseCapture() override;
  void SetTimer(int id, int intervalMs) override;
  void KillTimer(int id) override;
  void DragAcceptFiles(bool accept) override { acceptsDrops_ = accept; }

  // The Qt widgets, for dialogs that need an owner and for tests.
  QMainWindow* Frame() const;
  QWidget* Client() const;
  const QtMenuBar& Menu() const { return menu_; }
  bool AcceptsDrops() const { return acceptsDrops_; }
  bool IsCaptured() const { return captured_; }

  // Gives the keyboard back to the client after a modal box, a dialog or a menu:
  // the frame is made the active window and the client gets the focus (a menu bar in
  // keyboard navigation lets go first). Does nothing while a popup or a modal dialog
  // is open or the frame is hidden.
  // Paints the whole frame (menu bar and client area) at once: after a box or a
  // dialog closed, what it covered is drawn again before the program goes on,
  // which may compute for a while without letting the window system ask for it.
  void RepaintFrame();
  void ReclaimKeyboard();

  // Every text drawn into the back-buffer from now on is also appended to log (null:
  // none); for tests of the layout.
  void SetTextLog(std::vector<DrawnText>* log) { textLog_ = log; }

 private:
  class FrameWidget;
  class ClientWidget;
  class KeyboardRouter;

  // The frame cannot be made smaller than the minimum client area with the whole
  // menu bar in one row.
  void UpdateMinimumSize();
  // Makes the frame, once the window manager has put its border round it, fit the
  // room the screen leaves free, and moves it inside that room.
  void FitFrameToScreen();
  // Called by the client widget.
  void OnResize(int width, int height);
  void OnPaint(QWidget& widget);
  bool IsAccelerator(int vk, unsigned mods) const;
  // A key of the program: an accelerator's command, else the key (with its
  // character); a release (not auto-repeated) as a key-up.
  void OnKeyPress(const QKeyEvent& e);
  void OnKeyRelease(const QKeyEvent& e);
  // Posts the command of an accelerator key; true when the key was one.
  bool TranslateAccelerator(int vk, unsigned mods);

  QtTextRenderer& text_;
  std::unique_ptr<FrameWidget> frame_;
  ClientWidget* client_ = nullptr;  // owned by frame_
  std::unique_ptr<KeyboardRouter> keyboard_;  // an event filter of the application
  // Shows the back-buffer now (a repaint of the client).
  void ShowScreen();

  Image screen_;  // in the screen layout (Qt's RGB32): painted as it is, without a copy
  // screen_'s pixels as the image the screen DCs paint on: one paint engine for all.
  QImage screenImage_;
  // Refresh shows at most one picture per kRefreshIntervalMs; a later one waits on
  // refreshTimer_ and is shown when the event loop next runs, or by the next Refresh
  // after the interval, whichever comes first.
  static constexpr int kRefreshIntervalMs = 33;
  std::unique_ptr<QTimer> refreshTimer_;
  QElapsedTimer sinceShown_;
  QtMenuBar menu_;
  AcceleratorTable accel_;
  CursorShape cursor_ = CursorShape::Arrow;
  bool acceptsDrops_ = false;
  bool captured_ = false;
  bool sized_ = false;
  // The largest client area the screen has room for (0: not bounded yet).
  Size roomForClient_;
  // The client area asked for when the window was first shown.
  Size wantedClient_;
  std::map<int, std::unique_ptr<QTimer>> timers_;
  std::vector<DrawnText>* textLog_ = nullptr;
  int minTextHeight_ = kMinScreenTextPixels;
};

}  // namespace tarmic
