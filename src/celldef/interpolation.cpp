#include "celldef/interpolation.hpp"

#include <algorithm>
#include <cmath>

#include "celldef/data_files.hpp"
#include "celldef/incomplete_beta.hpp"
#include "common/format.hpp"
#include "common/zoniq_paths.hpp"

namespace zoniq {

namespace {

constexpr const char* kGradingErrorTitle = "Error whilst reading gradingfile";

// Logarithmic law: a zero or negative end is replaced by 1e-10 times the other end, and an
// end more than ten decades below the other is raised to that ratio.
void LogarithmicLaw(double xl, double xr, double vl, double vr, std::span<const double> x, std::span<double> v) {
  constexpr double kRatio = 1e-10;
  if (!(vl > 0.0) && !(vr > 0.0)) {
    std::fill(v.begin(), v.end(), 0.0);
    return;
  }
  if (!(vl > 0.0)) vl = vr * kRatio;
  if (!(vr > 0.0)) vr = vl * kRatio;
  if (vl < vr * kRatio) vl = vr * kRatio;
  if (vr < vl * kRatio) vr = vl * kRatio;
  const double delta = xr - xl;
  const double lnl = std::log(vl), lnr = std::log(vr);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double wl = (xr - x[i]) / delta;
    const double wr = (x[i] - xl) / delta;
    if (wl == 0.0)
      v[i] = vr;
    else if (wr == 0.0)
      v[i] = vl;
    else
      v[i] = std::exp(wl * lnl + wr * lnr);
  }
}

// Exponential law: decay from each end towards the background b with the characteristic
// lengths (or compositions) Ll and Lr; sinh weights, or pure exponential tails when the layer
// is more than 80 characteristic lengths wide (where sinh would overflow).
void ExponentialLaw(const Profile& prof, double xl, double xr, double vl, double vr, std::span<const double> x,
                    std::span<double> v) {
  constexpr double kTailLimit = 80.0;
  const double b = prof.p[2];
  const double Ll = std::max(prof.p[3], 0.001);
  const double Lr = std::max(prof.p[4], 0.001);
  const double delta = xr - xl;
  for (std::size_t i = 0; i < x.size(); ++i) {
    double cL, cR;
    if (delta / Ll < kTailLimit)
      cL = std::sinh((xr - x[i]) / Ll) / std::sinh(delta / Ll);
    else
      cL = (x[i] - xl) / Ll <= kTailLimit ? std::exp(-(x[i] - xl) / Ll) : 0.0;
    if (delta / Lr < kTailLimit)
      cR = std::sinh((x[i] - xl) / Lr) / std::sinh(delta / Lr);
    else
      cR = (xr - x[i]) / Lr <= kTailLimit ? std::exp(-(xr - x[i]) / Lr) : 0.0;
    v[i] = b + cL * (vl - b) + cR * (vr - b);
  }
}

// Power law: v^(1/m) is linear in x. Both ends are scaled by the larger magnitude first, so
// that small exponents (large powers) cannot overflow; negative values follow the odd
// extension sign(v)|v|^(1/m).
void PowerLaw(const Profile& prof, double xl, double xr, double vl, double vr, std::span<const double> x,
              std::span<double> v) {
  const double m = std::clamp(prof.p[2], 0.001, 1000.0);
  const double scale = std::max(std::fabs(vl), std::fabs(vr));
  if (scale == 0.0) {
    std::fill(v.begin(), v.end(), 0.0);
    return;
  }
  auto root = [m](double a) { return std::copysign(std::pow(std::fabs(a), 1.0 / m), a); };
  const double rl = root(vl / scale), rr = root(vr / scale);
  const double delta = xr - xl;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double r = ((xr - x[i]) * rl + (x[i] - xl) * rr) / delta;
    v[i] = scale * std::copysign(std::pow(std::fabs(r), m), r);
  }
}

// Parabola with its extremum v0 at x0; when x0 lies outside the layer a quartic in (x - x0)
// that is even about x0 passes through both ends.
void Parabolic2Law(const Profile& prof, double xl, double xr, double vl, double vr, std::span<const double> x,
                   std::span<double> v) {
  const double x0 = prof.p[2], v0 = prof.p[3];
  const double al = (xl - x0) * (xl - x0), ar = (xr - x0) * (xr - x0);
  if (x0 >= xl && x0 <= xr) {
    const double cL = xl == x0 ? 0.0 : (vl - v0) / al;
    const double cR = xr == x0 ? 0.0 : (vr - v0) / ar;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double dx2 = (x[i] - x0) * (x[i] - x0);
      v[i] = v0 + dx2 * (x[i] < x0 ? cL : cR);
    }
    return;
  }
  const double D = (xr - xl) * (xr + xl - 2.0 * x0) * ar * al;
  const double A = (al * (vr - v0) - ar * (vl - v0)) / D;
  const double B = (ar * ar * (vl - v0) - al * al * (vr - v0)) / D;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double dx2 = (x[i] - x0) * (x[i] - x0);
    v[i] = v0 + dx2 * (B + A * dx2);
  }
}

bool IsUniformLaw(int law) {
  return law == LAW_UNIFORM || law == LAW_UNIFORM_B || law == LAW_UNIFORM_Y || law < 0 || law >= NLAWS;
}

}  // namespace

double PiecewiseLinear(std::span<const double> tx, std::span<const double> tv, double x) {
  const std::size_t n = std::min(tx.size(), tv.size());
  if (n == 0) return 0.0;
  if (!(x > tx[0])) return tv[0];
  if (!(x < tx[n - 1])) return tv[n - 1];
  // first point at or beyond x; then tx[k-1] < x <= tx[k]
  const std::size_t k = static_cast<std::size_t>(std::lower_bound(tx.begin(), tx.begin() + n, x) - tx.begin());
  if (k == 0) return tv[0];
  if (k >= n) return tv[n - 1];
  // weights in [0, 1], so that huge values cannot overflow on the way
  double t = (x - tx[k - 1]) / (tx[k] - tx[k - 1]);
  if (!(t >= 0.0)) t = 0.0;
  if (t > 1.0) t = 1.0;
  return (1.0 - t) * tv[k - 1] + t * tv[k];
}

