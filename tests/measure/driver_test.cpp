// The simulation driver on small cells: the photocurrent against the photons the cell absorbs,
// the current split, the stages and their flags, repeated runs.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "measure/driver_fixture.hpp"
#include "measure/iv_sweep.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::AbsorbingJunction;
using test::Bench;

// The current [mA/cm2] of the photons that a stack of thickness d [m] and band gap Eg absorbs
// (α = A·sqrt(hν − Eg), no reflection at either side): Σ Φ(λ)·(1 − e^(−α·d)) over the lines
// (λ [nm], P [W/m2]) of a spectrum file, Φ = P·λ·5.035e15 photons/s, hν = 1239.977/λ eV.
double AbsorbedPhotonCurrent(const std::string& spectrum, double A, double Eg, double d) {
  std::ifstream in(spectrum);
  double photons = 0.0, lambda = 0.0, power = 0.0;
  for (std::string line; std::getline(in, line);)
    if (std::sscanf(line.c_str(), "%lf %lf", &lambda, &power) == 2 && 1239.977 / lambda > Eg)
      photons += power * lambda * 5.035e15 * -std::expm1(-A * std::sqrt(1239.977 / lambda - Eg) * d);
  return 1.602e-19 * photons * 0.1;  // A/m2 → mA/cm2
}

TEST(Driver, PhotocurrentNeverExceedsTheAbsorbedPhotons) {
  // AM1.5G and a line at 600 nm: Jsc ≤ q × the photons the 6 µm stack absorbs (1e-3: the
  // absorption table interpolates α to 3e-5); with contacts that block the minority carriers
  // every absorbed photon counts (to 0.5 %: they block only nearly).
  test::TempDir dir;
  const std::string line = dir.file("line.spe");
  test::WriteWholeFile(line, "599\t0\n600\t10\n601\t0\n");
  for (const std::string& spectrum : {test::HomeFolder() + "/spectrum/AM1_5G 1 sun.spe", line}) {
    const double Jmax = AbsorbedPhotonCurrent(spectrum, 1e7, 1.12, 6e-6);
    for (bool blocking : {false, true}) {
      SCOPED_TRACE(spectrum + (blocking ? " blocking" : " ohmic"));
      InputParameters set = AbsorbingJunction();
      if (blocking) set.cellParas.leftContact.Sn = set.cellParas.rightContact.Sp = 1e-3;
      Bench b(set);
      b.s.wp.dark = 0;
      b.s.wp.spectrumFile = spectrum;
      ASSERT_EQ(b.Calculate(), 0);
      const double Jsc = -b.s.JShortCircuit;
      EXPECT_GT(Jsc, 0.0);
      EXPECT_LE(Jsc, Jmax * (1.0 + 1e-3));
      EXPECT_GE(Jsc, blocking ? Jmax * 0.995 : 0.0);
      EXPECT_EQ(b.s.kortberekend, 1);
      EXPECT_EQ(b.s.ShortCircuitConvergenceFailure, 0);
    }
  }
}

// In steady state every carrier that crosses the device is lost in the bulk (q∫R dx), at an
// interface or at a contact: the four parts of the I-V file add up to the total. A midgap defect
// in the base, or an acceptor at the junction capturing differently from each side, is the only
// loss besides the contacts and carries most of the current at 0.2 V.
TEST(Driver, CurrentSplitAddsUpToTheTotal) {
  InputParameters bulk = test::PnJunction(), ifr = test::PnJunction();
  test::AddSingleLevelDefect(bulk, 0, 0.56, 1e20, 1e-19);
  test::AddInterfaceDefect(ifr, 0, DT_ACCEPTOR, 0.05, 5, 1e15, {1e-19, 6e-19, 3e-19, 2e-20});
  for (bool atInterface : {false, true}) {
    SCOPED_TRACE(atInterface ? "interface defect" : "bulk defect");
    Bench b(atInterface ? ifr : bulk);
    b.s.actie.iv = VoltageSweepAction{1, -0.3, 0.6, 10, 0};
    ASSERT_EQ(b.Calculate(), 0);
    const IVResult& r = b.s.CurrentRecord()->iv;
    ASSERT_EQ(r.pointsDone, 10);
    const std::vector<double>& loss = atInterface ? r.jifr : r.jbulk;
    for (int k = 0; k < 10; ++k) {
      SCOPED_TRACE("V = " + std::to_string(r.vCell[k]));
      if (std::fabs(r.vCell[k]) < 1e-9) {  // at 0 V every current is rounding noise
        EXPECT_LT(std::fabs(r.j[k]) + std::fabs(loss[k]), 1e-14);
        continue;
      }
      // To 1e-3 with the discretised bulk integral, to the convergence (1e-6) without it.
      EXPECT_CLOSE(r.jbulk[k] + r.jifr[k] + r.js_n[k] + r.js_p[k], r.j[k], atInterface ? 1e-6 : 1e-3, 0.0);
      EXPECT_EQ(r.jSRH[k], r.jbulk[k]);            // no radiative or Auger recombination
      EXPECT_EQ(loss[k] > 0.0, r.vCell[k] > 0.0);  // recombination forward, generation reverse
      EXPECT_EQ(atInterface ? r.jbulk[k] : r.jifr[k], 0.0);
    }
    EXPECT_GT(loss[5], 0.5 * r.j[5]);
    EXPECT_TRUE(b.ui.popups.empty());
  }
}

