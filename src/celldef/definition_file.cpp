#include "celldef/definition_file.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

#include "celldef/metastable.hpp"
#include "celldef/short_cell_definition.hpp"
#include "common/paths.hpp"

namespace zoniq {

namespace {

// ---------------------------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------------------------

bool IsCommentChar(char c) { return c == '>' || c == '<' || c == '*' || c == '!' || c == '/' || c == '\\'; }

bool IsSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

// The text of an enumeration value; the first text for a value outside the table, so that the
// writer never reads past a table whatever a record holds.
template <std::size_t N>
const char* TextOf(const std::array<const char*, N>& table, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < N ? table[static_cast<std::size_t>(index)] : table[0];
}

// The index of the table text that `value` begins with, followed by the end, a blank or a
// bracket; -1 when none.
template <std::size_t N>
int MatchText(std::string_view value, const std::array<const char*, N>& table) {
  for (std::size_t i = 0; i < N; ++i) {
    const std::string_view t = table[i];
    if (!StartsWithNoCase(value, t)) continue;
    if (value.size() == t.size() || IsSpaceOrTab(value[t.size()]) || value[t.size()] == '(') return static_cast<int>(i);
  }
  return -1;
}

std::string Truncated(std::string text, std::size_t maxLength) {
  if (text.size() > maxLength) text.resize(maxLength);
  return text;
}

// The name of a graded line of Na, Nd or Nt by its dependence.
std::string DependenceName(std::string_view base, int dependence) {
  std::string s(base);
  s += dependence == DEP_POSITION ? "(x)" : dependence == DEP_COMPOSITION ? "(y)" : "(uniform)";
  return s;
}

constexpr NumberLayout Sci(int w, int p) { return NumberLayout{true, w, p}; }
constexpr NumberLayout Fix(int w, int p) { return NumberLayout{false, w, p}; }

// The numbers of a graded line: at most 9, from `valueStart` up to the unit text in brackets.
struct GradedNumbers {
  std::vector<double> values;
  bool finite = true;
  std::string problem;  // a word among the numbers that is not a number
};

// Between the ':' and the unit text only numbers may stand: a typo in one of them would
// otherwise shift the others into the wrong parameters.
GradedNumbers ScanGradedNumbers(std::string_view line, std::size_t valueStart) {
  GradedNumbers g;
  if (valueStart > line.size()) valueStart = line.size();
  std::size_t end = line.find('[', valueStart);
  if (end == std::string_view::npos) end = line.size();
  StrictNumbers n = ScanNumbersStrict(line.substr(valueStart, end - valueStart), 9, false);
  g.values = std::move(n.values);
  g.finite = n.finite;
  g.problem = std::move(n.problem);
  return g;
}

// An integer-valued number of a graded line within [lo, hi], rounded.
bool RoundedInRange(double v, int lo, int hi, int& out) {
  if (!(v >= lo - 0.5 && v < hi + 0.5)) return false;
  out = static_cast<int>(std::lround(v));
  if (out < lo) out = lo;
  if (out > hi) out = hi;
  return true;
}

// Law and dependence of a graded line by the count of its numbers (see InputLineToProfile).
bool LawAndDependence(const GradedNumbers& g, int& law, int& dependence, std::string* problem) {
  const std::size_t n = g.values.size();
  auto fail = [problem](std::string why) {
    if (problem) *problem = std::move(why);
    return false;
  };
  if (!g.problem.empty()) return fail(g.problem);
  if (n == 0) return fail("the graded property holds no number");
  if (!g.finite) return fail("a number of the graded property is out of range");
  if (n < 7) {
    law = LAW_UNIFORM;
    dependence = DEP_UNIFORM;
    return true;
  }
  // A table in memory (law 13) is never stored in a file, so a file cannot give it back.
  const double lawValue = n == 7 ? g.values[6] : g.values[7];
  if (!RoundedInRange(lawValue, 0, LAW_FROM_FILE, law))
    return fail("the interpolation law " + num(lawValue) + " is not one of 0 to 12");
  dependence = DEP_COMPOSITION;
  if (n == 9 && !RoundedInRange(g.values[8], 0, DEP_UNIFORM, dependence))
    return fail("the dependence " + num(g.values[8]) + " is not 0 (composition), 1 (position) or 2 (uniform)");
  return true;
}

// ---------------------------------------------------------------------------------------------
// The reader
// ---------------------------------------------------------------------------------------------

// What the parser throws for content it cannot take; caught in ParseDefinitionFile.
struct Reject {
  std::string message;
};

enum class Section {
  kNone,
  kConvergence,
  kContact,
  kLayer,
  kDefect,
  kMeta,
  kInterface,
  kInterfaceDefect,
  kWorkPoint,
  kIgnored
};

struct ParsedFile {
  InputParameters set;
  MottSchottkySettings ms;
  DefinitionExtras extras;
};

class Parser {
 public:
  explicit Parser(ParsedFile& out) : out_(out), cell_(out.set.cellParas) {}

  // The first line that is not a comment decides whether a convergence section comes first.
  void First(std::string_view line, long lineNumber) {
    lineNumber_ = lineNumber;
    if (ContainsNoCase(line, "convergence")) {
      section_ = Section::kConvergence;
      return;
    }
    Dispatch(line);
  }

  void Line(std::string_view line, long lineNumber) {
    lineNumber_ = lineNumber;
    Dispatch(line);
  }

  // Derived quantities once every line is in.
  void Finish() {
    const int nLayers = cell_.numberOfLayers;
    for (int l = 0; l < nLayers; ++l) {
      LayerParameters& L = cell_.layer[Idx(l)];
      for (int d = 0; d < L.srhteller; ++d) {
        auto& levels = L.srh[Idx(d)];
        const double ptt = DeterminePeakToTotal(levels[0].distribution, levels[0].Ekar);
        for (int k = 0; k < levels[0].numberOfLevels; ++k) levels[Idx(k)].peakToTotal = ptt;
      }
    }
    for (InterfaceParameters& I : cell_.interface)
      for (int d = 0; d < I.numberOfDefects; ++d) {
        InterfaceRecombinationParameters& D = I.ifr[Idx(d)];
        D.peakToTotal = DeterminePeakToTotal(D.distribution, D.Ekar);
      }
    out_.extras.mottSchottky = out_.ms;
    // A metastable transition must name two different defects of its layer with the levels
    // of its charge states; otherwise the two configurations would not share one density.
    for (int l = 0; l < nLayers; ++l)
      for (int k = 0; k < MAXMETATRANSITIONS; ++k) {
        if (!cell_.layer[Idx(l)].meta[Idx(k)].switchedOn) continue;
        const std::string why = ValidateMetaTransition(cell_, l, k);
        if (!why.empty()) throw Reject{"line " + std::to_string(metaLine_[Idx(l)][Idx(k)]) + ": " + why};
      }
  }

 private:
  static std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

  [[noreturn]] void Fail(const std::string& why) const {
    throw Reject{"line " + std::to_string(lineNumber_) + ": " + why};
  }

  // ---- values ----

  // Where the value of a keyword line starts: after its first ':' (no keyword holds one), or
  // right behind the keyword when the line has no ':'.
  static std::size_t ValueStart(std::string_view line, std::size_t keyLength) {
    const std::size_t pos = line.find(':');
    return pos == std::string_view::npos ? std::min(keyLength, line.size()) : pos + 1;
  }

  // The numbers of a keyword line, at most `maxCount`, up to the unit text in brackets.
  std::vector<double> Numbers(std::string_view line, std::string_view key, std::size_t maxCount, double maxMagnitude) {
    const std::size_t start = ValueStart(line, key.size());
    std::size_t end = line.find('[', start);
    if (end == std::string_view::npos) end = line.size();
    StrictNumbers scanned = ScanNumbersStrict(line.substr(start, end - start), maxCount, true);
    if (!scanned.problem.empty()) Fail("\"" + std::string(key) + "\": " + scanned.problem);
    std::vector<double> v = std::move(scanned.values);
    if (v.empty()) Fail("\"" + std::string(key) + "\" holds no number");
    if (!scanned.finite) Fail("a number of \"" + std::string(key) + "\" is out of range");
    for (double x : v)
      if (std::fabs(x) > maxMagnitude)
        Fail("the number " + num(x) + " of \"" + std::string(key) + "\" is out of range (at most " + num(maxMagnitude) +
             ")");
    return v;
  }

  double Real(std::string_view line, std::string_view key, double maxMagnitude = kDefMaxMagnitude) {
    return Numbers(line, key, 1, maxMagnitude)[0];
  }

  double FixedReal(std::string_view line, std::string_view key) { return Real(line, key, kDefMaxFixedMagnitude); }

  int IntegerOf(double v, std::string_view key, int lo, int hi) {
    if (v != std::trunc(v)) Fail("\"" + std::string(key) + "\" must be a whole number, not " + num(v));
    if (v < lo || v > hi)
      Fail("\"" + std::string(key) + "\" is " + num(v) + ", outside " + std::to_string(lo) + " to " +
           std::to_string(hi));
    return static_cast<int>(v);
  }

  int Int(std::string_view line, std::string_view key, int lo, int hi) {
    return IntegerOf(Numbers(line, key, 1, kDefMaxMagnitude)[0], key, lo, hi);
  }

  int Flag(std::string_view line, std::string_view key) { return Int(line, key, 0, 1); }

  static std::string Text(std::string_view line, std::size_t maxLength) {
    return Truncated(AfterColon(line), maxLength);
  }

  void Graded(std::string_view line, std::string_view key, Profile& profile, double maxMagnitude = kDefMaxMagnitude) {
    std::string problem;
    if (InputLineToProfile(line, ValueStart(line, key.size()), profile, &problem, maxMagnitude) != 0)
      Fail("\"" + std::string(key) + "\": " + problem);
    lastProfile_ = &profile;
  }

  // The part of the line before its first ':' (the whole line when there is none).
  static std::string_view Head(std::string_view line) { return line.substr(0, line.find(':')); }

  // A keyword that is a single letter or two ("A", "B", "N") matches only when a ':' follows.
  static bool KeyColon(std::string_view line, std::string_view key) {
    if (!StartsWithNoCase(line, key)) return false;
    std::size_t i = key.size();
    while (i < line.size() && IsSpaceOrTab(line[i])) ++i;
    return i < line.size() && line[i] == ':';
  }

