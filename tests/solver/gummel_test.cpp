// The Gummel procedure (step limitation, failures and their messages, the coupled Newton
// fallback) and bias stepping (the acceptance check of a solved point, the halving of a
// failing bias step, the choice of a sweep's start).
#include "solver/gummel.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "solved_cells.hpp"
#include "solver/acceptance.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// The thin-film cell solved at `V` in `steps` steps, the fallback on or off, no step halving.
std::unique_ptr<DcProblem> ThinFilmAt(double V, int steps, int fallback = 1) {
  InputParameters set = test::ThinFilmCell(true);
  set.convergence.coupledNewtonFallback = fallback;
  set.convergence.minimum_bias_step = 0.0;
  auto pb = test::SolvedAtEquilibrium(set);
  EXPECT_EQ(SolveDarkBias(pb->cv, V, steps), 0);
  return pb;
}

TEST(Clamping, QuasiFermiLevelStepsAreLimitedKeepingTheirDirection) {
  // w0 + w = 1; relative changes −0.9 … +3, clamp 0.5 kT: scaled by −0.9/(e^−0.5 − 1) = 2.287345
  // (the fall is 0.5 kT), then the rise 3/2.287345 = 1.311591 > e^0.5 − 1 by 2.021769 (the rise
  // is 0.5 kT, the fall −ln(1 − 0.194616) = 0.216437 kT): all divided by 4.624484.
  auto pb = test::SetUp(test::PnJunction());
  CalculationVariables& cv = pb->cv;
  const int N = cv.mesh.N;
  for (int i = 0; i < N; ++i) SetCarrierValues(cv, i, 1.0, 1.0);
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

TEST(Gummel, NonFiniteResidualFailsAndLeavesThePreviousSolution) {
  // A NaN generation poisons the residual: the step fails with a clear message (also in the
  // coupled retry), ψ, u and v left as at entry.
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
  // Deep in high injection (1.00 → 1.01 V) Gummel needs 6 outer passes, coupled Newton 4. With
  // "maxiter" 5 Gummel fails (counter −1) unless the fallback solves the point, with the current
  // of the Gummel solution under the default limit to the terminations' accuracy (0.1 %).
  auto ref = ThinFilmAt(1.0, 11, 0);
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

using test::SolvedAtEquilibrium;

// The thin-film cell with a buffer defect and unequal thermal velocities: an asymmetric balance.
InputParameters Asymmetric() {
  InputParameters set = test::ThinFilmCell(true);
  test::AddSingleLevelDefect(set, 1, 1.6, 1e21, 3e-19);
  set.cellParas.layer[0].v_th_n = UniformProfile(2e5);
  return set;
}

double MaxPsiDifference(const CalculationVariables& a, const CalculationVariables& b) {
  double d = 0.0;
  for (int i = 0; i < a.N(); ++i) d = std::max(d, std::fabs(a.psi[i] - b.psi[i]));
  return d;
}

TEST(Acceptance, SolvedPointsPassAndADisturbedOneFails) {
  auto pb = SolvedAtEquilibrium(Asymmetric());
  CalculationVariables& cv = pb->cv;
  for (double V : {0.3, 0.6, 0.75}) {
    SCOPED_TRACE("V = " + std::to_string(V));
    ASSERT_EQ(SolveDarkBias(cv, V, 4), 0);
    EXPECT_EQ(cv.pointState, kPointGummel);
    const AcceptanceReport r = CheckSolution(cv);
    EXPECT_TRUE(r.passed);
    EXPECT_TRUE(r.stepChecked);
    // Gummel's termination (1e-3 kT) leaves a coupled correction of that order; the current is
    // conserved and matches what recombines far better than the 2e-3 tolerance.
    EXPECT_LT(r.step, 0.05);
    EXPECT_LT(r.spread, 1e-4);
    EXPECT_LT(r.split, 1e-3);
    EXPECT_GT(r.current, 0.0);  // forward current in the dark
    const CurrentBalance b = BalanceOfCurrents(cv, cv.work.currents);
    EXPECT_EQ(b.generation, 0.0);
    EXPECT_GT(b.recombination, 0.0);
  }
  // Half a kT more electrons mid-absorber: a Newton step would take them back; J not conserved.
  const int mid = (cv.mesh.first[0] + cv.mesh.last[0]) / 2;
  for (int i = mid - 3; i <= mid + 3; ++i) cv.u[i] = (cv.u0[i] + cv.u[i]) * std::exp(0.5) - cv.u0[i];
  const AcceptanceReport r = CheckSolution(cv);
  EXPECT_FALSE(r.passed);
  EXPECT_GT(r.step, 0.1);
  EXPECT_GT(r.spread, 2e-3);
}

TEST(BiasStepHalving, AStepTooLargeIsWalkedInSmallerOnes) {
  // Few iterations, no fallback: one step 0 → 0.7 V fails, halved ones reach the walked solution.
  InputParameters set = Asymmetric();
  set.convergence.coupledNewtonFallback = 0;
  auto fewIterations = [&](double minimumStep) {
    auto pb = SolvedAtEquilibrium(set);
    pb->par.convergence.maxiter = 6;
    pb->par.convergence.minimum_bias_step = minimumStep;
    return pb;
  };
  EXPECT_EQ(volgende_iv_punt(fewIterations(0.0)->cv, 0.0, 0.7, 2), 1);  // halving off: the step fails
  auto halved = fewIterations(1e-3);
  ASSERT_EQ(volgende_iv_punt(halved->cv, 0.0, 0.7, 2), 0);
  EXPECT_EQ(halved->cv.pointState, kPointStepHalving);
  ASSERT_FALSE(halved->ctx.recoveries.empty());
  EXPECT_NE(halved->ctx.recoveries.back().find("V = 0.7000 V reached from 0.0000 V"), std::string::npos)
      << halved->ctx.recoveries.back();
  auto walked = SolvedAtEquilibrium(set);
  ASSERT_EQ(volgende_iv_punt(walked->cv, 0.0, 0.7, 29), 0);
  EXPECT_EQ(walked->cv.pointState, kPointGummel);
  EXPECT_CLOSE(TotalCurrentDensity(halved->cv), TotalCurrentDensity(walked->cv), 1e-2, 0.0);
  EXPECT_LT(MaxPsiDifference(halved->cv, walked->cv), 0.05);  // kT: a few termination tolerances
}

TEST(StartingRoute, NearestEndWinsAndTiesGoToTheEarlierRoute) {
  // Arguments: start, stop, present bias, working point, present solution failed.
  const struct {
    double start, stop, present, work;
    bool failed;
    int route;
  } cases[] = {
      {0.8, 0.0, 0.5, 0.0, false, kRouteShortCircuitToStop},   // the short circuit at the stop end: swapped
      {0.0, 0.8, 0.0, 0.0, false, kRouteShortCircuitToStart},  // a tie goes to the earlier route
      {0.6, 1.0, 3.0, 0.55, false, kRouteWorkPointToStart},
      {0.6, 1.0, 0.6, 0.3, false, kRouteCurrentToStart},
      // 0.3 − 0.1 = 0.19999999999999998: rounding must not decide the tie with 0 → −0.2 V.
      {-0.2, 0.3, 5.0, 0.1, false, kRouteShortCircuitToStart},
      {0.7, 1.0, 0.7, 0.0, false, kRouteCurrentToStart},
      {0.7, 1.0, 0.7, 0.0, true, kRouteShortCircuitToStart},  // a failed solution is never a start
  };
  for (const auto& k : cases)
    EXPECT_EQ(ChooseStartingRoute(k.start, k.stop, k.present, k.work, k.failed), k.route) << k.start << " " << k.stop;
}

}  // namespace
}  // namespace zoniq
