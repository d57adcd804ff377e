// Graded properties: the interpolation laws against hand calculations and closed forms, the
// incomplete beta function, and the grading file.
#include "celldef/interpolation.hpp"

#include <cmath>
#include <numbers>
#include <vector>

#include "celldef/incomplete_beta.hpp"
#include "grading_fixture.hpp"

namespace zoniq {
namespace {

using test::ExpectArraysClose;
using test::IsClose;

// A profile over composition between pure A (p0) and pure B (p1).
Profile Graded(int law, double a, double b, double p2 = 0, double p3 = 0, double p4 = 0) {
  Profile p;
  p.law = law, p.dependence = DEP_COMPOSITION, p.p = {a, b, p2, p3, p4, -99.0, -99.0};
  return p;
}

class Interpolation : public test::GradingEnvironment {
 protected:
  std::vector<double> Eval(Profile& p, const std::vector<double>& x, int setEnds = 0) {
    std::vector<double> v(x.size(), -1.0);
    EXPECT_EQ(interpolation(p, x, v, setEnds, env), 0);
    return v;
  }
};

TEST(IncompleteBetaTest, ClosedFormsSymmetryEndsAndLargeParameters) {
  // I(x;1,b) = 1-(1-x)^b; the switch to the symmetric form is at x = 2/(b+3) = 1/3 for b = 3. For
  // b = 100 the continued fraction alone falls to ~0 at x = 0.5 and 0.9, where I is 1.
  for (double x : {0.01, 0.2, 1.0 / 3.0 - 1e-9, 1.0 / 3.0 + 1e-9, 0.6, 0.95, 0.999})
    EXPECT_CLOSE(IncompleteBeta(x, 1.0, 3.0), 1.0 - std::pow(1.0 - x, 3.0), 1e-6, 1e-12) << x;
  for (double x : {0.02, 0.2, 0.5, 0.9})
    EXPECT_CLOSE(IncompleteBeta(x, 1.0, 100.0), 1.0 - std::pow(1.0 - x, 100.0), 1e-6, 1e-12) << x;
  // I(x;a,1) = x^a; I(x;2,2) = 3x²-2x³; I(x;½,½) = (2/π)·asin(sqrt(x)); I(x;a,b) + I(1-x;b,a) = 1.
  for (double x : {0.05, 0.5, 0.77, 0.9999}) EXPECT_CLOSE(IncompleteBeta(x, 2.5, 1.0), std::pow(x, 2.5), 1e-6, 1e-12);
  for (double x : {0.1, 0.5, 0.5 + 1e-12, 0.8})
    EXPECT_CLOSE(IncompleteBeta(x, 2.0, 2.0), 3 * x * x - 2 * x * x * x, 1e-6, 1e-12);
  for (double x : {0.001, 0.3, 0.9})
    EXPECT_CLOSE(IncompleteBeta(x, 0.5, 0.5), 2.0 / std::numbers::pi * std::asin(std::sqrt(x)), 1e-6, 1e-12);
  for (double x : {0.02, 0.3, 0.7, 0.98})
    EXPECT_CLOSE(IncompleteBeta(x, 5.0, 0.5) + IncompleteBeta(1.0 - x, 0.5, 5.0), 1.0, 0, 2e-6);
  EXPECT_EQ((std::vector<double>{IncompleteBeta(0.0, 2.0, 3.0), IncompleteBeta(-1.0, 2.0, 3.0),
                                 IncompleteBeta(1.0, 2.0, 3.0), IncompleteBeta(3.0, 2.0, 3.0)}),
            (std::vector<double>{0.0, 0.0, 1.0, 1.0}));
  // a = b: symmetric about ½ whatever the size. Beta(1000, 1000) has standard deviation 0.0112:
  // x = 0.6 lies nine deviations above ½, so I = 1 within 1e-18.
  EXPECT_CLOSE(IncompleteBeta(0.5, 1000.0, 1000.0), 0.5, 0, 1e-6);
  EXPECT_CLOSE(IncompleteBeta(0.5, 0.001, 0.001), 0.5, 0, 1e-6);
  EXPECT_CLOSE(IncompleteBeta(0.6, 1000.0, 1000.0), 1.0, 0, 1e-6);
  EXPECT_CLOSE(IncompleteBeta(0.4, 1000.0, 1000.0), 0.0, 0, 1e-6);
}

// ---- the laws over composition, against values worked out by hand or closed forms
struct LawCase {
  const char* what;
  Profile profile;
  std::vector<double> y, want;
  double rel;
};

TEST_F(Interpolation, LawsAgainstHandValuesAndClosedForms) {
  const double s25 = std::sinh(2.5) / std::sinh(5.0), e2 = std::exp(-2.0);
  const std::vector<double> half(5, 0.5);
  const auto smooth = [](double f) { return 3 * f * f - 2 * f * f * f; };
  const LawCase cases[] = {
      {"uniform", Graded(LAW_UNIFORM, 3.0, 7.0), {0.0, 0.4, 1.0}, {3.0, 3.0, 3.0}, 0},
      {"linear", Graded(LAW_LINEAR, 1.0, 2.0), {0.5}, {1.5}, 1e-15},
      {"alpha", Graded(LAW_ALPHA, 1.0, 2.0), {0.25}, {1.25}, 1e-15},
      // 1.5 - y(1-y)·0.2 at y = ½; bowing 10 would give -1 and the minimum 0.8 holds it up
      {"parabolic", Graded(LAW_PARABOLIC, 1.0, 2.0, 0.2, 0.0), {0.5}, {1.45}, 1e-15},
      {"parabolic minimum", Graded(LAW_PARABOLIC, 1.0, 2.0, 10.0, 0.8), {0.0, 0.5, 1.0}, {1.0, 0.8, 2.0}, 1e-15},
      // geometric mean; a zero end becomes 1e-10 of the other; small SI values keep their
      // scale; ends more than ten decades apart: the small one is raised to 1e-10 of the large
      {"logarithmic", Graded(LAW_LOGARITHMIC, 1e15, 1e17), {0.5}, {1e16}, 1e-12},
      {"log zero end", Graded(LAW_LOGARITHMIC, 0.0, 1e17), {0.0, 0.5, 1.0}, {1e7, 1e12, 1e17}, 1e-12},
      {"log Auger", Graded(LAW_LOGARITHMIC, 1e-42, 0.0), {0.0, 0.5, 1.0}, {1e-42, 1e-47, 1e-52}, 1e-12},
      {"log not positive", Graded(LAW_LOGARITHMIC, 0.0, -3.0), {0.0, 0.5, 1.0}, {0.0, 0.0, 0.0}, 0},
      {"log far apart", Graded(LAW_LOGARITHMIC, 1e-30, 1.0), {0.0}, {1e-10}, 1e-12},
      // The laws that used to force the pure-A and pure-B values onto the first and last
      // abscissae follow the compositions the layer really has, in their order.
      {"log uniform y", Graded(LAW_LOGARITHMIC, 1.0, 100.0), half, std::vector<double>(5, 10.0), 1e-14},
      {"log falling y", Graded(LAW_LOGARITHMIC, 1.0, 100.0), {1.0, 0.5, 0.0}, {100.0, 10.0, 1.0}, 1e-14},
      // ((1 + sqrt 2)/2)²
      {"power uniform y", Graded(LAW_POWER, 1.0, 2.0, 2.0), half, std::vector<double>(5, 1.4571067811865475), 1e-14},
      {"power falling y", Graded(LAW_POWER, 1.0, 2.0, 2.0), {1.0, 0.0}, {2.0, 1.0}, 1e-14},
      // b = 0, vr = 0: v = sinh((1-y)/0.2)/sinh(1/0.2)
      {"exponential uniform y", Graded(LAW_EXPONENTIAL, 1.0, 0.0, 0.0, 0.2, 0.2), half, std::vector<double>(5, s25),
       1e-14},
      // background 1, vl = 3, vr = 2, L = 0.25: 1 + 2·sinh((1-y)/L)/sinh(4) + sinh(y/L)/sinh(4)
      {"exponential",
       Graded(LAW_EXPONENTIAL, 3.0, 2.0, 1.0, 0.25, 0.25),
       {0.0, 0.3, 1.0},
       {3.0, 1.0 + 2.0 * std::sinh(0.7 / 0.25) / std::sinh(4.0) + std::sinh(0.3 / 0.25) / std::sinh(4.0), 2.0},
       1e-14},
      // L = 0.001: Δ/L = 1000 would overflow sinh, the pure tails exp(-y/L) are used; beyond 80
      // lengths from both ends only the background is left; lengths below 0.001 count as 0.001.
      {"exponential tails",
       Graded(LAW_EXPONENTIAL, 3.0, 2.0, 1.0, 0.001, 0.001),
       {0.0, 0.002, 0.5, 1.0},
       {3.0, 1.0 + 2.0 * e2, 1.0, 2.0},
       1e-14},
      {"exponential tail end",
       Graded(LAW_EXPONENTIAL, 3.0, 2.0, 1.0, 0.001, 0.001),
       {0.999},
       {1.0 + std::exp(-1.0)},
       1e-12},
      {"exponential tiny lengths", Graded(LAW_EXPONENTIAL, 3.0, 2.0, 1.0, -5.0, 0.0), {0.002}, {1.0 + 2.0 * e2}, 1e-14},
      // a = b = 2: vl + (vr - vl)(3f² - 2f³); a = 1e6 is limited to 1000: I(½) = 0.5^1000
      {"beta",
       Graded(LAW_BETA, 1.0, 3.0, 2.0, 2.0),
       {0.0, 0.25, 0.5, 0.9, 1.0},
       {1.0, 1.0 + 2 * smooth(0.25), 2.0, 1.0 + 2 * smooth(0.9), 3.0},
       1e-6},
      {"beta limited", Graded(LAW_BETA, 1.0, 3.0, 1e6, 1.0), {0.5}, {1.0 + 2.0 * std::pow(0.5, 1000.0)}, 1e-9},
      // m = 1 is linear; m = 0.05 on 1e21 -> 1e22: 1e22·((1e-20 + 1)/2)^0.05 in the middle;
      // m = 0 is limited to 0.001
      {"power linear", Graded(LAW_POWER, 2.0, 6.0, 1.0), {0.0, 0.25, 0.5, 1.0}, {2.0, 3.0, 4.0, 6.0}, 1e-14},
      {"power small",
       Graded(LAW_POWER, 1e21, 1e22, 0.05),
       {0.0, 0.5, 1.0},
       {1e21, 1e22 * std::pow(2.0, -0.05), 1e22},
       1e-12},
      {"power zero", Graded(LAW_POWER, 1.0, 10.0, 0.0), {0.5}, {10.0 * std::pow(0.5, 0.001)}, 1e-12},
      // extremum at the left edge (x0 = 0, v0 = 1): one parabola through the right end
      {"parabolic2 edge", Graded(LAW_PARABOLIC2, 5.0, 2.0, 0.0, 1.0), {0.0, 0.5, 1.0}, {1.0, 1.25, 2.0}, 1e-15},
      // extremum inside at 0.4, v0 = 1, vl = 2, vr = 3: 1 + 0.04/0.16 and 1 + 0.09·2/0.36
      {"parabolic2 inside",
       Graded(LAW_PARABOLIC2, 2.0, 3.0, 0.4, 1.0),
       {0.0, 0.2, 0.4, 0.7, 1.0},
       {2.0, 1.25, 1.0, 1.5, 3.0},
       1e-14},
      // extremum outside at 1.5, v0 = 0: v = t(B + A t), t = (x-1.5)², through (0,1) and (1,2):
      // A = -17/4.5, B = 8 + 17/18; v(½) = A + B = 31/6
      {"parabolic2 outside",
       Graded(LAW_PARABOLIC2, 1.0, 2.0, 1.5, 0.0),
       {0.0, 0.5, 1.0},
       {1.0, 31.0 / 6.0, 2.0},
       1e-13},
  };
  for (const LawCase& c : cases) {
    SCOPED_TRACE(c.what);
    Profile p = c.profile;
    ExpectArraysClose(Eval(p, c.y), c.want, c.rel);
  }
}

TEST_F(Interpolation, EndValuesPositionDependenceAndTables) {
  // Uniform: the left and right values are set whatever setEnds says.
  Profile p = Graded(LAW_UNIFORM, 3.0, 7.0);
  Eval(p, {0.0});
  EXPECT_EQ(std::pair(p.p[5], p.p[6]), std::pair(3.0, 3.0));
  // Over position the uniform value is the left one; LAW_UNIFORM_Y is the mean of the two ends.
  Profile q = Graded(LAW_UNIFORM, 3.0, 7.0);
  q.dependence = DEP_POSITION, q.p[5] = 5.0, q.p[6] = 9.0;
  ExpectArraysClose(Eval(q, {0.0, 1.0, 2.0}), {5.0, 5.0, 5.0}, 0);
  EXPECT_EQ(q.p[6], 5.0);
  q.law = LAW_UNIFORM_Y, q.p[5] = 0.2, q.p[6] = 0.6;
  ExpectArraysClose(Eval(q, {0.0, 2.0}), {0.4, 0.4}, 1e-15);
  // y from 0 at x = 0 to 1 at x = d = 2 µm; Eg linear from 1.0 to 2.0 eV: 1.5 eV at x = 1 µm;
  // with setEnds the left and right values follow the edges.
  Profile y = Graded(LAW_LINEAR, 0.0, 1.0);
  y.dependence = DEP_POSITION, y.p[5] = 0.0, y.p[6] = 1.0;
  const std::vector<double> comp = Eval(y, {0.0, 0.5, 1.0, 1.5, 2.0});
  ExpectArraysClose(comp, {0.0, 0.25, 0.5, 0.75, 1.0}, 1e-15);
  Profile Eg = Graded(LAW_LINEAR, 1.0, 2.0);
  EXPECT_CLOSE(Eval(Eg, comp, 1)[2], 1.5, 1e-15, 0);
  EXPECT_EQ(std::pair(Eg.p[5], Eg.p[6]), std::pair(1.0, 2.0));
  Profile power = Graded(LAW_POWER, 1.0, 2.0, 2.0);
  Eval(power, std::vector<double>(5, 0.5), 1);
  EXPECT_CLOSE(power.p[5], 1.4571067811865475, 1e-14, 0);
  // A table in memory: linear between its points, the end values beyond.
  Profile t = Graded(LAW_TABLE, 0, 0);
  t.xlist = {0.0, 1.0, 3.0}, t.values = {10.0, 20.0, 0.0};
  ExpectArraysClose(Eval(t, {-1.0, 0.0, 0.5, 2.0, 3.0, 7.0}), {10.0, 10.0, 15.0, 10.0, 0.0, 0.0}, 1e-15);
}

TEST_F(Interpolation, ExponentialWithUnequalLengthsDecaysOverEachSidesOwnLength) {
  // Background 1, vl = 3 with Ll = 0.02 and vr = 2 with Lr = 0.05: one characteristic length in
  // from each end the excess over the background has fallen to e^(−1) of its end value (the
  // other side's weight there is below e^(−19), the sinh correction below e^(−95)); the ends
  // take their values exactly.
  Profile p = Graded(LAW_EXPONENTIAL, 3.0, 2.0, 1.0, 0.02, 0.05);
  const std::vector<double> v = Eval(p, {0.0, 0.02, 0.95, 1.0});
  EXPECT_EQ(v[0], 3.0);
  EXPECT_CLOSE(v[1] - 1.0, 2.0 * std::exp(-1.0), 1e-8, 0);
  EXPECT_CLOSE(v[2] - 1.0, 1.0 * std::exp(-1.0), 1e-8, 0);
  EXPECT_EQ(v[3], 2.0);
}

TEST_F(Interpolation, EffectiveMediumSolvesBruggeman) {
  // Bruggeman: (1-f)(εA-ε)/(εA+2ε) + f(εB-ε)/(εB+2ε) = 0
  Profile p = Graded(LAW_EFFECTIVE_MEDIUM, 1.0, 4.0);
  for (double f : {0.0, 0.3, 0.5, 1.0}) {
    const double e = Eval(p, {f})[0];
    const double residual = (1 - f) * (1.0 - e) / (1.0 + 2 * e) + f * (4.0 - e) / (4.0 + 2 * e);
    EXPECT_NEAR(residual, 0.0, 1e-14) << f;
  }
  // hand value at f = ½: s = 2.5, (2.5 + sqrt(38.25))/4
  EXPECT_CLOSE(Eval(p, {0.5})[0], (2.5 + std::sqrt(38.25)) / 4.0, 1e-15, 0);
}

// ---- law 12: grading files
TEST_F(Interpolation, GradingFileShiftedToTheLayerAndClampedAtItsEnds) {
  Write("grading", "ramp.grad", "position  value\r\n0 1\r\n1 3\r\n# comment\r\n2 5\r\n");
  Profile p = Graded(LAW_FROM_FILE, 0, 0);
  p.dependence = DEP_POSITION, p.gradingFile = "ramp.grad";
  // the layer starts at 10 µm: the file's 0 is there
  ExpectArraysClose(Eval(p, {10.0, 10.5, 11.5, 12.0, 12.5}, 1), {1.0, 2.0, 4.0, 5.0, 5.0}, 1e-14);
  EXPECT_EQ(std::pair(p.p[5], p.p[6]), std::pair(1.0, 5.0));
  EXPECT_TRUE(ui.popups.empty());
  // over composition there is no shift; before the first point the first value holds
  Write("grading", "late.grad", "0.5 7\n1 9\n");
  p.dependence = DEP_COMPOSITION, p.gradingFile = "late.grad";
  ExpectArraysClose(Eval(p, {0.0, 0.75, 1.0}), {7.0, 8.0, 9.0}, 1e-14);
}

TEST_F(Interpolation, BadGradingFilesGiveZeroAndAMessage) {
  // {contents (nullptr: no file), what a message says}; the property keeps its left
  // and right values.
  const std::pair<const char*, std::string> cases[] = {
      {"0 1\n0.1 2\n0.05 3\n",
       "Unsorted data in bad.grad!\nposition values should be given in an increasing way.\n"
       "0.05 should be larger than 0.1!"},
      {"0 1\n0 2\n", "0 should be larger than 0!"},  // equal positions are not increasing either
      {nullptr, "Error whilst reading gradingfile"},
      {"no numbers here\n\n", "File contains no useful information."}};
  for (const auto& [contents, said] : cases) {
    SCOPED_TRACE(said);
    if (contents) Write("grading", "bad.grad", contents);
    Profile p = Graded(LAW_FROM_FILE, 0, 0);
    p.gradingFile = contents ? "bad.grad" : "none.grad";
    std::vector<double> v(3, -1.0);
    ui.popups.clear();
    EXPECT_EQ(interpolation(p, std::vector<double>{0.0, 0.5, 1.0}, v, 1, env), -1);
    ExpectArraysClose(v, {0.0, 0.0, 0.0}, 0);
    EXPECT_EQ(p.p[5], -99.0);
    std::string all;
    for (const auto& popup : ui.popups) all += popup.title + "\n" + popup.message + "\n";
    EXPECT_NE(all.find(said), std::string::npos) << all;
  }
}

}  // namespace
}  // namespace zoniq
