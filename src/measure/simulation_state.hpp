// The long-lived state of the simulation driver: the working points and the action list, the
// calculation parameters and the four solution stores, the generation of the working point,
// the convergence bookkeeping, the run control and the list of simulation records.
#pragma once

#include <list>
#include <string>

#include "celldef/work_point.hpp"
#include "measure/admittance_result.hpp"
#include "measure/measurement_actions.hpp"
#include "measure/simulation_record.hpp"
#include "measure/small_signal.hpp"
#include "optics/generation_parameters.hpp"
#include "solver/calculation_parameters.hpp"
#include "solver/calculation_variables.hpp"
#include "solver/currents.hpp"

namespace zoniq {

// Calculationmode values.
inline constexpr int kModeNone = -1;
inline constexpr int kModeSingleShot = 0;
inline constexpr int kModeBatch = 1;
inline constexpr int kModeBatchRecording = 2;
inline constexpr int kModeCurveFitting = 3;

// The number of colours the curve colour index cycles through (1 … 15).
inline constexpr int kCurveColours = 15;

struct SimulationState {
  SimulationState() = default;
  // The stores point into the calculation parameters and the solver context of this record.
  SimulationState(const SimulationState&) = delete;
  SimulationState& operator=(const SimulationState&) = delete;

  // Working points: the one simulated, the one at which metastable defects are set, and a copy
  // of `wp` taken after each normal simulation. Their file names are set by
  // InitialiseWorkPoint (celldef/work_point.hpp) when the program folder is known.
  WorkPoint wp;
  WorkPoint secondwp;
  WorkPoint wp_vorig;
  MeasurementActions actie;
  ActionListExtras actieExtras;  // "stop after Voc", "pause" and the increments

  // The cell at the working-point temperature in the solver's units, and what the solver
  // reports through.
  CalculationParameters parameterset3;
  SolverContext solverContext;

  // Solution stores: the one the solver works on, the equilibrium, the short circuit and the
  // working point. Each stage overwrites its store only after it converged.
  CalculationVariables currentCalcVars;
  CalculationVariables evenwichtcv;
  CalculationVariables kortsluitcv;
  CalculationVariables werkpuntcv;
  // The illumination of the working point.
  GenerationParameters generatieparameters;
  // The current densities of the last extraction (j_n, j_p, tunnel parts, j_tot) [mA/cm2].
  CurrentDensities stroom;
  // The last small-signal solution (of currentCalcVars) for the ac file and its work storage.
  AcWorkspace acWork;
  AcSolution ac;
  double acOmega = 0.0;  // its angular frequency [rad/s]
  double acBias = 0.0;   // its bias [V]
  int acValid = 0;       // 1 once a small-signal solution is held
  // The settings of the admittance-spectroscopy analysis of C-f curves.
  AdmittanceSettings admittanceSettings;

  // Convergence: 1 after any failed DC solve, and per stage 1 = failed or not done.
  int CONVERGENTIEFALING = 0;
  int EquilibriumConvergenceFailure = 1;
  int ShortCircuitConvergenceFailure = 1;
  int WorkPointConvergenceFailure = 1;
  int FirstIVPointConvergenceFailure = 1;
  int FirstCVPointConvergenceFailure = 1;
  int IVConvergenceFailure = 1;
  int CVConvergenceFailure = 1;
  int CfConvergenceFailure = 1;
  int QEConvergenceFailure = 1;

  // Which stages hold a valid solution (cleared when the cell definition is edited).
  int equiberekend = 0;
  int kortberekend = 0;
  int werkberekend = 0;

  double JShortCircuit = 0.0;  // total current density at short circuit [mA/cm2]; 0 when not computed
  double JWorkingPoint = 0.0;  // at the working point [mA/cm2]

  // Run control.
  int pausestatus = 0;  // 1: stop for confirmation before each stage
  int Calculationmode = kModeNone;
  int SingleShotSimulationNumber = 0;
  int BatchSimulationNumber = 0;
  int CurveFitSimulationNumber = 0;
  int workpointFromPreviousBatch = 0;  // 1: the next batch step starts from werkpuntcv
  int versieschatting = 1;             // estimate version: 1, 20 or 21
  int cvbezig = 0;                     // 1 while C-V runs
  int kleurindex = 0;                  // curve colour index, 1 … 15 once a simulation ran
  // Numerical options: keep the working point from one batch step to the next; solve the
  // short circuit at full light at once instead of raising the generation in steps.
  int workpointFromPreviousBatchOption = 0;
  int lightRampOff = 0;

  // Metastable defects: whether the last complete simulation set them at the second working
  // point, whether that update failed to settle (kept apart from the stage flags, which the
  // next stage sets again, so that a failure is never reported as success), its remaining
  // deviation, and the shares handed from that update to the simulation itself.
  int metaStableRun = 0;
  int MetaStableConvergenceFailure = 0;
  double metaStableDeviation = 0.0;
  int metaStableIterations = 0;
  MetaHandoverSet metaHandover{};

  // The result of the last complete simulation (calculate_withMeta): 0 ran to its end, -1
  // abandoned.
  int lastSimulationResult = 0;

  // The definition file of the last normal simulation.
  std::string deffilenamevorig;

  // The simulations since the list was last cleared, oldest first; the last one is the current
  // record (std::list: references to records stay valid while the list grows).
  std::list<SimulationRecord> simulaties;

  SimulationRecord* CurrentRecord() { return simulaties.empty() ? nullptr : &simulaties.back(); }
  const SimulationRecord* CurrentRecord() const { return simulaties.empty() ? nullptr : &simulaties.back(); }
};

// Defaults of the driver state: the working points with their files in the program folder, the
// action list, the flags and counters, an empty list of simulations.
void InitialiseSimulationState(SimulationState& s, const std::string& programFolder);

// The illumination and external-circuit items a definition file carries, set in the working
// point when the file is loaded.
void ApplyDefinitionWorkPoint(WorkPoint& wp, const DefinitionWorkPointItems& items);

// Empties the list of simulations and resets the curve colour and the simulation counters.
void wis_alles(SimulationState& s);

}  // namespace zoniq
