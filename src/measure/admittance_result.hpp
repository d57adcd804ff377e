// What the admittance-spectroscopy analysis keeps with one C-f curve: the points it analysed
// (sorted by frequency, cleaned), the defect energy probed at each, the capacitance derivative,
// the defect density and the depletion width, with the reason when the curve was refused.
#pragma once

#include <string>
#include <vector>

namespace zoniq {

// Nt formulas and plot axes of the analysis.
enum AdmittanceFormula { kNtFormula0 = 0, kNtFormula1 = 1, kNtFormula2 = 2, kNtPlainDerivative = 3 };
enum AdmittanceAbscissa { kAsAbscissaEt = 0, kAsAbscissaF = 1, kAsAbscissaOmega = 2 };
enum AdmittanceOrdinate { kAsOrdinateNt = 0, kAsOrdinateMinusD = 1, kAsOrdinateC = 2, kAsOrdinateScaled = 3 };

// The analysis settings. Each angular frequency ω probes the defects whose emission rate is ω/2,
// at the depth E_ω = kT·ln(2ν/ω) below their band edge, with ν = ν0·T²/300² the
// attempt-to-escape frequency (σ·vth·N of the band, which scales as T²).
struct AdmittanceSettings {
  double nu0 = 1e12;  // attempt-to-escape frequency at 300 K [1/s]
  // Optionally two prefactors (at 300 K) with a switching energy: ν_b for the defects deeper
  // than Es, ν_a for the shallower ones.
  int twoPrefactors = 0;
  double nuA = 1e12, nuB = 1e12;  // [1/s]
  double Es = 0.0;                // [eV]
  // The diffusion voltage: as entered, or from an energy and a ratio as Vd = Ea + kT·ln(r).
  int vdFromRatio = 0;
  double Vd = 1.0;     // [V]
  double Ea = 1.0;     // [eV]
  double ratio = 1.0;  // dimensionless, > 0
  // E_off = E_F∞ + Vd: the Fermi level above the band edge of the trapped carrier in the neutral
  // bulk, plus the diffusion voltage (formulas 1 and 2) [eV].
  double Eoff = 1.0;
  double fref = 1e6;  // the frequency whose capacitance gives the depletion width [Hz]
  int formula = kNtFormula2;
  int abscissa = kAsAbscissaEt;
  int ordinate = kAsOrdinateNt;
};

struct AdmittanceResult {
  int analysed = 0;     // 1: the arrays below hold the analysis of the curve's present points
  int status = 0;       // 0 analysed; −1 nothing to analyse or refused (reason in `message`)
  std::string message;  // why the curve was refused
  double T = 0.0;       // temperature of the curve [K]
  double V = 0.0;       // DC bias of the curve [V]
  double kT = 0.0;      // [eV]
  double Vd = 0.0;      // diffusion voltage used at T [V]
  double W = 0.0;       // depletion width from C at the reference frequency [cm]
  int dropped = 0;      // points left out: f ≤ 0, f or C not finite
  int merged = 0;       // points merged into another of the same frequency
  int outOfDomain = 0;  // points where the chosen formula does not apply (their Nt is 0)
  // Per analysed point, ascending in frequency.
  std::vector<double> f;       // [Hz]
  std::vector<double> C;       // [nF/cm2]
  std::vector<double> G;       // [S/cm2] (empty when the curve had none)
  std::vector<double> Et;      // E_omega [eV]
  std::vector<double> minusD;  // −dC/d ln(omega) [nF/cm2]
  std::vector<double> Nt;      // [cm^-3 eV^-1], or −dC/d ln(omega) for the plain-derivative choice
  // The graph: the chosen abscissa and ordinate.
  std::vector<double> x, y;
};

}  // namespace zoniq
