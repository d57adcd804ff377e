// The program frame and its users: command-line parsing, folder resolution, the error log and
// whole runs with their exit statuses; everyday mistakes and hostile files, each refused loudly
// with the file, the line and a hint, never an empty or wrong result with exit status 0; where
// result files go, the CSV results (read back with a strict CSV parser) and the run summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/program_folder.hpp"
#include "app/run_summary.hpp"
#include "app/session.hpp"
#include "celldef/data_files.hpp"
#include "celldef/definition_file.hpp"
#include "common/call_counts.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"
#include "program_run.hpp"
#include "settings/settings_files.hpp"
#include "test_util.hpp"
#include "ui/error_message.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::TempDir;

StartupFiles Parse(const std::vector<std::string>& words) {
  std::string line;
  std::size_t dropped = 0;
  EXPECT_TRUE(JoinCommandLine(words, line, dropped));
  return ParseCommandLine(line).files;
}

TEST(CommandLine, NamesEndAtTheirExtensionWhichSelectsTheSlotIgnoringCase) {
  // Each kind once, extensions in any case; a later file of a kind replaces an earlier one.
  EXPECT_TRUE(Parse({"notes.txt", "x.def", "cell.DEF", "run.Script", "plan.act", "start.wp2", "all.zon", "steps.batch",
                     "rec.srf", "g.gen", "sun.SPE"}) ==
              (StartupFiles{"cell.DEF", "plan.act", "start.wp2", "all.zon", "sun.SPE", "g.gen", "steps.batch",
                            "rec.srf", "run.Script"}));
  EXPECT_TRUE(Parse({"c.Definition", "a.zoniq", "b.sbf", "s.scr"}) ==
              (StartupFiles{"c.Definition", "", "", "a.zoniq", "", "", "b.sbf", "", "s.scr"}));
  // Unknown extensions fill no slot.
  EXPECT_TRUE(Parse({"a.txt", "b.de", "c.defs", "d.wp", "e.", "f.spectrumx"}) == StartupFiles{});
  // Words without an extension join the next name with a blank; a dot followed by another dot
  // before any blank, also one in a folder name, belongs to the name.
  EXPECT_EQ(Parse({"..\\my", "cell.def"}).definition, "..\\my cell.def");
  EXPECT_EQ(Parse({"/data/v1.2/my", "cell.def"}).definition, "/data/v1.2/my cell.def");
  EXPECT_EQ(Parse({"a.b.def"}).definition, "a.b.def");
  EXPECT_EQ(Parse({"a.WP2", "", "next.act"}).action, "next.act");  // "WP2   next" leaves blanks to skip
  EXPECT_TRUE(Parse({"alone", "", "x"}) == StartupFiles{});  // names without a dot are skipped

  // 255 + '.' + "def" = 259 characters: the longest name a slot holds.
  StartupFiles slots;
  EXPECT_EQ(AttributeFile(std::string(255, 'n'), "def", slots), SLOT_DEFINITION);
  EXPECT_EQ(AttributeFile(std::string(256, 'n'), "def", slots), SLOT_TOO_LONG);
  EXPECT_EQ(slots.definition.size(), 259u);
}

// The date and time of a log header replaced by fixed words, so that whole logs compare.
std::string WithoutTimes(const std::string& log) {
  static const std::regex stamp(R"(written on\t\d{2}-\d{2}-\d{4} at \d{2}:\d{2}:\d{2}\n)");
  return std::regex_replace(log, stamp, "written on\tDATE at TIME\n");
}

const std::string kHeader1 = "ZONIQ error message #1 written on\tDATE at TIME\n";
const char* const kSetupLines =
    "ZONIQ error message whilst reading set-up files \n"
    "(def, action, spectrum, generation, filter, abs, batch, recorder, script)\n";

TEST(ErrorLog, Mode0ShowsPopupsMode1AppendsMode2AndOtherModesStartAFreshLog) {
  // Three errors, one of each classification (set-up, found in any case; a failed simulation;
  // anything else); the unwritable folder loses its lines quietly.
  const std::string blocks = kHeader1 + kSetupLines +
                             "Error WHILST READING the def file\nThe def-file is empty or incomplete.\n\n"
                             "ZONIQ error message #2 written on\tDATE at TIME\n"
                             "No convergence at the working point\nV = 0.5 V\n\n"
                             "ZONIQ error message #3 written on\tDATE at TIME\n"
                             "Unsepcified ZONIQ error message\nSomething odd\nfirst line\nsecond line\n\n";
  struct Case {
    int mode;
    bool popups, keepsOld, writes, missingFolder;
    int numbered;
  };
  for (const Case& c : {Case{0, true, true, false, false, 0}, Case{1, false, true, true, false, 3},
                        Case{2, false, false, true, false, 3}, Case{7, true, false, true, false, 3},
                        Case{1, false, true, false, true, 3}}) {
    SCOPED_TRACE(testing::Message() << c.mode << (c.missingFolder ? " missing folder" : ""));
    TempDir tmp;
    const std::string log = tmp.file("ZONIQErrorLogFile.log");
    test::WriteWholeFile(log, "blocks of an earlier run\n");
    RecordingUserInterface ui;
    {
      ErrorReporting state;
      state.logFolder = c.missingFolder ? (tmp.path() / "missing" / "folder").string() : tmp.path().string();
      state.ErrorMessageMode = c.mode;
      ZONIQErrorMessage(state, ui, "Error WHILST READING the def file", "The def-file is empty or incomplete.");
      ZONIQErrorMessage(state, ui, "No convergence at the working point", "V = 0.5 V");
      ZONIQErrorMessage(state, ui, "Something odd", "first line\nsecond line");
      EXPECT_EQ(state.ErrorMessageNumber, c.numbered);
      EXPECT_FALSE(fs::exists(tmp.path() / "missing"));
    }
    ASSERT_EQ(ui.popups.size(), c.popups ? 3u : 0u);
    if (c.popups) {
      EXPECT_EQ(ui.popups[0].title, "Error WHILST READING the def file");
      EXPECT_EQ(ui.popups[2].message, "first line\nsecond line");
    }
    EXPECT_EQ(WithoutTimes(ReadWholeFile(log)),
              (c.keepsOld ? "blocks of an earlier run\n" : "") + (c.writes ? blocks : ""));
  }
}

