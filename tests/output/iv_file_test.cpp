// The I-V file: whole blocks against text written out by hand from the layout, the point-status
// column of curves with recovered points, the padding of sweeps cut short by a convergence
// error, the numbers read back, and the ways of delivering the text. (Batch blocks: header test.)
#include <gtest/gtest.h>

#include <cstdio>

#include "output/result_files.hpp"
#include "output_fixture.hpp"
#include "solver/calculation_variables.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::OutputEnvironment;

// A three-point sweep with simple currents (mA/cm2).
SimulationRecord ThreePointIV() {
  SimulationRecord r = test::IlluminatedRecord();
  IVResult& iv = r.iv;
  iv.present = 1;
  iv.points = iv.pointsDone = 3;
  iv.v = {-0.1, 0.2, 0.5};
  iv.j = {-30.5, -29.75, 12.125};
  iv.jbulk = {1.25, 1.5, 2.0};
  iv.jifr = iv.jAuger = {0.0, 0.0, 0.0};
  iv.js_n = {-1e-5, -1e-5, -1e-5};
  iv.js_p = {2e-7, 2e-7, 2e-7};
  iv.jSRH = {1.0, 1.0, 1.0};
  iv.jRadiative = {0.25, 0.25, 0.25};
  return r;
}

const std::string kIVHeading =
    "    v(V)\tjtot(mA/cm2)\t   jbulk(mA/cm2)\tjifr(mA/cm2)\tjs_n(mA/cm2)\tjs_p(mA/cm2)\tj_SRH(mA/cm2)\t"
    "j_Radiative(mA/cm2)\tj_Auger(mA/cm2)";
// The first three fields of the rows above (v fixed 10.6, j and jbulk sci 16.8), and the columns
// jifr … j_Auger (each a tab, two blanks, sci 16.8).
const std::string kRow[] = {"  -0.100000\t   -3.05000000e+01\t        1.25000000e+00",
                            "   0.200000\t   -2.97500000e+01\t        1.50000000e+00",
                            "   0.500000\t    1.21250000e+01\t        2.00000000e+00"};
const std::string kIVTail =
    "\t    0.00000000e+00\t   -1.00000000e-05\t    2.00000000e-07\t    1.00000000e+00\t    2.50000000e-01"
    "\t    0.00000000e+00";

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
  EXPECT_EQ(IVBlock(r, o.context),
            test::IlluminatedIVHeader() + kIVHeading + "\n\n" + kRow[0] + kIVTail + "\n" + kRow[1] + kIVTail + "\n" +
                kRow[2] + kIVTail +
                "\n\nsolar cell parameters deduced from calculated IV-curve:\n"
                "Voc =\t    0.450000\tVolt\textrapolated\nJsc =\t   30.06250000\tmA/cm2\n"
                "FF =\t   75.5000\t%\textrapolated\neta =\t   10.2500\t%\nV_MPP =\t    0.362500\tVolt\n"
                "J_MPP =\t   28.50000000\tmA/cm2\n\n\n\n");

  // Only valid parameters are written; none at all: the table is followed by three empty lines.
  r.cell = CellParameters{};
  std::string block = IVBlock(r, o.context);
  EXPECT_EQ(block.substr(block.find(kRow[2])), kRow[2] + kIVTail + "\n\n\n\n");
  r.cell.Jsc = 29.0;
  r.cell.jscValid = r.cell.jscExtrapolated = 1;
  block = IVBlock(r, o.context);
  EXPECT_EQ(block.substr(block.find(kRow[2])), kRow[2] + kIVTail +
                                                   "\n\nsolar cell parameters deduced from calculated IV-curve:\n"
                                                   "Jsc =\t   29.00000000\tmA/cm2\textrapolated\n\n\n\n");
  // With a generation file the efficiency is a collection efficiency; its lines carry the mark
  // when Jsc, from which it is computed, was extrapolated.
  r.wp.generationFromFile = 1;
  r.cell.eta = 96.5;
  r.cell.etaValid = 1;
  block = IVBlock(r, o.context);
  EXPECT_NE(block.find("collection efficiency =\t   96.5000\t%\textrapolated\nV_MPP =\t    0.000000\tVolt\t"
                       "extrapolated\nJ_MPP =\t    0.00000000\tmA/cm2\textrapolated\n"),
            std::string::npos)
      << block;
  EXPECT_EQ(block.find("eta ="), std::string::npos);
}

