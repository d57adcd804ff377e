// Cell parameters of hand-built I-V curves with known Voc, Jsc, FF and maximum-power point;
// parameters that must not mislead (the first crossing inside the sweep, no extrapolated Voc
// above the gap, every extrapolated value or odd maximum told); the merge of two voltage grids.
#include "measure/iv_parameters.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "test_util.hpp"

namespace zoniq {
namespace {

using V = std::vector<double>;
const double kSkip = std::nan("");  // not checked
constexpr std::array<int, 8> kAny{-1, -1, -1, -1, -1, -1, -1, -1};

// The ideal diode under light: J = J0·(e^(V/Vt) − 1) − JL [mA/cm2].
constexpr double kVt = 0.025, kJ0 = 1e-9, kJL = 30.0;
double Diode(double V) { return kJ0 * std::expm1(V / kVt) - kJL; }

// Voc = Vt·ln(JL/J0 + 1) = 0.6031 V. P = V·(I − J0·e^(V/Vt)), I = JL + J0, is largest where
// e^x·(1 + x) = I/J0 (x = V/Vt): 1 + x = W(e·I/J0), W solved by Newton's method in logarithms.
double DiodeVoc() { return kVt * std::log(kJL / kJ0 + 1.0); }
double DiodeVmpp() {
  const double lnc = 1.0 + std::log((kJL + kJ0) / kJ0);
  double y = lnc - std::log(lnc);
  for (int i = 0; i < 50; ++i) y -= (y + std::log(y) - lnc) / (1.0 + 1.0 / y);
  return kVt * (y - 1.0);
}

IVIllumination Sun(double bandGap = 0.0) {
  IVIllumination light;
  light.incidentPower = 1000.0;  // W/m2: η [%] = Pmax [mW/cm2]
  light.bandGap = bandGap;
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

// An environment whose messages are recorded and counted.
struct Recorder {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, ""};
  bool Said(const std::string& part) const {
    for (const auto& p : ui.popups)
      if (p.message.find(part) != std::string::npos) return true;
    return false;
  }
};

TEST(IVParameters, IdealDiodeAgainstItsAnalyticParameters) {
  // −0.2 … 0.8 V in 20 mV steps: 0 V is a sweep point, Voc and the MPP interior.
  const double h = 0.02;
  const Curve c = Sample(-0.2, h, 51, Diode);
  Recorder r;
  CellParameters p;
  ASSERT_EQ(IVParameters(c.V, c.J, Sun(), p, &r.env), 1);
  EXPECT_TRUE(r.ui.popups.empty());  // the diode bends upwards at its maximum: refined, no message

  // Jsc: 0 V is a sweep point.
  EXPECT_CLOSE(p.Jsc, kJL, 1e-12, 0.0);
  // Voc: the quadratic's error near the crossing is at most max|J'''|/6·0.385·h³ (0.385·h³ the
  // largest |(V−a)(V−b)(V−c)| on equal steps), and max|J'''|/J'(Voc) ≤ e^(2h/Vt)/Vt².
  const double vocBound = std::exp(2 * h / kVt) / (kVt * kVt) / 6.0 * 0.385 * h * h * h;
  EXPECT_CLOSE(p.Voc, DiodeVoc(), 0.0, vocBound);
  // MPP: J0 + A·e^(βV) through three points is exact here; 10 halvings of a step leave
  // |ΔVmpp| ≤ h/2^11, and the error of the flat P is ½|P''|ΔV².
  const double Vm = DiodeVmpp();
  const double Pm = Vm * -Diode(Vm);
  const double Ppp = (kJL + kJ0) / kVt * 2.0;  // |P''| ≤ J0·e^x·(2 + x)/Vt ≤ 2·I/Vt at the maximum
  double dV = h / 2048.0;
  EXPECT_CLOSE(p.Vmpp, Vm, 0.0, dV);
  EXPECT_CLOSE(p.Jmpp * p.Vmpp, Pm, 0.0, 0.5 * Ppp * dV * dV + 1e-12);
  EXPECT_CLOSE(p.eta, Pm, 0.0, 0.5 * Ppp * dV * dV + 1e-12);
  // FF carries the error of Voc only (relative), the others are far smaller.
  EXPECT_CLOSE(p.FF, Pm * 100.0 / (DiodeVoc() * kJL), vocBound / DiodeVoc() * 1.01, 0.0);
  EXPECT_EQ((std::array{p.vocValid, p.jscValid, p.ffValid, p.etaValid, p.vocExtrapolated, p.jscExtrapolated, p.mppAtEnd,
                        p.anyExtrapolated}),
            (std::array{1, 1, 1, 1, 0, 0, 0, 0}));

  // Unequal steps (as a series resistance gives; 11 and 38 mV here): the exponential through
  // three uneven points is still the diode, to the bisection's resolution of the largest step.
  Curve u;
  for (double v = -0.1; v < 0.75; v += 0.011 + 0.027 * (u.V.size() % 2)) {
    u.V.push_back(v);
    u.J.push_back(Diode(v));
  }
  ASSERT_EQ(IVParameters(u.V, u.J, Sun(), p), 1);
  dV = 0.038 / 2048.0;
  EXPECT_CLOSE(p.Vmpp, Vm, 0.0, dV);
  EXPECT_CLOSE(p.Jmpp * p.Vmpp, Pm, 0.0, 0.5 * Ppp * dV * dV + 1e-12);
}

TEST(IVParameters, FallingSweepGivesTheSameParametersAsTheRisingOne) {
  // 0.8 → 0.2 V: Jsc is the line through the two lowest voltages, as in rising order.
  const Curve up = Sample(0.2, 0.025, 25, Diode);
  const Curve down{{up.V.rbegin(), up.V.rend()}, {up.J.rbegin(), up.J.rend()}};
  CellParameters pu, pd;
  ASSERT_EQ(IVParameters(up.V, up.J, Sun(), pu), 1);
  ASSERT_EQ(IVParameters(down.V, down.J, Sun(), pd), 1);
  const double line0 = up.J[0] - (up.J[1] - up.J[0]) / (up.V[1] - up.V[0]) * up.V[0];
  EXPECT_CLOSE(pd.Jsc, -line0, 1e-14, 0.0);
  // The diode current there is 3e-6 and 8e-6 mA/cm2: the line misses −30 by about 4e-5.
  EXPECT_CLOSE(pd.Jsc, kJL, 0.0, 1e-4);
  EXPECT_EQ((std::array{pd.jscExtrapolated, pd.anyExtrapolated, pd.vocExtrapolated, pd.ffValid}),
            (std::array{1, 1, 0, 1}));
  // The diode's FF at this Voc is about 84 % (array order once gave 0.15 %).
  EXPECT_GT(pd.FF, 80.0);
  EXPECT_LT(pd.FF, 90.0);
  EXPECT_EQ(std::tie(pd.Voc, pd.Jsc, pd.FF, pd.eta, pd.Vmpp, pd.Jmpp),
            std::tie(pu.Voc, pu.Jsc, pu.FF, pu.eta, pu.Vmpp, pu.Jmpp));
}

// Hand-built curves whose parameters follow by hand; kSkip and -1 mark what a case leaves open.
struct Values {
  double Jsc = kSkip, Voc = kSkip, FF = kSkip, eta = kSkip, Vmpp = kSkip, Jmpp = kSkip;
};
struct Case {
  const char* name;
  Curve curve;
  Values want = {};  // Vmpp and Jmpp at sweep points: exact
  // jscValid, vocValid, ffValid, etaValid, jscExtrapolated, vocExtrapolated, mppAtEnd, anyExtrapolated
  std::array<int, 8> flags = kAny;
  double bandGap = 0.0;
  double rel = 1e-12;                  // of Jsc, Voc, FF and η
  std::vector<const char*> said = {};  // parts of the messages given
  int messages = -1;                   // how many, each counted for the exit status
};

Curve Line(double from, double step, int n) {
  return Sample(from, step, n, [](double v) { return -30.0 + 40.0 * v; });
}

TEST(IVParameters, HandBuiltCurves) {
  const double inf = std::numeric_limits<double>::infinity();
  // J = 50·(V − 0.55)·(V + 0.6) on an uneven grid: a parabola is reproduced exactly by the
  // three-point quadratic, so Jsc = −J(0) = 16.5 and Voc = 0.55 up to rounding.
  V pv{-0.3, -0.17, -0.05, 0.08, 0.2, 0.33, 0.41, 0.52, 0.61, 0.7}, pj;
  for (double v : pv) pj.push_back(50.0 * (v - 0.55) * (v + 0.6));
  // The ideal diode past Voc turned back below zero (a blocking back contact): J[0]·J[n−1] > 0.
  Curve back = Sample(-0.2, 0.02, 51, Diode);
  for (std::size_t i = 45; i < back.V.size(); ++i) back.J[i] = -5.0 - 10.0 * (back.V[i] - 0.7);
  const Curve line = Line(0.0, 0.1, 11), shortLine = Line(0.2, 0.05, 9);
  const Curve early = Sample(0.0, 0.05, 11, Diode);  // to 0.5 V: J nearly −JL still
  const Curve dark = Sample(-0.2, 0.05, 17, [](double v) { return kJ0 * std::expm1(v / kVt); });
  Curve bad = Sample(-0.2, 0.02, 51, Diode);  // a non-finite point among good ones is left out
  bad.J[20] = std::nan("");
  bad.V[35] = inf;
  const double earlyVoc = 0.5 - early.J[10] / ((early.J[10] - early.J[9]) / 0.05);
  const Case cases[] = {
      {.name = "parabola", .curve = {pv, pj}, .want = {16.5, 0.55}},
      // J = −30 + 10·V: P = −3.1 and 2.9, the MPP at an end; no sign change: FF = 2.9·100/(3·30).
      {.name = "two points",
       .curve = {{-0.1, 0.1}, {-31.0, -29.0}},
       .want = {30.0, 3.0, 2.9 * 100.0 / 90.0, kSkip, 0.1, 29.0},
       .flags = {-1, -1, -1, -1, 0, 1, 1, 1},
       .rel = 1e-14},
      // J = −30 + 40·V: the quadratic degenerates to the line; no exponential passes through three
      // collinear points, so the sweep point 0.4 V (5.6 mW/cm2) is the MPP.
      {.name = "collinear",
       .curve = line,
       .want = {30.0, 0.75, 5.6 * 100.0 / (0.75 * 30.0), kSkip, 0.4},
       .flags = {1, 1, 1, -1, -1, -1, -1, -1}},
      // J = −30 + V: Voc = 30 V, beyond the 10 V limit.
      {.name = "Voc beyond 10 V",
       .curve = {{-0.1, 0.0, 0.1, 0.2}, {-30.1, -30.0, -29.9, -29.8}},
       .want = {kSkip, 0.0},
       .flags = {1, 0, 0, -1, -1, -1, -1, -1}},
      // Jsc = 1, Voc ≈ 0.6 V, but −100 mA/cm2 at 0.5 V: FF = 50·100/(0.6·1), far above 150 %.
      {.name = "FF above 150 %",
       .curve = {{-0.1, 0.0, 0.1, 0.5, 0.6}, {-1.0, -1.0, -1.0, -100.0, 1.0}},
       .want = {kSkip, kSkip, 0.0},
       .flags = {1, 1, 0, 1, -1, -1, -1, -1}},
      // No generated current: Jsc ≤ 0, Voc not positive and an efficiency of 0 are invalid.
      {.name = "dark-like", .curve = dark, .flags = {0, 0, 0, 0, -1, -1, -1, -1}},
      // Powers 0.3, 0.1, 0.6, 0.9: the maximum at the end; the dip must not clear the flag.
      {.name = "maximum at the end",
       .curve = {{0.1, 0.2, 0.3, 0.4}, {-3.0, -0.5, -2.0, -2.25}},
       .want = {kSkip, kSkip, kSkip, 0.9, 0.4},
       .flags = {-1, -1, -1, -1, -1, -1, 1, 1}},
      // The crossing inside the sweep is Voc, within 2 mV (the ideal diode's bound for 20 mV steps).
      {.name = "turns back",
       .curve = back,
       .want = {kSkip, DiodeVoc()},
       .flags = {-1, 1, 1, -1, -1, 0, -1, -1},
       .bandGap = 1.5,
       .rel = 2e-3 / DiodeVoc(),
       .messages = 0},
      // J = −30 + 40·V on 0.2 … 0.6 V: zero at 0.75 V, below Eg/q = 1 V: kept and warned, as is Jsc.
      {.name = "Voc extrapolated below the gap",
       .curve = shortLine,
       .want = {30.0, 0.75},
       .flags = {-1, 1, -1, -1, 1, 1, -1, -1},
       .bandGap = 1.0,
       .said = {"Voc = 0.7500 V was extrapolated", "Jsc = 30.0000 mA/cm2 was extrapolated"}},
      // The diode to 0.5 V: the line through the last two points meets zero near 4 V, above
      // Eg/q = 1 V no Voc (once 4.27 V for a 1.70 eV cell); without a gap only the 10 V limit.
      {.name = "Voc beyond the sweep above the gap",
       .curve = early,
       .want = {kSkip, 0.0},
       .flags = {1, 0, 0, -1, -1, 1, 1, -1},
       .bandGap = 1.0,
       .said = {"Eg/q = 1.000 V: Voc was not determined", "may lie beyond the curve"},
       .messages = 2},
      {.name = "Voc beyond the sweep, no gap",
       .curve = early,
       .want = {kSkip, earlyVoc},
       .flags = {-1, 1, -1, -1, -1, -1, -1, -1},
       .rel = 1e-9 / earlyVoc},
      {.name = "non-finite points", .curve = bad, .want = {kJL}, .flags = {-1, 1, 1, -1, -1, -1, -1, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder r;
    CellParameters p;
    ASSERT_EQ(IVParameters(c.curve.V, c.curve.J, Sun(c.bandGap), p, &r.env), 1);
    const Values& w = c.want;
    const std::pair<double, double> values[] = {{p.Jsc, w.Jsc}, {p.Voc, w.Voc}, {p.FF, w.FF}, {p.eta, w.eta}};
    for (const auto& [got, expected] : values)
      EXPECT_TRUE(std::isnan(expected) || test::IsClose(got, expected, c.rel, expected == 0.0 ? 1e-300 : 0.0));
    EXPECT_TRUE(std::isnan(w.Vmpp) || p.Vmpp == w.Vmpp) << p.Vmpp;
    EXPECT_TRUE(std::isnan(w.Jmpp) || p.Jmpp == w.Jmpp) << p.Jmpp;
    const std::array<int, 8> flags{p.jscValid,        p.vocValid,        p.ffValid,  p.etaValid,
                                   p.jscExtrapolated, p.vocExtrapolated, p.mppAtEnd, p.anyExtrapolated};
    for (std::size_t k = 0; k < 8; ++k)
      EXPECT_TRUE(c.flags[k] < 0 || flags[k] == c.flags[k]) << "flag " << k << " is " << flags[k];
    EXPECT_TRUE(std::isfinite(p.Voc) && std::isfinite(p.FF) && std::isfinite(p.eta));
    for (const char* part : c.said) EXPECT_TRUE(r.Said(part)) << part;
    EXPECT_EQ(r.errors.messagesThisRun, static_cast<int>(r.ui.popups.size()));
    EXPECT_TRUE(c.messages < 0 || r.errors.messagesThisRun == c.messages) << r.errors.messagesThisRun;
  }
}

TEST(IVParameters, NothingForDarkShortOrNonFiniteCurves) {
  const Curve c = Sample(-0.2, 0.02, 51, Diode);
  CellParameters p;
  p.Voc = 7.0;
  IVIllumination dark = Sun();
  dark.dark = 1;
  EXPECT_EQ(IVParameters(c.V, c.J, dark, p), 0);
  EXPECT_EQ(p.Voc, 0.0);  // and no stale value
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  for (const auto& [v, j] :
       {std::pair{V{0.1}, V{-3.0}}, {V{0.1, 0.1}, V{-3.0, -2.0}}, {V{nan, 0.1, inf}, V{-3, nan, -2}}})
    EXPECT_EQ(IVParameters(v, j, Sun(), p), 0) << v.size();
}

TEST(IVParameters, CollectionEfficiencyWithAGenerationFile) {
  // Jsc = 30 of an offered 50 % × 75 mA/cm2 = 37.5 mA/cm2: 80 %.
  const Curve c = Sample(-0.2, 0.02, 51, Diode);
  IVIllumination light = Sun();
  light.generationFromFile = 1;
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
  // P = 2, 3, 4.8, −0.4: at the maximum J falls; no exponential diode passes through the three
  // points, so the sweep point is the MPP and the user is told, before Jsc (extrapolated) is.
  Recorder r;
  CellParameters p;
  ASSERT_EQ(IVParameters(V{0.1, 0.2, 0.3, 0.4}, V{-20.0, -15.0, -16.0, 1.0}, Sun(), p, &r.env), 1);
  EXPECT_EQ(std::tie(p.Vmpp, p.Jmpp), std::make_tuple(0.3, 16.0));
  ASSERT_EQ(r.ui.popups.size(), 2u);
  EXPECT_EQ(r.ui.popups[0].title, "Efficiency interpolation assertion");
  EXPECT_EQ(r.ui.popups[0].message, "The currents don't behave as expected");
  EXPECT_NE(r.ui.popups[1].message.find("Jsc = "), std::string::npos);
}

TEST(MergeIVAndCV, VoltagesWithin10MicrovoltsAreDroppedAndEachListKeepsItsIndices) {
  const struct {
    V iv, cv;
    std::vector<int> index, origin;
  } cases[] = {
      // The C-V point within 1e-5 V of 0.1 is dropped.
      {{0.0, 0.1, 0.2}, {0.1000001, 0.3}, {0, 1, 2, 1}, {1, 1, 1, 2}},
      // I-V swept downwards, C-V upwards: merged ascending, each entry pointing into its own list.
      {{0.4, 0.2, 0.0}, {0.1, 0.3, 0.5}, {2, 0, 1, 1, 0, 2}, {1, 2, 1, 2, 1, 2}},
      // An empty list leaves the other whole, in its own order.
      {{}, {0.3, 0.1}, {0, 1}, {2, 2}},
      {{0.0, 0.1}, {}, {0, 1}, {1, 1}},
      {{}, {}, {}, {}},
  };
  for (const auto& c : cases) {
    std::vector<int> index, origin;
    EXPECT_EQ(merge_IV_and_CV(c.iv, c.cv, index, origin), static_cast<int>(c.index.size()));
    EXPECT_EQ(index, c.index);
    EXPECT_EQ(origin, c.origin);
  }
}

}  // namespace
}  // namespace zoniq
