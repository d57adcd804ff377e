// The current densities of a solved state: electron and hole drift-diffusion currents on every
// interval (Scharfetter-Gummel), the tunnel currents, and their sum at every mesh point.
#pragma once

#include <vector>

#include "solver/calculation_variables.hpp"

namespace zoniq {

// Per-point current densities [mA/cm²].
struct CurrentDensities {
  std::vector<double> j_n, j_p, jn_tunnel, jp_tunnel, j_tot;
  // False when the total current somewhere differs from its value at point 0 by more than 0.1 %
  // of it (the total-current curve is then drawn in red).
  bool continuous = true;
};

// Fills the current densities from the solution; the total current density of the solution is
// j_tot[1].
void extraheer_stroom(const CalculationVariables& cv, CurrentDensities& out);

// The total current density of the solution [mA/cm²].
double TotalCurrentDensity(const CalculationVariables& cv);

}  // namespace zoniq
