#include "measure/simulation_driver.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "measure/admittance_analysis.hpp"
#include "measure/admittance_sweeps.hpp"
#include "measure/iv_sweep.hpp"
#include "measure/qe_sweep.hpp"
#include "measure/temperature_continuation.hpp"
#include "optics/generation.hpp"
#include "optics/illumination.hpp"
#include "optics/spectrum.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/gummel.hpp"
#include "solver/metastable.hpp"
#include "solver/x_dependence.hpp"

namespace zoniq {

int ReadWorkPoint(WorkPoint& workPoint, const CellState& cell, const Environment& env) {
  CheckCutoffWavelengths(workPoint);
  workPoint.problemName = cell.problemName;
  if (!ValidNumberOfSteps(workPoint.numberOfSteps)) {
    env.Error("Error in the working point",
              "The number of steps of the working point is " + std::to_string(workPoint.numberOfSteps) +
                  ": at least 2 are needed to step the bias from 0 V to the working point.");
    return -1;
  }
  return 0;
}

void StatusMessage(const Environment& env, int kind) {
  static constexpr const char* kTexts[] = {"OK", "...calculating...", "PAUSE", "Set Problem"};
  if (env.ui && kind >= 0 && kind <= 3) env.ui->StatusMessage(kTexts[kind]);
}

namespace {

void Message(const Environment& env, const std::string& text) {
  if (env.ui) env.ui->StatusMessage(text);
}

// "simulation done on: d-m-yyyy at h:m:s", padded to 80 characters.
std::string TimeStamp() {
  const DateTime t = NowLocal();
  std::string text = "simulation done on: " + std::to_string(t.day) + "-" + std::to_string(t.month) + "-" +
                     std::to_string(t.year) + " at " + std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" +
                     std::to_string(t.second);
  if (text.size() < 80) text.resize(80, ' ');
  return text;
}

// The solution cv taken from a store, with its material data and the working-point generation
// evaluated again.
void TakeFrom(SimulationState& s, CalculationVariables& cv, const CalculationVariables& store) {
  SolverContext* const ctx = cv.ctx;
  CopyCalculationVariables(cv, store);
  cv.ctx = ctx;
  Full_x_Dependence(cv);
  RecomputeGeneration(cv, s.generatieparameters);
}

}  // namespace

int Pause(SimulationState& s, const Environment& env) {
  if (!s.pausestatus) return 1;
  // Without an interactive front end nobody can answer: the run goes on.
  StatusMessage(env, 2);
  StatusMessage(env, 0);
  return 1;
}

int equilibrium(SimulationState& s, CalculationVariables& cv) {
  const bool failed = SolveEquilibrium(cv) != 0 || cv.teller == -1;
  s.CONVERGENTIEFALING = s.EquilibriumConvergenceFailure = failed ? 1 : 0;
  return failed ? -1 : 0;
}

int onder_belichting(SimulationState& s, CalculationVariables& cv) {
  if (cv.teller == -1) {
    s.CONVERGENTIEFALING = 1;
    return -1;
  }
  const int r = los_totaal_dc_stelsel_op_Gummel(cv);
  s.CONVERGENTIEFALING = (r == -1 || cv.teller == -1) ? 1 : 0;
  return 0;
}

int RaiseLight(SimulationState& s, CalculationVariables& cv, int n,
               const std::function<int(CalculationVariables&)>& solve) {
  GenerationParameters& gen = s.generatieparameters;
  s.CONVERGENTIEFALING = 0;
  // Along the ramp the quasi-Fermi levels move about linearly in the logarithm of the light:
  // each step starts from the straight line through the two before it.
  ForgetPath(cv);
  for (int k = n - 1; k >= 0 && !s.CONVERGENTIEFALING; --k) {
    SetGenerationFactor(cv, gen, std::exp(-static_cast<double>(k)));
    PredictOnPath(cv, -static_cast<double>(k));
    solve(cv);
    if (!s.CONVERGENTIEFALING) RememberOnPath(cv, -static_cast<double>(k));
  }
  // A mesh change later must regenerate the full profile, whatever step the ramp ended at.
  SetGenerationFactor(cv, gen, 1.0);
  return s.CONVERGENTIEFALING ? -1 : 0;
}

namespace {

// The light raised from a millionth of the full profile by a factor e^(1/4) per step, from the
// equilibrium in cv: each step moves the quasi-Fermi levels by a fraction of kT, where the
// ordinary ramp (a factor e per step) can ask too much of a cell with extreme density ratios (a
// wide-gap window at low temperature).
constexpr int kSlowLightSteps = 56;  // e^(−56/4) ≈ 8e-7

int RaiseLightSlowlyFrom(SimulationState& s, CalculationVariables& cv) {
  GenerationParameters& gen = s.generatieparameters;
  s.CONVERGENTIEFALING = 0;
  ForgetPath(cv);
  for (int k = kSlowLightSteps; k >= 0 && !s.CONVERGENTIEFALING; --k) {
    SetGenerationFactor(cv, gen, std::exp(-0.25 * static_cast<double>(k)));
    PredictOnPath(cv, -0.25 * static_cast<double>(k));
    onder_belichting(s, cv);
    if (!s.CONVERGENTIEFALING) RememberOnPath(cv, -0.25 * static_cast<double>(k));
  }
  SetGenerationFactor(cv, gen, 1.0);
  return s.CONVERGENTIEFALING ? -1 : 0;
}

}  // namespace

int RaiseLightSlowly(SimulationState& s, CalculationVariables& cv) {
  s.solverContext.LogRecovery("short circuit: retried from equilibrium with the light raised in " +
                              std::to_string(kSlowLightSteps + 1) + " steps");
  TakeFrom(s, cv, s.evenwichtcv);
  if (RaiseLightSlowlyFrom(s, cv) != 0) return -1;
  cv.pointState = kPointContinuation;
  return 0;
}

namespace {

// The end of the short-circuit or working-point stage: its failure flag, its current density
// (0 after a failure) and, when solved, its stored solution.
void EndStage(SimulationState& s, const CalculationVariables& cv, int& failure, double& J,
              CalculationVariables& store) {
  failure = s.CONVERGENTIEFALING ? 1 : 0;
  J = 0.0;
  if (failure) return;
  extraheer_stroom(cv, s.stroom);
  J = s.stroom.j_tot[1];
  CopyCalculationVariables(store, cv);
}

// The short circuit from the equilibrium in cv, at cv's own temperature: the light ramp of the
// working point (or full light at once when the ramp is off), then the slow ramp from the same
// equilibrium.
bool ShortCircuitFromEquilibrium(SimulationState& s, CalculationVariables& cv, int steps) {
  const CalculationVariables equilibrium = cv;
  if (s.lightRampOff) {
    SetGenerationFactor(cv, s.generatieparameters, 1.0);
    onder_belichting(s, cv);
  } else {
    RaiseLight(s, cv, steps, [&](CalculationVariables& c) { return onder_belichting(s, c); });
  }
  if (!s.CONVERGENTIEFALING) return true;
  cv = equilibrium;
  return RaiseLightSlowlyFrom(s, cv) == 0;
}

// One solve at the bias and light in cv (a solution carried from a nearby temperature).
bool SolveAgain(CalculationVariables& cv) {
  const int r = los_totaal_dc_stelsel_op_Gummel(cv);
  return r != -1 && cv.teller != -1;
}

}  // namespace

TemperatureStage ShortCircuitStage(SimulationState& s, int steps) {
  return {"short circuit", [&s, steps](CalculationVariables& c) { return ShortCircuitFromEquilibrium(s, c, steps); },
          SolveAgain};
}

TemperatureStage WorkPointStage(SimulationState& s, double V, int steps) {
  return {"working point",
          [&s, V, steps](CalculationVariables& c) {
            if (!s.wp.dark && !ShortCircuitFromEquilibrium(s, c, steps)) return false;
            return volgende_iv_punt(c, 0.0, V, steps, s.versieschatting) == 0;
          },
          SolveAgain};
}

int CheckConvergenceFailure(SimulationState& s, const Environment& env, int& calculatedFlag, const std::string& name,
                            int /*dark: the illumination label of a graphical view*/, double Vreached, double Vtarget,
                            const CalculationVariables& cv) {
  StatusMessage(env, 0);
  if (cv.teller != -1) {
    calculatedFlag = 1;
    // The band view shows the currents of the state just solved.
    extraheer_stroom(cv, s.stroom);
    std::string text = name + " V = " + fix(Vtarget, 0, 3) + " Volt";
    if (text.size() < 79) text.resize(79, ' ');
    Message(env, text);
    return 1;
  }
  calculatedFlag = 0;
  env.Error("Calculating " + name + "...", "Convergence failure calculating for V = " + fix(Vreached, 0, 3) + " Volt");
  Message(env, "No " + name + " calculated (convergence failure)");
  StatusMessage(env, 0);
  return 0;
}

namespace {

// Steps 1–8 of the chain that prepare the calculation: the cell in the solver's units on a mesh
// and the generation parameters of the working point, with zero light for the equilibrium.
int PrepareCalculation(CellState& cell, SimulationState& s, const Environment& env, CalculationVariables& cv) {
  const WorkPoint& wp = s.wp;
  GenerationParameters& gen = s.generatieparameters;
  gen.windowOn = wp.spectrumCutOff;
  gen.windowStart = wp.shortWavelengthCutOff;
  gen.windowEnd = wp.longWavelengthCutOff;
  gen.ndTransmission = std::pow(10.0, -wp.neutralDensity);
  gen.side = wp.illuminatedFromRight ? +1 : -1;
  gen.Rfront = cell.definitionExtras.workPoint.Rfront;
  gen.fromFile = 0;
  gen.lightFactor = 1.0;

  const int n = bepaal_spectrum(env, s.wp, gen.wavelengths, gen.watt_lambda);
  if (n <= 0) return -1;  // reported by the spectrum reader; no light to simulate with
  gen.numberOfWavelengths = n;
  if (BerekenFilterSpectra(env, gen, cell.parameterset1.cellParas) == 0) return -1;
  if (CheckMultipleReflection(env, gen) == 0) return -1;

  if (parameterset1_to_3(cell.parameterset1, cell.definitionExtras.mesh, s.parameterset3, wp.temperature, &env) != 0)
    return -1;
  // Metastable defects start from the shares set at the second working point (when they were).
  s.parameterset3.metaHandover = s.metaHandover;
  // The mesh resolves the absorption depth when the light is computed optically.
  cv.illuminated = (!wp.dark && !wp.generationFromFile) ? 1 : 0;
  cv.wavelengths = gen.wavelengths;
  if (CreateCalculationVariables(cv, s.parameterset3, &s.solverContext, true) != 0) return -1;
  bepaal_alfa(cv, gen.wavelengths);
  if (CreateCalculationVariables(cv, s.parameterset3, &s.solverContext, false) != 0) return -1;
  InstallGenerationHook(cv, gen);
  // No light for the equilibrium.
  CalculateIncomingFluxes(gen, 0.0, 0);
  ClearGeneration(cv, gen);
  return 0;
}

// The generation of the working point on cv: from the spectrum, or from the generation file.
int WorkPointGeneration(SimulationState& s, const Environment& env, CalculationVariables& cv) {
  GenerationParameters& gen = s.generatieparameters;
  gen.lightFactor = 1.0;
  if (s.wp.generationFromFile) {
    gen.fromFile = 1;
    return bereken_generatie_uit_file(env, cv, gen, s.wp) == 0 ? -1 : 0;
  }
  gen.fromFile = 0;
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 0);
  if (CalculateFluxes(cv, gen, 0) == 0) return -1;
  CalculateGeneration(cv, gen);
  return 0;
}

// The shares of the metastable configurations settled at the working point in cv: after each
// solution the shares it asks for are computed; the loop ends when they differ from the shares
// the solution was computed with by less than the tolerance (relative to the total density),
// otherwise the shares move towards them and the point is solved again. The step factor starts
// at 1 (or the clamp) and is halved whenever a step removes less than a tenth of what it should,
// which damps the oscillation of strong feedback (shares that change the band bending enough to
// reverse themselves). A loop that does not settle is reported and flagged.
void UpdateMetaStableDefects(SimulationState& s, const Environment& env, CalculationVariables& cv, double V) {
  const ConvergenceParameters& conv = cv.par->convergence;
  const bool clamping = conv.usemetaclamping != 0;
  double c = clamping ? std::clamp(conv.clamp_meta, 1e-6, 1.0) : 1.0;
  const double tolerance = conv.termination_Meta_full;
  const int maxIterations = std::max(conv.maxmetaiter_full, 0);
  double previous = 0.0;
  double deviation = Bereken_MetaUpdate_afwijking(cv);
  int iterations = 0;
  bool solved = true;
  while (!(deviation <= tolerance) && iterations < maxIterations) {
    if (iterations > 0 && deviation > previous * (1.0 - 0.1 * c)) c = std::max(0.5 * c, 1e-6);
    previous = deviation;
    Update_Meta_Ratios(cv, c, clamping);
    ++iterations;
    if (volgende_iv_punt(cv, V - 2e-9, V, 2, s.versieschatting) != 0) {
      solved = false;
      break;
    }
    deviation = Bereken_MetaUpdate_afwijking(cv);
  }
  s.metaStableIterations = iterations;
  s.metaStableDeviation = deviation;  // of the last solution that converged
  if (!solved) {
    // The last solve failed: the stage reports it as a convergence failure of its own.
    s.CONVERGENTIEFALING = 1;
    s.MetaStableConvergenceFailure = 1;
    return;
  }
  s.CONVERGENTIEFALING = 0;
  if (!(deviation <= tolerance)) {
    s.MetaStableConvergenceFailure = 1;
    env.Error("Warning", "No convergence in update metastable defects\nRemaining error: " + sci(deviation, 13, 4));
  }
}

SimulationRecord& NewRecord(SimulationState& s, const MeasurementActions& actions, const BatchRecordInfo* batch,
                            const FitRecordInfo* fit, const std::string& startTime) {
  SimulationRecord& r = s.simulaties.emplace_back();
  r.number = batch ? s.BatchSimulationNumber : fit ? s.CurveFitSimulationNumber : s.SingleShotSimulationNumber;
  r.calculationMode = s.Calculationmode;
  r.wp = s.wp;
  r.actie = actions;
  r.startTime = startTime;
  if (batch) r.batch = *batch;
  if (fit) r.fit = *fit;
  r.batchRecording = s.Calculationmode == kModeBatchRecording ? 1 : 0;
  r.metaStable = s.metaStableRun;
  r.secondwp = s.secondwp;
  r.metaStableFailure = s.MetaStableConvergenceFailure;
  r.metaStableDeviation = s.metaStableDeviation;
  return r;
}

}  // namespace

