#include "common/text.hpp"

#include <algorithm>
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

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The word that starts at `i` (up to the next blank), for messages.
std::string WordAt(std::string_view text, std::size_t i) {
  std::size_t e = i;
  while (e < text.size() && !IsSeparator(text[e])) ++e;
  return std::string(text.substr(i, std::min<std::size_t>(e - i, 40)));
}

}  // namespace

StrictNumbers ScanNumbersStrict(std::string_view text, std::size_t maxCount, bool textEndsValues) {
  StrictNumbers r;
  std::size_t i = 0;
  while (i < text.size() && r.values.size() < maxCount) {
    if (IsSeparator(text[i])) {
      ++i;
      continue;
    }
    double v = 0.0;
    bool finite = true;
    const std::size_t used = ScanNumberAt(text.substr(i), v, finite);
    if (used == 0) {
      if (r.values.empty()) {
        ++i;  // text before the first number (the rest of a keyword)
        continue;
      }
      if (!textEndsValues) r.problem = "'" + WordAt(text, i) + "' is not a number";
      break;
    }
    if (i + used < text.size() && !IsSeparator(text[i + used])) {
      // The number runs into other characters: a typo, a decimal comma or a unit written
      // against it. Taking the leading digits would load a different value.
      std::size_t start = i;
      while (start > 0 && !IsSeparator(text[start - 1])) --start;
      r.problem = "'" + WordAt(text, start) + "' is not a number (text follows the digits)";
      break;
    }
    if (!finite) r.finite = false;
    r.values.push_back(v);
    i += used;
  }
  return r;
}

namespace {

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      const bool same =
          std::tolower(static_cast<unsigned char>(a[i - 1])) == std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

std::string WithoutSeparators(std::string_view w) {
  std::string out;
  for (char c : w)
    if (c != '_' && c != '-') out += c;
  return out;
}

}  // namespace

std::vector<std::string> NearestWords(std::string_view word, const std::vector<std::string>& candidates,
                                      std::size_t maxCount) {
  const std::string w = WithoutSeparators(word);
  const std::size_t limit = std::max<std::size_t>(1, w.size() / 3);
  std::vector<std::pair<std::size_t, std::string>> scored;
  for (const std::string& c : candidates) {
    const std::size_t d = EditDistance(w, WithoutSeparators(c));
    if (d <= limit && std::none_of(scored.begin(), scored.end(), [&](const auto& s) { return s.second == c; }))
      scored.emplace_back(d, c);
  }
  std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (std::size_t i = 0; i < scored.size() && i < maxCount; ++i) out.push_back(scored[i].second);
  return out;
}

std::string JoinAlternatives(const std::vector<std::string>& words) {
  std::string s;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) s += i + 1 == words.size() ? " or " : ", ";
    s += words[i];
  }
  return s;
}

bool ParseWholeNumber(std::string_view text, double& value) {
  const std::string_view t = TrimView(text);
  bool finite = true;
  return !t.empty() && ScanNumberAt(t, value, finite) == t.size() && finite;
}

static std::size_t SkipBlanks(std::string_view s, std::size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return i;
}

// A number ends at a blank, a tab, a line end, a comma or a semicolon (column separators).
static bool EndsColumn(std::string_view s, std::size_t i) {
  return i >= s.size() || s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n' || s[i] == ',' || s[i] == ';';
}

bool ParseOneColumn(std::string_view line, double& x) {
  std::size_t i = SkipBlanks(line, 0);
  bool finite = true;
  std::size_t used = ScanNumberAt(line.substr(i), x, finite);
  return used > 0 && finite && EndsColumn(line, i + used);
}

// Two numbers at the front of a line; `strict`: each must end at a separator.
static bool TwoColumns(std::string_view line, double& x, double& y, bool strict) {
  std::size_t i = SkipBlanks(line, 0);
  bool finite = true;
  std::size_t used = ScanNumberAt(line.substr(i), x, finite);
  if (used == 0 || !finite) return false;
  if (strict && !EndsColumn(line, i + used)) return false;
  i += used;
  // The two numbers must be separated by white space (a comma or semicolon is taken too).
  std::size_t j = SkipBlanks(line, i);
  const char separator = j < line.size() && (line[j] == ',' || line[j] == ';') ? line[j] : ' ';
  if (separator != ' ') j = SkipBlanks(line, j + 1);
  if (j == i) return false;
  used = ScanNumberAt(line.substr(j), y, finite);
  if (used == 0 || !finite) return false;
  if (!strict) return true;
  // After the second number a further column may follow, separated as the first two are; a
  // comma after a number of a blank-separated line is a decimal comma ("400 2,5e4").
  const std::size_t end = j + used;
  if (end >= line.size() || line[end] == ' ' || line[end] == '\t' || line[end] == '\r' || line[end] == '\n')
    return true;
  return line[end] == separator;
}

bool ParseTwoColumns(std::string_view line, double& x, double& y) { return TwoColumns(line, x, y, true); }

bool LooksLikeTwoColumns(std::string_view line) {
  double x = 0.0, y = 0.0;
  return TwoColumns(line, x, y, false);
}

}  // namespace zoniq
