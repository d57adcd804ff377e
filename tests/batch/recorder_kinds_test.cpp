// The scalar recorder files of each kind (exact bytes written by hand from their layout), the
// occupations of an interface defect against the charge the solver puts into Gauss's law, and
// the recorded cell properties against the values of the definition.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "batch/batch_file.hpp"
#include "batch/graded_overview.hpp"
#include "batch/recorder.hpp"
#include "common/text.hpp"
#include "output/band_diagram.hpp"
#include "output/output_header.hpp"
#include "solver/dc_solve.hpp"
#include "solver/equations.hpp"
#include "solver/solved_cells.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// Efficiency, general current, an interface occupation and an electron-density profile over
// two steps of a thickness range; the second step's occupation could not be found.
RecorderSetup TwoSteps() {
  RecorderSetup r;
  r.parameters = {{REC_CELL_CHARACTERISTICS, REC_EFFICIENCY},
                  {REC_GENERAL, REC_GENERAL_CURRENT},
                  {REC_INTERFACES, 10, 1, 2},
                  {REC_ENERGY_BANDS, 4}};
  BatchParameter& bp = r.batchCopy.bp[0];
  bp.label = {BatchKeyWordToBP_constant(1, "layer 1"), BatchKeyWordToBP_constant(2, "thickness"), kNihil, kNihil};
  bp.startValue = 0.5;
  bp.stopValue = 2.5;
  r.batchCopy.numberOfParameters = 1;
  r.ivStep = 0.1;
  RecordedStep a, b;
  a.batchValues = {" 5.00000e-01"};
  a.values = {12.5, -30.25, 0.25, std::nan("")};
  b.step = 1;
  b.batchValues = {" 2.50000e+00"};
  b.values = {-1.0, -31.0, std::nan(""), std::nan("")};
  r.steps = {a, b};
  return r;
}

constexpr const char* kBatchOverview =
    "*** Overview of batch settings ***\n\n"
    "batch parameter 1:\tlayer 1>>thickness>>nihil>>nihil:\tfrom\t 5.000e-01\tto\t 2.500e+00\tLinear\n"
    "\n\n*** The recorded data ***\n\n";
constexpr const char* kNaNWarning = "Warning: not all the requested data could be recorded, and have been put to NaN\n";

// The text from the first line that begins with `from`; the common header before it must be
// the one of `headerKind`.
std::string Body(const std::string& text, const std::string& from, int headerKind) {
  EXPECT_NE(text.find(ResultTitle(headerKind)), std::string::npos) << text;
  const std::size_t at = text.find(from);
  return at == std::string::npos ? text : text.substr(at);
}

TEST(RecorderKinds, ScalarFilesPerKind) {
  const RecorderSetup r = TwoSteps();
  // I-V kind: cell characteristics and general quantities, after the step of the I-V sweep.
  const std::string iv = std::string("\nStepsize for IV-simulation:\t 1.000e-01\tV\n\n") +
                         "\n*** Overview of recorder settings ***\n\n"
                         "Cell characteristics: efficiency (%)\n"
                         "General properties: general current (mA/cm2)\n\n\n" +
                         kBatchOverview +
                         "i\tbp 1\tCell characteristics: efficiency (%)\tGeneral properties: general current (mA/cm2)\n"
                         "1\t 5.00000e-01\t 1.25000e+01\t-3.02500e+01\n"
                         "2\t 2.50000e+00\t-1.00000e+00\t-3.10000e+01\n";
  EXPECT_EQ(Body(RecorderResultText(r, "v", kRecordIV), "\nStepsize", kResultIV), iv);
  // General quantities only, no I-V step.
  const std::string gnr = std::string("\n*** Overview of recorder settings ***\n\n") +
                          "General properties: general current (mA/cm2)\n\n\n" + kBatchOverview +
                          "i\tbp 1\tGeneral properties: general current (mA/cm2)\n"
                          "1\t 5.00000e-01\t-3.02500e+01\n"
                          "2\t 2.50000e+00\t-3.10000e+01\n";
  const std::string g = RecorderResultText(r, "v", kRecordGeneral);
  EXPECT_EQ(g.find("Stepsize"), std::string::npos);
  EXPECT_EQ(Body(g, "\n*** Overview of recorder", kResultBatchGeneral), gnr);
  // Interface quantities: one value per step, the missing one NaN with the warning.
  const std::string ifr = std::string("\n*** Overview of recorder settings ***\n\n") +
                          "Interface: interface electron occupation, interface 1, defect 2\n\n\n" + kBatchOverview +
                          "i\tbp 1\tInterface: interface electron occupation, interface 1, defect 2\n"
                          "1\t 5.00000e-01\t 2.50000e-01\n"
                          "2\t 2.50000e+00\t         NaN\n" +
                          kNaNWarning;
  EXPECT_EQ(Body(RecorderResultText(r, "v", kRecordInterface), "\n*** Overview of recorder", kResultBatchInterface),
            ifr);
  // The kinds by extension.
  EXPECT_EQ(RecorderKindOfFileName("a.iv"), kRecordIV);
  EXPECT_EQ(RecorderKindOfFileName("a.GNR"), kRecordGeneral);
  EXPECT_EQ(RecorderKindOfFileName("a.ifr"), kRecordInterface);
}

