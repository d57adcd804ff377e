// Helpers of the script tests: a recording environment (error-message mode 0 sends every
// message to the user interface as a pop-up, where it is kept) and dotted cell-parameter names.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "celldef/cell_parameters.hpp"
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

// The dotted name split at its full stops (at most four parts); the text is kept in `keep`,
// into which the parts point.
inline CellParameterName SplitName(const std::string& dotted, std::deque<std::string>& keep) {
  const std::string& s = keep.emplace_back(dotted);
  CellParameterName n;
  std::size_t start = 0;
  for (std::size_t i = 0; i < 4 && start <= s.size(); ++i) {
    const std::size_t dot = s.find('.', start);
    n.part[i] = std::string_view(s).substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return n;
}

}  // namespace zoniq::test
