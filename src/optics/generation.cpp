#include "optics/generation.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "celldef/data_files.hpp"
#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/zoniq_paths.hpp"
#include "optics/spectrum.hpp"
#include "solver/x_dependence.hpp"

namespace zoniq {

namespace {

constexpr const char* kGenFileTitle = "Error trying to read the generation file G(x)";
// A mesh point this close (relative) to an end of a generation file lies on that end.
constexpr double kFileEndTolerance = 1e-9;
// Below this the multiple-reflection denominator is taken as vanished.
constexpr double kSmallestDenominator = 1e-12;

// The photon flux of the light that enters and of the light reflected at the back, through
// the mesh in the order the light meets the points (from the front). Per interval each wave
// decays with the absorption of the point it comes from, as in the optical depths
//   D_i = Σ_{j<i} Δx_j·α_j (from the left),  E_i = Σ_{j>=i} Δx_j·α_{j+1} (from the right).
// Each point's box runs to the midpoints of its intervals; the photons a wave loses in a
// half interval, Φ_in·(1 − exp(−α·Δx/2)), are credited to the point that owns that half, so the
// boxes together absorb exactly what enters minus what leaves. All wavelengths k0 … k1−1 are
// advanced together point by point, which walks the point-major absorption table in order.
// Returns the first wavelength index whose multiple-reflection denominator vanishes, or −1.
int PropagateFlux(const CalculationVariables& cv, GenerationParameters& gen, int k0, int k1) {
  const int n = cv.mesh.N;
  const int nwl = gen.numberOfWavelengths;
  const SharedTable& alphaL = cv.alphaL;
  const int* col = gen.alphaColumn.data();
  const double* x = cv.mesh.x.data();
  double* flux = gen.flux.data();
  double* sg = gen.spectralGeneration.data();
  double* wave = gen.travelling.data();
  double* depthIn = gen.depthIn.data();
  double* depthBack = gen.depthBack.data();
  const bool fromLeft = gen.side < 0;
  // Mesh index of the t-th point met by the light that enters.
  auto at = [&](int t) { return fromLeft ? t : n - 1 - t; };
  // The spectrum's wavelengths are usually the table's own columns: then no index is looked up.
  bool sameColumns = true;
  for (int k = k0; k < k1 && sameColumns; ++k) sameColumns = col[k] == k;
  auto alpha = [&](const double* row, int k) {
    const double a = sameColumns ? row[k] : row[col[k]];
    return a > 0.0 ? a : 0.0;  // a negative or undefined table value absorbs nothing
  };
  const bool keep = gen.keepFlux;
  // The row of point i in the flux table, when there is one.
  auto fluxRow = [&](int i) { return keep ? flux + static_cast<std::size_t>(i) * nwl : nullptr; };
  // The generation of each point summed as its row is finished, when the row is complete.
  const bool sum = k0 == 0 && k1 == nwl;
  gen.rowsSummed = sum;
  // e = exp(−a) and m = 1 − e with one transcendental call, without cancellation for small a.
  auto decay = [](double a, double& e, double& m) {
    if (a < 0.5) {
      m = -std::expm1(-a);
      e = 1.0 - m;
    } else {
      e = std::exp(-a);
      m = 1.0 - e;
    }
  };

  // Wavelengths without light are skipped: their wave is zero from the start.
  for (int k = k0; k < k1; ++k) {
    wave[k] = gen.incomingFlux_us[static_cast<std::size_t>(k)] != 0.0 ? 1.0 : 0.0;
    depthIn[k] = depthBack[k] = 0.0;
  }
  // Past the last wavelength a point absorbs (below the gaps, most of the spectrum) a wave passes
  // its intervals unchanged and generates nothing there: the loops stop at that wavelength (every
  // skipped generation entry is an exact zero). The flux table, when kept, needs every wavelength.
  int* end = gen.absorbingEnd.data();
  for (int i = 0; i < n; ++i) {
    const double* row = alphaL.Row(static_cast<std::size_t>(i));
    int e = k1;
    while (!keep && e > k0 && alpha(row, e - 1) == 0.0) --e;
    end[i] = e;
  }
  // The wavelengths a point's row may receive: from its own intervals and its neighbours' waves.
  auto written = [&](int i) { return std::max({end[i], i > 0 ? end[i - 1] : k0, i + 1 < n ? end[i + 1] : k0}); };
  // The light that enters, from the front to the back.
  for (int t = 0; t < n; ++t) {
    const int i = at(t);
    double* fi = fluxRow(i);
    double* gi = sg + static_cast<std::size_t>(i) * nwl;
    if (t == 0) {
      for (int k = k0; k < k1; ++k) gi[k] = 0.0;
      int& zero = gen.zeroFrom[static_cast<std::size_t>(i)];
      zero = k0 == 0 && k1 == nwl ? written(i) : std::max(zero, std::min(written(i), k1));
    }
    if (t + 1 == n) {
      if (keep)
        for (int k = k0; k < k1; ++k) fi[k] = wave[k];
      break;
    }
    const int j = at(t + 1);
    const double dx = std::fabs(x[j] - x[i]);
    double* gj = sg + static_cast<std::size_t>(j) * nwl;
    const double* rowI = alphaL.Row(static_cast<std::size_t>(i));
    const double* rowJ = alphaL.Row(static_cast<std::size_t>(j));
    const int kEnd = std::max(end[i], end[j]);
    // Past kEnd the row starts at zero (the reflected wave may still add up to `written`); beyond
    // what it held before it holds zeros already.
    int& zero = gen.zeroFrom[static_cast<std::size_t>(j)];
    const int w = written(j);
    if (k0 == 0 && k1 == nwl) {
      std::fill(gj + kEnd, gj + std::max(w, zero), 0.0);
      zero = w;
    } else {
      std::fill(gj + kEnd, gj + k1, 0.0);
      zero = std::max(zero, std::min(w, k1));
    }
    for (int k = k0; k < kEnd; ++k) {
      const double ai = alpha(rowI, k) * dx, aj = alpha(rowJ, k) * dx;
      depthIn[k] += ai;
      depthBack[k] += aj;
      if (keep) fi[k] = wave[k];
      // Nothing left to absorb (no light, or all of it absorbed already), or a transparent
      // interval: the wave passes unchanged.
      if (wave[k] == 0.0 || ai == 0.0) {
        gj[k] = 0.0;
        continue;
      }
      double e, m;
      decay(0.5 * ai, e, m);
      gi[k] += wave[k] * m;
      gj[k] = wave[k] * e * m;
      wave[k] *= e * e;
    }
  }
  // Multiple reflections between back and front: every amplitude is divided by the
  // denominator 1 − Rfront·Rb·exp(−(round-trip optical depth)).
  double* scale = gen.scale.data();
  const double* Rb = gen.backReflection.data();
  int failed = -1;
  for (int k = k0; k < k1; ++k) {
    const double den = 1.0 - gen.Rfront * Rb[k] * std::exp(-(depthIn[k] + depthBack[k]));
    if (!(den > kSmallestDenominator) || !std::isfinite(den)) {
      if (failed < 0) failed = k;
      scale[k] = 0.0;
    } else {
      scale[k] = gen.incomingFlux_us[static_cast<std::size_t>(k)] / den;
    }
    wave[k] *= Rb[k];  // the reflected wave starts at the back
  }
  // The reflected light, from the back to the front; a point is complete once both of its
  // half intervals have been passed, and is then scaled to the solver's units.
  const double* ps = gen.pointScale.data();
  const double* bw = gen.boxWidth.data();
  auto finish = [&](int i) {
    double* fi = fluxRow(i);
    double* gi = sg + static_cast<std::size_t>(i) * nwl;
    const double c = ps[i];
    const double cg = bw[i] > 0.0 ? c / bw[i] : 0.0;
    if (keep)
      for (int k = k0; k < k1; ++k) fi[k] *= scale[k] * c;
    const int kEnd = written(i);
    double g = 0.0;
    for (int k = k0; k < kEnd; ++k) {
      gi[k] *= scale[k] * cg;
      g += gi[k];
    }
    if (sum) gen.G[i] = g;
  };
  for (int t = n - 1; t > 0; --t) {
    const int i = at(t), j = at(t - 1);
    const double dx = std::fabs(x[j] - x[i]);
    double* fi = fluxRow(i);
    double* gi = sg + static_cast<std::size_t>(i) * nwl;
    double* gj = sg + static_cast<std::size_t>(j) * nwl;
    const double* rowI = alphaL.Row(static_cast<std::size_t>(i));
    for (int k = k0; k < end[i]; ++k) {
      if (wave[k] == 0.0) continue;  // no back reflection, or nothing left of it
      if (keep) fi[k] += wave[k];
      const double a = alpha(rowI, k) * dx;
      if (a == 0.0) continue;
      double e, m;
      decay(0.5 * a, e, m);
      gi[k] += wave[k] * m;
      gj[k] += wave[k] * e * m;
      wave[k] *= e * e;
    }
    finish(i);
  }
  {
    const int i = at(0);
    double* fi = fluxRow(i);
    if (keep)
      for (int k = k0; k < k1; ++k) fi[k] += wave[k];
    finish(i);
  }
  return failed;
}

// Sizes the work storage for the spectrum and the mesh once; nothing is allocated when called
// again with the same spectrum.
void SizeStorage(GenerationParameters& gen, int points) {
  const std::size_t nwl = static_cast<std::size_t>(gen.numberOfWavelengths);
  // Room for the largest mesh is reserved (not touched), so that a refined mesh needs no new
  // storage; the tables cover the present mesh.
  const std::size_t table = nwl * static_cast<std::size_t>(points);
  const std::size_t room = nwl * static_cast<std::size_t>(MAXPOINTS);
  for (std::vector<double>* v : {&gen.flux, &gen.spectralGeneration}) {
    if (v == &gen.flux && !gen.keepFlux) continue;
    if (v->capacity() < room) v->reserve(room);
    if (v->size() < table) v->resize(table, 0.0);
  }
  for (std::vector<double>* v : {&gen.travelling, &gen.depthIn, &gen.depthBack, &gen.scale, &gen.backReflection})
    if (v->size() != nwl) v->assign(nwl, 0.0);
  if (gen.pointScale.size() != static_cast<std::size_t>(MAXPOINTS)) gen.pointScale.assign(MAXPOINTS, 0.0);
  if (gen.absorbingEnd.size() != static_cast<std::size_t>(MAXPOINTS)) gen.absorbingEnd.assign(MAXPOINTS, 0);
  if (gen.zeroFromWidth != static_cast<int>(nwl) || gen.zeroFrom.size() != static_cast<std::size_t>(MAXPOINTS)) {
    gen.zeroFrom.assign(MAXPOINTS, static_cast<int>(nwl));
    gen.zeroFromWidth = static_cast<int>(nwl);
  }
  if (gen.boxWidth.size() != static_cast<std::size_t>(MAXPOINTS)) gen.boxWidth.assign(MAXPOINTS, 0.0);
  if (gen.G.size() != static_cast<std::size_t>(MAXPOINTS)) gen.G.assign(MAXPOINTS, 0.0);
}

// Columns of gen's wavelengths in the absorption table of cv (found by exact value; both
// lists rise). Returns false when a wavelength has no column.
bool MapAbsorptionColumns(const CalculationVariables& cv, GenerationParameters& gen) {
  const std::size_t nwl = static_cast<std::size_t>(gen.numberOfWavelengths);
  if (gen.alphaColumn.size() != nwl) gen.alphaColumn.assign(nwl, 0);
  const std::vector<double>& table = cv.wavelengths;
  if (cv.alphaL.points() < static_cast<std::size_t>(cv.mesh.N) || cv.alphaL.width() < table.size()) return false;
  std::size_t c = 0;  // both lists rise: look at the next column first
  for (std::size_t k = 0; k < nwl; ++k) {
    const double w = gen.wavelengths[k];
    if (!(c < table.size() && table[c] == w)) {
      const auto it = std::find(table.begin(), table.end(), w);
      if (it == table.end()) return false;
      c = static_cast<std::size_t>(it - table.begin());
    }
    gen.alphaColumn[k] = static_cast<int>(c);
    ++c;
  }
  return true;
}

// Per point: the factor L/(S_l·Dmax) that turns a photon flux [1/m2/s] into the solver's
// units of the point's layer, and the box width (normalised).
void FillPointFactors(const CalculationVariables& cv, GenerationParameters& gen) {
  const Schaal& s = cv.par->schaal;
  const MeshBlock& m = cv.mesh;
  for (int l = 0; l < cv.par->nlayers; ++l)
    for (int i = m.first[l]; i <= m.last[l] && i < m.N; ++i) gen.pointScale[i] = s.L / (s.S[l] * s.Dmax);
  for (int i = 0; i < m.N; ++i) {
    const double hl = i > 0 ? m.x[i] - m.x[i - 1] : 0.0;
    const double hr = i + 1 < m.N ? m.x[i + 1] - m.x[i] : 0.0;
    gen.boxWidth[i] = 0.5 * (hl + hr);
  }
}

std::string UnsortedPositions(const std::string& path, const std::vector<double>& x, int bad) {
  return "Unsorted data in " + path + "!\nx-positions should be given in an increasing way.\n" + num(x[bad] * 1e6) +
         " should be larger than " + num(x[bad - 1] * 1e6) + "!";
}

// The generation file is still a placeholder (no name, or the folder's wildcard pattern).
bool UndefinedGenerationPath(const std::string& path) {
  return path.empty() || path.find('*') != std::string::npos || path.find('?') != std::string::npos;
}

// The file profile on the mesh in the solver's units: linear between file points, the file
// value at a file point, zero outside the file's range except within a rounding tolerance of
// its ends. The file's positions rise strictly.
void InterpolateFileProfile(CalculationVariables& cv, GenerationParameters& gen, bool toSolver) {
  const int n = cv.mesh.N;
  SizeStorage(gen, cv.mesh.N);
  gen.meshPoints = n;
  gen.generationCurrent = 0;
  const std::vector<double>& p = gen.filePositions;
  const std::vector<double>& g = gen.fileGeneration;
  const std::size_t m = std::min(p.size(), g.size());
  const Schaal& s = cv.par->schaal;
  const double tol = m > 0 ? kFileEndTolerance * std::max(std::fabs(p.front()), std::fabs(p[m - 1])) : 0.0;
  for (int l = 0; l < cv.par->nlayers; ++l) {
    const double unit = s.L * s.L / (s.S[l] * s.Dmax);  // [1/m3/s] -> S_l·Dmax/L²
    std::size_t j = 0;
    for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l] && i < n; ++i) {
      const double xi = cv.mesh.xm[i];
      double value = 0.0;
      if (m == 0) {
        value = 0.0;
      } else if (xi <= p.front()) {
        value = p.front() - xi <= tol ? g.front() : 0.0;
      } else if (xi >= p[m - 1]) {
        value = xi - p[m - 1] <= tol ? g[m - 1] : 0.0;
      } else {
        // p[j] < xi < p[m-1]: the interval p[j] ≤ xi < p[j+1]; the mesh rises within a layer
        if (j > 0 && p[j] > xi) j = 0;
        while (j + 1 < m && p[j + 1] <= xi) ++j;
        // As a weighted mean of the two rates, which cannot overflow whatever the positions.
        const double t = (xi - p[j]) / (p[j + 1] - p[j]);
        value = xi == p[j] ? g[j] : (1.0 - t) * g[j] + t * g[j + 1];
      }
      gen.G[i] = value * unit;
    }
  }
  if (toSolver)
    for (int i = 0; i < n; ++i) cv.G[i] = gen.lightFactor * gen.G[i];
}

}  // namespace

