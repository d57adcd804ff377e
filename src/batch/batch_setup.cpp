#include "batch/batch_setup.hpp"

#include <array>
#include <cmath>

#include "celldef/short_cell_definition.hpp"
#include "common/format.hpp"
#include "common/text.hpp"

namespace zoniq {

namespace {

// The vocabulary of each label is that of the definition file's batch-parameter keywords (one
// table for the cell quantities); the labels below "where" start with "nihil", their unused code.
template <std::size_t N>
std::vector<std::string> Vocabulary(const std::array<const char*, N>& keywords, bool nihil) {
  std::vector<std::string> v;
  if (nihil) v.emplace_back("nihil");
  for (const char* k : keywords) v.emplace_back(k);
  return v;
}

std::vector<std::string> Label1() { return Vocabulary(kBP1KeyWord, false); }
std::vector<std::string> Label2() { return Vocabulary(kBP2KeyWord, true); }
std::vector<std::string> Label3() { return Vocabulary(kBP3KeyWord, true); }
std::vector<std::string> Label4() { return Vocabulary(kBP4KeyWord, true); }

// Position of a keyword in its vocabulary (the vocabularies are fixed, so a missing keyword is a
// programming error caught by the tests).
int Code(int label, std::string_view keyword) {
  const std::vector<std::string>& v = BatchVocabulary(label);
  for (std::size_t i = 0; i < v.size(); ++i)
    if (v[i] == keyword) return static_cast<int>(i);
  return -2;
}

}  // namespace

const std::vector<std::string> kBatchLabel1 = Label1();
const std::vector<std::string> kBatchLabel2 = Label2();
const std::vector<std::string> kBatchLabel3 = Label3();
const std::vector<std::string> kBatchLabel4 = Label4();

const std::vector<std::string>& BatchVocabulary(int label) {
  switch (label) {
    case 1:
      return kBatchLabel1;
    case 2:
      return kBatchLabel2;
    case 3:
      return kBatchLabel3;
    default:
      return kBatchLabel4;
  }
}

std::string BP_constantToBatchKeyWord(int label, int code) {
  const std::vector<std::string>& v = BatchVocabulary(label);
  if (code < 0 || code >= static_cast<int>(v.size())) return "nihil";
  return v[static_cast<std::size_t>(code)];
}

int BatchKeyWordToBP_constant(int label, std::string_view text) {
  const std::string_view t = TrimView(text);
  if (EqualsNoCase(t, "nihil")) return kNihil;
  const std::vector<std::string>& v = BatchVocabulary(label);
  // Whole keywords first ("composition" is not "composition file"; "sigma_p" with its tab),
  // then keywords that begin the text, in the order listed.
  for (std::size_t i = 0; i < v.size(); ++i)
    if (EqualsNoCase(t, TrimView(v[i]))) return v[i] == "nihil" ? kNihil : static_cast<int>(i);
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == "nihil" || v[i] == "composition") continue;
    if (StartsWithNoCase(t, TrimView(v[i]))) return static_cast<int>(i);
  }
  return -2;
}

void InitialiseBatch(BatchSetup& batch) { batch = BatchSetup{}; }

double GetParaValue(const BatchParameter& bp, int i) {
  const int n = bp.valuesFromList
                    ? static_cast<int>(bp.valuesAreFileNames ? bp.fileNameList.size() : bp.valueList.size())
                    : bp.numberOfSteps;
  if (i < 0 || i >= n) return bp.startValue;
  if (bp.valuesFromList) {
    if (bp.valuesAreFileNames) return i;
    return bp.valueList[static_cast<std::size_t>(i)];
  }
  if (n < 2) return bp.startValue;
  // The logarithmic rule applies to ranges only: a list keeps its values whatever flag is left.
  if (bp.logarithmic) {
    if (bp.startValue <= 0.0 || bp.stopValue <= 0.0) return bp.startValue;
    return bp.startValue * std::pow(bp.stopValue / bp.startValue, static_cast<double>(i) / (n - 1));
  }
  return (i * bp.stopValue + (n - 1 - i) * bp.startValue) / (n - 1);
}

namespace {

int StepsOf(const BatchParameter& bp) {
  if (!bp.valuesFromList) return bp.numberOfSteps;
  return static_cast<int>(bp.valuesAreFileNames ? bp.fileNameList.size() : bp.valueList.size());
}

}  // namespace

