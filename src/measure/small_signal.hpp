// The small-signal (AC) response of the device at a solved DC state: the complex amplitudes of
// the potential and of both quasi-Fermi levels when a small sinusoidal voltage of angular
// frequency ω is added to the bias at the right contact, the AC electron, hole and displacement
// currents, and the admittance Y = G + iωC of the cell.
//
// The linear system is the Jacobian of the steady-state equations (the same discretisation the
// DC solver uses, so that Y(ω → 0) is exactly the derivative of the DC current) plus the iω
// terms: the charging of the free carriers in every continuity row and the finite response time
// of the trapped charge of every bulk defect (δf = X/(A + D + iω) for one level, a tridiagonal
// system over the charge states for several) and of every interface defect.
//
// Unknowns per point are (δψ, δφn, δφp) in units of Vt, with δn = n(δψ + δφn) and
// δp = −p(δψ + δφp). The bias moves ψ by −δV and both quasi-Fermi levels by +δV at the right
// contact: a shift that leaves every density unchanged. The equations are invariant under that
// shift, so the unknowns are solved as deviations from it on the right of a split point placed
// where both carrier densities are smallest, and as themselves on its left. Every solved value
// is then small where the carriers are many, and no large coefficient multiplies a difference of
// nearly equal numbers.
#pragma once

#include <complex>
#include <string>
#include <vector>

#include "solver/calculation_variables.hpp"

namespace zoniq {

using Complex = std::complex<double>;

// Work storage, sized on first use for the largest mesh (nothing is allocated afterwards).
struct AcWorkspace {
  std::vector<double> realBand;  // the DC Jacobian
  std::vector<Complex> band;     // the complex system in LAPACK band storage
  std::vector<Complex> factors;  // its LU factors
  std::vector<Complex> rhs, original, correction;
  std::vector<int> pivots, extent;
  void resize(int N);
};

// The solution: per point the perturbations (true values, units of Vt per Vt applied) and the
// AC current densities [A/m² per volt applied: divide by nothing, they are already per V].
struct AcSolution {
  std::vector<Complex> dpsi, dphin, dphip;
  std::vector<Complex> jn, jp, jd, jtot;  // per point [A/m² per V]
  Complex Y{0.0, 0.0};                    // admittance of the device alone [S/m²]
  int split = 0;                          // the split point of the shift (diagnostics)
  void resize(int N);
};

// The AC solution at the DC state of cv for ω = omega_us [rad/s]. Returns 0, or −1 when the
// system is singular (or the state holds non-finite values): `message` then says why and the
// solution is left zero.
int bereken_klein_signaal(CalculationVariables& cv, double omega_us, AcWorkspace& ws, AcSolution& out,
                          std::string& message);

// The admittance of the cell as measured: the device's Y with the working point's shunt
// conductance Gsh [S/m²] in parallel (when gshOn) and the series resistance Rs [Ω·m²] in series
// (when rsOn).
Complex ExternalAdmittance(Complex Y, bool gshOn, double Gsh, bool rsOn, double Rs);

}  // namespace zoniq
