#include "modelcalc/fit_result_text.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>

#include "distributions/conti_run.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_prior.h"
#include "distributions/distribution_variants.h"
#include "modelcalc/conti_fit_params.h"
#include "modelcalc/error_analysis.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/model_computation.h"
#include "modelcalc/simulation_messages.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "modelfit/modelfit_hooks.h"
#include "numerics/solvent_constants.h"
#include "numerics/statistics.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "plot/data_plots.h"
#include "plot/text_flow.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/solvent_settings.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

double D(float v) { return static_cast<double>(v); }

bool InhomogeneousSolvent() {
  const ModelFitHooks& h = GetModelFitHooks();
  return h.inhomogeneousSolventOn && h.inhomogeneousSolventOn();
}

const std::string& ScanName(int position) {
  static const std::string empty;
  if (position < 1 || static_cast<std::size_t>(position) >= DataSet().pScanOrder.size()) return empty;
  const auto s = static_cast<std::size_t>(DataSet().pScanOrder[static_cast<std::size_t>(position)]);
  return s < DataSet().ppScanFileNames.size() ? DataSet().ppScanFileNames[s] : empty;
}

std::string FilesLine(bool shortForm) {
  std::string t;
  if (!shortForm && DataSet().bDLSData) {
    t = Format("fitting file %s", ScanName(1).c_str());
  } else if (shortForm || RadialGrid().fRadialStep == 0.001f) {
    t = Format("fitting files %s to %s", ScanName(1).c_str(), ScanName(DataSet().nScans).c_str());
  } else {
    t = Format("fitting files %s to %s, radial resolution %.4f cm", ScanName(1).c_str(),
               ScanName(DataSet().nScans).c_str(), D(RadialGrid().fRadialStep));
  }
  if (!shortForm && ScanFile().bAbsorbanceData) {
    if (AnalysisSwitches().bScanTimeCorrection && LammSettings().bSimulateRadialResolution) {
      t += Format(", with scanner speed %.3f cm/min and radial res = %.4f cm", D(LammSettings().fScanVelocity),
                  D(LammSettings().fRadialConvolutionRange));
    } else if (AnalysisSwitches().bScanTimeCorrection) {
      t += Format(", with scanner speed %.3f cm/min ", D(LammSettings().fScanVelocity));
    } else if (LammSettings().bSimulateRadialResolution) {
      t += Format(", with scanner radial res = %.4f cm", D(LammSettings().fRadialConvolutionRange));
    }
  }
  if (InhomogeneousSolvent()) t += " with inhomogeneous solvent model";
  return t;
}

std::string StatusLine(bool shortForm) {
  // The counters of a fit belong to the result it left: on other data, under
  // another model or other values (a new load, a changed parameter) they are no
  // status of what is on show.
  if (!SimulationMessages().bFitRunning && !(FitOfLoadedData() && FitState().gFitCountersData == ModelDataStamp())) return {};
  if (!shortForm && FitState().eFitSearch == FitSearch::Marquardt)
    return Format(LammSettings().bClaverie ? "sim #%d, ML step #%d, step #%d        "
                            : "sim #%d, ML step #%d, step #%d     ",
                  FitState().nFitSim, FitState().nFitIteration, FitState().nFitStep);
  if (!shortForm && FitState().eFitSearch == FitSearch::Annealing)
    return Format(LammSettings().bClaverie ? "sim #%d, SA step #%d, step#%d, T=%.3f      "
                            : "sim #%d, SA step #%d, step#%d, T=%.3f     ",
                  FitState().nFitSim, FitState().nFitIteration, FitState().nFitStep, D(SearchSettings().fAnnealTemp));
  return Format("s%d, step #%d     ", FitState().nFitIteration, FitState().nFitStep);
}

bool BoundaryOrLsg() { return ModelFlags().bBoundaryAnalysis || ModelFlags().bLsgModel || ModelFlags().bLsgOneDiscrete; }

