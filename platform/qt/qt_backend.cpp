#include "platform/qt/qt_backend.h"

#include "platform/browser_launch.h"

#include <QApplication>
#include <QScreen>
#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLocale>
#include <QMainWindow>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <stdexcept>

#include "platform/events.h"
#include "platform/system.h"
#include "platform/qt/qpainter_dc.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_help_browser.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_picture_export.h"
#include "platform/qt/qt_text_renderer.h"
#include "platform/qt/qt_window.h"

namespace tarmic {

namespace {

// How often a wait for events looks at the queue even when Qt has nothing to do, so
// that an event posted from another thread is not missed.
constexpr int kQueuePollMs = 100;

}  // namespace

QtBackend::QtBackend(int width, int height) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    throw std::logic_error("QtBackend needs a QApplication");
  }
  // Numbers in files and in the user's input are read and written in the "C" locale
  // whatever the user's locale is.
  std::setlocale(LC_NUMERIC, "C");
  QLocale::setDefault(QLocale::c());
  text_ = std::make_shared<QtTextRenderer>();
  SetDefaultTextRenderer(text_);
  window_ = std::make_unique<QtWindow>(*text_, width, height);
}

QtBackend::~QtBackend() {
  for (QPointer<QWidget>& viewer : viewers_) delete viewer.data();
  viewers_.clear();
  sound_.Stop();
  window_.reset();
  SetDefaultTextRenderer(MakeBuiltinTextRenderer());
}

Window& QtBackend::MainWindow() { return *window_; }
TextRenderer& QtBackend::Text() { return *text_; }
QtWindow& QtBackend::QtMainWindow() { return *window_; }

QWidget* QtBackend::Owner() const {
  QWidget* frame = window_->Frame();
  return frame->isVisible() ? frame : nullptr;
}

// --- modal interaction ------------------------------------------------------------

// Every modal box and dialog gives the keyboard back to the main window when it
// closes, so that accelerators work at once without a click into the window.
class QtBackend::ModalScope {
 public:
  explicit ModalScope(QtWindow& window) : window_(window) {}
  ~ModalScope() {
    window_.RepaintFrame();
    window_.ReclaimKeyboard();
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  QtWindow& window_;
};

int QtBackend::ModalMessageBox(std::string_view text, std::string_view caption, unsigned style) {
  ModalScope scope(*window_);
  return ShowMessageBox(Owner(), text, caption, style);
}

std::optional<std::string> QtBackend::ModalInputText(std::string_view caption, std::string_view prompt,
                                                std::string_view initial) {
  ModalScope scope(*window_);
  return AskText(Owner(), caption, prompt, initial);
}

std::vector<std::string> QtBackend::ModalOpenFileDialog(const FileDialogOptions& options) {
  ModalScope scope(*window_);
  return AskOpenFiles(Owner(), WithStartFolder(options));
}

std::optional<std::string> QtBackend::ModalSaveFileDialog(const FileDialogOptions& options) {
  ModalScope scope(*window_);
  return AskSaveFile(Owner(), WithStartFolder(options));
}

std::optional<std::string> QtBackend::ModalFolderDialog(const FileDialogOptions& options) {
  ModalScope scope(*window_);
  return AskFolder(Owner(), WithStartFolder(options));
}

int QtBackend::ModalRunDialog(const DialogTemplate& dialog, TransferBuffer& buffer) {
  ModalScope scope(*window_);
  return RunTemplateDialog(Owner(), dialog, buffer);
}

void QtBackend::Beep(unsigned) { QApplication::beep(); }

// --- clipboard ------------------------------------------------------------------------

bool QtBackend::SetClipboardText(const std::string& text) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  clipboard->setText(ToQString(text));
  return true;
}

std::string QtBackend::ClipboardText() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  return clipboard ? FromQString(clipboard->text()) : std::string();
}

bool QtBackend::SetClipboardPicture(const MetaFile& picture, Size logicalExtent) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard || logicalExtent.cx == 0 || logicalExtent.cy == 0) return false;
  Size extent{std::abs(logicalExtent.cx), std::abs(logicalExtent.cy)};
  // The copy is bounded by what the picture draws (the plot with its axis titles),
  // one pixel per logical unit, the same area in SVG and PNG.
  const Rect area = PictureContentBounds(picture, extent, *text_);
  const Size size{area.Width(), area.Height()};
  auto mime = std::make_unique<QMimeData>();
  mime->setData(QStringLiteral("image/svg+xml"), PictureToSvg(picture, extent, area, size, *text_));
  QImage image = PictureToImage(picture, extent, area, size, *text_);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  mime->setData(QStringLiteral("image/png"), png);
  mime->setImageData(image);
  clipboard->setMimeData(mime.release());
  return true;
}

bool QtBackend::SetClipboardBitmap(const Image& image) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard || image.IsNull()) return false;
  clipboard->setImage(ToQImage(image));
  return true;
}

// --- printer ----------------------------------------------------------------------------

bool QtBackend::Print(const PrintRequest& request,
                      const std::function<void(DC& dc, Size page)>& paint) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(ToQString(request.documentName));
  if (!request.pdfFile.empty()) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(PathToQString(request.pdfFile));
  } else {
    ModalScope scope(*window_);
    QPrintDialog dialog(&printer, Owner());
    // There is one page and no choice of pages.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (dialog.exec() != QDialog::Accepted) return false;
  }
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  {
    QPainterDC dc(painter, text_.get());
    paint(dc, Size{printer.width(), printer.height()});
  }
  return painter.end();
}

// --- sound and the text viewer ---------------------------------------------------------

