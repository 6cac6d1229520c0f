#include "services/computation_events.h"

#include <mutex>
#include <utility>

namespace tarmic {

namespace {

std::mutex g_listenerMutex;
ProgressListener g_listener;

thread_local Question t_question;

}  // namespace

void SetProgressListener(ProgressListener listener) {
  const std::lock_guard lock(g_listenerMutex);
  g_listener = std::move(listener);
}

void ReportProgress(const ProgressEvent& event) {
  ProgressListener listener;
  {
    const std::lock_guard lock(g_listenerMutex);
    listener = g_listener;
  }
  if (listener) listener(event);
}

ScopedQuestion::ScopedQuestion(QuestionId id, int defaultAnswer) : outer_(t_question) {
  t_question = {id, defaultAnswer};
}

ScopedQuestion::~ScopedQuestion() { t_question = outer_; }

Question AskedQuestion() { return t_question; }

std::string_view QuestionName(QuestionId id) {
  switch (id) {
    case QuestionId::None: return "";
    case QuestionId::LoadPreviousAnalysis: return "load-previous-analysis";
    case QuestionId::RestorePreviousData: return "restore-previous-data";
    case QuestionId::SaveAsDefaultSetting: return "save-as-default-setting";
    case QuestionId::ConvertIntensities: return "convert-intensities";
    case QuestionId::ReplaceFiles: return "replace-files";
    case QuestionId::AdjustVbar20: return "adjust-vbar20";
    case QuestionId::TransformToG1: return "transform-to-g1";
    case QuestionId::SmaxBelowLeftFitLimit: return "smax-below-left-fit-limit";
    case QuestionId::SminBeyondRightFitLimit: return "smin-beyond-right-fit-limit";
    case QuestionId::EnterDilationFactor: return "enter-dilation-factor";
    case QuestionId::SaveTimeCorrectedFiles: return "save-time-corrected-files";
    case QuestionId::TimeReferenceScan: return "time-reference-scan";
    case QuestionId::SaveNewData: return "save-new-data";
    case QuestionId::AddNoise: return "add-noise";
    case QuestionId::AddFieldNoise: return "add-field-noise";
  }
  return "";
}

}  // namespace tarmic
