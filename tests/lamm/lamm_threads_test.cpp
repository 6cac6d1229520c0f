// Lists of Lamm equations on worker threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <system_error>
#include <string>
#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_threads.h"
#include "numerics/profile_sums.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "platform/headless/headless_backend.h"
#include "platform/worker_threads.h"
#include "tests/lamm/lamm_test_support.h"
#include "tests/watchdog.h"

namespace tarmic {
namespace {

using test::Experiment;

// Output storage of a list: profiles[equation][scan][point].
struct ListOutput {
  std::vector<std::vector<std::vector<float>>> data;
  std::vector<std::vector<float*>> rows;
  std::vector<float**> out;
  ListOutput(int equations, int scans, int radii) {
    data.assign(equations + 1, std::vector<std::vector<float>>(scans + 1, std::vector<float>(radii + 1, 0.0f)));
    rows.assign(equations + 1, std::vector<float*>(scans + 1, nullptr));
    out.assign(equations + 1, nullptr);
    for (int i = 1; i <= equations; ++i) {
      for (int k = 1; k <= scans; ++k) rows[i][k] = data[i][k].data();
      out[i] = rows[i].data();
    }
  }
};

class LammThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLammGlobals();
    ResetRunSwitches();
    e.scans = 5;
    e.radii = 120;
    e.Build();
    // The default numerics of the distributions: automatic algorithm and grid.
    LammDiscretizationSettings settings;
    settings.bRampRotor = false;
    tmpl = test::MakeSolver(e, 1.0, 1e-6, settings);
    s = {0, 0.5, 2.0, 4.0, 8.0, 15.0, 40.0, 3.0};
    D = {0, 2e-6, 1e-6, 8e-7, 6e-7, 4e-7, 2e-7, 9e-7};
  }
  void TearDown() override {
    SetWorkerThreadStartFailure(0, nullptr);
    bUserAbort = false;
  }
  // The list on the given number of threads; its status is kept in status.
  ListOutput Run(int threads, int expected = 0) {
    LammGlobals().nLammThreads = threads;
    ListOutput o(count, e.scans, e.radii);
    status = CLRunMTList(tmpl.get(), count, s.data(), D.data(), nullptr, o.out.data(),
                         e.outRadii.data(), e.radii, nullptr, nullptr);
    if (expected >= 0) EXPECT_EQ(status, expected);
    return o;
  }
  // Each equation solved on its own in this thread, with its status.
  ListOutput Serial(std::vector<int>* status = nullptr) {
    ListOutput serial(count, e.scans, e.radii);
    for (int i = 1; i <= count; ++i) {
      CLammIdeal one;
      one.CopySetup(*tmpl);
      one.SetSpeciesAndOutput(s[i], D[i], serial.out[i], e.outRadii.data(), e.radii, nullptr, nullptr);
      one.SetSolventConditions(tmpl->fTemperature, tmpl->fVbar, tmpl->fDensity, tmpl->fViscosity);
      const int code = one.Solve();
      if (status) status->push_back(code);
    }
    return serial;
  }
  void ExpectSameProfiles(const ListOutput& a, const ListOutput& b, const std::string& what) {
    for (int i = 1; i <= count; ++i)
      for (int k = 1; k <= e.scans; ++k)
        ASSERT_EQ(a.data[i][k], b.data[i][k]) << what << ", equation " << i << ", scan " << k;
  }
  Experiment e;
  std::unique_ptr<CLammIdeal> tmpl;
  std::vector<double> s, D;
  const int count = 7;
  int status = 0;
};

// Every equation gives exactly the profiles of a serial solution, whatever the
// number of threads; counts below 1 are one thread.
TEST_F(LammThreads, ThreadedAndSerialListsGiveIdenticalProfiles) {
  std::vector<int> codes;
  const ListOutput serial = Serial(&codes);
  ASSERT_EQ(codes, std::vector<int>(count, 0));
  for (int threads : {1, 2, 3, 16, 0, -4}) {
    const ListOutput threaded = Run(threads);
    ExpectSameProfiles(threaded, serial, std::to_string(threads) + " threads");
  }
  EXPECT_EQ(LammProgress().nLammEquationsDone.load(), count);
}