  static bool Key(std::string_view line, std::string_view key) { return StartsWithNoCase(line, key); }

  // "pure B material (y=1), A :": the item is the last word before the ':'.
  static bool LastLetterIs(std::string_view head, char letter) {
    head = TrimView(head);
    return !head.empty() && (head.back() == letter || head.back() == letter - 'A' + 'a') &&
           (head.size() == 1 || !std::isalpha(static_cast<unsigned char>(head[head.size() - 2])));
  }

  // ---- sections ----

  void Dispatch(std::string_view line) {
    MarkRequired(line);
    if (Key(line, "Mott-Schottky") || Key(line, "Mott Schottky")) {
      MottSchottky(line);
      return;
    }
    if (section_ == Section::kConvergence) {
      if (!EndsConvergence(line)) {
        Convergence(line);
        return;
      }
      Enter(Section::kNone);
    }
    if (Title(line)) return;
    switch (section_) {
      case Section::kContact:
        Contact(line, *contact_);
        break;
      case Section::kLayer:
        Layer(line, cell_.layer[Idx(layer_)]);
        break;
      case Section::kDefect:
        Defect(line, cell_.layer[Idx(layer_)].srh[Idx(defect_)]);
        break;
      case Section::kMeta:
        Meta(line, cell_.layer[Idx(layer_)].meta[Idx(meta_)]);
        break;
      case Section::kInterface:
        Interface(line, cell_.interface[Idx(iface_)]);
        break;
      case Section::kInterfaceDefect:
        InterfaceDefect(line, cell_.interface[Idx(iface_)].ifr[Idx(ifDefect_)]);
        break;
      case Section::kWorkPoint:
        WorkPoint(line);
        break;
      case Section::kConvergence:
      case Section::kNone:
      case Section::kIgnored:
        break;
    }
  }

  static bool IsTitle(std::string_view line) {
    static constexpr const char* kTitles[] = {
        "back contact",     "left contact", "front contact",         "right contact",        "layer",
        "srhrecombination", "next",         "Metastable properties", "interface properties", "interface recombination",
        "working point",    "convergence"};
    for (const char* t : kTitles)
      if (Key(line, t)) return true;
    return false;
  }

  // The convergence section runs up to a contact or layer section (and, for files that name
  // their layers without a "layer" line, up to a line with "name").
  static bool EndsConvergence(std::string_view line) {
    return ContainsNoCase(line, "back contact") || Key(line, "layer") || ContainsNoCase(line, "name") ||
           (IsTitle(line) && !Key(line, "convergence"));
  }

  bool Title(std::string_view line) {
    // The section being left is checked before the indices move on to the next one.
    if (IsTitle(line)) CheckSectionComplete();
    if (Key(line, "back contact") || Key(line, "left contact")) {
      EnterContact(cell_.leftContact);
    } else if (Key(line, "front contact") || Key(line, "right contact")) {
      EnterContact(cell_.rightContact);
    } else if (Key(line, "layer")) {
      if (cell_.numberOfLayers >= MAXLAYERS)
        Fail("a cell holds at most " + std::to_string(MAXLAYERS) + " layers; this is layer section " +
             std::to_string(cell_.numberOfLayers + 1));
      layer_ = cell_.numberOfLayers++;
      Enter(Section::kLayer);
    } else if (Key(line, "srhrecombination")) {
      NewBulkDefect();
    } else if (Key(line, "next")) {
      if (section_ == Section::kInterface || section_ == Section::kInterfaceDefect)
        NewInterfaceDefect();
      else if (layer_ >= 0 &&
               (section_ == Section::kLayer || section_ == Section::kDefect || section_ == Section::kMeta))
        NewBulkDefect();
      else
        Enter(Section::kIgnored);
    } else if (Key(line, "Metastable properties")) {
      if (layer_ < 0) Fail("a metastable transition before the first layer");
      const std::size_t at = ContainsNoCase(line, "transition") ? ToLower(line).find("transition") : 0;
      const std::optional<double> k = FirstNumber(line, at);
      if (!k) Fail("the metastable transition has no number");
      meta_ = IntegerOf(*k, "Metastable properties: transition", 1, MAXMETATRANSITIONS) - 1;
      cell_.layer[Idx(layer_)].meta[Idx(meta_)].switchedOn = 1;
      metaLine_[Idx(layer_)][Idx(meta_)] = lineNumber_;
      Enter(Section::kMeta);
    } else if (Key(line, "interface properties")) {
      EnterInterface();
    } else if (Key(line, "interface recombination")) {
      if (section_ != Section::kInterface && section_ != Section::kInterfaceDefect) EnterInterface();
      NewInterfaceDefect();
    } else if (Key(line, "working point")) {
      Enter(Section::kWorkPoint);
    } else if (Key(line, "convergence")) {
      Enter(Section::kConvergence);
    } else {
      return false;
    }
    return true;
  }

  void Enter(Section s) {
    CheckSectionComplete();
    section_ = s;
    sectionLine_ = lineNumber_;
    seen_ = 0;
    lastProfile_ = nullptr;
    if (s == Section::kContact) (contact_ == &cell_.leftContact ? sawBackContact_ : sawFrontContact_) = true;
    if (s == Section::kLayer) sawFrontContact_ = sawWorkPoint_ = false;  // both must follow the last layer
    if (s == Section::kWorkPoint) sawWorkPoint_ = true;
  }

  // ---- completeness of a file written in the full layout ----

  // The lines every version of this program's writer puts in each section, in the older
  // forms the reader takes too ("v_th", one "absorptionmodel"). A file that says it was saved
  // by ZONIQ but lacks one of them was cut short or cut about, and loading it would leave the
  // missing items silently at their defaults. (A file cut short also ends without its front
  // contact and working point, which the end of the file checks.)
  static std::span<const char* const> RequiredKeys(Section s) {
    static constexpr const char* kContact[] = {"flatband", "Sn", "Sp"};
    static constexpr const char* kLayer[] = {"name", "d",    "eps",  "chi", "Eg", "Nc",
                                             "Nv",   "mu_n", "mu_p", "Na",  "Nd", "absorptionmodel"};
    static constexpr const char* kDefect[] = {"type", "Nt", "sigma_n", "sigma_p", "Et"};
    static constexpr const char* kMeta[] = {"Nt", "DonorDefect", "AcceptorDefect", "initialacceptorconfiguration"};
    static constexpr const char* kInterfaceDefect[] = {"type", "Et", "N"};
    static constexpr const char* kWorkPoint[] = {"illuminated from", "internal Rfront", "internal Tfront"};
    switch (s) {
      case Section::kContact:
        return kContact;
      case Section::kLayer:
        return kLayer;
      case Section::kDefect:
        return kDefect;
      case Section::kMeta:
        return kMeta;
      case Section::kInterfaceDefect:
        return kInterfaceDefect;
      case Section::kWorkPoint:
        return kWorkPoint;
      default:
        return {};
    }
  }

  static bool MatchesRequired(std::string_view line, std::string_view key) {
    if (key == "d") return !line.empty() && line[0] == 'd';
    if (key == "N") return KeyColon(line, "N");
    return Key(line, key);
  }

  void MarkRequired(std::string_view line) {
    if (!fullLayout_) return;
    const std::span<const char* const> keys = RequiredKeys(section_);
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (MatchesRequired(line, keys[i])) seen_ |= 1u << i;
  }

  std::string SectionName() const {
    const auto n = [](int i) { return std::to_string(i + 1); };
    switch (section_) {
      case Section::kContact:
        return contact_ == &cell_.leftContact ? "the back contact" : "the front contact";
      case Section::kLayer:
        return "layer " + n(layer_);
      case Section::kDefect:
        return "defect " + n(defect_) + " of layer " + n(layer_);
      case Section::kMeta:
        return "metastable transition " + n(meta_) + " of layer " + n(layer_);
      case Section::kInterface:
        return "interface " + n(iface_);
      case Section::kInterfaceDefect:
        return "defect " + n(ifDefect_) + " of interface " + n(iface_);
      case Section::kWorkPoint:
        return "the working point";
      default:
        return "the section";
    }
  }

  void CheckSectionComplete() const {
    if (!fullLayout_) return;
    const std::span<const char* const> keys = RequiredKeys(section_);
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (!(seen_ & (1u << i)))
        Fail("the file is incomplete: " + SectionName() + " (from line " + std::to_string(sectionLine_) +
             ") has no \"" + keys[i] + "\" line");
  }

 public:
  // The file says it was saved by this program: hold it to the full layout.
  void RequireFullLayout() { fullLayout_ = true; }

  // At the end of the file: the last section and the sections every saved file has.
  void CheckComplete(long lastLine) {
    if (!fullLayout_) return;
    lineNumber_ = lastLine;
    CheckSectionComplete();
    // (A cell without layers is saved as contacts and working point alone.)
    const char* missing = !sawBackContact_    ? "the back contact"
                          : !sawFrontContact_ ? "the front contact after the last layer"
                          : !sawWorkPoint_    ? "the working point"
                                              : nullptr;
    if (missing) Fail(std::string("the file is incomplete: it ends without ") + missing);
  }

 private:
  void EnterContact(ContactParameters& c) {
    contact_ = &c;
    Enter(Section::kContact);
  }

  void NewBulkDefect() {
    if (layer_ < 0) {
      Enter(Section::kIgnored);
      return;
    }
    LayerParameters& L = cell_.layer[Idx(layer_)];
    if (L.srhteller >= MAXBULKDEFECTS)
      Fail("a layer holds at most " + std::to_string(MAXBULKDEFECTS) + " defects; layer " + std::to_string(layer_ + 1) +
           " has more");
    defect_ = L.srhteller++;
    Enter(Section::kDefect);
  }

  // The interface after the current layer.
  void EnterInterface() {
    if (layer_ < 0) Fail("an interface section before the first layer");
    if (layer_ >= MAXINTERFACES)
      Fail("an interface section after layer " + std::to_string(layer_ + 1) + ", which has no interface after it");
    iface_ = layer_;
    Enter(Section::kInterface);
  }

  void NewInterfaceDefect() {
    InterfaceParameters& I = cell_.interface[Idx(iface_)];
    if (I.numberOfDefects >= MAXIFACEDEFECTS)
      Fail("an interface holds at most " + std::to_string(MAXIFACEDEFECTS) + " defects; interface " +
           std::to_string(iface_ + 1) + " has more");
    ifDefect_ = I.numberOfDefects++;
    Enter(Section::kInterfaceDefect);
  }

