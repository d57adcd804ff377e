// The occupations of an interface defect against the charge the solver puts into Gauss's law,
// the recorded interface current against the balance at the interface, the recorded cell
// properties against the values of the definition, and the overview of graded variables.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

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

class RecorderKinds : public ::testing::Test {
 protected:
  RecorderKinds() { BandDiagramFromSolution(cv, 1, b); }
  std::unique_ptr<DcProblem> pb = Solved();
  CalculationVariables& cv = pb->cv;
  BandDiagramProfiles b;
};

TEST_F(RecorderKinds, InterfaceOccupationsGiveTheChargeAndTheCurrentBalances) {
  RecorderSetup r;
  r.parameters = {
      {REC_INTERFACES, 10, 1, 1}, {REC_INTERFACES, 11, 1, 1}, {REC_INTERFACES, 10, 1, 2}, {REC_INTERFACES, 8, 1}};
  const std::vector<double> v = RecordStepValues(r, nullptr, &b);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_GT(v[0], 0.0);
  EXPECT_LT(v[0], 1.0);
  EXPECT_NEAR(v[0] + v[1], 1.0, 1e-12);
  // A donor-like band is charged when empty: σ = q·ΣNt_k·⟨1 − f⟩, with ΣNt_k its total density.
  double Nt = 0.0;
  for (const InterfaceLevelRecord& k : cv.ifrec.iface[0][0].records) Nt += k.Nt;
  ASSERT_GT(cv.ifr.sigma[0], 0.0);
  EXPECT_CLOSE(v[1], cv.ifr.sigma[0] / (kQ * Nt), 1e-9, 0.0);
  EXPECT_TRUE(std::isnan(v[2]));  // the interface has no second defect
  // The thermionic current is recorded from the left point; what crosses must also be what the
  // right point passes on to its layer plus what it captures there (electrons carry −q, holes +q).
  const InterfaceProfileRow& row = b.interfaces[0];
  const auto f = static_cast<std::size_t>(cv.mesh.first[1]);
  const double right = (b.jn[f] + b.jnTunnel[f] - row.jn2) + (b.jp[f] + b.jpTunnel[f] + row.jp2);
  ASSERT_GT(row.js, 0.0);
  EXPECT_CLOSE(v[3], right, 1e-9, 0.0);
}

TEST_F(RecorderKinds, CellPropertiesAreThoseOfTheDefinition) {
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

TEST_F(RecorderKinds, OverviewOfGradedVariables) {
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
