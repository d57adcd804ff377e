#include "fit/curve_fitter.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <ostream>

#include "common/format.hpp"

namespace zoniq {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kGolden = 1.61803399;   // extrapolation factor of the bracketing step
constexpr double kGoldenC = 0.38196601;  // golden-section fractions
constexpr double kGoldenR = 0.61803399;
constexpr double kBoundTolerance = 1e-7;  // a point this close to a bound lies on it

std::size_t U(int i) { return static_cast<std::size_t>(i); }

double Chi(const CurveFitter& f, int k) { return f.running.ChiSqTotal[U(k)]; }
double X(const CurveFitter& f, int i, int k) { return NormaliseParameter(f, i, f.running.parameter[U(i)][U(k)]); }

bool Finished(int state) { return state == 2 || state == 3 || state == 4; }

void SetTrial(CurveFitter& f, int i, int k, double x) {
  f.running.parameter[U(i)][U(k)] = ConstrainParameterInRange(f, i, DeNormaliseParameter(f, i, x));
}

// The normalised coordinate of a first step of parameter i from the point of iteration `base`:
// `step` up, or down when up would leave the range.
double FirstStep(const CurveFitter& f, int i, int base, double step) {
  const double x0 = NormaliseParameter(f, i, f.running.parameter[U(i)][U(base)]);
  const double up = x0 + step;
  return up <= 1.0 ? up : x0 - step;
}

bool Building(const CurveFitter& f, int k, const FitAlgorithm& a) {
  return k >= a.buildStart && k < a.buildStart + f.nParameters;
}

// Iteration k of a build: the base point with parameter k − buildStart displaced.
int BuildStep(CurveFitter& f, int k, const FitAlgorithm& a) {
  const int n = f.nParameters, j = k - a.buildStart;
  for (int i = 0; i < n; ++i) f.running.parameter[U(i)][U(k)] = f.running.parameter[U(i)][U(a.buildBase)];
  SetTrial(f, j, k, FirstStep(f, j, a.buildBase, a.buildStep));
  if (j < n - 1) return 5;
  return n == 1 ? 20 : 6;
}

// ---- line search

struct Triple {
  double xa, xb, xc, fa, fb, fc;
};
Triple LineTriple(const CurveFitter& f, const FitAlgorithm& a) {
  const int va = a.vertex[0], vb = a.vertex[1], vc = a.vertex[2];
  return {X(f, 0, va), X(f, 0, vb), X(f, 0, vc), Chi(f, va), Chi(f, vb), Chi(f, vc)};
}

double GoldenPoint(const Triple& t) {
  return std::abs(t.xc - t.xb) <= std::abs(t.xb - t.xa) ? kGoldenC * t.xa + kGoldenR * t.xb
                                                        : kGoldenC * t.xc + kGoldenR * t.xb;
}

// The vertex of the parabola through the three points; not finite when the chi-squares are not.
double ParabolaPoint(const Triple& t) {
  const double r = (t.xb - t.xa) * (t.fb - t.fc);
  const double q = (t.xb - t.xc) * (t.fb - t.fa);
  double d = r - q;
  if (std::abs(d) < 1e-15) d = q < r ? 1e-15 : -1e-15;
  return t.xb - 0.5 * ((t.xb - t.xa) * r - (t.xb - t.xc) * q) / d;
}

int LineSearchStep(CurveFitter& f, int k, FitAlgorithm& a) {
  double u = 0.0;
  int state = 7;
  const Triple t = LineTriple(f, a);
  const bool bracketed = t.fb < t.fa && t.fb < t.fc;
  switch (a.action) {
    case 20: {  // after the first pair
      const int va = a.vertex[0], vb = a.vertex[1];
      if (t.fb < t.fa) {
        u = t.xb + kGolden * (t.xb - t.xa);
        a.vertex = {va, vb, k};
      } else {
        u = t.xa + kGolden * (t.xa - t.xb);
        a.vertex = {k, va, vb};
      }
      break;
    }
    case 7:
    case 8:  // extrapolate until the minimum is bracketed
      if (bracketed) {
        u = GoldenPoint(t), state = 11;
      } else {
        u = t.fc <= t.fa ? t.xc + kGolden * (t.xc - t.xb) : t.xa + kGolden * (t.xa - t.xb);
      }
      break;
    case 9: {  // parabolic step; golden section once bracketed
      // A parabola that opens downwards points at a maximum: extrapolate towards the lower
      // side instead.
      const double curvature = (t.fc - t.fb) / (t.xc - t.xb) - (t.fb - t.fa) / (t.xb - t.xa);
      if (bracketed) {
        u = GoldenPoint(t), state = 11;
      } else if (curvature > 0.0) {
        u = ParabolaPoint(t);
      } else {
        u = t.fc <= t.fa ? t.xc + kGolden * (t.xc - t.xb) : t.xa + kGolden * (t.xa - t.xb);
      }
      break;
    }
    default:  // 10, 11: golden section
      u = GoldenPoint(t), state = 11;
      break;
  }
  // A step in the same iteration, whatever the action: the trial point is never left unset.
  if (!std::isfinite(u)) u = GoldenPoint(t), state = 11;
  SetTrial(f, 0, k, u);
  return state;
}

// Orders the line search's three points by ascending normalised value.
void SortLine(const CurveFitter& f, FitAlgorithm& a) {
  std::stable_sort(a.vertex.begin(), a.vertex.end(), [&](int p, int q) { return X(f, 0, p) < X(f, 0, q); });
}

int LineSearchChecks(const CurveFitter& f, int k, FitAlgorithm& a, int state) {
  SortLine(f, a);
  const Triple t = LineTriple(f, a);
  const int va = a.vertex[0], vb = a.vertex[1], vc = a.vertex[2];
  const double xu = X(f, 0, k), fu = Chi(f, k);
  if (state == 7) {
    if (k == 2) return t.fb < t.fa && t.fb < t.fc ? 10 : 9;
    // Beyond the points: the new point always joins them, so that a worse point beyond an end
    // brackets the minimum instead of being forgotten (a parabola through the old points
    // would propose it again).
    if (xu > t.xc && xu < 1.0) {
      a.vertex = {vb, vc, k};
      return fu < t.fc ? 8 : 9;
    }
    if (xu < t.xa && xu > 0.0) {
      a.vertex = {k, va, vb};
      return fu < t.fa ? 8 : 9;
    }
    if (std::abs(xu - 1.0) < kBoundTolerance) {
      a.vertex = {vb, vc, k};
      return 9;
    }
    if (std::abs(xu) < kBoundTolerance) {
      a.vertex = {k, va, vb};
      return 9;
    }
    if (xu >= t.xa && xu <= t.xb) {
      if (fu <= t.fa && fu <= t.fb) return a.vertex = {va, k, vb}, 10;
      if (fu < t.fb || t.fc < t.fb) return a.vertex = {va, k, vb}, 8;
      return a.vertex = {k, vb, vc}, 10;
    }
    if (xu > t.xb && xu <= t.xc) {
      if (fu <= t.fb && fu <= t.fc) return a.vertex = {vb, k, vc}, 10;
      if (t.fa < t.fb || fu < t.fb) return a.vertex = {vb, k, vc}, 8;
      return a.vertex = {va, vb, k}, 10;
    }
    return 8;
  }
  if (state == 10) return 11;
  if (state == 11) {
    if (xu >= t.xa && xu < t.xb)
      a.vertex = fu <= t.fb ? std::vector<int>{va, k, vb} : std::vector<int>{k, vb, vc};
    else
      a.vertex = fu <= t.fb ? std::vector<int>{vb, k, vc} : std::vector<int>{va, vb, k};
    return 11;
  }
  return 0;
}

// ---- simplex

void SortSimplex(const CurveFitter& f, FitAlgorithm& a) {
  // Worst first; a pair is swapped only when strictly out of order.
  std::stable_sort(a.vertex.begin(), a.vertex.end(), [&](int p, int q) { return Chi(f, p) > Chi(f, q); });
}

int SimplexStep(CurveFitter& f, int k, FitAlgorithm& a) {
  const int n = f.nParameters;
  if (a.action != 15) SortSimplex(f, a);
  std::array<double, kMaxFitParameters> c{}, w{}, t{};
  for (int i = 0; i < n; ++i) {
    for (int v = 1; v <= n; ++v) c[U(i)] += X(f, i, a.vertex[U(v)]);
    c[U(i)] /= n;
    w[U(i)] = X(f, i, a.vertex[0]);
  }
  int state = 16;
  switch (a.action) {
    case 13:
      for (int i = 0; i < n; ++i) t[U(i)] = c[U(i)] + 2.0 * (c[U(i)] - w[U(i)]);
      state = 17;
      break;
    case 14:
      for (int i = 0; i < n; ++i) t[U(i)] = 0.5 * (w[U(i)] + c[U(i)]);
      state = 18;
      break;
    case 15: {
      const int v = std::clamp(a.shrinkCounter, 0, n - 1);
      for (int i = 0; i < n; ++i) {
        const double best = X(f, i, a.vertex[U(n)]);
        t[U(i)] = best + 0.5 * (X(f, i, a.vertex[U(v)]) - best);
      }
      a.vertex[U(v)] = k;
      ++a.shrinkCounter;
      state = 19;
      break;
    }
    default:  // 12: reflection of the worst vertex through the centroid of the others
      for (int i = 0; i < n; ++i) t[U(i)] = c[U(i)] + (c[U(i)] - w[U(i)]);
      break;
  }
  for (int i = 0; i < n; ++i) SetTrial(f, i, k, t[U(i)]);
  return state;
}

int SimplexChecks(const CurveFitter& f, int k, FitAlgorithm& a, int state) {
  const int n = f.nParameters;
  const double fu = Chi(f, k);
  const double worst = Chi(f, a.vertex[0]);
  switch (state) {
    case 6:
      return 12;
    case 16: {
      const double best = Chi(f, a.vertex[U(n)]), second = Chi(f, a.vertex[1]);
      if (best <= fu && fu < second) return a.vertex[0] = k, 12;
      if (fu < best) return a.reflection = k, 13;
      return 14;
    }
    case 17:
      a.vertex[0] = a.reflection >= 0 && !(fu < Chi(f, a.reflection)) ? a.reflection : k;
      return 12;
    case 18:
      if (fu < worst) return a.vertex[0] = k, 12;
      a.shrinkCounter = 0;
      return 15;
    case 19:
      // Every vertex but the best moves towards the best one.
      return a.shrinkCounter < n ? 15 : 12;
    default:
      a.vertex[0] = k;
      return 12;
  }
}

// Trial points known before the present one is evaluated: the first simplex (or pair) and
// the rest of a shrink. Iteration k's own point is already in the history.
std::vector<FitTrial> PredictedTrials(const CurveFitter& f, int k, const FitAlgorithm& a, int state) {
  std::vector<FitTrial> out;
  const int n = f.nParameters;
  const auto push = [&](int iteration, const std::array<double, kMaxFitParameters>& x) {
    if (iteration >= f.maxSteps) return;
    FitTrial t;
    t.iteration = iteration;
    for (int i = 0; i < n; ++i) t.values[U(i)] = ConstrainParameterInRange(f, i, DeNormaliseParameter(f, i, x[U(i)]));
    out.push_back(t);
  };
  if (state == 1 || state == 5) {
    std::array<double, kMaxFitParameters> base{};
    for (int i = 0; i < n; ++i) base[U(i)] = X(f, i, a.buildBase);
    for (int j = std::max(k + 1, a.buildStart); j < a.buildStart + n; ++j) {
      std::array<double, kMaxFitParameters> x = base;
      x[U(j - a.buildStart)] = FirstStep(f, j - a.buildStart, a.buildBase, a.buildStep);
      push(j, x);
    }
  } else if (state == 19 && a.mode == kSimplex) {
    for (int v = a.shrinkCounter, j = k + 1; v < n; ++v, ++j) {
      std::array<double, kMaxFitParameters> x{};
      for (int i = 0; i < n; ++i) {
        const double best = X(f, i, a.vertex[U(n)]);
        x[U(i)] = best + 0.5 * (X(f, i, a.vertex[U(v)]) - best);
      }
      push(j, x);
    }
  }
  return out;
}

}  // namespace

