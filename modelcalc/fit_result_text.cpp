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
  auto& dataSetPart = DataSet();
  static const std::string empty;
  if (position < 1 || static_cast<std::size_t>(position) >= dataSetPart.pScanOrder.size()) return empty;
  const auto s = static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(position)]);
  return s < dataSetPart.ppScanFileNames.size() ? dataSetPart.ppScanFileNames[s] : empty;
}

std::string FilesLine(bool shortForm) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& lammSettingsPart = LammSettings();
  auto& radialGridPart = RadialGrid();
  std::string t;
  if (!shortForm && dataSetPart.bDLSData) {
    t = Format("fitting file %s", ScanName(1).c_str());
  } else if (shortForm || radialGridPart.fRadialStep == 0.001f) {
    t = Format("fitting files %s to %s", ScanName(1).c_str(), ScanName(dataSetPart.nScans).c_str());
  } else {
    t = Format("fitting files %s to %s, radial resolution %.4f cm", ScanName(1).c_str(),
               ScanName(dataSetPart.nScans).c_str(), D(radialGridPart.fRadialStep));
  }
  if (!shortForm && ScanFile().bAbsorbanceData) {
    if (analysisSwitchesPart.bScanTimeCorrection && lammSettingsPart.bSimulateRadialResolution) {
      t += Format(", with scanner speed %.3f cm/min and radial res = %.4f cm", D(lammSettingsPart.fScanVelocity),
                  D(lammSettingsPart.fRadialConvolutionRange));
    } else if (analysisSwitchesPart.bScanTimeCorrection) {
      t += Format(", with scanner speed %.3f cm/min ", D(lammSettingsPart.fScanVelocity));
    } else if (lammSettingsPart.bSimulateRadialResolution) {
      t += Format(", with scanner radial res = %.4f cm", D(lammSettingsPart.fRadialConvolutionRange));
    }
  }
  if (InhomogeneousSolvent()) t += " with inhomogeneous solvent model";
  return t;
}

std::string StatusLine(bool shortForm) {
  auto& fitStatePart = FitState();
  auto& lammSettingsPart = LammSettings();
  // The counters of a fit belong to the result it left: on other data, under
  // another model or other values (a new load, a changed parameter) they are no
  // status of what is on show.
  if (!SimulationMessages().bFitRunning && !(FitOfLoadedData() && fitStatePart.gFitCountersData == ModelDataStamp())) return {};
  if (!shortForm && fitStatePart.eFitSearch == FitSearch::Marquardt)
    return Format(lammSettingsPart.bClaverie ? "sim #%d, ML step #%d, step #%d        "
                            : "sim #%d, ML step #%d, step #%d     ",
                  fitStatePart.nFitSim, fitStatePart.nFitIteration, fitStatePart.nFitStep);
  if (!shortForm && fitStatePart.eFitSearch == FitSearch::Annealing)
    return Format(lammSettingsPart.bClaverie ? "sim #%d, SA step #%d, step#%d, T=%.3f      "
                            : "sim #%d, SA step #%d, step#%d, T=%.3f     ",
                  fitStatePart.nFitSim, fitStatePart.nFitIteration, fitStatePart.nFitStep, D(SearchSettings().fAnnealTemp));
  return Format("s%d, step #%d     ", fitStatePart.nFitIteration, fitStatePart.nFitStep);
}

bool BoundaryOrLsg() { return ModelFlags().bBoundaryAnalysis || ModelFlags().bLsgModel || ModelFlags().bLsgOneDiscrete; }

