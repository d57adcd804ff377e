// Whole-cell regression cases: every folder beside this file holds a case.txt that names a
// command line and the cell parameters it printed when the case was last accepted. They catch
// unintended change of results anywhere in the chain (definition file, grading, optics, solver,
// sweep, cell parameters); the physics tests are the evidence that the results are right.
//
// A change of results that is intended updates the cases knowingly:
//   ZONIQ_UPDATE_REGRESSION=1 ctest -R Regression
// rewrites the value lines of every case with what the program now prints; review the diff.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_program.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;

fs::path CasesFolder() { return fs::path(ZONIQ_REGRESSION_DIR); }

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(CasesFolder()))
    if (entry.is_directory() && fs::exists(entry.path() / "case.txt")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Case {
  std::vector<std::string> lines;  // the file as it stands, for the update mode
  std::vector<std::string> args;
  double tolerance = 0.0;
  std::vector<std::pair<std::string, double>> expected;
};

Case ReadCase(const fs::path& folder) {
  Case c;
  std::ifstream in(folder / "case.txt");
  for (std::string line; std::getline(in, line);) {
    c.lines.push_back(line);
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "run:") {
      for (std::string w; words >> w;) c.args.push_back(w[0] == '@' ? (folder / w.substr(1)).string() : w);
    } else if (key == "tolerance:") {
      words >> c.tolerance;
    } else {
      double value = std::nan("");
      words >> value;
      c.expected.emplace_back(key, value);
    }
  }
  return c;
}

// The number after "name = " at the start of a line of the report, or NaN.
double Printed(const std::string& report, const std::string& name) {
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string key, eq;
    double value = 0.0;
    if (words >> key >> eq >> value && key == name && eq == "=") return value;
  }
  return std::nan("");
}

class Regression : public ::testing::TestWithParam<std::string> {};

TEST_P(Regression, CellParametersUnchanged) {
  const fs::path folder = CasesFolder() / GetParam();
  const Case c = ReadCase(folder);
  ASSERT_FALSE(c.args.empty()) << "case.txt has no run: line";
  ASSERT_GT(c.tolerance, 0.0) << "case.txt has no tolerance: line";
  ASSERT_FALSE(c.expected.empty());

  test::TempDir tmp;
  const fs::path old = fs::current_path();
  fs::current_path(tmp.path());  // counts.txt goes here
  std::vector<std::string> args = c.args;
  args.insert(args.begin(), "zoniq");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  RunOptions options;
  options.out = &out;
  options.err = &err;
  options.programFolder = test::HomeFolder();
  const int status =
      RunZoniq(static_cast<int>(argv.size()), argv.data(), std::make_unique<RecordingUserInterface>(), options);
  fs::current_path(old);
  ASSERT_EQ(status, kExitOk) << err.str();

  if (const char* update = std::getenv("ZONIQ_UPDATE_REGRESSION"); update && std::string(update) == "1") {
    std::ofstream file(folder / "case.txt");
    std::size_t k = 0;
    for (const std::string& line : c.lines) {
      const bool valueLine = !line.empty() && line[0] != '#' && line.rfind("run:", 0) != 0 &&
                             line.rfind("tolerance:", 0) != 0;
      if (valueLine && k < c.expected.size()) {
        file << c.expected[k].first << ' ' << Printed(out.str(), c.expected[k].first) << '\n';
        ++k;
      } else {
        file << line << '\n';
      }
    }
    GTEST_SKIP() << "updated " << (folder / "case.txt").string();
  }

  for (const auto& [name, value] : c.expected) {
    SCOPED_TRACE(name);
    EXPECT_CLOSE(Printed(out.str(), name), value, c.tolerance, 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Regression, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace zoniq
