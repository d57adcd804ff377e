// The comparison of a measured with a simulated curve, shared by the curve fitter and the
// script's "math Chi_sq" commands, and the linear interpolation it rests on.
#pragma once

#include <optional>
#include <span>

namespace zoniq {

// y at x0 by linear interpolation between the first pair of points (searched from the start,
// on a rising or a falling abscissa) that brackets x0; an exact hit gives that point's
// ordinate; x0 outside the curve gives the first ordinate; an empty curve gives 0.
double InterpolateLinear(std::span<const double> x, std::span<const double> y, double x0);

// Relative deviation of the measured curve (xm, ym) from the simulated one (xs, ys):
// sum (ym - ys(xm))^2 / sum ym^2 over the measured points whose abscissa lies inside both
// curves' abscissa ranges (bounds included), ys interpolated linearly. Measured points with a
// NaN abscissa or ordinate (a column the file did not have) are left out; a NaN of the
// simulated curve makes the result NaN.
// Chi_square_log compares the natural logarithms of the absolute values, leaving out the
// points where either value is zero. Empty when no point is left or the reference sum is 0.
enum class ChiSquareFailure { kNone, kNoCommonRange, kZeroReference };
std::optional<double> Chi_square(std::span<const double> xm, std::span<const double> ym, std::span<const double> xs,
                                 std::span<const double> ys, ChiSquareFailure* why = nullptr);
std::optional<double> Chi_square_log(std::span<const double> xm, std::span<const double> ym, std::span<const double> xs,
                                     std::span<const double> ys, ChiSquareFailure* why = nullptr);

}  // namespace zoniq
