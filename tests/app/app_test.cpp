// The program frame: command-line parsing, folder resolution, the error log, the call
// statistics and whole runs of the program with their exit statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>

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
using test::WriteWholeFile;

// ---------------------------------------------------------------- command line

}  // namespace

// Readable failure messages for whole slot sets.
void PrintTo(const StartupFiles& f, std::ostream* os) {
  *os << "{def '" << f.definition << "', act '" << f.action << "', wp2 '" << f.workingPoint << "', settings '"
      << f.settings << "', spe '" << f.spectrum << "', gen '" << f.generation << "', sbf '" << f.batch << "', srf '"
      << f.record << "', script '" << f.script << "'}";
}

namespace {

TEST(CommandLine, ExtractFilenameEndsANameAtItsExtensionDot) {
  struct Case {
    const char* line;
    int result;
    const char* name;  // nullptr: not checked
    const char* rest;
  };
  const Case cases[] = {
      {"my cell.def other.act ", 1, "my cell", "def other.act "},
      // A dot followed by another dot before any blank belongs to the name.
      {"a.b.def ", 1, "a.b", "def "},
      // A dot at the very end still separates (the extension is then empty).
      {"x.", 1, "x", ""},
      // A dot inside a folder name, with a blank in the file name after it.
      {"/data/v1.2/my cell.def ", 1, "/data/v1.2/my cell", "def "},
      // Blank names and lines without a dot.
      {".def ", 0, nullptr, "def "},
      {"   .def ", 0, "   ", "def "},
      {"no dot at all ", -1, "", ""},
      {"", -1, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string line = c.line, name = "old";
    EXPECT_EQ(ExtractFilename(line, name), c.result);
    if (c.name) {
      EXPECT_EQ(name, c.name);
    }
    EXPECT_EQ(line, c.rest);
  }
}

TEST(CommandLine, AttributeFileSelectsTheSlotByExtensionIgnoringCase) {
  struct Case {
    const char* ext;
    int slot;
    std::string StartupFiles::*member;
  };
  const Case cases[] = {
      {"DEF", SLOT_DEFINITION, &StartupFiles::definition},
      {"Definition", SLOT_DEFINITION, &StartupFiles::definition},
      {"act", SLOT_ACTION, &StartupFiles::action},
      {"zon", SLOT_SETTINGS_OR_WP, &StartupFiles::settings},
      {"zoniq", SLOT_SETTINGS_OR_WP, &StartupFiles::settings},
      {"batch", SLOT_BATCH, &StartupFiles::batch},
      {"gen", SLOT_GENERATION, &StartupFiles::generation},
      {"Script", SLOT_SCRIPT, &StartupFiles::script},
      {"srf", SLOT_RECORD, &StartupFiles::record},
      {"wp2", SLOT_SETTINGS_OR_WP, &StartupFiles::workingPoint},
      {"SPE", SLOT_SPECTRUM, &StartupFiles::spectrum},
  };
  for (const Case& c : cases) {
    StartupFiles slots;
    EXPECT_EQ(AttributeFile("my cell", c.ext, slots), c.slot) << c.ext;
    // Exactly one slot is filled.
    StartupFiles expected;
    expected.*(c.member) = std::string("my cell.") + c.ext;
    EXPECT_EQ(slots, expected) << c.ext;
  }
  StartupFiles slots;
  for (const char* ext : {"txt", "de", "defs", "wp", "", "spectrumx"}) {
    EXPECT_EQ(AttributeFile("x", ext, slots), SLOT_NONE) << ext;
    EXPECT_EQ(slots, StartupFiles{});
  }
  // 255 + '.' + "def" = 259 characters: the longest name a slot holds.
  EXPECT_EQ(AttributeFile(std::string(255, 'n'), "def", slots), SLOT_DEFINITION);
  EXPECT_EQ(slots.definition.size(), 259u);
  EXPECT_EQ(AttributeFile(std::string(256, 'n'), "def", slots), SLOT_TOO_LONG);
  EXPECT_EQ(slots.definition.size(), 259u);
}

StartupFiles Parse(const std::vector<std::string>& words) {
  std::string line;
  std::size_t dropped = 0;
  EXPECT_TRUE(JoinCommandLine(words, line, dropped));
  return ParseCommandLine(line).files;
}

TEST(CommandLine, WholeCommandLines) {
  // Two words of which only the second ends in .def: one name with a blank; a later file of a
  // kind replaces an earlier one.
  EXPECT_EQ(Parse({"..\\my", "cell.def"}).definition, "..\\my cell.def");
  EXPECT_EQ(Parse({"first.def", "second.def"}).definition, "second.def");
  // A word with an extension after one without ("WP2   next" leaves blanks to skip).
  EXPECT_EQ(Parse({"a.WP2", "", "next.act"}).action, "next.act");

  const StartupFiles f = Parse({"notes.txt", "cell.def", "run.scr", "plan.act", "start.wp2", "all.zoniq", "steps.sbf",
                                "rec.srf", "g.gen", "sun.spe"});
  StartupFiles expected;
  expected.definition = "cell.def";
  expected.script = "run.scr";
  expected.action = "plan.act";
  expected.workingPoint = "start.wp2";
  expected.settings = "all.zoniq";
  expected.batch = "steps.sbf";
  expected.record = "rec.srf";
  expected.generation = "g.gen";
  expected.spectrum = "sun.spe";
  EXPECT_EQ(f, expected);

  // Names without a dot, blank names and empty words are skipped; a word without a dot is
  // the start of the next name.
  EXPECT_EQ(Parse({"alone", "", "x"}), StartupFiles{});
  EXPECT_EQ(Parse({".def", "  .act"}), StartupFiles{});
  EXPECT_EQ(Parse({"alone", ".def"}).definition, "alone .def");
}

TEST(CommandLine, JoinedLineIsLimitedTo1300Characters) {
  std::string line;
  std::size_t dropped = 0;
  // 1299 characters + one blank = 1300: fits.
  std::vector<std::string> words{std::string(1295, 'a') + ".def"};
  EXPECT_TRUE(JoinCommandLine(words, line, dropped));
  EXPECT_EQ(line.size(), 1300u);
  EXPECT_EQ(dropped, 1u);
  // A second word that does not fit whole is left out whole.
  words = {"first.def", std::string(1290, 'b') + ".def"};
  EXPECT_FALSE(JoinCommandLine(words, line, dropped));
  EXPECT_EQ(line, "first.def ");
  EXPECT_EQ(dropped, 1u);
}

// ---------------------------------------------------------------- folders

TEST(Folders, CheckPathsPutsBareNamesInTheSubFolderOfTheirKindAndKeepsGivenFolders) {
  struct Case {
    const char* given;
    FileKind kind;
    const char* full;
    const char* name;
  };
  const Case cases[] = {
      {"cell.def", FK_DEF, "/opt/zq/def/cell.def", "cell.def"},
      {"steps.sbf", FK_BATCH, "/opt/zq/bdf/steps.sbf", "steps.sbf"},
      {"run.script", FK_SCRIPT, "/opt/zq/script/run.script", "run.script"},
      {"x.opt", FK_OPTCAPT, "/opt/zq/opcapt/x.opt", "x.opt"},
      {"x.zzz", FK_UNKNOWN, "/opt/zq/results/x.zzz", "x.zzz"},
      // Trailing blanks are removed from both results.
      {"cell.def   ", FK_DEF, "/opt/zq/def/cell.def", "cell.def"},
      // Names with a folder are used as given.
      {"sub/cell.def", FK_DEF, "sub/cell.def", "cell.def"},
      {"cells\\v2\\cell.def", FK_DEF, "cells\\v2\\cell.def", "cell.def"},
      {"C:cell.def", FK_DEF, "C:cell.def", "cell.def"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    std::string full, name;
    CheckZONIQPaths("/opt/zq", &full, &name, c.given, c.kind);
    EXPECT_EQ(full, c.full);
    EXPECT_EQ(name, c.name);
  }
  EXPECT_EQ(NativePath("cells\\v2\\cell.def"), "cells/v2/cell.def");
}

TEST(Folders, MakeFullPathUsesTheShortMap) {
  std::string name;
  EXPECT_EQ(MakeFullPath("/opt/zq", name, FK_ABSORPTION), 0);
  EXPECT_EQ(name, "");
  struct Case {
    const char* given;
    FileKind kind;
    const char* full;
  };
  const Case cases[] = {
      {"a-Si.abs", FK_ABSORPTION, "/opt/zq/absorption/a-Si.abs"},
      {"y.grad", FK_GRADING, "/opt/zq/grading/y.grad"},
      // Kinds outside the short map use the program folder itself.
      {"cell.def", FK_DEF, "/opt/zq/cell.def"},
      {"dir\\x.ftr", FK_FILTER, "dir\\x.ftr"},
  };
  for (const Case& c : cases) {
    name = c.given;
    MakeFullPath("/opt/zq", name, c.kind);
    EXPECT_EQ(name, c.full) << c.given;
  }
}

TEST(Folders, FileKindByExtension) {
  EXPECT_EQ(DetermineZONIQFiletype("x.DEF"), FK_DEF);
  EXPECT_EQ(DetermineZONIQFiletype("a.b.spe"), FK_SPECTRUM);
  EXPECT_EQ(DetermineZONIQFiletype("all.Zoniq"), FK_ALLSETTINGS);
  EXPECT_EQ(DetermineZONIQFiletype("x.txt"), FK_UNKNOWN);
  EXPECT_EQ(DetermineZONIQFiletype("noextension"), FK_UNKNOWN);
  EXPECT_EQ(DetermineZONIQFiletype("dir.def/file"), FK_UNKNOWN);
}

TEST(Folders, ProgramFolderIsFoundWithoutConfiguration) {
  TempDir tmp;
  const fs::path prefix = tmp.path() / "prefix";
  fs::create_directories(prefix / "bin");
  const fs::path source = tmp.path() / "source-home";
  const fs::path install = tmp.path() / "install-home";

  ProgramFolderCandidates c;
  c.executable = (prefix / "bin" / "zoniq").string();
  c.sourceHome = source.string();
  c.installHome = install.string();
  // Nothing exists: the current folder.
  EXPECT_EQ(ResolveProgramFolder(c), ".");
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
}

TEST(Folders, EnvironmentAndExecutableOfThisProcess) {
  TempDir tmp;
  const char* previous = std::getenv("ZONIQ_HOME");
  const std::string saved = previous ? previous : "";
  ::setenv("ZONIQ_HOME", tmp.path().c_str(), 1);
  EXPECT_EQ(FindProgramFolder("zoniq"), tmp.path().string());
  // Unset (or empty): this test program is no installed bin/zoniq, so the source tree's home
  // folder, which holds the standard sub-folders, is used.
  ::setenv("ZONIQ_HOME", "", 1);
  const std::string home = FindProgramFolder("zoniq");
  EXPECT_TRUE(fs::is_directory(fs::path(home) / "def")) << home;
  if (previous)
    ::setenv("ZONIQ_HOME", saved.c_str(), 1);
  else
    ::unsetenv("ZONIQ_HOME");
  EXPECT_EQ(ExecutablePath("ignored"), fs::read_symlink("/proc/self/exe").string());
}

// ---------------------------------------------------------------- error log

// The date and time of a log header replaced by fixed words, so that whole logs compare.
std::string WithoutTimes(const std::string& log) {
  static const std::regex stamp(R"(written on\t\d{2}-\d{2}-\d{4} at \d{2}:\d{2}:\d{2}\n)");
  return std::regex_replace(log, stamp, "written on\tDATE at TIME\n");
}

const char* const kSetupLines =
    "ZONIQ error message whilst reading set-up files \n"
    "(def, action, spectrum, generation, filter, abs, batch, recorder, script)\n";

// Three errors, one of each classification, in the given mode.
void ThreeErrors(ErrorReporting& state, UserInterface& ui) {
  ZONIQErrorMessage(state, ui, "Error whilst reading the def file", "The def-file is empty or incomplete.");
  ZONIQErrorMessage(state, ui, "No convergence at the working point", "V = 0.5 V");
  ZONIQErrorMessage(state, ui, "Something odd", "first line\nsecond line");
}

std::string ThreeBlocks() {
  return std::string("ZONIQ error message #1 written on\tDATE at TIME\n") + kSetupLines +
         "Error whilst reading the def file\nThe def-file is empty or incomplete.\n\n"
         "ZONIQ error message #2 written on\tDATE at TIME\n"
         "No convergence at the working point\nV = 0.5 V\n\n"
         "ZONIQ error message #3 written on\tDATE at TIME\n"
         "Unsepcified ZONIQ error message\n"
         "Something odd\nfirst line\nsecond line\n\n";
}

TEST(ErrorLog, Mode0ShowsPopupsMode1AppendsMode2AndOtherModesStartAFreshLog) {
  struct Case {
    int mode;
    bool popups;
    int numbered;
    bool keepsOld;
    bool writes;
  };
  // Mode 0 only shows popups; modes other than 0, 1 and 2 show a popup and start a fresh log.
  for (const Case& c : {Case{0, true, 0, true, false}, Case{1, false, 3, true, true}, Case{2, false, 3, false, true},
                        Case{7, true, 3, false, true}}) {
    SCOPED_TRACE(c.mode);
    TempDir tmp;
    const std::string log = tmp.file("ZONIQErrorLogFile.log");
    WriteWholeFile(log, "blocks of an earlier run\n");
    RecordingUserInterface ui;
    {
      ErrorReporting state;
      state.logFolder = tmp.path().string();
      state.ErrorMessageMode = c.mode;
      ThreeErrors(state, ui);
      EXPECT_EQ(state.ErrorMessageNumber, c.numbered);
    }
    ASSERT_EQ(ui.popups.size(), c.popups ? 3u : 0u);
    if (c.popups) {
      EXPECT_EQ(ui.popups[0].title, "Error whilst reading the def file");
      EXPECT_EQ(ui.popups[2].message, "first line\nsecond line");
    }
    EXPECT_EQ(WithoutTimes(ReadWholeFile(log)),
              (c.keepsOld ? "blocks of an earlier run\n" : "") + (c.writes ? ThreeBlocks() : ""));
  }
}

TEST(ErrorLog, ClassificationIgnoresCaseAndCoversEverySetupPhrase) {
  // The last title, a failed simulation (short circuit or working point, any case), gets no
  // classification line.
  for (const char* title :
       {"WHILST READING x", "x whilst setting", "whilst opening", "During Reading", "during setting", "whilst saving",
        "during saving", "error during opening the file", "Failure in SHORT CIRCUIT calculation"}) {
    SCOPED_TRACE(title);
    const bool setup = std::string(title).find("SHORT") == std::string::npos;
    TempDir tmp;
    RecordingUserInterface ui;
    {
      ErrorReporting state;
      state.logFolder = tmp.path().string();
      state.ErrorMessageMode = 2;
      ZONIQErrorMessage(state, ui, title, "m");
    }
    EXPECT_EQ(WithoutTimes(ReadWholeFile(tmp.file("ZONIQErrorLogFile.log"))),
              std::string("ZONIQ error message #1 written on\tDATE at TIME\n") + (setup ? kSetupLines : "") + title +
                  "\nm\n\n");
  }
}

TEST(ErrorLog, ALogThatCannotBeOpenedLosesItsLinesQuietly) {
  TempDir tmp;
  RecordingUserInterface ui;
  ErrorReporting state;
  state.logFolder = (tmp.path() / "missing" / "folder").string();
  state.ErrorMessageMode = 1;
  ThreeErrors(state, ui);
  EXPECT_EQ(state.ErrorMessageNumber, 3);
  EXPECT_TRUE(ui.popups.empty());
  EXPECT_FALSE(fs::exists(state.logFolder));
}

// ---------------------------------------------------------------- call counts

TEST(CallCounts, MoreThan300FunctionsShareTheLastSlot) {
  CallCounter counter;
  std::vector<int> slots(305, -1);
  for (int k = 0; k < 305; ++k) counter.Count(slots[k], std::string("f").append(std::to_string(k)));
  EXPECT_EQ(counter.__countId, 305);
  for (int k = 299; k < 305; ++k) EXPECT_EQ(slots[k], 299);
}

TEST(CallCounts, NamedKernelsInDescendingOrder) {
  TempDir tmp;
  CallCounter counter;
  for (int i = 0; i < 3; ++i) counter.Count(CallCounter::IterateFt);
  for (int i = 0; i < 5; ++i) counter.Count(CallCounter::update_psivar);
  counter.Count(CallCounter::tunnelingToContacts);
  ASSERT_TRUE(counter.WriteCountsFile(tmp.file("counts.txt")));
  EXPECT_EQ(ReadWholeFile(tmp.file("counts.txt")),
            "3 Counting the function calls in this ZONIQ session:\n"
            "5 times function update_psivar\n"
            "3 times function IterateFt\n"
            "1 times function tunnelingToContacts\n");
  EXPECT_FALSE(counter.WriteCountsFile((tmp.path() / "no" / "counts.txt").string()));
}

// ---------------------------------------------------------------- whole runs

// Runs in their own current folder with their own program folder, as a user would.
class Run : public test::ProgramRun {
 protected:
  void SetUp() override {
    ProgramRun::SetUp();
    MakeFolders({"def", "spectrum", "bdf", "script", "generation"});
  }
};

TEST_F(Run, NothingNamedEndsWithStatus0AndWritesCounts) {
  EXPECT_EQ(Zoniq({}), kExitOk);
  EXPECT_TRUE(ui_.popups.empty());
  EXPECT_NE(out_.str().find("Problem: new problem\n"), std::string::npos) << out_.str();
  EXPECT_EQ(ReadWholeFile("counts.txt"), "0 Counting the function calls in this ZONIQ session:\n");
  EXPECT_FALSE(fs::exists("ZONIQErrorLogFile.log"));
}

TEST_F(Run, FilesThatCannotBeLoadedSayItAndFail) {
  fs::create_directories(home_ + "/spectrum/dir.spe");  // a folder is no spectrum
  EXPECT_EQ(Zoniq({"notes.txt", "missing", "cell.def", "a.wp2", "b.zon", "c.gen", "d.sbf", "e.srf", "f.scr", "plan.act",
                   "dir.spe", "readme"}),
            kExitNotLoaded);
  EXPECT_EQ(ui_.popups.size(), 11u);
  EXPECT_TRUE(PopupSays("'notes.txt' is not a file of a kind zoniq reads"));
  EXPECT_TRUE(PopupSays("'readme' is not a file of a kind zoniq reads"));
  EXPECT_NE(err_.str().find(home_ + "/def/missing cell.def"), std::string::npos) << err_.str();
  for (const char* what : {"action", "second work point", "generation", "script"})
    EXPECT_TRUE(PopupSays(std::string("Error whilst reading the ") + what + " file")) << what;
  EXPECT_TRUE(PopupSays("The action file '" + home_ + "/def/plan.act' cannot be opened."));
  EXPECT_TRUE(PopupSays("Batch Settings File not found:\n   " + home_ + "/bdf/d.sbf"));
  EXPECT_TRUE(PopupSays("Record Settings File not found:\n   " + home_ + "/bdf/e.srf"));
  EXPECT_TRUE(PopupSays("General Settings File not found:\n" + home_ + "/def/b.zon"));
  EXPECT_TRUE(PopupSays(home_ + "/spectrum/dir.spe"));
  EXPECT_NE(out_.str().find("Problem: new problem\n"), std::string::npos);
  EXPECT_TRUE(fs::exists("counts.txt"));
}

TEST_F(Run, ASpectrumOnTheCommandLineIsChosen) {
  WriteWholeFile(home_ + "/spectrum/my sun.spe", "300\t1.0\n400\t2.0\n");
  EXPECT_EQ(Zoniq({"my", "sun.spe"}), kExitOk);
  EXPECT_TRUE(ui_.popups.empty());
  EXPECT_NE(out_.str().find("Spectrum: " + home_ + "/spectrum/my sun.spe\n"), std::string::npos) << out_.str();
}

TEST_F(Run, OverlongCommandLinesAndNamesFail) {
  EXPECT_EQ(Zoniq({std::string(300, 'n') + ".def"}), kExitNotLoaded);
  EXPECT_TRUE(PopupSays("longer than 259 characters"));
  EXPECT_EQ(Zoniq({"a.txt", std::string(1400, 'n') + ".txt"}), kExitNotLoaded);
  EXPECT_TRUE(PopupSays("longer than 1300 characters"));
}

TEST_F(Run, ErrorsAreLoggedInTheCurrentFolderWhenTheModeSaysSo) {
  // The mode is chosen after start-up (settings file or script); here through the session.
  Session session(home_, std::make_unique<test::ForwardingUserInterface>(ui_));
  Initialise(session);
  session.ErrorHandling(2);
  ProcessCommandLine(session, {"plan.act", "x.wp2"});
  EXPECT_EQ(Terminate(session), 0);
  EXPECT_EQ(session.errors.ZONIQErrorLogFileHandle, nullptr);
  EXPECT_TRUE(ui_.popups.empty());
  const std::string log = WithoutTimes(ReadWholeFile("ZONIQErrorLogFile.log"));
  EXPECT_EQ(log.rfind(std::string("ZONIQ error message #1 written on\tDATE at TIME\n") + kSetupLines +
                          "Error whilst reading the action file\n",
                      0),
            0u)
      << log;
  EXPECT_NE(log.find("ZONIQ error message #2 written on\tDATE at TIME\n"), std::string::npos);
  EXPECT_TRUE(fs::exists("counts.txt"));
}

TEST_F(Run, OptionsHelpVersionAndUnknown) {
  EXPECT_EQ(Zoniq({"--help"}), kExitOk);
  EXPECT_NE(out_.str().find("Usage: zoniq"), std::string::npos);
  EXPECT_NE(out_.str().find("ZONIQ_HOME"), std::string::npos);
  EXPECT_NE(out_.str().find("Exit status"), std::string::npos);
  EXPECT_FALSE(fs::exists("counts.txt"));

  EXPECT_EQ(Zoniq({"--version"}), kExitOk);
  // The version, not the path the program was started by.
  static const std::regex banner(R"(ZONIQ 3\.2\.00 \(program file dated \d{2}-\d{2}-\d{4}, \d{2}:\d{2}:\d{2}\)\n)");
  EXPECT_TRUE(std::regex_match(out_.str(), banner)) << out_.str();

  EXPECT_EQ(Zoniq({"--frobnicate"}), kExitUsage);
  EXPECT_NE(err_.str().find("--frobnicate"), std::string::npos);
  EXPECT_TRUE(out_.str().empty());

  // After "--" every word belongs to a file name.
  EXPECT_EQ(Zoniq({"--", "-x.act"}), kExitNotLoaded);
  EXPECT_TRUE(PopupSays(home_ + "/def/-x.act"));
}

// A two-layer cell written by hand from the definition-file layout (SI units).
const char* const kTwoLayerCell =
    "> hand-written test cell\n"
    "convergence\n\n"
    "maxiter :   100\n\n"
    "back contact\n\n"
    "flatband : 1 (1: flatband contact imposed; 0: fixed Phi_m value)\n\n"
    "layer\n\n"
    "name : window\n"
    "d :  5.000e-08 [m]\n"
    "Eg :\t  3.400000\t[eV]\n"
    "chi :\t  4.400000\t[eV]\n"
    "Nd(uniform) :\t 1.000000e+24\t[/m^3]\n"
    "Na(uniform) :\t 0.000000e+00\t[/m^3]\n\n"
    "interface properties\n\n"
    "interfacename : w/a\n\n"
    "interface recombination\n\n"
    "type : neutral\n"
    "N :  1.000e+15 [/m^2]\n\n"
    "layer\n\n"
    "name : absorber\n"
    "d :  2.000e-06 [m]\n"
    "Eg :\t  1.150000\t[eV]\n"
    "chi :\t  4.500000\t[eV]\n"
    "Nd(uniform) :\t 0.000000e+00\t[/m^3]\n"
    "Na(uniform) :\t 2.000000e+22\t[/m^3]\n"
    "srhrecombination\n\n"
    "type : neutral ( 1 level(s) )\n"
    "energy distribution : single\n"
    "Nt(uniform) :\t 1.000000e+20\t[/m^3]\n\n"
    "front contact\n\n"
    "flatband : 1 (1: flatband contact imposed; 0: fixed Phi_m value)\n\n"
    "working point\n\n"
    "illuminated from : right";

// The report in practical units: d [m] x 1e6 = [um], N [/m^3] x 1e-6 = [cm^-3]; 5.000e-08 m is
// 0.05 um, 1e24 /m^3 is 1e18 cm^-3, 2e22 /m^3 is 2e16 cm^-3. The numbers are exact in the
// report's decimal layout, so the lines compare as text.
const char* const kTwoLayerReport =
    "Layers: 2\n"
    "  1 \"window\": d = 0.05 \xC2\xB5m, Eg = 3.4 eV, chi = 4.4 eV, Nd = 1.000e+18 cm^-3, Na = 0.000e+00 cm^-3, "
    "defects: 0\n"
    "  2 \"absorber\": d = 2 \xC2\xB5m, Eg = 1.15 eV, chi = 4.5 eV, Nd = 0.000e+00 cm^-3, Na = 2.000e+16 cm^-3, "
    "defects: 1\n"
    "Interfaces with defects:\n"
    "  1 \"w/a\" (layers 1 and 2): defects: 1\n";

TEST_F(Run, ADefinitionFileIsLoadedAndReported) {
  WriteWholeFile(home_ + "/def/two layer.def", kTwoLayerCell);
  EXPECT_EQ(Zoniq({"two", "layer.def"}), kExitOk) << err_.str();
  EXPECT_TRUE(ui_.popups.empty());
  EXPECT_EQ(out_.str(), "Problem: " + home_ + "/def/two layer.def\n" + kTwoLayerReport);

  // Of two definition files only the second is loaded: the first need not even exist.
  EXPECT_EQ(Zoniq({"missing.def", "two", "layer.def"}), kExitOk) << err_.str();
  EXPECT_TRUE(ui_.popups.empty());

  // A folder given with backslashes.
  fs::create_directories("cells");
  WriteWholeFile("cells/two layer.DEF", kTwoLayerCell);  // an extension in capitals is recognised
  const std::string cells = (fs::current_path() / "cells").string();
  EXPECT_EQ(Zoniq({cells + "\\two", "layer.DEF"}), kExitOk) << err_.str();
  EXPECT_EQ(out_.str(), "Problem: " + cells + "\\two layer.DEF\n" + kTwoLayerReport);
}

TEST_F(Run, AFailedLoadKeepsTheCellLoadedBefore) {
  WriteWholeFile(home_ + "/def/good.def", kTwoLayerCell);
  WriteWholeFile(home_ + "/def/empty.def", "");
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
    ui_.popups.clear();
    EXPECT_LT(Laad_data_uit_file(session, bad), 0) << bad;
    EXPECT_FALSE(ui_.popups.empty()) << bad;
    EXPECT_EQ(session.zonnecel, before) << bad;
    EXPECT_EQ(session.parameterset1, set1Before) << bad;
    EXPECT_EQ(session.problemName, home_ + "/def/good.def") << bad;
  }
}

TEST_F(Run, TerminateReportsCountsItCannotWrite) {
  fs::create_directories("counts.txt");  // a folder in the way of the file
  Session session(home_, std::make_unique<test::ForwardingUserInterface>(ui_));
  Initialise(session);
  EXPECT_EQ(Terminate(session), -1);
  ASSERT_EQ(ui_.popups.size(), 1u);
  EXPECT_EQ(ui_.popups[0].title, "Error whilst saving the function-call counts");
  // The whole run still ends normally: the counts are statistics, not results.
  ui_.popups.clear();
  EXPECT_EQ(Zoniq({}), kExitOk);
  EXPECT_EQ(ui_.popups.size(), 1u);
}

TEST(Report, GradedPropertiesShowTheirEndValues) {
  Session s("/opt/zq", std::make_unique<RecordingUserInterface>());
  s.zonnecel.numberOfLayers = 1;
  LayerParameters& L = s.zonnecel.layer[0];
  L.name = "graded";
  L.d = 1.5;
  // Composition-graded band gap: pure A 1.0 eV, pure B 1.7 eV.
  L.Eg.law = LAW_LINEAR;
  L.Eg.dependence = DEP_COMPOSITION;
  L.Eg.p[0] = 1.0;
  L.Eg.p[1] = 1.7;
  // Uniform affinity: the pure-A value.
  L.chi.law = LAW_UNIFORM;
  L.chi.dependence = DEP_COMPOSITION;
  L.chi.p[0] = 4.2;
  L.chi.p[1] = 9.9;
  // Position-graded donors from 1e15 (left) to 1e17 (right).
  L.Nd.law = LAW_LOGARITHMIC;
  L.Nd.dependence = DEP_POSITION;
  L.Nd.p[5] = 1e15;
  L.Nd.p[6] = 1e17;
  // Law 11 over position: the mean of the two sides, (1e16 + 3e16) / 2.
  L.Na.law = LAW_UNIFORM_Y;
  L.Na.dependence = DEP_POSITION;
  L.Na.p[5] = 1e16;
  L.Na.p[6] = 3e16;
  L.srhteller = 2;
  EXPECT_EQ(LoadedReport(s),
            "Problem: new problem\n"
            "Layers: 1\n"
            "  1 \"graded\": d = 1.5 \xC2\xB5m, Eg = 1 .. 1.7 eV (graded in y), chi = 4.2 eV, "
            "Nd = 1.000e+15 .. 1.000e+17 cm^-3 (graded in x), Na = 2.000e+16 cm^-3, defects: 2\n"
            "Interfaces with defects: none\n");

  // A layer count outside the storage is never followed past it.
  s.zonnecel.numberOfLayers = 1000;
  EXPECT_NE(LoadedReport(s).find("Layers: 7\n"), std::string::npos);
  s.zonnecel.numberOfLayers = -4;
  EXPECT_NE(LoadedReport(s).find("Layers: 0\n"), std::string::npos);
}

TEST(Version, BannerLayout) {
  EXPECT_EQ(MakeVersionBanner("/usr/bin/zoniq", DateTime{3, 7, 2024, 9, 5, 7}),
            "ZONIQ 3.2.00 NORVALE: Version /usr/bin/zoniq dated 03-07-2024, 09:05:07");
}

}  // namespace
}  // namespace zoniq
