// The band-diagram file: the table layout against text written out by hand, and the columns of
// solved pn junctions against device physics (equilibrium, forward bias, interface states).
#include "output/band_diagram.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

#include "measure/iv_sweep.hpp"
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
  InterfaceProfileRow r;
  r.x = 0.5;
  r.js = 1e-4;
  r.pi = -3.2e-8;
  b.interfaces = {r};
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

// The columns of the bulk table.
constexpr int kI = 0, kX = 1, kEc = 2, kFn = 3, kFp = 4, kEv = 5, kN = 6, kP = 7, kNet = 9, kRho = 10, kE = 11,
              kJn = 12, kJp = 13, kJnt = 14, kJpt = 15, kJtot = 16, kG = 17, kR = 18, kCumG = 19, kCumR = 20;

constexpr double kVt = 0.0259;  // the solver's thermal voltage at 300 K [V]

TEST(BandDiagramPhysics, EquilibriumPnJunction) {
  std::unique_ptr<DcProblem> pb = test::SolvedAtEquilibrium(test::PnJunction());
  CalculationVariables& cv = pb->cv;
  OutputEnvironment o;
  SimulationRecord rec = test::IlluminatedRecord();
  rec.wp.dark = 1;
  const std::string text = BandDiagramFileText(rec, cv, o.context);
  EXPECT_EQ(text.find("Band diagramme at actual bias voltage\t    0.0000\tVolt\n"), text.find("Band diagramme"));
  const std::vector<std::vector<double>> rows = test::TableRows(text.substr(text.find("\nbulk\n")), "   i\t");
  // Layer by layer: the point on the interface is written twice.
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(cv.mesh.N));
  // ni² from the material (Nc = Nv = 1e25 /m³ = 1e19 /cm³, Eg = 1.12 eV) [/cm⁶].
  const double ni2 = 1e19 * 1e19 * std::exp(-1.12 / kVt);
  for (const std::vector<double>& r : rows) {
    ASSERT_EQ(r.size(), 21u);
    // Flat Fermi levels at zero (the left contact's Fermi level is the zero of energy).
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
  // Quasi-neutral ends: p = NA = 1e16 /cm³ at the base contact and n = ND = 1e17 at the
  // emitter contact, with zero charge (1e-8 of the densities' size).
  EXPECT_CLOSE(rows.front()[kP], 1e16, 1e-6, 0.0);
  EXPECT_CLOSE(rows.back()[kN], 1e17, 1e-6, 0.0);
  EXPECT_CLOSE(rows.front()[kRho], 0.0, 0.0, 1e9);
  EXPECT_CLOSE(rows.back()[kRho], 0.0, 0.0, 1e10);
  EXPECT_CLOSE(rows.front()[kNet], -1e16, 1e-8, 0.0);
  EXPECT_CLOSE(rows.back()[kNet], 1e17, 1e-8, 0.0);
  // The band bending between the ends is the built-in potential Vt·ln(NA·ND/ni²); the field
  // points from the n side to the p side, its peak from the depletion approximation
  // sqrt(2·q·Vbi/ε·NA·ND/(NA+ND)) within 5 % (the majority-carrier tails shave a few Vt/Vbi).
  const double Vbi = kVt * std::log(1e16 * 1e17 / ni2);
  EXPECT_CLOSE(rows.front()[kEc] - rows.back()[kEc], Vbi, 1e-6, 0.0);
  double Emin = 0.0;
  for (const std::vector<double>& r : rows) Emin = std::min(Emin, r[kE]);
  const double Emax = std::sqrt(2.0 * kQ * Vbi / (11.9 * kEps0) * 1e22 * 1e23 / (1e22 + 1e23)) * 0.01;  // V/cm
  EXPECT_CLOSE(-Emin, Emax, 0.05, 0.0);
}

TEST(BandDiagramPhysics, ForwardBiasSplitsTheQuasiFermiLevels) {
  std::unique_ptr<DcProblem> pb = test::SolvedAtEquilibrium(test::PnJunction());
  CalculationVariables& cv = pb->cv;
  ASSERT_EQ(SolveDarkBias(cv, 0.4, 3), 0);
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, +1, b);
  const auto last = static_cast<std::size_t>(b.N - 1);
  // Fp = 0 at the left (base) contact and Fn = V at the right (emitter) contact.
  EXPECT_CLOSE(b.Fp[0], 0.0, 0.0, 1e-12);
  EXPECT_CLOSE(b.Fn[last], 0.4, 1e-12, 0.0);
  EXPECT_CLOSE(b.V, 0.4, 1e-12, 0.0);
  // Everywhere n·p = ni²·exp((Fn − Fp)/Vt) (Boltzmann statistics with split quasi-Fermi levels).
  const double ni2 = 1e19 * 1e19 * std::exp(-1.12 / kVt);
  for (std::size_t k = 0; k <= last; ++k)
    EXPECT_CLOSE(b.n[k] * b.p[k], ni2 * std::exp((b.Fn[k] - b.Fp[k]) / kVt), 1e-10, 0.0);
  // The current columns are those of the current extraction, and the total is the diode
  // current, the same at every point to the solver's 0.1 % continuity check.
  CurrentDensities j;
  extraheer_stroom(cv, j);
  EXPECT_EQ(b.jtot, j.j_tot);
  EXPECT_EQ(b.jn, j.j_n);
  for (double jt : b.jtot) EXPECT_CLOSE(jt, j.j_tot[1], 1e-3, 0.0);
  // No recombination in this cell: the cumulative recombination is the minority-electron
  // current into the p-type left contact plus, at the last point, the minority-hole current
  // into the n-type right contact.
  EXPECT_EQ(b.cumR[0], b.jn[0]);
  EXPECT_EQ(b.cumR[last - 1], b.jn[0]);
  EXPECT_EQ(b.cumR[last], b.jn[0] + b.jp[last]);
}

