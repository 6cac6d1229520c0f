// The census of the engine as the linker sees it: the objects of the libraries
// that compute (numerics, storage, scandata, engine, plot, lamm, modelfit, propagators,
// distributions, modelcalc), listed by the build, read with nm.
//
// Boxes: an object shows a box when it references a function that opens one: the
// backend's modal methods (each calls BeforeModal first, whatever box or dialog it
// opens), the error box (ShowError, ShowWorkerErrors), the presenter of the engine's
// notices (ShowNotice: the engine raises them, RaiseNotice), a number prompt (every
// Input* function the prompts library defines) or the presenter of the engine's number
// questions (AskNumberByPrompt: the engine raises them, RaiseNumberQuestion) or of its
// dialogs (RunDialogByBackend: the engine raises them, RaiseDialog). The engine hands its messages up;
// the objects that still show boxes themselves are recorded in engine_census.txt,
// and no other object may start to.
//
// State: the mutable variables at namespace scope, each counted once by name (data
// and bss symbols, weak and unique objects of inline variables; not vtables, type
// information, guard variables, a function's own statics, nor constants: what is
// const without a constant initialiser still lands in bss, and is known by its
// name, kName). Their count may not rise above the ceiling recorded in
// engine_census.txt.
//
// Function statics: a function's own static that holds data, in the engine's objects
// and the services', is state like a global's (a cache one analysis fills and the
// next finds, a store shared by the threads): each is named below (kHeld) with the
// reason it stays, and so is each mutable namespace-scope variable of services/.
// The linker shows a function static as a data symbol of the function's name and
// the variable's ("tarmic::Cache(int)::store"); constants (read-only sections) and
// guard variables are not counted. A name listed that a build does not hold (an
// optimiser dropped it) is reported, not failed.
//
// TARMIC_RECORD_CENSUS=1 writes the census of this kind of build into
// engine_census.txt anew (after a change that lowers the counts: the ratchet goes
// down with it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "nm_symbols.h"

namespace {

using tarmic::census::NmSymbol;
using tarmic::census::NmSymbols;

const char* const kEngineLibraries[] = {"numerics", "storage",     "scandata",      "engine",   "plot", "lamm",
                                        "modelfit", "propagators", "distributions", "modelcalc"};

std::vector<std::string> ListedObjects() {
  std::ifstream in(TARMIC_SYMBOL_CENSUS_OBJECTS);
  std::vector<std::string> objects;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) objects.push_back(line);
  return objects;
}

std::vector<std::string> ObjectsOf(const std::vector<std::string>& objects, const std::string& library) {
  std::vector<std::string> of;
  for (const std::string& o : objects)
    if (o.find("/tarmic_" + library + ".dir/") != std::string::npos) of.push_back(o);
  return of;
}

// "modelcalc/fit_driver.cpp" for the object of modelcalc/fit_driver.cpp.
std::string SourceOf(const std::string& object) {
  static const std::regex built(R"(/tarmic_(\w+)\.dir/(\./)?(.+)\.o$)");
  std::smatch m;
  if (!std::regex_search(object, m, built)) return object.substr(object.rfind('/') + 1);
  return m[1].str() + "/" + m[3].str();
}

// The functions that open a box.
std::set<std::string> BoxFunctions(const std::vector<std::string>& objects) {
  std::set<std::string> box = {"tarmic::BeforeModal()", "tarmic::ShowError(char const*, bool)",
                               "tarmic::ShowWorkerErrors()", "tarmic::ShowNotice(tarmic::EngineNotice const&)",
                               "tarmic::AskNumberByPrompt(tarmic::NumberQuestion const&)",
                               "tarmic::RunDialogByBackend(tarmic::DialogTemplate const&, tarmic::TransferBuffer&)"};
  for (const NmSymbol& s : NmSymbols(ObjectsOf(objects, "prompts"), "--defined-only"))
    if (s.type == 'T' && s.name.starts_with("tarmic::Input")) box.insert(s.name);
  return box;
}

