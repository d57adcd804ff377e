// The measurement-file reader: header keywords and units, data sections, conversions into the
// drawn units, the curves a fit compares, and the shared chi-square.
#include "measurements/measurement_file.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "measurements/chi_square.hpp"
#include "measurements/measurement_lists.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using V = std::vector<double>;
using test::TempDir;
using test::WriteWholeFile;

TEST(ChiSquare, MeasuredAgainstSimulated) {
  // Simulated y = 2x + 1 on [0.5, 2.5]; the measured points x = 1, 2 lie in both ranges:
  // deviations 2 - 3 and 3 - 5, reference 2² + 3²: (1 + 4)/13.
  const V xm{0, 1, 2, 3}, ym{1, 2, 3, 4};
  for (const auto& [xs, ys] : {std::pair{V{0.5, 1.5, 2.5}, V{2, 4, 6}}, std::pair{V{2.5, 1.5, 0.5}, V{6, 4, 2}}}) {
    const std::optional<double> chi = Chi_square(xm, ym, xs, ys);
    ASSERT_TRUE(chi);
    EXPECT_DOUBLE_EQ(*chi, 5.0 / 13.0);
  }
  // A measured point without a value (a missing column) is left out, not summed as NaN.
  EXPECT_DOUBLE_EQ(*Chi_square(V{0, 1, 2, 3}, V{1, 2, std::nan(""), 4}, V{0.5, 1.5, 2.5}, V{2, 4, 6}), 1.0 / 4.0);
  // Logarithms of the magnitudes: a current that changes sign is compared through |J|.
  // ln|y| measured {1, 2}, simulated {1, 1} at x = 1, 2: (0 + 1)/(1 + 4).
  const double e = std::exp(1.0), e2 = std::exp(2.0);
  EXPECT_NEAR(*Chi_square_log(V{1, 2}, V{-e, e2}, V{1, 2}, V{e, -e}), 0.2, 1e-14);
  // Zeros are left out of the logarithmic comparison; nothing left is no result.
  ChiSquareFailure why = ChiSquareFailure::kNone;
  EXPECT_FALSE(Chi_square_log(V{0, 1}, V{0, 0}, V{0, 1}, V{1, 1}, &why));
  EXPECT_EQ(why, ChiSquareFailure::kNoCommonRange);
  EXPECT_FALSE(Chi_square(V{0, 1}, V{0, 0}, V{0, 1}, V{1, 1}, &why));
  EXPECT_EQ(why, ChiSquareFailure::kZeroReference);
}

TEST(MeasurementHeader, AreaAndPowerUnits) {
  struct Case {
    const char* line;
    double expected;  // NaN: refused
  };
  const double bad = std::nan("");
  // area [cm²] = (length factor)² · number · 1e4
  const Case areas[] = {
      {"Cell area: 25 mm2", 0.25},
      {"area 1", 1.0},
      {"Cell area: 25 mm\xC2\xB2", 0.25},
      {"Area = 0.5 cm\xB2", 0.5},
      {"Cell area (m2): 1e-4", 1.0},
      {"AREA\t0.1\tcm^2", 0.1},
      {"area 0", bad},
      {"area 3 in2", bad},
      {"Cell area: 25mm2", 0.25},
      {"area 2.5x", bad},
  };
  for (const Case& c : areas) {
    std::string why;
    const std::optional<double> a = IsArea(c.line, &why);
    if (std::isnan(c.expected)) {
      EXPECT_FALSE(a) << c.line;
      EXPECT_FALSE(why.empty()) << c.line;
    } else {
      ASSERT_TRUE(a) << c.line << ": " << why;
      EXPECT_NEAR(*a, c.expected, 1e-12 * c.expected) << c.line;
    }
  }
  EXPECT_FALSE(IsArea("cell AREA 4", nullptr));  // the keywords are case-sensitive
  // power [W/m²]: mW/cm² = 10, mW/m² = 1e-3, kW/m² = 1e3, W/cm² = 1e4; no unit: mW/cm².
  const Case powers[] = {
      {"Pin 100 mW/cm2", 1000.0},
      {"P_in 0", 0.0},
      {"Light power 1 mW/m2", 0.001},
      {"Incident power: 1 kW/m2", 1000.0},
      {"Incident power 1000 W m^-2", 1000.0},
      {"Pin 1000 W\xC2\xB7m\xE2\x81\xBB\xC2\xB2", 1000.0},
      {"Pin 100", 1000.0},
      {"Pin (W/cm2): 0.1", 1000.0},
      {"P in = 50 mW cm-2", 500.0},
      {"Pin 100mW/cm\xB2", 1000.0},
      {"Pin 1 sun", bad},
      {"Light power 3 W/in2", bad},
  };
  for (const Case& c : powers) {
    std::string why;
    const std::optional<double> p = IsIncomingPower(c.line, false, &why);
    if (std::isnan(c.expected)) {
      EXPECT_FALSE(p) << c.line;
      EXPECT_NE(why.find("unknown unit"), std::string::npos) << c.line << ": " << why;
    } else {
      ASSERT_TRUE(p) << c.line << ": " << why;
      EXPECT_NEAR(*p, c.expected, 1e-12 * std::max(1.0, c.expected)) << c.line;
    }
  }
  EXPECT_FALSE(IsIncomingPower("Bias light power: 100 mW/cm2", false, nullptr));
  EXPECT_DOUBLE_EQ(*IsIncomingPower("Bias light power: 100 mW/cm2", true, nullptr), 1000.0);
}

