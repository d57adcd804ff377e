// Why a fit ended, also when it used up its steps.
#include <gtest/gtest.h>

#include <cmath>

#include "fit/curve_fitter.hpp"

namespace zoniq {
namespace {

// (p − 0.3)² + (q − 0.6)², zero at (0.3, 0.6).
class Paraboloid : public FitEvaluator {
 public:
  void Evaluate(const CurveFitter&, std::span<const FitTrial> trials, std::span<FitEvaluation> results) override {
    for (std::size_t t = 0; t < trials.size(); ++t)
      results[t].chiSq[0] = std::pow(trials[t].values[0] - 0.3, 2) + std::pow(trials[t].values[1] - 0.6, 2);
  }
};

TEST(FitEndStateTest, ARunThatUsesUpItsStepsSaysWhy) {
  struct Case {
    const char* name;
    int maxSteps;
    double start0, start1, stopChiSquare;
    int endState;
    bool usesAllSteps;
  };
  const Case cases[] = {
      // Seven steps cannot reach 1e-12 from (0.9, 0.1) (the start alone is 0.61): step limit.
      {"limit", 7, 0.9, 0.1, 1e-12, 4, true},
      // One step, the start point itself at the optimum: the chi-square criterion is met by the
      // last point evaluated, before a next one is asked for.
      {"last point converged", 1, 0.3, 0.6, 1e-12, 3, true},
      // Enough steps: the criterion is met and the run stops before its limit.
      {"converged early", 500, 0.9, 0.1, 1e-6, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CurveFitter f;
    InitialiseCurveFitter(f);
    f.nParameters = 2;
    f.nMeasurements = 1;
    f.maxSteps = c.maxSteps;
    f.stopChiSquare = c.stopChiSquare;
    f.stopStepSize = 0;
    f.minimum = {0, 0};
    f.maximum = {1, 1};
    f.startIsActual = {1, 1};
    f.actualValue = {c.start0, c.start1};
    Paraboloid e;
    const int done = DoCurveFittingCalculations(f, e);
    EXPECT_EQ(f.running.endState, c.endState);
    EXPECT_FALSE(f.running.stopped);
    EXPECT_EQ(done == c.maxSteps, c.usesAllSteps);
  }
}

}  // namespace
}  // namespace zoniq
