#include "solver/bias_stepping.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/format.hpp"
#include "solver/bernoulli.hpp"
#include "solver/gummel.hpp"
#include "solver/x_dependence.hpp"

namespace zoniq {

double PresentBias(const CalculationVariables& cv) { return cv.V; }

void eerste_schatting(CalculationVariables& cv) {
  const CalculationParameters& par = *cv.par;
  const int N = cv.mesh.N;
  Set_an_And_ap(cv, 0.0);
  for (int i = 0; i < N; ++i) {
    // e^ψ = X solves Nn·X − Np/X = Nnet (n − p = net doping with u0+u = v0+v = 1); the root is
    // taken in the form that avoids cancellation for either sign of Nnet.
    const double Nnet = cv.pt.Nnet[i], Nn = cv.pt.Nn[i], Np = cv.pt.Np[i];
    const double root = std::sqrt(Nnet * Nnet + 4.0 * Nn * Np);
    const double X = Nnet >= 0.0 ? (Nnet + root) / (2.0 * Nn) : 2.0 * Np / (root - Nnet);
    cv.psi[i] = std::log(X);
    SetCarrierValues(cv, i, 1.0, 1.0);
  }
  cv.psi[0] = 0.0;
  cv.psi[N - 1] = (par.Fi_left - par.Fi_right) / par.Vt;
  update_psivar(cv);
}

namespace {

// Moves the quasi-Fermi levels of the electrons with the bias and sets the new bias.
void ShiftElectrons(CalculationVariables& cv, double V, double dV) {
  const double Vt = cv.par->Vt;
  const int N = cv.mesh.N;
  const double Vn = std::fabs(V / Vt);
  const bool same = sign(V) == sign(dV);
  for (int i = 0; i < N; ++i) {
    double w = std::log(cv.u0[i] + cv.u[i]);
    if (same ? std::fabs(w) < Vn : std::fabs(w) > Vn) w += dV / Vt;
    cv.work.c1[i] = w;
  }
  Set_an_And_ap(cv, V);
  for (int i = 0; i < N; ++i) SetCarrierValues(cv, i, std::exp(cv.work.c1[i]), cv.v0[i] + cv.v[i]);
}

void Tilt(CalculationVariables& cv, double dV) {
  const int N = cv.mesh.N;
  const double* x = cv.mesh.x.data();
  const double span = x[N - 1] - x[0];
  for (int i = 0; i < N; ++i) cv.psi[i] -= (dV / cv.par->Vt) * (x[i] - x[0]) / span;
}

}  // namespace

void volgende_schatting_ZONIQ1(CalculationVariables& cv, double V, double dV) {
  const CalculationParameters& par = *cv.par;
  const int N = cv.mesh.N;
  cv.psi[0] = 0.0;
  cv.psi[N - 1] = (par.Fi_left - par.Fi_right - V) / par.Vt;
  update_psivar(cv);
  ShiftElectrons(cv, V, dV);
}

void volgende_schatting_ZONIQ20(CalculationVariables& cv, double V, double dV) {
  Tilt(cv, dV);
  volgende_schatting_ZONIQ1(cv, V, dV);
}

void volgende_schatting_ZONIQ21(CalculationVariables& cv, double V, double dV) {
  const double Vt = cv.par->Vt;
  const int N = cv.mesh.N;
  const double* x = cv.mesh.x.data();
  const double span = x[N - 1] - x[0];
  cv.psi[0] = 0.0;
  Tilt(cv, dV);
  update_psivar(cv);
  const double Vold = V - dV;
  Set_an_And_ap(cv, V);
  for (int i = 1; i < N; ++i) {
    double a = std::log(cv.u[i] + cv.u0[i]);
    double b = -std::log(cv.v[i] + cv.v0[i]);
    if (std::fabs(Vold) > 0.01) {
      a *= V / Vold;
      b *= V / Vold;
    } else {
      a += (dV / Vt) * (x[N - 1] - x[i]) / span;
      b += (dV / Vt) * (x[i] - x[0]) / span;
    }
    SetCarrierValues(cv, i, std::exp(a), std::exp(-b));
  }
}

void volgende_schatting(CalculationVariables& cv, double V, double dV, int version) {
  if (version == kEstimateTilt) {
    volgende_schatting_ZONIQ20(cv, V, dV);
  } else if (version == kEstimateScaled) {
    volgende_schatting_ZONIQ21(cv, V, dV);
  } else {
    volgende_schatting_ZONIQ1(cv, V, dV);
  }
}

namespace {

// The solved state at bias Vgood, kept in the workspace so that a failed step can start again
// from it (the mesh is the one a failed solve restores: it does not change between steps).
void KeepGood(CalculationVariables& cv) { SaveSolution(cv, cv.work.good); }

void BackToGood(CalculationVariables& cv, double Vgood) {
  RestoreSolution(cv, cv.work.good);
  Set_an_And_ap(cv, Vgood);
  update_psivar(cv);
}

// The present state as the previous point of a path (ψ and the quasi-Fermi levels); a density
// at zero or below gives −∞, and the next step then does not predict. False in that case.
bool KeepAsPrevious(CalculationVariables& cv) {
  SolverWorkspace& w = cv.work;
  bool usable = true;
  for (int i = 0; i < cv.mesh.N; ++i) {
    const double n = cv.u0[i] + cv.u[i], p = cv.v0[i] + cv.v[i];
    usable = usable && n > 0.0 && p > 0.0;
    w.psiPrevious[i] = cv.psi[i];
    w.lnuPrevious[i] = n > 0.0 ? std::log(n) : -HUGE_VAL;
    w.lnvPrevious[i] = p > 0.0 ? std::log(p) : -HUGE_VAL;
  }
  return usable;
}

// A step may reach at most this many times the previous step beyond the solved points for the
// extrapolation to be a guide.
constexpr double kExtrapolationReach = 2.0;

// The estimate at V from the solved state at V − dV: along a sweep, the polynomial through the
// last three points (ψ and both quasi-Fermi levels, which the contacts fix linearly in V), or
// the straight line through the last two while only two are known; otherwise the estimate of
// the chosen version. The steps need not be equal (a sweep that turns back at its start
// interpolates between the points it came along). The present state becomes the previous point
// either way.
void Estimate(CalculationVariables& cv, double V, double dV, int version) {
  SolverWorkspace& w = cv.work;
  const int N = cv.mesh.N;
  const double Va = V - dV;
  const double h0 = Va - w.previousV;
  bool along = w.previousN == N && w.solvesAtLast == w.solves && std::fabs(Va - w.lastV) <= 1e-12 && h0 != 0.0 &&
               std::fabs(dV) <= kExtrapolationReach * std::fabs(h0);
  // Densities that rounding took to zero or below have no quasi-Fermi level to extrapolate.
  for (int i = 0; i < N && along; ++i)
    along = cv.u0[i] + cv.u[i] > 0.0 && cv.v0[i] + cv.v[i] > 0.0 && std::isfinite(w.lnuPrevious[i]) &&
            std::isfinite(w.lnvPrevious[i]);
  const double h1 = w.previousV - w.earlierV;
  bool quadratic = along && w.earlierN == N && h1 != 0.0 && Va != w.earlierV &&
                   std::fabs(dV) <= kExtrapolationReach * std::fabs(h1);
  for (int i = 0; i < N && quadratic; ++i)
    quadratic = std::isfinite(w.lnuEarlier[i]) && std::isfinite(w.lnvEarlier[i]);
  double* psi = cv.psi.data();
  double* u = cv.u.data();
  double* v = cv.v.data();
  const double* u0 = cv.u0.data();
  const double* v0 = cv.v0.data();
  if (!along) {
    KeepAsPrevious(cv);
    w.earlierN = 0;
    volgende_schatting(cv, V, dV, version);
  } else {
    // Lagrange weights of the present (t0), previous (t1) and earlier (t2) points at V.
    const double t0 = Va, t1 = w.previousV, t2 = w.earlierV;
    double w0, w1, w2 = 0.0;
    if (quadratic) {
      w0 = (V - t1) * (V - t2) / ((t0 - t1) * (t0 - t2));
      w1 = (V - t0) * (V - t2) / ((t1 - t0) * (t1 - t2));
      w2 = (V - t0) * (V - t1) / ((t2 - t0) * (t2 - t1));
    } else {
      w0 = (V - t1) / (t0 - t1);
      w1 = (V - t0) / (t1 - t0);
    }
    // The predicted quasi-Fermi levels go to c1, c2 until the new bias sets the anchors.
    for (int i = 0; i < N; ++i) {
      const double a = psi[i], b = std::log(u0[i] + u[i]), c = std::log(v0[i] + v[i]);
      psi[i] = w0 * a + w1 * w.psiPrevious[i];
      w.c1[i] = w0 * b + w1 * w.lnuPrevious[i];
      w.c2[i] = w0 * c + w1 * w.lnvPrevious[i];
      if (quadratic) {
        psi[i] += w2 * w.psiEarlier[i];
        w.c1[i] += w2 * w.lnuEarlier[i];
        w.c2[i] += w2 * w.lnvEarlier[i];
      }
      w.psiEarlier[i] = w.psiPrevious[i];
      w.lnuEarlier[i] = w.lnuPrevious[i];
      w.lnvEarlier[i] = w.lnvPrevious[i];
      w.psiPrevious[i] = a;
      w.lnuPrevious[i] = b;
      w.lnvPrevious[i] = c;
    }
    w.earlierV = w.previousV;
    w.earlierN = N;
    Set_an_And_ap(cv, V);
    for (int i = 0; i < N; ++i) SetCarrierValues(cv, i, std::exp(w.c1[i]), std::exp(w.c2[i]));
    // The boundary values exactly as every estimate sets them.
    const CalculationParameters& par = *cv.par;
    psi[0] = 0.0;
    psi[N - 1] = (par.Fi_left - par.Fi_right - V) / par.Vt;
    update_psivar(cv);
  }
  w.previousV = Va;
  w.previousN = N;
}

}  // namespace

void ForgetPath(CalculationVariables& cv) { cv.work.pathPoints = 0; }

void RememberOnPath(CalculationVariables& cv, double t) {
  SolverWorkspace& w = cv.work;
  const int N = cv.mesh.N;
  const bool continues = w.pathPoints > 0 && w.previousN == N && w.pathSolves + 1 == w.solves;
  if (continues) {
    std::copy_n(w.psiPrevious.begin(), N, w.psiEarlier.begin());
    std::copy_n(w.lnuPrevious.begin(), N, w.lnuEarlier.begin());
    std::copy_n(w.lnvPrevious.begin(), N, w.lnvEarlier.begin());
    w.pathT2 = w.pathT1;
  }
  const bool usable = KeepAsPrevious(cv);
  w.pathPoints = !usable ? 0 : continues ? 2 : 1;
  w.pathT1 = t;
  w.previousN = N;
  w.earlierN = 0;  // the bias stepping's history is gone
  w.pathSolves = w.solves;
}

void PredictOnPath(CalculationVariables& cv, double t) {
  SolverWorkspace& w = cv.work;
  const int N = cv.mesh.N;
  if (w.pathPoints < 2 || w.pathSolves != w.solves || w.previousN != N || w.pathT1 == w.pathT2) return;
  const double w1 = (t - w.pathT2) / (w.pathT1 - w.pathT2), w2 = 1.0 - w1;
  // ψ keeps its boundary values: the bias does not change along the path.
  for (int i = 1; i + 1 < N; ++i) cv.psi[i] = w1 * w.psiPrevious[i] + w2 * w.psiEarlier[i];
  for (int i = 0; i < N; ++i)
    SetCarrierValues(cv, i, std::exp(w1 * w.lnuPrevious[i] + w2 * w.lnuEarlier[i]),
                     std::exp(w1 * w.lnvPrevious[i] + w2 * w.lnvEarlier[i]));
  update_psivar(cv);
}

namespace {

bool SolveAt(CalculationVariables& cv, double V, double dV, int version) {
  const int N = cv.mesh.N;
  Estimate(cv, V, dV, version);
  const int r = los_totaal_dc_stelsel_op_Gummel(cv);
  const bool ok = r != -1 && cv.teller != -1;
  SolverWorkspace& w = cv.work;
  // A changed mesh makes the previous point's arrays belong to another mesh.
  w.previousN = ok && cv.mesh.N == N && (cv.par->mesh.recalculateMesh == 0 || cv.mesh.x == w.meshAtEntry.x) ? N : 0;
  w.lastV = V;
  w.solvesAtLast = w.solves;
  return ok;
}

void RecoveryMessage(CalculationVariables& cv, const std::string& text, int level = 1) {
  if (cv.ctx) cv.ctx->LogRecovery(text, level);
}

// One step of the sweep from Va to Vb. When the step fails, it is walked again from Va in
// halved steps (each success lets the step grow back), down to the minimum bias step.
bool Step(CalculationVariables& cv, double Va, double Vb, int version) {
  const double minimum = cv.par->convergence.minimum_bias_step;
  const bool halving = minimum > 0.0 && std::fabs(Vb - Va) > minimum;
  if (!halving) return SolveAt(cv, Vb, Vb - Va, version);
  KeepGood(cv);
  // The messages of a failing step are held back until it is clear whether halving rescues it.
  HeldMessages held(cv);
  auto finish = [&](bool ok) {
    held.Finish(!ok);
    return ok;
  };
  if (SolveAt(cv, Vb, Vb - Va, version)) return finish(true);
  held.FirstAttemptDone();
  RecoveryMessage(cv, "V = " + fix(Vb, 0, 4) + " V: the step from " + fix(Va, 0, 4) + " V failed; halving it", 2);
  const double full = Vb - Va;
  double V = Va, h = 0.5 * full;
  int halvings = 1, solves = 0;
  BackToGood(cv, Va);
  while (std::fabs(Vb - V) > 1e-12) {
    const double step = std::fabs(h) < std::fabs(Vb - V) ? h : Vb - V;
    if (SolveAt(cv, V + step, step, version)) {
      V += step;
      ++solves;
      KeepGood(cv);
      if (std::fabs(2.0 * h) <= std::fabs(full)) h *= 2.0;
    } else {
      RecoveryMessage(cv, "V = " + fix(V + step, 0, 4) + " V: the halved step from " + fix(V, 0, 4) + " V failed", 2);
      BackToGood(cv, V);
      h *= 0.5;
      ++halvings;
      if (std::fabs(h) < minimum) {
        cv.teller = -1;
        cv.pointState = kPointFailed;
        RecoveryMessage(cv, "bias step halved down to " + fix(std::fabs(h) * 2.0, 0, 6) + " V at V = " + fix(V, 0, 4) +
                                " V: no convergence towards " + fix(Vb, 0, 4) + " V");
        return finish(false);
      }
    }
  }
  cv.pointState = kPointStepHalving;
  RecoveryMessage(cv, "V = " + fix(Vb, 0, 4) + " V reached from " + fix(Va, 0, 4) + " V in " + std::to_string(solves) +
                          " smaller steps (" + std::to_string(halvings) + " halvings)");
  return finish(true);
}

}  // namespace

int volgende_iv_punt(CalculationVariables& cv, double Vfrom, double Vto, int n, int version) {
  if (cv.teller == -1) return 1;
  if (std::fabs(Vto - Vfrom) < 1e-9) return 0;
  if (n < 2) n = 2;
  const double dV = (Vto - Vfrom) / (n - 1);
  double V = Vfrom;
  bool recovered = false;
  for (int k = 1; k <= n - 1; ++k) {
    if (!Step(cv, V, V + dV, version)) {
      cv.teller = -1;
      cv.pointState = kPointFailed;
      return 1;
    }
    recovered = recovered || cv.pointState == kPointStepHalving;
    V += dV;
  }
  // The point was reached, but not as the plain stepping would have reached it.
  if (recovered) cv.pointState = kPointStepHalving;
  return 0;
}

int ChooseStartingRoute(double start, double stop, double Vcurrent, double Vworkpoint, bool currentFailed) {
  struct Candidate {
    int route;
    double origin, target;
  };
  const Candidate candidates[] = {
      {kRouteShortCircuitToStart, 0.0, start},     {kRouteShortCircuitToStop, 0.0, stop},
      {kRouteWorkPointToStart, Vworkpoint, start}, {kRouteWorkPointToStop, Vworkpoint, stop},
      {kRouteCurrentToStart, Vcurrent, start},     {kRouteCurrentToStop, Vcurrent, stop}};
  int best = candidates[0].route;
  double bestDistance = std::fabs(start);
  for (const Candidate& c : candidates) {
    if (currentFailed && (c.route == kRouteCurrentToStart || c.route == kRouteCurrentToStop)) continue;
    const double distance = std::fabs(c.target - c.origin);
    if (distance < bestDistance - 1e-9) {
      best = c.route;
      bestDistance = distance;
    }
  }
  return best;
}

int CalculateStartingPoint(double& start, double& stop, CalculationVariables& cv,
                           const CalculationVariables& shortCircuitCv, const CalculationVariables& workPointCv,
                           const std::string& name, int steps, int version) {
  const double Vcur = PresentBias(cv);
  const double Vwp = PresentBias(workPointCv);
  const int route = ChooseStartingRoute(start, stop, Vcur, Vwp, cv.teller == -1);
  SolverContext* const ctx = cv.ctx;  // the copies below keep the calculation's own context
  double Vfrom = Vcur;
  if (route == kRouteShortCircuitToStart || route == kRouteShortCircuitToStop) {
    CopyCalculationVariables(cv, shortCircuitCv);
    Vfrom = 0.0;
  } else if (route == kRouteWorkPointToStart || route == kRouteWorkPointToStop) {
    CopyCalculationVariables(cv, workPointCv);
    Vfrom = Vwp;
  }
  cv.ctx = ctx;
  if (route == kRouteShortCircuitToStop || route == kRouteWorkPointToStop || route == kRouteCurrentToStop)
    std::swap(start, stop);
  const double target = start;
  UserInterface* ui = ctx ? ctx->env.ui : nullptr;
  if (ui)
    ui->StatusMessage(name + ": from actual " + fix(Vfrom, 0, 3) + " V to " + fix(target, 0, 3) + " V (" +
                      std::to_string(steps) + " steps)");
  Full_x_Dependence(cv);
  if (cv.regenerate) cv.regenerate(cv);
  const int failed = volgende_iv_punt(cv, Vfrom, target, steps, version);
  if (ui)
    ui->StatusMessage("Starting point " + name + ": from V = " + fix(start, 0, 3) + " Volt to V = " + fix(stop, 0, 3) +
                      " V: V = " + fix(PresentBias(cv), 0, 3) + " Volt");
  if (failed) {
    SolverMessage(cv, "Calculating first point of " + name + " from working point",
                  "from V = " + fix(Vfrom, 0, 3) + " Volt to V = " + fix(target, 0, 3) +
                      " V: convergence failure at V = " + fix(PresentBias(cv), 0, 3) + " Volt");
    if (ui) ui->StatusMessage("no " + name + ": convergence failure at start voltage");
    return 0;
  }
  if (ui) ui->StatusMessage("starting point " + name + " " + fix(Vfrom, 0, 3) + " Volt");
  return 1;
}

}  // namespace zoniq
