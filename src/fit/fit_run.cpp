#include "fit/fit_run.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

#include "batch/batch_setup.hpp"
#include "batch/simulation_worker.hpp"
#include "common/format.hpp"
#include "measure/simulation_driver.hpp"
#include "measurements/chi_square.hpp"
#include "measurements/measurement_file.hpp"
#include "ui/buffered_user_interface.hpp"

namespace zoniq {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTwoPi = 6.283185307179586;

std::size_t U(int i) { return static_cast<std::size_t>(i); }

double FixedValue(const CurveFitMeasurement& m) {
  return m.fixedType == 1 ? m.fixedInt : m.fixedType == 3 ? 0.0 : m.fixedReal;
}

// The present value of what a batch target names (practical units); false for file names.
bool TargetValue(const CellDefinition& cell, const WorkPoint& wp, const WorkPoint& secondwp, const BatchTarget& t,
                 double& value) {
  const WorkPoint& w = t.initialWork ? secondwp : wp;
  switch (t.kind) {
    case BatchTargetKind::kCell: {
      CellParameterError error;
      return CellparameterToGetVariable(cell, t.cell, value, t.scriptName, error);
    }
    case BatchTargetKind::kTemperature:
      return value = w.temperature, true;
    case BatchTargetKind::kVoltage:
      return value = w.voltage, true;
    case BatchTargetKind::kFrequency:
      return value = w.frequency, true;
    case BatchTargetKind::kRs:
      return value = w.Rs * 1e4, true;  // [Ohm m2] -> [Ohm cm2]
    case BatchTargetKind::kRsh:
      return value = RshFromGsh(w.Gsh * 1e-4), true;
    case BatchTargetKind::kGsh:
      return value = w.Gsh * 1e-4, true;
    case BatchTargetKind::kNeutralDensity:
      return value = w.neutralDensity, true;
    case BatchTargetKind::kTransmission:
      return value = 100.0 * std::pow(10.0, -w.neutralDensity), true;
    case BatchTargetKind::kAttenuation:
      return value = w.attenuation, true;
    case BatchTargetKind::kShortCutOff:
      return value = w.shortWavelengthCutOff, true;
    case BatchTargetKind::kLongCutOff:
      return value = w.longWavelengthCutOff, true;
    default:
      return false;
  }
}

template <class T>
std::vector<double> Head(const std::vector<T>& v, int n) {
  return std::vector<double>(v.begin(), v.begin() + std::clamp<std::ptrdiff_t>(n, 0, std::ssize(v)));
}

// Everything the evaluations share, read-only while they run.
struct Plan : SimulationTemplate {
  CellState cell;
  std::array<BatchParameter, kMaxFitParameters> bp{};
  std::array<BatchTarget, kMaxFitParameters> target{};
  std::array<BatchParameter, kMaxFitMeasurements> fixedBp{};
  std::array<BatchTarget, kMaxFitMeasurements> fixedTarget{};
};

using Worker = SimulationWorker;

// What one evaluation produced, kept until its iteration is committed.
struct Outcome {
  std::vector<BufferedUserInterface::Event> events;
  std::list<SimulationRecord> records;
};

class SimulationEvaluator : public FitEvaluator {
 public:
  SimulationEvaluator(FitRunContext& ctx, const Plan& plan, int jobs) : ctx_(ctx), plan_(plan) {
    for (int j = 0; j < std::max(1, jobs); ++j) {
      auto w = std::make_unique<Worker>();
      w->Initialise(plan, kModeCurveFitting);
      workers_.push_back(std::move(w));
    }
  }

  int Parallelism() const override { return static_cast<int>(workers_.size()); }

  void Evaluate(const CurveFitter& f, std::span<const FitTrial> trials, std::span<FitEvaluation> results) override {
    std::vector<Outcome> outcomes(trials.size());
    const std::size_t jobs = std::min(workers_.size(), trials.size());
    if (jobs <= 1) {
      for (std::size_t t = 0; t < trials.size(); ++t) Run(*workers_[0], f, trials[t], results[t], outcomes[t]);
    } else {
      std::mutex mutex;
      std::size_t next = 0;
      std::exception_ptr error;
      std::vector<std::thread> threads;
      for (std::size_t j = 0; j < jobs; ++j)
        threads.emplace_back([&, j] {
          for (;;) {
            std::size_t t;
            {
              std::lock_guard<std::mutex> lock(mutex);
              if (next >= trials.size() || error) return;
              t = next++;
            }
            try {
              Run(*workers_[j], f, trials[t], results[t], outcomes[t]);
            } catch (...) {
              std::lock_guard<std::mutex> lock(mutex);
              if (!error) error = std::current_exception();
              return;
            }
          }
        });
      for (std::thread& t : threads) t.join();
      if (error) std::rethrow_exception(error);
    }
    for (std::size_t t = 0; t < trials.size(); ++t) pending_[trials[t].iteration] = std::move(outcomes[t]);
  }

