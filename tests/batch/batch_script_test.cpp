// Batches from a script and from the command line, and the container of all settings, on a
// program folder holding the shipped CIGS example with its action list, batch and record files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "batch/all_settings.hpp"
#include "batch/batch_file.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;

class ProgramFolder : public ::testing::Test {
 protected:
  ProgramFolder() {
    for (const char* sub : {"script", "results", "def", "spectrum", "bdf"}) fs::create_directories(dir.path() / sub);
    for (const char* f : {"def/CIGS.def", "def/CIGS.act", "spectrum/AM1_5G 1 sun.spe", "bdf/CIGS_thickness.sbf",
                          "bdf/CIGS_thickness.srf"})
      fs::copy_file(fs::path(test::HomeFolder()) / f, dir.path() / f);
  }
  std::unique_ptr<Session> NewSession(std::unique_ptr<UserInterface> ui = std::make_unique<RecordingUserInterface>()) {
    auto s = std::make_unique<Session>(dir.path().string(), std::move(ui));
    Initialise(*s);
    s->VERSION = "ZONIQ 3.2.00 NORVALE: Version zoniq dated 06-12-2026, 09:00:00";
    return s;
  }
  int Run(const std::string& text) {
    test::WriteWholeFile(dir.file("script/t.script"), text);
    ScriptContext ctx = MakeScriptContext(*s);
    int running = 1;
    return RunScriptFile(ctx, "t.script", running);
  }
  static RecordingUserInterface& Ui(Session& s) { return static_cast<RecordingUserInterface&>(*s.ui); }
  static void LoadExample(Session& session) {
    ASSERT_EQ(Laad_data_uit_file(session, "CIGS.def"), 0);
    ASSERT_EQ(SetActionPanelFromFile(session.env(), "CIGS.act", session.wp, session.secondwp, session.actie,
                                     session.actieExtras),
              0);
    ASSERT_EQ(SetBatchFromFile(session.env(), "CIGS_thickness.sbf", session.zonnecel, session.theBatch), 0);
  }
  static AllSettings All(Session& s) { return AllSettings{s, s, s, s, s}; }

  test::TempDir dir;
  std::unique_ptr<Session> s = NewSession();
  const DateTime savedAt{.day = 6, .month = 12, .year = 2026, .hour = 9, .minute = 0, .second = 0};
};

TEST_F(ProgramFolder, ScriptRecordsAThicknessBatchSavesItsSettingsAndResultsThenASingleShot) {
  ASSERT_EQ(Run("load definition CIGS.def\nload action CIGS.act\n"
                "load batch CIGS_thickness.sbf\nload record CIGS_thickness.srf\n"
                "set batch.quiet 1\nset batch.jobs 2\ncalculate record\n"
                "save result.record thickness.rcd\nset scriptvariable.mode 0\nget recorder xy\n"
                "save setting.batch back.sbf\nsave setting.record back.srf\n"
                "action workingpoint.voltage -0.3\nload singleshotbatch\ncalculate batch\n"),
            0);
  EXPECT_TRUE(Ui(*s).popups.empty()) << Ui(*s).popups[0].message;
  // The single shot runs once at the working-point voltage, its sign kept, and writes no file.
  EXPECT_EQ(s->theBatch.numberOfParameters, 1);
  EXPECT_EQ(s->theBatch.bp[0].startValue, -0.3);
  ASSERT_EQ(s->simulaties.size(), 7u);
  EXPECT_EQ(s->simulaties.back().wp.voltage, -0.3);
  EXPECT_FALSE(fs::exists(dir.path() / "bdf" / "singleshotbatch.sbf"));
  const RecorderSetup& r = s->theRecorder;
  ASSERT_EQ(r.steps.size(), 6u);
  ASSERT_EQ(s->theScript.vector[0].size(), 6u);
  EXPECT_EQ(s->theScript.vector[0][5], 6.0);
  EXPECT_EQ(s->theScript.vector[1][5], r.steps[5].values[0]);
  EXPECT_GT(r.steps[5].values[0], r.steps[0].values[0]);
  const std::string rcd = test::ReadWholeFile(dir.file("results/thickness.rcd"));
  // CIGS.act sweeps -0.2 V to 0.8 V in 41 points: 25 mV apart.
  for (const char* part :
       {"batch parameter 1:\tlayer 1>>thickness>>nihil>>nihil:\tfrom\t 5.000e-01\tto\t 3.000e+00\tLinear",
        "*** The recorded data ***", "\nStepsize for IV-simulation:\t 2.500e-02\tV\n\n", "\n6\t 3.00000e+00\t"})
    EXPECT_NE(rcd.find(part), std::string::npos) << part << "\n" << rcd;
  // The saved settings read back to what was loaded.
  BatchSetup back, loaded;
  ASSERT_EQ(SetBatchFromFile(s->env(), "back.sbf", s->zonnecel, back), 0);
  ASSERT_EQ(SetBatchFromFile(s->env(), "CIGS_thickness.sbf", s->zonnecel, loaded), 0);
  EXPECT_EQ(BatchSettingsText(back), BatchSettingsText(loaded));
  RecorderSetup rback;
  ASSERT_EQ(SetRecordFromFile(s->env(), "back.srf", rback), 0);
  EXPECT_EQ(rback.parameters, r.parameters);
}

// A user who asks the batch to stop after its second step.
class StoppingUserInterface : public RecordingUserInterface {
 public:
  bool StopRequested() override { return ++asked >= 2; }
  int asked = 0;
};

