// The convergence state of each I-V point in the .iv file: a tenth column only for curves with
// recovered points, so that a curve solved plainly keeps the nine-column layout byte for byte and
// readers of the first columns read either.
#include <gtest/gtest.h>

#include "output/result_files.hpp"
#include "output_fixture.hpp"
#include "solver/calculation_variables.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

SimulationRecord TwoPointIV(std::vector<int> state) {
  SimulationRecord r = test::IlluminatedRecord();
  IVResult& iv = r.iv;
  iv.present = 1;
  iv.points = 3;  // the third point failed: not calculated
  iv.pointsDone = 2;
  iv.v = {0.0, 0.5, 1.0};
  iv.j = {-20.0, 1.5, 0.0};
  iv.jbulk = {0.5, 2.0, 0.0};
  iv.jifr = iv.js_n = iv.js_p = iv.jSRH = iv.jRadiative = iv.jAuger = {0.0, 0.0, 0.0};
  iv.state = std::move(state);
  return r;
}

const char* kHeading =
    "    v(V)\tjtot(mA/cm2)\t   jbulk(mA/cm2)\tjifr(mA/cm2)\tjs_n(mA/cm2)\tjs_p(mA/cm2)\tj_SRH(mA/cm2)\t"
    "j_Radiative(mA/cm2)\tj_Auger(mA/cm2)";
const char* kZeros =
    "\t    0.00000000e+00\t    0.00000000e+00\t    0.00000000e+00\t    0.00000000e+00\t    0.00000000e+00"
    "\t    0.00000000e+00";

TEST(IVPointStatus, RecoveredPointsAddAStatusColumn) {
  test::OutputEnvironment o;
  o.context.actionListMode = kListFillZeros;
  const SimulationRecord r = TwoPointIV({kPointGummel, kPointStepHalving, kPointGummel});
  const std::string expected = test::IlluminatedIVHeader() + kHeading + "\tpoint status\n\n" +
                               "   0.000000\t   -2.00000000e+01\t        5.00000000e-01" + kZeros + "\t0\n" +
                               "   0.500000\t    1.50000000e+00\t        2.00000000e+00" + kZeros + "\t2\n" +
                               // the point not calculated is padded over all ten fields
                               "0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\n" +
                               "\npoint status: 0 converged, 1 recovered by the coupled Newton iteration, 2 reached "
                               "by halving the bias step, 3 reached by continuation in light intensity\n" +
                               "\n\n\n";
  EXPECT_EQ(IVBlock(r, o.context), expected);
}

TEST(IVPointStatus, PlainCurvesKeepTheNineColumns) {
  test::OutputEnvironment o;
  // A state beyond the points done (a failed point) does not count.
  const SimulationRecord r = TwoPointIV({kPointGummel, kPointGummel, kPointFailed});
  const std::string block = IVBlock(r, o.context);
  EXPECT_EQ(block.find("point status"), std::string::npos);
  EXPECT_NE(block.find(std::string(kHeading) + "\n\n"), std::string::npos);
  EXPECT_NE(block.find("   0.500000\t    1.50000000e+00\t        2.00000000e+00" + std::string(kZeros) + "\n"),
            std::string::npos);
}

}  // namespace
}  // namespace zoniq
