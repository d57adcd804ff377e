#include "script/script_math.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "script/script_values.hpp"

namespace zoniq {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Integral estimates of the two intervals of the triple (x0, x1, x2) from the quadratic
// through its points: A over (x0, x1), B over (x1, x2). A zero spacing, or an abscissa that
// returns to where it was (x2 = x0), leaves no quadratic: each interval is then a trapezoid
// (of zero width where the spacing is zero).
void TripleIntegrals(double x0, double x1, double x2, double y0, double y1, double y2, double& A, double& B) {
  const double h1 = x1 - x0;
  const double h2 = x2 - x1;
  if (h1 == 0.0 || h2 == 0.0 || h1 + h2 == 0.0) {
    A = 0.5 * h1 * (y0 + y1);
    B = 0.5 * h2 * (y1 + y2);
    return;
  }
  const double s = h1 + h2;
  A = h1 / 6.0 * ((2.0 * h1 + 3.0 * h2) / s * y0 + (h1 + 3.0 * h2) / h2 * y1 - h1 * h1 / (h2 * s) * y2);
  B = h2 / 6.0 * (-h2 * h2 / (h1 * s) * y0 + (h2 + 3.0 * h1) / h1 * y1 + (2.0 * h2 + 3.0 * h1) / s * y2);
}

// The difference quotient of two points; 0 for one point with one ordinate, NaN (undefined)
// for one abscissa with two ordinates.
double Quotient(double xa, double ya, double xb, double yb) {
  if (xb != xa) return (yb - ya) / (xb - xa);
  return ya == yb ? 0.0 : kNaN;
}

// Derivatives of the quadratic through a triple at its three points; for a triple whose
// abscissae coincide, the quotient of the distinct ones everywhere.
void TripleDerivatives(const double* x, const double* y, double& d0, double& d1, double& d2) {
  const double x0 = x[0], x1 = x[1], x2 = x[2];
  const double y0 = y[0], y1 = y[1], y2 = y[2];
  if (x0 == x1 || x1 == x2 || x0 == x2) {
    double q;
    if (x0 == x1 && x1 == x2) {
      q = (y0 == y1 && y1 == y2) ? 0.0 : kNaN;
    } else if (x0 == x1) {
      q = Quotient(x1, y1, x2, y2);
    } else if (x1 == x2) {
      q = Quotient(x0, y0, x1, y1);
    } else {
      // The abscissa returns to where it was: the middle point against the mean of the two
      // outer points that share one abscissa.
      q = Quotient(x0, 0.5 * (y0 + y2), x1, y1);
    }
    d0 = d1 = d2 = q;
    return;
  }
  d0 = y0 * (2.0 * x0 - x1 - x2) / ((x1 - x0) * (x2 - x0)) + y1 * (x2 - x0) / ((x1 - x0) * (x2 - x1)) -
       y2 * (x1 - x0) / ((x2 - x1) * (x2 - x0));
  d1 = y0 * (x1 - x2) / ((x1 - x0) * (x2 - x0)) + y1 * (2.0 * x1 - x0 - x2) / ((x1 - x0) * (x1 - x2)) +
       y2 * (x1 - x0) / ((x2 - x0) * (x2 - x1));
  d2 = y2 * (2.0 * x2 - x1 - x0) / ((x1 - x2) * (x0 - x2)) + y1 * (x0 - x2) / ((x1 - x2) * (x0 - x1)) -
       y0 * (x1 - x2) / ((x0 - x1) * (x0 - x2));
}

// ---- the command ----

enum class Op {
  kAdd,
  kMultiply,
  kSubtract,
  kDivide,
  kPower,
  kScalarAdd,
  kScalarMultiply,
  kScalarSubtract,
  kScalarDivide,
  kScalarPower,
  kExp,
  kLog,
  kAbs,
  kReciproque,
  kScalarExp,
  kScalarLog,
  kScalarAbs,
  kScalarReciproque,
  kPush,
  kConstant,
  kLinear,
  kMin,
  kMax,
  kSum,
  kSumOfSq,
  kProduct,
  kAverage,
  kAverageOfSq,
  kGeometricAverage,
  kIntegrate,
  kDifferentiate,
  kInterpolate,
  kExtract,
  kClosestIndex,
  kChiSq,
  kChiSqLog,
  kRangeLin,
  kRangeLog,
  kIncrement,
  kDecrement,
  kFillLinear,
  kFillLogarithmic,
  kFillLogPerDecade,
  kFillConstant,
  kForceInRange
};

struct OpEntry {
  const char* keyword;
  Op op;
  int letters;  // script letters of the first word of the rest
  int values;   // values that must follow
};

// Matched as prefixes in this order: a keyword that begins another comes after it.
constexpr OpEntry kOps[] = {
    {"vectoradd", Op::kAdd, 3, 0},
    {"vectormultiply", Op::kMultiply, 3, 0},
    {"vectorsubtract", Op::kSubtract, 3, 0},
    {"vectordivide", Op::kDivide, 3, 0},
    {"vectorpower", Op::kPower, 3, 0},
    {"vectorexp", Op::kExp, 2, 0},
    {"vectorlog", Op::kLog, 2, 0},
    {"vectorabs", Op::kAbs, 2, 0},
    {"vectorreciproque", Op::kReciproque, 2, 0},
    {"scalaradd", Op::kScalarAdd, 3, 0},
    {"scalarmultiply", Op::kScalarMultiply, 3, 0},
    {"scalarsubtract", Op::kScalarSubtract, 3, 0},
    {"scalardivide", Op::kScalarDivide, 3, 0},
    {"scalarpower", Op::kScalarPower, 3, 0},
    {"scalarexp", Op::kScalarExp, 2, 0},
    {"scalarlog", Op::kScalarLog, 2, 0},
    {"scalarabs", Op::kScalarAbs, 2, 0},
    {"scalarreciproque", Op::kScalarReciproque, 2, 0},
    {"add", Op::kAdd, 3, 0},
    {"multiply", Op::kMultiply, 3, 0},
    {"subtract", Op::kSubtract, 3, 0},
    {"divide", Op::kDivide, 3, 0},
    {"power", Op::kPower, 3, 0},
    {"push", Op::kPush, 3, 0},
    {"constant", Op::kConstant, 3, 0},
    {"linear", Op::kLinear, 2, 0},
    {"exp", Op::kExp, 2, 0},
    {"log", Op::kLog, 2, 0},
    {"abs", Op::kAbs, 2, 0},
    {"reciproque", Op::kReciproque, 2, 0},
    {"min", Op::kMin, 2, 0},
    {"max", Op::kMax, 2, 0},
    {"sumofsq", Op::kSumOfSq, 2, 0},
    {"sum", Op::kSum, 2, 0},
    {"product", Op::kProduct, 2, 0},
    {"averageofsq", Op::kAverageOfSq, 2, 0},
    {"av", Op::kAverage, 2, 0},
    {"geometricaverage", Op::kGeometricAverage, 2, 0},
    {"integrate", Op::kIntegrate, 3, 0},
    {"differentiate", Op::kDifferentiate, 3, 0},
    {"interpolate", Op::kInterpolate, 4, 0},
    {"extract", Op::kExtract, 4, 0},
    {"closestindex", Op::kClosestIndex, 3, 0},
    {"Chi_sq_log", Op::kChiSqLog, 5, 0},
    {"Chi_sqare_log", Op::kChiSqLog, 5, 0},
    {"Chi_sq", Op::kChiSq, 5, 0},
    {"rangeLin", Op::kRangeLin, 1, 0},
    {"rangeLog", Op::kRangeLog, 1, 0},
    {"increment", Op::kIncrement, 0, 0},
    {"decrement", Op::kDecrement, 0, 0},
    {"filllogarithmicperdecade", Op::kFillLogPerDecade, 1, 3},
    {"filllogarithmic", Op::kFillLogarithmic, 1, 3},
    {"filllinear", Op::kFillLinear, 1, 3},
    {"fillconstant", Op::kFillConstant, 1, 2},
    {"force_in_range", Op::kForceInRange, 1, 2},
};

constexpr const char* kMathTitle = "Error whilst processing math command in script";
constexpr const char* kMathematicalError = "Mathematical error\n(e.g. divide by zero, log of non-positive value ...)";

class MathCommand {
 public:
  MathCommand(std::string_view operation, std::string_view rest, ScriptVariables& s, std::string_view line,
              const Environment& env)
      : operation_(operation), rest_(rest), s_(s), line_(line), env_(env) {}

