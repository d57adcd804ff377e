// Evaluation of the graded material properties and defect densities on the mesh, and the
// absorption coefficients per mesh point.
#pragma once

#include <span>
#include <vector>

#include "solver/calculation_variables.hpp"

namespace zoniq {

// Evaluates every graded property of every layer on the mesh points of the layer and stores it
// in the solver's units (composition, band data, densities of states, mobilities, doping, the
// density prefactors Nn, Np and the band parameters θn, θp).
void Full_x_Dependence(CalculationVariables& cv);

// The density of one defect level at the points of its layer: peak-to-total factor × Nt ×
// factor, into result[0 … points−1] (result is resized to the layer's point count).
void Full_Nt_x_Dependence(CalculationVariables& cv, BulkRecombinationParameters& level, std::vector<double>& result,
                          double factor);

// The total density of a metastable transition at the points of its layer: Nt × factor (the
// total density has no energy distribution), into result[0 … points−1].
void Full_MetaNt_x_Dependence(CalculationVariables& cv, int layer, MetaStableDefectParameters& meta,
                              std::vector<double>& result, double factor);

// The absorption coefficient of every mesh point at every wavelength [nm] of the list, into
// cv.alpha [1/m] and cv.alphaL (× L), row i for point i; the list is kept in cv.wavelengths and
// the local cut-off wavelengths in cv.cutoff. Returns 1.
int bepaal_alfa(CalculationVariables& cv, std::span<const double> wavelengths);

// The larger of the pure-A and pure-B absorption coefficients [1/m] of a layer at λ [nm]; 0 with
// the message "Error in ExtractAlpha, noswl<=0" when the calculation has no wavelengths.
double ExtractAlpha(CalculationVariables& cv, double lambda, int layer);

}  // namespace zoniq