  void MottSchottky(std::string_view line) {
    MottSchottkySettings& ms = out_.ms;
    const std::string_view head = Head(line);
    if (head.find('#') != std::string_view::npos)
      ms.sheetNumber = Int(line, "Mott-Schottky analysis epsilon of sheet #", -1, MAXLAYERS);
    else if (ContainsNoCase(head, "side"))
      ms.sheetSide = Int(line, "Mott-Schottky analysis epsilon of sheet side", -1, 1);
    else if (ContainsNoCase(head, "number of points")) {
      ms.numberOfPoints = Int(line, "Mott-Schottky analysis number of points", 3, 5);
      if (ms.numberOfPoints == 4) Fail("the Mott-Schottky analysis takes 3 or 5 points, not 4");
    } else if (ContainsNoCase(head, "polynomial order middle"))
      ms.orderMiddle = Int(line, "Mott-Schottky analysis polynomial order middle", 1, 2);
    else if (ContainsNoCase(head, "polynomial order edges"))
      ms.orderEdges = Int(line, "Mott-Schottky analysis polynomial order edges", 1, 2);
  }

  void Convergence(std::string_view line) {
    ConvergenceParameters& c = out_.set.convergence;
    MeshSettings& mesh = out_.extras.mesh;
    QELightSettings& qe = out_.extras.qe;
    if (Key(line, "clamp_psi"))
      c.clamp_psi = Real(line, "clamp_psi");
    else if (Key(line, "clamp_n"))
      c.clamp_n = Real(line, "clamp_n");
    else if (Key(line, "clamp_meta")) {
      // The clamp moves the configuration shares a fraction of the way to their new values.
      c.clamp_meta = Real(line, "clamp_meta");
      if (!(c.clamp_meta > 0.0 && c.clamp_meta <= 1.0))
        Fail("\"clamp_meta\" is " + num(c.clamp_meta) + ", not a fraction above 0 and at most 1");
    } else if (Key(line, "clamp_p"))
      c.clamp_p = Real(line, "clamp_p");
    else if (Key(line, "termination_psi"))
      c.termination_psi = Real(line, "termination_psi");
    else if (Key(line, "termination_Fn"))
      c.termination_Fn = Real(line, "termination_Fn");
    else if (Key(line, "termination_Fp"))
      c.termination_Fp = Real(line, "termination_Fp");
    else if (Key(line, "termination_Meta_full")) {
      c.termination_Meta_full = Real(line, "termination_Meta_full");
      if (!(c.termination_Meta_full > 0.0))
        Fail("\"termination_Meta_full\" is " + num(c.termination_Meta_full) + ", not a positive tolerance");
    } else if (Key(line, "maxmetaiter_full"))
      c.maxmetaiter_full = Int(line, "maxmetaiter_full", 0, 10000000);
    else if (Key(line, "usemetaclamping"))
      c.usemetaclamping = Flag(line, "usemetaclamping");
    else if (Key(line, "maxiter"))
      c.maxiter = Int(line, "maxiter", 0, 10000000);
    else if (Key(line, "defectdiscretisations"))
      c.defectdiscretisations = Int(line, "defectdiscretisations", 1, 10000);
    else if (Key(line, "TunnelMassChoice"))
      c.TunnelMassChoice = Int(line, "TunnelMassChoice", 0, 99);
    else if (Key(line, "widthtail"))
      c.widthtail = Real(line, "widthtail");
    else if (Key(line, "widthgauss"))
      c.widthgauss = Real(line, "widthgauss");
    else if (Key(line, "coupled Newton fallback"))
      c.coupledNewtonFallback = Flag(line, "coupled Newton fallback");
    else if (Key(line, "acceptance step"))
      c.acceptance_step = Real(line, "acceptance step");
    else if (Key(line, "acceptance current"))
      c.acceptance_current = Real(line, "acceptance current");
    else if (Key(line, "minimum bias step"))
      c.minimum_bias_step = Real(line, "minimum bias step");
    else if (Key(line, "recovery log"))
      c.recoveryLog = Int(line, "recovery log", 0, 2);
    else if (Key(line, "QE calculation mode"))
      qe.mode = Flag(line, "QE calculation mode");
    else if (Key(line, "number of photons"))
      qe.numberOfPhotons = Real(line, "number of photons");
    else if (Key(line, "incident power"))
      qe.incidentPower = Real(line, "incident power");
    else if (Key(line, "recalculate mesh"))
      mesh.recalculateMesh = Flag(line, "recalculate mesh");
    else if (Key(line, "maximum ratio between neighbouring points"))
      mesh.maxRatio = Real(line, "maximum ratio");
    else if (Key(line, "minimum ratio between neighbouring points"))
      mesh.minRatio = Real(line, "minimum ratio");
    else if (Key(line, "generation limit"))
      mesh.generationLimit = Real(line, "generation limit");
    else if (Key(line, "recombination limit"))
      mesh.recombinationLimit = Real(line, "recombination limit");
  }

  void Contact(std::string_view line, ContactParameters& c) {
    if (Key(line, "flatband"))
      c.flatband = Flag(line, "flatband");
    else if (Key(line, "recalculate"))
      c.recalculate = Flag(line, "recalculate");
    else if (Key(line, "Fi_m"))
      c.Fi_m = FixedReal(line, "Fi_m");
    else if (Key(line, "Sn"))
      c.Sn = Real(line, "Sn");
    else if (Key(line, "Sp"))
      c.Sp = Real(line, "Sp");
    else if (Key(line, "Tunneling to contact"))
      c.tunneling = Flag(line, "Tunneling to contact");
    else if (Key(line, "Relative electron mass"))
      c.me_rel = Real(line, "Relative electron mass");
    else if (Key(line, "Relative hole mass"))
      c.mh_rel = Real(line, "Relative hole mass");
    else if (Key(line, "optical filter")) {
      const std::string v = AfterColon(line);
      if (StartsWithNoCase(v, "transmission"))
        c.filterKind = 1;
      else if (StartsWithNoCase(v, "reflection"))
        c.filterKind = 0;
      else
        Fail("the optical filter is \"" + v + "\", neither \"transmission\" nor \"reflection\"");
      c.filterOn = 1;
    } else if (Key(line, "wavelength independent"))
      c.wavelengthIndependent = Flag(line, "wavelength independent");
    else if (Key(line, "filterfile"))
      c.filterFile = Text(line, MAXFILENAME - 1);
    else if (Key(line, "filter value"))
      c.filterValue = Real(line, "filter value");
  }

  int AbsorptionModel(std::string_view line) {
    const std::string v = AfterColon(line);
    if (StartsWithNoCase(v, "coefficients")) return ABS_MODEL_AB;
    if (StartsWithNoCase(v, "from file")) return ABS_MODEL_FILE;
    Fail("the absorption model is \"" + v + "\", neither \"coefficients A and B\" nor \"from file\"");
  }

  void Layer(std::string_view line, LayerParameters& L) {
    if (Key(line, "name")) {
      L.name = Text(line, MAXLAYERNAME);
      return;
    }
    if (!line.empty() && line[0] == 'd') {
      const double d = Real(line, "d");
      if (!(d > 0.0)) Fail("the thickness of layer " + std::to_string(layer_ + 1) + " must be larger than zero");
      L.d = d;
      return;
    }
    const std::string_view head = Head(line);
    if (Key(line, "Tunneling in layer"))
      L.tunneling = Flag(line, "Tunneling in layer");
    else if (Key(line, "Relative electron mass"))
      Graded(line, "Relative electron mass", L.me_rel);
    else if (Key(line, "Relative hole mass"))
      Graded(line, "Relative hole mass", L.mh_rel);
    else if (Key(line, "composition grading")) {
      Graded(line, "composition grading", L.composition, kDefMaxFixedMagnitude);
      L.compositionMode = L.composition.law == LAW_UNIFORM_B ? 20 : L.composition.law == LAW_UNIFORM_Y ? 21 : 0;
    } else if (Key(line, "v_th_n"))
      Graded(line, "v_th_n", L.v_th_n);
    else if (Key(line, "v_th_p"))
      Graded(line, "v_th_p", L.v_th_p);
    else if (Key(line, "v_th")) {
      Graded(line, "v_th", L.v_th_n);
      L.v_th_p = L.v_th_n;
    } else if (Key(line, "eps"))
      Graded(line, "eps", L.eps, kDefMaxFixedMagnitude);
    else if (Key(line, "chi"))
      Graded(line, "chi", L.chi, kDefMaxFixedMagnitude);
    else if (Key(line, "Eg"))
      Graded(line, "Eg", L.Eg, kDefMaxFixedMagnitude);
    else if (Key(line, "Nc"))
      Graded(line, "Nc", L.Nc);
    else if (Key(line, "Nv"))
      Graded(line, "Nv", L.Nv);
    else if (Key(line, "mu_n"))
      Graded(line, "mu_n", L.mu_n);
    else if (Key(line, "mu_p"))
      Graded(line, "mu_p", L.mu_p);
    else if (Key(line, "K_rad"))
      Graded(line, "K_rad", L.K_rad);
    else if (Key(line, "c_n_auger"))
      Graded(line, "c_n_auger", L.c_n_auger);
    else if (Key(line, "c_p_auger"))
      Graded(line, "c_p_auger", L.c_p_auger);
    else if (Key(line, "Na"))
      Graded(line, "Na", L.Na);
    else if (Key(line, "Nd"))
      Graded(line, "Nd", L.Nd);
    else if (Key(line, "absorption grading"))
      Graded(line, "absorption grading", L.absorption, kDefMaxFixedMagnitude);
    else if (Key(line, "Grading file"))
      GradingFile(line);
    else if (Key(line, "absorptionmodel pure A"))
      L.absorptionModel[0] = AbsorptionModel(line);
    else if (Key(line, "absorptionfile pure A"))
      L.absorptionFile[0] = Text(line, MAXFILENAME - 1);
    else if (Key(line, "absorption pure B material") && ContainsNoCase(head, "model"))
      L.absorptionModel[1] = AbsorptionModel(line);
    else if (Key(line, "absorption pure B material") && ContainsNoCase(head, "file"))
      L.absorptionFile[1] = Text(line, MAXFILENAME - 1);
    else if (Key(line, "pure B material") && LastLetterIs(head, 'A'))
      L.A[1] = Real(line, "pure B material (y=1), A");
    else if (Key(line, "pure B material") && LastLetterIs(head, 'B'))
      L.B[1] = Real(line, "pure B material (y=1), B");
    else if (Key(line, "absorptionmodel")) {  // older files: one model for both materials
      L.absorptionModel[0] = L.absorptionModel[1] = AbsorptionModel(line);
    } else if (Key(line, "absorptionfile")) {
      L.absorptionFile[0] = L.absorptionFile[1] = Text(line, MAXFILENAME - 1);
    } else if (KeyColon(line, "A"))
      L.A[0] = Real(line, "A");
    else if (KeyColon(line, "B"))
      L.B[0] = Real(line, "B");
  }

