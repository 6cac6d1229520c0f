// How a computation gets the answer to one of its questions: a policy handed to it
// as a value, never a box it opens itself.
//
// A computation that meets a Yes/No question (the distribution grid's fit limits,
// the DLS transform, VBAR20 after a parameter file is read, ...) takes the policy
// from its caller and asks it. The front end decides what answering means: the
// window's policy shows the box (AskingPolicy, through RaiseQuestion), the batch's
// answers by the question's id from its options and records the question, a test's
// answers as its case wants. The engine of values (engine/engine.h) takes the same
// policy in its options.
#pragma once

#include <functional>
#include <string>

#include "services/computation_events.h"

namespace tarmic {

enum class Answer { kNo, kYes };

// A question as the window asks it: its stable id, its text, and the box's caption
// and style (buttons, icon and default button as MB_...).
struct EngineQuestion {
  QuestionId id = QuestionId::None;
  std::string text;
  std::string caption;
  unsigned style = 0;
};

using AnswerPolicy = std::function<Answer(const EngineQuestion& question)>;

// True when policy answers Yes; an empty policy answers No, the answer that
// changes nothing.
bool AnswersYes(const AnswerPolicy& policy, const EngineQuestion& question);

// The window's policy: the question's box through RaiseQuestion (the notice
// presenter in force shows it; No where nobody is there to ask).
AnswerPolicy AskingPolicy();

// The policy of the front end running the commands: the one a front end installed
// (the batch's), otherwise the window's (AskingPolicy). Only the commands read it;
// they hand it to the computations they start.
AnswerPolicy FrontEndAnswers();
// Installs the front end's policy (an empty one restores AskingPolicy); returns the
// one installed before.
AnswerPolicy SetFrontEndAnswers(AnswerPolicy policy);

}  // namespace tarmic