bool CountBatchSteps(const BatchSetup& batch, long long& steps, std::string& why) {
  steps = 0;
  const int files = batch.variationOfDefinitionFiles ? static_cast<int>(batch.definitionFiles.size()) : 1;
  if (files < 1) {
    why = "The batch varies definition files but lists none";
    return false;
  }
  long long total = files;
  int enclosing = files;
  for (int i = 0; i < batch.numberOfParameters; ++i) {
    const BatchParameter& bp = batch.bp[static_cast<std::size_t>(i)];
    const int n = StepsOf(bp);
    if (n < 1) {
      why = "Batch parameter " + std::to_string(i) + " has " + std::to_string(n) +
            " steps: every batch parameter needs at least 1 step";
      return false;
    }
    if (bp.simultaneous) {
      if (n != enclosing) {
        why = "Batch parameter " + std::to_string(i) + " steps together with the level before it but has " +
              std::to_string(n) + " steps instead of " + std::to_string(enclosing);
        return false;
      }
      continue;
    }
    total *= n;
    enclosing = n;
    if (total > kMaxBatchSteps) {
      why = "The batch would run more than " + std::to_string(kMaxBatchSteps) + " simulations";
      return false;
    }
  }
  steps = total;
  return true;
}

BatchStepPosition StepPosition(const BatchSetup& batch, long long step) {
  BatchStepPosition pos;
  // Mixed radix, the innermost nested parameter running fastest.
  long long rest = step;
  int inner = 0;  // step of the innermost nested level seen so far (filled from the inside out)
  std::array<int, kMaxBatchParameters> own{};
  for (int i = batch.numberOfParameters - 1; i >= 0; --i) {
    const BatchParameter& bp = batch.bp[static_cast<std::size_t>(i)];
    if (bp.simultaneous) continue;
    const int n = StepsOf(bp);
    own[static_cast<std::size_t>(i)] = static_cast<int>(rest % n);
    rest /= n;
  }
  pos.definitionFile = batch.variationOfDefinitionFiles ? static_cast<int>(rest) : -1;
  // A parameter stepping together takes the step of the level before it.
  inner = batch.variationOfDefinitionFiles ? pos.definitionFile : 0;
  for (int i = 0; i < batch.numberOfParameters; ++i) {
    const std::size_t k = static_cast<std::size_t>(i);
    if (!batch.bp[k].simultaneous) inner = own[k];
    pos.step[k] = inner;
  }
  return pos;
}

// ---- labels to what they change ----

