#include "app/main_program.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <sstream>
#include <vector>

#include "app/command_line.hpp"
#include "app/program_folder.hpp"
#include "app/run_summary.hpp"
#include "app/session.hpp"
#include "measure/simulation_driver.hpp"
#include "plot/plot_render.hpp"
#include "script/script_batch.hpp"
#include "common/text.hpp"
#include "celldef/parameter_catalogue.hpp"
#include "settings/settings_files.hpp"

namespace zoniq {

std::string MakeVersionBanner(std::string_view programPath, const DateTime& t) {
  std::string banner = "ZONIQ 3.2.00 NORVALE: Version ";
  banner += programPath;
  banner += " dated " + DateText(t) + ", " + TimeText(t);
  return banner;
}

DateTime ProgramFileTime(std::string_view programPath) {
  if (const std::optional<DateTime> t = FileModificationTime(ExecutablePath(programPath))) return *t;
  if (const std::optional<DateTime> t = FileModificationTime(programPath)) return *t;
  // Neither file found: the instant 0.
  return LocalDateTime(0).value_or(DateTime{});
}

std::string VersionText(const DateTime& programFileTime) {
  return "ZONIQ 3.2.00 (program file dated " + DateText(programFileTime) + ", " + TimeText(programFileTime) + ")";
}

std::string UsageText() {
  return "Usage: zoniq [FILE]...\n"
         "       zoniq --help | --version\n"
         "\n"
         "ZONIQ simulates one-dimensional semiconductor devices such as thin-film solar cells.\n"
         "The files named on the command line are recognised by their extension (in any case)\n"
         "and loaded in this order:\n"
         "  .def  .definition   cell definition\n"
         "  .act  .action       action list\n"
         "  .wp2                initial working point\n"
         "  .zon  .zoniq        program settings\n"
         "  .spe  .spectrum     illumination spectrum\n"
         "  .gen  .generation   generation profile\n"
         "  .sbf  .batch        batch settings\n"
         "  .srf  .record       record settings\n"
         "  .scr  .script       script (run at once)\n"
         "A name ends at the dot of its extension, so it may contain blanks and other dots\n"
         "(zoniq my cell.def loads \"my cell.def\"). Of two files of one kind the later is used;\n"
         "other extensions are ignored. A name without a folder is looked for in the sub-folder\n"
         "of its kind in the program folder (def, spectrum, generation, bdf, script); a name\n"
         "with a folder ('/' or '\\') is used as given.\n"
         "\n"
         "Program folder: $ZONIQ_HOME when set; otherwise <prefix>/share/zoniq for an installed\n"
         "<prefix>/bin/zoniq; otherwise the home folder of the source tree it was built from.\n"
         "\n"
         "Options:\n"
         "  -h, --help     show this text and exit\n"
         "  -V, --version  show the version and exit\n"
         "  --             every word after it belongs to a file name\n"
         "  --light        illuminate the working point (spectrum: the .spe file named, else\n"
         "                 \"AM1_5G 1 sun.spe\")\n"
         "  --iv START:STOP:POINTS\n"
         "                 switch the I-V sweep on from START to STOP volts in POINTS points\n"
         "  --calculate    run one simulation of the loaded cell and print Voc, Jsc, FF, eta,\n"
         "                 Vmpp and Jmpp; with a batch loaded, run the batch (recorded when\n"
         "                 a record file is loaded) and print the recorded table\n"
         "  --plots DIR    with --calculate: write a PNG picture of every graph panel that\n"
         "                 holds results (eb, genrec, iv, grading, ...) as DIR/<panel>.png\n"
         "  --jobs N       run independent batch steps on N worker threads (default 1); the\n"
         "                 results are the same as those of a serial run\n"
         "  --quiet        no progress lines of a batch on standard error\n"
         "  --output DIR   write result files named without a folder into DIR (made when\n"
         "                 missing); default: the program folder's results folder, or the\n"
         "                 current folder for an installed program or when that folder\n"
         "                 cannot be written\n"
         "  --summary FILE append one CSV line per simulation of this run to FILE (cell\n"
         "                 parameters and whether the result is complete)\n"
         "  --list-parameters\n"
         "                 list every cell parameter name a script can set, with its unit\n"
         "\n"
         "Files written in the current folder: counts.txt (function-call counts) and, when\n"
         "error messages are logged, ZONIQErrorLogFile.log.\n"
         "\n"
         "Exit status:\n"
         "  0  every file named was loaded and every simulation asked for is complete\n"
         "  1  a file named on the command line could not be loaded\n"
         "  2  unknown option\n"
         "  3  internal error (out of memory)\n"
         "  4  the simulation asked for with --calculate gave no complete result (abandoned,\n"
         "     working point not converged, or an I-V sweep that stopped early)\n"
         "  5  a step of the batch failed, or the script ran but reported errors (on standard\n"
         "     error, or in the error log when the script chose one with set errorhandling)\n"
         "  6  a picture asked for with --plots could not be written\n";
}

void Initialise(Session& s) {
  // The routines initialised first log their complaints to a fresh file: no pop-up can be
  // answered before the panels run.
  s.errors.ErrorMessageMode = 2;
  s.QuitScriptMode = 0;
  InitialiseScriptVariables(s.theScript);
  s.scriptPlots.clear();
  s.errors.ErrorMessageMode = 0;
  s.errors.ErrorMessageNumber = 0;
  s.errors.CloseLog();
  s.ActionListMode = 0;

  static_cast<CellState&>(s) = CellState{};  // the default cell, "new problem"
  InitialiseSimulationState(s, s.programFolder);
  s.solverContext.counter = &s.counter;
  InitialiseBatch(s.theBatch);
  InitialiseCurveFitter(s.theCurveFitter);
  s.theRecorder = RecorderSetup{};

  s.plotColours = kPlotPalette;
  s.ui->StatusMessage("ZONIQ initialised");
  s.META_Mode = 0;
}

int Terminate(Session& s) {
  int result = 0;
  if (!s.counter.WriteCountsFile("counts.txt")) {
    s.Error("Error whilst saving the function-call counts", "counts.txt cannot be written in the current folder.");
    result = -1;
  }
  s.errors.CloseLog();
  return result;
}

namespace {

std::string Number(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

// The value of a graded property as it shows in a short report: one value when the layer is
// uniform in it, the two end values (left..right or pure A..pure B) when graded.
std::string ProfileText(const Profile& p, const char* format, const char* unit) {
  const std::string u = std::string(" ") + unit;
  if (p.dependence == DEP_POSITION) {
    if (p.law == LAW_UNIFORM) return Number(format, p.p[5]) + u;
    if (p.law == LAW_UNIFORM_B) return Number(format, p.p[6]) + u;
    if (p.law == LAW_UNIFORM_Y) return Number(format, 0.5 * (p.p[5] + p.p[6])) + u;
    return Number(format, p.p[5]) + " .. " + Number(format, p.p[6]) + u + " (graded in x)";
  }
  if (p.law == LAW_UNIFORM) return Number(format, p.p[0]) + u;
  return Number(format, p.p[0]) + " .. " + Number(format, p.p[1]) + u + " (graded in y)";
}

}  // namespace

std::string LoadedReport(const Session& s) {
  const CellDefinition& cell = s.zonnecel;
  std::ostringstream r;
  r << "Problem: " << s.problemName << "\n";
  // The spectrum is worth reporting when it is not the standard one the working point starts with.
  WorkPoint standard;
  InitialiseWorkPoint(standard, s.programFolder);
  if (!s.wp.spectrumFile.empty() && s.wp.spectrumFile != standard.spectrumFile) r << "Spectrum: " << s.wp.spectrumFile << "\n";
  const int layers = std::clamp(cell.numberOfLayers, 0, MAXLAYERS);
  r << "Layers: " << layers << "\n";
  for (int i = 0; i < layers; ++i) {
    const LayerParameters& L = cell.layer[i];
    r << "  " << i + 1 << " \"" << L.name << "\": d = " << Number("%.4g", L.d)
      << " \xC2\xB5m, Eg = " << ProfileText(L.Eg, "%.4g", "eV") << ", chi = " << ProfileText(L.chi, "%.4g", "eV")
      << ", Nd = " << ProfileText(L.Nd, "%.3e", "cm^-3") << ", Na = " << ProfileText(L.Na, "%.3e", "cm^-3")
      << ", defects: " << L.srhteller << "\n";
  }
  std::ostringstream ifaces;
  for (int i = 0; i + 1 < layers && i < MAXINTERFACES; ++i) {
    const InterfaceParameters& I = cell.interface[i];
    if (I.numberOfDefects <= 0) continue;
    ifaces << "  " << i + 1 << " \"" << I.interfacename << "\" (layers " << i + 1 << " and " << i + 2
           << "): defects: " << I.numberOfDefects << "\n";
  }
  const std::string ifaceText = ifaces.str();
  r << "Interfaces with defects:" << (ifaceText.empty() ? " none\n" : "\n" + ifaceText);
  return r.str();
}

namespace {

// A word is an option when it starts with '-', has more than that one character and no dot
// (a dot makes it part of a file name).
bool IsOptionWord(const std::string& w) { return w.size() >= 2 && w[0] == '-' && w.find('.') == std::string::npos; }

int Run(int argc, const char* const* argv, std::unique_ptr<UserInterface> ui, const RunOptions& options) {
  std::ostream& out = options.out ? *options.out : std::cout;
  std::ostream& err = options.err ? *options.err : std::cerr;
  const std::string programPath = (argc > 0 && argv && argv[0]) ? argv[0] : "zoniq";

  bool help = false, version = false, optionsEnded = false, listParameters = false;
  bool calculate = false, light = false, quiet = false;
  int jobs = 1;
  std::string ivRange, badRange, badJobs;
  std::string unknownOption, missingValue;
  std::string outputFolder, summaryFile;
  std::string plotsFolder;
  bool plotsMissing = false;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i] ? argv[i] : "";
    // An option with a value: "--name VALUE" or "--name=VALUE".
    auto valueOf = [&](const char* name, std::string& value) {
      const std::string n = name;
      if (word == n) {
        // The next word is the value unless it is empty or another option ("--output --calculate").
        if (i + 1 < argc && argv[i + 1] && argv[i + 1][0] != '\0' && std::string_view(argv[i + 1]).rfind("--", 0) != 0)
          value = argv[++i];
        else if (missingValue.empty())
          missingValue = n;
        return true;
      }
      if (word.rfind(n + "=", 0) == 0) {
        value = word.substr(n.size() + 1);
        if (value.empty() && missingValue.empty()) missingValue = n;
        return true;
      }
      return false;
    };
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (valueOf("--output", outputFolder) || valueOf("--summary", summaryFile))) {
    } else if (!optionsEnded && (word == "--iv" || word.rfind("--iv=", 0) == 0)) {
      const std::string range = word == "--iv" ? (i + 1 < argc && argv[i + 1] ? argv[++i] : "") : word.substr(5);
      VoltageSweepAction check;
      if (ParseSweepRange(range, check))
        ivRange = range;
      else if (badRange.empty())
        badRange = range.empty() ? "(nothing)" : range;
    } else if (!optionsEnded && (word == "--plots" || word.rfind("--plots=", 0) == 0)) {
      plotsFolder = word == "--plots" ? (i + 1 < argc && argv[i + 1] ? argv[++i] : "") : word.substr(8);
      if (plotsFolder.empty()) plotsMissing = true;
    } else if (!optionsEnded && (word == "--jobs" || word.rfind("--jobs=", 0) == 0)) {
      const std::string n = word == "--jobs" ? (i + 1 < argc && argv[i + 1] ? argv[++i] : "") : word.substr(7);
      double v = 0.0;
      bool finite = true;
      if (!n.empty() && ScanNumberAt(n, v, finite) == n.size() && v == std::floor(v) && v >= 1 && v <= 256)
        jobs = static_cast<int>(v);
      else if (badJobs.empty())
        badJobs = n.empty() ? "(nothing)" : n;
    } else if (!optionsEnded && IsOptionWord(word)) {
      if (word == "-h" || word == "--help")
        help = true;
      else if (word == "-V" || word == "--version")
        version = true;
      else if (word == "--calculate")
        calculate = true;
      else if (word == "--light")
        light = true;
      else if (word == "--quiet")
        quiet = true;
      else if (word == "--list-parameters")
        listParameters = true;
      else if (unknownOption.empty())
        unknownOption = word;
    } else {
      words.push_back(word);
    }
  }
  if (help) {
    out << UsageText();
    return kExitOk;
  }
  if (!unknownOption.empty()) {
    err << "zoniq: unknown option '" << unknownOption << "'\nTry 'zoniq --help'.\n";
    return kExitUsage;
  }
  if (!missingValue.empty()) {
    err << "zoniq: " << missingValue << " needs a value\nTry 'zoniq --help'.\n";
    return kExitUsage;
  }
  if (listParameters) {
    out << ListParametersText();
    return kExitOk;
  }
  if (!ivRange.empty()) {
    // Millivolts typed for volts ("-200:1000:21") would run the solver towards ±1000 V.
    VoltageSweepAction check;
    ParseSweepRange(ivRange, check);
    if (std::fabs(check.startV) > kMaxPlausibleBias || std::fabs(check.stopV) > kMaxPlausibleBias) {
      err << "zoniq: --iv " << ivRange << ": a bias beyond " << kMaxPlausibleBias
          << " V is not plausible for a solar cell; the range is in volts (-0.2:0.8:41), not millivolts\n";
      return kExitUsage;
    }
  }
  if (!badRange.empty()) {
    err << "zoniq: --iv needs START:STOP:POINTS (volts, volts, " << std::to_string(kMinSweepPoints) << " to "
        << std::to_string(kMaxSweepPoints) << " points), not '" << badRange << "'\nTry 'zoniq --help'.\n";
    return kExitUsage;
  }
  if (plotsMissing || (!plotsFolder.empty() && !calculate)) {
    err << "zoniq: --plots needs a folder and --calculate (zoniq CELL.def --calculate --plots DIR)\nTry 'zoniq "
           "--help'.\n";
    return kExitUsage;
  }
  if (!badJobs.empty()) {
    err << "zoniq: --jobs needs a whole number of worker threads from 1 to 256, not '" << badJobs
        << "'\nTry 'zoniq --help'.\n";
    return kExitUsage;
  }
  const DateTime programTime = ProgramFileTime(programPath);
  const std::string banner = MakeVersionBanner(programPath, programTime);
  if (version) {
    out << VersionText(programTime) << "\n";
    return kExitOk;
  }

