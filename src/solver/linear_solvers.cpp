#include "solver/linear_solvers.hpp"

#include <algorithm>
#include <cmath>

#include "common/call_counts.hpp"

namespace zoniq {

int SolveTridiagonalInterface(int N, std::span<const int> last, int nlayers, std::span<const double> jl,
                              std::span<double> jd, std::span<double> ju, std::span<const double> extra,
                              std::span<double> b) {
  if (N <= 0) return -1;
  // Row last[l] carries a second upper element, to column last[l] + 2 (the point after the
  // interface's double point). Eliminating the lower element of row last[l] + 1 with that row
  // moves it onto the ordinary upper element of row last[l] + 1, so the band never grows.
  // The pivots are kept as their reciprocals (in jd): the back substitution then multiplies,
  // and only the forward sweep, whose next pivot needs the previous one, waits on a division.
  // The running pivot and right-hand side stay in registers along both sweeps.
  const int interfaces = std::max(nlayers - 1, 0);
  int l = 0;
  int p = interfaces > 0 ? last[0] : -1;  // the next interface row
  if (jd[0] == 0.0) return -1;
  // 0·x is 0 for every finite x: an infinite or undefined pivot (whose reciprocal would be a
  // harmless-looking 0) makes the sum undefined. The solution is checked the same way below.
  double pivots = 0.0 * jd[0];
  double inv = 1.0 / jd[0];
  double bPrev = b[0];
  jd[0] = inv;
  for (int i = 1; i < N; ++i) {
    const double m = jl[i] * inv;
    const double d = jd[i] - jl[i] * ju[i - 1] * inv;
    bPrev = b[i] - m * bPrev;
    b[i] = bPrev;
    if (i - 1 == p) {
      ju[i] -= m * extra[l];
      ++l;
      p = l < interfaces ? last[l] : -1;
    }
    if (d == 0.0) return -1;
    pivots += 0.0 * d;
    inv = 1.0 / d;
    jd[i] = inv;
  }
  if (pivots != 0.0) return -1;
  double x = b[N - 1] * inv;
  b[N - 1] = x;
  l = interfaces - 1;
  p = l >= 0 ? last[l] : -1;
  // A non-finite pivot or right-hand side shows up in the solution: 0·x is 0 for every finite x.
  double check[2] = {0.0 * x, 0.0};
  for (int i = N - 2; i >= 0; --i) {
    double r = b[i] - ju[i] * x;
    if (i == p) {
      if (i + 2 < N) r -= extra[l] * b[i + 2];
      --l;
      p = l >= 0 ? last[l] : -1;
    }
    x = r * jd[i];
    b[i] = x;
    check[i & 1] += 0.0 * x;
  }
  return check[0] + check[1] == 0.0 ? 0 : -1;
}

int SolveEnvelope(int N, std::span<const double> jl, std::span<const double> jd, std::span<const double> ju,
                  std::span<const SparseElement> sparse, std::span<double> b, std::vector<double>& values,
                  std::vector<int>& start) {
  if (N <= 0) return -1;
  // start[i]: the first row (of column i) and the first column (of row i) inside the envelope.
  start.resize(static_cast<std::size_t>(N));
  for (int i = 0; i < N; ++i) start[i] = std::max(i - 1, 0);
  for (const SparseElement& e : sparse) {
    if (e.row < 0 || e.row >= N || e.col < 0 || e.col >= N) return -1;
    const int hi = std::max(e.row, e.col), lo = std::min(e.row, e.col);
    start[hi] = std::min(start[hi], lo);
  }
  // Storage per index i: row segment L[i][start..i−1], column segment U[start..i−1][i], U[i][i].
  std::vector<int>& offset = start;  // reuse: offsets follow the starts in the same array
  const std::size_t base = static_cast<std::size_t>(N);
  offset.resize(2 * base + 1);
  std::size_t total = 0;
  for (int i = 0; i < N; ++i) {
    offset[base + i] = static_cast<int>(total);
    total += 2 * static_cast<std::size_t>(i - start[i]) + 1;
  }
  offset[2 * base] = static_cast<int>(total);
  values.assign(total, 0.0);
  auto Lrow = [&](int i) { return values.data() + offset[base + i]; };                   // L[i][start[i] + k]
  auto Ucol = [&](int i) { return values.data() + offset[base + i] + (i - start[i]); };  // U[start[i] + k][i]
  auto Udiag = [&](int i) -> double& { return values[offset[base + i] + 2 * (i - start[i])]; };
  for (int i = 0; i < N; ++i) {
    Udiag(i) = jd[i];
    if (i > 0) {
      Lrow(i)[i - 1 - start[i]] = jl[i];
      Ucol(i)[i - 1 - start[i]] = ju[i - 1];
    }
  }
  for (const SparseElement& e : sparse) {
    if (e.row == e.col) {
      Udiag(e.row) += e.value;
    } else if (e.col < e.row) {
      Lrow(e.row)[e.col - start[e.row]] += e.value;
    } else {
      Ucol(e.col)[e.row - start[e.col]] += e.value;
    }
  }
  // Doolittle factorisation within the envelope.
  for (int i = 0; i < N; ++i) {
    const int si = start[i];
    double* Li = Lrow(i);
    double* Ui = Ucol(i);
    for (int j = si; j < i; ++j) {  // column i of U, rows j
      const int sj = start[j];
      const double* Lj = Lrow(j);
      double s = Ui[j - si];
      for (int k = std::max(si, sj); k < j; ++k) s -= Lj[k - sj] * Ui[k - si];
      Ui[j - si] = s;
    }
    for (int j = si; j < i; ++j) {  // row i of L, columns j
      const int sj = start[j];
      const double* Uj = Ucol(j);
      double s = Li[j - si];
      for (int k = std::max(si, sj); k < j; ++k) s -= Li[k - si] * Uj[k - sj];
      const double piv = Udiag(j);
      Li[j - si] = s / piv;
    }
    double d = Udiag(i);
    for (int k = si; k < i; ++k) d -= Li[k - si] * Ui[k - si];
    if (!(std::isfinite(d) && d != 0.0)) return -1;
    Udiag(i) = d;
  }
  // Forward substitution L·y = b, then back substitution U·x = y (column-oriented).
  for (int i = 0; i < N; ++i) {
    const double* Li = Lrow(i);
    double s = b[i];
    for (int k = start[i]; k < i; ++k) s -= Li[k - start[i]] * b[k];
    b[i] = s;
  }
  for (int i = N - 1; i >= 0; --i) {
    b[i] /= Udiag(i);
    const double* Ui = Ucol(i);
    for (int k = start[i]; k < i; ++k) b[k] -= Ui[k - start[i]] * b[i];
  }
  for (int i = 0; i < N; ++i)
    if (!std::isfinite(b[i])) return -1;
  return 0;
}

void BandMatrix::clear() const { std::fill(band, band + static_cast<long>(ld()) * n, 0.0); }

namespace {

constexpr double kPivotThreshold = 0.1;

// The unknown j of the back substitution, taken out of the `rows` rows above it (ROWS when it is
// known when compiled, so that the short loop is unrolled).
template <int ROWS = 0>
bool SubstituteColumn(const double* cj, int j, int count, std::span<double> b) {
  const int rows = ROWS > 0 ? ROWS : count;
  const double xj = b[j] * cj[0];  // cj[0] holds the reciprocal of the pivot
  if (!std::isfinite(xj)) return false;
  b[j] = xj;
  for (int k = 1; k <= rows; ++k) b[j - k] -= cj[-k] * xj;
  return true;
}

// Back substitution with the U factor of a factorised band matrix, by columns: each unknown, once
// known, is taken out of the rows above it (independent updates of a contiguous column rather
// than one long chain of sums per row).
int BackSubstituteBanded(const BandMatrix& A, std::span<double> b) {
  const long ld = A.ld();
  const int diag = A.kl + A.ku;
  int j = A.n - 1;
  // The coupled Newton's band (kl = 5, ku = 6) with a row count known when compiled, so that the
  // short update loop is unrolled; the same arithmetic in the same order as the general loop.
  if (diag == kCoupledKl + kCoupledKu)
    for (; j >= diag; --j)
      if (!SubstituteColumn<kCoupledKl + kCoupledKu>(A.band + j * ld + diag, j, 0, b))
        return -1;
  for (; j >= 0; --j)
    if (!SubstituteColumn(A.band + j * ld + diag, j, std::min(j, diag), b)) return -1;
  return 0;
}

// Elimination of column j with threshold pivoting over the `km` rows below the diagonal; ju is the
// last column the U factor reaches so far. Returns false at a zero or non-finite pivot.
template <int KM = 0>
bool EliminateColumn(const BandMatrix& A, int j, int count, int& ju, std::span<int> pivots, std::span<double> b) {
  const int km = KM > 0 ? KM : count;
  const long ld = A.ld();
  double* const band = A.band;
  const int diag = A.kl + A.ku;  // offset of the diagonal in a stored column
  double* const cj = band + j * ld + diag;  // cj[i] = A(j + i, j)
  // Threshold pivoting: the diagonal stays the pivot while it is within a factor kPivotThreshold
  // of the largest element below it. The multipliers stay bounded by 1/kPivotThreshold, and
  // every interchange avoided keeps the upper band from growing.
  double below = 0.0;
  for (int i = 1; i <= km; ++i) below = std::max(below, std::fabs(cj[i]));
  const double d = std::fabs(cj[0]);
  int p = 0;
  if (!(d >= kPivotThreshold * below)) {
    double best = d;
    for (int i = 1; i <= km; ++i)
      if (std::fabs(cj[i]) > best) {
        best = std::fabs(cj[i]);
        p = i;
      }
  }
  const double pivot = std::fabs(cj[p]);
  if (!(pivot > 0.0) || !std::isfinite(pivot) || !std::isfinite(below)) return false;
  pivots[j] = j + p;
  ju = std::max(ju, std::min(j + A.ku + p, A.n - 1));
  if (p != 0) {
    for (int c = j; c <= ju; ++c) {
      double* cc = band + c * ld + diag + j - c;  // cc[i] = A(j + i, c)
      std::swap(cc[0], cc[p]);
    }
    std::swap(b[j], b[j + p]);
  }
  const double inv = 1.0 / cj[0];
  cj[0] = inv;  // the back substitution multiplies by it
  for (int i = 1; i <= km; ++i) cj[i] *= inv;
  for (int c = j + 1; c <= ju; ++c) {
    double* cc = band + c * ld + diag + j - c;
    const double t = cc[0];
    if (t == 0.0) continue;
    for (int i = 1; i <= km; ++i) cc[i] -= cj[i] * t;
  }
  const double bj = b[j];
  for (int i = 1; i <= km; ++i) b[j + i] -= cj[i] * bj;
  return true;
}

}  // namespace

int SolveBanded(const BandMatrix& A, std::span<int> pivots, std::span<double> b) {
  const int n = A.n, kl = A.kl;
  if (n <= 0) return -1;
  // Elimination with row interchanges; the upper band grows to kl + ku through the swaps. The
  // storage is by columns, so that a column below the diagonal (the multipliers) and the part
  // of a later column that one pivot row updates are contiguous.
  int ju = 0;
  int j = 0;
  if (kl == kCoupledKl)
    for (; j < n - kl; ++j)
      if (!EliminateColumn<kCoupledKl>(A, j, 0, ju, pivots, b)) return -1;
  for (; j < n; ++j)
    if (!EliminateColumn(A, j, std::min(kl, n - 1 - j), ju, pivots, b)) return -1;
  return BackSubstituteBanded(A, b);
}

int SolveFactoredBanded(const BandMatrix& A, std::span<const int> pivots, std::span<double> b) {
  const int n = A.n, kl = A.kl, ku = A.ku;
  if (n <= 0) return -1;
  const long ld = A.ld();
  const double* const band = A.band;
  const int diag = kl + ku;
  // The row interchanges and the multipliers of the factorisation, in the order it made them.
  for (int j = 0; j < n; ++j) {
    const int km = std::min(kl, n - 1 - j);
    const double* const cj = band + j * ld + diag;
    if (pivots[j] != j) std::swap(b[j], b[pivots[j]]);
    const double bj = b[j];
    for (int i = 1; i <= km; ++i) b[j + i] -= cj[i] * bj;
  }
  return BackSubstituteBanded(A, b);
}

namespace {

int SolveGummelStep(CalculationVariables& cv, const char* name) {
  SolverWorkspace& w = cv.work;
  const int N = cv.mesh.N;
  std::copy(w.F.begin(), w.F.begin() + N, w.delta.begin());
  const int r = SolveTridiagonalInterface(N, cv.mesh.last, cv.par->nlayers, w.jl, w.jd, w.ju, w.extra, w.delta);
  if (r != 0) SolverMessage(cv, "Error beep:", std::string("Error in function '") + name + "'.");
  return r;
}

}  // namespace

int bereken_delta_psi_Gummel(CalculationVariables& cv) {
  CountCall(cv, CallCounter::bereken_delta_psi_Gummel);
  return SolveGummelStep(cv, "bereken_delta_psi_Gummel");
}

int bereken_delta_u_of_v_Gummel(CalculationVariables& cv) {
  CountCall(cv, CallCounter::bereken_delta_u_of_v_Gummel);
  // The continuity equations have no element beyond the band.
  std::fill(cv.work.extra.begin(), cv.work.extra.end(), 0.0);
  return SolveGummelStep(cv, "bereken_delta_u_of_v_Gummel");
}

int bereken_delta_u_of_v_Gummel_sparse(CalculationVariables& cv, std::span<const SparseElement> sparse) {
  CountCall(cv, CallCounter::bereken_delta_u_of_v_Gummel_sparse);
  SolverWorkspace& w = cv.work;
  const int N = cv.mesh.N;
  std::copy(w.F.begin(), w.F.begin() + N, w.delta.begin());
  const int r =
      SolveEnvelope(N, w.jl, w.jd, w.ju, sparse, std::span<double>(w.delta.data(), N), w.env_values, w.env_start);
  if (r != 0) SolverMessage(cv, "Error beep:", "Error in function 'bereken_delta_u_of_v_Gummel_sparse'.");
  return r;
}

}  // namespace zoniq
