#include "solver/metastable.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "solver/x_dependence.hpp"

namespace zoniq {

namespace {

constexpr double kMinShare = 1e-100;
constexpr double kNegInf = -std::numeric_limits<double>::infinity();

double ClampY(double y) { return std::clamp(y, -kMetaMaxLogRatio, kMetaMaxLogRatio); }

// ln(e^a + e^b) without overflow; −∞ when both are −∞.
double LogSumExp(double a, double b) {
  const double hi = std::max(a, b), lo = std::min(a, b);
  if (hi == kNegInf || std::isinf(hi)) return hi;
  return hi + std::log1p(std::exp(lo - hi));
}

// ln x, −∞ for x ≤ 0 (a vanishing rate), NaN for NaN.
double Ln(double x) { return x > 0.0 ? std::log(x) : (x <= 0.0 ? kNegInf : x); }

// ln fA and ln fD from y, exact for large |y|: ln fA = −ln(1 + e^y), ln fD = −ln(1 + e^−y).
double LnShareA(double y) { return -(std::max(y, 0.0) + std::log1p(std::exp(-std::fabs(y)))); }
double LnShareD(double y) { return LnShareA(-y); }

const BulkDefectRecord* RecordOf(const CalculationVariables& cv, int layer, int defect) {
  for (const BulkDefectRecord& d : cv.rec.layer[static_cast<std::size_t>(layer)])
    if (d.input.defect == defect) return &d;
  return nullptr;
}

int LevelOfType(const BulkDefectRecord& d, int type) {
  for (int k = 0; k < d.levels(); ++k)
    if (d.input.level[static_cast<std::size_t>(k)].aard == type) return k;
  return -1;
}

// The occupation of one level at layer point j by its extra electron (f), or without it
// (1 − f), averaged over the energy axis of a distribution.
double Occupation(const BulkDefectRecord& d, int level, int j, bool withElectron) {
  const auto jj = static_cast<std::size_t>(j);
  if (d.axis.count <= 1) {
    const LevelRecord& r = d.record(0, level);
    return withElectron ? r.f[jj] : r.een_min_f[jj];
  }
  double sum = 0.0;
  for (int e = 0; e < d.axis.count; ++e) {
    const LevelRecord& r = d.record(e, level);
    const auto ee = static_cast<std::size_t>(e);
    sum += d.axis.weight[ee] * d.axis.quadrature[ee] * (withElectron ? r.f[jj] : r.een_min_f[jj]);
  }
  return sum;
}

}  // namespace

double MetaTargetLogRatio(const MetaStableDefectParameters& m, const MetaEnergies& e, const MetaPointState& s) {
  const double lnSe = 0.5 * (Ln(m.sigma_acc_n) + Ln(m.sigma_don_n));
  const double lnSh = 0.5 * (Ln(m.sigma_acc_p) + Ln(m.sigma_don_p));
  const double lnT1 = Ln(s.vn) + lnSe + Ln(s.NC);
  const double lnT2 = Ln(s.p) + lnSh + Ln(s.vp);
  const double lnT3 = Ln(s.n) + lnSe + Ln(s.vn);
  const double lnT4 = Ln(s.vp) + lnSh + Ln(s.NV);
  const bool electrons = m.electronProcess != 0, holes = m.holeProcess != 0;
  const double lnX1 = electrons ? lnT4 + lnT3 : 2.0 * lnT3;
  const double lnX2 = electrons ? lnT2 + lnT1 : 2.0 * lnT1;
  const double lnY1 = holes ? lnT1 + lnT2 : 2.0 * lnT2;
  const double lnY2 = holes ? lnT3 + lnT4 : 2.0 * lnT4;
  const double lnRA = Ln(s.oD) + LogSumExp(lnX1 - e.EC / s.kT, lnY2 - e.HE / s.kT);
  const double lnRD = Ln(s.oA) + LogSumExp(lnY1 - e.HC / s.kT, lnX2 - e.EE / s.kT);
  // Rates that are not finite, or both zero, say nothing about the shares.
  const bool noneA = lnRA == kNegInf, noneD = lnRD == kNegInf;
  const bool unusable = std::isnan(lnRA) || std::isnan(lnRD) || lnRA == -kNegInf || lnRD == -kNegInf;
  if (unusable || (noneA && noneD)) return std::numeric_limits<double>::quiet_NaN();
  if (noneA) return kMetaMaxLogRatio;   // nothing forms the acceptor configuration
  if (noneD) return -kMetaMaxLogRatio;  // nothing forms the donor configuration
  return ClampY(lnRD - lnRA);
}

double MetaStep(double y, double yTarget, double c, bool clamping) {
  if (std::isnan(yTarget)) return y;
  if (c >= 1.0) return ClampY(yTarget);
  if (clamping) {
    // The smaller share moves geometrically, the other takes the rest.
    if (y <= 0.0) {
      const double lnD = LnShareD(y) + c * (LnShareD(yTarget) - LnShareD(y));
      return ClampY(lnD - std::log1p(-std::exp(lnD)));
    }
    const double lnA = LnShareA(y) + c * (LnShareA(yTarget) - LnShareA(y));
    return ClampY(std::log1p(-std::exp(lnA)) - lnA);
  }
  const double fA = MetaAcceptorShare(y), fD = MetaDonorShare(y);
  const double a = std::max(fA + c * (MetaAcceptorShare(yTarget) - fA), kMinShare);
  const double d = std::max(fD + c * (MetaDonorShare(yTarget) - fD), kMinShare);
  return ClampY(std::log(d) - std::log(a));
}

double InterpolateHandover(const MetaHandover& h, double xum) {
  const std::size_t n = std::min(h.x.size(), h.y.size());
  if (n == 0) return 0.0;
  if (xum <= h.x[0]) return h.y[0];
  if (xum >= h.x[n - 1]) return h.y[n - 1];
  const std::size_t k =
      static_cast<std::size_t>(std::upper_bound(h.x.begin(), h.x.begin() + static_cast<long>(n), xum) -
                               h.x.begin());  // h.x[k-1] <= xum < h.x[k]
  const double xa = h.x[k - 1], xb = h.x[k];
  if (xb <= xa) return h.y[k];
  return h.y[k - 1] + (xum - xa) / (xb - xa) * (h.y[k] - h.y[k - 1]);
}

void CreateMetaRecDataStructure(CalculationVariables& cv) {
  const CalculationParameters& par = *cv.par;
  cv.meta.count = 0;
  for (int l = 0; l < MAXLAYERS; ++l)
    for (int k = 0; k < MAXMETATRANSITIONS; ++k) {
      MetaTransitionCalc& t = cv.meta.t[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)];
      t.on = 0;
      if (l >= par.nlayers) continue;
      const MetaStableDefectParameters& m =
          par.cell.layer[static_cast<std::size_t>(l)].meta[static_cast<std::size_t>(k)];
      if (!m.switchedOn || !ValidateMetaTransition(par.cell, l, k).empty()) continue;
      const BulkDefectRecord* don = RecordOf(cv, l, m.donorDefect);
      const BulkDefectRecord* acc = RecordOf(cv, l, m.acceptorDefect);
      if (!don || !acc) continue;
      t.donorLevel = LevelOfType(*don, GetDefectLevelFromChargeType(m.donorChargeState, 1));
      t.acceptorLevel = LevelOfType(*acc, GetDefectLevelFromChargeType(m.donorChargeState - 2, 0));
      if (t.donorLevel < 0 || t.acceptorLevel < 0) continue;
      t.on = 1;
      t.donorDefect = m.donorDefect;
      t.acceptorDefect = m.acceptorDefect;
      for (std::vector<double>* a : {&t.y, &t.yTarget, &t.yEntry}) a->assign(MAXPOINTS, 0.0);
      t.Nt.reserve(MAXPOINTS);
      const MetaHandover& h = par.metaHandover[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)];
      const double a0 = std::clamp(m.initialAcceptorConfiguration, kMinShare, 1.0);
      const double d0 = std::max(1.0 - m.initialAcceptorConfiguration, kMinShare);
      const double y0 = ClampY(std::log(d0) - std::log(a0));
      for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i)
        t.y[static_cast<std::size_t>(i)] =
            h.given ? InterpolateHandover(h, cv.mesh.xum[static_cast<std::size_t>(i)]) : y0;
      t.yTarget = t.y;
      ++cv.meta.count;
    }
}

