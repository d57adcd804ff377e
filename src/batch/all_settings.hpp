// The container of all settings (".zoniq"): the cell definition, the action list, the batch,
// the recorder, the curve fitting and the general settings in one file, each section between
// a begin and an end marker line. Sections are read in memory by the reader of their kind.
#pragma once

#include <string>
#include <string_view>

#include "batch/batch_run.hpp"
#include "settings/settings_files.hpp"

namespace zoniq {

// The parts of a session the container holds.
struct AllSettings {
  SessionCore& core;
  CellState& cell;
  SimulationState& sim;
  BatchState& batch;
  GeneralSettings& general;
};

// The sections in file order: the text of their markers ("problem definition file" ...).
inline constexpr const char* kContainerSections[] = {"problem definition file",     "action list file",
                                                     "batch settings file",         "recorder settings file",
                                                     "curve fitting settings file", "general ZONIQ settings file"};
inline constexpr int kContainerSectionCount = 6;

// The text of the container after its header; `savedAt` dates the definition section.
std::string AllZONIQSettingsText(const AllSettings& s, const DateTime& savedAt);

// Writes header and sections to `file` (`SaveAllZONIQSettingsInFile`). Returns 0 or -1.
int SaveAllZONIQSettingsInFile(std::FILE* file, const AllSettings& s, const HeaderInfo& header);
// To a named file (a bare name goes into the "def" folder; ".zoniq" is added when the name has
// no extension). Failures are reported. Returns 0 or -1.
int SaveAllZONIQSettingsToPath(const AllSettings& s, std::string_view name);

// The text of each section (without markers), split from a container; `present[i]` tells
// whether section i was there. Returns 0, or -1 with the reason (and the line) in `why` when a
// section lacks its end marker or a section repeats. A text without any marker is no container
// (`markers` false).
int SplitContainer(std::string_view text, std::string (&sections)[kContainerSectionCount],
                   bool (&present)[kContainerSectionCount], bool& markers, std::string& why);

// Reads a container (`SetAllZONIQSettingsFromFile`; a bare name is looked for in the "def"
// folder). Each section present is read by its reader; sections that are absent leave their
// settings as they were. A file without section markers is read as general settings. The
// container's name becomes the problem's name only when its definition section loaded.
// Returns 0, or -1 when the file cannot be read or its sections are broken (nothing loaded), or
// -2 when a section was refused by its reader (reported; the other sections are loaded).
int SetAllZONIQSettingsFromFile(const AllSettings& s, std::string_view name, std::string* fullPath = nullptr);

}  // namespace zoniq
