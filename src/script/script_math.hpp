// The script's arithmetic: the "math" command and the numerical kernels behind it (running
// integral, derivative, linear interpolation, closest element, chi-square of two curves).
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "measurements/chi_square.hpp"
#include "script/script_state.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

// Running integral of y over x: result[0] = 0, result[k] = the integral from x[0] to x[k].
// Each interval is estimated from the quadratic through a triple of points; an interval that
// belongs to two triples takes the mean of both estimates (exact for quadratics on any grid).
// Coinciding abscissae, and an abscissa that doubles back (x[k-1] = x[k+1]), fall back to
// trapezoids. `result` has the size of x and y.
void MathIntegrate(std::span<const double> x, std::span<const double> y, std::span<double> result);

// Derivative dy/dx at every point from the quadratic through three neighbouring points (the
// end points from the first and last triple). Where abscissae of a triple coincide, the
// difference quotient of the distinct ones is used; three coinciding abscissae with equal
// ordinates give 0. Returns false when a derivative is undefined (three coinciding abscissae
// with different ordinates, two points at one abscissa); those elements are NaN.
bool MathDifferentiate(std::span<const double> x, std::span<const double> y, std::span<double> result);

// y at x0 by linear interpolation between the first pair of points that brackets x0; an exact
// hit gives that point's ordinate; x0 outside the curve gives the first ordinate.
double MathInterpolate(std::span<const double> x, std::span<const double> y, double x0);

// The index of the element nearest to x0 (the first on ties); -1 when every element is NaN.
int MathClosestIndex(std::span<const double> x, double x0);

// The "math" command: `operation` is the argument word, `rest` the script letters and values.
// Errors are reported through `env`; returns false when nothing (or, after a mathematical
// error, NaN) was stored.
bool ProcessMathCommand(std::string_view operation, std::string_view rest, ScriptVariables& theScript,
                        std::string_view line, const Environment& env);

}  // namespace zoniq
