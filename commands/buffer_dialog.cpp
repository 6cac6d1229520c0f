#include "commands/buffer_dialog.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>

#include "modelfit/model_flags.h"
#include "modelfit/transfer_fields.h"
#include "text/number_token.h"
#include "numerics/value_ranges.h"
#include "platform/backend.h"
#include "propagators/buffer_sedimentation.h"
#include "resources/dialogs.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// R T at 20 deg C, erg/mol, when no scan gives the temperature.
constexpr double kRTAt20C = 8.314e7 * 293;

void Message(const char* text, const char* caption) {
  if (HasBackend()) GetBackend().MessageBox(text, caption, MB_OK);
}

// The number of an edit that passed the entry check, in double precision.
double Number(const TransferBuffer& r, int id) {
  return NumberOf(FieldText(r, id), NumberWidth::kDouble).value_or(0.0);
}

// D (1e-7 cm^2/s) of a buffer of s (S) and Mb (g/mol): s RT / Mb. An Mb of 0 is
// taken as 10 g/mol, the least the computation uses.
double DFromMb(double s, double Mb) {
  return std::fabs(s) * 1e-6 * DataSet().fRT / std::max(std::fabs(Mb), 10.0);
}
// Mb of a buffer of s and D; 0 when D is 0.
double MbFromD(double s, double D) { return D > 0 ? 1e-6 * s * DataSet().fRT / D : 0.0; }

void Apply(const TransferBuffer& r) {
  BufferSedSettings& b = BufferSedimentation().BufferSed;
  ModelFlags().bBufferSedCorrection = FieldChecked(r, 553);
  if (ModelFlags().bFitMAndS) {
    b.sampleMb = Number(r, 556);
    b.refMb = Number(r, 568);
  } else {
    b.sampleD = std::fabs(Number(r, 556));
    b.refD = std::fabs(Number(r, 568));
  }
  b.fitSampleD = FieldChecked(r, 557);
  b.sampleS = Number(r, 558);
  b.fitSampleS = FieldChecked(r, 559);
  const double v = Number(r, 560);
  b.excessInSample = v >= 0;
  b.excessInReference = !b.excessInSample;
  b.signalSign = v >= 0 ? 1.0 : -1.0;
  b.signal = std::fabs(v);
  b.fitSignal = FieldChecked(r, 561);
  BufferSedimentation().bMeniscusMismatch = FieldChecked(r, 562);
  MeniscusDifference() = Number(r, 563);
  b.fitMeniscusDifference = FieldChecked(r, 564);
  b.relativeConc = Number(r, 565);
  b.fitRelativeConc = FieldChecked(r, 566);
  b.differentReference = FieldChecked(r, 567);
  b.fitRefD = FieldChecked(r, 569);
  b.refS = Number(r, 570);
  b.fitRefS = FieldChecked(r, 571);
  if (!BufferSedimentation().bMeniscusMismatch) b.fitMeniscusDifference = b.fitRelativeConc = false;
  if (!b.differentReference) b.fitRefD = b.fitRefS = false;

  if (DataSet().nScans == 0) {
    DataSet().fRT = static_cast<float>(kRTAt20C);
    Message("assuming t = 20 'C", "");
  }
  if (ModelFlags().bFitMAndS) {
    b.sampleD = DFromMb(b.sampleS, b.sampleMb);
    b.refD = DFromMb(b.refS, b.refMb);
    // s takes the sign of Mb (a floating buffer has both negative).
    if ((b.sampleMb < 0 && b.sampleS > 0) || (b.sampleS < 0 && b.sampleMb > 0))
      b.sampleS = -b.sampleS;
  } else {
    b.sampleMb = MbFromD(b.sampleS, b.sampleD);
    b.refMb = MbFromD(b.refS, b.refD);
  }
  if (ModelFlags().bContiModel && !b.fitSignal && !(AnalysisSwitches().bFitTINoise && AnalysisSwitches().bFitRINoise)) {
    Message(
        "fixed buffer concentration in c(s) only implemented with TI and RI noise - floating c now",
        "Attention");
    b.fitSignal = true;
  }
}

}  // namespace

