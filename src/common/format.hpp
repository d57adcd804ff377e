// Fixed-width number layouts used by every file the program writes.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace zoniq {

// Scientific notation, p decimals, at least two exponent digits, right-aligned in w.
std::string sci(double value, int width, int precision);
// Fixed notation, p decimals, right-aligned in w.
std::string fix(double value, int width, int precision);
// Integer right-aligned in w (w = 0: as short as possible).
std::string intw(long value, int width = 0);
// Shortest round-trip-safe text of a double ("%.17g" trimmed), for messages.
std::string num(double value);

// Date and time texts: "dd-mm-yyyy" and "hh:mm:ss" (zero-padded).
struct DateTime {
  int day = 1, month = 1, year = 1970, hour = 0, minute = 0, second = 0;
};
DateTime NowLocal();
// The local calendar date and time of an instant; none when the C library cannot convert it.
std::optional<DateTime> LocalDateTime(std::time_t instant);
// The local date and time a file was last modified (backslashes in the path read as '/'); none
// when the file cannot be found.
std::optional<DateTime> FileModificationTime(std::string_view path);
std::string DateText(const DateTime& t);
std::string TimeText(const DateTime& t);

}  // namespace zoniq
