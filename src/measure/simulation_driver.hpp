// The simulation driver: one request to simulate becomes the fixed chain of solutions every
// measurement needs — the cell on its mesh, the optical generation, the thermal equilibrium,
// the short circuit under the working-point light (reached by raising the light in steps), the
// working point at its bias, then the sweeps of the action list in the order I-V, C-V, C-f, QE —
// with the convergence bookkeeping, the messages and the list of simulation records.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "celldef/cell_state.hpp"
#include "measure/simulation_state.hpp"
#include "measure/temperature_continuation.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

// Brings a working point up to date before a simulation (the session holds it; a front end
// fills it from its panel first): the wavelength window is normalised and the problem name is
// that of the loaded cell. Refuses a number of steps below 2 (reported). Returns 0, or -1.
int ReadWorkPoint(WorkPoint& workPoint, const CellState& cell, const Environment& env);

// The run state on the status line: 0 "OK", 1 "...calculating...", 2 "PAUSE", 3 "Set Problem".
void StatusMessage(const Environment& env, int kind);

// The pause point before each stage: with `pausestatus` set the run waits for the user to go on
// (1), stop (0) or quit (2). A run without an interactive front end goes on.
int Pause(SimulationState& s, const Environment& env);

// Thermal equilibrium in cv. Sets CONVERGENTIEFALING and EquilibriumConvergenceFailure.
// Returns 0, or -1 when it did not converge.
int equilibrium(SimulationState& s, CalculationVariables& cv);

// One DC solve at the present bias and generation. A cv that already holds a failed solution
// is not solved (CONVERGENTIEFALING = 1, result -1); otherwise CONVERGENTIEFALING tells whether
// the solve failed and the result is 0.
int onder_belichting(SimulationState& s, CalculationVariables& cv);

// The short circuit reached by raising the light: with n steps the generation is set to
// e^-(n-1), …, e^-1, 1 times the full profile and `solve` runs at each (stopping at the first
// failure, CONVERGENTIEFALING = 1). The full profile is in place afterwards in any case.
// Returns 0, or -1 on a failure.
int RaiseLight(SimulationState& s, CalculationVariables& cv, int n,
               const std::function<int(CalculationVariables&)>& solve);

// The recovery of a failed short circuit: from the equilibrium in cv's store, the light is
// raised again in much smaller steps. Logged as a recovery; marks the solution as reached by
// continuation. Returns 0, or -1 (CONVERGENTIEFALING = 1) when that fails too.
int RaiseLightSlowly(SimulationState& s, CalculationVariables& cv);

// The short circuit and the working point (at bias V, reached in `steps` bias steps) as stages
// of the continuation in temperature: reached from an equilibrium by the light ramps (and the
// bias steps), solved again by one DC solve.
TemperatureStage ShortCircuitStage(SimulationState& s, int steps);
TemperatureStage WorkPointStage(SimulationState& s, double V, int steps);

// Reports the outcome of one stage: converged (flag = 1, message "<name> V = <Vtarget> Volt",
// result 1) or failed (flag = 0, error "Calculating <name>..." / "Convergence failure
// calculating for V = <Vreached> Volt", result 0).
int CheckConvergenceFailure(SimulationState& s, const Environment& env, int& calculatedFlag, const std::string& name,
                            int dark, double Vreached, double Vtarget, const CalculationVariables& cv);

// The chain for one working point; mode 0 normal simulation, 1 the update of metastable defects
// at the second working point. `batch` and `fit` (may be null) are copied into the simulation
// record. Returns 0 when the simulation ran to its end (sweeps may have stopped early: see their
// flags), -1 when it was abandoned.
int calculate(CellState& cell, SimulationState& s, const Environment& env, const BatchRecordInfo* batch,
              const FitRecordInfo* fit, int mode);

// One complete simulation, the entry of every calculate button, script command, batch step and
// fit evaluation. Returns as calculate.
int calculate_withMeta(CellState& cell, SimulationState& s, const Environment& env, const BatchRecordInfo* batch,
                       const FitRecordInfo* fit);

// The batch, batch-with-recording and curve-fitting runs belong to the layers above; they hand
// their loops to Simulate here.
struct SimulateRunners {
  std::function<int()> batch;
  std::function<int()> batchRecording;
  std::function<int()> curveFitting;
};

// Run control: `button` selects single shot (kModeSingleShot), batch, batch with recording or
// curve fitting; anything else sets Calculationmode to kModeNone and does nothing. A single shot
// runs calculate_withMeta once; the other modes run their runner (reported as not available
// when it is missing). Returns 0.
int Simulate(CellState& cell, SimulationState& s, const Environment& env, int button,
             const SimulateRunners& runners = {});

// The cell parameters of the last simulation's I-V curve as a short text: the run, the sweep,
// then Voc, Jsc, FF, efficiency, Vmpp and Jmpp (or why they are missing).
std::string CellParametersReport(const SimulationState& s);

// An I-V range written "START:STOP:POINTS" (volts, volts, 2 … 2001 points) switches the I-V
// sweep on over that range. Returns false, leaving `iv` unchanged, for any other text.
bool ParseSweepRange(std::string_view text, VoltageSweepAction& iv);

}  // namespace zoniq
