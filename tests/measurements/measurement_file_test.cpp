// The measurement-file reader (keywords, units, data, the curves a fit compares), the shared
// chi-square, the program's own result files read back, and the script's measurement commands.
#include "measurements/measurement_file.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "measurements/chi_square.hpp"
#include "measurements/measurement_lists.hpp"
#include "output/result_files.hpp"
#include "script/script_interpreter.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using V = std::vector<double>;
using test::ExpectArraysClose;
const double kRefused = NAN;

TEST(ChiSquare, MeasuredAgainstSimulated) {
  // Simulated y = 2x + 1 on [0.5, 2.5], either order; measured x = 1, 2 inside: (1 + 4)/(2² + 3²).
  for (const auto& [xs, ys] : {std::pair{V{0.5, 1.5, 2.5}, V{2, 4, 6}}, std::pair{V{2.5, 1.5, 0.5}, V{6, 4, 2}}})
    EXPECT_DOUBLE_EQ(Chi_square(V{0, 1, 2, 3}, V{1, 2, 3, 4}, xs, ys).value_or(-1.0), 5.0 / 13.0);
  // A measured point without a value (a missing column) is left out, not summed as NaN.
  EXPECT_DOUBLE_EQ(*Chi_square(V{0, 1, 2, 3}, V{1, 2, std::nan(""), 4}, V{0.5, 1.5, 2.5}, V{2, 4, 6}), 1.0 / 4.0);
  // A current that changes sign is compared through |J|: ln|y| measured {1, 2}, simulated {1, 1}.
  const double e = std::numbers::e;
  EXPECT_NEAR(Chi_square_log(V{1, 2}, V{-e, e * e}, V{1, 2}, V{e, -e}).value_or(-1.0), 0.2, 1e-14);
}

TEST(MeasurementHeader, KeywordsAndUnits) {
  // area [cm²] = (length factor)²·number·1e4. power [W/m²]: mW/cm² (also without a unit) = 10,
  // mW/m² = 1e-3, kW/m² = 1e3, W/cm² = 1e4. Latin-1 and UTF-8 superscripts alike.
  auto check = [](bool power, const char* line, double expected) {
    SCOPED_TRACE(line);
    std::string why;
    const std::optional<double> v = power ? IsIncomingPower(line, false, &why) : IsArea(line, &why);
    if (std::isnan(expected)) {
      EXPECT_FALSE(v || why.empty());
      EXPECT_TRUE(!power || why.find("unknown unit") != std::string::npos) << why;
    } else {
      ASSERT_TRUE(v) << why;
      EXPECT_NEAR(*v, expected, 1e-12 * std::max(1.0, expected));
    }
  };
  const std::pair<const char*, double> areas[] = {
      {"Cell area: 25 mm2", 0.25},        {"area 1", 1.0},
      {"Cell area: 25 mm\302\262", 0.25}, {"Area = 0.5 cm\262", 0.5},
      {"Cell area (m2): 1e-4", 1.0},      {"AREA\t0.1\tcm^2", 0.1},
      {"Cell area: 25mm2", 0.25},         {"area 0", kRefused},
      {"area 3 in2", kRefused},           {"area 2.5x", kRefused},
  };
  const std::pair<const char*, double> powers[] = {
      {"Pin 100 mW/cm2", 1000.0},
      {"P_in 0", 0.0},
      {"Light power 1 mW/m2", 0.001},
      {"Incident power: 1 kW/m2", 1000.0},
      {"Incident power 1000 W m^-2", 1000.0},
      {"Pin 1000 W\302\267m\342\201\273\302\262", 1000.0},
      {"Pin 100", 1000.0},
      {"Pin (W/cm2): 0.1", 1000.0},
      {"P in = 50 mW cm-2", 500.0},
      {"Pin 100mW/cm\262", 1000.0},
      {"Pin 1 sun", kRefused},
      {"Light power 3 W/in2", kRefused},
  };
  for (const auto& [line, expected] : areas) check(false, line, expected);
  for (const auto& [line, expected] : powers) check(true, line, expected);
  EXPECT_FALSE(IsArea("cell AREA 4", nullptr));  // the keywords are case-sensitive
  EXPECT_FALSE(IsIncomingPower("Bias light power: 100 mW/cm2", false, nullptr));
  EXPECT_DOUBLE_EQ(*IsIncomingPower("Bias light power: 100 mW/cm2", true, nullptr), 1000.0);
  // A bias line that mentions light is a light, not a voltage.
  EXPECT_FALSE(IsBiasVoltage("Bias light power: 100 mW/cm2", nullptr));
  EXPECT_FALSE(IsBiasVoltage("bias number 3", nullptr));
  EXPECT_DOUBLE_EQ(*IsBiasVoltage("bias: 500 mV", nullptr), 0.5);
  EXPECT_DOUBLE_EQ(*IsMeasurementFrequency("freq 100 kHz", nullptr), 1e5);
  EXPECT_DOUBLE_EQ(*IsTemperature("temperature: 25 \302\260C", nullptr), 298.15);
  std::string why;
  EXPECT_FALSE(IsTemperature("Temperature: -5", &why));
  EXPECT_FALSE(why.empty());
  // "dark" in a foreign file, the light flag of the set-up's files, the line of the own files.
  EXPECT_TRUE(IsDark("dark", kOtherFile) && IsDark("Light?: 0", kKvxFile) && IsDark("Calculation in dark", kOwnFile));
  EXPECT_FALSE(IsDark("dark saturation current 1e-9", kOtherFile) || IsDark("Light?: 1", kKvxFile) ||
               IsDark("Calculation in dark", kOtherFile));
  const std::pair<const char*, double> prefixes[] = {
      {"mV", 1e-3}, {"%", 0.01},   {" \tnA", 1e-9}, {"\265A", 1e-6}, {"\302\265F", 1e-6}, {"uA", 1e-6},
      {"GHz", 1e9}, {"pF", 1e-12}, {"m", 1.0},      {"metre", 1.0},  {"V", 1.0},
  };
  for (const auto& [unit, factor] : prefixes) EXPECT_EQ(decimal_prefix(unit), factor) << unit;
  EXPECT_EQ(bepaal_filetype(std::string(100, ' ') + "ZONIQ"), kOtherFile);  // only 100 characters are looked at
}

class MeasurementFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    const std::string path = dir.file("m" + std::to_string(++count) + ".txt");
    test::WriteWholeFile(path, text);
    return path;
  }
  ReadResult<MeasurementItem> Read(const std::string& text, int kind) {
    return ConstructMeasurementListItem(Write(text), kind);
  }
  test::TempDir dir;
  int count = 0;
};

TEST_F(MeasurementFile, ForeignFilesWithTheirUnits) {
  const auto r = Read(
      "my set-up\r\nCell area: 25 mm2\r\nTemperature 310\r\nPin: 100 mW/cm2\r\nunits V: mV J: mA\r\n"
      "V\tJ\r\n-100\t-5\r\n 0\t-4.5\r\n500\t2.5e-1\r\n\r\nend\r\n",
      kMeasurementIV);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_DOUBLE_EQ(r.value->area, 0.25);
  const IVMeasurement& iv = std::get<IVMeasurement>(r.value->data);
  EXPECT_EQ(std::tie(r.value->nPoints, r.value->temperature, iv.incidentPower, iv.dark),
            std::make_tuple(3, 310.0, 1000.0, 0));
  ExpectArraysClose(iv.V, {-0.1, 0.0, 0.5}, 1e-15);
  ExpectArraysClose(iv.J, {-20.0, -18.0, 1.0}, 1e-14);  // c2·1e-3 A·1000/0.25 cm² [mA/cm²]
  // In a foreign file a (0, 0) row is a point; commas separate columns too.
  EXPECT_EQ(Read("V,J\n1,2\n0.0,0.0\n", kMeasurementIV).value->nPoints, 2);

  const auto q = Read("Bias light power: 100 mW/cm2\nbias 0.3 V\nlambda QE\n500 80\n400 -10\n", kMeasurementQE);
  ASSERT_TRUE(q.ok()) << q.error;
  const QEMeasurement& qe = std::get<QEMeasurement>(q.value->data);
  EXPECT_EQ(std::tie(qe.bias, qe.biasLightPower, qe.noBiasLight), std::make_tuple(0.3, 1000.0, 0));  // not a voltage
  // Foreign files start with the program's own units: λ in nm, QE in %; hν = 1239.977/500.
  ExpectArraysClose(qe.lambda, {500, 400}, 1e-12);
  EXPECT_NEAR(qe.hv[0], 2.479954, 1e-12);
  EXPECT_EQ(qe.QE, (V{80, -10}));
  EXPECT_EQ(qe.absQE[1], 10.0);
  EXPECT_EQ(std::get<QEMeasurement>(Read("Light power 0\n500 80\n", kMeasurementQE).value->data).noBiasLight, 1);
  // A C-V file with two columns: G, W and Napp are missing (NaN), not zero; C stays in nF.
  const auto cv = Read("V C\n0 20\n0.5 10\n", kMeasurementCV);
  ASSERT_TRUE(cv.ok());
  const CVMeasurement& c = std::get<CVMeasurement>(cv.value->data);
  EXPECT_EQ(c.C[0], 20.0);
  EXPECT_NEAR(c.invC2[1], 1.0 / 100.0, 1e-15);  // 1/(10 nF/cm²)²
  EXPECT_TRUE(std::isnan(c.G[0]) && std::isnan(c.W[1]) && std::isnan(c.Napp[0]));
  // The three lines after a working-point line of a foreign file are its values, not data.
  const auto wp = Read("KVX\nworking point\n0.5 1\n0.6 2\n0.7 3\nV I\n1 10\n2 20\n", kMeasurementIV);
  ASSERT_TRUE(wp.ok());
  EXPECT_EQ(std::get<IVMeasurement>(wp.value->data).V, (V{1, 2}));
}

