// Cell parameters by name: lookup, set and get on the cell in practical units, the side effects
// that keep the cell consistent, and the messages for names, numbers and values that are wrong.
#include "celldef/cell_parameters.hpp"

#include <cmath>
#include <cstdint>
#include <deque>
#include <iterator>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "solver/bulk_recombination.hpp"
#include "test_util.hpp"

namespace zoniq::test {
namespace {

constexpr const char* kLine = "set the line";

// A three-layer cell in practical units (a fresh cell converted to set 2): two defects in
// layer 2, one in layer 3, one interface defect at interface 1 and two at interface 2.
class CellParametersTest : public ::testing::Test {
 protected:
  CellParametersTest() {
    InitialiseParameterset2(cell);
    cell.numberOfLayers = 3;
    cell.layer[1].srhteller = 2;
    cell.layer[2].srhteller = 1;
    cell.interface[0].numberOfDefects = 1;
    cell.interface[1].numberOfDefects = 2;
  }

  // The dotted name split at its full stops (at most four parts). The texts live in `names`.
  CellParameterName Split(const std::string& dotted) {
    names.push_back(dotted);
    const std::string& s = names.back();
    CellParameterName n;
    std::size_t start = 0;
    for (std::size_t i = 0; i < 4 && start <= s.size(); ++i) {
      const std::size_t dot = s.find('.', start);
      const std::size_t end = dot == std::string::npos ? s.size() : dot;
      n.part[i] = std::string_view(s).substr(start, end - start);
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
    return n;
  }

  CellParameter Locate(const std::string& dotted) {
    CellParameter p;
    CellParameterError e;
    EXPECT_TRUE(ArgumentToCellParameter(cell, Split(dotted), kLine, p, e)) << dotted << ": " << e.text;
    return p;
  }

  // The error of a name that is not found.
  CellParameterError LookupError(const std::string& dotted) {
    CellParameter p;
    CellParameterError e;
    EXPECT_FALSE(ArgumentToCellParameter(cell, Split(dotted), kLine, p, e)) << dotted;
    return e;
  }

  void Set(const std::string& dotted, double v) {
    const CellParameter p = Locate(dotted);
    EXPECT_EQ(p.valueKind, CellValueKind::kNumber) << dotted;
    CellParameterError e;
    EXPECT_TRUE(SetValueToCellparameter(cell, p, CellValue{v, {}}, kLine, e)) << dotted << ": " << e.text;
  }
  void SetText(const std::string& dotted, std::string_view text) {
    const CellParameter p = Locate(dotted);
    CellParameterError e;
    EXPECT_TRUE(SetValueToCellparameter(cell, p, CellValue{0.0, text}, kLine, e)) << dotted << ": " << e.text;
  }
  // A form whose name says everything.
  void SetState(const std::string& dotted) {
    const CellParameter p = Locate(dotted);
    EXPECT_EQ(p.valueKind, CellValueKind::kNone) << dotted;
    CellParameterError e;
    EXPECT_TRUE(SetValueToCellparameter(cell, p, CellValue{}, kLine, e)) << dotted << ": " << e.text;
  }
  // A refused value: the error, and the cell unchanged.
  CellParameterError SetError(const std::string& dotted, double v, std::string_view text = {}) {
    const CellDefinition before = cell;
    const CellParameter p = Locate(dotted);
    CellParameterError e;
    EXPECT_FALSE(SetValueToCellparameter(cell, p, CellValue{v, text}, kLine, e)) << dotted;
    EXPECT_TRUE(cell == before) << dotted << " changed the cell";
    return e;
  }
  double Get(const std::string& dotted) {
    const CellParameter p = Locate(dotted);
    double v = std::numeric_limits<double>::quiet_NaN();
    CellParameterError e;
    EXPECT_TRUE(CellparameterToGetVariable(cell, p, v, kLine, e)) << dotted << ": " << e.text;
    return v;
  }

  static std::string Text(const std::string& reason) { return std::string("Script command: ") + kLine + "\n" + reason; }

  CellDefinition cell;
  std::deque<std::string> names;  // stable: the parts of a name point into them
};

bool Uniform(const Profile& p, double v) {
  return p.law == LAW_UNIFORM && p.p[0] == v && p.p[1] == v && p.p[5] == v && p.p[6] == v;
}

// ---- every name against the field of the cell ----

using Cell = const CellDefinition&;
using Field = double (*)(Cell);

TEST_F(CellParametersTest, NumericNamesReachTheirFieldsAndReadBack) {
  const auto otherDefect = cell.layer[1].srh[0];
  const InterfaceRecombinationParameters otherIF = cell.interface[1].ifr[0];
  cell.layer[0].Eg.law = LAW_LINEAR;
  cell.layer[1].Nd.law = LAW_LOGARITHMIC;
  cell.layer[1].Nd.dependence = DEP_POSITION;
  struct Case {
    const char* name;
    double value;
    Field field;
  };
  // Values unlike every default, so that a name reaching the wrong field shows.
  const Case cases[] = {
      {"contact.left.sn", 2e4, [](Cell c) { return c.leftContact.Sn; }},
      {"contact.r.sp", 3e5, [](Cell c) { return c.rightContact.Sp; }},
      {"contact.right.work", 4.7, [](Cell c) { return c.rightContact.Fi_m; }},
      {"contact.r.optical.value", 0.92, [](Cell c) { return c.rightContact.filterValue; }},
      {"layer1.thickness", 1.75, [](Cell c) { return c.layer[0].d; }},
      {"layer1.Eg.pureB", 1.6, [](Cell c) { return c.layer[0].Eg.p[1]; }},
      {"layer1.Eg.pureA", 1.04, [](Cell c) { return c.layer[0].Eg.p[0]; }},
      {"layer2.ND.right", 1e15, [](Cell c) { return c.layer[1].Nd.p[6]; }},
      {"layer2.ND.left", 1e18, [](Cell c) { return c.layer[1].Nd.p[5]; }},
      {"layer3.absorption.A.pureB", 5e4, [](Cell c) { return c.layer[2].A[1]; }},
      {"layer3.absorption.B.pureA", -2e3, [](Cell c) { return c.layer[2].B[0]; }},
      {"layer2.defect2.Et", 0.45, [](Cell c) { return c.layer[1].srh[1][0].Et; }},
      {"layer2.defect2.Echar", 0.05, [](Cell c) { return c.layer[1].srh[1][0].Ekar; }},
      {"layer2.defect2.sigman", 2e-13, [](Cell c) { return c.layer[1].srh[1][0].sigma_n; }},
      {"layer2.defect2.sigmap", 3e-17, [](Cell c) { return c.layer[1].srh[1][0].sigma_p; }},
      {"layer2.defect2.Ntotal", 2e14, [](Cell c) { return c.layer[1].srh[1][0].Nt.p[0]; }},
      {"layer2.metadefect2.E_TR", 0.31, [](Cell c) { return c.layer[1].meta[1].Eact_TR; }},
      {"layer2.metadefect2.E_EC", 0.12, [](Cell c) { return c.layer[1].meta[1].Eact_EC; }},
      {"layer2.metadefect2.E_EE", 0.83, [](Cell c) { return c.layer[1].meta[1].Eact_EE; }},
      {"layer2.metadefect2.E_HC", 0.14, [](Cell c) { return c.layer[1].meta[1].Eact_HC; }},
      {"layer2.metadefect2.E_HE", 0.95, [](Cell c) { return c.layer[1].meta[1].Eact_HE; }},
      {"layer2.metadefect2.Ntotal.right", 1e15, [](Cell c) { return c.layer[1].meta[1].Nt.p[6]; }},
      {"interface2.IBtunneling.me", 0.2, [](Cell c) { return c.interface[1].me_rel; }},
      {"interface2.IBtunneling.mh", 0.7, [](Cell c) { return c.interface[1].mh_rel; }},
      {"interface2.IFdefect2.Et", 0.35, [](Cell c) { return c.interface[1].ifr[1].Et; }},
      {"interface2.IFdefect2.Echar", 0.2, [](Cell c) { return c.interface[1].ifr[1].Ekar; }},
      {"interface2.IFdefect2.Ntotal", 3e10, [](Cell c) { return c.interface[1].ifr[1].N; }},
      {"interface2.IFdefect2.tunneling.me", 0.09, [](Cell c) { return c.interface[1].ifr[1].me_rel; }},
      {"interface2.IFdefect2.tunneling.mh", 0.6, [](Cell c) { return c.interface[1].ifr[1].mh_rel; }},
      {"interface2.IFdefect2.sigmanleft", 1e-14, [](Cell c) { return c.interface[1].ifr[1].sigma_nleft; }},
      {"interface2.IFdefect2.sigmanright", 2e-14, [](Cell c) { return c.interface[1].ifr[1].sigma_nright; }},
      {"interface2.IFdefect2.sigmapleft", 3e-14, [](Cell c) { return c.interface[1].ifr[1].sigma_pleft; }},
      {"interface2.IFdefect2.sigmapright", 4e-14, [](Cell c) { return c.interface[1].ifr[1].sigma_pright; }},
  };
  for (const Case& c : cases) {
    Set(c.name, c.value);
    EXPECT_EQ(c.field(cell), c.value) << c.name;
    EXPECT_EQ(Get(c.name), c.value) << c.name;
  }
  // Every value stays where it was put (no later name overwrote an earlier one's field).
  for (const Case& c : cases) EXPECT_EQ(c.field(cell), c.value) << c.name;
  // Named alone, a graded property gives its pure A or left value.
  EXPECT_EQ(Get("layer1.Eg"), 1.04);
  EXPECT_EQ(Get("layer2.ND"), 1e18);
  EXPECT_EQ(cell.layer[0].Eg.law, LAW_LINEAR);
  EXPECT_EQ(cell.layer[1].Nd.law, LAW_LOGARITHMIC);
  EXPECT_TRUE(cell.layer[1].srh[0] == otherDefect) << "the other defect is untouched";
  EXPECT_TRUE(cell.interface[1].ifr[0] == otherIF) << "the other defect is untouched";
}

TEST_F(CellParametersTest, StateAndKeywordNamesReachTheirFields) {
  struct Case {
    const char* name;
    const char* text;  // nullptr: the name alone says it
    Field field;
    double expected;
  };
  const auto flat = [](Cell c) { return double(c.rightContact.flatband); };
  const auto defectRef = [](Cell c) { return double(c.layer[1].srh[1][0].reference); };
  const auto ifRef = [](Cell c) { return double(c.interface[1].ifr[1].reference); };
  const Case cases[] = {
      {"contact.right.flat.on", nullptr, flat, 1},
      {"contact.r.flat", "0", flat, 0},  // the switch alone takes 0 or 1
      {"contact.l.flat.off", nullptr, [](Cell c) { return double(c.leftContact.flatband); }, 0},
      {"contact.l.flat.first", nullptr, [](Cell c) { return double(c.leftContact.recalculate); }, 0},
      {"contact.l.flat.always", nullptr, [](Cell c) { return double(c.leftContact.recalculate); }, 1},
      {"contact.r.optical.on", nullptr, [](Cell c) { return double(c.rightContact.filterOn); }, 1},
      {"contact.r.optical.trans", nullptr, [](Cell c) { return double(c.rightContact.filterKind); }, 1},
      {"contact.r.optical.refl", nullptr, [](Cell c) { return double(c.rightContact.filterKind); }, 0},
      {"layer2.defect2.gauss", nullptr, [](Cell c) { return double(c.layer[1].srh[1][0].distribution); }, ED_GAUSS},
      {"layer2.defect2.energydistribution", "VBtail  // trailing words are ignored",
       [](Cell c) { return double(c.layer[1].srh[1][0].distribution); }, ED_VBTAIL},
      {"layer2.defect2.energydistribution", "3", [](Cell c) { return double(c.layer[1].srh[1][0].distribution); },
       ED_CBTAIL},
      {"layer2.defect2.belowEC", nullptr, defectRef, 2},
      {"layer2.defect2.referencelevel", "aboveEi", defectRef, 1},
      {"layer2.metadefect2.belowEC", nullptr, [](Cell c) { return double(c.layer[1].meta[1].reference); }, 2},
      {"layer2.metadefect2.referencelevel", "aboveEV", [](Cell c) { return double(c.layer[1].meta[1].reference); }, 0},
      {"interface2.IBtunneling.on", nullptr, [](Cell c) { return double(c.interface[1].intrabandTunneling); }, 1},
      {"interface2.IFdefect2.uniform", nullptr, [](Cell c) { return double(c.interface[1].ifr[1].distribution); },
       ED_UNIFORM},
      {"interface2.IFdefect2.singleacceptor", nullptr, [](Cell c) { return double(c.interface[1].ifr[1].type); },
       DT_ACCEPTOR},
      {"interface2.IFdefect2.chargetype", "singledonor", [](Cell c) { return double(c.interface[1].ifr[1].type); },
       DT_DONOR},
      {"interface2.IFdefect2.tunneling.on", nullptr, [](Cell c) { return double(c.interface[1].ifr[1].tunneling); }, 1},
      {"interface2.IFdefect2.aboveHighestEV", nullptr, ifRef, 3},
      {"interface2.IFdefect2.aboveEVLEFT", nullptr, ifRef, 7},
      {"interface2.IFdefect2.aboveEiLeft", nullptr, ifRef, 5},
      {"interface2.IFdefect2.aboveEiRight", nullptr, ifRef, 6},
      {"interface2.IFdefect2.referencelevel", "belowLowestEC", ifRef, 4},
  };
  for (const Case& c : cases) {
    if (!c.text) {
      SetState(c.name);
    } else if (std::string_view(c.name).ends_with("flat")) {
      Set(c.name, std::stod(c.text));
    } else {
      SetText(c.name, c.text);
    }
    EXPECT_EQ(c.field(cell), c.expected) << c.name;
  }
  EXPECT_EQ(Get("layer2.defect2.energydistribution"), ED_CBTAIL);
  EXPECT_EQ(Get("layer2.defect2.CBtail"), 1.0);
  EXPECT_EQ(Get("layer2.defect2.gauss"), 0.0);
  EXPECT_EQ(Get("interface2.IFdefect2.referencelevel"), 4.0);

  // A keyword's code, as get returns it, sets the same state as the keyword.
  const std::pair<const char*, const char*> keywords[] = {
      {"layer2.defect1.energydistribution", "gauss"},         {"layer2.defect1.chargetype", "amphoteric"},
      {"layer2.defect1.referencelevel", "belowEC"},           {"layer2.metadefect1.referencelevel", "aboveEi"},
      {"interface1.IFdefect1.energydistribution", "VBtail"},  {"interface1.IFdefect1.chargetype", "singleacceptor"},
      {"interface1.IFdefect1.referencelevel", "aboveEiRight"}};
  for (const auto& [name, word] : keywords) {
    const CellDefinition before = cell;
    SetText(name, word);
    const CellDefinition after = cell;
    EXPECT_FALSE(after == before) << name << ": the test value must be a change";
    const std::string code = std::to_string(static_cast<int>(Get(name)));
    cell = before;
    SetText(name, code);
    EXPECT_TRUE(cell == after) << name << " " << word << " = " << code;
  }
}

TEST_F(CellParametersTest, LayerPropertiesNamedAloneBecomeUniform) {
  struct Case {
    const char* name;
    Profile LayerParameters::*field;
    double value;
  };
  const Case cases[] = {
      {"Eg", &LayerParameters::Eg, 1.15},
      {"chi", &LayerParameters::chi, 4.1},
      {"epsilon", &LayerParameters::eps, 13.6},
      {"NC", &LayerParameters::Nc, 2.2e18},
      {"NV", &LayerParameters::Nv, 1.8e19},
      {"vthn", &LayerParameters::v_th_n, 2e7},
      {"vthp", &LayerParameters::v_th_p, 1.5e7},
      {"mun", &LayerParameters::mu_n, 100},
      {"mup", &LayerParameters::mu_p, 25},
      {"NA", &LayerParameters::Na, 2e16},
      {"ND", &LayerParameters::Nd, 3e17},
      {"radiative", &LayerParameters::K_rad, 1e-10},
      {"Augern", &LayerParameters::c_n_auger, 1e-30},
      {"Augerp", &LayerParameters::c_p_auger, 2e-30},
  };
  // Start from a graded property, so that "uniform" is a change.
  for (const Case& c : cases) {
    Profile& prof = cell.layer[1].*c.field;
    prof.law = LAW_PARABOLIC;
    prof.p = {1.0, 2.0, 0.3, 0.5, 0.0, 1.0, 2.0};
    SetProfileScaleParameters(prof);
    Set(std::string("layer2.") + c.name, c.value);
    EXPECT_TRUE(Uniform(prof, c.value)) << c.name;
    EXPECT_EQ(prof.scaleFlag, (std::array<int, 2>{0, 0})) << c.name;
    EXPECT_EQ(prof.p[2], 0.3) << c.name;  // the law's own parameters stay
    EXPECT_EQ(Get(std::string("layer2.") + c.name), c.value) << c.name;
    EXPECT_TRUE(cell.layer[0].*c.field == cell.layer[2].*c.field) << c.name << ": other layers untouched";
  }
}

TEST_F(CellParametersTest, SideEffectsKeepTheCellConsistent) {
  // A work function is of use only with a fixed work function: the flat-band switch goes off.
  ASSERT_EQ(cell.rightContact.flatband, 1);
  Set("contact.right.work", 4.7);
  EXPECT_EQ(cell.rightContact.flatband, 0);
  EXPECT_EQ(cell.leftContact.flatband, 1);
  // A filter is a constant value or a file.
  Set("contact.r.optical.value", 0.92);
  EXPECT_EQ(cell.rightContact.wavelengthIndependent, 1);
  SetText("contact.r.optical.file", "  my filter.ftr ");
  EXPECT_EQ(cell.rightContact.filterFile, "my filter.ftr");
  EXPECT_EQ(cell.rightContact.wavelengthIndependent, 0);

  // The uniform law takes pure A material; its side values follow, pure B keeps its value.
  Profile& chi = cell.layer[0].chi;
  Set("layer1.chi.pureA", 4.3);
  EXPECT_EQ((std::vector<double>{chi.p[0], chi.p[5], chi.p[6], chi.p[1]}), (std::vector<double>{4.3, 4.3, 4.3, 4.5}));

  LayerParameters& L = cell.layer[2];
  Set("layer3.composition", 0.3);
  EXPECT_EQ(L.composition.law, LAW_UNIFORM_Y);
  EXPECT_EQ(L.composition.p[5], 0.3);
  EXPECT_EQ(L.composition.p[6], 0.3);
  EXPECT_EQ(L.compositionMode, 21);  // as the definition-file reader marks law 11
  EXPECT_EQ(Get("layer3.composition.file"), 0.0);
  SetText("layer3.composition.file", "cigs ga.grd");
  EXPECT_EQ(L.composition.law, LAW_FROM_FILE);
  EXPECT_EQ(L.composition.gradingFile, "cigs ga.grd");
  EXPECT_EQ(L.compositionMode, 0);
  EXPECT_EQ(Get("layer3.composition.file"), 1.0);

  // Absorption constants switch the material they name (both without one) to the A/B model;
  // a file switches it back.
  L.absorptionModel = {ABS_MODEL_FILE, ABS_MODEL_FILE};
  Set("layer3.absorption.A.pureB", 5e4);
  EXPECT_EQ(L.absorptionModel, (std::array<int, 2>{ABS_MODEL_FILE, ABS_MODEL_AB}));
  Set("layer3.absorption.A", 3e4);
  EXPECT_EQ(L.A, (std::array<double, 2>{3e4, 3e4}));
  EXPECT_EQ(L.absorptionModel, (std::array<int, 2>{ABS_MODEL_AB, ABS_MODEL_AB}));
  SetText("layer3.absorption.file.pureA", "CdTe.abs");
  EXPECT_EQ(L.absorptionFile, (std::array<std::string, 2>{"CdTe.abs", ""}));
  EXPECT_EQ(L.absorptionModel, (std::array<int, 2>{ABS_MODEL_FILE, ABS_MODEL_AB}));
  EXPECT_EQ(Get("layer3.absorption.file"), 1.0);
  EXPECT_EQ(Get("layer3.absorption.file.pureB"), 0.0);

  // The values that do not belong to the dependence are refused.
  cell.layer[1].Nd.dependence = DEP_POSITION;
  EXPECT_EQ(LookupError("layer2.ND.pureA").text,
            Text("Argument not recognised: layer2.ND.pureA\nThis property is given over the position: name "
                 "its left or right value"));
  EXPECT_EQ(LookupError("layer1.Eg.left").text,
            Text("Argument not recognised: layer1.Eg.left\nThis property is given over the composition: "
                 "name its pureA or pureB value"));

  // A metastable transition takes the layer's first two defects when none were chosen; a layer
  // with one defect cannot hold one.
  MetaStableDefectParameters& m = cell.layer[1].meta[1];
  Set("layer2.metadefect2.allowmeta", 1);
  EXPECT_EQ(m.switchedOn, 1);
  EXPECT_EQ(m.acceptorDefect, 0);
  EXPECT_EQ(m.donorDefect, 1);
  EXPECT_EQ(cell.layer[1].meta[0].switchedOn, 0);
  Set("layer2.metadefect2.Ntotal", 4e15);
  EXPECT_EQ(m.Nt.p[6], 4e15);  // given over the position: both sides
  EXPECT_EQ(SetError("layer3.metadefect1.allowmeta", 1).text,
            Text("A metastable transition needs two bulk defects in the layer (it has 1)"));
}

TEST_F(CellParametersTest, PeakDensitiesGoThroughTheDistributionWidth) {
  auto& levels = cell.layer[1].srh[1];
  SetState("layer2.defect2.gauss");
  // Peak-to-total ratio of a Gaussian of width W = 0.1 eV: 1/(sqrt(pi) W) = 5.6419 /eV, in
  // every level record.
  const double gauss = 1.0 / (std::sqrt(std::numbers::pi) * 0.1);
  for (const auto& level : levels) EXPECT_CLOSE(level.peakToTotal, gauss, 1e-14, 0.0);
  Set("layer2.defect2.Echar", 0.05);
  for (const auto& level : levels) EXPECT_CLOSE(level.peakToTotal, 2.0 * gauss, 1e-14, 0.0);
  // Npeak = Ntotal x peak-to-total: 1e16 /cm3 eV over a Gaussian of W = 0.05 eV is
  // 1e16 sqrt(pi) 0.05 = 8.8623e14 /cm3 in total (only rounding separates them).
  Set("layer2.defect2.Npeak", 1e16);
  EXPECT_CLOSE(levels[0].Nt.p[0], 8.8622692545e14, 1e-10, 0.0);
  EXPECT_CLOSE(Get("layer2.defect2.Npeak"), 1e16, 1e-14, 0.0);
  // A single level: peak and total are the same.
  Set("layer2.defect2.Ntotal", 2e14);
  SetState("layer2.defect2.singlelevel");
  EXPECT_EQ(levels[3].peakToTotal, 1.0);
  EXPECT_EQ(Get("layer2.defect2.Npeak"), 2e14);

  // Interface densities are per cm2 (per cm2 eV for a distribution): a uniform band 0.2 eV
  // wide has a peak-to-total ratio of 1/W = 5 /eV, and 1e12 /cm2 eV is 2e11 /cm2.
  InterfaceRecombinationParameters& D = cell.interface[1].ifr[1];
  SetState("interface2.IFdefect2.uniform");
  EXPECT_CLOSE(D.peakToTotal, 10.0, 1e-14, 0.0);  // 1/W for W = 0.1 eV
  Set("interface2.IFdefect2.Echar", 0.2);
  EXPECT_CLOSE(D.peakToTotal, 5.0, 1e-14, 0.0);
  Set("interface2.IFdefect2.Npeak", 1e12);
  EXPECT_CLOSE(D.N, 2e11, 1e-14, 0.0);
  Set("interface2.IFdefect2.Ntotal", 3e10);
  EXPECT_CLOSE(Get("interface2.IFdefect2.Npeak"), 1.5e11, 1e-14, 0.0);
}

TEST_F(CellParametersTest, ChargeTypesSetTheLevelsAsAChainOfTransitions) {
  auto& levels = cell.layer[1].srh[0];
  // Switching to a two-level type uses the second record as it stands: none is added or
  // cleared, and the counts stay.
  levels[1].Et = 0.77;
  struct Case {
    const char* word;
    int type, levelCount, aard0, aard1;
  };
  // Level types: 2 "-/2-", 3 "0/-", 4 "+/0", 5 "2+/+", most positive first.
  const Case cases[] = {{"singledonor", DT_DONOR, 1, 4, -1},       {"doubledonor", DT_DOUBLEDONOR, 2, 5, 4},
                        {"singleacceptor", DT_ACCEPTOR, 1, 3, -1}, {"doubleacceptor", DT_DOUBLEACCEPTOR, 2, 3, 2},
                        {"amphoteric", DT_AMPHOTERIC, 2, 4, 3},    {"neutral", DT_NEUTRAL, 1, 0, -1}};
  for (const Case& c : cases) {
    SetState(std::string("layer2.defect1.") + c.word);
    EXPECT_EQ(levels[0].type, c.type) << c.word;
    EXPECT_EQ(levels[0].numberOfLevels, c.levelCount) << c.word;
    EXPECT_EQ(levels[0].aard, c.aard0) << c.word;
    if (c.levelCount == 2) {
      EXPECT_EQ(levels[1].aard, c.aard1) << c.word;
    }
    EXPECT_EQ(levels[1].Et, 0.77) << c.word;
    EXPECT_EQ(cell.layer[1].srhteller, 2) << c.word;
    // The solver accepts the defect as it now stands.
    EXPECT_EQ(ValidateDefect(MakeDefectInput(levels, 1.0)), "") << c.word;
    EXPECT_EQ(Get(std::string("layer2.defect1.") + c.word), 1.0) << c.word;
    EXPECT_EQ(Get("layer2.defect1.chargetype"), c.type) << c.word;
  }
  SetText("layer2.defect1.chargetype", "doubleacceptor");
  EXPECT_EQ(levels[0].type, DT_DOUBLEACCEPTOR);
  // The level of a two-level defect: level 2 now exists.
  Set("layer2.defect1.Et.level2", 0.9);
  EXPECT_EQ(levels[1].Et, 0.9);
  EXPECT_EQ(levels[0].Et, 0.6);
  EXPECT_EQ(Get("layer2.defect1.Et.level2"), 0.9);
  EXPECT_EQ(LookupError("layer2.defect1.Et.level3").text, Text("Level number 3 out of range (should be >0 and <= 2)"));
}

// ---- units: set 2 holds practical units; the conversion to SI gives the definition file's ----

TEST_F(CellParametersTest, ValuesAreInPracticalUnits) {
  // A new cell read in practical units (factors of the cell model: m -> um, m/s -> cm/s,
  // /m3 -> /cm3, m2/Vs -> cm2/Vs, m2 -> cm2).
  EXPECT_EQ(Get("layer1.thickness"), 2.0);
  EXPECT_CLOSE(Get("layer1.NC"), 1e19, 1e-14, 0.0);
  EXPECT_CLOSE(Get("layer1.ND"), 1e15, 1e-14, 0.0);
  EXPECT_CLOSE(Get("layer1.mun"), 50.0, 1e-14, 0.0);
  EXPECT_CLOSE(Get("layer1.vthn"), 1e7, 1e-14, 0.0);
  EXPECT_CLOSE(Get("layer2.defect1.Ntotal"), 1e14, 1e-14, 0.0);
  EXPECT_CLOSE(Get("layer2.defect1.sigman"), 1e-15, 1e-14, 0.0);
  EXPECT_CLOSE(Get("contact.left.sn"), 1e5, 1e-14, 0.0);
  EXPECT_CLOSE(Get("interface1.IFdefect1.Ntotal"), 1e6, 1e-14, 0.0);  // 1e10 /m2

  Set("layer1.thickness", 0.5);
  Set("layer1.ND", 1e16);
  Set("layer1.mun", 120);
  Set("layer2.defect1.sigman", 1e-14);
  Set("contact.right.sp", 1e7);
  Set("interface1.IFdefect1.Ntotal", 1e12);
  InputParameters set1;
  parameterset2_to_1(set1, cell);
  const CellDefinition& si = set1.cellParas;
  EXPECT_CLOSE(si.layer[0].d, 0.5e-6, 1e-14, 0.0);
  EXPECT_CLOSE(si.layer[0].Nd.p[0], 1e22, 1e-14, 0.0);
  EXPECT_CLOSE(si.layer[0].mu_n.p[0], 0.012, 1e-14, 0.0);
  EXPECT_CLOSE(si.layer[1].srh[0][0].sigma_n, 1e-18, 1e-14, 0.0);
  EXPECT_CLOSE(si.rightContact.Sp, 1e5, 1e-14, 0.0);
  EXPECT_CLOSE(si.interface[0].ifr[0].N, 1e16, 1e-14, 0.0);
}

// ---- prefix matching ----

TEST_F(CellParametersTest, KeywordsArePrefixesWithoutRegardToCase) {
  Set("LAYER1.THICKNESS_um", 3.0);
  EXPECT_EQ(cell.layer[0].d, 3.0);
  Set("Contact.Right.SN", 7e6);  // "r" begins the side, "sn" the quantity
  EXPECT_EQ(cell.rightContact.Sn, 7e6);
  Set("layer2.Defect1.etrap", 0.4);  // "Et" begins "etrap"
  EXPECT_EQ(cell.layer[1].srh[0][0].Et, 0.4);
  // A shortened keyword is not a prefix of the keyword's own word.
  EXPECT_EQ(LookupError("layer1.thick").text, Text("Argument not recognised: layer1.thick"));
  // "defect" is tried before "metadefect", so "metadefect" is never caught by "defect".
  EXPECT_EQ(Locate("layer2.metadefect1.E_TR").quantity, CellQuantity::kMetaE_TR);
  // An extra part after a complete name is not ignored.
  EXPECT_EQ(LookupError("layer1.thickness.left").text, Text("Argument not recognised: layer1.thickness.left"));
  EXPECT_EQ(LookupError("contact.left.sn.extra").title, "Error whilst processing set/get contact command in script");
}

// ---- messages ----

TEST_F(CellParametersTest, UnknownNamesGiveTheFamilysMessage) {
  struct Case {
    const char* name;
    const char* title;
  };
  const Case cases[] = {
      {"contact.middle.sn", "Error whilst processing set/get contact command in script"},
      {"contact.left.flat.sometimes", "Error whilst processing set/get flatband command in script"},
      {"contact.left.optical.dark", "Error whilst processing set/get contact.optical command in script"},
      {"layer1.colour", "Error whilst processing set/get layer command in script"},
      {"layer1.absorption.C", "Error whilst processing set/get layer.absorptioncommand in script"},
      {"layer2.defect1.Nmax", "Error whilst processing set/get bulkdefect command in script"},
      {"layer2.metadefect1.E_XY", "Error whilst processing set/get metadefect command in script"},
      {"interface1.roughness", "Error whilst processing set/get interface command in script"},
      {"interface1.IBtunneling.maybe", "Error whilst processing set/get intraband tunneling command in script"},
      {"interface1.IFdefect1.aboveEV", "Error whilst processing set/get IF defect command in script"},
      {"interface1.IFdefect1.tunneling.always",
       "Error whilst processing set/get IF defect tunneling command in script"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LookupError(c.name).title, c.title) << c.name;
  }
  EXPECT_EQ(LookupError("cell.thickness").text, Text("First part not recognised: cell"));
}

TEST_F(CellParametersTest, NumbersOutOfRange) {
  struct Case {
    const char* name;
    const char* title;
    const char* reason;
  };
  const Case cases[] = {
      {"layer4.thickness", "Error whilst processing set/get layer command in script",
       "Layer number 4 should be positive and < 4"},
      {"layer.thickness", "Error whilst processing set/get layer command in script",
       "Layer number 0 should be positive and < 4"},
      {"layer99999999999999999999.thickness", "Error whilst processing set/get layer command in script",
       "Layer number 2147483647 should be positive and < 4"},
      {"layer1.defect1.Et", "Error whilst processing set/get bulkdefect command in script",
       "Defect number 1 out of range (should be >0 and <= 0)"},
      {"layer2.defect3.Et", "Error whilst processing set/get bulkdefect command in script",
       "Defect number 3 out of range (should be >0 and <= 2)"},
      {"layer2.metadefect3.E_TR", "Error whilst processing set/get metadefect command in script",
       "metadefect number 3 out of range (should be >0 and <= 2)"},
      {"interface3.IBtunneling", "Error whilst processing set/get interface command in script",
       "Interface number 3 should be positive and < 3"},
      {"interface1.IFdefect2.Et", "Error whilst processing set/get interface defect command in script",
       "IF defect number 2 out of range (should be >0 and <= 1)"},
  };
  for (const Case& c : cases) {
    const CellParameterError e = LookupError(c.name);
    EXPECT_EQ(e.title, c.title) << c.name;
    EXPECT_EQ(e.text, Text(c.reason)) << c.name;
  }
}

TEST_F(CellParametersTest, RefusedValuesChangeNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    double value;
    const char* reason;
  };
  const Case cases[] = {
      {"layer1.thickness", nan, "Value not recognised as a finite number"},
      {"layer1.Eg", inf, "Value not recognised as a finite number"},
      {"layer1.thickness", 0.0, "Value not recognised as a positive number"},
      {"layer1.ND", -1e15, "Value not recognised as a non-negative number"},
      {"layer1.composition", 1.5, "Value not recognised as a number from 0 to 1"},
      {"contact.right.flat", 2.0, "Value not recognised as 0 (off) or 1 (on)"},
      {"layer2.metadefect1.allowmeta", 0.5, "Value not recognised as 0 (off) or 1 (on)"},
  };
  for (const Case& c : cases) EXPECT_EQ(SetError(c.name, c.value).text, Text(c.reason)) << c.name;

