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
  switch (FitState().eFitSearch) {
    case FitSearch::Marquardt:
      return Format("sim #%d, ML step #%d, step #%d         ", FitState().nFitSim, FitState().nFitIteration, FitState().nFitStep);
    case FitSearch::Annealing:
      return Format("sim #%d, SA step #%d, step #%d, T=%.3f        ", FitState().nFitSim, FitState().nFitIteration,
                    FitState().nFitStep, static_cast<double>(SearchSettings().fAnnealTemp));
    case FitSearch::Simplex:
      break;
  }
  return Format("s%d, step #%d        ", FitState().nFitIteration, FitState().nFitStep);
}

double P(int slot) { return static_cast<double>(AnalysisSwitches().pParams[slot]); }

std::string ModelLine() {
  if (IsCsff0Model())
    return Format("ff0 min = %f, ff0 max = %f, nff0 = %f        ", P(kContiSlotShape1),
                  P(kContiSlotShape2), P(kContiSlotShape3));
  if (ModelFlags().bBoundaryAnalysis || ModelFlags().bLsgModel || ModelFlags().bLsgOneDiscrete) return {};
  return ContinuousModelSettingsLine(false);
}

std::string ModelOrTableLine() {
  if (ModelFlags().bCsMsTable && !IsCsff0Model() && !ModelFlags().bBoundaryAnalysis && !ModelFlags().bLsgModel && !ModelFlags().bLsgOneDiscrete)
    return Format("M(s) as in %s", szMofsFile.c_str());
  return ModelLine();
}

const char* Floating(bool floated) { return floated ? "(fl)" : ""; }

std::string BufferLine() {
  const BufferSedSettings& b = BufferSedimentation().BufferSed;
  const double signal = b.signalSign * b.signal;
  // The buffer signal is solved with the distribution, never floated.
  std::string line = Format("buffer: %.3f", signal);
  line += Format(",D=%.2f", b.sampleD);
  line += Floating(b.fitSampleD && !ModelFlags().bFitMAndS);
  line += Format(",s=%.4f", b.sampleS);
  line += Floating(b.fitSampleS);
  line += Format(", Mb=%.1f", b.sampleMb);
  line += Floating(b.fitSampleD && ModelFlags().bFitMAndS);
  if (BufferSedimentation().bMeniscusMismatch || b.differentReference) {
    line += Format(", meniscus diff (s-r)=%.4f", MeniscusDifference());
    line += Floating(BufferSedimentation().bMeniscusMismatch && b.fitMeniscusDifference);
    line += Format(", conc. ratio (s/r)=%.3f", b.relativeConc);
    line += Floating(BufferSedimentation().bMeniscusMismatch && b.fitRelativeConc);
  }
  if (b.differentReference) {
    line += Format(", refD=%.2f", b.refD);
    line += Floating(b.fitRefD && !ModelFlags().bFitMAndS);
    line += Format(", refs=%.4f", b.refS);
    line += Floating(b.fitRefS);
    line += Format(", refMb=%.2f", b.refMb);
    line += Floating(b.fitRefD && ModelFlags().bFitMAndS);
  }
  return line;
}

std::string DiscreteOrBufferLine() {
  const double s = P(ContiDiscreteSSlot()), dm = P(ContiDiscreteDMSlot());
  if (ModelFlags().bCsOneDiscreteD) return Format("discrete component s = %.3f, D = %.3f", s, dm);
  if (ModelFlags().bBufferSedCorrection) return BufferLine();
  if (ModelFlags().bCsNonideal)
    return Format("discrete component s = %.3f, M = %.3f, log(ks) = %.3f, log(kD) = %.3f", s, dm,
                  static_cast<double>(ModelOptions().fLogKs), static_cast<double>(ModelOptions().fLogKd));
  if (ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsOneDiscreteM || ModelFlags().bCsMsTable || ModelFlags().bLsgOneDiscrete)
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
  std::string line;
  if (FluorescenceDetection().bExcitationShadow)
    line += Format(FluorescenceDetection().bFitConeRadius ? " - excit. cone = %.4f (floating)" : " - excit. cone = %.4f (fix)",
                   static_cast<double>(FluorescenceDetection().fConeRadius));
  if (FluorescenceDetection().bMagnificationDrift) {
    const double drift = FluorescenceDetection().fMagnificationDrift;
    if (FluorescenceDetection().bExponentialDrift)
      line += Format(FluorescenceDetection().bFitMagnificationDrift ? " - dmag/dt-x (%%/h) = %.4f (floating)"
                                            : " - dmag/dt-x (%%/h) = %.4f (fix)",
                     drift);
    else
      line += Format(FluorescenceDetection().bFitMagnificationDrift ? " - dmag/dt (%%/h) = %.4f (floating)"
                                            : " - dmag/dt (%%/h) = %.4f (fix)",
                     drift);
  }
  if (FluorescenceDetection().bRadialConvolution)
    line += FluorescenceDetection().bFitConvolutionWidth
                ? Format(" - w convolution %.4f (floating)", static_cast<double>(FluorescenceDetection().fConvolutionWidth))
                : std::string(" - w convolution (fix)");
  if (FluorescenceDetection().bMagnificationGradient)
    line += Format(FluorescenceDetection().bFitMagnificationGradient ? " - radial mag factor = %.4f (floating)"
                                             : " - radial mag factor = %.4f (fix)",
                   static_cast<double>(FluorescenceDetection().fMagnificationGradient));
  if (FluorescenceDetection().bNonlinearDetection) {
    line += Format(FluorescenceDetection().bFitPowerCoefficient ? " - nonlin coeff = %.4f (floating), nonlin baseline = %f"
                                        : " - nonlin coeff = %.4f (fix), nonlin baseline = %f",
                   static_cast<double>(FluorescenceDetection().fPowerCoefficient), static_cast<double>(FluorescenceDetection().fPowerBaseline));
    line += FluorescenceDetection().bShowTransformed ? " [showing transformed]" : " [showing non-transformed]";
  }
  return line;
}

// The last solve becomes the shown distribution: fit rows, distribution values and
// their derived arrays, the plot.
void ShowLastSolve(Window* window) {
  if (!DistributionStorage().pDistSolution || !DistributionVectors().pDistValues || !DistributionStorage().pppKernels) return;
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
  WriteContiDebugLog("\nStarting DisplayBestContiParams");
  if (Rmsd().fFitRmsd < FitState().fStartRmsd && Rmsd().fFitRmsd < FitState().fBestRmsd) {
    FitState().fBestRmsd = Rmsd().fFitRmsd;
    ShowLastSolve(window);
  }
  if (window && !bBatchMode) {
    LammWindowDisplay display(*window);
    const std::array<std::string, 8> lines = ContiStatusLines();
    ReportProgress({ProgressKind::BestRmsd, lines[1], 0, 0, static_cast<double>(Rmsd().fFitRmsd)});
    for (std::size_t k = 0; k < lines.size(); ++k)
      if (!lines[k].empty()) display.ShowText(10, kContiStatusRows[k], lines[k]);
  }
  WriteContiDebugLog(" --> DONE");
}

}  // namespace tarmic
