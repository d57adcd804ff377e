// The script commands. Each gets its argument word, the rest of the line (end-of-line comment
// removed) and the whole line for its messages, reports its own errors through the error
// routine and returns 0 when it did what was asked, -1 otherwise (the script goes on).
#pragma once

#include <cstdio>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "common/format.hpp"
#include "script/script_interpreter.hpp"

namespace zoniq {

int ProcessLoadCommand(ScriptContext& context, std::string_view argument, std::string_view fileName,
                       std::string_view line);
// `header` is the text that precedes the result files (see ScriptSaveHeader).
int ProcessSaveCommand(ScriptContext& context, std::string_view argument, std::string_view fileName,
                       std::string_view header, std::string_view line);
int ProcessSetCommand(ScriptContext& context, std::string_view argument, std::string_view rest, std::string_view line);
int ProcessSetScriptvariableCommand(ScriptVariables& theScript, std::string_view target, std::string_view rest,
                                    std::string_view line, const Environment& env);
int ProcessGetCommand(ScriptContext& context, std::string_view argument, std::string_view target,
                      std::string_view line);
int ProcessActionCommand(ScriptContext& context, std::string_view argument, std::string_view rest,
                         std::string_view line);
int ProcessPlotCommand(ScriptState& script, std::string_view argument, std::string_view rest, std::string_view line,
                       const Environment& env);
int ProcessCalculateCommand(ScriptContext& context, std::string_view argument, std::string_view line);
int ProcessClearScriptCommand(ScriptContext& context, std::string_view argument, std::string_view rest,
                              std::string_view line);
// Calls the user function; its result (0 when the library is missing) goes to status.
int ProcessRunDLLCommand(ScriptContext& context, std::string_view line);
int ProcessRunSystemCommand(ScriptContext& context, std::string_view argument, std::string_view rest,
                            std::string_view line);

// Where a result file named without a folder is written: the output folder when one is set
// (created when missing); else the program folder's "results" folder (created when missing)
// when it can be written; else the current folder.
std::string ResultFilePath(const SessionCore& core, const std::string& name);

// The file a save command writes: the default file name when none is given, the kind's
// extension when the name has none, resolved in the folder of the kind (result files in the
// output folder). Empty (reported) when the script may not write there.
std::optional<std::string> OutputPath(const ScriptContext& ctx, std::string_view fileName, int kind,
                                      const char* extension, std::string_view line);

// "show" without panels: the script variables as text.
void ShowScriptVariables(const ScriptVariables& theScript, std::ostream& out);

// The header of the result files a script writes: the script file, its date and the command.
std::string ScriptSaveHeader(std::string_view scriptFile, const DateTime& scriptFileTime, std::string_view line);

// The file of plotted script vectors: a line of the curves' names, the date line, and one row
// per element index (abscissa and ordinate of every curve, two tabs where a curve is shorter).
// Empty when nothing is plotted or checked (`why` then holds the message).
std::string ScriptResultsText(const ScriptState& script, const DateTime& now, std::string* why = nullptr);
// Writes it to `file`. Returns 0, or -1 (reported under "Script Save or Show") when nothing is
// plotted.
int scriptresults_naar_file(const ScriptState& script, std::FILE* file, const Environment& env);

}  // namespace zoniq