int calculate(CellState& cell, SimulationState& s, const Environment& env, const BatchRecordInfo* batch,
              const FitRecordInfo* fit, int mode) {
  const DateTime started = NowLocal();
  const std::string startTime = DateText(started) + " at " + TimeText(started);
  s.solverContext.env = env;
  s.solverContext.recoveries.clear();  // the recoveries of this simulation only
  s.solverContext.recoveryLog = cell.parameterset1.convergence.recoveryLog;
  CalculationVariables& cv = s.currentCalcVars;

  // 1. Carry on from the working point of the previous batch step, or convert the cell afresh.
  if (mode == 1) s.workpointFromPreviousBatch = 0;
  const bool fromPrevious = s.workpointFromPreviousBatch != 0 && s.werkpuntcv.par != nullptr && s.werkpuntcv.mesh.N > 0;
  if (fromPrevious) {
    CopyCalculationVariables(cv, s.werkpuntcv);
    cv.ctx = &s.solverContext;
  } else {
    parameterset2_to_1(cell.parameterset1, cell.zonnecel);
  }

  // 2. Stage flags.
  s.CONVERGENTIEFALING = 0;
  s.EquilibriumConvergenceFailure = s.ShortCircuitConvergenceFailure = fromPrevious ? 0 : 1;
  s.WorkPointConvergenceFailure = 1;
  s.FirstIVPointConvergenceFailure = s.FirstCVPointConvergenceFailure = 1;
  s.IVConvergenceFailure = s.CVConvergenceFailure = s.CfConvergenceFailure = s.QEConvergenceFailure = 1;
  s.cvbezig = 0;
  s.acValid = 0;

  // 3. The working point. The second one has no number of steps of its own: it walks to its
  // bias in the action list's steps (at least 2).
  if (mode == 1) {
    WorkPoint second = s.secondwp;
    second.numberOfSteps = std::max(s.wp.numberOfSteps, 2);
    if (ReadWorkPoint(second, cell, env) != 0) return -1;
    s.wp = second;
  } else if (ReadWorkPoint(s.wp, cell, env) != 0) {
    return -1;
  }
  s.pausestatus = s.actieExtras.pause;

  // 4. The action list of this run: a copy, so that the sweeps may run from their nearer end
  // without changing what the user asked for.
  MeasurementActions actions = s.actie;
  actions.qe.pointsDone = actions.iv.pointsDone = actions.cv.pointsDone = actions.cf.pointsDone = 0;
  if (mode == 1) actions.qe.on = actions.iv.on = actions.cv.on = actions.cf.on = 0;
  if (mode == 0) s.actie.qe.pointsDone = s.actie.iv.pointsDone = s.actie.cv.pointsDone = s.actie.cf.pointsDone = 0;

  // 5. Display flags of the stored stages.
  if (s.wp.temperature == s.wp_vorig.temperature && cell.problemName == s.deffilenamevorig)
    s.kortberekend = s.werkberekend = 0;

  // 6. The curve colour of this simulation.
  if (mode == 0) s.kleurindex = s.kleurindex % kCurveColours + 1;

  // 7. Cell, mesh and generation parameters.
  if (!fromPrevious) {
    s.solverContext.issueMeshWarning = 1;
    if (PrepareCalculation(cell, s, env, cv) != 0) {
      StatusMessage(env, 0);
      return -1;
    }
  }

  // 8. What this simulation was made of.
  if (mode == 0) {
    s.wp_vorig = s.wp;
    s.deffilenamevorig = cell.problemName;
  }

  const double V = s.wp.voltage;
  const int steps = s.wp.numberOfSteps;
  if (!fromPrevious) {
    // 9. Equilibrium.
    s.solverContext.issueMeshWarning = 1;
    StatusMessage(env, 1);
    Message(env, "calculating equilibrium ...");
    equilibrium(s, cv);
    if (!CheckConvergenceFailure(s, env, s.equiberekend, "equilibrium", 1, 0.0, 0.0, cv)) return -1;
    CopyCalculationVariables(s.evenwichtcv, cv);

    // 10. The generation of the working point.
    if (WorkPointGeneration(s, env, cv) != 0) {
      StatusMessage(env, 0);
      return -1;
    }

    // 11. Short circuit.
    if (!s.wp.dark && s.EquilibriumConvergenceFailure == 0) {
      const int go = Pause(s, env);
      if (go != 1) return -1;
      s.solverContext.issueMeshWarning = 1;
      StatusMessage(env, 1);
      Message(env, mode == 1 ? "updating metastable defects: short circuit ..." : "calculating short circuit ...");
      TakeFrom(s, cv, s.evenwichtcv);
      // The messages of a failing ramp are held back while a recovery may still rescue it.
      SolverContext& ctx = s.solverContext;
      HeldMessages held(cv);
      if (s.lightRampOff) {
        onder_belichting(s, cv);
      } else {
        RaiseLight(s, cv, steps, [&](CalculationVariables& c) { return onder_belichting(s, c); });
      }
      held.FirstAttemptDone();
      if (s.CONVERGENTIEFALING) {
        ctx.LogRecovery(s.lightRampOff ? "short circuit: the solve at full light failed"
                                       : "short circuit: the light ramp in " + std::to_string(steps) + " steps failed",
                        2);
        RaiseLightSlowly(s, cv);
      }
      if (s.CONVERGENTIEFALING) {
        const TemperatureStage stage = ShortCircuitStage(s, steps);
        s.CONVERGENTIEFALING =
            ContinueInTemperature(s, cell.parameterset1, cell.definitionExtras.mesh, cv, stage) == 0 ? 0 : 1;
      }
      held.Finish(s.CONVERGENTIEFALING != 0);
      EndStage(s, cv, s.ShortCircuitConvergenceFailure, s.JShortCircuit, s.kortsluitcv);
      if (!CheckConvergenceFailure(s, env, s.kortberekend, "short circuit", 0, 0.0, 0.0, cv)) return -1;
    } else {
      CopyCalculationVariables(s.kortsluitcv, s.evenwichtcv);
      Full_x_Dependence(cv);
      s.JShortCircuit = 0.0;
      s.ShortCircuitConvergenceFailure = 0;
    }
  }

  // 12. Working point.
  if (s.EquilibriumConvergenceFailure == 0 && s.ShortCircuitConvergenceFailure == 0) {
    if (V != 0.0 || fromPrevious || mode == 1) {
      const int go = Pause(s, env);
      if (go != 1) return -1;
      s.solverContext.issueMeshWarning = 1;
      StatusMessage(env, 1);
      Message(env, (mode == 1 ? "updating metastable defects V = " : "calculating working point V = ") + fix(V, 0, 3) +
                       " Volt");
      if (fromPrevious) {
        Full_x_Dependence(cv);
        RecomputeGeneration(cv, s.generatieparameters);
        s.CONVERGENTIEFALING = volgende_iv_punt(cv, PresentBias(s.werkpuntcv), V, 2, s.versieschatting);
      } else {
        TakeFrom(s, cv, s.kortsluitcv);
        HeldMessages held(cv);
        s.CONVERGENTIEFALING = volgende_iv_punt(cv, 0.0, V, steps, s.versieschatting);
        held.FirstAttemptDone();
        if (s.CONVERGENTIEFALING) {
          s.solverContext.LogRecovery("working point: the bias steps from 0 V failed", 2);
          const TemperatureStage stage = WorkPointStage(s, V, steps);
          s.CONVERGENTIEFALING =
              ContinueInTemperature(s, cell.parameterset1, cell.definitionExtras.mesh, cv, stage) == 0 ? 0 : 1;
        }
        held.Finish(s.CONVERGENTIEFALING != 0);
        if (mode == 1 && !s.CONVERGENTIEFALING) UpdateMetaStableDefects(s, env, cv, V);
      }
      EndStage(s, cv, s.WorkPointConvergenceFailure, s.JWorkingPoint, s.werkpuntcv);
      // A failure is reported at the bias where the stepping stopped.
      if (!CheckConvergenceFailure(s, env, s.werkberekend, "working point", s.wp.dark, PresentBias(cv), V, cv))
        return -1;
    } else {
      CopyCalculationVariables(s.werkpuntcv, s.kortsluitcv);
      Full_x_Dependence(cv);
      s.JWorkingPoint = s.JShortCircuit;
      s.WorkPointConvergenceFailure = 0;
    }
  } else {
    s.WorkPointConvergenceFailure = 1;
  }

  // 13. A record for the sweeps of this simulation.
  // A simulation of the working point alone gets its record too, so that its band diagram can
  // be saved with the header of its run.
  const bool anySweep = actions.iv.on || actions.cv.on || actions.cf.on || actions.qe.on;
  SimulationRecord* record = anySweep || (mode == 0 && s.WorkPointConvergenceFailure == 0)
                                 ? &NewRecord(s, actions, batch, fit, startTime)
                                 : nullptr;

  // 14. I-V.
  if (actions.iv.on) {
    s.solverContext.issueMeshWarning = 1;
    const int ready = CalculateStartingPoint(actions.iv.startV, actions.iv.stopV, cv, s.kortsluitcv, s.werkpuntcv,
                                             "I(V)", steps, s.versieschatting);
    if (ready != 1) {
      s.FirstIVPointConvergenceFailure = 1;
    } else {
      s.FirstIVPointConvergenceFailure = 0;
      s.CONVERGENTIEFALING = 0;
      const int r = calciv(s, env, cv, actions.iv, *record);
      if (mode == 0) s.actie.iv.pointsDone = actions.iv.pointsDone;
      if (r != 1) {
        Message(env, "I(V) done; V = " + fix(PresentBias(cv), 0, 3) + " Volt");
        StatusMessage(env, 0);
        return -1;
      }
      if (cv.teller == -1) Message(env, "I(V) stopped at V = " + fix(PresentBias(cv), 0, 3) + " Volt");
      Message(env, TimeStamp());
    }
  }

  // 15. C-V.
  if (actions.cv.on) {
    s.cvbezig = 1;
    s.solverContext.issueMeshWarning = 1;
    const int ready = CalculateStartingPoint(actions.cv.startV, actions.cv.stopV, cv, s.kortsluitcv, s.werkpuntcv,
                                             "C(V)", steps, s.versieschatting);
    if (ready != 1) {
      s.FirstCVPointConvergenceFailure = 1;
    } else {
      s.FirstCVPointConvergenceFailure = 0;
      s.CONVERGENTIEFALING = 0;
      const int r = calccv(s, env, cv, actions.cv, *record, cell.mottSchottky);
      if (mode == 0) s.actie.cv.pointsDone = actions.cv.pointsDone;
      if (r != 1) {
        s.cvbezig = 0;
        Message(env,
                "C(V) done; V = " + fix(PresentBias(cv), 0, 6) + " Volt; f = " + sci(s.wp.frequency, 8, 2) + " Hz");
        StatusMessage(env, 0);
        return -1;
      }
      if (s.CVConvergenceFailure) Message(env, "C(V) stopped at V = " + fix(PresentBias(cv), 0, 3) + " Volt");
      Message(env, TimeStamp());
    }
    s.cvbezig = 0;
  }

  // 16. C-f at the working point.
  if (actions.cf.on) {
    const int go = Pause(s, env);
    if (go != 1) return -1;
    s.cvbezig = 0;
    if (s.WorkPointConvergenceFailure) {
      s.CfConvergenceFailure = 1;
    } else {
      TakeFrom(s, cv, s.werkpuntcv);
      const int r = calccf(s, env, cv, actions.cf, *record);
      // The admittance-spectroscopy analysis is kept with the curve (a curve it cannot take keeps
      // the reason; the .as writer reports it).
      Calculate_AS_single(*record, s.admittanceSettings, cell.mottSchottky);
      if (mode == 0) s.actie.cf.pointsDone = actions.cf.pointsDone;
      if (r == 2) return -1;
      Message(env,
              "C(f) done; Vdc = " + fix(PresentBias(cv), 0, 6) + " Volt; f = " + sci(actions.cf.stopF, 8, 2) + " Hz");
      Message(env, TimeStamp());
    }
  }

  // 17. QE from the working point.
  if (actions.qe.on) {
    const int go = Pause(s, env);
    if (go != 1) return -1;
    if (s.WorkPointConvergenceFailure) {
      s.QEConvergenceFailure = 1;
    } else {
      TakeFrom(s, cv, s.werkpuntcv);
      Message(env, "calculating quantum efficiency ...");
      calcqe(s, env, cell, cv, actions.qe, *record);
      if (mode == 0) s.actie.qe.pointsDone = actions.qe.pointsDone;
      if (s.QEConvergenceFailure) {
        env.Error("Calculating quantum efficiency...", "Convergence failure");
        Message(env, "convergence failure");
      } else {
        Message(env, "quantum efficiency done; V = " + fix(PresentBias(cv), 0, 6) + " Volt");
        Message(env, TimeStamp());
      }
    }
  }

  // 18. The next batch step may start from this working point.
  StatusMessage(env, 0);
  s.workpointFromPreviousBatch = mode == 0 ? s.workpointFromPreviousBatchOption : 0;
  return 0;
}