std::string Heading() {
  if (ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete)
    return Format("ff0 min = %f, ff0 max = %f, nff0 = %f        ", D(DistributionGrid().fFf0Min), D(DistributionGrid().fFf0Max),
                  static_cast<double>(DistributionGrid().nFf0Values));
  if (BoundaryOrLsg()) return "";
  if (!IsContinuousModel()) {
    if (ModelFlags().bFitMAndS) return "M = ";
    if (ModelFlags().bStokesRadii) return "R(nm) = ";
    if (ModelFlags().bCumulants) return "D or mu = ";
    return "D*10e7 = ";
  }
  const ContiRunSettings reg = GetContiRunSettings();
  const double p = D(DistributionModels().fConfidenceLevel);
  if (!reg.maxEntropy && !reg.showBoth) return Format("Tikhonov regularization P = %.2f", p);
  // With a prior the heading names the prior file (name and extension).
  const std::string prior =
      DistributionModels().bUsePrior ? std::filesystem::path(DistributionPrior().szPriorFile).filename().string() : std::string();
  if (reg.showBoth)
    return prior.empty()
               ? Format("ME(black) and TP(blue) regularization P = %.2f", p)
               : Format("ME(black) and TP(blue) regularization P = %.2f, with prior probability %s",
                        p, prior.c_str());
  return prior.empty() ? Format("ME regularization P = %.2f", p)
                       : Format("ME regularization P = %.2f, with prior probability %s", p,
                                prior.c_str());
}

}  // namespace

std::string AtLimitNote() {
  if (SimulationMessages().bFitRunning) return {};
  const std::vector<std::string> values =
      IsContinuousModel() ? ContiValuesAtLimit() : FloatedValuesAtLimit();
  if (values.empty()) return {};
  std::string list;
  bool keptRange = false;
  for (const std::string& v : values) {
    list += (list.empty() ? "" : ", ") + v;
    keptRange = keptRange || v.starts_with("Meniscus =") || v.starts_with("Bottom =");
  }
  // The ranges of meniscus and bottom are the user's to widen.
  const char* widen =
      keptRange ? "; widen its range with Set fit limits for meniscus & bottom (Options, Fitting Options)" : "";
  return list + (values.size() == 1 ? " stands at its limit" : " stand at their limits") +
         ": no free optimum" + widen;
}

std::string RmsdLine() {
  // Limits without a data point are named first: no fit of them can exist.
  if (DataSet().nScans > 0 && CountFitPoints() == 0) return NoFitPointText();
  if (!FitOfLoadedData()) return kNoFitOfLoadedDataText;
  // Taken anew from the fit rows on show: a Run computes no rmsd of its own, and
  // the value kept may be of an earlier computation.
  FitRmsd();
  return Format("rmsd=%f (n=%.0f,SSR=%f)", D(Rmsd().fFitRmsd), D(Rmsd().fFitPoints),
                D(Rmsd().fFitRmsd) * D(Rmsd().fFitRmsd) * D(Rmsd().fFitPoints));
}

std::string NoFitPointText() {
  return Format("no data point lies inside the fitting limits %1.4f to %1.4f", D(DataSet().fFitLeftLim),
                D(DataSet().fFitRightLim));
}

std::string ContinuousModelSettingsLine(bool sizeShapeRange) {
  // The invariant-D models keep their D (1e-7 cm^2/s) in the frictional-ratio slot.
  if (ModelFlags().bCsInvariantD || ModelFlags().bConstantDModel) return Format("D = %f        ", D(DistributionKernels().fInvariantD));
  if (ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete)
    return Format("frict ratio = %f, except when s is within [%.2f,%.2f]: ff0 = %f",
                  D(SolventConstants().fFrictionalRatio), D(DistributionVariants().fBimodalSMin), D(DistributionVariants().fBimodalSMax), D(DistributionVariants().fSecondFf0));
  if (ModelFlags().bCsNonideal)
    return Format("frict ratio = %f, log10ks = %f, log10kd = %f        ", D(SolventConstants().fFrictionalRatio),
                  D(ModelOptions().fLogKs), D(ModelOptions().fLogKd));
  if (sizeShapeRange && (ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete))
    return Format("s min = %f, s max = %f, #s-values = %d        ", D(DistributionGrid().fDistMin), D(DistributionGrid().fDistMax),
                  DistributionVectors().nDistGrid);
  if (ModelFlags().bCsWormChain)
    return Format("persistence length = %.2f nm, dehydr. cross-section = %.2f nm^2, Monomer Mw = "
                  "%.0f Da, hydration = %.2f, vbar = %.4f     ",
                  D(SolventConstants().fWormPersistenceLength), D(SolventConstants().fWormCrossSection), D(SolventConstants().fWormMonomerMass),
                  D(SolventConstants().fWormHydration), D(SolventConstants().VBAR));
  if (ModelFlags().bCsScalingLaw || ModelFlags().bFMScalingLaw)
    return Format("Ks = %.3e 1/S, bs = %.3f          ", D(SolventConstants().fScalingKs), D(SolventConstants().fScalingExponent));
  if (ModelFlags().bCsFloatingVbar)
    return Format("frict ratio = %f, vbar = %.4f     ", D(SolventConstants().fFrictionalRatio), D(SolventConstants().VBAR));
  return Format("frict ratio = %f        ", D(SolventConstants().fFrictionalRatio));
}

