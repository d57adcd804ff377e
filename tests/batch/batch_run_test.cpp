// Batch runs on the example CIGS cell: each step is the single simulation of the same cell; the
// recorder takes each step's own values and profiles and marks failed steps.
#include "batch/batch_run.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <tuple>

#include "batch/batch_file.hpp"
#include "common/text.hpp"
#include "measure/simulation_driver.hpp"
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
  // Steps of the absorber thickness [um] from a list.
  void Thickness(std::vector<double> values) {
    BatchParameter& bp = batch.theBatch.bp[0];
    bp.label = {Code(1, "layer 1"), Code(2, "thickness"), kNihil, kNihil};
    bp.valuesFromList = 1;
    bp.numberOfSteps = batch.theBatch.numberOfSteps = static_cast<int>(values.size());
    bp.valueList = std::move(values);
    batch.theBatch.numberOfParameters = 1;
  }
  // Parameter k: steps of a working-point quantity.
  void WorkPointRange(std::size_t k, const char* label1, double start, double stop, int n) {
    BatchParameter& bp = batch.theBatch.bp[k];
    bp.label = {Code(1, label1), kNihil, kNihil, Code(4, "measurement workpoint")};
    bp.startValue = start;
    bp.stopValue = stop;
    bp.numberOfSteps = n;
    batch.theBatch.numberOfParameters = static_cast<int>(k) + 1;
  }
  int Run(bool recording, int jobs = 1) {
    batch.batchJobs = jobs;
    sim.Calculationmode = recording ? kModeBatchRecording : kModeBatch;
    BatchRunContext ctx{core, cell, sim, batch, &progress, {}};
    return RunBatch(ctx, recording);
  }
  long Equilibria() {
    const auto& status = static_cast<RecordingUserInterface&>(*core.ui).status;
    return std::count(status.begin(), status.end(), "calculating equilibrium ...");
  }
};

TEST(BatchRun, ThicknessStepsEqualSingleRunsSerialParallelAndResumed) {
  // Single runs: I-V curves, electron current into the CIGS/CdS interface, interface charge.
  const std::vector<double> d = {0.8, 1.6, 2.4};
  std::vector<std::vector<double>> single;
  std::vector<InterfaceProfileRow> interfaces;
  for (double t : d) {
    Fixture f;
    f.cell.zonnecel.layer[0].d = t;
    ASSERT_EQ(calculate_withMeta(f.cell, f.sim, f.core.env(), nullptr, nullptr), 0);
    single.push_back(f.sim.CurrentRecord()->iv.j);
    BandDiagramProfiles b;
    BandDiagramFromSolution(f.sim.currentCalcVars, +1, b);
    ASSERT_GE(b.interfaces.size(), 1u);
    interfaces.push_back(b.interfaces[0]);
  }
  EXPECT_LT(single[2][0], single[0][0]);  // the thicker absorber collects more light
  // Serial, two workers with carry-over (every thickness rebuilds the cell: the carried working
  // point must not be used), resumed at the last step.
  std::string rows[2];
  for (const auto& [carry, jobs, first] : {std::tuple{0, 1, 0}, std::tuple{1, 2, 0}, std::tuple{1, 1, 2}}) {
    SCOPED_TRACE(testing::Message() << "carry-over " << carry << ", jobs " << jobs << ", from step " << first);
    Fixture f;
    test::TempDir dir;
    f.sim.workpointFromPreviousBatchOption = carry;
    f.Thickness(d);
    f.batch.theRecorder.parameters = {{REC_INTERFACES, 0, 1}, {REC_INTERFACES, 9, 1}};
    f.batch.recordRowsFile = dir.file("rows.rcd");
    f.batch.batchFirstStep = first;
    ASSERT_EQ(f.Run(true, jobs), 0);
    ASSERT_EQ(f.sim.simulaties.size(), d.size() - first);
    ASSERT_EQ(f.batch.theRecorder.steps.size(), d.size() - first);
    std::size_t k = first;
    for (const SimulationRecord& r : f.sim.simulaties) {
      EXPECT_EQ(r.iv.j, single[k]) << k;
      EXPECT_EQ(r.batch.step, static_cast<int>(k + 1));
      EXPECT_EQ(f.batch.theRecorder.steps[k - first].step, static_cast<int>(k));
      EXPECT_EQ(f.batch.theRecorder.steps[k - first].values, (std::vector{interfaces[k].jn1, interfaces[k].pi}));
      ++k;
    }
    if (first == 0) rows[jobs - 1] = test::ReadWholeFile(dir.file("rows.rcd"));
  }
  // The rows file: the heading and one row per step, in order.
  EXPECT_EQ(std::count(rows[0].begin(), rows[0].end(), '\n'), 4);
  EXPECT_EQ(rows[0], rows[1]);
  // An interface the cell does not have is refused before the batch runs.
  Fixture f;
  f.Thickness(d);
  f.batch.theRecorder.parameters = {{REC_INTERFACES, 0, 3}};
  EXPECT_EQ(f.Run(true), -1);
  EXPECT_TRUE(f.batch.lastBatch.refused);
}

