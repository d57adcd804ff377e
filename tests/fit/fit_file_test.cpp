// The curve-fitting settings file: exact bytes, round trip, hostile lines; the results table.
#include "fit/fit_file.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "batch/batch_setup.hpp"
#include "celldef/cell_state.hpp"
#include "fit/fit_run.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

std::array<int, 4> Label(const char* l1, const char* l2, const char* l3 = "nihil", const char* l4 = "nihil") {
  return {BatchKeyWordToBP_constant(1, l1), BatchKeyWordToBP_constant(2, l2), BatchKeyWordToBP_constant(3, l3),
          BatchKeyWordToBP_constant(4, l4)};
}

struct Recorder {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, test::HomeFolder()};
};

// Two parameters and two measurements, the second with a fixed spectrum file in a Windows folder.
CurveFitter Example() {
  CurveFitter f;
  InitialiseCurveFitter(f);
  f.maxSteps = 40;
  f.stopStepSize = 1e-4;
  f.nParameters = 2;
  f.label[0] = Label("layer 1", "defect 1", "Nt total");
  f.minimum[0] = 1e13, f.maximum[0] = 1e16, f.startIsActual[0] = 1, f.logarithmic[0] = 1;
  f.label[1] = Label("layer 2", "thickness");
  f.minimum[1] = 0.02, f.maximum[1] = 0.1;
  f.nMeasurements = 2;
  f.measurement[0].file = "cell_A.iv";
  f.measurement[0].type = FIT_IV_LIGHT, f.measurement[0].illumination = 1, f.measurement[0].nPoints = 39;
  f.measurement[0].hasFixedParameter = 1;
  f.measurement[0].fixedLabel = Label("T", "nihil");
  f.measurement[0].fixedType = 2, f.measurement[0].fixedReal = 320;
  CurveFitMeasurement& m = f.measurement[1];
  m.file = "C:\\data\\cell A.cv";
  m.type = FIT_MS_DARK, m.show = 1, m.linlog = 1, m.weight = 0.5, m.nPoints = 21;
  m.hasFixedParameter = 1;
  m.fixedLabel = Label("illumination", "spectrum file");
  m.fixedType = 3, m.fixedText = "C:\\spectra\\AM0 : space.spe";
  return f;
}

TEST(FitFileTest, WritesTheLayoutExactlyAndReadsItBack) {
  // Written by hand from the layout: "key : value", reals sci 16.8 (fixed real sci 14.6),
  // integers of widths 4, 2, 3 and 1, quoted keywords and file names.
  CurveFitter f = Example();
  f.nMeasurements = 1;
  const std::string expected =
      "Max number of steps whilst curve fitting :   40\nMax step size whilst curve fitting :   1.00000000e-01\n"
      "Stop criterion for step size :   1.00000000e-04\nStop criterion for Chi square :   1.00000000e-07\n\n"
      "Curve fitting parameter  0 :\n\nlabel 1 : \"layer 1\"\nlabel 2 : \"defect 1\"\nlabel 3 : \"Nt total\"\n"
      "label 4 : \"nihil\"\nminimum value :   1.00000000e+13\nmaximum value :   1.00000000e+16\n"
      "start value = actual value :    1\nlogarithmic variation :  1\n\nCurve fitting parameter  1 :\n\n"
      "label 1 : \"layer 2\"\nlabel 2 : \"thickness\"\nlabel 3 : \"nihil\"\nlabel 4 : \"nihil\"\n"
      "minimum value :   2.00000000e-02\nmaximum value :   1.00000000e-01\nstart value = actual value :    0\n"
      "logarithmic variation :  0\n\nMeasurement to be fitted 0 :\n\nmeasurement file : \"cell_A.iv\"\n"
      "measurement type :  2\nmeasurement show :  0\nmeasurement illumination :  1\n"
      "measurement number of points :  39\nmeasurement linlog mode : 0\nmeasurement weight :   1.00000000e+00\n"
      "measurement fixed parameter :  1\nfixed parameter label 1 : \"T\"\nfixed parameter label 2 : \"nihil\"\n"
      "fixed parameter label 3 : \"nihil\"\nfixed parameter label 4 : \"nihil\"\n"
      "fixed parameter type : double (a value)\nfixed parameter value :   3.200000e+02\n";
  EXPECT_EQ(CurveFittingSettingsText(f), expected);

  // Read back (CRLF, a header line): the fixed labels must not attach to the last parameter,
  // the file names keep their drive colons and " : ", the illumination has a key of its own.
  f.nMeasurements = 2;
  Recorder r;
  CurveFitter back;
  ASSERT_EQ(ParseCurveFittingSettings(r.env, "> header\r\n" + CurveFittingSettingsText(f), "example.scf", back), 0);
  EXPECT_TRUE(r.ui.popups.empty());
  EXPECT_EQ(CurveFittingSettingsText(back), CurveFittingSettingsText(f));
  EXPECT_EQ(back.label, f.label);
  for (int m = 0; m < f.nMeasurements; ++m) EXPECT_EQ(back.measurement[m], f.measurement[m]) << m;
}

