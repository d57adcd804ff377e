// Linear and logarithmic interpolation in tabulated spectra, with the error codes and
// messages the optics routines report.
#pragma once

#include <string>

#include "ui/error_message.hpp"

namespace zoniq {

// y0 = y linearly interpolated at x0. Returns 1, or -1 (n < 1), -2 (x0 outside the table),
// -3 (x not strictly rising); errors pop up under "Error in LinInterp" when `env` is given.
int LinInterp(const Environment* env, const double* x, const double* y, int n, double x0, double& y0);

// The same on ln y; additionally -4 when an x is not positive; 0 when a neighbour y <= 0.
// `message` receives the outcome text.
int LogInterp(const Environment* env, const double* x, const double* y, int n, double x0, double& y0,
              std::string& message);

}  // namespace zoniq
