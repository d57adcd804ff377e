// The small-signal solution against closed forms and against the DC solver: the depletion
// capacitance and apparent doping of an abrupt asymmetric pn junction and of its mirror image,
// the low-frequency limit of the conductance (the derivative of the DC current, with charged
// single- and two-level bulk traps and interface traps, dark and under light), the capacitance
// steps of deep traps at twice their emission rates, and the AC current continuity.
#include "measure/small_signal.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "measure/admittance_sweeps.hpp"
#include "measure/driver_fixture.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/interface_recombination.hpp"
#include "solver/solved_cells.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr double kVt = 0.0259;
constexpr double kTwoPi = 6.283185307179586;

AcSolution Ac(CalculationVariables& cv, double omega) {
  AcWorkspace ws;
  AcSolution ac;
  std::string message;
  EXPECT_EQ(bereken_klein_signaal(cv, omega, ws, ac, message), 0) << message;
  return ac;
}
double Capacitance(CalculationVariables& cv, double f) { return Ac(cv, kTwoPi * f).Y.imag() / (kTwoPi * f); }

// The total AC current (conduction plus displacement) is the same at every point.
void ExpectContinuous(const CalculationVariables& cv, const AcSolution& ac, double rel) {
  for (int i = 0; i < cv.mesh.N; ++i) {
    EXPECT_NEAR(ac.jtot[static_cast<std::size_t>(i)].real(), ac.Y.real(), rel * std::abs(ac.Y)) << i;
    EXPECT_NEAR(ac.jtot[static_cast<std::size_t>(i)].imag(), ac.Y.imag(), rel * std::abs(ac.Y)) << i;
  }
}

// p 1e16 / n 1e15 cm⁻³ on the left/right (or swapped), thick enough to hold the depletion
// region at −2 V (1.9 µm on the lightly doped side).
InputParameters AsymmetricJunction(bool mirrored) {
  test::PnOptions o;
  o.Wp = 2e-6;
  o.Wn = 4e-6;
  o.NA = 1e22;
  o.ND = 1e21;
  InputParameters set = test::PnJunction(o);
  if (mirrored) {  // n on the left, p on the right
    CellDefinition& c = set.cellParas;
    std::swap(c.layer[0], c.layer[1]);
    c.layer[0].layernumber = 0;
    c.layer[1].layernumber = 1;
  }
  return set;
}

TEST(SmallSignal, DepletionCapacitanceAndApparentDopingOfAnAbruptAsymmetricJunction) {
  // At 1 MHz the minority carriers cannot follow (their diffusion capacitance is negligible in
  // reverse): C = sqrt(q·ε·NA·ND / (2(NA + ND)(Vbi − V − 2kT/q))) per unit area, and
  // d(1/C²)/dV = −2/(q·ε·N) with N = NA·ND/(NA + ND) = 9.0909e14 cm⁻³, on both polarities (the
  // mirrored cell in reverse at positive V: |N| is compared).
  const double NA = 1e22, ND = 1e21, eps = 11.9 * kEps0;
  const double Vbi = kVt * std::log(NA * ND / (1e50 * std::exp(-1.12 / kVt)));
  for (bool mirrored : {false, true}) {
    SCOPED_TRACE(mirrored ? "mirrored" : "p on the left");
    auto pb = test::SolvedAtEquilibrium(AsymmetricJunction(mirrored));
    std::vector<double> V, C;
    for (int i = 0; i <= 20; ++i) {
      const double v = -2.0 + 0.1 * i;
      ASSERT_EQ(SolveDarkBias(pb->cv, mirrored ? -v : v, 3), 0) << v;
      V.push_back(mirrored ? -v : v);
      C.push_back(Capacitance(pb->cv, 1e6));
      const double Cth = std::sqrt(kQ * eps * NA * ND / (2.0 * (NA + ND) * (Vbi - v - 2.0 * kVt)));
      EXPECT_CLOSE(C.back(), Cth, 0.01, 0.0) << "V = " << v;
    }
    MottSchottkySettings ms;  // 3 points, order 2 inside, 1 at the ends
    std::vector<double> W, N;
    ApparentDoping(V, C, 11.9, ms, W, N);
    for (std::size_t i = 0; i < V.size(); ++i) {
      EXPECT_CLOSE(std::fabs(N[i]), NA * ND / (NA + ND) * 1e-6, 0.02, 0.0) << V[i];
      EXPECT_CLOSE(W[i], 11.9 * kEps0 / C[i] * 1e6, 1e-3, 0.0);  // µm
    }
  }
}