// Per object (by its source), how many box functions it references.
std::map<std::string, int> BoxesShown(const std::vector<std::string>& objects, const std::set<std::string>& box) {
  std::map<std::string, int> shown;
  for (const NmSymbol& s : NmSymbols(objects, "-u"))
    if (s.type == 'U' && box.contains(s.name)) ++shown[SourceOf(s.object)];
  return shown;
}

// The name without the ABI tags one compiler adds and another does not.
std::string NameOf(const NmSymbol& s) {
  std::string name = s.name;
  for (std::size_t at; (at = name.find("[abi:")) != std::string::npos;) name.erase(at, name.find(']', at) + 1 - at);
  return name;
}

bool IsMutableGlobal(const NmSymbol& s) {
  static const std::string kData = "BbDdVuGgSs";
  if (kData.find(s.type) == std::string::npos) return false;
  // Only the program's own (the standard library's and the compiler's are not),
  // and not what is read-only (constants, also those of inline variables).
  if (!s.name.starts_with("tarmic::")) return false;
  if (s.section.starts_with(".rodata") || s.section.starts_with(".data.rel.ro")) return false;
  // What the compiler makes (and the sanitizers' names, which begin with "__").
  for (const char* made : {"vtable for", "typeinfo", "guard variable", "VTT for", "construction vtable",
                           "DW.ref.", "__", "reference temporary", "TLS ", "_GLOBAL_"})
    if (s.name.starts_with(made)) return false;
  std::string name = NameOf(s);
  for (std::size_t at; (at = name.find("(anonymous namespace)")) != std::string::npos;) name.replace(at, 21, "{}");
  // A function's own static (its name goes through the function's parameters).
  if (name.find(')') != std::string::npos) return false;
  const std::string last = name.substr(name.rfind(':') == std::string::npos ? 0 : name.rfind(':') + 1);
  const bool constantName = last.size() > 1 && last[0] == 'k' && last[1] >= 'A' && last[1] <= 'Z';
  return !constantName;
}

// The mutable namespace-scope variables by name, with an object that defines each.
std::map<std::string, std::string> MutableGlobals(const std::vector<std::string>& objects) {
  std::map<std::string, std::string> globals;
  for (const NmSymbol& s : NmSymbols(objects, "--defined-only -f sysv"))
    if (IsMutableGlobal(s)) globals.emplace(NameOf(s), SourceOf(s.object));
  return globals;
}

// A function's own static that holds data, by its name ("(anonymous namespace)"
// as "{}"); empty for any other symbol.
std::string FunctionStaticName(const NmSymbol& s) {
  static const std::string kData = "BbDdVuGgSs";
  if (kData.find(s.type) == std::string::npos) return {};
  if (s.section.starts_with(".rodata") || s.section.starts_with(".data.rel.ro")) return {};
  if (s.name.find("tarmic::") == std::string::npos) return {};
  for (const char* made : {"vtable for", "typeinfo", "guard variable", "VTT for", "construction vtable", "DW.ref.",
                           "__", "reference temporary", "TLS ", "_GLOBAL_"})
    if (s.name.starts_with(made)) return {};
  std::string name = NameOf(s);
  for (std::size_t at; (at = name.find("(anonymous namespace)")) != std::string::npos;) name.replace(at, 21, "{}");
  const std::size_t close = name.rfind(')');
  if (close == std::string::npos) return {};
  // After the function's parameters (and its qualifiers): one or more "::name".
  std::string tail = name.substr(close + 1);
  for (const char* qualifier : {" const", " volatile", " &&", " &", " noexcept"})
    if (tail.starts_with(qualifier)) tail.erase(0, std::string(qualifier).size());
  static const std::regex variable(R"(^(::[A-Za-z_]\w*)+$)");
  if (!std::regex_match(tail, variable)) return {};
  const std::string last = tail.substr(tail.rfind(':') + 1);
  if (last.starts_with("__")) return {};  // the compiler's (__func__, the sanitizers')
  return name;
}

// The function statics that hold data, by name, with an object that defines each.
std::map<std::string, std::string> FunctionStatics(const std::vector<std::string>& objects) {
  std::map<std::string, std::string> statics;
  for (const NmSymbol& s : NmSymbols(objects, "--defined-only -f sysv"))
    if (const std::string name = FunctionStaticName(s); !name.empty()) statics.emplace(name, SourceOf(s.object));
  return statics;
}

