// Cells built in code for the solver tests and benchmarks (SI units, the input parameter set).
#pragma once

#include <array>

#include "celldef/cell_definition.hpp"

namespace zoniq::test {

// A pn homojunction: p base on the left (back), n emitter on the right (front), flat-band ohmic
// contacts (S = 1e7 m/s). Eg = 1.12 eV, χ = 4.05 eV, εr = 11.9, Nc = Nv = 1e25 /m³ (ni² =
// 1e50·e^(−Eg/Vt)), μn = μp = 0.01 m²/Vs, vth = 1e5 m/s, no recombination unless added.
struct PnOptions {
  double Wp = 5e-6;  // base thickness [m]
  double Wn = 1e-6;  // emitter thickness [m]
  double NA = 1e22;  // base doping [/m³]
  double ND = 1e23;  // emitter doping [/m³]
  double mu = 0.01;  // both mobilities [m²/Vs]
  double S = 1e7;    // contact recombination velocities [m/s]
};
InputParameters PnJunction(const PnOptions& o = {});

// Adds a single-level neutral defect to layer `layer`: level at `Et` eV above EV, density Nt
// [/m³], capture cross sections sigma [m²] for both carriers.
void AddSingleLevelDefect(InputParameters& set, int layer, double Et, double Nt, double sigma);

// The pn junction whose base bulk (Wp − clean) recombines through a neutral midgap level (Nt,
// sigma) while the `clean` part next to the junction, holding the depletion region, has none.
InputParameters LongBaseJunction(const PnOptions& o, double clean, double Nt, double sigma);

// A thin-film heterojunction of three layers, back to front (left to right):
//   p-type absorber 2 µm: Eg 1.15 eV, χ 4.50 eV, εr 13.6, NA 1e22 /m³;
//   n-type buffer 50 nm:  Eg 2.40 eV, χ 4.45 eV, εr 10,   ND 1e23 /m³ (a 0.05 eV spike in EC);
//   n-type window 200 nm: Eg 3.30 eV, χ 4.55 eV, εr 9,    ND 1e24 /m³ (a 0.10 eV cliff in EC);
// all with Nc = 2.2e24, Nv = 1.8e25 /m³, μn = 0.01, μp = 0.0025 m²/Vs, vth = 1e5 m/s, flat-band
// contacts with S = 1e7 m/s. With `defect`, the absorber holds a neutral midgap level
// (Nt = 1e20 /m³, σ = 1e-19 m²: τ = 1/(σ·vth·Nt) = 1 µs).
InputParameters ThinFilmCell(bool defect = true);

// Adds a defect to interface `iface`: charge type, level Et [eV] on reference code `reference`,
// density N [/m²], cross sections {σn left, σn right, σp left, σp right} [m²], distribution.
InterfaceRecombinationParameters& AddInterfaceDefect(InputParameters& set, int iface, int type, double Et,
                                                     int reference, double N, std::array<double, 4> sigma,
                                                     int distribution = ED_SINGLE, double Ekar = 0.1);

// The thin-film cell with interface defects of every kind: an acceptor-like Gaussian (below the
// lowest EC) and a neutral level at the absorber/buffer interface, a donor-like level (above Ei
// of the right side) at the buffer/window interface; unequal cross sections on every channel.
InputParameters DefectiveHeterojunction();

}  // namespace zoniq::test
