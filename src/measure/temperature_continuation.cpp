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

// The quasi-Fermi potential of a whole carrier value [V]; a value that fell to zero or below
// (underflow) counts as the smallest one.
double Potential(double w, double Vt) { return Vt * std::log(std::max(w, std::numeric_limits<double>::min())); }
// And back, kept above zero.
double Whole(double phi, double Vt) { return std::max(std::exp(phi / Vt), std::numeric_limits<double>::min()); }

}  // namespace

void CarryAcrossTemperature(const CalculationVariables& from, CalculationVariables& to, CalculationParameters& par,
                            GenerationParameters& gen, const CalculationVariables* older) {
  to = from;
  // Material data and defect records on the kept mesh at the new temperature; the solution is
  // cleared and set below.
  CreateCalculationVariables(to, par, from.ctx, false);
  const int N = from.mesh.N;
  if (N < 2) return;  // no solution to carry
  const double Vf = from.Vt(), Vn = par.Vt;
  // With a solution at a third temperature on the same mesh and bias, each potential is
  // extrapolated linearly in T (Vt is proportional to it).
  const bool extrapolate = older && older->mesh.N == N && older->V == from.V && older->Vt() != Vf &&
                           std::equal(from.mesh.x.begin(), from.mesh.x.begin() + N, older->mesh.x.begin());
  const double f = extrapolate ? (Vn - Vf) / (Vf - older->Vt()) : 0.0;
  auto carried = [&](double a, double b) { return a + f * (a - b); };
  Set_an_And_ap(to, from.V);
  for (int i = 0; i < N; ++i) {
    const double Vo = extrapolate ? older->Vt() : Vf;
    const CalculationVariables& o = extrapolate ? *older : from;
    to.psi[i] = carried(from.psi[i] * Vf, o.psi[i] * Vo) / Vn;
    const double phiN = carried(Potential(from.u0[i] + from.u[i], Vf), Potential(o.u0[i] + o.u[i], Vo));
    const double phiP = carried(Potential(from.v0[i] + from.v[i], Vf), Potential(o.v0[i] + o.v[i], Vo));
    SetCarrierValues(to, i, Whole(phiN, Vn), Whole(phiP, Vn));
  }
  to.psi[0] = 0.0;
  to.psi[N - 1] = (par.Fi_left - par.Fi_right - from.V) / par.Vt;
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
  // Three parameter sets and solutions: the last two solved (the predictor extrapolates from
  // them) and the next one tried.
  auto parA = std::make_unique<CalculationParameters>();
  auto parB = std::make_unique<CalculationParameters>();
  auto parC = std::make_unique<CalculationParameters>();
  auto solved = std::make_unique<CalculationVariables>();
  auto trial = std::make_unique<CalculationVariables>();
  auto older = std::make_unique<CalculationVariables>();
  bool hasOlder = false;
  auto build = [&](CalculationParameters& par, double t) {
    if (parameterset1_to_3(set1, mesh, par, t, nullptr) != 0) return false;
    par.metaHandover = s.parameterset3.metaHandover;
    return true;
  };
  // A failure leaves cv as it came (the bias where the stage stopped), with the generation in
  // the units of T again.
  const CalculationVariables entry = cv;
  auto fail = [&](const std::string& why) {
    ctx.LogRecovery(at + why);
    cv = entry;
    gen.lightFactor = 1.0;
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
  // The first step carries the solution over as it is; from then on the predictor extrapolates
  // from the last two, and a step may grow up to a quarter of the way.
  const double longest = 0.25 * (warm - T);
  constexpr double kMinimumStep = 0.5;  // [K]
  double now = warm, step = std::min(2.5, longest);
  int steps = 0, halvings = 0;
  while (true) {
    const bool last = now - step <= T + 1e-9;
    const double next = last ? T : now - step;
    CalculationParameters* par = last ? &s.parameterset3 : parB.get();
    if (last || build(*par, next)) {
      CalculationVariables& target = last ? cv : *trial;
      CarryAcrossTemperature(*solved, target, *par, gen, hasOlder ? older.get() : nullptr);
      target.ctx = &ctx;
      if (stage.again(target)) {
        ++steps;
        if (last) break;
        std::swap(older, solved);  // older: the one solved last, solved: free
        std::swap(solved, trial);
        std::swap(parC, parA);
        std::swap(parA, parB);
        hasOlder = true;
        now = next;
        // A step the plain iteration solves is cheap, and the next one may be longer; one that
        // only the coupled Newton iteration rescued (after the Gummel procedure ran out of
        // iterations) costs two orders of magnitude more, as does a failed one: the next is
        // shorter.
        step = solved->pointState == kPointGummel ? std::min(2.0 * step, longest) : std::max(0.5 * step, kMinimumStep);
        continue;
      }
    }
    ctx.LogRecovery(at + "the temperature step from " + kelvin(now) + " to " + kelvin(next) + " failed; halving it", 2);
    step *= 0.5;
    ++halvings;
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
