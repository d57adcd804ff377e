// The interpreter: lines, comments, command words, loops, nested scripts, the error-message
// mode, and the commands that need no simulation (set, get of settings, action, clear, plot,
// show, save scriptvar, rundll, runsystem).
#include "script/script_interpreter.hpp"

#include <cmath>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "celldef/parameter_catalogue.hpp"
#include "script/script_commands.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::WriteWholeFile;
using V = std::vector<double>;

// A session on a program folder of its own, with the shipped example cell, spectrum and action
// list copied in; messages are recorded.
class ScriptRunTest : public ::testing::Test {
 protected:
  ScriptRunTest() : session(dir.path().string(), std::make_unique<RecordingUserInterface>()) {
    for (const char* sub : {"script", "results", "def", "spectrum", "generation"})
      fs::create_directories(dir.path() / sub);
    Initialise(session);
    session.errors.logFolder = dir.path().string();
    session.scriptShowOutput = &shown;
  }
  RecordingUserInterface& ui() { return static_cast<RecordingUserInterface&>(*session.ui); }
  void CopyFromHome(const std::string& sub, const std::string& name) {
    fs::copy_file(fs::path(test::HomeFolder()) / sub / name, dir.path() / sub / name);
  }
  int Run(const std::string& text, const std::string& name = "test.script") {
    WriteWholeFile(dir.file("script/" + name), text);
    ScriptContext ctx = MakeScriptContext(session);
    int running = 1;
    return RunScriptFile(ctx, name, running);
  }
  std::size_t Messages() { return ui().popups.size(); }
  const RecordingUserInterface::Popup& Last() { return ui().popups.back(); }
  bool Said(const std::string& part) {
    for (const auto& p : ui().popups)
      if (p.title.find(part) != std::string::npos || p.message.find(part) != std::string::npos) return true;
    return false;
  }
  ScriptVariables& vars() { return session.theScript; }

  test::TempDir dir;
  Session session;
  std::ostringstream shown;
};

// ---- lines ----

TEST_F(ScriptRunTest, LongLinesAreCutAt119Characters) {
  // 25 characters of command, then 175 letters: 94 of them fit in 119 characters; the rest of
  // the physical line is dropped, not read as another command.
  const std::string line = "set scriptvariable.xname " + std::string(175, 'A');
  ASSERT_EQ(Run(line + "\r\nfrobnicate now\r\nset scriptvariable.yvalue 1\r\n"), 0);
  EXPECT_EQ(vars().name[0], std::string(94, 'A'));
  EXPECT_EQ(vars().value[1], 1.0);  // CRLF lines; an unknown command is reported and the script goes on
  EXPECT_EQ(Messages(), 1u);
}

TEST_F(ScriptRunTest, AMissingScriptOrAStoppedRunRunsNothing) {
  ScriptContext ctx = MakeScriptContext(session);
  int running = 1;
  std::string full;
  EXPECT_EQ(RunScriptFile(ctx, "nothere.script", running, &full), -1);
  EXPECT_EQ(full, (dir.path() / "script" / "nothere.script").string());
  EXPECT_EQ(RunScriptFile(ctx, dir.path().string(), running), -1);  // a folder is no script
  EXPECT_EQ(Messages(), 0u);
  WriteWholeFile(dir.file("script/b.script"), "math increment mode\n");
  running = 0;
  EXPECT_EQ(RunScriptFile(ctx, "b.script", running), 0);
  EXPECT_EQ(vars().mode, 0);
  // The run button needs a loaded script; it sets the run going and says which script runs.
  EXPECT_EQ(ExecuteScript(ctx, "", running), -1);
  EXPECT_EQ(Messages(), 1u);
  EXPECT_EQ(ExecuteScript(ctx, "b.script", running), 0);
  EXPECT_EQ(std::make_tuple(running, vars().mode), std::make_tuple(1, 1));
  ASSERT_GE(ui().status.size(), 2u);
  EXPECT_EQ(ui().status[ui().status.size() - 2], "Executing a script\nfile: " + dir.file("script/b.script"));
  EXPECT_EQ(ui().status.back(), "");
}

