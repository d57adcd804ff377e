// The profile files: the band diagram (layout by hand; columns of solved pn junctions against
// device physics), the generation-recombination and occupation files (occupations against
// Shockley-Read-Hall and Fermi-Dirac, rates against the solver's recombination, legends).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

#include "measure/iv_sweep.hpp"
#include "output/band_diagram.hpp"
#include "output/generation_profiles.hpp"
#include "output/result_files.hpp"
#include "output_fixture.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/solved_cells.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::OutputEnvironment;

// Two layers of two points each and one interface, every column filled by hand.
BandDiagramProfiles TinyDiagram() {
  BandDiagramProfiles b;
  b.V = 0.1;
  b.N = 4;
  b.nlayers = 2;
  b.first = {0, 2};
  b.last = {1, 3};
  b.x = {0.0, 0.5, 0.5, 1.25};
  b.Ec = {1.0, 0.875, 0.875, -0.125};
  b.Ev = {-0.5, -0.625, -0.625, -1.625};
  b.n = {1e3, 2e4, 2e4, 1e17};
  b.p = {1e16, 5e14, 5e14, 1e2};
  b.netDoping = {-1e16, -1e16, 1e17, 1e17};
  b.rho = {0.0, -5e15, 5e16, 0.0};
  b.E = {0.0, 250.0, 250.0, 0.0};
  b.R = {0.0, 1.5e20, 0.0, 0.0};
  b.cumR = {-2.5e-3, -2.5e-3, -2.5e-3, -2.5e-3};
  for (std::vector<double>* a :
       {&b.Fn, &b.Fp, &b.rhoDefect, &b.jn, &b.jp, &b.jnTunnel, &b.jpTunnel, &b.jtot, &b.G, &b.cumG})
    a->assign(4, 0.0);
  b.interfaces = {InterfaceProfileRow{.x = 0.5, .js = 1e-4, .pi = -3.2e-8}};
  return b;
}

TEST(BandDiagramFile, TinyTableByteForByte) {
  // Fields after the index: a tab and one blank before each, two blanks before the recombination
  // rate and the cumulative recombination; x fixed 14.6, energies fixed 14.8, all else sci 16.8.
  const std::string z = "\t   0.00000000e+00", z5 = z + z + z + z + z;  // z5: jn … jtot
  std::string z8;  // the eight currents of the interface row: two blanks before each
  for (int k = 0; k < 8; ++k) z8 += "\t    0.00000000e+00";
  const std::string head =
      "   i\t       x(um)\t      Ec(eV)\t      Fn(eV)\t      Fp(eV)\t      Ev(eV)\t     n(/cm3)\t     p(/cm3)\t"
      "rho(defect) (/cm3)\tnet doping (/cm3)\t   rho(/cm3)\t     E(V/cm)\t  jn(mA/cm2)\t  jp(mA/cm2)\t"
      "  jn_tunnel(mA/cm2)\t  jp_tunnel(mA/cm2)\tjtot(mA/cm2)\t generation(#/cm3.s)\t  recombination(#/cm3.s)\t"
      "cumulative generation (mA/cm2)\tcumulative recombination (mA/cm2)\n\n";
  const std::string cum = z + "\t   -2.50000000e-03\n", noR = z + "\t    0.00000000e+00" + cum;
  const std::string mid =
      "\t     0.87500000\t     0.00000000\t     0.00000000\t    -0.62500000\t   2.00000000e+04\t"
      "   5.00000000e+14" +
      z;
  EXPECT_EQ(BandDiagramText(TinyDiagram()),
            "Band diagramme at actual bias voltage\t    0.1000\tVolt\n\nbulk\n\n" + head +
                "   0\t       0.000000\t     1.00000000\t     0.00000000\t     0.00000000\t    -0.50000000\t   "
                "1.00000000e+03\t   1.00000000e+16" +
                z + "\t  -1.00000000e+16" + z + z + z5 + noR + "   1\t       0.500000" + mid +
                "\t  -1.00000000e+16\t  -5.00000000e+15\t   2.50000000e+02" + z5 + z + "\t    1.50000000e+20" + cum +
                "   2\t       0.500000" + mid + "\t   1.00000000e+17\t   5.00000000e+16\t   2.50000000e+02" + z5 + noR +
                "   3\t       1.250000\t    -0.12500000\t     0.00000000\t     0.00000000\t    -1.62500000\t   "
                "1.00000000e+17\t   1.00000000e+02" +
                z + "\t   1.00000000e+17" + z + z + z5 + noR +
                "\n\n\ninterface\n\n  IF\t       x(um)\t jn1(mA/cm2)\t jn2(mA/cm2)\t jp1(mA/cm2)\t jp2(mA/cm2)\t "
                "jn1[with tunnel](mA/cm2)\t jn2[with tunnel](mA/cm2)\t jp1[with tunnel](mA/cm2)\t "
                "jp2[with tunnel](mA/cm2)\t  js(mA/cm2)\t   pi(C/cm2)\n\n   0\t        0.500000" +
                z8 + "\t    1.00000000e-04\t   -3.20000000e-08\n");
}

