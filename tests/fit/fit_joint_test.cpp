// A joint fit of two parameters from two measurements of one cell. From a light I-V alone the
// absorber's doping and its defect density compensate each other (both set the recombination
// and the open-circuit voltage); a dark C-V of the same cell fixes the doping through the
// depletion capacitance, and the I-V then fixes the defect density. One simplex run on the
// average of both chi-squares must recover both hidden values.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "batch/batch_setup.hpp"
#include "fit/fit_run.hpp"
#include "measure/simulation_driver.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

std::array<int, 4> Label(const char* l1, const char* l2, const char* l3, const char* l4) {
  return {BatchKeyWordToBP_constant(1, l1), BatchKeyWordToBP_constant(2, l2), BatchKeyWordToBP_constant(3, l3),
          BatchKeyWordToBP_constant(4, l4)};
}

struct Hidden {
  std::array<int, 4> label;
  double lo, hi, value;
};

// The thin-film test cell (absorber NA 1e16, charged defect 1e14 cm⁻³) with a short light I-V
// and a short dark C-V.
struct JointBench {
  JointBench() : core(test::HomeFolder(), std::make_unique<RecordingUserInterface>()) {
    InitialiseSimulationState(sim, test::HomeFolder());
    cell.parameterset1 = test::ThinFilmCell(true);
    cell.parameterset1.cellParas.layer[0].A = {1e7, 1e7};  // α = A·sqrt(hν − Eg) [/m]
    parameterset1_to_2(cell.zonnecel, cell.parameterset1);
    cell.problemName = "thin-film test cell";
    sim.wp.numberOfSteps = 5;
    sim.actie.iv = {0, -0.1, 0.7, 9, 0};
    sim.actie.cv = {0, -0.6, 0.2, 9, 0};
    sim.wp.frequency = 1e4;
    InitialiseCurveFitter(fitter);
    fitter.measurement[0].type = FIT_IV_LIGHT;
    fitter.measurement[1].type = FIT_CV_DARK;
    fitter.nMeasurements = 2;
  }

  // Measurement m simulated with the hidden values, its ordinate times (1 + noise·g), g Gaussian
  // from a fixed seed (a different one per measurement).
  void Measure(int index, const std::vector<Hidden>& ps, double noise) {
    CurveFitMeasurement& m = fitter.measurement[static_cast<std::size_t>(index)];
    CellState hidden = cell;
    SimulationState s;
    InitialiseSimulationState(s, test::HomeFolder());
    s.wp = sim.wp;
    s.actie = sim.actie;
    const bool iv = m.type == FIT_IV_LIGHT;
    s.actie.iv.on = iv;
    s.actie.cv.on = !iv;
    s.wp.dark = iv ? 0 : 1;
    for (const Hidden& p : ps) {
      BatchParameter bp;
      bp.label = p.label;
      BatchTarget target;
      std::string why;
      ASSERT_TRUE(ResolveBatchParameter(hidden.zonnecel, bp, target, why)) << why;
      ASSERT_TRUE(ChangeValue(hidden.zonnecel, s.wp, s.secondwp, bp, target, p.value, why)) << why;
    }
    ErrorReporting errors;
    RecordingUserInterface ui;
    ASSERT_EQ(calculate_withMeta(hidden, s, Environment{&ui, &errors, test::HomeFolder()}, nullptr, nullptr), 0);
    const SimulationRecord& r = *s.CurrentRecord();
    const int n = iv ? r.iv.pointsDone : r.cv.pointsDone;
    ASSERT_GE(n, 8);
    std::mt19937 rng(static_cast<unsigned>(2207 + 31 * index));
    std::normal_distribution<double> g(0.0, 1.0);
    m.x.assign((iv ? r.iv.v : r.cv.v).begin(), (iv ? r.iv.v : r.cv.v).begin() + n);
    m.y.assign((iv ? r.iv.j : r.cv.C).begin(), (iv ? r.iv.j : r.cv.C).begin() + n);
    for (double& y : m.y) y *= 1.0 + noise * g(rng);
    m.nPoints = n;
  }

  double Best(int i) const {
    return fitter.running
        .parameter[static_cast<std::size_t>(i)][static_cast<std::size_t>(BestCurveFitIteration(fitter))];
  }

  SessionCore core;
  CellState cell;
  SimulationState sim;
  CurveFitter fitter;
};

TEST(FitJointTest, DopingFromCapacitanceAndDefectDensityFromCurrentInOneRun) {
  // Both hidden values lie well away from the cell's own (NA 1e16, Nt 1e14), where the fit
  // starts, and away from the middle of their ranges.
  const std::vector<Hidden> hidden = {{Label("layer 1", "NA", "nihil", "nihil"), 1e15, 1e17, 2.3e16},
                                      {Label("layer 1", "defect 1", "Nt total", "nihil"), 1e13, 1e17, 3e15}};
  struct Case {
    const char* name;
    double noise, tolerance;
  };
  for (const Case& c : {Case{"noise-free", 0.0, 0.02}, Case{"1 % noise", 0.01, 0.05}}) {
    SCOPED_TRACE(c.name);
    JointBench b;
    b.Measure(0, hidden, c.noise);
    b.Measure(1, hidden, c.noise);
    b.fitter.nParameters = 2;
    for (std::size_t i = 0; i < hidden.size(); ++i) {
      b.fitter.label[i] = hidden[i].label;
      b.fitter.minimum[i] = hidden[i].lo;
      b.fitter.maximum[i] = hidden[i].hi;
      b.fitter.logarithmic[i] = 1;
      b.fitter.startIsActual[i] = 1;
    }
    b.fitter.maxSteps = 120;
    b.fitter.stopStepSize = 1e-4;
    FitRunContext context{b.core, b.cell, b.sim, b.fitter, 1, nullptr, {}};
    ASSERT_EQ(RunCurveFit(context), 0);
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
