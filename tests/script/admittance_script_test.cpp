// Admittance spectroscopy from scripts: the shipped example end to end (definition file, C-f
// sweep, analysis, .as file) with the settings refusing what the analysis cannot use, and a
// simulated sweep saved and read back as a measurement, which must give the simulated peak.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "measure/admittance_analysis.hpp"
#include "script/script_interpreter.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;

// A session on a program folder of its own with the deep-trap example cell; the script ("@"
// stands for the results folder) runs.
struct DeepTrapRun {
  explicit DeepTrapRun(std::string script) {
    for (std::size_t at; (at = script.find('@')) != std::string::npos;) script.replace(at, 1, dir.file("results"));
    for (const char* sub : {"def", "script", "results", "measurements"}) fs::create_directories(dir.path() / sub);
    fs::copy_file(test::HomeFolder() + "/def/CIGS_deeptrap.def", dir.file("def/CIGS_deeptrap.def"));
    test::WriteWholeFile(dir.file("script/s.script"), "load definition CIGS_deeptrap.def\n" + script);
    Initialise(session);
    session.errors.logFolder = dir.path().string();
    ScriptContext ctx = MakeScriptContext(session);
    int running = 1;
    status = RunScriptFile(ctx, "s.script", running);
  }
  const std::vector<RecordingUserInterface::Popup>& popups() const {
    return static_cast<RecordingUserInterface&>(*session.ui).popups;
  }
  test::TempDir dir;
  Session session{dir.path().string(), std::make_unique<RecordingUserInterface>()};
  int status = -1;
};

TEST(AdmittanceScript, ShippedExampleFindsTheTrapAtOneTemperatureAndByArrhenius) {
  // The example (without its closing "show"), then refusals: a defect the layer does not have, a
  // formula that does not exist, a zero frequency, a CSV file.
  std::string example = test::ReadWholeFile(test::HomeFolder() + "/script/admittance_spectroscopy.script");
  example.erase(example.rfind("show"));
  DeepTrapRun run(example +
                  "set admittance.fromcell 1 3 1 1\nset admittance.formula 4\nset admittance.fref 0\n"
                  "set admittance.xi0 2e7\nsave result.as copy.csv\n");
  const Session& session = run.session;
  ASSERT_EQ(run.status, 0);
  // The trap lies 0.35 eV above EV: the peak of −ω·dC/dω at 300 K, and the Arrhenius analysis
  // of the peaks at 240, 300 and 360 K, within 10 meV.
  EXPECT_NEAR(session.theScript.value[0], 0.35, 0.01);
  EXPECT_NEAR(session.theScript.value[1], 0.35, 0.01);
  const std::string as = test::ReadWholeFile(run.dir.file("results/CIGS_deeptrap.as"));
  EXPECT_NE(as.find("Attempt to escape frequency (Hz):\t   1.80000000e+11\n"), std::string::npos);
  EXPECT_EQ(as.find("nan"), std::string::npos);
  EXPECT_EQ(as.find("inf"), std::string::npos);
  EXPECT_FALSE(fs::exists(run.dir.file("results/copy.csv")));
  const AdmittanceSettings& s = session.admittanceSettings;
  EXPECT_EQ(s.formula, kNtFormula2);
  EXPECT_EQ(s.fref, 1e7);
  EXPECT_EQ(s.nu0, 9e11);  // ξ0·45000
  // From the cell: Vd = χp + Egp − χn + kT·ln(NA·ND/(NV,p·NC,n)) = 1.2 + 0.0259·ln(2e22·1e23/
  // (1.8e25·2.2e24)) at 300 K (CIGS against CdS).
  EXPECT_EQ(s.vdFromRatio, 1);
  EXPECT_NEAR(DiffusionVoltageAt(s, 300.0), 1.2 + 0.0259 * std::log(2e45 / 3.96e49), 1e-9);
  const auto& popups = run.popups();
  ASSERT_EQ(popups.size(), 4u);
  EXPECT_NE(popups[0].message.find("Layer 1 has no defect 3"), std::string::npos);
  EXPECT_NE(popups[1].message.find("formula takes a whole number from 0 to 3"), std::string::npos);
  EXPECT_NE(popups[2].message.find("Value not recognised as a positive number"), std::string::npos);
  EXPECT_NE(popups[3].message.find("in its own layout only"), std::string::npos);
}

TEST(MeasuredAdmittance, SavedSimulatedSweepReadBackGivesTheSimulatedPeak) {
  // The deep hole trap (0.35 eV above EV) swept at 300 K and analysed as simulated, then its C-f
  // file loaded as a measurement and analysed with the same settings; before the load, asking for
  // the measured analysis is refused.
  DeepTrapRun run(
      "action dark\naction workingpoint.voltage 0\naction workingpoint.temperature 300\naction iv.doiv 0\n"
      "action cf.startf 1e1\naction cf.stopf 1e7\naction cf.total points 61\naction cf.docf 1\ncalculate single\n"
      "set admittance.fromcell 2 2 1 1\nset admittance.fref 1e7\nset admittance.formula 2\n"
      "get meas.admittance.peak zvalue\nsave result.cf sweep.cf\nload measurement.cf @/sweep.cf\n"
      "get admittance.peak xvalue\nget meas.admittance.peak yvalue\nget meas.admittance uw\n"
      "save graph.as.whole as.svg\n");
  const ScriptVariables& v = run.session.theScript;
  EXPECT_NEAR(v.value[0], 0.35, 0.01);
  // The file holds 9 significant digits: the same peak to well within 1 meV.
  EXPECT_NEAR(v.value[1], v.value[0], 1e-3);
  // The graph: Nt against Et of the 61 points, finite; the panel of both analyses a picture.
  ASSERT_EQ(v.n[3], 61);
  for (int i = 0; i < 61; ++i) EXPECT_TRUE(std::isfinite(v.vector[3][i]) && std::isfinite(v.vector[5][i])) << i;
  EXPECT_EQ(v.name[3], "meas. Et (eV)");
  EXPECT_NE(test::ReadWholeFile(run.dir.file("results/as.svg")).find("<svg"), std::string::npos);
  ASSERT_GE(run.popups().size(), 1u);
  EXPECT_NE(run.popups()[0].message.find("No Cf measurement was selected"), std::string::npos);
}

}  // namespace
}  // namespace zoniq
