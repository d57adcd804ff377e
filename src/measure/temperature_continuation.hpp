// Continuation in temperature for the stages that start from the thermal equilibrium (the short
// circuit and the working point): where a stage cannot be reached at the asked temperature —
// a wide-gap layer at low temperature leaves minority densities some 1e-40 of the majority,
// and the iteration from the equilibrium does not find its way — it is reached in a warmer
// cell, and that solution is carried back to the asked temperature in steps, each solved from
// the one before.
#pragma once

#include <functional>
#include <string>

#include "celldef/cell_definition.hpp"
#include "measure/simulation_state.hpp"

namespace zoniq {

// Carries the solution of `from` to the temperature of `par` in `to`: `to` becomes a copy of
// `from` (mesh, absorption, generation hook) whose material data and defect records are those of
// `par`. What carries over is physical: the electrostatic potential ψ·Vt and the quasi-Fermi
// potentials Vt·ln(u0 + u), Vt·ln(v0 + v) (both measured from the left contact), and the bias;
// they are scaled back with the new Vt and the carriers' offsets chosen again. The contact
// values of ψ are those of the new temperature. The generation profile is evaluated again in
// the new units (the light factor of `gen` is kept). Given `older`, a solution of the same
// stage at another temperature on the same mesh, the potentials are extrapolated linearly in T
// from the two instead.
void CarryAcrossTemperature(const CalculationVariables& from, CalculationVariables& to, CalculationParameters& par,
                            GenerationParameters& gen, const CalculationVariables* older = nullptr);

// What the continuation needs of a stage: how it is reached from an equilibrium (solved at the
// temperature of the record handed in), and how it is solved again at the same bias and light
// from a solution carried over from a nearby temperature. Both return true on success.
struct TemperatureStage {
  std::string name;  // "short circuit", "working point": the start of its log lines
  std::function<bool(CalculationVariables&)> fromEquilibrium;
  std::function<bool(CalculationVariables&)> again;
};

// The recovery of a stage that failed at the asked temperature T (that of s.parameterset3, on
// whose mesh and equilibrium store s.evenwichtcv it works): the equilibrium and the stage are
// solved at T + 40 K, or failing that at max(T + 80 K, 340 K); the solution is then carried
// down to T, first by 2.5 K, then each step predicted from the last two. A step solved by the
// plain iteration lets the next one double (up to a quarter of the way); one that needed the
// coupled Newton iteration, or failed, halves it (a failure down to 0.5 K). The last step is
// solved in cv at T and checked like any point. On success cv holds it (pointState
// kPointTemperatureContinuation) and 0 is returned; otherwise cv is left as it came (teller =
// −1) and the result is −1. The cell definition, s.parameterset3 and the stores are not
// changed; the generation parameters are left in the units of T. Logged as a recovery (failed
// attempts at level 2).
int ContinueInTemperature(SimulationState& s, const InputParameters& set1, const MeshSettings& mesh,
                          CalculationVariables& cv, const TemperatureStage& stage);

}  // namespace zoniq
