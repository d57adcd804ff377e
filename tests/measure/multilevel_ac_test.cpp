// The small-signal response of a defect with two levels: each transition relaxes at its own
// rate, so a double acceptor whose levels lie far apart gives two capacitance steps, each at
// twice the emission rate of its level; the total AC current is the same at every point (the
// trapping terms of the continuity rows and the trapped charge of the Poisson row agree), and
// the low-frequency conductance is still the derivative of the DC current.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "measure/small_signal.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/solved_cells.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr double kVt = 0.0259;
constexpr double kTwoPi = 6.283185307179586;

// Makes defect 0 of `layer` a two-level defect: levels (type, energy above EV [eV], σn, σp).
struct Level {
  int aard;
  double Et, sigma_n, sigma_p;
};
void MakeTwoLevel(InputParameters& set, int layer, Level a, Level b) {
  auto& levels = set.cellParas.layer[static_cast<std::size_t>(layer)].srh[0];
  levels[1] = levels[0];
  for (int k = 0; k < 2; ++k) {
    const Level& l = k == 0 ? a : b;
    levels[static_cast<std::size_t>(k)].numberOfLevels = 2;
    levels[static_cast<std::size_t>(k)].aard = l.aard;
    levels[static_cast<std::size_t>(k)].type = DT_ACCEPTOR;
    levels[static_cast<std::size_t>(k)].Et = l.Et;
    levels[static_cast<std::size_t>(k)].sigma_n = l.sigma_n;
    levels[static_cast<std::size_t>(k)].sigma_p = l.sigma_p;
  }
}

TEST(MultiLevelAc, FarApartLevelsGiveTwoStepsAtTwiceTheirEmissionRates) {
  // p⁺ (1e23) / n (1e21) junction; in the n side a double acceptor with 0/− at Ec − 0.50 eV and
  // −/2− at Ec − 0.35 eV (gap 1.12 eV, NC = 1e25 m⁻³, vth = 1e5 m/s, σ = 1e-19 m², degeneracy
  // 1). Where a level crosses the Fermi level in the depletion region the other one sits in a
  // single charge state, so each acts alone: its occupation follows up to
  // ω ≈ 2·e_n = 2·σ·vth·NC·exp(−(Ec − Et)/kT), i.e. 2.7e5 and 8.2e2 rad/s.
  InputParameters set = test::OneSidedJunction();
  test::AddSingleLevelDefect(set, 1, 1.12 - 0.50, 1e20, 1e-19);
  MakeTwoLevel(set, 1, {3, 1.12 - 0.50, 1e-19, 1e-19}, {2, 1.12 - 0.35, 1e-19, 1e-19});
  auto pb = test::SolvedAtEquilibrium(set);
  ASSERT_EQ(SolveDarkBias(pb->cv, -0.3, 3), 0);
  const double en[2] = {1e-19 * 1e5 * 1e25 * std::exp(-0.50 / kVt), 1e-19 * 1e5 * 1e25 * std::exp(-0.35 / kVt)};
  AcWorkspace ws;
  AcSolution ac;
  std::string message;
  const double step = std::log(10.0) / 20.0;  // 20 points per decade from 2·e_n(deep)/100
  const double w0 = 2.0 * en[0] / 100.0;
  auto C = [&](int k) {
    const double w = w0 * std::exp(k * step);
    EXPECT_EQ(bereken_klein_signaal(pb->cv, w, ws, ac, message), 0) << message;
    return ac.Y.imag() / w;
  };
  // −dC/d ln ω, largest below and above the geometric mean of the two expected frequencies.
  const double split = std::sqrt(4.0 * en[0] * en[1]);
  double best[2] = {0.0, 0.0}, peak[2] = {0.0, 0.0};
  double prev = C(0);
  for (int k = 1; w0 * std::exp(k * step) < 200.0 * en[1]; ++k) {
    const double c = C(k);
    const double w = w0 * std::exp((k - 0.5) * step);
    const int side = w < split ? 0 : 1;
    if ((prev - c) / step > best[side]) {
      best[side] = (prev - c) / step;
      peak[side] = w;
    }
    prev = c;
  }
  for (int side = 0; side < 2; ++side) {
    EXPECT_CLOSE(peak[side], 2.0 * en[side], 0.10, 0.0) << side;
    EXPECT_GT(best[side], 0.0);
  }

  // At the shallow level's own frequency the charge of both transitions is in motion: the
  // total current (conduction plus displacement) is the same at every point.
  ASSERT_EQ(bereken_klein_signaal(pb->cv, 2.0 * en[1], ws, ac, message), 0) << message;
  for (int i = 0; i < pb->cv.mesh.N; ++i) {
    EXPECT_NEAR(ac.jtot[static_cast<std::size_t>(i)].real(), ac.Y.real(), 1e-4 * std::abs(ac.Y)) << i;
    EXPECT_NEAR(ac.jtot[static_cast<std::size_t>(i)].imag(), ac.Y.imag(), 1e-4 * std::abs(ac.Y)) << i;
  }
}

TEST(MultiLevelAc, LowFrequencyConductanceIsTheDerivativeOfTheDcCurrent) {
  // An amphoteric defect (+/0 at 0.45 eV, 0/− at 0.70 eV above EV, unequal cross sections) in
  // the base of a forward-biased junction.
  test::PnOptions o;
  InputParameters set = test::PnJunction(o);
  test::AddSingleLevelDefect(set, 0, 0.45, 1e20, 1e-19);
  MakeTwoLevel(set, 0, {4, 0.45, 3e-19, 1e-19}, {3, 0.70, 1e-19, 4e-19});
  auto pb = test::SolvedAtEquilibrium(set);
  auto current = [&](double V) {
    EXPECT_EQ(SolveDarkBias(pb->cv, V, 3), 0);
    return 10.0 * TotalCurrentDensity(pb->cv);
  };
  const double V = 0.45;
  auto slope = [&](double h) { return (current(V + h) - current(V - h)) / (2.0 * h); };
  // Richardson extrapolation of central differences (see the single-level test).
  const double dJdV = (4.0 * slope(0.005) - slope(0.01)) / 3.0;
  current(V);
  AcWorkspace ws;
  AcSolution ac;
  std::string message;
  ASSERT_EQ(bereken_klein_signaal(pb->cv, kTwoPi * 1e-3, ws, ac, message), 0) << message;
  EXPECT_CLOSE(ac.Y.real(), dJdV, 1e-3, 0.0);
}

}  // namespace
}  // namespace zoniq
