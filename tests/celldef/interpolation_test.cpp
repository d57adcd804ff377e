// Graded properties: the fourteen interpolation laws against hand calculations and closed
// forms, the incomplete beta function, and the grading file.
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
  p.law = law;
  p.dependence = DEP_COMPOSITION;
  p.p = {a, b, p2, p3, p4, -99.0, -99.0};
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

TEST(IncompleteBetaTest, ClosedFormsOnBothSidesOfTheSymmetrySwitch) {
  // I(x;1,b) = 1-(1-x)^b; the switch to the symmetric form is at x = 2/(b+3) = 1/3 for b = 3
  for (double x : {0.01, 0.2, 1.0 / 3.0 - 1e-9, 1.0 / 3.0 + 1e-9, 0.6, 0.95, 0.999})
    EXPECT_CLOSE(IncompleteBeta(x, 1.0, 3.0), 1.0 - std::pow(1.0 - x, 3.0), 1e-6, 1e-12) << x;
  // I(x;a,1) = x^a
  for (double x : {0.05, 0.5, 0.77, 0.9999}) EXPECT_CLOSE(IncompleteBeta(x, 2.5, 1.0), std::pow(x, 2.5), 1e-6, 1e-12);
  // I(x;2,2) = 3x²-2x³
  for (double x : {0.1, 0.5, 0.5 + 1e-12, 0.8})
    EXPECT_CLOSE(IncompleteBeta(x, 2.0, 2.0), 3 * x * x - 2 * x * x * x, 1e-6, 1e-12);
  // a large b: the continued fraction alone falls to ~0 for x = 0.5 and 0.9, where
  // 1-(1-x)^100 is 1 to double precision
  for (double x : {0.02, 0.2, 0.5, 0.9})
    EXPECT_CLOSE(IncompleteBeta(x, 1.0, 100.0), 1.0 - std::pow(1.0 - x, 100.0), 1e-6, 1e-12) << x;
  // I(x;½,½) = (2/π)·asin(sqrt(x))
  for (double x : {0.001, 0.3, 0.9})
    EXPECT_CLOSE(IncompleteBeta(x, 0.5, 0.5), 2.0 / std::numbers::pi * std::asin(std::sqrt(x)), 1e-6, 1e-12);
}

TEST(IncompleteBetaTest, SymmetryEndsAndLargeParameters) {
  for (double x : {0.02, 0.3, 0.7, 0.98}) {
    EXPECT_CLOSE(IncompleteBeta(x, 5.0, 0.5) + IncompleteBeta(1.0 - x, 0.5, 5.0), 1.0, 0, 2e-6);
  }
  EXPECT_EQ(IncompleteBeta(0.0, 2.0, 3.0), 0.0);
  EXPECT_EQ(IncompleteBeta(-1.0, 2.0, 3.0), 0.0);
  EXPECT_EQ(IncompleteBeta(1.0, 2.0, 3.0), 1.0);
  EXPECT_EQ(IncompleteBeta(3.0, 2.0, 3.0), 1.0);
  // a = b: the distribution is symmetric about ½, so I(½) = ½ whatever the size
  EXPECT_CLOSE(IncompleteBeta(0.5, 1000.0, 1000.0), 0.5, 0, 1e-6);
  EXPECT_CLOSE(IncompleteBeta(0.5, 0.001, 0.001), 0.5, 0, 1e-6);
  // the Beta(1000, 1000) distribution has mean ½ and standard deviation 0.0112: x = 0.6 lies
  // nine deviations above, so I = 1 within 1e-18
  EXPECT_CLOSE(IncompleteBeta(0.6, 1000.0, 1000.0), 1.0, 0, 1e-6);
  EXPECT_CLOSE(IncompleteBeta(0.4, 1000.0, 1000.0), 0.0, 0, 1e-6);
}