  void Commit(const FitTrial& trial) override {
    const auto found = pending_.find(trial.iteration);
    if (found == pending_.end()) return;
    ReplayEvents(found->second.events, ctx_.core);
    ctx_.sim.simulaties.splice(ctx_.sim.simulaties.end(), found->second.records);
    pending_.erase(found);
  }

  void MergeCounts() {
    CallCounter& into = ctx_.core.counter;
    for (const auto& w : workers_)
      for (int i = 0; i < std::min(w->counter.__countId, CallCounter::kMaxSlots); ++i) {
        const CallCountEntry& e = w->counter.__counts[U(i)];
        if (e.count <= 0) continue;
        int slot = -1;
        for (int j = 0; j < std::min(into.__countId, CallCounter::kMaxSlots) && slot < 0; ++j)
          if (into.__counts[U(j)].name == e.name) slot = j;
        if (slot < 0) {
          into.Count(slot, e.name);
          into.__counts[U(slot)].count += e.count - 1;
        } else {
          into.__counts[U(slot)].count += e.count;
        }
      }
  }

 private:
  // One trial point: every measurement simulated on a fresh copy of the cell.
  void Run(Worker& w, const CurveFitter& f, const FitTrial& trial, FitEvaluation& result, Outcome& out) {
    w.ui.events.clear();
    FitRecordInfo info;
    info.numberOfParameters = f.nParameters;
    info.iteration = trial.iteration;
    info.numberOfIterations = f.maxSteps;
    for (int i = 0; i < f.nParameters; ++i)
      info.lines.push_back(MakeBatchParasString(plan_.bp[U(i)], trial.values[U(i)]));
    for (int m = 0; m < f.nMeasurements; ++m) {
      const CurveFitMeasurement& meas = f.measurement[U(m)];
      result.chiSq[U(m)] = kInf;
      w.cell = plan_.cell;
      plan_.Restore(w.sim);
      w.sim.workpointFromPreviousBatch = 0;
      w.sim.equiberekend = w.sim.kortberekend = w.sim.werkberekend = 0;
      bool ok = true;
      std::string why;
      for (int i = 0; i < f.nParameters && ok; ++i) {
        ok = ChangeValue(w.cell.zonnecel, w.sim.wp, w.sim.secondwp, plan_.bp[U(i)], plan_.target[U(i)],
                         trial.values[U(i)], why);
        if (!ok)
          w.env.Error("Curve fitting", "Curve fitting parameter " + std::to_string(i + 1) + " (" + f.name[U(i)] +
                                           ") = " + num(trial.values[U(i)]) + ": " + why);
      }
      info.fixedParameterSet = meas.hasFixedParameter;
      info.fixedParameterLine.clear();
      if (ok && meas.hasFixedParameter) {
        info.fixedParameterLine = MakeBatchParasString(plan_.fixedBp[U(m)], FixedValue(meas));
        ok = ChangeValue(w.cell.zonnecel, w.sim.wp, w.sim.secondwp, plan_.fixedBp[U(m)], plan_.fixedTarget[U(m)],
                         FixedValue(meas), why);
        if (!ok) w.env.Error("Curve fitting", "Fixed parameter of measurement " + std::to_string(m + 1) + ": " + why);
      }
      if (!ok) continue;
      std::string values = "curve fitting parameter value(s):";
      for (int i = 0; i < f.nParameters; ++i) values += (i ? ";" : "") + sci(trial.values[U(i)], 12, 2);
      w.ui.StatusMessage("Curve fitting: parameterset " + std::to_string(trial.iteration) + "/" +
                         std::to_string(f.maxSteps) + " ; measurement # " + std::to_string(m + 1) + "/" +
                         std::to_string(f.nMeasurements));
      w.ui.StatusMessage(values);
      // The simulation the measurement needs, in the dark for odd codes and under light for even.
      const FitSweep sweep = CurveFitTypeSweep(meas.type);
      w.sim.actie.iv.on = sweep == FitSweep::kIV;
      w.sim.actie.cv.on = sweep == FitSweep::kCV;
      w.sim.actie.cf.on = sweep == FitSweep::kCf;
      w.sim.actie.qe.on = sweep == FitSweep::kQE;
      w.sim.wp.dark = meas.type % 2 == 1 ? 1 : 0;
      w.sim.simulaties.clear();
      w.sim.CurveFitSimulationNumber = trial.iteration;
      const int status = calculate_withMeta(w.cell, w.sim, w.env, nullptr, &info);
      std::vector<double> xs, ys;
      const SimulationRecord* record = w.sim.CurrentRecord();
      if (status == 0 && record && SimulatedFitCurve(*record, meas.type, xs, ys)) {
        const std::optional<double> chi =
            meas.linlog ? Chi_square_log(meas.x, meas.y, xs, ys) : Chi_square(meas.x, meas.y, xs, ys);
        if (chi && std::isfinite(*chi)) result.chiSq[U(m)] = *chi;
      }
      out.records.splice(out.records.end(), w.sim.simulaties);
    }
    out.events = std::move(w.ui.events);
    w.ui.events.clear();
  }

