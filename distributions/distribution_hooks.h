// What the distribution engine asks of code it cannot call directly: the main
// window's preferences and diagnostics log, the batch series, the nonlinear-detection
// transform of the model computation, the run settings, and the pane layout, prior
// and table steps of the grid set-up. Their owners install the operations at start-up;
// an operation that is not installed does nothing, and one with a result gives the
// default stated beside it, so the engine runs alone in tests.
//
// The progress text and progress line of a run are drawn by the user-interface
// thread into hContiDC / pContiProgressLine (normal_equations.h); worker threads
// never reach these hooks.
#pragma once

#include <functional>
#include <string>

#include "distributions/run_message.h"
#include "propagators/sim_run.h"
#include "scandata/dls_info.h"
#include "services/computation_events.h"

namespace tarmic {

class CLammIdeal;
struct ContiRunSettings;  // distributions/conti_run_settings.h

struct DistributionHooks {
  // --- main window ---
  // Appends text to the diagnostics log when diagnostics output is on.
  std::function<void(const std::string&)> writeDebugLog;
  // A nonlinear fit is running: progress text is not drawn (default false).
  std::function<bool()> fitInProgress;
  // The preference "wizard messages" (default false: no note is shown).
  std::function<bool()> wizardMessages;

  // --- model computation ---
  // After the fit was rebuilt: keeps the fluorescence nonlinear-detection copies
  // of data and fit up to date.
  std::function<void()> updateNonlinearDetectionFit;
  // The fluorescence nonlinear-detection transform: true shows data and fit in the
  // transformed domain (where a distribution is fitted), false in the domain the
  // user chose. Nothing when the correction is off.
  std::function<void(bool transformed)> nonlinearDetectionDomain;

  // The run settings the main window keeps as preferences (regularisation, threads);
  // the defaults of ContiRunSettings when unset.
  std::function<ContiRunSettings()> runSettings;

  // --- distribution plot, prior and tables ---
  // The plot area was split in three panes (a distribution is shown) or back in two:
  // the main window adjusts its pane rows.
  std::function<void(bool threePanes)> paneLayoutChanged;
  // The on-plot integrate button of the distribution plot is made or removed.
  std::function<void()> createIntegrateButton;
  std::function<void()> deleteIntegrateButton;
  // Fills pPriorProbability for the new grid.
  std::function<void()> buildPriorProbability;
  // --- light scattering ---
  // g1 of unit amplitude of one species of diffusion coefficient D (cm^2/s) for
  // the record's scattering vector, at the abscissae x[1..n] (log10 lag time) into
  // out[1..n]: the kernels of the DLS distributions. Without it those
  // distributions cannot be computed.
  std::function<void(const DLSInfo& record, double D, const float* x, float* out, int n)>
      dlsFieldCorrelation;

  // --- kernels ---
  // The kernel of grid point i of the nonideal c(s) for s (S) and D (cm^2/s), by
  // the concentration-dependent propagators (installed by the model computation;
  // without it the model is not available).
  std::function<SimOutcome(Window* window, int i, double s, double D)> nonidealKernel;
  // Loads the detection corrections of the fluorescence options that are on
  // (magnification gradient and drift, excitation shadow, radial convolution) into
  // the template solver of the kernels (installed by the model computation, which
  // owns those options; without it the kernels have none).
  std::function<void(CLammIdeal& lamm)> detectionCorrections;
  // The kernel of grid point i on sedimentation-equilibrium data: the equilibrium
  // profile of unit loading (sector mean 1 between meniscus and bottom) of buoyant
  // molar mass Mb (g/mol) at each scan's rotor speed and temperature, with the
  // detection corrections, on the radii r[1..n] into pppKernels[i][scan] (installed
  // by the model computation; without it no distribution is computed on
  // equilibrium data).
  std::function<void(int i, double Mb, const float* r, int n)> equilibriumKernel;
};

// The installed hooks; their owners assign the members.
DistributionHooks& GetDistributionHooks();
// Removes every hook (tests).
void ResetDistributionHooks();

// The hooks with their defaults.
void WriteContiDebugLog(const std::string& text);
bool ContiFitInProgress();
bool ContiWizardMessages();

// Reports a failure of the distribution engine: in batch mode only the series error
// code is recorded, otherwise the text is shown in the error box (not ending the
// command).
void ReportDistributionError(int seriesCode, const std::string& text);
// The error box outside batch mode (nothing in batch mode), for a failure that the
// computation goes on after (a prior it runs without, an M(s) value taken as 0).
void ShowDistributionError(const std::string& text);
// As ReportDistributionError, but outside batch mode a message box with the given
// caption (and an exclamation icon) instead of the error box.
void ReportDistributionMessage(int seriesCode, const std::string& text, const char* caption);
// A message box with an empty caption when a window system is present; nothing
// otherwise.
void ShowDistributionNote(const std::string& text);

// Shows the message (nothing when empty or without a window system); the engine's
// one place for the boxes of inner runs, which are shown when the run meets them
// because the computation around them goes on or ends right after.
void ShowRunMessage(const RunMessage& message);
// Hands the message to sink, or shows it when there is no sink.
void ReportRunMessage(RunMessage message, RunMessage* sink);

}  // namespace tarmic
