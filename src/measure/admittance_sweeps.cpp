#include "measure/admittance_sweeps.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/format.hpp"
#include "measure/iv_parameters.hpp"
#include "measure/iv_sweep.hpp"
#include "measure/simulation_driver.hpp"
#include "solver/bias_stepping.hpp"

namespace zoniq {

int SelectEpsilonForMottSchottky(const CalculationParameters& par, MottSchottkySettings& ms) {
  double best = 1e99;
  bool found = false;
  int layer = 0, side = 1;
  for (int k = 0; k + 1 < par.nlayers; ++k) {
    const LayerCalcParameters& L = par.layer[static_cast<std::size_t>(k)];
    const LayerCalcParameters& R = par.layer[static_cast<std::size_t>(k + 1)];
    const double a = L.ND[1] - L.NA[1];
    const double b = R.ND[0] - R.NA[0];
    if (a * b <= 0.0) found = true;
    if (!found) continue;
    const double A = std::fabs(L.eps[1] * a);
    const double B = std::fabs(R.eps[0] * b);
    if (A >= best && B >= best) continue;
    if (B <= A) {
      layer = k + 1;
      side = -1;
      best = B;
    } else {
      layer = k;
      side = 1;
      best = A;
    }
  }
  const LayerCalcParameters& c = par.layer[static_cast<std::size_t>(layer)];
  const int edge = side == 1 ? 1 : 0;
  ms.spareReal = c.eps[static_cast<std::size_t>(edge)];
  ms.sheetNumber = layer;
  ms.sheetSide = side;
  return c.NA[static_cast<std::size_t>(edge)] < c.ND[static_cast<std::size_t>(edge)] ? 1 : 0;
}

bool PolyFit(std::span<const double> x, std::span<const double> y, int order, std::vector<double>& a) {
  const int n = static_cast<int>(std::min(x.size(), y.size()));
  a.assign(static_cast<std::size_t>(std::max(order, 0) + 1), 0.0);
  if (order < 0 || n < order + 1) return false;
  // Centred and scaled abscissa for a well-conditioned normal system; the coefficients are
  // transformed back afterwards.
  const double mean = std::accumulate(x.begin(), x.begin() + n, 0.0) / n;
  double span = 0.0;
  for (int i = 0; i < n; ++i) span = std::max(span, std::fabs(x[static_cast<std::size_t>(i)] - mean));
  if (!(span > 0.0)) return order == 0 ? (a[0] = std::accumulate(y.begin(), y.begin() + n, 0.0) / n, true) : false;
  const int m = order + 1;
  double M[8][9] = {};
  if (m > 8) return false;
  for (int i = 0; i < n; ++i) {
    const double t = (x[static_cast<std::size_t>(i)] - mean) / span;
    double pr[16];
    pr[0] = 1.0;
    for (int k = 1; k < 2 * m; ++k) pr[k] = pr[k - 1] * t;
    for (int r = 0; r < m; ++r) {
      for (int c = 0; c < m; ++c) M[r][c] += pr[r + c];
      M[r][m] += pr[r] * y[static_cast<std::size_t>(i)];
    }
  }
  for (int c = 0; c < m; ++c) {
    int p = c;
    for (int r = c + 1; r < m; ++r)
      if (std::fabs(M[r][c]) > std::fabs(M[p][c])) p = r;
    if (!(std::fabs(M[p][c]) > 0.0)) return false;
    for (int k = 0; k <= m; ++k) std::swap(M[c][k], M[p][k]);
    for (int r = 0; r < m; ++r) {
      if (r == c) continue;
      const double f = M[r][c] / M[c][c];
      for (int k = c; k <= m; ++k) M[r][k] -= f * M[c][k];
    }
  }
  // b_k in t = (x − mean)/span; expand Σ b_k t^k into powers of x.
  std::vector<double> b(static_cast<std::size_t>(m));
  for (int k = 0; k < m; ++k) b[static_cast<std::size_t>(k)] = M[k][m] / M[k][k];
  for (int k = 0; k < m; ++k) {
    // (x − mean)^k / span^k = Σ_j C(k, j) x^j (−mean)^(k−j) / span^k
    double binom = 1.0;
    for (int j = 0; j <= k; ++j) {
      if (j > 0) binom = binom * (k - j + 1) / j;
      a[static_cast<std::size_t>(j)] +=
          b[static_cast<std::size_t>(k)] * binom * std::pow(-mean, k - j) / std::pow(span, k);
    }
  }
  return true;
}

void ApparentDoping(std::span<const double> V, std::span<const double> C, double epsilonR,
                    const MottSchottkySettings& ms, std::vector<double>& W, std::vector<double>& N) {
  const int n = static_cast<int>(std::min(V.size(), C.size()));
  W.assign(static_cast<std::size_t>(n), 0.0);
  N.assign(static_cast<std::size_t>(n), 0.0);
  const int m = ms.numberOfPoints;
  if (m < 2 || n <= m) return;
  std::vector<double> x(static_cast<std::size_t>(m)), y(static_cast<std::size_t>(m)), a;
  for (int i = 0; i < n; ++i) {
    const double Ci = C[static_cast<std::size_t>(i)];
    W[static_cast<std::size_t>(i)] = Ci != 0.0 ? 8.854e-6 * epsilonR / Ci : 0.0;
    int from = i - m / 2, order = ms.orderMiddle;
    if (i < m / 2) {
      from = 0;
      order = ms.orderEdges;
    } else if (i >= n - m / 2) {
      from = n - m;
      order = ms.orderEdges;
    }
    for (int k = 0; k < m; ++k) {
      const auto j = static_cast<std::size_t>(from + k);
      x[static_cast<std::size_t>(k)] = V[j];
      y[static_cast<std::size_t>(k)] = C[j] != 0.0 ? 1.0 / (C[j] * C[j]) : 0.0;
    }
    if (!PolyFit(x, y, std::min(order, m - 1), a)) continue;
    const double Vi = V[static_cast<std::size_t>(i)];
    double D = 0.0;
    for (std::size_t k = 1; k < a.size(); ++k)
      D += static_cast<double>(k) * a[k] * std::pow(Vi, static_cast<double>(k - 1));
    if (D != 0.0) N[static_cast<std::size_t>(i)] = -2e-6 / (D * epsilonR * 1.602e-19 * 8.854e-12);
  }
}

int CellAdmittance(SimulationState& s, CalculationVariables& cv, double omega, Complex& Y, std::string& message) {
  if (bereken_klein_signaal(cv, omega, s.acWork, s.ac, message) != 0) {
    s.acValid = 0;
    return -1;
  }
  s.acValid = 1;
  s.acOmega = omega;
  s.acBias = PresentBias(cv);
  Y = ExternalAdmittance(s.ac.Y, s.wp.RshPresent != 0, s.wp.Gsh, s.wp.RsPresent != 0, s.wp.Rs);
  return 0;
}

namespace {

void Status(const Environment& env, const std::string& text) {
  if (env.ui) env.ui->StatusMessage(text);
}

// The C-V sweep's DC points merged into the record's I-V curve: every I-V point is kept, a C-V
// point within 1e-5 V of one of them is left out, the rest are added; sorted by cell voltage.
void MergeIVAndCV(SimulationRecord& record, const std::vector<double>& vCell, const std::vector<IVPointCurrents>& dc,
                  const std::vector<double>& vTerminal, const SimulationState& s, const Environment& env) {
  IVResult& iv = record.iv;
  struct Row {
    double vCell, v, j, jbulk, jifr, js_n, js_p, jSRH, jRad, jAuger;
  };
  std::vector<Row> rows;
  const int nIV = iv.present ? iv.pointsDone : 0;
  for (int i = 0; i < nIV; ++i) {
    const auto k = static_cast<std::size_t>(i);
    rows.push_back({iv.vCell[k], iv.v[k], iv.j[k], iv.jbulk[k], iv.jifr[k], iv.js_n[k], iv.js_p[k], iv.jSRH[k],
                    iv.jRadiative[k], iv.jAuger[k]});
  }
  for (std::size_t i = 0; i < dc.size(); ++i) {
    bool present = false;
    for (int k = 0; k < nIV && !present; ++k)
      present = std::fabs(iv.vCell[static_cast<std::size_t>(k)] - vCell[i]) < 1e-5;
    if (present) continue;
    const IVPointCurrents& p = dc[i];
    rows.push_back({vCell[i], vTerminal[i], p.j, p.jbulk, p.jifr, p.js_n, p.js_p, p.jSRH, p.jRadiative, p.jAuger});
  }
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.vCell < b.vCell; });
  const std::size_t n = rows.size();
  for (std::vector<double>* a :
       {&iv.v, &iv.vCell, &iv.j, &iv.jbulk, &iv.jifr, &iv.js_n, &iv.js_p, &iv.jSRH, &iv.jRadiative, &iv.jAuger})
    a->resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const Row& r = rows[k];
    iv.vCell[k] = r.vCell;
    iv.v[k] = r.v;
    iv.j[k] = r.j;
    iv.jbulk[k] = r.jbulk;
    iv.jifr[k] = r.jifr;
    iv.js_n[k] = r.js_n;
    iv.js_p[k] = r.js_p;
    iv.jSRH[k] = r.jSRH;
    iv.jRadiative[k] = r.jRad;
    iv.jAuger[k] = r.jAuger;
  }
  if (!iv.present) iv.colour = s.kleurindex;
  iv.present = n > 0 ? 1 : 0;
  iv.points = iv.pointsDone = static_cast<int>(n);
  if (n > 0)
    IVParameters(std::span<const double>(iv.v.data(), n), std::span<const double>(iv.j.data(), n), IlluminationOf(s.wp),
                 record.cell, &env);
}

}  // namespace

