// The QE sweep: its wavelength grid and spectrum union, the probe of constant power, and the
// short-circuit current of the example CIGS cell under AM1.5G recovered from its dark QE folded
// with the spectrum's photon flux.
#include <gtest/gtest.h>

#include <cmath>

#include "celldef/cell_state.hpp"
#include "celldef/definition_file.hpp"
#include "measure/qe_sweep.hpp"
#include "measure/simulation_driver.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(QESweep, WavelengthGridAndSpectrumUnion) {
  EXPECT_EQ(QEWavelengths(300, 1200, 4), (std::vector<double>{300, 600, 900, 1200}));
  EXPECT_EQ(QEWavelengths(300, 1000, 4), (std::vector<double>{300, 533, 766, 1000}));  // integer division
  EXPECT_EQ(AddSpectra({200, 5000}, {600, 300, 5000}), (std::vector<double>{200, 300, 600, 5000}));
}

struct Cigs {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, test::HomeFolder()};
  CellState cell;
  SimulationState s;
  Cigs() {
    InputParameters set;
    MottSchottkySettings ms;
    InitialiseInputParameters(set, ms);
    EXPECT_GE(lees_structuurfile(env, test::HomeFolder() + "/def/CIGS.def", set, ms, cell.definitionExtras), 0);
    cell.parameterset1 = set;
    cell.mottSchottky = ms;
    parameterset1_to_2(cell.zonnecel, cell.parameterset1);
    cell.problemName = "CIGS.def";
    InitialiseSimulationState(s, test::HomeFolder());
    ApplyDefinitionWorkPoint(s.wp, cell.definitionExtras.workPoint);
    s.actie.iv.on = 0;
  }
  // QE of the dark cell at 0 V with a constant photon flux.
  std::vector<double> DarkQE(int start, int stop, int n, double flux) {
    s.wp.dark = 1;
    s.actie.qe = QEAction{1, start, stop, n, 0};
    cell.definitionExtras.qe.mode = 0;  // "0: cst. # of photons"
    cell.definitionExtras.qe.numberOfPhotons = flux;
    EXPECT_EQ(calculate_withMeta(cell, s, env, nullptr, nullptr), 0);
    EXPECT_EQ(s.QEConvergenceFailure, 0);
    EXPECT_EQ(s.CurrentRecord()->qe.pointsDone, n);
    return s.CurrentRecord()->qe.QE;
  }
};

TEST(QESweep, ModeOneKeepsThePowerConstant) {
  // At 400 nm a probe of 1e20 photons/m²s already lifts QE by 0.5 % (the buffer's
  // photoconductivity), so the flux a mode uses shows: mode 1 with 49.65 W/m² at 400 nm is that
  // flux (P·5.035e15·λ), while mode 0 keeps the definition's 1e18 photons/m²s.
  Cigs c;
  const double strong = c.DarkQE(400, 400, 1, 1e20)[0];
  const double weak = c.DarkQE(400, 400, 1, 1e18)[0];
  ASSERT_GT(strong - weak, 0.3);
  c.s.actie.qe = QEAction{1, 400, 400, 1, 0};
  c.cell.definitionExtras.qe.mode = 1;
  c.cell.definitionExtras.qe.incidentPower = 1e20 / (5.035e15 * 400.0);
  ASSERT_EQ(calculate_withMeta(c.cell, c.s, c.env, nullptr, nullptr), 0);
  EXPECT_NEAR(c.s.CurrentRecord()->qe.QE[0], strong, 0.02);
}

TEST(QESweep, DarkQEFoldedWithTheSpectrumGivesJsc) {
  Cigs c;
  c.s.wp.dark = 0;
  ASSERT_EQ(calculate_withMeta(c.cell, c.s, c.env, nullptr, nullptr), 0);
  const double Jsc = -c.s.JWorkingPoint;  // [mA/cm2]
  const std::vector<double> wl = c.s.generatieparameters.wavelengths;
  const std::vector<double> flux = c.s.generatieparameters.incomingFlux_us;  // photons/m2/s per point
  const std::vector<double> qe = c.DarkQE(280, 1200, 185, 1e17);             // every 5 nm
  double J = 0.0;                                                            // [A/m2]
  for (std::size_t k = 0; k < wl.size(); ++k) {
    if (wl[k] < 280.0 || wl[k] > 1200.0) continue;
    const double t = (wl[k] - 280.0) / 5.0;
    const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(t), qe.size() - 2);
    const double q = qe[i] + (t - static_cast<double>(i)) * (qe[i + 1] - qe[i]);
    J += 1.602e-19 * flux[k] * q / 100.0;
  }
  EXPECT_CLOSE(0.1 * J, Jsc, 0.01, 0.0);
}

}  // namespace
}  // namespace zoniq
