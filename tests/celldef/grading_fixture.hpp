// A recording environment for the grading, absorption and data-file tests: messages are
// kept, and bare file names resolve inside a temporary program folder.
#pragma once

#include <filesystem>
#include <string>

#include "test_util.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace zoniq::test {

class GradingEnvironment : public ::testing::Test {
 protected:
  GradingEnvironment() {
    env.ui = &ui;
    env.errors = &errors;
    env.programFolder = home.path().string();
    for (const char* sub : {"grading", "absorption", "optcapt", "generation", "bdf", "spectrum"})
      std::filesystem::create_directory(home.path() / sub);
  }
  // Writes `contents` to `name` in the sub-folder and returns the full path.
  std::string Write(const std::string& sub, const std::string& name, const std::string& contents) {
    const std::string path = (home.path() / sub / name).string();
    WriteWholeFile(path, contents);
    return path;
  }
  std::string PathOf(const std::string& sub, const std::string& name) const {
    return env.programFolder + "/" + sub + "/" + name;
  }

  TempDir home;
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env;
};

}  // namespace zoniq::test