TEST(BatchRun, NestedStepsInOrderAndCarryOverOnlyWhenNothingNeedsARebuild) {
  // A bias (or external-circuit) batch may start each step from the previous working point.
  for (const char* label : {"V", "Rs"}) {
    Fixture f;
    f.sim.workpointFromPreviousBatchOption = 1;
    f.WorkPointRange(0, label, 0.1, 0.3, 3);
    ASSERT_EQ(f.Run(false), 0);
    EXPECT_EQ(f.Equilibria(), 1) << label;
  }
  // Without the option every step starts afresh; temperature is the outer loop.
  Fixture f;
  f.WorkPointRange(0, "T", 290, 310, 3);
  f.WorkPointRange(1, "V", 0.0, 0.3, 4);
  ParseSweepRange("0:0.2:2", f.sim.actie.iv);
  ASSERT_EQ(f.Run(false), 0);
  EXPECT_EQ(f.Equilibria(), 12);
  ASSERT_EQ(f.sim.simulaties.size(), 12u);
  int k = 0;
  for (const SimulationRecord& r : f.sim.simulaties) {
    EXPECT_EQ(r.wp.temperature, 290.0 + 10.0 * (k / 4)) << k;
    EXPECT_NEAR(r.wp.voltage, 0.1 * (k++ % 4), 1e-15);
  }
  EXPECT_NE(f.progress.str().find("batch step 12/12"), std::string::npos);
  EXPECT_NE(f.progress.str().find("batch done: 12 of 12 steps run, 0 failed"), std::string::npos);
}

TEST(BatchRun, RecorderTakesEachStepsOwnValuesAndProfilesAndMarksFailures) {
  // The second thickness is refused: that step fails, showing no other step's values. Each step
  // also runs a C-f sweep.
  Fixture f;
  f.Thickness({1.0, -1.0, 2.0});
  f.sim.actie.cf = FrequencySweepAction{0, 1e3, 1e5, 3, 0};
  f.batch.theRecorder.parameters = {{REC_CELL_CHARACTERISTICS, REC_EFFICIENCY},
                                    {REC_GENERAL, REC_GENERAL_RECOMBINATION_SRH},
                                    {REC_GENERAL, REC_GENERAL_CURRENT},
                                    {REC_GENERAL, REC_GENERAL_CAPACITANCE},
                                    {REC_OCCUPATION, 0, 1, 1, 1},
                                    {REC_OCCUPATION, 1, 1, 1, 1},
                                    {REC_CELL_DEFINITION, 13}};  // shallow acceptor doping
  EXPECT_EQ(f.Run(true), -1);
  EXPECT_EQ(f.batch.lastBatch.failed, 1);
  EXPECT_EQ(f.batch.lastBatch.run, 3);
  EXPECT_NE(f.progress.str().find("FAILED"), std::string::npos);
  const RecorderSetup& r = f.batch.theRecorder;
  ASSERT_EQ(r.steps.size(), 3u);
  EXPECT_TRUE(r.steps[1].failed);
  for (double v : r.steps[1].values) EXPECT_TRUE(std::isnan(v));
  ASSERT_EQ(f.sim.simulaties.size(), 2u);
  // Steps 1 and 3 hold their own records' values: efficiency, SRH current at the end voltage and
  // current at the start voltage (mA/cm2 as in the .iv file), the first capacitance.
  std::size_t k = 0;
  for (const SimulationRecord& rec : f.sim.simulaties) {
    const RecordedStep& step = r.steps[k];
    EXPECT_FALSE(step.failed);
    EXPECT_EQ(std::vector(step.values.begin(), step.values.begin() + 4),
              (std::vector{rec.cell.eta, rec.iv.jSRH.back(), rec.iv.j[0], rec.cf.C.at(0)}));
    EXPECT_GT(rec.iv.jSRH.back(), 0.0);
    // Each step's own mesh: the third absorber is 1 um thicker.
    const StepProfiles& p = step.profiles;
    const std::size_t N = p.x.size();
    ASSERT_GT(N, 10u);
    EXPECT_NEAR(p.x[N - 1] - r.steps[0].profiles.x.back(), k / 2.0, 1e-9);
    // Buffer and window are 0.25 um thick (the interface holds a point of each side); in the
    // absorber the occupations add up to one and the doping is the definition's 2e16 /cm3.
    const double edge = p.x[N - 1] - 0.25;
    for (std::size_t i = 0; i < N; ++i) {
      if (std::fabs(p.x[i] - edge) < 1e-6) continue;
      const bool absorber = p.x[i] < edge;
      EXPECT_NEAR(p.values[4][i] + p.values[5][i], absorber ? 1.0 : 0.0, absorber ? 1e-12 : 0.0) << i;
      EXPECT_NEAR(absorber ? p.values[6][i] : 2e16, 2e16, 2e16 * 1e-9) << i;
    }
    k += 2;
  }
  // The table shows the failure and says so.
  const std::string text = RecorderResultText(r, "version");
  EXPECT_NE(text.find("2\t-1.00000e+00\t         NaN\t         NaN\t         NaN\t         NaN\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Warning: not all the requested data could be recorded, and have been put to NaN"),
            std::string::npos);
}

}  // namespace
}  // namespace zoniq
