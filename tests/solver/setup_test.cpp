// Set-up: normalisation and the calculation parameters against hand calculations, the initial
// mesh and its adaptation, the solution record as a value.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "solved_cells.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/calculation_parameters.hpp"
#include "solver/dc_solve.hpp"
#include "solver/mesh.hpp"
#include "solver/x_dependence.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(Normalisation, TemperatureAndCompensatedLayerByHand) {
  // At 600 K: Vt doubles, NC grows by 2^1.5, Dmax = sqrt(2)·0.0518·0.01 (sqrt(τ)·Vt·μ, τ = 600/300).
  CalculationParameters p;
  ASSERT_EQ(parameterset1_to_3(test::PnJunction(), MeshSettings{}, p, 600.0, nullptr), 0);
  EXPECT_DOUBLE_EQ(p.Vt, 0.0518);
  EXPECT_DOUBLE_EQ(p.layer[0].NC[0], 1e25 * std::pow(2.0, 1.5));
  EXPECT_DOUBLE_EQ(p.schaal.Dmax, std::sqrt(2.0) * 0.0518 * 0.01);
  // A compensated layer is scaled by the intrinsic density, its flat-band contact at Ei.
  InputParameters set = test::PnJunction();
  set.cellParas.layer[0].Nd = UniformProfile(5e21, DEP_UNIFORM);
  set.cellParas.layer[0].Na = UniformProfile(5e21, DEP_UNIFORM);
  ASSERT_EQ(parameterset1_to_3(set, MeshSettings{}, p, 300.0, nullptr), 0);
  const double ni = std::sqrt(1e50 * std::exp(-1.12 / 0.0259));
  EXPECT_CLOSE(p.schaal.S[0], ni, 1e-12, 0.0);
  EXPECT_CLOSE(p.Fi_left, 4.05 + 0.0259 * std::log(1e25 / ni), 1e-12, 0.0);
}

TEST(Normalisation, ThermionicEmissionUsesEachCarriersOwnVelocity) {
  // κ = min(N·v_th of both sides)/N_left [m/s], times e^(−barrier/kT) for a barrier facing the
  // left side: absorber/buffer ΔEc = −0.05 eV, ΔEv = 1.15 + 0.05 − 2.40 = −1.2 eV; buffer/window
  // ΔEc = +0.10 eV (no barrier), ΔEv = −1.0 eV. Velocities differ by 4 and 9, NC and NV across.
  InputParameters set = test::ThinFilmCell(false);
  LayerParameters &a = set.cellParas.layer[0], &b = set.cellParas.layer[1];
  a.v_th_n = UniformProfile(2e5), a.v_th_p = UniformProfile(0.5e5);
  b.v_th_n = UniformProfile(0.9e5), b.v_th_p = UniformProfile(0.1e5);
  b.Nc = UniformProfile(4e24), b.Nv = UniformProfile(1e25);
  CalculationParameters p;
  ASSERT_EQ(parameterset1_to_3(set, MeshSettings{}, p, 300.0, nullptr), 0);
  const double v = p.schaal.snelheid, Vt = 0.0259;
  EXPECT_CLOSE(p.interface[0].dEc, -0.05, 1e-12, 1e-14);
  EXPECT_CLOSE(p.interface[0].dEv, -1.2, 1e-12, 0.0);
  EXPECT_CLOSE(p.interface[0].kappa_n * v, std::min(2.2e24 * 2e5, 4e24 * 0.9e5) / 2.2e24 * std::exp(-0.05 / Vt), 1e-9,
               0.0);
  EXPECT_CLOSE(p.interface[0].kappa_p * v, std::min(1.8e25 * 0.5e5, 1e25 * 0.1e5) / 1.8e25 * std::exp(-1.2 / Vt), 1e-9,
               0.0);
  EXPECT_CLOSE(p.interface[1].kappa_n * v, std::min(4e24 * 0.9e5, 2.2e24 * 1e5) / 4e24, 1e-9, 0.0);
  EXPECT_CLOSE(p.interface[1].kappa_p * v, std::min(1e25 * 0.1e5, 1.8e25 * 1e5) / 1e25 * std::exp(-1.0 / Vt), 1e-9,
               0.0);
}

