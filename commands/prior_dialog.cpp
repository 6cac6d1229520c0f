// The prior-probability dialog: fill, entry check, and the answer applied to the
// prior settings.
#include "commands/prior_dialog.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "distributions/distribution_models.h"
#include "distributions/distribution_prior.h"
#include "modelfit/transfer_fields.h"
#include "services/error_box.h"
#include "numerics/number_input.h"
#include "numerics/value_ranges.h"
#include "platform/backend.h"
#include "resources/dialogs.h"

namespace tarmic {

namespace {

constexpr int kFileText = 777;
constexpr int kUsePrior = 818;
constexpr int kFromFile = 819;
constexpr int kFromPeaks = 820;
constexpr int kLoadNewFile = 821;
constexpr int kGJTFile = 822;
constexpr int kFromDistribution = 823;
// File names from this length on are not shown (the text field holds 1000).
constexpr std::size_t kLongestShownName = 998;

int PeakBox(int k) { return 777 + k; }
int LocationEdit(int k) { return 787 + k; }
int WidthEdit(int k) { return 797 + k; }
int AmplitudeEdit(int k) { return 807 + k; }

enum class PriorSource { File, Peaks, Distribution };

// One peak row as read from the record.
struct PeakRow {
  double location = 0.0, width = -1.0, amplitude = 0.0;
};

double FieldNumber(const TransferBuffer& record, int id) {
  float v = 0.0f;
  return ParseFloatText(FieldText(record, id), &v) ? v : 0.0;
}

// The rows of the answer: a ticked row as typed, an unticked one empty; a row
// without positive amplitude is empty (width -1).
std::vector<PeakRow> ReadRows(const TransferBuffer& record) {
  std::vector<PeakRow> rows(kPriorPeaks + 1);
  for (int k = 1; k <= kPriorPeaks; ++k) {
    PeakRow& row = rows[static_cast<std::size_t>(k)];
    if (FieldChecked(record, PeakBox(k))) {
      row.location = FieldNumber(record, LocationEdit(k));
      row.width = FieldNumber(record, WidthEdit(k));
      row.amplitude = FieldNumber(record, AmplitudeEdit(k));
    }
    if (row.amplitude <= 0.0) row.width = -1.0;
  }
  return rows;
}

// A source radio button newly chosen switches an unused prior on.
bool PriorUsed(const TransferBuffer& record) {
  const bool anySource = FieldChecked(record, kFromFile) || FieldChecked(record, kFromPeaks) ||
                         FieldChecked(record, kFromDistribution);
  return FieldChecked(record, kUsePrior) || (!DistributionModels().bUsePrior && anySource);
}

// "From File" is also the source when none is chosen.
PriorSource Source(const TransferBuffer& record) {
  if (FieldChecked(record, kFromDistribution)) return PriorSource::Distribution;
  if (FieldChecked(record, kFromPeaks)) return PriorSource::Peaks;
  return PriorSource::File;
}

// The reason why the entries cannot be taken, or empty.
std::string EntryProblem(const TransferBuffer& record) {
  for (int k = 1; k <= kPriorPeaks; ++k) {
    // A ticked row's values are judged by their ranges, named by row; an unticked
    // row is emptied on OK and only needs numbers.
    if (FieldChecked(record, PeakBox(k))) {
      const std::pair<int, const Quantity*> fields[] = {
          {LocationEdit(k), &kPriorPeakLocation}, {WidthEdit(k), &kPriorPeakWidth}, {AmplitudeEdit(k), &kPriorPeakAmplitude}};
      for (const auto& [id, q] : fields) {
        const std::string name = "peak #" + std::to_string(k) + " " + q->name;
        if (std::string why = FieldRefusal(record, id, {name.c_str(), q->unit, q->range}); !why.empty()) return why;
      }
      continue;
    }
    if (!IsValidFloat(FieldText(record, LocationEdit(k))))
      return "peak #" + std::to_string(k) + ": the location must be a number";
    if (!IsValidFloat(FieldText(record, WidthEdit(k))))
      return "peak #" + std::to_string(k) + ": the width must be a number";
    if (!IsValidPositiveFloat(FieldText(record, AmplitudeEdit(k))))
      return "peak #" + std::to_string(k) + ": the amplitude must be a number not below 0";
  }
  if (!PriorUsed(record)) return {};
  switch (Source(record)) {
    case PriorSource::Peaks: {
      const PeakRow first = ReadRows(record)[1];
      if (first.location == 0.0 || first.width < 0.0)
        return "a prior from peaks needs peak #1: tick it and give a location other than 0 and an "
               "amplitude above 0";
      break;
    }
    case PriorSource::File:
      if (!FieldChecked(record, kLoadNewFile)) {
        if (DistributionPrior().szPriorFile.empty() && DistributionPrior().szLastPriorFile.empty())
          return "no prior file has been chosen yet: tick \"Load New Prior File\"";
      } else if (FieldChecked(record, kGJTFile)) {
        return "GJT boundary tables cannot be imported in this version: untick \"GJT file\"";
      }
      break;
    case PriorSource::Distribution:
      break;
  }
  return {};
}

// The open dialog of a new prior file; the path of a valid prior file, or nothing
// (cancelled, or the file reported as unusable).
std::optional<std::string> ChooseNewPriorFile() {
  FileDialogOptions options;
  options.title = "Select Prior Probability Data File";
  options.filter = "dat files (*.dat*)|*.dat*|All Files (*.*)|*.*|";
  options.defaultExt = "*";
  const std::vector<std::string> files = GetBackend().OpenFileDialog(options);
  if (files.empty() || files.front().empty()) return std::nullopt;
  PriorTable table;
  std::string error;
  if (!ReadPriorFile(files.front(), &table, &error)) {
    ShowError(error, false);
    return std::nullopt;
  }
  return files.front();
}

void StoreRows(const std::vector<PeakRow>& rows) {
  for (int k = 1; k <= kPriorPeaks; ++k) {
    const PeakRow& row = rows[static_cast<std::size_t>(k)];
    DistributionPrior().pPriorPeakLocation[k] = row.location;
    DistributionPrior().pPriorPeakWidth[k] = row.width;
    DistributionPrior().pPriorPeakAmplitude[k] = row.amplitude;
  }
}

int RunUntilValid(TransferBuffer& record) {
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kPriorParamsDialogId));
  for (;;) {
    const int result = GetBackend().RunDialog(dialog, record);
    if (result != IDOK || PriorParamsBoxCanClose(record)) return result;
  }
}

}  // namespace