// ---- loops ----

TEST_F(ScriptRunTest, LoopsRunUntilLooperrorIsSmallOrMaxiterationPasses) {
  ASSERT_EQ(Run("LOOP START\nmath increment mode\nLoop Stop\n"), 0);
  EXPECT_EQ(std::make_tuple(vars().mode, vars().loopcounter), std::make_tuple(25, 24));  // counter 0 … 24
  ASSERT_EQ(Run("loop maxiteration 3.9\nset scriptvariable.mode 0\nloop startnow\nmath increment mode\nloop stop\n"),
            0);
  EXPECT_EQ(std::make_tuple(vars().maxiteration, vars().mode), std::make_tuple(3, 3));
  // looperror = 0.5^k after pass k; 0.5^10 = 9.8e-4 is the first below 1e-3; the line after
  // the loop runs once.
  ASSERT_EQ(Run("loop maxiteration 25\nset scriptvariable.mode 0\nset scriptvariable.xvalue 1\n"
                "set scriptvariable.yvalue 0.5\nloop start\nmath increment mode\nmath scalarmultiply xxy\n"
                "set scriptvariable.looperror xvalue\nloop stop\nmath increment status\n"),
            0);
  EXPECT_EQ(std::make_tuple(vars().mode, vars().status, Messages()), std::make_tuple(10, 1, std::size_t{0}));
  ASSERT_EQ(Run("loop maxerror 0.3\nset scriptvariable.looperror 0.2\nloop start\nmath increment index\nloop stop\n"),
            0);
  EXPECT_EQ(vars().maxerror, 0.3);
  ASSERT_EQ(Run("loop again\n"), 0);
  EXPECT_EQ(Last().title, "Error in Set loop command");
  EXPECT_EQ(Last().message, "Argument of loop command not recognised\nCommand line = loop again");
}

TEST_F(ScriptRunTest, NestedScriptsKeepTheOuterLoopAndRunawaysStop) {
  WriteWholeFile(dir.file("script/inner.script"),
                 "loop maxiteration 2\nloop maxerror 0.5\nloop start\nmath increment status\nloop stop\n");
  ASSERT_EQ(Run("loop maxiteration 3\nloop start\nrunscript inner.script\nmath increment mode\nloop stop\n"), 0);
  // 3 outer passes of 2 inner passes; the outer loop's settings stay.
  EXPECT_EQ(std::make_tuple(vars().mode, vars().status, vars().maxiteration, vars().maxerror, vars().loopcounter),
            std::make_tuple(3, 6, 3, 0.001, 2));
  ASSERT_EQ(Run("run script inner.script\n"), 0);
  EXPECT_EQ(std::make_tuple(vars().status, Messages()), std::make_tuple(8, std::size_t{0}));
  ASSERT_EQ(Run("runscript missing.script\n"), 0);
  EXPECT_EQ(Last().title, "Error whilst processing runscript command in script");
  // A script that runs itself stops at the depth limit.
  vars().mode = 0;
  ASSERT_EQ(Run("math increment mode\nrunscript self.script\n", "self.script"), 0);
  EXPECT_EQ(std::make_tuple(vars().mode, session.scriptDepth), std::make_tuple(kMaxScriptDepth, 0));
  EXPECT_TRUE(Said("nested more than"));
  // The line budget: lines 1 and 2 set the loop up, lines 3 … 10 are four passes.
  session.lineBudget = 10;
  vars().mode = 0;
  ASSERT_EQ(Run("loop maxiteration 1000000\nloop start\nmath increment mode\nloop stop\n"), 0);
  EXPECT_EQ(vars().mode, 4);
  EXPECT_TRUE(Said("more command lines than allowed"));
}

