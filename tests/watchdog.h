// A guard against a hang in a test: a computation that does not end cannot be
// unwound, so when the scope of a Watchdog has not ended within its limit the test
// program says what hung and ends with a failure. The limit is no measure of speed:
// it only turns "never" into a failed test.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace tarmic::testing {

class Watchdog {
 public:
  explicit Watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(120))
      : what_(std::move(what)) {
    thread_ = std::thread([this, limit] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (cv_.wait_for(lock, limit, [this] { return done_; })) return;
      std::fprintf(stderr, "\nwatchdog: %s did not end within %lld s\n", what_.c_str(),
                   static_cast<long long>(limit.count()));
      std::fflush(stderr);
      std::_Exit(EXIT_FAILURE);
    });
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace tarmic::testing