std::string CurveFitTypeLabel(int type) {
  static const char* const labels[] = {"I(V)",  "C (V)",  "G (V)",  "M-S",   "C (f)",
                                       "G (f)", "G(f)/f", "Z-plot", "QE(l)", "QE(hv)"};
  if (type < 1 || type > 20) return "none";
  return labels[(type - 1) / 2];
}

FitSweep CurveFitTypeSweep(int type) {
  if (type < 1 || type > 20) return FitSweep::kNone;
  if (type <= 2) return FitSweep::kIV;
  if (type <= 8) return FitSweep::kCV;
  if (type <= 16) return FitSweep::kCf;
  return FitSweep::kQE;
}

int CurveFitTypeWithLight(int type, int illumination) {
  if (type < 1 || type > 20) return type;
  const int dark = type % 2 == 1 ? type : type - 1;
  return illumination ? dark + 1 : dark;
}

void InitialiseCurveFitParameters(CurveFitter& f) {
  f.nParameters = 0;
  f.minimum.fill(0.0);
  f.maximum.fill(0.0);
  f.actualValue.fill(0.0);
  f.startIsActual.fill(0);
  f.logarithmic.fill(0);
  for (auto& l : f.label) l.fill(-1);
  for (auto& s : f.name) s.clear();
}

