#include "solver/bulk_recombination.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "common/call_counts.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

// ---------------------------------------------------------------------------------------------
// Terms and blocks
// ---------------------------------------------------------------------------------------------

RecTerms& RecTerms::operator+=(const RecTerms& o) {
  rho += o.rho;
  drho_dpsi += o.drho_dpsi;
  drho_du += o.drho_du;
  drho_dv += o.drho_dv;
  U += o.U;
  dU_dpsi += o.dU_dpsi;
  dU_du += o.dU_du;
  dU_dv += o.dU_dv;
  return *this;
}

RecTerms& RecTerms::operator*=(double factor) {
  rho *= factor;
  drho_dpsi *= factor;
  drho_du *= factor;
  drho_dv *= factor;
  U *= factor;
  dU_dpsi *= factor;
  dU_du *= factor;
  dU_dv *= factor;
  return *this;
}

namespace {

// 0·x is ±0 for every finite x and NaN for ±Inf and NaN, so the sum below is finite exactly
// when all eight terms are: one test instead of eight branches, on every point of every solve.
bool AllFinite(const RecTerms& t) {
  const double zeroIfFinite = (0.0 * t.rho + 0.0 * t.drho_dpsi) + (0.0 * t.drho_du + 0.0 * t.drho_dv) +
                              ((0.0 * t.U + 0.0 * t.dU_dpsi) + (0.0 * t.dU_du + 0.0 * t.dU_dv));
  return zeroIfFinite == 0.0;
}

// The arrays of a block in a fixed order, for the element-wise helpers.
std::array<std::vector<double>*, 8> Arrays(DcTermBlock& b) {
  return {&b.rho, &b.drho_dpsi, &b.drho_du, &b.drho_dv, &b.U, &b.dU_dpsi, &b.dU_du, &b.dU_dv};
}
std::array<const std::vector<double>*, 8> Arrays(const DcTermBlock& b) {
  return {&b.rho, &b.drho_dpsi, &b.drho_du, &b.drho_dv, &b.U, &b.dU_dpsi, &b.dU_du, &b.dU_dv};
}

std::size_t Points(const DcTermBlock& b, int n) { return std::min(b.size(), static_cast<std::size_t>(std::max(n, 0))); }

}  // namespace

void DcTermBlock::resize(std::size_t n) {
  for (auto* a : Arrays(*this)) a->assign(n, 0.0);
}

RecTerms DcTermBlock::at(std::size_t i) const {
  return {rho[i], drho_dpsi[i], drho_du[i], drho_dv[i], U[i], dU_dpsi[i], dU_du[i], dU_dv[i]};
}

void DcTermBlock::set(std::size_t i, const RecTerms& t) {
  rho[i] = t.rho;
  drho_dpsi[i] = t.drho_dpsi;
  drho_du[i] = t.drho_du;
  drho_dv[i] = t.drho_dv;
  U[i] = t.U;
  dU_dpsi[i] = t.dU_dpsi;
  dU_du[i] = t.dU_du;
  dU_dv[i] = t.dU_dv;
}

void DcTermBlock::add(std::size_t i, const RecTerms& t) {
  RecTerms s = at(i);
  s += t;
  set(i, s);
}

void BulkTermBlocks::resize(std::size_t n) {
  total.resize(n);
  srh.resize(n);
  radiative.resize(n);
  auger.resize(n);
  bandToBandCleared = true;
  srhInTotal = false;
}

void rec_dc_initialisatie(DcTermBlock& block, int n) { block.resize(static_cast<std::size_t>(std::max(n, 0))); }

void nulbijdrage(DcTermBlock& block, int n) {
  const std::size_t m = Points(block, n);
  for (auto* a : Arrays(block)) std::fill(a->begin(), a->begin() + static_cast<std::ptrdiff_t>(m), 0.0);
}

// ---------------------------------------------------------------------------------------------
// Defect description
// ---------------------------------------------------------------------------------------------

DefectInput MakeDefectInput(std::span<const BulkRecombinationParameters> levels, double sigmaScale) {
  DefectInput d;
  if (levels.empty()) {
    d.numberOfLevels = 0;
    return d;
  }
  const BulkRecombinationParameters& first = levels[0];
  d.layer = first.layerNumber;
  d.defect = first.defectNumber;
  d.numberOfLevels = first.numberOfLevels;  // checked by ValidateDefect
  d.distribution = first.distribution;
  d.W = first.Ekar;
  d.reference = first.reference;
  d.degeneracyOne = first.degeneracyFlag == 1;
  const int n = std::clamp(first.numberOfLevels, 0, std::min(MAXLEVELS, static_cast<int>(levels.size())));
  for (int k = 0; k < n; ++k) {
    LevelInput& l = d.level[static_cast<std::size_t>(k)];
    const BulkRecombinationParameters& src = levels[static_cast<std::size_t>(k)];
    l.aard = src.aard;
    l.sigma_n = src.sigma_n * sigmaScale;
    l.sigma_p = src.sigma_p * sigmaScale;
    l.Et = src.Et;
  }
  // Most positive transition first: state 0 is then the most positive charge state. A stable
  // insertion sort keeps levels of equal type in their given order.
  for (int k = 1; k < n; ++k)
    for (int m = k; m > 0 && d.level[static_cast<std::size_t>(m - 1)].aard < d.level[static_cast<std::size_t>(m)].aard;
         --m)
      std::swap(d.level[static_cast<std::size_t>(m - 1)], d.level[static_cast<std::size_t>(m)]);
  return d;
}

int DefectChargeCode(const DefectInput& d) { return d.numberOfLevels >= 1 ? d.level[0].aard : 0; }

