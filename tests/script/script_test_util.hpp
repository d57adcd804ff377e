// A recording environment for the script tests: every message the error routine shows is kept
// (error-message mode 0 sends each one to the user interface as a pop-up).
#pragma once

#include <string>
#include <vector>

#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace zoniq::test {

struct RecordingEnv {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, "."};

  std::size_t count() const { return ui.popups.size(); }
  const RecordingUserInterface::Popup& last() const { return ui.popups.back(); }
  void clear() { ui.popups.clear(); }
};

}  // namespace zoniq::test
