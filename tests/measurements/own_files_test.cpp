// The program's own result files read back as measurements give the points written, and the
// script's load and get commands on measured curves.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "measurements/measurement_file.hpp"
#include "output/result_files.hpp"
#include "script/script_interpreter.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using V = std::vector<double>;
using test::ExpectArraysClose;

class OwnFiles : public ::testing::Test {
 protected:
  OwnFiles() {
    context.header.version = "ZONIQ 3.2.00 NORVALE: Version test";
    context.header.fileDate = [](std::string_view, DateTime&) { return false; };
    // Two sweep points of each curve were not calculated; they are padded with "0.0" rows.
    context.actionListMode = kListFillZeros;
    record.wp.temperature = 310.5;
    record.wp.voltage = -0.3;
    record.wp.frequency = 1e5;
  }
  // Writes one block and reads it back as a measurement of `kind`.
  MeasurementItem ReadBack(std::string (*block)(const SimulationRecord&, const OutputContext&), int kind) {
    const std::string path = dir.file("own" + std::to_string(++count));
    test::WriteWholeFile(path, block(record, context));
    ReadResult<MeasurementItem> r = ConstructMeasurementListItem(path, kind);
    EXPECT_TRUE(r.ok()) << r.error;
    return r.ok() ? *r.value : MeasurementItem{};
  }
  test::TempDir dir;
  int count = 0;
  OutputContext context;
  SimulationRecord record;
};

TEST_F(OwnFiles, IVInTheDarkAndUnderLight) {
  IVResult& iv = record.iv;
  iv.present = 1, iv.points = 5, iv.pointsDone = 3;
  iv.v = {-0.2, 0.0, 0.3};
  iv.j = {-30.512345, -29.9, 1.25e-3};
  for (auto* a : {&iv.jbulk, &iv.jifr, &iv.js_n, &iv.js_p, &iv.jSRH, &iv.jRadiative, &iv.jAuger}) *a = {1, 2, 3};
  record.wp.dark = 1;
  MeasurementItem m = ReadBack(IVBlock, kMeasurementIV);
  ASSERT_EQ(m.nPoints, 3);  // not the padding rows
  EXPECT_DOUBLE_EQ(m.temperature, 310.5);
  EXPECT_DOUBLE_EQ(m.area, 1.0);
  const IVMeasurement& d = std::get<IVMeasurement>(m.data);
  EXPECT_EQ(d.dark, 1);
  ExpectArraysClose(d.V, iv.v, 0.0, 1e-12);
  ExpectArraysClose(d.J, iv.j, 1e-8);  // 9 significant digits written

  record.wp.dark = 0;
  record.wp.incidentPower = 1000.0;  // written as 100 mW/cm2
  m = ReadBack(IVBlock, kMeasurementIV);
  EXPECT_EQ(std::get<IVMeasurement>(m.data).dark, 0);
  EXPECT_DOUBLE_EQ(std::get<IVMeasurement>(m.data).incidentPower, 1000.0);
}

TEST_F(OwnFiles, CVWithAndWithoutTheDopingProfile) {
  CVResult& cv = record.cv;
  cv.present = 1, cv.points = 6, cv.pointsDone = 4;
  cv.v = {-0.5, -0.25, 0.0, 0.25};
  cv.C = {12.5, 14.25, 17.0, 21.5};
  cv.G = {1e-6, 2e-6, 3e-6, 4.5e-6};
  cv.W = {0.85, 0.7, 0.55, 0.4};
  cv.Napp = {2e16, 2.1e16, 2.3e16, 2.6e16};
  for (auto* a : {&cv.jtot, &cv.jbulk, &cv.jifr, &cv.jopp_n, &cv.jopp_p}) *a = {7, 7, 7, 7};
  MeasurementItem m = ReadBack(CVBlock, kMeasurementCV);
  ASSERT_EQ(m.nPoints, 4);
  const CVMeasurement* d = &std::get<CVMeasurement>(m.data);
  EXPECT_DOUBLE_EQ(d->frequency, 1e5);
  ExpectArraysClose(d->V, cv.v, 0.0, 1e-12);
  ExpectArraysClose(d->C, cv.C, 1e-8);
  ExpectArraysClose(d->G, cv.G, 1e-8);
  ExpectArraysClose(d->W, cv.W, 1e-8);
  ExpectArraysClose(d->Napp, cv.Napp, 1e-8);
  EXPECT_NEAR(d->invC2[0], 1.0 / (12.5 * 12.5), 1e-10);

  // Three points: the file has no W and Napp columns; the current columns are not taken for them.
  cv.pointsDone = 3;
  m = ReadBack(CVBlock, kMeasurementCV);
  d = &std::get<CVMeasurement>(m.data);
  ASSERT_EQ(m.nPoints, 3);
  ExpectArraysClose(d->C, {12.5, 14.25, 17.0}, 1e-8);
  EXPECT_TRUE(std::isnan(d->W[0]) && std::isnan(d->Napp[2]));
}

