// The recovery log level: a bias step that only halving can take logs nothing at level 0, the
// recovery at level 1, and the failed attempts on the way as well at level 2.
#include <gtest/gtest.h>

#include "solved_cells.hpp"
#include "solver/bias_stepping.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(RecoveryLog, TheLevelDecidesWhatAHalvedStepLogs) {
  // The asymmetric thin-film cell (buffer defect, unequal thermal velocities) with few Gummel
  // iterations and no coupled retry: the step 0 → 0.7 V fails and is walked in halved steps.
  InputParameters set = test::ThinFilmCell(true);
  test::AddSingleLevelDefect(set, 1, 1.6, 1e21, 3e-19);
  set.cellParas.layer[0].v_th_n = UniformProfile(2e5);
  set.convergence.coupledNewtonFallback = 0;
  std::size_t logged[3] = {};
  for (int level = 0; level <= 2; ++level) {
    auto pb = test::SolvedAtEquilibrium(set);
    pb->par.convergence.maxiter = 6;
    pb->par.convergence.minimum_bias_step = 1e-3;
    pb->ctx.recoveryLog = level;
    ASSERT_EQ(volgende_iv_punt(pb->cv, 0.0, 0.7, 2), 0) << level;
    EXPECT_EQ(pb->cv.pointState, kPointStepHalving) << level;
    logged[level] = pb->ctx.recoveries.size();
    if (level == 2) {
      EXPECT_NE(pb->ctx.recoveries.front().find("the step from 0.0000 V failed"), std::string::npos)
          << pb->ctx.recoveries.front();
      EXPECT_NE(pb->ctx.recoveries.back().find("V = 0.7000 V reached from 0.0000 V"), std::string::npos);
    }
  }
  EXPECT_EQ(logged[0], 0u);
  EXPECT_EQ(logged[1], 1u);  // the one recovery
  EXPECT_GT(logged[2], logged[1]);
}

}  // namespace
}  // namespace zoniq
