// Every hook that the libraries expose is installed when the program starts. A hook
// table is a struct of std::function members that a lower library calls and the
// program fills at start-up; a member left empty silently does nothing. The test
// visits every member of every table (also members added later) after the start-up
// the program runs before its main loop, and names the empty ones by position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "app/app_main.h"
#include "app/response_table.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "commands/program_services.h"
#include "distributions/distribution_hooks.h"
#include "modelcalc/fit_persistence.h"
#include "modelfit/modelfit_hooks.h"
#include "storage/folder_lock.h"
#include "services/path_table.h"
#include "platform/headless/headless_backend.h"
#include "plot/data_plots.h"
#include "plot/fit_pane_refresh.h"
#include "scandata/data_set_hooks.h"
#include "tests/app/shell_test_support.h"

namespace tarmic {
namespace {

template <class T>
struct IsFunction : std::false_type {};
template <class R, class... A>
struct IsFunction<std::function<R(A...)>> : std::true_type {};

// Converts to any std::function: counts the members of a table of them.
struct AnyHook {
  template <class T>
    requires IsFunction<T>::value
  operator T() const {
    return T();
  }
};

// The number of members of the aggregate T (all of them std::function).
template <class T, class... A>
constexpr std::size_t CountHooks() {
  if constexpr (requires { T{A{}..., AnyHook{}}; })
    return CountHooks<T, A..., AnyHook>();
  else
    return sizeof...(A);
}

template <class F, class... H>
void CallEach(F& f, H&... hooks) {
  (f(hooks), ...);
}

// Calls f with every member of table, in declaration order.
#define TARMIC_VISIT_HOOKS(N, ...)         \
  else if constexpr (n == N) {             \
    auto& [__VA_ARGS__] = table;           \
    CallEach(f, __VA_ARGS__);              \
  }
template <class T, class F>
void ForEachHook(T& table, F&& f) {
  constexpr std::size_t n = CountHooks<T>();
  static_assert(n > 0 && n <= 28, "not a table of hooks, or more members than visited here");
  if constexpr (n == 0) {
  }
  TARMIC_VISIT_HOOKS(1, a0)
  TARMIC_VISIT_HOOKS(2, a0, a1)
  TARMIC_VISIT_HOOKS(3, a0, a1, a2)
  TARMIC_VISIT_HOOKS(4, a0, a1, a2, a3)
  TARMIC_VISIT_HOOKS(5, a0, a1, a2, a3, a4)
  TARMIC_VISIT_HOOKS(6, a0, a1, a2, a3, a4, a5)
  TARMIC_VISIT_HOOKS(7, a0, a1, a2, a3, a4, a5, a6)
  TARMIC_VISIT_HOOKS(8, a0, a1, a2, a3, a4, a5, a6, a7)
  TARMIC_VISIT_HOOKS(9, a0, a1, a2, a3, a4, a5, a6, a7, a8)
  TARMIC_VISIT_HOOKS(10, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9)
  TARMIC_VISIT_HOOKS(11, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10)
  TARMIC_VISIT_HOOKS(12, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11)
  TARMIC_VISIT_HOOKS(13, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12)
  TARMIC_VISIT_HOOKS(14, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13)
  TARMIC_VISIT_HOOKS(15, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14)
  TARMIC_VISIT_HOOKS(16, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15)
  TARMIC_VISIT_HOOKS(17, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16)
  TARMIC_VISIT_HOOKS(18, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17)
  TARMIC_VISIT_HOOKS(19, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18)
  TARMIC_VISIT_HOOKS(20, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19)
  TARMIC_VISIT_HOOKS(21, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20)
  TARMIC_VISIT_HOOKS(22, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21)
  TARMIC_VISIT_HOOKS(23, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22)
  TARMIC_VISIT_HOOKS(24, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23)
  TARMIC_VISIT_HOOKS(25, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23, a24)
  TARMIC_VISIT_HOOKS(26, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23, a24, a25)
  TARMIC_VISIT_HOOKS(27, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23, a24, a25, a26)
  TARMIC_VISIT_HOOKS(28, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23, a24, a25, a26, a27)
}
#undef TARMIC_VISIT_HOOKS

// The empty members of table, by position (declaration order, 0 first).
template <class T>
std::vector<int> EmptyHooks(T& table) {
  std::vector<int> empty;
  int position = 0;
  ForEachHook(table, [&](const auto& hook) {
    if (!hook) empty.push_back(position);
    ++position;
  });
  return empty;
}

template <class T>
std::vector<std::string> Problems(T& table, const std::string& name) {
  std::vector<std::string> problems;
  for (int position : EmptyHooks(table))
    problems.push_back(name + " member " + std::to_string(position) + " of " +
                       std::to_string(CountHooks<T>()) + " is not installed");
  return problems;
}

TEST(ProgramHooks, EveryHookIsInstalledWhenTheProgramStarts) {
  shell_test::ResetShellState();
  ResetShellHooks();
  ResetDistributionHooks();
  ResetModelFitHooks();
  ResetFitPersistenceHooks();
  ResetFolderWaitHooks();
  SetFitPanePainters({});
  shell_test::ScratchDir dir("hooks");
  ScopedHeadlessBackend backend;

  // The start of main() and of the program's run up to its main loop.
  InstallProgramServices();
  SetupPathTable(dir.path(), "");
  shell_test::WritePreferenceFile(dir.path() + "tarmicparams.ini", shell_test::AcceptedDefaults());
  TXLAApp app("tarmic");
  app.InitMainWindow();
  ASSERT_NE(app.GetMainWindow(), nullptr);
  app.GetMainWindow()->SetupWindow();

  FitPanePainters painters = GetFitPanePainters();
  std::vector<std::string> problems;
  for (const auto& list :
       {Problems(GetShellHooks(), "ShellHooks"), Problems(GetDataSetHooks(), "DataSetHooks"),
        Problems(GetDistributionHooks(), "DistributionHooks"),
        Problems(GetModelFitHooks(), "ModelFitHooks"),
        Problems(GetFitPersistenceHooks(), "FitPersistenceHooks"),
        Problems(painters, "FitPanePainters"), Problems(GetFolderWaitHooks(), "FolderWaitHooks")})
    problems.insert(problems.end(), list.begin(), list.end());
  EXPECT_EQ(problems, std::vector<std::string>{});

  SetResponseTable({});
  shell_test::ResetShellState();
}

// The visitor itself: it sees every member, in order, and only those.
struct ThreeHooks {
  std::function<void()> a;
  std::function<int(int)> b;
  std::function<bool(const std::string&)> c;
};

TEST(ProgramHooks, TheVisitorSeesEveryMemberOfATable) {
  static_assert(CountHooks<ThreeHooks>() == 3);
  static_assert(CountHooks<ShellHooks>() > 10);
  ThreeHooks t;
  t.b = [](int x) { return x; };
  EXPECT_EQ(EmptyHooks(t), (std::vector<int>{0, 2}));
}

}  // namespace
}  // namespace tarmic
