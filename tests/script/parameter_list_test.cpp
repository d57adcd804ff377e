// The list of cell parameter names (zoniq --list-parameters and the user manual) against the
// lookup of the set and get commands, both ways, and the sensible ranges behind the warnings.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "celldef/cell_parameters.hpp"
#include "celldef/parameter_catalogue.hpp"
#include "common/text.hpp"
#include "script_test_util.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// The placeholders of the list filled in: layer or interface 1, defect 1, level 1.
std::string Instance(std::string name) {
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"layerN", "layer1"},
                                 {"interfaceN", "interface1"},
                                 {"defectM", "defect1"},
                                 {"IFdefectM", "IFdefect1"},
                                 {"levelK", "level1"}}) {
    const std::size_t at = name.find(from);
    if (at != std::string::npos) name.replace(at, from.size(), to);
  }
  return name;
}

// A two-layer cell with a bulk defect, a metastable transition and an interface defect, in
// two versions: graded properties over the composition (pureA, pureB) and over the position
// (left, right).
CellDefinition TestCell(int dependence) {
  CellDefinition cell;
  InitialiseParameterset2(cell);
  cell.numberOfLayers = 2;
  cell.layer[0].srhteller = 2;
  cell.interface[0].numberOfDefects = 1;
  LayerParameters& L = cell.layer[0];
  for (Profile* p : {&L.Eg, &L.chi, &L.eps, &L.Nc, &L.Nv, &L.v_th_n, &L.v_th_p, &L.mu_n, &L.mu_p, &L.Na, &L.Nd,
                     &L.K_rad, &L.c_n_auger, &L.c_p_auger, &L.srh[0][0].Nt, &L.meta[0].Nt})
    p->dependence = dependence;
  return cell;
}

TEST(ParameterList, EveryListedNameIsAcceptedBySetAndGetAsItsQuantity) {
  const CellDefinition overComposition = TestCell(DEP_COMPOSITION), overPosition = TestCell(DEP_POSITION);
  std::deque<std::string> keep;
  const std::vector<ListedName> names = ListCellParameterNames();
  ASSERT_GT(names.size(), 150u);
  for (const ListedName& n : names) {
    const std::string dotted = Instance(n.name);
    const bool positional = dotted.ends_with(".left") || dotted.ends_with(".right");
    const CellDefinition& cell = positional ? overPosition : overComposition;
    CellParameter p;
    CellParameterError error;
    ASSERT_TRUE(ArgumentToCellParameter(cell, test::SplitName(dotted, keep), "set", p, error))
        << dotted << ": " << error.text;
    EXPECT_EQ(p.quantity, n.quantity) << dotted;
    EXPECT_EQ(p.valueKind, n.kind) << dotted;
    double value = 0.0;
    EXPECT_TRUE(CellparameterToGetVariable(cell, p, value, "get", error)) << dotted << ": " << error.text;
  }
}

TEST(ParameterList, EveryQuantityAndEveryDocumentedNameIsListed) {
  const std::vector<ListedName> names = ListCellParameterNames();
  std::set<std::string> listed;
  std::set<int> quantities;
  for (const ListedName& n : names) {
    EXPECT_TRUE(listed.insert(n.name).second) << "listed twice: " << n.name;
    quantities.insert(static_cast<int>(n.quantity));
  }
  // Every quantity the lookup can return (the enumeration runs from kSn to kIFSigmaPRight) is
  // reachable by a listed name and has a catalogue row.
  for (int q = static_cast<int>(CellQuantity::kSn); q <= static_cast<int>(CellQuantity::kIFSigmaPRight); ++q) {
    EXPECT_TRUE(quantities.count(q)) << "quantity " << q << " has no listed name";
    EXPECT_EQ(static_cast<int>(InfoOf(static_cast<CellQuantity>(q)).quantity), q) << "quantity " << q;
  }
  // The names of the script language, written down from its description (not from the tables):
  // the list must hold each of them.
  std::istringstream documented(
      "contact.left.sn contact.right.sp contact.left.work contact.right.flat.always contact.left.optical.refl "
      "contact.right.optical.file layerN.thickness layerN.Eg layerN.chi layerN.epsilon layerN.NC layerN.NV "
      "layerN.vthn layerN.vthp layerN.mun layerN.mup layerN.NA layerN.ND layerN.radiative layerN.Augern "
      "layerN.Augerp layerN.composition.file layerN.absorption.A layerN.absorption.B.pureB layerN.absorption.file "
      "layerN.NA.left layerN.Eg.pureB layerN.defectM.gauss layerN.defectM.amphoteric layerN.defectM.aboveEi "
      "layerN.defectM.Et.levelK layerN.defectM.Echar layerN.defectM.Ntotal layerN.defectM.Npeak "
      "layerN.metadefectM.allowmeta layerN.metadefectM.E_TR layerN.metadefectM.E_HE layerN.metadefectM.Ntotal "
      "interfaceN.IBtunneling interfaceN.IBtunneling.mh interfaceN.IFdefectM.VBtail "
      "interfaceN.IFdefectM.aboveEVLEFT interfaceN.IFdefectM.aboveEiRight interfaceN.IFdefectM.Npeak "
      "interfaceN.IFdefectM.tunneling.me interfaceN.IFdefectM.sigmapright");
  for (std::string name; documented >> name;) EXPECT_TRUE(listed.count(name)) << name;
}

TEST(ParameterList, TheManualHoldsTheListAsTheProgramPrintsIt) {
  const std::string manual = test::ReadWholeFile(ZONIQ_USER_MANUAL);
  const std::string begin = "<!-- zoniq --list-parameters begin -->\n```\n";
  const std::string end = "```\n<!-- zoniq --list-parameters end -->";
  const std::size_t a = manual.find(begin), b = manual.find(end);
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  EXPECT_EQ(manual.substr(a + begin.size(), b - a - begin.size()), ListParametersText())
      << "regenerate the block with: zoniq --list-parameters";
}

TEST(ParameterList, ValuesOutsideTheSensibleRangeAreWarnedAboutWithTheUnit) {
  CellParameter na;
  na.quantity = CellQuantity::kNA;
  // 2e22 is the definition file's m^-3 value of a 2e16 cm^-3 doping: outside 0 to 1e21 cm^-3.
  const std::string w = PlausibilityWarning(na, 2e22);
  EXPECT_NE(w.find("cm^-3"), std::string::npos) << w;
  EXPECT_EQ(PlausibilityWarning(na, 2e16), "");
  CellParameter d;
  d.quantity = CellQuantity::kThickness;
  // 3e-6 is a thickness in m typed into the script's um: below 1e-4 um (1 Angstrom).
  EXPECT_NE(PlausibilityWarning(d, 3e-6).find("um"), std::string::npos);
  EXPECT_NE(PlausibilityWarning(d, 2500.0), "");  // 2.5 mm
  EXPECT_EQ(PlausibilityWarning(d, 2.5), "");
  CellParameter mu;
  mu.quantity = CellQuantity::kMun;
  EXPECT_NE(PlausibilityWarning(mu, 1e6), "");  // beyond any semiconductor (GaAs: 8500 cm^2/Vs)
  EXPECT_EQ(PlausibilityWarning(mu, 100.0), "");
  // Keywords and file names have no range.
  CellParameter file;
  file.quantity = CellQuantity::kAbsorptionFile;
  file.valueKind = CellValueKind::kText;
  EXPECT_EQ(PlausibilityWarning(file, 1e99), "");
}

}  // namespace
}  // namespace zoniq
