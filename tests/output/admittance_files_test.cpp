// The C-V, C-f, QE and admittance-spectroscopy files and the sweeps as CSV, against bytes written
// by hand from their layouts: fixed and exponent widths, the blank after each tab, the N(W)
// columns only beyond 3 points, the padding of points not calculated, and hostile curves that
// must never yield NaN or Inf.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "output/admittance_file.hpp"
#include "output/csv_files.hpp"
#include "output/result_files.hpp"
#include "output_fixture.hpp"

namespace zoniq {
namespace {

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
  EXPECT_EQ(Tail(CVBlock(r, ctx), "    v(V)"),
            "    v(V)\t   C(nF/cm2)\t    G(S/cm2)\t  jtot(mA/cm2)\t   jbulk(mA/cm2)\t    jifr(mA/cm2)\t  "
            "jopp_n(mA/cm2)\t  jopp_p(mA/cm2)\n\n    -0.400000\t   2.00000000e+01\t   1.00000000e-06" +
                js + "    -0.200000\t   2.50000000e+01\t   2.00000000e-06" + js +
                "     0.000000\t   3.20000000e+01\t   "
                "4.00000000e-06" +
                js + "\n\n\n");

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
  const std::string cv = CVCsv({records.front()});
  EXPECT_EQ(cv.substr(0, cv.find('\n', cv.find('\n') + 1) + 1),
            "simulation,V (V),C (nF/cm2),G (S/cm2),W (um),Napp (/cm3),J_tot (mA/cm2),J_bulk (mA/cm2),"
            "J_ifr (mA/cm2),Js_n (mA/cm2),Js_p (mA/cm2)\n1,-0.4,20,1e-06,0.5,1e+15,-2.5e-06,-2e-06,0,-3e-11,nan\n");
  EXPECT_EQ(std::count(cv.begin(), cv.end(), '\n'), 1 + 5);  // the sixth point was not calculated
  const std::string cf = CfCsv({records.front()});
  EXPECT_EQ(cf.substr(0, cf.find('\n', cf.find('\n') + 1) + 1),
            "simulation,f (Hz),C (nF/cm2),G (S/cm2),Z_re (ohm cm2),Z_im (ohm cm2),|Z| (ohm cm2),Z_phase (degrees)\n"
            "1,100,40,1e-05,100,-10,100.5,-5.7\n");
  std::list<SimulationRecord> none(1);  // no record with a sweep of the kind: nothing to write
  EXPECT_EQ(CVCsv(none) + CfCsv(none) + QECsv(none), "");
}

// What AS_naar_file writes into an open file.
std::string Written(std::list<SimulationRecord>& records, const AdmittanceSettings& s, test::OutputEnvironment& o,
                    int* result = nullptr) {
  std::FILE* f = std::tmpfile();
  const int r = AS_naar_file(records, s, MottSchottkySettings{}, OutputTarget{kOutputOpenFile, f}, o.context);
  if (result) *result = r;
  std::string text;
  std::rewind(f);
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  return text;
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
  // E_ω = 0.0259·ln(1e12/f): 0.0259·ln 1e9 = 0.536732585, ln 1e8 → 0.477095631, ln 1e7 →
  // 0.417458677, ln 1e6 → 0.357821723 eV.
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
  // A curve added after that analysis is analysed before it is written; blank padding is one
  // blank per column.
  o.context.actionListMode = kListFillWhite;
  records.push_back(records.back());
  records.back().number = 2;
  records.back().cf.as = AdmittanceResult{};
  const std::string both = Written(records, s, o);
  EXPECT_NE(both.find("Single shot simulation #\t2\n"), std::string::npos);
  const std::string tail = "   8.68588964e-01\n \t \t \t \t \n\n\n\n";
  EXPECT_EQ(both.substr(both.size() - tail.size()), tail);
}

TEST(AdmittanceSpectroscopyFile, HostileCurvesWriteNoNaNOrInfAndRefusalsAreReported) {
  test::OutputEnvironment o;
  std::list<SimulationRecord> records(2);
  // A curve with unusable points (f ≤ 0, a NaN capacitance, an infinite frequency), and a second
  // curve whose capacitance at the reference frequency is zero.
  CfResult& a = records.front().cf;
  a.present = 1;
  a.points = a.pointsDone = 9;
  a.f = {1e2, 1e3, 0.0, 1e4, 1e4, -1e5, 1e5, INFINITY, 1e6};
  a.C = {30.0, 29.0, 28.0, NAN, 27.5, 27.0, 27.0, 26.0, 26.0};
  CfResult& b = records.back().cf;
  b.present = 1;
  b.points = b.pointsDone = 5;
  b.f = {1e2, 1e3, 1e4, 1e5, 1e6};
  b.C = {0.0, 0.0, 0.0, 0.0, 0.0};
  records.back().number = 7;
  AdmittanceSettings s;
  s.Vd = 0.5;
  s.Eoff = 0.9;  // E_ω + V_d − E_off ≤ 0 for E_ω ≤ 0.4 eV (1e5 and 1e6 Hz): counted, Nt = 0
  const std::string text = Written(records, s, o);
  for (const char* bad : {"nan", "NaN", "inf", "Inf"}) EXPECT_EQ(text.find(bad), std::string::npos) << bad;
  EXPECT_NE(text.find("  1.00000000e+04\t   2.75000000e+01\t"), std::string::npos);  // the finite 1e4 point
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
