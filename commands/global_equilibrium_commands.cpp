#include "commands/global_equilibrium_commands.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>

#include "app/global_eq_view.h"
#include "app/paint_state.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/text_format.h"
#include "engine/equilibrium.h"
#include "lamm/lamm_window_display.h"
#include "modelfit/transfer_fields.h"
#include "numerics/ccurve.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "resources/dialogs.h"
#include "services/computation_events.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "text/number_token.h"

namespace tarmic {

namespace {

constexpr const char* kCaption = "Global Equilibrium Analysis";

// The analysis, the records of its two dialogs (the last choices) and the plots of
// the data set on show with the curves they draw.
struct GlobalEqState {
  std::unique_ptr<GlobalEqWindowAnalysis> analysis;
  TransferBuffer modelRecord;
  std::vector<std::unique_ptr<CCurve>> curves;
  std::unique_ptr<CWINPlot> dataPlot, residualPlot;
};

GlobalEqState& State() {
  static GlobalEqState state;
  return state;
}

// The data sets are evaluated on up to eight threads; the bits are the same on any.
int FitThreads() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u)); }

std::string Num(double v) { return FormatText("%.6g", v); }

// Shows the model dialog until its record is taken; the model and its name, or
// nothing on Cancel.
std::optional<engine::EquilibriumModelSpec> AskModel(TXLAWindow& window, std::string* name) {
  TransferBuffer& record = State().modelRecord;
  if (record.text.empty()) {
    SetFieldChecked(record, kIdGlobalEqModelFirst, true);
    SetFieldText(record, kIdGlobalEqN, "2");
    SetFieldText(record, kIdGlobalEqM, "4");
  }
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kGlobalEqModelDialogId));
  for (;;) {
    TransferBuffer edited = record;
    window.bModalBoxOpen = true;
    const int result = GetBackend().RunDialog(dialog, edited);
    window.bModalBoxOpen = false;
    if (result != IDOK) return std::nullopt;
    record = edited;
    if (const std::string why = GlobalEqModelRefusal(edited); !why.empty()) {
      GetBackend().Beep(kBeepAsterisk);
      CommandMessageBox(window, why, "Input Error", MB_OK);
      continue;
    }
    const std::vector<std::string>& names = engine::EquilibriumModelNames();
    for (int k = 0; k < kGlobalEqModelCount; ++k)
      if (FieldChecked(edited, kIdGlobalEqModelFirst + k)) *name = names[static_cast<std::size_t>(k)];
    engine::EquilibriumModelSpec spec;
    std::string error;
    const int n = static_cast<int>(*NumberOf(FieldText(edited, kIdGlobalEqN)));
    const int m = static_cast<int>(*NumberOf(FieldText(edited, kIdGlobalEqM)));
    if (!engine::ParseEquilibriumModel(*name, n, &spec, &error, m)) {
      CommandMessageBox(window, error, "Input Error", MB_OK);
      continue;
    }
    if (spec.kind == engine::EquilibriumKind::kMonomerNmer) *name += " (n = " + std::to_string(n) + ")";
    if (spec.kind == engine::EquilibriumKind::kMonomerNmerMmer)
      *name += " (n = " + std::to_string(n) + ", m = " + std::to_string(m) + ")";
    return spec;
  }
}

int GlobalId(std::size_t k) { return kIdGlobalEqGlobalFirst + 2 * static_cast<int>(k); }
int LocalId(std::size_t k) { return kIdGlobalEqLocalFirst + 2 * static_cast<int>(k); }

bool IsAssociation(const engine::Problem& problem) {
  const auto* model = dynamic_cast<const engine::EquilibriumModel*>(problem.model.get());
  return model && model->spec().kind != engine::EquilibriumKind::kIdeal;
}

// An engine's sentence in the window's words: the batch's option is the dialog's
// switch here.
std::string InWindowWords(std::string text) {
  static const std::string option = "--conserve-mass", control = "\"conserve mass in each cell\"";
  for (std::size_t at = text.find(option); at != std::string::npos; at = text.find(option, at + control.size()))
    text.replace(at, option.size(), control);
  return text;
}