// ---- set, get and action without a simulation ----

TEST_F(ScriptRunTest, SetGetAndActionInPracticalUnits) {
  CopyFromHome("def", "CIGS.def");
  ASSERT_EQ(Run("load definition CIGS.def\nset external.Rs 2\nset external.Rsh 1000\nset internal.reflection 0.3\n"
                "action workingpoint.temperature 310\naction workingpoint.voltage 0.25\n"
                "action initialwp.workingpoint.temperature 250\naction intensity.ND 1\n"
                "get action.work.temp uvector[0]\nget action.work.kT uvector[1]\nget action.work.V uvector[2]\n"
                "get action.work.intensity.T uvector[-1]\nget action.initialw.T yvalue\nget ext.Rs uvalue\n"
                "get int.R vvalue\nget int.T wvalue\nget numberoflayers xindex\nget celllength xvalue\n"),
            0);
  EXPECT_EQ(Messages(), 0u) << Last().message;
  EXPECT_DOUBLE_EQ(session.wp.Rs, 2e-4);   // 2 Ohm cm2 in Ohm m2
  EXPECT_DOUBLE_EQ(session.wp.Gsh, 10.0);  // 1/(1000 Ohm cm2) = 1e-3 S/cm2 = 10 S/m2
  EXPECT_DOUBLE_EQ(session.definitionExtras.workPoint.Tfront, 0.7);
  const V& u = vars().vector[3];
  ASSERT_EQ(u.size(), 4u);  // three set, one appended
  EXPECT_EQ(u[0], 310.0);
  EXPECT_NEAR(u[1], 8.617333262e-5 * 310.0, 1e-15);  // kT [eV]
  EXPECT_EQ(u[2], 0.25);
  EXPECT_NEAR(u[3], 10.0, 1e-12);  // ND 1 lets 10 % through
  EXPECT_EQ(vars().value[1], 250.0);
  EXPECT_NEAR(vars().value[3], 2.0, 1e-12);  // Ohm cm2 back from Ohm m2
  EXPECT_EQ(vars().value[4], 0.3);
  EXPECT_DOUBLE_EQ(vars().value[5], 0.7);
  EXPECT_EQ(vars().index[0], 3);                          // ZnO / CdS / CIGS
  EXPECT_NEAR(vars().value[0], 3.0 + 0.05 + 0.2, 1e-12);  // thicknesses of the example [µm]
  ASSERT_EQ(Run("set internal.transmission 0\n"), 0);
  EXPECT_EQ(session.definitionExtras.workPoint.Rfront, 1.0);

  // Actions: temperatures from kT, the cut-off window put in order, intensities as neutral densities,
  // sweeps counted from increments.
  ASSERT_EQ(Run("action workingpoint.kT 0.025852\naction light\naction spectrumcutoff.on\n"
                "action spectrumcutoff.shortlambda 400\naction spectrumcutoff.longlambda 300\n"
                "action intensity.T 50\naction iv.startV 0\naction iv.stopV 1\naction iv.increment 0.1\n"
                "action cv.points 4\naction cf.startf 100\naction cf.stopf 1e6\naction cf.points per decade 5\n"
                "action qe.startlambda 400\naction qe.stoplambda 800\naction qe.increment 20\n"),
            0);
  EXPECT_EQ(Messages(), 0u) << Last().message;
  const WorkPoint& wp = session.wp;
  EXPECT_NEAR(wp.temperature, 0.025852 / 8.617333262e-5, 1e-9);  // 300.0 K
  EXPECT_EQ(std::make_tuple(wp.dark, wp.spectrumCutOff, wp.shortWavelengthCutOff, wp.longWavelengthCutOff),
            std::make_tuple(0, 1, 300.0, 400.0));          // the window is put in order
  EXPECT_NEAR(wp.neutralDensity, std::log10(2.0), 1e-15);  // 50 % = 10^-0.301
  const MeasurementActions& a = session.actie;
  // 0 … 1 V in 0.1 V steps, 4 decades at 5 per decade, 400 … 800 nm in 20 nm steps.
  EXPECT_EQ((std::array<int, 4>{a.iv.points, a.cv.points, a.cf.points, a.qe.points}),
            (std::array<int, 4>{11, 4, 21, 21}));
  EXPECT_NEAR(session.actieExtras.ivIncrement, 0.1, 1e-15);

  ASSERT_EQ(Run("action cf.total points 9\naction initialwp.workingpoint.voltage 0.4\naction dark\n"), 0);
  EXPECT_DOUBLE_EQ(session.actieExtras.cfPointsPerDecade, 2.0);  // 8 intervals over 4 decades
  EXPECT_EQ(std::make_tuple(session.actie.cf.points, session.secondwp.voltage, session.wp.dark),
            std::make_tuple(9, 0.4, 1));
}

