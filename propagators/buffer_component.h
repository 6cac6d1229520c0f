// The computation of the buffer-mismatch model (buffer_sedimentation.h) as a
// function of its values: one component's solve, the working values of the model's
// settings, and the sample and reference passes of a computation. It reads no part
// of the analysis; the caller takes the values from the analysis and routes the
// profiles it returns.
#pragma once

#include <vector>

#include "propagators/buffer_values.h"
#include "propagators/sim_input.h"
#include "propagators/sim_run.h"

namespace tarmic {

// Crank-Nicolson steps of M dc/dt = A c on the component's grid, with the step
// length adapted to a largest relative change of 1 per step (aim 0.2) and landing
// on every scan time. The run ends after the last scan; when the profile is
// stationary (eleven steps of at least 30 s changing by less than 1e-6 per second)
// the remaining scans receive the final profile. A key press (CheckKeyPress) sets
// bUserAbort and ends the run; an interrupt set before is kept (the run ends at
// once). Outcomes: Singular ("singular tridiagonal matrix in buffer
// sedimentation!"), Diverged (more than 10 rejected trials of one step, "discretization
// error in buffer sedimentation"), NotAllocated, InvalidInput, Interrupted.
SimOutcome SolveBufferComponent(const BufferComponentRun& run, const BufferProfileRecord& record);

// The working values of the entered settings b (the entered ones corrected, the
// dependent ones derived) at RT (erg/mol): D = s RT / Mb, in 1e-7 cm^2/s
// D' = 1e-6 s RT / Mb; under fitMAndS D follows from s and Mb, otherwise Mb from s
// and D.
BufferSedSettings DeriveBufferWorkingValues(BufferSedSettings b, double RT, bool fitMAndS);

// Solves the sample component on [meniscus, bottom] and the reference component on
// [meniscus - meniscus difference, bottom] (with the reference buffer, or the
// sample's when only the meniscus mismatch is on, at signal / relative
// concentration) for every scan of input.buffer; input.settings gives meniscus,
// bottom and rampRotorSpeed, input.rotor the speed (finalRpm) and the ramp
// (accelRate, accelEndTime). A pass whose balance is lost is solved again on finer
// grids. *profiles receives the profiles of every pass that succeeded, the sample
// pass first; the outcome is that of the first pass that failed.
SimOutcome CalculateBufferSedimentation(const SimInput& input, std::vector<BufferSedProfile>* profiles);

}  // namespace tarmic
