#include "solver/acceptance.hpp"

#include <algorithm>
#include <cmath>

#include "solver/currents.hpp"
#include "solver/equations.hpp"
#include "solver/gummel.hpp"

namespace zoniq {

CurrentBalance BalanceOfCurrents(const CalculationVariables& cv, const CurrentDensities& j) {
  CurrentBalance b;
  const CalculationParameters& par = *cv.par;
  const Schaal& s = par.schaal;
  const int N = cv.mesh.N;
  if (N < 2) return b;
  const double* h = cv.mesh.h.data();
  const double* U = cv.blocks.total.U.data();
  double rec = 0.0, gen = 0.0;  // [A/m2]
  for (int l = 0; l < par.nlayers; ++l) {
    const double c = kQ * s.S[l] * s.Dmax / s.L;
    for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i) {
      // Each point's box: half its intervals (the two points of an interface keep their side).
      const double w = 0.5 * c * (i == 0 ? h[0] : i == N - 1 ? h[N - 2] : h[i - 1] + h[i]);
      rec += U[i] * w;
      gen += (static_cast<std::size_t>(i) < cv.G.size() ? cv.G[i] : 0.0) * w;
    }
  }
  // Interface recombination from both sides of every interface (zero without interface defects),
  // with the electrons that tunnel to the traps.
  double ifr = 0.0;
  for (int k = 0; k + 1 < par.nlayers && k < MAXINTERFACES; ++k)
    ifr += kQ * (s.Dmax / s.L) * (s.S[k] * cv.ifr.Fn_left_t[k] + s.S[k + 1] * cv.ifr.Fn_right_t[k]);
  b.recombination = 0.1 * rec;  // A/m2 → mA/cm2
  b.generation = 0.1 * gen;
  b.interface = 0.1 * ifr;
  // The electron current leaving at the left contact and the hole current at the right one: with
  // dJn/dx = q(U − G) and dJp/dx = −q(U − G), J = Jn(0) + Jp(L) + q∫(U − G)dx + q·U_ifr holds
  // whatever the doping at the contacts (for a pn cell these are its minority-carrier currents;
  // a p-p or n-n stack has no minority carrier at one of its contacts).
  // Tunnel currents to the contacts are part of the carriers' currents there.
  b.contacts = j.j_n[0] + j.jn_tunnel[0] + j.j_p[N - 1] + j.jp_tunnel[N - 1];
  return b;
}

namespace {

// The check with the size of the equations' remaining correction given (negative: none, as with
// tunnelling); the defect terms in cv are those of the present state.
AcceptanceReport Check(CalculationVariables& cv, double step) {
  AcceptanceReport r;
  const ConvergenceParameters& c = cv.par->convergence;
  const int N = cv.mesh.N;
  if (N < 2) return r;
  CurrentDensities& j = cv.work.currents;
  if (step >= 0.0 || std::isnan(step)) {
    r.step = step;
    r.stepChecked = true;
  }

  // Current continuity, with the defect terms (recombination) of this state.
  extraheer_stroom(cv, j);
  r.current = j.j_tot[std::min(1, N - 1)];
  const CurrentBalance b = BalanceOfCurrents(cv, j);
  double total = 0.0;  // the total recombination, of either sign, at every point
  {
    const CalculationParameters& par = *cv.par;
    const double* h = cv.mesh.h.data();
    for (int l = 0; l < par.nlayers; ++l) {
      const double cl = 0.1 * kQ * par.schaal.S[l] * par.schaal.Dmax / par.schaal.L;
      for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i)
        total += std::fabs(cv.blocks.total.U[i]) * 0.5 * cl * (i == 0 ? h[0] : i == N - 1 ? h[N - 2] : h[i - 1] + h[i]);
    }
  }
  // Deviations are measured against the largest current that flows anywhere in the balance;
  // the floor keeps the noise of a cell that carries next to nothing from failing it.
  r.scale = std::max({std::fabs(r.current), b.generation, total, std::fabs(b.interface), std::fabs(b.contacts), 1e-9});
  double spread = 0.0;
  for (int i = 0; i < N; ++i) spread = std::max(spread, std::fabs(j.j_tot[i] - r.current));
  r.spread = spread / r.scale;
  r.split = std::fabs(b.Sum() - r.current) / r.scale;

  const bool finite = std::isfinite(r.step) && std::isfinite(r.spread) && std::isfinite(r.split);
  r.passed =
      finite && r.step <= c.acceptance_step && r.spread <= c.acceptance_current && r.split <= c.acceptance_current;
  return r;
}

}  // namespace

AcceptanceReport CheckSolution(CalculationVariables& cv) {
  // The equations: a coupled Newton step from a solution changes nothing worth speaking of.
  const bool tunnelling = cv.tunnel.present || cv.tunnel.interfacePresent;
  double step = -1.0;
  if (!tunnelling) {
    CoupledStepSize size;
    if (cv.mesh.N < 2 || CoupledNewtonStep(cv, size) != 0) return AcceptanceReport{};
    step = size.Largest();
  }
  return Check(cv, step);
}

AcceptanceReport CheckNewtonSolution(CalculationVariables& cv, double lastStep) {
  if (cv.mesh.N < 2) return AcceptanceReport{};
  if (!(lastStep >= 0.0)) lastStep = HUGE_VAL;  // no step known: not accepted
  if (ComputeDefectTerms(cv) < 0) return AcceptanceReport{};
  return Check(cv, lastStep);
}

}  // namespace zoniq
