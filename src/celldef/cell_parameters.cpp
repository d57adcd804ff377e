#include "celldef/cell_parameters.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>

#include "common/text.hpp"
#include "celldef/parameter_catalogue.hpp"

namespace zoniq {

namespace {

// ---- error titles of the name families ----
constexpr const char* kCellTitle = "Error whilst processing set/get command in script";
constexpr const char* kContactTitle = "Error whilst processing set/get contact command in script";
constexpr const char* kFlatbandTitle = "Error whilst processing set/get flatband command in script";
constexpr const char* kOpticalTitle = "Error whilst processing set/get contact.optical command in script";
constexpr const char* kLayerTitle = "Error whilst processing set/get layer command in script";
constexpr const char* kAbsorptionTitle = "Error whilst processing set/get layer.absorptioncommand in script";
constexpr const char* kBulkDefectTitle = "Error whilst processing set/get bulkdefect command in script";
constexpr const char* kMetaDefectTitle = "Error whilst processing set/get metadefect command in script";
constexpr const char* kInterfaceTitle = "Error whilst processing set/get interface command in script";
constexpr const char* kIntrabandTitle = "Error whilst processing set/get intraband tunneling command in script";
constexpr const char* kInterfaceDefectTitle = "Error whilst processing set/get interface defect command in script";
constexpr const char* kIFDefectTitle = "Error whilst processing set/get IF defect command in script";
constexpr const char* kIFTunnelingTitle = "Error whilst processing set/get IF defect tunneling command in script";

using Q = CellQuantity;
using K = CellValueKind;

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

bool Fail(CellParameterError& error, const char* title, std::string_view line, const std::string& reason) {
  error.title = title;
  error.text = "Script command: ";
  error.text += line;
  error.text += "\n";
  error.text += reason;
  return false;
}

bool NotRecognised(CellParameterError& error, const char* title, std::string_view line, const CellParameterName& name) {
  return Fail(error, title, line, "Argument not recognised: " + name.Dotted());
}

// A keyword of a name part with what it stands for.
struct Entry {
  const char* word;
  Q quantity;
  K kind;
  int state;  // -1: none
};

// The first entry whose keyword begins `word` (without regard to case), or null.
const Entry* Match(std::string_view word, std::span<const Entry> table) {
  for (const Entry& e : table)
    if (StartsWithNoCase(word, e.word)) return &e;
  return nullptr;
}

// Index of the first keyword that begins `word`, or -1.
int MatchWord(std::string_view word, std::span<const char* const> keywords) {
  for (std::size_t i = 0; i < keywords.size(); ++i)
    if (StartsWithNoCase(word, keywords[i])) return static_cast<int>(i);
  return -1;
}

// ---- hints for misspelt names ----

// Words users reach for that are no parameter names, with the names they mean.
struct Alias {
  const char* word;
  const char* names;
};
constexpr Alias kLayerAliases[] = {{"doping", "NA (acceptors) or ND (donors)"},
                                   {"d", "thickness"},
                                   {"bandgap", "Eg"},
                                   {"gap", "Eg"},
                                   {"affinity", "chi"},
                                   {"eps", "epsilon"},
                                   {"mobility", "mun or mup"},
                                   {"mu", "mun or mup"},
                                   {"vth", "vthn or vthp"},
                                   {"Nt", "defect1.Ntotal"},
                                   {"Na", "NA"},
                                   {"Nd", "ND"}};
constexpr Alias kDefectAliases[] = {
    {"Nt", "Ntotal"},  {"N", "Ntotal"},        {"sigma", "sigman or sigmap"},          {"E", "Et"},
    {"Ekar", "Echar"}, {"type", "chargetype"}, {"distribution", "energydistribution"}, {"reference", "referencelevel"}};

// "\nDid you mean …?" for a word that matched nothing in `table`, or empty.
std::string Hint(std::string_view word, std::span<const Entry> table, std::span<const Alias> aliases = {},
                 std::initializer_list<const char*> more = {}) {
  if (word.empty()) return {};
  for (const Alias& a : aliases)
    if (EqualsNoCase(word, a.word)) return std::string("\nDid you mean ") + a.names + "?";
  std::vector<std::string> candidates;
  for (const Entry& e : table) candidates.emplace_back(e.word);
  for (const char* m : more) candidates.emplace_back(m);
  const std::vector<std::string> near = NearestWords(word, candidates);
  if (near.empty()) return {};
  return "\nDid you mean " + JoinAlternatives(near) + "?";
}

// ---- graded-property options: one value or one of its four values ----

constexpr Entry kPartTable[] = {
    {"pureA", Q::kThickness, K::kNumber, static_cast<int>(CellPart::kPureA)},
    {"pureB", Q::kThickness, K::kNumber, static_cast<int>(CellPart::kPureB)},
    {"left", Q::kThickness, K::kNumber, static_cast<int>(CellPart::kLeft)},
    {"right", Q::kThickness, K::kNumber, static_cast<int>(CellPart::kRight)},
};

// Reads the option part of a graded property. An empty part is the whole property. The
// composition values (pure A, pure B) do not apply to a property given over the position,
// and the side values follow from the composition for a property given over the composition.
bool GradedPart(const Profile& profile, std::string_view word, const CellParameterName& name, const char* title,
                std::string_view line, CellPart& part, CellParameterError& error) {
  part = CellPart::kWhole;
  if (word.empty()) return true;
  const Entry* e = Match(word, kPartTable);
  if (!e) return NotRecognised(error, title, line, name);
  part = static_cast<CellPart>(e->state);
  const bool overPosition = profile.dependence == DEP_POSITION;
  if ((part == CellPart::kPureA || part == CellPart::kPureB) && overPosition)
    return Fail(error, title, line,
                "Argument not recognised: " + name.Dotted() +
                    "\nThis property is given over the position: name its left or right value");
  if ((part == CellPart::kLeft || part == CellPart::kRight) && !overPosition)
    return Fail(error, title, line,
                "Argument not recognised: " + name.Dotted() +
                    "\nThis property is given over the composition: name its pureA or pureB value");
  return true;
}

// ---- range checks, shared by the lookup and by set and get ----

bool CheckLayer(const CellDefinition& cell, long long n, const char* title, std::string_view line,
                CellParameterError& error) {
  const int count = std::clamp(cell.numberOfLayers, 0, MAXLAYERS);
  if (n >= 1 && n <= count) return true;
  return Fail(error, title, line,
              "Layer number " + std::to_string(n) + " should be positive and < " + std::to_string(count + 1));
}

bool CheckInterface(const CellDefinition& cell, long long n, std::string_view line, CellParameterError& error) {
  // n layers are joined by n - 1 interfaces.
  const int limit = std::clamp(cell.numberOfLayers, 0, MAXLAYERS);
  if (n >= 1 && n < limit) return true;
  return Fail(error, kInterfaceTitle, line,
              "Interface number " + std::to_string(n) + " should be positive and < " + std::to_string(limit));
}

int DefectCount(const LayerParameters& layer) { return std::clamp(layer.srhteller, 0, MAXBULKDEFECTS); }
int InterfaceDefectCount(const InterfaceParameters& iface) {
  return std::clamp(iface.numberOfDefects, 0, MAXIFACEDEFECTS);
}
int LevelCount(const BulkRecombinationParameters& first) { return std::clamp(first.numberOfLevels, 1, MAXLEVELS); }

bool CheckDefect(const CellDefinition& cell, int layer, long long m, std::string_view line, CellParameterError& error) {
  const int limit = DefectCount(cell.layer[Idx(layer)]);
  if (m >= 1 && m <= limit) return true;
  return Fail(
      error, kBulkDefectTitle, line,
      "Defect number " + std::to_string(m) + " out of range (should be >0 and <= " + std::to_string(limit) + ")");
}

bool CheckMetaDefect(long long m, std::string_view line, CellParameterError& error) {
  if (m >= 1 && m <= MAXMETATRANSITIONS) return true;
  return Fail(error, kMetaDefectTitle, line,
              "metadefect number " + std::to_string(m) +
                  " out of range (should be >0 and <= " + std::to_string(MAXMETATRANSITIONS) + ")");
}

bool CheckInterfaceDefect(const CellDefinition& cell, int iface, long long m, std::string_view line,
                          CellParameterError& error) {
  const int limit = InterfaceDefectCount(cell.interface[Idx(iface)]);
  if (m >= 1 && m <= limit) return true;
  return Fail(
      error, kInterfaceDefectTitle, line,
      "IF defect number " + std::to_string(m) + " out of range (should be >0 and <= " + std::to_string(limit) + ")");
}

bool CheckLevel(const BulkRecombinationParameters& first, long long k, std::string_view line,
                CellParameterError& error) {
  const int limit = LevelCount(first);
  if (k >= 1 && k <= limit) return true;
  return Fail(
      error, kBulkDefectTitle, line,
      "Level number " + std::to_string(k) + " out of range (should be >0 and <= " + std::to_string(limit) + ")");
}

// ---- the families of names ----

bool IsContactQuantity(Q q) { return q >= Q::kSn && q <= Q::kFilterFile; }
bool IsDefectQuantity(Q q) { return q >= Q::kDistribution && q <= Q::kSigmaP; }
bool IsMetaQuantity(Q q) { return q >= Q::kMetaAllow && q <= Q::kMetaNtotal; }
bool IsInterfaceQuantity(Q q) { return q >= Q::kIBTunneling && q <= Q::kIBMh; }
bool IsInterfaceDefectQuantity(Q q) { return q >= Q::kIFDistribution && q <= Q::kIFSigmaPRight; }

// Layer quantities (parts "defect" and "metadefect" are tested before these).
constexpr Entry kLayerTable[] = {
    {"composition", Q::kComposition, K::kNumber, -1},
    {"thickness", Q::kThickness, K::kNumber, -1},
    {"Eg", Q::kEg, K::kNumber, -1},
    {"chi", Q::kChi, K::kNumber, -1},
    {"epsilon", Q::kEpsilon, K::kNumber, -1},
    {"NC", Q::kNC, K::kNumber, -1},
    {"NV", Q::kNV, K::kNumber, -1},
    {"vthn", Q::kVthn, K::kNumber, -1},
    {"vthp", Q::kVthp, K::kNumber, -1},
    {"mun", Q::kMun, K::kNumber, -1},
    {"mup", Q::kMup, K::kNumber, -1},
    {"NA", Q::kNA, K::kNumber, -1},
    {"ND", Q::kND, K::kNumber, -1},
    {"radiative", Q::kRadiative, K::kNumber, -1},
    {"Augern", Q::kAugern, K::kNumber, -1},
    {"Augerp", Q::kAugerp, K::kNumber, -1},
    {"absorption", Q::kAbsorptionA, K::kNumber, -1},
};

constexpr Entry kAbsorptionTable[] = {
    {"A", Q::kAbsorptionA, K::kNumber, -1},
    {"B", Q::kAbsorptionB, K::kNumber, -1},
    {"file", Q::kAbsorptionFile, K::kText, -1},
};

constexpr const char* kDistributionWords[] = {"singlelevel", "uniform", "gauss", "CBtail", "VBtail"};
constexpr int kDistributionCodes[] = {ED_SINGLE, ED_UNIFORM, ED_GAUSS, ED_CBTAIL, ED_VBTAIL};
constexpr const char* kChargeTypeWords[] = {"neutral",        "singledonor",    "doubledonor",
                                            "singleacceptor", "doubleacceptor", "amphoteric"};
constexpr int kChargeTypeCodes[] = {DT_NEUTRAL,  DT_DONOR,          DT_DOUBLEDONOR,
                                    DT_ACCEPTOR, DT_DOUBLEACCEPTOR, DT_AMPHOTERIC};
constexpr const char* kReferenceWords[] = {"aboveEV", "belowEC", "aboveEi"};
constexpr int kReferenceCodes[] = {0, 2, 1};
constexpr const char* kIFChargeTypeWords[] = {"neutral", "singledonor", "singleacceptor"};
constexpr int kIFChargeTypeCodes[] = {DT_NEUTRAL, DT_DONOR, DT_ACCEPTOR};
// The reference of an interface level: 3 above the highest EV, 4 below the lowest EC, 5 and 6
// above the intrinsic level of the left and the right layer, 7 above EV of the layer on the
// right (the reference of the definition file's code 7; the script keeps its historical word
// "aboveEVLEFT" for it).
constexpr const char* kIFReferenceWords[] = {"aboveHighestEV", "aboveEVLEFT", "belowLowestEC", "aboveEiLeft",
                                             "aboveEiRight"};
constexpr int kIFReferenceCodes[] = {3, 7, 4, 5, 6};

constexpr Entry kDefectTable[] = {
    {"singlelevel", Q::kDistribution, K::kNone, ED_SINGLE},
    {"uniform", Q::kDistribution, K::kNone, ED_UNIFORM},
    {"gauss", Q::kDistribution, K::kNone, ED_GAUSS},
    {"CBtail", Q::kDistribution, K::kNone, ED_CBTAIL},
    {"VBtail", Q::kDistribution, K::kNone, ED_VBTAIL},
    {"energydistribution", Q::kDistribution, K::kText, -1},
    {"neutral", Q::kChargeType, K::kNone, DT_NEUTRAL},
    {"singledonor", Q::kChargeType, K::kNone, DT_DONOR},
    {"doubledonor", Q::kChargeType, K::kNone, DT_DOUBLEDONOR},
    {"singleacceptor", Q::kChargeType, K::kNone, DT_ACCEPTOR},
    {"doubleacceptor", Q::kChargeType, K::kNone, DT_DOUBLEACCEPTOR},
    {"amphoteric", Q::kChargeType, K::kNone, DT_AMPHOTERIC},
    {"chargetype", Q::kChargeType, K::kText, -1},
    {"aboveEV", Q::kReference, K::kNone, 0},
    {"belowEC", Q::kReference, K::kNone, 2},
    {"aboveEi", Q::kReference, K::kNone, 1},
    {"referencelevel", Q::kReference, K::kText, -1},
    {"Et", Q::kEt, K::kNumber, -1},
    {"Echar", Q::kEchar, K::kNumber, -1},
    {"Ntotal", Q::kNtotal, K::kNumber, -1},
    {"Npeak", Q::kNpeak, K::kNumber, -1},
    {"sigman", Q::kSigmaN, K::kNumber, -1},
    {"sigmap", Q::kSigmaP, K::kNumber, -1},
};

constexpr Entry kMetaTable[] = {
    {"allowmeta", Q::kMetaAllow, K::kNumber, -1},
    {"aboveEV", Q::kMetaReference, K::kNone, 0},
    {"belowEC", Q::kMetaReference, K::kNone, 2},
    {"aboveEi", Q::kMetaReference, K::kNone, 1},
    {"referencelevel", Q::kMetaReference, K::kText, -1},
    {"E_TR", Q::kMetaE_TR, K::kNumber, -1},
    {"E_EC", Q::kMetaE_EC, K::kNumber, -1},
    {"E_EE", Q::kMetaE_EE, K::kNumber, -1},
    {"E_HC", Q::kMetaE_HC, K::kNumber, -1},
    {"E_HE", Q::kMetaE_HE, K::kNumber, -1},
    {"Ntotal", Q::kMetaNtotal, K::kNumber, -1},
};

constexpr Entry kIFDefectTable[] = {
    {"singlelevel", Q::kIFDistribution, K::kNone, ED_SINGLE},
    {"uniform", Q::kIFDistribution, K::kNone, ED_UNIFORM},
    {"gauss", Q::kIFDistribution, K::kNone, ED_GAUSS},
    {"CBtail", Q::kIFDistribution, K::kNone, ED_CBTAIL},
    {"VBtail", Q::kIFDistribution, K::kNone, ED_VBTAIL},
    {"energydistribution", Q::kIFDistribution, K::kText, -1},
    {"neutral", Q::kIFChargeType, K::kNone, DT_NEUTRAL},
    {"singledonor", Q::kIFChargeType, K::kNone, DT_DONOR},
    {"singleacceptor", Q::kIFChargeType, K::kNone, DT_ACCEPTOR},
    {"chargetype", Q::kIFChargeType, K::kText, -1},
    {"aboveHighestEV", Q::kIFReference, K::kNone, 3},
    {"aboveEVLEFT", Q::kIFReference, K::kNone, 7},
    {"belowLowestEC", Q::kIFReference, K::kNone, 4},
    {"aboveEiLeft", Q::kIFReference, K::kNone, 5},
    {"aboveEiRight", Q::kIFReference, K::kNone, 6},
    {"referencelevel", Q::kIFReference, K::kText, -1},
    {"Et", Q::kIFEt, K::kNumber, -1},
    {"Echar", Q::kIFEchar, K::kNumber, -1},
    {"Ntotal", Q::kIFNtotal, K::kNumber, -1},
    {"Npeak", Q::kIFNpeak, K::kNumber, -1},
    {"tunneling", Q::kIFTunneling, K::kNumber, -1},
    {"sigmanleft", Q::kIFSigmaNLeft, K::kNumber, -1},
    {"sigmanright", Q::kIFSigmaNRight, K::kNumber, -1},
    {"sigmapleft", Q::kIFSigmaPLeft, K::kNumber, -1},
    {"sigmapright", Q::kIFSigmaPRight, K::kNumber, -1},
};

// The options of a tunnelling switch: the switch itself or the relative masses.
struct TunnelOption {
  const char* word;
  int which;  // 0 switch, 1 electron mass, 2 hole mass
  int state;
};
constexpr TunnelOption kTunnelOptions[] = {{"off", 0, 0}, {"on", 0, 1}, {"me", 1, -1}, {"mh", 2, -1}};

const TunnelOption* MatchTunnelOption(std::string_view word) {
  for (const TunnelOption& o : kTunnelOptions)
    if (StartsWithNoCase(word, o.word)) return &o;
  return nullptr;
}

// ---- access to the fields ----

ContactParameters& ContactOf(CellDefinition& cell, const CellParameter& p) {
  return p.contact == 0 ? cell.leftContact : cell.rightContact;
}
const ContactParameters& ContactOf(const CellDefinition& cell, const CellParameter& p) {
  return p.contact == 0 ? cell.leftContact : cell.rightContact;
}

template <class Layer>
auto* LayerProfile(Layer& layer, Q q) {
  switch (q) {
    case Q::kEg:
      return &layer.Eg;
    case Q::kChi:
      return &layer.chi;
    case Q::kEpsilon:
      return &layer.eps;
    case Q::kNC:
      return &layer.Nc;
    case Q::kNV:
      return &layer.Nv;
    case Q::kVthn:
      return &layer.v_th_n;
    case Q::kVthp:
      return &layer.v_th_p;
    case Q::kMun:
      return &layer.mu_n;
    case Q::kMup:
      return &layer.mu_p;
    case Q::kNA:
      return &layer.Na;
    case Q::kND:
      return &layer.Nd;
    case Q::kRadiative:
      return &layer.K_rad;
    case Q::kAugern:
      return &layer.c_n_auger;
    case Q::kAugerp:
      return &layer.c_p_auger;
    default:
      return static_cast<decltype(&layer.Eg)>(nullptr);
  }
}

// ---- value checks ----

enum class Range { kAny, kPositive, kNonNegative, kUnit, kSwitch };

bool CheckValue(double v, Range range, const CellParameter& p, std::string_view line, CellParameterError& error) {
  if (!std::isfinite(v)) return Fail(error, p.title, line, "Value not recognised as a finite number");
  switch (range) {
    case Range::kAny:
      return true;
    case Range::kPositive:
      return v > 0.0 || Fail(error, p.title, line, "Value not recognised as a positive number");
    case Range::kNonNegative:
      return v >= 0.0 || Fail(error, p.title, line, "Value not recognised as a non-negative number");
    case Range::kUnit:
      return (v >= 0.0 && v <= 1.0) || Fail(error, p.title, line, "Value not recognised as a number from 0 to 1");
    case Range::kSwitch:
      return v == 0.0 || v == 1.0 || Fail(error, p.title, line, "Value not recognised as 0 (off) or 1 (on)");
  }
  return true;
}

// The range of a plain number.
Range RangeOf(Q q) {
  switch (q) {
    case Q::kSn:
    case Q::kSp:
    case Q::kNA:
    case Q::kND:
    case Q::kRadiative:
    case Q::kAugern:
    case Q::kAugerp:
    case Q::kAbsorptionA:
    case Q::kNtotal:
    case Q::kNpeak:
    case Q::kSigmaN:
    case Q::kSigmaP:
    case Q::kMetaNtotal:
    case Q::kIFNtotal:
    case Q::kIFNpeak:
    case Q::kIFSigmaNLeft:
    case Q::kIFSigmaNRight:
    case Q::kIFSigmaPLeft:
    case Q::kIFSigmaPRight:
      return Range::kNonNegative;
    case Q::kWorkFunction:
    case Q::kThickness:
    case Q::kEg:
    case Q::kEpsilon:
    case Q::kNC:
    case Q::kNV:
    case Q::kVthn:
    case Q::kVthp:
    case Q::kMun:
    case Q::kMup:
    case Q::kEchar:
    case Q::kIFEchar:
    case Q::kIBMe:
    case Q::kIBMh:
    case Q::kIFMe:
    case Q::kIFMh:
      return Range::kPositive;
    case Q::kFilterValue:
    case Q::kComposition:
      return Range::kUnit;
    case Q::kFlatband:
    case Q::kFilterOn:
    case Q::kMetaAllow:
    case Q::kIBTunneling:
    case Q::kIFTunneling:
      return Range::kSwitch;
    default:
      return Range::kAny;
  }
}

// A keyword value (or its code written as an integer) from the first word of `text`.
bool KeywordValue(std::string_view text, std::span<const char* const> words, std::span<const int> codes,
                  const CellParameter& p, std::string_view line, int& code, CellParameterError& error) {
  std::string_view word = TrimView(text);
  const std::size_t blank = word.find_first_of(" \t");
  if (blank != std::string_view::npos) word = word.substr(0, blank);
  if (word.empty()) return Fail(error, p.title, line, "No value given");
  const int i = MatchWord(word, words);
  if (i >= 0) {
    code = codes[Idx(i)];
    return true;
  }
  int number = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), number);
  if (ec == std::errc() && end == word.data() + word.size())
    for (int c : codes)
      if (c == number) {
        code = number;
        return true;
      }
  return Fail(error, p.title, line, "Value not recognised: " + std::string(word));
}

