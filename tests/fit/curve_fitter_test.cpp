// The fitter's search on analytic objectives: first steps by hand, shrink, bounds, stop criteria
// and convergence (evaluation of points together: FitSimulationTest.WorkerThreadsGiveTheSerialFit).
#include "fit/curve_fitter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <tuple>

#include "test_util.hpp"

namespace zoniq {
namespace {

using Point = std::array<double, kMaxFitParameters>;
using Objective = std::function<double(const Point&)>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Evaluates an analytic objective and keeps every point it was asked for.
struct AnalyticEvaluator : FitEvaluator {
  explicit AnalyticEvaluator(Objective f) : f(std::move(f)) {}
  void Evaluate(const CurveFitter&, std::span<const FitTrial> trials, std::span<FitEvaluation> results) override {
    for (std::size_t t = 0; t < trials.size(); ++t) {
      asked.push_back(trials[t].values);
      results[t].chiSq[0] = f(trials[t].values);
    }
  }
  Objective f;
  std::vector<Point> asked;
};

struct Range {
  double lo, hi;
  int log;
};

// A fitter over the ranges, started at `start` (empty: the fitter's own start).
CurveFitter Fitter(const std::vector<Range>& ranges, int maxSteps, const std::vector<double>& start = {}) {
  CurveFitter f;
  InitialiseCurveFitter(f);
  f.nParameters = static_cast<int>(ranges.size());
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    f.minimum[i] = ranges[i].lo, f.maximum[i] = ranges[i].hi, f.logarithmic[i] = ranges[i].log;
    if (i < start.size()) f.startIsActual[i] = 1, f.actualValue[i] = start[i];
  }
  f.nMeasurements = 1;
  f.maxSteps = maxSteps;
  return f;
}

double Best(const CurveFitter& f, int i) {
  return f.running.parameter[static_cast<std::size_t>(i)][static_cast<std::size_t>(BestCurveFitIteration(f))];
}

TEST(CurveFitterTest, FirstStepsOfTheLineSearchAndTheSimplex) {
  // Logarithmic [1e14, 1e18] from 1e16: normalised 0.5; the first step goes to 0.6, i.e.
  // 10^16.4 = 2.5119e16. The objective falls towards larger values, so iteration 2
  // extrapolates beyond the better point by the golden ratio: 0.6 + 1.61803399·0.1.
  CurveFitter f = Fitter({{1e14, 1e18, 1}}, 3, {1e16});
  AnalyticEvaluator e([](const Point& p) { return std::pow(std::log10(p[0]) - 17.5, 2); });
  EXPECT_EQ(DoCurveFittingCalculations(f, e), 3);
  EXPECT_CLOSE(f.running.parameter[0][0], 1e16, 1e-12, 0);
  EXPECT_CLOSE(f.running.parameter[0][1], 2.5119e16, 1e-4, 0);
  EXPECT_CLOSE(f.running.parameter[0][2], std::pow(10.0, 14 + 4 * 0.761803399), 1e-9, 0);
  // A start within the step size of the top steps down instead (0.95 → 0.85, not 1.05); the
  // other parameter keeps its start value, then takes its own step.
  CurveFitter g = Fitter({{0, 1, 0}, {0, 1, 0}}, 3, {0.95, 0.3});
  AnalyticEvaluator sum([](const Point& p) { return p[0] + p[1]; });
  DoCurveFittingCalculations(g, sum);
  EXPECT_CLOSE(g.running.parameter[0][1], 0.85, 1e-12, 0);
  EXPECT_CLOSE(g.running.parameter[1][1], 0.3, 1e-12, 0);
  EXPECT_CLOSE(g.running.parameter[1][2], 0.4, 1e-12, 0);
}

TEST(CurveFitterTest, ShrinkMovesEveryVertexButTheBest) {
  // A hand-made simplex: iterations 0, 1, 2 with chi-squares 3, 2, 1 (iteration 2 best). A
  // shrink moves vertices 0 and 1 halfway to the best one, in two iterations, before a
  // reflection follows.
  CurveFitter f = Fitter({{0, 1, 0}, {0, 1, 0}}, 10);
  ResetCurveFitRunTime(f);
  const double x[3][2] = {{0.2, 0.2}, {0.8, 0.4}, {0.4, 0.8}};
  for (int k = 0; k < 3; ++k)
    f.running.parameter[0][k] = x[k][0], f.running.parameter[1][k] = x[k][1], f.running.ChiSqTotal[k] = 3 - k;
  FitAlgorithm a;
  InitialiseFitAlgorithm(f, a);
  a.shrinkCounter = 0;
  a.action = 15;
  EXPECT_EQ(NewCurveFittingParameterSet(f, 3, a), 19);
  EXPECT_EQ(AlgorithmChecks(f, 3, a, 19), 15);
  f.running.ChiSqTotal[3] = 2.5;
  a.action = 15;
  EXPECT_EQ(NewCurveFittingParameterSet(f, 4, a), 19);
  EXPECT_EQ(AlgorithmChecks(f, 4, a, 19), 12);
  EXPECT_EQ(a.vertex, (std::vector<int>{3, 4, 2}));
  // ½(0.2 + 0.4), ½(0.2 + 0.8); ½(0.8 + 0.4), ½(0.4 + 0.8).
  const double moved[2][2] = {{0.3, 0.5}, {0.6, 0.6}};
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < 2; ++i) EXPECT_CLOSE(f.running.parameter[i][3 + k], moved[k][i], 1e-12, 0);
}