TEST_F(OwnFiles, CfAndQE) {
  CfResult& cf = record.cf;
  cf.present = 1, cf.points = 5, cf.pointsDone = 3;
  cf.f = {1e2, 1e4, 1e6};
  cf.C = {30.0, 25.5, 20.25};
  cf.G = {1e-7, 1e-5, 2e-3};
  for (auto* a : {&cf.Zre, &cf.Zim, &cf.Zmagn, &cf.Zphase}) *a = {1, 1, 1};
  MeasurementItem m = ReadBack(CfBlock, kMeasurementCf);
  ASSERT_EQ(m.nPoints, 3);
  const CfMeasurement& d = std::get<CfMeasurement>(m.data);
  EXPECT_DOUBLE_EQ(d.bias, -0.3);  // the working-point bias of the header
  ExpectArraysClose(d.f, cf.f, 1e-8);
  ExpectArraysClose(d.C, cf.C, 1e-8);
  ExpectArraysClose(d.G, cf.G, 1e-8);
  for (std::size_t i = 0; i < 3; ++i) {
    // Z = 1/(G + iωC) per cm², C in F/cm².
    const double w = 2.0 * std::numbers::pi * cf.f[i], C = cf.C[i] * 1e-9, G = cf.G[i];
    EXPECT_NEAR(d.ReZ[i], G / (G * G + w * w * C * C), 1e-7 * std::fabs(d.ReZ[i]));
    EXPECT_NEAR(d.ImZ[i], -w * C / (G * G + w * w * C * C), 1e-7 * std::fabs(d.ImZ[i]));
    EXPECT_NEAR(d.Gw[i], G / w, 1e-7 * G / w);
  }

  QEResult& qe = record.qe;
  qe.present = 1, qe.points = 4, qe.pointsDone = 3;
  qe.lambda = {400.0, 500.5, 1100.0};
  qe.QE = {85.25, 90.125, -0.5};
  qe.photonEnergy = {3.1, 2.48, 1.13};
  record.wp.dark = 1;
  m = ReadBack(QEBlock, kMeasurementQE);
  ASSERT_EQ(m.nPoints, 3);
  const QEMeasurement& q = std::get<QEMeasurement>(m.data);
  ExpectArraysClose(q.lambda, qe.lambda, 0.0, 1e-9);
  ExpectArraysClose(q.QE, qe.QE, 1e-6);
  EXPECT_NEAR(q.hv[1], 1239.977 / 500.5, 1e-12);
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
                       "get meas.iv xy\n"
                       "load measurement.cv cell.cv\n"
                       "load measurement.cv missing.cv\n"
                       "get meas.gv xy\n"
                       "get meas.cv zu\n"
                       "load measurement.xx cell.cv\n");
  ScriptContext ctx = MakeScriptContext(session);
  int running = 1;
  ASSERT_EQ(RunScriptFile(ctx, "s.script", running), 0);
  const ScriptVariables& s = session.theScript;
  EXPECT_EQ(s.vector[0], (V{-1, 0}));
  EXPECT_EQ(s.vector[1], (V{2e-6, 4e-6}));  // G / 0.5 cm²
  EXPECT_EQ(s.vector[3], (V{10, 20}));      // 5 nF / 0.5 cm²
  EXPECT_EQ(s.name[0], "meas. V (V)");
  EXPECT_EQ(s.name[3], "meas. C (nF/cm2)");
  EXPECT_EQ(session.measurements[kMeasurementCV].size(), 1u);  // the missing file added nothing
  const auto& popups = static_cast<RecordingUserInterface&>(*session.ui).popups;
  ASSERT_EQ(popups.size(), 3u);
  EXPECT_EQ(popups[0].message, "No IV measurement was selected\niv measurement not defined; nothing returned");
  EXPECT_NE(popups[1].message.find("missing.cv: the file cannot be opened"), std::string::npos);
  EXPECT_EQ(popups[2].message, "Script command: load measurement.xx cell.cv\nCommand not recognised");
}

}  // namespace
}  // namespace zoniq
