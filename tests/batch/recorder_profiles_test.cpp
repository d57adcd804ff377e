// Profiles and admittance quantities in the recorder: what a batch records is the state of each
// step (checked against identities and single runs), and the profile file has the layout of
// the recorder's result files (exact bytes written by hand).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "batch/batch_file.hpp"
#include "batch/batch_run.hpp"
#include "batch/recorder.hpp"
#include "measure/simulation_driver.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(RecorderProfiles, WhatCanBeRecorded) {
  struct Case {
    RecorderParameter p;
    bool ok;
  };
  const Case cases[] = {
      {{REC_GENERAL, REC_GENERAL_CAPACITANCE}, true},
      {{REC_GENERAL, REC_GENERAL_G_OMEGA}, true},
      {{REC_ENERGY_BANDS, 4}, true},
      {{REC_ENERGY_BANDS, 17}, false},  // the group stands for its members
      {{REC_GENERATION_RECOMBINATION, 5, 1, 1, 1}, true},
      {{REC_GENERATION_RECOMBINATION, 5, 1}, false},  // a level rate needs its defect and level
      {{REC_OCCUPATION, 0, 1, 2, 1}, true},
      {{REC_AC, 3, kRecImaginaryPart}, true},
      {{REC_AC, 3, kRecRealAndImaginary}, false},
      {{REC_CELL_DEFINITION, 1}, true},
      {{REC_CELL_DEFINITION, 8}, true},    // mobility
      {{REC_CELL_DEFINITION, 16}, false},  // defect energy needs its defect
      {{REC_CELL_DEFINITION, 17, 1, 2}, true},
      {{REC_INTERFACES, 10, 1}, false},  // an interface occupation needs its defect
      {{REC_INTERFACES, 11, 1, 3}, true},
      {{REC_INTERFACES, 8, 1}, true},  // thermionic emission current
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(CanRecord(c.p, why), c.ok) << MakeRecordText(c.p);
    EXPECT_EQ(why.empty(), c.ok);
  }
}

TEST(RecorderProfiles, ProfileFileLayout) {
  // Two steps with meshes of 3 and 2 points; the second step's first value could not be found.
  RecorderSetup r;
  r.parameters = {{REC_CELL_CHARACTERISTICS, REC_EFFICIENCY}, {REC_ENERGY_BANDS, 4}, {REC_AC, 3, kRecImaginaryPart}};
  BatchParameter& bp = r.batchCopy.bp[0];
  bp.label = {BatchKeyWordToBP_constant(1, "layer 1"), BatchKeyWordToBP_constant(2, "thickness"), kNihil, kNihil};
  bp.startValue = 0.5;
  bp.stopValue = 2.5;
  r.batchCopy.numberOfParameters = 1;
  const double nan = std::nan("");
  RecordedStep a, b;
  a.batchNumbers = {0.5};
  a.profiles.x = {0.0, 0.5, 1.0};
  a.profiles.values = {{}, {1e16, 2e16, 3e16}, {}};
  b.step = 1;
  b.batchNumbers = {2.5};
  b.profiles.x = {0.0, 2.0};
  b.profiles.values = {{}, {nan, 5e15}, {}};
  r.steps = {a, b};
  const std::string text = RecorderProfileText(r, kRecordEnergyBands, "test");
  const std::string expected =
      "*** Overview of recorder settings ***\n\nEnergy bands: electron density\n\n\n"
      "*** Overview of batch settings ***\n\n"
      "batch parameter 1:\tlayer 1>>thickness>>nihil>>nihil:\tfrom\t 5.000e-01\tto\t 2.500e+00\tLinear\n"
      "\n\n*** The recorded data ***\n\n"
      "* The mesh: x(um) *\n\n"
      "bp 1:\t 5.000e-01\t 2.500e+00\n"
      "0\t 0.000e+00\t 0.000e+00\n"
      "1\t 5.000e-01\t 2.000e+00\n"
      "2\t 1.000e+00\t\n"
      "\n* Parameter 1:\tEnergy bands: electron density *\n"
      "bp 1:\t 5.000e-01\t 2.500e+00\n"
      "0\t 1.000e+16\t       NaN\n"
      "1\t 2.000e+16\t 5.000e+15\n"
      "2\t 3.000e+16\t\n"
      "Warning: not all the requested data could be recorded, and have been put to NaN\n"
      "\n\n\n";
  const std::size_t at = text.find("*** Overview of recorder settings ***");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(text.substr(at), expected);
  // The kinds by extension.
  EXPECT_EQ(RecorderKindOfFileName("a.EB"), kRecordEnergyBands);
  EXPECT_EQ(RecorderKindOfFileName("a.ac"), kRecordAc);
  EXPECT_EQ(RecorderKindOfFileName("a.rcd"), kRecordAllScalars);
}