// ---- the laws
TEST_F(Interpolation, UniformOverCompositionAndPosition) {
  Profile p = Graded(LAW_UNIFORM, 3.0, 7.0);
  ExpectArraysClose(Eval(p, {0.0, 0.4, 1.0}), {3.0, 3.0, 3.0}, 0);
  EXPECT_EQ(p.p[5], 3.0);  // set whatever setEnds says
  EXPECT_EQ(p.p[6], 3.0);

  Profile q = Graded(LAW_UNIFORM, 3.0, 7.0);
  q.dependence = DEP_POSITION;
  q.p[5] = 5.0;
  q.p[6] = 9.0;
  ExpectArraysClose(Eval(q, {0.0, 1.0, 2.0}), {5.0, 5.0, 5.0}, 0);
  EXPECT_EQ(q.p[6], 5.0);
  q.law = LAW_UNIFORM_Y;  // the mean of the two ends
  q.p[5] = 0.2;
  q.p[6] = 0.6;
  ExpectArraysClose(Eval(q, {0.0, 2.0}), {0.4, 0.4}, 1e-15);
}

TEST_F(Interpolation, LinearCompositionThenBandGapGivesTheMidpoint) {
  // y from 0 at x = 0 to 1 at x = d = 2 µm; Eg linear from 1.0 to 2.0 eV: 1.5 eV at x = 1 µm
  Profile y = Graded(LAW_LINEAR, 0.0, 1.0);
  y.dependence = DEP_POSITION;
  y.p[5] = 0.0;
  y.p[6] = 1.0;
  const std::vector<double> x = {0.0, 0.5, 1.0, 1.5, 2.0};
  const std::vector<double> comp = Eval(y, x);
  ExpectArraysClose(comp, {0.0, 0.25, 0.5, 0.75, 1.0}, 1e-15);
  Profile Eg = Graded(LAW_LINEAR, 1.0, 2.0);
  const std::vector<double> gap = Eval(Eg, comp, 1);
  EXPECT_CLOSE(gap[2], 1.5, 1e-15, 0);
  EXPECT_EQ(Eg.p[5], 1.0);  // setEnds 1: the left and right values follow the edges
  EXPECT_EQ(Eg.p[6], 2.0);
  Profile alphaLaw = Graded(LAW_ALPHA, 1.0, 2.0);
  EXPECT_CLOSE(Eval(alphaLaw, {0.25})[0], 1.25, 1e-15, 0);
}

TEST_F(Interpolation, ParabolicBowingAndMinimum) {
  // 1.5 - y(1-y)·0.2 = 1.45 at y = ½
  Profile p = Graded(LAW_PARABOLIC, 1.0, 2.0, 0.2, 0.0);
  EXPECT_CLOSE(Eval(p, {0.5})[0], 1.45, 1e-15, 0);
  // bowing 10 would give 1.5 - 2.5 = -1; the minimum 0.8 holds it up
  Profile q = Graded(LAW_PARABOLIC, 1.0, 2.0, 10.0, 0.8);
  ExpectArraysClose(Eval(q, {0.0, 0.5, 1.0}), {1.0, 0.8, 2.0}, 1e-15);
}

TEST_F(Interpolation, LogarithmicMidpointAndZeroEnds) {
  Profile p = Graded(LAW_LOGARITHMIC, 1e15, 1e17);
  EXPECT_CLOSE(Eval(p, {0.5})[0], 1e16, 1e-12, 0);
  // a zero end becomes 1e-10 times the other end: sqrt(1e7·1e17) = 1e12 in the middle
  Profile z = Graded(LAW_LOGARITHMIC, 0.0, 1e17);
  ExpectArraysClose(Eval(z, {0.0, 0.5, 1.0}), {1e7, 1e12, 1e17}, 1e-12);
  // small SI values keep their scale: an Auger coefficient 0 -> 1e-42 m^6/s
  Profile auger = Graded(LAW_LOGARITHMIC, 1e-42, 0.0);
  ExpectArraysClose(Eval(auger, {0.0, 0.5, 1.0}), {1e-42, 1e-47, 1e-52}, 1e-12);
  Profile both = Graded(LAW_LOGARITHMIC, 0.0, -3.0);
  ExpectArraysClose(Eval(both, {0.0, 0.5, 1.0}), {0.0, 0.0, 0.0}, 0);
  // ends more than ten decades apart: the small end is raised to 1e-10 of the large one
  Profile far = Graded(LAW_LOGARITHMIC, 1e-30, 1.0);
  EXPECT_CLOSE(Eval(far, {0.0})[0], 1e-10, 1e-12, 0);
}

