// The figures: which series each graph holds, from which data (the data the result files write),
// with which axes; the pictures of every panel read back (PNG through libpng, SVG through expat),
// drawn from two threads, asked for by a script ("save graph") and the command line (--plots).
#include <expat.h>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "../app/program_run.hpp"
#include "celldef/cell_state.hpp"
#include "celldef/definition_file.hpp"
#include "measure/admittance_analysis.hpp"
#include "measure/simulation_driver.hpp"
#include "measure/simulation_state.hpp"
#include "output/output_fixture.hpp"
#include "plot/figure_model.hpp"
#include "plot/plot_render.hpp"
#include "test_util.hpp"
#include "ui/error_message.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;

// The record panels and graphs by keyword.
int PanelIndexOf(const std::string& keyword) {
  const std::vector<PanelNames>& table = PanelTable();
  for (std::size_t i = 0; i < table.size(); ++i)
    if (keyword == table[i].keyword) return static_cast<int>(i);
  throw std::out_of_range("no panel " + keyword);
}
const PlotGraph& GraphOf(const PlotPanel& panel, const std::string& keyword) {
  for (const PlotGraph& g : panel.graphs)
    if (g.keyword == keyword) return g;
  throw std::out_of_range("no graph " + keyword + " in " + panel.keyword);
}

struct DecodedPng {
  bool ok = false;
  std::string error;
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom, transparency on white
};
DecodedPng DecodePng(const std::string& bytes) {
  DecodedPng out;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    image.format = PNG_FORMAT_RGB;
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    png_color white{255, 255, 255};
    out.ok = png_image_finish_read(&image, &white, out.rgb.data(), 0, nullptr) != 0;
  }
  out.error = out.ok ? "" : image.message;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  png_image_free(&image);
  return out;
}

// The pixels p (r, g, b) for which keep(p) holds.
template <class Keep>
int CountPixels(const DecodedPng& image, Keep keep) {
  int count = 0;
  for (std::size_t i = 0; i + 2 < image.rgb.size(); i += 3) count += keep(&image.rgb[i]) ? 1 : 0;
  return count;
}
// The fraction of pixels that are not white.
double InkFraction(const DecodedPng& image) {
  const int ink = CountPixels(image, [](const std::uint8_t* p) { return p[0] != 255 || p[1] != 255 || p[2] != 255; });
  return image.rgb.empty() ? 0.0 : 3.0 * ink / static_cast<double>(image.rgb.size());
}
// Pixels within `tolerance` (per channel) of the colour 0xRRGGBB.
int PixelsNear(const DecodedPng& image, unsigned colour, int tolerance) {
  return CountPixels(image, [&](const std::uint8_t* p) {
    for (int c = 0; c < 3; ++c)
      if (std::abs(p[c] - static_cast<int>((colour >> (16 - 8 * c)) & 0xFF)) > tolerance) return false;
    return true;
  });
}
// Pixels of a clear colour (channels differing by more than 80): curves, not black text or grey.
int ColouredPixels(const DecodedPng& image) {
  return CountPixels(image, [](const std::uint8_t* p) {
    return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 80;
  });
}

// A document parsed as XML (any well-formedness error fails), with its path elements.
struct ParsedSvg {
  bool ok = false;
  std::string error, root;                                 // root: name of the root element
  std::vector<std::pair<std::string, std::string>> paths;  // style and d of each path element
};
ParsedSvg ParseSvg(const std::string& bytes) {
  ParsedSvg svg;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &svg);
  XML_SetStartElementHandler(parser, [](void* data, const XML_Char* name, const XML_Char** attributes) {
    ParsedSvg& s = *static_cast<ParsedSvg*>(data);
    if (s.root.empty()) s.root = name;
    if (std::strcmp(name, "path") != 0) return;
    s.paths.emplace_back();
    for (int i = 0; attributes[i]; i += 2) {
      if (std::strcmp(attributes[i], "style") == 0) s.paths.back().first = attributes[i + 1];
      if (std::strcmp(attributes[i], "d") == 0) s.paths.back().second = attributes[i + 1];
    }
  });
  svg.ok = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) != XML_STATUS_ERROR;
  svg.error = svg.ok ? "" : XML_ErrorString(XML_GetErrorCode(parser));
  XML_ParserFree(parser);
  return svg;
}

