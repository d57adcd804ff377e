// The simulation driver on small cells: the photocurrent against the photons the cell absorbs,
// Voc against the diode equation of the dark curve, the stages and their flags, the light ramp,
// the external circuit and the I-V sweep's options.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "celldef/definition_file.hpp"
#include "measure/driver_fixture.hpp"
#include "measure/iv_parameters.hpp"
#include "measure/iv_sweep.hpp"
#include "measure/simulation_driver.hpp"
#include "optics/generation.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr double kQ = 1.602e-19;       // [C]
constexpr double kHc = 1239.977;       // hν [eV] = kHc / λ [nm]
constexpr double kPhotons = 5.035e15;  // photons per second per watt and nm of wavelength

using test::Bench;

// The pn junction of the solver tests: p base 5 µm, n emitter 1 µm of one semiconductor
// (Eg = 1.12 eV), absorbing as α = A·sqrt(hν − Eg) with A = 1e7 /(m·sqrt(eV)).
InputParameters Junction() {
  InputParameters set = test::PnJunction();
  for (int l = 0; l < 2; ++l) set.cellParas.layer[l].A = {1e7, 1e7};
  return set;
}

// A spectrum file's points (wavelength [nm], power [W/m2]); header lines are skipped.
std::vector<std::pair<double, double>> ReadSpectrum(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::pair<double, double>> points;
  std::string line;
  while (std::getline(in, line)) {
    double l = 0, p = 0;
    if (std::sscanf(line.c_str(), "%lf %lf", &l, &p) == 2) points.emplace_back(l, p);
  }
  return points;
}

// The current [mA/cm2] of the photons that a stack of thickness d [m] and band gap Eg absorbs
// (α = A·sqrt(hν − Eg), no reflection at either side): Σ Φ(λ)·(1 − e^(−α·d)), Φ = P·λ·5.035e15.
double AbsorbedPhotonCurrent(const std::string& spectrum, double A, double Eg, double d) {
  double photons = 0.0;
  for (const auto& [lambda, power] : ReadSpectrum(spectrum)) {
    const double E = kHc / lambda;
    if (E <= Eg) continue;
    const double alpha = A * std::sqrt(E - Eg);
    photons += power * lambda * kPhotons * -std::expm1(-alpha * d);
  }
  return kQ * photons * 0.1;  // A/m2 → mA/cm2
}

// The junction with contacts that block the minority carriers (electrons at the p-type back,
// holes at the n-type front): without bulk recombination nothing is lost.
InputParameters CollectingJunction() {
  InputParameters set = Junction();
  set.cellParas.leftContact.Sn = 1e-3;
  set.cellParas.rightContact.Sp = 1e-3;
  return set;
}

TEST(Driver, PhotocurrentNeverExceedsTheAbsorbedPhotons) {
  // AM1.5G and a monochromatic line at 600 nm (10 W/m2 in the middle of three points): the
  // short-circuit current is at most q × the photons the 6 µm stack absorbs; the absorption
  // table of the material interpolates α to 3e-5, hence the 1e-3 margin. With ohmic contacts
  // (S = 1e7 m/s) the holes generated within reach of the front contact are lost there; with
  // blocking contacts every absorbed photon counts (to 0.5 %: the carriers still cross the
  // whole cell and its contacts block them only nearly).
  test::TempDir dir;
  const std::string line = dir.file("line.spe");
  test::WriteWholeFile(line, "599\t0\n600\t10\n601\t0\n");
  const std::string am15 = test::HomeFolder() + "/spectrum/AM1_5G 1 sun.spe";
  for (const std::string& spectrum : {am15, line}) {
    const double Jmax = AbsorbedPhotonCurrent(spectrum, 1e7, 1.12, 6e-6);
    for (bool collecting : {false, true}) {
      Bench b(collecting ? CollectingJunction() : Junction());
      b.s.wp.dark = 0;
      b.s.wp.spectrumFile = spectrum;
      ASSERT_EQ(b.Calculate(), 0) << spectrum;
      const double Jsc = -b.s.JShortCircuit;
      EXPECT_GT(Jsc, 0.0) << spectrum;
      EXPECT_LE(Jsc, Jmax * (1.0 + 1e-3)) << spectrum;
      if (collecting) {
        EXPECT_GE(Jsc, Jmax * 0.995) << spectrum;
      }
      EXPECT_EQ(b.s.kortberekend, 1);
      EXPECT_EQ(b.s.ShortCircuitConvergenceFailure, 0);
    }
  }
}

