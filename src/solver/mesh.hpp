// The mesh: the initial mesh built from the layers' Debye lengths (and, under illumination, the
// absorption depth at 300 nm), and its adaptation to the solution.
#pragma once

#include <span>

#include "solver/calculation_variables.hpp"

namespace zoniq {

// Builds the initial mesh of cv from its parameter set, keeps a copy as the initial mesh and
// evaluates the material data on it.
void bepaal_intervallen(CalculationVariables& cv);

// Adapts the mesh to the solution: refines intervals over which ψ, the carrier variables, the
// generation or the recombination change by more than the maximum ratio, removes points (never
// those of the initial mesh) where they change by less than the minimum ratio, and carries the
// solution over. Returns 1 when the mesh changed, 0 when not, −1 when the point limit would be
// exceeded (then "Not enough points for the mesh." is shown in a box titled "Error" when
// showMessages, and the mesh and solution are left as they were).
int RecalculateIntervals(CalculationVariables& cv, int showMessages);

// 1 when x is exactly a position of the initial mesh within the layer, else 0.
int PointExists(const MeshBlock& initial, int layer, double x);

// Carries one per-point array from the old mesh to the new one by linear interpolation in
// position, layer by layer (each new point between the two old points of its own layer that
// enclose it).
void InterpolateAndCopy(const MeshBlock& oldMesh, std::span<const double> oldValues, const MeshBlock& newMesh,
                        std::span<double> newValues);

// Fills the interval, metre and micrometre arrays of a mesh from its normalised positions.
void CompleteMesh(MeshBlock& mesh, double L);

}  // namespace zoniq
