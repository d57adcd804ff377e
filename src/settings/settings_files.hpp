// The small settings files besides the definition file: the action list (".act": both working
// points and the ranges of the I-V, C-V, C-f and QE sweeps), the second working point alone
// (".wp2") and the general settings (error handling, result lists after a convergence error,
// recording limits, discretisation of distributed defects). Each begins with the same comment
// header and holds keyword lines "keyword : value unit".
//
// Readers resolve a bare name in the folder of its kind, parse into copies of the records and
// replace the records only when the whole file was taken; a line whose keyword is known but
// whose value cannot be used rejects the file with a message naming the line.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "celldef/cell_definition.hpp"
#include "celldef/work_point.hpp"
#include "common/format.hpp"
#include "measure/iv_sweep.hpp"
#include "measure/measurement_actions.hpp"
#include "ui/error_message.hpp"
#include "ui/session_core.hpp"

namespace zoniq {

// A sweep has at least 2 and at most as many points as a calculation takes.
inline constexpr int kMinSweepPoints = 2;
inline constexpr int kMaxSweepPoints = MAX_NUM_CALCULATION_STEPS;

// The spectrum that replaces a missing one; shipped in the program's "spectrum" folder.
inline constexpr const char* kStandardSpectrumName = "AM1_5G 1 sun.spe";

// Longest line the readers take (a file name of 260 characters with its keyword fits easily).
inline constexpr std::size_t kSettingsLineLength = 1023;

// Titles of the files' headers.
inline constexpr const char* kActionListTitle = "Action List file";
inline constexpr const char* kSecondWorkPointTitle = "Second work point settings file";
inline constexpr const char* kGeneralSettingsTitle = "General ZONIQ Settings file";

// Titles of the readers' messages.
inline constexpr const char* kActionFileMissingTitle = "Error whilst reading action file from command line";
inline constexpr const char* kActionFileErrorTitle = "Error whilst reading the action file";
inline constexpr const char* kWP2FileErrorTitle = "Error whilst reading the second work point file";
inline constexpr const char* kGeneralSettingsErrorTitle =
    "Error whilst setting the general ZONIQ settings: SetGeneralZONIQSettingsFromFile()";
inline constexpr const char* kSettingsSaveErrorTitle = "Error whilst saving a ZONIQ settings file";
inline constexpr const char* kPointsWarningTitle = "Warning !";

// What the general settings file holds besides the error-message mode, the result-list mode
// (`SessionCore`) and the defect discretisation (`ConvergenceParameters`): the limits used when
// solar-cell characteristics are recorded over a batch.
struct GeneralSettings {
  double recordingMaxVoltage = 2.0;        // highest voltage of a recorded characteristic [V]
  double recordingMinVoltageStep = 0.001;  // smallest voltage step of a recorded characteristic [V]

  bool operator==(const GeneralSettings&) const = default;
};

// ---- the common header ----

struct HeaderInfo {
  std::string version;      // the version banner
  std::string problemName;  // the loaded definition file; empty or "new problem" when none
  DateTime savedAt;
  std::optional<DateTime> problemSavedAt;  // the definition file's date; unknown when absent
};

// A header for saving now: the present time and the definition file's modification time.
HeaderInfo MakeHeaderInfo(std::string_view version, std::string_view problemName);

// The header lines as prepared for the user (without the "> " each gets in the file).
std::vector<std::string> CommentHeaderLines(const HeaderInfo& info, std::string_view title);

// Shows the header lines to the user (`UserInterface::EditLines`; headless interfaces keep them)
// and appends each resulting line, prefixed with "> ", to `out`. Returns false, appending
// nothing, when the user cancelled.
bool WriteCommentLinesInFile(std::string& out, UserInterface& ui, const HeaderInfo& info, std::string_view title);

// ---- points and increments of a sweep ----

// A linear sweep from `start` to `stop`. When `incrementChanged` and `increment` > 0 the number
// of points follows from the increment; in every case equal ends give 2 points, the count is
// kept within 2..2001 (above: warning through `env` when given) and the increment is
// recomputed from the count. Returns 1 when the count was limited, else 0.
int ChangeNumberOfPointsLin(const Environment* env, double start, double stop, int& points, double& increment,
                            bool incrementChanged);

// A logarithmic sweep from `f1` to `f2` [Hz] with `perDecade` points per decade, by the same
// rules. Non-positive or non-finite frequencies are refused (-1, nothing changed).
int ChangeNumberOfPointsLog(const Environment* env, double f1, double f2, int& points, double& perDecade,
                            bool perDecadeChanged);

// Brings all four sweeps in line, the numbers of points winning: the increments (and the C-f
// points per decade) are recomputed from them. Returns the number of sweeps whose count was
// limited, or -1 when the C-f frequencies are not positive (the C-f sweep is then unchanged).
int UpdateNumberOfPoints(const Environment* env, MeasurementActions& actie, ActionListExtras& extras);

// ---- the action list ----

// The lines after the header.
std::string ActionListFileBody(const WorkPoint& wp, const WorkPoint& secondwp, const MeasurementActions& actie,
                               const ActionListExtras& extras);

// Writes header and body to `file`. Returns 0, or -1 when the file could not be written.
int SaveActionPanelInFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header, const WorkPoint& wp,
                          const WorkPoint& secondwp, const MeasurementActions& actie, const ActionListExtras& extras);

