// The batch settings file (".sbf"): one item per line, "key : value", each parameter's block
// opened by "Batch parameter i :"; and the list files (".bdf") of values, file names or
// definition files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_setup.hpp"
#include "settings/settings_files.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

inline constexpr const char* kBatchReadTitle = "Error whilst reading batch settings from sbf file";

// The body of the settings file (everything after the common header).
std::string BatchSettingsText(const BatchSetup& batch);

// Writes header (when `withHeader`) and body to an open file. Returns 0, or -1 when the user
// cancelled the header or the file could not be written.
int SaveBatchSettingsInFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header, const BatchSetup& batch,
                            bool withHeader);
// The same to a named file (a bare name goes to the "bdf" folder; reported failures).
int SaveBatchSettingsToPath(const Environment& env, std::string_view name, const HeaderInfo& header,
                            const BatchSetup& batch);

// Parses the text of a settings file into `out` (a fresh record). `fileName` names the file in
// messages. Lists are taken as written; list files are not opened. Returns 0, or -1 (reported,
// with the line) when the text is not a batch the program can take.
int ParseBatchSettings(const Environment& env, std::string_view text, const std::string& fileName, BatchSetup& out);

// Reads a settings file (a bare name is looked for in the "bdf" folder), reads the list files
// it names, leaves out definition files that do not exist, and checks every parameter against
// the cell (and against every definition file of the batch): parameters that name nothing
// there are discarded with a message. `theBatch` is replaced only when the file was read.
// Returns 0, or -1 (reported).
int SetBatchFromFile(const Environment& env, std::string_view name, const CellDefinition& cell, BatchSetup& theBatch,
                     std::string* fullPath = nullptr);

// Same, from text already in memory (the batch section of the container of all settings).
int SetBatchFromText(const Environment& env, std::string_view text, const std::string& fileName,
                     const CellDefinition& cell, BatchSetup& theBatch);

// A list file: values (a line counts when it begins with a number) or file names (lines
// "file:" name). At most kMaxBatchListEntries are read; more are reported. Returns the number
// of entries, or -1 (reported under `title`).
int ReadBDFValues(const Environment& env, const std::string& path, std::vector<double>& values);
int ReadBDFFileNames(const Environment& env, const std::string& path, const char* title,
                     std::vector<std::string>& names);

// Text helpers of the settings readers: the whole file (nothing when it cannot be read), its
// lines (LF or CR LF), and comment lines (empty, or beginning with > < * ! / \).
std::optional<std::string> ReadWholeTextFile(const std::string& path);
std::vector<std::string_view> SplitLines(std::string_view text);
bool IsSettingsCommentLine(std::string_view line);

// The cell of a definition file of the batch, read into fresh records. Returns 0, or -1
// (reported by the reader).
int ReadBatchDefinitionFile(const Environment& env, const std::string& name, CellState& cell);

}  // namespace zoniq
