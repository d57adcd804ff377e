// The check a solution passes before a bias point is accepted: whatever the iteration that
// produced it, the three equations must hold (the correction a coupled Newton step would still
// make is within a tolerance) and the current must be conserved (the same total current at every
// point of the mesh, and equal to the sum of what is lost in the bulk, at the interfaces and at
// the contacts, minus what the light generates).
#pragma once

#include "solver/calculation_variables.hpp"

namespace zoniq {

struct AcceptanceReport {
  double step = 0.0;         // largest correction of ψ, Fn, Fp a coupled step would make [kT]
  double spread = 0.0;       // largest deviation of the total current along the mesh (relative)
  double split = 0.0;        // deviation of the sum of the current's parts from it (relative)
  double current = 0.0;      // the total current [mA/cm2]
  double scale = 0.0;        // the current scale the deviations are relative to [mA/cm2]
  bool stepChecked = false;  // false with tunnelling, which the coupled system does not hold
  bool passed = false;
};

// The parts of the total current of a solved state [mA/cm2]: q∫R dx and q∫G dx over the
// mesh boxes, the interface recombination, the electron current at the left contact and the
// hole current at the right one.
struct CurrentBalance {
  double recombination = 0.0, generation = 0.0, interface = 0.0, contacts = 0.0;
  double Sum() const { return recombination - generation + interface + contacts; }
};
CurrentBalance BalanceOfCurrents(const CalculationVariables& cv, const CurrentDensities& j);

// Checks the present state of cv against the tolerances of its numerical settings. The defect
// terms are evaluated at the state (they are the state's own afterwards); nothing else changes.
// Allocates nothing once the workspace has its size.
AcceptanceReport CheckSolution(CalculationVariables& cv);

// The same check of a state that a converging coupled Newton iteration has just reached with a
// step of size `lastStep` [kT] (the largest move of ψ, Fn, Fp): that step, taken in the quadratic
// regime, bounds the correction a further step would make, so it stands for the check of the
// equations, and only the currents are evaluated (with the defect terms of the present state).
AcceptanceReport CheckNewtonSolution(CalculationVariables& cv, double lastStep);

}  // namespace zoniq