TEST(MeasurementHeader, OtherKeywords) {
  // A bias line that mentions light is a light, not a voltage.
  EXPECT_FALSE(IsBiasVoltage("Bias light power: 100 mW/cm2", nullptr));
  EXPECT_FALSE(IsBiasVoltage("bias number 3", nullptr));
  EXPECT_DOUBLE_EQ(*IsBiasVoltage("Workpoint bias voltage\t   -0.2000\tVolt", nullptr), -0.2);
  EXPECT_DOUBLE_EQ(*IsBiasVoltage("bias: 500 mV", nullptr), 0.5);
  EXPECT_DOUBLE_EQ(*IsMeasurementFrequency("freq 100 kHz", nullptr), 1e5);
  EXPECT_DOUBLE_EQ(*IsMeasurementFrequency("Frequency\t  1.0000e+06\tHz", nullptr), 1e6);
  EXPECT_DOUBLE_EQ(*IsTemperature("Temperature\t  300.00\tK", nullptr), 300.0);
  EXPECT_DOUBLE_EQ(*IsTemperature("temperature: 25 \xC2\xB0"
                                  "C",
                                  nullptr),
                   298.15);
  std::string why;
  EXPECT_FALSE(IsTemperature("Temperature: -5", &why));
  EXPECT_FALSE(why.empty());

  EXPECT_TRUE(IsDark("dark", kOtherFile));
  EXPECT_FALSE(IsDark("dark saturation current 1e-9", kOtherFile));
  EXPECT_TRUE(IsDark("Light?: 0", kKvxFile));
  EXPECT_FALSE(IsDark("Light?: 1", kKvxFile));
  EXPECT_TRUE(IsDark("Calculation in dark", kOwnFile));
  EXPECT_FALSE(IsDark("Calculation in dark", kOtherFile));

  const std::pair<const char*, double> prefixes[] = {{"mV", 1e-3},
                                                     {"%", 0.01},
                                                     {"cm", 0.01},
                                                     {" \tnA", 1e-9},
                                                     {"\xB5"
                                                      "A",
                                                      1e-6},
                                                     {"\xC2\xB5"
                                                      "F",
                                                      1e-6},
                                                     {"uA", 1e-6},
                                                     {"kHz", 1e3},
                                                     {"MHz", 1e6},
                                                     {"GHz", 1e9},
                                                     {"pF", 1e-12},
                                                     {"m", 1.0},
                                                     {"metre", 1.0},
                                                     {"sqm", 1.0},
                                                     {"V", 1.0}};
  for (const auto& [unit, factor] : prefixes) EXPECT_EQ(decimal_prefix(unit), factor) << unit;

  std::array<double, kMeasurementColumns> u{1, 1, 1, 1, 1};
  EXPECT_TRUE(IsUnits("units  V: mV  J: mA", kMeasurementIV, u));
  EXPECT_EQ(u, (std::array<double, 5>{1e-3, 1e-3, 1, 1, 1}));
  EXPECT_TRUE(IsUnits("units lambda: nm QE: %", kMeasurementQE, u));
  EXPECT_EQ(u[0], 1e-9);
  EXPECT_EQ(u[1], 0.01);

  EXPECT_TRUE(CanBeData("0.1\t-2e-3 x"));
  EXPECT_TRUE(CanBeData("0.1,2"));
  EXPECT_FALSE(CanBeData("0.1x 2"));
  EXPECT_FALSE(CanBeData("V 0.1 2"));
  EXPECT_EQ(bepaal_filetype("ZONIQ 1.0"), kOwnFile);
  EXPECT_EQ(bepaal_filetype("KVX set-up"), kKvxFile);
  EXPECT_EQ(bepaal_filetype("SPECTRUM"), kSpectrumFile);
  EXPECT_EQ(bepaal_filetype(std::string(100, ' ') + "ZONIQ"), kOtherFile);  // only 100 characters are looked at
}

class MeasurementFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    const std::string path = dir.file("m" + std::to_string(++count) + ".txt");
    WriteWholeFile(path, text);
    return path;
  }
  ReadResult<MeasurementItem> Read(const std::string& text, int kind) {
    return ConstructMeasurementListItem(Write(text), kind);
  }
  TempDir dir;
  int count = 0;
};

TEST_F(MeasurementFile, ForeignIVWithUnitsAreaAndPower) {
  const auto r = Read(
      "my set-up\r\nCell area: 25 mm2\r\nTemperature 310\r\nPin: 100 mW/cm2\r\nunits V: mV J: mA\r\n"
      "V\tJ\r\n-100\t-5\r\n 0\t-4.5\r\n500\t2.5e-1\r\n\r\nend\r\n",
      kMeasurementIV);
  ASSERT_TRUE(r.ok()) << r.error;
  const MeasurementItem& m = *r.value;
  EXPECT_EQ(m.nPoints, 3);
  EXPECT_EQ(m.valid, 1);
  EXPECT_DOUBLE_EQ(m.area, 0.25);
  EXPECT_DOUBLE_EQ(m.temperature, 310.0);
  const IVMeasurement& iv = std::get<IVMeasurement>(m.data);
  EXPECT_DOUBLE_EQ(iv.incidentPower, 1000.0);
  EXPECT_EQ(iv.dark, 0);
  test::ExpectArraysClose(iv.V, {-0.1, 0.0, 0.5}, 1e-15);
  // J = c2 · 1e-3 [A] · 1000 / 0.25 cm² [mA/cm²]
  test::ExpectArraysClose(iv.J, {-20.0, -18.0, 1.0}, 1e-14);
}

TEST_F(MeasurementFile, OwnFilesIgnoreUnitsSkipPaddingAndKnowDark) {
  const auto r = Read(
      "ZONIQ 1.0\nSimulation of I-V curves\nunits V: mV J: mA\nCalculation in dark\n\nWorking point conditions\n"
      "Temperature\t  300.00\tK\nWorkpoint bias voltage\t    0.0000\tVolt\n\n    v(V)\tjtot(mA/cm2)\n\n"
      "  0.100000\t  -1.00000000e+01\n  0.200000\t  -5.00000000e+00\n0.0\t0.0\n0.0\t0.0\n\n",
      kMeasurementIV);
  ASSERT_TRUE(r.ok()) << r.error;
  const IVMeasurement& iv = std::get<IVMeasurement>(r.value->data);
  EXPECT_EQ(r.value->nPoints, 2);  // the padding rows are not points
  EXPECT_EQ(iv.dark, 1);
  EXPECT_EQ(iv.incidentPower, 0.0);
  test::ExpectArraysClose(iv.V, {0.1, 0.2}, 1e-15);  // units line ignored: volts stay volts
  test::ExpectArraysClose(iv.J, {-10.0, -5.0}, 1e-14);
  // In a foreign file a (0, 0) row is a point.
  EXPECT_EQ(Read("V J\n1 2\n0.0 0.0\n", kMeasurementIV).value->nPoints, 2);
}

TEST_F(MeasurementFile, QEBiasLightIsNotAVoltage) {
  const auto r = Read("Bias light power: 100 mW/cm2\nbias 0.3 V\nlambda QE\n500 80\n400 -10\n", kMeasurementQE);
  ASSERT_TRUE(r.ok()) << r.error;
  const QEMeasurement& qe = std::get<QEMeasurement>(r.value->data);
  EXPECT_DOUBLE_EQ(qe.bias, 0.3);
  EXPECT_DOUBLE_EQ(qe.biasLightPower, 1000.0);
  EXPECT_EQ(qe.noBiasLight, 0);
  // Foreign files start with the units of the program's own: λ in nm, QE in %.
  EXPECT_NEAR(qe.lambda[0], 500.0, 1e-9);
  EXPECT_NEAR(qe.hv[0], 2.479954, 1e-12);  // 1239.977/500
  EXPECT_NEAR(qe.QE[0], 80.0, 1e-12);
  EXPECT_NEAR(qe.QE[1], -10.0, 1e-12);
  EXPECT_NEAR(qe.absQE[1], 10.0, 1e-12);
  // Zero bias light means none.
  const auto d = Read("Light power 0\n500 80\n", kMeasurementQE);
  EXPECT_EQ(std::get<QEMeasurement>(d.value->data).noBiasLight, 1);
  EXPECT_EQ(std::get<QEMeasurement>(d.value->data).biasLightPower, 0.0);
}

