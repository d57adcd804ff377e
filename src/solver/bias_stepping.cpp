#include "solver/bias_stepping.hpp"

#include <cmath>

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
    cv.u[i] = 0.0;
    cv.v[i] = 0.0;
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
  const double anOld = cv.u0, apOld = cv.v0;
  for (int i = 0; i < N; ++i) {
    double w = std::log(anOld + cv.u[i]);
    if (same ? std::fabs(w) < Vn : std::fabs(w) > Vn) w += dV / Vt;
    cv.work.c1[i] = w;
  }
  Set_an_And_ap(cv, V);
  for (int i = 0; i < N; ++i) cv.u[i] = std::exp(cv.work.c1[i]) - cv.u0;
  // With a p-type right contact the hole offset follows the bias: keep v0 + v.
  if (cv.v0 != apOld)
    for (int i = 0; i < N; ++i) cv.v[i] = (apOld + cv.v[i]) - cv.v0;
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
  const double anOld = cv.u0, apOld = cv.v0;
  Set_an_And_ap(cv, V);
  for (int i = 1; i < N; ++i) {
    double a = std::log(cv.u[i] + anOld);
    double b = -std::log(cv.v[i] + apOld);
    if (std::fabs(Vold) > 0.01) {
      a *= V / Vold;
      b *= V / Vold;
    } else {
      a += (dV / Vt) * (x[N - 1] - x[i]) / span;
      b += (dV / Vt) * (x[i] - x[0]) / span;
    }
    cv.u[i] = std::exp(a) - cv.u0;
    cv.v[i] = std::exp(-b) - cv.v0;
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

int volgende_iv_punt(CalculationVariables& cv, double Vfrom, double Vto, int n, int version) {
  if (cv.teller == -1) return 1;
  if (std::fabs(Vto - Vfrom) < 1e-9) return 0;
  if (n < 2) n = 2;
  const double dV = (Vto - Vfrom) / (n - 1);
  double V = Vfrom;
  for (int k = 1; k <= n - 1; ++k) {
    V += dV;
    volgende_schatting(cv, V, dV, version);
    const int r = los_totaal_dc_stelsel_op_Gummel(cv);
    if (r == -1 || cv.teller == -1) {
      cv.teller = -1;
      return 1;
    }
  }
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
