// The program frame: command-line parsing, folder resolution, the error log, the call
// statistics and whole runs of the program with their exit statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "app/command_line.hpp"
#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/program_folder.hpp"
#include "app/session.hpp"
#include "common/call_counts.hpp"
#include "common/paths.hpp"
#include "common/zoniq_paths.hpp"
#include "program_run.hpp"
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
  // Names without a dot, blank names and empty words are skipped.
  EXPECT_TRUE(Parse({"alone", "", "x"}) == StartupFiles{});
  EXPECT_TRUE(Parse({".def", "  .act"}) == StartupFiles{});
  EXPECT_EQ(Parse({"alone", ".def"}).definition, "alone .def");

  // 255 + '.' + "def" = 259 characters: the longest name a slot holds.
  StartupFiles slots;
  EXPECT_EQ(AttributeFile(std::string(255, 'n'), "def", slots), SLOT_DEFINITION);
  EXPECT_EQ(AttributeFile(std::string(256, 'n'), "def", slots), SLOT_TOO_LONG);
  EXPECT_EQ(slots.definition.size(), 259u);
  // The joined line: 1299 characters + one blank = 1300 fits; a word that does not fit whole is
  // left out whole.
  std::string line;
  std::size_t dropped = 0;
  EXPECT_TRUE(JoinCommandLine({std::string(1295, 'a') + ".def"}, line, dropped));
  EXPECT_EQ(line.size(), 1300u);
  EXPECT_EQ(dropped, 1u);
  EXPECT_FALSE(JoinCommandLine({"first.def", std::string(1290, 'b') + ".def"}, line, dropped));
  EXPECT_EQ(line, "first.def ");
  EXPECT_EQ(dropped, 1u);
}

TEST(Folders, FileNamesAndTheProgramFolderAreFoundWithoutConfiguration) {
  // Bare names go to the folder of their kind (unknown kinds to the results), trailing blanks
  // removed from both results; names with a folder are used as given.
  for (const auto& [given, kind, full] :
       {std::tuple{"cell.def   ", FK_DEF, "/opt/zq/def/cell.def"},
        std::tuple{"x.opt", FK_OPTCAPT, "/opt/zq/opcapt/x.opt"},
        std::tuple{"x.zzz", FK_UNKNOWN, "/opt/zq/results/x.zzz"}, std::tuple{"sub/cell.def", FK_DEF, "sub/cell.def"},
        std::tuple{"cells\\v2\\cell.def", FK_DEF, "cells\\v2\\cell.def"},
        std::tuple{"C:cell.def", FK_DEF, "C:cell.def"}}) {
    std::string fullPath, name;
    CheckZONIQPaths("/opt/zq", &fullPath, &name, given, kind);
    EXPECT_EQ(fullPath, full) << given;
    EXPECT_EQ(name, std::string(full).substr(std::string(full).find_last_of("/\\:") + 1)) << given;
  }
  EXPECT_EQ(NativePath("cells\\v2\\cell.def"), "cells/v2/cell.def");
  TempDir tmp;
  const fs::path prefix = tmp.path() / "prefix", source = tmp.path() / "source-home",
                 install = tmp.path() / "install-home";
  fs::create_directories(prefix / "bin");
  ProgramFolderCandidates c{"", (prefix / "bin" / "zoniq").string(), source.string(), install.string()};
  EXPECT_EQ(ResolveProgramFolder(c), ".");  // nothing exists: the current folder
  fs::create_directories(install);
  EXPECT_EQ(ResolveProgramFolder(c), install.string());
  fs::create_directories(source);
  EXPECT_EQ(ResolveProgramFolder(c), source.string());
  // An installed layout beside the executable wins over the compiled-in folders.
  fs::create_directories(prefix / "share" / "zoniq");
  EXPECT_EQ(ResolveProgramFolder(c), (prefix / "share" / "zoniq").string());
  // Only an executable in a "bin" folder has an installed layout.
  ProgramFolderCandidates build = c;
  build.executable = (tmp.path() / "build" / "app" / "zoniq").string();
  EXPECT_EQ(ResolveProgramFolder(build), source.string());
  // ZONIQ_HOME overrides everything, even a folder that does not exist.
  c.environment = "/nowhere/zoniq-home";
  EXPECT_EQ(ResolveProgramFolder(c), "/nowhere/zoniq-home");
  EXPECT_EQ(ExecutablePath("ignored"), fs::read_symlink("/proc/self/exe").string());
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
  EXPECT_EQ(Zoniq({"--version"}), kExitOk);
  // The version, not the path the program was started by.
  static const std::regex banner(R"(ZONIQ 3\.2\.00 \(program file dated \d{2}-\d{2}-\d{4}, \d{2}:\d{2}:\d{2}\)\n)");
  EXPECT_TRUE(std::regex_match(out_.str(), banner)) << out_.str();
  EXPECT_EQ(MakeVersionBanner("/usr/bin/zoniq", DateTime{3, 7, 2024, 9, 5, 7}),
            "ZONIQ 3.2.00 NORVALE: Version /usr/bin/zoniq dated 03-07-2024, 09:05:07");
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
  // A folder in the way of the counts file: reported, yet the run ends normally (the counts
  // are statistics, not results).
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

}  // namespace
}  // namespace zoniq
