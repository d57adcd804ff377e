// Interface recombination: defects that sit at the double mesh point of a heterointerface and
// exchange electrons and holes with both of its sides, the last point p of the layer on the left
// and the first point f of the layer on the right. Each interface carries up to three defects,
// each a single level or an energy distribution, neutral, acceptor-like or donor-like.
//
// A level at one energy is a Shockley-Read-Hall centre with four capture channels (electrons
// and holes from the left and from the right). Its occupation by an electron is
//   f = (cn_l·n_p + cn_r·n_f + cp_l·p1_l + cp_r·p1_r)/D,
//   D = cn_l·(n_p + n1_l) + cn_r·(n_f + n1_r) + cp_l·(p_p + p1_l) + cp_r·(p_f + p1_r),
// with every density on one scale (that of the left layer), so that no side is weighted by the
// ratio of the two layers' density scales. The level stores the charge −q·Nt·f (acceptor-like)
// or q·Nt·(1 − f) (donor-like) and takes the net fluxes Nt·c·(n·(1 − f) − n1·f) and
// Nt·c·(p·f − p1·(1 − f)) from each side.
//
// Trap-assisted tunnelling ("Tunneling to trap"): carriers of a side also reach the level from
// the points where the band has fallen to their energy, through the barrier in between (see
// TrapTunnelWeights). With the weights w_k of a channel and Γ = Σ w_k, the channel captures
// c·[(n_s + Σ w_k·D_s·X_k)·(1 − f)] and emits c·(1 + Γ)·n1·f, where n_s = D_s·X_s is the density
// at the interface point and D_s·X_k the density the side's band at s would hold with the
// quasi-Fermi level of k (X = u0 + u or v0 + v). Emission into the band needs no free state
// (Boltzmann statistics), so it is enhanced by Γ alone. The level then sees the channel as a
// capture coefficient (1 + Γ)·c with the effective density ñ = (n_s + Σ w_k·D_s·X_k)/(1 + Γ),
// which equals n_s whenever the quasi-Fermi level is flat; Γ is stored per level and channel.
// The interface point takes the direct part c·(n_s·(1 − f) − n1·f) of the flux, and every point
// k its tunnel part w_k·c·(D_s·X_k·(1 − f) − n1·f), carried to the interface by interval currents.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "celldef/cell_definition.hpp"
#include "solver/bulk_recombination.hpp"