namespace {

int L(const BatchParameter& bp, int label) { return bp.label[static_cast<std::size_t>(label - 1)]; }

bool Is(int label, int code, std::string_view keyword) { return code >= 0 && code == Code(label, keyword); }

// The number in a numbered keyword ("layer 3" -> 3), or 0 when `code` is not one of them.
int NumberedCode(int label, int code, std::string_view stem, int count) {
  for (int i = 1; i <= count; ++i)
    if (Is(label, code, std::string(stem) + std::to_string(i) + (stem == "level " ? " of defect" : ""))) return i;
  return 0;
}

// The part of a graded property that label 4 names, in the script's notation.
bool GradedSuffix(const BatchParameter& bp, std::string& suffix, std::string& why) {
  const int l4 = L(bp, 4);
  if (l4 == kNihil) return true;
  if (Is(4, l4, "pure A material"))
    suffix = ".pureA";
  else if (Is(4, l4, "pure B material"))
    suffix = ".pureB";
  else if (Is(4, l4, "left side"))
    suffix = ".left";
  else if (Is(4, l4, "right side"))
    suffix = ".right";
  else {
    why = "label 4 \"" + BP_constantToBatchKeyWord(4, l4) + "\" does not apply to this property";
    return false;
  }
  return true;
}

struct Named {
  const char* label2;
  const char* script;
  bool graded;
};
constexpr Named kLayerNames[] = {
    {"composition", "composition", false},
    {"thickness", "thickness", false},
    {"bandgap", "Eg", true},
    {"electron affinity", "chi", true},
    {"dielectric permittivity", "epsilon", true},
    {"NC", "NC", true},
    {"NV", "NV", true},
    {"vth_n", "vthn", true},
    {"vth_p", "vthp", true},
    {"mu n", "mun", true},
    {"mu p", "mup", true},
    {"C radiative", "radiative", true},
    {"C Auger_n", "Augern", true},
    {"C Auger_p", "Augerp", true},
    {"ND", "ND", true},
    {"NA", "NA", true},
    {"pureA absorption constant A", "absorption.A.pureA", false},
    {"pureA absorption constant B", "absorption.B.pureA", false},
    {"pureB absorption constant A", "absorption.A.pureB", false},
    {"pureB absorption constant B", "absorption.B.pureB", false},
};

// The script name of a cell quantity named by the labels; empty with `why` when none.
bool ScriptNameOf(const BatchParameter& bp, std::string& name, std::string& why) {
  const int l1 = L(bp, 1), l2 = L(bp, 2), l3 = L(bp, 3), l4 = L(bp, 4);
  const std::string l2text = BP_constantToBatchKeyWord(2, l2);
  const std::string l3text = std::string(TrimView(BP_constantToBatchKeyWord(3, l3)));
  if (Is(1, l1, "left contact") || Is(1, l1, "right contact")) {
    name = Is(1, l1, "left contact") ? "contact.l." : "contact.r.";
    if (l2text == "S_n")
      name += "sn";
    else if (l2text == "S_p")
      name += "sp";
    else if (l2text == "Workfunction")
      name += "work";
    else if (l2text == "filter R or T")
      name += "optical.value";
    else
      return why = "\"" + l2text + "\" cannot be varied at a contact", false;
    return true;
  }
  if (const int layer = NumberedCode(1, l1, "layer ", MAXLAYERS)) {
    name = "layer" + std::to_string(layer) + ".";
    if (const int defect = NumberedCode(2, l2, "defect ", MAXBULKDEFECTS)) {
      name += "defect" + std::to_string(defect) + ".";
      const int level = std::max(1, NumberedCode(4, l4, "level ", MAXLEVELS));
      const std::string levelPart = ".level" + std::to_string(level);
      if (l3text == "Nt total")
        name += "Ntotal";
      else if (l3text == "Nt peak")
        name += "Npeak";
      else if (l3text == "sigma_n")
        name += "sigman" + levelPart;
      else if (l3text == "sigma_p")
        name += "sigmap" + levelPart;
      else if (l3text == "energy level Et")
        name += "Et" + levelPart;
      else if (l3text == "characteristic energy Ekar")
        name += "Echar";
      else
        return why = "\"" + l3text + "\" cannot be varied for a bulk defect", false;
      return true;
    }
    if (const int meta = NumberedCode(2, l2, "metastable transition ", MAXMETATRANSITIONS)) {
      name += "metadefect" + std::to_string(meta) + ".";
      static constexpr std::pair<const char*, const char*> kMeta[] = {
          {"Meta E EE", "E_EE"}, {"Meta E HC", "E_HC"}, {"Meta E EC", "E_EC"},
          {"Meta E HE", "E_HE"}, {"Meta E TR", "E_TR"}, {"Meta Nt total", "Ntotal"}};
      for (const auto& [label, script] : kMeta)
        if (l3text == label) return name += script, true;
      return why = "\"" + l3text + "\" cannot be varied for a metastable transition", false;
    }
    for (const Named& n : kLayerNames)
      if (l2text == n.label2) {
        name += n.script;
        if (n.graded) {
          std::string suffix;
          if (!GradedSuffix(bp, suffix, why)) return false;
          name += suffix;
        }
        return true;
      }
    return why = "\"" + l2text + "\" cannot be varied in a layer", false;
  }
  if (const int iface = NumberedCode(1, l1, "interface ", MAXLAYERS - 1)) {
    name = "interface" + std::to_string(iface) + ".";
    if (l2text == "Rel. Mass Electrons at IF") return name += "IBtunneling.me", true;
    if (l2text == "Rel. Mass Holes at IF") return name += "IBtunneling.mh", true;
    if (const int defect = NumberedCode(2, l2, "interface defect ", MAXIFACEDEFECTS)) {
      name += "IFdefect" + std::to_string(defect) + ".";
      const bool right = Is(4, l4, "right side");
      if (l3text == "IF Nt total")
        name += "Ntotal";
      else if (l3text == "IF Nt peak")
        name += "Npeak";
      else if (l3text == "IF sigma_n")
        name += right ? "sigmanright" : "sigmanleft";
      else if (l3text == "IF sigma_p")
        name += right ? "sigmapright" : "sigmapleft";
      else if (l3text == "IF energylevel Et")
        name += "Et";
      else if (l3text == "IF characteristic energy Ekar")
        name += "Echar";
      else if (l3text == "m_e")
        name += "tunneling.me";
      else if (l3text == "m_h")
        name += "tunneling.mh";
      else
        return why = "\"" + l3text + "\" cannot be varied for an interface defect", false;
      return true;
    }
    return why = "\"" + l2text + "\" cannot be varied at an interface", false;
  }
  why = "label 1 \"" + BP_constantToBatchKeyWord(1, l1) + "\" names no part of the cell";
  return false;
}

}  // namespace

