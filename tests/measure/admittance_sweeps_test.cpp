// The C-V sweep of the driver under illumination: at a low frequency the conductance of every
// point is the slope of the I-V curve that the same sweep merged into the record, on the
// example CIGS cell under AM1.5G, where light raises the minority densities of the window by
// tens of decades (and with them the rows of the small-signal system).
#include <gtest/gtest.h>

#include "celldef/cell_state.hpp"
#include "celldef/definition_file.hpp"
#include "measure/simulation_driver.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(AdmittanceSweeps, IlluminatedConductanceIsTheSlopeOfTheMergedIV) {
  RecordingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, test::HomeFolder()};
  CellState cell;
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  ASSERT_GE(lees_structuurfile(env, test::HomeFolder() + "/def/CIGS.def", set, ms, cell.definitionExtras), 0);
  // The slope of the I-V curve over ±5 mV is a difference of currents 5e-4 apart: the DC
  // solutions must be good to far better than that, beyond the default termination tolerances
  // (where the point a Gummel iteration stops at depends on its starting estimate).
  set.convergence.termination_psi = set.convergence.termination_Fn = set.convergence.termination_Fp = 1e-9;
  cell.parameterset1 = set;
  cell.mottSchottky = ms;
  parameterset1_to_2(cell.zonnecel, cell.parameterset1);
  cell.problemName = "CIGS.def";
  SimulationState s;
  InitialiseSimulationState(s, test::HomeFolder());
  ApplyDefinitionWorkPoint(s.wp, cell.definitionExtras.workPoint);
  s.wp.dark = 0;
  s.wp.frequency = 1e-3;
  s.actie.iv.on = 0;
  s.actie.cv = VoltageSweepAction{1, 0.0, 0.4, 81, 0};  // 5 mV steps
  ASSERT_EQ(calculate_withMeta(cell, s, env, nullptr, nullptr), 0);
  const SimulationRecord& r = *s.CurrentRecord();
  ASSERT_EQ(r.cv.pointsDone, 81);
  ASSERT_EQ(r.iv.pointsDone, 81);
  for (int i = 1; i + 1 < 81; ++i) {
    // The merged I-V curve is sorted by voltage; the C-V sweep ran in either direction.
    const double V = r.iv.vCell[static_cast<std::size_t>(i)];
    const double slope = (r.iv.j[static_cast<std::size_t>(i + 1)] - r.iv.j[static_cast<std::size_t>(i - 1)]) /
                         (r.iv.vCell[static_cast<std::size_t>(i + 1)] - r.iv.vCell[static_cast<std::size_t>(i - 1)]);
    double G = 0.0;
    for (int k = 0; k < 81; ++k)
      if (std::fabs(r.cv.v[static_cast<std::size_t>(k)] - V) < 1e-9) G = r.cv.G[static_cast<std::size_t>(k)];
    // G in S/cm², the slope in mA/cm² per V; the central difference over ±5 mV is within
    // (5 mV/Vt)²/6 = 0.6 % of the derivative of an exponential.
    EXPECT_CLOSE(G * 1e3, slope, 0.01, 0.0) << V;
    EXPECT_GT(r.cv.C[static_cast<std::size_t>(i)], 0.0);
  }
}

}  // namespace
}  // namespace zoniq
