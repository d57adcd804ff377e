#include "measurements/measurement_file.hpp"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numbers>
#include <span>
#include <type_traits>

#include "common/text.hpp"

namespace zoniq {

namespace {

// ---- characters and words ----

bool IsLetter(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == 0xB5 || u == '_';
}
bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }
bool IsBlankChar(char c) { return c == ' ' || c == '\t'; }
// Characters that may end a number or a unit.
bool IsDelimiter(char c) {
  return IsBlankChar(c) || c == ',' || c == ';' || c == ':' || c == '=' || c == ')' || c == ']' || c == '(' ||
         c == '[' || c == '\r';
}
// Separators of the columns of a data line.
bool IsColumnSeparator(char c) { return IsBlankChar(c) || c == ',' || c == ';' || c == '\r'; }

// The units of files written on other systems come in UTF-8; the program's own files use the
// single bytes of the Windows code page. Header lines are compared in the single-byte form, with
// the superscript minus and the multiplication dot of "W·m⁻²" made plain.
std::string NormaliseLine(std::string_view line) {
  static constexpr struct {
    const char* from;
    const char* to;
  } kMap[] = {{"\xC2\xB2", "\xB2"}, {"\xC2\xB3", "\xB3"},  {"\xC2\xB5", "\xB5"}, {"\xCE\xBC", "\xB5"},
              {"\xC2\xB0", "\xB0"}, {"\xE2\x81\xBB", "-"}, {"\xC2\xB7", " "},    {"\xE2\x8B\x85", " "}};
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size();) {
    bool mapped = false;
    for (const auto& m : kMap) {
      const std::size_t n = std::strlen(m.from);
      if (line.substr(i, n) == m.from) {
        out += m.to;
        i += n;
        mapped = true;
        break;
      }
    }
    if (!mapped) out += line[i++];
  }
  return out;
}

// Where a number can start at i: a digit, or a sign or point followed by one.
bool NumberStartsAt(std::string_view t, std::size_t i) {
  if (i >= t.size()) return false;
  if (IsDigitChar(t[i])) return true;
  std::size_t j = i;
  if (t[j] == '+' || t[j] == '-') ++j;
  if (j < t.size() && t[j] == '.') ++j;
  return j > i && j < t.size() && IsDigitChar(t[j]);
}

// The first number of `t` from `from` that does not continue a word ("T1", "P_in2"), with the
// position just after it.
struct Found {
  double value = 0.0;
  std::size_t end = 0;
  bool finite = true;
};
std::optional<Found> FirstNumberAfter(std::string_view t, std::size_t from) {
  for (std::size_t i = from; i < t.size(); ++i) {
    if (!NumberStartsAt(t, i)) continue;
    if (i > 0 && (IsLetter(t[i - 1]) || IsDigitChar(t[i - 1]) || t[i - 1] == '.')) continue;
    Found f;
    const std::size_t used = ScanNumberAt(t.substr(i), f.value, f.finite);
    if (used == 0) continue;
    f.end = i + used;
    return f;
  }
  return std::nullopt;
}

// The word at `pos` (blanks skipped when `skipBlanks`), up to the next delimiter.
std::string_view WordAt(std::string_view t, std::size_t pos, bool skipBlanks) {
  if (skipBlanks)
    while (pos < t.size() && IsBlankChar(t[pos])) ++pos;
  std::size_t e = pos;
  while (e < t.size() && !IsDelimiter(t[e])) ++e;
  return t.substr(std::min(pos, t.size()), e - std::min(pos, t.size()));
}

std::string Quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// The number of a header line after its keyword (at `from`), with an optional unit word after
// it whose decimal prefix scales it when it ends in `baseUnit` ("kHz", "mV"). A word that runs
// into the number and is not that unit is refused.
std::optional<double> ValueWithUnit(std::string_view t, std::size_t from, const char* baseUnit, bool signedValue,
                                    std::string* problem) {
  const std::optional<Found> f = FirstNumberAfter(t, from);
  if (!f) return std::nullopt;
  if (!f->finite) {
    if (problem) *problem = "the number is out of range";
    return std::nullopt;
  }
  double value = f->value;
  const bool glued = f->end < t.size() && !IsDelimiter(t[f->end]);
  const std::string_view word = WordAt(t, f->end, true);
  const std::size_t base = std::strlen(baseUnit);
  if (!word.empty() && word.size() >= base && word.substr(word.size() - base) == baseUnit && word.size() <= base + 1) {
    value *= word.size() == base ? 1.0 : decimal_prefix(word);
  } else if (glued) {
    if (problem) *problem = "the number runs into the text " + Quoted(WordAt(t, f->end, false));
    return std::nullopt;
  }
  if (!signedValue && value < 0.0) {
    if (problem) *problem = "the value must not be negative";
    return std::nullopt;
  }
  return value;
}

