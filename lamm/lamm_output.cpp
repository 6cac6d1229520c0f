// The per-step output of a Lamm solution: profiles stored at the scan times (as a
// scanner with finite speed and resolution records them), the progress readouts,
// the solutions without diffusion, the detection corrections of fluorescence
// optics, and the diagnostics log.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "lamm/lamm_globals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_window_display.h"
#include "lamm/radial_corrections.h"
#include "lamm/scan_sweep.h"
#include "storage/atomic_file.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/interpolation.h"
#include "services/run_switches.h"
#include "platform/system.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

std::string Format(const char* fmt, double v) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// The information record written with a scan of the second solution: the data
// set's record of the scan when the solver's records were taken from it (same
// times and speed), else one built from the solver's record.
ScanInfo Comp2ScanRecord(int scan, const LammScanRecord& rec, bool absorbance) {
  auto& dataSetPart = DataSet();
  if (scan >= 1 && scan <= dataSetPart.nScans && static_cast<std::size_t>(scan) < dataSetPart.pScanInfo.size()) {
    const ScanInfo& info = dataSetPart.pScanInfo[static_cast<std::size_t>(scan)];
    if (info.time == rec.time && info.recordedTime == rec.timeUncorrected && info.rpm == rec.rpm)
      return info;
  }
  ScanInfo info;
  info.scanType = absorbance ? 'R' : 'P';
  info.temperature = rec.temperature;
  info.rpm = rec.rpm;
  info.time = rec.time;
  info.recordedTime = rec.timeUncorrected;
  info.timeAtLoad = rec.timeUncorrected;
  info.accelRate = rec.accelRate;
  info.accelTime = rec.accelTime;
  return info;
}

}  // namespace

void CLammIdeal::SetComp2Output(bool display, bool writeFiles, const std::string& directory) {
  bComp2Display = display;
  bComp2WriteFiles = writeFiles;
  szComp2Directory = directory;
  szComp2WriteFailure.clear();
  bComp2FailureReported = false;
}

bool CLammIdeal::WriteComp2ScanFile(int position) {
  const int n = nComp2Points;
  if (!bComp2Allocated || n < 1 || static_cast<int>(pComp2Conc.size()) <= n) return false;
  std::string path = szComp2Directory;
  if (!path.empty() && path.back() != '/') path += '/';
  path += "comp2_" + std::to_string(position) + ".r00";
  std::vector<float> radius(static_cast<std::size_t>(n) + 1, 0.0f), value(radius.size(), 0.0f);
  for (int i = 1; i <= n; ++i) {
    radius[static_cast<std::size_t>(i)] = static_cast<float>(pComp2Radius[i]);
    value[static_cast<std::size_t>(i)] = static_cast<float>(pComp2Conc[i]);
  }
  const ScanInfo record = Comp2ScanRecord(pScanIndex[position], ScanAt(position), bAbsorbance);
  if (WriteScanFile(path.c_str(), n, radius.data(), value.data(), nullptr, "component 2", false,
                    record))
    return true;
  // The path, and the system's reason on a line of its own after it.
  if (szComp2WriteFailure.empty()) {
    szComp2WriteFailure = path;
    const std::string why = SaveFailureReason(path);
    if (!why.empty()) szComp2WriteFailure += "\n" + why;
  }
  return false;
}

void CLammIdeal::ReportComp2WriteFailure() {
  if (szComp2WriteFailure.empty() || bComp2FailureReported) return;
  bComp2FailureReported = true;
  ReportMessage("\n\aAttention: could not write " + szComp2WriteFailure);
}

void CLammIdeal::ReportMessage(const std::string& text) {
  vMessages.push_back(text);
  if (!bQuietMessages) RaiseError(text);
}

void CLammIdeal::ReportTridag(TridagStatus status) {
  nSingular = 1;
  ReportMessage(TridagMessage(status));
}

