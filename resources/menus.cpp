// The menus "MENU_VIREZ" and "MENU_1" and accelerator table 303.
//
// Both menus share their popups: "MENU_1" holds every command of "MENU_VIREZ" in the
// same popup, followed by its further commands. Each popup is built by one function
// that takes whether the full set is wanted. The accelerator hints shown after a tab
// are taken from accelerator table 303, so a menu never shows a key that does not work.
#include "resources/menus.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarmic {

namespace {

MenuItem Cmd(int id, std::string text) {
  MenuItem item;
  item.id = id;
  item.text = std::move(text);
  return item;
}

MenuItem Popup(std::string text, std::vector<MenuItem> children) {
  MenuItem item;
  item.text = std::move(text);
  item.popup = true;
  item.children = std::move(children);
  return item;
}

void Append(std::vector<MenuItem>& to, std::vector<MenuItem> more) {
  for (MenuItem& item : more) to.push_back(std::move(item));
}

AcceleratorTable MakeAcceleratorTable303() {
  constexpr unsigned kCtrl = MK_CONTROL;
  constexpr unsigned kAlt = MK_ALT;
  AcceleratorTable table;
  table.id = kAcceleratorTableId;
  table.entries = {
      {'A', kCtrl, 226}, {'B', kCtrl, 552}, {'D', kCtrl, 518}, {'C', kCtrl, 646},
      {'E', kCtrl, 579}, {'F', kCtrl, 215}, {'F', kAlt, 915},  {'G', kCtrl, 901},
      {'G', kAlt, 611},  {'I', kCtrl, 456}, {'L', kCtrl, 200}, {'M', kCtrl, 608},
      {'N', kCtrl, 519}, {'O', kCtrl, 517}, {'P', kCtrl, 212}, {'R', kCtrl, 213},
      {'S', kCtrl, 203}, {'U', kCtrl, 827}, {'X', kCtrl, 633}, {'W', kCtrl, 529},
      {'M', kAlt, 837},  {'I', kAlt, 542},
  };
  return table;
}

const AcceleratorTable& Table303() {
  static const AcceleratorTable table = MakeAcceleratorTable303();
  return table;
}

// --- popups -------------------------------------------------------------------

MenuItem DataPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(515, "load sedimentation equilibrium data"),
      Cmd(226, "Add More Files"),
      Cmd(203, "&Save Fit Data"),
      Cmd(827, "Update Saved Fit Parameters"),
      Popup("Save S&ystematic Noise", {Cmd(252, "save Noise in file"),
                                       Cmd(253, "subtract Noise from Eq Data")}),
      Cmd(271, "Save Continuous Distribution"),
  };
  if (full) {
    Append(items, {
        Cmd(200, "&Load New Files"),
        Cmd(202, "&Set Initial Data"),
        Cmd(828, "Change Cell (Same Selection)"),
        Cmd(298, "load DLS Data"),
        Cmd(540, "Realtime Update of Files"),
        Cmd(541, "Stop Realtime Update"),
        Cmd(201, "&Edit Data Files"),
        Cmd(577, "Export Data to QUENTAR"),
    });
  }
  // Exit stays the last item of the popup.
  items.push_back(Cmd(230, "Exit"));
  return Popup("&Data", std::move(items));
}

MenuItem CopyPopup(bool full) {
  return Popup("&Copy", {
      Cmd(204, "Copy &Fit Parameters"),
      Cmd(205, "Copy &Data Plot"),
      Cmd(206, "Copy &Residuals Plot"),
      Cmd(507, "Copy &Residuals Bitmap"),
      Cmd(273, "Copy Distribution Plot"),
      Cmd(646, "Copy Screenshot"),
      Cmd(258, "Copy &Data Table"),
      Cmd(259, "Copy &Fit Data Table"),
      Cmd(260, "Copy &Residuals Table"),
      Cmd(632, "Copy Prior Knowledge Table"),
      Cmd(262, "Copy &TI Noise Table"),
      Cmd(261, "Copy &RI Noise Table"),
      Cmd(274, "Copy Distribution"),
      Cmd(918, "Copy Ln(c) Data"),
      Cmd(919, "Copy M* Data"),
      Cmd(920, full ? "Copy Mavg Data" : "Copy Mwavg Data"),
  });
}

