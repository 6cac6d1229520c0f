// The status lines of a continuous-model refinement and the replot of its best
// distribution.
#include "modelcalc/conti_fit_status.h"

#include "distributions/conti_run.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_storage.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/noise_fit.h"
#include "lamm/lamm_window_display.h"
#include "modelcalc/conti_fit_params.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_result_text.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "services/path_table.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "plot/data_plots.h"
#include "plot/fit_pane_refresh.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/solvent_settings.h"
#include "scandata/text_io.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {

std::string StatusLine() {
  auto& fitStatePart = FitState();
  switch (fitStatePart.eFitSearch) {
    case FitSearch::Marquardt:
      return Format("sim #%d, ML step #%d, step #%d         ", fitStatePart.nFitSim, fitStatePart.nFitIteration, fitStatePart.nFitStep);
    case FitSearch::Annealing:
      return Format("sim #%d, SA step #%d, step #%d, T=%.3f        ", fitStatePart.nFitSim, fitStatePart.nFitIteration,
                    fitStatePart.nFitStep, static_cast<double>(SearchSettings().fAnnealTemp));
    case FitSearch::Simplex:
      break;
  }
  return Format("s%d, step #%d        ", fitStatePart.nFitIteration, fitStatePart.nFitStep);
}

double P(int slot) { return static_cast<double>(AnalysisSwitches().pParams[slot]); }

std::string ModelLine() {
  auto& modelFlagsPart = ModelFlags();
  if (IsCsff0Model())
    return Format("ff0 min = %f, ff0 max = %f, nff0 = %f        ", P(kContiSlotShape1),
                  P(kContiSlotShape2), P(kContiSlotShape3));
  if (modelFlagsPart.bBoundaryAnalysis || modelFlagsPart.bLsgModel || modelFlagsPart.bLsgOneDiscrete) return {};
  return ContinuousModelSettingsLine(false);
}

std::string ModelOrTableLine() {
  auto& modelFlagsPart = ModelFlags();
  if (modelFlagsPart.bCsMsTable && !IsCsff0Model() && !modelFlagsPart.bBoundaryAnalysis && !modelFlagsPart.bLsgModel && !modelFlagsPart.bLsgOneDiscrete)
    return Format("M(s) as in %s", szMofsFile.c_str());
  return ModelLine();
}

const char* Floating(bool floated) { return floated ? "(fl)" : ""; }

std::string BufferLine() {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& modelFlagsPart = ModelFlags();
  const BufferSedSettings& b = bufferSedimentationPart.BufferSed;
  const double signal = b.signalSign * b.signal;
  // The buffer signal is solved with the distribution, never floated.
  std::string line = Format("buffer: %.3f", signal);
  line += Format(",D=%.2f", b.sampleD);
  line += Floating(b.fitSampleD && !modelFlagsPart.bFitMAndS);
  line += Format(",s=%.4f", b.sampleS);
  line += Floating(b.fitSampleS);
  line += Format(", Mb=%.1f", b.sampleMb);
  line += Floating(b.fitSampleD && modelFlagsPart.bFitMAndS);
  if (bufferSedimentationPart.bMeniscusMismatch || b.differentReference) {
    line += Format(", meniscus diff (s-r)=%.4f", MeniscusDifference());
    line += Floating(bufferSedimentationPart.bMeniscusMismatch && b.fitMeniscusDifference);
    line += Format(", conc. ratio (s/r)=%.3f", b.relativeConc);
    line += Floating(bufferSedimentationPart.bMeniscusMismatch && b.fitRelativeConc);
  }
  if (b.differentReference) {
    line += Format(", refD=%.2f", b.refD);
    line += Floating(b.fitRefD && !modelFlagsPart.bFitMAndS);
    line += Format(", refs=%.4f", b.refS);
    line += Floating(b.fitRefS);
    line += Format(", refMb=%.2f", b.refMb);
    line += Floating(b.fitRefD && modelFlagsPart.bFitMAndS);
  }
  return line;
}

std::string DiscreteOrBufferLine() {
  auto& modelFlagsPart = ModelFlags();
  auto& modelOptionsPart = ModelOptions();
  const double s = P(ContiDiscreteSSlot()), dm = P(ContiDiscreteDMSlot());
  if (modelFlagsPart.bCsOneDiscreteD) return Format("discrete component s = %.3f, D = %.3f", s, dm);
  if (modelFlagsPart.bBufferSedCorrection) return BufferLine();
  if (modelFlagsPart.bCsNonideal)
    return Format("discrete component s = %.3f, M = %.3f, log(ks) = %.3f, log(kD) = %.3f", s, dm,
                  static_cast<double>(modelOptionsPart.fLogKs), static_cast<double>(modelOptionsPart.fLogKd));
  if (modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsMsTable || modelFlagsPart.bLsgOneDiscrete)
    return Format("discrete component s = %.3f, M = %.3f", s, dm);
  return {};
}