TEST(CallCounts, MoreThan300FunctionsShareTheLastSlot) {
  CallCounter counter;
  std::vector<int> slots(305, -1);
  for (int k = 0; k < 305; ++k) counter.Count(slots[k], "f" + std::to_string(k));
  EXPECT_EQ(counter.__countId, 305);
  for (int k = 299; k < 305; ++k) EXPECT_EQ(slots[k], 299);
}

// Runs in their own current folder with their own program folder, as a user would.
class Run : public test::ProgramRun {
 protected:
  void SetUp() override {
    ProgramRun::SetUp();
    MakeFolders({"def", "spectrum", "bdf", "script", "generation"});
  }
};

TEST_F(Run, OptionsPlainRunsOverlongNamesAndFilesThatCannotBeLoaded) {
  // Nothing named: status 0, the counts written, no error log.
  EXPECT_EQ(Zoniq({}), kExitOk);
  EXPECT_TRUE(ui_.popups.empty());
  EXPECT_TRUE(OutSays("Problem: new problem\n")) << out_.str();
  EXPECT_EQ(ReadWholeFile("counts.txt"), "0 Counting the function calls in this ZONIQ session:\n");
  EXPECT_FALSE(fs::exists("ZONIQErrorLogFile.log"));
  fs::remove("counts.txt");

  EXPECT_EQ(Zoniq({"--help"}), kExitOk);
  for (const char* part : {"Usage: zoniq", "ZONIQ_HOME", "Exit status"}) EXPECT_TRUE(OutSays(part)) << part;
  EXPECT_FALSE(fs::exists("counts.txt"));
  EXPECT_EQ(Zoniq({"--frobnicate"}), kExitUsage);
  EXPECT_TRUE(ErrSays("--frobnicate"));
  EXPECT_TRUE(out_.str().empty());
  // After "--" every word belongs to a file name.
  EXPECT_EQ(Zoniq({"--", "-x.act"}), kExitNotLoaded);
  EXPECT_TRUE(PopupSays(home_ + "/def/-x.act"));

  test::WriteWholeFile(home_ + "/spectrum/my sun.spe", "300\t1.0\n400\t2.0\n");
  EXPECT_EQ(Zoniq({"my", "sun.spe"}), kExitOk);
  EXPECT_TRUE(ui_.popups.empty());
  EXPECT_TRUE(OutSays("Spectrum: " + home_ + "/spectrum/my sun.spe\n")) << out_.str();

  EXPECT_EQ(Zoniq({std::string(300, 'n') + ".def"}), kExitNotLoaded);
  EXPECT_TRUE(PopupSays("longer than 259 characters"));
  EXPECT_EQ(Zoniq({"a.txt", std::string(1400, 'n') + ".txt"}), kExitNotLoaded);
  EXPECT_TRUE(PopupSays("longer than 1300 characters"));

  // Files that cannot be loaded say so, each naming its file where it was looked for.
  fs::create_directories(home_ + "/spectrum/dir.spe");  // a folder is no spectrum
  EXPECT_EQ(Zoniq({"notes.txt", "missing", "cell.def", "a.wp2", "b.zon", "c.gen", "d.sbf", "e.srf", "f.scr", "plan.act",
                   "dir.spe", "readme"}),
            kExitNotLoaded);
  EXPECT_EQ(ui_.popups.size(), 11u);
  EXPECT_TRUE(ErrSays(home_ + "/def/missing cell.def")) << err_.str();
  for (const std::string place : {"'notes.txt'", "'readme'", "/def/a.wp2", "/def/b.zon", "/generation/c.gen",
                                  "/bdf/d.sbf", "/bdf/e.srf", "'f.scr'", "/def/plan.act", "/spectrum/dir.spe"})
    EXPECT_TRUE(PopupSays(place[0] == '/' ? home_ + place : place)) << place;
  EXPECT_TRUE(OutSays("Problem: new problem\n"));
  EXPECT_TRUE(fs::exists("counts.txt"));
}

