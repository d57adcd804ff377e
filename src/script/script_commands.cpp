#include "script/script_commands.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "batch/graded_overview.hpp"
#include "celldef/cell_parameters.hpp"
#include "celldef/definition_file.hpp"
#include "celldef/parameter_catalogue.hpp"
#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"
#include "measure/admittance_analysis.hpp"
#include "measure/simulation_driver.hpp"
#include "output/admittance_file.hpp"
#include "output/band_diagram.hpp"
#include "output/csv_files.hpp"
#include "output/generation_profiles.hpp"
#include "output/result_files.hpp"
#include "plot/figure_model.hpp"
#include "plot/plot_render.hpp"
#include "script/script_admittance.hpp"
#include "script/script_batch.hpp"
#include "script/script_fit.hpp"
#include "script/script_measurements.hpp"
#include "script/script_values.hpp"
#include "script/user_function.hpp"
#include "settings/settings_files.hpp"

namespace zoniq {

namespace {

constexpr double kBoltzmann_eV = 8.617333262e-5;  // [eV/K]

std::string S(std::string_view v) { return std::string(v); }

std::string NotAvailableText(std::string_view line, std::string_view what) {
  return "Script command: " + S(line) + "\n" + S(what) + " is not available yet in this version of ZONIQ";
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(NativePath(path), ec);
}

}  // namespace

std::string ResultFilePath(const SessionCore& core, const std::string& name) {
  std::error_code ec;
  if (!core.outputFolder.empty()) {
    std::filesystem::create_directories(NativePath(core.outputFolder), ec);
    return JoinPath(core.outputFolder, name);
  }
  // The shipped "results" folder may be missing (a fresh clone) and an installed program
  // folder is not the user's to write: then the current folder takes the files.
  const std::string results = JoinPath(core.programFolder, kResultsFolder);
  std::filesystem::create_directories(NativePath(results), ec);
  if (std::filesystem::is_directory(NativePath(results), ec) && ::access(NativePath(results).c_str(), W_OK) == 0)
    return JoinPath(results, name);
  return "./" + name;
}

namespace {

constexpr const char* kLoadTitle = "Error whilst processing load command in script";
constexpr const char* kSaveTitle = "Error whilst processing save command in script";

}  // namespace

// A file name of a save command: the default file name when none is given, and the kind's
// extension when the name has none; resolved in the folder of the kind. Empty (reported)
// when the script may not write there.
std::optional<std::string> OutputPath(const ScriptContext& ctx, std::string_view fileName, int kind,
                                      const char* extension, std::string_view line) {
  std::string name = Trim(fileName);
  if (name.empty()) name = ctx.script.theScript.defaultfilename;
  if (FileNamePart(name).find('.') == std::string::npos) name += extension;
  if (ctx.script.writeOnlyInProgramFolder && HasDirectory(name)) {
    ctx.env().Error(
        "Error whilst processing save command in script",
        "Script command: " + S(line) + "\nThis run writes files only into the folders of the program folder: " + name);
    return std::nullopt;
  }
  std::string full;
  if (!HasDirectory(name) && std::string_view(SubFolderOfKind(kind)) == kResultsFolder)
    return ResultFilePath(ctx.core, name);
  CheckZONIQPaths(ctx.core.programFolder, &full, nullptr, name, kind);
  return full;
}

int ProcessLoadCommand(ScriptContext& ctx, std::string_view argument, std::string_view fileNameText,
                       std::string_view line) {
  const Environment env = ctx.env();
  const std::string fileName = Trim(fileNameText);
  SimulationState& sim = ctx.sim;
  auto notAvailable = [&](const char* what) {
    env.Error(kLoadTitle, NotAvailableText(line, what));
    return -1;
  };
  if (StartsWithNoCase(argument, "definition")) {
    if (!ctx.hooks.loadDefinition) return notAvailable("Loading definition files from a script");
    return ctx.hooks.loadDefinition(fileName) < 0 ? -1 : 0;
  }
  if (StartsWithNoCase(argument, "action"))
    return SetActionPanelFromFile(env, fileName, sim.wp, sim.secondwp, sim.actie, sim.actieExtras) < 0 ? -1 : 0;
  if (StartsWithNoCase(argument, "initialw")) return SetWP2FromFile(env, fileName, sim.secondwp) < 0 ? -1 : 0;
  if (StartsWithNoCase(argument, "fit") || StartsWithNoCase(argument, "setting.fit"))
    return ProcessLoadFitCommand(ctx, fileName, line);
  if (StartsWithNoCase(argument, "batch") || StartsWithNoCase(argument, "singleshotbatch") ||
      StartsWithNoCase(argument, "record") || StartsWithNoCase(argument, "allzoniq") ||
      StartsWithNoCase(argument, "zoniq"))
    return ProcessLoadBatchCommand(ctx, argument, fileName, line);
  if (StartsWithNoCase(argument, "spectrum") || StartsWithNoCase(argument, "generation")) {
    const bool spectrum = StartsWithNoCase(argument, "spectrum");
    std::string full, part;
    CheckZONIQPaths(ctx.core.programFolder, &full, &part, fileName, spectrum ? FK_SPECTRUM : FK_GENERATION);
    if (fileName.empty() || !FileExists(full)) {
      env.Error(kLoadTitle, "Script command: " + S(line) + "\n" + (spectrum ? "Spectrum" : "Generation") +
                                " file not found: " + full);
      return -1;
    }
    // The file becomes the working point's illumination and is used from now on.
    if (spectrum) {
      sim.wp.spectrumFile = full;
      sim.wp.spectrumName = "\\" + part;
      sim.wp.generationFromFile = 0;
    } else {
      sim.wp.generationFile = full;
      sim.wp.generationName = "\\" + part;
      sim.wp.generationFromFile = 1;
    }
    sim.kortberekend = sim.werkberekend = 0;
    return 0;
  }
  if (StartsWithNoCase(argument, "measurement")) return ProcessLoadMeasurement(ctx, argument, fileName, line);
  env.Error(kLoadTitle, "Script command: load " + S(argument) + " " + fileName + "\nCommand not recognised");
  return -1;
}

// ---- save ----

namespace {

struct OpenedOutput {
  FilePtr file;
  std::string path;
};

OpenedOutput OpenOutput(const ScriptContext& ctx, std::string_view fileName, int kind, const char* extension,
                        std::string_view line) {
  OpenedOutput out;
  const std::optional<std::string> path = OutputPath(ctx, fileName, kind, extension, line);
  if (!path) return out;
  out.path = *path;
  out.file = OpenFile(NativePath(out.path), "wb");
  if (!out.file)
    ctx.env().Error(kSaveTitle, "Script command: " + S(line) + "\nThe file cannot be written: " + out.path);
  return out;
}

// The overview of graded variables of the present solution: the material the solver really
// uses at every mesh point, and its absorption per wavelength.
int SaveGradedOverview(ScriptContext& ctx, std::string_view fileName, std::string_view line) {
  const Environment env = ctx.env();
  const CalculationVariables& cv = ctx.sim.currentCalcVars;
  if (IsCsvFileName(Trim(fileName))) {
    env.Error(kSaveTitle,
              "Script command: " + S(line) + "\nThe overview of graded variables is written in its own layout only");
    return -1;
  }
  if (ctx.sim.CurrentRecord() == nullptr || cv.par == nullptr || cv.mesh.N < 2) {
    env.Popup("Overview of graded variables", "No calculation made yet: nothing to save or show");
    return -1;
  }
  const std::string text = GradedVariablesText(cv, ctx.sim.CurrentRecord()->wp.problemName, ZONIQFileDateTime);
  OpenedOutput out = OpenOutput(ctx, fileName, FK_SAVE_OTHER, ".xls", line);
  if (!out.file) return -1;
  if (std::fwrite(text.data(), 1, text.size(), out.file.get()) != text.size() || std::fflush(out.file.get()) != 0) {
    env.Error(kSaveTitle, "Script command: " + S(line) + "\nThe file could not be written completely: " + out.path);
    return -1;
  }
  return 0;
}

int SaveResult(ScriptContext& ctx, std::string_view what, std::string_view fileName, std::string_view header,
               std::string_view line) {
  // Before the table: "gr" (generation-recombination) is a prefix of "graded".
  if (StartsWithNoCase(what, "graded")) return SaveGradedOverview(ctx, fileName, line);
  const Environment env = ctx.env();
  SimulationState& sim = ctx.sim;
  struct Kind {
    const char* keyword;
    int kind;
    const char* extension;
  };
  // "genrec" and "gr" both name the generation-recombination profiles.
  static constexpr Kind kKinds[] = {
      {"eb", FK_EB, ".eb"},        {"genrec", FK_GENREC, ".gen"}, {"gr", FK_GENREC, ".gen"},
      {"ac", FK_AC, ".ac"},        {"iv", FK_IV, ".iv"},          {"cv", FK_CV, ".cv"},
      {"cf", FK_CF, ".cf"},        {"qe", FK_QE, ".qe"},          {"record", FK_RECORDER, ".rcd"},
      {"as", FK_SAVE_OTHER, ".as"}};
  const Kind* kind = nullptr;
  for (const Kind& k : kKinds)
    if (StartsWithNoCase(what, k.keyword)) {
      kind = &k;
      break;
    }
  if (!kind) {
    env.Error(kSaveTitle, "Script command: save result." + S(what) + " " + S(fileName) + "\nCommand not recognised");
    return -1;
  }
  if (kind->kind == FK_RECORDER) return ProcessSaveRecorderResult(ctx, fileName, header, line);
  // The small-signal results (C-V, C-f, QE curves and the ac profiles) are written by their own
  // writers, which report a result that was never calculated.
  const bool admittance = kind->kind == FK_SAVE_OTHER;  // the admittance-spectroscopy analysis
  const bool smallSignal =
      kind->kind == FK_CV || kind->kind == FK_CF || kind->kind == FK_QE || kind->kind == FK_AC || admittance;
  if (admittance && IsCsvFileName(Trim(fileName))) {
    env.Error(kSaveTitle, "Script command: " + S(line) +
                              "\nThe admittance analysis is written in its own layout only: save it as .as");
    return -1;
  }
  if (kind->kind == FK_AC && IsCsvFileName(Trim(fileName))) {
    env.Error(kSaveTitle, "Script command: " + S(line) +
                              "\nThe small-signal profiles are written in their own layout only: save them as " +
                              kind->extension);
    return -1;
  }
  // Nothing calculated (or the calculation failed before it gave this result): the writer's
  // message says so, and no file is created to hold just the header.
  const bool haveResult =
      smallSignal || (kind->kind == FK_IV ? std::any_of(sim.simulaties.begin(), sim.simulaties.end(),
                                                        [](const SimulationRecord& r) { return r.iv.present != 0; })
                                          : sim.CurrentRecord() != nullptr && sim.currentCalcVars.par != nullptr &&
                                                sim.currentCalcVars.mesh.N > 1);
  if (!haveResult) {
    OutputContext none;
    none.env = &env;
    if (kind->kind == FK_IV)
      iv_naar_file({}, OutputTarget{kOutputOpenFile, nullptr}, none);
    else if (kind->kind == FK_EB)
      eb_naar_file(nullptr, sim.currentCalcVars, OutputTarget{kOutputOpenFile, nullptr}, none);
    else
      gen_naar_file(nullptr, sim.currentCalcVars, false, OutputTarget{kOutputOpenFile, nullptr}, none);
    return -1;
  }
  OutputContext oc;
  oc.env = &env;
  oc.header.version = ctx.core.VERSION;
  oc.actionListMode = ctx.core.ActionListMode;
  const bool csv = IsCsvFileName(Trim(fileName));
  const int messagesBefore = ctx.core.errors.messagesThisRun;
  // The whole text is made first: a file is created only when there is something to write.
  std::string text;
  if (csv) {
    const SimulationRecord* current = sim.CurrentRecord();
    const CalculationVariables& cv = sim.currentCalcVars;
    const bool solved = current != nullptr && cv.par != nullptr && cv.mesh.N > 1;
    if (kind->kind == FK_IV) {
      text = IVCsv(sim.simulaties);
      if (text.empty())
        env.Error("Function Save or Show", "No IV-calculation is made yet: nothing to save or to show !");
    } else if (kind->kind == FK_CV || kind->kind == FK_CF || kind->kind == FK_QE) {
      text = kind->kind == FK_CV   ? CVCsv(sim.simulaties)
             : kind->kind == FK_CF ? CfCsv(sim.simulaties)
                                   : QECsv(sim.simulaties);
      if (text.empty())
        env.Error("Function Save or Show", std::string("No ") +
                                               (kind->kind == FK_CV   ? "CV-calculation"
                                                : kind->kind == FK_CF ? "C-f calculation"
                                                                      : "QE calculation") +
                                               " is made yet: nothing to save or to show !");
    } else if (!solved) {
      env.Error(kind->kind == FK_EB ? "Function Save or Show Energy Bands"
                                    : "Function Save or Show Genreration/Recombination",
                "No calculation is made yet: nothing to save or to show !");
    } else if (kind->kind == FK_EB) {
      BandDiagramProfiles profiles;
      BandDiagramFromSolution(cv, current->wp.illuminatedFromRight != 0 ? +1 : -1, profiles);
      text = BandDiagramCsv(profiles);
    } else {
      text = TabTableToCsv(GenerationRecombinationTable(cv));
    }
  } else {
    FilePtr scratch(std::tmpfile());
    if (!scratch) {
      env.Error(kSaveTitle, "Script command: " + S(line) + "\nNo temporary file for the result could be made");
      return -1;
    }
    const OutputTarget target{kOutputOpenFile, scratch.get()};
    int result = kNothingWritten;
    const bool anyIV = std::any_of(sim.simulaties.begin(), sim.simulaties.end(),
                                   [](const SimulationRecord& r) { return r.iv.present != 0; });
    if (kind->kind == FK_IV && !anyIV)
      env.Error("Function Save or Show", "No IV-calculation is made yet: nothing to save or to show !");
    else if (kind->kind == FK_IV)
      result = iv_naar_file(sim.simulaties, target, oc);
    else if (kind->kind == FK_CV)
      result = cv_naar_file(sim.simulaties, target, oc);
    else if (kind->kind == FK_CF)
      result = cf_naar_file(sim.simulaties, target, oc);
    else if (kind->kind == FK_QE)
      result = qe_naar_file(sim.simulaties, target, oc);
    else if (admittance)
      result = AS_naar_file(sim.simulaties, sim.admittanceSettings, ctx.cell.mottSchottky, target, oc);
    else if (kind->kind == FK_AC)
      result = ac_naar_file(sim.CurrentRecord(), sim.currentCalcVars, sim.acValid ? &sim.ac : nullptr, sim.acOmega,
                            sim.acBias, target, oc);
    else if (kind->kind == FK_EB)
      result = eb_naar_file(sim.CurrentRecord(), sim.currentCalcVars, target, oc);
    else
      result = gen_naar_file(sim.CurrentRecord(), sim.currentCalcVars, false, target, oc);
    if (result == kWritten) {
      text = S(header) + "\n";
      std::rewind(scratch.get());
      char buf[4096];
      std::size_t n = 0;
      while ((n = std::fread(buf, 1, sizeof buf, scratch.get())) > 0) text.append(buf, n);
    }
  }
  if (text.empty()) {
    // Nothing of this kind calculated: no file. The writers report most cases themselves.
    if (ctx.core.errors.messagesThisRun == messagesBefore)
      env.Error("Function Save or Show", std::string("No ") + (kind->kind == FK_IV ? "IV-calculation" : "calculation") +
                                             " is made yet: nothing to save or to show !");
    return -1;
  }
  OpenedOutput out = OpenOutput(ctx, fileName, kind->kind, kind->extension, line);
  if (!out.file) return -1;
  if (std::fwrite(text.data(), 1, text.size(), out.file.get()) != text.size() || std::fflush(out.file.get()) != 0 ||
      std::ferror(out.file.get())) {
    env.Error(kSaveTitle, "Script command: " + S(line) + "\nThe file could not be written completely: " + out.path);
    return -1;
  }
  return 0;
}

}  // namespace

int ProcessSaveCommand(ScriptContext& ctx, std::string_view argument, std::string_view fileName,
                       std::string_view header, std::string_view line) {
  const Environment env = ctx.env();
  std::string a1, a2, a3, a4;
  InterpretScriptVariable(argument, a1, a2, a3, a4);
  auto notRecognised = [&] {
    env.Error(kSaveTitle, "Script command: save " + S(argument) + " " + S(fileName) + "\nCommand not recognised");
    return -1;
  };
  if (StartsWithNoCase(a1, "setting")) {
    SimulationState& sim = ctx.sim;
    CellState& cell = ctx.cell;
    if (StartsWithNoCase(a2, "definition")) {
      const std::optional<std::string> path = OutputPath(ctx, fileName, FK_DEF, ".def", line);
      if (!path) return -1;
      // The definition file carries the illumination side and external circuit of the
      // working point.
      DefinitionExtras extras = cell.definitionExtras;
      extras.workPoint.illuminatedFromRight = sim.wp.illuminatedFromRight;
      extras.workPoint.RsPresent = sim.wp.RsPresent;
      extras.workPoint.Rs = sim.wp.Rs;
      extras.workPoint.GshPresent = sim.wp.RshPresent;
      extras.workPoint.Gsh = sim.wp.Gsh;
      InputParameters set1 = cell.parameterset1;
      if (SaveDefinitionFileToPath(env, NativePath(*path), cell.zonnecel, set1, cell.mottSchottky, extras,
                                   ctx.core.VERSION, NowLocal()) != 0)
        return -1;
      cell.parameterset1 = std::move(set1);
      cell.definitionExtras = std::move(extras);
      return 0;
    }
    if (StartsWithNoCase(a2, "action")) {
      const std::optional<std::string> path = OutputPath(ctx, fileName, FK_ACTION, ".act", line);
      if (!path) return -1;
      const HeaderInfo info = MakeHeaderInfo(ctx.core.VERSION, cell.problemName);
      return SaveActionListToPath(env, *path, info, sim.wp, sim.secondwp, sim.actie, sim.actieExtras) == 0 ? 0 : -1;
    }
    if (StartsWithNoCase(a2, "batch") || StartsWithNoCase(a2, "record") || StartsWithNoCase(a2, "allzoniq") ||
        StartsWithNoCase(a2, "zoniq"))
      return ProcessSaveBatchSetting(ctx, a2, fileName, line);
    if (StartsWithNoCase(a2, "fit")) return ProcessSaveFitSetting(ctx, fileName, line);
    return notRecognised();
  }
  if (StartsWithNoCase(a1, "result") && StartsWithNoCase(a2, "fit"))
    return ProcessSaveFitResult(ctx, fileName, header, line);
  if (StartsWithNoCase(a1, "result")) return SaveResult(ctx, a2, fileName, header, line);
  if (StartsWithNoCase(a1, "graph")) {
    // graph.<panel>.<graph or "whole">[.<part>]: a picture of the panel or of one graph.
    const std::optional<GraphSelection> selection = SelectGraphs(a2, a3, a4);
    if (!selection) return notRecognised();
    const std::optional<std::string> path = OutputPath(ctx, fileName, FK_SAVE_OTHER, ".png", line);
    if (!path) return -1;
    PictureOptions options;
    if (!PictureFormatOfFile(*path, options.format)) {
      env.Error(kSaveTitle, "Script command: " + S(line) +
                                "\nPictures are written as PNG (.png) or SVG (.svg) files, not as " + *path);
      return -1;
    }
    BandDiagramProfiles bands;
    PlotSources sources = SourcesFromSimulation(ctx.sim, bands);
    RecordedResults recorded;
    if (ctx.batch) {
      recorded = RecordedResultsOf(ctx.batch->theRecorder);
      sources.recorded = &recorded;
    }
    if (std::string_view(PanelTable()[static_cast<std::size_t>(selection->panel)].keyword) == "as") {
      // The admittance analysis as the present settings give it, of curves added since the last
      // one too; measured C-f curves are analysed with the same settings.
      Calculate_AS(ctx.sim.simulaties, ctx.sim.admittanceSettings, ctx.cell.mottSchottky, &env);
      sources.measurements = ctx.measurements;
      sources.mottSchottky = &ctx.cell.mottSchottky;
    }
    const PlotPanel panel = BuildPanel(selection->panel, sources);
    std::string why;
    if (!WritePicture(SelectedGraphs(panel, selection->graphs), options, *path, why)) {
      env.Error(kSaveTitle, "Script command: " + S(line) + "\n" + why);
      return -1;
    }
    return 0;
  }
  if (StartsWithNoCase(a1, "scriptvar")) {
    // Nothing plotted: reported before a file is created.
    std::string why;
    if (ScriptResultsText(ctx.script, NowLocal(), &why).empty()) {
      env.Error("Script Save or Show", why);
      return -1;
    }
    OpenedOutput out = OpenOutput(ctx, fileName, FK_SCRIPTVAR, ".xls", line);
    if (!out.file) return -1;
    if (scriptresults_naar_file(ctx.script, out.file.get(), env) != 0 || std::fflush(out.file.get()) != 0) {
      env.Error(kSaveTitle, "Script command: " + S(line) + "\nThe file could not be written completely: " + out.path);
      return -1;
    }
    return 0;
  }
  return notRecognised();
}

// ---- set ----

namespace {

constexpr const char* kSetTitle = "Error whilst processing set command in script";

int SetError(const Environment& env, std::string_view line, const std::string& reason) {
  env.Error(kSetTitle, "Script command: " + S(line) + "\n" + reason);
  return -1;
}

std::optional<double> PositiveValue(const ScriptContext& ctx, std::string_view rest, std::string_view line,
                                    const char* title, const char* reason) {
  const Environment env = ctx.env();
  const std::optional<double> v = ScriptValueToNumerical(rest, ctx.script.theScript, line, env);
  if (!v) return std::nullopt;
  if (!(*v > 0.0) || !std::isfinite(*v)) {
    env.Error(title, "Script command: " + S(line) + "\n" + reason);
    return std::nullopt;
  }
  return v;
}

CellParameterName DottedName(const std::string parts[4]) {
  CellParameterName name;
  for (int i = 0; i < 4; ++i) name.part[i] = parts[i];
  return name;
}

}  // namespace

int ProcessSetScriptvariableCommand(ScriptVariables& s, std::string_view target, std::string_view rest,
                                    std::string_view line, const Environment& env) {
  constexpr const char* kTargetTitle = "Error in interpreting target of Set scriptvariable command";
  auto value = [&]() { return ScriptValueToNumerical(rest, s, line, env); };
  auto storeInt = [&](int& field) {
    const std::optional<double> v = value();
    if (!v) return -1;
    const std::optional<int> k = TruncateToInt(*v);
    if (!k) {
      env.Error(kTargetTitle, "Command line: " + S(line) + "\nThe value " + num(*v) + " is not an integer");
      return -1;
    }
    field = *k;
    return 0;
  };
  if (StartsWithNoCase(target, "maxiteration")) return storeInt(s.maxiteration);
  if (StartsWithNoCase(target, "status")) return storeInt(s.status);
  if (StartsWithNoCase(target, "mode")) return storeInt(s.mode);
  if (StartsWithNoCase(target, "looperror") || StartsWithNoCase(target, "maxerror")) {
    const std::optional<double> v = value();
    if (!v) return -1;
    (StartsWithNoCase(target, "looperror") ? s.looperror : s.maxerror) = *v;
    return 0;
  }
  const int c = target.empty() ? -1 : GetSCRmode(target[0]);
  const std::string_view form = target.size() > 1 ? target.substr(1) : std::string_view{};
  if (c >= 0 && StartsWithNoCase(form, "name")) {
    s.name[c] = Trim(rest).substr(0, kScriptTextLength);
    return 0;
  }
  if (c >= 0 &&
      (StartsWithNoCase(form, "index") || StartsWithNoCase(form, "value") || StartsWithNoCase(form, "vector"))) {
    const std::optional<double> v = value();
    if (!v) return -1;
    if (StartsWithNoCase(form, "vector[")) {
      // The element must exist (or be -1, which appends); the messages are those of this command.
      std::string_view inner = form.substr(7);
      const std::size_t close = inner.rfind(']');
      if (close != std::string_view::npos) inner = inner.substr(0, close);
      inner = TrimView(inner);
      long long k = 0;
      bool literal = !inner.empty();
      for (std::size_t i = 0; i < inner.size(); ++i)
        if (!((inner[i] >= '0' && inner[i] <= '9') || (i == 0 && (inner[i] == '-' || inner[i] == '+'))))
          literal = false;
      if (literal) {
        k = std::strtoll(S(inner).c_str(), nullptr, 10);
        const long long n = static_cast<long long>(s.vector[c].size());
        if (k != -1 && (k < 0 || k >= n)) {
          env.Error(kTargetTitle, "Command line: " + S(line) + "\nIndex of target " + SCRname[c] +
                                      " out of range\nIndex = " + std::to_string(k) +
                                      "; min = 0; max = " + std::to_string(n - 1));
          return -1;
        }
      }
    }
    return PostProcesValue(*v, target, s, line, env) ? 0 : -1;
  }
  if (StartsWithNoCase(target, "filename")) {
    s.defaultfilename = Trim(rest).substr(0, kScriptTextLength);
    return 0;
  }
  if (c >= 0) {
    env.Error("Error in interpreting the vector-target of Set scriptvariable command",
              "Command line: " + S(line) + "\nSecond part of argument not recognised: " + S(target));
    return -1;
  }
  env.Error("Error in interpreting argument of Set scriptvariable command",
            "Command line: " + S(line) + "\nSecond part of argument not recognised: " + S(target));
  return -1;
}

int ProcessSetCommand(ScriptContext& ctx, std::string_view argument, std::string_view rest, std::string_view line) {
  const Environment env = ctx.env();
  std::string p[4];
  InterpretScriptVariable(argument, p[0], p[1], p[2], p[3]);
  SimulationState& sim = ctx.sim;
  if (StartsWithNoCase(p[0], "errorhandling")) {
    if (StartsWithNoCase(p[1], "toscreen")) {
      ctx.core.ErrorHandling(0);
    } else if (StartsWithNoCase(p[1], "overwritefile")) {
      ctx.core.ErrorHandling(2);
    } else if (StartsWithNoCase(p[1], "appendtofile")) {
      ctx.core.ErrorHandling(1);
    } else if (StartsWithNoCase(p[1], "outputlist")) {
      if (StartsWithNoCase(p[2], "truncate"))
        ctx.core.ActionList(0);
      else if (StartsWithNoCase(p[2], "fillzeros"))
        ctx.core.ActionList(1);
      else if (StartsWithNoCase(p[2], "fillwhite"))
        ctx.core.ActionList(2);
      else
        return SetError(env, line, "Output list option not recognised: " + p[2]);
    } else {
      return SetError(env, line, "Error handling option not recognised: " + p[1]);
    }
    return 0;
  }
  if (StartsWithNoCase(p[0], "batch")) return ProcessSetBatchCommand(ctx, p[1], rest, line);
  if (StartsWithNoCase(p[0], "fit")) return ProcessSetFitCommand(ctx, p[1], rest, line);
  if (StartsWithNoCase(p[0], "quitscript")) {
    ctx.core.QuitScriptMode = StartsWithNoCase(p[1], "quitzoniq") ? 1 : 0;
    return 0;
  }
  if (StartsWithNoCase(p[0], "external")) {
    const std::optional<double> v =
        PositiveValue(ctx, rest, line, kSetTitle, "Value not recognised as a positive number");
    if (!v) return -1;
    if (StartsWithNoCase(p[1], "Rsh")) {
      double rsh = *v;  // [Ohm cm2]
      sim.wp.Gsh = GshFromRsh(rsh) * 1e4;
      sim.wp.RshPresent = 1;
    } else if (StartsWithNoCase(p[1], "Rs")) {
      sim.wp.Rs = *v * 1e-4;  // [Ohm cm2] -> [Ohm m2]
      sim.wp.RsPresent = 1;
    } else if (StartsWithNoCase(p[1], "Gsh")) {
      sim.wp.Gsh = *v * 1e4;  // [S/cm2] -> [S/m2]
      sim.wp.RshPresent = 1;
    } else {
      return SetError(env, line, "external variable not recognised");
    }
    return 0;
  }
  if (StartsWithNoCase(p[0], "internal")) {
    const bool reflection = StartsWithNoCase(p[1], "reflection");
    if (!reflection && !StartsWithNoCase(p[1], "transmission"))
      return SetError(env, line, "internal variable not recognised");
    const std::optional<double> v = ScriptValueToNumerical(rest, ctx.script.theScript, line, env);
    if (!v) return -1;
    // No internal reflection (0) is as valid as total reflection (1).
    if (!(*v >= 0.0 && *v <= 1.0)) return SetError(env, line, "Value not recognised as a positive number <= 1.0");
    DefinitionWorkPointItems& items = ctx.cell.definitionExtras.workPoint;
    items.Rfront = reflection ? *v : 1.0 - *v;
    items.Tfront = 1.0 - items.Rfront;
    sim.kortberekend = sim.werkberekend = 0;
    return 0;
  }
  if (StartsWithNoCase(p[0], "scriptvariable")) {
    // The target is everything after the first full stop (an index may hold one).
    const std::size_t dot = argument.find('.');
    const std::string_view target = dot == std::string_view::npos ? std::string_view{} : argument.substr(dot + 1);
    return ProcessSetScriptvariableCommand(ctx.script.theScript, target, rest, line, env);
  }
  if (StartsWithNoCase(p[0], "illumination")) {
    if (StartsWithNoCase(p[1], "fromleft")) {
      sim.wp.illuminatedFromRight = 0;
    } else if (StartsWithNoCase(p[1], "fromright")) {
      sim.wp.illuminatedFromRight = 1;
    } else {
      return SetError(env, line, "illumination variable not recognised");
    }
    ctx.cell.definitionExtras.workPoint.illuminatedFromRight = sim.wp.illuminatedFromRight;
    sim.kortberekend = sim.werkberekend = 0;
    return 0;
  }
  if (StartsWithNoCase(p[0], "qe")) {
    const bool flux = StartsWithNoCase(p[1], "photonflux");
    if (!flux && !StartsWithNoCase(p[1], "photonpower")) return SetError(env, line, "qe variable not recognised");
    const std::optional<double> v =
        PositiveValue(ctx, rest, line, kSetTitle, "Value not recognised as a positive number");
    if (!v) return -1;
    QELightSettings& qe = ctx.cell.definitionExtras.qe;
    if (flux) {
      qe.mode = 0;
      qe.numberOfPhotons = *v;
    } else {
      qe.mode = 1;
      qe.incidentPower = *v;
    }
    return 0;
  }
  if (StartsWithNoCase(p[0], "numerical")) {
    const NumericalSetting* setting = FindNumericalSetting(p[1]);
    if (!setting || !p[2].empty()) return SetError(env, line, "numerical setting not recognised: " + p[1]);
    const std::optional<double> v = ScriptValueToNumerical(rest, ctx.script.theScript, line, env);
    if (!v) return -1;
    const std::string refused = SetNumericalSetting(ctx.cell.parameterset1.convergence, *setting, *v);
    if (!refused.empty()) return SetError(env, line, refused);
    // The numerical settings decide how points are solved, hence whether they are.
    sim.equiberekend = sim.kortberekend = sim.werkberekend = 0;
    return 0;
  }
  if (StartsWithNoCase(p[0], "contact") || StartsWithNoCase(p[0], "layer") || StartsWithNoCase(p[0], "interface")) {
    CellParameter parameter;
    CellParameterError error;
    if (!ArgumentToCellParameter(ctx.cell.zonnecel, DottedName(p), line, parameter, error)) {
      env.Error(error.title, error.text);
      return -1;
    }
    CellValue value;
    if (parameter.valueKind == CellValueKind::kNumber) {
      const std::optional<double> v = ScriptValueToNumerical(rest, ctx.script.theScript, line, env);
      if (!v) return -1;
      value.number = *v;
    } else if (parameter.valueKind == CellValueKind::kText) {
      value.text = TrimView(rest);
    }
    if (!SetValueToCellparameter(ctx.cell.zonnecel, parameter, value, line, error)) {
      env.Error(error.title, error.text);
      return -1;
    }
    sim.equiberekend = sim.kortberekend = sim.werkberekend = 0;
    if (parameter.valueKind == CellValueKind::kNumber) {
      const std::string warning = PlausibilityWarning(parameter, value.number);
      if (!warning.empty())
        env.Error("Warning whilst processing set command in script", "Script command: " + S(line) + "\n" + warning);
    }
    return 0;
  }
  if (StartsWithNoCase(p[0], "admittance")) return ProcessSetAdmittanceCommand(ctx, p[1], rest, line);
  if (StartsWithNoCase(p[0], "outputfolder")) {
    // Where result files named without a folder go from now on; empty: back to the default.
    if (ctx.script.writeOnlyInProgramFolder)
      return SetError(env, line, "This run writes files only into the folders of the program folder");
    ctx.core.outputFolder = Trim(rest);
    return 0;
  }
  // A hint for a misspelt first part; the number of "layer2" is not part of the word.
  std::string word = p[0];
  while (!word.empty() && std::isdigit(static_cast<unsigned char>(word.back()))) word.pop_back();
  const std::vector<std::string> near =
      NearestWords(word, {"errorhandling", "quitscript", "external", "internal", "scriptvariable", "illumination", "qe",
                          "contact", "layer", "interface", "outputfolder", "admittance", "numerical"});
  env.Error(kSetTitle, "Script command: set " + S(argument) + " " + S(rest) + "\nFirst part not recognised: " + p[0] +
                           (near.empty() ? std::string() : "\nDid you mean " + JoinAlternatives(near) + "?"));
  return -1;
}

// ---- get ----

namespace {

constexpr const char* kGetTitle = "Script get command";
constexpr const char* kCharacteristicsTitle = "Script command get characteristics";
constexpr const char* kEnergyBandsTitle = "Script get energybands command";

int GetNumber(ScriptContext& ctx, double number, std::string_view target, std::string_view line) {
  return PostProcesValue(number, target, ctx.script.theScript, line, ctx.env()) ? 0 : -1;
}

int GetCurve(ScriptContext& ctx, const std::vector<double>& x, const std::vector<double>& y, std::size_t n,
             const char* xName, const char* yName, std::string_view target, std::string_view line) {
  n = std::min({n, x.size(), y.size()});
  return PostProcesCurve(x.data(), y.data(), n, xName, yName, target, ctx.script.theScript, line, ctx.env()) ? 0 : -1;
}

// A solved state to read profiles from: a simulation ran (its record or its equilibrium tells)
// and left a solution on a mesh.
bool HasSolution(const SimulationState& sim) {
  return (sim.equiberekend != 0 || sim.CurrentRecord() != nullptr) && sim.currentCalcVars.par != nullptr &&
         sim.currentCalcVars.N() > 0;
}

int GetWorkPointValue(ScriptContext& ctx, const WorkPoint& wp, bool initial, const std::string p[4],
                      std::string_view source, std::string_view target, std::string_view line) {
  const std::string& key = p[2];
  const std::string& option = p[3];
  double value = 0.0;
  bool found = true;
  if (StartsWithNoCase(key, "temp") || StartsWithNoCase(key, "T")) {
    value = wp.temperature;
  } else if (StartsWithNoCase(key, "kT")) {
    value = kBoltzmann_eV * wp.temperature;
  } else if (StartsWithNoCase(key, "volt") || StartsWithNoCase(key, "V")) {
    value = wp.voltage;
  } else if (!initial && (StartsWithNoCase(key, "freq") || StartsWithNoCase(key, "f"))) {
    value = wp.frequency;
  } else if (StartsWithNoCase(key, "spectrumc")) {
    if (StartsWithNoCase(option, "short") || StartsWithNoCase(option, "lambda1") || StartsWithNoCase(option, "lambdas"))
      value = wp.shortWavelengthCutOff;
    else if (StartsWithNoCase(option, "long") || StartsWithNoCase(option, "lambda2") ||
             StartsWithNoCase(option, "lambdal"))
      value = wp.longWavelengthCutOff;
    else
      found = false;
  } else if (StartsWithNoCase(key, "intensity")) {
    if (StartsWithNoCase(option, "ND"))
      value = wp.neutralDensity;
    else if (StartsWithNoCase(option, "T") || StartsWithNoCase(option, "trans"))
      value = 100.0 * std::pow(10.0, -wp.neutralDensity);
    else
      found = false;
  } else if (StartsWithNoCase(key, "gen") && StartsWithNoCase(option, "att")) {
    value = wp.attenuation;
  } else {
    found = false;
  }
  if (!found) {
    ctx.env().Error(
        "Error in interpreting a script get action command",
        "Get-command: get " + S(source) + " " + S(target) + "\nThe rest of the argument was not recognised");
    return -1;
  }
  return GetNumber(ctx, value, target, line);
}

int GetCharacteristic(ScriptContext& ctx, const std::string& which, std::string_view target, std::string_view line) {
  const Environment env = ctx.env();
  const SimulationRecord* record = ctx.sim.CurrentRecord();
  if (!record) {
    env.Error(kCharacteristicsTitle, "No IV-calculation is made yet\ncell characteristics not defined");
    return -1;
  }
  if (!record->iv.present) {
    env.Error(kCharacteristicsTitle,
              "The last calculation was not an IV or CV-calculation\ncell characteristics not defined");
    return -1;
  }
  const CellParameters& c = record->cell;
  double value = 0.0;
  bool valid = false;
  std::string missing;
  if (StartsWithNoCase(which, "eta")) {
    value = c.eta, valid = c.etaValid != 0;
    missing = "eta could not be determined from the last IV calculation; eta = 0 returned";
  } else if (StartsWithNoCase(which, "jsc")) {
    value = c.Jsc, valid = c.jscValid != 0;
    missing = "Jsc could not be determined from the last IV calculation; Jsc = 0 returned";
  } else if (StartsWithNoCase(which, "voc")) {
    value = c.Voc, valid = c.vocValid != 0;
    missing = "Voc could not be determined from the last IV calculation; Voc = 0 returned";
  } else if (StartsWithNoCase(which, "ff")) {
    value = c.FF, valid = c.ffValid != 0;
    missing = "FF could not be determined from the last IV calculation; FF = 0 returned";
  } else if (StartsWithNoCase(which, "vmpp")) {
    value = c.Vmpp, valid = c.etaValid != 0;
    missing = "MPP could not be determined from the last IV calculation; Vmpp = 0 returned";
  } else if (StartsWithNoCase(which, "jmpp")) {
    value = c.Jmpp, valid = c.etaValid != 0;
    missing = "MPP could not be determined from the last IV calculation; Jmpp = 0 returned";
  } else {
    env.Error(kCharacteristicsTitle, "The second part of the argument was not recognised: " + which);
    return -1;
  }
  if (!valid) {
    env.Error(kCharacteristicsTitle, missing);
    value = 0.0;
  }
  return GetNumber(ctx, value, target, line);
}

// The last I-V curve, or null (reported) when there is none. `vectorName` is the name of the
// curve in the messages (iv, recv).
const IVResult* LastIV(ScriptContext& ctx, const char* vectorName) {
  const SimulationRecord* record = ctx.sim.CurrentRecord();
  if (!record) {
    ctx.env().Error(kGetTitle, "No calculations are made yet\nasked information not defined; nothing returned");
    return nullptr;
  }
  if (!record->iv.present || record->iv.pointsDone < 1) {
    ctx.env().Error(kGetTitle, std::string("The last calculation did not contain an IV or CV-calculation\n") +
                                   vectorName + " vector not defined; nothing returned");
    return nullptr;
  }
  return &record->iv;
}

int GetEnergyBands(ScriptContext& ctx, const std::string& what, std::string_view target, std::string_view line) {
  const Environment env = ctx.env();
  if (!HasSolution(ctx.sim)) {
    env.Error(kEnergyBandsTitle, "No calculation has been done so far: energy diagramme data not (yet) available");
    return -1;
  }
  BandDiagramProfiles b;
  const SimulationRecord* record = ctx.sim.CurrentRecord();
  const WorkPoint& wp = record ? record->wp : ctx.sim.wp;
  BandDiagramFromSolution(ctx.sim.currentCalcVars, wp.illuminatedFromRight != 0 ? +1 : -1, b);
  struct Profile {
    const char* keyword;
    const std::vector<double>* data;
    const char* name;
  };
  // A keyword that begins another comes after it.
  const Profile profiles[] = {
      {"EC", &b.Ec, "Ec (eV)"},
      {"EV", &b.Ev, "Ev (eV)"},
      {"EFn", &b.Fn, "EFn (eV)"},
      {"EFp", &b.Fp, "EFp (eV)"},
      {"netdoping", &b.netDoping, "net doping (/cm3)"},
      {"n", &b.n, "n (/cm3)"},
      {"p", &b.p, "p (/cm3)"},
      {"chargeindef", &b.rhoDefect, "charge in defects (/cm3)"},
      {"chargedensity", &b.rho, "charge density (/cm3)"},
      {"E", &b.E, "E (V/cm)"},
      {"field", &b.E, "E (V/cm)"},
      {"Jntunnel", &b.jnTunnel, "Jn tunnel (mA/cm2)"},
      {"Jptunnel", &b.jpTunnel, "Jp tunnel (mA/cm2)"},
      {"Jn", &b.jn, "Jn (mA/cm2)"},
      {"Jp", &b.jp, "Jp (mA/cm2)"},
      {"Jtot", &b.jtot, "Jtot (mA/cm2)"},
      {"gen", &b.G, "G (/cm3.s)"},
      {"rec", &b.R, "R (/cm3.s)"},
      {"cumulativeG", &b.cumG, "cumulative G (mA/cm2)"},
      {"cumulativeR", &b.cumR, "cumulative R (mA/cm2)"},
  };
  for (const Profile& p : profiles)
    if (StartsWithNoCase(what, p.keyword))
      return GetCurve(ctx, b.x, *p.data, b.x.size(), "x (um)", p.name, target, line);
  env.Error(kEnergyBandsTitle, "The second part of the argument was not recognised: " + what);
  return -1;
}

}  // namespace

int ProcessGetCommand(ScriptContext& ctx, std::string_view source, std::string_view target, std::string_view line) {
  const Environment env = ctx.env();
  std::string p[4];
  InterpretScriptVariable(source, p[0], p[1], p[2], p[3]);
  SimulationState& sim = ctx.sim;
  const CellDefinition& cell = ctx.cell.zonnecel;
  auto notAvailable = [&](const char* what) {
    env.Error(kGetTitle, NotAvailableText(line, what));
    return -1;
  };
  if (StartsWithNoCase(p[0], "fit")) return ProcessGetFitCommand(ctx, p[1], target, line);

  // Mesh positions of a layer (layer2.leftindex): these need a calculated mesh.
  if (StartsWithNoCase(p[0], "layer") && (StartsWithNoCase(p[1], "leftindex") || StartsWithNoCase(p[1], "leftx") ||
                                          StartsWithNoCase(p[1], "rightindex") || StartsWithNoCase(p[1], "rightx"))) {
    const long long n = NumberAfter(p[0], std::string_view("layer").size());
    if (n < 1 || n > cell.numberOfLayers) {
      env.Error(kGetTitle, "In this problem there are " + std::to_string(cell.numberOfLayers) + " layers; layer " +
                               std::to_string(n) + " is not defined");
      return -1;
    }
    const CalculationVariables& cv = sim.currentCalcVars;
    if (!HasSolution(sim) || n > MAXLAYERS || cv.mesh.last[n - 1] >= cv.N() ||
        cv.mesh.xum.size() < static_cast<std::size_t>(cv.N())) {
      env.Error(kGetTitle, "No calculations are made yet\nasked information not defined; nothing returned");
      return -1;
    }
    const int first = cv.mesh.first[n - 1], last = cv.mesh.last[n - 1];
    double value = 0.0;
    if (StartsWithNoCase(p[1], "leftindex"))
      value = first;
    else if (StartsWithNoCase(p[1], "leftx"))
      value = cv.mesh.xum[first];
    else if (StartsWithNoCase(p[1], "rightindex"))
      value = last;
    else
      value = cv.mesh.xum[last];
    return GetNumber(ctx, value, target, line);
  }
  if (StartsWithNoCase(p[0], "numerical")) {
    const NumericalSetting* setting = FindNumericalSetting(p[1]);
    if (!setting || !p[2].empty()) {
      env.Error(kGetTitle, "Script command: " + S(line) + "\nnumerical setting not recognised: " + p[1]);
      return -1;
    }
    return GetNumber(ctx, setting->get(ctx.cell.parameterset1.convergence), target, line);
  }
  if (StartsWithNoCase(p[0], "contact") || StartsWithNoCase(p[0], "interface") || StartsWithNoCase(p[0], "layer")) {
    CellParameter parameter;
    CellParameterError error;
    double number = 0.0;
    if (!ArgumentToCellParameter(cell, DottedName(p), line, parameter, error) ||
        !CellparameterToGetVariable(cell, parameter, number, line, error)) {
      env.Error(error.title, error.text);
      return -1;
    }
    return GetNumber(ctx, number, target, line);
  }
  if (StartsWithNoCase(p[0], "action")) {
    if (StartsWithNoCase(p[1], "work")) return GetWorkPointValue(ctx, sim.wp, false, p, source, target, line);
    if (StartsWithNoCase(p[1], "initialw")) return GetWorkPointValue(ctx, sim.secondwp, true, p, source, target, line);
    env.Error("Error in interpreting a script get action command",
              "Get-command: get " + S(source) + " " + S(target) + "\nThe rest of the argument was not recognised");
    return -1;
  }
  if (StartsWithNoCase(p[0], "ext")) {
    double value = 0.0;
    if (StartsWithNoCase(p[1], "Rsh")) {
      value = RshFromGsh(sim.wp.Gsh * 1e-4);
    } else if (StartsWithNoCase(p[1], "Rs")) {
      value = sim.wp.Rs * 1e4;
    } else if (StartsWithNoCase(p[1], "Gsh")) {
      value = sim.wp.Gsh * 1e-4;
    } else {
      env.Error("Error in interpreting a script get external command",
                "Get-command: get " + S(source) + " " + S(target) + "\nThe rest of the argument was not recognised");
      return -1;
    }
    return GetNumber(ctx, value, target, line);
  }
  if (StartsWithNoCase(p[0], "int")) {
    const DefinitionWorkPointItems& items = ctx.cell.definitionExtras.workPoint;
    if (StartsWithNoCase(p[1], "refl") || StartsWithNoCase(p[1], "R"))
      return GetNumber(ctx, items.Rfront, target, line);
    if (StartsWithNoCase(p[1], "trans") || StartsWithNoCase(p[1], "T"))
      return GetNumber(ctx, items.Tfront, target, line);
    env.Error("Error in interpreting a script get internal command",
              "Get-command: get " + S(source) + " " + S(target) + "\nThe rest of the argument was not recognised");
    return -1;
  }
  if (StartsWithNoCase(p[0], "characteristics")) return GetCharacteristic(ctx, p[1], target, line);
  if (StartsWithNoCase(p[0], "numberoflayers")) return GetNumber(ctx, cell.numberOfLayers, target, line);
  if (StartsWithNoCase(p[0], "celllength") || StartsWithNoCase(p[0], "cellength")) {
    double length = 0.0;  // [µm]
    for (int i = 0; i < std::min(cell.numberOfLayers, MAXLAYERS); ++i) length += cell.layer[i].d;
    return GetNumber(ctx, length, target, line);
  }
  if (StartsWithNoCase(p[0], "gx")) {
    if (!HasSolution(sim)) {
      env.Error(kGetTitle, "No calculations are made yet\nasked information not defined; nothing returned");
      return -1;
    }
    BandDiagramProfiles b;
    BandDiagramFromSolution(sim.currentCalcVars, sim.wp.illuminatedFromRight != 0 ? +1 : -1, b);
    return GetCurve(ctx, b.x, b.G, b.x.size(), "x (um)", "G (/cm3.s)", target, line);
  }
  if (StartsWithNoCase(p[0], "iv")) {
    const IVResult* iv = LastIV(ctx, "iv");
    if (!iv) return -1;
    return GetCurve(ctx, iv->v, iv->j, static_cast<std::size_t>(iv->pointsDone), "V (V)", "J (mA/cm2)", target, line);
  }
  // The last C-V, C-f and QE curves; the Mott-Schottky plot 1/C²(V) and the apparent doping
  // profile Napp(W) of the C-V curve.
  auto lastRecord = [&](auto present, const char* vectorName) -> const SimulationRecord* {
    const SimulationRecord* record = sim.CurrentRecord();
    if (!record) {
      env.Error(kGetTitle, "No calculations are made yet\nasked information not defined; nothing returned");
      return nullptr;
    }
    if (!present(*record)) {
      env.Error(kGetTitle, std::string("The last calculation did not contain a ") + vectorName + "-calculation\n" +
                               vectorName + " vector not defined; nothing returned");
      return nullptr;
    }
    return record;
  };
  auto hasCV = [](const SimulationRecord& r) { return r.cv.present && r.cv.pointsDone > 0; };
  auto hasCf = [](const SimulationRecord& r) { return r.cf.present && r.cf.pointsDone > 0; };
  auto hasQE = [](const SimulationRecord& r) { return r.qe.present && r.qe.pointsDone > 0; };
  if (StartsWithNoCase(p[0], "cv") || StartsWithNoCase(p[0], "gv") || StartsWithNoCase(p[0], "mottschottky") ||
      StartsWithNoCase(p[0], "dopingprofile")) {
    const bool capacitance = StartsWithNoCase(p[0], "cv");
    const SimulationRecord* r = lastRecord(hasCV, capacitance ? "cv" : StartsWithNoCase(p[0], "gv") ? "gv" : "cv");
    if (!r) return -1;
    const auto n = static_cast<std::size_t>(r->cv.pointsDone);
    if (capacitance) return GetCurve(ctx, r->cv.v, r->cv.C, n, "V (V)", "C (nF/cm2)", target, line);
    if (StartsWithNoCase(p[0], "gv")) return GetCurve(ctx, r->cv.v, r->cv.G, n, "V (V)", "G (S/cm2)", target, line);
    if (StartsWithNoCase(p[0], "mottschottky")) {
      std::vector<double> inv(n, 0.0);
      for (std::size_t k = 0; k < n; ++k) inv[k] = r->cv.C[k] != 0.0 ? 1.0 / (r->cv.C[k] * r->cv.C[k]) : 0.0;
      return GetCurve(ctx, r->cv.v, inv, n, "V (V)", "1/C2 ((nF/cm2)^-2)", target, line);
    }
    return GetCurve(ctx, r->cv.W, r->cv.Napp, n, "W (um)", "Napp (/cm3)", target, line);
  }
  if (StartsWithNoCase(p[0], "cf") || StartsWithNoCase(p[0], "gf")) {
    const bool capacitance = StartsWithNoCase(p[0], "cf");
    const SimulationRecord* r = lastRecord(hasCf, capacitance ? "cf" : "gf");
    if (!r) return -1;
    const auto n = static_cast<std::size_t>(r->cf.pointsDone);
    return capacitance ? GetCurve(ctx, r->cf.f, r->cf.C, n, "f (Hz)", "C (nF/cm2)", target, line)
                       : GetCurve(ctx, r->cf.f, r->cf.G, n, "f (Hz)", "G (S/cm2)", target, line);
  }
  if (StartsWithNoCase(p[0], "admittance") && StartsWithNoCase(p[1], "arrhenius")) {
    // The activation energy [eV] from the peaks of all C-f curves held, each at its temperature.
    std::vector<double> T, omega;
    for (SimulationRecord& r : sim.simulaties) {
      double fPeak = 0.0, EPeak = 0.0;
      if (r.cf.present == 0 || Calculate_AS_single(r, sim.admittanceSettings, ctx.cell.mottSchottky) != 0 ||
          AdmittancePeak(r.cf.as, fPeak, EPeak) < 0)
        continue;
      T.push_back(r.wp.temperature);
      omega.push_back(6.283185307179586 * fPeak);
    }
    double Ea = 0.0, nu0 = 0.0;
    if (ArrheniusFit(T, omega, Ea, nu0) != 0) {
      env.Error(kGetTitle, "The Arrhenius analysis needs C-f peaks at two temperatures\nnothing returned");
      return -1;
    }
    return GetNumber(ctx, Ea, target, line);
  }
  if (StartsWithNoCase(p[0], "admittance")) {
    // The admittance-spectroscopy analysis of the last C-f curve with the present settings: its
    // graph (the chosen abscissa and ordinate), or with "peak" the energy of its maximum [eV].
    if (!lastRecord(hasCf, "cf")) return -1;
    SimulationRecord& rec = *sim.CurrentRecord();
    if (Calculate_AS_single(rec, sim.admittanceSettings, ctx.cell.mottSchottky) != 0) {
      env.Error(kGetTitle, "The last C-f curve could not be analysed: " + rec.cf.as.message + "\nnothing returned");
      return -1;
    }
    const AdmittanceResult& as = rec.cf.as;
    if (StartsWithNoCase(p[1], "peak")) {
      double fPeak = 0.0, EPeak = 0.0;
      if (AdmittancePeak(as, fPeak, EPeak) < 0) {
        env.Error(kGetTitle, "The last C-f curve has no peak of -w*dC/dw inside it\nnothing returned");
        return -1;
      }
      return GetNumber(ctx, EPeak, target, line);
    }
    return GetCurve(ctx, as.x, as.y, as.x.size(), ASAbscissaTitle(sim.admittanceSettings.abscissa),
                    ASOrdinateTitle(sim.admittanceSettings.ordinate), target, line);
  }
  if (StartsWithNoCase(p[0], "qe")) {
    const SimulationRecord* r = lastRecord(hasQE, "qe");
    if (!r) return -1;
    return GetCurve(ctx, r->qe.lambda, r->qe.QE, static_cast<std::size_t>(r->qe.pointsDone), "lambda (nm)", "QE (%)",
                    target, line);
  }
  if (StartsWithNoCase(p[0], "recombination")) {
    struct Curve {
      const char* keyword;
      const std::vector<double> IVResult::*data;
      const char* name;
    };
    static constexpr Curve kCurves[] = {{"tot", &IVResult::jbulk, "Jrec (mA/cm2)"},
                                        {"SRH", &IVResult::jSRH, "Jrec SRH (mA/cm2)"},
                                        {"rad", &IVResult::jRadiative, "Jrec radiative (mA/cm2)"},
                                        {"Aug", &IVResult::jAuger, "Jrec Auger (mA/cm2)"}};
    const Curve* curve = nullptr;
    for (const Curve& c : kCurves)
      if (StartsWithNoCase(p[1], c.keyword)) curve = &c;
    if (!curve) {
      env.Error(kGetTitle,
                "The second part of the argument of recv command not recognised\nrecv vector not defined; "
                "nothing returned");
      return -1;
    }
    const IVResult* iv = LastIV(ctx, "recv");
    if (!iv) return -1;
    return GetCurve(ctx, iv->v, iv->*(curve->data), static_cast<std::size_t>(iv->pointsDone), "V (V)", curve->name,
                    target, line);
  }
  if (StartsWithNoCase(p[0], "recorder")) return ProcessGetRecorder(ctx, target, line);
  if (StartsWithNoCase(p[0], "energyb") || StartsWithNoCase(p[0], "eb")) return GetEnergyBands(ctx, p[1], target, line);
  if (StartsWithNoCase(p[0], "meas")) {
    if (!ctx.measurements) return notAvailable("Measured curves");
    return ProcessGetMeasurement(ctx, p[1], p[2], target, line);
  }
  env.Error(kGetTitle, "argument of get not recognised; nothing returned");
  return -1;
}

// ---- action ----

namespace {

constexpr const char* kActionTitle = "Error whilst processing action command in script";

class ActionCommand {
 public:
  ActionCommand(ScriptContext& ctx, std::string_view argument, std::string_view rest, std::string_view line)
      : ctx_(ctx), env_(ctx.env()), argument_(argument), rest_(rest), line_(line) {}
  int Run();

