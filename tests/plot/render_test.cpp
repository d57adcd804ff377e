// Drawing the panels: each picture must decode, have the size asked for, show its curves in
// their colours, and an empty panel must show its note and no curve. SVG output must be XML
// with one path per series.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "picture_check.hpp"
#include "plot/plot_render.hpp"
#include "plot_fixture.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using test::DecodePng;
using test::PanelIndexOf;

TEST(Pictures, EveryPanelOfASimulationDrawsAPngOfTheSetSize) {
  test::CigsRun run;
  ASSERT_TRUE(run.Run("-0.2:0.8:41"));
  run.sim->simulaties.push_back(test::HandMadeSweepRecord(2, 2));  // C-V, C-f and QE curves
  BandDiagramProfiles bands;
  const PlotSources src = SourcesFromSimulation(*run.sim, bands);
  PictureOptions options;
  options.width = 640;
  options.height = 480;
  for (std::size_t k = 0; k < PanelTable().size(); ++k) {
    const PlotPanel panel = BuildPanel(static_cast<int>(k), src);
    SCOPED_TRACE(panel.keyword);
    std::string bytes, error;
    ASSERT_TRUE(RenderPicture(SelectedGraphs(panel), options, bytes, error)) << error;
    const test::DecodedPng png = DecodePng(bytes);
    ASSERT_TRUE(png.ok) << png.error;
    EXPECT_EQ(png.width, 640);
    EXPECT_EQ(png.height, 480);
    // Axes, ticks and labels at least; never a blank page.
    EXPECT_GT(test::InkFraction(png), 0.01);
    if (!PanelHasData(panel)) {
      // ac and record: frames and the note in black, no curve.
      EXPECT_EQ(test::ColouredPixels(png), 0);
      continue;
    }
    for (const PlotGraph& g : panel.graphs)
      for (const PlotSeries& s : g.series)
        EXPECT_GT(test::PixelsNear(png, s.colour, 24), 0) << g.keyword << ": " << s.name;
  }

  // One graph alone fills the page (the default size): Fp (purple) has more room than in the
  // whole panel. Drawing is deterministic: the same graph gives the same bytes.
  const PlotPanel eb = BuildPanel(PanelIndexOf("eb"), src);
  std::string whole, one, again, error;
  ASSERT_TRUE(RenderPicture(SelectedGraphs(eb), PictureOptions{}, whole, error)) << error;
  ASSERT_TRUE(RenderPicture(SelectedGraphs(eb, {0}), PictureOptions{}, one, error)) << error;
  const test::DecodedPng a = DecodePng(whole), b = DecodePng(one);
  ASSERT_TRUE(a.ok && b.ok);
  EXPECT_EQ(b.width, 1000);
  EXPECT_EQ(b.height, 750);
  EXPECT_GT(test::PixelsNear(b, 0x9467BD, 24), test::PixelsNear(a, 0x9467BD, 24));
  ASSERT_TRUE(RenderPicture(SelectedGraphs(eb, {0}), PictureOptions{}, again, error));
  EXPECT_EQ(again, one);
}

PlotGraph ThreeSeriesGraph() {
  PlotGraph g;
  g.keyword = "test";
  g.title = "three series # and a hash";
  g.x.title = "x (\u00B5m)";
  g.y.title = "y (#/cm3.s)";
  const unsigned colours[] = {0xFF0000, 0x00FF00, 0x0000FF};
  for (int k = 0; k < 3; ++k) {
    PlotSeries s;
    s.name = "series " + std::to_string(k);
    s.colour = colours[k];
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
  const test::ParsedSvg svg = test::ParseSvg(bytes);
  ASSERT_TRUE(svg.ok) << svg.error;
  EXPECT_EQ(svg.root, "svg");
  // cairo writes a stroke colour as percentages. A series of 50 points is one path of 49
  // segments (PLplot hands a line to the driver in pieces of up to 256 points, so a longer
  // series becomes consecutive paths); the legend's sample of it is a path of one segment.
  const char* strokes[] = {"stroke:rgb(100%,0%,0%)", "stroke:rgb(0%,100%,0%)", "stroke:rgb(0%,0%,100%)"};
  for (const char* stroke : strokes) {
    int curves = 0, samples = 0;
    for (const test::SvgPath& p : svg.paths) {
      if (p.style.find(stroke) == std::string::npos) continue;
      const auto segments = std::count(p.d.begin(), p.d.end(), 'L');
      if (segments == 49) ++curves;
      if (segments == 1) ++samples;
    }
    EXPECT_EQ(curves, 1) << stroke;
    EXPECT_EQ(samples, 1) << stroke;
  }
  // A broken document is caught by the check itself.
  EXPECT_FALSE(test::ParseSvg(bytes.substr(0, bytes.size() / 2)).ok);
}

TEST(Pictures, WritingFailuresAreReportedWithTheFile) {
  const PlotGraph g = ThreeSeriesGraph();
  test::TempDir dir;
  std::string error;
  const std::string good = dir.file("g.png");
  ASSERT_TRUE(WritePicture({&g}, PictureOptions{}, good, error)) << error;
  EXPECT_TRUE(DecodePng(test::ReadWholeFile(good)).ok);

  const std::string missing = dir.file("no such folder/g.png");
  EXPECT_FALSE(WritePicture({&g}, PictureOptions{}, missing, error));
  EXPECT_EQ(error, "The picture cannot be written: " + missing);

  std::string bytes;
  PictureOptions tiny;
  tiny.width = 2;
  EXPECT_FALSE(RenderPicture({&g}, tiny, bytes, error));
  EXPECT_NE(error.find("2x750"), std::string::npos) << error;
  EXPECT_FALSE(RenderPicture({}, PictureOptions{}, bytes, error));
}

TEST(Pictures, FormatFollowsTheExtension) {
  PictureFormat f = PictureFormat::kSvg;
  EXPECT_TRUE(PictureFormatOfFile("a/b.c/fig.PNG", f));
  EXPECT_EQ(f, PictureFormat::kPng);
  EXPECT_TRUE(PictureFormatOfFile("fig.svg", f));
  EXPECT_EQ(f, PictureFormat::kSvg);
  EXPECT_FALSE(PictureFormatOfFile("fig.jpg", f));
  EXPECT_FALSE(PictureFormatOfFile("a.png/fig", f));
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
  EXPECT_NE(b, single);
  EXPECT_EQ(test::PixelsNear(DecodePng(b), 0x0000FF, 24), 0);  // the third series is not in it
}

}  // namespace
}  // namespace zoniq
