// The spectrum: the shipped AM1.5G file against the public table, added window points, the
// window's power and refused files; the contact filters.
#include "optics/illumination.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <random>

#include "optics/interp.hpp"
#include "optics/spectrum.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

struct Env {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, ""};
  Env() { env.programFolder = test::HomeFolder(); }
};

// The ASTM G173-03 global-tilt irradiance integrated with the trapezoid rule between a and b,
// read straight from the public table (independent of the shipped spectrum file).
double AstmIntegral(double a, double b) {
  std::ifstream in(std::string(test::HomeFolder()) + "/../data/ASTMG173.csv");
  std::vector<double> wl, e;
  double w, extraterrestrial, global;
  for (std::string line; std::getline(in, line);)
    if (std::sscanf(line.c_str(), "%lf,%lf,%lf", &w, &extraterrestrial, &global) == 3)
      wl.push_back(w), e.push_back(global);
  double s = 0;
  for (std::size_t i = 1; i < wl.size(); ++i) {
    const double lo = std::max(a, wl[i - 1]), hi = std::min(b, wl[i]);
    if (hi <= lo) continue;
    auto at = [&](double x) { return e[i - 1] + (e[i] - e[i - 1]) * (x - wl[i - 1]) / (wl[i] - wl[i - 1]); };
    s += 0.5 * (at(lo) + at(hi)) * (hi - lo);
  }
  return s;
}

// The shipped AM1.5G file carries, per point, the irradiance times its share of the
// wavelength axis, so its sum is the trapezoid integral of the public table (1000.4 W/m2).
TEST(Spectrum, ShippedAM15GSumsToTheTableIntegralAndBadFilesAreRefused) {
  Env e;
  WorkPoint wp;
  InitialiseWorkPoint(wp, e.env.programFolder);
  wp.dark = 0;
  std::vector<double> wl, p;
  ASSERT_EQ(bepaal_spectrum(e.env, wp, wl, p), 2002);
  const double full = AstmIntegral(0, 1e9);
  EXPECT_CLOSE(full, 1000.37, 0.0, 0.01);
  EXPECT_CLOSE(wp.spectrumPower, full, 1e-6, 0.0);  // 7 significant digits in the file
  EXPECT_EQ(wp.windowPower, wp.spectrumPower);
  // A window from 402.3 to 1100.7 nm (start, middle and end are new spectral points) and an optical density of 1. The
  // bins at the window edges are counted by their share; the difference from the integral of the interpolated table is
  // at most about half a bin (0.5 nm x 1.7 W/m2/nm) at each edge: 0.2 % is a safe bound.
  wp.spectrumCutOff = 1, wp.shortWavelengthCutOff = 402.3, wp.longWavelengthCutOff = 1100.7, wp.neutralDensity = 1.0;
  ASSERT_EQ(bepaal_spectrum(e.env, wp, wl, p), 2005);
  EXPECT_CLOSE(wp.spectrumPower, full, 1e-4, 0.0);  // adding window points keeps the power
  EXPECT_CLOSE(wp.windowPower, AstmIntegral(402.3, 1100.7), 2e-3, 0.0);
  EXPECT_CLOSE(wp.incidentPower, 0.1 * wp.windowPower, 1e-14, 0.0);
  EXPECT_TRUE(e.ui.popups.empty());

  // Falling wavelengths, too many points, a negative power, a wavelength that is not positive,
  // a power whose photon count overflows, no file: refused, the spectrum untouched.
  std::string big;
  for (int i = 0; i < 2501; ++i) big += std::to_string(300 + i) + " 1\n";
  const std::pair<std::string, std::string> cases[] = {
      {"500 1\n400 1\n", "Unsorted data in"},
      {big, "The spectrum file contains too many (>2501 ) different wavelengths."},
      {"400 1\n500 -1\n600 1\n", "Error whilst reading the spectrum file"},
      {"-5 1\n500 1\n", "Error whilst reading the spectrum file"},
      {"400 1\n500 1e300\n", "Error whilst reading the spectrum file"},
      {"", ""}};
  test::TempDir dir;
  const std::vector<double> before = wl;
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text.substr(0, 30));
    wp.spectrumFile = dir.file(text.empty() ? "missing.spe" : "bad.spe");
    if (!text.empty()) test::WriteWholeFile(wp.spectrumFile, text);
    e.ui.popups.clear();
    EXPECT_EQ(bepaal_spectrum(e.env, wp, wl, p), 0);
    EXPECT_EQ(wl, before);
    ASSERT_EQ(e.ui.popups.size(), 1u);
    const std::string said = e.ui.popups[0].title + "\n" + e.ui.popups[0].message;
    EXPECT_NE(said.find(message), std::string::npos) << said;
  }
}