int calccv(SimulationState& s, const Environment& env, CalculationVariables& cv, VoltageSweepAction& action,
           SimulationRecord& record, MottSchottkySettings& ms) {
  const int n = action.points;
  if (n > MAX_NUM_CALCULATION_STEPS) {
    env.Error("Error in function calccv()",
              "There are more than MAX_NUM_CALCULATION_STEPS = " + std::to_string(MAX_NUM_CALCULATION_STEPS) +
                  " C(V) points to calculate");
    return 0;
  }
  if (n < 2) {
    env.Error("Error in function calccv()",
              "There are fewer than 2 C(V) points to calculate (" + std::to_string(n) + " asked)");
    return 0;
  }
  const CalculationParameters& par = *cv.par;
  if (ms.sheetNumber < 0 || ms.sheetNumber >= par.nlayers) SelectEpsilonForMottSchottky(par, ms);

  CVResult& r = record.cv;
  const auto size = static_cast<std::size_t>(n);
  for (std::vector<double>* a : {&r.v, &r.C, &r.G, &r.W, &r.Napp, &r.jtot, &r.jbulk, &r.jifr, &r.jopp_n, &r.jopp_p})
    a->assign(size, 0.0);
  r.present = 1;
  r.points = n;
  r.pointsDone = 0;
  r.colour = s.kleurindex;
  r.frequency = s.wp.frequency;
  r.epsilon = ms.spareReal;
  r.epsilonSide = ms.sheetSide;
  r.epsilonLayer = ms.sheetNumber + 1;
  r.epsilonLayerName = par.cell.layer[static_cast<std::size_t>(std::clamp(ms.sheetNumber, 0, MAXLAYERS - 1))].name;
  s.CVConvergenceFailure = 0;
  action.pointsDone = 0;

  const double omega = kTwoPi * s.wp.frequency;
  const double start = action.startV, stop = action.stopV;
  std::vector<double> vCell(size), vTerminal;
  std::vector<IVPointCurrents> dc;
  for (int i = 0; i < n; ++i) vCell[static_cast<std::size_t>(i)] = start + i * (stop - start) / (n - 1);

  for (int i = 0; i < n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const int go = Pause(s, env);
    if (go != 1) return go;
    StatusMessage(env, 1);
    if (i > 0) {
      s.CONVERGENTIEFALING = volgende_iv_punt(cv, vCell[k - 1], vCell[k], 2, s.versieschatting);
    } else {
      s.CONVERGENTIEFALING = cv.teller == -1 ? 1 : 0;
    }
    std::string failure;
    if (!s.CONVERGENTIEFALING) {
      Complex Y;
      if (CellAdmittance(s, cv, omega, Y, failure) == 0) {
        r.C[k] = Y.imag() / omega;
        r.G[k] = Y.real();
      } else {
        s.CONVERGENTIEFALING = 1;
      }
    }
    if (s.CONVERGENTIEFALING) {
      s.CVConvergenceFailure = 1;
      env.Error("While calculating C(V)...",
                "Convergence failure at V = " + fix(vCell[k], 0, 6) + " Volt\nC(V) calculation cut at V = " +
                    fix(i > 0 ? vCell[k - 1] : vCell[k], 0, 6) + " Volt" + (failure.empty() ? "" : "\n" + failure));
      break;
    }
    r.pointsDone = i + 1;
    const IVPointCurrents p = EvaluateIVPoint(cv, s.stroom);
    double J = p.j;
    r.v[k] = vCell[k];
    vTerminal.push_back(ApplyExternalCircuit(s.wp, vCell[k], J));
    IVPointCurrents merged = p;
    merged.j = J;
    dc.push_back(merged);
    r.jtot[k] = J;
    r.jbulk[k] = p.jbulk;
    r.jifr[k] = p.jifr;
    r.jopp_n[k] = p.js_n;
    r.jopp_p[k] = p.js_p;
    Status(env, "Calculating C(V) at " + sci(s.wp.frequency, 8, 2) + " Hz from " + fix(start, 0, 3) + " V to " +
                    fix(stop, 0, 3) + " V: V = " + fix(vCell[k], 0, 3) + " Volt");
  }
  action.pointsDone = r.pointsDone;
  std::vector<double> vDone(vCell.begin(), vCell.begin() + r.pointsDone);
  MergeIVAndCV(record, vDone, dc, vTerminal, s, env);

  // N(W) from the capacitance in F/m², then the units of the record.
  const auto done = static_cast<std::size_t>(r.pointsDone);
  std::vector<double> W, N;
  ApparentDoping(std::span<const double>(r.v.data(), done), std::span<const double>(r.C.data(), done), ms.spareReal, ms,
                 W, N);
  std::copy(W.begin(), W.end(), r.W.begin());
  std::copy(N.begin(), N.end(), r.Napp.begin());
  for (std::size_t k = 0; k < done; ++k) {
    r.C[k] *= 1e5;
    r.G[k] *= 1e-4;
  }
  return 1;
}