TEST_F(MeasurementFile, PointCapAndRefusals) {
  std::string text = "V J\n";
  for (int i = 0; i < 2100; ++i) text += std::to_string(i) + " 1\n";
  const auto big = Read(text, kMeasurementIV);
  ASSERT_TRUE(big.ok());
  EXPECT_EQ(big.value->nPoints, 2001);
  ASSERT_EQ(big.notices.size(), 1u);
  EXPECT_EQ(big.notices[0].message, "measurement points beyond point # 2002 are discarded");
  const std::pair<const char*, const char*> cases[] = {
      {"no numbers here\nat all\n", "no data found"},
      {"", "no data found"},
      {"area 0\n1 2\n", "line 1: the cell area must be positive"},
      {"header\nPin: 1 sun\n1 2\n", "line 2: unknown unit of the light power 'sun'"},
      {"V J\n1 2\n3 4x\n", "line 3: column 2 is not a number: '4x'"},
      {"V J\n1 2\n3 1e999\n", "line 3: column 2 is not a number"}};
  for (const auto& [contents, part] : cases) {
    const std::string path = Write(contents);
    const auto r = ConstructMeasurementListItem(path, kMeasurementIV);
    EXPECT_FALSE(r.ok()) << contents;
    EXPECT_NE(r.error.find(path), std::string::npos) << r.error;
    EXPECT_NE(r.error.find(part), std::string::npos) << r.error;
  }
  EXPECT_FALSE(ConstructMeasurementListItem(dir.file("missing.iv"), kMeasurementIV).ok());
}

