#include "optics/spectrum.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "optics/interp.hpp"

namespace zoniq {

namespace {

double Clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

// Width of each point's spectral bin (midpoint to midpoint; half intervals at the ends).
double BinWidth(std::span<const double> wl, std::size_t i) {
  const std::size_t n = wl.size();
  if (n < 2) return 0.0;
  if (i == 0) return 0.5 * (wl[1] - wl[0]);
  if (i == n - 1) return 0.5 * (wl[n - 1] - wl[n - 2]);
  return 0.5 * (wl[i + 1] - wl[i - 1]);
}

}  // namespace

int SpectrumInterpolation(std::vector<double>& wl, std::vector<double>& power, int nFile, int& nOut) {
  const std::size_t total = std::min(wl.size(), power.size());
  nOut = static_cast<int>(total);
  if (nFile < 2 || static_cast<std::size_t>(nFile) > total) return -1;
  const std::size_t nf = static_cast<std::size_t>(nFile);

  // (a) The file's points in ascending order, powers moving with their wavelengths.
  std::vector<std::pair<double, double>> file(nf);
  for (std::size_t i = 0; i < nf; ++i) file[i] = {wl[i], power[i]};
  std::stable_sort(file.begin(), file.end(), [](auto& a, auto& b) { return a.first < b.first; });
  std::vector<double> fw(nf), fd(nf);
  for (std::size_t i = 0; i < nf; ++i) fw[i] = file[i].first;
  for (std::size_t i = 1; i < nf; ++i)
    if (!(fw[i] > fw[i - 1])) return -3;  // coinciding wavelengths have no bin

  // (b) Powers per spectral point become densities [W/m2/nm].
  for (std::size_t i = 0; i < nf; ++i) fd[i] = file[i].second / BinWidth(fw, i);

  // (c) Added points outside the file's range, or closer than 0.001 nm to a point already
  // there, are dropped; (d) the others take the interpolated density.
  std::vector<std::pair<double, double>> merged;
  merged.reserve(total);
  for (std::size_t i = 0; i < nf; ++i) merged.push_back({fw[i], fd[i]});
  for (std::size_t i = nf; i < total; ++i) {
    const double x = wl[i];
    if (!(x >= fw.front() && x <= fw.back())) continue;
    bool tooClose = false;
    for (const auto& m : merged) tooClose = tooClose || std::fabs(m.first - x) < 0.001;
    if (tooClose) continue;
    double d = 0.0;
    LinInterp(nullptr, fw.data(), fd.data(), static_cast<int>(nf), x, d);
    merged.push_back({x, d});
  }

  // (e) Sorted again; densities become powers with the new neighbours.
  std::stable_sort(merged.begin(), merged.end(), [](auto& a, auto& b) { return a.first < b.first; });
  const std::size_t n = merged.size();
  wl.assign(n, 0.0);
  power.assign(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) wl[i] = merged[i].first;
  for (std::size_t i = 0; i < n; ++i) power[i] = merged[i].second * BinWidth(wl, i);
  nOut = static_cast<int>(n);
  return 1;
}

void WindowWeights(std::span<const double> wl, double start, double end, std::vector<double>& w) {
  const std::size_t n = wl.size();
  w.assign(n, 1.0);
  if (n == 0) return;
  if (wl[n - 1] <= start || end <= wl[0]) {
    std::fill(w.begin(), w.end(), 0.0);
    return;
  }
  if (start < wl[0] && wl[n - 1] < end) return;
  for (std::size_t i = 0; i < n; ++i) {
    const double lo = i > 0 ? 0.5 * (wl[i - 1] + wl[i]) : wl[0];
    const double hi = i + 1 < n ? 0.5 * (wl[i] + wl[i + 1]) : wl[n - 1];
    const double width = hi - lo;
    if (!(width > 0.0)) {
      w[i] = (wl[i] >= start && wl[i] <= end) ? 1.0 : 0.0;
      continue;
    }
    const double above = Clamp01((hi - start) / width);
    const double below = Clamp01((end - lo) / width);
    w[i] = Clamp01(above + below - 1.0);
  }
}

double WindowPower(std::span<const double> wl, std::span<const double> power, double start, double end) {
  std::vector<double> w;
  WindowWeights(wl, start, end, w);
  double sum = 0.0;
  for (std::size_t i = 0; i < wl.size() && i < power.size(); ++i) sum += power[i] * w[i];
  return sum;
}

void CalculateFilterValues(int on, int kindIsTransmission, int wantReflection, std::span<double> values) {
  if (!on) {
    std::fill(values.begin(), values.end(), wantReflection ? 0.0 : 1.0);
    return;
  }
  const bool givenIsWanted = (kindIsTransmission != 0) == (wantReflection == 0);
  for (double& v : values) v = givenIsWanted ? v * 0.01 : 1.0 - v * 0.01;
}

bool RelativePhotonFlux(std::span<const double> x, std::span<const double> alpha, double Rfront, double Rb, int side,
                        std::span<double> D, std::span<double> E, std::span<double> forward,
                        std::span<double> backward) {
  const std::size_t n = x.size();
  if (n == 0) return true;
  D[0] = 0.0;
  for (std::size_t i = 1; i < n; ++i) D[i] = D[i - 1] + (x[i] - x[i - 1]) * alpha[i - 1];
  E[n - 1] = 0.0;
  for (std::size_t i = n - 1; i-- > 0;) E[i] = E[i + 1] + (x[i + 1] - x[i]) * alpha[i + 1];
  const double den = 1.0 - Rfront * Rb * std::exp(-(E[0] + D[n - 1]));
  if (!(den > 1e-12) || !std::isfinite(den)) {
    std::fill(forward.begin(), forward.end(), 0.0);
    std::fill(backward.begin(), backward.end(), 0.0);
    return false;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (side < 0) {
      forward[i] = std::exp(-D[i]) / den;
      backward[i] = Rb * std::exp(-(E[i] + D[n - 1])) / den;
    } else {
      forward[i] = std::exp(-E[i]) / den;
      backward[i] = Rb * std::exp(-(D[i] + E[0])) / den;
    }
  }
  return true;
}

void BoxAveragedAbsorption(std::span<const double> x, std::span<const double> alpha, int side,
                           std::span<const double> forward, std::span<const double> backward,
                           std::span<double> absorbed) {
  const std::size_t n = x.size();
  // The wave travelling to the right decays over interval i with alpha_i (the left point), the
  // wave travelling to the left with alpha_{i+1}, as in the optical depths D and E.
  const std::span<const double> rightward = side < 0 ? forward : backward;
  const std::span<const double> leftward = side < 0 ? backward : forward;
  for (std::size_t i = 0; i < n; ++i) {
    const double hl = i > 0 ? x[i] - x[i - 1] : 0.0;
    const double hr = i + 1 < n ? x[i + 1] - x[i] : 0.0;
    const double rIn = i > 0 ? rightward[i - 1] * std::exp(-alpha[i - 1] * 0.5 * hl) : rightward[0];
    const double rOut = i + 1 < n ? rightward[i] * std::exp(-alpha[i] * 0.5 * hr) : rightward[n - 1];
    const double lIn = i + 1 < n ? leftward[i + 1] * std::exp(-alpha[i + 1] * 0.5 * hr) : leftward[n - 1];
    const double lOut = i > 0 ? leftward[i] * std::exp(-alpha[i] * 0.5 * hl) : leftward[0];
    const double width = 0.5 * (hl + hr);
    absorbed[i] = width > 0.0 ? ((rIn - rOut) + (lIn - lOut)) / width : 0.0;
  }
}

}  // namespace zoniq