// Reads an action-list file (a bare name is looked for in the "def" folder) into both working
// points, the action list and its companions. Lines not in the file keep their values.
// Missing spectrum or generation files are reported and replaced (the file still loads).
// Returns 0; -1 when the file cannot be opened, -2 when its content is rejected (reported;
// the records are then unchanged). `fullPath` (may be null) receives the resolved path.
int SetActionPanelFromFile(const Environment& env, std::string_view name, WorkPoint& wp, WorkPoint& secondwp,
                           MeasurementActions& actie, ActionListExtras& extras, std::string* fullPath = nullptr);
// The same from an open stream (a section of the container of all settings); `full` names it in
// messages.
int SetActionPanelFromStream(const Environment& env, std::FILE* file, const std::string& full, WorkPoint& wp,
                             WorkPoint& secondwp, MeasurementActions& actie, ActionListExtras& extras);

// ---- the second working point ----

std::string SecondWorkPointFileBody(const WorkPoint& secondwp);
int SaveWP2InFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header, const WorkPoint& secondwp);
// Reads the second working point the way the action-list reader does; the same results.
int SetWP2FromFile(const Environment& env, std::string_view name, WorkPoint& secondwp, std::string* fullPath = nullptr);

// ---- the general settings ----

std::string GeneralSettingsFileBody(int errorMessageMode, int actionListMode, const ConvergenceParameters& convergence,
                                    const GeneralSettings& general);
int SaveGeneralZONIQSettings(std::FILE* file, UserInterface& ui, const HeaderInfo& header, const SessionCore& core,
                             const ConvergenceParameters& convergence, const GeneralSettings& general);
// Reads the general settings (a bare name is looked for in the "def" folder) into the
// session's error-message and result-list modes, the defect discretisation and `general`.
// Returns 0, -1 when the file is missing, -2 when its content is rejected (nothing changed).
int SetGeneralZONIQSettingsFromFile(SessionCore& core, std::string_view name, ConvergenceParameters& convergence,
                                    GeneralSettings& general, std::string* fullPath = nullptr);
int SetGeneralZONIQSettingsFromStream(SessionCore& core, std::FILE* file, const std::string& full,
                                      ConvergenceParameters& convergence, GeneralSettings& general);

// ---- saving to a named file, and the file dialogs ----

// Save to the named file (a bare name goes into the "def" folder), created or replaced. An
// unwritable file is reported. Returns 0 or -1.
int SaveActionListToPath(const Environment& env, std::string_view name, const HeaderInfo& header, const WorkPoint& wp,
                         const WorkPoint& secondwp, const MeasurementActions& actie, const ActionListExtras& extras);
int SaveWP2ToPath(const Environment& env, std::string_view name, const HeaderInfo& header, const WorkPoint& secondwp);
int SaveGeneralSettingsToPath(SessionCore& core, std::string_view name, const HeaderInfo& header,
                              const ConvergenceParameters& convergence, const GeneralSettings& general);

// Let the user choose the file ("def" folder, "*.act" / "*.wp2"). A cancelled choice does
// nothing and returns 1; otherwise the result of the save or read.
int SaveActionList(const Environment& env, const HeaderInfo& header, const WorkPoint& wp, const WorkPoint& secondwp,
                   const MeasurementActions& actie, const ActionListExtras& extras);
int LoadActionList(const Environment& env, WorkPoint& wp, WorkPoint& secondwp, MeasurementActions& actie,
                   ActionListExtras& extras);
int SaveWP2Settings(const Environment& env, const HeaderInfo& header, const WorkPoint& secondwp);
int LoadWP2Settings(const Environment& env, WorkPoint& secondwp);

}  // namespace zoniq
