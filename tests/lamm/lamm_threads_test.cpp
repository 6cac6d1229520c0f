// Lists of Lamm equations on worker threads.
#include <gtest/gtest.h>

#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_threads.h"
#include "numerics/error_box.h"
#include "numerics/run_switches.h"
#include "tests/lamm/lamm_test_support.h"

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
  ListOutput Run(int threads) {
    nLammThreads = threads;
    ListOutput o(count, e.scans, e.radii);
    EXPECT_EQ(CLRunMTList(tmpl.get(), count, s.data(), D.data(), nullptr, o.out.data(),
                          e.outRadii.data(), e.radii, nullptr, nullptr),
              0);
    return o;
  }
  Experiment e;
  std::unique_ptr<CLammIdeal> tmpl;
  std::vector<double> s, D;
  const int count = 7;
};

// Every equation gives exactly the profiles of a serial solution, whatever the
// number of threads; counts below 1 are one thread.
TEST_F(LammThreads, ThreadedAndSerialListsGiveIdenticalProfiles) {
  ListOutput serial(count, e.scans, e.radii);
  for (int i = 1; i <= count; ++i) {
    CLammIdeal one;
    one.CopySetup(*tmpl);
    one.SetSpeciesAndOutput(s[i], D[i], serial.out[i], e.outRadii.data(), e.radii, nullptr, nullptr);
    one.SetSolventConditions(tmpl->fTemperature, tmpl->fVbar, tmpl->fDensity, tmpl->fViscosity);
    ASSERT_EQ(one.Solve(), 0) << "equation " << i;
  }
  for (int threads : {1, 2, 3, 16, 0, -4}) {
    const ListOutput threaded = Run(threads);
    for (int i = 1; i <= count; ++i)
      for (int k = 1; k <= e.scans; ++k)
        ASSERT_EQ(threaded.data[i][k], serial.data[i][k])
            << threads << " threads, equation " << i << ", scan " << k;
  }
  EXPECT_EQ(nLammEquationsDone.load(), count);
}

// A failed equation stops the list with its status; the message names it.
TEST_F(LammThreads, FailedEquationIsReportedAfterTheJoin) {
  D[3] = -1e-7;  // refused by the set-up check
  nLammThreads = 2;
  ListOutput o(count, e.scans, e.radii);
  EXPECT_EQ(CLRunMTList(tmpl.get(), count, s.data(), D.data(), nullptr, o.out.data(),
                        e.outRadii.data(), e.radii, nullptr, nullptr),
            4);
  EXPECT_TRUE(bUserAbort);
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
