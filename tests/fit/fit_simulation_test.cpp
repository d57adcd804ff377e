// Fits of simulated curves: cell parameters recovered from curves the simulator produced with
// known ("hidden") values, with and without noise, and the same fit on worker threads.
#include <gtest/gtest.h>

#include <cmath>

#include "fit/simulated_fit_bench.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::FitLabel;
using Parameter = test::HiddenParameter;

// The absorber's acceptor density and its defect's density [cm⁻³] (functions: the keyword
// tables are built at start-up in another file).
std::array<int, 4> NA() { return FitLabel("layer 1", "NA", "nihil", "nihil"); }
std::array<int, 4> Nt() { return FitLabel("layer 1", "defect 1", "Nt total", "nihil"); }

// One measurement, a light I-V or a dark C-V, fitted with the parameters it was simulated with.
struct FitBench : test::SimulatedFitBench {
  explicit FitBench(bool cv) : SimulatedFitBench({cv ? FIT_CV_DARK : FIT_IV_LIGHT}) {}
  void Measure(const std::vector<Parameter>& ps, double noise) {
    SimulatedFitBench::Measure(0, ps, noise, 1607);
    SetParameters(ps);
  }
};

TEST(FitSimulationTest, RecoversHiddenParametersFromSimulatedCurves) {
  struct Case {
    const char* name;
    bool cv;
    std::vector<Parameter> parameters;
    double noise, tolerance;
    double temperature = 0;  // >0: the measurement's own temperature, a fixed parameter [K]
  };
  const std::vector<Case> cases = {
      // From a light I-V, the absorber's defect density and its doping, each fitted alone:
      // noise-free within 2 %, with 1 % noise within 5 %.
      {"I-V, Nt", false, {{Nt(), 1e13, 1e17, 3e15}}, 0.0, 0.02},
      {"I-V, NA", false, {{NA(), 1e15, 1e17, 2.3e16}}, 0.0, 0.02},
      {"I-V, Nt, 1 % noise", false, {{Nt(), 1e13, 1e17, 3e15}}, 0.01, 0.05},
      {"I-V, NA, 1 % noise", false, {{NA(), 1e15, 1e17, 2.3e16}}, 0.01, 0.05},
      // Measured at 330 K while the working point says 300 K: the temperature is the
      // measurement's fixed parameter.
      {"I-V at 330 K, Nt", false, {{Nt(), 1e13, 1e17, 3e15}}, 0.0, 0.02, 330},
      // The absorber doping from a dark C-V (the depletion capacitance is set by NA).
      {"C-V, NA", true, {{NA(), 1e15, 1e17, 2.3e16}}, 0.0, 0.02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FitBench b(c.cv);
    if (c.temperature > 0) {
      CurveFitMeasurement& m = b.fitter.measurement[0];
      m.hasFixedParameter = 1;
      m.fixedLabel = FitLabel("T", "nihil", "nihil", "nihil");
      m.fixedReal = c.temperature;
      b.sim.wp.temperature = c.temperature;  // for the measured curve only
    }
    b.Measure(c.parameters, c.noise);
    b.sim.wp.temperature = 300;
    b.fitter.maxSteps = 60;
    b.fitter.stopStepSize = 1e-4;
    ASSERT_EQ(b.Fit(1), 0);
    for (std::size_t i = 0; i < c.parameters.size(); ++i)
      EXPECT_CLOSE(b.Best(static_cast<int>(i)), c.parameters[i].value, c.tolerance, 0) << "parameter " << i;
    // The session's cell keeps its values until the best point is asked for.
    if (c.parameters[0].label != NA()) continue;
    EXPECT_CLOSE(b.cell.zonnecel.layer[0].Na.p[0], 1e16, 1e-12, 0);
    ASSERT_EQ(SaveBestParameterSetInCellDefinition(b.core.env(), b.fitter, b.cell, b.sim), 0);
    EXPECT_CLOSE(b.cell.zonnecel.layer[0].Na.p[0], b.Best(0), 1e-12, 0);
  }
}

TEST(FitSimulationTest, WorkerThreadsGiveTheSerialFit) {
  // Two workers evaluate the first simplex (and any shrink) together; history, messages and
  // simulation records must be those of the serial fit.
  FitBench serial(false), parallel(false);
  const std::vector<Parameter> ps = {{NA(), 1e15, 1e17, 2.3e16}, {Nt(), 1e13, 1e17, 3e15}};
  serial.Measure(ps, 0.0);
  parallel.Measure(ps, 0.0);
  serial.fitter.maxSteps = parallel.fitter.maxSteps = 8;
  ASSERT_EQ(serial.Fit(1), 0);
  ASSERT_EQ(parallel.Fit(2), 0);
  EXPECT_EQ(serial.fitter.running.parameter, parallel.fitter.running.parameter);
  EXPECT_EQ(serial.fitter.running.ChiSqTotal, parallel.fitter.running.ChiSqTotal);
  ASSERT_EQ(serial.sim.simulaties.size(), parallel.sim.simulaties.size());
  auto p = parallel.sim.simulaties.begin();
  for (const SimulationRecord& r : serial.sim.simulaties) {
    EXPECT_EQ(r.fit.iteration, p->fit.iteration);
    EXPECT_EQ(r.iv.j, p->iv.j);
    ++p;
  }
  const auto& su = static_cast<RecordingUserInterface&>(*serial.core.ui);
  const auto& pu = static_cast<RecordingUserInterface&>(*parallel.core.ui);
  EXPECT_EQ(su.popups.size(), pu.popups.size());
  // Status lines are committed in iteration order (the clock time of each simulation aside).
  const auto untimed = [](std::vector<std::string> lines) {
    std::erase_if(lines, [](const std::string& l) { return l.rfind("simulation done on", 0) == 0; });
    return lines;
  };
  EXPECT_EQ(untimed(su.status), untimed(pu.status));
  EXPECT_GT(untimed(su.status).size(), 8u);
}

}  // namespace
}  // namespace zoniq
