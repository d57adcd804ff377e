// The batch model (step values, nesting, step counts), the batch parameter labels and the batch
// settings file: round trips, exact bytes of the layout, and the faults of a literal reader.
#include "batch/batch_file.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>
#include <utility>

#include "celldef/definition_file.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

int Code(int label, const char* keyword) { return BatchKeyWordToBP_constant(label, keyword); }
std::array<int, 4> Voltage() { return {Code(1, "V"), kNihil, kNihil, Code(4, "measurement workpoint")}; }

BatchParameter Range(double start, double stop, int n, int log = 0) {
  BatchParameter bp;
  bp.label = {Code(1, "layer 1"), Code(2, "thickness"), kNihil, kNihil};
  bp.startValue = start;
  bp.stopValue = stop;
  bp.numberOfSteps = n;
  bp.logarithmic = log;
  return bp;
}

struct Reader {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, test::HomeFolder()};
  int Parse(const std::string& text, BatchSetup& out) { return ParseBatchSettings(env, text, "test.sbf", out); }
};

TEST(BatchValues, RangesListsNestingAndStepCounts) {
  // Linear: (i*stop + (n-1-i)*start)/(n-1); logarithmic: start*(stop/start)^(i/(n-1)).
  const BatchParameter lin = Range(1.0, 2.0, 3), log = Range(1e15, 1e17, 3, 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(GetParaValue(lin, i), 1.0 + 0.5 * i) << i;
    EXPECT_CLOSE(GetParaValue(log, i), std::pow(10.0, 15 + i), 1e-14, 0) << i;
  }
  // One step is the start value; a step outside the range too.
  EXPECT_EQ(GetParaValue(Range(-0.3, 0.7, 1), 0), -0.3);
  EXPECT_EQ(GetParaValue(lin, 3), 1.0);
  // A list keeps its values whatever logarithmic flag and start value are left over.
  BatchParameter list = Range(0.0, 0.0, 3, 1);
  list.valuesFromList = 1;
  list.valueList = {-0.25, 0.5, 3.0};
  EXPECT_EQ(GetParaValue(list, 0), -0.25);
  EXPECT_EQ(GetParaValue(list, 2), 3.0);

  BatchSetup b;
  b.numberOfParameters = 2;
  b.bp[0] = Range(1, 3, 3);
  b.bp[1] = Range(1, 4, 4);
  long long steps = 0;
  std::string why;
  ASSERT_TRUE(CountBatchSteps(b, steps, why));
  EXPECT_EQ(steps, 12);
  // The first parameter is the outer loop: (0,0) (0,1) (0,2) (0,3) (1,0) ...
  for (long long k = 0; k < steps; ++k) {
    const BatchStepPosition p = StepPosition(b, k);
    EXPECT_EQ((std::array{p.definitionFile, p.step[0], p.step[1]}), (std::array{-1, int(k / 4), int(k % 4)})) << k;
  }
  // Two definition files around it: 24 steps, the file outermost.
  b.variationOfDefinitionFiles = 1;
  b.definitionFiles = {"a.def", "b.def"};
  ASSERT_TRUE(CountBatchSteps(b, steps, why));
  EXPECT_EQ(steps, 24);
  const BatchStepPosition p13 = StepPosition(b, 13);
  EXPECT_EQ((std::array{p13.definitionFile, p13.step[0], p13.step[1]}), (std::array{1, 0, 1}));
  // Refused: stepping together with unequal counts (4 beside 3), and no step.
  b.variationOfDefinitionFiles = 0;
  b.bp[1].simultaneous = 1;
  EXPECT_FALSE(CountBatchSteps(b, steps, why));
  b.bp[1].simultaneous = 0;
  b.bp[1].numberOfSteps = 0;
  EXPECT_FALSE(CountBatchSteps(b, steps, why));
  // Stepping together: 3 steps, both at the same index.
  b.bp[1] = Range(1, 4, 3);
  b.bp[1].simultaneous = 1;
  ASSERT_TRUE(CountBatchSteps(b, steps, why));
  EXPECT_EQ(steps, 3);
  EXPECT_EQ(StepPosition(b, 2).step[1], 2);
  // Three ranges of 9999 steps: 1e12 steps would overflow 32 bits; refused by the limit.
  b.numberOfParameters = 3;
  for (std::size_t i = 0; i < 3; ++i) b.bp[i] = Range(1, 2, 9999);
  EXPECT_FALSE(CountBatchSteps(b, steps, why));
  EXPECT_NE(why.find("1000000"), std::string::npos);
}