// The settings of the values beside the model's own that the record switches on: a
// value other than 0, or fitted, puts its term into the model; a value held at 0
// leaves it out. The record's fields have passed GlobalEqValuesRefusal.
engine::EquilibriumSettings OptionSettings(const engine::Problem& problem, const TransferBuffer& record) {
  engine::EquilibriumSettings settings;
  auto option = [&](const char* name, int id) {
    const double value = *NumberOf(FieldText(record, id), NumberWidth::kDouble);
    const bool floated = FieldChecked(record, id + 1);
    if (value == 0.0 && !floated) return;
    settings.set[name] = value;
    if (floated) settings.floated.push_back(name);
  };
  if (IsAssociation(problem)) option("incompetent", kIdGlobalEqIncompetent);
  option("B2", kIdGlobalEqB2);
  // The meniscus and bottom of each cell fitted from the experiment files' values.
  if (FieldChecked(record, kIdGlobalEqFloatMeniscus)) settings.floated.push_back("meniscus");
  if (FieldChecked(record, kIdGlobalEqFloatBottom)) settings.floated.push_back("bottom");
  return settings;
}

// The problem the values dialog's record asks for: the problem built with the
// values beside the model's own that it switches on (the problem as it is when none
// is), then the model's values of the record: a field left as it opened keeps its
// start to the last digit, a typed one replaces it, the "fit" box is the floated
// switch; a local field is empty (each set's start from its data) or one value for
// every set. With the mass conserved, the reference signals follow from the cells'
// loadings and their fields are not used. False, *error the engine's reason in the
// window's words, when the engine refuses the combination.
bool ProblemOfValues(const std::vector<engine::DataSet>& sets, const engine::EquilibriumModelSpec& spec,
                     const engine::Problem& problem, const TransferBuffer& opened, const TransferBuffer& record,
                     engine::Problem* out, std::string* error) {
  const engine::EquilibriumSettings settings = OptionSettings(problem, record);
  const bool conserve = FieldChecked(record, kIdGlobalEqConserveMass);
  engine::Problem built;
  if (settings.set.empty() && settings.floated.empty() && !conserve) {
    built = problem;
  } else if (!engine::BuildEquilibriumProblem(sets, spec, settings, FitThreads(), &built, error, conserve)) {
    *error = InWindowWords(*error);
    return false;
  }
  // The model's own globals come first in the same order, whatever joins them.
  for (std::size_t k = 0; k < problem.globals.size(); ++k) {
    engine::Parameter& g = built.globals[k];
    const std::string text = FieldText(record, GlobalId(k));
    if (text != FieldText(opened, GlobalId(k))) g.value = *NumberOf(text, NumberWidth::kDouble);
    g.floated = FieldChecked(record, GlobalId(k) + 1);
  }
  const std::size_t derived = conserve ? static_cast<std::size_t>(spec.Components()) : 0;
  for (std::size_t k = derived; k < problem.locals.front().size(); ++k) {
    const std::string text = FieldText(record, LocalId(k));
    const bool floated = FieldChecked(record, LocalId(k) + 1);
    for (std::vector<engine::Parameter>& list : built.locals) {
      if (!text.empty()) list[k].value = *NumberOf(text, NumberWidth::kDouble);
      list[k].floated = floated;
    }
  }
  *out = std::move(built);
  return true;
}

