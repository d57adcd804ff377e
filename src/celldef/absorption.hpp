// Absorption of a layer: the coefficient α(λ) of pure A and pure B material (the
// "coefficients A and B" model or a tabulated file), α of the mixed material at a local
// composition, and the optical capture cross sections of defect levels.
//
// Preparing the absorption of the calculation (`bepaal_alfa`) is a loop over these calls,
// with the layer of the input set (SI units, so α is per metre):
//   for each layer in use:
//     AlphaTable tableA, tableB;
//     PrepareLayerAlphaTables(layer, tableA, tableB, env);   // cut-offs, tables A and B
//     for each mesh point j of the layer:
//       cutOff[j] = kPhotonEnergyNm / Eg[j];
//       InterpolateAlpha(layer, layer.absorption, wavelengths, alphaRow(j), tableA, tableB, y[j], env);
//       (and the row multiplied by the solver's length unit)
// `ExtractAlpha` (the mesh's surface refinement) checks that the calculation has wavelengths
// ("Error in ExtractAlpha, noswl<=0" and 0 otherwise) and returns ExtractLayerAlpha(layer, λ).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "celldef/cell_definition.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

inline constexpr double kPhotonEnergyNm = 1239.977;  // hc/e [eV nm]: E = 1239.977/λ
inline constexpr double kUnsetWavelength = 2e30;     // marks an unused table entry [nm]
inline constexpr double kUnsetLimit = 1e30;          // wavelengths at or above this are unset
inline constexpr int kModelTablePoints = 100;        // points of a model table

// An α table of one pure material: its own wavelength list and α on it.
struct AlphaTable {
  std::vector<double> wavelength;  // [nm], rising; unused entries kUnsetWavelength
  std::vector<double> alpha;       // [/m]
  int n = 0;                       // valid points (wavelengths below kUnsetLimit)
  std::span<const double> validWavelengths() const { return {wavelength.data(), static_cast<std::size_t>(n)}; }
  std::span<const double> validAlpha() const { return {alpha.data(), static_cast<std::size_t>(n)}; }
};

// p0 and p1 of the absorption grading become the cut-off wavelengths 1239.977/Eg [nm] of pure
// A and pure B material (a band gap that is not a positive number leaves its cut-off alone).
void SetAbsorptionCutOffs(LayerParameters& layer);

// The model's wavelength list of wavelengths.size() points [nm], strictly rising: from 200 nm
// up to the cut-off λc, denser towards both ends of that range (evenly spaced in
// ln(λ/(λc - λ))), with 22 points from λc - 15 nm to λc in steps of 1 and 0.4 nm, and a last
// point at 2500 nm when the cut-off lies below it (α is 0 there). Lists shorter than 24
// points, or a cut-off that is not a positive number, give a regular list from 200 to 2500 nm.
void BuildModelWavelengthList(double cutOff, std::span<double> wavelengths);

// α [/m] of the "coefficients A and B" model, (A + B/hν)·sqrt(hν - Eg), at λ [nm] for the
// cut-off λc [nm]; 0 above the cut-off and for wavelengths that are not positive.
double ModelAlpha(double A, double B, double cutOff, double lambda);

// Fills the α table of pure A (material 0) or pure B (material 1) material of the layer on
// `wavelengths` (same size as `alpha`). When the first wavelength is unset (above 1e30) the
// list is built: the model's list around the cut-off p0/p1 of the absorption grading, or the
// file's own wavelengths (the remaining entries unset, with α 0). With `perCm` set α is given
// per centimetre. Returns the number of valid wavelengths, or -1 when the absorption file
// could not be used (α is then 0).
int DetermineLayerAlpha(const LayerParameters& layer, std::span<double> wavelengths, std::span<double> alpha,
                        int material, int perCm, const Environment& env);

// Reads an absorption file (wavelength [nm], α [/m]); wavelengths must rise strictly.
// Returns the number of points or -1 after reporting why the file cannot be used.
int ReadAbsorptionFile(const std::string& name, std::vector<double>& wavelength, std::vector<double>& alpha,
                       const Environment& env);

