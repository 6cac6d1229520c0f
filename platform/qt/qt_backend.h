// The Qt 6 backend of the platform layer: the frame window, modal boxes and
// dialogs, clipboard, printer, sound, the text viewer and the help window. A QApplication must exist
// before it is made. Making it sets the "C" numeric locale and makes Qt fonts the
// default text renderer; destroying it restores the built-in renderer.
#pragma once

#include <QPointer>
#include <QTextBrowser>

#include <memory>
#include <vector>

#include "platform/backend.h"
#include "platform/qt/qt_sound.h"

class QWidget;

namespace tarmic {

class QtTextRenderer;
class QtWindow;

class QtBackend : public Backend {
 public:
  // The client area of the frame window is width x height pixels when first shown.
  explicit QtBackend(int width = 1000, int height = 700);
  ~QtBackend() override;

  Window& MainWindow() override;
  TextRenderer& Text() override;
  QtWindow& QtMainWindow();

 protected:
  int ModalMessageBox(std::string_view text, std::string_view caption, unsigned style) override;
  std::optional<std::string> ModalInputText(std::string_view caption, std::string_view prompt,
                                       std::string_view initial) override;
  std::vector<std::string> ModalOpenFileDialog(const FileDialogOptions& options) override;
  std::optional<std::string> ModalSaveFileDialog(const FileDialogOptions& options) override;
  std::optional<std::string> ModalFolderDialog(const FileDialogOptions& options) override;
  int ModalRunDialog(const DialogTemplate& dialog, TransferBuffer& buffer) override;
 public:
  void Beep(unsigned type) override;

  bool SetClipboardText(const std::string& text) override;
  std::string ClipboardText() override;
  bool SetClipboardPicture(const MetaFile& picture, Size logicalExtent) override;
  bool SetClipboardBitmap(const Image& image) override;

  bool Print(const PrintRequest& request,
             const std::function<void(DC& dc, Size page)>& paint) override;

  void PlaySound(const std::string& wavPath, bool async) override;
  void StopSound() override;

  bool ShowTextFile(const std::string& path) override;
  bool OpenHelpPage(const std::string& path, const std::string& anchor) override;
  // The page in a QTextBrowser window, one for the whole session.
  bool ShowHelpWindow(const std::string& path, const std::string& anchor) override;
  // False on the platforms without desktop services (offscreen, minimal), on a
  // desktop without any of the launchers Qt starts web pages with, and after a
  // page could not be opened in this session.
  bool CanOpenWebPages() override;

  void PumpEvents() override;
  bool WaitEvents(int timeoutMs) override;

 private:
  class ModalScope;
  // The owner of modal boxes: the frame window once it is shown, else none.
  QWidget* Owner() const;

  std::shared_ptr<QtTextRenderer> text_;
  std::unique_ptr<QtWindow> window_;
  QtSoundPlayer sound_;
  std::vector<QPointer<QWidget>> viewers_;
  QPointer<QTextBrowser> help_;
  bool browserFailed_ = false;
  std::string browserFailure_;  // why the browser failed
};

}  // namespace tarmic
