// What the scan data set asks of the libraries above it. The loaders rebuild the
// plots, show a progress line, run the model and so on, but those live in the
// plotting library, the model computation and the main window, which depend on the
// data set and not the other way round. Each of those installs its operation here
// at start-up; a hook that is not installed does nothing (and a hook with a result
// gives the stated default), so the data set works alone in tests.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace tarmic {

class Window;

// What a message of the loaders says, whatever its wording: the id a reader
// without a window (tarmic-batch, the tests) matches. LoadMessageIdName gives it
// as the word of the load's outcome.
enum class LoadMessageId {
  TooManyScans,                // refusal: more scans than a set holds
  NoScanFiles,                 // refusal: nothing of the selection is a scan file
  FilesLeftOut,                // note: files of the selection left out
  UnreadableFile,              // refusal: a scan file that cannot be read (file: which)
  OneFileSelected,             // refusal in velocity mode: one file is no velocity set
  SwitchToEquilibrium,         // question after OneFileSelected
  MixedDataTypes,              // refusal: interference files with files of another kind
  TemperatureFluctuation,      // note: the temperatures of the set differ
  ScanTimes,                   // note: velocity scans that all hold one time
  VelocityRunAsEquilibrium,    // note: equilibrium data that show a velocity run
  EquilibriumRunAsVelocity,    // note: velocity data that show sedimentation equilibrium
  InterruptedSaves,            // note: saves interrupted earlier, finished now
  ReaderNotes,                 // note: what the readers noted on the files
  FluorescenceTimeCorrection,  // note: the time correction switched off
  TimeStampDiscrepancy,        // note: an added scan's time stamps are corrected otherwise
};
const char* LoadMessageIdName(LoadMessageId id);

// A message of the loaders to the user, shown as a box when it is due: a refusal
// ("LOAD ERROR"), a question, or a note ("ATTENTION") on what was loaded. style
// holds the box's buttons and icon (MB_...); the sound plays before the box. Every
// message names its id (the constructor asks for it), and file the scan it
// concerns, when it concerns one.
struct LoadMessage {
  enum class Sound { None, Info, Error };
  LoadMessage(LoadMessageId id, std::string text, std::string caption, unsigned style, Sound sound,
              std::string file = {})
      : id(id), text(std::move(text)), caption(std::move(caption)), style(style), sound(sound),
        file(std::move(file)) {}
  LoadMessageId id;
  std::string text;
  std::string caption;
  unsigned style = 0;
  Sound sound = Sound::None;
  std::string file;
};

struct DataSetHooks {
  // --- plotting ---
  // Deletes the data and residual plots and builds them anew from the data set.
  std::function<void()> rebuildDataAndResidualPlots;
  // Rescales (when asked) and records the data plot or the residual plot again.
  std::function<void(bool rescale)> redrawDataPlot;
  std::function<void(bool rescale)> redrawResidualPlot;
  // Deletes the data and residual plots (the data set is released).
  std::function<void()> releaseDataAndResidualPlots;
  // Shows the temperature of every scan against its time in the auxiliary pane.
  std::function<void(Window*)> showTemperaturePlot;
  // The progress line of loading: shown at the top left of the window, advanced to
  // a fraction 0..1, removed again.
  std::function<void(Window*)> progressBegin;
  std::function<void(float fraction)> progressUpdate;
  std::function<void()> progressEnd;

  // --- main window ---
  // Appends text to the diagnostics log when diagnostics output is on.
  std::function<void(Window*, const std::string&)> writeDebugLog;
  // Create (when absent) or delete the two on-plot noise buttons; with a window the
  // plots are redrawn as well.
  std::function<void(Window*)> createNoiseButtons;
  std::function<void(Window*)> deleteNoiseButtons;

  // --- model computation ---
  // Frees the copies kept by the nonlinear-detection transform of fluorescence data.
  std::function<void()> freeNonlinearDetectionCopies;
  // Re-applies that transform (with false: without rebuilding the grid itself).
  std::function<void(bool rebuildGrid)> reapplyNonlinearDetection;
  // Computes the current model into ppFit of every scan; true when it was computed.
  std::function<bool(Window*)> calculateModel;
  // Root-mean-square deviation of data and model over the fit range (0 when unset).
  std::function<float()> fitRmsd;
  // The identifier of the model chosen now (its menu command); 0 when unset. A
  // result is shown, copied and saved only under the model that computed it.
  std::function<int()> activeModel;
  // A fingerprint of every value and setting the model computation reads (the
  // parameters of every species, meniscus, bottom, grid, fit switches, fitting
  // limits, solver and noise options); 0 when unset. A result is shown, copied and
  // saved only while they are as they were when it was computed.
  std::function<unsigned long long()> modelSettings;
  // Offers the previous analysis of these data; true when it was restored (false
  // when unset).
  std::function<bool(Window*, int)> offerReloadParameters;

  // --- distribution engine ---
  // Frees the work arrays of the total-concentration profiles.
  std::function<void()> freeCtotArrays;

  // --- menu commands ---
  // Runs the current analysis as the Run command does.
  std::function<void(Window*)> runAfterReload;
  // Shows a message of the loaders and returns the box's answer (IDOK, IDYES, ...).
  std::function<int(Window*, const LoadMessage&)> showLoadMessage;
  // The "Save Raw Data Set" command.
  std::function<void(Window*)> saveRawDataSet;

  // --- files ---
  // Where ReadServedTextFile (scandata/text_io.h: the scan reader, ReadWholeTextFile)
  // takes a file's bytes from before the disk: a batch run reads each of its scan
  // files once and serves every later read of it from memory. The file's bytes as
  // on disk (kept until the hook is replaced), or null to read the disk. Called
  // from any thread.
  std::function<const std::string*(const std::string& path)> wholeFileBytes;
};

// The installed hooks; the libraries above assign their members.
DataSetHooks& GetDataSetHooks();
// The activeModel hook's answer (0 when it is not installed).
int ActiveModelIdentity();
// The modelSettings hook's answer (0 when it is not installed).
unsigned long long ModelSettingsIdentity();
// Removes every hook (tests).
void ResetDataSetHooks();

// Runs the current analysis on data that were just reloaded (the hook of the menu
// commands; nothing while none is installed).
void RunAfterReload(Window* window);

// Hands a message of the loaders to the commands, which show it (the hook
// showLoadMessage), at the moment the loader reaches it; returns the answer. While
// none is installed (the data set alone: its tests, the file-reader fuzzing) it is
// raised as an engine notice, which shows the same box; without a backend the
// answer is 0.
int ShowLoadMessage(Window* window, const LoadMessage& message);

}  // namespace tarmic
