#include "platform/qt/qt_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <algorithm>

#include "platform/events.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_input.h"
#include "platform/qt/qt_screen_dc.h"
#include "platform/qt/qt_text_renderer.h"
#include "platform/window_placement.h"

namespace tarmic {

namespace {

void Post(Event e) { UiEvents().Post(std::move(e)); }

Event PaintRequest() {
  Event e;
  e.type = EventType::Paint;
  return e;
}

}  // namespace

// The frame: closing it only asks the program, which decides whether to end.
class QtWindow::FrameWidget : public QMainWindow {
 public:
  FrameWidget() = default;

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    Event e;
    e.type = EventType::Close;
    Post(e);
  }
};

// The client area: shows the back-buffer and turns input into program events.
class QtWindow::ClientWidget : public QWidget {
 public:
  ClientWidget(QtWindow& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
    setMouseTracking(true);  // moves without a button held are events too
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);    // whether drops are taken is decided when they come
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  bool event(QEvent* e) override {
    switch (e->type()) {
      case QEvent::ShortcutOverride: {
        // An accelerator wins over the menu bar's mnemonics (Alt+F is a command even if
        // an item of the bar has the mnemonic F): claim the key so that it arrives as a press.
        auto* key = static_cast<QKeyEvent*>(e);
        if (owner_.IsAccelerator(VirtualKeyFromQt(key->key()), KeyModifierWord(key->modifiers()))) {
          e->accept();
          return true;
        }
        return QWidget::event(e);
      }
      case QEvent::KeyPress:
        owner_.OnKeyPress(*static_cast<QKeyEvent*>(e));
        return true;  // Tab too: it is a key of the program, not focus navigation
      case QEvent::KeyRelease:
        owner_.OnKeyRelease(*static_cast<QKeyEvent*>(e));
        return true;
      default:
        return QWidget::event(e);
    }
  }

  void paintEvent(QPaintEvent*) override { owner_.OnPaint(*this); }
  void resizeEvent(QResizeEvent* e) override {
    owner_.OnResize(e->size().width(), e->size().height());
  }

  void mousePressEvent(QMouseEvent* e) override {
    PostButton(*e, EventType::LButtonDown, EventType::RButtonDown);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    PostButton(*e, EventType::LButtonUp, EventType::RButtonUp);
  }
  // Qt delivers the second press of a double click as this event alone, which gives
  // the program's order: down, up, double-click, up.
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    PostButton(*e, EventType::LButtonDblClk, EventType::RButtonDblClk);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    QPoint p = e->position().toPoint();
    Post(Event::Mouse(EventType::MouseMove, p.x(), p.y(),
                      MouseModifierWord(e->buttons(), e->modifiers())));
  }

  // Dropped files are read, never taken: a drop is accepted as a copy only, also
  // when the source proposes a move (a file manager that honours a move would
  // delete the user's scans), and refused when the source does not allow a copy.
  void dragEnterEvent(QDragEnterEvent* e) override {
    if (TakesDrop(*e) && !LocalFiles(e->mimeData()).empty()) AcceptAsCopy(*e);
  }
  void dragMoveEvent(QDragMoveEvent* e) override {
    if (TakesDrop(*e)) AcceptAsCopy(*e);
  }
  void dropEvent(QDropEvent* e) override {
    if (!TakesDrop(*e)) return;
    std::vector<std::string> files = LocalFiles(e->mimeData());
    if (files.empty()) return;
    AcceptAsCopy(*e);
    Post(Event::Drop(std::move(files)));
  }

 private:
  bool TakesDrop(const QDropEvent& e) const {
    return owner_.acceptsDrops_ && (e.possibleActions() & Qt::CopyAction);
  }
  static void AcceptAsCopy(QDropEvent& e) {
    e.setDropAction(Qt::CopyAction);
    e.accept();
  }

  static std::vector<std::string> LocalFiles(const QMimeData* mime) {
    std::vector<std::string> files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls()) {
      if (url.isLocalFile()) files.push_back(PathFromQString(url.toLocalFile()));
    }
    return files;
  }

  void PostButton(const QMouseEvent& e, EventType left, EventType right) {
    EventType type;
    if (e.button() == Qt::LeftButton) {
      type = left;
    } else if (e.button() == Qt::RightButton) {
      type = right;
    } else {
      return;  // the middle button has no messages of its own
    }
    QPoint p = e.position().toPoint();
    Post(Event::Mouse(type, p.x(), p.y(), MouseModifierWord(e.buttons(), e.modifiers())));
  }

  QtWindow& owner_;
};