TEST_F(ScriptRunTest, RefusedSetGetAndActionLinesEachSayItAndChangeNothing) {
  const WorkPoint wp = session.wp;
  const ScriptVariables before = vars();
  const char* lines[] = {"set external.Gsh -1", "set internal.transmission 1.5", "set scriptvariable.xvector[7] 1",
                         "set scriptvariable.banana 1", "set scriptvariable.xbanana 1", "set scriptvariable.xvalue abc",
                         "set frobnicate 1", "set errorhandling.sideways", "set illumination.fromabove",
                         // Nothing recorded, calculated or measured yet.
                         "get action.work.banana xvalue", "get characteristics.voc xvalue", "get iv xy", "get eb.EC xy",
                         "get frobnicate xvalue", "get recombination.banana xy", "get layer1.leftindex xvalue",
                         "get recorder xy", "get meas.iv xy", "get cv xy", "action workingpoint.temperature -5",
                         "action workingpoint.frequency 0", "action workingpoint.numberofpoints 1",
                         "action qe.startlambda -400", "action banana 1",
                         // Missing files are replaced: the standard spectrum, the generation computed.
                         "action spectrumfile nothere.spe", "action generationfile nothere.gen"};
  std::string script;
  for (const char* line : lines) script += std::string(line) + "\n";
  ASSERT_EQ(Run(script), 0);
  ASSERT_EQ(Messages(), std::size(lines));
  EXPECT_EQ(ui().popups[8].message, "Script command: set illumination.fromabove\nillumination variable not recognised");
  EXPECT_EQ(ui().popups[17].message, "No IV measurement was selected\niv measurement not defined; nothing returned");
  EXPECT_EQ(vars().vector, before.vector);
  EXPECT_EQ(vars().value, before.value);
  EXPECT_EQ((std::vector<double>{session.wp.Gsh, double(session.wp.illuminatedFromRight), session.wp.temperature,
                                 session.wp.frequency, double(session.wp.numberOfSteps)}),
            (std::vector<double>{wp.Gsh, double(wp.illuminatedFromRight), wp.temperature, wp.frequency,
                                 double(wp.numberOfSteps)}));
  EXPECT_EQ(session.wp.spectrumFile, (dir.path() / "spectrum" / "AM1_5G 1 sun.spe").string());
  EXPECT_EQ(session.wp.generationFromFile, 0);
}

// ---- clear, plot, show, save scriptvar ----