// The census as recorded for builds of this kind (compiler, build type,
// sanitizers): an optimiser drops a variable nobody reads that a build without
// one keeps, so each kind of build keeps its own counts.
struct Recorded {
  std::size_t globalsCeiling = 0;
  std::map<std::string, int> boxes;
};

// A kind of build without a census of its own is held to the largest counts of
// the kinds recorded.
Recorded ReadRecorded() {
  std::map<std::string, Recorded> byBuild;
  std::ifstream in(TARMIC_ENGINE_CENSUS_BASELINE);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string build, kind, what;
    fields >> build >> kind;
    Recorded& r = byBuild[build];
    if (kind == "globals") fields >> r.globalsCeiling;
    if (kind == "boxes" && fields >> what) fields >> r.boxes[what];
  }
  if (const auto own = byBuild.find(TARMIC_CENSUS_BUILD); own != byBuild.end()) return own->second;
  std::printf("engine census: none recorded for a %s build; the largest counts recorded apply\n", TARMIC_CENSUS_BUILD);
  Recorded largest;
  for (const auto& [build, r] : byBuild) {
    largest.globalsCeiling = std::max(largest.globalsCeiling, r.globalsCeiling);
    for (const auto& [source, count] : r.boxes) largest.boxes[source] = std::max(largest.boxes[source], count);
  }
  return largest;
}

// Records the census of this kind of build, keeping the other kinds' lines.
void Record(std::size_t globals, const std::map<std::string, int>& shown) {
  std::vector<std::string> kept;
  {
    std::ifstream in(TARMIC_ENGINE_CENSUS_BASELINE);
    for (std::string line; std::getline(in, line);)
      if (!line.starts_with("#") && !line.starts_with(std::string(TARMIC_CENSUS_BUILD) + " ")) kept.push_back(line);
  }
  std::ofstream out(TARMIC_ENGINE_CENSUS_BASELINE);
  out << "# The engine census (engine_census_test.cpp) of each kind of build: the ceiling of the\n"
         "# mutable namespace-scope variables, and each object that shows boxes with the number\n"
         "# of box functions it calls.\n";
  for (const std::string& line : kept) out << line << "\n";
  out << TARMIC_CENSUS_BUILD << " globals " << globals << "\n";
  for (const auto& [source, count] : shown) out << TARMIC_CENSUS_BUILD << " boxes " << source << " " << count << "\n";
}

std::vector<std::string> EngineObjects() {
  std::vector<std::string> engine;
  const std::vector<std::string> all = ListedObjects();
  for (const char* library : kEngineLibraries)
    for (const std::string& o : ObjectsOf(all, library)) engine.push_back(o);
  return engine;
}

// The planted object: its box is seen, its two mutable variables are counted and
// its constants and the function's static are not.
TEST(EngineCensus, ThePlantedBoxAndGlobalsAreCounted) {
  const std::vector<std::string> plant = {TARMIC_ENGINE_CENSUS_PLANT};
  const std::map<std::string, int> shown = BoxesShown(plant, BoxFunctions(ListedObjects()));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown.begin()->second, 1);
  std::set<std::string> names;
  for (const auto& [name, object] : MutableGlobals(plant)) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"tarmic::gPlantedCounter", "tarmic::(anonymous namespace)::gPlantedHidden"}));
}

// The planted function statics: the counter, the cache made on first use and the
// per-thread depth are counted; the function's constant table is not.
TEST(EngineCensus, ThePlantedFunctionStaticsAreCounted) {
  std::set<std::string> names;
  for (const auto& [name, object] : FunctionStatics({TARMIC_ENGINE_CENSUS_PLANT})) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"tarmic::PlantedCount()::calls", "tarmic::PlantedCache(int)::cache",
                                          "tarmic::PlantedDepth(int)::depth"}));
}

