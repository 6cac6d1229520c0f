// Another program rewriting a set of files while a reader of the set reads them:
// the file-read hook counts the reads of files below dir (leaving out those whose
// path holds skip, when given) and, at the counts listed in at, calls rewrite with
// the how-many-th rewrite (from 1). The tests of every reader of several files use it.
#pragma once

#include <functional>
#include <set>
#include <string>

#include "numerics/text_lines.h"

namespace tarmic::test {

struct ReadRewrites {
  std::string dir, skip;
  int reads = 0;
  std::set<int> at;
  std::function<void(int)> rewrite;
  int done = 0;
};

inline ReadRewrites*& ActiveReadRewrites() {
  static ReadRewrites* active = nullptr;
  return active;
}

inline void CountRewrittenRead(const std::string& path) {
  ReadRewrites* r = ActiveReadRewrites();
  if (!r || path.rfind(r->dir, 0) != 0 || (!r->skip.empty() && path.find(r->skip) != std::string::npos)) return;
  if (r->at.count(++r->reads)) r->rewrite(++r->done);
}

// Counts and rewrites through r while it lives.
class ScopedReadRewrites {
 public:
  explicit ScopedReadRewrites(ReadRewrites& r) {
    ActiveReadRewrites() = &r;
    SetFileReadHookForTesting(CountRewrittenRead);
  }
  ~ScopedReadRewrites() {
    SetFileReadHookForTesting(nullptr);
    ActiveReadRewrites() = nullptr;
  }
  ScopedReadRewrites(const ScopedReadRewrites&) = delete;
  ScopedReadRewrites& operator=(const ScopedReadRewrites&) = delete;
};

}  // namespace tarmic::test