// Makes defect 0 of `layer` a two-level acceptor-like defect: levels (charge states, energy
// above EV [eV], σn, σp).
struct Level {
  int aard;
  double Et, sigma_n, sigma_p;
};
void MakeTwoLevel(InputParameters& set, int layer, Level a, Level b) {
  auto& levels = set.cellParas.layer[static_cast<std::size_t>(layer)].srh[0];
  levels[1] = levels[0];
  for (std::size_t k = 0; k < 2; ++k) {
    const Level& l = k == 0 ? a : b;
    levels[k].numberOfLevels = 2;
    levels[k].aard = l.aard;
    levels[k].type = DT_ACCEPTOR;
    levels[k].Et = l.Et;
    levels[k].sigma_n = l.sigma_n;
    levels[k].sigma_p = l.sigma_p;
  }
}

TEST(SmallSignal, LowFrequencyConductanceIsTheDerivativeOfTheDcCurrent) {
  // The thin-film heterojunction with a charged acceptor (0/−) in the absorber, a donor (+/0) in
  // the buffer and charged interface states on both interfaces (unequal cross sections for the
  // two sides); and an amphoteric two-level defect (+/0 at 0.45 eV, 0/− at 0.70 eV above EV,
  // unequal cross sections) in the base of the pn junction.
  InputParameters hetero = test::ThinFilmCell(true);
  BulkRecombinationParameters& a = hetero.cellParas.layer[0].srh[0][0];
  a.type = DT_ACCEPTOR;
  a.aard = 3;
  a.Et = 0.40;
  a.sigma_p = 3e-19;
  test::AddSingleLevelDefect(hetero, 1, 1.6, 5e21, 1e-18);
  BulkRecombinationParameters& d = hetero.cellParas.layer[1].srh[0][0];
  d.type = DT_DONOR;
  d.aard = 4;
  d.sigma_n = 2e-19;
  test::AddInterfaceDefect(hetero, 0, DT_ACCEPTOR, 0.6, 4, 1e15, {1e-19, 4e-19, 2e-19, 1e-18});
  test::AddInterfaceDefect(hetero, 1, DT_DONOR, 0.6, 4, 1e15, {1e-19, 4e-19, 2e-19, 1e-18});
  InputParameters amphoteric = test::PnJunction();
  test::AddSingleLevelDefect(amphoteric, 0, 0.45, 1e20, 1e-19);
  MakeTwoLevel(amphoteric, 0, {4, 0.45, 3e-19, 1e-19}, {3, 0.70, 1e-19, 4e-19});
  for (const auto& [set, biases] : {std::pair{hetero, std::vector{0.4, 0.6}}, {amphoteric, std::vector{0.45}}}) {
    auto pb = test::SolvedAtEquilibrium(set);
    auto current = [&](double v) {  // [A/m²]
      EXPECT_EQ(SolveDarkBias(pb->cv, v, 3), 0);
      return 10.0 * TotalCurrentDensity(pb->cv);
    };
    for (double V : biases) {
      // Richardson extrapolation of central differences over ±10 and ±5 mV.
      auto slope = [&](double h) { return (current(V + h) - current(V - h)) / (2.0 * h); };
      const double dJdV = (4.0 * slope(0.005) - slope(0.01)) / 3.0;
      current(V);
      EXPECT_CLOSE(Ac(pb->cv, kTwoPi * 1e-3).Y.real(), dJdV, 1e-3, 0.0) << V;
    }
  }
}

