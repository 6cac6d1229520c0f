#include "platform/qt/qt_startup.h"

#include <QMessageLogContext>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>
#include <tuple>
#include <vector>

namespace tarmic {

namespace {

// What to do instead: the program has no use without a window (a hidden start would
// wait for ever at the first-start disclaimer nobody can see).
constexpr const char* kDisplayAdvice =
    "start it in a graphical session, or set DISPLAY to a running X server";

bool IsSet(const EnvironmentReader& env, const char* name) {
  const char* value = env(name);
  return value && *value;
}

// Whether platform (one entry of QT_QPA_PLATFORM, arguments after ':' dropped)
// draws on a desktop display.
bool NeedsDisplay(const std::string& platform) {
  const std::string name = platform.substr(0, platform.find(':'));
  return name == "xcb" || name.rfind("wayland", 0) == 0;
}

struct Startup {
  std::mutex mutex;
  QtMessageHandler previous = nullptr;
  std::vector<std::tuple<QtMsgType, std::unique_ptr<QMessageLogContext>, QString>> kept;
};

Startup& State() {
  static Startup state;
  return state;
}

void KeepMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    const std::string line = UnreachableDisplayMessage([](const char* n) { return std::getenv(n); });
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    std::_Exit(kNoDisplayExitCode);
  }
  std::lock_guard<std::mutex> lock(State().mutex);
  // The context's strings are literals of Qt's code; only the fields are copied.
  State().kept.emplace_back(type,
                            std::make_unique<QMessageLogContext>(context.file, context.line,
                                                                 context.function, context.category),
                            text);
}

}  // namespace

std::optional<std::string> MissingDisplayMessage(const EnvironmentReader& env) {
  if (IsSet(env, "DISPLAY") || IsSet(env, "WAYLAND_DISPLAY")) return std::nullopt;
  if (IsSet(env, "QT_QPA_PLATFORM")) {
    // A list of platforms separated by ';' is tried in order: one without a display
    // is enough.
    std::stringstream list(env("QT_QPA_PLATFORM"));
    std::string entry;
    bool allNeedDisplay = true;
    while (std::getline(list, entry, ';')) {
      if (!entry.empty() && !NeedsDisplay(entry)) allNeedDisplay = false;
    }
    if (!allNeedDisplay) return std::nullopt;
  }
  return std::string("tarmic needs a graphical display, but neither DISPLAY nor WAYLAND_DISPLAY "
                     "is set; ") +
         kDisplayAdvice + ".";
}

std::string UnreachableDisplayMessage(const EnvironmentReader& env) {
  std::string where;
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    if (!IsSet(env, name)) continue;
    if (!where.empty()) where += ", ";
    where += std::string(name) + "=" + env(name);
  }
  return "tarmic needs a graphical display and could not open one" +
         (where.empty() ? std::string() : " (" + where + ")") + "; " + kDisplayAdvice + ".";
}

QtStartupGuard::QtStartupGuard() { State().previous = qInstallMessageHandler(KeepMessage); }

QtStartupGuard::~QtStartupGuard() {
  qInstallMessageHandler(State().previous);
  std::vector<std::tuple<QtMsgType, std::unique_ptr<QMessageLogContext>, QString>> kept;
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    kept.swap(State().kept);
  }
  for (auto& [type, context, text] : kept) qt_message_output(type, *context, text);
}

}  // namespace tarmic
