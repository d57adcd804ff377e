// The admittance sweeps: C-V (the DC bias stepped at the working point's frequency, the I-V
// points of the same sweep merged into the simulation's I-V curve, Mott-Schottky 1/C² and the
// apparent doping profile N(W)) and C-f (the frequency swept logarithmically at the working
// point: capacitance, conductance and impedance).
#pragma once

#include <span>
#include <vector>

#include "celldef/cell_definition.hpp"
#include "measure/simulation_state.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

inline constexpr double kTwoPi = 6.283185307179586;

// The automatic choice of the layer edge whose permittivity the N(W) analysis uses: the more
// lightly doped side of the first junction (a change of sign of ND − NA across an interface)
// and the interfaces after it. Writes εr, the layer (from 0) and the side (−1 left edge of the
// layer, +1 right edge) into `ms`; returns 1 when that edge is n-type, else 0.
int SelectEpsilonForMottSchottky(const CalculationParameters& par, MottSchottkySettings& ms);

// W [µm] and the apparent doping N [/cm³] from C(V) (C in F/m², V in V) with local least-squares
// polynomial fits of 1/C² of ms.numberOfPoints points (interior order ms.orderMiddle, at the ends
// ms.orderEdges). Fewer points than the fit needs: W and N are zero.
void ApparentDoping(std::span<const double> V, std::span<const double> C, double epsilonR,
                    const MottSchottkySettings& ms, std::vector<double>& W, std::vector<double>& N);

// Least-squares polynomial of the given order through (x, y); coefficients a_0 … a_order.
// Returns false when the points cannot determine it.
bool PolyFit(std::span<const double> x, std::span<const double> y, int order, std::vector<double>& a);

// The admittance of the cell at the present DC state of cv at ω [rad/s], with the working
// point's Rs and Gsh. Returns 0, or −1 (message in `message`).
int CellAdmittance(SimulationState& s, CalculationVariables& cv, double omega, Complex& Y, std::string& message);

// The C-V sweep of `action` from cv, which lies at the sweep's start (CalculateStartingPoint).
// Returns 1 when it ran (possibly cut short: CVConvergenceFailure = 1), 0 when the number of
// points is out of range, or the result of Pause.
int calccv(SimulationState& s, const Environment& env, CalculationVariables& cv, VoltageSweepAction& action,
           SimulationRecord& record, MottSchottkySettings& ms);

// The C-f sweep at the DC state of cv (the working point). Returns 1 when done, 0 when the DC
// state is a failed solution (CfConvergenceFailure = 1) or the points are out of range.
int calccf(SimulationState& s, const Environment& env, CalculationVariables& cv, FrequencySweepAction& action,
           SimulationRecord& record);

}  // namespace zoniq
