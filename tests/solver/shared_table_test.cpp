// The absorption tables are shared between copies of a solution record instead of being copied:
// a copy must still behave as a value, so evaluating the absorption again in one record may
// never change what another record reads. Points with equal rows share one row.
#include <gtest/gtest.h>

#include "solver/calculation_variables.hpp"

namespace zoniq {
namespace {

TEST(SharedTable, CopiesShareUntilOneIsRefilled) {
  SharedTable a;
  a.Reset(2, 3);
  std::span<double> w = a.NewRow(0);
  w[0] = 1.0, w[1] = 2.0, w[2] = 3.0;
  a.ShareRow(1, 0);
  SharedTable b = a;
  EXPECT_TRUE(b.SharesWith(a));
  EXPECT_EQ(b.Row(1), a.Row(0));  // no copy of the values
  EXPECT_EQ(b.at(1, 1), 2.0);

  // Refilling the copy (a new mesh) gives it values of its own; the original keeps its values.
  b.Reset(2, 2);
  EXPECT_FALSE(b.SharesWith(a));
  b.NewRow(0)[0] = 7.0;
  EXPECT_EQ(b.points(), 2u);
  EXPECT_EQ(b.at(0, 0), 7.0);
  EXPECT_EQ(b.at(1, 0), 0.0);
  ASSERT_EQ(a.points(), 2u);
  EXPECT_EQ(a.at(0, 0), 1.0);
  EXPECT_EQ(a.at(1, 1), 2.0);
  EXPECT_EQ(a.at(1, 2), 3.0);
}

TEST(SharedTable, RecordCopiesShareTheAbsorption) {
  CalculationVariables src;
  src.alpha.Reset(6, 2);
  src.alpha.NewRow(5)[1] = 4.5e6;
  src.alphaL.Reset(6, 2);
  src.alphaL.NewRow(5)[1] = 0.45;
  CalculationVariables dst;
  CopyCalculationVariables(dst, src);
  EXPECT_TRUE(dst.alpha.SharesWith(src.alpha));
  EXPECT_TRUE(dst.alphaL.SharesWith(src.alphaL));
  EXPECT_EQ(dst.alpha.at(5, 1), 4.5e6);
  dst.alpha.Reset(6, 2);
  EXPECT_EQ(src.alpha.at(5, 1), 4.5e6);
  EXPECT_EQ(dst.alpha.at(5, 1), 0.0);
}

}  // namespace
}  // namespace zoniq
