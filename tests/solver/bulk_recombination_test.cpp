// Bulk recombination: SRH through single, multivalent and distributed defects, radiative and
// Auger recombination, against textbook formulas, detailed balance and finite differences.
#include "solver/bulk_recombination.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include "test_util.hpp"

namespace zoniq {
namespace {

// A uniform layer in normalised units. NC ≠ NV so that the intrinsic level lies off midgap.
constexpr double kVt = 0.0259, kEg = 1.2, kNC = 2.0, kNV = 0.5, kVthN = 3.0, kVthP = 2.0, kNt = 0.01;
// Density prefactors with the Fermi level of the contact 0.55 eV below EC: Nn·Np = NC·NV·e^(−Eg/Vt).
const double kNn = kNC * std::exp(-0.55 / kVt), kNp = kNV * std::exp(-(kEg - 0.55) / kVt);
const double kNi2 = kNC * kNV * std::exp(-kEg / kVt);
constexpr int kFirst = 10, kCount = 5;  // the layer's points in the mesh: 10 … 14
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

CarrierPoint Point(double psi, double n, double p) {
  CarrierPoint c;
  c.expPsi = std::exp(psi), c.expMinPsi = std::exp(-psi), c.Nn = kNn, c.Np = kNp;
  c.uTot = n / (kNn * c.expPsi), c.vTot = p / (kNp * c.expMinPsi);
  return c;
}
// Thermal equilibrium (u0+u = v0+v = 1) at potential ψ.
CarrierPoint Equilibrium(double psi) { return Point(psi, kNn * std::exp(psi), kNp * std::exp(-psi)); }

LevelInput Level(int aard, double Et, double sn = 0.5, double sp = 0.25) {
  LevelInput l;
  l.aard = aard, l.Et = Et, l.sigma_n = sn, l.sigma_p = sp;
  return l;
}

DefectInput Defect(std::vector<LevelInput> levels, int reference = 0, int distribution = ED_SINGLE, double W = 0) {
  DefectInput d;
  d.layer = 1, d.reference = reference, d.distribution = distribution, d.W = W;
  d.numberOfLevels = static_cast<int>(levels.size());
  for (std::size_t k = 0; k < levels.size(); ++k) d.level[k] = levels[k];
  return d;
}
DefectInput Single(int aard, double Et, int reference = 0) { return Defect({Level(aard, Et)}, reference); }
DefectInput TwoLevels(int distribution = ED_SINGLE, double W = 0) {
  return Defect({Level(4, 0.45), Level(3, 0.75)}, 0, distribution, W);
}

BulkDefectRecord Build(const DefectInput& in, DefectAxisSettings settings = {}) {
  BulkDefectRecord d = CreateDefectRecord(in, kFirst, kCount, settings);
  const std::vector<double> vn(kCount, kVthN), vp(kCount, kVthP), NC(kCount, kNC), NV(kCount, kNV), Eg(kCount, kEg),
      Nt(kCount, kNt);
  FillDefectRecord(d, LayerPointData{vn, vp, NC, NV, Eg, Nt}, kVt);
  return d;
}

RecTerms Srh(BulkDefectRecord& d, const CarrierPoint& c, bool store = false) {
  RecTerms t;
  EXPECT_EQ(rdcbijdrage_distributie_multilevel(d, 2, c, t, store), 0);
  return t;
}

// Textbook SRH (Shockley-Read-Hall 1952), level E′ above EV: U = (np − ni²)/(τp(n + n1) + τn(p +
// p1)), τ = 1/(c·Nt); `scale`: n·p − ni² is rounded to 1e-16 of n·p + ni² (matters at equilibrium).
struct Textbook {
  double U, scale;
};
Textbook TextbookU(const CarrierPoint& c, double Eprime, double Nt) {
  const double n = c.n(), p = c.p(), cn = kVthN * 0.5, cp = kVthP * 0.25;
  const double n1 = kNC * std::exp(-(kEg - Eprime) / kVt), p1 = kNV * std::exp(-Eprime / kVt);
  const double den = (n + n1) / (cp * Nt) + (p + p1) / (cn * Nt);
  return {(n * p - kNi2) / den, (n * p + kNi2) / den};
}

// Equilibrium, forward and reverse bias, high injection, extreme one-sided injection.
std::vector<CarrierPoint> TestPoints() {
  return {Equilibrium(21.0),       Equilibrium(24.0),       Point(22.0, 1.0, 1e-3), Point(20.0, 1e-15, 1e-15),
          Point(21.5, 10.0, 10.0), Point(30.0, 1e6, 1e-30), Point(10.0, 1e-30, 1e6)};
}

// ∂ρ, ∂U against five-point differences in ψ, ln u, ln v (h = 1e-3): truncation ≈ h⁴·f⁽⁵⁾ (≤ 3e-9
// of the derivative: sums of e^(kψ), k ≤ 5), rounding ≈ 2e-16/h of the value: 1e-6 relative plus
// 1e-8 of the largest derivative and 1e-11 of the value.
template <class F>
void ExpectDerivativesMatch(F evaluate, CarrierPoint c, const char* what) {
  const RecTerms a = evaluate(c);
  const double h = 1e-3;
  auto at = [&](int q, double s) {
    CarrierPoint x = c;
    if (q == 0)
      x.expPsi *= std::exp(s), x.expMinPsi *= std::exp(-s);
    else
      (q == 1 ? x.uTot : x.vTot) *= 1 + s;
    return evaluate(x);
  };
  const double analyticU[3] = {a.dU_dpsi, a.dU_du * c.uTot, a.dU_dv * c.vTot};
  const double analyticR[3] = {a.drho_dpsi, a.drho_du * c.uTot, a.drho_dv * c.vTot};
  const double scaleU = std::max({std::abs(analyticU[0]), std::abs(analyticU[1]), std::abs(analyticU[2])});
  const double scaleR = std::max({std::abs(analyticR[0]), std::abs(analyticR[1]), std::abs(analyticR[2])});
  for (int q = 0; q < 3; ++q) {
    const RecTerms p1 = at(q, h), m1 = at(q, -h), p2 = at(q, 2 * h), m2 = at(q, -2 * h);
    SCOPED_TRACE(std::string(what) + " variable " + std::to_string(q) + " n=" + std::to_string(c.n()));
    EXPECT_CLOSE(analyticU[q], (8 * (p1.U - m1.U) - (p2.U - m2.U)) / (12 * h), 1e-6,
                 1e-8 * scaleU + 1e-11 * std::abs(a.U) + 1e-300);
    EXPECT_CLOSE(analyticR[q], (8 * (p1.rho - m1.rho) - (p2.rho - m2.rho)) / (12 * h), 1e-6,
                 1e-8 * scaleR + 1e-11 * std::abs(a.rho) + 1e-300);
  }
}

TEST(SingleLevel, ReducesToTextbookSrhForEveryReference) {
  // The level 0.45 eV above EV given above EV, relative to Ei = Eg/2 + (Vt/2)·ln(NV/NC), below EC.
  const double Ei = kEg / 2 + 0.5 * kVt * std::log(kNV / kNC);
  for (const DefectInput& in : {Single(3, 0.45, 0), Single(3, 0.45 - Ei, 1), Single(3, kEg - 0.45, 2)}) {
    BulkDefectRecord d = Build(in);
    for (const CarrierPoint& c : TestPoints()) {
      const Textbook t = TextbookU(c, 0.45, kNt);
      EXPECT_CLOSE(Srh(d, c).U, t.U, 1e-12, 1e-14 * t.scale) << "reference " << in.reference;  // rounding only
      ExpectDerivativesMatch([&](const CarrierPoint& x) { return Srh(d, x); }, c, "single level");
    }
  }
}

TEST(SingleLevel, OccupationMatchesClosedFormWithOpticalRates) {
  BulkDefectRecord d = Build(Single(3, 0.7));
  const double gn = 2e-9, gp = 5e-10;  // optical emission of electrons to the CB, holes to the VB
  d.record(0, 0).gn_opt[2] = gn;
  d.record(0, 0).gp_opt[2] = gp;
  const LevelRecord& r = d.record(0, 0);
  for (const CarrierPoint& c : TestPoints()) {
    const RecTerms t = Srh(d, c, true);
    const double cn = r.cn[2], cp = r.cp[2], en = r.en[2], ep = r.ep[2], n = c.n(), p = c.p();
    const double total = cn * n + cp * p + en + ep + gn + gp;
    const double f = (cn * n + ep + gp) / total, empty = (cp * p + en + gn) / total;
    EXPECT_CLOSE(r.f[2], f, 1e-13, 1e-300);
    EXPECT_CLOSE(r.een_min_f[2], empty, 1e-13, 1e-300);
    EXPECT_CLOSE(t.rho, -kNt * f, 1e-13, 1e-300);  // acceptor-like (code 3): states 0 and −1
    // Net electron capture equals net hole capture; each is a difference rounded to 1e-16 of the sum.
    const double inN = empty * cn * n, outN = f * (en + gn), inP = f * cp * p, outP = empty * (ep + gp);
    EXPECT_CLOSE(t.U, kNt * (inN - outN), 1e-12, 1e-13 * kNt * (inN + outN));
    EXPECT_CLOSE(t.U, kNt * (inP - outP), 1e-12, 1e-13 * kNt * (inP + outP));
  }
}

TEST(SingleLevel, DegeneracyFactor) {
  // g = (a − b)/(1 + b) only when positive; a = b = 0 gives g = 1, not a division by 0.
  for (const auto& [a, b, g] : {std::tuple{0, 0, 1.0}, {3, 0, 3.0}, {5, 1, 2.0}, {1, 2, 1.0}, {0, -1, 1.0}}) {
    DefectInput in = Single(3, 0.5);
    in.level[0].degeneracyA = a;
    in.level[0].degeneracyB = b;
    BulkDefectRecord d = Build(in);
    const LevelRecord& r = d.record(0, 0);
    ASSERT_TRUE(std::isfinite(r.en[0]));
    EXPECT_CLOSE(r.en[0] * r.ep[0], r.cn[0] * r.cp[0] * kNi2, 1e-12, 0) << a << "," << b;  // detailed balance
    EXPECT_CLOSE(r.en[0], kNC * r.cn[0] / g * std::exp(-(kEg - 0.5) / kVt), 1e-13, 0);
    // At equilibrium f = 1/(1 + g⁻¹·exp((E′ − EF)/Vt)), EF = Eg + Vt·ln(n/NC) above EV.
    const CarrierPoint c = Equilibrium(21.0);
    Srh(d, c, true);
    EXPECT_CLOSE(r.f[2], 1 / (1 + std::exp((0.5 - kEg - kVt * std::log(c.n() / kNC)) / kVt) / g), 1e-12, 0);
    in.degeneracyOne = true;  // "degeneracy factors equal one": the integers are ignored
    EXPECT_CLOSE(Build(in).record(0, 0).en[0], kNC * r.cn[0] * std::exp(-(kEg - 0.5) / kVt), 1e-13, 0);
  }
}

std::vector<DefectInput> MultivalentCases() {
  return {
      Defect({Level(4, 0.4), Level(3, 0.8)}),                                      // amphoteric +/0, 0/−
      Defect({Level(5, 0.3, 1.0, 0.1), Level(4, 0.6), Level(3, 0.9, 0.05, 2.0)}),  // 2+/+, +/0, 0/−
      Defect({Level(6, 0.2), Level(5, 0.5), Level(4, 0.7), Level(3, 1.0)}),        // four levels
      Defect({Level(0, 0.5), Level(0, 0.55)}),                                     // neutral: no charge
  };
}

TEST(Multivalent, EquilibriumFractionsFollowTheGibbsDistribution) {
  // At equilibrium P_{s+1}/P_s = exp((EF − E′_s)/Vt) (g = 1): f_s ∝ exp(Σ_{k<s} (EF − E′_k)/Vt).
  for (const DefectInput& in : MultivalentCases()) {
    BulkDefectRecord d = Build(in);
    for (double psi : {17.0, 21.0, 24.0}) {
      const CarrierPoint c = Equilibrium(psi);
      Srh(d, c, true);
      const double EF = kEg + kVt * std::log(c.n() / kNC);
      const std::size_t L = static_cast<std::size_t>(in.numberOfLevels);
      std::vector<double> w(L + 1, 1.0);
      for (std::size_t s = 1; s <= L; ++s) w[s] = w[s - 1] * std::exp((EF - in.level[s - 1].Et) / kVt);
      double sum = 0;
      for (double x : w) sum += x;
      for (std::size_t k = 0; k < L; ++k) {
        EXPECT_CLOSE(d.record(0, static_cast<int>(k)).een_min_f[2], w[k] / sum, 1e-10, 1e-300);
        EXPECT_CLOSE(d.record(0, static_cast<int>(k)).f[2], w[k + 1] / sum, 1e-10, 1e-300);
      }
    }
  }
}

// The discrete chains and a two-level chain spread over each distribution shape.
TEST(Multivalent, DerivativesMatchFiniteDifferences) {
  std::vector<BulkDefectRecord> records;
  for (const DefectInput& in : MultivalentCases()) records.push_back(Build(in));
  for (int type : {ED_UNIFORM, ED_GAUSS, ED_CBTAIL, ED_VBTAIL})
    records.push_back(Build(TwoLevels(type, 0.04), {9, 7, 6}));
  for (BulkDefectRecord& d : records)
    for (const CarrierPoint& c : TestPoints())
      ExpectDerivativesMatch([&](const CarrierPoint& x) { return Srh(d, x); }, c, "multivalent");
}

TEST(Multivalent, AmphotericChargeCodeComesFromTheFirstLevel) {
  // Type 5 with its levels entered 0/− first: ordered +/0, 0/− with charge code 4, so the states
  // are +1, 0, −1 (not +2, +1, 0 as "type 5" would give).
  std::array<BulkRecombinationParameters, MAXLEVELS> levels{};
  for (auto& l : levels) l.type = DT_AMPHOTERIC, l.numberOfLevels = 2, l.sigma_n = 1e-19, l.sigma_p = 2e-19;
  levels[0].aard = 3, levels[0].Et = 0.8, levels[1].aard = 4, levels[1].Et = 0.4;
  const DefectInput in = MakeDefectInput(levels, 1e19);
  EXPECT_EQ(DefectChargeCode(in), 4);
  EXPECT_EQ(in.level[0].aard, 4);
  EXPECT_EQ(in.level[0].Et, 0.4);
  EXPECT_CLOSE(in.level[0].sigma_p, 2.0, 1e-15, 0);
  EXPECT_TRUE(ValidateDefect(in).empty());
  BulkDefectRecord d = Build(in);
  // Full: −1 per defect; empty: +1; Fermi level at 0.6 eV: the tails e^(−0.2/Vt) cancel.
  EXPECT_CLOSE(Srh(d, Point(30.0, 1e6, 1e-30)).rho, -kNt, 1e-12, 0);
  EXPECT_CLOSE(Srh(d, Point(10.0, 1e-30, 1e6)).rho, kNt, 1e-12, 0);
  EXPECT_CLOSE(Srh(d, Equilibrium(std::log(kNC * std::exp(-(kEg - 0.6) / kVt) / kNn))).rho, 0.0, 0, 1e-9 * kNt);
}

TEST(Distributions, GaussianShapeAndWeightWithinOneWidth) {
  // The density per energy of a Gaussian level is exp(−(E − Et)²/W²)/(√π·W): at E − Et = W it is
  // e^(−1) of the peak, and the share within ±W is erf(1) = 0.842701. Seven energies over the
  // default ±3W put one at exactly +W; 61 energies make the trapezoid share good to 8e-4 (the
  // tails beyond ±3W hold erfc(3) = 2e-5).
  const double W = 0.07;
  const EnergyAxis seven = bereken_energie_as(ED_GAUSS, W, 7, 7.0, 6.0);
  ASSERT_EQ(seven.count, 7);
  EXPECT_CLOSE(seven.offset[4], W, 1e-12, 0.0);
  EXPECT_CLOSE(seven.weight[4] / seven.weight[3], std::exp(-1.0), 1e-12, 0.0);
  const EnergyAxis axis = bereken_energie_as(ED_GAUSS, W, 61, 7.0, 6.0);
  double within = 0.0;
  for (int k = 0; k + 1 < axis.count; ++k)
    if (axis.offset[k] >= -W - 1e-12 && axis.offset[k + 1] <= W + 1e-12)
      within += 0.5 * (axis.weight[k] + axis.weight[k + 1]) * axis.dE;
  EXPECT_CLOSE(within, std::erf(1.0), 2e-3, 0.0);
}

TEST(Distributions, TailsDecayIntoTheGapForEveryReference) {
  // Tails starting at EC (CB) or EV (VB), given on each reference. The level E′ above EV follows
  // from en = NC·cn·e^(−(Eg − E′)/Vt) and ep = NV·cp·e^(−E′/Vt).
  const double Ei = kEg / 2 + 0.5 * kVt * std::log(kNV / kNC), W = 0.05;
  const int n = 7;
  const double dE = 7 * W / (n - 1);
  // The trapezoid sum of e^(−k·ΔE/W)·ΔE normalises the density per eV.
  double sum = 0;
  for (int q = 1; q < n; ++q) sum += 0.5 * (std::exp(-(q - 1) * dE / W) + std::exp(-q * dE / W)) * dE;
  for (const auto& [type, reference, Et, start] : {std::tuple{ED_CBTAIL, 0, kEg, kEg},
                                                   {ED_CBTAIL, 1, kEg - Ei, kEg},
                                                   {ED_CBTAIL, 2, 0.0, kEg},
                                                   {ED_VBTAIL, 0, 0.0, 0.0},
                                                   {ED_VBTAIL, 1, -Ei, 0.0},
                                                   {ED_VBTAIL, 2, kEg, 0.0},
                                                   {ED_CBTAIL, 2, 0.3, kEg - 0.3},
                                                   {ED_VBTAIL, 2, 0.9, kEg - 0.9}}) {
    SCOPED_TRACE("type " + std::to_string(type) + " reference " + std::to_string(reference));
    BulkDefectRecord d = Build(Defect({Level(3, Et)}, reference, type, W), {n, 7.0, 6.0});
    for (int e = 0; e < n; ++e) {
      const LevelRecord& r = d.record(e, 0);
      const double expected = start + (type == ED_CBTAIL ? -1.0 : 1.0) * e * dE;     // into the gap
      EXPECT_NEAR(kEg + kVt * std::log(r.en[1] / (kNC * r.cn[1])), expected, 1e-9);  // Vt·1e-15 rounding
      EXPECT_NEAR(-kVt * std::log(r.ep[1] / (kNV * r.cp[1])), expected, 1e-9);
      EXPECT_CLOSE(r.Nt[1], kNt * std::exp(-e * dE / W) / sum, 1e-13, 0);  // Nt·e^(−|E′ − Et′|/W)
    }
  }
}

TEST(Distributions, IntegralIsTheTrapezoidSumOfSingleLevels) {
  // A uniform band of width W: the trapezoid rule over n energies of the textbook rate with
  // density Nt/W per eV (exact for a constant).
  const double W = 0.2, Et = 0.6;
  const int n = 7;
  BulkDefectRecord d = Build(Defect({Level(3, Et)}, 0, ED_UNIFORM, W), {n, 7.0, 6.0});
  const double dE = W / (n - 1);
  for (const CarrierPoint& c : TestPoints()) {
    double expected = 0, scale = 0;
    for (int k = 0; k < n; ++k) {
      const double weight = (k == 0 || k == n - 1) ? dE / 2 : dE;
      const Textbook t = TextbookU(c, Et - W / 2 + k * dE, kNt / W);
      expected += weight * t.U, scale += weight * t.scale;
    }
    EXPECT_CLOSE(Srh(d, c).U, expected, 1e-12, 1e-14 * scale);
  }
}

// Layer 0: points 0 … 9 with radiative recombination; layer 1: points 10 … 14 with Auger (the
// defect layer). Forward bias: (u0+u)(v0+v) > 1.
struct TwoLayerMesh {
  static constexpr int N = 15;
  std::vector<int> first{0, 10}, last{9, 14};
  std::vector<double> expPsi, expMinPsi, Nn, Np, u, v, K, Cn, Cp;
  TwoLayerMesh() {
    for (int i = 0; i < N; ++i) {
      expPsi.push_back(std::exp(18.0 + 0.5 * i));
      expMinPsi.push_back(std::exp(-18.0 - 0.5 * i));
      Nn.push_back(kNn), Np.push_back(kNp), u.push_back(3.0 + 0.1 * i), v.push_back(0.5);
      K.push_back(i < 10 ? 1e4 : 0.0), Cn.push_back(i < 10 ? 0.0 : 5e1), Cp.push_back(i < 10 ? 0.0 : 3e1);
    }
  }
  std::vector<double> u0 = std::vector<double>(N, 1.0), v0 = std::vector<double>(N, 0.5);  // the offsets
  MeshCarriers carriers() const { return {expPsi, expMinPsi, Nn, Np, u, v, u0, v0}; }
  MeshBulkData bulk() const { return {first, last, K, Cn, Cp}; }
};

// The SRH block holds, point by point, the sum over the layer's defects of the per-point
// integral (single-level ones take a mesh-wide pass); the total adds the Auger block; the layer
// ends stay empty; the stored occupations are those of the per-point kernel.
TEST(Totals, MeshPassesAddUpTheDefectsOfALayer) {
  TwoLayerMesh m;
  DefectInput tail = Defect({Level(3, 0.3)}, 2, ED_CBTAIL, 0.03), donor = TwoLevels(ED_GAUSS, 0.05);
  tail.defect = 1;
  BulkRecombination rec;
  AddDefectRecord(rec, Build(donor));
  AddDefectRecord(rec, Build(tail, {5, 7.0, 6.0}));
  BulkTermBlocks blocks;
  ASSERT_EQ(totale_rdcbijdrage_multilevel(rec, m.carriers(), m.bulk(), blocks), 1);
  BulkDefectRecord a = Build(donor), b = Build(tail, {5, 7.0, 6.0});
  const MeshCarriers mc = m.carriers();
  for (std::size_t i = kFirst + 1; i < kFirst + kCount - 1; ++i) {
    RecTerms ta, tb;
    ASSERT_EQ(rdcbijdrage_distributie_multilevel(a, static_cast<int>(i) - kFirst, mc.at(i), ta, true), 0);
    ASSERT_EQ(rdcbijdrage_distributie_multilevel(b, static_cast<int>(i) - kFirst, mc.at(i), tb, true), 0);
    const RecTerms s = blocks.Srh().at(i);
    EXPECT_CLOSE(s.U, ta.U + tb.U, 1e-15, 0) << i;
    EXPECT_CLOSE(s.dU_du, ta.dU_du + tb.dU_du, 1e-15, 0) << i;
    EXPECT_CLOSE(s.rho, ta.rho + tb.rho, 1e-15, 0) << i;
    EXPECT_CLOSE(s.drho_dpsi, ta.drho_dpsi + tb.drho_dpsi, 1e-15, 0) << i;
    EXPECT_NE(tb.rho, 0.0);
    EXPECT_CLOSE(blocks.total.at(i).U, s.U + blocks.auger.at(i).U, 1e-15, 0) << i;
    EXPECT_EQ(rec.layer[1][1].record(4, 0).f[i - kFirst], b.record(4, 0).f[i - kFirst]);
  }
  for (int i : {0, 9, 10, 14}) EXPECT_EQ(blocks.total.at(static_cast<std::size_t>(i)).rho, 0.0) << i;
  EXPECT_EQ(blocks.total.at(14).U, 0.0);
  EXPECT_EQ(IterateFt(rec, mc), 1);  // the occupation iteration finds nothing left to change
}

TEST(IterateFt, SweepsUntilOccupationsAreConsistent) {
  TwoLayerMesh m;
  BulkRecombination rec;
  AddDefectRecord(rec, Build(TwoLevels()));
  // The records start at 0.5/0.5: the first sweep changes them, the second finds no change.
  EXPECT_EQ(IterateFt(rec, m.carriers()), 2);
  EXPECT_EQ(IterateFt(rec, m.carriers()), 1);
  BulkDefectRecord fresh = Build(TwoLevels());
  RecTerms t;
  rdcbijdrage_een_niveau_multilevel(fresh, 0, 2, m.carriers().at(12), t, true);
  EXPECT_EQ(rec.layer[1][0].record(0, 1).f[2], fresh.record(0, 1).f[2]);
  EXPECT_EQ(rec.layer[1][0].record(0, 0).f[0], 0.5);  // the ends of the layer keep their values
}

TEST(Validation, RejectsDefectsThatCannotBeCalculated) {
  using Levels = std::array<BulkRecombinationParameters, MAXLEVELS>;
  static constexpr auto two = [](Levels& l, int a0, int a1) {
    for (auto& x : l) x.numberOfLevels = 2;
    l[0].aard = a0, l[1].aard = a1;
  };
  const struct {
    void (*edit)(Levels&);
    const char* message;  // nullptr: accepted; "": refused, message not checked
  } cases[] = {
      {[](Levels&) {}, nullptr},
      {[](Levels& l) { l[0].sigma_n = 0.0; }, nullptr},  // one cross section is enough
      {[](Levels& l) { l[0].sigma_n = l[0].sigma_p = 0.0; },
       "Layer 2, defect 1, level 1: both capture cross sections are zero"},
      {[](Levels& l) { l[0].distribution = ED_GAUSS, l[0].Ekar = 0.0; }, "characteristic energy"},
      {[](Levels& l) { two(l, 4, 3), l[1].sigma_n = l[1].sigma_p = 0.0; },
       "level 2: both capture cross sections are zero"},
      {[](Levels& l) { two(l, 4, 2); }, "chain"},  // +/0 with −/2− is no chain of successive transitions
      {[](Levels& l) { two(l, 1, 0); }, ""},       // starting at 2−/3− would need a 4− state
      {[](Levels& l) { l[0].sigma_n = kNaN; }, ""},
      {[](Levels& l) {
         for (auto& x : l) x.numberOfLevels = 9;
       },
       "number of levels"},
  };
  for (const auto& k : cases) {
    CellDefinition cell;
    InitialiseCellDefinition(cell);
    cell.numberOfLayers = 2;
    cell.layer[1].srhteller = 1;
    k.edit(cell.layer[1].srh[0]);
    std::string message;
    EXPECT_EQ(ValidateBulkDefects(cell, message), k.message == nullptr) << message;
    if (k.message) {
      EXPECT_NE(message.find(k.message), std::string::npos) << message;
    }
  }
}

}  // namespace
}  // namespace zoniq
