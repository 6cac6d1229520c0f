// The loading commands of the main window ("Load New Files", "Add More Files",
// files dropped on the window) and the tests that sort a chosen or dropped file
// into scan files, scan-list files and saved-parameter files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scandata/load_outcome.h"

namespace tarmic {

class TXLAWindow;
struct LoadMessage;

// Whether a dropped file is loaded as a scan: the extensions .IP1 to .IP8, .R00
// and .RA1 to .RA8, in either case.
bool IsDroppableScanFile(const std::string& path);
// Whether a file is a scan-list file ("list" at the start of its name, in either
// case), which names the scans to load.
bool IsScanListFile(const std::string& path);
// Whether a file is an experiment file (extension .xp): "Load New Files" loads the
// scans it lists with its settings.
bool IsExperimentFile(const std::string& path);
// Whether a file holds the saved parameters of an analysis ("~tmppars" at the
// start of its name, or the extension ".~p" of the old file-name convention).
bool IsParameterFile(const std::string& path);

// The loading command a load comes from; it sets the data modes of the new set.
enum class LoadKind {
  Velocity,         // "Load New Files", dropped files
  Equilibrium,      // "load sedimentation equilibrium data"
  Electrophoresis,  // the electrophoresis loader
};

// Shows a message of the loaders (their refusals, questions and notes on what was
// loaded) at the moment a loader reaches it: its sound, then the box; returns the
// box's answer. Installed as the data set's showLoadMessage. The box is the
// backend's own, not a command box that holds the painting: the window draws the
// set just loaded beneath it, as it did before the box.
int ShowLoaderMessage(const LoadMessage& message);

// The analysis a saved parameter file holds put into effect, as Yes to "switch to
// parameter file %s?" does (the folder held while it is read): whether the file was
// taken. A refused file has said why in its box and leaves the analysis as it was.
bool SwitchToParameterFile(TXLAWindow& window, const std::string& path);

// "Load New Files" in the data modes of its kind of load: the file dialog, then the
// selection as the new data set. Whether a new set was loaded; when not (cancelled
// or failed), the loaded set and its data modes stay as they were.
bool LoadNewFiles(TXLAWindow& window, LoadKind kind);
// The scans of a selection that one analysis takes: the selection itself when its
// scans are of one cell at one wavelength, else the group the user chooses in a
// list of cells and wavelengths, or all of them as one set after a warning;
// nothing when the user cancels. Every load of a selection of scan files by the
// window passes here (Load New Files, Add More Files, dropped files).
std::optional<std::vector<std::string>> ChooseOneCell(TXLAWindow& window, const std::vector<std::string>& files);

// The outcome of the last loading command (Load New Files, the equilibrium load, Add
// More Files, files dropped, Change Cell): set as the command ends, whatever way it
// ends, with the loaders' messages of that command as records. A caller of the
// command (tarmic-batch) reads it instead of the boxes or the data left loaded.
// Main thread only.
const LoadOutcome& LastLoadOutcome();

}  // namespace tarmic
