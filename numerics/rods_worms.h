// Sedimentation coefficients of rigid rods and worm-like chains as functions of the
// molar mass, their inversions M(s), and the worm-like chain's M(s) table file.
//
// Units as in hydrodynamics.h; mass per length in Da/nm. The worm-like chain reads
// fWormPersistenceLength, fWormCrossSection, fWormMonomerMass, fWormHydration and
// VBAR (solvent_constants.h).
//
// The inversions return 0 for "no solution": besides their guards, when s is not
// positive or not finite, when the rod's mass per length is 1 Da/nm or less, or when
// no mass between the smallest particle and 1e20 g/mol has the sedimentation
// coefficient s (for instance when the buffer is denser than the particle). Each
// such case is reported in the error box (the command goes on).
#pragma once

namespace tarmic {

// s of a rigid rod of mass M with the kept mass per length (set by
// CalculateMofSforLinearRod and by the worm-like chain's short-chain limit); 0 for
// M <= 1 or a mass per length <= 1. A rod shorter than wide, or so short that the
// rod formula would give it less friction than the sphere of its volume, has the
// sphere's s.
double SFromMLinearRod(double M);
// The same with the mass per length g given.
double SFromMLinearRod(double M, double g);
// Mass of a rod of mass per length g with sedimentation coefficient s; keeps g.
double CalculateMofSforLinearRod(float s, float g);

// s of a worm-like chain of mass M in the buffer, with its buoyancy 1 - VBAR rho;
// 0 below the monomer mass.
float SFromMWormChain(float M);
// Mass of the worm-like chain with sedimentation coefficient s. When s lies below
// that of a compact sphere of the monomer mass, the compact-sphere mass is returned.
float CalculateMofSforWormChain(float s);

// Writes the worm-like chain's M(s) table to szWormChainMofsFile (path table): row i
// holds grid[i] (s of the distribution grid, S) converted to standard conditions and
// sGrid[i] (its molar mass, g/mol) in kDa (i = 1..nGrid). False when the file cannot
// be written.
bool WriteWormChainMofsTable(int nGrid, const float* grid, const float* sGrid);

}  // namespace tarmic
