// Tunnelling of electrons and holes through the band profile: the WKB transmission of a barrier
// sampled on the mesh, and the tunnel currents between a contact and the semiconductor.
//
// A carrier tunnels at energy E (in kT) from a start point through the part of the band profile
// that lies above E. With Boltzmann occupation the particle flux of an energy slice
// [E_lo, E_top] is
//   Φ = dir·P·δ′·(X_start − X̄_end),  δ′ = (E_top − E_lo)·exp(E_P − E_mid − θ(E_mid)),
// where P = v·D_P is the thermionic prefactor of the start (velocity times the band density
// factor D = NC·e^(−E_b) at the point whose band value is E_P), X the carrier variable (u for
// electrons, v for holes) and X̄_end the mean of X over the interval in which the path ends.
// The flux is added to the tunnel current array of every interval between start and end;
// the continuity equations read it as an extra current between mesh points.
#pragma once

#include <span>

#include "solver/calculation_variables.hpp"

namespace zoniq {

// Combination of two relative tunnel masses: 0 the smaller, 1 the larger, 2 the arithmetic
// mean, 3 the geometric mean, 4 the reduced mass m1·m2/(m1 + m2); any other choice as 0.
double ChooseTunnelMass(double m1, double m2, int choice);

// The factor c of the WKB exponent θ = 2∫κ dx = c·Σ_j √m_j·t_j, with t_j the interval terms of
// WkbIntervalTerm, L the length scale [m] and Vt the thermal voltage [V].
double WkbCoefficient(double L, double Vt);

// (3/2)·∫√(E_b(x) − E) dx over one interval of normalised width h on which the band, measured
// from E in kT, runs linearly from A to B: h·(A + √(AB) + B)/(√A + √B) when both are ≥ 0 (exact
// also for A = B); an interval that the path crosses only partly (one value below 0) gives the
// part above E, h·A^1.5/(A − B); an interval wholly below E gives 0.
double WkbIntervalTerm(double h, double A, double B);

// A band profile on the mesh, seen by one carrier, for WKB exponents.
struct WkbProfile {
  std::span<const double> band;  // E_b per point [kT], the barrier lying above the energy
  std::span<const double> h;     // interval widths (interval j between points j and j+1)
  std::span<const double> mass;  // relative tunnel mass per point (interval j takes point j's)
  double coef = 0.0;             // WkbCoefficient
  int choice = 0;                // TunnelMassChoice
};

// θ(E) of the path from point s to point k (direction dir = ±1): every interval between them
// contributes its term with the mass ChooseTunnelMass(mStart, mass of the interval's layer).
double WkbExponent(const WkbProfile& p, double mStart, int s, int k, int dir, double E);

// Trap-assisted tunnelling into an interface level (Hurkx et al., IEEE Trans. Electron Devices
// 39, 331 (1992), on the band profile of the mesh): a carrier of the band next to the trap at
// point s reaches the level, at energy Et below the band at s, also from the points k (walking
// from s in direction dir up to kStop) where the band has fallen to its energy, through the
// barrier between k and s. Relative to the carriers at s, those at energy E at their turning
// point are e^(E_b(s) − E) more numerous, and reach the trap with the WKB transmission e^(−θ(E)):
//   Γ = ∫ e^(E_b(s) − E − θ(E)) dE  (energies in kT, from max(Et, lowest band) to E_b(s)).
// The integral is taken in slices of at most 0.25 kT; each slice's weight goes to the point k in
// whose interval (k − dir, k) its energy meets the band. The weights are written to weight[k]
// for k from s + dir to kEnd (returned; kEnd = s when Γ = 0) and zeroed elsewhere on the walk.
// The mass of every interval is ChooseTunnelMass(mStart, the interval's mass). No weight at all
// when the band falls by no more than `threshold` [kT] below E_b(s) above the trap.
double TrapTunnelWeights(const WkbProfile& p, int s, int dir, int kStop, double Et, double mStart, double threshold,
                         std::span<double> weight, int& kEnd);

// The same for channel `dir` (−1 the layer left of interface l, +1 the layer right of it) of
// an interface level at energy Et [kT, on `band`]: the walk runs over the interior points of
// that layer. `band` is the carrier's band profile [kT] (BandProfileOf).
double interfaceTrapTunneling(const CalculationVariables& cv, int carrier, std::span<const double> band, int l, int dir,
                              double Et, double mStart, std::span<double> weight, int& kEnd);

// The band profile of a carrier [kT]: the conduction band edge for electrons, the valence band
// edge mirrored for holes, so that a barrier for either lies above its energy.
void BandProfileOf(const CalculationVariables& cv, int carrier, std::span<double> band);

// Tunnelling between the contact (−1 left, +1 right) and the device for one carrier (kElectrons
// or kHoles), when the contact's tunnelling is switched on: the paths start in the metal and end
// at the points of the barrier's far side. Adds the fluxes to the carrier's interval array and
// the Jacobian entries to its sparse list.
void tunnelingToContacts(CalculationVariables& cv, int contact, int carrier);

// Intraband tunnelling through the band spike of every interface whose tunnelling is on: a path
// starts at the interface point on the side of the lower band and crosses the spike into the
// layer on the other side, at the energies between the two band values at the interface (above
// them the thermionic emission of the interface carries the carriers).
void IntrabandTunneling(CalculationVariables& cv, int carrier);

// Tunnelling through the whole region between interfaces l < j, when the band rises at l and
// falls at j: at the energies below the lowest band value of the region and above the band on
// both outer sides, from the last point of layer l to the first point after interface j.
void CalculateTunnelIfaceToIface(CalculationVariables& cv, int carrier, int l, int j);

// Bulk-to-bulk tunnelling in every layer whose tunnelling is on: from the foot of every rise of
// the band (band steps at interfaces included) through the barrier to where the band falls back
// to the energy, in slices of at most 1 kT, each with its own far turning point. Needs the band
// profile of the carrier in its tunnelling state.
void CalculateTunnelBulkToBulk(CalculationVariables& cv, int carrier);

// Band-to-band tunnelling: no contribution.
void BandToBandTunneling(CalculationVariables& cv, int carrier);

// Clears the tunnelling state of one carrier and computes every tunnelling mechanism of that
// carrier that is switched on, from the present ψ, u and v.
void CalculateTunnelling(CalculationVariables& cv, int carrier);

// True when some tunnelling mechanism that this solver calculates is switched on (trap-assisted
// tunnelling into interface defects, which the interface terms calculate, not counted).
bool TunnellingSwitchedOn(const CalculationParameters& par);
// True when some interface defect has its "Tunneling to trap" switch on.
bool TrapTunnellingSwitchedOn(const CalculationParameters& par);

}  // namespace zoniq
