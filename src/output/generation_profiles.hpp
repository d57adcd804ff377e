// The generation and recombination of a solved state split up by mechanism, by defect and by
// defect level, and the occupation probabilities of the defect levels: the tables of the
// generation-recombination (".gen") and occupation (".occ") files.
#pragma once

#include <array>
#include <string>

#include "solver/calculation_variables.hpp"

namespace zoniq {

// The fractions of the charge states 0 … L of a defect at one energy of its axis, at point j of
// its layer, for electron and hole densities n and p in the units of the defect's records. State
// s+1 holds one electron more than state s; the fractions sum to one.
std::array<double, MAXDEFECTSTATES> DefectStateFractions(const BulkDefectRecord& defect, int energy, int j, double n,
                                                         double p);

// The charge of state s of a defect with charge code c, as text ("2-", "0", "+", …); code 0
// carries no charge.
std::string ChargeStateText(int chargeCode, int state);

// Rates of the transitions of one defect level at one point [/cm³·s], integrated over the
// defect's energy distribution.
struct LevelRates {
  double ipvGn = 0.0;  // optical emission of electrons from the level to the conduction band
  double Gnth = 0.0;   // thermal emission of electrons to the conduction band
  double Rnth = 0.0;   // capture of conduction-band electrons
  double ipvGp = 0.0;  // optical emission of holes to the valence band
  double Gpth = 0.0;   // thermal emission of holes to the valence band
  double Rpth = 0.0;   // capture of valence-band holes
  double netGn() const { return ipvGn + Gnth - Rnth; }
  double netGp() const { return ipvGp + Gpth - Rpth; }
};
// Level k of a defect at mesh point i of its layer; zero at the two end points of the layer,
// which carry no bulk terms.
LevelRates DefectLevelRates(const CalculationVariables& cv, const BulkDefectRecord& defect, int level, int i);

// The generation-recombination table: a title line and one line per mesh point, every field
// followed by a tab.
std::string GenerationRecombinationTable(const CalculationVariables& cv);

// The occupation table with the lines that name the energy distributions before it.
std::string OccupationTable(const CalculationVariables& cv);

}  // namespace zoniq
