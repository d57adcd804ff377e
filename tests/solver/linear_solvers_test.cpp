// Numerical kernels: the linear solvers against dense Gaussian elimination with partial pivoting,
// the Bernoulli function against extended-precision closed forms at every branch limit.
#include "solver/linear_solvers.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "solver/bernoulli.hpp"
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

// A random diagonally dominant tridiagonal system of n rows (diagonal `diag` + U(0.1, 1)).
struct Tridiagonal {
  std::vector<double> jl, jd, ju, b;
  Tridiagonal(int n, double diag, unsigned seed) : jl(n), jd(n), ju(n), b(n) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> r(0.1, 1.0);
    for (int i = 0; i < n; ++i) {
      jl[i] = i > 0 ? -r(rng) : 0.0;
      ju[i] = i + 1 < n ? -r(rng) : 0.0;
      jd[i] = diag + r(rng);
      b[i] = r(rng) - 0.5;
    }
  }
  Dense dense() const {
    const int n = static_cast<int>(b.size());
    Dense A(n, std::vector<double>(n, 0.0));
    for (int i = 0; i < n; ++i) {
      A[i][i] = jd[i];
      if (i > 0) A[i][i - 1] = jl[i];
      if (i + 1 < n) A[i][i + 1] = ju[i];
    }
    return A;
  }
};

TEST(LinearSolvers, TridiagonalWithInterfaceElements) {
  // Layers of 6, 5, 7 points: interface rows 5 and 10 as Poisson's equation builds them (no upper
  // element, the extra one two columns right), continuity rows (−1, 1) after the double points.
  Tridiagonal t(18, 2.5, 7);
  const std::vector<int> last{5, 10, 17};
  std::vector<double> extra{-0.3, -0.8};
  for (int l = 0; l < 2; ++l) {
    const int p = last[l];
    t.ju[p] = 0.0, t.jl[p + 1] = -1.0, t.jd[p + 1] = 1.0, t.ju[p + 1] = 0.0;
  }
  Dense A = t.dense();
  for (int l = 0; l < 2; ++l) A[last[l]][last[l] + 2] = extra[l];
  const std::vector<double> expected = DenseSolve(A, t.b);
  ASSERT_EQ(SolveTridiagonalInterface(18, last, 3, t.jl, t.jd, t.ju, extra, t.b), 0);
  test::ExpectArraysClose(t.b, expected, 1e-12, 1e-14);
}

TEST(LinearSolvers, ZeroPivotIsAFailureNotACrash) {
  // A zero first pivot, one vanishing in the elimination ([[1, 1], [1, 1]]), an empty system, an
  // infinite or undefined pivot anywhere (its reciprocal 0 or NaN could pass as finite).
  std::vector<double> jl{0, 1, 1}, jd{0, 2, 2}, ju{1, 1, 0}, extra{}, b{1, 1, 1};
  EXPECT_EQ(SolveTridiagonalInterface(3, std::vector<int>{2}, 1, jl, jd, ju, extra, b), -1);
  std::vector<double> jl2{0, 1}, jd2{1, 1}, ju2{1, 0}, b2{1, 2};
  EXPECT_EQ(SolveTridiagonalInterface(2, std::vector<int>{1}, 1, jl2, jd2, ju2, extra, b2), -1);
  EXPECT_EQ(SolveTridiagonalInterface(0, std::vector<int>{1}, 1, jl2, jd2, ju2, extra, b2), -1);
  const double inf = std::numeric_limits<double>::infinity();
  for (std::size_t at : {0u, 1u, 2u})
    for (double bad : {inf, -inf, std::numeric_limits<double>::quiet_NaN()}) {
      std::vector<double> jl3{0, 1, 1}, jd3{2, 2, 2}, ju3{1, 1, 0}, b3{1, 1, 1};
      jd3[at] = bad;
      EXPECT_EQ(SolveTridiagonalInterface(3, std::vector<int>{2}, 1, jl3, jd3, ju3, extra, b3), -1) << at << bad;
    }
}

TEST(LinearSolvers, EnvelopeWithOffBandElements) {
  // Tridiagonal plus couplings far from the band, each with its mirror element (as tunnelling
  // adds them), one of them repeated (elements add up).
  const int N = 15;
  Tridiagonal t(N, 4.0, 11);
  Dense A = t.dense();
  const std::vector<SparseElement> sparse{{2, 9, -0.3},  {9, 2, -0.2},  {4, 12, 0.25}, {12, 4, 0.0},
                                          {0, 14, -0.4}, {14, 0, -0.1}, {2, 9, -0.05}, {7, 7, 0.5}};
  for (const SparseElement& e : sparse) A[e.row][e.col] += e.value;
  const std::vector<double> expected = DenseSolve(A, t.b);
  std::vector<double> values, b = t.b;
  std::vector<int> start;
  ASSERT_EQ(SolveEnvelope(N, t.jl, t.jd, t.ju, sparse, b, values, start), 0);
  test::ExpectArraysClose(b, expected, 1e-12, 1e-14);
  // An empty system and an element outside the matrix are errors.
  EXPECT_EQ(SolveEnvelope(0, t.jl, t.jd, t.ju, {}, b, values, start), -1);
  EXPECT_EQ(SolveEnvelope(N, t.jl, t.jd, t.ju, std::vector<SparseElement>{{3, N, 1.0}}, b, values, start), -1);
}