TEST(Filters, FileValuesAreInterpolatedAndSenselessReflectionsRefused) {
  Env e;
  test::TempDir dir;
  CellDefinition cell;
  InitialiseCellDefinition(cell);
  cell.rightContact.filterOn = 1;
  cell.rightContact.filterKind = 1;  // transmission
  cell.rightContact.filterFile = dir.file("front.ftr");
  test::WriteWholeFile(cell.rightContact.filterFile, "wavelength T\n300 80\n700 90\n");
  cell.leftContact.filterOn = 1, cell.leftContact.wavelengthIndependent = 1;
  cell.leftContact.filterKind = 1;  // 40 % transmission = 60 % reflection at the back
  cell.leftContact.filterValue = 40.0;
  GenerationParameters gen;
  gen.side = +1, gen.wavelengths = {300.0, 500.0, 800.0};
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 1);
  EXPECT_DOUBLE_EQ(gen.rightFilter[0], 0.80);
  EXPECT_DOUBLE_EQ(gen.rightFilter[1], 0.85);
  EXPECT_DOUBLE_EQ(gen.rightFilter[2], 0.0);  // 800 nm lies outside the file: not interpolated
  ASSERT_EQ(e.ui.popups.size(), 1u);
  EXPECT_EQ(e.ui.popups[0].message, "The filtervalues from file '" + cell.rightContact.filterFile +
                                        "' cannot be interpolated at the wavelengthvalues from the spectrum.");
  EXPECT_DOUBLE_EQ(gen.leftFilter[1], 0.6);
  // Light from the left: the left contact is now the front.
  gen.side = -1;
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 1);
  EXPECT_DOUBLE_EQ(gen.leftFilter[0], 0.4);
  EXPECT_DOUBLE_EQ(gen.rightFilter[1], 0.15);
  cell.rightContact.filterFile = dir.file("missing.ftr");
  EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), 0);

  // Light from the right (the left contact is the back): 100 % back and front reflection would
  // bounce for ever (1/0), reflections outside [0, 1] give negative light; either below 1 is fine.
  struct Case {
    double back, Rfront, front;  // back reflection, front transmission [%]
    int ok;
  };
  const Case cases[] = {{100.0, 1.0, 100.0, 0}, {100.0, 0.99, 100.0, 1}, {99.0, 1.0, 100.0, 1},
                        {120.0, 0.0, 100.0, 0}, {50.0, -0.1, 100.0, 0},  {50.0, 0.0, 120.0, 0}};
  cell.leftContact.filterKind = 0, cell.rightContact.wavelengthIndependent = 1, gen.side = +1;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.back << " " << c.Rfront << " " << c.front);
    cell.leftContact.filterValue = c.back, gen.Rfront = c.Rfront, cell.rightContact.filterValue = c.front;
    e.ui.popups.clear();
    EXPECT_EQ(BerekenFilterSpectra(e.env, gen, cell), c.ok);
    EXPECT_EQ(e.ui.popups.size(), c.ok ? 0u : 1u);
    if (c.ok) {
      EXPECT_CLOSE(gen.leftFilter[1], c.back / 100.0, 1e-15, 0.0);
    } else {
      EXPECT_EQ(e.ui.popups[0].title, "Error in the optical filters");
    }
  }
}

// Powers per spectral point are densities times bin widths, so the total is the trapezoid
// integral of the density; adding points with linearly interpolated densities keeps the same
// piecewise-linear density, so the total must not change (to rounding).
TEST(SpectrumInterpolation, ConservesPowerWhenWindowPointsAreAddedAndWindowsCountBinShares) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.1, 2.0);
  std::vector<double> wl, p;
  double lambda = 300.0;
  for (int i = 0; i < 200; ++i, lambda += u(rng) * 10.0) wl.push_back(lambda), p.push_back(u(rng));
  std::swap(wl[3], wl[4]), std::swap(p[3], p[4]);  // out of order: the file is sorted first
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
  // A point closer than 0.001 nm to a file point is dropped.
  wl = {400, 410, 420, 420.0004}, p = {5, 10, 5, 0};
  ASSERT_EQ(SpectrumInterpolation(wl, p, 3, nOut), 1);
  EXPECT_EQ(nOut, 3);
  EXPECT_EQ(p, (std::vector<double>{5, 10, 5}));
  // A flat spectrum of 1 W/m2/nm on a 10 nm grid: the bins of interior points carry 10 W/m2,
  // the end points 5 W/m2. The window [420, 460] holds 40 W/m2; moving its start by 0.0005 nm
  // takes off 0.0005 W/m2, not a whole interval.
  wl.clear(), p.clear();
  for (int i = 0; i <= 10; ++i) wl.push_back(400.0 + 10.0 * i), p.push_back(i == 0 || i == 10 ? 5.0 : 10.0);
  EXPECT_NEAR(WindowPower(wl, p, 420.0, 460.0), 40.0, 1e-12);
  EXPECT_NEAR(WindowPower(wl, p, 420.0005, 460.0), 39.9995, 1e-9);
  EXPECT_NEAR(WindowPower(wl, p, 300.0, 600.0), 100.0, 1e-12);  // covers all
  EXPECT_EQ(WindowPower(wl, p, 600.0, 700.0), 0.0);             // outside
}

TEST(LinInterp, ValuesAndErrorCodes) {
  const double x[] = {1.0, 2.0, 4.0}, y[] = {10.0, 20.0, 0.0}, bad[] = {1.0, 1.0, 4.0};
  double y0 = -1;
  EXPECT_EQ(LinInterp(nullptr, x, y, 3, 3.0, y0), 1);
  EXPECT_DOUBLE_EQ(y0, 10.0);  // halfway between 20 and 0
  EXPECT_EQ(LinInterp(nullptr, x, y, 0, 3.0, y0), -1);
  EXPECT_EQ(LinInterp(nullptr, x, y, 3, 4.5, y0), -2);  // would extrapolate
  EXPECT_EQ(LinInterp(nullptr, bad, y, 3, 3.0, y0), -3);
}

}  // namespace
}  // namespace zoniq
