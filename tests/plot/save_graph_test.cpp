// Pictures from a script ("save graph.<panel>.<graph> file.png|.svg") and from the command line
// (--calculate --plots DIR), on the shipped CIGS example.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "../app/program_run.hpp"
#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "picture_check.hpp"
#include "script/script_interpreter.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;

class SaveGraph : public ::testing::Test {
 protected:
  SaveGraph() : session(dir.path().string(), std::make_unique<RecordingUserInterface>()) {
    for (const char* sub : {"script", "results", "def", "spectrum"}) fs::create_directories(dir.path() / sub);
    fs::copy_file(fs::path(test::HomeFolder()) / "def" / "CIGS.def", dir.path() / "def" / "CIGS.def");
    fs::copy_file(fs::path(test::HomeFolder()) / "spectrum" / "AM1_5G 1 sun.spe",
                  dir.path() / "spectrum" / "AM1_5G 1 sun.spe");
    Initialise(session);
    session.errors.logFolder = dir.path().string();
  }
  int Run(const std::string& text) {
    test::WriteWholeFile(dir.file("script/test.script"), text);
    ScriptContext ctx = MakeScriptContext(session);
    int running = 1;
    return RunScriptFile(ctx, "test.script", running);
  }
  std::vector<RecordingUserInterface::Popup>& Popups() {
    return static_cast<RecordingUserInterface&>(*session.ui).popups;
  }
  std::string Result(const std::string& name) { return dir.file("results/" + name); }

  test::TempDir dir;
  Session session;
};

constexpr const char* kSimulate =
    "load definition CIGS.def\n"
    "action light\n"
    "action iv.startV -0.2\n"
    "action iv.stopV 0.8\n"
    "action iv.points 11\n"
    "action iv.doiv 1\n"
    "calculate single\n";

TEST_F(SaveGraph, PicturesOfPanelsAndGraphsGoToTheResultsFolder) {
  ASSERT_EQ(Run(std::string(kSimulate) + "save graph.eb.energybands bands.png\n"
                                         "save graph.iv.whole iv.svg\n"
                                         "save graph.iv.iv curve\n"  // no extension: a PNG
                                         "save graph.cf.Nyquist nyquist.png\n"
                                         "save graph.ac.currents.phase acphase.png\n"),
            0);
  for (const auto& p : Popups()) ADD_FAILURE() << p.title << ": " << p.message;
  for (const char* png : {"bands.png", "curve.png", "nyquist.png", "acphase.png"}) {
    const test::DecodedPng image = test::DecodePng(test::ReadWholeFile(Result(png)));
    ASSERT_TRUE(image.ok) << png << ": " << image.error;
    EXPECT_EQ(image.width, 1000) << png;
    EXPECT_GT(test::InkFraction(image), 0.01) << png;
  }
  // Nothing of C-f or ac has been calculated: their pictures hold no curve.
  EXPECT_EQ(test::ColouredPixels(test::DecodePng(test::ReadWholeFile(Result("nyquist.png")))), 0);
  EXPECT_GT(test::ColouredPixels(test::DecodePng(test::ReadWholeFile(Result("bands.png")))), 0);
  const test::ParsedSvg svg = test::ParseSvg(test::ReadWholeFile(Result("iv.svg")));
  EXPECT_TRUE(svg.ok) << svg.error;
}

TEST_F(SaveGraph, UnknownNamesUnknownFormatsAndUnwritableFiles) {
  struct Case {
    const char* line;
    const char* message;
  };
  const Case cases[] = {
      {"save graph.xx.whole a.png", "Script command: save graph.xx.whole a.png\nCommand not recognised"},
      // (every name form is checked where the names are selected)
      {"save graph.eb.whole a.jpg",
       "Script command: save graph.eb.whole a.jpg\nPictures are written as PNG (.png) "
       "or SVG (.svg) files, not as "},
      {"save graph.eb.whole nowhere/a.png",
       "Script command: save graph.eb.whole nowhere/a.png\nThe picture cannot be written: "},
  };
  for (const Case& c : cases) {
    Popups().clear();
    Run(std::string(c.line) + "\n");
    ASSERT_EQ(Popups().size(), 1u) << c.line;
    EXPECT_EQ(Popups()[0].title, "Error whilst processing save command in script");
    EXPECT_EQ(Popups()[0].message.rfind(c.message, 0), 0u) << Popups()[0].message;
  }
  EXPECT_TRUE(fs::is_empty(dir.path() / "results"));
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
    const test::DecodedPng png = test::DecodePng(test::ReadWholeFile(path));
    EXPECT_TRUE(png.ok) << path;
    EXPECT_NE(out_.str().find("Picture: " + path), std::string::npos) << out_.str();
  }
  // Nothing of these was calculated.
  for (const char* panel : {"ac", "cv", "cf", "qe", "record"})
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