TEST(LinearSolvers, BandedWithPartialPivoting) {
  // A band matrix of the coupled system's shape (kl = 5, ku = 6) whose small diagonal needs row
  // interchanges.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> r(-1.0, 1.0);
  const int n = 30, kl = 5, ku = 6;
  std::vector<double> storage(static_cast<std::size_t>((2 * kl + ku + 1) * n), 0.0), b(n);
  const BandMatrix M{n, kl, ku, storage.data()};
  Dense A(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i) {
    for (int j = std::max(0, i - kl); j <= std::min(n - 1, i + ku); ++j)
      A[i][j] = M.at(i, j) = (i == j ? 1e-3 : 1) * r(rng);
    b[i] = r(rng);
  }
  const std::vector<double> expected = DenseSolve(A, b);
  std::vector<int> pivots(n);
  ASSERT_EQ(SolveBanded(M, pivots, b), 0);
  test::ExpectArraysClose(b, expected, 1e-9, 1e-11);
  // The factors alone solve a second right-hand side (the chord steps of the Newton finish).
  std::vector<double> c(n);
  for (double& v : c) v = r(rng);
  const std::vector<double> expected2 = DenseSolve(A, c);
  ASSERT_EQ(SolveFactoredBanded(M, pivots, c), 0);
  test::ExpectArraysClose(c, expected2, 1e-9, 1e-11);
  // A singular matrix (column 1 empty) is reported, not solved.
  M.clear();
  for (int i = 0; i < n; ++i) M.at(i, i) = 1.0;
  M.at(1, 1) = 0.0;
  M.at(1, 0) = 1.0;
  std::vector<double> b2(n, 1.0);
  EXPECT_EQ(SolveBanded(M, pivots, b2), -1);
}

using namespace bernoulli_limits;

// x/(e^x − 1) in long double (64-bit mantissa: 3 more digits than the tested double code).
double Reference(double x) {
  if (x == 0.0) return 1.0;
  const long double lx = x;
  if (x > 700.0) return static_cast<double>(lx * std::exp(-lx));
  return static_cast<double>(lx / std::expm1(lx));
}

// dB/dx = (e^x − 1 − x·e^x)/(e^x − 1)² in long double; its Taylor series near 0, where the
// closed form cancels even in long double.
double ReferenceDeriv(double x) {
  if (std::fabs(x) < 1e-4) return -0.5 + x / 6.0 - x * x * x / 180.0;
  const long double lx = x;
  if (x > 700.0) return static_cast<double>((1.0L - lx) * std::exp(-lx));
  const long double em1 = std::expm1(lx);
  return static_cast<double>((em1 - lx * std::exp(lx)) / (em1 * em1));
}

// Points on both sides of every branch limit of B and B′ (and 0), a few ulps and a little further
// away.
std::vector<double> BoundaryPoints() {
  const double limits[] = {-kDerivMinusOne, -kAsymptote,     kLinearLow,       kLinearHigh, kAsymptote,
                           kZero,           kDerivLinearLow, kDerivLinearHigh, kDerivZero,  0.0};
  std::vector<double> xs;
  for (double l : limits) {
    double lo = l, hi = l;
    for (int k = 0; k < 4; ++k) {
      lo = std::nextafter(lo, -1e300);
      hi = std::nextafter(hi, 1e300);
    }
    for (double x : {l, lo, hi, l - 1e-6 * std::max(1.0, std::fabs(l)), l + 1e-6 * std::max(1.0, std::fabs(l))})
      xs.push_back(x);
  }
  return xs;
}

TEST(Bernoulli, MatchesClosedFormOnBothSidesOfEveryBranchLimit) {
  // Exact to rounding but for the accepted truncations: 1 − x/2 drops x²/12 (6e-13 at its upper
  // limit), the asymptotic branches terms of order e^−37 (5e-17 relative), the zero branches
  // values below 3e-19 (B) and 1e-21 (B′): 1e-9 relative plus 1e-17 absolute.
  std::vector<double> xs = BoundaryPoints();
  for (double x = -60.0; x <= 60.0; x += 0.0731) xs.push_back(x);
  for (double x : xs) {
    EXPECT_CLOSE(Bern(x), Reference(x), std::fabs(x) < 60 && std::fabs(x) > 1e-3 ? 1e-12 : 1e-9, 1e-17) << x;
    EXPECT_CLOSE(Bern_deriv(x), ReferenceDeriv(x), 1e-9, 1e-17) << "x = " << x;
  }
  // Just below −6.7e-10, x/(e^x − 1) with e^x − 1 formed by subtraction loses about seven digits;
  // with expm1 the branch keeps full precision.
  for (double x : {std::nextafter(kLinearLow, -1.0), -1e-9, -3e-9, -1e-8, -1e-7, -1e-6,
                   std::nextafter(kLinearHigh, 1.0), 3e-6, 1e-5, 1e-4})
    EXPECT_CLOSE(Bern(x), Reference(x), 1e-14, 0.0) << "x = " << x;
}

}  // namespace
}  // namespace zoniq
