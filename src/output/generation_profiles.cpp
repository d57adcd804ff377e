#include "output/generation_profiles.hpp"

#include <algorithm>
#include <cmath>

#include "common/format.hpp"
#include "solver/metastable.hpp"

namespace zoniq {

namespace {

// Unit of the bulk rates of layer l: [S_l·Dmax/L²] → /cm³·s.
double RateScale(const CalculationParameters& par, int l) {
  const Schaal& s = par.schaal;
  return s.S[static_cast<std::size_t>(l)] * s.Dmax / (s.L * s.L) * 1e-6;
}

void AddField(std::string& t, double v) {
  t += sci(v, 16, 8);
  t += '\t';
}

void AddTitle(std::string& t, const std::string& title) {
  t += title;
  t += '\t';
}

std::string Indices(int l, int d, int k) {
  return std::to_string(l + 1) + "," + std::to_string(d + 1) + "," + std::to_string(k + 1);
}

// The two charge states of an interface level, without and with its electron.
std::string InterfaceChargeText(int chargeCode) {
  return chargeCode == DT_ACCEPTOR ? "0/-" : chargeCode == DT_DONOR ? "+/0" : "0/0";
}

}  // namespace

std::array<double, MAXDEFECTSTATES> DefectStateFractions(const BulkDefectRecord& defect, int energy, int j, double n,
                                                         double p) {
  std::array<double, MAXDEFECTSTATES> f{};
  const int L = defect.levels();
  const auto jj = static_cast<std::size_t>(j);
  // Detailed balance between neighbouring states, P_{k+1}/P_k = A_k/D_k, with A_k the rate at
  // which state k gains an electron and D_k the rate at which state k+1 loses one. Written
  // with a_k = A_k/(A_k + D_k) and d_k = 1 − a_k, P_s = Π_{k<s} a_k · Π_{k≥s} d_k, so that no
  // product overflows.
  std::array<double, MAXLEVELS> a{}, d{};
  for (int k = 0; k < L; ++k) {
    const LevelRecord& r = defect.record(energy, k);
    const double A = r.gp_opt[jj] + r.ep[jj] + r.cn[jj] * n;
    const double D = r.gn_opt[jj] + r.en[jj] + r.cp[jj] * p;
    const double s = A + D;
    const auto kk = static_cast<std::size_t>(k);
    if (std::isinf(A) || std::isinf(D)) {
      // An overflowing rate wins outright (both overflowing: no preference).
      a[kk] = std::isinf(A) ? (std::isinf(D) ? 0.5 : 1.0) : 0.0;
      d[kk] = 1.0 - a[kk];
    } else {
      // Both from their own rate (1 − a would lose a small d); a level that exchanges no
      // carriers at all has no preference.
      a[kk] = s > 0.0 ? A / s : 0.5;
      d[kk] = s > 0.0 ? D / s : 0.5;
    }
  }
  double sum = 0.0;
  for (int st = 0; st <= L; ++st) {
    double P = 1.0;
    for (int k = 0; k < L; ++k) P *= k < st ? a[static_cast<std::size_t>(k)] : d[static_cast<std::size_t>(k)];
    f[static_cast<std::size_t>(st)] = P;
    sum += P;
  }
  if (sum > 0.0)
    for (int st = 0; st <= L; ++st) f[static_cast<std::size_t>(st)] /= sum;
  return f;
}

std::string ChargeStateText(int chargeCode, int state) {
  if (chargeCode == 0) return "0";
  const int q = (chargeCode - 3) - state;
  if (q == 0) return "0";
  const char sign = q > 0 ? '+' : '-';
  const int m = q > 0 ? q : -q;
  return m == 1 ? std::string(1, sign) : std::to_string(m) + sign;
}

LevelRates DefectLevelRates(const CalculationVariables& cv, const BulkDefectRecord& defect, int level, int i) {
  LevelRates out;
  const int j = i - defect.first;
  if (j <= 0 || j >= defect.count - 1) return out;
  const auto ii = static_cast<std::size_t>(i);
  const auto jj = static_cast<std::size_t>(j);
  const double n = cv.pt.Nn[ii] * cv.Eplus[ii] * (cv.u0[ii] + cv.u[ii]);
  const double p = cv.pt.Np[ii] * cv.Emin[ii] * (cv.v0[ii] + cv.v[ii]);
  const auto k = static_cast<std::size_t>(level);
  for (int e = 0; e < defect.axis.count; ++e) {
    const std::array<double, MAXDEFECTSTATES> f = DefectStateFractions(defect, e, j, n, p);
    const LevelRecord& r = defect.record(e, level);
    // Trapezoid weight of the energy (1 for a single level) times the density at that energy.
    const double Nt = defect.axis.quadrature[static_cast<std::size_t>(e)] * r.Nt[jj];
    const double fLow = f[k], fHigh = f[k + 1];  // state k, state k+1 (one electron more)
    out.ipvGn += Nt * r.gn_opt[jj] * fHigh;
    out.Gnth += Nt * r.en[jj] * fHigh;
    out.Rnth += Nt * r.cn[jj] * n * fLow;
    out.ipvGp += Nt * r.gp_opt[jj] * fLow;
    out.Gpth += Nt * r.ep[jj] * fLow;
    out.Rpth += Nt * r.cp[jj] * p * fHigh;
  }
  const double scale = RateScale(*cv.par, defect.input.layer);
  for (double* v : {&out.ipvGn, &out.Gnth, &out.Rnth, &out.ipvGp, &out.Gpth, &out.Rpth}) *v *= scale;
  return out;
}

std::string GenerationRecombinationTable(const CalculationVariables& cv) {
  const CalculationParameters& par = *cv.par;
  std::string t;
  for (const char* title :
       {"x (\xB5m)", "Geh (#/cm3.s)", "Total recombination (#/cm3.s)", "SRH recombination (#/cm3.s)",
        "Radiative recombination (#/cm3.s)", "Auger recombination (#/cm3.s)"})
    AddTitle(t, title);
  for (int l = 0; l < par.nlayers; ++l)
    for (const BulkDefectRecord& d : cv.rec.layer[static_cast<std::size_t>(l)])
      for (int k = 0; k < d.levels(); ++k) {
        const std::string idx = Indices(l, d.input.defect, k) + " (#/cm3.s)";
        for (const char* name : {"net Gn", "IPV Gn", "Gnth", "Rnth", "net Gp", "IPV Gp", "Gpth", "Rpth"})
          AddTitle(t, name + idx);
      }
  t += '\n';
  for (int l = 0; l < par.nlayers; ++l) {
    const double rate = RateScale(par, l);
    for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i) {
      const auto ii = static_cast<std::size_t>(i);
      AddField(t, cv.mesh.xum[ii]);
      AddField(t, rate * cv.G[ii]);
      AddField(t, rate * cv.blocks.total.U[ii]);
      AddField(t, rate * cv.blocks.Srh().U[ii]);
      AddField(t, rate * cv.blocks.radiative.U[ii]);
      AddField(t, rate * cv.blocks.auger.U[ii]);
      for (int m = 0; m < par.nlayers; ++m)
        for (const BulkDefectRecord& d : cv.rec.layer[static_cast<std::size_t>(m)])
          for (int k = 0; k < d.levels(); ++k) {
            const LevelRates r = m == l ? DefectLevelRates(cv, d, k, i) : LevelRates{};
            for (double v : {r.netGn(), r.ipvGn, r.Gnth, r.Rnth, r.netGp(), r.ipvGp, r.Gpth, r.Rpth}) AddField(t, v);
          }
      t += '\n';
    }
  }
  return t;
}

