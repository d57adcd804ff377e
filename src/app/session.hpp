// The program's state for one run: the cell in its parameter sets, the settings the
// definition file carries, error reporting and call statistics. Everything the program
// keeps between operations lives here and is passed explicitly.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "batch/batch_run.hpp"
#include "settings/settings_files.hpp"
#include "celldef/cell_state.hpp"
#include "fit/fit_run.hpp"
#include "measure/simulation_state.hpp"
#include "measurements/measurement_lists.hpp"
#include "script/script_state.hpp"
#include "ui/session_core.hpp"

namespace zoniq {

// A plot colour as 0xRRGGBB.
using PlotColour = unsigned int;
inline constexpr int kNumberOfPlotColours = 16;

// The program's state for one run. Each layer contributes the part it owns (the core of
// every layer, the cell, ...); the members keep their documented names.
struct Session : SessionCore, CellState, SimulationState, GeneralSettings, ScriptState, BatchState, MeasurementState,
                 FitState {
  // `ui` may be null: the session then uses a console user interface of its own.
  explicit Session(std::string programFolder, std::unique_ptr<UserInterface> ui = nullptr);

  // Plot colours in their fixed order; the simulation state's `kleurindex` picks one.
  std::array<PlotColour, kNumberOfPlotColours> plotColours{};
  // Where batches show their progress; null: nowhere.
  std::ostream* batchProgress = nullptr;
};

// Runs the batch of the session (with recording when asked), its progress on `batchProgress`
// unless the batch is set quiet.
int RunSessionBatch(Session& session, bool recording);

// Runs the session's curve fit on the batch's worker threads, its progress on `batchProgress`
// unless the batch is set quiet.
int RunSessionFit(Session& session);

// The plot colours: white, red, blue, green, cyan, magenta, yellow, dark red, dark blue,
// dark green, dark cyan, dark magenta, olive, light grey, grey, black.
extern const std::array<PlotColour, kNumberOfPlotColours> kPlotPalette;

}  // namespace zoniq