// The keyboard of the whole frame window. Accelerators belong to the frame, not to
// the client widget: whatever inside the frame has the focus (the client, the menu
// bar after Alt, the frame itself when no widget has the focus after a dialog or a
// click on the title bar), an accelerator key posts its command. Keys that reach the
// frame itself go to the program as the client's keys would. Open popups, dialogs
// and other windows keep their own keys. A menu closed with Esc gives the keyboard
// back to the client instead of leaving the menu bar in keyboard navigation.
//
// The left and right arrows walk the whole menu bar in its order, the popups and
// the commands that sit on the bar alike: from an open popup (or a submenu's item
// without a submenu of its own) to the next item of the bar, which opens when it is
// a popup and is highlighted when it is a command. On a highlighted command Enter
// or Space chooses it, Esc and any other key or a click end the walk. F10 opens the
// first menu of the bar (and closes an open one).
class QtWindow::KeyboardRouter : public QObject {
 public:
  explicit KeyboardRouter(QtWindow& owner) : owner_(owner) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
        if (MenuBarKey(watched, *static_cast<QKeyEvent*>(event))) return true;
        if (WalkMenuBar(watched, *static_cast<QKeyEvent*>(event))) return true;
        return RouteKey(watched, *static_cast<QKeyEvent*>(event));
      case QEvent::ShortcutOverride:
      case QEvent::KeyRelease:
        return RouteKey(watched, *static_cast<QKeyEvent*>(event));
      case QEvent::MouseButtonPress:
        if (walk_) {
          if (watched == owner_.menu_.Bar()) {
            walk_ = nullptr;  // the bar takes the click itself
          } else {
            EndWalk();
          }
        }
        return false;
      case QEvent::Hide:
        if (IsPopupOfTheMenuBar(watched) && !walk_) {
          // The menu bar takes the keyboard after the popup has gone: look once it has.
          QTimer::singleShot(0, this, [this] {
            if (!walk_) owner_.ReclaimKeyboard();
          });
        }
        return false;
      default:
        return false;
    }
  }

 private:
  // F10, the menu bar's key on Linux desktops: in the frame window it opens the first
  // menu with its first item highlighted; on an open menu of the bar, or with a
  // command highlighted on the bar, it closes the menu and gives the keyboard back.
  // True when the key was taken.
  bool MenuBarKey(QObject* watched, const QKeyEvent& key) {
    QMenuBar* bar = owner_.menu_.Bar();
    if (!bar || !IsMenuBarKey(VirtualKeyFromQt(key.key()), KeyModifierWord(key.modifiers())))
      return false;
    if (IsPopupOfTheMenuBar(watched) || walk_) {
      walk_ = nullptr;
      while (QWidget* popup = QApplication::activePopupWidget()) {
        if (!popup->close()) break;
      }
      EndWalk();
      return true;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != owner_.frame_.get() || QApplication::activePopupWidget() ||
        QApplication::activeModalWidget())
      return false;
    bar->setFocus(Qt::MenuBarFocusReason);
    StepMenuBar(*bar, 1);
    return true;
  }

  // The arrow keys on the menu bar's popups and on a command highlighted on the bar;
  // true when the key was taken.
  bool WalkMenuBar(QObject* watched, const QKeyEvent& key) {
    QMenuBar* bar = owner_.menu_.Bar();
    if (!bar) return false;
    const int k = key.key();
    const bool arrow = k == Qt::Key_Left || k == Qt::Key_Right;
    if (auto* menu = qobject_cast<QMenu*>(watched); menu && IsPopupOfTheMenuBar(menu)) {
      if (!arrow || key.modifiers() != Qt::NoModifier) return false;
      // Right opens a submenu, Left closes one: Qt's own steps.
      const QAction* active = menu->activeAction();
      if (k == Qt::Key_Right && active && active->menu()) return false;
      if (k == Qt::Key_Left && menu->parent() != bar) return false;
      StepMenuBar(*bar, k == Qt::Key_Right ? 1 : -1);
      return true;
    }
    if (!walk_) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != owner_.frame_.get()) return false;
    if (arrow && key.modifiers() == Qt::NoModifier) {
      StepMenuBar(*bar, k == Qt::Key_Right ? 1 : -1);
      return true;
    }
    QAction* command = walk_;
    EndWalk();
    if (k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Space) {
      command->trigger();
      return true;
    }
    return k == Qt::Key_Escape;
  }

  // Moves to the next item of the bar in direction step (+1 right, -1 left),
  // round from the last to the first: a popup opens with its first item
  // highlighted, a command is highlighted.
  void StepMenuBar(QMenuBar& bar, int step) {
    const QList<QAction*> items = bar.actions();
    const qsizetype n = items.size();
    qsizetype i = items.indexOf(walk_ ? walk_.data() : bar.activeAction());
    if (i < 0) i = step > 0 ? -1 : n;
    for (qsizetype tried = 0; tried < n; ++tried) {
      i = ((i + step) % n + n) % n;
      QAction* next = items[i];
      if (next->isSeparator() || !next->isVisible() || !next->isEnabled()) continue;
      if (QMenu* popup = next->menu()) {
        walk_ = nullptr;
        bar.setActiveAction(next);
        for (QAction* first : popup->actions()) {
          if (!first->isSeparator() && first->isVisible() && first->isEnabled()) {
            popup->setActiveAction(first);
            break;
          }
        }
      } else {
        walk_ = next;  // set first: the popup that closes must not end the walk
        bar.setActiveAction(next);
      }
      return;
    }
  }

  // Ends a walk on a command: the bar lets go and the client has the keyboard.
  void EndWalk() {
    walk_ = nullptr;
    if (QMenuBar* bar = owner_.menu_.Bar()) {
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QCoreApplication::sendEvent(bar, &escape);
    }
    owner_.ReclaimKeyboard();
  }

  bool RouteKey(QObject* watched, QKeyEvent& key) {
    auto* widget = qobject_cast<QWidget*>(watched);
    QWidget* frame = owner_.frame_.get();
    // The client translates its own keys; popups, dialogs and other windows keep theirs.
    if (!widget || widget == owner_.client_ || widget->window() != frame) return false;
    if (QApplication::activePopupWidget()) return false;
    const int vk = VirtualKeyFromQt(key.key());
    const unsigned mods = KeyModifierWord(key.modifiers());
    const bool accelerator = owner_.IsAccelerator(vk, mods);
    switch (key.type()) {
      case QEvent::ShortcutOverride:
        // Claim the key so that it comes as a press, before any menu mnemonic.
        if (!accelerator) return false;
        key.accept();
        return true;
      case QEvent::KeyPress:
        if (widget != frame && !accelerator) return false;  // e.g. menu bar navigation
        owner_.OnKeyPress(key);
        return true;
      default:
        if (widget != frame) return false;
        owner_.OnKeyRelease(key);
        return true;
    }
  }

  bool IsPopupOfTheMenuBar(const QObject* watched) const {
    QMenuBar* bar = owner_.menu_.Bar();
    if (!bar || !qobject_cast<const QMenu*>(watched)) return false;
    for (const QObject* p = watched; p; p = p->parent()) {
      if (p == bar) return true;
    }
    return false;
  }

  QtWindow& owner_;
  QPointer<QAction> walk_;  // the command highlighted on the bar by the arrow keys
};