  FitRunContext& ctx_;
  const Plan& plan_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::map<int, Outcome> pending_;
};

}  // namespace

bool SimulatedFitCurve(const SimulationRecord& r, int type, std::vector<double>& x, std::vector<double>& y) {
  x.clear(), y.clear();
  switch (CurveFitTypeSweep(type)) {
    case FitSweep::kIV:
      if (!r.iv.present) return false;
      x = Head(r.iv.v, r.iv.pointsDone), y = Head(r.iv.j, r.iv.pointsDone);
      break;
    case FitSweep::kCV: {
      if (!r.cv.present) return false;
      const int n = r.cv.pointsDone;
      x = Head(r.cv.v, n);
      y = Head((type - 1) / 2 == 2 ? r.cv.G : r.cv.C, n);
      if ((type - 1) / 2 == 3)
        for (double& c : y) c = 1.0 / (c * c);
      break;
    }
    case FitSweep::kCf: {
      if (!r.cf.present) return false;
      const int n = r.cf.pointsDone;
      x = Head(r.cf.f, n);
      switch ((type - 1) / 2) {
        case 4:
          y = Head(r.cf.C, n);
          break;
        case 5:
          y = Head(r.cf.G, n);
          break;
        case 6:
          y = Head(r.cf.G, n);
          for (std::size_t i = 0; i < y.size(); ++i) y[i] /= kTwoPi * x[i];
          break;
        default:
          x = Head(r.cf.Zre, n), y = Head(r.cf.Zim, n);
          break;
      }
      break;
    }
    case FitSweep::kQE:
      if (!r.qe.present) return false;
      x = Head((type - 1) / 2 == 8 ? r.qe.lambda : r.qe.photonEnergy, r.qe.pointsDone);
      y = Head(r.qe.QE, r.qe.pointsDone);
      break;
    default:
      return false;
  }
  return !x.empty();
}

int LoadFitMeasurement(const Environment& env, const std::string& fullPath, int type, std::vector<double>& x,
                       std::vector<double>& y) {
  const ReadResult<FitCurve> curve = ReadFitMeasurement(fullPath, type);
  for (const MeasurementNotice& n : curve.notices) env.Error(n.title, n.message);
  if (!curve.ok()) {
    env.Error("Error whilst reading a measurement file", curve.error);
    return -1;
  }
  x = curve.value->x;
  y = curve.value->y;
  return 0;
}

