// Every analytic Jacobian of the discretised equations against central finite differences of
// its residual, on the three-layer heterojunction (contact, interior and both interface rows,
// band offsets, SRH, radiative and Auger terms) at a state away from any solution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>

#include "solver/dc_solve.hpp"
#include "solver/equations.hpp"
#include "solver/gummel.hpp"
#include "test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

void SetUniform(Profile& p, double v) {
  const int d = p.dependence;
  p = UniformProfile(v, d);
}

// The heterojunction at 0.45 V, solved, then disturbed: ψ by up to ±0.3 kT and the carrier
// variables by factors 0.6 … 1.6 of w0 + w, so that no residual is zero and the recombination
// is far from its equilibrium form.
std::unique_ptr<DcProblem> DisturbedCell() {
  InputParameters set = test::ThinFilmCell(true);
  SetUniform(set.cellParas.layer[0].K_rad, 1e-16);      // [m³/s]
  SetUniform(set.cellParas.layer[0].c_n_auger, 1e-41);  // [m⁶/s]
  SetUniform(set.cellParas.layer[0].c_p_auger, 1e-41);
  auto pb = std::make_unique<DcProblem>();
  EXPECT_EQ(SetUpDcProblem(*pb, set, MeshSettings{}), 0) << pb->ctx.lastMessage;
  CalculationVariables& cv = pb->cv;
  EXPECT_EQ(SolveEquilibrium(cv), 0);
  EXPECT_EQ(SolveDarkBias(cv, 0.45, 4), 0);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> dpsi(-0.3, 0.3), factor(0.6, 1.6);
  const int N = cv.mesh.N;
  for (int i = 1; i < N - 1; ++i) {
    cv.psi[i] += dpsi(rng);
    cv.u[i] = (cv.u0 + cv.u[i]) * factor(rng) - cv.u0;
    cv.v[i] = (cv.v0 + cv.v[i]) * factor(rng) - cv.v0;
  }
  // The two points of each interface keep one potential, as the solver leaves them.
  for (int l = 0; l + 1 < pb->par.nlayers; ++l) cv.psi[cv.mesh.first[l + 1]] = cv.psi[cv.mesh.last[l]];
  update_psivar(cv);
  return pb;
}

using Residual = std::function<void(CalculationVariables&, std::span<double>)>;