int ReadGradingFile(const std::string& name, std::vector<double>& x, std::vector<double>& v, const Environment& env,
                    bool report) {
  std::vector<double> xs, vs;
  if (ReadDataFile(name, xs, vs, FK_GRADING, env, report) <= 0) {
    if (report) env.Error(kGradingErrorTitle, "No position and value could be read from " + name + "!");
    return -1;
  }
  const int bad = FirstUnsortedIndex(xs);
  if (bad >= 0) {
    if (report)
      env.Error(kGradingErrorTitle, "Unsorted data in " + name +
                                        "!\nposition values should be given in an "
                                        "increasing way.\n" +
                                        num(xs[bad]) + " should be larger than " + num(xs[bad - 1]) + "!");
    return -1;
  }
  x = std::move(xs);
  v = std::move(vs);
  return static_cast<int>(x.size());
}

int InterpolateBetween(const Profile& prof, double xl, double xr, double vl, double vr, std::span<const double> x,
                       std::span<double> values, const Environment& env, bool report) {
  const std::size_t n = std::min(x.size(), values.size());
  x = x.first(n);
  values = values.first(n);
  const double delta = xr - xl;
  const int law = delta == 0.0 ? LAW_UNIFORM : prof.law;
  switch (law) {
    case LAW_LINEAR:
    case LAW_ALPHA:
      for (std::size_t i = 0; i < n; ++i) {
        const double t = (x[i] - xl) / delta;
        values[i] = (1.0 - t) * vl + t * vr;
      }
      return 0;
    case LAW_PARABOLIC: {
      const double bowing = prof.p[2], minimum = prof.p[3];
      for (std::size_t i = 0; i < n; ++i) {
        const double t = (x[i] - xl) / delta;
        const double v = (1.0 - t) * vl + t * vr - t * (1.0 - t) * bowing;
        values[i] = v < minimum ? minimum : v;
      }
      return 0;
    }
    case LAW_LOGARITHMIC:
      LogarithmicLaw(xl, xr, vl, vr, x, values);
      return 0;
    case LAW_EXPONENTIAL:
      ExponentialLaw(prof, xl, xr, vl, vr, x, values);
      return 0;
    case LAW_BETA: {
      const double a = std::clamp(prof.p[2], 0.001, 1000.0);
      const double b = std::clamp(prof.p[3], 0.001, 1000.0);
      for (std::size_t i = 0; i < n; ++i) values[i] = vl + (vr - vl) * IncompleteBeta((x[i] - xl) / delta, a, b);
      return 0;
    }
    case LAW_EFFECTIVE_MEDIUM:
      // Bruggeman's effective medium for spherical inclusions of B in A
      for (std::size_t i = 0; i < n; ++i) {
        const double f = (x[i] - xl) / delta;
        const double s = (2.0 * vl - vr) * (1.0 - f) + (2.0 * vr - vl) * f;
        values[i] = (s + std::sqrt(std::max(0.0, s * s + 8.0 * vl * vr))) / 4.0;
      }
      return 0;
    case LAW_POWER:
      PowerLaw(prof, xl, xr, vl, vr, x, values);
      return 0;
    case LAW_PARABOLIC2:
      Parabolic2Law(prof, xl, xr, vl, vr, x, values);
      return 0;
    case LAW_FROM_FILE: {
      std::vector<double> fx, fv;
      if (ReadGradingFile(prof.gradingFile, fx, fv, env, report) < 0) {
        std::fill(values.begin(), values.end(), 0.0);
        return -1;
      }
      for (double& p : fx) p += xl;  // the file's positions are measured from the left side
      for (std::size_t i = 0; i < n; ++i) values[i] = PiecewiseLinear(fx, fv, x[i]);
      return 0;
    }
    case LAW_TABLE:
      for (std::size_t i = 0; i < n; ++i) values[i] = PiecewiseLinear(prof.xlist, prof.values, x[i]);
      return 0;
    default:  // the uniform laws 0, 10, 11
      std::fill(values.begin(), values.end(), vl);
      return 0;
  }
}

int interpolation(Profile& profile, std::span<const double> x, std::span<double> values, int setEnds,
                  const Environment& env) {
  const std::size_t n = std::min(x.size(), values.size());
  if (n == 0) return 0;
  const int law = profile.law;
  double xl, xr, vl, vr;
  if (profile.dependence == DEP_POSITION) {
    xl = x[0];
    xr = x[n - 1];
    vl = profile.p[5];
    vr = profile.p[6];
    if (law == LAW_UNIFORM) vr = vl;
    if (law == LAW_UNIFORM_B) vl = vr;
    if (law == LAW_UNIFORM_Y) vl = vr = (profile.p[5] + profile.p[6]) * 0.5;
  } else {
    xl = 0.0;
    xr = 1.0;
    vl = profile.p[0];
    vr = law == LAW_UNIFORM ? profile.p[0] : profile.p[1];
  }
  const int status = InterpolateBetween(profile, xl, xr, vl, vr, x.first(n), values.first(n), env);
  if (status < 0) return status;  // the property keeps its left and right values
  if (IsUniformLaw(law) || xr - xl == 0.0 || setEnds == 1) {
    profile.p[5] = values[0];
    profile.p[6] = values[n - 1];
  }
  return 0;
}

}  // namespace zoniq
