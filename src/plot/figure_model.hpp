// The figure model: what each graph panel of the program shows, as data, before anything is
// drawn. A panel ("eb", "iv", "cv", …) holds graphs; a graph holds its axes (title with the
// unit the result files use, linear or logarithmic, range) and its series, each taken from the
// simulation records or the current solution without change, so that a picture shows exactly
// what the result files write. Panels whose data does not exist yet hold their graphs with no
// series and a note saying why.
#pragma once

#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "measure/admittance_result.hpp"
#include "measure/simulation_record.hpp"
#include "measure/simulation_state.hpp"
#include "measurements/measurement_lists.hpp"
#include "output/band_diagram.hpp"

namespace zoniq {

// A colour as 0xRRGGBB.
using RGBColour = unsigned int;

// Curve colours on a white page, picked by a record's colour index (1 … kCurveColours, cycled).
RGBColour CurveColour(int colourIndex);

enum class AxisScale { kLinear, kLog };

struct PlotAxis {
  std::string title;  // quantity and unit, e.g. "x (µm)" (UTF-8)
  AxisScale scale = AxisScale::kLinear;
  double min = 0.0, max = 1.0;  // the range shown; on a log axis both positive
};

// Line styles: solid, dashed, dotted, dash-dotted.
enum class LineStyle { kSolid = 1, kDashed = 3, kDotted = 2, kDashDotted = 4 };

struct PlotSeries {
  std::string name;  // legend text
  RGBColour colour = 0;
  LineStyle style = LineStyle::kSolid;
  std::vector<double> x, y;  // finite values only, positive on a logarithmic axis
};

struct PlotGraph {
  std::string keyword;  // the graph's name in the save command, e.g. "energybands"
  std::string title;
  PlotAxis x, y;
  bool equalAxes = false;  // one unit is as long on both axes (Nyquist plots)
  std::vector<PlotSeries> series;
  std::string note;  // shown on the graph; says why it is empty when it has no series
};

struct PlotPanel {
  std::string keyword;  // "eb", "ac", "genrec", "iv", "cv", "cf", "qe", "grading", "record" or "as"
  std::string title;
  std::vector<PlotGraph> graphs;
};

// The panels in their fixed order and the graphs of each (the keywords of the save command).
struct PanelNames {
  const char* keyword;
  std::vector<const char*> graphs;
};
const std::vector<PanelNames>& PanelTable();

// Which graphs of which panel a save command names: the panel word, then "whole" or a graph
// word, then for the ac panel's graphs optionally "amplitude" or "phase". Every keyword is
// matched as the beginning of the word, without regard to case. Empty when the words name no
// panel or graph.
struct GraphSelection {
  int panel = -1;           // index into PanelTable()
  std::vector<int> graphs;  // indices of the selected graphs of the panel, in panel order
};
std::optional<GraphSelection> SelectGraphs(std::string_view panelWord, std::string_view graphWord,
                                           std::string_view partWord);

// What the panels are drawn from.
// Scalar results recorded over a batch: one quantity per column, one value per step (NaN where a
// step could not be recorded).
struct RecordedResults {
  std::vector<std::string> names;           // the recorded quantities
  std::vector<double> steps;                // step numbers, from 1
  std::vector<std::vector<double>> values;  // [quantity][step]
};

struct PlotSources {
  const std::list<SimulationRecord>* records = nullptr;  // every simulation held, oldest first
  // The current solution and its band-diagram profiles; null when nothing has been solved.
  const CalculationVariables* solution = nullptr;
  const BandDiagramProfiles* bands = nullptr;
  // The last small-signal solution of that state; null when none is held.
  const AcSolution* ac = nullptr;
  // The recorder's results; null when nothing is recorded.
  const RecordedResults* recorded = nullptr;
  // |J| on a logarithmic axis in the I-V graph (for dark curves).
  bool logCurrent = false;
  // The admittance-spectroscopy settings (the axes of its graph; defaults when null). The graph
  // shows the analysis stored with each simulated C-f curve, and, when `measurements` and
  // `mottSchottky` (εr and the derivative window) are given, that of every measured C-f curve.
  const AdmittanceSettings* admittance = nullptr;
  const MeasurementState* measurements = nullptr;
  const MottSchottkySettings* mottSchottky = nullptr;
};

// The sources of a simulation state, with its admittance settings: `bands` receives the
// profiles of the current solution when a simulation has run.
PlotSources SourcesFromSimulation(const SimulationState& s, BandDiagramProfiles& bands);

// Builds panel `panel` (index into PanelTable()) with all its graphs.
PlotPanel BuildPanel(int panel, const PlotSources& sources);

// True when at least one graph of the panel holds a series.
bool PanelHasData(const PlotPanel& panel);

// Axis ranges that hold every value of the series: linear axes span the data (the ordinate
// with 5 % room above and below), logarithmic axes whole decades around it; an axis without
// data spans 0 … 1 (linear) or 1 … 10 (log). Equal axes get the same span on both axes.
void FitAxisRanges(PlotGraph& graph);

}  // namespace zoniq
