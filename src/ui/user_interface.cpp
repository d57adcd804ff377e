#include "ui/user_interface.hpp"

#include <iostream>

namespace zoniq {

void ConsoleUserInterface::MessagePopup(std::string_view title, std::string_view message) {
  std::cerr << title << "\n" << message << "\n\n";
  std::cerr.flush();
}

void ConsoleUserInterface::MessagePopupAt(std::string_view location, std::string_view title, std::string_view message) {
  // "file:line: " first, as compilers write it, so that editors can jump there.
  std::cerr << location << ": " << title << "\n" << message << "\n\n";
  std::cerr.flush();
}

void ConsoleUserInterface::StatusMessage(std::string_view text) {
  if (showStatus_) std::cerr << text << "\n";
}

bool ConsoleUserInterface::ConfirmPopup(std::string_view title, std::string_view question, bool safeDefault) {
  std::cerr << title << "\n" << question << "\n(no dialog in a console run: answered "
            << (safeDefault ? "yes" : "no") << ")\n\n";
  return safeDefault;
}

std::optional<std::string> ConsoleUserInterface::FileSelectPopup(std::string_view, std::string_view,
                                                                 std::string_view prompt, bool) {
  std::cerr << prompt << "\nNo file dialog is available in a console run; name the file on the command "
                         "line or in a script.\n\n";
  return std::nullopt;
}

}  // namespace zoniq
