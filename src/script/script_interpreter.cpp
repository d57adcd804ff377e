#include "script/script_interpreter.hpp"

#include <cctype>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"
#include "script/script_commands.hpp"
#include "script/script_math.hpp"
#include "script/script_values.hpp"

namespace zoniq {

namespace {

bool IsCommentCharacter(char c) { return c == '>' || c == '<' || c == '*' || c == '!' || c == '/' || c == '\\'; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

struct CommandKeyword {
  const char* keyword;
  ScriptCommand command;
};

// "rundll", "runsystem" and "runscript" come before "run", which begins each of them.
constexpr CommandKeyword kCommands[] = {
    {"load", SCRIPT_LOAD},
    {"save", SCRIPT_SAVE},
    {"set", SCRIPT_SET},
    {"get", SCRIPT_GET},
    {"action", SCRIPT_ACTION},
    {"math", SCRIPT_MATH},
    {"plot", SCRIPT_PLOT},
    {"calculate", SCRIPT_CALCULATE},
    {"loop", SCRIPT_LOOP},
    {"clear", SCRIPT_CLEAR},
    {"rundll", SCRIPT_RUNDLL},
    {"runsystem", SCRIPT_RUNSYSTEM},
    {"runscript", SCRIPT_RUNSCRIPT},
    {"run", SCRIPT_RUN},
    {"show", SCRIPT_SHOW},
};

// One run of a script file: its file, its loop and what the commands need of it.
class ScriptRun {
 public:
  ScriptRun(ScriptContext& context, std::string path, int& running)
      : ctx_(context),
        path_(std::move(path)),
        running_(running),
        fileTime_(FileModificationTime(path_).value_or(DateTime{})) {}

  // Runs the open file to its end.
  void Run(std::FILE* file);

 private:
  void Execute(const std::string& line);
  void ProcessLoopCommand(std::string_view argument, std::string_view rest, const std::string& line);
  void ProcessRunScriptCommand(std::string_view name, const std::string& line);
  void RunSystem(std::string_view argument, std::string_view rest, const std::string& line) {
    ProcessRunSystemCommand(ctx_, argument, rest, line);
  }

  ScriptContext& ctx_;
  std::string path_;
  int& running_;
  DateTime fileTime_;
  std::FILE* file_ = nullptr;
  LineReader* reader_ = nullptr;
  long loopStart_ = 0;  // file position just after the loop's start line
  long loopStartLine_ = 0;  // the number of the loop's start line
  int counter_ = 0;     // loop passes completed
};

void ScriptRun::Run(std::FILE* file) {
  file_ = file;
  std::rewind(file_);
  LineReader reader(file_, kMaxScriptLineLength);
  reader_ = &reader;
  std::string line;
  const Environment env = ctx_.env();
  // Every message names the script line it comes from; a nested script names its own.
  std::string& location = ctx_.core.errors.location;
  const std::string outerLocation = location;
  while (running_ == 1) {
    const LineReader::Status status = reader.Next(line);
    if (status != LineReader::Status::kLine) break;
    if (IsScriptCommentLine(line)) continue;
    if (ctx_.script.lineBudget == 0) {
      env.Error("Error whilst reading the script file, in RunScriptFile()",
                "The script was stopped: it ran more command lines than allowed.");
      running_ = 0;
      break;
    }
    if (ctx_.script.lineBudget > 0) --ctx_.script.lineBudget;
    location = path_ + ":" + std::to_string(reader.lineNumber());
    Execute(line);
  }
  location = outerLocation;
  reader_ = nullptr;
}

void ScriptRun::Execute(const std::string& line) {
  std::string command, argument, rest;
  const ScriptCommand which = InterpretScriptLine(line, command, argument, rest);
  const Environment env = ctx_.env();
  ScriptState& script = ctx_.script;
  switch (which) {
    case SCRIPT_LOAD:
      ProcessLoadCommand(ctx_, argument, rest, line);
      break;
    case SCRIPT_SAVE: {
      ProcessSaveCommand(ctx_, argument, rest, ScriptSaveHeader(path_, fileTime_, line), line);
      break;
    }
    case SCRIPT_SET:
      ProcessSetCommand(ctx_, argument, rest, line);
      break;
    case SCRIPT_GET:
      ProcessGetCommand(ctx_, argument, rest, line);
      break;
    case SCRIPT_ACTION:
      ProcessActionCommand(ctx_, argument, rest, line);
      break;
    case SCRIPT_MATH:
      ProcessMathCommand(argument, rest, script.theScript, line, env);
      break;
    case SCRIPT_PLOT:
      ProcessPlotCommand(script, argument, rest, line, env);
      break;
    case SCRIPT_CALCULATE:
      ProcessCalculateCommand(ctx_, argument, line);
      break;
    case SCRIPT_LOOP:
      ProcessLoopCommand(argument, rest, line);
      break;
    case SCRIPT_CLEAR:
      ProcessClearScriptCommand(ctx_, argument, rest, line);
      break;
    case SCRIPT_RUNDLL:
      ProcessRunDLLCommand(ctx_, line);
      break;
    case SCRIPT_RUNSYSTEM:
      RunSystem(argument, rest, line);
      break;
    case SCRIPT_RUNSCRIPT:
      ProcessRunScriptCommand(Trim(argument + " " + rest), line);
      break;
    case SCRIPT_RUN:
      if (StartsWithNoCase(argument, "script")) {
        ProcessRunScriptCommand(rest, line);
      } else if (StartsWithNoCase(argument, "system")) {
        RunSystem(rest, "", line);
      } else if (StartsWithNoCase(argument, "dll")) {
        ProcessRunDLLCommand(ctx_, line);
      } else {
        env.Error("Error whilst processing run command in script",
                  "Script command: " + line + "\nArgument of run not recognised (script, system or dll)");
      }
      break;
    case SCRIPT_SHOW: {
      std::ostream& out = script.scriptShowOutput ? *script.scriptShowOutput : std::cout;
      ShowScriptVariables(script.theScript, out);
      out.flush();
      break;
    }
    case SCRIPT_NONE: {
      std::vector<std::string> keywords;
      for (const CommandKeyword& k : kCommands) keywords.emplace_back(k.keyword);
      const std::vector<std::string> near = NearestWords(command, keywords);
      env.Error("Error whilst reading the script file, in RunScriptFile()",
                "Command line not recoognised\n" + line +
                    (near.empty() ? std::string() : "\nDid you mean " + JoinAlternatives(near) + "?"));
    } break;
  }
}

void ScriptRun::ProcessLoopCommand(std::string_view argument, std::string_view rest, const std::string& line) {
  ScriptVariables& s = ctx_.script.theScript;
  const Environment env = ctx_.env();
  if (StartsWithNoCase(argument, "start")) {
    counter_ = 0;
    s.loopcounter = 0;
    loopStart_ = std::ftell(file_);
    loopStartLine_ = reader_ ? reader_->lineNumber() : 0;
  } else if (StartsWithNoCase(argument, "stop")) {
    if (counter_ < s.maxiteration - 1 && std::fabs(s.looperror) > s.maxerror) {
      ++counter_;
      s.loopcounter = counter_;
      if (loopStart_ >= 0 && std::fseek(file_, loopStart_, SEEK_SET) == 0 && reader_)
        reader_->setLineNumber(loopStartLine_);
    }
  } else if (StartsWithNoCase(argument, "maxiteration")) {
    const std::optional<double> v = ScriptValueToNumerical(rest, s, line, env);
    if (!v) return;
    const std::optional<int> k = TruncateToInt(*v);
    if (!k) {
      env.Error("Error in Set loop command", "Argument of loop command not recognised\nCommand line = " + line);
      return;
    }
    s.maxiteration = *k;
  } else if (StartsWithNoCase(argument, "maxerror")) {
    const std::optional<double> v = ScriptValueToNumerical(rest, s, line, env);
    if (v) s.maxerror = *v;
  } else {
    env.Error("Error in Set loop command", "Argument of loop command not recognised\nCommand line = " + line);
  }
}

void ScriptRun::ProcessRunScriptCommand(std::string_view name, const std::string& line) {
  ScriptVariables& s = ctx_.script.theScript;
  const Environment env = ctx_.env();
  // The inner script has its own loop; the outer loop's fields come back afterwards.
  const int maxiteration = s.maxiteration;
  const double looperror = s.looperror;
  const double maxerror = s.maxerror;
  std::string full;
  const int result = RunScriptFile(ctx_, name, running_, &full);
  s.maxiteration = maxiteration;
  s.looperror = looperror;
  s.maxerror = maxerror;
  s.loopcounter = counter_;
  TurnOnScriptMessage(*ctx_.core.ui, path_);
  if (result < 0 && ctx_.script.scriptDepth < kMaxScriptDepth)
    env.Error("Error whilst processing runscript command in script",
              "Script command: " + line + "\nThe script file cannot be opened: " + full);
}

}  // namespace

bool IsScriptCommentLine(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && IsSpace(line[i])) ++i;
  return i == line.size() || IsCommentCharacter(line[i]);
}

std::string CutEndOfLineComment(std::string_view text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c != text[i + 1]) continue;
    // A parent folder ("..") and closing brackets of nested indices are no comments.
    if (c == ']' || c == ')' || c == '.') continue;
    if (std::ispunct(static_cast<unsigned char>(c))) return TrimRight(text.substr(0, i));
  }
  return TrimRight(text);
}

