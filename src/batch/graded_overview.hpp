// The overview of graded variables: the material properties the solver uses at every mesh
// point (composition, band gap, affinity, permittivity, densities of states, doping, mobilities)
// and the absorption coefficient at every wavelength of the illumination, as one table. It shows
// what a grading in the definition really gives on the mesh.
#pragma once

#include <cstdio>
#include <string>

#include "output/output_header.hpp"
#include "solver/calculation_variables.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

// The text of the overview for the state cv of the definition `problemName` (its last-saved
// date comes from `fileDate`). Columns: i, x(um), y, Eg, chi, eps (fixed 9.5); NC, NV, ND, NA,
// ND-NA [/cm3] (sci 12.4); chi+Eg [eV] (fixed 9.5); mu_n, mu_p [cm2/Vs] (sci 12.4); then alpha
// [1/cm] at each wavelength (sci 12.4). Without absorption data (a dark state) the wavelength
// columns are left out.
std::string GradedVariablesText(const CalculationVariables& cv, const std::string& problemName,
                                const FileDateSource& fileDate);

// Writes the overview to an open file (`recceldef_naar_file`). Returns 0, or -1 when there is
// no solved state (reported) or the file cannot be written.
int recceldef_naar_file(const Environment& env, std::FILE* file, const CalculationVariables& cv,
                        const std::string& problemName, const FileDateSource& fileDate = ZONIQFileDateTime);

}  // namespace zoniq
