#include "numerics/analysis.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/worker_threads.h"

namespace tarmic {
Analysis::~Analysis() {
  if (!program_) Clear();
}

void Analysis::ReleaseParts() {
  // With this analysis bound: a release reaches its parts through the thread's
  // binding (the data set's release frees the grid and the plots of this analysis).
  // Releases run outside the lock (one may start or wait for a worker that makes a
  // part), in the reverse order of making; a part a release makes is released after.
  AnalysisScope bind(*this);
  std::size_t from = 0;
  for (;;) {
    std::size_t to = 0;
    {
      std::lock_guard<std::recursive_mutex> lock(making_);
      to = madeCount_;
    }
    if (to == from) return;
    for (std::size_t m = to; m-- > from;) {
      void* part = nullptr;
      void (*release)(void*) = nullptr;
      {
        std::lock_guard<std::recursive_mutex> lock(making_);
        const std::size_t index = made_[m];
        part = parts_[index].load(std::memory_order_acquire);
        release = release_[index];
      }
      if (part != nullptr && release != nullptr) release(part);
    }
    from = to;
  }
}

void Analysis::Clear() {
  ReleaseParts();
  // Later parts may refer to earlier ones while they go: the reverse order of making.
  // A part is taken off the list under the lock and destroyed outside it (its
  // destructor may reach other parts).
  for (;;) {
    void* part = nullptr;
    void (*destroy)(void*) = nullptr;
    {
      std::lock_guard<std::recursive_mutex> lock(making_);
      if (madeCount_ == 0) return;
      const std::size_t index = made_[--madeCount_];
      part = parts_[index].exchange(nullptr, std::memory_order_acq_rel);
      destroy = destroy_[index];
    }
    destroy(part);
  }
}

std::size_t Analysis::PartsMade() {
  std::lock_guard<std::recursive_mutex> lock(making_);
  return madeCount_;
}

std::size_t Analysis::NewPartIndex() {
  static std::atomic<std::size_t> next{0};
  const std::size_t index = next.fetch_add(1) + 1;  // slot 0 stays empty
  if (index >= kMaxParts) {
    // A build with more kinds of parts than slots: a programming error, found at once.
    std::fprintf(stderr, "tarmic: more than %zu kinds of analysis state\n", kMaxParts);
    std::abort();
  }
  return index;
}

void Analysis::Remember(std::size_t index, void (*destroy)(void*), void (*release)(void*)) {
  destroy_[index] = destroy;
  release_[index] = release;
  made_[madeCount_++] = index;
}

bool StartAnalysisThread(std::thread* thread, std::function<void()> body) {
  return TryStartWorkerThread(thread, BindAnalysisOf(std::move(body)));
}

}  // namespace tarmic
