// The services that need a window system: the main window shell, modal boxes and
// dialogs, clipboard, printer, sound and the text viewer. The Qt backend provides
// them for the real program; the headless backend answers from a script in tests.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dc.h"
#include "platform/image.h"
#include "platform/metafile.h"
#include "platform/raster_dc.h"
#include "platform/resource_types.h"
#include "platform/types.h"

namespace tarmic {

enum class CursorShape { Arrow, Cross, SizeWE, Wait };

// The program's frame window. Its client area shows the back-buffer image, "the
// screen": painting and all direct drawing go into the image, and Refresh() shows it.
class Window {
 public:
  virtual ~Window() = default;

  virtual void Show() = 0;
  virtual void SetTitle(std::string_view title) = 0;
  virtual std::string Title() const = 0;
  virtual Size ClientSize() const = 0;
  Rect ClientRect() const { Size s = ClientSize(); return Rect{0, 0, s.cx, s.cy}; }

  // The back-buffer, always of the client size.
  virtual Image& Screen() = 0;
  // A device context drawing onto the back-buffer in pixels, with the backend's fonts.
  virtual std::unique_ptr<DC> ClientDC() = 0;
  // The smallest height, in pixels, of the character cell of text drawn through
  // ClientDC: smaller text is drawn at this height, so that it stays readable in a
  // small window. 0: text keeps its height (the scripted backend, whose pixels tests
  // compare).
  virtual int MinTextHeight() const { return 0; }
  // Asks for the whole client area to be painted again (posts one Paint event).
  virtual void Invalidate() = 0;
  // Shows the current back-buffer on the display: at once, or (when refreshes come
  // faster than a display needs them) shortly after, with whatever was drawn by then;
  // the last picture is always shown.
  virtual void Refresh() = 0;

  // Menus. The check, enable and delete operations return false when the attached
  // menu has no item with the identifier.
  virtual void AttachMenu(const MenuResource& menu) = 0;
  virtual bool CheckMenuItem(int id, bool checked) = 0;
  virtual bool EnableMenuItem(int id, bool enabled) = 0;
  virtual bool InsertMenuItemBefore(int beforeId, int id, std::string_view text) = 0;
  virtual bool DeleteMenuItem(int id) = 0;
  virtual bool HasMenuItem(int id) const = 0;
  virtual bool IsMenuItemChecked(int id) const = 0;
  virtual bool IsMenuItemEnabled(int id) const = 0;
  // Accelerators turn key presses into Command events whatever menu is attached.
  virtual void SetAccelerators(const AcceleratorTable& table) = 0;

  virtual void SetCursor(CursorShape shape) = 0;
  virtual CursorShape Cursor() const = 0;
  virtual void SetCapture() = 0;
  virtual void ReleaseCapture() = 0;
  // Periodic timer posting Timer events with the id every intervalMs milliseconds.
  virtual void SetTimer(int id, int intervalMs) = 0;
  virtual void KillTimer(int id) = 0;
  virtual void DragAcceptFiles(bool accept) = 0;

  // The opaque text lines drawn through ClientDC since the client area was last
  // painted whole; the paint that erases the area clears it.
  TextLineMemory& TextLines() { return textLines_; }

 private:
  TextLineMemory textLines_;
};

struct FileDialogOptions {
  std::string title;
  // Filter as pairs "description|pattern;pattern|description|pattern".
  std::string filter;
  std::string directory;    // start directory
  std::string defaultName;  // save dialogs: proposed file name
  std::string defaultExt;   // save dialogs: extension added when none is typed
  bool multiSelect = false;
};

struct PrintRequest {
  std::string documentName;
  // When set, the pages go to this PDF file without a dialog.
  std::string pdfFile;
};

// The system sound of a refused entry (Backend::Beep).
inline constexpr unsigned kBeepAsterisk = 0x40;

// What the program does just before a modal box or dialog opens over its window
// (the window paints again what no longer holds, so that no question stands over a
// picture the program has given up). Backend's modal methods (MessageBox, InputText, the
// file and folder dialogs, RunDialog) call BeforeModal() as they start, before the
// backend's own box; it acts on the user-interface thread only, and not again
// while the action itself runs.
void SetBeforeModal(std::function<void()> action);
void BeforeModal();

class Backend {
 public:
  virtual ~Backend() = default;

  virtual Window& MainWindow() = 0;
  // The text renderer for raster drawing (fonts of the window system).
  virtual TextRenderer& Text() = 0;

