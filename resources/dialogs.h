// The program's dialog templates, as data: the model parameter dialog in its
// variants, one per model family, the dialog "Numerical Control of Lamm
// Equation Solution", the two templates of "Buffer Mismatch", "Tools For
// Fitting Fluorescence AUC data" and "Generate Prior Probability From Peaks".
//
// Every variant of the parameter dialog carries the controls 401-455 with the same
// transfer layout (the record is addressed by control id); a variant only chooses
// which of them it shows, how it labels them and where they stand. Controls that a
// variant does not show keep their values in the transfer record. Labels of edit
// fields are static texts (id kStaticControlId) placed before the field.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/resource_types.h"

namespace tarmic {

// Id of the static texts and group frames of the templates.
inline constexpr int kStaticControlId = -1;
// Template of the dialog "Numerical Control of Lamm Equation Solution".
inline constexpr int kLammParamsDialogId = 631;
// Template of the dialog "Inhomogeneous Solvent Parameters".
inline constexpr int kInhomSolventDialogId = 866;
// Templates of the dialog "Buffer Mismatch": buffer components by s and D, or (with
// the molar-mass parametrisation) by s and the buoyant molar mass Mb.
inline constexpr int kBufferSedDialogId = 572;
inline constexpr int kBufferSedMassDialogId = 575;
// Template of the dialog "Tools For Fitting Fluorescence AUC data".
inline constexpr int kFloToolsDialogId = 916;
// Template of the prior-probability dialog "Generate Prior Probability From Peaks".
inline constexpr int kPriorParamsDialogId = 776;

// Template of the model dialog of "Global Equilibrium Analysis...": the models as
// radio buttons kIdGlobalEqModelFirst.. (one group, in the order of their labels,
// each label the model's name, a colon and what it is), the n of the n-mer and the
// m of the m-mer.
inline constexpr int kGlobalEqModelDialogId = 931;
inline constexpr int kIdGlobalEqModelFirst = 940;
inline constexpr int kGlobalEqModelCount = 6;
inline constexpr int kIdGlobalEqN = 946;
inline constexpr int kIdGlobalEqM = 947;
// Template of its values dialog, made for the model's values: each global value
// (one for all data sets) a row of its value (edit kIdGlobalEqGlobalFirst + 2k)
// and its "fit" box (+ 1), each local value (each data set its own) the same from
// kIdGlobalEqLocalFirst. At most kGlobalEqMaxRows rows of each.
inline constexpr int kGlobalEqValuesDialogId = 932;
inline constexpr int kIdGlobalEqGlobalFirst = 950;
inline constexpr int kIdGlobalEqLocalFirst = 970;
inline constexpr int kGlobalEqMaxRows = 8;
// The values the model takes beside its own, at the end of the global rows: the
// incompetent fraction of the monomer (edit kIdGlobalEqIncompetent, its "fit" box
// + 1; associations only) and the second virial coefficient B2 (kIdGlobalEqB2,
// + 1); after the local rows the switch "conserve mass in each cell"
// (kIdGlobalEqConserveMass: one loading per cell instead of each data set's own
// reference signals), and the switches that fit one meniscus
// (kIdGlobalEqFloatMeniscus) and one bottom (kIdGlobalEqFloatBottom) per cell.
inline constexpr int kIdGlobalEqIncompetent = 990;
inline constexpr int kIdGlobalEqB2 = 992;
inline constexpr int kIdGlobalEqConserveMass = 994;
inline constexpr int kIdGlobalEqFloatMeniscus = 995;
inline constexpr int kIdGlobalEqFloatBottom = 996;
// The rows of those values a values dialog shows: a row's label (empty: no row).
struct GlobalEqOptionRows {
  std::string incompetent;
  std::string virial;
  bool conserveMass = false;
  bool floatColumn = false;  // the meniscus and bottom switches
};
// The values dialog for the labels of the global and local values (each label
// names the value and its unit) and the option rows; std::invalid_argument for
// more rows than there are ids.
DialogTemplate GlobalEqValuesTemplate(const std::vector<std::string>& globals,
                                      const std::vector<std::string>& locals,
                                      const GlobalEqOptionRows& options = {});

// The template of a dialog by its name, the resource id as text ("631", "320").
// An unknown name is a programming error: std::invalid_argument naming it.
const DialogTemplate& GetDialogTemplate(std::string_view name);
// The names of all templates: the dialogs' own and every variant of the model
// parameter dialog.
std::vector<std::string> DialogTemplateNames();

// A variant of the model parameter dialog; std::invalid_argument for an unknown id.
const DialogTemplate& GetParamsDialogTemplate(int templateId);
// The ids of all variants of the model parameter dialog.
const std::vector<int>& ParamsDialogTemplateIds();

// The controls of the model parameter dialog in transfer order, with the kind each
// has in the transfer record (a variant may show a check box as a radio button:
// both transfer one on/off state).
struct TransferControl {
  int id;
  ControlKind kind;
};
const std::vector<TransferControl>& ParamsDialogControls();
// The controls of the Lamm dialog in transfer order.
const std::vector<TransferControl>& LammDialogControls();
// The controls of the inhomogeneous-solvent dialog in transfer order.
const std::vector<TransferControl>& InhomSolventDialogControls();
// The controls of the buffer mismatch dialogs in transfer order (both templates).
const std::vector<TransferControl>& BufferDialogControls();
// The controls of the fluorescence tools dialog in transfer order.
const std::vector<TransferControl>& FloToolsDialogControls();
// The controls of the prior-probability dialog in transfer order: the file name
// (777), the ten peak boxes (778-787), their locations (788-797), widths (798-807)
// and amplitudes (808-817), "Use Prior" (818), the sources "From File" (819) and
// "From Gauss/Delta-Peaks" (820), "Load New Prior File" (821), "GJT file" (822)
// and the source "Select Peaks From Current Distribution" (823).
const std::vector<TransferControl>& PriorDialogControls();

// The label of a control in a template: the label of a check box, radio button or
// push button, or of an edit field the static text, check box or radio button
// placed right before it; empty when the control is absent or unlabelled.
std::string_view ControlLabel(const DialogTemplate& dialog, int id);

}  // namespace tarmic
