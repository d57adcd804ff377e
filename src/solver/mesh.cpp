#include "solver/mesh.hpp"

#include <algorithm>
#include <cmath>

#include "solver/x_dependence.hpp"

namespace zoniq {

namespace {

constexpr int kGraded = 20;  // graded intervals at each side of a thick layer
constexpr int kThin = 40;    // equal intervals of a thin or medium layer

}  // namespace

void CompleteMesh(MeshBlock& mesh, double L) {
  for (int i = 0; i < mesh.N; ++i) {
    mesh.xm[i] = mesh.x[i] * L;
    mesh.xum[i] = mesh.x[i] * L * 1e6;
    mesh.h[i] = i + 1 < mesh.N ? mesh.x[i + 1] - mesh.x[i] : 0.0;
  }
  for (int l = 0; l < MAXLAYERS; ++l) mesh.points[l] = mesh.last[l] - mesh.first[l] + 1;
}

void bepaal_intervallen(CalculationVariables& cv) {
  const CalculationParameters& par = *cv.par;
  MeshBlock& m = cv.mesh;
  const double Vt = par.Vt;
  const double L = par.schaal.L;
  std::vector<double>& x = m.x;
  m.first.fill(0);
  m.last.fill(0);
  int last = -1;
  for (int l = 0; l < par.nlayers; ++l) {
    const LayerCalcParameters& lc = par.layer[l];
    const double d = lc.dNorm;
    double hL = lc.LD[0] * std::sqrt(Vt / std::max(lc.Eg[0], 1e-6));
    double hR = lc.LD[1] * std::sqrt(Vt / std::max(lc.Eg[1], 1e-6));
    if (cv.illuminated) {
      const double a = ExtractAlpha(cv, 300.0, l) * L;
      if (std::fabs(a) > 1e-10) {
        hL = std::min(hL, 1.0 / a);
        hR = std::min(hR, 1.0 / a);
      }
    }
    const double h0 = std::min({hL, hR, 1e-11 / L});
    const int first = l == 0 ? 0 : last + 1;
    x[first] = l == 0 ? 0.0 : x[last];
    const double x0 = x[first];
    // The points of a layer never pass the array: 103 per layer at most, 7 layers.
    if (d <= kThin * h0) {
      last = first + kThin;
      for (int k = 1; k <= kThin; ++k) x[first + k] = x0 + d * k / kThin;
    } else if (d <= 2.0 * (hL + hR)) {
      last = first + kThin + 2;
      x[first + 1] = x0 + h0;
      const double hm = (d - 2.0 * h0) / kThin;
      for (int k = 1; k <= kThin; ++k) x[first + 1 + k] = x0 + h0 + hm * k;
      x[last] = x0 + d;
      x[last - 1] = x[last] - h0;
    } else {
      x[first + 1] = x0 + h0;
      const double e0 = std::exp(-h0 / hL);
      const double e2 = std::exp(-2.0);
      for (int j = first + 2; j <= first + kGraded + 1; ++j)
        x[j] = x0 - hL * std::log(e0 + (j - 1 - first) * (e2 - e0) / kGraded);
      const double M = d - 2.0 * (hL + hR);
      const double h20 = x[first + kGraded + 1] - x[first + kGraded];
      const double xEnd = x0 + d;
      int nm;
      if (60.0 * h20 <= M) {
        nm = 60;
        const double delta = (M / 30.0 - 2.0 * h20) / 31.0;
        for (int k = 1; k <= 30; ++k) x[first + 21 + k] = x[first + 20 + k] + h20 + k * delta;
        x[first + 81] = xEnd - 2.0 * hR;
        // The two growing halves meet at point first+51; it is placed from the right.
        for (int k = 1; k <= 30; ++k) x[first + 81 - k] = x[first + 82 - k] - (h20 + k * delta);
      } else {
        nm = std::max(1, static_cast<int>(M / h20));
        for (int k = 1; k <= nm; ++k) x[first + 21 + k] = x[first + 21] + M * k / nm;
      }
      last = first + 2 * kGraded + 2 + nm;
      x[last] = xEnd;
      const double e0r = std::exp(-h0 / hR);
      for (int j = last - 1; j >= last - kGraded - 1; --j)
        x[j] = x[last] + hR * std::log(e0r + (last - (j + 1)) * (e2 - e0r) / kGraded);
    }
    m.first[l] = first;
    m.last[l] = last;
  }
  m.N = std::min(last + 1, MAXPOINTS);
  // The last layer ends at the right contact: x = 1 exactly, whatever the rounding of the sum.
  x[0] = 0.0;
  x[m.N - 1] = 1.0;
  if (m.N < last + 1) m.last[par.nlayers - 1] = m.N - 1;
  CompleteMesh(m, L);
  cv.initialMesh = m;
  Full_x_Dependence(cv);
}

int PointExists(const MeshBlock& initial, int layer, double x) {
  for (int i = initial.first[layer]; i <= initial.last[layer]; ++i) {
    if (initial.x[i] >= x) return initial.x[i] == x ? 1 : 0;
  }
  return 0;
}

void InterpolateAndCopy(const MeshBlock& oldMesh, std::span<const double> oldValues, const MeshBlock& newMesh,
                        std::span<double> newValues) {
  for (int l = 0; l < MAXLAYERS; ++l) {
    if (newMesh.points[l] <= 0 || oldMesh.points[l] <= 0) continue;
    const int of = oldMesh.first[l], ol = oldMesh.last[l];
    int k = of;
    for (int i = newMesh.first[l]; i <= newMesh.last[l]; ++i) {
      const double xi = newMesh.x[i];
      while (k < ol - 1 && oldMesh.x[k + 1] < xi) ++k;
      if (ol == of) {
        newValues[i] = oldValues[of];
        continue;
      }
      const double xa = oldMesh.x[k], xb = oldMesh.x[k + 1];
      if (xi <= xa) {
        newValues[i] = oldValues[k];
      } else if (xi >= xb) {
        newValues[i] = oldValues[k + 1];
      } else {
        const double t = (xi - xa) / (xb - xa);
        newValues[i] = oldValues[k] + t * (oldValues[k + 1] - oldValues[k]);
      }
    }
    if (l + 1 < MAXLAYERS && newMesh.points[l + 1] <= 0) break;
  }
}

namespace {

// Ratio of two values: max/min of their magnitudes when they have the same sign, else rmin.
double Ratio(double a, double b, double rmin) {
  if (!(a * b > 0.0)) return rmin;
  const double fa = std::fabs(a), fb = std::fabs(b);
  return fa > fb ? fa / fb : fb / fa;
}

}  // namespace

int RecalculateIntervals(CalculationVariables& cv, int showMessages) {
  const CalculationParameters& par = *cv.par;
  double Rmax = par.mesh.maxRatio, Rmin = par.mesh.minRatio;
  // A definition file may hold ratios outside their range or the wrong way round.
  GovernMaxMinMesh(Rmax, Rmin);
  const double Glim = par.mesh.generationLimit * 0.01;     // µA/cm² -> A/m²
  const double Ulim = par.mesh.recombinationLimit * 0.01;  // µA/cm² -> A/m²
  const MeshBlock& om = cv.mesh;
  const Schaal& s = par.schaal;
  std::vector<double>& rho = cv.work.c1;  // criterion per old point
  MeshBlock& nm = cv.work.mesh;           // the new mesh
  nm.first.fill(0);
  nm.last.fill(0);
  bool changed = false;
  int next = 0;  // running index of the new mesh
  const double logRmax = std::log(Rmax);
  const double* U = cv.blocks.total.U.data();
  auto limit = [&]() {
    if (showMessages) SolverMessage(cv, "Error", "Not enough points for the mesh.", false);
    return -1;
  };
  for (int l = 0; l < par.nlayers; ++l) {
    const int f = om.first[l], la = om.last[l];
    const double currentScale = kQ * s.S[l] * s.Dmax / s.L;  // normalised rate·L -> A/m²
    rho[f] = 1.0;
    for (int i = f + 1; i <= la; ++i) {
      double r = std::exp(std::fabs(cv.psi[i] - cv.psi[i - 1]));
      if (std::fabs(cv.G[i]) * currentScale > Glim || std::fabs(cv.G[i - 1]) * currentScale > Glim)
        r = std::max(r, Ratio(cv.G[i - 1], cv.G[i], Rmin));
      r = std::max(r, Ratio(cv.u0[i - 1] + cv.u[i - 1], cv.u0[i] + cv.u[i], Rmin));
      r = std::max(r, Ratio(cv.v0[i - 1] + cv.v[i - 1], cv.v0[i] + cv.v[i], Rmin));
      if (std::fabs(U[i]) * currentScale > Ulim || std::fabs(U[i - 1]) * currentScale > Ulim)
        r = std::max(r, Ratio(U[i - 1], U[i], Rmin));
      rho[i] = std::isfinite(r) ? r : 1e300;
    }
    if (next >= MAXPOINTS) return limit();
    nm.first[l] = next;
    nm.x[next++] = om.x[f];
    int removed = 0;  // consecutive removals
    for (int i = f + 1; i <= la - 1; ++i) {
      if (rho[i] < Rmax) {
        if (rho[i] * rho[i + 1] <= Rmin && removed < 4 && !PointExists(cv.initialMesh, l, om.x[i])) {
          rho[i + 1] *= rho[i];
          ++removed;
          changed = true;
          continue;
        }
      } else {
        // Rounded half away from zero; at most five new points per interval and pass.
        const int extra = static_cast<int>(std::max(std::round(std::min(std::log(rho[i]) / logRmax - 0.5, 5.0)), 0.0));
        if (next + extra >= MAXPOINTS) return limit();
        // The interval from the previous old point to this one is split into extra+1 equal
        // parts; the old point itself keeps its exact position, so that a point of the
        // initial mesh is still recognised as one.
        for (int k = 0; k < extra; ++k) nm.x[next++] = (om.x[i - 1] * (extra - k) + om.x[i] * (k + 1)) / (extra + 1);
        if (extra > 0) changed = true;
      }
      removed = 0;
      if (next >= MAXPOINTS) return limit();
      nm.x[next++] = om.x[i];
    }
    if (la > f) {
      if (next >= MAXPOINTS) return limit();
      nm.x[next++] = om.x[la];
    }
    nm.last[l] = next - 1;
  }
  if (!changed) return 0;
  nm.N = next;
  CompleteMesh(nm, s.L);

  // Carry the solution over (re-meshing is rare: the temporary arrays here are acceptable).
  const MeshBlock old = cv.mesh;
  std::vector<double> tmp(MAXPOINTS, 0.0);
  auto carry = [&](std::vector<double>& a) {
    InterpolateAndCopy(old, a, nm, tmp);
    std::copy(tmp.begin(), tmp.begin() + nm.N, a.begin());
  };
  carry(cv.psi);
  // The offsets are carried with the deviations (between points of the same offset both are
  // exact), then set back to the anchor or 0.
  carry(cv.u);
  carry(cv.v);
  carry(cv.u0);
  carry(cv.v0);
  carry(cv.G);
  // The shares of metastable configurations as ln(fD/fA), so that the densities stay split.
  for (auto& layer : cv.meta.t)
    for (MetaTransitionCalc& t : layer)
      if (t.on) carry(t.y);
  // Occupations and optical rates of the defect levels: carried over, then put back after the
  // records have been rebuilt on the new mesh.
  std::vector<std::vector<double>> saved;
  std::vector<double> full(MAXPOINTS, 0.0);
  for (int l = 0; l < par.nlayers; ++l)
    for (BulkDefectRecord& d : cv.rec.layer[l])
      for (LevelRecord& r : d.records)
        for (std::vector<double>* a : {&r.f, &r.een_min_f, &r.gn_opt, &r.gp_opt}) {
          std::fill(full.begin(), full.end(), 0.0);
          for (int j = 0; j < old.points[l] && j < static_cast<int>(a->size()); ++j) full[old.first[l] + j] = (*a)[j];
          InterpolateAndCopy(old, full, nm, tmp);
          saved.emplace_back(tmp.begin() + nm.first[l], tmp.begin() + nm.first[l] + nm.points[l]);
        }
  std::swap(cv.mesh, nm);
  ChooseOffsets(cv);
  Full_x_Dependence(cv);
  FillAllDefectRecords(cv);
  std::size_t k = 0;
  for (int l = 0; l < par.nlayers; ++l)
    for (BulkDefectRecord& d : cv.rec.layer[l])
      for (LevelRecord& r : d.records)
        for (std::vector<double>* a : {&r.f, &r.een_min_f, &r.gn_opt, &r.gp_opt}) {
          const std::vector<double>& src = saved[k++];
          a->resize(src.size());
          std::copy(src.begin(), src.end(), a->begin());
        }
  update_psivar(cv);
  if (cv.regenerate) cv.regenerate(cv);
  return 1;
}

}  // namespace zoniq
