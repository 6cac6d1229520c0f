// The distribution transforms of the size-distribution options: s20,w (836), the
// Stokes-radius distribution with an optional size-dependent signal (525), and the
// direct boundary model of a g(s*) table (533).
#include <optional>
#include <string>
#include <vector>

#include "app/xla_window.h"
#include "commands/command_support.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_transforms.h"
#include "modelcalc/direct_boundary.h"
#include "services/error_box.h"
#include "numerics/matrix_table.h"
#include "numerics/one_based.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "scandata/analysis_switches.h"

namespace tarmic {

namespace {

constexpr const char* kTransformCaption = "transform distribution";

struct SolventValues {
  float vbar, vbar20, viscosity, density;
};

// The solvent of the experiment, proposed from the current settings; nothing when
// the user cancels one of the inputs.
std::optional<SolventValues> AskSolventValues(TXLAWindow& window) {
  SolventValues v{SolventConstants().VBAR, SolventConstants().VBAR20, SolventConstants().RELVISCOSITY * STANDARDVISCOSITY, SolventConstants().fBufferDensity};
  if (!AskFloat(window, &v.vbar, v.vbar, "partial specific volume at the experimental temperature (ml/g):",
                kTransformCaption, NamedAs("partial specific volume at the experimental temperature",
                                           kPartialSpecificVolume)) ||
      !AskFloat(window, &v.vbar20, v.vbar20, "partial specific volume at 20 C (ml/g):",
                kTransformCaption, NamedAs("partial specific volume at 20 C", kPartialSpecificVolume)) ||
      !AskFloat(window, &v.viscosity, v.viscosity, "buffer viscosity (Pa s):", kTransformCaption, kViscosityPaS) ||
      !AskFloat(window, &v.density, v.density, "buffer density (g/ml):", kTransformCaption, kBufferDensity))
    return std::nullopt;
  return v;
}

// The distribution can be transformed: one exists and it has not been transformed
// since it was computed (otherwise the user is told).
bool TransformAllowed(TXLAWindow& window) {
  if (!DistributionPlot().pDistPlot || DistributionVectors().nDistGrid < 1) return false;
  if (DistributionPlot().bDistTransformed) {
    PlayErrorSound();
    CommandMessageBox(window, "distribution is already transformed - need to recalculate first", "",
                      MB_OK);
    return false;
  }
  return true;
}

// A refusal with a reason (solvent values without s20,w) shows it in the error box
// first; every refusal then says that the distribution was not transformed, and
// one without a reason why: the distribution is not one of sedimentation
// coefficients.
bool ToS20w(TXLAWindow& window, const SolventValues& v) {
  const TransformResult result = TransformToS20w(v.vbar, v.vbar20, v.viscosity, v.density);
  if (result) return true;
  if (!result.message.empty()) ShowError(result.message, false);
  PlayErrorSound();
  CommandMessageBox(window,
                    result.message.empty() ? "the distribution is not one of sedimentation coefficients"
                                           : "the distribution was not transformed",
                    "", MB_OK);
  return false;
}

void MarkTransformed() {
  DistributionPlot().bDistTransformed = true;
  const auto& remove = GetDistributionHooks().deleteIntegrateButton;
  if (remove) remove();
}

}  // namespace

void TXLAWindow::CmTransformToS20wDistribution() {
  if (!TransformAllowed(*this)) return;
  const std::optional<SolventValues> v = AskSolventValues(*this);
  if (!v || !ToS20w(*this, *v)) return;
  MarkTransformed();
  RepaintMain();
}

void TXLAWindow::CmTransformToRDistribution() {
  if (!TransformAllowed(*this)) return;
  const std::optional<SolventValues> v = AskSolventValues(*this);
  if (!v) return;
  // The Stokes radii need the particle volume of vbar20: refused before the s20,w
  // step changes the grid.
  if (const std::string why = RhVbarRefusal(v->vbar20); !why.empty()) {
    ShowError(why, false);
    PlayErrorSound();
    CommandMessageBox(*this, "the distribution was not transformed", "", MB_OK);
    return;
  }
  if (!ToS20w(*this, *v)) return;
  TransformToRh(v->vbar20);
  MarkTransformed();
  if (AskYesNo(*this, "correct distribution c(R) for a size-dependent signal a(R)?", kTransformCaption)) {
    FileDialogOptions options;
    options.title = "open power series for a(R)";
    options.filter = "dat files (*.dat)|*.dat|All Files (*.*)|*.*";
    options.defaultName = "MieScatCoeffs.dat";
    const bool previous = bModalBoxOpen;
    bModalBoxOpen = true;
    const std::vector<std::string> files = GetBackend().OpenFileDialog(options);
    bModalBoxOpen = previous;
    if (!files.empty()) {
      const TransformResult corrected = ApplyMieScatCorrection(files.front());
      if (corrected) {
        RedrawDistributionPlot();
      } else if (!corrected.message.empty()) {
        ShowError(corrected.message, false);
      }
    }
  }
  RepaintMain();
}

void TXLAWindow::CmDirectBoundaryFromGss() {
  CommandMessageBox(*this,
                    "1) calculate g(s*) by dcdt (uncorrected s)\n2) write graph data to disk as "
                    "ASCII (with error estimates)",
                    "Make direct boundary model from g(s*)", MB_OK);
  FileDialogOptions options;
  options.title = "select g*(s) ASCII file from dcdt analysis";
  options.filter = "All Files (*.*)|*.*";
  const bool previous = bModalBoxOpen;
  bModalBoxOpen = true;
  const std::vector<std::string> files = GetBackend().OpenFileDialog(options);
  bModalBoxOpen = previous;
  if (files.empty()) return;
  int n = 0;
  float** m = ReadMatrixTableByColumns(files.front().c_str(), 6, &n);
  if (!m) return;
  const DirectBoundaryEnd end = DirectBoundaryFromGss(&GetHandle(), m[1], m[2], n);
  free_matrix(m, 1, 6, 1, n);
  if (end == DirectBoundaryEnd::NoMeniscusOrBottom)
    CommandMessageBox(*this, "set Meniscus and Bottom first", "", MB_OK);
  if (end == DirectBoundaryEnd::TooFewPoints)
    ShowError("the g(s*) table needs at least two rows", false);
  RepaintMain();
}

}  // namespace tarmic
