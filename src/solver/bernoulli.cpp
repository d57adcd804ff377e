#include "solver/bernoulli.hpp"

#include <cmath>
#include <numbers>

namespace zoniq {

using namespace bernoulli_limits;

namespace {

// Every branch is written in E = e^−|x| and M = e^−|x| − 1 (from expm1): near the small-|x|
// branch limits a plain e^x − 1 loses about seven digits, which the currents of a nearly flat
// band would inherit. Sharing E and M lets the four values of an interval come from one pair of
// exponentials, with results identical to the separate evaluations.
// Only within 6.7e-10 of 0 (linear branches for ±x) and beyond 52.29 (constant branches) can the
// exponentials be left out. One transcendental call gives both: below ln 2, E = 1 + M is rounded
// once from an accurate M; above it, M = E − 1 with |M| ≥ 1/2 loses nothing.
struct Exponentials {
  double E = 0.0, M = 0.0;
  explicit Exponentials(double x) {
    const double a = std::fabs(x);
    if (a > -kLinearLow && a < kDerivZero) {
      if (a < std::numbers::ln2) {
        M = std::expm1(-a);
        E = 1.0 + M;
      } else {
        E = std::exp(-a);
        M = E - 1.0;
      }
    }
  }
};

inline double BernFrom(double x, double E, double M) {
  if (x <= -kAsymptote) return -x;
  if (x < kLinearLow) return x / M;
  if (x <= kLinearHigh) return 1.0 - 0.5 * x;
  if (x < kAsymptote) return x * E / -M;
  if (x < kZero) return x * E;
  return 0.0;
}

inline double DerivFrom(double x, double E, double M) {
  if (x <= -kDerivMinusOne) return -1.0;
  if (x <= -kAsymptote) return E - 1.0 - x * E;
  if (x < kDerivLinearLow) return (M - x * E) / (M * M);  // (e − 1 − x e)/(1 − e)², e = e^x
  if (x <= kDerivLinearHigh) return -0.5 + x / 6.0;
  if (x < kAsymptote) {
    const double one_minus_e = -M;  // (e − e² − x e)/(1 − e)², e = e^−x
    return E * (one_minus_e - x) / (one_minus_e * one_minus_e);
  }
  if (x < kDerivZero) return E - x * E - E * E;
  return 0.0;
}

}  // namespace

double Bern(double x) {
  const Exponentials e(x);
  return BernFrom(x, e.E, e.M);
}

double Bern_deriv(double x) {
  const Exponentials e(x);
  return DerivFrom(x, e.E, e.M);
}

void BernoulliPair(double x, double& Bx, double& Bmx, double& dBx, double& dBmx) {
  const Exponentials e(x);
  Bx = BernFrom(x, e.E, e.M);
  Bmx = BernFrom(-x, e.E, e.M);
  dBx = DerivFrom(x, e.E, e.M);
  dBmx = DerivFrom(-x, e.E, e.M);
}

}  // namespace zoniq
