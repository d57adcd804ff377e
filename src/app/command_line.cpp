#include "app/command_line.hpp"

#include <filesystem>
#include <system_error>

#include "app/load_files.hpp"
#include "app/session.hpp"
#include "batch/all_settings.hpp"
#include "batch/batch_file.hpp"
#include "settings/settings_files.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"
#include "settings/settings_files.hpp"

namespace zoniq {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

int ExtractFilename(std::string& line, std::string& name) {
  name.clear();
  std::size_t dot = line.find('.');
  while (dot != std::string::npos) {
    // This dot ends the name when the text after it reaches a blank (or the end) before the
    // next dot; otherwise it belongs to the name ("a.b.def"). A folder separator after it
    // shows that it belongs to a folder name ("/data/v1.2/my cell.def").
    const std::size_t next = line.find_first_of(". \t/\\", dot + 1);
    if (next == std::string::npos || IsBlank(line[next])) break;
    dot = line.find('.', dot + 1);
  }
  if (dot == std::string::npos) {
    line.clear();
    return -1;
  }
  name = line.substr(0, dot);
  line.erase(0, dot + 1);
  for (char c : name)
    if (!IsBlank(c)) return 1;
  return 0;
}

int ExtractExtensionname(std::string& line, std::string& extension) {
  extension.clear();
  if (line.empty()) return -1;
  if (IsBlank(line.front())) return 0;
  std::size_t end = 0;
  while (end < line.size() && IsLetterOrDigit(line[end])) ++end;
  extension = line.substr(0, end);
  while (end < line.size() && IsBlank(line[end])) ++end;
  line.erase(0, end);
  return 1;
}

int AttributeFile(std::string_view name, std::string_view extension, StartupFiles& slots) {
  struct Choice {
    const char* shortExt;
    const char* longExt;
    std::string StartupFiles::*slot;
    int number;
  };
  static const Choice kChoices[] = {
      {"def", "definition", &StartupFiles::definition, SLOT_DEFINITION},
      {"act", "action", &StartupFiles::action, SLOT_ACTION},
      {"zon", "zoniq", &StartupFiles::settings, SLOT_SETTINGS_OR_WP},
      {"sbf", "batch", &StartupFiles::batch, SLOT_BATCH},
      {"gen", "generation", &StartupFiles::generation, SLOT_GENERATION},
      {"scr", "script", &StartupFiles::script, SLOT_SCRIPT},
      {"srf", "record", &StartupFiles::record, SLOT_RECORD},
      {"wp2", nullptr, &StartupFiles::workingPoint, SLOT_SETTINGS_OR_WP},
      {"spe", "spectrum", &StartupFiles::spectrum, SLOT_SPECTRUM},
  };
  for (const Choice& c : kChoices) {
    if (!EqualsNoCase(extension, c.shortExt) && !(c.longExt && EqualsNoCase(extension, c.longExt))) continue;
    if (name.size() + 1 + extension.size() > kMaxStartupPathLength) return SLOT_TOO_LONG;
    std::string full(name);
    full += '.';
    full += extension;
    slots.*(c.slot) = std::move(full);
    return c.number;
  }
  return SLOT_NONE;
}

bool JoinCommandLine(const std::vector<std::string>& words, std::string& line, std::size_t& firstDropped) {
  line.clear();
  firstDropped = words.size();
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (line.size() + words[i].size() + 1 > kMaxCommandLineLength) {
      firstDropped = i;
      return false;
    }
    line += words[i];
    line += ' ';
  }
  return true;
}

ParsedCommandLine ParseCommandLine(std::string line) {
  ParsedCommandLine parsed;
  std::string name, extension;
  // Each round removes at least the dot of a name (or empties the line), so this ends.
  for (;;) {
    const std::string before = line;
    const int nameResult = ExtractFilename(line, name);
    if (nameResult == -1) {
      // Words without any extension ("CIGS") name no file of a kind the program reads.
      if (!Trim(before).empty()) parsed.unknown.push_back(Trim(before));
      break;
    }
    const int extensionResult = ExtractExtensionname(line, extension);
    if (extensionResult == -1) {
      parsed.unknown.push_back(Trim(name) + ".");
      break;
    }
    if (nameResult != 1 || extensionResult != 1) continue;  // blank names are skipped
    const int slot = AttributeFile(name, extension, parsed.files);
    if (slot == SLOT_TOO_LONG) parsed.tooLong.push_back(name + "." + extension);
    if (slot == SLOT_NONE) parsed.unknown.push_back(name + "." + extension);
  }
  return parsed;
}

namespace {

// A kind of file whose reader is not part of this program yet: say so, and count it.
void ReportNotAvailable(Session& session, const std::string& given, int kind, const char* what,
                        CommandLineOutcome& outcome) {
  std::string full;
  CheckZONIQPaths(session.programFolder, &full, nullptr, given, kind);
  session.Error(std::string("Error whilst reading the ") + what + " file",
                std::string("Loading ") + what + " files is not available yet in this version of ZONIQ; '" + full +
                    "' was not loaded.");
  outcome.notLoaded.push_back(full);
}

}  // namespace

