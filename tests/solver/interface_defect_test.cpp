// Interface defects: level energies on every reference, a thin slab's analytic recombination,
// acceptor and donor charge in a device, allocation-free solving and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "allocation_counter.hpp"
#include "solved_cells.hpp"
#include "solver/dc_solve.hpp"
#include "solver/equations.hpp"
#include "solver/gummel.hpp"
#include "solver/interface_recombination.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr double kVt = 0.0259;

using test::AddInterfaceDefect;
using test::DefectiveHeterojunction;

TEST(InterfaceLevel, ReferenceCodesPlaceTheLevelOnTheRightBandEdge) {
  // Conduction-band offsets of 0.2 eV of either sign; the level from the absolute band edges
  // (Ec = −χ, Ev = −χ − Eg, Ei = Ev + Eg/2 + (Vt/2)·ln(NV/NC)), measured from Ev of the left side.
  for (const auto& [Eg_p, chi_p, Eg_f, chi_f] : {std::array{1.15, 4.50, 2.40, 4.30}, {2.40, 4.20, 1.20, 4.40}}) {
    InterfaceSides s;
    s.Eg_p = Eg_p, s.chi_p = chi_p, s.Eg_f = Eg_f, s.chi_f = chi_f;
    s.NC_p = 2.0, s.NV_p = 30.0, s.NC_f = 0.5, s.NV_f = 4.0;
    const double Ec_p = -chi_p, Ev_p = Ec_p - Eg_p, Ec_f = -chi_f, Ev_f = Ec_f - Eg_f;
    const double Ei_p = Ev_p + Eg_p / 2 + kVt / 2 * std::log(s.NV_p / s.NC_p);
    const double Ei_f = Ev_f + Eg_f / 2 + kVt / 2 * std::log(s.NV_f / s.NC_f);
    const double E = 0.3;
    const double Ev = std::max(Ev_p, Ev_f);
    const int codes[] = {3, 0, 4, 5, 6, 7, 2};
    const double levels[] = {Ev + E, Ev + E, std::min(Ec_p, Ec_f) - E, Ei_p + E, Ei_f + E, Ev_f + E, Ev + E};
    for (int k = 0; k < 7; ++k) {
      const int code = codes[k];
      const double absolute = levels[k];
      InterfaceDefectInput d;
      d.reference = code;
      EXPECT_NEAR(InterfaceLevelAboveEvLeft(d, s, E), absolute - Ev_p, 1e-12) << "code " << code << " Eg_p " << Eg_p;
    }
  }
}

TEST(InterfaceDefects, ThinSlabRecombinesAtTheAnalyticVelocity) {
  // One p-type material in two layers (d = 0.4 + 0.6 µm), contacts that take no electrons,
  // uniform generation G, a neutral midgap interface defect: at 0 V all generated electrons
  // recombine there, G·d = S·Δn, S = (σn_left + σn_right)·vth·Nt (trap nearly empty). S·d/D < 2 %:
  // Δn is uniform and the quasi-Fermi level splitting is kT·ln((n0 + Δn)(NA + Δn)/ni²).
  const test::PnOptions o{0.4e-6, 0.6e-6};
  InputParameters base = test::PnJunction(o);
  CellDefinition& c = base.cellParas;
  c.layer[1].Nd = UniformProfile(0.0, c.layer[1].Nd.dependence);
  c.layer[1].Na = UniformProfile(o.NA, c.layer[1].Na.dependence);
  c.leftContact.Sn = c.rightContact.Sn = 0.0;
  const double ni2 = 1e50 * std::exp(-1.12 / kVt), n0 = ni2 / o.NA, G = 4e23;  // [1/m³s]
  for (double Nt : {1e12, 1e13, 1e14}) {
    InputParameters set = base;
    AddInterfaceDefect(set, 0, DT_NEUTRAL, 0.0, 5, Nt, {1e-19, 3e-19, 1e-18, 1e-18});
    auto pb = test::SetUp(set);
    CalculationVariables& cv = pb->cv;
    ASSERT_EQ(SolveEquilibrium(cv), 0);
    const Schaal& s = pb->par.schaal;
    for (int i = 0; i < cv.mesh.N; ++i) cv.G[i] = G * s.L * s.L / (s.S[0] * s.Dmax);
    ASSERT_EQ(los_totaal_dc_stelsel_op_Gummel(cv), 0);
    ASSERT_GT(cv.teller, 0);
    const double S = 4e-19 * 1e5 * Nt;
    const double dn = G * 1e-6 / S;
    const double expected = kVt * std::log((n0 + dn) * (o.NA + dn) / ni2);
    const int p = cv.mesh.last[0];
    const double split = kVt * std::log((cv.u0[p] + cv.u[p]) * (cv.v0[p] + cv.v[p]));
    EXPECT_NEAR(split, expected, 2e-3) << "Nt " << Nt;
  }
}

