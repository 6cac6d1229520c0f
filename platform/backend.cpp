// The backend in use.
#include "platform/backend.h"

#include <atomic>
#include <stdexcept>
#include <utility>

#include "platform/system.h"

namespace tarmic {

namespace {
std::atomic<Backend*> g_backend{nullptr};
std::atomic<int> g_picturesForFiles{0};
}

PicturesForFiles::PicturesForFiles() { ++g_picturesForFiles; }
PicturesForFiles::~PicturesForFiles() { --g_picturesForFiles; }

Backend& GetBackend() {
  Backend* b = g_backend.load();
  if (!b) throw std::logic_error("no platform backend installed (SetBackend was not called)");
  return *b;
}

bool HasBackend() { return g_backend.load() != nullptr; }

bool PicturesSeen() {
  const Backend* backend = g_backend.load();
  return !backend || backend->PicturesSeen() || g_picturesForFiles.load() > 0;
}

void SetBackend(Backend* backend) {
  g_backend.store(backend);
  MarkUiThread();
}

namespace {

std::function<std::string()>& StartFolderSource() {
  static std::function<std::string()> source;
  return source;
}

}  // namespace

void SetDialogStartFolder(std::function<std::string()> folder) {
  StartFolderSource() = std::move(folder);
}

FileDialogOptions WithStartFolder(FileDialogOptions options) {
  if (options.directory.empty() && StartFolderSource()) options.directory = StartFolderSource()();
  return options;
}

namespace {

std::function<void()>& BeforeModalAction() {
  static std::function<void()> action;
  return action;
}

}  // namespace

void SetBeforeModal(std::function<void()> action) { BeforeModalAction() = std::move(action); }

void BeforeModal() {
  static bool running = false;
  if (running || !BeforeModalAction() || !IsUiThread()) return;
  running = true;
  try {
    BeforeModalAction()();
  } catch (...) {
    running = false;
    throw;
  }
  running = false;
}

}  // namespace tarmic
