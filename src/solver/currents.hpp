// The current densities of a solved state: electron and hole drift-diffusion currents on every
// interval (Scharfetter-Gummel), the tunnel currents, and their sum at every mesh point.
#pragma once

#include <vector>

#include "solver/calculation_variables.hpp"

namespace zoniq {

// CurrentDensities (per-point current densities [mA/cm²]) is declared with the calculation
// variables, whose workspace keeps one for the acceptance check of a solution.

// Fills the current densities from the solution; the total current density of the solution is
// j_tot[1].
void extraheer_stroom(const CalculationVariables& cv, CurrentDensities& out);

// The total current density of the solution [mA/cm²].
double TotalCurrentDensity(const CalculationVariables& cv);

}  // namespace zoniq
