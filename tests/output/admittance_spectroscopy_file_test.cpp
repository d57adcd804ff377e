// The admittance-spectroscopy file against bytes written by hand from its layout, with the
// curve analysed afresh when written (a falling sweep, a stale earlier analysis, an uncomputed
// point padded one field per column), and hostile curves that must never yield NaN or Inf.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "output/admittance_file.hpp"
#include "output_fixture.hpp"

namespace zoniq {
namespace {

using test::OutputEnvironment;

// What AS_naar_file writes into an open file.
std::string Written(std::list<SimulationRecord>& records, const AdmittanceSettings& s, OutputEnvironment& o,
                    int* result = nullptr) {
  std::FILE* f = std::tmpfile();
  const int r = AS_naar_file(records, s, MottSchottkySettings{}, OutputTarget{kOutputOpenFile, f}, o.context);
  if (result) *result = r;
  std::string text;
  std::rewind(f);
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}

TEST(AdmittanceSpectroscopyFile, FallingSweepAnalysedAfreshByteForByte) {
  OutputEnvironment o;
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
                 "Simulation of Admittance Spectroscopy\n"
                 "Attempt to escape frequency (Hz):\t   3.14159265e+12\n");
  const std::string expected =
      header +
      "       f(Hz)\t   C(nF/cm\xB2)\t  Et(eV)\t-w*dC/dw(nF/cm\xB2)\tNt(cm^-3/eV)\n"
      "\n"
      "  1.00000000e+03\t   4.40000000e+01\t   5.36732585e-01\t   8.68588964e-01\t   8.68588964e-01\n"
      "  1.00000000e+04\t   4.20000000e+01\t   4.77095631e-01\t   8.68588964e-01\t   8.68588964e-01\n"
      "  1.00000000e+05\t   4.00000000e+01\t   4.17458677e-01\t   8.68588964e-01\t   8.68588964e-01\n"
      "  1.00000000e+06\t   3.80000000e+01\t   3.57821723e-01\t   8.68588964e-01\t   8.68588964e-01\n"
      "0.0\t0.0\t0.0\t0.0\t0.0\n"
      "\n\n\n";
  int result = 0;
  EXPECT_EQ(Written(records, s, o, &result), expected);
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
  OutputEnvironment o;
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
  EXPECT_EQ(o.ui.popups[0].title, "Admittance spectroscopy analysis");
  EXPECT_NE(o.ui.popups[0].message.find("their Nt is set to 0"), std::string::npos);
  EXPECT_NE(o.ui.popups[1].message.find("simulation #7 not analysed"), std::string::npos);
  // Nothing that could be analysed: nothing written, and said so.
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