  void GradingFile(std::string_view line) {
    if (lastProfile_) lastProfile_->gradingFile = Text(line, MAXFILENAME - 1);
  }

  void Defect(std::string_view line, std::array<BulkRecombinationParameters, MAXLEVELS>& levels) {
    BulkRecombinationParameters& D = levels[0];
    if (Key(line, "type")) {
      const std::string v = AfterColon(line);
      const int type = MatchText(v, kDefectTypeText);
      if (type < 0) Fail("unknown defect type \"" + v + "\"");
      D.type = type;
      const std::size_t open = v.find('(');
      if (open != std::string::npos) {
        const std::optional<double> n = FirstNumber(v, open + 1);
        if (!n) Fail("the number of levels of the defect is missing");
        D.numberOfLevels = IntegerOf(*n, "number of levels", 1, MAXLEVELS);
      }
    } else if (Key(line, "energy distribution")) {
      D.distribution = Distribution(line);
    } else if (Key(line, "tailtype")) {
      const std::string v = AfterColon(line);
      if (ContainsNoCase(v, "valenceband"))
        D.distribution = ED_VBTAIL;
      else if (ContainsNoCase(v, "conductionband"))
        D.distribution = ED_CBTAIL;
      else
        Fail("unknown tail type \"" + v + "\"");
    } else if (Key(line, "Reference for defect energy")) {
      D.reference = Int(line, "Reference for defect energy", 0, 2);
    } else if (Key(line, "Ekar")) {
      D.Ekar = FixedReal(line, "Ekar");
    } else if (Key(line, "Ecor")) {  // older files
      D.Ecor = FixedReal(line, "Ecor");
      if (D.Ecor != 0.0) D.correlationFlag = 1;
    } else if (Key(line, "Correlation energy")) {
      D.Ecor = FixedReal(line, "Correlation energy");
      D.correlationFlag = 1;
    } else if (Key(line, "degeneracy factors equal one")) {
      D.degeneracyFlag = 1;
    } else if (Key(line, "Nt")) {
      Graded(line, "Nt", D.Nt);
    } else if (Key(line, "Grading file")) {
      GradingFile(line);
    } else if (Key(line, "profile")) {
      const std::string v = AfterColon(line);
      int p = MatchText(v, kSpatialText);
      if (p < 0) p = MatchText(v, kSpatialShownText);
      if (p < 0) Fail("unknown spatial profile \"" + v + "\"");
      D.spatialProfile = p;
    } else if (Key(line, "Lkar")) {
      D.Lkar = Real(line, "Lkar");
    } else if (Key(line, "Nleft")) {
      D.Nleft = Real(line, "Nleft");
    } else if (Key(line, "Nright")) {
      D.Nright = Real(line, "Nright");
    } else if (Key(line, "leveltype")) {
      LevelTypes(line, levels);
    } else if (Key(line, "sigma_n_opt")) {
      D.sigma_n_opt = Real(line, "sigma_n_opt");
    } else if (Key(line, "sigma_p_opt")) {
      D.sigma_p_opt = Real(line, "sigma_p_opt");
    } else if (Key(line, "sigma_n_plus")) {
      D.sigma_n_plus = Real(line, "sigma_n_plus");
    } else if (Key(line, "sigma_n_zero")) {
      D.sigma_n_zero = Real(line, "sigma_n_zero");
    } else if (Key(line, "sigma_p_zero")) {
      D.sigma_p_zero = Real(line, "sigma_p_zero");
    } else if (Key(line, "sigma_p_min")) {
      D.sigma_p_min = Real(line, "sigma_p_min");
    } else if (Key(line, "sigma_n")) {
      PerLevel(line, "sigma_n", levels, kDefMaxMagnitude,
               [](BulkRecombinationParameters& l, double v) { l.sigma_n = v; });
    } else if (Key(line, "sigma_p")) {
      PerLevel(line, "sigma_p", levels, kDefMaxMagnitude,
               [](BulkRecombinationParameters& l, double v) { l.sigma_p = v; });
    } else if (Key(line, "Et")) {
      PerLevel(line, "Et", levels, kDefMaxFixedMagnitude, [](BulkRecombinationParameters& l, double v) { l.Et = v; });
    } else if (Key(line, "optical capture data")) {
      OpticalCaptureData(line, levels);
    } else if (Key(line, "optical capture of")) {
      OpticalCaptureModel(line, levels);
    }
  }

  int Distribution(std::string_view line) {
    const std::string v = AfterColon(line);
    const int d = MatchText(v, kDistributionText);
    if (d < 0) Fail("unknown energy distribution \"" + v + "\"");
    return d;
  }

  template <class Setter>
  void PerLevel(std::string_view line, std::string_view key, std::array<BulkRecombinationParameters, MAXLEVELS>& levels,
                double maxMagnitude, Setter set) {
    const int n = levels[0].numberOfLevels;
    const std::vector<double> v = Numbers(line, key, static_cast<std::size_t>(n), maxMagnitude);
    for (std::size_t k = 0; k < v.size(); ++k) set(levels[k], v[k]);
  }

  void LevelTypes(std::string_view line, std::array<BulkRecombinationParameters, MAXLEVELS>& levels) {
    const std::size_t start = ValueStart(line, std::string_view("leveltype").size());
    std::string_view rest = line.substr(start);
    int k = 0;
    while (k < levels[0].numberOfLevels) {
      while (!rest.empty() && IsSpaceOrTab(rest.front())) rest.remove_prefix(1);
      if (rest.empty()) break;
      std::size_t end = 0;
      while (end < rest.size() && !IsSpaceOrTab(rest[end])) ++end;
      const std::string_view token = rest.substr(0, end);
      rest.remove_prefix(end);
      int type = -1;
      for (int t = 0; t < NDEFLEVTYPE; ++t)
        if (EqualsNoCase(token, kLevelTypeText[Idx(t)])) type = t;
      if (type < 0) {
        // Some files give the level type as its number.
        double v = 0;
        bool finite = true;
        if (ScanNumberAt(token, v, finite) == token.size() && finite && v == std::trunc(v)) {
          if (v < 0 || v >= NDEFLEVTYPE)
            Fail("level type " + num(v) + " of level " + std::to_string(k + 1) + " is not a level type (there are " +
                 std::to_string(NDEFLEVTYPE) + ", numbered from 0)");
          type = static_cast<int>(v);
        } else {
          Fail("unknown level type \"" + std::string(token) + "\" of level " + std::to_string(k + 1));
        }
      }
      levels[Idx(k)].aard = type;
      ++k;
    }
    if (k == 0) Fail("\"leveltype\" names no level type");
  }

  static OpticalCaptureProperties& Carrier(BulkRecombinationParameters& level, bool electrons) {
    return electrons ? level.optElectrons : level.optHoles;
  }

  // "optical capture data (carrier): file" (level 1 from a file) or
  // "optical capture data [carrier]: level k, file|none".
  void OpticalCaptureData(std::string_view line, std::array<BulkRecombinationParameters, MAXLEVELS>& levels) {
    std::string_view rest = line.substr(std::string_view("optical capture data").size());
    while (!rest.empty() && IsSpaceOrTab(rest.front())) rest.remove_prefix(1);
    if (rest.empty() || (rest.front() != '(' && rest.front() != '[')) return;
    const bool bracketForm = rest.front() == '[';
    rest.remove_prefix(1);
    bool electrons;
    if (StartsWithNoCase(rest, "electron"))
      electrons = true;
    else if (StartsWithNoCase(rest, "hole"))
      electrons = false;
    else
      return;
    const std::string value = AfterColon(line);
    if (!bracketForm) {
      OpticalCaptureProperties& o = Carrier(levels[0], electrons);
      o.fromFile = 1;
      o.file = Truncated(value, MAXFILENAME - 1);
      return;
    }
    if (!StartsWithNoCase(value, "level")) Fail("the optical capture data line names no level");
    const std::optional<double> k = FirstNumber(value, 5);
    if (!k) Fail("the optical capture data line names no level");
    const int level = IntegerOf(*k, "optical capture data level", 1, MAXLEVELS) - 1;
    const std::size_t comma = value.find(',');
    const std::string name =
        comma == std::string::npos ? std::string() : Trim(std::string_view(value).substr(comma + 1));
    OpticalCaptureProperties& o = Carrier(levels[Idx(level)], electrons);
    if (name.empty() || EqualsNoCase(name, "none")) {
      o.fromFile = 0;
    } else {
      o.fromFile = 1;
      o.file = Truncated(name, MAXFILENAME - 1);
    }
  }

  // "optical capture of carrier, <item>: " and one value per level.
  void OpticalCaptureModel(std::string_view line, std::array<BulkRecombinationParameters, MAXLEVELS>& levels) {
    std::string_view rest = line.substr(std::string_view("optical capture of").size());
    while (!rest.empty() && IsSpaceOrTab(rest.front())) rest.remove_prefix(1);
    bool electrons;
    if (StartsWithNoCase(rest, "electron"))
      electrons = true;
    else if (StartsWithNoCase(rest, "hole"))
      electrons = false;
    else
      return;
    const std::string head = TrimRight(Head(line));
    const int n = levels[0].numberOfLevels;
    auto values = [&](std::string_view key) {
      return Numbers(line, key, static_cast<std::size_t>(n), kDefMaxFixedMagnitude);
    };
    if (ContainsNoCase(head, "data from model")) {
      const std::vector<double> v = values("optical capture, data from model");
      for (std::size_t k = 0; k < v.size(); ++k)
        Carrier(levels[k], electrons).fromModel = IntegerOf(v[k], "optical capture, data from model", 0, 1);
    } else if (ContainsNoCase(head, "m*/m0")) {
      const std::vector<double> v = values("optical capture, m*/m0");
      for (std::size_t k = 0; k < v.size(); ++k) Carrier(levels[k], electrons).massRatio = v[k];
    } else if (ContainsNoCase(head, "Eeff/E0")) {
      const std::vector<double> v = values("optical capture, Eeff/E0");
      for (std::size_t k = 0; k < v.size(); ++k) Carrier(levels[k], electrons).EeffE0 = v[k];
    } else if (ContainsNoCase(head, "Emax")) {
      const std::vector<double> v = values("optical capture, Emax");
      for (std::size_t k = 0; k < v.size(); ++k) Carrier(levels[k], electrons).Emax = v[k];
    } else if (head.size() >= 3 && EqualsNoCase(std::string_view(head).substr(head.size() - 3), ", n")) {
      const std::vector<double> v = values("optical capture, n");
      for (std::size_t k = 0; k < v.size(); ++k) Carrier(levels[k], electrons).n = v[k];
    }
  }