TEST_F(ScriptRunTest, EveryListedNumericalSettingIsSetAndGotBackAndUnknownNamesAreRefused) {
  // The names as --list-parameters prints them, each set to the top of its range (the limits
  // themselves are checked with the settings).
  std::istringstream list(ListParametersText());
  int listed = 0;
  for (std::string line; std::getline(list, line);) {
    if (!line.starts_with("numerical.")) continue;
    const std::string name = line.substr(0, line.find('\t'));
    const NumericalSetting* s = FindNumericalSetting(name.substr(10));
    ASSERT_NE(s, nullptr) << name;
    ++listed;
    ASSERT_EQ(Run("set " + name + " " + std::to_string(s->hi) + "\nget " + name + " xvalue\n"), 0) << name;
    EXPECT_EQ(Messages(), 0u) << name;
    EXPECT_EQ(std::make_pair(vars().value[0], s->get(session.parameterset1.convergence)), std::make_pair(s->hi, s->hi));
  }
  EXPECT_EQ(listed, static_cast<int>(NumericalSettings().size()));
  const ConvergenceParameters before = session.parameterset1.convergence;
  ASSERT_EQ(Run("set numerical.recoverylog 3\nset numerical.recoverylogs 1\nset numerical.recoverylog.x 1\n"
                "get numerical.banana xvalue\n"),
            0);
  EXPECT_EQ(Messages(), 4u);
  EXPECT_EQ(session.parameterset1.convergence, before);
}

TEST_F(ScriptRunTest, SavedScriptVariablesFileByHand) {
  ASSERT_EQ(Run("math filllinear x 0 1 3\nmath fillconstant y 2 2\nplot draw xx\nplot drawversusindex y\n"
                "save scriptvar out\n"),
            0);
  EXPECT_EQ(Messages(), 0u);
  const std::string rows =
      "  0.00000000e+00\t  0.00000000e+00\t  0.00000000e+00\t  2.00000000e+00\t\n"
      "  5.00000000e-01\t  5.00000000e-01\t  1.00000000e+00\t  2.00000000e+00\t\n"
      "  1.00000000e+00\t  1.00000000e+00\t\t\t\n";
  EXPECT_EQ(ScriptResultsText(session, DateTime{2, 3, 2024, 4, 5, 6}),
            "xvector\txvector\tindex\tyvector\t\nData saved: \t02-03-2024 at 04:05:06\n" + rows);
  const std::string file = ReadWholeFile(dir.file("results/out.xls"));  // the default extension
  EXPECT_EQ(file.substr(0, 29), "xvector\txvector\tindex\tyvector");
  EXPECT_EQ(file.substr(file.size() - rows.size()), rows);

  // Vectors changed after plotting: the file warns that it shows the plotted copies.
  ASSERT_EQ(Run("math fillconstant x 7 3\n"), 0);
  EXPECT_NE(
      ScriptResultsText(session, DateTime{})
          .find("Warning: it is possible that data shown here have already been removed from the script memory!\n"),
      std::string::npos);

  ASSERT_EQ(Run("plot clear\nsave scriptvar out2\nplot draw xy\nplot drawsomething q\nplot frobnicate\n"), 0);
  ASSERT_EQ(Messages(), 4u);
  EXPECT_EQ(ui().popups[0].message, "No script variable plotted: nothing to save or to show !");
  EXPECT_FALSE(fs::exists(dir.file("results/out2.xls")));

  // Without a name, the default file name; nothing calculated: the I-V picture is an empty
  // plot with its note; this program folder has no "bdf" folder for the batch settings.
  vars().defaultfilename = "mydefault";
  ASSERT_EQ(Run("plot drawversusindex x\nsave scriptvar\nsave nonsense out\nsave graph.iv.whole pic\n"
                "save setting.batch b\n"),
            0);
  EXPECT_TRUE(fs::exists(dir.file("results/mydefault.xls")));
  EXPECT_TRUE(fs::exists(dir.file("results/pic.png")));
  ASSERT_EQ(Messages(), 6u);
  EXPECT_EQ(Last().message, "The batch settings file cannot be written: " + dir.file("bdf/b.sbf"));
}

// ---- with simulations ----