CommandLineOutcome ProcessCommandLine(Session& session, const std::vector<std::string>& words) {
  CommandLineOutcome outcome;
  std::string line;
  std::size_t firstDropped = 0;
  if (!JoinCommandLine(words, line, firstDropped)) {
    // Loading a name cut short could load another file than the one meant; the words that
    // do not fit are left out whole and the run ends with a failure status.
    session.Error("Error whilst reading the command line",
                  "The command line is longer than " + std::to_string(kMaxCommandLineLength) +
                      " characters; the words from '" + words[firstDropped] + "' on are ignored.");
    outcome.notLoaded.push_back(words[firstDropped]);
  }
  const ParsedCommandLine parsed = ParseCommandLine(line);
  for (const std::string& name : parsed.tooLong) {
    session.Error("Error whilst reading the command line", "The file name '" + name + "' is longer than " +
                                                               std::to_string(kMaxStartupPathLength) +
                                                               " characters and is ignored.");
    outcome.notLoaded.push_back(name);
  }

  for (const std::string& word : parsed.unknown) {
    // A mistyped extension ("CIGS.deff") would otherwise run an empty cell without a word.
    session.Error("Error whilst reading the command line",
                  "'" + word +
                      "' is not a file of a kind zoniq reads: the extension must be one of .def, .act, .wp2, "
                      ".zon, .spe, .gen, .sbf, .srf or .script (see zoniq --help).");
    outcome.notLoaded.push_back(word);
  }

  // Bare names are looked for in the sub-folder of their kind, then in the current folder.
  StartupFiles f = parsed.files;
  auto resolve = [&](std::string& slot, int kind) {
    if (slot.empty()) return;
    std::string lookedIn;
    const std::string found = ResolveInputFile(session.programFolder, slot, kind, &lookedIn);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(NativePath(found), ec)) {
      // The loader reports the file; the run's account adds where else it was looked for.
      outcome.lookedIn.push_back("'" + slot + "' looked for in " + lookedIn);
      return;
    }
    if (found != JoinPath(JoinPath(session.programFolder, SubFolderOfKind(kind)), slot)) slot = found;
  };
  resolve(f.definition, FK_DEF);
  resolve(f.action, FK_ACTION);
  resolve(f.workingPoint, FK_WP2);
  resolve(f.settings, FK_ALLSETTINGS);
  resolve(f.spectrum, FK_SPECTRUM);
  resolve(f.batch, FK_BATCH);
  resolve(f.record, FK_RECORD);
  resolve(f.script, FK_SCRIPT);
  const StartupFiles& named = parsed.files;
  for (const std::string* slot : {&named.definition, &named.action, &named.workingPoint, &named.settings,
                                  &named.spectrum, &named.generation, &named.batch, &named.record, &named.script})
    if (!slot->empty()) ++outcome.filesNamed;

  std::string full;
  if (!f.definition.empty() && Laad_data_uit_file(session, f.definition, &full) < 0) outcome.notLoaded.push_back(full);
  if (!f.action.empty() && SetActionPanelFromFile(session.env(), f.action, session.wp, session.secondwp, session.actie,
                                                  session.actieExtras, &full) < 0)
    outcome.notLoaded.push_back(full);
  if (!f.workingPoint.empty() && SetWP2FromFile(session.env(), f.workingPoint, session.secondwp, &full) < 0)
    outcome.notLoaded.push_back(full);
  // The file of all settings; one without section markers holds the general settings alone.
  if (!f.settings.empty() &&
      SetAllZONIQSettingsFromFile(AllSettings{session, session, session, session, session}, f.settings, &full) < 0)
    outcome.notLoaded.push_back(full);
  if (!f.spectrum.empty() && LoadSpectrumFile(session, f.spectrum, &full) < 0) outcome.notLoaded.push_back(full);
  if (!f.generation.empty()) ReportNotAvailable(session, f.generation, FK_GENERATION, "generation", outcome);
  if (!f.batch.empty() && SetBatchFromFile(session.env(), f.batch, session.zonnecel, session.theBatch, &full) < 0)
    outcome.notLoaded.push_back(full);
  if (!f.record.empty() && SetRecordFromFile(session.env(), f.record, session.theRecorder, &full) < 0)
    outcome.notLoaded.push_back(full);
  if (!f.script.empty() && !outcome.notLoaded.empty()) {
    // A script run on a cell or settings other than those named would give results that
    // belong to no file the user named.
    session.Error(
        "Error whilst reading the script file",
        "The script '" + f.script + "' is not run, since a file named on the command line could not be loaded.");
    outcome.notLoaded.push_back(f.script);
  } else if (!f.script.empty() && LoadScriptFile(session, f.script, &full, &outcome.scriptMessages) < 0) {
    outcome.notLoaded.push_back(full);
  }
  return outcome;
}

}  // namespace zoniq
