// The settings that a continuous model reads from the parameter vector besides its
// grid: the confidence level (slot 2), vbar (slot 3), the frictional ratio or the
// value slot 11 holds for the model, the buffer density (7) and viscosity (12), the
// scaling exponent (18) and the values of the variants (distribution_variants.h).
// A discrete-species model keeps the values of its species in the same slots, so a
// model switch has to put the continuous settings there: from the program's current
// values (VBAR, the buffer density and viscosity in effect, the engine's confidence
// level and f/f0), where the model before held no setting of that kind.
#pragma once

namespace tarmic {

// What slot 3 or slot 11 of the vector holds for the active continuous model.
enum class ContinuousSetting {
  None,                  // a value of a variant (the constant D of c(v))
  Vbar,                  // ml/g
  FrictionalRatio,       // f/f0
  DiffusionCoefficient,  // the invariant D, 1e-7 cm^2/s
  ScalingKs,             // Ks of the scaling-law models
  ModelConstant,         // persistence length of the worm-like chain, rod parameter
};

// The start values when the engine's own value is not usable.
inline constexpr float kStartConfidenceLevel = 0.95f;
inline constexpr float kStartFrictionalRatio = 1.2f;
inline constexpr float kStartInvariantD = 5.0f;  // 1e-7 cm^2/s, as a species' D at start

// What a model keeps in the slots, taken before a model switch: whether it was
// continuous and what its slots 3 and 11 held.
struct ContinuousLayout {
  bool continuous = false;
  bool scalingLaw = false;
  ContinuousSetting slot3 = ContinuousSetting::None;
  ContinuousSetting slot11 = ContinuousSetting::None;
};
ContinuousLayout CurrentContinuousLayout();

// The program's current value of a setting (the start value above where the
// engine's value is not above 0).
float CurrentContinuousValue(ContinuousSetting setting);

// After the flags of a continuous model were set: writes into pParams the settings
// that the model before did not hold. After a model that is not continuous, all of
// them (confidence level, vbar, slot 11, density, viscosity) from the current
// values, and every fit switch of the species slots cleared (a floated species
// value must not become a floated f/f0 or a grid option); after a continuous model,
// slot 3 and slot 11 where their meaning changed, and the scaling exponent for a
// scaling-law model after one without the law. The variants' values always
// (StoreVariantDefaultsInParams).
void StoreContinuousSettings(const ContinuousLayout& before);

// The step of reading a parameter file whose line 73 chose a continuous model, run
// after the file's values were read into the model variables and before they are
// packed. A file written under another model (its discrete, self-association,
// non-ideal or discrete-variant switches are on) holds species values where the
// continuous model reads its settings: those switches go off, and every setting but
// the grid comes from the current values (VBAR and the buffer density as the file's
// lines 53 and 54 set them), as the model's command would put them. Otherwise a
// vbar, slot-11 value, density or viscosity left at 0 (never a setting) takes its
// current value; a negative one stays, for the file's checks to refuse.
void AdoptContinuousModelOfParameterFile();

}  // namespace tarmic
