// The text result files against bytes written out by hand from their layouts: the header, the I-V
// file, the C-V, C-f and QE blocks and CSVs, and the admittance-spectroscopy file.
#include <gtest/gtest.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "output/admittance_file.hpp"
#include "output/csv_files.hpp"
#include "output/output_header.hpp"
#include "output/result_files.hpp"
#include "output_fixture.hpp"
#include "solver/calculation_variables.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(OutputHeader, DarkBatchStepGenerationFileAndCutOffWindow) {
  test::OutputEnvironment o;
  SimulationRecord r;
  r.number = 12;
  r.startTime = "01-01-2024 00:00:01";
  r.wp.problemName = "new problem";  // in the dark
  r.wp.temperature = 250.5;
  r.wp.voltage = -0.25;
  r.wp.frequency = 12345.678;
  r.batch.numberOfParameters = 2;
  r.batch.step = 3;
  r.batch.numberOfSteps = 7;
  r.batch.lines = {"layer 1\tthickness\t2.0000", "layer 2\tNA\t1.0000e+16"};
  std::string t;
  WriteOutputHeader(t, r, kResultBandDiagram, true, o.context.header);
  EXPECT_EQ(t,
            "ZONIQ 3.2.0 (test)\nSimulation of band diagrammes\nBatch simulation #\t12\tstep\t3\tof\t7\n"
            "Calculation started : \t01-01-2024 00:00:01\n\nproblem definition file :\tnew problem\n"
            "last saved: \t07-02-2023 at 09:05:03\n\nCalculation in dark\n\nWorking point conditions\n"
            "Temperature\t  250.50\tK\nWorkpoint bias voltage\t   -0.2500\tVolt\nFrequency\t  1.2346e+04\tHz\n\n"
            "**Batch parameters**\nlayer 1\tthickness\t2.0000\nlayer 2\tNA\t1.0000e+16\n\n");
  r = test::IlluminatedRecord();
  r.wp.generationFromFile = 1;
  r.wp.generationFile = "G:\\gen\\profile.gen";
  r.wp.attenuation = 50.0;
  r.wp.idealGenerationCurrent = 30.0;
  // The G(x) file's date is written without padding of day, month, year and hour.
  o.context.header.fileDate = [](std::string_view name, DateTime& d) {
    d = name == "G:\\gen\\profile.gen" ? DateTime{5, 3, 2024, 9, 5, 7} : DateTime{7, 2, 2023, 9, 5, 3};
    return true;
  };
  t.clear();
  WriteOutputHeader(t, r, kResultGenerationRecombination, true, o.context.header);
  // 30 mA/cm2 at 50 % transmission: 15 mA/cm2 after attenuation.
  EXPECT_NE(t.find("Simulation of generation - recombination profiles\n"), std::string::npos);
  EXPECT_NE(t.find("Calculation under illumination\nOptical generation data G(x) read from file:\n"
                   "Input file with G(x) data :\t\nG:\\gen\\profile.gen  last saved: \t5-3-2024 at 9:05:07\n"
                   "Transmission of attenuation filter:\t  5.0000e+01\t%\n"
                   "Ideal light current from optical generation\t   30.0000\tmA/cm2\n"
                   "Ideal light current after attenuation\t   15.0000\tmA/cm2\n\nWorking point conditions\n"),
            std::string::npos)
      << t;
  r = test::IlluminatedRecord();
  r.wp.illuminatedFromRight = 0;
  r.wp.spectrumCutOff = 1;
  r.wp.shortWavelengthCutOff = 400.0;
  r.wp.longWavelengthCutOff = 1100.126;
  r.wp.neutralDensity = 1.0;
  r.wp.windowPower = 800.0;
  r.wp.incidentPower = 80.0;
  t.clear();
  WriteOutputHeader(t, r, kResultIV, false, o.context.header);
  // ND = 1: transmission 10^-1; the powers in W/m2 times 0.1 give mW/cm2.
  EXPECT_NE(t.find("Illumination from the left\nspectrum file :\t\n"
                   "C:\\zoniq\\spectrum\\AM1_5G 1 sun.spe  last saved: \t07-02-2023 at 09:05:03\n"
                   "Spectrum cut-off applied\t\nshort wavelength cut-off\t  400.00\tnm\n"
                   "long  wavelength cut-off\t 1100.13\tnm\nNeutral density filter: ND\t  1.0000\n"
                   "Transmission of ND filter:\t  1.0000e-01\nPower from spectrum:\t  100.0370\tmW/cm2\n"
                   "Power after cut-off filters\t   80.0000\tmW/cm2\nIncident power on solar cell structure\t    "
                   "8.0000\tmW/cm2\n"),
            std::string::npos)
      << t;
}