// A unit at `pos` must stand on its own: not the tail of a word before it (digits may precede
// it, "25mm2") and not followed by letters or digits.
bool UnitBoundaries(std::string_view t, std::size_t pos, std::size_t len) {
  if (pos > 0 && IsLetter(t[pos - 1])) return false;
  const std::size_t e = pos + len;
  return e >= t.size() || !(IsLetter(t[e]) || IsDigitChar(t[e]) || t[e] == '^');
}

std::optional<std::size_t> FindUnit(std::string_view t, std::size_t from, std::string_view pattern) {
  for (std::size_t p = t.find(pattern, from); p != std::string_view::npos; p = t.find(pattern, p + 1))
    if (UnitBoundaries(t, p, pattern.size())) return p;
  return std::nullopt;
}

// A unit of power per area at `pos`: [m k u µ M]W, then "/" with [c m]m and the exponent 2
// ("2", "^2", "²"), or a blank, '*' or '.' (or nothing) with [c m]m and the exponent -2 ("-2",
// "^-2", "-²"). Returns the length matched and the factor to W/m².
std::optional<std::pair<std::size_t, double>> PowerUnitAt(std::string_view t, std::size_t pos) {
  std::size_t i = pos;
  double power = 1.0;
  auto prefix = [](char c) -> double {
    switch (c) {
      case 'm':
        return 1e-3;
      case 'k':
        return 1e3;
      case 'M':
        return 1e6;
      case 'u':
      case '\xB5':
        return 1e-6;
      default:
        return 0.0;
    }
  };
  if (i < t.size() && prefix(t[i]) != 0.0 && i + 1 < t.size() && t[i + 1] == 'W') power = prefix(t[i++]);
  if (i >= t.size() || t[i] != 'W') return std::nullopt;
  ++i;
  bool perArea = false;
  if (i < t.size() && t[i] == '/') {
    perArea = true;
    ++i;
  } else {
    while (i < t.size() && (IsBlankChar(t[i]) || t[i] == '*' || t[i] == '.')) ++i;
  }
  double length = 1.0;
  if (i + 1 < t.size() && (t[i] == 'c' || t[i] == 'm') && t[i + 1] == 'm') length = t[i++] == 'c' ? 1e-2 : 1e-3;
  if (i >= t.size() || t[i] != 'm') return std::nullopt;
  ++i;
  std::string_view rest = t.substr(i);
  static constexpr const char* kPositive[] = {"^2", "2", "\xB2"};
  static constexpr const char* kNegative[] = {"^-2", "-2", "-\xB2", "^-\xB2"};
  std::size_t exponent = 0;
  for (const char* e : perArea ? std::span<const char* const>(kPositive) : std::span<const char* const>(kNegative))
    if (rest.starts_with(e)) exponent = std::max(exponent, std::strlen(e));
  if (exponent == 0) return std::nullopt;
  i += exponent;
  if (i < t.size() && (IsLetter(t[i]) || IsDigitChar(t[i]))) return std::nullopt;
  return std::make_pair(i - pos, power / (length * length));
}

bool StartsWithAny(std::string_view line, std::initializer_list<const char*> keys, bool caseSensitive,
                   std::size_t* keyLength) {
  for (const char* k : keys) {
    const std::string_view key(k);
    if (caseSensitive ? line.starts_with(key) : StartsWithNoCase(line, key)) {
      if (keyLength) *keyLength = key.size();
      return true;
    }
  }
  return false;
}

