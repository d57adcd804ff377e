// The solver against device physics with closed forms: the built-in potential and neutrality
// with charged (donor, double acceptor) defects, Gauss's law at a charged interface, short and
// long base diodes limited by SRH, Auger or radiative recombination in physical units, and a
// three-layer heterojunction over a wide range of bias.
#include <gtest/gtest.h>

#include <cmath>

#include "solved_cells.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/gummel.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr double kVt = 0.0259;  // the solver's thermal voltage at 300 K [V]

// Closed-form quantities of the test pn junction (test_cells.hpp).
struct PnTheory {
  test::PnOptions o;
  double ni2() const { return 1e25 * 1e25 * std::exp(-1.12 / kVt); }
  double Vbi() const { return kVt * std::log(o.NA * o.ND / ni2()); }
  // Depletion widths on the p and n side at bias V (depletion approximation) [m].
  double xp(double V) const {
    const double w = std::sqrt(2.0 * 11.9 * kEps0 * (Vbi() - V) / kQ * (o.NA + o.ND) / (o.NA * o.ND));
    return w * o.ND / (o.NA + o.ND);
  }
  double xn(double V) const { return xp(V) * o.NA / o.ND; }
  // Short-base saturation current density q·ni²·Σ D/(N·W') [mA/cm²].
  double J0short(double V) const {
    const double D = kVt * o.mu;
    return 0.1 * kQ * ni2() * (D / (o.NA * (o.Wp - xp(V))) + D / (o.ND * (o.Wn - xn(V))));
  }
};

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

TEST(Equilibrium, BuiltInPotentialAndNeutralityWithIonisedDeepDefects) {
  // Base (p, NA = 1e22 /m³) with a donor "+/0" 0.2 eV below EC, Nt = 4e21 /m³: the Fermi level
  // lies 0.19 eV above EV, the donor is empty (f ≈ e^-28): p = NA − Nt = 6e21 /m³. Emitter (n,
  // ND = 1e23 /m³) with a double acceptor "0/−" (0.30 eV) and "−/2−" (0.50 eV above EV), Nt =
  // 1e22 /m³, far below the Fermi level (0.88 eV): n = ND − 2·Nt = 8e22 /m³. The bulk points are
  // many Debye lengths (0.04 µm) from the junction: 1e-6 relative holds.
  InputParameters set = test::PnJunction();
  AddChargedDefect(set, 0, {{4, 1.12 - 0.2}}, 4e21);
  AddChargedDefect(set, 1, {{3, 0.30}, {2, 0.50}}, 1e22);
  auto pb = test::SolvedAtEquilibrium(set);
  CalculationVariables& cv = pb->cv;
  const int ip = cv.mesh.first[0] + cv.mesh.points[0] / 2;
  const int in = cv.mesh.first[1] + cv.mesh.points[1] / 2;
  const double S0 = pb->par.schaal.S[0], S1 = pb->par.schaal.S[1];
  EXPECT_CLOSE(cv.pt.Np[ip] * cv.Emin[ip] * (cv.v0[ip] + cv.v[ip]) * S0, 1e22 - 4e21, 1e-6, 0.0);
  EXPECT_CLOSE(cv.pt.Nn[in] * cv.Eplus[in] * (cv.u0[in] + cv.u[in]) * S1, 1e23 - 2e22, 1e-6, 0.0);
  // The built-in potential follows from the compensated densities: Vt·ln(p·n/ni²).
  EXPECT_CLOSE((cv.psi[in] - cv.psi[ip]) * kVt, kVt * std::log(6e21 * 8e22 / PnTheory{}.ni2()), 1e-4, 0.0);
  // A full Gummel solve at 0 V keeps u = v = 0 and every current exactly zero: with flat
  // quasi-Fermi levels every term of the continuity equations vanishes. (The coupled Newton
  // finish would add the round-off of its linear solve, so it is switched off here.)
  pb->par.convergence.coupledNewtonFallback = 0;
  ASSERT_EQ(los_totaal_dc_stelsel_op_Gummel(cv), 0);
  ASSERT_GE(cv.teller, 0);
  CurrentDensities j;
  extraheer_stroom(cv, j);
  for (int i = 0; i < cv.mesh.N; ++i) {
    EXPECT_EQ(cv.u[i], 0.0);
    EXPECT_EQ(cv.v[i], 0.0);
    EXPECT_EQ(j.j_tot[i], 0.0);
  }
}