TEST(OutputHeader, RunLinesAndBatchBlocks) {
  test::OutputEnvironment o;
  auto runLine = [&](const SimulationRecord& r) {
    std::string t;
    WriteOutputHeader(t, r, kResultCurveFitting, false, o.context.header);
    const std::size_t a = t.find('\n', t.find('\n') + 1);  // the run line is the third line
    return t.substr(a + 1, t.find('\n', a + 1) - a - 1);
  };
  SimulationRecord r;
  r.number = 4;
  EXPECT_EQ(runLine(r), "Single shot simulation #\t4");
  r.fit.numberOfParameters = 2;
  r.fit.iteration = 0;
  r.fit.numberOfIterations = 50;
  EXPECT_EQ(runLine(r), "Curve fitting simulation #\t4\tstep\t1\tof\t50");  // iterations counted from 0
  r.batch.definitionFileBatch = 1;
  r.batch.step = 2;
  r.batch.numberOfSteps = 5;
  EXPECT_EQ(runLine(r), "Batch simulation #\t4\tstep\t2\tof\t5");
  r.batchRecording = 1;
  EXPECT_EQ(runLine(r), "Results of a batch recording");
  SimulationRecord defs, fit, fixed, longLine;
  defs.batch.definitionFileBatch = 1;
  defs.batch.definitionFile = "cdte.def";
  fit.fit.numberOfParameters = 1;
  fit.fit.lines = {"layer 1\tNA\t2.0e+16"};
  fit.fit.closingLine = "end of parameters";
  fixed = fit;
  fixed.fit.fixedParameterSet = 1;
  fixed.fit.fixedParameterLine = "T\t310";
  longLine.batch.numberOfParameters = 1;
  longLine.batch.lines = {std::string(400, 'x')};
  const std::pair<SimulationRecord, std::string> cases[] = {
      {SimulationRecord{}, ""},  // a single shot has no block
      {defs, "**Batch parameters**\nDefinition file:\tcdte.def\n\n"},
      {fit, "**Curve fitting parameters**\nlayer 1\tNA\t2.0e+16\nend of parameters\n\n"},
      {fixed,
       "**Curve fitting parameters**\nlayer 1\tNA\t2.0e+16\nend of parameters\n"
       "**Fixed parameter for this measurement**\nT\t310\n\n"},
      {longLine, "**Batch parameters**\n" + std::string(255, 'x') + "\n\n"}};  // lines of at most 255
  for (const auto& [record, expected] : cases) {
    std::string t;
    WriteBatchInfo(t, record);
    EXPECT_EQ(t, expected);
  }
}

TEST(FileDates, NewProblemAndMissingFileHaveNoDate) {
  // (The local time of a file's date is checked in the common tests.)
  test::TempDir dir;
  DateTime t;
  EXPECT_TRUE(ZONIQFileDateTime("New Problem", t));  // never saved: no date to show
  SimulationRecord r;
  r.wp.problemName = dir.file("missing.def");
  std::string text;
  WriteOutputHeader(text, r, kResultIV, false, HeaderContext{});
  EXPECT_NE(text.find("last saved: \t00-00-0000 at 00:00:00\n"), std::string::npos);
}

