// Two-column data files: which lines are data, the limits per kind, the exact messages,
// and hostile content.
#include "celldef/data_files.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "grading_fixture.hpp"

namespace zoniq {
namespace {

using test::ExpectArraysClose;

class DataFiles : public test::GradingEnvironment {};

TEST_F(DataFiles, DataLinesStartWithTwoNumbers) {
  Write("absorption", "a.abs",
        "wavelength (nm)\talpha (/m)\r\n"
        "\r\n"
        "300\t1.5e7\r\n"
        "  400 2e6 extra words 99\r\n"
        "* 500 1e5\r\n"
        "600\r\n"
        "-7.5e+2 -3\r\n"
        "800 9");  // last line without a line end
  std::vector<double> x, y;
  EXPECT_EQ(lees_file("a.abs", x, y, 2, env), 4);
  ExpectArraysClose(x, {300.0, 400.0, -750.0, 800.0}, 0);
  ExpectArraysClose(y, {1.5e7, 2e6, -3.0, 9.0}, 0);
  EXPECT_TRUE(ui.popups.empty());
  EXPECT_EQ(tel_lijnen_in_file("a.abs", 2, env), 4);
}

TEST_F(DataFiles, FullPathsAreNotRedirected) {
  const std::string path = Write("spectrum", "s.spe", "1 2\n");
  std::vector<double> x, y;
  EXPECT_EQ(lees_file(path, x, y, 2, env), 1);  // kind 2 would look in "absorption"
}

TEST_F(DataFiles, GenerationFilesAreInMicrometresAndStopAt2000Lines) {
  std::string contents = "x (um)  G\n";
  for (int i = 0; i < 2100; ++i) contents += std::to_string(i) + " " + std::to_string(2 * i) + "\n";
  Write("generation", "g.gen", contents);
  std::vector<double> x, y;
  EXPECT_EQ(lees_file("g.gen", x, y, 4, env), 2000);
  ASSERT_EQ(x.size(), 2000u);
  EXPECT_DOUBLE_EQ(x[3], 3e-6);  // 3 µm in metres
  EXPECT_EQ(y[3], 6.0);
  EXPECT_DOUBLE_EQ(x.back(), 1999e-6);
  // counting sees every line, so that callers can reject files with too many points
  EXPECT_EQ(tel_lijnen_in_file("g.gen", 4, env), 2100);
}

TEST_F(DataFiles, OtherKindsStopAt2500Lines) {
  std::string contents;
  for (int i = 0; i < 3000; ++i) contents += std::to_string(i) + " 1\n";
  Write("grading", "long.grad", contents);
  std::vector<double> x, y;
  EXPECT_EQ(lees_file("long.grad", x, y, 26, env), 2500);
  EXPECT_EQ(x.back(), 2499.0);
  EXPECT_EQ(tel_lijnen_in_file("long.grad", 26, env), 3000);
}

TEST_F(DataFiles, ListFilesHoldOneNumberPerLine) {
  Write("bdf", "l.bdf", "values\n1.5\n2.5 and text\nx 7\n-4\n");
  std::vector<double> x, y;
  EXPECT_EQ(lees_file("l.bdf", x, y, 6, env), 3);
  ExpectArraysClose(x, {1.5, 2.5, -4.0}, 0);
  ExpectArraysClose(y, {0.0, 0.0, 0.0}, 0);
}

TEST_F(DataFiles, MissingFileMessageAndUntouchedOutputs) {
  std::vector<double> x = {42.0}, y = {43.0};
  EXPECT_EQ(lees_file("gone.abs", x, y, 2, env), -1);
  ASSERT_EQ(ui.popups.size(), 1u);
  EXPECT_EQ(ui.popups[0].title, "Error occured during opening file: " + PathOf("absorption", "gone.abs") + " !");
  EXPECT_EQ(ui.popups[0].message, "No such file or directory");
  EXPECT_EQ(x, std::vector<double>{42.0});
  EXPECT_EQ(y, std::vector<double>{43.0});
  EXPECT_EQ(tel_lijnen_in_file("gone.abs", 2, env), -1);
  // a folder opens but cannot be read
  EXPECT_EQ(lees_file(env.programFolder, x, y, 2, env), -1);
  EXPECT_EQ(ui.popups.back().title, "Error occured during opening file: " + env.programFolder + " !");
  EXPECT_EQ(x, std::vector<double>{42.0});
}

TEST_F(DataFiles, NonFiniteNumbersAreNotData) {
  Write("absorption", "nf.abs", "nan 1\n1 nan\ninf 2\n2 -inf\n1e999 3\n3 1e999\n-1e400 4\n0x10 5\n5 6\n");
  std::vector<double> x, y;
  EXPECT_EQ(lees_file("nf.abs", x, y, 2, env), 1);
  ExpectArraysClose(x, {5.0}, 0);
  ExpectArraysClose(y, {6.0}, 0);
}

TEST_F(DataFiles, HugeLinesAndBinaryGarbage) {
  // a 100k-character line is cut at 255 characters and the rest of it discarded
  std::string contents = "1 " + std::string(100000, '7') + "\n2 3\n";
  contents += std::string(50000, 'x') + " 4 5\n";
  Write("absorption", "huge.abs", contents);
  std::vector<double> x, y;
  EXPECT_EQ(lees_file("huge.abs", x, y, 2, env), 2);
  EXPECT_EQ(x[0], 1.0);
  EXPECT_TRUE(std::isfinite(y[0]));  // 253 sevens: about 7.8e252
  EXPECT_EQ(x[1], 2.0);

  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) % 256));
  Write("absorption", "bin.abs", garbage + "\n9 8\n" + std::string("\0\0\0", 3));
  EXPECT_GE(lees_file("bin.abs", x, y, 2, env), 1);
  for (double v : x) EXPECT_TRUE(std::isfinite(v));
  for (double v : y) EXPECT_TRUE(std::isfinite(v));
}

}  // namespace
}  // namespace zoniq
