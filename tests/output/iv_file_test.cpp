// The I-V file: whole blocks against text written out by hand from the layout, the padding of
// sweeps cut short by a convergence error, the cell-parameter lines, the numbers read back, and
// the ways of delivering the text (show, save through the dialog, an open file).
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "output/result_files.hpp"
#include "output_fixture.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::OutputEnvironment;

// A three-point sweep with simple currents (mA/cm2).
SimulationRecord ThreePointIV() {
  SimulationRecord r = test::IlluminatedRecord();
  IVResult& iv = r.iv;
  iv.present = 1;
  iv.points = 3;
  iv.pointsDone = 3;
  iv.v = {-0.1, 0.2, 0.5};
  iv.j = {-30.5, -29.75, 12.125};
  iv.jbulk = {1.25, 1.5, 2.0};
  iv.jifr = {0.0, 0.0, 0.0};
  iv.js_n = {-1e-5, -1e-5, -1e-5};
  iv.js_p = {2e-7, 2e-7, 2e-7};
  iv.jSRH = {1.0, 1.0, 1.0};
  iv.jRadiative = {0.25, 0.25, 0.25};
  iv.jAuger = {0.0, 0.0, 0.0};
  return r;
}

const char* kIVHeading =
    "    v(V)\tjtot(mA/cm2)\t   jbulk(mA/cm2)\tjifr(mA/cm2)\tjs_n(mA/cm2)\tjs_p(mA/cm2)\tj_SRH(mA/cm2)\t"
    "j_Radiative(mA/cm2)\tj_Auger(mA/cm2)\n";

// The columns jifr … j_Auger of the three rows above (each a tab, two blanks, sci 16.8).
const char* kIVTail =
    "\t    0.00000000e+00\t   -1.00000000e-05\t    2.00000000e-07\t    1.00000000e+00\t    2.50000000e-01"
    "\t    0.00000000e+00\n";

TEST(IVFile, ThreePointSweepWithCellParametersByteForByte) {
  OutputEnvironment o;
  SimulationRecord r = ThreePointIV();
  CellParameters& p = r.cell;
  p.Voc = 0.45;
  p.Jsc = 30.0625;
  p.FF = 75.5;
  p.eta = 10.25;
  p.Vmpp = 0.3625;
  p.Jmpp = 28.5;
  p.vocValid = p.jscValid = p.ffValid = p.etaValid = 1;
  p.vocExtrapolated = 1;
  p.anyExtrapolated = 1;  // FF depends on the extrapolated Voc
  const std::string expected = test::IlluminatedIVHeader() + kIVHeading +
                               "\n"
                               "  -0.100000\t   -3.05000000e+01\t        1.25000000e+00" +
                               kIVTail + "   0.200000\t   -2.97500000e+01\t        1.50000000e+00" + kIVTail +
                               "   0.500000\t    1.21250000e+01\t        2.00000000e+00" + kIVTail +
                               "\n"
                               "solar cell parameters deduced from calculated IV-curve:\n"
                               "Voc =\t    0.450000\tVolt\textrapolated\n"
                               "Jsc =\t   30.06250000\tmA/cm2\n"
                               "FF =\t   75.5000\t%\textrapolated\n"
                               "eta =\t   10.2500\t%\n"
                               "V_MPP =\t    0.362500\tVolt\n"
                               "J_MPP =\t   28.50000000\tmA/cm2\n"
                               "\n\n\n";
  EXPECT_EQ(IVBlock(r, o.context), expected);
}

