#include "platform/worker_threads.h"

#include <mutex>
#include <new>
#include <system_error>
#include <utility>

namespace tarmic {

namespace {

struct StartFailure {
  std::mutex mutex;
  int startsLeft = 0;  // starts that still succeed before fail is called
  std::function<void()> fail;
};

StartFailure& Failure() {
  static StartFailure f;
  return f;
}

// Calls the test's failure when the starts so far have used up its allowance.
void InjectedFailure() {
  StartFailure& f = Failure();
  std::function<void()> fail;
  {
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.fail) return;
    if (f.startsLeft > 0) {
      --f.startsLeft;
      return;
    }
    fail = f.fail;
  }
  fail();
}

}  // namespace

bool TryStartWorkerThread(std::thread* thread, std::function<void()> body) {
  try {
    InjectedFailure();
    *thread = std::thread(std::move(body));
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void SetWorkerThreadStartFailure(int nth, std::function<void()> fail) {
  StartFailure& f = Failure();
  std::lock_guard<std::mutex> lock(f.mutex);
  f.startsLeft = nth > 1 ? nth - 1 : 0;
  f.fail = std::move(fail);
}

}  // namespace tarmic