// One simulation of the CIGS example under AM1.5G (41 I-V points) for every test of the suite.
class CigsFigures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim = std::make_unique<SimulationState>();
    const Environment e{&ui, &errors, test::HomeFolder()};
    InputParameters set;
    MottSchottkySettings ms;
    InitialiseInputParameters(set, ms);
    ran = lees_structuurfile(e, test::HomeFolder() + "/def/CIGS.def", set, ms, cell.definitionExtras) >= 0;
    cell.parameterset1 = set;
    cell.mottSchottky = ms;
    parameterset1_to_2(cell.zonnecel, cell.parameterset1);
    InitialiseSimulationState(*sim, test::HomeFolder());
    ApplyDefinitionWorkPoint(sim->wp, cell.definitionExtras.workPoint);
    sim->wp.dark = 0;
    ran = ran && ParseSweepRange("-0.2:0.8:41", sim->actie.iv) &&
          calculate_withMeta(cell, *sim, e, nullptr, nullptr) == 0;
    sources = SourcesFromSimulation(*sim, bands);
  }
  static void TearDownTestSuite() { sim.reset(); }
  void SetUp() override { ASSERT_TRUE(ran) << "the CIGS example did not simulate"; }
  static inline RecordingUserInterface ui;
  static inline ErrorReporting errors;
  static inline CellState cell;  // the simulation refers to the cell it ran
  static inline std::unique_ptr<SimulationState> sim;
  static inline bool ran = false;
  static inline BandDiagramProfiles bands;  // what the band-diagram file writes
  static inline PlotSources sources;
};

TEST_F(CigsFigures, TheIVAndBandDiagramGraphsShowWhatTheFilesWrite) {
  const PlotPanel iv = BuildPanel(PanelIndexOf("iv"), sources);
  const PlotGraph& g = GraphOf(iv, "iv");
  ASSERT_EQ(g.series.size(), 1u);
  const PlotSeries& s = g.series[0];
  const SimulationRecord& rec = *sim->CurrentRecord();
  EXPECT_EQ(s.x, rec.iv.v);
  EXPECT_EQ(s.y, rec.iv.j);
  EXPECT_EQ(s.name, "simulation #" + std::to_string(rec.number));
  // The abscissa spans the sweep exactly; the ordinate the currents with 5 % room.
  EXPECT_NEAR(g.x.min, -0.2, 1e-12);
  EXPECT_NEAR(g.x.max, 0.8, 1e-12);
  const double lo = *std::min_element(s.y.begin(), s.y.end()), hi = *std::max_element(s.y.begin(), s.y.end());
  EXPECT_NEAR(g.y.min, lo - 0.05 * (hi - lo), 1e-9 * (hi - lo));
  EXPECT_NEAR(g.y.max, hi + 0.05 * (hi - lo), 1e-9 * (hi - lo));
  // The recombination graph: logarithmic, positive values only, one line per mechanism.
  const PlotGraph& r = GraphOf(iv, "recombination");
  EXPECT_EQ(r.y.scale, AxisScale::kLog);
  EXPECT_EQ(r.series.at(0).name, s.name + " SRH");
  EXPECT_LE(r.y.min, r.series[0].y.front());
  for (const PlotSeries& rs : r.series)
    for (double v : rs.y) EXPECT_GT(v, 0.0) << rs.name;

  // The band diagram: each series is its profile; the densities on a logarithmic axis.
  const PlotPanel eb = BuildPanel(PanelIndexOf("eb"), sources);
  const PlotGraph &e = GraphOf(eb, "energybands"), &d = GraphOf(eb, "carrierdensities");
  const PlotGraph& j = GraphOf(eb, "currents");  // no tunnelling: electrons, holes, total
  ASSERT_EQ(e.series.size(), 4u);
  ASSERT_EQ(d.series.size(), 2u);
  ASSERT_EQ(j.series.size(), 3u);
  EXPECT_EQ(d.y.scale, AxisScale::kLog);
  for (const PlotSeries& ds : d.series)
    for (double v : ds.y) EXPECT_TRUE(v >= d.y.min && v <= d.y.max);
  const std::tuple<const PlotSeries*, const char*, const std::vector<double>*> profiles[] = {
      {&e.series[0], "EC", &bands.Ec},    {&e.series[1], "EV", &bands.Ev}, {&e.series[2], "Fn", &bands.Fn},
      {&e.series[3], "Fp", &bands.Fp},    {&d.series[0], "n", &bands.n},   {&d.series[1], "p", &bands.p},
      {&j.series[2], "jtot", &bands.jtot}};
  ASSERT_EQ(bands.x.size(), static_cast<std::size_t>(sim->currentCalcVars.mesh.N));
  for (const auto& [series, name, profile] : profiles) {
    EXPECT_EQ(series->name, name);
    EXPECT_EQ(series->x, bands.x) << name;
    EXPECT_EQ(series->y, *profile) << name;
  }
  EXPECT_NE(e.title.find(" at 0.8000 V"), std::string::npos) << e.title;  // the last I-V point
  EXPECT_NEAR(bands.Ec[0] - bands.Ev[0], 1.15, 1e-9);                     // the CIGS gap at the back
  // One defect level per layer, its occupation between 0 and 1.
  const PlotGraph& f = GraphOf(eb, "ftraps");
  EXPECT_EQ(f.series.size(), 3u);
  for (const PlotSeries& fs : f.series)
    for (double v : fs.y) EXPECT_TRUE(v >= 0.0 && v <= 1.0) << fs.name;
  // The net recombination changes sign: only its positive part stands on the logarithmic axis.
  const PlotGraph gr = GraphOf(BuildPanel(PanelIndexOf("genrec"), sources), "genrec");
  ASSERT_EQ(gr.series.size(), 2u);
  EXPECT_EQ(gr.series[1].y.size(),
            static_cast<std::size_t>(std::count_if(bands.R.begin(), bands.R.end(), [](double v) { return v > 0.0; })));
}