TEST(IVFile, OnlyValidParametersAreWritten) {
  OutputEnvironment o;
  SimulationRecord r = ThreePointIV();
  std::string block = IVBlock(r, o.context);
  // Nothing valid: no parameter lines at all, the table is followed by three empty lines.
  EXPECT_EQ(block.find("solar cell parameters"), std::string::npos);
  EXPECT_EQ(block.substr(block.size() - 4), "\n\n\n\n");

  r.cell.Jsc = 29.0;
  r.cell.jscValid = 1;
  r.cell.jscExtrapolated = 1;
  block = IVBlock(r, o.context);
  EXPECT_EQ(block.substr(block.find("  0.500000")),
            std::string("  0.500000\t    1.21250000e+01\t        2.00000000e+00") + kIVTail +
                "\nsolar cell parameters deduced from calculated IV-curve:\n"
                "Jsc =\t   29.00000000\tmA/cm2\textrapolated\n\n\n\n");

  // With a generation file the efficiency is a collection efficiency; its lines carry the mark
  // when Jsc, from which it is computed, was extrapolated.
  r.wp.generationFromFile = 1;
  r.cell.eta = 96.5;
  r.cell.etaValid = 1;
  block = IVBlock(r, o.context);
  EXPECT_NE(block.find("collection efficiency =\t   96.5000\t%\textrapolated\n"
                       "V_MPP =\t    0.000000\tVolt\textrapolated\n"
                       "J_MPP =\t    0.00000000\tmA/cm2\textrapolated\n"),
            std::string::npos)
      << block;
  EXPECT_EQ(block.find("eta ="), std::string::npos);
}

// A batch of three runs of 11 points whose second stopped after 5 points: the block of the
// second run under each "output list after a convergence error" setting.
class Padding : public ::testing::TestWithParam<int> {};

TEST_P(Padding, SecondRunOfABatchCutAfterFivePoints) {
  OutputEnvironment o;
  o.context.actionListMode = GetParam();
  std::list<SimulationRecord> runs;
  for (int k = 0; k < 3; ++k) {
    SimulationRecord r = test::IlluminatedRecord();
    r.number = k + 1;
    r.batch.numberOfParameters = 1;
    r.batch.step = k + 1;
    r.batch.numberOfSteps = 3;
    r.batch.lines = {"step " + std::to_string(k + 1)};
    r.iv.present = 1;
    r.iv.points = 11;
    r.iv.pointsDone = k == 1 ? 5 : 11;
    for (std::vector<double>* a : {&r.iv.v, &r.iv.j, &r.iv.jbulk, &r.iv.jifr, &r.iv.js_n, &r.iv.js_p, &r.iv.jSRH,
                                   &r.iv.jRadiative, &r.iv.jAuger})
      a->assign(11, 0.0);
    for (int i = 0; i < 11; ++i) r.iv.v[static_cast<std::size_t>(i)] = 0.1 * i;
    runs.push_back(r);
  }
  const std::string block = IVBlock(*std::next(runs.begin()), o.context);
  std::istringstream in(block.substr(block.find("\n\n", block.find("    v(V)")) + 2));
  int data = 0, zero = 0, blank = 0;
  const std::string zeroRow = "0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0";
  const std::string blankRow = " \t \t \t \t \t \t \t \t ";
  for (std::string line; std::getline(in, line) && !line.empty();) {
    if (line == zeroRow)
      ++zero;
    else if (line == blankRow)
      ++blank;
    else if (line[0] == ' ' && line.find("e+00") != std::string::npos)
      ++data;
    else
      ADD_FAILURE() << "unexpected row '" << line << "'";
  }
  EXPECT_EQ(data, 5);
  EXPECT_EQ(zero, GetParam() == kListFillZeros ? 6 : 0);
  EXPECT_EQ(blank, GetParam() == kListFillWhite ? 6 : 0);

  // The whole file holds the three blocks in order, each with its own batch block.
  test::TempDir dir;
  std::FILE* f = std::fopen(dir.file("batch.iv").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputOpenFile, f}, o.context), kWritten);
  std::fclose(f);
  const std::string all = test::ReadWholeFile(dir.file("batch.iv"));
  EXPECT_EQ(all, IVBlock(runs.front(), o.context) + block + IVBlock(runs.back(), o.context));
  EXPECT_NE(all.find("**Batch parameters**\nstep 2\n\n    v(V)"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(AllModes, Padding, ::testing::Values(kListTruncate, kListFillZeros, kListFillWhite));

TEST(IVFile, NumbersReadBackWithinTheirWrittenPrecision) {
  OutputEnvironment o;
  SimulationRecord r = ThreePointIV();
  r.iv.v = {-0.123456789, 0.0000004, 0.987654321};
  r.iv.j = {-31.234567891234, 1.5e-12, 4.56789e+3};
  r.iv.jAuger = {-7.7e-30, 6.02e23, 1e-300};
  const std::string block = IVBlock(r, o.context);
  std::istringstream in(block.substr(block.find("\n\n", block.find("    v(V)")) + 2));
  for (std::size_t i = 0; i < 3; ++i) {
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    std::istringstream row(line);
    std::vector<double> v;
    for (double x; row >> x;) v.push_back(x);
    ASSERT_EQ(v.size(), 9u) << line;
    // v has 6 decimals (half a unit of the last: 5e-7 V); the currents 9 significant digits.
    EXPECT_CLOSE(v[0], r.iv.v[i], 0.0, 5e-7);
    EXPECT_CLOSE(v[1], r.iv.j[i], 5e-9, 0.0);
    EXPECT_CLOSE(v[2], r.iv.jbulk[i], 5e-9, 0.0);
    EXPECT_CLOSE(v[8], r.iv.jAuger[i], 5e-9, 0.0);
  }
}

TEST(IVFile, RecordsWithoutAnIVResultAreSkippedAndAnOpenFileStaysOpen) {
  OutputEnvironment o;
  std::list<SimulationRecord> runs{SimulationRecord{}, ThreePointIV(), SimulationRecord{}};
  test::TempDir dir;
  std::FILE* f = std::fopen(dir.file("one.iv").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("before\n", f);
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputOpenFile, f}, o.context), kWritten);
  // The caller still owns the file and writes on after the block.
  EXPECT_GE(std::fputs("after\n", f), 0);
  ASSERT_EQ(std::fclose(f), 0);
  EXPECT_EQ(test::ReadWholeFile(dir.file("one.iv")), "before\n" + IVBlock(ThreePointIV(), o.context) + "after\n");
  EXPECT_TRUE(o.ui.popups.empty());

  // Nothing calculated yet: nothing written, and the user is told.
  EXPECT_EQ(iv_naar_file({}, OutputTarget{kOutputShow, nullptr}, o.context), kNothingWritten);
  ASSERT_EQ(o.ui.popups.size(), 1u);
  EXPECT_EQ(o.ui.popups[0].title, "Function Save or Show");
  // The I-V writer fills no result structure.
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputFill, nullptr}, o.context), kNothingWritten);
}

