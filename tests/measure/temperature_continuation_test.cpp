// Continuation in temperature: a short circuit no light ramp reaches at 260.7 K is solved warmer
// and carried back; stages the ordinary chain reaches are reached the long way round too.
#include "measure/temperature_continuation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "measure/scripted_run.hpp"
#include "measure/simulation_driver.hpp"
#include "solver/acceptance.hpp"
#include "solver/currents.hpp"

namespace zoniq {
namespace {

// The CdTe example up to its working point (no sweep), with the script's extra lines.
struct ShortCircuitRun : test::ScriptedRun {
  Session& s = session;
  explicit ShortCircuitRun(const std::string& extra)
      : ScriptedRun({"def/CdTe.def", "spectrum/AM1_5G 1 sun.spe"},
                    "load definition CdTe.def\naction light\naction spectrumfile AM1_5G 1 sun.spe\n"
                    "action workingpoint.voltage 0\n" +
                        extra + "calculate single\n") {
    EXPECT_EQ(result, 0);
  }
};

TEST(TemperatureContinuation, ReachesAShortCircuitNoLightRampReaches) {
  // Robustness variant 146: wide absorber gap, strong absorber defects, 260.73 K; both light
  // ramps fail, and the cell converges only from about 330 K up.
  ShortCircuitRun run(
      "action workingpoint.temperature 260.73\naction intensity.T 6.2289e+01\nset layer1.thickness 3.7874\n"
      "set layer1.NA 3.5496e+14\nset layer1.defect1.Ntotal 2.7219e+15\nset layer1.mun 1.3136e+01\n"
      "set layer1.mup 5.3720e+00\nset layer1.Eg 1.6463\nset layer2.chi 4.6817\nset contact.left.work 5.6360\n"
      "set contact.left.sn 4.3671e+05\n");
  Session& s = run.s;
  ASSERT_EQ(s.ShortCircuitConvergenceFailure, 0);
  CalculationVariables& sc = s.kortsluitcv;
  EXPECT_EQ(sc.pointState, kPointTemperatureContinuation);
  ASSERT_FALSE(s.solverContext.recoveries.empty());
  EXPECT_NE(s.solverContext.recoveries.back().find("carried back to 260.73 K"), std::string::npos);
  // Everything kept is at the asked temperature.
  for (const CalculationVariables* c : {&sc, &s.evenwichtcv, &s.currentCalcVars}) EXPECT_EQ(c->par->T, 260.73);
  // The solution passes the check of any point at the asked temperature, and it collects at
  // most what the light generates (q∫G dx).
  EXPECT_TRUE(CheckSolution(sc).passed);
  EXPECT_LT(s.JShortCircuit, 0.0);
  EXPECT_LE(-s.JShortCircuit, BalanceOfCurrents(sc, sc.work.currents).generation * (1.0 + 1e-6));
}

TEST(TemperatureContinuation, CarriedBackToTheSolutionTheOrdinaryChainFinds) {
  // The CdTe example at 280 K reaches its short circuit and a working point at 0.7 V, lit and
  // dark, by the ordinary chain; solved at 320 K and carried back, they must be the same.
  for (const char* light : {"action light\n", "action dark\n"}) {
    SCOPED_TRACE(light);
    ShortCircuitRun run(std::string(light) + "action workingpoint.temperature 280\naction workingpoint.voltage 0.7\n");
    Session& s = run.s;
    ASSERT_EQ(s.WorkPointConvergenceFailure, 0);
    ASSERT_EQ(s.werkpuntcv.pointState, kPointGummel);
    for (const bool workPoint : {false, true}) {
      if (s.wp.dark && !workPoint) continue;  // a dark short circuit is the equilibrium
      const CalculationVariables& ordinary = workPoint ? s.werkpuntcv : s.kortsluitcv;
      CalculationVariables cv = ordinary;
      const TemperatureStage stage = workPoint ? WorkPointStage(s, 0.7, 5) : ShortCircuitStage(s, 5);
      ASSERT_EQ(ContinueInTemperature(s, s.parameterset1, s.definitionExtras.mesh, cv, stage), 0);
      EXPECT_EQ(cv.pointState, kPointTemperatureContinuation);
      EXPECT_EQ(cv.par, &s.parameterset3);
      CurrentDensities carried, direct;
      extraheer_stroom(cv, carried);
      extraheer_stroom(ordinary, direct);
      // Two converged solutions of the same discrete equations at 280 K differ only within the
      // terminations of the iteration (found 5e-7 relative and less).
      EXPECT_NEAR(carried.j_tot[1], direct.j_tot[1], 1e-5 * std::fabs(direct.j_tot[1]));
    }
  }
}

}  // namespace
}  // namespace zoniq