constexpr int kI = 0, kX = 1, kEc = 2, kFn = 3, kFp = 4, kEv = 5, kN = 6, kP = 7, kNet = 9, kRho = 10, kE = 11,
              kJn = 12, kJp = 13, kJnt = 14, kJpt = 15, kJtot = 16, kG = 17, kR = 18, kCumG = 19, kCumR = 20;

constexpr double kVt = 0.0259;  // the solver's thermal voltage at 300 K [V]

TEST(BandDiagramPhysics, PnJunctionInEquilibriumForwardBiasAndUniformLight) {
  std::unique_ptr<DcProblem> pb = test::SolvedAtEquilibrium(test::PnJunction());
  CalculationVariables& cv = pb->cv;
  OutputEnvironment o;
  SimulationRecord rec = test::IlluminatedRecord();
  const std::string text = BandDiagramFileText(rec, cv, o.context);
  EXPECT_EQ(text.find("Band diagramme at actual bias voltage\t    0.0000\tVolt\n"), text.find("Band diagramme"));
  const std::vector<std::vector<double>> rows = test::TableRows(text.substr(text.find("\nbulk\n")), "   i\t");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(cv.mesh.N));
  // ni² from the material (Nc = Nv = 1e25 /m³ = 1e19 /cm³, Eg = 1.12 eV) [/cm⁶].
  const double ni2 = 1e19 * 1e19 * std::exp(-1.12 / kVt);
  for (const std::vector<double>& r : rows) {
    ASSERT_EQ(r.size(), 21u);
    // Flat Fermi levels at the left contact's, the zero of energy.
    EXPECT_CLOSE(r[kFn], 0.0, 0.0, 1e-8);
    EXPECT_CLOSE(r[kFp], 0.0, 0.0, 1e-8);
    EXPECT_CLOSE(r[kEc] - r[kEv], 1.12, 0.0, 1e-8);                  // two fields of 8 decimals
    EXPECT_CLOSE(r[kN] * r[kP], ni2, 1e-8, 0.0) << "x = " << r[kX];  // 9 significant digits each
    // n = Nc·exp((Fn − Ec)/Vt); Ec's 5e-9 eV of rounding is 2e-7 relative in the exponential.
    EXPECT_CLOSE(r[kN], 1e19 * std::exp((r[kFn] - r[kEc]) / kVt), 5e-7, 0.0);
    for (int c : {kJn, kJp, kJnt, kJpt, kJtot, kG, kR, kCumG, kCumR}) EXPECT_EQ(r[c], 0.0) << "column " << c;
  }
  EXPECT_EQ(rows.back()[kI], cv.mesh.N - 1);
  EXPECT_CLOSE(rows.back()[kX], 6.0, 0.0, 1e-6);  // µm over the 6 µm stack
  // Neutral ends: p = NA at the base contact, n = ND at the emitter contact (1e-8 of 1e16 charge).
  EXPECT_CLOSE(rows.front()[kP], 1e16, 1e-6, 0.0);
  EXPECT_CLOSE(rows.back()[kN], 1e17, 1e-6, 0.0);
  EXPECT_CLOSE(rows.front()[kRho], 0.0, 0.0, 1e9);
  EXPECT_CLOSE(rows.back()[kRho], 0.0, 0.0, 1e10);
  EXPECT_CLOSE(rows.front()[kNet], -1e16, 1e-8, 0.0);
  EXPECT_CLOSE(rows.back()[kNet], 1e17, 1e-8, 0.0);
  // Band bending Vbi = Vt·ln(NA·ND/ni²); the field points from n to p, its peak by the depletion
  // approximation sqrt(2·q·Vbi/ε·NA·ND/(NA+ND)) within 5 % (majority tails shave a few Vt/Vbi).
  const double Vbi = kVt * std::log(1e16 * 1e17 / ni2);
  EXPECT_CLOSE(rows.front()[kEc] - rows.back()[kEc], Vbi, 1e-6, 0.0);
  double Emin = 0.0;
  for (const std::vector<double>& r : rows) Emin = std::min(Emin, r[kE]);
  const double Emax = std::sqrt(2.0 * kQ * Vbi / (11.9 * kEps0) * 1e22 * 1e23 / (1e22 + 1e23)) * 0.01;  // V/cm
  EXPECT_CLOSE(-Emin, Emax, 0.05, 0.0);
  // Forward bias: Fp = 0 at the left (base) contact and Fn = V at the right (emitter) contact;
  // everywhere n·p = ni²·exp((Fn − Fp)/Vt).
  ASSERT_EQ(SolveDarkBias(cv, 0.4, 3), 0);
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, +1, b);
  const auto last = static_cast<std::size_t>(b.N - 1);
  EXPECT_CLOSE(b.Fp[0], 0.0, 0.0, 1e-12);
  EXPECT_CLOSE(b.Fn[last], 0.4, 1e-12, 0.0);
  EXPECT_CLOSE(b.V, 0.4, 1e-12, 0.0);
  for (std::size_t k = 0; k <= last; ++k)
    EXPECT_CLOSE(b.n[k] * b.p[k], ni2 * std::exp((b.Fn[k] - b.Fp[k]) / kVt), 1e-10, 0.0);
  // The currents are the extraction's; the total is the same everywhere to the solver's 0.1 %.
  CurrentDensities j;
  extraheer_stroom(cv, j);
  EXPECT_EQ(b.jtot, j.j_tot);
  EXPECT_EQ(b.jn, j.j_n);
  for (double jt : b.jtot) EXPECT_CLOSE(jt, j.j_tot[1], 1e-3, 0.0);
  // No recombination: the cumulative recombination is the minority-electron current into the
  // left contact plus, at the last point, the minority-hole current into the right contact.
  EXPECT_EQ(b.cumR[0], b.jn[0]);
  EXPECT_EQ(b.cumR[last - 1], b.jn[0]);
  EXPECT_EQ(b.cumR[last], b.jn[0] + b.jp[last]);
  // A uniform generation of 1e21 /cm³·s (1e27 /m³·s) in the solver's units of each layer: its
  // photocurrent over the 6 µm stack is q·G·W = 1.602e-19·1e27·6e-6 A/m² = 96.12 mA/cm².
  const Schaal& s = pb->par.schaal;
  for (int l = 0; l < 2; ++l)
    for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i)
      cv.G[static_cast<std::size_t>(i)] = 1e27 / (s.S[l] * s.Dmax / (s.L * s.L));
  const double total = kQ * 1e27 * 6e-6 * 0.1;
  BandDiagramProfiles left, right;
  BandDiagramFromSolution(cv, -1, left);
  EXPECT_EQ(eb_naar_file(&rec, cv, OutputTarget{kOutputFill, nullptr}, o.context, &right), kWritten);  // from the right
  EXPECT_CLOSE(left.G[0], 1e21, 1e-12, 0.0);
  EXPECT_CLOSE(left.cumG[last], total, 1e-12, 0.0);
  EXPECT_CLOSE(right.cumG[0], total, 1e-12, 0.0);
  // From the left: after the first box (half an interval); at the interface 5 µm of 6 from the
  // left, 1 µm from the right (the interface points' boxes are empty towards each other).
  EXPECT_CLOSE(left.cumG[0], kQ * 1e27 * 0.5 * (cv.mesh.xm[1] - cv.mesh.xm[0]) * 0.1, 1e-12, 0.0);
  const auto p = static_cast<std::size_t>(cv.mesh.last[0]);
  EXPECT_CLOSE(left.cumG[p], kQ * 1e27 * 5e-6 * 0.1, 1e-9, 0.0);
  EXPECT_CLOSE(right.cumG[p + 1], kQ * 1e27 * 1e-6 * 0.1, 1e-9, 0.0);
  EXPECT_EQ(eb_naar_file(nullptr, cv, OutputTarget{kOutputShow, nullptr}, o.context), kNothingWritten);
}