// The values dialog: each global value with its start (from the data where the
// user gave none) and its "fit" box, the incompetent fraction (associations) and
// B2 held at 0, each local value empty (each data set starts from its own data)
// with its box, and "conserve mass in each cell" and the switches that fit each
// cell's meniscus and bottom off. A field the values refuse,
// or a combination the engine refuses, is named in a box and the dialog shown
// again as it was left. False on Cancel (the problem is unchanged).
bool AskValues(TXLAWindow& window, const std::vector<engine::DataSet>& sets, const engine::EquilibriumModelSpec& spec,
               engine::Problem& problem) {
  const std::vector<engine::Parameter>& locals = problem.locals.front();
  const DialogTemplate dialog = GlobalEqValuesTemplate(GlobalEqValueLabels(problem.globals),
                                                       GlobalEqValueLabels(locals), GlobalEqOptionRowsOf(problem));
  TransferBuffer record;
  for (std::size_t k = 0; k < problem.globals.size(); ++k) {
    SetFieldText(record, GlobalId(k), Num(problem.globals[k].value));
    SetFieldChecked(record, GlobalId(k) + 1, problem.globals[k].floated);
  }
  for (int id : {kIdGlobalEqIncompetent, kIdGlobalEqB2})
    if (dialog.Find(id)) {
      SetFieldText(record, id, "0");
      SetFieldChecked(record, id + 1, false);
    }
  for (std::size_t k = 0; k < locals.size(); ++k) {
    SetFieldText(record, LocalId(k), "");
    SetFieldChecked(record, LocalId(k) + 1, locals[k].floated);
  }
  SetFieldChecked(record, kIdGlobalEqConserveMass, false);
  SetFieldChecked(record, kIdGlobalEqFloatMeniscus, false);
  SetFieldChecked(record, kIdGlobalEqFloatBottom, false);
  const TransferBuffer opened = record;
  for (;;) {
    TransferBuffer edited = record;
    window.bModalBoxOpen = true;
    const int result = GetBackend().RunDialog(dialog, edited);
    window.bModalBoxOpen = false;
    if (result != IDOK) return false;
    record = edited;
    if (const std::string why = GlobalEqValuesRefusal(problem, edited); !why.empty()) {
      GetBackend().Beep(kBeepAsterisk);
      CommandMessageBox(window, why, "Input Error", MB_OK);
      continue;
    }
    engine::Problem asked;
    std::string error;
    if (!ProblemOfValues(sets, spec, problem, opened, record, &asked, &error)) {
      CommandMessageBox(window, "the global fit was refused:\n" + error, kCaption, MB_OK | MB_ICONEXCLAMATION);
      continue;
    }
    problem = std::move(asked);
    return true;
  }
}

// The fit with the program's progress display: the step and rmsd of each accepted
// step in the readout lines; a key stops the fit at its best point. The engine's
// questions are asked of the user.
engine::Summary FitWithProgress(TXLAWindow& window, const engine::Problem& problem) {
  engine::Options options;
  options.threads = FitThreads();
  options.progress = [&window](int step, double rmsd) {
    const std::string line = FormatText("global fit: step #%d, rmsd %.6g (any key stops)      ", step, rmsd);
    ReportProgress({ProgressKind::FitStep, line});
    ReportProgress({ProgressKind::BestRmsd, "", 0, 0, rmsd});
    LammWindowDisplay(window.GetHandle()).ShowText(10, 30, line);
    if (CheckKeyPress()) bUserAbort = true;
    return !bUserAbort;
  };
  options.answer = [&window](const EngineQuestion& question) {
    window.bFitInProgress = false;
    const bool yes = AskYesNo(window, question.text, kCaption);
    window.bFitInProgress = true;
    return yes ? engine::Answer::kYes : engine::Answer::kNo;
  };
  window.bFitInProgress = true;
  bUserAbort = false;
  engine::Summary summary;
  try {
    summary = engine::Solve(options, problem);
  } catch (...) {
    window.bFitInProgress = false;
    bUserAbort = false;
    throw;
  }
  window.bFitInProgress = false;
  bUserAbort = false;
  return summary;
}

CCurve* KeepCurve(const std::vector<double>& x, const std::vector<double>& y) {
  std::vector<float> xf(x.begin(), x.end()), yf(y.begin(), y.end());
  State().curves.push_back(
      std::make_unique<CCurve>(xf.data(), yf.data(), static_cast<std::uint32_t>(xf.size()), 0, 0));
  return State().curves.back().get();
}

