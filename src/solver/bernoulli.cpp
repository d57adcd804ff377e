#include "solver/bernoulli.hpp"

#include <cmath>

namespace zoniq {

using namespace bernoulli_limits;

// e^x - 1 is taken from expm1 throughout: near the small-|x| branch limits the plain
// difference loses about seven digits, which the currents of a nearly flat band inherit.
double Bern(double x) {
  if (x <= -kAsymptote) return -x;
  if (x < kLinearLow) return x / std::expm1(x);
  if (x <= kLinearHigh) return 1.0 - 0.5 * x;
  if (x < kAsymptote) {
    const double e = std::exp(-x);
    return x * e / -std::expm1(-x);
  }
  if (x < kZero) return x * std::exp(-x);
  return 0.0;
}

double Bern_deriv(double x) {
  if (x <= -kDerivMinusOne) return -1.0;
  if (x <= -kAsymptote) {
    const double e = std::exp(x);
    return e - 1.0 - x * e;
  }
  if (x < kDerivLinearLow) {
    // (e - 1 - x e)/(1 - e)^2 with e = e^x
    const double e = std::exp(x);
    const double em1 = std::expm1(x);
    return (em1 - x * e) / (em1 * em1);
  }
  if (x <= kDerivLinearHigh) return -0.5 + x / 6.0;
  if (x < kAsymptote) {
    // (e - e^2 - x e)/(1 - e)^2 with e = e^-x
    const double e = std::exp(-x);
    const double one_minus_e = -std::expm1(-x);
    return e * (one_minus_e - x) / (one_minus_e * one_minus_e);
  }
  if (x < kDerivZero) {
    const double e = std::exp(-x);
    return e - x * e - e * e;
  }
  return 0.0;
}

}  // namespace zoniq
