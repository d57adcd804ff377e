// Normalisation and the calculation parameters against hand calculations; the solution record
// as a value.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

#include "solver/bias_stepping.hpp"
#include "solver/calculation_parameters.hpp"
#include "solver/dc_solve.hpp"
#include "solver/x_dependence.hpp"
#include "test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(Normalisation, PnJunctionScalesByHand) {
  CalculationParameters p;
  ASSERT_EQ(parameterset1_to_3(test::PnJunction(), MeshSettings{}, p, 300.0, nullptr), 0);
  EXPECT_EQ(p.Vt, 0.0259);  // exactly at 300 K
  EXPECT_DOUBLE_EQ(p.schaal.L, 6e-6);
  EXPECT_DOUBLE_EQ(p.schaal.Dmax, 0.0259 * 0.01);  // sqrt(τ)·Vt·μ with τ = 1
  EXPECT_DOUBLE_EQ(p.schaal.S[0], 1e22);           // |ND − NA| of the base
  EXPECT_DOUBLE_EQ(p.schaal.S[1], 1e23);
  // λ0 = Vt·ε·ε0/(q·S·L²) = 0.0259·11.9·8.854e-12/(1.602e-19·1e22·3.6e-11) = 4.7322e-5.
  EXPECT_CLOSE(p.schaal.lambda[0], 4.7322e-5, 1e-4, 0.0);
  // Flat-band contacts: p-type χ + Eg − Vt·ln(NV/NA) = 5.17 − 0.0259·ln(1000) = 4.991088 eV;
  // n-type χ + Vt·ln(NC/ND) = 4.05 + 0.0259·ln(100) = 4.169274 eV.
  EXPECT_CLOSE(p.Fi_left, 4.991088, 1e-6, 0.0);
  EXPECT_CLOSE(p.Fi_right, 4.169274, 1e-6, 0.0);
  EXPECT_DOUBLE_EQ(p.Sn_left, 1e7 / (0.0259 * 0.01 / 6e-6));  // contact velocities over Dmax/L
  // At 600 K: Vt doubles, NC grows by 2^1.5, Dmax = sqrt(2)·0.0518·0.01.
  ASSERT_EQ(parameterset1_to_3(test::PnJunction(), MeshSettings{}, p, 600.0, nullptr), 0);
  EXPECT_DOUBLE_EQ(p.Vt, 0.0518);
  EXPECT_DOUBLE_EQ(p.layer[0].NC[0], 1e25 * std::pow(2.0, 1.5));
  EXPECT_DOUBLE_EQ(p.schaal.Dmax, std::sqrt(2.0) * 0.0518 * 0.01);
  // A compensated layer is scaled by the intrinsic density, its contact at Ei.
  InputParameters set = test::PnJunction();
  set.cellParas.layer[0].Nd = UniformProfile(5e21, DEP_UNIFORM);
  set.cellParas.layer[0].Na = UniformProfile(5e21, DEP_UNIFORM);
  ASSERT_EQ(parameterset1_to_3(set, MeshSettings{}, p, 300.0, nullptr), 0);
  const double ni = std::sqrt(1e50 * std::exp(-1.12 / 0.0259));
  EXPECT_CLOSE(p.schaal.S[0], ni, 1e-12, 0.0);
  EXPECT_CLOSE(p.Fi_left, 4.05 + 0.0259 * std::log(1e25 / ni), 1e-12, 0.0);
}