int calculate_withMeta(CellState& cell, SimulationState& s, const Environment& env, const BatchRecordInfo* batch,
                       const FitRecordInfo* fit) {
  s.metaStableRun = 0;
  s.MetaStableConvergenceFailure = 0;
  s.metaStableDeviation = 0.0;
  s.metaStableIterations = 0;
  s.metaHandover = MetaHandoverSet{};
  // A transition that does not name two usable defects is left out, and the user told why.
  const CellDefinition& zc = cell.zonnecel;
  for (int l = 0; l < std::clamp(zc.numberOfLayers, 0, MAXLAYERS); ++l)
    for (int k = 0; k < MAXMETATRANSITIONS; ++k)
      if (zc.layer[l].meta[k].switchedOn)
        if (const std::string why = ValidateMetaTransition(zc, l, k); !why.empty())
          env.Error("Error in a metastable defect", "The " + why + ".\nThe transition is left out of the simulation.");
  if (CheckMETAMode(zc)) {
    // The defects are first set at the second working point; the working point and the action
    // list of the simulation itself are kept aside meanwhile.
    s.workpointFromPreviousBatch = 0;
    const WorkPoint wp = s.wp;
    const MeasurementActions actie = s.actie;
    const int pause = s.pausestatus;
    const int r = calculate(cell, s, env, batch, fit, 1);
    s.wp = wp;
    s.actie = actie;
    s.pausestatus = pause;
    if (r != 0) {
      s.lastSimulationResult = -1;
      return -1;
    }
    s.metaStableRun = 1;
    s.metaHandover = MetaHandoverOf(s.currentCalcVars);
    s.lastSimulationResult = calculate(cell, s, env, batch, fit, 0);
    s.metaHandover = MetaHandoverSet{};
    return s.lastSimulationResult;
  }
  s.lastSimulationResult = calculate(cell, s, env, batch, fit, 0);
  return s.lastSimulationResult;
}