namespace {

// The settings line with the discrete component of the models that have one.
std::string ContinuousModel2() {
  std::string t = ContinuousModelSettingsLine(true);
  if (ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsOneDiscreteM || ModelFlags().bCsNonideal || ModelFlags().bCsff0OneDiscrete)
    t += Format(" - [s1 = %.3f, M1 = %.3f]", D(DistributionVariants().fDiscreteS), D(DistributionVariants().fDiscreteM));
  return t;
}

// Model lines 1 to 3 of the discrete-species family: values of the included species.
void SpeciesLines(FitTextLines& l) {
  l[kSlotModel1] = Heading();
  l[kSlotModel2] = "s = ";
  l[kSlotModel3] = "c = ";
  const int lastC = ModelFlags().bBufferSedCorrection ? nSpeciesSlots - 1 : nSpeciesSlots;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!AnalysisSwitches().pSpeciesLinked[k] && !ModelFlags().bCumulants) continue;
    if (k == 1 && ModelOptions().bC1Nonideal) {
      l[kSlotModel1] += Format("%.3f (log10(kd) = %.3f)| ", D(AnalysisSwitches().pParams[k]), D(ModelOptions().fLogKd));
      l[kSlotModel2] += Format("%.3f (log10(ks) = %.3f)| ", D(AnalysisSwitches().pParams[4 + k]), D(ModelOptions().fLogKs));
    } else {
      l[kSlotModel1] += Format(ModelFlags().bCumulants ? "%.3e | " : "%.3f | ", D(AnalysisSwitches().pParams[k]));
      l[kSlotModel2] += Format("%.3f | ", D(AnalysisSwitches().pParams[4 + k]));
    }
    if (k <= lastC) l[kSlotModel3] += Format("%.3f | ", D(AnalysisSwitches().pParams[8 + k]));
  }
  if (ModelFlags().bCumulants && AnalysisSwitches().pParams[1] != 0.0f)
    l[kSlotModel2] = Format("mu2/(mu1^2) (polydispersity) = %.3f",
                            D(AnalysisSwitches().pParams[2]) / (D(AnalysisSwitches().pParams[1]) * D(AnalysisSwitches().pParams[1])));
  l[kSlotModel3] += "(first is total, next are fractions)";
}