// Abandoned with a message: one Newton step cannot reach equilibrium; light without a spectrum
// would be a dark run presented as lit; a working point needs two steps; a sweep of more than
// 2001 points is refused after the stages before it, which are kept.
TEST(Driver, FaultySetUpsAbandonTheSimulation) {
  const char* titles[] = {"Calculating equilibrium...", "", "Error in the working point",
                          "Error from function calciv()"};
  for (int fault = 0; fault < 4; ++fault) {
    SCOPED_TRACE(fault);
    InputParameters set = AbsorbingJunction();
    if (fault == 0) set.convergence.maxiter = 1;
    Bench b(set);
    b.s.wp.dark = fault == 3 ? 1 : 0;
    if (fault == 1) b.s.wp.spectrumFile = test::HomeFolder() + "/spectrum/no such spectrum.spe";
    if (fault == 2) b.s.wp.numberOfSteps = 1;
    b.s.actie.iv = VoltageSweepAction{1, 0.0, 0.5, fault == 3 ? 2002 : 6, 0};
    EXPECT_EQ(b.Calculate(), -1);
    EXPECT_TRUE(*titles[fault] ? b.Reported(titles[fault]) : !b.ui.popups.empty());
    EXPECT_EQ(b.s.equiberekend, fault == 3 ? 1 : 0);
    EXPECT_EQ(b.s.simulaties.empty(), fault < 3);
    if (fault == 0) {
      // Failure flags of equilibrium, short circuit, working point and first I-V point.
      EXPECT_EQ(b.s.lastSimulationResult, -1);
      EXPECT_EQ((std::array{b.s.EquilibriumConvergenceFailure, b.s.ShortCircuitConvergenceFailure,
                            b.s.WorkPointConvergenceFailure, b.s.FirstIVPointConvergenceFailure, b.s.kortberekend}),
                (std::array{1, 1, 1, 1, 0}));
      EXPECT_EQ(b.s.JShortCircuit, 0.0);
    }
    if (fault == 3) {
      EXPECT_EQ(b.s.FirstIVPointConvergenceFailure, 0);
      EXPECT_EQ(b.ui.popups.back().message,
                "There are more than MAX_NUM_CALCULATION_STEPS = 2001 I(V) points to calculate");
    }
  }
}

// A simulation must not depend on what ran before it: the CIGS example (charged defects, the
// adaptive mesh, the light ramp) twice in one session and once in a fresh one, to the last bit.
TEST(Driver, RepeatedSimulationsAreBitIdentical) {
  Bench one("CIGS.def"), two("CIGS.def");
  auto run = [](Bench& b) {
    b.s.wp.dark = 0;
    ParseSweepRange("-0.2:0.7:19", b.s.actie.iv);
    EXPECT_EQ(b.Calculate(), 0);
    return b.s.CurrentRecord() ? *b.s.CurrentRecord() : SimulationRecord{};
  };
  const SimulationRecord first = run(one);
  wis_alles(one.s);
  const SimulationRecord second = run(one), other = run(two);
  ASSERT_EQ(first.iv.pointsDone, 19);
  EXPECT_GT(first.cell.Voc, 0.5);
  for (const SimulationRecord* r : {&second, &other}) {
    EXPECT_EQ(std::tie(r->iv.pointsDone, r->iv.v, r->iv.j, r->iv.jbulk),
              std::tie(first.iv.pointsDone, first.iv.v, first.iv.j, first.iv.jbulk));
    EXPECT_EQ(std::tie(r->cell.Voc, r->cell.Jsc, r->cell.FF, r->cell.eta),
              std::tie(first.cell.Voc, first.cell.Jsc, first.cell.FF, first.cell.eta));
  }
}

}  // namespace
}  // namespace zoniq