TEST(EngineCensus, NoNewEngineObjectShowsBoxesAndNoGlobalIsAdded) {
  const std::vector<std::string> engine = EngineObjects();
  ASSERT_GT(engine.size(), 150u) << "the engine's objects are listed in " << TARMIC_SYMBOL_CENSUS_OBJECTS;
  const std::set<std::string> box = BoxFunctions(ListedObjects());
  ASSERT_GE(box.size(), 5u) << "the prompts' Input functions were not found";
  const std::map<std::string, int> shown = BoxesShown(engine, box);
  const std::map<std::string, std::string> globals = MutableGlobals(engine);
  std::printf("engine census: %zu objects, %zu of them show boxes, %zu mutable namespace-scope variables\n",
              engine.size(), shown.size(), globals.size());

  if (const char* record = std::getenv("TARMIC_RECORD_CENSUS"); record && std::string(record) == "1") {
    Record(globals.size(), shown);
    GTEST_SKIP() << "recorded into " << TARMIC_ENGINE_CENSUS_BASELINE;
  }
  const Recorded recorded = ReadRecorded();
  ASSERT_GT(recorded.globalsCeiling, 0u) << "no census of a " << TARMIC_CENSUS_BUILD << " build in "
                                         << TARMIC_ENGINE_CENSUS_BASELINE << " (TARMIC_RECORD_CENSUS=1 records it)";
  for (const auto& [source, count] : shown) {
    const auto was = recorded.boxes.find(source);
    if (was == recorded.boxes.end())
      ADD_FAILURE() << source << " shows boxes: hand the message up to the command that shows it";
    else
      EXPECT_LE(count, was->second) << source << " calls more box functions than before";
  }
  for (const auto& [source, count] : recorded.boxes)
    if (!shown.contains(source))
      std::printf("engine census: %s shows no box any more: record the census anew\n", source.c_str());
  if (globals.size() > recorded.globalsCeiling) {
    std::string names;
    for (const auto& [name, object] : globals) names += "\n  " + name + " (" + object + ")";
    ADD_FAILURE() << globals.size() << " mutable namespace-scope variables in the engine, above the ceiling of "
                  << recorded.globalsCeiling << ": keep new state in an object the caller owns. All of them:"
                  << names;
  }
}

}  // namespace

namespace {

// Threads: a worker of a computation works on the analysis of the thread that
// started it, so every thread the engine starts goes through StartAnalysisThread
// (numerics/analysis.cpp, the only engine object that starts one otherwise).
TEST(EngineCensus, EveryEngineThreadStartsOnItsAnalysis) {
  const std::vector<std::string> engine = EngineObjects();
  std::set<std::string> starters, throughTheDoor;
  for (const NmSymbol& s : NmSymbols(engine, "-u")) {
    if (s.type != 'U') continue;
    if (s.name.starts_with("tarmic::TryStartWorkerThread(") || s.name.starts_with("std::thread::_M_start_thread("))
      starters.insert(SourceOf(s.object));
    if (s.name.starts_with("tarmic::StartAnalysisThread(")) throughTheDoor.insert(SourceOf(s.object));
  }
  std::printf("engine census: %zu objects start threads through the analysis' door\n", throughTheDoor.size());
  EXPECT_EQ(starters, std::set<std::string>{"numerics/analysis.cpp"})
      << "an engine object starts a thread itself: use StartAnalysisThread";
  EXPECT_GE(throughTheDoor.size(), 3u) << "the Lamm solver, the normal equations and the Monte Carlo start threads";
}

// The state of an analysis lives in its parts: what stays at namespace scope is the
// program's own (hooks installed at start-up, the file system, fonts, counters).
TEST(EngineCensus, AtMostAHundredAndFiftyGlobalsStay) {
  EXPECT_LE(MutableGlobals(EngineObjects()).size(), 150u);
}

}  // namespace

