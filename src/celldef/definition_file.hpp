// The definition file (".def"): one cell in SI units (parameter set 1) together with the
// numerical settings, the Mott-Schottky settings, a few illumination and external-circuit
// items and the user's remarks, as keyword lines grouped in sections.
//
// Writing follows a fixed layout byte for byte; reading takes that layout and the older forms
// of earlier program versions, rejects what it cannot take with a message that names the line,
// and leaves the caller's records untouched unless the whole file was read.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "celldef/cell_definition.hpp"
#include "common/format.hpp"
#include "common/text.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

struct ShortCellDefinition;
struct ShortProfile;

// Longest line the reader takes; the rest of a longer line is dropped.
inline constexpr std::size_t kDefLineLength = 255;
// Magnitude above which a number in a definition file is taken as out of range. It leaves
// room for the unit conversions between the parameter sets (factors up to 1e12), so that a
// cell that was read can always be converted, saved and read again.
inline constexpr double kDefMaxMagnitude = 1e250;
// Magnitude above which a number of an item written in fixed notation (energies, permittivity,
// composition, wavelengths, masses, reflectance) is out of range: beyond it the fixed layout
// would no longer fit a line of the file.
inline constexpr double kDefMaxFixedMagnitude = 1e6;

inline constexpr const char* kDefOpenErrorTitle = "Error occured during opening the def-file !";
inline constexpr const char* kDefBareOpenErrorTitle = "Error whilst opening the def-file !";
inline constexpr const char* kDefReadErrorTitle = "Error whilst reading the def file (in ReadNonEmptyNonCommentLine()";
inline constexpr const char* kDefRejectTitle = "Error whilst reading the def file";
inline constexpr const char* kDefSaveErrorTitle = "Error whilst saving the def file";

// ---- line routines ----

// Reads the next line that is not a comment. A comment line (first character one of
// > < * ! / \) goes, without that character and one blank after it, into `remarks` unless
// `quiet` is set or `remarks` is null. Returns the length of the line, -2 at the end of the
// file, -1 on a read error.
int ReadNonCommentLine(LineReader& reader, std::string& line, std::vector<std::string>* remarks, bool quiet);

// The same, also skipping lines made only of white space. With `reportReadErrors` a read error
// is reported through the error routine; with `reportEndOfFile` so is the end of the file.
int ReadNonEmptyNonCommentLine(const Environment& env, LineReader& reader, std::string& line,
                               std::vector<std::string>* remarks, bool quiet, bool reportReadErrors,
                               bool reportEndOfFile);

// The layout of one number: scientific (sci) or fixed (fix) notation, width and decimals.
struct NumberLayout {
  bool scientific = true;
  int width = 0;
  int precision = 6;
};
std::string FormatNumber(double value, NumberLayout layout);

// Each of the values in the layout, followed by a tab.
std::string PrintNumbers(const double* values, int count, NumberLayout layout);

// A graded property line: name " :" tab, p0..p6 each with a tab, law int(2) tab, dependence
// int(2) tab, unit, line break; for law 12 the line "Grading file: " and the file's name
// without its folder follows.
std::string ProfileToOutputLine(std::string_view name, const Profile& profile, NumberLayout layout,
                                std::string_view unit);

// Reads the numbers of a graded property line from `valueStart` (up to 9, stopping at the unit
// text in brackets) into `profile`: 1 to 6 numbers give a uniform property, 7 the older layout
// with the law last, 8 p0..p6 and the law, 9 also the dependence. The scale flags follow from
// the law; the grading file name and the in-memory table are left alone. Returns 0, or -1
// with the reason in `problem` (no number, a non-finite or out-of-range number, a law outside
// 0..12, a dependence outside 0..2); `profile` is then unchanged.
int InputLineToProfile(std::string_view line, std::size_t valueStart, Profile& profile, std::string* problem = nullptr,
                       double maxMagnitude = kDefMaxMagnitude);
// Only the law and the dependence of such a line, by the same rules.
int InputLineToShortProfile(std::string_view line, std::size_t valueStart, ShortProfile& profile);

// The optical capture lines of one carrier ("electrons" or "holes") of a defect with
// `numberOfLevels` levels; empty when no level of the defect has optical capture data for it.
std::string PrintOptCapt(std::string_view carrier, const std::array<BulkRecombinationParameters, MAXLEVELS>& levels,
                         int numberOfLevels);

// Copies the first `length` characters of `text` without their blanks (spaces and tabs) into
// `result`; `count` receives the number of characters kept.
void verwijder_blancos(std::string_view text, std::size_t length, std::string& result, int& count);

// ---- reading ----

// Reads a definition file into `target` (cell, convergence settings), `ms` and `extras`
// (remarks, mesh, QE-light and working-point items; extras.mottSchottky mirrors `ms`).
// Everything the file does not hold takes its default. Returns 0; on failure a negative value
// (-1 open or read error or rejected content, -2 empty or incomplete file) and the three
// records are exactly as they were.
int lees_structuurfile(const Environment& env, const std::string& path, InputParameters& target,
                       MottSchottkySettings& ms, DefinitionExtras& extras);
// The same from an open stream (a section of the container of all settings); `name` names it
// in messages.
int lees_structuurstroom(const Environment& env, std::FILE* file, const std::string& name, InputParameters& target,
                         MottSchottkySettings& ms, DefinitionExtras& extras);

// Reads the cell of a definition file (SI units, as parameter set 1 holds it) without remarks
// or working point and without loading it into the program. Returns 0, or a negative value
// with `cell` unchanged.
int ReadCeldefVariableFromDefFile(const Environment& env, const std::string& path, CellDefinition& cell);
// The same, straight into a short cell definition.
int ReadShortCeldefVariableFromDefFile(const Environment& env, const std::string& path, ShortCellDefinition& shortDef);

// ---- writing ----

// Converts `zonnecel` (practical units) into `parameterset1` and writes the whole file to
// `file`. `version` is the version banner of the header; `defFileName` names the file in the
// warnings shown for filter and absorption files missing from the program's "filter" and
// "absorption" sub-folders (the file is written all the same). Returns 0, or -1 when the
// file could not be written.
int SaveDefinitionFile(const Environment& env, std::FILE* file, const CellDefinition& zonnecel,
                       InputParameters& parameterset1, const MottSchottkySettings& ms, const DefinitionExtras& extras,
                       const std::string& version, const std::string& defFileName, const DateTime& savedAt);

// The same into the file at `path` (created or replaced); the warnings name the file part of
// `path`. An unwritable path is reported through the error routine.
int SaveDefinitionFileToPath(const Environment& env, const std::string& path, const CellDefinition& zonnecel,
                             InputParameters& parameterset1, const MottSchottkySettings& ms,
                             const DefinitionExtras& extras, const std::string& version, const DateTime& savedAt);

// The text of a definition file for a cell already in SI units (no conversion, no warnings).
std::string DefinitionFileText(const InputParameters& set1, const MottSchottkySettings& ms,
                               const DefinitionExtras& extras, const std::string& version, const DateTime& savedAt);

// The warnings that saving `cell` (SI units) would show, as (title, message) pairs.
std::vector<std::pair<std::string, std::string>> DefinitionFileWarnings(const std::string& programFolder,
                                                                        const CellDefinition& cell,
                                                                        const std::string& defFileName);

}  // namespace zoniq
