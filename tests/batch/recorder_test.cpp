// The recorder's settings file (round trip, exact layout, keywords for the special layers, the
// 120-entry limit, group entries) and the values it takes from a record.
#include "batch/recorder.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "test_util.hpp"

namespace zoniq {
namespace {

struct Reader {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, test::HomeFolder()};
};

TEST(RecorderSettings, ExactLayout) {
  RecorderSetup r;
  r.parameters = {{REC_CELL_CHARACTERISTICS, REC_VOC}, {REC_ENERGY_BANDS, 4, kRecLastLayer}};
  // Written by hand: "Recorder parameter " Int 3 " :", keywords for the type, property and the
  // last layer.
  EXPECT_EQ(RecordSettingsText(r),
            "\nRecorder parameter   0 :\n\n"
            "recorder type : cell characterisctics\n"
            "recorder property : open circuit voltage\n"
            "\nRecorder parameter   1 :\n\n"
            "recorder type : energy bands\n"
            "recorder property : electron density\n"
            "recorder layer : last layer\n");
}

TEST(RecorderSettings, RoundTripOfEveryKind) {
  RecorderSetup r;
  r.parameters = {{REC_CELL_CHARACTERISTICS, REC_JMPP},
                  {REC_GENERAL, REC_GENERAL_RECOMBINATION_AUGER},
                  {REC_ENERGY_BANDS, 19, kRecAllLayers},
                  {REC_ENERGY_BANDS, 0, 3},
                  {REC_GENERATION_RECOMBINATION, 7, 2, 1, 2},
                  {REC_OCCUPATION, 1, 1, 3, 4},
                  {REC_AC, 2, kRecImaginaryPart},
                  {REC_INTERFACES, 11, 2, 1, kRecNotApplicable},
                  {REC_CELL_DEFINITION, 15, 1, 2, kRecNotApplicable}};
  Reader rd;
  RecorderSetup back;
  ASSERT_EQ(SetRecordFromText(rd.env, RecordSettingsText(r), "t.srf", back), 0);
  EXPECT_EQ(back.parameters, r.parameters);
  EXPECT_TRUE(rd.ui.popups.empty());
}

TEST(RecorderSettings, GroupsExpandAndLimitsHold) {
  Reader rd;
  RecorderSetup r;
  ASSERT_EQ(SetRecordFromText(rd.env,
                              "Recorder parameter 0 :\nrecorder type : cell characterisctics\n"
                              "recorder property : all cell characteristics\r\n",
                              "t.srf", r),
            0);
  ASSERT_EQ(r.parameters.size(), 6u);
  EXPECT_EQ(r.parameters[0].property, REC_EFFICIENCY);
  EXPECT_EQ(r.parameters[5].property, REC_JMPP);
  // Refused: a layer beyond the seventh, an unknown property, a number with stray text, more
  // than 120 entries. The recorder keeps its list.
  std::string many;
  for (int i = 0; i < 121; ++i)
    many += "Recorder parameter\nrecorder type : general\nrecorder property : general current\n";
  const std::string bad[] = {
      "Recorder parameter\nrecorder type : energy bands\nrecorder property : hole density\nrecorder layer : 8\n",
      "Recorder parameter\nrecorder type : general\nrecorder property : general weather\n",
      "Recorder parameter\nrecorder type : occupation\nrecorder property : occupation probability with holes\n"
      "recorder defect : 2x\n",
      "recorder type : general\n", many};
  for (const std::string& text : bad) {
    EXPECT_EQ(SetRecordFromText(rd.env, text, "t.srf", r), -1) << text.substr(0, 80);
    EXPECT_EQ(r.parameters.size(), 6u);
  }
  // Adding one by one stops at 120 with the documented message.
  RecorderSetup full;
  for (int i = 0; i < kMaxRecorderParameters; ++i) ASSERT_EQ(AddRecord(rd.env, full, {REC_GENERAL, 0}), 0);
  EXPECT_EQ(AddRecord(rd.env, full, {REC_GENERAL, 0}), -1);
  EXPECT_EQ(rd.ui.popups.back().message, "The number of recorder parameters is limited to 120.");
}

TEST(RecorderValues, LookedUpByVoltageInEitherDirection) {
  // A falling sweep from 0.8 V to 0 V that stopped after 3 of 5 points: the general current at
  // the start voltage is its first point; the recombination at the end voltage (0 V) was never
  // reached and is NaN; an invalid efficiency is -1.
  SimulationRecord rec;
  rec.actie.iv.startV = 0.8;
  rec.actie.iv.stopV = 0.0;
  IVResult& iv = rec.iv;
  iv.present = 1;
  iv.points = 5;
  iv.pointsDone = 3;
  iv.vCell = {0.8, 0.6, 0.4, 0.2, 0.0};
  iv.j = {50.0, 3.0, -20.0, 0.0, 0.0};
  iv.jSRH = {9.0, 2.0, 1.0, 0.0, 0.0};
  RecorderSetup r;
  r.parameters = {{REC_GENERAL, REC_GENERAL_CURRENT},
                  {REC_GENERAL, REC_GENERAL_RECOMBINATION_SRH},
                  {REC_CELL_CHARACTERISTICS, REC_EFFICIENCY}};
  std::vector<double> v = RecordStepValues(r, &rec);
  EXPECT_EQ(v[0], 50.0);
  EXPECT_TRUE(std::isnan(v[1]));
  EXPECT_EQ(v[2], -1.0);
  // Completed: the recombination at 0 V is the last array entry, with no factor (mA/cm2).
  iv.pointsDone = 5;
  iv.jSRH[4] = 0.125;
  v = RecordStepValues(r, &rec);
  EXPECT_EQ(v[1], 0.125);
  // No record: every value NaN.
  for (double x : RecordStepValues(r, nullptr)) EXPECT_TRUE(std::isnan(x));
}

TEST(RecorderValues, InterfaceQuantitiesFromTheBandDiagram) {
  // Every recordable interface property takes its own field of the named interface (2 here).
  BandDiagramProfiles b;
  b.interfaces.resize(2);
  InterfaceProfileRow& r = b.interfaces[1];
  r.jn1 = 1, r.jn2 = 2, r.jp1 = 3, r.jp2 = 4, r.jn1t = 5, r.jn2t = 6, r.jp1t = 7, r.jp2t = 8, r.jth = 9, r.pi = 10;
  r.fn = {0.25, 0.5, 0.75}, r.fp = {0.75, 0.5, 0.25};
  RecorderSetup rec;
  for (int p : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}) rec.parameters.push_back({REC_INTERFACES, p, 2});
  rec.parameters.push_back({REC_INTERFACES, 0, 3});  // no third interface: NaN
  rec.parameters.push_back({REC_INTERFACES, 10, 2, 3});
  rec.parameters.push_back({REC_INTERFACES, 11, 2, 1});
  const std::vector<double> v = RecordStepValues(rec, nullptr, &b);
  EXPECT_EQ(std::vector<double>(v.begin(), v.begin() + 10), (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_TRUE(std::isnan(v[10]));
  EXPECT_EQ(v[11], 0.75);  // electrons on defect 3
  EXPECT_EQ(v[12], 0.75);  // holes on defect 1
  std::string why;
  for (std::size_t k = 0; k < rec.parameters.size(); ++k) EXPECT_TRUE(CanRecord(rec.parameters[k], why)) << k;
}

}  // namespace
}  // namespace zoniq
