#include "solver/interface_recombination.hpp"

#include <algorithm>
#include <cmath>

#include "common/call_counts.hpp"
#include "common/format.hpp"
#include "solver/calculation_variables.hpp"

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
  c.n_p = cv.pt.Nn[p] * cv.Eplus[p] * (cv.u0 + cv.u[p]);
  c.p_p = cv.pt.Np[p] * cv.Emin[p] * (cv.v0 + cv.v[p]);
  c.n_f = r * cv.pt.Nn[f] * cv.Eplus[f] * (cv.u0 + cv.u[f]);
  c.p_f = r * cv.pt.Np[f] * cv.Emin[f] * (cv.v0 + cv.v[f]);
  return c;
}

double InterfaceOccupation(const InterfaceLevelRecord& r, const InterfaceCarriers& c) {
  InterfaceLevelRecord copy = r;
  InterfaceLevelTerms unused;
  ifrdcbijdrage_een_niveau_tunnel(copy, c, DT_NEUTRAL, 1.0, unused);
  return copy.f;
}

void totale_ifrdcbijdrage(CalculationVariables& cv) {
  // Only interface defects write the block; without them it keeps what it holds (zeros).
  if (cv.ifrec.empty()) return;
  InterfaceTermBlock& b = cv.ifr;
  b.clearTerms();
  const int interfaces = std::clamp(cv.par->nlayers - 1, 0, MAXINTERFACES);
  for (int l = 0; l < interfaces; ++l) {
    auto& defects = cv.ifrec.iface[static_cast<std::size_t>(l)];
    if (defects.empty()) continue;
    const int p = cv.mesh.last[l], f = cv.mesh.first[l + 1];
    const double r = cv.par->schaal.S[l + 1] / cv.par->schaal.S[l];
    // Densities and their derivatives with respect to the variables, on the left scale.
    const double dn_dup = cv.pt.Nn[p] * cv.Eplus[p], dp_dvp = cv.pt.Np[p] * cv.Emin[p];
    const double dn_duf = r * cv.pt.Nn[f] * cv.Eplus[f], dp_dvf = r * cv.pt.Np[f] * cv.Emin[f];
    InterfaceCarriers c;
    c.n_p = dn_dup * (cv.u0 + cv.u[p]);
    c.p_p = dp_dvp * (cv.v0 + cv.v[p]);
    c.n_f = dn_duf * (cv.u0 + cv.u[f]);
    c.p_f = dp_dvf * (cv.v0 + cv.v[f]);
    InterfaceLevelTerms t;
    for (InterfaceDefectRecord& d : defects) ifrdcbijdrage_distributie(d, c, r, t);

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
  }
}

}  // namespace zoniq
