#include "optics/spectrum.hpp"

#include <cmath>
#include <numeric>
#include <random>

#include "optics/interp.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(LinInterp, ValuesAndErrorCodes) {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, ""};
  const double x[] = {1.0, 2.0, 4.0};
  const double y[] = {10.0, 20.0, 0.0};
  double y0 = -1;
  EXPECT_EQ(LinInterp(&env, x, y, 3, 1.0, y0), 1);
  EXPECT_EQ(y0, 10.0);
  EXPECT_EQ(LinInterp(&env, x, y, 3, 3.0, y0), 1);
  EXPECT_DOUBLE_EQ(y0, 10.0);  // halfway between 20 and 0
  EXPECT_EQ(LinInterp(&env, x, y, 0, 3.0, y0), -1);
  EXPECT_EQ(LinInterp(&env, x, y, 3, 4.5, y0), -2);
  EXPECT_EQ(y0, 0.0);
  const double bad[] = {1.0, 1.0, 4.0};
  EXPECT_EQ(LinInterp(&env, bad, y, 3, 3.0, y0), -3);
  ASSERT_EQ(ui.popups.size(), 3u);
  EXPECT_EQ(ui.popups[1].message,
            "Error in LinInterp: extrapolation needed: asked at x=4.5, given: 3 data in interval (1,4)");
}

TEST(LogInterp, GeometricMeanAndGuards) {
  const double x[] = {1.0, 3.0};
  const double y[] = {1e2, 1e4};
  double y0 = 0;
  std::string msg;
  EXPECT_EQ(LogInterp(nullptr, x, y, 2, 2.0, y0, msg), 1);
  EXPECT_NEAR(y0, 1e3, 1e-9);  // exp of the mean of the logarithms
  EXPECT_EQ(msg, "LogInterp executed successfully");
  const double yz[] = {0.0, 1e4};
  EXPECT_EQ(LogInterp(nullptr, x, yz, 2, 2.0, y0, msg), 1);
  EXPECT_EQ(y0, 0.0);
  const double xn[] = {-1.0, 3.0};
  EXPECT_EQ(LogInterp(nullptr, xn, y, 2, 2.0, y0, msg), -4);
  EXPECT_EQ(msg, "Error in LogInterp: x array is not strictly positive");
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

struct FluxCase {
  std::vector<double> x, alpha;
  std::vector<double> D, E, f, b, g;
  explicit FluxCase(std::vector<double> xs, std::vector<double> a) : x(std::move(xs)), alpha(std::move(a)) {
    const std::size_t n = x.size();
    D.resize(n), E.resize(n), f.resize(n), b.resize(n), g.resize(n);
  }
  bool Run(double Rfront, double Rb, int side) {
    const bool ok = RelativePhotonFlux(x, alpha, Rfront, Rb, side, D, E, f, b);
    BoxAveragedAbsorption(x, alpha, side, f, b, g);
    return ok;
  }
  double Absorbed() const {
    double s = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double hl = i > 0 ? x[i] - x[i - 1] : 0.0, hr = i + 1 < x.size() ? x[i + 1] - x[i] : 0.0;
      s += g[i] * 0.5 * (hl + hr);
    }
    return s;
  }
};

// A coarse uneven mesh over 100 um with alpha = 1e6 /m (strong absorption).
std::vector<double> CoarseMesh() {
  std::vector<double> x{0.0};
  double h = 5e-8;
  while (x.back() < 1e-4) {
    x.push_back(std::min(x.back() + h, 1e-4));
    h *= 1.6;
  }
  return x;
}

// The photons absorbed over all boxes equal those that enter minus those that leave: with
// no back reflection 1 - exp(-alpha W), with a perfect back mirror 1 - exp(-2 alpha W). The
// point value alpha*Phi times the box width would over-count strongly on this mesh.
TEST(PhotonFlux, BoxAveragedGenerationConservesPhotons) {
  auto x = CoarseMesh();
  const double W = 1e-4, a = 1e6;
  FluxCase c(x, std::vector<double>(x.size(), a));
  ASSERT_TRUE(c.Run(0.0, 0.0, -1));
  EXPECT_CLOSE(c.Absorbed(), 1.0 - std::exp(-a * W), 1e-12, 0.0);
  double pointSampled = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double hl = i > 0 ? x[i] - x[i - 1] : 0.0, hr = i + 1 < x.size() ? x[i + 1] - x[i] : 0.0;
    pointSampled += a * (c.f[i] + c.b[i]) * 0.5 * (hl + hr);
  }
  EXPECT_GT(pointSampled, 1.02);  // the fault the box average mends
  FluxCase weak(x, std::vector<double>(x.size(), 1e3));
  ASSERT_TRUE(weak.Run(0.0, 1.0, -1));
  EXPECT_CLOSE(weak.Absorbed(), 1.0 - std::exp(-2e3 * W), 1e-10, 0.0);
  ASSERT_TRUE(weak.Run(0.0, 1.0, +1));
  EXPECT_CLOSE(weak.Absorbed(), 1.0 - std::exp(-2e3 * W), 1e-10, 0.0);
}

// With internal front reflection the flux entering the stack at the front is 1 plus the part
// of the returning light reflected there: F(0) = 1 + Rfront*B(0); and the photons absorbed
// are 1 minus what escapes through the front, (1 - Rfront)*B(0), and through the back,
// (1 - Rb)*F(end), where the back returns B(end) = Rb*F(end).
TEST(PhotonFlux, MultipleReflectionsAreConsistent) {
  std::vector<double> x{0, 1e-7, 3e-7, 3e-7, 1e-6, 2e-6};  // two layers, doubled interface point
  std::vector<double> alpha{2e5, 2e5, 2e5, 1e6, 1e6, 1e6};
  FluxCase c(x, alpha);
  const double Rf = 0.3, Rb = 0.8;
  ASSERT_TRUE(c.Run(Rf, Rb, -1));
  EXPECT_CLOSE(c.f[0], 1.0 + Rf * c.b[0], 1e-13, 0.0);
  EXPECT_CLOSE(c.b.back(), Rb * c.f.back(), 1e-13, 0.0);
  EXPECT_CLOSE(c.Absorbed(), 1.0 - (1.0 - Rf) * c.b[0] - (1.0 - Rb) * c.f.back(), 1e-12, 0.0);
}

TEST(PhotonFlux, VanishingDenominatorIsRefused) {
  std::vector<double> x{0, 1e-6};
  FluxCase c(x, {0.0, 0.0});
  EXPECT_FALSE(c.Run(1.0, 1.0, -1));
  EXPECT_EQ(c.f[0], 0.0);
  EXPECT_FALSE(c.Run(0.9, 1.5, -1));  // more than 100 % reflection at the back
}

}  // namespace
}  // namespace zoniq
