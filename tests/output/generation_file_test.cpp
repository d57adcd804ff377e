// The generation-recombination and occupation files: the occupation of defect states against
// the closed forms of Shockley-Read-Hall statistics and Fermi-Dirac, the per-level rates against
// the solver's recombination, interface occupations against the interface charge, and the
// layout of the two files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

#include "output/generation_profiles.hpp"
#include "output/result_files.hpp"
#include "output_fixture.hpp"
#include "solver/dc_solve.hpp"
#include "solver/solved_cells.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::OutputEnvironment;

constexpr double kVt = 0.0259;  // the solver's thermal voltage at 300 K [V]

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

void SetLevel(BulkDefectRecord& d, int k, double cn, double cp, double en, double ep, double gn = 0.0,
              double gp = 0.0) {
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
  // Rates 600 orders of magnitude apart neither overflow nor lose the sum; state 1 fills from
  // state 0 and empties from state 2.
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
  // Equilibrium in the neutral base (p = NA = 1e16 /cm³, n = ni²/NA): Rnth = Nt·σ·vth·n·(1 − f)
  // and Rpth = Nt·σ·vth·p·f with the Fermi-Dirac occupation f of the level (Nt = 1e14 /cm³,
  // σ = 1e-15 cm², vth = 1e7 cm/s); 1e-4 leaves room for the Fermi level of the base's middle.
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

  // The occupation at every point is Fermi-Dirac, f = 1/(1 + exp((Et − EF)/kT)) with
  // Et = Ev + 0.3 eV, EF = 0 (9 digits written; 1e-7 covers the energies' rounding too). A single
  // level has no distribution to name.
  const std::string names = "The energydistribution of the defects which are not single level are:\n";
  const std::string occupation = OccupationTable(cv);
  ASSERT_EQ(occupation.substr(0, names.size()), names);
  rows = test::TableRows(occupation, "x (", &titles);
  EXPECT_EQ(titles, "x (\xB5m)\ti\tf_t(electrons)1,1,1,1 {0/0}\tf_t(holes)1,1,1,1 {0/0}\t");
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, +1, b);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(cv.mesh.N));
  for (int i = 0; i < cv.mesh.N; ++i) {
    const auto k = static_cast<std::size_t>(i);
    ASSERT_EQ(rows[k].size(), 4u);
    EXPECT_EQ(rows[k][1], i);
    // Outside the defect's layer: zero.
    const double fe = i > cv.mesh.last[0] ? 0.0 : 1.0 / (1.0 + std::exp((b.Ev[k] + 0.3) / kVt));
    EXPECT_CLOSE(rows[k][2], fe, 1e-7, 1e-300) << "point " << i;
    if (i <= cv.mesh.last[0]) {
      EXPECT_CLOSE(rows[k][2] + rows[k][3], 1.0, 1e-8, 0.0);
    }
  }

  // Forward bias: each level captures as many electrons as holes, and that net capture is the
  // solver's SRH rate at every point (9 digits written, a few more lost where capture and
  // emission nearly balance: 1e-7).
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

TEST(OccupationTable, DistributedDefectPerEnergySubLevel) {
  // A Gaussian distribution (W = 0.1 eV) around 0.5 eV above EV in the base at the default 7
  // energies: one pair of occupation columns per energy, and the distribution named above.
  InputParameters set = test::PnJunction();
  test::AddSingleLevelDefect(set, 0, 0.5, 1e20, 1e-19);
  set.cellParas.layer[0].srh[0][0].distribution = ED_GAUSS;
  set.cellParas.layer[0].srh[0][0].Ekar = 0.1;
  std::unique_ptr<DcProblem> pb = test::SolvedAtEquilibrium(set);
  CalculationVariables& cv = pb->cv;
  const std::string text = OccupationTable(cv);
  const std::string names =
      "The energydistribution of the defects which are not single level are:\nlayer 1, defect 1: gauss\n";
  ASSERT_EQ(text.substr(0, names.size()), names);
  std::string titles;
  const std::vector<std::vector<double>> rows = test::TableRows(text, "x (", &titles);
  EXPECT_EQ(std::count(titles.begin(), titles.end(), '\t'), 2 + 2 * 7);
  EXPECT_NE(titles.find("\tf_t(electrons)1,1,1,1 {0/0}\t"), std::string::npos);
  EXPECT_NE(titles.find("\tf_t(holes)1,1,1,7 {0/0}\t"), std::string::npos);
  // At equilibrium every energy E of the distribution is occupied as 1/(1 + exp((E − EF)/kT)).
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, +1, b);
  const auto ip = static_cast<std::size_t>(cv.mesh.first[0] + cv.mesh.points[0] / 2);
  const EnergyAxis& axis = cv.rec.layer[0][0].axis;
  for (std::size_t e = 0; e < 7; ++e) {
    const double E = b.Ev[ip] + 0.5 + axis.offset[e];
    EXPECT_CLOSE(rows[ip][2 + 2 * e], 1.0 / (1.0 + std::exp(E / kVt)), 1e-7, 1e-300) << "energy " << e;
  }
  // Under forward bias the rates summed over the distribution (trapezoid rule over the axis)
  // are again the solver's SRH recombination, which integrates the same way.
  ASSERT_EQ(SolveDarkBias(cv, 0.5, 3), 0);
  double largest = 0.0;
  for (const std::vector<double>& g : test::TableRows(GenerationRecombinationTable(cv), "x (")) {
    ASSERT_EQ(g.size(), 14u);
    EXPECT_CLOSE(-g[6], g[3], 1e-7, 1e-3);
    largest = std::max(largest, g[3]);
  }
  EXPECT_GT(largest, 1e10);
}

