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
#include "numerics/path_table.h"
#include "platform/headless/headless_backend.h"
#include "plot/data_plots.h"
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

// Calls f with every member of table, in declaration order.
template <class T, class F>
void ForEachHook(T& table, F&& f) {
  constexpr std::size_t n = CountHooks<T>();
  static_assert(n > 0, "not a table of hooks");
  if constexpr (n == 1) {
    auto& [a0] = table;
    f(a0);
  } else if constexpr (n == 2) {
    auto& [a0, a1] = table;
    f(a0); f(a1);
  } else if constexpr (n == 3) {
    auto& [a0, a1, a2] = table;
    f(a0); f(a1); f(a2);
  } else if constexpr (n == 4) {
    auto& [a0, a1, a2, a3] = table;
    f(a0); f(a1); f(a2); f(a3);
  } else if constexpr (n == 5) {
    auto& [a0, a1, a2, a3, a4] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4);
  } else if constexpr (n == 6) {
    auto& [a0, a1, a2, a3, a4, a5] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5);
  } else if constexpr (n == 7) {
    auto& [a0, a1, a2, a3, a4, a5, a6] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6);
  } else if constexpr (n == 8) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7);
  } else if constexpr (n == 9) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8);
  } else if constexpr (n == 10) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9);
  } else if constexpr (n == 11) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10);
  } else if constexpr (n == 12) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11);
  } else if constexpr (n == 13) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12);
  } else if constexpr (n == 14) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13);
  } else if constexpr (n == 15) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14);
  } else if constexpr (n == 16) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15);
  } else if constexpr (n == 17) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16);
  } else if constexpr (n == 18) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17);
  } else if constexpr (n == 19) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18);
  } else if constexpr (n == 20) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18); f(a19);
  } else if constexpr (n == 21) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18); f(a19); f(a20);
  } else if constexpr (n == 22) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18); f(a19); f(a20); f(a21);
  } else if constexpr (n == 23) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18); f(a19); f(a20); f(a21); f(a22);
  } else if constexpr (n == 24) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18); f(a19); f(a20); f(a21); f(a22); f(a23);
  } else if constexpr (n == 25) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23, a24] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18); f(a19); f(a20); f(a21); f(a22); f(a23); f(a24);
  } else if constexpr (n == 26) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23, a24, a25] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18); f(a19); f(a20); f(a21); f(a22); f(a23); f(a24); f(a25);
  } else if constexpr (n == 27) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23, a24, a25, a26] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18); f(a19); f(a20); f(a21); f(a22); f(a23); f(a24); f(a25); f(a26);
  } else if constexpr (n == 28) {
    auto& [a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22, a23, a24, a25, a26, a27] = table;
    f(a0); f(a1); f(a2); f(a3); f(a4); f(a5); f(a6); f(a7); f(a8); f(a9); f(a10); f(a11); f(a12); f(a13); f(a14); f(a15); f(a16); f(a17); f(a18); f(a19); f(a20); f(a21); f(a22); f(a23); f(a24); f(a25); f(a26); f(a27);
  } else {
    static_assert(n <= 28, "a hook table with more members than ForEachHook visits");
  }
}

// Hooks whose work belongs to parts of the program that are not built yet; each is
// named and must be empty (installing one takes it off this list).
struct Pending {
  const void* member;
  const char* name;
};

std::vector<Pending> NotBuiltYet() {
  return {
  };
}

// What is wrong with table: its empty members (by position, declaration order, 0
// first) that are not on the pending list, and pending members that are installed.
template <class T>
std::vector<std::string> Problems(T& table, const std::string& name) {
  const std::vector<Pending> pending = NotBuiltYet();
  std::vector<std::string> problems;
  int position = 0;
  ForEachHook(table, [&](const auto& hook) {
    auto it = std::find_if(pending.begin(), pending.end(),
                           [&](const Pending& p) { return p.member == &hook; });
    if (!hook && it == pending.end())
      problems.push_back(name + " member " + std::to_string(position) + " of " +
                         std::to_string(CountHooks<T>()) + " is not installed");
    if (hook && it != pending.end())
      problems.push_back(std::string(it->name) + " is installed now: take it off the list");
    ++position;
  });
  return problems;
}

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

TEST(ProgramHooks, EveryHookIsInstalledWhenTheProgramStarts) {
  shell_test::ResetShellState();
  ResetShellHooks();
  ResetDistributionHooks();
  ResetModelFitHooks();
  ResetFitPersistenceHooks();
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
        Problems(painters, "FitPanePainters")})
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
