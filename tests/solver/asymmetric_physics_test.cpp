// Whole-device checks on cells that break the symmetries the other solver tests keep: charged
// (donor, double acceptor) defects in Poisson's equation, unequal thermal velocities for
// electrons and holes at a heterointerface, and Auger recombination in physical units through
// the diode current it limits.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "solved_cells.hpp"
#include "solver/bulk_recombination.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/gummel.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr double kVt = 0.0259;  // the solver's thermal voltage at 300 K [V]

// A defect of `levels` levels with the level types `aard` (first level first), energies above EV.
void AddChargedDefect(InputParameters& set, int layer, std::initializer_list<std::pair<int, double>> levels,
                      double Nt) {
  test::AddSingleLevelDefect(set, layer, levels.begin()->second, Nt, 1e-20);
  LayerParameters& l = set.cellParas.layer[layer];
  const int m = l.srhteller - 1;
  int k = 0;
  for (const auto& [aard, Et] : levels) {
    BulkRecombinationParameters& level = l.srh[m][k];
    if (k > 0) level = l.srh[m][0];
    level.aard = aard;
    level.Et = Et;
    level.numberOfLevels = static_cast<int>(levels.size());
    ++k;
  }
}

TEST(ChargedDefects, IonisedDeepDefectsEnterChargeNeutrality) {
  // Base (p, NA = 1e22 /m³) with a single donor "+/0" 0.2 eV below EC, Nt = 4e21 /m³: the Fermi
  // level lies 0.19 eV above EV, so the donor is empty (f ≈ e^-28) and positive, and neutrality
  // gives p = NA − Nt = 6e21 /m³. Emitter (n, ND = 1e23 /m³) with a double acceptor "0/−"
  // (0.30 eV) and "−/2−" (0.50 eV above EV), Nt = 1e22 /m³: both levels lie far below the Fermi
  // level (0.88 eV above EV), so the defect is doubly negative and n = ND − 2·Nt = 8e22 /m³.
  // The bulk points are many Debye lengths from the junction: 1e-6 relative holds.
  InputParameters set = test::PnJunction();
  AddChargedDefect(set, 0, {{4, 1.12 - 0.2}}, 4e21);
  AddChargedDefect(set, 1, {{3, 0.30}, {2, 0.50}}, 1e22);
  auto pb = test::SolvedAtEquilibrium(set);
  CalculationVariables& cv = pb->cv;
  const int ip = cv.mesh.first[0] + cv.mesh.points[0] / 2;
  const int in = cv.mesh.first[1] + cv.mesh.points[1] / 2;
  const double S0 = pb->par.schaal.S[0], S1 = pb->par.schaal.S[1];
  EXPECT_CLOSE(cv.pt.Np[ip] * cv.Emin[ip] * (cv.v0 + cv.v[ip]) * S0, 1e22 - 4e21, 1e-6, 0.0);
  EXPECT_CLOSE(cv.pt.Nn[in] * cv.Eplus[in] * (cv.u0 + cv.u[in]) * S1, 1e23 - 2e22, 1e-6, 0.0);
  // The built-in potential follows from the compensated densities: Vt·ln(p·n/ni²).
  const double ni2 = 1e50 * std::exp(-1.12 / kVt);
  EXPECT_CLOSE((cv.psi[in] - cv.psi[ip]) * kVt, kVt * std::log(6e21 * 8e22 / ni2), 1e-4, 0.0);
}

TEST(Heterointerface, ThermionicEmissionUsesEachCarriersOwnVelocity) {
  // Electrons and holes with thermal velocities differing by 4 and 9 on the two sides, and NC,
  // NV differing across the interface: the emission coefficient of each carrier is the smaller of
  // N·v_th of the two sides over N of the left side [m/s], times e^(−barrier/kT) when the
  // barrier faces the left side.
  InputParameters set = test::ThinFilmCell(false);
  CellDefinition& c = set.cellParas;
  c.layer[0].v_th_n = UniformProfile(2e5);
  c.layer[0].v_th_p = UniformProfile(0.5e5);
  c.layer[1].v_th_n = UniformProfile(0.9e5);
  c.layer[1].v_th_p = UniformProfile(0.1e5);
  c.layer[1].Nc = UniformProfile(4e24);
  c.layer[1].Nv = UniformProfile(1e25);
  auto pb = test::SetUp(set);
  const CalculationParameters& par = pb->par;
  const double v = par.schaal.snelheid;
  // Absorber → buffer: EC rises by χa − χb = 0.05 eV and EV falls by (χb + Egb) − (χa + Ega) =
  // 1.20 eV; both are barriers for carriers leaving the absorber, which emission crosses with
  // the Boltzmann factor e^(−barrier/kT).
  EXPECT_CLOSE(par.interface[0].kappa_n * v, std::min(2.2e24 * 2e5, 4e24 * 0.9e5) / 2.2e24 * std::exp(-0.05 / kVt),
               1e-9, 0.0);
  EXPECT_CLOSE(par.interface[0].kappa_p * v, std::min(1.8e25 * 0.5e5, 1e25 * 0.1e5) / 1.8e25 * std::exp(-1.20 / kVt),
               1e-9, 0.0);
}

