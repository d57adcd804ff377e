// The Bernoulli function B(x) = x/(e^x - 1) and its derivative, which carry the
// Scharfetter-Gummel discretisation of the drift-diffusion currents. Both are evaluated
// piecewise so that no branch divides by a vanishing e^x - 1 or overflows.
#pragma once

namespace zoniq {

// B(x) = x/(e^x - 1); B(0) = 1, B(x) - B(-x) = -x.
double Bern(double x);
// dB/dx; B'(0) = -1/2.
double Bern_deriv(double x);
// B(x), B(−x), B′(x) and B′(−x) at once (the same values as the four separate calls).
void BernoulliPair(double x, double& Bx, double& Bmx, double& dBx, double& dBmx);
// +1 for a positive argument, -1 for a negative one, 0 for zero.
inline int sign(double x) { return x > 0.0 ? 1 : (x < 0.0 ? -1 : 0); }

// Branch limits of B and B' (shared with the tests, which probe both sides of each).
namespace bernoulli_limits {
inline constexpr double kAsymptote = 37.4295;                // B(x) = -x below -kAsymptote
inline constexpr double kZero = 46.7449;                     // B(x) = 0 from here on
inline constexpr double kLinearLow = -6.67569999502574e-10;  // B(x) = 1 - x/2 between these two
inline constexpr double kLinearHigh = 2.5999200004478915e-06;
inline constexpr double kDerivMinusOne = 41.1467;       // B'(x) = -1 below -kDerivMinusOne
inline constexpr double kDerivZero = 52.2919;           // B'(x) = 0 from here on
inline constexpr double kDerivLinearLow = -0.00080011;  // B'(x) = -1/2 + x/6 between these two
inline constexpr double kDerivLinearHigh = 9e-05;
}  // namespace bernoulli_limits

}  // namespace zoniq
