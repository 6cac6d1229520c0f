// The scripted backend for tests. A test queues the answers of the boxes and
// dialogs it expects; every box shown is written to a transcript (kind, caption,
// text). A box with no queued answer is a test failure: UnexpectedBox is thrown
// with its caption and text. The window is a back-buffer image of a fixed size
// with an in-memory menu; clipboard, printer and sound are recorded.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/dialog_keyboard.h"
#include "platform/dialog_layout.h"

namespace tarmic {

class UnexpectedBox : public std::logic_error {
 public:
  explicit UnexpectedBox(const std::string& what) : std::logic_error(what) {}
};

struct TranscriptEntry {
  std::string kind;     // "MessageBox", "Input", "OpenFile", "SaveFile", "Folder", "Dialog",
                        // "TextViewer"
  std::string caption;
  std::string text;
  unsigned style = 0;
  std::string initial;  // "Input": the text the box opened with
};

class HeadlessWindow : public Window {
 public:
  HeadlessWindow(int width, int height, TextRenderer& text);

  void Show() override { shown_ = true; }
  void SetTitle(std::string_view title) override { title_ = title; }
  std::string Title() const override { return title_; }
  Size ClientSize() const override { return Size{screen_.Width(), screen_.Height()}; }
  Image& Screen() override { return screen_; }
  std::unique_ptr<DC> ClientDC() override;
  void Invalidate() override;
  void Refresh() override { ++refreshCount_; }

  void AttachMenu(const MenuResource& menu) override;
  bool CheckMenuItem(int id, bool checked) override;
  bool EnableMenuItem(int id, bool enabled) override;
  bool InsertMenuItemBefore(int beforeId, int id, std::string_view text) override;
  bool DeleteMenuItem(int id) override;
  bool HasMenuItem(int id) const override;
  bool IsMenuItemChecked(int id) const override;
  bool IsMenuItemEnabled(int id) const override;
  void SetAccelerators(const AcceleratorTable& table) override { accel_ = table; }

  void SetCursor(CursorShape shape) override { cursor_ = shape; }
  CursorShape Cursor() const override { return cursor_; }
  void SetCapture() override { captured_ = true; }
  void ReleaseCapture() override { captured_ = false; }
  void SetTimer(int id, int intervalMs) override { timers_[id] = intervalMs; }
  void KillTimer(int id) override { timers_.erase(id); }
  void DragAcceptFiles(bool accept) override { acceptsDrops_ = accept; }

  // Test helpers.
  void Resize(int width, int height);  // resizes the screen and posts a Size event
  const MenuResource& Menu() const { return menu_; }
  const AcceleratorTable& Accelerators() const { return accel_; }
  bool IsShown() const { return shown_; }
  bool IsCaptured() const { return captured_; }
  bool AcceptsDrops() const { return acceptsDrops_; }
  const std::map<int, int>& Timers() const { return timers_; }
  // Posts the Timer event of a running timer, as the end of its period would;
  // false (nothing posted) when no timer with the id runs.
  bool FireTimer(int id);
  int RefreshCount() const { return refreshCount_; }
  // Posts the events of a key press: KeyDown (or the accelerator's Command), Char
  // for keys that give a character, KeyUp. ch = 0 derives the character from the key
  // (letters, digits, space, Tab, Enter, Esc, Backspace; Ctrl+letter gives 1..26,
  // Alt gives none); ch > 0 is used as it is; ch < 0 posts no Char.
  // The menu bar's key (F10) posts nothing and is counted in MenuBarKeys.
  void PressKey(int vk, unsigned mods = 0, int ch = 0);
  int MenuBarKeys() const { return menuBarKeys_; }
  // A click on the menu item of a command: posts the command when the attached menu
  // has the item and it is enabled; a greyed or missing item posts nothing (false).
  bool ChooseMenuItem(int id);
  // F1 on the highlighted menu item of a command, greyed or not: posts the command as
  // a help request (false, nothing posted, when the menu has no such item).
  bool HelpOnMenuItem(int id);
  // Posts a click: button down and up at (x, y); with doubleClick the sequence of
  // a double click (down, up, double-click, up). mods are added to the button bit.
  void Click(int x, int y, bool right = false, unsigned mods = 0, bool doubleClick = false);

 private:
  MenuItem* Find(int id);
  const MenuItem* Find(int id) const;

  Image screen_;
  TextRenderer& text_;
  std::string title_;
  MenuResource menu_;
  std::set<int> checked_;
  std::set<int> disabled_;
  AcceleratorTable accel_;
  CursorShape cursor_ = CursorShape::Arrow;
  bool shown_ = false;
  bool captured_ = false;
  int menuBarKeys_ = 0;
  bool acceptsDrops_ = false;
  std::map<int, int> timers_;
  int refreshCount_ = 0;
};

class HeadlessBackend : public Backend {
 public:
  explicit HeadlessBackend(int width = 1000, int height = 700);
  ~HeadlessBackend() override;

