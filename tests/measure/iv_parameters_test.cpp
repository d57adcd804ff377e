// Cell parameters of hand-built I-V curves with known Voc, Jsc, FF and maximum-power point, and
// the merge of two voltage grids.
#include "measure/iv_parameters.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "test_util.hpp"

namespace zoniq {
namespace {

// The ideal diode under light: J = J0·(e^(V/Vt) − 1) − JL [mA/cm2].
constexpr double kVt = 0.025, kJ0 = 1e-9, kJL = 30.0;
double Diode(double V) { return kJ0 * std::expm1(V / kVt) - kJL; }

// Its analytic cell parameters. Voc = Vt·ln(JL/J0 + 1). The maximum of P = V·(I − J0·e^(V/Vt)),
// I = JL + J0, lies where e^x·(1 + x) = I/J0 (x = V/Vt), i.e. 1 + x = W(e·I/J0) with W the
// Lambert function (solved here by Newton's method on y·e^y = c in logarithmic form).
double DiodeVoc() { return kVt * std::log(kJL / kJ0 + 1.0); }
double DiodeVmpp() {
  const double lnc = 1.0 + std::log((kJL + kJ0) / kJ0);
  double y = lnc - std::log(lnc);
  for (int i = 0; i < 50; ++i) y -= (y + std::log(y) - lnc) / (1.0 + 1.0 / y);
  return kVt * (y - 1.0);
}

IVIllumination OneSun() {
  IVIllumination light;
  light.incidentPower = 1000.0;  // W/m2: η [%] = Pmax [mW/cm2]
  return light;
}

struct Curve {
  std::vector<double> V, J;
};
Curve Sample(double from, double step, int n, double (*f)(double)) {
  Curve c;
  for (int i = 0; i < n; ++i) {
    c.V.push_back(from + step * i);
    c.J.push_back(f(c.V.back()));
  }
  return c;
}

TEST(IVParameters, IdealDiodeAgainstItsAnalyticParameters) {
  // −0.2 … 0.8 V in 20 mV steps: 0 V is a sweep point, Voc (0.6031 V) and the MPP interior.
  const double h = 0.02;
  const Curve c = Sample(-0.2, h, 51, Diode);
  CellParameters p;
  ASSERT_EQ(IVParameters(c.V, c.J, OneSun(), p), 1);

  // Jsc: the quadratic through the points around 0 V takes the value at 0 V itself.
  EXPECT_CLOSE(p.Jsc, kJL, 1e-12, 0.0);
  // Voc: the quadratic's interpolation error near the crossing is at most
  // max|J'''|/6 · 0.385·h³ (the largest |(V−a)(V−b)(V−c)| over equal steps), and
  // max|J'''| / J'(Voc) ≤ e^(2h/Vt)/Vt²; divided by the slope it bounds the error of Voc.
  const double vocBound = std::exp(2 * h / kVt) / (kVt * kVt) / 6.0 * 0.385 * h * h * h;
  EXPECT_CLOSE(p.Voc, DiodeVoc(), 0.0, vocBound);
  // MPP: J0 + A·e^(βV) through three points is exact for this curve, so only the 10 halvings
  // of one 20 mV step remain: |ΔVmpp| ≤ h/2^11; P is flat there, its error ½|P''|ΔV².
  const double Vm = DiodeVmpp();
  const double Pm = Vm * -Diode(Vm);
  const double dV = h / 2048.0;
  const double Ppp = (kJL + kJ0) / kVt * 2.0;  // |P''| ≤ J0·e^x·(2 + x)/Vt ≤ 2·I/Vt at the maximum
  EXPECT_CLOSE(p.Vmpp, Vm, 0.0, dV);
  EXPECT_CLOSE(p.Jmpp * p.Vmpp, Pm, 0.0, 0.5 * Ppp * dV * dV + 1e-12);
  EXPECT_CLOSE(p.eta, Pm, 0.0, 0.5 * Ppp * dV * dV + 1e-12);
  // FF carries the error of Voc only (relative), the others are far smaller.
  EXPECT_CLOSE(p.FF, Pm * 100.0 / (DiodeVoc() * kJL), vocBound / DiodeVoc() * 1.01, 0.0);
  EXPECT_EQ(p.vocValid, 1);
  EXPECT_EQ(p.jscValid, 1);
  EXPECT_EQ(p.ffValid, 1);
  EXPECT_EQ(p.etaValid, 1);
  EXPECT_EQ(p.vocExtrapolated, 0);
  EXPECT_EQ(p.jscExtrapolated, 0);
  EXPECT_EQ(p.mppAtEnd, 0);
  EXPECT_EQ(p.anyExtrapolated, 0);
}

TEST(IVParameters, QuadraticCurveGivesExactJscAndVoc) {
  // J = 50·(V − 0.55)·(V + 0.6): a parabola is reproduced exactly by the three-point quadratic,
  // so Jsc = −J(0) = 16.5 and Voc = 0.55 up to rounding, on an uneven grid as well.
  auto J = [](double V) { return 50.0 * (V - 0.55) * (V + 0.6); };
  const std::vector<double> V{-0.3, -0.17, -0.05, 0.08, 0.2, 0.33, 0.41, 0.52, 0.61, 0.7};
  std::vector<double> I;
  for (double v : V) I.push_back(J(v));
  CellParameters p;
  ASSERT_EQ(IVParameters(V, I, OneSun(), p), 1);
  EXPECT_CLOSE(p.Jsc, 16.5, 1e-12, 0.0);
  EXPECT_CLOSE(p.Voc, 0.55, 1e-12, 0.0);
}

TEST(IVParameters, FallingSweepGivesTheSameParametersAsTheRisingOne) {
  // 0.8 → 0.2 V, all forward bias: Jsc comes from the straight line through the two lowest
  // voltages, 0.2 and 0.225 V, and equals the parameters of the same points in rising order.
  const Curve up = Sample(0.2, 0.025, 25, Diode);
  Curve down = up;
  std::reverse(down.V.begin(), down.V.end());
  std::reverse(down.J.begin(), down.J.end());
  CellParameters pu, pd;
  ASSERT_EQ(IVParameters(up.V, up.J, OneSun(), pu), 1);
  ASSERT_EQ(IVParameters(down.V, down.J, OneSun(), pd), 1);
  const double line0 = up.J[0] - (up.J[1] - up.J[0]) / (up.V[1] - up.V[0]) * up.V[0];
  EXPECT_CLOSE(pd.Jsc, -line0, 1e-14, 0.0);
  // The diode current there is J0·e^(V/Vt) = 3e-6 and 8e-6 mA/cm2: the line misses −30 at 0 V by
  // about 4e-5 mA/cm2 (a falling sweep evaluated in array order gave 15689 mA/cm2).
  EXPECT_CLOSE(pd.Jsc, kJL, 0.0, 1e-4);
  EXPECT_EQ(pd.jscExtrapolated, 1);
  EXPECT_EQ(pd.anyExtrapolated, 1);
  EXPECT_EQ(pd.vocExtrapolated, 0);
  EXPECT_EQ(pd.ffValid, 1);
  // The diode's FF at this Voc is about 84 %; a falling sweep evaluated in array order gave 0.15 %.
  EXPECT_GT(pd.FF, 80.0);
  EXPECT_LT(pd.FF, 90.0);
  EXPECT_EQ(pd.Voc, pu.Voc);
  EXPECT_EQ(pd.Jsc, pu.Jsc);
  EXPECT_EQ(pd.FF, pu.FF);
  EXPECT_EQ(pd.eta, pu.eta);
  EXPECT_EQ(pd.Vmpp, pu.Vmpp);
  EXPECT_EQ(pd.Jmpp, pu.Jmpp);
}

TEST(IVParameters, UnequalStepsKeepTheExponentialFitExact) {
  // A series resistance spaces the terminal voltages unevenly. The exponential through three
  // unevenly spaced points of the diode is still the diode itself, so the maximum power is that
  // of the curve to the bisection's resolution (the largest step is 38 mV here).
  std::vector<double> V, J;
  for (double v = -0.1; v < 0.75; v += 0.0) {
    V.push_back(v);
    J.push_back(Diode(v));
    v += 0.011 + 0.027 * (V.size() % 2);  // alternating 11 and 38 mV steps
  }
  CellParameters p;
  ASSERT_EQ(IVParameters(V, J, OneSun(), p), 1);
  const double Vm = DiodeVmpp();
  const double Pm = Vm * -Diode(Vm);
  const double dV = 0.038 / 2048.0;
  const double Ppp = (kJL + kJ0) / kVt * 2.0;
  EXPECT_CLOSE(p.Vmpp, Vm, 0.0, dV);
  EXPECT_CLOSE(p.Jmpp * p.Vmpp, Pm, 0.0, 0.5 * Ppp * dV * dV + 1e-12);
}

TEST(IVParameters, TwoPointSweepUsesStraightLines) {
  // J = −30 + 10·V through (−0.1, −31) and (0.1, −29): Jsc = 30, Voc = 3 V; P = −J·V is −3.1 and
  // 2.9 at the two points, so the second is the MPP, at an end. FF = 2.9·100/(3·30).
  const std::vector<double> V{-0.1, 0.1}, J{-31.0, -29.0};
  CellParameters p;
  ASSERT_EQ(IVParameters(V, J, OneSun(), p), 1);
  EXPECT_CLOSE(p.Jsc, 30.0, 1e-14, 0.0);
  EXPECT_CLOSE(p.Voc, 3.0, 1e-14, 0.0);
  EXPECT_DOUBLE_EQ(p.Vmpp, 0.1);
  EXPECT_DOUBLE_EQ(p.Jmpp, 29.0);
  EXPECT_CLOSE(p.FF, 2.9 * 100.0 / 90.0, 1e-14, 0.0);
  EXPECT_EQ(p.mppAtEnd, 1);
  EXPECT_EQ(p.anyExtrapolated, 1);
  EXPECT_EQ(p.vocExtrapolated, 1);  // J does not change sign between the two points
  EXPECT_EQ(p.jscExtrapolated, 0);
}

TEST(IVParameters, CollinearPointsAroundVoc) {
  // J = −30 + 40·V on 0 … 1 V in 0.1 V steps: the three points around the crossing are
  // collinear; the quadratic degenerates to the line, whose zero is Voc = 0.75 V. The power
  // 30V − 40V² peaks at 0.375 V; of the sweep points 0.4 V gives the most, 5.6 mW/cm2, and no
  // exponential passes through three collinear points, so that point is the MPP.
  std::vector<double> V, J;
  for (int i = 0; i <= 10; ++i) {
    V.push_back(0.1 * i);
    J.push_back(-30.0 + 40.0 * V.back());
  }
  CellParameters p;
  ASSERT_EQ(IVParameters(V, J, OneSun(), p), 1);
  EXPECT_CLOSE(p.Voc, 0.75, 1e-12, 0.0);
  EXPECT_EQ(p.vocValid, 1);
  EXPECT_CLOSE(p.Jsc, 30.0, 1e-12, 0.0);
  EXPECT_CLOSE(p.Vmpp, 0.4, 1e-12, 0.0);
  EXPECT_CLOSE(p.FF, 5.6 * 100.0 / (0.75 * 30.0), 1e-12, 0.0);
  EXPECT_TRUE(std::isfinite(p.FF));
}

TEST(IVParameters, OutOfRangeValuesAreZeroAndInvalid) {
  {
    // J = −30 + V: Voc = 30 V, beyond 10 V.
    const std::vector<double> V{-0.1, 0.0, 0.1, 0.2}, J{-30.1, -30.0, -29.9, -29.8};
    CellParameters p;
    ASSERT_EQ(IVParameters(V, J, OneSun(), p), 1);
    EXPECT_EQ(p.vocValid, 0);
    EXPECT_EQ(p.Voc, 0.0);
    EXPECT_EQ(p.ffValid, 0);
    EXPECT_EQ(p.jscValid, 1);
  }
  {
    // Jsc = 1 (flat −1 around 0 V), Voc ≈ 0.6 V, but −100 mA/cm2 at 0.5 V: FF = 50·100/(0.6·1),
    // far above 150 %.
    const std::vector<double> V{-0.1, 0.0, 0.1, 0.5, 0.6}, J{-1.0, -1.0, -1.0, -100.0, 1.0};
    CellParameters p;
    ASSERT_EQ(IVParameters(V, J, OneSun(), p), 1);
    EXPECT_EQ(p.jscValid, 1);
    EXPECT_EQ(p.vocValid, 1);
    EXPECT_EQ(p.ffValid, 0);
    EXPECT_EQ(p.FF, 0.0);
    EXPECT_EQ(p.etaValid, 1);
  }
  {
    // A dark-like curve (no generated current): Jsc ≤ 0 and Voc not positive are invalid, and so
    // is an efficiency of 0.
    const Curve c = Sample(-0.2, 0.05, 17, [](double V) { return kJ0 * std::expm1(V / kVt); });
    CellParameters p;
    ASSERT_EQ(IVParameters(c.V, c.J, OneSun(), p), 1);
    EXPECT_EQ(p.jscValid, 0);
    EXPECT_EQ(p.vocValid, 0);
    EXPECT_EQ(p.ffValid, 0);
    EXPECT_EQ(p.etaValid, 0);
  }
}

TEST(IVParameters, NothingForDarkShortOrNonFiniteCurves) {
  const Curve c = Sample(-0.2, 0.02, 51, Diode);
  CellParameters p;
  p.Voc = 7.0;
  IVIllumination dark = OneSun();
  dark.dark = 1;
  EXPECT_EQ(IVParameters(c.V, c.J, dark, p), 0);
  EXPECT_EQ(p.Voc, 0.0);
  EXPECT_EQ(IVParameters(std::vector<double>{0.1}, std::vector<double>{-3.0}, OneSun(), p), 0);
  EXPECT_EQ(IVParameters(std::vector<double>{0.1, 0.1}, std::vector<double>{-3.0, -2.0}, OneSun(), p), 0);
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(IVParameters(std::vector<double>{nan, 0.1, inf}, std::vector<double>{-3.0, nan, -2.0}, OneSun(), p), 0);

  // A non-finite point among good ones is left out; the rest gives the diode's parameters.
  Curve bad = c;
  bad.J[20] = nan;
  bad.V[35] = inf;
  CellParameters pb;
  ASSERT_EQ(IVParameters(bad.V, bad.J, OneSun(), pb), 1);
  EXPECT_TRUE(std::isfinite(pb.Voc) && std::isfinite(pb.FF) && std::isfinite(pb.eta));
  EXPECT_EQ(pb.vocValid, 1);
  EXPECT_EQ(pb.ffValid, 1);
  EXPECT_CLOSE(pb.Jsc, kJL, 1e-12, 0.0);
}

TEST(IVParameters, MaximumAtTheEndDespiteANoisyPoint) {
  // Powers 0.3, 0.1, 0.6, 0.9 (J = −P/V): the maximum is the last point; a dip at the second
  // point must not clear the flag.
  const std::vector<double> V{0.1, 0.2, 0.3, 0.4}, P{0.3, 0.1, 0.6, 0.9};
  std::vector<double> J;
  for (std::size_t i = 0; i < V.size(); ++i) J.push_back(-P[i] / V[i]);
  CellParameters p;
  ASSERT_EQ(IVParameters(V, J, OneSun(), p), 1);
  EXPECT_EQ(p.mppAtEnd, 1);
  EXPECT_EQ(p.anyExtrapolated, 1);
  EXPECT_CLOSE(p.Vmpp, 0.4, 1e-15, 0.0);
  EXPECT_CLOSE(p.eta, 0.9, 1e-12, 0.0);
}

TEST(IVParameters, CollectionEfficiencyWithAGenerationFile) {
  // Jsc = 30 of an offered 50 % × 75 mA/cm2 = 37.5 mA/cm2: 80 %.
  const Curve c = Sample(-0.2, 0.02, 51, Diode);
  IVIllumination light;
  light.generationFromFile = 1;
  light.incidentPower = 1000.0;
  light.attenuation = 50.0;
  light.idealGenerationCurrent = 75.0;
  CellParameters p;
  ASSERT_EQ(IVParameters(c.V, c.J, light, p), 1);
  EXPECT_CLOSE(p.eta, 80.0, 1e-10, 0.0);
  EXPECT_EQ(p.etaValid, 1);
  light.idealGenerationCurrent = 0.0;  // nothing offered: no efficiency rather than a division by 0
  ASSERT_EQ(IVParameters(c.V, c.J, light, p), 1);
  EXPECT_EQ(p.etaValid, 0);
}

TEST(IVParameters, CurveThatIsNoDiodeAtItsMaximumIsNotRefined) {
  RecordingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, ""};
  CellParameters p;
  // P = 0, 1.4, 1.9, 1.8, 1.6: the maximum at 0.2 V, where J rises but bends downwards (slope 45
  // then 35 mA/cm2/V): no exponential diode passes through the three points, so the sweep point
  // itself is the MPP and the user is told.
  const std::vector<double> V{0.0, 0.1, 0.2, 0.3, 0.4};
  ASSERT_EQ(IVParameters(V, std::vector<double>{-20.0, -14.0, -9.5, -6.0, -4.0}, OneSun(), p, &env), 1);
  EXPECT_DOUBLE_EQ(p.Vmpp, 0.2);
  EXPECT_DOUBLE_EQ(p.Jmpp, 9.5);
  // J never reaches zero in this curve: the extrapolated Voc is warned after the assertion.
  ASSERT_EQ(ui.popups.size(), 2u);
  EXPECT_EQ(ui.popups[0].title, "Efficiency interpolation assertion");
  EXPECT_EQ(ui.popups[0].message, "The currents don't behave as expected");
  EXPECT_NE(ui.popups[1].message.find("Voc = "), std::string::npos);
  // P = 2, 3, 4.8, −0.4: the maximum at 0.3 V, where J falls from −15 to −16: not refined either.
  ui.popups.clear();
  ASSERT_EQ(IVParameters(std::vector<double>{0.1, 0.2, 0.3, 0.4}, std::vector<double>{-20.0, -15.0, -16.0, 1.0},
                         OneSun(), p, &env),
            1);
  EXPECT_DOUBLE_EQ(p.Vmpp, 0.3);
  EXPECT_DOUBLE_EQ(p.Jmpp, 16.0);
  // The assertion, and the Jsc extrapolated to 0 V below the curve.
  ASSERT_EQ(ui.popups.size(), 2u);
  EXPECT_EQ(ui.popups[0].title, "Efficiency interpolation assertion");
  EXPECT_NE(ui.popups[1].message.find("Jsc = "), std::string::npos);
  // The diode bends upwards: refined, and no message.
  ui.popups.clear();
  const Curve c = Sample(-0.2, 0.02, 51, Diode);
  ASSERT_EQ(IVParameters(c.V, c.J, OneSun(), p, &env), 1);
  EXPECT_TRUE(ui.popups.empty());
}

TEST(MergeIVAndCV, VoltagesWithin10MicrovoltsAreDroppedOnBothLists) {
  std::vector<int> index, origin;
  // I-V {0, 0.1, 0.2} with C-V {0.1000001, 0.3}: the C-V point within 1e-5 V of 0.1 is dropped.
  ASSERT_EQ(merge_IV_and_CV(std::vector<double>{0.0, 0.1, 0.2}, std::vector<double>{0.1000001, 0.3}, index, origin), 4);
  EXPECT_EQ(index, (std::vector<int>{0, 1, 2, 1}));
  EXPECT_EQ(origin, (std::vector<int>{1, 1, 1, 2}));
  // A shared end voltage: after the I-V list runs out, the C-V point at 0.2 V is still dropped.
  ASSERT_EQ(merge_IV_and_CV(std::vector<double>{0.0, 0.1, 0.2}, std::vector<double>{0.2, 0.3}, index, origin), 4);
  EXPECT_EQ(index, (std::vector<int>{0, 1, 2, 1}));
  EXPECT_EQ(origin, (std::vector<int>{1, 1, 1, 2}));
}

TEST(MergeIVAndCV, UnsortedListsKeepTheirOwnIndices) {
  std::vector<int> index, origin;
  // I-V swept downwards, C-V upwards: merged ascending, each entry pointing into its own list.
  ASSERT_EQ(merge_IV_and_CV(std::vector<double>{0.4, 0.2, 0.0}, std::vector<double>{0.1, 0.3, 0.5}, index, origin), 6);
  EXPECT_EQ(index, (std::vector<int>{2, 0, 1, 1, 0, 2}));
  EXPECT_EQ(origin, (std::vector<int>{1, 2, 1, 2, 1, 2}));
}

TEST(MergeIVAndCV, AnEmptyListLeavesTheOtherInItsOwnOrder) {
  std::vector<int> index, origin;
  ASSERT_EQ(merge_IV_and_CV({}, std::vector<double>{0.3, 0.1}, index, origin), 2);
  EXPECT_EQ(index, (std::vector<int>{0, 1}));
  EXPECT_EQ(origin, (std::vector<int>{2, 2}));
  // No C-V points: the I-V curve stays whole rather than being replaced by nothing.
  ASSERT_EQ(merge_IV_and_CV(std::vector<double>{0.0, 0.1}, {}, index, origin), 2);
  EXPECT_EQ(origin, (std::vector<int>{1, 1}));
  ASSERT_EQ(merge_IV_and_CV({}, {}, index, origin), 0);
}

}  // namespace
}  // namespace zoniq