bool MetaDefectDensity(const CalculationVariables& cv, int layer, int defect, std::vector<double>& result) {
  for (const MetaTransitionCalc& t : cv.meta.t[static_cast<std::size_t>(layer)]) {
    if (!t.on || (defect != t.donorDefect && defect != t.acceptorDefect)) continue;
    const int f = cv.mesh.first[layer];
    const std::size_t n = t.Nt.size();
    result.resize(n);
    const bool acceptor = defect == t.acceptorDefect;
    for (std::size_t j = 0; j < n; ++j) {
      const double y = t.y[static_cast<std::size_t>(f) + j];
      result[j] = t.Nt[j] * (acceptor ? MetaAcceptorShare(y) : MetaDonorShare(y));
    }
    return true;
  }
  return false;
}

double Bereken_MetaUpdate_afwijking(CalculationVariables& cv) {
  if (cv.meta.count == 0) return 0.0;
  CalculationParameters& par = *cv.par;
  const MeshCarriers carriers = CarriersOf(cv);
  IterateFt(cv.rec, carriers);
  double deviation = 0.0;
  for (int l = 0; l < par.nlayers; ++l)
    for (int k = 0; k < MAXMETATRANSITIONS; ++k) {
      MetaTransitionCalc& t = cv.meta.t[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)];
      if (!t.on) continue;
      const MetaStableDefectParameters& m =
          par.cell.layer[static_cast<std::size_t>(l)].meta[static_cast<std::size_t>(k)];
      const BulkDefectRecord* don = RecordOf(cv, l, t.donorDefect);
      const BulkDefectRecord* acc = RecordOf(cv, l, t.acceptorDefect);
      const int f = cv.mesh.first[l], last = cv.mesh.last[l];
      for (int i = f; i <= last; ++i) {
        const auto ii = static_cast<std::size_t>(i);
        t.yTarget[ii] = t.y[ii];
        if (i == f || i == last || !don || !acc) continue;
        const CarrierPoint c = carriers.at(ii);
        MetaPointState s;
        s.n = c.n();
        s.p = c.p();
        s.vn = cv.pt.vth_n[ii];
        s.vp = cv.pt.vth_p[ii];
        s.NC = cv.pt.NC[ii];
        s.NV = cv.pt.NV[ii];
        s.oA = Occupation(*acc, t.acceptorLevel, i - f, true);
        s.oD = Occupation(*don, t.donorLevel, i - f, false);
        s.kT = par.Vt;
        const double target = MetaTargetLogRatio(m, DeriveMetaEnergies(m, cv.pt.Eg[ii]), s);
        if (std::isnan(target)) continue;
        t.yTarget[ii] = target;
        deviation = std::max(deviation, std::fabs(MetaAcceptorShare(target) - MetaAcceptorShare(t.y[ii])));
      }
    }
  return deviation;
}

