#include "common/zoniq_paths.hpp"

#include <filesystem>
#include <system_error>

#include "common/paths.hpp"
#include "common/text.hpp"

namespace zoniq {

namespace {
struct KindRow {
  int kind;
  const char* extension;  // nullptr: no extension of its own
  const char* folder;
};
constexpr KindRow kKinds[] = {
    {0, "def", "def"},       {1, "spe", "spectrum"},   {2, "abs", "absorption"}, {3, "ftr", "filter"},
    {4, "gen", "generation"}, {5, "opt", "opcapt"},    {6, "bdf", "bdf"},        {7, nullptr, "bdf"},
    {8, "act", "def"},       {9, "sbf", "bdf"},        {10, "srf", "bdf"},       {11, "script", "script"},
    {12, nullptr, "bdf"},    {13, "zoniq", "def"},     {14, "eb", "results"},    {15, nullptr, "results"},
    {16, "ac", "results"},   {17, "iv", "results"},    {18, "cv", "results"},    {19, "cf", "results"},
    {20, "qe", "results"},   {23, nullptr, "results"}, {24, nullptr, "results"}, {25, nullptr, "results"},
    {26, "grad", "grading"}, {27, nullptr, "measurements"}, {28, nullptr, "bdf"}, {29, nullptr, "scaling"},
    {30, "wp2", "def"},
};
}  // namespace

int DetermineZONIQFiletype(std::string_view fileName) {
  const std::string name = FileNamePart(fileName);
  const auto dot = name.find_last_of('.');
  if (dot == std::string::npos) return FK_UNKNOWN;
  const std::string_view ext = std::string_view(name).substr(dot + 1);
  for (const KindRow& row : kKinds)
    if (row.extension && EqualsNoCase(ext, row.extension)) return row.kind;
  return FK_UNKNOWN;
}

const char* SubFolderOfKind(int kind) {
  for (const KindRow& row : kKinds)
    if (row.kind == kind) return row.folder;
  return "results";
}

const char* DataSubFolderOfKind(int kind) {
  switch (kind) {
    case 1: return "spectrum";
    case 2: return "absorption";
    case 3: return "filter";
    case 4: return "generation";
    case 5: return "optcapt";
    case 6:
    case 7: return "bdf";
    case 26: return "grading";
    default: return nullptr;
  }
}

void CheckZONIQPaths(const std::string& programFolder, std::string* fullPath, std::string* fileName,
                     std::string_view givenName, int kind) {
  const std::string defaultFolder = JoinPath(programFolder, SubFolderOfKind(kind));
  if (fileName) *fileName = TrimRight(FileNamePart(givenName));
  if (fullPath) {
    if (HasDirectory(givenName))
      *fullPath = TrimRight(givenName);
    else
      *fullPath = TrimRight(JoinPath(defaultFolder, givenName));
  }
}

std::string ResolveInputFile(const std::string& programFolder, std::string_view givenName, int kind,
                             std::string* lookedIn) {
  std::string full;
  CheckZONIQPaths(programFolder, &full, nullptr, givenName, kind);
  if (lookedIn) *lookedIn = full;
  const std::string name = TrimRight(givenName);
  if (name.empty() || HasDirectory(name)) return full;
  std::error_code ec;
  if (std::filesystem::is_regular_file(NativePath(full), ec)) return full;
  const std::string here = "./" + name;
  if (lookedIn) *lookedIn = full + " and " + here;
  if (std::filesystem::is_regular_file(NativePath(here), ec)) return here;
  return full;
}

int MakeFullPath(const std::string& programFolder, std::string& name, int kind) {
  if (name.empty() || HasDirectory(name)) return 0;
  const char* sub = DataSubFolderOfKind(kind);
  name = sub ? JoinPath(JoinPath(programFolder, sub), name) : JoinPath(programFolder, name);
  return 0;
}

}  // namespace zoniq
