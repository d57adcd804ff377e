#include "output/result_files.hpp"

#include <cerrno>
#include <cstring>
#include <optional>

#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "output/generation_profiles.hpp"

namespace zoniq {

namespace {

constexpr const char* kSaveErrorTitle = "Function Save or Show";

void Report(const OutputContext& ctx, std::string_view title, std::string_view message) {
  if (ctx.env && ctx.env->ui && ctx.env->errors) ctx.env->Error(title, message);
}

bool WriteAll(std::FILE* f, const std::string& text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

// One padding row of `fields` fields for a sweep point that was not calculated.
void PaddingRow(std::string& t, int fields, int mode) {
  if (mode != kListFillZeros && mode != kListFillWhite) return;
  const char* field = mode == kListFillZeros ? "0.0" : " ";
  for (int k = 0; k < fields; ++k) {
    if (k > 0) t += '\t';
    t += field;
  }
  t += '\n';
}

double At(const std::vector<double>& a, int i) {
  return i >= 0 && static_cast<std::size_t>(i) < a.size() ? a[static_cast<std::size_t>(i)] : 0.0;
}

void ParameterLine(std::string& t, const std::string& text, bool extrapolated) {
  t += text;
  if (extrapolated) t += "\textrapolated";
  t += '\n';
}

}  // namespace

int DeliverText(const std::string& text, const OutputTarget& target, const OutputContext& ctx,
                const std::string& folder, const char* pattern, const char* prompt) {
  switch (target.mode) {
    case kOutputShow: {
      std::FILE* f = target.file ? target.file : stdout;
      if (!WriteAll(f, text) || std::fflush(f) != 0) {
        Report(ctx, kSaveErrorTitle, "The results could not be shown: writing to the output failed.");
        return kWriteFailed;
      }
      return kWritten;
    }
    case kOutputSave: {
      if (!ctx.env || !ctx.env->ui) return kNothingWritten;
      const std::optional<std::string> chosen =
          ctx.env->ui->FileSelectPopup(JoinPath(ctx.env->programFolder, folder), pattern, prompt, true);
      if (!chosen || chosen->empty()) return kNothingWritten;
      const std::string path = NativePath(*chosen);
      FilePtr f = OpenFile(path, "wb");
      if (!f) {
        Report(ctx, kSaveErrorTitle,
               "The file '" + *chosen + "' cannot be opened for writing: " + std::strerror(errno) + ".");
        return kWriteFailed;
      }
      const bool written = WriteAll(f.get(), text);
      const bool closed = std::fclose(f.release()) == 0;
      if (!written || !closed) {
        Report(ctx, kSaveErrorTitle, "Writing the file '" + *chosen + "' failed; the file is incomplete.");
        return kWriteFailed;
      }
      return kWritten;
    }
    case kOutputOpenFile:
      if (!target.file) return kNothingWritten;
      if (!WriteAll(target.file, text)) {
        Report(ctx, kSaveErrorTitle, "Writing the results to the open file failed; the file is incomplete.");
        return kWriteFailed;
      }
      return kWritten;
    default:
      return kNothingWritten;
  }
}

std::string IVBlock(const SimulationRecord& rec, const OutputContext& ctx) {
  const IVResult& iv = rec.iv;
  std::string t;
  if (iv.present == 0) return t;
  WriteOutputHeader(t, rec, kResultIV, true, ctx.header);
  // A curve with recovered points carries a tenth column, the point status; readers of the nine
  // columns (or of the first five) read it unchanged.
  const bool status = iv.AnyRecovered();
  t += "    v(V)\tjtot(mA/cm2)\t   jbulk(mA/cm2)\tjifr(mA/cm2)\tjs_n(mA/cm2)\tjs_p(mA/cm2)\tj_SRH(mA/cm2)\t"
       "j_Radiative(mA/cm2)\tj_Auger(mA/cm2)";
  t += status ? "\tpoint status\n\n" : "\n\n";
  const int done = std::min(iv.pointsDone, iv.points);
  for (int i = 0; i < iv.points; ++i) {
    if (i >= done) {
      PaddingRow(t, status ? 10 : 9, ctx.actionListMode);
      continue;
    }
    t += ' ';
    t += fix(At(iv.v, i), 10, 6);
    t += "\t  " + sci(At(iv.j, i), 16, 8);
    t += "\t      " + sci(At(iv.jbulk, i), 16, 8);
    for (const std::vector<double>* a : {&iv.jifr, &iv.js_n, &iv.js_p, &iv.jSRH, &iv.jRadiative, &iv.jAuger})
      t += "\t  " + sci(At(*a, i), 16, 8);
    if (status) t += "\t" + std::to_string(static_cast<std::size_t>(i) < iv.state.size() ? iv.state[i] : 0);
    t += '\n';
  }
  if (status)
    t += "\npoint status: 0 converged, 1 recovered by the coupled Newton iteration, 2 reached by halving the bias "
         "step, 3 reached by continuation in light intensity\n";
  const CellParameters& p = rec.cell;
  if (p.vocValid || p.jscValid || p.ffValid || p.etaValid) {
    const bool fromFile = rec.wp.generationFromFile != 0;
    t += "\nsolar cell parameters deduced from calculated IV-curve:\n";
    if (p.vocValid) ParameterLine(t, "Voc =\t" + fix(p.Voc, 12, 6) + "\tVolt", p.vocExtrapolated != 0);
    if (p.jscValid) ParameterLine(t, "Jsc =\t" + fix(p.Jsc, 14, 8) + "\tmA/cm2", p.jscExtrapolated != 0);
    if (p.ffValid) ParameterLine(t, "FF =\t" + fix(p.FF, 10, 4) + "\t%", FFExtrapolated(p));
    if (p.etaValid) {
      const bool x = EtaExtrapolated(p, fromFile);
      ParameterLine(t, std::string(fromFile ? "collection efficiency =\t" : "eta =\t") + fix(p.eta, 10, 4) + "\t%", x);
      ParameterLine(t, "V_MPP =\t" + fix(p.Vmpp, 12, 6) + "\tVolt", x);
      ParameterLine(t, "J_MPP =\t" + fix(p.Jmpp, 14, 8) + "\tmA/cm2", x);
    }
  }
  t += "\n\n\n";
  return t;
}

int iv_naar_file(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& ctx) {
  if (records.empty()) {
    Report(ctx, kSaveErrorTitle, "No IV-calculation is made yet: nothing to save or to show !");
    return kNothingWritten;
  }
  if (target.mode == kOutputFill) return kNothingWritten;
  std::string text;
  for (const SimulationRecord& r : records) text += IVBlock(r, ctx);
  return DeliverText(text, target, ctx, kResultsFolder, "*.iv", "Select a file to save IV-data");
}

std::string BandDiagramFileText(const SimulationRecord& current, const CalculationVariables& cv,
                                const OutputContext& ctx) {
  std::string t;
  WriteOutputHeader(t, current, kResultBandDiagram, true, ctx.header);
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, current.wp.illuminatedFromRight != 0 ? +1 : -1, b);
  t += BandDiagramText(b);
  return t;
}

namespace {

// A record and a solved state to describe; otherwise the message of the writer.
bool HaveSolution(const SimulationRecord* current, const CalculationVariables& cv) {
  return current != nullptr && cv.par != nullptr && cv.mesh.N > 1;
}

}  // namespace

int eb_naar_file(const SimulationRecord* current, const CalculationVariables& cv, const OutputTarget& target,
                 const OutputContext& ctx, BandDiagramProfiles* profiles) {
  if (!HaveSolution(current, cv)) {
    Report(ctx, "Function Save or Show Energy Bands", "No calculation is made yet: nothing to save or to show !");
    return kNothingWritten;
  }
  if (target.mode == kOutputFill) {
    if (!profiles) return kNothingWritten;
    BandDiagramFromSolution(cv, current->wp.illuminatedFromRight != 0 ? +1 : -1, *profiles);
    return kWritten;
  }
  return DeliverText(BandDiagramFileText(*current, cv, ctx), target, ctx, kResultsFolder, "*.eb",
                     "Select a file to save EB-data");
}

std::string ft_naar_file(const CalculationVariables& cv) { return OccupationTable(cv); }

std::string GenerationFileText(const SimulationRecord& current, const CalculationVariables& cv, bool occupation,
                               const OutputContext& ctx) {
  std::string t;
  // The batch block stands in the header only.
  WriteOutputHeader(t, current, kResultGenerationRecombination, true, ctx.header);
  t += "Generation-recombination at actual bias voltage\t" + fix(cv.V, 10, 4) + "\tVolt\n";
  // Each legend line stands on its own line after an empty one.
  auto legend = [&t](std::string_view text) {
    t += "\n> ";
    t += text;
    t += '\n';
  };
  legend("Legend:");
  legend("=======");
  if (!occupation) {
    legend("Geh\tDirect band-to-band excitation of electron-hole pairs by light (this equals zero in dark)");
    t += '\n';
    legend(
        "All following properties are split up per layer, per defect in this layer and per charge state in "
        "this defect");
    legend(
        "(first index = layer, second index = mechanism, third index = defectlevel (0 is the most positively "
        "charged and hence the closest to the valence band))");
    legend("(IPV = Impurity Photovoltaic Effect)\n");
    legend("IPV Gn\tGros IPV electron effect: direct optical excitation from defect to conduction band");
    legend("net Gn\tnet electron generation: IPV Gn + thermal generation - thermal recombination");
    legend("Gnth\tthermal electron generation (thermal emission of electron from defect to conduction band)");
    legend("Rnth\thermal electron recombination (capture by defect of conduction band electron)");
    legend("IPV Gp\tGros IPV hole effect: direct optical excitation from defect to valence band");
    legend("net Gp\tnet hole generation: IPV Gp + thermal generation - thermal recombination");
    legend("Gpth\tthermal hole generation (thermal emission of hole from defect to valence band)");
    legend("Rpth\thermal hole recombination (capture by defect of valence band hole)");
    t += "\n\n";
    t += GenerationRecombinationTable(cv);
  } else {
    t += '\n';
    legend(
        "All following properties are split up per layer and per defect in this layer, per charge state in "
        "this defect and per energy if there is an energydistribution");
    legend(
        "(first index = layer, second index = mechanism, third index = defectlevel (0 is the most positively "
        "charged and hence the closest to the valence band)), fourth index = energy sub-level");
    legend("The charge state of the energylevel is given as well\n\n\n");
    t += ft_naar_file(cv);
  }
  return t;
}

int gen_naar_file(const SimulationRecord* current, const CalculationVariables& cv, bool occupation,
                  const OutputTarget& target, const OutputContext& ctx) {
  if (!HaveSolution(current, cv)) {
    if (ctx.env && ctx.env->ui)
      ctx.env->Popup("Function Save or Show Genreration/Recombination",
                     "No calculation is made yet: nothing to save or to show !");
    return kNothingWritten;
  }
  if (target.mode == kOutputFill) return kNothingWritten;
  return DeliverText(GenerationFileText(*current, cv, occupation, ctx), target, ctx,
                     occupation ? kOccupationFolder : kGenerationFolder, occupation ? "*.occ" : "*.gen",
                     "Select a file to save the generation/recombination profiles");
}

}  // namespace zoniq
