// A curve fit of the session's cell: every trial point is a set of complete simulations (one per
// measurement, through the one simulation road of the driver) of a fresh copy of the cell with
// the trial values written in by the batch's `ChangeValue`. Evaluations are independent, so
// the points the search knows in advance (the first simplex, a shrink) run on worker threads
// when asked; messages and simulation records are committed in iteration order, so a run with N
// workers writes what a serial run writes.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "celldef/cell_state.hpp"
#include "fit/curve_fitter.hpp"
#include "fit/fit_file.hpp"
#include "measure/simulation_state.hpp"
#include "ui/session_core.hpp"

namespace zoniq {

// The curve-fitting part of a session.
struct FitState {
  CurveFitter theCurveFitter;
};

struct FitRunContext {
  SessionCore& core;
  CellState& cell;
  SimulationState& sim;
  CurveFitter& fitter;
  int jobs = 1;                         // worker threads for independent evaluations
  std::ostream* progress = nullptr;     // one line per iteration; null: none
  std::function<bool()> stopRequested;  // asked after every iteration
};

// Runs the fit. The session's cell and working points are left as they were (see
// SaveBestParameterSetInCellDefinition); the simulation records of the iterations are appended
// to its list. Returns 0 when the fit ran, -1 when it could not start (reported).
int RunCurveFit(FitRunContext& context);

// Writes the values of the iteration with the lowest total chi-square into the cell (and the
// working points, for working-point parameters). Returns 0, or -1 when no fit ran or a value
// was refused (reported).
int SaveBestParameterSetInCellDefinition(const Environment& env, const CurveFitter& fitter, CellState& cell,
                                         SimulationState& sim);

// The simulated curve a fit type compares, from a simulation record: J(V) [mA/cm²], C(V)
// [nF/cm²], G(V) [S/cm²], 1/C²(V) [(nF/cm²)⁻²], C(f), G(f), G/ω(f) [F/cm²], −Im Z against Re Z
// as Im Z against Re Z [Ω·cm²], QE(λ [nm]) and QE(hν [eV]) [%]. False when the record holds no
// such curve.
bool SimulatedFitCurve(const SimulationRecord& record, int type, std::vector<double>& x, std::vector<double>& y);

// Reads a measurement file as the curve its fit type compares (the reader of measured curves).
int LoadFitMeasurement(const Environment& env, const std::string& fullPath, int type, std::vector<double>& x,
                       std::vector<double>& y);

}  // namespace zoniq