std::string OccupationTable(const CalculationVariables& cv) {
  const CalculationParameters& par = *cv.par;
  std::string t = "The energydistribution of the defects which are not single level are:\n";
  for (int l = 0; l < par.nlayers; ++l)
    for (const BulkDefectRecord& d : cv.rec.layer[static_cast<std::size_t>(l)])
      if (d.input.distribution != ED_SINGLE && d.input.distribution >= 0 && d.input.distribution < NDISTRIBUTIONS)
        t += "layer " + std::to_string(l + 1) + ", defect " + std::to_string(d.input.defect + 1) + ": " +
             kDistributionText[static_cast<std::size_t>(d.input.distribution)] + "\n";
  // Interface defects: occupation of their levels at the two points of their interface.
  const int interfaces = std::clamp(par.nlayers - 1, 0, MAXINTERFACES);
  for (int l = 0; l < interfaces; ++l)
    for (const InterfaceDefectRecord& d : cv.ifrec.iface[static_cast<std::size_t>(l)])
      if (d.input.distribution != ED_SINGLE && d.input.distribution >= 0 && d.input.distribution < NDISTRIBUTIONS)
        t += "interface " + std::to_string(l + 1) + ", defect " + std::to_string(d.input.defect + 1) + ": " +
             kDistributionText[static_cast<std::size_t>(d.input.distribution)] + "\n";
  AddTitle(t, "x (\xB5m)");
  AddTitle(t, "i");
  for (int l = 0; l < par.nlayers; ++l)
    for (const BulkDefectRecord& d : cv.rec.layer[static_cast<std::size_t>(l)])
      for (int k = 0; k < d.levels(); ++k) {
        const std::string charge =
            " {" + ChargeStateText(d.chargeCode, k) + "/" + ChargeStateText(d.chargeCode, k + 1) + "}";
        for (int e = 0; e < d.axis.count; ++e) {
          const std::string idx = Indices(l, d.input.defect, k) + "," + std::to_string(e + 1) + charge;
          AddTitle(t, "f_t(electrons)" + idx);
          AddTitle(t, "f_t(holes)" + idx);
        }
      }
  // Metastable defects: the shares of their acceptor and donor configurations.
  for (int l = 0; l < par.nlayers; ++l)
    for (int k = 0; k < MAXMETATRANSITIONS; ++k)
      if (cv.meta.t[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)].on) {
        const std::string idx = std::to_string(l + 1) + "," + std::to_string(k + 1);
        AddTitle(t, "f_t(metastable acceptor config.)" + idx);
        AddTitle(t, "f_t(metastable donor config.)" + idx);
      }
  for (int l = 0; l < interfaces; ++l)
    for (const InterfaceDefectRecord& d : cv.ifrec.iface[static_cast<std::size_t>(l)])
      for (std::size_t e = 0; e < d.records.size(); ++e) {
        const std::string idx = std::to_string(l + 1) + "," + std::to_string(d.input.defect + 1) + "," +
                                std::to_string(e + 1) + " {" + InterfaceChargeText(d.input.chargeCode) + "}";
        AddTitle(t, "f_t(IF electrons)" + idx);
        AddTitle(t, "f_t(IF holes)" + idx);
      }
  t += '\n';
  std::array<InterfaceCarriers, MAXINTERFACES> carriers{};
  for (int l = 0; l < interfaces; ++l) carriers[static_cast<std::size_t>(l)] = InterfaceCarriersOf(cv, l);
  for (int l = 0; l < par.nlayers; ++l) {
    for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i) {
      const auto ii = static_cast<std::size_t>(i);
      const double n = cv.pt.Nn[ii] * cv.Eplus[ii] * (cv.u0[ii] + cv.u[ii]);
      const double p = cv.pt.Np[ii] * cv.Emin[ii] * (cv.v0[ii] + cv.v[ii]);
      AddField(t, cv.mesh.xum[ii]);
      AddField(t, static_cast<double>(i));
      for (int m = 0; m < par.nlayers; ++m)
        for (const BulkDefectRecord& d : cv.rec.layer[static_cast<std::size_t>(m)])
          for (int k = 0; k < d.levels(); ++k)
            for (int e = 0; e < d.axis.count; ++e) {
              // Occupation of the level: the state with the extra electron (electrons) and the
              // state without it (holes); zero outside the defect's layer.
              double fe = 0.0, fh = 0.0;
              const int j = i - d.first;
              if (m == l && j >= 0 && j < d.count) {
                const std::array<double, MAXDEFECTSTATES> f = DefectStateFractions(d, e, j, n, p);
                fe = f[static_cast<std::size_t>(k + 1)];
                fh = f[static_cast<std::size_t>(k)];
              }
              AddField(t, fe);
              AddField(t, fh);
            }
      for (int m = 0; m < par.nlayers; ++m)
        for (const MetaTransitionCalc& tr : cv.meta.t[static_cast<std::size_t>(m)])
          if (tr.on) {
            AddField(t, m == l ? MetaAcceptorShare(tr.y[ii]) : 0.0);
            AddField(t, m == l ? MetaDonorShare(tr.y[ii]) : 0.0);
          }
      for (int m = 0; m < interfaces; ++m)
        for (const InterfaceDefectRecord& d : cv.ifrec.iface[static_cast<std::size_t>(m)])
          for (const InterfaceLevelRecord& r : d.records) {
            // The interface's double point: the last point of layer m and the first of m + 1.
            const bool at = i == cv.mesh.last[m] || i == cv.mesh.first[m + 1];
            // With tunnelling to the trap its occupation depends on the carriers of the points
            // that tunnel too: the one of the solution's last evaluation is taken.
            const double f = !at                      ? 0.0
                             : d.input.tunneling != 0 ? r.f
                                                      : InterfaceOccupation(r, carriers[static_cast<std::size_t>(m)]);
            AddField(t, f);
            AddField(t, at ? 1.0 - f : 0.0);
          }
      t += '\n';
    }
  }
  return t;
}

}  // namespace zoniq
