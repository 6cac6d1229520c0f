#include "services/answer_policy.h"

#include <utility>

#include "platform/types.h"
#include "services/engine_notice.h"
#include "services/presenter_slot.h"

namespace tarmic {

namespace {

PresenterSlot<AnswerPolicy>& Installed() {
  static PresenterSlot<AnswerPolicy> slot;
  return slot;
}

}  // namespace

bool AnswersYes(const AnswerPolicy& policy, const EngineQuestion& question) {
  return policy && policy(question) == Answer::kYes;
}

AnswerPolicy AskingPolicy() {
  return [](const EngineQuestion& q) {
    return RaiseQuestion(q.id, q.text, q.caption, q.style, IDNO) == IDYES ? Answer::kYes : Answer::kNo;
  };
}

AnswerPolicy FrontEndAnswers() {
  AnswerPolicy installed = Installed().Get();
  return installed ? installed : AskingPolicy();
}

AnswerPolicy SetFrontEndAnswers(AnswerPolicy policy) { return Installed().Set(std::move(policy)); }

}  // namespace tarmic
