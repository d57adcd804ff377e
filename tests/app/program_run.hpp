// Whole runs of the program as a user starts them: in a current folder of their own, with a
// program folder the test chooses, the output and every message kept.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_program.hpp"
#include "test_util.hpp"
#include "ui/user_interface.hpp"

namespace zoniq::test {

// The program owns the user interface it is given and ends it with the run; this one hands
// everything to a recorder that the test keeps.
class ForwardingUserInterface : public UserInterface {
 public:
  explicit ForwardingUserInterface(RecordingUserInterface& to) : to_(to) {}
  void MessagePopup(std::string_view t, std::string_view m) override { to_.MessagePopup(t, m); }
  void MessagePopupAt(std::string_view l, std::string_view t, std::string_view m) override {
    to_.MessagePopupAt(l, t, m);
  }
  void StatusMessage(std::string_view text) override { to_.StatusMessage(text); }
  bool ConfirmPopup(std::string_view t, std::string_view q, bool safe) override { return to_.ConfirmPopup(t, q, safe); }
  std::optional<std::string> FileSelectPopup(std::string_view f, std::string_view p, std::string_view prompt,
                                             bool forSaving) override {
    return to_.FileSelectPopup(f, p, prompt, forSaving);
  }

 private:
  RecordingUserInterface& to_;
};

// The current folder is "work" in a temporary folder; `home_` is the program folder (set by
// the test, "home" beside "work" unless it says otherwise).
class ProgramRun : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::create_directories(tmp_.path() / "work");
    std::filesystem::current_path(tmp_.path() / "work");
    home_ = (tmp_.path() / "home").string();
  }
  void TearDown() override { std::filesystem::current_path(old_); }
  void MakeFolders(std::initializer_list<const char*> subs) {
    for (const char* sub : subs) std::filesystem::create_directories(home_ + "/" + sub);
  }
  int Zoniq(std::vector<std::string> args) {
    args.insert(args.begin(), "zoniq");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    out_.str("");
    err_.str("");
    ui_.popups.clear();
    const RunOptions options{.out = &out_, .err = &err_, .programFolder = home_};
    return RunZoniq(static_cast<int>(argv.size()), argv.data(), std::make_unique<ForwardingUserInterface>(ui_),
                    options);
  }
  // The first message whose title or text holds `part`.
  const RecordingUserInterface::Popup* Find(const std::string& part) const {
    for (const auto& p : ui_.popups)
      if (p.title.find(part) != std::string::npos || p.message.find(part) != std::string::npos) return &p;
    return nullptr;
  }
  bool PopupSays(const std::string& part) const { return Find(part) != nullptr; }
  bool OutSays(const std::string& part) const { return out_.str().find(part) != std::string::npos; }
  bool ErrSays(const std::string& part) const { return err_.str().find(part) != std::string::npos; }

  TempDir tmp_;
  std::filesystem::path old_;
  std::string home_;
  std::ostringstream out_, err_;
  RecordingUserInterface ui_;
};

}  // namespace zoniq::test
