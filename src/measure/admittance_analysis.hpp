// Admittance spectroscopy: from a capacitance–frequency curve, the energy distribution of the
// defects that follow the AC signal. Each angular frequency ω maps to the depth E_ω of the
// defects whose emission keeps pace with it, the capacitance step is differentiated with respect
// to ln ω by local polynomial fits, and a defect density Nt(E_ω) follows from the band bending
// (T. Walter, R. Herberholz, C. Müller, H. W. Schock, J. Appl. Phys. 80, 4411 (1996)).
//
// The analysis works on plain arrays (f, C and optionally G at one temperature and bias), so
// that simulated and measured curves are treated alike; it analyses a sorted, cleaned copy and
// never the caller's order.
#pragma once

#include <list>
#include <span>
#include <string>

#include "celldef/cell_definition.hpp"
#include "measure/admittance_result.hpp"
#include "measure/simulation_record.hpp"
#include "measurements/measurement_lists.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

// ξ0 = ν0·2/300² shown beside ν0, and back (ν0 = ξ0·45000).
inline double XiFromAttemptFrequency(double nu0) { return nu0 * 2.2222222222222223e-05; }
inline double AttemptFrequencyFromXi(double xi0) { return xi0 * 45000.0; }

// kT [eV] at T [K], as the solver has it: 0.0259 eV at 300 K.
inline double AsThermalEnergy(double T) { return 0.0259 * T / 300.0; }

// The diffusion voltage of the settings at temperature T [V].
double DiffusionVoltageAt(const AdmittanceSettings& s, double T);

// E_ω [eV] at temperature T [K] and angular frequency ω [rad/s], with the prefactor the settings
// choose there.
double EnergyOfFrequency(const AdmittanceSettings& s, double T, double omega);

// The derivative dy/dx at each of the first n points by local least-squares polynomials over a
// window of `window` points: order `orderEdge` over the first (last) `window` points for the first
// (last) ⌊window/2⌋ points, order `orderMid` over the window that starts ⌊window/2⌋ before the
// point for the others. x must be strictly ascending. Returns 0; −1 when n is not larger than the
// window; −2 when the window or an order is out of range (window ≥ 2, 1 ≤ order < window,
// order ≤ 6). Allocates nothing.
int afgeleide(std::span<const double> x, std::span<const double> y, int n, int window, int orderMid, int orderEdge,
              std::span<double> dy);

// One C-f curve as plain arrays: f [Hz], C [nF/cm2], G [S/cm2] (may be empty), all of the same
// length and in any order, measured or simulated at temperature T [K] and DC bias V [V].
struct CfCurve {
  std::span<const double> f, C, G;
  double T = 300.0;
  double V = 0.0;
};

// Analyses the curve into `r` (replaced entirely): points with f ≤ 0 or a non-finite f or C
// are dropped, the rest sorted by frequency and points of equal frequency (within 1e-9
// relative) merged into their mean. εr and the derivative window are those of the apparent-
// doping settings `ms`. Points outside the domain of the chosen formula get Nt = 0 and are
// counted. Returns 0, or −1 when the curve is refused (reason in r.message; no arrays).
int AnalyseAdmittance(const CfCurve& curve, const AdmittanceSettings& s, const MottSchottkySettings& ms,
                      AdmittanceResult& r);

// The analysis of a simulation record's C-f curve (its calculated points), stored with the
// curve. Returns 0; −1 nothing to analyse (no C-f result, or the curve refused: reason in
// record.cf.as.message); −2 the result arrays are shorter than the points calculated.
int Calculate_AS_single(SimulationRecord& record, const AdmittanceSettings& s, const MottSchottkySettings& ms);

// Analyses every record holding a C-f result; refusals and points outside the formula's
// domain are reported (when `env` is given) under "Admittance spectroscopy analysis".
// Returns the number of curves analysed.
int Calculate_AS(std::list<SimulationRecord>& records, const AdmittanceSettings& s, const MottSchottkySettings& ms,
                 const Environment* env);

// The analysis of a measured C-f curve (Cf kind; at its temperature and bias) into `r`. The
// curve's own Et, Nt and derivative arrays receive E_omega, Nt and −dC/d ln(omega) of the analysed
// points (ascending in frequency; cleared when refused). Returns 0; −1 when the item holds no C-f
// curve or the curve is refused (reason in r.message).
int Calculate_AS_measured(MeasurementItem& measurement, const AdmittanceSettings& s, const MottSchottkySettings& ms,
                          AdmittanceResult& r);

// Analyses every measured C-f curve of the session's list, reporting refusals and points outside
// the formula's domain like Calculate_AS. Returns the number of curves analysed.
int Calculate_AS_measurements(MeasurementState& measurements, const AdmittanceSettings& s,
                              const MottSchottkySettings& ms, const Environment* env);

// Fills the graph arrays r.x, r.y for the chosen abscissa and ordinate.
void CalculateAS(AdmittanceResult& r, const AdmittanceSettings& s);
// The axis titles of the graph.
const char* ASAbscissaTitle(int abscissa);
const char* ASOrdinateTitle(int ordinate);

// Proposals from the cell (parameter set 1, SI) for the analysis of level `level` of bulk defect
// `defect` in layer `layer` (all from 0), with the junction on side `side` of that layer (−1 its
// left edge, towards layer − 1; +1 its right edge), from the values the definition holds at the
// two edges that meet there, at 300 K (kT = 0.0259 eV, non-degenerate bands):
//  - ν0 = σp·vth,p·NV for a level in the lower half of the gap (a hole trap), else σn·vth,n·NC;
//  - V_d = Ea + kT·ln(r), the difference of the Fermi levels of the two neutral sides, with
//    Ea = χp + Egp − χn and r = NA·ND/(NV,p·NC,n) (p the p-type side, n the n-type side);
//  - E_off = E_F∞ + V_d, E_F∞ the Fermi level's distance in the neutral layer from the band edge
//    the level exchanges its carriers with.
// Returns 0 with s.nu0, s.vdFromRatio = 1, s.Ea, s.ratio, s.Vd (at 300 K) and s.Eoff set; −1 with
// a message (s unchanged) when the layer, defect, level or neighbour does not exist, or no pn
// junction lies at that side.
int ASDataFromCellDefinition(const InputParameters& set1, int layer, int defect, int level, int side,
                             AdmittanceSettings& s, std::string& message);

// The maximum of −dC/d ln ω of an analysed curve, refined by a parabola in ln ω through the
// largest point and its neighbours: its frequency [Hz] and energy [eV]. Returns the index of
// the largest point, or −1 when it lies at an end of the curve (no peak).
int AdmittancePeak(const AdmittanceResult& r, double& fPeak, double& EPeak);

// Arrhenius analysis of peak angular frequencies ω_i [rad/s] at temperatures T_i [K]: the line
// ln(ω/T²) = ln(2ν0/300²) − Ea/kT by least squares. Returns 0 with Ea [eV] and ν0 [1/s] at
// 300 K, or −1 when fewer than two distinct temperatures with positive finite values are given.
int ArrheniusFit(std::span<const double> T, std::span<const double> omega, double& Ea, double& nu0);

}  // namespace zoniq