std::string Heading() {
  auto& distributionGridPart = DistributionGrid();
  auto& distributionModelsPart = DistributionModels();
  auto& modelFlagsPart = ModelFlags();
  if (modelFlagsPart.bCsff0Model || modelFlagsPart.bCsff0OneDiscrete)
    return Format("ff0 min = %f, ff0 max = %f, nff0 = %f        ", D(distributionGridPart.fFf0Min), D(distributionGridPart.fFf0Max),
                  static_cast<double>(distributionGridPart.nFf0Values));
  if (BoundaryOrLsg()) return "";
  if (!IsContinuousModel()) {
    if (modelFlagsPart.bFitMAndS) return "M = ";
    if (modelFlagsPart.bStokesRadii) return "R(nm) = ";
    if (modelFlagsPart.bCumulants) return "D or mu = ";
    return "D*10e7 = ";
  }
  const ContiRunSettings reg = GetContiRunSettings();
  const double p = D(distributionModelsPart.fConfidenceLevel);
  if (!reg.maxEntropy && !reg.showBoth) return Format("Tikhonov regularization P = %.2f", p);
  // With a prior the heading names the prior file (name and extension).
  const std::string prior =
      distributionModelsPart.bUsePrior ? std::filesystem::path(DistributionPrior().szPriorFile).filename().string() : std::string();
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
  auto& simulationMessagesPart = SimulationMessages();
  if (simulationMessagesPart.bFitRunning) return {};
  const std::vector<std::string> values =
      IsContinuousModel() ? ContiValuesAtLimit() : FloatedValuesAtLimit(LastFitEnd().report.undeterminedSpecies);
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
  auto& rmsdPart = Rmsd();
  // Limits without a data point are named first: no fit of them can exist.
  if (DataSet().nScans > 0 && CountFitPoints() == 0) return NoFitPointText();
  if (!FitOfLoadedData()) return kNoFitOfLoadedDataText;
  // Taken anew from the fit rows on show: a Run computes no rmsd of its own, and
  // the value kept may be of an earlier computation.
  FitRmsd();
  return Format("rmsd=%f (n=%.0f,SSR=%f)", D(rmsdPart.fFitRmsd), D(rmsdPart.fFitPoints),
                D(rmsdPart.fFitRmsd) * D(rmsdPart.fFitRmsd) * D(rmsdPart.fFitPoints));
}

std::string NoFitPointText() {
  auto& dataSetPart = DataSet();
  return Format("no data point lies inside the fitting limits %1.4f to %1.4f", D(dataSetPart.fFitLeftLim),
                D(dataSetPart.fFitRightLim));
}

std::string ContinuousModelSettingsLine(bool sizeShapeRange) {
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVariantsPart = DistributionVariants();
  auto& modelFlagsPart = ModelFlags();
  auto& modelOptionsPart = ModelOptions();
  auto& solventConstantsPart = SolventConstants();
  // The invariant-D models keep their D (1e-7 cm^2/s) in the frictional-ratio slot.
  if (modelFlagsPart.bCsInvariantD || modelFlagsPart.bConstantDModel) return Format("D = %f        ", D(DistributionKernels().fInvariantD));
  if (modelFlagsPart.bCsBimodalFf0 || modelFlagsPart.bCsBimodalFf0OneDiscrete)
    return Format("frict ratio = %f, except when s is within [%.2f,%.2f]: ff0 = %f",
                  D(solventConstantsPart.fFrictionalRatio), D(distributionVariantsPart.fBimodalSMin), D(distributionVariantsPart.fBimodalSMax), D(distributionVariantsPart.fSecondFf0));
  if (modelFlagsPart.bCsNonideal)
    return Format("frict ratio = %f, log10ks = %f, log10kd = %f        ", D(solventConstantsPart.fFrictionalRatio),
                  D(modelOptionsPart.fLogKs), D(modelOptionsPart.fLogKd));
  if (sizeShapeRange && (modelFlagsPart.bCsff0Model || modelFlagsPart.bCsff0OneDiscrete))
    return Format("s min = %f, s max = %f, #s-values = %d        ", D(distributionGridPart.fDistMin), D(distributionGridPart.fDistMax),
                  DistributionVectors().nDistGrid);
  if (modelFlagsPart.bCsWormChain)
    return Format("persistence length = %.2f nm, dehydr. cross-section = %.2f nm^2, Monomer Mw = "
                  "%.0f Da, hydration = %.2f, vbar = %.4f     ",
                  D(solventConstantsPart.fWormPersistenceLength), D(solventConstantsPart.fWormCrossSection), D(solventConstantsPart.fWormMonomerMass),
                  D(solventConstantsPart.fWormHydration), D(solventConstantsPart.VBAR));
  if (modelFlagsPart.bCsScalingLaw || modelFlagsPart.bFMScalingLaw)
    return Format("Ks = %.3e 1/S, bs = %.3f          ", D(solventConstantsPart.fScalingKs), D(solventConstantsPart.fScalingExponent));
  if (modelFlagsPart.bCsFloatingVbar)
    return Format("frict ratio = %f, vbar = %.4f     ", D(solventConstantsPart.fFrictionalRatio), D(solventConstantsPart.VBAR));
  return Format("frict ratio = %f        ", D(solventConstantsPart.fFrictionalRatio));
}