TEST(IVFile, SaveThroughTheDialog) {
  OutputEnvironment o;
  test::TempDir dir;
  std::list<SimulationRecord> runs{ThreePointIV()};

  // The user cancels: nothing is written and nothing is said.
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputSave, nullptr}, o.context), kNothingWritten);
  ASSERT_EQ(o.ui.asked.size(), 1u);
  EXPECT_EQ(o.ui.asked[0].folder, "/zoniq-home/results");
  EXPECT_EQ(o.ui.asked[0].pattern, "*.iv");
  EXPECT_TRUE(o.ui.saving);
  EXPECT_TRUE(o.ui.popups.empty());

  // A chosen file is created, or truncated when it exists, and holds exactly the text.
  const std::string path = dir.file("sweep.iv");
  test::WriteWholeFile(path, std::string(100000, 'z'));
  o.ui.answer = path;
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputSave, nullptr}, o.context), kWritten);
  EXPECT_EQ(test::ReadWholeFile(path), IVBlock(runs.front(), o.context));

  // A file that cannot be created is reported and the writer says it failed.
  o.ui.answer = dir.file("no-such-folder/sweep.iv");
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputSave, nullptr}, o.context), kWriteFailed);
  ASSERT_EQ(o.ui.popups.size(), 1u);
  EXPECT_NE(o.ui.popups[0].message.find("cannot be opened for writing"), std::string::npos);
}

}  // namespace
}  // namespace zoniq
