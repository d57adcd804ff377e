// Drawing and writing pictures: SVG as XML with one path per series, the failures reported with
// the file, drawing from two threads, and the pictures asked for by a script ("save graph") and
// by the command line (--calculate --plots DIR). (Every panel of a simulation is drawn in the
// figure-model test.)
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "../app/program_run.hpp"
#include "plot/plot_render.hpp"
#include "plot_fixture.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;

// Three series of 50 points in pure red, green and blue.
PlotGraph ThreeSeriesGraph() {
  PlotGraph g;
  g.keyword = "test";
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
  const test::ParsedSvg svg = test::ParseSvg(bytes);
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
  EXPECT_FALSE(test::ParseSvg(bytes.substr(0, bytes.size() / 2)).ok);  // the check catches a broken document
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
  EXPECT_TRUE(test::DecodePng(test::ReadWholeFile(dir.file("g.png"))).ok);
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
  EXPECT_EQ(test::PixelsNear(test::DecodePng(b), 0x0000FF, 24), 0);  // the third series is not in it
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

class PlotsOption : public test::ProgramRun {
 protected:
  void SetUp() override {
    ProgramRun::SetUp();
    home_ = test::HomeFolder();
  }
};

TEST_F(PlotsOption, WritesThePanelsThatHoldResults) {
  ASSERT_EQ(Zoniq({"CIGS.def", "--light", "--iv", "-0.2:0.8:11", "--calculate", "--plots", "pictures"}), kExitOk)
      << err_.str();
  for (const char* panel : {"eb", "genrec", "iv", "grading"}) {
    const std::string path = "pictures/" + std::string(panel) + ".png";
    EXPECT_TRUE(test::DecodePng(test::ReadWholeFile(path)).ok) << path;
    EXPECT_NE(out_.str().find("Picture: " + path), std::string::npos) << out_.str();
  }
  for (const char* panel : {"ac", "cv", "cf", "qe", "record"})  // nothing of these was calculated
    EXPECT_FALSE(fs::exists(fs::path("pictures") / (std::string(panel) + ".png"))) << panel;
}

TEST_F(PlotsOption, NeedsAFolderAndACalculationAndReportsWhatCannotBeWritten) {
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
