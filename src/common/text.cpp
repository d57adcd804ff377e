#include "common/text.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace zoniq {

LineReader::Status LineReader::Next(std::string& line) {
  line.clear();
  cut_ = false;
  int c = std::fgetc(file_);
  if (c == EOF) return std::ferror(file_) ? Status::kError : Status::kEnd;
  while (c != EOF && c != '\n') {
    if (line.size() < maxLength_) {
      line.push_back(static_cast<char>(c));
    } else {
      cut_ = true;
    }
    c = std::fgetc(file_);
  }
  if (c == EOF && std::ferror(file_)) return Status::kError;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  ++lineNumber_;
  return Status::kLine;
}

FilePtr OpenFile(const std::string& path, const char* mode) {
  return FilePtr(std::fopen(path.c_str(), mode));
}

std::string ToLower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

static char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.empty()) return true;
  if (part.size() > text.size()) return false;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
    if (StartsWithNoCase(text.substr(i), part)) return true;
  return false;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Trim(std::string_view s) { return std::string(TrimView(s)); }

std::string TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string AfterColon(std::string_view line) {
  auto pos = line.find(':');
  if (pos == std::string_view::npos) return {};
  return Trim(line.substr(pos + 1));
}

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t ScanNumberAt(std::string_view text, double& value, bool& finite) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t mantissaStart = i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  std::size_t end = i;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < n && IsDigit(text[j])) {
      while (j < n && IsDigit(text[j])) ++j;
      end = j;
    }
  }
  // from_chars does not take a leading '+', and parses the magnitude; the sign is ours.
  double magnitude = 0.0;
  auto res = std::from_chars(text.data() + mantissaStart, text.data() + end, magnitude,
                             std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // Underflow gives a denormal or zero, which is harmless; overflow is not a number we take.
    const std::string token(text.substr(mantissaStart, end - mantissaStart));
    magnitude = std::strtod(token.c_str(), nullptr);
  } else if (res.ec != std::errc()) {
    return 0;
  }
  value = negative ? -magnitude : magnitude;
  finite = std::isfinite(value);
  return end;
}

std::vector<double> ScanNumbers(std::string_view text, std::size_t maxCount, bool* allFinite, std::size_t start) {
  std::vector<double> out;
  if (allFinite) *allFinite = true;
  std::size_t i = start;
  while (i < text.size() && out.size() < maxCount) {
    double v = 0;
    bool finite = true;
    std::size_t used = ScanNumberAt(text.substr(i), v, finite);
    if (used == 0) {
      ++i;
      continue;
    }
    if (!finite && allFinite) *allFinite = false;
    out.push_back(v);
    i += used;
  }
  return out;
}

std::optional<double> FirstNumber(std::string_view text, std::size_t start, bool* finite) {
  bool ok = true;
  auto v = ScanNumbers(text, 1, &ok, start);
  if (finite) *finite = ok;
  if (v.empty()) return std::nullopt;
  return v[0];
}

static std::size_t SkipBlanks(std::string_view s, std::size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return i;
}

bool ParseOneColumn(std::string_view line, double& x) {
  std::size_t i = SkipBlanks(line, 0);
  bool finite = true;
  std::size_t used = ScanNumberAt(line.substr(i), x, finite);
  return used > 0 && finite;
}

bool ParseTwoColumns(std::string_view line, double& x, double& y) {
  std::size_t i = SkipBlanks(line, 0);
  bool finite = true;
  std::size_t used = ScanNumberAt(line.substr(i), x, finite);
  if (used == 0 || !finite) return false;
  i += used;
  // The two numbers must be separated by white space (a comma or semicolon is taken too).
  std::size_t j = SkipBlanks(line, i);
  if (j < line.size() && (line[j] == ',' || line[j] == ';')) j = SkipBlanks(line, j + 1);
  if (j == i) return false;
  used = ScanNumberAt(line.substr(j), y, finite);
  return used > 0 && finite;
}

}  // namespace zoniq