void Update_Meta_Ratios(CalculationVariables& cv, double c, bool clamping) {
  if (cv.meta.count == 0) return;
  const CalculationParameters& par = *cv.par;
  for (int l = 0; l < par.nlayers; ++l)
    for (MetaTransitionCalc& t : cv.meta.t[static_cast<std::size_t>(l)]) {
      if (!t.on) continue;
      const int f = cv.mesh.first[l], last = cv.mesh.last[l];
      for (int i = f + 1; i < last; ++i) {
        const auto ii = static_cast<std::size_t>(i);
        t.y[ii] = MetaStep(t.y[ii], t.yTarget[ii], c, clamping);
      }
      if (last - f >= 2) {
        t.y[static_cast<std::size_t>(f)] = t.y[static_cast<std::size_t>(f + 1)];
        t.y[static_cast<std::size_t>(last)] = t.y[static_cast<std::size_t>(last - 1)];
      }
    }
  FillAllDefectRecords(cv);
}

MetaHandoverSet MetaHandoverOf(const CalculationVariables& cv) {
  MetaHandoverSet out{};
  for (int l = 0; l < MAXLAYERS; ++l)
    for (int k = 0; k < MAXMETATRANSITIONS; ++k) {
      const MetaTransitionCalc& t = cv.meta.t[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)];
      if (!t.on) continue;
      MetaHandover& h = out[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)];
      h.given = 1;
      const auto f = static_cast<std::size_t>(cv.mesh.first[l]), last = static_cast<std::size_t>(cv.mesh.last[l]);
      h.x.assign(cv.mesh.xum.begin() + static_cast<long>(f), cv.mesh.xum.begin() + static_cast<long>(last) + 1);
      h.y.assign(t.y.begin() + static_cast<long>(f), t.y.begin() + static_cast<long>(last) + 1);
    }
  return out;
}

}  // namespace zoniq