TEST(DarkDiode, ShortBaseSaturationCurrentAndIdealityFactor) {
  // No bulk recombination, ohmic contacts: J = J0·(e^(V/Vt) − 1), J0 = q·ni²·Σ D/(N·W'). The
  // depletion approximation places the quasi-neutral edges to about a Debye length (0.04 µm of
  // 4.8 µm): 3 %; low injection (n/NA < 2e-3 at 0.6 V).
  const PnTheory th;
  auto pb = test::SolvedAtEquilibrium(test::PnJunction(th.o));
  CalculationVariables& cv = pb->cv;
  double J03 = 0.0, J06 = 0.0;
  for (int k = 1; k <= 6; ++k) {
    const double V = 0.1 * k;
    ASSERT_EQ(SolveDarkBias(cv, V, 2), 0) << "V = " << V;
    const double J = TotalCurrentDensity(cv);
    const double theory = th.J0short(V) * std::expm1(V / kVt);
    if (V > 0.29) {
      EXPECT_CLOSE(J, theory, 0.03, 0.0) << "V = " << V;
    }
    if (k == 3) J03 = J;
    if (k == 6) J06 = J;
  }
  // Ideality factor between 0.3 and 0.6 V: n = ΔV/(Vt·Δln J) = 1 within 1 % (the shrinking
  // depletion region alone gives 0.998).
  const double n = 0.3 / (kVt * std::log(J06 / J03));
  EXPECT_CLOSE(n, 1.0, 0.01, 0.0);
}

TEST(DarkDiode, LongBaseWithMidgapDefect) {
  // A neutral midgap level in the base: τ = 1/(σ·vth·Nt) = 1 µs, Ln = sqrt(D·τ) = 16.1 µm. The
  // first µm of the base (holding the 0.3 µm depletion region) has no defect: the electrons cross
  // it without loss and decay over Ln beyond: J = q·ni²·D/(NA·(Ln + a'))·(e^(V/Vt) − 1), a' =
  // 1 µm − xp (60 µm base: coth(3.7) − 1 = 0.1 %), plus the emitter's short-base term (17 %).
  // Series resistance costs at most 0.7 % at 0.6 V; 5 % tolerance.
  test::PnOptions o;
  o.Wp = 60e-6;
  o.Wn = 1e-6;
  o.ND = 1e24;
  const double clean = 1e-6;
  MeshSettings mesh;
  mesh.recalculateMesh = 1;  // resolves the decay of the electrons in the base
  auto pb = test::SolvedAtEquilibrium(test::LongBaseJunction(o, clean, 1e20, 1e-19), mesh);
  CalculationVariables& cv = pb->cv;
  const PnTheory th{o};
  const double D = kVt * o.mu;
  const double Ln = std::sqrt(D * 1e-6);
  for (double V : {0.4, 0.45, 0.5, 0.55, 0.6}) {
    ASSERT_EQ(SolveDarkBias(cv, V, V == 0.4 ? 5 : 2), 0) << "V = " << V;
    const double base = 0.1 * kQ * th.ni2() * D / (o.NA * (Ln + clean - th.xp(V))) * std::expm1(V / kVt);
    const double emitter = 0.1 * kQ * th.ni2() * D / (o.ND * (o.Wn - th.xn(V))) * std::expm1(V / kVt);
    EXPECT_CLOSE(TotalCurrentDensity(cv), base + emitter, 0.05, 0.0) << "V = " << V;
  }
}

// A p⁺n diode whose long n base (ND = 1e23 /m³, 60 µm) loses its holes by band-to-band
// recombination only, in physical units: Auger Cn = 1e-39 m⁶/s (τp = 1/(Cn·ND²)) or radiative
// K = 1e-16 m³/s (τp = 1/(K·ND)), both 100 ns: Lp = sqrt(Dp·τp) = 5.09 µm, J0p =
// q·ni²·Dp/(ND·Lp). The p⁺ side (NA = 1e25 /m³, 1 µm) adds the short-base J0n, 5 %; radiative
// recombination in the depletion region adds q·K·ni²·xn, 2 %. The depletion approximation
// leaves about 0.5 %, hence 2 %; a scale error changes τp by orders of magnitude.
void ExpectLongBaseCurrent(double Cn, double K) {
  const PnTheory th{{1e-6, 60e-6, 1e25, 1e23}};
  InputParameters set = test::PnJunction(th.o);
  set.cellParas.layer[1].c_n_auger = UniformProfile(Cn);
  set.cellParas.layer[1].K_rad = UniformProfile(K);
  auto pb = test::SolvedAtEquilibrium(set);
  const double V = 0.4, D = kVt * th.o.mu, Lp = std::sqrt(D / (Cn * 1e46 + K * 1e23));
  ASSERT_EQ(SolveDarkBias(pb->cv, V, 4), 0);
  const double J0 = 0.1 * kQ * th.ni2() * (D / (1e23 * Lp) + D / (1e25 * (1e-6 - th.xp(V))) + K * th.xn(V));
  EXPECT_CLOSE(TotalCurrentDensity(pb->cv), J0 * std::expm1(V / kVt), 0.02, 0.0);
}

