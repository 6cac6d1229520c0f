// The scripted backend for tests.
#include "platform/headless/headless_backend.h"

#include "platform/browser_launch.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/events.h"

namespace tarmic {

// ================================================================ window

HeadlessWindow::HeadlessWindow(int width, int height, TextRenderer& text)
    : screen_(width, height, kWhite), text_(text) {}

std::unique_ptr<DC> HeadlessWindow::ClientDC() {
  auto dc = std::make_unique<RasterDC>(screen_, &text_);
  dc->SetTextLineMemory(&TextLines());
  return dc;
}

void HeadlessWindow::Invalidate() { UiEvents().Post(Event::Repaint()); }

void HeadlessWindow::Resize(int width, int height) {
  screen_.Resize(width, height, kWhite);
  UiEvents().Post(Event::Resize(width, height));
}

namespace {

MenuItem* FindItem(std::vector<MenuItem>& items, int id) {
  for (MenuItem& item : items) {
    if (!item.separator && item.id == id) return &item;
    if (MenuItem* found = FindItem(item.children, id)) return found;
  }
  return nullptr;
}

// The list that holds the item with the identifier, and its position there.
std::vector<MenuItem>* FindParent(std::vector<MenuItem>& items, int id, std::size_t& index) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!items[i].separator && items[i].id == id) {
      index = i;
      return &items;
    }
    if (auto* found = FindParent(items[i].children, id, index)) return found;
  }
  return nullptr;
}

}  // namespace

MenuItem* HeadlessWindow::Find(int id) { return id == 0 ? nullptr : FindItem(menu_.items, id); }

const MenuItem* HeadlessWindow::Find(int id) const { return FindMenuItem(menu_, id); }

void HeadlessWindow::AttachMenu(const MenuResource& menu) {
  menu_ = menu;
  checked_.clear();
  disabled_.clear();
}

bool HeadlessWindow::CheckMenuItem(int id, bool checked) {
  if (!Find(id)) return false;
  if (checked)
    checked_.insert(id);
  else
    checked_.erase(id);
  return true;
}

bool HeadlessWindow::EnableMenuItem(int id, bool enabled) {
  if (!Find(id)) return false;
  if (enabled)
    disabled_.erase(id);
  else
    disabled_.insert(id);
  return true;
}