// A donor-like Gaussian band of interface states (unequal cross sections) at the junction, in the
// dark at 0.5 V: every recombination current is at the interface.
std::unique_ptr<DcProblem> WithInterfaceStates() {
  InputParameters set = test::PnJunction();
  test::AddInterfaceDefect(set, 0, DT_DONOR, 0.2, 5, 4e15, {2e-19, 1e-19, 5e-19, 3e-20}, ED_GAUSS, 0.1);
  set.convergence.defectdiscretisations = 5;
  return test::SolvedInTheDark(set, 0.5, 5);
}

TEST(BandDiagramPhysics, InterfaceRowBalancesTheCurrents) {
  auto pb = WithInterfaceStates();
  const CalculationVariables& cv = pb->cv;
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, 1, b);
  ASSERT_EQ(b.interfaces.size(), 1u);
  const InterfaceProfileRow& r = b.interfaces[0];
  // As many electrons captured as holes; each side's electron channel its own (unequal cross
  // sections); without tunnelling the enhanced copies equal the plain fluxes.
  EXPECT_GT(r.js, 0.0);
  EXPECT_CLOSE(r.jp1 + r.jp2, r.js, 1e-9, 0.0);
  EXPECT_GT(std::fabs(r.jn1 - r.jn2), 0.1 * r.js);
  EXPECT_EQ(r.jn1t, r.jn1);
  EXPECT_EQ(r.jp2t, r.jp2);
  CurrentDensities j;
  EXPECT_CLOSE(EvaluateIVPoint(cv, j).jifr, r.js, 1e-12, 0.0);  // the I-V decomposition's current
  EXPECT_CLOSE(r.pi, cv.ifr.sigma[0] * 1e-4, 1e-15, 0.0);       // C/cm²
  EXPECT_GT(r.pi, 0.0);                                         // donor-like
  // The cumulative recombination (contacts' minority currents and the interface's) ends at jtot.
  EXPECT_CLOSE(b.cumR.back(), b.jtot[1], 1e-6, 0.0);
}