QtWindow::QtWindow(QtTextRenderer& text, int width, int height)
    : text_(text), frame_(std::make_unique<FrameWidget>()), screen_(width, height, kWhite) {
  client_ = new ClientWidget(*this, frame_.get());
  frame_->setCentralWidget(client_);
  frame_->setFocusProxy(client_);
  client_->resize(width, height);
  UpdateMinimumSize();
  minTextHeight_ = text_.CellForDigitHeight(kMinScreenDigitPixels, kMinScreenTextPixels);
  screen_.UseScreenLayout();
  refreshTimer_ = std::make_unique<QTimer>();
  refreshTimer_->setSingleShot(true);
  QObject::connect(refreshTimer_.get(), &QTimer::timeout, refreshTimer_.get(), [this] { ShowScreen(); });
  keyboard_ = std::make_unique<KeyboardRouter>(*this);
  QCoreApplication::instance()->installEventFilter(keyboard_.get());
}

QtWindow::~QtWindow() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(keyboard_.get());
  keyboard_.reset();
  refreshTimer_.reset();
  timers_.clear();
  frame_.reset();
}

namespace {
// The key code of a key that types text but has no code of its own (an umlaut, a
// letter of another alphabet): it is a key press all the same, which stops a
// computation as any other key does.
constexpr int kVkTextKey = 0xE7;

int KeyCode(const QKeyEvent& e) {
  const int vk = VirtualKeyFromQt(e.key());
  return vk == 0 && !e.text().isEmpty() ? kVkTextKey : vk;
}
}  // namespace