void CalculateIncomingFluxes(GenerationParameters& gen, double factor, int mode) {
  gen.generationCurrent = 0;
  const std::size_t n = std::min(gen.wavelengths.size(), gen.watt_lambda.size());
  gen.numberOfWavelengths = static_cast<int>(n);
  gen.incomingFlux_us.assign(n, 0.0);
  if (mode != 0 && mode != 1) return;
  const double ndT = mode == 0 ? gen.ndTransmission : 1.0;
  const std::vector<double>& front = gen.side < 0 ? gen.leftFilter : gen.rightFilter;
  std::vector<double> w;
  if (mode == 0 && gen.windowOn)
    WindowWeights(gen.wavelengths, gen.windowStart, gen.windowEnd, w);
  else
    w.assign(n, 1.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double T = i < front.size() ? front[i] : 1.0;
    gen.incomingFlux_us[i] = T * gen.wavelengths[i] * gen.watt_lambda[i] * factor * ndT * w[i];
  }
}

int PrepareAbsorption(CalculationVariables& cv, GenerationParameters& gen) {
  gen.generationCurrent = 0;
  gen.wavelengthCopy.assign(gen.wavelengths.begin(), gen.wavelengths.end());
  bepaal_alfa(cv, gen.wavelengthCopy);
  gen.alphaMesh.assign(cv.mesh.x.begin(), cv.mesh.x.begin() + cv.mesh.N);
  return 1;
}