// A generation file of uniform G [1/m3/s] over 0 … 6 µm.
std::string UniformGenerationFile(const test::TempDir& dir, double G) {
  const std::string path = dir.file("uniform.gen");
  std::ostringstream text;
  text << "x (um)\tG\n0\t" << G << "\n3\t" << G << "\n6\t" << G << "\n";
  test::WriteWholeFile(path, text.str());
  return path;
}

TEST(Driver, VocFollowsTheDiodeEquationOfTheDarkCurve) {
  // Dark: J = J0·(e^(V/(n·Vt)) − 1), J0 and n from the points at 0.30 and 0.40 V. Under a
  // uniform generation G the light curve is the dark one shifted by the photocurrent
  // Jph(V) = J_dark(V) − J_light(V), so at Voc: Voc = n·Vt·ln(Jph(Voc)/J0 + 1). At Voc (about
  // 0.59 V) the injected electrons (~1e18 /m3) stay far below the base doping (1e22 /m3): low
  // injection, where the diode equation holds.
  test::TempDir dir;
  const double Vt = 0.0259;  // kT/q at 300 K as the solver takes it
  const VoltageSweepAction sweep{1, 0.0, 0.6, 61, 0};
  Bench dark(Junction());
  dark.s.actie.iv = sweep;
  ASSERT_EQ(dark.Calculate(), 0);
  const IVResult& d = dark.s.CurrentRecord()->iv;
  ASSERT_EQ(d.pointsDone, 61);
  const double n = (d.vCell[40] - d.vCell[30]) / (Vt * std::log(d.j[40] / d.j[30]));
  const double J0 = d.j[30] / std::expm1(d.vCell[30] / (n * Vt));
  EXPECT_NEAR(n, 1.0, 0.01);  // no bulk recombination: the ideal diode

  Bench lit(Junction());
  lit.s.wp.dark = 0;
  lit.s.wp.generationFromFile = 1;
  lit.s.wp.generationFile = UniformGenerationFile(dir, 3e26);
  lit.s.actie.iv = sweep;
  ASSERT_EQ(lit.Calculate(), 0);
  const IVResult& l = lit.s.CurrentRecord()->iv;
  const CellParameters& p = lit.s.CurrentRecord()->cell;
  ASSERT_EQ(l.pointsDone, 61);
  ASSERT_EQ(p.vocValid, 1);
  ASSERT_EQ(p.jscValid, 1);
  // Jsc: at most q·G·d = 1.602e-19 × 3e26 × 6e-6 m = 288.4 A/m2 = 28.84 mA/cm2.
  EXPECT_LE(p.Jsc, 28.84 * (1.0 + 1e-6));
  EXPECT_CLOSE(-lit.s.JShortCircuit, p.Jsc, 1e-6, 0.0);  // 0 V is a sweep point
  // The photocurrent at Voc, linear between the two sweep points around it.
  const int k = static_cast<int>(p.Voc / 0.01);
  const double t = (p.Voc - l.vCell[k]) / (l.vCell[k + 1] - l.vCell[k]);
  const double Jph = (1 - t) * (d.j[k] - l.j[k]) + t * (d.j[k + 1] - l.j[k + 1]);
  // 0.3 mV: the quadratic through three 10 mV-spaced points bounds the error of Voc by
  // e^(2h/Vt)/Vt²/6 · 0.385·h³ = 0.21 mV; the interpolated Jph and the fitted J0, n add little.
  EXPECT_NEAR(p.Voc, n * Vt * std::log(Jph / J0 + 1.0), 3e-4);
}

