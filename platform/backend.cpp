// The backend in use.
#include "platform/backend.h"

#include <atomic>
#include <stdexcept>

#include "platform/system.h"

namespace tarmic {

namespace {
std::atomic<Backend*> g_backend{nullptr};
}

Backend& GetBackend() {
  Backend* b = g_backend.load();
  if (!b) throw std::logic_error("no platform backend installed (SetBackend was not called)");
  return *b;
}

bool HasBackend() { return g_backend.load() != nullptr; }

void SetBackend(Backend* backend) {
  g_backend.store(backend);
  MarkUiThread();
}

}  // namespace tarmic
