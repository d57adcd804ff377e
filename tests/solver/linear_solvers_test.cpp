// The linear solvers against dense Gaussian elimination with partial pivoting.
#include "solver/linear_solvers.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "test_util.hpp"

namespace zoniq {
namespace {

using Dense = std::vector<std::vector<double>>;

// Solves A·x = b by Gaussian elimination with partial pivoting (the reference).
std::vector<double> DenseSolve(Dense A, std::vector<double> b) {
  const int n = static_cast<int>(b.size());
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(A[i][k]) > std::fabs(A[p][k])) p = i;
    std::swap(A[k], A[p]);
    std::swap(b[k], b[p]);
    for (int i = k + 1; i < n; ++i) {
      const double m = A[i][k] / A[k][k];
      for (int j = k; j < n; ++j) A[i][j] -= m * A[k][j];
      b[i] -= m * b[k];
    }
  }
  std::vector<double> x(n);
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int j = i + 1; j < n; ++j) s -= A[i][j] * x[j];
    x[i] = s / A[i][i];
  }
  return x;
}

// A mesh of three layers with 6, 5 and 7 points: interface rows 5 and 10 couple to 7 and 12.
struct Layers {
  int N = 18;
  std::vector<int> last{5, 10, 17};
};

TEST(LinearSolvers, TridiagonalWithInterfaceElements) {
  // Rows as Poisson's equation builds them: diagonally dominant interior rows, interface rows
  // with a zero upper element and the extra element two columns to the right, continuity rows
  // (−1, 1) after the double points. The solution must agree with dense elimination to rounding.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> r(0.1, 1.0);
  const Layers g;
  std::vector<double> jl(g.N), jd(g.N), ju(g.N), extra(2), b(g.N);
  Dense A(g.N, std::vector<double>(g.N, 0.0));
  for (int i = 0; i < g.N; ++i) {
    jl[i] = i > 0 ? -r(rng) : 0.0;
    ju[i] = i + 1 < g.N ? -r(rng) : 0.0;
    jd[i] = 2.5 + r(rng);
    b[i] = r(rng) - 0.5;
  }
  for (int l = 0; l < 2; ++l) {
    const int p = g.last[l];
    ju[p] = 0.0;
    extra[l] = -r(rng);
    jl[p + 1] = -1.0;
    jd[p + 1] = 1.0;
    ju[p + 1] = 0.0;
  }
  for (int i = 0; i < g.N; ++i) {
    A[i][i] = jd[i];
    if (i > 0) A[i][i - 1] = jl[i];
    if (i + 1 < g.N) A[i][i + 1] = ju[i];
  }
  for (int l = 0; l < 2; ++l) A[g.last[l]][g.last[l] + 2] = extra[l];
  const std::vector<double> expected = DenseSolve(A, b);
  ASSERT_EQ(SolveTridiagonalInterface(g.N, g.last, 3, jl, jd, ju, extra, b), 0);
  test::ExpectArraysClose(b, expected, 1e-12, 1e-14);
}

TEST(LinearSolvers, ZeroPivotIsAFailureNotACrash) {
  std::vector<double> jl{0, 1, 1}, jd{0, 2, 2}, ju{1, 1, 0}, extra{}, b{1, 1, 1};
  const std::vector<int> last{2};
  EXPECT_EQ(SolveTridiagonalInterface(3, last, 1, jl, jd, ju, extra, b), -1);
  // A pivot that vanishes during the elimination: [[1, 1], [1, 1]].
  std::vector<double> jl2{0, 1}, jd2{1, 1}, ju2{1, 0}, b2{1, 2};
  const std::vector<int> last2{1};
  EXPECT_EQ(SolveTridiagonalInterface(2, last2, 1, jl2, jd2, ju2, extra, b2), -1);
  EXPECT_EQ(SolveTridiagonalInterface(0, last2, 1, jl2, jd2, ju2, extra, b2), -1);
  // An overflowed (infinite) or undefined pivot, first or later: its reciprocal would be 0 or
  // NaN and could pass as a finite solution.
  const double inf = std::numeric_limits<double>::infinity();
  for (int at : {0, 1, 2})
    for (double bad : {inf, -inf, std::numeric_limits<double>::quiet_NaN()}) {
      std::vector<double> jl3{0, 1, 1}, jd3{2, 2, 2}, ju3{1, 1, 0}, b3{1, 1, 1};
      jd3[static_cast<std::size_t>(at)] = bad;
      EXPECT_EQ(SolveTridiagonalInterface(3, last, 1, jl3, jd3, ju3, extra, b3), -1) << at << " " << bad;
    }
}

