// Fits of curves the simulator made itself: the thin-film test cell, the driver state and a
// fitter, and "measurements" simulated with hidden parameter values.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "batch/batch_setup.hpp"
#include "fit/fit_run.hpp"
#include "measure/simulation_driver.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq::test {

inline std::array<int, 4> FitLabel(const char* l1, const char* l2, const char* l3, const char* l4) {
  return {BatchKeyWordToBP_constant(1, l1), BatchKeyWordToBP_constant(2, l2), BatchKeyWordToBP_constant(3, l3),
          BatchKeyWordToBP_constant(4, l4)};
}

// A fit parameter: its range and the value the measured curves were simulated with.
struct HiddenParameter {
  std::array<int, 4> label;
  double lo, hi, value;
};

// The thin-film test cell (absorber NA 1e16, charged defect 1e14 cm⁻³) with a short light I-V
// and a short dark C-V; the fitter's measurements are of the given types (FIT_IV_LIGHT or
// FIT_CV_DARK).
struct SimulatedFitBench {
  explicit SimulatedFitBench(std::initializer_list<int> types)
      : core(HomeFolder(), std::make_unique<RecordingUserInterface>()) {
    InitialiseSimulationState(sim, HomeFolder());
    cell.parameterset1 = ThinFilmCell(true);
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
  // ordinate times (1 + noise·g), g Gaussian from `seed`.
  void Measure(int index, const std::vector<HiddenParameter>& ps, double noise, unsigned seed) {
    CurveFitMeasurement& m = fitter.measurement[static_cast<std::size_t>(index)];
    CellState hidden = cell;
    SimulationState s;
    InitialiseSimulationState(s, HomeFolder());
    s.wp = sim.wp;
    s.actie = sim.actie;
    const bool iv = m.type == FIT_IV_LIGHT;
    s.actie.iv.on = iv;
    s.actie.cv.on = m.type == FIT_CV_DARK;
    s.wp.dark = iv ? 0 : 1;
    for (const HiddenParameter& p : ps) {
      BatchParameter bp;
      bp.label = p.label;
      BatchTarget target;
      std::string why;
      ASSERT_TRUE(ResolveBatchParameter(hidden.zonnecel, bp, target, why)) << why;
      ASSERT_TRUE(ChangeValue(hidden.zonnecel, s.wp, s.secondwp, bp, target, p.value, why)) << why;
    }
    ErrorReporting errors;
    RecordingUserInterface ui;
    ASSERT_EQ(calculate_withMeta(hidden, s, Environment{&ui, &errors, HomeFolder()}, nullptr, nullptr), 0);
    const SimulationRecord& r = *s.CurrentRecord();
    const int n = iv ? r.iv.pointsDone : r.cv.pointsDone;
    ASSERT_GE(n, 8);
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, 1.0);
    m.x.assign((iv ? r.iv.v : r.cv.v).begin(), (iv ? r.iv.v : r.cv.v).begin() + n);
    m.y.assign((iv ? r.iv.j : r.cv.C).begin(), (iv ? r.iv.j : r.cv.C).begin() + n);
    for (double& y : m.y) y *= 1.0 + noise * g(rng);
    m.nPoints = n;
  }

  // The fit parameters: their ranges, logarithmic, starting from the cell's own values.
  void SetParameters(const std::vector<HiddenParameter>& ps) {
    fitter.nParameters = static_cast<int>(ps.size());
    for (std::size_t i = 0; i < ps.size(); ++i) {
      fitter.label[i] = ps[i].label;
      fitter.minimum[i] = ps[i].lo;
      fitter.maximum[i] = ps[i].hi;
      fitter.logarithmic[i] = 1;
      fitter.startIsActual[i] = 1;
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

}  // namespace zoniq::test