TEST(RecorderKinds, KindWithoutItsQuantitiesIsRefused) {
  RecorderSetup r = TwoSteps();
  r.parameters = {{REC_CELL_CHARACTERISTICS, REC_EFFICIENCY}};
  for (RecordedStep& s : r.steps) s.values.resize(1);
  SessionCore core{test::HomeFolder(), std::make_unique<RecordingUserInterface>()};
  test::TempDir dir;
  FilePtr f = OpenFile(dir.file("r.ifr"), "wb");
  ASSERT_TRUE(f);
  EXPECT_EQ(record_naar_file(core.env(), f.get(), r, "v", kRecordInterface), -1);
  EXPECT_EQ(record_naar_file(core.env(), f.get(), r, "v", kRecordGeneral), -1);
  EXPECT_EQ(record_naar_file(core.env(), f.get(), r, "v", kRecordIV), 0);
}

// The pn junction with unequal materials on the two sides (mobilities, thermal velocities,
// radiative and Auger coefficients), a defect in the base referenced to EC, and a donor-like
// Gaussian band of interface states, solved in the dark at 0.4 V.
std::unique_ptr<DcProblem> Solved() {
  InputParameters set = test::PnJunction();
  CellDefinition& c = set.cellParas;
  c.layer[1].mu_n = UniformProfile(0.02, c.layer[1].mu_n.dependence);
  c.layer[1].mu_p = UniformProfile(0.005, c.layer[1].mu_p.dependence);
  c.layer[0].v_th_p = UniformProfile(2e5, c.layer[0].v_th_p.dependence);
  c.layer[0].K_rad = UniformProfile(1e-16, c.layer[0].K_rad.dependence);
  c.layer[1].c_n_auger = UniformProfile(3e-42, c.layer[1].c_n_auger.dependence);
  c.layer[1].c_p_auger = UniformProfile(7e-43, c.layer[1].c_p_auger.dependence);
  test::AddSingleLevelDefect(set, 0, 0.3, 1e19, 1e-19);
  c.layer[0].srh[0][0].reference = 2;  // 0.3 eV below EC
  test::AddInterfaceDefect(set, 0, DT_DONOR, 0.2, 5, 4e15, {2e-19, 1e-19, 5e-19, 3e-20}, ED_GAUSS, 0.1);
  set.convergence.defectdiscretisations = 5;
  return test::SolvedInTheDark(set, 0.4, 5);
}

TEST(RecorderKinds, InterfaceOccupationsGiveTheInterfaceCharge) {
  auto pb = Solved();
  const CalculationVariables& cv = pb->cv;
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, 1, b);
  RecorderSetup r;
  r.parameters = {{REC_INTERFACES, 10, 1, 1}, {REC_INTERFACES, 11, 1, 1}, {REC_INTERFACES, 10, 1, 2}};
  const std::vector<double> v = RecordStepValues(r, nullptr, &b);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_GT(v[0], 0.0);
  EXPECT_LT(v[0], 1.0);
  EXPECT_NEAR(v[0] + v[1], 1.0, 1e-12);
  // A donor-like band is charged when empty: σ = q·ΣNt_k·⟨1 − f⟩, with ΣNt_k its total density.
  double Nt = 0.0;
  for (const InterfaceLevelRecord& k : cv.ifrec.iface[0][0].records) Nt += k.Nt;
  ASSERT_GT(cv.ifr.sigma[0], 0.0);
  EXPECT_CLOSE(v[1], cv.ifr.sigma[0] / (kQ * Nt), 1e-9, 0.0);
  EXPECT_TRUE(std::isnan(v[2]));  // the interface has no second defect
}

TEST(RecorderKinds, CurrentAcrossTheInterfaceBalancesAtBothItsPoints) {
  auto pb = Solved();
  const CalculationVariables& cv = pb->cv;
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, 1, b);
  RecorderSetup r;
  r.parameters = {{REC_INTERFACES, 8, 1}};
  const double jth = RecordStepValues(r, nullptr, &b)[0];
  // Recorded from the left point; what crosses must also be what the right point passes on to
  // its layer plus what it captures there (electrons carry charge −q, holes +q).
  const InterfaceProfileRow& row = b.interfaces[0];
  const auto f = static_cast<std::size_t>(cv.mesh.first[1]);
  const double right = (b.jn[f] + b.jnTunnel[f] - row.jn2) + (b.jp[f] + b.jpTunnel[f] + row.jp2);
  ASSERT_GT(row.js, 0.0);
  EXPECT_CLOSE(jth, right, 1e-9, 0.0);
}