// A three-point sweep with simple currents (mA/cm2).
SimulationRecord ThreePointIV() {
  SimulationRecord r = test::IlluminatedRecord();
  IVResult& iv = r.iv;
  iv.present = 1;
  iv.points = iv.pointsDone = 3;
  iv.v = {-0.1, 0.2, 0.5};
  iv.j = {-30.5, -29.75, 12.125};
  iv.jbulk = {1.25, 1.5, 2.0};
  iv.jifr = iv.jAuger = {0.0, 0.0, 0.0};
  iv.js_n = {-1e-5, -1e-5, -1e-5};
  iv.js_p = {2e-7, 2e-7, 2e-7};
  iv.jSRH = {1.0, 1.0, 1.0};
  iv.jRadiative = {0.25, 0.25, 0.25};
  return r;
}

const std::string kIVHeading =
    "    v(V)\tjtot(mA/cm2)\t   jbulk(mA/cm2)\tjifr(mA/cm2)\tjs_n(mA/cm2)\tjs_p(mA/cm2)\tj_SRH(mA/cm2)\t"
    "j_Radiative(mA/cm2)\tj_Auger(mA/cm2)";
// The rows: v fixed 10.6, j and jbulk sci 16.8, jifr … j_Auger a tab, two blanks, sci 16.8.
const std::string kIVTail =
    "\t    0.00000000e+00\t   -1.00000000e-05\t    2.00000000e-07\t    1.00000000e+00\t    2.50000000e-01"
    "\t    0.00000000e+00";
const std::string kRow[] = {"  -0.100000\t   -3.05000000e+01\t        1.25000000e+00" + kIVTail,
                            "   0.200000\t   -2.97500000e+01\t        1.50000000e+00" + kIVTail,
                            "   0.500000\t    1.21250000e+01\t        2.00000000e+00" + kIVTail};

TEST(IVFile, ThreePointSweepWithCellParametersByteForByte) {
  test::OutputEnvironment o;
  SimulationRecord r = ThreePointIV();
  CellParameters& p = r.cell;
  p.Voc = 0.45;
  p.Jsc = 30.0625;
  p.FF = 75.5;
  p.eta = 10.25;
  p.Vmpp = 0.3625;
  p.Jmpp = 28.5;
  p.vocValid = p.jscValid = p.ffValid = p.etaValid = 1;
  p.vocExtrapolated = p.anyExtrapolated = 1;  // FF depends on the extrapolated Voc
  EXPECT_EQ(IVBlock(r, o.context), test::IlluminatedIVHeader() + kIVHeading + "\n\n" + kRow[0] + "\n" + kRow[1] + "\n" +
                                       kRow[2] +
                                       "\n\nsolar cell parameters deduced from calculated IV-curve:\n"
                                       "Voc =\t    0.450000\tVolt\textrapolated\nJsc =\t   30.06250000\tmA/cm2\n"
                                       "FF =\t   75.5000\t%\textrapolated\neta =\t   10.2500\t%\nV_MPP =\t    "
                                       "0.362500\tVolt\nJ_MPP =\t   28.50000000\tmA/cm2\n\n\n\n");
  // Only valid parameters are written; none at all: the table is followed by three empty lines.
  r.cell = CellParameters{};
  std::string block = IVBlock(r, o.context);
  EXPECT_EQ(block.substr(block.find(kRow[2])), kRow[2] + "\n\n\n\n");
  r.cell.Jsc = 29.0;
  r.cell.jscValid = r.cell.jscExtrapolated = 1;
  block = IVBlock(r, o.context);
  EXPECT_EQ(block.substr(block.find(kRow[2])),
            kRow[2] +
                "\n\nsolar cell parameters deduced from calculated IV-curve:\nJsc =\t   29.00000000\tmA/cm2\t"
                "extrapolated\n\n\n\n");
  // With a generation file: a collection efficiency, marked when Jsc was extrapolated.
  r.wp.generationFromFile = 1;
  r.cell.eta = 96.5;
  r.cell.etaValid = 1;
  block = IVBlock(r, o.context);
  EXPECT_NE(block.find("collection efficiency =\t   96.5000\t%\textrapolated\nV_MPP =\t    0.000000\tVolt\t"
                       "extrapolated\nJ_MPP =\t    0.00000000\tmA/cm2\textrapolated\n"),
            std::string::npos)
      << block;
  EXPECT_EQ(block.find("eta ="), std::string::npos);
  // Read back within the precision: v to 6 decimals (5e-7 V), currents to 9 digits, 3-digit exponents.
  r.iv.v = {-0.123456789, 0.0000004, 0.987654321};
  r.iv.j = {-31.234567891234, 1.5e-12, 4.56789e+3};
  r.iv.jAuger = {-7.7e-30, 6.02e23, 1e-300};
  const std::vector<std::vector<double>> rows = test::TableRows(IVBlock(r, o.context), "    v(V)");
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(rows[i].size(), 9u);
    EXPECT_CLOSE(rows[i][0], r.iv.v[i], 0.0, 5e-7);
    EXPECT_CLOSE(rows[i][1], r.iv.j[i], 5e-9, 0.0);
    EXPECT_CLOSE(rows[i][2], r.iv.jbulk[i], 5e-9, 0.0);
    EXPECT_CLOSE(rows[i][8], r.iv.jAuger[i], 5e-9, 0.0);
  }
}

