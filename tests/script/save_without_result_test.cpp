// Saving a result that was never calculated (or whose calculation failed before it produced
// one) says so and creates no file: a header-only file would pass for a result.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "script/script_interpreter.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;

TEST(SaveWithoutResult, NoFileIsCreated) {
  test::TempDir dir;
  Session session(dir.path().string(), std::make_unique<RecordingUserInterface>());
  for (const char* sub : {"script", "results"}) fs::create_directories(dir.path() / sub);
  Initialise(session);
  session.errors.logFolder = dir.path().string();
  test::WriteWholeFile(dir.file("script/s.script"),
                       "save result.iv none\nsave result.eb none\nsave result.genrec none\n");
  ScriptContext ctx = MakeScriptContext(session);
  int running = 1;
  ASSERT_EQ(RunScriptFile(ctx, "s.script", running), 0);
  for (const char* name : {"results/none.iv", "results/none.eb", "results/none.gen"})
    EXPECT_FALSE(fs::exists(dir.file(name))) << name;
  const auto& popups = static_cast<RecordingUserInterface&>(*session.ui).popups;
  ASSERT_EQ(popups.size(), 3u);
  EXPECT_EQ(popups[0].message, "No IV-calculation is made yet: nothing to save or to show !");
  EXPECT_EQ(popups[1].message, "No calculation is made yet: nothing to save or to show !");
  EXPECT_EQ(popups[2].message, "No calculation is made yet: nothing to save or to show !");
}

}  // namespace
}  // namespace zoniq