MenuItem DisplayPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(207, "Set Range"),
      Cmd(208, "Full Range"),
      Cmd(518, "Data Range"),
      Cmd(257, "Update"),
      Cmd(211, "Data Mark Size"),
      Cmd(232, "Show Data"),
      Cmd(209, "Show Residuals"),
      Cmd(504, "Show Residuals Bitmap"),
      Cmd(508, "Subtract Calculated TI Noise From Raw Data"),
      Cmd(509, "Subtract Calculated RI Noise From Raw Data"),
      Cmd(519, "Subtract All Systematic Noise From Raw Data"),
      Cmd(607, "Restore Original TI Noise to Data"),
      Cmd(457, "Rescale Distribution Plot"),
      Cmd(458, "Fullscale Distribution Plot"),
      Cmd(517, "Show Last Fit Info Again"),
  };
  if (full) {
    Append(items, {
        Cmd(537, "Show Temperature Plot"),
        Cmd(608, "Show Peak Mw in c(s)"),
    });
  }
  return Popup("D&isplay", std::move(items));
}

MenuItem ModelPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(198, "Non-Interacting Discrete Species"),
      Cmd(235, "Continuous c(M) Distribution"),
  };
  if (full) {
    Append(items, {
        Popup("Nonideal Sedimentation", {
            Cmd(227, "Single Species"),
            Cmd(893, "Multiple Species"),
        }),
        Popup("Continuous c(M) with other prior knowledge", {
            Cmd(277, "c(M) with invariant D"),
            Cmd(279, "c(M) with prior knowledge vbar(M)"),
            Cmd(887, "f(M) vs M (with scaling law)"),
        }),
        Cmd(275, "Continuous c(s) Distribution"),
        Popup("Continuous c(s) with other prior knowledge", {
            Cmd(514, "Continuous c(s) Conformational Change Model"),
            Cmd(526, "Continuous c(s) with invariant D"),
            Cmd(531, "Continuous c(s) with 1 discrete component"),
            Cmd(548, "Continuous c(s) with bimodal f/f0"),
            Cmd(870, "Continuous c(s) with bimodal f/f0 and 1 discrete component"),
            Cmd(602, "Continuous c(s) with fix f/f0 and floating vbar"),
            Cmd(603, "Continuous c(s) for wormlike chain"),
            Cmd(872, "Continuous c(s) with general scaling law"),
            Cmd(587, "Continuous c(s) with M(s) table"),
        }),
        Cmd(595, "Continuous c(s,ff0)"),
        Cmd(598, "Continuous c(s,ff0) with 1 discrete component"),
        Cmd(288, "ls-g*(s)"),
        Cmd(539, "ls-g*(s) with 1 discrete Lamm Eq. component"),
        Popup("Analytical Zone Centrifugation", {
            Cmd(246, "Analytical Zone Centrifugation indep. species"),
            Cmd(511, "Analytical Zone Centrifugation c(s)"),
            Cmd(510, "Analytical Zone Centrifugation ls-g*(s)"),
        }),
        Popup("Dynamic Light Scattering", {
            Cmd(536, "discrete Stokes Radii"),
            Cmd(890, "cumulant analysis"),
            Cmd(503, "DLS: Continuous I(Rh)-Distribution"),
            Cmd(502, "DLS: Continuous I(D)-Distribution"),
            Cmd(522, "Continuous I(Rh,t)-Time-Course"),
        }),
        Popup("Other Geometries", {
            Cmd(280, "linear Lamm Equation"),
            Cmd(281, "external loading cell"),
            Cmd(291, "Electrophoresis: Lamm equation for discrete species"),
            Cmd(501, "Electrophoresis: ls-g*(v)"),
            Cmd(513, "Electrophoresis: c(v) distribution with constant D"),
        }),
        Popup("Special", {
            Cmd(256, "&Sedimentation Time Offset"),
            Cmd(255, "&Fit t0 of sedimentation"),
            Cmd(266, "Fit &Time Dependent s,M (e.g. in Archibald analysis)"),
        }),
    });
  }
  return Popup("M&odel", std::move(items));
}

