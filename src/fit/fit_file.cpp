#include "fit/fit_file.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "batch/batch_file.hpp"
#include "batch/batch_setup.hpp"
#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"

namespace zoniq {

namespace {

std::size_t U(int i) { return static_cast<std::size_t>(i); }

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// A value written in quotes, or as it stands.
std::string Unquoted(std::string_view v) {
  v = TrimView(v);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return std::string(v);
}

enum class Key {
  kMaxSteps,
  kMaxStepSize,
  kStopStepSize,
  kStopChiSquare,
  kParameter,
  kLabel,
  kMinimum,
  kMaximum,
  kStartIsActual,
  kLogarithmic,
  kMeasurement,
  kFile,
  kType,
  kShow,
  kIllumination,
  kPoints,
  kLinLog,
  kWeight,
  kFixed,
  kFixedLabel,
  kFixedType,
  kFixedValue
};

struct KeyText {
  std::string_view text;
  Key key;
};

// Matched without regard to case in the part of the line before its first " : ", the longest
// key first: "fixed parameter label" must not be taken for a parameter's "label", nor
// "measurement fixed parameter" for a "fixed parameter" line.
std::vector<KeyText> SortedKeys() {
  std::vector<KeyText> keys = {{"Max number of steps", Key::kMaxSteps},
                               {"Max step size", Key::kMaxStepSize},
                               {"Stop criterion for step size", Key::kStopStepSize},
                               {"Stop criterion for Chi square", Key::kStopChiSquare},
                               {"Curve fitting parameter", Key::kParameter},
                               {"label", Key::kLabel},
                               {"minimum value", Key::kMinimum},
                               {"maximum value", Key::kMaximum},
                               {"startvalue =", Key::kStartIsActual},
                               {"start value = actual value", Key::kStartIsActual},
                               {"logarithmic", Key::kLogarithmic},
                               {"Measurement to be fitted", Key::kMeasurement},
                               {"measurement file", Key::kFile},
                               {"measurement type", Key::kType},
                               {"measurement show", Key::kShow},
                               {"measurement illumination", Key::kIllumination},
                               {"measurement number of points", Key::kPoints},
                               {"measurement linlog mode", Key::kLinLog},
                               {"measurement weight", Key::kWeight},
                               {"measurement fixed parameter", Key::kFixed},
                               {"fixed parameter label", Key::kFixedLabel},
                               {"fixed parameter type", Key::kFixedType},
                               {"fixed parameter value", Key::kFixedValue}};
  std::stable_sort(keys.begin(), keys.end(),
                   [](const KeyText& a, const KeyText& b) { return a.text.size() > b.text.size(); });
  return keys;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(NativePath(path), ec);
}

}  // namespace

BatchParameter AsBatchParameter(const std::array<int, 4>& label) {
  BatchParameter bp;
  bp.label = label;
  return bp;
}

BatchParameter FixedBatchParameter(const CurveFitMeasurement& m) {
  BatchParameter bp = AsBatchParameter(m.fixedLabel);
  if (m.fixedType == 3) {
    bp.valuesFromList = 1;
    bp.valuesAreFileNames = 1;
    bp.fileNameList = {m.fixedText};
  }
  return bp;
}

int FixedParameterTypeOf(const std::array<int, 4>& label) {
  const std::string l2 = BP_constantToBatchKeyWord(2, label[1]);
  if (l2.find("left/right") != std::string::npos || l2.find("off/on") != std::string::npos) return 1;
  if (l2.find("file") != std::string::npos) return 3;
  return 2;
}

std::string FixedParameterTypeText(const std::array<int, 4>& label) {
  const std::string l2 = BP_constantToBatchKeyWord(2, label[1]);
  if (l2.find("left/right") != std::string::npos) return "integer (right=+1 / left=-1)";
  if (l2.find("off/on") != std::string::npos) return "integer (on=1 / off=0)";
  if (l2.find("file") != std::string::npos) return "string (a filename)";
  return "double (a value)";
}

// ---------------------------------------------------------------- writing

std::string CurveFittingSettingsText(const CurveFitter& f, const std::vector<std::string>& fileNames) {
  std::string out;
  out += "Max number of steps whilst curve fitting : " + intw(f.maxSteps, 4) + "\n";
  out += "Max step size whilst curve fitting : " + sci(f.maxStepSize, 16, 8) + "\n";
  out += "Stop criterion for step size : " + sci(f.stopStepSize, 16, 8) + "\n";
  out += "Stop criterion for Chi square : " + sci(f.stopChiSquare, 16, 8) + "\n";
  for (int i = 0; i < f.nParameters; ++i) {
    out += "\nCurve fitting parameter " + intw(i, 2) + " :\n\n";
    for (int j = 1; j <= 4; ++j)
      out +=
          "label " + std::to_string(j) + " : " + Quoted(BP_constantToBatchKeyWord(j, f.label[U(i)][U(j - 1)])) + "\n";
    out += "minimum value : " + sci(f.minimum[U(i)], 16, 8) + "\n";
    out += "maximum value : " + sci(f.maximum[U(i)], 16, 8) + "\n";
    out += "start value = actual value : " + intw(f.startIsActual[U(i)], 4) + "\n";
    out += "logarithmic variation : " + intw(f.logarithmic[U(i)], 2) + "\n";
  }
  for (int m = 0; m < f.nMeasurements; ++m) {
    const CurveFitMeasurement& c = f.measurement[U(m)];
    out += "\nMeasurement to be fitted " + std::to_string(m) + " :\n\n";
    out += "measurement file : " + Quoted(U(m) < fileNames.size() ? fileNames[U(m)] : c.file) + "\n";
    out += "measurement type : " + intw(c.type, 2) + "\n";
    out += "measurement show : " + intw(c.show, 2) + "\n";
    out += "measurement illumination : " + intw(c.illumination, 2) + "\n";
    out += "measurement number of points : " + intw(c.nPoints, 3) + "\n";
    out += "measurement linlog mode : " + intw(c.linlog, 1) + "\n";
    out += "measurement weight : " + sci(c.weight, 16, 8) + "\n";
    out += "measurement fixed parameter : " + intw(c.hasFixedParameter, 2) + "\n";
    if (!c.hasFixedParameter) continue;
    for (int j = 1; j <= 4; ++j)
      out += "fixed parameter label " + std::to_string(j) + " : " +
             Quoted(BP_constantToBatchKeyWord(j, c.fixedLabel[U(j - 1)])) + "\n";
    out += "fixed parameter type : " +
           (c.fixedType == 1   ? FixedParameterTypeText(c.fixedLabel)
            : c.fixedType == 3 ? std::string("string (a filename)")
                               : std::string("double (a value)")) +
           "\n";
    out += "fixed parameter value : " +
           (c.fixedType == 1   ? intw(c.fixedInt, 2)
            : c.fixedType == 3 ? Quoted(c.fixedText)
                               : sci(c.fixedReal, 14, 6)) +
           "\n";
  }
  return out;
}

int SaveCurveFittingSettingsInFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header,
                                   const CurveFitter& fitter, const std::vector<std::string>& fileNames) {
  std::string out;
  if (!WriteCommentLinesInFile(out, ui, header, "Curve Fitting Settings file")) return -1;
  out += CurveFittingSettingsText(fitter, fileNames);
  if (std::fwrite(out.data(), 1, out.size(), file) != out.size() || std::fflush(file) != 0) return -1;
  return 0;
}

