// The absorption tables are shared between copies of a solution record instead of being copied:
// a copy must still behave as a value, so evaluating the absorption again in one record may
// never change what another record reads.
#include <gtest/gtest.h>

#include "solver/calculation_variables.hpp"

namespace zoniq {
namespace {

TEST(SharedTable, EmptyUntilFilled) {
  SharedTable t;
  EXPECT_TRUE(t.empty());
  EXPECT_EQ(t.size(), 0u);
  EXPECT_EQ(t.data(), nullptr);
  const std::span<double> w = t.Reset(4);
  ASSERT_EQ(w.size(), 4u);
  for (double v : w) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(t.size(), 4u);
}

TEST(SharedTable, CopiesShareUntilOneIsRefilled) {
  SharedTable a;
  std::span<double> w = a.Reset(3);
  w[0] = 1.0;
  w[1] = 2.0;
  w[2] = 3.0;
  SharedTable b = a;
  EXPECT_TRUE(b.SharesWith(a));
  EXPECT_EQ(b.data(), a.data());  // no copy of the values
  EXPECT_EQ(b[1], 2.0);

  // Refilling the copy (a new mesh) gives it values of its own; the original keeps its values.
  w = b.Reset(2);
  EXPECT_FALSE(b.SharesWith(a));
  w[0] = 7.0;
  EXPECT_EQ(b.size(), 2u);
  EXPECT_EQ(b[0], 7.0);
  EXPECT_EQ(b[1], 0.0);
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0], 1.0);
  EXPECT_EQ(a[1], 2.0);
  EXPECT_EQ(a[2], 3.0);
}

TEST(SharedTable, SoleOwnerReusesItsStorage) {
  SharedTable a;
  a.Reset(100);
  const double* before = a.data();
  // A smaller refill of a table nobody shares needs no new storage, and it is cleared.
  std::span<double> w = a.Reset(50);
  EXPECT_EQ(a.data(), before);
  for (double v : w) EXPECT_EQ(v, 0.0);
}

TEST(SharedTable, RecordCopiesShareTheAbsorption) {
  CalculationVariables src;
  std::span<double> w = src.alpha.Reset(6);
  w[5] = 4.5e6;
  src.alphaL.Reset(6)[5] = 0.45;
  CalculationVariables dst;
  CopyCalculationVariables(dst, src);
  EXPECT_TRUE(dst.alpha.SharesWith(src.alpha));
  EXPECT_TRUE(dst.alphaL.SharesWith(src.alphaL));
  EXPECT_EQ(dst.alpha[5], 4.5e6);
  dst.alpha.Reset(6);
  EXPECT_EQ(src.alpha[5], 4.5e6);
  EXPECT_EQ(dst.alpha[5], 0.0);
}

}  // namespace
}  // namespace zoniq
