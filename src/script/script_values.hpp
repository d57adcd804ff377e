// The notation shared by every script command: splitting lines and dotted names into words,
// values (where a command expects a number) and targets (where "get" stores one).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "script/script_state.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

// Removes leading white space from `text`, copies its first word into `word` (when given) and
// leaves in `text` the remainder without the white space between the words.
void ReadFirstWord(std::string& text, std::string* word);

// Splits a dotted name (layer2.defect1.Nt) at its full stops into at most four parts; missing
// parts are empty and the fourth part keeps any further full stops.
void InterpretScriptVariable(std::string_view name, std::string& part1, std::string& part2, std::string& part3,
                             std::string& part4);

// Splits a text at white space into at most four words; missing words are empty and the fourth
// word is the whole remainder.
void SplitInWords(std::string_view text, std::string& w1, std::string& w2, std::string& w3, std::string& w4);

// Evaluates a value: xvalue, xindex, xvector[k] (k an integer, "last" or any value), mode,
// loopcounter, maxiteration, looperror, nx, or a number at the start of the text. Only the
// first word of `value` counts. Errors are reported through `env` naming `line`; the result
// is then empty (the documented return value of a failed evaluation is -1).
std::optional<double> ScriptValueToNumerical(std::string_view value, const ScriptVariables& theScript,
                                             std::string_view line, const Environment& env);

// Stores `number` into a target: xvalue, xindex, xvector[k] (k = -1 appends), xvector (puts
// the number in front), mode, loopcounter, maxiteration, nx. Returns false (with the error
// reported and nothing changed) when the target is not recognised or its index is invalid.
bool PostProcesValue(double number, std::string_view target, ScriptVariables& theScript, std::string_view line,
                     const Environment& env);

// Stores a curve into the two vectors named by the first two letters of `target` (abscissa,
// ordinate) with their display names. False (reported under `title`) when the target has no
// two script letters or the curve is too long; nothing changes then.
bool PostProcesCurve(const double* x, const double* y, std::size_t n, std::string_view xName, std::string_view yName,
                     std::string_view target, ScriptVariables& theScript, std::string_view line,
                     const Environment& env);

// The integer part of a finite number when it fits in an int; empty otherwise.
std::optional<int> TruncateToInt(double value);

}  // namespace zoniq