void QtBackend::PlaySound(const std::string& wavPath, bool async) { sound_.Play(wavPath, async); }

void QtBackend::StopSound() { sound_.Stop(); }

bool QtBackend::OpenHelpPage(const std::string& path, const std::string& anchor) {
  QUrl url = QUrl::fromLocalFile(PathToQString(path));
  if (!anchor.empty()) url.setFragment(ToQString(anchor));
  BrowserLaunch launch;
  if (const BrowserLauncher& replaced = BrowserLauncherForTesting()) {
    launch = replaced(path, anchor);
  } else {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    launch.opened = QDesktopServices::openUrl(url);
    if (!launch.opened) launch.reason = "the desktop could not open the page";
#else
    // The launcher is watched for a second and a half: a browser that refuses to
    // start ends within it.
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (launcher.isEmpty()) {
      launch.opened = QDesktopServices::openUrl(url);
      if (!launch.opened) launch.reason = "no program to open web pages was found";
    } else {
      launch = LaunchWatched({FromQString(launcher), FromQString(url.toString(QUrl::FullyEncoded))}, 1500);
    }
#endif
  }
  if (!launch.opened) {
    browserFailure_ = launch.reason + RootNote();
    SetLastBrowserFailure(browserFailure_);
  }
  browserFailed_ = browserFailed_ || !launch.opened;
  return launch.opened;
}

bool QtBackend::CanOpenWebPages() {
  // A browser that failed once is not tried again; its reason stays.
  if (browserFailed_) {
    SetLastBrowserFailure(browserFailure_);
    return false;
  }
  if (BrowserLauncherForTesting()) return true;
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
  return true;
#else
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
    SetLastBrowserFailure("the program runs without a display a web browser could use");
    return false;
  }
  // The programs Qt's desktop services start a local page with.
  for (const char* launcher :
       {"xdg-open", "kfmclient", "gnome-open", "google-chrome", "firefox", "mozilla", "opera"})
    if (!QStandardPaths::findExecutable(QLatin1String(launcher)).isEmpty()) return true;
  SetLastBrowserFailure("no web browser and no program to open web pages (xdg-open) was found");
  return false;
#endif
}

bool QtBackend::ShowHelpWindow(const std::string& path, const std::string& anchor) {
  const QString file = PathToQString(path);
  const QFileInfo info(file);
  if (!info.isFile() || !info.isReadable()) return false;
  QTextBrowser* browser = help_.data();
  if (!browser) {
    browser = new HelpBrowser();
    browser->setAttribute(Qt::WA_DeleteOnClose);
    // Links inside the page move within it; links to the web go to a browser.
    browser->setOpenExternalLinks(true);
    // 900 x 700, or less where the screen has less room (1280 x 720 at scale 2 is
    // 640 x 360): the window and its frame stay on the screen.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() - QSize(16, 48) : QSize(900, 700);
    browser->resize(QSize(900, 700).boundedTo(room.expandedTo(QSize(200, 150))));
    if (screen) {
      const QRect free = screen->availableGeometry();
      browser->move(free.left() + std::max(0, (free.width() - browser->width() - 16) / 2),
                    free.top() + std::max(0, (free.height() - browser->height() - 48) / 2));
    }
    help_ = browser;
    viewers_.emplace_back(browser);
  }
  // Shown first, so that the page is laid out at the window's size when it scrolls.
  browser->show();
  browser->raise();
  browser->activateWindow();
  QUrl url = QUrl::fromLocalFile(info.canonicalFilePath());
  // The page on show at another entry only scrolls; another page is read anew.
  if (browser->source().adjusted(QUrl::RemoveFragment) == url && !browser->document()->isEmpty()) {
    if (!anchor.empty()) browser->scrollToAnchor(ToQString(anchor));
  } else {
    if (!anchor.empty()) url.setFragment(ToQString(anchor));
    browser->setSource(url);
  }
  if (anchor.empty()) browser->verticalScrollBar()->setValue(0);
  const QString title = browser->documentTitle();
  browser->setWindowTitle(title.isEmpty() ? info.fileName() : title);
  return true;
}

bool QtBackend::ShowTextFile(const std::string& path) {
  // Regular files only: opening a pipe for reading waits for a writer, which would
  // hold the whole window. The file is opened without waiting and looked at again
  // through its descriptor, so that one replaced by a pipe after the first look
  // is refused as well.
  if (!IsRegularFile(path)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return false;
  }
  QByteArray bytes = file.readAll();
  QString text = ToQString(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

  auto* viewer = new QPlainTextEdit();
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->setReadOnly(true);
  viewer->setLineWrapMode(QPlainTextEdit::NoWrap);
  viewer->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  viewer->setPlainText(text);
  viewer->setWindowTitle(PathToQString(path));
  viewer->resize(800, 600);
  viewer->show();
  viewers_.erase(std::remove_if(viewers_.begin(), viewers_.end(),
                                [](const QPointer<QWidget>& v) { return v.isNull(); }),
                 viewers_.end());
  viewers_.emplace_back(viewer);
  return true;
}

// --- event pumping ----------------------------------------------------------------------

void QtBackend::PumpEvents() {
  QCoreApplication::processEvents();
  // Widgets closed with delete-on-close go away here, as there is no Qt event loop.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool QtBackend::WaitEvents(int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  QTimer wake;
  wake.setSingleShot(true);
  while (UiEvents().Empty()) {
    qint64 remaining = timeoutMs < 0 ? kQueuePollMs : timeoutMs - clock.elapsed();
    if (remaining <= 0) break;
    wake.start(static_cast<int>(std::min<qint64>(remaining, kQueuePollMs)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return true;
}

}  // namespace tarmic