TEST(IVFile, RecoveredPointsAddAStatusColumn) {
  test::OutputEnvironment o;
  o.context.actionListMode = kListFillZeros;
  SimulationRecord r = ThreePointIV();
  r.iv.pointsDone = 2;  // the third point failed: padded over all ten fields
  r.iv.state = {kPointGummel, kPointStepHalving, kPointGummel};
  EXPECT_EQ(IVBlock(r, o.context), test::IlluminatedIVHeader() + kIVHeading + "\tpoint status\n\n" + kRow[0] + "\t0\n" +
                                       kRow[1] +
                                       "\t2\n0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\n\npoint status: 0 "
                                       "converged, 1 recovered by the coupled Newton iteration, 2 reached by halving "
                                       "the bias step, 3 reached by continuation in light intensity, 4 reached by "
                                       "continuation in temperature\n\n\n\n");
  // Plain curves keep nine columns: a state beyond the points done (a failed point) does not count.
  r.iv.state = {kPointGummel, kPointGummel, kPointFailed};
  const std::string plain = IVBlock(r, o.context);
  r.iv.state.clear();
  EXPECT_EQ(plain, IVBlock(r, o.context));
  EXPECT_EQ(plain.find("point status"), std::string::npos);
  o.context.actionListMode = kListTruncate;  // the point not calculated: no row at all
  EXPECT_EQ(IVBlock(r, o.context).substr(plain.find(kRow[1])), kRow[1] + "\n\n\n\n");
}

TEST(IVFile, DeliveryToAnOpenFileAndThroughTheDialog) {
  test::OutputEnvironment o;
  test::TempDir dir;
  // The blocks in order, records without an I-V result skipped; an open file stays open.
  std::list<SimulationRecord> runs{SimulationRecord{}, ThreePointIV(), SimulationRecord{}, ThreePointIV()};
  std::FILE* f = std::fopen(dir.file("one.iv").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("before\n", f);
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputOpenFile, f}, o.context), kWritten);
  EXPECT_GE(std::fputs("after\n", f), 0);
  ASSERT_EQ(std::fclose(f), 0);
  const std::string block = IVBlock(ThreePointIV(), o.context) + IVBlock(ThreePointIV(), o.context);
  EXPECT_EQ(test::ReadWholeFile(dir.file("one.iv")), "before\n" + block + "after\n");
  // A chosen file is truncated and holds exactly the text.
  o.ui.answer = dir.file("sweep.iv");
  test::WriteWholeFile(*o.ui.answer, std::string(100000, 'z'));
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputSave, nullptr}, o.context), kWritten);
  EXPECT_EQ(test::ReadWholeFile(*o.ui.answer), block);
  // A file that cannot be created, or nothing calculated yet: the user is told.
  o.ui.answer = dir.file("no-such-folder/sweep.iv");
  EXPECT_EQ(iv_naar_file(runs, OutputTarget{kOutputSave, nullptr}, o.context), kWriteFailed);
  ASSERT_EQ(o.ui.popups.size(), 1u);
  EXPECT_NE(o.ui.popups[0].message.find("cannot be opened for writing"), std::string::npos);
  EXPECT_EQ(iv_naar_file({}, OutputTarget{kOutputShow, nullptr}, o.context), kNothingWritten);
  EXPECT_EQ(o.ui.popups.size(), 2u);
}

