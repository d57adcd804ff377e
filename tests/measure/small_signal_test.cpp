// The small-signal solution against closed forms and against the DC solver: the depletion
// capacitance of an abrupt asymmetric pn junction and of its mirror image, the low-frequency
// limit of the conductance (the derivative of the DC current, with charged bulk and interface
// traps), the emission step of a deep trap in C(f).
#include "measure/small_signal.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "measure/admittance_sweeps.hpp"
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

Complex Admittance(CalculationVariables& cv, double f) {
  AcWorkspace ws;
  AcSolution ac;
  std::string message;
  EXPECT_EQ(bereken_klein_signaal(cv, kTwoPi * f, ws, ac, message), 0) << message;
  return ac.Y;
}

// The DC current [A/m²] at bias V.
double CurrentAt(CalculationVariables& cv, double V) {
  EXPECT_EQ(SolveDarkBias(cv, V, 3), 0);
  return 10.0 * TotalCurrentDensity(cv);
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
  if (mirrored) {
    // n on the left, p on the right: swap the dopings and the thicknesses.
    CellDefinition& c = set.cellParas;
    std::swap(c.layer[0], c.layer[1]);
    c.layer[0].layernumber = 0;
    c.layer[1].layernumber = 1;
  }
  return set;
}

TEST(SmallSignal, DepletionCapacitanceOfAnAbruptAsymmetricJunction) {
  // C = sqrt(q·ε·NA·ND / (2(NA + ND)(Vbi − V − 2kT/q))) per unit area at 1 MHz, where the
  // minority carriers cannot follow (their diffusion capacitance is negligible in reverse).
  const double NA = 1e22, ND = 1e21, eps = 11.9 * kEps0;
  const double ni2 = 1e50 * std::exp(-1.12 / kVt);
  const double Vbi = kVt * std::log(NA * ND / ni2);
  for (bool mirrored : {false, true}) {
    auto pb = test::SolvedAtEquilibrium(AsymmetricJunction(mirrored));
    for (double V : {-2.0, -1.0, -0.5, 0.0}) {
      // With the p side on the right, the reverse bias is a positive voltage at the right contact.
      ASSERT_EQ(SolveDarkBias(pb->cv, mirrored ? -V : V, 5), 0) << V;
      const Complex Y = Admittance(pb->cv, 1e6);
      const double C = Y.imag() / (kTwoPi * 1e6);
      const double Cth = std::sqrt(kQ * eps * NA * ND / (2.0 * (NA + ND) * (Vbi - V - 2.0 * kVt)));
      EXPECT_CLOSE(C, Cth, 0.01, 0.0) << "V = " << V << " mirrored " << mirrored;
    }
  }
}

// The thin-film heterojunction with a charged acceptor in the absorber, a donor in the buffer
// and charged interface states on both interfaces (unequal cross sections for the two sides).
InputParameters ChargedTrapHeterojunction() {
  InputParameters set = test::ThinFilmCell(true);
  BulkRecombinationParameters& a = set.cellParas.layer[0].srh[0][0];
  a.type = DT_ACCEPTOR;
  a.aard = 3;  // "0/-"
  a.Et = 0.40;
  a.sigma_p = 3e-19;
  test::AddSingleLevelDefect(set, 1, 1.6, 5e21, 1e-18);
  BulkRecombinationParameters& d = set.cellParas.layer[1].srh[0][0];
  d.type = DT_DONOR;
  d.aard = 4;  // "+/0"
  d.sigma_n = 2e-19;
  test::AddInterfaceDefect(set, 0, DT_ACCEPTOR, 0.6, 4, 1e15, {1e-19, 4e-19, 2e-19, 1e-18});
  test::AddInterfaceDefect(set, 1, DT_DONOR, 0.6, 4, 1e15, {1e-19, 4e-19, 2e-19, 1e-18});
  return set;
}

TEST(SmallSignal, LowFrequencyConductanceWithChargedBulkAndInterfaceTraps) {
  auto pb = test::SolvedAtEquilibrium(ChargedTrapHeterojunction());
  for (double V : {0.4, 0.6}) {
    auto slope = [&](double h) { return (CurrentAt(pb->cv, V + h) - CurrentAt(pb->cv, V - h)) / (2.0 * h); };
    const double dJdV = (4.0 * slope(0.005) - slope(0.01)) / 3.0;
    CurrentAt(pb->cv, V);
    const Complex Y = Admittance(pb->cv, 1e-3);
    EXPECT_CLOSE(Y.real(), dJdV, 1e-3, 0.0) << V;
  }
}

