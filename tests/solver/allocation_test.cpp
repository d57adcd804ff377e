// The Newton loops allocate nothing: every array is sized when the problem is set up.
#include <gtest/gtest.h>

#include <vector>

#include "allocation_counter.hpp"
#include "solver/dc_solve.hpp"
#include "solver/gummel.hpp"
#include "test_cells.hpp"

namespace zoniq {
namespace {

// The counter must see allocations, or the test below could not fail.
TEST(Allocation, CounterSeesAllocations) {
  const long before = test::AllocationCount();
  std::vector<double> v(1000, 1.0);
  // The address escapes, so an optimising compiler may not elide the allocation.
  static void* volatile escape = nullptr;
  escape = v.data();
  const long after = test::AllocationCount();
  EXPECT_EQ(escape, static_cast<void*>(v.data()));
  EXPECT_GE(after - before, 1);
}

TEST(Allocation, NoneWhileSolvingBiasPoints) {
  // Gummel loops, defect terms, linear solves and the coupled iteration, on a fixed mesh.
  DcProblem pb;
  ASSERT_EQ(SetUpDcProblem(pb, test::ThinFilmCell(true), MeshSettings{}), 0);
  CalculationVariables& cv = pb.cv;
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  ASSERT_EQ(SolveDarkBias(cv, 0.2, 2), 0);
  const long before = test::AllocationCount();
  ASSERT_EQ(SolveEquilibrium(cv), 0);
  ASSERT_EQ(SolveDarkBias(cv, 0.6, 5), 0);
  ASSERT_GT(CoupledNewton(cv), 0);
  const long after = test::AllocationCount();
  EXPECT_EQ(after - before, 0);
}

}  // namespace
}  // namespace zoniq