MenuItem GeneratePopup() {
  return Popup("&Generate", {Cmd(214, "Single"), Cmd(647, "Series")});
}

// The four commands that sit directly on the menu bar.
std::vector<MenuItem> MenuBarCommands() {
  return {
      Cmd(212, "&Parameters"),
      Cmd(896, "ZOZAV"),
      Cmd(213, "&Run"),
      Cmd(215, "&Fit"),
  };
}

MenuItem StatisticsPopup() {
  return Popup("Statistics", {
      Cmd(272, "calculate variance ratio (F-statistics)"),
      Cmd(296, "Monte-Carlo for Distributions"),
      Cmd(546, "Monte-Carlo for integrated weight-average s values"),
  });
}

MenuItem LoadingPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(247, "Don't Load Spikes"),
      Cmd(868, "Flag Too Strong Gradients"),
      Cmd(590, "set radial resolution"),
      Cmd(220, "Eliminate Interference Offset"),
      Cmd(287, "Remove Integral Fringe Jumps (within one scan)"),
      Cmd(264, "Eliminate Jitter"),
      Cmd(283, "Subtract Blank Scan"),
      Cmd(459, "Add or Subtract Simulated Sedimentation Data"),
      Cmd(551, "Add Noise to Data or Multiply Signals"),
      Cmd(634, "Subtract Constant Value from Scan"),
      Cmd(549, "Correct erroneous IF radial calibration"),
      Cmd(550, "Add Constant Time and w^2t to data"),
      Cmd(922, "Restore Time and w^2t Entries"),
      Cmd(917, "Average Scans"),
      Cmd(645, "Test Approach to Equilibrium"),
      Cmd(579, "Sort Eq Data to Disk"),
      Cmd(231, "Save &Intensity Data as Absorbance Data"),
      Cmd(289, "Save Intensity as 2 Pseudo Absorbance data sets"),
      Cmd(263, "Save Raw Data Set"),
      Cmd(524, "Save 6-channel Raw Data in 3 Subsets"),
      Cmd(581, "Exclude Region from Raw Data"),
      Cmd(591, "Exclude Worst Scan"),
      Cmd(535, "Invert Raw Data"),
  };
  if (!full) return Popup("Loading Options", std::move(items));
  Append(items, {
      Cmd(243, "Old Filename Convention"),
      Cmd(265, "Set n Columns"),
      Cmd(902, "check recorded elapsed time against file timestamp"),
      Cmd(886, "Mirror Image of Raw Data"),
      Cmd(219, "Set &Polynom Order for Initial Data"),
  });
  return Popup("Loading Options and Tools", std::move(items));
}

MenuItem FittingPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(217, "Fit &M and s"),
      Cmd(240, "Set fit limits for meniscus & bottom"),
      Cmd(826, "Simplex Algorithm"),
      Cmd(825, "Simulated Annealing"),
      Cmd(824, "Marquardt Levenberg"),
  };
  if (full) {
    Append(items, {
        Cmd(552, "Corrections for &Buffer Sedimentation"),
        Cmd(611, "Lamm Equation Parameters"),
        Cmd(592, "Change Fit Updating Preferences"),
        Cmd(593, "Serialize Fit by Cell or dir#"),
        Cmd(904, "Serialize Fit by list.* File"),
        Cmd(923, "Serialize Fit With GUSSI Monitoring"),
    });
  }
  return Popup("Fitting Options", std::move(items));
}

