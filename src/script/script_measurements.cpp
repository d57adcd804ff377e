#include "script/script_measurements.hpp"

#include <iterator>
#include <string>

#include "common/text.hpp"
#include "common/zoniq_paths.hpp"
#include "measure/admittance_analysis.hpp"
#include "measurements/measurement_lists.hpp"
#include "script/script_titles.hpp"
#include "script/script_values.hpp"

namespace zoniq {

namespace {

using namespace script_titles;

// The kind named after "measurement." in a load command; -1 when none.
int LoadKind(std::string_view argument) {
  const std::size_t dot = argument.find('.');
  if (dot == std::string_view::npos) return -1;
  const std::string_view kind = argument.substr(dot + 1);
  if (StartsWithNoCase(kind, "iv")) return kMeasurementIV;
  if (StartsWithNoCase(kind, "cv")) return kMeasurementCV;
  if (StartsWithNoCase(kind, "cf")) return kMeasurementCf;
  if (StartsWithNoCase(kind, "qe")) return kMeasurementQE;
  return -1;
}

// The analysis of the selected measured C-f curve: its graph, or the energy of its peak.
int GetMeasuredAdmittance(ScriptContext& ctx, std::string_view sub, std::string_view target, std::string_view line) {
  const Environment env = ctx.env();
  MeasurementItem* m = nullptr;
  if (ctx.measurements) {
    const int selected = ctx.measurements->selectedMeasurement[kMeasurementCf];
    auto& list = ctx.measurements->measurements[kMeasurementCf];
    if (selected >= 0 && selected < static_cast<int>(list.size())) m = &*std::next(list.begin(), selected);
  }
  if (!m) {
    env.Error(kGetTitle, "No Cf measurement was selected\nCf measurement not defined; nothing returned");
    return -1;
  }
  const AdmittanceSettings& s = ctx.sim.admittanceSettings;
  AdmittanceResult r;
  if (Calculate_AS_measured(*m, s, ctx.cell.mottSchottky, r) != 0) {
    env.Error(kGetTitle, "The measured C-f curve could not be analysed: " + r.message + "\nnothing returned");
    return -1;
  }
  if (StartsWithNoCase(sub, "peak")) {
    double fPeak = 0.0, EPeak = 0.0;
    if (AdmittancePeak(r, fPeak, EPeak) < 0) {
      env.Error(kGetTitle, "The measured C-f curve has no peak of -w*dC/dw inside it\nnothing returned");
      return -1;
    }
    return PostProcesValue(EPeak, target, ctx.script.theScript, line, env) ? 0 : -1;
  }
  const std::string xName = std::string("meas. ") + ASAbscissaTitle(s.abscissa);
  const std::string yName = std::string("meas. ") + ASOrdinateTitle(s.ordinate);
  return PostProcesCurve(r.x.data(), r.y.data(), r.x.size(), xName, yName, target, ctx.script.theScript, line, env)
             ? 0
             : -1;
}

}  // namespace

int ProcessLoadMeasurement(ScriptContext& ctx, std::string_view argument, std::string_view fileNameText,
                           std::string_view line) {
  const Environment env = ctx.env();
  const std::string fileName = Trim(fileNameText);
  const int kind = LoadKind(argument);
  if (kind < 0 || ctx.measurements == nullptr) {
    env.Error(kLoadTitle,
              "Script command: load " + std::string(argument) + " " + fileName + "\nCommand not recognised");
    return -1;
  }
  std::string lookedIn;
  const std::string path = ResolveInputFile(ctx.core.programFolder, fileName, FK_MEASURED, &lookedIn);
  ReadResult<MeasurementItem> read = ConstructMeasurementListItem(path, kind);
  for (const MeasurementNotice& n : read.notices) env.Error(n.title, n.message);
  if (!read.ok()) {
    env.Error(kLoadTitle, "Script command: " + std::string(line) + "\n" + read.error +
                              (fileName.empty() || read.error.find("cannot be opened") != std::string::npos
                                   ? "; looked in " + lookedIn
                                   : ""));
    return -1;
  }
  InsertMeasurementInStack(*ctx.measurements, std::move(*read.value));
  return 0;
}

int ProcessGetMeasurement(ScriptContext& ctx, std::string_view which, std::string_view sub, std::string_view target,
                          std::string_view line) {
  const Environment env = ctx.env();
  if (StartsWithNoCase(which, "admittance")) return GetMeasuredAdmittance(ctx, sub, target, line);
  struct Curve {
    const char* key;    // second part of the source
    const char* label;  // of the kind, in the message
    const char* name;   // of the curve, in the message
    int kind;
  };
  static constexpr Curve kCurves[] = {{"iv", "IV", "iv", kMeasurementIV}, {"cv", "CV", "cv", kMeasurementCV},
                                      {"gv", "CV", "gv", kMeasurementCV}, {"cf", "Cf", "Cf", kMeasurementCf},
                                      {"gf", "Cf", "gf", kMeasurementCf}, {"qe", "QE", "qe", kMeasurementQE}};
  const Curve* curve = nullptr;
  for (const Curve& c : kCurves)
    if (StartsWithNoCase(which, c.key)) {
      curve = &c;
      break;
    }
  if (!curve) {
    env.Error(kGetTitle, "The second part of the argument was not recognised: " + std::string(which));
    return -1;
  }
  const MeasurementItem* m = ctx.measurements ? SelectedMeasurement(*ctx.measurements, curve->kind) : nullptr;
  if (!m) {
    env.Error(kGetTitle, std::string("No ") + curve->label + " measurement was selected\n" + curve->name +
                             " measurement not defined; nothing returned");
    return -1;
  }
  const std::vector<double>* x = nullptr;
  const std::vector<double>* y = nullptr;
  const char* xName = "";
  const char* yName = "";
  switch (curve - kCurves) {
    case 0: {
      const auto& d = std::get<IVMeasurement>(m->data);
      x = &d.V, y = &d.J, xName = "meas. V (V)", yName = "meas. J (mA/cm2)";
      break;
    }
    case 1:
    case 2: {
      const auto& d = std::get<CVMeasurement>(m->data);
      x = &d.V, xName = "meas. V (V)";
      if (curve == &kCurves[1])
        y = &d.C, yName = "meas. C (nF/cm2)";
      else
        y = &d.G, yName = "meas. G (S/cm2)";
      break;
    }
    case 3:
    case 4: {
      const auto& d = std::get<CfMeasurement>(m->data);
      x = &d.f, xName = "meas. f (Hz)";
      if (curve == &kCurves[3])
        y = &d.C, yName = "meas. C (nF/cm2)";
      else
        y = &d.G, yName = "meas. G (S/cm2)";
      break;
    }
    default: {
      const auto& d = std::get<QEMeasurement>(m->data);
      x = &d.lambda, y = &d.QE, xName = "meas. lambda (nm)", yName = "meas. QE (%)";
      break;
    }
  }
  const std::size_t n = std::min(x->size(), y->size());
  return PostProcesCurve(x->data(), y->data(), n, xName, yName, target, ctx.script.theScript, line, env) ? 0 : -1;
}

}  // namespace zoniq
