// Text helpers shared by every reader: line reading with a length limit, keyword matching
// without regard to case, and number scanning that never accepts NaN or Inf.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zoniq {

// Reads text lines from a file, accepting LF and CRLF line ends. A line longer than
// `maxLength` characters is cut there; the rest of that physical line is discarded.
class LineReader {
 public:
  enum class Status { kLine, kEnd, kError };
  explicit LineReader(std::FILE* file, std::size_t maxLength = 255) : file_(file), maxLength_(maxLength) {}
  Status Next(std::string& line);
  long lineNumber() const { return lineNumber_; }
  // After the caller moved the file (a script loop going back), the number of the line read last.
  void setLineNumber(long n) { lineNumber_ = n; }
  bool wasCut() const { return cut_; }

 private:
  std::FILE* file_;
  std::size_t maxLength_;
  long lineNumber_ = 0;
  bool cut_ = false;
};

// Owning FILE handle.
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
FilePtr OpenFile(const std::string& path, const char* mode);

std::string ToLower(std::string_view s);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool ContainsNoCase(std::string_view text, std::string_view part);
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string_view TrimView(std::string_view s);
std::string Trim(std::string_view s);
std::string TrimRight(std::string_view s);
// Text after the first ':' (trimmed of blanks), or empty when there is none.
std::string AfterColon(std::string_view line);

// A decimal number at the front of `text` (sign, digits, point, exponent); no NaN, Inf or hex.
// Returns the number of characters used, 0 when no number starts there. `value` receives
// the number; an out-of-range value (1e999) makes `finite` false.
std::size_t ScanNumberAt(std::string_view text, double& value, bool& finite);

// All numbers on the line from `start`, skipping text that cannot begin a number, at most
// `maxCount`. Non-finite numbers are reported through `allFinite`.
std::vector<double> ScanNumbers(std::string_view text, std::size_t maxCount, bool* allFinite = nullptr,
                                std::size_t start = 0);
// The numbers of a value text, read strictly: text before the first number is skipped (as the
// keyword readers do), but a number must end at a blank, a tab or the end of the text, so that
// "1.15O000", "3,000e-06" and "2.5nm" are refused rather than read as 1.15, 3 and 2.5. After
// the first number, white space separates numbers; a word that is not a number ends the
// values when `textEndsValues` (a unit or a remark after the value), and is refused otherwise.
// At most `maxCount` numbers are read; what follows them is not looked at.
struct StrictNumbers {
  std::vector<double> values;
  bool finite = true;
  std::string problem;  // empty when the text was taken; else why not, naming the word
};
StrictNumbers ScanNumbersStrict(std::string_view text, std::size_t maxCount, bool textEndsValues);

// The candidates nearest to a misspelt word (edit distance without regard to case, a deleted
// '_' or '-' costing nothing), at most `maxCount`, nearest first; only those close enough to be
// a plausible slip (distance at most a third of the word, at least 1).
std::vector<std::string> NearestWords(std::string_view word, const std::vector<std::string>& candidates,
                                      std::size_t maxCount = 3);
// "a", "a or b", "a, b or c".
std::string JoinAlternatives(const std::vector<std::string>& words);

// True when `text` holds exactly one number, with nothing but blanks around it.
bool ParseWholeNumber(std::string_view text, double& value);

// The first number on the line from `start`.
std::optional<double> FirstNumber(std::string_view text, std::size_t start = 0, bool* finite = nullptr);

// True when the line starts with two reals separated by white space (a data line of a
// two-column file); `x` and `y` receive them.
bool ParseTwoColumns(std::string_view line, double& x, double& y);
// Each number must end at white space, a comma, a semicolon or the end of the line.
bool ParseOneColumn(std::string_view line, double& x);
// True when the line begins with two numbers even though one of them runs into other text
// ("300 1.5e3x"): a damaged data line rather than a heading.
bool LooksLikeTwoColumns(std::string_view line);

}  // namespace zoniq