TEST(SmallSignal, IlluminatedConductanceIsTheSlopeOfTheMergedIV) {
  // The C-V sweep of the driver on the example CIGS cell under AM1.5G, where light raises the
  // minority densities of the window by tens of decades (and with them the rows of the
  // small-signal system): at a low frequency the conductance of every point is the slope of the
  // I-V curve the same sweep merged into the record. The slope over ±5 mV is a difference of
  // currents 5e-4 apart: the DC solutions must be good far beyond the default tolerances.
  test::Bench b("CIGS.def");
  ConvergenceParameters& conv = b.cell.parameterset1.convergence;
  conv.termination_psi = conv.termination_Fn = conv.termination_Fp = 1e-9;
  b.s.wp.dark = 0;
  b.s.wp.frequency = 1e-3;
  b.s.actie.iv.on = 0;
  b.s.actie.cv = VoltageSweepAction{1, 0.0, 0.4, 81, 0};  // 5 mV steps
  ASSERT_EQ(b.Calculate(), 0);
  const SimulationRecord& r = *b.s.CurrentRecord();
  ASSERT_EQ(r.cv.pointsDone, 81);
  ASSERT_EQ(r.iv.pointsDone, 81);
  for (std::size_t i = 1; i + 1 < 81; ++i) {
    // The merged I-V curve is sorted by voltage; the C-V sweep ran in either direction. G in
    // S/cm², the slope in mA/cm² per V; the central difference over ±5 mV is within
    // (5 mV/Vt)²/6 = 0.6 % of the derivative of an exponential.
    const double slope = (r.iv.j[i + 1] - r.iv.j[i - 1]) / (r.iv.vCell[i + 1] - r.iv.vCell[i - 1]);
    double G = 0.0;
    for (std::size_t k = 0; k < 81; ++k)
      if (std::fabs(r.cv.v[k] - r.iv.vCell[i]) < 1e-9) G = r.cv.G[k];
    EXPECT_CLOSE(G * 1e3, slope, 0.01, 0.0) << r.iv.vCell[i];
    EXPECT_GT(r.cv.C[i], 0.0);
  }
}

// The frequencies ω [rad/s] where −dC/d ln ω is largest below and above `split`, on
// ω = w0·e^(k·step) up to w1 with `perDecade` points per decade.
std::array<double, 2> CapacitanceSteps(CalculationVariables& cv, double w0, double w1, double perDecade, double split) {
  const double step = std::log(10.0) / perDecade;
  auto C = [&](int k) { return Ac(cv, w0 * std::exp(k * step)).Y.imag() / (w0 * std::exp(k * step)); };
  std::array<double, 2> best{0.0, 0.0}, peak{0.0, 0.0};
  double prev = C(0);
  for (int k = 1; w0 * std::exp(k * step) <= w1 * (1.0 + 1e-9); ++k) {
    const double c = C(k), w = w0 * std::exp((k - 0.5) * step);
    const std::size_t side = w < split ? 0 : 1;
    if ((prev - c) / step > best[side]) {
      best[side] = (prev - c) / step;
      peak[side] = w;
    }
    prev = c;
  }
  return peak;
}