// The laws that used to force the pure-A and pure-B values onto the first and last abscissae
// must follow the compositions the layer really has.
TEST_F(Interpolation, LogExponentialAndPowerLawsFollowTheCompositionAtEveryPoint) {
  const std::vector<double> uniform(5, 0.5);
  Profile power = Graded(LAW_POWER, 1.0, 2.0, 2.0);
  // ((1 + sqrt 2)/2)² = 1.4571067811865475 at every point
  ExpectArraysClose(Eval(power, uniform, 1), std::vector<double>(5, 1.4571067811865475), 1e-14);
  EXPECT_CLOSE(power.p[5], 1.4571067811865475, 1e-14, 0);
  Profile log = Graded(LAW_LOGARITHMIC, 1.0, 100.0);
  ExpectArraysClose(Eval(log, uniform), std::vector<double>(5, 10.0), 1e-14);
  Profile expo = Graded(LAW_EXPONENTIAL, 1.0, 0.0, 0.0, 0.2, 0.2);
  // b = 0, vr = 0: v = sinh((1-y)/0.2)/sinh(1/0.2) = sinh(2.5)/sinh(5)
  ExpectArraysClose(Eval(expo, uniform), std::vector<double>(5, std::sinh(2.5) / std::sinh(5.0)), 1e-14);
  // a falling composition keeps its order: y = 1 first
  Profile falling = Graded(LAW_LOGARITHMIC, 1.0, 100.0);
  ExpectArraysClose(Eval(falling, {1.0, 0.5, 0.0}), {100.0, 10.0, 1.0}, 1e-14);
  Profile fallingPower = Graded(LAW_POWER, 1.0, 2.0, 2.0);
  ExpectArraysClose(Eval(fallingPower, {1.0, 0.0}), {2.0, 1.0}, 1e-14);
}

