#include "measure/iv_sweep.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/format.hpp"
#include "measure/iv_parameters.hpp"
#include "measure/simulation_driver.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/calculation_parameters.hpp"

namespace zoniq {

IVPointCurrents EvaluateIVPoint(const CalculationVariables& cv, CurrentDensities& table) {
  IVPointCurrents p;
  extraheer_stroom(cv, table);
  const int N = cv.mesh.N;
  if (N < 2) return p;
  p.j = table.j_tot[1];

  const CalculationParameters& par = *cv.par;
  const Schaal& s = par.schaal;
  const double* h = cv.mesh.h.data();
  const BulkTermBlocks& b = cv.blocks;
  // Bulk recombination currents q∫R dx, each point weighted with its box (half intervals to its
  // neighbours; the two points of an interface are 0 apart, so each keeps its own side).
  double bulk = 0.0, srh = 0.0, rad = 0.0, auger = 0.0;  // [A/m2]
  for (int l = 0; l < par.nlayers; ++l) {
    const double c = kQ * s.S[l] * s.Dmax / s.L;  // current-density scale of the layer [A/m2]
    for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i) {
      const double w = 0.5 * c * (i == 0 ? h[0] : i == N - 1 ? h[N - 2] : h[i - 1] + h[i]);
      bulk += b.total.U[i] * w;
      srh += b.Srh().U[i] * w;
      rad += b.radiative.U[i] * w;
      auger += b.auger.U[i] * w;
    }
  }
  p.jbulk = 0.1 * bulk;  // A/m2 → mA/cm2
  p.jSRH = 0.1 * srh;
  p.jRadiative = 0.1 * rad;
  p.jAuger = 0.1 * auger;

  // Interface recombination: the net electron capture at each interface from both of its sides
  // (fluxes in the density scale of their own layer, times Dmax/L).
  double ifr = 0.0;
  for (int k = 0; k + 1 < par.nlayers && k < MAXINTERFACES; ++k)
    ifr += kQ * (s.Dmax / s.L) * (s.S[k] * cv.ifr.Fn_left[k] + s.S[k + 1] * cv.ifr.Fn_right[k]);
  p.jifr = 0.1 * ifr;

  // Surface recombination: the minority-carrier current at each contact (electrons at a p-type
  // contact, holes at an n-type one).
  const bool leftElectrons = ElectronsAreMinorityAtContact(par, 0);
  const bool rightElectrons = ElectronsAreMinorityAtContact(par, 1);
  (leftElectrons ? p.js_n : p.js_p) += leftElectrons ? table.j_n[0] : table.j_p[0];
  (rightElectrons ? p.js_n : p.js_p) += rightElectrons ? table.j_n[N - 1] : table.j_p[N - 1];
  return p;
}

double SmallestBandGap(const CalculationVariables& cv) {
  const int N = std::min<int>(cv.mesh.N, static_cast<int>(cv.pt.Eg.size()));
  double eg = 0.0;
  for (int i = 0; i < N; ++i)
    if (cv.pt.Eg[i] > 0.0 && (eg == 0.0 || cv.pt.Eg[i] < eg)) eg = cv.pt.Eg[i];
  return eg;
}

double ApplyExternalCircuit(const WorkPoint& wp, double Vcell, double& J) {
  if (wp.RshPresent) J += Vcell * wp.Gsh * 0.1;
  return wp.RsPresent ? Vcell + wp.Rs * J * 10.0 : Vcell;
}