namespace {

// The flux and spectral generation of the wavelengths k0 … k1−1. Returns 1, or 0 after a report.
int FluxRange(CalculationVariables& cv, GenerationParameters& gen, int k0, int k1, int mode) {
  const int n = cv.mesh.N;
  const std::size_t nwl = gen.wavelengths.size();
  gen.numberOfWavelengths = static_cast<int>(nwl);
  if (gen.incomingFlux_us.size() != nwl) gen.incomingFlux_us.assign(nwl, 0.0);  // no light prepared
  SizeStorage(gen, cv.mesh.N);
  gen.meshPoints = n;
  gen.generationCurrent = 0;
  k0 = std::max(k0, 0);
  k1 = std::min(k1, static_cast<int>(nwl));
  if (n < 1 || k0 >= k1) return 1;
  gen.rowsSummed = false;
  auto zero = [&]() {
    for (int i = 0; i < n; ++i) {
      const auto row = static_cast<std::size_t>(i) * nwl;
      std::fill_n(gen.spectralGeneration.begin() + static_cast<long>(row + static_cast<std::size_t>(k0)), k1 - k0, 0.0);
      if (gen.keepFlux) std::fill_n(gen.flux.begin() + static_cast<long>(row + static_cast<std::size_t>(k0)), k1 - k0, 0.0);
    }
  };
  bool lit = false;
  for (int k = k0; k < k1; ++k) lit = lit || gen.incomingFlux_us[static_cast<std::size_t>(k)] != 0.0;
  // Generation from a file: no light is propagated through the layers.
  if (mode == 1 || !lit) {
    zero();
    return 1;
  }
  if (!MapAbsorptionColumns(cv, gen)) {
    zero();
    SolverMessage(cv, "Error in CalculateFluxes",
                  "The absorption of the layers is not known at the wavelengths of the illumination.", false);
    return 0;
  }
  const std::vector<double>& back = gen.side < 0 ? gen.rightFilter : gen.leftFilter;
  for (std::size_t k = 0; k < nwl; ++k) gen.backReflection[k] = k < back.size() ? back[k] : 0.0;
  FillPointFactors(cv, gen);
  // Optical capture by defect levels (IPV_Mode) is not added to the absorption here.
  const int failed = PropagateFlux(cv, gen, k0, k1);
  if (failed >= 0) {
    const std::size_t k = static_cast<std::size_t>(failed);
    SolverMessage(cv, "Error in the optical generation",
                  "The internal reflection at the front (" + num(gen.Rfront) + ") and the reflection at the back (" +
                      num(gen.backReflection[k]) + ") trap the light of " + num(gen.wavelengths[k]) +
                      " nm, which the layers do not absorb: its flux would be infinite.\n"
                      "No generation is computed at such wavelengths.",
                  false);
    return 0;
  }
  return 1;
}

}  // namespace

