// Metastable defects: one physical defect with an acceptor and a donor configuration, each
// represented by an ordinary bulk defect of its layer. The two share one total density; the
// share of each configuration follows from thermally activated capture and emission of pairs
// of carriers. This module holds what the cell definition knows of them: the transition's
// ring code, the level types it uses, the energy relations between its activation energies
// and the check that a transition refers to two usable defects.
#pragma once

#include <string>

#include "celldef/cell_definition.hpp"
#include "celldef/short_cell_definition.hpp"

namespace zoniq {

// The code of a transition, charge state × 49 + acceptor defect × 7 + donor defect, and its
// description ("Error in MakeMetaRingCode" for a charge state below 2).
int MakeMetaRingCode(int donorDefect, int acceptorDefect, int chargeState, std::string& text);
void interpreteMetaRingCode(int code, int& donorDefect, int& acceptorDefect, int& chargeState);

// The level type a configuration uses: the charge state itself (switch 1), or one above it
// (switch 0). Level type k lies between charge states k − 1 and k. −1 for a charge state
// outside 0 … 6.
int GetDefectLevelFromChargeType(int chargeState, int sw);

// Converts between the user's choice of given activation energies (0 … 7) and the five flags
// (EE, HC, EC, HE, TR). direction 0: choice → flags; 1: flags → choice (returned).
int interpretEactgiven(int& choice, std::array<unsigned char, 5>& flags, int direction);

// Which activation energy RecalculateActivationEnergy derives.
inline constexpr int kMetaWhichTR = 0;
inline constexpr int kMetaWhichEC = 1;
inline constexpr int kMetaWhichEE = 2;
inline constexpr int kMetaWhichHC = 3;
inline constexpr int kMetaWhichHE = 4;

// The five energies of a transition at one band gap [eV]: the transition energy above EV and
// the activation energies of electron emission, hole capture, electron capture and hole
// emission.
struct MetaEnergies {
  double ET = 0.0, EE = 0.0, HC = 0.0, EC = 0.0, HE = 0.0;
};

// The transition energy above EV from Eact_TR and its reference (0 above EV, 1 above midgap
// Eg/2, 2 below EC), and back.
double TransitionEnergyAboveEV(double EactTR, int reference, double Eg);
double TransitionEnergyForReference(double ET, int reference, double Eg);

// Derives one energy of `e` from the others (`which`: kMetaWhich…). `configuration` is the
// process switch of the pair concerned (electron switch for EE/EC, hole switch for HC/HE);
// with which = kMetaWhichTR, `fromElectrons` chooses the pair ET is taken from.
void RecalculateActivationEnergy(MetaEnergies& e, int configuration, int which, int fromElectrons, double Eg);

// The energies of a transition at band gap Eg, with the derived ones recomputed from the given
// ones so that every pair of processes obeys detailed balance with ET.
MetaEnergies DeriveMetaEnergies(const MetaStableDefectParameters& m, double Eg);
// The same, stored back into the transition's activation energies.
void UpdateActivationEnergies(MetaStableDefectParameters& m, double Eg);

// An empty text when switched-on transition k of layer l refers to two different bulk defects
// of the layer that have the levels it needs, else the reason (naming layer and transition,
// counted from 1).
std::string ValidateMetaTransition(const CellDefinition& cell, int layer, int k);

// Number of switched-on transitions of the layers in use that pass ValidateMetaTransition; 1
// when there is any (the cell then runs in metastable mode), else 0.
int CountValidMetaTransitions(const CellDefinition& cell);
int CheckMETAMode(const CellDefinition& cell);
// The same question on the short definition, which keeps only the switches: 1 when a transition
// of a layer in use is switched on. The short definition holds no defect references, so a
// transition that the full cell would reject still counts here.
int CheckMETAModeShort(const ShortCellDefinition& shortDef);

}  // namespace zoniq