int RunCurveFit(FitRunContext& ctx) {
  CurveFitter& f = ctx.fitter;
  const Environment env = ctx.core.env();
  const auto refuse = [&](const std::string& why) {
    env.Error("Curve fitting", why);
    return -1;
  };
  if (f.nParameters <= 0) return refuse("No curve fitting parameters are set");
  if (f.nMeasurements <= 0) return refuse("No measurements to fit are set");
  Plan plan;
  plan.cell = ctx.cell;
  plan.Take(ctx.core, ctx.sim);
  for (int i = 0; i < f.nParameters; ++i) {
    std::string why;
    plan.bp[U(i)] = AsBatchParameter(f.label[U(i)]);
    if (!ResolveBatchParameter(ctx.cell.zonnecel, plan.bp[U(i)], plan.target[U(i)], why))
      return refuse("Curve fitting parameter " + std::to_string(i) +
                    " not available with actual definitionfile(s) or action list\n" + why);
    if (!TargetValue(ctx.cell.zonnecel, ctx.sim.wp, ctx.sim.secondwp, plan.target[U(i)], f.actualValue[U(i)]))
      return refuse("Curve fitting parameter " + std::to_string(i) + " (" + BatchLabelText(plan.bp[U(i)]) +
                    ") is not a number that can be fitted");
    if (f.name[U(i)].empty()) f.name[U(i)] = BatchLabelText(plan.bp[U(i)]);
    const double lo = f.minimum[U(i)], hi = f.maximum[U(i)];
    if (!(lo < hi) || (f.logarithmic[U(i)] && !(lo > 0)))
      return refuse("Curve fitting parameter " + std::to_string(i) + ": the range " + num(lo) + " … " + num(hi) +
                    " must be rising" + (f.logarithmic[U(i)] ? " and positive" : ""));
  }
  for (int m = 0; m < f.nMeasurements; ++m) {
    const CurveFitMeasurement& meas = f.measurement[U(m)];
    if (CurveFitTypeSweep(meas.type) == FitSweep::kNone || meas.x.empty())
      return refuse("Measurement " + std::to_string(m) + " has no type or no measured points");
    if (!meas.hasFixedParameter) continue;
    std::string why;
    plan.fixedBp[U(m)] = FixedBatchParameter(meas);
    if (!ResolveBatchParameter(ctx.cell.zonnecel, plan.fixedBp[U(m)], plan.fixedTarget[U(m)], why))
      return refuse("Fixed parameter for measurement " + std::to_string(m) +
                    " not available with actual definitionfile(s) or action list\n" + why);
  }

  SimulationEvaluator evaluator(ctx, plan, ctx.jobs);
  FitRunOptions options;
  options.progress = ctx.progress;
  options.stopRequested = ctx.stopRequested;
  const int previousMode = ctx.sim.Calculationmode;
  ctx.sim.Calculationmode = kModeCurveFitting;
  DoCurveFittingCalculations(f, evaluator, options);
  ctx.sim.Calculationmode = previousMode;
  evaluator.MergeCounts();
  if (ctx.progress) {
    const int best = BestCurveFitIteration(f);
    std::string line = "fit done: " + std::to_string(f.running.iteration + 1) + " iterations";
    if (f.running.endState == 2) line += ", converged (step size)";
    if (f.running.endState == 3) line += ", converged (chi-square)";
    if (f.running.endState == 4) line += ", step limit reached";
    if (f.running.stopped) line += ", stopped";
    if (best >= 0) {
      line += "; best chi-square " + sci(f.running.ChiSqTotal[U(best)], 0, 4) + " at iteration " + std::to_string(best);
      for (int i = 0; i < f.nParameters; ++i)
        line += "; " + f.name[U(i)] + " = " + sci(f.running.parameter[U(i)][U(best)], 0, 4);
    }
    *ctx.progress << line << std::endl;
  }
  return 0;
}

int SaveBestParameterSetInCellDefinition(const Environment& env, const CurveFitter& f, CellState& cell,
                                         SimulationState& sim) {
  const int best = BestCurveFitIteration(f);
  if (best < 0 || f.running.parameter.size() != U(f.nParameters)) {
    env.Error("Curve fitting", "No curve fitting calculatieons done: nothing to save or to show !");
    return -1;
  }
  // Into copies first: the cell changes only when every value is taken.
  CellDefinition c = cell.zonnecel;
  WorkPoint wp = sim.wp, secondwp = sim.secondwp;
  for (int i = 0; i < f.nParameters; ++i) {
    const BatchParameter bp = AsBatchParameter(f.label[U(i)]);
    BatchTarget target;
    std::string why;
    const double value = f.running.parameter[U(i)][U(best)];
    if (!ResolveBatchParameter(c, bp, target, why) || !ChangeValue(c, wp, secondwp, bp, target, value, why)) {
      env.Error("Curve fitting", "The best value of curve fitting parameter " + std::to_string(i) + " (" +
                                     BatchLabelText(bp) + ") cannot be set: " + why);
      return -1;
    }
  }
  cell.zonnecel = std::move(c);
  sim.wp = wp;
  sim.secondwp = secondwp;
  sim.equiberekend = sim.kortberekend = sim.werkberekend = 0;
  return 0;
}

}  // namespace zoniq