// The example cell under AM1.5G with the example action list (I-V from -0.2 V to 0.8 V in 41
// points), simulated once by the script; its results read, saved, and cleared.
TEST_F(ScriptRunTest, ASimulationReadSavedAndCleared) {
  CopyFromHome("def", "CIGS.def");
  CopyFromHome("def", "CIGS.act");
  CopyFromHome("spectrum", "AM1_5G 1 sun.spe");
  ASSERT_EQ(Run("load definition CIGS.def\nload action CIGS.act\ncalculate single\n"), 0);
  ASSERT_EQ(Messages(), 0u) << Last().title << ": " << Last().message;
  ASSERT_EQ(session.simulaties.size(), 1u);
  ScriptVariables& s = vars();

  ASSERT_EQ(Run("get eb.EC xy\nget eb.EV zu\nget recombination.tot vw\nget layer1.rightx yvalue\n"
                "get layer3.rightx zvalue\n"),
            0);
  ASSERT_EQ(Messages(), 0u) << Last().message;
  ASSERT_EQ(s.vector[0], s.vector[2]);  // the same positions
  EXPECT_EQ(s.name[0], "x (um)");
  // The first point lies in the CIGS layer: Ec - Ev is its band gap, 1.15 eV.
  EXPECT_NEAR(s.vector[1][0] - s.vector[3][0], 1.15, 1e-9);
  EXPECT_EQ(s.n[4], 41);                // the recombination current against the 41 I-V voltages
  EXPECT_NEAR(s.value[1], 3.0, 1e-9);   // CIGS thickness [µm]
  EXPECT_NEAR(s.value[2], 3.25, 1e-9);  // the whole stack [µm]
  ASSERT_EQ(Run("get layer4.leftx xvalue\n"), 0);
  EXPECT_EQ(Last().message, "In this problem there are 3 layers; layer 4 is not defined");
  ui().popups.clear();
  // Result files begin with the script's header.
  ASSERT_EQ(Run("save result.iv cigs\nsave result.graded overview\n", "saving.script"), 0);
  ASSERT_EQ(Messages(), 0u) << Last().message;
  const std::string iv = ReadWholeFile(dir.file("results/cigs.iv"));
  const std::string head =
      "ZONIQ output generated by a script\nfilename\t" + dir.file("script/saving.script") + "\nscript file date\t";
  EXPECT_EQ(iv.substr(0, head.size()), head);
  EXPECT_NE(iv.find("\nscript command\tsave result.iv cigs\n"), std::string::npos);
  EXPECT_NE(iv.find("\n" + session.VERSION + "\n"), std::string::npos);
  EXPECT_NE(iv.find("Simulation of I-V curves"), std::string::npos);
  // The overview of graded variables (its rows: the recorder's tests).
  EXPECT_EQ(ReadWholeFile(dir.file("results/overview.xls")).rfind("Overview of graded variables\n", 0), 0u);
  ui().popups.clear();
  ASSERT_EQ(Run("save result.cv cigs\nsave result.record cigs\nsave result.graded overview.csv\n"), 0);
  ASSERT_EQ(Messages(), 3u);
  EXPECT_EQ(ui().popups[1].title, "Error in writing recorder results from a script");
  EXPECT_EQ(ui().popups[1].message, "No recorder results available");
  EXPECT_NE(Last().message.find("in its own layout only"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.file("results/overview.csv")));

  // A dark run has no Voc; a batch run without batch settings is refused; clearing the
  // simulations keeps the script's variables and graph.
  ui().popups.clear();
  ASSERT_EQ(Run("action dark\ncalculate again\nget characteristics.voc xvalue\n"), 0);
  EXPECT_EQ(session.simulaties.size(), 2u);
  EXPECT_EQ(Messages(), 1u);
  EXPECT_EQ(s.value[0], 0.0);
  ASSERT_EQ(Run("calculate batchrun\n"), 0);
  EXPECT_EQ(Messages(), 2u);
  EXPECT_EQ(session.simulaties.size(), 2u);
  s.value[1] = 5.0;
  ASSERT_EQ(Run("plot drawversusindex x\nclear simulations\nget iv xy\nsave result.graded again\n"), 0);
  EXPECT_TRUE(session.simulaties.empty());
  EXPECT_EQ(ui().popups[2].message, "No calculations are made yet\nasked information not defined; nothing returned");
  EXPECT_EQ(Last().message, "No calculation made yet: nothing to save or show");
  EXPECT_FALSE(fs::exists(dir.file("results/again.xls")));
  EXPECT_EQ(s.value[1], 5.0);
  EXPECT_EQ(session.scriptPlots.size(), 1u);
}

