// Batch runs on the example CIGS cell: a batch step is exactly the single simulation of the
// same cell, with and without the working point carried over; parallel steps write what serial
// steps write; the recorder takes each step's own values and marks failed steps.
#include "batch/batch_run.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "batch/batch_file.hpp"
#include "common/text.hpp"
#include "measure/simulation_driver.hpp"
#include "output/result_files.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

int Code(int label, const char* keyword) { return BatchKeyWordToBP_constant(label, keyword); }

// A session's worth of state around the CIGS example, illuminated, with a short I-V sweep.
struct Fixture {
  SessionCore core{test::HomeFolder(), std::make_unique<RecordingUserInterface>()};
  CellState cell;
  SimulationState sim;
  BatchState batch;
  std::ostringstream progress;

  Fixture() {
    InitialiseSimulationState(sim, core.programFolder);
    EXPECT_EQ(ReadBatchDefinitionFile(core.env(), "CIGS.def", cell), 0);
    ApplyDefinitionWorkPoint(sim.wp, cell.definitionExtras.workPoint);
    sim.wp.dark = 0;
    ParseSweepRange("0:0.8:9", sim.actie.iv);
  }
  RecordingUserInterface& ui() { return static_cast<RecordingUserInterface&>(*core.ui); }
  void Thickness(std::vector<double> values) {
    BatchParameter& bp = batch.theBatch.bp[0];
    bp = BatchParameter{};
    bp.label = {Code(1, "layer 1"), Code(2, "thickness"), kNihil, kNihil};
    bp.valuesFromList = 1;
    bp.valueList = std::move(values);
    bp.numberOfSteps = static_cast<int>(bp.valueList.size());
    batch.theBatch.numberOfParameters = 1;
    batch.theBatch.numberOfSteps = bp.numberOfSteps;
  }
  int Run(bool recording, int jobs = 1) {
    batch.batchJobs = jobs;
    sim.Calculationmode = recording ? kModeBatchRecording : kModeBatch;
    BatchRunContext ctx{core, cell, sim, batch, &progress, {}};
    return RunBatch(ctx, recording);
  }
};

// The I-V curve of one single simulation of the example cell with absorber thickness d [um].
std::vector<double> SingleRunJ(double d) {
  Fixture f;
  CellParameterName name;
  name.part = {"layer1", "thickness", "", ""};
  CellParameter p;
  CellParameterError error;
  EXPECT_TRUE(ArgumentToCellParameter(f.cell.zonnecel, name, "", p, error));
  EXPECT_TRUE(SetValueToCellparameter(f.cell.zonnecel, p, CellValue{d, {}}, "", error));
  EXPECT_EQ(calculate_withMeta(f.cell, f.sim, f.core.env(), nullptr, nullptr), 0);
  return f.sim.CurrentRecord()->iv.j;
}

TEST(BatchRun, ThicknessStepsEqualSingleRunsWithAndWithoutCarryOver) {
  const std::vector<double> d = {0.8, 1.6, 2.4};
  std::vector<std::vector<double>> single;
  for (double t : d) single.push_back(SingleRunJ(t));
  for (int carry = 0; carry <= 1; ++carry) {
    Fixture f;
    f.sim.workpointFromPreviousBatchOption = carry;
    f.Thickness(d);
    ASSERT_EQ(f.Run(false), 0);
    ASSERT_EQ(f.sim.simulaties.size(), d.size());
    std::size_t k = 0;
    for (const SimulationRecord& r : f.sim.simulaties) {
      // Every thickness needs the cell rebuilt: the carried working point must not be used.
      EXPECT_EQ(r.iv.j, single[k]) << "carry-over " << carry << ", step " << k;
      EXPECT_EQ(r.batch.step, static_cast<int>(k + 1));
      ++k;
    }
    // The thicker absorber collects more light (Jsc = -J(0) grows).
    EXPECT_LT(single[2][0], single[0][0]);
  }
}