// −∂F_i/∂x_j by central differences, for every column j: `x` is the perturbed array, `step`
// its difference step at j.
void CompareColumns(CalculationVariables& cv, std::vector<double>& x, double offset, int nRows,
                    const Residual& residual, const std::function<double(int, int)>& analytic,
                    const std::function<bool(int)>& skipRow, const char* what) {
  const int N = cv.mesh.N;
  std::vector<double> Fp(nRows), Fm(nRows), rowScale(nRows, 0.0);
  for (int i = 0; i < nRows; ++i)
    for (int j = std::max(0, i - 8); j < std::min(nRows, i + 9); ++j)
      rowScale[i] = std::max(rowScale[i], std::fabs(analytic(i, j)));
  int compared = 0;
  for (int j = 0; j < static_cast<int>(x.size()) && j < nRows; ++j) {
    const double x0 = x[j];
    // A step relative to the density variable w0 + w (the offset), or to 1 for ψ.
    const double h = 1e-6 * std::max(offset == 0.0 ? 1.0 : 0.0, std::fabs(offset + x0));
    x[j] = x0 + h;
    update_psivar(cv);
    ASSERT_GE(ComputeDefectTerms(cv), 0);
    residual(cv, Fp);
    x[j] = x0 - h;
    update_psivar(cv);
    ASSERT_GE(ComputeDefectTerms(cv), 0);
    residual(cv, Fm);
    x[j] = x0;
    for (int i = 0; i < nRows; ++i) {
      if (skipRow(i)) continue;
      const double fd = -(Fp[i] - Fm[i]) / (2.0 * h);
      // Central differences with a relative step of 1e-6 are good to about 1e-8 of the row's
      // largest element; 1e-5 leaves room for the steep exponentials of the recombination.
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
  std::vector<double> jl, jd, ju, extra;
  const MeshBlock* mesh = nullptr;
  int nlayers = 0;
  double operator()(int i, int j) const {
    if (j == i) return jd[i];
    if (j == i - 1) return jl[i];
    if (j == i + 1) return ju[i];
    for (int l = 0; l + 1 < nlayers; ++l)
      if (mesh->last[l] == i && j == i + 2) return extra[l];
    return 0.0;
  }
};

Tridiagonal Sized(const CalculationVariables& cv) {
  Tridiagonal t;
  t.jl.assign(MAXPOINTS, 0.0);
  t.jd.assign(MAXPOINTS, 0.0);
  t.ju.assign(MAXPOINTS, 0.0);
  t.extra.assign(MAXLAYERS, 0.0);
  t.mesh = &cv.mesh;
  t.nlayers = cv.par->nlayers;
  return t;
}

TEST(Jacobian, PoissonEquation) {
  auto pb = DisturbedCell();
  CalculationVariables& cv = pb->cv;
  const int N = cv.mesh.N;
  ASSERT_GE(ComputeDefectTerms(cv), 0);
  Tridiagonal J = Sized(cv);
  bereken_jac_psi_Gummel(cv, J.jl, J.jd, J.ju, J.extra);
  // The contact rows are Dirichlet rows: F = 0 and J = identity, so their step is zero.
  CompareColumns(
      cv, cv.psi, 0.0, N, [](CalculationVariables& c, std::span<double> F) { bereken_stelsel_psi_Gummel(c, F); }, J,
      [N](int i) { return i == 0 || i == N - 1; }, "Poisson");
}

TEST(Jacobian, ElectronContinuity) {
  auto pb = DisturbedCell();
  CalculationVariables& cv = pb->cv;
  ASSERT_GE(ComputeDefectTerms(cv), 0);
  Tridiagonal J = Sized(cv);
  bereken_jac_u_Gummel(cv, J.jl, J.jd, J.ju);
  CompareColumns(
      cv, cv.u, cv.u0, cv.mesh.N, [](CalculationVariables& c, std::span<double> F) { bereken_stelsel_u_Gummel(c, F); },
      J, [](int) { return false; }, "electrons");
}

TEST(Jacobian, HoleContinuity) {
  auto pb = DisturbedCell();
  CalculationVariables& cv = pb->cv;
  ASSERT_GE(ComputeDefectTerms(cv), 0);
  Tridiagonal J = Sized(cv);
  bereken_jac_v_Gummel(cv, J.jl, J.jd, J.ju);
  CompareColumns(
      cv, cv.v, cv.v0, cv.mesh.N, [](CalculationVariables& c, std::span<double> F) { bereken_stelsel_v_Gummel(c, F); },
      J, [](int) { return false; }, "holes");
}

TEST(Jacobian, CoupledSystemWithCrossBlocks) {
  // All nine blocks of the coupled fallback: every column of every variable.
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
  // The unknowns are interleaved; perturb each variable array in turn and compare the columns
  // of that variable.
  for (int var = 0; var < 3; ++var) {
    std::vector<double>& x = var == 0 ? cv.psi : (var == 1 ? cv.u : cv.v);
    std::vector<double> Fp(3 * N), Fm(3 * N), rowScale(3 * N, 0.0);
    for (int i = 0; i < 3 * N; ++i)
      for (int j = std::max(0, i - A.kl); j <= std::min(3 * N - 1, i + A.ku); ++j)
        rowScale[i] = std::max(rowScale[i], std::fabs(A.at(i, j)));
    for (int p = 0; p < N; ++p) {
      const double x0 = x[p];
      const double h = 1e-6 * (var == 0 ? 1.0 : std::fabs(var == 1 ? cv.u0 + x0 : cv.v0 + x0));
      x[p] = x0 + h;
      update_psivar(cv);
      ASSERT_GE(ComputeDefectTerms(cv), 0);
      residual(cv, Fp);
      x[p] = x0 - h;
      update_psivar(cv);
      ASSERT_GE(ComputeDefectTerms(cv), 0);
      residual(cv, Fm);
      x[p] = x0;
      const int j = 3 * p + var;
      for (int i = 0; i < 3 * N; ++i) {
        if (skip(i)) continue;
        const double fd = -(Fp[i] - Fm[i]) / (2.0 * h);
        EXPECT_NEAR(analytic(i, j), fd, 1e-5 * rowScale[i] + 1e-300) << "var " << var << " row " << i << " col " << j;
      }
    }
    update_psivar(cv);
  }
}

TEST(Equations, ContinuityResidualsVanishAtEquilibrium) {
  // At zero bias in the dark with u0 + u = v0 + v = 1 everywhere and no recombination, every
  // current term is a product with a difference of equal values: the residuals are exactly 0.
  DcProblem pb;
  ASSERT_EQ(SetUpDcProblem(pb, test::ThinFilmCell(false), MeshSettings{}), 0);
  CalculationVariables& cv = pb.cv;
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  ASSERT_GE(ComputeDefectTerms(cv), 0);
  std::vector<double> F(MAXPOINTS, 1.0);
  bereken_stelsel_u_Gummel(cv, F);
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_EQ(F[i], 0.0) << i;
  bereken_stelsel_v_Gummel(cv, F);
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_EQ(F[i], 0.0) << i;
  // The two points of every interface end the Poisson iteration with one potential (the row
  // of the second point is ψ_p − ψ_f = 0; rounding of the elimination aside).
  for (int l = 0; l + 1 < pb.par.nlayers; ++l)
    EXPECT_NEAR(cv.psi[cv.mesh.first[l + 1]], cv.psi[cv.mesh.last[l]], 1e-12);
}

}  // namespace
}  // namespace zoniq