void InitialiseCurveFitMeasurements(CurveFitter& f) {
  f.nMeasurements = 0;
  for (CurveFitMeasurement& m : f.measurement) m = CurveFitMeasurement{};
}

void InitialiseCurveFitRunTime(CurveFitter& f) {
  f.running = CurveFitRunTime{};
  f.running.stepSize = f.maxStepSize;
}

void InitialiseCurveFitter(CurveFitter& f) {
  f.maxSteps = 25;
  f.maxStepSize = 0.1;
  f.stopStepSize = 1e-10;
  f.stopChiSquare = 1e-7;
  InitialiseCurveFitParameters(f);
  InitialiseCurveFitMeasurements(f);
  InitialiseCurveFitRunTime(f);
}

void ResetCurveFitRunTime(CurveFitter& f) {
  InitialiseCurveFitRunTime(f);
  const std::size_t steps = U(std::max(f.maxSteps, 1));
  f.running.parameter.assign(U(f.nParameters), std::vector<double>(steps, 0.0));
  f.running.ChiSq.assign(U(f.nMeasurements), std::vector<double>(steps, 0.0));
  f.running.ChiSqTotal.assign(steps, 0.0);
  for (int i = 0; i < f.nParameters; ++i) f.running.parameter[U(i)][0] = ParameterStartValue(f, i);
}

