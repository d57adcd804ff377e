// Tunnelling: a Schottky contact against a Poisson-Boltzmann-WKB reference, a barrier layer
// against the rectangular transmission; equilibrium, conservation and the Jacobian.
#include "solver/tunneling.hpp"

#include "tunneling_cells.hpp"

namespace zoniq {
namespace {

TEST(TunnelMass, EveryChoiceOfTwoMasses) {
  // 0 smaller, 1 larger, 2 (0.1 + 0.4)/2, 3 √0.04, 4 0.04/0.5, 5 unknown: as 0.
  const double expected[] = {0.1, 0.4, 0.25, 0.2, 0.08, 0.1};
  for (int choice = 0; choice < 6; ++choice)
    EXPECT_NEAR(ChooseTunnelMass(0.1, 0.4, choice), expected[choice], 1e-15) << choice;
}

// One layer of 0.2 µm, majority density 1e18 cm⁻³ = its band's density of states, a 0.6 eV
// barrier (5.1 eV metal, χ 4.5, Eg 1.2 eV) at one contact; m = 0.1, S = 1e5 m/s, μ = 10 m²/Vs
// (flat quasi-Fermi level), εr = 12. `e`: n-type layer, else p-type.
InputParameters SchottkyCell(bool e, bool left, bool tunneling) {
  InputParameters set = NewCell(1);
  SetLayer(set.cellParas.layer[0], {0.2e-6, 1.2, 4.5, 12.0, e ? 1e24 : 1e25, e ? 1e25 : 1e24, e ? 1e24 : 0.0,
                                    e ? 0.0 : 1e24, e ? 10.0 : 0.005, e ? 0.005 : 10.0, 1e5, 1e5, 0.1});
  ContactParameters& barrier = left ? set.cellParas.leftContact : set.cellParas.rightContact;
  barrier.flatband = 0, barrier.Fi_m = 5.1, barrier.Sn = barrier.Sp = 1e5;
  barrier.tunneling = tunneling ? 1 : 0;
  barrier.me_rel = barrier.mh_rel = 0.1;
  return set;
}

MeshSettings FineMesh() {
  MeshSettings m;
  m.recalculateMesh = 1, m.maxRatio = 1.1, m.minRatio = 1.0;
  return m;
}

Solved SolveSchottky(bool electrons, bool left, bool tunneling, double V, MeshSettings mesh = {}) {
  return Solve(SchottkyCell(electrons, left, tunneling), electrons == left ? V : -V, mesh);
}

// J [mA/cm²] over and through the barrier: band bending φ [kT] from Poisson-Boltzmann,
// dφ/dx = √(2(φ + e^−φ − 1))/L_D, L_D² = εkT/(q²N); J = q·S·N·(e^V − 1)·[e^−φB +
// e^−V·∫₀^φ0 e^(−E−θ(E)) dE], φ0 = φB − V, θ(E) = (2√(2·m·m0·q·Vt)/ħ)·∫_E^φ0 √(φ − E) dx.
double SchottkyReference(double V) {
  const double N = 1e24, S = 1e5, m = 0.1, eps = 12.0;
  const double LD = std::sqrt(eps * 8.854e-12 * kVt / (kQe * N)),
               coef = 2.0 * std::sqrt(2.0 * m * kM0 * kQe * kVt) / kHbar;
  const double phiB = 0.6 / kVt, v = V / kVt, phi0 = phiB - v;
  auto field = [](double p) { return p < 1e-6 ? p * std::sqrt(1.0 - p / 3.0) : std::sqrt(2.0 * (p + std::expm1(-p))); };
  auto theta = [&](double e) {  // φ = e + t², dφ = 2t dt removes the square-root end points
    auto f = [&](double t) { return e + t * t <= 0.0 ? 2.0 * LD : 2.0 * t * t * LD / field(e + t * t); };
    return coef * Simpson(f, 0.0, std::sqrt(phi0 - e), 400);
  };
  const double tunnel = Simpson([&](double e) { return std::exp(-e - theta(e)); }, 0.0, phi0, 400);
  return kQe * S * N * std::expm1(v) * (std::exp(-phiB) + std::exp(-v) * tunnel) * 0.1;
}

TEST(ContactTunnelling, SchottkyForwardCurrentMatchesPoissonBoltzmannWkb) {
  // The reference's figures at 0.05, 0.10, 0.15 V: 75.49, 446.78, 2337.6 mA/cm².
  const double published[] = {75.49, 446.78, 2337.6};
  for (const auto& [electrons, left] : {std::pair{true, true}, {true, false}, {false, true}, {false, false}}) {
    for (int n = 0; n < 3; ++n) {
      const double V = 0.05 * (n + 1), ref = SchottkyReference(V);
      EXPECT_NEAR(ref, published[n], 1e-4 * published[n]);
      const Solved s = SolveSchottky(electrons, left, true, V, FineMesh());
      const double J = std::fabs(s.j.j_tot[1]);
      EXPECT_NEAR(J, ref, 1e-3 * ref) << electrons << left << " V " << V;
      // Current conservation where the carriers tunnel (the flat bulk carries round-off at μ = 10).
      const std::size_t near = left ? 1 : s.j.j_tot.size() - 2;
      int tunnelPoints = 0;
      for (std::size_t i = 0; i < s.j.j_tot.size(); ++i) {
        if (s.j.jn_tunnel[i] == 0.0 && s.j.jp_tunnel[i] == 0.0) continue;
        ++tunnelPoints;
        EXPECT_NEAR(s.j.j_tot[i], s.j.j_tot[near], 2e-5 * J) << i;
      }
      EXPECT_GT(tunnelPoints, 20);
    }
  }
  // Off: over the barrier alone, q·S·N·e^(−φB/Vt)·(e^(V/Vt) − 1) = 0.8206 mA/cm² at 0.05 V.
  const Solved off = SolveSchottky(true, true, false, 0.05);
  const double thermionic = kQe * 1e5 * 1e24 * std::exp(-0.6 / kVt) * std::expm1(0.05 / kVt) * 0.1;
  EXPECT_NEAR(std::fabs(off.j.j_tot[1]), thermionic, 2e-3 * thermionic);
  EXPECT_EQ(MaxAbs(off.j.jn_tunnel) + MaxAbs(off.j.jp_tunnel), 0.0);
}

// An n/n (p/p) heterojunction whose right band edge lies 0.3 eV further from the Fermi level: a
// depleted spike. Unequal thicknesses, permittivities, mobilities and thermal velocities.
Solved SolveSpike(bool electrons, bool tunneling, double V) {
  InputParameters set = NewCell(2);
  CellDefinition& c = set.cellParas;
  const double d[2] = {0.4e-6, 0.15e-6}, chi[2] = {4.5, electrons ? 4.2 : 4.5}, Eg[2] = {1.2, electrons ? 1.6 : 1.5};
  const double eps[2] = {12.0, 9.0}, mu[2] = {0.02, 0.005}, dop[2] = {1e23, 3e23}, vth[2] = {2e5, 1e5};
  for (int l = 0; l < 2; ++l)
    SetLayer(c.layer[l], {d[l], Eg[l], chi[l], eps[l], 2e24, 2e24, electrons ? dop[l] : 0.0, electrons ? 0.0 : dop[l],
                          mu[l], mu[l], vth[l], vth[l], 0.1});
  c.interface[0].intrabandTunneling = tunneling ? 1 : 0;
  c.interface[0].me_rel = c.interface[0].mh_rel = 0.1;
  return Solve(set, V, FineMesh());
}

// 5 nm undoped, EC 0.4 eV higher (χ 4.1 against 4.5 eV), between n layers (0.1, 0.15 µm) with
// ND = Nc = 1e18 cm⁻³; m = 0.1, μn = 10 m²/Vs: a rectangular barrier at equilibrium.
InputParameters BarrierCell(bool interfaces, bool bulkToBulk) {
  InputParameters set = NewCell(3);
  CellDefinition& c = set.cellParas;
  const double d[3] = {0.1e-6, 5e-9, 0.15e-6}, chi[3] = {4.5, 4.1, 4.5}, Nd[3] = {1e24, 0.0, 1e24};
  for (int l = 0; l < 3; ++l) {
    SetLayer(c.layer[l], {d[l], 1.5, chi[l], 12.0, 1e24, 1e24, Nd[l], 0.0, 10.0, 0.01, 1e5, 1e5, 0.1});
    c.layer[l].tunneling = bulkToBulk ? 1 : 0;
  }
  for (int l = 0; l < 2; ++l) {
    c.interface[l].intrabandTunneling = interfaces ? 1 : 0;
    c.interface[l].me_rel = c.interface[l].mh_rel = 0.1;
  }
  return set;
}

// The tunnel current in the barrier [mA/cm²], the total current conserved.
double BarrierTunnelCurrent(bool interfaces, bool bulkToBulk, double V,
                            std::vector<RecordingUserInterface::Popup>* popups = nullptr) {
  const Solved s = Solve(BarrierCell(interfaces, bulkToBulk), V, MeshSettings{}, 2);
  const CalculationVariables& cv = s.pb->cv;
  const double J = std::fabs(s.j.j_tot[1]);
  for (std::size_t i = 0; i < s.j.j_tot.size(); ++i) EXPECT_NEAR(s.j.j_tot[i], s.j.j_tot[1], 2e-5 * J) << i;
  if (popups) *popups = s.pb->ui.popups;
  return std::fabs(s.j.jn_tunnel[(cv.mesh.first[1] + cv.mesh.last[1]) / 2]);
}

TEST(BarrierLayerTunnelling, ConductanceIsTheRectangularTransmissionAndEachPathCountsOnce) {
  // Linear response: q·v·Nc·∫₀^φ e^(−E − 2κ(E)d) dE·(e^(V/Vt) − 1), E in kT, φ = 0.4 eV/Vt,
  // κ(E) = √(2·m·m0·q·Vt·(φ − E))/ħ. (At 0.1 mV the current's dipole would cost 0.2 %.)
  const double V = 1e-6, phi = 0.4 / kVt, k0 = std::sqrt(2.0 * 0.1 * kM0 * kQe * kVt) / kHbar;
  const double integral =
      Simpson([&](double E) { return std::exp(-E - 2.0 * k0 * std::sqrt(phi - E) * 5e-9); }, 0.0, phi, 2000);
  const double expected = kQe * 1e5 * 1e24 * integral * std::expm1(V / kVt) * 0.1;  // [mA/cm²]
  const double interfaces = BarrierTunnelCurrent(true, false, V);
  EXPECT_NEAR(interfaces, expected, 1e-3 * expected);
  // Bulk to bulk, 1 kT slices at their middle fall a little short.
  const double bulk = BarrierTunnelCurrent(false, true, V);
  EXPECT_GT(bulk, 0.97 * expected);
  EXPECT_LE(bulk, 1.0 * expected);
  // Both on: each path counts once, and the user is told so per interface and side (4 times).
  std::vector<RecordingUserInterface::Popup> popups;
  EXPECT_NEAR(BarrierTunnelCurrent(true, true, V, &popups), interfaces, 1e-6 * interfaces);
  int told = 0;
  for (const auto& p : popups) told += p.message.find("are counted once") != std::string::npos;
  EXPECT_EQ(told, 4);
}

TEST(Tunnelling, EquilibriumIsExactlyZeroForEveryMechanism) {
  // Schottky contacts, a barrier with every mechanism, a spike: every flux and residual is 0.
  std::vector<Solved> cases;
  cases.push_back(SolveSchottky(true, true, true, 0.0));
  cases.push_back(SolveSchottky(false, false, true, 0.0));
  cases.push_back(Solve(BarrierCell(true, true), 0.0));
  cases.push_back(SolveSpike(false, true, 0.0));
  const std::size_t sparse[][2] = {{1, 0}, {0, 1}, {11, 0}, {0, 1}};  // least sparse elements (n, p)
  for (std::size_t c = 0; c < cases.size(); ++c) {
    CalculationVariables& cv = cases[c].pb->cv;
    for (int carrier : {kElectrons, kHoles}) CalculateTunnelling(cv, carrier);
    EXPECT_TRUE(cv.tunnel.present);
    EXPECT_GE(cv.tunnel.n.sparse.size(), sparse[c][0]) << c;
    EXPECT_GE(cv.tunnel.p.sparse.size(), sparse[c][1]) << c;
    for (const CarrierTunnelState* ts : {&cv.tunnel.n, &cv.tunnel.p}) {
      EXPECT_EQ(MaxAbs(ts->current), 0.0) << c;
      for (double x : ts->ifaceLeft) EXPECT_EQ(x, 0.0) << c;
      for (double x : ts->ifaceRight) EXPECT_EQ(x, 0.0) << c;
      for (double x : ts->contact) EXPECT_EQ(x, 0.0) << c;
    }
    std::vector<double> F(static_cast<std::size_t>(cv.mesh.N));
    bereken_stelsel_u_Gummel(cv, F);
    EXPECT_EQ(MaxAbs(F), 0.0) << c;
    bereken_stelsel_v_Gummel(cv, F);
    EXPECT_EQ(MaxAbs(F), 0.0) << c;
  }
}

TEST(Tunnelling, JacobianMatchesFiniteDifferencesForEveryMechanism) {
  const std::function<Solved()> cases[] = {[] { return SolveSchottky(true, true, true, 0.1); },
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

}  // namespace
}  // namespace zoniq