TEST_F(ScriptRunTest, LoadSpectrumAndGenerationFiles) {
  WriteWholeFile(dir.file("spectrum/lamp.spe"), "400\t1\n500\t2\n");
  WriteWholeFile(dir.file("generation/g.gen"), "0\t1e20\n1\t1e20\n");
  ASSERT_EQ(Run("load spectrum lamp.spe\nload generation g.gen\n"), 0);
  EXPECT_EQ(Messages(), 0u);
  EXPECT_EQ(session.wp.generationFile, dir.file("generation/g.gen"));
  EXPECT_EQ(session.wp.generationFromFile, 1);
  // A missing file keeps the one before.
  ASSERT_EQ(Run("load spectrum nothere.spe\nrun elsewhere\n"), 0);
  ASSERT_EQ(Messages(), 2u);
  EXPECT_EQ(session.wp.spectrumFile, dir.file("spectrum/lamp.spe"));
}

// ---- outside programs ----

TEST_F(ScriptRunTest, RunsystemRunsTheCommand) {
  const std::string a = dir.file("made_by_runsystem"), b = dir.file("made_by_run_system");
  ASSERT_EQ(Run("runsystem touch '" + a + "'\nrun system touch '" + b + "'\nrunsystem exit 3\n"), 0);
  EXPECT_TRUE(fs::exists(a));
  EXPECT_TRUE(fs::exists(b));
  ASSERT_EQ(Messages(), 1u);
  session.allowSystemCommands = false;
  fs::remove(a);
  ASSERT_EQ(Run("runsystem touch '" + a + "'\n"), 0);
  EXPECT_FALSE(fs::exists(a));
  EXPECT_EQ(Messages(), 2u);
}

TEST_F(ScriptRunTest, RundllPassesTheDocumentedArguments) {
  session.userFunctionLibraryPath = dir.file("libnothere.so");
  vars().status = 9;
  ASSERT_EQ(Run("rundll\n"), 0);
  EXPECT_EQ(vars().status, 0);  // no library: zero stored
  ASSERT_EQ(Messages(), 1u);
  EXPECT_EQ(Last().title, "Error whilst processing rundll command in script");
  EXPECT_NE(Last().message.find(dir.file("libnothere.so")), std::string::npos);
#ifdef ZONIQ_TEST_USER_FUNCTION
  // The test library returns 100*mode + n[x] + 10*n[w], sets xvalue = yvalue + vector z[0],
  // doubles every element of the w vector, sets looperror = 0.5 and the file name "fromdll".
  session.userFunctionLibraryPath = ZONIQ_TEST_USER_FUNCTION;
  ASSERT_EQ(Run("set scriptvariable.mode 2\nset scriptvariable.yvalue 1.25\nset scriptvariable.zvector[0] 3\n"
                "math filllinear w 1 4 4\nrun dll\n"),
            0);
  EXPECT_EQ(Messages(), 1u) << Last().message;
  EXPECT_EQ(vars().status, 200 + 3 + 40);
  EXPECT_EQ(vars().value[0], 4.25);
  EXPECT_EQ(vars().vector[5], (V{2, 4, 6, 8}));
  EXPECT_EQ(vars().looperror, 0.5);
  EXPECT_EQ(vars().defaultfilename, "fromdll");
#endif
}

}  // namespace
}  // namespace zoniq