void QtWindow::OnKeyPress(const QKeyEvent& e) {
  int vk = KeyCode(e);
  unsigned mods = KeyModifierWord(e.modifiers());
  if (TranslateAccelerator(vk, mods)) return;  // the command replaces the key
  if (vk != 0) Post(Event::KeyDown(vk, mods));
  int ch = CharFromKeyEvent(e);
  if (ch >= 0) Post(Event::Char(ch));
}

void QtWindow::OnKeyRelease(const QKeyEvent& e) {
  // Auto-repeat gives repeated presses only, no releases.
  if (e.isAutoRepeat()) return;
  int vk = KeyCode(e);
  if (vk != 0) Post(Event::KeyUp(vk, KeyModifierWord(e.modifiers())));
}

void QtWindow::ReclaimKeyboard() {
  if (QApplication::activePopupWidget() || QApplication::activeModalWidget()) return;
  if (!frame_->isVisible()) return;
  // A menu bar left in keyboard navigation lets go of the keyboard on Esc.
  if (QMenuBar* bar = menu_.Bar(); bar && bar->hasFocus()) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(bar, &escape);
  }
  if (!frame_->isActiveWindow()) frame_->activateWindow();
  client_->setFocus(Qt::OtherFocusReason);
}

void QtWindow::RepaintFrame() {
  if (frame_->isVisible()) frame_->repaint();
}

QMainWindow* QtWindow::Frame() const { return frame_.get(); }
QWidget* QtWindow::Client() const { return client_; }

namespace {
// What a window manager adds round a frame before it has added it (title bar and
// borders of the common desktops), device-independent pixels.
constexpr int kFrameAllowanceX = 16;
constexpr int kFrameAllowanceY = 40;

QRect RoomOnScreen(const QWidget& frame) {
  const QScreen* screen = frame.screen() ? frame.screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}
}  // namespace

void QtWindow::Show() {
  if (!frame_->isVisible()) {
    // The window opens at the size asked for where the screen has room for it; on a
    // smaller (or scaled) screen it opens as large as the room allows.
    const int barHeight = frame_->menuWidget() ? frame_->menuWidget()->sizeHint().height() : 0;
    const QRect room = RoomOnScreen(*frame_);
    const WindowOpening opening =
        FitWindowToRoom(Size{screen_.Width(), screen_.Height()}, Size{kMinClientWidth, kMinClientHeight},
                        Size{kFrameAllowanceX, barHeight + kFrameAllowanceY}, Size{room.width(), room.height()});
    roomForClient_ = opening.room;
    wantedClient_ = Size{screen_.Width(), screen_.Height()};
    UpdateMinimumSize();
    frame_->resize(opening.client.cx, opening.client.cy + barHeight);
    QTimer::singleShot(0, frame_.get(), [this] { FitFrameToScreen(); });
  }
  frame_->show();
  frame_->raise();
  frame_->activateWindow();
  client_->setFocus(Qt::ActiveWindowFocusReason);
}

