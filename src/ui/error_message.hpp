// The one error routine and its state: a pop-up (mode 0) or a numbered block in
// "ZONIQErrorLogFile.log" (mode 1 appends, mode 2 starts a fresh log).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "ui/user_interface.hpp"

namespace zoniq {

class ErrorReporting {
 public:
  ErrorReporting() = default;
  ErrorReporting(const ErrorReporting&) = delete;
  ErrorReporting& operator=(const ErrorReporting&) = delete;
  ~ErrorReporting() { CloseLog(); }

  void CloseLog();

  int ErrorMessageMode = 0;    // 0 pop-up, 1 append to log, 2 fresh log
  int ErrorMessageNumber = 0;  // messages logged; 0 = log not open yet
  std::FILE* ZONIQErrorLogFileHandle = nullptr;
  std::string logFolder;       // folder of the log file; empty = current folder
  int messagesThisRun = 0;     // every message, shown or logged (for the exit status)
  std::string location;        // "file:line" of the script line being run; empty otherwise
};

inline constexpr const char* kErrorLogFileName = "ZONIQErrorLogFile.log";

void ZONIQErrorMessage(ErrorReporting& state, UserInterface& ui, std::string_view title, std::string_view message);

// What readers and other routines need to report: the user interface, the error state and
// the program folder in which bare file names are looked up.
struct Environment {
  UserInterface* ui = nullptr;
  ErrorReporting* errors = nullptr;
  std::string programFolder;

  void Error(std::string_view title, std::string_view message) const { ZONIQErrorMessage(*errors, *ui, title, message); }
  void Popup(std::string_view title, std::string_view message) const { ui->MessagePopup(title, message); }
};

}  // namespace zoniq
