// Generation profiles read from a file, the ideal generation current, the incoming photon
// flux of a spectrum, and the refusal of light trapped between two perfect mirrors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "optics/generation.hpp"
#include "optics/illumination.hpp"
#include "optics/spectrum.hpp"
#include "solver/dc_solve.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr const char* kReadTitle = "Error trying to read the generation file G(x)";

struct Env {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, ""};
  Env() { env.programFolder = test::HomeFolder(); }
};

// The 6 µm pn junction of the solver tests (5 µm base on the left, 1 µm emitter).
std::unique_ptr<DcProblem> Junction() {
  auto pb = std::make_unique<DcProblem>();
  EXPECT_EQ(SetUpDcProblem(*pb, test::PnJunction(), MeshSettings{}), 0);
  return pb;
}

// Generation [1/m3/s] at mesh point i from the solver's units of its layer.
double Physical(const CalculationVariables& cv, const GenerationParameters& gen, int i) {
  const Schaal& s = cv.par->schaal;
  const int l = i <= cv.mesh.last[0] ? 0 : 1;
  return gen.G[i] * s.S[l] * s.Dmax / (s.L * s.L);
}

std::string Num(double v) {
  char b[40];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

struct FileCase {
  Env e;
  test::TempDir dir;
  WorkPoint wp;
  std::unique_ptr<DcProblem> pb = Junction();
  GenerationParameters gen;
  FileCase() {
    InitialiseWorkPoint(wp, e.env.programFolder);
    wp.dark = 0;
    wp.generationFromFile = 1;
  }
  void Write(const std::string& name, const std::string& text) {
    wp.generationFile = dir.file(name);
    test::WriteWholeFile(wp.generationFile, text);
  }
  int Run() { return bereken_generatie_uit_file(e.env, pb->cv, gen, wp); }
  const RecordingUserInterface::Popup& Last() const { return e.ui.popups.back(); }
};

TEST(GenerationFile, LinearBetweenPointsExactAtThemAndZeroOutside) {
  // Points at 0, 1, 2 and 4 µm (a header line, a comment and a CRLF line end on the way):
  // G runs linearly from 7e27 at 0 µm to 1e27 at 1 µm, 3e27 at 2 µm and 2e27 at 4 µm, with
  // kinks at the file points, and nothing lies beyond 4 µm.
  FileCase c;
  c.Write("kink.gen", "x [um]\tG [1/m3 s]\n0 7e27\n1 1e27\n! comment\n2\t3e27\r\n4 2e27\n");
  ASSERT_EQ(c.Run(), 1);
  EXPECT_TRUE(c.e.ui.popups.empty());
  const CalculationVariables& cv = c.pb->cv;
  auto expected = [](double um) {
    if (um <= 1.0) return 7e27 + (1e27 - 7e27) * um;
    if (um <= 2.0) return 1e27 + 2e27 * (um - 1.0);
    if (um <= 4.0) return 3e27 - 0.5e27 * (um - 2.0);
    return 0.0;
  };
  int inside = 0, outside = 0;
  for (int i = 0; i < cv.mesh.N; ++i) {
    const double um = cv.mesh.xm[i] * 1e6;
    // Interpolated values agree to rounding of the µm -> m conversion (1e-12).
    EXPECT_CLOSE(Physical(cv, c.gen, i), expected(um), 1e-12, 0.0) << "x = " << um << " µm";
    (um <= 4.0 ? inside : outside)++;
  }
  EXPECT_GT(inside, 10);
  EXPECT_GT(outside, 10);
  // The left contact lies on the first file point: its value exactly.
  EXPECT_EQ(cv.mesh.xm[0], 0.0);
  EXPECT_CLOSE(Physical(cv, c.gen, 0), 7e27, 1e-15, 0.0);
  // The profile is handed to the solver, and kept for a new mesh.
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_EQ(cv.G[i], c.gen.G[i]);
  EXPECT_EQ(c.gen.fromFile, 1);
  EXPECT_EQ(c.gen.filePositions.size(), 4u);
}

// Found by fuzzing: positions and rates near the top of the number range. Interpolating between
// two such points may not overflow: the rate is a weighted mean of its neighbours.
TEST(GenerationFile, HugeNumbersNeitherOverflowNorReachTheSolver) {
  FileCase c;
  c.Write("wide.gen", "0 2e200\n5e234 4e200\n");
  ASSERT_EQ(c.Run(), 1);
  const CalculationVariables& cv = c.pb->cv;
  for (int i = 0; i < cv.mesh.N; ++i) {
    // At most 6 µm into a 5e234 µm interval: the first rate to 1e-12.
    EXPECT_CLOSE(Physical(cv, c.gen, i), 2e200, 1e-12, 0.0) << i;
  }
  // The rates at 1.7e308 are still numbers in the solver's units (the unit is far below 1).
  c.Write("huge.gen", "0 1e300\n6 1.7e308\n");
  ASSERT_EQ(c.Run(), 1);
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_TRUE(std::isfinite(cv.G[i]) && cv.G[i] > 0.0) << i;
}

TEST(GenerationFile, AttenuationScalesAndDarkGivesZero) {
  FileCase c;
  c.Write("flat.gen", "0 2e27\n6 2e27\n");
  c.wp.attenuation = 25.0;
  ASSERT_EQ(c.Run(), 1);
  const int mid = c.pb->cv.mesh.N / 2;
  EXPECT_CLOSE(Physical(c.pb->cv, c.gen, mid), 0.5e27, 1e-12, 0.0);  // 25 % of 2e27
  // Dark: zero everywhere, without looking at the file (even one that does not exist).
  c.wp.dark = 1;
  c.wp.generationFile = c.dir.file("missing.gen");
  ASSERT_EQ(c.Run(), 1);
  for (int i = 0; i < c.pb->cv.mesh.N; ++i) EXPECT_EQ(c.pb->cv.G[i], 0.0);
  EXPECT_TRUE(c.e.ui.popups.empty());
}

TEST(GenerationFile, PointPastTheEndByRoundingTakesTheLastValue) {
  // The right contact at L = 6 µm; a file that ends 1e-11 (relative) before it is a rounding
  // difference of the positions and the contact takes the last value; one that ends 1e-6
  // before it leaves the contact outside the profile (0).
  FileCase c;
  const CalculationVariables& cv = c.pb->cv;
  const int last = cv.mesh.N - 1;
  const double L = cv.mesh.xm[last] * 1e6;  // [µm]
  c.Write("rounding.gen", "0 1e27\n" + Num(L * (1.0 - 1e-11)) + " 4e27\n");
  ASSERT_EQ(c.Run(), 1);
  EXPECT_CLOSE(Physical(cv, c.gen, last), 4e27, 1e-12, 0.0);
  c.Write("short.gen", "0 1e27\n" + Num(L * (1.0 - 1e-6)) + " 4e27\n");
  ASSERT_EQ(c.Run(), 1);
  EXPECT_EQ(c.gen.G[last], 0.0);
  EXPECT_GT(c.gen.G[last - 1], 0.0);
}

TEST(GenerationFile, FaultyFilesAreRefusedWithTheirMessages) {
  FileCase c;
  c.Write("good.gen", "0 1e27\n6 1e27\n");
  ASSERT_EQ(c.Run(), 1);
  const std::vector<double> good(c.gen.G.begin(), c.gen.G.begin() + c.pb->cv.mesh.N);
  auto unchanged = [&]() {
    for (int i = 0; i < c.pb->cv.mesh.N; ++i) EXPECT_EQ(c.gen.G[i], good[i]);
    EXPECT_EQ(c.gen.filePositions.size(), 2u);
  };

  std::string many;
  for (int i = 0; i < 1001; ++i) many += std::to_string(i * 0.005) + " 1e27\n";
  struct Faulty {
    const char* name;
    std::string text, title;
    bool keepsProfile;
  };
  // Equal positions; a falling position (that would otherwise leave G = 0 everywhere without
  // notice); more than 1000 points; no numbers at all; a negative rate.
  const Faulty faulty[] = {{"equal.gen", "0 1e27\n1 2e27\n1 3e27\n2 1e27\n", "Error !", true},
                           {"falling.gen", "3 1e27\n2 2e27\n1 3e27\n", kReadTitle, true},
                           {"many.gen", many, kReadTitle, true},
                           {"text.gen", "no numbers here\n\x01\x02\xff garbage\nnan 1\n1 inf\n", kReadTitle, false},
                           {"negative.gen", "0 1e27\n1 -1e27\n", kReadTitle, true}};
  for (const Faulty& f : faulty) {
    SCOPED_TRACE(f.name);
    c.Write(f.name, f.text);
    EXPECT_EQ(c.Run(), 0);
    EXPECT_EQ(c.Last().title, f.title);
    if (f.keepsProfile) unchanged();
  }

  for (const std::string& undefined : {std::string(), c.dir.file("*.gen")}) {
    c.wp.generationFile = undefined;
    EXPECT_EQ(c.Run(), 0);
    EXPECT_EQ(c.Last().title, kReadTitle);
    EXPECT_NE(c.Last().message.find("not yet defined"), std::string::npos);
  }

  c.wp.generationFile = c.dir.file("missing.gen");
  EXPECT_EQ(c.Run(), 0);
  EXPECT_EQ(c.Last().title, "Error trying to get the filesize of the generation file G(x)");
  unchanged();
}

TEST(GenerationFile, IdealGenerationCurrentByHand) {
  // Points 0, 1, 3 µm with G = 2e27, 4e27, 1e27 /m3/s. Trapezoid weights: 0.5, 1.5, 1.0 µm.
  //   Σ G·w = 2e27·0.5e-6 + 4e27·1.5e-6 + 1e27·1.0e-6 = 8e21 /m2/s
  //   q·Σ = 1.602e-19 · 8e21 = 1281.6 A/m2 = 128.16 mA/cm2.
  // The attenuation does not enter the ideal current.
  Env e;
  test::TempDir dir;
  WorkPoint wp;
  InitialiseWorkPoint(wp, e.env.programFolder);
  wp.generationFile = dir.file("hand.gen");
  wp.attenuation = 30.0;
  test::WriteWholeFile(wp.generationFile, "0 2e27\n1 4e27\n3 1e27\n");
  ASSERT_EQ(CalculateIdealGenerationCurrent(e.env, wp), 0);
  EXPECT_CLOSE(wp.idealGenerationCurrent, 128.16, 1e-12, 0.0);
  // A file that cannot be used leaves the stored value.
  wp.generationFile = dir.file("missing.gen");
  EXPECT_EQ(CalculateIdealGenerationCurrent(e.env, wp), -1);
  EXPECT_CLOSE(wp.idealGenerationCurrent, 128.16, 1e-12, 0.0);
  // A single point spans no distance.
  EXPECT_EQ(IntegrateGenerationCurrent({1e-6}, {1e27}), 0.0);
}

TEST(IncomingFlux, WindowNeutralDensityAndModes) {
  // Three spectral points 400, 500, 600 nm of 2 W/m2; front transmission 0.8; OD 0.3.
  // Photons per point: T·λ·P·5.035e15·T_ND·w. The points' bins are [400, 450], [450, 550] and
  // [550, 600] nm; a window from 450 to 700 nm holds none of the first and all of the others:
  // weights 0, 1, 1.
  GenerationParameters gen;
  gen.wavelengths = {400.0, 500.0, 600.0};
  gen.watt_lambda = {2.0, 2.0, 2.0};
  gen.rightFilter = {0.8, 0.8, 0.8};
  gen.leftFilter = {0.5, 0.5, 0.5};
  gen.side = +1;
  gen.ndTransmission = std::pow(10.0, -0.3);
  gen.windowOn = 1;
  gen.windowStart = 450.0;
  gen.windowEnd = 700.0;
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 0);
  const double t = 0.8 * 2.0 * kPhotonsPerWattNm * std::pow(10.0, -0.3);
  test::ExpectArraysClose(gen.incomingFlux_us, {0.0, 500.0 * t, 600.0 * t}, 1e-15);
  // A window edge inside a bin takes its share: 475 nm cuts [450, 550] in a quarter outside.
  gen.windowStart = 475.0;
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 0);
  test::ExpectArraysClose(gen.incomingFlux_us, {0.0, 0.75 * 500.0 * t, 600.0 * t}, 1e-15);
  // Mode 1: neither window nor neutral density.
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 1);
  const double u = 0.8 * 2.0 * kPhotonsPerWattNm;
  test::ExpectArraysClose(gen.incomingFlux_us, {400.0 * u, 500.0 * u, 600.0 * u}, 1e-15);
  // Light from the left: the left contact is the front.
  gen.side = -1;
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 1);
  EXPECT_CLOSE(gen.incomingFlux_us[0], 400.0 * 0.5 * 2.0 * kPhotonsPerWattNm, 1e-15, 0.0);
  // Other modes and factor 0: no photons.
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 2);
  EXPECT_EQ(gen.incomingFlux_us, (std::vector<double>{0.0, 0.0, 0.0}));
  CalculateIncomingFluxes(gen, 0.0, 0);
  EXPECT_EQ(gen.incomingFlux_us, (std::vector<double>{0.0, 0.0, 0.0}));
}

