// The admittance-spectroscopy analysis: the energy scale against kT·ln(2ν/ω), the sorted copy it
// analyses, its refusals, and a simulated hole trap recovered in energy and density.
#include "measure/admittance_analysis.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "measure/small_signal.hpp"
#include "solver/dc_solve.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr double kTwoPi = 6.283185307179586;

bool AllFinite(const AdmittanceResult& r) {
  for (const std::vector<double>* a : {&r.f, &r.C, &r.Et, &r.minusD, &r.Nt, &r.x, &r.y})
    for (double v : *a)
      if (!std::isfinite(v)) return false;
  return true;
}

TEST(AdmittanceAnalysis, EnergyOfFrequency) {
  // kT·ln(2ν/ω), kT = 0.0259·T/300, ν = 1e12·(T/300)²: 1 kHz at 300 K 0.0259·19.578536 =
  // 0.5070841 eV; 100 kHz at 150 K 0.01295·ln(5e11/(2π·1e5)) = 0.01295·13.587072 = 0.1759526 eV.
  AdmittanceSettings s;
  s.nu0 = 1e12;
  for (const auto& [T, f, E] : {std::tuple{300.0, 1e3, 0.5070841}, {150.0, 1e5, 0.1759526}})
    EXPECT_NEAR(EnergyOfFrequency(s, T, kTwoPi * f), E, 2e-7) << T;
  // Two prefactors switching at Es: ν_b (1e10) below the switch frequency, ν_a (1e13) above.
  s.twoPrefactors = 1, s.nuA = 1e13, s.nuB = 1e10;
  s.Es = 0.4;  // kT·ln(2·√(1e23)/ω) = 0.4 at ω = 2·3.1623e11·e^(−0.4/0.0259) = 1.240e5 rad/s
  EXPECT_NEAR(EnergyOfFrequency(s, 300.0, 1.2e5), 0.0259 * std::log(2e10 / 1.2e5), 1e-12);
  EXPECT_NEAR(EnergyOfFrequency(s, 300.0, 1.3e5), 0.0259 * std::log(2e13 / 1.3e5), 1e-12);
  // The diffusion voltage from an energy and a ratio: Ea + kT·ln(r) at 240 K.
  s.vdFromRatio = 1, s.Ea = 0.9, s.ratio = 0.01;
  EXPECT_NEAR(DiffusionVoltageAt(s, 240.0), 0.9 + 0.02072 * std::log(0.01), 1e-12);
}

// A Debye step C∞ + ΔC/(1 + (ω/ω0)²) [nF/cm²] on f from 10 Hz to 100 MHz, 20 points per decade.
struct Curve {
  std::vector<double> f, C;
};
Curve DebyeStep(double omega0, double Cinf, double dC) {
  Curve c;
  for (int k = 0; k <= 140; ++k) {
    const double f = std::pow(10.0, 1.0 + k / 20.0), r = kTwoPi * f / omega0;
    c.f.push_back(f);
    c.C.push_back(Cinf + dC / (1.0 + r * r));
  }
  return c;
}

TEST(AdmittanceAnalysis, FallingShuffledOrDuplicatedInputGivesTheSortedResult) {
  const Curve c = DebyeStep(2e5, 30.0, 5.0);
  AdmittanceSettings s;
  s.fref = 3e7, s.Vd = 0.9, s.Eoff = 1.05;
  const MottSchottkySettings ms;
  AdmittanceResult sorted;
  ASSERT_EQ(AnalyseAdmittance(CfCurve{c.f, c.C, {}, 280.0, -0.2}, s, ms, sorted), 0);
  const std::size_t n = c.f.size();
  // Falling; shuffled (37 is prime to 141: a permutation) with four bad points; three repeated.
  Curve falling{{c.f.rbegin(), c.f.rend()}, {c.C.rbegin(), c.C.rend()}}, shuffled, repeated = c;
  for (std::size_t k = 0; k < n; ++k) {
    shuffled.f.push_back(c.f[(k * 37) % n]);
    shuffled.C.push_back(c.C[(k * 37) % n]);
  }
  for (const auto& [f, C] : {std::pair{0.0, 1.0}, {-5.0, 1.0}, {1e3, NAN}, {INFINITY, 2.0}}) {
    shuffled.f.insert(shuffled.f.begin() + 7, f);
    shuffled.C.insert(shuffled.C.begin() + 7, C);
  }
  for (std::size_t i : {0UL, 50UL, 140UL}) {
    repeated.f.push_back(c.f[i]);
    repeated.C.push_back(c.C[i]);
  }
  for (const auto& [name, v, dropped, merged] :
       {std::tuple{"falling", falling, 0, 0}, {"shuffled", shuffled, 4, 0}, {"repeated", repeated, 0, 3}}) {
    AdmittanceResult r;
    ASSERT_EQ(AnalyseAdmittance(CfCurve{v.f, v.C, {}, 280.0, -0.2}, s, ms, r), 0) << name;
    EXPECT_EQ(std::tie(r.f, r.C, r.Et, r.Nt, r.W), std::tie(sorted.f, sorted.C, sorted.Et, sorted.Nt, sorted.W))
        << name;
    EXPECT_EQ(std::tie(r.dropped, r.merged), std::tie(dropped, merged)) << name;
  }
}