TEST(BatchFile, ExactLayoutAndRoundTripKeepSignsLabelsListsAndFiles) {
  BatchSetup b;
  b.numberOfParameters = 1;
  b.bp[0] = Range(-0.5, 0.25, 4);
  b.bp[0].label = Voltage();
  // Written by hand from the layout: Int 1, Int 2, sci 16.8, Int 4.
  EXPECT_EQ(BatchSettingsText(b),
            "\nBatch parameter 0 :\n\nLabel 1 : V\nLabel 2 : nihil\nLabel 3 : nihil\nLabel 4 : measurement workpoint\n"
            "simultaneous :  0\nvalues from a list :  0\n"
            "startvalue :  -5.00000000e-01\nstopvalue :   2.50000000e-01\n"
            "number of steps :    4\nlogarithmic variation :  0\n");
  // "Rsh" is not "Rs", "composition file" not "composition"; an unknown keyword has no code.
  EXPECT_NE(Code(1, "Rsh"), Code(1, "Rs"));
  EXPECT_NE(Code(2, "composition file"), Code(2, "composition"));
  EXPECT_EQ(Code(2, "no such thing"), -2);
  b.numberOfParameters = 6;
  b.bp[4].label = {Code(1, "Rsh"), kNihil, kNihil, Code(4, "measurement workpoint")};
  b.bp[5].label = {Code(1, "layer 1"), Code(2, "composition file"), kNihil, kNihil};
  b.bp[0] = Range(-0.3, -0.3, 1);
  b.bp[0].label = Voltage();
  b.bp[1] = Range(1e15, 1e17, 3, 1);
  b.bp[1].label = {Code(1, "layer 2"), Code(2, "defect 1"), Code(3, "sigma_p\t"), Code(4, "level 2 of defect")};
  BatchParameter& t = b.bp[2];
  t.label = {Code(1, "T"), kNihil, kNihil, Code(4, "measurement workpoint")};
  t.simultaneous = t.valuesFromList = t.listSaved = 1;
  t.filePath = "C:\\data";
  t.fileName = "temps.bdf";
  t.valueList = {-2.5e-1, 300.0, 3.25e2};
  t.numberOfSteps = 3;
  BatchParameter& s = b.bp[3];
  s.label = {Code(1, "illumination"), Code(2, "spectrum file"), kNihil, Code(4, "measurement workpoint")};
  s.valuesFromList = s.valuesAreFileNames = 1;
  s.fileNameList = {"AM1_5G 1 sun.spe", "red light.spe"};
  s.numberOfSteps = 2;
  b.variationOfDefinitionFiles = 1;
  b.definitionFiles = {"CIGS.def", "/data/cells/CdTe: thin.def"};  // a folder is kept
  Reader r;
  BatchSetup back;
  ASSERT_EQ(r.Parse(BatchSettingsText(b), back), 0);
  EXPECT_TRUE(r.ui.popups.empty());
  EXPECT_EQ(back.numberOfParameters, 6);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(back.bp[i], b.bp[i]) << i;
  EXPECT_EQ(back.definitionFiles, b.definitionFiles);
  EXPECT_EQ(BatchSettingsText(back), BatchSettingsText(b));
}

TEST(BatchFile, MendedFaultsOfALiteralReader) {
  Reader r;
  BatchSetup b;
  // A minus sign after the key; a list value after its index; "filepath" is not a file entry;
  // CR LF line ends; a file entry before any parameter and a tenth parameter are reported and
  // ignored.
  const std::string text =
      "DO NOT EDIT THIS FILE: THIS IS A ZONIQ SYSTEM FILE\r\nfile   0:stray.spe\r\n"
      "Batch parameter 0 :\r\n"
      "Label 1 : V\r\nLabel 2 : nihil\r\nLabel 3 : nihil\r\nLabel 4 : measurement workpoint\r\n"
      "simultaneous :  0\r\nvalues from a list :  0\r\n"
      "startvalue :  -5.00000000e-01\r\nstopvalue :  -5.00000000e-01\r\n"
      "number of steps :    1\r\nlogarithmic variation :  0\r\n"
      "Batch parameter 1 :\r\n"
      "Label 1 : layer 1\r\nLabel 2 : thickness\r\nLabel 3 : nihil\r\nLabel 4 : nihil\r\n"
      "simultaneous :  0\r\nvalues from a list :  1\r\nvalues are file names :  0\r\n"
      "number of parameters :    3\r\nlist of parameters saved :  1\r\n"
      "filepath : C:\\lists\r\nfilename : d.bdf\r\n"
      "parameter   0:   1.00000000e+00\r\nparameter   1:   2.00000000e+00\r\nparameter   2:  -2.50000000e-01\r\n"
      "Batch parameter 9 :\r\nLabel 1 : T\r\nstartvalue : 1\r\n";
  ASSERT_EQ(r.Parse(text, b), 0);
  EXPECT_EQ(b.numberOfParameters, 2);
  EXPECT_EQ(b.bp[0].startValue, -0.5);
  EXPECT_EQ(b.bp[0].label[0], Code(1, "V"));
  EXPECT_EQ(b.bp[1].valueList, (std::vector<double>{1.0, 2.0, -0.25}));
  EXPECT_EQ(b.bp[1].numberOfSteps, 3);
  EXPECT_TRUE(b.bp[1].fileNameList.empty());
  EXPECT_EQ(b.bp[1].filePath + " " + b.bp[1].fileName, "C:\\lists d.bdf");
  ASSERT_EQ(r.ui.popups.size(), 2u);
  EXPECT_NE(r.ui.popups[0].message.find("before any"), std::string::npos);
  EXPECT_NE(r.ui.popups[1].message.find("Batch parameter 9 does not exist"), std::string::npos);
}

