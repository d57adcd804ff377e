// Timing of the admittance sweeps of the shipped CIGS example under AM1.5G: a 41-point C-V sweep
// (−1 … 0.5 V at 100 kHz, each point a DC solution and a small-signal solution) and a 21-point
// C-f sweep (100 Hz … 1 MHz at the working point) and a 61-point QE sweep (300 … 1200 nm, every
// 15 nm, under the AM1.5G bias light), each timed alone from the solved working point.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "celldef/cell_state.hpp"
#include "celldef/definition_file.hpp"
#include "measure/admittance_sweeps.hpp"
#include "measure/qe_sweep.hpp"
#include "measure/simulation_driver.hpp"
#include "solver/bias_stepping.hpp"

namespace zoniq {
namespace {

std::string Home() {
  const char* home = std::getenv("ZONIQ_HOME");
  return home ? home : ZONIQ_BENCH_HOME_DIR;
}

struct Cigs {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, Home()};
  CellState cell;
  SimulationState s;
  bool ok = false;

  Cigs() {
    InputParameters set;
    MottSchottkySettings ms;
    InitialiseInputParameters(set, ms);
    if (lees_structuurfile(env, Home() + "/def/CIGS.def", set, ms, cell.definitionExtras) < 0) return;
    cell.parameterset1 = set;
    cell.mottSchottky = ms;
    parameterset1_to_2(cell.zonnecel, cell.parameterset1);
    cell.problemName = "CIGS.def";
    InitialiseSimulationState(s, Home());
    ApplyDefinitionWorkPoint(s.wp, cell.definitionExtras.workPoint);
    s.wp.dark = 0;
    s.wp.frequency = 1e5;
    s.actie.iv.on = 1;
    s.actie.iv.points = 2;  // a record to hold the sweeps
    ok = calculate_withMeta(cell, s, env, nullptr, nullptr) == 0;
  }
};

void BM_CV41CIGS(benchmark::State& state) {
  Cigs c;
  if (!c.ok) return state.SkipWithError("the working point was not solved");
  SimulationRecord& record = *c.s.CurrentRecord();
  CalculationVariables& cv = c.s.currentCalcVars;
  for (auto _ : state) {
    VoltageSweepAction a{1, -1.0, 0.5, 41, 0};
    record.iv = IVResult{};
    CopyCalculationVariables(cv, c.s.werkpuntcv);
    if (CalculateStartingPoint(a.startV, a.stopV, cv, c.s.kortsluitcv, c.s.werkpuntcv, "C(V)", 5) != 1 ||
        calccv(c.s, c.env, cv, a, record, c.cell.mottSchottky) != 1 || a.pointsDone != 41)
      state.SkipWithError("the C-V sweep did not run to its end");
  }
  state.counters["points"] = cv.mesh.N;
}
BENCHMARK(BM_CV41CIGS)->Unit(benchmark::kMillisecond);

void BM_Cf21CIGS(benchmark::State& state) {
  Cigs c;
  if (!c.ok) return state.SkipWithError("the working point was not solved");
  SimulationRecord& record = *c.s.CurrentRecord();
  CalculationVariables& cv = c.s.currentCalcVars;
  CopyCalculationVariables(cv, c.s.werkpuntcv);
  for (auto _ : state) {
    FrequencySweepAction a{1, 1e2, 1e6, 21, 0};
    if (calccf(c.s, c.env, cv, a, record) != 1 || a.pointsDone != 21)
      state.SkipWithError("the C-f sweep did not run to its end");
  }
  state.counters["points"] = cv.mesh.N;
}
BENCHMARK(BM_Cf21CIGS)->Unit(benchmark::kMillisecond);

void BM_QE61CIGS(benchmark::State& state) {
  Cigs c;
  if (!c.ok) return state.SkipWithError("the working point was not solved");
  SimulationRecord& record = *c.s.CurrentRecord();
  CalculationVariables& cv = c.s.currentCalcVars;
  for (auto _ : state) {
    QEAction a{1, 300, 1200, 61, 0};
    if (calcqe(c.s, c.env, c.cell, cv, a, record) != 1 || a.pointsDone != 61)
      state.SkipWithError("the QE sweep did not run to its end");
  }
  state.counters["QE600"] = record.qe.QE[20];
}
BENCHMARK(BM_QE61CIGS)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zoniq
