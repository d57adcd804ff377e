// The script's settings of the admittance-spectroscopy analysis: "set admittance.<key> value".
#pragma once

#include <string_view>

#include "script/script_interpreter.hpp"

namespace zoniq {

// Keys: "nu0" (attempt-to-escape frequency at 300 K, 1/s), "xi0" (the same as ν0·2/300²),
// "nua", "nub", "Es" (two prefactors and their switching energy; setting one switches them
// on), "prefactors" (1 or 2), "Vd" (the diffusion voltage as entered), "Ea" and "ratio"
// (Vd = Ea + kT·ln(ratio) instead), "Eoff", "fref" (Hz), "formula" (0, 1, 2, or 3 for the plain
// derivative), "abscissa" (0 Et, 1 f, 2 ω) and "ordinate" (0 Nt, 1 −ω·dC/dω, 2 C, 3 scaled);
// "fromcell" with "layer defect level side" sets ν0, Vd (as Ea and ratio) and E_off from the cell
// (ASDataFromCellDefinition).
// Returns 0, or −1 (reported; the settings unchanged).
int ProcessSetAdmittanceCommand(ScriptContext& context, std::string_view key, std::string_view rest,
                                std::string_view line);

}  // namespace zoniq
