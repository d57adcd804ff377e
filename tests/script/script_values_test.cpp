// Values and targets of the script notation, the word splitting helpers and their refusals.
#include "script/script_values.hpp"

#include <cmath>
#include <limits>

#include "script/script_state.hpp"
#include "script_test_util.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using V = std::vector<double>;
constexpr const char* kLine = "set scriptvariable.xvalue abc";

class ScriptValues : public ::testing::Test {
 protected:
  ScriptValues() {
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

  ScriptVariables s;
  test::RecordingEnv r;
};

TEST(ScriptWords, DottedNamesAndWordsKeepTheRestInTheLastPart) {
  std::string a, b, c, d;
  InterpretScriptVariable("a.b.c.d.e", a, b, c, d);
  EXPECT_EQ(a + "|" + b + "|" + c + "|" + d, "a|b|c|d.e");
  SplitInWords(" one two\tthree four five ", a, b, c, d);
  EXPECT_EQ(a + "|" + b + "|" + c + "|" + d, "one|two|three|four five");
}

TEST_F(ScriptValues, EveryFormReadsItsField) {
  // xvector[xindex]: an index given by any value; xvector[yvector[1]]: nested, yvector[1] = 1.
  const std::pair<const char*, double> forms[] = {
      {"xvalue", 1.5},      {"YVALUE", -2.0},        {"windex", 7.0},           {"xindex", 2.0},
      {"xvector[1]", 20.0}, {"xvector[last]", 30.0}, {"xvector[xindex]", 30.0}, {"xvector[yvector[1]]", 20.0},
      {"mode", 4.0},        {"loopcounter", 6.0},    {"maxiteration", 25.0},    {"looperror", 0.25},
      {"nx", 3.0},          {"  -2.5e2  ", -250.0}};
  for (const auto& [text, expected] : forms) EXPECT_EQ(Value(text), expected) << text;
  EXPECT_EQ(r.count(), 0u);
}

TEST_F(ScriptValues, EachRefusedValueReportsOnce) {
  // Words and numbers with stray text, indices outside (yvalue = -2, zvalue = 7, non-finite or
  // huge), and a nesting too deep for the stack.
  s.value[2] = 7.0;
  s.value[3] = std::numeric_limits<double>::infinity();
  s.value[4] = std::numeric_limits<double>::quiet_NaN();
  s.value[5] = 1e300;
  std::string deep = "xvector[";
  for (int i = 0; i < 200; ++i) deep += "xvector[";
  std::vector<std::string> bads = {"abc",     "avalue", "  -2.5e2 trailing words",
                                   "1e-3abc", "",       "   ",
                                   "nan",     "inf",    "-inf",
                                   "1e999",   "-1e999", ".",
                                   "-",       "e5",     "\xff\xfe"};
  for (const char* index : {"yvalue", "5", "-1", "zvalue", "uvalue", "vvalue", "wvalue", "99999999999999999999999"})
    bads.push_back(std::string("xvector[") + index + "]");
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

TEST_F(ScriptValues, TargetsStoreAndGrow) {
  const std::pair<double, const char*> stores[] = {{9.5, "xvalue"},     {3.9, "yindex"},  // truncated
                                                   {5.0, "xvector[1]"}, {6.0, "xvector[last]"},
                                                   {7.8, "mode"},       {5.0, "nz"}};
  for (const auto& [v, target] : stores) ASSERT_TRUE(Store(v, target)) << target;
  EXPECT_EQ(s.value[0], 9.5);
  EXPECT_EQ(s.index[1], 3);
  EXPECT_EQ(s.vector[0], (V{10.0, 5.0, 6.0}));
  EXPECT_EQ(s.mode, 7);
  EXPECT_EQ(s.n[2], 5);
  EXPECT_EQ(s.vector[2].size(), 5u);
  ASSERT_TRUE(Store(-3.9, "yindex"));
  EXPECT_EQ(s.index[1], -3);  // truncated towards zero
  // Appending with index -1 and putting in front without brackets: both make 4 elements.
  ASSERT_TRUE(Store(40.0, "xvector[-1]"));
  EXPECT_EQ(s.vector[0], (V{10.0, 5.0, 6.0, 40.0}));
  EXPECT_EQ(s.n[0], 4);
  ASSERT_TRUE(Store(-1.0, "yvector"));
  EXPECT_EQ(s.vector[1], (V{-1.0, 0.0, 1.0, 2.0}));
  EXPECT_EQ(s.n[1], 4);
  EXPECT_EQ(r.count(), 0u);
  // Negative counts are stored with a warning.
  for (const char* target : {"mode", "loopcounter", "maxiteration"}) {
    SCOPED_TRACE(target);
    r.clear();
    ASSERT_TRUE(Store(-2.0, target));
    EXPECT_EQ(r.count(), 1u);
    EXPECT_EQ(r.last().title, "Warning in the target value of Get command");
  }
  EXPECT_EQ(s.mode, -2);
}

TEST_F(ScriptValues, BadTargetsChangeNothing) {
  s.value[3] = 9.0;
  const ScriptVariables before = s;
  const std::pair<double, const char*> bad[] = {{1.0, "xvector[5]"}, {1.0, "xvector[-2]"}, {1.0, "xvector[uvalue]"},
                                                {1.0, "bvalue"},     {1.0, "target"},      {std::nan(""), "mode"},
                                                {1e20, "xindex"},    {0.0, "nx"},          {2e6, "nx"},
                                                {1.0, "nq"}};
  for (const auto& [v, target] : bad) {
    SCOPED_TRACE(target);
    r.clear();
    EXPECT_FALSE(Store(v, target));
    EXPECT_EQ(r.count(), 1u);
  }
  EXPECT_EQ(r.last().message.rfind(std::string("Command line: ") + kLine, 0), 0u);
  EXPECT_EQ(s.vector, before.vector);
  EXPECT_EQ(s.n, before.n);
  EXPECT_EQ(s.index, before.index);
  EXPECT_EQ(s.mode, before.mode);
  // A curve goes into two vectors; one letter or no points are refused.
  const double x[] = {0.0, 0.1, 0.2, 0.3}, y[] = {-30.0, -29.0, -20.0, 5.0};
  ASSERT_TRUE(PostProcesCurve(x, y, 4, "V (V)", "J (mA/cm2)", "uv", s, kLine, r.env));
  EXPECT_EQ(s.vector[4], V(y, y + 4));
  EXPECT_EQ(s.name[3], "V (V)");
  EXPECT_FALSE(PostProcesCurve(x, y, 4, "a", "b", "u", s, kLine, r.env));
  EXPECT_FALSE(PostProcesCurve(x, y, 0, "a", "b", "xy", s, kLine, r.env));
  EXPECT_EQ(r.count(), 3u);
}

}  // namespace
}  // namespace zoniq