int CalculateFluxesEverywhere(CalculationVariables& cv, GenerationParameters& gen, int k, int mode) {
  return FluxRange(cv, gen, k, k + 1, mode);
}

int CalculateFluxes(CalculationVariables& cv, GenerationParameters& gen, int mode) {
  return FluxRange(cv, gen, 0, static_cast<int>(gen.wavelengths.size()), mode);
}

void CalculateGeneration(CalculationVariables& cv, GenerationParameters& gen, bool toSolver) {
  const int n = cv.mesh.N;
  SizeStorage(gen, cv.mesh.N);
  gen.fromFile = 0;
  const std::size_t nwl = static_cast<std::size_t>(gen.numberOfWavelengths);
  // Flux computed on another mesh: nothing valid to sum.
  const bool valid = gen.meshPoints == n;
  if (!(valid && gen.rowsSummed))
    for (int i = 0; i < n; ++i) {
      double sum = 0.0;
      if (valid) {
        const double* row = gen.spectralGeneration.data() + static_cast<std::size_t>(i) * nwl;
        for (std::size_t k = 0; k < nwl; ++k) sum += row[k];
      }
      gen.G[i] = sum;
    }
  if (valid) {
    if (gen.generationMesh.capacity() < static_cast<std::size_t>(MAXPOINTS)) gen.generationMesh.reserve(MAXPOINTS);
    gen.generationMesh.assign(cv.mesh.x.begin(), cv.mesh.x.begin() + n);
    gen.generationCurrent = 1;
  }
  if (toSolver)
    for (int i = 0; i < n; ++i) cv.G[i] = gen.lightFactor * gen.G[i];
}