void QtWindow::SetTitle(std::string_view title) { frame_->setWindowTitle(ToQString(title)); }

std::string QtWindow::Title() const { return FromQString(frame_->windowTitle()); }

Size QtWindow::ClientSize() const { return Size{screen_.Width(), screen_.Height()}; }

std::unique_ptr<DC> QtWindow::ClientDC() {
  auto dc = std::make_unique<QtScreenDC>(screen_, text_, minTextHeight_, textLog_, &screenImage_);
  dc->SetTextLineMemory(&TextLines());
  return dc;
}

void QtWindow::Invalidate() { Post(PaintRequest()); }

void QtWindow::Refresh() {
  // A Fit writes a status line per evaluation: one repaint of the whole window each
  // would cost more than the evaluation. The last picture is always shown.
  if (sinceShown_.isValid() && sinceShown_.elapsed() < kRefreshIntervalMs) {
    if (!refreshTimer_->isActive())
      refreshTimer_->start(static_cast<int>(kRefreshIntervalMs - sinceShown_.elapsed()));
    return;
  }
  ShowScreen();
}

void QtWindow::ShowScreen() {
  refreshTimer_->stop();
  sinceShown_.start();
  client_->repaint();
}

void QtWindow::OnResize(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (width == screen_.Width() && height == screen_.Height() && sized_) return;
  if (ScreenDCOpen(screen_)) {
    // A device context still draws on the pixels (a drag in progress): resize once
    // it has ended.
    QTimer::singleShot(50, client_, [this, width, height] { OnResize(width, height); });
    return;
  }
  sized_ = true;
  screen_.Resize(width, height, kWhite);
  Post(Event::Resize(width, height));
  Invalidate();
}

void QtWindow::OnPaint(QWidget& widget) {
  QPainter painter(&widget);
  QRect all = widget.rect();
  if (screen_.IsNull()) {
    painter.fillRect(all, Qt::white);
    return;
  }
  // The back-buffer's own pixels (0xFFRRGGBB words), not a copy: in the format of
  // the window's backing store they are copied row by row, without a conversion.
  const QImage shown(reinterpret_cast<const uchar*>(screen_.Data()), screen_.Width(),
                     screen_.Height(), static_cast<qsizetype>(screen_.Width()) * 4,
                     QImage::Format_RGB32);
  painter.drawImage(0, 0, shown);
  // Whatever the last shown image does not cover (after a resize) is white.
  if (shown.width() < all.width()) {
    painter.fillRect(QRect(shown.width(), 0, all.width() - shown.width(), all.height()), Qt::white);
  }
  if (shown.height() < all.height()) {
    painter.fillRect(QRect(0, shown.height(), all.width(), all.height() - shown.height()), Qt::white);
  }
}

bool QtWindow::IsAccelerator(int vk, unsigned mods) const {
  return vk != 0 && tarmic::TranslateAccelerator(accel_, vk, mods).has_value();
}

bool QtWindow::TranslateAccelerator(int vk, unsigned mods) {
  if (vk == 0) return false;
  std::optional<int> command = tarmic::TranslateAccelerator(accel_, vk, mods);
  if (!command) return false;
  Post(Event::AcceleratorCommand(*command, vk, mods));
  return true;
}

void QtWindow::AttachMenu(const MenuResource& menu) {
  menu_.Build(*frame_, menu, [](int id) { Post(Event::Command(id)); });
  UpdateMinimumSize();
}