TEST(MultipleReflection, PerfectMirrorsAreRefusedWhenTheFiltersArePrepared) {
  // Back contact (left, light from the right) reflecting 100 % and an internal front
  // reflection of 1: light the layers do not absorb would bounce for ever (1/0).
  Env e;
  CellDefinition cell;
  cell.leftContact.filterOn = 1;
  cell.leftContact.wavelengthIndependent = 1;
  cell.leftContact.filterKind = 0;  // given as reflection [%]
  cell.leftContact.filterValue = 100.0;
  GenerationParameters gen;
  gen.wavelengths = {500.0, 1500.0};
  gen.side = +1;
  gen.Rfront = 1.0;
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 0);
  ASSERT_EQ(e.ui.popups.size(), 1u);
  EXPECT_EQ(e.ui.popups[0].title, "Error in the optical filters");
  // Either reflection below 1 is accepted.
  gen.Rfront = 0.99;
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 1);
  gen.Rfront = 1.0;
  cell.leftContact.filterValue = 99.0;
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 1);
  // Reflections outside [0, 1] are refused too (a filter of 120 %, a front reflection of −0.1).
  cell.leftContact.filterValue = 120.0;
  gen.Rfront = 0.0;
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 0);
  cell.leftContact.filterValue = 50.0;
  gen.Rfront = -0.1;
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 0);
  EXPECT_EQ(e.ui.popups.size(), 3u);
}