// The dark current of a p⁺n diode whose long n-type base (ND = 1e23 /m³, 60 µm, right) loses
// its minority holes through band-to-band recombination only, set in physical units: electron
// Auger with Cn = 1e-39 m⁶/s (τp = 1/(Cn·ND²)) or radiative recombination with K = 1e-16 m³/s
// (τp = 1/(K·ND)), both 100 ns, so Lp = sqrt(Dp·τp) = 5.09 µm and the base contributes
// J0p = q·ni²·Dp/(ND·Lp) (coth(W/Lp) = 1 to 1e-10). The thin, heavily doped p⁺ side (NA =
// 1e25 /m³, 1 µm, no recombination) adds the short-base J0n = q·ni²·Dn/(NA·Wp′), 5 % of the
// total. Low injection (p/ND < 1e-7 at 0.4 V); the depletion approximation leaves about 0.5 %,
// hence 2 %. A scale error in a coefficient changes τp by orders of magnitude.
void ExpectLongBaseCurrent(double Cn, double K) {
  test::PnOptions o;
  o.Wp = 1e-6;
  o.Wn = 60e-6;
  o.NA = 1e25;
  o.ND = 1e23;
  InputParameters set = test::PnJunction(o);
  set.cellParas.layer[1].c_n_auger = UniformProfile(Cn);
  set.cellParas.layer[1].K_rad = UniformProfile(K);
  auto pb = test::SolvedAtEquilibrium(set);
  CalculationVariables& cv = pb->cv;
  const double V = 0.4;
  ASSERT_EQ(SolveDarkBias(cv, V, 4), 0);
  const double ni2 = 1e50 * std::exp(-1.12 / kVt);
  const double D = kVt * o.mu;
  const double Lp = std::sqrt(D / (Cn * o.ND * o.ND + K * o.ND));
  const double Vbi = kVt * std::log(o.NA * o.ND / ni2);
  const double W = std::sqrt(2.0 * 11.9 * kEps0 * (Vbi - V) / kQ * (o.NA + o.ND) / (o.NA * o.ND));
  const double xp = W * o.ND / (o.NA + o.ND);
  const double xn = W - xp;
  // Radiative recombination also runs in the depletion region, where n·p = ni²·e^(V/Vt):
  // q·K·ni²·xn, 2 % of the total here (the Auger rate there falls with n and stays below 0.5 %).
  const double J0 = 0.1 * kQ * ni2 * (D / (o.ND * Lp) + D / (o.NA * (o.Wp - xp)) + K * xn);  // [mA/cm²]
  EXPECT_CLOSE(TotalCurrentDensity(cv), J0 * std::expm1(V / kVt), 0.02, 0.0);
}

TEST(DarkDiode, AugerLimitedLongBase) { ExpectLongBaseCurrent(1e-39, 0.0); }
TEST(DarkDiode, RadiativeLimitedLongBase) { ExpectLongBaseCurrent(0.0, 1e-16); }

TEST(DefectDistribution, GaussianShapeAndWeightWithinOneWidth) {
  // The density per energy of a Gaussian level is exp(−(E − Et)²/W²)/(√π·W): at E − Et = W it is
  // e^(−1) of the peak, and the share within ±W is erf(1) = 0.842701. Seven energies over the
  // default ±3W put one at exactly +W; 61 energies make the trapezoid share good to 8e-4 (the
  // tails beyond ±3W hold erfc(3) = 2e-5).
  const double W = 0.07;
  const EnergyAxis seven = bereken_energie_as(ED_GAUSS, W, 7, 7.0, 6.0);
  ASSERT_EQ(seven.count, 7);
  EXPECT_CLOSE(seven.offset[4], W, 1e-12, 0.0);
  EXPECT_CLOSE(seven.weight[4] / seven.weight[3], std::exp(-1.0), 1e-12, 0.0);
  const EnergyAxis axis = bereken_energie_as(ED_GAUSS, W, 61, 7.0, 6.0);
  double within = 0.0;
  for (int k = 0; k + 1 < axis.count; ++k)
    if (axis.offset[k] >= -W - 1e-12 && axis.offset[k + 1] <= W + 1e-12)
      within += 0.5 * (axis.weight[k] + axis.weight[k + 1]) * axis.dE;
  EXPECT_CLOSE(within, std::erf(1.0), 2e-3, 0.0);
}

}  // namespace
}  // namespace zoniq