double NormaliseParameter(const CurveFitter& f, int i, double p) {
  const double lo = f.minimum[U(i)], hi = f.maximum[U(i)];
  if (f.logarithmic[U(i)]) return std::log(p / lo) / std::log(hi / lo);
  return (p - lo) / (hi - lo);
}

double DeNormaliseParameter(const CurveFitter& f, int i, double x) {
  const double lo = f.minimum[U(i)], hi = f.maximum[U(i)];
  if (f.logarithmic[U(i)]) return lo * std::pow(hi / lo, x);
  return (1.0 - x) * lo + x * hi;
}

double ConstrainParameterInRange(const CurveFitter& f, int i, double p) {
  const double lo = f.minimum[U(i)], hi = f.maximum[U(i)];
  if (!(p > lo)) return lo;  // NaN included: a trial point is always a number
  return p > hi ? hi : p;
}

double ParameterStartValue(const CurveFitter& f, int i) {
  const double lo = f.minimum[U(i)], hi = f.maximum[U(i)];
  if (f.startIsActual[U(i)]) return ConstrainParameterInRange(f, i, f.actualValue[U(i)]);
  return f.logarithmic[U(i)] ? std::sqrt(lo * hi) : 0.5 * (lo + hi);
}

void InitialiseFitAlgorithm(const CurveFitter& f, FitAlgorithm& a) {
  const int n = f.nParameters;
  a = FitAlgorithm{};
  a.mode = n == 1 ? kLineSearch : kSimplex;
  a.buildStep = f.maxStepSize;
  a.vertex.clear();
  for (int v = 0; v < (n == 1 ? 3 : n + 1); ++v) a.vertex.push_back(v);
  a.action = 1;
}

