#include "measure/simulation_state.hpp"

#include "solver/bias_stepping.hpp"

namespace zoniq {

void InitialiseSimulationState(SimulationState& s, const std::string& programFolder) {
  InitialiseWorkPoint(s.wp, programFolder);
  s.secondwp = s.wp;
  s.wp_vorig = s.wp;
  InitialiseMeasurementActions(s.actie);
  s.actieExtras = ActionListExtras{};
  s.generatieparameters = GenerationParameters{};
  s.CONVERGENTIEFALING = 0;
  s.EquilibriumConvergenceFailure = s.ShortCircuitConvergenceFailure = s.WorkPointConvergenceFailure = 1;
  s.FirstIVPointConvergenceFailure = s.FirstCVPointConvergenceFailure = 1;
  s.IVConvergenceFailure = s.CVConvergenceFailure = s.CfConvergenceFailure = s.QEConvergenceFailure = 1;
  s.equiberekend = s.kortberekend = s.werkberekend = 0;
  s.JShortCircuit = s.JWorkingPoint = 0.0;
  s.pausestatus = 0;
  s.Calculationmode = kModeNone;
  s.workpointFromPreviousBatch = 0;
  s.versieschatting = kEstimateDefault;
  s.cvbezig = 0;
  s.solverContext.issueMeshWarning = 1;
  s.deffilenamevorig.clear();
  wis_alles(s);
}

void ApplyDefinitionWorkPoint(WorkPoint& wp, const DefinitionWorkPointItems& items) {
  wp.illuminatedFromRight = items.illuminatedFromRight;
  wp.RsPresent = items.RsPresent;
  wp.Rs = items.Rs;
  wp.RshPresent = items.GshPresent;
  wp.Gsh = items.Gsh;
}

void wis_alles(SimulationState& s) {
  s.simulaties.clear();
  s.kleurindex = 0;
  s.SingleShotSimulationNumber = 0;
  s.BatchSimulationNumber = 0;
  s.CurveFitSimulationNumber = 0;
}

}  // namespace zoniq