// A file name: the whole rest, without surrounding blanks.
bool FileNameValue(std::string_view text, const CellParameter& p, std::string_view line, std::string& name,
                   CellParameterError& error) {
  const std::string_view v = TrimView(text);
  if (v.empty()) return Fail(error, p.title, line, "No file name given");
  if (v.size() > MAXFILENAME - 1)
    return Fail(error, p.title, line,
                "File name longer than " + std::to_string(MAXFILENAME - 1) + " characters: " + std::string(v));
  for (char c : v)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      return Fail(error, p.title, line, "File name not recognised: it holds control characters");
  name.assign(v);
  return true;
}

// ---- graded properties ----

// The value that a property named alone has: at the left side of the layer for a property
// given over the position, of pure A material otherwise (as the interpolation reads them).
double WholeValue(const Profile& profile) {
  if (profile.dependence != DEP_POSITION) return profile.p[0];
  switch (profile.law) {
    case LAW_UNIFORM_B:
      return profile.p[6];
    case LAW_UNIFORM_Y:
      return 0.5 * (profile.p[5] + profile.p[6]);
    default:
      return profile.p[5];
  }
}

double GetProfile(const Profile& profile, CellPart part) {
  switch (part) {
    case CellPart::kPureA:
      return profile.p[0];
    case CellPart::kPureB:
      return profile.p[1];
    case CellPart::kLeft:
      return profile.p[5];
    case CellPart::kRight:
      return profile.p[6];
    case CellPart::kWhole:
      break;
  }
  return WholeValue(profile);
}