TEST(Normalisation, CellsThatCannotBeCalculatedAreRefused) {
  // Cells and convergence settings that cannot be calculated (0/0 occupation, stopped or faked
  // convergence, no solution accepted): refused with a message, the parameters left alone.
  const std::function<void(InputParameters&)> spoil[] = {
      [](InputParameters& s) { s.cellParas.numberOfLayers = 0; },
      [](InputParameters& s) { s.cellParas.layer[1].d = -1e-6; },
      [](InputParameters& s) { s.cellParas.layer[0].mu_n = UniformProfile(0.0); },
      [](InputParameters& s) { s.cellParas.layer[0].Eg = UniformProfile(std::nan("")); },
      [](InputParameters& s) { test::AddSingleLevelDefect(s, 0, 0.56, 1e20, 0.0); },
      [](InputParameters& s) { s.convergence.clamp_n = 0.0; },
      [](InputParameters& s) { s.convergence.termination_psi = std::nan(""); },
      [](InputParameters& s) { s.convergence.acceptance_step = 0.0; },  // the acceptance check refuses all
      [](InputParameters& s) { s.convergence.acceptance_step = -1.0; },
      [](InputParameters& s) { s.convergence.minimum_bias_step = -1e-3; },
  };
  for (const auto& edit : spoil) {
    InputParameters set = test::PnJunction();
    edit(set);
    CalculationParameters p;
    p.nlayers = 42;
    std::string message;
    EXPECT_EQ(parameterset1_to_3(set, MeshSettings{}, p, 300.0, nullptr, &message), -1);
    EXPECT_EQ(p.nlayers, 42);
    EXPECT_FALSE(message.empty());
  }
}

TEST(InitialMesh, ThinMediumAndThickLayers) {
  // Base material layers of 0.3 nm, 20 nm, 2 µm: LD = 40.8 nm, hL = hR = LD·sqrt(Vt/Eg) = 6.2 nm;
  // thick above 2·(hL + hR) = 24.8 nm, thin below 40·h0 = 0.4 nm (h0 = 1e-11 m).
  InputParameters set = test::PnJunction();
  CellDefinition& c = set.cellParas;
  c.numberOfLayers = 3;
  c.layer[2] = c.layer[1] = c.layer[0];
  c.layer[0].d = 0.3e-9, c.layer[1].d = 20e-9, c.layer[2].d = 2e-6;
  auto pb = test::SetUp(set);
  const MeshBlock& m = pb->cv.mesh;
  const double L = pb->par.schaal.L;
  EXPECT_EQ(m.points[0], 41);
  EXPECT_EQ(m.points[1], 43);
  EXPECT_EQ(m.points[2], 103);
  EXPECT_EQ(m.N, 41 + 43 + 103);
  EXPECT_EQ(m.x[0], 0.0);
  EXPECT_EQ(m.x[m.N - 1], 1.0);
  for (int i = m.first[0]; i < m.last[0]; ++i) EXPECT_CLOSE(m.h[i] * L, 0.3e-9 / 40.0, 1e-9, 0.0) << i;  // thin: d/40
  // Medium: h0, 40 equal intervals, h0. Thick: h0 at both ends, the graded part spans 2·hL.
  for (int l : {1, 2}) {
    EXPECT_CLOSE(m.h[m.first[l]] * L, 1e-11, 1e-6, 0.0);
    EXPECT_CLOSE(m.h[m.last[l] - 1] * L, 1e-11, 1e-6, 0.0);
  }
  for (int i = m.first[1] + 1; i < m.last[1] - 1; ++i) EXPECT_CLOSE(m.h[i] * L, (20e-9 - 2e-11) / 40.0, 1e-6, 0.0);
  const double hL = pb->par.layer[2].LD[0] * std::sqrt(0.0259 / 1.12);
  EXPECT_CLOSE(m.x[m.first[2] + 21] - m.x[m.first[2]], 2.0 * hL, 1e-9, 0.0);
  // Interfaces: two points at one position, an interval of zero between them.
  for (int l = 0; l < 2; ++l) {
    EXPECT_EQ(m.first[l + 1], m.last[l] + 1);
    EXPECT_EQ(m.x[m.first[l + 1]], m.x[m.last[l]]);
    EXPECT_EQ(m.h[m.last[l]], 0.0);
  }
  for (int i = 0; i + 1 < m.N; ++i) EXPECT_GE(m.h[i], 0.0);
}

// The pn junction (206 points), flat but for a jump of ψ over (i0 − 1, i0): its criterion exp(jump).
struct StepFixture {
  std::unique_ptr<DcProblem> pb;
  int i0 = 0;
  explicit StepFixture(double maxRatio = 1.5, double minRatio = 1.1) {
    MeshSettings ms;
    ms.recalculateMesh = 1, ms.maxRatio = maxRatio, ms.minRatio = minRatio;
    pb = test::SetUp(test::PnJunction(), ms);
    pb->par.mesh.maxRatio = maxRatio;  // the ratios as a definition file may hold them
    pb->par.mesh.minRatio = minRatio;
    i0 = pb->cv.mesh.first[0] + 40;
  }
  void Jump(double jump) {
    CalculationVariables& cv = pb->cv;
    for (int i = 0; i < cv.mesh.N; ++i) cv.psi[i] = i >= i0 ? jump : 0.0, SetCarrierValues(cv, i, 1.0, 1.0);
  }
};