namespace {

// The settings line with the discrete component of the models that have one.
std::string ContinuousModel2() {
  auto& distributionVariantsPart = DistributionVariants();
  auto& modelFlagsPart = ModelFlags();
  std::string t = ContinuousModelSettingsLine(true);
  if (modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsNonideal || modelFlagsPart.bCsff0OneDiscrete)
    t += Format(" - [s1 = %.3f, M1 = %.3f]", D(distributionVariantsPart.fDiscreteS), D(distributionVariantsPart.fDiscreteM));
  return t;
}

// Model lines 1 to 3 of the discrete-species family: values of the included species.
void SpeciesLines(FitTextLines& l) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  auto& modelOptionsPart = ModelOptions();
  l[kSlotModel1] = Heading();
  l[kSlotModel2] = "s = ";
  l[kSlotModel3] = "c = ";
  const int lastC = modelFlagsPart.bBufferSedCorrection ? nSpeciesSlots - 1 : nSpeciesSlots;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!analysisSwitchesPart.pSpeciesLinked[k] && !modelFlagsPart.bCumulants) continue;
    if (k == 1 && modelOptionsPart.bC1Nonideal) {
      l[kSlotModel1] += Format("%.3f (log10(kd) = %.3f)| ", D(analysisSwitchesPart.pParams[k]), D(modelOptionsPart.fLogKd));
      l[kSlotModel2] += Format("%.3f (log10(ks) = %.3f)| ", D(analysisSwitchesPart.pParams[4 + k]), D(modelOptionsPart.fLogKs));
    } else {
      l[kSlotModel1] += Format(modelFlagsPart.bCumulants ? "%.3e | " : "%.3f | ", D(analysisSwitchesPart.pParams[k]));
      l[kSlotModel2] += Format("%.3f | ", D(analysisSwitchesPart.pParams[4 + k]));
    }
    if (k <= lastC) l[kSlotModel3] += Format("%.3f | ", D(analysisSwitchesPart.pParams[8 + k]));
  }
  if (modelFlagsPart.bCumulants && analysisSwitchesPart.pParams[1] != 0.0f)
    l[kSlotModel2] = Format("mu2/(mu1^2) (polydispersity) = %.3f",
                            D(analysisSwitchesPart.pParams[2]) / (D(analysisSwitchesPart.pParams[1]) * D(analysisSwitchesPart.pParams[1])));
  l[kSlotModel3] += "(first is total, next are fractions)";
}

// Model lines of the models whose lines both text forms share; false for others.
bool SharedModelLines(FitTextLines& l) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  if (modelFlagsPart.bMonomerDimer || modelFlagsPart.bMonomerTrimer) {
    l[kSlotModel1] = Format(modelFlagsPart.bFitMAndS ? "M1 = %.3f, M2 = %.3f" : "D1 = %.3f, D2 = %.3f",
                            D(analysisSwitchesPart.pParams[1]), D(analysisSwitchesPart.pParams[2]));
    l[kSlotModel2] = Format("s1 = %.3f, s2 = %.3f", D(analysisSwitchesPart.pParams[5]), D(analysisSwitchesPart.pParams[6]));
    l[kSlotModel3] = Format("c=%.3f,lgK=%.3f", D(analysisSwitchesPart.pParams[11]), D(analysisSwitchesPart.pParams[3]));
  } else if (modelFlagsPart.bAssoc148 || modelFlagsPart.bAssoc124) {
    const bool o = modelFlagsPart.bAssoc148;
    l[kSlotModel1] = Format(o ? "M1 = %.0f, M4 = %.0f, M8 = %.0f" : "M1 = %.0f, M2 = %.0f, M4 = %.0f",
                            D(analysisSwitchesPart.pParams[1]), D(analysisSwitchesPart.pParams[2]), D(analysisSwitchesPart.pParams[12]));
    l[kSlotModel2] = Format(o ? "s1 = %.3f, s4 = %.3f, s8 = %.3f" : "s1 = %.3f, s2 = %.3f, s4 = %.3f",
                            D(analysisSwitchesPart.pParams[5]), D(analysisSwitchesPart.pParams[6]), D(analysisSwitchesPart.pParams[8]));
    l[kSlotModel3] = Format(o ? "c=%.3f,lgK14=%.3f, lgK18=%.3f" : "c=%.3f,lgK12=%.3f, lgK14=%.3f",
                            D(analysisSwitchesPart.pParams[11]), D(analysisSwitchesPart.pParams[3]), D(analysisSwitchesPart.pParams[7]));
  } else if (modelFlagsPart.bNonidealSpecies) {
    l[kSlotModel1] = Format("D = %.3f, log10 (kd) = %.3f", D(analysisSwitchesPart.pParams[1]), D(analysisSwitchesPart.pParams[11]));
    l[kSlotModel2] = Format("s = %.3f, log10 (ks) = %.3f", D(analysisSwitchesPart.pParams[5]), D(analysisSwitchesPart.pParams[10]));
    l[kSlotModel3] = Format("c=%.3f", D(analysisSwitchesPart.pParams[9]));
  } else {
    return false;
  }
  return true;
}

