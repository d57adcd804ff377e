// Tunnelling: the WKB exponent against closed forms (rectangular, linear and parabolic
// barriers), and tunnelling to a Schottky contact against a reference computed here from the
// Poisson-Boltzmann barrier with WKB transmission and Boltzmann supply, for both carriers at
// either contact; equilibrium, current conservation and the Jacobian with tunnelling.
#include "solver/tunneling.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <utility>
#include <vector>

#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/equations.hpp"
#include "solver/gummel.hpp"
#include "solver/tunneling_jacobian.hpp"

namespace zoniq {
namespace {

constexpr double kH = 6.6256e-34, kM0 = 9.1095e-31, kQe = 1.602e-19;
const double kHbar = kH / (2.0 * std::numbers::pi);

TEST(TunnelMass, EveryChoiceOfTwoMasses) {
  // 0 smaller, 1 larger, 2 (0.1 + 0.4)/2, 3 √0.04, 4 0.04/0.5, 5 unknown: as 0.
  const double expected[] = {0.1, 0.4, 0.25, 0.2, 0.08, 0.1};
  for (int choice = 0; choice < 6; ++choice)
    EXPECT_NEAR(ChooseTunnelMass(0.1, 0.4, choice), expected[choice], 1e-15) << choice;
}

// A profile given in eV on points x [m], normalised with L and Vt as the solver does.
struct Barrier {
  double L = 1e-7, Vt = 0.0259;
  std::vector<double> band, h, mass;
  Barrier(const std::vector<double>& x, const std::function<double(double)>& EceV, double m) {
    for (std::size_t i = 0; i < x.size(); ++i) {
      band.push_back(EceV(x[i]) / Vt);
      h.push_back(i + 1 < x.size() ? (x[i + 1] - x[i]) / L : 0.0);
      mass.push_back(m);
    }
  }
  double Theta(double EeV, double mStart, int choice = 0) const {
    const WkbProfile p{band, h, mass, WkbCoefficient(L, Vt), choice};
    return WkbExponent(p, mStart, 0, static_cast<int>(band.size()) - 1, 1, EeV / Vt);
  }
};

std::vector<double> Grid(double a, double b, int intervals) {
  std::vector<double> x;
  for (int i = 0; i <= intervals; ++i) x.push_back(a + (b - a) * i / intervals);
  return x;
}

TEST(Wkb, RectangularBarrierIsTwoKappaD) {
  // 5 nm at 0.4 eV, E = 0.1 eV, m = 0.1: 2κd with κ = √(2·m·m0·q·0.3 V)/ħ (= 8.873783).
  const double expected = 2.0 * std::sqrt(2.0 * 0.1 * kM0 * kQe * 0.3) / kHbar * 5e-9;
  ASSERT_NEAR(expected, 8.873783, 1e-6);
  for (int n : {1, 7}) {
    const Barrier b(
        Grid(0.0, 5e-9, n), [](double) { return 0.4; }, 0.1);
    EXPECT_NEAR(b.Theta(0.1, 0.1), expected, 1e-9 * expected) << n;
  }
  // The flat interval is exact whatever the other mass; choice 2 takes (0.1 + 0.3)/2 = 0.2.
  const Barrier b(
      Grid(0.0, 5e-9, 3), [](double) { return 0.4; }, 0.3);
  EXPECT_NEAR(b.Theta(0.1, 0.1, 2), expected * std::sqrt(2.0), 1e-9 * expected);
}

TEST(Wkb, LinearBarrierIsFowlerNordheim) {
  // 0.4 eV falling at 1e8 V/m, m = 0.2, E = 0.05 eV; the path ends inside the interval
  // (3 nm, 4 nm): θ = (4/3)·√(2·m·m0)·(q·0.35 V)^1.5/(ħ·q·F) (= 6.3256328).
  const double expected = 4.0 / 3.0 * std::sqrt(2.0 * 0.2 * kM0) * std::pow(kQe * 0.35, 1.5) / (kHbar * kQe * 1e8);
  ASSERT_NEAR(expected, 6.3256328, 1e-7);
  const Barrier b(
      Grid(0.0, 4e-9, 4), [](double x) { return 0.4 - 1e8 * x; }, 0.2);
  EXPECT_NEAR(b.Theta(0.05, 0.2), expected, 1e-12 * expected);
}

TEST(Wkb, DepletionParabolaIsPadovaniStrattonToSecondOrder) {
  // E_c = φ·(1 − x/W)² (φ = 0.5 eV, W = 20 nm), E = 0.1 eV, m = 0.1. With y = √(E/φ):
  // ∫√(E_c − E)dx = (W·√φ/2)·[√(1 − y²) − y²·ln((1 + √(1 − y²))/y)].
  const double phi = 0.5, W = 20e-9, E = 0.1, m = 0.1;
  const double y = std::sqrt(E / phi), r = std::sqrt(1.0 - y * y);
  const double integral = W * std::sqrt(phi) / 2.0 * (r - y * y * std::log((1.0 + r) / y));
  const double expected = 2.0 * std::sqrt(2.0 * m * kM0 * kQe) / kHbar * integral;
  auto error = [&](int n) {
    const Barrier b(
        Grid(0.0, W, n), [&](double x) { return phi * (1 - x / W) * (1 - x / W); }, m);
    return std::fabs(b.Theta(E, m) / expected - 1.0);
  };
  EXPECT_LT(error(40), 1e-3);
  // Halving the intervals divides the error by about four (second order).
  for (int n : {40, 80}) {
    const double ratio = error(n) / error(2 * n);
    EXPECT_GT(ratio, 3.0) << n;
    EXPECT_LT(ratio, 5.0) << n;
  }
}

// ---------------------------------------------------------------------------------------------
// Schottky contact: one layer of 0.2 µm, majority density 1e18 cm⁻³ = effective density of
// states, barrier 0.6 eV for the majority carrier at one contact (work function 5.1 eV against
// χ = 4.5 eV, Eg = 1.2 eV), the other contact flat band; m = 0.1, S = 1e5 m/s, μ = 10 m²/Vs (the
// quasi-Fermi level stays flat), εr = 12, 300 K.

struct SchottkyCase {
  bool electrons;  // n-type layer (electron barrier) or p-type (hole barrier)
  bool left;       // the barrier at the left contact
};

// A uniform layer: d [m], Eg, χ [eV], εr, Nc, Nv, ND, NA [m⁻³], μn, μp [m²/Vs], vth [m/s] (0: the
// default), relative mass of both carriers.
struct Layer {
  double d, Eg, chi, eps, Nc, Nv, Nd, Na, mun, mup, vth, m;
};

void SetLayer(LayerParameters& L, const Layer& v) {
  auto uniform = [](Profile& p, double x) { p = UniformProfile(x, p.dependence); };
  L.d = v.d;
  for (const auto& [p, x] : {std::pair{&L.Eg, v.Eg},
                             {&L.chi, v.chi},
                             {&L.eps, v.eps},
                             {&L.Nc, v.Nc},
                             {&L.Nv, v.Nv},
                             {&L.Nd, v.Nd},
                             {&L.Na, v.Na},
                             {&L.mu_n, v.mun},
                             {&L.mu_p, v.mup},
                             {&L.me_rel, v.m},
                             {&L.mh_rel, v.m}})
    uniform(*p, x);
  if (v.vth > 0.0) {
    uniform(L.v_th_n, v.vth);
    uniform(L.v_th_p, v.vth);
  }
}

// Defaults, the given number of layers, tight termination; contacts flat band unless changed.
InputParameters NewCell(int layers) {
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  set.cellParas.numberOfLayers = layers;
  for (ContactParameters* k : {&set.cellParas.leftContact, &set.cellParas.rightContact}) {
    k->flatband = 1;
    k->Sn = k->Sp = 1e7;
  }
  set.convergence.termination_Fn = set.convergence.termination_Fp = 1e-10;
  set.convergence.termination_psi = 1e-10;
  return set;
}

InputParameters SchottkyCell(const SchottkyCase& k, bool tunneling) {
  InputParameters set = NewCell(1);
  CellDefinition& c = set.cellParas;
  const bool e = k.electrons;
  SetLayer(c.layer[0], {0.2e-6, 1.2, 4.5, 12.0, e ? 1e24 : 1e25, e ? 1e25 : 1e24, e ? 1e24 : 0.0, e ? 0.0 : 1e24,
                        e ? 10.0 : 0.005, e ? 0.005 : 10.0, 0.0, 0.1});
  ContactParameters& barrier = k.left ? c.leftContact : c.rightContact;
  barrier.flatband = 0;
  barrier.Fi_m = 5.1;
  barrier.Sn = barrier.Sp = 1e5;
  barrier.tunneling = tunneling ? 1 : 0;
  barrier.me_rel = barrier.mh_rel = 0.1;
  return set;
}

double Simpson(const std::function<double(double)>& f, double a, double b, int n) {
  const double h = (b - a) / n;
  double s = f(a) + f(b);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4.0 : 2.0) * f(a + i * h);
  return s * h / 3.0;
}

// Forward current density [mA/cm²] over the barrier and through it at bias V: with the band
// bending φ(x) [kT] above the bulk band edge, Poisson-Boltzmann gives
// dφ/dx = √(2(φ + e^−φ − 1))/L_D, L_D² = εkT/(q²N); the current is
// q·S·N·(e^V − 1)·[e^−φB + e^−V·∫₀^φ0 e^(−E−θ(E)) dE] (energies in kT from the bulk edge,
// φ0 = φB − V), θ(E) = (2√(2·m·m0·q·Vt)/ħ)·∫_E^φ0 √(φ − E)·L_D/√(2(φ + e^−φ − 1)) dφ.
double SchottkyReference(double V, double Vt) {
  const double N = 1e24, S = 1e5, m = 0.1, eps = 12.0;
  const double LD = std::sqrt(eps * 8.854e-12 * Vt / (kQe * N));
  const double coef = 2.0 * std::sqrt(2.0 * m * kM0 * kQe * Vt) / kHbar;
  const double phiB = 0.6 / Vt, v = V / Vt, phi0 = phiB - v;
  auto field = [](double p) { return p < 1e-6 ? p * std::sqrt(1.0 - p / 3.0) : std::sqrt(2.0 * (p + std::expm1(-p))); };
  auto theta = [&](double e) {
    // φ = e + t², dφ = 2t dt removes the square-root end points.
    return coef * Simpson(
                      [&](double t) {
                        const double p = e + t * t;
                        return p <= 0.0 ? 2.0 * LD : 2.0 * t * t * LD / field(p);
                      },
                      0.0, std::sqrt(phi0 - e), 400);
  };
  const double tunnel = Simpson([&](double e) { return std::exp(-e - theta(e)); }, 0.0, phi0, 400);
  return kQe * S * N * std::expm1(v) * (std::exp(-phiB) + std::exp(-v) * tunnel) * 0.1;
}

struct Solved {
  std::unique_ptr<DcProblem> pb = std::make_unique<DcProblem>();
  CurrentDensities j;
};

// Set up, solve at equilibrium, then at bias V (unless 0) in the given number of steps.
Solved Solve(const InputParameters& set, double V, const MeshSettings& mesh, int steps = 6) {
  Solved s;
  EXPECT_EQ(SetUpDcProblem(*s.pb, set, mesh), 0) << s.pb->ctx.lastMessage;
  EXPECT_EQ(SolveEquilibrium(s.pb->cv), 0);
  if (V != 0.0) {
    EXPECT_EQ(SolveDarkBias(s.pb->cv, V, steps), 0);
  }
  extraheer_stroom(s.pb->cv, s.j);
  return s;
}

// Forward bias: the semiconductor's Fermi level rises against the metal for an electron
// barrier and falls for a hole barrier; the bias is applied to the right contact.
Solved SolveSchottky(const SchottkyCase& k, bool tunneling, double V, MeshSettings mesh = {}) {
  return Solve(SchottkyCell(k, tunneling), (k.electrons == k.left) ? V : -V, mesh);
}

// The mesh refined until ψ changes by less than ln 1.1 kT per interval.
MeshSettings FineMesh() {
  MeshSettings m;
  m.recalculateMesh = 1;
  m.maxRatio = 1.1;
  m.minRatio = 1.0;
  return m;
}

double MaxAbs(const std::vector<double>& a) {
  double m = 0.0;
  for (double x : a) m = std::max(m, std::fabs(x));
  return m;
}

TEST(ContactTunnelling, SchottkyForwardCurrentMatchesPoissonBoltzmannWkb) {
  const double Vt = 0.0259;
  // The figures of the reference at 0.05, 0.10, 0.15 V: 75.49, 446.78, 2337.6 mA/cm²; over the
  // barrier alone 0.8206, 6.477, 45.47.
  const double published[] = {75.49, 446.78, 2337.6};
  for (const SchottkyCase k :
       {SchottkyCase{true, true}, SchottkyCase{true, false}, SchottkyCase{false, true}, SchottkyCase{false, false}}) {
    for (int n = 0; n < 3; ++n) {
      const double V = 0.05 * (n + 1);
      const double ref = SchottkyReference(V, Vt);
      EXPECT_NEAR(ref, published[n], 1e-4 * published[n]);
      const Solved s = SolveSchottky(k, true, V, FineMesh());
      const double J = std::fabs(s.j.j_tot[1]);
      EXPECT_NEAR(J, ref, 1e-3 * ref) << k.electrons << k.left << " V " << V;
      // Current conservation where the carriers tunnel (the flat bulk next to the other contact
      // carries the round-off of a drift-diffusion current at μ = 10 m²/Vs, with or without
      // tunnelling).
      const std::size_t near = k.left ? 1 : s.j.j_tot.size() - 2;
      int tunnelPoints = 0;
      for (std::size_t i = 0; i < s.j.j_tot.size(); ++i) {
        if (s.j.jn_tunnel[i] == 0.0 && s.j.jp_tunnel[i] == 0.0) continue;
        ++tunnelPoints;
        EXPECT_NEAR(s.j.j_tot[i], s.j.j_tot[near], 2e-5 * J) << i;
      }
      EXPECT_GT(tunnelPoints, 20);
    }
  }
}

TEST(ContactTunnelling, OffGivesThermionicEmissionOnly) {
  // Over the barrier alone: q·S·N·e^(−φB/Vt)·(e^(V/Vt) − 1) = 0.8206 mA/cm² at 0.05 V.
  const Solved s = SolveSchottky({true, true}, false, 0.05);
  const double expected = kQe * 1e5 * 1e24 * std::exp(-0.6 / 0.0259) * std::expm1(0.05 / 0.0259) * 0.1;
  EXPECT_NEAR(std::fabs(s.j.j_tot[1]), expected, 2e-3 * expected);
  EXPECT_EQ(MaxAbs(s.j.jn_tunnel), 0.0);
  EXPECT_EQ(MaxAbs(s.j.jp_tunnel), 0.0);
}

// At equilibrium the tunnel paths exist but every flux, and the residual of both continuity
// equations, is exactly zero.
void ExpectExactEquilibrium(CalculationVariables& cv) {
  for (int carrier : {kElectrons, kHoles}) CalculateTunnelling(cv, carrier);
  EXPECT_TRUE(cv.tunnel.present);
  for (const CarrierTunnelState* ts : {&cv.tunnel.n, &cv.tunnel.p}) {
    EXPECT_EQ(MaxAbs(ts->current), 0.0);
    for (double x : ts->ifaceLeft) EXPECT_EQ(x, 0.0);
    for (double x : ts->ifaceRight) EXPECT_EQ(x, 0.0);
    for (double x : ts->contact) EXPECT_EQ(x, 0.0);
  }
  std::vector<double> F(static_cast<std::size_t>(cv.mesh.N));
  bereken_stelsel_u_Gummel(cv, F);
  EXPECT_EQ(MaxAbs(F), 0.0);
  bereken_stelsel_v_Gummel(cv, F);
  EXPECT_EQ(MaxAbs(F), 0.0);
}

TEST(ContactTunnelling, EquilibriumIsExactlyZero) {
  for (const SchottkyCase k : {SchottkyCase{true, true}, SchottkyCase{false, false}}) {
    Solved s = SolveSchottky(k, true, 0.0);
    ExpectExactEquilibrium(s.pb->cv);
    EXPECT_FALSE((k.electrons ? s.pb->cv.tunnel.n : s.pb->cv.tunnel.p).sparse.empty());
  }
}

// ---------------------------------------------------------------------------------------------
// Intraband tunnelling through a spike: an n/n (or p/p) isotype heterojunction whose right layer
// has its band edge 0.3 eV further from the Fermi level (χ 4.5 → 4.2 eV for electrons, Eg + χ
// 5.7 → 6.0 eV for holes): the carriers spill into the left layer and leave a depleted barrier in
// the right one. Unequal thicknesses, permittivities and mobilities; ohmic contacts.
InputParameters SpikeCell(bool electrons, bool tunneling, double mass = 0.1) {
  InputParameters set = NewCell(2);
  CellDefinition& c = set.cellParas;
  const double d[2] = {0.4e-6, 0.15e-6}, chi[2] = {4.5, electrons ? 4.2 : 4.5}, Eg[2] = {1.2, electrons ? 1.6 : 1.5};
  const double eps[2] = {12.0, 9.0}, mu[2] = {0.02, 0.005}, dop[2] = {1e23, 3e23};
  for (int l = 0; l < 2; ++l) {
    SetLayer(c.layer[l], {d[l], Eg[l], chi[l], eps[l], 2e24, 2e24, electrons ? dop[l] : 0.0, electrons ? 0.0 : dop[l],
                          mu[l], mu[l], l ? 1e5 : 2e5, mass});
  }
  InterfaceParameters& I = c.interface[0];
  I.intrabandTunneling = tunneling ? 1 : 0;
  I.me_rel = I.mh_rel = mass;
  return set;
}

Solved SolveSpike(bool electrons, bool tunneling, double V, double mass = 0.1) {
  return Solve(SpikeCell(electrons, tunneling, mass), V, FineMesh());
}

TEST(IntrabandTunnelling, SpikeConductsMoreAndConservesCurrent) {
  for (bool electrons : {true, false}) {
    for (double V : {0.1, -0.1}) {
      const double Vc = electrons ? V : -V;
      const Solved off = SolveSpike(electrons, false, Vc);
      const Solved on = SolveSpike(electrons, true, Vc);
      const double J = std::fabs(on.j.j_tot[1]);
      // Tunnelling through the spike adds to the thermionic emission over it.
      EXPECT_GT(J, 1.5 * std::fabs(off.j.j_tot[1])) << electrons << " " << V;
      const std::vector<double>& jt = electrons ? on.j.jn_tunnel : on.j.jp_tunnel;
      EXPECT_GT(MaxAbs(jt), 0.0);
      for (std::size_t i = 0; i < on.j.j_tot.size(); ++i) EXPECT_NEAR(on.j.j_tot[i], on.j.j_tot[1], 2e-5 * J) << i;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// A barrier layer: 5 nm of undoped material whose conduction band lies 0.4 eV higher
// (χ 4.1 eV against 4.5 eV) between two n layers of 0.1 and 0.15 µm with ND = Nc = 1e18 cm⁻³
// (the Fermi level at their band edge); m = 0.1, vth = 1e5 m/s, μn = 10 m²/Vs; tunnelling on at
// both interfaces. At equilibrium nothing is charged and the barrier is rectangular.
InputParameters BarrierCell(bool tunneling, bool bulkToBulk = false) {
  InputParameters set = NewCell(3);
  CellDefinition& c = set.cellParas;
  const double d[3] = {0.1e-6, 5e-9, 0.15e-6}, chi[3] = {4.5, 4.1, 4.5}, Nd[3] = {1e24, 0.0, 1e24};
  for (int l = 0; l < 3; ++l) {
    SetLayer(c.layer[l], {d[l], 1.5, chi[l], 12.0, 1e24, 1e24, Nd[l], 0.0, 10.0, 0.01, 1e5, 0.1});
    c.layer[l].tunneling = bulkToBulk ? 1 : 0;
  }
  for (int l = 0; l < 2; ++l) {
    c.interface[l].intrabandTunneling = tunneling ? 1 : 0;
    c.interface[l].me_rel = c.interface[l].mh_rel = 0.1;
  }
  return set;
}

// The tunnel current through the barrier at bias V [mA/cm²], with tunnelling between the two
// interfaces or bulk to bulk.
double BarrierTunnelCurrent(bool bulkToBulk, double V) {
  const Solved s = Solve(BarrierCell(!bulkToBulk, bulkToBulk), V, MeshSettings{}, 2);
  const CalculationVariables& cv = s.pb->cv;
  const double J = std::fabs(s.j.j_tot[1]);
  for (std::size_t i = 0; i < s.j.j_tot.size(); ++i) EXPECT_NEAR(s.j.j_tot[i], s.j.j_tot[1], 2e-5 * J) << i;
  return std::fabs(s.j.jn_tunnel[(cv.mesh.first[1] + cv.mesh.last[1]) / 2]);
}

TEST(BarrierLayerTunnelling, ConductanceThroughTheBarrierIsTheRectangularTransmission) {
  // In linear response the tunnel current through the barrier is
  // q·v·Nc·∫₀^φ e^(−E − 2κ(E)d) dE·(e^(V/Vt) − 1), energies in kT from the Fermi level (= the
  // band edge of the n layers), φ = 0.4 eV/Vt, κ(E) = √(2·m·m0·q·Vt·(φ − E))/ħ. The bias is
  // small: the current's own dipole shifts the bands at the barrier by about a third of V/Vt,
  // which at 0.1 mV would already lower the current by 0.2 %.
  const double Vt = 0.0259, V = 1e-6, phi = 0.4 / Vt;
  const double k0 = std::sqrt(2.0 * 0.1 * kM0 * kQe * Vt) / kHbar;
  const double integral =
      Simpson([&](double E) { return std::exp(-E - 2.0 * k0 * std::sqrt(phi - E) * 5e-9); }, 0.0, phi, 2000);
  const double expected = kQe * 1e5 * 1e24 * integral * std::expm1(V / Vt) * 0.1;  // [mA/cm²]
  EXPECT_NEAR(BarrierTunnelCurrent(false, V), expected, 1e-3 * expected);
  // Bulk to bulk the energies of the band step are cut into slices of up to 1 kT, each taken at
  // its middle: the integrand grows towards the top, and the sum falls a little short.
  const double bulk = BarrierTunnelCurrent(true, V);
  EXPECT_GT(bulk, 0.97 * expected);
  EXPECT_LE(bulk, 1.0 * expected);
}

TEST(Tunnelling, JacobianMatchesFiniteDifferencesForEveryMechanism) {
  // To a Schottky contact (electrons), through a spike (holes) and through a barrier layer
  // (between its interfaces and bulk to bulk).
  const std::function<Solved()> cases[] = {[] {
                                             return SolveSchottky({true, true}, true, 0.1);
                                           },
                                           [] { return SolveSpike(false, true, -0.1); },
                                           [] { return Solve(BarrierCell(true, false), 0.05, MeshSettings{}, 3); },
                                           [] { return Solve(BarrierCell(false, true), 0.05, MeshSettings{}, 3); }};
  const bool electrons[] = {true, false, true, true};
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    Solved s = cases[c]();
    CheckTunnellingJacobian(s.pb->cv, electrons[c], 1);
  }
}

TEST(BarrierLayerTunnelling, EquilibriumIsExactlyZero) {
  // Every mechanism at once: intraband at both interfaces, between them, and bulk to bulk; and
  // through a spike of holes.
  Solved s = Solve(BarrierCell(true, true), 0.0, MeshSettings{});
  ExpectExactEquilibrium(s.pb->cv);
  EXPECT_GT(s.pb->cv.tunnel.n.sparse.size(), 10u);
  Solved spike = SolveSpike(false, true, 0.0);
  ExpectExactEquilibrium(spike.pb->cv);
  EXPECT_FALSE(spike.pb->cv.tunnel.p.sparse.empty());
}

}  // namespace
}  // namespace zoniq
