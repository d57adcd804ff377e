// The numerical settings in a script: every listed numerical.NAME is taken by set and read back
// by get, and a refused value says so and changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "celldef/parameter_catalogue.hpp"
#include "script/script_commands.hpp"
#include "script/script_interpreter.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

class NumericalScriptTest : public ::testing::Test {
 protected:
  NumericalScriptTest() : session(dir.path().string(), std::make_unique<RecordingUserInterface>()) {
    std::filesystem::create_directories(dir.path() / "script");
    Initialise(session);
    session.errors.logFolder = dir.path().string();
  }
  int Run(const std::string& text) {
    test::WriteWholeFile(dir.file("script/n.script"), text);
    ScriptContext ctx = MakeScriptContext(session);
    int running = 1;
    return RunScriptFile(ctx, "n.script", running);
  }
  std::size_t Messages() { return static_cast<RecordingUserInterface&>(*session.ui).popups.size(); }
  test::TempDir dir;
  Session session;
};

TEST_F(NumericalScriptTest, EveryListedNumericalNameIsSetAndGotBack) {
  // The names as --list-parameters prints them, each set to the top of its range.
  std::istringstream list(ListParametersText());
  std::string line;
  int listed = 0;
  while (std::getline(list, line)) {
    if (!line.starts_with("numerical.")) continue;
    const std::string name = line.substr(0, line.find('\t'));
    const NumericalSetting* s = FindNumericalSetting(name.substr(10));
    ASSERT_NE(s, nullptr) << name;
    ++listed;
    ASSERT_EQ(Run("set " + name + " " + std::to_string(s->hi) + "\nget " + name + " xvalue\n"), 0) << name;
    EXPECT_EQ(Messages(), 0u) << name;
    EXPECT_EQ(session.theScript.value[0], s->hi) << name;
    EXPECT_EQ(s->get(session.parameterset1.convergence), s->hi) << name;
  }
  EXPECT_EQ(listed, static_cast<int>(NumericalSettings().size()));
}

TEST_F(NumericalScriptTest, RefusedValuesAndNamesSayItAndChangeNothing) {
  const ConvergenceParameters before = session.parameterset1.convergence;
  const char* lines[] = {"set numerical.recoverylog 3",      "set numerical.recoverylog 0.5",
                         "set numerical.recoverylogs 1",     "set numerical.recoverylog.x 1",
                         "set numerical.minimumbiasstep -1", "get numerical.banana xvalue"};
  for (const char* l : lines) {
    const std::size_t said = Messages();
    Run(std::string(l) + "\n");
    EXPECT_GT(Messages(), said) << l;
  }
  EXPECT_EQ(session.parameterset1.convergence, before);
}

}  // namespace
}  // namespace zoniq