TEST_F(Interpolation, ExponentialSinhAndTails) {
  // background 1, vl = 3, vr = 2, L = 0.25: v = 1 + 2·sinh((1-y)/L)/sinh(4) + sinh(y/L)/sinh(4)
  Profile p = Graded(LAW_EXPONENTIAL, 3.0, 2.0, 1.0, 0.25, 0.25);
  const double y = 0.3;
  EXPECT_CLOSE(Eval(p, {y})[0],
               1.0 + 2.0 * std::sinh(0.7 / 0.25) / std::sinh(4.0) + std::sinh(0.3 / 0.25) / std::sinh(4.0), 1e-14, 0);
  ExpectArraysClose(Eval(p, {0.0, 1.0}), {3.0, 2.0}, 1e-14);
  // L = 0.001: Δ/L = 1000 would overflow sinh; the pure tails exp(-y/L) are used instead
  Profile tail = Graded(LAW_EXPONENTIAL, 3.0, 2.0, 1.0, 0.001, 0.001);
  const std::vector<double> v = Eval(tail, {0.0, 0.002, 0.5, 0.999, 1.0});
  EXPECT_CLOSE(v[0], 3.0, 1e-14, 0);
  EXPECT_CLOSE(v[1], 1.0 + 2.0 * std::exp(-2.0), 1e-14, 0);
  EXPECT_CLOSE(v[2], 1.0, 1e-14, 0);  // both tails beyond 80 lengths: the background
  EXPECT_CLOSE(v[3], 1.0 + std::exp(-1.0), 1e-12, 0);
  EXPECT_CLOSE(v[4], 2.0, 1e-14, 0);
  // lengths below 0.001 count as 0.001
  Profile tiny = Graded(LAW_EXPONENTIAL, 3.0, 2.0, 1.0, -5.0, 0.0);
  EXPECT_CLOSE(Eval(tiny, {0.002})[0], 1.0 + 2.0 * std::exp(-2.0), 1e-14, 0);
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

TEST_F(Interpolation, BetaFunctionLaw) {
  // a = b = 2: v = vl + (vr - vl)(3f² - 2f³)
  Profile p = Graded(LAW_BETA, 1.0, 3.0, 2.0, 2.0);
  for (double f : {0.0, 0.25, 0.5, 0.9, 1.0})
    EXPECT_CLOSE(Eval(p, {f})[0], 1.0 + 2.0 * (3 * f * f - 2 * f * f * f), 1e-6, 0) << f;
  // parameters beyond [0.001, 1000] are limited: a = 1e6 acts as 1000, so I(0.5) is ~0
  Profile q = Graded(LAW_BETA, 1.0, 3.0, 1e6, 1.0);
  EXPECT_CLOSE(Eval(q, {0.5})[0], 1.0 + 2.0 * std::pow(0.5, 1000.0), 1e-9, 0);
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

TEST_F(Interpolation, PowerLawLinearAtOneAndNoOverflowForSmallExponents) {
  Profile one = Graded(LAW_POWER, 2.0, 6.0, 1.0);
  ExpectArraysClose(Eval(one, {0.0, 0.25, 0.5, 1.0}), {2.0, 3.0, 4.0, 6.0}, 1e-14);
  // m = 0.05 on 1e21 -> 1e22: 1e22·((1e-20 + 1)/2)^0.05 = 1e22·2^-0.05 in the middle
  Profile small = Graded(LAW_POWER, 1e21, 1e22, 0.05);
  const std::vector<double> v = Eval(small, {0.0, 0.5, 1.0});
  ExpectArraysClose(v, {1e21, 1e22 * std::pow(2.0, -0.05), 1e22}, 1e-12);
  // m = 0 is limited to 0.001: the larger end dominates everywhere inside
  Profile zero = Graded(LAW_POWER, 1.0, 10.0, 0.0);
  EXPECT_CLOSE(Eval(zero, {0.5})[0], 10.0 * std::pow(0.5, 0.001), 1e-12, 0);
}

TEST_F(Interpolation, ParabolicTwo) {
  // extremum at the left edge (x0 = 0, v0 = 1): one parabola through the right end, vl unused
  Profile edge = Graded(LAW_PARABOLIC2, 5.0, 2.0, 0.0, 1.0);
  ExpectArraysClose(Eval(edge, {0.0, 0.5, 1.0}), {1.0, 1.25, 2.0}, 1e-15);
  // extremum inside at 0.4 with v0 = 1, vl = 2, vr = 3: 1 + 0.04/0.16 and 1 + 0.09·2/0.36
  Profile inside = Graded(LAW_PARABOLIC2, 2.0, 3.0, 0.4, 1.0);
  ExpectArraysClose(Eval(inside, {0.0, 0.2, 0.4, 0.7, 1.0}), {2.0, 1.25, 1.0, 1.5, 3.0}, 1e-14);
  // extremum outside at 1.5 with v0 = 0: v = t(B + A t), t = (x-1.5)², through (0,1) and (1,2):
  // 2.25B + 5.0625A = 1 and 0.25B + 0.0625A = 2 give A = -17/4.5, B = 8 + 17/18; v(½) = A + B = 31/6
  Profile outside = Graded(LAW_PARABOLIC2, 1.0, 2.0, 1.5, 0.0);
  ExpectArraysClose(Eval(outside, {0.0, 0.5, 1.0}), {1.0, 31.0 / 6.0, 2.0}, 1e-13);
}

TEST_F(Interpolation, TableInMemory) {
  Profile p = Graded(LAW_TABLE, 0, 0);
  p.xlist = {0.0, 1.0, 3.0};
  p.values = {10.0, 20.0, 0.0};
  ExpectArraysClose(Eval(p, {-1.0, 0.0, 0.5, 2.0, 3.0, 7.0}), {10.0, 10.0, 15.0, 10.0, 0.0, 0.0}, 1e-15);
}

// ---- law 12: grading files
TEST_F(Interpolation, GradingFileShiftedToTheLayerAndClampedAtItsEnds) {
  Write("grading", "ramp.grad", "position  value\r\n0 1\r\n1 3\r\n# comment\r\n2 5\r\n");
  Profile p = Graded(LAW_FROM_FILE, 0, 0);
  p.dependence = DEP_POSITION;
  p.gradingFile = "ramp.grad";
  // the layer starts at 10 µm: the file's 0 is there
  ExpectArraysClose(Eval(p, {10.0, 10.5, 11.5, 12.0, 12.5}, 1), {1.0, 2.0, 4.0, 5.0, 5.0}, 1e-14);
  EXPECT_EQ(p.p[5], 1.0);
  EXPECT_EQ(p.p[6], 5.0);
  EXPECT_TRUE(ui.popups.empty());
  // over composition there is no shift; before the first point the first value holds
  Profile c = p;
  c.dependence = DEP_COMPOSITION;
  Write("grading", "late.grad", "0.5 7\n1 9\n");
  c.gradingFile = "late.grad";
  ExpectArraysClose(Eval(c, {0.0, 0.75, 1.0}), {7.0, 8.0, 9.0}, 1e-14);
}

TEST_F(Interpolation, UnsortedGradingFileIsRejectedAndValuesAreZero) {
  Write("grading", "bad.grad", "0 1\n0.1 2\n0.05 3\n");
  Profile p = Graded(LAW_FROM_FILE, 0, 0);
  p.gradingFile = "bad.grad";
  std::vector<double> v(3, -1.0);
  EXPECT_EQ(interpolation(p, std::vector<double>{0.0, 0.5, 1.0}, v, 1, env), -1);
  ExpectArraysClose(v, {0.0, 0.0, 0.0}, 0);
  EXPECT_EQ(p.p[5], -99.0);  // the property keeps its left and right values
  ASSERT_EQ(ui.popups.size(), 1u);
  EXPECT_EQ(ui.popups[0].title, "Error whilst reading gradingfile");
  EXPECT_EQ(ui.popups[0].message,
            "Unsorted data in bad.grad!\nposition values should be given in an increasing way.\n"
            "0.05 should be larger than 0.1!");
  // equal positions are not increasing either
  Write("grading", "flat.grad", "0 1\n0 2\n");
  p.gradingFile = "flat.grad";
  EXPECT_EQ(interpolation(p, std::vector<double>{0.0}, v, 0, env), -1);
}

TEST_F(Interpolation, MissingOrEmptyGradingFile) {
  Profile p = Graded(LAW_FROM_FILE, 0, 0);
  p.gradingFile = "none.grad";
  std::vector<double> v(2, -1.0);
  EXPECT_EQ(interpolation(p, std::vector<double>{0.0, 1.0}, v, 1, env), -1);
  ExpectArraysClose(v, {0.0, 0.0}, 0);
  ASSERT_EQ(ui.popups.size(), 2u);
  EXPECT_EQ(ui.popups[0].title, "Error occured during opening file: " + PathOf("grading", "none.grad") + " !");
  EXPECT_EQ(ui.popups[0].message, "No such file or directory");
  EXPECT_EQ(ui.popups[1].title, "Error whilst reading gradingfile");
  ui.popups.clear();
  Write("grading", "text.grad", "no numbers here\n\n");
  p.gradingFile = "text.grad";
  EXPECT_EQ(interpolation(p, std::vector<double>{0.0, 1.0}, v, 1, env), -1);
  EXPECT_EQ(ui.popups.at(0).message, "File contains no useful information.");
}

TEST_F(Interpolation, HostileGradingFilesNeverGiveNonFiniteValues) {
  const std::string hostile[] = {
      std::string("0 nan\n1 inf\n2 1e999\n-inf 3\n"),
      std::string("\x00\xff\x01\x02 3 4\n\x7f", 10),
      std::string(100000, '9') + " 1\n0 2\n",
      "0 1\n1 2\n2",
      "",
  };
  for (const std::string& contents : hostile) {
    Write("grading", "h.grad", contents);
    Profile p = Graded(LAW_FROM_FILE, 0, 0);
    p.gradingFile = "h.grad";
    std::vector<double> v(3, -1.0);
    interpolation(p, std::vector<double>{0.0, 0.5, 1.0}, v, 1, env);
    for (double value : v) EXPECT_TRUE(std::isfinite(value));
  }
}

}  // namespace
}  // namespace zoniq