  // Modal interaction. Each method asks for BeforeModal() and then opens the
  // backend's own box (the protected Modal* methods below), so that no backend can
  // open a box without it.
  // MessageBox returns IDOK, IDYES, IDNO or IDCANCEL; a Yes/No box closed without
  // either button (Esc) returns IDCANCEL, which callers that ask "== IDYES" take as No.
  int MessageBox(std::string_view text, std::string_view caption, unsigned style) {
    BeforeModal();
    return ModalMessageBox(text, caption, style);
  }
  // One line of text input; nullopt when cancelled.
  std::optional<std::string> InputText(std::string_view caption, std::string_view prompt,
                                       std::string_view initial) {
    BeforeModal();
    return ModalInputText(caption, prompt, initial);
  }
  // Full paths of the chosen files; empty when cancelled.
  std::vector<std::string> OpenFileDialog(const FileDialogOptions& options) {
    BeforeModal();
    return ModalOpenFileDialog(options);
  }
  std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) {
    BeforeModal();
    return ModalSaveFileDialog(options);
  }
  // Full path of a chosen existing folder (title and start folder from options;
  // filter and names are not used); nullopt when cancelled.
  std::optional<std::string> FolderDialog(const FileDialogOptions& options) {
    BeforeModal();
    return ModalFolderDialog(options);
  }
  // Runs a dialog built from a template; IDOK (buffer updated), IDCANCEL (unchanged;
  // also when closed) or the id of another push button of the template (unchanged).
  int RunDialog(const DialogTemplate& dialog, TransferBuffer& buffer) {
    BeforeModal();
    return ModalRunDialog(dialog, buffer);
  }
  // Plays the system sound of that type (kBeepAsterisk: a refused entry).
  virtual void Beep(unsigned type) = 0;

  // Clipboard. A picture is offered as SVG and PNG.
  virtual bool SetClipboardText(const std::string& text) = 0;
  virtual std::string ClipboardText() = 0;
  virtual bool SetClipboardPicture(const MetaFile& picture, Size logicalExtent) = 0;
  virtual bool SetClipboardBitmap(const Image& image) = 0;

  // Printing: paint is called once per page with a DC and the page size in device
  // units. False when cancelled or failed.
  virtual bool Print(const PrintRequest& request,
                     const std::function<void(DC& dc, Size page)>& paint) = 0;

  // Sound: plays a WAV file; a missing file or audio device plays nothing.
  virtual void PlaySound(const std::string& wavPath, bool async) = 0;
  virtual void StopSound() = 0;

  // Shows a text file in a read-only viewer window.
  virtual bool ShowTextFile(const std::string& path) = 0;
  // Opens a local HTML page with the desktop's handler for web pages, scrolled to
  // the element with id anchor when anchor is not empty. False when no handler
  // could be started.
  virtual bool OpenHelpPage(const std::string& path, const std::string& anchor) = 0;
  // Whether a web browser (the desktop's handler for web pages) can be started for
  // OpenHelpPage, as far as can be told before trying.
  virtual bool CanOpenWebPages() { return true; }
  // Shows a local HTML page in a help window of the program (for a desktop without a
  // web browser), scrolled to the element with id anchor when anchor is not empty;
  // a help window that shows the page already only scrolls to the anchor. False when
  // the page cannot be read.
  virtual bool ShowHelpWindow(const std::string& path, const std::string& anchor) = 0;

  // Moves pending window-system input into the event queue and lets the window
  // repaint; returns at once.
  virtual void PumpEvents() = 0;
  // Waits until the event queue holds an event or timeoutMs passed (negative: no
  // limit). False when no event can come any more (a finished script).
  virtual bool WaitEvents(int timeoutMs) = 0;

  // Whether anybody sees the pictures drawn: false for a backend without a display
  // (the batch), whose plots then record no pictures and whose window paints nothing.
  virtual bool PicturesSeen() const { return true; }
 protected:
  // The backend's own boxes, behind the public methods above.
  virtual int ModalMessageBox(std::string_view text, std::string_view caption, unsigned style) = 0;
  virtual std::optional<std::string> ModalInputText(std::string_view caption, std::string_view prompt,
                                                    std::string_view initial) = 0;
  virtual std::vector<std::string> ModalOpenFileDialog(const FileDialogOptions& options) = 0;
  virtual std::optional<std::string> ModalSaveFileDialog(const FileDialogOptions& options) = 0;
  virtual std::optional<std::string> ModalFolderDialog(const FileDialogOptions& options) = 0;
  virtual int ModalRunDialog(const DialogTemplate& dialog, TransferBuffer& buffer) = 0;
};

// The backend in use. SetBackend also marks the calling thread as the
// user-interface thread.
Backend& GetBackend();
bool HasBackend();
// Whether pictures are seen: no backend, or one that shows them.
bool PicturesSeen();
void SetBackend(Backend* backend);

// While one lives (on the user-interface thread), pictures are recorded whatever
// the backend: they are made for files (the result pictures of the batch).
class PicturesForFiles {
 public:
  PicturesForFiles();
  ~PicturesForFiles();
  PicturesForFiles(const PicturesForFiles&) = delete;
  PicturesForFiles& operator=(const PicturesForFiles&) = delete;
};

// The folder in which a file or folder dialog whose options name none starts: the
// program's data folder, which the program supplies here (an empty answer leaves the
// toolkit's default). Both backends apply it to every file and folder dialog.
void SetDialogStartFolder(std::function<std::string()> folder);
// options with the start folder filled in when it names none.
FileDialogOptions WithStartFolder(FileDialogOptions options);


}  // namespace tarmic
