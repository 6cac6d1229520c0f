// The life of an analysis' parts: made once on first use, destroyed with the
// analysis (or by Clear) in the reverse order of their making, a part made while
// another is made included, what they hold released before any goes; an analysis
// is neither copied nor moved.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "numerics/analysis.h"

namespace tarmic {
namespace {

static_assert(!std::is_copy_constructible_v<Analysis> && !std::is_copy_assignable_v<Analysis>);
static_assert(!std::is_move_constructible_v<Analysis> && !std::is_move_assignable_v<Analysis>);

// What the parts below did, in order: an upper-case letter when one was made, the
// lower-case one when it went.
std::string gLife;

template <char Name>
struct Logged {
  Logged() { gLife += Name; }
  ~Logged() { gLife += static_cast<char>(Name - 'A' + 'a'); }
  int value = 7;
};
using PartA = Logged<'A'>;
using PartB = Logged<'B'>;
using PartC = Logged<'C'>;

// A part whose making reaches another part of the same analysis (made first, so it
// goes last: the outer one may still use it while it goes).
struct PartOuter {
  PartOuter() : inner(CurrentPart<Logged<'I'>>()) { gLife += 'O'; }
  ~PartOuter() {
    inner.value = -1;  // the inner part is still there
    gLife += 'o';
  }
  Logged<'I'>& inner;
};

TEST(Analysis, PartsGoWithTheAnalysisInTheReverseOrderOfTheirMaking) {
  gLife.clear();
  {
    Analysis analysis;
    AnalysisScope scope(analysis);
    CurrentPart<PartB>().value = 3;
    CurrentPart<PartOuter>();
    CurrentPart<PartA>();
    // A second use finds the part made first, with what was written into it.
    EXPECT_EQ(CurrentPart<PartB>().value, 3);
    EXPECT_EQ(&CurrentPart<PartOuter>().inner, &CurrentPart<Logged<'I'>>());
    EXPECT_EQ(analysis.PartsMade(), 4u);
    EXPECT_EQ(gLife, "BIOA");
  }
  EXPECT_EQ(gLife, "BIOAaoib");  // every part destroyed, none twice
}

TEST(Analysis, ClearMakesEveryPartAnewAndLeavesOtherAnalysesAlone) {
  gLife.clear();
  Analysis first, second;
  {
    AnalysisScope scope(second);
    CurrentPart<PartC>().value = 11;
  }
  AnalysisScope scope(first);
  CurrentPart<PartA>().value = 5;
  CurrentPart<PartC>();
  first.Clear();
  EXPECT_EQ(first.PartsMade(), 0u);
  EXPECT_EQ(gLife, "CACca");
  EXPECT_EQ(CurrentPart<PartA>().value, 7);  // made anew, at its first value
  EXPECT_EQ(second.Get<PartC>().value, 11);
  EXPECT_EQ(first.PartsMade(), 1u);
}

// A part that holds what it must give back (as the data set holds the blocks of its
// scans and frees the grid and the plots drawn from them): its release reaches
// another part of its analysis through the thread's binding, once every part is
// still there, whichever analysis was bound when the analysis ended.
struct PartHolding {
  PartHolding() { gLife += 'H'; }
  ~PartHolding() { gLife += 'h'; }
  void ReleaseAtAnalysisEnd() {
    gLife += 'r';
    CurrentPart<PartB>().value = 0;  // the holding's partner, still there
    CurrentPart<PartC>();            // made by the release: released and destroyed after
  }
};
static_assert(ReleasedAtAnalysisEnd<PartHolding> && !ReleasedAtAnalysisEnd<PartA>);

TEST(Analysis, WhatThePartsHoldIsReleasedInTheirOwnAnalysisBeforeAnyPartGoes) {
  gLife.clear();
  Analysis other;
  AnalysisScope bindOther(other);
  CurrentPart<PartB>().value = 9;
  {
    Analysis analysis;
    {
      AnalysisScope scope(analysis);
      CurrentPart<PartB>();
      CurrentPart<PartHolding>();
    }
    EXPECT_EQ(gLife, "BBH");
  }
  EXPECT_EQ(gLife, "BBHrCchb");
  EXPECT_EQ(CurrentPart<PartB>().value, 9);  // the analysis bound at the end is untouched
}

}  // namespace
}  // namespace tarmic
