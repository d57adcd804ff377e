#include "script/script_fit.hpp"

#include <cmath>
#include <optional>

#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"
#include "fit/fit_file.hpp"
#include "fit/fit_run.hpp"
#include "script/script_commands.hpp"
#include "script/script_titles.hpp"
#include "script/script_values.hpp"

namespace zoniq {

namespace {

using namespace script_titles;

bool FitRan(ScriptContext& ctx, const char* title) {
  const CurveFitter& f = ctx.fit->theCurveFitter;
  if (f.running.iteration >= 0 && !f.running.ChiSqTotal.empty()) return true;
  ctx.env().Error(title, "No curve fitting calculatieons done: nothing to save or to show !");
  return false;
}

}  // namespace

int ProcessLoadFitCommand(ScriptContext& ctx, const std::string& fileName, std::string_view line) {
  if (!FitAvailable(ctx, kLoadTitle, line)) return -1;
  return SetCurveFittingFromFile(ctx.env(), fileName, ctx.cell.zonnecel, LoadFitMeasurement, ctx.fit->theCurveFitter);
}

int ProcessSaveFitSetting(ScriptContext& ctx, std::string_view fileName, std::string_view line) {
  if (!FitAvailable(ctx, kSaveTitle, line)) return -1;
  const std::optional<std::string> path = OutputPath(ctx, fileName, FK_FIT, ".scf", line);
  if (!path) return -1;
  FilePtr f = OpenFile(NativePath(*path), "wb");
  const HeaderInfo header = MakeHeaderInfo(ctx.core.VERSION, ctx.cell.problemName);
  if (!f || SaveCurveFittingSettingsInFile(f.get(), *ctx.core.ui, header, ctx.fit->theCurveFitter) != 0) {
    ctx.env().Error(kSaveTitle, "Script command: " + S(line) + "\nThe file could not be written completely: " + *path);
    return -1;
  }
  return 0;
}

int ProcessSaveFitResult(ScriptContext& ctx, std::string_view fileName, std::string_view header,
                         std::string_view line) {
  if (!FitAvailable(ctx, kSaveTitle, line) || !FitRan(ctx, "Curve fitting results")) return -1;
  const std::optional<std::string> path = OutputPath(ctx, fileName, FK_SCRIPTVAR, ".xls", line);
  if (!path) return -1;
  FilePtr f = OpenFile(NativePath(*path), "wb");
  bool ok = f != nullptr;
  if (ok) {
    std::fputs((S(header) + "\n").c_str(), f.get());
    ok = curvefittingresults_naar_file(ctx.env(), f.get(), ctx.fit->theCurveFitter) == 0;
  }
  if (!ok) {
    ctx.env().Error(kSaveTitle, "Script command: " + S(line) + "\nThe file could not be written completely: " + *path);
    return -1;
  }
  return 0;
}

int ProcessSetFitCommand(ScriptContext& ctx, std::string_view option, std::string_view rest, std::string_view line) {
  if (!FitAvailable(ctx, kSetTitle, line)) return -1;
  const Environment env = ctx.env();
  const std::optional<double> v = ScriptValueToNumerical(rest, ctx.script.theScript, line, env);
  if (!v) return -1;
  const auto whole = [&](double lo, double hi) { return WholeInRange(env, *v, lo, hi, line); };
  CurveFitter& f = ctx.fit->theCurveFitter;
  if (StartsWithNoCase(option, "usebest")) {
    if (!whole(0, 1)) return -1;
    if (*v == 0) return 0;
    return SaveBestParameterSetInCellDefinition(env, f, ctx.cell, ctx.sim);
  }
  if (StartsWithNoCase(option, "maxsteps")) {
    if (!whole(1, 100000)) return -1;
    f.maxSteps = static_cast<int>(*v);
    return 0;
  }
  env.Error(kSetTitle, "Script command: " + S(line) + "\nCurve fitting option not recognised: " + S(option));
  return -1;
}

int ProcessGetFitCommand(ScriptContext& ctx, std::string_view what, std::string_view target, std::string_view line) {
  if (!FitAvailable(ctx, kGetTitle, line) || !FitRan(ctx, kGetTitle)) return -1;
  const Environment env = ctx.env();
  const CurveFitter& f = ctx.fit->theCurveFitter;
  const int best = BestCurveFitIteration(f);
  ScriptVariables& s = ctx.script.theScript;
  if (StartsWithNoCase(what, "chisq"))
    return PostProcesValue(f.running.ChiSqTotal[static_cast<std::size_t>(best)], target, s, line, env) ? 0 : -1;
  if (StartsWithNoCase(what, "iterations"))
    return PostProcesValue(f.running.iteration + 1, target, s, line, env) ? 0 : -1;
  if (StartsWithNoCase(what, "parameter")) {
    const long long i = NumberAfter(what, std::string_view("parameter").size());
    if (i < 1 || i > f.nParameters) {
      env.Error(kGetTitle, "Curve fitting parameter " + std::to_string(i) + " does not exist (1 … " +
                               std::to_string(f.nParameters) + ")");
      return -1;
    }
    const double value = f.running.parameter[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(best)];
    return PostProcesValue(value, target, s, line, env) ? 0 : -1;
  }
  if (StartsWithNoCase(what, "history")) {
    std::vector<double> k;
    for (int j = 0; j <= f.running.iteration; ++j) k.push_back(j);
    return PostProcesCurve(k.data(), f.running.ChiSqTotal.data(), k.size(), "iteration", "Chi square", target, s, line,
                           env)
               ? 0
               : -1;
  }
  env.Error(kGetTitle, "The second part of the argument was not recognised: " + S(what));
  return -1;
}

}  // namespace zoniq