void InitBufferSedParamsTransfer(TransferBuffer& record) {
  record.text.clear();
  record.checked.clear();
  for (const TransferControl& c : BufferDialogControls()) {
    if (c.kind == ControlKind::Edit)
      record.text[c.id] = std::string();
    else
      record.checked[c.id] = false;
  }
}

void FillBufferSedTransfer(TransferBuffer& r) {
  const BufferSedSettings& b = BufferSedimentation().BufferSed;
  SetFieldChecked(r, 553, ModelFlags().bBufferSedCorrection);
  SetFieldValue(r, 556, "%.3f ", ModelFlags().bFitMAndS ? b.sampleMb : b.sampleD);
  SetFieldChecked(r, 557, b.fitSampleD);
  SetFieldValue(r, 558, "%.4f ", b.sampleS);
  SetFieldChecked(r, 559, b.fitSampleS);
  SetFieldValue(r, 560, "%.3f ", b.excessInSample ? b.signal : -b.signal);
  SetFieldChecked(r, 561, b.fitSignal);
  SetFieldChecked(r, 562, BufferSedimentation().bMeniscusMismatch);
  SetFieldValue(r, 563, "%.4f ", MeniscusDifference());
  SetFieldChecked(r, 564, b.fitMeniscusDifference);
  SetFieldValue(r, 565, "%.3f ", b.relativeConc);
  SetFieldChecked(r, 566, b.fitRelativeConc);
  SetFieldChecked(r, 567, b.differentReference);
  SetFieldValue(r, 568, "%.3f ", ModelFlags().bFitMAndS ? b.refMb : b.refD);
  SetFieldChecked(r, 569, b.fitRefD);
  SetFieldValue(r, 570, "%.4f ", b.refS);
  SetFieldChecked(r, 571, b.fitRefS);
}

std::string BufferSedFieldsRefusal(const TransferBuffer& record) {
  // The ranges of the parameter file's rows for these values (D, Mb and s of a
  // buffer component not negative), named as the dialog labels them.
  const std::span<const FileEntry> rows = ParameterFileEntries();
  auto row = [&](int entry) { return EntryOf(rows, entry).quantity.range; };
  const DialogTemplate& dialog =
      GetDialogTemplate(std::to_string(ModelFlags().bFitMAndS ? kBufferSedMassDialogId : kBufferSedDialogId));
  struct Field {
    int id;
    const char* unit;
    ValueRange range;
  };
  const Field fields[] = {
      {556, ModelFlags().bFitMAndS ? "g/mol" : "", row(ModelFlags().bFitMAndS ? 101 : 100)},
      {558, "S", row(102)},
      {560, "", row(103)},
      {563, "cm", row(105)},
      {565, "", row(106)},
      {568, ModelFlags().bFitMAndS ? "g/mol" : "", row(ModelFlags().bFitMAndS ? 109 : 108)},
      {570, "S", row(110)},
  };
  for (const Field& f : fields) {
    const std::string name = "\"" + std::string(ControlLabel(dialog, f.id)) + "\"";
    if (std::string why = FieldRefusal(record, f.id, {name.c_str(), f.unit, f.range}); !why.empty()) return why;
  }
  return std::string();
}

bool BufferSedBoxCanClose(const TransferBuffer& record) {
  const std::string refusal = BufferSedFieldsRefusal(record);
  if (refusal.empty()) return true;
  if (HasBackend()) {
    GetBackend().Beep(kBeepAsterisk);
    GetBackend().MessageBox(refusal, "Input Error", MB_OK);
  }
  return false;
}

bool RunBufferSedDialog(Window* /*window*/, TransferBuffer& record) {
  if (!HasBackend()) return false;
  FillBufferSedTransfer(record);
  const DialogTemplate& dialog =
      GetDialogTemplate(std::to_string(ModelFlags().bFitMAndS ? kBufferSedMassDialogId : kBufferSedDialogId));
  // The dialog works on a copy: Cancel leaves the record as filled.
  for (;;) {
    TransferBuffer edited = record;
    if (GetBackend().RunDialog(dialog, edited) != IDOK) return false;
    if (!BufferSedBoxCanClose(edited)) {
      record = edited;  // the dialog opens again with the texts typed
      continue;
    }
    record = edited;
    Apply(record);
    return true;
  }
}

}  // namespace tarmic