int Simulate(CellState& cell, SimulationState& s, const Environment& env, int button, const SimulateRunners& runners) {
  if (button < kModeSingleShot || button > kModeCurveFitting) {
    s.Calculationmode = kModeNone;
    return 0;
  }
  s.Calculationmode = button;
  s.workpointFromPreviousBatch = 0;
  s.pausestatus = 0;
  if (button == kModeSingleShot) {
    ++s.SingleShotSimulationNumber;
    Message(env, "Single shot simulation number " + std::to_string(s.SingleShotSimulationNumber));
    calculate_withMeta(cell, s, env, nullptr, nullptr);
    Message(env, "");
    return 0;
  }
  const std::function<int()>& run = button == kModeBatch            ? runners.batch
                                    : button == kModeBatchRecording ? runners.batchRecording
                                                                    : runners.curveFitting;
  if (!run) {
    env.Error("Simulate", button == kModeCurveFitting ? "Curve fitting is not available in this version."
                                                      : "Batch simulations are not available in this version.");
    return 0;
  }
  if (button == kModeCurveFitting) {
    ++s.CurveFitSimulationNumber;
  } else {
    Message(env, "Batch simulation: hold SHIFT pressed to stop");
    ++s.BatchSimulationNumber;
  }
  run();
  return 0;
}

