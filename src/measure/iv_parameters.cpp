#include "measure/iv_parameters.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numeric>
#include <string>
#include <utility>

#include "common/format.hpp"

namespace zoniq {

IVIllumination IlluminationOf(const WorkPoint& wp) {
  IVIllumination light;
  light.dark = wp.dark;
  light.generationFromFile = wp.generationFromFile;
  light.incidentPower = wp.generationFromFile ? 1000.0 : wp.incidentPower;
  light.attenuation = wp.attenuation;
  light.idealGenerationCurrent = wp.idealGenerationCurrent;
  return light;
}

namespace {

// The curve as evaluated: ascending distinct voltages with their currents.
struct Curve {
  std::vector<double> V, J;
  int n() const { return static_cast<int>(V.size()); }
};

Curve SortedCurve(std::span<const double> V, std::span<const double> J) {
  const std::size_t n = std::min(V.size(), J.size());
  std::vector<std::size_t> order;
  order.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    if (std::isfinite(V[i]) && std::isfinite(J[i])) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return V[a] < V[b]; });
  Curve c;
  c.V.reserve(order.size());
  c.J.reserve(order.size());
  // Points measured twice at one voltage count once, with their mean current.
  for (std::size_t k = 0; k < order.size();) {
    std::size_t e = k;
    double sum = 0.0;
    while (e < order.size() && V[order[e]] == V[order[k]]) sum += J[order[e++]];
    c.V.push_back(V[order[k]]);
    c.J.push_back(sum / static_cast<double>(e - k));
    k = e;
  }
  return c;
}

// The first index k with f[k]·f[k+1] ≤ 0 (searched up to n − 2).
int SignChange(const std::vector<double>& f) {
  const int n = static_cast<int>(f.size());
  int k = 0;
  while (k < n - 2 && f[k] * f[k + 1] > 0.0) ++k;
  return k;
}

// The first of the three points around the sign change.
int FirstOfThree(const std::vector<double>& f) {
  const int n = static_cast<int>(f.size());
  const int k = SignChange(f);
  if (k < 1) return 0;
  if (k >= n - 2) return n - 3;
  return k - 1;
}

// Value at x of the straight line through (x1, y1) and (x2, y2).
double Line(double x1, double y1, double x2, double y2, double x) { return y1 + (y2 - y1) * (x - x1) / (x2 - x1); }

// Value at 0 of the Lagrange quadratic through three points.
double QuadraticAtZero(const double* x, const double* y) {
  const double l0 = (x[1] * x[2]) / ((x[0] - x[1]) * (x[0] - x[2]));
  const double l1 = (x[0] * x[2]) / ((x[1] - x[0]) * (x[1] - x[2]));
  const double l2 = (x[0] * x[1]) / ((x[2] - x[0]) * (x[2] - x[1]));
  return y[0] * l0 + y[1] * l1 + y[2] * l2;
}

void Jsc(const Curve& c, CellParameters& p) {
  const int n = c.n();
  const std::vector<double>& V = c.V;
  const std::vector<double>& J = c.J;
  p.jscExtrapolated = V[0] * V[n - 1] > 0.0 ? 1 : 0;
  double jsc = 0.0;
  if (n == 2) {
    jsc = -Line(V[0], J[0], V[1], J[1], 0.0);
  } else if (p.jscExtrapolated) {
    // 0 V lies beyond the lower end when the sweep is all forward, beyond the upper when all reverse.
    const int a = V[0] <= 0.0 ? n - 2 : 0;
    jsc = -Line(V[a], J[a], V[a + 1], J[a + 1], 0.0);
  } else {
    const int a = FirstOfThree(V);
    jsc = -QuadraticAtZero(&V[a], &J[a]);
  }
  if (std::isfinite(jsc) && jsc > 0.0) {
    p.Jsc = jsc;
    p.jscValid = 1;
  } else {
    p.Jsc = 0.0;
    p.jscValid = 0;
  }
}

// The zero of the straight line through (Va, Ja) and (Vb, Jb); false when it is flat.
bool LineZero(double Va, double Ja, double Vb, double Jb, double& V0) {
  if (Ja == Jb) return false;
  V0 = (Ja * Vb - Jb * Va) / (Ja - Jb);
  return true;
}