TEST(RecorderKinds, CellPropertiesAreThoseOfTheDefinition) {
  auto pb = Solved();
  const CalculationVariables& cv = pb->cv;
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, 1, b);
  const std::vector<RecorderParameter> ps = {
      {REC_CELL_DEFINITION, 6},  {REC_CELL_DEFINITION, 7},           {REC_CELL_DEFINITION, 8},
      {REC_CELL_DEFINITION, 9},  {REC_CELL_DEFINITION, 18},          {REC_CELL_DEFINITION, 19},
      {REC_CELL_DEFINITION, 20}, {REC_CELL_DEFINITION, 16, 1, 1, 1}, {REC_CELL_DEFINITION, 17, 1, 1, 1}};
  const StepProfiles s = RecordStepProfiles(ps, cv, b, nullptr);
  // Per layer (base, emitter), in the units of the definition panels: vth cm/s, μ cm²/Vs,
  // Krad cm³/s, Auger cm⁶/s; the defect 0.3 eV below EC of Eg = 1.12 eV lies 0.82 eV above EV
  // and 0.3 eV below the nearer band; 0 outside its layer.
  const double expected[2][9] = {{1e7, 2e7, 100.0, 100.0, 1e-10, 0.0, 0.0, 0.82, 0.3},
                                 {1e7, 1e7, 200.0, 50.0, 0.0, 3e-30, 7e-31, 0.0, 0.0}};
  for (int layer = 0; layer < 2; ++layer)
    for (int i : {cv.mesh.first[layer] + 1, cv.mesh.last[layer] - 1})
      for (std::size_t k = 0; k < ps.size(); ++k)
        EXPECT_CLOSE(s.values[k][static_cast<std::size_t>(i)], expected[layer][k], 1e-12, 0.0)
            << "layer " << layer << ", point " << i << ", " << MakeRecordText(ps[k]);
}

TEST(RecorderKinds, OverviewOfGradedVariables) {
  auto pb = Solved();
  CalculationVariables& cv = pb->cv;
  const int N = cv.mesh.N;
  // One wavelength, 500 nm (2.4797 eV), absorbed with 1e6 /m = 1e4 /cm everywhere.
  cv.wavelengths = {500.0};
  cv.alpha.Reset(static_cast<std::size_t>(N), 1);
  for (int i = 0; i < N; ++i) cv.alpha.NewRow(static_cast<std::size_t>(i))[0] = 1e6;
  const FileDateSource clock = [](std::string_view, DateTime& t) {
    t = DateTime{7, 3, 2025, 9, 5, 1};
    return true;
  };
  const std::string text = GradedVariablesText(cv, "pn.def", clock);
  const std::string head =
      "Overview of graded variables\n"
      "problem definition file :\tpn.def\n"
      "last saved: \t7-3-2025\tat\t9:05:01\n"
      " working point: temperature = \t 300.0\tK\n"
      "rightmost columns of the table: alpha [1/cm] (the wavelength [nm] is in the column header)\n"
      "i\tx(um)\ty\tEg(eV)\tchi(eV)\teps\tNC(cm-3)\tNV(cm-3)\tND(cm-3)\tNA(cm-3)\tND-NA(cm-3)\tchi+Eg(eV)\t"
      "mun(cm2/Vs)\tmup(cm2/Vs)\tlambda (nm)\t 500.0\n"
      "\t\t\t\t\t\t\t\t\t\t\t\t\t\tphoton energy (eV)\t   2.4797\n";
  ASSERT_EQ(text.substr(0, head.size()), head);
  // One row per mesh point; the rows inside each layer carry the definition's values
  // (Nc = Nv = 1e25 /m3, base NA 1e22 /m3, emitter ND 1e23 /m3 and its own mobilities).
  const std::string base =
      "\t  0.00000\t  1.12000\t  4.05000\t 11.90000\t  1.0000e+19\t  1.0000e+19\t  0.0000e+00\t  1.0000e+16"
      "\t -1.0000e+16\t  5.17000\t  1.0000e+02\t  1.0000e+02\t  1.0000e+04\n";
  const std::string emitter =
      "\t  0.00000\t  1.12000\t  4.05000\t 11.90000\t  1.0000e+19\t  1.0000e+19\t  1.0000e+17\t  0.0000e+00"
      "\t  1.0000e+17\t  5.17000\t  2.0000e+02\t  5.0000e+01\t  1.0000e+04\n";
  std::size_t rows = 0, at = head.size();
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    const std::string row = text.substr(at, end + 1 - at);
    const int i = std::stoi(row);
    EXPECT_EQ(row.substr(0, 3), intw(i, 3));
    const std::size_t afterX = row.find('\t', 4);
    EXPECT_EQ(row.substr(4, afterX - 4), fix(cv.mesh.xum[static_cast<std::size_t>(i)], 9, 5));
    EXPECT_EQ(row.substr(afterX), i <= cv.mesh.last[0] ? base : emitter) << row;
    ++rows;
    at = end + 1;
  }
  EXPECT_EQ(rows, static_cast<std::size_t>(N));
}

}  // namespace
}  // namespace zoniq
