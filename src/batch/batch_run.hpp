// Running a batch: every step is a complete simulation of the cell with the step's parameter
// values, through the one simulation road of the driver. Steps are independent unless the
// working point is carried from one step to the next, so they can run on several worker
// threads; each worker owns its cell, simulation state and solver context. Whatever a step
// produces — messages, the simulation record, the recorder row — is committed in step order, so
// a run with N workers writes what a serial run writes.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "batch/batch_setup.hpp"
#include "batch/recorder.hpp"
#include "celldef/cell_state.hpp"
#include "measure/simulation_state.hpp"
#include "ui/session_core.hpp"

namespace zoniq {

// What the last batch came to.
struct BatchRunSummary {
  long long steps = 0;   // steps of the batch
  long long run = 0;     // steps run (and committed)
  long long failed = 0;  // steps whose simulation was abandoned
  bool stopped = false;  // the user stopped the batch
  bool refused = false;  // the batch could not start (reported)
};

// The batch part of a session: the set-up, the recorder and how batches run.
struct BatchState {
  BatchSetup theBatch;
  RecorderSetup theRecorder;
  int batchJobs = 1;             // worker threads (1: serial)
  int batchQuiet = 0;            // 1: no progress lines
  long long batchFirstStep = 0;  // the step a batch starts at (from 0), to resume a broken run
  std::string recordRowsFile;    // when set: recorder rows appended and flushed after every step
  BatchRunSummary lastBatch;
};

struct BatchRunContext {
  SessionCore& core;
  CellState& cell;
  SimulationState& sim;
  BatchState& batch;
  std::ostream* progress = nullptr;     // progress lines and the summary; null: none
  std::function<bool()> stopRequested;  // asked after every step; true ends the batch
};

// Runs the batch (`ChangeBatchParameters` over all levels); with `recording` every step is
// recorded. The session's cell and solution stores are left as they were; the records of the
// steps are appended to its list of simulations. Returns 0 when every step ran, -1 when the
// batch could not start, was stopped, or a step failed (see `batch.lastBatch`).
int RunBatch(BatchRunContext& context, bool recording);

// The one-step batch at the present working-point voltage ("singleshotbatch.sbf").
std::string SingleShotBatchText(double voltage);

}  // namespace zoniq
