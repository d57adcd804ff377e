// The illumination spectrum: wavelength window, contact filters and the photon flux that
// enters the cell.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "ui/error_message.hpp"

namespace zoniq {

// Photons per second per watt at wavelength lambda [nm]: lambda / (h c) = 5.035e15 * lambda.
inline constexpr double kPhotonsPerWattNm = 5.035e15;

// Adds the points wl[nFile..] (window points appended after the file's points) to a spectrum
// of powers per spectral point so that total power is conserved: the file's points are
// sorted and turned into densities, the added points outside the file's range or within
// 0.001 nm of a file point are dropped, the others take the interpolated density, and the
// whole set is turned back into powers. `nOut` receives the final count; returns 1, or a
// negative code when the file's points are not usable.
int SpectrumInterpolation(std::vector<double>& wl, std::vector<double>& power, int nFile, int& nOut);

// Fraction of each spectral point's bin (midpoint to midpoint, half intervals at the ends)
// that lies inside [start, end]. `w` is resized to wl.size().
void WindowWeights(std::span<const double> wl, double start, double end, std::vector<double>& w);

// Power inside the window, counted with the same bin weights as the photons that enter.
double WindowPower(std::span<const double> wl, std::span<const double> power, double start, double end);

// One contact's filter at each wavelength, from the given values [%] in `values`. Filter off:
// 1 for the front, 0 for the back. Filter on: value/100 when the given kind is the wanted
// quantity, else its complement 1 - value/100.
void CalculateFilterValues(int on, int kindIsTransmission, int wantReflection, std::span<double> values);

// The closed-form photon flux of one wavelength at every mesh point, relative to the flux
// T_k that enters (Beer-Lambert with one back reflection Rb and multiple internal reflections
// at the front, Rfront). x [m] ascending (interface points doubled), alpha [1/m] per point,
// side +1: light enters at the right, -1: at the left. D and E receive the optical depths from
// the left and from the right; forward/backward receive the two travelling parts (their sum is
// the flux). Returns false when the multiple-reflection denominator vanishes (no absorption
// between two perfect mirrors), with the outputs zero.
bool RelativePhotonFlux(std::span<const double> x, std::span<const double> alpha, double Rfront, double Rb, int side,
                        std::span<double> D, std::span<double> E, std::span<double> forward,
                        std::span<double> backward);

// Photons absorbed per unit volume averaged over each mesh point's box (the half intervals to
// its neighbours; at an interface each of the two coincident points owns its own side), from
// the travelling fluxes of RelativePhotonFlux. Summed over the boxes this is exactly the flux
// that enters minus the flux that leaves, so the generation never exceeds the photons absorbed.
void BoxAveragedAbsorption(std::span<const double> x, std::span<const double> alpha, int side,
                           std::span<const double> forward, std::span<const double> backward,
                           std::span<double> absorbed);

}  // namespace zoniq
