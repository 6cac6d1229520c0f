#include "batch/batch_data_kind.h"

#include <algorithm>

#include "batch/batch_backend.h"
#include "scandata/data_set_hooks.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// The note the loader recorded with the id, as one line.
std::string Note(const LoadOutcome& load, LoadMessageId id) {
  const std::string name = LoadMessageIdName(id);
  const auto m = std::find_if(load.messages.begin(), load.messages.end(),
                              [&](const OutcomeMessage& message) { return message.id == name; });
  return m == load.messages.end() ? std::string() : BoxLine("", m->text);
}

}  // namespace

std::vector<std::string> DataKindRefusal(const LoadOutcome& load, BatchDataKind kind) {
  const DataKindJudgement& j = load.kindJudgement;
  switch (kind) {
    case BatchDataKind::Equilibrium:
      if (!j.Velocity()) return {};
      return {Note(load, LoadMessageId::VelocityRunAsEquilibrium),
              "velocity data are analysed with --velocity or without --equilibrium"};
    case BatchDataKind::Judged:
      if (!j.equilibrium) return {};
      return {Note(load, LoadMessageId::EquilibriumRunAsVelocity),
              "equilibrium data are analysed with --equilibrium; give --velocity if the scans are a velocity run"};
    case BatchDataKind::Velocity:
      if (!j.equilibriumBeyondDoubt) return {};
      return {Format("--velocity: the %d scans of cell %d were taken at %d rotor speeds over %.1f h and no "
                     "profile changes beyond its noise at any of them: sedimentation equilibrium beyond "
                     "doubt, which holds nothing for a velocity analysis",
                     j.cellScans, j.cell, j.speeds, j.cellSpan / 3600.0),
              "equilibrium data are analysed with --equilibrium"};
  }
  return {};
}

}  // namespace tarmic