TEST(SmallSignal, DeepTrapStepLiesAtTwiceTheEmissionRate) {
  // p⁺ (1e23) / n (1e21) junction with an acceptor 0.40 eV below EC in the n side. Where the
  // level crosses the Fermi level in the depletion region its electron capture rate equals its
  // emission rate e_n = σ·vth·Nc·exp(−(Ec − Et)/kT), so the trapped charge follows the signal up
  // to ω ≈ 2·e_n: the capacitance step, −dC/d ln ω, peaks there.
  InputParameters set = test::OneSidedJunction();
  test::AddSingleLevelDefect(set, 1, 1.12 - 0.40, 3e20, 1e-19);
  BulkRecombinationParameters& t = set.cellParas.layer[1].srh[0][0];
  t.type = DT_ACCEPTOR;
  t.aard = 3;
  auto pb = test::SolvedAtEquilibrium(set);
  ASSERT_EQ(SolveDarkBias(pb->cv, -0.3, 3), 0);
  const double en = 1e-19 * 1e5 * 1e25 * std::exp(-0.40 / kVt);
  const double step = std::log(10.0) / 40.0;  // 40 points per decade
  auto C = [&](int k) {
    const double w = 2.0 * en * std::exp((k - 80) * step);
    return Admittance(pb->cv, w / kTwoPi).imag() / w;
  };
  double best = 0.0, wPeak = 0.0;
  double prev = C(0);
  for (int k = 1; k <= 160; ++k) {
    const double c = C(k);
    const double slope = (prev - c) / step;
    if (slope > best) {
      best = slope;
      wPeak = 2.0 * en * std::exp((k - 80.5) * step);
    }
    prev = c;
  }
  EXPECT_CLOSE(wPeak, 2.0 * en, 0.10, 0.0);
}

TEST(SmallSignal, ApparentDopingOfTheAbruptJunctionIsTheSeriesDoping) {
  // d(1/C²)/dV = −2/(q·ε·N) with N = NA·ND/(NA + ND) = 9.0909e14 cm⁻³ (depletion on both sides),
  // on both polarities (the mirrored cell in reverse at positive V: |N| is compared).
  for (bool mirrored : {false, true}) {
    auto pb = test::SolvedAtEquilibrium(AsymmetricJunction(mirrored));
    std::vector<double> V, C;
    for (int i = 0; i <= 20; ++i) {
      const double v = -2.0 + 0.1 * i;
      ASSERT_EQ(SolveDarkBias(pb->cv, mirrored ? -v : v, 3), 0) << v;
      V.push_back(mirrored ? -v : v);
      C.push_back(Admittance(pb->cv, 1e6).imag() / (kTwoPi * 1e6));
    }
    MottSchottkySettings ms;  // 3 points, order 2 inside, 1 at the ends
    std::vector<double> W, N;
    ApparentDoping(V, C, 11.9, ms, W, N);
    for (std::size_t i = 0; i < V.size(); ++i) {
      EXPECT_CLOSE(std::fabs(N[i]), 1e22 * 1e21 / 1.1e22 * 1e-6, 0.02, 0.0) << V[i] << " mirrored " << mirrored;
      EXPECT_CLOSE(W[i], 11.9 * kEps0 / C[i] * 1e6, 1e-3, 0.0);  // µm
    }
  }
}

TEST(SmallSignal, PolyFitRecoversAPolynomialAndRejectsTooFewPoints) {
  // y = 2 − 3x + 0.5x² sampled far from the origin (x = 10 … 14): the centring keeps it exact.
  std::vector<double> x{10, 11, 12, 13, 14}, y, a;
  for (double t : x) y.push_back(2.0 - 3.0 * t + 0.5 * t * t);
  ASSERT_TRUE(PolyFit(x, y, 2, a));
  EXPECT_NEAR(a[0], 2.0, 1e-9);
  EXPECT_NEAR(a[1], -3.0, 1e-10);
  EXPECT_NEAR(a[2], 0.5, 1e-11);
  EXPECT_FALSE(PolyFit(std::vector<double>{1.0, 2.0}, std::vector<double>{1.0, 2.0}, 2, a));
}

