// A message of a computation's outcome as a record: an id that a reader without a
// window matches (never the wording) and the text the window shows.
#pragma once

#include <string>
#include <vector>

namespace tarmic {

struct OutcomeMessage {
  std::string id;
  std::string text;
};

// Whether messages hold one with the id.
inline bool HasMessage(const std::vector<OutcomeMessage>& messages, const std::string& id) {
  for (const OutcomeMessage& m : messages)
    if (m.id == id) return true;
  return false;
}

}  // namespace tarmic
