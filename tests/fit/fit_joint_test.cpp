// A joint fit of two parameters from two measurements of one cell. From a light I-V alone the
// absorber's doping and its defect density compensate each other (both set the recombination
// and the open-circuit voltage); a dark C-V of the same cell fixes the doping through the
// depletion capacitance, and the I-V then fixes the defect density. One simplex run on the
// average of both chi-squares must recover both hidden values.
#include <gtest/gtest.h>

#include <cmath>

#include "fit/simulated_fit_bench.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::FitLabel;
using Hidden = test::HiddenParameter;

// The light I-V and the dark C-V of one cell; each measurement's noise from its own seed.
struct JointBench : test::SimulatedFitBench {
  JointBench() : SimulatedFitBench({FIT_IV_LIGHT, FIT_CV_DARK}) {}
  void Measure(int index, const std::vector<Hidden>& ps, double noise) {
    SimulatedFitBench::Measure(index, ps, noise, static_cast<unsigned>(2207 + 31 * index));
  }
};

TEST(FitJointTest, DopingFromCapacitanceAndDefectDensityFromCurrentInOneRun) {
  // Both hidden values lie well away from the cell's own (NA 1e16, Nt 1e14), where the fit
  // starts, and away from the middle of their ranges.
  const std::vector<Hidden> hidden = {{FitLabel("layer 1", "NA", "nihil", "nihil"), 1e15, 1e17, 2.3e16},
                                      {FitLabel("layer 1", "defect 1", "Nt total", "nihil"), 1e13, 1e17, 3e15}};
  struct Case {
    const char* name;
    double noise, tolerance;
  };
  for (const Case& c : {Case{"noise-free", 0.0, 0.02}, Case{"1 % noise", 0.01, 0.05}}) {
    SCOPED_TRACE(c.name);
    JointBench b;
    b.Measure(0, hidden, c.noise);
    b.Measure(1, hidden, c.noise);
    b.SetParameters(hidden);
    b.fitter.maxSteps = 120;
    b.fitter.stopStepSize = 1e-4;
    ASSERT_EQ(b.Fit(1), 0);
    const int best = BestCurveFitIteration(b.fitter);
    for (int i = 0; i < 2; ++i) {
      EXPECT_CLOSE(b.Best(i), hidden[static_cast<std::size_t>(i)].value, c.tolerance, 0) << "parameter " << i;
    }
    // Both measurements agree at the best point: neither is traded against the other. Noise-free
    // the run ends on the chi-square criterion (1e-7); with 1 % relative noise a measurement's
    // chi-square, sum (δy)² / sum y², stays at the noise's own level, about 1e-4.
    if (c.noise == 0) {
      EXPECT_EQ(b.fitter.running.endState, 3);
    }
    for (int m = 0; m < 2; ++m)
      EXPECT_LT(b.fitter.running.ChiSq[static_cast<std::size_t>(m)][static_cast<std::size_t>(best)],
                c.noise == 0 ? 2e-7 : 3e-4)
          << "measurement " << m;
  }
}

}  // namespace
}  // namespace zoniq
