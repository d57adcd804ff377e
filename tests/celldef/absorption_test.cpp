// Absorption: the A, B model, the model's wavelength list, logarithmic table interpolation
// at its branch boundaries, α of mixed material, absorption files, and optical capture.
#include "celldef/absorption.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "grading_fixture.hpp"

namespace zoniq {
namespace {

using test::ExpectArraysClose;
using test::IsClose;

constexpr double hc = 1239.977;  // [eV nm]

LayerParameters Layer(double EgA, double EgB) {
  LayerParameters layer;
  InitialiseLayerParameters(layer, 0);
  layer.Eg.p[0] = EgA, layer.Eg.p[1] = EgB;
  return layer;
}

class Absorption : public test::GradingEnvironment {};

// ---- model
TEST(AbsorptionModel, CoefficientsAAndB) {
  // A = 1e7, B = 0, Eg = 1.5 eV: α(2.5 eV) = 1e7·sqrt(2.5 - 1.5) = 1e7 /m
  const double cut = hc / 1.5;  // 826.651 nm
  EXPECT_CLOSE(ModelAlpha(1e7, 0.0, cut, hc / 2.5), 1e7, 1e-12, 0);
  EXPECT_EQ(ModelAlpha(1e7, 0.0, cut, cut), 0.0);
  EXPECT_EQ(ModelAlpha(1e7, 0.0, cut, 826.7), 0.0);
  EXPECT_EQ(ModelAlpha(1e7, 0.0, cut, 2000.0), 0.0);
  // B alone: (B/hν)·sqrt(hν - Eg) = 1e7/2.5 at 2.5 eV
  EXPECT_CLOSE(ModelAlpha(0.0, 1e7, cut, hc / 2.5), 4e6, 1e-12, 0);
  // hν = 5.5 eV: (2e7 + 1e7/5.5)·sqrt(4)
  EXPECT_CLOSE(ModelAlpha(2e7, 1e7, cut, hc / 5.5), (2e7 + 1e7 / 5.5) * 2.0, 1e-12, 0);
  EXPECT_EQ(ModelAlpha(1e7, 0.0, cut, 0.0), 0.0);
  EXPECT_EQ(ModelAlpha(1e7, 0.0, cut, -5.0), 0.0);
  EXPECT_EQ(ModelAlpha(1e7, 0.0, -3.0, 500.0), 0.0);
}

// Narrow-gap materials: between list points ln α is interpolated linearly; with points evenly
// spaced in u = ln(λ/(λc-λ)) (step Δu ≈ 0.1 for λc ≈ 2.5 µm) the error of ln α is below
// Δu²/16 ≈ 6e-4, hence 1e-3 relative; in the 1 nm steps from λc - 15 to λc - 5 nm it is
// below (1 nm)²/8 · ½/(5 nm)² = 2.5e-3.
TEST_F(Absorption, NarrowGapTablesFollowTheFormulaUpToTheCutOff) {
  for (double Eg : {0.6, 0.5}) {
    LayerParameters layer = Layer(Eg, Eg);
    layer.B = {3e6, 3e6};
    AlphaTable table;
    SetAbsorptionCutOffs(layer);
    ASSERT_EQ(FillAlphaTable(layer, 0, table, env), kModelTablePoints);
    const double cut = hc / Eg;
    for (double lambda = 200.0; lambda < cut - 5.0; lambda += 7.3) {
      const double exact = ModelAlpha(1e7, 3e6, cut, lambda);
      const double tol = lambda < cut - 15.0 ? 1e-3 : 3e-3;
      EXPECT_CLOSE(LogInterpolateFromTable(lambda, table.validWavelengths(), table.validAlpha()), exact, tol, 0)
          << "Eg " << Eg << " at " << lambda << " nm";
    }
    EXPECT_EQ(LogInterpolateFromTable(cut + 1.0, table.validWavelengths(), table.validAlpha()), 0.0);
  }
}

TEST(LogInterpolation, InsideBelowAndAboveTheTable) {
  const std::vector<double> w3 = {400.0, 500.0, 600.0}, w = {500.0, 600.0};
  const std::vector<double> v3 = {1e8, 1e6, 1e2}, falling = {1e5, 1e3}, rising = {1e3, 1e5};
  struct Case {
    std::vector<double> wl, values;
    double at, want, rel;
  };
  const Case cases[] = {// inside: geometric, continuous at an inner point
                        {w3, v3, 450.0, 1e7, 1e-12},
                        {w3, v3, 575.0, 1e3, 1e-12},
                        {w3, v3, 500.0, 1e6, 1e-12},
                        {w3, {7.0, 7.0, 7.0}, 450.0, 7.0, 0},
                        // 0 next to 1e6 counts as 1e-4: sqrt(1e-4·1e6) = 10 in the middle; both not positive: linear
                        {w, {1e6, 0.0}, 550.0, 10.0, 1e-12},
                        {w, {0.0, 1e6}, 550.0, 10.0, 1e-12},
                        {w, {0.0, -2.0}, 550.0, -1.0, 1e-15},
                        // an empty table gives 0, a single point holds everywhere
                        {{}, {}, 500.0, 0.0, 0},
                        {{500.0}, {3.0}, 100.0, 3.0, 0},
                        // below: α falling towards long wavelengths keeps its first value; a rising α continues
                        // logarithmically, 1e3·(1e3/1e5)^1 = 10 at 400 nm; a zero first value: nothing below
                        {w, falling, 500.0, 1e5, 0},
                        {w, falling, 300.0, 1e5, 0},
                        {w, rising, 400.0, 10.0, 1e-12},
                        {w, {0.0, 5.0}, 400.0, 0.0, 0},
                        {w, {0.0, 5.0}, 500.0, 0.0, 0},
                        // above: a rising α keeps its last value; a falling one continues, 1e3·(1e-2)^2 = 0.1 at 800 nm
                        {w, rising, 600.0, 1e5, 0},
                        {w, falling, 800.0, 0.1, 1e-12},
                        {w, {5.0, 0.0}, 700.0, 0.0, 0}};
  for (const Case& c : cases)
    EXPECT_CLOSE(LogInterpolateFromTable(c.at, c.wl, c.values), c.want, c.rel, 0) << c.at << " nm";
}

// ---- mixed material. Files whose α is exponential in λ are interpolated exactly by the
// logarithmic rule, so these expectations are closed forms.
class MixedAlpha : public Absorption {
 protected:
  void SetUp() override {
    // pure A: α = 1e8·(1e-6)^((λ-100)/1200), pure B: α = 1e7·(1e-4)^((λ-100)/600)
    Write("absorption", "a.abs", "100 1e8\n1300 1e2\n");
    Write("absorption", "b.abs", "100 1e7\n700 1e3\n");
    layer = Layer(1.0, 2.0), layer.Eg.law = LAW_LINEAR, layer.composition.law = LAW_LINEAR;
    layer.absorptionModel = {ABS_MODEL_FILE, ABS_MODEL_FILE}, layer.absorptionFile = {"a.abs", "b.abs"};
  }
  static double AlphaA(double l) { return 1e8 * std::pow(1e-6, (l - 100.0) / 1200.0); }
  static double AlphaB(double l) { return 1e7 * std::pow(1e-4, (l - 100.0) / 600.0); }
  LayerParameters layer;
};

TEST_F(MixedAlpha, GeometricMeanAtMappedWavelengths) {
  AlphaTable tA, tB;
  ASSERT_EQ(PrepareLayerAlphaTables(layer, tA, tB, env), 0);
  EXPECT_CLOSE(layer.absorption.p[0], hc, 1e-15, 0);  // cut-offs from the band gaps
  EXPECT_CLOSE(layer.absorption.p[1], hc / 2.0, 1e-15, 0);
  const std::vector<double> wl = {300.0, 500.0, 700.0};
  std::vector<double> a(3);
  ASSERT_EQ(InterpolateAlpha(layer, layer.absorption, wl, a, tA, tB, 0.5, env), 0);
  // Eg(½) = 1.5 eV; anchors 250 nm; [250, λc(½)] maps onto [250, λcA] and [250, λcB]
  const double cutY = hc / 1.5, cutA = hc, cutB = hc / 2.0;
  for (std::size_t i = 0; i < wl.size(); ++i) {
    const double l = wl[i];
    const double lA = ((cutY - l) * 250.0 + (l - 250.0) * cutA) / (cutY - 250.0);
    const double lB = ((cutY - l) * 250.0 + (l - 250.0) * cutB) / (cutY - 250.0);
    EXPECT_CLOSE(a[i], std::sqrt(AlphaA(lA) * AlphaB(lB)), 1e-10, 0) << l;
  }
}

TEST_F(MixedAlpha, TableBIsPureBWhenTheBandGapIsGraded) {
  // a layer read from a file keeps composition mode 0 for a linear composition: table B must
  // still be pure B's
  layer.compositionMode = 0;
  AlphaTable tA, tB;
  ASSERT_EQ(PrepareLayerAlphaTables(layer, tA, tB, env), 0);
  ExpectArraysClose(tB.wavelength, {100.0, 700.0}, 0);
  ExpectArraysClose(tA.wavelength, {100.0, 1300.0}, 0);
  // not graded: a copy of table A
  layer.Eg.law = LAW_UNIFORM;
  ASSERT_EQ(PrepareLayerAlphaTables(layer, tA, tB, env), 0);
  ExpectArraysClose(tB.wavelength, {100.0, 1300.0}, 0);
  // uniformly pure B: table A from pure B
  layer.Eg.law = LAW_LINEAR, layer.composition.law = LAW_UNIFORM_B;
  ASSERT_EQ(PrepareLayerAlphaTables(layer, tA, tB, env), 0);
  ExpectArraysClose(tA.wavelength, {100.0, 700.0}, 0);
}

TEST_F(Absorption, LayerAlphaFromFilesAndModel) {
  // The larger pure material's α: A = 2e7 at 1 eV above the gap; nothing below it.
  LayerParameters layer = Layer(1.5, 1.5);
  layer.A = {1e7, 2e7};
  EXPECT_CLOSE(ExtractLayerAlpha(layer, hc / 2.5, env), 2e7, 1e-12, 0);
  EXPECT_EQ(ExtractLayerAlpha(layer, 900.0, env), 0.0);
  // A file model builds its own wavelength list when none is set; α per centimetre.
  Write("absorption", "f.abs", "300 4e6\n400 1e6\n");
  layer.absorptionModel = {ABS_MODEL_FILE, ABS_MODEL_FILE}, layer.absorptionFile = {"f.abs", "f.abs"};
  std::vector<double> wl(4, kUnsetWavelength), a(4, -1.0);
  EXPECT_EQ(DetermineLayerAlpha(layer, wl, a, 0, 1, env), 2);
  ExpectArraysClose(wl, {300.0, 400.0, kUnsetWavelength, kUnsetWavelength}, 0);
  ExpectArraysClose(a, {4e4, 1e4, 0.0, 0.0}, 1e-15);
  std::vector<double> given = {350.0}, b(1);
  EXPECT_EQ(DetermineLayerAlpha(layer, given, b, 0, 0, env), 1);
  EXPECT_CLOSE(b[0], 2e6, 1e-12, 0);  // sqrt(4e6·1e6)
  // Unsorted or missing files give no absorption.
  Write("absorption", "down.abs", "500 1e7\n600 1e6\n550 1e5\n");
  layer.absorptionFile = {"down.abs", "down.abs"};
  AlphaTable tA, tB;
  EXPECT_EQ(PrepareLayerAlphaTables(layer, tA, tB, env), -1);
  EXPECT_EQ(tA.n, 0);
  EXPECT_EQ(ui.popups.at(0).title, "Error whilst reading absorption file");
  std::vector<double> w2 = {400.0, 550.0}, a2(2, -1.0);
  InterpolateAlpha(layer, layer.absorption, w2, a2, tA, tB, 0.0, env);
  ExpectArraysClose(a2, {0.0, 0.0}, 0);
  layer.absorptionFile = {"nowhere.abs", "nowhere.abs"};
  EXPECT_EQ(PrepareLayerAlphaTables(layer, tA, tB, env), -1);
}

// ---- optical capture
TEST_F(Absorption, OpticalCaptureModelFilesAndResampling) {
  // Lucovsky: 50 points from hc/Emax to the threshold hc/E0.
  OpticalCaptureProperties p;
  p.Emax = 2.0;
  ASSERT_EQ(ReadOpticalCaptureParametersFromModel(1.0, p), 50);
  ASSERT_EQ(p.wavelength.size(), 50u);
  EXPECT_CLOSE(p.wavelength.front(), hc / 2.0, 1e-14, 0);
  EXPECT_CLOSE(p.wavelength.back(), hc, 1e-14, 0);
  EXPECT_CLOSE(p.wavelength[1] - p.wavelength[0], (hc - hc / 2.0) / 49.0, 1e-10, 0);
  // x = 2: 9.3e-21·1·1/(3·1·1·8) = 3.875e-22 m^2; at the threshold x = 1: 0
  EXPECT_CLOSE(p.sigma.front(), 3.875e-22, 1e-12, 0);
  EXPECT_EQ(p.sigma.back(), 0.0);
  // n = 2, m*/m0 = 0.5, Eeff/E0 = 2, E0 = 0.5 eV, Emax = 1.5 eV (x = 3 at the first point):
  // 9.3e-21·4·2^1.5/(2·0.5·0.5·27) = 3.72e-20·2.8284271/13.5 = 7.793889e-21 m^2
  OpticalCaptureProperties q;
  q.n = 2.0, q.massRatio = 0.5, q.EeffE0 = 2.0, q.Emax = 1.5;
  ASSERT_EQ(ReadOpticalCaptureParametersFromModel(0.5, q), 50);
  EXPECT_CLOSE(q.sigma.front(), 7.793889e-21, 1e-6, 0);
  // No table without photons above the threshold, a threshold that is not positive, or n = 0.
  q.Emax = 0.4;
  EXPECT_EQ(ReadOpticalCaptureParametersFromModel(0.5, q), 0);
  EXPECT_TRUE(q.wavelength.empty());
  q.Emax = 10.0;
  EXPECT_EQ(ReadOpticalCaptureParametersFromModel(0.0, q), 0);
  EXPECT_EQ(ReadOpticalCaptureParametersFromModel(-0.2, q), 0);
  q.n = 0.0;
  EXPECT_EQ(ReadOpticalCaptureParametersFromModel(1.0, q), 0);

  // Files: a heading is skipped; falling, negative and non-finite data or no file are refused.
  Write("optcapt", "good.opt", "lambda sigma\n500 1e-20\n600 3e-20\n");
  Write("optcapt", "down.opt", "800 1e-21\n700 2e-21\n");
  Write("optcapt", "neg.opt", "800 1e-21\n900 -2e-21\n");
  Write("optcapt", "junk.opt", "nan nan\n1e999 1\n");
  for (const char* name : {"down.opt", "neg.opt", "junk.opt", "absent.opt"}) {
    ui.popups.clear();
    p.file = name;
    EXPECT_EQ(ReadOpticalCaptureParametersFromFile(p, env), -1) << name;
    EXPECT_TRUE(p.sigma.empty());
    EXPECT_EQ(ui.popups.size(), 1u) << name;
  }
  ui.popups.clear();
  p.file = "good.opt";
  EXPECT_EQ(ReadOpticalCaptureParametersFromFile(p, env), 2);
  ExpectArraysClose(p.sigma, {1e-20, 3e-20}, 0);
  EXPECT_TRUE(ui.popups.empty());
  // Resampled onto the calculation list: only the points inside the table, linear between.
  const std::vector<double> list = {400.0, 450.0, 500.0, 550.0, 600.0, 650.0};
  EXPECT_EQ(InterpolateOpticalCaptureProperties(p, list, env), 3);
  ExpectArraysClose(p.wavelength, {500.0, 550.0, 600.0}, 0);
  ExpectArraysClose(p.sigma, {1e-20, 2e-20, 3e-20}, 1e-14);
  EXPECT_EQ(p.firstWavelengthIndex, 2);
  p.wavelength = {600.0, 500.0}, p.sigma = {1e-20, 1e-20};
  EXPECT_EQ(InterpolateOpticalCaptureProperties(p, list, env), -1);
  EXPECT_TRUE(p.wavelength.empty());
  EXPECT_EQ(ui.popups.at(0).title, "Error reading the optical capture properties from file good.opt");
}

TEST_F(Absorption, ReadOpticalCaptureParametersFindsEachCarriersThreshold) {
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  set.cellParas.numberOfLayers = 1;
  LayerParameters& layer = set.cellParas.layer[0];
  layer.Eg.p[5] = 1.2, layer.srhteller = 1, layer.srh[0][0].numberOfLevels = 2;
  layer.srh[1][0].optHoles.fromModel = 1;  // defect 2 is not in use
  BulkRecombinationParameters& l1 = layer.srh[0][0];
  BulkRecombinationParameters& l2 = layer.srh[0][1];
  l1.Et = 0.4;
  l1.reference = 0;  // above EV: holes need 0.4 eV, electrons 0.8 eV
  l1.optHoles.fromModel = 1, l1.optElectrons.fromModel = 1, l2.Et = 0.1;
  l2.reference = 1;  // above Ei: 0.1 + 0.6 + (kT/2)·ln(Nv/Nc), kT = 0.0259·350/300
  layer.Nv.p[5] = layer.Nc.p[5] * std::exp(2.0), l2.optHoles.fromModel = 1;
  l2.optElectrons.wavelength = {1.0};  // off: freed
  l2.optElectrons.sigma = {1.0};

  EXPECT_EQ(ReadOpticalCaptureParameters(set, 350.0, 0, {}, env), 0);  // IPV off: nothing
  EXPECT_TRUE(l1.optHoles.wavelength.empty());

  EXPECT_EQ(ReadOpticalCaptureParameters(set, 350.0, 1, {}, env), 0);
  EXPECT_CLOSE(l1.optHoles.wavelength.back(), hc / 0.4, 1e-14, 0);
  EXPECT_CLOSE(l1.optElectrons.wavelength.back(), hc / 0.8, 1e-14, 0);
  EXPECT_CLOSE(l2.optHoles.wavelength.back(), hc / (0.7 + 0.0259 * 350.0 / 300.0), 1e-14, 0);
  EXPECT_TRUE(l2.optElectrons.wavelength.empty());
  EXPECT_TRUE(layer.srh[1][0].optHoles.wavelength.empty());

  // below EC: the level sits 1.2 - 0.3 = 0.9 eV above EV; resampled onto a list
  l1.reference = 2, l1.Et = 0.3;
  const std::vector<double> list = {1000.0, 1300.0, 1400.0, 5000.0};
  EXPECT_EQ(ReadOpticalCaptureParameters(set, 300.0, 1, list, env), 0);
  // holes: table from 124 nm to hc/0.9 = 1377.8 nm keeps 1000 and 1300 nm
  ExpectArraysClose(l1.optHoles.wavelength, {1000.0, 1300.0}, 0);
  EXPECT_EQ(l1.optHoles.firstWavelengthIndex, 0);
}

}  // namespace
}  // namespace zoniq
