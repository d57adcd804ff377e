// The thin layer through which the program shows messages, asks for confirmation and lets
// the user choose files. The console implementation serves headless runs; tests record.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zoniq {

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // A message under a title; a graphical front end waits for OK.
  virtual void MessagePopup(std::string_view title, std::string_view message) = 0;
  // The same for a message about a place in a file ("run.script:12"): by default the place
  // becomes the message's last line.
  virtual void MessagePopupAt(std::string_view location, std::string_view title, std::string_view message) {
    MessagePopup(title, std::string(message) + "\nat " + std::string(location));
  }
  // A line in the status bar.
  virtual void StatusMessage(std::string_view text) = 0;
  // A yes/no question; headless implementations answer `safeDefault`.
  virtual bool ConfirmPopup(std::string_view title, std::string_view question, bool safeDefault) = 0;
  // A file choice; std::nullopt when the user cancels or no dialog is available.
  virtual std::optional<std::string> FileSelectPopup(std::string_view folder, std::string_view pattern,
                                                     std::string_view prompt, bool forSaving) = 0;
  // A graphical front end lets the user edit header lines before they are written; headless
  // implementations keep them as they are. False means the user cancelled.
  virtual bool EditLines(std::string_view /*title*/, std::vector<std::string>& /*lines*/) { return true; }
  // Whether the user asks long work (a batch) to stop; asked between its steps. Headless
  // implementations never ask.
  virtual bool StopRequested() { return false; }
};

// Headless console: pop-ups go to standard error and do not wait.
class ConsoleUserInterface : public UserInterface {
 public:
  explicit ConsoleUserInterface(bool showStatus = false) : showStatus_(showStatus) {}
  void MessagePopup(std::string_view title, std::string_view message) override;
  void MessagePopupAt(std::string_view location, std::string_view title, std::string_view message) override;
  void StatusMessage(std::string_view text) override;
  bool ConfirmPopup(std::string_view title, std::string_view question, bool safeDefault) override;
  std::optional<std::string> FileSelectPopup(std::string_view folder, std::string_view pattern,
                                             std::string_view prompt, bool forSaving) override;

 private:
  bool showStatus_;
};

// Keeps everything it is shown; for tests and fuzzing.
class RecordingUserInterface : public UserInterface {
 public:
  struct Popup {
    std::string title, message;
    std::string location;  // "file:line" of a message about a place in a file; else empty
  };
  void MessagePopup(std::string_view title, std::string_view message) override {
    popups.push_back({std::string(title), std::string(message), {}});
  }
  void MessagePopupAt(std::string_view location, std::string_view title, std::string_view message) override {
    popups.push_back({std::string(title), std::string(message), std::string(location)});
  }
  void StatusMessage(std::string_view text) override { status.emplace_back(text); }
  bool ConfirmPopup(std::string_view, std::string_view, bool safeDefault) override { return safeDefault; }
  std::optional<std::string> FileSelectPopup(std::string_view, std::string_view, std::string_view,
                                             bool) override {
    return std::nullopt;
  }
  std::vector<Popup> popups;
  std::vector<std::string> status;
};

}  // namespace zoniq