int calccf(SimulationState& s, const Environment& env, CalculationVariables& cv, FrequencySweepAction& action,
           SimulationRecord& record) {
  if (cv.teller == -1) {
    s.CfConvergenceFailure = 1;
    return 0;
  }
  s.CfConvergenceFailure = 0;
  const int n = action.points;
  if (n < 2 || n > MAX_NUM_CALCULATION_STEPS || !(action.startF > 0.0) || !(action.stopF > 0.0)) {
    env.Error("Error in function calccf()", "The C(f) sweep needs 2 to " + std::to_string(MAX_NUM_CALCULATION_STEPS) +
                                                " points and positive frequencies (" + std::to_string(n) +
                                                " points from " + sci(action.startF, 0, 2) + " Hz to " +
                                                sci(action.stopF, 0, 2) + " Hz asked)");
    s.CfConvergenceFailure = 1;
    return 0;
  }
  CfResult& r = record.cf;
  const auto size = static_cast<std::size_t>(n);
  for (std::vector<double>* a : {&r.f, &r.C, &r.G, &r.Zre, &r.Zim, &r.Zmagn, &r.Zphase}) a->assign(size, 0.0);
  r.present = 1;
  r.points = n;
  r.pointsDone = 0;
  r.colour = s.kleurindex;
  r.biasVoltage = PresentBias(cv);
  action.pointsDone = 0;
  const double l0 = std::log10(action.startF), l1 = std::log10(action.stopF);
  for (int i = 0; i < n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    r.f[k] = std::pow(10.0, ((n - 1 - i) * l0 + i * l1) / (n - 1));
    if (i > 0) {
      const int go = Pause(s, env);
      if (go != 1) return go;
    }
    StatusMessage(env, 1);
    const double omega = kTwoPi * r.f[k];
    Complex Y;
    std::string failure;
    if (CellAdmittance(s, cv, omega, Y, failure) != 0) {
      s.CfConvergenceFailure = 1;
      env.Error("While calculating C(f)...", failure);
      break;
    }
    r.pointsDone = i + 1;
    r.C[k] = Y.imag() / omega * 1e5;
    r.G[k] = std::max(Y.real() * 1e-4, 1e-12);
    if (Y != Complex(0.0, 0.0)) {
      const Complex Z = 1.0 / Y;
      r.Zre[k] = Z.real() * 1e4;
      r.Zim[k] = Z.imag() * 1e4;
      r.Zmagn[k] = std::abs(Z) * 1e4;
      r.Zphase[k] = std::arg(Z) * 57.29577951308232;
    }
    Status(env, "Calculating C(f) at " + fix(r.biasVoltage, 0, 3) + " V from " + sci(action.startF, 8, 2) + " Hz to " +
                    sci(action.stopF, 8, 2) + " Hz: f = " + sci(r.f[k], 8, 2) + " Hz");
  }
  action.pointsDone = r.pointsDone;
  return 1;
}

}  // namespace zoniq
