// A conduction-band spike at the buffer/absorber interface of a thin-film cell under AM1.5G,
// through the simulation driver: without tunnelling the photo-electrons pass the spike only over
// its top and the short-circuit current collapses; with intraband tunnelling through the spike
// the cell recovers the short-circuit current it has without the spike.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "measure/driver_fixture.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// The short-circuit current [mA/cm2] of the cell under AM1.5G.
double Jsc(const InputParameters& set) {
  test::Bench b(set);
  b.s.wp.dark = 0;
  b.s.wp.spectrumFile = test::HomeFolder() + "/spectrum/AM1_5G 1 sun.spe";
  EXPECT_EQ(b.Calculate(), 0);
  return -b.s.JShortCircuit;
}

// The thin-film heterojunction of the solver tests (p absorber, n buffer, n window) with the
// buffer's electron affinity lowered by `spike` eV below the absorber's (a spike of that height
// for the electrons that the light creates in the absorber), the buffer doped 1e18 cm⁻³ so that
// the spike is thin, tunnel masses 0.2.
InputParameters SpikeCell(double spike, bool tunneling) {
  InputParameters set = test::ThinFilmCell(true);
  CellDefinition& c = set.cellParas;
  LayerParameters& buffer = c.layer[1];
  buffer.chi = UniformProfile(4.50 - spike, buffer.chi.dependence);
  buffer.Nd = UniformProfile(1e24, buffer.Nd.dependence);
  for (int l = 0; l < 3; ++l) c.layer[l].me_rel = UniformProfile(0.2, c.layer[l].me_rel.dependence);
  c.interface[0].intrabandTunneling = tunneling ? 1 : 0;
  c.interface[0].me_rel = 0.2;
  return set;
}

TEST(SpikeTunnelling, ShortCircuitCurrentRecoveredThroughTheSpike) {
  // Spikes up to 0.5 eV pass the photocurrent over their top in this cell (the absorber's
  // electrons pile up at the interface until they do); from about 0.55 eV they block it.
  // Without a spike (the buffer 0.05 eV below the absorber: no barrier to the electrons).
  const double reference = Jsc(test::ThinFilmCell(true));
  ASSERT_GT(reference, 20.0);
  for (double spike : {0.55, 0.6}) {
    const double Jblocked = Jsc(SpikeCell(spike, false)), Jtunnel = Jsc(SpikeCell(spike, true));
    EXPECT_LT(Jblocked, 0.8 * reference) << spike;
    EXPECT_NEAR(Jtunnel, reference, 0.01 * reference) << spike << " without tunnelling " << Jblocked;
  }
}

}  // namespace
}  // namespace zoniq
