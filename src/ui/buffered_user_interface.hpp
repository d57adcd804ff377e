// A user interface that keeps what a worker thread shows, so that the messages of parallel
// work (batch steps, fit evaluations) reach the real interface in a fixed order, as a serial
// run would show them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/session_core.hpp"
#include "ui/user_interface.hpp"

namespace zoniq {

class BufferedUserInterface : public UserInterface {
 public:
  struct Event {
    bool popup;
    std::string title, text;
  };
  void MessagePopup(std::string_view title, std::string_view message) override {
    events.push_back({true, std::string(title), std::string(message)});
  }
  void StatusMessage(std::string_view text) override { events.push_back({false, {}, std::string(text)}); }
  // A worker cannot ask the user: it takes the safe answer and offers no file choice.
  bool ConfirmPopup(std::string_view, std::string_view, bool safeDefault) override { return safeDefault; }
  std::optional<std::string> FileSelectPopup(std::string_view, std::string_view, std::string_view, bool) override {
    return std::nullopt;
  }
  std::vector<Event> events;
};

// Shows kept events through the session's own error handling and status line.
inline void ReplayEvents(const std::vector<BufferedUserInterface::Event>& events, SessionCore& core) {
  for (const BufferedUserInterface::Event& e : events) {
    if (e.popup)
      core.Error(e.title, e.text);
    else
      core.ui->StatusMessage(e.text);
  }
}

}  // namespace zoniq