TEST_F(Run, ErrorsAreLoggedInTheCurrentFolderAndCountsThatCannotBeWrittenAreReported) {
  // The mode is chosen after start-up (settings file or script); here through the session.
  Session session(home_, std::make_unique<test::ForwardingUserInterface>(ui_));
  Initialise(session);
  session.ErrorHandling(2);
  ProcessCommandLine(session, {"plan.act", "x.wp2"});
  EXPECT_EQ(Terminate(session), 0);
  EXPECT_EQ(session.errors.ZONIQErrorLogFileHandle, nullptr);
  EXPECT_TRUE(ui_.popups.empty());
  const std::string log = WithoutTimes(ReadWholeFile("ZONIQErrorLogFile.log"));
  EXPECT_EQ(log.rfind(kHeader1 + kSetupLines + "Error whilst reading the action file\n", 0), 0u) << log;
  ASSERT_TRUE(fs::remove("counts.txt"));
  // A folder in the way of the counts file: reported, yet the run ends normally (statistics).
  fs::create_directories("counts.txt");
  Session other(home_, std::make_unique<test::ForwardingUserInterface>(ui_));
  Initialise(other);
  EXPECT_EQ(Terminate(other), -1);
  ASSERT_EQ(ui_.popups.size(), 1u);
  EXPECT_EQ(ui_.popups[0].title, "Error whilst saving the function-call counts");
  EXPECT_EQ(Zoniq({}), kExitOk);
  EXPECT_EQ(ui_.popups.size(), 1u);
}

// A two-layer cell written by hand from the definition-file layout (SI units).
const char* const kTwoLayerCell =
    "> hand-written test cell\nconvergence\n\nmaxiter :   100\n\nback contact\n\n"
    "flatband : 1 (1: flatband contact imposed; 0: fixed Phi_m value)\n\n"
    "layer\n\nname : window\nd :  5.000e-08 [m]\nEg :\t  3.400000\t[eV]\nchi :\t  4.400000\t[eV]\n"
    "Nd(uniform) :\t 1.000000e+24\t[/m^3]\nNa(uniform) :\t 0.000000e+00\t[/m^3]\n\n"
    "interface properties\n\ninterfacename : w/a\n\ninterface recombination\n\ntype : neutral\n"
    "N :  1.000e+15 [/m^2]\n\n"
    "layer\n\nname : absorber\nd :  2.000e-06 [m]\nEg :\t  1.150000\t[eV]\nchi :\t  4.500000\t[eV]\n"
    "Nd(uniform) :\t 0.000000e+00\t[/m^3]\nNa(uniform) :\t 2.000000e+22\t[/m^3]\nsrhrecombination\n\n"
    "type : neutral ( 1 level(s) )\nenergy distribution : single\nNt(uniform) :\t 1.000000e+20\t[/m^3]\n\n"
    "front contact\n\nflatband : 1 (1: flatband contact imposed; 0: fixed Phi_m value)\n\n"
    "working point\n\nilluminated from : right";

// The report in practical units, d [m] x 1e6 = [um], N [/m^3] x 1e-6 = [cm^-3]: 5.000e-08 m is
// 0.05 um, 1e24 /m^3 is 1e18 cm^-3, 2e22 /m^3 is 2e16 cm^-3, exact in the report's layout.
const char* const kTwoLayerReport =
    "Layers: 2\n"
    "  1 \"window\": d = 0.05 \xC2\xB5m, Eg = 3.4 eV, chi = 4.4 eV, Nd = 1.000e+18 cm^-3, Na = 0.000e+00 cm^-3, "
    "defects: 0\n"
    "  2 \"absorber\": d = 2 \xC2\xB5m, Eg = 1.15 eV, chi = 4.5 eV, Nd = 0.000e+00 cm^-3, Na = 2.000e+16 cm^-3, "
    "defects: 1\n"
    "Interfaces with defects:\n  1 \"w/a\" (layers 1 and 2): defects: 1\n";

