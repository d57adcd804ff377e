#include "measure/temperature_continuation.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include "common/format.hpp"
#include "optics/generation.hpp"
#include "solver/dc_solve.hpp"

namespace zoniq {

namespace {

// The generation of cv in its own units: a profile cached for this mesh may hold the units of
// another temperature (the density and diffusion scales follow T).
void GenerationAt(CalculationVariables& cv, GenerationParameters& gen) {
  gen.generationCurrent = 0;
  RecomputeGeneration(cv, gen);
}

// A whole carrier value at another temperature: the quasi-Fermi potential Vt·ln w is kept, so
// w' = w^(Vt/Vt'). A value that fell to zero or below (underflow) counts as the smallest one.
double Carried(double w, double ratio) { return std::pow(std::max(w, std::numeric_limits<double>::min()), ratio); }

}  // namespace

void CarryAcrossTemperature(const CalculationVariables& from, CalculationVariables& to, CalculationParameters& par,
                            GenerationParameters& gen) {
  to = from;
  // Material data and defect records on the kept mesh at the new temperature; the solution is
  // cleared and set below.
  CreateCalculationVariables(to, par, from.ctx, false);
  const int N = from.mesh.N;
  const double ratio = from.Vt() / par.Vt;
  for (int i = 0; i < N; ++i) to.psi[i] = from.psi[i] * ratio;
  to.psi[0] = 0.0;
  to.psi[N - 1] = (par.Fi_left - par.Fi_right - from.V) / par.Vt;
  Set_an_And_ap(to, from.V);
  for (int i = 0; i < N; ++i)
    SetCarrierValues(to, i, Carried(from.u0[i] + from.u[i], ratio), Carried(from.v0[i] + from.v[i], ratio));
  update_psivar(to);
  // The shares of metastable configurations are those the solution was reached with.
  if (from.meta.count > 0) {
    to.meta = from.meta;
    FillAllDefectRecords(to);
  }
  to.pointState = from.pointState;
  GenerationAt(to, gen);
}

int ContinueInTemperature(SimulationState& s, const InputParameters& set1, const MeshSettings& mesh,
                          CalculationVariables& cv, const TemperatureStage& stage) {
  SolverContext& ctx = s.solverContext;
  GenerationParameters& gen = s.generatieparameters;
  const double T = s.parameterset3.T;
  const std::string at = stage.name + ": ";
  auto kelvin = [](double t) { return fix(t, 0, 2) + " K"; };
  // Two parameter sets and solutions: the last one solved and the next one tried.
  auto parA = std::make_unique<CalculationParameters>();
  auto parB = std::make_unique<CalculationParameters>();
  auto solved = std::make_unique<CalculationVariables>();
  auto trial = std::make_unique<CalculationVariables>();
  auto build = [&](CalculationParameters& par, double t) {
    if (parameterset1_to_3(set1, mesh, par, t, nullptr) != 0) return false;
    par.metaHandover = s.parameterset3.metaHandover;
    return true;
  };
  auto fail = [&](const std::string& why) {
    ctx.LogRecovery(at + why);
    cv = s.evenwichtcv;
    cv.ctx = &ctx;
    GenerationAt(cv, gen);
    cv.teller = -1;
    cv.pointState = kPointFailed;
    return -1;
  };

  // 1. The stage in a warmer cell.
  double warm = 0.0;
  for (const double t : {T + 40.0, std::max(T + 80.0, 340.0)}) {
    if (!build(*parA, t)) continue;
    CarryAcrossTemperature(s.evenwichtcv, *solved, *parA, gen);
    if (SolveEquilibrium(*solved) == 0 && stage.fromEquilibrium(*solved)) {
      warm = t;
      break;
    }
    ctx.LogRecovery(at + "not solved at " + kelvin(t) + " either", 2);
  }
  if (warm == 0.0) return fail("the continuation in temperature found no warmer cell in which it converges");

  // 2. Back to the asked temperature.
  const double first = 0.25 * (warm - T);
  constexpr double kMinimumStep = 0.5;  // [K]
  double now = warm, step = first;
  int steps = 0, halvings = 0, successes = 0;
  while (true) {
    const bool last = now - step <= T + 1e-9;
    const double next = last ? T : now - step;
    CalculationParameters* par = last ? &s.parameterset3 : parB.get();
    if (last || build(*par, next)) {
      CalculationVariables& target = last ? cv : *trial;
      CarryAcrossTemperature(*solved, target, *par, gen);
      target.ctx = &ctx;
      if (stage.again(target)) {
        ++steps;
        if (last) break;
        std::swap(solved, trial);
        std::swap(parA, parB);
        now = next;
        // A step that had to be halved grows back only after two successes at its size: a
        // failing step costs far more than a successful one.
        if (++successes == 2) {
          step = std::min(2.0 * step, first);
          successes = 0;
        }
        continue;
      }
    }
    ctx.LogRecovery(at + "the temperature step from " + kelvin(now) + " to " + kelvin(next) + " failed; halving it", 2);
    step *= 0.5;
    ++halvings;
    successes = 0;
    if (step < kMinimumStep)
      return fail("the temperature step was halved down to " + fix(2.0 * step, 0, 3) + " K at " + kelvin(now) +
                  ": no convergence towards " + kelvin(T));
  }
  cv.pointState = kPointTemperatureContinuation;
  ctx.LogRecovery(at + "solved at " + kelvin(warm) + " and carried back to " + kelvin(T) + " in " +
                  std::to_string(steps) + " temperature steps (" + std::to_string(halvings) + " halvings)");
  return 0;
}

}  // namespace zoniq
