// A 100-step batch over the absorber thickness of the CIGS example (0.5 to 3 um, each step an
// illuminated simulation with a 41-point I-V), serially and on two worker threads, beside one
// single simulation of the same cell: the serial batch should cost about 100 single
// simulations, and two workers on two cores should finish it at least 1.7 times faster.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_file.hpp"
#include "batch/batch_run.hpp"
#include "measure/simulation_driver.hpp"

namespace zoniq {
namespace {

std::string Home() {
  const char* home = std::getenv("ZONIQ_HOME");
  return home ? home : ZONIQ_BENCH_HOME_DIR;
}

struct Setup {
  SessionCore core{Home(), std::make_unique<RecordingUserInterface>()};
  CellState cell;
  SimulationState sim;
  BatchState batch;
  bool ok = false;
  explicit Setup(int steps) {
    InitialiseSimulationState(sim, Home());
    if (ReadBatchDefinitionFile(core.env(), "CIGS.def", cell) != 0) return;
    ApplyDefinitionWorkPoint(sim.wp, cell.definitionExtras.workPoint);
    sim.wp.dark = 0;
    ParseSweepRange("-0.2:0.8:41", sim.actie.iv);
    BatchParameter& bp = batch.theBatch.bp[0];
    bp.label = {BatchKeyWordToBP_constant(1, "layer 1"), BatchKeyWordToBP_constant(2, "thickness"), kNihil, kNihil};
    bp.startValue = 0.5;
    bp.stopValue = 3.0;
    bp.numberOfSteps = steps;
    batch.theBatch.numberOfParameters = 1;
    batch.theBatch.numberOfSteps = steps;
    batch.theRecorder.parameters = {{REC_CELL_CHARACTERISTICS, REC_EFFICIENCY}};
    ok = true;
  }
};

void BM_ThicknessBatch100(benchmark::State& state) {
  Setup s(100);
  if (!s.ok) return state.SkipWithError("CIGS.def cannot be read");
  s.batch.batchJobs = static_cast<int>(state.range(0));
  for (auto _ : state) {
    wis_alles(s.sim);
    BatchRunContext ctx{s.core, s.cell, s.sim, s.batch, nullptr, {}};
    if (RunBatch(ctx, true) != 0 || s.batch.theRecorder.steps.size() != 100)
      state.SkipWithError("the batch did not run to its end");
  }
  state.counters["steps"] = 100;
}
BENCHMARK(BM_ThicknessBatch100)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// One simulation of the middle thickness, for the per-step cost.
void BM_SingleSimulation(benchmark::State& state) {
  Setup s(1);
  if (!s.ok) return state.SkipWithError("CIGS.def cannot be read");
  s.cell.zonnecel.layer[0].d = 1.75;
  for (auto _ : state) {
    wis_alles(s.sim);
    if (calculate_withMeta(s.cell, s.sim, s.core.env(), nullptr, nullptr) != 0)
      state.SkipWithError("the simulation did not run to its end");
  }
}
BENCHMARK(BM_SingleSimulation)->Unit(benchmark::kMillisecond)->UseRealTime();

// The ceiling of the machine for this work: 20 single simulations shared by 1 or 2 threads,
// each thread with a cell and simulation state of its own and nothing else in common. A batch
// on 2 workers cannot be faster than this relative to 1.
void BM_IndependentSimulations20(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<Setup>> setups;
  for (int t = 0; t < threads; ++t) {
    setups.push_back(std::make_unique<Setup>(1));
    if (!setups.back()->ok) return state.SkipWithError("CIGS.def cannot be read");
    setups.back()->cell.zonnecel.layer[0].d = 1.75;
  }
  std::atomic<bool> failed{false};
  for (auto _ : state) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        Setup& s = *setups[static_cast<std::size_t>(t)];
        for (int k = t; k < 20; k += threads) {
          wis_alles(s.sim);
          if (calculate_withMeta(s.cell, s.sim, s.core.env(), nullptr, nullptr) != 0) failed = true;
        }
      });
    for (std::thread& t : pool) t.join();
  }
  if (failed) state.SkipWithError("a simulation did not run to its end");
}
BENCHMARK(BM_IndependentSimulations20)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace zoniq
