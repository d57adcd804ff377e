// The discretised steady-state equations on the mesh: Poisson's equation for ψ and the
// continuity equations of electrons and holes in the variables u and v (Scharfetter-Gummel
// currents), with the rows of the contacts and of the double points at the interfaces
// (continuity of ψ, Gauss's law with the interface charge, thermionic emission).
//
// Sign convention of every Jacobian: J = −∂F/∂(variable), so that the Newton step Δ solves
// J·Δ = F. The defect terms (cv.blocks, cv.ifr) and the tunnelling arrays are read as they are:
// they must have been computed from the present ψ, u and v (ComputeDefectTerms).
#pragma once

#include <span>

#include "solver/calculation_variables.hpp"
#include "solver/linear_solvers.hpp"

namespace zoniq {

// Bulk and interface defect terms from the present ψ, u and v. Returns 1, or a negative value
// when a defect contribution fails.
int ComputeDefectTerms(CalculationVariables& cv);
// True when some bulk defect can carry charge (a charge code other than 0).
bool ChargedDefects(const CalculationVariables& cv);

// Residuals (F has at least N elements).
void bereken_stelsel_psi_Gummel(CalculationVariables& cv, std::span<double> F);
void bereken_stelsel_u_Gummel(CalculationVariables& cv, std::span<double> F);
void bereken_stelsel_v_Gummel(CalculationVariables& cv, std::span<double> F);

// Tridiagonal Jacobians: lower, diagonal and upper element of each row; Poisson's equation also
// fills one element per interface (row last(l) to column first(l+1)+1) into `extra`.
void bereken_jac_psi_Gummel(CalculationVariables& cv, std::span<double> jl, std::span<double> jd, std::span<double> ju,
                            std::span<double> extra);
void bereken_jac_u_Gummel(CalculationVariables& cv, std::span<double> jl, std::span<double> jd, std::span<double> ju);
void bereken_jac_v_Gummel(CalculationVariables& cv, std::span<double> jl, std::span<double> jd, std::span<double> ju);

// The coupled system: unknowns (ψ_i, u_i, v_i) at index 3i, 3i+1, 3i+2; the residual is the three
// residuals above, row by row in the same order.
void CoupledResidual(CalculationVariables& cv, std::span<double> F);
// Its full Jacobian (−∂F/∂x) with the cross-derivative blocks: ∂F_ψ/∂(u, v) through the carrier
// and defect charges, ∂F_u/∂ψ and ∂F_v/∂ψ through the Bernoulli factors, the density prefactors
// e^∓ψ and the recombination, and ∂F_u/∂v, ∂F_v/∂u through the recombination. A has kl = 5,
// ku = 6.
void CoupledJacobian(CalculationVariables& cv, const BandMatrix& A);

}  // namespace zoniq