// A defect with `levels` levels at one point, coefficients set by hand.
BulkDefectRecord HandDefect(int levels) {
  BulkDefectRecord d;
  d.input.numberOfLevels = levels;
  d.count = 1;
  d.axis.count = 1;
  d.axis.quadrature[0] = 1.0;
  d.records.resize(static_cast<std::size_t>(levels));
  for (LevelRecord& r : d.records) r.resize(1);
  return d;
}

void SetLevel(BulkDefectRecord& d, int k, double cn, double cp, double en, double ep, double gn = 0, double gp = 0) {
  LevelRecord& r = d.record(0, k);
  r.cn[0] = cn;
  r.cp[0] = cp;
  r.en[0] = en;
  r.ep[0] = ep;
  r.gn_opt[0] = gn;
  r.gp_opt[0] = gp;
}

TEST(DefectOccupation, ShockleyReadHallClosedForms) {
  BulkDefectRecord d = HandDefect(1);
  SetLevel(d, 0, 2.0, 3.0, 0.5, 7.0, 0.25, 1.5);
  auto f = DefectStateFractions(d, 0, 0, 4.0, 0.125);
  // f = (cn·n + ep + gp)/(cn·n + cp·p + en + ep + gn + gp) = (8 + 7 + 1.5)/(8 + 0.375 + 0.5 + 7 + 0.25 + 1.5).
  EXPECT_CLOSE(f[1], 16.5 / 17.625, 1e-15, 0.0);
  EXPECT_CLOSE(f[0], 1.0 - 16.5 / 17.625, 1e-14, 0.0);
  // A level that exchanges no carriers at all leaves both states equally likely.
  SetLevel(d, 0, 0.0, 0.0, 0.0, 0.0);
  f = DefectStateFractions(d, 0, 0, 0.0, 0.0);
  EXPECT_EQ(f[0], 0.5);
  EXPECT_EQ(f[1], 0.5);
  d = HandDefect(2);
  // Level 0: A0 = ep + cn·n = 1 + 1·2 = 3, D0 = en + cp·p = 0.5 + 1·0.5 = 1 → P1/P0 = 3.
  // Level 1: A1 = 0.25 + 0.5·2 = 1.25, D1 = 2 + 1·0.5 = 2.5 → P2/P1 = 0.5. So P = (1, 3, 1.5)/5.5.
  SetLevel(d, 0, 1.0, 1.0, 0.5, 1.0);
  SetLevel(d, 1, 0.5, 1.0, 2.0, 0.25);
  f = DefectStateFractions(d, 0, 0, 2.0, 0.5);
  EXPECT_CLOSE(f[0], 1.0 / 5.5, 1e-15, 0.0);
  EXPECT_CLOSE(f[1], 3.0 / 5.5, 1e-15, 0.0);
  EXPECT_CLOSE(f[2], 1.5 / 5.5, 1e-15, 0.0);
  // Rates 600 orders apart: no overflow; state 1 fills from state 0 and empties from state 2.
  SetLevel(d, 0, 1e300, 1e-300, 1e-300, 1e300);
  SetLevel(d, 1, 1e-300, 1e300, 1e300, 1e-300);
  f = DefectStateFractions(d, 0, 0, 1e10, 1e-10);
  EXPECT_TRUE(std::isfinite(f[0]) && std::isfinite(f[1]) && std::isfinite(f[2]));
  EXPECT_CLOSE(f[0] + f[1] + f[2], 1.0, 1e-15, 0.0);
  EXPECT_CLOSE(f[1], 1.0, 1e-15, 0.0);
  // Charge-state names: with code c, state s carries (c − 3) − s elementary charges.
  const std::tuple<int, int, const char*> names[] = {{3, 0, "0"},  {3, 1, "-"},  {4, 0, "+"}, {1, 0, "2-"},
                                                     {6, 0, "3+"}, {1, 4, "6-"}, {0, 2, "0"}};
  for (const auto& [code, state, text] : names) EXPECT_EQ(ChargeStateText(code, state), text) << code << state;
}

