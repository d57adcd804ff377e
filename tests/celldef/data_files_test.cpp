// Two-column data files: which lines are data, the limits per kind, the messages, and hostile
// content.
#include "celldef/data_files.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "grading_fixture.hpp"

namespace zoniq {
namespace {

using test::ExpectArraysClose;

class DataFiles : public test::GradingEnvironment {};

TEST_F(DataFiles, DataLinesStartWithNumbersThatAreFinite) {
  Write("absorption", "a.abs",
        "wavelength (nm)\talpha (/m)\r\n\r\n300\t1.5e7\r\n  400 2e6 extra words 99\r\n* 500 1e5\r\n600\r\n"
        "nan 1\r\n1 nan\r\ninf 2\r\n2 -inf\r\n1e999 3\r\n3 1e999\r\n-1e400 4\r\n0x10 5\r\n"
        "-7.5e+2 -3\r\n800 9");  // last line without a line end
  std::vector<double> x, y;
  EXPECT_EQ(lees_file("a.abs", x, y, 2, env), 4);
  ExpectArraysClose(x, {300.0, 400.0, -750.0, 800.0}, 0);
  ExpectArraysClose(y, {1.5e7, 2e6, -3.0, 9.0}, 0);
  EXPECT_TRUE(ui.popups.empty());
  EXPECT_EQ(tel_lijnen_in_file("a.abs", 2, env), 4);
  // List files hold one number per line; full paths are not redirected to the kind's folder.
  const std::string list = Write("bdf", "l.bdf", "values\n1.5\n2.5 and text\nx 7\n-4\n");
  EXPECT_EQ(lees_file(list, x, y, 6, env), 3);
  ExpectArraysClose(x, {1.5, 2.5, -4.0}, 0);
  ExpectArraysClose(y, {0.0, 0.0, 0.0}, 0);
}

TEST_F(DataFiles, GenerationFilesAreInMicrometresAndKindsStopAtTheirLimits) {
  // Generation files stop at 2000 lines, the others at 2500; counting sees every line, so that
  // callers can reject files with too many points.
  std::string generation = "x (um)  G\n", grading;
  for (int i = 0; i < 2100; ++i) generation += std::to_string(i) + " " + std::to_string(2 * i) + "\n";
  for (int i = 0; i < 3000; ++i) grading += std::to_string(i) + " 1\n";
  Write("generation", "g.gen", generation);
  Write("grading", "long.grad", grading);
  std::vector<double> x, y;
  EXPECT_EQ(lees_file("g.gen", x, y, 4, env), 2000);
  EXPECT_DOUBLE_EQ(x[3], 3e-6);  // 3 µm in metres
  EXPECT_EQ(y[3], 6.0);
  EXPECT_DOUBLE_EQ(x.back(), 1999e-6);
  EXPECT_EQ(tel_lijnen_in_file("g.gen", 4, env), 2100);
  EXPECT_EQ(lees_file("long.grad", x, y, 26, env), 2500);
  EXPECT_EQ(x.back(), 2499.0);
  EXPECT_EQ(tel_lijnen_in_file("long.grad", 26, env), 3000);
}

TEST_F(DataFiles, MissingFilesFoldersAndHugeLines) {
  std::vector<double> x = {42.0}, y = {43.0};
  EXPECT_EQ(lees_file("gone.abs", x, y, 2, env), -1);
  ASSERT_EQ(ui.popups.size(), 1u);
  EXPECT_EQ(ui.popups[0].title, "Error occured during opening file: " + PathOf("absorption", "gone.abs") + " !");
  EXPECT_EQ(ui.popups[0].message, "No such file or directory");
  EXPECT_EQ(tel_lijnen_in_file("gone.abs", 2, env), -1);
  EXPECT_EQ(lees_file(env.programFolder, x, y, 2, env), -1);  // a folder opens but cannot be read
  EXPECT_EQ(x, std::vector<double>{42.0});
  EXPECT_EQ(y, std::vector<double>{43.0});
  // A 100k-character line is cut at 255 characters and the rest of it discarded.
  Write("absorption", "huge.abs", "1 " + std::string(100000, '7') + "\n2 3\n" + std::string(50000, 'x') + " 4 5\n");
  EXPECT_EQ(lees_file("huge.abs", x, y, 2, env), 2);
  EXPECT_EQ(x[0], 1.0);
  EXPECT_TRUE(std::isfinite(y[0]));  // 253 sevens: about 7.8e252
  EXPECT_EQ(x[1], 2.0);
}

}  // namespace
}  // namespace zoniq
