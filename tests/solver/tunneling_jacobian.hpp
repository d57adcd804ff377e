// A check shared by the tunnelling tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "solver/equations.hpp"
#include "solver/gummel.hpp"
#include "solver/tunneling.hpp"

namespace zoniq {

// The Jacobian of the continuity equation with tunnelling (tridiagonal part plus the sparse
// elements) against central differences of the residual, at the solved state with its carrier
// variables disturbed so that no flux vanishes.
// `minSparse` is the least number of sparse (tunnelling) elements the case must have.
inline void CheckTunnellingJacobian(CalculationVariables& cv, bool electrons, std::size_t minSparse) {
  const int N = cv.mesh.N;
  const int carrier = electrons ? kElectrons : kHoles;
  std::vector<double>& X = electrons ? cv.u : cv.v;
  const std::vector<double>& X0 = electrons ? cv.u0 : cv.v0;
  for (int i = 1; i < N - 1; ++i) X[i] = (X0[i] + X[i]) * (1.0 + 0.3 * std::sin(1.7 * i)) - X0[i];
  auto residual = [&](std::vector<double>& F) {
    ASSERT_EQ(ComputeDefectTerms(cv), 1);
    CalculateTunnelling(cv, carrier);
    if (electrons)
      bereken_stelsel_u_Gummel(cv, F);
    else
      bereken_stelsel_v_Gummel(cv, F);
  };
  std::vector<double> F(N), Fp(N), Fm(N), jl(N), jd(N), ju(N);
  residual(F);
  if (electrons)
    bereken_jac_u_Gummel(cv, jl, jd, ju);
  else
    bereken_jac_v_Gummel(cv, jl, jd, ju);
  const std::vector<SparseElement> sparse = (electrons ? cv.tunnel.n : cv.tunnel.p).sparse;
  ASSERT_GE(sparse.size(), minSparse);
  std::vector<std::vector<double>> J(N, std::vector<double>(N, 0.0));
  for (int r = 0; r < N; ++r) {
    J[r][r] += jd[r];
    if (r > 0) J[r][r - 1] += jl[r];
    if (r + 1 < N) J[r][r + 1] += ju[r];
  }
  for (const SparseElement& e : sparse) J[e.row][e.col] += e.value;
  std::vector<double> rowMax(N, 0.0);
  for (int r = 0; r < N; ++r)
    for (int col = 0; col < N; ++col) rowMax[r] = std::max(rowMax[r], std::fabs(J[r][col]));
  int bad = 0;
  for (int col = 0; col < N; ++col) {
    const double keep = X[col], step = 1e-6 * std::fabs(X0[col] + keep);
    X[col] = keep + step;
    residual(Fp);
    X[col] = keep - step;
    residual(Fm);
    X[col] = keep;
    for (int r = 0; r < N; ++r) {
      const double fd = -(Fp[r] - Fm[r]) / (2.0 * step);
      if (std::fabs(J[r][col] - fd) > 1e-7 * rowMax[r] && ++bad < 10)
        ADD_FAILURE() << "row " << r << " col " << col << ": " << J[r][col] << " vs " << fd;
    }
  }
  EXPECT_EQ(bad, 0);
}

}  // namespace zoniq