TEST(AdmittanceAnalysis, RefusalsAndPointsOutsideTheFormulasDomain) {
  const Curve c = DebyeStep(2e5, 30.0, 5.0);
  using Change = void (*)(AdmittanceSettings&, MottSchottkySettings&, std::vector<double>&);
  const std::pair<const char*, Change> cases[] = {
      {"C at f_ref not positive", [](auto&, auto&, auto& C) { C.assign(C.size(), -1.0); }},
      {"nu0 zero", [](auto& s, auto&, auto&) { s.nu0 = 0.0; }},
      {"nu_b negative", [](auto& s, auto&, auto&) { s.twoPrefactors = 1, s.nuB = -1.0; }},
      {"f_ref zero", [](auto& s, auto&, auto&) { s.fref = 0.0; }},
      {"ratio zero", [](auto& s, auto&, auto&) { s.vdFromRatio = 1, s.ratio = 0.0; }},
      {"order = window", [](auto&, auto& m, auto&) { m.orderMiddle = 3; }},
      {"edge order 0", [](auto&, auto& m, auto&) { m.numberOfPoints = 5, m.orderEdges = 0; }},
      {"more window than points", [](auto&, auto& m, auto&) { m.numberOfPoints = 141; }},
  };
  for (const auto& [name, change] : cases) {
    AdmittanceSettings s;
    MottSchottkySettings m;
    std::vector<double> C = c.C;
    change(s, m, C);
    AdmittanceResult r;
    EXPECT_EQ(AnalyseAdmittance(CfCurve{c.f, C, {}, 300.0, 0.0}, s, m, r), -1) << name;
    EXPECT_FALSE(r.message.empty()) << name;
    EXPECT_TRUE(r.Nt.empty() && r.Et.empty() && r.analysed == 0) << name;
  }
  // Formula 2 needs E_ω + V_d − E_off > 0: with V_d = 1, E_off = 1.3 the points shallower than
  // 0.3 eV get Nt = 0 and are counted; a bias at V_d leaves no point in the domain.
  AdmittanceSettings s;
  s.Vd = 1.0, s.Eoff = 1.3;
  AdmittanceResult r;
  ASSERT_EQ(AnalyseAdmittance(CfCurve{c.f, c.C, {}, 300.0, 0.0}, s, MottSchottkySettings{}, r), 0);
  int shallow = 0;
  for (std::size_t i = 0; i < r.f.size(); ++i)
    if (0.0259 * std::log(2e12 / (kTwoPi * r.f[i])) <= 0.3) {
      ++shallow;
      EXPECT_EQ(r.Nt[i], 0.0) << r.f[i];
    }
  EXPECT_GT(shallow, 0);
  EXPECT_EQ(r.outOfDomain, shallow);
  for (int formula : {kNtFormula0, kNtFormula1, kNtFormula2}) {
    s.formula = formula;
    ASSERT_EQ(AnalyseAdmittance(CfCurve{c.f, c.C, {}, 300.0, 1.0}, s, MottSchottkySettings{}, r), 0);
    EXPECT_EQ(r.outOfDomain, static_cast<int>(r.f.size())) << formula;
    EXPECT_TRUE(AllFinite(r));
  }
}

// An n⁺p junction (NA = 1e16 cm⁻³, 2 µm; ND = 1e18 cm⁻³, 0.1 µm) with a hole trap 0.35 eV above
// EV in the absorber (acceptor-like, 1e15 cm⁻³, σp = 2e-19 m² and vth,p = 1.5e5 m/s unlike σn,
// vth,n): ν0 = σp·vth,p·NV(300 K) = 3e11 s⁻¹. The absorber is split (1.6, 0.3, 0.1 µm) to refine
// the mesh where the level crosses the Fermi level.
InputParameters HoleTrapCell() {
  test::PnOptions o;
  o.Wp = 1.6e-6, o.Wn = 0.1e-6, o.NA = 1e22, o.ND = 1e24;
  InputParameters set = test::PnJunction(o);
  CellDefinition& c = set.cellParas;
  c.layer[0].v_th_p = UniformProfile(1.5e5, c.layer[0].v_th_p.dependence);
  c.numberOfLayers = 4;
  c.layer[3] = c.layer[1];
  c.layer[1] = c.layer[2] = c.layer[0];
  c.layer[1].d = 0.3e-6, c.layer[2].d = 0.1e-6;
  for (int l = 0; l < 4; ++l) c.layer[l].layernumber = l;
  for (int l = 0; l < 3; ++l) {
    test::AddSingleLevelDefect(set, l, 0.35, 1e21, 1e-19);
    BulkRecombinationParameters& t = c.layer[l].srh[0][0];
    t.type = DT_ACCEPTOR, t.aard = 3, t.sigma_n = 5e-20, t.sigma_p = 2e-19;
  }
  return set;
}

