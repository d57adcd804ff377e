// Every analytic Jacobian of the discretised equations against central finite differences of
// its residual, on the three-layer heterojunction (contact, interior and both interface rows,
// band offsets, SRH, radiative and Auger terms, charged and neutral interface defects with their
// charge and fluxes) at a state away from any solution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>

#include "solved_cells.hpp"
#include "solver/dc_solve.hpp"
#include "solver/equations.hpp"
#include "solver/gummel.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// The heterojunction at 0.45 V, solved, then disturbed: ψ by up to ±0.3 kT and the carrier
// variables by factors 0.6 … 1.6 of w0 + w, so that no residual is zero and the recombination
// is far from its equilibrium form.
std::unique_ptr<DcProblem> DisturbedCell() {
  InputParameters set = test::DefectiveHeterojunction();
  LayerParameters& a = set.cellParas.layer[0];
  a.K_rad = UniformProfile(1e-16);                    // [m³/s]
  a.c_n_auger = a.c_p_auger = UniformProfile(1e-37);  // [m⁶/s]: Auger dominates the absorber
  auto pb = test::SolvedAtEquilibrium(set);
  CalculationVariables& cv = pb->cv;
  EXPECT_EQ(SolveDarkBias(cv, 0.45, 4), 0);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> dpsi(-0.3, 0.3), factor(0.6, 1.6);
  const int N = cv.mesh.N;
  for (int i = 1; i < N - 1; ++i) {
    cv.psi[i] += dpsi(rng);
    SetCarrierValues(cv, i, (cv.u0[i] + cv.u[i]) * factor(rng), (cv.v0[i] + cv.v[i]) * factor(rng));
  }
  // The two points of each interface keep one potential, as the solver leaves them.
  for (int l = 0; l + 1 < pb->par.nlayers; ++l) cv.psi[cv.mesh.first[l + 1]] = cv.psi[cv.mesh.last[l]];
  update_psivar(cv);
  return pb;
}

using Residual = std::function<void(CalculationVariables&, std::span<double>)>;

// −∂F_i/∂x_p by central differences, for every point p of the variable array x, against the
// analytic element (i, stride·p + var); `offset` holds the offsets of a carrier variable (null
// for ψ), which set a relative step.
void CompareColumns(CalculationVariables& cv, std::vector<double>& x, const double* offset, int stride, int var,
                    const Residual& residual, const std::function<double(int, int)>& analytic, const char* what,
                    const std::function<bool(int)>& skipRow = {}) {
  const int N = cv.mesh.N, nRows = stride * N;
  ASSERT_GE(ComputeDefectTerms(cv), 0);
  std::vector<double> Fp(nRows), Fm(nRows), rowScale(nRows, 0.0);
  for (int i = 0; i < nRows; ++i)
    for (int j = std::max(0, i - 8); j < std::min(nRows, i + 9); ++j)
      rowScale[i] = std::max(rowScale[i], std::fabs(analytic(i, j)));
  int compared = 0;
  for (int p = 0; p < N; ++p) {
    const double x0 = x[p], h = 1e-6 * (offset == nullptr ? 1.0 : std::fabs(offset[p] + x0));
    for (auto [sign, F] : {std::pair{1.0, &Fp}, {-1.0, &Fm}}) {
      x[p] = x0 + sign * h;
      update_psivar(cv);
      ASSERT_GE(ComputeDefectTerms(cv), 0);
      residual(cv, *F);
    }
    x[p] = x0;
    const int j = stride * p + var;
    for (int i = 0; i < nRows; ++i) {
      if (skipRow && skipRow(i)) continue;
      const double fd = -(Fp[i] - Fm[i]) / (2.0 * h);
      // Good to about 1e-8 of the row's largest element; 1e-5 allows for steep exponentials.
      EXPECT_NEAR(analytic(i, j), fd, 1e-5 * rowScale[i] + 1e-300) << what << ": row " << i << " column " << j;
      ++compared;
    }
  }
  update_psivar(cv);
  ASSERT_GE(ComputeDefectTerms(cv), 0);
  EXPECT_GT(compared, N);
}

