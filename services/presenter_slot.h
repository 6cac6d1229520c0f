// The slot of a presenter the front end installs for what the engine raises (its
// notices, its number questions), and the scope that installs one for a while.
#pragma once

#include <mutex>
#include <utility>

namespace tarmic {

template <class Presenter>
class PresenterSlot {
 public:
  // Installs presenter; returns the one installed before.
  Presenter Set(Presenter presenter) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(presenter_, std::move(presenter));
  }
  // A copy of the one installed now, so that a raise on one thread while another
  // installs sees either the old or the new.
  Presenter Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return presenter_;
  }

 private:
  mutable std::mutex mutex_;
  Presenter presenter_;
};

// Installs a presenter for its lifetime (through Install, which returns the one
// before) and restores the one before.
template <class Presenter, Presenter (*Install)(Presenter)>
class ScopedPresenter {
 public:
  explicit ScopedPresenter(Presenter presenter) : before_(Install(std::move(presenter))) {}
  ~ScopedPresenter() { Install(std::move(before_)); }
  ScopedPresenter(const ScopedPresenter&) = delete;
  ScopedPresenter& operator=(const ScopedPresenter&) = delete;

 private:
  Presenter before_;
};

}  // namespace tarmic
