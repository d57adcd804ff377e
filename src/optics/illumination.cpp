#include "optics/illumination.hpp"

#include <cmath>

#include "celldef/data_files.hpp"
#include "common/format.hpp"
#include "common/zoniq_paths.hpp"
#include "optics/generation.hpp"
#include "optics/interp.hpp"
#include "optics/spectrum.hpp"

namespace zoniq {

namespace {

std::string UnsortedText(const std::string& file, const std::vector<double>& x, int bad, const char* what) {
  return "Unsorted data in " + file + "!\n" + what + " should be given in an increasing way.\n" + num(x[bad]) +
         " should be larger than " + num(x[bad - 1]) + "!";
}

}  // namespace

int bepaal_spectrum(const Environment& env, WorkPoint& wp, std::vector<double>& wavelengths,
                    std::vector<double>& power) {
  if (wp.dark) {
    wavelengths = {200.0, 5000.0};
    power = {0.0, 0.0};
    wp.spectrumPower = wp.windowPower = wp.incidentPower = 0.0;
    return 2;
  }
  const int count = tel_lijnen_in_file(wp.spectrumFile, FK_SPECTRUM, env);
  if (count < 0) return 0;
  if (count > kMaxSpectrumPoints) {
    env.Popup("Error !",
              "The spectrum file contains too many (>" + std::to_string(count) + " ) different wavelengths.");
    return 0;
  }
  std::vector<double> wl, p;
  if (lees_file(wp.spectrumFile, wl, p, FK_SPECTRUM, env) <= 0) return 0;
  // A falling or repeated wavelength has no spectral bin: such a file is refused.
  if (const int bad = FirstUnsortedIndex(wl); bad >= 0) {
    env.Error("Error whilst reading the spectrum file", UnsortedText(wp.spectrumFile, wl, bad, "wavelength values"));
    return 0;
  }
  const int nFile = static_cast<int>(wl.size());
  if (wp.spectrumCutOff && nFile >= 2) {
    const double start = wp.shortWavelengthCutOff, end = wp.longWavelengthCutOff;
    wl.insert(wl.end(), {start, 0.5 * (start + end), end});
    p.insert(p.end(), {0.0, 0.0, 0.0});
    int nOut = 0;
    if (SpectrumInterpolation(wl, p, nFile, nOut) != 1) return 0;
  }
  // Every point must carry a finite, non-negative number of photons.
  double total = 0.0;
  for (std::size_t i = 0; i < wl.size(); ++i) {
    const double photons = p[i] * wl[i] * kPhotonsPerWattNm;
    if (!(wl[i] > 0.0) || !(p[i] >= 0.0) || !std::isfinite(photons)) {
      env.Error("Error whilst reading the spectrum file",
                "The spectrum file " + wp.spectrumFile + " cannot be used: at " + num(wl[i]) +
                    " nm it gives a power of " + num(p[i]) +
                    " W/m2.\nWavelengths must be positive and powers positive or zero.");
      return 0;
    }
    total += p[i];
  }
  if (!std::isfinite(total)) {
    env.Error("Error whilst reading the spectrum file",
              "The spectrum file " + wp.spectrumFile + " cannot be used: its powers do not add up to a finite number.");
    return 0;
  }
  wp.spectrumPower = total;
  wp.windowPower = wp.spectrumCutOff ? WindowPower(wl, p, wp.shortWavelengthCutOff, wp.longWavelengthCutOff) : total;
  wp.incidentPower = wp.windowPower * std::pow(10.0, -wp.neutralDensity);
  wavelengths = std::move(wl);
  power = std::move(p);
  return static_cast<int>(wavelengths.size());
}

int ReadFilterValues(const Environment& env, const std::string& file, std::vector<double>& values,
                     const std::vector<double>& wavelengths) {
  const int count = tel_lijnen_in_file(file, FK_FILTER, env);
  if (count < 0) return 0;
  if (count > kMaxSpectrumPoints) {
    env.Popup("Error !", "The filtervalues from file '" + file + "' contains too many (" + std::to_string(count) + ">" +
                             std::to_string(kMaxSpectrumPoints) + ") different wavelengths.");
    return 0;
  }
  std::vector<double> x, y;
  if (lees_file(file, x, y, FK_FILTER, env) <= 0) return 0;
  if (const int bad = FirstUnsortedIndex(x); bad >= 0) {
    env.Error("Error whilst reading the filter file", UnsortedText(file, x, bad, "wavelength values"));
    return 0;
  }
  values.resize(wavelengths.size(), 0.0);
  bool allInterpolated = true;
  for (std::size_t i = 0; i < wavelengths.size(); ++i) {
    double v = 0.0;
    if (LinInterp(nullptr, x.data(), y.data(), static_cast<int>(x.size()), wavelengths[i], v) == 1)
      values[i] = v;
    else
      allInterpolated = false;
  }
  if (!allInterpolated)
    env.Popup("Error !", "The filtervalues from file '" + file +
                             "' cannot be interpolated at the wavelengthvalues from the spectrum.");
  return 1;
}

int BerekenFilterSpectra(const Environment& env, GenerationParameters& gen, const CellDefinition& cell) {
  const std::size_t n = gen.wavelengths.size();
  int ok = 1;
  // Light from the right: the right contact is the front (transmission wanted), the left the
  // back (reflection wanted); from the left the reverse.
  auto fill = [&](const ContactParameters& c, std::vector<double>& values, bool wantReflection) {
    values.assign(n, c.filterValue);
    if (c.filterOn && !c.wavelengthIndependent && ReadFilterValues(env, c.filterFile, values, gen.wavelengths) != 1)
      ok = 0;
    CalculateFilterValues(c.filterOn, c.filterKind, wantReflection ? 1 : 0, values);
  };
  fill(cell.rightContact, gen.rightFilter, gen.side < 0);
  fill(cell.leftContact, gen.leftFilter, gen.side > 0);
  // A front that lets through less than nothing or more than everything has no meaning.
  const std::vector<double>& front = gen.side < 0 ? gen.leftFilter : gen.rightFilter;
  for (std::size_t k = 0; k < front.size() && k < n; ++k)
    if (!(front[k] >= 0.0 && front[k] <= 1.0)) {
      env.Error("Error in the optical filters",
                "The transmission of the front contact must lie between 0 and 100 %; at " + num(gen.wavelengths[k]) +
                    " nm it is " + num(front[k] * 100.0) + " %.");
      return 0;
    }
  // Two perfect mirrors around a stack that does not absorb at some wavelength would make the
  // multiple reflections diverge: refused here, before any flux is computed.
  if (!CheckMultipleReflection(env, gen)) ok = 0;
  return ok;
}

}  // namespace zoniq