  // --- the script ---
  // Answer of the next message box; when expectCaption is not empty the box's
  // caption must equal it.
  void QueueMessageBox(int result, std::string expectCaption = {});
  // The next message box is answered with Enter: the result of its default button.
  void QueueMessageBoxEnter(std::string expectCaption = {});
  // Answer of the next text/number input (nullopt = Cancel).
  void QueueInput(std::optional<std::string> text);
  // Answer of the next open-file dialog (empty = Cancel).
  void QueueOpenFiles(std::vector<std::string> paths);
  void QueueSaveFile(std::optional<std::string> path);
  // Answer of the next folder dialog (nullopt = Cancel).
  void QueueFolder(std::optional<std::string> path);
  // The folder the last file or folder dialog started in (SetDialogStartFolder
  // applied).
  const std::string& LastDialogFolder() const { return lastDialogFolder_; }
  // Answer of the next template dialog: the result and the control values the
  // "user" typed (merged into the transfer buffer on IDOK).
  void QueueDialog(int result, TransferBuffer values = {});
  // Answer of the next template dialog given as the keys the "user" presses in it
  // (KeyedDialog); the dialog ends at the key that ends it, and a Ctrl+C in it
  // puts what it copies on the clipboard. Keys that do not end it are a test
  // failure (UnexpectedBox).
  void QueueDialogKeys(std::vector<DialogKey> keys);
  // The pixel layout of the last template dialog shown (dialog font: the built-in
  // text renderer at a 13-pixel line).
  const DialogPixelLayout& LastDialogLayout() const { return lastDialogLayout_; }
  // Whether every queued answer has been used.
  bool AllAnswersUsed() const;
  // Answers every message box for which no answer is queued with result, and every
  // unscripted input with Cancel, instead of failing (for running readers over
  // arbitrary input, where which boxes appear is not known beforehand).
  void AnswerUnscriptedBoxes(int result) { unscriptedBoxAnswer_ = result; }
  // Cancels every open-file, save-file and template dialog for which no answer is
  // queued, instead of failing (for walking through commands whose dialogs are not
  // known beforehand).
  void CancelUnscriptedDialogs() { cancelUnscriptedDialogs_ = true; }
  // Rules that answer what no script answers (for walking through commands with
  // every question answered by what it asks): each rule that is set answers its
  // kind before AnswerUnscriptedBoxes and CancelUnscriptedDialogs are consulted.
  struct UnscriptedRules {
    std::function<int(std::string_view text, std::string_view caption, unsigned style)> box;
    std::function<std::optional<std::string>(std::string_view prompt, std::string_view initial)> input;
    std::function<std::vector<std::string>(const FileDialogOptions&)> open;
    std::function<std::optional<std::string>(const FileDialogOptions&)> save;
    std::function<std::optional<std::string>(const FileDialogOptions&)> folder;
  };
  void SetUnscriptedRules(UnscriptedRules rules) { rules_ = std::move(rules); }

  // --- what happened ---
  const std::vector<TranscriptEntry>& Transcript() const { return transcript_; }
  void ClearTranscript() { transcript_.clear(); }
  // Captions of the message boxes shown, in order.
  std::vector<std::string> MessageBoxCaptions() const;
  struct PlayedSound {
    std::string path;
    bool async;
  };
  const std::vector<PlayedSound>& PlayedSounds() const { return sounds_; }
  int BeepCount() const { return beeps_; }
  std::string ClipboardTextValue() const { return clipText_; }
  const MetaFile* ClipboardPicture() const { return clipPicture_.get(); }
  const Image* ClipboardBitmap() const { return clipBitmap_.get(); }
  // Pages printed, as images rendered at 1/10 of the page size: the headless printer
  // has A4 pages of 2480 x 3508 device pixels (300 dpi); paint receives the page size
  // 248 x 350 of the image it draws into.
  int PrintedPages() const { return printedPages_; }
  const std::vector<Image>& PrintedImages() const { return printedImages_; }
  // Answer of the print dialog: false makes Print report a cancel (default true).
  void SetPrintAccepted(bool accepted) { printAccepted_ = accepted; }
  // Help pages asked for, in order; no browser is started.
  struct OpenedHelpPage {
    std::string path;
    std::string anchor;
  };
  const std::vector<OpenedHelpPage>& OpenedHelpPages() const { return helpPages_; }
  // Whether a web browser starts for OpenHelpPage (default true); without one
  // OpenHelpPage records nothing and fails.
  void SetBrowserAvailable(bool available) { browserAvailable_ = available; }
  // Pages shown in the program's help window, in order.
  const std::vector<OpenedHelpPage>& HelpWindowPages() const { return helpWindowPages_; }

