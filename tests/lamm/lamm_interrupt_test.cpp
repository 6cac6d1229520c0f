// A key stops a solution between two scans, however small its steps: at a rotor
// speed far beyond any rotor the steps are so short that the first scan time would
// not be reached for hours, so a key looked at only when a scan is recorded would
// never be seen.
#include <gtest/gtest.h>

#include <chrono>
#include <system_error>
#include <vector>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_threads.h"
#include "services/run_switches.h"
#include "platform/headless/headless_backend.h"
#include "platform/worker_threads.h"
#include "tests/lamm/lamm_test_support.h"
#include "tests/watchdog.h"

namespace tarmic {
namespace {

using test::Experiment;

class LammInterrupt : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLammGlobals();
    ResetRunSwitches();
    e.rpm = 1e7f;
    e.scans = 4;
    e.radii = 100;
    e.Build();
    // The header's omega^2 t of a run at 50,000 rpm makes the rotor accelerate to
    // that speed over 1.5 times the first scan's time.
    for (int k = 1; k <= e.scans; ++k) {
      e.records[k].accelTime = 1.5 * e.firstTime;
      e.records[k].accelRate = e.rpm / e.records[k].accelTime;
    }
  }
  void TearDown() override { ResetRunSwitches(); }
  Experiment e;
};

// In the user-interface thread, for the static and the moving grid.
TEST_F(LammInterrupt, KeyStopsTheSolutionBeforeTheFirstScan) {
  for (const bool movingHat : {false, true}) {
    ResetRunSwitches();
    ScopedHeadlessBackend backend;
    LammDiscretizationSettings settings;
    settings.bAutoVariant = false;
    settings.bUseMovingHat = movingHat;
    settings.bUseClaverie = !movingHat;
    auto o = test::MakeSolver(e, 5.0, 6e-7, settings);
    backend->Headless().PressKey('X');
    {
      testing::Watchdog watchdog("a solution at 1e7 rpm after a key press");
      o->Solve();
    }
    EXPECT_TRUE(o->bAborted) << movingHat;
    EXPECT_TRUE(bUserAbort) << movingHat;
    EXPECT_EQ(o->nNextScan, 1) << "no scan was reached";
  }
}

// Worker threads see the interrupt that the user-interface thread takes from the
// keyboard while it waits for them. When the system refuses every worker, the
// calling thread solves the list itself and reads the keyboard inside each
// solution: the key stops the first equation before its first scan, as it stops
// the workers', not only once that equation has run to its end.
TEST_F(LammInterrupt, KeyStopsTheEquationsOfAListWithAndWithoutWorkers) {
  ScopedHeadlessBackend backend;
  auto tmpl = test::MakeSolver(e, 1.0, 1e-6, LammDiscretizationSettings{});
  const std::vector<double> s = {0, 2.0, 4.0, 8.0, 15.0}, D = {0, 1e-6, 8e-7, 6e-7, 4e-7};
  struct RealStarts {
    ~RealStarts() { SetWorkerThreadStartFailure(0, nullptr); }
  } realStarts;
  for (const bool refused : {false, true}) {
    ResetRunSwitches();
    if (refused) {
      SetWorkerThreadStartFailure(1, [] {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      });
    }
    // Profiles no solution gives: any scan recorded overwrites them.
    constexpr float kUntouched = -7.0f;
    std::vector<std::vector<std::vector<float>>> data(
        5, std::vector<std::vector<float>>(e.scans + 1, std::vector<float>(e.radii + 1, kUntouched)));
    std::vector<std::vector<float*>> rows(5, std::vector<float*>(e.scans + 1, nullptr));
    std::vector<float**> out(5, nullptr);
    for (int i = 1; i <= 4; ++i) {
      for (int k = 1; k <= e.scans; ++k) rows[i][k] = data[i][k].data();
      out[i] = rows[i].data();
    }
    LammGlobals().nLammThreads = 2;
    backend->Headless().PressKey('X');
    {
      testing::Watchdog watchdog("solutions at 1e7 rpm after a key press", std::chrono::seconds(60));
      CLRunMTList(tmpl.get(), 4, s.data(), D.data(), nullptr, out.data(), e.outRadii.data(), e.radii,
                  nullptr, nullptr);
    }
    EXPECT_TRUE(bUserAbort) << refused;
    EXPECT_LT(LammProgress().nLammEquationsDone.load(), 4) << refused;
    for (int i = 1; i <= 4; ++i)
      for (int k = 1; k <= e.scans; ++k)
        EXPECT_EQ(data[i][k][e.radii / 2], kUntouched) << refused << ": equation " << i << ", scan " << k;
  }
}

}  // namespace
}  // namespace tarmic