ScriptCommand InterpretScriptLine(std::string_view line, std::string& command, std::string& argument,
                                  std::string& rest) {
  std::string text(line);
  ReadFirstWord(text, &command);
  ReadFirstWord(text, &argument);
  rest = text;
  // A comment that starts in the argument takes the rest with it.
  const std::string cutArgument = CutEndOfLineComment(argument);
  if (cutArgument.size() < argument.size()) {
    argument = cutArgument;
    rest.clear();
  } else {
    rest = CutEndOfLineComment(rest);
  }
  for (const CommandKeyword& k : kCommands)
    if (StartsWithNoCase(command, k.keyword)) return k.command;
  return SCRIPT_NONE;
}

int ExecuteScript(ScriptContext& context, std::string_view loadedScriptFile, int& running) {
  std::string full;
  CheckZONIQPaths(context.core.programFolder, &full, nullptr, loadedScriptFile, FK_SCRIPT);
  std::error_code ec;
  if (loadedScriptFile.empty() || !std::filesystem::is_regular_file(NativePath(full), ec)) {
    context.env().Popup("Invalid Script File", "No valid script file is loaded");
    return -1;
  }
  running = 1;
  return RunScriptFile(context, loadedScriptFile, running);
}

std::string ScriptStatusText(std::string_view fileName) { return "Executing a script\nfile: " + std::string(fileName); }