std::string ValidateDefect(const DefectInput& d) {
  const std::string where = "Layer " + std::to_string(d.layer + 1) + ", defect " + std::to_string(d.defect + 1);
  if (d.numberOfLevels < 1 || d.numberOfLevels > MAXLEVELS)
    return where + ": the number of levels must be 1 to " + std::to_string(MAXLEVELS) + " (it is " +
           std::to_string(d.numberOfLevels) + ").";
  if (d.distribution < ED_SINGLE || d.distribution >= NDISTRIBUTIONS)
    return where + ": unknown energy distribution (" + std::to_string(d.distribution) + ").";
  if (d.reference < 0 || d.reference > 2)
    return where + ": unknown reference for the defect energy (" + std::to_string(d.reference) + ").";
  if (d.distribution != ED_SINGLE && !(d.W > 0.0 && std::isfinite(d.W)))
    return where + ": the characteristic energy of a distributed defect must be a positive number of eV.";
  for (int k = 0; k < d.numberOfLevels; ++k) {
    const LevelInput& l = d.level[static_cast<std::size_t>(k)];
    const std::string lev = where + ", level " + std::to_string(k + 1);
    if (l.aard < 0 || l.aard >= NDEFLEVTYPE) return lev + ": unknown level type (" + std::to_string(l.aard) + ").";
    if (!std::isfinite(l.Et)) return lev + ": the level energy is not a number.";
    if (!(std::isfinite(l.sigma_n) && std::isfinite(l.sigma_p) && l.sigma_n >= 0.0 && l.sigma_p >= 0.0))
      return lev + ": the capture cross sections must be finite and not negative.";
    if (l.sigma_n == 0.0 && l.sigma_p == 0.0)
      return lev +
             ": both capture cross sections are zero, so the level exchanges no carriers with the bands and its "
             "occupation is undefined. Give at least one of them a positive value.";
  }
  // A multivalent defect is a chain of successive transitions, e.g. +/0 then 0/-.
  const int c = DefectChargeCode(d);
  if (c != DEFLEVTYPE_NEUTRAL) {
    for (int k = 0; k < d.numberOfLevels; ++k) {
      const int expected = c - k;
      if (expected < 1 || d.level[static_cast<std::size_t>(k)].aard != expected)
        return where +
               ": the level types do not form one chain of successive charge transitions (such as \"+/0\" "
               "followed by \"0/-\").";
    }
  }
  return {};
}

bool ValidateBulkDefects(const CellDefinition& cell, std::string& message) {
  message.clear();
  const int layers = std::clamp(cell.numberOfLayers, 0, MAXLAYERS);
  for (int l = 0; l < layers; ++l) {
    const LayerParameters& layer = cell.layer[static_cast<std::size_t>(l)];
    if (layer.srhteller < 0 || layer.srhteller > MAXBULKDEFECTS) {
      message = "Layer " + std::to_string(l + 1) + ": the number of bulk defects must be 0 to " +
                std::to_string(MAXBULKDEFECTS) + ".";
      return false;
    }
    for (int d = 0; d < layer.srhteller; ++d) {
      DefectInput in = MakeDefectInput(layer.srh[static_cast<std::size_t>(d)], 1.0);
      in.layer = l;
      in.defect = d;
      message = ValidateDefect(in);
      if (!message.empty()) return false;
    }
  }
  return true;
}

int LimitDefectDiscretisations(int n, std::string& warning) {
  warning.clear();
  if (n > MAXDEFECTDISCRETISATIONS) {
    warning = "The maximum number of discretisationlevels for distributed defects is limited to " +
              std::to_string(MAXDEFECTDISCRETISATIONS) + " levels.";
    return MAXDEFECTDISCRETISATIONS;
  }
  if (n < MINDEFECTDISCRETISATIONS) {
    warning = "The number of discretisationlevels for distributed defects should higher than 1.";
    return MINDEFECTDISCRETISATIONS;
  }
  return n;
}

// ---------------------------------------------------------------------------------------------
// Energy axis
// ---------------------------------------------------------------------------------------------

EnergyAxis bereken_energie_as(int distribution, double W, int n, double widthtail, double widthgauss) {
  EnergyAxis axis;
  axis.offset[0] = 0.0;
  axis.weight[0] = 1.0;
  axis.quadrature[0] = 1.0;
  if (distribution == ED_SINGLE || !(W > 0.0)) return axis;  // a distribution without width is a single level

  n = std::clamp(n, MINDEFECTDISCRETISATIONS, MAXDEFECTDISCRETISATIONS);
  const double span = distribution == ED_UNIFORM ? W : distribution == ED_GAUSS ? widthgauss * W : widthtail * W;
  const double dE = span / (n - 1);
  if (!(dE > 0.0) || !std::isfinite(dE)) return axis;
  axis.count = n;
  axis.dE = dE;

  // Offsets and unnormalised weights, both on the energy above EV, so that a tail decays from
  // its level energy into the gap whatever reference the level energy was given on.
  for (int k = 0; k < n; ++k) {
    double e = 0.0, w = 1.0;
    switch (distribution) {
      case ED_UNIFORM:
        e = -W / 2 + k * dE;
        w = 1.0;
        break;
      case ED_GAUSS:
        e = -widthgauss * W / 2 + k * dE;
        w = std::exp(-(e * e) / (W * W));
        break;
      case ED_CBTAIL:  // from the conduction band side down into the gap
        e = -k * dE;
        w = std::exp(e / W);
        break;
      default:  // ED_VBTAIL: from the valence band side up into the gap
        e = k * dE;
        w = std::exp(-e / W);
        break;
    }
    axis.offset[static_cast<std::size_t>(k)] = e;
    axis.weight[static_cast<std::size_t>(k)] = w;
  }
  // The discretised weights are scaled so that the trapezoid rule integrates them to exactly
  // one: the defect then holds exactly its total density Nt, whatever the number of energies.
  double sum = 0.0;
  for (int k = 1; k < n; ++k)
    sum += 0.5 * (axis.weight[static_cast<std::size_t>(k - 1)] + axis.weight[static_cast<std::size_t>(k)]) * dE;
  for (int k = 0; k < n; ++k) {
    axis.weight[static_cast<std::size_t>(k)] /= sum;
    axis.quadrature[static_cast<std::size_t>(k)] = (k == 0 || k == n - 1) ? 0.5 * dE : dE;
  }
  return axis;
}

