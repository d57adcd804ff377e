#include "solver/gummel.hpp"

#include <algorithm>
#include <cmath>

#include "common/call_counts.hpp"
#include "common/format.hpp"
#include "solver/acceptance.hpp"
#include "solver/equations.hpp"
#include "solver/linear_solvers.hpp"
#include "solver/mesh.hpp"
#include "solver/tunneling.hpp"
#include "solver/x_dependence.hpp"

namespace zoniq {

namespace {

constexpr const char* kRecombinationError = "Error occured during calculation of the recombinationcontribution.";
constexpr const char* kPsiError = "Error occured during calculation of variable 'psi' (potentialfunction).";
constexpr const char* kUError = "Error occured during calculation of variable 'u' (function of hole density).";
constexpr const char* kVError = "Error occured during calculation of variable 'v' (function of electron density).";
constexpr const char* kNotFinite = "\nThe residual or the Newton step is not a finite number.";

// True when no element is NaN or infinite (one pass; any of them makes the sum non-finite).
bool AllFinite(std::span<const double> a, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += a[i] * 0.0;
  return sum == 0.0;
}

}  // namespace

double maximum_psi_array(std::span<const double> a, int n) {
  double m = 0.0;
  for (int i = 0; i < n; ++i) m = std::max(m, std::fabs(a[i]));
  return m;
}

void schaal_array(CalculationVariables& cv, std::span<double> delta, double clamp, double max) {
  CountCall(cv, CallCounter::schaal_array);
  if (clamp < max) {
    const double f = max / clamp;
    for (int i = 0; i < cv.mesh.N; ++i) delta[i] /= f;
  }
}

int clamping_u_or_v(CalculationVariables& cv, std::span<double> delta, double clamp, int carrier) {
  CountCall(cv, CallCounter::clamping_u_or_v);
  const int N = cv.mesh.N;
  const bool electrons = carrier == kElectrons;
  const double* w = electrons ? cv.u.data() : cv.v.data();
  const double* w0 = electrons ? cv.u0.data() : cv.v0.data();
  const double* D = electrons ? cv.Eplus.data() : cv.Emin.data();
  const double* Nc = electrons ? cv.pt.Nn.data() : cv.pt.Np.data();
  const double term = electrons ? cv.par->convergence.termination_Fn : cv.par->convergence.termination_Fp;
  // A rise of a density below kNegligible times the point's doping (or intrinsic density) is
  // measured from that floor: a carrier so far below it carries no charge and no current worth
  // speaking of, and lifting it from, say, 1e-41 m⁻³ in the dark window of a cold cell to the
  // 1e18 m⁻³ that the light makes there would otherwise take steps of 0.5 kT, 270 of them. A
  // fall is limited without the floor, which keeps every density positive.
  constexpr double kNegligible = 1e-20;
  double rmin = 0.0;
  for (int i = 0; i < N; ++i) rmin = std::min(rmin, delta[i] / (w0[i] + w[i]));
  const double down = std::exp(-clamp) - 1.0;
  if (rmin < down) {
    const double f = rmin / down;
    for (int i = 0; i < N; ++i) delta[i] /= f;
  }
  double rmax = 0.0;
  for (int i = 0; i < N; ++i) {
    if (delta[i] <= 0.0) continue;
    const double scale = cv.pt.ND[i] + cv.pt.NA[i] + std::sqrt(cv.pt.Nn[i] * cv.pt.Np[i]);
    const double floor = kNegligible * scale / (Nc[i] * D[i]);
    const double base = w0[i] + w[i];
    rmax = std::max(rmax, delta[i] / (base < floor ? base + floor : base));
  }
  const double up = std::exp(clamp) - 1.0;
  if (rmax > up) {
    const double f = rmax / up;
    for (int i = 0; i < N; ++i) delta[i] /= f;
  }
  // Converged when no quasi-Fermi level moves by more than the termination, floor or not.
  double lo = 0.0, hi = 0.0;
  for (int i = 0; i < N; ++i) {
    const double r = delta[i] / (w0[i] + w[i]);
    lo = std::min(lo, r);
    hi = std::max(hi, r);
  }
  const double dFm = -std::log1p(lo), dFp = std::log1p(hi);
  return (dFm > term || dFp > term) ? 1 : 0;
}

namespace {

// The Poisson loop; `termsCurrent` tells whether the defect terms in cv belong to the state it
// leaves (no step followed their last evaluation), so that the electron loop can start on them.
int PoissonLoop(CalculationVariables& cv, bool& termsCurrent) {
  CountCall(cv, CallCounter::psi_iteratie_Gummel);
  const ConvergenceParameters& c = cv.par->convergence;
  SolverWorkspace& w = cv.work;
  const int N = cv.mesh.N;
  int count = 0;
  double err = 1.1 * c.termination_psi;
  // Poisson's equation needs only the charge of the defects: without a defect that can be
  // charged the terms are zero whatever the carriers, and need not be recomputed.
  const bool charged = ChargedDefects(cv);
  bool evaluated = false;
  termsCurrent = false;
  while (err > c.termination_psi) {
    if ((charged || !evaluated) && ComputeDefectTerms(cv) < 0) {
      SolverMessage(cv, "Error", kRecombinationError);
      return -1;
    }
    evaluated = true;
    bereken_stelsel_psi_Gummel(cv, w.F);
    bereken_jac_psi_Gummel(cv, w.jl, w.jd, w.ju, w.extra);
    if (!AllFinite(w.F, N)) {
      SolverMessage(cv, "Error", std::string(kPsiError) + kNotFinite);
      return -1;
    }
    if (bereken_delta_psi_Gummel(cv) != 0) {
      SolverMessage(cv, "Error", kPsiError);
      return -1;
    }
    CountCall(cv, CallCounter::maximum_psi_array);
    err = maximum_psi_array(w.delta, N);
    if (!std::isfinite(err)) {
      SolverMessage(cv, "Error", std::string(kPsiError) + kNotFinite);
      return -1;
    }
    if (err > c.termination_psi) {
      ++count;
      if (count > c.maxiter) {
        cv.teller = -1;
        return 0;
      }
      schaal_array(cv, w.delta, c.clamp_psi, err);
      for (int i = 0; i < N; ++i) cv.psi[i] += w.delta[i];
      update_psivar(cv);
    }
  }
  cv.teller = count;
  // At convergence no step follows the last evaluation; without charged defects the terms were
  // evaluated only once, before the first step.
  termsCurrent = charged || count == 0;
  return 0;
}

}  // namespace

int psi_iteratie_Gummel(CalculationVariables& cv) {
  bool termsCurrent = false;
  return PoissonLoop(cv, termsCurrent);
}

namespace {

// The continuity loop; with `termsCurrent` the defect terms in cv are those of the present state
// (the Poisson loop has just evaluated them and taken no step since) and are not recomputed for
// the first step.
int ContinuityLoop(CalculationVariables& cv, int carrier, bool termsCurrent) {
  CountCall(cv, CallCounter::u_or_v_iteratie_Gummel);
  const ConvergenceParameters& c = cv.par->convergence;
  SolverWorkspace& w = cv.work;
  const int N = cv.mesh.N;
  const bool electrons = carrier == kElectrons;
  const char* error = electrons ? kUError : kVError;
  std::vector<double>& var = electrons ? cv.u : cv.v;
  const double clamp = electrons ? c.clamp_n : c.clamp_p;
  int flag = 1;
  int count = 0;
  while (flag == 1 && count <= c.maxiter) {
    if (!(termsCurrent && count == 0) && ComputeDefectTerms(cv) < 0) {
      SolverMessage(cv, "Error", kRecombinationError);
      return -1;
    }
    // The tunnel currents of this carrier only: those of the other carrier stay as its own
    // step left them, so that both are present in the solution.
    CalculateTunnelling(cv, carrier);
    if (electrons) {
      bereken_jac_u_Gummel(cv, w.jl, w.jd, w.ju);
      bereken_stelsel_u_Gummel(cv, w.F);
    } else {
      bereken_jac_v_Gummel(cv, w.jl, w.jd, w.ju);
      bereken_stelsel_v_Gummel(cv, w.F);
    }
    if (!AllFinite(w.F, N)) {
      SolverMessage(cv, "Error", std::string(error) + kNotFinite);
      return -1;
    }
    const CarrierTunnelState& t = electrons ? cv.tunnel.n : cv.tunnel.p;
    const int r = t.sparse.empty() ? bereken_delta_u_of_v_Gummel(cv) : bereken_delta_u_of_v_Gummel_sparse(cv, t.sparse);
    if (r != 0) {
      SolverMessage(cv, "Error", error);
      return -1;
    }
    flag = clamping_u_or_v(cv, w.delta, clamp, carrier);
    for (int i = 0; i < N; ++i) var[i] += w.delta[i];
    ++count;
  }
  if (flag == 1) {
    SolverMessage(cv, "Error", std::string(error) + "\nMax no of iterations exceeded");
    cv.teller = -1;
    return -1;
  }
  cv.teller = count;
  return 0;
}

}  // namespace

int u_or_v_iteratie_Gummel(CalculationVariables& cv, int carrier) { return ContinuityLoop(cv, carrier, false); }

namespace {

// The Gummel procedure itself, at most `budget` passes (negative: "maxiter"). With `stopAfter`
// > 0 it returns 1 after that many passes when it has not converged by then.
int GummelOuterLoop(CalculationVariables& cv, int stopAfter = 0, int budget = -1) {
  CountCall(cv, CallCounter::los_totaal_dc_stelsel_op_Gummel);
  const CalculationParameters& par = *cv.par;
  const int maxiter = budget >= 0 ? budget : par.convergence.maxiter;
  int kpsi = 1, kn = 2, kp = 2, mesh = 0, kf = 2, repeats = 0, count = 0;
  const bool recalc = par.mesh.recalculateMesh != 0;
  cv.teller = 0;
  InitialiseTunnelCurrent(cv, 0);
  for (;;) {
    if ((kpsi < 1 && kn < 2 && kp < 2 && mesh != 1 && kf < 2) || count >= maxiter) {
      cv.teller = count < maxiter ? count : -1;
      return 0;
    }
    if (stopAfter > 0 && count == stopAfter) {
      cv.teller = count;
      return 1;
    }
    ++count;
    bool termsCurrent = false;
    if (PoissonLoop(cv, termsCurrent) == -1 || cv.teller == -1) return -1;
    kpsi = cv.teller;
    // A converged Poisson loop ends without a step after its last evaluation of the defect terms.
    if (ContinuityLoop(cv, kElectrons, termsCurrent) == -1) return -1;
    kn = cv.teller;
    if (u_or_v_iteratie_Gummel(cv, kHoles) == -1) return -1;
    kp = cv.teller;
    // Densities that moved far from their contact's value (or back) change representation.
    ChooseOffsets(cv);
    if (recalc) {
      const int show = cv.ctx ? cv.ctx->issueMeshWarning : 0;
      mesh = RecalculateIntervals(cv, show);
      if (mesh == -1 && cv.ctx) cv.ctx->issueMeshWarning = 0;
      // A converged solution on which the mesh keeps changing is accepted after ten repeats.
      if (mesh == 1 && kn < 2 && kp < 2 && kf < 3) {
        if (++repeats > 10) mesh = 0;
      } else {
        repeats = 0;
      }
    }
    const Environment* env = (cv.ctx && cv.ctx->env.ui && cv.ctx->env.errors) ? &cv.ctx->env : nullptr;
    kf = IterateFt(cv.rec, CarriersOf(cv), nullptr, env, cv.ctx ? cv.ctx->counter : nullptr);
  }
}

// The state at entry of a solve, to come back to after a failure, is kept in the workspace:
// its arrays are sized once, so saving it allocates nothing. Returns whether the mesh was saved
// (only when the mesh may change during the solve).
bool SaveEntry(CalculationVariables& cv) {
  const int N = cv.mesh.N;
  SaveSolution(cv, cv.work.entry);
  if (cv.par->mesh.recalculateMesh == 0) return false;
  cv.work.meshAtEntry = cv.mesh;
  for (auto& layer : cv.meta.t)
    for (MetaTransitionCalc& t : layer)
      if (t.on) std::copy(t.y.begin(), t.y.begin() + N, t.yEntry.begin());
  return true;
}

void RestoreEntry(CalculationVariables& cv, bool meshSaved) {
  const MeshBlock& entry = cv.work.meshAtEntry;
  if (meshSaved && (entry.N != cv.mesh.N || entry.x != cv.mesh.x)) {
    cv.mesh = entry;
    for (auto& layer : cv.meta.t)
      for (MetaTransitionCalc& t : layer)
        if (t.on) t.y = t.yEntry;
    Full_x_Dependence(cv);
    FillAllDefectRecords(cv);
    if (cv.regenerate) cv.regenerate(cv);
  }
  RestoreSolution(cv, cv.work.entry);
  update_psivar(cv);
}

}  // namespace

namespace {

// The acceptance check of the present state, remembered in cv.
bool Accepted(CalculationVariables& cv) {
  const AcceptanceReport r = CheckSolution(cv);
  cv.checkStep = r.step;
  cv.checkSpread = r.spread;
  cv.checkSplit = r.split;
  return r.passed;
}

std::string CheckText(const CalculationVariables& cv) {
  return "\nThe solution at V = " + fix(cv.V, 0, 4) + " V failed its check: remaining Newton correction " +
         sci(cv.checkStep, 0, 2) + " kT, current deviation along the mesh " + sci(cv.checkSpread, 0, 2) +
         ", current balance deviation " + sci(cv.checkSplit, 0, 2) + ".";
}

}  // namespace

namespace {

// The coupled Newton iteration takes over a solve when the first step it asks for moves none of
// ψ, Fn, Fp by more than this [kT]; further out the Gummel procedure, which moves one equation at
// a time, is the safer way. Its steps are limited to the same trust region.
constexpr double kNewtonReach = 2.0;
// Steps it may take; from within its reach it converges quadratically in a few.
constexpr int kNewtonSteps = 8;
// Gummel passes after which the coupled iteration is tried again when it could not take over
// at the start (the procedure's linear convergence is slowest where the light is being raised).
constexpr int kPassesBeforeNewton = 4;

// After a step of at most this size [kT] the next step uses the Jacobian of that step again (a
// chord step): the Jacobian has moved by a fraction of it, so the correction it gives is the
// Newton correction to within that fraction, at the cost of a residual and a back substitution.
constexpr double kChordReach = 0.1;
// A converged iteration whose last step exceeded this fraction of the termination takes one more
// chord step.
constexpr double kPolishAbove = 0.01;

int CoupledStep(CalculationVariables& cv, CoupledStepSize& size, bool chord);

// The factor of a coupled step that limits ψ to `psiReach` and the quasi-Fermi levels to
// `nReach`, `pReach` [kT]: one factor for the whole step keeps its direction.
double StepFactor(const CoupledStepSize& size, double psiReach, double nReach, double pReach) {
  double f = 1.0;
  if (size.dpsi > psiReach) f = std::min(f, psiReach / size.dpsi);
  const double down_n = std::exp(-nReach) - 1.0, up_n = std::exp(nReach) - 1.0;
  const double down_p = std::exp(-pReach) - 1.0, up_p = std::exp(pReach) - 1.0;
  if (size.rnmin < down_n) f = std::min(f, down_n / size.rnmin);
  if (size.rnmax > up_n) f = std::min(f, up_n / size.rnmax);
  if (size.rpmin < down_p) f = std::min(f, down_p / size.rpmin);
  if (size.rpmax > up_p) f = std::min(f, up_p / size.rpmax);
  return f;
}

// The coupled step d (ψ, u, v interleaved) times f; the carriers' offsets are chosen anew.
void ApplyCoupledStep(CalculationVariables& cv, std::span<const double> d, double f) {
  for (int i = 0; i < cv.mesh.N; ++i) {
    cv.psi[i] += f * d[3 * i];
    cv.u[i] += f * d[3 * i + 1];
    cv.v[i] += f * d[3 * i + 2];
  }
  update_psivar(cv);
  ChooseOffsets(cv);
}

// The coupled Newton iteration on a state the estimate or the Gummel procedure has brought
// close: full steps within the trust region, each of which must shrink the correction. Returns
// the number of steps with `last` the size of the last one (within the terminations), or −1
// with the state wherever it stopped.
int NewtonFromClose(CalculationVariables& cv, double& last) {
  const ConvergenceParameters& c = cv.par->convergence;
  const int N = cv.mesh.N;
  std::span<const double> d(cv.work.delta3.data(), static_cast<std::size_t>(3 * N));
  double previous = HUGE_VAL;
  bool fullStep = false;
  for (int it = 1; it <= kNewtonSteps; ++it) {
    CoupledStepSize size;
    if (CoupledStep(cv, size, fullStep && previous <= kChordReach) != 0) return -1;
    double m = size.Largest();
    if (!(m <= kNewtonReach || it > 1) || !(m < previous)) return -1;
    const bool converged = size.Within(c);
    const double f = converged ? 1.0 : StepFactor(size, kNewtonReach, kNewtonReach, kNewtonReach);
    ApplyCoupledStep(cv, d, f);
    fullStep = f == 1.0;
    if (converged) {
      // A last step near the termination leaves an error far below it in ψ, but the current
      // through a high field is a small difference of drift and diffusion and magnifies that
      // error: one more step with the same Jacobian (a residual and a back substitution) takes it
      // out.
      const double termination = std::min({c.termination_psi, c.termination_Fn, c.termination_Fp});
      if (m > kPolishAbove * termination) {
        CoupledStepSize polish;
        if (CoupledStep(cv, polish, true) != 0) return -1;
        if (polish.Largest() < m) {
          ApplyCoupledStep(cv, d, 1.0);
          m = polish.Largest();
        }
      }
      last = m;
      return it;
    }
    previous = m;
  }
  return -1;
}

// The coupled iteration from the present state, ending with the occupations of the defects and
// the check (its last step stands for the check of the equations). True when the state passed.
bool NewtonTakesOver(CalculationVariables& cv) {
  double last = HUGE_VAL;
  const int steps = NewtonFromClose(cv, last);
  if (steps < 0) return false;
  SolverContext* ctx = cv.ctx;
  const Environment* env = (ctx && ctx->env.ui && ctx->env.errors) ? &ctx->env : nullptr;
  IterateFt(cv.rec, CarriersOf(cv), nullptr, env, ctx ? ctx->counter : nullptr);
  const AcceptanceReport r = CheckNewtonSolution(cv, last);
  cv.checkStep = r.step;
  cv.checkSpread = r.spread;
  cv.checkSplit = r.split;
  if (!r.passed) return false;
  cv.coupledIterations = steps;
  return true;
}

// The Gummel procedure, with the coupled Newton iteration taking over where it can: at the start
// when the estimate is close (along a sweep it usually is, within hundredths of kT), else after
// a few passes. Returns as GummelOuterLoop; the state it returns with 0 has passed its check.
// `checked` tells whether it has.
int GummelWithNewton(CalculationVariables& cv, bool meshSaved, bool& checked) {
  checked = false;
  if (NewtonTakesOver(cv)) {
    cv.teller = cv.coupledIterations;
    checked = true;
    return 0;
  }
  RestoreEntry(cv, meshSaved);
  const int maxiter = cv.par->convergence.maxiter;
  int passes = 0;
  for (;;) {
    const int chunk = std::min(kPassesBeforeNewton, maxiter - passes);
    const int result = GummelOuterLoop(cv, chunk < maxiter - passes ? chunk : 0, maxiter - passes);
    if (result != 1) {
      if (result == 0 && cv.teller > 0) cv.teller += passes;
      return result;
    }
    passes += chunk;
    SaveSolution(cv, cv.work.pass);
    if (NewtonTakesOver(cv)) {
      cv.teller = passes + cv.coupledIterations;
      checked = true;
      return 0;
    }
    // Not yet: the Gummel procedure goes on from where it was.
    RestoreSolution(cv, cv.work.pass);
    update_psivar(cv);
    cv.coupledIterations = 0;
  }
}

}  // namespace

int los_totaal_dc_stelsel_op_Gummel(CalculationVariables& cv) {
  const bool fallback = cv.par->convergence.coupledNewtonFallback != 0;
  ++cv.work.solves;
  cv.coupledIterations = 0;
  cv.pointState = kPointGummel;
  ChooseOffsets(cv);
  const bool meshSaved = SaveEntry(cv);
  SolverContext* ctx = cv.ctx;
  // The messages of a Gummel failure are held back while the coupled iteration may rescue it.
  HeldMessages held(cv, fallback);
  // The coupled iteration finishes the solve where the coupled system holds the cell (a fixed
  // mesh, no tunnelling), when it is switched on ("Gummel only" otherwise).
  const bool newton = fallback && cv.par->mesh.recalculateMesh == 0 && !TunnellingSwitchedOn(*cv.par) &&
                      !cv.tunnel.present && !cv.tunnel.interfacePresent;
  bool checked = false;
  int result = newton ? GummelWithNewton(cv, meshSaved, checked) : GummelOuterLoop(cv);
  // The tunnel currents of the solution itself, for the currents read from it (those to the
  // interface traps come with the interface terms of the solution).
  if (result == 0 && cv.teller != -1 && (TunnellingSwitchedOn(*cv.par) || cv.tunnel.interfacePresent)) {
    if (cv.tunnel.interfacePresent && ComputeDefectTerms(cv) < 0) result = -1;
    CalculateTunnelling(cv, kElectrons);
    CalculateTunnelling(cv, kHoles);
  }
  // A Gummel procedure that stopped moving has not necessarily solved the equations: the point
  // is accepted only when it passes the check.
  if (result == 0 && cv.teller != -1 && !checked && !Accepted(cv)) {
    SolverMessage(cv, "Error",
                  "The Gummel iteration stopped on a state that does not solve the equations." + CheckText(cv));
    cv.teller = -1;
  }
  if (result == -1 || cv.teller == -1) {
    RestoreEntry(cv, meshSaved);
    int steps = fallback ? CoupledNewton(cv) : -1;
    if (steps > 0) {
      const Environment* env = (ctx && ctx->env.ui && ctx->env.errors) ? &ctx->env : nullptr;
      IterateFt(cv.rec, CarriersOf(cv), nullptr, env, ctx ? ctx->counter : nullptr);
      if (!Accepted(cv)) {
        SolverMessage(
            cv, "Error",
            "The coupled Newton iteration ended on a state that does not solve the equations." + CheckText(cv));
        steps = -1;
      }
    }
    if (steps > 0) {
      cv.teller = steps;
      cv.coupledIterations = steps;
      cv.pointState = kPointCoupledNewton;
      result = 0;
      held.Rescued();
    } else {
      // A failed solve leaves the state it started from, never a diverged or non-finite one.
      if (fallback) RestoreEntry(cv, meshSaved);
      cv.teller = -1;
      cv.pointState = kPointFailed;
    }
  }
  held.Release();
  return result;
}

namespace {

// The size of the step d: ψ in kT, the quasi-Fermi levels as ln(1 + Δw/(w0 + w)).
int StepSize(const CalculationVariables& cv, std::span<const double> d, CoupledStepSize& size) {
  const int N = cv.mesh.N;
  size = CoupledStepSize{};
  for (int i = 0; i < N; ++i) {
    size.dpsi = std::max(size.dpsi, std::fabs(d[3 * i]));
    const double rn = d[3 * i + 1] / (cv.u0[i] + cv.u[i]);
    const double rp = d[3 * i + 2] / (cv.v0[i] + cv.v[i]);
    size.rnmin = std::min(size.rnmin, rn);
    size.rnmax = std::max(size.rnmax, rn);
    size.rpmin = std::min(size.rpmin, rp);
    size.rpmax = std::max(size.rpmax, rp);
  }
  return AllFinite(d, 3 * N) ? 0 : -1;
}

// One coupled step; with `chord` the Jacobian factorised for the previous step is used again.
int CoupledStep(CalculationVariables& cv, CoupledStepSize& size, bool chord) {
  SolverWorkspace& w = cv.work;
  const int N = cv.mesh.N;
  const int n3 = 3 * N;
  const BandMatrix A{n3, kCoupledKl, kCoupledKu, w.band.data()};
  std::span<double> F(w.F3.data(), n3);
  std::span<double> d(w.delta3.data(), n3);
  if (ComputeDefectTerms(cv) < 0) return -1;
  CalculateTunnelling(cv, kElectrons);
  CalculateTunnelling(cv, kHoles);
  CoupledResidual(cv, F);
  if (!AllFinite(F, n3)) return -1;
  if (chord) {
    for (int r = 0; r < n3; ++r) d[r] = F[r] * w.rowScale[r];
    if (SolveFactoredBanded(A, std::span<const int>(w.pivots.data(), n3), d) != 0) return -1;
    return StepSize(cv, d, size);
  }
  CoupledJacobian(cv, A);
  // Row equilibration: Poisson and continuity rows differ by many orders of magnitude.
  // (The elements of a row lie ld − 1 apart in the column-wise band storage.)
  const long rowStride = A.ld() - 1;
  for (int r = 0; r < n3; ++r) {
    const int c0 = std::max(0, r - A.kl), c1 = std::min(n3 - 1, r + A.ku);
    double* const row = &A.at(r, c0);
    const long count = c1 - c0;
    double m = 0.0;
    for (long k = 0; k <= count; ++k) m = std::max(m, std::fabs(row[k * rowStride]));
    if (!(m > 0.0) || !std::isfinite(m)) return -1;
    const double inv = 1.0 / m;
    for (long k = 0; k <= count; ++k) row[k * rowStride] *= inv;
    F[r] *= inv;
    w.rowScale[r] = inv;
  }
  std::copy(F.begin(), F.end(), d.begin());
  if (SolveBanded(A, std::span<int>(w.pivots.data(), n3), d) != 0) return -1;
  return StepSize(cv, d, size);
}

}  // namespace

int CoupledNewtonStep(CalculationVariables& cv, CoupledStepSize& size) { return CoupledStep(cv, size, false); }

double CoupledStepSize::Fn() const {
  return rnmin <= -1.0 ? HUGE_VAL : std::max(-std::log1p(rnmin), std::log1p(rnmax));
}
double CoupledStepSize::Fp() const {
  return rpmin <= -1.0 ? HUGE_VAL : std::max(-std::log1p(rpmin), std::log1p(rpmax));
}
double CoupledStepSize::Largest() const { return std::max({dpsi, Fn(), Fp()}); }
bool CoupledStepSize::Within(const ConvergenceParameters& c) const {
  return dpsi <= c.termination_psi && Fn() <= c.termination_Fn && Fp() <= c.termination_Fp;
}

int CoupledNewton(CalculationVariables& cv) {
  const ConvergenceParameters& c = cv.par->convergence;
  const int N = cv.mesh.N;
  std::span<const double> d(cv.work.delta3.data(), static_cast<std::size_t>(3 * N));
  for (int it = 1; it <= c.maxiter; ++it) {
    CoupledStepSize size;
    if (CoupledNewtonStep(cv, size) != 0) return -1;
    const bool converged = size.Within(c);
    ApplyCoupledStep(cv, d, StepFactor(size, c.clamp_psi, c.clamp_n, c.clamp_p));
    if (converged) {
      if (ComputeDefectTerms(cv) < 0) return -1;
      CalculateTunnelling(cv, kElectrons);
      CalculateTunnelling(cv, kHoles);
      return it;
    }
  }
  return -1;
}

}  // namespace zoniq