void SetProfile(Profile& profile, CellPart part, double v) {
  switch (part) {
    case CellPart::kWhole:
      // One value throughout the layer: the uniform law with every end value equal.
      profile.law = LAW_UNIFORM;
      profile.p[0] = profile.p[1] = v;
      MakeUniform(profile, 0);
      SetProfileScaleParameters(profile);
      break;
    case CellPart::kPureA:
      profile.p[0] = v;
      if (profile.law == LAW_UNIFORM) MakeUniform(profile, 0);
      break;
    case CellPart::kPureB:
      profile.p[1] = v;
      if (profile.law == LAW_UNIFORM_B) MakeUniform(profile, 1);
      break;
    case CellPart::kLeft:
      profile.p[5] = v;
      break;
    case CellPart::kRight:
      profile.p[6] = v;
      break;
  }
}

// The defect-wide fields live in the record of level 1; the peak-to-total ratio is kept in
// every level record.
void UpdatePeakToTotal(std::array<BulkRecombinationParameters, MAXLEVELS>& levels) {
  const double ptt = DeterminePeakToTotal(levels[0].distribution, levels[0].Ekar);
  for (auto& level : levels) level.peakToTotal = ptt;
}

// The charge type fixes the number of levels and their transitions, from the most positive:
// a single donor is +/0, a single acceptor 0/-, a double donor 2+/+ and +/0, a double acceptor
// 0/- and -/2-, an amphoteric defect +/0 and 0/-.
void SetChargeType(std::array<BulkRecombinationParameters, MAXLEVELS>& levels, int type) {
  constexpr int kNeutral = 0, kMinMin = 2, kZeroMin = 3, kPlusZero = 4, kTwoPlus = 5;
  int n = 1;
  std::array<int, 2> aard{kNeutral, kNeutral};
  switch (type) {
    case DT_DONOR:
      aard = {kPlusZero, kNeutral};
      break;
    case DT_ACCEPTOR:
      aard = {kZeroMin, kNeutral};
      break;
    case DT_DOUBLEDONOR:
      n = 2, aard = {kTwoPlus, kPlusZero};
      break;
    case DT_DOUBLEACCEPTOR:
      n = 2, aard = {kZeroMin, kMinMin};
      break;
    case DT_AMPHOTERIC:
      n = 2, aard = {kPlusZero, kZeroMin};
      break;
    default:
      break;
  }
  levels[0].type = type;
  levels[0].numberOfLevels = n;
  for (int k = 0; k < n; ++k) levels[Idx(k)].aard = aard[Idx(k)];
}