TEST(AdaptiveMesh, NumberOfNewPointsPerInterval) {
  // n = round(min(ln ρ/ln Rmax − 0.5, 5)): ρ = Rmax^2.2 gives round(1.7) = 2, ρ = Rmax^5.5 and
  // more give 5, ρ = Rmax^1.2 gives round(0.7) = 1. Maximum 1.05 below minimum 1.2, as a file may
  // hold them, is governed to Rmax = 1.2: 1.2^2.2 gives 2 points (with Rmax = 1.05 it would be 5).
  for (auto [power, expected, Rmax, Rmin] : {std::tuple{2.2, 2, 1.5, 1.1},
                                             {5.5, 5, 1.5, 1.1},
                                             {9.0, 5, 1.5, 1.1},
                                             {1.2, 1, 1.5, 1.1},
                                             {2.2, 2, 1.05, 1.2}}) {
    StepFixture s(Rmax, Rmin);
    const MeshBlock before = s.pb->cv.mesh;
    s.Jump(power * std::log(std::max(Rmax, Rmin)));
    ASSERT_EQ(RecalculateIntervals(s.pb->cv, 1), 1) << power;
    const MeshBlock& m = s.pb->cv.mesh;
    ASSERT_EQ(m.N, before.N + expected) << power;
    // The interval is split into equal parts and the old point keeps its exact position.
    for (int k = 1; k <= expected + 1; ++k) {
      const double want = before.x[s.i0 - 1] + k * (before.x[s.i0] - before.x[s.i0 - 1]) / (expected + 1);
      EXPECT_NEAR(m.x[s.i0 - 1 + k], want, 1e-15) << power;
    }
    EXPECT_EQ(m.x[s.i0 + expected], before.x[s.i0]);
    EXPECT_EQ(m.last[0], before.last[0] + expected);
    EXPECT_EQ(m.first[1], before.first[1] + expected);
  }
}

TEST(AdaptiveMesh, ExactlyOneThousandPointsAndNoMore) {
  // Seven layers of 103 points (721); 279 intervals with ρ = Rmax^1.5 get one new point each:
  // 1000 points, allowed. One interval more: refused with the message, nothing changed.
  InputParameters set = test::PnJunction();
  set.cellParas.numberOfLayers = 7;
  for (int l = 0; l < 7; ++l) {
    set.cellParas.layer[l] = set.cellParas.layer[l % 2];
    set.cellParas.layer[l].d = 1e-6;
  }
  MeshSettings ms;
  ms.recalculateMesh = 1;
  for (int extra : {279, 280}) {
    auto pb = test::SetUp(set, ms);
    CalculationVariables& cv = pb->cv;
    ASSERT_EQ(cv.mesh.N, 721);
    double psi = 0.0;
    int marked = 0;
    for (int l = 0; l < 7; ++l) {
      cv.psi[cv.mesh.first[l]] = psi;
      for (int i = cv.mesh.first[l] + 1; i <= cv.mesh.last[l]; ++i) {
        if (i < cv.mesh.last[l] && marked < extra) psi += 1.5 * std::log(ms.maxRatio), ++marked;
        cv.psi[i] = psi;
      }
    }
    const MeshBlock before = cv.mesh;
    const std::vector<double> psiBefore = cv.psi;
    const int r = RecalculateIntervals(cv, 1);
    if (extra == 279) {
      EXPECT_EQ(r, 1);
      EXPECT_EQ(cv.mesh.N, 1000);
      EXPECT_TRUE(pb->ui.popups.empty());
    } else {
      EXPECT_EQ(r, -1);
      EXPECT_EQ(cv.mesh.N, 721);
      EXPECT_EQ(cv.mesh.x, before.x);
      EXPECT_EQ(cv.psi, psiBefore);
      ASSERT_EQ(pb->ui.popups.size(), 1u);
      EXPECT_EQ(pb->ui.popups[0].title, "Error");
      EXPECT_EQ(pb->ui.popups[0].message, "Not enough points for the mesh.");
      EXPECT_EQ(RecalculateIntervals(cv, 0), -1);
      EXPECT_EQ(pb->ui.popups.size(), 1u);  // no message without showMessages
    }
  }
}

}  // namespace
}  // namespace zoniq
