// Reading the illumination spectrum and the contact filters of a working point.
#pragma once

#include <string>
#include <vector>

#include "celldef/cell_definition.hpp"
#include "celldef/work_point.hpp"
#include "optics/generation_parameters.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

inline constexpr int kMaxSpectrumPoints = 2500;

// The spectrum of the working point: two dark points (200 and 5000 nm, no power) when dark,
// otherwise the spectrum file with the window points added. Fills the working point's spectrum,
// window and incident power. Returns the number of spectral points, 0 on error.
int bepaal_spectrum(const Environment& env, WorkPoint& wp, std::vector<double>& wavelengths,
                    std::vector<double>& power);

// The filter values of one contact's file [%], interpolated at the spectrum's wavelengths.
// Values that cannot be interpolated keep what `values` held. Returns 1, or 0 on failure.
int ReadFilterValues(const Environment& env, const std::string& file, std::vector<double>& values,
                     const std::vector<double>& wavelengths);

// Both contact filter arrays of `gen` for its side and spectrum (cell in SI units), then the
// check of the multiple reflections against gen.Rfront (set it first). Returns 1, or 0 when a
// filter file failed or the reflections would trap light (CheckMultipleReflection).
int BerekenFilterSpectra(const Environment& env, GenerationParameters& gen, const CellDefinition& cell);

}  // namespace zoniq