CLammIdeal::OutputRow CLammIdeal::ScanOutputRow(int position) const {
  const int scan = pScanIndex[position];
  if (bPerScanRadii) return {ppOwnProfiles[scan], ppScanRadii[scan], pnScanPoints[scan]};
  return {ppOut[scan], pOutRadii, nOutRadii};
}

CellOptics CLammIdeal::DetectionOptics() const {
  CellOptics o;
  FluorescenceCorrections& f = o.fluorescence;
  f.gradient = bRadialGradient;
  f.gradientPerCm = dRadialGradient;
  f.drift = bTemporalDrift;
  f.driftPerSecond = dDriftRate;
  f.exponentialDrift = bExponentialDrift;
  f.shadow = bExcitationShadow;
  f.coneRadius = static_cast<float>(dShadowRadius);
  f.convolution = bRadialConvolution;
  f.width = static_cast<float>(dConvolutionWidth);
  f.distFactor = static_cast<float>(dConvolutionParam);
  o.resolution = bRadialResolution;
  o.resolutionRange = fConvolutionRange;
  o.meniscus = dMeniscus;
  o.bottom = dBottom;
  return o;
}

double CLammIdeal::DetectionTime(int position) const {
  return dScanTimeLag + pScans[pScanIndex[position]].timeUncorrected;
}

template <typename Fill>
void CLammIdeal::WriteScanRow(int position, Fill&& fill) {
  const OutputRow out = ScanOutputRow(position);
  fill(out);
  if (pOutputSums) pOutputSums->Written(pScanIndex[position], out.c, out.n);
}

void CLammIdeal::StoreProfile(int position, const double* values) {
  WriteScanRow(position, [&](const OutputRow& out) {
    const CellOptics optics = DetectionOptics();
    if (optics.Blurs()) {
      // The blurs see the whole computed profile, not only the output radii.
      RecordCellProfile(nGrid, pRadius.data(), values, optics, DetectionTime(position), out.n,
                        out.r, out.c);
      return;
    }
    if (bPerScanRadii) {
      InterpolateCurveFromDouble(out.n, out.r, out.c, nGrid, pRadius.data(), values);
    } else {
      // Every scan has the same radii: the positions on the grid are found once.
      if (!outputPlan.IsForFixedOutput(out.n, out.r, nGrid, pRadius.data()))
        outputPlan.Plan(out.n, out.r, nGrid, pRadius.data());
      outputPlan.Apply(values, out.c);
    }
    if (optics.Any())
      ApplyPointCorrections(out.n, out.r, out.c, optics.fluorescence, DetectionTime(position),
                            static_cast<float>(dMeniscus), static_cast<float>(dBottom));
  });
}