// Model lines of the models whose lines both text forms share; false for others.
bool SharedModelLines(FitTextLines& l) {
  if (ModelFlags().bMonomerDimer || ModelFlags().bMonomerTrimer) {
    l[kSlotModel1] = Format(ModelFlags().bFitMAndS ? "M1 = %.3f, M2 = %.3f" : "D1 = %.3f, D2 = %.3f",
                            D(AnalysisSwitches().pParams[1]), D(AnalysisSwitches().pParams[2]));
    l[kSlotModel2] = Format("s1 = %.3f, s2 = %.3f", D(AnalysisSwitches().pParams[5]), D(AnalysisSwitches().pParams[6]));
    l[kSlotModel3] = Format("c=%.3f,lgK=%.3f", D(AnalysisSwitches().pParams[11]), D(AnalysisSwitches().pParams[3]));
  } else if (ModelFlags().bAssoc148 || ModelFlags().bAssoc124) {
    const bool o = ModelFlags().bAssoc148;
    l[kSlotModel1] = Format(o ? "M1 = %.0f, M4 = %.0f, M8 = %.0f" : "M1 = %.0f, M2 = %.0f, M4 = %.0f",
                            D(AnalysisSwitches().pParams[1]), D(AnalysisSwitches().pParams[2]), D(AnalysisSwitches().pParams[12]));
    l[kSlotModel2] = Format(o ? "s1 = %.3f, s4 = %.3f, s8 = %.3f" : "s1 = %.3f, s2 = %.3f, s4 = %.3f",
                            D(AnalysisSwitches().pParams[5]), D(AnalysisSwitches().pParams[6]), D(AnalysisSwitches().pParams[8]));
    l[kSlotModel3] = Format(o ? "c=%.3f,lgK14=%.3f, lgK18=%.3f" : "c=%.3f,lgK12=%.3f, lgK14=%.3f",
                            D(AnalysisSwitches().pParams[11]), D(AnalysisSwitches().pParams[3]), D(AnalysisSwitches().pParams[7]));
  } else if (ModelFlags().bNonidealSpecies) {
    l[kSlotModel1] = Format("D = %.3f, log10 (kd) = %.3f", D(AnalysisSwitches().pParams[1]), D(AnalysisSwitches().pParams[11]));
    l[kSlotModel2] = Format("s = %.3f, log10 (ks) = %.3f", D(AnalysisSwitches().pParams[5]), D(AnalysisSwitches().pParams[10]));
    l[kSlotModel3] = Format("c=%.3f", D(AnalysisSwitches().pParams[9]));
  } else {
    return false;
  }
  return true;
}

void ModelLines(FitTextLines& l) {
  if (ModelFlags().bDiscreteModel) {
    SpeciesLines(l);
  } else if (ModelFlags().bNonIdealMultiple) {
    l[kSlotModel1] = Format("D1 = %.3f", D(ModelOptions().fD1));
    l[kSlotModel2] = Format("s1 = %.3f", D(ModelOptions().fS1));
    l[kSlotModel3] = Format("c1 = %.3f", D(ModelParams().pSpeciesAmplitude[1]));
    const int entries[2][4] = {{27, 29, 28, 2}, {31, 33, 32, 3}};
    for (const auto& e : entries) {
      if (AnalysisSwitches().pParams[e[0]] <= 0.0f) continue;
      l[kSlotModel1] += Format(" | D%d = %.3f", e[3], D(AnalysisSwitches().pParams[e[1]]));
      l[kSlotModel2] += Format(" | s%d = %.3f", e[3], D(AnalysisSwitches().pParams[e[2]]));
      l[kSlotModel3] += Format(" | c%d = %.3f", e[3], D(AnalysisSwitches().pParams[e[0]]));
    }
  } else if (SharedModelLines(l)) {
  } else if (AnalysisSwitches().bEqAnalysisModel) {
    l[kSlotModel1] = Heading() + Format("%.0f", D(AnalysisSwitches().pParams[1]));
    if (!ModelFlags().bFitMAndS) l[kSlotModel2] = "s = " + Format("%.3f | ", D(AnalysisSwitches().pParams[5]));
  } else if (IsContinuousModel() && !BoundaryOrLsg()) {
    l[kSlotModel1] = Heading();
    l[kSlotModel2] = ContinuousModel2();
  }
}

std::string NonidealityLine() {
  const double ks = std::pow(10.0, D(ModelOptions().fLogKs)), kd = std::pow(10.0, D(ModelOptions().fLogKd));
  if (ModelOptions().bRepulsiveNonideality)
    return Format("non-ideality with repulsive ks = %.3e (log10 = %.3f), repulsive kD = %.3e "
                  "(log10 = %.3f)/(mg/ml), with (mass signal)/(mg/ml) = %.3f",
                  ks, D(ModelOptions().fLogKs), kd, D(ModelOptions().fLogKd), DataSet().dSignalPerConcentration);
  return Format("non-ideality with attractive ks = -%.3e (log10 = %.3f), attractive kD = -%.3e "
                "(log10 = %.3f)/(mg/ml), with %.3f mass signal/(mg/ml)",
                ks, D(ModelOptions().fLogKs), kd, D(ModelOptions().fLogKd), DataSet().dSignalPerConcentration);
}