void ModelLines(FitTextLines& l) {
  auto& modelParamsPart = ModelParams();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  auto& modelOptionsPart = ModelOptions();
  if (modelFlagsPart.bDiscreteModel) {
    SpeciesLines(l);
  } else if (modelFlagsPart.bNonIdealMultiple) {
    l[kSlotModel1] = Format("D1 = %.3f", D(modelOptionsPart.fD1));
    l[kSlotModel2] = Format("s1 = %.3f", D(modelOptionsPart.fS1));
    l[kSlotModel3] = Format("c1 = %.3f", D(modelParamsPart.pSpeciesAmplitude[1]));
    const int entries[2][4] = {{27, 29, 28, 2}, {31, 33, 32, 3}};
    for (const auto& e : entries) {
      if (analysisSwitchesPart.pParams[e[0]] <= 0.0f) continue;
      l[kSlotModel1] += Format(" | D%d = %.3f", e[3], D(analysisSwitchesPart.pParams[e[1]]));
      l[kSlotModel2] += Format(" | s%d = %.3f", e[3], D(analysisSwitchesPart.pParams[e[2]]));
      l[kSlotModel3] += Format(" | c%d = %.3f", e[3], D(analysisSwitchesPart.pParams[e[0]]));
    }
  } else if (SharedModelLines(l)) {
  } else if (analysisSwitchesPart.bEqAnalysisModel) {
    l[kSlotModel1] = Heading() + Format("%.0f", D(analysisSwitchesPart.pParams[1]));
    if (!modelFlagsPart.bFitMAndS) l[kSlotModel2] = "s = " + Format("%.3f | ", D(analysisSwitchesPart.pParams[5]));
  } else if (IsContinuousModel() && !BoundaryOrLsg()) {
    l[kSlotModel1] = Heading();
    l[kSlotModel2] = ContinuousModel2();
  }
}

std::string NonidealityLine() {
  auto& dataSetPart = DataSet();
  auto& modelOptionsPart = ModelOptions();
  const double ks = std::pow(10.0, D(modelOptionsPart.fLogKs)), kd = std::pow(10.0, D(modelOptionsPart.fLogKd));
  if (modelOptionsPart.bRepulsiveNonideality)
    return Format("non-ideality with repulsive ks = %.3e (log10 = %.3f), repulsive kD = %.3e "
                  "(log10 = %.3f)/(mg/ml), with (mass signal)/(mg/ml) = %.3f",
                  ks, D(modelOptionsPart.fLogKs), kd, D(modelOptionsPart.fLogKd), dataSetPart.dSignalPerConcentration);
  return Format("non-ideality with attractive ks = -%.3e (log10 = %.3f), attractive kD = -%.3e "
                "(log10 = %.3f)/(mg/ml), with %.3f mass signal/(mg/ml)",
                ks, D(modelOptionsPart.fLogKs), kd, D(modelOptionsPart.fLogKd), dataSetPart.dSignalPerConcentration);
}

std::string RunsLine() {
  auto& dataSetPart = DataSet();
  if (!FitOfLoadedData()) return "";
  // The scans the rmsd is taken over: the scan window of a time-dependent fit, or
  // all but an initial first scan.
  int first = 1, last = dataSetPart.nScans;
  FitScanRange(&first, &last);
  if (first > last) return "";
  const float z = CalculateRunsTestZ(dataSetPart.ppSignal.data(), dataSetPart.ppFit.data(), first, last,
                                     dataSetPart.pScanOrder.data(), dataSetPart.pFitFirst.data(), dataSetPart.pFitLast.data());
  return Format("Runs test Z (#stddev) = %.2f", D(z));
}