TEST(DarkDiode, AugerLimitedLongBase) { ExpectLongBaseCurrent(1e-39, 0.0); }
TEST(DarkDiode, RadiativeLimitedLongBase) { ExpectLongBaseCurrent(0.0, 1e-16); }

// A sweep of the thin-film cell from 0 to `Vend` in steps of `dV`: every point converges, the
// current rises with the bias, has its sign and is continuous to 1e-3.
void SweepThinFilm(const MeshSettings& mesh, double Vend, double dV, double* Jend) {
  InputParameters set = test::ThinFilmCell(true);
  auto pb = test::SolvedAtEquilibrium(set, mesh);
  CalculationVariables& cv = pb->cv;
  ASSERT_EQ(los_totaal_dc_stelsel_op_Gummel(cv), 0);
  double previous = 0.0;
  const int n = static_cast<int>(std::lround(std::fabs(Vend) / dV));
  for (int k = 1; k <= n; ++k) {
    const double V = std::copysign(k * dV, Vend);
    ASSERT_EQ(SolveDarkBias(cv, V, 2), 0) << "V = " << V << " " << pb->ctx.lastMessage;
    CurrentDensities j;
    extraheer_stroom(cv, j);
    const double J = j.j_tot[1];
    EXPECT_GT(J * V, 0.0) << "V = " << V;
    EXPECT_GT(std::fabs(J), std::fabs(previous)) << "V = " << V;
    double spread = 0.0;
    for (int i = 0; i < cv.mesh.N; ++i) spread = std::max(spread, std::fabs(j.j_tot[i] - J));
    EXPECT_LE(spread, 1e-3 * std::fabs(J)) << "V = " << V;
    previous = J;
  }
  *Jend = previous;
  EXPECT_TRUE(pb->ui.popups.empty()) << pb->ui.popups.front().message;
  // A fixed mesh never changes during a solution.
  if (mesh.recalculateMesh == 0) {
    EXPECT_EQ(cv.mesh.x, cv.initialMesh.x);
  }
}

TEST(Equilibrium, GaussLawAtAnInterfaceWithASheetCharge) {
  // A sheet charge σ = 1e-3 C/m² at the absorber/buffer interface (unequal permittivities): the
  // displacement jumps by σ, ε0·(εf·Ef − εp·Ep) = σ with E = −dψ/dx·Vt/L on the first interval of
  // each side, to the Poisson termination (1e-3 kT: relative 1e-3 of the jump).
  auto pb = test::SetUp(test::ThinFilmCell(false));
  CalculationVariables& cv = pb->cv;
  const double sigma = 1e-3;
  cv.ifr.sigma[0] = sigma;
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  const int p = cv.mesh.last[0], f = p + 1;
  const double scale = kVt / pb->par.schaal.L;  // dψ/dx (normalised) -> V/m
  const double Ep = -(cv.psi[p] - cv.psi[p - 1]) / cv.mesh.h[p - 1] * scale;
  const double Ef = -(cv.psi[f + 1] - cv.psi[f]) / cv.mesh.h[f] * scale;
  const double jump = kEps0 * (cv.pt.eps[f] * Ef - cv.pt.eps[p] * Ep);
  EXPECT_CLOSE(jump, sigma, 2e-3, 0.0);
}

TEST(Heterojunction, ForwardAndReverseOnTheFixedAndTheAdaptiveMesh) {
  // Forward to 0.75 V passes 100 mA/cm² (the cell reaches it near 0.68 V); reverse to −1 V.
  for (int adaptive : {0, 1}) {
    MeshSettings mesh;
    mesh.recalculateMesh = adaptive;
    double J = 0.0;
    SweepThinFilm(mesh, 0.75, 0.025, &J);
    EXPECT_GT(J, 100.0);
    SweepThinFilm(mesh, -1.0, 0.05, &J);
    EXPECT_LT(J, 0.0);
  }
}

}  // namespace
}  // namespace zoniq