void InitPriorParamsTransfer(TransferBuffer& record) {
  record.text.clear();
  record.checked.clear();
  for (const TransferControl& c : PriorDialogControls()) {
    if (c.kind == ControlKind::Edit)
      record.text[c.id] = std::string();
    else
      record.checked[c.id] = false;
  }
}

void FillPriorParamsTransfer(TransferBuffer& record) {
  SetFieldChecked(record, kUsePrior, DistributionModels().bUsePrior);
  const std::string& name = DistributionPrior().szPriorFile.empty() ? DistributionPrior().szLastPriorFile : DistributionPrior().szPriorFile;
  SetFieldText(record, kFileText,
               name.empty()                       ? "no filename selected"
               : name.size() > kLongestShownName ? "filename too long"
                                                  : name);
  SetFieldChecked(record, kGJTFile, false);
  SetFieldChecked(record, kLoadNewFile, false);
  const bool fromFile = !DistributionPrior().szPriorFile.empty();
  SetFieldChecked(record, kFromFile, DistributionModels().bUsePrior && fromFile);
  SetFieldChecked(record, kFromDistribution, DistributionModels().bUsePrior && !fromFile && DistributionPrior().bPriorFromDiscreteSpecies);
  SetFieldChecked(record, kFromPeaks, DistributionModels().bUsePrior && !fromFile && !DistributionPrior().bPriorFromDiscreteSpecies);

  bool shown = true;
  for (int k = 1; k <= kPriorPeaks; ++k) {
    if (DistributionPrior().pPriorPeakAmplitude[k] <= 0.0) DistributionPrior().pPriorPeakWidth[k] = -1.0;
    // Rows are shown from the top down to the first empty one.
    shown = shown && DistributionPrior().pPriorPeakWidth[k] >= 0.0;
    SetFieldChecked(record, PeakBox(k), shown);
    SetFieldValue(record, LocationEdit(k), "%.3f ", shown ? DistributionPrior().pPriorPeakLocation[k] : 0.0);
    SetFieldValue(record, WidthEdit(k), "%.3f ", shown ? DistributionPrior().pPriorPeakWidth[k] : 0.0);
    SetFieldValue(record, AmplitudeEdit(k), "%.3f ", shown ? DistributionPrior().pPriorPeakAmplitude[k] : 0.0);
  }
}

bool PriorParamsBoxCanClose(const TransferBuffer& record) {
  const std::string problem = EntryProblem(record);
  if (problem.empty()) return true;
  if (HasBackend()) {
    GetBackend().Beep(kBeepAsterisk);
    GetBackend().MessageBox(problem, "Input Error", MB_OK);
  }
  return false;
}

bool RunPriorParamsBox(Window* /*window*/, TransferBuffer& record,
                       const PriorDialogServices& services, bool* modalBoxOpen) {
  if (!HasBackend()) return false;
  FillPriorParamsTransfer(record);
  if (modalBoxOpen) *modalBoxOpen = true;
  const int result = RunUntilValid(record);
  if (modalBoxOpen) *modalBoxOpen = false;
  if (result != IDOK) return false;

  const bool use = PriorUsed(record);
  const PriorSource source = Source(record);
  // A new file is chosen before anything changes, so that giving it up changes
  // nothing.
  std::optional<std::string> newFile;
  if (use && source == PriorSource::File && FieldChecked(record, kLoadNewFile)) {
    if (modalBoxOpen) *modalBoxOpen = true;
    newFile = ChooseNewPriorFile();
    if (modalBoxOpen) *modalBoxOpen = false;
    if (!newFile) return false;
  }

  StoreRows(ReadRows(record));
  if (!use) {
    DistributionModels().bUsePrior = false;
    SwitchPriorFileOff();
    return true;
  }
  switch (source) {
    case PriorSource::Distribution:
      // The command sets the table prior and runs the analysis; when it cannot, it
      // says why and the prior stays as it was.
      if (services.selectPeaksFromDistribution) services.selectPeaksFromDistribution();
      return true;
    case PriorSource::Peaks:
      SwitchPriorFileOff();
      break;
    case PriorSource::File:
      if (newFile) {
        DistributionPrior().szPriorFile = DistributionPrior().szLastPriorFile = *newFile;
      } else {
        SwitchPriorFileOn();
      }
      break;
  }
  DistributionPrior().bPriorFromDiscreteSpecies = false;
  DistributionPrior().bPriorFromGJT = false;
  DistributionModels().bUsePrior = true;
  return true;
}

}  // namespace tarmic
