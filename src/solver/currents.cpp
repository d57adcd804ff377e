#include "solver/currents.hpp"

#include <cmath>

namespace zoniq {

void extraheer_stroom(const CalculationVariables& cv, CurrentDensities& out) {
  const CalculationParameters& par = *cv.par;
  const Schaal& s = par.schaal;
  const int N = cv.mesh.N;
  for (std::vector<double>* a : {&out.j_n, &out.j_p, &out.jn_tunnel, &out.jp_tunnel, &out.j_tot})
    a->assign(static_cast<std::size_t>(N), 0.0);
  const double* h = cv.mesh.h.data();
  const double* u = cv.u.data();
  const double* v = cv.v.data();
  const double* u0 = cv.u0.data();
  const double* v0 = cv.v0.data();
  const PointData& pt = cv.pt;
  for (int l = par.nlayers - 1; l >= 0; --l) {
    const int f = cv.mesh.first[l], la = cv.mesh.last[l];
    const double c = kQ * s.S[l] * s.Dmax / s.L;  // current-density scale of the layer [A/m²]
    if (la <= f) continue;
    // Interval values, kept at the interval's left point for the moment.
    double prevN = 0.0, prevP = 0.0, prevTn = 0.0, prevTp = 0.0;
    for (int i = f; i < la; ++i) {
      const double jn = 0.5 * c * CarrierDifference(u0, u, i + 1, i) * pt.Nn[i] * cv.Bnm[i + 1] * cv.Eplus[i] *
                        (pt.mu_n[i] + pt.mu_n[i + 1]) / h[i];
      const double jp = 0.5 * c * CarrierDifference(v0, v, i, i + 1) * pt.Np[i] * cv.Bpp[i + 1] * cv.Emin[i] *
                        (pt.mu_p[i] + pt.mu_p[i + 1]) / h[i];
      // The tunnel arrays hold particle fluxes in +x per interval, like the currents above.
      const double tn = -c * cv.tunnel.n.current[i];
      const double tp = c * cv.tunnel.p.current[i];
      // Point values: the first point takes its interval's value, interior points the mean of
      // their two intervals.
      out.j_n[i] = i == f ? jn : 0.5 * (prevN + jn);
      out.j_p[i] = i == f ? jp : 0.5 * (prevP + jp);
      out.jn_tunnel[i] = i == f ? tn : 0.5 * (prevTn + tn);
      out.jp_tunnel[i] = i == f ? tp : 0.5 * (prevTp + tp);
      prevN = jn;
      prevP = jp;
      prevTn = tn;
      prevTp = tp;
    }
    out.j_n[la] = prevN;
    out.j_p[la] = prevP;
    out.jn_tunnel[la] = prevTn;
    out.jp_tunnel[la] = prevTp;
  }
  for (int i = 0; i < N; ++i) {
    out.j_n[i] *= 0.1;
    out.j_p[i] *= 0.1;
    out.jn_tunnel[i] *= 0.1;
    out.jp_tunnel[i] *= 0.1;
    out.j_tot[i] = out.j_n[i] + out.j_p[i] + out.jn_tunnel[i] + out.jp_tunnel[i];
  }
  out.continuous = true;
  if (N > 0 && out.j_tot[0] != 0.0)
    for (int i = 0; i < N; ++i)
      if ((out.j_tot[i] - out.j_tot[0]) / out.j_tot[0] > 0.001) out.continuous = false;
}

double TotalCurrentDensity(const CalculationVariables& cv) {
  CurrentDensities j;
  extraheer_stroom(cv, j);
  return j.j_tot.size() > 1 ? j.j_tot[1] : 0.0;
}

}  // namespace zoniq