  void Meta(std::string_view line, MetaStableDefectParameters& m) {
    if (Key(line, "Nt"))
      Graded(line, "Nt", m.Nt);
    else if (Key(line, "Grading file"))
      GradingFile(line);
    else if (Key(line, "DonorDefect"))
      m.donorDefect = Int(line, "DonorDefect", -1, MAXBULKDEFECTS - 1);
    else if (Key(line, "AcceptorDefect"))
      m.acceptorDefect = Int(line, "AcceptorDefect", -1, MAXBULKDEFECTS - 1);
    else if (Key(line, "Donor charge state"))
      m.donorChargeState = Int(line, "Donor charge state", 0, NCHARGESTATES - 1);
    else if (Key(line, "Phonon frequency")) {
      m.phononFrequency = Real(line, "Phonon frequency");
      if (!(m.phononFrequency > 0.0)) Fail("the phonon frequency " + num(m.phononFrequency) + " is not positive");
    } else if (Key(line, "Metastability type"))
      m.metastabilityType = Int(line, "Metastability type", 0, 99);
    else if (Key(line, "Electron process"))
      m.electronProcess = Flag(line, "Electron process");
    else if (Key(line, "Hole process"))
      m.holeProcess = Flag(line, "Hole process");
    else if (Key(line, "UserDefined Activation Energies")) {
      const std::vector<double> v = Numbers(line, "UserDefined Activation Energies", 5, kDefMaxMagnitude);
      for (std::size_t k = 0; k < v.size(); ++k)
        m.givenEact[k] = static_cast<unsigned char>(IntegerOf(v[k], "UserDefined Activation Energies", 0, 1));
    } else if (Key(line, "sigma_acc_n"))
      m.sigma_acc_n = Real(line, "sigma_acc_n");
    else if (Key(line, "sigma_acc_p"))
      m.sigma_acc_p = Real(line, "sigma_acc_p");
    else if (Key(line, "sigma_don_n"))
      m.sigma_don_n = Real(line, "sigma_don_n");
    else if (Key(line, "sigma_don_p"))
      m.sigma_don_p = Real(line, "sigma_don_p");
    else if (Key(line, "Eact_EE"))
      m.Eact_EE = FixedReal(line, "Eact_EE");
    else if (Key(line, "Eact_HC"))
      m.Eact_HC = FixedReal(line, "Eact_HC");
    else if (Key(line, "Eact_EC"))
      m.Eact_EC = FixedReal(line, "Eact_EC");
    else if (Key(line, "Eact_HE"))
      m.Eact_HE = FixedReal(line, "Eact_HE");
    else if (Key(line, "Eact_TR"))
      m.Eact_TR = FixedReal(line, "Eact_TR");
    else if (Key(line, "Reference for transition energy"))
      m.reference = Int(line, "Reference for transition energy", 0, 2);
    else if (Key(line, "initialacceptorconfiguration")) {
      const double f = Real(line, "initialacceptorconfiguration");
      if (f < 0.0 || f > 1.0) Fail("the initial acceptor configuration " + num(f) + " is not a share between 0 and 1");
      m.initialAcceptorConfiguration = f;
    }
  }

  void Interface(std::string_view line, InterfaceParameters& I) {
    if (Key(line, "interfacename"))
      I.interfacename = Text(line, MAXIFACENAME);
    else if (Key(line, "Intraband tunneling"))
      I.intrabandTunneling = Flag(line, "Intraband tunneling");
    else if (Key(line, "Relative electron mass"))
      I.me_rel = FixedReal(line, "Relative electron mass");
    else if (Key(line, "Relative hole mass"))
      I.mh_rel = FixedReal(line, "Relative hole mass");
  }

  void InterfaceDefect(std::string_view line, InterfaceRecombinationParameters& D) {
    if (Key(line, "type")) {
      const std::string v = AfterColon(line);
      const int type = MatchText(v, kDefectTypeText);
      if (type < 0) Fail("unknown interface defect type \"" + v + "\"");
      D.type = type;
    } else if (Key(line, "sigma_nleft"))
      D.sigma_nleft = Real(line, "sigma_nleft");
    else if (Key(line, "sigma_nright"))
      D.sigma_nright = Real(line, "sigma_nright");
    else if (Key(line, "sigma_pleft"))
      D.sigma_pleft = Real(line, "sigma_pleft");
    else if (Key(line, "sigma_pright"))
      D.sigma_pright = Real(line, "sigma_pright");
    else if (Key(line, "Tunneling to trap"))
      D.tunneling = Flag(line, "Tunneling to trap");
    else if (Key(line, "Relative electron mass"))
      D.me_rel = FixedReal(line, "Relative electron mass");
    else if (Key(line, "Relative hole mass"))
      D.mh_rel = FixedReal(line, "Relative hole mass");
    else if (Key(line, "energy distribution"))
      D.distribution = Distribution(line);
    else if (Key(line, "Reference for defect energy"))
      D.reference = Int(line, "Reference for defect energy", 3, 7);
    else if (Key(line, "Et"))
      D.Et = FixedReal(line, "Et");
    else if (Key(line, "Ekar"))
      D.Ekar = FixedReal(line, "Ekar");
    else if (KeyColon(line, "N"))
      D.N = Real(line, "N");
  }

  void WorkPoint(std::string_view line) {
    DefinitionWorkPointItems& wp = out_.extras.workPoint;
    if (Key(line, "illuminated from"))
      wp.illuminatedFromRight = ContainsNoCase(AfterColon(line), "left") ? 0 : 1;
    else if (Key(line, "internal Rfront"))
      wp.Rfront = FixedReal(line, "internal Rfront");
    else if (Key(line, "internal Tfront"))
      wp.Tfront = Real(line, "internal Tfront");
    else if (Key(line, "Series resistance"))
      wp.RsPresent = Flag(line, "Series resistance");
    else if (Key(line, "Rs"))
      wp.Rs = Real(line, "Rs");
    else if (Key(line, "Shunt conductance"))
      wp.GshPresent = Flag(line, "Shunt conductance");
    else if (Key(line, "Gsh"))
      wp.Gsh = Real(line, "Gsh");
  }

