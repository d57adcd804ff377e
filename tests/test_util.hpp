// Helpers shared by the tests: tolerant comparisons and test-data lookup.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace zoniq::test {

// |actual - expected| <= abs + rel*|expected|; NaN never equals anything.
::testing::AssertionResult IsClose(double actual, double expected, double rel, double abs = 0.0);
#define EXPECT_CLOSE(actual, expected, rel, abs) EXPECT_TRUE(::zoniq::test::IsClose((actual), (expected), (rel), (abs)))

void ExpectArraysClose(const std::vector<double>& actual, const std::vector<double>& expected, double rel,
                       double abs = 0.0);

// A file of the tests' data folder.
std::string TestData(const std::string& name);
// The shipped program folder.
std::string HomeFolder();

// A fresh, empty temporary folder removed when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& contents);

}  // namespace zoniq::test
