// Bias stepping, starting estimates and the choice of a sweep's starting point.
#include "solver/bias_stepping.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "solved_cells.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/gummel.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

std::unique_ptr<DcProblem> SolvedEquilibrium() { return test::SolvedAtEquilibrium(test::PnJunction()); }

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
      // 0.3 − 0.1 is 0.19999999999999998 in floating point: rounding must not decide the tie
      // with 0 → −0.2 V.
      {-0.2, 0.3, 5.0, 0.1, false, kRouteShortCircuitToStart},
      {0.7, 1.0, 0.7, 0.0, false, kRouteCurrentToStart},
      {0.7, 1.0, 0.7, 0.0, true, kRouteShortCircuitToStart},  // a failed solution is never a start
  };
  for (const auto& k : cases)
    EXPECT_EQ(ChooseStartingRoute(k.start, k.stop, k.present, k.work, k.failed), k.route) << k.start << " " << k.stop;
}

TEST(BiasStepping, NothingToDoAndFailedStart) {
  auto pb = SolvedEquilibrium();
  CalculationVariables& cv = pb->cv;
  const std::vector<double> psi = cv.psi;
  // |Vto − Vfrom| below 1e-9: nothing solved, success.
  EXPECT_EQ(volgende_iv_punt(cv, 0.0, 5e-10, 5), 0);
  EXPECT_EQ(cv.psi, psi);
  // From a failed solution: only the failure flag.
  cv.teller = -1;
  EXPECT_EQ(volgende_iv_punt(cv, 0.0, 0.3, 3), 1);
  EXPECT_EQ(cv.psi, psi);
  EXPECT_EQ(cv.u0, 1.0);
}

TEST(BiasStepping, EveryEstimateVersionReachesTheSameSolution) {
  // The estimate only changes the starting point of the iteration; the converged currents at
  // 0.45 V agree to the terminations' accuracy (1e-3 kT: 0.1 %).
  double J[3] = {};
  const int versions[3] = {kEstimateDefault, kEstimateTilt, kEstimateScaled};
  for (int k = 0; k < 3; ++k) {
    auto pb = SolvedEquilibrium();
    ASSERT_EQ(volgende_iv_punt(pb->cv, 0.0, 0.45, 4, versions[k]), 0) << versions[k];
    EXPECT_CLOSE(PresentBias(pb->cv), 0.45, 1e-12, 0.0);
    J[k] = TotalCurrentDensity(pb->cv);
  }
  EXPECT_CLOSE(J[1], J[0], 2e-3, 0.0);
  EXPECT_CLOSE(J[2], J[0], 2e-3, 0.0);
}

TEST(BiasStepping, StartingPointOfASweep) {
  // The stores: short circuit (equilibrium in the dark) and a working point at 0.2 V. A sweep
  // from 0.5 V down to 0.25 V starts from the working point at its stop end: start and stop are
  // swapped and the solution is brought to 0.25 V.
  auto pb = SolvedEquilibrium();
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