// The pn junction with a neutral level 0.3 eV above EV in the base (Nt = 1e20 /m³, σ = 1e-19 m²).
std::unique_ptr<DcProblem> JunctionWithDefect() {
  InputParameters set = test::PnJunction();
  test::AddSingleLevelDefect(set, 0, 0.3, 1e20, 1e-19);
  return test::SolvedAtEquilibrium(set);
}

TEST(GenerationRecombinationTable, PerLevelRatesAndOccupationAgainstTheDefectModel) {
  std::unique_ptr<DcProblem> pb = JunctionWithDefect();
  CalculationVariables& cv = pb->cv;
  std::string titles;
  std::vector<std::vector<double>> rows = test::TableRows(GenerationRecombinationTable(cv), "x (", &titles);
  EXPECT_EQ(titles,
            "x (\xB5m)\tGeh (#/cm3.s)\tTotal recombination (#/cm3.s)\tSRH recombination (#/cm3.s)\tRadiative "
            "recombination (#/cm3.s)\tAuger recombination (#/cm3.s)\tnet Gn1,1,1 (#/cm3.s)\tIPV Gn1,1,1 (#/cm3.s)\t"
            "Gnth1,1,1 (#/cm3.s)\tRnth1,1,1 (#/cm3.s)\tnet Gp1,1,1 (#/cm3.s)\tIPV Gp1,1,1 (#/cm3.s)\t"
            "Gpth1,1,1 (#/cm3.s)\tRpth1,1,1 (#/cm3.s)\t");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(cv.mesh.N));  // one line per mesh point
  // Neutral base in equilibrium (p = NA, n = ni²/NA): Rnth = Nt·σ·vth·n·(1 − f), Rpth = Nt·σ·vth·p·f
  // with Fermi-Dirac f (Nt = 1e14 /cm³, σ = 1e-15 cm², vth = 1e7 cm/s; 1e-4 for the Fermi level).
  const auto inBase = static_cast<std::size_t>(cv.mesh.first[0] + cv.mesh.points[0] / 2);
  const double ni2 = 1e19 * 1e19 * std::exp(-1.12 / kVt);
  const double Ev = kVt * std::log(1e16 / 1e19);  // EV − EF in the neutral base [eV]
  const double f = 1.0 / (1.0 + std::exp((Ev + 0.3) / kVt));
  EXPECT_CLOSE(rows[inBase][9], 1e14 * 1e-15 * 1e7 * (ni2 / 1e16) * (1.0 - f), 1e-4, 0.0);
  EXPECT_CLOSE(rows[inBase][13], 1e14 * 1e-15 * 1e7 * 1e16 * f, 1e-4, 0.0);
  // Detailed balance of each transition at every point: Gnth = Rnth and Gpth = Rpth.
  for (const std::vector<double>& r : rows) {
    ASSERT_EQ(r.size(), 14u);
    EXPECT_CLOSE(r[8], r[9], 1e-6, 0.0);
    EXPECT_CLOSE(r[12], r[13], 1e-6, 0.0);
    EXPECT_EQ(r[7], 0.0);  // no optical transitions through defects
  }
  // Occupation f = 1/(1 + exp((Et − EF)/kT)), Et = Ev + 0.3 eV, EF = 0 (1e-7 for the energies'
  // rounding), zero outside the layer; a single level has no distribution to name.
  const std::string occupation = OccupationTable(cv);
  ASSERT_EQ(occupation.rfind("The energydistribution of the defects which are not single level are:\nx (", 0), 0u);
  rows = test::TableRows(occupation, "x (", &titles);
  EXPECT_EQ(titles, "x (\xB5m)\ti\tf_t(electrons)1,1,1,1 {0/0}\tf_t(holes)1,1,1,1 {0/0}\t");
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, +1, b);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(cv.mesh.N));
  for (int i = 0; i < cv.mesh.N; ++i) {
    const auto k = static_cast<std::size_t>(i);
    ASSERT_EQ(rows[k].size(), 4u);
    EXPECT_EQ(rows[k][1], i);
    const double fe = i > cv.mesh.last[0] ? 0.0 : 1.0 / (1.0 + std::exp((b.Ev[k] + 0.3) / kVt));
    EXPECT_CLOSE(rows[k][2], fe, 1e-7, 1e-300) << "point " << i;
    if (i <= cv.mesh.last[0]) {
      EXPECT_CLOSE(rows[k][2] + rows[k][3], 1.0, 1e-8, 0.0);
    }
  }
  // Forward bias: the net capture of electrons and of holes is the solver's SRH rate (9 digits
  // written, a few lost where capture and emission nearly balance: 1e-7).
  ASSERT_EQ(SolveDarkBias(cv, 0.5, 3), 0);
  double largest = 0.0;
  for (const std::vector<double>& r : test::TableRows(GenerationRecombinationTable(cv), "x (")) {
    EXPECT_CLOSE(-r[6], r[3], 1e-7, 1e-3);   // net Gn = −U_SRH
    EXPECT_CLOSE(-r[10], r[3], 1e-7, 1e-3);  // net Gp = −U_SRH
    EXPECT_EQ(r[2], r[3]);                   // no radiative or Auger recombination in this cell
    largest = std::max(largest, r[3]);
  }
  EXPECT_GT(largest, 1e12);
}

