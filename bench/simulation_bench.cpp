// Timing of complete illuminated simulations of the shipped examples (and of the CIGS variant with
// an interface defect): cell and mesh, spectrum
// (or generation file) and generation, equilibrium, short circuit with the light ramp, and an
// I-V sweep with its cell parameters.
//   CIGS:     41 points from -0.2 to 0.8 V under AM1.5G;
//   CdTe:     49 points from -0.2 to 1.0 V under AM1.5G;
//   CdTe gen: 51 points from -0.2 to 1.0 V of the same 4 µm CdTe / 25 nm CdS cell with its
//             generation from a file (Beer-Lambert profile, 200 points, light from the front).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// A generation profile written as a user's file would be, over the whole stack of thickness d
// [µm] lit from the front: in the absorber (the first layer, thickness a) G = G0·e^(−α·(a − x)),
// α = 5 /µm, G0 chosen for about 28 mA/cm2; in the windows in front of it a little (2 % of G0).
std::string GenerationFile(double a, double d) {
  const std::string path = (std::filesystem::temp_directory_path() / "zoniq_bench_cdte.gen").string();
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return {};
  const double alpha = 5.0;                           // [1/µm]
  const double G0 = 280.0 / 1.602e-19 * alpha * 1e6;  // [m^-3 s^-1]: q∫G dx ≈ 280 A/m2
  for (int i = 0; i < 200; ++i) {
    const double x = d * i / 199.0;
    std::fprintf(f, "%.6f\t%.6e\n", x, x <= a ? G0 * std::exp(-alpha * (a - x)) : 0.02 * G0);
  }
  std::fclose(f);
  return path;
}

void Simulate(benchmark::State& state, const char* definition, const char* range, int points, bool fromFile,
              bool tunnelAtFirstInterface = false) {
  RecordingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, Home()};
  CellState cell;
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  if (lees_structuurfile(env, Home() + "/def/" + definition, set, ms, cell.definitionExtras) < 0) {
    state.SkipWithError("the definition file cannot be read");
    return;
  }
  if (tunnelAtFirstInterface) set.cellParas.interface[0].intrabandTunneling = 1;
  cell.parameterset1 = set;
  cell.mottSchottky = ms;
  parameterset1_to_2(cell.zonnecel, cell.parameterset1);
  cell.problemName = definition;
  SimulationState s;
  InitialiseSimulationState(s, Home());
  ApplyDefinitionWorkPoint(s.wp, cell.definitionExtras.workPoint);
  s.wp.dark = 0;
  if (fromFile) {
    double d = 0.0;
    for (int l = 0; l < set.cellParas.numberOfLayers; ++l) d += set.cellParas.layer[l].d * 1e6;
    s.wp.generationFromFile = 1;
    s.wp.generationFile = GenerationFile(set.cellParas.layer[0].d * 1e6, d);
  }
  ParseSweepRange(range, s.actie.iv);
  for (auto _ : state) {
    wis_alles(s);
    if (calculate_withMeta(cell, s, env, nullptr, nullptr) != 0 || s.CurrentRecord()->iv.pointsDone != points)
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

void BM_IlluminatedIV41CIGS(benchmark::State& state) { Simulate(state, "CIGS.def", "-0.2:0.8:41", 41, false); }
void BM_IlluminatedIV49CdTe(benchmark::State& state) { Simulate(state, "CdTe.def", "-0.2:1.0:49", 49, false); }
void BM_GenerationFileIV51CdTe(benchmark::State& state) { Simulate(state, "CdTe.def", "-0.2:1.0:51", 51, true); }
BENCHMARK(BM_IlluminatedIV41CIGS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IlluminatedIV49CdTe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenerationFileIV51CdTe)->Unit(benchmark::kMillisecond);

// The same cell with one interface defect at the CIGS/CdS interface.
void BM_IlluminatedIV41CIGSInterfaceDefect(benchmark::State& state) {
  Simulate(state, "CIGS_ifdefect.def", "-0.2:0.8:41", 41, false);
}
BENCHMARK(BM_IlluminatedIV41CIGSInterfaceDefect)->Unit(benchmark::kMillisecond);

// The CIGS cell with a 0.55 eV spike at the CIGS/CdS interface, with intraband tunnelling
// through it.
void BM_IlluminatedIV41CIGSSpikeTunnelling(benchmark::State& state) {
  Simulate(state, "CIGS_spike.def", "-0.2:0.8:41", 41, false, true);
}
BENCHMARK(BM_IlluminatedIV41CIGSSpikeTunnelling)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zoniq