TEST(BatchRun, InterfaceQuantitiesAreThoseOfTheStepsFinalState) {
  // The electron current from the left into the CIGS/CdS interface and the interface charge of
  // a 2-step batch are those of the band diagram of single runs at the same thicknesses (the
  // mapping of every interface field is checked in the recorder's own tests).
  Fixture f;
  f.Thickness({1.0, 2.0});
  f.batch.theRecorder.parameters = {{REC_INTERFACES, 0, 1}, {REC_INTERFACES, 9, 1}};
  ASSERT_EQ(f.Run(true), 0);
  for (int k = 0; k < 2; ++k) {
    Fixture single;
    single.cell.zonnecel.layer[0].d = k == 0 ? 1.0 : 2.0;
    ASSERT_EQ(calculate_withMeta(single.cell, single.sim, single.core.env(), nullptr, nullptr), 0);
    BandDiagramProfiles b;
    BandDiagramFromSolution(single.sim.currentCalcVars, +1, b);
    ASSERT_GE(b.interfaces.size(), 1u);
    EXPECT_EQ(f.batch.theRecorder.steps[static_cast<std::size_t>(k)].values[0], b.interfaces[0].jn1) << k;
    EXPECT_EQ(f.batch.theRecorder.steps[static_cast<std::size_t>(k)].values[1], b.interfaces[0].pi) << k;
  }
  // An interface the cell does not have is refused before the batch runs.
  f.batch.theRecorder.parameters = {{REC_INTERFACES, 0, 3}};
  EXPECT_EQ(f.Run(true), -1);
  EXPECT_TRUE(f.batch.lastBatch.refused);
}

TEST(BatchRun, CarryOverOnlyWhenNothingNeedsARebuild) {
  // A bias batch may start each step from the previous working point: one equilibrium for three
  // steps. Without the option, or when a step changes the cell, every step starts afresh.
  const auto equilibria = [](int carry, const char* label1) {
    Fixture f;
    f.sim.workpointFromPreviousBatchOption = carry;
    BatchParameter& bp = f.batch.theBatch.bp[0];
    bp.label = {Code(1, label1), kNihil, kNihil, Code(4, "measurement workpoint")};
    bp.startValue = 0.1;
    bp.stopValue = 0.3;
    bp.numberOfSteps = 3;
    f.batch.theBatch.numberOfParameters = 1;
    EXPECT_EQ(f.Run(false), 0);
    int n = 0;
    for (const std::string& line : f.ui().status) n += line == "calculating equilibrium ...";
    return n;
  };
  EXPECT_EQ(equilibria(1, "V"), 1);
  EXPECT_EQ(equilibria(0, "V"), 3);
  EXPECT_EQ(equilibria(1, "Rs"), 1);  // the external circuit does not touch the cell either
}

TEST(BatchRun, NestedBatchRunsItsStepsInOrder) {
  Fixture f;
  BatchSetup& b = f.batch.theBatch;
  b.numberOfParameters = 2;
  b.bp[0].label = {Code(1, "T"), kNihil, kNihil, Code(4, "measurement workpoint")};
  b.bp[0].startValue = 290;
  b.bp[0].stopValue = 310;
  b.bp[0].numberOfSteps = 3;
  b.bp[1].label = {Code(1, "V"), kNihil, kNihil, Code(4, "measurement workpoint")};
  b.bp[1].startValue = 0.0;
  b.bp[1].stopValue = 0.3;
  b.bp[1].numberOfSteps = 4;
  ParseSweepRange("0:0.2:2", f.sim.actie.iv);
  ASSERT_EQ(f.Run(false, 2), 0);
  ASSERT_EQ(f.sim.simulaties.size(), 12u);
  int k = 0;
  for (const SimulationRecord& r : f.sim.simulaties) {
    // Outer loop temperature, inner loop voltage, as the records' working points show.
    EXPECT_EQ(r.wp.temperature, 290.0 + 10.0 * (k / 4)) << k;
    EXPECT_NEAR(r.wp.voltage, 0.1 * (k % 4), 1e-15) << k;
    ++k;
  }
  EXPECT_NE(f.progress.str().find("batch step 12/12"), std::string::npos);
  EXPECT_NE(f.progress.str().find("batch done: 12 of 12 steps run, 0 failed"), std::string::npos);
}

// The row of the .iv file text at cell voltage V: its columns.
std::vector<double> IvFileRow(const std::string& text, double V) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<double> v = ScanNumbers(line, 20);
    if (v.size() == 9 && std::abs(v[0] - V) < 1e-9) return v;
  }
  return {};
}

