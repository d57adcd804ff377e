#include "solver/interface_recombination.hpp"

#include <algorithm>
#include <cmath>

#include "common/call_counts.hpp"
#include "common/format.hpp"
#include "solver/calculation_variables.hpp"
#include "solver/gummel.hpp"
#include "solver/tunneling.hpp"

namespace zoniq {

bool InterfaceRecombination::charged() const {
  for (const auto& v : iface)
    for (const InterfaceDefectRecord& d : v)
      if (d.input.chargeCode != DT_NEUTRAL) return true;
  return false;
}

InterfaceDefectInput MakeInterfaceDefectInput(const InterfaceRecombinationParameters& p, int interface, int defect) {
  InterfaceDefectInput d;
  d.interface = interface;
  d.defect = defect;
  d.chargeCode = p.type;
  d.Nt = p.N;
  d.sigma = {p.sigma_nleft, p.sigma_nright, p.sigma_pleft, p.sigma_pright};
  d.distribution = p.distribution;
  d.W = p.Ekar;
  d.Et = p.Et;
  d.reference = p.reference;
  d.tunneling = p.tunneling;
  d.me_rel = p.me_rel;
  d.mh_rel = p.mh_rel;
  return d;
}

std::string ValidateInterfaceDefect(const InterfaceDefectInput& d) {
  const std::string which =
      "Interface " + std::to_string(d.interface + 1) + ", interface defect " + std::to_string(d.defect + 1) + ": ";
  if (d.chargeCode < DT_NEUTRAL || d.chargeCode > DT_DONOR)
    return which + "the charge type must be neutral (0), acceptor-like (1) or donor-like (2), not " +
           std::to_string(d.chargeCode) + ".";
  if (!(d.Nt >= 0.0) || !std::isfinite(d.Nt))
    return which + "the defect density must be a finite number of at least 0 (N = " + num(d.Nt) + ").";
  for (double s : d.sigma)
    if (!(s >= 0.0) || !std::isfinite(s))
      return which + "every capture cross section must be a finite number of at least 0 (sigma = " + num(s) + ").";
  if (d.distribution < ED_SINGLE || d.distribution >= NDISTRIBUTIONS)
    return which + "unknown energy distribution " + std::to_string(d.distribution) + ".";
  if (d.distribution != ED_SINGLE && (!(d.W > 0.0) || !std::isfinite(d.W)))
    return which + "an energy distribution needs a positive characteristic energy (Ekar = " + num(d.W) + ").";
  if (!std::isfinite(d.Et)) return which + "the level energy must be a finite number.";
  if (d.reference < 0 || d.reference > 7)
    return which + "the reference of the defect energy must be 3 to 7, not " + std::to_string(d.reference) + ".";
  if (d.tunneling != 0 &&
      (!(d.me_rel > 0.0) || !(d.mh_rel > 0.0) || !std::isfinite(d.me_rel) || !std::isfinite(d.mh_rel)))
    return which + "tunnelling to the trap needs positive relative tunnel masses (electrons " + num(d.me_rel) +
           ", holes " + num(d.mh_rel) + ").";
  return {};
}

bool ValidateInterfaceDefects(const CellDefinition& cell, std::string& message) {
  message.clear();
  const int interfaces = std::clamp(cell.numberOfLayers - 1, 0, MAXINTERFACES);
  for (int l = 0; l < interfaces; ++l) {
    const InterfaceParameters& I = cell.interface[static_cast<std::size_t>(l)];
    if (I.numberOfDefects < 0 || I.numberOfDefects > MAXIFACEDEFECTS) {
      message = "Interface " + std::to_string(l + 1) + ": the number of interface defects must be 0 to " +
                std::to_string(MAXIFACEDEFECTS) + ".";
      return false;
    }
    for (int d = 0; d < I.numberOfDefects; ++d) {
      message = ValidateInterfaceDefect(MakeInterfaceDefectInput(I.ifr[static_cast<std::size_t>(d)], l, d));
      if (!message.empty()) return false;
    }
  }
  return true;
}

double InterfaceLevelAboveEvLeft(const InterfaceDefectInput& d, const InterfaceSides& s, double E) {
  const double dEc = s.chi_f - s.chi_p;      // > 0: the conduction band edge drops to the right
  const double dEv = s.Eg_p - dEc - s.Eg_f;  // Ev(right) − Ev(left)
  switch (d.reference) {
    case 4: {  // below the lower of the two conduction band edges
      const double EcRef = dEc <= 0.0 ? s.Eg_p : s.Eg_p - dEc;
      return EcRef - E;
    }
    case 5:  // above the intrinsic level of the left side
      return E + s.Eg_p / 2 + (s.Vt / 2) * std::log(s.NV_p / s.NC_p);
    case 6:  // above the intrinsic level of the right side
      return E + s.Eg_f / 2 + (s.Vt / 2) * std::log(s.NV_f / s.NC_f) + dEv;
    case 7:  // above the valence band edge of the right side
      return E + dEv;
    default:  // 0 to 3: above the higher of the two valence band edges
      return E + (dEv >= 0.0 ? dEv : 0.0);
  }
}

void ifr_input_energie(InterfaceDefectRecord& d, const InterfaceSides& s) {
  const double dEc = s.chi_f - s.chi_p;
  const double dEv = s.Eg_p - dEc - s.Eg_f;
  const double Et = InterfaceLevelAboveEvLeft(d.input, s, d.input.Et);
  const std::array<double, 4> vth{s.vthn_p, s.vthn_f, s.vthp_p, s.vthp_f};
  for (int k = 0; k < d.axis.count; ++k) {
    InterfaceLevelRecord& r = d.records[static_cast<std::size_t>(k)];
    const auto kk = static_cast<std::size_t>(k);
    // The axis runs on the energy above EV of the left side, so that a tail decays from its
    // level into the gap whatever the reference of the level energy.
    const double E = Et + d.axis.offset[kk];
    r.E = E;
    for (int ch = 0; ch < 4; ++ch) r.c[ch] = vth[ch] * d.input.sigma[ch];
    r.gamma.fill(0.0);
    // Emission densities, each side with its own band edges, all on the left scale.
    r.n1_left = s.NC_p * std::exp(-(s.Eg_p - E) / s.Vt);
    r.n1_right = s.r * s.NC_f * std::exp(-(s.Eg_p - E - dEc) / s.Vt);
    r.p1_left = s.NV_p * std::exp(-E / s.Vt);
    r.p1_right = s.r * s.NV_f * std::exp(-(E - dEv) / s.Vt);
    r.Nt = d.input.Nt * d.axis.weight[kk] * d.axis.quadrature[kk];
  }
}

void ifrdcbijdrage_een_niveau_tunnel(InterfaceLevelRecord& r, const InterfaceCarriers& c, int chargeCode, double rRight,
                                     InterfaceLevelTerms& out) {
  // Effective capture coefficients with the tunnel enhancement of each channel.
  const double a1 = (1.0 + r.gamma[kNLeft]) * r.c[kNLeft];
  const double a2 = (1.0 + r.gamma[kNRight]) * r.c[kNRight];
  const double b1 = (1.0 + r.gamma[kPLeft]) * r.c[kPLeft];
  const double b2 = (1.0 + r.gamma[kPRight]) * r.c[kPRight];
  const double n1L = r.n1_left, n1R = r.n1_right, p1L = r.p1_left, p1R = r.p1_right;
  const double np = c.n_p, nf = c.n_f, pp = c.p_p, pf = c.p_f;
  const double A = a1 * np + a2 * nf + b1 * p1L + b2 * p1R;  // numerator of f
  const double B = a1 * n1L + a2 * n1R + b1 * pp + b2 * pf;  // numerator of 1 − f
  const double D = A + B;
  if (!(D > 0.0)) return;  // a level that captures nothing (all cross sections zero)
  const double invD = 1.0 / D, invD2 = invD * invD;
  r.f = A * invD;
  r.een_min_f = B * invD;
  const double Nt = r.Nt;

  // Charge and its derivatives with respect to (n_p, n_f, p_p, p_f): ∂f = (A′·B − A·B′)/D².
  if (chargeCode == DT_ACCEPTOR || chargeCode == DT_DONOR) {
    out.sigma += chargeCode == DT_ACCEPTOR ? -kQ * Nt * r.f : kQ * Nt * r.een_min_f;
    const double g = -kQ * Nt * invD2;  // both codes: ∂σ = −q·Nt·∂f
    out.dsigma[0] += g * a1 * B;
    out.dsigma[1] += g * a2 * B;
    out.dsigma[2] -= g * b1 * A;
    out.dsigma[3] -= g * b2 * A;
  }

  // Net capture numerators, written as differences of products that vanish one by one in
  // equilibrium (n·p = n1·p1 on each side, n_p·n1_right = n_f·n1_left across).
  const std::array<double, 4> num{
      a2 * (np * n1R - nf * n1L) + b1 * (np * pp - n1L * p1L) + b2 * (np * pf - n1L * p1R),  // electrons, left
      a1 * (nf * n1L - np * n1R) + b1 * (nf * pp - n1R * p1L) + b2 * (nf * pf - n1R * p1R),  // electrons, right
      a1 * (pp * np - p1L * n1L) + a2 * (pp * nf - p1L * n1R) + b2 * (pp * p1R - p1L * pf),  // holes, left
      a1 * (pf * np - p1R * n1L) + a2 * (pf * nf - p1R * n1R) + b1 * (pf * p1L - p1R * pp),  // holes, right
  };
  // ∂num/∂(n_p, n_f, p_p, p_f).
  const std::array<std::array<double, 4>, 4> dnum{{
      {a2 * n1R + b1 * pp + b2 * pf, -a2 * n1L, b1 * np, b2 * np},
      {-a1 * n1R, a1 * n1L + b1 * pp + b2 * pf, b1 * nf, b2 * nf},
      {a1 * pp, a2 * pp, a1 * np + a2 * nf + b2 * p1R, -b2 * p1L},
      {a1 * pf, a2 * pf, -b1 * p1R, a1 * np + a2 * nf + b1 * p1L},
  }};
  const std::array<double, 4> dD{a1, a2, b1, b2};
  // Each flux in the density scale of its own side: the right channels are divided by
  // S_right/S_left.
  const double invR = 1.0 / rRight;
  const std::array<double, 4> side{1.0, invR, 1.0, invR};
  for (int ch = 0; ch < 4; ++ch) {
    const double K = Nt * r.c[ch] * side[ch];
    const double F = K * num[ch] * invD;
    out.F[ch] += F;
    out.Ft[ch] += (1.0 + r.gamma[ch]) * F;
    for (int x = 0; x < 4; ++x) out.dF[ch][x] += K * (dnum[ch][x] * D - num[ch] * dD[x]) * invD2;
  }
}

void ifrdcbijdrage_distributie(InterfaceDefectRecord& d, const InterfaceCarriers& c, double rRight,
                               InterfaceLevelTerms& out) {
  // The records carry the trapezoid weights in their densities.
  for (InterfaceLevelRecord& r : d.records) ifrdcbijdrage_een_niveau_tunnel(r, c, d.input.chargeCode, rRight, out);
}

void FreeIFRecdataStructures(InterfaceRecombination& rec) {
  for (auto& v : rec.iface) v.clear();
  for (auto& row : rec.exists) row.fill(0);
}

void CreateIFRecdataStructures(CalculationVariables& cv) {
  CalculationParameters& par = *cv.par;
  FreeIFRecdataStructures(cv.ifrec);
  const int interfaces = std::clamp(par.nlayers - 1, 0, MAXINTERFACES);
  std::string warning;
  const int n = LimitDefectDiscretisations(par.defectdiscretisations, warning);
  for (int l = 0; l < interfaces; ++l) {
    const InterfaceParameters& I = par.cell.interface[static_cast<std::size_t>(l)];
    const int defects = std::clamp(I.numberOfDefects, 0, MAXIFACEDEFECTS);
    for (int m = 0; m < defects; ++m) {
      InterfaceDefectRecord d;
      d.input = MakeInterfaceDefectInput(I.ifr[static_cast<std::size_t>(m)], l, m);
      d.axis = bereken_energie_as(d.input.distribution, d.input.W, n, par.widthtail, par.widthgauss);
      d.records.assign(static_cast<std::size_t>(d.axis.count), InterfaceLevelRecord{});
      cv.ifrec.iface[static_cast<std::size_t>(l)].push_back(std::move(d));
      cv.ifrec.exists[static_cast<std::size_t>(l)][static_cast<std::size_t>(m)] = 1;
    }
  }
}

namespace {

InterfaceSides SidesOf(const CalculationVariables& cv, int l) {
  const PointData& pt = cv.pt;
  const int p = cv.mesh.last[l], f = cv.mesh.first[l + 1];
  InterfaceSides s;
  s.Eg_p = pt.Eg[p];
  s.Eg_f = pt.Eg[f];
  s.chi_p = pt.chi[p];
  s.chi_f = pt.chi[f];
  s.NC_p = pt.NC[p];
  s.NV_p = pt.NV[p];
  s.NC_f = pt.NC[f];
  s.NV_f = pt.NV[f];
  s.vthn_p = pt.vth_n[p];
  s.vthp_p = pt.vth_p[p];
  s.vthn_f = pt.vth_n[f];
  s.vthp_f = pt.vth_p[f];
  s.r = cv.par->schaal.S[l + 1] / cv.par->schaal.S[l];
  s.Vt = cv.par->Vt;
  return s;
}

}  // namespace

void FillInterfaceDefectRecords(CalculationVariables& cv) {
  const int interfaces = std::clamp(cv.par->nlayers - 1, 0, MAXINTERFACES);
  for (int l = 0; l < interfaces; ++l) {
    if (cv.ifrec.iface[static_cast<std::size_t>(l)].empty()) continue;
    const InterfaceSides s = SidesOf(cv, l);
    for (InterfaceDefectRecord& d : cv.ifrec.iface[static_cast<std::size_t>(l)]) {
      CountCall(cv, CallCounter::ifr_input_energie);
      ifr_input_energie(d, s);
    }
  }
}

InterfaceCarriers InterfaceCarriersOf(const CalculationVariables& cv, int l) {
  const int p = cv.mesh.last[l], f = cv.mesh.first[l + 1];
  const double r = cv.par->schaal.S[l + 1] / cv.par->schaal.S[l];
  InterfaceCarriers c;
  c.n_p = cv.pt.Nn[p] * cv.Eplus[p] * (cv.u0[p] + cv.u[p]);
  c.p_p = cv.pt.Np[p] * cv.Emin[p] * (cv.v0[p] + cv.v[p]);
  c.n_f = r * cv.pt.Nn[f] * cv.Eplus[f] * (cv.u0[f] + cv.u[f]);
  c.p_f = r * cv.pt.Np[f] * cv.Emin[f] * (cv.v0[f] + cv.v[f]);
  return c;
}

double InterfaceOccupation(const InterfaceLevelRecord& r, const InterfaceCarriers& c) {
  InterfaceLevelRecord copy = r;
  InterfaceLevelTerms unused;
  ifrdcbijdrage_een_niveau_tunnel(copy, c, DT_NEUTRAL, 1.0, unused);
  return copy.f;
}

namespace {

// One capture channel of a level with trap-assisted tunnelling.
struct TrapChannel {
  bool electrons = true;
  int s = 0, dir = 1, kEnd = 0;  // its interface point, the walk's direction and last point
  double W = 0.0;                // Γ, the sum of its weights
  double D = 0.0;                // density factor at s on the left scale: n_s = D·X_s
  double q = 0.0;                // ∂ñ/∂X_s = D/(1 + Γ)
  double nt = 0.0;               // ñ, the effective density
  double K = 0.0;                // Nt·c, divided by S_right/S_left for a channel of the right side
  const double* w = nullptr;     // weights per point (valid from s + dir to kEnd)
  const double* X = nullptr;     // u or v
  const double* X0 = nullptr;    // the offsets of u or v
};

// Row scale of a continuity row (J = −∂F/∂X per unit of flux arriving at the row): the factor
// with which the equations take a capture flux at an interface point or a divergence of the
// interval currents at an interior point.
double ContinuityRowScale(const CalculationVariables& cv, bool electrons, int i, int l) {
  const double* h = cv.mesh.h.data();
  const double* mu = electrons ? cv.pt.mu_n.data() : cv.pt.mu_p.data();
  const double D = electrons ? cv.pt.Nn[i] * cv.Eplus[i] : cv.pt.Np[i] * cv.Emin[i];
  if (i == cv.mesh.last[l] && l + 1 < cv.par->nlayers) return 2.0 * h[i - 1] / (mu[i - 1] + mu[i]) / D;
  if (i == cv.mesh.first[l] && l > 0) return 2.0 * h[i] / (mu[i] + mu[i + 1]) / D;
  const double mubar = 0.5 * (mu[cv.mesh.first[l]] + mu[cv.mesh.last[l]]);
  return 0.5 * (h[i - 1] + h[i]) / (D * mubar);
}

// Dense block of Jacobian elements over the points first(l) … last(l+1) of interface l.
struct TrapBlock {
  std::vector<double>* a = nullptr;
  int base = 0, m = 0, lo = 0, hi = -1;
  void open(std::vector<double>& storage, int first, int last) {
    a = &storage;
    base = first;
    m = last - first + 1;
    const std::size_t need = static_cast<std::size_t>(m) * static_cast<std::size_t>(m);
    if (a->size() < need) a->assign(need, 0.0);
    lo = last + 1;
    hi = first - 1;
  }
  double& at(int r, int c) {
    lo = std::min({lo, r, c});
    hi = std::max({hi, r, c});
    return (*a)[static_cast<std::size_t>(r - base) * static_cast<std::size_t>(m) + static_cast<std::size_t>(c - base)];
  }
  // Moves the nonzero elements to the sparse list and clears the block.
  void flush(std::vector<SparseElement>& out) {
    for (int r = lo; r <= hi; ++r)
      for (int c = lo; c <= hi; ++c) {
        double& v =
            (*a)[static_cast<std::size_t>(r - base) * static_cast<std::size_t>(m) + static_cast<std::size_t>(c - base)];
        if (v != 0.0) out.push_back({r, c, v});
        v = 0.0;
      }
  }
};

// The terms of one level with trap-assisted tunnelling at interface l, added to the block and to
// the per-point sinks and Jacobian blocks. ch: the channels with their weights already computed.
void TrapLevelTerms(CalculationVariables& cv, int l, InterfaceLevelRecord& r, int chargeCode,
                    std::array<TrapChannel, 4>& ch, std::array<TrapBlock, 2>& blocks) {
  InterfaceTermBlock& b = cv.ifr;
  const int p = cv.mesh.last[l];
  // Enhanced coefficients a = (1 + Γ)·c, emission densities e and effective densities ñ.
  std::array<double, 4> a{}, e{r.n1_left, r.n1_right, r.p1_left, r.p1_right}, nt{};
  for (int c = 0; c < 4; ++c) {
    r.gamma[c] = ch[c].W;
    a[c] = (1.0 + ch[c].W) * r.c[c];
    nt[c] = ch[c].nt;
  }
  const double A = a[0] * nt[0] + a[1] * nt[1] + a[2] * e[2] + a[3] * e[3];  // numerator of f
  const double B = a[0] * e[0] + a[1] * e[1] + a[2] * nt[2] + a[3] * nt[3];  // numerator of 1 − f
  const double D = A + B;
  if (!(D > 0.0)) return;
  const double invD = 1.0 / D, invD2 = invD * invD;
  r.f = A * invD;
  r.een_min_f = B * invD;
  const double Nt = r.Nt;
  auto sameType = [](int c, int x) { return (c < 2) == (x < 2); };

  // Charge: ∂σ/∂ñ_x = −q·Nt·∂f/∂ñ_x for both charged codes.
  std::array<double, 4> dsig{};
  if (chargeCode == DT_ACCEPTOR || chargeCode == DT_DONOR) {
    b.sigma[l] += chargeCode == DT_ACCEPTOR ? -kQ * Nt * r.f : kQ * Nt * r.een_min_f;
    for (int x = 0; x < 4; ++x) dsig[x] = -kQ * Nt * ((x < 2 ? a[x] : 0.0) * D - A * a[x]) * invD2;
  }

  // The flux of channel c for the own density y: K·(y·P − Q)/D, P = B for electrons and A for
  // holes, Q = e_c·A or e_c·B; its value in differences that vanish one by one when y = ñ_c
  // and the quasi-Fermi levels are flat.
  auto flux = [&](int c, double y) {
    double n = a[c] * e[c] * (y - nt[c]);
    for (int x = 0; x < 4; ++x) {
      if (x == c) continue;
      n += sameType(c, x) ? a[x] * (y * e[x] - nt[x] * e[c]) : a[x] * (y * nt[x] - e[c] * e[x]);
    }
    return ch[c].K * n * invD;
  };
  // Derivatives of the flux: ∂/∂y = K·P/D and ∂/∂ñ_x = α_x + y·β_x.
  std::array<double, 4> P{}, Q{};
  std::array<std::array<double, 4>, 4> alpha{}, beta{};
  for (int c = 0; c < 4; ++c) {
    P[c] = c < 2 ? B : A;
    Q[c] = e[c] * (c < 2 ? A : B);
    for (int x = 0; x < 4; ++x) {
      const double dP = sameType(c, x) ? 0.0 : a[x];
      const double dQ = sameType(c, x) ? e[c] * a[x] : 0.0;
      alpha[c][x] = ch[c].K * (-dQ * D + Q[c] * a[x]) * invD2;
      beta[c][x] = ch[c].K * (dP * D - P[c] * a[x]) * invD2;
    }
  }

  // ψ-dependence of the densities: ñ and D·X scale with e^(±ψ) of their interface point.
  auto sgn = [](int x) { return x < 2 ? 1.0 : -1.0; };
  auto atP = [&](int x) { return ch[x].s == p; };
  struct Out {
    std::array<double, MAXINTERFACES>*F, *Ft, *dp, *df, *dpsip, *dpsif, *dop, *dof;
  };
  const std::array<Out, 4> out{{
      {&b.Fn_left, &b.Fn_left_t, &b.dFn_left_dup, &b.dFn_left_duf, &b.dFn_left_dpsip, &b.dFn_left_dpsif,
       &b.dFn_left_dvp, &b.dFn_left_dvf},
      {&b.Fn_right, &b.Fn_right_t, &b.dFn_right_dup, &b.dFn_right_duf, &b.dFn_right_dpsip, &b.dFn_right_dpsif,
       &b.dFn_right_dvp, &b.dFn_right_dvf},
      {&b.Fp_left, &b.Fp_left_t, &b.dFp_left_dvp, &b.dFp_left_dvf, &b.dFp_left_dpsip, &b.dFp_left_dpsif,
       &b.dFp_left_dup, &b.dFp_left_duf},
      {&b.Fp_right, &b.Fp_right_t, &b.dFp_right_dvp, &b.dFp_right_dvf, &b.dFp_right_dpsip, &b.dFp_right_dpsif,
       &b.dFp_right_dup, &b.dFp_right_duf},
  }};
  // σ: the chain to the variables at p and f.
  for (int x = 0; x < 4; ++x) {
    const double dpsi = dsig[x] * sgn(x) * nt[x];
    (atP(x) ? b.dsigma_dpsip : b.dsigma_dpsif)[l] += dpsi;
    b.dsigma_dpsi[l] += dpsi;
    const double dX = dsig[x] * ch[x].q;
    if (x < 2)
      (atP(x) ? b.dsigma_dup : b.dsigma_duf)[l] += dX;
    else
      (atP(x) ? b.dsigma_dvp : b.dsigma_dvf)[l] += dX;
  }

  for (int c = 0; c < 4; ++c) {
    const TrapChannel& C = ch[c];
    const bool own = c < 2;  // the channel's carrier: electrons for 0, 1
    const Out& o = out[c];
    const double y = C.D * (C.X0[C.s] + C.X[C.s]);
    const double Fd = flux(c, y);
    const double gy = C.K * P[c] * invD;
    (*o.F)[l] += Fd;
    double Ft = Fd;
    // The direct flux at the variables of both interface points.
    double dpsi[2] = {0.0, 0.0}, dOwn[2] = {0.0, 0.0}, dOther[2] = {0.0, 0.0};
    const int sideC = atP(c) ? 0 : 1;
    dOwn[sideC] += gy * C.D;
    dpsi[sideC] += gy * sgn(c) * y;
    for (int x = 0; x < 4; ++x) {
      const double g = alpha[c][x] + y * beta[c][x];
      const int sx = atP(x) ? 0 : 1;
      dpsi[sx] += g * sgn(x) * nt[x];
      (sameType(c, x) ? dOwn : dOther)[sx] += g * ch[x].q;
    }
    (*o.dp)[l] += dOwn[0];
    (*o.df)[l] += dOwn[1];
    (*o.dpsip)[l] += dpsi[0];
    (*o.dpsif)[l] += dpsi[1];
    (*o.dop)[l] += dOther[0];
    (*o.dof)[l] += dOther[1];

    TrapBlock& blk = blocks[own ? 0 : 1];
    const int layerS = atP(c) ? l : l + 1;
    // The direct flux at the carriers of the points that tunnel (through ñ of the channels of
    // the same carrier): off the tridiagonal band.
    const double rowS = ContinuityRowScale(cv, own, C.s, layerS);
    for (int x = 0; x < 4; ++x) {
      if (!sameType(c, x) || ch[x].W == 0.0) continue;
      const double g = (alpha[c][x] + y * beta[c][x]) * ch[x].q * rowS;
      for (int j = ch[x].s + ch[x].dir; j != ch[x].kEnd + ch[x].dir; j += ch[x].dir)
        if (ch[x].w[j] != 0.0) blk.at(C.s, j) += g * ch[x].w[j];
    }
    if (C.W == 0.0) {
      (*o.Ft)[l] += Ft;
      continue;
    }
    // The tunnel part at every point k: w_k·flux(D·X_k), taken from k's row.
    std::vector<double>& sink = own ? b.sinkN : b.sinkP;
    for (int k = C.s + C.dir; k != C.kEnd + C.dir; k += C.dir) {
      const double wk = C.w[k];
      if (wk == 0.0) continue;
      const double yk = C.D * (C.X0[k] + C.X[k]);
      const double phi = wk * flux(c, yk);
      sink[k] += phi;
      Ft += phi;
      const double rs = ContinuityRowScale(cv, own, k, layerS) * wk;
      blk.at(k, k) += rs * gy * C.D;
      for (int x = 0; x < 4; ++x) {
        if (!sameType(c, x)) continue;
        const double g = (alpha[c][x] + yk * beta[c][x]) * ch[x].q * rs;
        blk.at(k, ch[x].s) += g;
        if (ch[x].W == 0.0) continue;
        for (int j = ch[x].s + ch[x].dir; j != ch[x].kEnd + ch[x].dir; j += ch[x].dir)
          if (ch[x].w[j] != 0.0) blk.at(k, j) += g * ch[x].w[j];
      }
    }
    (*o.Ft)[l] += Ft;
  }
}

// Turns the fluxes that leave the points of interface l's two layers for its traps into interval
// currents towards the interface (particle flux in +x), and clears them.
void TrapSinksToCurrents(CalculationVariables& cv, int l, std::vector<double>& sink, std::vector<double>& current) {
  const int p = cv.mesh.last[l], f = cv.mesh.first[l + 1];
  double acc = 0.0;
  for (int j = cv.mesh.first[l]; j < p; ++j) {
    acc += sink[j];
    sink[j] = 0.0;
    current[j] += acc;
  }
  acc = 0.0;
  for (int j = cv.mesh.last[l + 1] - 1; j >= f; --j) {
    acc += sink[j + 1];
    sink[j + 1] = 0.0;
    current[j] -= acc;
  }
}

// Every defect of interface l with trap-assisted tunnelling: for each of its levels the weights
// of the four channels, then the level's terms. The Jacobian elements off the tridiagonal rows
// go to the sparse lists of the interface block, the tunnel fluxes to the sinks.
void TrapTunnellingTerms(CalculationVariables& cv, int l, double dn_dup, double dn_duf, double dp_dvp, double dp_dvf,
                         double r) {
  InterfaceTermBlock& b = cv.ifr;
  const int p = cv.mesh.last[l], f = cv.mesh.first[l + 1];
  const double Vt = cv.par->Vt;
  std::array<TrapBlock, 2> blocks;
  blocks[0].open(b.blockN.v, cv.mesh.first[l], cv.mesh.last[l + 1]);
  blocks[1].open(b.blockP.v, cv.mesh.first[l], cv.mesh.last[l + 1]);
  const std::array<double, 4> Dc{dn_dup, dn_duf, dp_dvp, dp_dvf};
  for (InterfaceDefectRecord& d : cv.ifrec.iface[static_cast<std::size_t>(l)]) {
    if (d.input.tunneling == 0) continue;
    for (InterfaceLevelRecord& rec : d.records) {
      std::array<TrapChannel, 4> ch;
      // The level on each carrier's band profile: below the conduction band edge at p by
      // Eg(p) − E′, above the (mirrored) valence band edge by E′.
      const double EtN = b.bandN[p] - (cv.pt.Eg[p] - rec.E) / Vt;
      const double EtP = b.bandP[p] - rec.E / Vt;
      for (int c = 0; c < 4; ++c) {
        TrapChannel& C = ch[c];
        C.electrons = c < 2;
        C.dir = (c == kNLeft || c == kPLeft) ? -1 : 1;
        C.s = C.dir < 0 ? p : f;
        C.D = Dc[c];
        C.X = C.electrons ? cv.u.data() : cv.v.data();
        C.X0 = C.electrons ? cv.u0.data() : cv.v0.data();
        C.K = rec.Nt * rec.c[c] * (C.dir < 0 ? 1.0 : 1.0 / r);
        std::vector<double>& w = b.weight[static_cast<std::size_t>(c)];
        C.w = w.data();
        C.kEnd = C.s;
        if (rec.c[c] > 0.0)
          C.W =
              interfaceTrapTunneling(cv, C.electrons ? kElectrons : kHoles, C.electrons ? b.bandN : b.bandP, l, C.dir,
                                     C.electrons ? EtN : EtP, C.electrons ? d.input.me_rel : d.input.mh_rel, w, C.kEnd);
        if (C.W == 0.0) C.kEnd = C.s;
        // ñ = D·(X_s + Σ w_k·X_k)/(1 + Γ), with Γ summed here in the order of the other sum, so
        // that ñ is exactly D·X_s for a flat quasi-Fermi level.
        double W = 0.0, S = 0.0;
        for (int k = C.s + C.dir; k != C.kEnd + C.dir; k += C.dir) {
          W += w[k];
          S += w[k] * (C.X0[k] + C.X[k]);
        }
        C.W = W;
        C.nt = C.D * ((C.X0[C.s] + C.X[C.s]) + S) / (1.0 + W);
        C.q = C.D / (1.0 + C.W);
      }
      TrapLevelTerms(cv, l, rec, d.input.chargeCode, ch, blocks);
    }
  }
  blocks[0].flush(b.sparse_n);
  blocks[1].flush(b.sparse_p);
}

}  // namespace

void totale_ifrdcbijdrage(CalculationVariables& cv) {
  InterfaceTermBlock& b = cv.ifr;
  // Tunnel currents to interface traps of an earlier cell calculated with this record.
  if (cv.tunnel.interfacePresent) {
    std::fill(b.jn_iface.begin(), b.jn_iface.end(), 0.0);
    std::fill(b.jp_iface.begin(), b.jp_iface.end(), 0.0);
    b.sparse_n.clear();
    b.sparse_p.clear();
  }
  // Only interface defects write the block; without them it keeps what it holds (zeros).
  if (cv.ifrec.empty()) return;
  b.clearTerms();
  const int interfaces = std::clamp(cv.par->nlayers - 1, 0, MAXINTERFACES);
  bool trap = false;
  for (const auto& v : cv.ifrec.iface)
    for (const InterfaceDefectRecord& d : v) trap = trap || d.input.tunneling != 0;
  if (trap) {
    if (!cv.tunnel.interfacePresent) {
      std::fill(b.jn_iface.begin(), b.jn_iface.end(), 0.0);
      std::fill(b.jp_iface.begin(), b.jp_iface.end(), 0.0);
    }
    BandProfileOf(cv, kElectrons, b.bandN);
    BandProfileOf(cv, kHoles, b.bandP);
  }
  for (int l = 0; l < interfaces; ++l) {
    auto& defects = cv.ifrec.iface[static_cast<std::size_t>(l)];
    if (defects.empty()) continue;
    const int p = cv.mesh.last[l], f = cv.mesh.first[l + 1];
    const double r = cv.par->schaal.S[l + 1] / cv.par->schaal.S[l];
    // Densities and their derivatives with respect to the variables, on the left scale.
    const double dn_dup = cv.pt.Nn[p] * cv.Eplus[p], dp_dvp = cv.pt.Np[p] * cv.Emin[p];
    const double dn_duf = r * cv.pt.Nn[f] * cv.Eplus[f], dp_dvf = r * cv.pt.Np[f] * cv.Emin[f];
    InterfaceCarriers c;
    c.n_p = dn_dup * (cv.u0[p] + cv.u[p]);
    c.p_p = dp_dvp * (cv.v0[p] + cv.v[p]);
    c.n_f = dn_duf * (cv.u0[f] + cv.u[f]);
    c.p_f = dp_dvf * (cv.v0[f] + cv.v[f]);
    InterfaceLevelTerms t;
    for (InterfaceDefectRecord& d : defects)
      if (d.input.tunneling == 0) ifrdcbijdrage_distributie(d, c, r, t);

    // From derivatives with respect to the densities (n_p, n_f, p_p, p_f) to the variables:
    // ∂n/∂ψ = n, ∂p/∂ψ = −p, ∂n/∂u = Nn·e^ψ, ∂p/∂v = Np·e^−ψ.
    struct Chain {
      double psip, psif, up, uf, vp, vf;
    };
    auto chain = [&](const std::array<double, 4>& g) {
      return Chain{g[0] * c.n_p - g[2] * c.p_p,
                   g[1] * c.n_f - g[3] * c.p_f,
                   g[0] * dn_dup,
                   g[1] * dn_duf,
                   g[2] * dp_dvp,
                   g[3] * dp_dvf};
    };
    const Chain s = chain(t.dsigma);
    b.sigma[l] = t.sigma;
    b.dsigma_dpsi[l] = s.psip + s.psif;
    b.dsigma_dpsip[l] = s.psip;
    b.dsigma_dpsif[l] = s.psif;
    b.dsigma_dup[l] = s.up;
    b.dsigma_duf[l] = s.uf;
    b.dsigma_dvp[l] = s.vp;
    b.dsigma_dvf[l] = s.vf;

    // One flux, its tunnel part and its derivatives into the arrays the equations read.
    using PerInterface = std::array<double, MAXINTERFACES>;
    auto store = [&](int k, PerInterface& F, PerInterface& Ft, PerInterface& dup, PerInterface& duf,
                     PerInterface& dpsip, PerInterface& dpsif, PerInterface& dvp, PerInterface& dvf) {
      const Chain c = chain(t.dF[k]);
      F[l] = t.F[k];
      Ft[l] = t.Ft[k];
      dup[l] = c.up;
      duf[l] = c.uf;
      dpsip[l] = c.psip;
      dpsif[l] = c.psif;
      dvp[l] = c.vp;
      dvf[l] = c.vf;
    };
    store(kNLeft, b.Fn_left, b.Fn_left_t, b.dFn_left_dup, b.dFn_left_duf, b.dFn_left_dpsip, b.dFn_left_dpsif,
          b.dFn_left_dvp, b.dFn_left_dvf);
    store(kNRight, b.Fn_right, b.Fn_right_t, b.dFn_right_dup, b.dFn_right_duf, b.dFn_right_dpsip, b.dFn_right_dpsif,
          b.dFn_right_dvp, b.dFn_right_dvf);
    store(kPLeft, b.Fp_left, b.Fp_left_t, b.dFp_left_dup, b.dFp_left_duf, b.dFp_left_dpsip, b.dFp_left_dpsif,
          b.dFp_left_dvp, b.dFp_left_dvf);
    store(kPRight, b.Fp_right, b.Fp_right_t, b.dFp_right_dup, b.dFp_right_duf, b.dFp_right_dpsip, b.dFp_right_dpsif,
          b.dFp_right_dvp, b.dFp_right_dvf);
    if (trap) TrapTunnellingTerms(cv, l, dn_dup, dn_duf, dp_dvp, dp_dvf, r);
  }
  if (trap) {
    cv.tunnel.interfacePresent = 1;
    for (int l = 0; l < interfaces; ++l) {
      if (cv.ifrec.iface[static_cast<std::size_t>(l)].empty()) continue;
      TrapSinksToCurrents(cv, l, b.sinkN, b.jn_iface);
      TrapSinksToCurrents(cv, l, b.sinkP, b.jp_iface);
    }
  }
}

}  // namespace zoniq