void CLammIdeal::CLEachIterationOutput(double ri) {
  // Between two scans a run may take any number of steps (a fast rotor and a large
  // s make them tiny), so the interrupt is looked at after every step: the keyboard
  // at most every 100 ms in the user-interface thread; for an equation of a list
  // the flag that the user-interface thread sets when it takes a key, and the
  // keyboard too when the list is solved in that thread itself (no worker could be
  // started). A worker does not read the clock of the poll at every step: its key
  // poll would find nothing.
  if (bInWorkerThread ? bUserAbort.load() || (bListInUiThread && keyPoll.KeyPressed())
                      : keyPoll.KeyPressed()) {
    bRunning = 0;
    bAborted = true;
    return;
  }
  const bool display = pDisplay && !bInWorkerThread && !bNoProgressText && !bNoProgressText2;
  if (display && bShowReadouts) {
    pDisplay->ShowText(10, 70, Format("dt = %f sec  ", dDt));
    pDisplay->ShowText(10, 90, "#it = " + std::to_string(nIteration) + "   ");
    if (nShowM) {
      char buf[128];
      std::snprintf(buf, sizeof buf, "t = %.0f sec (M=%f) ", dTime, dReadoutM);
      pDisplay->ShowText(10, 110, buf);
    } else {
      pDisplay->ShowText(10, 110, Format("t = %.0f sec  ", dTime));
    }
    pDisplay->ShowText(10, 130, Format("ri=%f  ", ri));
  }
  // A step that was cut to land on the output time ends exactly there.
  if (dTime < dNextOutputTime - 1e-9 * std::max(1.0, std::fabs(dNextOutputTime))) return;
  if (nNextScan > nScanCount) {
    // Past the last scan (the run went on): the run ends at the far output time.
    bRunning = 0;
    return;
  }
  if (!CLAmountBalanceHolds()) {
    // A profile that lost the amount balance is never recorded: the run fails.
    nDiscretizationError = 1;
    bRunning = 0;
    return;
  }
  if (bUseMovingHat && !bUseClaverie && !bConcDependentModel) FinishMovingHatStep();
  const int n = nGrid;
  bool complete = true;
  if (bTimeResolution && fScanVelocity > 0 && dSliceCount > 2) {
    // The scanner moves from meniscus to bottom at v: each slice copies the grid
    // points it has reached since the last one.
    const double v = fScanVelocity / 60.0;
    if (!bScanInProgress) {
      bScanInProgress = true;
      nSlice = 0;
      dScanDuration = (dBottom - dMeniscus) / v;
      dSliceDuration = dScanDuration / dSliceCount;
    }
    dScannerRadius = dMeniscus + (nSlice + 1) * dSliceDuration * v;
    complete = TakeScanSweep(nSlice, static_cast<int>(dSliceCount), n, pRadius.data(), pConc.data(),
                             dScannerRadius, &nLastCopied, pScannedConc.data(), nullptr);
    ++nSlice;
    dSliceElapsed = nSlice * dSliceDuration;
  } else {
    for (int i = 1; i <= n; ++i) pScannedConc[i] = pConc[i];
  }
  if (complete) {
    bScanInProgress = false;
    StoreProfile(nNextScan, pScannedConc.data());
    scanCoverage.Recorded();
    if (display && bShowReadouts) {
      pDisplay->DrawProfile(pRadius.data(), pScannedConc.data(), n, EvolvingProfileColor(nEquation));
    }
    // The second solution of the first equation: drawn and written per scan. A
    // worker never writes them (its equations run side by side).
    if (bSecondSolution && bComp2Allocated && nEquation == 1 && !bInWorkerThread &&
        !bNoProgressText && !bNoProgressText2) {
      if (bComp2Display && display) {
        pDisplay->DrawProfile(pComp2Radius.data(), pComp2Conc.data(), nComp2Points,
                              EvolvingProfileColor(nEquation));
      }
      // After one failure (a missing or full directory) the rest would fail alike.
      if (bComp2WriteFiles && !szComp2Directory.empty() && szComp2WriteFailure.empty())
        WriteComp2ScanFile(nNextScan);
    }
  }
  // The next output time.
  if (!complete) {
    dNextOutputTime = dNextScanTime + dSliceElapsed;
  } else if (nNextScan >= nScanCount) {
    nNextScan = nScanCount + 1;
    if (bRunPastLastScan) {
      dNextOutputTime = 1e8;
    } else {
      bRunning = 0;
    }
  } else {
    ++nNextScan;
    dNextScanTime = ScanTime(nNextScan);
    dNextOutputTime = dNextScanTime;
    nSlice = 0;
    dSliceElapsed = 0.0;
  }
  bOutputTimePending = true;
  if (!bRunning || nNextScan > nScanCount) ReportComp2WriteFailure();
}

void CLammIdeal::FillScansAfterStop() {
  if (nNextScan > nScanCount) return;
  if (bUseMovingHat && !bUseClaverie && !bConcDependentModel) FinishMovingHatStep();
  for (int p = nNextScan; p <= nScanCount; ++p) {
    StoreProfile(p, pConc.data());
    scanCoverage.Recorded();
  }
  nNextScan = nScanCount + 1;
  ReportComp2WriteFailure();
}

