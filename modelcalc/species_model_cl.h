// The non-interacting discrete species model on sedimentation-velocity data, and
// the non-ideal multiple-species model, computed with one Lamm solver object
// (CLammIdeal) per species slot.
//
// The species are solved one after the other in the calling (user-interface)
// thread. Each solver object records its species' profile at the scan times:
// without linear amplitudes and fitted noise it adds the profile, on each scan's
// own radii, to the fit rows; otherwise it writes the species' signal table on the
// common grid (pppSpeciesSignal[k], signal = loading x unit profile, the loading
// recorded in pAppliedAmplitude[k]). The linear amplitude and noise step follows.
#pragma once

#include "modelcalc/model_steps.h"

namespace tarmic {

class Window;
class CLammIdeal;
struct ModelInput;
class LammDisplay;
struct LammScanRecord;

// Computes the model of every scan (fit rows, signal tables, linear step, detection
// bracket). window owns the message boxes and receives the progress drawing (may be
// null). Returns NotStarted without scans or without meniscus and bottom ("set
// Meniscus and Bottom first"); Failed when a solution failed (its message shown; the
// later species are still computed); Interrupted when the user stopped a solution
// (bUserAbort; the later species are skipped, the linear step still runs).
// The model's values, cell and switches come from in (model_input.h), not from
// the analysis' model, whose vector and amplitudes it does not write (what the
// step solved is result.linear).
ModelResult CalculateSpeciesModelCL(Window* window, const ModelInput& in);

// The buffer component of in in slot k (the last): its own solution
// (CalculateBufferSedimentation) in in's cell, with the amplitude kept apart from
// the total and fractions (1.0, and the buffer signal 1.0, when the amplitudes are
// solved linearly); a failure is shown. The slot joins step's components.
ModelStatus SolveBufferSlot(Window* window, const ModelInput& in, int k, LinearStepInput& step);

// Configures a solver object for species slot k of the model in with s (S), D
// (cm^2/s) and loading c0, in the cell of in, recording into the fit rows or the slot's signal table
// as the model requires: model, sedimentation parameters, acceleration check,
// fluorescence corrections, output, numerics, time offset, band loading and
// solvent (nonIdeal: the model's non-ideality lists instead of band and solvent),
// and the scan time lag of absorbance scans. records are the scans' records
// (ScanRecords(); they must outlive the solve); display may be null. False, after a
// message, when the solvent settings cannot be given to it, or when the output of a
// slot on the common grid has no signal table.
bool SetUpSpeciesSolver(CLammIdeal& lamm, LammDisplay* display, const ModelInput& in, const LammScanRecord* records,
                        int k, double s, double D, double c0, bool nonIdeal);

// Loads the fluorescence detection corrections that are on (magnification gradient
// and drift, excitation shadow, radial convolution) into a solver object; the same
// for the species of the model and the kernels of the distributions.
void LoadDetectionCorrections(CLammIdeal& lamm);

}  // namespace tarmic
