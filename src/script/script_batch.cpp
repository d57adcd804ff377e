#include "script/script_batch.hpp"

#include <cmath>
#include <optional>

#include "batch/all_settings.hpp"
#include "batch/batch_file.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"
#include "script/script_commands.hpp"
#include "script/script_titles.hpp"
#include "script/script_values.hpp"

namespace zoniq {

namespace {

using namespace script_titles;

}  // namespace

int ProcessLoadBatchCommand(ScriptContext& ctx, std::string_view argument, const std::string& fileName,
                            std::string_view line) {
  if (!BatchAvailable(ctx, kLoadTitle, line)) return -1;
  const Environment env = ctx.env();
  BatchState& b = *ctx.batch;
  if (StartsWithNoCase(argument, "singleshotbatch"))
    // The one-step batch is read from memory: nothing is written into the program folder.
    return SetBatchFromText(env, SingleShotBatchText(ctx.sim.wp.voltage), "singleshotbatch.sbf", ctx.cell.zonnecel,
                            b.theBatch);
  if (StartsWithNoCase(argument, "batch")) return SetBatchFromFile(env, fileName, ctx.cell.zonnecel, b.theBatch);
  if (StartsWithNoCase(argument, "allzoniq") || StartsWithNoCase(argument, "zoniq")) {
    if (!ctx.general) return ctx.env().Error(kLoadTitle, "The file of all settings is not available here"), -1;
    return SetAllZONIQSettingsFromFile(AllSettings{ctx.core, ctx.cell, ctx.sim, b, *ctx.general}, fileName) == 0 ? 0
                                                                                                                 : -1;
  }
  return SetRecordFromFile(env, fileName, b.theRecorder);
}

int ProcessSaveBatchSetting(ScriptContext& ctx, std::string_view what, std::string_view fileName,
                            std::string_view line) {
  if (!BatchAvailable(ctx, kSaveTitle, line)) return -1;
  if (StartsWithNoCase(what, "allzoniq") || StartsWithNoCase(what, "zoniq")) {
    if (!ctx.general) return ctx.env().Error(kLoadTitle, "The file of all settings is not available here"), -1;
    const std::optional<std::string> path = OutputPath(ctx, fileName, FK_ALLSETTINGS, ".zoniq", line);
    if (!path) return -1;
    return SaveAllZONIQSettingsToPath(AllSettings{ctx.core, ctx.cell, ctx.sim, *ctx.batch, *ctx.general}, *path);
  }
  const bool batch = StartsWithNoCase(what, "batch");
  const std::optional<std::string> path =
      OutputPath(ctx, fileName, batch ? FK_BATCH : FK_RECORD, batch ? ".sbf" : ".srf", line);
  if (!path) return -1;
  const HeaderInfo header = MakeHeaderInfo(ctx.core.VERSION, ctx.cell.problemName);
  return batch ? SaveBatchSettingsToPath(ctx.env(), *path, header, ctx.batch->theBatch)
               : SaveRecordSettingsToPath(ctx.env(), *path, header, ctx.batch->theRecorder);
}

int ProcessSaveRecorderResult(ScriptContext& ctx, std::string_view fileName, std::string_view header,
                              std::string_view line) {
  if (!BatchAvailable(ctx, kSaveTitle, line)) return -1;
  const Environment env = ctx.env();
  if (ctx.batch->theRecorder.steps.empty()) {
    env.Error("Error in writing recorder results from a script", "No recorder results available");
    return -1;
  }
  const std::optional<std::string> path = OutputPath(ctx, fileName, FK_RECORDER, ".rcd", line);
  if (!path) return -1;
  FilePtr f = OpenFile(NativePath(*path), "wb");
  bool ok = f != nullptr;
  if (ok) {
    std::fputs((S(header) + "\n").c_str(), f.get());
    ok = record_naar_file(env, f.get(), ctx.batch->theRecorder, ctx.core.VERSION, RecorderKindOfFileName(*path)) == 0 &&
         !std::ferror(f.get());
  }
  if (!ok) {
    env.Error(kSaveTitle, "Script command: " + S(line) + "\nThe file could not be written completely: " + *path);
    return -1;
  }
  return 0;
}

int ProcessGetRecorder(ScriptContext& ctx, std::string_view target, std::string_view line) {
  if (!BatchAvailable(ctx, "Script get command", line)) return -1;
  const Environment env = ctx.env();
  const RecorderSetup& r = ctx.batch->theRecorder;
  if (r.steps.empty()) {
    env.Error("Script get command", "No calculations are made yet\nasked information not defined; nothing returned");
    return -1;
  }
  const int mode = ctx.script.theScript.mode;
  const int n = static_cast<int>(r.parameters.size());
  if (mode < 0 || mode >= n) {
    env.Error("Script get command", "Invalid mode number: mode (" + std::to_string(mode) +
                                        ") should be positive and smaller than the number of records (" +
                                        std::to_string(n) + ")");
    return -1;
  }
  std::vector<double> x, y;
  for (const RecordedStep& s : r.steps) {
    x.push_back(static_cast<double>(s.step + 1));
    y.push_back(static_cast<std::size_t>(mode) < s.values.size() ? s.values[static_cast<std::size_t>(mode)]
                                                                 : std::nan(""));
  }
  const std::string name = MakeRecordText(r.parameters[static_cast<std::size_t>(mode)]);
  return PostProcesCurve(x.data(), y.data(), x.size(), "batch simulation no.", name, target, ctx.script.theScript, line,
                         env)
             ? 0
             : -1;
}

int ProcessSetBatchCommand(ScriptContext& ctx, std::string_view option, std::string_view rest, std::string_view line) {
  if (!BatchAvailable(ctx, kSetTitle, line)) return -1;
  const Environment env = ctx.env();
  BatchState& b = *ctx.batch;
  if (StartsWithNoCase(option, "recordfile")) {
    const std::string name = Trim(rest);
    if (name.empty() || EqualsNoCase(name, "none")) {
      b.recordRowsFile.clear();
      return 0;
    }
    const std::optional<std::string> path = OutputPath(ctx, name, FK_RECORDER, ".rcd", line);
    if (!path) return -1;
    b.recordRowsFile = *path;
    return 0;
  }
  const std::optional<double> v = ScriptValueToNumerical(rest, ctx.script.theScript, line, env);
  if (!v) return -1;
  const auto whole = [&](double lo, double hi) { return WholeInRange(env, *v, lo, hi, line); };
  if (StartsWithNoCase(option, "jobs")) {
    if (!whole(1, 256)) return -1;
    b.batchJobs = static_cast<int>(*v);
  } else if (StartsWithNoCase(option, "quiet")) {
    if (!whole(0, 1)) return -1;
    b.batchQuiet = static_cast<int>(*v);
  } else if (StartsWithNoCase(option, "startstep")) {
    if (!whole(1, static_cast<double>(kMaxBatchSteps))) return -1;
    b.batchFirstStep = static_cast<long long>(*v) - 1;
  } else {
    env.Error(kSetTitle, "Script command: " + S(line) + "\nBatch option not recognised: " + S(option));
    return -1;
  }
  return 0;
}

RecordedResults RecordedResultsOf(const RecorderSetup& recorder) {
  RecordedResults r;
  for (std::size_t k = 0; k < recorder.parameters.size(); ++k) {
    if (!IsScalarRecorderParameter(recorder.parameters[k])) continue;
    r.names.push_back(MakeRecordText(recorder.parameters[k]));
    std::vector<double> column;
    for (const RecordedStep& step : recorder.steps)
      column.push_back(k < step.values.size() ? step.values[k] : std::nan(""));
    r.values.push_back(std::move(column));
  }
  for (const RecordedStep& step : recorder.steps) r.steps.push_back(static_cast<double>(step.step + 1));
  return r;
}

}  // namespace zoniq
