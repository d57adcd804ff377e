// The command line: file names are taken off the joined argument words one at a time. A
// name ends at the dot of its extension, not at a blank, so names may contain blanks and
// further dots ("my cell.def", "a.b.def").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zoniq {

struct Session;

inline constexpr std::size_t kMaxCommandLineLength = 1300;  // the joined argument words
inline constexpr std::size_t kMaxStartupPathLength = 259;   // one file of a start-up slot

// The files a command line names, one per kind; empty when not named. A later file of a
// kind replaces an earlier one.
struct StartupFiles {
  std::string definition;
  std::string action;
  std::string workingPoint;
  std::string settings;
  std::string spectrum;
  std::string generation;
  std::string batch;
  std::string record;
  std::string script;

  bool operator==(const StartupFiles&) const = default;
};

// Slot numbers returned by AttributeFile. The settings file and the initial working point
// share a number.
enum StartupSlot {
  SLOT_NONE = 0,
  SLOT_DEFINITION = 1,
  SLOT_ACTION = 2,
  SLOT_BATCH = 3,
  SLOT_GENERATION = 4,
  SLOT_SCRIPT = 5,
  SLOT_RECORD = 6,
  SLOT_SETTINGS_OR_WP = 7,
  SLOT_SPECTRUM = 8,
  SLOT_TOO_LONG = -1  // the extension selects a slot but the name does not fit in it
};

// Takes the next file name (the text before its extension dot) off the front of `line`. A dot
// is the extension dot when the text after it reaches a blank or the end before another dot
// or a folder separator. 1: a name was found; 0: the name is blank (only blanks); -1: no dot
// remains (`line` is then emptied).
int ExtractFilename(std::string& line, std::string& name);

// Takes the extension (a run of letters and digits) off the front of `line`, then the
// blanks after it. 1: found; 0: `line` starts with a blank; -1: `line` is empty.
int ExtractExtensionname(std::string& line, std::string& extension);

// Stores name + "." + extension in the slot its extension selects (ignoring case) and
// returns the slot number; 0 for an extension of no slot (nothing stored).
int AttributeFile(std::string_view name, std::string_view extension, StartupFiles& slots);

// The argument words after the program name, each followed by one blank. Returns false when
// they do not fit in kMaxCommandLineLength: `line` then holds the words that fit whole and
// `firstDropped` the index (into `words`) of the first word left out.
bool JoinCommandLine(const std::vector<std::string>& words, std::string& line, std::size_t& firstDropped);

// The start-up files of a joined command line.
struct ParsedCommandLine {
  StartupFiles files;
  std::vector<std::string> tooLong;  // names that did not fit in their slot
  std::vector<std::string> unknown;  // words of no kind: an unknown extension, or none at all
};
ParsedCommandLine ParseCommandLine(std::string line);

// What loading the command line's files came to.
struct CommandLineOutcome {
  int filesNamed = 0;                  // slots that were filled
  std::vector<std::string> notLoaded;  // files (and unusable words) that could not be loaded
  int scriptMessages = 0;              // messages the command-line script reported
  std::vector<std::string> lookedIn;   // for files found nowhere: the places searched
};

// Reads the command line (the words after the program name) and loads what it names, in the
// fixed order definition, action, working point, settings, spectrum, generation, batch,
// record, script. Failures are reported through the error routine; loading goes on with the
// next slot.
CommandLineOutcome ProcessCommandLine(Session& session, const std::vector<std::string>& words);

}  // namespace zoniq