void QtWindow::UpdateMinimumSize() {
  const int barWidth = menu_.Bar() ? menu_.Bar()->sizeHint().width() : 0;
  int width = std::max(kMinClientWidth, barWidth), height = kMinClientHeight;
  // Never larger than the screen has room for: the window must fit it.
  if (roomForClient_.cx > 0) width = std::min(width, roomForClient_.cx);
  if (roomForClient_.cy > 0) height = std::min(height, roomForClient_.cy);
  client_->setMinimumSize(width, height);
}

void QtWindow::FitFrameToScreen() {
  const QRect room = RoomOnScreen(*frame_);
  if (!room.isValid() || !frame_->isVisible() || frame_->isMaximized() || frame_->isFullScreen()) return;
  // The window manager's frame as far as it is known yet (it may add it only after
  // this first look): at least the allowance made for it before the show.
  const QRect outer = frame_->frameGeometry();
  const QRect inner = frame_->geometry();
  const int bar = inner.height() - client_->height();
  const Size around{std::max(outer.width() - client_->width(), kFrameAllowanceX),
                    std::max(outer.height() - client_->height(), bar + kFrameAllowanceY)};
  // The size asked for within that room.
  const WindowOpening fit = FitWindowToRoom(wantedClient_,
                                            Size{kMinClientWidth, kMinClientHeight}, around,
                                            Size{room.width(), room.height()});
  roomForClient_ = fit.room;
  UpdateMinimumSize();
  if (fit.client.cx != client_->width() || fit.client.cy != client_->height())
    frame_->resize(inner.width() - client_->width() + fit.client.cx,
                   inner.height() - client_->height() + fit.client.cy);
  const QRect now = frame_->frameGeometry();
  if (!room.contains(now)) {
    const int x = std::clamp(now.left(), room.left(), std::max(room.left(), room.right() + 1 - now.width()));
    const int y = std::clamp(now.top(), room.top(), std::max(room.top(), room.bottom() + 1 - now.height()));
    frame_->move(x, y);
  }
}

bool QtWindow::CheckMenuItem(int id, bool checked) { return menu_.Check(id, checked); }
bool QtWindow::EnableMenuItem(int id, bool enabled) { return menu_.Enable(id, enabled); }
bool QtWindow::InsertMenuItemBefore(int beforeId, int id, std::string_view text) {
  const bool inserted = menu_.InsertBefore(beforeId, id, text);
  if (inserted) UpdateMinimumSize();
  return inserted;
}
bool QtWindow::DeleteMenuItem(int id) {
  const bool deleted = menu_.Delete(id);
  if (deleted) UpdateMinimumSize();
  return deleted;
}
bool QtWindow::HasMenuItem(int id) const { return menu_.Has(id); }
bool QtWindow::IsMenuItemChecked(int id) const { return menu_.IsChecked(id); }
bool QtWindow::IsMenuItemEnabled(int id) const { return menu_.IsEnabled(id); }

void QtWindow::SetCursor(CursorShape shape) {
  cursor_ = shape;
  Qt::CursorShape qt = Qt::ArrowCursor;
  switch (shape) {
    case CursorShape::Arrow: qt = Qt::ArrowCursor; break;
    case CursorShape::Cross: qt = Qt::CrossCursor; break;
    case CursorShape::SizeWE: qt = Qt::SizeHorCursor; break;
    case CursorShape::Wait: qt = Qt::WaitCursor; break;
  }
  client_->setCursor(qt);
}

void QtWindow::SetCapture() {
  captured_ = true;
  if (client_->isVisible()) client_->grabMouse();
}

void QtWindow::ReleaseCapture() {
  if (captured_ && client_->isVisible()) client_->releaseMouse();
  captured_ = false;
}

void QtWindow::SetTimer(int id, int intervalMs) {
  std::unique_ptr<QTimer>& timer = timers_[id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(),
                     [id]() { Post(Event::TimerTick(id)); });
  }
  // Setting a timer again restarts it with the new interval.
  timer->start(std::max(intervalMs, 1));
}

void QtWindow::KillTimer(int id) { timers_.erase(id); }

}  // namespace tarmic