namespace {

// The function statics that hold data and the services' namespace-scope variables,
// each with the reason it stays: the program's own (hooks installed at start-up,
// presenters, the process' outputs and their locks, the processor's kernels, the
// numbers of the kinds of parts), constant tables made on first use, and per-thread
// scratch that each call fills anew; never an analysis' data, which lives in the
// analysis' parts (numerics/analysis.h). A name is written without the functions'
// parameters ("tarmic::{}::Hooks::hooks"), "*" standing for any text.
struct Held {
  const char* name;
  const char* reason;
};
const Held kHeld[] = {
    // The analysis' own machinery.
    {"tarmic::Analysis::NewPartIndex::next", "the count of the kinds of parts, the program's"},
    {"tarmic::Analysis::Get<*>::index", "the slot of a kind of part, the same in every analysis"},
    // Hooks and presenters the program installs at start-up.
    {"tarmic::GetDistributionHooks::hooks", "the distributions' hooks, installed at start-up"},
    {"tarmic::{}::Hooks::hooks", "the model fit's hooks, installed at start-up"},
    {"tarmic::{}::ZoomHook::hook", "the noise plot's zoom hook, installed at start-up"},
    {"tarmic::{}::Installed::slot", "the presenter of the engine's notices, and the front end's answer policy"},
    {"tarmic::{}::State::state", "the sounds the program plays and whether it plays them"},
    // The file system and the process' identity in the save journal.
    {"tarmic::PosixFileSystem::posix", "the one file system of the process"},
    {"tarmic::save_parts::{}::Own::own", "the process' own mark on the files it saves"},
    {"tarmic::{}::OwnStart::cachedPid", "the process' id, read once"},
    {"tarmic::{}::OwnStart::cachedStart", "the process' start time, read once"},
    // The processor's kernels, chosen once.
    {"tarmic::ProfileSums::Written::sums", "the scan sums' kernel for this processor"},
    {"tarmic::{}::ActiveKernels::active", "the normal equations' kernels for this processor"},
    {"tarmic::{}::HasAvx2::has", "what the processor offers"},
    {"tarmic::{}::HasAvx512::has", "what the processor offers"},
    {"tarmic::{}::FastCholesky::avx2", "what the processor offers"},
    {"tarmic::{}::MeasureWindowRows::avx2", "what the processor offers"},
    // Constants made on first use.
    {"tarmic::CWINPlot::AutoScale::kEmpty", "an empty vector, constant"},
    {"tarmic::{}::ScanName::empty", "an empty name, constant"},
    {"tarmic::engine::EquilibriumModelNames::names", "the names of the equilibrium models, constant"},
    {"tarmic::{}::TemplateChoices::choices", "the parameter templates, constant"},
    {"tarmic::{}::VariantFields::fields", "the fields of the model variants, constant"},
    // Per thread: a recursion guard, and scratch each call fills anew.
    {"tarmic::CalculateModel::checking", "per thread: the grid check's own call stack"},
    {"tarmic::ComputeNormalEquationRowMeans::scanSums", "per thread: scratch of each call"},
    {"tarmic::{}::CentrePanelPoints::*", "per thread: scratch of each call"},
    // The program's messages and the process' standard error.
    {"tarmic::{}::OnceRecord::record", "the messages said once per command, one record a thread"},
    {"tarmic::{}::WorkerErrorMutex::m", "the lock of the worker threads' messages"},
    {"tarmic::{}::WorkerErrors::errors", "the worker threads' messages, shown by the window's thread"},
    {"tarmic::ShowError::stderrMutex", "the lock of the process' standard error"},
    {"tarmic::{}::g_errorsShown", "the count of error boxes shown (the program's)"},
    {"tarmic::{}::g_keptDepth", "the depth of the kept-messages brackets (the program's)"},
    {"tarmic::{}::g_listener", "the listener of the computations' events (the window)"},
    {"tarmic::{}::g_listenerMutex", "the lock of that listener"},
    {"tarmic::{}::t_question", "per thread: the question a computation asks its listener"},
    {"tarmic::{}::t_consent", "per thread: the answer to the replace question of a batch"},
    // The program's switches and paths (services/run_switches.h, path_table.h).
    {"tarmic::bBatchMode", "the program runs as a batch"},
    {"tarmic::bKeyLatch", "a key pressed in the main window while nothing runs"},
    {"tarmic::bPlaySounds", "the user's sound setting"},
    {"tarmic::bSeriesInterrupted", "the user stopped a series"},
    {"tarmic::bStopRealtimeUpdate", "an interrupted run stops the realtime update of files"},
    {"tarmic::bUserAbort", "the user's stop"},
    {"tarmic::nSeriesErrorCode", "the exit code of a batch series"},
    {"tarmic::sz*", "the program's folders, files and sounds (path table)"},
};

// The name without the functions' parameter lists.
std::string WithoutParameters(const std::string& name) {
  std::string out;
  int depth = 0;
  for (char c : name) {
    if (c == '(') ++depth;
    if (depth == 0) out += c;
    if (c == ')' && depth > 0) --depth;
  }
  return out;
}

// The name without the return type that some demanglers print before a function
// template's name ("T& ns::F<T>()::x" for "ns::F<T>()::x"): the first blank outside
// template brackets ends it.
std::string WithoutReturnType(const std::string& name) {
  int depth = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '<') ++depth;
    if (c == '>' && depth > 0) --depth;
    if (c == ' ' && depth == 0 && name.find("::", i) != std::string::npos) return name.substr(i + 1);
  }
  return name;
}