TEST(BatchFile, HostileInputIsRefusedWithTheLine) {
  const char* bad[] = {
      "Batch parameter 0 :\nstartvalue : 1.5abc\n",    // stray text after a number
      "Batch parameter 0 :\nstartvalue : nan\n",       // not a number
      "Batch parameter 0 :\nnumber of steps : 0\n",    // no step
      "Batch parameter 0 :\nnumber of steps : 2.5\n",  // not whole
      "Batch parameter 0 :\nparameter   1:  1.0\n",    // index 0 expected
      "Batch parameter 0 :\nLabel 1 : kitchen\n",      // no such label
      "Batch parameter 1 :\n",                         // parameter 0 missing
      "Batch parameter 0 :\nnumber of parameters : 2\nvalues from a list : 1\nparameter   0: 1\n",  // 1 of 2
  };
  for (const char* text : bad) {
    Reader r;
    BatchSetup b;
    b.numberOfParameters = 7;  // untouched on failure
    EXPECT_EQ(r.Parse(text, b), -1) << text;
    EXPECT_EQ(b.numberOfParameters, 7);
    ASSERT_FALSE(r.ui.popups.empty()) << text;
    EXPECT_NE(r.ui.popups.back().message.find("(line "), std::string::npos) << r.ui.popups.back().message;
  }
}

TEST(BatchFile, LoadingChecksTheParametersAgainstTheCellAndReadsListFiles) {
  Reader r;
  test::TempDir dir;
  BatchSetup b;
  b.numberOfParameters = 2;
  b.bp[0] = Range(1, 2, 2);
  b.bp[0].label[0] = Code(1, "layer 5");  // the default cell has no layers
  b.bp[1] = Range(0.1, 0.5, 3);
  b.bp[1].label = Voltage();
  test::WriteWholeFile(dir.file("b.sbf"), BatchSettingsText(b));
  CellState cell;
  BatchSetup loaded;
  ASSERT_EQ(SetBatchFromFile(r.env, dir.file("b.sbf"), cell.zonnecel, loaded), 0);
  EXPECT_EQ((std::tuple{loaded.numberOfParameters, loaded.bp[0].label[0], loaded.numberOfSteps}),
            (std::tuple{1, Code(1, "V"), 3}));
  ASSERT_EQ(r.ui.popups.size(), 1u);
  EXPECT_NE(r.ui.popups[0].message.find("Batch parameter 0 not available"), std::string::npos);
  // A missing file leaves the batch as it was.
  EXPECT_EQ(SetBatchFromFile(r.env, dir.file("none.sbf"), cell.zonnecel, loaded), -1);
  EXPECT_EQ(loaded.numberOfParameters, 1);

  // Value lists: a heading and blank lines are skipped, text after a value is refused, and a
  // list longer than the limit is cut with a message.
  test::WriteWholeFile(dir.file("v.bdf"), "values of the batch\n-1.5\n2e3\n\n0.25\n");
  std::vector<double> v;
  EXPECT_EQ(ReadBDFValues(r.env, dir.file("v.bdf"), v), 3);
  EXPECT_EQ(v, (std::vector<double>{-1.5, 2000.0, 0.25}));
  test::WriteWholeFile(dir.file("bad.bdf"), "1.0\n2.0 volts\n");
  EXPECT_EQ(ReadBDFValues(r.env, dir.file("bad.bdf"), v), -1);
  std::string many;
  for (int i = 0; i < kMaxBatchListEntries + 5; ++i) many += std::to_string(i) + "\n";
  test::WriteWholeFile(dir.file("many.bdf"), many);
  r.ui.popups.clear();
  EXPECT_EQ(ReadBDFValues(r.env, dir.file("many.bdf"), v), kMaxBatchListEntries);
  EXPECT_EQ(r.ui.popups.size(), 1u);
  test::WriteWholeFile(dir.file("f.bdf"), "list\nfile: a.def\nfile:  b c.def \n");
  std::vector<std::string> names;
  EXPECT_EQ(ReadBDFFileNames(r.env, dir.file("f.bdf"), "t", names), 2);
  EXPECT_EQ(names[1], "b c.def");
}

}  // namespace
}  // namespace zoniq