int calciv(SimulationState& s, const Environment& env, CalculationVariables& cv, VoltageSweepAction& iv,
           SimulationRecord& record) {
  int n = iv.points;
  if (n > MAX_NUM_CALCULATION_STEPS) {
    env.Error("Error from function calciv()",
              "There are more than MAX_NUM_CALCULATION_STEPS = " + std::to_string(MAX_NUM_CALCULATION_STEPS) +
                  " I(V) points to calculate");
    return 0;
  }
  if (n < 2) {
    // The step (stop − start)/(n − 1) needs two points at least.
    env.Error("Error from function calciv()",
              "There are fewer than 2 I(V) points to calculate (" + std::to_string(n) + " asked)");
    return 0;
  }
  IVResult& r = record.iv;
  for (std::vector<double>* a :
       {&r.v, &r.vCell, &r.j, &r.jbulk, &r.jifr, &r.js_n, &r.js_p, &r.jSRH, &r.jRadiative, &r.jAuger})
    a->assign(static_cast<std::size_t>(n), 0.0);
  r.state.assign(static_cast<std::size_t>(n), 0);
  r.present = 1;
  r.points = n;
  r.pointsDone = 0;
  r.colour = s.kleurindex;
  s.IVConvergenceFailure = 0;
  iv.pointsDone = 0;

  const double start = iv.startV, stop = iv.stopV;
  const double dV = (stop - start) / (n - 1);
  for (int i = 0; i < n; ++i) r.vCell[i] = start + i * dV;
  // Past Voc the current of a rising sweep turns positive; a falling sweep starts there.
  const bool stopAfterVoc = s.actieExtras.stopAfterVoc != 0 && stop > start;

  for (int i = 0; i < n && !s.IVConvergenceFailure; ++i) {
    const int go = Pause(s, env);
    if (go != 1) return go;
    StatusMessage(env, 1);
    if (env.ui)
      env.ui->StatusMessage(" iv from " + fix(start, 0, 3) + " to " + fix(stop, 0, 3) +
                            " Volt:    V = " + fix(r.vCell[i], 7, 3));
    // Point 0 is the starting point, already solved.
    if (i > 0)
      s.CONVERGENTIEFALING = volgende_iv_punt(cv, r.vCell[i - 1], r.vCell[i], 2, s.versieschatting);
    else
      s.CONVERGENTIEFALING = cv.teller == -1 ? 1 : 0;
    s.IVConvergenceFailure = s.CONVERGENTIEFALING;
    if (s.IVConvergenceFailure) {
      env.Error("While calculating I(V) ...",
                "Convergence failure at V = " + fix(r.vCell[i], 0, 6) +
                    " Volt.\nI(V) calculation cut at V = " + fix(i > 0 ? r.vCell[i - 1] : r.vCell[i], 0, 6) + " Volt.");
      break;
    }
    r.pointsDone = i + 1;
    r.state[i] = cv.pointState == kPointFailed ? kPointGummel : cv.pointState;
    const IVPointCurrents p = EvaluateIVPoint(cv, s.stroom);
    double J = p.j;
    r.v[i] = ApplyExternalCircuit(s.wp, r.vCell[i], J);
    r.j[i] = J;
    r.jbulk[i] = p.jbulk;
    r.jSRH[i] = p.jSRH;
    r.jRadiative[i] = p.jRadiative;
    r.jAuger[i] = p.jAuger;
    r.jifr[i] = p.jifr;
    r.js_n[i] = p.js_n;
    r.js_p[i] = p.js_p;
    if (stopAfterVoc && J > 0.0) {
      n = i + 1;
      break;
    }
  }
  // A sweep ended after Voc is a shorter sweep, not an interrupted one.
  if (n < r.points) {
    for (std::vector<double>* a :
         {&r.v, &r.vCell, &r.j, &r.jbulk, &r.jifr, &r.js_n, &r.js_p, &r.jSRH, &r.jRadiative, &r.jAuger})
      a->resize(static_cast<std::size_t>(n));
    r.state.resize(static_cast<std::size_t>(n));
    r.points = n;
  }
  iv.pointsDone = r.pointsDone;
  const std::span<const double> V(r.v.data(), static_cast<std::size_t>(r.pointsDone));
  const std::span<const double> J(r.j.data(), static_cast<std::size_t>(r.pointsDone));
  IVIllumination light = IlluminationOf(s.wp);
  light.bandGap = SmallestBandGap(cv);
  IVParameters(V, J, light, record.cell, &env);
  return 1;
}

}  // namespace zoniq
