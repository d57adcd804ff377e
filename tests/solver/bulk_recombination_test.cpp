// Bulk recombination: SRH through single, multivalent and distributed defects, radiative and
// Auger recombination, against textbook formulas, detailed balance and finite differences.
#include "solver/bulk_recombination.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include "allocation_counter.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// A uniform layer in normalised units. NC ≠ NV so that the intrinsic level lies off midgap.
constexpr double kVt = 0.0259;  // [V] at 300 K
constexpr double kEg = 1.2;     // [eV]
constexpr double kNC = 2.0;
constexpr double kNV = 0.5;
constexpr double kVthN = 3.0;
constexpr double kVthP = 2.0;
constexpr double kNt = 0.01;
// Density prefactors with the Fermi level of the contact 0.55 eV below EC: Nn·Np = NC·NV·e^(−Eg/Vt).
const double kNn = kNC * std::exp(-0.55 / kVt);
const double kNp = kNV * std::exp(-(kEg - 0.55) / kVt);
const double kNi2 = kNC * kNV * std::exp(-kEg / kVt);
constexpr int kFirst = 10;  // the layer's points in the mesh: 10 … 14
constexpr int kCount = 5;

// A carrier point with the given densities at potential ψ.
CarrierPoint Point(double psi, double n, double p) {
  CarrierPoint c;
  c.expPsi = std::exp(psi);
  c.expMinPsi = std::exp(-psi);
  c.Nn = kNn;
  c.Np = kNp;
  c.uTot = n / (kNn * c.expPsi);
  c.vTot = p / (kNp * c.expMinPsi);
  return c;
}
// Thermal equilibrium (u0+u = v0+v = 1) at potential ψ.
CarrierPoint Equilibrium(double psi) { return Point(psi, kNn * std::exp(psi), kNp * std::exp(-psi)); }

LevelInput Level(int aard, double Et, double sn = 0.5, double sp = 0.25) {
  LevelInput l;
  l.aard = aard;
  l.Et = Et;
  l.sigma_n = sn;
  l.sigma_p = sp;
  return l;
}