// A name of kHeld as a regular expression ("*": any text).
std::regex HeldPattern(const std::string& name) {
  std::string pattern = "^";
  for (char c : name) {
    if (c == '*')
      pattern += ".*";
    else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ' ')
      pattern += c;
    else
      pattern += std::string("\\") + c;
  }
  return std::regex(pattern + "$");
}

std::vector<std::string> ServicesObjects() { return ObjectsOf(ListedObjects(), "services"); }

TEST(EngineCensus, EveryFunctionStaticThatHoldsDataIsListedWithItsReason) {
  std::vector<std::string> objects = EngineObjects();
  const std::vector<std::string> services = ServicesObjects();
  ASSERT_GE(services.size(), 5u) << "the services' objects are listed in " << TARMIC_SYMBOL_CENSUS_OBJECTS;
  objects.insert(objects.end(), services.begin(), services.end());
  std::map<std::string, std::string> held = FunctionStatics(objects);
  const std::map<std::string, std::string> servicesGlobals = MutableGlobals(services);
  std::printf("engine census: %zu function statics that hold data (engine and services), "
              "%zu mutable namespace-scope variables of services\n",
              held.size(), servicesGlobals.size());
  held.insert(servicesGlobals.begin(), servicesGlobals.end());
  std::vector<std::regex> patterns;
  for (const Held& h : kHeld) patterns.push_back(HeldPattern(h.name));
  std::vector<int> uses(std::size(kHeld), 0);
  for (const auto& [symbol, object] : held) {
    std::string name = symbol;
    for (std::size_t at; (at = name.find("(anonymous namespace)")) != std::string::npos;) name.replace(at, 21, "{}");
    bool listed = false;
    for (std::size_t k = 0; k < patterns.size() && !listed; ++k)
      if (std::regex_match(WithoutReturnType(WithoutParameters(name)), patterns[k])) {
        listed = true;
        ++uses[k];
      }
    if (!listed)
      ADD_FAILURE() << name << " (" << object
                    << ") holds data outside the analysis: make it a part of the analysis "
                       "(numerics/analysis.h), or list it in kHeld with the reason it stays";
  }
  for (std::size_t k = 0; k < patterns.size(); ++k)
    if (uses[k] == 0) std::printf("engine census: nothing of this build is %s\n", kHeld[k].name);
}

}  // namespace