MenuItem SizeDistributionPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(460, "transfrom differential to integral distribution"),
      Cmd(294, "Regularization by 2nd derivative"),
      Cmd(295, "Regularization by Max Ent"),
      Cmd(642, "Show both regularizations"),
      Cmd(529, "Use Prior Probabilities"),
      Cmd(633, "Prior Knowledge of Discrete Species"),
      Cmd(456, "integrate distribution"),
      Cmd(648, "compute with multiple threads"),
      Cmd(829, "suppress baseline correlation in Max Ent"),
  };
  if (full) {
    Append(items, {
        Cmd(836, "transform s-distribution to s20w-distribution"),
        Cmd(525, "transform s-distribution to r-distribution"),
        Cmd(589, "transform c(s) to c(M)"),
        Cmd(644, "use c(s) integration ranges from file"),
        Cmd(533, "transform g(s*) (as ASCII) to direct boundary model"),
        Cmd(292, "van Holde - Weischet transform"),
        Cmd(293, "extrapolate area fractions of ls-g*(s) vs 1/sqrt(time)"),
    });
  }
  return Popup("Size-Distribution Options", std::move(items));
}

MenuItem DlsToolsPopup() {
  return Popup("DLS Tools", {
      Cmd(500, "save mean DLS Data in tarmic format"),
      Cmd(894, "always load intensity autocorrelation g(2)-1"),
      Cmd(898, "toggle intensity <-> field autocorrelation fct"),
      Popup("Convert DLS Data To TARMIC format", {
          Cmd(897, "Dynamics 7"),
          Cmd(584, "Protein Solutions 99, version 6.2.05"),
          Cmd(543, "Protein Solutions 99, version 5.26.38"),
          Cmd(299, "Protein Solutions 99, version 5.20.05"),
          Cmd(601, "Protein Solutions version 4"),
          Cmd(534, "ALV"),
          Cmd(527, "BIC 9kdlsw32.exe ver. 3.19"),
          Cmd(544, "old DOS BIC"),
          Cmd(583, "PhotoCor"),
          Cmd(532, "2 column ASCII data"),
          Cmd(600, "2 column ASCII g(2)-1"),
      }),
  });
}

MenuItem FluorescencePopup() {
  return Popup("Fluorescence Tools", {
      Cmd(903, "Sort Fluorescence Data To Disk"),
      Cmd(904, "Serialize Fit by list.* File"),
      Cmd(923, "Serialize Fit With GUSSI Monitoring"),
      Cmd(908, "Nonlinear Detection"),
      Cmd(907, "Signal Magnification Radial Gradient"),
      Cmd(910, "Signal Magnification Drift With Time"),
      Cmd(912, "Signal Radial Convolution"),
      Cmd(914, "Excitation Shadow at Bottom"),
  });
}

MenuItem EquilibriumPopup() {
  return Popup("Equilibrium Tools", {
      Cmd(874, "minimum time to equilibrium"),
      Cmd(875, "estimate equilibrium rotor speeds"),
  });
}

MenuItem CalculatorPopup() {
  return Popup("Calculator", {
      Cmd(582, "calculate s(20,w) from s(xp)"),
      Cmd(270, "calculate axial and frictional coefficient ratios"),
      Cmd(547, "calculate shapes from frictional ratio"),
      Cmd(276, "calculate s(M) for spherical particle"),
      Cmd(606, "calculate M(s) for spherical or asymmetric particle"),
      Cmd(831, "calculate Rh(s) for spherical particle"),
      Cmd(830, "calculate s(Rh) for spherical particle"),
      Cmd(876, "HYDROPRO calculation"),
      Cmd(885, "extract s-value from BEST/BEMINE output"),
      Cmd(530, "simulate non-interacting species with Faxen approximation"),
      Cmd(462, "calculate weight-average s by second moment integration"),
      Cmd(545, "calculate weight-average s by differential second moment integration"),
      Cmd(461, "calculate radial dilution"),
      Cmd(463, "calculate pressure"),
      Cmd(578, "calculate hydrodynamic friction force"),
      Cmd(889, "calculate ratio diffusional spread / differential sedimentation"),
      Cmd(895, "calculate vbar, dndc, and extinction280 from protein sequence"),
  });
}

MenuItem BitmapsPopup() {
  return Popup("Bitmaps + Colors", {
      Cmd(505, "black and white"),
      Cmd(506, "continuous shading"),
      Cmd(609, "scan color temperature from time"),
  });
}

