#include "solver/equations.hpp"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "common/call_counts.hpp"

namespace zoniq {

int ComputeDefectTerms(CalculationVariables& cv) {
  const int r = totale_rdcbijdrage_multilevel(cv.rec, CarriersOf(cv), BulkDataOf(cv), cv.blocks,
                                              cv.ctx ? cv.ctx->counter : nullptr);
  if (r < 0) return r;
  // Interface defects, with trap-assisted tunnelling where it is switched on.
  totale_ifrdcbijdrage(cv);
  return r;
}

bool ChargedDefects(const CalculationVariables& cv) {
  for (const auto& layer : cv.rec.layer)
    for (const BulkDefectRecord& d : layer)
      if (d.chargeCode != 0) return true;
  return cv.ifrec.charged();
}

namespace {

enum Var { kPsi = 0, kU = 1, kV = 2 };

// What the electron and hole equations share, seen from one carrier. For electrons w = u,
// N = Nn, the row scale uses e^−ψ and the Bernoulli factors of the left and right interval of
// point i are Bn⁺_i and Bn⁻_{i+1}; for holes w = v, N = Np, e^+ψ, Bp⁻_i and Bp⁺_{i+1}. The sign
// s = +1 (electrons) or −1 (holes) gives the direction in which ψ enters.
struct Carrier {
  int s = 1;
  Var own = kU, other = kV;
  const double* w = nullptr;
  const double* w0 = nullptr;  // the offsets of w
  const double* N = nullptr;
  const double* Einv = nullptr;
  const double *Bl = nullptr, *Br = nullptr, *dBl = nullptr, *dBr = nullptr;
  const double* mu = nullptr;
  double Sleft = 0.0, Sright = 0.0;
  double wRight = 1.0;  // w0 + w imposed at the right contact (1 at the left)
  const double *dU_dw = nullptr, *dU_dpsi = nullptr, *dU_dother = nullptr;
  const CarrierTunnelState* t = nullptr;
  const std::array<double, MAXINTERFACES>*Rl = nullptr, *dRl_dp = nullptr, *dRl_df = nullptr;
  const std::array<double, MAXINTERFACES>*Rr = nullptr, *dRr_dp = nullptr, *dRr_df = nullptr;
  // Derivatives of the capture fluxes with respect to ψ and the other carrier's variable at p, f.
  const std::array<double, MAXINTERFACES>*dRl_dpsip = nullptr, *dRl_dpsif = nullptr, *dRl_dop = nullptr,
                           *dRl_dof = nullptr;
  const std::array<double, MAXINTERFACES>*dRr_dpsip = nullptr, *dRr_dpsif = nullptr, *dRr_dop = nullptr,
                           *dRr_dof = nullptr;
  bool electrons = true;
};

Carrier Electrons(const CalculationVariables& cv) {
  Carrier c;
  c.s = 1;
  c.own = kU;
  c.other = kV;
  c.w = cv.u.data();
  c.w0 = cv.u0.data();
  c.N = cv.pt.Nn.data();
  c.Einv = cv.Emin.data();
  c.Bl = cv.Bnp.data();
  c.Br = cv.Bnm.data();
  c.dBl = cv.dBnp.data();
  c.dBr = cv.dBnm.data();
  c.mu = cv.pt.mu_n.data();
  c.Sleft = cv.par->Sn_left;
  c.Sright = cv.par->Sn_right;
  c.wRight = cv.uR;
  c.dU_dw = cv.blocks.total.dU_du.data();
  c.dU_dpsi = cv.blocks.total.dU_dpsi.data();
  c.dU_dother = cv.blocks.total.dU_dv.data();
  c.t = &cv.tunnel.n;
  c.Rl = &cv.ifr.Fn_left;
  c.dRl_dp = &cv.ifr.dFn_left_dup;
  c.dRl_df = &cv.ifr.dFn_left_duf;
  c.Rr = &cv.ifr.Fn_right;
  c.dRr_dp = &cv.ifr.dFn_right_dup;
  c.dRr_df = &cv.ifr.dFn_right_duf;
  c.dRl_dpsip = &cv.ifr.dFn_left_dpsip;
  c.dRl_dpsif = &cv.ifr.dFn_left_dpsif;
  c.dRl_dop = &cv.ifr.dFn_left_dvp;
  c.dRl_dof = &cv.ifr.dFn_left_dvf;
  c.dRr_dpsip = &cv.ifr.dFn_right_dpsip;
  c.dRr_dpsif = &cv.ifr.dFn_right_dpsif;
  c.dRr_dop = &cv.ifr.dFn_right_dvp;
  c.dRr_dof = &cv.ifr.dFn_right_dvf;
  c.electrons = true;
  return c;
}

Carrier Holes(const CalculationVariables& cv) {
  Carrier c;
  c.s = -1;
  c.own = kV;
  c.other = kU;
  c.w = cv.v.data();
  c.w0 = cv.v0.data();
  c.N = cv.pt.Np.data();
  c.Einv = cv.Eplus.data();
  c.Bl = cv.Bpm.data();
  c.Br = cv.Bpp.data();
  c.dBl = cv.dBpm.data();
  c.dBr = cv.dBpp.data();
  c.mu = cv.pt.mu_p.data();
  c.Sleft = cv.par->Sp_left;
  c.Sright = cv.par->Sp_right;
  c.wRight = 1.0 / cv.uR;
  c.dU_dw = cv.blocks.total.dU_dv.data();
  c.dU_dpsi = cv.blocks.total.dU_dpsi.data();
  c.dU_dother = cv.blocks.total.dU_du.data();
  c.t = &cv.tunnel.p;
  c.Rl = &cv.ifr.Fp_left;
  c.dRl_dp = &cv.ifr.dFp_left_dvp;
  c.dRl_df = &cv.ifr.dFp_left_dvf;
  c.Rr = &cv.ifr.Fp_right;
  c.dRr_dp = &cv.ifr.dFp_right_dvp;
  c.dRr_df = &cv.ifr.dFp_right_dvf;
  c.dRl_dpsip = &cv.ifr.dFp_left_dpsip;
  c.dRl_dpsif = &cv.ifr.dFp_left_dpsif;
  c.dRl_dop = &cv.ifr.dFp_left_dup;
  c.dRl_dof = &cv.ifr.dFp_left_duf;
  c.dRr_dpsip = &cv.ifr.dFp_right_dpsip;
  c.dRr_dpsif = &cv.ifr.dFp_right_dpsif;
  c.dRr_dop = &cv.ifr.dFp_right_dup;
  c.dRr_dof = &cv.ifr.dFp_right_duf;
  c.electrons = false;
  return c;
}

double Kappa(const CalculationVariables& cv, const Carrier& c, int l) {
  return c.electrons ? cv.par->interface[l].kappa_n : cv.par->interface[l].kappa_p;
}

// Row kinds of a point.
enum class Row { kLeftContact, kRightContact, kInterfaceLeft, kInterfaceRight, kInterior };

Row RowOf(const CalculationVariables& cv, int l, int i) {
  const int N = cv.mesh.N;
  if (i == 0) return Row::kLeftContact;
  if (i == N - 1) return Row::kRightContact;
  if (i == cv.mesh.first[l] && l > 0) return Row::kInterfaceRight;
  if (i == cv.mesh.last[l] && l + 1 < cv.par->nlayers) return Row::kInterfaceLeft;
  return Row::kInterior;
}

// Visits the rows of layer l: special(i) for its first and last point (contacts and interface
// points) and interior(i, 1/h[i−1], 1/h[i]) for the points between, each reciprocal interval
// computed once and carried to the next point.
template <class Special, class Interior>
void ForEachRow(const CalculationVariables& cv, int l, Special&& special, Interior&& interior) {
  const double* h = cv.mesh.h.data();
  const int f = cv.mesh.first[l], la = cv.mesh.last[l];
  special(f);
  if (la <= f) return;
  double ia = 1.0 / h[f];
  for (int i = f + 1; i < la; ++i) {
    const double ib = 1.0 / h[i];
    interior(i, ia, ib);
    ia = ib;
  }
  special(la);
}

void ContinuityResidual(const CalculationVariables& cv, const Carrier& c, std::span<double> F) {
  const double* h = cv.mesh.h.data();
  const double* w = c.w;
  const double* G = cv.G.data();
  const double* U = cv.blocks.total.U.data();
  const CarrierTunnelState& t = *c.t;
  const int N = cv.mesh.N;
  for (int l = 0; l < cv.par->nlayers; ++l) {
    const int f = cv.mesh.first[l], la = cv.mesh.last[l];
    const double mubar = 0.5 * (c.mu[f] + c.mu[la]);
    const double invMubar = 1.0 / mubar;
    auto interior = [&](int i, double ia, double ib) __attribute__((always_inline)) {
      const double a = h[i - 1], b = h[i], ab = a + b, c2 = 0.5 * ab;
      const double wL = ab * ia * ((c.mu[i - 1] + c.mu[i]) * invMubar);
      const double wR = ab * ib * ((c.mu[i + 1] + c.mu[i]) * invMubar);
      const double s = c.Einv[i] * c2 / c.N[i] * invMubar;
      const double bracket = t.source1[i] + c2 * (G[i] - U[i]) - (t.current[i] - t.current[i - 1]) - t.source2[i];
      F[i] = s * bracket + 0.25 * wL * c.Bl[i] * CarrierDifference(c.w0, w, i - 1, i) +
             0.25 * wR * c.Br[i + 1] * CarrierDifference(c.w0, w, i + 1, i);
    };
    auto special = [&](int i) {
      switch (RowOf(cv, l, i)) {
        case Row::kLeftContact: {
          const double k = c.Sleft * 2.0 * h[0] / (c.mu[0] + c.mu[1]);
          F[0] = -(c.w0[0] + w[0] - 1.0 + t.contact[0]) * k - CarrierDifference(c.w0, w, 0, 1) * c.Br[1];
          break;
        }
        case Row::kRightContact: {
          const double k = c.Sright * 2.0 * h[N - 2] / (c.mu[N - 1] + c.mu[N - 2]);
          F[N - 1] = CarrierDifference(c.w0, w, N - 2, N - 1) * c.Bl[N - 1] -
                     (c.w0[N - 1] + w[N - 1] - c.wRight + t.contact[1]) * k;
          break;
        }
        case Row::kInterfaceLeft: {
          const int p = i, ff = i + 1;
          const double tp = 2.0 * h[p - 1] / (c.mu[p - 1] + c.mu[p]);
          F[p] = CarrierDifference(c.w0, w, p - 1, p) * c.Bl[p] - (c.Einv[p] / c.N[p]) * tp * (*c.Rl)[l] -
                 (t.ifaceLeft[l] + CarrierDifference(c.w0, w, p, ff)) * tp * Kappa(cv, c, l);
          break;
        }
        case Row::kInterfaceRight: {
          const int ff = i, p = i - 1, li = l - 1;
          const double tf = 2.0 * h[ff] / (c.mu[ff] + c.mu[ff + 1]);
          const double r = (c.N[p] / c.N[ff]) * (cv.par->schaal.S[li] / cv.par->schaal.S[l]);
          F[ff] = CarrierDifference(c.w0, w, ff + 1, ff) * c.Br[ff + 1] +
                  (t.ifaceRight[li] + CarrierDifference(c.w0, w, p, ff)) * tf * r * Kappa(cv, c, li) -
                  (c.Einv[ff] / c.N[ff]) * tf * (*c.Rr)[li];
          break;
        }
        case Row::kInterior:
          interior(i, 1.0 / h[i - 1], 1.0 / h[i]);
          break;
      }
    };
    ForEachRow(cv, l, special, interior);
  }
}

// Emits −∂F/∂x of the continuity equation of carrier c: sink(row, column point, variable, value).
// With `cross` false only the derivatives with respect to the carrier's own variable are emitted.
template <class Sink>
void ContinuityJacobian(const CalculationVariables& cv, const Carrier& c, Sink&& sink, bool cross) {
  const double* h = cv.mesh.h.data();
  const double* w = c.w;
  const double* G = cv.G.data();
  const double* U = cv.blocks.total.U.data();
  const CarrierTunnelState& t = *c.t;
  const int N = cv.mesh.N;
  const Var o = c.own;
  const double s1 = c.s;
  for (int l = 0; l < cv.par->nlayers; ++l) {
    const int f = cv.mesh.first[l], la = cv.mesh.last[l];
    const double mubar = 0.5 * (c.mu[f] + c.mu[la]);
    const double invMubar = 1.0 / mubar;
    auto interior = [&](int i, double ia, double ib) __attribute__((always_inline)) {
      const double a = h[i - 1], b = h[i], ab = a + b, c2 = 0.5 * ab;
      const double wL = 0.25 * ab * ia * ((c.mu[i - 1] + c.mu[i]) * invMubar);
      const double wR = 0.25 * ab * ib * ((c.mu[i + 1] + c.mu[i]) * invMubar);
      const double s = c.Einv[i] * c2 / c.N[i] * invMubar;
      sink(i, i - 1, o, -wL * c.Bl[i]);
      sink(i, i + 1, o, -wR * c.Br[i + 1]);
      sink(i, i, o, wL * c.Bl[i] + wR * c.Br[i + 1] + s * c2 * c.dU_dw[i]);
      if (cross) {
        const double bracket = t.source1[i] + c2 * (G[i] - U[i]) - (t.current[i] - t.current[i - 1]) - t.source2[i];
        const double dl = CarrierDifference(c.w0, w, i - 1, i), dr = CarrierDifference(c.w0, w, i + 1, i);
        const double dF_dpsi =
            -s1 * s * bracket - s * c2 * c.dU_dpsi[i] + wL * s1 * c.dBl[i] * dl + wR * s1 * c.dBr[i + 1] * dr;
        sink(i, i, kPsi, -dF_dpsi);
        sink(i, i - 1, kPsi, wL * s1 * c.dBl[i] * dl);
        sink(i, i + 1, kPsi, wR * s1 * c.dBr[i + 1] * dr);
        sink(i, i, c.other, s * c2 * c.dU_dother[i]);
      }
    };
    auto special = [&](int i) {
      switch (RowOf(cv, l, i)) {
        case Row::kLeftContact: {
          const double k = c.Sleft * 2.0 * h[0] / (c.mu[0] + c.mu[1]);
          sink(0, 0, o, k + c.Br[1]);
          sink(0, 1, o, -c.Br[1]);
          if (cross) {
            const double dw = CarrierDifference(c.w0, w, 0, 1);
            sink(0, 0, kPsi, dw * s1 * c.dBr[1]);
            sink(0, 1, kPsi, -dw * s1 * c.dBr[1]);
          }
          break;
        }
        case Row::kRightContact: {
          const double k = c.Sright * 2.0 * h[N - 2] / (c.mu[N - 1] + c.mu[N - 2]);
          sink(N - 1, N - 2, o, -c.Bl[N - 1]);
          sink(N - 1, N - 1, o, k + c.Bl[N - 1]);
          if (cross) {
            const double dw = CarrierDifference(c.w0, w, N - 2, N - 1);
            sink(N - 1, N - 1, kPsi, -dw * s1 * c.dBl[N - 1]);
            sink(N - 1, N - 2, kPsi, dw * s1 * c.dBl[N - 1]);
          }
          break;
        }
        case Row::kInterfaceLeft: {
          const int p = i, ff = i + 1;
          const double tp = 2.0 * h[p - 1] / (c.mu[p - 1] + c.mu[p]);
          const double kap = Kappa(cv, c, l);
          const double e = c.Einv[p] / c.N[p];
          sink(p, p - 1, o, -c.Bl[p]);
          sink(p, p, o, c.Bl[p] + tp * kap + e * tp * (*c.dRl_dp)[l]);
          sink(p, ff, o, -tp * kap + e * tp * (*c.dRl_df)[l]);
          if (cross) {
            const double dw = CarrierDifference(c.w0, w, p - 1, p);
            sink(p, p, kPsi, -(dw * s1 * c.dBl[p] + s1 * e * tp * (*c.Rl)[l]) + e * tp * (*c.dRl_dpsip)[l]);
            sink(p, p - 1, kPsi, dw * s1 * c.dBl[p]);
            sink(p, ff, kPsi, e * tp * (*c.dRl_dpsif)[l]);
            sink(p, p, c.other, e * tp * (*c.dRl_dop)[l]);
            sink(p, ff, c.other, e * tp * (*c.dRl_dof)[l]);
          }
          break;
        }
        case Row::kInterfaceRight: {
          const int ff = i, p = i - 1, li = l - 1;
          const double tf = 2.0 * h[ff] / (c.mu[ff] + c.mu[ff + 1]);
          const double r = (c.N[p] / c.N[ff]) * (cv.par->schaal.S[li] / cv.par->schaal.S[l]);
          const double kap = Kappa(cv, c, li);
          const double e = c.Einv[ff] / c.N[ff];
          sink(ff, ff + 1, o, -c.Br[ff + 1]);
          sink(ff, ff, o, c.Br[ff + 1] + tf * r * kap + e * tf * (*c.dRr_df)[li]);
          sink(ff, p, o, -tf * r * kap + e * tf * (*c.dRr_dp)[li]);
          if (cross) {
            const double dw = CarrierDifference(c.w0, w, ff + 1, ff);
            sink(ff, ff, kPsi, -(dw * s1 * c.dBr[ff + 1] + s1 * e * tf * (*c.Rr)[li]) + e * tf * (*c.dRr_dpsif)[li]);
            sink(ff, ff + 1, kPsi, dw * s1 * c.dBr[ff + 1]);
            sink(ff, p, kPsi, e * tf * (*c.dRr_dpsip)[li]);
            sink(ff, ff, c.other, e * tf * (*c.dRr_dof)[li]);
            sink(ff, p, c.other, e * tf * (*c.dRr_dop)[li]);
          }
          break;
        }
        case Row::kInterior:
          interior(i, 1.0 / h[i - 1], 1.0 / h[i]);
          break;
      }
    };
    ForEachRow(cv, l, special, interior);
  }
}

void PoissonResidual(const CalculationVariables& cv, std::span<double> F) {
  const CalculationParameters& par = *cv.par;
  const double* h = cv.mesh.h.data();
  const double* psi = cv.psi.data();
  const double* eps = cv.pt.eps.data();
  const DcTermBlock& d = cv.blocks.total;
  const double gauss = par.schaal.L / (par.Vt * kEps0);
  for (int l = 0; l < par.nlayers; ++l) {
    const int f = cv.mesh.first[l], la = cv.mesh.last[l];
    const double epsbar = 0.5 * (eps[f] + eps[la]);
    const double invEpsbar = 1.0 / epsbar;
    const double inv4lambda = 1.0 / (4.0 * par.schaal.lambda[l]);
    auto interior = [&](int i, double ia, double ib) __attribute__((always_inline)) {
      const double ab = h[i - 1] + h[i];
      const double n = cv.pt.Nn[i] * cv.Eplus[i] * (cv.u0[i] + cv.u[i]);
      const double p = cv.pt.Np[i] * cv.Emin[i] * (cv.v0[i] + cv.v[i]);
      const double rho = cv.pt.Nnet[i] + d.rho[i] + p - n;
      F[i] = (psi[i - 1] - psi[i]) * (ab * ia) * ((eps[i - 1] + eps[i]) * invEpsbar) * 0.25 +
             (psi[i + 1] - psi[i]) * (ab * ib) * ((eps[i + 1] + eps[i]) * invEpsbar) * 0.25 +
             (ab * ab * inv4lambda) * rho;
    };
    auto special = [&](int i) {
      switch (RowOf(cv, l, i)) {
        case Row::kLeftContact:
        case Row::kRightContact:
          F[i] = 0.0;
          break;
        case Row::kInterfaceRight:
          F[i] = psi[i - 1] - psi[i];
          break;
        case Row::kInterfaceLeft: {
          const int p = i, ff = i + 1;
          F[p] = (cv.ifr.sigma[l] * gauss + (psi[ff + 1] - psi[p]) * eps[ff] / h[ff] +
                  (psi[p - 1] - psi[p]) * eps[p] / h[p - 1]) *
                 (h[ff] + h[p - 1]) / (eps[ff] + eps[p]);
          break;
        }
        case Row::kInterior:
          interior(i, 1.0 / h[i - 1], 1.0 / h[i]);
          break;
      }
    };
    ForEachRow(cv, l, special, interior);
  }
}

// Emits −∂F/∂x of Poisson's equation; the interface row's element to first(l+1)+1 too.
template <class Sink>
void PoissonJacobian(const CalculationVariables& cv, Sink&& sink, bool cross) {
  const CalculationParameters& par = *cv.par;
  const double* h = cv.mesh.h.data();
  const double* eps = cv.pt.eps.data();
  const DcTermBlock& d = cv.blocks.total;
  const double gauss = par.schaal.L / (par.Vt * kEps0);
  for (int l = 0; l < par.nlayers; ++l) {
    const int f = cv.mesh.first[l], la = cv.mesh.last[l];
    const double epsbar = 0.5 * (eps[f] + eps[la]);
    const double invEpsbar = 1.0 / epsbar;
    const double inv4lambda = 1.0 / (4.0 * par.schaal.lambda[l]);
    auto interior = [&](int i, double ia, double ib) __attribute__((always_inline)) {
      const double ab = h[i - 1] + h[i];
      const double cL = 0.25 * (ab * ia) * ((eps[i - 1] + eps[i]) * invEpsbar);
      const double cR = 0.25 * (ab * ib) * ((eps[i + 1] + eps[i]) * invEpsbar);
      const double q = ab * ab * inv4lambda;
      const double dn_du = cv.pt.Nn[i] * cv.Eplus[i];
      const double dp_dv = cv.pt.Np[i] * cv.Emin[i];
      const double n = dn_du * (cv.u0[i] + cv.u[i]);
      const double p = dp_dv * (cv.v0[i] + cv.v[i]);
      sink(i, i - 1, kPsi, -cL);
      sink(i, i + 1, kPsi, -cR);
      sink(i, i, kPsi, cL + cR + q * (n + p - d.drho_dpsi[i]));
      if (cross) {
        sink(i, i, kU, -q * (-dn_du + d.drho_du[i]));
        sink(i, i, kV, -q * (dp_dv + d.drho_dv[i]));
      }
    };
    auto special = [&](int i) {
      switch (RowOf(cv, l, i)) {
        case Row::kLeftContact:
        case Row::kRightContact:
          sink(i, i, kPsi, 1.0);
          break;
        case Row::kInterfaceRight:
          sink(i, i - 1, kPsi, -1.0);
          sink(i, i, kPsi, 1.0);
          break;
        case Row::kInterfaceLeft: {
          const int p = i, ff = i + 1;
          const double fac = (h[ff] + h[p - 1]) / (eps[ff] + eps[p]);
          sink(p, p - 1, kPsi, -eps[p] / h[p - 1] * fac);
          // The charge depends on ψ at both points of the interface: ∂σ/∂ψ_p on the diagonal,
          // ∂σ/∂ψ_f on the element to the double point.
          sink(p, p, kPsi, (eps[ff] / h[ff] + eps[p] / h[p - 1] - gauss * cv.ifr.dsigma_dpsip[l]) * fac);
          sink(p, ff, kPsi, -gauss * cv.ifr.dsigma_dpsif[l] * fac);
          sink(p, ff + 1, kPsi, -eps[ff] / h[ff] * fac);
          if (cross) {
            sink(p, p, kU, -gauss * cv.ifr.dsigma_dup[l] * fac);
            sink(p, ff, kU, -gauss * cv.ifr.dsigma_duf[l] * fac);
            sink(p, p, kV, -gauss * cv.ifr.dsigma_dvp[l] * fac);
            sink(p, ff, kV, -gauss * cv.ifr.dsigma_dvf[l] * fac);
          }
          break;
        }
        case Row::kInterior:
          interior(i, 1.0 / h[i - 1], 1.0 / h[i]);
          break;
      }
    };
    ForEachRow(cv, l, special, interior);
  }
}

// Collects the elements of one equation's Jacobian with respect to its own variable into the
// tridiagonal arrays (and the interface element).
struct TridiagonalSink {
  double *jl, *jd, *ju, *extra;
  const MeshBlock* mesh;
  int nlayers;
  Var var;
  void operator()(int row, int col, Var v, double value) const {
    if (v != var) return;
    if (col == row) {
      jd[row] += value;
    } else if (col == row - 1) {
      jl[row] += value;
    } else if (col == row + 1) {
      ju[row] += value;
    } else if (col == row + 2) {
      for (int l = 0; l + 1 < nlayers; ++l)
        if (mesh->last[l] == row) extra[l] += value;
    }
  }
};

void ClearTridiagonal(const CalculationVariables& cv, std::span<double> jl, std::span<double> jd,
                      std::span<double> ju) {
  const int N = cv.mesh.N;
  std::fill(jl.begin(), jl.begin() + N, 0.0);
  std::fill(jd.begin(), jd.begin() + N, 0.0);
  std::fill(ju.begin(), ju.begin() + N, 0.0);
}

}  // namespace

void bereken_stelsel_psi_Gummel(CalculationVariables& cv, std::span<double> F) {
  CountCall(cv, CallCounter::bereken_stelsel_psi_Gummel);
  PoissonResidual(cv, F);
}

void bereken_stelsel_u_Gummel(CalculationVariables& cv, std::span<double> F) {
  CountCall(cv, CallCounter::bereken_stelsel_u_Gummel);
  ContinuityResidual(cv, Electrons(cv), F);
}

void bereken_stelsel_v_Gummel(CalculationVariables& cv, std::span<double> F) {
  CountCall(cv, CallCounter::bereken_stelsel_v_Gummel);
  ContinuityResidual(cv, Holes(cv), F);
}

void bereken_jac_psi_Gummel(CalculationVariables& cv, std::span<double> jl, std::span<double> jd, std::span<double> ju,
                            std::span<double> extra) {
  CountCall(cv, CallCounter::bereken_jac_psi_Gummel);
  ClearTridiagonal(cv, jl, jd, ju);
  std::fill(extra.begin(), extra.end(), 0.0);
  PoissonJacobian(cv, TridiagonalSink{jl.data(), jd.data(), ju.data(), extra.data(), &cv.mesh, cv.par->nlayers, kPsi},
                  false);
}

void bereken_jac_u_Gummel(CalculationVariables& cv, std::span<double> jl, std::span<double> jd, std::span<double> ju) {
  CountCall(cv, CallCounter::bereken_jac_u_Gummel);
  ClearTridiagonal(cv, jl, jd, ju);
  ContinuityJacobian(cv, Electrons(cv),
                     TridiagonalSink{jl.data(), jd.data(), ju.data(), nullptr, &cv.mesh, cv.par->nlayers, kU}, false);
}

void bereken_jac_v_Gummel(CalculationVariables& cv, std::span<double> jl, std::span<double> jd, std::span<double> ju) {
  CountCall(cv, CallCounter::bereken_jac_v_Gummel);
  ClearTridiagonal(cv, jl, jd, ju);
  ContinuityJacobian(cv, Holes(cv),
                     TridiagonalSink{jl.data(), jd.data(), ju.data(), nullptr, &cv.mesh, cv.par->nlayers, kV}, false);
}

void CoupledResidual(CalculationVariables& cv, std::span<double> F) {
  const int N = cv.mesh.N;
  std::vector<double>& tmp = cv.work.c3;
  PoissonResidual(cv, tmp);
  for (int i = 0; i < N; ++i) F[3 * i] = tmp[i];
  ContinuityResidual(cv, Electrons(cv), tmp);
  for (int i = 0; i < N; ++i) F[3 * i + 1] = tmp[i];
  ContinuityResidual(cv, Holes(cv), tmp);
  for (int i = 0; i < N; ++i) F[3 * i + 2] = tmp[i];
}

void CoupledJacobian(CalculationVariables& cv, const BandMatrix& A) {
  A.clear();
  auto sinkFor = [&A](Var eq) {
    return [&A, eq](int row, int col, Var v, double value) { A.at(3 * row + eq, 3 * col + v) += value; };
  };
  PoissonJacobian(cv, sinkFor(kPsi), true);
  ContinuityJacobian(cv, Electrons(cv), sinkFor(kU), true);
  ContinuityJacobian(cv, Holes(cv), sinkFor(kV), true);
  // Tunnelling couplings between neighbouring points fit into the band; longer ones do not, and
  // the iteration then takes them as fixed.
  for (const auto& [eq, t] : {std::pair{kU, &cv.tunnel.n}, std::pair{kV, &cv.tunnel.p}})
    for (const SparseElement& e : t->sparse)
      if (std::abs(e.row - e.col) <= 1) A.at(3 * e.row + eq, 3 * e.col + eq) += e.value;
}

}  // namespace zoniq
