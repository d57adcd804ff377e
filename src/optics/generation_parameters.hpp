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
  // Internal reflection of the front seen from inside the cell (0 … 1); set from the cell's
  // "internal Rfront" before the filters are prepared.
  double Rfront = 0.0;
  // Optical capture by defect levels adds to the absorption (not evaluated in the flux yet:
  // the flag is kept so that callers can pass it through).
  int IPV_Mode = 0;
  std::vector<double> rightFilter;      // right contact: transmission as front, reflection as back
  std::vector<double> leftFilter;       // the same for the left contact
  std::vector<double> wavelengths;      // [nm]
  std::vector<double> watt_lambda;      // [W/m2] per spectral point
  std::vector<double> incomingFlux_us;  // [photons/m2/s] per spectral point
  // On the mesh, in the solver's units (rates S_l·Dmax/L², fluxes S_l·Dmax/L of the point's
  // layer l): G per point, and per point and wavelength the flux and the spectral generation,
  // stored point-major (index i*numberOfWavelengths + k, i < meshPoints). Each point's
  // generation is the average over its box (half intervals to its neighbours), so that the sum
  // over the boxes is exactly the number of photons absorbed.
  int meshPoints = 0;
  std::vector<double> G;
  std::vector<double> flux;
  std::vector<double> spectralGeneration;
  // The flux table is filled only when asked for: the solver needs the generation alone, and
  // writing the table costs as much as the propagation itself.
  bool keepFlux = false;
  // G already holds the row sums of spectralGeneration (the flux routine summed them while it
  // finished each point's row for all wavelengths at once).
  bool rowsSummed = false;
  // Factor on the generation handed to the solver (the light ramp of the short circuit).
  double lightFactor = 1.0;
  // The generation comes from a file: its positions [m] and generation [1/m3/s] (attenuation
  // applied); empty when dark.
  int fromFile = 0;
  std::vector<double> filePositions;
  std::vector<double> fileGeneration;
  // Work storage of the flux routine (sized once per spectrum), and the mesh on which the
  // absorption of the calculation variables was last evaluated by PrepareAbsorption.
  std::vector<double> travelling, depthIn, depthBack, scale, backReflection;
  std::vector<double> pointScale, boxWidth;
  std::vector<int> absorbingEnd;  // per point: past the last wavelength it absorbs
  // Per row of spectralGeneration: every entry from this wavelength index on is zero (valid for
  // rows of `zeroFromWidth` wavelengths), so that a row is cleared only as far as it was written.
  std::vector<int> zeroFrom;
  int zeroFromWidth = -1;
  std::vector<int> alphaColumn;  // column of each wavelength in the absorption table
  std::vector<double> alphaMesh;
  // G was computed from the present incoming flux and absorption on this mesh (set by
  // CalculateGeneration, cleared by whatever changes the light or the absorption).
  int generationCurrent = 0;
  std::vector<double> generationMesh;
  std::vector<double> wavelengthCopy;
};

}  // namespace zoniq