TEST_F(MeasurementFile, CurvesForTheFitter) {
  // C-f of a cell of 0.5 cm²: C = 10 nF, G = 1e-4 S at 1 kHz (nF and S as in the own files).
  const std::string cf = Write("Cell area: 0.5 cm2\nf C G\n1000 10 1e-4\n");
  const double w = 2e3 * std::numbers::pi, C = 1e-8, G = 1e-4, A = 0.5, m = C * C * w * w + G * G;
  const struct {
    std::string file;
    int type;
    double x, y;
  } cases[] = {{cf, 9, 1000.0, 20.0},                                    // C (f): 10 nF / 0.5 cm²
               {cf, 12, 1000.0, 2e-4},                                   // G (f): 1e-4 S / 0.5 cm²
               {cf, 13, 1000.0, 2e-4 / w},                               // G/ω
               {cf, 15, G * A / m, -C * A * w / m},                      // Z-plot: Z = A/(G + iωC)
               {Write("area 2 cm2\n0.1 40\n"), 7, 0.1, 4e-18 / 16e-16},  // M-S: 1/C² = A²·1e-18/c2²
               {Write("1000 50\n"), 20, 1.239977, 50.0}};                // QE against photon energy
  for (const auto& c : cases) {
    const auto r = ReadFitMeasurement(c.file, c.type);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value->x.size(), 1u);
    EXPECT_NEAR(r.value->x[0], c.x, 1e-12 * std::fabs(c.x)) << c.type;
    EXPECT_NEAR(r.value->y[0], c.y, 1e-12 * std::fabs(c.y)) << c.type;
    EXPECT_EQ(r.value->weight, V{1.0});
  }
  // A G (V) fit of a file without a G column has nothing to compare.
  const auto g = ReadFitMeasurement(Write("0 10\n1 20\n"), 5);
  EXPECT_NE(g.error.find("no values of G"), std::string::npos);
  EXPECT_FALSE(ReadFitMeasurement(cf, 21).ok());
}

// Each block written with two sweep points not calculated (padded with "0.0" rows) and read back.
TEST(OwnFiles, EveryResultBlockReadsBackAsTheMeasurementWritten) {
  test::TempDir dir;
  OutputContext context;
  context.header.version = "ZONIQ 3.2.00 NORVALE: Version test";
  context.header.fileDate = [](std::string_view, DateTime&) { return false; };
  context.actionListMode = kListFillZeros;
  SimulationRecord rec;
  rec.wp.dark = 0;
  rec.wp.temperature = 310.5, rec.wp.voltage = -0.3, rec.wp.frequency = 1e5;
  rec.wp.incidentPower = 1000.0;  // written as 100 mW/cm2
  auto readBack = [&](std::string (*block)(const SimulationRecord&, const OutputContext&), int kind, int n) {
    const std::string path = dir.file("own" + std::to_string(kind) + std::to_string(rec.wp.dark));
    test::WriteWholeFile(path, block(rec, context));
    ReadResult<MeasurementItem> r = ConstructMeasurementListItem(path, kind);
    EXPECT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.ok() ? r.value->nPoints : -1, n);  // not the padding rows
    return r.ok() ? *r.value : MeasurementItem{};
  };
  IVResult& iv = rec.iv;
  iv.present = 1, iv.points = 5, iv.pointsDone = 3;
  iv.v = {-0.2, 0.0, 0.3};
  iv.j = {-30.512345, -29.9, 1.25e-3};
  for (auto* a : {&iv.jbulk, &iv.jifr, &iv.js_n, &iv.js_p, &iv.jSRH, &iv.jRadiative, &iv.jAuger}) *a = {1, 2, 3};
  MeasurementItem m = readBack(IVBlock, kMeasurementIV, 3);
  EXPECT_DOUBLE_EQ(m.temperature, 310.5);
  const IVMeasurement& d = std::get<IVMeasurement>(m.data);
  EXPECT_EQ(std::tie(d.dark, d.incidentPower), std::make_tuple(0, 1000.0));
  ExpectArraysClose(d.V, iv.v, 0.0, 1e-12);
  ExpectArraysClose(d.J, iv.j, 1e-8);  // 9 significant digits written

  CVResult& cv = rec.cv;
  cv.present = 1, cv.points = 6, cv.pointsDone = 4;
  cv.v = {-0.5, -0.25, 0.0, 0.25};
  cv.C = {12.5, 14.25, 17.0, 21.5};
  cv.G = {1e-6, 2e-6, 3e-6, 4.5e-6};
  cv.W = {0.85, 0.7, 0.55, 0.4};
  cv.Napp = {2e16, 2.1e16, 2.3e16, 2.6e16};
  for (auto* a : {&cv.jtot, &cv.jbulk, &cv.jifr, &cv.jopp_n, &cv.jopp_p}) *a = {7, 7, 7, 7};
  m = readBack(CVBlock, kMeasurementCV, 4);
  const CVMeasurement* c = &std::get<CVMeasurement>(m.data);
  EXPECT_DOUBLE_EQ(c->frequency, 1e5);
  ExpectArraysClose(c->V, cv.v, 0.0, 1e-12);
  for (const auto& [got, put] : {std::pair{&c->C, &cv.C}, {&c->G, &cv.G}, {&c->W, &cv.W}, {&c->Napp, &cv.Napp}})
    ExpectArraysClose(*got, *put, 1e-8);
  // Three points: the file has no W and Napp columns; the current columns are not taken for them.
  cv.pointsDone = 3;
  m = readBack(CVBlock, kMeasurementCV, 3);
  c = &std::get<CVMeasurement>(m.data);
  ExpectArraysClose(c->C, {12.5, 14.25, 17.0}, 1e-8);
  EXPECT_TRUE(std::isnan(c->W[0]) && std::isnan(c->Napp[2]));

  CfResult& cf = rec.cf;
  cf.present = 1, cf.points = 5, cf.pointsDone = 3;
  cf.f = {1e2, 1e4, 1e6};
  cf.C = {30.0, 25.5, 20.25};
  cf.G = {1e-7, 1e-5, 2e-3};
  for (auto* a : {&cf.Zre, &cf.Zim, &cf.Zmagn, &cf.Zphase}) *a = {1, 1, 1};
  m = readBack(CfBlock, kMeasurementCf, 3);
  const CfMeasurement& f = std::get<CfMeasurement>(m.data);
  EXPECT_DOUBLE_EQ(f.bias, -0.3);  // the working-point bias of the header
  for (const auto& [got, put] : {std::pair{&f.f, &cf.f}, {&f.C, &cf.C}, {&f.G, &cf.G}})
    ExpectArraysClose(*got, *put, 1e-8);

  QEResult& qe = rec.qe;
  qe.present = 1, qe.points = 4, qe.pointsDone = 3;
  qe.lambda = {400.0, 500.5, 1100.0};
  qe.QE = {85.25, 90.125, -0.5};
  qe.photonEnergy = {3.1, 2.48, 1.13};
  rec.wp.dark = 1;
  m = readBack(QEBlock, kMeasurementQE, 3);
  const QEMeasurement& q = std::get<QEMeasurement>(m.data);
  ExpectArraysClose(q.lambda, qe.lambda, 0.0, 1e-9);
  ExpectArraysClose(q.QE, qe.QE, 1e-6);
  EXPECT_EQ(q.noBiasLight, 1);  // "Calculation in dark"
  EXPECT_DOUBLE_EQ(q.bias, -0.3);
}