TEST(Normalisation, ThermionicEmissionUsesEachCarriersOwnVelocity) {
  // κ of each carrier is the smaller N·v_th of the two sides over N of the left side [m/s],
  // times e^(−barrier/kT) when the barrier faces the left side. Absorber → buffer: ΔEc = 4.45 −
  // 4.50 = −0.05 eV and ΔEv = 1.15 + 0.05 − 2.40 = −1.2 eV, both barriers; buffer → window: ΔEc =
  // +0.10 eV (no barrier), ΔEv = −1.0 eV. Velocities differ by 4 and 9, NC and NV across.
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
  // No layers, a negative thickness, a zero mobility, an undefined band gap, a level without
  // capture (0/0 occupation), and convergence settings that would stop the iteration, fake its
  // convergence or refuse every solution: refused with a message, the parameters left alone.
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

TEST(Normalisation, DiscretisationLevelsAreLimitedWithAWarning) {
  for (const auto& [asked, used, text] :
       {std::tuple{500, 100,
                   "The maximum number of discretisationlevels for distributed defects is limited to 100 levels."},
        std::tuple{1, 2, "The number of discretisationlevels for distributed defects should higher than 1."}}) {
    InputParameters set = test::PnJunction();
    set.convergence.defectdiscretisations = asked;
    DcProblem pb;
    ASSERT_EQ(parameterset1_to_3(set, MeshSettings{}, pb.par, 300.0, &pb.ctx.env), 0);
    EXPECT_EQ(pb.par.defectdiscretisations, used);
    ASSERT_EQ(pb.ui.popups.size(), 1u);
    EXPECT_EQ(pb.ui.popups[0].title, "Warning");
    EXPECT_EQ(pb.ui.popups[0].message, text);
  }
}

TEST(DefectDensity, PeakToTotalTimesGradedDensityOnTheMesh) {
  // A Gaussian level of width 0.1 eV has the peak-to-total factor 1/(sqrt(π)·0.1) = 5.6419 /eV;
  // its density graded linearly over the 5 µm base from 1e20 to 3e20 /m³; weight 0.5.
  InputParameters set = test::PnJunction();
  test::AddSingleLevelDefect(set, 0, 0.56, 1e20, 1e-19);
  DcProblem pb;
  ASSERT_EQ(SetUpDcProblem(pb, set, MeshSettings{}), 0);
  BulkRecombinationParameters level = set.cellParas.layer[0].srh[0][0];
  level.distribution = ED_GAUSS, level.Ekar = 0.1, level.peakToTotal = DeterminePeakToTotal(ED_GAUSS, 0.1);
  level.Nt.law = LAW_LINEAR, level.Nt.dependence = DEP_POSITION, level.Nt.p[5] = 1e20, level.Nt.p[6] = 3e20;
  std::vector<double> Nt;
  Full_Nt_x_Dependence(pb.cv, level, Nt, 0.5);
  const MeshBlock& m = pb.cv.mesh;
  ASSERT_EQ(static_cast<int>(Nt.size()), m.points[0]);
  const double P = 1.0 / (std::sqrt(std::acos(-1.0)) * 0.1);
  EXPECT_CLOSE(Nt.front(), P * 1e20 * 0.5, 1e-12, 0.0);
  EXPECT_CLOSE(Nt.back(), P * 3e20 * 0.5, 1e-12, 0.0);
  const int j = m.points[0] / 2;
  EXPECT_CLOSE(Nt[j], P * (1e20 + 2e20 * m.xum[m.first[0] + j] / 5.0) * 0.5, 1e-12, 0.0);
}

// The absorption tables are shared between copies of a record instead of being copied; a copy
// must still behave as a value: refilling one record never changes what another reads.
TEST(SharedTable, CopiesShareUntilOneIsRefilled) {
  CalculationVariables src;
  src.alpha.Reset(6, 3);
  std::span<double> w = src.alpha.NewRow(0);
  w[0] = 1.0, w[1] = 2.0, w[2] = 3.0;
  src.alpha.ShareRow(5, 0);  // points with equal rows share one row
  CalculationVariables dst;
  CopyCalculationVariables(dst, src);
  EXPECT_TRUE(dst.alpha.SharesWith(src.alpha));
  EXPECT_EQ(dst.alpha.Row(5), src.alpha.Row(0));  // no copy of the values
  dst.alpha.Reset(2, 2);
  EXPECT_FALSE(dst.alpha.SharesWith(src.alpha));
  dst.alpha.NewRow(0)[0] = 7.0;
  EXPECT_EQ(dst.alpha.points(), 2u);
  EXPECT_EQ(dst.alpha.at(0, 0), 7.0);
  EXPECT_EQ(dst.alpha.at(1, 0), 0.0);
  ASSERT_EQ(src.alpha.points(), 6u);
  EXPECT_EQ(src.alpha.at(0, 0), 1.0);
  EXPECT_EQ(src.alpha.at(5, 1), 2.0);
  EXPECT_EQ(src.alpha.at(5, 2), 3.0);
}

}  // namespace
}  // namespace zoniq