bool ResolveBatchParameter(const CellDefinition& cell, const BatchParameter& bp, BatchTarget& target,
                           std::string& why) {
  target = BatchTarget{};
  const int l1 = L(bp, 1), l2 = L(bp, 2), l3 = L(bp, 3), l4 = L(bp, 4);
  target.initialWork = Is(4, l4, "initial workpoint") || Is(1, l1, "initial work");
  const auto simple = [&](BatchTargetKind kind) {
    target.kind = kind;
    if (bp.valuesFromList && bp.valuesAreFileNames) {
      why = "this quantity takes numbers, not file names";
      return false;
    }
    return true;
  };
  if (Is(1, l1, "T")) return simple(BatchTargetKind::kTemperature);
  if (Is(1, l1, "V")) return simple(BatchTargetKind::kVoltage);
  if (Is(1, l1, "f")) return simple(BatchTargetKind::kFrequency);
  if (Is(1, l1, "Rsh")) return simple(BatchTargetKind::kRsh);
  if (Is(1, l1, "Rs")) return simple(BatchTargetKind::kRs);
  if (Is(1, l1, "Gsh")) return simple(BatchTargetKind::kGsh);
  if (Is(1, l1, "illumination") || Is(1, l1, "initial work")) {
    const std::string l2text = BP_constantToBatchKeyWord(2, l2);
    const std::string l3text = BP_constantToBatchKeyWord(3, l3);
    if (l2text == "illumination filter_ND") return simple(BatchTargetKind::kNeutralDensity);
    if (l2text == "illumination filter_T") return simple(BatchTargetKind::kTransmission);
    if (l2text == "attenuation filter_T") return simple(BatchTargetKind::kAttenuation);
    if (l2text == "spectrum cutoff" && l3text == "short lambda") return simple(BatchTargetKind::kShortCutOff);
    if (l2text == "spectrum cutoff" && l3text == "long lambda") return simple(BatchTargetKind::kLongCutOff);
    if (l2text == "spectrum file" || l2text == "generation file") {
      target.kind = l2text == "spectrum file" ? BatchTargetKind::kSpectrumFile : BatchTargetKind::kGenerationFile;
      if (!(bp.valuesFromList && bp.valuesAreFileNames)) {
        why = "a " + l2text + " is varied through a list of file names";
        return false;
      }
      return true;
    }
    why = "\"" + l2text + "\" cannot be varied for the illumination";
    return false;
  }
  if (bp.valuesFromList && bp.valuesAreFileNames) {
    why = "this quantity takes numbers, not file names";
    return false;
  }
  target.kind = BatchTargetKind::kCell;
  if (!ScriptNameOf(bp, target.scriptName, why)) return false;
  // The script's accessor checks that the layer, interface, defect and level exist.
  CellParameterName name;
  std::string_view rest = target.scriptName;
  for (std::size_t k = 0; k < name.part.size() && !rest.empty(); ++k) {
    const std::size_t dot = rest.find('.');
    name.part[k] = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
  }
  CellParameterError error;
  if (!ArgumentToCellParameter(cell, name, target.scriptName, target.cell, error)) {
    why = error.text.substr(error.text.find('\n') + 1);
    return false;
  }
  if (target.cell.valueKind != CellValueKind::kNumber) {
    why = "\"" + target.scriptName + "\" is not a number";
    return false;
  }
  return true;
}

bool NeedsRebuild(const BatchTarget& target) {
  switch (target.kind) {
    case BatchTargetKind::kVoltage:
    case BatchTargetKind::kFrequency:
    case BatchTargetKind::kRs:
    case BatchTargetKind::kRsh:
    case BatchTargetKind::kGsh:
      return target.initialWork;  // the initial working point sets the metastable state
    default:
      return true;
  }
}

