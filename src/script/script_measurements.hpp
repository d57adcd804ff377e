// The script's commands on measured curves: "load measurement.iv|cv|cf|qe <file>" reads a
// measurement into the session's list of its kind and selects it; "get meas.iv|cv|gv|cf|gf|qe"
// copies the selected measurement's curve into two script vectors.
#pragma once

#include <string_view>

#include "script/script_interpreter.hpp"

namespace zoniq {

// `argument` is the whole load argument ("measurement.iv"). Returns 0, or -1 (reported) when the
// kind is not known or the file cannot be read; the lists are then unchanged.
int ProcessLoadMeasurement(ScriptContext& context, std::string_view argument, std::string_view fileName,
                           std::string_view line);
// `which` is the second part of the source ("iv" of "meas.iv"), `sub` the third. "admittance"
// returns the admittance-spectroscopy analysis of the selected measured C-f curve with the
// present settings: its graph (the chosen abscissa and ordinate), or with sub "peak" the energy
// of the maximum of −w*dC/dw [eV].
int ProcessGetMeasurement(ScriptContext& context, std::string_view which, std::string_view sub, std::string_view target,
                          std::string_view line);

}  // namespace zoniq