TEST(SmallSignal, DeepTrapStepsLieAtTwiceTheEmissionRates) {
  // p⁺ (1e23) / n (1e21) junction at −0.3 V with acceptors in the n side (gap 1.12 eV,
  // NC = 1e25 m⁻³, vth = 1e5 m/s, σ = 1e-19 m²). Where a level crosses the Fermi level in the
  // depletion region its electron capture rate equals its emission rate
  // e_n = σ·vth·NC·exp(−(Ec − Et)/kT), so the trapped charge follows the signal up to
  // ω ≈ 2·e_n: the capacitance step peaks there. A single level at Ec − 0.40 eV; then a double
  // acceptor with 0/− at Ec − 0.50 eV and −/2− at Ec − 0.35 eV: where one level crosses the Fermi
  // level the other sits in a single charge state, so each acts alone (2.7e5 and 8.2e2 rad/s).
  auto en = [](double depth) { return 1e-19 * 1e5 * 1e25 * std::exp(-depth / kVt); };
  InputParameters single = test::OneSidedJunction();
  test::AddSingleLevelDefect(single, 1, 1.12 - 0.40, 3e20, 1e-19);
  single.cellParas.layer[1].srh[0][0].type = DT_ACCEPTOR;
  single.cellParas.layer[1].srh[0][0].aard = 3;
  auto pb = test::SolvedAtEquilibrium(single);
  ASSERT_EQ(SolveDarkBias(pb->cv, -0.3, 3), 0);
  const double w = 2.0 * en(0.40), inf = std::numeric_limits<double>::infinity();
  EXPECT_CLOSE(CapacitanceSteps(pb->cv, w / 100.0, w * 100.0, 40.0, inf)[0], w, 0.10, 0.0);

  InputParameters two = test::OneSidedJunction();
  test::AddSingleLevelDefect(two, 1, 1.12 - 0.50, 1e20, 1e-19);
  MakeTwoLevel(two, 1, {3, 1.12 - 0.50, 1e-19, 1e-19}, {2, 1.12 - 0.35, 1e-19, 1e-19});
  pb = test::SolvedAtEquilibrium(two);
  ASSERT_EQ(SolveDarkBias(pb->cv, -0.3, 3), 0);
  const double deep = 2.0 * en(0.50), shallow = 2.0 * en(0.35);
  const std::array<double, 2> peaks =
      CapacitanceSteps(pb->cv, deep / 100.0, shallow * 100.0, 20.0, std::sqrt(deep * shallow));
  EXPECT_CLOSE(peaks[0], deep, 0.10, 0.0);
  EXPECT_CLOSE(peaks[1], shallow, 0.10, 0.0);
  // At the shallow level's own frequency the charge of both transitions is in motion: the
  // trapping terms of the continuity rows and the trapped charge of the Poisson row agree.
  ExpectContinuous(pb->cv, Ac(pb->cv, shallow), 1e-4);
}

TEST(SmallSignal, InterfaceTrapChargeFollowsAtLowFrequencyOnly) {
  // One deep interface acceptor between absorber and buffer: an electron trap of the buffer,
  // its other three channels closed, so that only its exchange with the buffer's majority
  // electrons (1/s to 1e5/s here) sets its response. Far below it the trapped charge adds to C;
  // far above it C is that of the same cell whose trap captures 1e21 times more slowly (the same
  // DC state: in equilibrium the occupation does not depend on the cross section). In between,
  // the charging current of the interface enters the buffer's electron current and, as the
  // change of the interface charge, the displacement current: the total current is continuous.
  auto cell = [](double scale) {
    InputParameters set = test::ThinFilmCell(false);
    test::AddInterfaceDefect(set, 0, DT_ACCEPTOR, 0.45, 4, 1e16, {1e-40, 4e-19 * scale, 1e-40, 1e-40});
    return set;
  };
  auto trap = test::SolvedAtEquilibrium(cell(1.0)), frozen = test::SolvedAtEquilibrium(cell(1e-21));
  ASSERT_EQ(SolveDarkBias(trap->cv, 0.0, 3), 0);
  ASSERT_EQ(SolveDarkBias(frozen->cv, 0.0, 3), 0);
  const double Chigh = Capacitance(trap->cv, 1e6);
  EXPECT_CLOSE(Chigh, Capacitance(frozen->cv, 1e6), 1e-4, 0.0);
  EXPECT_CLOSE(Capacitance(frozen->cv, 1e-2), Chigh, 1e-4, 0.0);
  EXPECT_GT(Capacitance(trap->cv, 1e-2) - Chigh, 0.15 * Chigh);
  const AcSolution ac = Ac(trap->cv, kTwoPi * 1e3);
  ASSERT_GT(std::abs(ac.jn[trap->cv.mesh.first[1]]), 0.1 * std::abs(ac.Y));  // the trap's electrons
  ExpectContinuous(trap->cv, ac, 1e-6);
}