  ParsedFile& out_;
  CellDefinition& cell_;
  Section section_ = Section::kNone;
  long lineNumber_ = 0;
  ContactParameters* contact_ = nullptr;
  int layer_ = -1;
  int defect_ = -1;
  int meta_ = -1;
  std::array<std::array<long, MAXMETATRANSITIONS>, MAXLAYERS> metaLine_{};  // where each transition began
  int iface_ = -1;
  int ifDefect_ = -1;
  Profile* lastProfile_ = nullptr;
  bool fullLayout_ = false;
  long sectionLine_ = 0;
  std::uint32_t seen_ = 0;  // required keys of the current section met so far
  bool sawBackContact_ = false, sawFrontContact_ = false, sawWorkPoint_ = false;
};

// Reads an open definition file into `out` (which holds the defaults). `quiet`: no remarks.
int ParseDefinitionFile(const Environment& env, std::FILE* file, const std::string& path, ParsedFile& out, bool quiet) {
  LineReader reader(file, kDefLineLength);
  std::string line;
  std::vector<std::string>* remarks = quiet ? nullptr : &out.extras.remarks;
  // The comment lines before the first item hold the header of a file this program saved.
  std::vector<std::string> head;
  int r = ReadNonEmptyNonCommentLine(env, reader, line, &head, false, true, true);
  if (r < 0) return r;
  Parser parser(out);
  bool saved = false;
  for (const std::string& h : head) saved = saved || ContainsNoCase(h, "last saved by ZONIQ");
  if (saved) parser.RequireFullLayout();
  if (remarks) remarks->insert(remarks->end(), head.begin(), head.end());
  try {
    parser.First(line, reader.lineNumber());
    for (;;) {
      r = ReadNonEmptyNonCommentLine(env, reader, line, remarks, quiet, true, false);
      if (r == -2) break;
      if (r < 0) return r;
      parser.Line(line, reader.lineNumber());
    }
    parser.CheckComplete(reader.lineNumber());
    parser.Finish();
  } catch (const Reject& e) {
    env.Error(kDefRejectTitle, "The def-file '" + FileNamePart(path) + "' cannot be read, " + e.message +
                                   ".\nThe cell definition is left as it was.");
    return -1;
  }
  return 0;
}

void InitialiseParsedFile(ParsedFile& p) {
  InitialiseInputParameters(p.set, p.ms);
  p.extras = DefinitionExtras{};
  p.extras.mottSchottky = p.ms;
}

// ---------------------------------------------------------------------------------------------
// The writer
// ---------------------------------------------------------------------------------------------

void WriteContact(std::string& o, const ContactParameters& c, bool left) {
  o += "flatband : " + intw(c.flatband, 1) + " (1: flatband contact imposed; 0: fixed Phi_m value)\n";
  o += "recalculate : " + intw(c.recalculate, 1) +
       " (1 = do or 0 = do not recalculate phi_m to set flatband in each batch step)\n";
  // Both contacts with four decimals: a work function is often given to the meV, and two
  // decimals would move the front contact's on every save.
  if (c.flatband == 0) o += "Fi_m : " + fix(c.Fi_m, 8, 4) + " [eV]\n";
  o += "Sn : " + (left ? sci(c.Sn, 10, 3) : sci(c.Sn, 9, 3)) + " [m/s]\n";
  o += "Sp : " + (left ? sci(c.Sp, 10, 3) : sci(c.Sp, 9, 3)) + " [m/s]\n";
  o += "Tunneling to contact: " + intw(c.tunneling) + "\n";
  o += "Relative electron mass : " + sci(c.me_rel, 12, 4) + "\n";
  o += "Relative hole mass : " + sci(c.mh_rel, 12, 4) + "\n";
  if (c.filterOn) {
    o += std::string("optical filter : ") + (c.filterKind == 0 ? "reflection" : "transmission") + "\n";
    o += "wavelength independent: " + intw(c.wavelengthIndependent) + "\n";
    if (c.wavelengthIndependent == 0)
      o += "filterfile : " + FileNamePart(c.filterFile) + "\n";
    else
      o += "filter value: " + sci(c.filterValue, 14, 8) + "\n";
  }
}

void WriteBulkDefect(std::string& o, const std::array<BulkRecombinationParameters, MAXLEVELS>& levels, bool first) {
  const BulkRecombinationParameters& D = levels[0];
  const int n = std::clamp(D.numberOfLevels, 1, MAXLEVELS);
  o += first ? "srhrecombination\n\n" : "next\n\n";
  o += std::string("type : ") + TextOf(kDefectTypeText, D.type) + " (" + intw(n, 2) + " level(s) )\n";
  o += std::string("energy distribution : ") + TextOf(kDistributionText, D.distribution) + "\n";
  o += "Reference for defect energy : " + intw(D.reference, 2) +
       " ; 0 = above EV (ZONIQ<2.7); 1 = above Ei; 2 = below EC\n";
  o += "Ekar : " + fix(D.Ekar, 7, 4) + " [eV]\n";
  if (D.correlationFlag) o += "Correlation energy : " + fix(D.Ecor, 7, 3) + " [eV]\n";
  if (D.degeneracyFlag) o += "degeneracy factors equal one\n";
  o += ProfileToOutputLine(DependenceName("Nt", D.Nt.dependence), D.Nt, Sci(13, 6), "[/m^3]");
  o += std::string("profile : ") + TextOf(kSpatialText, D.spatialProfile) + "\n";
  o += "Lkar : " + sci(D.Lkar, 9, 3) + " [m]\n";
  const char* densityUnit = D.distribution == ED_SINGLE ? " [/m^3]" : " [/m^3 eV]";
  o += "Nleft : " + sci(D.Nleft, 9, 3) + densityUnit + "\n";
  o += "Nright : " + sci(D.Nright, 9, 3) + densityUnit + "\n";
  o += "leveltype :";
  for (int k = 0; k < n; ++k) o += std::string(TextOf(kLevelTypeText, levels[static_cast<std::size_t>(k)].aard)) + "\t";
  o += "\n";
  double v[MAXLEVELS];
  for (int k = 0; k < n; ++k) v[k] = levels[static_cast<std::size_t>(k)].sigma_n;
  o += "sigma_n : " + PrintNumbers(v, n, Sci(9, 3)) + "[m^2]\n";
  for (int k = 0; k < n; ++k) v[k] = levels[static_cast<std::size_t>(k)].sigma_p;
  o += "sigma_p :" + PrintNumbers(v, n, Sci(9, 3)) + "[m^2]\n";
  for (int k = 0; k < n; ++k) v[k] = levels[static_cast<std::size_t>(k)].Et;
  o += "Et :" + PrintNumbers(v, n, Fix(7, 3)) + "[eV]\n";
  o += PrintOptCapt("electrons", levels, n);
  o += PrintOptCapt("holes", levels, n);
  o += "\n";
}

void WriteMeta(std::string& o, const MetaStableDefectParameters& m, int k) {
  o += "Metastable properties: transition " + intw(k + 1) + "\n\n";
  o += ProfileToOutputLine(m.Nt.dependence == DEP_POSITION ? "Nt(x)" : "Nt(y)", m.Nt, Sci(10, 3), "[1/m3]");
  o += "DonorDefect : " + intw(m.donorDefect, 2) + "\n";
  o += "AcceptorDefect : " + intw(m.acceptorDefect, 2) + "\n";
  o += "Donor charge state : " + intw(m.donorChargeState, 2) + "\n";
  o += "Phonon frequency : " + sci(m.phononFrequency, 9, 3) + " [Hz]\n";
  o += "Metastability type : " + intw(m.metastabilityType, 2) + "\n";
  o += "Electron process : " + intw(m.electronProcess, 2) + "\n";
  o += "Hole process : " + intw(m.holeProcess, 2) + "\n";
  o += "UserDefined Activation Energies :";
  for (unsigned char g : m.givenEact) o += intw(g) + "\t";
  o += "\n";
  o += "sigma_acc_n : " + sci(m.sigma_acc_n, 9, 3) + " [m^2]\n";
  o += "sigma_acc_p : " + sci(m.sigma_acc_p, 9, 3) + " [m^2]\n";
  o += "sigma_don_n : " + sci(m.sigma_don_n, 9, 3) + " [m^2]\n";
  o += "sigma_don_p : " + sci(m.sigma_don_p, 9, 3) + " [m^2]\n";
  o += "Eact_EE : " + fix(m.Eact_EE, 7, 3) + " [eV]\n";
  o += "Eact_HC : " + fix(m.Eact_HC, 7, 3) + " [eV]\n";
  o += "Eact_EC : " + fix(m.Eact_EC, 7, 3) + " [eV]\n";
  o += "Eact_HE : " + fix(m.Eact_HE, 7, 3) + " [eV]\n";
  o += "Eact_TR : " + fix(m.Eact_TR, 7, 3) + " [eV]\n";
  o += "Reference for transition energy : " + intw(m.reference, 2) +
       " ; 0 = above EV (ZONIQ<2.7); 1 = above Ei; 2 = below EC\n";
  o += "initialacceptorconfiguration :  " + sci(m.initialAcceptorConfiguration, 9, 2) + "\n";
  o += "\n";
}

void WriteLayer(std::string& o, const LayerParameters& L) {
  o += "layer\n\n";
  o += "name : " + L.name + "\n";
  o += "d : " + sci(L.d, 9, 3) + " [m]\n";
  o += "Tunneling in layer: " + intw(L.tunneling) + "\n";
  o += ProfileToOutputLine("Relative electron mass", L.me_rel, Sci(12, 4), "[-]");
  o += ProfileToOutputLine("Relative hole mass", L.mh_rel, Sci(12, 4), "[-]");
  o += ProfileToOutputLine("composition grading", L.composition, Fix(9, 5), "[-]");
  o += ProfileToOutputLine("v_th_n", L.v_th_n, Sci(10, 3), "[m/s]");
  o += ProfileToOutputLine("v_th_p", L.v_th_p, Sci(10, 3), "[m/s]");
  o += ProfileToOutputLine("eps", L.eps, Fix(13, 6), "[-]");
  o += ProfileToOutputLine("chi", L.chi, Fix(10, 6), "[eV]");
  o += ProfileToOutputLine("Eg", L.Eg, Fix(10, 6), "[eV]");
  o += ProfileToOutputLine("Nc", L.Nc, Sci(13, 6), "[/m^3]");
  o += ProfileToOutputLine("Nv", L.Nv, Sci(13, 6), "[/m^3]");
  o += ProfileToOutputLine("mu_n", L.mu_n, Sci(13, 6), "[m^2/Vs]");
  o += ProfileToOutputLine("mu_p", L.mu_p, Sci(13, 6), "[m^2/Vs]");
  o += ProfileToOutputLine("K_rad", L.K_rad, Sci(13, 6), "[m^3/s]");
  o += ProfileToOutputLine("c_n_auger", L.c_n_auger, Sci(13, 6), "[m^6/s]");
  o += ProfileToOutputLine("c_p_auger", L.c_p_auger, Sci(13, 6), "[m^6/s]");
  o += ProfileToOutputLine(DependenceName("Na", L.Na.dependence), L.Na, Sci(13, 6), "[/m^3]");
  o += ProfileToOutputLine(DependenceName("Nd", L.Nd.dependence), L.Nd, Sci(13, 6), "[/m^3]");
  o += ProfileToOutputLine("absorption grading", L.absorption, Fix(8, 2), "[nm]");
  if (L.absorptionModel[0] == ABS_MODEL_FILE) {
    o += "absorptionmodel pure A material (y=0) : from file\n";
    o += "absorptionfile pure A material (y=0) : " + L.absorptionFile[0] + "\n";
  } else {
    o += "absorptionmodel pure A material (y=0) : coefficients A and B\n";
    o += "A : " + sci(L.A[0], 9, 3) + " [/(m*sqrt(eV))]\n";
    o += "B : " + sci(L.B[0], 9, 3) + " [sqrt(eV)/m]\n";
  }
  if (L.absorptionModel[1] == ABS_MODEL_FILE) {
    o += "absorption pure B material (y=1), model : from file\n";
    o += "absorption pure B material (y=1), file : " + L.absorptionFile[1] + "\n";
  } else {
    o += "absorption pure B material (y=1), model : coefficients A and B\n";
    o += "pure B material (y=1), A : " + sci(L.A[1], 9, 3) + " [/(m*sqrt(eV))]\n";
    o += "pure B material (y=1), B : " + sci(L.B[1], 9, 3) + " [sqrt(eV)/m]\n";
  }
  const int nDefects = std::clamp(L.srhteller, 0, MAXBULKDEFECTS);
  for (int d = 0; d < nDefects; ++d) WriteBulkDefect(o, L.srh[static_cast<std::size_t>(d)], d == 0);
  for (int k = 0; k < MAXMETATRANSITIONS; ++k)
    if (L.meta[static_cast<std::size_t>(k)].switchedOn) WriteMeta(o, L.meta[static_cast<std::size_t>(k)], k);
}

void WriteInterface(std::string& o, const InterfaceParameters& I) {
  o += "interface properties\n\n";
  o += "interfacename : " + I.interfacename + "\n";
  o += "Intraband tunneling : " + intw(I.intrabandTunneling) + " (0: no tunneling, 1: with tunneling)\n";
  o += "Relative electron mass : " + fix(I.me_rel, 5, 2) + "\n";
  o += "Relative hole mass : " + fix(I.mh_rel, 5, 2) + "\n";
  o += "\n";
  const int n = std::clamp(I.numberOfDefects, 0, MAXIFACEDEFECTS);
  for (int d = 0; d < n; ++d) {
    const InterfaceRecombinationParameters& D = I.ifr[static_cast<std::size_t>(d)];
    o += d == 0 ? "interface recombination\n\n" : "next\n\n";
    o += std::string("type : ") + TextOf(kDefectTypeText, D.type) + "\n";
    o += "sigma_nleft : " + sci(D.sigma_nleft, 9, 3) + " [m^2]\n";
    o += "sigma_nright : " + sci(D.sigma_nright, 9, 3) + " [m^2]\n";
    o += "sigma_pleft : " + sci(D.sigma_pleft, 9, 3) + " [m^2]\n";
    o += "sigma_pright : " + sci(D.sigma_pright, 9, 3) + " [m^2]\n";
    o += "Tunneling to trap: " + intw(D.tunneling) + " (0: no tunneling, 1: with tunneling)\n";
    o += "Relative electron mass : " + fix(D.me_rel, 5, 2) + "\n";
    o += "Relative hole mass : " + fix(D.mh_rel, 5, 2) + "\n";
    o += std::string("energy distribution : ") + TextOf(kDistributionText, D.distribution) + "\n";
    o += "Reference for defect energy : " + intw(D.reference, 2) +
         " ; 3 = above highest EV; 4 = below lowest EC; 5 = above Ei left; 6 = above Ei right; 7 = above EV right "
         "(= ZONIQ<2.7 reference)\n";
    o += "Et : " + fix(D.Et, 5, 2) + " [eV]\n";
    o += "Ekar : " + fix(D.Ekar, 5, 2) + " [eV]\n";
    o += "N : " + sci(D.N, 9, 3) + (D.distribution == ED_SINGLE ? " [/m^2]" : " [/m^2.eV]") + "\n";
    o += "\n";
  }
}

void WriteRemarks(std::string& o, const std::vector<std::string>& remarks) {
  // The header ends with an empty remark line, so an empty remark right after it is dropped.
  bool lastWasEmpty = true;
  for (std::size_t i = 0; i < remarks.size(); ++i) {
    const std::string& r = remarks[i];
    // The header lines of an earlier save come back as the first two remarks.
    if (i == 0 && ContainsNoCase(r, "ZONIQ") && ContainsNoCase(r, "Problem definition file")) continue;
    if (i == 1 && ContainsNoCase(r, "last saved by ZONIQ")) continue;
    const bool empty = TrimView(r).empty();
    if (empty && lastWasEmpty) continue;
    o += empty ? std::string("> ") : "> " + r;
    o += "\n";
    lastWasEmpty = empty;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Line routines
// ---------------------------------------------------------------------------------------------

int ReadNonCommentLine(LineReader& reader, std::string& line, std::vector<std::string>* remarks, bool quiet) {
  for (;;) {
    const LineReader::Status st = reader.Next(line);
    if (st == LineReader::Status::kEnd) return -2;
    if (st == LineReader::Status::kError) return -1;
    if (!line.empty() && IsCommentChar(line[0])) {
      if (!quiet && remarks) {
        std::string_view rest(line);
        rest.remove_prefix(1);
        // The writer puts "> " before a remark; take the blank off again so that remarks
        // do not grow a blank with every save.
        if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        remarks->push_back(TrimRight(rest));
      }
      continue;
    }
    return static_cast<int>(line.size());
  }
}

int ReadNonEmptyNonCommentLine(const Environment& env, LineReader& reader, std::string& line,
                               std::vector<std::string>* remarks, bool quiet, bool reportReadErrors,
                               bool reportEndOfFile) {
  for (;;) {
    errno = 0;
    const int r = ReadNonCommentLine(reader, line, remarks, quiet);
    if (r == -1) {
      const int err = errno;
      if (reportReadErrors)
        env.Error(kDefReadErrorTitle, std::string("An error ocurred while reading the def-file: ") +
                                          (err ? std::strerror(err) : "unknown input/output error"));
      return -1;
    }
    if (r == -2) {
      if (reportEndOfFile) env.Error(kDefReadErrorTitle, "The def-file is empty or incomplete.");
      return -2;
    }
    if (TrimView(line).empty()) continue;
    return r;
  }
}

std::string FormatNumber(double value, NumberLayout layout) {
  return layout.scientific ? sci(value, layout.width, layout.precision) : fix(value, layout.width, layout.precision);
}

std::string PrintNumbers(const double* values, int count, NumberLayout layout) {
  std::string s;
  for (int i = 0; i < count; ++i) {
    s += FormatNumber(values[i], layout);
    s += '\t';
  }
  return s;
}

std::string ProfileToOutputLine(std::string_view name, const Profile& profile, NumberLayout layout,
                                std::string_view unit) {
  std::string s(name);
  s += " :\t";
  s += PrintNumbers(profile.p.data(), 7, layout);
  s += intw(profile.law, 2) + "\t" + intw(profile.dependence, 2) + "\t";
  s += unit;
  s += "\n";
  if (profile.law == LAW_FROM_FILE) s += "Grading file: " + FileNamePart(profile.gradingFile) + "\n";
  return s;
}

int InputLineToProfile(std::string_view line, std::size_t valueStart, Profile& profile, std::string* problem,
                       double maxMagnitude) {
  const GradedNumbers g = ScanGradedNumbers(line, valueStart);
  int law = 0, dependence = 0;
  if (!LawAndDependence(g, law, dependence, problem)) return -1;
  const std::vector<double>& v = g.values;
  const std::size_t nValues = v.size() < 7 ? 1 : 7;
  for (std::size_t i = 0; i < nValues; ++i)
    if (std::fabs(v[i]) > maxMagnitude) {
      if (problem) *problem = "the number " + num(v[i]) + " is out of range (at most " + num(maxMagnitude) + ")";
      return -1;
    }
  profile.law = law;
  profile.dependence = dependence;
  if (v.size() < 7) {
    profile.p = {v[0], v[0], v[0], 1.0, 1.0, v[0], v[0]};
  } else if (v.size() == 7) {
    // older layout: six parameters (p4 = p3) and the law
    profile.p = {v[0], v[1], v[2], v[3], v[3], v[4], v[5]};
  } else {
    profile.p = {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
  }
  SetProfileScaleParameters(profile);
  return 0;
}

int InputLineToShortProfile(std::string_view line, std::size_t valueStart, ShortProfile& profile) {
  const GradedNumbers g = ScanGradedNumbers(line, valueStart);
  int law = 0, dependence = 0;
  if (!LawAndDependence(g, law, dependence, nullptr)) return -1;
  profile.law = law;
  profile.dependence = dependence;
  return 0;
}

std::string PrintOptCapt(std::string_view carrier, const std::array<BulkRecombinationParameters, MAXLEVELS>& levels,
                         int numberOfLevels) {
  const bool electrons = StartsWithNoCase(carrier, "electron");
  const int n = std::clamp(numberOfLevels, 1, MAXLEVELS);
  auto opt = [&](int k) -> const OpticalCaptureProperties& {
    return electrons ? levels[static_cast<std::size_t>(k)].optElectrons : levels[static_cast<std::size_t>(k)].optHoles;
  };
  bool any = false;
  for (int k = 0; k < n; ++k) any = any || opt(k).fromFile || opt(k).fromModel;
  if (!any) return {};
  const std::string c(carrier);
  std::string s;
  if (opt(0).fromFile)
    s += "optical capture data (" + c + "): " + opt(0).file + "\n";
  else
    s += "optical capture data [" + c + "]: level 1, none\n";
  for (int k = 1; k < n; ++k)
    s += "optical capture data [" + c + "]: level " + intw(k + 1) + ", " + (opt(k).fromFile ? opt(k).file : "none") +
         "\n";
  s += "optical capture of " + c + ", data from model: ";
  for (int k = 0; k < n; ++k) s += intw(opt(k).fromModel) + "\t";
  s += "\n";
  double v[MAXLEVELS];
  auto line = [&](const char* item, auto field) {
    for (int k = 0; k < n; ++k) v[k] = field(opt(k));
    s += "optical capture of " + c + item + PrintNumbers(v, n, Fix(0, 6)) + "\n";
  };
  line(", n: ", [](const OpticalCaptureProperties& o) { return o.n; });
  line(", m*/m0: ", [](const OpticalCaptureProperties& o) { return o.massRatio; });
  line(", Eeff/E0: ", [](const OpticalCaptureProperties& o) { return o.EeffE0; });
  line(", Emax (eV): ", [](const OpticalCaptureProperties& o) { return o.Emax; });
  return s;
}

void verwijder_blancos(std::string_view text, std::size_t length, std::string& result, int& count) {
  result.clear();
  const std::size_t n = std::min(length, text.size());
  for (std::size_t i = 0; i < n; ++i)
    if (!IsSpaceOrTab(text[i])) result.push_back(text[i]);
  count = static_cast<int>(result.size());
}

// ---------------------------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------------------------

int lees_structuurfile(const Environment& env, const std::string& path, InputParameters& target,
                       MottSchottkySettings& ms, DefinitionExtras& extras) {
  FilePtr file = OpenFile(NativePath(path), "rb");
  if (!file) {
    env.Popup(kDefOpenErrorTitle, path);
    return -1;
  }
  return lees_structuurstroom(env, file.get(), path, target, ms, extras);
}

int lees_structuurstroom(const Environment& env, std::FILE* file, const std::string& path, InputParameters& target,
                         MottSchottkySettings& ms, DefinitionExtras& extras) {
  ParsedFile parsed;
  InitialiseParsedFile(parsed);
  // The two file names of the set are not part of the file.
  parsed.set.fileName1 = target.fileName1;
  parsed.set.fileName2 = target.fileName2;
  const int r = ParseDefinitionFile(env, file, path, parsed, false);
  if (r != 0) return r;
  target = std::move(parsed.set);
  ms = parsed.ms;
  extras = std::move(parsed.extras);
  return 0;
}

int ReadCeldefVariableFromDefFile(const Environment& env, const std::string& path, CellDefinition& cell) {
  FilePtr file = OpenFile(NativePath(path), "rb");
  if (!file) {
    env.Error(kDefBareOpenErrorTitle, "Error whilst opening the def-file !\n" + path);
    return -1;
  }
  ParsedFile parsed;
  InitialiseParsedFile(parsed);
  const int r = ParseDefinitionFile(env, file.get(), path, parsed, true);
  if (r != 0) return r;
  cell = std::move(parsed.set.cellParas);
  return 0;
}

int ReadShortCeldefVariableFromDefFile(const Environment& env, const std::string& path, ShortCellDefinition& shortDef) {
  CellDefinition cell;
  InitialiseCellDefinition(cell);
  const int r = ReadCeldefVariableFromDefFile(env, path, cell);
  if (r != 0) return r;
  LongToShortCellDefinition(cell, shortDef);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------------------------

std::string DefinitionFileText(const InputParameters& set1, const MottSchottkySettings& ms,
                               const DefinitionExtras& extras, const std::string& version, const DateTime& savedAt) {
  std::string o;
  o.reserve(32768);
  o += "> " + version + "Problem definition file\n";
  o += "> last saved by ZONIQ: \t" + DateText(savedAt) + " at " + TimeText(savedAt) + "\n";
  o += "> \n";
  WriteRemarks(o, extras.remarks);

  const ConvergenceParameters& c = set1.convergence;
  o += "convergence\n\n";
  o += "clamp_psi : " + sci(c.clamp_psi, 9, 2) + " units kT\n";
  o += "clamp_n : " + sci(c.clamp_n, 9, 2) + " units kT\n";
  o += "clamp_p : " + sci(c.clamp_p, 9, 2) + " units kT\n";
  o += "termination_psi : " + sci(c.termination_psi, 9, 2) + " units kT\n";
  o += "termination_Fn : " + sci(c.termination_Fn, 9, 2) + " units kT\n";
  o += "termination_Fp : " + sci(c.termination_Fp, 9, 2) + " units kT\n";
  o += "termination_Meta_full : " + sci(c.termination_Meta_full, 9, 2) + " (rel.)\n";
  o += "maxmetaiter_full : " + intw(c.maxmetaiter_full, 5) + "\n";
  o += "clamp_meta : " + sci(c.clamp_meta, 9, 2) + " (rel.)\n";
  o += "usemetaclamping : " + intw(c.usemetaclamping) + "\n";
  o += "maxiter : " + intw(c.maxiter, 5) + "\n";
  o += "defectdiscretisations : " + intw(c.defectdiscretisations, 5) + "\n";
  o += "widthtail : " + sci(c.widthtail, 9, 2) + "\n";
  o += "widthgauss : " + sci(c.widthgauss, 9, 2) + "\n";
  o += "QE calculation mode: " + intw(extras.qe.mode, 2) + " (0: cst. # of photons, 1: cst. incident power)\n";
  o += "number of photons : " + sci(extras.qe.numberOfPhotons, 9, 2) + "\n";
  o += "incident power : " + sci(extras.qe.incidentPower, 9, 2) + "\n";
  o += "recalculate mesh : " + intw(extras.mesh.recalculateMesh, 2) + " (0: fixed mesh, 1: adaptive mesh)\n";
  o += "maximum ratio between neighbouring points : " + sci(extras.mesh.maxRatio, 9, 2) + "\n";
  o += "minimum ratio between neighbouring points : " + sci(extras.mesh.minRatio, 9, 2) + "\n";
  o += "generation limit : " + sci(extras.mesh.generationLimit, 9, 2) + " microA/cm2\n";
  o += "recombination limit : " + sci(extras.mesh.recombinationLimit, 9, 2) + " microA/cm2\n";
  o += "Mott-Schottky analysis epsilon of sheet # : " + intw(ms.sheetNumber, 2) + "\n";
  o += "Mott-Schottky analysis epsilon of sheet side : " + intw(ms.sheetSide, 2) +
       "\t(left side = -1; right side = +1)\n";
  o += "Mott-Schottky analysis number of points : " + intw(ms.numberOfPoints, 2) + "\t(3 or 5 as of december 2008)\n";
  o += "Mott-Schottky analysis polynomial order middle : " + intw(ms.orderMiddle, 2) +
       "\t(1 or 2 as of december 2008)\n";
  o += "Mott-Schottky analysis polynomial order edges: " + intw(ms.orderEdges, 2) + "\t(1 or 2 as of december 2008)\n";
  // The retry of a failed bias point with a coupled Newton iteration is on by default; only a
  // cell that switches it off carries the line, so files of the default keep their layout.
  if (!set1.convergence.coupledNewtonFallback)
    o += "coupled Newton fallback : " + intw(0, 2) + " (1: retry a failed bias point coupled; 0: Gummel only)\n";
  // The acceptance check of a bias point and the smallest halved bias step, likewise only when
  // they differ from their defaults.
  const ConvergenceParameters defaults;
  if (set1.convergence.acceptance_step != defaults.acceptance_step)
    o += "acceptance step : " + sci(set1.convergence.acceptance_step, 9, 2) + " (kT)\n";
  if (set1.convergence.acceptance_current != defaults.acceptance_current)
    o += "acceptance current : " + sci(set1.convergence.acceptance_current, 9, 2) + " (rel.)\n";
  if (set1.convergence.minimum_bias_step != defaults.minimum_bias_step)
    o += "minimum bias step : " + sci(set1.convergence.minimum_bias_step, 9, 2) + " (V)\n";
  if (set1.convergence.recoveryLog != defaults.recoveryLog)
    o += "recovery log : " + intw(set1.convergence.recoveryLog, 2) +
         " (0: none; 1: each recovery; 2: also each failed attempt)\n";

  const CellDefinition& cell = set1.cellParas;
  o += "\nback contact\n\n";
  WriteContact(o, cell.leftContact, true);
  const int nLayers = std::clamp(cell.numberOfLayers, 0, MAXLAYERS);
  for (int l = 0; l < nLayers; ++l) {
    WriteLayer(o, cell.layer[static_cast<std::size_t>(l)]);
    if (l + 1 < nLayers) WriteInterface(o, cell.interface[static_cast<std::size_t>(l)]);
  }
  o += "front contact\n\n";
  WriteContact(o, cell.rightContact, false);

  const DefinitionWorkPointItems& wp = extras.workPoint;
  o += "\nworking point\n\n";
  o += wp.illuminatedFromRight ? "illuminated from : right" : "illuminated from : left";
  o += "\ninternal Rfront : " + fix(wp.Rfront, 12, 8);
  o += "\ninternal Tfront : " + sci(wp.Tfront, 11, 4);
  if (wp.RsPresent) {
    o += "\nSeries resistance : " + intw(wp.RsPresent, 2) + " (1: Rs enabled; 0: Rs disabled)";
    o += "\nRs [Ohm.m2] : " + sci(wp.Rs, 14, 6);
  }
  if (wp.GshPresent) {
    o += "\nShunt conductance : " + intw(wp.GshPresent, 2) + " (1: Gsh enabled; 0: Gsh disabled)";
    o += "\nGsh [S/m2] : " + sci(wp.Gsh, 14, 6);
  }
  return o;
}

std::vector<std::pair<std::string, std::string>> DefinitionFileWarnings(const std::string& programFolder,
                                                                        const CellDefinition& cell,
                                                                        const std::string& defFileName) {
  std::vector<std::pair<std::string, std::string>> warnings;
  auto existsIn = [&](const char* sub, const std::string& name) {
    const std::string path = NativePath(JoinPath(JoinPath(programFolder, sub), FileNamePart(name)));
    return static_cast<bool>(OpenFile(path, "rb"));
  };
  const std::string tail = "Please save this file in this map. Otherwise, opening this def-file '" + defFileName +
                           "' in the future will cause an error.";
  auto filter = [&](const ContactParameters& c, const char* side) {
    if (!c.filterOn || c.wavelengthIndependent || c.filterFile.empty() || existsIn("filter", c.filterFile)) return;
    warnings.emplace_back("Warning !", "The filterfile  '" + c.filterFile + "', used at the " + side +
                                           " of this def-file isn't saved yet in the map \\zoniq23\\filter\\. \n" +
                                           tail);
  };
  filter(cell.leftContact, "leftContact");
  filter(cell.rightContact, "rightContact");
  const int nLayers = std::clamp(cell.numberOfLayers, 0, MAXLAYERS);
  for (int l = 0; l < nLayers; ++l) {
    const LayerParameters& L = cell.layer[static_cast<std::size_t>(l)];
    for (int m = 0; m < 2; ++m) {
      const std::string& name = L.absorptionFile[static_cast<std::size_t>(m)];
      if (L.absorptionModel[static_cast<std::size_t>(m)] != ABS_MODEL_FILE || name.empty() ||
          existsIn("absorption", name))
        continue;
      warnings.emplace_back("Warning !", "The absorptionfile  '" + name + "', used in layer" + intw(l + 1) +
                                             "of this def-file " + (m == 0 ? "is not saved yet" : "isn't saved yet") +
                                             " in the map [current ZONIQ-directory]\\absorption\\. \n" + tail);
    }
  }
  return warnings;
}

int SaveDefinitionFile(const Environment& env, std::FILE* file, const CellDefinition& zonnecel,
                       InputParameters& parameterset1, const MottSchottkySettings& ms, const DefinitionExtras& extras,
                       const std::string& version, const std::string& defFileName, const DateTime& savedAt) {
  parameterset2_to_1(parameterset1, zonnecel);
  const std::string text = DefinitionFileText(parameterset1, ms, extras, version, savedAt);
  const bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
  for (const auto& [title, message] : DefinitionFileWarnings(env.programFolder, parameterset1.cellParas, defFileName))
    env.Popup(title, message);
  if (!ok) {
    env.Error(kDefSaveErrorTitle, "The def-file '" + defFileName + "' could not be written completely.");
    return -1;
  }
  return 0;
}

int SaveDefinitionFileToPath(const Environment& env, const std::string& path, const CellDefinition& zonnecel,
                             InputParameters& parameterset1, const MottSchottkySettings& ms,
                             const DefinitionExtras& extras, const std::string& version, const DateTime& savedAt) {
  FilePtr file = OpenFile(NativePath(path), "wb");
  if (!file) {
    env.Error(kDefSaveErrorTitle, "The def-file '" + path + "' cannot be opened for writing.");
    return -1;
  }
  int r =
      SaveDefinitionFile(env, file.get(), zonnecel, parameterset1, ms, extras, version, FileNamePart(path), savedAt);
  if (std::fclose(file.release()) != 0 && r == 0) {
    env.Error(kDefSaveErrorTitle, "The def-file '" + path + "' could not be written completely.");
    r = -1;
  }
  return r;
}

}  // namespace zoniq
