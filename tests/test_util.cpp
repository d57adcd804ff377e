#include "test_util.hpp"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace zoniq::test {

::testing::AssertionResult IsClose(double actual, double expected, double rel, double abs) {
  if (std::isnan(actual) || std::isnan(expected))
    return ::testing::AssertionFailure() << "NaN: actual " << actual << ", expected " << expected;
  const double tol = abs + rel * std::fabs(expected);
  if (std::fabs(actual - expected) <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "actual " << actual << " differs from expected " << expected << " by "
                                       << std::fabs(actual - expected) << " > tolerance " << tol;
}

void ExpectArraysClose(const std::vector<double>& actual, const std::vector<double>& expected, double rel,
                       double abs) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i)
    EXPECT_TRUE(IsClose(actual[i], expected[i], rel, abs)) << " at index " << i;
}

std::string TestData(const std::string& name) {
  const char* dir = std::getenv("ZONIQ_TEST_DATA");
  return std::string(dir ? dir : ZONIQ_TEST_DATA_DIR) + "/" + name;
}

std::string HomeFolder() {
  const char* dir = std::getenv("ZONIQ_HOME");
  return dir ? dir : ZONIQ_TEST_HOME_DIR;
}

TempDir::TempDir() {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = std::filesystem::temp_directory_path() / ("zoniq_test_" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteWholeFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary);
  out << contents;
}

}  // namespace zoniq::test
