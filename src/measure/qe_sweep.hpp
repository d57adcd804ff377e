// The quantum-efficiency sweep: at each wavelength of the action list a small monochromatic
// light is added to the working point's illumination (the bias light), the DC state is solved
// again from the working-point solution, and the extra current per incident photon is QE(λ).
#pragma once

#include <vector>

#include "celldef/cell_state.hpp"
#include "measure/simulation_state.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

inline constexpr int MAX_NUM_CALCULATION_STEPS_QE = 2001;

// The sorted union of two wavelength sets, exactly equal values once.
std::vector<double> AddSpectra(const std::vector<double>& a, const std::vector<double>& b);

// The wavelengths of a QE sweep: start + (i·(stop − start)) div (n − 1) [nm], integer division.
std::vector<double> QEWavelengths(int start, int stop, int n);

// The QE sweep from the working-point solution (s.werkpuntcv) with its generation (the bias
// light). cv ends at the working point again. Returns 1 when it ran (possibly cut short by a
// convergence failure: QEConvergenceFailure = 1), 0 when it could not start (reported).
int calcqe(SimulationState& s, const Environment& env, const CellState& cell, CalculationVariables& cv,
           QEAction& action, SimulationRecord& record);

}  // namespace zoniq