// The two plots of the data set on show, placed where the data and residual plots
// of loaded scans stand.
void BuildViewPlots() {
  GlobalEqState& st = State();
  st.dataPlot.reset();
  st.residualPlot.reset();
  st.curves.clear();
  if (!st.analysis || st.analysis->summary.dataSets.empty()) return;
  const std::size_t d = static_cast<std::size_t>(nGlobalEqShownSet);
  const engine::DataSet& set = st.analysis->problem.dataSets[d];
  const engine::DataSetResult& r = st.analysis->summary.dataSets[d];
  std::vector<double> residual(r.points);
  for (std::size_t i = 0; i < r.points; ++i) residual[i] = r.data[i] - r.fit[i];
  const DataPlotsState& area = DataPlots();

  st.dataPlot = std::make_unique<CWINPlot>();
  st.dataPlot->SetPlotRect(area.nPlotAreaTop, area.nPlotAreaLeft, area.nDataPlotBottom, area.nPlotAreaRight);
  st.dataPlot->SetXAxisLabel("radius (cm)");
  st.dataPlot->SetYAxisLabel("signal");
  const std::string title =
      FormatText("%s: cell %d, %.0f nm, %.0f rpm, rmsd %.4g (data set %d of %d, PgUp/PgDn)",
                 std::filesystem::path(set.source).filename().string().c_str(), set.cell, set.wavelength,
                 set.rpm, r.rmsd, nGlobalEqShownSet + 1, nGlobalEqSets);
  st.dataPlot->SetTitle(title.c_str());
  st.dataPlot->AddCurves({KeepCurve(r.radius, r.data), KeepCurve(r.radius, r.fit)});
  st.dataPlot->SetCurveStyle(0, 6);
  st.dataPlot->SetCurveColor(0, RGB(0, 0, 200));
  st.dataPlot->SetCurveStyle(1, -1);
  st.dataPlot->SetCurveColor(1, RGB(220, 0, 0));
  st.dataPlot->Redraw();

  st.residualPlot = std::make_unique<CWINPlot>();
  st.residualPlot->SetPlotRect(area.nResidualPlotTop, area.nPlotAreaLeft, area.nPlotAreaBottom, area.nPlotAreaRight);
  st.residualPlot->SetXAxisLabel("radius (cm)");
  st.residualPlot->SetYAxisLabel("residuals");
  st.residualPlot->AddCurve(KeepCurve(r.radius, residual));
  st.residualPlot->SetCurveStyle(0, 6);
  st.residualPlot->SetCurveColor(0, RGB(0, 0, 200));
  st.residualPlot->Redraw();
}

std::string Line(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + f;
  return line + "\n";
}

}  // namespace

const GlobalEqWindowAnalysis* ShownGlobalEqAnalysis() { return State().analysis.get(); }

std::vector<std::string> GlobalEqValueLabels(const std::vector<engine::Parameter>& values) {
  std::vector<std::string> labels;
  for (const engine::Parameter& v : values) labels.push_back(v.unit.empty() ? v.name : v.name + " (" + v.unit + ")");
  return labels;
}

GlobalEqOptionRows GlobalEqOptionRowsOf(const engine::Problem& problem) {
  GlobalEqOptionRows rows;
  if (IsAssociation(problem)) rows.incompetent = "incompetent (fraction)";
  rows.virial = "B2 (mol ml/g^2)";
  rows.conserveMass = true;
  rows.floatColumn = true;
  return rows;
}

std::string GlobalEqModelRefusal(const TransferBuffer& record) {
  int chosen = 0;
  for (int k = 0; k < kGlobalEqModelCount; ++k) chosen += FieldChecked(record, kIdGlobalEqModelFirst + k);
  if (chosen != 1) return "choose one model";
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kGlobalEqModelDialogId));
  for (const auto& [id, name] : {std::pair{kIdGlobalEqN, "n"}, std::pair{kIdGlobalEqM, "m"}}) {
    const std::string label = "\"" + std::string(ControlLabel(dialog, id)) + "\"";
    if (std::string why = FieldRefusal(record, id, NamedAs(label.c_str(), engine::QuantityOfEquilibriumValue(name)));
        !why.empty())
      return why;
  }
  return "";
}