TEST(CurveFitterTest, ConvergesOnAnalyticObjectives) {
  const auto lg = [](double v) { return std::log10(v); };
  // A curved valley (Rosenbrock-like, weaker curvature): minimum at (1.2, 1.44).
  const Objective valley = [](const Point& p) {
    return std::pow(1.2 - p[0], 2) + 10 * std::pow(p[1] - p[0] * p[0], 2);
  };
  // An anisotropic quadratic in three parameters, one logarithmic: minimum at (0.3, 5e16, -2).
  const Objective quadratic = [&](const Point& p) {
    return 4 * std::pow(p[0] - 0.3, 2) + std::pow(lg(p[1]) - lg(5e16), 2) + 0.5 * std::pow(p[2] + 2, 2);
  };
  // One logarithmic parameter whose objective is not a number below 1e15 (a failed fit point).
  const Objective line = [&](const Point& p) { return p[0] < 1e15 ? kNaN : std::pow(lg(p[0]) - lg(3e15), 2); };
  // From the corner opposite the optimum, near two bounds at the normalised point (0.07, 0.9),
  // across a region without numbers: the step-size stop once fired on repeated clamped points.
  const Objective corner = [&](const Point& p) {
    const double x = (lg(p[0]) - 14) / 4, y = (p[1] + 1) / 2;
    if (x > 0.6 && y > 0.2 && y < 0.35) return kNaN;
    return std::pow(x - 0.07, 2) + 3 * std::pow(y - 0.9, 2) + 0.5 * (x - 0.07) * (y - 0.9);
  };
  const struct {
    std::vector<Range> ranges;
    std::vector<double> start;
    const Objective& f;
    std::vector<double> optimum;
    double tolerance;  // relative to the optimum (absolute for 0)
  } cases[] = {{{{-2, 2, 0}, {-1, 3, 0}}, {-0.5, 2.0}, valley, {1.2, 1.44}, 2e-3},
               {{{0, 1, 0}, {1e14, 1e18, 1}, {-5, 5, 0}}, {0.9, 1e15, 4.0}, quadratic, {0.3, 5e16, -2}, 2e-3},
               {{{1e14, 1e18, 1}}, {1e17}, line, {3e15}, 1e-3},
               {{{1e14, 1e18, 1}, {-1, 1, 0}}, {1e18, -1}, corner, {std::pow(10.0, 14.28), 0.8}, 1e-3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.optimum.size());
    CurveFitter f = Fitter(c.ranges, 1000, c.start);
    f.stopChiSquare = 0;
    f.stopStepSize = 1e-7;
    AnalyticEvaluator e(c.f);
    EXPECT_LT(DoCurveFittingCalculations(f, e), 1000);  // ended by the step-size criterion
    EXPECT_EQ(f.running.endState, 2);
    for (const Point& p : e.asked)  // every point asked a number inside the range
      for (std::size_t i = 0; i < c.ranges.size(); ++i) ASSERT_TRUE(p[i] >= c.ranges[i].lo && p[i] <= c.ranges[i].hi);
    for (std::size_t i = 0; i < c.optimum.size(); ++i)
      EXPECT_CLOSE(Best(f, static_cast<int>(i)), c.optimum[i], c.tolerance, c.tolerance);
  }
}

TEST(FitEndStateTest, ARunThatUsesUpItsStepsSaysWhy) {
  // (p − 0.3)² + (q − 0.6)², zero at (0.3, 0.6). Seven steps cannot reach 1e-12 from (0.9, 0.1)
  // (the start alone is 0.61): step limit (4). One step from the optimum: the chi-square
  // criterion (3) is met by the last point evaluated. Enough steps: met before the limit.
  const struct {
    int maxSteps;
    double start0, start1, stopChiSquare;
    int endState;
    bool usesAllSteps;
  } cases[] = {{7, 0.9, 0.1, 1e-12, 4, true}, {1, 0.3, 0.6, 1e-12, 3, true}, {500, 0.9, 0.1, 1e-6, 3, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxSteps);
    CurveFitter f = Fitter({{0, 1, 0}, {0, 1, 0}}, c.maxSteps, {c.start0, c.start1});
    f.stopChiSquare = c.stopChiSquare;
    f.stopStepSize = 0;
    AnalyticEvaluator e([](const Point& p) { return std::pow(p[0] - 0.3, 2) + std::pow(p[1] - 0.6, 2); });
    EXPECT_EQ(DoCurveFittingCalculations(f, e) == c.maxSteps, c.usesAllSteps);
    EXPECT_EQ(std::make_tuple(f.running.endState, f.running.stopped), std::make_tuple(c.endState, false));
  }
}

}  // namespace
}  // namespace zoniq
