#include "common/format.hpp"

#include <sys/stat.h>

#include <cstdio>

#include "common/paths.hpp"

namespace zoniq {

std::string sci(double value, int width, int precision) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%*.*e", width, precision, value);
  return buf;
}

std::string fix(double value, int width, int precision) {
  // Huge values in fixed notation can need hundreds of characters.
  char buf[400];
  std::snprintf(buf, sizeof buf, "%*.*f", width, precision, value);
  return buf;
}

std::string intw(long value, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%*ld", width, value);
  return buf;
}

std::string num(double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10g", value);
  return buf;
}

DateTime NowLocal() { return LocalDateTime(std::time(nullptr)).value_or(DateTime{}); }

std::optional<DateTime> LocalDateTime(std::time_t instant) {
  std::tm local{};
  if (!localtime_r(&instant, &local)) return std::nullopt;
  return DateTime{local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec};
}

std::optional<DateTime> FileModificationTime(std::string_view path) {
  struct stat info {};
  if (::stat(NativePath(path).c_str(), &info) != 0) return std::nullopt;
  return LocalDateTime(info.st_mtime);
}

std::string DateText(const DateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", t.day, t.month, t.year);
  return buf;
}

std::string TimeText(const DateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

}  // namespace zoniq
