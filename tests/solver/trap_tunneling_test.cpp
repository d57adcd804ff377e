// Trap-assisted tunnelling into interface defects, in an n⁺/i/p⁺ stack: exact equilibrium, the
// enhanced recombination against the Hurkx integral of the triangular barrier, current
// conservation, the Jacobian and the coupled iteration.
#include "tunneling_cells.hpp"

namespace zoniq {
namespace {

// Hurkx's enhancement for a uniform field F [V/m] and a trap ΔE [eV] below the band at the
// trap: Γ = ∫₀^(ΔE/kT) exp(u − K·u^1.5) du, K = (4/3)·√(2·m·m0)·(kT)^1.5/(ħ·q·F), the WKB
// exponent of the triangular barrier between the turning point and the trap.
double HurkxGamma(double F, double dE, double m) {
  const double kT = kVt * kQe;
  const double K = 4.0 / 3.0 * std::sqrt(2.0 * m * kM0) * std::pow(kT, 1.5) / (kHbar * kQe * F);
  return Simpson([&](double u) { return std::exp(u - K * std::pow(u, 1.5)); }, 0.0, dE / kVt, 4000);
}

// n⁺ (Eg 2.4 eV, χ 4.5 eV, 50 nm) / undoped (Eg 1.2, χ 4.2 eV, 30 nm) / p⁺ (200 nm), doping at
// the band's density of states. EC steps up 0.3 eV into the undoped layer, which stays
// uncharged: its band falls linearly, a triangular barrier for holes tunnelling to a neutral
// trap 0.6 eV above its EV at the first interface. The n⁺ side fills the trap, so the hole
// capture, growing by 1 + Γ_p with tunnelling, limits the recombination.
InputParameters TrapCell(bool tunneling, double mass = 0.1, double Nt = 1e15) {
  InputParameters set = NewCell(3);
  CellDefinition& c = set.cellParas;
  SetLayer(c.layer[0], {50e-9, 2.4, 4.5, 10.0, 1e24, 1e24, 1e24, 0.0, 0.01, 0.002, 1e5, 2e5, 0.3});
  SetLayer(c.layer[1], {30e-9, 1.2, 4.2, 10.0, 1e24, 1e24, 0.0, 0.0, 0.02, 0.005, 1e5, 2e5, 0.3});
  SetLayer(c.layer[2], {200e-9, 1.2, 4.2, 10.0, 1e24, 1e24, 0.0, 1e24, 0.02, 0.005, 1e5, 2e5, 0.3});
  c.interface[0].numberOfDefects = 1;
  InterfaceRecombinationParameters& d = c.interface[0].ifr[0];
  d.type = DT_NEUTRAL, d.N = Nt, d.Et = 0.6;
  d.reference = 3;  // above the higher valence band edge: that of the undoped layer
  d.sigma_nleft = 1e-18, d.sigma_nright = 3e-19, d.sigma_pleft = 2e-19, d.sigma_pright = 1e-19;
  d.tunneling = tunneling ? 1 : 0;
  d.me_rel = mass > 1.0 ? mass : 0.2;
  d.mh_rel = mass;
  // The heavier of the defect's and the layer's mass: a heavy defect mass is a heavy path.
  set.convergence.TunnelMassChoice = mass > 1.0 ? 1 : 0;
  return set;
}

Solved SolveTrap(const InputParameters& set, double V) { return Solve(set, V, {}, 1); }

TEST(InterfaceTrapTunnelling, EveryFluxVanishesAtEquilibrium) {
  // Detailed balance channel by channel: each of the eight interface fluxes and both tunnel
  // currents is round-off, far below its value at 0.2 V forward; the interface fluxes' round-off
  // is set by the largest product (the n⁺ side's electrons dominate every bracket).
  auto fluxes = [](double V) {
    Solved s = SolveTrap(TrapCell(true), V);
    CalculationVariables& cv = s.pb->cv;
    EXPECT_EQ(ComputeDefectTerms(cv), 1);
    for (int carrier : {kElectrons, kHoles}) CalculateTunnelling(cv, carrier);
    const InterfaceTermBlock& b = cv.ifr;
    const InterfaceLevelRecord& r = cv.ifrec.iface[0][0].records[0];
    EXPECT_GT(r.gamma[kNLeft], 0.0);
    EXPECT_GT(r.gamma[kPRight], 1.0);
    EXPECT_EQ(r.gamma[kPLeft], 0.0);  // the hole band of the n⁺ side rises away from the trap
    EXPECT_FALSE(cv.tunnel.p.sparse.empty());
    return std::array<double, 10>{b.Fn_left[0],
                                  b.Fn_right[0],
                                  b.Fp_left[0],
                                  b.Fp_right[0],
                                  b.Fn_left_t[0],
                                  b.Fn_right_t[0],
                                  b.Fp_left_t[0],
                                  b.Fp_right_t[0],
                                  MaxAbs(cv.tunnel.n.current),
                                  MaxAbs(cv.tunnel.p.current)};
  };
  const std::array<double, 10> eq = fluxes(0.0), fw = fluxes(-0.2);
  const double largest = MaxAbs({fw.begin(), fw.begin() + 8});
  for (int k = 0; k < 10; ++k) {
    EXPECT_NE(fw[k], 0.0) << k;
    EXPECT_LT(std::fabs(eq[k]), 1e-12 * (k < 8 ? largest : std::fabs(fw[k]))) << k;
  }
}

TEST(InterfaceTrapTunnelling, HoleCaptureGrowsByTheTriangularBarrierEnhancement) {
  // Forward bias (the p⁺ side lowered). The field where the holes tunnel from the potential drop
  // over the first 10 nm of the undoped layer [V/m].
  const Solved off = SolveTrap(TrapCell(false), -0.2), on = SolveTrap(TrapCell(true), -0.2);
  const Solved heavy = SolveTrap(TrapCell(true, 1e10), -0.2);
  const CalculationVariables& cv = on.pb->cv;
  const int f = cv.mesh.first[1];
  int k = f;
  while (cv.mesh.xm[k + 1] - cv.mesh.xm[f] <= 10e-9) ++k;
  const double F = std::fabs(cv.psi[k] - cv.psi[f]) * kVt / (cv.mesh.xm[k] - cv.mesh.xm[f]);
  EXPECT_GT(F, 1e7);
  const double gamma = HurkxGamma(F, 0.6, 0.1);
  EXPECT_GT(gamma, 5.0);
  // All hole capture from the undoped side against that without tunnelling: 1 + Γ while the
  // trap stays full. Field and hole quasi-Fermi level are uniform to within the few free
  // carriers and the recombination current's drop; 0.5 % covers these and the slicing.
  const double ratio = on.pb->cv.ifr.Fp_right_t[0] / off.pb->cv.ifr.Fp_right[0];
  EXPECT_NEAR(ratio, 1.0 + gamma, 5e-3 * (1.0 + gamma));
  EXPECT_GT(on.pb->cv.ifrec.iface[0][0].records[0].f, 0.999);
  // The direct part alone stays that without tunnelling.
  EXPECT_NEAR(on.pb->cv.ifr.Fp_right[0], off.pb->cv.ifr.Fp_right[0], 0.02 * std::fabs(off.pb->cv.ifr.Fp_right[0]));
  // The current grows by the added recombination, q·ΔF in the undoped layer's scale [mA/cm²].
  const Schaal& sc = cv.par->schaal;
  const double added = kQ * sc.S[1] * sc.Dmax / sc.L * 0.1 * (on.pb->cv.ifr.Fp_right_t[0] - off.pb->cv.ifr.Fp_right[0]);
  EXPECT_GT(added, 0.0);
  EXPECT_NEAR(std::fabs(on.j.j_tot[1]) - std::fabs(off.j.j_tot[1]), added, 0.02 * added);
  // An unbearably heavy hole is no tunnelling.
  EXPECT_NEAR(heavy.j.j_tot[1], off.j.j_tot[1], 1e-9 * std::fabs(off.j.j_tot[1]));
  // The current is the same through every point, the tunnel currents included.
  const double J = std::fabs(on.j.j_tot[1]);
  EXPECT_GT(MaxAbs(on.j.jp_tunnel), 0.1 * J);
  for (std::size_t i = 0; i < on.j.j_tot.size(); ++i) EXPECT_NEAR(on.j.j_tot[i], on.j.j_tot[1], 2e-5 * J) << i;
}

TEST(InterfaceTrapTunnelling, JacobianMatchesFiniteDifferences) {
  // A dense trap (1e15 cm⁻²), so that its couplings between the tunnelling points stand out.
  for (bool electrons : {true, false}) {
    SCOPED_TRACE(electrons);
    Solved s = SolveTrap(TrapCell(true, 0.1, 1e19), 0.0);
    CheckTunnellingJacobian(s.pb->cv, electrons, 21);  // more than 20 sparse elements
  }
}

TEST(InterfaceTrapTunnelling, CoupledNewtonReachesTheGummelSolution) {
  // Neighbouring trap-tunnelling terms in the band, longer couplings fixed: from equilibrium the
  // coupled iteration reaches Gummel's state at a forward bias of 0.1 V.
  const Solved gummel = SolveTrap(TrapCell(true), -0.1);
  Solved s = SolveTrap(TrapCell(true), 0.0);
  CalculationVariables& cv = s.pb->cv;
  Set_an_And_ap(cv, -0.1);
  ASSERT_GT(CoupledNewton(cv), 0);
  CurrentDensities j;
  extraheer_stroom(cv, j);
  const double J = gummel.j.j_tot[1];
  EXPECT_NE(J, 0.0);
  EXPECT_NEAR(j.j_tot[1], J, 1e-6 * std::fabs(J));
  EXPECT_NEAR(cv.ifr.Fp_right_t[0], gummel.pb->cv.ifr.Fp_right_t[0], 1e-6 * std::fabs(gummel.pb->cv.ifr.Fp_right_t[0]));
}

}  // namespace
}  // namespace zoniq
