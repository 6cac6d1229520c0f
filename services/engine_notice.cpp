#include "services/engine_notice.h"

#include <mutex>
#include <set>
#include <utility>

#include "platform/backend.h"
#include "services/error_box.h"

namespace tarmic {

namespace {

std::mutex& PresenterMutex() {
  static std::mutex m;
  return m;
}

NoticePresenter& Installed() {
  static NoticePresenter presenter;
  return presenter;
}

// The presenter of this moment (copied, so that a notice raised while another
// thread installs one sees either the old or the new).
NoticePresenter Current() {
  std::lock_guard<std::mutex> lock(PresenterMutex());
  return Installed();
}

}  // namespace

NoticePresenter SetNoticePresenter(NoticePresenter presenter) {
  std::lock_guard<std::mutex> lock(PresenterMutex());
  return std::exchange(Installed(), std::move(presenter));
}

int ShowNotice(const EngineNotice& notice) {
  if (notice.kind == EngineNotice::Kind::Error) return ShowError(notice.text, notice.fatal);
  return HasBackend() ? GetBackend().MessageBox(notice.text, notice.caption, notice.style) : notice.unanswered;
}

int RaiseNotice(const EngineNotice& notice) {
  const NoticePresenter presenter = Current();
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

int RaiseBox(const std::string& text, const std::string& caption, unsigned style, int unanswered) {
  EngineNotice notice;
  notice.kind = EngineNotice::Kind::Box;
  notice.text = text;
  notice.caption = caption;
  notice.style = style;
  notice.unanswered = unanswered;
  return RaiseNotice(notice);
}

void RaiseKeptErrors() {
  std::set<std::string> raised;
  for (const std::string& message : TakeWorkerErrors())
    if (raised.insert(message).second) RaiseError(message);
}

ScopedNoticePresenter::ScopedNoticePresenter(NoticePresenter presenter)
    : before_(SetNoticePresenter(std::move(presenter))) {}

ScopedNoticePresenter::~ScopedNoticePresenter() { SetNoticePresenter(std::move(before_)); }

}  // namespace tarmic