TEST_F(Run, ADefinitionFileIsLoadedAndReportedAFailedLoadKeepsTheCellBefore) {
  test::WriteWholeFile(home_ + "/def/two layer.def", kTwoLayerCell);
  EXPECT_EQ(Zoniq({"two", "layer.def"}), kExitOk) << err_.str();
  EXPECT_TRUE(ui_.popups.empty());
  EXPECT_EQ(out_.str(), "Problem: " + home_ + "/def/two layer.def\n" + kTwoLayerReport);
  // Of two definition files only the second is loaded: the first need not even exist.
  EXPECT_EQ(Zoniq({"missing.def", "two", "layer.def"}), kExitOk) << err_.str();
  EXPECT_TRUE(ui_.popups.empty());

  // A failed load keeps the cell loaded before.
  test::WriteWholeFile(home_ + "/def/good.def", kTwoLayerCell);
  test::WriteWholeFile(home_ + "/def/empty.def", "");
  Session session(home_, std::make_unique<test::ForwardingUserInterface>(ui_));
  Initialise(session);
  std::string full;
  ASSERT_EQ(Laad_data_uit_file(session, "good.def", &full), 0);
  EXPECT_EQ(full, home_ + "/def/good.def");
  EXPECT_EQ(session.problemName, full);
  ASSERT_EQ(session.zonnecel.numberOfLayers, 2);
  // Set 2 is set 1 in practical units: 2e-6 m = 2 um.
  EXPECT_EQ(session.parameterset1.cellParas.layer[1].d, 2e-6);
  EXPECT_CLOSE(session.zonnecel.layer[1].d, 2.0, 1e-12, 0.0);  // one multiplication by 1e6
  const CellDefinition before = session.zonnecel;
  const InputParameters set1Before = session.parameterset1;
  for (const char* bad : {"nosuch.def", "empty.def"}) {
    SCOPED_TRACE(bad);
    ui_.popups.clear();
    EXPECT_LT(Laad_data_uit_file(session, bad), 0);
    EXPECT_FALSE(ui_.popups.empty());
    EXPECT_TRUE(session.zonnecel == before);
    EXPECT_TRUE(session.parameterset1 == set1Before);
    EXPECT_EQ(session.problemName, home_ + "/def/good.def");
  }
  // The report never follows a layer count outside the storage past it.
  session.zonnecel.numberOfLayers = 1000;
  EXPECT_NE(LoadedReport(session).find("Layers: 7\n"), std::string::npos);
  session.zonnecel.numberOfLayers = -4;
  EXPECT_NE(LoadedReport(session).find("Layers: 0\n"), std::string::npos);
}

using Rows = std::vector<std::vector<std::string>>;

// A strict RFC 4180 reader: fields plain or quoted with doubled inner quotes; ASCII only; every
// line ends with LF; every row as wide as the heading.
Rows ReadCsvStrict(const std::string& path) {
  const std::string text = test::ReadWholeFile(path);
  Rows rows(1);
  std::string field;
  const auto fail = [](const char* why) { throw std::runtime_error(why); };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' && field.empty()) {
      for (++i; i < text.size() && !(text[i] == '"' && (i + 1 == text.size() || text[i + 1] != '"')); ++i)
        field += text[text[i] == '"' ? ++i : i];
      if (i >= text.size()) fail("unterminated quoted field");
      if (i + 1 < text.size() && text[i + 1] != ',' && text[i + 1] != '\n') fail("text after a quoted field");
    } else if (c == '"' || c == '\r' || static_cast<unsigned char>(c) >= 0x80) {
      fail("a quote inside a plain field, a CR or a byte that is not ASCII");
    } else if (c == ',' || c == '\n') {
      rows.back().push_back(field);
      field.clear();
      if (c == '\n' && rows.size() > 1 && rows.back().size() != rows.front().size()) fail("row of another width");
      if (c == '\n') rows.emplace_back();
    } else {
      field += c;
    }
  }
  if (!field.empty() || !rows.back().empty()) fail("last line without LF");
  rows.pop_back();
  return rows;
}

double Number(const std::string& field) {
  double v = 0.0;
  if (!ParseWholeNumber(field, v)) throw std::runtime_error("not a number: " + field);
  return v;
}

class UserErrors : public test::ProgramRun {
 protected:
  void SetUp() override {
    ProgramRun::SetUp();
    // A program folder of our own, so that the results folder can be removed or blocked.
    fs::copy(test::HomeFolder(), home_, fs::copy_options::recursive);
    fs::remove_all(home_ + "/results");
  }
  void Script(const std::string& text) { std::ofstream("s.script", std::ios::binary) << text; }
};

TEST_F(UserErrors, ScriptValuesWithTrailingTextAreRefusedAndNamedByFileAndLine) {
  Script(
      "load definition CIGS.def\n"
      "set layer1.thickness 2,5\n"          // 2: decimal comma
      "set layer1.thickness 2.5 nm\n"       // 3: unit after the value
      "* a comment line keeps the count\n"  // 4
      "set layer1.doping 1e16\n"            // 5: a word for two names
      "calculat single\n"                   // 6: misspelt command
      "set layer1.NA 2e22\n"                // 7: the definition file's m^-3 value, taken with a warning
      "set layr1.Eg 1.2\n"                  // 8: misspelt first part
      "get layer1.thickness xvalue\nget layer1.NA yvalue\nshow\n");
  EXPECT_EQ(Zoniq({"s.script"}), kExitScriptErrors);
  for (const auto& [part, line] :
       {std::pair{"value = 2,5", 2}, std::pair{"Text after the value: 'nm'", 3},
        std::pair{"Did you mean NA (acceptors) or ND (donors)?", 5}, std::pair{"Did you mean calculate?", 6},
        std::pair{"outside the sensible range 0 to 1e+21", 7},
        std::pair{"First part not recognised: layr1\nDid you mean layer?", 8}}) {
    const auto* p = Find(part);
    ASSERT_NE(p, nullptr) << part;
    EXPECT_EQ(p->location, "./s.script:" + std::to_string(line)) << part;
  }
  EXPECT_NE(Find("unit cm^-3")->message.find("not the definition file's SI units"), std::string::npos);
  // The refused values left the thickness of the file (3 um); the implausible doping was taken.
  EXPECT_TRUE(OutSays("  x       3.00000000e+00")) << out_.str();
  EXPECT_TRUE(OutSays("  y       2.00000000e+22")) << out_.str();

  // Lines in a loop keep their numbers on every pass.
  Script("loop maxiteration 3\nloop start\nset layer9.Eg 1\nloop stop\nset layer9.Eg 2\n");
  EXPECT_EQ(Zoniq({"s.script"}), kExitScriptErrors);
  ASSERT_EQ(ui_.popups.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ui_.popups[i].location, "./s.script:3") << i;
  EXPECT_EQ(ui_.popups[3].location, "./s.script:5");
}

