// Values and targets of the script notation, and the math command and its kernels, against
// hand calculations; the refusals of each.
#include "script/script_math.hpp"

#include <cmath>
#include <limits>
#include <tuple>

#include "script/script_state.hpp"
#include "script/script_values.hpp"
#include "test_util.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace zoniq {
namespace {

using test::ExpectArraysClose;
using V = std::vector<double>;
constexpr const char* kLine = "set scriptvariable.xvalue abc";
constexpr const char* kMathError = "Mathematical error\n(e.g. divide by zero, log of non-positive value ...)";
const double kNaN = std::nan("");

class Script : public ::testing::Test {
 protected:
  Script() {
    s.value = {1.5, -2.0, 3.0, 0.0, 0.0, 0.0};
    s.index = {2, 0, 0, 0, 0, 7};
    s.vector[0] = {10.0, 20.0, 30.0};
    s.vector[1] = {0.0, 1.0, 2.0};
    s.mode = 4;
    s.loopcounter = 6;
    s.looperror = 0.25;
  }
  std::optional<double> Value(const std::string& text) { return ScriptValueToNumerical(text, s, kLine, r.env); }
  bool Store(double v, const char* target) { return PostProcesValue(v, target, s, kLine, r.env); }
  bool Math(const std::string& operation, const std::string& rest) {
    return ProcessMathCommand(operation, rest, s, "math " + operation + " " + rest, r.env);
  }
  // Every message the error routine shows (mode 0: a pop-up) is kept.
  struct Recorder {
    RecordingUserInterface ui;
    ErrorReporting errors;
    Environment env{&ui, &errors, "."};
    std::size_t count() const { return ui.popups.size(); }
    const RecordingUserInterface::Popup& last() const { return ui.popups.back(); }
    void clear() { ui.popups.clear(); }
  };
  ScriptVariables s;
  Recorder r;
};

TEST(ScriptWords, DottedNamesAndWordsKeepTheRestInTheLastPart) {
  std::string a, b, c, d;
  InterpretScriptVariable("a.b.c.d.e", a, b, c, d);
  EXPECT_EQ(a + "|" + b + "|" + c + "|" + d, "a|b|c|d.e");
  SplitInWords(" one two\tthree four five ", a, b, c, d);
  EXPECT_EQ(a + "|" + b + "|" + c + "|" + d, "one|two|three|four five");
}

TEST_F(Script, EveryValueFormReadsItsField) {
  // xvector[xindex]: an index given by any value; xvector[yvector[1]]: nested, yvector[1] = 1.
  const std::pair<const char*, double> forms[] = {
      {"xvalue", 1.5},      {"YVALUE", -2.0},        {"windex", 7.0},           {"xindex", 2.0},
      {"xvector[1]", 20.0}, {"xvector[last]", 30.0}, {"xvector[xindex]", 30.0}, {"xvector[yvector[1]]", 20.0},
      {"mode", 4.0},        {"loopcounter", 6.0},    {"maxiteration", 25.0},    {"looperror", 0.25},
      {"nx", 3.0},          {"  -2.5e2  ", -250.0}};
  for (const auto& [text, expected] : forms) EXPECT_EQ(Value(text), expected) << text;
  EXPECT_EQ(r.count(), 0u);
}

TEST_F(Script, EachRefusedValueReportsOnce) {
  // Words and numbers with stray text, indices outside (yvalue = -2, zvalue = 7, non-finite or
  // huge), and a nesting too deep for the stack.
  s.value = {1.5, -2.0, 7.0, std::numeric_limits<double>::infinity(), kNaN, 1e300};
  std::vector<std::string> bads = {"abc",     "avalue", "  -2.5e2 trailing words",
                                   "1e-3abc", "",       "   ",
                                   "nan",     "inf",    "-inf",
                                   "1e999",   "-1e999", ".",
                                   "-",       "e5",     "\xff\xfe"};
  for (const char* index : {"yvalue", "5", "-1", "zvalue", "uvalue", "vvalue", "wvalue", "99999999999999999999999"})
    bads.push_back(std::string("xvector[") + index + "]");
  std::string deep;
  for (int i = 0; i < 201; ++i) deep += "xvector[";
  bads.push_back(deep);
  bads.push_back("nq");
  for (const std::string& bad : bads) {
    SCOPED_TRACE(bad.substr(0, 40));
    r.clear();
    EXPECT_EQ(Value(bad), std::nullopt);
    EXPECT_EQ(r.count(), 1u);
  }
  EXPECT_EQ(r.last().title, "Error in interpreting value of Set, Get or Math command");
}

TEST_F(Script, TargetsStoreAndGrowOrRefuseAndChangeNothing) {
  // Index values truncate towards zero; index -1 appends, a vector without brackets puts the
  // value in front.
  const std::pair<double, const char*> stores[] = {
      {9.5, "xvalue"},       {-3.9, "yindex"},  {5.0, "xvector[1]"}, {6.0, "xvector[last]"},
      {40.0, "xvector[-1]"}, {-1.0, "yvector"}, {7.8, "mode"},       {5.0, "nz"}};
  for (const auto& [v, target] : stores) ASSERT_TRUE(Store(v, target)) << target;
  EXPECT_EQ(r.count(), 0u);
  EXPECT_EQ(std::make_tuple(s.value[0], s.index[1], s.mode, s.n[0], s.n[1], s.n[2], s.vector[2].size()),
            std::make_tuple(9.5, -3, 7, 4, 4, 5, std::size_t{5}));
  EXPECT_EQ(s.vector[0], (V{10.0, 5.0, 6.0, 40.0}));
  EXPECT_EQ(s.vector[1], (V{-1.0, 0.0, 1.0, 2.0}));
  // Negative counts are stored with a warning.
  for (const char* target : {"loopcounter", "maxiteration", "mode"}) {
    r.clear();
    ASSERT_TRUE(Store(-2.0, target));
    EXPECT_EQ(r.count(), 1u);
    EXPECT_EQ(r.last().title, "Warning in the target value of Get command");
  }
  EXPECT_EQ(s.mode, -2);

  s.value[3] = 9.0;
  const ScriptVariables before = s;
  const std::pair<double, const char*> bad[] = {{1.0, "xvector[5]"}, {1.0, "xvector[-2]"}, {1.0, "xvector[uvalue]"},
                                                {1.0, "bvalue"},     {1.0, "target"},      {kNaN, "mode"},
                                                {1e20, "xindex"},    {0.0, "nx"},          {2e6, "nx"},
                                                {1.0, "nq"}};
  for (const auto& [v, target] : bad) {
    r.clear();
    EXPECT_FALSE(Store(v, target)) << target;
    EXPECT_EQ(r.count(), 1u) << target;
  }
  EXPECT_EQ(r.last().message.rfind(std::string("Command line: ") + kLine, 0), 0u);
  EXPECT_EQ(std::make_tuple(s.vector, s.n, s.index, s.mode),
            std::make_tuple(before.vector, before.n, before.index, before.mode));
  // A curve goes into two vectors; one letter or no points are refused.
  const double x[] = {0.0, 0.1, 0.2, 0.3}, y[] = {-30.0, -29.0, -20.0, 5.0};
  ASSERT_TRUE(PostProcesCurve(x, y, 4, "V (V)", "J (mA/cm2)", "uv", s, kLine, r.env));
  EXPECT_EQ(s.vector[4], V(y, y + 4));
  EXPECT_EQ(s.name[3], "V (V)");
  EXPECT_FALSE(PostProcesCurve(x, y, 4, "a", "b", "u", s, kLine, r.env));
  EXPECT_FALSE(PostProcesCurve(x, y, 0, "a", "b", "xy", s, kLine, r.env));
}

TEST(MathKernels, QuadraticOnAnUnevenGridIsExact) {
  // y = x^2: the running integral x^3/3 and the derivative 2x. Each interval comes from
  // quadratics through three points, which reproduce x^2 exactly; only rounding remains. At
  // x = 0.5 the plain central quotient would give (2.25 - 0)/1.5 = 1.5 instead of 1.
  const V x{0.0, 0.5, 1.5, 2.0, 3.5};
  V y(x.size()), integral(x.size()), slope(x.size()), out(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    y[i] = x[i] * x[i];
    integral[i] = x[i] * x[i] * x[i] / 3.0;
    slope[i] = 2.0 * x[i];
  }
  MathIntegrate(x, y, out);
  ExpectArraysClose(out, integral, 1e-13, 1e-15);
  EXPECT_TRUE(MathDifferentiate(x, y, out));
  ExpectArraysClose(out, slope, 1e-13, 1e-13);
}

TEST(MathKernels, FewPointsAndDegenerateAbscissae) {
  // Integrals: a trapezoid 0.5*(2+4)*(3-1); no width; one point; a zero first spacing (A = 0,
  // B = trapezoid 0.5*1*(5+1) = 3); an abscissa going back where it was (+2 and -2, no division
  // by zero).
  const struct {
    V x, y, integral;
  } integrals[] = {{{1, 3}, {2, 4}, {0, 6}},
                   {{1, 1}, {2, 4}, {0, 0}},
                   {{1}, {2}, {0}},
                   {{0, 0, 1}, {1, 5, 1}, {0, 0, 3}},
                   {{0, 1, 0}, {2, 2, 2}, {0, 2, 0}}};
  for (const auto& c : integrals) {
    V out(c.x.size(), 5.0);
    MathIntegrate(c.x, c.y, out);
    EXPECT_EQ(out, c.integral);
  }
  // (0,0) (1,1) (1,3) (2,4): each triple has two points at x = 1; the quotient of its two
  // distinct abscissae is 1 in both triples. A vertical step has no slope.
  V four(4), three(3), two(2);
  EXPECT_TRUE(MathDifferentiate(V{0, 1, 1, 2}, V{0, 1, 3, 4}, four));
  EXPECT_EQ(four, (V{1, 1, 1, 1}));
  EXPECT_TRUE(MathDifferentiate(V{1, 1, 1}, V{2, 2, 2}, three));
  EXPECT_EQ(three, (V{0, 0, 0}));
  EXPECT_FALSE(MathDifferentiate(V{1, 1, 1}, V{0, 1, 2}, three));
  EXPECT_TRUE(std::isnan(three[1]));
  EXPECT_TRUE(MathDifferentiate(V{0, 2}, V{1, 5}, two));
  EXPECT_EQ(two, (V{2, 2}));
}

TEST(MathKernels, InterpolateAndClosestIndex) {
  const V x{0, 1, 2}, y{0, 10, 40};
  EXPECT_DOUBLE_EQ(MathInterpolate(x, y, 1.5), 25.0);  // (0.5*10 + 0.5*40)/1
  EXPECT_EQ(MathInterpolate(x, y, 1.0), 10.0);
  EXPECT_EQ(MathInterpolate(x, y, 5.0), 0.0);  // outside: the first ordinate
  EXPECT_EQ(MathInterpolate(x, y, -1.0), 0.0);
  EXPECT_DOUBLE_EQ(MathInterpolate(V{2, 1, 0}, V{40, 10, 0}, 0.5), 5.0);  // falling abscissa
  const V v{0, 1, 2, 1};
  EXPECT_EQ(MathClosestIndex(v, 1.4), 1);
  EXPECT_EQ(MathClosestIndex(v, 1.5), 1);  // tie: the first
  EXPECT_EQ(MathClosestIndex(v, 100.0), 2);
  EXPECT_EQ(MathClosestIndex(V{kNaN}, 0.0), -1);
}

TEST_F(Script, ScalarAndElementwiseFunctions) {
  // y = 6, z = 4, u = 0, v = -3; each result into x (NaN: not a number).
  const struct {
    const char* op;
    const char* args;
    bool ok;
    double x;
  } cases[] = {
      {"scalaradd", "xyz", true, 10.0},         {"scalarmultiply", "xyz", true, 24.0},
      {"scalarsubtract", "xyz", true, 2.0},     {"scalardivide", "xyz", true, 1.5},
      {"scalarpower", "xyz", true, 1296.0},     {"scalardivide", "xyu", false, kNaN},
      {"scalarlog", "xz", true, std::log(4.0)}, {"scalarlog", "xu", false, kNaN},
      {"scalarreciproque", "xu", false, kNaN},  {"scalarreciproque", "xz", true, 0.25},
      {"scalarexp", "xu", true, 1.0},           {"scalarabs", "xv", true, 3.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.op) + " " + c.args);
    s.value = {0, 6, 4, 0, -3, 0};
    EXPECT_EQ(Math(c.op, c.args), c.ok);
    if (std::isnan(c.x)) {
      EXPECT_TRUE(std::isnan(s.value[0]));
    } else {
      EXPECT_DOUBLE_EQ(s.value[0], c.x);
    }
  }
  s.SetVector(1, {-1, 0, 100});
  EXPECT_FALSE(Math("log", "xy"));  // log of -1 and 0: NaN and the message
  EXPECT_TRUE(std::isnan(s.vector[0][0]) && std::isnan(s.vector[0][1]));
  EXPECT_DOUBLE_EQ(s.vector[0][2], 4.605170185988091);  // the natural logarithm of 100
  ASSERT_TRUE(Math("abs", "xy"));
  EXPECT_EQ(s.vector[0], (V{1, 0, 100}));
  ASSERT_TRUE(Math("exp", "xy"));
  EXPECT_DOUBLE_EQ(s.vector[0][0], std::exp(-1.0));
  EXPECT_FALSE(Math("reciproque", "xy"));
  EXPECT_EQ(s.vector[0][0], -1.0);
  EXPECT_TRUE(std::isnan(s.vector[0][1]));
  // Reductions of {1, 2, 4}: the sum of squares 21, the product 8, the geometric average 2.
  s.SetVector(1, {1, 2, 4});
  const std::pair<const char*, double> reductions[] = {
      {"min", 1.0}, {"max", 4.0}, {"sumofsq", 21.0}, {"product", 8.0}, {"average", 7.0 / 3}, {"geometricaverage", 2.0}};
  for (const auto& [op, expected] : reductions) {
    ASSERT_TRUE(Math(op, "xy")) << op;
    EXPECT_NEAR(s.value[0], expected, 1e-14) << op;
  }
  s.SetVector(1, {1, -1, 4});
  EXPECT_FALSE(Math("geometricaverage", "xy"));
}