bool HeadlessWindow::InsertMenuItemBefore(int beforeId, int id, std::string_view text) {
  if (beforeId == 0) return false;
  std::size_t index = 0;
  std::vector<MenuItem>* list = FindParent(menu_.items, beforeId, index);
  if (!list) return false;
  MenuItem item;
  item.id = id;
  item.text = std::string(text);
  list->insert(list->begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
  return true;
}

bool HeadlessWindow::DeleteMenuItem(int id) {
  if (id == 0) return false;
  std::size_t index = 0;
  std::vector<MenuItem>* list = FindParent(menu_.items, id, index);
  if (!list) return false;
  list->erase(list->begin() + static_cast<std::ptrdiff_t>(index));
  if (!Find(id)) {  // the same identifier may appear twice
    checked_.erase(id);
    disabled_.erase(id);
  }
  return true;
}

bool HeadlessWindow::HasMenuItem(int id) const { return Find(id) != nullptr; }

bool HeadlessWindow::IsMenuItemChecked(int id) const { return Find(id) && checked_.count(id) > 0; }

bool HeadlessWindow::IsMenuItemEnabled(int id) const { return Find(id) && disabled_.count(id) == 0; }

namespace {
// The character a key press gives, 0 for none.
int CharOfKey(int vk, unsigned mods) {
  if (mods & MK_ALT) return 0;
  if (vk >= 'A' && vk <= 'Z') {
    if (mods & MK_CONTROL) return vk - 'A' + 1;
    return (mods & MK_SHIFT) ? vk : vk - 'A' + 'a';
  }
  if (mods & MK_CONTROL) return 0;
  if (vk >= '0' && vk <= '9') return vk;
  switch (vk) {
    case VK_SPACE: return ' ';
    case VK_RETURN: return 13;
    case VK_ESCAPE: return 27;
    case VK_TAB: return 9;
    case VK_BACK: return 8;
    default: return 0;
  }
}
}  // namespace

bool HeadlessWindow::ChooseMenuItem(int id) {
  if (!IsMenuItemEnabled(id)) return false;
  UiEvents().Post(Event::Command(id));
  return true;
}

bool HeadlessWindow::HelpOnMenuItem(int id) {
  if (!HasMenuItem(id)) return false;
  UiEvents().Post(Event::HelpCommand(id));
  return true;
}

bool HeadlessWindow::FireTimer(int id) {
  if (timers_.find(id) == timers_.end()) return false;
  UiEvents().Post(Event::TimerTick(id));
  return true;
}

void HeadlessWindow::PressKey(int vk, unsigned mods, int ch) {
  EventQueue& q = UiEvents();
  if (IsMenuBarKey(vk, mods)) {
    // The menu bar takes the key, as on the screen: the program sees nothing.
    ++menuBarKeys_;
    return;
  }
  if (std::optional<int> command = TranslateAccelerator(accel_, vk, mods)) {
    q.Post(Event::AcceleratorCommand(*command, vk, mods));
  } else {
    q.Post(Event::KeyDown(vk, mods));
    int c = ch == 0 ? CharOfKey(vk, mods) : ch;
    if (c > 0) q.Post(Event::Char(c));
  }
  q.Post(Event::KeyUp(vk, mods));
}

void HeadlessWindow::Click(int x, int y, bool right, unsigned mods, bool doubleClick) {
  EventQueue& q = UiEvents();
  const unsigned bit = right ? MK_RBUTTON : MK_LBUTTON;
  const EventType down = right ? EventType::RButtonDown : EventType::LButtonDown;
  const EventType up = right ? EventType::RButtonUp : EventType::LButtonUp;
  const EventType dbl = right ? EventType::RButtonDblClk : EventType::LButtonDblClk;
  q.Post(Event::Mouse(down, x, y, mods | bit));
  q.Post(Event::Mouse(up, x, y, mods));
  if (doubleClick) {
    q.Post(Event::Mouse(dbl, x, y, mods | bit));
    q.Post(Event::Mouse(up, x, y, mods));
  }
}

// ================================================================ backend

HeadlessBackend::HeadlessBackend(int width, int height)
    : text_(MakeBuiltinTextRenderer()),
      window_(std::make_unique<HeadlessWindow>(width, height, *text_)) {}

HeadlessBackend::~HeadlessBackend() {
  if (HasBackend() && &GetBackend() == this) SetBackend(nullptr);
}

void HeadlessBackend::QueueMessageBox(int result, std::string expectCaption) {
  boxAnswers_.push_back(BoxAnswer{result, std::move(expectCaption)});
}
void HeadlessBackend::QueueMessageBoxEnter(std::string expectCaption) {
  boxAnswers_.push_back(BoxAnswer{kEnter, std::move(expectCaption)});
}
void HeadlessBackend::QueueInput(std::optional<std::string> text) {
  inputAnswers_.push_back(std::move(text));
}
void HeadlessBackend::QueueOpenFiles(std::vector<std::string> paths) {
  openAnswers_.push_back(std::move(paths));
}
void HeadlessBackend::QueueFolder(std::optional<std::string> path) {
  folderAnswers_.push_back(std::move(path));
}

void HeadlessBackend::QueueSaveFile(std::optional<std::string> path) {
  saveAnswers_.push_back(std::move(path));
}
void HeadlessBackend::QueueDialog(int result, TransferBuffer values) {
  dialogAnswers_.push_back(DialogAnswer{result, std::move(values), std::nullopt});
}
void HeadlessBackend::QueueDialogKeys(std::vector<DialogKey> keys) {
  dialogAnswers_.push_back(DialogAnswer{IDCANCEL, {}, std::move(keys)});
}

bool HeadlessBackend::AllAnswersUsed() const {
  return boxAnswers_.empty() && inputAnswers_.empty() && openAnswers_.empty() &&
         saveAnswers_.empty() && folderAnswers_.empty() && dialogAnswers_.empty();
}

std::vector<std::string> HeadlessBackend::MessageBoxCaptions() const {
  std::vector<std::string> out;
  for (const TranscriptEntry& e : transcript_)
    if (e.kind == "MessageBox") out.push_back(e.caption);
  return out;
}

void HeadlessBackend::Unexpected(const std::string& kind, std::string_view caption,
                                 std::string_view text) {
  throw UnexpectedBox("unexpected " + kind + ": caption \"" + std::string(caption) +
                      "\", text \"" + std::string(text) + "\"");
}

int HeadlessBackend::ModalMessageBox(std::string_view text, std::string_view caption, unsigned style) {
  transcript_.push_back(TranscriptEntry{"MessageBox", std::string(caption), std::string(text), style});
  if (boxAnswers_.empty() && rules_.box) return rules_.box(text, caption, style);
  if (boxAnswers_.empty() && unscriptedBoxAnswer_) return *unscriptedBoxAnswer_;
  if (boxAnswers_.empty()) Unexpected("MessageBox (no answer queued)", caption, text);
  BoxAnswer answer = boxAnswers_.front();
  if (!answer.caption.empty() && answer.caption != caption)
    Unexpected("MessageBox (expected caption \"" + answer.caption + "\")", caption, text);
  boxAnswers_.pop_front();
  return answer.result == kEnter ? DefaultButtonResult(style) : answer.result;
}

std::optional<std::string> HeadlessBackend::ModalInputText(std::string_view caption,
                                                      std::string_view prompt,
                                                      std::string_view initial) {
  transcript_.push_back(
      TranscriptEntry{"Input", std::string(caption), std::string(prompt), 0, std::string(initial)});
  if (inputAnswers_.empty() && rules_.input) return rules_.input(prompt, initial);
  if (inputAnswers_.empty() && unscriptedBoxAnswer_) return std::nullopt;
  if (inputAnswers_.empty()) Unexpected("Input (no answer queued)", caption, prompt);
  std::optional<std::string> answer = std::move(inputAnswers_.front());
  inputAnswers_.pop_front();
  return answer;
}

std::vector<std::string> HeadlessBackend::ModalOpenFileDialog(const FileDialogOptions& options) {
  lastDialogFolder_ = WithStartFolder(options).directory;
  transcript_.push_back(TranscriptEntry{"OpenFile", options.title, options.filter, 0});
  if (openAnswers_.empty() && rules_.open) return rules_.open(options);
  if (openAnswers_.empty() && cancelUnscriptedDialogs_) return {};
  if (openAnswers_.empty()) Unexpected("OpenFile (no answer queued)", options.title, options.filter);
  std::vector<std::string> answer = std::move(openAnswers_.front());
  openAnswers_.pop_front();
  return answer;
}

std::optional<std::string> HeadlessBackend::ModalSaveFileDialog(const FileDialogOptions& options) {
  lastDialogFolder_ = WithStartFolder(options).directory;
  transcript_.push_back(TranscriptEntry{"SaveFile", options.title, options.defaultName, 0});
  if (saveAnswers_.empty() && rules_.save) return rules_.save(options);
  if (saveAnswers_.empty() && cancelUnscriptedDialogs_) return std::nullopt;
  if (saveAnswers_.empty())
    Unexpected("SaveFile (no answer queued)", options.title, options.defaultName);
  std::optional<std::string> answer = std::move(saveAnswers_.front());
  saveAnswers_.pop_front();
  return answer;
}

std::optional<std::string> HeadlessBackend::ModalFolderDialog(const FileDialogOptions& options) {
  lastDialogFolder_ = WithStartFolder(options).directory;
  transcript_.push_back(TranscriptEntry{"Folder", options.title, options.directory, 0});
  if (folderAnswers_.empty() && rules_.folder) return rules_.folder(options);
  if (folderAnswers_.empty() && cancelUnscriptedDialogs_) return std::nullopt;
  if (folderAnswers_.empty()) Unexpected("Folder (no answer queued)", options.title, options.directory);
  std::optional<std::string> answer = std::move(folderAnswers_.front());
  folderAnswers_.pop_front();
  return answer;
}

DialogFontMeasures HeadlessBackend::DialogFont() {
  constexpr int kLine = 13;
  DialogFontMeasures m;
  m.textWidth = [this](std::string_view s) {
    return static_cast<double>(text_->Measure(Font{}, kLine, s).width);
  };
  m.averageCharWidth = AverageCharWidth(m.textWidth);
  m.charHeight = kLine;
  // A one-pixel frame and two pixels of margin on each side, as a plain edit field.
  m.editPadding = 6.0;
  return m;
}

int HeadlessBackend::ModalRunDialog(const DialogTemplate& dialog, TransferBuffer& buffer) {
  transcript_.push_back(TranscriptEntry{"Dialog", dialog.caption, dialog.name, 0});
  lastDialogLayout_ = LayOutDialog(dialog, buffer, DialogFont());
  if (dialogAnswers_.empty() && cancelUnscriptedDialogs_) return IDCANCEL;
  if (dialogAnswers_.empty()) Unexpected("Dialog (no answer queued)", dialog.caption, dialog.name);
  DialogAnswer answer = std::move(dialogAnswers_.front());
  dialogAnswers_.pop_front();
  if (answer.keys) {
    KeyedDialog keyed(dialog, buffer);
    std::optional<int> result;
    for (const DialogKey& key : *answer.keys) {
      if (result) Unexpected("Dialog (keys after its end)", dialog.caption, dialog.name);
      result = keyed.Press(key);
      if (keyed.Copied()) clipText_ = *keyed.Copied();
    }
    if (!result) Unexpected("Dialog (the keys did not end it)", dialog.caption, dialog.name);
    if (*result == IDOK) {
      buffer.text = keyed.Values().text;
      buffer.checked = keyed.Values().checked;
    }
    return *result;
  }
  if (answer.result == IDOK) {
    for (auto& [id, text] : answer.values.text) buffer.text[id] = text;
    for (auto& [id, on] : answer.values.checked) {
      buffer.checked[id] = on;
      // Checking a radio button clears the others of its group, as the real one does.
      const DialogControl* c = dialog.Find(id);
      if (on && c && c->kind == ControlKind::RadioButton) {
        for (const DialogControl& other : dialog.controls)
          if (other.id != id && other.kind == ControlKind::RadioButton && other.group == c->group &&
              !answer.values.checked.count(other.id))
            buffer.checked[other.id] = false;
      }
    }
  }
  return answer.result;
}

bool HeadlessBackend::SetClipboardText(const std::string& text) {
  clipText_ = text;
  return true;
}

bool HeadlessBackend::SetClipboardPicture(const MetaFile& picture, Size) {
  clipPicture_ = std::make_unique<MetaFile>(picture);
  return true;
}

bool HeadlessBackend::SetClipboardBitmap(const Image& image) {
  clipBitmap_ = std::make_unique<Image>(image);
  return true;
}

bool HeadlessBackend::Print(const PrintRequest& request,
                            const std::function<void(DC& dc, Size page)>& paint) {
  (void)request;
  if (!printAccepted_) return false;
  Image page(248, 350, kWhite);
  {
    RasterDC dc(page, text_.get());
    paint(dc, Size{page.Width(), page.Height()});
  }
  printedImages_.push_back(std::move(page));
  ++printedPages_;
  return true;
}

void HeadlessBackend::PlaySound(const std::string& wavPath, bool async) {
  sounds_.push_back(PlayedSound{wavPath, async});
}

bool HeadlessBackend::ShowTextFile(const std::string& path) {
  transcript_.push_back(TranscriptEntry{"TextViewer", "", path, 0});
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HeadlessBackend::OpenHelpPage(const std::string& path, const std::string& anchor) {
  if (!browserAvailable_) return false;
  // A test's launch stands for the browser: one that fails says why.
  if (const BrowserLauncher& launcher = BrowserLauncherForTesting()) {
    const BrowserLaunch launch = launcher(path, anchor);
    if (!launch.opened) {
      SetLastBrowserFailure(launch.reason);
      return false;
    }
  }
  helpPages_.push_back(OpenedHelpPage{path, anchor});
  return true;
}

bool HeadlessBackend::ShowHelpWindow(const std::string& path, const std::string& anchor) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  helpWindowPages_.push_back(OpenedHelpPage{path, anchor});
  return true;
}

bool HeadlessBackend::WaitEvents(int) { return !UiEvents().Empty(); }

// ================================================================ scoped installation

ScopedHeadlessBackend::ScopedHeadlessBackend(int width, int height)
    : backend_(std::make_unique<HeadlessBackend>(width, height)),
      previous_(HasBackend() ? &GetBackend() : nullptr) {
  UiEvents().Clear();
  SetBackend(backend_.get());
}

ScopedHeadlessBackend::~ScopedHeadlessBackend() {
  SetBackend(previous_);
  UiEvents().Clear();
}

}  // namespace tarmic