// The table of one pure material on its own wavelength list: kModelTablePoints points of
// the model, or the file's points. Returns the number of valid points, -1 on a file failure
// (the table is then empty).
int FillAlphaTable(const LayerParameters& layer, int material, AlphaTable& table, const Environment& env);

// Sets the cut-offs (SetAbsorptionCutOffs) and builds table A (from pure B material when the
// composition is uniformly pure B, law 10) and table B (a copy of table A when the band gap or
// the composition is not graded, law 0; otherwise from pure B material). Returns 0, or -1
// when an absorption file could not be used.
int PrepareLayerAlphaTables(LayerParameters& layer, AlphaTable& tableA, AlphaTable& tableB, const Environment& env);

// α at λ from a table with rising wavelengths w and values v (n = the smaller size),
// interpolated in ln α. A zero next to a positive value counts as 1e-10 times that value.
// Outside the table: 0 beyond a zero end value, the end value when α grows towards that end,
// and otherwise the logarithmic continuation of the end interval (which stays positive).
double LogInterpolateFromTable(double lambda, std::span<const double> w, std::span<const double> v);

// α of the mixed material at composition y on `wavelengths` into `alpha`: the band gap's own
// law gives Eg(y); the interval from the short-wavelength anchor to the cut-off of y is mapped
// linearly onto those of pure A and pure B, and α is the weighted geometric mean
// αA^(1-y)·αB^y of the two tables at the mapped wavelengths. Returns 0, or -1 when the band
// gap's grading file could not be read (α 0). Allocates nothing unless Eg is read from a file.
int InterpolateAlpha(const LayerParameters& layer, const Profile& absorptionGrading,
                     std::span<const double> wavelengths, std::span<double> alpha, const AlphaTable& tableA,
                     const AlphaTable& tableB, double y, const Environment& env);

// The larger of the pure-A and pure-B α [/m] at λ (each from a three-point table at
// λ - 10, λ and λ + 10 nm). Sets the layer's cut-offs first.
double ExtractLayerAlpha(LayerParameters& layer, double lambda, const Environment& env);

// ---- optical capture by defect levels ----

// Reads the carrier's optical capture file (wavelength [nm], cross section [m^2]; a bare
// name is looked for in the "optcapt" sub-folder). The wavelengths must rise strictly and
// the cross sections must not be negative. Returns the number of points, or -1 after
// reporting; the table is then empty.
int ReadOpticalCaptureParametersFromFile(OpticalCaptureProperties& props, const Environment& env);

// The model table for the optical threshold E0 [eV]: 50 wavelengths evenly spaced from
// 1239.977/Emax to 1239.977/E0 nm, with x = hν/E0 and
// σ = 9.3e-21 m^2 · (Eeff/E0)^2 · (x - 1)^(3/2) / (n · (m*/m0) · E0 · x^3)
// (Lucovsky's deep-level photoionisation shape). No points when Emax <= E0 or E0 <= 0.
// Returns the number of points.
int ReadOpticalCaptureParametersFromModel(double E0, OpticalCaptureProperties& props);

// Resamples the table onto the calculation's rising wavelength list: only the list
// wavelengths inside the table's range remain, with the cross section interpolated linearly,
// and firstWavelengthIndex receives the list index of the first of them. A table whose
// wavelengths do not rise is reported under "Error reading the optical capture properties
// from file " + file name and emptied. Returns the number of points kept, or -1.
int InterpolateOpticalCaptureProperties(OpticalCaptureProperties& props, std::span<const double> wavelengths,
                                        const Environment& env);

// For every level of every bulk defect in use when IPV_Mode is 1: the optical threshold of
// holes is the level's energy above EV, that of electrons the band gap minus it (Et from its
// reference, with kT = 0.0259 eV·T/300 and the layer's left Eg, Nc, Nv). A carrier whose
// optical capture is on gets its table from the model ("data from model") or else from its
// file, resampled onto `wavelengths` when that list is not empty; a carrier whose optical
// capture is off has its table freed. Returns 0, or -1 when a table could not be made.
int ReadOpticalCaptureParameters(InputParameters& set, double temperature, int IPV_Mode,
                                 std::span<const double> wavelengths, const Environment& env);

}  // namespace zoniq
