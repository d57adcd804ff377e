// Batches from a script and from the command line, on a program folder holding the shipped CIGS
// example, its action list, the standard spectrum and the example batch and record files.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "batch/batch_file.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;

class BatchScriptTest : public ::testing::Test {
 protected:
  BatchScriptTest() : session(dir.path().string(), std::make_unique<RecordingUserInterface>()) {
    for (const char* sub : {"script", "results", "def", "spectrum", "bdf"}) fs::create_directories(dir.path() / sub);
    Copy("def", "CIGS.def");
    Copy("def", "CIGS.act");
    Copy("spectrum", "AM1_5G 1 sun.spe");
    Copy("bdf", "CIGS_thickness.sbf");
    Copy("bdf", "CIGS_thickness.srf");
    Initialise(session);
  }
  void Copy(const std::string& sub, const std::string& name) {
    fs::copy_file(fs::path(test::HomeFolder()) / sub / name, dir.path() / sub / name);
  }
  int Run(const std::string& text) {
    test::WriteWholeFile(dir.file("script/t.script"), text);
    ScriptContext ctx = MakeScriptContext(session);
    int running = 1;
    return RunScriptFile(ctx, "t.script", running);
  }
  RecordingUserInterface& ui() { return static_cast<RecordingUserInterface&>(*session.ui); }
  std::string Messages() {
    std::string all;
    for (const auto& p : ui().popups) all += p.title + ": " + p.message + "\n";
    return all;
  }

  test::TempDir dir;
  Session session;
};

TEST_F(BatchScriptTest, RecordsAThicknessBatchAndSavesItsSettingsAndResults) {
  ASSERT_EQ(Run("load definition CIGS.def\n"
                "load action CIGS.act\n"
                "load batch CIGS_thickness.sbf\n"
                "load record CIGS_thickness.srf\n"
                "set batch.quiet 1\n"
                "set batch.jobs 2\n"
                "calculate record\n"
                "save result.record thickness.rcd\n"
                "set scriptvariable.mode 0\n"
                "get recorder xy\n"
                "save setting.batch back.sbf\n"
                "save setting.record back.srf\n"),
            0);
  EXPECT_EQ(ui().popups.size(), 0u) << Messages();
  const RecorderSetup& r = session.theRecorder;
  ASSERT_EQ(r.steps.size(), 6u);
  // get recorder: step numbers and the recorded efficiencies (recorder parameter 0).
  ASSERT_EQ(session.theScript.vector[0].size(), 6u);
  EXPECT_EQ(session.theScript.vector[0][5], 6.0);
  EXPECT_EQ(session.theScript.vector[1][5], r.steps[5].values[0]);
  // A thicker absorber gives a higher efficiency in this range (0.5 to 3 um).
  EXPECT_GT(r.steps[5].values[0], r.steps[0].values[0]);
  const std::string rcd = test::ReadWholeFile(dir.file("results/thickness.rcd"));
  EXPECT_NE(rcd.find("batch parameter 1:\tlayer 1>>thickness>>nihil>>nihil:\tfrom\t 5.000e-01\tto\t 3.000e+00\tLinear"),
            std::string::npos)
      << rcd;
  EXPECT_NE(rcd.find("*** The recorded data ***"), std::string::npos);
  // CIGS.act sweeps -0.2 V to 0.8 V in 41 points: 25 mV apart.
  EXPECT_NE(rcd.find("\nStepsize for IV-simulation:\t 2.500e-02\tV\n\n"), std::string::npos);
  EXPECT_NE(rcd.find("\n6\t 3.00000e+00\t"), std::string::npos);
  // The saved settings read back to what was loaded.
  BatchSetup back;
  ASSERT_EQ(SetBatchFromFile(session.env(), "back.sbf", session.zonnecel, back), 0);
  EXPECT_EQ(BatchSettingsText(back), BatchSettingsText(session.theBatch));
  RecorderSetup rback;
  ASSERT_EQ(SetRecordFromFile(session.env(), "back.srf", rback), 0);
  EXPECT_EQ(rback.parameters, r.parameters);
}

// A user who asks the batch to stop after its second step.
class StoppingUserInterface : public RecordingUserInterface {
 public:
  bool StopRequested() override { return ++asked >= 2; }
  int asked = 0;
};

