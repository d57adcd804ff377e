// The shipped example cells under AM1.5G at 250, 275 and 300 K: each run ends with a complete,
// checked curve (rising J, current continuity held by every accepted point) or with a loud
// failure. Blocking back contacts are among the randomised variants of the robustness suite.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "measure/scripted_run.hpp"

namespace zoniq {
namespace {

struct Outcome {
  bool complete = false, loud = false;  // loud: a convergence failure was reported
  IVResult iv;
  CellParameters cell;
};

Outcome Simulate(const std::string& definition, const std::string& extra) {
  const test::ScriptedRun run({"def/" + definition, "spectrum/AM1_5G 1 sun.spe"},
                              "load definition " + definition +
                                  "\naction light\naction spectrumfile AM1_5G 1 sun.spe\naction workingpoint.voltage 0\n"
                                  "action iv.startV -0.2\naction iv.stopV 1.0\naction iv.points 49\naction iv.doiv 1\n" +
                                  extra + "calculate single\n");
  EXPECT_EQ(run.result, 0);
  Outcome r;
  r.loud = run.Loud();
  if (const SimulationRecord* rec = run.session.CurrentRecord()) {
    r.iv = rec->iv;
    r.cell = rec->cell;
    r.complete = rec->iv.present && rec->iv.pointsDone == rec->iv.points;
  }
  return r;
}

// J(V) of a complete curve never falls: no jumps back and forth between neighbouring points.
void ExpectRising(const IVResult& iv) {
  for (int i = 0; i + 1 < iv.pointsDone; ++i)
    EXPECT_GE(iv.j[i + 1], iv.j[i] - 1e-3 * std::fabs(iv.j[0])) << "at V = " << iv.v[i];
}

struct Case {
  const char* definition;
  double T, Eg;  // [K], the absorber's band gap [eV]
  bool mustComplete;
};

TEST(ExampleCells, CompleteAtLowTemperatures) {
  // The CdTe example at 250 K has a CdS window whose hole density falls to ni²/ND ≈ 1e-41 m⁻³
  // in the dark and rises by some 60 orders of magnitude under the light.
  for (const Case& c :
       {Case{"CIGS.def", 250.0, 1.15, true}, Case{"CIGS.def", 275.0, 1.15, true}, Case{"CIGS.def", 300.0, 1.15, true},
        Case{"CdTe.def", 250.0, 1.5, true}, Case{"CdTe.def", 275.0, 1.5, true}, Case{"CdTe.def", 300.0, 1.5, true}}) {
    SCOPED_TRACE(std::string(c.definition) + " at " + std::to_string(c.T) + " K");
    const Outcome r = Simulate(c.definition, "action workingpoint.temperature " + std::to_string(c.T) + "\n");
    if (c.mustComplete) {
      ASSERT_TRUE(r.complete);
    }
    if (!r.complete) {
      EXPECT_TRUE(r.loud);
      continue;
    }
    ExpectRising(r.iv);
    // A lower temperature raises Voc, always below the gap.
    ASSERT_EQ(r.cell.vocValid, 1);
    EXPECT_EQ(r.cell.vocExtrapolated, 0);
    EXPECT_LT(r.cell.Voc, c.Eg);
    EXPECT_GT(r.cell.Voc, 0.5);
  }
}

}  // namespace
}  // namespace zoniq