// Voc: the zero of the quadratic J(V) through the three points around the sign change of J.
bool QuadraticZero(const double* V, const double* J, double lo, double hi, double& V0) {
  const double Va = V[0], Vb = V[1], Vc = V[2];
  const double Ja = J[0], Jb = J[1], Jc = J[2];
  if (Ja == Jb || Jb == Jc || Ja == Jc) return false;
  const double d1 = Ja / ((Va - Vb) * (Va - Vc));
  const double d2 = Jb / ((Vb - Va) * (Vb - Vc));
  const double d3 = Jc / ((Vc - Va) * (Vc - Vb));
  // J(V) = a2·V² − a1·V + a0
  const double a2 = d1 + d2 + d3;
  const double a1 = (Vb + Va) * d3 + (Vc + Va) * d2 + (Vc + Vb) * d1;
  const double a0 = Vb * Va * d3 + Vc * Va * d2 + Vc * Vb * d1;
  const double D = a1 * a1 - 4.0 * a2 * a0;
  if (!(D > 0.0)) return LineZero(Va, Ja, Vc, Jc, V0);
  // Roots without cancellation: q = (a1 + sign(a1)·√D)/2 gives q/a2 and a0/q. For nearly
  // collinear points a2 → 0: q/a2 runs away and a0/q is the straight line's zero.
  const double q = 0.5 * (a1 + std::copysign(std::sqrt(D), a1));
  const double r1 = q / a2;
  const double r2 = q != 0.0 ? a0 / q : r1;
  // The sign change lies between two of the points, so one root lies in that interval
  // [lo, hi]; failing that (rounding), a root between the outer points.
  auto within = [](double r, double a, double b) { return std::isfinite(r) && r >= a && r <= b; };
  for (const auto& [a, b] : {std::pair{lo, hi}, std::pair{Va, Vc}}) {
    if (within(r1, a, b)) {
      V0 = r1;
      return true;
    }
    if (within(r2, a, b)) {
      V0 = r2;
      return true;
    }
  }
  return LineZero(Va, Ja, Vc, Jc, V0);
}

// The first index k with J[k]·J[k+1] ≤ 0 anywhere in the curve, or −1 when J keeps its sign.
int FirstCrossing(const std::vector<double>& J) {
  for (std::size_t k = 0; k + 1 < J.size(); ++k)
    if (J[k] * J[k + 1] <= 0.0) return static_cast<int>(k);
  return -1;
}

void Voc(const Curve& c, CellParameters& p, double bandGap) {
  const int n = c.n();
  const std::vector<double>& V = c.V;
  const std::vector<double>& J = c.J;
  // The first crossing inside the sweep is the open circuit, whatever the current does at the
  // ends: a curve that turns back past Voc (a blocking contact) must not hide it.
  const int k = FirstCrossing(J);
  p.vocExtrapolated = k < 0 ? 1 : 0;
  double voc = 0.0;
  bool ok = false;
  if (n == 2) {
    ok = LineZero(V[0], J[0], V[1], J[1], voc);
  } else if (p.vocExtrapolated) {
    // Still generating at the upper end: the crossing lies above it; else below the lower end.
    const int a = J[0] <= 0.0 ? n - 2 : 0;
    ok = LineZero(V[a], J[a], V[a + 1], J[a + 1], voc);
  } else {
    const int a = k < 1 ? 0 : k >= n - 2 ? n - 3 : k - 1;
    ok = QuadraticZero(&V[a], &J[a], V[k], V[k + 1], voc);
  }
  // No cell holds an open-circuit voltage above its band gap: a straight line drawn that far is
  // no estimate of it.
  const bool aboveGap = p.vocExtrapolated && bandGap > 0.0 && voc > bandGap;
  if (ok && std::isfinite(voc) && voc > 0.0 && voc <= 10.0 && !aboveGap) {
    p.Voc = voc;
    p.vocValid = 1;
  } else {
    p.Voc = 0.0;
    p.vocValid = 0;
  }
}