TEST_F(Script, CurveOperationsTakeTheirArgumentsInOrder) {
  // y = x^3 on 0, 1, 2, 3: triple (0,1,2) is fitted by 3x^2 - 2x: A1 = 0, B1 = 4; triple
  // (1,2,3) by 6x^2 - 11x + 6: A2 = 3.5, B2 = 16.5. I2 = (A2 + B1)/2 = 3.75, I3 = I2 + B2.
  s.SetVector(0, {0, 1, 2, 3});
  s.SetVector(1, {0, 1, 8, 27});
  ASSERT_TRUE(Math("integrate", "zxy"));
  ExpectArraysClose(s.vector[2], V{0, 0, 3.75, 20.25}, 1e-14, 1e-14);
  s.SetVector(1, {0, 1, 4, 9});
  ASSERT_TRUE(Math("differentiate", "zxy"));
  ExpectArraysClose(s.vector[2], V{0, 2, 4, 6}, 1e-14, 1e-14);
  s.value[3] = 2.5;
  ASSERT_TRUE(Math("interpolate", "wxyu"));  // y = x^2 sampled: (0.5*4 + 0.5*9)
  EXPECT_DOUBLE_EQ(s.value[5], 6.5);
  s.value[3] = 1.9;
  ASSERT_TRUE(Math("closestindex", "wxu"));
  EXPECT_EQ(s.index[5], 2);
  s.index[3] = 1;
  s.index[4] = 2;
  ASSERT_TRUE(Math("extract", "wyuv"));
  EXPECT_EQ(s.vector[5], (V{1, 4}));
  s.index[4] = 9;
  EXPECT_FALSE(Math("extract", "wyuv"));
  s.SetVector(1, {1, 2});
  EXPECT_FALSE(Math("integrate", "zxy"));
  EXPECT_EQ(r.last().message, "math integrate zxy\nVectors xvector and yvector don't have equal length");

  // Chi-square (the shared function, checked by hand with the measurement files): measured
  // y = x + 1 at x = 1, 2 against y = x + 0.5: (0.25 + 0.25)/(4 + 9).
  s.SetVector(1, {0, 1, 2, 3});
  s.SetVector(2, {1, 2, 3, 4});
  s.SetVector(3, {0.5, 2.5});
  s.SetVector(4, {1, 3});
  ASSERT_TRUE(Math("Chi_sq", "xyzuv"));
  EXPECT_DOUBLE_EQ(s.value[0], 0.5 / 13.0);
  // No common range, or an all-zero first curve: a clear message, the target unchanged.
  s.value[0] = 42.0;
  s.SetVector(3, {10, 20});
  EXPECT_FALSE(Math("Chi_sq", "xyzuv"));
  EXPECT_NE(r.last().message.find("no abscissa range in common"), std::string::npos);
  s.SetVector(3, {0, 3});
  s.SetVector(2, {0, 0, 0, 0});
  EXPECT_FALSE(Math("Chi_sq_log", "xyzuv"));
  EXPECT_FALSE(Math("Chi_sqare_log", "xyzuv"));
  EXPECT_FALSE(Math("Chi_sq", "xyzuv"));
  EXPECT_NE(r.last().message.find("all zero"), std::string::npos);
  EXPECT_EQ(s.value[0], 42.0);
}

