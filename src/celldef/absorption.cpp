#include "celldef/absorption.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "celldef/data_files.hpp"
#include "celldef/interpolation.hpp"
#include "common/format.hpp"
#include "common/zoniq_paths.hpp"

namespace zoniq {

namespace {

constexpr double kZeroRatio = 1e-10;  // a zero next to a positive α counts as this fraction of it

// exp of the straight line through (w0, ln a) and (w1, ln b) at λ; a, b > 0. Far outside the
// interval a falling line gives 0, never a non-finite value.
double LogLine(double w0, double a, double w1, double b, double lambda) {
  const double width = w1 - w0;
  if (a == b || !(width > 0.0) || !std::isfinite(width)) return a;
  const double t = (lambda - w0) / width;
  const double r = std::exp(std::log(a) + t * (std::log(b) - std::log(a)));
  return std::isfinite(r) ? r : 0.0;
}

bool IsSet(double wavelength) { return wavelength < kUnsetLimit; }

int CountSet(std::span<const double> wavelengths) {
  return static_cast<int>(std::count_if(wavelengths.begin(), wavelengths.end(), IsSet));
}

std::string UnsortedMessage(const std::string& name, const std::vector<double>& x, int bad) {
  return "Unsorted data in " + name + "!\nwavelength values should be given in an increasing way.\n" + num(x[bad]) +
         " should be larger than " + num(x[bad - 1]) + "!";
}

std::string OpticalCaptureTitle(const OpticalCaptureProperties& props) {
  return "Error reading the optical capture properties from file " + props.file;
}

}  // namespace

void SetAbsorptionCutOffs(LayerParameters& layer) {
  for (int m = 0; m < 2; ++m) {
    const double Eg = layer.Eg.p[m];
    if (Eg > 0.0 && std::isfinite(Eg)) layer.absorption.p[m] = kPhotonEnergyNm / Eg;
  }
}

void BuildModelWavelengthList(double cutOff, std::span<double> wl) {
  constexpr double kShortest = 200.0, kLongest = 2500.0;  // [nm]
  const std::size_t n = wl.size();
  if (n == 0) return;
  // Dense points just below the cut-off, where α rises from zero like sqrt(hν - Eg):
  // λc - 15 ... λc - 5 nm in steps of 1 nm, λc - 4 ... λc in steps of 0.4 nm.
  std::array<double, 22> dense{};
  std::size_t nDense = 0;
  if (cutOff > 0.0 && std::isfinite(cutOff) && n >= 24) {
    for (int j = 10; j >= 0; --j)
      if (cutOff - 5.0 - j > 0.0) dense[nDense++] = cutOff - 5.0 - j;
    for (int k = 10; k >= 0; --k)
      if (cutOff - 0.4 * k > 0.0) dense[nDense++] = cutOff - 0.4 * k;
  }
  if (nDense == 0) {
    for (std::size_t i = 0; i < n; ++i)
      wl[i] =
          n == 1 ? kShortest : kShortest + static_cast<double>(i) * (kLongest - kShortest) / static_cast<double>(n - 1);
    return;
  }
  const std::size_t tail = cutOff < kLongest ? 1 : 0;
  const std::size_t nRegular = n - nDense - tail;
  // Below the dense part the points are evenly spaced in u = ln(λ/(λc - λ)): their spacing
  // follows min(λ, λc - λ), where ln α = ½ln(λc - λ) - ½ln λ + ... bends, so the logarithmic
  // interpolation between them is equally good from 200 nm up to the cut-off.
  const double top = dense[0];
  const double bottom = top > kShortest ? kShortest : 0.5 * top;
  const double uBottom = std::log(bottom / (cutOff - bottom));
  const double uTop = std::log(top / (cutOff - top));
  for (std::size_t i = 0; i < nRegular; ++i) {
    const double u = uBottom + static_cast<double>(i) * (uTop - uBottom) / static_cast<double>(nRegular);
    wl[i] = i == 0 ? bottom : cutOff / (1.0 + std::exp(-u));
  }
  for (std::size_t i = 0; i < nDense; ++i) wl[nRegular + i] = dense[i];
  if (tail) wl[n - 1] = kLongest;
}

double ModelAlpha(double A, double B, double cutOff, double lambda) {
  if (!(cutOff > 0.0) || !(lambda > 0.0) || lambda >= cutOff || !std::isfinite(cutOff)) return 0.0;
  const double Eg = kPhotonEnergyNm / cutOff;
  // (A + B/hν)·sqrt(hν - Eg) with hν = 1239.977/λ, written with λ/λc to keep precision near the edge
  return (A + lambda * B / kPhotonEnergyNm) * std::sqrt(Eg) * std::sqrt(cutOff / lambda - 1.0);
}

int ReadAbsorptionFile(const std::string& name, std::vector<double>& wavelength, std::vector<double>& alpha,
                       const Environment& env) {
  std::vector<double> x, a;
  if (lees_file(name, x, a, FK_ABSORPTION, env) <= 0) return -1;
  const int bad = FirstUnsortedIndex(x);
  if (bad >= 0) {
    env.Error("Error whilst reading absorption file", UnsortedMessage(name, x, bad));
    return -1;
  }
  wavelength = std::move(x);
  alpha = std::move(a);
  return static_cast<int>(wavelength.size());
}

int DetermineLayerAlpha(const LayerParameters& layer, std::span<double> wavelengths, std::span<double> alpha,
                        int material, int perCm, const Environment& env) {
  const std::size_t n = std::min(wavelengths.size(), alpha.size());
  wavelengths = wavelengths.first(n);
  alpha = alpha.first(n);
  const int m = material == 1 ? 1 : 0;
  const double factor = perCm ? 0.01 : 1.0;  // per metre -> per centimetre
  const bool unset = n == 0 || !IsSet(wavelengths[0]);

  if (layer.absorptionModel[m] == ABS_MODEL_FILE) {
    std::vector<double> fw, fa;
    if (ReadAbsorptionFile(layer.absorptionFile[m], fw, fa, env) < 0) {
      std::fill(alpha.begin(), alpha.end(), 0.0);
      return -1;
    }
    if (unset) {
      const std::size_t used = std::min(n, fw.size());
      for (std::size_t i = 0; i < n; ++i) {
        wavelengths[i] = i < used ? fw[i] : kUnsetWavelength;
        alpha[i] = i < used ? fa[i] * factor : 0.0;
      }
      return static_cast<int>(used);
    }
    for (std::size_t i = 0; i < n; ++i)
      alpha[i] = IsSet(wavelengths[i]) ? LogInterpolateFromTable(wavelengths[i], fw, fa) * factor : 0.0;
    return CountSet(wavelengths);
  }

  const double cutOff = layer.absorption.p[m];
  if (unset) BuildModelWavelengthList(cutOff, wavelengths);
  for (std::size_t i = 0; i < n; ++i)
    alpha[i] = IsSet(wavelengths[i]) ? ModelAlpha(layer.A[m], layer.B[m], cutOff, wavelengths[i]) * factor : 0.0;
  return CountSet(wavelengths);
}

int FillAlphaTable(const LayerParameters& layer, int material, AlphaTable& table, const Environment& env) {
  const int m = material == 1 ? 1 : 0;
  AlphaTable fresh;
  if (layer.absorptionModel[m] == ABS_MODEL_FILE) {
    if (ReadAbsorptionFile(layer.absorptionFile[m], fresh.wavelength, fresh.alpha, env) < 0) {
      table = AlphaTable{};
      return -1;
    }
    fresh.n = static_cast<int>(fresh.wavelength.size());
  } else {
    fresh.wavelength.assign(kModelTablePoints, kUnsetWavelength);
    fresh.alpha.assign(kModelTablePoints, 0.0);
    fresh.n = DetermineLayerAlpha(layer, fresh.wavelength, fresh.alpha, m, 0, env);
  }
  table = std::move(fresh);
  return table.n;
}

int PrepareLayerAlphaTables(LayerParameters& layer, AlphaTable& tableA, AlphaTable& tableB, const Environment& env) {
  SetAbsorptionCutOffs(layer);
  int status = 0;
  // a layer that is uniformly pure B material takes its A table from pure B's description
  const int materialA = layer.composition.law == LAW_UNIFORM_B ? 1 : 0;
  if (FillAlphaTable(layer, materialA, tableA, env) < 0) status = -1;
  if (layer.Eg.law == LAW_UNIFORM || layer.composition.law == LAW_UNIFORM) {
    tableB = tableA;
  } else if (FillAlphaTable(layer, 1, tableB, env) < 0) {
    status = -1;
  }
  return status;
}

double LogInterpolateFromTable(double lambda, std::span<const double> w, std::span<const double> v) {
  const std::size_t n = std::min(w.size(), v.size());
  if (n == 0 || std::isnan(lambda)) return 0.0;
  if (n == 1) return v[0];
  if (lambda <= w[0]) {
    if (v[0] <= 0.0) return 0.0;
    if (v[1] <= v[0]) return v[0];
    return LogLine(w[0], v[0], w[1], v[1], lambda);  // falls off towards short wavelengths
  }
  if (lambda >= w[n - 1]) {
    if (v[n - 1] <= 0.0) return 0.0;
    if (v[n - 2] <= v[n - 1]) return v[n - 1];
    return LogLine(w[n - 2], v[n - 2], w[n - 1], v[n - 1], lambda);  // falls off towards long wavelengths
  }
  // w[k] < λ <= w[k+1]
  const std::size_t k1 = static_cast<std::size_t>(std::lower_bound(w.begin(), w.begin() + n, lambda) - w.begin());
  const std::size_t k = k1 == 0 ? 0 : std::min(k1, n - 1) - 1;
  double a = v[k], b = v[k + 1];
  if (a == b) return a;
  if (a <= 0.0 && b > 0.0) a = b * kZeroRatio;
  if (b <= 0.0 && a > 0.0) b = a * kZeroRatio;
  const double width = w[k + 1] - w[k];
  if (!(width > 0.0)) return b;
  const double r = (a <= 0.0 || b <= 0.0) ? ((w[k + 1] - lambda) * a + (lambda - w[k]) * b) / width
                                          : LogLine(w[k], a, w[k + 1], b, lambda);
  return std::isfinite(r) ? r : 0.0;  // tables spanning the whole range of doubles
}

int InterpolateAlpha(const LayerParameters& layer, const Profile& absorptionGrading,
                     std::span<const double> wavelengths, std::span<double> alpha, const AlphaTable& tableA,
                     const AlphaTable& tableB, double y, const Environment& env) {
  const std::size_t n = std::min(wavelengths.size(), alpha.size());
  alpha = alpha.first(n);
  const int compositionLaw = layer.composition.law;
  const double EgA = compositionLaw == LAW_UNIFORM_B ? layer.Eg.p[1] : layer.Eg.p[0];
  double sA = absorptionGrading.p[2];
  const double cutA = kPhotonEnergyNm / EgA;
  double EgB = EgA, sB = sA, cutB = cutA;
  if (layer.Eg.law != LAW_UNIFORM && compositionLaw != LAW_UNIFORM) {
    EgB = layer.Eg.p[1];
    sB = absorptionGrading.p[3];
    cutB = kPhotonEnergyNm / EgB;
  }
  // the short-wavelength anchors stay at least 10 nm below the cut-offs
  sA = std::min(sA, cutA - 10.0);
  sB = std::min(sB, cutB - 10.0);

  double Egy = 0.0;
  const int status = InterpolateBetween(layer.Eg, 0.0, 1.0, EgA, EgB, std::span<const double>(&y, 1),
                                        std::span<double>(&Egy, 1), env, false);
  const double cutY = kPhotonEnergyNm / Egy;
  const double sY = sB * y + sA * (1.0 - y);
  const double span = cutY - sY;
  if (status < 0 || !(EgA > 0.0) || !(EgB > 0.0) || !(Egy > 0.0) || !std::isfinite(y) || !std::isfinite(span) ||
      span == 0.0) {
    std::fill(alpha.begin(), alpha.end(), 0.0);
    return status;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const double lambda = wavelengths[i];
    // the same relative place between anchor and cut-off in each pure material
    const double lambdaA = ((cutY - lambda) * sA + (lambda - sY) * cutA) / span;
    const double lambdaB = ((cutY - lambda) * sB + (lambda - sY) * cutB) / span;
    double aA = LogInterpolateFromTable(lambdaA, tableA.validWavelengths(), tableA.validAlpha());
    double aB = LogInterpolateFromTable(lambdaB, tableB.validWavelengths(), tableB.validAlpha());
    if (aA <= 0.0 && aB > 0.0) aA = aB * kZeroRatio;
    if (aB <= 0.0 && aA > 0.0) aB = aA * kZeroRatio;
    const double a = (aA <= 0.0 || aB <= 0.0) ? 0.0 : std::pow(aA, 1.0 - y) * std::pow(aB, y);
    alpha[i] = std::isfinite(a) ? a : 0.0;
  }
  return status;
}

double ExtractLayerAlpha(LayerParameters& layer, double lambda, const Environment& env) {
  SetAbsorptionCutOffs(layer);
  double largest = 0.0;
  for (int m = 0; m < 2; ++m) {
    std::array<double, 3> wl = {lambda - 10.0, lambda, lambda + 10.0};
    std::array<double, 3> a{};
    DetermineLayerAlpha(layer, wl, a, m, 0, env);
    largest = m == 0 ? a[1] : std::max(largest, a[1]);
  }
  return largest;
}

int ReadOpticalCaptureParametersFromFile(OpticalCaptureProperties& props, const Environment& env) {
  std::vector<double> x, s;
  if (lees_file(props.file, x, s, FK_OPTCAPT, env) <= 0) {
    FreeOpticalCaptureProperties(props);
    return -1;
  }
  const int bad = FirstUnsortedIndex(x);
  if (bad >= 0) {
    env.Error(OpticalCaptureTitle(props), UnsortedMessage(props.file, x, bad));
    FreeOpticalCaptureProperties(props);
    return -1;
  }
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] < 0.0) {
      env.Error(OpticalCaptureTitle(props),
                "Negative cross section " + num(s[i]) + " at " + num(x[i]) + " nm in " + props.file + "!");
      FreeOpticalCaptureProperties(props);
      return -1;
    }
  }
  props.wavelength = std::move(x);
  props.sigma = std::move(s);
  return props.numberOfPoints();
}