TEST(IncomingFlux, SpectraAndFrontsThatGiveNoSensiblePhotonsAreRefused) {
  // A negative power, a wavelength that is not positive, or a power whose photon count
  // overflows would give negative or infinite generation: the spectrum is refused.
  Env e;
  test::TempDir dir;
  WorkPoint wp;
  InitialiseWorkPoint(wp, e.env.programFolder);
  wp.dark = 0;
  for (const char* text : {"400 1\n500 -1\n600 1\n", "-5 1\n500 1\n", "400 1\n500 1e300\n"}) {
    wp.spectrumFile = dir.file("bad.spe");
    test::WriteWholeFile(wp.spectrumFile, text);
    std::vector<double> wl{7.0}, p{8.0};
    EXPECT_EQ(bepaal_spectrum(e.env, wp, wl, p), 0) << text;
    EXPECT_EQ(wl, std::vector<double>{7.0});
    EXPECT_EQ(e.ui.popups.back().title, "Error whilst reading the spectrum file");
  }
  // A front contact given as transmitting 120 %.
  CellDefinition cell;
  cell.rightContact.filterOn = 1;
  cell.rightContact.wavelengthIndependent = 1;
  cell.rightContact.filterKind = 1;
  cell.rightContact.filterValue = 120.0;
  GenerationParameters gen;
  gen.wavelengths = {500.0};
  gen.side = +1;
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 0);
  EXPECT_EQ(e.ui.popups.back().title, "Error in the optical filters");
  cell.rightContact.filterValue = 80.0;
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 1);
  EXPECT_CLOSE(gen.rightFilter[0], 0.8, 1e-15, 0.0);
}

