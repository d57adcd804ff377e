// A saved definition reloads to the same cell: the acceptance tolerances are written only when
// they differ from the defaults, and read back.
#include <gtest/gtest.h>

#include "celldef/deffile_fixture.hpp"
#include "celldef/definition_file.hpp"

namespace zoniq::test {
namespace {

// The tolerances of the acceptance check are numerical settings of the cell: written only when
// they differ from the defaults (files of the default keep their layout), and read back.
TEST(AcceptanceSettingsRoundTrip, WrittenOnlyWhenChanged) {
  TempDir dir;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InputParameters set1 = TwoLayerSet(ms, extras);
  EXPECT_EQ(DefinitionFileText(set1, ms, extras, kBanner, kSavedAt).find("acceptance"), std::string::npos);
  set1.convergence.acceptance_step = 0.02;
  set1.convergence.acceptance_current = 5e-4;
  set1.convergence.minimum_bias_step = 0.0;
  const std::string text = DefinitionFileText(set1, ms, extras, kBanner, kSavedAt);
  EXPECT_NE(text.find("\nacceptance step :  2.00e-02 (kT)\n"), std::string::npos);
  EXPECT_NE(text.find("\nacceptance current :  5.00e-04 (rel.)\n"), std::string::npos);
  EXPECT_NE(text.find("\nminimum bias step :  0.00e+00 (V)\n"), std::string::npos);
  const ReadResult r = ReadDefText(dir, text);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.set.convergence, set1.convergence);
}

}  // namespace
}  // namespace zoniq::test