namespace {

// Questions: every Yes/No question of the engine goes through RaiseQuestion
// (services/engine_notice.h), under a stable id and with the answer taken where
// nobody is asked, so the answer policy in force (the window's box, the batch's
// answer by id, a test's script) answers it. The doors below are the symbols by
// which an object gets a user's answer past that door: a box whose answer comes
// back (RaiseBox, RaiseNotice, the presenter ShowNotice), any modal method of the
// backend (each calls BeforeModal), a dialog (RaiseDialog, its presenter
// RunDialogByBackend) and the loaders' messages handed to the commands
// (ShowLoadMessage). RaiseNote returns nothing: a note cannot ask. Number
// questions (RaiseNumberQuestion) are inputs, not counted here.
//
// Each object of the engine's libraries and of services/ that references a door is
// listed with the door and the reason; an object that starts to ask past the door
// fails.
const char* const kQuestionDoorSymbols[] = {
    "tarmic::RaiseBox(",         "tarmic::RaiseNotice(",        "tarmic::ShowNotice(",      "tarmic::BeforeModal()",
    "tarmic::RaiseDialog(",      "tarmic::RunDialogByBackend(", "tarmic::ShowLoadMessage(",
};

struct Door {
  const char* object;  // the source, as SourceOf names it
  const char* door;    // the symbol's name up to its parameters
  const char* reason;
};
const Door kDoors[] = {
    // The door itself and the boxes that only tell.
    {"services/engine_notice.cpp", "tarmic::BeforeModal()", "the front end's presenter of notices (ShowNotice)"},
    {"services/error_box.cpp", "tarmic::BeforeModal()", "the error box: one OK button, nothing asked"},
    // The loaders hand each message with its id (LoadMessageId) to the command layer,
    // which shows it and records it among the load's notes; one is a question
    // ("switch to Equilibrium Data Mode?"), which the batch leaves unanswered.
    {"scandata/scan_loading.cpp", "tarmic::ShowLoadMessage(", "the loaders' messages, by id, to the commands"},
    {"scandata/file_list.cpp", "tarmic::ShowLoadMessage(", "the refusal of too many scans, to the commands"},
    {"scandata/data_set_hooks.cpp", "tarmic::RaiseBox(", "the loaders' messages where no command took them"},
    // The model dialogs: the user interface kept in the modelfit library. The
    // commands open them (Parameters..., Lamm Equation Parameters...); no
    // computation does.
    {"modelfit/params_dialog.cpp", "tarmic::RaiseDialog(", "the model parameters dialog, opened by its command"},
    {"modelfit/params_dialog.cpp", "tarmic::RaiseBox(", "the dialog's questions (fit ks? fit kd?) and notes"},
    {"modelfit/lamm_dialog.cpp", "tarmic::RaiseDialog(", "the Lamm equation parameters dialog, opened by its command"},
    {"modelfit/lamm_dialog.cpp", "tarmic::RaiseBox(", "the dialog's question (save as default?) and notes"},
    {"modelfit/param_checks.cpp", "tarmic::RaiseBox(", "the checks of the model dialog's entries"},
    {"modelfit/model_params.cpp", "tarmic::RaiseBox(", "the model dialog's notes on the values read"},
    {"modelfit/lamm_settings.cpp", "tarmic::RaiseBox(", "the Lamm dialog's notes on the settings read"},
};

// The objects that still raise their questions at the door, RaiseQuestion: the
// window's answer policy itself, and the one question of every save (replacing
// files), which the commands ask before they write.
const char* const kAskingAtTheDoor[] = {"services/answer_policy.cpp", "services/replace_question.cpp"};

// Per object (by its source), the symbols named by prefixes it references.
std::set<std::pair<std::string, std::string>> Referencing(const std::vector<std::string>& objects,
                                                          const std::vector<const char*>& prefixes) {
  std::set<std::pair<std::string, std::string>> found;
  for (const NmSymbol& s : NmSymbols(objects, "-u")) {
    if (s.type != 'U') continue;
    for (const char* prefix : prefixes)
      if (s.name.starts_with(prefix)) found.insert({SourceOf(s.object), prefix});
  }
  return found;
}

// Per object (by its source), the doors it references.
std::set<std::pair<std::string, std::string>> DoorsReferenced(const std::vector<std::string>& objects) {
  return Referencing(objects, {std::begin(kQuestionDoorSymbols), std::end(kQuestionDoorSymbols)});
}


TEST(QuestionCensus, EveryQuestionOfTheEngineGoesThroughRaiseQuestion) {
  std::vector<std::string> objects = EngineObjects();
  const std::vector<std::string> services = ServicesObjects();
  objects.insert(objects.end(), services.begin(), services.end());
  const auto found = DoorsReferenced(objects);
  std::set<std::string> asking;
  for (const NmSymbol& s : NmSymbols(objects, "-u"))
    if (s.type == 'U' && s.name.starts_with("tarmic::RaiseQuestion(")) asking.insert(SourceOf(s.object));
  std::printf("question census: %zu doors past RaiseQuestion (all listed below with their reasons), "
              "%zu objects ask through it\n",
              found.size(), asking.size());
  std::set<std::pair<std::string, std::string>> listed;
  for (const Door& d : kDoors) listed.insert({d.object, d.door});
  for (const auto& [object, door] : found)
    if (!listed.contains({object, door}))
      ADD_FAILURE() << object << " references " << door
                    << ": an engine question is raised with RaiseQuestion (an id, its text, the answer taken where "
                       "nobody is asked), a note with RaiseNote; a door of its own is listed in kDoors with its reason";
  for (const Door& d : kDoors)
    if (!found.contains({d.object, d.door}))
      std::printf("question census: %s no longer references %s: drop it from kDoors\n", d.object, d.door);
  // The questions still raised at the door are those kept there, no more (a door
  // added later fails) and no fewer (a build that lists no objects would pass).
  EXPECT_EQ(asking, std::set<std::string>(std::begin(kAskingAtTheDoor), std::end(kAskingAtTheDoor)))
      << "an object raises a question at the door: take an answer policy from the caller instead";
}

// The computing libraries ask no door at all: a computation that meets a question
// asks the answer policy its caller handed it (AnswersYes, services/answer_policy.h),
// so the window asks and the batch answers from its options by the same call. An
// object of these libraries that references RaiseQuestion, the window's policy or
// the front end's slot (or, above, any box door) asks past the value it was given.
const char* const kComputingLibraries[] = {"numerics",  "lamm",   "propagators", "distributions",
                                           "modelcalc", "engine", "scandata"};
const char* const kPolicyBypasses[] = {"tarmic::RaiseQuestion(", "tarmic::AskingPolicy(", "tarmic::FrontEndAnswers(",
                                       "tarmic::SetFrontEndAnswers("};

std::vector<std::string> ComputingObjects() {
  const std::vector<std::string> all = ListedObjects();
  std::vector<std::string> objects;
  for (const char* library : kComputingLibraries)
    for (const std::string& o : ObjectsOf(all, library)) objects.push_back(o);
  return objects;
}

// The plant's direct question is caught as a door; its question at the door is
// caught as a bypass of the policy; its note is neither.
TEST(QuestionCensus, ThePlantsQuestionsAreCaught) {
  const auto doors = DoorsReferenced({TARMIC_QUESTION_CENSUS_PLANT});
  ASSERT_EQ(doors.size(), 1u);
  EXPECT_EQ(doors.begin()->second, "tarmic::RaiseBox(");
  const auto bypasses = Referencing({TARMIC_QUESTION_CENSUS_PLANT}, {std::begin(kPolicyBypasses), std::end(kPolicyBypasses)});
  ASSERT_EQ(bypasses.size(), 1u);
  EXPECT_EQ(bypasses.begin()->second, "tarmic::RaiseQuestion(");
}

TEST(QuestionCensus, TheComputingLibrariesAskOnlyThePolicyTheyAreGiven) {
  const std::vector<std::string> objects = ComputingObjects();
  ASSERT_FALSE(objects.empty());
  for (const auto& [object, symbol] : Referencing(objects, {std::begin(kPolicyBypasses), std::end(kPolicyBypasses)}))
    ADD_FAILURE() << object << " references " << symbol
                  << ": a computation asks the answer policy its caller hands it (AnswersYes), never a door";
  // The computations that ask, scandata's save of fitted DLS data and its time
  // stamps' questions (after a load, and restoring the times) ask the policy they
  // are handed.
  const auto policy = Referencing(objects, {"tarmic::AnswersYes("});
  std::printf("question census: %zu objects ask the policy they are given\n", policy.size());
  for (const char* asker : {"modelcalc/fit_persistence.cpp", "distributions/distribution_grid.cpp",
                            "distributions/conti_run.cpp", "scandata/result_files.cpp", "scandata/time_stamps.cpp"})
    EXPECT_TRUE(policy.contains({asker, "tarmic::AnswersYes("})) << asker << " asks its questions of the policy";
}

}  // namespace
