// The figure model: which series each graph holds, from which data, with which axes. The data
// a picture shows must be the data the result files write, so the I-V and band-diagram graphs
// are compared with the columns of the files' text.
#include "plot/figure_model.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "output/result_files.hpp"
#include "plot_fixture.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::GraphOf;
using test::PanelIndexOf;

// The rows of the table that follows the heading line beginning with `heading` (after one
// empty line), up to the next empty line, split at tabs into numbers.
std::vector<std::vector<double>> TableAfter(const std::string& text, const std::string& heading) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line) && line.rfind(heading, 0) != 0) {
  }
  std::getline(in, line);  // the empty line
  while (std::getline(in, line) && !line.empty()) {
    std::vector<double> row;
    std::istringstream fields(line);
    std::string f;
    while (std::getline(fields, f, '\t'))
      if (f.find_first_not_of(' ') != std::string::npos) row.push_back(std::stod(f));
    rows.push_back(row);
  }
  return rows;
}

OutputContext Context(const Environment& env) {
  OutputContext c;
  c.env = &env;
  c.header.version = "test";
  return c;
}

class CigsFigures : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(run.Run("-0.2:0.8:41")) << "the CIGS example did not simulate";
    sources = SourcesFromSimulation(*run.sim, bands);
  }
  test::CigsRun run;
  BandDiagramProfiles bands;
  PlotSources sources;
};

TEST_F(CigsFigures, TheIVGraphShowsTheIVFileColumns) {
  const PlotPanel panel = BuildPanel(PanelIndexOf("iv"), sources);
  const PlotGraph& g = GraphOf(panel, "iv");
  ASSERT_EQ(g.series.size(), 1u);
  const PlotSeries& s = g.series[0];
  const Environment env = run.env();
  const auto rows = TableAfter(IVBlock(*run.sim->CurrentRecord(), Context(env)), "    v(V)");
  ASSERT_EQ(rows.size(), 41u);
  ASSERT_EQ(s.x.size(), 41u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    // The file writes v with 6 decimals and J with 9 significant digits.
    EXPECT_NEAR(s.x[i], rows[i][0], 5e-7) << i;
    EXPECT_TRUE(test::IsClose(s.y[i], rows[i][1], 1e-8, 1e-12)) << i;
  }
  // The legend names the simulation by its number, as the file's header does.
  EXPECT_EQ(s.name, "simulation #" + std::to_string(run.sim->CurrentRecord()->number));
  // The abscissa spans the sweep exactly; the ordinate the currents with 5 % room.
  EXPECT_NEAR(g.x.min, -0.2, 1e-12);
  EXPECT_NEAR(g.x.max, 0.8, 1e-12);
  const double lo = *std::min_element(s.y.begin(), s.y.end()), hi = *std::max_element(s.y.begin(), s.y.end());
  EXPECT_NEAR(g.y.min, lo - 0.05 * (hi - lo), 1e-9 * (hi - lo));
  EXPECT_NEAR(g.y.max, hi + 0.05 * (hi - lo), 1e-9 * (hi - lo));

  // The recombination graph: logarithmic, positive values only, one line style per mechanism.
  const PlotGraph& r = GraphOf(panel, "recombination");
  EXPECT_EQ(r.y.scale, AxisScale::kLog);
  ASSERT_FALSE(r.series.empty());
  EXPECT_EQ(r.series[0].name, s.name + " SRH");
  for (const PlotSeries& rs : r.series)
    for (double v : rs.y) EXPECT_GT(v, 0.0) << rs.name;
  EXPECT_LE(r.y.min, r.series[0].y.front());
}

