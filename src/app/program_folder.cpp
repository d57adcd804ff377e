#include "app/program_folder.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zoniq {

namespace fs = std::filesystem;

namespace {
bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}
}  // namespace

std::string ResolveProgramFolder(const ProgramFolderCandidates& c) {
  // An explicit choice of the user wins, even when the folder is missing: the readers then
  // report the files they cannot find, which tells the user what is wrong.
  if (!c.environment.empty()) return c.environment;
  if (!c.executable.empty()) {
    const fs::path binFolder = fs::path(c.executable).parent_path();
    if (binFolder.filename() == "bin") {
      const std::string installed = (binFolder.parent_path() / "share" / "zoniq").string();
      if (IsFolder(installed)) return installed;
    }
  }
  if (IsFolder(c.sourceHome)) return c.sourceHome;
  if (IsFolder(c.installHome)) return c.installHome;
  return ".";
}

bool IsInstalledProgramFolder(std::string_view folder) {
  fs::path p{std::string(folder)};
  if (p.filename().empty()) p = p.parent_path();  // a trailing separator
  return p.filename() == "zoniq" && p.parent_path().filename() == "share";
}

std::string ExecutablePath(std::string_view argv0) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && !self.empty()) return self.string();
  if (argv0.empty()) return {};
  const fs::path given{std::string(argv0)};
  const fs::path absolute = fs::absolute(given, ec);
  return ec ? std::string(argv0) : absolute.string();
}

std::string FindProgramFolder(std::string_view argv0) {
  ProgramFolderCandidates c;
  if (const char* env = std::getenv("ZONIQ_HOME")) c.environment = env;
  c.executable = ExecutablePath(argv0);
#ifdef ZONIQ_SOURCE_HOME
  c.sourceHome = ZONIQ_SOURCE_HOME;
#endif
#ifdef ZONIQ_INSTALL_HOME
  c.installHome = ZONIQ_INSTALL_HOME;
#endif
  return ResolveProgramFolder(c);
}

}  // namespace zoniq
