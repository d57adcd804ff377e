// The container of all settings: the shipped examples survive a round trip byte for byte in
// each section (long lines included), broken containers load nothing, missing sections leave
// their settings alone, and a file without markers holds the general settings.
#include "batch/all_settings.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "batch/batch_file.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;

class AllSettingsTest : public ::testing::Test {
 protected:
  AllSettingsTest() {
    for (const char* sub : {"def", "spectrum", "bdf"}) fs::create_directories(dir.path() / sub);
    for (const char* f : {"CIGS.def", "CdTe.def", "CIGS.act"})
      fs::copy_file(fs::path(test::HomeFolder()) / "def" / f, dir.path() / "def" / f);
    fs::copy_file(fs::path(test::HomeFolder()) / "spectrum" / "AM1_5G 1 sun.spe",
                  dir.path() / "spectrum" / "AM1_5G 1 sun.spe");
  }
  std::unique_ptr<Session> NewSession() {
    auto s = std::make_unique<Session>(dir.path().string(), std::make_unique<RecordingUserInterface>());
    Initialise(*s);
    s->VERSION = "ZONIQ 3.2.00 NORVALE: Version zoniq dated 06-12-2026, 09:00:00";
    return s;
  }
  static AllSettings All(Session& s) { return AllSettings{s, s, s, s, s}; }
  static RecordingUserInterface& Ui(Session& s) { return static_cast<RecordingUserInterface&>(*s.ui); }

  test::TempDir dir;
  const DateTime savedAt{.day = 6, .month = 12, .year = 2026, .hour = 9, .minute = 0, .second = 0};
};

TEST_F(AllSettingsTest, ShippedExamplesRoundTripSectionBySection) {
  for (const char* def : {"CIGS.def", "CdTe.def"}) {
    auto a = NewSession();
    ASSERT_EQ(Laad_data_uit_file(*a, def), 0);
    ASSERT_EQ(SetActionPanelFromFile(a->env(), "CIGS.act", a->wp, a->secondwp, a->actie, a->actieExtras), 0);
    a->theBatch.numberOfParameters = 1;
    a->theBatch.bp[0].label = {BatchKeyWordToBP_constant(1, "V"), kNihil, kNihil,
                               BatchKeyWordToBP_constant(4, "measurement workpoint")};
    a->theBatch.bp[0].startValue = -0.25;
    a->theBatch.bp[0].stopValue = 0.5;
    a->theBatch.bp[0].numberOfSteps = 4;
    a->theRecorder.parameters = {{REC_CELL_CHARACTERISTICS, REC_VOC}, {REC_GENERAL, REC_GENERAL_CURRENT}};
    const std::string text = AllZONIQSettingsText(All(*a), savedAt);
    test::WriteWholeFile(dir.file("def/all.zoniq"), "> header\n" + text);

    auto b = NewSession();
    ASSERT_EQ(SetAllZONIQSettingsFromFile(All(*b), "all.zoniq"), 0);
    EXPECT_TRUE(Ui(*b).popups.empty()) << Ui(*b).popups[0].message;
    EXPECT_TRUE(AllZONIQSettingsText(All(*b), savedAt) == text) << def;
    EXPECT_EQ(b->problemName, dir.file("def/all.zoniq"));
    // The definition section is the shipped file itself, long lines (over 119 characters) whole.
    std::string sections[kContainerSectionCount];
    bool present[kContainerSectionCount];
    bool markers = false;
    std::string why;
    ASSERT_EQ(SplitContainer(text, sections, present, markers, why), 0);
    std::string shipped = test::ReadWholeFile(dir.file(std::string("def/") + def));
    if (shipped.back() != '\n') shipped += '\n';  // a section holds whole lines
    EXPECT_TRUE(sections[0] == shipped) << def;
    bool longLine = false;
    for (std::string_view l : SplitLines(sections[0])) longLine = longLine || l.size() > 119;
    EXPECT_TRUE(longLine || std::string(def) != "CIGS.def");
  }
}

TEST_F(AllSettingsTest, BrokenContainersLoadNothing) {
  auto s = NewSession();
  ASSERT_EQ(Laad_data_uit_file(*s, "CIGS.def"), 0);
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
}

TEST_F(AllSettingsTest, MissingSectionsAndPlainGeneralSettings) {
  auto s = NewSession();
  ASSERT_EQ(Laad_data_uit_file(*s, "CIGS.def"), 0);
  s->theRecorder.parameters = {{REC_CELL_CHARACTERISTICS, REC_FF}};
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
