// The illumination of one working point (or of the monochromatic QE light): spectrum,
// window, contact filters, incoming photon flux and, on the mesh, flux and generation.
#pragma once

#include <vector>

namespace zoniq {

struct GenerationParameters {
  int numberOfWavelengths = 0;
  double ndTransmission = 1.0;  // 10^-OD of the working point
  int side = +1;                // +1 light enters at the right contact, -1 at the left
  int windowOn = 0;
  double windowStart = 0.0, windowEnd = 2000.0;  // [nm]
  std::vector<double> rightFilter;               // right contact: transmission as front, reflection as back
  std::vector<double> leftFilter;                // the same for the left contact
  std::vector<double> wavelengths;               // [nm]
  std::vector<double> watt_lambda;               // [W/m2] per spectral point
  std::vector<double> incomingFlux_us;           // [photons/m2/s] per spectral point
  // On the mesh (filled by the solver-side routines): G per point, and per wavelength the
  // flux and the spectral generation, stored wavelength-major (index k*N + i).
  std::vector<double> G;
  std::vector<double> flux;
  std::vector<double> spectralGeneration;
};

}  // namespace zoniq