TEST_F(ProgramFolder, AStopEndsTheBatchAfterTheCurrentStep) {
  auto ui = std::make_unique<StoppingUserInterface>();
  StoppingUserInterface* seen = ui.get();
  s = NewSession(std::move(ui));
  LoadExample(*s);
  EXPECT_EQ(RunSessionBatch(*s, false), -1);
  EXPECT_TRUE(s->lastBatch.stopped);
  EXPECT_EQ(s->lastBatch.run, 2);
  EXPECT_EQ(s->simulaties.size(), 2u);
  EXPECT_EQ(seen->asked, 2);
}

TEST_F(ProgramFolder, CommandLineBatchWithAFailedStepEndsWithStatusFive) {
  // A negative thickness in the list: that step fails, the batch goes on, the status is 5.
  test::WriteWholeFile(dir.file("bdf/bad.sbf"),
                       "Batch parameter 0 :\nLabel 1 : layer 1\nLabel 2 : thickness\nvalues from a list : 1\n"
                       "parameter   0: 1.0\nparameter   1: -1.0\nparameter   2: 2.0\n");
  std::ostringstream out, err;
  const RunOptions options{.out = &out, .err = &err, .programFolder = dir.path().string()};
  const char* argv[] = {"zoniq", "CIGS.def", "CIGS.act", "bad.sbf", "CIGS_thickness.srf", "--calculate", "--jobs", "2"};
  EXPECT_EQ(RunZoniq(8, argv, std::make_unique<RecordingUserInterface>(), options), kExitScriptErrors);
  EXPECT_NE(err.str().find("batch done: 3 of 3 steps run, 1 failed (step 2)"), std::string::npos) << err.str();
  EXPECT_NE(out.str().find("\n3\t 2.00000e+00\t"), std::string::npos) << out.str();
  const char* argv2[] = {"zoniq", "CIGS.def", "--jobs", "0"};
  EXPECT_EQ(RunZoniq(4, argv2, std::make_unique<RecordingUserInterface>(), options), kExitUsage);
}

TEST_F(ProgramFolder, TheShippedExampleRoundTripsSectionBySection) {
  LoadExample(*s);
  s->theRecorder.parameters = {{REC_CELL_CHARACTERISTICS, REC_VOC}, {REC_GENERAL, REC_GENERAL_CURRENT}};
  const std::string text = AllZONIQSettingsText(All(*s), savedAt);
  test::WriteWholeFile(dir.file("def/all.zoniq"), "> header\n" + text);
  auto b = NewSession();
  ASSERT_EQ(SetAllZONIQSettingsFromFile(All(*b), "all.zoniq"), 0);
  EXPECT_TRUE(Ui(*b).popups.empty()) << Ui(*b).popups[0].message;
  EXPECT_TRUE(AllZONIQSettingsText(All(*b), savedAt) == text);
  EXPECT_EQ(b->problemName, dir.file("def/all.zoniq"));
  // The definition section is the shipped file itself, its lines of over 119 characters whole.
  std::string sections[kContainerSectionCount], why;
  bool present[kContainerSectionCount], markers = false;
  ASSERT_EQ(SplitContainer(text, sections, present, markers, why), 0);
  std::string shipped = test::ReadWholeFile(dir.file("def/CIGS.def"));
  if (shipped.back() != '\n') shipped += '\n';  // a section holds whole lines
  EXPECT_TRUE(sections[0] == shipped);
  const auto lines = SplitLines(sections[0]);
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](std::string_view l) { return l.size() > 119; }));
}

TEST_F(ProgramFolder, BrokenContainersLoadNothingMissingSectionsStayAsTheyWere) {
  ASSERT_EQ(Laad_data_uit_file(*s, "CIGS.def"), 0);
  s->theRecorder.parameters = {{REC_CELL_CHARACTERISTICS, REC_FF}};
  const std::string before = AllZONIQSettingsText(All(*s), savedAt);
  const char* broken[] = {
      // The batch section never ends: it would swallow the recorder section.
      ">> begin of batch settings file\nBatch parameter 0 :\n>> begin of recorder settings file\n"
      ">> end of recorder settings file\n",
      ">> begin of general ZONIQ settings file\nhandling of error messages :  1\n", ">> end of action list file\n",
      ">> begin of batch settings file\n>> end of batch settings file\n>> begin of batch settings file\n"
      ">> end of batch settings file\n"};
  for (const char* text : broken) {
    test::WriteWholeFile(dir.file("def/broken.zoniq"), text);
    Ui(*s).popups.clear();
    EXPECT_EQ(SetAllZONIQSettingsFromFile(All(*s), "broken.zoniq"), -1) << text;
    ASSERT_EQ(Ui(*s).popups.size(), 1u);
    EXPECT_NE(Ui(*s).popups[0].message.find("line"), std::string::npos) << Ui(*s).popups[0].message;
    EXPECT_TRUE(AllZONIQSettingsText(All(*s), savedAt) == before);
  }
  // Only a batch section: the recorder and the cell stay; the problem keeps its name.
  test::WriteWholeFile(dir.file("def/batch.zoniq"), ">> begin of batch settings file\n" + SingleShotBatchText(0.1) +
                                                        ">> end of batch settings file\n");
  ASSERT_EQ(SetAllZONIQSettingsFromFile(All(*s), "batch.zoniq"), 0);
  EXPECT_EQ(s->theBatch.numberOfParameters, 1);
  EXPECT_EQ(s->theBatch.bp[0].startValue, 0.1);
  EXPECT_EQ(s->theRecorder.parameters.size(), 1u);
  EXPECT_EQ(s->problemName, dir.file("def/CIGS.def"));
  // No markers: general settings.
  test::WriteWholeFile(dir.file("def/general.zoniq"), "handling of error messages :  1 ; append\n");
  ASSERT_EQ(SetAllZONIQSettingsFromFile(All(*s), "general.zoniq"), 0);
  EXPECT_EQ(s->errors.ErrorMessageMode, 1);
}

}  // namespace
}  // namespace zoniq