std::string VbarLine() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& solventConstantsPart = SolventConstants();
  if (ModelFlags().bNonIdealMultiple && ModelOptions().bSyntheticBoundary) {
    std::string t = Format("synthetic boundary at %.3f cm, overlay conc1 fraction = %.3f",
                           D(analysisSwitchesPart.pParams[25]), D(analysisSwitchesPart.pParams[26]));
    if (analysisSwitchesPart.pParams[27] > 0.0f) t += Format(" | conc2 fraction = %.3f", D(analysisSwitchesPart.pParams[30]));
    if (analysisSwitchesPart.pParams[31] > 0.0f) t += Format(" | conc3 fraction = %.3f", D(analysisSwitchesPart.pParams[34]));
    return t;
  }
  const InhomSolventSettings& solvent = SolventSettings().gInhomSolvent;
  const bool inhomogeneous = solvent.bInhomogeneousSolvent;
  // In the sedimenting-cosolute mode the apparent vbar (solvation included) is the
  // one the fit floats; the macromolecule's own vbar stays fixed.
  const bool apparent = inhomogeneous && solvent.bCosoluteDynamicGradient;
  const char* state = inhomogeneous && solvent.bFitVbar ? "floating" : "fix";
  if (apparent)
    return Format("vbar = %.4f (fix), apparent vbar = %.4f (%s)", D(solventConstantsPart.VBAR),
                  D(solvent.vbarEffective), state);
  return Format("vbar = %.4f (%s)", D(solventConstantsPart.VBAR), state);
}

const char* Fl(bool fitted) { return fitted ? "(fl)" : ""; }

std::string CorrectionsLine(bool shortForm) {
  auto& bufferSedimentationPart = BufferSedimentation();
  auto& fluorescenceDetectionPart = FluorescenceDetection();
  auto& modelFlagsPart = ModelFlags();
  std::string t;
  const BufferSedSettings& b = bufferSedimentationPart.BufferSed;
  if (modelFlagsPart.bBufferSedCorrection) {
    t += Format("buffer: %.3f", b.signalSign > 0 ? b.signal : -b.signal) + Fl(b.fitSignal);
    t += Format(", D=%.2f", b.sampleD) + Fl(b.fitSampleD && !modelFlagsPart.bFitMAndS);
    t += Format(", s=%.4f", b.sampleS) + Fl(b.fitSampleS);
    t += Format(", Mb=%.1f", b.sampleMb) + Fl(b.fitSampleD && modelFlagsPart.bFitMAndS);
    if (bufferSedimentationPart.bMeniscusMismatch || b.differentReference) {
      t += Format(", meniscus diff (s-r)=%.4f", MeniscusDifference()) + Fl(b.fitMeniscusDifference);
      t += Format(", conc. ratio (s/r)=%.3f", b.relativeConc) + Fl(b.fitRelativeConc);
    }
    if (b.differentReference) {
      t += Format(", refD=%.2f", b.refD) + Fl(b.fitRefD && !modelFlagsPart.bFitMAndS);
      t += Format(", refs=%.4f", b.refS) + Fl(b.fitRefS);
      t += Format(", refMb=%.2f", b.refMb) + Fl(b.fitRefD && modelFlagsPart.bFitMAndS);
    }
  }
  auto fit = [](bool f) { return f ? " (floating)" : " (fix)"; };
  if (fluorescenceDetectionPart.bExcitationShadow)
    t += Format(shortForm ? " - excit. cone %.4f" : " - excit. cone = %.4f", D(fluorescenceDetectionPart.fConeRadius)) +
         fit(fluorescenceDetectionPart.bFitConeRadius);
  if (fluorescenceDetectionPart.bMagnificationDrift)
    t += Format(fluorescenceDetectionPart.bExponentialDrift ? " - dmag/dt-x = %.4f (%%/h)" : " - dmag/dt = %.4f (%%/h)",
                D(fluorescenceDetectionPart.fMagnificationDrift)) +
         (fluorescenceDetectionPart.bFitMagnificationDrift ? "(floating)" : "(fix)");
  if (fluorescenceDetectionPart.bRadialConvolution)
    t += Format(shortForm ? " - convolution = %.4f" : " - convolution %.4f", D(fluorescenceDetectionPart.fConvolutionWidth)) +
         fit(fluorescenceDetectionPart.bFitConvolutionWidth);
  if (fluorescenceDetectionPart.bMagnificationGradient)
    t += Format(" - radial mag factor = %.4f", D(fluorescenceDetectionPart.fMagnificationGradient)) +
         fit(fluorescenceDetectionPart.bFitMagnificationGradient);
  if (fluorescenceDetectionPart.bNonlinearDetection) {
    t += Format(" - nonlin coeff = %.4f", D(fluorescenceDetectionPart.fPowerCoefficient)) + fit(fluorescenceDetectionPart.bFitPowerCoefficient) +
         Format(", nonlin baseline = %f", D(fluorescenceDetectionPart.fPowerBaseline));
    if (!shortForm) t += fluorescenceDetectionPart.bShowTransformed ? " [showing transformed]" : " [showing non-transformed]";
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
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
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
    l[kSlotExtra] = Format("t0 for simulation is at %f sec", D(analysisSwitchesPart.pParams[24]));
  } else if (modelFlagsPart.bNonIdealMultiple) {
    l[kSlotExtra] = NonidealityLine();
  }
  l[kSlotMeniscus] = Format("Meniscus = %f  ", D(analysisSwitchesPart.pParams[13]));
  l[kSlotBottom] = modelFlagsPart.bZoneCentrifugation ? Format("Lamella thickness = %f  ", D(analysisSwitchesPart.pParams[23]))
                                       : Format("Bottom = %f  ", D(analysisSwitchesPart.pParams[14]));
  l[kSlotBaseline] = Format("Baseline = %f  ", D(analysisSwitchesPart.pParams[15]));
  l[kSlotRange] = Format("fitting %1.4f - %1.4f", D(dataSetPart.fFitLeftLim), D(dataSetPart.fFitRightLim));
  l[kSlotRuns] = RunsLine();
  return l;
}