std::string GlobalEqValuesRefusal(const engine::Problem& problem, const TransferBuffer& record) {
  // The quantity of the value, within the bounds the engine keeps it in.
  auto refusal = [&record](int id, const engine::Parameter& p, const std::string& label) {
    const Quantity& q = engine::QuantityOfEquilibriumValue(p.name);
    const std::string name = "\"" + label + "\"";
    const Quantity within{name.c_str(), q.unit,
                          Closed(std::max(q.range.low, p.lower), std::min(q.range.high, p.upper))};
    return FieldRefusal(record, id, within);
  };
  const std::vector<std::string> globals = GlobalEqValueLabels(problem.globals);
  for (std::size_t k = 0; k < problem.globals.size(); ++k)
    if (std::string why = refusal(GlobalId(k), problem.globals[k], globals[k]); !why.empty()) return why;
  // The values beside the model's own, within the range the batch's --set takes.
  const GlobalEqOptionRows options = GlobalEqOptionRowsOf(problem);
  for (const auto& [id, name, label] : {std::tuple{kIdGlobalEqIncompetent, "incompetent", options.incompetent},
                                        std::tuple{kIdGlobalEqB2, "B2", options.virial}}) {
    if (label.empty()) continue;
    const std::string quoted = "\"" + label + "\"";
    if (std::string why = FieldRefusal(record, id, NamedAs(quoted.c_str(), engine::QuantityOfEquilibriumValue(name)));
        !why.empty())
      return why;
  }
  if (problem.locals.empty()) return "";
  const std::vector<std::string> locals = GlobalEqValueLabels(problem.locals.front());
  for (std::size_t k = 0; k < problem.locals.front().size(); ++k) {
    if (FieldText(record, LocalId(k)).find_first_not_of(' ') == std::string::npos) continue;
    if (std::string why = refusal(LocalId(k), problem.locals.front()[k], locals[k]); !why.empty()) return why;
  }
  return "";
}

std::string GlobalEqParametersText(const std::string& model, const engine::Problem& problem,
                                   const engine::Summary& s) {
  std::string flags;
  for (const std::string& f : s.flags) flags += (flags.empty() ? "" : ", ") + f;
  std::string t = FormatText("global equilibrium analysis: %s, %zu data sets, %zu points\n", model.c_str(),
                             problem.dataSets.size(), s.points);
  t += FormatText("status: %s%s, rmsd %s, flags: %s\n", engine::StatusName(s.status),
                  s.status == engine::Status::kStopped ? " (at the best point of the fit when stopped)" : "",
                  Num(s.rmsd).c_str(), flags.empty() ? "none" : flags.c_str());
  t += Line({"parameter", "value", "error", "lower 95%", "upper 95%", "unit", "fitted"});
  for (const engine::ValueResult& v : s.globals) {
    const bool limits = v.floated && v.limitsFound;
    t += Line({v.name, Num(v.value), v.floated ? Num(v.error) : "", limits ? Num(v.lower95) : "",
               limits ? Num(v.upper95) : "", v.unit, v.floated ? "yes" : "no"});
  }
  std::vector<std::string> head = {"scan file", "cell", "wavelength nm", "speed rpm", "rmsd"};
  if (!s.locals.empty())
    for (const engine::ValueResult& v : s.locals.front()) {
      head.push_back(v.name + (v.unit.empty() ? "" : " (" + v.unit + ")"));
      head.push_back(v.name + " error");
    }
  std::string headLine;
  for (const std::string& h : head) headLine += (headLine.empty() ? "" : "\t") + h;
  t += headLine + "\n";
  for (std::size_t d = 0; d < problem.dataSets.size() && d < s.dataSets.size(); ++d) {
    const engine::DataSet& set = problem.dataSets[d];
    std::string row = std::filesystem::path(set.source).filename().string() + "\t" + std::to_string(set.cell) +
                      "\t" + Num(set.wavelength) + "\t" + Num(set.rpm) + "\t" + Num(s.dataSets[d].rmsd);
    for (const engine::ValueResult& v : s.locals[d]) row += "\t" + Num(v.value) + "\t" + (v.floated ? Num(v.error) : "");
    t += row + "\n";
  }
  for (const engine::Note& n : s.notes) t += "note " + n.id + ": " + n.text + "\n";
  return t;
}

