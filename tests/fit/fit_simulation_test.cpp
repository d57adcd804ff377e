// Cell parameters recovered from "measurements" the simulator made with known ("hidden") values,
// with and without noise, alone and jointly from two measurements; the same fit on worker threads.
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

// A fit parameter: its range and the value the measured curves were simulated with.
struct Hidden {
  std::array<int, 4> label;
  double lo, hi, value;
};
// The absorber's acceptor and defect densities (functions: the keyword tables are built at start-up).
std::array<int, 4> Label(const char* l1, const char* l2, const char* l3 = "nihil") {
  return {BatchKeyWordToBP_constant(1, l1), BatchKeyWordToBP_constant(2, l2), BatchKeyWordToBP_constant(3, l3),
          BatchKeyWordToBP_constant(4, "nihil")};
}
std::array<int, 4> NA() { return Label("layer 1", "NA"); }
std::array<int, 4> Nt() { return Label("layer 1", "defect 1", "Nt total"); }

// The thin-film test cell (absorber NA 1e16, charged defect 1e14 cm⁻³) with a short light I-V
// and a short dark C-V; the fitter's measurements are of the given types.
struct Bench {
  explicit Bench(const std::vector<int>& types) : core(test::HomeFolder(), std::make_unique<RecordingUserInterface>()) {
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
    for (int type : types) fitter.measurement[static_cast<std::size_t>(fitter.nMeasurements++)].type = type;
  }

  // Measurement `index` simulated with the hidden values (and the present working point), its
  // ordinate times (1 + noise·g), g Gaussian from `seed`; then the fit parameters over their
  // ranges, logarithmic, starting from the cell's own values.
  void Measure(int index, const std::vector<Hidden>& ps, double noise, unsigned seed) {
    CurveFitMeasurement& m = fitter.measurement[static_cast<std::size_t>(index)];
    CellState hidden = cell;
    SimulationState s;
    InitialiseSimulationState(s, test::HomeFolder());
    const bool iv = m.type == FIT_IV_LIGHT;
    s.wp = sim.wp, s.actie = sim.actie;
    s.actie.iv.on = iv, s.actie.cv.on = !iv, s.wp.dark = !iv;
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
    const auto &x = iv ? r.iv.v : r.cv.v, &y = iv ? r.iv.j : r.cv.C;
    m.x.assign(x.begin(), x.begin() + n), m.y.assign(y.begin(), y.begin() + n), m.nPoints = n;
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, 1.0);
    for (double& v : m.y) v *= 1.0 + noise * g(rng);
    fitter.nParameters = static_cast<int>(ps.size());
    for (std::size_t i = 0; i < ps.size(); ++i) {
      fitter.label[i] = ps[i].label;
      fitter.minimum[i] = ps[i].lo, fitter.maximum[i] = ps[i].hi;
      fitter.logarithmic[i] = fitter.startIsActual[i] = 1;
    }
  }

  int Fit(int jobs) {
    FitRunContext context{core, cell, sim, fitter, jobs, nullptr, {}};
    return RunCurveFit(context);
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

TEST(FitSimulationTest, RecoversHiddenParametersFromSimulatedCurves) {
  struct Case {
    const char* name;
    std::vector<int> types;
    std::vector<Hidden> parameters;
    double noise, tolerance;
    double temperature = 0;  // >0: the measurement's own temperature, a fixed parameter [K]
  };
  const Hidden na{NA(), 1e15, 1e17, 2.3e16}, nt{Nt(), 1e13, 1e17, 3e15};
  const Case cases[] = {
      // From a light I-V, the absorber's defect density and its doping, each fitted alone:
      // noise-free within 2 %, with 1 % noise within 5 %.
      {"I-V, Nt", {FIT_IV_LIGHT}, {nt}, 0.0, 0.02},
      {"I-V, NA", {FIT_IV_LIGHT}, {na}, 0.0, 0.02},
      {"I-V, Nt, 1 % noise", {FIT_IV_LIGHT}, {nt}, 0.01, 0.05},
      {"I-V, NA, 1 % noise", {FIT_IV_LIGHT}, {na}, 0.01, 0.05},
      // Measured at 330 K while the working point says 300 K: the temperature is the
      // measurement's fixed parameter.
      {"I-V at 330 K, Nt", {FIT_IV_LIGHT}, {nt}, 0.0, 0.02, 330},
      // The absorber doping from a dark C-V (the depletion capacitance is set by NA).
      {"C-V, NA", {FIT_CV_DARK}, {na}, 0.0, 0.02},
      // Both at once (the shipped two-curve example does it with noise): from a light I-V alone
      // doping and defect density compensate each other; a dark C-V of the same cell fixes the
      // doping, the I-V then the defect density. Both lie well away from the start (the cell's
      // own NA 1e16, Nt 1e14).
      {"I-V and C-V, NA and Nt", {FIT_IV_LIGHT, FIT_CV_DARK}, {na, nt}, 0.0, 0.02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b(c.types);
    if (c.temperature > 0) {
      CurveFitMeasurement& m = b.fitter.measurement[0];
      m.hasFixedParameter = 1;
      m.fixedLabel = Label("T", "nihil");
      m.fixedReal = c.temperature;
      b.sim.wp.temperature = c.temperature;  // for the measured curve only
    }
    for (int m = 0; m < b.fitter.nMeasurements; ++m) b.Measure(m, c.parameters, c.noise, 1607);
    b.sim.wp.temperature = 300;
    b.fitter.maxSteps = 60 * b.fitter.nMeasurements;
    b.fitter.stopStepSize = 1e-4;
    ASSERT_EQ(b.Fit(1), 0);
    for (int i = 0; i < b.fitter.nParameters; ++i) EXPECT_CLOSE(b.Best(i), c.parameters[i].value, c.tolerance, 0) << i;
    if (c.types.size() == 2) {
      // Both measurements agree at the best point, neither traded against the other: the run
      // ends on the chi-square criterion (1e-7).
      EXPECT_EQ(b.fitter.running.endState, 3);
      for (int m = 0; m < 2; ++m) EXPECT_LT(b.fitter.running.ChiSq[m][BestCurveFitIteration(b.fitter)], 2e-7) << m;
    }
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
  Bench serial({FIT_IV_LIGHT}), parallel({FIT_IV_LIGHT});
  const std::vector<Hidden> ps = {{NA(), 1e15, 1e17, 2.3e16}, {Nt(), 1e13, 1e17, 3e15}};
  serial.Measure(0, ps, 0.0, 1607);
  parallel.Measure(0, ps, 0.0, 1607);
  serial.fitter.maxSteps = parallel.fitter.maxSteps = 8;
  ASSERT_EQ(serial.Fit(1), 0);
  ASSERT_EQ(parallel.Fit(2), 0);
  EXPECT_EQ(serial.fitter.running.parameter, parallel.fitter.running.parameter);
  EXPECT_EQ(serial.fitter.running.ChiSqTotal, parallel.fitter.running.ChiSqTotal);
  ASSERT_EQ(serial.sim.simulaties.size(), parallel.sim.simulaties.size());
  auto p = parallel.sim.simulaties.begin();
  for (const SimulationRecord& r : serial.sim.simulaties) {
    EXPECT_EQ(r.fit.iteration, p->fit.iteration);
    EXPECT_EQ(r.iv.j, (p++)->iv.j);
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
