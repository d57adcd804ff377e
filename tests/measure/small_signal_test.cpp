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

}  // namespace
}  // namespace zoniq