std::string RunsLine() {
  if (!FitOfLoadedData()) return "";
  // The scans the rmsd is taken over: the scan window of a time-dependent fit, or
  // all but an initial first scan.
  int first = 1, last = DataSet().nScans;
  FitScanRange(&first, &last);
  if (first > last) return "";
  const float z = CalculateRunsTestZ(DataSet().ppSignal.data(), DataSet().ppFit.data(), first, last,
                                     DataSet().pScanOrder.data(), DataSet().pFitFirst.data(), DataSet().pFitLast.data());
  return Format("Runs test Z (#stddev) = %.2f", D(z));
}

std::string VbarLine() {
  if (ModelFlags().bNonIdealMultiple && ModelOptions().bSyntheticBoundary) {
    std::string t = Format("synthetic boundary at %.3f cm, overlay conc1 fraction = %.3f",
                           D(AnalysisSwitches().pParams[25]), D(AnalysisSwitches().pParams[26]));
    if (AnalysisSwitches().pParams[27] > 0.0f) t += Format(" | conc2 fraction = %.3f", D(AnalysisSwitches().pParams[30]));
    if (AnalysisSwitches().pParams[31] > 0.0f) t += Format(" | conc3 fraction = %.3f", D(AnalysisSwitches().pParams[34]));
    return t;
  }
  const InhomSolventSettings& solvent = SolventSettings().gInhomSolvent;
  const bool inhomogeneous = solvent.bInhomogeneousSolvent;
  // In the sedimenting-cosolute mode the apparent vbar (solvation included) is the
  // one the fit floats; the macromolecule's own vbar stays fixed.
  const bool apparent = inhomogeneous && solvent.bCosoluteDynamicGradient;
  const char* state = inhomogeneous && solvent.bFitVbar ? "floating" : "fix";
  if (apparent)
    return Format("vbar = %.4f (fix), apparent vbar = %.4f (%s)", D(SolventConstants().VBAR),
                  D(solvent.vbarEffective), state);
  return Format("vbar = %.4f (%s)", D(SolventConstants().VBAR), state);
}

const char* Fl(bool fitted) { return fitted ? "(fl)" : ""; }

std::string CorrectionsLine(bool shortForm) {
  std::string t;
  const BufferSedSettings& b = BufferSedimentation().BufferSed;
  if (ModelFlags().bBufferSedCorrection) {
    t += Format("buffer: %.3f", b.signalSign > 0 ? b.signal : -b.signal) + Fl(b.fitSignal);
    t += Format(", D=%.2f", b.sampleD) + Fl(b.fitSampleD && !ModelFlags().bFitMAndS);
    t += Format(", s=%.4f", b.sampleS) + Fl(b.fitSampleS);
    t += Format(", Mb=%.1f", b.sampleMb) + Fl(b.fitSampleD && ModelFlags().bFitMAndS);
    if (BufferSedimentation().bMeniscusMismatch || b.differentReference) {
      t += Format(", meniscus diff (s-r)=%.4f", MeniscusDifference()) + Fl(b.fitMeniscusDifference);
      t += Format(", conc. ratio (s/r)=%.3f", b.relativeConc) + Fl(b.fitRelativeConc);
    }
    if (b.differentReference) {
      t += Format(", refD=%.2f", b.refD) + Fl(b.fitRefD && !ModelFlags().bFitMAndS);
      t += Format(", refs=%.4f", b.refS) + Fl(b.fitRefS);
      t += Format(", refMb=%.2f", b.refMb) + Fl(b.fitRefD && ModelFlags().bFitMAndS);
    }
  }
  auto fit = [](bool f) { return f ? " (floating)" : " (fix)"; };
  if (FluorescenceDetection().bExcitationShadow)
    t += Format(shortForm ? " - excit. cone %.4f" : " - excit. cone = %.4f", D(FluorescenceDetection().fConeRadius)) +
         fit(FluorescenceDetection().bFitConeRadius);
  if (FluorescenceDetection().bMagnificationDrift)
    t += Format(FluorescenceDetection().bExponentialDrift ? " - dmag/dt-x = %.4f (%%/h)" : " - dmag/dt = %.4f (%%/h)",
                D(FluorescenceDetection().fMagnificationDrift)) +
         (FluorescenceDetection().bFitMagnificationDrift ? "(floating)" : "(fix)");
  if (FluorescenceDetection().bRadialConvolution)
    t += Format(shortForm ? " - convolution = %.4f" : " - convolution %.4f", D(FluorescenceDetection().fConvolutionWidth)) +
         fit(FluorescenceDetection().bFitConvolutionWidth);
  if (FluorescenceDetection().bMagnificationGradient)
    t += Format(" - radial mag factor = %.4f", D(FluorescenceDetection().fMagnificationGradient)) +
         fit(FluorescenceDetection().bFitMagnificationGradient);
  if (FluorescenceDetection().bNonlinearDetection) {
    t += Format(" - nonlin coeff = %.4f", D(FluorescenceDetection().fPowerCoefficient)) + fit(FluorescenceDetection().bFitPowerCoefficient) +
         Format(", nonlin baseline = %f", D(FluorescenceDetection().fPowerBaseline));
    if (!shortForm) t += FluorescenceDetection().bShowTransformed ? " [showing transformed]" : " [showing non-transformed]";
  }
  return t;
}