TEST(BatchStop, AStopEndsTheBatchAfterTheCurrentStep) {
  test::TempDir dir;
  auto ui = std::make_unique<StoppingUserInterface>();
  StoppingUserInterface* seen = ui.get();
  Session session(test::HomeFolder(), std::move(ui));
  Initialise(session);
  ASSERT_EQ(Laad_data_uit_file(session, "CIGS.def"), 0);
  ASSERT_EQ(SetActionPanelFromFile(session.env(), "CIGS.act", session.wp, session.secondwp, session.actie,
                                   session.actieExtras),
            0);
  ASSERT_EQ(SetBatchFromFile(session.env(), "CIGS_thickness.sbf", session.zonnecel, session.theBatch), 0);
  EXPECT_EQ(RunSessionBatch(session, false), -1);
  EXPECT_TRUE(session.lastBatch.stopped);
  EXPECT_EQ(session.lastBatch.run, 2);
  EXPECT_EQ(session.simulaties.size(), 2u);
  EXPECT_EQ(seen->asked, 2);
}

TEST_F(BatchScriptTest, SingleShotBatchRunsOnceAtTheWorkingPointVoltage) {
  ASSERT_EQ(Run("load definition CIGS.def\n"
                "load action CIGS.act\n"
                "action workingpoint.voltage -0.3\n"
                "load singleshotbatch\n"
                "set batch.quiet 1\n"
                "calculate batch\n"),
            0);
  EXPECT_EQ(ui().popups.size(), 0u) << Messages();
  EXPECT_EQ(session.theBatch.numberOfParameters, 1);
  EXPECT_EQ(session.theBatch.bp[0].startValue, -0.3);  // the sign survives
  ASSERT_EQ(session.simulaties.size(), 1u);
  EXPECT_EQ(session.simulaties.back().wp.voltage, -0.3);
  // Nothing was written into the program folder.
  EXPECT_TRUE(fs::is_empty(dir.path() / "results"));
  EXPECT_FALSE(fs::exists(dir.path() / "bdf" / "singleshotbatch.sbf"));
}

TEST_F(BatchScriptTest, CommandLineRunsTheBatchAndFailsWithStatusFiveOnAFailedStep) {
  std::ostringstream out, err;
  RunOptions options;
  options.out = &out;
  options.err = &err;
  options.programFolder = dir.path().string();
  const char* argv[] = {"zoniq",       "CIGS.def", "CIGS.act", "CIGS_thickness.sbf", "CIGS_thickness.srf",
                        "--calculate", "--jobs",   "2"};
  EXPECT_EQ(RunZoniq(8, argv, std::make_unique<RecordingUserInterface>(), options), kExitOk) << err.str();
  EXPECT_NE(out.str().find("i\tbp 1\tCell characteristics: efficiency (%)"), std::string::npos) << out.str();
  EXPECT_NE(err.str().find("batch done: 6 of 6 steps run, 0 failed"), std::string::npos) << err.str();
  // A negative thickness in the list: that step fails, the batch goes on, the status is 5.
  test::WriteWholeFile(dir.file("bdf/bad.sbf"),
                       "Batch parameter 0 :\nLabel 1 : layer 1\nLabel 2 : thickness\nLabel 3 : nihil\n"
                       "Label 4 : nihil\nvalues from a list : 1\nparameter   0: 1.0\nparameter   1: -1.0\n"
                       "parameter   2: 2.0\n");
  std::ostringstream out2, err2;
  options.out = &out2;
  options.err = &err2;
  const char* argv2[] = {"zoniq", "CIGS.def", "CIGS.act", "bad.sbf", "CIGS_thickness.srf", "--calculate"};
  EXPECT_EQ(RunZoniq(6, argv2, std::make_unique<RecordingUserInterface>(), options), kExitScriptErrors);
  EXPECT_NE(err2.str().find("batch done: 3 of 3 steps run, 1 failed (step 2)"), std::string::npos) << err2.str();
  EXPECT_NE(out2.str().find("\n3\t 2.00000e+00\t"), std::string::npos) << out2.str();
  // A bad --jobs is a usage error.
  const char* argv3[] = {"zoniq", "CIGS.def", "--jobs", "0"};
  EXPECT_EQ(RunZoniq(4, argv3, std::make_unique<RecordingUserInterface>(), options), kExitUsage);
}

}  // namespace
}  // namespace zoniq