// The part of a block from the line that starts with `from`.
std::string Tail(const std::string& block, const std::string& from) {
  const std::size_t at = block.find(from);
  EXPECT_NE(at, std::string::npos) << block;
  return at == std::string::npos ? std::string() : block.substr(at);
}

TEST(AdmittanceFiles, CVCfAndQEBlocks) {
  OutputContext ctx;
  ctx.actionListMode = kListFillZeros;
  SimulationRecord r = test::HandMadeSweepRecord(1, 1);
  // jtot … jopp_p, the same in every row.
  const std::string js =
      "\t  -2.50000000e-06\t  -2.00000000e-06\t   0.00000000e+00\t  -3.00000000e-11\t   1.00000000e-47\n";
  std::string t = Tail(CVBlock(r, ctx), "relative");
  const std::string expected =
      "relative dielectric constant used to calculate W and Napp: epsilon =\t13.600000\tat right side of layer\t1\t"
      "CIGS\n\n    v(V)\t   C(nF/cm2)\t    G(S/cm2)\t       W(\xB5m)\t  Napp(/cm3)\t    jtot(mA/cm2)\t   "
      "jbulk(mA/cm2)\t"
      "jifr(mA/cm2)\t  jopp_n(mA/cm2)\t  jopp_p(mA/cm2)\n\n    -0.400000\t   2.00000000e+01\t   1.00000000e-06\t   "
      "5.00000000e-01\t   1.00000000e+15" +
      js;
  EXPECT_EQ(t.substr(0, expected.size()), expected);
  // Five calculated rows, then one zero row of 10 fields and the three empty lines.
  EXPECT_NE(t.find("\n     0.400000\t   5.00000000e+01\t   1.60000000e-05\t   2.00000000e-01\t   3.00000000e+16" + js),
            std::string::npos);
  EXPECT_EQ(t.substr(t.size() - 43), "0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\n\n\n\n");
  // Three points: no dielectric constant, no W and Napp.
  r.cv.points = r.cv.pointsDone = 3;
  const std::string rows = "    -0.400000\t   2.00000000e+01\t   1.00000000e-06" + js +
                           "    -0.200000\t   "
                           "2.50000000e+01\t   2.00000000e-06" +
                           js +
                           "     0.000000\t   3.20000000e+01\t   "
                           "4.00000000e-06" +
                           js;
  EXPECT_EQ(Tail(CVBlock(r, ctx), "    v(V)"),
            "    v(V)\t   C(nF/cm2)\t    G(S/cm2)\t  jtot(mA/cm2)\t   jbulk(mA/cm2)\t    jifr(mA/cm2)\t  "
            "jopp_n(mA/cm2)\t  jopp_p(mA/cm2)\n\n" +
                rows + "\n\n\n");
  ctx.actionListMode = kListFillWhite;
  r.cf.pointsDone = 3;  // the fourth point padded with one blank per column
  t = Tail(CfBlock(r, ctx), "       f(Hz)");
  EXPECT_EQ(t.substr(0, t.find('\n', t.find("1.00000000e+02")) + 1),
            "       f(Hz)\t   C(nF/cm2)\t    G(S/cm2)\t   Z.re(ohm.cm2)\t   Z.im(ohm.cm2)\t Z.magn(ohm.cm2)\t      "
            "Z.phase(\xB0)\n\n   1.00000000e+02\t   4.00000000e+01\t   1.00000000e-05\t   1.00000000e+02\t  "
            "-1.00000000e+01\t   1.00500000e+02\t    -5.700000\n");
  EXPECT_EQ(t.substr(t.size() - 18), "\n \t \t \t \t \t \t \n\n\n\n");
  EXPECT_EQ(Tail(QEBlock(r, ctx), "  lambda"),
            "  lambda(nm)\t      QE(%)\tphoton energy (eV)\n\n   400.000000\t   7.000000e+01\t    3.099900\n"
            "   700.000000\t   9.000000e+01\t    1.771400\n  1000.000000\t   6.000000e+01\t    1.240000\n\n\n\n");
}

