// The check that a computation given its input reads nothing of the analysis bound
// to the thread. A computation has two forms: one given its input, and one that
// reads the same values from the parts of the bound analysis. The input form must
// give the same result to the bit in a fresh analysis whose parts were set against
// the input, while the parts form there gives another result: the misleading parts
// are read by what reads parts, so the identity of the input form has power.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "numerics/analysis.h"

namespace tarmic::test {

template <class Result>
struct BoundAnalysisCheck {
  // The computation given its input, and the one reading the bound analysis' parts.
  // `misled`: a fresh analysis is bound, its parts set against the input (by
  // `mislead`, or by the form itself where a computation lays its parts anew).
  std::function<Result(bool misled)> ofInput;
  std::function<Result(bool misled)> ofParts;
  // Called once after the fresh analysis is bound (what it loads the analysis
  // gives back when it ends).
  std::function<void()> mislead = [] {};
  // Whether two results are the same, to the bit.
  std::function<bool(const Result&, const Result&)> same;
  // Whether the parts form's result under the misleading parts shows that they
  // were read (unless given: not the same).
  std::function<bool(const Result&, const Result&)> unlike;
  // Whether the program's analysis holds the input's values in its parts, so that
  // the parts form there gives the reference as well.
  bool partsFormAtHome = true;
};

// `reference`: the input form's result in the program's analysis.
template <class Result>
void ExpectOnlyTheInputCounts(const Result& reference, const BoundAnalysisCheck<Result>& check) {
  const auto& same = check.same;
  ASSERT_TRUE(static_cast<bool>(same)) << "no comparison of the results given";
  std::function<bool(const Result&, const Result&)> unlike = check.unlike;
  if (!unlike) unlike = [&](const Result& a, const Result& b) { return !same(a, b); };
  if (check.partsFormAtHome)
    EXPECT_TRUE(same(check.ofParts(false), reference)) << "the parts of the program's analysis differ";
  {
    Analysis fresh;
    AnalysisScope bind(fresh);
    check.mislead();
    EXPECT_TRUE(same(check.ofInput(true), reference)) << "a part of the bound analysis changed the result";
    EXPECT_TRUE(unlike(check.ofParts(true), reference)) << "the misleading parts were not read (the check has no power)";
  }
  // The program's analysis bound again gives the reference once more.
  EXPECT_TRUE(same(check.ofInput(false), reference));
  if (check.partsFormAtHome) EXPECT_TRUE(same(check.ofParts(false), reference));
}

}  // namespace tarmic::test