// Re-checks the indices of a located parameter against the cell (it may have changed since).
bool CheckIndices(const CellDefinition& cell, const CellParameter& p, std::string_view line,
                  CellParameterError& error) {
  if (IsContactQuantity(p.quantity)) {
    if (p.contact == 0 || p.contact == 1) return true;
    return Fail(error, kContactTitle, line, "Contact not recognised");
  }
  if (IsInterfaceQuantity(p.quantity) || IsInterfaceDefectQuantity(p.quantity)) {
    if (!CheckInterface(cell, static_cast<long long>(p.interface) + 1, line, error)) return false;
    return !IsInterfaceDefectQuantity(p.quantity) ||
           CheckInterfaceDefect(cell, p.interface, static_cast<long long>(p.defect) + 1, line, error);
  }
  if (!CheckLayer(cell, static_cast<long long>(p.layer) + 1, kLayerTitle, line, error)) return false;
  if (IsDefectQuantity(p.quantity)) {
    if (!CheckDefect(cell, p.layer, static_cast<long long>(p.defect) + 1, line, error)) return false;
    if (p.quantity == Q::kEt || p.quantity == Q::kSigmaN || p.quantity == Q::kSigmaP)
      return CheckLevel(cell.layer[Idx(p.layer)].srh[Idx(p.defect)][0], static_cast<long long>(p.level) + 1, line,
                        error);
  }
  if (IsMetaQuantity(p.quantity)) return CheckMetaDefect(static_cast<long long>(p.defect) + 1, line, error);
  return true;
}

}  // namespace

// The number that follows a keyword directly ("layer2" -> 2); a missing or malformed number
// reads as 0 and a huge one saturates, so that the range check reports it.
long long NumberAfter(std::string_view word, std::size_t keywordLength) {
  std::string_view rest = word.substr(std::min(keywordLength, word.size()));
  bool negative = false;
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  long long value = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') break;
    if (value < std::numeric_limits<int>::max()) value = value * 10 + (c - '0');
  }
  value = std::min<long long>(value, std::numeric_limits<int>::max());
  return negative ? -value : value;
}

std::string CellParameterName::Dotted() const {
  std::size_t n = part.size();
  while (n > 0 && part[n - 1].empty()) --n;
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) s += '.';
    s += part[i];
  }
  return s;
}

// ---- lookup ----

bool ArgumentToCellParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                             CellParameter& out, CellParameterError& error) {
  const std::string_view p1 = name.part[0];
  if (StartsWithNoCase(p1, "contact")) return ArgumentToContactParameter(cell, name, line, out, error);
  if (StartsWithNoCase(p1, "layer")) return ArgumentToLayerParameter(cell, name, line, out, error);
  if (StartsWithNoCase(p1, "interface")) return ArgumentToInterfaceParameter(cell, name, line, out, error);
  return Fail(error, kCellTitle, line, "First part not recognised: " + std::string(p1));
}