// The exponent t of J = J0 + A·e^(t·V) through three points spaced h1 and h2 whose current
// steps have the ratio r = ΔJ2/ΔJ1: (e^(t·h2) − 1)/(1 − e^(−t·h1)) = r, which rises from 0 to ∞
// with t and equals h2/h1 at t = 0. Called only for r > h2/h1 (t > 0).
double ExponentThroughThree(double h1, double h2, double r) {
  auto f = [&](double t) { return std::expm1(t * h2) / -std::expm1(-t * h1); };
  double lo = 0.0;
  double hi = std::log1p(r) / h2;  // f(hi) ≥ e^(hi·h2) − 1 = r
  for (int it = 0; it < 200 && hi - lo > 1e-15 * hi; ++it) {
    const double mid = 0.5 * (lo + hi);
    if (f(mid) < r)
      lo = mid;
    else
      hi = mid;
  }
  return 0.5 * (lo + hi);
}

// The maximum-power point; returns Pmax [mW/cm2].
double MaximumPower(const Curve& c, CellParameters& p, const Environment* env) {
  const int n = c.n();
  const std::vector<double>& V = c.V;
  const std::vector<double>& J = c.J;
  int m = 0;
  double Pmax = -J[0] * V[0];
  if (n == 2) {
    if (-J[1] * V[1] >= Pmax) {
      m = 1;
      Pmax = -J[1] * V[1];
    }
  } else {
    for (int i = 1; i < n; ++i) {
      const double P = -J[i] * V[i];
      if (P > Pmax) {
        Pmax = P;
        m = i;
      }
    }
  }
  p.Vmpp = V[m];
  p.Jmpp = -J[m];
  p.mppAtEnd = (m == 0 || m == n - 1) ? 1 : 0;
  if (p.mppAtEnd) return Pmax;

  const double h1 = V[m] - V[m - 1], h2 = V[m + 1] - V[m];
  const double dJ1 = J[m] - J[m - 1], dJ2 = J[m + 1] - J[m];
  const bool rising = J[m - 1] < J[m] && J[m] < J[m + 1];
  // A diode curve bends upwards: the slope grows from one interval to the next (on equal steps,
  // r = ΔJ2/ΔJ1 > 1). Only then does an exponential pass through the three points.
  const bool bends = rising && dJ2 / h2 > dJ1 / h1;
  if (!bends) {
    if (env && env->ui && env->errors && (!rising || dJ2 / h2 < dJ1 / h1))
      env->Error("Efficiency interpolation assertion", "The currents don't behave as expected");
    return Pmax;
  }
  // J(V) = J0 + A·e^(t·(V − V[m])); P = −J·V; g = J0 + (1 + t·V)·A·e^(t·(V − V[m])) = −dP/dV.
  const double t = ExponentThroughThree(h1, h2, dJ2 / dJ1);
  const double A = dJ1 / -std::expm1(-t * h1);
  const double J0 = J[m] - A;
  auto Jfit = [&](double v) { return J0 + A * std::exp(t * (v - V[m])); };
  auto g = [&](double v) { return J0 + (1.0 + t * v) * A * std::exp(t * (v - V[m])); };
  double lo = V[m - 1], hi = V[m];
  if (g(V[m]) <= 0.0) {
    lo = V[m];
    hi = V[m + 1];
  }
  double mid = 0.5 * (lo + hi);
  for (int it = 0; it < 10; ++it) {
    mid = 0.5 * (lo + hi);
    if (g(mid) > 0.0)
      hi = mid;
    else
      lo = mid;
  }
  p.Vmpp = mid;
  p.Jmpp = -Jfit(mid);
  return p.Jmpp * p.Vmpp;
}

// The parameters that do not come from the curve itself, said so: an extrapolated value is a
// guess, and a run that had to guess should not look like one that did not.
void WarnExtrapolated(const Curve& c, const CellParameters& p, double bandGap, const Environment& env) {
  constexpr const char* kTitle = "Warning: I-V cell parameters";
  const std::string range = "the I-V curve (" + fix(c.V.front(), 0, 3) + " V to " + fix(c.V.back(), 0, 3) + " V)";
  if (p.vocExtrapolated) {
    if (p.vocValid)
      env.Error(kTitle, "J does not change sign within " + range + ": Voc = " + fix(p.Voc, 0, 4) +
                            " V was extrapolated from the two nearest points.");
    else
      env.Error(kTitle, "J does not change sign within " + range +
                            (bandGap > 0.0
                                 ? " and its extrapolation gives no Voc at or below Eg/q = " + fix(bandGap, 0, 3) + " V"
                                 : " and its extrapolation gives no Voc") +
                            ": Voc was not determined.");
  }
  if (p.jscExtrapolated && p.jscValid)
    env.Error(kTitle, "0 V lies outside " + range + ": Jsc = " + fix(p.Jsc, 0, 4) +
                          " mA/cm2 was extrapolated from the two nearest points.");
  if (p.mppAtEnd)
    env.Error(kTitle, "The largest power of " + range + " lies at its end point V = " + fix(p.Vmpp, 0, 4) +
                          " V: the maximum-power point may lie beyond the curve.");
}

}  // namespace