  bool Run();

 private:
  void Report(const std::string& what) const {
    env_.Error(kMathTitle, "math " + std::string(operation_) + " " + std::string(rest_) + "\n" + what);
  }
  bool EqualLength(int a, int b) const {
    if (s_.vector[a].size() == s_.vector[b].size()) return true;
    Report(std::string("Vectors ") + SCRname[a] + " and " + SCRname[b] + " don't have equal length");
    return false;
  }
  bool Fits(std::size_t n) const {
    if (n <= kMaxScriptVectorLength) return true;
    Report("A script vector holds at most " + std::to_string(kMaxScriptVectorLength) + " elements");
    return false;
  }
  // Element by element c1 := f(c2[i], c3[i]) or f(c2[i]); true when no element became NaN.
  bool Binary(const std::function<double(double, double)>& f);
  bool Unary(const std::function<double(double)>& f);
  bool Reduce(Op op);
  bool IncrementOrDecrement(int step);
  bool Fill(Op op);

  std::string_view operation_, rest_;
  ScriptVariables& s_;
  std::string_view line_;
  const Environment& env_;
  std::array<int, kScriptSlots> c_{};
  std::array<double, 3> v_{};
};

bool MathCommand::Binary(const std::function<double(double, double)>& f) {
  if (!EqualLength(c_[1], c_[2])) return false;
  const std::vector<double>& a = s_.vector[c_[1]];
  const std::vector<double>& b = s_.vector[c_[2]];
  std::vector<double> r(a.size());
  bool ok = true;
  for (std::size_t i = 0; i < r.size(); ++i) {
    r[i] = f(a[i], b[i]);
    if (std::isnan(r[i]) && !std::isnan(a[i]) && !std::isnan(b[i])) ok = false;
  }
  s_.SetVector(c_[0], std::move(r));
  if (!ok) Report(kMathematicalError);
  return ok;
}

bool MathCommand::Unary(const std::function<double(double)>& f) {
  const std::vector<double>& a = s_.vector[c_[1]];
  std::vector<double> r(a.size());
  bool ok = true;
  for (std::size_t i = 0; i < r.size(); ++i) {
    r[i] = f(a[i]);
    if (std::isnan(r[i]) && !std::isnan(a[i])) ok = false;
  }
  s_.SetVector(c_[0], std::move(r));
  if (!ok) Report(kMathematicalError);
  return ok;
}

bool MathCommand::Reduce(Op op) {
  const std::vector<double>& a = s_.vector[c_[1]];
  const double n = static_cast<double>(a.size());
  double r = 0.0;
  switch (op) {
    case Op::kMin:
      r = *std::min_element(a.begin(), a.end());
      break;
    case Op::kMax:
      r = *std::max_element(a.begin(), a.end());
      break;
    case Op::kSum:
      for (double v : a) r += v;
      break;
    case Op::kSumOfSq:
      for (double v : a) r += v * v;
      break;
    case Op::kProduct:
      r = 1.0;
      for (double v : a) r *= v;
      break;
    case Op::kAverage:
      for (double v : a) r += v;
      r /= n;
      break;
    case Op::kAverageOfSq:
      for (double v : a) r += v * v;
      r /= n;
      break;
    case Op::kGeometricAverage: {
      // exp(mean ln) does not overflow where the product would; a zero element makes it 0,
      // a negative one leaves it undefined.
      bool zero = false;
      for (double v : a) {
        if (v < 0.0 || std::isnan(v)) {
          s_.value[c_[0]] = kNaN;
          Report(kMathematicalError);
          return false;
        }
        if (v == 0.0) zero = true;
        r += std::log(v);
      }
      r = zero ? 0.0 : std::exp(r / n);
      break;
    }
    default:
      break;
  }
  s_.value[c_[0]] = r;
  return true;
}

bool MathCommand::IncrementOrDecrement(int step) {
  std::string rest(rest_), word;
  ReadFirstWord(rest, &word);
  int* field = nullptr;
  if (StartsWithNoCase(word, "mode")) {
    field = &s_.mode;
  } else if (StartsWithNoCase(word, "status")) {
    field = &s_.status;
  } else if (StartsWithNoCase(word, "loopcounter")) {
    field = &s_.loopcounter;
  } else if (StartsWithNoCase(word, "maxiteration")) {
    field = &s_.maxiteration;
  } else if (word.size() > 1 && StartsWithNoCase(std::string_view(word).substr(1), "ind") && GetSCRmode(word[0]) >= 0) {
    field = &s_.index[GetSCRmode(word[0])];
  }
  if (!field) {
    Report("Command not recognised");
    return false;
  }
  if ((step > 0 && *field == INT_MAX) || (step < 0 && *field == INT_MIN)) {
    Report(kMathematicalError);
    return false;
  }
  *field += step;
  return true;
}

bool MathCommand::Fill(Op op) {
  const int c = c_[0];
  if (op == Op::kForceInRange) {
    if (!(v_[0] <= v_[1])) {
      Report(kMathematicalError);
      return false;
    }
    s_.value[c] = std::clamp(s_.value[c], v_[0], v_[1]);
    return true;
  }
  // The number of elements, truncated; at least 2 for a range (1 for a constant and for the
  // points per decade).
  const double count = std::trunc(op == Op::kFillConstant ? v_[1] : v_[2]);
  if (std::isnan(count)) {
    Report(kMathematicalError);
    return false;
  }
  if (count > static_cast<double>(kMaxScriptVectorLength)) {
    Report("A script vector holds at most " + std::to_string(kMaxScriptVectorLength) + " elements");
    return false;
  }
  const int minimum = (op == Op::kFillConstant || op == Op::kFillLogPerDecade) ? 1 : 2;
  const int n = std::max(minimum, static_cast<int>(std::max(count, 0.0)));
  std::vector<double> r;
  switch (op) {
    case Op::kFillConstant:
      r.assign(static_cast<std::size_t>(n), v_[0]);
      break;
    case Op::kFillLinear: {
      r.resize(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) r[i] = v_[0] + i * (v_[1] - v_[0]) / (n - 1);
      break;
    }
    case Op::kFillLogarithmic: {
      if (!(v_[0] > 0.0) || !(v_[1] > 0.0)) {
        Report(kMathematicalError);
        return false;
      }
      r.resize(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) r[i] = v_[0] * std::pow(v_[1] / v_[0], static_cast<double>(i) / (n - 1));
      break;
    }
    case Op::kFillLogPerDecade: {
      if (!(v_[0] > 0.0) || !(v_[1] > 0.0)) {
        Report(kMathematicalError);
        return false;
      }
      const double lo = std::min(v_[0], v_[1]), hi = std::max(v_[0], v_[1]);
      const double decades = std::log10(hi / lo);
      if (!(decades * n + 2.0 <= static_cast<double>(kMaxScriptVectorLength))) {
        Report("A script vector holds at most " + std::to_string(kMaxScriptVectorLength) + " elements");
        return false;
      }
      // lo·10^(i/n) below hi, then hi itself (a point within rounding of hi is hi).
      for (int i = 0;; ++i) {
        const double x = lo * std::pow(10.0, static_cast<double>(i) / n);
        if (!(x < hi * (1.0 - 1e-9))) break;
        r.push_back(x);
      }
      r.push_back(hi);
      if (r.size() < 2) r.insert(r.begin(), lo);
      break;
    }
    default:
      break;
  }
  s_.SetVector(c, std::move(r));
  return true;
}

bool MathCommand::Run() {
  const OpEntry* entry = nullptr;
  for (const OpEntry& e : kOps)
    if (StartsWithNoCase(operation_, e.keyword)) {
      entry = &e;
      break;
    }
  if (!entry) {
    Report("Command not recognised");
    return false;
  }
  if (entry->op == Op::kIncrement) return IncrementOrDecrement(+1);
  if (entry->op == Op::kDecrement) return IncrementOrDecrement(-1);

  std::string rest(rest_), word;
  ReadFirstWord(rest, &word);
  if (!checkMathValue(word, entry->letters, c_)) {
    Report("Command not recognised\nThe operation needs " + std::to_string(entry->letters) +
           " script letters (x, y, z, u, v or w): " + word);
    return false;
  }
  for (int i = 0; i < entry->values; ++i) {
    std::string valueWord;
    ReadFirstWord(rest, &valueWord);
    if (valueWord.empty()) {
      Report("Scalar value expected");
      return false;
    }
    const std::optional<double> v = ScriptValueToNumerical(valueWord, s_, line_, env_);
    if (!v) return false;
    v_[i] = *v;
  }

  const int c1 = c_[0], c2 = c_[1], c3 = c_[2];
  switch (entry->op) {
    case Op::kAdd:
      return Binary([](double a, double b) { return a + b; });
    case Op::kMultiply:
      return Binary([](double a, double b) { return a * b; });
    case Op::kSubtract:
      return Binary([](double a, double b) { return a - b; });
    case Op::kDivide:
      return Binary([](double a, double b) { return b == 0.0 ? kNaN : a / b; });
    case Op::kPower: {
      const double p = s_.value[c3];
      return Unary([p](double a) { return std::pow(a, p); });
    }
    case Op::kScalarAdd:
      s_.value[c1] = s_.value[c2] + s_.value[c3];
      return true;
    case Op::kScalarMultiply:
      s_.value[c1] = s_.value[c2] * s_.value[c3];
      return true;
    case Op::kScalarSubtract:
      s_.value[c1] = s_.value[c2] - s_.value[c3];
      return true;
    case Op::kScalarDivide:
      if (s_.value[c3] == 0.0) {
        s_.value[c1] = kNaN;
        Report(kMathematicalError);
        return false;
      }
      s_.value[c1] = s_.value[c2] / s_.value[c3];
      return true;
    case Op::kScalarPower: {
      const double r = std::pow(s_.value[c2], s_.value[c3]);
      s_.value[c1] = r;
      if (std::isnan(r) && !std::isnan(s_.value[c2]) && !std::isnan(s_.value[c3])) {
        Report(kMathematicalError);
        return false;
      }
      return true;
    }
    case Op::kExp:
      return Unary([](double a) { return std::exp(a); });
    case Op::kLog:
      return Unary([](double a) { return a > 0.0 ? std::log(a) : kNaN; });
    case Op::kAbs:
      return Unary([](double a) { return std::fabs(a); });
    case Op::kReciproque:
      return Unary([](double a) { return a == 0.0 ? kNaN : 1.0 / a; });
    case Op::kScalarExp:
      s_.value[c1] = std::exp(s_.value[c2]);
      return true;
    case Op::kScalarAbs:
      s_.value[c1] = std::fabs(s_.value[c2]);
      return true;
    case Op::kScalarLog:
    case Op::kScalarReciproque: {
      const double a = s_.value[c2];
      const bool bad = entry->op == Op::kScalarLog ? !(a > 0.0) : a == 0.0;
      if (bad && !std::isnan(a)) {
        s_.value[c1] = kNaN;
        Report(kMathematicalError);
        return false;
      }
      s_.value[c1] = entry->op == Op::kScalarLog ? std::log(a) : 1.0 / a;
      return true;
    }
    case Op::kPush: {
      const std::size_t n = s_.vector[c2].size() + s_.vector[c3].size();
      if (!Fits(n)) return false;
      std::vector<double> r;
      r.reserve(n);
      r.insert(r.end(), s_.vector[c2].begin(), s_.vector[c2].end());
      r.insert(r.end(), s_.vector[c3].begin(), s_.vector[c3].end());
      s_.SetVector(c1, std::move(r));
      return true;
    }
    case Op::kConstant:
      s_.SetVector(c1, std::vector<double>(s_.vector[c2].size(), s_.value[c3]));
      return true;
    case Op::kLinear: {
      std::vector<double> r(s_.vector[c2].size());
      for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<double>(i);
      s_.SetVector(c1, std::move(r));
      return true;
    }
    case Op::kMin:
    case Op::kMax:
    case Op::kSum:
    case Op::kSumOfSq:
    case Op::kProduct:
    case Op::kAverage:
    case Op::kAverageOfSq:
    case Op::kGeometricAverage:
      return Reduce(entry->op);
    case Op::kIntegrate:
    case Op::kDifferentiate: {
      if (!EqualLength(c2, c3)) return false;
      std::vector<double> r(s_.vector[c2].size());
      bool ok = true;
      if (entry->op == Op::kIntegrate)
        MathIntegrate(s_.vector[c2], s_.vector[c3], r);
      else
        ok = MathDifferentiate(s_.vector[c2], s_.vector[c3], r);
      s_.SetVector(c1, std::move(r));
      if (!ok) Report(kMathematicalError);
      return ok;
    }
    case Op::kInterpolate:
      if (!EqualLength(c2, c3)) return false;
      s_.value[c1] = MathInterpolate(s_.vector[c2], s_.vector[c3], s_.value[c_[3]]);
      return true;
    case Op::kClosestIndex: {
      const int k = MathClosestIndex(s_.vector[c2], s_.value[c3]);
      if (k < 0) {
        Report(kMathematicalError);
        return false;
      }
      s_.index[c1] = k;
      return true;
    }
    case Op::kExtract: {
      // c1 := the elements of c2 from index[c3] to index[c4], both included.
      const long long n = static_cast<long long>(s_.vector[c2].size());
      const long long from = s_.index[c3], to = s_.index[c_[3]];
      if (from < 0 || to >= n || from > to) {
        Report("Index out of range: from " + std::to_string(from) + " to " + std::to_string(to) +
               "; min = 0; max = " + std::to_string(n - 1));
        return false;
      }
      s_.SetVector(c1, std::vector<double>(s_.vector[c2].begin() + from, s_.vector[c2].begin() + to + 1));
      return true;
    }
    case Op::kChiSq:
    case Op::kChiSqLog: {
      if (!EqualLength(c2, c3) || !EqualLength(c_[3], c_[4])) return false;
      ChiSquareFailure why = ChiSquareFailure::kNone;
      const std::optional<double> chi =
          entry->op == Op::kChiSq
              ? Chi_square(s_.vector[c2], s_.vector[c3], s_.vector[c_[3]], s_.vector[c_[4]], &why)
              : Chi_square_log(s_.vector[c2], s_.vector[c3], s_.vector[c_[3]], s_.vector[c_[4]], &why);
      if (!chi) {
        Report(why == ChiSquareFailure::kNoCommonRange
                   ? "The two curves have no abscissa range in common (with non-zero ordinates on a logarithmic "
                     "scale): chi-square is not defined"
                   : "The ordinates of the first curve are all zero: chi-square is not defined");
        return false;
      }
      s_.value[c1] = *chi;
      return true;
    }
    case Op::kRangeLin:
    case Op::kRangeLog: {
      std::vector<double>& v = s_.vector[c1];
      const std::size_t n = v.size();
      if (n < 3) return true;
      const double a = v.front(), b = v.back();
      if (entry->op == Op::kRangeLog && !(a > 0.0 && b > 0.0)) {
        Report(kMathematicalError);
        return false;
      }
      for (std::size_t i = 1; i + 1 < n; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(n - 1);
        v[i] = entry->op == Op::kRangeLin ? a + t * (b - a) : a * std::pow(b / a, t);
      }
      return true;
    }
    case Op::kFillLinear:
    case Op::kFillLogarithmic:
    case Op::kFillLogPerDecade:
    case Op::kFillConstant:
    case Op::kForceInRange:
      return Fill(entry->op);
    case Op::kIncrement:
    case Op::kDecrement:
      break;
  }
  return false;
}

}  // namespace

