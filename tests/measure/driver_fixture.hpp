// One simulation set-up of the measure tests: a cell, the driver state and a recording user
// interface, with the shipped program folder.
#pragma once

#include <string>

#include "celldef/definition_file.hpp"
#include "measure/simulation_driver.hpp"
#include "solver/test_cells.hpp"
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
  // A shipped example cell ("CIGS.def", ...) with the working point of its definition file.
  explicit Bench(const std::string& definition) : env{&ui, &errors, HomeFolder()} {
    InputParameters set;
    InitialiseInputParameters(set, cell.mottSchottky);
    EXPECT_GE(
        lees_structuurfile(env, HomeFolder() + "/def/" + definition, set, cell.mottSchottky, cell.definitionExtras), 0);
    cell.parameterset1 = set;
    parameterset1_to_2(cell.zonnecel, cell.parameterset1);
    cell.problemName = definition;
    InitialiseSimulationState(s, HomeFolder());
    ApplyDefinitionWorkPoint(s.wp, cell.definitionExtras.workPoint);
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

// The pn junction of the solver tests (p base 5 µm, n emitter 1 µm, Eg = 1.12 eV), absorbing as
// α = A·sqrt(hν − Eg) with A = 1e7 /(m·sqrt(eV)).
inline InputParameters AbsorbingJunction(const PnOptions& o = {}) {
  InputParameters set = PnJunction(o);
  for (int l = 0; l < 2; ++l) set.cellParas.layer[l].A = {1e7, 1e7};
  return set;
}

}  // namespace zoniq::test
