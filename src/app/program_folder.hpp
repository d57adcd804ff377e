// The program folder ("home"): the folder whose sub-folders (def, spectrum, bdf, script, ...)
// hold the files that users name without a folder. It is found without configuration.
#pragma once

#include <string>
#include <string_view>

namespace zoniq {

// Where the program folder may be. Each entry may be empty (unknown).
struct ProgramFolderCandidates {
  std::string environment;  // the value of ZONIQ_HOME
  std::string executable;   // full path of the running executable
  std::string sourceHome;   // the home folder of the source tree the program was built from
  std::string installHome;  // the home folder of the configured installation prefix
};

// The first that applies: ZONIQ_HOME when set (taken as given); <prefix>/share/zoniq when the
// executable lies in <prefix>/bin and that folder exists; the source tree's home folder when it
// exists; the installation's home folder when it exists; else the current folder ".".
std::string ResolveProgramFolder(const ProgramFolderCandidates& candidates);

// True for the program folder of an installation (<prefix>/share/zoniq): not the user's to
// write, so result files go to the current folder unless another output folder is chosen.
bool IsInstalledProgramFolder(std::string_view folder);

// The running executable's full path (from the operating system); `argv0` when unknown.
std::string ExecutablePath(std::string_view argv0);

// The program folder of this process: ZONIQ_HOME, the executable and the compiled-in homes.
std::string FindProgramFolder(std::string_view argv0);

}  // namespace zoniq