TEST(RecorderProfiles, BatchRecordsEachStepsProfilesAndCapacitance) {
  // Absorber thickness 1.0 and 2.0 um of the CIGS example in the dark at 0 V, with a C-f sweep
  // of 3 points from 1 kHz.
  SessionCore core{test::HomeFolder(), std::make_unique<RecordingUserInterface>()};
  CellState cell;
  SimulationState sim;
  BatchState batch;
  InitialiseSimulationState(sim, core.programFolder);
  ASSERT_EQ(ReadBatchDefinitionFile(core.env(), "CIGS.def", cell), 0);
  ApplyDefinitionWorkPoint(sim.wp, cell.definitionExtras.workPoint);
  sim.wp.dark = 1;
  sim.actie.cf = FrequencySweepAction{0, 1e3, 1e5, 3, 0};
  BatchParameter& bp = batch.theBatch.bp[0];
  bp.label = {BatchKeyWordToBP_constant(1, "layer 1"), BatchKeyWordToBP_constant(2, "thickness"), kNihil, kNihil};
  bp.valuesFromList = 1;
  bp.valueList = {1.0, 2.0};
  bp.numberOfSteps = 2;
  batch.theBatch.numberOfParameters = 1;
  batch.theBatch.numberOfSteps = 2;
  batch.theRecorder.parameters = {{REC_GENERAL, REC_GENERAL_CAPACITANCE},
                                  {REC_OCCUPATION, 0, 1, 1, 1},
                                  {REC_OCCUPATION, 1, 1, 1, 1},
                                  {REC_CELL_DEFINITION, 13},  // shallow acceptor doping
                                  {REC_ENERGY_BANDS, 4},
                                  {REC_AC, 3, kRecRealPart}};
  sim.Calculationmode = kModeBatchRecording;
  std::ostringstream progress;
  BatchRunContext ctx{core, cell, sim, batch, &progress, {}};
  ASSERT_EQ(RunBatch(ctx, true), 0);
  const RecorderSetup& r = batch.theRecorder;
  ASSERT_EQ(r.steps.size(), 2u);
  for (int k = 0; k < 2; ++k) {
    const RecordedStep& s = r.steps[static_cast<std::size_t>(k)];
    const StepProfiles& p = s.profiles;
    const std::size_t N = p.x.size();
    ASSERT_GT(N, 10u);
    // Each step's own mesh: the second absorber is 1 um thicker.
    EXPECT_NEAR(p.x[N - 1] - r.steps[0].profiles.x.back(), k, 1e-9);
    // The C-f sweep of the step ran: its first capacitance is recorded [nF/cm2], and the
    // thicker absorber of this p-type cell in the dark does not change the depletion width.
    EXPECT_GT(s.values[0], 1.0);
    for (std::size_t i = 0; i < N; ++i) {
      // Buffer and window are 0.25 um thick; the interface itself holds a point of each side.
      const double edge = p.x[N - 1] - 0.25;
      if (std::fabs(p.x[i] - edge) < 1e-6) continue;
      const bool absorber = p.x[i] < edge;
      // Occupation with electrons and with holes add up to one in the absorber, 0 elsewhere.
      EXPECT_NEAR(p.values[1][i] + p.values[2][i], absorber ? 1.0 : 0.0, absorber ? 1e-12 : 0.0) << i;
      // The absorber doping of the definition file, 2e16 /cm3.
      if (absorber) {
        EXPECT_NEAR(p.values[3][i], 2e16, 2e16 * 1e-9) << i;
      }
      EXPECT_GT(p.values[4][i], 0.0);
      EXPECT_TRUE(std::isfinite(p.values[5][i]));
    }
  }
  EXPECT_NEAR(r.steps[1].values[0], r.steps[0].values[0], 0.01 * r.steps[0].values[0]);
}

}  // namespace
}  // namespace zoniq