  const std::string folder = options.programFolder.empty() ? FindProgramFolder(programPath) : options.programFolder;
  Session session(folder, std::move(ui));
  session.VERSION = banner;
  Initialise(session);
  if (!outputFolder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(outputFolder, ec);
    if (!std::filesystem::is_directory(outputFolder, ec)) {
      err << "zoniq: --output " << outputFolder << ": the folder cannot be made\n";
      return kExitUsage;
    }
    session.outputFolder = outputFolder;
  } else if (IsInstalledProgramFolder(folder)) {
    session.outputFolder = ".";
  }
  session.scriptShowOutput = &out;  // "show" of a script without panels
  session.batchJobs = jobs;
  session.batchQuiet = quiet ? 1 : 0;
  session.batchProgress = &err;
  const CommandLineOutcome outcome = ProcessCommandLine(session, words);
  if (light) session.wp.dark = 0;
  if (!ivRange.empty()) ParseSweepRange(ivRange, session.actie.iv);

  // Without an interactive user interface the run shows what it loaded and ends.
  out << LoadedReport(session);
  out.flush();
  if (outcome.filesNamed == 0 && outcome.notLoaded.empty())
    err << "zoniq: no file named on the command line (see 'zoniq --help').\n";
  if (!outcome.notLoaded.empty()) {
    err << "zoniq: " << outcome.notLoaded.size() << (outcome.notLoaded.size() == 1 ? " file" : " files")
        << " named on the command line not loaded:\n";
    for (const std::string& f : outcome.notLoaded) err << "  " << f << "\n";
    for (const std::string& where : outcome.lookedIn) err << "  " << where << "\n";
  }
  bool incomplete = false, stepsFailed = false;
  if (calculate && !outcome.notLoaded.empty()) {
    // Simulating whatever happened to be loaded (often the empty default cell) would print
    // numbers that belong to no file the user named.
    err << "zoniq: nothing simulated, since a file named on the command line was not loaded.\n";
  } else if (calculate && (session.theBatch.numberOfParameters > 0 || session.theBatch.variationOfDefinitionFiles)) {
    // A loaded batch runs as a whole; with recorder parameters it is recorded.
    const bool recording = !session.theRecorder.parameters.empty();
    SimulateRunners runners;
    runners.batch = [&session] { return RunSessionBatch(session, false); };
    runners.batchRecording = [&session] { return RunSessionBatch(session, true); };
    Simulate(session, session, session.env(), recording ? kModeBatchRecording : kModeBatch, runners);
    if (recording && !session.theRecorder.steps.empty()) {
      out << RecorderTableHeading(session.theRecorder);
      for (const RecordedStep& step : session.theRecorder.steps) out << RecorderTableRow(session.theRecorder, step);
    }
    out.flush();
    incomplete = session.lastBatch.refused;
    stepsFailed = session.lastBatch.failed > 0 || session.lastBatch.stopped;
  } else if (calculate) {
    const std::size_t before = session.simulaties.size();
    Simulate(session, session, session.env(), kModeSingleShot);
    out << CellParametersReport(session);
    out.flush();
    incomplete = !SimulationComplete(session, before);
    if (incomplete && session.lastSimulationResult == 0)
      err << "zoniq: the simulation did not produce a complete result (see the messages above).\n";
  }
  int status = kExitOk;
  if (!outcome.notLoaded.empty())
    status = kExitNotLoaded;
  else if (outcome.scriptMessages > 0 || stepsFailed)
    status = kExitScriptErrors;
  else if (incomplete)
    status = kExitSimulationFailed;
  if (!summaryFile.empty() && AppendSummary(summaryFile, session, status) != 0) {
    err << "zoniq: the summary file " << summaryFile << " cannot be written\n";
    if (status == kExitOk) status = kExitNotLoaded;
  }
  bool picturesFailed = false;
  if (!plotsFolder.empty()) {
    std::vector<std::string> written;
    std::string why;
    const RecordedResults recorded = RecordedResultsOf(session.theRecorder);
    picturesFailed = !WritePanelPictures(session, plotsFolder, written, why, &recorded);
    for (const std::string& path : written) out << "Picture: " << path << "\n";
    if (picturesFailed) session.Error("Error whilst writing the pictures", why);
    out.flush();
  }
  Terminate(session);
  if (status == kExitOk && picturesFailed) status = kExitPicturesFailed;
  return status;
}

}  // namespace

int RunZoniq(int argc, const char* const* argv, std::unique_ptr<UserInterface> ui, const RunOptions& options) {
  std::ostream& err = options.err ? *options.err : std::cerr;
  try {
    return Run(argc, argv, std::move(ui), options);
  } catch (const std::bad_alloc&) {
    err << "zoniq: Assertion failed: memory allocation (out of memory)\n";
  } catch (const std::exception& e) {
    err << "zoniq: Assertion failed: " << e.what() << "\n";
  }
  return kExitInternal;
}

}  // namespace zoniq