std::string CellParametersReport(const SimulationState& s) {
  const SimulationRecord* r = s.CurrentRecord();
  std::string text;
  if (s.lastSimulationResult != 0) text += "The simulation was abandoned (see the messages above).\n";
  if (!r || !r->iv.present) return text + "No I-V curve was calculated.\n";
  const WorkPoint& wp = r->wp;
  text += "Simulation " + std::to_string(r->number) + ": T = " + fix(wp.temperature, 0, 2) + " K, ";
  if (wp.dark) {
    text += "dark\n";
  } else if (wp.generationFromFile) {
    text += "generation from " + wp.generationFile + "\n";
  } else {
    text += "illuminated from the " + std::string(wp.illuminatedFromRight ? "right" : "left") + ", " +
            FileNamePart(wp.spectrumFile) + ", incident power " + fix(wp.incidentPower, 0, 2) + " W/m2\n";
  }
  text += "I-V: " + std::to_string(r->iv.pointsDone) + " of " + std::to_string(r->iv.points) + " points from " +
          fix(r->actie.iv.startV, 0, 3) + " V to " + fix(r->actie.iv.stopV, 0, 3) + " V\n";
  const CellParameters& p = r->cell;
  auto line = [&](const char* name, bool valid, double value, int decimals, const char* unit, bool extrapolated) {
    text += name;
    text +=
        valid ? fix(value, 12, decimals) + " " + unit + (extrapolated ? " (extrapolated)" : "") : "  not determined";
    text += "\n";
  };
  const bool fromFile = wp.generationFromFile != 0;
  line("Voc  = ", p.vocValid, p.Voc, 6, "V", p.vocExtrapolated);
  line("Jsc  = ", p.jscValid, p.Jsc, 4, "mA/cm2", p.jscExtrapolated);
  line("FF   = ", p.ffValid, p.FF, 4, "%", FFExtrapolated(p));
  line(fromFile ? "CE   = " : "eta  = ", p.etaValid, p.eta, 4, "%", EtaExtrapolated(p, fromFile));
  line("Vmpp = ", p.etaValid, p.Vmpp, 6, "V", EtaExtrapolated(p, fromFile));
  line("Jmpp = ", p.etaValid, p.Jmpp, 4, "mA/cm2", EtaExtrapolated(p, fromFile));
  return text;
}

bool ParseSweepRange(std::string_view text, VoltageSweepAction& iv) {
  // Three decimal numbers separated by single colons, nothing else; the last one a whole number.
  std::array<double, 3> v{};
  std::string_view rest = text;
  for (std::size_t k = 0; k < v.size(); ++k) {
    bool finite = true;
    const std::size_t used = ScanNumberAt(rest, v[k], finite);
    if (used == 0 || !finite) return false;
    rest.remove_prefix(used);
    if (k + 1 < v.size()) {
      if (rest.empty() || rest.front() != ':') return false;
      rest.remove_prefix(1);
    }
  }
  if (!rest.empty()) return false;
  const double start = v[0], stop = v[1], points = v[2];
  if (points != std::floor(points) || points < 2 || points > MAX_NUM_CALCULATION_STEPS) return false;
  iv.on = 1;
  iv.startV = start;
  iv.stopV = stop;
  iv.points = static_cast<int>(points);
  return true;
}

}  // namespace zoniq