bool MentionsWorkingPoint(std::string_view line) {
  return ContainsNoCase(line, "workpoint") || ContainsNoCase(line, "work point") ||
         ContainsNoCase(line, "working point") || ContainsNoCase(line, "workingpoint");
}

// The tokens of a data line.
std::vector<std::string_view> Tokens(std::string_view line, std::size_t maxCount) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size() && out.size() < maxCount) {
    while (i < line.size() && IsColumnSeparator(line[i])) ++i;
    std::size_t e = i;
    while (e < line.size() && !IsColumnSeparator(line[e])) ++e;
    if (e > i) out.push_back(line.substr(i, e - i));
    i = e;
  }
  return out;
}

enum class TokenKind { kNumber, kDamaged, kText };
TokenKind ReadToken(std::string_view token, double& value) {
  bool finite = true;
  const std::size_t used = ScanNumberAt(token, value, finite);
  if (used == 0) return TokenKind::kText;
  if (used != token.size() || !finite) return TokenKind::kDamaged;
  return TokenKind::kNumber;
}

// A row the program itself writes for a sweep point it could not calculate ("0.0" in every
// field, when unfinished sweeps are padded with zeros); its own numbers never take that form.
bool IsPaddingRow(std::string_view line) {
  const std::vector<std::string_view> tokens = Tokens(line, 64);
  if (tokens.empty()) return false;
  for (std::string_view t : tokens)
    if (t != "0.0") return false;
  return true;
}

// Default column factors by file type and kind.
std::array<double, kMeasurementColumns> DefaultFactors(int fileType, int kind) {
  const bool kvx = fileType == kKvxFile;
  switch (kind) {
    case kMeasurementQE:
      return {1e-9, 0.01, 1, 1, 1};
    case kMeasurementIV:
      return kvx ? std::array<double, 5>{1, 0.001, 1, 1, 1} : std::array<double, 5>{1, 0.001, 0.001, 0.001, 0.001};
    case kMeasurementCV:
      return kvx ? std::array<double, 5>{1, 1e-9, 1, 1, 1} : std::array<double, 5>{1, 1e-9, 1, 1e-6, 1};
    default:
      return {1, 1e-9, 1, 1, 1};
  }
}

std::string LinePlace(const std::string& file, long line) { return file + ", line " + std::to_string(line) + ": "; }

}  // namespace

// ---- pieces ----

int bepaal_filetype(std::string_view firstLine) {
  const std::string_view head = firstLine.substr(0, std::min<std::size_t>(firstLine.size(), 100));
  if (head.find("ZONIQ") != std::string_view::npos) return kOwnFile;
  if (head.find("KVX") != std::string_view::npos) return kKvxFile;
  if (head.find("SPECTRUM") != std::string_view::npos) return kSpectrumFile;
  return kOtherFile;
}

int bepaal_filetype_of_file(const std::string& path) {
  FilePtr f = OpenFile(path, "rb");
  if (!f) return -1;
  LineReader reader(f.get(), 100);
  std::string line;
  if (reader.Next(line) != LineReader::Status::kLine) return kOtherFile;
  return bepaal_filetype(line);
}

bool CanBeData(std::string_view line) {
  const std::vector<std::string_view> tokens = Tokens(line, 2);
  if (tokens.size() < 2) return false;
  double v = 0.0;
  return ReadToken(tokens[0], v) == TokenKind::kNumber && ReadToken(tokens[1], v) == TokenKind::kNumber;
}

double decimal_prefix(std::string_view unit) {
  while (!unit.empty() && IsBlankChar(unit.front())) unit.remove_prefix(1);
  std::size_t e = 0;
  while (e < unit.size() && !IsDelimiter(unit[e])) ++e;
  const std::string_view word = unit.substr(0, e);
  for (const char* plain : {"m", "meter", "metre", "m2", "sqm", "msq"})
    if (word == plain) return 1.0;
  if (unit.empty()) return 1.0;
  if (unit.starts_with("\xC2\xB5") || unit.starts_with("\xCE\xBC")) return 1e-6;
  switch (unit.front()) {
    case '%':
    case 'c':
      return 0.01;
    case 'M':
      return 1e6;
    case 'G':
      return 1e9;
    case 'k':
      return 1e3;
    case 'm':
      return 1e-3;
    case 'n':
      return 1e-9;
    case 'p':
      return 1e-12;
    case 'u':
    case '\xB5':
      return 1e-6;
    default:
      return 1.0;
  }
}