TEST_F(MeasurementFile, PointCapMissingColumnsAndWorkingPointLines) {
  for (const auto& [lines, kept, notices] : {std::tuple{600, 600, 0}, std::tuple{2100, 2001, 1}}) {
    std::string text = "V J\n";
    for (int i = 0; i < lines; ++i) text += std::to_string(i) + " 1\n";
    const auto r = Read(text, kMeasurementIV);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value->nPoints, kept);
    ASSERT_EQ(r.notices.size(), static_cast<std::size_t>(notices));
    if (notices) {
      EXPECT_EQ(r.notices[0].title, "measurement file too large !");
      EXPECT_EQ(r.notices[0].message, "measurement points beyond point # 2002 are discarded");
    }
  }
  // A C-V file with two columns: G, W and Napp are missing (NaN), not zero.
  const auto cv = Read("V C\n0 20\n0.5 10\n", kMeasurementCV);
  ASSERT_TRUE(cv.ok());
  const CVMeasurement& c = std::get<CVMeasurement>(cv.value->data);
  EXPECT_NEAR(c.C[0], 20.0, 1e-12);             // nF, as in the program's own files
  EXPECT_NEAR(c.invC2[1], 1.0 / 100.0, 1e-15);  // 1/(10 nF/cm²)²
  EXPECT_TRUE(std::isnan(c.G[0]) && std::isnan(c.W[1]) && std::isnan(c.Napp[0]));
  // The three lines after a working-point line of a foreign file are its values, not data.
  const auto wp = Read("KVX\nworking point\n0.5 1\n0.6 2\n0.7 3\nV I\n1 10\n2 20\n", kMeasurementIV);
  ASSERT_TRUE(wp.ok());
  EXPECT_EQ(std::get<IVMeasurement>(wp.value->data).V, (V{1, 2}));
}

TEST_F(MeasurementFile, RefusalsNameFileAndLine) {
  struct Case {
    const char* text;
    const char* part;  // of the error text
  };
  const Case cases[] = {
      {"no numbers here\nat all\n", "no data found"},
      {"", "no data found"},
      {"area 0\n1 2\n", "line 1: the cell area must be positive"},
      {"header\nPin: 1 sun\n1 2\n", "line 2: unknown unit of the light power 'sun'"},
      {"V J\n1 2\n3 4x\n", "line 3: column 2 is not a number: '4x'"},
      {"V J\n1 2\n3x 4\n", "line 3: column 1 is not a number: '3x'"},
      {"V J\n1 2\n3 1e999\n", "line 3: column 2 is not a number"},
  };
  for (const Case& c : cases) {
    const std::string path = Write(c.text);
    const auto r = ConstructMeasurementListItem(path, kMeasurementIV);
    EXPECT_FALSE(r.ok()) << c.text;
    EXPECT_NE(r.error.find(path), std::string::npos) << r.error;
    EXPECT_NE(r.error.find(c.part), std::string::npos) << r.error;
  }
  EXPECT_FALSE(ConstructMeasurementListItem(dir.file("missing.iv"), kMeasurementIV).ok());
}