DefectInput Single(int aard, double Et, int reference = 0) {
  DefectInput d;
  d.layer = 1;
  d.numberOfLevels = 1;
  d.reference = reference;
  d.level[0] = Level(aard, Et);
  return d;
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

// Textbook single-level SRH (Shockley and Read 1952; Hall 1952) with n1, p1 of a level E′ above
// EV and degeneracy g: U = (np − ni²)/(τp(n + n1) + τn(p + p1)), τ = 1/(c·Nt).
double TextbookU(double n, double p, double Eprime, double cn, double cp, double Nt, double g = 1.0) {
  const double n1 = kNC * std::exp(-(kEg - Eprime) / kVt) / g;
  const double p1 = g * kNV * std::exp(-Eprime / kVt);
  const double taun = 1 / (cn * Nt), taup = 1 / (cp * Nt);
  return (n * p - kNi2) / (taup * (n + n1) + taun * (p + p1));
}
// The size of the terms of TextbookU: n·p − ni² is rounded to about 1e-16 of n·p + ni², which
// matters at equilibrium, where the kernel gives exactly 0.
double TextbookScale(double n, double p, double Eprime, double cn, double cp, double Nt) {
  const double n1 = kNC * std::exp(-(kEg - Eprime) / kVt);
  const double p1 = kNV * std::exp(-Eprime / kVt);
  return (n * p + kNi2) / ((n + n1) / (cp * Nt) + (p + p1) / (cn * Nt));
}

// The points at which derivatives and identities are checked: equilibrium on both sides of the
// gap, moderate forward and reverse bias, high injection, and extreme one-sided injection.
std::vector<CarrierPoint> TestPoints() {
  return {Equilibrium(21.0),       Equilibrium(24.0),       Point(22.0, 1.0, 1e-3), Point(20.0, 1e-15, 1e-15),
          Point(21.5, 10.0, 10.0), Point(30.0, 1e6, 1e-30), Point(10.0, 1e-30, 1e6)};
}

// Compares the analytic derivatives of ρ and U with five-point central differences
// (f′ ≈ (8(f(h) − f(−h)) − (f(2h) − f(−2h)))/(12h)). The potential is varied through e^ψ and
// e^−ψ, u and v by a relative step. With h = 1e-3 the truncation error is about h⁴ = 1e-12
// times the fifth derivative (the rates are sums of e^(kψ), k ≤ 5, so at most about 3e-9 of the
// derivative), and the rounding error about 2e-16/h = 2e-13 of the value itself, which matters
// where a derivative is many orders smaller than the value (U ≈ −ni²-dominated points).
// Hence: 1e-6 relative, plus an absolute floor of 1e-8 of the largest scaled derivative and
// 1e-11 of the value (50 times the rounding estimate); a wrong sign or a missing term fails.
template <class F>
void ExpectDerivativesMatch(F evaluate, CarrierPoint c, const char* what) {
  const RecTerms a = evaluate(c);
  const double h = 1e-3;
  auto at = [&](int variable, double s) {
    CarrierPoint x = c;
    if (variable == 0) {
      x.expPsi *= std::exp(s);
      x.expMinPsi *= std::exp(-s);
    } else if (variable == 1) {
      x.uTot *= 1 + s;
    } else {
      x.vTot *= 1 + s;
    }
    return evaluate(x);
  };
  // Derivatives with respect to ψ, ln u and ln v, i.e. ∂/∂u·(u0+u) and ∂/∂v·(v0+v).
  RecTerms numeric[3];
  for (int q = 0; q < 3; ++q) {
    const RecTerms p1 = at(q, h), m1 = at(q, -h), p2 = at(q, 2 * h), m2 = at(q, -2 * h);
    numeric[q].U = (8 * (p1.U - m1.U) - (p2.U - m2.U)) / (12 * h);
    numeric[q].rho = (8 * (p1.rho - m1.rho) - (p2.rho - m2.rho)) / (12 * h);
  }
  const double analyticU[3] = {a.dU_dpsi, a.dU_du * c.uTot, a.dU_dv * c.vTot};
  const double analyticR[3] = {a.drho_dpsi, a.drho_du * c.uTot, a.drho_dv * c.vTot};
  const double scaleU = std::max({std::abs(analyticU[0]), std::abs(analyticU[1]), std::abs(analyticU[2])});
  const double scaleR = std::max({std::abs(analyticR[0]), std::abs(analyticR[1]), std::abs(analyticR[2])});
  const char* names[3] = {"psi", "u", "v"};
  for (int q = 0; q < 3; ++q) {
    SCOPED_TRACE(std::string(what) + " d/d" + names[q] + " at n=" + std::to_string(c.n()) +
                 " p=" + std::to_string(c.p()));
    EXPECT_CLOSE(analyticU[q], numeric[q].U, 1e-6, 1e-8 * scaleU + 1e-11 * std::abs(a.U) + 1e-300);
    EXPECT_CLOSE(analyticR[q], numeric[q].rho, 1e-6, 1e-8 * scaleR + 1e-11 * std::abs(a.rho) + 1e-300);
  }
}

// ---------------------------------------------------------------------------------------------
// Single level
// ---------------------------------------------------------------------------------------------

TEST(SingleLevel, ReducesToTextbookSrhForEveryReference) {
  // The same physical level 0.45 eV above EV given on the three references:
  // above EV; relative to Ei = Eg/2 + (Vt/2)·ln(NV/NC); below EC.
  const double Eprime = 0.45;
  const double Ei = kEg / 2 + 0.5 * kVt * std::log(kNV / kNC);
  const DefectInput inputs[] = {Single(3, Eprime, 0), Single(3, Eprime - Ei, 1), Single(3, kEg - Eprime, 2)};
  for (const DefectInput& in : inputs) {
    BulkDefectRecord d = Build(in);
    for (const CarrierPoint& c : TestPoints()) {
      const double expected = TextbookU(c.n(), c.p(), Eprime, kVthN * 0.5, kVthP * 0.25, kNt);
      const double scale = TextbookScale(c.n(), c.p(), Eprime, kVthN * 0.5, kVthP * 0.25, kNt);
      // Same quantity arranged differently: rounding only (1e-12 relative, 1e-14 of the terms).
      EXPECT_CLOSE(Srh(d, c).U, expected, 1e-12, 1e-14 * scale) << "reference " << in.reference;
      ExpectDerivativesMatch([&](const CarrierPoint& x) { return Srh(d, x); }, c, "single level");
    }
  }
}

TEST(SingleLevel, OccupationMatchesClosedFormWithOpticalRates) {
  BulkDefectRecord d = Build(Single(3, 0.7));
  // Optical emission of electrons to the CB and of holes to the VB.
  const double gn = 2e-9, gp = 5e-10;
  d.record(0, 0).gn_opt[2] = gn;
  d.record(0, 0).gp_opt[2] = gp;
  const LevelRecord& r = d.record(0, 0);
  for (const CarrierPoint& c : TestPoints()) {
    const RecTerms t = Srh(d, c, true);
    const double cn = r.cn[2], cp = r.cp[2], en = r.en[2], ep = r.ep[2];
    const double n = c.n(), p = c.p();
    const double total = cn * n + cp * p + en + ep + gn + gp;
    const double f = (cn * n + ep + gp) / total;
    const double empty = (cp * p + en + gn) / total;  // 1 − f without cancellation
    EXPECT_CLOSE(r.f[2], f, 1e-13, 1e-300);
    EXPECT_CLOSE(r.een_min_f[2], empty, 1e-13, 1e-300);
    // Acceptor-like (code 3): states 0 and −1, so ρ = −Nt·f.
    EXPECT_CLOSE(t.rho, -kNt * f, 1e-13, 1e-300);
    // In steady state the net electron capture equals the net hole capture. Each is a
    // difference of two rates, rounded to about 1e-16 of their sum (tolerance 1e-13 of it).
    const double inN = empty * cn * n, outN = f * (en + gn);
    const double inP = f * cp * p, outP = empty * (ep + gp);
    EXPECT_CLOSE(t.U, kNt * (inN - outN), 1e-12, 1e-13 * kNt * (inN + outN));
    EXPECT_CLOSE(t.U, kNt * (inP - outP), 1e-12, 1e-13 * kNt * (inP + outP));
  }
}

TEST(SingleLevel, DegeneracyFactor) {
  // g = (a − b)/(1 + b) only when positive; a = b = 0 (nothing set) gives g = 1, not a division by 0.
  struct Case {
    int a, b;
    double g;
  } cases[] = {{0, 0, 1.0}, {3, 0, 3.0}, {5, 1, 2.0}, {1, 2, 1.0}, {0, -1, 1.0}};
  for (const Case& k : cases) {
    DefectInput in = Single(3, 0.5);
    in.level[0].degeneracyA = k.a;
    in.level[0].degeneracyB = k.b;
    BulkDefectRecord d = Build(in);
    const LevelRecord& r = d.record(0, 0);
    ASSERT_TRUE(std::isfinite(r.en[0]));
    // Detailed balance holds whatever g: en·ep = cn·cp·ni².
    EXPECT_CLOSE(r.en[0] * r.ep[0], r.cn[0] * r.cp[0] * kNi2, 1e-12, 0) << k.a << "," << k.b;
    EXPECT_CLOSE(r.en[0], kNC * r.cn[0] / k.g * std::exp(-(kEg - 0.5) / kVt), 1e-13, 0);
    // At equilibrium the occupation is Fermi-Dirac with the degeneracy factor:
    // f = 1/(1 + g⁻¹·exp((E′ − EF)/Vt)), EF = Eg + Vt·ln(n/NC) above EV.
    const CarrierPoint c = Equilibrium(21.0);
    Srh(d, c, true);
    const double EF = kEg + kVt * std::log(c.n() / kNC);
    EXPECT_CLOSE(r.f[2], 1 / (1 + std::exp((0.5 - EF) / kVt) / k.g), 1e-12, 0);
    // With the flag "degeneracy factors equal one" the integers are ignored.
    in.degeneracyOne = true;
    BulkDefectRecord one = Build(in);
    EXPECT_CLOSE(one.record(0, 0).en[0], kNC * r.cn[0] * std::exp(-(kEg - 0.5) / kVt), 1e-13, 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Multivalent defects
// ---------------------------------------------------------------------------------------------

DefectInput Multi(std::vector<LevelInput> levels) {
  DefectInput d;
  d.layer = 1;
  d.numberOfLevels = static_cast<int>(levels.size());
  for (std::size_t k = 0; k < levels.size(); ++k) d.level[k] = levels[k];
  return d;
}

std::vector<DefectInput> MultivalentCases() {
  return {
      Multi({Level(4, 0.4), Level(3, 0.8)}),                                      // amphoteric +/0, 0/−
      Multi({Level(5, 0.3, 1.0, 0.1), Level(4, 0.6), Level(3, 0.9, 0.05, 2.0)}),  // 2+/+, +/0, 0/−
      Multi({Level(6, 0.2), Level(5, 0.5), Level(4, 0.7), Level(3, 1.0)}),        // four levels
      Multi({Level(0, 0.5), Level(0, 0.55)}),                                     // neutral: recombines, no charge
  };
}

TEST(Multivalent, EquilibriumFractionsFollowTheGibbsDistribution) {
  // At equilibrium P_{s+1}/P_s = exp((EF − E′_s)/Vt) (g = 1), so
  // f_s ∝ exp(Σ_{k<s} (EF − E′_k)/Vt).
  for (const DefectInput& in : MultivalentCases()) {
    BulkDefectRecord d = Build(in);
    for (double psi : {17.0, 21.0, 24.0}) {
      const CarrierPoint c = Equilibrium(psi);
      Srh(d, c, true);
      const double EF = kEg + kVt * std::log(c.n() / kNC);
      const int L = in.numberOfLevels;
      std::vector<double> w(static_cast<std::size_t>(L + 1), 1.0);
      double sum = 1.0;
      for (int s = 1; s <= L; ++s) {
        w[static_cast<std::size_t>(s)] =
            w[static_cast<std::size_t>(s - 1)] * std::exp((EF - in.level[static_cast<std::size_t>(s - 1)].Et) / kVt);
        sum += w[static_cast<std::size_t>(s)];
      }
      for (int k = 0; k < L; ++k) {
        EXPECT_CLOSE(d.record(0, k).een_min_f[2], w[static_cast<std::size_t>(k)] / sum, 1e-10, 1e-300);
        EXPECT_CLOSE(d.record(0, k).f[2], w[static_cast<std::size_t>(k + 1)] / sum, 1e-10, 1e-300);
      }
    }
  }
}

// One finite-difference check for every multilevel form: the discrete chains and a two-level
// chain spread over each distribution shape.
TEST(Multivalent, DerivativesMatchFiniteDifferences) {
  std::vector<BulkDefectRecord> records;
  for (const DefectInput& in : MultivalentCases()) records.push_back(Build(in));
  for (int type : {ED_UNIFORM, ED_GAUSS, ED_CBTAIL, ED_VBTAIL}) {
    DefectInput in = Multi({Level(4, 0.45), Level(3, 0.75)});
    in.distribution = type;
    in.W = 0.04;
    records.push_back(Build(in, {9, 7.0, 6.0}));
  }
  for (BulkDefectRecord& d : records)
    for (const CarrierPoint& c : TestPoints())
      ExpectDerivativesMatch([&](const CarrierPoint& x) { return Srh(d, x); }, c, "multivalent");
}

TEST(Multivalent, AmphotericChargeCodeComesFromTheFirstLevel) {
  // An amphoteric defect of the cell definition (defect type 5) with its levels entered 0/− first:
  // the levels are ordered +/0, 0/− and the charge code is 4, so the states are +1, 0, −1
  // (and not +2, +1, 0 as "type 5" would give).
  std::array<BulkRecombinationParameters, MAXLEVELS> levels{};
  for (auto& l : levels) {
    l.type = DT_AMPHOTERIC;
    l.numberOfLevels = 2;
    l.sigma_n = 1e-19;
    l.sigma_p = 2e-19;
  }
  levels[0].aard = 3;
  levels[0].Et = 0.8;
  levels[1].aard = 4;
  levels[1].Et = 0.4;
  DefectInput in = MakeDefectInput(levels, 1e19);
  EXPECT_EQ(DefectChargeCode(in), 4);
  EXPECT_EQ(in.level[0].aard, 4);
  EXPECT_EQ(in.level[0].Et, 0.4);
  EXPECT_CLOSE(in.level[0].sigma_p, 2.0, 1e-15, 0);
  EXPECT_TRUE(ValidateDefect(in).empty());
  BulkDefectRecord d = Build(in);
  // Full of electrons: −1 per defect; empty: +1; Fermi level midway between the levels (at
  // 0.6 eV): neutral except for the tails e^(−0.2/Vt) ≈ 4e-4 on both sides, which cancel.
  EXPECT_CLOSE(Srh(d, Point(30.0, 1e6, 1e-30)).rho, -kNt, 1e-12, 0);
  EXPECT_CLOSE(Srh(d, Point(10.0, 1e-30, 1e6)).rho, kNt, 1e-12, 0);
  const double psiMid = std::log(kNC * std::exp(-(kEg - 0.6) / kVt) / kNn);
  EXPECT_CLOSE(Srh(d, Equilibrium(psiMid)).rho, 0.0, 0, 1e-9 * kNt);
}

// ---------------------------------------------------------------------------------------------
// Distributions
// ---------------------------------------------------------------------------------------------

TEST(EnergyAxis, WeightsIntegrateToExactlyOne) {
  // Unscaled, a tail cut at 7 W carries ∫ e^(−x) over trapezoids (1.11 with 7 energies) and a
  // 2-level Gaussian almost nothing; the scaled weights integrate to 1 to rounding.
  for (int type : {ED_UNIFORM, ED_GAUSS, ED_CBTAIL, ED_VBTAIL})
    for (int n : {2, 7, 100}) {
      const EnergyAxis a = bereken_energie_as(type, 0.05, n, 7.0, 6.0);
      ASSERT_EQ(a.count, n);
      double trapezoid = 0, quadrature = 0;
      for (int k = 1; k < n; ++k) trapezoid += 0.5 * (a.weight[k - 1] + a.weight[k]) * a.dE;
      for (int k = 0; k < n; ++k) quadrature += a.quadrature[k] * a.weight[k];
      EXPECT_NEAR(trapezoid, 1.0, 1e-14) << type << " " << n;
      EXPECT_NEAR(quadrature, 1.0, 1e-14) << type << " " << n;
      // Ends weighted ΔE/2, interior ΔE.
      EXPECT_EQ(a.quadrature[0], 0.5 * a.dE);
      EXPECT_EQ(a.quadrature[n - 1], 0.5 * a.dE);
      if (n > 2) {
        EXPECT_EQ(a.quadrature[1], a.dE);
      }
    }
  // Extents from the table of axes: uniform W, Gaussian 6 W, tails 7 W.
  EXPECT_NEAR(bereken_energie_as(ED_UNIFORM, 0.1, 5, 7, 6).dE, 0.1 / 4, 1e-17);
  EXPECT_NEAR(bereken_energie_as(ED_GAUSS, 0.1, 5, 7, 6).offset[0], -0.3, 1e-16);
  EXPECT_NEAR(bereken_energie_as(ED_CBTAIL, 0.1, 8, 7, 6).offset[7], -0.7, 1e-15);
  EXPECT_NEAR(bereken_energie_as(ED_VBTAIL, 0.1, 8, 7, 6).offset[7], 0.7, 1e-15);
  const EnergyAxis single = bereken_energie_as(ED_SINGLE, 0.1, 7, 7, 6);
  EXPECT_EQ(single.count, 1);
  EXPECT_EQ(single.weight[0], 1.0);
  EXPECT_EQ(single.quadrature[0], 1.0);
}

TEST(Distributions, TailsDecayIntoTheGapForEveryReference) {
  // A CB tail starting at EC and a VB tail starting at EV, their level energy given on each of
  // the three references. The level energy E′ above EV follows from the emission coefficients:
  // en = NC·cn·e^(−(Eg − E′)/Vt) and ep = NV·cp·e^(−E′/Vt).
  const double Ei = kEg / 2 + 0.5 * kVt * std::log(kNV / kNC);
  const double W = 0.05;
  const int n = 7;
  const double dE = 7 * W / (n - 1);
  struct Case {
    int type, reference;
    double Et, start;  // entered energy and E′ at the start of the tail
  } cases[] = {{ED_CBTAIL, 0, kEg, kEg},       {ED_CBTAIL, 1, kEg - Ei, kEg}, {ED_CBTAIL, 2, 0.0, kEg},
               {ED_VBTAIL, 0, 0.0, 0.0},       {ED_VBTAIL, 1, -Ei, 0.0},      {ED_VBTAIL, 2, kEg, 0.0},
               {ED_CBTAIL, 2, 0.3, kEg - 0.3}, {ED_VBTAIL, 2, 0.9, kEg - 0.9}};
  for (const Case& k : cases) {
    SCOPED_TRACE("type " + std::to_string(k.type) + " reference " + std::to_string(k.reference));
    DefectInput in = Single(3, k.Et, k.reference);
    in.distribution = k.type;
    in.W = W;
    BulkDefectRecord d = Build(in, {n, 7.0, 6.0});
    const double direction = k.type == ED_CBTAIL ? -1.0 : 1.0;  // into the gap
    for (int e = 0; e < n; ++e) {
      const LevelRecord& r = d.record(e, 0);
      const double fromEn = kEg + kVt * std::log(r.en[1] / (kNC * r.cn[1]));
      const double fromEp = -kVt * std::log(r.ep[1] / (kNV * r.cp[1]));
      const double expected = k.start + direction * e * dE;
      // The logarithm of a ratio of doubles: errors of order Vt·1e-15 eV.
      EXPECT_NEAR(fromEn, expected, 1e-9);
      EXPECT_NEAR(fromEp, expected, 1e-9);
      // Density per eV: Nt·e^(−|E′ − Et′|/W) normalised by the trapezoid sum of e^(−k·ΔE/W)·ΔE.
      double sum = 0;
      for (int q = 1; q < n; ++q) sum += 0.5 * (std::exp(-(q - 1) * dE / W) + std::exp(-q * dE / W)) * dE;
      EXPECT_CLOSE(r.Nt[1], kNt * std::exp(-e * dE / W) / sum, 1e-13, 0);
      if (e > 0) {
        EXPECT_LT(r.Nt[1], d.record(e - 1, 0).Nt[1]);
      }
    }
  }
}

TEST(Distributions, IntegralIsTheTrapezoidSumOfSingleLevels) {
  // A uniform band of width W: the trapezoid rule over n energies of the textbook single-level
  // rate with density Nt/W per eV (the trapezoid sum of a constant is exact).
  const double W = 0.2, Et = 0.6;
  const int n = 7;
  DefectInput in = Single(3, Et);
  in.distribution = ED_UNIFORM;
  in.W = W;
  BulkDefectRecord d = Build(in, {n, 7.0, 6.0});
  const double dE = W / (n - 1);
  for (const CarrierPoint& c : TestPoints()) {
    double expected = 0, scale = 0;
    for (int k = 0; k < n; ++k) {
      const double weight = (k == 0 || k == n - 1) ? dE / 2 : dE;
      expected += weight * TextbookU(c.n(), c.p(), Et - W / 2 + k * dE, kVthN * 0.5, kVthP * 0.25, kNt / W);
      scale += weight * TextbookScale(c.n(), c.p(), Et - W / 2 + k * dE, kVthN * 0.5, kVthP * 0.25, kNt / W);
    }
    EXPECT_CLOSE(Srh(d, c).U, expected, 1e-12, 1e-14 * scale);
  }
}

// ---------------------------------------------------------------------------------------------
// Detailed balance
// ---------------------------------------------------------------------------------------------

TEST(DetailedBalance, NoNetRecombinationAtEquilibrium) {
  // np = ni² (here u0+u = v0+v = 1 and also u0+u = 4, v0+v = 1/4): every mechanism gives U = 0.
  std::vector<DefectInput> defects = MultivalentCases();
  defects.push_back(Single(3, 0.3));
  defects.push_back(Single(4, 1.0, 2));
  for (int type : {ED_UNIFORM, ED_GAUSS, ED_CBTAIL, ED_VBTAIL}) {
    DefectInput in = Multi({Level(4, 0.45), Level(3, 0.75)});
    in.distribution = type;
    in.W = 0.05;
    in.reference = type == ED_CBTAIL ? 2 : 0;
    defects.push_back(in);
  }
  for (const DefectInput& in : defects) {
    BulkDefectRecord d = Build(in);
    for (double psi : {15.0, 21.0, 26.0}) {
      CarrierPoint c = Equilibrium(psi);
      EXPECT_EQ(Srh(d, c).U, 0.0);
      c.uTot = 4.0;
      c.vTot = 0.25;
      EXPECT_EQ(Srh(d, c).U, 0.0);
      EXPECT_EQ(rdcbijdrage_radiative(1e5, c).U, 0.0);
      EXPECT_EQ(rdcbijdrage_auger(1e3, 2e3, c).U, 0.0);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Radiative and Auger
// ---------------------------------------------------------------------------------------------

TEST(BandToBand, RadiativeAndAugerRates) {
  const double K = 3e4, Cn = 2e2, Cp = 7e1;
  for (const CarrierPoint& c : TestPoints()) {
    const double n = c.n(), p = c.p();
    // K·(np − ni²), with ni² = Nn·Np exactly; rel 1e-12 allows for the different arrangement.
    const double excess = n * p - kNi2;
    const double scale = n * p + kNi2;
    const RecTerms r = rdcbijdrage_radiative(K, c);
    EXPECT_CLOSE(r.U, K * excess, 1e-12, 1e-13 * K * scale);
    EXPECT_EQ(r.rho, 0.0);
    EXPECT_EQ(r.dU_dpsi, 0.0);
    const RecTerms a = rdcbijdrage_auger(Cn, Cp, c);
    EXPECT_CLOSE(a.U, (Cn * n + Cp * p) * excess, 1e-12, 1e-13 * (Cn * n + Cp * p) * scale);
    EXPECT_EQ(a.rho, 0.0);
    ExpectDerivativesMatch([&](const CarrierPoint& x) { return rdcbijdrage_radiative(K, x); }, c, "radiative");
    ExpectDerivativesMatch([&](const CarrierPoint& x) { return rdcbijdrage_auger(Cn, Cp, x); }, c, "auger");
  }
}

// ---------------------------------------------------------------------------------------------
// Mesh-wide driver, occupation iteration, allocation
// ---------------------------------------------------------------------------------------------

struct TwoLayerMesh {
  // Layer 0: points 0 … 9; layer 1: points 10 … 14 (the defect layer).
  static constexpr int N = 15;
  std::vector<int> first{0, 10}, last{9, 14};
  std::vector<double> expPsi, expMinPsi, Nn, Np, u, v, K, Cn, Cp;
  TwoLayerMesh() {
    for (int i = 0; i < N; ++i) {
      const double psi = 18.0 + 0.5 * i;
      expPsi.push_back(std::exp(psi));
      expMinPsi.push_back(std::exp(-psi));
      Nn.push_back(kNn);
      Np.push_back(kNp);
      u.push_back(3.0 + 0.1 * i);  // forward bias: (u0+u)(v0+v) > 1
      v.push_back(0.5);
      K.push_back(i < 10 ? 1e4 : 0.0);
      Cn.push_back(i < 10 ? 0.0 : 5e1);
      Cp.push_back(i < 10 ? 0.0 : 3e1);
    }
  }
  std::vector<double> u0 = std::vector<double>(N, 1.0), v0 = std::vector<double>(N, 0.5);  // the offsets
  MeshCarriers carriers() const { return {expPsi, expMinPsi, Nn, Np, u, v, u0, v0}; }
  MeshBulkData bulk() const { return {first, last, K, Cn, Cp}; }
  // No radiative or Auger recombination anywhere.
  void NoBandToBand() {
    for (auto* a : {&K, &Cn, &Cp}) std::fill(a->begin(), a->end(), 0.0);
  }
};

// Single-level defects take the mesh-wide pass rather than a call per point, multilevel ones a
// call per point: the SRH block must hold, point by point, the sum over the layer's defects of
// the per-point integral, the total adds the Auger block, the layer ends stay empty and the
// stored occupations must be those of the per-point kernel.
TEST(Totals, MeshPassesAddUpTheDefectsOfALayer) {
  TwoLayerMesh m;
  DefectInput tail = Single(3, 0.3, 2);
  tail.defect = 1;
  tail.distribution = ED_CBTAIL;
  tail.W = 0.03;
  DefectInput donor = Multi({Level(4, 0.45), Level(3, 0.75)});
  donor.distribution = ED_GAUSS;
  donor.W = 0.05;
  BulkRecombination rec;
  AddDefectRecord(rec, Build(donor));
  AddDefectRecord(rec, Build(tail, {5, 7.0, 6.0}));
  BulkTermBlocks blocks;
  ASSERT_EQ(totale_rdcbijdrage_multilevel(rec, m.carriers(), m.bulk(), blocks), 1);
  BulkDefectRecord a = Build(donor), b = Build(tail, {5, 7.0, 6.0});
  const MeshCarriers mc = m.carriers();
  for (int i = kFirst + 1; i < kFirst + kCount - 1; ++i) {
    const auto ii = static_cast<std::size_t>(i);
    RecTerms ta, tb;
    ASSERT_EQ(rdcbijdrage_distributie_multilevel(a, i - kFirst, mc.at(ii), ta, true), 0);
    ASSERT_EQ(rdcbijdrage_distributie_multilevel(b, i - kFirst, mc.at(ii), tb, true), 0);
    const RecTerms s = blocks.Srh().at(ii);
    EXPECT_CLOSE(s.U, ta.U + tb.U, 1e-15, 0) << i;
    EXPECT_CLOSE(s.dU_du, ta.dU_du + tb.dU_du, 1e-15, 0) << i;
    EXPECT_CLOSE(s.rho, ta.rho + tb.rho, 1e-15, 0) << i;
    EXPECT_CLOSE(s.drho_dpsi, ta.drho_dpsi + tb.drho_dpsi, 1e-15, 0) << i;
    EXPECT_NE(tb.rho, 0.0);
    const RecTerms t = blocks.total.at(ii), au = blocks.auger.at(ii);
    EXPECT_CLOSE(t.U, s.U + au.U, 1e-15, 0) << i;
    EXPECT_EQ(rec.layer[1][1].record(4, 0).f[static_cast<std::size_t>(i - kFirst)],
              b.record(4, 0).f[static_cast<std::size_t>(i - kFirst)]);
  }
  for (int i : {0, 9, 10, 14}) EXPECT_EQ(blocks.total.at(static_cast<std::size_t>(i)).rho, 0.0) << i;
  EXPECT_EQ(blocks.total.at(14).U, 0.0);
  // The occupation iteration stores the same numbers: nothing left to change.
  EXPECT_EQ(IterateFt(rec, mc), 1);
}

TEST(Totals, FailingDefectReportsItsEnergy) {
  // Whichever interior point fails (the layer's points are taken two at a time, the last one
  // alone), the call fails with the energy.
  for (std::size_t j : {1u, 2u, 3u}) {
    TwoLayerMesh m;
    BulkRecombination rec;
    DefectInput in = Single(3, 0.6);
    in.distribution = ED_UNIFORM;
    in.W = 0.1;
    BulkDefectRecord d = Build(in, {5, 7.0, 6.0});
    // Energy 2 can neither capture nor emit: its occupation is undefined.
    for (double* a : {&d.record(2, 0).cn[j], &d.record(2, 0).cp[j], &d.record(2, 0).en[j], &d.record(2, 0).ep[j]})
      *a = 0.0;
    AddDefectRecord(rec, std::move(d));
    BulkTermBlocks blocks;
    EXPECT_EQ(totale_rdcbijdrage_multilevel(rec, m.carriers(), m.bulk(), blocks), -3) << j;
    // An infinite density is refused as well.
    rec.layer[1][0].record(2, 0).cn[j] = 1.0;
    rec.layer[1][0].record(1, 0).Nt[j] = std::numeric_limits<double>::infinity();
    EXPECT_EQ(totale_rdcbijdrage_multilevel(rec, m.carriers(), m.bulk(), blocks), -2) << j;
  }
  // A record made for another mesh (its layer starting at point 11) fails rather than read out
  // of range, and the blocks then hold zeros only.
  TwoLayerMesh m;
  BulkRecombination rec;
  AddDefectRecord(rec, Build(Single(3, 0.6)));
  AddDefectRecord(rec, CreateDefectRecord(Single(4, 0.5, 0), 11, 4, {}));
  BulkTermBlocks blocks;
  EXPECT_LT(totale_rdcbijdrage_multilevel(rec, m.carriers(), m.bulk(), blocks), 0);
  for (std::size_t i = 0; i < blocks.total.size(); ++i) EXPECT_EQ(blocks.total.at(i).U, 0.0);
}

TEST(IterateFt, SweepsUntilOccupationsAreConsistent) {
  TwoLayerMesh m;
  BulkRecombination rec;
  AddDefectRecord(rec, Build(Multi({Level(4, 0.45), Level(3, 0.75)})));
  // The records start at 0.5/0.5: the first sweep changes them, the second finds no change.
  EXPECT_EQ(IterateFt(rec, m.carriers()), 2);
  EXPECT_EQ(IterateFt(rec, m.carriers()), 1);
  // The stored occupations are those of the present carriers.
  BulkDefectRecord fresh = Build(Multi({Level(4, 0.45), Level(3, 0.75)}));
  RecTerms t;
  rdcbijdrage_een_niveau_multilevel(fresh, 0, 2, m.carriers().at(12), t, true);
  EXPECT_EQ(rec.layer[1][0].record(0, 1).f[2], fresh.record(0, 1).f[2]);
  // The ends of the layer keep their initial values.
  EXPECT_EQ(rec.layer[1][0].record(0, 0).f[0], 0.5);
}

TEST(Totals, NoAllocationOnceTheRecordsExist) {
  TwoLayerMesh m;
  BulkRecombination rec;
  DefectInput in = Multi({Level(5, 0.3), Level(4, 0.6), Level(3, 0.9)});
  in.distribution = ED_GAUSS;
  in.W = 0.05;
  AddDefectRecord(rec, Build(in));
  BulkTermBlocks blocks;
  blocks.resize(TwoLayerMesh::N);
  const MeshCarriers carriers = m.carriers();
  const MeshBulkData bulk = m.bulk();
  const long before = test::AllocationCount();
  const int status = totale_rdcbijdrage_multilevel(rec, carriers, bulk, blocks);
  const int sweeps = IterateFt(rec, carriers);
  const long after = test::AllocationCount();
  EXPECT_EQ(status, 1);
  EXPECT_GE(sweeps, 1);
  EXPECT_EQ(after - before, 0);
}

// ---------------------------------------------------------------------------------------------
// Set-up checks
// ---------------------------------------------------------------------------------------------

TEST(Validation, RejectsDefectsThatCannotBeCalculated) {
  using Levels = std::array<BulkRecombinationParameters, MAXLEVELS>;
  const struct {
    void (*edit)(Levels&);
    const char* message;  // nullptr: accepted; "": refused, message not checked
  } cases[] = {
      {[](Levels&) {}, nullptr},
      {[](Levels& l) { l[0].sigma_n = 0.0; }, nullptr},  // one cross section is enough
      {[](Levels& l) { l[0].sigma_n = l[0].sigma_p = 0.0; },
       "Layer 2, defect 1, level 1: both capture cross sections are zero"},
      {[](Levels& l) {
         l[0].distribution = ED_GAUSS;
         l[0].Ekar = 0.0;
       },
       "characteristic energy"},
      {[](Levels& l) {
         for (auto& x : l) x.numberOfLevels = 2;
         l[0].aard = 4;
         l[1].aard = 3;
         l[1].sigma_n = l[1].sigma_p = 0.0;
       },
       "level 2: both capture cross sections are zero"},
      {[](Levels& l) {  // +/0 with −/2− is not a chain of successive transitions
         for (auto& x : l) x.numberOfLevels = 2;
         l[0].aard = 4;
         l[1].aard = 2;
       },
       "chain"},
      {[](Levels& l) {  // two levels starting at 2−/3− would need a 4− state
         for (auto& x : l) x.numberOfLevels = 2;
         l[0].aard = 1;
         l[1].aard = 0;
       },
       ""},
      {[](Levels& l) { l[0].sigma_n = std::nan(""); }, ""},
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

// The single-level closed form against the general chain solution for L = 1. The two are the
// same algebra arranged differently (one reciprocal of A + D against quotients normalised by
// the sum of the state weights), so they differ by rounding only. The derivatives of U
// subtract two terms of similar size at high injection, which magnifies rounding to a few
// 1e-13; a wrong term or sign would differ at order one.
TEST(SingleLevel, FastPathAgreesWithTheGeneralChain) {
  for (int code : {0, 3, 4}) {
    for (int reference : {0, 1, 2}) {
      BulkDefectRecord fast = Build(Single(code, 0.45, reference));
      BulkDefectRecord general = Build(Single(code, 0.45, reference));
      for (BulkDefectRecord* d : {&fast, &general}) {
        d->record(0, 0).gn_opt[2] = 3e-9;  // with optical emission to both bands
        d->record(0, 0).gp_opt[2] = 7e-10;
      }
      for (const CarrierPoint& c : TestPoints()) {
        RecTerms a, b;
        ASSERT_TRUE(rdcbijdrage_een_niveau_multilevel(fast, 0, 2, c, a, true));
        ASSERT_TRUE(rdcbijdrage_een_niveau_reference(general, 0, 2, c, b, true));
        const double got[] = {a.rho, a.drho_dpsi, a.drho_du, a.drho_dv, a.U, a.dU_dpsi, a.dU_du, a.dU_dv};
        const double want[] = {b.rho, b.drho_dpsi, b.drho_du, b.drho_dv, b.U, b.dU_dpsi, b.dU_du, b.dU_dv};
        for (int q = 0; q < 8; ++q) EXPECT_CLOSE(got[q], want[q], 1e-12, 1e-300) << "code " << code << " term " << q;
        EXPECT_CLOSE(fast.record(0, 0).f[2], general.record(0, 0).f[2], 1e-14, 1e-300);
        EXPECT_CLOSE(fast.record(0, 0).een_min_f[2], general.record(0, 0).een_min_f[2], 1e-14, 1e-300);
      }
    }
  }
  // Both refuse a level without any capture or emission (no finite occupation).
  BulkDefectRecord dead = Build(Single(3, 0.45));
  LevelRecord& r = dead.record(0, 0);
  r.cn[2] = r.cp[2] = r.en[2] = r.ep[2] = 0.0;
  RecTerms t;
  EXPECT_FALSE(rdcbijdrage_een_niveau_multilevel(dead, 0, 2, Equilibrium(21.0), t, false));
  EXPECT_FALSE(rdcbijdrage_een_niveau_reference(dead, 0, 2, Equilibrium(21.0), t, false));
}

// Without radiative or Auger recombination the total is written point by point (never cleared
// first) and is also the SRH part. Whatever the block held before must be gone everywhere: at
// the ends of the defect layer, in the layer without defects and inside, where the two defects
// of the layer are summed.
TEST(Totals, WithoutBandToBandTheTotalIsTheSrhPartAndOverwritesEverything) {
  TwoLayerMesh m;
  m.NoBandToBand();
  BulkRecombination rec;
  DefectInput second = Single(4, 0.7);
  second.defect = 1;
  AddDefectRecord(rec, Build(Single(3, 0.6)));
  AddDefectRecord(rec, Build(second));
  BulkTermBlocks blocks;
  blocks.resize(TwoLayerMesh::N);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t i = 0; i < blocks.total.size(); ++i)
    blocks.total.set(i, RecTerms{nan, nan, nan, nan, nan, nan, nan, nan});
  ASSERT_EQ(totale_rdcbijdrage_multilevel(rec, m.carriers(), m.bulk(), blocks), 1);
  EXPECT_EQ(&blocks.Srh(), &blocks.total);
  BulkDefectRecord a = Build(Single(3, 0.6)), b = Build(second);
  const MeshCarriers mc = m.carriers();
  for (int i = 0; i < TwoLayerMesh::N; ++i) {
    const auto ii = static_cast<std::size_t>(i);
    const RecTerms t = blocks.total.at(ii), r = blocks.radiative.at(ii);
    RecTerms expected;
    if (i > kFirst && i < kFirst + kCount - 1) {
      RecTerms ta, tb;
      ASSERT_EQ(rdcbijdrage_distributie_multilevel(a, i - kFirst, mc.at(ii), ta, false), 0);
      ASSERT_EQ(rdcbijdrage_distributie_multilevel(b, i - kFirst, mc.at(ii), tb, false), 0);
      expected = ta;
      expected += tb;
      EXPECT_NE(t.U, 0.0);
    }
    EXPECT_EQ(t.U, expected.U) << i;
    EXPECT_EQ(t.rho, expected.rho) << i;
    EXPECT_EQ(t.dU_dv, expected.dU_dv) << i;
    EXPECT_EQ(t.drho_dpsi, expected.drho_dpsi) << i;
    EXPECT_EQ(r.U, 0.0) << i;
  }
  // A band-to-band coefficient brings the separate SRH block back.
  m.K[3] = 1e4;
  ASSERT_EQ(totale_rdcbijdrage_multilevel(rec, m.carriers(), m.bulk(), blocks), 1);
  EXPECT_EQ(&blocks.Srh(), &blocks.srh);
  EXPECT_GT(blocks.radiative.at(3).U, 0.0);
  EXPECT_EQ(blocks.total.at(3).U, blocks.radiative.at(3).U);
  EXPECT_EQ(blocks.srh.at(3).U, 0.0);
  EXPECT_EQ(blocks.srh.at(12).U, blocks.total.at(12).U);
}

// A non-finite contribution is a failure of the point, never a value: an infinite or undefined
// density of states or rate coefficient must make the kernels refuse, whichever term it reaches.
TEST(SingleLevel, NonFiniteTermsAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double bad : {inf, -inf, nan}) {
    BulkDefectRecord d = Build(Single(3, 0.6));
    d.record(0, 0).Nt[2] = bad;
    for (const CarrierPoint& c : TestPoints()) {
      RecTerms t{1, 1, 1, 1, 1, 1, 1, 1};
      EXPECT_FALSE(rdcbijdrage_een_niveau_multilevel(d, 0, 2, c, t, false));
      EXPECT_EQ(t.U, 0.0);
      EXPECT_EQ(t.rho, 0.0);
      EXPECT_FALSE(rdcbijdrage_een_niveau_reference(d, 0, 2, c, t, false));
    }
    // A band-to-band coefficient that is not finite spoils the total: the call fails and the
    // blocks hold zeros only; the same mesh with a finite coefficient is fine.
    for (std::vector<double> TwoLayerMesh::*coefficient : {&TwoLayerMesh::K, &TwoLayerMesh::Cn}) {
      TwoLayerMesh m;
      BulkRecombination rec;
      AddDefectRecord(rec, Build(Single(3, 0.6)));
      BulkTermBlocks blocks;
      (m.*coefficient)[kFirst + 2] = bad;
      EXPECT_EQ(totale_rdcbijdrage_multilevel(rec, m.carriers(), m.bulk(), blocks), -1);
      for (const DcTermBlock* b : {&blocks.total, &blocks.srh, &blocks.radiative, &blocks.auger})
        for (std::size_t i = 0; i < b->size(); ++i) EXPECT_EQ(b->at(i).U, 0.0) << i;
      (m.*coefficient)[kFirst + 2] = 1e4;
      EXPECT_EQ(totale_rdcbijdrage_multilevel(rec, m.carriers(), m.bulk(), blocks), 1);
    }
  }
}

}  // namespace
}  // namespace zoniq