// Each equation of a list sums its output rows as it writes them, in the worker
// that solves it: complete sums equal to the rows' own sums in scan order (per
// radius) and to their interleaved sums over the fit range (per scan), bit for bit,
// on one thread and on several.
TEST_F(LammThreads, ListEquationsSumTheRowsTheyWrite) {
  const int fitFirst = 7, nFit = 101;
  for (int threads : {1, 3}) {
    LammGlobals().nLammThreads = threads;
    ListOutput o(count, e.scans, e.radii);
    std::vector<ProfileSums> sums(count + 1);
    std::vector<ProfileSums*> slots(count + 1, nullptr);
    for (int i = 1; i <= count; ++i) {
      sums[i].Begin(o.out[i], 1, e.scans, e.radii, fitFirst, nFit);
      slots[i] = &sums[i];
    }
    ASSERT_EQ(CLRunMTList(tmpl.get(), count, s.data(), D.data(), nullptr, o.out.data(),
                          e.outRadii.data(), e.radii, nullptr, nullptr, nullptr, slots.data()),
              0);
    for (int i = 1; i <= count; ++i) {
      ASSERT_TRUE(sums[i].CompleteFor(o.out[i], 1, e.scans, e.radii, fitFirst, nFit)) << i;
      for (int g = 1; g <= e.radii; ++g) {
        double sum = 0.0;
        for (int k = 1; k <= e.scans; ++k) sum += o.data[i][k][g];
        ASSERT_EQ(sums[i].RadiusSums()[g], sum) << threads << " threads, equation " << i << ", radius " << g;
      }
      for (int k = 1; k <= e.scans; ++k)
        ASSERT_EQ(sums[i].ScanSum(k), InterleavedSum(o.data[i][k].data() + fitFirst, nFit)) << i << " " << k;
    }
  }
}

// A list that shows its progress tells in the first readout row how many of its
// equations are done: the count only grows, and the last readout is the whole list.
// One that shows none writes nothing.
TEST_F(LammThreads, AListThatShowsItsProgressCountsTheEquationsDone) {
  struct Readouts : LammDisplay {
    std::vector<std::string> texts;
    void ShowText(int, int y, const std::string& text) override {
      EXPECT_EQ(y, 30);
      texts.push_back(text);
    }
    void DrawProfile(const double*, const double*, int, std::uint32_t) override {}
  } readouts;
  tmpl->pDisplay = &readouts;
  for (const bool shown : {true, false}) {
    readouts.texts.clear();
    tmpl->bNoProgressText = tmpl->bNoProgressText2 = !shown;
    Run(2);
    if (!shown) {
      EXPECT_TRUE(readouts.texts.empty());
      continue;
    }
    ASSERT_GE(readouts.texts.size(), 2u);
    EXPECT_EQ(readouts.texts.front().rfind("solving Lamm equations...", 0), 0u);
    int last = 0;
    for (std::size_t k = 1; k < readouts.texts.size(); ++k) {
      int done = 0, of = 0;
      ASSERT_EQ(std::sscanf(readouts.texts[k].c_str(), "solving Lamm equations... %d of %d done", &done, &of), 2)
          << readouts.texts[k];
      EXPECT_EQ(of, count);
      EXPECT_GT(done, last);
      last = done;
    }
    EXPECT_EQ(last, count);
  }
  tmpl->pDisplay = nullptr;
}