bool ArgumentToContactParameter(const CellDefinition& /*cell*/, const CellParameterName& name, std::string_view line,
                                CellParameter& out, CellParameterError& error) {
  CellParameter p;
  p.title = kContactTitle;
  const std::string_view side = name.part[1];
  if (StartsWithNoCase(side, "l"))
    p.contact = 0;
  else if (StartsWithNoCase(side, "r"))
    p.contact = 1;
  else
    return NotRecognised(error, kContactTitle, line, name);
  const std::string_view what = name.part[2];
  const std::string_view option = name.part[3];
  if (StartsWithNoCase(what, "sn") || StartsWithNoCase(what, "sp") || StartsWithNoCase(what, "work")) {
    if (!option.empty()) return NotRecognised(error, kContactTitle, line, name);
    p.quantity = StartsWithNoCase(what, "sn") ? Q::kSn : StartsWithNoCase(what, "sp") ? Q::kSp : Q::kWorkFunction;
  } else if (StartsWithNoCase(what, "flat")) {
    p.title = kFlatbandTitle;
    p.quantity = Q::kFlatband;
    if (!option.empty()) {
      constexpr const char* kWords[] = {"off", "on", "always", "first"};
      const int i = MatchWord(option, kWords);
      if (i < 0) return NotRecognised(error, kFlatbandTitle, line, name);
      p.quantity = i < 2 ? Q::kFlatband : Q::kRecalculate;
      p.state = i == 0 ? 0 : i == 1 ? 1 : i == 2 ? 1 : 0;
      p.valueKind = K::kNone;
    }
  } else if (StartsWithNoCase(what, "optical")) {
    p.title = kOpticalTitle;
    p.quantity = Q::kFilterOn;
    if (!option.empty()) {
      constexpr const char* kWords[] = {"off", "on", "trans", "refl", "value", "file"};
      switch (MatchWord(option, kWords)) {
        case 0:
          p.state = 0, p.valueKind = K::kNone;
          break;
        case 1:
          p.state = 1, p.valueKind = K::kNone;
          break;
        case 2:
          p.quantity = Q::kFilterKind, p.state = 1, p.valueKind = K::kNone;
          break;
        case 3:
          p.quantity = Q::kFilterKind, p.state = 0, p.valueKind = K::kNone;
          break;
        case 4:
          p.quantity = Q::kFilterValue;
          break;
        case 5:
          p.quantity = Q::kFilterFile, p.valueKind = K::kText;
          break;
        default:
          return NotRecognised(error, kOpticalTitle, line, name);
      }
    }
  } else {
    const std::vector<std::string> near = NearestWords(what, {"sn", "sp", "work", "flat", "optical"});
    return Fail(error, kContactTitle, line,
                "Argument not recognised: " + name.Dotted() +
                    (near.empty() ? std::string() : "\nDid you mean " + JoinAlternatives(near) + "?"));
  }
  out = p;
  return true;
}

bool ArgumentToLayerParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                              CellParameter& out, CellParameterError& error) {
  const long long n = NumberAfter(name.part[0], std::string_view("layer").size());
  if (!CheckLayer(cell, n, kLayerTitle, line, error)) return false;
  CellParameter p;
  p.title = kLayerTitle;
  p.layer = static_cast<int>(n - 1);
  const std::string_view what = name.part[1];
  if (StartsWithNoCase(what, "defect")) {
    out = p;
    return ArgumentToDefectParameter(cell, name, line, out, error);
  }
  if (StartsWithNoCase(what, "metadefect")) {
    out = p;
    return ArgumentToMetaDefectParameter(cell, name, line, out, error);
  }
  const Entry* e = Match(what, kLayerTable);
  if (!e)
    return Fail(
        error, kLayerTitle, line,
        "Argument not recognised: " + name.Dotted() + Hint(what, kLayerTable, kLayerAliases, {"defect", "metadefect"}));
  p.quantity = e->quantity;
  const LayerParameters& layer = cell.layer[Idx(p.layer)];
  if (p.quantity == Q::kComposition) {
    if (!name.part[3].empty()) return NotRecognised(error, kLayerTitle, line, name);
    if (!name.part[2].empty()) {
      if (!StartsWithNoCase(name.part[2], "file")) return NotRecognised(error, kLayerTitle, line, name);
      p.quantity = Q::kCompositionFile;
      p.valueKind = K::kText;
    }
  } else if (p.quantity == Q::kAbsorptionA) {
    p.title = kAbsorptionTitle;
    const Entry* a = Match(name.part[2], kAbsorptionTable);
    if (!a) return NotRecognised(error, kAbsorptionTitle, line, name);
    p.quantity = a->quantity;
    p.valueKind = a->kind;
    const std::string_view material = name.part[3];
    if (StartsWithNoCase(material, "pureA"))
      p.part = CellPart::kPureA;
    else if (StartsWithNoCase(material, "pureB"))
      p.part = CellPart::kPureB;
    else if (!material.empty())
      return NotRecognised(error, kAbsorptionTitle, line, name);
  } else if (p.quantity == Q::kThickness) {
    if (!name.part[2].empty()) return NotRecognised(error, kLayerTitle, line, name);
  } else {
    if (!name.part[3].empty()) return NotRecognised(error, kLayerTitle, line, name);
    if (!GradedPart(*LayerProfile(layer, p.quantity), name.part[2], name, kLayerTitle, line, p.part, error))
      return false;
  }
  out = p;
  return true;
}

bool ArgumentToDefectParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                               CellParameter& out, CellParameterError& error) {
  CellParameter p = out;
  p.title = kBulkDefectTitle;
  if (!CheckLayer(cell, static_cast<long long>(p.layer) + 1, kLayerTitle, line, error)) return false;
  const long long m = NumberAfter(name.part[1], std::string_view("defect").size());
  if (!CheckDefect(cell, p.layer, m, line, error)) return false;
  p.defect = static_cast<int>(m - 1);
  const Entry* e = Match(name.part[2], kDefectTable);
  if (!e)
    return Fail(error, kBulkDefectTitle, line,
                "Argument not recognised: " + name.Dotted() + Hint(name.part[2], kDefectTable, kDefectAliases));
  p.quantity = e->quantity;
  p.valueKind = e->kind;
  p.state = e->state;
  const std::string_view option = name.part[3];
  const auto& levels = cell.layer[Idx(p.layer)].srh[Idx(p.defect)];
  if (p.quantity == Q::kEt || p.quantity == Q::kSigmaN || p.quantity == Q::kSigmaP) {
    if (!option.empty()) {
      if (!StartsWithNoCase(option, "level")) return NotRecognised(error, kBulkDefectTitle, line, name);
      const long long k = NumberAfter(option, std::string_view("level").size());
      if (!CheckLevel(levels[0], k, line, error)) return false;
      p.level = static_cast<int>(k - 1);
    }
  } else if (p.quantity == Q::kNtotal || p.quantity == Q::kNpeak) {
    if (!GradedPart(levels[0].Nt, option, name, kBulkDefectTitle, line, p.part, error)) return false;
  } else if (!option.empty()) {
    return NotRecognised(error, kBulkDefectTitle, line, name);
  }
  out = p;
  return true;
}

bool ArgumentToMetaDefectParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                                   CellParameter& out, CellParameterError& error) {
  CellParameter p = out;
  p.title = kMetaDefectTitle;
  if (!CheckLayer(cell, static_cast<long long>(p.layer) + 1, kLayerTitle, line, error)) return false;
  const long long m = NumberAfter(name.part[1], std::string_view("metadefect").size());
  if (!CheckMetaDefect(m, line, error)) return false;
  p.defect = static_cast<int>(m - 1);
  const Entry* e = Match(name.part[2], kMetaTable);
  if (!e)
    return Fail(error, kMetaDefectTitle, line,
                "Argument not recognised: " + name.Dotted() + Hint(name.part[2], kMetaTable, kDefectAliases));
  p.quantity = e->quantity;
  p.valueKind = e->kind;
  p.state = e->state;
  const std::string_view option = name.part[3];
  if (p.quantity == Q::kMetaNtotal) {
    const Profile& nt = cell.layer[Idx(p.layer)].meta[Idx(p.defect)].Nt;
    if (!GradedPart(nt, option, name, kMetaDefectTitle, line, p.part, error)) return false;
  } else if (!option.empty()) {
    return NotRecognised(error, kMetaDefectTitle, line, name);
  }
  out = p;
  return true;
}

bool ArgumentToInterfaceParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                                  CellParameter& out, CellParameterError& error) {
  const long long n = NumberAfter(name.part[0], std::string_view("interface").size());
  if (!CheckInterface(cell, n, line, error)) return false;
  CellParameter p;
  p.title = kInterfaceTitle;
  p.interface = static_cast<int>(n - 1);
  const std::string_view what = name.part[1];
  if (StartsWithNoCase(what, "IBtunneling")) {
    p.title = kIntrabandTitle;
    p.quantity = Q::kIBTunneling;
    if (!name.part[3].empty()) return NotRecognised(error, kIntrabandTitle, line, name);
    if (!name.part[2].empty()) {
      const TunnelOption* o = MatchTunnelOption(name.part[2]);
      if (!o) return NotRecognised(error, kIntrabandTitle, line, name);
      if (o->which == 0) {
        p.state = o->state;
        p.valueKind = K::kNone;
      } else {
        p.quantity = o->which == 1 ? Q::kIBMe : Q::kIBMh;
      }
    }
    out = p;
    return true;
  }
  if (!StartsWithNoCase(what, "IFdefect")) return NotRecognised(error, kInterfaceTitle, line, name);
  const long long m = NumberAfter(what, std::string_view("IFdefect").size());
  if (!CheckInterfaceDefect(cell, p.interface, m, line, error)) return false;
  p.defect = static_cast<int>(m - 1);
  p.title = kIFDefectTitle;
  const Entry* e = Match(name.part[2], kIFDefectTable);
  if (!e)
    return Fail(error, kIFDefectTitle, line,
                "Argument not recognised: " + name.Dotted() + Hint(name.part[2], kIFDefectTable, kDefectAliases));
  p.quantity = e->quantity;
  p.valueKind = e->kind;
  p.state = e->state;
  const std::string_view option = name.part[3];
  if (p.quantity == Q::kIFTunneling) {
    p.title = kIFTunnelingTitle;
    if (!option.empty()) {
      const TunnelOption* o = MatchTunnelOption(option);
      if (!o) return NotRecognised(error, kIFTunnelingTitle, line, name);
      if (o->which == 0) {
        p.state = o->state;
        p.valueKind = K::kNone;
      } else {
        p.quantity = o->which == 1 ? Q::kIFMe : Q::kIFMh;
      }
    }
  } else if (!option.empty()) {
    return NotRecognised(error, kIFDefectTitle, line, name);
  }
  out = p;
  return true;
}

// ---- set ----