TEST_F(CigsFigures, EveryPanelDrawsAPngOfTheSetSizeWithItsCurvesInTheirColours) {
  std::list<SimulationRecord> records = sim->simulaties;
  records.push_back(test::HandMadeSweepRecord(2, 2));  // C-V, C-f and QE curves
  PlotSources src = sources;
  src.records = &records;
  PictureOptions options;
  options.width = 640;
  options.height = 480;
  for (std::size_t k = 0; k < PanelTable().size(); ++k) {
    const PlotPanel panel = BuildPanel(static_cast<int>(k), src);
    SCOPED_TRACE(panel.keyword);
    std::string bytes, error;
    ASSERT_TRUE(RenderPicture(SelectedGraphs(panel), options, bytes, error)) << error;
    const DecodedPng png = DecodePng(bytes);
    ASSERT_TRUE(png.ok) << png.error;
    EXPECT_EQ(std::make_pair(png.width, png.height), std::make_pair(640, 480));
    EXPECT_GT(InkFraction(png), 0.01);  // axes, ticks and labels at least; never a blank page
    EXPECT_TRUE(PanelHasData(panel) || ColouredPixels(png) == 0);  // ac and record: the note, no curve
    for (const PlotGraph& g : panel.graphs)
      for (const PlotSeries& s : g.series) EXPECT_GT(PixelsNear(png, s.colour, 24), 0) << g.keyword << ": " << s.name;
  }
  // One graph alone fills the page (the default size): Fp (purple) has more room than in the
  // whole panel. (The same graph always gives the same bytes: the two-thread test.)
  const PlotPanel eb = BuildPanel(PanelIndexOf("eb"), src);
  std::string whole, one, error;
  ASSERT_TRUE(RenderPicture(SelectedGraphs(eb), PictureOptions{}, whole, error)) << error;
  ASSERT_TRUE(RenderPicture(SelectedGraphs(eb, {0}), PictureOptions{}, one, error)) << error;
  const DecodedPng a = DecodePng(whole), b = DecodePng(one);
  EXPECT_EQ(std::make_pair(b.width, b.height), std::make_pair(1000, 750));
  EXPECT_GT(PixelsNear(b, 0x9467BD, 24), PixelsNear(a, 0x9467BD, 24));
}

