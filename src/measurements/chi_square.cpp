#include "measurements/chi_square.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace zoniq {

namespace {

// The abscissa range of a curve, NaN abscissae left out; (+inf, -inf) when there is none.
std::pair<double, double> Range(std::span<const double> x) {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (double v : x) {
    if (std::isnan(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  return {lo, hi};
}

std::optional<double> ChiSquare(std::span<const double> xm, std::span<const double> ym, std::span<const double> xs,
                                std::span<const double> ys, bool logarithmic, ChiSquareFailure* why) {
  if (why) *why = ChiSquareFailure::kNone;
  const std::size_t nm = std::min(xm.size(), ym.size());
  const std::size_t ns = std::min(xs.size(), ys.size());
  const auto [lo1, hi1] = Range(xm.first(nm));
  const auto [lo2, hi2] = Range(xs.first(ns));
  const double lo = std::max(lo1, lo2), hi = std::min(hi1, hi2);
  double numerator = 0.0, denominator = 0.0;
  std::size_t used = 0;
  for (std::size_t i = 0; i < nm; ++i) {
    if (!(xm[i] >= lo && xm[i] <= hi) || std::isnan(ym[i])) continue;
    double a = ym[i];
    double b = InterpolateLinear(xs.first(ns), ys.first(ns), xm[i]);
    if (logarithmic) {
      // Currents and admittances change sign along a curve; their magnitudes are compared.
      if (a == 0.0 || b == 0.0) continue;
      a = std::log(std::fabs(a));
      b = std::log(std::fabs(b));
    }
    numerator += (a - b) * (a - b);
    denominator += a * a;
    ++used;
  }
  if (used == 0) {
    if (why) *why = ChiSquareFailure::kNoCommonRange;
    return std::nullopt;
  }
  if (denominator == 0.0) {
    if (why) *why = ChiSquareFailure::kZeroReference;
    return std::nullopt;
  }
  return numerator / denominator;
}

}  // namespace

double InterpolateLinear(std::span<const double> x, std::span<const double> y, double x0) {
  const std::size_t n = std::min(x.size(), y.size());
  if (n == 0) return 0.0;
  for (std::size_t i = 0; i < n; ++i)
    if (x[i] == x0) return y[i];
  for (std::size_t i = 1; i < n; ++i) {
    const double a = x[i - 1], b = x[i];
    if ((a < x0 && x0 < b) || (b < x0 && x0 < a)) return ((b - x0) * y[i - 1] + (x0 - a) * y[i]) / (b - a);
  }
  return y[0];
}

std::optional<double> Chi_square(std::span<const double> xm, std::span<const double> ym, std::span<const double> xs,
                                 std::span<const double> ys, ChiSquareFailure* why) {
  return ChiSquare(xm, ym, xs, ys, false, why);
}

std::optional<double> Chi_square_log(std::span<const double> xm, std::span<const double> ym, std::span<const double> xs,
                                     std::span<const double> ys, ChiSquareFailure* why) {
  return ChiSquare(xm, ym, xs, ys, true, why);
}

}  // namespace zoniq