// ---------------------------------------------------------------- reading

int ParseCurveFittingSettings(const Environment& env, std::string_view text, const std::string& fileName,
                              CurveFitter& out) {
  static const std::vector<KeyText> keys = SortedKeys();
  CurveFitter f;
  InitialiseCurveFitter(f);
  int parameter = -1, measurement = -1;
  long lineNumber = 0;
  const auto fail = [&](const std::string& why) {
    env.Error(kFitReadTitle,
              "Curve Fitting Settings File: " + fileName + "\nline " + std::to_string(lineNumber) + ": " + why);
    return -1;
  };
  for (std::string_view raw : SplitLines(text)) {
    ++lineNumber;
    if (IsSettingsCommentLine(raw)) continue;
    const std::string_view line = TrimView(raw);
    const std::size_t colon = line.find(" : ");
    std::string_view keyPart = colon == std::string_view::npos ? line : line.substr(0, colon);
    if (colon == std::string_view::npos && !keyPart.empty() && keyPart.back() == ':')  // "… parameter  0 :"
      keyPart = TrimView(keyPart.substr(0, keyPart.size() - 1));
    const KeyText* found = nullptr;
    for (const KeyText& k : keys)
      if (ContainsNoCase(keyPart, k.text)) {
        found = &k;
        break;
      }
    if (!found) continue;  // header lines and anything else without a key
    // The value begins after the first " : ", so that a file name such as C:\data\a.iv stays whole.
    const std::string_view value = colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 3);
    double number = 0.0;
    const auto numeric = [&](double lo, double hi, bool whole) {
      if (!ParseWholeNumber(value, number) || !std::isfinite(number) || number < lo || number > hi ||
          (whole && number != std::floor(number))) {
        fail("\"" + std::string(found->text) + "\" needs " + (whole ? "a whole number" : "a number") + " from " +
             num(lo) + " to " + num(hi) + ", not \"" + std::string(value) + "\"");
        return false;
      }
      return true;
    };
    const auto needParameter = [&] {
      if (parameter >= 0) return true;
      fail("\"" + std::string(found->text) + "\" before any \"Curve fitting parameter\" line");
      return false;
    };
    const auto needMeasurement = [&] {
      if (measurement >= 0) return true;
      fail("\"" + std::string(found->text) + "\" before any \"Measurement to be fitted\" line");
      return false;
    };
    const auto label = [&](std::array<int, 4>& labels) {
      // "label 3 : ..." and "fixed parameter label 3 : ...": the number right after the key.
      const std::size_t at = ToLower(keyPart).find(ToLower(found->text)) + found->text.size();
      double j = 0.0;
      if (!ParseWholeNumber(keyPart.substr(at), j) || j < 1 || j > 4 || j != std::floor(j))
        return fail("a label number from 1 to 4 is missing"), false;
      const int code = BatchKeyWordToBP_constant(static_cast<int>(j), Unquoted(value));
      if (code < kNihil) return fail("\"" + Unquoted(value) + "\" is no batch-parameter keyword"), false;
      labels[U(static_cast<int>(j) - 1)] = code;
      return true;
    };
    const double inf = 1e300;
    CurveFitMeasurement* m = measurement >= 0 ? &f.measurement[U(measurement)] : nullptr;
    switch (found->key) {
      case Key::kMaxSteps:
        if (!numeric(1, 100000, true)) return -1;
        f.maxSteps = static_cast<int>(number);
        break;
      case Key::kMaxStepSize:
        if (!numeric(1e-300, 1, false)) return -1;
        f.maxStepSize = number;
        break;
      case Key::kStopStepSize:
        if (!numeric(0, 1, false)) return -1;
        f.stopStepSize = number;
        break;
      case Key::kStopChiSquare:
        if (!numeric(0, inf, false)) return -1;
        f.stopChiSquare = number;
        break;
      case Key::kParameter:
        // "Curve fitting parameter  3 :": the number is in the key part.
        if (!ParseWholeNumber(keyPart.substr(ToLower(keyPart).find("parameter") + 9), number) || number < 0 ||
            number >= kMaxFitParameters || number != std::floor(number))
          return fail("a curve fitting parameter is numbered from 0 to " + std::to_string(kMaxFitParameters - 1));
        parameter = static_cast<int>(number);
        f.nParameters = std::max(f.nParameters, parameter + 1);
        break;
      case Key::kLabel:
        if (!needParameter() || !label(f.label[U(parameter)])) return -1;
        break;
      case Key::kMinimum:
        if (!needParameter() || !numeric(-inf, inf, false)) return -1;
        f.minimum[U(parameter)] = number;
        break;
      case Key::kMaximum:
        if (!needParameter() || !numeric(-inf, inf, false)) return -1;
        f.maximum[U(parameter)] = number;
        break;
      case Key::kStartIsActual:
        if (!needParameter() || !numeric(0, 1, true)) return -1;
        f.startIsActual[U(parameter)] = static_cast<int>(number);
        break;
      case Key::kLogarithmic:
        if (!needParameter() || !numeric(0, 1, true)) return -1;
        f.logarithmic[U(parameter)] = static_cast<int>(number);
        break;
      case Key::kMeasurement:
        if (!ParseWholeNumber(keyPart.substr(ToLower(keyPart).find("fitted") + 6), number) || number < 0 ||
            number >= kMaxFitMeasurements || number != std::floor(number))
          return fail("a measurement to be fitted is numbered from 0 to " + std::to_string(kMaxFitMeasurements - 1));
        measurement = static_cast<int>(number);
        f.nMeasurements = std::max(f.nMeasurements, measurement + 1);
        break;
      case Key::kFile:
        if (!needMeasurement()) return -1;
        m->file = Unquoted(value);
        break;
      case Key::kType:
        // -1 (or 0): a measurement whose type is not set yet.
        if (!needMeasurement() || !numeric(-1, 20, true)) return -1;
        m->type = number >= 1 ? static_cast<int>(number) : -1;
        if (m->type > 0) m->illumination = m->type % 2 == 0 ? 1 : 0;
        break;
      case Key::kShow:
        if (!needMeasurement() || !numeric(0, 1, true)) return -1;
        m->show = static_cast<int>(number);
        break;
      case Key::kIllumination:
        if (!needMeasurement() || !numeric(0, 1, true)) return -1;
        m->illumination = static_cast<int>(number);
        m->type = CurveFitTypeWithLight(m->type, m->illumination);
        break;
      case Key::kPoints:
        if (!needMeasurement() || !numeric(0, 100000, true)) return -1;
        m->nPoints = static_cast<int>(number);
        break;
      case Key::kLinLog:
        if (!needMeasurement() || !numeric(0, 1, true)) return -1;
        m->linlog = static_cast<int>(number);
        break;
      case Key::kWeight:
        if (!needMeasurement() || !numeric(0, inf, false)) return -1;
        m->weight = number;
        break;
      case Key::kFixed:
        if (!needMeasurement() || !numeric(0, 1, true)) return -1;
        m->hasFixedParameter = static_cast<int>(number);
        break;
      case Key::kFixedLabel:
        if (!needMeasurement() || !label(m->fixedLabel)) return -1;
        break;
      case Key::kFixedType:
        if (!needMeasurement()) return -1;
        if (ContainsNoCase(value, "integer"))
          m->fixedType = 1;
        else if (ContainsNoCase(value, "double"))
          m->fixedType = 2;
        else if (ContainsNoCase(value, "string"))
          m->fixedType = 3;
        else
          return fail("a fixed parameter is an \"integer\", a \"double\" or a \"string\", not \"" + std::string(value) +
                      "\"");
        break;
      case Key::kFixedValue:
        if (!needMeasurement()) return -1;
        if (m->fixedType == 3) {
          m->fixedText = Unquoted(value);
        } else if (m->fixedType == 1) {
          if (!numeric(-1000000, 1000000, true)) return -1;
          m->fixedInt = static_cast<int>(number);
        } else {
          if (!numeric(-inf, inf, false)) return -1;
          m->fixedReal = number;
        }
        break;
    }
  }
  out = std::move(f);
  return 0;
}