TEST_F(UserErrors, AFailedLoadSimulatesNothingBareNamesAndVoltRanges) {
  EXPECT_EQ(Zoniq({"CIGs.def", "--calculate"}), kExitNotLoaded);
  EXPECT_FALSE(OutSays("Voc")) << out_.str();
  EXPECT_FALSE(OutSays("No I-V curve"));
  // Where it looked: the def folder and the current folder.
  EXPECT_TRUE(ErrSays("'CIGs.def' looked for in " + home_ + "/def/CIGs.def and ./CIGs.def")) << err_.str();
  EXPECT_TRUE(ErrSays("nothing simulated"));
  // Nor does a script run on what happened to be loaded.
  Script("calculate single\nsave result.eb x.eb\n");
  EXPECT_EQ(Zoniq({"CIGs.def", "s.script", "--output", "out"}), kExitNotLoaded);
  EXPECT_FALSE(fs::exists("out/x.eb"));
  EXPECT_TRUE(PopupSays("s.script' is not run"));
  EXPECT_EQ(Zoniq({"CIGS.deff", "--calculate"}), kExitNotLoaded);
  EXPECT_TRUE(PopupSays("'CIGS.deff' is not a file of a kind zoniq reads"));
  EXPECT_FALSE(OutSays("Voc"));

  // A bare name is also found in the current folder; the program folder's file wins.
  fs::copy_file(home_ + "/def/CIGS.def", "mycell.def");
  EXPECT_EQ(Zoniq({"mycell.def"}), kExitOk) << err_.str();
  EXPECT_TRUE(OutSays("Problem: ./mycell.def")) << out_.str();
  fs::copy_file(home_ + "/def/CdTe.def", "CIGS.def");
  EXPECT_EQ(Zoniq({"CIGS.def"}), kExitOk);
  EXPECT_TRUE(OutSays("Problem: " + home_ + "/def/CIGS.def")) << out_.str();

  // Millivolts for volts are refused; 10 V is still taken as a range (refused only beyond).
  EXPECT_EQ(Zoniq({"CIGS.def", "--iv", "-200:1000:21", "--calculate"}), kExitUsage);
  EXPECT_TRUE(ErrSays("not millivolts")) << err_.str();
  EXPECT_EQ(out_.str(), "");
  // An option that needs a value does not take the next option as one.
  EXPECT_EQ(Zoniq({"CIGS.def", "--output", "--calculate"}), kExitUsage);
  EXPECT_TRUE(ErrSays("--output needs a value")) << err_.str();
  EXPECT_FALSE(fs::exists("--calculate"));
  EXPECT_EQ(Zoniq({"--iv", "-10:10:3"}), kExitOk);
}

TEST_F(UserErrors, AnIncompleteSimulationIsNoCompleteResult) {
  Session s(home_);
  s.lastSimulationResult = 0;
  s.WorkPointConvergenceFailure = 0;
  EXPECT_FALSE(SimulationComplete(s, 0));  // nothing simulated
  SimulationRecord& r = s.simulaties.emplace_back();
  r.actie.iv.on = 1;
  r.iv.present = 1;
  r.iv.points = 31;
  r.iv.pointsDone = 11;  // stopped at the 12th point
  EXPECT_FALSE(SimulationComplete(s, 0));
  r.iv.pointsDone = 31;
  EXPECT_TRUE(SimulationComplete(s, 0));
  EXPECT_FALSE(SimulationComplete(s, 1));  // the record is older than this simulation
  s.WorkPointConvergenceFailure = 1;
  EXPECT_FALSE(SimulationComplete(s, 0));
  // A simulation without a sweep is complete when its working point converged.
  s.WorkPointConvergenceFailure = 0;
  r.actie.iv.on = 0;
  r.iv = IVResult{};
  EXPECT_TRUE(SimulationComplete(s, 0));
}