int NewCurveFittingParameterSet(CurveFitter& f, int k, FitAlgorithm& a) {
  const int n = f.nParameters;
  if (k > 0 && Chi(f, k - 1) <= f.stopChiSquare) return 3;
  if (k >= f.maxSteps) return 4;
  if (k > 0 && f.running.stepSize <= f.stopStepSize) {
    if (a.mode != kSimplex || Building(f, k, a)) return 2;
    // Rebuild the simplex around its best point unless the last rebuild found nothing better.
    int best = a.vertex[0];
    for (int v : a.vertex)
      if (Chi(f, v) < Chi(f, best)) best = v;
    if (a.restartBest >= 0 && !(Chi(f, best) < Chi(f, a.restartBest))) return 2;
    // A full-size simplex: a small one beside a bound or a region where the simulation fails
    // tends to shrink back onto the same point.
    a.restartBest = best;
    a.buildBase = best;
    a.buildStart = k;
    a.vertex.assign(1, best);
    for (int j = 0; j < n; ++j) a.vertex.push_back(k + j);
  }
  if (k == 0) {
    for (int i = 0; i < n; ++i) f.running.parameter[U(i)][0] = ParameterStartValue(f, i);
    return 1;
  }
  if (Building(f, k, a)) return BuildStep(f, k, a);
  return a.mode == kSimplex ? SimplexStep(f, k, a) : LineSearchStep(f, k, a);
}

int AlgorithmChecks(const CurveFitter& f, int k, FitAlgorithm& a, int state) {
  return a.mode == kSimplex ? SimplexChecks(f, k, a, state) : LineSearchChecks(f, k, a, state);
}

double SearchSize(const CurveFitter& f, int k, const FitAlgorithm& a) {
  const int n = f.nParameters;
  if (a.mode == kLineSearch) {
    if (k < 2) return f.maxStepSize;
    double lo = kInf, hi = -kInf;
    for (int v : a.vertex) lo = std::min(lo, X(f, 0, v)), hi = std::max(hi, X(f, 0, v));
    return hi - lo;
  }
  if (k < a.buildStart + n - 1) return f.maxStepSize;
  int best = a.vertex[0];
  for (int v : a.vertex)
    if (Chi(f, v) < Chi(f, best)) best = v;
  double size = 0.0;
  for (int v : a.vertex)
    for (int i = 0; i < n; ++i) size = std::max(size, std::abs(X(f, i, v) - X(f, i, best)));
  return size;
}

int BestCurveFitIteration(const CurveFitter& f) {
  const int last = f.running.iteration;
  if (last < 0 || f.running.ChiSqTotal.empty()) return -1;
  int best = -1;
  for (int k = 0; k <= last; ++k)
    if (std::isfinite(Chi(f, k)) && (best < 0 || Chi(f, k) < Chi(f, best))) best = k;
  return best < 0 ? last : best;
}