TEST(FigureModel, SweepPanelsShowEveryRecordInItsColour) {
  std::list<SimulationRecord> records{test::HandMadeSweepRecord(1, 1), test::HandMadeSweepRecord(2, 2)};
  records.back().cv.C[0] = 10.0;  // tell the two apart
  PlotSources src;
  src.records = &records;
  const PlotPanel cv = BuildPanel(PanelIndexOf("cv"), src);
  const PlotGraph& c = GraphOf(cv, "cv");
  ASSERT_EQ(c.series.size(), 2u);
  EXPECT_NE(c.series[0].colour, c.series[1].colour);
  EXPECT_EQ(c.series[0].x, (std::vector<double>{-0.4, -0.2, 0.0, 0.2, 0.4}));  // 5 of 6 points done
  EXPECT_EQ(c.series[1].y.front(), 10.0);
  // Mott-Schottky: 1/C² [cm4/nF2]; 1/20² = 0.0025.
  const PlotGraph& ms = GraphOf(cv, "Mott-Schottky");
  EXPECT_DOUBLE_EQ(ms.series[0].y[0], 0.0025);
  EXPECT_DOUBLE_EQ(ms.series[0].y[4], 1.0 / 2500.0);
  // The doping profile Napp(W), logarithmic in Napp over whole decades: 3e16 rounds up to 1e17.
  const PlotGraph& np = GraphOf(cv, "dopingprofile");
  EXPECT_EQ(np.y.scale, AxisScale::kLog);
  EXPECT_EQ(np.series[0].x, (std::vector<double>{0.5, 0.4, 0.3, 0.25, 0.2}));
  EXPECT_DOUBLE_EQ(np.y.min, 1e15);
  EXPECT_DOUBLE_EQ(np.y.max, 1e17);

  const PlotPanel cf = BuildPanel(PanelIndexOf("cf"), src);
  const PlotGraph& cfg = GraphOf(cf, "cf");
  EXPECT_EQ(cfg.x.scale, AxisScale::kLog);
  const PlotGraph& ny = GraphOf(cf, "Nyquist");
  EXPECT_TRUE(ny.equalAxes);
  EXPECT_EQ(ny.series[0].x, (std::vector<double>{100.0, 80.0, 30.0, 5.0}));
  EXPECT_EQ(ny.series[0].y, (std::vector<double>{10.0, 40.0, 35.0, 8.0}));  // −Z.im
  EXPECT_DOUBLE_EQ(ny.x.max - ny.x.min, ny.y.max - ny.y.min);
  EXPECT_TRUE(ny.x.min <= 5.0 && ny.x.max >= 100.0 && ny.y.min <= 8.0 && ny.y.max >= 40.0);
  EXPECT_DOUBLE_EQ(GraphOf(cf, "G(f)/f-f").series[0].y[0], 1e-7);  // G/f: 1e-5 S/cm2 at 100 Hz
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
  EXPECT_EQ(GraphOf(BuildPanel(PanelIndexOf("iv"), src), "iv").series[0].x,
            (std::vector<double>{0.0, 0.1, 0.3, 0.4}));  // the NaN point is left out
  // |J| on a logarithmic axis: the zero is left out too; whole decades 1e-3 … 10.
  src.logCurrent = true;
  const PlotGraph log = GraphOf(BuildPanel(PanelIndexOf("iv"), src), "iv");
  EXPECT_EQ(log.series[0].y, (std::vector<double>{1e-3, 2e-2, 5.0}));
  EXPECT_DOUBLE_EQ(log.y.min, 1e-3);
  EXPECT_DOUBLE_EQ(log.y.max, 10.0);
  EXPECT_EQ(log.series[0].colour, CurveColour(3));

  // Recorded quantities against the step: a step that could not be recorded (NaN) is left out.
  RecordedResults r;
  r.names = {"efficiency", "Voc"};
  r.steps = {1.0, 2.0, 3.0};
  r.values = {{17.4, 19.3, 19.9}, {0.62, std::nan(""), 0.64}};
  src.recorded = &r;
  const PlotGraph g = BuildPanel(PanelIndexOf("record"), src).graphs.at(0);
  ASSERT_EQ(g.series.size(), 2u);
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
      EXPECT_TRUE(g.x.min < g.x.max && g.y.min < g.y.max && (g.y.scale != AxisScale::kLog || g.y.min > 0.0));
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

// A Debye step C∞ + ΔC/(1 + (ω/ω0)²) [nF/cm²] from 100 Hz to 10 MHz, 10 points per decade.
void DebyeStep(double omega0, std::vector<double>& f, std::vector<double>& C) {
  for (int k = 0; k <= 50; ++k) {
    f.push_back(std::pow(10.0, 2.0 + k / 10.0));
    const double x = 6.283185307179586 * f.back() / omega0;
    C.push_back(20.0 + 4.0 / (1.0 + x * x));
  }
}

TEST(AdmittancePanel, SimulatedAndMeasuredAnalysesAgainstTheChosenAxes) {
  AdmittanceSettings s;
  s.abscissa = kAsAbscissaF;
  s.ordinate = kAsOrdinateMinusD;
  MottSchottkySettings ms;
  // Simulation #1 holds an analysed curve, #2 a curve the analysis refuses (too few points).
  std::list<SimulationRecord> records(2);
  SimulationRecord &a = records.front(), &b = records.back();
  a.number = 1;
  b.number = 2;
  a.cf.present = b.cf.present = 1;
  DebyeStep(1e5, a.cf.f, a.cf.C);
  a.cf.points = a.cf.pointsDone = static_cast<int>(a.cf.f.size());
  b.cf.f = {1e3, 1e4};
  b.cf.C = {10.0, 9.0};
  b.cf.points = b.cf.pointsDone = 2;
  EXPECT_EQ(Calculate_AS(records, s, ms, nullptr), 1);
  MeasurementState measured;
  MeasurementItem m;
  m.fileName = "lab/sample 7.cf";
  m.kind = kMeasurementCf;
  m.temperature = 200.0;
  CfMeasurement d;
  DebyeStep(3e3, d.f, d.C);
  m.data = d;
  m.nPoints = static_cast<int>(d.f.size());
  InsertMeasurementInStack(measured, m);

  PlotSources src;
  src.records = &records;
  src.admittance = &s;
  const int index = PanelIndexOf("as");
  // Without the measurement list only the simulated analysis: f [Hz] on a log axis against
  // −ω·dC/dω, which peaks at ΔC/2 = 2 nF/cm² (at ω = ω0) inside the range.
  const PlotGraph g = GraphOf(BuildPanel(index, src), "as");
  ASSERT_EQ(g.series.size(), 1u);
  EXPECT_EQ(g.series[0].x, a.cf.as.f);
  EXPECT_EQ(g.series[0].y, a.cf.as.minusD);
  EXPECT_EQ(g.x.scale, AxisScale::kLog);
  EXPECT_EQ(g.x.title + " | " + g.y.title, "f (Hz) | -w*dC/dw (nF/cm\u00B2)");  // UTF-8 on the graph
  EXPECT_GE(g.y.max, 2.0 * 0.97);
  // With the measurements: the measured step's corner lies 1.5 decades below the simulated one.
  src.measurements = &measured;
  src.mottSchottky = &ms;
  const PlotGraph both = GraphOf(BuildPanel(index, src), "as");
  ASSERT_EQ(both.series.size(), 2u);
  EXPECT_EQ(both.series[1].name, "meas. sample 7.cf");
  EXPECT_EQ(both.series[1].style, LineStyle::kDashed);
  const auto peakAt = [](const PlotSeries& p) {
    return p.x[static_cast<std::size_t>(std::max_element(p.y.begin(), p.y.end()) - p.y.begin())];
  };
  EXPECT_NEAR(std::log10(peakAt(both.series[0]) / peakAt(both.series[1])), std::log10(1e5 / 3e3), 0.1);
  // Only a curve that cannot be analysed (no C-f curve at all: the empty-panel test).
  records.pop_front();
  src.measurements = nullptr;
  EXPECT_EQ(GraphOf(BuildPanel(index, src), "as").note, "No C-f curve could be analysed: nothing to save or to show !");
}

// Three series of 50 points in pure red, green and blue.
PlotGraph ThreeSeriesGraph() {
  PlotGraph g;
  g.title = "three series # and a hash";
  g.x.title = "x (\u00B5m)";
  g.y.title = "y (#/cm3.s)";
  for (int k = 0; k < 3; ++k) {
    PlotSeries s;
    s.name = "series " + std::to_string(k);
    s.colour = 0xFF0000u >> (8 * k);
    for (int i = 0; i < 50; ++i) {
      s.x.push_back(0.02 * i);
      s.y.push_back(k + std::sin(0.2 * i));
    }
    g.series.push_back(s);
  }
  FitAxisRanges(g);
  return g;
}

TEST(Pictures, SvgIsXmlWithOnePathPerSeries) {
  const PlotGraph g = ThreeSeriesGraph();
  PictureOptions options;
  options.format = PictureFormat::kSvg;
  std::string bytes, error;
  ASSERT_TRUE(RenderPicture({&g}, options, bytes, error)) << error;
  const ParsedSvg svg = ParseSvg(bytes);
  ASSERT_TRUE(svg.ok) << svg.error;
  EXPECT_EQ(svg.root, "svg");
  // cairo writes a stroke colour as percentages. A series of 50 points is one path of 49
  // segments (PLplot hands a line to the driver in pieces of up to 256 points); the legend's
  // sample of it is a path of one segment.
  for (const char* stroke : {"stroke:rgb(100%,0%,0%)", "stroke:rgb(0%,100%,0%)", "stroke:rgb(0%,0%,100%)"}) {
    int curves = 0, samples = 0;
    for (const auto& [style, d] : svg.paths) {
      if (style.find(stroke) == std::string::npos) continue;
      const auto segments = std::count(d.begin(), d.end(), 'L');
      curves += segments == 49 ? 1 : 0;
      samples += segments == 1 ? 1 : 0;
    }
    EXPECT_EQ(curves, 1) << stroke;
    EXPECT_EQ(samples, 1) << stroke;
  }
  EXPECT_FALSE(ParseSvg(bytes.substr(0, bytes.size() / 2)).ok);  // the check catches a broken document
}

TEST(Pictures, FormatsAndFailuresReportedWithTheFile) {
  PictureFormat f = PictureFormat::kSvg;
  EXPECT_TRUE(PictureFormatOfFile("a/b.c/fig.PNG", f) && f == PictureFormat::kPng);
  EXPECT_TRUE(PictureFormatOfFile("fig.svg", f) && f == PictureFormat::kSvg);
  EXPECT_FALSE(PictureFormatOfFile("fig.jpg", f));
  EXPECT_FALSE(PictureFormatOfFile("a.png/fig", f));

  const PlotGraph g = ThreeSeriesGraph();
  test::TempDir dir;
  std::string error, bytes;
  ASSERT_TRUE(WritePicture({&g}, PictureOptions{}, dir.file("g.png"), error)) << error;
  EXPECT_TRUE(DecodePng(test::ReadWholeFile(dir.file("g.png"))).ok);
  const std::string missing = dir.file("no such folder/g.png");
  EXPECT_FALSE(WritePicture({&g}, PictureOptions{}, missing, error));
  EXPECT_EQ(error, "The picture cannot be written: " + missing);
  PictureOptions tiny;
  tiny.width = 2;
  EXPECT_FALSE(RenderPicture({&g}, tiny, bytes, error));
  EXPECT_NE(error.find("2x750"), std::string::npos) << error;
  EXPECT_FALSE(RenderPicture({}, PictureOptions{}, bytes, error));
}

TEST(Pictures, TwoThreadsDrawingAtOnceGetTheirOwnPictures) {
  const PlotGraph g = ThreeSeriesGraph();
  PlotGraph other = g;
  other.series.pop_back();
  std::string single, a, b, e1, e2;
  ASSERT_TRUE(RenderPicture({&g}, PictureOptions{}, single, e1));
  bool ok1 = false, ok2 = false;
  std::thread t1([&] { ok1 = RenderPicture({&g}, PictureOptions{}, a, e1); });
  std::thread t2([&] { ok2 = RenderPicture({&other}, PictureOptions{}, b, e2); });
  t1.join();
  t2.join();
  ASSERT_TRUE(ok1 && ok2);
  EXPECT_EQ(a, single);
  EXPECT_EQ(PixelsNear(DecodePng(b), 0x0000FF, 24), 0);  // the third series is not in it
}

using SaveGraph = test::ProgramRun;

TEST_F(SaveGraph, UnknownNamesUnknownFormatsAndUnwritableFiles) {
  MakeFolders({"script", "results"});
  const std::pair<const char*, const char*> cases[] = {
      {"save graph.xx.whole a.png", "Command not recognised"},  // every name form: the figure-model test
      {"save graph.eb.whole a.jpg", "Pictures are written as PNG (.png) or SVG (.svg) files, not as "},
      {"save graph.eb.whole nowhere/a.png", "The picture cannot be written: "}};
  for (const auto& [line, message] : cases) {
    test::WriteWholeFile(home_ + "/script/test.script", std::string(line) + "\n");
    Zoniq({"test.script"});
    ASSERT_EQ(ui_.popups.size(), 1u) << line << err_.str();
    EXPECT_EQ(ui_.popups[0].title, "Error whilst processing save command in script");
    EXPECT_EQ(ui_.popups[0].message.rfind("Script command: " + std::string(line) + "\n" + message, 0), 0u)
        << ui_.popups[0].message;
  }
  EXPECT_TRUE(fs::is_empty(home_ + "/results"));
}

using PlotsOption = test::ProgramRun;  // on the shipped program folder

TEST_F(PlotsOption, WritesThePanelsThatHoldResults) {
  home_ = test::HomeFolder();
  ASSERT_EQ(Zoniq({"CIGS.def", "--light", "--iv", "-0.2:0.8:11", "--calculate", "--plots", "pictures"}), kExitOk)
      << err_.str();
  for (const char* panel : {"eb", "genrec", "iv", "grading"}) {
    const std::string path = "pictures/" + std::string(panel) + ".png";
    EXPECT_TRUE(DecodePng(test::ReadWholeFile(path)).ok) << path;
    EXPECT_NE(out_.str().find("Picture: " + path), std::string::npos) << out_.str();
  }
  for (const char* panel : {"ac", "cv", "cf", "qe", "record"})  // nothing of these was calculated
    EXPECT_FALSE(fs::exists(fs::path("pictures") / (std::string(panel) + ".png"))) << panel;
}

TEST_F(PlotsOption, NeedsAFolderAndACalculationAndReportsWhatCannotBeWritten) {
  home_ = test::HomeFolder();
  EXPECT_EQ(Zoniq({"CIGS.def", "--plots", "pictures"}), kExitUsage);
  EXPECT_NE(err_.str().find("--plots needs a folder and --calculate"), std::string::npos);
  EXPECT_EQ(Zoniq({"CIGS.def", "--calculate", "--plots"}), kExitUsage);
  EXPECT_FALSE(fs::exists("pictures"));
  test::WriteWholeFile("afile", "x");
  EXPECT_EQ(Zoniq({"CIGS.def", "--calculate", "--plots=afile"}), kExitPicturesFailed);
  ASSERT_EQ(ui_.popups.size(), 1u);
  EXPECT_EQ(ui_.popups[0].title, "Error whilst writing the pictures");
  EXPECT_EQ(ui_.popups[0].message, "The folder for the pictures cannot be made: afile");
}

}  // namespace
}  // namespace zoniq