TEST(MultipleReflection, FluxRoutineRefusesAVanishingDenominator) {
  // Past the filter check (set directly): at 1500 nm (0.83 eV, below the 1.12 eV gap) nothing
  // absorbs and 1 − Rfront·Rb·e^0 = 0. The flux routine reports and leaves that wavelength
  // dark instead of producing Inf; the absorbed 500 nm light is computed as usual.
  auto pb = Junction();
  CalculationVariables& cv = pb->cv;
  GenerationParameters gen;
  gen.wavelengths = {500.0, 1500.0};
  gen.watt_lambda = {1.0, 1.0};
  gen.side = +1;
  gen.Rfront = 1.0;
  gen.rightFilter = {1.0, 1.0};
  gen.leftFilter = {1.0, 1.0};
  PrepareAbsorption(cv, gen);
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 1);
  EXPECT_EQ(CalculateFluxes(cv, gen, 0), 0);
  EXPECT_EQ(pb->ctx.lastTitle, "Error in the optical generation");
  CalculateGeneration(cv, gen);
  for (int i = 0; i < cv.mesh.N; ++i) {
    EXPECT_TRUE(std::isfinite(cv.G[i]));
    EXPECT_EQ(gen.flux[i * 2 + 1], 0.0);
  }
  EXPECT_GT(cv.G[cv.mesh.N - 2], 0.0);
  EXPECT_EQ(CalculateFluxesEverywhere(cv, gen, 0, 0), 1);
  EXPECT_EQ(CalculateFluxesEverywhere(cv, gen, 1, 0), 0);
}

TEST(MultipleReflection, WavelengthsWithoutAbsorptionDataAreReported) {
  // The absorption was prepared for other wavelengths than those of the light.
  auto pb = Junction();
  CalculationVariables& cv = pb->cv;
  GenerationParameters gen;
  gen.wavelengths = {500.0};
  gen.watt_lambda = {1.0};
  gen.rightFilter = {1.0};
  gen.leftFilter = {0.0};
  PrepareAbsorption(cv, gen);
  gen.wavelengths = {501.0};
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 1);
  EXPECT_EQ(CalculateFluxes(cv, gen, 0), 0);
  EXPECT_EQ(pb->ctx.lastTitle, "Error in CalculateFluxes");
}

}  // namespace
}  // namespace zoniq