std::string CurveFitProgressLine(const CurveFitter& f, int k) {
  std::string line =
      "fit iteration " + std::to_string(k) + "/" + std::to_string(f.maxSteps) + ": chi-square " + sci(Chi(f, k), 0, 4);
  int best = 0;
  for (int j = 1; j <= k; ++j)
    if (Chi(f, j) < Chi(f, best)) best = j;
  line += "; best " + sci(Chi(f, best), 0, 4) + " (iteration " + std::to_string(best) + ")";
  for (int i = 0; i < f.nParameters; ++i) {
    const std::string& name = f.name[U(i)];
    line += "; " + (name.empty() ? "parameter " + std::to_string(i + 1) : name) + " = " +
            sci(f.running.parameter[U(i)][U(k)], 0, 4);
  }
  return line;
}

int DoCurveFittingCalculations(CurveFitter& f, FitEvaluator& evaluator, const FitRunOptions& options) {
  const int n = f.nParameters;
  if (n <= 0 || n > kMaxFitParameters || f.nMeasurements <= 0 || f.maxSteps <= 0) return 0;
  ResetCurveFitRunTime(f);
  CurveFitRunTime& run = f.running;
  FitAlgorithm a;
  InitialiseFitAlgorithm(f, a);
  // Evaluations made ahead of their iteration (independent points evaluated together).
  std::map<int, std::pair<FitTrial, FitEvaluation>> ahead;
  int state = 1;
  int evaluated = 0;
  for (int k = 0; k < f.maxSteps && !Finished(state); ++k) {
    run.iteration = k;
    state = NewCurveFittingParameterSet(f, k, a);
    if (Finished(state)) {
      run.iteration = k - 1;
      run.endState = state;
      break;
    }
    FitTrial trial;
    trial.iteration = k;
    for (int i = 0; i < n; ++i) trial.values[U(i)] = run.parameter[U(i)][U(k)];
    FitEvaluation result;
    const auto found = ahead.find(k);
    if (found != ahead.end() && found->second.first.values == trial.values) {
      result = found->second.second;
    } else {
      std::vector<FitTrial> group{trial};
      if (evaluator.Parallelism() > 1)
        for (const FitTrial& t : PredictedTrials(f, k, a, state)) group.push_back(t);
      std::vector<FitEvaluation> results(group.size());
      run.measurementIndex = 0;
      evaluator.Evaluate(f, group, results);
      result = results[0];
      for (std::size_t g = 1; g < group.size(); ++g) ahead[group[g].iteration] = {group[g], results[g]};
    }
    ahead.erase(k);
    run.measurementIndex = -1;
    double total = 0.0;
    for (int m = 0; m < f.nMeasurements; ++m) {
      double chi = result.chiSq[U(m)];
      if (!std::isfinite(chi)) chi = kInf;  // a failed or meaningless comparison is the worst point
      run.ChiSq[U(m)][U(k)] = chi;
      total += chi;
    }
    run.ChiSqTotal[U(k)] = total / f.nMeasurements;
    ++evaluated;
    evaluator.Commit(trial);
    if (options.progress) *options.progress << CurveFitProgressLine(f, k) << std::endl;
    if (state != -1 && state != 1 && state != 5 && state != 20) state = AlgorithmChecks(f, k, a, state);
    a.action = state;
    run.stepSize = SearchSize(f, k, a);
    if (k + 1 < f.maxSteps && options.stopRequested && options.stopRequested()) {
      run.stopped = true;
      break;
    }
  }
  // A run that used up its steps ends without asking for another point: it must still say why
  // it ended, and a last point that met the chi-square criterion has converged.
  if (!run.stopped && run.endState == 0 && evaluated > 0)
    run.endState = Chi(f, run.iteration) <= f.stopChiSquare ? 3 : 4;
  return evaluated;
}

}  // namespace zoniq
