// Bias stepping: the acceptance check of a solved point (the equations hold and the current is
// conserved), the halving of a failing bias step from the last good point, the prediction of a
// sweep's next point, and the choice of a sweep's starting point.
#include "solver/acceptance.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "common/call_counts.hpp"
#include "solved_cells.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/gummel.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::SolvedAtEquilibrium;

// The thin-film cell with a second defect (in the buffer) and unequal thermal velocities: every
// term of the balance (bulk recombination, both contacts) is present and asymmetric.
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
    // Gummel's termination (1e-3 kT per sub-step) leaves a coupled correction of that order; the
    // discrete continuity equations conserve the current and match what recombines far better
    // than the 2e-3 tolerance.
    EXPECT_LT(r.step, 0.05);
    EXPECT_LT(r.spread, 1e-4);
    EXPECT_LT(r.split, 1e-3);
    EXPECT_GT(r.current, 0.0);  // forward current in the dark
    const CurrentBalance b = BalanceOfCurrents(cv, cv.work.currents);
    EXPECT_EQ(b.generation, 0.0);
    EXPECT_GT(b.recombination, 0.0);
  }
  // Half a kT more electrons in the middle of the absorber: a Newton step would take them back,
  // and the current is no longer conserved.
  const int mid = (cv.mesh.first[0] + cv.mesh.last[0]) / 2;
  for (int i = mid - 3; i <= mid + 3; ++i) cv.u[i] = (cv.u0 + cv.u[i]) * std::exp(0.5) - cv.u0;
  const AcceptanceReport r = CheckSolution(cv);
  EXPECT_FALSE(r.passed);
  EXPECT_GT(r.step, 0.1);
  EXPECT_GT(r.spread, 2e-3);
}

TEST(BiasStepHalving, AStepTooLargeIsWalkedInSmallerOnes) {
  // Few iterations and no coupled fallback: one step 0 → 0.7 V fails, halved ones reach the
  // solution found by walking in many steps.
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

TEST(BiasStepHalving, StopsAtTheMinimumStep) {
  // A tolerance no solution meets: halving ends at the minimum step with a failure, the last
  // good point (0 V) restored.
  InputParameters set = Asymmetric();
  set.convergence.coupledNewtonFallback = 0;
  set.convergence.acceptance_current = 1e-300;
  set.convergence.acceptance_step = 1e-300;
  set.convergence.minimum_bias_step = 0.05;
  auto pb = SolvedAtEquilibrium(set);
  EXPECT_EQ(volgende_iv_punt(pb->cv, 0.0, 0.4, 2), 1);
  EXPECT_EQ(pb->cv.teller, -1);
  EXPECT_EQ(pb->cv.pointState, kPointFailed);
  EXPECT_NEAR(PresentBias(pb->cv), 0.0, 1e-12);
  ASSERT_FALSE(pb->ctx.recoveries.empty());
  EXPECT_NE(pb->ctx.recoveries.back().find("no convergence towards 0.4000 V"), std::string::npos);
}

// Newton steps of the continuity equations counted so far (one clamp per step).
long ContinuitySteps(const CallCounter& c) {
  for (const CallCountEntry& e : c.__counts)
    if (e.name == CallCounter::FunctionName(CallCounter::clamping_u_or_v)) return e.count;
  return 0;
}

TEST(SweepPrediction, SameSolutionsInFewerIterations) {
  // A dark sweep 0 → 0.75 V in 25 mV steps, predicted from the last two points, against the
  // plain estimate (a re-solve in place after every step makes the previous point no guide):
  // the same solutions to the termination tolerance, in fewer continuity Newton steps.
  auto predicted = SolvedAtEquilibrium(Asymmetric());
  auto plain = SolvedAtEquilibrium(Asymmetric());
  CallCounter countPredicted, countPlain;
  predicted->ctx.counter = &countPredicted;
  plain->ctx.counter = &countPlain;
  long stepsPredicted = 0, stepsPlain = 0;
  for (int k = 0; k < 30; ++k) {
    const double Va = 0.025 * k, Vb = 0.025 * (k + 1);
    long before = ContinuitySteps(countPredicted);
    ASSERT_EQ(volgende_iv_punt(predicted->cv, Va, Vb, 2), 0);
    stepsPredicted += ContinuitySteps(countPredicted) - before;
    before = ContinuitySteps(countPlain);
    ASSERT_EQ(volgende_iv_punt(plain->cv, Va, Vb, 2), 0);
    stepsPlain += ContinuitySteps(countPlain) - before;
    ASSERT_EQ(los_totaal_dc_stelsel_op_Gummel(plain->cv), 0);
    ASSERT_NE(plain->cv.teller, -1);
    SCOPED_TRACE("V = " + std::to_string(Vb));
    EXPECT_CLOSE(TotalCurrentDensity(predicted->cv), TotalCurrentDensity(plain->cv), 2e-3, 1e-12);
    EXPECT_LT(MaxPsiDifference(predicted->cv, plain->cv), 5e-3);
  }
  EXPECT_GT(stepsPlain, 0);
  EXPECT_LT(stepsPredicted, stepsPlain);
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

TEST(BiasStepping, StartingPointOfASweep) {
  // Stores at 0 V and 0.2 V: a sweep 0.5 → 0.25 V starts from the working point at its stop
  // end, swapped, with the solution brought to 0.25 V.
  auto pb = SolvedAtEquilibrium(test::PnJunction());
  CalculationVariables shortCircuit = pb->cv;
  ASSERT_EQ(SolveDarkBias(pb->cv, 0.2, 3), 0);
  CalculationVariables workPoint = pb->cv;
  CalculationVariables cv = shortCircuit;
  Set_an_And_ap(cv, 0.0);
  cv.u0 = std::exp(-3.0 / 0.0259);  // a present solution far away (−3 V)
  double start = 0.5, stop = 0.25;
  ASSERT_EQ(CalculateStartingPoint(start, stop, cv, shortCircuit, workPoint, "I(V)", 3), 1);
  EXPECT_EQ(start, 0.25);
  EXPECT_EQ(stop, 0.5);
  EXPECT_CLOSE(PresentBias(cv), 0.25, 1e-12, 0.0);
  EXPECT_GE(cv.teller, 0);
}

}  // namespace
}  // namespace zoniq
