// The regularised incomplete beta function I(x; a, b) and its helpers, used by the
// "Beta function" interpolation law of graded properties.
#pragma once

namespace zoniq {

// ln Γ(x) for x > 0 (Lanczos approximation, g = 7, nine terms; relative error about 1e-15).
double gammaln(double x);

// The continued fraction of the incomplete beta function, evaluated by the modified Lentz
// method: at most 100 iterations, stopping when an iteration changes the value by a factor
// within 3e-7 of 1; intermediates below 1e-30 in magnitude are replaced by 1e-30. It converges
// quickly only for x < (a + 1)/(a + b + 2).
double betacf(double a, double b, double x);

// I(x; a, b) = B(x; a, b) / B(a, b) for a, b > 0: 0 for x <= 0, 1 for x >= 1. Above
// x = (a + 1)/(a + b + 2) it uses the symmetry I(x; a, b) = 1 - I(1 - x; b, a), where the
// continued fraction converges again. Relative accuracy about 1e-7 (the continued fraction's
// stopping rule).
double IncompleteBeta(double x, double a, double b);

}  // namespace zoniq
