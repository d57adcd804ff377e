// What the picture tests share: one illuminated simulation of the shipped CIGS example, and
// hand-made records of the sweeps that have no simulation yet (C-V, C-f, QE).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "celldef/cell_state.hpp"
#include "measure/simulation_state.hpp"
#include "output/band_diagram.hpp"
#include "plot/figure_model.hpp"
#include "ui/error_message.hpp"

namespace zoniq::test {

struct CigsRun {
  RecordingUserInterface ui;
  ErrorReporting errors;
  CellState cell;
  std::unique_ptr<SimulationState> sim = std::make_unique<SimulationState>();
  // Runs the example under AM1.5G with the I-V sweep `range` ("" for none); false when the
  // cell cannot be read or the simulation did not run to its end.
  bool Run(const std::string& range);
  Environment env();
};

// A record holding a C-V, a C-f and a QE curve with values chosen by hand.
SimulationRecord HandMadeSweepRecord(int number, int colour);

// The record panels and graphs by keyword.
int PanelIndexOf(const std::string& keyword);
const PlotGraph& GraphOf(const PlotPanel& panel, const std::string& keyword);

}  // namespace zoniq::test