  // Words that are not keywords, and empty or unusable file names.
  EXPECT_EQ(SetError("layer2.defect1.energydistribution", 0, "lorentz").text, Text("Value not recognised: lorentz"));
  EXPECT_EQ(SetError("layer2.defect1.chargetype", 0, "2.5").text, Text("Value not recognised: 2.5"));
  EXPECT_EQ(SetError("interface1.IFdefect1.chargetype", 0, "doubledonor").text,
            Text("Value not recognised: doubledonor"));
  EXPECT_EQ(SetError("layer2.defect1.referencelevel", 0, "   ").text, Text("No value given"));
  EXPECT_EQ(SetError("layer1.composition.file", 0, "").text, Text("No file name given"));
  const std::string longName(300, 'a');
  EXPECT_EQ(SetError("contact.left.optical.file", 0, longName).text,
            Text("File name longer than 259 characters: " + longName));
  EXPECT_EQ(SetError("layer1.absorption.file", 0, std::string("a\x01.abs")).text,
            Text("File name not recognised: it holds control characters"));

  // A distributed defect without width has no peak density.
  cell.layer[1].srh[0][0].distribution = ED_UNIFORM;
  cell.layer[1].srh[0][0].Ekar = 0.0;
  EXPECT_EQ(SetError("layer2.defect1.Npeak", 1e15).text,
            Text("Peak density not defined: the characteristic energy of the distribution is not positive"));
}

TEST_F(CellParametersTest, ALocatedParameterIsCheckedAgainstTheCellWhenUsed) {
  const CellParameter p = Locate("layer3.defect1.Et");
  cell.numberOfLayers = 2;  // e.g. another definition file loaded meanwhile
  CellParameterError e;
  const CellDefinition before = cell;
  EXPECT_FALSE(SetValueToCellparameter(cell, p, CellValue{0.3, {}}, kLine, e));
  EXPECT_TRUE(cell == before);
  EXPECT_EQ(e.text, Text("Layer number 3 should be positive and < 3"));
  double v = 0.0;
  EXPECT_FALSE(CellparameterToGetVariable(cell, p, v, kLine, e));

  cell.numberOfLayers = 3;
  cell.layer[2].srhteller = 0;
  EXPECT_FALSE(SetValueToCellparameter(cell, p, CellValue{0.3, {}}, kLine, e));
  EXPECT_EQ(e.text, Text("Defect number 1 out of range (should be >0 and <= 0)"));
}

// Names built from keywords, numbers and junk, values from the awkward end of the doubles and
// texts: a lookup either fails with a message or gives a parameter that set and get accept;
// a refused set leaves the cell exactly as it was.
TEST_F(CellParametersTest, HostileNamesAndValuesNeverBreakTheCell) {
  // '|'-separated lists of name parts (empty parts included).
  const auto split = [](std::string_view all) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
      const std::size_t bar = all.find('|', start);
      parts.emplace_back(all.substr(start, bar - start));
      if (bar == std::string_view::npos) return parts;
      start = bar + 1;
    }
  };
  const std::vector<std::string> heads = split(
      "contact.l|contact.r|layer1|layer2.defect1|layer3.defect1|layer2.metadefect1|interface2|interface2.IFdefect2|"
      "layer7|layer-1.defect1|interface3.IFdefect1|layer2147483648||\xff\x01|contact");
  const std::vector<std::string> pieces = split(
      "Ntotal|Npeak|Et|gauss|chargetype|referencelevel|optical|flat|file|value|on|pureA|left|level2|level9|A|"
      "tunneling|me|IBtunneling||\xff\x01|thickness|NA|composition|absorption|sn|work|Echar|allowmeta|E_TR|"
      "amphoteric|aboveEVLEFT|sigmanleft|Eg|ND|right");
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const double values[] = {0.0, -1.0, 1.0, 0.5, 1e300, -1e-300, nan, inf, 2.0};
  const char* const texts[] = {"", "gauss", "3", "-1", "aboveEiRight", "x.abs", "\t\n", "99999999999999999999"};
  std::uint32_t state = 12345;
  auto next = [&state](std::size_t n) {
    state = state * 1664525u + 1013904223u;  // a fixed linear congruential sequence
    return static_cast<std::size_t>((state >> 8) % n);
  };
  int located = 0, refused = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    std::string dotted = heads[next(heads.size())];
    const std::size_t parts = 1 + next(3);
    for (std::size_t i = 0; i < parts; ++i) dotted += "." + pieces[next(pieces.size())];
    CellParameter p;
    CellParameterError e;
    if (!ArgumentToCellParameter(cell, Split(dotted), kLine, p, e)) {
      EXPECT_FALSE(e.title.empty()) << dotted;
      EXPECT_EQ(e.text.rfind(std::string("Script command: ") + kLine + "\n", 0), 0u) << dotted;
      continue;
    }
    ++located;
    const CellDefinition before = cell;
    const CellValue v{values[next(std::size(values))], texts[next(std::size(texts))]};
    if (!SetValueToCellparameter(cell, p, v, kLine, e)) {
      ++refused;
      EXPECT_TRUE(cell == before) << dotted;
    }
    double got = 0.0;
    EXPECT_TRUE(CellparameterToGetVariable(cell, p, got, kLine, e)) << dotted;
    if (names.size() > 1000) names.clear();
  }
  // The sequence reaches both outcomes many times (not a property of the code under test,
  // only a check that the trial is not vacuous).
  EXPECT_GT(located, 500);
  EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace zoniq::test