TEST(SweepCsv, EveryCalculatedPointOfEveryRecord) {
  std::list<SimulationRecord> records{test::HandMadeSweepRecord(1, 1), test::HandMadeSweepRecord(4, 2)};
  records.back().qe.QE[1] = 85.5;
  records.front().cv.jopp_p.clear();  // not held by the record: nan, which analysis tools read as missing
  EXPECT_EQ(QECsv(records),
            "simulation,lambda (nm),QE (%),photon energy (eV)\n1,400,70,3.0999\n1,700,90,1.7714\n1,1000,60,1.24\n"
            "4,400,70,3.0999\n4,700,85.5,1.7714\n4,1000,60,1.24\n");
  const std::string cv = CVCsv({records.front()}), cf = CfCsv({records.front()});
  EXPECT_EQ(cv.substr(0, cv.find('\n', cv.find('\n') + 1) + 1),
            "simulation,V (V),C (nF/cm2),G (S/cm2),W (um),Napp (/cm3),J_tot (mA/cm2),J_bulk (mA/cm2),"
            "J_ifr (mA/cm2),Js_n (mA/cm2),Js_p (mA/cm2)\n1,-0.4,20,1e-06,0.5,1e+15,-2.5e-06,-2e-06,0,-3e-11,nan\n");
  EXPECT_EQ(std::count(cv.begin(), cv.end(), '\n'), 1 + 5);  // the sixth point was not calculated
  EXPECT_EQ(cf.substr(0, cf.find('\n', cf.find('\n') + 1) + 1),
            "simulation,f (Hz),C (nF/cm2),G (S/cm2),Z_re (ohm cm2),Z_im (ohm cm2),|Z| (ohm cm2),Z_phase (degrees)\n"
            "1,100,40,1e-05,100,-10,100.5,-5.7\n");
  std::list<SimulationRecord> none(1);  // no record with a sweep of the kind: nothing to write
  EXPECT_EQ(CVCsv(none) + CfCsv(none) + QECsv(none), "");
}

// What AS_naar_file saves through the dialog ("" when it writes nothing).
std::string Written(std::list<SimulationRecord>& records, const AdmittanceSettings& s, test::OutputEnvironment& o,
                    int* result = nullptr) {
  test::TempDir dir;
  o.ui.answer = dir.file("f.as");
  const int r = AS_naar_file(records, s, MottSchottkySettings{}, OutputTarget{kOutputSave, nullptr}, o.context);
  if (result) *result = r;
  return std::filesystem::exists(*o.ui.answer) ? test::ReadWholeFile(*o.ui.answer) : "";
}