int CutAwayFromString(std::string& text, std::string_view pattern) {
  const std::size_t p = text.find(pattern);
  if (pattern.empty() || p == std::string::npos) return 0;
  text.erase(p, pattern.size());
  return 1;
}

std::optional<double> IsArea(std::string_view rawLine, std::string* problem) {
  std::size_t key = 0;
  // Case-sensitive, as the set-ups write them.
  if (!StartsWithAny(
          rawLine,
          {"cell area", "CELL AREA", "Cell Area", "Cell area", "cellarea", "CELLAREA", "Cellarea", "cel area",
           "CEL AREA", "Cel Area", "Cel area", "celarea", "CELAREA", "Celarea", "area", "AREA", "Area"},
          true, &key))
    return std::nullopt;
  std::string t = NormaliseLine(rawLine);
  // Length factor [m] of the unit; the area is (factor)² · number in m², · 1e4 in cm².
  double length = 0.01;
  bool unitFound = false;
  static constexpr struct {
    const char* unit;
    double length;
  } kUnits[] = {{"cm^2", 0.01},    {"cm2", 0.01}, {"cm\xB2", 0.01}, {"mm^2", 0.001}, {"mm2", 0.001},
                {"mm\xB2", 0.001}, {"m^2", 1.0},  {"m2", 1.0},      {"m\xB2", 1.0}};
  for (const auto& u : kUnits) {
    const std::optional<std::size_t> p = FindUnit(t, key, u.unit);
    if (!p) continue;
    t.erase(*p, std::strlen(u.unit));
    length = u.length;
    unitFound = true;
    break;
  }
  std::string why;
  const std::optional<Found> f = FirstNumberAfter(t, key);
  if (!f) return std::nullopt;
  if (!f->finite) why = "the cell area is out of range";
  const bool glued = f->end < t.size() && !IsDelimiter(t[f->end]);
  const std::string_view after = WordAt(t, f->end, true);
  if (why.empty() && glued) why = "the number runs into the text " + Quoted(WordAt(t, f->end, false));
  if (why.empty() && !unitFound && !after.empty() && IsLetter(after.front()))
    why = "unknown unit of the cell area " + Quoted(after) + " (cm2, mm2 or m2 expected)";
  const double area = length * length * f->value * 1e4;
  if (why.empty() && !(area > 0.0)) why = "the cell area must be positive";
  if (!why.empty()) {
    if (problem) *problem = why;
    return std::nullopt;
  }
  return area;
}

std::optional<double> IsTemperature(std::string_view line, std::string* problem) {
  if (!StartsWithNoCase(line, "Temperature")) return std::nullopt;
  const std::string t = NormaliseLine(line);
  std::string why;
  std::optional<double> T;
  // Set-ups often log the room temperature in degrees Celsius.
  const std::optional<Found> f = FirstNumberAfter(t, 11);
  const std::string_view unit = f ? WordAt(t, f->end, true) : std::string_view();
  if (f && f->finite &&
      (unit == "C" ||
       unit == "\xB0"
               "C" ||
       unit == "degC"))
    T = f->value + 273.15;
  else
    T = ValueWithUnit(t, 11, "K", true, &why);
  if (T && !(*T > 0.0)) why = "the temperature must be positive [K]";
  if (!why.empty()) {
    if (problem) *problem = why;
    return std::nullopt;
  }
  return T;
}