bool SetValueToCellparameter(CellDefinition& cell, const CellParameter& p, const CellValue& value,
                             std::string_view line, CellParameterError& error) {
  if (!CheckIndices(cell, p, line, error)) return false;
  const Q q = p.quantity;
  const double v = value.number;
  // The value first: nothing changes unless it is acceptable.
  int code = p.state;
  std::string file;
  switch (p.valueKind) {
    case K::kNumber:
      if (!CheckValue(v, RangeOf(q), p, line, error)) return false;
      if (code < 0 && RangeOf(q) == Range::kSwitch) code = v == 1.0 ? 1 : 0;
      break;
    case K::kText:
      switch (q) {
        case Q::kDistribution:
        case Q::kIFDistribution:
          if (!KeywordValue(value.text, kDistributionWords, kDistributionCodes, p, line, code, error)) return false;
          break;
        case Q::kChargeType:
          if (!KeywordValue(value.text, kChargeTypeWords, kChargeTypeCodes, p, line, code, error)) return false;
          break;
        case Q::kIFChargeType:
          if (!KeywordValue(value.text, kIFChargeTypeWords, kIFChargeTypeCodes, p, line, code, error)) return false;
          break;
        case Q::kReference:
        case Q::kMetaReference:
          if (!KeywordValue(value.text, kReferenceWords, kReferenceCodes, p, line, code, error)) return false;
          break;
        case Q::kIFReference:
          if (!KeywordValue(value.text, kIFReferenceWords, kIFReferenceCodes, p, line, code, error)) return false;
          break;
        default:
          if (!FileNameValue(value.text, p, line, file, error)) return false;
          break;
      }
      break;
    case K::kNone:
      break;
  }

  if (IsContactQuantity(q)) {
    ContactParameters& c = ContactOf(cell, p);
    switch (q) {
      case Q::kSn:
        c.Sn = v;
        break;
      case Q::kSp:
        c.Sp = v;
        break;
      case Q::kWorkFunction:
        // A given work function is only used when the flat-band condition is not imposed.
        c.Fi_m = v;
        c.flatband = 0;
        break;
      case Q::kFlatband:
        c.flatband = code;
        break;
      case Q::kRecalculate:
        c.recalculate = code;
        break;
      case Q::kFilterOn:
        c.filterOn = code;
        break;
      case Q::kFilterKind:
        c.filterKind = code;
        break;
      case Q::kFilterValue:
        c.filterValue = v;
        c.wavelengthIndependent = 1;
        break;
      case Q::kFilterFile:
        c.filterFile = file;
        c.wavelengthIndependent = 0;
        break;
      default:
        break;
    }
    return true;
  }

  if (IsInterfaceQuantity(q)) {
    InterfaceParameters& iface = cell.interface[Idx(p.interface)];
    if (q == Q::kIBTunneling) iface.intrabandTunneling = code;
    if (q == Q::kIBMe) iface.me_rel = v;
    if (q == Q::kIBMh) iface.mh_rel = v;
    return true;
  }

  if (IsInterfaceDefectQuantity(q)) {
    InterfaceRecombinationParameters& d = cell.interface[Idx(p.interface)].ifr[Idx(p.defect)];
    switch (q) {
      case Q::kIFDistribution:
        d.distribution = code;
        d.peakToTotal = DeterminePeakToTotal(d.distribution, d.Ekar);
        break;
      case Q::kIFChargeType:
        d.type = code;
        break;
      case Q::kIFReference:
        d.reference = code;
        break;
      case Q::kIFEt:
        d.Et = v;
        break;
      case Q::kIFEchar:
        d.Ekar = v;
        d.peakToTotal = DeterminePeakToTotal(d.distribution, d.Ekar);
        break;
      case Q::kIFNtotal:
        d.N = v;
        break;
      case Q::kIFNpeak: {
        const double ptt = DeterminePeakToTotal(d.distribution, d.Ekar);
        if (!(ptt > 0.0))
          return Fail(error, p.title, line,
                      "Peak density not defined: the characteristic energy of the distribution is not positive");
        d.N = v / ptt;
        break;
      }
      case Q::kIFTunneling:
        d.tunneling = code;
        break;
      case Q::kIFMe:
        d.me_rel = v;
        break;
      case Q::kIFMh:
        d.mh_rel = v;
        break;
      case Q::kIFSigmaNLeft:
        d.sigma_nleft = v;
        break;
      case Q::kIFSigmaNRight:
        d.sigma_nright = v;
        break;
      case Q::kIFSigmaPLeft:
        d.sigma_pleft = v;
        break;
      case Q::kIFSigmaPRight:
        d.sigma_pright = v;
        break;
      default:
        break;
    }
    return true;
  }

  LayerParameters& layer = cell.layer[Idx(p.layer)];

  if (IsDefectQuantity(q)) {
    auto& levels = layer.srh[Idx(p.defect)];
    BulkRecombinationParameters& first = levels[0];
    switch (q) {
      case Q::kDistribution:
        first.distribution = code;
        UpdatePeakToTotal(levels);
        break;
      case Q::kChargeType:
        SetChargeType(levels, code);
        break;
      case Q::kReference:
        first.reference = code;
        break;
      case Q::kEt:
        levels[Idx(p.level)].Et = v;
        break;
      case Q::kSigmaN:
        levels[Idx(p.level)].sigma_n = v;
        break;
      case Q::kSigmaP:
        levels[Idx(p.level)].sigma_p = v;
        break;
      case Q::kEchar:
        first.Ekar = v;
        UpdatePeakToTotal(levels);
        break;
      case Q::kNtotal:
        SetProfile(first.Nt, p.part, v);
        break;
      case Q::kNpeak: {
        // The peak density (per eV for a distribution) is the total density times the
        // peak-to-total ratio of the distribution.
        const double ptt = DeterminePeakToTotal(first.distribution, first.Ekar);
        if (!(ptt > 0.0))
          return Fail(error, p.title, line,
                      "Peak density not defined: the characteristic energy of the distribution is not positive");
        SetProfile(first.Nt, p.part, v / ptt);
        break;
      }
      default:
        break;
    }
    return true;
  }

  if (IsMetaQuantity(q)) {
    MetaStableDefectParameters& m = layer.meta[Idx(p.defect)];
    switch (q) {
      case Q::kMetaAllow:
        if (code == 1) {
          // The two configurations of the transition are two bulk defects of the layer.
          const int defects = DefectCount(layer);
          if (defects < 2)
            return Fail(
                error, p.title, line,
                "A metastable transition needs two bulk defects in the layer (it has " + std::to_string(defects) + ")");
          const bool valid = m.acceptorDefect >= 0 && m.acceptorDefect < defects && m.donorDefect >= 0 &&
                             m.donorDefect < defects && m.acceptorDefect != m.donorDefect;
          if (!valid) {
            m.acceptorDefect = 0;
            m.donorDefect = 1;
          }
          // The acceptor configuration carries two charges less than the donor one.
          if (m.donorChargeState < 2 || m.donorChargeState >= NCHARGESTATES) m.donorChargeState = 3;
        }
        m.switchedOn = code;
        break;
      case Q::kMetaReference:
        m.reference = code;
        break;
      case Q::kMetaE_TR:
        m.Eact_TR = v;
        break;
      case Q::kMetaE_EC:
        m.Eact_EC = v;
        break;
      case Q::kMetaE_EE:
        m.Eact_EE = v;
        break;
      case Q::kMetaE_HC:
        m.Eact_HC = v;
        break;
      case Q::kMetaE_HE:
        m.Eact_HE = v;
        break;
      case Q::kMetaNtotal:
        SetProfile(m.Nt, p.part, v);
        break;
      default:
        break;
    }
    return true;
  }

  switch (q) {
    case Q::kThickness:
      layer.d = v;
      break;
    case Q::kComposition:
      // A uniform composition y: law "uniform y, 0<y<1" with equal side values.
      layer.composition.law = LAW_UNIFORM_Y;
      layer.composition.p[5] = layer.composition.p[6] = v;
      SetProfileScaleParameters(layer.composition);
      layer.compositionMode = 21;
      break;
    case Q::kCompositionFile:
      layer.composition.law = LAW_FROM_FILE;
      layer.composition.gradingFile = file;
      SetProfileScaleParameters(layer.composition);
      layer.compositionMode = 0;
      break;
    case Q::kAbsorptionA:
    case Q::kAbsorptionB:
    case Q::kAbsorptionFile:
      for (int material = 0; material < 2; ++material) {
        if ((p.part == CellPart::kPureA && material != 0) || (p.part == CellPart::kPureB && material != 1)) continue;
        // A constant of the formula is used once the material's absorption comes from the formula.
        if (q == Q::kAbsorptionA) layer.A[Idx(material)] = v;
        if (q == Q::kAbsorptionB) layer.B[Idx(material)] = v;
        if (q == Q::kAbsorptionFile) layer.absorptionFile[Idx(material)] = file;
        layer.absorptionModel[Idx(material)] = q == Q::kAbsorptionFile ? ABS_MODEL_FILE : ABS_MODEL_AB;
      }
      break;
    default:
      if (Profile* profile = LayerProfile(layer, q)) SetProfile(*profile, p.part, v);
      break;
  }
  return true;
}

// ---- get ----