TEST(BatchRun, RecorderTakesEachStepsOwnValuesAndMarksFailures) {
  Fixture f;
  // The second thickness is refused by the cell: that step fails and must not show the first
  // step's values.
  f.Thickness({1.0, -1.0, 2.0});
  f.batch.theRecorder.parameters = {{REC_CELL_CHARACTERISTICS, REC_EFFICIENCY},
                                    {REC_GENERAL, REC_GENERAL_RECOMBINATION_SRH},
                                    {REC_GENERAL, REC_GENERAL_CURRENT}};
  EXPECT_EQ(f.Run(true), -1);
  EXPECT_EQ(f.batch.lastBatch.failed, 1);
  EXPECT_EQ(f.batch.lastBatch.run, 3);
  const RecorderSetup& r = f.batch.theRecorder;
  ASSERT_EQ(r.steps.size(), 3u);
  EXPECT_FALSE(r.steps[0].failed);
  EXPECT_TRUE(r.steps[1].failed);
  for (double v : r.steps[1].values) EXPECT_TRUE(std::isnan(v));
  ASSERT_EQ(f.sim.simulaties.size(), 2u);
  // The values of steps 1 and 3 are those of their own records.
  const SimulationRecord& first = f.sim.simulaties.front();
  const SimulationRecord& third = f.sim.simulaties.back();
  EXPECT_EQ(r.steps[0].values[0], first.cell.eta);
  EXPECT_EQ(r.steps[2].values[0], third.cell.eta);
  EXPECT_EQ(r.steps[2].values[2], third.iv.j[0]);  // general current at the start voltage (0 V)
  // The recorded SRH current is the .iv file's value at the sweep's end voltage (0.8 V), in
  // mA/cm2 as the file has it (the file rounds to 8 decimals).
  OutputContext oc;
  const std::string iv = IVBlock(third, oc);
  const std::vector<double> row = IvFileRow(iv, 0.8);
  ASSERT_EQ(row.size(), 9u) << iv;
  EXPECT_CLOSE(r.steps[2].values[1], row[6], 1e-8, 0.0);
  EXPECT_GT(row[6], 0.0);
  // The table shows the failure and says so.
  const std::string text = RecorderResultText(r, "version");
  EXPECT_NE(text.find("2\t-1.00000e+00\t         NaN\t         NaN\t         NaN\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Warning: not all the requested data could be recorded, and have been put to NaN"),
            std::string::npos);
  EXPECT_NE(f.progress.str().find("FAILED"), std::string::npos);
}

TEST(BatchRun, TwoWorkersWriteWhatOneWorkerWrites) {
  const auto run = [](int jobs, std::string& ivText, std::string& recText, std::string& rows) {
    Fixture f;
    test::TempDir dir;
    f.Thickness({0.6, 1.2, 1.8, 2.4, 3.0});
    f.batch.theRecorder.parameters = {{REC_CELL_CHARACTERISTICS, REC_VOC}, {REC_CELL_CHARACTERISTICS, REC_JSC}};
    f.batch.recordRowsFile = dir.file("rows.rcd");
    ASSERT_EQ(f.Run(true, jobs), 0);
    for (SimulationRecord& r : f.sim.simulaties) r.startTime.clear();  // time stamps aside
    f.batch.theRecorder.headerRecord.startTime.clear();
    OutputContext oc;
    ivText.clear();
    for (const SimulationRecord& r : f.sim.simulaties) ivText += IVBlock(r, oc);
    recText = RecorderResultText(f.batch.theRecorder, "version");
    rows = test::ReadWholeFile(dir.file("rows.rcd"));
  };
  std::string iv1, rec1, rows1, iv2, rec2, rows2;
  run(1, iv1, rec1, rows1);
  run(2, iv2, rec2, rows2);
  EXPECT_EQ(iv1, iv2);
  EXPECT_EQ(rec1, rec2);
  EXPECT_EQ(rows1, rows2);
  // The rows file holds the heading and one row per step.
  EXPECT_EQ(std::count(rows1.begin(), rows1.end(), '\n'), 6);
}

TEST(BatchRun, ResumesAtAStep) {
  Fixture f;
  f.Thickness({0.6, 1.2, 1.8});
  f.batch.theRecorder.parameters = {{REC_CELL_CHARACTERISTICS, REC_VOC}};
  f.batch.batchFirstStep = 2;
  ASSERT_EQ(f.Run(true), 0);
  ASSERT_EQ(f.batch.theRecorder.steps.size(), 1u);
  EXPECT_EQ(f.batch.theRecorder.steps[0].step, 2);
  EXPECT_EQ(f.sim.simulaties.front().batch.step, 3);
}

}  // namespace
}  // namespace zoniq