FitTextLines BuildBestFitInfoLines() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
  FitTextLines l;
  l[kSlotFiles] = FilesLine(true);
  l[kSlotStatus] = StatusLine(true);
  l[kSlotRmsd] = RmsdLine();
  if (!SharedModelLines(l) && modelFlagsPart.bDiscreteModel) {
    l[kSlotModel1] = modelFlagsPart.bCumulants ? "D or mu = " : modelFlagsPart.bFitMAndS ? "M = " : "D*10e7 = ";
    l[kSlotModel2] = "s = ";
    l[kSlotModel3] = "c = ";
    for (int k = 1; k <= nSpeciesSlots; ++k) {
      if (modelFlagsPart.bCumulants) l[kSlotModel1] += Format("%.3e | ", D(analysisSwitchesPart.pParams[k]));
      if (!analysisSwitchesPart.pSpeciesLinked[k]) continue;
      l[kSlotModel1] += Format("%.3f | ", D(analysisSwitchesPart.pParams[k]));
      l[kSlotModel2] += Format("%.3f | ", D(analysisSwitchesPart.pParams[4 + k]));
      l[kSlotModel3] += Format("%.3f | ", D(analysisSwitchesPart.pParams[8 + k]));
    }
    l[kSlotModel3] += "(first is total, next are fractions)";
  }
  l[kSlotMeniscus] = Format("Meniscus = %f  ", D(analysisSwitchesPart.pParams[13]));
  l[kSlotBottom] = Format("Bottom = %f  ", D(analysisSwitchesPart.pParams[14]));
  l[kSlotRange] = Format("fitting %1.4f - %1.4f", D(dataSetPart.fFitLeftLim), D(dataSetPart.fFitRightLim));
  l[kSlotBaseline] = Format("Baseline = %f  ", D(analysisSwitchesPart.pParams[15]));
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
  auto& fitStatePart = FitState();
  auto& rmsdPart = Rmsd();
  if (DataSet().nScans == 0) return std::nullopt;
  if (rmsdPart.fFitRmsd < fitStatePart.fStartRmsd && rmsdPart.fFitRmsd < fitStatePart.fBestRmsd) fitStatePart.fBestRmsd = rmsdPart.fFitRmsd;
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
  auto& modelFlagsPart = ModelFlags();
  if (modelFlagsPart.bNonIdealMultiple) return;
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