void TurnOnScriptMessage(UserInterface& ui, std::string_view fileName) { ui.StatusMessage(ScriptStatusText(fileName)); }

void TurnOffScriptMessage(UserInterface& ui) { ui.StatusMessage(""); }

int RunScriptFile(ScriptContext& context, std::string_view fileName, int& running, std::string* fullPath) {
  ErrorReporting& errors = context.core.errors;
  const int errorMode = errors.ErrorMessageMode;
  const std::string full = ResolveInputFile(context.core.programFolder, fileName, FK_SCRIPT);
  if (fullPath) *fullPath = full;
  if (context.script.scriptDepth >= kMaxScriptDepth) {
    context.env().Error("Error whilst reading the script file, in RunScriptFile()",
                        "Scripts are nested more than " + std::to_string(kMaxScriptDepth) + " deep; the script '" +
                            full + "' is not run.");
    return -1;
  }
  std::error_code ec;
  const std::string native = NativePath(full);
  if (!std::filesystem::is_regular_file(native, ec)) return -1;
  FilePtr file = OpenFile(native, "rb");
  if (!file) return -1;

  ++context.script.scriptDepth;
  TurnOnScriptMessage(*context.core.ui, full);
  ScriptRun(context, full, running).Run(file.get());
  --context.script.scriptDepth;
  errors.ErrorMessageMode = errorMode;
  if (context.script.scriptDepth == 0) TurnOffScriptMessage(*context.core.ui);
  return 0;
}

}  // namespace zoniq
