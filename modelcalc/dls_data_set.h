// Dynamic-light-scattering correlation functions as the data set: "load DLS Data"
// reads a selection of dlsdat files (scandata/dls_file.h) as the members of the scan
// data set, with log10 of the lag time in place of the radius and the correlation
// in place of the signal; "save mean DLS Data" writes the mean correlation function
// of the loaded set.
//
// The loader lives with the model computation because it resets the model's
// switches (noise terms, floated meniscus and bottom) for the new kind of data.
#pragma once

#include <string>

namespace tarmic {

class Window;

// Loads the files of a selection buffer (scan_loading.h: one full path, or a
// directory and names) as the new data set. Every file is read first; when one
// cannot be read (or more than kMaxScans are selected) the error is shown
// ("LOAD ERROR", the path as text) and the loaded data set and every switch stay
// as they were. keepIntensityACF: keep g(2) - 1 instead of converting to g(1).
//
// After a successful load: the sets are ordered by their elapsed time (equal times
// keep the selection order), bDLSData is on, the scan kinds, the equilibrium modes,
// the initial profile, TI and RI noise and the floated meniscus and bottom are off,
// the uniform loading and the fitted baseline on; fTemperatureK is the mean
// temperature (K), RELVISCOSITY the mean viscosity / 0.01002 poise (1.0 when the
// files give none), fRT = R T; meniscus and bottom are the first and last abscissa
// of set 1 (log10 s), and the fit limits move to them when they lie outside.
// A selection of more than kMaxScans files or a file that cannot be read leaves the
// loaded set and returns the reason (TooManyScansText(), or the path and
// why), for the command's "LOAD ERROR" box; empty otherwise. The files are read as
// one set (FolderReading::AfterReading): a set changed while read is read once
// more, and refused naming the files changed when it changed again. After a load, the notes
// of the reader (ReadDLSDatFile) are shown in one "ATTENTION" box (ShowFileNotes).
std::string LoadDLSData(Window* window, const char* selection, bool keepIntensityACF);

// Writes the mean correlation function of the loaded set on the common grid as a
// dlsdat file titled "averaged", with the parameters of set 1 at the mean
// temperature. The mean is taken of g(2) - 1: field correlations are squared with
// their sign first, intensity correlations averaged as they are. False (nothing
// written; *error set when given) without DLS data or when the file cannot be
// written.
bool SaveMeanDLSData(const char* path, std::string* error = nullptr);

}  // namespace tarmic
