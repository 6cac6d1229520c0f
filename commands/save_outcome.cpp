#include "commands/save_outcome.h"

#include <utility>

namespace tarmic {

namespace {
SaveOutcome g_lastSave;
}  // namespace

const SaveOutcome& LastSaveOutcome() { return g_lastSave; }

SaveCommandOutcome::SaveCommandOutcome() { g_lastSave = {}; }

void SaveCommandOutcome::Saved(std::vector<std::string> written) { g_lastSave = {true, std::move(written)}; }

}  // namespace tarmic
