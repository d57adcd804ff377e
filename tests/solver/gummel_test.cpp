// The Gummel procedure: step limitation, loop counts and limits, failures and their messages,
// and the coupled Newton fallback.
#include "solver/gummel.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "solved_cells.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// The thin-film cell solved at `V` (in `steps` steps) with the coupled fallback on or off and no
// halving of bias steps (the solve alone is tested).
std::unique_ptr<DcProblem> ThinFilmAt(double V, int steps, int fallback = 1) {
  InputParameters set = test::ThinFilmCell(true);
  set.convergence.coupledNewtonFallback = fallback;
  set.convergence.minimum_bias_step = 0.0;
  auto pb = test::SolvedAtEquilibrium(set);
  EXPECT_EQ(SolveDarkBias(pb->cv, V, steps), 0);
  return pb;
}

TEST(Clamping, QuasiFermiLevelStepsAreLimitedKeepingTheirDirection) {
  // w0 + w = 1 everywhere; relative changes from −0.9 to +3 with clamp 0.5 kT: first scaled by
  // −0.9/(e^−0.5 − 1) = 2.287345 so that the largest fall is e^−0.5 − 1 (0.5 kT exactly), then
  // the largest rise 3/2.287345 = 1.311591 still exceeds e^0.5 − 1 = 0.648721 and the step is
  // scaled again by 2.021769: the rise is then exactly 0.5 kT and the fall −ln(1 − 0.194616) =
  // 0.216437 kT; every component is divided by 2.287345·2.021769 = 4.624484.
  auto pb = test::SetUp(test::PnJunction());
  CalculationVariables& cv = pb->cv;
  const int N = cv.mesh.N;
  std::fill(cv.u.begin(), cv.u.end(), 0.0);
  cv.u0 = 1.0;
  std::vector<double> d(MAXPOINTS, 0.0);
  for (int i = 0; i < N; ++i) d[i] = -0.9 + 3.9 * i / (N - 1);
  EXPECT_EQ(clamping_u_or_v(cv, d, 0.5, kElectrons), 1);
  EXPECT_CLOSE(d[N - 1], std::exp(0.5) - 1.0, 1e-12, 0.0);
  EXPECT_CLOSE(-std::log1p(d[0]), 0.216437, 1e-5, 0.0);
  const double ratio = d[N / 2] / (-0.9 + 3.9 * (N / 2) / (N - 1));
  EXPECT_CLOSE(ratio, 1.0 / 4.624484, 1e-6, 0.0);
  // Only a fall beyond the clamp: one scaling, the fall is exactly 0.5 kT.
  for (int i = 0; i < N; ++i) d[i] = -0.9 + 1.0 * i / (N - 1);
  EXPECT_EQ(clamping_u_or_v(cv, d, 0.5, kElectrons), 1);
  EXPECT_CLOSE(-std::log1p(d[0]), 0.5, 1e-12, 0.0);
  // Changes below the termination (1e-3 kT) are reported converged and left alone.
  for (int i = 0; i < N; ++i) d[i] = 1e-4;
  EXPECT_EQ(clamping_u_or_v(cv, d, 0.5, kElectrons), 0);
  EXPECT_EQ(d[0], 1e-4);
}

TEST(Gummel, IterationLimits) {
  // The equilibrium needs about 60 clamped Poisson steps; with "maxiter" 3 the Poisson loop
  // stops softly (result 0, counter −1) without a message.
  InputParameters set = test::PnJunction();
  set.convergence.maxiter = 3;
  auto pb = test::SetUp(set);
  CalculationVariables& cv = pb->cv;
  eerste_schatting(cv);
  EXPECT_EQ(psi_iteratie_Gummel(cv), 0);
  EXPECT_EQ(cv.teller, -1);
  EXPECT_TRUE(pb->ui.popups.empty());
  // A continuity loop that runs out of steps fails with its message.
  pb->par.convergence.maxiter = 250;
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  pb->par.convergence.maxiter = 0;
  volgende_schatting(cv, 0.3, 0.3, kEstimateDefault);
  ASSERT_EQ(psi_iteratie_Gummel(cv), 0);
  EXPECT_EQ(u_or_v_iteratie_Gummel(cv, kElectrons), -1);
  EXPECT_EQ(cv.teller, -1);
  ASSERT_EQ(pb->ui.popups.size(), 1u);
  EXPECT_EQ(pb->ui.popups[0].title, "Error");
  EXPECT_EQ(pb->ui.popups[0].message,
            "Error occured during calculation of variable 'u' (function of hole density).\nMax no of iterations "
            "exceeded");
}

TEST(Gummel, NonFiniteResidualFailsAndLeavesThePreviousSolution) {
  // A NaN in the generation poisons the continuity residual: the step fails with a clear
  // message (also in the coupled retry), and ψ, u and v are those at entry, all finite.
  for (int fallback : {0, 1}) {
    auto pb = ThinFilmAt(0.3, 3, fallback);
    CalculationVariables& cv = pb->cv;
    const std::vector<double> psi = cv.psi, u = cv.u, v = cv.v;
    cv.G[cv.mesh.first[0] + 50] = std::nan("");
    EXPECT_EQ(los_totaal_dc_stelsel_op_Gummel(cv), -1);
    EXPECT_EQ(cv.teller, -1);
    EXPECT_EQ(cv.psi, psi);
    EXPECT_EQ(cv.u, u);
    EXPECT_EQ(cv.v, v);
    ASSERT_FALSE(pb->ui.popups.empty());
    EXPECT_EQ(pb->ui.popups[0].message,
              "Error occured during calculation of variable 'u' (function of hole density).\nThe residual or the "
              "Newton step is not a finite number.");
  }
}

TEST(CoupledFallback, RescuesAPointWhereGummelRunsOutOfIterations) {
  // Deep in high injection (1.00 → 1.01 V) Gummel needs 6 outer passes (the carriers it holds
  // fixed while solving Poisson's equation dominate the space charge), the coupled Newton
  // iteration 4. With "maxiter" 5 Gummel fails: with the fallback off that is the failure
  // (counter −1); with it on the point is solved, and the current agrees with the Gummel
  // solution under the default limit to the terminations' accuracy (1e-3 kT: 0.1 %).
  auto ref = ThinFilmAt(1.0, 11);
  ASSERT_EQ(SolveDarkBias(ref->cv, 1.01, 2), 0);
  ASSERT_EQ(ref->cv.coupledIterations, 0);
  ASSERT_GT(ref->cv.teller, 5);
  for (int fallback : {0, 1}) {
    auto pb = ThinFilmAt(1.0, 11, fallback);
    CalculationVariables& cv = pb->cv;
    pb->par.convergence.maxiter = 5;
    const int r = SolveDarkBias(cv, 1.01, 2);
    if (fallback == 0) {
      EXPECT_EQ(r, -1);
      EXPECT_EQ(cv.teller, -1);
    } else {
      ASSERT_EQ(r, 0);
      EXPECT_GT(cv.coupledIterations, 0);
      EXPECT_LE(cv.coupledIterations, 5);
      EXPECT_CLOSE(TotalCurrentDensity(cv), TotalCurrentDensity(ref->cv), 5e-3, 0.0);
      EXPECT_TRUE(pb->ui.popups.empty());
    }
  }
}

}  // namespace
}  // namespace zoniq
