// What a save of the fit's parameters did, as the fit's report and the parameter
// file both speak of it. A header of its own so that the report does not depend on
// the parameter file's code.
#pragma once

#include <string>

namespace tarmic {

// What a save did: ok, or not with the message for the caller's error box.
struct SaveResult {
  bool ok = true;
  std::string message;
  // Keeps the first failure of several saves to the same file.
  void Add(const SaveResult& later) {
    if (ok && !later.ok) *this = later;
  }
};

}  // namespace tarmic
