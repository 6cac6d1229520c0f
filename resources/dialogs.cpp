// The dialog templates: the variants of the model parameter dialog, the Lamm
// equation dialog 631, the buffer mismatch dialogs 572 and 575, the
// fluorescence tools dialog 916, the prior-probability dialog 776 and the two dialogs
// of the global equilibrium analysis (931, 932).
//
// A template is described as rows in columns: a row is an edit field with its
// label and an optional check box or radio button beside it, or a lone check box
// or radio button, or a static text. Positions follow from the place of a row:
// the upper part of a parameter dialog has one to four columns side by side, the
// lower part two (noise and geometry on the left, model and solver values on the
// right), and the buttons OK and Cancel close it.
#include "resources/dialogs.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/types.h"

namespace tarmic {

namespace {

// --- rows and their placement ---------------------------------------------------

struct Row {
  int edit = 0;              // edit field, 0 for none
  std::string label;         // label of the edit field, or the text of a static row
  int toggle = 0;            // check box or radio button, 0 for none
  std::string toggleLabel;
  bool radio = false;        // the toggle is shown as a radio button
  bool toggleFirst = false;  // the toggle stands left of the edit field (no label)
};

Row E(int edit, std::string label) { return Row{edit, std::move(label), 0, "", false, false}; }
Row EF(int edit, std::string label, int fit) { return Row{edit, std::move(label), fit, "fit", false, false}; }
Row ET(int edit, std::string label, int toggle, std::string toggleLabel) {
  return Row{edit, std::move(label), toggle, std::move(toggleLabel), false, false};
}
Row C(int toggle, std::string label) { return Row{0, "", toggle, std::move(label), false, false}; }
Row R(int toggle, std::string label) { return Row{0, "", toggle, std::move(label), true, false}; }
Row CE(int toggle, std::string label, int edit) { return Row{edit, "", toggle, std::move(label), false, true}; }
Row S(std::string text) { return Row{0, std::move(text), 0, "", false, false}; }

using Column = std::vector<Row>;

constexpr int kRowHeight = 14;
constexpr int kMargin = 8;

// Radio buttons that form one group in the transfer record share a number.
int RadioGroup(int id) {
  switch (id) {
    // The plot choices of c(s,ff0) (as radio buttons; 442, 445 and 446 are check
    // boxes in the other templates).
    case 429: case 430: case 442: case 445: case 446: return 1;
    case 447: case 448: return 2;
    case 450: case 451: return 3;
    case 620: case 621: return 4;
    case 622: case 624: case 625: return 5;
    case 840: case 844: return 7;
    case 863: case 847: return 8;
    case 850: return 9;
    case 819: case 820: case 823: return 10;
    case 940: case 941: case 942: case 943: case 944: return 11;
    default: return 6;
  }
}

DialogControl Control(int id, ControlKind kind, const std::string& label, int x, int y, int w, int h) {
  DialogControl c;
  c.id = id;
  c.kind = kind;
  c.label = label;
  c.x = x;
  c.y = y;
  c.width = w;
  c.height = h;
  if (kind == ControlKind::RadioButton) c.group = RadioGroup(id);
  return c;
}

void PlaceRow(DialogTemplate& t, const Row& row, int x, int y, int w) {
  const ControlKind toggleKind = row.radio ? ControlKind::RadioButton : ControlKind::CheckBox;
  if (row.edit != 0 && row.toggleFirst) {
    const int tw = w * 65 / 100;
    t.controls.push_back(Control(row.toggle, toggleKind, row.toggleLabel, x, y + 1, tw - 2, 10));
    t.controls.push_back(Control(row.edit, ControlKind::Edit, "", x + tw, y, w - tw, 12));
  } else if (row.edit != 0) {
    // The edit field gets the room of eight or more digits of a written value; a
    // check box beside it needs little more than its box and a short word.
    const int lw = row.toggle ? w * 32 / 100 : w * 55 / 100;
    const int ew = row.toggle ? w * 44 / 100 : w * 45 / 100;
    t.controls.push_back(Control(kStaticControlId, ControlKind::Static, row.label, x, y + 2, lw - 2, 10));
    t.controls.push_back(Control(row.edit, ControlKind::Edit, "", x + lw, y, ew - 2, 12));
    if (row.toggle)
      t.controls.push_back(
          Control(row.toggle, toggleKind, row.toggleLabel, x + lw + ew, y + 1, w - lw - ew, 10));
  } else if (row.toggle != 0) {
    t.controls.push_back(Control(row.toggle, toggleKind, row.toggleLabel, x, y + 1, w - 4, 10));
  } else {
    t.controls.push_back(Control(kStaticControlId, ControlKind::Static, row.label, x, y + 2, w - 4, 10));
  }
}

// Places a column of rows from y down; returns the y below it.
int PlaceColumn(DialogTemplate& t, const Column& rows, int x, int y, int w) {
  for (const Row& row : rows) {
    PlaceRow(t, row, x, y, w);
    y += kRowHeight;
  }
  return y;
}

void AddButtons(DialogTemplate& t, int y) {
  DialogControl ok = Control(IDOK, ControlKind::PushButton, "OK", t.width / 2 - 70, y, 60, 14);
  ok.isDefault = true;
  t.controls.push_back(ok);
  t.controls.push_back(Control(IDCANCEL, ControlKind::PushButton, "Cancel", t.width / 2 + 10, y, 60, 14));
  t.height = y + 14 + kMargin;
}

// --- the model parameter dialog -----------------------------------------------

struct ParamsVariant {
  int id;
  const char* title;
  std::vector<Column> upper;
  Column lowerLeft;
  Column lowerRight;
};

constexpr int kParamsWidth = 440;

DialogTemplate BuildParamsTemplate(const ParamsVariant& v) {
  DialogTemplate t;
  t.name = std::to_string(v.id);
  t.caption = v.title;
  t.width = kParamsWidth;
  const int inner = kParamsWidth - 2 * kMargin;
  int bottom = kMargin;
  if (!v.upper.empty()) {
    const int w = inner / static_cast<int>(v.upper.size());
    for (std::size_t c = 0; c < v.upper.size(); ++c)
      bottom = std::max(bottom, PlaceColumn(t, v.upper[c], kMargin + static_cast<int>(c) * w, kMargin, w));
  }
  const int lowerTop = bottom + kMargin;
  const int half = inner / 2;
  const int left = PlaceColumn(t, v.lowerLeft, kMargin, lowerTop, half);
  const int right = PlaceColumn(t, v.lowerRight, kMargin + half, lowerTop, half);
  AddButtons(t, std::max(left, right) + kMargin);
  return t;
}

// The block of species slot k (controls 401 + 7 (k - 1) onwards): included, then
// amplitude, second value and s, each with its fit box. A null label leaves the
// row out.
Column Species(int k, const char* included, const char* amplitude, const char* second, const char* s) {
  const int base = 401 + 7 * (k - 1);
  Column c;
  if (included) c.push_back(C(base, included));
  if (amplitude) c.push_back(EF(base + 4, amplitude, base + 1));
  if (second) c.push_back(EF(base + 5, second, base + 2));
  if (s) c.push_back(EF(base + 6, s, base + 3));
  return c;
}

// The first species gives the total loading ("c tot"); each further one its
// fraction of that total, which the model computation multiplies by it.
std::vector<Column> DiscreteSpecies(const char* second, const char* s = "s") {
  return {Species(1, "Component 1", "c tot", second, s), Species(2, "Component 2", "fraction", second, s),
          Species(3, "Component 3", "fraction", second, s), Species(4, "Comp. 4/Buffer", "fraction", second, s)};
}

// Species 4 holds the buffer component and is not edited.
std::vector<Column> DiscreteSpeciesWithBuffer(const char* second) {
  std::vector<Column> columns = DiscreteSpecies(second);
  columns[3] = {S("Comp. 4/Buffer"), S("buffer")};
  return columns;
}

Column Noise(const char* bottom = "bottom") {
  return {C(431, "fit TI noise"), C(455, "fit RI noise"), EF(433, "baseline", 432),
          EF(435, "meniscus", 434), EF(437, bottom, 436)};
}

Column BaselineOnly() { return {EF(433, "baseline", 432)}; }

Column Solver(const char* field440 = "max dc/c") {
  return {E(438, "tolerance (%)"), E(439, "Lamm grid size"), E(440, field440),
          E(443, "fixed time step"), C(441, "Claverie simulation"), C(444, "moving hat")};
}

Column With(Column c, std::initializer_list<Row> more) {
  c.insert(c.end(), more.begin(), more.end());
  return c;
}

// The grid of the continuous models.
Column Grid(const char* min, const char* max, bool gridSwitches = true) {
  Column c = {E(406, min), E(407, max), E(405, "resolution"), E(413, "confidence level (F-ratio)")};
  if (gridSwitches) {
    c.push_back(C(417, "s grid from file"));
    c.push_back(C(424, "log spaced s grid"));
  }
  return c;
}

Column Solvent(Row slot11) {
  return {E(420, "partial specific volume"), E(421, "buffer density"), E(426, "buffer viscosity (P)"),
          slot11};
}
Column Solvent() {
  return {E(420, "partial specific volume"), E(421, "buffer density"), E(426, "buffer viscosity (P)")};
}

Row FrictionalRatio() { return EF(419, "frictional ratio", 416); }

Column OneDiscrete(const char* second) {
  return {EF(412, second, 409), EF(414, "s discrete", 411)};
}

Column Lamella() { return {EF(428, "lamella width", 425)}; }

Column SizeShapeView() {
  return {S("plot:"), R(429, "s-ff0"), R(430, "s-M"), R(442, "s-R"), R(445, "s-D"), R(446, "M-ff0")};
}

Column Ff0Grid() { return {E(412, "f/f0 min"), E(414, "f/f0 max"), E(428, "f/f0 resolution")}; }

Column DlsOptions() {
  return {R(447, "integrate linear scale"), R(448, "or integrate log scale"),
          R(451, "equidistant log(1/tau) grid"), R(450, "equidistant 1/tau grid")};
}

constexpr const char* kNoninteracting = "noninteracting species model";
constexpr const char* kZone = "analytical zone centrifugation for non-interacting species";
constexpr const char* kMonomerDimer = "rapid monomer-dimer self-association";
constexpr const char* kMonomerTrimer = "rapid monomer-trimer self-association";
constexpr const char* kOneDiscrete = "Sedimentation Coefficient Distribution c(s) with 1 discrete component";

std::vector<ParamsVariant> MakeParamsVariants() {
  std::vector<ParamsVariant> v;
  // --- discrete species ---
  v.push_back({400, kNoninteracting, DiscreteSpecies("D"), Noise(), With(Solver(), {C(450, "c1 nonideal")})});
  v.push_back({573, kNoninteracting, DiscreteSpeciesWithBuffer("D"), Noise(),
               With(Solver(), {C(450, "c1 nonideal")})});
  v.push_back({306, kNoninteracting, DiscreteSpecies("M"), Noise(), Solver()});
  v.push_back({574, kNoninteracting, DiscreteSpeciesWithBuffer("M"), Noise(), Solver()});
  {
    std::vector<Column> zone = DiscreteSpecies("D");
    zone[3] = Lamella();
    v.push_back({317, kZone, zone, Noise(), Solver()});
    std::vector<Column> zoneM = DiscreteSpecies("M");
    zoneM[3] = With(Lamella(), {C(446, "invert band (buffer lamella over sample)")});
    v.push_back({316, kZone, zoneM, Noise(), Solver()});
  }
  v.push_back({322, "constant force in linear geometry (electrophoresis model) with v (um/sec)",
               DiscreteSpecies("D", "v"), Noise("length"), Solver()});
  v.push_back({339, "Discrete Stokes Radii",
               {Species(1, "Component 1", "I tot", "R", nullptr), Species(2, "Component 2", "fraction", "R", nullptr),
                Species(3, "Component 3", "fraction", "R", nullptr), Species(4, "Component 4", "fraction", "R", nullptr)},
               BaselineOnly(), {}});
  v.push_back({891, "Cumulant Analysis",
               {{EF(405, "I tot", 402), EF(406, "mu1/S^2 = Dz (F)", 403), EF(413, "mu2/S^4  (F^2)", 410),
                 EF(420, "mu3/S^6 (F^3)", 417)}},
               BaselineOnly(), {}});
  // --- self-association and non-ideal species ---
  auto oligomer = [](const std::string& second, const std::string& n) {
    return std::vector<Column>{{EF(406, "monomer " + second, 403), E(413, n + " " + second),
                                EF(407, "monomer s", 404), EF(414, n + " s", 411)},
                               {EF(420, "log10(K)", 417), EF(419, "loading", 416)}};
  };
  v.push_back({307, kMonomerDimer, oligomer("D", "dimer"), Noise(), Solver()});
  {
    std::vector<Column> md = oligomer("M", "dimer");
    md[1].push_back(ET(428, "log10(ks)", 425, "non-ideality log10(ks)"));
    v.push_back({308, kMonomerDimer, md, Noise(), Solver("signal per mg/ml")});
  }
  v.push_back({309, kMonomerTrimer, oligomer("D", "trimer"), Noise(), Solver()});
  v.push_back({310, kMonomerTrimer, oligomer("M", "trimer"), Noise(), Solver()});
  v.push_back({330, "Fit and Simulation Parameters for 1-4-8 rapid self-association",
               {{EF(406, "monomer M", 403), EF(407, "monomer s", 404), EF(414, "tetramer s", 411),
                 EF(428, "octamer s", 425)},
                {EF(420, "log10(K tetramer)", 417), EF(421, "log10(K octamer)", 418), EF(419, "loading", 416)}},
               Noise(), Solver()});
  v.push_back({331, "Fit and Simulation Parameters for 1-2-4 rapid self-association",
               {{EF(406, "monomer M", 403), EF(407, "monomer s", 404), EF(414, "dimer s", 411),
                 EF(428, "tetramer s", 425)},
                {EF(420, "log10(K dimer)", 417), EF(421, "log10(K tetramer)", 418), EF(419, "loading", 416)}},
               Noise(), Solver()});
  v.push_back({325, "Non-Ideal Sedimentation",
               {{EF(405, "loading", 402), EF(406, "D", 403), EF(407, "s", 404)},
                {EF(412, "log10(ks)", 409), EF(419, "log10(kd)", 416), C(410, "repulsive"),
                 C(411, "Polynomial s(c) and D(c)"), C(424, "CsCl s(c) and D(c) (molar)")}},
               Noise(), Solver("signal per mg/ml")});
  v.push_back({892,
               "Non-Ideal Sedimentation of Mulitple Species s=s0(1-ks*c), D0=D(1+kd*c) [no backdiffusion]",
               {{EF(405, "cload 1 (weight)", 402), EF(406, "D1", 403), EF(407, "s1", 404),
                 EF(412, "log10 (ks)", 409), EF(419, "log10 (kd)", 416), E(440, "(weight) signal per mg/ml")},
                {EF(443, "cload 2 (weight)", 442), EF(414, "s2", 411), EF(413, "D2", 418),
                 EF(420, "overlay concentration fract", 423)},
                {EF(426, "cload 3 (weight)", 422), EF(421, "s3", 445), EF(427, "D3", 415),
                 EF(428, "overlay concentration fract.", 446)},
                {EF(439, "at position", 401), EF(438, "overlay concentration fract", 408),
                 C(424, "with synthetic boundary")}},
               Noise(), {C(441, "Claverie simulation"), C(444, "moving hat")}});
  v.push_back({318, "A + B <--> AB",
               {Species(1, "A", "atot", "Ma", "sa"), Species(2, "B", "btot", "Mb", "sb"),
                Species(3, "AB", "ab(0)", "Mab", "sab"),
                {EF(427, "extico a", 424), EF(426, "extico b", 423), EF(428, "log(Ka)", 425)}},
               Noise(), Solver()});

  // --- continuous distributions, s grid ---
  v.push_back({320, "Continuous Sedimentation Coefficient Distribution c(s)",
               {Grid("s min", "s max"), Solvent(FrictionalRatio())}, Noise(), {}});
  v.push_back({326, "Analytical Zone Centrifugation Sedimentation Coefficient Distribution c(s)",
               {Grid("s min", "s max"), Solvent(FrictionalRatio())}, Noise(), Lamella()});
  v.push_back({336, "Continuous s Distribution c(s) with Prior D",
               {Grid("s min", "s max"), Solvent(EF(419, "D (1e-7 cm^2/s)", 416))}, Noise(), {}});
  v.push_back({332, "Continuous c(s) for linear rods",
               {Grid("s min", "s max"), Solvent(EF(419, "rod parameter", 416))}, Noise(), {}});
  v.push_back({337, kOneDiscrete, {Grid("s min", "s max"), Solvent(FrictionalRatio()), OneDiscrete("D discrete")},
               Noise(), {}});
  v.push_back({338, kOneDiscrete, {Grid("s min", "s max"), Solvent(FrictionalRatio()), OneDiscrete("M discrete")},
               Noise(), {}});
  v.push_back({588, kOneDiscrete, {Grid("s min", "s max"), Solvent(FrictionalRatio()), OneDiscrete("M discrete")},
               Noise(), {}});
  v.push_back({586, kOneDiscrete,
               {Grid("s min", "s max"), Solvent(FrictionalRatio()),
                With(OneDiscrete("M discrete"),
                     {ET(443, "log10(ks)", 410, "fit ks"), E(427, "log10(kD)"), E(440, "signal per mg/ml"),
                      C(442, "total concentration from data")})},
               Noise(), {}});
  v.push_back({604, "Continuous c(s) with fix f/f0 and floating vbar",
               {Grid("s min", "s max"),
                {E(420, "frictional ratio"), E(421, "buffer density"), E(426, "buffer viscosity (P)"),
                 EF(419, "partial specific volume", 416)}},
               Noise(), {}});
  v.push_back({605, "Continuous c(s) for worm-like chains",
               {Grid("s min", "s max"), Solvent(EF(419, "persistence length (nm)", 416)),
                {E(412, "cross section (nm^2)"), E(414, "monomer mass (Da)"), E(428, "hydration (g/g)")}},
               Noise(), {}});
  v.push_back({329, "Continuous c(s) with Conformational Change",
               {Grid("s min", "s max"), Solvent(FrictionalRatio()),
                {E(412, "M"), E(414, "s min of change"), E(428, "s max of change")}},
               Noise(), {}});
  {
    const Column bimodal = {E(412, "second f/f0"), E(414, "s min second f/f0"), E(428, "s max second f/f0")};
    v.push_back({340, "Continuous c(s) with Bimodal Frictional Ratio",
                 {Grid("s min", "s max"), Solvent(FrictionalRatio()), bimodal}, Noise(), {}});
    v.push_back({871, "Continuous c(s) with Bimodal Frictional Ratio and 1 Extra Discrete Species",
                 {Grid("s min", "s max"), Solvent(FrictionalRatio()), bimodal,
                  {EF(443, "M discrete", 445), EF(438, "s discrete", 418)}},
                 Noise(), {}});
  }
  v.push_back({873, "c(s) for ideal sedimentation with general scaling law s=Ks*M^bs",
               {Grid("s min", "s max"), Solvent(ET(419, "Ks", 416, "Ks")), {ET(428, "bs", 425, "calibrate")}},
               Noise(), {}});
  v.push_back({888, "c(M) for ideal sedimentation with general scaling law s=Ks*M^bs",
               {Grid("M min", "M max", false), Solvent(ET(419, "Ks", 416, "Ks")),
                {ET(428, "bs", 425, "calibrate"), C(409, "no diffusional deconvolution (i.e., ls-g*(s))")}},
               Noise(), {}});
  v.push_back({599, "Continuous c(s) with 1 discrete species",
               {Grid("s min", "s max"), Solvent(), Ff0Grid(), {EF(443, "M discrete", 411), EF(427, "s discrete", 416)}},
               Noise(), SizeShapeView()});
  v.push_back({596, "Continuous c(s,ff0)", {Grid("s min", "s max"), Solvent(), Ff0Grid()}, Noise(),
               SizeShapeView()});
  v.push_back({328, "Continuous c(v) for linear geometry (Electrophoretic Mobility Distribution)",
               {Grid("v min", "v max"), {E(420, "D (1e-7 cm^2/s)")}}, Noise(), {}});
  v.push_back({319, "least-squares g*(s)", {Grid("s min", "s max"), Solvent()}, Noise(), {}});
  v.push_back({323, "least-squares g*(s) for linear force (electrophoresis)", {Grid("v min", "v max")},
               Noise(), {}});
  v.push_back({327, "least-squares g*(s) for analytical zone centrifugation ", {Grid("s min", "s max"), Solvent()},
               Noise(), Lamella()});
  v.push_back({538, "least-squares g*(s) with 1 discrete component",
               {Grid("s min", "s max"), Solvent(), OneDiscrete("M discrete")}, Noise(), {}});
  v.push_back({324, "direct boundary van Holde-Weischet",
               {{E(406, "s min"), E(407, "s max"), E(405, "resolution")},
                {E(419, "number of fractions"), E(420, "number of scans"), C(416, "slide frame"),
                 C(442, "fit boundary fractions")}},
               Noise(), {}});
  // --- continuous distributions, M grid ---
  v.push_back({321, "Continuous Buoyant Mass Distribution c(Mb) with Prior D",
               {Grid("Mb min", "Mb max", false), {EF(419, "D (1e-7 cm^2/s)", 416)}}, Noise(), {}});
  v.push_back({311, "Continuous Molar Mass Distribution",
               {Grid("M min", "M max", false), Solvent(FrictionalRatio())}, Noise(), {}});
  // --- light scattering ---
  v.push_back({333, "Continuous Hydrodynamic Radius Distribution (for DLS)",
               {With(Grid("Rh min (nm)", "Rh max (nm)", false), {E(426, "buffer viscosity (P)")}), DlsOptions()},
               BaselineOnly(), {}});
  v.push_back({334, "Continuous Diffusion Coefficient Distribution (for DLS)",
               {With(Grid("D min (1e-7 cm^2/s)", "D max (1e-7 cm^2/s)", false), {E(426, "buffer viscosity (P)")}),
                DlsOptions()},
               BaselineOnly(), {}});
  v.push_back({335, "Time Course Rh-Distribution(t) (for DLS)",
               {With(Grid("Rh min (nm)", "Rh max (nm)", false),
                     {E(426, "buffer viscosity (P)"), E(419, "time interval (min)")}),
                DlsOptions()},
               BaselineOnly(), {}});
  return v;
}

struct ParamsTemplates {
  std::vector<int> ids;
  std::map<int, DialogTemplate> templates;
};

const ParamsTemplates& Params() {
  static const ParamsTemplates all = [] {
    ParamsTemplates p;
    for (const ParamsVariant& v : MakeParamsVariants()) {
      p.ids.push_back(v.id);
      p.templates.emplace(v.id, BuildParamsTemplate(v));
    }
    return p;
  }();
  return all;
}

// --- the Lamm equation dialog -------------------------------------------------

struct Section {
  const char* frame;  // group frame title, or null
  Column rows;
};

// Places sections one below the other in a column; returns the y below them.
int PlaceSections(DialogTemplate& t, const std::vector<Section>& sections, int x, int y, int w) {
  for (const Section& s : sections) {
    if (s.frame) {
      const int h = static_cast<int>(s.rows.size()) * kRowHeight + 16;
      t.controls.push_back(Control(kStaticControlId, ControlKind::GroupBox, s.frame, x, y, w, h));
      PlaceColumn(t, s.rows, x + 6, y + 12, w - 12);
      y += h + 6;
    } else {
      y = PlaceColumn(t, s.rows, x, y, w) + 6;
    }
  }
  return y;
}

DialogTemplate BuildLammTemplate() {
  DialogTemplate t;
  t.name = std::to_string(kLammParamsDialogId);
  t.caption = "Numerical Control of Lamm Equation Solution";
  t.width = 440;
  const int w = (t.width - 3 * kMargin) / 2;
  const std::vector<Section> left = {
      {"Finite Element Algorithm",
       {R(622, "automatic finite element algorithm"), E(612, "normalized s for automatic change"),
        E(639, "when optimized"), R(624, "Claverie algorithm"), R(625, "moving hat algorithm"),
        CE(626, "automatic s_grid", 627)}},
      {"Finite Element Spatial Discretization",
       {C(615, "automatic dynamic grid size"), E(616, "default FE grid size"), E(617, "points per sigma"),
        E(619, "upper limit "), E(618, "lower limit"), C(640, "optimize time-invariant grid spacing"),
        CE(641, "dynamically truncate grid", 643)}},
  };
  const std::vector<Section> right = {
      {"Temporal Discretization",
       {R(620, "times from wwt"), R(621, "ramp rotor speed"), C(924, "check acceleration"),
        C(623, "fix timestep"), E(629, "max dc/c")}},
      {"Backdiffusion", {C(613, "shut off back-diffusion"), E(614, "level")}},
      {"Account for Finite Resolution in ABS",
       {C(832, "simulate time resolution"), E(835, "scan velocity (cm/min)"),
        C(833, "simulate radial resolution"), E(834, "radial range of convolution (cm)")}},
      {nullptr, {C(630, "Experimental Initial Distribution"), E(628, "Tolerance")}},
  };
  const int yl = PlaceSections(t, left, kMargin, kMargin, w);
  const int yr = PlaceSections(t, right, 2 * kMargin + w, kMargin, w);
  AddButtons(t, std::max(yl, yr) + 2);
  return t;
}

const DialogTemplate& LammTemplate() {
  static const DialogTemplate t = BuildLammTemplate();
  return t;
}

DialogTemplate BuildInhomSolventTemplate() {
  DialogTemplate t;
  t.name = std::to_string(kInhomSolventDialogId);
  t.caption = "Inhomogeneous Solvent Parameters";
  t.width = 440;
  const int w = (t.width - 3 * kMargin) / 2;
  const std::vector<Section> left = {
      {nullptr,
       {C(857, "Use Inhomogeneous Solvent Model"), E(838, "vbar (macromolecule)"),
        C(839, "fit vbar (requires strong density gradients)")}},
      {"Static Gradient",
       {R(840, "compressible solvent (static gradient)"), E(841, "compressibility [1e-4/MPa]"),
        E(842, "buffer density at 1 atm [g/ml]"), E(843, "buffer viscosity at 1 atm [Poise]")}},
      {"Ideal Cosolute",
       {R(863, "ideally sedimenting cosolute"), E(864, "apparent s [S]"),
        E(865, "apparent D [1e-7 cm^2/sec]")}},
      {"Nonideal Cosolute",
       {R(847, "nonideal cosolute"), C(858, "Load New Nonideal D(c) File"), E(848, ""),
        C(859, "Load New Nonideal s(c) File"), E(849, ""),
        R(850, "CsCl at 25C (s and D of CsCl in water at 25 C from literature tables)")}},
  };
  const std::vector<Section> right = {
      {"Dynamic Gradient",
       {R(844, "sedimenting cosolute (dynamic gradient)"),
        E(845, "vbar (macromolecule including solvation)"),
        E(846, "cosolute loading concentration [M]"), E(851, "radial grid size"),
        C(852, "plot cosolute data"), C(853, "save cosolute data in "), E(862, ""),
        E(854, "density(c) coefficients [g/ml], (c in [M])"), C(860, "Load New DENSITY(c) File"),
        E(855, "viscosity(c) coefficients [Poise], (c in [M])"),
        C(861, "Load New VISCOSITY(c) File"), C(856, "add H2O compressibility")}},
  };
  const int yl = PlaceSections(t, left, kMargin, kMargin, w);
  const int yr = PlaceSections(t, right, 2 * kMargin + w, kMargin, w);
  AddButtons(t, std::max(yl, yr) + 2);
  return t;
}

const DialogTemplate& InhomSolventTemplate() {
  static const DialogTemplate t = BuildInhomSolventTemplate();
  return t;
}

// --- the buffer mismatch dialog ------------------------------------------------

// The edits stand right of the check boxes that label them (the check box floats
// the value in the fits).
DialogTemplate BuildBufferTemplate(bool massParametrisation) {
  const bool m = massParametrisation;
  DialogTemplate t;
  t.name = std::to_string(m ? kBufferSedMassDialogId : kBufferSedDialogId);
  t.caption = "Buffer Mismatch";
  t.width = 240;
  const std::vector<Section> sections = {
      {nullptr, {C(553, "turn on buffer mismatch model")}},
      {"Sample Side",
       {CE(557, m ? "buffer Mb (sample side)" : "buffer D (sample side)", 556),
        CE(559, "buffer s (sample side)", 558), CE(561, "buffer signal", 560)}},
      {"Meniscus",
       {C(562, "with meniscus mismatch"),
        CE(564, m ? "meniscus difference (s-r)" : "float meniscus difference (s-r)", 563),
        CE(566, "relative concentration s/r", 565)}},
      {"Reference Side",
       {C(567, "different buffer in reference"), CE(569, m ? "reference Mb" : "reference D", 568),
        CE(571, "reference s", 570)}},
  };
  AddButtons(t, PlaceSections(t, sections, kMargin, kMargin, t.width - 2 * kMargin) + 2);
  return t;
}

const DialogTemplate& BufferTemplate(bool massParametrisation) {
  static const DialogTemplate d = BuildBufferTemplate(false);
  static const DialogTemplate mass = BuildBufferTemplate(true);
  return massParametrisation ? mass : d;
}

// --- the fluorescence tools dialog ---------------------------------------------

// One frame per correction; each value has its "fit" box beside it.
DialogTemplate BuildFloToolsTemplate() {
  DialogTemplate t;
  t.name = std::to_string(kFloToolsDialogId);
  t.caption = "Tools For Fitting Fluorescence AUC data";
  t.width = 260;
  const std::vector<Section> sections = {
      {"Signal Amplitude Change With Radius",
       {C(615, "with radial magnification gradient"), EF(612, "1+da/dr", 613)}},
      {"Signal Amplitude Change With Time",
       {C(621, "with temporal magnification drift"), EF(614, "% per h", 620), C(835, "exponential")}},
      {"Signal Excitation Shadow", {C(623, "with excitation shadow"), EF(616, "cone radius (cm)", 622)}},
      {"Signal Radial Convolution",
       {C(625, "with radial convolution from detection cone"), EF(617, "width (cm)", 624),
        E(619, "calculate Gaussian within # std")}},
      {"Nonlinear Detection",
       {C(626, "with nonlinear detection"), EF(618, "power coefficient d(log(a))/dc", 630),
        E(627, "baseline for tranform"), C(640, "show transformed")}},
  };
  AddButtons(t, PlaceSections(t, sections, kMargin, kMargin, t.width - 2 * kMargin) + 2);
  return t;
}

const DialogTemplate& FloToolsTemplate() {
  static const DialogTemplate t = BuildFloToolsTemplate();
  return t;
}

// --- the prior-probability dialog ----------------------------------------------

// The file name in use above a table of ten peak rows (box, location, width,
// amplitude) under column headings, then the switch and the sources.
DialogTemplate BuildPriorTemplate() {
  DialogTemplate t;
  t.name = std::to_string(kPriorParamsDialogId);
  t.caption = "Generate Prior Probability From Peaks";
  t.width = 330;
  const int w = t.width - 2 * kMargin;
  t.controls.push_back(Control(777, ControlKind::Edit, "", kMargin, kMargin, w, 24));
  int y = kMargin + 30;
  const int columns[3] = {80, 162, 244};
  const char* headings[3] = {"Location (S)", "Width (S)\n(>= 0)", "Amplitude \n(0.01 - 100)"};
  for (int c = 0; c < 3; ++c)
    t.controls.push_back(Control(kStaticControlId, ControlKind::Static, headings[c], columns[c], y, 78, 18));
  y += 22;
  for (int k = 1; k <= 10; ++k) {
    t.controls.push_back(Control(777 + k, ControlKind::CheckBox, "peak #" + std::to_string(k), kMargin, y + 1, 66, 10));
    for (int c = 0; c < 3; ++c)
      t.controls.push_back(Control(787 + 10 * c + k, ControlKind::Edit, "", columns[c], y, 74, 12));
    y += kRowHeight;
  }
  y += 6;
  y = PlaceColumn(t,
                  {C(818, "Use Prior"), R(819, "From File"), C(821, "Load New Prior File"),
                   C(822, "GJT file"), R(820, "From Gauss/Delta-Peaks")},
                  kMargin, y, w);
  t.controls.push_back(Control(823, ControlKind::RadioButton,
                               "Select Peaks From Current Distribution (assuming pure species)\n"
                               "(control-X, same as separate menu function)",
                               kMargin, y + 1, w, 20));
  AddButtons(t, y + 28);
  return t;
}

const DialogTemplate& PriorTemplate() {
  static const DialogTemplate t = BuildPriorTemplate();
  return t;
}

// --- the global equilibrium analysis -------------------------------------------

// An empty template of the id, caption and width.
DialogTemplate EmptyTemplate(int id, std::string caption, int width) {
  DialogTemplate t;
  t.name = std::to_string(id);
  t.caption = std::move(caption);
  t.width = width;
  return t;
}

DialogTemplate BuildGlobalEqModelTemplate() {
  DialogTemplate t = EmptyTemplate(kGlobalEqModelDialogId, "Global Equilibrium Analysis", 260);
  const int w = t.width - 2 * kMargin;
  const int first = kIdGlobalEqModelFirst;
  int y = PlaceColumn(t,
                      {S("model of the experiment files' data sets:"), R(first, "ideal1: one ideal species"),
                       R(first + 1, "ideal2: two ideal species"), R(first + 2, "ideal3: three ideal species"),
                       R(first + 3, "monomer-nmer: monomer - n-mer association"),
                       R(first + 4, "monomer-nmer-mmer: monomer - n-mer - m-mer association"),
                       R(first + 5, "hetero-ab: A + B <-> AB"), E(kIdGlobalEqN, "n of the n-mer"),
                       E(kIdGlobalEqM, "m of the m-mer")},
                      kMargin, kMargin, w);
  y = PlaceColumn(t, {S("The values and their start from the data follow.")}, kMargin, y + 4, w);
  AddButtons(t, y + 6);
  return t;
}

const DialogTemplate& GlobalEqModelTemplate() {
  static const DialogTemplate t = BuildGlobalEqModelTemplate();
  return t;
}

std::vector<TransferControl> MakePriorControls() {
  std::vector<TransferControl> c = {{777, ControlKind::Edit}};
  for (int id = 778; id <= 787; ++id) c.push_back({id, ControlKind::CheckBox});
  for (int id = 788; id <= 817; ++id) c.push_back({id, ControlKind::Edit});
  c.push_back({818, ControlKind::CheckBox});
  c.push_back({819, ControlKind::RadioButton});
  c.push_back({820, ControlKind::RadioButton});
  c.push_back({821, ControlKind::CheckBox});
  c.push_back({822, ControlKind::CheckBox});
  c.push_back({823, ControlKind::RadioButton});
  return c;
}

std::vector<TransferControl> MakeFloToolsControls() {
  constexpr ControlKind e = ControlKind::Edit, c = ControlKind::CheckBox;
  return {{613, c}, {612, e}, {615, c}, {620, c}, {614, e}, {621, c}, {835, c},
          {622, c}, {616, e}, {623, c}, {624, c}, {617, e}, {619, e}, {625, c},
          {626, c}, {618, e}, {627, e}, {630, c}, {640, c}};
}

std::vector<TransferControl> MakeParamsControls() {
  std::vector<TransferControl> c;
  auto checks = [&c](int from, int to) {
    for (int id = from; id <= to; ++id) c.push_back({id, ControlKind::CheckBox});
  };
  auto edits = [&c](int from, int to) {
    for (int id = from; id <= to; ++id) c.push_back({id, ControlKind::Edit});
  };
  for (int k = 0; k < 4; ++k) {
    checks(401 + 7 * k, 404 + 7 * k);
    edits(405 + 7 * k, 407 + 7 * k);
  }
  c.push_back({429, ControlKind::RadioButton});
  c.push_back({430, ControlKind::RadioButton});
  checks(431, 431);
  checks(455, 455);
  checks(432, 432);
  edits(433, 433);
  checks(434, 434);
  edits(435, 435);
  checks(436, 436);
  edits(437, 440);
  checks(441, 442);
  edits(443, 443);
  checks(444, 454);
  return c;
}

std::vector<TransferControl> MakeLammControls() {
  return {{612, ControlKind::Edit},        {613, ControlKind::CheckBox},    {614, ControlKind::Edit},
          {615, ControlKind::CheckBox},    {616, ControlKind::Edit},        {617, ControlKind::Edit},
          {619, ControlKind::Edit},        {618, ControlKind::Edit},        {620, ControlKind::RadioButton},
          {621, ControlKind::RadioButton}, {924, ControlKind::CheckBox},    {622, ControlKind::RadioButton},
          {623, ControlKind::CheckBox},    {624, ControlKind::RadioButton}, {625, ControlKind::RadioButton},
          {626, ControlKind::CheckBox},    {627, ControlKind::Edit},        {628, ControlKind::Edit},
          {629, ControlKind::Edit},        {630, ControlKind::CheckBox},    {639, ControlKind::Edit},
          {640, ControlKind::CheckBox},    {641, ControlKind::CheckBox},    {643, ControlKind::Edit},
          {832, ControlKind::CheckBox},    {833, ControlKind::CheckBox},    {834, ControlKind::Edit},
          {835, ControlKind::Edit}};
}

std::vector<TransferControl> MakeInhomSolventControls() {
  std::vector<TransferControl> c;
  const auto add = [&c](std::initializer_list<int> ids, ControlKind kind) {
    for (int id : ids) c.push_back({id, kind});
  };
  add({857}, ControlKind::CheckBox);
  add({838}, ControlKind::Edit);
  add({839}, ControlKind::CheckBox);
  add({840}, ControlKind::RadioButton);
  add({841, 842, 843}, ControlKind::Edit);
  add({844}, ControlKind::RadioButton);
  add({845, 846}, ControlKind::Edit);
  add({863}, ControlKind::RadioButton);
  add({864, 865}, ControlKind::Edit);
  add({847}, ControlKind::RadioButton);
  add({848, 849}, ControlKind::Edit);
  add({850}, ControlKind::RadioButton);
  add({851}, ControlKind::Edit);
  add({852, 853}, ControlKind::CheckBox);
  add({854, 855}, ControlKind::Edit);
  add({856, 858, 859, 860, 861}, ControlKind::CheckBox);
  add({862}, ControlKind::Edit);
  return c;
}

std::vector<TransferControl> MakeBufferControls() {
  std::vector<TransferControl> c = {{553, ControlKind::CheckBox}};
  for (int id = 556; id <= 571; ++id) {
    const bool edit = id == 556 || id == 558 || id == 560 || id == 563 || id == 565 ||
                      id == 568 || id == 570;
    c.push_back({id, edit ? ControlKind::Edit : ControlKind::CheckBox});
  }
  return c;
}

}  // namespace

const std::vector<TransferControl>& InhomSolventDialogControls() {
  static const std::vector<TransferControl> controls = MakeInhomSolventControls();
  return controls;
}

const DialogTemplate& GetParamsDialogTemplate(int templateId) {
  const auto& all = Params().templates;
  auto it = all.find(templateId);
  if (it == all.end())
    throw std::invalid_argument("unknown parameter dialog template " + std::to_string(templateId));
  return it->second;
}

const std::vector<int>& ParamsDialogTemplateIds() { return Params().ids; }

// The values dialog in two columns, the global values on the left and the local
// values (with their shorter labels) on the right, so that the largest model's
// dialog fits a 1280 x 720 screen at scale 2 (640 x 360 logical pixels) without
// scrolling. A row is the value's label, its field and its "fit" box; the field
// has room for a value written with six digits and an exponent.
DialogTemplate GlobalEqValuesTemplate(const std::vector<std::string>& globals,
                                      const std::vector<std::string>& locals, const GlobalEqOptionRows& options) {
  if (globals.size() > static_cast<std::size_t>(kGlobalEqMaxRows) ||
      locals.size() > static_cast<std::size_t>(kGlobalEqMaxRows))
    throw std::invalid_argument("the values dialog holds at most " + std::to_string(kGlobalEqMaxRows) + " rows");
  constexpr int kLeftLabel = 80, kRightLabel = 50, kEdit = 54, kFit = 26;
  DialogTemplate t = EmptyTemplate(kGlobalEqValuesDialogId, "Global Equilibrium Analysis: Values",
                                   2 * kMargin + kLeftLabel + kRightLabel + 2 * (kEdit + kFit));
  auto place = [&t](const Column& rows, int x, int label) {
    int y = kMargin;
    for (const Row& row : rows) {
      if (row.edit == 0) {
        PlaceRow(t, row, x, y, label + kEdit + kFit);
      } else {
        t.controls.push_back(Control(kStaticControlId, ControlKind::Static, row.label, x, y + 2, label - 2, 10));
        t.controls.push_back(Control(row.edit, ControlKind::Edit, "", x + label, y, kEdit - 2, 12));
        t.controls.push_back(
            Control(row.toggle, ControlKind::CheckBox, row.toggleLabel, x + label + kEdit, y + 1, kFit, 10));
      }
      y += kRowHeight;
    }
    return y;
  };
  Column left = {S("global values (one for all data sets):")};
  for (std::size_t k = 0; k < globals.size(); ++k) {
    const int id = kIdGlobalEqGlobalFirst + 2 * static_cast<int>(k);
    left.push_back(EF(id, globals[k], id + 1));
  }
  if (!options.incompetent.empty())
    left.push_back(EF(kIdGlobalEqIncompetent, options.incompetent, kIdGlobalEqIncompetent + 1));
  if (!options.virial.empty()) left.push_back(EF(kIdGlobalEqB2, options.virial, kIdGlobalEqB2 + 1));
  Column right = {S("local values (per data set):")};
  for (std::size_t k = 0; k < locals.size(); ++k) {
    const int id = kIdGlobalEqLocalFirst + 2 * static_cast<int>(k);
    right.push_back(EF(id, locals[k], id + 1));
  }
  // One loading per cell instead of each data set's own reference signals.
  if (options.conserveMass) right.push_back(C(kIdGlobalEqConserveMass, "conserve mass in each cell"));
  // One meniscus and one bottom per cell, shared by its speeds.
  if (options.floatColumn) {
    right.push_back(C(kIdGlobalEqFloatMeniscus, "fit the meniscus of each cell"));
    right.push_back(C(kIdGlobalEqFloatBottom, "fit the bottom of each cell"));
  }
  // The global column first: the keyboard walks the controls in the template's order.
  const int leftBottom = place(left, kMargin, kLeftLabel);
  const int rightBottom = place(right, kMargin + kLeftLabel + kEdit + kFit, kRightLabel);
  Column below = {S("An empty local field: each data set starts from its own data.")};
  if (!options.incompetent.empty() || !options.virial.empty())
    below.push_back(S("A value held at 0 leaves its term out of the model."));
  AddButtons(t, PlaceColumn(t, below, kMargin, std::max(leftBottom, rightBottom) + 4, t.width - 2 * kMargin) + 6);
  return t;
}

const DialogTemplate& GetDialogTemplate(std::string_view name) {
  if (name == GlobalEqModelTemplate().name) return GlobalEqModelTemplate();
  if (name == LammTemplate().name) return LammTemplate();
  if (name == InhomSolventTemplate().name) return InhomSolventTemplate();
  if (name == FloToolsTemplate().name) return FloToolsTemplate();
  if (name == PriorTemplate().name) return PriorTemplate();
  for (bool mass : {false, true})
    if (name == BufferTemplate(mass).name) return BufferTemplate(mass);
  for (const auto& [id, t] : Params().templates)
    if (t.name == name) return t;
  throw std::invalid_argument("unknown dialog template " + std::string(name));
}

std::vector<std::string> DialogTemplateNames() {
  std::vector<std::string> names = {LammTemplate().name, InhomSolventTemplate().name, FloToolsTemplate().name,
                                    PriorTemplate().name, BufferTemplate(false).name, BufferTemplate(true).name,
                                    GlobalEqModelTemplate().name};
  for (const auto& [id, t] : Params().templates) names.push_back(t.name);
  return names;
}

const std::vector<TransferControl>& ParamsDialogControls() {
  static const std::vector<TransferControl> controls = MakeParamsControls();
  return controls;
}

const std::vector<TransferControl>& LammDialogControls() {
  static const std::vector<TransferControl> controls = MakeLammControls();
  return controls;
}

const std::vector<TransferControl>& BufferDialogControls() {
  static const std::vector<TransferControl> controls = MakeBufferControls();
  return controls;
}

const std::vector<TransferControl>& FloToolsDialogControls() {
  static const std::vector<TransferControl> controls = MakeFloToolsControls();
  return controls;
}

const std::vector<TransferControl>& PriorDialogControls() {
  static const std::vector<TransferControl> controls = MakePriorControls();
  return controls;
}

std::string_view ControlLabel(const DialogTemplate& dialog, int id) {
  for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
    const DialogControl& c = dialog.controls[i];
    if (c.id != id) continue;
    if (c.kind != ControlKind::Edit) return c.label;
    // An edit stands after its label, or after the switch in front of it.
    if (i > 0 && dialog.controls[i - 1].kind != ControlKind::Edit && dialog.controls[i - 1].kind != ControlKind::PushButton)
      return dialog.controls[i - 1].label;
    return {};
  }
  return {};
}

}  // namespace tarmic
