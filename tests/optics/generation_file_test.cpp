// Generation profiles read from a file, the ideal generation current, the incoming photon
// flux of a spectrum, and the flux routine's refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <memory>
#include <sstream>
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
  return gen.G[i] * s.S[i <= cv.mesh.last[0] ? 0 : 1] * s.Dmax / (s.L * s.L);
}

std::string Num(double v) { return (std::ostringstream() << std::setprecision(17) << v).str(); }

struct FileCase {
  Env e;
  test::TempDir dir;
  WorkPoint wp;
  std::unique_ptr<DcProblem> pb = Junction();
  GenerationParameters gen;
  FileCase() {
    InitialiseWorkPoint(wp, e.env.programFolder);
    wp.dark = 0, wp.generationFromFile = 1;
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
  // kinks at the file points, and nothing lies beyond 4 µm. An attenuation of 25 % scales it.
  FileCase c;
  c.Write("kink.gen", "x [um]\tG [1/m3 s]\n0 7e27\n1 1e27\n! comment\n2\t3e27\r\n4 2e27\n");
  c.wp.attenuation = 25.0;
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
    EXPECT_CLOSE(Physical(cv, c.gen, i), 0.25 * expected(um), 1e-12, 0.0) << "x = " << um << " µm";
    (um <= 4.0 ? inside : outside)++;
    EXPECT_EQ(cv.G[i], c.gen.G[i]);  // handed to the solver
  }
  EXPECT_GT(inside, 10);
  EXPECT_GT(outside, 10);
  EXPECT_EQ(cv.mesh.xm[0], 0.0);  // the left contact lies on the first file point: its value exactly
  EXPECT_CLOSE(Physical(cv, c.gen, 0), 0.25 * 7e27, 1e-15, 0.0);
  EXPECT_EQ(c.gen.filePositions.size(), 4u);  // kept for a new mesh
  // Dark: zero everywhere, without looking at the file (even one that does not exist).
  c.wp.dark = 1, c.wp.generationFile = c.dir.file("missing.gen");
  ASSERT_EQ(c.Run(), 1);
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_EQ(cv.G[i], 0.0);
  EXPECT_TRUE(c.e.ui.popups.empty());
}

TEST(GenerationFile, EndsByRoundingAndHugeNumbers) {
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
  // Found by fuzzing: positions and rates near the top of the number range. Interpolating may
  // not overflow: at most 6 µm into a 5e234 µm interval the rate is the first one to 1e-12.
  c.Write("wide.gen", "0 2e200\n5e234 4e200\n");
  ASSERT_EQ(c.Run(), 1);
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_CLOSE(Physical(cv, c.gen, i), 2e200, 1e-12, 0.0) << i;
  // The rates at 1.7e308 are still numbers in the solver's units (the unit is far below 1).
  c.Write("huge.gen", "0 1e300\n6 1.7e308\n");
  ASSERT_EQ(c.Run(), 1);
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_TRUE(std::isfinite(cv.G[i]) && cv.G[i] > 0.0) << i;
}

TEST(GenerationFile, FaultyFilesAreRefusedAndKeepTheProfile) {
  FileCase c;
  c.Write("good.gen", "0 1e27\n6 1e27\n");
  ASSERT_EQ(c.Run(), 1);
  const std::vector<double> good(c.gen.G.begin(), c.gen.G.begin() + c.pb->cv.mesh.N);
  std::string many;
  for (int i = 0; i < 1001; ++i) many += std::to_string(i * 0.005) + " 1e27\n";
  // Equal positions; a falling position (that would otherwise leave G = 0 everywhere without
  // notice); more than 1000 points; no numbers at all; a negative rate; no file name (empty or
  // the placeholder); a missing file.
  const std::pair<std::string, std::string> faulty[] = {
      {"0 1e27\n1 2e27\n1 3e27\n2 1e27\n", "Error !"},
      {"3 1e27\n2 2e27\n1 3e27\n", kReadTitle},
      {many, kReadTitle},
      {"no numbers here\n\x01\x02\xff garbage\nnan 1\n1 inf\n", kReadTitle},
      {"0 1e27\n1 -1e27\n", kReadTitle},
      {"", "not yet defined"},
      {"*.gen", "not yet defined"},
      {"missing.gen", "Error trying to get the filesize of the generation file G(x)"}};
  for (const auto& [text, said] : faulty) {
    SCOPED_TRACE(text.substr(0, 30));
    if (said == "not yet defined" || text == "missing.gen")
      c.wp.generationFile = text.empty() ? text : c.dir.file(text);
    else
      c.Write("bad.gen", text);
    EXPECT_EQ(c.Run(), 0);
    EXPECT_NE((c.Last().title + "\n" + c.Last().message).find(said), std::string::npos) << c.Last().message;
    for (int i = 0; i < c.pb->cv.mesh.N; ++i) EXPECT_EQ(c.gen.G[i], good[i]);
    EXPECT_EQ(c.gen.filePositions.size(), 2u);
  }
}