// The tridiagonal Jacobian (with the interface elements) as a function of (row, column).
struct Tridiagonal {
  std::vector<double> jl{std::vector<double>(MAXPOINTS)}, jd{jl}, ju{jl}, extra{std::vector<double>(MAXLAYERS)};
  const CalculationVariables* cv = nullptr;
  double operator()(int i, int j) const {
    if (j == i) return jd[i];
    if (j == i - 1) return jl[i];
    if (j == i + 1) return ju[i];
    for (int l = 0; l + 1 < cv->par->nlayers; ++l)
      if (cv->mesh.last[l] == i && j == i + 2) return extra[l];
    return 0.0;
  }
};

TEST(Jacobian, GummelEquations) {
  auto pb = DisturbedCell();
  CalculationVariables& cv = pb->cv;
  const int N = cv.mesh.N;
  ASSERT_GE(ComputeDefectTerms(cv), 0);
  // The disturbed state has interface charge and fluxes that depend on every variable.
  EXPECT_NE(cv.ifr.dsigma_dpsif[0], 0.0);
  EXPECT_NE(cv.ifr.dFn_left_duf[0], 0.0);
  EXPECT_NE(cv.ifr.dFp_right_dvp[1], 0.0);
  Tridiagonal J;
  J.cv = &cv;
  using Fn = void (*)(CalculationVariables&, std::span<double>);
  // The contact rows of Poisson's equation are Dirichlet rows: F = 0 and J = identity.
  bereken_jac_psi_Gummel(cv, J.jl, J.jd, J.ju, J.extra);
  CompareColumns(cv, cv.psi, nullptr, 1, 0, static_cast<Fn>(bereken_stelsel_psi_Gummel), J, "Poisson",
                 [N](int i) { return i == 0 || i == N - 1; });
  std::fill(J.extra.begin(), J.extra.end(), 0.0);  // only Poisson's equation has the interface element
  bereken_jac_u_Gummel(cv, J.jl, J.jd, J.ju);
  CompareColumns(cv, cv.u, cv.u0.data(), 1, 0, static_cast<Fn>(bereken_stelsel_u_Gummel), J, "electrons");
  bereken_jac_v_Gummel(cv, J.jl, J.jd, J.ju);
  CompareColumns(cv, cv.v, cv.v0.data(), 1, 0, static_cast<Fn>(bereken_stelsel_v_Gummel), J, "holes");
}

TEST(Jacobian, CoupledSystemWithCrossBlocks) {
  // All nine blocks of the coupled fallback: every column of every variable. The unknowns are
  // interleaved (ψ, u, v per point).
  auto pb = DisturbedCell();
  CalculationVariables& cv = pb->cv;
  const int N = cv.mesh.N;
  ASSERT_GE(ComputeDefectTerms(cv), 0);
  std::vector<double> storage(static_cast<std::size_t>(3 * N * 17), 0.0);
  const BandMatrix A{3 * N, 5, 6, storage.data()};
  CoupledJacobian(cv, A);
  auto analytic = [&A](int i, int j) { return (j - i > A.ku || i - j > A.kl) ? 0.0 : A.at(i, j); };
  auto residual = [](CalculationVariables& c, std::span<double> F) { CoupledResidual(c, F); };
  auto skip = [N](int i) { return i == 0 || i == 3 * (N - 1); };
  CompareColumns(cv, cv.psi, nullptr, 3, 0, residual, analytic, "coupled psi", skip);
  CompareColumns(cv, cv.u, cv.u0.data(), 3, 1, residual, analytic, "coupled u", skip);
  CompareColumns(cv, cv.v, cv.v0.data(), 3, 2, residual, analytic, "coupled v", skip);
}

}  // namespace
}  // namespace zoniq