void ClearGeneration(CalculationVariables& cv, GenerationParameters& gen) {
  const int n = cv.mesh.N;
  SizeStorage(gen, n);
  gen.fromFile = 0;
  gen.meshPoints = 0;  // the spectral tables hold nothing for this mesh
  gen.rowsSummed = false;
  std::fill_n(gen.G.begin(), n, 0.0);
  std::fill_n(cv.G.begin(), n, 0.0);
  gen.generationMesh.assign(cv.mesh.x.begin(), cv.mesh.x.begin() + n);
  gen.generationCurrent = 1;
}

int GetGenerationFromFile(const Environment& env, const WorkPoint& wp, std::vector<double>& positions,
                          std::vector<double>& generation, int& count) {
  if (UndefinedGenerationPath(wp.generationFile)) {
    env.Error(kGenFileTitle,
              "Path with the generation file not yet defined.\nFirst define an existing generation filename in the "
              "action panel");
    return -1;
  }
  std::string path = wp.generationFile;
  MakeFullPath(env.programFolder, path, FK_GENERATION);
  std::error_code ec;
  const auto size = std::filesystem::file_size(std::filesystem::path(NativePath(path)), ec);
  if (ec || size == static_cast<std::uintmax_t>(-1)) {
    std::string reason;
    if (ec == std::errc::io_error)
      reason = "General I/O error occurred";
    else if (ec == std::errc::not_enough_memory)
      reason = "Insufficient memory to complete the operation";
    else
      reason = "Return status from GetFileSize(): " + std::to_string(ec.value()) + " (" + ec.message() + ")";
    env.Error("Error trying to get the filesize of the generation file G(x)",
              "Path of the generation file: " + path + "\n" + reason);
    return -1;
  }
  std::vector<double> x, y;
  const int n = ReadDataFile(path, x, y, FK_GENERATION, env, false);
  if (n < 0) {
    if (!std::ifstream(NativePath(path))) {
      lees_file(path, x, y, FK_GENERATION, env);  // reports why the file cannot be opened
      return -1;
    }
    env.Error(kGenFileTitle, "The generation file '" + path + "' contains no points");
    return -1;
  }
  if (n > kMaxGenerationPoints) {
    const int total = tel_lijnen_in_file(path, FK_GENERATION, env);
    env.Error(kGenFileTitle, "The generation file '" + path + "' contains too many" +
                                 std::to_string(std::max(total, n)) + "(>" + std::to_string(kMaxGenerationPoints) +
                                 ") points.");
    return -1;
  }
  // A falling position would give G = 0 everywhere without notice: refused. Equal positions
  // are left to the caller that interpolates.
  for (int i = 1; i < n; ++i)
    if (x[i] < x[i - 1]) {
      env.Error(kGenFileTitle, UnsortedPositions(path, x, i));
      return -1;
    }
  for (int i = 0; i < n; ++i)
    if (y[i] < 0.0) {
      env.Error(kGenFileTitle, "The generation file '" + path + "' contains a negative generation (" + num(y[i]) +
                                   " at x = " + num(x[i] * 1e6) + " micrometre).");
      return -1;
    }
  if (!(wp.attenuation >= 0.0) || !std::isfinite(wp.attenuation)) {
    env.Error(kGenFileTitle, "The attenuation of the generation file must be a number of at least 0 % (given: " +
                                 num(wp.attenuation) + ").");
    return -1;
  }
  const double f = wp.attenuation / 100.0;
  for (double& v : y) v *= f;
  positions = std::move(x);
  generation = std::move(y);
  count = n;
  return 0;
}