bool ChangeValue(CellDefinition& cell, WorkPoint& wp, WorkPoint& secondwp, const BatchParameter& bp,
                 const BatchTarget& target, double value, std::string& why) {
  WorkPoint& w = target.initialWork ? secondwp : wp;
  const auto positive = [&](const char* what) {
    if (std::isfinite(value) && value > 0.0) return true;
    why = std::string(what) + " must be positive: " + num(value);
    return false;
  };
  switch (target.kind) {
    case BatchTargetKind::kCell: {
      CellParameterError error;
      if (!SetValueToCellparameter(cell, target.cell, CellValue{value, {}}, target.scriptName, error)) {
        why = error.text.substr(error.text.find('\n') + 1);
        return false;
      }
      return true;
    }
    case BatchTargetKind::kTemperature:
      if (!positive("The temperature")) return false;
      w.temperature = value;
      return true;
    case BatchTargetKind::kVoltage:
      if (!std::isfinite(value)) return why = "The voltage is not a number", false;
      w.voltage = value;
      return true;
    case BatchTargetKind::kFrequency:
      if (!positive("The frequency")) return false;
      w.frequency = value;
      return true;
    case BatchTargetKind::kRs:
      if (!std::isfinite(value) || value < 0.0) return why = "Rs must not be negative", false;
      w.Rs = value * 1e-4;  // [Ohm cm2] -> [Ohm m2]
      w.RsPresent = 1;
      return true;
    case BatchTargetKind::kRsh: {
      if (!positive("Rsh")) return false;
      double rsh = value;
      w.Gsh = GshFromRsh(rsh) * 1e4;  // [S/cm2] -> [S/m2]
      w.RshPresent = 1;
      return true;
    }
    case BatchTargetKind::kGsh:
      if (!std::isfinite(value) || value < 0.0) return why = "Gsh must not be negative", false;
      w.Gsh = value * 1e4;
      w.RshPresent = 1;
      return true;
    case BatchTargetKind::kNeutralDensity:
      if (!std::isfinite(value) || value < 0.0) return why = "The neutral density must not be negative", false;
      w.neutralDensity = value;
      return true;
    case BatchTargetKind::kTransmission:
      if (!(value > 0.0 && value <= 100.0)) return why = "The transmission must lie in (0, 100] %", false;
      w.neutralDensity = -std::log10(value / 100.0);
      return true;
    case BatchTargetKind::kAttenuation:
      if (!std::isfinite(value) || value < 0.0) return why = "The attenuation must not be negative", false;
      w.attenuation = value;
      return true;
    case BatchTargetKind::kShortCutOff:
      if (!positive("The cut-off wavelength")) return false;
      w.spectrumCutOff = 1;
      w.shortWavelengthCutOff = value;
      return true;
    case BatchTargetKind::kLongCutOff:
      if (!positive("The cut-off wavelength")) return false;
      w.spectrumCutOff = 1;
      w.longWavelengthCutOff = value;
      return true;
    case BatchTargetKind::kSpectrumFile:
    case BatchTargetKind::kGenerationFile: {
      const int i = static_cast<int>(value);
      if (i < 0 || i >= static_cast<int>(bp.fileNameList.size())) return why = "No such file in the list", false;
      const std::string& file = bp.fileNameList[static_cast<std::size_t>(i)];
      if (target.kind == BatchTargetKind::kSpectrumFile) {
        w.spectrumFile = file;
        w.generationFromFile = 0;
      } else {
        w.generationFile = file;
        w.generationFromFile = 1;
      }
      return true;
    }
  }
  return false;
}

std::string BatchLabelText(const BatchParameter& bp) {
  std::string text = BP_constantToBatchKeyWord(1, bp.label[0]);
  for (int l = 2; l <= 4; ++l) text += ">>" + std::string(TrimView(BP_constantToBatchKeyWord(l, bp.label[l - 1])));
  return text;
}

std::string MakeBatchParasString(const BatchParameter& bp, double value, bool withValue) {
  std::string text = BatchLabelText(bp);
  if (!withValue) return text;
  text += ":\t";
  if (bp.valuesFromList && bp.valuesAreFileNames) {
    const int i = static_cast<int>(value);
    if (i >= 0 && i < static_cast<int>(bp.fileNameList.size())) text += bp.fileNameList[static_cast<std::size_t>(i)];
  } else {
    text += sci(value, 10, 3);
  }
  if (text.size() > 255) text.resize(255);
  return text;
}

}  // namespace zoniq
