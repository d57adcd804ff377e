// Cell parameters by name: lookup, set and get on the cell in practical units, the side effects
// that keep the cell consistent, and the refusal of names, numbers and values that are wrong;
// the list of names (zoniq --list-parameters and the user manual) against the lookup.
#include "celldef/cell_parameters.hpp"

#include <cmath>
#include <deque>
#include <limits>
#include <numbers>
#include <set>
#include <tuple>

#include "celldef/parameter_catalogue.hpp"
#include "solver/bulk_recombination.hpp"
#include "test_util.hpp"

namespace zoniq::test {
namespace {

using V = std::vector<double>;
constexpr const char* kLine = "set the line";

// The dotted name split at its full stops (at most four parts); the parts point into `keep`.
CellParameterName SplitName(const std::string& dotted, std::deque<std::string>& keep) {
  const std::string& s = keep.emplace_back(dotted);
  CellParameterName n;
  for (std::size_t i = 0, start = 0; i < 4 && start <= s.size(); ++i) {
    const std::size_t dot = s.find('.', start);
    n.part[i] = std::string_view(s).substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return n;
}
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();

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
  bool Find(const std::string& dotted, CellParameter& p, CellParameterError& e) {
    return ArgumentToCellParameter(cell, SplitName(dotted, names), kLine, p, e);
  }
  CellParameter Locate(const std::string& dotted, bool found = true, CellParameterError* error = nullptr) {
    CellParameter p;
    CellParameterError e;
    EXPECT_EQ(Find(dotted, p, e), found) << dotted << ": " << e.text;
    if (error) *error = e;
    return p;
  }
  CellParameterError LookupError(const std::string& dotted) {
    CellParameterError e;
    Locate(dotted, false, &e);
    return e;
  }
  // A number, a text, or nothing (a form whose name says everything).
  void SetValue(const std::string& dotted, CellValue v, CellValueKind kind) {
    const CellParameter p = Locate(dotted);
    EXPECT_TRUE(kind == CellValueKind::kText || p.valueKind == kind) << dotted;
    CellParameterError e;
    EXPECT_TRUE(SetValueToCellparameter(cell, p, v, kLine, e)) << dotted << ": " << e.text;
  }
  void Set(const std::string& dotted, double v) { SetValue(dotted, CellValue{v, {}}, CellValueKind::kNumber); }
  void SetText(const std::string& dotted, std::string_view t) { SetValue(dotted, {0.0, t}, CellValueKind::kText); }
  void SetState(const std::string& dotted) { SetValue(dotted, CellValue{}, CellValueKind::kNone); }
  // A refused value: the error, and the cell unchanged.
  std::string SetError(const std::string& dotted, double v, std::string_view text = {}) {
    const CellDefinition before = cell;
    CellParameterError e;
    EXPECT_FALSE(SetValueToCellparameter(cell, Locate(dotted), CellValue{v, text}, kLine, e)) << dotted;
    EXPECT_TRUE(cell == before) << dotted << " changed the cell";
    return e.text;
  }
  double Get(const std::string& dotted) {
    double v = kNaN;
    CellParameterError e;
    EXPECT_TRUE(CellparameterToGetVariable(cell, Locate(dotted), v, kLine, e)) << dotted << ": " << e.text;
    return v;
  }
  static std::string Text(const std::string& reason) { return std::string("Script command: ") + kLine + "\n" + reason; }

  CellDefinition cell;
  std::deque<std::string> names;  // stable: the parts of a name point into them
};

TEST_F(CellParametersTest, NamesReachTheirFieldsAndReadBack) {
  const auto otherDefect = cell.layer[1].srh[0];
  cell.layer[1].Nd.dependence = DEP_POSITION;
  const BulkRecombinationParameters& d = cell.layer[1].srh[1][0];
  const InterfaceRecombinationParameters& f = cell.interface[1].ifr[1];
  // Names that a slip would send to their neighbour's field, with values unlike every default.
  const struct {
    const char* name;
    double value;
    const double* field;
  } numbers[] = {{"contact.left.sn", 2e4, &cell.leftContact.Sn},
                 {"contact.r.sp", 3e5, &cell.rightContact.Sp},
                 {"layer1.Eg.pureB", 1.6, &cell.layer[0].Eg.p[1]},
                 {"layer1.Eg.pureA", 1.04, &cell.layer[0].Eg.p[0]},
                 {"layer2.ND.right", 1e15, &cell.layer[1].Nd.p[6]},
                 {"layer2.ND.left", 1e18, &cell.layer[1].Nd.p[5]},
                 {"layer2.defect2.sigman", 2e-13, &d.sigma_n},
                 {"layer2.defect2.sigmap", 3e-17, &d.sigma_p},
                 {"layer2.metadefect2.E_EC", 0.12, &cell.layer[1].meta[1].Eact_EC},
                 {"layer2.metadefect2.E_HE", 0.95, &cell.layer[1].meta[1].Eact_HE},
                 {"interface2.IFdefect2.sigmanleft", 1e-14, &f.sigma_nleft},
                 {"interface2.IFdefect2.sigmanright", 2e-14, &f.sigma_nright},
                 {"interface2.IFdefect2.sigmapleft", 3e-14, &f.sigma_pleft},
                 {"interface2.IFdefect2.sigmapright", 4e-14, &f.sigma_pright}};
  for (const auto& c : numbers) {
    Set(c.name, c.value);
    EXPECT_EQ(Get(c.name), c.value) << c.name;
  }
  // Every value where it was put (no later name overwrote an earlier one's field).
  for (const auto& c : numbers) EXPECT_EQ(*c.field, c.value) << c.name;
  EXPECT_EQ(Get("layer1.Eg"), 1.04);  // named alone, a graded property gives its pure A or left value
  EXPECT_EQ(Get("layer2.ND"), 1e18);
  EXPECT_TRUE(cell.layer[1].srh[0] == otherDefect) << "the other defect is untouched";

  // A keyword with trailing words; a keyword's code, as get returns it, sets the same state.
  SetText("layer2.defect2.energydistribution", "VBtail  // trailing words are ignored");
  EXPECT_EQ((V{double(d.distribution), Get("layer2.defect2.VBtail"), Get("layer2.defect2.gauss")}),
            (V{ED_VBTAIL, 1.0, 0.0}));
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
  const std::pair<const char*, Profile LayerParameters::*> properties[] = {{"Eg", &LayerParameters::Eg},
                                                                           {"chi", &LayerParameters::chi},
                                                                           {"epsilon", &LayerParameters::eps},
                                                                           {"NC", &LayerParameters::Nc},
                                                                           {"NV", &LayerParameters::Nv},
                                                                           {"vthn", &LayerParameters::v_th_n},
                                                                           {"vthp", &LayerParameters::v_th_p},
                                                                           {"mun", &LayerParameters::mu_n},
                                                                           {"mup", &LayerParameters::mu_p},
                                                                           {"NA", &LayerParameters::Na},
                                                                           {"ND", &LayerParameters::Nd},
                                                                           {"radiative", &LayerParameters::K_rad},
                                                                           {"Augern", &LayerParameters::c_n_auger},
                                                                           {"Augerp", &LayerParameters::c_p_auger}};
  double value = 1.15;
  for (const auto& [name, field] : properties) {
    // From a graded property, so that "uniform" is a change; each a value of its own.
    Profile& prof = cell.layer[1].*field;
    prof.law = LAW_PARABOLIC;
    prof.p = {1.0, 2.0, 0.3, 0.5, 0.0, 1.0, 2.0};
    SetProfileScaleParameters(prof);
    value *= 1.5;
    Set(std::string("layer2.") + name, value);
    EXPECT_TRUE(prof.law == LAW_UNIFORM && prof.p[0] == value && prof.p[1] == value && prof.p[5] == value &&
                prof.p[6] == value)
        << name;
    EXPECT_EQ(prof.scaleFlag, (std::array<int, 2>{0, 0})) << name;
    EXPECT_EQ(prof.p[2], 0.3) << name;  // the law's own parameters stay
    EXPECT_EQ(Get(std::string("layer2.") + name), value) << name;
    EXPECT_TRUE(cell.layer[0].*field == cell.layer[2].*field) << name << ": other layers untouched";
  }
}

TEST_F(CellParametersTest, SideEffectsKeepTheCellConsistent) {
  // A work function is of use only with a fixed work function: the flat-band switch goes off.
  // A filter is a constant value or a file.
  ContactParameters& r = cell.rightContact;
  ASSERT_EQ(r.flatband, 1);
  Set("contact.right.work", 4.7);
  Set("contact.r.optical.value", 0.92);
  EXPECT_EQ(std::make_tuple(r.Fi_m, r.flatband, cell.leftContact.flatband, r.wavelengthIndependent),
            std::make_tuple(4.7, 0, 1, 1));
  SetText("contact.r.optical.file", "  my filter.ftr ");
  EXPECT_EQ(std::make_tuple(r.filterFile, r.wavelengthIndependent), std::make_tuple("my filter.ftr", 0));

  // The uniform law takes pure A material; its side values follow, pure B keeps its value.
  const Profile& chi = cell.layer[0].chi;
  Set("layer1.chi.pureA", 4.3);
  EXPECT_EQ((std::vector<double>{chi.p[0], chi.p[5], chi.p[6], chi.p[1]}), (std::vector<double>{4.3, 4.3, 4.3, 4.5}));
  // A composition is uniform (marked as the definition-file reader marks law 11) or a file.
  LayerParameters& L = cell.layer[2];
  Set("layer3.composition", 0.3);
  EXPECT_EQ(std::make_tuple(L.composition.law, L.composition.p[5], L.composition.p[6], L.compositionMode),
            std::make_tuple(LAW_UNIFORM_Y, 0.3, 0.3, 21));
  EXPECT_EQ(Get("layer3.composition.file"), 0.0);
  SetText("layer3.composition.file", "cigs ga.grd");
  EXPECT_EQ(std::make_tuple(L.composition.law, L.composition.gradingFile, L.compositionMode),
            std::make_tuple(LAW_FROM_FILE, std::string("cigs ga.grd"), 0));
  EXPECT_EQ(Get("layer3.composition.file"), 1.0);

  // Absorption constants switch the material they name (both without one) to the A/B model;
  // a file switches it back.
  using Models = std::array<int, 2>;
  L.absorptionModel = {ABS_MODEL_FILE, ABS_MODEL_FILE};
  Set("layer3.absorption.A.pureB", 5e4);
  EXPECT_EQ(L.absorptionModel, (Models{ABS_MODEL_FILE, ABS_MODEL_AB}));
  Set("layer3.absorption.A", 3e4);
  EXPECT_EQ(L.A, (std::array<double, 2>{3e4, 3e4}));
  EXPECT_EQ(L.absorptionModel, (Models{ABS_MODEL_AB, ABS_MODEL_AB}));
  SetText("layer3.absorption.file.pureA", "CdTe.abs");
  EXPECT_EQ(L.absorptionFile, (std::array<std::string, 2>{"CdTe.abs", ""}));
  EXPECT_EQ(L.absorptionModel, (Models{ABS_MODEL_FILE, ABS_MODEL_AB}));
  EXPECT_EQ((V{Get("layer3.absorption.file"), Get("layer3.absorption.file.pureB")}), (V{1.0, 0.0}));

  // A metastable transition takes the layer's first two defects when none were chosen; a layer
  // with one defect cannot hold one.
  const MetaStableDefectParameters& m = cell.layer[1].meta[1];
  Set("layer2.metadefect2.allowmeta", 1);
  EXPECT_EQ((std::array<int, 4>{m.switchedOn, m.acceptorDefect, m.donorDefect, cell.layer[1].meta[0].switchedOn}),
            (std::array<int, 4>{1, 0, 1, 0}));
  Set("layer2.metadefect2.Ntotal", 4e15);
  EXPECT_EQ(m.Nt.p[6], 4e15);  // given over the position: both sides
  EXPECT_EQ(SetError("layer3.metadefect1.allowmeta", 1),
            Text("A metastable transition needs two bulk defects in the layer (it has 1)"));
}

TEST_F(CellParametersTest, PeakDensitiesGoThroughTheDistributionWidth) {
  auto& levels = cell.layer[1].srh[1];
  // Peak-to-total ratio of a Gaussian of width W = 0.1 eV: 1/(sqrt(pi) W) = 5.6419 /eV, in
  // every level record; twice that at W = 0.05 eV.
  const double gauss = 1.0 / (std::sqrt(std::numbers::pi) * 0.1);
  SetState("layer2.defect2.gauss");
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
  EXPECT_EQ((V{levels[3].peakToTotal, Get("layer2.defect2.Npeak")}), (V{1.0, 2e14}));

  // Interface densities are per cm2 (per cm2 eV for a distribution): a uniform band has a
  // peak-to-total ratio of 1/W, 10 /eV at W = 0.1 eV, 5 /eV at 0.2 eV, where 1e12 /cm2 eV is
  // 2e11 /cm2.
  InterfaceRecombinationParameters& D = cell.interface[1].ifr[1];
  SetState("interface2.IFdefect2.uniform");
  EXPECT_CLOSE(D.peakToTotal, 10.0, 1e-14, 0.0);
  Set("interface2.IFdefect2.Echar", 0.2);
  Set("interface2.IFdefect2.Npeak", 1e12);
  EXPECT_CLOSE(D.peakToTotal, 5.0, 1e-14, 0.0);
  EXPECT_CLOSE(D.N, 2e11, 1e-14, 0.0);
  Set("interface2.IFdefect2.Ntotal", 3e10);
  EXPECT_CLOSE(Get("interface2.IFdefect2.Npeak"), 1.5e11, 1e-14, 0.0);
}

TEST_F(CellParametersTest, ChargeTypesSetTheLevelsAsAChainOfTransitions) {
  auto& levels = cell.layer[1].srh[0];
  // Switching to a two-level type uses the second record as it stands: none is added or
  // cleared, and the counts stay. Level types: 2 "-/2-", 3 "0/-", 4 "+/0", 5 "2+/+", most
  // positive first (-1: one level only).
  levels[1].Et = 0.77;
  const struct {
    const char* word;
    int type, levelCount, aard0, aard1;
  } cases[] = {{"singledonor", DT_DONOR, 1, 4, -1},       {"doubledonor", DT_DOUBLEDONOR, 2, 5, 4},
               {"singleacceptor", DT_ACCEPTOR, 1, 3, -1}, {"doubleacceptor", DT_DOUBLEACCEPTOR, 2, 3, 2},
               {"amphoteric", DT_AMPHOTERIC, 2, 4, 3},    {"neutral", DT_NEUTRAL, 1, 0, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    SetState(std::string("layer2.defect1.") + c.word);
    EXPECT_EQ((std::array<int, 5>{levels[0].type, levels[0].numberOfLevels, levels[0].aard,
                                  c.levelCount == 2 ? levels[1].aard : -1, cell.layer[1].srhteller}),
              (std::array<int, 5>{c.type, c.levelCount, c.aard0, c.aard1, 2}));
    EXPECT_EQ(levels[1].Et, 0.77);
    EXPECT_EQ(ValidateDefect(MakeDefectInput(levels, 1.0)), "");  // the solver accepts the defect
    EXPECT_EQ((V{Get(std::string("layer2.defect1.") + c.word), Get("layer2.defect1.chargetype")}),
              (V{1.0, double(c.type)}));
  }
  // The level of a two-level defect: level 2 now exists.
  SetText("layer2.defect1.chargetype", "doubleacceptor");
  Set("layer2.defect1.Et.level2", 0.9);
  EXPECT_EQ((V{double(levels[0].type), levels[1].Et, levels[0].Et, Get("layer2.defect1.Et.level2")}),
            (V{DT_DOUBLEACCEPTOR, 0.9, 0.6, 0.9}));
  EXPECT_EQ(LookupError("layer2.defect1.Et.level3").text, Text("Level number 3 out of range (should be >0 and <= 2)"));
}

TEST_F(CellParametersTest, NamesThatAreNotFoundSayWhy) {
  cell.layer[1].Nd.dependence = DEP_POSITION;
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"cell.thickness", "First part not recognised: cell"},
      // A shortened keyword is not a prefix of the keyword's own word.
      {"layer1.thick", "Argument not recognised: layer1.thick"},
      // The values that do not belong to the dependence.
      {"layer2.ND.pureA",
       "Argument not recognised: layer2.ND.pureA\nThis property is given over the position: name its left or right "
       "value"},
      {"layer1.Eg.left",
       "Argument not recognised: layer1.Eg.left\nThis property is given over the composition: name its pureA or "
       "pureB value"},
      // Numbers out of range.
      {"layer4.thickness", "Layer number 4 should be positive and < 4"},
      {"layer99999999999999999999.thickness", "Layer number 2147483647 should be positive and < 4"},
      {"layer2.defect3.Et", "Defect number 3 out of range (should be >0 and <= 2)"},
      {"layer2.metadefect3.E_TR", "metadefect number 3 out of range (should be >0 and <= 2)"},
      {"interface3.IBtunneling", "Interface number 3 should be positive and < 3"},
      {"interface1.IFdefect2.Et", "IF defect number 2 out of range (should be >0 and <= 1)"}};
  for (const auto& c : cases) {
    const CellParameterError e = LookupError(c.name);
    EXPECT_NE(e.title.find("Error whilst processing set/get"), std::string::npos) << c.name;
    EXPECT_EQ(e.text, Text(c.reason)) << c.name;
  }
  // Each family refuses what it does not know, with its own title.
  std::set<std::string> titles;
  for (const char* name :
       {"contact.left.sn.extra", "contact.left.flat.sometimes", "contact.left.optical.dark", "layer1.colour",
        "layer1.absorption.C", "layer2.defect1.Nmax", "layer2.metadefect1.E_XY", "interface1.roughness",
        "interface1.IBtunneling.maybe", "interface1.IFdefect1.aboveEV", "interface1.IFdefect1.tunneling.always"}) {
    const CellParameterError e = LookupError(name);
    EXPECT_EQ(e.text.rfind(Text("Argument not recognised: ") + name, 0), 0u) << e.text;
    titles.insert(e.title);
  }
  EXPECT_EQ(titles.size(), 11u);
}

TEST_F(CellParametersTest, RefusedValuesChangeNothing) {
  const std::string longName(300, 'a');
  const struct {
    const char* name;
    double value;
    std::string text, reason;
  } cases[] = {{"layer1.thickness", kNaN, "", "Value not recognised as a finite number"},
               {"layer1.Eg", kInf, "", "Value not recognised as a finite number"},
               {"layer1.thickness", 0.0, "", "Value not recognised as a positive number"},
               {"layer1.ND", -1e15, "", "Value not recognised as a non-negative number"},
               {"layer1.composition", 1.5, "", "Value not recognised as a number from 0 to 1"},
               {"contact.right.flat", 2.0, "", "Value not recognised as 0 (off) or 1 (on)"},
               {"layer2.metadefect1.allowmeta", 0.5, "", "Value not recognised as 0 (off) or 1 (on)"},
               // Words that are not keywords, and empty or unusable file names.
               {"layer2.defect1.energydistribution", 0, "lorentz", "Value not recognised: lorentz"},
               {"layer2.defect1.chargetype", 0, "2.5", "Value not recognised: 2.5"},
               {"interface1.IFdefect1.chargetype", 0, "doubledonor", "Value not recognised: doubledonor"},
               {"layer2.defect1.referencelevel", 0, "   ", "No value given"},
               {"layer1.composition.file", 0, "", "No file name given"},
               {"contact.left.optical.file", 0, longName, "File name longer than 259 characters: " + longName},
               {"layer1.absorption.file", 0, "a\x01.abs", "File name not recognised: it holds control characters"}};
  for (const auto& c : cases) EXPECT_EQ(SetError(c.name, c.value, c.text), Text(c.reason)) << c.name;
  // A distributed defect without width has no peak density.
  cell.layer[1].srh[0][0].distribution = ED_UNIFORM;
  cell.layer[1].srh[0][0].Ekar = 0.0;
  EXPECT_EQ(SetError("layer2.defect1.Npeak", 1e15),
            Text("Peak density not defined: the characteristic energy of the distribution is not positive"));

  // A located parameter is checked against the cell when used (e.g. another definition file
  // loaded meanwhile).
  const CellParameter p = Locate("layer3.defect1.Et");
  cell.numberOfLayers = 2;
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

// ---- the list of names ----

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
    ASSERT_TRUE(ArgumentToCellParameter(cell, SplitName(dotted, keep), "set", p, error))
        << dotted << ": " << error.text;
    EXPECT_EQ(p.quantity, n.quantity) << dotted;
    EXPECT_EQ(p.valueKind, n.kind) << dotted;
    double value = 0.0;
    EXPECT_TRUE(CellparameterToGetVariable(cell, p, value, "get", error)) << dotted << ": " << error.text;
  }
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

}  // namespace
}  // namespace zoniq::test
