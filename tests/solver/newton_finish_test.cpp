// The coupled Newton iteration finishing the solves of a sweep: it takes over from the estimate
// (or after a few Gummel passes), reaches the Gummel solution, and its last step stands for the
// check of the equations only because the state really is solved.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "solver/acceptance.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/gummel.hpp"
#include "test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

std::unique_ptr<DcProblem> Problem(const InputParameters& set) {
  auto pb = std::make_unique<DcProblem>();
  EXPECT_EQ(SetUpDcProblem(*pb, set, MeshSettings{}), 0) << pb->ctx.lastMessage;
  return pb;
}

double TotalCurrent(CalculationVariables& cv) {
  CurrentDensities j;
  extraheer_stroom(cv, j);
  return j.j_tot[1];
}

// The heterojunction with its absorber defect (unequal mobilities, a spike and a cliff) swept
// from 0 to 0.7 V in 15 points, once with the coupled iteration ("coupled Newton fallback" 1, the
// default) and once by the Gummel procedure alone.
struct Sweep {
  std::vector<double> current, remaining;
  std::vector<int> coupled, state;
};

Sweep SweepOf(int coupled) {
  InputParameters set = test::ThinFilmCell(true);
  set.convergence.coupledNewtonFallback = coupled;
  auto pb = Problem(set);
  CalculationVariables& cv = pb->cv;
  Sweep s;
  EXPECT_EQ(SolveEquilibrium(cv), 0);
  for (int k = 1; k <= 14; ++k) {
    const double V = 0.05 * k;
    EXPECT_EQ(SolveDarkBias(cv, V, 2), 0) << V;
    s.coupled.push_back(cv.coupledIterations);
    s.state.push_back(cv.pointState);
    s.current.push_back(TotalCurrent(cv));
    // An independent check of the state the solve returned: the correction a further coupled
    // step would make.
    const AcceptanceReport r = CheckSolution(cv);
    EXPECT_TRUE(r.passed) << V;
    s.remaining.push_back(r.step);
  }
  return s;
}

TEST(NewtonFinish, SweepPointsReachTheGummelSolutionInFewSteps) {
  const Sweep newton = SweepOf(1), gummel = SweepOf(0);
  const double termination = 1e-3;  // kT, the default terminations of ψ, Fn and Fp
  for (std::size_t k = 0; k < newton.current.size(); ++k) {
    SCOPED_TRACE(k);
    // Gummel alone never uses the coupled iteration.
    EXPECT_EQ(gummel.coupled[k], 0);
    // Along the sweep (from the third point the straight-line estimate is close) the coupled
    // iteration takes over at once and converges quadratically: at most 3 steps.
    if (k >= 2) {
      EXPECT_GE(newton.coupled[k], 1);
      EXPECT_LE(newton.coupled[k], 3);
    }
    // Finishing a solve with Newton is the ordinary procedure, not a recovery.
    EXPECT_EQ(newton.state[k], kPointGummel);
    // Both solve the same equations: the Gummel procedure stops within a few terminations of the
    // solution (its last passes move by about 2e-3 kT, 0.2 % of a density), so the currents agree
    // to 0.5 %.
    EXPECT_CLOSE(newton.current[k], gummel.current[k], 5e-3, 1e-9);
    // The last Newton step was within the termination and the iteration was quadratic: what a
    // further step would change is far below the termination, unlike after the Gummel procedure.
    EXPECT_LE(newton.remaining[k], 0.1 * termination);
  }
}

TEST(NewtonFinish, TheCheckOfANewtonSolutionStillChecksTheCurrents) {
  auto pb = Problem(test::ThinFilmCell(true));
  CalculationVariables& cv = pb->cv;
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  ASSERT_EQ(SolveDarkBias(cv, 0.5, 11), 0);
  // The solved state passes with the size of a converged last step.
  EXPECT_TRUE(CheckNewtonSolution(cv, 1e-4).passed);
  // A last step beyond the acceptance step (0.05 kT), or none known, is not accepted.
  EXPECT_FALSE(CheckNewtonSolution(cv, 0.2).passed);
  EXPECT_FALSE(CheckNewtonSolution(cv, std::nan("")).passed);
  // A state that does not solve the continuity equations fails on its currents whatever step is
  // claimed: the electron quasi-Fermi level raised by 0.1 kT over the middle third of the mesh.
  const int N = cv.mesh.N;
  for (int i = N / 3; i < 2 * N / 3; ++i) cv.u[i] = (cv.u0[i] + cv.u[i]) * std::exp(0.1) - cv.u0[i];
  update_psivar(cv);
  const AcceptanceReport r = CheckNewtonSolution(cv, 1e-4);
  EXPECT_FALSE(r.passed);
  EXPECT_GT(std::max(r.spread, r.split), 2e-3);
}

}  // namespace
}  // namespace zoniq