void CLammIdeal::SolveWithoutDiffusion() {
  const double m = dMeniscus, b = dBottom, k = dOmega2S;
  const double v = (bTimeResolution && fScanVelocity > 0) ? fScanVelocity / 60.0 : 0.0;
  // The step profile at radius x recorded at time t: the boundary at m e^(kt)
  // (b e^(kt) for flotation), the plateau c0 e^(-2kt), the lamella edge at
  // (m + w) e^(kt).
  // While the rotor accelerates (rpm = rate t up to the final speed) the species
  // moves as far as in the time at final speed that carries the same integral of
  // omega^2: t^3 / (3 T^2) within the ramp of length T, T / 3 + (t - T) after it.
  const bool ramp = bRampRotor && dAccelEndTime > 0 && dAccelRate > 0 && dRpmFinal > 0;
  const double T = ramp ? dRpmFinal / dAccelRate : 0.0;
  auto atFinalSpeed = [&](double t) {
    if (!ramp || !(t > 0)) return t;
    auto integral = [T](double tau) { return tau <= T ? tau * tau * tau / (3 * T * T) : T / 3 + (tau - T); };
    return t <= dAccelEndTime ? integral(t) : integral(dAccelEndTime) + (t - dAccelEndTime);
  };
  auto value = [&](double x, double t) {
    if (v > 0) t += (x - m) / v;  // the scanner reaches x later
    t = atFinalSpeed(t);
    const double e = std::exp(k * t);
    const double rb = (k > 0 ? m : b) * e;
    const double plateau = dConc0 * std::exp(-2 * k * t);
    if (!bBandLoading) return ((k > 0) ? x >= rb : x <= rb) ? plateau : 0.0;
    const double rl = (m + fLamellaWidth) * e;
    if (bInvertBand) return x >= rl ? plateau : 0.0;
    return (x >= rb && x < rl) ? plateau : 0.0;
  };
  // The step profile as the optics record it (over the whole cell with a blur).
  const CellOptics optics = DetectionOptics();
  for (int p = 1; p <= nScanCount; ++p) {
    const double t = ScanTime(p) - dStartTimeOffset;
    WriteScanRow(p, [&](const OutputRow& out) {
      RecordClosedFormProfile(
          [&](int k, const float* r, float* c) {
            for (int j = 1; j <= k; ++j) c[j] = static_cast<float>(value(r[j], t));
          },
          optics, DetectionTime(p), out.n, out.r, out.c);
    });
    scanCoverage.Recorded();
  }
  nNextScan = nScanCount + 1;
}

void CLammIdeal::SolveStatic() {
  for (int p = 1; p <= nScanCount; ++p) {
    StoreProfile(p, pConc.data());
    scanCoverage.Recorded();
  }
  nNextScan = nScanCount + 1;
}

void CLammIdeal::DebugLog(const char* text) {
  auto& lammGlobalsPart = LammGlobals();
  if (!bDebugLog) return;
  if (pszLogFile.empty()) {
    const std::string dir = (lammGlobalsPart.szLammLogDirectory && *lammGlobalsPart.szLammLogDirectory) ? lammGlobalsPart.szLammLogDirectory
                                                                          : TempDirectory();
    pszLogFile = dir + "debug_t" + std::to_string(nThread) + ".txt";
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  "starting new debugging session for Lamm equation s = %.4f S, D = %.3f F", dS,
                  dD * 1e7);
    pszLogHeader = buf;
  }
  const std::string lines = (bLogOpened ? std::string() : pszLogHeader + "\n") + (text ? text : "");
  std::string why;
  if (!AppendToFile(pszLogFile, lines, !bLogOpened, &why)) {
    ReportMessage(WithReason("\n\aAttention: could not open " + pszLogFile + " to write debugging info", why));
    bDebugLog = false;  // one message, not one per line
    return;
  }
  bLogOpened = true;
}

}  // namespace tarmic
