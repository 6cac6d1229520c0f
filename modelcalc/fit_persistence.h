// Saving and restoring the state of an analysis (its text report is
// modelcalc/parameter_report.h).
//
// The state (model, species, meniscus, bottom, fit limits, solvent values, the
// Lamm-equation settings, the buffer-mismatch and fluorescence corrections) is one
// vector of kSavedParamCount numbers, indices 0..173, written one per line ("%f")
// to the parameter file szTmpParsPath ("~tmppars" with the data's extension in the
// data directory). Encodings: a flag is 1.0 or 0.0 and is on exactly when the value
// is 1.0 (a line of a flag holds 0 or 1 alone); an integer is stored as its float
// and restored by truncation; a double
// setting is stored rounded to float. Index 0 marks the kind of state (0.0 data,
// 1.0 analysis); index 72 identifies a continuous model and index 173 the variant
// of a discrete-species model (see the codes below). A file needs at least
// kMinSavedParams values; entries from index 81 on may be missing (older files):
// missing switches take their defaults, missing values keep the current ones.
#pragma once

#include "numerics/analysis.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "modelcalc/save_result.h"
#include "services/answer_policy.h"

namespace tarmic {

class Window;

inline constexpr int kSavedParamCount = 174;
inline constexpr int kMinSavedParams = 95;

// Continuous-model codes of index 72. Codes 1 to 6 name plain c(s) and the five
// variants that older files already knew; every other continuous model is saved
// under its menu command identifier (all above 6), so that it comes back as itself.
inline constexpr int kContiCodeNone = 0;
inline constexpr int kContiCodeCs = 1;
inline constexpr int kContiCodeCsOneDiscrete = 2;
inline constexpr int kContiCodeCsff0 = 3;
inline constexpr int kContiCodeCsff0OneDiscrete = 4;
inline constexpr int kContiCodeCsScalingLaw = 5;
inline constexpr int kContiCodeFMScalingLaw = 6;

// Discrete-model variants of index 173 that have no switch of their own in the
// vector (0: none of them; older files hold 0 there).
enum class DiscreteVariant {
  None = 0,
  HeteroAssociation = 1,
  LinearGeometry = 2,
  ExternalLoadingCell = 3,
  Electrophoresis = 4,
  PlanarQuadrature = 5,
  StokesRadii = 6,
  Cumulants = 7,
};

// The state of this module in an analysis (numerics/analysis.h).
struct FitPersistenceState {
  // The serialize-fit answer "restore previous params if available?": in batch mode
  // the saved state is restored without a question when it is set (off).
  bool bRestorePreviousParams = false;
};
// The current analysis' FitPersistenceState.
inline FitPersistenceState& FitPersistence() { return CurrentPart<FitPersistenceState>(); }

// What the restoring asks of the command library (the model commands live there).
struct FitPersistenceHooks {
  // The general model reset that every model command runs first.
  std::function<void(Window*)> switchModel;
  // Runs the model command with this menu identifier; false when that command is
  // not available (the model then stays reset).
  std::function<bool(Window*, int commandId)> chooseModel;
  // Draws the marker of the reference meniscus at a radius (cm) in the data pane;
  // nothing when no data plot exists.
  std::function<void(Window*, float radius)> drawReferenceMeniscus;
};
FitPersistenceHooks& GetFitPersistenceHooks();
void ResetFitPersistenceHooks();

// The code of index 72 for the active model (kContiCodeNone when it is not
// continuous) and the menu command that restores a code (0 for none).
int ContinuousModelCode();
int ContinuousModelCommand(int code);
// Every code of index 72 the reader knows (ContinuousModelCommand gives a command),
// one per continuous model, in increasing order.
std::vector<int> ContinuousModelCodes();
DiscreteVariant ActiveDiscreteVariant();

// The vector of the current state; asData sets index 0 to 0.0, else 1.0.
// Building it changes the model on purpose, so that what is saved is what a reload
// restores: with linked amplitudes the amplitude switch of every included species
// is set to 1 (the linear solve decides those amplitudes), and UnpackModelParams
// copies pParams and its fit switches into the per-species arrays the vector is
// read from.
std::vector<float> BuildParameterVector(bool asData);
// The same vector as an analysis, as the state stands, changing nothing.
std::vector<float> AnalysisStateVector();
// The indices the vector holds as whole numbers (switches, counts, codes), as the
// writing pass stores them; the parameter file's whole rows must cover them. *flags
// (when given) receives those it stores as flags, 0 or 1 alone: the parameter
// file's flag rows must be exactly these.
std::set<int> ParameterEntriesHeldWhole(std::set<int>* flags = nullptr);

// Writes that vector to szTmpParsPath; nothing (ok) while the path is empty (no
// data). Shows nothing: a failed write ("Attention: could not open %s" or
// "Attention: could not write %s") comes back for the command to show once.
SaveResult TmpSaveBestParams(Window* window, bool bAsData);

// Reads a parameter file and restores the state it holds: model, settings, menu
// check marks. 1 when restored, 0 when the file is missing (then nothing changes
// and nothing is said) or cannot be used: no plain text, fewer than
// kMinSavedParams values, a line that is not one number as a whole (FileLineNumber,
// numerics/number_input.h; a last line without its line end is read), a switch
// line that holds other than 0 or 1, more lines than the layout, a value
// outside its row of the table of valid values (ParameterFileEntries,
// numerics/value_ranges.h: ranges, known model codes, grid size limits that do not
// cross, fitting limits from 0 to the bottom in order, a bottom once a meniscus or
// a fitting limit is set), or values of the vector the Parameters dialog would
// refuse for the model the file selects (ModelValuesRefusal). Such a file is
// refused with the line, the text it holds and the reason in a box captioned
// "reload parameters" (no
// box in batch mode), the only box of the reload; the loaded model stays as it
// was. A numerical setting of the solver outside its range (a file of an earlier
// version) takes the nearest valid value, said in one box naming the lines. A right
// fitting limit beyond the data's last radius is moved there; a fitting limit the
// data moved is said in one box naming its line. A file shorter than the layout
// loads, and one box names the lines it lacks. The note that a distribution on show
// may need to be recalculated comes after these boxes. A VBAR20 of 0 is set to VBAR
// when answers says Yes to "VBAR20 is 0.0 ... adjust to VBAR20=VBAR?" (batch mode:
// without asking).
int ReloadParameters(Window* window, const std::string& path, const AnswerPolicy& answers);
// After loading data: offers the saved state of szTmpParsPath ("restore previous
// data?" or "load previous analysis?" by index 0); the result of ReloadParameters,
// or 0 when nothing was restored; the offer and the reload ask answers. In batch
// mode nothing is asked: the state is restored when bRestorePreviousParams is set,
// else not.
int OfferReloadParameters(Window* window, const AnswerPolicy& answers);

}  // namespace tarmic