TEST(SmallSignal, MottSchottkyPermittivityOfTheLighterSideOfTheJunction) {
  // Absorber p 1e22 (εr 13.6) | buffer n 1e23 (εr 10) | window n 1e24 (εr 9): the sign of ND − NA
  // changes at the first interface, where |εr·(ND − NA)| is 1.36e23 on the absorber's side and
  // 1e24 on the buffer's; the second interface offers only larger values. In the mirrored
  // junction the n side is the lighter one, on the left of the interface.
  auto pb = test::SolvedAtEquilibrium(test::ThinFilmCell(false));
  MottSchottkySettings ms;
  EXPECT_EQ(SelectEpsilonForMottSchottky(pb->par, ms), 0);  // p-type edge
  EXPECT_EQ(std::tie(ms.sheetNumber, ms.sheetSide, ms.spareReal), std::make_tuple(0, 1, 13.6));
  auto mirrored = test::SolvedAtEquilibrium(AsymmetricJunction(true));
  EXPECT_EQ(SelectEpsilonForMottSchottky(mirrored->par, ms), 1);
  EXPECT_EQ(std::tie(ms.sheetNumber, ms.sheetSide), std::make_tuple(0, 1));
}

TEST(SmallSignal, PolynomialFitAndExternalCircuit) {
  // y = 2 − 3x + 0.5x² sampled far from the origin (x = 10 … 14): the centring keeps it exact.
  std::vector<double> x{10, 11, 12, 13, 14}, y, a;
  for (double t : x) y.push_back(2.0 - 3.0 * t + 0.5 * t * t);
  ASSERT_TRUE(PolyFit(x, y, 2, a));
  EXPECT_NEAR(a[0], 2.0, 1e-9);
  EXPECT_NEAR(a[1], -3.0, 1e-10);
  EXPECT_NEAR(a[2], 0.5, 1e-11);
  EXPECT_FALSE(PolyFit(std::vector<double>{1.0, 2.0}, std::vector<double>{1.0, 2.0}, 2, a));
  // Y = G + iB in series with Rs: 1/(1/Y + Rs); the shunt adds to G first.
  const Complex Y(2.0, 5.0), expected = 1.0 / (1.0 / (Y + 0.5) + 0.1);
  const Complex got = ExternalAdmittance(Y, true, 0.5, true, 0.1);
  EXPECT_NEAR(got.real(), expected.real(), 1e-12);
  EXPECT_NEAR(got.imag(), expected.imag(), 1e-12);
  EXPECT_EQ(ExternalAdmittance(Y, false, 0.5, false, 0.1), Y);
}

TEST(SmallSignal, AStateThatCannotBeLinearisedIsAClearFailure) {
  auto pb = test::SolvedAtEquilibrium(AsymmetricJunction(false));
  ASSERT_EQ(SolveDarkBias(pb->cv, -0.5, 3), 0);
  pb->cv.u[40] = std::nan("");
  AcWorkspace ws;
  AcSolution ac;
  std::string message;
  EXPECT_EQ(bereken_klein_signaal(pb->cv, kTwoPi * 1e3, ws, ac, message), -1);
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(ac.Y, Complex(0.0, 0.0));  // nothing non-finite handed on
  for (const Complex& v : ac.dpsi) EXPECT_EQ(v, Complex(0.0, 0.0));
}

}  // namespace
}  // namespace zoniq
