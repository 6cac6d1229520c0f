#include "batch/batch_backend.h"

#include <array>
#include <utility>

#include "app/disclaimer.h"
#include "platform/raster_dc.h"
#include "services/replace_question.h"

namespace tarmic {

namespace {

// The questions a batch run meets on its way and the answer it gives each: the
// analysis is the parameter file's, not one saved beside the data before; a method
// chosen on the command line is no new default; scans are saved as they were
// loaded.
struct FixedAnswer {
  std::string_view text;
  int answer;
};
constexpr std::array kFixedAnswers = {
    FixedAnswer{"load previous analysis?", IDNO},
    FixedAnswer{"restore previous data?", IDNO},
    FixedAnswer{"save as default setting?", IDNO},
    FixedAnswer{"convert intensities to absorbance data?", IDNO},
};

// The client rows of the readouts of a computation: its stage or a fit's step in
// the first, the stages after the kernels down to the last.
constexpr int kFirstReadoutRow = 30;
constexpr int kLastStageRow = 70;

// Whether text is the question before existing files are replaced.
bool IsReplaceQuestion(std::string_view text) {
  // The question for a file named "" gives what follows the name.
  const std::string prefix = "file ";
  for (const std::size_t count : {std::size_t{1}, std::size_t{2}}) {
    const std::string tail = ReplaceQuestionText("", count).substr(prefix.size());
    if (text.starts_with(prefix) && text.ends_with(tail)) return true;
  }
  return false;
}

// The answer that closing the box gives: the one that changes nothing.
int ClosingAnswer(unsigned style) {
  switch (style & 0x0F) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    default: return IDCANCEL;
  }
}

std::string AnswerName(int answer) {
  switch (answer) {
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDCANCEL: return "Cancel";
    default: return "OK";
  }
}

}  // namespace

std::vector<std::string_view> BatchAnsweredQuestions() {
  std::vector<std::string_view> texts;
  for (const FixedAnswer& fixed : kFixedAnswers) texts.push_back(fixed.text);
  return texts;
}

std::string BoxLine(std::string_view caption, std::string_view text) {
  std::string line(caption);
  if (!line.empty()) line += ": ";
  // Lines of the text joined by one blank; blanks at their ends dropped.
  std::string joined;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view part = text.substr(start, end - start);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\r' || part.back() == '\t'))
      part.remove_suffix(1);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    if (!part.empty()) {
      if (!joined.empty()) joined += ' ';
      joined += part;
    }
    start = end + 1;
  }
  // Bell characters sound in the window; they are not text.
  std::erase(joined, '\a');
  return line + joined;
}

// The main window of the batch: the headless window, whose device contexts tell
// the backend the texts drawn on the client area (the readouts of a computation).
class BatchBackend::ReadoutWindow : public HeadlessWindow {
 public:
  ReadoutWindow(BatchBackend& owner, TextRenderer& text) : HeadlessWindow(1000, 700, text), owner_(owner) {}

  std::unique_ptr<DC> ClientDC() override {
    auto dc = std::make_unique<ReadoutDC>(Screen(), owner_);
    dc->SetTextLineMemory(&TextLines());
    return dc;
  }
  // Nobody sees the batch's window: a request to paint it again paints nothing.
  void Invalidate() override {}

 private:
  class ReadoutDC : public RasterDC {
   public:
    ReadoutDC(Image& target, BatchBackend& owner) : RasterDC(target, &owner.Text()), owner_(owner) {}
    void TextOut(int x, int y, std::string_view text) override {
      RasterDC::TextOut(x, y, text);
      if (IsReadout()) owner_.Readout(y, text);
    }
    void ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) override {
      RasterDC::ExtTextOut(x, y, options, clip, text);
      if (IsReadout()) owner_.Readout(y, text);
    }

   private:
    // A readout is written in client pixels on its own background; the labels of
    // the plots are drawn through the plots' mappings.
    bool IsReadout() const {
      return State().mapMode == MapMode::Text && State().bkMode == BkMode::Opaque && State().font.escapement == 0;
    }

    BatchBackend& owner_;
  };

  BatchBackend& owner_;
};

BatchBackend::BatchBackend(std::FILE* err, bool progress)
    : err_(err), progress_(progress), window_(std::make_unique<ReadoutWindow>(*this, Text())) {
  // A number or text the program asks for is nobody's to give: the scripted
  // backend's rule for inputs nobody queued cancels it.
  UnscriptedRules rules;
  rules.input = [this](std::string_view prompt, std::string_view) -> std::optional<std::string> {
    NotAnswered(BoxLine("input", prompt));
    return std::nullopt;
  };
  SetUnscriptedRules(std::move(rules));
}

