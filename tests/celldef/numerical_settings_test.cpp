// The numerical settings a script sets and gets (numerical.NAME): their limits, and the recovery
// log level kept in the definition file.
#include <gtest/gtest.h>

#include <cmath>

#include "celldef/deffile_fixture.hpp"
#include "celldef/definition_file.hpp"
#include "celldef/parameter_catalogue.hpp"
#include "test_util.hpp"

namespace zoniq::test {
namespace {

TEST(NumericalSettings, ValuesOutsideTheSolversLimitsAreRefusedAndChangeNothing) {
  const NumericalSetting* log = FindNumericalSetting("RecoveryLog");  // the script's names ignore case
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(FindNumericalSetting("recoverylogs"), nullptr);
  const struct {
    const char* name;
    double value;
    bool taken;
  } cases[] = {{"recoverylog", 2, true},        {"recoverylog", 3, false},        {"recoverylog", -1, false},
               {"recoverylog", 1.5, false},      {"coupledfallback", 0, true},     {"coupledfallback", 2, false},
               {"minimumbiasstep", 0, true},     {"minimumbiasstep", -1e-3, false}, {"acceptancestep", 0, false},
               {"acceptancecurrent", 1e-4, true}, {"acceptancecurrent", std::nan(""), false}};
  for (const auto& c : cases) {
    ConvergenceParameters conv;
    const NumericalSetting* s = FindNumericalSetting(c.name);
    ASSERT_NE(s, nullptr) << c.name;
    const ConvergenceParameters before = conv;
    EXPECT_EQ(SetNumericalSetting(conv, *s, c.value).empty(), c.taken) << c.name << " " << c.value;
    if (c.taken)
      EXPECT_EQ(s->get(conv), c.value) << c.name;
    else
      EXPECT_EQ(conv, before) << c.name << " " << c.value;
  }
}

TEST(NumericalSettings, TheRecoveryLogLevelIsSavedOffItsDefaultAndReadBack) {
  TempDir dir;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InputParameters set1 = TwoLayerSet(ms, extras);
  EXPECT_EQ(DefinitionFileText(set1, ms, extras, kBanner, kSavedAt).find("recovery log"), std::string::npos);
  set1.convergence.recoveryLog = 0;
  const std::string text = DefinitionFileText(set1, ms, extras, kBanner, kSavedAt);
  const std::string line = "\nrecovery log :  0 (0: none; 1: each recovery; 2: also each failed attempt)\n";
  EXPECT_NE(text.find(line), std::string::npos);
  const ReadResult back = ReadDefText(dir, text);
  ASSERT_EQ(back.rc, 0);
  EXPECT_EQ(back.set.convergence, set1.convergence);
  // A level the program does not know is refused with the file's line.
  std::string bad = text;
  bad.replace(bad.find(line), line.size(), "\nrecovery log :  3\n");
  EXPECT_NE(ReadDefText(dir, bad, "bad.def").rc, 0);
}

}  // namespace
}  // namespace zoniq::test