TEST(OccupationTable, InterfaceColumnsGiveTheInterfaceCharge) {
  auto pb = WithInterfaceStates();  // a Gaussian band at 5 energies
  const CalculationVariables& cv = pb->cv;
  const std::string t = OccupationTable(cv);
  ASSERT_NE(t.find("interface 1, defect 1: "), std::string::npos);
  std::string titles;
  const std::vector<std::vector<double>> rows = test::TableRows(t, "x (", &titles);
  EXPECT_EQ(std::count(titles.begin(), titles.end(), '\t'), 2 + 2 * 5);
  EXPECT_NE(titles.find("\tf_t(IF holes)1,1,5 {+/0}\t"), std::string::npos);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(cv.mesh.N));
  // At both interface points the empty states give Gauss's law's σ = q·Σ Nt·f_h; elsewhere zero.
  const auto p = static_cast<std::size_t>(cv.mesh.last[0]);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 12u) << i;
    const bool atInterface = i == p || i == p + 1;
    double sigma = 0.0;
    for (std::size_t k = 0; k < 5; ++k) {
      sigma += kQ * cv.ifrec.iface[0][0].records[k].Nt * rows[i][3 + 2 * k];  // donor: charged when empty
      EXPECT_NEAR(rows[i][2 + 2 * k] + rows[i][3 + 2 * k], atInterface ? 1.0 : 0.0, atInterface ? 1e-8 : 0.0);
    }
    EXPECT_CLOSE(sigma, atInterface ? cv.ifr.sigma[0] : 0.0, 1e-7, 0.0) << i;
  }
}