 private:
  int Error(const std::string& reason) const {
    env_.Error(kActionTitle, "Script command: " + S(line_) + "\n" + reason);
    return -1;
  }
  std::optional<double> Value(std::string_view text) const {
    return ScriptValueToNumerical(text, ctx_.script.theScript, line_, env_);
  }
  std::optional<double> Positive(std::string_view text) const {
    const std::optional<double> v = Value(text);
    if (!v) return std::nullopt;
    if (!(*v > 0.0) || !std::isfinite(*v)) {
      Error("Value not recognised as a positive number");
      return std::nullopt;
    }
    return v;
  }
  std::optional<int> Integer(std::string_view text) const {
    const std::optional<double> v = Value(text);
    if (!v) return std::nullopt;
    const std::optional<int> k = TruncateToInt(*v);
    if (!k) Error("Value not recognised as an integer");
    return k;
  }
  // The illumination and bias keys of a working point, from part `i` of the key on.
  int WorkPointKey(WorkPoint& wp, bool initial, std::size_t i);
  int Sweep();

  ScriptContext& ctx_;
  const Environment env_;
  std::string_view argument_, rest_, line_;
  std::string p_[4];
};

int ActionCommand::WorkPointKey(WorkPoint& wp, bool initial, std::size_t i) {
  const std::string& key = p_[i];
  const std::string sub = i + 1 < 4 ? p_[i + 1] : std::string();
  if (StartsWithNoCase(key, "workingpoint")) {
    if (StartsWithNoCase(sub, "temperature") || StartsWithNoCase(sub, "kT")) {
      const std::optional<double> v = Positive(rest_);
      if (!v) return -1;
      wp.temperature = StartsWithNoCase(sub, "kT") ? *v / kBoltzmann_eV : *v;
      return 0;
    }
    if (StartsWithNoCase(sub, "voltage")) {
      const std::optional<double> v = Value(rest_);
      if (!v) return -1;
      if (!std::isfinite(*v)) return Error("Value not recognised as a number");
      wp.voltage = *v;
      return 0;
    }
    if (!initial && StartsWithNoCase(sub, "frequency")) {
      const std::optional<double> v = Positive(rest_);
      if (!v) return -1;
      wp.frequency = *v;
      return 0;
    }
    if (StartsWithNoCase(sub, "numberofpoints")) {
      const std::optional<int> k = Integer(rest_);
      if (!k) return -1;
      if (!ValidNumberOfSteps(*k)) return Error("The number of points must be at least 2");
      wp.numberOfSteps = *k;
      return 0;
    }
    return Error("Command not recognised");
  }
  if (StartsWithNoCase(key, "dark")) {
    wp.dark = 1;
    return 0;
  }
  if (StartsWithNoCase(key, "light")) {
    wp.dark = 0;
    return 0;
  }
  if (StartsWithNoCase(key, "generationfrominternalmodel")) {
    wp.generationFromFile = 0;
    return 0;
  }
  if (StartsWithNoCase(key, "spectrumfile")) {
    std::string full, part;
    const std::string name = Trim(rest_);
    CheckZONIQPaths(ctx_.core.programFolder, &full, &part, name, FK_SPECTRUM);
    if (name.empty() || !FileExists(full)) {
      env_.Error(kActionTitle, "Script command: " + S(line_) + "\nSpectrumfile not found: " + full +
                                   "\nReplaced with a standard spectrum: " + kStandardSpectrumName);
      part = kStandardSpectrumName;
      CheckZONIQPaths(ctx_.core.programFolder, &full, nullptr, part, FK_SPECTRUM);
    }
    wp.spectrumFile = full;
    wp.spectrumName = "\\" + part;
    return 0;
  }
  if (StartsWithNoCase(key, "spectrumcutoff")) {
    if (StartsWithNoCase(sub, "on")) {
      wp.spectrumCutOff = 1;
    } else if (StartsWithNoCase(sub, "off")) {
      wp.spectrumCutOff = 0;
    } else if (StartsWithNoCase(sub, "shortlambda") || StartsWithNoCase(sub, "longlambda")) {
      const std::optional<double> v = Positive(rest_);
      if (!v) return -1;
      (StartsWithNoCase(sub, "short") ? wp.shortWavelengthCutOff : wp.longWavelengthCutOff) = *v;
      CheckCutoffWavelengths(wp);
    } else {
      return Error("Command not recognised");
    }
    return 0;
  }
  if (StartsWithNoCase(key, "intensity")) {
    if (StartsWithNoCase(sub, "ND")) {
      const std::optional<double> v = Value(rest_);
      if (!v) return -1;
      if (!std::isfinite(*v)) return Error("Value not recognised as a number");
      wp.neutralDensity = *v;
    } else if (StartsWithNoCase(sub, "T")) {
      const std::optional<double> v = Positive(rest_);  // transmission [%]
      if (!v) return -1;
      wp.neutralDensity = -std::log10(*v / 100.0);
    } else {
      return Error("Command not recognised");
    }
    return 0;
  }
  if (StartsWithNoCase(key, "generationfromfile")) {
    if (StartsWithNoCase(sub, "attenuation")) {
      const std::optional<double> v = Positive(rest_);
      if (!v) return -1;
      wp.attenuation = *v;
      return 0;
    }
    wp.generationFromFile = 1;
    return 0;
  }
  if (StartsWithNoCase(key, "generationfile")) {
    std::string full, part;
    const std::string name = Trim(rest_);
    CheckZONIQPaths(ctx_.core.programFolder, &full, &part, name, FK_GENERATION);
    if (name.empty() || !FileExists(full)) {
      env_.Error(kActionTitle, "Script command: " + S(line_) + "\nGeneration file not found: " + full +
                                   "\nSwitched to: generation from internal calculation");
      wp.generationFromFile = 0;
      return -1;
    }
    wp.generationFile = full;
    wp.generationName = "\\" + part;
    return 0;
  }
  return Error("Command not recognised");
}

int ActionCommand::Sweep() {
  SimulationState& sim = ctx_.sim;
  MeasurementActions& a = sim.actie;
  ActionListExtras& x = sim.actieExtras;
  const std::string& kind = p_[0];
  const std::string& key = p_[1];
  auto onOff = [&](int& on) {
    const std::optional<double> v = Value(rest_);
    if (!v) return -1;
    on = *v != 0.0 ? 1 : 0;
    return 0;
  };
  if (StartsWithNoCase(kind, "iv") || StartsWithNoCase(kind, "cv")) {
    const bool iv = StartsWithNoCase(kind, "iv");
    VoltageSweepAction& s = iv ? a.iv : a.cv;
    double& increment = iv ? x.ivIncrement : x.cvIncrement;
    if (StartsWithNoCase(key, "startV") || StartsWithNoCase(key, "stopV")) {
      const std::optional<double> v = Value(rest_);
      if (!v) return -1;
      if (!std::isfinite(*v)) return Error("Value not recognised as a number");
      (StartsWithNoCase(key, "startV") ? s.startV : s.stopV) = *v;
      ChangeNumberOfPointsLin(&env_, s.startV, s.stopV, s.points, increment, false);
      return 0;
    }
    if (StartsWithNoCase(key, "points")) {
      const std::optional<int> k = Integer(rest_);
      if (!k) return -1;
      s.points = *k;
      ChangeNumberOfPointsLin(&env_, s.startV, s.stopV, s.points, increment, false);
      return 0;
    }
    if (StartsWithNoCase(key, "increment")) {
      const std::optional<double> v = Positive(rest_);
      if (!v) return -1;
      increment = *v;
      ChangeNumberOfPointsLin(&env_, s.startV, s.stopV, s.points, increment, true);
      return 0;
    }
    if (StartsWithNoCase(key, "checkaction") || StartsWithNoCase(key, iv ? "doiv" : "docv") ||
        StartsWithNoCase(key, iv ? "iv" : "cv"))
      return onOff(s.on);
    if (iv && StartsWithNoCase(key, "stopafterVoc")) {
      x.stopAfterVoc = 1;
      return 0;
    }
    if (iv && StartsWithNoCase(key, "continueafterVoc")) {
      x.stopAfterVoc = 0;
      return 0;
    }
    return Error("Command not recognised");
  }
  if (StartsWithNoCase(kind, "cf")) {
    FrequencySweepAction& s = a.cf;
    // "cf.total points" and "cf.points per decade" have blanks in their keys: the words of the
    // key that follow the argument come before the value.
    std::string rest(rest_), word;
    if (StartsWithNoCase(key, "startf") || StartsWithNoCase(key, "stopf")) {
      const std::optional<double> v = Positive(rest_);
      if (!v) return -1;
      FrequencySweepAction trial = s;
      (StartsWithNoCase(key, "startf") ? trial.startF : trial.stopF) = *v;
      if (ChangeNumberOfPointsLog(&env_, trial.startF, trial.stopF, trial.points, x.cfPointsPerDecade, false) < 0)
        return Error("Value not recognised as a positive number");
      s = trial;
      return 0;
    }
    if (StartsWithNoCase(key, "total")) {
      std::string probe = rest;
      ReadFirstWord(probe, &word);
      if (StartsWithNoCase(word, "points")) rest = probe;
      const std::optional<int> k = Integer(rest);
      if (!k) return -1;
      s.points = *k;
      ChangeNumberOfPointsLog(&env_, s.startF, s.stopF, s.points, x.cfPointsPerDecade, false);
      return 0;
    }
    if (StartsWithNoCase(key, "points")) {
      for (const char* skip : {"per", "decade"}) {
        std::string probe = rest;
        ReadFirstWord(probe, &word);
        if (StartsWithNoCase(word, skip)) rest = probe;
      }
      const std::optional<double> v = Positive(rest);
      if (!v) return -1;
      x.cfPointsPerDecade = *v;
      ChangeNumberOfPointsLog(&env_, s.startF, s.stopF, s.points, x.cfPointsPerDecade, true);
      return 0;
    }
    if (StartsWithNoCase(key, "checkaction") || StartsWithNoCase(key, "docf") || StartsWithNoCase(key, "cf"))
      return onOff(s.on);
    return Error("Command not recognised");
  }
  if (StartsWithNoCase(kind, "qe")) {
    QEAction& s = a.qe;
    auto recompute = [&](bool incrementChanged) {
      double increment = x.qeIncrement;
      ChangeNumberOfPointsLin(&env_, s.startLambda, s.stopLambda, s.points, increment, incrementChanged);
      x.qeIncrement = std::max(1, static_cast<int>(std::lround(std::min(increment, 1e9))));
    };
    if (StartsWithNoCase(key, "startlambda") || StartsWithNoCase(key, "stoplambda")) {
      const std::optional<double> v = Positive(rest_);
      if (!v) return -1;
      const std::optional<int> k = TruncateToInt(*v);
      if (!k || *k < 1) return Error("Value not recognised as a positive number");
      (StartsWithNoCase(key, "startlambda") ? s.startLambda : s.stopLambda) = *k;
      recompute(false);
      return 0;
    }
    if (StartsWithNoCase(key, "points")) {
      const std::optional<int> k = Integer(rest_);
      if (!k) return -1;
      s.points = *k;
      recompute(false);
      return 0;
    }
    if (StartsWithNoCase(key, "increment")) {
      const std::optional<double> v = Positive(rest_);
      if (!v) return -1;
      const std::optional<int> k = TruncateToInt(*v);
      if (!k || *k < 1) return Error("Value not recognised as a positive number");
      x.qeIncrement = *k;
      recompute(true);
      return 0;
    }
    if (StartsWithNoCase(key, "checkaction") || StartsWithNoCase(key, "doqe") || StartsWithNoCase(key, "qe"))
      return onOff(s.on);
    return Error("Command not recognised");
  }
  return Error("Command not recognised");
}

int ActionCommand::Run() {
  InterpretScriptVariable(argument_, p_[0], p_[1], p_[2], p_[3]);
  SimulationState& sim = ctx_.sim;
  if (StartsWithNoCase(p_[0], "initialwp")) return WorkPointKey(sim.secondwp, true, 1);
  if (StartsWithNoCase(p_[0], "iv") || StartsWithNoCase(p_[0], "cv") || StartsWithNoCase(p_[0], "cf") ||
      StartsWithNoCase(p_[0], "qe"))
    return Sweep();
  const int result = WorkPointKey(sim.wp, false, 0);
  if (result == 0) sim.kortberekend = sim.werkberekend = 0;
  return result;
}

}  // namespace

int ProcessActionCommand(ScriptContext& ctx, std::string_view argument, std::string_view rest, std::string_view line) {
  return ActionCommand(ctx, argument, rest, line).Run();
}

// ---- calculate, clear, run ----

int ProcessCalculateCommand(ScriptContext& ctx, std::string_view argument, std::string_view /*line*/) {
  if (ctx.script.stubSimulations) return 0;
  SimulateRunners runners;
  runners.batch = ctx.hooks.runBatch;
  runners.batchRecording = ctx.hooks.runBatchRecording;
  runners.curveFitting = ctx.hooks.runFit;
  const int button = StartsWithNoCase(argument, "batch")    ? kModeBatch
                     : StartsWithNoCase(argument, "record") ? kModeBatchRecording
                     : StartsWithNoCase(argument, "fit")    ? kModeCurveFitting
                                                            : kModeSingleShot;
  Simulate(ctx.cell, ctx.sim, ctx.env(), button, runners);
  return 0;
}

namespace {

// Shortens every vector: keeps `keep` elements from the front (fromFront) or the back, or
// removes `drop` elements from the front or the back. A vector never becomes empty: when
// nothing would remain it holds a single 0.
void ShortenVectors(ScriptVariables& s, bool front, std::size_t keep, std::size_t drop) {
  for (int c = 0; c < kScriptSlots; ++c) {
    std::vector<double>& v = s.vector[c];
    std::vector<double> r;
    if (keep > 0) {
      const std::size_t k = std::min(keep, v.size());
      r = front ? std::vector<double>(v.begin(), v.begin() + k) : std::vector<double>(v.end() - k, v.end());
    } else if (drop < v.size()) {
      r = front ? std::vector<double>(v.begin() + drop, v.end()) : std::vector<double>(v.begin(), v.end() - drop);
    }
    if (r.empty()) r.assign(1, 0.0);
    s.SetVector(c, std::move(r));
  }
}

}  // namespace

int ProcessClearScriptCommand(ScriptContext& ctx, std::string_view argument, std::string_view rest,
                              std::string_view /*line*/) {
  ScriptState& script = ctx.script;
  std::string p1, option, p3, p4;
  InterpretScriptVariable(argument, p1, option, p3, p4);
  if (option.empty()) {
    std::string r(rest);
    ReadFirstWord(r, &option);
  }
  if (StartsWithNoCase(p1, "scriptvariables")) {
    // Keep the first/last three or two elements, drop the first/last two, or keep the last one.
    if (StartsWithNoCase(option, "allbutfirst3")) {
      ShortenVectors(script.theScript, true, 3, 0);
    } else if (StartsWithNoCase(option, "allbutfirst2")) {
      ShortenVectors(script.theScript, true, 2, 0);
    } else if (StartsWithNoCase(option, "allbutlast3")) {
      ShortenVectors(script.theScript, false, 3, 0);
    } else if (StartsWithNoCase(option, "allbutlast2")) {
      ShortenVectors(script.theScript, false, 2, 0);
    } else if (StartsWithNoCase(option, "allbut")) {
      ShortenVectors(script.theScript, false, 1, 0);
    } else if (StartsWithNoCase(option, "first2")) {
      ShortenVectors(script.theScript, true, 0, 2);
    } else if (StartsWithNoCase(option, "last2")) {
      ShortenVectors(script.theScript, false, 0, 2);
    } else if (option.empty() || StartsWithNoCase(option, "all")) {
      InitialiseScriptVariables(script.theScript);
    } else {
      ctx.env().Error("Error in script clear statement",
                      "Argument of clear not recognised\nargument = " + S(argument) + " " + option);
      return -1;
    }
    return 0;
  }
  if (StartsWithNoCase(p1, "simulations")) {
    // Only the simulations: the script's own variables and graph stay (they have their own
    // clear commands, and a loop collecting results must not lose them).
    wis_alles(ctx.sim);
    return 0;
  }
  if (StartsWithNoCase(p1, "plot") || StartsWithNoCase(p1, "scriptgraph")) {
    script.scriptPlots.clear();
    return 0;
  }
  if (StartsWithNoCase(p1, "action")) {
    InitialiseMeasurementActions(ctx.sim.actie);
    ctx.sim.actieExtras = ActionListExtras{};
    return 0;
  }
  if (StartsWithNoCase(p1, "all")) {
    script.scriptPlots.clear();
    InitialiseScriptVariables(script.theScript);
    return 0;
  }
  ctx.env().Error("Error in script clear statement", "Argument of clear not recognised\nargument = " + S(argument));
  return -1;
}

int ProcessRunDLLCommand(ScriptContext& ctx, std::string_view line) {
  ScriptState& script = ctx.script;
  const Environment env = ctx.env();
  constexpr const char* kTitle = "Error whilst processing rundll command in script";
  if (!script.allowUserFunction) {
    env.Error(kTitle, "Script command: " + S(line) + "\nThe user function is switched off in this run");
    script.theScript.status = 0;
    return -1;
  }
  const std::string path = UserFunctionLibraryPath(script.userFunctionLibraryPath, ctx.core.programFolder);
  if (!script.userFunctionLibrary || script.userFunctionLibrary->path() != path) {
    std::string why;
    script.userFunctionLibrary = UserFunctionLibrary::Open(path, why);
    if (!script.userFunctionLibrary) {
      env.Error(kTitle, "Script command: " + S(line) + "\nThe user-function library " + path + " is not available (" +
                            why + "); status = 0");
      script.theScript.status = 0;
      return -1;
    }
  }
  script.theScript.status = script.userFunctionLibrary->Call(script.theScript);
  return 0;
}

int ProcessRunSystemCommand(ScriptContext& ctx, std::string_view argument, std::string_view rest,
                            std::string_view line) {
  const Environment env = ctx.env();
  constexpr const char* kTitle = "Error whilst processing runsystem command in script";
  const std::string command = Trim(S(argument) + " " + S(rest));
  if (!ctx.script.allowSystemCommands) {
    env.Error(kTitle, "Script command: " + S(line) + "\nOperating-system commands are switched off in this run");
    return -1;
  }
  if (command.empty()) {
    env.Error(kTitle, "Script command: " + S(line) + "\nNo command given");
    return -1;
  }
  // What the program printed so far comes before what the command prints.
  std::cout.flush();
  std::fflush(nullptr);
  const int status = std::system(command.c_str());
  if (status == -1) {
    env.Error(kTitle, "Script command: " + S(line) + "\nThe command could not be started");
    return -1;
  }
  if (status != 0) {
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    env.Error(kTitle, "Script command: " + S(line) + "\nThe command ended with status " + std::to_string(code));
    return -1;
  }
  return 0;
}

}  // namespace zoniq
