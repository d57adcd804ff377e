// The optical generation on the mesh: the photon flux that enters, its closed-form
// propagation through the stack (Beer-Lambert with a back reflection and multiple internal
// reflections at the front), the generation per mesh point, and the generation read from a file.
#pragma once

#include <string>
#include <vector>

#include "celldef/work_point.hpp"
#include "optics/generation_parameters.hpp"
#include "solver/calculation_variables.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

// At most this many points of a generation file are used.
inline constexpr int kMaxGenerationPoints = 1000;
// q [C] × 0.1 (A/m2 -> mA/cm2): a generation [1/m3/s] integrated over position [m] as mA/cm2.
inline constexpr double kGenerationCurrentFactor = 1.602e-20;

// Photon flux entering the cell per spectral point [photons/m2/s]:
//   T_front(λ) · λ · P(λ) · factor · T_ND · w(λ)
// with factor the power-to-photon factor (kPhotonsPerWattNm; 0 gives no light). mode 0 applies
// the neutral-density transmission and the window weights, mode 1 neither, any other mode gives
// zero flux. The front is the right contact when gen.side is +1, the left when -1.
void CalculateIncomingFluxes(GenerationParameters& gen, double factor, int mode);

// The absorption of every mesh point at gen's wavelengths (bepaal_alfa), remembering the mesh
// it belongs to. Returns 1.
int PrepareAbsorption(CalculationVariables& cv, GenerationParameters& gen);

// The photon flux of wavelength index k at every mesh point (gen.flux) and the photons absorbed
// per box (gen.spectralGeneration), in the solver's units. The absorption of every point comes
// from cv.alphaL, which must hold gen's wavelengths (PrepareAbsorption or bepaal_alfa). mode 1 (generation from a
// file) gives zero flux inside the layers. Returns 1, or 0 when the multiple-reflection
// denominator vanishes (reported; flux zero).
int CalculateFluxesEverywhere(CalculationVariables& cv, GenerationParameters& gen, int k, int mode);
// All wavelengths. Returns 1, or 0 when a wavelength failed or cv.alpha does not hold every
// wavelength of gen (reported).
int CalculateFluxes(CalculationVariables& cv, GenerationParameters& gen, int mode);

// G per mesh point = the sum over the wavelengths of the box-averaged spectral generation.
// With `toSolver` the profile (times gen.lightFactor) also becomes the solver's cv.G.
void CalculateGeneration(CalculationVariables& cv, GenerationParameters& gen, bool toSolver = true);

// No light: G = 0 on the mesh (gen.G and cv.G), current for this mesh, without the spectral
// tables, which are filled when light is computed.
void ClearGeneration(CalculationVariables& cv, GenerationParameters& gen);

// Reads the working point's generation file: positions [m] (file: µm) and generation
// [1/m3/s] × attenuation/100. Files with more than kMaxGenerationPoints points, without points,
// with falling positions or with negative or non-finite values are refused. Returns 0, or -1
// (reported through env).
int GetGenerationFromFile(const Environment& env, const WorkPoint& wp, std::vector<double>& positions,
                          std::vector<double>& generation, int& count);

// G on the mesh from the working point's generation file (linear between file points, exact at
// a file point, zero outside the file's range; a mesh point past the last position by rounding
// only takes the last value); dark gives zero. Keeps the file profile in gen for later meshes.
// With `toSolver` the profile also becomes cv.G. Returns 1, or 0 on failure (reported).
int bereken_generatie_uit_file(const Environment& env, CalculationVariables& cv, GenerationParameters& gen,
                               const WorkPoint& wp, bool toSolver = true);

// ∫ q·G dx with trapezoid weights [mA/cm2] of a profile (positions [m], generation [1/m3/s]).
double IntegrateGenerationCurrent(const std::vector<double>& positions, const std::vector<double>& generation);
// The ideal generation current of the working point's generation file (without attenuation),
// stored in wp.idealGenerationCurrent. Returns 0, or -1 when the file cannot be used.
int CalculateIdealGenerationCurrent(const Environment& env, WorkPoint& wp);

// Generation of the monochromatic QE light added to (removed from) a bias profile, point by
// point on the present mesh; sum.G also becomes the solver's cv.G (times sum.lightFactor).
void AddQEGeneration(CalculationVariables& cv, const GenerationParameters& genA, const GenerationParameters& genB,
                     GenerationParameters& genSum);
void RemoveQEGeneration(CalculationVariables& cv, const GenerationParameters& genB, GenerationParameters& genSum);

// Sets the factor on the solver's generation (light ramp) and applies it: cv.G = factor · gen.G,
// with gen.G recomputed first when it belongs to another mesh (RecomputeGeneration).
void SetGenerationFactor(CalculationVariables& cv, GenerationParameters& gen, double factor);

// Recomputes the generation of gen on the present mesh of cv: the absorption is evaluated again
// when the mesh changed since it was last evaluated here, then flux and generation follow from
// the stored incoming flux (or the stored file profile). Allocates nothing when the mesh has
// not changed. Returns 1, or 0 on failure.
int RecomputeGeneration(CalculationVariables& cv, GenerationParameters& gen);
// Makes the solver recompute the generation of gen after every change of its mesh (cv.regenerate).
// gen must outlive cv and its copies. Prepare the absorption with PrepareAbsorption: after a
// direct bepaal_alfa the first new mesh evaluates the absorption once more than needed.
void InstallGenerationHook(CalculationVariables& cv, GenerationParameters& gen);

// Refuses illumination that would trap light between two perfect mirrors: the front's internal
// reflection and the back contact's reflection may not both be 1 at a wavelength, and both must
// lie in [0, 1]. Returns 1, or 0 (reported under "Error in the optical filters").
int CheckMultipleReflection(const Environment& env, const GenerationParameters& gen);

}  // namespace zoniq
