// Timing of the pictures of one simulation: every graph panel of an illuminated simulation of
// the shipped CIGS example (band diagram, generation-recombination, I-V, grading with data;
// C-V, C-f, QE, ac and recorder panels empty with their note) built from the simulation state
// and drawn as PNG (1000 x 750 pixels) in memory.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "celldef/cell_state.hpp"
#include "celldef/definition_file.hpp"
#include "measure/simulation_driver.hpp"
#include "plot/figure_model.hpp"
#include "plot/plot_render.hpp"

namespace zoniq {
namespace {

std::string Home() {
  const char* home = std::getenv("ZONIQ_HOME");
  return home ? home : ZONIQ_BENCH_HOME_DIR;
}

void DrawAllPanels(benchmark::State& state, PictureFormat format) {
  RecordingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, Home()};
  CellState cell;
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  if (lees_structuurfile(env, Home() + "/def/CIGS.def", set, ms, cell.definitionExtras) < 0) {
    state.SkipWithError("CIGS.def cannot be read");
    return;
  }
  cell.parameterset1 = set;
  cell.mottSchottky = ms;
  parameterset1_to_2(cell.zonnecel, cell.parameterset1);
  cell.problemName = "CIGS.def";
  SimulationState s;
  InitialiseSimulationState(s, Home());
  ApplyDefinitionWorkPoint(s.wp, cell.definitionExtras.workPoint);
  s.wp.dark = 0;
  ParseSweepRange("-0.2:0.8:41", s.actie.iv);
  if (calculate_withMeta(cell, s, env, nullptr, nullptr) != 0) {
    state.SkipWithError("the simulation did not run to its end");
    return;
  }
  PictureOptions options;
  options.format = format;
  std::size_t bytesTotal = 0;
  for (auto _ : state) {
    BandDiagramProfiles bands;
    const PlotSources sources = SourcesFromSimulation(s, bands);
    bytesTotal = 0;
    for (int k = 0; k < static_cast<int>(PanelTable().size()); ++k) {
      const PlotPanel panel = BuildPanel(k, sources);
      std::string bytes, error;
      if (!RenderPicture(SelectedGraphs(panel), options, bytes, error)) {
        state.SkipWithError(error.c_str());
        return;
      }
      bytesTotal += bytes.size();
    }
  }
  state.counters["panels"] = static_cast<double>(PanelTable().size());
  state.counters["bytes"] = static_cast<double>(bytesTotal);
}

void BM_AllPanelsPng(benchmark::State& state) { DrawAllPanels(state, PictureFormat::kPng); }
void BM_AllPanelsSvg(benchmark::State& state) { DrawAllPanels(state, PictureFormat::kSvg); }
BENCHMARK(BM_AllPanelsPng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllPanelsSvg)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zoniq