TEST_F(MeasurementFile, CurvesForTheFitter) {
  // C-f of a cell of 0.5 cm²: C = 10 nF, G = 1e-4 S at 1 kHz.
  // C in nF and G in S, as in the program's own files.
  const std::string cf = Write("Cell area: 0.5 cm2\nf C G\n1000 10 1e-4\n");
  const double w = 2e3 * std::numbers::pi, C = 1e-8, G = 1e-4, A = 0.5, m = C * C * w * w + G * G;
  struct Case {
    int type;
    double x, y;
  };
  const Case cases[] = {
      {9, 1000.0, 20.0},                // C (f): 10 nF / 0.5 cm²
      {12, 1000.0, 2e-4},               // G (f), under light: 1e-4 S / 0.5 cm²
      {13, 1000.0, 2e-4 / w},           // G/ω
      {15, G * A / m, -C * A * w / m},  // Z-plot: Z = A/(G + iωC)
  };
  for (const Case& c : cases) {
    const auto r = ReadFitMeasurement(cf, c.type);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value->x.size(), 1u);
    EXPECT_NEAR(r.value->x[0], c.x, 1e-12 * std::fabs(c.x)) << c.type;
    EXPECT_NEAR(r.value->y[0], c.y, 1e-12 * std::fabs(c.y)) << c.type;
    EXPECT_EQ(r.value->weight, V{1.0});
  }
  // M-S: 1/C² = A²·1e-18/c2² against V (c2 = 40 nF); QE(hv) against photon energy.
  const auto ms = ReadFitMeasurement(Write("area 2 cm2\n0.1 40\n"), 7);
  EXPECT_NEAR(ms.value->y[0], 4.0 * 1e-18 / 16e-16, 1e-15);
  const auto hv = ReadFitMeasurement(Write("1000 50\n"), 20);
  EXPECT_NEAR(hv.value->x[0], 1.239977, 1e-12);
  EXPECT_NEAR(hv.value->y[0], 50.0, 1e-12);
  // A G (V) fit of a file without a G column has nothing to compare.
  const auto g = ReadFitMeasurement(Write("0 10\n1 20\n"), 5);
  EXPECT_FALSE(g.ok());
  EXPECT_NE(g.error.find("no values of G"), std::string::npos);
  EXPECT_FALSE(ReadFitMeasurement(cf, 21).ok());
}

TEST_F(MeasurementFile, ListsReplaceByNameAndKeepTheSelection) {
  MeasurementState s;
  const std::string a = Write("1 2\n"), b = Write("3 4\n");
  EXPECT_EQ(InsertMeasurementInStack(s, *ConstructMeasurementListItem(a, kMeasurementIV).value), 0);
  EXPECT_EQ(InsertMeasurementInStack(s, *ConstructMeasurementListItem(b, kMeasurementIV).value), 1);
  EXPECT_EQ(InsertMeasurementInStack(s, *ConstructMeasurementListItem(a, kMeasurementIV).value), 0);
  EXPECT_EQ(s.measurements[kMeasurementIV].size(), 2u);
  EXPECT_EQ(SelectedMeasurement(s, kMeasurementIV)->fileName, a);
  EXPECT_EQ(SelectedMeasurement(s, kMeasurementCV), nullptr);
  EXPECT_TRUE(RemoveMeasurement(s, kMeasurementIV, 0));
  EXPECT_EQ(SelectedMeasurement(s, kMeasurementIV)->fileName, b);
}

// A user interface that answers each file choice with a given file and records what it asked.
class ChoosingUserInterface : public RecordingUserInterface {
 public:
  std::optional<std::string> FileSelectPopup(std::string_view folder, std::string_view pattern, std::string_view prompt,
                                             bool) override {
    asked.push_back(std::string(folder) + "|" + std::string(pattern) + "|" + std::string(prompt));
    return answer;
  }
  std::optional<std::string> answer;
  std::vector<std::string> asked;
};

TEST_F(MeasurementFile, ChosenByTheUser) {
  ChoosingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, "home"};
  MeasurementState s;
  ui.answer = Write("1 2\n");
  EXPECT_EQ(AddReplaceMeasurement(env, s, kMeasurementCf), 1);
  EXPECT_EQ(s.measurements[kMeasurementCf].size(), 1u);
  ui.answer = Write("area 0\n1 2\n");  // refused: reported, the list unchanged
  EXPECT_EQ(AddReplaceMeasurement(env, s, kMeasurementCf), -1);
  EXPECT_EQ(s.measurements[kMeasurementCf].size(), 1u);
  ASSERT_EQ(ui.popups.size(), 1u);
  EXPECT_EQ(ui.popups[0].title, "Error whilst reading a measurement file");
  ui.answer.reset();
  EXPECT_EQ(AddReplaceMeasurement(env, s, kMeasurementCf), 0);
  EXPECT_FALSE(KiesCurveFitMeting(env, 18));
  EXPECT_EQ(ui.asked.back(), "home/measurements|*.qe|Select a file with a QE-measurement");
  EXPECT_EQ(ui.asked.front(), "home/measurements|*.cf|Select (a) measurement file(s)");
}

}  // namespace
}  // namespace zoniq