TEST_F(CigsFigures, TheBandDiagramShowsTheEbFileColumns) {
  const PlotPanel panel = BuildPanel(PanelIndexOf("eb"), sources);
  const Environment env = run.env();
  const std::string text = BandDiagramFileText(*run.sim->CurrentRecord(), run.sim->currentCalcVars, Context(env));
  const auto rows = TableAfter(text, "   i\t");
  ASSERT_EQ(static_cast<int>(rows.size()), run.sim->currentCalcVars.mesh.N);

  const PlotGraph& e = GraphOf(panel, "energybands");
  ASSERT_EQ(e.series.size(), 4u);
  const char* names[] = {"EC", "EV", "Fn", "Fp"};
  const int columns[] = {2, 5, 3, 4};  // Ec, Ev, Fn, Fp in the file
  for (int k = 0; k < 4; ++k) {
    const PlotSeries& s = e.series[static_cast<std::size_t>(k)];
    EXPECT_EQ(s.name, names[k]);
    ASSERT_EQ(static_cast<int>(s.x.size()), run.sim->currentCalcVars.mesh.N);
    for (const auto& row : rows) {
      const auto i = static_cast<std::size_t>(row[0]);
      EXPECT_NEAR(s.x[i], row[1], 5e-7) << names[k] << " at " << i;                                     // fixed 14.6
      EXPECT_NEAR(s.y[i], row[static_cast<std::size_t>(columns[k])], 5e-9) << names[k] << " at " << i;  // 14.8
    }
  }
  EXPECT_NE(e.title.find(" at 0.8000 V"), std::string::npos) << e.title;  // the last I-V point
  // The CIGS absorber's gap: EC − EV = 1.15 eV at the back contact.
  EXPECT_NEAR(e.series[0].y[0] - e.series[1].y[0], 1.15, 1e-9);

  // Densities on a logarithmic axis spanning whole decades around the data.
  const PlotGraph& d = GraphOf(panel, "carrierdensities");
  EXPECT_EQ(d.y.scale, AxisScale::kLog);
  ASSERT_EQ(d.series.size(), 2u);
  for (const auto& row : rows) {
    const auto i = static_cast<std::size_t>(row[0]);
    EXPECT_TRUE(test::IsClose(d.series[0].y[i], row[6], 1e-8)) << "n at " << i;
    EXPECT_TRUE(test::IsClose(d.series[1].y[i], row[7], 1e-8)) << "p at " << i;
  }
  EXPECT_DOUBLE_EQ(std::log10(d.y.min), std::round(std::log10(d.y.min)));
  for (const PlotSeries& s : d.series)
    for (double v : s.y) EXPECT_TRUE(v >= d.y.min && v <= d.y.max);

  // Currents: no tunnelling in this cell, so electrons, holes and the total.
  const PlotGraph& j = GraphOf(panel, "currents");
  ASSERT_EQ(j.series.size(), 3u);
  EXPECT_EQ(j.series[2].name, "jtot");
  for (const auto& row : rows)
    EXPECT_TRUE(test::IsClose(j.series[2].y[static_cast<std::size_t>(row[0])], row[16], 1e-8, 1e-12));

  // One defect level per layer, its occupation between 0 and 1.
  const PlotGraph& f = GraphOf(panel, "ftraps");
  EXPECT_EQ(f.series.size(), 3u);
  EXPECT_TRUE(f.y.min == 0.0 && f.y.max == 1.0);
  for (const PlotSeries& s : f.series)
    for (double v : s.y) EXPECT_TRUE(v >= 0.0 && v <= 1.0) << s.name;

  // Generation-recombination: the net recombination changes sign, only its positive part can
  // stand on the logarithmic axis.
  const PlotGraph gr = GraphOf(BuildPanel(PanelIndexOf("genrec"), sources), "genrec");
  ASSERT_EQ(gr.series.size(), 2u);
  std::size_t positiveR = 0;
  for (const auto& row : rows) positiveR += row[18] > 0.0 ? 1 : 0;
  EXPECT_EQ(gr.series[1].y.size(), positiveR);
  for (double v : gr.series[1].y) EXPECT_GT(v, 0.0);
}

