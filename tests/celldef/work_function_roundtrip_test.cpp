// A saved definition reloads to the same cell: the work functions of both contacts keep the
// meV a user gives them.
#include <gtest/gtest.h>

#include "celldef/deffile_fixture.hpp"
#include "celldef/definition_file.hpp"

namespace zoniq::test {
namespace {

TEST(WorkFunctionRoundTrip, BothContactsKeepFourDecimals) {
  TempDir dir;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InputParameters set1 = TwoLayerSet(ms, extras);
  ContactParameters& front = set1.cellParas.rightContact;
  ContactParameters& back = set1.cellParas.leftContact;
  front.flatband = back.flatband = 0;
  front.Fi_m = 4.567;  // two decimals made this 4.57 on reloading
  back.Fi_m = 5.1234;
  const std::string text = DefinitionFileText(set1, ms, extras, kBanner, kSavedAt);
  // Both lines in the back contact's layout, fix(8, 4).
  EXPECT_NE(text.find("\nFi_m :   4.5670 [eV]\n"), std::string::npos);
  EXPECT_NE(text.find("\nFi_m :   5.1234 [eV]\n"), std::string::npos);
  const ReadResult r = ReadDefText(dir, text);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.set.cellParas.rightContact.Fi_m, 4.567);
  EXPECT_EQ(r.set.cellParas.leftContact.Fi_m, 5.1234);
}

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