MenuItem OptionsPopup(bool full) {
  if (!full) {
    return Popup("&Options", {
        Cmd(218, "Set &v*rho"),
        LoadingPopup(false),
        FittingPopup(false),
        SizeDistributionPopup(false),
    });
  }
  return Popup("&Options", {
      Cmd(218, "Set &v*rho"),
      Cmd(542, "Inhomogeneous Solvent"),
      FittingPopup(true),
      SizeDistributionPopup(true),
      LoadingPopup(true),
      DlsToolsPopup(),
      FluorescencePopup(),
      EquilibriumPopup(),
      CalculatorPopup(),
      BitmapsPopup(),
      Cmd(594, "Sound"),
  });
}

MenuItem PlotPopup() {
  return Popup("Plot", {
      Cmd(900, "GUSSI data-fit-residuals plot"),
      Cmd(899, "GUSSI c(s) plot"),
      Cmd(878, "Plot Data as 3d"),
      Cmd(879, "Make Sedimentation Movie"),
      Cmd(880, "MATLAB Plot Data + Fit + Res"),
      Cmd(881, "MATLAB Plot Data + Fit + Res + Distribution"),
      Cmd(882, "MATLAB Plot Size-and-Shape Distribution"),
      Cmd(883, "Plot Triangulated Structure from BEST"),
  });
}

MenuItem HelpPopup(bool full) {
  std::vector<MenuItem> items = {
      Cmd(610, "Info and Wizard Messages"),
      Cmd(268, "&How to Get Help"),
      Cmd(221, "About"),
  };
  if (full) {
    Append(items, {
        Cmd(869, "Keyboard Shortcuts"),
        Cmd(867, "Diagnostics Output to Files"),
    });
  }
  return Popup("&Help", std::move(items));
}

// --- whole menus ---------------------------------------------------------------

void AddAcceleratorHints(std::vector<MenuItem>& items, const AcceleratorTable& table) {
  for (MenuItem& item : items) {
    if (item.popup) {
      AddAcceleratorHints(item.children, table);
      continue;
    }
    for (const Accelerator& accel : table.entries) {
      if (accel.command == item.id) {
        item.accelHint = AcceleratorHint(accel);
        break;
      }
    }
  }
}

MenuResource MakeMenu(bool full) {
  MenuResource menu;
  menu.name = std::string(full ? kMenuFull : kMenuVirez);
  menu.items.push_back(DataPopup(full));
  menu.items.push_back(CopyPopup(full));
  menu.items.push_back(DisplayPopup(full));
  menu.items.push_back(ModelPopup(full));
  if (full) menu.items.push_back(GeneratePopup());
  Append(menu.items, MenuBarCommands());
  menu.items.push_back(StatisticsPopup());
  menu.items.push_back(OptionsPopup(full));
  if (full) menu.items.push_back(PlotPopup());
  menu.items.push_back(HelpPopup(full));
  AddAcceleratorHints(menu.items, Table303());
  return menu;
}

}  // namespace

std::string AcceleratorHint(const Accelerator& accel) {
  std::string hint;
  if (accel.mods & MK_SHIFT) hint += "Shift+";
  if (accel.mods & MK_ALT) hint += "Alt+";
  // Ctrl is written as a caret in front of the key, as in "^L".
  if (accel.mods & MK_CONTROL) hint += "^";
  hint += static_cast<char>(accel.key);
  return hint;
}

const MenuResource& GetMenuResource(std::string_view name) {
  static const MenuResource virez = MakeMenu(false);
  static const MenuResource full = MakeMenu(true);
  if (name == kMenuVirez) return virez;
  if (name == kMenuFull) return full;
  throw std::invalid_argument("no menu resource named \"" + std::string(name) + "\"");
}

const AcceleratorTable& GetAcceleratorTable(int id) {
  if (id == kAcceleratorTableId) return Table303();
  throw std::invalid_argument("no accelerator table " + std::to_string(id));
}

}  // namespace tarmic
