// The C-V, C-f and QE blocks against rows written by hand from their column layouts: fixed and
// exponent widths, the blank after each tab, the N(W) columns and the dielectric-constant line
// only beyond 3 points, and the padding of points that were not calculated.
#include <gtest/gtest.h>

#include <string>

#include "output/result_files.hpp"

namespace zoniq {
namespace {

// The part of a block after its header: from the line that starts with `from`.
std::string Tail(const std::string& block, const std::string& from) {
  const std::size_t at = block.find(from);
  EXPECT_NE(at, std::string::npos) << block;
  return at == std::string::npos ? std::string() : block.substr(at);
}

SimulationRecord CVRecord(int points, int done) {
  SimulationRecord r;
  CVResult& cv = r.cv;
  cv.present = 1;
  cv.points = points;
  cv.pointsDone = done;
  cv.epsilon = 13.6;
  cv.epsilonSide = 1;
  cv.epsilonLayer = 1;
  cv.epsilonLayerName = "CIGS";
  for (int i = 0; i < points; ++i) {
    cv.v.push_back(-0.5 + 0.25 * i);
    cv.C.push_back(30.0 + i);
    cv.G.push_back(1.5e-6);
    cv.W.push_back(0.4 - 0.01 * i);
    cv.Napp.push_back(1.8e16);
    cv.jtot.push_back(-2.5e-6);
    cv.jbulk.push_back(-2.0e-6);
    cv.jifr.push_back(0.0);
    cv.jopp_n.push_back(-3e-11);
    cv.jopp_p.push_back(1e-47);
  }
  return r;
}

TEST(AdmittanceFiles, CVBlockWithTheDopingProfileAndPadding) {
  OutputContext ctx;
  ctx.actionListMode = kListFillZeros;
  const std::string t = Tail(CVBlock(CVRecord(5, 4), ctx), "relative");
  const std::string row0 =
      "    -0.500000\t   3.00000000e+01\t   1.50000000e-06\t   4.00000000e-01\t   1.80000000e+16\t  "
      "-2.50000000e-06\t  -2.00000000e-06\t   0.00000000e+00\t  -3.00000000e-11\t   1.00000000e-47\n";
  const std::string expected =
      "relative dielectric constant used to calculate W and Napp: epsilon =\t13.600000\tat right side of layer\t1\t"
      "CIGS\n\n"
      "    v(V)\t   C(nF/cm2)\t    G(S/cm2)\t       W(\xB5m)\t  Napp(/cm3)\t    jtot(mA/cm2)\t   jbulk(mA/cm2)\t"
      "jifr(mA/cm2)\t  jopp_n(mA/cm2)\t  jopp_p(mA/cm2)\n\n" +
      row0;
  EXPECT_EQ(t.substr(0, expected.size()), expected);
  // Four calculated rows, then one zero row of 10 fields and the three empty lines.
  EXPECT_NE(t.find("\n     0.250000\t   3.30000000e+01\t"), std::string::npos);
  EXPECT_EQ(t.substr(t.size() - 43), "0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\n\n\n\n");
}

TEST(AdmittanceFiles, CVBlockOfThreePointsHasNoDopingColumns) {
  OutputContext ctx;
  const std::string t = Tail(CVBlock(CVRecord(3, 3), ctx), "    v(V)");
  EXPECT_EQ(t.find("relative"), std::string::npos);
  const std::string expected =
      "    v(V)\t   C(nF/cm2)\t    G(S/cm2)\t  jtot(mA/cm2)\t   jbulk(mA/cm2)\t    jifr(mA/cm2)\t  jopp_n(mA/cm2)\t  "
      "jopp_p(mA/cm2)\n\n"
      "     0.000000\t   3.20000000e+01\t   1.50000000e-06\t  -2.50000000e-06\t  -2.00000000e-06\t   "
      "0.00000000e+00\t  -3.00000000e-11\t   1.00000000e-47\n\n\n\n";
  EXPECT_EQ(t.substr(t.size() - (expected.size() - expected.find("     0.000000"))),
            expected.substr(expected.find("     0.000000")));
  EXPECT_EQ(t.substr(0, 120), expected.substr(0, 120));
}

TEST(AdmittanceFiles, CfAndQEBlocks) {
  OutputContext ctx;
  ctx.actionListMode = kListFillWhite;
  SimulationRecord r;
  r.cf.present = 1;
  r.cf.points = 2;
  r.cf.pointsDone = 1;
  r.cf.f = {100.0, 1e6};
  r.cf.C = {42.1, 0.0};
  r.cf.G = {3.7e-8, 0.0};
  r.cf.Zre = {52.74, 0.0};
  r.cf.Zim = {-37741.9, 0.0};
  r.cf.Zmagn = {37741.94, 0.0};
  r.cf.Zphase = {-89.919929, 0.0};
  EXPECT_EQ(Tail(CfBlock(r, ctx), "       f(Hz)"),
            "       f(Hz)\t   C(nF/cm2)\t    G(S/cm2)\t   Z.re(ohm.cm2)\t   Z.im(ohm.cm2)\t Z.magn(ohm.cm2)\t      "
            "Z.phase(\xB0)\n\n"
            "   1.00000000e+02\t   4.21000000e+01\t   3.70000000e-08\t   5.27400000e+01\t  -3.77419000e+04\t"
            "   3.77419400e+04\t   -89.919929\n"
            " \t \t \t \t \t \t \n\n\n\n");
  r.qe.present = 1;
  r.qe.points = 1;
  r.qe.pointsDone = 1;
  r.qe.lambda = {550.0};
  r.qe.QE = {87.5};
  r.qe.photonEnergy = {1239.977 / 550.0};
  EXPECT_EQ(Tail(QEBlock(r, ctx), "  lambda"),
            "  lambda(nm)\t      QE(%)\tphoton energy (eV)\n\n"
            "   550.000000\t   8.750000e+01\t    2.254504\n\n\n\n");
}

}  // namespace
}  // namespace zoniq
