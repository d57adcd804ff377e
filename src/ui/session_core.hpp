// The part of a session every layer may use: the user interface, the error routine's state,
// the program folder, the version banner and the call statistics.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/call_counts.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace zoniq {

struct SessionCore {
  // `ui` may be null: a console user interface is then used.
  explicit SessionCore(std::string folder, std::unique_ptr<UserInterface> userInterface = nullptr)
      : programFolder(std::move(folder)), ui(std::move(userInterface)) {
    if (!ui) ui = std::make_unique<ConsoleUserInterface>();
  }
  SessionCore(const SessionCore&) = delete;
  SessionCore& operator=(const SessionCore&) = delete;

  Environment env() { return Environment{ui.get(), &errors, programFolder}; }

  // Reports through the one error routine (pop-up or log, by `ErrorMessageMode`).
  void Error(std::string_view title, std::string_view message) { ZONIQErrorMessage(errors, *ui, title, message); }

  // The error-handling control: 0 pop-ups, 1 append to the log, 2 fresh log. Other values
  // show a pop-up and also log to a fresh file.
  void ErrorHandling(int mode) { errors.ErrorMessageMode = mode; }
  // The "output list after a convergence error" control: 0 truncate, 1 fill with zeros,
  // 2 fill with white space. Returns false (and keeps the mode) for any other value.
  bool ActionList(int mode) {
    if (mode < 0 || mode > 2) return false;
    ActionListMode = mode;
    return true;
  }

  std::string programFolder;
  // Where result files named without a folder are written (--output, "set outputfolder");
  // empty: the program folder's "results" folder when it can be written, else the current folder.
  std::string outputFolder;
  std::unique_ptr<UserInterface> ui;
  ErrorReporting errors;
  CallCounter counter;

  std::string VERSION;  // the version banner
  int QuitScriptMode = 0;
  int ActionListMode = 0;
  int META_Mode = 0;  // metastable-defect mode
};

}  // namespace zoniq
