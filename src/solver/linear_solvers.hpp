// Linear solvers of the Newton steps: the tridiagonal system of one equation on the mesh with
// one extra element per interface, its extension by off-band elements (envelope or skyline LU),
// and the banded LU with partial pivoting of the coupled system.
#pragma once

#include <span>
#include <vector>

#include "solver/calculation_variables.hpp"

namespace zoniq {

// Solves J·x = b for a tridiagonal J (lower jl, diagonal jd, upper ju per row) whose row
// last[l] (l < nlayers−1) also couples to the column first[l+1]+1 through extra[l]. Gaussian
// elimination without pivoting in mesh order. jd, ju and b are overwritten (b by x, jd by the
// reciprocals of the pivots). Returns 0, or −1 at a zero (or non-finite) pivot.
int SolveTridiagonalInterface(int N, std::span<const int> last, int nlayers, std::span<const double> jl,
                              std::span<double> jd, std::span<double> ju, std::span<const double> extra,
                              std::span<double> b);

// The same system plus off-band elements (row, column, value; the mirror position of every
// element must be present, possibly with value 0), solved by LU decomposition without pivoting
// within the symmetric envelope of the matrix. `values` and `start` are work arrays (resized as
// needed). Returns 0, or −1 at a zero pivot or for an empty system.
int SolveEnvelope(int N, std::span<const double> jl, std::span<const double> jd, std::span<const double> ju,
                  std::span<const SparseElement> sparse, std::span<double> b, std::vector<double>& values,
                  std::vector<int>& start);

// Banded matrix with kl sub- and ku super-diagonals in LAPACK's band storage for a factorisation
// with partial pivoting: element (r, c) at band[(kl + ku + r − c) + c·ld], ld = 2·kl + ku + 1.
// The band of the coupled Newton's Jacobian (ψ, u, v interleaved per point): the widest coupling
// reaches the next point's variables and its neighbours' across an interface.
inline constexpr int kCoupledKl = 5;
inline constexpr int kCoupledKu = 6;

struct BandMatrix {
  int n = 0, kl = 0, ku = 0;
  double* band = nullptr;
  int ld() const { return 2 * kl + ku + 1; }
  double& at(int r, int c) const { return band[(kl + ku + r - c) + static_cast<long>(c) * ld()]; }
  void clear() const;
};

// LU factorisation with threshold partial pivoting (a row interchange only where the diagonal is
// below a tenth of the largest element under it) and solution of A·x = b (b overwritten by x).
// Returns 0, or −1 when the matrix is singular or holds a non-finite value.
int SolveBanded(const BandMatrix& A, std::span<int> pivots, std::span<double> b);
// Solves A·x = b (b overwritten by x) with the factors and pivots SolveBanded left in A (the
// multipliers below the diagonal, U above it, and the reciprocals of U's diagonal on it).
int SolveFactoredBanded(const BandMatrix& A, std::span<const int> pivots, std::span<double> b);

// The Newton-step solvers of the Gummel iteration, with their messages ("Error in function '…'."
// in a box titled "Error beep:") on a zero pivot. The step is left in cv.work.delta.
int bereken_delta_psi_Gummel(CalculationVariables& cv);
int bereken_delta_u_of_v_Gummel(CalculationVariables& cv);
int bereken_delta_u_of_v_Gummel_sparse(CalculationVariables& cv, std::span<const SparseElement> sparse);

}  // namespace zoniq
