// Timings of the DC solver: the equilibrium of a three-layer thin-film cell, a 41-point dark
// I-V of it, and a 41-point dark I-V of a pn junction on a mesh at the 1000-point limit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "solver/bias_stepping.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/gummel.hpp"
#include "test_cells.hpp"

namespace zoniq {
namespace {

std::unique_ptr<DcProblem> Problem(const InputParameters& set, const MeshSettings& mesh = {}) {
  auto pb = std::make_unique<DcProblem>();
  if (SetUpDcProblem(*pb, set, mesh) != 0) std::fprintf(stderr, "set-up failed: %s\n", pb->ctx.lastMessage.c_str());
  return pb;
}

// A dark I-V of 41 points from 0 V to Vend, each point reached in one bias step from the last.
// Returns the number of points that converged.
int Sweep41(CalculationVariables& cv, double Vend) {
  const double dV = Vend / 40.0;
  int converged = 0;
  for (int k = 1; k <= 40; ++k) {
    if (volgende_iv_punt(cv, (k - 1) * dV, k * dV, 2) != 0) break;
    benchmark::DoNotOptimize(TotalCurrentDensity(cv));
    ++converged;
  }
  return converged + 1;  // with the point at 0 V
}

void BM_EquilibriumThinFilm(benchmark::State& state) {
  auto pb = Problem(test::ThinFilmCell(true));
  for (auto _ : state) {
    if (SolveEquilibrium(pb->cv) != 0) state.SkipWithError("equilibrium did not converge");
  }
  state.counters["points"] = pb->cv.mesh.N;
}
BENCHMARK(BM_EquilibriumThinFilm)->Unit(benchmark::kMillisecond);

void BM_DarkIV41ThinFilm(benchmark::State& state) {
  // 0 to 0.8 V in steps of 20 mV: from 1e-6 to 1e4 mA/cm².
  auto pb = Problem(test::ThinFilmCell(true));
  if (SolveEquilibrium(pb->cv) != 0 || los_totaal_dc_stelsel_op_Gummel(pb->cv) != 0) state.SkipWithError("no start");
  const CalculationVariables equilibrium = pb->cv;
  CalculationVariables cv;
  int points = 0;
  for (auto _ : state) {
    CopyCalculationVariables(cv, equilibrium);
    points = Sweep41(cv, 0.8);
  }
  if (points != 41) state.SkipWithError("a point did not converge");
  state.counters["points"] = cv.mesh.N;
}
BENCHMARK(BM_DarkIV41ThinFilm)->Unit(benchmark::kMillisecond);

// The pn junction with its base and emitter each cut into layers of the same material (the
// interfaces between them are transparent), so that the initial mesh is denser.
InputParameters LayeredPn(int baseLayers, int emitterLayers) {
  const test::PnOptions o;
  InputParameters set = test::PnJunction(o);
  CellDefinition& c = set.cellParas;
  const LayerParameters base = c.layer[0], emitter = c.layer[1];
  c.numberOfLayers = baseLayers + emitterLayers;
  for (int l = 0; l < c.numberOfLayers; ++l) {
    c.layer[l] = l < baseLayers ? base : emitter;
    c.layer[l].layernumber = l;
    c.layer[l].d = l < baseLayers ? o.Wp / baseLayers : o.Wn / emitterLayers;
  }
  return set;
}

void BM_DarkIV41Pn1000Points(benchmark::State& state) {
  // The adaptive mesh with the smallest ratios refines the junction until the point limit stops
  // it; the sweep (0 to 0.6 V) then runs on that mesh, fixed.
  MeshSettings fine;
  fine.recalculateMesh = 1;
  fine.maxRatio = 1.1;
  fine.minRatio = 1.0;
  auto pb = Problem(LayeredPn(state.range(0), state.range(1)), fine);
  CalculationVariables& cv0 = pb->cv;
  if (SolveEquilibrium(cv0) != 0) state.SkipWithError("no equilibrium");
  for (int k = 1; k <= 6; ++k)
    if (SolveDarkBias(cv0, 0.1 * k, 2) != 0) state.SkipWithError("no refinement");
  if (SolveDarkBias(cv0, 0.0, 2) != 0) state.SkipWithError("no start");
  pb->par.mesh.recalculateMesh = 0;
  const CalculationVariables start = cv0;
  CalculationVariables cv;
  int points = 0;
  for (auto _ : state) {
    CopyCalculationVariables(cv, start);
    points = Sweep41(cv, 0.6);
  }
  if (points != 41) state.SkipWithError("a point did not converge");
  state.counters["points"] = cv.mesh.N;
}
// Base in three layers, emitter in two: the refinement ends at exactly 1000 points.
BENCHMARK(BM_DarkIV41Pn1000Points)->Args({3, 2})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zoniq