TEST(OccupationTable, InterfaceColumnsGiveTheInterfaceCharge) {
  // A donor-like Gaussian band of interface states (5 energies) at the junction, at 0.5 V.
  InputParameters set = test::PnJunction();
  test::AddInterfaceDefect(set, 0, DT_DONOR, 0.2, 5, 4e15, {2e-19, 1e-19, 5e-19, 3e-20}, ED_GAUSS, 0.1);
  set.convergence.defectdiscretisations = 5;
  auto pb = test::SolvedInTheDark(set, 0.5, 5);
  const CalculationVariables& cv = pb->cv;
  const std::string t = OccupationTable(cv);
  ASSERT_NE(t.find("interface 1, defect 1: "), std::string::npos);
  std::string titles;
  const std::vector<std::vector<double>> rows = test::TableRows(t, "x (", &titles);
  EXPECT_EQ(std::count(titles.begin(), titles.end(), '\t'), 2 + 2 * 5);
  EXPECT_NE(titles.find("\tf_t(IF electrons)1,1,1 {+/0}\t"), std::string::npos);
  EXPECT_NE(titles.find("\tf_t(IF holes)1,1,5 {+/0}\t"), std::string::npos);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(cv.mesh.N));
  // On both interface points the empty (charged) states give σ = q·Σ Nt·f_h, the charge in
  // Gauss's law; elsewhere the columns are zero.
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

TEST(GenerationFile, LegendTablesAndSaving) {
  OutputEnvironment o;
  std::unique_ptr<DcProblem> pb = JunctionWithDefect();
  SimulationRecord rec = test::IlluminatedRecord();
  const std::string gen = GenerationFileText(rec, pb->cv, false, o.context);
  const std::string legend =
      "Generation-recombination at actual bias voltage\t    0.0000\tVolt\n\n> Legend:\n\n> =======\n\n> Geh\tDirect "
      "band-to-band excitation of electron-hole pairs by light (this equals zero in dark)\n\n\n> All following "
      "properties are split up per layer, per defect in this layer and per charge state in this defect\n\n> (first "
      "index = layer, second index = mechanism, third index = defectlevel (0 is the most positively charged and hence "
      "the closest to the valence band))\n\n> (IPV = Impurity Photovoltaic Effect)\n\n\n> IPV Gn\tGros IPV electron "
      "effect: direct optical excitation from defect to conduction band\n\n> net Gn\tnet electron generation: IPV Gn "
      "+ thermal generation - thermal recombination\n\n> Gnth\tthermal electron generation (thermal emission of "
      "electron from defect to conduction band)\n\n> Rnth\thermal electron recombination (capture by defect of "
      "conduction band electron)\n\n> IPV Gp\tGros IPV hole effect: direct optical excitation from defect to valence "
      "band\n\n> net Gp\tnet hole generation: IPV Gp + thermal generation - thermal recombination\n\n> Gpth\tthermal "
      "hole generation (thermal emission of hole from defect to valence band)\n\n> Rpth\thermal hole recombination "
      "(capture by defect of valence band hole)\n\n\n";
  const std::size_t at = gen.find("Generation-recombination at actual bias voltage");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(gen.rfind("ZONIQ 3.2.0 (test)\nSimulation of generation - recombination profiles\n", 0), 0u);
  EXPECT_EQ(gen.substr(at, legend.size()), legend);
  EXPECT_EQ(gen.substr(at + legend.size()), GenerationRecombinationTable(pb->cv));

  const std::string occ = GenerationFileText(rec, pb->cv, true, o.context);
  const std::string occLegend =
      "\n> =======\n\n\n> All following properties are split up per layer and per defect in this layer, per charge "
      "state in this defect and per energy if there is an energydistribution\n\n> (first index = layer, second index "
      "= mechanism, third index = defectlevel (0 is the most positively charged and hence the closest to the valence "
      "band)), fourth index = energy sub-level\n\n> The charge state of the energylevel is given as well\n\n\n\n";
  const std::size_t oat = occ.find("\n> =======\n");
  ASSERT_NE(oat, std::string::npos);
  EXPECT_EQ(occ.substr(oat, occLegend.size()), occLegend);
  EXPECT_EQ(occ.substr(oat + occLegend.size()), ft_naar_file(pb->cv));

  // Saved: ".gen" files in the generation folder, ".occ" files in the occupation folder.
  test::TempDir dir;
  for (const bool occupation : {false, true}) {
    o.ui.answer = dir.file(occupation ? "f.occ" : "f.gen");
    EXPECT_EQ(gen_naar_file(&rec, pb->cv, occupation, OutputTarget{kOutputSave, nullptr}, o.context), kWritten);
    EXPECT_EQ(o.ui.asked.back(), occupation ? "/zoniq-home/occupation *.occ" : "/zoniq-home/generation *.gen");
    EXPECT_EQ(test::ReadWholeFile(*o.ui.answer), occupation ? occ : gen);
  }
  EXPECT_EQ(gen_naar_file(nullptr, pb->cv, false, OutputTarget{kOutputShow, nullptr}, o.context), kNothingWritten);
}

}  // namespace
}  // namespace zoniq
