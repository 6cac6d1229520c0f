// The engine's number questions: the installed presenter answers them; the front
// end's presenter opens the same number prompt the engine opened before.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/headless/headless_backend.h"
#include "prompts/number_question.h"

namespace tarmic {
namespace {

constexpr Quantity kFileNumber{"file number", "", Closed(1.0, 20.0)};

// Typed answers and what the question gives back, by the front end's prompt and by
// an installed presenter that answers without a window.
struct Typed {
  std::optional<std::string> text;  // none: Cancel
  std::optional<float> answer;
};

TEST(NumberQuestion, TheFrontEndsPromptAsksWithTheCaptionAndRange) {
  const std::vector<Typed> sweep = {{"7", 7.0f}, {std::nullopt, std::nullopt}, {"3.5", 3.5f}};
  for (const Typed& t : sweep) {
    ScopedHeadlessBackend backend;
    backend->QueueInput(t.text);
    const std::optional<float> got =
        RaiseNumberQuestion({2.0f, true, "pick file #", "FIX TIME AND W2T", kFileNumber});
    EXPECT_EQ(got, t.answer) << (t.text ? *t.text : "Cancel");
    ASSERT_FALSE(backend->Transcript().empty());
    EXPECT_EQ(backend->Transcript()[0].caption, "FIX TIME AND W2T");
    EXPECT_EQ(backend->Transcript()[0].initial, "2.000000");
  }
  // The range travels with the question: a file number beyond it is refused and
  // asked again.
  ScopedHeadlessBackend backend;
  backend->QueueInput("25");
  backend->QueueMessageBox(IDOK, "FIX TIME AND W2T");
  backend->QueueInput("4");
  EXPECT_EQ(RaiseNumberQuestion({2.0f, true, "pick file #", "FIX TIME AND W2T", kFileNumber}), 4.0f);
}

TEST(NumberQuestion, AnInstalledPresenterAnswersAndTheScopeRestoresTheFrontEnd) {
  std::vector<std::string> asked;
  {
    ScopedNumberPresenter presenter([&asked](const NumberQuestion& q) -> std::optional<float> {
      asked.push_back(q.title.value_or("") + "|" + q.prompt.value_or("") + "|" + q.quantity.name);
      return q.current * 2.0f;
    });
    EXPECT_EQ(RaiseNumberQuestion({1.5f, true, "dilation factor", "CHECK TIME STAMP", kFileNumber}), 3.0f);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{"CHECK TIME STAMP|dilation factor|file number"}));
  // Nobody to ask: no answer.
  ASSERT_FALSE(HasBackend());
  EXPECT_EQ(RaiseNumberQuestion({1.5f, true, "dilation factor", "CHECK TIME STAMP", kFileNumber}), std::nullopt);
}

}  // namespace
}  // namespace tarmic