std::vector<const MetaFile*> GlobalEqViewPictures() {
  std::vector<const MetaFile*> pictures;
  for (CWINPlot* plot : {State().dataPlot.get(), State().residualPlot.get()})
    if (plot && plot->hPicture) pictures.push_back(plot->hPicture.get());
  return pictures;
}

void StepGlobalEqView(TXLAWindow& window, int step) {
  if (!bGlobalEqView || nGlobalEqSets < 1) return;
  const int shown = std::clamp(nGlobalEqShownSet + step, 0, nGlobalEqSets - 1);
  if (shown == nGlobalEqShownSet) return;
  nGlobalEqShownSet = shown;
  BuildViewPlots();
  window.RepaintMain();
}

void EndGlobalEqView(TXLAWindow& window) {
  bGlobalEqView = false;
  window.RepaintMain();
}

void ShowGlobalEqParameters(TXLAWindow& window) {
  const GlobalEqWindowAnalysis* a = ShownGlobalEqAnalysis();
  if (!a) return;
  CommandMessageBox(window, GlobalEqParametersText(a->model, a->problem, a->summary), kCaption,
                    MB_OK | MB_ICONINFORMATION);
}

void CopyGlobalEqParameters() {
  const GlobalEqWindowAnalysis* a = ShownGlobalEqAnalysis();
  if (a && HasBackend()) GetBackend().SetClipboardText(GlobalEqParametersText(a->model, a->problem, a->summary));
}

void ResetGlobalEqAnalysis() {
  State() = GlobalEqState();
  ResetGlobalEqView();
}

void TXLAWindow::CmGlobalEquilibriumAnalysis() {
  FileDialogOptions options;
  options.title = "select experiment files";
  options.filter = "experiment files (*.xp)|*.xp|all files|*.*";
  options.multiSelect = true;
  std::vector<std::string> files;
  {
    bFileDialogOpen = true;
    struct Closed {
      ~Closed() { bFileDialogOpen = false; }
    } closed;
    files = GetBackend().OpenFileDialog(options);
  }
  if (files.empty()) return;
  // Every file is read before anything is asked: a damaged one is refused with its
  // name and line.
  std::vector<engine::DataSet> sets;
  std::string error;
  if (!engine::ReadEquilibriumRun(files, &sets, &error)) {
    CommandMessageBox(*this, error, kCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  std::string model;
  const std::optional<engine::EquilibriumModelSpec> spec = AskModel(*this, &model);
  if (!spec) return;
  engine::Problem problem;
  if (!engine::BuildEquilibriumProblem(sets, *spec, {}, FitThreads(), &problem, &error)) {
    CommandMessageBox(*this, error, kCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (!AskValues(*this, sets, *spec, problem)) return;
  engine::Summary summary = FitWithProgress(*this, problem);
  // With the mass conserved, each set's reference signals are those of its cell's
  // loadings, not the held locals.
  engine::FillConservedReferenceSignals(problem, &summary);
  if (summary.status == engine::Status::kRefused) {
    std::string why;
    for (const engine::Note& n : summary.notes) why += n.text + "\n";
    CommandMessageBox(*this, "the global fit was refused:\n" + why, kCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  GlobalEqState& st = State();
  st.analysis = std::make_unique<GlobalEqWindowAnalysis>(
      GlobalEqWindowAnalysis{model, std::move(problem), std::move(summary)});
  bGlobalEqView = true;
  nGlobalEqShownSet = 0;
  nGlobalEqSets = static_cast<int>(st.analysis->problem.dataSets.size());
  BuildViewPlots();
  RepaintMain();
  ShowGlobalEqParameters(*this);
}

}  // namespace tarmic
