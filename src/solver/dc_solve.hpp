// Direct entry points for a DC calculation without the simulation driver: a problem record that
// owns its parameter set, calculation variables and reporting, the equilibrium, and the dark
// state at a bias voltage.
#pragma once

#include <memory>
#include <string>

#include "solver/calculation_variables.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace zoniq {

// One DC problem: the cell at one temperature on its mesh. Not copyable (the calculation
// variables point into it).
struct DcProblem {
  DcProblem();
  DcProblem(const DcProblem&) = delete;
  DcProblem& operator=(const DcProblem&) = delete;

  RecordingUserInterface ui;  // every message of the solver ends here
  ErrorReporting errors;
  SolverContext ctx;
  CalculationParameters par;
  CalculationVariables cv;
};

// Builds the calculation parameters at temperature T [K] and the calculation variables with
// their initial mesh. Returns 0, or −1 when the cell cannot be calculated (message in
// problem.ctx.lastMessage).
int SetUpDcProblem(DcProblem& problem, const InputParameters& set1, const MeshSettings& mesh, double T = 300.0);

// Thermal equilibrium: the starting estimate and Newton on Poisson's equation. Returns 0 when
// converged, −1 when not (cv.teller = −1).
int SolveEquilibrium(CalculationVariables& cv);

// The dark state at bias V, reached from the present solution in `steps` − 1 equal bias steps.
// Returns 0 when every step converged, −1 when not.
int SolveDarkBias(CalculationVariables& cv, double V, int steps, int version = 1);

}  // namespace zoniq
