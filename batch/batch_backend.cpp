#include "batch/batch_backend.h"

#include <algorithm>
#include <array>
#include <utility>

#include "app/disclaimer.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {

// The questions a batch run answers, by id: the analysis is the parameter file's,
// not one saved beside the data before; a method chosen on the command line is no
// new default; scans are saved as they were loaded; existing results are replaced
// only with --replace. Each takes the answer that changes nothing but the last.
constexpr std::array kAnsweredQuestions = {QuestionId::LoadPreviousAnalysis, QuestionId::RestorePreviousData,
                                           QuestionId::SaveAsDefaultSetting, QuestionId::ConvertIntensities,
                                           QuestionId::ReplaceFiles};

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

std::vector<QuestionId> BatchAnsweredQuestions() {
  return {kAnsweredQuestions.begin(), kAnsweredQuestions.end()};
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

// The main window of the batch: the headless window, which nobody sees.
class BatchBackend::UnseenWindow : public HeadlessWindow {
 public:
  explicit UnseenWindow(TextRenderer& text) : HeadlessWindow(1000, 700, text) {}
  // A request to paint it again paints nothing.
  void Invalidate() override {}
};

BatchBackend::BatchBackend(std::FILE* err, bool progress)
    : err_(err), progress_(progress), window_(std::make_unique<UnseenWindow>(Text())) {
  // How far a computation has got comes as its progress events.
  SetProgressListener([this](const ProgressEvent& event) { Readout(event); });
  // A number or text the program asks for is nobody's to give: the scripted
  // backend's rule for inputs nobody queued cancels it.
  UnscriptedRules rules;
  rules.input = [this](std::string_view prompt, std::string_view) -> std::optional<std::string> {
    NotAnswered(BoxLine("input", prompt));
    return std::nullopt;
  };
  SetUnscriptedRules(std::move(rules));
  answersBefore_ = SetFrontEndAnswers([this](const EngineQuestion& question) { return AnswerByPolicy(question); });
}

BatchBackend::~BatchBackend() {
  SetFrontEndAnswers(std::move(answersBefore_));
  SetProgressListener({});
  EndReadoutLine();
}

Window& BatchBackend::MainWindow() { return *window_; }

void BatchBackend::Readout(const ProgressEvent& event) {
  const std::lock_guard lock(readoutMutex_);
  if (!progress_ || !readouts_) return;
  const std::string row = BoxLine("", event.text);
  if (row.empty()) return;
  // The line shows the stage, the kernels done or the fit's step, and beside it the
  // latest later stage, a fit's best rmsd in place of that: how far the computation
  // has got.
  switch (event.kind) {
    case ProgressKind::Stage:
    case ProgressKind::KernelsDone:
    case ProgressKind::FitStep:
      rows_.clear();
      first_ = row;
      break;
    case ProgressKind::BestRmsd: best_ = row; break;
    case ProgressKind::Detail: rows_ = row; break;
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
  const std::lock_guard lock(readoutMutex_);
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
  const std::string line = BoxLine(caption, named);
  if ((style & 0x0F) == MB_OK) {
    boxes_.push_back({std::string(caption), named, false, "", IDOK});
    Say(line);
    return IDOK;
  }
  // A box of the commands' own questions (RaiseQuestion, AskAs) under the id they
  // opened it with.
  return AnswerQuestionBox(AskedQuestion(), text, caption, style);
}

Answer BatchBackend::AnswerByPolicy(const EngineQuestion& question) {
  // The moment the window would open the box.
  BeforeModal();
  // The computation's questions take No where nobody answers them, as AskingPolicy's box.
  const int answer = AnswerQuestionBox({question.id, IDNO}, question.text, question.caption, question.style);
  return answer == IDYES ? Answer::kYes : Answer::kNo;
}

int BatchBackend::AnswerQuestionBox(const Question& question, std::string_view text, std::string_view caption,
                                    unsigned style) {
  const std::string named = Named(text);
  const std::string line = BoxLine(caption, named);
  // Recorded with its id and the answer the run took.
  boxes_.push_back({std::string(caption), named, true, std::string(QuestionName(question.id)), 0});
  int answer = 0;
  if (std::find(kAnsweredQuestions.begin(), kAnsweredQuestions.end(), question.id) != kAnsweredQuestions.end())
    answer = question.id == QuestionId::ReplaceFiles && replace_ ? IDYES : question.defaultAnswer;
  if (answer == 0) {
    NotAnswered(line);
    boxes_.back().answer = ClosingAnswer(style);
    return boxes_.back().answer;
  }
  boxes_.back().answer = answer;
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