bool IsUnits(std::string_view line, int kind, std::array<double, kMeasurementColumns>& u) {
  if (!StartsWithNoCase(line, "units")) return false;
  struct Column {
    const char* key;
    int column;
  };
  static constexpr Column kQE[] = {{"lambda:", 0}, {"QE:", 1}};
  static constexpr Column kIV[] = {{"V:", 0}, {"J:", 1}, {"I:", 1}};
  static constexpr Column kCV[] = {{"V:", 0}, {"C:", 1}, {"G:", 2}, {"W:", 3}, {"N:", 4}};
  static constexpr Column kCf[] = {{"f:", 0}, {"C:", 1}, {"G:", 2}};
  std::span<const Column> columns;
  switch (kind) {
    case kMeasurementQE:
      columns = kQE;
      break;
    case kMeasurementIV:
      columns = kIV;
      break;
    case kMeasurementCV:
      columns = kCV;
      break;
    case kMeasurementCf:
      columns = kCf;
      break;
    default:
      return true;
  }
  const std::string t = NormaliseLine(line);
  for (const Column& c : columns) {
    const std::string_view key(c.key);
    // The key starts a word: "V:" is not the end of "NV:".
    for (std::size_t p = t.find(key, 5); p != std::string::npos; p = t.find(key, p + 1)) {
      if (p > 0 && (IsLetter(t[p - 1]) || IsDigitChar(t[p - 1]))) continue;
      u[static_cast<std::size_t>(c.column)] = decimal_prefix(WordAt(t, p + key.size(), true));
      break;
    }
  }
  return true;
}

std::optional<double> IsIncomingPower(std::string_view line, bool biasLight, std::string* problem) {
  std::size_t key = 0;
  if (!StartsWithAny(line, {"Incident power", "Incident light", "Pin", "P in", "P_in", "Light power"}, false, &key) &&
      !(biasLight && StartsWithAny(line, {"Bias light"}, false, &key)))
    return std::nullopt;
  std::string t = NormaliseLine(line);
  double factor = 10.0;  // mW/cm² when no unit is given
  bool unitFound = false;
  for (std::size_t p = key; p < t.size() && !unitFound; ++p) {
    if (p > key && (IsLetter(t[p - 1]) || IsDigitChar(t[p - 1]) || t[p - 1] == '.')) {
      // A unit may follow a digit directly ("100mW/cm2"), but not the middle of a word.
      if (!IsDigitChar(t[p - 1])) continue;
    }
    if (const auto unit = PowerUnitAt(t, p)) {
      factor = unit->second;
      t.erase(p, unit->first);
      unitFound = true;
    }
  }
  const std::optional<Found> f = FirstNumberAfter(t, key);
  if (!f) return std::nullopt;
  std::string why;
  if (!f->finite) why = "the power is out of range";
  const bool glued = f->end < t.size() && !IsDelimiter(t[f->end]);
  const std::string_view after = WordAt(t, f->end, true);
  if (why.empty() && glued) why = "the number runs into the text " + Quoted(WordAt(t, f->end, false));
  if (why.empty() && !unitFound && !after.empty() && IsLetter(after.front()))
    why = "unknown unit of the light power " + Quoted(after) +
          " (mW/cm2, W/m2, kW/m2, W/cm2, mW/m2 or the form W m^-2 expected)";
  if (!why.empty()) {
    if (problem) *problem = why;
    return std::nullopt;
  }
  return f->value * factor;
}

bool IsDark(std::string_view line, int fileType) {
  if (fileType == kKvxFile) {
    if (!StartsWithNoCase(line, "Light?")) return false;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view value = TrimView(line.substr(colon + 1));
    double v = 1.0;
    return !value.empty() && ReadToken(WordAt(value, 0, false), v) == TokenKind::kNumber && v == 0.0;
  }
  // The program's own files say how they were calculated.
  if (fileType == kOwnFile && StartsWithNoCase(TrimView(line), "Calculation in dark")) return true;
  return StartsWithNoCase(line, "dark") && !ContainsNoCase(line, "saturation");
}

std::optional<double> IsMeasurementFrequency(std::string_view line, std::string* problem) {
  std::size_t key = 0;
  if (!StartsWithAny(line, {"frequency", "freq", "frekw"}, false, &key)) return std::nullopt;
  const std::string t = NormaliseLine(line);
  std::string why;
  std::optional<double> f = ValueWithUnit(t, key, "Hz", false, &why);
  if (f && !(*f > 0.0)) why = "the frequency must be positive [Hz]";
  if (!why.empty()) {
    if (problem) *problem = why;
    return std::nullopt;
  }
  return f;
}

