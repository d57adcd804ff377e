// The DC solution at one working point: the decoupled (Gummel) procedure — Newton on Poisson's
// equation with u and v fixed, Newton on each continuity equation, adaptation of the mesh and
// the occupation of the defects, repeated until none of them changes anything — with a fully
// coupled Newton iteration on the same equations as the fallback when it fails.
#pragma once

#include <span>

#include "solver/calculation_variables.hpp"

namespace zoniq {

inline constexpr int kElectrons = -1;  // carrier selector of u_or_v_iteratie_Gummel: variable u
inline constexpr int kHoles = 1;       // variable v

// Solves the steady state at the bias and generation in cv. Returns 0 when the procedure ended
// normally (cv.teller = outer iterations, or −1 when their limit was reached) and −1 when a
// sub-step failed hard. When the Gummel procedure fails and the coupled fallback is switched on,
// the point is retried with the coupled Newton iteration from the state at entry; the failure is
// reported only when that fails too. After a failure ψ, u, v (and the mesh) are those at entry
// and cv.teller is −1.
int los_totaal_dc_stelsel_op_Gummel(CalculationVariables& cv);

// Newton on Poisson's equation; returns 0 (cv.teller = steps, −1 when "maxiter" was exhausted)
// or −1 on a hard failure.
int psi_iteratie_Gummel(CalculationVariables& cv);

// Newton on the continuity equation of electrons (kElectrons) or holes (kHoles); returns 0
// (cv.teller = steps) or −1 on failure or exhaustion (cv.teller = −1).
int u_or_v_iteratie_Gummel(CalculationVariables& cv, int carrier);

// The largest absolute component (0 for an empty vector).
double maximum_psi_array(std::span<const double> a, int n);
// Scales the step so that its largest component is at most the clamp.
void schaal_array(CalculationVariables& cv, std::span<double> delta, double clamp, double max);
// Limits a step of u (carrier kElectrons) or v (kHoles) so that no quasi-Fermi level moves by
// more than the clamp [kT], keeping the step's direction; 1 while not converged, 0 when
// converged.
int clamping_u_or_v(CalculationVariables& cv, std::span<double> delta, double clamp, int carrier);

// The size of a coupled Newton step: ψ in kT, and the relative changes Δu/(u0 + u), Δv/(v0 + v)
// whose logarithms are the moves of the quasi-Fermi levels in kT.
struct CoupledStepSize {
  double dpsi = 0.0, rnmin = 0.0, rnmax = 0.0, rpmin = 0.0, rpmax = 0.0;
  double Fn() const;  // the largest move of the electron quasi-Fermi level [kT]
  double Fp() const;  // of the hole quasi-Fermi level [kT]
  double Largest() const;  // of ψ, Fn and Fp [kT]
  // No move exceeds its termination.
  bool Within(const ConvergenceParameters& c) const;
};

// One coupled Newton step from the present state, solved but not taken: the step is left in
// the workspace (cv.work.delta3, unknowns ψ, u, v at 3i, 3i+1, 3i+2) and its size in `size`.
// The defect terms are evaluated at the present state. Returns 0, or −1 when the system is not
// finite or singular. Tunnelling terms are not part of the coupled system.
int CoupledNewtonStep(CalculationVariables& cv, CoupledStepSize& size);

// The coupled Newton iteration on (ψ, u, v) from the present state, on the present mesh. Returns
// the number of steps (≥ 1) when converged, −1 when not (the state is then whatever it reached).
int CoupledNewton(CalculationVariables& cv);

}  // namespace zoniq