TEST(GenerationFile, HeaderBiasLegendAndTable) {
  OutputEnvironment o;
  std::unique_ptr<DcProblem> pb = JunctionWithDefect();
  SimulationRecord rec = test::IlluminatedRecord();
  // The header, the bias, the legend (its first and last lines), then the table.
  const std::string gen = GenerationFileText(rec, pb->cv, false, o.context), gr = GenerationRecombinationTable(pb->cv);
  const std::string first =
      "Generation-recombination at actual bias voltage\t    0.0000\tVolt\n\n> Legend:\n\n> =======\n";
  const std::string last = "\n> Rpth\thermal hole recombination (capture by defect of valence band hole)\n\n\n";
  EXPECT_EQ(gen.rfind("ZONIQ 3.2.0 (test)\nSimulation of generation - recombination profiles\n", 0), 0u);
  EXPECT_NE(gen.find(first), std::string::npos);
  EXPECT_EQ(gen.substr(gen.size() - gr.size() - last.size()), last + gr);
  const std::string occ = GenerationFileText(rec, pb->cv, true, o.context), ft = ft_naar_file(pb->cv);
  const std::string occLast = "sub-level\n\n> The charge state of the energylevel is given as well\n\n\n\n";
  EXPECT_EQ(occ.substr(occ.size() - ft.size() - occLast.size()), occLast + ft);
  // Saved: ".occ" files in the occupation folder (".gen" files in the generation folder).
  test::TempDir dir;
  o.ui.answer = dir.file("f.occ");
  EXPECT_EQ(gen_naar_file(&rec, pb->cv, true, OutputTarget{kOutputSave, nullptr}, o.context), kWritten);
  EXPECT_EQ(o.ui.asked.back(), "/zoniq-home/occupation *.occ");
  EXPECT_EQ(test::ReadWholeFile(*o.ui.answer), occ);
  EXPECT_EQ(gen_naar_file(nullptr, pb->cv, false, OutputTarget{kOutputShow, nullptr}, o.context), kNothingWritten);
}

}  // namespace
}  // namespace zoniq