std::string VbarLine() {
  const InhomSolventSettings& g = SolventSettings().gInhomSolvent;
  const double vbar = SolventConstants().VBAR, apparent = g.vbarEffective;
  const bool floated = g.bFitVbar && g.bInhomogeneousSolvent;
  if (g.bCosoluteDynamicGradient)
    return Format(floated ? "vbar = %.4f (fix), apparent vbar = %.4f (floating)"
                          : "vbar = %.4f (fix), apparent vbar = %.4f (fix)",
                  vbar, apparent);
  return Format(floated ? "vbar = %.4f (floating)" : "vbar = %.4f (fix)", vbar);
}

std::string FluorescenceLine() {
  auto& fluorescenceDetectionPart = FluorescenceDetection();
  std::string line;
  if (fluorescenceDetectionPart.bExcitationShadow)
    line += Format(fluorescenceDetectionPart.bFitConeRadius ? " - excit. cone = %.4f (floating)" : " - excit. cone = %.4f (fix)",
                   static_cast<double>(fluorescenceDetectionPart.fConeRadius));
  if (fluorescenceDetectionPart.bMagnificationDrift) {
    const double drift = fluorescenceDetectionPart.fMagnificationDrift;
    if (fluorescenceDetectionPart.bExponentialDrift)
      line += Format(fluorescenceDetectionPart.bFitMagnificationDrift ? " - dmag/dt-x (%%/h) = %.4f (floating)"
                                            : " - dmag/dt-x (%%/h) = %.4f (fix)",
                     drift);
    else
      line += Format(fluorescenceDetectionPart.bFitMagnificationDrift ? " - dmag/dt (%%/h) = %.4f (floating)"
                                            : " - dmag/dt (%%/h) = %.4f (fix)",
                     drift);
  }
  if (fluorescenceDetectionPart.bRadialConvolution)
    line += fluorescenceDetectionPart.bFitConvolutionWidth
                ? Format(" - w convolution %.4f (floating)", static_cast<double>(fluorescenceDetectionPart.fConvolutionWidth))
                : std::string(" - w convolution (fix)");
  if (fluorescenceDetectionPart.bMagnificationGradient)
    line += Format(fluorescenceDetectionPart.bFitMagnificationGradient ? " - radial mag factor = %.4f (floating)"
                                             : " - radial mag factor = %.4f (fix)",
                   static_cast<double>(fluorescenceDetectionPart.fMagnificationGradient));
  if (fluorescenceDetectionPart.bNonlinearDetection) {
    line += Format(fluorescenceDetectionPart.bFitPowerCoefficient ? " - nonlin coeff = %.4f (floating), nonlin baseline = %f"
                                        : " - nonlin coeff = %.4f (fix), nonlin baseline = %f",
                   static_cast<double>(fluorescenceDetectionPart.fPowerCoefficient), static_cast<double>(fluorescenceDetectionPart.fPowerBaseline));
    line += fluorescenceDetectionPart.bShowTransformed ? " [showing transformed]" : " [showing non-transformed]";
  }
  return line;
}

// The last solve becomes the shown distribution: fit rows, distribution values and
// their derived arrays, the plot.
void ShowLastSolve(Window* window) {
  auto& distributionStoragePart = DistributionStorage();
  if (!distributionStoragePart.pDistSolution || !DistributionVectors().pDistValues || !distributionStoragePart.pppKernels) return;
  CalculateppAFit();
  const bool showBoth = GetContiRunSettings().showBoth && !IsSizeShapeModel();
  CopySolutionToDistribution(showBoth);
  NormalizeDistributionValues(showBoth);
  RedrawDistributionPlot();
  if (window && !bBatchMode) RefreshFitPanesTimed(*window);
}

}  // namespace

std::array<std::string, 8> ContiStatusLines() {
  std::array<std::string, 8> lines;
  lines[0] = StatusLine();
  if (const std::string note = AtLimitNote(); !note.empty()) lines[0] += "- " + note;
  lines[1] = Format("rmsd=%e             ", static_cast<double>(Rmsd().fFitRmsd));
  lines[2] = ModelOrTableLine();
  lines[3] = ModelFlags().bZoneCentrifugation
                 ? Format("Lamella thickness = %f             ", P(23))
                 : Format("Bottom = %f             ", P(14));
  lines[4] = Format("Meniscus = %f           ", P(13));
  lines[5] = DiscreteOrBufferLine();
  lines[6] = VbarLine();
  lines[7] = FluorescenceLine();
  return lines;
}

void DisplayBestContiParams(Window* window) {
  auto& fitStatePart = FitState();
  auto& rmsdPart = Rmsd();
  WriteContiDebugLog("\nStarting DisplayBestContiParams");
  if (rmsdPart.fFitRmsd < fitStatePart.fStartRmsd && rmsdPart.fFitRmsd < fitStatePart.fBestRmsd) {
    fitStatePart.fBestRmsd = rmsdPart.fFitRmsd;
    ShowLastSolve(window);
  }
  if (window && !bBatchMode) {
    LammWindowDisplay display(*window);
    const std::array<std::string, 8> lines = ContiStatusLines();
    ReportProgress({ProgressKind::BestRmsd, lines[1], 0, 0, static_cast<double>(rmsdPart.fFitRmsd)});
    for (std::size_t k = 0; k < lines.size(); ++k)
      if (!lines[k].empty()) display.ShowText(10, kContiStatusRows[k], lines[k]);
  }
  WriteContiDebugLog(" --> DONE");
}

}  // namespace tarmic