int ReadOpticalCaptureParametersFromModel(double E0, OpticalCaptureProperties& props) {
  constexpr int kPoints = 50;
  constexpr double kPrefactor = 9.3e-21;  // [m^2 eV]
  FreeOpticalCaptureProperties(props);
  const double weight = props.n * props.massRatio;
  if (!(E0 > 0.0) || !(props.Emax > E0) || !std::isfinite(props.Emax) || !(weight > 0.0) || !std::isfinite(weight))
    return 0;
  const double shortest = kPhotonEnergyNm / props.Emax;
  const double longest = kPhotonEnergyNm / E0;
  AllocateOpticalCaptureProperties(props, kPoints);
  for (int i = 0; i < kPoints; ++i) {
    const double lambda = i == kPoints - 1 ? longest : shortest + i * (longest - shortest) / (kPoints - 1);
    const double x = std::max(1.0, kPhotonEnergyNm / lambda / E0);
    props.wavelength[i] = lambda;
    props.sigma[i] = kPrefactor * props.EeffE0 * props.EeffE0 * std::pow(x - 1.0, 1.5) / (weight * E0 * x * x * x);
  }
  return kPoints;
}

int InterpolateOpticalCaptureProperties(OpticalCaptureProperties& props, std::span<const double> wavelengths,
                                        const Environment& env) {
  const std::size_t m = std::min(props.wavelength.size(), props.sigma.size());
  props.firstWavelengthIndex = 0;
  if (m == 0) {
    FreeOpticalCaptureProperties(props);
    return 0;
  }
  if (FirstUnsortedIndex(props.wavelength) >= 0) {
    env.Error(OpticalCaptureTitle(props),
              "The wavelengths of the optical cross sections do not increase, so the cross sections cannot be "
              "interpolated at the wavelengths of the calculation.");
    FreeOpticalCaptureProperties(props);
    return -1;
  }
  const double lo = props.wavelength.front(), hi = props.wavelength[m - 1];
  std::vector<double> keptW, keptS;
  int first = -1;
  for (std::size_t i = 0; i < wavelengths.size(); ++i) {
    const double lambda = wavelengths[i];
    if (!(lambda >= lo && lambda <= hi)) continue;
    if (first < 0) first = static_cast<int>(i);
    keptW.push_back(lambda);
    keptS.push_back(PiecewiseLinear(props.wavelength, props.sigma, lambda));
  }
  props.wavelength = std::move(keptW);
  props.sigma = std::move(keptS);
  props.firstWavelengthIndex = first < 0 ? 0 : first;
  return props.numberOfPoints();
}

