#include "measure/small_signal.hpp"

#include <algorithm>
#include <cmath>

#include "common/format.hpp"
#include "solver/equations.hpp"
#include "solver/interface_recombination.hpp"
#include "solver/linear_solvers.hpp"

namespace zoniq {

namespace {

constexpr int kKl = 5;  // band widths of the coupled Jacobian (three unknowns per point)
constexpr int kKu = 6;
constexpr int kLd = 2 * kKl + kKu + 1;
constexpr int kRefinements = 2;
constexpr double kSettled = 1e-7;

struct ComplexBand {
  int n = 0;
  Complex* a = nullptr;
  Complex& at(int r, int c) const { return a[(kKl + kKu + r - c) + static_cast<long>(c) * kLd]; }
};

// LU factorisation with partial pivoting in place (the diagonal keeps the reciprocal pivots);
// extent[j] is the last column of row j of U. Returns −1 − row of the first zero (or
// non-finite) pivot, else 0. The update runs down the columns (contiguous in band storage) and
// leaves out the structural zeros of the pivot row; the complex products are written out, as
// the library's operators guard every product against infinities the factors never hold.
int FactorComplexBand(const ComplexBand& A, int* pivots, int* extent) {
  const int n = A.n;
  int ju = 0;
  auto norm1 = [](Complex z) { return std::fabs(z.real()) + std::fabs(z.imag()); };
  for (int j = 0; j < n; ++j) {
    const int km = std::min(kKl, n - 1 - j);
    int p = j;
    double best = norm1(A.at(j, j));
    for (int i = j + 1; i <= j + km; ++i) {
      const double a = norm1(A.at(i, j));
      if (a > best) {
        best = a;
        p = i;
      }
    }
    pivots[j] = p;
    if (!(best > 0.0) || !std::isfinite(best)) return -1 - j;
    ju = std::max(ju, std::min(j + kKu + (p - j), n - 1));
    extent[j] = ju;
    if (p != j)
      for (int c = j; c <= ju; ++c) std::swap(A.at(j, c), A.at(p, c));
    const Complex piv = A.at(j, j);
    const double scale = 1.0 / std::max(std::fabs(piv.real()), std::fabs(piv.imag()));
    const double pr = piv.real() * scale, pi = piv.imag() * scale;  // no overflow in |piv|²
    const double q = scale / (pr * pr + pi * pi);
    const double ir = pr * q, ii = -pi * q;
    A.at(j, j) = Complex(ir, ii);
    double mr[kKl], mi[kKl];
    int rows = 0;
    for (int i = j + 1; i <= j + km; ++i) {
      const Complex a = A.at(i, j);
      mr[i - j - 1] = a.real() * ir - a.imag() * ii;
      mi[i - j - 1] = a.real() * ii + a.imag() * ir;
      A.at(i, j) = Complex(mr[i - j - 1], mi[i - j - 1]);
      if (mr[i - j - 1] != 0.0 || mi[i - j - 1] != 0.0) rows = i - j;
    }
    if (rows == 0) continue;
    for (int c = j + 1; c <= ju; ++c) {
      const Complex t = A.at(j, c);
      const double tr = t.real(), ti = t.imag();
      if (tr == 0.0 && ti == 0.0) continue;
      double* col = reinterpret_cast<double*>(&A.at(j + 1, c));
      for (int k = 0; k < rows; ++k) {
        col[2 * k] -= mr[k] * tr - mi[k] * ti;
        col[2 * k + 1] -= mr[k] * ti + mi[k] * tr;
      }
    }
  }
  return 0;
}

// Solution with the factors (b overwritten by x). Returns −1 on a non-finite value.
int SolveFactoredBand(const ComplexBand& LU, const int* pivots, const int* extent, Complex* b) {
  const int n = LU.n;
  for (int j = 0; j < n; ++j) {
    if (pivots[j] != j) std::swap(b[j], b[pivots[j]]);
    const double br = b[j].real(), bi = b[j].imag();
    if (br == 0.0 && bi == 0.0) continue;
    const int km = std::min(kKl, n - 1 - j);
    for (int i = j + 1; i <= j + km; ++i) {
      const Complex m = LU.at(i, j);
      b[i] = Complex(b[i].real() - (m.real() * br - m.imag() * bi), b[i].imag() - (m.real() * bi + m.imag() * br));
    }
  }
  for (int j = n - 1; j >= 0; --j) {
    double sr = b[j].real(), si = b[j].imag();
    for (int c = j + 1; c <= extent[j]; ++c) {
      const Complex u = LU.at(j, c);
      const double xr = b[c].real(), xi = b[c].imag();
      sr -= u.real() * xr - u.imag() * xi;
      si -= u.real() * xi + u.imag() * xr;
    }
    const Complex d = LU.at(j, j);
    b[j] = Complex(sr * d.real() - si * d.imag(), sr * d.imag() + si * d.real());
    if (!std::isfinite(b[j].real()) || !std::isfinite(b[j].imag())) return -1;
  }
  return 0;
}

// The rounding error of p = a·b, exactly (Dekker's splitting into 26-bit halves: plain
// arithmetic, where std::fma is a library call on processors chosen at run time).
inline double ProductError(double a, double b, double p) {
  constexpr double kSplit = 134217729.0;  // 2^27 + 1
  const double ca = kSplit * a, cb = kSplit * b;
  const double ah = ca - (ca - a), al = a - ah;
  const double bh = cb - (cb - b), bl = b - bh;
  return ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

// A sum of products carried in twice the working precision (error-free products and sums):
// the residuals of the refinement need the digits that cancel.
class Compensated {
 public:
  explicit Compensated(double start) : sum_(start) {}
  void AddProduct(double a, double b) {
    const double p = a * b;
    const double pe = ProductError(a, b, p);
    const double t = sum_ + p;
    const double z = t - sum_;
    error_ += (sum_ - (t - z)) + (p - z) + pe;
    sum_ = t;
  }
  double value() const { return sum_ + error_; }

 private:
  double sum_ = 0.0, error_ = 0.0;
};

// The shift of the bias at the right contact, per unknown (ψ, φn, φp): it leaves n and p as
// they are.
constexpr double kShift[3] = {-1.0, 1.0, 1.0};

// The split point: where the larger of the two carrier densities (in 1/m³) is smallest.
int SplitPoint(const CalculationVariables& cv) {
  const int N = cv.mesh.N;
  const CalculationParameters& par = *cv.par;
  int best = N / 2;
  double bestValue = 1e300;
  for (int l = 0; l < par.nlayers; ++l) {
    const double S = par.schaal.S[l];
    for (int i = std::max(cv.mesh.first[l], 1); i <= cv.mesh.last[l] && i <= N - 1; ++i) {
      const double n = cv.pt.Nn[i] * cv.Eplus[i] * (cv.u0[i] + cv.u[i]) * S;
      const double p = cv.pt.Np[i] * cv.Emin[i] * (cv.v0[i] + cv.v[i]) * S;
      const double m = std::max(n, p);
      if (m < bestValue) {
        bestValue = m;
        best = i;
      }
    }
  }
  return std::clamp(best, 1, std::max(N - 1, 1));
}

// The finite response of a defect with L > 1 levels at point j of its layer. Its L + 1 charge
// states s are linked by the transitions k (between s = k and k + 1): a gain of an electron at
// the rate A_k = cn_k·n + ep_k + gp_k, a loss at D_k = cp_k·p + en_k + gn_k. With the cumulative
// occupations y_k = Σ_{s ≤ k} δf_s (y_{−1} = y_L = 0, the states sum to one) the rate equations
// dδf_s/dt = δJ_{s−1} − δJ_s, δJ_k = A_k·δf_k − D_k·δf_{k+1} + cn_k·f_k·δn − cp_k·f_{k+1}·δp,
// become the tridiagonal system
//   (iω + A_k + D_k)·y_k − A_k·y_{k−1} − D_k·y_{k+1} = −(cn_k·f_k·δn − cp_k·f_{k+1}·δp).
// At ω = 0 it gives the instantaneous response the DC Jacobian already holds; the difference
// δf(ω) − δf(0) is added to the electron, hole and Poisson rows (row factors rows[0 … 2]) of the
// three columns (δψ, δφn, δφp) starting at `col`, through ∂Un/∂f_s, ∂Up/∂f_s and the charge.
void AddMultiLevelResponse(const BulkDefectRecord& d, std::size_t j, double n, double p, Complex iw,
                           const double rows[3], const ComplexBand& C, int col) {
  const int L = d.levels();
  for (int e = 0; e < d.axis.count; ++e) {
    const double Nt = d.record(e, 0).Nt[j] * d.axis.quadrature[static_cast<std::size_t>(e)];
    if (Nt == 0.0) continue;
    double A[MAXLEVELS], D[MAXLEVELS], f[MAXLEVELS + 1];
    double gn[MAXLEVELS], gp[MAXLEVELS];  // the drive per unit δn and per unit δp
    double dUn[MAXLEVELS + 1] = {}, dUp[MAXLEVELS + 1] = {};
    f[0] = d.record(e, 0).een_min_f[j];
    bool usable = true;
    for (int k = 0; k < L; ++k) {
      const LevelRecord& r = d.record(e, k);
      f[k + 1] = r.f[j];
      A[k] = r.cn[j] * n + r.ep[j] + r.gp_opt[j];
      D[k] = r.cp[j] * p + r.en[j] + r.gn_opt[j];
      usable = usable && A[k] + D[k] > 0.0;
      gn[k] = r.cn[j] * f[k];
      gp[k] = -r.cp[j] * f[k + 1];
      // Un = Nt·Σ_k (cn_k·n·f_k − (en_k + gn_k)·f_{k+1}), Up = Nt·Σ_k (cp_k·p·f_{k+1} − (ep_k + gp_k)·f_k).
      dUn[k] += Nt * r.cn[j] * n;
      dUn[k + 1] -= Nt * (r.en[j] + r.gn_opt[j]);
      dUp[k + 1] += Nt * r.cp[j] * p;
      dUp[k] -= Nt * (r.ep[j] + r.gp_opt[j]);
    }
    if (!usable) continue;
    // Columns: δn = n(δψ + δφn), δp = −p(δψ + δφp).
    Complex rhs[3][MAXLEVELS];
    for (int k = 0; k < L; ++k) {
      const double byN = gn[k] * n, byP = -gp[k] * p;
      rhs[0][k] = -(byN + byP);
      rhs[1][k] = -byN;
      rhs[2][k] = -byP;
    }
    // Thomas algorithm at ω and at 0, for the three columns at once.
    Complex dy[3][MAXLEVELS];
    for (int pass = 0; pass < 2; ++pass) {
      const Complex w = pass == 0 ? iw : Complex(0.0, 0.0);
      Complex cprime[MAXLEVELS], y[3][MAXLEVELS];
      Complex denom = w + A[0] + D[0];
      for (int c = 0; c < 3; ++c) y[c][0] = rhs[c][0] / denom;
      if (L > 1) cprime[0] = -D[0] / denom;
      for (int k = 1; k < L; ++k) {
        denom = w + A[k] + D[k] + A[k] * cprime[k - 1];
        if (k + 1 < L) cprime[k] = -D[k] / denom;
        for (int c = 0; c < 3; ++c) y[c][k] = (rhs[c][k] + A[k] * y[c][k - 1]) / denom;
      }
      for (int k = L - 2; k >= 0; --k)
        for (int c = 0; c < 3; ++c) y[c][k] -= cprime[k] * y[c][k + 1];
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < L; ++k) dy[c][k] = pass == 0 ? y[c][k] : dy[c][k] - y[c][k];
    }
    for (int c = 0; c < 3; ++c) {
      Complex e_row(0.0, 0.0), h_row(0.0, 0.0), q_row(0.0, 0.0);
      for (int s = 0; s <= L; ++s) {
        const Complex df = (s < L ? dy[c][s] : Complex(0.0, 0.0)) - (s > 0 ? dy[c][s - 1] : Complex(0.0, 0.0));
        e_row += dUn[s] * df;
        h_row += dUp[s] * df;
        // State s carries (code − 3) − s elementary charges (none for code 0).
        if (d.chargeCode != 0) q_row -= static_cast<double>(d.chargeCode - 3 - s) * Nt * df;
      }
      C.at(col + 1, col + c) += rows[0] * e_row;
      C.at(col + 2, col + c) += rows[1] * h_row;
      if (d.chargeCode != 0) C.at(col, col + c) += rows[2] * q_row;
    }
  }
}

// The free-carrier charging and the finite response of the bulk defects.
void AddDynamicTerms(const CalculationVariables& cv, const ComplexBand& C, double omega) {
  const CalculationParameters& par = *cv.par;
  const double* h = cv.mesh.h.data();
  const Complex iw(0.0, omega);
  for (int l = 0; l < par.nlayers; ++l) {
    const int f = cv.mesh.first[l], la = cv.mesh.last[l];
    const double mubarN = 0.5 * (cv.pt.mu_n[f] + cv.pt.mu_n[la]);
    const double mubarP = 0.5 * (cv.pt.mu_p[f] + cv.pt.mu_p[la]);
    const double inv4lambda = 1.0 / (4.0 * par.schaal.lambda[l]);
    for (int i = f + 1; i < la; ++i) {
      const double c2 = 0.5 * (h[i - 1] + h[i]);
      const double n = cv.pt.Nn[i] * cv.Eplus[i] * (cv.u0[i] + cv.u[i]);
      const double p = cv.pt.Np[i] * cv.Emin[i] * (cv.v0[i] + cv.v[i]);
      // Row scales of the continuity equations (the rate terms are divided by e^±ψ·N·μ̄).
      const double se = cv.Emin[i] * c2 / (cv.pt.Nn[i] * mubarN) * c2;
      const double sh = cv.Eplus[i] * c2 / (cv.pt.Np[i] * mubarP) * c2;
      const int re = 3 * i + 1, rh = 3 * i + 2, rp = 3 * i;
      // ∂n/∂t with δn = n(δψ + δφn), ∂p/∂t with δp = −p(δψ + δφp).
      C.at(re, 3 * i) += iw * (se * n);
      C.at(re, 3 * i + 1) += iw * (se * n);
      C.at(rh, 3 * i) -= iw * (sh * p);
      C.at(rh, 3 * i + 2) -= iw * (sh * p);
      const double q = (h[i - 1] + h[i]) * (h[i - 1] + h[i]) * inv4lambda;
      for (const BulkDefectRecord& d : cv.rec.layer[static_cast<std::size_t>(l)]) {
        const auto j = static_cast<std::size_t>(i - d.first);
        if (i - d.first < 0 || i - d.first >= d.count) continue;
        if (d.levels() > 1) {
          const double rows[3] = {se, sh, q};
          AddMultiLevelResponse(d, j, n, p, iw, rows, C, 3 * i);
          continue;
        }
        for (int k = 0; k < d.axis.count; ++k) {
          const LevelRecord& r = d.record(k, 0);
          const double Nt = r.Nt[j] * d.axis.quadrature[static_cast<std::size_t>(k)];
          if (Nt == 0.0) continue;
          const double ft = r.f[j], gt = r.een_min_f[j];
          const double cn = r.cn[j], cp = r.cp[j];
          const double Rn = cn * n + r.en[j] + r.gn_opt[j];  // rate at which a trapped electron leaves or recombines
          const double Rp = cp * p + r.ep[j] + r.gp_opt[j];
          const double S = Rn + Rp;
          if (!(S > 0.0)) continue;
          // δf(ω) − δf(0) = X·(1/(S + iω) − 1/S), X = cn(1−f)δn − cp·f·δp.
          const Complex K = 1.0 / (S + iw) - 1.0 / S;
          const double xn = cn * gt * n, xp = cp * ft * p;
          const Complex xs[3] = {K * (xn + xp), K * xn, K * xp};
          for (int c = 0; c < 3; ++c) {
            C.at(re, 3 * i + c) += -se * Nt * Rn * xs[c];
            C.at(rh, 3 * i + c) += sh * Nt * Rp * xs[c];
            if (d.chargeCode != 0) C.at(rp, 3 * i + c) += q * Nt * xs[c];
          }
        }
      }
    }
  }
}

// The finite response of the interface defects: each level's occupation relaxes at the rate D
// of its four capture and emission channels, δf = X/(D + iω) instead of the instantaneous X/D
// that the DC Jacobian holds, X = (1 − f)(c_nl·δn_p + c_nr·δn_f) − f·(c_pl·δp_p + c_pr·δp_f).
// The difference enters the rows that take the interface fluxes and charge.
void AddInterfaceDynamics(const CalculationVariables& cv, const ComplexBand& C, double omega_us) {
  const CalculationParameters& par = *cv.par;
  const double* h = cv.mesh.h.data();
  const double* eps = cv.pt.eps.data();
  const double gauss = par.schaal.L / (par.Vt * kEps0);
  const int interfaces = std::clamp(par.nlayers - 1, 0, MAXINTERFACES);
  for (int l = 0; l < interfaces; ++l) {
    const auto& defects = cv.ifrec.iface[static_cast<std::size_t>(l)];
    if (defects.empty()) continue;
    const int p = cv.mesh.last[l], f = cv.mesh.first[l + 1];
    if (p < 1 || f + 1 >= cv.mesh.N) continue;
    const InterfaceCarriers c = InterfaceCarriersOf(cv, l);
    const double r = par.schaal.S[l + 1] / par.schaal.S[l];
    // Rates of the records in units of Dmax/L per density of the left layer's scale.
    const double w = omega_us / (par.schaal.snelheid * par.schaal.S[l]);
    // Row factors of the interface fluxes (electron rows, hole rows) and of the charge.
    const double tpn = 2.0 * h[p - 1] / (cv.pt.mu_n[p - 1] + cv.pt.mu_n[p]);
    const double tfn = 2.0 * h[f] / (cv.pt.mu_n[f] + cv.pt.mu_n[f + 1]);
    const double tpp = 2.0 * h[p - 1] / (cv.pt.mu_p[p - 1] + cv.pt.mu_p[p]);
    const double tfp = 2.0 * h[f] / (cv.pt.mu_p[f] + cv.pt.mu_p[f + 1]);
    const double rowNp = cv.Emin[p] / cv.pt.Nn[p] * tpn, rowNf = cv.Emin[f] / cv.pt.Nn[f] * tfn;
    const double rowPp = cv.Eplus[p] / cv.pt.Np[p] * tpp, rowPf = cv.Eplus[f] / cv.pt.Np[f] * tfp;
    const double rowQ = -gauss * (h[f] + h[p - 1]) / (eps[f] + eps[p]);
    for (const InterfaceDefectRecord& d : defects) {
      const bool charged = d.input.chargeCode == DT_ACCEPTOR || d.input.chargeCode == DT_DONOR;
      for (const InterfaceLevelRecord& L : d.records) {
        // Tunnelling to the trap enhances each channel's capture and emission by 1 + Γ (exact
        // while the quasi-Fermi levels of the tunnelling points are those of the interface).
        const double a1 = (1.0 + L.gamma[kNLeft]) * L.c[kNLeft], a2 = (1.0 + L.gamma[kNRight]) * L.c[kNRight];
        const double b1 = (1.0 + L.gamma[kPLeft]) * L.c[kPLeft], b2 = (1.0 + L.gamma[kPRight]) * L.c[kPRight];
        const double D =
            a1 * (c.n_p + L.n1_left) + a2 * (c.n_f + L.n1_right) + b1 * (c.p_p + L.p1_left) + b2 * (c.p_f + L.p1_right);
        if (!(D > 0.0) || L.Nt == 0.0) continue;
        const Complex K = 1.0 / Complex(D, w) - 1.0 / D;
        const double ft = L.f, gt = L.een_min_f;
        // ∂X/∂(ψ, φn, φp) at p and at f.
        const double xnp = gt * a1 * c.n_p, xpp = ft * b1 * c.p_p;
        const double xnf = gt * a2 * c.n_f, xpf = ft * b2 * c.p_f;
        const double dX[6] = {xnp + xpp, xnp, xpp, xnf + xpf, xnf, xpf};
        // ∂F/∂f of each channel (fluxes in the density scale of their own side) and ∂σ/∂f.
        const double Nt = L.Nt;
        const double dFnl = -Nt * a1 * (c.n_p + L.n1_left), dFnr = -Nt * a2 * (c.n_f + L.n1_right) / r;
        const double dFpl = Nt * b1 * (c.p_p + L.p1_left), dFpr = Nt * b2 * (c.p_f + L.p1_right) / r;
        const double dSigma = charged ? -kQ * Nt : 0.0;
        for (int k = 0; k < 6; ++k) {
          const int col = k < 3 ? 3 * p + k : 3 * f + (k - 3);
          const Complex g = K * dX[k];
          C.at(3 * p + 1, col) += rowNp * dFnl * g;
          C.at(3 * f + 1, col) += rowNf * dFnr * g;
          C.at(3 * p + 2, col) += rowPp * dFpl * g;
          C.at(3 * f + 2, col) += rowPf * dFpr * g;
          if (charged) C.at(3 * p, col) += rowQ * dSigma * g;
        }
      }
    }
  }
}

// Linearised interval currents (electrons, holes) of the interval (i, i+1) of a layer for the
// perturbation x (the six values (δψ, δφn, δφp) of points i and i+1, in Vt), in A/m².
void IntervalCurrents(const CalculationVariables& cv, double scale, int i, const Complex* x, Complex& jn, Complex& jp) {
  const double* h = cv.mesh.h.data();
  const double w0 = cv.u0[i] + cv.u[i], w1 = cv.u0[i + 1] + cv.u[i + 1];
  const double v0 = cv.v0[i] + cv.v[i], v1 = cv.v0[i + 1] + cv.v[i + 1];
  const Complex dpsi0 = x[0], dpsi1 = x[3];
  {
    const double k = 0.5 * scale * (cv.pt.mu_n[i] + cv.pt.mu_n[i + 1]) / h[i] * cv.pt.Nn[i] * cv.Eplus[i];
    const double B = cv.Bnm[i + 1], dB = cv.dBnm[i + 1];
    jn = k * (B * (w1 * x[4] - w0 * x[1]) +
              CarrierDifference(cv.u0.data(), cv.u.data(), i + 1, i) * (B * dpsi0 + dB * (dpsi0 - dpsi1)));
  }
  {
    const double k = 0.5 * scale * (cv.pt.mu_p[i] + cv.pt.mu_p[i + 1]) / h[i] * cv.pt.Np[i] * cv.Emin[i];
    const double B = cv.Bpp[i + 1], dB = cv.dBpp[i + 1];
    jp = k * (B * (v1 * x[5] - v0 * x[2]) +
              CarrierDifference(cv.v0.data(), cv.v.data(), i, i + 1) * (-B * dpsi0 + dB * (dpsi1 - dpsi0)));
  }
}

}  // namespace

void AcWorkspace::resize(int N) {
  const auto n = static_cast<std::size_t>(3 * std::max(N, 1));
  if (realBand.size() < n * kLd) realBand.resize(n * kLd);
  if (band.size() < n * kLd) band.resize(n * kLd);
  if (factors.size() < n * kLd) factors.resize(n * kLd);
  if (original.size() < n) original.resize(n);
  if (correction.size() < n) correction.resize(n);
  if (rhs.size() < n) rhs.resize(n);
  if (pivots.size() < n) pivots.resize(n);
  if (extent.size() < n) extent.resize(n);
}

void AcSolution::resize(int N) {
  const auto n = static_cast<std::size_t>(std::max(N, 0));
  for (std::vector<Complex>* a : {&dpsi, &dphin, &dphip, &jn, &jp, &jd, &jtot}) a->assign(n, Complex(0.0, 0.0));
  Y = Complex(0.0, 0.0);
}

int bereken_klein_signaal(CalculationVariables& cv, double omega_us, AcWorkspace& ws, AcSolution& out,
                          std::string& message) {
  const int N = cv.mesh.N;
  out.resize(N);
  message.clear();
  if (N < 3 || cv.par == nullptr) {
    message = "There is no solved state to calculate the small-signal response from.";
    return -1;
  }
  const CalculationParameters& par = *cv.par;
  const int n = 3 * N;
  ws.resize(N);
  update_psivar(cv);
  if (ComputeDefectTerms(cv) < 0) {
    message = "The defect terms of the solved state cannot be evaluated.";
    return -1;
  }

  // The DC Jacobian −∂F/∂(ψ, u, v).
  BandMatrix A{n, kKl, kKu, ws.realBand.data()};
  CoupledJacobian(cv, A);

  // Columns in (ψ, φn, φp): δu = (u0 + u)·δφn, δv = −(v0 + v)·δφp.
  ComplexBand C{n, ws.band.data()};
  std::fill(ws.band.begin(), ws.band.begin() + static_cast<long>(n) * kLd, Complex(0.0, 0.0));
  for (int c = 0; c < n; ++c) {
    const int j = c / 3, var = c % 3;
    const double scale = var == 0 ? 1.0 : var == 1 ? cv.u0[j] + cv.u[j] : -(cv.v0[j] + cv.v[j]);
    for (int r = std::max(0, c - kKu); r <= std::min(n - 1, c + kKl); ++r) C.at(r, c) = A.at(r, c) * scale;
  }
  const double omega = omega_us * par.schaal.tijd;
  AddDynamicTerms(cv, C, omega);
  AddInterfaceDynamics(cv, C, omega_us);

  // The right-hand side of the split formulation (see the header).
  const int m = SplitPoint(cv);
  out.split = m;
  Complex* R = ws.rhs.data();
  // Only rows whose band reaches across the split see the shift.
  std::fill(R, R + n, Complex(0.0, 0.0));
  for (int r = std::max(0, 3 * m - kKu); r <= std::min(n - 1, 3 * m + kKl - 1); ++r) {
    const bool shiftedRow = r / 3 >= m;
    Complex s(0.0, 0.0);
    for (int c = std::max(0, r - kKl); c <= std::min(n - 1, r + kKu); ++c) {
      const bool shiftedCol = c / 3 >= m;
      if (shiftedCol != shiftedRow) s += C.at(r, c) * kShift[c % 3];
    }
    R[r] = shiftedRow ? s : -s;
  }

  // Rows of very different size (a continuity row is divided by the density prefactor only, so
  // where light raises a minority density by tens of decades its entries do too) are brought
  // to a largest entry of 1 first: partial pivoting then compares like with like.
  for (int r = 0; r < n; ++r) {
    double big = 0.0;
    for (int c = std::max(0, r - kKl); c <= std::min(n - 1, r + kKu); ++c)
      big = std::max(big, std::fabs(C.at(r, c).real()) + std::fabs(C.at(r, c).imag()));
    if (!(big > 0.0) || !std::isfinite(big)) continue;
    const double scale = 1.0 / big;
    for (int c = std::max(0, r - kKl); c <= std::min(n - 1, r + kKu); ++c) C.at(r, c) *= scale;
    R[r] *= scale;
  }

  // Factorise a copy and refine the solution with residuals in extended precision: the unknowns
  // of the majority carriers are tiny where their coefficients are huge, and only a residual
  // computed beyond double precision gets them right to their own last digits.
  std::copy(ws.band.begin(), ws.band.begin() + static_cast<long>(n) * kLd, ws.factors.begin());
  std::copy(R, R + n, ws.original.begin());
  ComplexBand LU{n, ws.factors.data()};
  int status = FactorComplexBand(LU, ws.pivots.data(), ws.extent.data());
  if (status == 0 && SolveFactoredBand(LU, ws.pivots.data(), ws.extent.data(), R) != 0) status = -1 - n + 1;
  for (int pass = 0; pass < kRefinements && status == 0; ++pass) {
    Complex* d = ws.correction.data();
    for (int r = 0; r < n; ++r) {
      Compensated re(ws.original[r].real()), im(ws.original[r].imag());
      for (int c = std::max(0, r - kKl); c <= std::min(n - 1, r + kKu); ++c) {
        // Most entries of the band are structural zeros or real (only the charging terms are
        // imaginary): their vanishing products are left out, which is exact.
        const Complex a = C.at(r, c);
        const double xr = R[c].real(), xi = R[c].imag();
        if (a.real() != 0.0) {
          re.AddProduct(-a.real(), xr);
          im.AddProduct(-a.real(), xi);
        }
        if (a.imag() != 0.0) {
          re.AddProduct(a.imag(), xi);
          im.AddProduct(-a.imag(), xr);
        }
      }
      d[r] = Complex(re.value(), im.value());
    }
    if (SolveFactoredBand(LU, ws.pivots.data(), ws.extent.data(), d) != 0) break;
    // The error left after a correction is of the order of the correction squared (relative
    // to each unknown): once no unknown moved by more than 1e-7 of itself, a further pass
    // would change the last digits only.
    bool settled = true;
    for (int r = 0; r < n; ++r) {
      settled = settled && std::norm(d[r]) <= kSettled * kSettled * std::norm(R[r]);
      R[r] += d[r];
    }
    if (settled) break;
  }
  if (status != 0) {
    const int point = std::clamp((-1 - status) / 3, 0, N - 1);
    message = "The small-signal system is singular at mesh point " + std::to_string(point) +
              " (x = " + fix(cv.mesh.xum[static_cast<std::size_t>(point)], 0, 4) +
              " um, f = " + sci(omega_us / 6.283185307179586, 0, 3) + " Hz): no admittance can be calculated there.";
    out.resize(N);
    return -1;
  }

  // The true perturbations.
  for (int i = 0; i < N; ++i) {
    const double sh = i >= m ? 1.0 : 0.0;
    out.dpsi[i] = R[3 * i] + sh * kShift[0];
    out.dphin[i] = R[3 * i + 1] + sh * kShift[1];
    out.dphip[i] = R[3 * i + 2] + sh * kShift[2];
  }

  // Currents per interval, averaged onto the points; the admittance is the length-weighted mean
  // of the total current over the intervals (the same everywhere up to the discretisation).
  Complex sum(0.0, 0.0);
  double length = 0.0;
  const double Vt = par.Vt;
  const Complex iw(0.0, omega_us);
  const double* h = cv.mesh.h.data();
  for (int l = 0; l < par.nlayers; ++l) {
    const int f = cv.mesh.first[l], la = cv.mesh.last[l];
    const double scale = kQ * par.schaal.S[l] * par.schaal.Dmax / par.schaal.L;
    Complex prevN, prevP, prevD;
    for (int i = f; i < la; ++i) {
      Complex jn, jp;
      IntervalCurrents(cv, scale, i, R + 3 * i, jn, jp);
      if (i + 1 == m) {
        // The interval across the split: its shifted end carries the shift itself.
        const Complex shift[6] = {0.0, 0.0, 0.0, kShift[0], kShift[1], kShift[2]};
        Complex sn, sp;
        IntervalCurrents(cv, scale, i, shift, sn, sp);
        jn += sn;
        jp += sp;
      }
      const double epsI = 0.5 * (cv.pt.eps[i] + cv.pt.eps[i + 1]);
      const Complex jd = -iw * kEps0 * epsI * Vt * (out.dpsi[i + 1] - out.dpsi[i]) / (h[i] * par.schaal.L);
      out.jn[i] = i == f ? jn : 0.5 * (prevN + jn);
      out.jp[i] = i == f ? jp : 0.5 * (prevP + jp);
      out.jd[i] = i == f ? jd : 0.5 * (prevD + jd);
      prevN = jn;
      prevP = jp;
      prevD = jd;
      sum += (jn + jp + jd) * h[i];
      length += h[i];
    }
    out.jn[la] = prevN;
    out.jp[la] = prevP;
    out.jd[la] = prevD;
  }
  for (int i = 0; i < N; ++i) {
    out.jn[i] /= Vt;
    out.jp[i] /= Vt;
    out.jd[i] /= Vt;
    out.jtot[i] = out.jn[i] + out.jp[i] + out.jd[i];
  }
  out.Y = length > 0.0 ? sum / (length * Vt) : Complex(0.0, 0.0);
  return 0;
}

Complex ExternalAdmittance(Complex Y, bool gshOn, double Gsh, bool rsOn, double Rs) {
  if (gshOn) Y += Gsh;
  if (rsOn && Y != Complex(0.0, 0.0)) Y = 1.0 / (1.0 / Y + Rs);
  return Y;
}

}  // namespace zoniq