int IVParameters(std::span<const double> V, std::span<const double> J, const IVIllumination& light, CellParameters& out,
                 const Environment* env) {
  out = CellParameters{};
  if (light.dark) return 0;
  const Curve c = SortedCurve(V, J);
  if (c.n() < 2) return 0;
  CellParameters p;
  Jsc(c, p);
  Voc(c, p, light.bandGap);
  const double Pmax = MaximumPower(c, p, env);
  if (env && env->ui && env->errors) WarnExtrapolated(c, p, light.bandGap, *env);
  p.anyExtrapolated = (p.mppAtEnd || p.vocExtrapolated || p.jscExtrapolated) ? 1 : 0;

  double eta = 0.0;
  if (light.incidentPower > 0.0) {
    if (light.generationFromFile) {
      // Collection efficiency: the current collected over the current the generation offers.
      const double offered = light.attenuation * light.idealGenerationCurrent * 0.01;
      eta = offered > 0.0 ? p.Jsc * 100.0 / offered : 0.0;
    } else {
      eta = Pmax * 1000.0 / light.incidentPower;  // mW/cm2 → W/m2 (×10) and % (×100)
    }
  }
  if (std::isfinite(eta) && eta > 0.0 && eta <= 1000.0) {
    p.eta = eta;
    p.etaValid = 1;
  }
  if (p.vocValid && p.jscValid) {
    const double FF = Pmax * 100.0 / p.Voc / p.Jsc;
    if (std::isfinite(FF) && FF > 0.0 && FF <= 150.0) {
      p.FF = FF;
      p.ffValid = 1;
    }
  }
  if (!std::isfinite(p.Vmpp) || !std::isfinite(p.Jmpp)) p.Vmpp = p.Jmpp = 0.0;
  out = p;
  return 1;
}

int merge_IV_and_CV(std::span<const double> vIV, std::span<const double> vCV, std::vector<int>& index,
                    std::vector<int>& origin) {
  index.clear();
  origin.clear();
  auto keepOrder = [&](std::span<const double> v, int from) {
    for (std::size_t i = 0; i < v.size(); ++i) {
      index.push_back(static_cast<int>(i));
      origin.push_back(from);
    }
    return static_cast<int>(v.size());
  };
  if (vIV.empty()) return keepOrder(vCV, 2);
  if (vCV.empty()) return keepOrder(vIV, 1);

  auto sortedIndices = [](std::span<const double> v) {
    std::vector<int> idx(v.size());
    std::iota(idx.begin(), idx.end(), 0);
    std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) { return v[a] < v[b]; });
    return idx;
  };
  const std::vector<int> a = sortedIndices(vIV), b = sortedIndices(vCV);
  std::size_t i = 0, k = 0;
  double last = -1e99;
  auto append = [&](double v, int idx, int from) {
    if (std::fabs(v - last) > 1e-5) {
      index.push_back(idx);
      origin.push_back(from);
      last = v;
    }
  };
  // A voltage within 1e-5 V of the last one appended is dropped on either list, also after the
  // other list has run out (otherwise a shared end voltage appears twice).
  while (i < a.size() || k < b.size()) {
    const bool takeIV = k >= b.size() || (i < a.size() && vIV[a[i]] <= vCV[b[k]]);
    if (takeIV) {
      append(vIV[a[i]], a[i], 1);
      ++i;
    } else {
      append(vCV[b[k]], b[k], 2);
      ++k;
    }
  }
  return static_cast<int>(index.size());
}

}  // namespace zoniq