// The plot areas of the panes shown, where the text blocks go (FitTextRegions): clear
// of every tick label, axis title, the residual bitmap and the on-plot buttons.
std::vector<Rect> TextBlockRegions(Size client) {
  return FitTextRegions(client, DistributionPaneShown() ? DistributionPlot().pDistPlot : nullptr);
}

// The lines of the slots that have one, top to bottom, flowed into the regions; dc
// draws in client pixels with its own font, measured at least minPixels high.
void DrawLines(DC& dc, const FitTextLines& l, const std::vector<Rect>& regions, int minPixels) {
  std::vector<std::string> lines;
  for (const std::string& line : l)
    if (!line.empty()) lines.push_back(line);
  DrawFlowedLines(dc, lines, regions, minPixels);
}

// The fit-result text on the window: in the plot areas (from (10, 10) without plots),
// at least the window's smallest text height.
void DrawLinesOnWindow(DC& dc, const FitTextLines& l, Size client) {
  std::vector<Rect> regions = TextBlockRegions(client);
  if (regions.empty()) regions.push_back(Rect{10, 10, std::max(client.cx, 11), std::max(client.cy, 11)});
  DrawLines(dc, l, regions, HasBackend() ? GetBackend().MainWindow().MinTextHeight() : 0);
}

}  // namespace

FitTextLines BuildFitResultLines() {
  FitTextLines l;
  l[kSlotCorrections] = CorrectionsLine(false);
  l[kSlotVbar] = VbarLine();
  l[kSlotFiles] = FilesLine(false);
  l[kSlotStatus] = StatusLine(false);
  if (const std::string note = AtLimitNote(); !note.empty())
    l[kSlotStatus] += (l[kSlotStatus].empty() ? "" : "- ") + note;
  l[kSlotRmsd] = RmsdLine();
  ModelLines(l);
  if (ModelOptions().bTimeOffset) {
    l[kSlotExtra] = Format("t0 for simulation is at %f sec", D(AnalysisSwitches().pParams[24]));
  } else if (ModelFlags().bNonIdealMultiple) {
    l[kSlotExtra] = NonidealityLine();
  }
  l[kSlotMeniscus] = Format("Meniscus = %f  ", D(AnalysisSwitches().pParams[13]));
  l[kSlotBottom] = ModelFlags().bZoneCentrifugation ? Format("Lamella thickness = %f  ", D(AnalysisSwitches().pParams[23]))
                                       : Format("Bottom = %f  ", D(AnalysisSwitches().pParams[14]));
  l[kSlotBaseline] = Format("Baseline = %f  ", D(AnalysisSwitches().pParams[15]));
  l[kSlotRange] = Format("fitting %1.4f - %1.4f", D(DataSet().fFitLeftLim), D(DataSet().fFitRightLim));
  l[kSlotRuns] = RunsLine();
  return l;
}

