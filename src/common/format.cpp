#include "common/format.hpp"

#include <cstdio>
#include <ctime>

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

DateTime NowLocal() {
  std::time_t now = std::time(nullptr);
  std::tm tmv{};
  localtime_r(&now, &tmv);
  return DateTime{tmv.tm_mday, tmv.tm_mon + 1, tmv.tm_year + 1900, tmv.tm_hour, tmv.tm_min, tmv.tm_sec};
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
