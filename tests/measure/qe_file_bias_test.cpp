// QE under a bias generation read from a file. The pn junction stays in low injection under the
// bias (Δn ≈ G·τ far below the base doping), where the device is linear in the generation: the
// extra current of the probe does not depend on the bias light, so QE under the file's bias
// equals the dark QE, while the bias itself moves the working-point current by q·G·d.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "celldef/definition_file.hpp"
#include "measure/simulation_driver.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

struct Junction {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, test::HomeFolder()};
  CellState cell;
  SimulationState s;
  Junction() {
    // p base 5 µm, n emitter 1 µm, α = A·sqrt(hν − Eg) with A = 1e7 /(m·sqrt(eV)).
    InputParameters set = test::PnJunction();
    for (int l = 0; l < 2; ++l) set.cellParas.layer[l].A = {1e7, 1e7};
    InitialiseSimulationState(s, test::HomeFolder());
    cell.parameterset1 = set;
    parameterset1_to_2(cell.zonnecel, cell.parameterset1);
    cell.problemName = "junction";
    s.wp.numberOfSteps = 5;
    s.actie.iv.on = 0;
    s.actie.qe = QEAction{1, 500, 1100, 4, 0};
    cell.definitionExtras.qe.mode = 0;
    cell.definitionExtras.qe.numberOfPhotons = 1e17;
  }
  std::vector<double> QE() {
    EXPECT_EQ(calculate_withMeta(cell, s, env, nullptr, nullptr), 0);
    EXPECT_EQ(s.QEConvergenceFailure, 0);
    EXPECT_EQ(s.CurrentRecord()->qe.pointsDone, 4);
    return s.CurrentRecord()->qe.QE;
  }
};

TEST(QEFileBias, LinearCellGivesTheDarkQEUnderAFileBias) {
  Junction dark;
  dark.s.wp.dark = 1;
  const std::vector<double> reference = dark.QE();

  test::TempDir dir;
  const std::string path = dir.file("bias.gen");
  // Uniform 1e25 /m3s over the 6 µm cell (Δn ≈ 1e19 /m3 against a base doping of 1e22).
  test::WriteWholeFile(path, "x (um)\tG\n0\t1e25\n3\t1e25\n6\t1e25\n");
  Junction biased;
  biased.s.wp.dark = 0;
  biased.s.wp.generationFromFile = 1;
  biased.s.wp.generationFile = path;
  const std::vector<double> qe = biased.QE();
  // The bias does act: at 0 V its current is nearly all of q·G·d = 1.602e-19·1e25·6e-6 A/m²
  // = 0.961 mA/cm2.
  EXPECT_LT(biased.s.JWorkingPoint, -0.5);
  for (std::size_t k = 0; k < qe.size(); ++k) {
    EXPECT_GT(reference[k], 5.0) << k;
    EXPECT_NEAR(qe[k], reference[k], 0.01 * reference[k]) << k;
  }
}

}  // namespace
}  // namespace zoniq