std::optional<double> IsBiasVoltage(std::string_view line, std::string* problem) {
  std::size_t key = 0;
  if (StartsWithNoCase(line, "Workpoint bias")) {
    key = 14;
  } else if (StartsWithNoCase(line, "bias") && !ContainsNoCase(line, "number")) {
    key = 4;
  } else {
    return std::nullopt;
  }
  // "Bias light power: 100 mW/cm2" is a light, not a voltage.
  if (ContainsNoCase(line, "light")) return std::nullopt;
  const std::string t = NormaliseLine(line);
  return ValueWithUnit(t, key, "V", true, problem);
}

// ---- the reader ----

ReadResult<MeasurementItem> ConstructMeasurementListItem(const std::string& fileName, int kind) {
  ReadResult<MeasurementItem> result;
  if (kind < 0 || kind >= kMeasurementKinds) {
    result.error = fileName + ": unknown measurement kind " + std::to_string(kind);
    return result;
  }
  std::error_code ec;
  FilePtr file = std::filesystem::is_directory(fileName, ec) ? nullptr : OpenFile(fileName, "rb");
  if (!file) {
    result.error = fileName + ": the file cannot be opened";
    return result;
  }
  MeasurementItem item;
  item.fileName = fileName.substr(0, std::min<std::size_t>(fileName.size(), 260));
  item.kind = kind;
  switch (kind) {
    case kMeasurementQE:
      item.data = QEMeasurement{};
      break;
    case kMeasurementIV:
      item.data = IVMeasurement{};
      break;
    case kMeasurementCV:
      item.data = CVMeasurement{};
      break;
    default:
      item.data = CfMeasurement{};
      break;
  }
  // A data line carries its columns well within this; longer lines are cut.
  LineReader reader(file.get(), 1000);
  std::string line;
  int fileType = kOtherFile;
  bool header = true, dark = false;
  int skip = 0;
  int usedColumns = kMeasurementColumns;
  int points = 0;
  std::array<std::vector<double>, kMeasurementColumns> col;

  auto fail = [&](const std::string& why) {
    result.error = LinePlace(fileName, reader.lineNumber()) + why;
    return result;
  };

  // Offers a header line to the tests of the kind; false (with `why`) when it cannot be taken.
  auto headerLine = [&](const std::string& raw, std::string& why) {
    if (const auto a = IsArea(raw, &why)) item.area = *a;
    if (!why.empty()) return false;
    if (const auto T = IsTemperature(raw, &why)) item.temperature = *T;
    if (!why.empty()) return false;
    if (fileType != kOwnFile && fileType != kKvxFile) IsUnits(raw, kind, item.u);
    if (fileType == kOwnFile && kind == kMeasurementCV && raw.find("C(nF/cm2)") != std::string::npos)
      usedColumns = raw.find("Napp") != std::string::npos ? 5 : 3;
    switch (kind) {
      case kMeasurementIV: {
        auto& iv = std::get<IVMeasurement>(item.data);
        if (const auto p = IsIncomingPower(raw, false, &why)) {
          if (*p <= 0.0)
            dark = true;
          else
            iv.incidentPower = *p;
        }
        if (!why.empty()) return false;
        if (IsDark(raw, fileType)) dark = true;
        break;
      }
      case kMeasurementCV:
        if (const auto f = IsMeasurementFrequency(raw, &why)) std::get<CVMeasurement>(item.data).frequency = *f;
        break;
      case kMeasurementCf:
        if (const auto b = IsBiasVoltage(raw, &why)) std::get<CfMeasurement>(item.data).bias = *b;
        break;
      case kMeasurementQE: {
        auto& qe = std::get<QEMeasurement>(item.data);
        if (const auto b = IsBiasVoltage(raw, &why)) qe.bias = *b;
        if (!why.empty()) return false;
        if (const auto p = IsIncomingPower(raw, true, &why)) {
          if (*p <= 0.0)
            dark = true;
          else
            qe.biasLightPower = *p;
        }
        if (!why.empty()) return false;
        if (IsDark(raw, fileType)) dark = true;
        break;
      }
      default:
        break;
    }
    return why.empty();
  };

  bool first = true;
  for (;;) {
    const LineReader::Status status = reader.Next(line);
    if (status == LineReader::Status::kError) return fail("reading the file failed");
    if (status == LineReader::Status::kEnd) break;
    if (first) {
      fileType = bepaal_filetype(line);
      item.u = DefaultFactors(fileType, kind);
      first = false;
    }
    const bool data = CanBeData(line);
    std::string why;
    if (skip > 0) {
      // The lines after a working-point line are its values, never data.
      --skip;
      if (header && !headerLine(line, why)) return fail(why);
      continue;
    }
    if (!data) {
      if (fileType != kOwnFile && MentionsWorkingPoint(line)) {
        skip = 3;
        if (header && !headerLine(line, why)) return fail(why);
        continue;
      }
      if (header) {
        if (!headerLine(line, why)) return fail(why);
        continue;
      }
      // A damaged data line is refused rather than taken for the end of the data.
      const std::vector<std::string_view> tokens = Tokens(line, 2);
      double v = 0.0;
      if (tokens.size() == 2 && ReadToken(tokens[0], v) != TokenKind::kText &&
          ReadToken(tokens[1], v) != TokenKind::kText) {
        const std::size_t k = ReadToken(tokens[0], v) == TokenKind::kDamaged ? 0 : 1;
        return fail("column " + std::to_string(k + 1) + " is not a number: " + Quoted(tokens[k]));
      }
      break;
    }
    if (fileType == kOwnFile && IsPaddingRow(line)) continue;
    header = false;
    if (points == kMaxMeasurementPoints) {
      result.notices.push_back(
          {"measurement file too large !",
           "measurement points beyond point # " + std::to_string(kMaxMeasurementPoints + 1) + " are discarded"});
      break;
    }
    const std::vector<std::string_view> tokens = Tokens(line, kMeasurementColumns);
    std::array<double, kMeasurementColumns> c;
    c.fill(std::numeric_limits<double>::quiet_NaN());
    bool ended = false;
    for (std::size_t k = 0; k < tokens.size() && !ended; ++k) {
      double v = 0.0;
      switch (ReadToken(tokens[k], v)) {
        case TokenKind::kNumber:
          if (static_cast<int>(k) < usedColumns) c[k] = v * item.u[k];
          break;
        case TokenKind::kDamaged:
          return fail("column " + std::to_string(k + 1) + " is not a number: " + Quoted(tokens[k]));
        case TokenKind::kText:
          ended = true;  // a remark after the numbers; the columns from here are missing
          break;
      }
    }
    for (std::size_t k = 0; k < kMeasurementColumns; ++k) col[k].push_back(c[k]);
    ++points;
  }
  if (points == 0) {
    result.error = fileName + ": no data found (a data line begins with two numbers)";
    return result;
  }

  const double A = item.area;
  const auto n = static_cast<std::size_t>(points);
  std::visit(
      [&](auto& d) {
        using T = std::decay_t<decltype(d)>;
        if constexpr (std::is_same_v<T, QEMeasurement>) {
          d.lambda.resize(n), d.hv.resize(n), d.QE.resize(n), d.absQE.resize(n);
          for (std::size_t i = 0; i < n; ++i) {
            d.lambda[i] = col[0][i] * 1e9;
            d.hv[i] = 1239.977 / d.lambda[i];  // hc/q [eV·nm]
            d.QE[i] = col[1][i] * 100.0;
            d.absQE[i] = 100.0 * std::fabs(col[1][i]);
          }
          if (dark) d.noBiasLight = 1, d.biasLightPower = 0.0;
        } else if constexpr (std::is_same_v<T, IVMeasurement>) {
          d.V = col[0];
          d.J.resize(n);
          for (std::size_t i = 0; i < n; ++i) d.J[i] = col[1][i] * 1000.0 / A;  // A/cm² → mA/cm²
          if (dark) d.dark = 1, d.incidentPower = 0.0;
        } else if constexpr (std::is_same_v<T, CVMeasurement>) {
          d.V = col[0];
          d.C.resize(n), d.G.resize(n), d.invC2.resize(n), d.W.resize(n);
          for (std::size_t i = 0; i < n; ++i) {
            d.C[i] = col[1][i] * 1e9 / A;  // F → nF/cm²
            d.G[i] = col[2][i] / A;
            d.invC2[i] = 1.0 / (d.C[i] * d.C[i]);
            d.W[i] = col[3][i] * 1e6;  // m → µm
          }
          d.Napp = col[4];
        } else {
          d.f = col[0];
          d.C.resize(n), d.G.resize(n), d.Gw.resize(n), d.ReZ.resize(n), d.ImZ.resize(n);
          for (std::size_t i = 0; i < n; ++i) {
            const double w = 2.0 * std::numbers::pi * col[0][i];
            const double C = col[1][i], G = col[2][i];
            d.C[i] = C * 1e9 / A;
            d.G[i] = G / A;
            d.Gw[i] = d.G[i] / w;
            // Z = 1/(G + iωC) of the whole cell, times its area [Ω·cm²].
            const double m = C * C * w * w + G * G;
            d.ReZ[i] = G * A / m;
            d.ImZ[i] = -C * A * w / m;
          }
        }
      },
      item.data);
  item.nPoints = points;
  item.valid = 1;
  result.value = std::move(item);
  return result;
}