// ---------------------------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------------------------

void LevelRecord::resize(int points) {
  const auto n = static_cast<std::size_t>(std::max(points, 0));
  for (auto* a : {&cn, &cp, &en, &ep, &gn_opt, &gp_opt, &Nt, &f_tOld, &een_min_f_tOld, &g_n_maxOld, &g_p_maxOld})
    a->assign(n, 0.0);
  f.assign(n, 0.5);
  een_min_f.assign(n, 0.5);
}

BulkDefectRecord CreateDefectRecord(const DefectInput& input, int first, int count, const DefectAxisSettings& settings,
                                    CallCounter* counter) {
  BulkDefectRecord d;
  d.input = input;
  d.input.numberOfLevels = std::clamp(input.numberOfLevels, 1, MAXLEVELS);
  d.chargeCode = DefectChargeCode(d.input);
  std::string warning;
  const int n = LimitDefectDiscretisations(settings.defectdiscretisations, warning);
  if (counter) counter->Count(CallCounter::bereken_energie_as);
  d.axis = bereken_energie_as(input.distribution, input.W, n, settings.widthtail, settings.widthgauss);
  d.first = first;
  d.count = std::max(count, 0);
  const int L = d.levels();
  d.records.resize(static_cast<std::size_t>(d.axis.count * L));
  for (int e = 0; e < d.axis.count; ++e)
    for (int k = 0; k < L; ++k) {
      LevelRecord& r = d.record(e, k);
      r.layer = input.layer;
      r.defect = input.defect;
      r.level = k;
      r.energyIndex = e;
      r.chargeCode = d.chargeCode;
      r.numberOfLevels = L;
      r.resize(d.count);
    }
  return d;
}

void AddDefectRecord(BulkRecombination& rec, BulkDefectRecord defect) {
  const int l = defect.input.layer;
  const int d = defect.input.defect;
  if (l < 0 || l >= MAXLAYERS || d < 0 || d >= MAXBULKDEFECTS) return;
  auto& list = rec.layer[static_cast<std::size_t>(l)];
  for (auto& existing : list)
    if (existing.input.defect == d) {
      existing = std::move(defect);
      return;
    }
  list.push_back(std::move(defect));
  std::sort(list.begin(), list.end(),
            [](const BulkDefectRecord& a, const BulkDefectRecord& b) { return a.input.defect < b.input.defect; });
  rec.exists[static_cast<std::size_t>(l)][static_cast<std::size_t>(d)] = 1;
}

void FreeRecdataStructures(BulkRecombination& rec) {
  for (auto& list : rec.layer) list.clear();
  for (auto& row : rec.exists) row.fill(0);
}

namespace {

// The degeneracy factor g of a level: 1 unless the level's two integers give a positive factor.
double DegeneracyFactor(const DefectInput& d, const LevelInput& l) {
  if (d.degeneracyOne) return 1.0;
  const double b1 = 1.0 + l.degeneracyB;
  if (b1 == 0.0) return 1.0;
  const double g = (l.degeneracyA - l.degeneracyB) / b1;
  return g > 0.0 ? g : 1.0;
}

}  // namespace

void r_input_energie(LevelRecord& r, const DefectInput& d, const EnergyAxis& axis, const LayerPointData& layer,
                     double Vt, CallCounter* counter) {
  if (counter) counter->Count(CallCounter::r_input_energie);
  const LevelInput& l = d.level[static_cast<std::size_t>(std::clamp(r.level, 0, MAXLEVELS - 1))];
  const double offset = axis.offset[static_cast<std::size_t>(std::clamp(r.energyIndex, 0, axis.count - 1))];
  const double weight = axis.weight[static_cast<std::size_t>(std::clamp(r.energyIndex, 0, axis.count - 1))];
  const double g = DegeneracyFactor(d, l);
  const std::size_t n = std::min({r.cn.size(), layer.vth_n.size(), layer.vth_p.size(), layer.NC.size(), layer.NV.size(),
                                  layer.Eg.size(), layer.Nt.size()});
  for (std::size_t j = 0; j < n; ++j) {
    const double Eg = layer.Eg[j];
    const double NC = layer.NC[j];
    const double NV = layer.NV[j];
    r.cn[j] = layer.vth_n[j] * l.sigma_n;
    r.cp[j] = layer.vth_p[j] * l.sigma_p;
    // The level energy above the valence band edge [eV].
    double Et = l.Et;
    if (d.reference == 1)
      Et = l.Et + Eg / 2 + (Vt / 2) * std::log(NV / NC);
    else if (d.reference == 2)
      Et = Eg - l.Et;
    const double E = Et + offset;
    // Emission coefficients from detailed balance: en·ep = cn·cp·NC·NV·e^(−Eg/Vt) = cn·cp·ni².
    r.en[j] = NC * (r.cn[j] / g) * std::exp(-(Eg - E) / Vt);
    r.ep[j] = NV * g * r.cp[j] * std::exp(-E / Vt);
    r.Nt[j] = layer.Nt[j] * weight;
  }
}

void FillDefectRecord(BulkDefectRecord& defect, const LayerPointData& layer, double Vt, CallCounter* counter) {
  for (auto& r : defect.records) r_input_energie(r, defect.input, defect.axis, layer, Vt, counter);
}

// ---------------------------------------------------------------------------------------------
// Kernels
// ---------------------------------------------------------------------------------------------