TEST(ScriptMeasurements, LoadAndGet) {
  test::TempDir dir;
  Session session(dir.path().string(), std::make_unique<RecordingUserInterface>());
  for (const char* sub : {"script", "measurements"}) std::filesystem::create_directories(dir.path() / sub);
  Initialise(session);
  session.errors.logFolder = dir.path().string();
  test::WriteWholeFile(dir.file("measurements/cell.cv"), "Cell area: 0.5 cm2\nV C G\n-1 5 1e-6\n0 10 2e-6\n");
  test::WriteWholeFile(dir.file("script/s.script"),
                       "get meas.iv xy\nload measurement.cv cell.cv\nload measurement.cv missing.cv\n"
                       "get meas.gv xy\nget meas.cv zu\nload measurement.xx cell.cv\n");
  ScriptContext ctx = MakeScriptContext(session);
  int running = 1;
  ASSERT_EQ(RunScriptFile(ctx, "s.script", running), 0);
  const ScriptVariables& s = session.theScript;
  EXPECT_EQ(s.vector[0], (V{-1, 0}));
  EXPECT_EQ(s.vector[1], (V{2e-6, 4e-6}));                     // G / 0.5 cm²
  EXPECT_EQ(s.vector[3], (V{10, 20}));                         // 5 nF / 0.5 cm²
  EXPECT_EQ(session.measurements[kMeasurementCV].size(), 1u);  // the missing file added nothing
  // No curve selected, the missing file, the unknown kind: each reported.
  EXPECT_EQ(static_cast<RecordingUserInterface&>(*session.ui).popups.size(), 3u);
}

}  // namespace
}  // namespace zoniq
