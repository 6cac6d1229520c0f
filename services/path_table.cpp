// The table of file paths.
#include "services/path_table.h"

namespace tarmic {

std::string szProgramDir;
std::string szParamsIni;
std::string szLammParamsIni;
std::string szSiblingExe;
std::string szTempDir;
std::string szLastDirIni;
std::string szMofsFile;
std::string szWormChainMofsFile;
std::string szErrorSound;
std::string szInfoSound;
std::string szQuestionSound;
std::string szFitDoneSound;
std::string szHiSound;
std::string szByeSound;
std::string szOkSound;
std::string szBeerSound;
std::string szViscosityFile;
std::string szDensityFile;
std::string szSNonIdFile;
std::string szDNonIdFile;
std::string szDistribFile;
std::string szBoundaryFractsFile;
std::string szNonIdCtotFile;
std::string szIntegRangeFile;
std::string szIntegRangeFile2;
std::string szScanRmsFile;
std::string szMLCovarianceFile;

namespace {

std::string WithTrailingSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

void SetupPathTable(const std::string& programDir, const std::string& tempDir) {
  const std::string prog = WithTrailingSlash(programDir);
  const std::string temp = tempDir.empty() ? prog + "temp/" : WithTrailingSlash(tempDir);

  szProgramDir = prog;
  szParamsIni = prog + "tarmicparams.ini";
  szLammParamsIni = prog + "tarmiclammparams.ini";
  szSiblingExe = prog + "quentar.exe";
  szTempDir = temp;
  szLastDirIni = prog + "tarmic.ini";
  szMofsFile = prog + "mofs.dat";
  szWormChainMofsFile = prog + "~WormChain_mofs.dat";
  szErrorSound = prog + "sounds/error.wav";
  szInfoSound = prog + "sounds/info.wav";
  szQuestionSound = prog + "sounds/question.wav";
  szFitDoneSound = prog + "sounds/fitdone.wav";
  szHiSound = prog + "sounds/hi.wav";
  szByeSound = prog + "sounds/bye.wav";
  szOkSound = prog + "sounds/ok.wav";
  szBeerSound = prog + "sounds/beer.wav";
  szViscosityFile = prog + "viscosity.dat";
  szDensityFile = prog + "density.dat";
  szSNonIdFile = prog + "snonid.dat";
  szDNonIdFile = prog + "dnonid.dat";
  szDistribFile = temp + "distrib.dat";
  szBoundaryFractsFile = temp + "ppBoundaryFracts.dat";
  szNonIdCtotFile = temp + "ppNonIdCtotTable.dat";
  szIntegRangeFile = prog + "integratrangefile.txt";
  szIntegRangeFile2 = prog + "integratrangefile.txt";
  szScanRmsFile = prog + "ScanRms.dat";
  szMLCovarianceFile = prog + "tarmic_ml_covariance.txt";
}

void PlaceWritableFiles(const std::string& configDir, const std::string& dataDir) {
  if (!configDir.empty()) {
    const std::string config = WithTrailingSlash(configDir);
    szParamsIni = config + "tarmicparams.ini";
    szLammParamsIni = config + "tarmiclammparams.ini";
    szLastDirIni = config + "tarmic.ini";
    szIntegRangeFile = config + "integratrangefile.txt";
    szIntegRangeFile2 = szIntegRangeFile;
  }
  if (!dataDir.empty()) {
    const std::string data = WithTrailingSlash(dataDir);
    szWormChainMofsFile = data + "~WormChain_mofs.dat";
    szScanRmsFile = data + "ScanRms.dat";
    szMLCovarianceFile = data + "tarmic_ml_covariance.txt";
  }
}

void ResetPathTable() {
  for (std::string* entry :
       {&szProgramDir, &szParamsIni, &szLammParamsIni, &szSiblingExe, &szTempDir, &szLastDirIni,
        &szMofsFile, &szWormChainMofsFile, &szErrorSound, &szInfoSound, &szQuestionSound,
        &szFitDoneSound, &szHiSound, &szByeSound, &szOkSound, &szBeerSound, &szViscosityFile,
        &szDensityFile, &szSNonIdFile, &szDNonIdFile, &szDistribFile, &szBoundaryFractsFile,
        &szNonIdCtotFile, &szIntegRangeFile, &szIntegRangeFile2, &szScanRmsFile,
        &szMLCovarianceFile})
    entry->clear();
}

}  // namespace tarmic
