// The program as a whole: start-up, loading what the command line names, the report of a
// headless run, and the end of the run. The executable only hands its arguments to RunZoniq.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "common/format.hpp"
#include "ui/user_interface.hpp"

namespace zoniq {

struct Session;

// Exit statuses of a run.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotLoaded = 1;         // a file named on the command line could not be loaded
inline constexpr int kExitUsage = 2;             // unknown option
inline constexpr int kExitInternal = 3;          // out of memory or a broken internal invariant
inline constexpr int kExitSimulationFailed = 4;  // the simulation of --calculate was abandoned
inline constexpr int kExitScriptErrors = 5;      // the command-line script reported errors
inline constexpr int kExitPicturesFailed = 6;    // a picture of --plots could not be written

struct RunOptions {
  std::ostream* out = nullptr;  // report, help and version text; null = standard output
  std::ostream* err = nullptr;  // diagnostics of the command line itself; null = standard error
  std::string programFolder;    // empty = found from ZONIQ_HOME and the executable
};

// Runs the program on its command line (argv[0] is the program's own path) and returns the
// exit status. `ui` may be null (a console user interface is used). Never calls exit().
int RunZoniq(int argc, const char* const* argv, std::unique_ptr<UserInterface> ui, const RunOptions& options = {});

// "ZONIQ 3.2.00 NORVALE: Version <programPath> dated dd-mm-yyyy, hh:mm:ss".
std::string MakeVersionBanner(std::string_view programPath, const DateTime& programFileTime);
// The local modification time of the running program's file (the executable, else
// `programPath`); the epoch when neither can be examined.
DateTime ProgramFileTime(std::string_view programPath);

// The text of "zoniq --version": "ZONIQ 3.2.00 (program file dated dd-mm-yyyy, hh:mm:ss)".
std::string VersionText(const DateTime& programFileTime);

// A bias beyond this [V] in --iv is refused as a slip of unit (millivolts for volts).
inline constexpr double kMaxPlausibleBias = 10.0;

// The text of "zoniq --help".
std::string UsageText();

// Sets every default of the session, in the start-up order of the program.
void Initialise(Session& session);

// Ends a run: writes "counts.txt" in the current folder and closes the error log. Returns 0,
// or -1 when counts.txt could not be written (reported through the error routine).
int Terminate(Session& session);

// A short account of the loaded cell: problem, layers (name, thickness [µm], Eg and chi
// [eV], Nd and Na [cm^-3], defects) and the interfaces that have defects.
std::string LoadedReport(const Session& session);

}  // namespace zoniq
