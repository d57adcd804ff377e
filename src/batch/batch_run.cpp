#include "batch/batch_run.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

#include "batch/batch_file.hpp"
#include "batch/simulation_worker.hpp"
#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "measure/simulation_driver.hpp"
#include "ui/buffered_user_interface.hpp"

namespace zoniq {

namespace {

std::size_t Idx(long long i) { return static_cast<std::size_t>(i); }

// One worker: a cell, a simulation state and a solver context of its own.
struct Worker : SimulationWorker {
  BatchStepPosition previous;
  bool havePrevious = false;
  bool previousFailed = false;
};

// What one step produced.
struct StepOutcome {
  long long step = 0;
  BatchStepPosition position;
  std::array<double, kMaxBatchParameters> values{};
  std::vector<BufferedUserInterface::Event> events;
  std::list<SimulationRecord> records;
  bool failed = false;
  std::string why;                                // a value the cell refused
  std::unique_ptr<BandDiagramProfiles> profiles;  // of the final solved state, when recorded
  StepProfiles stepProfiles;                      // the recorded profiles of that state
};

// Everything the steps share, read-only while they run.
struct Plan : SimulationTemplate {
  BatchSetup batchCopy;  // the steps read this copy while the session's batch shows the progress
  const BatchSetup* batch = nullptr;
  std::vector<CellState> cells;  // the cell of each definition file, or the session's cell
  std::vector<std::array<BatchTarget, kMaxBatchParameters>> targets;  // per cell
  int carryOver = 0;
  int calculationMode = kModeBatch;
  int batchNumber = 0;
  int colour = 0;
  bool needsSolution = false;  // the recorder reads the solved state of each step
  bool needsProfiles = false;  // … and profiles of it
  std::vector<RecorderParameter> recorded;
  std::string definitionName(int file) const {
    return file >= 0 ? batch->definitionFiles[static_cast<std::size_t>(file)] : std::string();
  }
};

void InitialiseWorker(Worker& w, const Plan& plan) {
  w.Initialise(plan, plan.calculationMode);
  w.sim.workpointFromPreviousBatchOption = plan.carryOver;
  w.sim.BatchSimulationNumber = plan.batchNumber;
}

// The curve colour before simulation k of a run that starts at `colour` (it advances by one,
// wrapping from 15 to 1, before each simulation).
int ColourBefore(int colour, long long k) {
  if (k == 0) return colour;
  return static_cast<int>((colour + k - 1) % kCurveColours) + 1;
}

void RunStep(Worker& w, const Plan& plan, long long k, StepOutcome& out) {
  const BatchSetup& b = *plan.batch;
  out.step = k;
  out.position = StepPosition(b, k);
  const int file = out.position.definitionFile;
  const std::size_t cellIndex = file >= 0 ? static_cast<std::size_t>(file) : 0;
  w.cell = plan.cells[cellIndex];
  plan.Restore(w.sim);
  w.ui.events.clear();

  BatchRecordInfo info;
  info.numberOfParameters = b.numberOfParameters;
  info.step = static_cast<int>(k + 1);
  info.numberOfSteps = static_cast<int>(std::min<long long>(b.numberOfSteps, 2147483647LL));
  info.definitionFileBatch = b.variationOfDefinitionFiles;
  info.definitionFile = plan.definitionName(file);
  bool rebuild = !w.havePrevious || w.previousFailed || w.previous.definitionFile != file;
  for (int i = 0; i < b.numberOfParameters; ++i) {
    const std::size_t u = static_cast<std::size_t>(i);
    const BatchParameter& bp = b.bp[u];
    const BatchTarget& target = plan.targets[cellIndex][u];
    const double value = GetParaValue(bp, out.position.step[u]);
    out.values[u] = value;
    if (w.havePrevious && w.previous.step[u] != out.position.step[u] && NeedsRebuild(target)) rebuild = true;
    std::string why;
    if (!ChangeValue(w.cell.zonnecel, w.sim.wp, w.sim.secondwp, bp, target, value, why)) {
      out.failed = true;
      out.why = "Batch parameter " + std::to_string(i) + " (" + BatchLabelText(bp) + ") = " + num(value) + ": " + why;
    }
    info.lines.push_back(MakeBatchParasString(bp, value));
  }
  w.previous = out.position;
  w.havePrevious = true;
  if (out.failed) {
    w.previousFailed = true;
    return;
  }
  // The working point of the previous step is carried over only when nothing that this step
  // changed needs the cell rebuilt.
  if (rebuild) w.sim.workpointFromPreviousBatch = 0;
  w.sim.kleurindex = ColourBefore(plan.colour, k);
  w.sim.simulaties.clear();
  const int result = calculate_withMeta(w.cell, w.sim, w.env, &info, nullptr);
  out.failed = result != 0;
  w.previousFailed = out.failed;
  out.records.splice(out.records.end(), w.sim.simulaties);
  // What the recorder reads from the solved state is taken here, where the state lives: the
  // state at the end of the step, as the band-diagram file shows it.
  if (plan.needsSolution && !out.failed && w.sim.currentCalcVars.par != nullptr) {
    out.profiles = std::make_unique<BandDiagramProfiles>();
    BandDiagramFromSolution(w.sim.currentCalcVars, w.sim.wp.illuminatedFromRight != 0 ? +1 : -1, *out.profiles);
    if (plan.needsProfiles)
      out.stepProfiles =
          RecordStepProfiles(plan.recorded, w.sim.currentCalcVars, *out.profiles, w.sim.acValid ? &w.sim.ac : nullptr);
  }
  out.events = std::move(w.ui.events);
  w.ui.events.clear();
}

void MergeCounts(CallCounter& into, const CallCounter& from) {
  for (int i = 0; i < std::min(from.__countId, CallCounter::kMaxSlots); ++i) {
    const CallCountEntry& e = from.__counts[static_cast<std::size_t>(i)];
    if (e.count <= 0) continue;
    int slot = -1;
    for (int j = 0; j < std::min(into.__countId, CallCounter::kMaxSlots) && slot < 0; ++j)
      if (into.__counts[static_cast<std::size_t>(j)].name == e.name) slot = j;
    if (slot < 0) {
      into.Count(slot, e.name);
      into.__counts[static_cast<std::size_t>(slot)].count += e.count - 1;
    } else {
      into.__counts[static_cast<std::size_t>(slot)].count += e.count;
    }
  }
}

std::string Seconds(double s) {
  if (s < 60) return fix(s, 0, 1) + " s";
  if (s < 3600) return fix(s / 60, 0, 1) + " min";
  return fix(s / 3600, 0, 1) + " h";
}

}  // namespace

std::string SingleShotBatchText(double voltage) {
  return "DO NOT EDIT THIS FILE: THIS IS A ZONIQ SYSTEM FILE\n"
         "Makes a batch of one single calculation at the current working point\n"
         "\n"
         "Batch parameter 0 :\n"
         "\n"
         "Label 1 : V\n"
         "Label 2 : nihil\n"
         "Label 3 : nihil\n"
         "Label 4 : measurement workpoint\n"
         "simultaneous :  0\n"
         "values from a list :  0\n"
         "startvalue : " +
         sci(voltage, 16, 8) + "\nstopvalue : " + sci(voltage, 16, 8) +
         "\nnumber of steps :    1\nlogarithmic variation :  0\n";
}

int RunBatch(BatchRunContext& ctx, bool recording) {
  BatchState& state = ctx.batch;
  const BatchSetup& b = state.theBatch;
  const Environment env = ctx.core.env();
  BatchRunSummary& summary = state.lastBatch;
  summary = BatchRunSummary{};
  const auto refuse = [&](const std::string& text) {
    env.Error("Batch error:", text);
    summary.refused = true;
    return -1;
  };

  long long steps = 0;
  std::string why;
  if (b.numberOfParameters == 0 && !b.variationOfDefinitionFiles) return refuse("No batch parameters are set");
  if (!CountBatchSteps(b, steps, why)) return refuse(why);
  if (b.variationOfDefinitionFiles && b.definitionFiles.size() < 2)
    return refuse("When varying definition files in the batch, at least two definition files should be chosen!");
  summary.steps = steps;
  const long long first = std::clamp<long long>(state.batchFirstStep, 0, steps);

  // Everything the steps share.
  Plan plan;
  plan.batchCopy = b;
  plan.batch = &plan.batchCopy;
  plan.Take(ctx.core, ctx.sim);
  plan.carryOver = ctx.sim.workpointFromPreviousBatchOption;
  plan.calculationMode = recording ? kModeBatchRecording : kModeBatch;
  plan.batchNumber = ctx.sim.BatchSimulationNumber;
  plan.colour = ctx.sim.kleurindex;
  if (b.variationOfDefinitionFiles) {
    for (const std::string& name : b.definitionFiles) {
      CellState c;
      if (ReadBatchDefinitionFile(env, name, c) != 0) return refuse("The definition file " + name + " cannot be read");
      plan.cells.push_back(std::move(c));
    }
  } else {
    plan.cells.push_back(ctx.cell);
  }
  for (const CellState& c : plan.cells) {
    std::array<BatchTarget, kMaxBatchParameters> t{};
    for (int i = 0; i < b.numberOfParameters; ++i)
      if (!ResolveBatchParameter(c.zonnecel, b.bp[Idx(i)], t[Idx(i)], why))
        return refuse("Batch parameter " + std::to_string(i) + " (" + BatchLabelText(b.bp[Idx(i)]) +
                      ") is not available with " + c.problemName + ": " + why);
    plan.targets.push_back(t);
  }

  RecorderSetup& rec = state.theRecorder;
  FilePtr rows;
  if (recording) {
    for (const RecorderParameter& p : rec.parameters) {
      if (!CanRecord(p, why)) return refuse(why);
      plan.needsSolution = plan.needsSolution || NeedsSolution(p);
      plan.needsProfiles = plan.needsProfiles || (NeedsSolution(p) && !IsScalarRecorderParameter(p));
      if (NeedsCf(p)) plan.actie.cf.on = 1;
      for (const CellState& c : plan.cells)
        if (p.type == REC_INTERFACES && p.layer >= c.zonnecel.numberOfLayers)
          return refuse("The recorder asks for interface " + std::to_string(p.layer) + ", which " + c.problemName +
                        " does not have");
    }
    if (rec.parameters.empty()) return refuse("No recorder parameters are set");
    plan.recorded = rec.parameters;
    // In a run without a user the question is answered yes.
    if (!rec.steps.empty() && !ctx.core.ui->ConfirmPopup("Recording", "Reset old recording?", true)) {
      summary.refused = true;
      return -1;
    }
    if (first == 0 || rec.steps.empty()) resetRecordList(rec);
    rec.batchCopy = b;
    if (RecorderNeedsIV(rec)) {
      bool characteristics = false;
      for (const RecorderParameter& p : rec.parameters) characteristics |= p.type == REC_CELL_CHARACTERISTICS;
      if (characteristics && plan.wp.dark) {
        env.Error("Warning", "Recording Batch simulations: cell characteristics are asked, whilst illumination is off");
        plan.wp.dark = 0;
      }
      plan.actie.iv.on = 1;
    }
    if (!state.recordRowsFile.empty()) {
      rows = OpenFile(NativePath(state.recordRowsFile), first == 0 ? "wb" : "ab");
      if (!rows) return refuse("The file of recorder rows cannot be written: " + state.recordRowsFile);
      if (first == 0) std::fputs(RecorderTableHeading(rec).c_str(), rows.get());
      std::fflush(rows.get());
    }
  }

  // Carrying the working point over makes each step depend on the one before: serial.
  const long long count = steps - first;
  int jobs = std::max(1, state.batchJobs);
  if (plan.carryOver) jobs = 1;
  jobs = static_cast<int>(std::min<long long>(jobs, std::max<long long>(count, 1)));

  std::vector<std::unique_ptr<Worker>> workers;
  for (int j = 0; j < jobs; ++j) {
    workers.push_back(std::make_unique<Worker>());
    InitialiseWorker(*workers.back(), plan);
  }

  const auto started = std::chrono::steady_clock::now();
  std::vector<long long> failedSteps;
  // Commits one step: its messages, its record, its recorder row and its progress line.
  const auto commit = [&](StepOutcome& o) {
    ReplayEvents(o.events, ctx.core);
    if (!o.why.empty()) ctx.core.Error("Batch error:", o.why);
    const SimulationRecord* record = o.records.empty() ? nullptr : &o.records.back();
    ctx.sim.simulaties.splice(ctx.sim.simulaties.end(), o.records);
    ++state.theBatch.stepCounter;
    state.theBatch.currentDefinitionFile = o.position.definitionFile;
    for (int i = 0; i < b.numberOfParameters; ++i) {
      BatchParameter& bp = state.theBatch.bp[Idx(i)];
      bp.currentValue = o.values[Idx(i)];
      bp.currentStep = o.position.step[Idx(i)];
      state.theBatch.parameterLines[Idx(i)] = MakeBatchParasString(bp, bp.currentValue);
    }
    if (recording) {
      saveCalculationRecord(rec, b, o.step, o.values, o.position.definitionFile, record, o.failed, o.profiles.get(),
                            &o.stepProfiles);
      if (rows) {
        std::fputs(RecorderTableRow(rec, rec.steps.back()).c_str(), rows.get());
        std::fflush(rows.get());
      }
    }
    ++summary.run;
    if (o.failed) {
      ++summary.failed;
      failedSteps.push_back(o.step + 1);
    }
    if (ctx.progress) {
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const long long done = o.step + 1 - first;
      std::string line = "batch step " + std::to_string(o.step + 1) + "/" + std::to_string(steps) + ":";
      if (o.position.definitionFile >= 0) line += " " + plan.definitionName(o.position.definitionFile) + ";";
      for (int i = 0; i < b.numberOfParameters; ++i) {
        const BatchParameter& bp = b.bp[Idx(i)];
        line += " " + BatchLabelText(bp) + " = ";
        line += bp.valuesFromList && bp.valuesAreFileNames
                    ? bp.fileNameList[Idx(static_cast<long long>(o.values[Idx(i)]))]
                    : sci(o.values[Idx(i)], 0, 3);
        line += ";";
      }
      line += o.failed ? " FAILED;" : "";
      line += " elapsed " + Seconds(elapsed);
      if (done < count) line += ", about " + Seconds(elapsed / static_cast<double>(done) * (count - done)) + " to go";
      *ctx.progress << line << std::endl;
    }
  };
  const auto stop = [&] { return ctx.stopRequested && ctx.stopRequested(); };

  state.theBatch.stepCounter = first;
  if (jobs == 1) {
    for (long long k = first; k < steps; ++k) {
      StepOutcome o;
      RunStep(*workers[0], plan, k, o);
      commit(o);
      if (k + 1 < steps && stop()) {
        summary.stopped = true;
        break;
      }
    }
  } else {
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<std::optional<StepOutcome>> done(Idx(count));
    std::exception_ptr error;
    std::atomic<long long> next{first};
    std::atomic<bool> halt{false};
    std::vector<std::thread> threads;
    for (int j = 0; j < jobs; ++j)
      threads.emplace_back([&, j] {
        Worker& w = *workers[Idx(j)];
        for (;;) {
          const long long k = next.fetch_add(1);
          if (k >= steps || halt.load()) return;
          StepOutcome o;
          try {
            RunStep(w, plan, k, o);
          } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!error) error = std::current_exception();
            halt.store(true);
            ready.notify_all();
            return;
          }
          std::lock_guard<std::mutex> lock(mutex);
          done[Idx(k - first)] = std::move(o);
          ready.notify_all();
        }
      });
    for (long long k = first; k < steps; ++k) {
      std::optional<StepOutcome> o;
      {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&] { return done[Idx(k - first)].has_value() || error; });
        if (!done[Idx(k - first)]) break;  // a worker failed
        o = std::move(done[Idx(k - first)]);
        done[Idx(k - first)].reset();
      }
      commit(*o);
      if (k + 1 < steps && stop()) {
        summary.stopped = true;
        halt.store(true);
        break;
      }
    }
    halt.store(true);
    for (std::thread& t : threads) t.join();
    if (error) std::rethrow_exception(error);
  }
  for (const auto& w : workers) MergeCounts(ctx.core.counter, w->counter);
  // The curve colour goes on as after as many single simulations.
  ctx.sim.kleurindex = ColourBefore(plan.colour, first + summary.run);

  if (ctx.progress) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string line = "batch done: " + std::to_string(summary.run) + " of " + std::to_string(steps) + " steps run";
    if (first > 0) line += " (from step " + std::to_string(first + 1) + ")";
    line += ", " + std::to_string(summary.failed) + " failed";
    if (!failedSteps.empty()) {
      line += " (step";
      for (std::size_t i = 0; i < failedSteps.size() && i < 20; ++i) line += " " + std::to_string(failedSteps[i]);
      line += failedSteps.size() > 20 ? " ...)" : ")";
    }
    if (summary.stopped) line += ", stopped";
    line += ", " + Seconds(elapsed) + " with " + std::to_string(jobs) + (jobs == 1 ? " worker" : " workers");
    *ctx.progress << line << std::endl;
  }
  return summary.failed == 0 && !summary.stopped ? 0 : -1;
}

}  // namespace zoniq
