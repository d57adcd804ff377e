// The C-V, C-f and QE curves as CSV: the bytes written by hand from the layout (one heading row
// with units, one row per calculated point, the simulation number first).
#include <gtest/gtest.h>

#include <algorithm>
#include <list>

#include "output/csv_files.hpp"
#include "plot/plot_fixture.hpp"

namespace zoniq {
namespace {

TEST(SweepCsv, EveryCalculatedPointOfEveryRecord) {
  std::list<SimulationRecord> records;
  records.push_back(test::HandMadeSweepRecord(1, 1));
  records.push_back(test::HandMadeSweepRecord(4, 2));
  records.back().qe.QE[1] = 85.5;
  EXPECT_EQ(QECsv(records),
            "simulation,lambda (nm),QE (%),photon energy (eV)\n"
            "1,400,70,3.0999\n1,700,90,1.7714\n1,1000,60,1.24\n"
            "4,400,70,3.0999\n4,700,85.5,1.7714\n4,1000,60,1.24\n");

  // The C-V sweep stopped after 5 of its 6 points: the sixth is not written. Currents the record
  // does not hold are written as nan, which analysis tools read as missing.
  SimulationRecord& r = records.front();
  r.cv.jtot = {-30.0, -29.0, -28.0, -20.0, 5.0, 0.0};
  const std::string cv = CVCsv({r});
  EXPECT_EQ(cv.substr(0, cv.find('\n', cv.find('\n') + 1) + 1),
            "simulation,V (V),C (nF/cm2),G (S/cm2),W (um),Napp (/cm3),J_tot (mA/cm2),J_bulk (mA/cm2),"
            "J_ifr (mA/cm2),Js_n (mA/cm2),Js_p (mA/cm2)\n"
            "1,-0.4,20,1e-06,0.5,1e+15,-30,nan,nan,nan,nan\n");
  EXPECT_EQ(std::count(cv.begin(), cv.end(), '\n'), 1 + 5);

  EXPECT_EQ(CfCsv({r}).substr(0, 96),
            "simulation,f (Hz),C (nF/cm2),G (S/cm2),Z_re (ohm cm2),Z_im (ohm cm2),|Z| (ohm cm2),Z_phase (degr");
  // No record with a sweep of the kind: nothing to write.
  std::list<SimulationRecord> none(1);
  EXPECT_EQ(CVCsv(none), "");
  EXPECT_EQ(CfCsv(none), "");
  EXPECT_EQ(QECsv(none), "");
}

}  // namespace
}  // namespace zoniq