TEST(BandDiagramPhysics, CumulativeGenerationIsThePhotocurrentOfTheProfile) {
  std::unique_ptr<DcProblem> pb = test::SolvedAtEquilibrium(test::PnJunction());
  CalculationVariables& cv = pb->cv;
  // A uniform generation of 1e21 /cm³·s (1e27 /m³·s) over the 6 µm stack, in the solver's units
  // of each layer: its photocurrent is q·G·W = 1.602e-19·1e27·6e-6 A/m² = 96.12 mA/cm².
  const Schaal& s = pb->par.schaal;
  for (int l = 0; l < 2; ++l)
    for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i)
      cv.G[static_cast<std::size_t>(i)] = 1e27 / (s.S[l] * s.Dmax / (s.L * s.L));
  const double total = kQ * 1e27 * 6e-6 * 0.1;
  BandDiagramProfiles left, right;
  BandDiagramFromSolution(cv, -1, left);
  BandDiagramFromSolution(cv, +1, right);
  EXPECT_CLOSE(left.G[0], 1e21, 1e-12, 0.0);
  EXPECT_CLOSE(left.cumG[static_cast<std::size_t>(cv.mesh.N - 1)], total, 1e-12, 0.0);
  EXPECT_CLOSE(right.cumG[0], total, 1e-12, 0.0);
  // Light from the left sums from the first point: after the first box (half the first
  // interval), and at the interface 5 µm of 6 from the left, 1 µm from the right (the interface
  // points' boxes have zero width towards each other).
  EXPECT_CLOSE(left.cumG[0], kQ * 1e27 * 0.5 * (cv.mesh.xm[1] - cv.mesh.xm[0]) * 0.1, 1e-12, 0.0);
  const auto p = static_cast<std::size_t>(cv.mesh.last[0]);
  EXPECT_CLOSE(left.cumG[p], kQ * 1e27 * 5e-6 * 0.1, 1e-9, 0.0);
  EXPECT_CLOSE(right.cumG[p + 1], kQ * 1e27 * 1e-6 * 0.1, 1e-9, 0.0);

  // The writer: nothing without a record; the fill mode fills the profiles and writes nothing.
  OutputEnvironment o;
  SimulationRecord rec = test::IlluminatedRecord();
  EXPECT_EQ(eb_naar_file(nullptr, cv, OutputTarget{kOutputShow, nullptr}, o.context), kNothingWritten);
  EXPECT_EQ(o.ui.popups.size(), 1u);
  BandDiagramProfiles b;
  EXPECT_EQ(eb_naar_file(&rec, cv, OutputTarget{kOutputFill, nullptr}, o.context, &b), kWritten);
  EXPECT_EQ(b.cumG, right.cumG);  // light from the right
}

// Interface states at the junction (donor-like Gaussian band, unequal cross sections) in the dark
// at 0.5 V: no bulk recombination, so every recombination current is at the interface.
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
  // Steady state: the interface captures as many electrons as holes; the electron channel of
  // each side is a separate quantity (unequal cross sections); without tunnelling the enhanced
  // copies equal the plain fluxes.
  EXPECT_GT(r.js, 0.0);
  EXPECT_CLOSE(r.jp1 + r.jp2, r.js, 1e-9, 0.0);
  EXPECT_GT(std::fabs(r.jn1 - r.jn2), 0.1 * r.js);
  EXPECT_EQ(r.jn1t, r.jn1);
  EXPECT_EQ(r.jp2t, r.jp2);
  CurrentDensities j;
  EXPECT_CLOSE(EvaluateIVPoint(cv, j).jifr, r.js, 1e-12, 0.0);  // the I-V decomposition's current
  EXPECT_CLOSE(r.pi, cv.ifr.sigma[0] * 1e-4, 1e-15, 0.0);       // C/cm²
  EXPECT_GT(r.pi, 0.0);                                         // donor-like
  // The cumulative recombination collects the minority currents at the contacts and the
  // interface current on the way: at the end it is the total current.
  EXPECT_CLOSE(b.cumR.back(), b.jtot[1], 1e-6, 0.0);
}

}  // namespace
}  // namespace zoniq
