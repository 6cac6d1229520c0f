// Whether the scans tarmic-batch loaded are of the kind of run it analyses them as:
// the kind the command line says (--equilibrium, --velocity) or, without a word,
// velocity data that the loader's test of the profiles does not judge equilibrium.
#pragma once

#include <string>
#include <vector>

#include "scandata/load_outcome.h"

namespace tarmic {

enum class BatchDataKind {
  Judged,       // no word: loaded as velocity data; equilibrium data are refused
  Velocity,     // --velocity: velocity data whatever the test, unless equilibrium beyond doubt
  Equilibrium,  // --equilibrium: loaded as equilibrium data; a velocity run is refused
};

// The lines to say when the loaded set is refused (each without the program's
// prefix), empty when it is analysed. Refused: under Judged, scans the loader judges
// sedimentation equilibrium; under Velocity, equilibrium beyond doubt (unchanged at
// two or more rotor speeds); under Equilibrium, a velocity run (a boundary that
// moves over scans minutes apart).
std::vector<std::string> DataKindRefusal(const LoadOutcome& load, BatchDataKind kind);

}  // namespace tarmic