TEST(FigureModel, SweepPanelsShowEveryRecordInItsColour) {
  std::list<SimulationRecord> records;
  records.push_back(test::HandMadeSweepRecord(1, 1));
  records.push_back(test::HandMadeSweepRecord(2, 2));
  records.back().cv.C[0] = 10.0;  // tell the two apart
  PlotSources src;
  src.records = &records;

  const PlotPanel cv = BuildPanel(PanelIndexOf("cv"), src);
  const PlotGraph& c = GraphOf(cv, "cv");
  ASSERT_EQ(c.series.size(), 2u);
  EXPECT_EQ(c.series[0].name + " " + c.series[1].name, "simulation #1 simulation #2");
  EXPECT_NE(c.series[0].colour, c.series[1].colour);
  EXPECT_EQ(c.series[0].x, (std::vector<double>{-0.4, -0.2, 0.0, 0.2, 0.4}));  // 5 of 6 points done
  EXPECT_EQ(c.series[1].y.front(), 10.0);
  // Mott-Schottky: 1/C² [cm4/nF2]; 1/20² = 0.0025.
  const PlotGraph& ms = GraphOf(cv, "Mott-Schottky");
  EXPECT_DOUBLE_EQ(ms.series[0].y[0], 0.0025);
  EXPECT_DOUBLE_EQ(ms.series[0].y[4], 1.0 / 2500.0);
  // The doping profile Napp(W), logarithmic in Napp.
  const PlotGraph& np = GraphOf(cv, "dopingprofile");
  EXPECT_EQ(np.y.scale, AxisScale::kLog);
  EXPECT_EQ(np.series[0].x, (std::vector<double>{0.5, 0.4, 0.3, 0.25, 0.2}));
  EXPECT_DOUBLE_EQ(np.y.min, 1e15);
  EXPECT_DOUBLE_EQ(np.y.max, 1e17);  // 3e16 rounds up to the next decade

  const PlotPanel cf = BuildPanel(PanelIndexOf("cf"), src);
  const PlotGraph& cfg = GraphOf(cf, "cf");
  EXPECT_EQ(cfg.x.scale, AxisScale::kLog);
  EXPECT_DOUBLE_EQ(cfg.x.min, 1e2);
  EXPECT_DOUBLE_EQ(cfg.x.max, 1e5);
  const PlotGraph& ny = GraphOf(cf, "Nyquist");
  EXPECT_TRUE(ny.equalAxes);
  EXPECT_EQ(ny.series[0].x, (std::vector<double>{100.0, 80.0, 30.0, 5.0}));
  EXPECT_EQ(ny.series[0].y, (std::vector<double>{10.0, 40.0, 35.0, 8.0}));  // −Z.im
  EXPECT_DOUBLE_EQ(ny.x.max - ny.x.min, ny.y.max - ny.y.min);
  EXPECT_TRUE(ny.x.min <= 5.0 && ny.x.max >= 100.0 && ny.y.min <= 8.0 && ny.y.max >= 40.0);
  // G/f: 1e-5 S/cm2 at 100 Hz.
  EXPECT_DOUBLE_EQ(GraphOf(cf, "G(f)/f-f").series[0].y[0], 1e-7);

  const PlotGraph qe = GraphOf(BuildPanel(PanelIndexOf("qe"), src), "qe");
  ASSERT_EQ(qe.series.size(), 2u);
  EXPECT_EQ(qe.series[0].y, (std::vector<double>{70.0, 90.0, 60.0}));
}

TEST(FigureModel, WhatCannotBeShownIsLeftOutNotInvented) {
  std::list<SimulationRecord> records(1);
  IVResult& iv = records.back().iv;
  iv.present = 1;
  iv.points = iv.pointsDone = 5;
  iv.colour = 3;
  iv.v = {0.0, 0.1, 0.2, 0.3, 0.4};
  iv.j = {-1e-3, 0.0, NAN, 2e-2, 5.0};
  PlotSources src;
  src.records = &records;
  const PlotGraph lin = GraphOf(BuildPanel(PanelIndexOf("iv"), src), "iv");
  EXPECT_EQ(lin.series[0].x, (std::vector<double>{0.0, 0.1, 0.3, 0.4}));  // the NaN point is left out
  // |J| on a logarithmic axis: the zero is left out too; whole decades 1e-3 … 10.
  src.logCurrent = true;
  const PlotGraph log = GraphOf(BuildPanel(PanelIndexOf("iv"), src), "iv");
  EXPECT_EQ(log.y.title, "|J| (mA/cm2)");
  EXPECT_EQ(log.series[0].y, (std::vector<double>{1e-3, 2e-2, 5.0}));
  EXPECT_DOUBLE_EQ(log.y.min, 1e-3);
  EXPECT_DOUBLE_EQ(log.y.max, 10.0);
  EXPECT_EQ(log.series[0].colour, CurveColour(3));
  // No recombination arrays: the graph is empty and says so.
  const PlotGraph rec = GraphOf(BuildPanel(PanelIndexOf("iv"), src), "recombination");
  EXPECT_TRUE(rec.series.empty());
  EXPECT_FALSE(rec.note.empty());
}

