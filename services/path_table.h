// The table of file paths built at start-up: the program directory, the
// preference files, the temporary directory, the sound files and the data tables
// beside the program. Every entry is an absolute path with '/' as separator;
// directories end in '/'. All entries are empty until SetupPathTable has run, and
// the table is read-only afterwards. SetupPathTable puts every file beside the
// program; the program's start then moves the files it writes into the user's
// directories (PlaceWritableFiles), while read-only resources (sounds, tables,
// "bin") stay beside the program.
#pragma once

#include <string>

namespace tarmic {

extern std::string szProgramDir;          // directory of the program file
extern std::string szParamsIni;           // program directory + "tarmicparams.ini"
extern std::string szLammParamsIni;       // program directory + "tarmiclammparams.ini"
extern std::string szSiblingExe;          // program directory + "quentar.exe"
extern std::string szTempDir;             // the temporary directory
extern std::string szLastDirIni;          // program directory + "tarmic.ini"
extern std::string szMofsFile;            // program directory + "mofs.dat"
extern std::string szWormChainMofsFile;   // program directory + "~WormChain_mofs.dat"
extern std::string szErrorSound;          // program directory + "sounds/error.wav"
extern std::string szInfoSound;           // program directory + "sounds/info.wav"
extern std::string szQuestionSound;       // program directory + "sounds/question.wav"
extern std::string szFitDoneSound;        // program directory + "sounds/fitdone.wav"
extern std::string szHiSound;             // program directory + "sounds/hi.wav"
extern std::string szByeSound;            // program directory + "sounds/bye.wav"
extern std::string szOkSound;             // program directory + "sounds/ok.wav"
extern std::string szBeerSound;           // program directory + "sounds/beer.wav"
extern std::string szViscosityFile;       // program directory + "viscosity.dat"
extern std::string szDensityFile;         // program directory + "density.dat"
extern std::string szSNonIdFile;          // program directory + "snonid.dat"
extern std::string szDNonIdFile;          // program directory + "dnonid.dat"
extern std::string szDistribFile;         // temporary directory + "distrib.dat"
extern std::string szBoundaryFractsFile;  // temporary directory + "ppBoundaryFracts.dat"
extern std::string szNonIdCtotFile;       // temporary directory + "ppNonIdCtotTable.dat"
extern std::string szIntegRangeFile;      // program directory + "integratrangefile.txt"
extern std::string szIntegRangeFile2;     // the same path, a second entry
extern std::string szScanRmsFile;         // program directory + "ScanRms.dat"
extern std::string szMLCovarianceFile;    // program directory + "tarmic_ml_covariance.txt"

// The names of the settings files the program writes: the preferences, the Lamm
// settings, "tarmic.ini" (the last data directory) and the integration range file.
inline constexpr const char* kSettingsFileNames[] = {
    "tarmicparams.ini", "tarmiclammparams.ini", "tarmic.ini", "integratrangefile.txt"};

// Fills every entry from the program directory and the temporary directory (a
// missing trailing '/' is added to both). An empty tempDir stands for the
// program directory's "temp/". Creates no directory and no file.
void SetupPathTable(const std::string& programDir, const std::string& tempDir);

// Moves the entries of the files the program writes: the settings files
// (kSettingsFileNames) into configDir, the working files (the worm-chain table,
// "ScanRms.dat", the covariance report) into dataDir. A missing trailing '/' is added; an empty directory
// leaves its entries beside the program. Creates no directory and no file.
void PlaceWritableFiles(const std::string& configDir, const std::string& dataDir);

// Empties every entry (the state before start-up).
void ResetPathTable();

}  // namespace tarmic