FitTextLines BuildBestFitInfoLines() {
  FitTextLines l;
  l[kSlotFiles] = FilesLine(true);
  l[kSlotStatus] = StatusLine(true);
  l[kSlotRmsd] = RmsdLine();
  if (!SharedModelLines(l) && ModelFlags().bDiscreteModel) {
    l[kSlotModel1] = ModelFlags().bCumulants ? "D or mu = " : ModelFlags().bFitMAndS ? "M = " : "D*10e7 = ";
    l[kSlotModel2] = "s = ";
    l[kSlotModel3] = "c = ";
    for (int k = 1; k <= nSpeciesSlots; ++k) {
      if (ModelFlags().bCumulants) l[kSlotModel1] += Format("%.3e | ", D(AnalysisSwitches().pParams[k]));
      if (!AnalysisSwitches().pSpeciesLinked[k]) continue;
      l[kSlotModel1] += Format("%.3f | ", D(AnalysisSwitches().pParams[k]));
      l[kSlotModel2] += Format("%.3f | ", D(AnalysisSwitches().pParams[4 + k]));
      l[kSlotModel3] += Format("%.3f | ", D(AnalysisSwitches().pParams[8 + k]));
    }
    l[kSlotModel3] += "(first is total, next are fractions)";
  }
  l[kSlotMeniscus] = Format("Meniscus = %f  ", D(AnalysisSwitches().pParams[13]));
  l[kSlotBottom] = Format("Bottom = %f  ", D(AnalysisSwitches().pParams[14]));
  l[kSlotRange] = Format("fitting %1.4f - %1.4f", D(DataSet().fFitLeftLim), D(DataSet().fFitRightLim));
  l[kSlotBaseline] = Format("Baseline = %f  ", D(AnalysisSwitches().pParams[15]));
  l[kSlotVbar] = VbarLine();
  l[kSlotCorrections] = CorrectionsLine(true);
  return l;
}

std::vector<std::string> ContinuousModelLines() {
  std::vector<std::string> lines;
  if (!IsContinuousModel() || BoundaryOrLsg()) return lines;
  for (std::string line : {Heading(), ContinuousModel2()}) {
    line.erase(line.find_last_not_of(' ') + 1);
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

namespace {

// The lines of the fit result, the best rmsd updated first; none without scans.
std::optional<FitTextLines> TakeFitResultLines() {
  if (DataSet().nScans == 0) return std::nullopt;
  if (Rmsd().fFitRmsd < FitState().fStartRmsd && Rmsd().fFitRmsd < FitState().fBestRmsd) FitState().fBestRmsd = Rmsd().fFitRmsd;
  return BuildFitResultLines();
}

}  // namespace

void DrawFitResultText(DC& dc, Size client) {
  const std::optional<FitTextLines> l = TakeFitResultLines();
  if (!l) return;
  PixelDrawingScope pixels(dc);
  DrawLinesOnWindow(dc, *l, client);
}

void ShowFitResultText(Window* window) {
  const std::optional<FitTextLines> l = TakeFitResultLines();
  if (!l || !window) return;
  std::unique_ptr<DC> dc = window->ClientDC();
  if (!dc) return;
  DrawLinesOnWindow(*dc, *l, window->ClientSize());
  dc.reset();
  window->Refresh();
}

void DrawBestFitInfo(Window* window, DC& dc, int x, int y) {
  if (ModelFlags().bNonIdealMultiple) return;
  const FitTextLines l = BuildBestFitInfoLines();
  // The block starts at (x + 10, y + 10) and keeps to the plot areas of the window's
  // panes right of and below that corner (the page shows the panes as the window
  // does, one logical unit per client pixel); the rest of the area when there are no
  // plots.
  const Size client = window ? window->ClientSize() : Size{};
  std::vector<Rect> regions;
  for (Rect r : TextBlockRegions(client)) {
    r.left = std::max(r.left, x + 10);
    r.top = std::max(r.top, y + 10);
    if (r.right > r.left && r.bottom > r.top) regions.push_back(r);
  }
  if (regions.empty())
    regions.push_back(Rect{x + 10, y + 10, std::max(client.cx, x + 800), std::max(client.cy, y + 300)});
  DrawLines(dc, l, regions, 0);
}

}  // namespace tarmic