// The I-V file splits the current: in steady state every carrier that crosses the device is
// lost somewhere, in the bulk (q∫R dx), at an interface, or as a minority carrier at one of the
// contacts, so the four parts add up to the total current at every bias. With a midgap defect in
// the base the bulk part is large at low bias and the contacts' part takes over at high bias.
TEST(Driver, CurrentSplitAddsUpToTheTotal) {
  InputParameters set = Junction();
  test::AddSingleLevelDefect(set, 0, 0.56, 1e20, 1e-19);
  Bench b(set);
  b.s.actie.iv = VoltageSweepAction{1, 0.2, 0.7, 6, 0};
  ASSERT_EQ(b.Calculate(), 0);
  const IVResult& r = b.s.CurrentRecord()->iv;
  ASSERT_EQ(r.pointsDone, 6);
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE("V = " + std::to_string(r.vCell[k]));
    const double parts = r.jbulk[k] + r.jifr[k] + r.js_n[k] + r.js_p[k];
    EXPECT_GT(r.j[k], 0.0);
    EXPECT_GT(r.jbulk[k], 0.0);
    // Current continuity of the discretisation holds to 1e-3 (relative).
    EXPECT_CLOSE(parts, r.j[k], 1e-3, 0.0);
    EXPECT_EQ(r.jSRH[k], r.jbulk[k]);  // no radiative or Auger recombination
  }
  EXPECT_GT(r.jbulk[0], 0.5 * r.j[0]);  // recombination in the depletion region dominates at 0.2 V
}

TEST(Driver, WorkingPointAtZeroVoltsIsTheShortCircuit) {
  Bench b(Junction());
  b.s.wp.dark = 0;
  b.s.wp.voltage = 0.0;
  ASSERT_EQ(b.Calculate(), 0);
  EXPECT_LT(b.s.JShortCircuit, 0.0);
  EXPECT_EQ(b.s.JWorkingPoint, b.s.JShortCircuit);
  EXPECT_EQ(b.s.werkpuntcv.psi, b.s.kortsluitcv.psi);
  EXPECT_EQ(b.s.werkpuntcv.u, b.s.kortsluitcv.u);
  EXPECT_EQ(b.s.werkpuntcv.v, b.s.kortsluitcv.v);

  // At a bias the working point is solved from the short circuit: under light at 0.2 V the cell
  // still delivers nearly its short-circuit current (Voc is about 0.45 V).
  b.s.wp.voltage = 0.2;
  ASSERT_EQ(b.Calculate(), 0);
  EXPECT_LT(b.s.JWorkingPoint, 0.0);
  EXPECT_GT(b.s.JWorkingPoint, b.s.JShortCircuit);
  EXPECT_CLOSE(PresentBias(b.s.werkpuntcv), 0.2, 1e-12, 0.0);
}

TEST(Driver, FailingEquilibriumEndsTheSimulation) {
  // One Newton step cannot bring the potential to equilibrium.
  InputParameters set = Junction();
  set.convergence.maxiter = 1;
  Bench b(set);
  b.s.wp.dark = 0;
  b.s.actie.iv = VoltageSweepAction{1, 0.0, 0.5, 6, 0};
  EXPECT_EQ(b.Calculate(), -1);
  EXPECT_EQ(b.s.lastSimulationResult, -1);
  // Failure flags of equilibrium, short circuit, working point and first I-V point; nothing done.
  EXPECT_EQ((std::array{b.s.EquilibriumConvergenceFailure, b.s.ShortCircuitConvergenceFailure,
                        b.s.WorkPointConvergenceFailure, b.s.FirstIVPointConvergenceFailure, b.s.equiberekend,
                        b.s.kortberekend}),
            (std::array{1, 1, 1, 1, 0, 0}));
  EXPECT_EQ(b.s.JShortCircuit, 0.0);
  EXPECT_TRUE(b.s.simulaties.empty());
  EXPECT_TRUE(b.Reported("Calculating equilibrium..."));
}

TEST(Driver, SweepOfTooManyPointsAbandonsTheSimulation) {
  Bench b(Junction());
  b.s.actie.iv = VoltageSweepAction{1, 0.0, 0.5, 2002, 0};
  EXPECT_EQ(b.Calculate(), -1);
  ASSERT_FALSE(b.ui.popups.empty());
  EXPECT_EQ(b.ui.popups.back().title, "Error from function calciv()");
  EXPECT_EQ(b.ui.popups.back().message,
            "There are more than MAX_NUM_CALCULATION_STEPS = 2001 I(V) points to calculate");
  // The stages before the sweep are done and kept.
  EXPECT_EQ(b.s.equiberekend, 1);
  EXPECT_EQ(b.s.FirstIVPointConvergenceFailure, 0);
}

