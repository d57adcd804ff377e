// The I-V sweep: the DC solution stepped through the voltages of the action list, with the
// total current and its decomposition into recombination currents at every point, and the
// external series resistance and shunt of the working point applied afterwards.
#pragma once

#include "measure/simulation_state.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

inline constexpr int MAX_NUM_CALCULATION_STEPS = 2001;

// One evaluated point of a sweep: the currents of a solved state [mA/cm2].
struct IVPointCurrents {
  double j = 0.0;      // total current density (no shunt)
  double jbulk = 0.0;  // q∫R dx
  double jSRH = 0.0, jRadiative = 0.0, jAuger = 0.0;
  double jifr = 0.0;  // interface recombination
  double js_n = 0.0;  // electron current at a contact where electrons are the minority
  double js_p = 0.0;  // hole current at a contact where holes are the minority
};

// The currents of the solution cv; the extracted current densities are left in `table`.
IVPointCurrents EvaluateIVPoint(const CalculationVariables& cv, CurrentDensities& table);

// The smallest band gap over the mesh [eV] (0 without a mesh): the upper bound of Voc.
double SmallestBandGap(const CalculationVariables& cv);

// The external circuit of the working point applied to one point: with the shunt on the current
// gains V·Gsh (Gsh [S/m2] → mA/cm2: ×0.1), with the series resistance on the terminal voltage is
// V + Rs·J (Rs [Ohm m2], J [mA/cm2] → A/m2: ×10). Returns the terminal voltage; J is updated.
double ApplyExternalCircuit(const WorkPoint& wp, double Vcell, double& J);

// The I-V sweep of `iv` from the solution cv, which already lies at iv.startV (placed there by
// CalculateStartingPoint). Fills the current record's I-V result and cell parameters and the
// action's points done. With "stop after Voc" (s.actieExtras) a rising sweep ends after the
// first point with positive current. Returns 1 when the sweep ran (possibly cut short by a
// convergence failure, then IVConvergenceFailure = 1), 0 when the number of points is out of
// range or the user stopped it, 2 when the user quit.
int calciv(SimulationState& s, const Environment& env, CalculationVariables& cv, VoltageSweepAction& iv,
           SimulationRecord& record);

}  // namespace zoniq