TEST_F(UserErrors, ResultFilesGoToTheResultsTheOutputOrTheCurrentFolder) {
  const auto run = [&](const std::string& name, std::vector<std::string> args) {
    Script("load definition CIGS.def\ncalculate single\nsave result.eb " + name + "\n");
    args.insert(args.begin(), "s.script");
    EXPECT_EQ(Zoniq(args), kExitOk) << err_.str();
  };
  run("a.eb", {});  // a missing results folder is made
  EXPECT_TRUE(fs::exists(home_ + "/results/a.eb"));
  run("a.eb", {"--output", "runs/one"});
  EXPECT_TRUE(fs::exists("runs/one/a.eb"));
  // The general settings carry the output folder.
  std::ofstream("g.zon") << "output folder :\"from settings\"\n";
  run("c.eb", {"./g.zon"});
  EXPECT_TRUE(fs::exists("from settings/c.eb"));
  Session a(home_), b(home_);
  a.outputFolder = "runs/x";  // written and read back
  ASSERT_EQ(SaveGeneralSettingsToPath(a, tmp_.file("back.zon"), HeaderInfo{}, a.parameterset1.convergence, a), 0);
  ASSERT_EQ(SetGeneralZONIQSettingsFromFile(b, tmp_.file("back.zon"), b.parameterset1.convergence, b), 0);
  EXPECT_EQ(b.outputFolder, "runs/x");
  // A file where the folder should be stands for a folder the user may not write (the tests may
  // run as root, for whom permissions do not hold): the files go to the current folder.
  fs::remove_all(home_ + "/results");
  std::ofstream(home_ + "/results") << "not a folder";
  run("here.eb", {});
  EXPECT_TRUE(fs::exists("here.eb"));
  // So does an installed program (its program folder is known by its place).
  for (const auto& [folder, installed] :
       {std::pair{"/usr/local/share/zoniq", true}, std::pair{"/opt/x/share/zoniq/", true},
        std::pair{"/home/me/zoniq/home", false}, std::pair{"/usr/share/zoniq-data", false}})
    EXPECT_EQ(IsInstalledProgramFolder(folder), installed) << folder;
}

TEST_F(UserErrors, TheBandDiagramOfAWorkingPointAloneAndNoEmptyFiles) {
  Script(
      "load definition CIGS.def\n"
      "save result.eb early.eb\nsave result.eb early.csv\nsave result.genrec early.gen\n"  // nothing calculated
      "action dark\naction workingpoint.voltage 0.3\ncalculate single\n"
      "save result.iv none.iv\n"  // no I-V calculated: no file
      "save result.eb wp.eb\nsave result.eb wp.csv\n");
  EXPECT_EQ(Zoniq({"s.script", "--output", "out"}), kExitScriptErrors);
  for (const char* f : {"out/early.eb", "out/early.csv", "out/early.gen", "out/none.iv"})
    EXPECT_FALSE(fs::exists(f)) << f;
  EXPECT_TRUE(PopupSays("No calculation is made yet: nothing to save or to show !"));
  EXPECT_TRUE(PopupSays("No IV-calculation is made yet: nothing to save or to show !"));
  // The working point's band diagram at its voltage (fixed 10.4).
  const std::string eb = test::ReadWholeFile("out/wp.eb");
  EXPECT_NE(eb.find("Band diagramme at actual bias voltage\t    0.3000\tVolt\n"), std::string::npos) << eb;
  EXPECT_NE(eb.find("Single shot simulation #\t1\n"), std::string::npos);
  // The CSV holds the same state. In the dark at 0.3 V the quasi-Fermi levels are nowhere split
  // by more than qV, and by qV where the depletion region begins (flat across it at low
  // injection); towards the back contact, with its finite recombination velocity, less.
  const Rows rows = ReadCsvStrict("out/wp.csv");
  ASSERT_GT(rows.size(), 10u);
  EXPECT_EQ((std::vector{rows[0][2], rows[0][4], rows[0][5]}),
            (std::vector<std::string>{"x (um)", "Fn (eV)", "Fp (eV)"}));
  const auto& back = rows[1];  // first point of layer 1: the back contact side
  EXPECT_EQ(back[0], "1");
  double largest = -1.0;
  for (std::size_t r = 1; r < rows.size(); ++r) largest = std::max(largest, Number(rows[r][4]) - Number(rows[r][5]));
  EXPECT_LE(largest, 0.3 + 1e-6);
  EXPECT_GE(largest, 0.3 - 1e-3);
  EXPECT_LT(Number(back[4]) - Number(back[5]), 0.2);
  // Ec - Ev is the band gap of the layer (1.15 eV for CIGS, from the definition file).
  EXPECT_CLOSE(Number(back[3]) - Number(back[6]), 1.15, 1e-6, 0.0);
}

