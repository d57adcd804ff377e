#include "solver/tunneling.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/call_counts.hpp"
#include "solver/gummel.hpp"

namespace zoniq {

namespace {

constexpr double kPlanck = 6.6256e-34;        // [J·s]
constexpr double kElectronMass = 9.1095e-31;  // [kg]
// Energy slices are at most this high [kT]: the slice integrand e^(−E−θ(E)) is taken at the
// slice's middle, and finer slices keep that midpoint rule accurate where the band falls by
// several kT over one interval.
constexpr double kMaxSlice = 0.25;
// The walk into the barrier stops when what the remaining energies can still add falls below
// this fraction of the sum so far.
constexpr double kWalkStop = 1e-6;

}  // namespace

double ChooseTunnelMass(double m1, double m2, int choice) {
  switch (choice) {
    case 1:
      return std::max(m1, m2);
    case 2:
      return 0.5 * (m1 + m2);
    case 3:
      return std::sqrt(m1 * m2);
    case 4:
      return m1 * m2 / (m1 + m2);
    default:
      return std::min(m1, m2);
  }
}

double WkbCoefficient(double L, double Vt) {
  return L * 2.0 * std::numbers::pi * std::sqrt(8.0) / (1.5 * kPlanck) * std::sqrt(Vt * kQ * kElectronMass);
}

double WkbIntervalTerm(double h, double A, double B) {
  if (A < 0.0 && B < 0.0) return 0.0;
  if (A >= 0.0 && B >= 0.0) {
    const double a = std::sqrt(A), b = std::sqrt(B);
    const double s = a + b;
    return s > 0.0 ? h * (A + a * b + B) / s : 0.0;
  }
  // Partly crossed: the band falls below E inside the interval.
  const double top = std::max(A, B), bottom = std::min(A, B);
  return h * top * std::sqrt(top) / (top - bottom);
}

double WkbExponent(const WkbProfile& p, double mStart, int s, int k, int dir, double E) {
  double sum = 0.0;
  for (int j = s; j != k; j += dir) {
    const int a = j, b = j + dir;
    const int idx = std::min(a, b);
    const double term = WkbIntervalTerm(p.h[idx], p.band[a] - E, p.band[b] - E);
    if (term > 0.0) sum += std::sqrt(ChooseTunnelMass(mStart, p.mass[idx], p.choice)) * term;
  }
  return p.coef * sum;
}

double TrapTunnelWeights(const WkbProfile& p, int s, int dir, int kStop, double Et, double mStart, double threshold,
                         std::span<double> weight, int& kEnd) {
  kEnd = s;
  if ((kStop - s) * dir <= 0) return 0.0;
  for (int k = s + dir; k != kStop + dir; k += dir) weight[k] = 0.0;
  const double top = p.band[s];
  // The lowest band on the walk, not below the trap: the carriers tunnel at the energies above.
  double lowest = top;
  for (int k = s + dir; k != kStop + dir; k += dir) lowest = std::min(lowest, p.band[k]);
  const double floor = std::max(lowest, Et);
  if (top - floor <= threshold) return 0.0;
  double Ehi = top, sum = 0.0;
  for (int k = s + dir; k != kStop + dir; k += dir) {
    // A point at or above the lowest band reached so far starts no energy: its carriers are
    // already counted at the lower energies of an earlier point (round-off humps included).
    if (p.band[k] >= Ehi) continue;
    const double bottom = std::max(p.band[k], floor);
    const double drop = Ehi - bottom;
    const int n = std::max(1, static_cast<int>(std::ceil(drop / kMaxSlice)));
    const double height = drop / n;
    double wk = 0.0;
    bool done = false;
    for (int q = 0; q < n; ++q) {
      const double Elo = Ehi - (q + 1) * height, Emid = Elo + 0.5 * height;
      const double dw = height * std::exp(top - Emid - WkbExponent(p, mStart, s, k, dir, Emid));
      wk += dw;
      sum += dw;
      if ((Elo - floor) * dw / height < kWalkStop * sum) {
        done = true;
        break;
      }
    }
    weight[k] = wk;
    if (wk > 0.0) kEnd = k;
    Ehi = bottom;
    if (done || bottom <= floor) break;
  }
  return sum;
}

namespace {

// One carrier as the tunnelling mechanisms see it.
struct TunnelCarrier {
  bool electrons = true;
  CarrierTunnelState* t = nullptr;
  const double* X = nullptr;   // u or v
  const double* X0 = nullptr;  // their offsets
  const double* N = nullptr;   // Nn or Np
  const double* E = nullptr;   // e^ψ (electrons) or e^−ψ (holes): D = N·E
  const double* mu = nullptr;  // transport coefficients
  const double* mass = nullptr;
};

TunnelCarrier CarrierOf(CalculationVariables& cv, int carrier) {
  TunnelCarrier c;
  c.electrons = carrier == kElectrons;
  c.t = c.electrons ? &cv.tunnel.n : &cv.tunnel.p;
  c.X = c.electrons ? cv.u.data() : cv.v.data();
  c.X0 = c.electrons ? cv.u0.data() : cv.v0.data();
  c.N = c.electrons ? cv.pt.Nn.data() : cv.pt.Np.data();
  c.E = c.electrons ? cv.Eplus.data() : cv.Emin.data();
  c.mu = c.electrons ? cv.pt.mu_n.data() : cv.pt.mu_p.data();
  c.mass = c.electrons ? cv.pt.me.data() : cv.pt.mh.data();
  return c;
}

// The band profile in kT: the conduction band edge for electrons, the valence band edge
// mirrored for holes (so that a barrier for either carrier lies above its energy). With
// D = Nn·e^ψ = NC·e^(−E_b) (and the mirror for holes).
void BandProfile(const CalculationVariables& cv, const TunnelCarrier& c, std::vector<double>& Eb) {
  const double Vt = cv.Vt();
  const double PhiL = cv.par->Fi_left;
  const int N = cv.mesh.N;
  for (int i = 0; i < N; ++i) {
    const double ec = (PhiL - cv.pt.chi[i]) / Vt - cv.psi[i];
    Eb[i] = c.electrons ? ec : -(ec - cv.pt.Eg[i] / Vt);
  }
}

int LayerOfPoint(const CalculationVariables& cv, int i) {
  for (int l = 0; l < cv.par->nlayers; ++l)
    if (i <= cv.mesh.last[l]) return l;
  return cv.par->nlayers - 1;
}

enum class RowKind { kContact, kInterfaceLeft, kInterfaceRight, kInterior };

RowKind KindOf(const CalculationVariables& cv, int i, int l) {
  if (i == 0 || i == cv.mesh.N - 1) return RowKind::kContact;
  if (l > 0 && i == cv.mesh.first[l]) return RowKind::kInterfaceRight;
  if (l + 1 < cv.par->nlayers && i == cv.mesh.last[l]) return RowKind::kInterfaceLeft;
  return RowKind::kInterior;
}

double Kappa(const CalculationVariables& cv, const TunnelCarrier& c, int l) {
  return c.electrons ? cv.par->interface[l].kappa_n : cv.par->interface[l].kappa_p;
}

// The factor with which a particle flux that arrives at point i (in units of the density scale
// of i's layer l) enters the continuity residual of row i.
double RowScale(const CalculationVariables& cv, const TunnelCarrier& c, int i, int l) {
  const double* h = cv.mesh.h.data();
  const double D = c.N[i] * c.E[i];
  switch (KindOf(cv, i, l)) {
    case RowKind::kInterfaceLeft:
      return 2.0 * h[i - 1] / (c.mu[i - 1] + c.mu[i]) / D;
    case RowKind::kInterfaceRight:
      return 2.0 * h[i] / (c.mu[i] + c.mu[i + 1]) / D;
    case RowKind::kInterior: {
      const double mubar = 0.5 * (c.mu[cv.mesh.first[l]] + c.mu[cv.mesh.last[l]]);
      return 0.5 * (h[i - 1] + h[i]) / (D * mubar);
    }
    case RowKind::kContact:
      break;
  }
  return 0.0;
}

// Adds a particle flux `amount` arriving at point i (in units of i's layer) to the row of i
// where the interval arrays do not reach it: the two rows of an interface read the tunnelling
// corrections instead of the interval currents. At interior rows the interval arrays carry it.
void AddArrival(const CalculationVariables& cv, const TunnelCarrier& c, int i, int l, double amount) {
  switch (KindOf(cv, i, l)) {
    case RowKind::kInterfaceLeft: {
      // −(X_l + w_p − w_f)·tp·κ: an extra outflow κ·D_p·X_l.
      c.t->ifaceLeft[l] -= amount / (Kappa(cv, c, l) * c.N[i] * c.E[i]);
      break;
    }
    case RowKind::kInterfaceRight: {
      const int p = i - 1, li = l - 1;
      const double r = (c.N[p] / c.N[i]) * (cv.par->schaal.S[li] / cv.par->schaal.S[l]);
      c.t->ifaceRight[li] += amount / (Kappa(cv, c, li) * r * c.N[i] * c.E[i]);
      break;
    }
    case RowKind::kInterior:
    case RowKind::kContact:
      break;
  }
}

// One family of tunnelling paths from a start point s in direction dir: the energies run down
// from Ehi0 to `floor`, and the end point k of a path walks from kFirst to kLast.
struct Walk {
  int s = 0, dir = 1, kFirst = 0, kLast = 0;
  double Ehi0 = 0.0, floor = 0.0;
  double P = 0.0, EP = 0.0;  // prefactor (in units of startLayer's density scale) and its band value
  double mStart = 1.0;       // relative mass of the start
  bool deviceStart = false;  // a device point (its X is a variable) or the metal (X fixed)
  bool pointEnd = false;     // the path ends at the point k itself (through a whole region)
  double Xs = 0.0;           // the metal's X
  int startLayer = 0;        // the layer whose density scale P and the flux are counted in
};

// The flux of the paths that end in the interval (k − dir, k), Φ = dir·C·(Xs − X̄_end): added
// to every interval between s and k, arriving at k and, for a device start, leaving s; with
// the Jacobian entries of both rows (J = −∂F/∂X).
void AddPath(CalculationVariables& cv, const TunnelCarrier& c, const Walk& w, int k, double C) {
  const Schaal& sc = cv.par->schaal;
  const int s = w.s, dir = w.dir;
  const double Xs = w.deviceStart ? c.X0[s] + c.X[s] : w.Xs;
  // A path that ends on a band step at an interface (an interval of zero width) ends at the
  // point across the step: the double point on the barrier side carries the barrier's own,
  // ill-defined quasi-Fermi level.
  const bool pointEnd = w.pointEnd || cv.mesh.h[std::min(k, k - dir)] == 0.0;
  const double Xend = pointEnd ? c.X0[k] + c.X[k] : 0.5 * ((c.X0[k - dir] + c.X[k - dir]) + (c.X0[k] + c.X[k]));
  const double phi = dir * C * (Xs - Xend);
  const double SP = sc.S[w.startLayer];
  const int lo = std::min(s, k), hi = std::max(s, k);
  int l = LayerOfPoint(cv, lo);
  for (int j = lo; j < hi; ++j) {
    while (j > cv.mesh.last[l]) ++l;
    c.t->current[j] += phi * SP / sc.S[l];
  }
  const int lk = LayerOfPoint(cv, k);
  const double rk = SP / sc.S[lk];
  AddArrival(cv, c, k, lk, dir * phi * rk);
  const double ek = RowScale(cv, c, k, lk) * rk * C;
  if (pointEnd) {
    c.t->sparse.push_back({k, k, ek});
  } else {
    c.t->sparse.push_back({k, k, 0.5 * ek});
    c.t->sparse.push_back({k, k - dir, 0.5 * ek});
  }
  if (!w.deviceStart) return;
  c.t->sparse.push_back({k, s, -ek});
  const int ls = LayerOfPoint(cv, s);
  const double rs = SP / sc.S[ls];
  AddArrival(cv, c, s, ls, -dir * phi * rs);
  const double es = RowScale(cv, c, s, ls) * rs * C;
  c.t->sparse.push_back({s, s, es});
  if (pointEnd) {
    c.t->sparse.push_back({s, k, -es});
  } else {
    c.t->sparse.push_back({s, k, -0.5 * es});
    c.t->sparse.push_back({s, k - dir, -0.5 * es});
  }
}

// Walks the end point into the barrier. At every point below the lowest band value reached so
// far, the energies between that value and the point's (not below the floor) are cut into
// slices; each slice tunnels to the interval just reached, where its energy meets the band.
void WalkPaths(CalculationVariables& cv, const TunnelCarrier& c, const WkbProfile& profile, const Walk& w) {
  const std::vector<double>& Eb = c.t->band;
  double Ehi = w.Ehi0;
  double sum = 0.0;
  for (int k = w.kFirst; k != w.kLast + w.dir; k += w.dir) {
    if (Eb[k] >= Ehi) continue;  // a point at or above the lowest value so far gives no slice
    const double bottom = std::max(Eb[k], w.floor);
    const double drop = Ehi - bottom;
    const int n = std::max(1, static_cast<int>(std::ceil(drop / kMaxSlice)));
    const double height = drop / n;
    double C = 0.0;
    bool done = false;
    for (int q = 0; q < n; ++q) {
      const double Etop = Ehi - q * height, Elo = Etop - height, Emid = Etop - 0.5 * height;
      const double dp = height * std::exp(w.EP - Emid - WkbExponent(profile, w.mStart, w.s, k, w.dir, Emid));
      C += dp;
      sum += dp;
      // What the energies below can still add is at most (Elo − floor)·dp/height.
      if ((Elo - w.floor) * dp / height < kWalkStop * sum) {
        done = true;
        break;
      }
    }
    Ehi = bottom;
    if (C > 0.0) AddPath(cv, c, w, k, w.P * C);
    if (done || bottom <= w.floor) break;
  }
}

WkbProfile ProfileOf(const CalculationVariables& cv, const TunnelCarrier& c) {
  const std::size_t N = static_cast<std::size_t>(cv.mesh.N);
  return WkbProfile{std::span<const double>(c.t->band.data(), N), std::span<const double>(cv.mesh.h.data(), N),
                    std::span<const double>(c.mass, N), WkbCoefficient(cv.par->schaal.L, cv.par->Vt),
                    cv.par->convergence.TunnelMassChoice};
}

}  // namespace

void BandProfileOf(const CalculationVariables& cv, int carrier, std::span<double> band) {
  const double Vt = cv.Vt();
  const double PhiL = cv.par->Fi_left;
  const bool electrons = carrier == kElectrons;
  for (int i = 0; i < cv.mesh.N; ++i) {
    const double ec = (PhiL - cv.pt.chi[i]) / Vt - cv.psi[i];
    band[i] = electrons ? ec : -(ec - cv.pt.Eg[i] / Vt);
  }
}

double interfaceTrapTunneling(const CalculationVariables& cv, int carrier, std::span<const double> band, int l, int dir,
                              double Et, double mStart, std::span<double> weight, int& kEnd) {
  CountCall(cv, CallCounter::interfaceTrapTunneling);
  const int layer = dir > 0 ? l + 1 : l;
  const int s = dir > 0 ? cv.mesh.first[layer] : cv.mesh.last[layer];
  // The interior points of the layer: its other end is a contact or an interface point, whose
  // row takes no interval currents.
  const int kStop = dir > 0 ? cv.mesh.last[layer] - 1 : cv.mesh.first[layer] + 1;
  const std::size_t N = static_cast<std::size_t>(cv.mesh.N);
  const double* mass = carrier == kElectrons ? cv.pt.me.data() : cv.pt.mh.data();
  const WkbProfile p{band.first(N), std::span<const double>(cv.mesh.h.data(), N), std::span<const double>(mass, N),
                     WkbCoefficient(cv.par->schaal.L, cv.par->Vt), cv.par->convergence.TunnelMassChoice};
  return TrapTunnelWeights(p, s, dir, kStop, Et, mStart, cv.par->convergence.tunnelBarrierThreshold, weight, kEnd);
}

void tunnelingToContacts(CalculationVariables& cv, int contact, int carrier) {
  CountCall(cv, CallCounter::tunnelingToContacts);
  const CalculationParameters& par = *cv.par;
  const ContactParameters& cp = contact < 0 ? par.cell.leftContact : par.cell.rightContact;
  if (cp.tunneling == 0) return;
  const int N = cv.mesh.N;
  if (N < 4) return;
  cv.tunnel.present = 1;
  TunnelCarrier c = CarrierOf(cv, carrier);
  std::vector<double>& Eb = c.t->band;
  BandProfile(cv, c, Eb);
  Walk w;
  w.s = contact < 0 ? 0 : N - 1;
  w.dir = contact < 0 ? 1 : -1;
  // The far contact is no end point: the walk stays inside the device and ends at the lowest
  // band value beyond the barrier.
  const int stop = contact < 0 ? N - 1 : 0;
  int e = w.s;
  for (int k = w.s + w.dir; k != stop; k += w.dir)
    if (Eb[k] < Eb[e]) e = k;
  if (e == w.s || Eb[w.s] - Eb[e] <= par.convergence.tunnelBarrierThreshold) return;
  const double v =
      c.electrons ? (contact < 0 ? par.Sn_left : par.Sn_right) : (contact < 0 ? par.Sp_left : par.Sp_right);
  if (!(v > 0.0)) return;
  // The path starts in the metal: P = S·D at the contact point.
  w.P = v * c.N[w.s] * c.E[w.s];
  w.EP = Eb[w.s];
  w.Ehi0 = Eb[w.s];
  w.floor = Eb[e];
  w.kFirst = w.s + w.dir;
  w.kLast = e;
  w.mStart = c.electrons ? cp.me_rel : cp.mh_rel;
  w.deviceStart = false;
  // The metal's carrier value u0 + u = 1 (left) or uR (right); v0 + v = 1 or 1/uR.
  w.Xs = c.electrons ? (contact < 0 ? 1.0 : cv.uR) : (contact < 0 ? 1.0 : 1.0 / cv.uR);
  w.startLayer = contact < 0 ? 0 : par.nlayers - 1;
  WalkPaths(cv, c, ProfileOf(cv, c), w);
}

// Energy steps of tunnelling through a whole region between two interfaces [kT]: the
// integrand e^(−E−θ(E)) changes by a factor of about e^(2·step) per step, and the midpoint rule
// is then low by (2·step)²/24 (1.7e-3 at 0.1 kT, 7e-5 here).
constexpr double kRegionStep = 0.02;

void CalculateTunnelIfaceToIface(CalculationVariables& cv, int carrier, int l, int j) {
  CountCall(cv, CallCounter::CalculateTunnelIfaceToIface);
  const CalculationParameters& par = *cv.par;
  if (!(l < j)) return;
  TunnelCarrier c = CarrierOf(cv, carrier);
  const std::vector<double>& Eb = c.t->band;
  const int pl = cv.mesh.last[l], fl = cv.mesh.first[l + 1];
  const int pj = cv.mesh.last[j], fj = cv.mesh.first[j + 1];
  // The band rises at l and falls at j: the region between is a barrier.
  if (!(Eb[fl] > Eb[pl] && Eb[pj] > Eb[fj])) return;
  double lowest = Eb[fl], highest = Eb[fl];
  for (int i = fl; i <= pj; ++i) {
    lowest = std::min(lowest, Eb[i]);
    highest = std::max(highest, Eb[i]);
  }
  // Energies below the whole region, above the band on both outer sides.
  const double Elo = std::max(Eb[pl], Eb[fj]);
  if (!(lowest > Elo) || highest - Elo <= par.convergence.tunnelBarrierThreshold) return;
  cv.tunnel.present = 1;
  const WkbProfile profile = ProfileOf(cv, c);
  const InterfaceParameters& I = par.cell.interface[l];
  const double mStart = c.electrons ? I.me_rel : I.mh_rel;
  const int n = std::max(1, static_cast<int>(std::ceil((lowest - Elo) / kRegionStep)));
  const double step = (lowest - Elo) / n;
  const double EP = std::max(Eb[pl], Eb[fl]);
  double sum = 0.0;
  for (int q = 0; q < n; ++q) {
    const double E = Elo + (q + 0.5) * step;
    sum += step * std::exp(EP - E - WkbExponent(profile, mStart, pl, fj, 1, E));
  }
  if (!(sum > 0.0)) return;
  Walk w;
  w.s = pl;
  w.dir = 1;
  w.deviceStart = true;
  w.pointEnd = true;
  w.startLayer = l;
  const double kappa = c.electrons ? par.interface[l].kappa_n : par.interface[l].kappa_p;
  AddPath(cv, c, w, fj, kappa * c.N[pl] * c.E[pl] * sum);
}

// Energy slices of bulk-to-bulk tunnelling are at most this high [kT].
constexpr double kBulkSlice = 1.0;

// Whether the interface mechanisms already count a bulk-to-bulk path from i to j at energy E,
// so that a barrier whose interfaces and layers both tunnel is crossed once, not twice. A path
// across one interface with intraband tunnelling on, at or above the lower of its two band
// values, is a path of that interface's intraband tunnelling (which walks into the layer
// across); a path across several interfaces, at or above the lower band value at the first
// and at the last of them, both with intraband tunnelling on, is one of the tunnelling through
// the whole region between them. Paths below those band values (through the band bending of a
// layer and then the interface) belong to bulk-to-bulk tunnelling alone.
bool CountedByInterfaces(const CalculationVariables& cv, const std::vector<double>& Eb, int i, int j, double E) {
  const CalculationParameters& par = *cv.par;
  int firstCrossed = -1, lastCrossed = -1;
  for (int m = 0; m + 1 < par.nlayers; ++m)
    if (i <= cv.mesh.last[m] && j >= cv.mesh.first[m + 1]) {
      if (firstCrossed < 0) firstCrossed = m;
      lastCrossed = m;
    }
  if (firstCrossed < 0) return false;
  auto covers = [&](int m) {
    return par.cell.interface[m].intrabandTunneling != 0 &&
           E >= std::min(Eb[cv.mesh.last[m]], Eb[cv.mesh.first[m + 1]]);
  };
  return covers(firstCrossed) && covers(lastCrossed);
}

void CalculateTunnelBulkToBulk(CalculationVariables& cv, int carrier) {
  const CalculationParameters& par = *cv.par;
  const int N = cv.mesh.N;
  TunnelCarrier c = CarrierOf(cv, carrier);
  const std::vector<double>& Eb = c.t->band;
  const WkbProfile profile = ProfileOf(cv, c);
  for (int l = 0; l < par.nlayers; ++l) {
    if (par.cell.layer[l].tunneling == 0) continue;
    cv.tunnel.present = 1;
    const double* vth = c.electrons ? cv.pt.vth_n.data() : cv.pt.vth_p.data();
    // Every rising interval (i, i+1) whose start lies in this layer: the energies of the rise
    // enter the barrier there and tunnel to where the band falls back to them.
    for (int i = std::max(cv.mesh.first[l], 1); i <= cv.mesh.last[l] && i + 1 <= N - 2; ++i) {
      if (!(Eb[i + 1] > Eb[i])) continue;
      const double rise = Eb[i + 1] - Eb[i];
      const int n = std::max(1, static_cast<int>(std::ceil(rise / kBulkSlice)));
      const double height = rise / n;
      Walk w;
      w.s = i;
      w.dir = 1;
      w.deviceStart = true;
      w.startLayer = l;
      w.mStart = c.mass[i];
      w.P = vth[i] * c.N[i] * c.E[i];
      w.EP = Eb[i];
      // Slices that end in the same interval share one path (their fluxes add).
      int jPath = -1;
      double C = 0.0;
      for (int q = 0; q < n; ++q) {
        const double E = Eb[i] + (q + 0.5) * height;
        // The far turning point: the first point back at or below E; the band must rise more
        // than the threshold above E on the way.
        double top = Eb[i + 1];
        int j = i + 2;
        for (; j <= N - 2 && Eb[j] > E; ++j) top = std::max(top, Eb[j]);
        if (j > N - 2 || top - E <= par.convergence.tunnelBarrierThreshold) continue;
        if (CountedByInterfaces(cv, Eb, i, j, E)) continue;
        if (j != jPath) {
          if (C > 0.0) AddPath(cv, c, w, jPath, w.P * C);
          jPath = j;
          C = 0.0;
        }
        C += height * std::exp(w.EP - E - WkbExponent(profile, w.mStart, i, j, 1, E));
      }
      if (C > 0.0) AddPath(cv, c, w, jPath, w.P * C);
    }
  }
}

void IntrabandTunneling(CalculationVariables& cv, int carrier) {
  CountCall(cv, CallCounter::IntrabandTunneling);
  const CalculationParameters& par = *cv.par;
  const int N = cv.mesh.N;
  TunnelCarrier c = CarrierOf(cv, carrier);
  bool built = false;
  for (int l = 0; l < par.nlayers; ++l) {
    if (par.cell.layer[l].tunneling == 0) continue;
    BandProfile(cv, c, c.t->band);
    built = true;
    CalculateTunnelBulkToBulk(cv, carrier);
    break;
  }
  for (int l = 0; l + 1 < par.nlayers; ++l) {
    const InterfaceParameters& I = par.cell.interface[l];
    if (I.intrabandTunneling == 0) continue;
    if (!built) {
      BandProfile(cv, c, c.t->band);
      built = true;
    }
    cv.tunnel.present = 1;
    const std::vector<double>& Eb = c.t->band;
    const int p = cv.mesh.last[l], f = cv.mesh.first[l + 1];
    const WkbProfile profile = ProfileOf(cv, c);
    // κ·D_p = v·NC·e^(−max(E_b(p), E_b(f))), in units of layer l's density scale both ways.
    const double kappa = c.electrons ? par.interface[l].kappa_n : par.interface[l].kappa_p;
    for (int dir : {1, -1}) {
      CountCall(cv, CallCounter::CalculateTunnelCurrentsNew);
      Walk w;
      w.dir = dir;
      w.s = dir > 0 ? p : f;
      const int first = dir > 0 ? f : p;  // the first barrier point, across the interface
      // The path starts on the side of the lower band and stays in the layer across the
      // interface: lower energies, below the far side of that layer, belong to tunnelling
      // through the whole layer.
      if (Eb[w.s] > Eb[first]) continue;
      w.kFirst = first + dir;
      w.kLast = dir > 0 ? std::min(cv.mesh.last[l + 1], N - 2) : std::max(cv.mesh.first[l], 1);
      if ((w.kLast - w.kFirst) * dir < 0) continue;
      w.Ehi0 = Eb[first];
      w.floor = Eb[w.s];
      if (w.Ehi0 - w.floor <= par.convergence.tunnelBarrierThreshold) continue;
      w.P = kappa * c.N[p] * c.E[p];
      w.EP = std::max(Eb[p], Eb[f]);
      w.mStart = c.electrons ? I.me_rel : I.mh_rel;
      w.deviceStart = true;
      w.startLayer = l;
      WalkPaths(cv, c, profile, w);
    }
  }
  if (!built) return;
  // Through whole regions between two interfaces with tunnelling on.
  for (int l = 0; l + 1 < par.nlayers; ++l) {
    if (par.cell.interface[l].intrabandTunneling == 0) continue;
    for (int j = l + 1; j + 1 < par.nlayers; ++j)
      if (par.cell.interface[j].intrabandTunneling != 0) CalculateTunnelIfaceToIface(cv, carrier, l, j);
  }
}

void BandToBandTunneling(CalculationVariables&, int) {}

bool TunnellingSwitchedOn(const CalculationParameters& par) {
  for (int l = 0; l < par.nlayers; ++l)
    if (par.cell.layer[l].tunneling != 0) return true;
  for (int l = 0; l + 1 < par.nlayers; ++l)
    if (par.cell.interface[l].intrabandTunneling != 0) return true;
  return par.cell.leftContact.tunneling != 0 || par.cell.rightContact.tunneling != 0;
}

bool TrapTunnellingSwitchedOn(const CalculationParameters& par) {
  for (int l = 0; l + 1 < par.nlayers && l < MAXINTERFACES; ++l) {
    const InterfaceParameters& I = par.cell.interface[static_cast<std::size_t>(l)];
    for (int d = 0; d < I.numberOfDefects && d < MAXIFACEDEFECTS; ++d)
      if (I.ifr[static_cast<std::size_t>(d)].tunneling != 0) return true;
  }
  return false;
}

void CalculateTunnelling(CalculationVariables& cv, int carrier) {
  InitialiseTunnelCurrent(cv, carrier == kElectrons ? -1 : 1);
  // Trap-assisted tunnelling into interface defects: the interface terms (computed before)
  // hold its interval currents and Jacobian elements.
  if (cv.tunnel.interfacePresent) {
    const bool electrons = carrier == kElectrons;
    CarrierTunnelState& t = electrons ? cv.tunnel.n : cv.tunnel.p;
    const std::vector<double>& j = electrons ? cv.ifr.jn_iface : cv.ifr.jp_iface;
    for (int i = 0; i + 1 < cv.mesh.N; ++i) t.current[i] += j[i];
    const std::vector<SparseElement>& e = electrons ? cv.ifr.sparse_n : cv.ifr.sparse_p;
    t.sparse.insert(t.sparse.end(), e.begin(), e.end());
  }
  if (!TunnellingSwitchedOn(*cv.par)) return;
  IntrabandTunneling(cv, carrier);
  tunnelingToContacts(cv, -1, carrier);
  tunnelingToContacts(cv, 1, carrier);
  BandToBandTunneling(cv, carrier);
}

}  // namespace zoniq