namespace zoniq {

struct CalculationVariables;

// The four capture channels of an interface level, in this order everywhere.
enum InterfaceChannel { kNLeft = 0, kNRight = 1, kPLeft = 2, kPRight = 3 };

// The solver's view of one interface defect (SI input, energies in eV).
struct InterfaceDefectInput {
  int interface = 0;              // between layers interface and interface + 1
  int defect = 0;                 // 0 … MAXIFACEDEFECTS − 1
  int chargeCode = DT_NEUTRAL;    // 0 neutral, 1 acceptor-like, 2 donor-like
  double Nt = 0.0;                // total density [1/m²]
  std::array<double, 4> sigma{};  // capture cross sections per channel [m²]
  int distribution = ED_SINGLE;
  double W = 0.0;     // characteristic energy of the distribution [eV]
  double Et = 0.0;    // level energy [eV] on its reference
  int reference = 3;  // 0–3 above the highest EV, 4 below the lowest EC, 5/6 above Ei left/right, 7 above EV right
  int tunneling = 0;  // "Tunneling to trap" switch
  double me_rel = 1.0, mh_rel = 1.0;  // relative tunnel masses of the paths to the trap
};

InterfaceDefectInput MakeInterfaceDefectInput(const InterfaceRecombinationParameters& p, int interface, int defect);
// An empty text when the defect can be calculated, else the reason (for the user).
std::string ValidateInterfaceDefect(const InterfaceDefectInput& d);
// Checks every interface defect in use of a cell; the first problem is returned in `message`.
bool ValidateInterfaceDefects(const CellDefinition& cell, std::string& message);
inline constexpr const char* kInterfaceDefectErrorTitle = "Error in the definition of an interface defect";

// The material on the two sides of an interface, at its two points (solver units: densities
// of each side in its own scale S, thermal velocities in Dmax/L, energies in eV).
struct InterfaceSides {
  double Eg_p = 0.0, Eg_f = 0.0, chi_p = 0.0, chi_f = 0.0;
  double NC_p = 0.0, NV_p = 0.0, NC_f = 0.0, NV_f = 0.0;
  double vthn_p = 0.0, vthp_p = 0.0, vthn_f = 0.0, vthp_f = 0.0;
  double r = 1.0;      // S_right/S_left: converts a density of the right side to the left scale
  double Vt = 0.0259;  // thermal voltage [V]
};

// The level energy E′ [eV] above the valence band edge of the left side, for a level energy E
// on the defect's reference. ΔEc = χ_f − χ_p, ΔEv = Ev_f − Ev_p = Eg_p − ΔEc − Eg_f.
double InterfaceLevelAboveEvLeft(const InterfaceDefectInput& d, const InterfaceSides& s, double E);

// One level of an interface defect at one energy of its axis.
struct InterfaceLevelRecord {
  std::array<double, 4> c{};      // capture coefficients vth·σ per channel [m²·Dmax/L]
  std::array<double, 4> gamma{};  // tunnel enhancement per channel (0 without trap tunnelling)
  double n1_left = 0.0, n1_right = 0.0, p1_left = 0.0, p1_right = 0.0;  // [S_left]
  double Nt = 0.0;  // density at this energy times its quadrature weight [1/m²]
  double E = 0.0;   // level energy above EV of the left side [eV]
  double f = 0.5, een_min_f = 0.5;
};

// One interface defect with its levels (one per energy of its axis).
struct InterfaceDefectRecord {
  InterfaceDefectInput input;
  EnergyAxis axis;
  std::vector<InterfaceLevelRecord> records;
};

// All interface defect records of the calculation, per interface.
struct InterfaceRecombination {
  std::array<std::vector<InterfaceDefectRecord>, MAXINTERFACES> iface;
  std::array<std::array<int, MAXIFACEDEFECTS>, MAXINTERFACES> exists{};
  bool empty() const {
    for (const auto& v : iface)
      if (!v.empty()) return false;
    return true;
  }
  bool charged() const;
};

// The carriers at the two points of an interface, every density on the left scale.
struct InterfaceCarriers {
  double n_p = 0.0, p_p = 0.0, n_f = 0.0, p_f = 0.0;
};

// What one level (or the sum of levels) adds at one interface. Fluxes are normalised with the
// density scale of their own side (S·Dmax/L); derivatives are taken with respect to the four
// densities (n_p, n_f, p_p, p_f), all on the left scale, in this order.
struct InterfaceLevelTerms {
  double sigma = 0.0;                         // charge [C/m²]
  std::array<double, 4> dsigma{};             // ∂σ/∂(n_p, n_f, p_p, p_f)
  std::array<double, 4> F{};                  // net capture flux per channel (InterfaceChannel order)
  std::array<double, 4> Ft{};                 // the same with the channel's tunnel enhancement
  std::array<std::array<double, 4>, 4> dF{};  // dF[channel][density]
};

// Level parameters of every energy of a defect for the material at the interface.
void ifr_input_energie(InterfaceDefectRecord& d, const InterfaceSides& sides);
// One level at one energy: adds its terms to `out` and stores its occupation.
void ifrdcbijdrage_een_niveau_tunnel(InterfaceLevelRecord& r, const InterfaceCarriers& c, int chargeCode, double rRight,
                                     InterfaceLevelTerms& out);
// One defect over its energy axis (trapezoid rule) added to `out`.
void ifrdcbijdrage_distributie(InterfaceDefectRecord& d, const InterfaceCarriers& c, double rRight,
                               InterfaceLevelTerms& out);

// Creates the records of every interface defect in use (the cell's defects must have passed
// ValidateInterfaceDefects) and fills them for the present mesh.
void CreateIFRecdataStructures(CalculationVariables& cv);
void FreeIFRecdataStructures(InterfaceRecombination& rec);
// Refills the level parameters from the material at the present interface points.
void FillInterfaceDefectRecords(CalculationVariables& cv);
// The carriers at the two points of interface l of a solution, on the left scale.
InterfaceCarriers InterfaceCarriersOf(const CalculationVariables& cv, int l);
// The occupation f of a level by an electron for the given carriers (1 − f is the rest).
double InterfaceOccupation(const InterfaceLevelRecord& r, const InterfaceCarriers& c);
// Clears the interface block and adds the terms of every interface defect from the present ψ,
// u and v. Does nothing when the cell has no interface defect.
void totale_ifrdcbijdrage(CalculationVariables& cv);

}  // namespace zoniq
