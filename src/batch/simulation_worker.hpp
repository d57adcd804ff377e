// What batches and curve fits share to run whole simulations on worker threads: the settings
// every simulation starts from, taken from the session once, and a worker that owns its cell,
// simulation state, solver counters and a buffer for its messages.
#pragma once

#include <string>

#include "celldef/cell_state.hpp"
#include "measure/simulation_state.hpp"
#include "ui/buffered_user_interface.hpp"
#include "ui/session_core.hpp"

namespace zoniq {

// The session's working points, action list and run options, as every simulation starts.
struct SimulationTemplate {
  WorkPoint wp, secondwp;
  MeasurementActions actie;
  ActionListExtras extras;
  int versieschatting = 1;
  int lightRampOff = 0;
  std::string programFolder;

  void Take(const SessionCore& core, const SimulationState& sim) {
    wp = sim.wp;
    secondwp = sim.secondwp;
    actie = sim.actie;
    extras = sim.actieExtras;
    versieschatting = sim.versieschatting;
    lightRampOff = sim.lightRampOff;
    programFolder = core.programFolder;
  }
  // Puts the working points and the action list back before a simulation.
  void Restore(SimulationState& sim) const {
    sim.wp = wp;
    sim.secondwp = secondwp;
    sim.actie = actie;
    sim.actieExtras = extras;
  }
};

struct SimulationWorker {
  BufferedUserInterface ui;
  ErrorReporting errors;  // mode 0: every message goes to the buffer
  CallCounter counter;
  CellState cell;
  SimulationState sim;
  Environment env;

  void Initialise(const SimulationTemplate& t, int calculationMode) {
    InitialiseSimulationState(sim, t.programFolder);
    errors.ErrorMessageMode = 0;
    env = Environment{&ui, &errors, t.programFolder};
    sim.solverContext.counter = &counter;
    sim.versieschatting = t.versieschatting;
    sim.lightRampOff = t.lightRampOff;
    sim.Calculationmode = calculationMode;
  }
};

}  // namespace zoniq
