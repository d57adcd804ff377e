// The calculation parameters: the cell at one temperature, prepared for the solver in
// normalised units, with the normalisation record `schaal`.
//
// Normalisation: positions in units of the total thickness L, potentials and energies in units
// of the thermal voltage Vt, densities of layer l in units of its density scale S_l, rates in
// S_l·Dmax/L², current densities in q·S_l·Dmax/L, velocities in Dmax/L.
#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "celldef/cell_definition.hpp"

namespace zoniq {

struct Environment;

// Physical constants as the solver uses them.
inline constexpr double kQ = 1.602e-19;     // elementary charge [C]
inline constexpr double kEps0 = 8.854e-12;  // vacuum permittivity [F/m]
inline constexpr double kVt300 = 0.0259;    // thermal voltage at 300 K [V]

inline constexpr int MAXPOINTS = 1000;

// The normalisation record.
struct Schaal {
  double L = 1.0;                          // length scale: the total thickness [m]
  double tijd = 1.0;                       // time scale L²/Dmax [s]
  double Dmax = 1.0;                       // diffusion scale [m²/s]
  double snelheid = 1.0;                   // velocity scale Dmax/L [m/s]
  std::array<double, MAXLAYERS> invLS{};   // 1/(L·S_l)
  std::array<double, MAXLAYERS> S{};       // density scale S_l [1/m³]
  std::array<double, MAXLAYERS> lambda{};  // Vt·ε_l·ε0/(q·S_l·L²)
};

// The per-layer data of the calculation parameters.
struct LayerCalcParameters {
  double d = 0.0;      // thickness [m]
  double dNorm = 0.0;  // thickness / L
  // At the left (index 0) and right (index 1) edge of the layer.
  std::array<double, 2> Eg{};              // band gap [eV]
  std::array<double, 2> chi{};             // electron affinity [eV]
  std::array<double, 2> eps{};             // relative permittivity
  std::array<double, 2> NC{}, NV{};        // effective densities of states at T [1/m³]
  std::array<double, 2> ND{}, NA{};        // shallow doping [1/m³]
  std::array<double, 2> vth_n{}, vth_p{};  // thermal velocities at T [m/s]
  std::array<double, 2> ni{};              // intrinsic density, normalised by S_l
  std::array<double, 2> Nref{};            // max(|ND − NA|, ni) [1/m³]
  std::array<double, 2> LD{};              // Debye length, normalised by L
  std::array<int, 2> dopingType{};         // −1 n-type (ND > NA), +1 p-type, 0 compensated
};

// The per-interface data: the interface lies between layers l and l+1.
struct InterfaceCalcParameters {
  double dEc = 0.0;      // χ(l+1, left) − χ(l, right) [eV]
  double dEv = 0.0;      // Eg(l, right) − ΔEc − Eg(l+1, left) [eV]
  double kappa_n = 0.0;  // thermionic-emission coefficients (normalised velocities)
  double kappa_p = 0.0;
};

// The shares of the two configurations of a metastable transition, handed from the simulation
// that set them (at the second working point) to the next one: y = ln(fD/fA) at positions of the
// transition's layer. The mesh of the next simulation may differ, so it interpolates.
struct MetaHandover {
  int given = 0;
  std::vector<double> x;  // position [µm], rising
  std::vector<double> y;  // ln(fD/fA) at x
};
using MetaHandoverSet = std::array<std::array<MetaHandover, MAXMETATRANSITIONS>, MAXLAYERS>;

// Parameter set 3.
struct CalculationParameters {
  ConvergenceParameters convergence;  // copied unchanged from the input set
  MeshSettings mesh;                  // the numerical settings of the mesh, ratios governed
  double T = 300.0;                   // temperature [K]
  double Vt = kVt300;                 // kT/q [V]
  double energyUnit = kVt300;         // the same, as the energy unit [eV]
  int nlayers = 0;
  int defectdiscretisations = 7;
  double widthtail = 7.0;
  double widthgauss = 6.0;
  double Fi_left = 0.0;   // contact potential of the left contact [eV]
  double Fi_right = 0.0;  // contact potential of the right contact [eV]
  // Surface recombination velocities at the contacts, normalised by Dmax/L.
  double Sn_left = 0.0, Sp_left = 0.0, Sn_right = 0.0, Sp_right = 0.0;
  std::array<LayerCalcParameters, MAXLAYERS> layer{};
  std::array<InterfaceCalcParameters, MAXINTERFACES> interface {};
  // The cell with its graded properties, evaluated on the mesh by Full_x_Dependence; the
  // cross sections of its bulk defect levels are normalised (× L·S_l).
  CellDefinition cell;
  Schaal schaal;
  // The configuration shares that metastable transitions start from (none given: the
  // transition's initial acceptor configuration).
  MetaHandoverSet metaHandover{};
};

// Whether electrons are the minority carriers at the left (side 0) or the right (side 1)
// contact: the outer edge of the first or last layer is p-type. Otherwise (n-type or
// compensated) the holes are counted as the contact's minority carriers.
inline bool ElectronsAreMinorityAtContact(const CalculationParameters& par, int side) {
  const LayerCalcParameters& layer = par.layer[side == 0 ? 0 : static_cast<std::size_t>(std::max(par.nlayers - 1, 0))];
  return layer.dopingType[side == 0 ? 0 : 1] == 1;
}

// Range of the two mesh ratios; swaps them when the maximum is below the minimum, then clamps
// the maximum into [1.1, 3.0] and the minimum into [1.0, 1.3].
void GovernMaxMinMesh(double& maxRatio, double& minRatio);

// Builds parameter set 3 and its normalisation record from the input set at temperature T [K].
// The mesh settings are governed on the way in. Returns 0, or −1 when the cell cannot be
// calculated (the reason is reported through `env` when given and left in `message`).
int parameterset1_to_3(const InputParameters& set1, const MeshSettings& mesh, CalculationParameters& set3, double T,
                       const Environment* env, std::string* message = nullptr);

}  // namespace zoniq