TEST(IVFile, RecoveredPointsAddAStatusColumn) {
  OutputEnvironment o;
  o.context.actionListMode = kListFillZeros;
  SimulationRecord r = ThreePointIV();
  r.iv.pointsDone = 2;  // the third point failed: padded over all ten fields
  r.iv.state = {kPointGummel, kPointStepHalving, kPointGummel};
  EXPECT_EQ(IVBlock(r, o.context),
            test::IlluminatedIVHeader() + kIVHeading + "\tpoint status\n\n" + kRow[0] + kIVTail + "\t0\n" + kRow[1] +
                kIVTail + "\t2\n0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\n\n" +
                "point status: 0 converged, 1 recovered by the coupled Newton iteration, 2 reached by halving the "
                "bias step, 3 reached by continuation in light intensity\n\n\n\n");
  // Plain curves keep the nine columns: a state beyond the points done (a failed point) does
  // not count.
  r.iv.state = {kPointGummel, kPointGummel, kPointFailed};
  const std::string plain = IVBlock(r, o.context);
  r.iv.state.clear();
  EXPECT_EQ(plain, IVBlock(r, o.context));
  EXPECT_EQ(plain.find("point status"), std::string::npos);
  // Truncated output: the point not calculated has no row at all.
  o.context.actionListMode = kListTruncate;
  EXPECT_EQ(IVBlock(r, o.context).substr(plain.find(kRow[1])), kRow[1] + kIVTail + "\n\n\n\n");
}

TEST(IVFile, NumbersReadBackWithinTheirWrittenPrecision) {
  OutputEnvironment o;
  SimulationRecord r = ThreePointIV();
  r.iv.v = {-0.123456789, 0.0000004, 0.987654321};
  r.iv.j = {-31.234567891234, 1.5e-12, 4.56789e+3};
  r.iv.jAuger = {-7.7e-30, 6.02e23, 1e-300};
  const std::vector<std::vector<double>> rows = test::TableRows(IVBlock(r, o.context), "    v(V)");
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(rows[i].size(), 9u);
    // v has 6 decimals (half a unit of the last: 5e-7 V); the currents 9 significant digits.
    EXPECT_CLOSE(rows[i][0], r.iv.v[i], 0.0, 5e-7);
    EXPECT_CLOSE(rows[i][1], r.iv.j[i], 5e-9, 0.0);
    EXPECT_CLOSE(rows[i][2], r.iv.jbulk[i], 5e-9, 0.0);
    EXPECT_CLOSE(rows[i][8], r.iv.jAuger[i], 5e-9, 0.0);
  }
}

TEST(IVFile, DeliveryToAnOpenFileAndThroughTheDialog) {
  OutputEnvironment o;
  test::TempDir dir;
  // The blocks one after the other, records without an I-V result skipped; an open file stays
  // open for the caller.
  std::list<SimulationRecord> runs{SimulationRecord{}, ThreePointIV(), SimulationRecord{}, ThreePointIV()};
  std::FILE* f = std::fopen(dir.file("one.iv").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("before\n", f);
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputOpenFile, f}, o.context), kWritten);
  EXPECT_GE(std::fputs("after\n", f), 0);
  ASSERT_EQ(std::fclose(f), 0);
  const std::string block = IVBlock(ThreePointIV(), o.context) + IVBlock(ThreePointIV(), o.context);
  EXPECT_EQ(test::ReadWholeFile(dir.file("one.iv")), "before\n" + block + "after\n");
  // The I-V writer fills no result structure.
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputFill, nullptr}, o.context), kNothingWritten);

  // The user cancels: nothing is written and nothing is said.
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputSave, nullptr}, o.context), kNothingWritten);
  ASSERT_EQ(o.ui.asked.size(), 1u);
  EXPECT_EQ(o.ui.asked[0], "/zoniq-home/results *.iv");
  EXPECT_TRUE(o.ui.popups.empty());
  // A chosen file is truncated when it exists and holds exactly the text.
  o.ui.answer = dir.file("sweep.iv");
  test::WriteWholeFile(*o.ui.answer, std::string(100000, 'z'));
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputSave, nullptr}, o.context), kWritten);
  EXPECT_EQ(test::ReadWholeFile(*o.ui.answer), block);
  // A file that cannot be created is reported and the writer says it failed.
  o.ui.answer = dir.file("no-such-folder/sweep.iv");
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputSave, nullptr}, o.context), kWriteFailed);
  ASSERT_EQ(o.ui.popups.size(), 1u);
  EXPECT_NE(o.ui.popups[0].message.find("cannot be opened for writing"), std::string::npos);
  // Nothing calculated yet: nothing written, and the user is told.
  EXPECT_EQ(iv_naar_file({}, OutputTarget{kOutputShow, nullptr}, o.context), kNothingWritten);
  ASSERT_EQ(o.ui.popups.size(), 2u);
  EXPECT_EQ(o.ui.popups[1].title, "Function Save or Show");
}

}  // namespace
}  // namespace zoniq
