#include "common/format.hpp"

#include <utime.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "common/text.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(Format, LayoutsAreFixedWidthWithTwoDigitExponents) {
  EXPECT_EQ(sci(1e5, 9, 3), "1.000e+05");
  EXPECT_EQ(sci(-2.5e-19, 13, 6), "-2.500000e-19");
  EXPECT_EQ(sci(0.5, 9, 2), " 5.00e-01");
  EXPECT_EQ(fix(1.5, 10, 6), "  1.500000");
  EXPECT_EQ(fix(-0.25, 5, 2), "-0.25");
  EXPECT_EQ(intw(3, 5), "    3");
  EXPECT_EQ(intw(-1, 2), "-1");
}

TEST(Text, NumbersAreScannedWithoutNaNOrInf) {
  bool finite = true;
  auto v = ScanNumbers("chi :\t4.5\t-3e2 [eV] .5 +7", 10, &finite);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0], 4.5);
  EXPECT_EQ(v[1], -300.0);
  EXPECT_EQ(v[2], 0.5);
  EXPECT_EQ(v[3], 7.0);
  EXPECT_TRUE(finite);
  // Words such as nan and inf are text, not numbers; 1e999 is reported as not finite.
  EXPECT_TRUE(ScanNumbers("nan inf", 5).empty());
  auto big = ScanNumbers("1e999", 5, &finite);
  ASSERT_EQ(big.size(), 1u);
  EXPECT_FALSE(finite);
  // A unit such as [m^2] holds a number: the scanner finds it (the readers skip units by position).
  EXPECT_EQ(ScanNumbers("[-]", 5).size(), 0u);
}

// Sets the process's time zone for the life of the object and restores the previous one.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* previous = std::getenv("TZ")) previous_ = previous;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (previous_)
      setenv("TZ", previous_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

TEST(FileDate, LocalModificationTimeOfAFile) {
  // A zone 5 h 30 min east of UTC, so that local and universal time differ in day and hour.
  const ScopedTimeZone zone("XYZ-5:30");
  test::TempDir dir;
  const std::string path = dir.file("cell.def");
  test::WriteWholeFile(path, "x\n");
  const std::time_t when = 1234567890;  // 13 February 2009, 23:31:30 UTC
  utimbuf times{when, when};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  // The expected fields come from the C library, independently of the code under test.
  std::tm local{}, utc{};
  ASSERT_NE(localtime_r(&when, &local), nullptr);
  ASSERT_NE(gmtime_r(&when, &utc), nullptr);
  ASSERT_NE(local.tm_mday, utc.tm_mday) << "the test's time zone was not taken";

  const auto expectLocalTimeOfWhen = [&local](const std::optional<DateTime>& t) {
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->day, local.tm_mday);
    EXPECT_EQ(t->month, local.tm_mon + 1);
    EXPECT_EQ(t->year, local.tm_year + 1900);
    EXPECT_EQ(t->hour, local.tm_hour);
    EXPECT_EQ(t->minute, local.tm_min);
    EXPECT_EQ(t->second, local.tm_sec);
  };
  expectLocalTimeOfWhen(FileModificationTime(path));
  // A path with a backslash as folder separator finds the same file.
  expectLocalTimeOfWhen(FileModificationTime(dir.path().string() + "\\cell.def"));

  // A file that does not exist has no date.
  EXPECT_FALSE(FileModificationTime(dir.file("missing.def")).has_value());
  EXPECT_FALSE(FileModificationTime("").has_value());
}

}  // namespace
}  // namespace zoniq
