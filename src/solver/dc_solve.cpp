#include "solver/dc_solve.hpp"

#include "solver/bias_stepping.hpp"
#include "solver/gummel.hpp"

namespace zoniq {

DcProblem::DcProblem() {
  ctx.env = Environment{&ui, &errors, std::string()};
  ctx.counter = nullptr;
}

int SetUpDcProblem(DcProblem& problem, const InputParameters& set1, const MeshSettings& mesh, double T) {
  std::string message;
  if (parameterset1_to_3(set1, mesh, problem.par, T, &problem.ctx.env, &message) != 0) {
    problem.ctx.lastMessage = message;
    return -1;
  }
  if (CreateCalculationVariables(problem.cv, problem.par, &problem.ctx, true) != 0) return -1;
  return 0;
}

int SolveEquilibrium(CalculationVariables& cv) {
  InitialiseTunnelCurrent(cv, 0);
  eerste_schatting(cv);
  if (psi_iteratie_Gummel(cv) != 0 || cv.teller == -1) {
    cv.teller = -1;
    return -1;
  }
  return 0;
}

int SolveDarkBias(CalculationVariables& cv, double V, int steps, int version) {
  return volgende_iv_punt(cv, PresentBias(cv), V, steps, version) == 0 ? 0 : -1;
}

}  // namespace zoniq