TEST(AdmittanceSpectroscopyFile, FallingSweepAnalysedAfreshByteForByte) {
  test::OutputEnvironment o;
  o.context.actionListMode = kListFillZeros;
  std::list<SimulationRecord> records{test::IlluminatedRecord()};
  CfResult& cf = records.back().cf;
  cf.present = 1;
  cf.points = 5;
  cf.pointsDone = 4;  // the fifth point was never calculated
  cf.f = {1e6, 1e5, 1e4, 1e3, 0.0};
  cf.C = {38.0, 40.0, 42.0, 44.0, 0.0};  // 50 − 2·log10 f: dC/d ln ω = −2/ln 10 = −0.868588964
  // What an earlier analysis left: the writer must not write it.
  cf.as.analysed = 1;
  cf.as.f = cf.as.C = cf.as.Et = cf.as.minusD = cf.as.Nt = {1.0};
  AdmittanceSettings s;
  s.nu0 = 3.141592653589793e12;  // 2ν/ω = 1e12/f at 300 K
  s.formula = kNtPlainDerivative;
  // E_ω = 0.0259·ln(1e12/f) = 0.536732585, 0.477095631, 0.417458677, 0.357821723 eV.
  std::string header = test::IlluminatedIVHeader();
  header.replace(header.find("Simulation of I-V curves\n"), 25,
                 "Simulation of Admittance Spectroscopy\nAttempt to escape frequency (Hz):\t   3.14159265e+12\n");
  int result = 0;
  EXPECT_EQ(Written(records, s, o, &result),
            header +
                "       f(Hz)\t   C(nF/cm\xB2)\t  Et(eV)\t-w*dC/dw(nF/cm\xB2)\tNt(cm^-3/eV)\n\n"
                "  1.00000000e+03\t   4.40000000e+01\t   5.36732585e-01\t   8.68588964e-01\t   8.68588964e-01\n"
                "  1.00000000e+04\t   4.20000000e+01\t   4.77095631e-01\t   8.68588964e-01\t   8.68588964e-01\n"
                "  1.00000000e+05\t   4.00000000e+01\t   4.17458677e-01\t   8.68588964e-01\t   8.68588964e-01\n"
                "  1.00000000e+06\t   3.80000000e+01\t   3.57821723e-01\t   8.68588964e-01\t   8.68588964e-01\n"
                "0.0\t0.0\t0.0\t0.0\t0.0\n\n\n\n");
  EXPECT_EQ(result, kWritten);
  EXPECT_TRUE(o.ui.popups.empty());
  // A curve added after that analysis is analysed before it is written; one blank per column.
  o.context.actionListMode = kListFillWhite;
  records.push_back(records.back());
  records.back().number = 2;
  records.back().cf.as = AdmittanceResult{};
  const std::string both = Written(records, s, o);
  EXPECT_NE(both.find("Single shot simulation #\t2\n"), std::string::npos);
  const std::string tail = "   8.68588964e-01\n \t \t \t \t \n\n\n\n";
  EXPECT_EQ(both.substr(both.size() - tail.size()), tail);
}

TEST(AdmittanceSpectroscopyFile, RefusedCurvesAndPointsAreReported) {
  // A curve of zero capacitance, and one with points outside the formula's domain.
  test::OutputEnvironment o;
  std::list<SimulationRecord> records(2);
  CfResult &a = records.front().cf, &b = records.back().cf;
  a.present = b.present = 1;
  a.points = a.pointsDone = b.points = b.pointsDone = 5;
  a.f = b.f = {1e2, 1e3, 1e4, 1e5, 1e6};
  a.C = {30.0, 29.0, 27.5, 27.0, 26.0};
  b.C = {0.0, 0.0, 0.0, 0.0, 0.0};
  records.back().number = 7;
  AdmittanceSettings s;
  s.Vd = 0.5;
  s.Eoff = 0.9;  // E_ω + V_d − E_off ≤ 0 for E_ω ≤ 0.4 eV (1e5 and 1e6 Hz): counted, Nt = 0
  EXPECT_NE(Written(records, s, o).find("  1.00000000e+04\t   2.75000000e+01\t"), std::string::npos);
  ASSERT_EQ(o.ui.popups.size(), 2u);
  EXPECT_NE(o.ui.popups[0].message.find("their Nt is set to 0"), std::string::npos);
  EXPECT_NE(o.ui.popups[1].message.find("simulation #7 not analysed"), std::string::npos);
  // Nothing that could be analysed, or no C-f curve at all: nothing written, and said so.
  records.pop_front();
  int result = 0;
  EXPECT_EQ(Written(records, s, o, &result), "");
  EXPECT_EQ(result, kNothingWritten);
  EXPECT_EQ(o.ui.popups.back().message, "No C-f curve could be analysed: nothing to save or to show !");
  records.clear();
  EXPECT_EQ(Written(records, s, o, &result), "");
  EXPECT_EQ(o.ui.popups.back().message, "No C-f calculation is made yet: nothing to save or to show !");
}

}  // namespace
}  // namespace zoniq
