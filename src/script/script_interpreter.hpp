// The script interpreter: a script is a text file of command lines (command word, argument
// word, value part) that drives the program without a user. Lines hold at most 119
// characters; a line beginning with > < * ! / or \ is a comment, and a doubled punctuation
// character starts a comment at the end of a line. One loop level ("loop start" … "loop
// stop") and nested scripts ("runscript") exist.
//
// Scripts are trusted like shell scripts: "runsystem" runs operating-system commands and
// "rundll" calls code from a shared library.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "batch/batch_run.hpp"
#include "celldef/cell_state.hpp"
#include "measure/simulation_state.hpp"
#include "measurements/measurement_lists.hpp"
#include "script/script_state.hpp"
#include "ui/session_core.hpp"

namespace zoniq {

struct FitState;

// Script lines longer than this are cut.
inline constexpr std::size_t kMaxScriptLineLength = 119;
// Scripts running scripts: a script that runs itself stops at this depth.
inline constexpr int kMaxScriptDepth = 16;

// What the higher layers of the program do for a script.
struct ScriptHooks {
  // Loads a definition file into the cell (name as given; a bare name is looked for in the
  // "def" folder). Returns 0, or negative when it could not be loaded (reported).
  std::function<int(std::string_view fileName)> loadDefinition;
  // The batch and the batch with recording; empty: not available.
  std::function<int()> runBatch;
  std::function<int()> runBatchRecording;
  // The curve fit of the session's fitter; empty: not available.
  std::function<int()> runFit;
};

// The parts of a session a script works on.
struct ScriptContext {
  SessionCore& core;  // messages, error-message mode, program folder, version, quit and list modes
  CellState& cell;
  SimulationState& sim;
  ScriptState& script;
  ScriptHooks hooks;
  BatchState* batch = nullptr;         // the batch and the recorder; null: not available
  GeneralSettings* general = nullptr;  // for the file of all settings; null: not available
  MeasurementState* measurements = nullptr;  // the measured curves; null: not available
  FitState* fit = nullptr;                   // the curve fitter; null: not available

  Environment env() const { return core.env(); }
};

// The commands in the order in which the first word of a line is matched against them.
enum ScriptCommand {
  SCRIPT_NONE = -1,
  SCRIPT_LOAD,
  SCRIPT_SAVE,
  SCRIPT_SET,
  SCRIPT_GET,
  SCRIPT_ACTION,
  SCRIPT_MATH,
  SCRIPT_PLOT,
  SCRIPT_CALCULATE,
  SCRIPT_LOOP,
  SCRIPT_CLEAR,
  SCRIPT_RUNDLL,
  SCRIPT_RUNSYSTEM,
  SCRIPT_RUNSCRIPT,
  SCRIPT_RUN,
  SCRIPT_SHOW
};

// Splits a line into command word, argument word and the rest, and identifies the command by
// the first keyword the command word begins with (ignoring case). End-of-line comments are
// removed from argument and rest.
ScriptCommand InterpretScriptLine(std::string_view line, std::string& command, std::string& argument,
                                  std::string& rest);

// True for lines that are skipped: empty, white space only, or a comment line.
bool IsScriptCommentLine(std::string_view line);

// Cuts an end-of-line comment (the first doubled punctuation character other than "]]", "))"
// and "..") and the blanks before it.
std::string CutEndOfLineComment(std::string_view text);

// Runs a script file (a bare name is looked for in the "script" folder) while `running` is 1.
// The error-message mode in force at the start is restored at the end. Returns 0 when the
// script ran, -1 when the file could not be opened or scripts are nested too deeply.
// `fullPath` (may be null) receives the resolved file name.
int RunScriptFile(ScriptContext& context, std::string_view fileName, int& running, std::string* fullPath = nullptr);

// The run button of a script panel: runs the loaded script file with the flag set to 1, or,
// when no readable script file is loaded, shows "No valid script file is loaded" under
// "Invalid Script File". Returns as RunScriptFile.
int ExecuteScript(ScriptContext& context, std::string_view loadedScriptFile, int& running);

// The status text shown while a script runs, and showing and clearing it.
std::string ScriptStatusText(std::string_view fileName);
void TurnOnScriptMessage(UserInterface& ui, std::string_view fileName);
void TurnOffScriptMessage(UserInterface& ui);

}  // namespace zoniq
