// The shipped admittance-spectroscopy example end to end (definition file, C-f sweep, analysis,
// .as file), and the script's admittance settings refusing what the analysis cannot use.
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

TEST(AdmittanceScript, ShippedExampleFindsTheTrapAtOneTemperatureAndByArrhenius) {
  test::TempDir dir;
  Session session(dir.path().string(), std::make_unique<RecordingUserInterface>());
  for (const char* sub : {"def", "script", "results"}) fs::create_directories(dir.path() / sub);
  fs::copy_file(test::HomeFolder() + "/def/CIGS_deeptrap.def", dir.file("def/CIGS_deeptrap.def"));
  // The example (without its closing "show"), then refusals: a formula that does not exist, a
  // zero frequency, a CSV file.
  std::string example = test::ReadWholeFile(test::HomeFolder() + "/script/admittance_spectroscopy.script");
  example.erase(example.rfind("show"));
  test::WriteWholeFile(dir.file("script/s.script"), "load definition CIGS_deeptrap.def\n" + example +
                                                        "set admittance.fromcell 1 3 1 1\n"
                                                        "set admittance.formula 4\n"
                                                        "set admittance.fref 0\n"
                                                        "set admittance.xi0 2e7\n"
                                                        "save result.as copy.csv\n");
  Initialise(session);
  session.errors.logFolder = dir.path().string();
  ScriptContext ctx = MakeScriptContext(session);
  int running = 1;
  ASSERT_EQ(RunScriptFile(ctx, "s.script", running), 0);
  // The trap lies 0.35 eV above EV: the peak of −ω·dC/dω at 300 K, and the Arrhenius analysis
  // of the peaks at 240, 300 and 360 K, within 10 meV.
  EXPECT_NEAR(session.theScript.value[0], 0.35, 0.01);
  EXPECT_NEAR(session.theScript.value[1], 0.35, 0.01);
  const std::string as = test::ReadWholeFile(dir.file("results/CIGS_deeptrap.as"));
  EXPECT_NE(as.find("Attempt to escape frequency (Hz):\t   1.80000000e+11\n"), std::string::npos);
  EXPECT_EQ(as.find("nan"), std::string::npos);
  EXPECT_EQ(as.find("inf"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.file("results/copy.csv")));
  const AdmittanceSettings& s = session.admittanceSettings;
  EXPECT_EQ(s.formula, kNtFormula2);
  EXPECT_EQ(s.fref, 1e7);
  EXPECT_EQ(s.nu0, 9e11);  // ξ0·45000
  // From the cell: Vd = χp + Egp − χn + kT·ln(NA·ND/(NV,p·NC,n)) = 1.2 + 0.0259·ln(2e22·1e23/
  // (1.8e25·2.2e24)) at 300 K (CIGS against CdS).
  EXPECT_EQ(s.vdFromRatio, 1);
  EXPECT_NEAR(DiffusionVoltageAt(s, 300.0), 1.2 + 0.0259 * std::log(2e45 / 3.96e49), 1e-9);
  const auto& popups = static_cast<RecordingUserInterface&>(*session.ui).popups;
  ASSERT_EQ(popups.size(), 4u);
  EXPECT_NE(popups[0].message.find("Layer 1 has no defect 3"), std::string::npos);
  EXPECT_NE(popups[1].message.find("formula takes a whole number from 0 to 3"), std::string::npos);
  EXPECT_NE(popups[2].message.find("Value not recognised as a positive number"), std::string::npos);
  EXPECT_NE(popups[3].message.find("in its own layout only"), std::string::npos);
}

}  // namespace
}  // namespace zoniq
