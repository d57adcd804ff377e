// The script commands of the curve fitter: loading and saving its settings, running a fit,
// copying the best point into the cell, the results table and the fit's numbers.
#pragma once

#include <string>
#include <string_view>

#include "script/script_interpreter.hpp"

namespace zoniq {

// "load fit F.scf" (also "load setting.fit F.scf"). Returns 0, or -1 (reported).
int ProcessLoadFitCommand(ScriptContext& context, const std::string& fileName, std::string_view line);
// "save setting.fit F.scf".
int ProcessSaveFitSetting(ScriptContext& context, std::string_view fileName, std::string_view line);
// "save result.fit F.xls": the results table, preceded by the script's header text.
int ProcessSaveFitResult(ScriptContext& context, std::string_view fileName, std::string_view header,
                         std::string_view line);
// "set fit.usebest 1" (the best point of the last fit into the cell), "set fit.maxsteps N".
int ProcessSetFitCommand(ScriptContext& context, std::string_view option, std::string_view rest, std::string_view line);
// "get fit.chisq", "get fit.parameterN" (best values), "get fit.iterations" into a value
// target; "get fit.history" (iteration, total chi-square) into a curve target.
int ProcessGetFitCommand(ScriptContext& context, std::string_view what, std::string_view target, std::string_view line);

}  // namespace zoniq
