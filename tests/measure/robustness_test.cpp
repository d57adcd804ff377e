// Randomised but realistic variants of the two shipped example cells, simulated as a user would
// (a script of "set" and "action" lines, then "calculate single"): every run ends with a complete,
// physically sound I-V curve or with a loud failure. CI runs a short slice; the full suite and
// ZONIQ_ROBUSTNESS_FIRST (each variant has its own seed) are in the README.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "common/format.hpp"
#include "measure/scripted_run.hpp"
#include "solver/acceptance.hpp"

namespace zoniq {
namespace {

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

struct Variant {
  std::string script;
  double Eg = 0.0;  // absorber band gap [eV]
  std::string text;
};

// One variant: the example, the absorber (layer 1) and buffer (layer 2) parameters, the back
// contact, temperature and light, drawn from the ranges of a user's parameter study.
Variant Draw(int k) {
  std::mt19937_64 rng(0x5eed0000u + static_cast<unsigned>(k));
  auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
  auto logUniform = [&](double a, double b) { return std::pow(10.0, uniform(std::log10(a), std::log10(b))); };
  const bool cdte = k % 2 == 0;
  // Absorber χ and Eg, buffer χ of the examples [eV].
  const double chi1 = cdte ? 4.4 : 4.5, Eg1 = cdte ? 1.5 : 1.15, chi2 = cdte ? 4.5 : 4.45;
  Variant v;
  v.Eg = Eg1 + uniform(-0.2, 0.2);
  const double barrier = uniform(0.0, 0.5);  // hole barrier at the back contact [eV]
  std::string s = "set errorhandling.toscreen\n";
  s += std::string("load definition ") + (cdte ? "CdTe.def" : "CIGS.def") + "\n";
  s += "action light\naction spectrumfile AM1_5G 1 sun.spe\naction workingpoint.voltage 0\n";
  s += "action workingpoint.temperature " + fix(uniform(250.0, 350.0), 0, 2) + "\n";
  s += "action intensity.T " + sci(logUniform(1.0, 1000.0), 0, 4) + "\n";  // 0.01 … 10 suns [%]
  s += "action iv.startV -0.2\naction iv.stopV 1.0\naction iv.points 49\naction iv.doiv 1\n";
  s += "set layer1.thickness " + fix(uniform(0.3, 5.0), 0, 4) + "\n";
  s += "set layer1.NA " + sci(logUniform(1e14, 1e17), 0, 4) + "\n";
  s += "set layer1.defect1.Ntotal " + sci(logUniform(1e11, 1e16), 0, 4) + "\n";
  s += "set layer1.mun " + sci(logUniform(10.0, 500.0), 0, 4) + "\n";
  s += "set layer1.mup " + sci(logUniform(1.0, 100.0), 0, 4) + "\n";
  s += "set layer1.Eg " + fix(v.Eg, 0, 4) + "\n";
  s += "set layer2.chi " + fix(chi2 + uniform(-0.3, 0.3), 0, 4) + "\n";
  s += "set contact.left.work " + fix(chi1 + v.Eg - barrier, 0, 4) + "\n";
  s += "set contact.left.sn " + sci(logUniform(1e2, 1e7), 0, 4) + "\n";
  s += "calculate single\n";
  v.script = s;
  return v;
}

TEST(Robustness, EveryRunEndsWithASoundCurveOrALoudFailure) {
  const int first = EnvInt("ZONIQ_ROBUSTNESS_FIRST", 0);
  const int runs = EnvInt("ZONIQ_ROBUSTNESS_RUNS", 4);
  int loud = 0, complete = 0;
  for (int k = first; k < first + runs; ++k) {
    const Variant v = Draw(k);
    SCOPED_TRACE("variant " + std::to_string(k) + ":\n" + v.script);
    const test::ScriptedRun run({"def/CdTe.def", "def/CIGS.def", "spectrum/AM1_5G 1 sun.spe"}, v.script);
    ASSERT_EQ(run.result, 0);
    const auto& popups = run.Popups();
    const bool failed = run.Loud();

    const SimulationRecord* r = run.session.CurrentRecord();
    const bool done = r && r->iv.present && r->iv.pointsDone == r->iv.points;
    if (!done) {
      // An incomplete curve is a failure, and it must have been said.
      EXPECT_TRUE(failed) << "incomplete curve without a convergence-failure message";
      ++loud;
      std::string first;
      for (const auto& p : popups)
        if (p.message.find("onvergence failure") != std::string::npos) {
          first = p.title + ": " + p.message;
          break;
        }
      std::printf("variant %d failed loudly (%s)\n%s", k, first.c_str(), v.script.c_str());
      continue;
    }
    ++complete;
    const IVResult& iv = r->iv;
    const CellParameters& p = r->cell;
    // The generated current of the cell, q∫G dx: no more can be collected.
    const CurrentBalance b = BalanceOfCurrents(run.session.currentCalcVars, run.session.currentCalcVars.work.currents);
    ASSERT_GT(b.generation, 0.0);
    if (p.jscValid) {
      EXPECT_LE(p.Jsc, b.generation * (1.0 + 1e-6));
    }
    if (p.vocValid) {
      EXPECT_LT(p.Voc, v.Eg);
    }
    // J(V) rises up to Voc (the photocurrent can only be lost faster at higher forward bias);
    // a small tolerance for the termination of the solver.
    const double tol = 1e-3 * std::max(1.0, std::fabs(iv.j.front()));
    for (int i = 0; i + 1 < iv.pointsDone; ++i) {
      if (p.vocValid && iv.v[i + 1] > p.Voc) break;
      EXPECT_GE(iv.j[i + 1], iv.j[i] - tol) << "at V = " << iv.v[i];
    }
    // Current continuity, from the record alone: what flows out is what the light generates
    // minus what recombines in the bulk, at the interfaces and at the contacts.
    for (int i = 0; i < iv.pointsDone; ++i) {
      const double parts = iv.jbulk[i] + iv.jifr[i] + iv.js_n[i] + iv.js_p[i] - b.generation;
      const double scale = std::max({std::fabs(iv.j[i]), b.generation, std::fabs(iv.jbulk[i])});
      EXPECT_LE(std::fabs(iv.j[i] - parts), 3e-3 * scale) << "at V = " << iv.v[i];
    }
    // Recovered points are marked; failed ones never appear in a complete curve.
    for (int i = 0; i < iv.pointsDone; ++i) EXPECT_GE(iv.state[i], 0);
  }
  std::printf("robustness: %d variants, %d complete, %d loud failures (%.1f %%)\n", runs, complete, loud,
              runs > 0 ? 100.0 * loud / runs : 0.0);
}

}  // namespace
}  // namespace zoniq
