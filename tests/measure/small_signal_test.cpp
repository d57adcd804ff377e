// The small-signal solution against closed forms and against the DC solver: the depletion
// capacitance of an abrupt asymmetric pn junction, the low-frequency limit of the conductance
// (the derivative of the DC current, also with charged bulk and interface traps), the emission
// step of a deep trap in C(f), and the mirror image of a junction.
#include "measure/small_signal.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr double kVt = 0.0259;
constexpr double kTwoPi = 6.283185307179586;

std::unique_ptr<DcProblem> Problem(const InputParameters& set) {
  auto pb = std::make_unique<DcProblem>();
  EXPECT_EQ(SetUpDcProblem(*pb, set, MeshSettings{}), 0) << pb->ctx.lastMessage;
  EXPECT_EQ(SolveEquilibrium(pb->cv), 0);
  return pb;
}

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
    auto pb = Problem(AsymmetricJunction(mirrored));
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

TEST(SmallSignal, LowFrequencyConductanceIsTheDerivativeOfTheDcCurrent) {
  test::PnOptions o;
  InputParameters set = test::PnJunction(o);
  test::AddSingleLevelDefect(set, 0, 0.45, 1e20, 1e-19);
  auto pb = Problem(set);
  for (double V : {0.3, 0.5}) {
    // Central differences over ±h and ±h/2 combined by Richardson extrapolation: the error of
    // the exponential's curvature (h²/6Vt² ≈ 0.6 % at h = 10 mV) cancels, while the steps stay
    // far above the DC solver's tolerance.
    auto slope = [&](double h) { return (CurrentAt(pb->cv, V + h) - CurrentAt(pb->cv, V - h)) / (2.0 * h); };
    const double dJdV = (4.0 * slope(0.005) - slope(0.01)) / 3.0;
    CurrentAt(pb->cv, V);
    const Complex Y = Admittance(pb->cv, 1e-3);
    EXPECT_CLOSE(Y.real(), dJdV, 1e-3, 0.0) << V;
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
  for (int k = 0; k < 2; ++k) {
    InterfaceParameters& I = set.cellParas.interface[static_cast<std::size_t>(k)];
    InterfaceRecombinationParameters& t = I.ifr[static_cast<std::size_t>(I.numberOfDefects++)];
    t.type = k == 0 ? DT_ACCEPTOR : DT_DONOR;
    t.Et = 0.6;
    t.reference = 4;
    t.N = 1e15;
    t.sigma_nleft = 1e-19;
    t.sigma_nright = 4e-19;
    t.sigma_pleft = 2e-19;
    t.sigma_pright = 1e-18;
  }
  return set;
}

TEST(SmallSignal, LowFrequencyConductanceWithChargedBulkAndInterfaceTraps) {
  auto pb = Problem(ChargedTrapHeterojunction());
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
  test::PnOptions o;
  o.Wp = 1e-6;
  o.Wn = 3e-6;
  o.NA = 1e23;
  o.ND = 1e21;
  InputParameters set = test::PnJunction(o);
  test::AddSingleLevelDefect(set, 1, 1.12 - 0.40, 3e20, 1e-19);
  BulkRecombinationParameters& t = set.cellParas.layer[1].srh[0][0];
  t.type = DT_ACCEPTOR;
  t.aard = 3;
  auto pb = Problem(set);
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

}  // namespace
}  // namespace zoniq