TEST_F(UserErrors, CsvResultsAndTheRunSummaryReadBackStrictly) {
  Script(
      "load definition CIGS.def\naction light\naction iv.startV -0.2\naction iv.stopV 0.8\naction iv.points 41\n"
      "action iv.doiv 1\ncalculate single\nset layer1.thickness 2\ncalculate single\n"
      "save result.iv two.csv\nsave result.genrec gen.csv\n");
  ASSERT_EQ(Zoniq({"s.script", "--output", "out", "--summary", "runs.csv"}), kExitOk) << err_.str();
  const Rows iv = ReadCsvStrict("out/two.csv");
  ASSERT_EQ(iv.size(), 1u + 2u * 41u);  // heading, two simulations of 41 points
  ASSERT_EQ(iv[0].size(), 10u);
  EXPECT_EQ((std::vector(iv[0].begin(), iv[0].begin() + 3)),
            (std::vector<std::string>{"simulation", "V (V)", "J_tot (mA/cm2)"}));
  // Voltages of the sweep: -0.2 V to 0.8 V in steps of 0.025 V, for simulations 1 and 2.
  for (std::size_t k = 0; k < 82; ++k) {
    EXPECT_EQ(iv[1 + k][0], k < 41 ? "1" : "2");
    EXPECT_CLOSE(Number(iv[1 + k][1]), -0.2 + 0.025 * static_cast<double>(k % 41), 1e-9, 1e-12);
  }
  // Under light at -0.2 V the current is the photocurrent: negative, below q x the absorbed
  // photon flux (42.47 mA/cm2 above 1.15 eV in the shipped spectrum).
  EXPECT_LT(Number(iv[1][2]), 0.0);
  EXPECT_GT(Number(iv[1][2]), -42.47);

  const Rows gen = ReadCsvStrict("out/gen.csv");
  ASSERT_GT(gen.size(), 10u);
  EXPECT_EQ(gen[0][0], "x (um)");
  EXPECT_EQ(gen[0][6], "net Gn1,1,1 (#/cm3.s)");  // a title with commas, quoted in the file
  for (std::size_t r = 1; r < gen.size(); ++r)
    for (const std::string& f : gen[r]) EXPECT_NO_THROW(Number(f)) << r;

  const Rows runs = ReadCsvStrict("runs.csv");
  ASSERT_EQ(runs.size(), 3u);  // heading and the two simulations
  EXPECT_EQ(runs[0][6], "Voc (V)");
  for (std::size_t r = 1; r < 3; ++r) {
    EXPECT_EQ((std::vector{runs[r][4], runs[r][5], runs[r][12], runs[r][13]}),
              (std::vector<std::string>{"41", "41", "complete", "0"}));
    EXPECT_GT(Number(runs[r][9]), 0.0);  // eta
  }
  // A second run appends without a second heading.
  ASSERT_EQ(Zoniq({"CIGS.def", "--summary", "runs.csv"}), kExitOk);
  const Rows more = ReadCsvStrict("runs.csv");
  ASSERT_EQ(more.size(), 4u);
  EXPECT_EQ(more[3][12], "not simulated");
}

// Hostile files read directly, without a run.

struct Reader {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, test::HomeFolder()};
  std::string Messages() const {
    std::string all;
    for (const auto& p : ui.popups) all += p.title + "\n" + p.message + "\n";
    return all;
  }
  bool Says(const std::string& part) const { return Messages().find(part) != std::string::npos; }
  int Def(const std::string& path) {
    InputParameters set;
    MottSchottkySettings ms;
    DefinitionExtras extras;
    InitialiseInputParameters(set, ms);
    return lees_structuurfile(env, path, set, ms, extras);
  }
};

// `text` with the first occurrence of `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The number of the line on which `text` holds `part` first (counted from 1).
long LineOf(const std::string& text, const std::string& part) {
  const std::size_t at = text.find(part);
  return at == std::string::npos ? -1 : 1 + static_cast<long>(std::count(text.begin(), text.begin() + at, '\n'));
}

const std::string& ShippedCIGS() {
  static const std::string text = test::ReadWholeFile(test::HomeFolder() + "/def/CIGS.def");
  return text;
}

TEST(DefinitionFileStrict, TyposAndFilesCutShortAreRefusedWithFileLineAndKeyword) {
  test::TempDir dir;
  const std::string& cigs = ShippedCIGS();
  for (const auto& [from, to, keyword] :
       {std::tuple{"Eg :\t  1.150000", "Eg :\t  1.15O000", "\"Eg\""},          // graded line
        std::tuple{"d : 3.000e-06", "d : 3,000e-06", "\"d\""},                 // thickness with a decimal comma
        std::tuple{"Sn : ", "Sn : 1e5x", "\"Sn\""},                            // contact value run into text
        std::tuple{"clamp_psi : ", "clamp_psi : 2.0e+0O ", "\"clamp_psi\""},   // convergence section
        std::tuple{"Nc :\t 2.200000e+24\t", "Nc :\t 2.200000e+\t", "\"Nc\""},  // cut inside the exponent
        std::tuple{"mu_n :\t 1.000000e-02\t 1", "mu_n :\t 1.000000e-02\t x", "\"mu_n\""}}) {  // text among values
    Reader r;
    const std::string text = Replaced(cigs, from, to);
    test::WriteWholeFile(dir.file("typo.def"), text);
    EXPECT_LT(r.Def(dir.file("typo.def")), 0) << to;
    for (const std::string& part :
         {std::string("'typo.def'"), "line " + std::to_string(LineOf(text, to)) + ":", std::string(keyword)})
      EXPECT_TRUE(r.Says(part)) << part << "\n" << r.Messages();
  }
  {
    Reader r;  // the whole file loads
    test::WriteWholeFile(dir.file("whole.def"), cigs);
    EXPECT_EQ(r.Def(dir.file("whole.def")), 0) << r.Messages();
  }
  // Cut at every line end from the first layer on (the last one leaves the whole file): each is
  // refused, never loaded with defaults.
  const std::size_t firstLayer = cigs.find("\nlayer");
  ASSERT_NE(firstLayer, std::string::npos);
  int refused = 0, cuts = 0;
  for (std::size_t at = cigs.find('\n', firstLayer + 1); at != std::string::npos; at = cigs.find('\n', at + 1)) {
    Reader r;
    test::WriteWholeFile(dir.file("cut.def"), cigs.substr(0, at + 1));
    ++cuts;
    refused += r.Def(dir.file("cut.def")) < 0;
  }
  EXPECT_EQ(refused, cuts);
  Reader r;
  // A layer without its Nd line names the layer and the line the layer began on.
  const std::size_t nd = cigs.find("\nNd", cigs.find("name : ZnO"));
  const std::string text = cigs.substr(0, nd) + cigs.substr(cigs.find('\n', nd + 1));
  test::WriteWholeFile(dir.file("nond.def"), text);
  EXPECT_LT(r.Def(dir.file("nond.def")), 0);
  EXPECT_TRUE(r.Says("layer 3 (from line " + std::to_string(LineOf(text, "name : ZnO") - 2) + ") has no \"Nd\" line"))
      << r.Messages();
}

