// The Newton loops allocate nothing: every array is sized when the problem is set up.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "solver/dc_solve.hpp"
#include "solver/gummel.hpp"
#include "test_cells.hpp"

// Allocation counter; the replacement pair uses malloc and free, which GCC cannot match up.
namespace {
std::atomic<long> gAllocations{0};
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) {
  ++gAllocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  ++gAllocations;
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace zoniq {
namespace {

TEST(Allocation, NoneWhileSolvingBiasPoints) {
  // Gummel loops, defect terms, linear solves and the coupled iteration, on a fixed mesh.
  DcProblem pb;
  ASSERT_EQ(SetUpDcProblem(pb, test::ThinFilmCell(true), MeshSettings{}), 0);
  CalculationVariables& cv = pb.cv;
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  ASSERT_EQ(SolveDarkBias(cv, 0.2, 2), 0);
  const long before = gAllocations.load();
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  ASSERT_EQ(SolveDarkBias(cv, 0.6, 5), 0);
  ASSERT_GT(CoupledNewton(cv), 0);
  const long after = gAllocations.load();
  EXPECT_EQ(after - before, 0);
}

}  // namespace
}  // namespace zoniq