TEST(SmallSignal, ExternalSeriesResistanceAndShunt) {
  // Y = G + iB in series with Rs: 1/(1/Y + Rs); the shunt adds to G first.
  const Complex Y(2.0, 5.0);
  const Complex Z = 1.0 / (Y + 0.5) + 0.1;
  const Complex expected = 1.0 / Z;
  const Complex got = ExternalAdmittance(Y, true, 0.5, true, 0.1);
  EXPECT_NEAR(got.real(), expected.real(), 1e-12);
  EXPECT_NEAR(got.imag(), expected.imag(), 1e-12);
  EXPECT_EQ(ExternalAdmittance(Y, false, 0.5, false, 0.1), Y);
}

// The heterojunction with one deep interface acceptor between absorber and buffer, its capture
// cross section multiplied by `scale`.
InputParameters InterfaceTrapCell(double scale) {
  InputParameters set = test::ThinFilmCell(false);
  // An electron trap of the buffer: the other three channels are closed, so that no current
  // recombines through it and only its exchange with the majority electrons of the buffer sets
  // its response time.
  test::AddInterfaceDefect(set, 0, DT_ACCEPTOR, 0.45, 4, 1e16, {1e-40, 4e-19 * scale, 1e-40, 1e-40});
  return set;
}

TEST(SmallSignal, InterfaceTrapChargeFollowsAtLowFrequencyOnly) {
  // The level at the Fermi level exchanges electrons with the buffer slowly (1/s to 1e5/s here):
  // far below it the trapped charge adds to C, far above it C is that of the same cell whose
  // trap captures 1e21 times more slowly (the same DC state: in equilibrium the occupation does
  // not depend on the cross section). In between, the charging current of the interface enters
  // the buffer's electron current and, as the change of the interface charge, the displacement
  // current: the total current is the same at every point, across the interface too.
  auto trap = test::SolvedAtEquilibrium(InterfaceTrapCell(1.0));
  auto frozen = test::SolvedAtEquilibrium(InterfaceTrapCell(1e-21));
  ASSERT_EQ(SolveDarkBias(trap->cv, 0.0, 3), 0);
  ASSERT_EQ(SolveDarkBias(frozen->cv, 0.0, 3), 0);
  auto C = [](CalculationVariables& cv, double f) { return Admittance(cv, f).imag() / (kTwoPi * f); };
  const double Chigh = C(trap->cv, 1e6);
  EXPECT_CLOSE(Chigh, C(frozen->cv, 1e6), 1e-4, 0.0);
  EXPECT_CLOSE(C(frozen->cv, 1e-2), Chigh, 1e-4, 0.0);
  EXPECT_GT(C(trap->cv, 1e-2) - Chigh, 0.15 * Chigh);
  AcWorkspace ws;
  AcSolution ac;
  std::string message;
  ASSERT_EQ(bereken_klein_signaal(trap->cv, kTwoPi * 1e3, ws, ac, message), 0);
  const Complex J = ac.Y;
  ASSERT_GT(std::abs(ac.jn[trap->cv.mesh.first[1]]), 0.1 * std::abs(J));  // the trap's electrons
  for (int i = 0; i < trap->cv.mesh.N; ++i) {
    EXPECT_NEAR(ac.jtot[static_cast<std::size_t>(i)].real(), J.real(), 1e-6 * std::abs(J)) << i;
    EXPECT_NEAR(ac.jtot[static_cast<std::size_t>(i)].imag(), J.imag(), 1e-6 * std::abs(J)) << i;
  }
}

TEST(SmallSignal, MottSchottkyPermittivityOfTheLighterSideOfTheJunction) {
  // Absorber p 1e22 (εr 13.6) | buffer n 1e23 (εr 10) | window n 1e24 (εr 9): the sign of ND − NA
  // changes at the first interface, where |εr·(ND − NA)| is 1.36e23 on the absorber's side and
  // 1e24 on the buffer's; the second interface offers only larger values.
  auto pb = test::SolvedAtEquilibrium(test::ThinFilmCell(false));
  MottSchottkySettings ms;
  EXPECT_EQ(SelectEpsilonForMottSchottky(pb->par, ms), 0);  // p-type edge
  EXPECT_EQ(ms.sheetNumber, 0);
  EXPECT_EQ(ms.sheetSide, 1);
  EXPECT_DOUBLE_EQ(ms.spareReal, 13.6);
  // The mirror image: the n side is now the lighter one, on the left of the interface.
  auto mirrored = test::SolvedAtEquilibrium(AsymmetricJunction(true));
  EXPECT_EQ(SelectEpsilonForMottSchottky(mirrored->par, ms), 1);
  EXPECT_EQ(ms.sheetNumber, 0);
  EXPECT_EQ(ms.sheetSide, 1);
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