// What the reader takes, the writer saves and the reader takes again (a saved file is held to the
// full layout): the fuzz seeds, a hand-written fragment, and the shipped cell without its "saved
// by ZONIQ" header with any one line left out.
TEST(DefinitionFileStrict, EveryAcceptedFileSurvivesASaveAndALoad) {
  test::TempDir dir;
  std::vector<std::string> inputs{"layer\nname : only\nd : 1e-6 [m]\n"};
  for (const auto& entry : std::filesystem::directory_iterator(ZONIQ_FUZZ_CORPUS "/deffile"))
    inputs.push_back(test::ReadWholeFile(entry.path().string()));
  const std::string& cigs = ShippedCIGS();
  const std::string bare = cigs.substr(cigs.find("\n> \n") + 4);
  for (std::size_t start = 0, end; (end = bare.find('\n', start)) != std::string::npos; start = end + 1)
    inputs.push_back(bare.substr(0, start) + bare.substr(end + 1));
  int accepted = 0;
  for (const std::string& text : inputs) {
    Reader r;
    test::WriteWholeFile(dir.file("in.def"), text);
    InputParameters set;
    MottSchottkySettings ms;
    DefinitionExtras extras;
    InitialiseInputParameters(set, ms);
    const bool ok = lees_structuurfile(r.env, dir.file("in.def"), set, ms, extras) == 0;
    EXPECT_TRUE(ok || &text != &inputs.front()) << "the hand-written fragment: " << r.Messages();
    if (!ok) continue;
    ++accepted;
    CellDefinition zonnecel;
    parameterset1_to_2(zonnecel, set);
    ASSERT_EQ(SaveDefinitionFileToPath(r.env, dir.file("out.def"), zonnecel, set, ms, extras, "ZONIQ test ",
                                       DateTime{1, 2, 2024, 3, 4, 5}),
              0);
    EXPECT_EQ(r.Def(dir.file("out.def")), 0) << r.Messages() << "\n--- input:\n" << text.substr(0, 300);
  }
  EXPECT_GT(accepted, 100);
}

TEST(SettingsAndDataFilesStrict, AValueRunIntoTextIsRefusedWithTheLineAHeadingIsSkipped) {
  test::TempDir dir;
  Reader r;
  const std::string text = Replaced(test::ReadWholeFile(test::HomeFolder() + "/def/CIGS.act"),
                                    "Temperature :   300.00 K", "Temperature :   300,00 K");
  test::WriteWholeFile(dir.file("bad.act"), text);
  WorkPoint wp, second;
  MeasurementActions actions;
  ActionListExtras extras;
  EXPECT_LT(SetActionPanelFromFile(r.env, dir.file("bad.act"), wp, second, actions, extras), 0);
  EXPECT_TRUE(r.Says("line " + std::to_string(LineOf(text, "300,00")))) << r.Messages();
  EXPECT_TRUE(r.Says("text follows the digits")) << r.Messages();
  std::vector<double> x, y;
  Reader ok, bad;
  test::WriteWholeFile(dir.file("ok.abs"), "wavelength alpha\n1 sun heading\n300 1e5\n400 2e4\n");
  EXPECT_EQ(ReadDataFile(dir.file("ok.abs"), x, y, 2, ok.env, true), 2) << ok.Messages();
  test::WriteWholeFile(dir.file("bad.abs"), "wavelength alpha\n300 1e5\n400 2,5e4\n");
  EXPECT_LT(ReadDataFile(dir.file("bad.abs"), x, y, 2, bad.env, true), 0);
  EXPECT_TRUE(bad.Says("Line 3")) << bad.Messages();
}

}  // namespace
}  // namespace zoniq