int bereken_generatie_uit_file(const Environment& env, CalculationVariables& cv, GenerationParameters& gen,
                               const WorkPoint& wp, bool toSolver) {
  if (wp.dark) {
    gen.fromFile = 1;
    gen.filePositions.clear();
    gen.fileGeneration.clear();
    InterpolateFileProfile(cv, gen, toSolver);
    return 1;
  }
  std::vector<double> x, y;
  int count = 0;
  if (GetGenerationFromFile(env, wp, x, y, count) != 0) return 0;
  for (int i = 1; i < count; ++i)
    if (x[i] == x[i - 1]) {
      env.Error("Error !", "The generationfile contains 2 equal x-positions!");
      return 0;
    }
  // Every rate must stay a number in the solver's units of every layer.
  const Schaal& s = cv.par->schaal;
  for (int l = 0; l < cv.par->nlayers; ++l) {
    const double unit = s.L * s.L / (s.S[l] * s.Dmax);
    for (int i = 0; i < count; ++i)
      if (!std::isfinite(y[i] * unit)) {
        env.Error(kGenFileTitle, "The generation file '" + wp.generationFile +
                                     "' holds generation rates too large to calculate with.");
        return 0;
      }
  }
  gen.fromFile = 1;
  gen.filePositions = std::move(x);
  gen.fileGeneration = std::move(y);
  InterpolateFileProfile(cv, gen, toSolver);
  return 1;
}