TEST(FitFileTest, RefusesLinesItCannotTake) {
  const std::string head = "Max number of steps whilst curve fitting :   25\n";
  const std::string parameter = "Curve fitting parameter  0 :\n";
  const std::string measurement = "Measurement to be fitted 0 :\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {head + "Max step size whilst curve fitting :   1.0e-01x\n", "line 2"},  // a number running into text
      {"Max number of steps whilst curve fitting :   2.5\n", "line 1"},
      {head + parameter + "label 1 : \"layer 9x\"\n", "line 3"},  // no batch keyword
      {head + parameter + "label 5 : \"layer 1\"\n", "line 3"},
      {head + "Curve fitting parameter 12 :\n", "line 2"},
      {head + "minimum value :   1.0e+13\n", "line 2"},  // before any parameter
      {head + parameter + "maximum value :   1e999\n", "line 3"},
      {head + measurement + "measurement type : 21\n", "line 3"},
      {head + measurement + "measurement type : -2\n", "line 3"},
      {head + measurement + "fixed parameter type : boolean\n", "line 3"},
  };
  for (const auto& [text, where] : cases) {
    SCOPED_TRACE(text);
    Recorder r;
    CurveFitter f = Example();
    ASSERT_EQ(ParseCurveFittingSettings(r.env, text, "bad.scf", f), -1);
    ASSERT_EQ(r.ui.popups.size(), 1u);
    EXPECT_NE(r.ui.popups[0].message.find("bad.scf\n" + where + ":"), std::string::npos) << r.ui.popups[0].message;
    EXPECT_EQ(f.nParameters, 2);  // the record is left as it was
  }
}

TEST(FitFileTest, LoadingDropsWhatTheCellCannotTakeAndReadsTheMeasurements) {
  // Parameter 1 names a layer the three-layer cell does not have and measurement 0 a missing file:
  // both are dropped with their messages; the rest is kept and the measured points are read (the
  // shipped fit examples check that what is read is right).
  test::TempDir dir;
  const std::string measured = test::HomeFolder() + "/measurements/CIGS_measured.iv";
  const std::string measurement = "\"\nmeasurement type : 2\nMeasurement to be fitted 1 :\nmeasurement file : \"";
  test::WriteWholeFile(dir.file("two.scf"),
                       "> a header line\nCurve fitting parameter  0 :\nlabel 1 : \"layer 1\"\nlabel 2 : \"NA\"\n"
                       "minimum value : 1e15\nmaximum value : 1e17\nlogarithmic variation : 1\n"
                       "Curve fitting parameter  1 :\nlabel 1 : \"layer 7\"\nlabel 2 : \"thickness\"\n"
                       "minimum value : 1\nmaximum value : 2\nMeasurement to be fitted 0 :\nmeasurement file : \"" +
                           dir.file("missing.iv") + measurement + measured + "\"\nmeasurement type : 2\n");
  Recorder r;
  CellState cell;
  cell.zonnecel.numberOfLayers = 3;
  CurveFitter f = Example();
  ASSERT_EQ(SetCurveFittingFromFile(r.env, dir.file("two.scf"), cell.zonnecel, LoadFitMeasurement, f), 0);
  ASSERT_EQ(r.ui.popups.size(), 2u);
  EXPECT_NE(r.ui.popups[0].message.find("Curve fitting parameter 1 not available"), std::string::npos);
  EXPECT_NE(r.ui.popups[1].message.find("Measurement file 0 not found"), std::string::npos);
  EXPECT_EQ(
      std::make_tuple(f.nParameters, f.name[0], f.nMeasurements, f.measurement[0].file, f.measurement[0].x.size()),
      std::make_tuple(1, std::string("layer 1>>NA>>nihil>>nihil"), 1, measured, std::size_t{39}));
}

TEST(FitFileTest, ResultsTableReportsTheBestIteration) {
  // Three iterations of one parameter with chi-squares 0.5, 0.25, 0.75: the best is iteration 1.
  CurveFitter f;
  InitialiseCurveFitter(f);
  f.nParameters = 1, f.nMeasurements = 1, f.maxSteps = 3;
  f.label[0] = Label("layer 1", "NA"), f.name[0] = "layer 1>>NA>>nihil>>nihil";
  f.minimum[0] = 1e15, f.maximum[0] = 1e17, f.logarithmic[0] = 1;
  f.measurement[0].type = FIT_CV_DARK, f.measurement[0].file = "a.cv";
  ResetCurveFitRunTime(f);
  f.running.iteration = 2;
  f.running.parameter[0] = {1e16, 2e16, 4e16};
  f.running.ChiSq[0] = f.running.ChiSqTotal = {0.5, 0.25, 0.75};
  std::string text, why;
  ASSERT_TRUE(CurveFitResultsText(f, text, why));
  EXPECT_EQ(
      text,
      "table of the curve fitting parameters\n"
      "number\tname\tminimum\tmaximum\tstart value\tlast value\tbest value\n"
      "  1\t\"layer 1>>NA>>nihil>>nihil\"\t  1.0000e+15\t  1.0000e+17\t  1.000000e+16\t  4.000000e+16\t  2.000000e+16\n"
      "lowest Chi square at iteration\t   1\t  2.500000e-01\ntable of the measurements to fit\n"
      "number\ttype\tmeasurement file\tlight\tfixed parameter name\n  1\t\"C (V)\"\t\"a.cv\"\t0\n"
      "evolution of the parameters during the curve fitting calculation\niteration\tparameter 1\n"
      "   0\t  1.000000e+16\n   1\t  2.000000e+16\n   2\t  4.000000e+16\n"
      "evolution of Chi Square during the curve fitting calculation\niteration\tmeasurement 1\ttotal\n"
      "   0\t  5.000000e-01\t  5.000000e-01\n   1\t  2.500000e-01\t  2.500000e-01\n"
      "   2\t  7.500000e-01\t  7.500000e-01\n");
  InitialiseCurveFitRunTime(f);
  EXPECT_FALSE(CurveFitResultsText(f, text, why));
  EXPECT_EQ(why, "No curve fitting calculatieons done: nothing to save or to show !");
}

}  // namespace
}  // namespace zoniq
