// Cells, references and the Jacobian check shared by the tunnelling tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <numbers>
#include <vector>

#include "solver/currents.hpp"
#include "solver/dc_solve.hpp"
#include "solver/equations.hpp"
#include "solver/gummel.hpp"
#include "solver/tunneling.hpp"

namespace zoniq {

constexpr double kH = 6.6256e-34, kM0 = 9.1095e-31, kQe = 1.602e-19, kVt = 0.0259;
const double kHbar = kH / (2.0 * std::numbers::pi);

inline double Simpson(const std::function<double(double)>& f, double a, double b, int n) {
  const double h = (b - a) / n;
  double s = f(a) + f(b);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4.0 : 2.0) * f(a + i * h);
  return s * h / 3.0;
}

inline double MaxAbs(const std::vector<double>& a) {
  double m = 0.0;
  for (double x : a) m = std::max(m, std::fabs(x));
  return m;
}

// A uniform layer: d [m], Eg, χ [eV], εr, Nc, Nv, ND, NA [m⁻³], μn, μp [m²/Vs], thermal velocities
// [m/s], relative mass of both carriers.
struct Layer {
  double d, Eg, chi, eps, Nc, Nv, Nd, Na, mun, mup, vthn, vthp, m;
};

inline void SetLayer(LayerParameters& L, const Layer& v) {
  L.d = v.d;
  Profile* p[] = {&L.Eg,   &L.chi,  &L.eps,    &L.Nc,     &L.Nv,     &L.Nd,    &L.Na,
                  &L.mu_n, &L.mu_p, &L.me_rel, &L.mh_rel, &L.v_th_n, &L.v_th_p};
  const double x[] = {v.Eg, v.chi, v.eps, v.Nc, v.Nv, v.Nd, v.Na, v.mun, v.mup, v.m, v.m, v.vthn, v.vthp};
  for (int k = 0; k < 13; ++k) *p[k] = UniformProfile(x[k], p[k]->dependence);
}

// Defaults, the given number of layers, tight termination; flat-band contacts with S = 1e7 m/s.
inline InputParameters NewCell(int layers) {
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  set.cellParas.numberOfLayers = layers;
  for (ContactParameters* k : {&set.cellParas.leftContact, &set.cellParas.rightContact})
    k->flatband = 1, k->Sn = k->Sp = 1e7;
  set.convergence.termination_Fn = set.convergence.termination_Fp = set.convergence.termination_psi = 1e-10;
  return set;
}

struct Solved {
  std::unique_ptr<DcProblem> pb = std::make_unique<DcProblem>();
  CurrentDensities j;
};

// Set up, solve at equilibrium, then at bias V (unless 0) in the given number of steps.
inline Solved Solve(const InputParameters& set, double V, const MeshSettings& mesh = {}, int steps = 6) {
  Solved s;
  EXPECT_EQ(SetUpDcProblem(*s.pb, set, mesh), 0) << s.pb->ctx.lastMessage;
  EXPECT_EQ(SolveEquilibrium(s.pb->cv), 0);
  if (V != 0.0) {
    EXPECT_EQ(SolveDarkBias(s.pb->cv, V, steps), 0) << s.pb->ctx.lastMessage;
  }
  extraheer_stroom(s.pb->cv, s.j);
  return s;
}

// The Jacobian of the continuity equation with tunnelling (tridiagonal part plus the sparse
// elements, at least `minSparse` of them) against central differences of the residual, at the
// solved state with its carrier variables disturbed so that no flux vanishes.
inline void CheckTunnellingJacobian(CalculationVariables& cv, bool electrons, std::size_t minSparse) {
  const int N = cv.mesh.N, carrier = electrons ? kElectrons : kHoles;
  std::vector<double>& X = electrons ? cv.u : cv.v;
  const std::vector<double>& X0 = electrons ? cv.u0 : cv.v0;
  for (int i = 1; i < N - 1; ++i) X[i] = (X0[i] + X[i]) * (1.0 + 0.3 * std::sin(1.7 * i)) - X0[i];
  auto residual = [&](std::vector<double>& F) {
    ASSERT_EQ(ComputeDefectTerms(cv), 1);
    CalculateTunnelling(cv, carrier);
    electrons ? bereken_stelsel_u_Gummel(cv, F) : bereken_stelsel_v_Gummel(cv, F);
  };
  std::vector<double> F(N), Fp(N), Fm(N), jl(N), jd(N), ju(N);
  residual(F);
  electrons ? bereken_jac_u_Gummel(cv, jl, jd, ju) : bereken_jac_v_Gummel(cv, jl, jd, ju);
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
  for (int r = 0; r < N; ++r) rowMax[r] = MaxAbs(J[r]);
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