// C(f) [nF/cm²] of the cell at T, 0 V, on f = 10^(lo … hi) Hz with 10 points per decade.
Curve Simulated(const InputParameters& set, double T, double lo, double hi) {
  DcProblem pb;
  EXPECT_EQ(SetUpDcProblem(pb, set, MeshSettings{}, T), 0) << pb.ctx.lastMessage;
  EXPECT_EQ(SolveEquilibrium(pb.cv), 0);
  AcWorkspace ws;
  AcSolution ac;
  std::string message;
  Curve c;
  for (double e = lo; e <= hi + 1e-9; e += 0.1) {
    const double f = std::pow(10.0, e);
    EXPECT_EQ(bereken_klein_signaal(pb.cv, kTwoPi * f, ws, ac, message), 0) << message;
    c.f.push_back(f);
    c.C.push_back(ac.Y.imag() / (kTwoPi * f) * 1e5);
  }
  return c;
}

// V_d = Eg − kT·ln(NC/ND) − kT·ln(NV/NA) (NC = NV = 1e25·(T/300)^1.5), E_off = kT·ln(NV/NA) + V_d.
AdmittanceSettings CellSettings(double T) {
  const double kT = 0.0259 * T / 300.0, N = 1e25 * std::pow(T / 300.0, 1.5);
  AdmittanceSettings s;
  s.nu0 = 2e-19 * 1.5e5 * 1e25;
  s.Vd = 1.12 - kT * std::log(N / 1e24) - kT * std::log(N / 1e22);
  s.Eoff = kT * std::log(N / 1e22) + s.Vd;
  s.fref = 1e7;  // far above the trap's response: the depletion width of the shallow doping
  s.formula = kNtFormula2;
  return s;
}

TEST(AdmittanceAnalysis, SimulatedHoleTrapRecoveredInEnergyAndDensity) {
  const Curve c = Simulated(HoleTrapCell(), 300.0, 1.0, 7.0);
  MottSchottkySettings ms;
  ms.spareReal = 11.9;
  const AdmittanceSettings s = CellSettings(300.0);
  AdmittanceResult r;
  ASSERT_EQ(AnalyseAdmittance(CfCurve{c.f, c.C, {}, 300.0, 0.0}, s, ms, r), 0) << r.message;
  double fPeak = 0.0, EPeak = 0.0;
  ASSERT_GT(AdmittancePeak(r, fPeak, EPeak), 0);
  EXPECT_NEAR(EPeak, 0.35, 0.01);
  // A single level: Nt(E) is a peak whose area over E is the trap density.
  double area = 0.0;
  for (std::size_t i = 1; i < r.f.size(); ++i) area += 0.5 * (r.Nt[i] + r.Nt[i - 1]) * (r.Et[i - 1] - r.Et[i]);
  EXPECT_CLOSE(area, 1e15, 0.10, 0.0);
  EXPECT_EQ(r.outOfDomain, 0);
}

TEST(AdmittanceAnalysis, ProposalsFromTheCellDefinition) {
  // The trap next to the junction (layer 3, right side) gives CellSettings' values; others are refused.
  const InputParameters set = HoleTrapCell();
  AdmittanceSettings s;
  std::string message;
  ASSERT_EQ(ASDataFromCellDefinition(set, 2, 0, 0, +1, s, message), 0) << message;
  const AdmittanceSettings expected = CellSettings(300.0);
  EXPECT_CLOSE(s.nu0, expected.nu0, 1e-12, 0.0);
  EXPECT_NEAR(s.Vd, expected.Vd, 1e-12);
  EXPECT_NEAR(DiffusionVoltageAt(s, 300.0), expected.Vd, 1e-12);
  EXPECT_NEAR(s.Eoff, expected.Eoff, 1e-12);
  const int refused[][4] = {{0, 0, 0, -1}, {0, 0, 0, +1}, {2, 1, 0, +1}, {2, 0, 1, +1}, {4, 0, 0, +1}};
  for (const auto& c : refused) {
    AdmittanceSettings r;
    EXPECT_EQ(ASDataFromCellDefinition(set, c[0], c[1], c[2], c[3], r, message), -1) << c[0] << c[1] << c[2] << c[3];
    EXPECT_EQ(r.nu0, AdmittanceSettings{}.nu0);
  }
}

}  // namespace
}  // namespace zoniq