int SetCurveFittingFromFile(const Environment& env, std::string_view name, const CellDefinition& cell,
                            const MeasurementLoader& loader, CurveFitter& fitter) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_FIT);
  const std::optional<std::string> text = FileExists(full) ? ReadWholeTextFile(full) : std::nullopt;
  if (!text) {
    env.Error("Error whilst setting the curve fitting", "Curve Fitting Settings File not found:\n   " + full);
    return -1;
  }
  CurveFitter parsed;
  if (ParseCurveFittingSettings(env, *text, full, parsed) != 0) return -1;
  const std::string header = "Curve Fitting Settings File: " + full;

  CurveFitter f = parsed;
  InitialiseCurveFitParameters(f);
  for (int i = 0; i < parsed.nParameters; ++i) {
    const std::size_t u = U(i);
    BatchTarget target;
    std::string why;
    const double lo = parsed.minimum[u], hi = parsed.maximum[u];
    if (!ResolveBatchParameter(cell, AsBatchParameter(parsed.label[u]), target, why)) {
      env.Error(kFitReadTitle, header + "\nCurve fitting parameter " + std::to_string(i) +
                                   " not available with actual definitionfile(s) or action list\n" + why +
                                   "\nCurve fitting parameter discarded");
      continue;
    }
    if (!(lo < hi) || (parsed.logarithmic[u] && !(lo > 0))) {
      env.Error(kFitReadTitle, header + "\nCurve fitting parameter " + std::to_string(i) + ": the range " + num(lo) +
                                   " … " + num(hi) +
                                   (parsed.logarithmic[u] ? " must be positive and rising" : " must be rising") +
                                   "\nCurve fitting parameter discarded");
      continue;
    }
    const std::size_t k = U(f.nParameters++);
    f.minimum[k] = lo;
    f.maximum[k] = hi;
    f.startIsActual[k] = parsed.startIsActual[u];
    f.logarithmic[k] = parsed.logarithmic[u];
    f.label[k] = parsed.label[u];
    f.name[k] = BatchLabelText(AsBatchParameter(parsed.label[u]));
  }

  InitialiseCurveFitMeasurements(f);
  for (int m = 0; m < parsed.nMeasurements; ++m) {
    CurveFitMeasurement c = parsed.measurement[U(m)];
    if (CurveFitTypeSweep(c.type) == FitSweep::kNone) {
      env.Error(kFitReadTitle,
                header + "\nMeasurement " + std::to_string(m) + " has no measurement type" + "\nMeasurement discarded");
      continue;
    }
    std::string path;
    CheckZONIQPaths(env.programFolder, &path, nullptr, c.file, FK_MEASURED);
    if (c.file.empty() || !FileExists(path)) {
      env.Error(kFitReadTitle, header + "\nMeasurement file " + std::to_string(m) + " not found:\n" + path +
                                   "\nMeasurement discarded");
      continue;
    }
    if (loader) {
      c.x.clear();
      c.y.clear();
      if (loader(env, path, c.type, c.x, c.y) != 0 || c.x.empty()) {
        env.Error(kFitReadTitle, header + "\nMeasurement file " + std::to_string(m) + " cannot be read:\n" + path +
                                     "\nMeasurement discarded");
        continue;
      }
      c.nPoints = static_cast<int>(c.x.size());
    }
    if (c.hasFixedParameter) {
      BatchParameter bp = FixedBatchParameter(c);
      BatchTarget target;
      std::string why;
      if (!ResolveBatchParameter(cell, bp, target, why)) {
        env.Error(kFitReadTitle, header + "\nFixed parameter for measurement " + std::to_string(m) +
                                     " not available with actual definitionfile(s) or action list\n" + why +
                                     "\nFixed parameter discarded");
        c.hasFixedParameter = 0;
        c.fixedLabel = {-1, -1, -1, -1};
      }
    }
    f.measurement[U(f.nMeasurements++)] = std::move(c);
  }
  InitialiseCurveFitRunTime(f);
  fitter = std::move(f);
  return 0;
}

