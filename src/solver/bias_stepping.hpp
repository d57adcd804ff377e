// Continuation in the bias voltage: the starting estimate of the equilibrium, the estimates for
// the next bias point, the stepping between two voltages and the choice of the stored solution
// from which a voltage sweep starts.
#pragma once

#include <string>

#include "solver/calculation_variables.hpp"

namespace zoniq {

// The estimate versions.
inline constexpr int kEstimateDefault = 1;
inline constexpr int kEstimateTilt = 20;
inline constexpr int kEstimateScaled = 21;

// The starting estimate of the equilibrium: bias 0, u = v = 0, ψ = 0 at the left contact and
// (W_left − W_right)/Vt at the right contact, and in between the potential of local charge
// neutrality of the doping (defect charge ignored), from which Poisson's equation converges in
// a few steps however long the quasi-neutral regions are.
void eerste_schatting(CalculationVariables& cv);

// The estimate for bias V after a step dV, by version (20, 21, any other value: 1).
void volgende_schatting(CalculationVariables& cv, double V, double dV, int version);
void volgende_schatting_ZONIQ1(CalculationVariables& cv, double V, double dV);
void volgende_schatting_ZONIQ20(CalculationVariables& cv, double V, double dV);
void volgende_schatting_ZONIQ21(CalculationVariables& cv, double V, double dV);

// Walks the solution from Vfrom to Vto in n − 1 equal steps (n below 2 counts as 2), solving at
// every step. Returns the convergence-failure flag: 0 when every point converged (or nothing had
// to be solved), 1 when cv already held a failed solution or a step failed (the stepping then
// stops at once; the earlier points stay solved).
int volgende_iv_punt(CalculationVariables& cv, double Vfrom, double Vto, int n, int version = kEstimateDefault);

// Continuation in a parameter t other than the bias (the light of a ramp), at a fixed bias:
// RememberOnPath after each solved point, PredictOnPath before the next solve. With two points
// remembered, no solve in between and the same mesh, the state starts on the straight line
// through them (ψ and the quasi-Fermi levels); otherwise it is left as it is. ForgetPath starts a
// new path.
void ForgetPath(CalculationVariables& cv);
void RememberOnPath(CalculationVariables& cv, double t);
void PredictOnPath(CalculationVariables& cv, double t);

// The present bias of a solution: the V it was solved at.
double PresentBias(const CalculationVariables& cv);

// Routes to the first point of a sweep, in the order in which they are compared.
enum StartRoute {
  kRouteCurrentToStart = 0,
  kRouteCurrentToStop = 1,
  kRouteShortCircuitToStart = 2,
  kRouteShortCircuitToStop = 3,
  kRouteWorkPointToStart = 4,
  kRouteWorkPointToStop = 5
};

// Chooses the route of shortest distance |target − origin| over the order 2, 3, 4, 5, 0, 1; a
// later route wins only when it is nearer by more than 1e-9 V, and the routes from the present
// solution are not considered when it is a failed one.
int ChooseStartingRoute(double start, double stop, double Vcurrent, double Vworkpoint, bool currentFailed);

// Brings cv to the first bias point of a sweep (may swap start and stop so that the sweep runs
// from the nearer end). `steps` is the working point's number of steps. Returns 1 when ready, 0
// on a convergence failure (reported under "Calculating first point of " + name + " from
// working point").
int CalculateStartingPoint(double& start, double& stop, CalculationVariables& cv,
                           const CalculationVariables& shortCircuitCv, const CalculationVariables& workPointCv,
                           const std::string& name, int steps, int version = kEstimateDefault);

}  // namespace zoniq