// Light without a spectrum would be a dark run presented as a lit one; a working point needs
// two steps. Either abandons the simulation before equilibrium.
TEST(Driver, FaultySetUpAbandonsTheSimulation) {
  for (int fault : {0, 1}) {
    Bench b(Junction());
    b.s.wp.dark = 0;
    if (fault == 0) b.s.wp.spectrumFile = test::HomeFolder() + "/spectrum/no such spectrum.spe";
    if (fault == 1) b.s.wp.numberOfSteps = 1;
    b.s.actie.iv = VoltageSweepAction{1, 0.0, 0.5, 6, 0};
    EXPECT_EQ(b.Calculate(), -1);
    EXPECT_FALSE(b.ui.popups.empty());
    if (fault == 1) {
      EXPECT_TRUE(b.Reported("Error in the working point"));
    }
    EXPECT_EQ(b.s.equiberekend, 0);
    EXPECT_TRUE(b.s.simulaties.empty());
  }
}

TEST(Driver, LightRampRaisesTheGenerationByFactorsOfE) {
  Bench b(Junction());
  b.s.wp.dark = 0;
  ASSERT_EQ(b.Calculate(), 0);
  CalculationVariables& cv = b.s.currentCalcVars;
  const GenerationParameters& gen = b.s.generatieparameters;
  const int i = cv.mesh.N / 2;
  ASSERT_GT(gen.G[i], 0.0);
  // Four steps: e^-3, e^-2, e^-1, 1 times the full profile, in that order.
  std::vector<double> factors;
  auto record = [&](CalculationVariables& c) {
    factors.push_back(c.G[i] / gen.G[i]);
    return 0;
  };
  ASSERT_EQ(RaiseLight(b.s, cv, 4, record), 0);
  ASSERT_EQ(factors.size(), 4u);
  for (int k = 0; k < 4; ++k) EXPECT_CLOSE(factors[k], std::exp(-(3.0 - k)), 1e-14, 0.0);
  // A failure at the second step stops the ramp; the full profile is in place afterwards.
  factors.clear();
  auto failSecond = [&](CalculationVariables& c) {
    factors.push_back(c.G[i] / gen.G[i]);
    if (factors.size() == 2) b.s.CONVERGENTIEFALING = 1;
    return 0;
  };
  EXPECT_EQ(RaiseLight(b.s, cv, 4, failSecond), -1);
  EXPECT_EQ(factors.size(), 2u);
  EXPECT_EQ(cv.G[i], gen.G[i]);
}

TEST(Driver, SeriesResistanceAndShuntInTheSweep) {
  // The same lit sweep without and with the external circuit: the cell's own points are the
  // same; the terminal voltage moves by Rs·J and the current gains Gsh·V.
  auto sweep = [](int Rs, int Gsh) {
    auto b = std::make_unique<Bench>(Junction());
    b->s.wp.dark = 0;
    b->s.wp.RsPresent = Rs;
    b->s.wp.Rs = 2e-4;  // 2 Ohm·cm2
    b->s.wp.RshPresent = Gsh;
    b->s.wp.Gsh = 20.0;  // 2e-3 S/cm2 (500 Ohm·cm2)
    b->s.actie.iv = VoltageSweepAction{1, 0.0, 0.4, 5, 0};
    EXPECT_EQ(b->Calculate(), 0);
    return b;
  };
  const auto plain = sweep(0, 0), withRs = sweep(1, 0), withGsh = sweep(0, 1);
  const IVResult& a = plain->s.CurrentRecord()->iv;
  const IVResult& r = withRs->s.CurrentRecord()->iv;
  const IVResult& g = withGsh->s.CurrentRecord()->iv;
  ASSERT_EQ(a.pointsDone, 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(r.vCell[i], a.vCell[i]);
    EXPECT_CLOSE(r.j[i], a.j[i], 1e-12, 1e-12);
    EXPECT_CLOSE(r.v[i], a.vCell[i] + 2e-4 * a.j[i] * 10.0, 1e-12, 1e-15);
    EXPECT_CLOSE(g.j[i], a.j[i] + a.vCell[i] * 2.0, 1e-12, 1e-12);  // 2e-3 S/cm2 × V = 2·V mA/cm2
    EXPECT_EQ(g.v[i], a.vCell[i]);
  }
  // Under light at short circuit the terminal voltage lies below the cell's: J < 0.
  EXPECT_LT(r.v[0], 0.0);
}