double IntegrateGenerationCurrent(const std::vector<double>& positions, const std::vector<double>& generation) {
  const std::size_t n = std::min(positions.size(), generation.size());
  if (n < 2) return 0.0;
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double lo = i > 0 ? positions[i - 1] : positions[0];
    const double hi = i + 1 < n ? positions[i + 1] : positions[n - 1];
    sum += generation[i] * 0.5 * (hi - lo);
  }
  return kGenerationCurrentFactor * sum;
}

int CalculateIdealGenerationCurrent(const Environment& env, WorkPoint& wp) {
  WorkPoint unattenuated = wp;
  unattenuated.attenuation = 100.0;
  std::vector<double> x, y;
  int count = 0;
  if (GetGenerationFromFile(env, unattenuated, x, y, count) != 0) return -1;
  const double current = IntegrateGenerationCurrent(x, y);
  if (!std::isfinite(current)) {
    env.Error(kGenFileTitle, "The generation file '" + unattenuated.generationFile +
                                 "' holds generation rates too large to integrate.");
    return -1;
  }
  wp.idealGenerationCurrent = current;
  return 0;
}

void AddQEGeneration(CalculationVariables& cv, const GenerationParameters& genA, const GenerationParameters& genB,
                     GenerationParameters& genSum) {
  const int n = cv.mesh.N;
  SizeStorage(genSum, cv.mesh.N);
  genSum.meshPoints = n;
  for (int i = 0; i < n; ++i) {
    const double a = static_cast<std::size_t>(i) < genA.G.size() ? genA.G[i] : 0.0;
    const double b = static_cast<std::size_t>(i) < genB.G.size() ? genB.G[i] : 0.0;
    genSum.G[i] = a + b;
    cv.G[i] = genSum.lightFactor * genSum.G[i];
  }
}