TEST(LinearSolvers, EnvelopeWithOffBandElements) {
  // Tridiagonal plus couplings far from the band, each with its mirror element (as tunnelling
  // adds them), one of them repeated (elements add up).
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> r(0.1, 1.0);
  const int N = 15;
  std::vector<double> jl(N), jd(N), ju(N), b(N);
  Dense A(N, std::vector<double>(N, 0.0));
  for (int i = 0; i < N; ++i) {
    jl[i] = i > 0 ? -r(rng) : 0.0;
    ju[i] = i + 1 < N ? -r(rng) : 0.0;
    jd[i] = 4.0 + r(rng);
    b[i] = r(rng);
    A[i][i] = jd[i];
    if (i > 0) A[i][i - 1] = jl[i];
    if (i + 1 < N) A[i][i + 1] = ju[i];
  }
  std::vector<SparseElement> sparse{{2, 9, -0.3},  {9, 2, -0.2},  {4, 12, 0.25}, {12, 4, 0.0},
                                    {0, 14, -0.4}, {14, 0, -0.1}, {2, 9, -0.05}, {7, 7, 0.5}};
  for (const SparseElement& e : sparse) A[e.row][e.col] += e.value;
  const std::vector<double> expected = DenseSolve(A, b);
  std::vector<double> values;
  std::vector<int> start;
  ASSERT_EQ(SolveEnvelope(N, jl, jd, ju, sparse, b, values, start), 0);
  test::ExpectArraysClose(b, expected, 1e-12, 1e-14);
  // Nothing off the band: the same as the plain tridiagonal solution.
  std::vector<double> b1(N, 1.0), b2(N, 1.0), jd2 = jd, ju2 = ju;
  ASSERT_EQ(SolveEnvelope(N, jl, jd, ju, {}, b1, values, start), 0);
  ASSERT_EQ(SolveTridiagonalInterface(N, std::vector<int>{N - 1}, 1, jl, jd2, ju2, {}, b2), 0);
  test::ExpectArraysClose(b1, b2, 1e-13, 0.0);
  // An empty system and an element outside the matrix are errors.
  EXPECT_EQ(SolveEnvelope(0, jl, jd, ju, {}, b, values, start), -1);
  const std::vector<SparseElement> outside{{3, N, 1.0}};
  EXPECT_EQ(SolveEnvelope(N, jl, jd, ju, outside, b, values, start), -1);
}

TEST(LinearSolvers, BandedWithPartialPivoting) {
  // A band matrix of the coupled system's shape (kl = 5, ku = 6) that needs row interchanges:
  // its diagonal is small against the rest.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> r(-1.0, 1.0);
  const int n = 30, kl = 5, ku = 6;
  std::vector<double> storage(static_cast<std::size_t>((2 * kl + ku + 1) * n), 0.0);
  const BandMatrix M{n, kl, ku, storage.data()};
  Dense A(n, std::vector<double>(n, 0.0));
  std::vector<double> b(n);
  for (int i = 0; i < n; ++i) {
    for (int j = std::max(0, i - kl); j <= std::min(n - 1, i + ku); ++j) {
      const double v = i == j ? 1e-3 * r(rng) : r(rng);
      A[i][j] = v;
      M.at(i, j) = v;
    }
    b[i] = r(rng);
  }
  const std::vector<double> expected = DenseSolve(A, b);
  std::vector<int> pivots(n);
  ASSERT_EQ(SolveBanded(M, pivots, b), 0);
  test::ExpectArraysClose(b, expected, 1e-9, 1e-11);
  // A singular matrix (column 1 empty) is reported, not solved.
  M.clear();
  for (int i = 0; i < n; ++i) M.at(i, i) = 1.0;
  M.at(1, 1) = 0.0;
  M.at(1, 0) = 1.0;
  std::vector<double> b2(n, 1.0);
  EXPECT_EQ(SolveBanded(M, pivots, b2), -1);
}

}  // namespace
}  // namespace zoniq
