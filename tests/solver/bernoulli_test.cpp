// The Bernoulli function and its derivative against extended-precision closed forms at every
// branch boundary, from both sides.
#include "solver/bernoulli.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "test_util.hpp"

namespace zoniq {
namespace {

using namespace bernoulli_limits;

// x/(e^x − 1) in long double (64-bit mantissa: 3 more digits than the tested double code).
double Reference(double x) {
  if (x == 0.0) return 1.0;
  const long double lx = x;
  if (x > 700.0) return static_cast<double>(lx * std::exp(-lx));
  return static_cast<double>(lx / std::expm1(lx));
}

// dB/dx = (e^x − 1 − x·e^x)/(e^x − 1)² in long double; its Taylor series near 0, where the
// closed form cancels even in long double.
double ReferenceDeriv(double x) {
  if (std::fabs(x) < 1e-4) return -0.5 + x / 6.0 - x * x * x / 180.0;
  const long double lx = x;
  if (x > 700.0) return static_cast<double>((1.0L - lx) * std::exp(-lx));
  const long double em1 = std::expm1(lx);
  return static_cast<double>((em1 - lx * std::exp(lx)) / (em1 * em1));
}

// Points on both sides of every branch limit of B and B′ (and 0), a few ulps and a little further
// away.
std::vector<double> BoundaryPoints() {
  const double limits[] = {-kDerivMinusOne, -kAsymptote,     kLinearLow,       kLinearHigh, kAsymptote,
                           kZero,           kDerivLinearLow, kDerivLinearHigh, kDerivZero,  0.0};
  std::vector<double> xs;
  for (double l : limits) {
    double lo = l, hi = l;
    for (int k = 0; k < 4; ++k) {
      lo = std::nextafter(lo, -1e300);
      hi = std::nextafter(hi, 1e300);
    }
    for (double x : {l, lo, hi, l - 1e-6 * std::max(1.0, std::fabs(l)), l + 1e-6 * std::max(1.0, std::fabs(l))})
      xs.push_back(x);
  }
  return xs;
}

TEST(Bernoulli, MatchesClosedFormOnBothSidesOfEveryBranchLimit) {
  // Exact to rounding but for the accepted truncations: 1 − x/2 drops x²/12 (6e-13 at its upper
  // limit), the asymptotic branches terms of order e^−37 (5e-17 relative), the zero branches
  // values below 3e-19 (B) and 1e-21 (B′): 1e-9 relative plus 1e-17 absolute. The pair function
  // gives exactly the separate evaluations.
  std::vector<double> xs = BoundaryPoints();
  for (double x = -60.0; x <= 60.0; x += 0.0731) xs.push_back(x);
  for (double x : xs) {
    EXPECT_CLOSE(Bern(x), Reference(x), std::fabs(x) < 60 && std::fabs(x) > 1e-3 ? 1e-12 : 1e-9, 1e-17) << x;
    EXPECT_CLOSE(Bern_deriv(x), ReferenceDeriv(x), 1e-9, 1e-17) << "x = " << x;
    double b, bm, d, dm;
    BernoulliPair(x, b, bm, d, dm);
    EXPECT_EQ(b, Bern(x)) << x;
    EXPECT_EQ(bm, Bern(-x)) << x;
    EXPECT_EQ(d, Bern_deriv(x)) << x;
    EXPECT_EQ(dm, Bern_deriv(-x)) << x;
  }
  // Just below −6.7e-10, x/(e^x − 1) with e^x − 1 formed by subtraction loses about seven digits;
  // with expm1 the branch keeps full precision.
  for (double x : {std::nextafter(kLinearLow, -1.0), -1e-9, -3e-9, -1e-8, -1e-7, -1e-6,
                   std::nextafter(kLinearHigh, 1.0), 3e-6, 1e-5, 1e-4})
    EXPECT_CLOSE(Bern(x), Reference(x), 1e-14, 0.0) << "x = " << x;
}

}  // namespace
}  // namespace zoniq
