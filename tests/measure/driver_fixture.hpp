// One simulation set-up of the measure tests: a cell, the driver state and a recording user
// interface, with the shipped program folder.
#pragma once

#include <string>

#include "measure/simulation_driver.hpp"
#include "test_util.hpp"

namespace zoniq::test {

struct Bench {
  explicit Bench(const InputParameters& set) : env{&ui, &errors, HomeFolder()} {
    InitialiseSimulationState(s, HomeFolder());
    cell.parameterset1 = set;
    parameterset1_to_2(cell.zonnecel, cell.parameterset1);
    cell.problemName = "test cell";
    s.wp.numberOfSteps = 5;
  }
  int Calculate() { return calculate_withMeta(cell, s, env, nullptr, nullptr); }
  bool Reported(const std::string& title) const {
    for (const auto& p : ui.popups)
      if (p.title == title) return true;
    return false;
  }

  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env;
  CellState cell;
  SimulationState s;
};

}  // namespace zoniq::test