TEST(InterfaceDefects, ChargedAcceptorBendsTheBandsAsGaussLawSays) {
  // The pn junction with 1e12 cm⁻² acceptor-like defects 0.15 eV below midgap: (1) σ = −q·Nt·f
  // with f from the solved densities at both points; (2) the p side's band bending is the
  // depletion result with that σ: q·NA·xp²/(2ε) + kT, ND·xn = NA·xp − σ/q, q·(NA·xp² +
  // ND·xn²)/(2ε) = Vbi − 2kT (each side's majority tail takes kT).
  const test::PnOptions o;
  InputParameters set = test::PnJunction(o);
  const double Nt = 1e16;
  const std::array<double, 4> sig{1e-19, 4e-19, 2e-19, 8e-19};
  AddInterfaceDefect(set, 0, DT_ACCEPTOR, -0.15, 5, Nt, sig);
  auto pb = test::SetUp(set);
  CalculationVariables& cv = pb->cv;
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  ASSERT_GE(ComputeDefectTerms(cv), 0);
  const int p = cv.mesh.last[0], f = p + 1;
  const Schaal& s = pb->par.schaal;
  // (1) f from the densities [1/m³] and the level: n1 = ni·e^((E − Ei)/kT), p1 = ni²/n1.
  const double ni = std::sqrt(1e50 * std::exp(-1.12 / kVt));
  const double n1 = ni * std::exp(-0.15 / kVt), p1 = ni * ni / n1;
  auto dens = [&](int i, bool electrons) {
    const int l = i <= p ? 0 : 1;
    return s.S[l] *
           (electrons ? cv.pt.Nn[i] * cv.Eplus[i] * (cv.u0[i] + cv.u[i]) : cv.pt.Np[i] * cv.Emin[i] * (cv.v0[i] + cv.v[i]));
  };
  const double A = sig[0] * dens(p, true) + sig[1] * dens(f, true) + (sig[2] + sig[3]) * p1;
  const double B = (sig[0] + sig[1]) * n1 + sig[2] * dens(p, false) + sig[3] * dens(f, false);
  const double occ = A / (A + B);
  EXPECT_GT(occ, 0.05);
  EXPECT_LT(occ, 0.95);
  const double sigma = cv.ifr.sigma[0];
  EXPECT_CLOSE(sigma, -kQ * Nt * occ, 1e-9, 0.0);
  // (2) Depletion: solve for xp.
  const double eps = 11.9 * kEps0;
  const double Vbi = kVt * std::log(o.NA * o.ND / (ni * ni));
  auto excess = [&](double xp) {
    const double xn = (o.NA * xp - sigma / kQ) / o.ND;
    return kQ * (o.NA * xp * xp + o.ND * xn * xn) / (2 * eps) - (Vbi - 2 * kVt);
  };
  double lo = 0.0, hi = 5e-6;
  for (int k = 0; k < 200; ++k) (excess(0.5 * (lo + hi)) > 0 ? hi : lo) = 0.5 * (lo + hi);
  const double xp = 0.5 * (lo + hi);
  const double Vp = kQ * o.NA * xp * xp / (2 * eps) + kVt;
  const double bending = kVt * (cv.psi[p] - cv.psi[0]);
  // Without the sheet the p side would take Vbi·ND/(NA + ND) ≈ 0.75 V.
  EXPECT_NEAR(bending, Vp, 0.2 * kVt) << "depletion estimate " << Vp;
  EXPECT_GT(std::fabs(bending - (Vbi - 2 * kVt) * o.ND / (o.NA + o.ND)), 10 * kVt);
}

TEST(InterfaceDefects, EmptyDonorCarriesTheFullPositiveCharge) {
  // Donor-like levels 0.05 eV below EC at a p⁺n junction (NA = 1e23, ND = 1e22 /m³, Fermi level
  // near EV): empty to 1e-6, σ = +q·Nt.
  InputParameters set = test::PnJunction({5e-6, 1e-6, 1e23, 1e22});
  const double Nt = 1e13;
  AddInterfaceDefect(set, 0, DT_DONOR, 0.05, 4, Nt, {1e-19, 2e-19, 3e-19, 4e-19});
  auto pb = test::SetUp(set);
  ASSERT_EQ(SolveEquilibrium(pb->cv), 0);
  ASSERT_GE(ComputeDefectTerms(pb->cv), 0);
  EXPECT_CLOSE(pb->cv.ifr.sigma[0], kQ * Nt, 1e-6, 0.0);
  EXPECT_GT(pb->cv.ifr.sigma[0], 0.0);
}

TEST(Allocation, NoneWhileSolvingBiasPoints) {
  // Arrays (defect records included) are sized at set-up: solving allocates nothing.
  auto pb = test::SetUp(DefectiveHeterojunction());
  CalculationVariables& cv = pb->cv;
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  ASSERT_EQ(SolveDarkBias(cv, 0.2, 2), 0);
  const long before = test::AllocationCount();
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  ASSERT_EQ(SolveDarkBias(cv, 0.6, 5), 0);
  ASSERT_GT(CoupledNewton(cv), 0);
  EXPECT_EQ(test::AllocationCount() - before, 0);
}

TEST(InterfaceDefects, RejectedDefinitionsNameTheDefect) {
  const std::pair<std::function<void(InterfaceRecombinationParameters&)>, const char*> cases[] = {
      {[](auto& d) { d.N = -1.0; }, "defect density"},
      {[](auto& d) { d.sigma_pright = std::nan(""); }, "cross section"},
      {[](auto& d) { d.type = 5; }, "charge type"},
      {[](auto& d) { d.distribution = ED_GAUSS, d.Ekar = 0.0; }, "characteristic energy"},
      {[](auto& d) { d.reference = 9; }, "reference"},
  };
  for (const auto& [spoil, words] : cases) {
    InputParameters set = test::ThinFilmCell(false);
    spoil(AddInterfaceDefect(set, 1, DT_NEUTRAL, 0.5, 3, 1e14, {1e-19, 1e-19, 1e-19, 1e-19}));
    DcProblem pb;
    EXPECT_EQ(SetUpDcProblem(pb, set, MeshSettings{}), -1);
    EXPECT_NE(pb.ctx.lastMessage.find("Interface 2, interface defect 1"), std::string::npos) << pb.ctx.lastMessage;
    EXPECT_NE(pb.ctx.lastMessage.find(words), std::string::npos) << pb.ctx.lastMessage;
  }
}

}  // namespace
}  // namespace zoniq