TEST_F(Script, RangesAndFills) {
  s.SetVector(0, {1, 0, 0, 0, 9});
  ASSERT_TRUE(Math("rangeLin", "x"));
  EXPECT_EQ(s.vector[0], (V{1, 3, 5, 7, 9}));
  s.SetVector(0, {1, 0, 0, 1000});
  ASSERT_TRUE(Math("rangeLog", "x"));
  ExpectArraysClose(s.vector[0], V{1, 10, 100, 1000}, 1e-13);
  s.SetVector(0, {-1, 5, 5, 1000});
  EXPECT_FALSE(Math("rangeLog", "x"));  // a non-positive end: the error, nothing changed
  EXPECT_EQ(s.vector[0], (V{-1, 5, 5, 1000}));
  EXPECT_EQ(r.last().message, std::string("math rangeLog x\n") + kMathError);

  ASSERT_TRUE(Math("filllinear", "y 2 3 1.7"));  // at least 2 points
  EXPECT_EQ(s.vector[1], (V{2, 3}));
  ASSERT_TRUE(Math("filllogarithmic", "z 1 100 3"));
  ExpectArraysClose(s.vector[2], V{1, 10, 100}, 1e-14);
  EXPECT_FALSE(Math("filllogarithmic", "z 0 100 3"));
  // 1e2 to 1e6 with 5 points per decade: 4 decades, 21 points (as the C-f sweep counts them).
  ASSERT_TRUE(Math("filllogarithmicperdecade", "u 1e6 100 5"));
  ASSERT_EQ(s.n[3], 21);
  EXPECT_EQ(std::make_tuple(s.vector[3][0], s.vector[3][20]), std::make_tuple(100.0, 1e6));
  EXPECT_NEAR(s.vector[3][5], 1000.0, 1e-9);
  ASSERT_TRUE(Math("filllogarithmicperdecade", "u 1 50 1"));  // the last step is shorter
  ExpectArraysClose(s.vector[3], V{1, 10, 50}, 1e-14);

  // Values may be any value form; missing values and runaway sizes are refused.
  s.value[0] = 3.0;
  ASSERT_TRUE(Math("fillconstant", "v yvalue xvalue"));
  EXPECT_EQ(s.vector[4], (V{-2, -2, -2}));
  EXPECT_FALSE(Math("filllinear", "v 0 1"));
  EXPECT_EQ(r.last().message, "math filllinear v 0 1\nScalar value expected");
  EXPECT_FALSE(Math("filllinear", "v 0 1 1e12"));
  EXPECT_FALSE(Math("filllogarithmicperdecade", "v 1e-300 1e300 100000"));
  EXPECT_EQ(s.n[4], 3);
}

}  // namespace
}  // namespace zoniq
