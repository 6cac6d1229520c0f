// The installed operations of the distribution engine's neighbours, with their
// defaults, and the reporting of engine failures. This is the engine's one place
// that shows boxes: what a run ends with goes up to its caller (ContiRunResult),
// but messages and questions met inside a computation that goes on after them (the
// grid set-up's questions, a warning before the kernels, the inner runs of a
// refinement, Monte Carlo set or time-course window) are shown here when met.
#include "distributions/distribution_hooks.h"

#include <utility>

#include "services/engine_notice.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "platform/backend.h"

namespace tarmic {

DistributionHooks& GetDistributionHooks() {
  static DistributionHooks hooks;
  return hooks;
}

void ResetDistributionHooks() { GetDistributionHooks() = DistributionHooks{}; }

void WriteContiDebugLog(const std::string& text) {
  const auto& h = GetDistributionHooks().writeDebugLog;
  if (h) h(text);
}

bool ContiFitInProgress() {
  const auto& h = GetDistributionHooks().fitInProgress;
  return h ? h() : false;
}

bool ContiWizardMessages() {
  const auto& h = GetDistributionHooks().wizardMessages;
  return h ? h() : false;
}

void ReportDistributionError(int seriesCode, const std::string& text) {
  if (bBatchMode) {
    nSeriesErrorCode = seriesCode;
    return;
  }
  // The report of errors met inside a distribution computation that goes on.
  RaiseError(text);
}

void ShowDistributionError(const std::string& text) {
  if (!bBatchMode) RaiseError(text);
}

void ReportDistributionMessage(int seriesCode, const std::string& text, const char* caption) {
  if (bBatchMode) {
    nSeriesErrorCode = seriesCode;
    return;
  }
  RaiseNote(text, caption, MB_OK | MB_ICONEXCLAMATION);
}

void ShowDistributionNote(const std::string& text) {
  RaiseNote(text, "", MB_OK);
}

void ShowRunMessage(const RunMessage& message) {
  if (message.empty()) return;
  if (message.errorBox) {
    // The box of a RunMessage that a command or an inner run hands here.
    RaiseError(message.text);
    return;
  }
  RaiseNote(message.text, message.caption, message.style);
}

void ReportRunMessage(RunMessage message, RunMessage* sink) {
  if (sink)
    *sink = std::move(message);
  else
    ShowRunMessage(message);
}

}  // namespace tarmic