bool CellparameterToGetVariable(const CellDefinition& cell, const CellParameter& p, double& number,
                                std::string_view line, CellParameterError& error) {
  if (!CheckIndices(cell, p, line, error)) return false;
  const Q q = p.quantity;
  // A named state: 1 when the cell is in it.
  auto is = [&p](int field) { return p.state >= 0 ? (field == p.state ? 1.0 : 0.0) : static_cast<double>(field); };

  if (IsContactQuantity(q)) {
    const ContactParameters& c = ContactOf(cell, p);
    switch (q) {
      case Q::kSn:
        number = c.Sn;
        break;
      case Q::kSp:
        number = c.Sp;
        break;
      case Q::kWorkFunction:
        number = c.Fi_m;
        break;
      case Q::kFlatband:
        number = is(c.flatband);
        break;
      case Q::kRecalculate:
        number = is(c.recalculate);
        break;
      case Q::kFilterOn:
        number = is(c.filterOn);
        break;
      case Q::kFilterKind:
        number = is(c.filterKind);
        break;
      case Q::kFilterValue:
        number = c.filterValue;
        break;
      case Q::kFilterFile:
        number = c.wavelengthIndependent == 0 ? 1.0 : 0.0;
        break;
      default:
        number = 0.0;
        break;
    }
    return true;
  }

  if (IsInterfaceQuantity(q)) {
    const InterfaceParameters& iface = cell.interface[Idx(p.interface)];
    number = q == Q::kIBTunneling ? is(iface.intrabandTunneling) : q == Q::kIBMe ? iface.me_rel : iface.mh_rel;
    return true;
  }

  if (IsInterfaceDefectQuantity(q)) {
    const InterfaceRecombinationParameters& d = cell.interface[Idx(p.interface)].ifr[Idx(p.defect)];
    switch (q) {
      case Q::kIFDistribution:
        number = is(d.distribution);
        break;
      case Q::kIFChargeType:
        number = is(d.type);
        break;
      case Q::kIFReference:
        number = is(d.reference);
        break;
      case Q::kIFEt:
        number = d.Et;
        break;
      case Q::kIFEchar:
        number = d.Ekar;
        break;
      case Q::kIFNtotal:
        number = d.N;
        break;
      case Q::kIFNpeak:
        number = d.N * DeterminePeakToTotal(d.distribution, d.Ekar);
        break;
      case Q::kIFTunneling:
        number = is(d.tunneling);
        break;
      case Q::kIFMe:
        number = d.me_rel;
        break;
      case Q::kIFMh:
        number = d.mh_rel;
        break;
      case Q::kIFSigmaNLeft:
        number = d.sigma_nleft;
        break;
      case Q::kIFSigmaNRight:
        number = d.sigma_nright;
        break;
      case Q::kIFSigmaPLeft:
        number = d.sigma_pleft;
        break;
      case Q::kIFSigmaPRight:
        number = d.sigma_pright;
        break;
      default:
        number = 0.0;
        break;
    }
    return true;
  }

  const LayerParameters& layer = cell.layer[Idx(p.layer)];

  if (IsDefectQuantity(q)) {
    const auto& levels = layer.srh[Idx(p.defect)];
    const BulkRecombinationParameters& first = levels[0];
    switch (q) {
      case Q::kDistribution:
        number = is(first.distribution);
        break;
      case Q::kChargeType:
        number = is(first.type);
        break;
      case Q::kReference:
        number = is(first.reference);
        break;
      case Q::kEt:
        number = levels[Idx(p.level)].Et;
        break;
      case Q::kSigmaN:
        number = levels[Idx(p.level)].sigma_n;
        break;
      case Q::kSigmaP:
        number = levels[Idx(p.level)].sigma_p;
        break;
      case Q::kEchar:
        number = first.Ekar;
        break;
      case Q::kNtotal:
        number = GetProfile(first.Nt, p.part);
        break;
      case Q::kNpeak:
        number = GetProfile(first.Nt, p.part) * DeterminePeakToTotal(first.distribution, first.Ekar);
        break;
      default:
        number = 0.0;
        break;
    }
    return true;
  }

  if (IsMetaQuantity(q)) {
    const MetaStableDefectParameters& m = layer.meta[Idx(p.defect)];
    switch (q) {
      case Q::kMetaAllow:
        number = m.switchedOn;
        break;
      case Q::kMetaReference:
        number = is(m.reference);
        break;
      case Q::kMetaE_TR:
        number = m.Eact_TR;
        break;
      case Q::kMetaE_EC:
        number = m.Eact_EC;
        break;
      case Q::kMetaE_EE:
        number = m.Eact_EE;
        break;
      case Q::kMetaE_HC:
        number = m.Eact_HC;
        break;
      case Q::kMetaE_HE:
        number = m.Eact_HE;
        break;
      case Q::kMetaNtotal:
        number = GetProfile(m.Nt, p.part);
        break;
      default:
        number = 0.0;
        break;
    }
    return true;
  }

  switch (q) {
    case Q::kThickness:
      number = layer.d;
      break;
    case Q::kComposition:
      number = WholeValue(layer.composition);
      break;
    case Q::kCompositionFile:
      number = layer.composition.law == LAW_FROM_FILE ? 1.0 : 0.0;
      break;
    case Q::kAbsorptionA:
    case Q::kAbsorptionB:
    case Q::kAbsorptionFile: {
      // Named without a material: pure A material.
      const std::size_t material = p.part == CellPart::kPureB ? 1 : 0;
      number = q == Q::kAbsorptionA   ? layer.A[material]
               : q == Q::kAbsorptionB ? layer.B[material]
                                      : (layer.absorptionModel[material] == ABS_MODEL_FILE ? 1.0 : 0.0);
      break;
    }
    default: {
      const Profile* profile = LayerProfile(layer, q);
      number = profile ? GetProfile(*profile, p.part) : 0.0;
      break;
    }
  }
  return true;
}

// ---- the list of names, from the same tables the lookup reads ----

std::vector<ListedName> ListCellParameterNames() {
  std::vector<ListedName> out;
  auto add = [&out](std::string name, Q q, K k) { out.push_back({std::move(name), q, k}); };
  // Graded properties: named alone, or one of their four values.
  auto graded = [&add](const std::string& base, Q q) {
    add(base, q, K::kNumber);
    for (const Entry& e : kPartTable) add(base + "." + e.word, q, K::kNumber);
  };
  for (const char* side : {"left", "right"}) {
    const std::string c = std::string("contact.") + side + ".";
    add(c + "sn", Q::kSn, K::kNumber);
    add(c + "sp", Q::kSp, K::kNumber);
    add(c + "work", Q::kWorkFunction, K::kNumber);
    add(c + "flat", Q::kFlatband, K::kNumber);
    add(c + "flat.off", Q::kFlatband, K::kNone);
    add(c + "flat.on", Q::kFlatband, K::kNone);
    add(c + "flat.always", Q::kRecalculate, K::kNone);
    add(c + "flat.first", Q::kRecalculate, K::kNone);
    add(c + "optical", Q::kFilterOn, K::kNumber);
    add(c + "optical.off", Q::kFilterOn, K::kNone);
    add(c + "optical.on", Q::kFilterOn, K::kNone);
    add(c + "optical.trans", Q::kFilterKind, K::kNone);
    add(c + "optical.refl", Q::kFilterKind, K::kNone);
    add(c + "optical.value", Q::kFilterValue, K::kNumber);
    add(c + "optical.file", Q::kFilterFile, K::kText);
  }
  for (const Entry& e : kLayerTable) {
    const std::string base = std::string("layerN.") + e.word;
    if (e.quantity == Q::kComposition) {
      add(base, Q::kComposition, K::kNumber);
      add(base + ".file", Q::kCompositionFile, K::kText);
    } else if (e.quantity == Q::kThickness) {
      add(base, Q::kThickness, K::kNumber);
    } else if (e.quantity == Q::kAbsorptionA) {
      for (const Entry& a : kAbsorptionTable) {
        add(base + "." + a.word, a.quantity, a.kind);
        add(base + "." + a.word + ".pureA", a.quantity, a.kind);
        add(base + "." + a.word + ".pureB", a.quantity, a.kind);
      }
    } else {
      graded(base, e.quantity);
    }
  }
  for (const Entry& e : kDefectTable) {
    const std::string base = std::string("layerN.defectM.") + e.word;
    if (e.quantity == Q::kNtotal || e.quantity == Q::kNpeak) {
      graded(base, e.quantity);
    } else {
      add(base, e.quantity, e.kind);
      if (e.quantity == Q::kEt || e.quantity == Q::kSigmaN || e.quantity == Q::kSigmaP)
        add(base + ".levelK", e.quantity, e.kind);
    }
  }
  for (const Entry& e : kMetaTable) {
    const std::string base = std::string("layerN.metadefectM.") + e.word;
    if (e.quantity == Q::kMetaNtotal)
      graded(base, e.quantity);
    else
      add(base, e.quantity, e.kind);
  }
  auto tunnel = [&add](const std::string& base, Q onOff, Q me, Q mh) {
    add(base, onOff, K::kNumber);
    for (const TunnelOption& o : kTunnelOptions)
      add(base + "." + o.word, o.which == 0 ? onOff : o.which == 1 ? me : mh, o.which == 0 ? K::kNone : K::kNumber);
  };
  tunnel("interfaceN.IBtunneling", Q::kIBTunneling, Q::kIBMe, Q::kIBMh);
  for (const Entry& e : kIFDefectTable) {
    const std::string base = std::string("interfaceN.IFdefectM.") + e.word;
    if (e.quantity == Q::kIFTunneling)
      tunnel(base, Q::kIFTunneling, Q::kIFMe, Q::kIFMh);
    else
      add(base, e.quantity, e.kind);
  }
  return out;
}

}  // namespace zoniq