int ReadOpticalCaptureParameters(InputParameters& set, double temperature, int IPV_Mode,
                                 std::span<const double> wavelengths, const Environment& env) {
  if (IPV_Mode != 1) return 0;
  CellDefinition& cell = set.cellParas;
  const double kT = 0.0259 * temperature / 300.0;  // [eV]
  int status = 0;
  const int nLayers = std::clamp(cell.numberOfLayers, 0, MAXLAYERS);
  for (int l = 0; l < nLayers; ++l) {
    LayerParameters& layer = cell.layer[l];
    const double Eg = layer.Eg.p[5], Nc = layer.Nc.p[5], Nv = layer.Nv.p[5];
    const int nDefects = std::clamp(layer.srhteller, 0, MAXBULKDEFECTS);
    for (int d = 0; d < nDefects; ++d) {
      const int nLevels = std::clamp(layer.srh[d][0].numberOfLevels, 1, MAXLEVELS);
      for (int k = 0; k < nLevels; ++k) {
        BulkRecombinationParameters& level = layer.srh[d][k];
        double aboveEv = level.Et;  // level energy above EV [eV]
        if (level.reference == 1) {
          const double shift = (Nc > 0.0 && Nv > 0.0) ? 0.5 * kT * std::log(Nv / Nc) : 0.0;
          aboveEv = level.Et + 0.5 * Eg + shift;
        } else if (level.reference == 2) {
          aboveEv = Eg - level.Et;
        }
        // holes are emitted from the level to EV, electrons from the level to EC
        const std::array<std::pair<OpticalCaptureProperties*, double>, 2> carriers = {
            std::pair{&level.optHoles, aboveEv}, std::pair{&level.optElectrons, Eg - aboveEv}};
        for (const auto& [props, E0] : carriers) {
          if (!props->fromModel && !props->fromFile) {
            FreeOpticalCaptureProperties(*props);
            continue;
          }
          if (props->fromModel) {
            ReadOpticalCaptureParametersFromModel(E0, *props);
          } else if (ReadOpticalCaptureParametersFromFile(*props, env) < 0) {
            status = -1;
            continue;
          }
          if (!wavelengths.empty() && InterpolateOpticalCaptureProperties(*props, wavelengths, env) < 0) status = -1;
        }
      }
    }
  }
  return status;
}

}  // namespace zoniq
