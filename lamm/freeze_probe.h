// Temporary measurement hooks: the grid size and the accepted time steps of every
// static-grid solution recorded at one parameter point and replayed at others, keyed
// by the species' s. Off unless a benchmark switches them on (one thread only).
#pragma once

#include <cstddef>
#include <map>
#include <vector>

namespace tarmic::freeze_probe {

// Hold: the first size chosen for each s is kept for every later solution.
enum class Mode { Off, Record, Replay, Hold };

struct StepRecord {
  double dt = 0.0;
  bool landed = false;
};

struct Probe {
  Mode grid = Mode::Off;
  Mode steps = Mode::Off;
  std::map<double, int> gridSizes;
  std::map<double, std::vector<StepRecord>> stepSequences;
  std::vector<StepRecord>* current = nullptr;  // the solution being recorded or replayed
  std::size_t next = 0;
  long gridChanged = 0;  // replayed sizes that differ from the one chosen
  long stepsMissed = 0;  // steps taken by the control while replaying
};

inline Probe& State() {
  static Probe probe;
  return probe;
}

inline int GridSize(double s, int chosen) {
  Probe& p = State();
  if (p.grid == Mode::Record) p.gridSizes[s] = chosen;
  if (p.grid == Mode::Hold) {
    auto [it, added] = p.gridSizes.emplace(s, chosen);
    if (!added && it->second != chosen) ++p.gridChanged;
    return it->second;
  }
  if (p.grid == Mode::Replay) {
    auto it = p.gridSizes.find(s);
    if (it != p.gridSizes.end()) {
      if (it->second != chosen) ++p.gridChanged;
      return it->second;
    }
  }
  return chosen;
}

inline void StartSolution(double s) {
  Probe& p = State();
  p.current = nullptr;
  p.next = 0;
  if (p.steps == Mode::Record) {
    p.current = &p.stepSequences[s];
    p.current->clear();
  } else if (p.steps == Mode::Replay) {
    auto it = p.stepSequences.find(s);
    if (it != p.stepSequences.end()) p.current = &it->second;
  }
}

// The recorded step to replay next, or nullptr.
inline const StepRecord* NextReplayed() {
  Probe& p = State();
  if (p.steps != Mode::Replay) return nullptr;
  if (!p.current || p.next >= p.current->size()) {
    ++p.stepsMissed;
    return nullptr;
  }
  return &(*p.current)[p.next++];
}

inline void RecordStep(double dt, bool landed) {
  Probe& p = State();
  if (p.steps == Mode::Record && p.current) p.current->push_back({dt, landed});
}

}  // namespace tarmic::freeze_probe
