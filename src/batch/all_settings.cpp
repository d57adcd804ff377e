#include "batch/all_settings.hpp"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "batch/batch_file.hpp"
#include "batch/recorder.hpp"
#include "celldef/definition_file.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"

namespace zoniq {

namespace {

constexpr const char* kSaveTitle = "Error during saving all zoniq settings, in SaveAllZONIQSettings()";
constexpr const char* kReadTitle = "Error whilst reading all ZONIQ settings: SetAllZONIQSettingsFromFile()";

std::string Begin(int i) { return std::string(">> begin of ") + kContainerSections[i]; }
std::string End(int i) { return std::string(">> end of ") + kContainerSections[i]; }

// A stream over text in memory, for the readers of the sections.
struct MemoryStream {
  explicit MemoryStream(const std::string& text) : data(text.empty() ? std::string("\n") : text) {
    file = fmemopen(data.data(), data.size(), "rb");
  }
  ~MemoryStream() {
    if (file) std::fclose(file);
  }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  std::string data;
  std::FILE* file = nullptr;
};

}  // namespace

std::string AllZONIQSettingsText(const AllSettings& s, const DateTime& savedAt) {
  std::string out;
  const auto section = [&](int i, const std::string& body) {
    out += Begin(i) + "\n";
    out += body;
    if (!body.empty() && body.back() != '\n') out += "\n";
    out += End(i) + "\n\n\n";
  };
  // The definition carries the illumination side and external circuit of the working point.
  DefinitionExtras extras = s.cell.definitionExtras;
  extras.workPoint.illuminatedFromRight = s.sim.wp.illuminatedFromRight;
  extras.workPoint.RsPresent = s.sim.wp.RsPresent;
  extras.workPoint.Rs = s.sim.wp.Rs;
  extras.workPoint.GshPresent = s.sim.wp.RshPresent;
  extras.workPoint.Gsh = s.sim.wp.Gsh;
  InputParameters set1 = s.cell.parameterset1;
  parameterset2_to_1(set1, s.cell.zonnecel);
  section(0, DefinitionFileText(set1, s.cell.mottSchottky, extras, s.core.VERSION, savedAt));
  section(1, ActionListFileBody(s.sim.wp, s.sim.secondwp, s.sim.actie, s.sim.actieExtras));
  section(2, BatchSettingsText(s.batch.theBatch));
  section(3, RecordSettingsText(s.batch.theRecorder));
  section(4, "");  // curve fitting: no settings in this version
  section(5, GeneralSettingsFileBody(s.core.errors.ErrorMessageMode, s.core.ActionListMode,
                                     s.cell.parameterset1.convergence, s.general));
  return out;
}

int SaveAllZONIQSettingsInFile(std::FILE* file, const AllSettings& s, const HeaderInfo& header) {
  std::string out;
  if (!WriteCommentLinesInFile(out, *s.core.ui, header, "All ZONIQ Settings file")) return -1;
  out += AllZONIQSettingsText(s, header.savedAt);
  return std::fwrite(out.data(), 1, out.size(), file) == out.size() && std::fflush(file) == 0 ? 0 : -1;
}

int SaveAllZONIQSettingsToPath(const AllSettings& s, std::string_view name) {
  std::string n = Trim(name);
  if (FileNamePart(n).find('.') == std::string::npos) n += ".zoniq";
  std::string full;
  CheckZONIQPaths(s.core.programFolder, &full, nullptr, n, FK_ALLSETTINGS);
  FilePtr f = OpenFile(NativePath(full), "wb");
  if (!f || SaveAllZONIQSettingsInFile(f.get(), s, MakeHeaderInfo(s.core.VERSION, s.cell.problemName)) != 0) {
    s.core.Error(kSaveTitle, "Error whilst opening the selected file.\n" + full);
    return -1;
  }
  return 0;
}

int SplitContainer(std::string_view text, std::string (&sections)[kContainerSectionCount],
                   bool (&present)[kContainerSectionCount], bool& markers, std::string& why) {
  for (int i = 0; i < kContainerSectionCount; ++i) {
    sections[i].clear();
    present[i] = false;
  }
  markers = false;
  int open = -1;
  long openedAt = 0;
  long lineNumber = 0;
  for (std::string_view line : SplitLines(text)) {
    ++lineNumber;
    const std::string_view t = TrimView(line);
    int begin = -1, end = -1;
    for (int i = 0; i < kContainerSectionCount; ++i) {
      if (StartsWithNoCase(t, Begin(i))) begin = i;
      if (StartsWithNoCase(t, End(i))) end = i;
    }
    if (begin >= 0 || end >= 0) markers = true;
    if (open < 0) {
      if (begin >= 0) {
        if (present[begin]) {
          why = "The section \"" + std::string(kContainerSections[begin]) + "\" appears twice (line " +
                std::to_string(lineNumber) + ")";
          return -1;
        }
        open = begin;
        openedAt = lineNumber;
        present[begin] = true;
      } else if (end >= 0) {
        why = "An end marker without its begin marker (line " + std::to_string(lineNumber) + ")";
        return -1;
      }
      continue;  // lines outside sections are ignored
    }
    if (end == open) {
      open = -1;
      continue;
    }
    if (begin >= 0 || end >= 0) {
      why = "The section \"" + std::string(kContainerSections[open]) + "\" begun at line " + std::to_string(openedAt) +
            " has no end marker before line " + std::to_string(lineNumber);
      return -1;
    }
    // Whole lines: a long line of a graded property must not be cut.
    sections[open].append(line);
    sections[open] += '\n';
  }
  if (open >= 0) {
    why = "The section \"" + std::string(kContainerSections[open]) + "\" begun at line " + std::to_string(openedAt) +
          " has no end marker";
    return -1;
  }
  return 0;
}

int SetAllZONIQSettingsFromFile(const AllSettings& s, std::string_view name, std::string* fullPath) {
  const Environment env = s.core.env();
  std::string full;
  CheckZONIQPaths(s.core.programFolder, &full, nullptr, name, FK_ALLSETTINGS);
  if (fullPath) *fullPath = full;
  std::error_code ec;
  const std::optional<std::string> text =
      std::filesystem::is_regular_file(NativePath(full), ec) ? ReadWholeTextFile(full) : std::nullopt;
  if (!text) {
    // The settings file of the command line: reported as the general settings always were.
    env.Error("Error whilst setting the general ZONIQ settings: SetGeneralZONIQSettingsFromFile()",
              "General Settings File not found:\n" + full);
    return -1;
  }
  std::string sections[kContainerSectionCount];
  bool present[kContainerSectionCount];
  bool markers = false;
  std::string why;
  if (SplitContainer(*text, sections, present, markers, why) != 0) {
    env.Error(kReadTitle, "All ZONIQ Settings File: " + full + "\n" + why + "\nNothing was loaded");
    return -1;
  }
  if (!markers) {
    // A settings file of the general settings alone.
    MemoryStream m(*text);
    return SetGeneralZONIQSettingsFromStream(s.core, m.file, full, s.cell.parameterset1.convergence, s.general) == 0
               ? 0
               : -2;
  }
  int result = 0;
  const auto label = [&](int i) { return full + " (" + kContainerSections[i] + ")"; };
  if (present[0]) {
    InputParameters set1;
    MottSchottkySettings ms;
    DefinitionExtras extras;
    InitialiseInputParameters(set1, ms);
    MemoryStream m(sections[0]);
    if (lees_structuurstroom(env, m.file, label(0), set1, ms, extras) == 0) {
      s.cell.parameterset1 = std::move(set1);
      s.cell.mottSchottky = ms;
      s.cell.definitionExtras = std::move(extras);
      ApplyDefinitionWorkPoint(s.sim.wp, s.cell.definitionExtras.workPoint);
      parameterset1_to_2(s.cell.zonnecel, s.cell.parameterset1);
      s.cell.problemName = full;
    } else {
      result = -2;
    }
  }
  if (present[1]) {
    MemoryStream m(sections[1]);
    if (SetActionPanelFromStream(env, m.file, label(1), s.sim.wp, s.sim.secondwp, s.sim.actie, s.sim.actieExtras) != 0)
      result = -2;
  }
  if (present[2] && SetBatchFromText(env, sections[2], label(2), s.cell.zonnecel, s.batch.theBatch) != 0) result = -2;
  if (present[3] && SetRecordFromText(env, sections[3], label(3), s.batch.theRecorder) != 0) result = -2;
  if (present[4]) {
    bool content = false;
    for (std::string_view line : SplitLines(sections[4])) content = content || !IsSettingsCommentLine(line);
    if (content)
      env.Error(kReadTitle, "All ZONIQ Settings File: " + full +
                                "\nCurve fitting is not available in this version: its settings were not read");
  }
  if (present[5]) {
    MemoryStream m(sections[5]);
    if (SetGeneralZONIQSettingsFromStream(s.core, m.file, label(5), s.cell.parameterset1.convergence, s.general) != 0)
      result = -2;
  }
  return result;
}

}  // namespace zoniq
