// Timing of one complete illuminated simulation of the shipped CIGS example (and of its variant
// with an interface defect): cell and mesh, spectrum and generation, equilibrium, short circuit
// with the light ramp, and a 41-point I-V from -0.2 to 0.8 V with its cell parameters.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "celldef/cell_state.hpp"
#include "celldef/definition_file.hpp"
#include "measure/simulation_driver.hpp"

namespace zoniq {
namespace {

std::string Home() {
  const char* home = std::getenv("ZONIQ_HOME");
  return home ? home : ZONIQ_BENCH_HOME_DIR;
}

void IlluminatedIV41(benchmark::State& state, const std::string& file, bool tunnelAtFirstInterface = false) {
  RecordingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, Home()};
  CellState cell;
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  if (lees_structuurfile(env, Home() + "/def/" + file, set, ms, cell.definitionExtras) < 0) {
    state.SkipWithError((file + " cannot be read").c_str());
    return;
  }
  if (tunnelAtFirstInterface) set.cellParas.interface[0].intrabandTunneling = 1;
  cell.parameterset1 = set;
  cell.mottSchottky = ms;
  parameterset1_to_2(cell.zonnecel, cell.parameterset1);
  cell.problemName = file;
  SimulationState s;
  InitialiseSimulationState(s, Home());
  ApplyDefinitionWorkPoint(s.wp, cell.definitionExtras.workPoint);
  s.wp.dark = 0;
  ParseSweepRange("-0.2:0.8:41", s.actie.iv);
  for (auto _ : state) {
    wis_alles(s);
    if (calculate_withMeta(cell, s, env, nullptr, nullptr) != 0 || s.CurrentRecord()->iv.pointsDone != 41)
      state.SkipWithError("the simulation did not run to its end");
  }
  if (const SimulationRecord* r = s.CurrentRecord()) {
    state.counters["Voc"] = r->cell.Voc;
    state.counters["Jsc"] = r->cell.Jsc;
    state.counters["FF"] = r->cell.FF;
    state.counters["eta"] = r->cell.eta;
    state.counters["points"] = s.werkpuntcv.mesh.N;
  }
}
void BM_IlluminatedIV41CIGS(benchmark::State& state) { IlluminatedIV41(state, "CIGS.def"); }
BENCHMARK(BM_IlluminatedIV41CIGS)->Unit(benchmark::kMillisecond);

// The same cell with one interface defect at the CIGS/CdS interface.
void BM_IlluminatedIV41CIGSInterfaceDefect(benchmark::State& state) { IlluminatedIV41(state, "CIGS_ifdefect.def"); }
BENCHMARK(BM_IlluminatedIV41CIGSInterfaceDefect)->Unit(benchmark::kMillisecond);

// The CIGS cell with a 0.55 eV spike at the CIGS/CdS interface, with intraband tunnelling
// through it.
void BM_IlluminatedIV41CIGSSpikeTunnelling(benchmark::State& state) { IlluminatedIV41(state, "CIGS_spike.def", true); }
BENCHMARK(BM_IlluminatedIV41CIGSSpikeTunnelling)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zoniq
