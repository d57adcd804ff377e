// Definition-file items of metastable transitions and of their update loop against hostile
// input: a transition must name two different defects of its layer that carry the levels of its
// charge states, and no defect may serve two transitions; the loop's clamp is a fraction in
// (0, 1] and its tolerance positive.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "celldef/definition_file.hpp"
#include "celldef/metastable.hpp"
#include "deffile_fixture.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using namespace test;

// A layer with a donor (+/0) and an acceptor (0/−) defect; the transition begins on line 8.
const std::string kLayer =
    "layer\nsrhrecombination\ntype : donor ( 1 level(s) )\nleveltype :+/0\t\n"
    "next\ntype : acceptor ( 1 level(s) )\nleveltype :0/-\t\n";
const std::string kGood = "DonorDefect : 0\nAcceptorDefect : 1\nDonor charge state : 4\n";

struct MetaCase {
  const char* what;
  std::string text;
  int line;            // the line the message must name (0: the file is accepted)
  const char* naming;  // what the message must contain
};

TEST(MetastableDefFile, TransitionsAndLoopSettingsAreCheckedWhenRead) {
  const std::string t1 = kLayer + "Metastable properties: transition 1\n";
  const MetaCase cases[] = {
      {"valid", t1 + kGood, 0, ""},
      {"no defects named", t1, 8, "metastable transition 1 of layer 1"},
      {"donor is the acceptor", t1 + "DonorDefect : 1\nAcceptorDefect : 1\nDonor charge state : 4\n", 8,
       "same defect 2"},
      {"donor beyond the layer's defects", t1 + "DonorDefect : 2\nAcceptorDefect : 1\nDonor charge state : 4\n", 8,
       "donor defect 3 is not a bulk defect"},
      {"acceptor index -1", t1 + "DonorDefect : 0\nAcceptorDefect : -1\nDonor charge state : 4\n", 8,
       "acceptor defect 0 is not"},
      // Charge state 3: the donor would need a 0/− level, which defect 1 lacks.
      {"donor level missing", t1 + "DonorDefect : 0\nAcceptorDefect : 1\nDonor charge state : 3\n", 8,
       "has no level of type \"0/-\""},
      {"no state two electrons lower", t1 + "DonorDefect : 0\nAcceptorDefect : 1\nDonor charge state : 1\n", 8,
       "donor charge state 1"},
      {"second transition on the same defects", t1 + kGood + "Metastable properties: transition 2\n" + kGood, 12,
       "metastable transition 2 of layer 1: defect 1 is a configuration of transition 1"},
      {"negative cross section", t1 + kGood + "sigma_acc_n : -1e-19 [m^2]\n", 8, "negative"},
      {"phonon frequency zero", t1 + kGood + "Phonon frequency : 0 [Hz]\n", 12, "phonon frequency"},
      {"clamp zero", "convergence\nclamp_meta : 0 (rel.)\n", 2, "clamp_meta"},
      {"clamp above one", "convergence\nclamp_meta : 1.5 (rel.)\n", 2, "clamp_meta"},
      {"clamp one", "convergence\nclamp_meta : 1 (rel.)\n", 0, ""},
      {"negative tolerance", "convergence\ntermination_Meta_full : -1e-3 (rel.)\n", 2, "termination_Meta_full"},
  };
  for (const MetaCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    Recorder rec;
    InputParameters set;
    MottSchottkySettings ms;
    DefinitionExtras extras;
    InitialiseInputParameters(set, ms);
    ASSERT_EQ(lees_structuurfile(rec.env(), TestData("deffile/two_layers.def"), set, ms, extras), 0);
    const InputParameters before = set;
    const std::string path = dir.file("meta.def");
    WriteWholeFile(path, c.text);
    const int rc = lees_structuurfile(rec.env(), path, set, ms, extras);
    if (c.line == 0) {
      EXPECT_EQ(rc, 0);
      EXPECT_TRUE(rec.ui.popups.empty());
      continue;
    }
    EXPECT_LT(rc, 0);
    EXPECT_TRUE(set == before);
    ASSERT_EQ(rec.ui.popups.size(), 1u);
    const std::string& m = rec.ui.popups[0].message;
    EXPECT_NE(m.find("line " + std::to_string(c.line) + ":"), std::string::npos) << m;
    EXPECT_NE(m.find(c.naming), std::string::npos) << m;
  }
}

// The ring code and the choice of given energies (values worked out from their definitions;
// charge[1] = "2-", charge[3] = "0").
TEST(MetastableDefFile, RingCodeAndGivenEnergies) {
  std::string text;
  int d = 0, a = 0, cs = 0;
  interpreteMetaRingCode(MakeMetaRingCode(1, 0, 3, text), d, a, cs);
  EXPECT_EQ(std::make_tuple(d, a, cs, MakeMetaRingCode(1, 0, 3, text)), std::make_tuple(1, 0, 3, 148));
  EXPECT_EQ(text, "Transition 2-/0:\t between defect 1 (state 2-) [Acceptor] and defect 2 (state 0) [Donor]");
  std::array<unsigned char, 5> flags{};
  for (int choice = 0; choice < 8; ++choice) {
    int c = choice, back = -1;
    interpretEactgiven(c, flags, 0);
    EXPECT_EQ(interpretEactgiven(back, flags, 1), choice);
    EXPECT_TRUE(choice != 4 || flags == (std::array<unsigned char, 5>{1, 0, 0, 0, 1}));  // EE and TR
  }
}

}  // namespace
}  // namespace zoniq
