// The interface recombination current of an I-V sweep, through the simulation driver: with
// interface defects as the only recombination, the total current is the minority-carrier
// current at each contact plus the interface current, point by point.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "measure/driver_fixture.hpp"
#include "measure/iv_sweep.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// The pn junction of the solver tests (p base on the left, n emitter on the right, different
// density scales on the two sides) with an acceptor-like level at the junction that captures
// differently from each side.
InputParameters JunctionWithInterfaceDefect() {
  InputParameters set = test::PnJunction();
  // Reference 5: above Ei of the left side.
  test::AddInterfaceDefect(set, 0, DT_ACCEPTOR, 0.05, 5, 1e15, {1e-19, 6e-19, 3e-19, 2e-20});
  return set;
}

TEST(InterfaceCurrent, TotalIsTheContactCurrentsPlusTheInterfaceRecombination) {
  // Electrons leave the p base only through its contact or through the interface defects,
  // holes the n emitter only through its contact or the defects, and no bulk mechanism is
  // present: J = jn(left contact) + jp(right contact) + q·(S_l·U1 + S_{l+1}·U2)·Dmax/L, to the
  // convergence of the solution (relative 1e-6). Reverse and forward bias, in the dark.
  test::Bench r(JunctionWithInterfaceDefect());
  r.s.wp.dark = 1;
  r.s.actie.iv = VoltageSweepAction{1, -0.3, 0.6, 10, 0};
  ASSERT_EQ(r.Calculate(), 0);
  const IVResult& iv = r.s.CurrentRecord()->iv;
  ASSERT_EQ(iv.pointsDone, 10);
  for (int k = 0; k < 10; ++k) {
    SCOPED_TRACE("V = " + std::to_string(iv.vCell[k]));
    EXPECT_EQ(iv.jbulk[k], 0.0);
    if (std::fabs(iv.vCell[k]) < 1e-9) {
      // At 0 V every current is rounding noise (below 1e-15 mA/cm²).
      EXPECT_LT(std::fabs(iv.j[k]), 1e-15);
      EXPECT_LT(std::fabs(iv.jifr[k]), 1e-15);
      continue;
    }
    EXPECT_CLOSE(iv.js_n[k] + iv.js_p[k] + iv.jifr[k], iv.j[k], 1e-6, 0.0);
    EXPECT_EQ(iv.jifr[k] > 0.0, iv.vCell[k] > 0.0);  // recombination forward, generation reverse
  }
  // The interface carries most of the forward current at low bias.
  EXPECT_GT(iv.jifr[5], 0.5 * iv.j[5]);
  EXPECT_TRUE(r.ui.popups.empty());
}

}  // namespace
}  // namespace zoniq