void RemoveQEGeneration(CalculationVariables& cv, const GenerationParameters& genB, GenerationParameters& genSum) {
  const int n = cv.mesh.N;
  SizeStorage(genSum, cv.mesh.N);
  for (int i = 0; i < n; ++i) {
    genSum.G[i] -= static_cast<std::size_t>(i) < genB.G.size() ? genB.G[i] : 0.0;
    cv.G[i] = genSum.lightFactor * genSum.G[i];
  }
}

void SetGenerationFactor(CalculationVariables& cv, GenerationParameters& gen, double factor) {
  gen.lightFactor = factor;
  // gen.G may belong to the mesh of another stored solution: brought onto cv's mesh first
  // (on the same mesh only the factor is applied).
  RecomputeGeneration(cv, gen);
}

int RecomputeGeneration(CalculationVariables& cv, GenerationParameters& gen) {
  if (gen.fromFile) {
    InterpolateFileProfile(cv, gen, true);
    return 1;
  }
  const int n = cv.mesh.N;
  auto onMesh = [&](const std::vector<double>& x) {
    return x.size() == static_cast<std::size_t>(n) && std::equal(x.begin(), x.end(), cv.mesh.x.begin());
  };
  // Nothing changed since G was computed (a sweep starting from a stored solution): the
  // profile only needs the light factor.
  if (gen.generationCurrent && onMesh(gen.generationMesh)) {
    for (int i = 0; i < n; ++i) cv.G[i] = gen.lightFactor * gen.G[i];
    return 1;
  }
  if (!onMesh(gen.alphaMesh)) {
    // The absorption of the new points (the composition may vary over the layer).
    gen.wavelengthCopy.assign(cv.wavelengths.begin(), cv.wavelengths.end());
    bepaal_alfa(cv, gen.wavelengthCopy);
    gen.alphaMesh.assign(cv.mesh.x.begin(), cv.mesh.x.begin() + n);
  }
  const int ok = CalculateFluxes(cv, gen, 0);
  CalculateGeneration(cv, gen, true);
  return ok;
}

void InstallGenerationHook(CalculationVariables& cv, GenerationParameters& gen) {
  GenerationParameters* g = &gen;
  cv.regenerate = [g](CalculationVariables& c) { RecomputeGeneration(c, *g); };
}

int CheckMultipleReflection(const Environment& env, const GenerationParameters& gen) {
  const char* title = "Error in the optical filters";
  if (!(gen.Rfront >= 0.0 && gen.Rfront <= 1.0)) {
    env.Error(title, "The internal reflection at the front must lie between 0 and 1 (given: " + num(gen.Rfront) + ").");
    return 0;
  }
  const std::vector<double>& back = gen.side < 0 ? gen.rightFilter : gen.leftFilter;
  for (std::size_t k = 0; k < back.size() && k < gen.wavelengths.size(); ++k) {
    const double Rb = back[k];
    if (!(Rb >= 0.0 && Rb <= 1.0)) {
      env.Error(title, "The reflection of the back contact must lie between 0 and 100 %; at " +
                           num(gen.wavelengths[k]) + " nm it is " + num(Rb * 100.0) + " %.");
      return 0;
    }
    if (gen.Rfront * Rb >= 1.0) {
      env.Error(title, "The internal reflection at the front and the reflection of the back contact are both 1 (at " +
                           num(gen.wavelengths[k]) +
                           " nm): light that the layers do not absorb would be reflected back and forth without "
                           "end.\nLower one of the two reflections.");
      return 0;
    }
  }
  return 1;
}

}  // namespace zoniq