// ---------------------------------------------------------------- results table

bool CurveFitResultsText(const CurveFitter& f, std::string& out, std::string& why) {
  const CurveFitRunTime& r = f.running;
  if (r.iteration < 0 || r.ChiSqTotal.empty() || r.parameter.size() != U(f.nParameters)) {
    why = "No curve fitting calculatieons done: nothing to save or to show !";
    return false;
  }
  const int last = r.iteration;
  const int best = BestCurveFitIteration(f);
  out = "table of the curve fitting parameters\n";
  out += "number\tname\tminimum\tmaximum\tstart value\tlast value\tbest value\n";
  for (int i = 0; i < f.nParameters; ++i) {
    const std::vector<double>& p = r.parameter[U(i)];
    out += intw(i + 1, 3) + "\t" + Quoted(f.name[U(i)]) + "\t" + sci(f.minimum[U(i)], 12, 4) + "\t" +
           sci(f.maximum[U(i)], 12, 4) + "\t" + sci(p[0], 14, 6) + "\t" + sci(p[U(last)], 14, 6) + "\t" +
           sci(p[U(best)], 14, 6) + "\n";
  }
  out += "lowest Chi square at iteration\t" + intw(best, 4) + "\t" + sci(r.ChiSqTotal[U(best)], 14, 6) + "\n";
  out += "table of the measurements to fit\n";
  out += "number\ttype\tmeasurement file\tlight\tfixed parameter name\n";
  for (int m = 0; m < f.nMeasurements; ++m) {
    const CurveFitMeasurement& c = f.measurement[U(m)];
    out += intw(m + 1, 3) + "\t" + Quoted(CurveFitTypeLabel(c.type)) + "\t" + Quoted(c.file) + "\t" +
           intw(c.illumination, 1);
    if (c.hasFixedParameter) out += "\t" + Quoted(BatchLabelText(AsBatchParameter(c.fixedLabel)));
    out += "\n";
  }
  out += "evolution of the parameters during the curve fitting calculation\niteration";
  for (int i = 0; i < f.nParameters; ++i) out += "\tparameter " + std::to_string(i + 1);
  out += "\n";
  for (int k = 0; k <= last; ++k) {
    out += intw(k, 4);
    for (int i = 0; i < f.nParameters; ++i) out += "\t" + sci(r.parameter[U(i)][U(k)], 14, 6);
    out += "\n";
  }
  out += "evolution of Chi Square during the curve fitting calculation\niteration";
  for (int m = 0; m < f.nMeasurements; ++m) out += "\tmeasurement " + std::to_string(m + 1);
  out += "\ttotal\n";
  for (int k = 0; k <= last; ++k) {
    out += intw(k, 4);
    for (int m = 0; m < f.nMeasurements; ++m)
      out += "\t" + sci(U(m) < r.ChiSq.size() ? r.ChiSq[U(m)][U(k)] : 0.0, 14, 6);
    out += "\t" + sci(r.ChiSqTotal[U(k)], 14, 6) + "\n";
  }
  return true;
}

int curvefittingresults_naar_file(const Environment& env, std::FILE* file, const CurveFitter& fitter) {
  std::string text, why;
  if (!CurveFitResultsText(fitter, text, why)) {
    env.Error("Curve fitting results", why);
    return -1;
  }
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) return -1;
  return 0;
}

}  // namespace zoniq
