#include "optics/spectrum.hpp"

#include <cmath>
#include <numeric>
#include <random>

#include "optics/interp.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(LinInterp, ValuesAndErrorCodes) {
  const double x[] = {1.0, 2.0, 4.0}, y[] = {10.0, 20.0, 0.0}, bad[] = {1.0, 1.0, 4.0};
  double y0 = -1;
  EXPECT_EQ(LinInterp(nullptr, x, y, 3, 1.0, y0), 1);
  EXPECT_EQ(y0, 10.0);
  EXPECT_EQ(LinInterp(nullptr, x, y, 3, 3.0, y0), 1);
  EXPECT_DOUBLE_EQ(y0, 10.0);  // halfway between 20 and 0
  EXPECT_EQ(LinInterp(nullptr, x, y, 0, 3.0, y0), -1);
  EXPECT_EQ(LinInterp(nullptr, x, y, 3, 4.5, y0), -2);  // would extrapolate
  EXPECT_EQ(y0, 0.0);
  EXPECT_EQ(LinInterp(nullptr, bad, y, 3, 3.0, y0), -3);
}

// Powers per spectral point are densities times bin widths, so the total is the trapezoid
// integral of the density; adding points with linearly interpolated densities keeps the same
// piecewise-linear density, so the total must not change (to rounding).
TEST(SpectrumInterpolation, ConservesPowerWhenWindowPointsAreAdded) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.1, 2.0);
  std::vector<double> wl, p;
  double lambda = 300.0;
  for (int i = 0; i < 200; ++i) {
    wl.push_back(lambda);
    p.push_back(u(rng));
    lambda += u(rng) * 10.0;
  }
  // Shuffle two points: the file is sorted first.
  std::swap(wl[3], wl[4]);
  std::swap(p[3], p[4]);
  const double total = std::accumulate(p.begin(), p.end(), 0.0);
  const int nFile = static_cast<int>(wl.size());
  const double start = 412.3456, end = 1010.0;
  wl.insert(wl.end(), {start, 0.5 * (start + end), end, 5000.0 /* outside: dropped */});
  p.insert(p.end(), {0.0, 0.0, 0.0, 0.0});
  int nOut = 0;
  ASSERT_EQ(SpectrumInterpolation(wl, p, nFile, nOut), 1);
  EXPECT_EQ(nOut, nFile + 3);
  EXPECT_TRUE(std::is_sorted(wl.begin(), wl.end()));
  EXPECT_CLOSE(std::accumulate(p.begin(), p.end(), 0.0), total, 1e-12, 0.0);
}

TEST(SpectrumInterpolation, PointCloseToAFilePointIsDropped) {
  std::vector<double> wl{400, 410, 420, 420.0004};
  std::vector<double> p{5, 10, 5, 0};
  int nOut = 0;
  ASSERT_EQ(SpectrumInterpolation(wl, p, 3, nOut), 1);
  EXPECT_EQ(nOut, 3);
  EXPECT_EQ(p, (std::vector<double>{5, 10, 5}));
}

// A flat spectrum of 1 W/m2/nm on a 10 nm grid: the bins of interior points carry 10 W/m2,
// the end points 5 W/m2. The window [420, 460] holds 40 W/m2; moving its start by 0.0005 nm
// takes off 0.0005 W/m2, not a whole interval.
TEST(Window, PowerCountsTheBinShareInsideTheWindow) {
  std::vector<double> wl, p;
  for (int i = 0; i <= 10; ++i) {
    wl.push_back(400.0 + 10.0 * i);
    p.push_back(i == 0 || i == 10 ? 5.0 : 10.0);
  }
  EXPECT_NEAR(WindowPower(wl, p, 420.0, 460.0), 40.0, 1e-12);
  EXPECT_NEAR(WindowPower(wl, p, 420.0005, 460.0), 39.9995, 1e-9);
  EXPECT_NEAR(WindowPower(wl, p, 300.0, 600.0), 100.0, 1e-12);  // covers all
  EXPECT_EQ(WindowPower(wl, p, 600.0, 700.0), 0.0);             // outside
}

}  // namespace
}  // namespace zoniq