BatchBackend::~BatchBackend() { EndReadoutLine(); }

Window& BatchBackend::MainWindow() { return *window_; }

void BatchBackend::Readout(int y, std::string_view text) {
  if (!progress_ || !readouts_) return;
  const std::string row = BoxLine("", text);
  if (row.empty()) return;
  // The window writes a computation's stage or fit step in its first readout row,
  // the later stages (normal equations, regularisation) or the rmsd of the
  // evaluation below it, and a fit's best values further down. The line shows the
  // first row and the latest below it, a fit's best rmsd in place of the latter:
  // how far the computation has got.
  if (y <= kFirstReadoutRow) {
    rows_.clear();
    first_ = row;
  } else if (row.starts_with("rmsd=")) {
    best_ = row;
  } else if (y <= kLastStageRow) {
    rows_ = row;
  }
  std::string line = first_;
  const std::string& below = best_.empty() ? rows_ : best_;
  if (!below.empty()) line += (line.empty() ? "" : "  ") + below;
  if (line.empty() || line == readout_) return;
  readout_ = line;
  if (line.size() > 100) line.resize(100);
  std::fprintf(err_, "\r%s\033[K", line.c_str());
  std::fflush(err_);
  readoutOpen_ = true;
}

void BatchBackend::EndReadoutLine() {
  if (!readoutOpen_) return;
  std::fputc('\n', err_);
  std::fflush(err_);
  readoutOpen_ = false;
  readout_.clear();
  first_.clear();
  rows_.clear();
  best_.clear();
}

std::string BatchBackend::Named(std::string_view text) const {
  std::string named(text);
  for (const auto& [copy, user] : copies_)
    for (std::size_t at = named.find(copy); at != std::string::npos; at = named.find(copy, at + user.size()))
      named.replace(at, copy.size(), user);
  return named;
}

void BatchBackend::Say(const std::string& line) {
  EndReadoutLine();
  const std::string shown = Named(line);
  std::fprintf(err_, "%s\n", shown.c_str());
  std::fflush(err_);
}

void BatchBackend::NotAnswered(const std::string& what) {
  unanswered_.push_back(what);
  Say("tarmic-batch: not answered (a batch run asks nothing): " + what);
}

int BatchBackend::ModalMessageBox(std::string_view text, std::string_view caption, unsigned style) {
  const std::string named = Named(text);
  boxes_.push_back({std::string(caption), named, (style & 0x0F) != MB_OK});
  const std::string line = BoxLine(caption, named);
  if ((style & 0x0F) == MB_OK) {
    Say(line);
    return IDOK;
  }
  int answer = 0;
  for (const FixedAnswer& fixed : kFixedAnswers)
    if (text == fixed.text) answer = fixed.answer;
  if (IsReplaceQuestion(text)) answer = replace_ ? IDYES : IDNO;
  if (answer == 0) {
    NotAnswered(line);
    return ClosingAnswer(style);
  }
  Say(line + " [" + AnswerName(answer) + "]");
  return answer;
}

std::vector<std::string> BatchBackend::ModalOpenFileDialog(const FileDialogOptions& options) {
  if (offered_.empty()) {
    NotAnswered(BoxLine("file dialog", options.title));
    return {};
  }
  return std::exchange(offered_, {});
}

std::optional<std::string> BatchBackend::ModalSaveFileDialog(const FileDialogOptions& options) {
  if (saveFolder_.empty() || options.defaultName.empty()) {
    NotAnswered(BoxLine("file dialog", options.title));
    return std::nullopt;
  }
  return saveFolder_ + (saveFolder_.ends_with('/') ? "" : "/") + options.defaultName;
}

std::optional<std::string> BatchBackend::ModalFolderDialog(const FileDialogOptions& options) {
  NotAnswered(BoxLine("folder dialog", options.title));
  return std::nullopt;
}

int BatchBackend::ModalRunDialog(const DialogTemplate& dialog, TransferBuffer&) {
  // The disclaimer of the first start belongs to the window's user: a batch run
  // neither shows it nor records an answer (its settings are its own copies).
  if (&dialog == &DisclaimerDialog()) return kDisclaimerAgree;
  NotAnswered(BoxLine("dialog", dialog.caption));
  return IDCANCEL;
}

}  // namespace tarmic
