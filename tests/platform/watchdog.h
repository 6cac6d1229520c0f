// A watchdog for tests of code that could hang: when the scope it guards has not
// ended within a generous limit, the test program says which step hung and exits
// with a failure, so that a hang fails the test run instead of stopping it. The
// limit only catches hangs; it measures nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace tarmic::test {

class Watchdog {
 public:
  explicit Watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(200))
      : thread_([this, what = std::move(what), limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "\nwatchdog: %s did not end: it hangs\n", what.c_str());
            std::fflush(stderr);
            std::_Exit(1);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    ended_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the others exist
};

}  // namespace tarmic::test