namespace {

#if defined(__GNUC__)
#define ZONIQ_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define ZONIQ_ALWAYS_INLINE inline
#endif

// Two points at a time: the closed form below is plain arithmetic, so the same template runs on
// one double or on a pair held in one SIMD register (every target has two-lane doubles), with
// the same operations in the same order in each lane as in the scalar form.
using Pair = double __attribute__((vector_size(16)));

// The closed form of a level with two charge states. With A = gp + ep + cn·n (the rate at which
// the empty state gains an electron), D = gn + en + cp·p (the rate at which the filled state loses
// it) and s = A + D, the occupations are f1 = A/s (filled) and f0 = D/s (empty), and the net
// electron capture is U = Nt·B/s with B = cn·cp·(np − ni²) − gn·ep − en·gp − gn·gp. Every
// derivative shares the one reciprocal 1/s. Derivatives are taken with respect to ψ, u and v at
// fixed u, v or ψ: ∂n/∂ψ = n, ∂p/∂ψ = −p, ∂n/∂u = Nn·e^ψ, ∂p/∂v = Np·e^−ψ.
template <class T>
struct SingleLevelValues {
  T cn, cp, en, ep, gn, gp, Nt;             // the level at the point
  T expPsi, expMinPsi, Nn, Np, uTot, vTot;  // the carriers at the point
  // Results.
  T s{}, f0{}, f1{};
  T rho{}, drho_dpsi{}, drho_du{}, drho_dv{}, U{}, dU_dpsi{}, dU_du{}, dU_dv{};
  // 0·x summed over the results: ±0 when all are finite, NaN otherwise.
  T Finite() const {
    return (0.0 * f0 + 0.0 * f1) + ((0.0 * rho + 0.0 * drho_dpsi) + (0.0 * drho_du + 0.0 * drho_dv)) +
           ((0.0 * U + 0.0 * dU_dpsi) + (0.0 * dU_du + 0.0 * dU_dv));
  }
};

// The carrier densities' factors and the two transition rates of the level: A, at which the
// empty state gains an electron, and D, at which the filled state loses it. The occupation
// iteration uses this alone, the closed form below goes on from it: both store the same
// occupations.
template <class T>
struct LevelRates {
  T dn_du, dp_dv, cnn, cpp, A, D;
};
template <class T>
ZONIQ_ALWAYS_INLINE LevelRates<T> Rates(T cn, T cp, T en, T ep, T gn, T gp, T Nn, T Np, T expPsi, T expMinPsi, T uTot,
                                        T vTot) {
  LevelRates<T> r;
  r.dn_du = Nn * expPsi;
  r.dp_dv = Np * expMinPsi;
  r.cnn = cn * (r.dn_du * uTot);
  r.cpp = cp * (r.dp_dv * vTot);
  r.A = gp + ep + r.cnn;
  r.D = gn + en + r.cpp;
  return r;
}

template <class T>
ZONIQ_ALWAYS_INLINE void SingleLevelClosedForm(SingleLevelValues<T>& x, bool charged, double q0, double q1) {
  const LevelRates<T> r = Rates(x.cn, x.cp, x.en, x.ep, x.gn, x.gp, x.Nn, x.Np, x.expPsi, x.expMinPsi, x.uTot, x.vTot);
  const T dn_du = r.dn_du, dp_dv = r.dp_dv, cnn = r.cnn, cpp = r.cpp, A = r.A, D = r.D;
  x.s = A + D;
  const T inv = 1.0 / x.s;
  x.f1 = A * inv;
  x.f0 = D * inv;
  const T k2 = x.cn * x.cp * (x.Nn * x.Np);  // cn·cp·ni²
  const T B = k2 * (x.uTot * x.vTot - 1.0) - x.gn * x.ep - x.en * x.gp - x.gn * x.gp;
  const T term = B * inv;
  const T dS_du = x.cn * dn_du, dS_dv = x.cp * dp_dv;
  x.U = x.Nt * term;
  x.dU_dpsi = -x.Nt * (term * (cnn - cpp)) * inv;
  x.dU_du = x.Nt * (k2 * x.vTot - term * dS_du) * inv;
  x.dU_dv = x.Nt * (k2 * x.uTot - term * dS_dv) * inv;
  if (charged) {
    // State 0 carries q0 charges, state 1 one fewer; ∂f0 = −∂f1.
    const T Ninv = x.Nt * inv;
    x.rho = x.Nt * (q0 * x.f0 + q1 * x.f1);
    x.drho_dpsi = -Ninv * (cnn * x.f0 + x.f1 * cpp);
    x.drho_du = -Ninv * (dS_du * x.f0);
    x.drho_dv = Ninv * (x.f1 * dS_dv);
  } else {
    x.rho = x.drho_dpsi = x.drho_du = x.drho_dv = T{};
  }
}

// The two charges of a single level's states.
void StateCharges(const BulkDefectRecord& defect, double& q0, double& q1) {
  q0 = defect.chargeCode - 3;
  q1 = q0 - 1;
}

bool SingleLevelTerms(BulkDefectRecord& defect, int energy, int j, const CarrierPoint& c, RecTerms& out, bool store) {
  LevelRecord& r = defect.record(energy, 0);
  const auto jj = static_cast<std::size_t>(j);
  double q0, q1;
  StateCharges(defect, q0, q1);
  SingleLevelValues<double> x{r.cn[jj], r.cp[jj],    r.en[jj], r.ep[jj], r.gn_opt[jj], r.gp_opt[jj], r.Nt[jj],
                              c.expPsi, c.expMinPsi, c.Nn,     c.Np,     c.uTot,       c.vTot};
  SingleLevelClosedForm(x, defect.chargeCode != DEFLEVTYPE_NEUTRAL, q0, q1);
  if (!(x.s > 0.0) || x.Finite() != 0.0) {
    out = RecTerms{};
    return false;
  }
  out = RecTerms{x.rho, x.drho_dpsi, x.drho_du, x.drho_dv, x.U, x.dU_dpsi, x.dU_du, x.dU_dv};
  if (store) {
    r.f[jj] = x.f1;
    r.een_min_f[jj] = x.f0;
  }
  return true;
}

// One value (T = double) or two consecutive ones (T = Pair).
template <class T>
T Load(const double* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
void Store(double* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// The arrays of one single-level record over its layer and of the block it adds to, from the
// layer's first point on.
struct SingleLevelPass {
  // The record's arrays, and the carriers' and block's from mesh point o (the layer's first) on.
  SingleLevelPass(LevelRecord& r, const MeshCarriers& m, DcTermBlock& b, std::size_t o)
      : cn(r.cn.data()),
        cp(r.cp.data()),
        en(r.en.data()),
        ep(r.ep.data()),
        gn(r.gn_opt.data()),
        gp(r.gp_opt.data()),
        Nt(r.Nt.data()),
        expPsi(m.expPsi.data() + o),
        expMinPsi(m.expMinPsi.data() + o),
        Nn(m.Nn.data() + o),
        Np(m.Np.data() + o),
        u(m.u.data() + o),
        v(m.v.data() + o),
        u0(m.u0.data() + o),
        v0(m.v0.data() + o),
        f(r.f.data()),
        f0(r.een_min_f.data()),
        rho(b.rho.data() + o),
        drho_dpsi(b.drho_dpsi.data() + o),
        drho_du(b.drho_du.data() + o),
        drho_dv(b.drho_dv.data() + o),
        U(b.U.data() + o),
        dU_dpsi(b.dU_dpsi.data() + o),
        dU_du(b.dU_du.data() + o),
        dU_dv(b.dU_dv.data() + o) {}

  const double *cn, *cp, *en, *ep, *gn, *gp, *Nt;
  const double *expPsi, *expMinPsi, *Nn, *Np, *u, *v;
  const double *u0, *v0;
  double *f, *f0;
  double *rho, *drho_dpsi, *drho_du, *drho_dv, *U, *dU_dpsi, *dU_du, *dU_dv;

  // Point j (T = double) or points j, j+1 (T = Pair); the sums of the checks go to `finite`
  // (0 while all is finite) and `positive` (all bits set while every s > 0).
  template <bool Overwrite, class T, class Mask>
  ZONIQ_ALWAYS_INLINE void Point(int j, double weight, bool charged, double q0, double q1, T& finite,
                                 Mask& positive) const {
    SingleLevelValues<T> x{Load<T>(cn + j),
                           Load<T>(cp + j),
                           Load<T>(en + j),
                           Load<T>(ep + j),
                           Load<T>(gn + j),
                           Load<T>(gp + j),
                           Load<T>(Nt + j),
                           Load<T>(expPsi + j),
                           Load<T>(expMinPsi + j),
                           Load<T>(Nn + j),
                           Load<T>(Np + j),
                           Load<T>(u0 + j) + Load<T>(u + j),
                           Load<T>(v0 + j) + Load<T>(v + j)};
    SingleLevelClosedForm(x, charged, q0, q1);
    finite += x.Finite();
    positive &= (x.s > 0.0);
    Store(f + j, x.f1);
    Store(f0 + j, x.f0);
    // The first contribution to a point is written, later ones are added.
    auto put = [j](double* a, T value) {
      if constexpr (Overwrite)
        Store(a + j, value);
      else
        Store(a + j, Load<T>(a + j) + value);
    };
    put(rho, weight * x.rho);
    put(drho_dpsi, weight * x.drho_dpsi);
    put(drho_du, weight * x.drho_du);
    put(drho_dv, weight * x.drho_dv);
    put(U, weight * x.U);
    put(dU_dpsi, weight * x.dU_dpsi);
    put(dU_du, weight * x.dU_du);
    put(dU_dv, weight * x.dU_dv);
  }
};

// Adds weight × the terms of one single-level record over the interior points of its layer to
// the block (writes them, with `overwrite`: the first contribution to the layer), storing the
// occupations. This is the solver's hot loop: one pass over plain arrays per defect and energy,
// two points at a time. False when a point fails (the block then holds partial sums; the caller
// clears it).
bool AccumulateSingleLevel(BulkDefectRecord& defect, int energy, double weight, const MeshCarriers& m,
                           DcTermBlock& block, bool overwrite) {
  LevelRecord& r = defect.record(energy, 0);
  double q0, q1;
  StateCharges(defect, q0, q1);
  const bool charged = defect.chargeCode != DEFLEVTYPE_NEUTRAL;
  const SingleLevelPass pass(r, m, block, static_cast<std::size_t>(defect.first));
  using Mask = long long __attribute__((vector_size(16)));
  Pair finite2{0.0, 0.0};
  Mask positive2{-1, -1};
  auto run = [&]<bool Overwrite>() {
    int j = 1;
    for (; j + 1 < defect.count - 1; j += 2) pass.Point<Overwrite>(j, weight, charged, q0, q1, finite2, positive2);
    double finite = finite2[0] + finite2[1];
    bool positive = positive2[0] != 0 && positive2[1] != 0;
    if (j < defect.count - 1) pass.Point<Overwrite>(j, weight, charged, q0, q1, finite, positive);
    return positive && finite == 0.0;
  };
  return overwrite ? run.template operator()<true>() : run.template operator()<false>();
}

// The occupations alone of a single-level record over its layer (the occupation iteration needs
// no derivatives); the same operations as above, so both store the same numbers.
void SingleLevelOccupations(BulkDefectRecord& defect, int energy, const MeshCarriers& m) {
  LevelRecord& r = defect.record(energy, 0);
  for (int j = 1; j < defect.count - 1; ++j) {
    const auto jj = static_cast<std::size_t>(j);
    const CarrierPoint c = m.at(static_cast<std::size_t>(defect.first + j));
    const LevelRates<double> k = Rates(r.cn[jj], r.cp[jj], r.en[jj], r.ep[jj], r.gn_opt[jj], r.gp_opt[jj], c.Nn, c.Np,
                                       c.expPsi, c.expMinPsi, c.uTot, c.vTot);
    const double inv = 1.0 / (k.A + k.D);
    // A point that cannot be computed keeps its previous occupations (the terms report it).
    if (k.A + k.D > 0.0 && std::isfinite(inv)) {
      r.f[jj] = k.A * inv;
      r.een_min_f[jj] = k.D * inv;
    }
  }
}

}  // namespace

bool rdcbijdrage_een_niveau_multilevel(BulkDefectRecord& defect, int energy, int j, const CarrierPoint& c,
                                       RecTerms& out, bool store) {
  if (defect.levels() == 1) return SingleLevelTerms(defect, energy, j, c, out, store);
  return rdcbijdrage_een_niveau_reference(defect, energy, j, c, out, store);
}

bool rdcbijdrage_een_niveau_reference(BulkDefectRecord& defect, int energy, int j, const CarrierPoint& c, RecTerms& out,
                                      bool store) {
  out = RecTerms{};
  const int L = defect.levels();
  const auto jj = static_cast<std::size_t>(j);
  const double n = c.n();
  const double p = c.p();
  const double dn_du = c.dn_du();
  const double dp_dv = c.dp_dv();
  const double NnNp = c.Nn * c.Np;              // ni²
  const double excess = c.uTot * c.vTot - 1.0;  // (np − ni²)/ni²

  // Derivatives are kept as triples (∂/∂ψ, ∂/∂u, ∂/∂v).
  using D3 = std::array<double, 3>;
  std::array<double, MAXLEVELS> a{}, d{}, S{}, B{};
  std::array<D3, MAXLEVELS> da{}, dS{}, dB{};

  for (int k = 0; k < L; ++k) {
    const LevelRecord& r = defect.record(energy, k);
    const double cn = r.cn[jj], cp = r.cp[jj], en = r.en[jj], ep = r.ep[jj];
    const double gn = r.gn_opt[jj], gp = r.gp_opt[jj];
    // A: rate at which state k gains an electron; D: rate at which state k+1 loses one.
    const double A = gp + ep + cn * n;
    const double Dk = gn + en + cp * p;
    const D3 dA{cn * n, cn * dn_du, 0.0};
    const D3 dD{-cp * p, 0.0, cp * dp_dv};
    const double s = A + Dk;
    if (!(s > 0.0) || !std::isfinite(s)) return false;
    const auto kk = static_cast<std::size_t>(k);
    S[kk] = s;
    // Scaled so that a + d = 1: the products below neither overflow nor underflow easily.
    a[kk] = A / s;
    d[kk] = Dk / s;
    for (int q = 0; q < 3; ++q) {
      dS[kk][q] = dA[q] + dD[q];
      da[kk][q] = (dA[q] * d[kk] - a[kk] * dD[q]) / s;
    }
    // Net electron capture through this transition per unit of (f_k + f_k+1)·Nt·(A + D).
    B[kk] = cn * cp * NnNp * excess - gn * ep - en * gp - gn * gp;
    dB[kk] = {0.0, cn * cp * NnNp * c.vTot, cn * cp * NnNp * c.uTot};
  }

  // State weights P_s = Π_{k<s} a_k · Π_{k≥s} d_k (the detailed-balance chain P_{s+1}/P_s = A_s/D_s).
  std::array<double, MAXDEFECTSTATES> pre{}, suf{}, P{};
  std::array<D3, MAXDEFECTSTATES> dpre{}, dsuf{}, dP{};
  pre[0] = 1.0;
  for (int k = 0; k < L; ++k) {
    const auto kk = static_cast<std::size_t>(k);
    pre[kk + 1] = pre[kk] * a[kk];
    for (int q = 0; q < 3; ++q) dpre[kk + 1][q] = dpre[kk][q] * a[kk] + pre[kk] * da[kk][q];
  }
  suf[static_cast<std::size_t>(L)] = 1.0;
  for (int k = L - 1; k >= 0; --k) {
    const auto kk = static_cast<std::size_t>(k);
    suf[kk] = d[kk] * suf[kk + 1];
    for (int q = 0; q < 3; ++q) dsuf[kk][q] = -da[kk][q] * suf[kk + 1] + d[kk] * dsuf[kk + 1][q];
  }
  double sum = 0.0;
  D3 dsum{};
  for (int s = 0; s <= L; ++s) {
    const auto ss = static_cast<std::size_t>(s);
    P[ss] = pre[ss] * suf[ss];
    sum += P[ss];
    for (int q = 0; q < 3; ++q) {
      dP[ss][q] = dpre[ss][q] * suf[ss] + pre[ss] * dsuf[ss][q];
      dsum[q] += dP[ss][q];
    }
  }
  if (!(sum > 0.0) || !std::isfinite(sum)) return false;

  std::array<double, MAXDEFECTSTATES> fs{};
  std::array<D3, MAXDEFECTSTATES> dfs{};
  for (int s = 0; s <= L; ++s) {
    const auto ss = static_cast<std::size_t>(s);
    fs[ss] = P[ss] / sum;
    for (int q = 0; q < 3; ++q) dfs[ss][q] = (dP[ss][q] - fs[ss] * dsum[q]) / sum;
  }
  // The fractions sum to one; where one state holds nearly everything its derivative is taken
  // from the others, so that the derivatives sum to zero to rounding as well.
  int dominant = -1;
  for (int s = 0; s <= L; ++s)
    if (fs[static_cast<std::size_t>(s)] > 0.999999) dominant = s;
  if (dominant >= 0) {
    const auto dd = static_cast<std::size_t>(dominant);
    for (int q = 0; q < 3; ++q) {
      double others = 0.0;
      for (int s = 0; s <= L; ++s)
        if (s != dominant) others += dfs[static_cast<std::size_t>(s)][q];
      dfs[dd][q] = -others;
    }
  }

  const double Nt = defect.record(energy, 0).Nt[jj];
  // Charge: state s carries (c − 3) − s elementary charges; code 0 carries none.
  if (defect.chargeCode != DEFLEVTYPE_NEUTRAL) {
    double rho = 0.0;
    D3 drho{};
    for (int s = 0; s <= L; ++s) {
      const auto ss = static_cast<std::size_t>(s);
      const double qs = (defect.chargeCode - 3) - s;
      rho += fs[ss] * qs;
      for (int q = 0; q < 3; ++q) drho[q] += dfs[ss][q] * qs;
    }
    out.rho = Nt * rho;
    out.drho_dpsi = Nt * drho[0];
    out.drho_du = Nt * drho[1];
    out.drho_dv = Nt * drho[2];
  }

  // Recombination through each transition: (f_k + f_k+1)·B_k/(A_k + D_k).
  double U = 0.0;
  D3 dU{};
  for (int k = 0; k < L; ++k) {
    const auto kk = static_cast<std::size_t>(k);
    const double F = fs[kk] + fs[kk + 1];
    const double term = F * B[kk] / S[kk];
    U += term;
    for (int q = 0; q < 3; ++q)
      dU[q] += ((dfs[kk][q] + dfs[kk + 1][q]) * B[kk] + F * dB[kk][q]) / S[kk] - term * dS[kk][q] / S[kk];
  }
  out.U = Nt * U;
  out.dU_dpsi = Nt * dU[0];
  out.dU_du = Nt * dU[1];
  out.dU_dv = Nt * dU[2];
  if (!AllFinite(out)) {
    out = RecTerms{};
    return false;
  }

  if (store) {
    for (int k = 0; k < L; ++k) {
      LevelRecord& r = defect.record(energy, k);
      r.f[jj] = fs[static_cast<std::size_t>(k + 1)];
      r.een_min_f[jj] = fs[static_cast<std::size_t>(k)];
    }
  }
  return true;
}

int rdcbijdrage_distributie_multilevel(BulkDefectRecord& defect, int j, const CarrierPoint& c, RecTerms& out,
                                       bool store) {
  out = RecTerms{};
  RecTerms t;
  for (int k = 0; k < defect.axis.count; ++k) {
    if (!rdcbijdrage_een_niveau_multilevel(defect, k, j, c, t, store)) {
      out = RecTerms{};
      return -1 - k;
    }
    // Trapezoid rule over the axis (weight 1 for a single level).
    t *= defect.axis.quadrature[static_cast<std::size_t>(k)];
    out += t;
  }
  return 0;
}

RecTerms rdcbijdrage_radiative(double K, const CarrierPoint& c) {
  RecTerms t;
  const double NnNp = c.Nn * c.Np;
  t.U = K * NnNp * (c.uTot * c.vTot - 1.0);
  t.dU_du = K * NnNp * c.vTot;
  t.dU_dv = K * NnNp * c.uTot;
  return t;
}

RecTerms rdcbijdrage_auger(double Cn, double Cp, const CarrierPoint& c) {
  RecTerms t;
  const double n = c.n();
  const double p = c.p();
  const double NnNp = c.Nn * c.Np;
  const double excess = NnNp * (c.uTot * c.vTot - 1.0);  // np − ni²
  const double rate = Cn * n + Cp * p;
  t.U = rate * excess;
  t.dU_dpsi = (Cn * n - Cp * p) * excess;
  t.dU_du = rate * NnNp * c.vTot + Cn * c.dn_du() * excess;
  t.dU_dv = rate * NnNp * c.uTot + Cp * c.dp_dv() * excess;
  return t;
}

// ---------------------------------------------------------------------------------------------
// Mesh-wide drivers
// ---------------------------------------------------------------------------------------------

int totale_rdcbijdrage_multilevel(BulkRecombination& rec, const MeshCarriers& carriers, const MeshBulkData& mesh,
                                  BulkTermBlocks& blocks, CallCounter* counter) {
  if (counter) counter->Count(CallCounter::totale_rdcbijdrage_multilevel);
  const std::size_t N = carriers.expPsi.size();
  if (blocks.total.size() != N) blocks.resize(N);  // only when the mesh has changed
  const int n = static_cast<int>(N);
  auto fail = [&](int status) {
    for (DcTermBlock* b : {&blocks.total, &blocks.srh, &blocks.radiative, &blocks.auger}) nulbijdrage(*b, n);
    blocks.srhInTotal = false;
    return status;
  };

  const std::size_t layers = std::min({mesh.first.size(), mesh.last.size(), static_cast<std::size_t>(MAXLAYERS)});
  const bool coefficients = mesh.K.size() >= N && mesh.Cn.size() >= N && mesh.Cp.size() >= N;
  if (!coefficients || carriers.expMinPsi.size() < N || carriers.Nn.size() < N || carriers.Np.size() < N ||
      carriers.u.size() < N || carriers.v.size() < N)
    return fail(-1);
  for (std::size_t l = 0; l < layers; ++l) {
    const int first = mesh.first[l];
    const int last = mesh.last[l];
    if (first < 0 || last >= n || last < first) return fail(-1);
    if (l > 0 && first <= mesh.last[l - 1]) return fail(-1);  // layers follow each other along the mesh
    // The records must lie on the present mesh.
    for (const auto& defect : rec.layer[l])
      if (defect.first != first || defect.count != last - first + 1) return fail(-1);
  }

  // Defects: each one in a pass over its layer, summed into the total; the first pass over a
  // layer writes its interior points. Points that no defect reaches (the ends of every layer,
  // layers without defects, anything outside the layers) are set to zero on their own, so the
  // block is never cleared as a whole.
  DcTermBlock& total = blocks.total;
  int covered = 0;  // points below this one are set
  auto zero = [&](int from, int to) {
    for (int i = std::max(from, covered); i < to; ++i) total.set(static_cast<std::size_t>(i), RecTerms{});
    covered = std::max(covered, to);
  };
  for (std::size_t l = 0; l < layers; ++l) {
    const int first = mesh.first[l], last = mesh.last[l];
    const bool interior = !rec.layer[l].empty() && last - first >= 2;
    zero(0, interior ? first + 1 : last + 1);
    bool written = false;
    for (auto& defect : rec.layer[l]) {
      if (counter) {
        counter->Count(CallCounter::rdcbijdrage_distributie_multilevel);
        for (int k = 0; k < defect.axis.count; ++k) counter->Count(CallCounter::rdcbijdrage_een_niveau_multilevel);
      }
      for (int k = 0; k < defect.axis.count; ++k) {
        const double w = defect.axis.quadrature[static_cast<std::size_t>(k)];
        if (defect.levels() == 1) {
          if (!AccumulateSingleLevel(defect, k, w, carriers, total, !written)) return fail(-1 - k);
        } else {
          for (int j = 1; j < defect.count - 1; ++j) {
            const auto i = static_cast<std::size_t>(defect.first + j);
            RecTerms t;
            if (!rdcbijdrage_een_niveau_reference(defect, k, j, carriers.at(i), t, true)) return fail(-1 - k);
            t *= w;
            if (written)
              total.add(i, t);
            else
              total.set(i, t);
          }
        }
        written = true;
      }
    }
    covered = std::max(covered, last);
  }
  zero(0, n);

  // Radiative and Auger recombination at the interior points of the layers that have them. The
  // two blocks are cleared only when they may hold something from an earlier call; without them
  // the total is the SRH part, and no separate copy is kept.
  bool bandToBand = false;
  for (std::size_t i = 0; i < N && !bandToBand; ++i)
    bandToBand = mesh.K[i] != 0.0 || mesh.Cn[i] != 0.0 || mesh.Cp[i] != 0.0;
  if (bandToBand || !blocks.bandToBandCleared) {
    nulbijdrage(blocks.radiative, n);
    nulbijdrage(blocks.auger, n);
    blocks.bandToBandCleared = !bandToBand;
  }
  blocks.srhInTotal = !bandToBand;
  if (!bandToBand) return 1;
  const auto totals = Arrays(std::as_const(total));
  const auto srh = Arrays(blocks.srh);
  for (std::size_t q = 0; q < totals.size(); ++q) std::copy_n(totals[q]->data(), N, srh[q]->data());
  double check = 0.0;
  for (std::size_t l = 0; l < layers; ++l) {
    for (int i = mesh.first[l] + 1; i < mesh.last[l]; ++i) {
      const auto ii = static_cast<std::size_t>(i);
      const CarrierPoint c = carriers.at(ii);
      if (mesh.K[ii] != 0.0) blocks.radiative.set(ii, rdcbijdrage_radiative(mesh.K[ii], c));
      if (mesh.Cn[ii] != 0.0 || mesh.Cp[ii] != 0.0)
        blocks.auger.set(ii, rdcbijdrage_auger(mesh.Cn[ii], mesh.Cp[ii], c));
      RecTerms t = blocks.srh.at(ii);
      t += blocks.radiative.at(ii);
      t += blocks.auger.at(ii);
      check += static_cast<double>(!AllFinite(t));
      total.set(ii, t);
    }
  }
  // A non-finite band-to-band term (the defects have been checked) spoils the total.
  if (check != 0.0) return fail(-1);
  return 1;
}

namespace {

double MaxChange(const std::vector<double>& now, const std::vector<double>& old) {
  double m = 0.0;
  for (std::size_t j = 0; j < now.size(); ++j) m = std::max(m, std::abs(now[j] - old[j]));
  return m;
}

}  // namespace

int IterateFt(BulkRecombination& rec, const MeshCarriers& carriers, DefectOptics* optics, const Environment* env,
              CallCounter* counter) {
  constexpr int kMaxSweeps = 100;
  constexpr double kTolerance = 1e-12;
  if (counter) counter->Count(CallCounter::IterateFt);
  const bool optical = optics != nullptr && optics->Active();
  const std::size_t N = carriers.expPsi.size();

  int sweeps = 0;
  double change = 0.0;
  do {
    for (auto& list : rec.layer)
      for (auto& defect : list)
        for (auto& r : defect.records) {
          std::copy(r.f.begin(), r.f.end(), r.f_tOld.begin());
          std::copy(r.een_min_f.begin(), r.een_min_f.end(), r.een_min_f_tOld.begin());
          std::copy(r.gn_opt.begin(), r.gn_opt.end(), r.g_n_maxOld.begin());
          std::copy(r.gp_opt.begin(), r.gp_opt.end(), r.g_p_maxOld.begin());
        }
    for (auto& list : rec.layer)
      for (auto& defect : list) {
        if (defect.first < 0 || static_cast<std::size_t>(defect.first + defect.count) > N) continue;
        if (defect.levels() == 1) {
          for (int k = 0; k < defect.axis.count; ++k) SingleLevelOccupations(defect, k, carriers);
          continue;
        }
        for (int j = 1; j < defect.count - 1; ++j) {
          const CarrierPoint c = carriers.at(static_cast<std::size_t>(defect.first + j));
          RecTerms t;
          // A point that fails keeps its previous occupations; the recombination terms report
          // the failure to the solver.
          for (int k = 0; k < defect.axis.count; ++k) rdcbijdrage_een_niveau_reference(defect, k, j, c, t, true);
        }
      }
    if (optical) optics->UpdateRates(rec);
    change = 0.0;
    for (auto& list : rec.layer)
      for (auto& defect : list)
        for (auto& r : defect.records) {
          change = std::max(change, MaxChange(r.f, r.f_tOld));
          change = std::max(change, MaxChange(r.een_min_f, r.een_min_f_tOld));
          change = std::max(change, MaxChange(r.gn_opt, r.g_n_maxOld));
          change = std::max(change, MaxChange(r.gp_opt, r.g_p_maxOld));
        }
    ++sweeps;
  } while (sweeps < kMaxSweeps && change > kTolerance);

  if (optical) optics->AfterLastSweep(rec);
  if (sweeps >= kMaxSweeps && env != nullptr)
    env->Error("Errormessage from IterateFt (dc_Gummel)", "Too many iterations (>" + std::to_string(kMaxSweeps) + ")!");
  return sweeps;
}

}  // namespace zoniq
