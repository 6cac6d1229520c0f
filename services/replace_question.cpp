#include "services/replace_question.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "platform/backend.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "services/computation_events.h"
#include "services/engine_notice.h"

namespace tarmic {

namespace {

struct Consent {
  int depth = 0;
  std::set<std::string> agreed;
};
thread_local Consent t_consent;

// One spelling per file, so that "dir//f" and "dir/./f" are one agreement.
std::string Key(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

// A file that a save would replace: anything but a directory, which no save
// replaces (its write is refused and reported).
bool Exists(const std::string& path) {
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::status(std::filesystem::path(path), ec);
  return std::filesystem::exists(st) && !std::filesystem::is_directory(st);
}

}  // namespace

std::string ReplaceQuestionText(const std::string& existing, std::size_t targetCount) {
  return "file " + existing + " already exists!\n" + (targetCount > 1 ? "Overwrite all?" : "Overwrite?");
}

bool MayReplaceFiles(const std::vector<std::string>& targets) {
  const std::string* existing = nullptr;
  for (const std::string& t : targets) {
    if (t.empty() || t_consent.agreed.count(Key(t)) || !Exists(t)) continue;
    existing = &t;
    break;
  }
  if (existing && !bBatchMode) {
    if (!HasBackend()) return false;
    PlayInfoSound();
    if (RaiseQuestion(QuestionId::ReplaceFiles, ReplaceQuestionText(*existing, targets.size()), "REPLACE FILES?",
                      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDNO) != IDYES)
      return false;
  }
  if (t_consent.depth > 0)
    for (const std::string& t : targets) t_consent.agreed.insert(Key(t));
  return true;
}

ReplaceConsentScope::ReplaceConsentScope() { ++t_consent.depth; }

ReplaceConsentScope::~ReplaceConsentScope() {
  if (--t_consent.depth == 0) t_consent.agreed.clear();
}

}  // namespace tarmic