// Threads the system refuses (a process limit, no memory for a stack) leave their
// equations to those that started; with none started the calling thread solves the
// list. A start that fails in any other way ends the list with that exception once
// the started threads are joined.
TEST_F(LammThreads, RefusedThreadsLeaveTheirEquationsToTheOthers) {
  const testing::Watchdog watchdog("a Lamm list with refused threads");
  const ListOutput serial = Serial();
  const auto noThreadLeft = [] {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  const auto noMemory = [] { throw std::bad_alloc(); };
  for (int nth : {1, 2, 3}) {
    SetWorkerThreadStartFailure(nth, noThreadLeft);
    ExpectSameProfiles(Run(3), serial, "start " + std::to_string(nth) + " refused");
    EXPECT_EQ(LammProgress().nLammEquationsDone.load(), count);
    SetWorkerThreadStartFailure(nth, noMemory);
    ExpectSameProfiles(Run(3), serial, "start " + std::to_string(nth) + " without memory");
  }
  EXPECT_FALSE(bUserAbort);

  SetWorkerThreadStartFailure(3, [] { throw std::runtime_error("start"); });
  LammGlobals().nLammThreads = 3;
  ListOutput o(count, e.scans, e.radii);
  EXPECT_THROW(CLRunMTList(tmpl.get(), count, s.data(), D.data(), nullptr, o.out.data(),
                           e.outRadii.data(), e.radii, nullptr, nullptr),
               std::runtime_error);
  SetWorkerThreadStartFailure(0, nullptr);
  ExpectSameProfiles(Run(3), serial, "after a failed start");
}

// A refused set-up ends the list with its status; a singular matrix keeps the
// retried solution and the list goes on, as a list solved in one thread does.
// Neither is taken for an interrupt.
TEST_F(LammThreads, FailedEquationsAreReportedAsFailuresNotInterrupts) {
  const testing::Watchdog watchdog("a Lamm list with failed equations");
  D[3] = -1e-7;  // refused by the set-up check
  Run(2, 4);
  EXPECT_FALSE(bUserAbort);

  // Pivots that are not usable ("singular tridiagonal matrix") and a profile that
  // the steps cannot follow ("discretization error").
  D[3] = 1e-6;
  s[3] = 1e20;
  s[5] = -1e6;
  std::vector<int> codes;
  const ListOutput serial = Serial(&codes);
  ASSERT_EQ(codes, (std::vector<int>{0, 0, 3, 0, 2, 0, 0}));
  for (int threads : {1, 3}) {
    // The status of one of the two failures, whichever thread solved it.
    ExpectSameProfiles(Run(threads, -1), serial, std::to_string(threads) + " threads");
    EXPECT_TRUE(status == 2 || status == 3) << status;
    EXPECT_FALSE(bUserAbort);
    EXPECT_EQ(LammProgress().nLammEquationsDone.load(), count);
  }
}

// A refused equation is reported in one box whichever threads met it and however
// many started: the messages of the solution, each once, and the list's failure.
// A second list of the same command (a refinement runs many) adds no box.
TEST_F(LammThreads, RefusedEquationsOfAListAreReportedInOneBox) {
  const testing::Watchdog watchdog("a Lamm list of refused equations");
  ScopedHeadlessBackend backend;
  for (double& d : D) d = -1e-7;  // every equation refused by the set-up check
  const auto noThreadLeft = [] {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  for (int threads : {1, 3, 16, 0}) {
    // 0: three threads asked for, none started.
    if (threads == 0) SetWorkerThreadStartFailure(1, noThreadLeft);
    backend->ClearTranscript();
    backend->AnswerUnscriptedBoxes(IDOK);
    {
      ScopedErrorsOnce command;
      Run(threads == 0 ? 3 : threads, 4);
      Run(threads == 0 ? 3 : threads, 4);
    }
    ASSERT_EQ(backend->Transcript().size(), 1u) << threads << " threads";
    EXPECT_EQ(backend->Transcript()[0].text,
              "The Lamm equation solution was not computed: the diffusion coefficient D -1e-07 "
              "cm^2/s must not be negative.\n"
              "error #4 in simulation #1")
        << threads << " threads";
    EXPECT_FALSE(bUserAbort);
  }
}

// Null s or D arrays: nothing is solved and nothing fails.
TEST_F(LammThreads, ListWithoutCoefficientsDoesNothing) {
  ListOutput o(count, e.scans, e.radii);
  EXPECT_EQ(CLRunMTList(tmpl.get(), count, nullptr, D.data(), nullptr, o.out.data(),
                        e.outRadii.data(), e.radii, nullptr, nullptr),
            0);
  EXPECT_EQ(o.data[1][1][10], 0.0f);
}

}  // namespace
}  // namespace tarmic