  HeadlessWindow& Headless() { return *window_; }

  // --- Backend ---
  Window& MainWindow() override { return *window_; }
  TextRenderer& Text() override { return *text_; }
 protected:
  int ModalMessageBox(std::string_view text, std::string_view caption, unsigned style) override;
  std::optional<std::string> ModalInputText(std::string_view caption, std::string_view prompt,
                                       std::string_view initial) override;
  std::vector<std::string> ModalOpenFileDialog(const FileDialogOptions& options) override;
  std::optional<std::string> ModalSaveFileDialog(const FileDialogOptions& options) override;
  // Recorded as "Folder" with the title as caption and the start folder as text.
  std::optional<std::string> ModalFolderDialog(const FileDialogOptions& options) override;
  int ModalRunDialog(const DialogTemplate& dialog, TransferBuffer& buffer) override;
 public:
  void Beep(unsigned) override { ++beeps_; }
  bool SetClipboardText(const std::string& text) override;
  std::string ClipboardText() override { return clipText_; }
  bool SetClipboardPicture(const MetaFile& picture, Size logicalExtent) override;
  bool SetClipboardBitmap(const Image& image) override;
  bool Print(const PrintRequest& request,
             const std::function<void(DC& dc, Size page)>& paint) override;
  void PlaySound(const std::string& wavPath, bool async) override;
  void StopSound() override {}
  bool ShowTextFile(const std::string& path) override;
  bool OpenHelpPage(const std::string& path, const std::string& anchor) override;
  bool ShowHelpWindow(const std::string& path, const std::string& anchor) override;
  bool CanOpenWebPages() override { return browserAvailable_; }
  // The window system hands over the input typed meanwhile here (the key polls of
  // a computation pump before they look at the queue): the hook, when set, runs at
  // every pump, so that a test can type a key at a chosen poll, as the Qt backend
  // posts the keys typed during a computation at its polls.
  void PumpEvents() override {
    ++pumps_;
    if (pumpHook_) pumpHook_();
  }
  bool WaitEvents(int timeoutMs) override;
  void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }
  int PumpCount() const { return pumps_; }

 private:
  DialogFontMeasures DialogFont();
  [[noreturn]] void Unexpected(const std::string& kind, std::string_view caption,
                               std::string_view text);

  std::shared_ptr<TextRenderer> text_;
  std::unique_ptr<HeadlessWindow> window_;
  struct BoxAnswer {
    int result;  // kEnter: the box's default button
    std::string caption;
  };
  static constexpr int kEnter = -1;
  std::deque<BoxAnswer> boxAnswers_;
  DialogPixelLayout lastDialogLayout_;
  std::optional<int> unscriptedBoxAnswer_;
  bool cancelUnscriptedDialogs_ = false;
  UnscriptedRules rules_;
  std::deque<std::optional<std::string>> inputAnswers_;
  std::deque<std::vector<std::string>> openAnswers_;
  std::deque<std::optional<std::string>> saveAnswers_;
  std::deque<std::optional<std::string>> folderAnswers_;
  std::string lastDialogFolder_;
  struct DialogAnswer {
    int result;
    TransferBuffer values;
    std::optional<std::vector<DialogKey>> keys;
  };
  std::deque<DialogAnswer> dialogAnswers_;
  std::vector<TranscriptEntry> transcript_;
  std::vector<PlayedSound> sounds_;
  int beeps_ = 0;
  std::string clipText_;
  std::unique_ptr<MetaFile> clipPicture_;
  std::unique_ptr<Image> clipBitmap_;
  int printedPages_ = 0;
  std::vector<Image> printedImages_;
  bool printAccepted_ = true;
  std::vector<OpenedHelpPage> helpPages_;
  std::function<void()> pumpHook_;
  int pumps_ = 0;
  bool browserAvailable_ = true;
  std::vector<OpenedHelpPage> helpWindowPages_;
};

// Installs a fresh HeadlessBackend as the backend for the lifetime of the object
// (tests): the previous backend is restored afterwards. The UI event queue is
// emptied on installation and on removal, so tests do not see each other's events.
class ScopedHeadlessBackend {
 public:
  explicit ScopedHeadlessBackend(int width = 1000, int height = 700);
  ~ScopedHeadlessBackend();
  HeadlessBackend& operator*() { return *backend_; }
  HeadlessBackend* operator->() { return backend_.get(); }

 private:
  std::unique_ptr<HeadlessBackend> backend_;
  Backend* previous_;
};

}  // namespace tarmic
