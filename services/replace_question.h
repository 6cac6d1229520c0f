// The one question every save asks before it replaces files that exist.
//
// A command that writes files the user named or the program proposed calls
// MayReplaceFiles with every target of the set it is about to write, before it
// writes any: when one of them exists, the user is asked once for the whole set
// ("file ... already exists!\nOverwrite?", or "Overwrite all?" for a set of several
// files; No is the default button). A command that writes its set through several
// writers opens a ReplaceConsentScope and asks for all targets first; the writers
// it then calls ask through the same function and find their targets agreed to,
// so the set is asked about once.
#pragma once

#include <string>
#include <vector>

namespace tarmic {

// True when none of targets exists, when every existing one was agreed to in the
// open ReplaceConsentScope, or when the user answers Yes (then every target is
// agreed to for the rest of the scope); in batch mode true without a question
// (nobody is there to answer). False on No: nothing of the set may be written.
// Without a window system nothing existing may be replaced (false).
bool MayReplaceFiles(const std::vector<std::string>& targets);

// The text of the question for targets whose first existing file is existing.
std::string ReplaceQuestionText(const std::string& existing, std::size_t targetCount);

// Agreements of one save: while a scope is open on this thread, the targets the
// user agreed to replace are not asked about again. Scopes nest; the outermost
// one's end forgets the agreements.
class ReplaceConsentScope {
 public:
  ReplaceConsentScope();
  ~ReplaceConsentScope();
  ReplaceConsentScope(const ReplaceConsentScope&) = delete;
  ReplaceConsentScope& operator=(const ReplaceConsentScope&) = delete;
};

}  // namespace tarmic
