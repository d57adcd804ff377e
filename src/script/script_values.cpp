#include "script/script_values.hpp"

#include <charconv>
#include <climits>
#include <cmath>

#include "common/format.hpp"
#include "common/text.hpp"

namespace zoniq {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// The first word of a text (leading white space skipped).
std::string_view FirstWord(std::string_view text) {
  std::size_t b = 0;
  while (b < text.size() && IsSpace(text[b])) ++b;
  std::size_t e = b;
  while (e < text.size() && !IsSpace(text[e])) ++e;
  return text.substr(b, e - b);
}

// The word after its script letter begins with `keyword`.
bool LetterForm(std::string_view word, std::string_view keyword) {
  return word.size() > 1 && StartsWithNoCase(word.substr(1), keyword);
}

// The text between the '[' of "vector[" and the last ']' (or the end of the word).
std::string_view BracketText(std::string_view word) {
  const std::size_t open = word.find('[');
  if (open == std::string_view::npos) return {};
  std::string_view inner = word.substr(open + 1);
  const std::size_t close = inner.rfind(']');
  if (close != std::string_view::npos) inner = inner.substr(0, close);
  return inner;
}

// An integer written as such (optional sign, digits only); saturates at the long range.
bool IntegerLiteral(std::string_view text, long long& k) {
  if (text.empty()) return false;
  std::size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (i == text.size()) return false;
  for (std::size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return false;
  const bool negative = text[0] == '-';
  auto res = std::from_chars(text.data() + i, text.data() + text.size(), k);
  if (res.ec == std::errc::result_out_of_range) k = LLONG_MAX;
  if (negative) k = -k;
  return true;
}

std::string Quote(std::string_view line) { return "Command line: " + std::string(line); }

// Nesting of element indices such as xvector[yvector[zvector[0]]]; a script line cannot hold
// more than a few, the bound protects callers with longer texts.
constexpr int kMaxIndexNesting = 16;

std::optional<double> Evaluate(std::string_view value, const ScriptVariables& s, std::string_view line,
                               const Environment& env, int depth);

// The element index of a value or target xvector[...]: the integer written, "last", or any
// value truncated. Returns the index (possibly out of range) and whether it was written as an
// integer; empty when the inner value itself failed (already reported) or is no integer.
struct ElementIndex {
  long long k = 0;
  bool literal = false;
  bool valid = false;  // false: the inner value could not be used
};

ElementIndex ReadElementIndex(std::string_view word, const ScriptVariables& s, int slot, std::string_view line,
                              const Environment& env, int depth) {
  ElementIndex r;
  const std::string_view inner = TrimView(BracketText(word));
  if (IntegerLiteral(inner, r.k)) {
    r.literal = r.valid = true;
    return r;
  }
  if (StartsWithNoCase(inner, "last")) {
    r.k = static_cast<long long>(s.vector[slot].size()) - 1;
    r.valid = true;
    return r;
  }
  const std::optional<double> v = Evaluate(inner, s, line, env, depth + 1);
  if (!v) return r;
  if (!std::isfinite(*v) || std::fabs(*v) > 1e15) {
    r.k = LLONG_MAX;  // certainly outside the vector
  } else {
    r.k = static_cast<long long>(std::trunc(*v));
  }
  r.valid = true;
  return r;
}

std::optional<double> Evaluate(std::string_view value, const ScriptVariables& s, std::string_view line,
                               const Environment& env, int depth) {
  const std::string_view word = FirstWord(value);
  const std::string wordText(word);
  const bool valueForm = LetterForm(word, "value");
  const bool indexForm = LetterForm(word, "index");
  const bool vectorForm = LetterForm(word, "vector[");
  if (valueForm || indexForm || vectorForm) {
    const int c = GetSCRmode(word[0]);
    if (c < 0) {
      env.Error("Error in interpreting value of Set or Math command", Quote(line));
      return std::nullopt;
    }
    if (valueForm) return s.value[c];
    if (indexForm) return s.index[c];
    if (depth >= kMaxIndexNesting) {
      env.Error("Error in the interpretation of a vector-value",
                Quote(line) + "\nvector-value not recognised: value = " + wordText);
      return std::nullopt;
    }
    const ElementIndex e = ReadElementIndex(word, s, c, line, env, depth);
    if (!e.valid) return std::nullopt;
    const long long n = static_cast<long long>(s.vector[c].size());
    if (e.k < 0 || e.k >= n) {
      if (e.literal) {
        env.Error("Error in interpreting value of Set or Math command",
                  Quote(line) + "\nIndex of scriptvariable " + SCRname[c] +
                      " out of range\nIndex = " + std::to_string(e.k) + "; min = 0; max = " + std::to_string(n - 1));
      } else {
        env.Error("Error in the interpretation of a vector-value",
                  Quote(line) + "\nvector-value not recognised: value = " + wordText);
      }
      return std::nullopt;
    }
    return s.vector[c][static_cast<std::size_t>(e.k)];
  }
  if (StartsWithNoCase(word, "mode")) return s.mode;
  if (StartsWithNoCase(word, "loopcounter")) return s.loopcounter;
  if (StartsWithNoCase(word, "maxiteration")) return s.maxiteration;
  if (StartsWithNoCase(word, "looperror")) return s.looperror;
  if (!word.empty() && (word[0] == 'n' || word[0] == 'N')) {
    const int c = word.size() > 1 ? GetSCRmode(word[1]) : -1;
    if (c < 0) {
      env.Error("Error in interpreting value of Set, Get or Math command", Quote(line));
      return std::nullopt;
    }
    return s.n[c];
  }
  double number = 0.0;
  bool finite = true;
  const std::size_t used = ScanNumberAt(word, number, finite);
  if (used == 0 || !finite) {
    env.Error("Error in the value of Set, Get or Math command",
              Quote(line) + "\nvalue not recognised: value = " + wordText);
    return std::nullopt;
  }
  if (used < word.size()) {
    // "2,5" or "1.15O0": the leading digits alone would be a different number.
    env.Error("Error in the value of Set, Get or Math command",
              Quote(line) + "\nvalue not recognised: value = " + wordText +
                  "\nText follows the number; write a decimal point, no comma, and no unit.");
    return std::nullopt;
  }
  return number;
}

void TargetNotRecognised(std::string_view target, std::string_view line, const Environment& env) {
  env.Error("Error in the target of Get command",
            Quote(line) + "\nTarget not recognised: target = " + std::string(target));
}

// An integer field := number truncated, with the warning for negative numbers when the field
// is named (mode, loopcounter, maxiteration; an index may well be negative).
bool StoreIntegerField(int& field, const char* fieldName, double number, std::string_view target, std::string_view line,
                       const Environment& env) {
  const std::optional<int> k = TruncateToInt(number);
  if (!k) {
    env.Error("Error in the target of Get command",
              Quote(line) + "\nTarget " + std::string(target) + " cannot hold the value " + num(number));
    return false;
  }
  if (number < 0 && fieldName)
    env.Error("Warning in the target value of Get command",
              Quote(line) + "\na negative " + fieldName + " parameter was passed: mode = " + num(number));
  field = *k;
  return true;
}

}  // namespace

std::optional<int> TruncateToInt(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double t = std::trunc(value);
  if (t < static_cast<double>(INT_MIN) || t > static_cast<double>(INT_MAX)) return std::nullopt;
  return static_cast<int>(t);
}

void ReadFirstWord(std::string& text, std::string* word) {
  std::size_t b = 0;
  while (b < text.size() && IsSpace(text[b])) ++b;
  std::size_t e = b;
  while (e < text.size() && !IsSpace(text[e])) ++e;
  if (word) *word = text.substr(b, e - b);
  std::size_t r = e;
  while (r < text.size() && IsSpace(text[r])) ++r;
  text.erase(0, r);
}

void InterpretScriptVariable(std::string_view name, std::string& part1, std::string& part2, std::string& part3,
                             std::string& part4) {
  std::string* parts[4] = {&part1, &part2, &part3, &part4};
  for (std::string* p : parts) p->clear();
  for (int i = 0; i < 4; ++i) {
    const std::size_t dot = i < 3 ? name.find('.') : std::string_view::npos;
    if (dot == std::string_view::npos) {
      *parts[i] = std::string(name);
      return;
    }
    *parts[i] = std::string(name.substr(0, dot));
    name.remove_prefix(dot + 1);
  }
}

void SplitInWords(std::string_view text, std::string& w1, std::string& w2, std::string& w3, std::string& w4) {
  std::string rest(text);
  ReadFirstWord(rest, &w1);
  ReadFirstWord(rest, &w2);
  ReadFirstWord(rest, &w3);
  w4 = TrimRight(rest);
}

std::optional<double> ScriptValueToNumerical(std::string_view value, const ScriptVariables& theScript,
                                             std::string_view line, const Environment& env) {
  // One value and nothing after it: "2.5 nm" must not pass as 2.5 in the parameter's own unit.
  const std::string_view text = TrimView(value);
  const std::string_view word = FirstWord(text);
  const std::string_view extra = TrimView(text.substr(std::min(text.size(), word.size())));
  if (!extra.empty()) {
    env.Error("Error in the value of Set, Get or Math command",
              Quote(line) + "\nvalue not recognised: value = " + std::string(text) + "\nText after the value: '" +
                  std::string(extra) +
                  "'. Units are fixed (zoniq --list-parameters names them); write the number alone.");
    return std::nullopt;
  }
  return Evaluate(value, theScript, line, env, 0);
}

bool PostProcesValue(double number, std::string_view targetText, ScriptVariables& s, std::string_view line,
                     const Environment& env) {
  const std::string_view target = FirstWord(targetText);
  const std::string targetWord(target);
  const bool valueForm = LetterForm(target, "value");
  const bool indexForm = LetterForm(target, "index");
  const bool vectorForm = LetterForm(target, "vector");
  if (valueForm || indexForm || vectorForm) {
    const int c = GetSCRmode(target[0]);
    if (c < 0) {
      env.Error("Error in interpreting value of Get command", Quote(line));
      return false;
    }
    if (valueForm) {
      s.value[c] = number;
      return true;
    }
    if (indexForm) return StoreIntegerField(s.index[c], nullptr, number, target, line, env);
    std::vector<double>& v = s.vector[c];
    if (!LetterForm(target, "vector[")) {
      // In front: every element moves up one place.
      if (v.size() >= kMaxScriptVectorLength) {
        env.Error(
            "Error in interpreting target of Get command",
            Quote(line) + "\nA script vector holds at most " + std::to_string(kMaxScriptVectorLength) + " elements");
        return false;
      }
      v.insert(v.begin(), number);
      s.n[c] = static_cast<int>(v.size());
      return true;
    }
    const ElementIndex e = ReadElementIndex(target, s, c, line, env, 0);
    if (!e.valid) return false;
    const long long n = static_cast<long long>(v.size());
    if (e.k == -1) {
      if (v.size() >= kMaxScriptVectorLength) {
        env.Error(
            "Error in interpreting target of Get command",
            Quote(line) + "\nA script vector holds at most " + std::to_string(kMaxScriptVectorLength) + " elements");
        return false;
      }
      v.push_back(number);
      s.n[c] = static_cast<int>(v.size());
      return true;
    }
    if (e.k < 0 || e.k >= n) {
      if (e.literal) {
        env.Error("Error in interpreting target of Get command", Quote(line) + "\nIndex of target " + SCRname[c] +
                                                                     " out of range\nIndex = " + std::to_string(e.k) +
                                                                     "; min = 0; max = " + std::to_string(n - 1));
      } else {
        env.Error("Error in the interpretation of a vector-value",
                  Quote(line) + "\nthe index of the target-vector is not recognised: value = " + targetWord);
      }
      return false;
    }
    v[static_cast<std::size_t>(e.k)] = number;
    return true;
  }
  if (StartsWithNoCase(target, "mode")) return StoreIntegerField(s.mode, "mode", number, target, line, env);
  if (StartsWithNoCase(target, "loopcounter"))
    return StoreIntegerField(s.loopcounter, "loopcounter", number, target, line, env);
  if (StartsWithNoCase(target, "maxiteration"))
    return StoreIntegerField(s.maxiteration, "maxiteration", number, target, line, env);
  if (!target.empty() && (target[0] == 'n' || target[0] == 'N')) {
    const int c = target.size() > 1 ? GetSCRmode(target[1]) : -1;
    if (c < 0) {
      env.Error("Error in interpreting value of Get command", Quote(line));
      return false;
    }
    const std::optional<int> k = TruncateToInt(number);
    if (!k || *k < 1 || static_cast<std::size_t>(*k) > kMaxScriptVectorLength) {
      env.Error("Error in the target of Get command",
                Quote(line) + "\nThe number of elements of " + SCRname[c] + " must lie between 1 and " +
                    std::to_string(kMaxScriptVectorLength) + ": value = " + num(number));
      return false;
    }
    s.vector[c].resize(static_cast<std::size_t>(*k), 0.0);
    s.n[c] = *k;
    return true;
  }
  TargetNotRecognised(target, line, env);
  return false;
}

bool PostProcesCurve(const double* x, const double* y, std::size_t n, std::string_view xName, std::string_view yName,
                     std::string_view targetText, ScriptVariables& s, std::string_view line, const Environment& env) {
  const std::string_view target = FirstWord(targetText);
  std::array<int, kScriptSlots> slots{};
  if (!checkMathValue(target, 2, slots)) {
    TargetNotRecognised(target, line, env);
    return false;
  }
  if (n == 0 || n > kMaxScriptVectorLength) {
    env.Error("Error in the target of Get command",
              Quote(line) + "\nA curve of " + std::to_string(n) + " points cannot be stored in script vectors");
    return false;
  }
  // Abscissa first, so that a target such as "xx" ends with the ordinate.
  s.SetVector(slots[0], std::vector<double>(x, x + n));
  s.name[slots[0]] = std::string(xName.substr(0, kScriptTextLength));
  s.SetVector(slots[1], std::vector<double>(y, y + n));
  s.name[slots[1]] = std::string(yName.substr(0, kScriptTextLength));
  return true;
}

}  // namespace zoniq