void MathIntegrate(std::span<const double> x, std::span<const double> y, std::span<double> result) {
  const std::size_t n = std::min({x.size(), y.size(), result.size()});
  if (n == 0) return;
  result[0] = 0.0;
  if (n == 1) return;
  if (n == 2) {
    result[1] = x[1] == x[0] ? 0.0 : 0.5 * (y[0] + y[1]) * (x[1] - x[0]);
    return;
  }
  // A[k], B[k]: the two intervals of the triple (k-1, k, k+1), k = 1 … n-2.
  double A = 0.0, B = 0.0, previousB = 0.0;
  for (std::size_t k = 1; k + 1 < n; ++k) {
    TripleIntegrals(x[k - 1], x[k], x[k + 1], y[k - 1], y[k], y[k + 1], A, B);
    // The interval (k-1, k) belongs to this triple and, for k > 1, to the previous one.
    result[k] = result[k - 1] + (k == 1 ? A : 0.5 * (A + previousB));
    previousB = B;
  }
  result[n - 1] = result[n - 2] + previousB;
}

bool MathDifferentiate(std::span<const double> x, std::span<const double> y, std::span<double> result) {
  const std::size_t n = std::min({x.size(), y.size(), result.size()});
  if (n == 0) return true;
  if (n == 1) {
    result[0] = 0.0;
    return true;
  }
  if (n == 2) {
    result[0] = result[1] = Quotient(x[0], y[0], x[1], y[1]);
    return !std::isnan(result[0]) || std::isnan(y[0]) || std::isnan(y[1]) || std::isnan(x[0]) || std::isnan(x[1]);
  }
  double d0 = 0.0, d1 = 0.0, d2 = 0.0;
  for (std::size_t k = 1; k + 1 < n; ++k) {
    TripleDerivatives(&x[k - 1], &y[k - 1], d0, d1, d2);
    result[k] = d1;
    if (k == 1) result[0] = d0;
    if (k + 2 == n) result[n - 1] = d2;
  }
  bool ok = true;
  for (std::size_t i = 0; i < n; ++i)
    if (std::isnan(result[i]) && !std::isnan(x[i]) && !std::isnan(y[i])) ok = false;
  return ok;
}

double MathInterpolate(std::span<const double> x, std::span<const double> y, double x0) {
  return InterpolateLinear(x, y, x0);
}

int MathClosestIndex(std::span<const double> x, double x0) {
  int best = -1;
  double bestDistance = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double d = std::fabs(x0 - x[i]);
    if (std::isnan(d)) continue;
    if (best < 0 || d < bestDistance) {
      best = static_cast<int>(i);
      bestDistance = d;
    }
  }
  return best;
}

bool ProcessMathCommand(std::string_view operation, std::string_view rest, ScriptVariables& theScript,
                        std::string_view line, const Environment& env) {
  return MathCommand(operation, rest, theScript, line, env).Run();
}

}  // namespace zoniq