TEST(GenerationFile, IdealGenerationCurrentByHand) {
  // Points 0, 1, 3 µm with G = 2e27, 4e27, 1e27 /m3/s. Trapezoid weights: 0.5, 1.5, 1.0 µm.
  //   q·Σ G·w = 1.602e-19 · 8e21 /m2/s = 1281.6 A/m2 = 128.16 mA/cm2.
  // The attenuation does not enter the ideal current.
  FileCase c;
  c.Write("hand.gen", "0 2e27\n1 4e27\n3 1e27\n");
  c.wp.attenuation = 30.0;
  ASSERT_EQ(CalculateIdealGenerationCurrent(c.e.env, c.wp), 0);
  EXPECT_CLOSE(c.wp.idealGenerationCurrent, 128.16, 1e-12, 0.0);
  // A file that cannot be used leaves the stored value; a single point spans no distance.
  c.wp.generationFile = c.dir.file("missing.gen");
  EXPECT_EQ(CalculateIdealGenerationCurrent(c.e.env, c.wp), -1);
  EXPECT_CLOSE(c.wp.idealGenerationCurrent, 128.16, 1e-12, 0.0);
  EXPECT_EQ(IntegrateGenerationCurrent({1e-6}, {1e27}), 0.0);
}

TEST(IncomingFlux, WindowNeutralDensityAndModes) {
  // Three spectral points 400, 500, 600 nm of 2 W/m2; front transmission 0.8; OD 0.3.
  // Photons per point: T·λ·P·5.035e15·T_ND·w (1e-9 m/nm / (h·c) = 5.034e15 photons per W nm,
  // rounded up). The points' bins are [400, 450], [450, 550] and [550, 600] nm; a window from
  // 450 to 700 nm holds none of the first and all of the others: weights 0, 1, 1.
  GenerationParameters gen;
  gen.wavelengths = {400.0, 500.0, 600.0}, gen.watt_lambda = {2.0, 2.0, 2.0};
  gen.rightFilter = {0.8, 0.8, 0.8}, gen.leftFilter = {0.5, 0.5, 0.5}, gen.side = +1;
  gen.ndTransmission = std::pow(10.0, -0.3), gen.windowOn = 1, gen.windowStart = 450.0, gen.windowEnd = 700.0;
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 0);
  const double t = 0.8 * 2.0 * 5.035e15 * std::pow(10.0, -0.3);
  test::ExpectArraysClose(gen.incomingFlux_us, {0.0, 500.0 * t, 600.0 * t}, 1e-15);
  // A window edge inside a bin takes its share: 475 nm cuts [450, 550] in a quarter outside.
  gen.windowStart = 475.0;
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 0);
  test::ExpectArraysClose(gen.incomingFlux_us, {0.0, 0.75 * 500.0 * t, 600.0 * t}, 1e-15);
  // Mode 1: neither window nor neutral density.
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 1);
  const double u = 0.8 * 2.0 * 5.035e15;
  test::ExpectArraysClose(gen.incomingFlux_us, {400.0 * u, 500.0 * u, 600.0 * u}, 1e-15);
  // Light from the left: the left contact is the front.
  gen.side = -1;
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 1);
  EXPECT_CLOSE(gen.incomingFlux_us[0], 400.0 * 0.5 * 2.0 * 5.035e15, 1e-15, 0.0);
  // Other modes and factor 0: no photons.
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 2);
  EXPECT_EQ(gen.incomingFlux_us, (std::vector<double>{0.0, 0.0, 0.0}));
  CalculateIncomingFluxes(gen, 0.0, 0);
  EXPECT_EQ(gen.incomingFlux_us, (std::vector<double>{0.0, 0.0, 0.0}));
}

TEST(MultipleReflection, FluxRoutineRefusesVanishingDenominatorsAndUnpreparedWavelengths) {
  // Past the filter check (set directly): at 1500 nm (0.83 eV, below the 1.12 eV gap) nothing
  // absorbs and 1 − Rfront·Rb·e^0 = 0. The flux routine reports and leaves that wavelength
  // dark instead of producing Inf; the absorbed 500 nm light is computed as usual.
  auto pb = Junction();
  CalculationVariables& cv = pb->cv;
  GenerationParameters gen;
  gen.wavelengths = {500.0, 1500.0}, gen.watt_lambda = {1.0, 1.0}, gen.side = +1, gen.Rfront = 1.0;
  gen.rightFilter = {1.0, 1.0}, gen.leftFilter = {1.0, 1.0}, gen.keepFlux = true;
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
  // The absorption was prepared for other wavelengths than those of the light.
  gen.wavelengths = {501.0, 1500.0}, gen.Rfront = 0.0;
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 1);
  EXPECT_EQ(CalculateFluxes(cv, gen, 0), 0);
  EXPECT_EQ(pb->ctx.lastTitle, "Error in CalculateFluxes");
}

}  // namespace
}  // namespace zoniq