TEST(FigureModel, RecordPanelShowsEveryRecordedQuantityAgainstTheStep) {
  // Two quantities over three steps; the second step of the second could not be recorded (NaN)
  // and is left out, not drawn as a zero.
  RecordedResults r;
  r.names = {"efficiency", "Voc"};
  r.steps = {1.0, 2.0, 3.0};
  r.values = {{17.4, 19.3, 19.9}, {0.62, std::nan(""), 0.64}};
  PlotSources src;
  src.recorded = &r;
  const PlotPanel p = BuildPanel(PanelIndexOf("record"), src);
  ASSERT_EQ(p.graphs.size(), 1u);
  const PlotGraph& g = p.graphs[0];
  ASSERT_EQ(g.series.size(), 2u);
  EXPECT_EQ(g.series[0].name, "efficiency");
  EXPECT_EQ(g.series[0].y, (std::vector<double>{17.4, 19.3, 19.9}));
  EXPECT_EQ(g.series[1].x, (std::vector<double>{1.0, 3.0}));
  EXPECT_EQ(g.series[1].y, (std::vector<double>{0.62, 0.64}));
  EXPECT_NE(g.series[0].colour, g.series[1].colour);
}

TEST(FigureModel, PanelsWithoutDataAreEmptyWithANote) {
  std::list<SimulationRecord> records(1);  // a record without any sweep
  PlotSources src;
  src.records = &records;
  const std::pair<const char*, std::string> expected[] = {
      {"eb", "calculation"},    {"ac", "ac-calculation"},  {"genrec", "calculation"}, {"iv", "IV-calculation"},
      {"cv", "CV-calculation"}, {"cf", "C-f calculation"}, {"qe", "QE calculation"},  {"grading", "calculation"},
      {"record", ""},           {"as", "C-f calculation"}};
  ASSERT_EQ(PanelTable().size(), std::size(expected));
  for (const auto& [keyword, what] : expected) {
    const std::string note =
        what.empty() ? "No recorder results available" : "No " + what + " is made yet: nothing to save or to show !";
    const PlotPanel p = BuildPanel(PanelIndexOf(keyword), src);
    EXPECT_EQ(p.graphs.size(), PanelTable()[static_cast<std::size_t>(PanelIndexOf(keyword))].graphs.size());
    EXPECT_FALSE(PanelHasData(p)) << keyword;
    for (const PlotGraph& g : p.graphs) {
      EXPECT_EQ(g.note, note) << keyword << "." << g.keyword;
      EXPECT_LT(g.x.min, g.x.max);
      EXPECT_LT(g.y.min, g.y.max);
      if (g.y.scale == AxisScale::kLog) {
        EXPECT_GT(g.y.min, 0.0);
      }
    }
  }
  // A C-V curve of 3 points has no W and Napp.
  records.back().cv.present = 1;
  records.back().cv.pointsDone = records.back().cv.points = 3;
  records.back().cv.v = records.back().cv.C = records.back().cv.W = records.back().cv.Napp = {1.0, 2.0, 3.0};
  const PlotPanel cv = BuildPanel(PanelIndexOf("cv"), src);
  EXPECT_EQ(GraphOf(cv, "cv").series.size(), 1u);
  EXPECT_TRUE(GraphOf(cv, "dopingprofile").series.empty());
  EXPECT_EQ(GraphOf(cv, "dopingprofile").note, "W and Napp need C-V curves of more than 3 points");
}

TEST(FigureModel, GraphNamesOfTheSaveCommand) {
  struct Case {
    const char *panel, *graph, *part;
    int panelIndex;
    std::vector<int> graphs;  // empty: not recognised
  };
  const Case cases[] = {
      {"eb", "whole", "", 0, {0, 1, 2, 3}},
      {"eb", "carrierdensities", "", 0, {1}},
      {"ac", "currents", "", 1, {0, 1}},
      {"ac", "currents", "phase", 1, {1}},
      {"ac", "potentials", "amplitude", 1, {2}},
      {"iv", "recombination", "", 3, {1}},
      {"cv", "mott-schottky", "", 4, {2}},
      {"cf", "Nyquist", "", 5, {2}},
      {"cf", "gf", "", 5, {1}},
      {"record", "result", "", 8, {0}},
      // Not recognised: unknown panel or graph, a graph of another panel, a missing graph,
      // a part where none belongs.
      {"xx", "whole", "", -1, {}},
      {"eb", "bands", "", -1, {}},
      {"iv", "", "", -1, {}},
      {"ac", "currents", "modulus", -1, {}},
      {"ac", "whole", "phase", -1, {}},
  };
  for (const Case& c : cases) {
    const std::optional<GraphSelection> s = SelectGraphs(c.panel, c.graph, c.part);
    SCOPED_TRACE(std::string(c.panel) + "." + c.graph + "." + c.part);
    if (c.graphs.empty()) {
      EXPECT_FALSE(s.has_value());
      continue;
    }
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->panel, c.panelIndex);
    EXPECT_EQ(s->graphs, c.graphs);
  }
}

}  // namespace
}  // namespace zoniq
