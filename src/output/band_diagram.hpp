// The band diagram of a solved state in practical units: band edges, quasi-Fermi levels,
// densities, charge, field, currents, generation and recombination at every mesh point, the
// cumulative generation and recombination currents, and the terms of every interface. These
// are the columns of the band-diagram file and the profiles the recorder and the script read.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "solver/calculation_variables.hpp"

namespace zoniq {

// One interface between layers l and l+1.
struct InterfaceProfileRow {
  double x = 0.0;  // position [µm]
  // Net capture currents of electrons and holes from the left (1) and right (2) point, without
  // and with the tunnel enhancement of their channel [mA/cm²].
  double jn1 = 0.0, jn2 = 0.0, jp1 = 0.0, jp2 = 0.0;
  double jn1t = 0.0, jn2t = 0.0, jp1t = 0.0, jp2t = 0.0;
  double js = 0.0;  // interface recombination current: electrons captured from both sides [mA/cm²]
  double pi = 0.0;  // interface charge [C/cm²]
  // Electron plus hole current carried across the interface by thermionic emission, tunnelling
  // included [mA/cm²]: what reaches the left point from its layer and is not captured there.
  // Not a column of the file.
  double jth = 0.0;
  // Occupation of each interface defect by electrons and by holes (the mean over its energy
  // distribution); NaN for a defect the interface does not have. Not a column of the file.
  std::array<double, MAXIFACEDEFECTS> fn{}, fp{};
};

struct BandDiagramProfiles {
  double V = 0.0;  // bias voltage of the solution [V]
  int N = 0;
  int nlayers = 0;
  std::array<int, MAXLAYERS> first{}, last{};            // mesh indices of each layer's end points
  std::vector<double> x;                                 // [µm]
  std::vector<double> Ec, Fn, Fp, Ev;                    // [eV]
  std::vector<double> n, p, rhoDefect, netDoping, rho;   // [/cm³]
  std::vector<double> E;                                 // field [V/cm]
  std::vector<double> jn, jp, jnTunnel, jpTunnel, jtot;  // [mA/cm²]
  std::vector<double> G, R;                              // generation and net recombination rate [/cm³·s]
  std::vector<double> cumG, cumR;                        // cumulative generation and recombination [mA/cm²]
  std::vector<InterfaceProfileRow> interfaces;           // nlayers − 1 rows
};

// Evaluates every profile of the solution. `generationSide` is the side the light enters from:
// −1 the left contact (the cumulative generation then runs from the first mesh point), +1 the
// right contact (it runs downward from the last point).
void BandDiagramFromSolution(const CalculationVariables& cv, int generationSide, BandDiagramProfiles& out);

// The tables of the band-diagram file after its header: the bias line, the bulk table (layer by
// layer, so that a point on an interface appears twice) and the interface table.
std::string BandDiagramText(const BandDiagramProfiles& profiles);

}  // namespace zoniq
