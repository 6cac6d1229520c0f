#include "services/engine_notice.h"

#include <set>
#include <utility>

#include "platform/backend.h"
#include "services/error_box.h"

namespace tarmic {

namespace {

// The bits of a box style that choose its buttons (MB_OK, MB_YESNO, ...).
constexpr unsigned kButtonBits = 0x0F;

PresenterSlot<NoticePresenter>& Installed() {
  static PresenterSlot<NoticePresenter> slot;
  return slot;
}

}  // namespace

NoticePresenter SetNoticePresenter(NoticePresenter presenter) { return Installed().Set(std::move(presenter)); }

int ShowNotice(const EngineNotice& notice) {
  if (notice.kind == EngineNotice::Kind::Error) return ShowError(notice.text, notice.fatal);
  return HasBackend() ? GetBackend().MessageBox(notice.text, notice.caption, notice.style) : notice.unanswered;
}

int RaiseNotice(const EngineNotice& notice) {
  const NoticePresenter presenter = Installed().Get();
  const int answer = presenter ? presenter(notice) : ShowNotice(notice);
  // A failure ends the command even where the presenter only takes note of it.
  if (notice.kind == EngineNotice::Kind::Error && notice.fatal) throw FatalError(notice.text);
  return answer;
}

int RaiseError(const std::string& text) {
  EngineNotice notice;
  notice.text = text;
  return RaiseNotice(notice);
}

void RaiseFailure(const std::string& text) {
  EngineNotice notice;
  notice.text = text;
  notice.fatal = true;
  RaiseNotice(notice);
  throw FatalError(text);  // not reached: RaiseNotice throws for a failure
}

namespace {

EngineNotice BoxNotice(const std::string& text, const std::string& caption, unsigned style, int unanswered) {
  EngineNotice notice;
  notice.kind = EngineNotice::Kind::Box;
  notice.text = text;
  notice.caption = caption;
  notice.style = style;
  notice.unanswered = unanswered;
  return notice;
}

}  // namespace

int RaiseBox(const std::string& text, const std::string& caption, unsigned style, int unanswered) {
  return RaiseNotice(BoxNotice(text, caption, style, unanswered));
}

void RaiseNote(const std::string& text, const std::string& caption, unsigned style) {
  RaiseNotice(BoxNotice(text, caption, style & ~kButtonBits, EngineNotice{}.unanswered));
}

int RaiseQuestion(QuestionId id, const std::string& text, const std::string& caption, unsigned style,
                  int unanswered) {
  EngineNotice notice = BoxNotice(text, caption, style, unanswered);
  notice.question = id;
  // The backend under the presenter learns the id here (a batch answers by it).
  const ScopedQuestion asked(id, unanswered);
  return RaiseNotice(notice);
}

void RaiseKeptErrors() {
  std::set<std::string> raised;
  for (const std::string& message : TakeWorkerErrors())
    if (raised.insert(message).second) RaiseError(message);
}

}  // namespace tarmic