TEST(Driver, StopAfterVocOnlyEndsRisingSweeps) {
  Bench up(Junction());
  up.s.wp.dark = 0;
  up.s.actieExtras.stopAfterVoc = 1;
  up.s.actie.iv = VoltageSweepAction{1, 0.0, 0.8, 17, 0};
  ASSERT_EQ(up.Calculate(), 0);
  const IVResult& u = up.s.CurrentRecord()->iv;
  // The sweep ends at the first point past Voc.
  ASSERT_GT(u.pointsDone, 2);
  ASSERT_LT(u.pointsDone, 17);
  EXPECT_EQ(u.points, u.pointsDone);
  EXPECT_GT(u.j[u.pointsDone - 1], 0.0);
  EXPECT_LT(u.j[u.pointsDone - 2], 0.0);
  EXPECT_EQ(up.s.actie.iv.pointsDone, u.pointsDone);
}

// Users run thousands of simulations in one session: a simulation must not depend on what ran
// before it. The shipped CIGS example (three layers, charged defects, the adaptive mesh, the
// light ramp) is run three times, twice in one session and once in a fresh one; every number of
// the I-V result must agree to the last bit.
TEST(Driver, RepeatedSimulationsAreBitIdentical) {
  auto run = [](SimulationState& s, CellState& cell, const Environment& env) {
    EXPECT_EQ(calculate_withMeta(cell, s, env, nullptr, nullptr), 0);
    return s.CurrentRecord() ? *s.CurrentRecord() : SimulationRecord{};
  };
  RecordingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, test::HomeFolder()};
  CellState cell;
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  ASSERT_GE(lees_structuurfile(env, test::HomeFolder() + "/def/CIGS.def", set, ms, cell.definitionExtras), 0);
  cell.parameterset1 = set;
  cell.mottSchottky = ms;
  parameterset1_to_2(cell.zonnecel, cell.parameterset1);
  cell.problemName = "CIGS.def";
  auto fresh = [&](SimulationState& s) {
    InitialiseSimulationState(s, test::HomeFolder());
    ApplyDefinitionWorkPoint(s.wp, cell.definitionExtras.workPoint);
    s.wp.dark = 0;
    ParseSweepRange("-0.2:0.7:19", s.actie.iv);
  };
  SimulationState one, two;
  fresh(one);
  fresh(two);
  const SimulationRecord first = run(one, cell, env);
  wis_alles(one);
  const SimulationRecord second = run(one, cell, env);
  const SimulationRecord other = run(two, cell, env);
  ASSERT_EQ(first.iv.pointsDone, 19);
  EXPECT_GT(first.cell.Voc, 0.5);
  for (const SimulationRecord* r : {&second, &other}) {
    EXPECT_EQ(r->iv.pointsDone, first.iv.pointsDone);
    EXPECT_EQ(r->iv.v, first.iv.v);
    EXPECT_EQ(r->iv.j, first.iv.j);
    EXPECT_EQ(r->iv.jbulk, first.iv.jbulk);
    EXPECT_EQ(r->cell.Voc, first.cell.Voc);
    EXPECT_EQ(r->cell.Jsc, first.cell.Jsc);
    EXPECT_EQ(r->cell.FF, first.cell.FF);
    EXPECT_EQ(r->cell.eta, first.cell.eta);
  }
}

TEST(Driver, SweepRangeText) {
  VoltageSweepAction iv;
  // "1e-1:+.5:7.0": decimal forms the number reader takes.
  for (const auto& [text, start, stop, points] :
       {std::tuple{"1e-1:+.5:7.0", 0.1, 0.5, 7}, {"-0.2:0.8:41", -0.2, 0.8, 41}}) {
    ASSERT_TRUE(ParseSweepRange(text, iv)) << text;
    EXPECT_TRUE(iv.on == 1 && iv.startV == start && iv.stopV == stop && iv.points == points) << text;
  }
  const VoltageSweepAction before = iv;
  for (const char* bad : {"", "0.8", "0:1", "0:1:1", "0:1:2002", "0:1:x", "a:1:3", "0:1:3:", "nan:1:3", "0:1e999:5",
                          "0;1;5", "0:1:3 ", " 0:1:5", "0: 1:5", "0x1:2:5", "0:1:5.5", "0:1:0x5", "inf:1:3"}) {
    EXPECT_FALSE(ParseSweepRange(bad, iv)) << bad;
    EXPECT_EQ(iv.startV, before.startV);
    EXPECT_EQ(iv.points, before.points);
  }
}

}  // namespace
}  // namespace zoniq
