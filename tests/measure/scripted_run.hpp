// A session in a fresh program folder that holds copies of some shipped files, running one
// script, as a user's run would.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "script/script_interpreter.hpp"
#include "test_util.hpp"

namespace zoniq::test {

struct ScriptedRun {
  TempDir dir;
  Session session{dir.path().string(), std::make_unique<RecordingUserInterface>()};
  int result = -1;  // of the script run

  // `files`: paths below the shipped program folder ("def/CdTe.def", "spectrum/...").
  ScriptedRun(std::initializer_list<std::string> files, const std::string& script) {
    namespace fs = std::filesystem;
    for (const char* sub : {"script", "results", "def", "spectrum"}) fs::create_directories(dir.path() / sub);
    for (const std::string& f : files) fs::copy_file(fs::path(HomeFolder()) / f, dir.path() / f);
    Initialise(session);
    session.errors.logFolder = dir.path().string();
    WriteWholeFile(dir.file("script/run.script"), script);
    ScriptContext ctx = MakeScriptContext(session);
    int running = 1;
    result = RunScriptFile(ctx, "run.script", running);
  }
  const std::vector<RecordingUserInterface::Popup>& Popups() const { return static_cast<RecordingUserInterface&>(*session.ui).popups; }
  // A convergence failure was reported.
  bool Loud() const {
    for (const auto& p : Popups())
      if (p.message.find("onvergence failure") != std::string::npos) return true;
    return false;
  }
};

}  // namespace zoniq::test