int MeasurementKindOfFitType(int fitType) {
  if (fitType < 1 || fitType > 20) return -1;
  const int quantity = (fitType - 1) / 2;  // 0 I(V) … 9 QE(hv)
  if (quantity == 0) return kMeasurementIV;
  if (quantity <= 3) return kMeasurementCV;
  if (quantity <= 7) return kMeasurementCf;
  return kMeasurementQE;
}

ReadResult<FitCurve> ReadFitMeasurement(const std::string& fileName, int fitType) {
  ReadResult<FitCurve> result;
  const int kind = MeasurementKindOfFitType(fitType);
  if (kind < 0) {
    result.error = fileName + ": fit type " + std::to_string(fitType) + " is not a measurement type (1 to 20)";
    return result;
  }
  ReadResult<MeasurementItem> read = ConstructMeasurementListItem(fileName, kind);
  result.notices = std::move(read.notices);
  if (!read.ok()) {
    result.error = std::move(read.error);
    return result;
  }
  const MeasurementItem& m = *read.value;
  const std::vector<double>* x = nullptr;
  const std::vector<double>* y = nullptr;
  const char* quantity = "";
  switch ((fitType - 1) / 2) {
    case 0:
      x = &std::get<IVMeasurement>(m.data).V, y = &std::get<IVMeasurement>(m.data).J, quantity = "J";
      break;
    case 1:
      x = &std::get<CVMeasurement>(m.data).V, y = &std::get<CVMeasurement>(m.data).C, quantity = "C";
      break;
    case 2:
      x = &std::get<CVMeasurement>(m.data).V, y = &std::get<CVMeasurement>(m.data).G, quantity = "G";
      break;
    case 3:
      x = &std::get<CVMeasurement>(m.data).V, y = &std::get<CVMeasurement>(m.data).invC2, quantity = "C";
      break;
    case 4:
      x = &std::get<CfMeasurement>(m.data).f, y = &std::get<CfMeasurement>(m.data).C, quantity = "C";
      break;
    case 5:
      x = &std::get<CfMeasurement>(m.data).f, y = &std::get<CfMeasurement>(m.data).G, quantity = "G";
      break;
    case 6:
      x = &std::get<CfMeasurement>(m.data).f, y = &std::get<CfMeasurement>(m.data).Gw, quantity = "G";
      break;
    case 7:
      x = &std::get<CfMeasurement>(m.data).ReZ, y = &std::get<CfMeasurement>(m.data).ImZ, quantity = "C and G";
      break;
    case 8:
      x = &std::get<QEMeasurement>(m.data).lambda, y = &std::get<QEMeasurement>(m.data).QE, quantity = "QE";
      break;
    default:
      x = &std::get<QEMeasurement>(m.data).hv, y = &std::get<QEMeasurement>(m.data).QE, quantity = "QE";
      break;
  }
  FitCurve curve;
  for (std::size_t i = 0; i < x->size(); ++i) {
    if (!std::isfinite((*x)[i]) || !std::isfinite((*y)[i])) continue;
    curve.x.push_back((*x)[i]);
    curve.y.push_back((*y)[i]);
  }
  if (curve.x.empty()) {
    result.error = fileName + ": the file holds no values of " + quantity + " for this fit";
    return result;
  }
  curve.weight.assign(curve.x.size(), 1.0);
  result.value = std::move(curve);
  return result;
}

}  // namespace zoniq
